#!/usr/bin/env bash
# Split throughput: "parcelwick-cli split FILE --parts 3" (parts plus their CRCs) against
# coreutils "split -n 3 FILE" (parts only) on the same cached file, in the same run.
#
# usage: bench/split.sh [PARCELWICK-CLI]
#   PARCELWICK-CLI  the program (default: build/release/bin, else build/normal/bin)
#   RUNS=N          runs of each tool (default 5); the median counts
#   SIZE_MIB=N      size of the test file (default 1024)
#   SCRATCH=DIR     where the file and the parts go (default ${TMPDIR:-/tmp})
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
source "$here/find_cli.sh"
find_cli "$here" "${1:-}"
runs=${RUNS:-5}
size_mib=${SIZE_MIB:-1024}
[[ -x /usr/bin/time ]] || { echo "/usr/bin/time is needed for the memory figures" >&2; exit 2; }

work=$(mktemp -d "${SCRATCH:-${TMPDIR:-/tmp}}/pw-bench-split.XXXXXX")
trap 'rm -rf "$work"' EXIT
file=$work/source.bin
bytes=$((size_mib * 1024 * 1024))

echo "making a $size_mib MiB file of random bytes in $work"
head -c "$bytes" /dev/urandom >"$file"
cat "$file" >/dev/null  # into the page cache: both tools read it from memory

now_ns() { date +%s%N; }
median() { sort -n | awk '{v[NR]=$1} END {print (NR % 2) ? v[(NR+1)/2] : (v[NR/2] + v[NR/2+1]) / 2}'; }
# The parts are removed between runs, so no run waits for an earlier run's writeback.
clean() { rm -rf "$work/out" "$work/coreutils"; mkdir -p "$work/out" "$work/coreutils"; }

run_cli() { "$cli" split "$file" --parts 3 --save-path "$work/out/" >/dev/null; }
run_coreutils() { (cd "$work/coreutils" && split -n 3 "$file"); }

declare -a cli_ns=() core_ns=()
for ((i = 0; i < runs; i++)); do
    # Alternate the order, so neither tool always runs on a machine warmed by the other.
    for tool in cli coreutils; do
        [[ $((i % 2)) -eq 1 ]] && tool=$([[ $tool == cli ]] && echo coreutils || echo cli)
        clean
        start=$(now_ns)
        "run_$tool"
        elapsed=$(($(now_ns) - start))
        if [[ $tool == cli ]]; then cli_ns+=("$elapsed"); else core_ns+=("$elapsed"); fi
    done
done

report() {  # name, then the run times in ns
    local name=$1
    shift
    local med
    med=$(printf '%s\n' "$@" | median)
    awk -v n="$name" -v b="$bytes" -v m="$med" -v all="$*" 'BEGIN {
        split(all, t, " "); s = ""
        for (i = 1; i in t; i++) s = s sprintf(" %.2f", b / t[i])
        printf "%-26s median %.3f s  %.2f GB/s   (runs GB/s:%s)\n", n, m / 1e9, b / m, s }'
}
echo "split of $size_mib MiB into 3 parts, $runs runs each:"
report "parcelwick-cli split" "${cli_ns[@]}"
report "split -n 3 (coreutils)" "${core_ns[@]}"

clean
rss_cli=$(/usr/bin/time -f %M "$cli" split "$file" --parts 3 --save-path "$work/out/" 2>&1 >/dev/null | tail -1)
rss_core=$( (cd "$work/coreutils" && /usr/bin/time -f %M split -n 3 "$file") 2>&1 | tail -1)
echo "peak RSS: parcelwick-cli split ${rss_cli} KiB, split -n 3 ${rss_core} KiB"
