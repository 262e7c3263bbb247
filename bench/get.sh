#!/usr/bin/env bash
# Download throughput: "parcelwick-cli get URL -o /dev/null" against "curl -s -o /dev/null
# URL" on the same 1 GiB file served by nginx on loopback, in the same run: median
# throughput and median CPU seconds (user + sys) of each, and their ratios. With TLS=1
# the same over HTTPS (TLS 1.3, TLS_AES_256_GCM_SHA384 for every client, the server's
# certificate verified by every client through --cacert). With IPV6=1 over IPv6 loopback.
#
# usage: bench/get.sh [PARCELWICK-CLI]
#   PARCELWICK-CLI  the program (default: build/release/bin, else build/normal/bin)
#   RUNS=N          runs of each tool (default 7); the median counts
#   SIZE_MIB=N      size of the served file (default 1024)
#   SCRATCH=DIR     where the file and nginx's files go (default ${TMPDIR:-/tmp})
#   BASELINE=CLI    another parcelwick-cli (an earlier build) measured in the same run,
#                   to see what a change costs on a machine whose load varies
#   TLS=1           over HTTPS
#   IPV6=1          nginx on [::1], fetched as http://[::1]:PORT/ (curl with -g)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
source "$here/find_cli.sh"
source "$here/nginx_loopback.sh"
find_cli "$here" "${1:-}"
runs=${RUNS:-7}
size_mib=${SIZE_MIB:-1024}
[[ -x /usr/bin/time ]] || { echo "/usr/bin/time is needed for the CPU figures" >&2; exit 2; }
command -v curl >/dev/null || { echo "curl is needed as the yardstick" >&2; exit 2; }
[[ -z ${BASELINE:-} || -x $BASELINE ]] || { echo "BASELINE=$BASELINE is no program" >&2; exit 2; }

work=$(mktemp -d "${SCRATCH:-${TMPDIR:-/tmp}}/pw-bench-get.XXXXXX")
cleanup() {
    stop_nginx
    rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/www"
bytes=$((size_mib * 1024 * 1024))
echo "making a $size_mib MiB file of random bytes in $work"
head -c "$bytes" /dev/urandom >"$work/www/big.bin"
cat "$work/www/big.bin" >/dev/null  # into the page cache: nginx serves it from memory

tls_args=()
if [[ ${TLS:-0} == 1 ]]; then
    openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout "$work/key.pem" \
        -out "$work/cert.pem" -subj /CN=localhost -addext subjectAltName=DNS:localhost -days 2 2>/dev/null
    start_nginx "$work" "$work/cert.pem" "$work/key.pem"
    url=https://localhost:$tls_port/big.bin
    tls_args=(--cacert "$work/cert.pem")
    curl_tls_args=("${tls_args[@]}" --tls13-ciphers TLS_AES_256_GCM_SHA384)
else
    NGINX_IPV6=${IPV6:-0} start_nginx "$work"
    url=http://$url_host:$port/big.bin
    curl_tls_args=(-g)
fi

now_ns() { date +%s%N; }

run_tool() {  # tool -> "wall_ns cpu_s"
    local t0 t1
    t0=$(now_ns)
    case $1 in
    cli) /usr/bin/time -f "%U %S" -o "$work/cpu" "$cli" get "$url" -o /dev/null "${tls_args[@]}" 2>/dev/null ;;
    base) /usr/bin/time -f "%U %S" -o "$work/cpu" "$BASELINE" get "$url" -o /dev/null "${tls_args[@]}" 2>/dev/null ;;
    *) /usr/bin/time -f "%U %S" -o "$work/cpu" curl -s -o /dev/null "${curl_tls_args[@]}" "$url" ;;
    esac
    t1=$(now_ns)
    echo "$((t1 - t0)) $(awk '{print $1 + $2}' "$work/cpu")"
}

tools=(cli curl)
[[ -n ${BASELINE:-} ]] && tools+=(base)
declare -A gbs_of=() cpu_of=()
for tool in "${tools[@]}"; do run_tool "$tool" >/dev/null; done  # warm-up, not counted
for ((i = 0; i < runs; i++)); do
    for tool in $(rotated "$i" "${tools[@]}"); do
        read -r ns cpu < <(run_tool "$tool")
        gbs=$(awk -v b="$bytes" -v ns="$ns" 'BEGIN {printf "%.3f", b / ns}')
        printf '  run %d %-4s %6s GB/s  %5.2f s CPU\n' "$i" "$tool" "$gbs" "$cpu"
        gbs_of[$tool]+="$gbs "
        cpu_of[$tool]+="$cpu "
    done
done

gib=$(awk -v b="$bytes" 'BEGIN {print b / 1073741824}')
spread() { tr ' ' '\n' | grep . | sort -g | awk 'NR == 1 {lo = $1} {hi = $1} END {printf "%s-%s", lo, hi}'; }
declare -A m_gbs=() m_cpu=()
echo
echo "median of $runs runs, $size_mib MiB over loopback from nginx ($url; range of the runs in brackets):"
for tool in "${tools[@]}"; do
    m_gbs[$tool]=$(tr ' ' '\n' <<<"${gbs_of[$tool]}" | grep . | median)
    m_cpu[$tool]=$(tr ' ' '\n' <<<"${cpu_of[$tool]}" | grep . | median)
    case $tool in cli) name="parcelwick-cli get" ;; base) name="baseline get" ;; *) name="curl" ;; esac
    awk -v n="$name" -v a="${m_gbs[$tool]}" -v c="${m_cpu[$tool]}" -v g="$gib" -v r1="$(spread <<<"${gbs_of[$tool]}")" \
        -v r2="$(spread <<<"${cpu_of[$tool]}")" \
        'BEGIN {printf "  %-19s %6.3f GB/s [%s]  %5.3f s CPU per GiB [%s s per run]\n", n, a, r1, c / g, r2}'
done
awk -v a="${m_gbs[cli]}" -v b="${m_gbs[curl]}" -v ca="${m_cpu[cli]}" -v cb="${m_cpu[curl]}" 'BEGIN {
    printf "  throughput ratio (parcelwick / curl): %.2f   CPU ratio (parcelwick / curl): %.2f\n", a / b, (cb > 0 ? ca / cb : 0)
}'
if [[ -n ${BASELINE:-} ]]; then
    awk -v a="${m_gbs[cli]}" -v b="${m_gbs[base]}" -v ca="${m_cpu[cli]}" -v cb="${m_cpu[base]}" 'BEGIN {
        printf "  throughput ratio (parcelwick / baseline): %.2f   CPU ratio (parcelwick / baseline): %.2f\n", a / b, (cb > 0 ? ca / cb : 0)
    }'
fi
