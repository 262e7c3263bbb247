#!/usr/bin/env bash
# Download throughput: "parcelwick-cli get URL -o /dev/null" against "curl -s -o /dev/null
# URL" on the same 1 GiB file served by nginx on loopback, in the same run: median
# throughput and median CPU seconds (user + sys) of each, and their ratios.
#
# usage: bench/get.sh [PARCELWICK-CLI]
#   PARCELWICK-CLI  the program (default: build/release/bin, else build/normal/bin)
#   RUNS=N          runs of each tool (default 7); the median counts
#   SIZE_MIB=N      size of the served file (default 1024)
#   SCRATCH=DIR     where the file and nginx's files go (default ${TMPDIR:-/tmp})
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
source "$here/find_cli.sh"
source "$here/nginx_loopback.sh"
find_cli "$here" "${1:-}"
runs=${RUNS:-7}
size_mib=${SIZE_MIB:-1024}
[[ -x /usr/bin/time ]] || { echo "/usr/bin/time is needed for the CPU figures" >&2; exit 2; }
command -v curl >/dev/null || { echo "curl is needed as the yardstick" >&2; exit 2; }

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

start_nginx "$work"
url=http://127.0.0.1:$port/big.bin

now_ns() { date +%s%N; }
median() { sort -g | awk '{v[NR]=$1} END {print (NR % 2) ? v[(NR+1)/2] : (v[NR/2] + v[NR/2+1]) / 2}'; }

run_tool() {  # tool -> "wall_ns cpu_s"
    local t0 t1
    t0=$(now_ns)
    if [[ $1 == cli ]]; then
        /usr/bin/time -f "%U %S" -o "$work/cpu" "$cli" get "$url" -o /dev/null 2>/dev/null
    else
        /usr/bin/time -f "%U %S" -o "$work/cpu" curl -s -o /dev/null "$url"
    fi
    t1=$(now_ns)
    echo "$((t1 - t0)) $(awk '{print $1 + $2}' "$work/cpu")"
}

declare -a cli_gbs=() cli_cpu=() curl_gbs=() curl_cpu=()
run_tool cli >/dev/null; run_tool curl >/dev/null  # warm-up, not counted
for ((i = 0; i < runs; i++)); do
    # Alternate the order, so neither tool always runs on a machine warmed by the other.
    order="cli curl"; [[ $((i % 2)) -eq 1 ]] && order="curl cli"
    for tool in $order; do
        read -r ns cpu < <(run_tool "$tool")
        gbs=$(awk -v b="$bytes" -v ns="$ns" 'BEGIN {printf "%.3f", b / ns}')
        printf '  run %d %-4s %6s GB/s  %5.2f s CPU\n' "$i" "$tool" "$gbs" "$cpu"
        if [[ $tool == cli ]]; then cli_gbs+=("$gbs"); cli_cpu+=("$cpu"); else curl_gbs+=("$gbs"); curl_cpu+=("$cpu"); fi
    done
done

m_cli_gbs=$(printf '%s\n' "${cli_gbs[@]}" | median)
m_cli_cpu=$(printf '%s\n' "${cli_cpu[@]}" | median)
m_curl_gbs=$(printf '%s\n' "${curl_gbs[@]}" | median)
m_curl_cpu=$(printf '%s\n' "${curl_cpu[@]}" | median)
gib=$(awk -v b="$bytes" 'BEGIN {print b / 1073741824}')
echo
echo "median of $runs runs, $size_mib MiB over loopback from nginx:"
awk -v a="$m_cli_gbs" -v b="$m_curl_gbs" -v ca="$m_cli_cpu" -v cb="$m_curl_cpu" -v g="$gib" 'BEGIN {
    printf "  parcelwick-cli get  %6.3f GB/s  %5.3f s CPU per GiB\n", a, ca / g
    printf "  curl                %6.3f GB/s  %5.3f s CPU per GiB\n", b, cb / g
    printf "  throughput ratio (parcelwick / curl): %.2f   CPU ratio (parcelwick / curl): %.2f\n", a / b, (cb > 0 ? ca / cb : 0)
}'
