#!/usr/bin/env bash
# TLS receive throughput of our socket: build/*/bin/tls_receive against curl, both
# reading the same file from the same `openssl s_server -WWW` on loopback (TLS 1.3,
# TLS_AES_256_GCM_SHA384 for both), alternating, in the same run: median throughput
# and median CPU seconds (user + sys) per GiB of each, and their ratios.
#
# usage: bench/tls_receive.sh [TLS_RECEIVE]
#   TLS_RECEIVE  the driver (default: build/release/bin, else build/normal/bin)
#   RUNS=N       runs of each tool (default 7); the median counts
#   SIZE_MIB=N   size of the served file (default 1024)
#   SCRATCH=DIR  where the file and the certificate go (default ${TMPDIR:-/tmp})
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
driver=${1:-}
if [[ -z $driver ]]; then
    for candidate in "$here/../build/release/bin/tls_receive" "$here/../build/normal/bin/tls_receive"; do
        [[ -x $candidate ]] && { driver=$candidate; break; }
    done
fi
[[ -n $driver && -x $driver ]] || { echo "no tls_receive found: build the tls_receive target" >&2; exit 2; }
runs=${RUNS:-7}
size_mib=${SIZE_MIB:-1024}
[[ -x /usr/bin/time ]] || { echo "/usr/bin/time is needed for the CPU figures" >&2; exit 2; }
command -v curl >/dev/null || { echo "curl is needed as the yardstick" >&2; exit 2; }

work=$(mktemp -d "${SCRATCH:-${TMPDIR:-/tmp}}/pw-bench-tls.XXXXXX")
server_pid=
cleanup() {
    [[ -n $server_pid ]] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
cd "$work"
bytes=$((size_mib * 1024 * 1024))
echo "making a $size_mib MiB file of random bytes and a certificate for localhost in $work"
head -c "$bytes" /dev/urandom >big.bin
cat big.bin >/dev/null # into the page cache
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout key.pem -out cert.pem \
    -subj /CN=localhost -addext subjectAltName=DNS:localhost -days 2 2>/dev/null

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
openssl s_server -quiet -WWW -accept "127.0.0.1:$port" -cert cert.pem -key key.pem \
    -ciphersuites TLS_AES_256_GCM_SHA384 >server.log 2>&1 &
server_pid=$!
url=https://localhost:$port/big.bin
for ((i = 0; i < 100; i++)); do
    curl -s --cacert cert.pem -o /dev/null "https://localhost:$port/cert.pem" && break
    sleep 0.1
done

now_ns() { date +%s%N; }
median() { sort -g | awk '{v[NR]=$1} END {print (NR % 2) ? v[(NR+1)/2] : (v[NR/2] + v[NR/2+1]) / 2}'; }

run_tool() { # tool -> "wall_ns cpu_s"
    local t0 t1
    t0=$(now_ns)
    if [[ $1 == ours ]]; then
        /usr/bin/time -f "%U %S" -o cpu "$driver" localhost "$port" /big.bin cert.pem >out
        grep -q "^$((bytes + 45)) bytes" out || { echo "tls_receive: $(cat out)" >&2; exit 1; }
    else
        /usr/bin/time -f "%U %S" -o cpu curl -s --cacert cert.pem --tls13-ciphers TLS_AES_256_GCM_SHA384 \
            -o /dev/null "$url"
    fi
    t1=$(now_ns)
    echo "$((t1 - t0)) $(awk '{print $1 + $2}' cpu)"
}

declare -a our_gbs=() our_cpu=() curl_gbs=() curl_cpu=()
run_tool ours >/dev/null; run_tool curl >/dev/null # warm-up, not counted
for ((i = 0; i < runs; i++)); do
    order="ours curl"; [[ $((i % 2)) -eq 1 ]] && order="curl ours"
    for tool in $order; do
        read -r ns cpu < <(run_tool "$tool")
        gbs=$(awk -v b="$bytes" -v ns="$ns" 'BEGIN {printf "%.3f", b / ns}')
        printf '  run %d %-4s %6s GB/s  %5.2f s CPU\n' "$i" "$tool" "$gbs" "$cpu"
        if [[ $tool == ours ]]; then our_gbs+=("$gbs"); our_cpu+=("$cpu"); else curl_gbs+=("$gbs"); curl_cpu+=("$cpu"); fi
    done
done

spread() { sort -g | awk 'NR == 1 {lo = $1} {hi = $1} END {printf "%s-%s", lo, hi}'; }
m_our_gbs=$(printf '%s\n' "${our_gbs[@]}" | median)
m_our_cpu=$(printf '%s\n' "${our_cpu[@]}" | median)
m_curl_gbs=$(printf '%s\n' "${curl_gbs[@]}" | median)
m_curl_cpu=$(printf '%s\n' "${curl_cpu[@]}" | median)
gib=$(awk -v b="$bytes" 'BEGIN {print b / 1073741824}')
echo
echo "median of $runs runs, $size_mib MiB over TLS on loopback from openssl s_server:"
awk -v a="$m_our_gbs" -v b="$m_curl_gbs" -v ca="$m_our_cpu" -v cb="$m_curl_cpu" -v g="$gib" \
    -v sa="$(printf '%s\n' "${our_gbs[@]}" | spread)" -v sb="$(printf '%s\n' "${curl_gbs[@]}" | spread)" 'BEGIN {
    printf "  our socket  %6.3f GB/s (runs %s)  %5.3f s CPU per GiB\n", a, sa, ca / g
    printf "  curl        %6.3f GB/s (runs %s)  %5.3f s CPU per GiB\n", b, sb, cb / g
    printf "  throughput ratio (ours / curl): %.2f   CPU ratio (ours / curl): %.2f\n", a / b, (cb > 0 ? ca / cb : 0)
}'
