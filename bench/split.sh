#!/usr/bin/env bash
# Split throughput: "parcelwick-cli split FILE --parts 3" (parts plus their CRCs) against
# coreutils "split -n 3 FILE" (parts only) on the same cached file, in the same run.
# With CODED=1 instead: the version-1 split into 10 parts (the yardstick) against the same
# split with --sha256 and with --recovery 2, in turn in every run.
#
# usage: bench/split.sh [PARCELWICK-CLI]
#   PARCELWICK-CLI  the program (default: build/release/bin, else build/normal/bin)
#   RUNS=N          runs of each tool (default 5); the median counts
#   CODED=1         the coded splits against the version-1 split, as above
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
# The parts are removed between runs, so no run waits for an earlier run's writeback.
clean() { rm -rf "$work/out" "$work/coreutils"; mkdir -p "$work/out" "$work/coreutils"; }

timed() { /usr/bin/time -f "%U %S" -o "$work/time" "$@"; }  # CPU seconds into $work/time
run_cli() { timed "$cli" split "$file" --parts 3 --save-path "$work/out/" >/dev/null; }
run_coreutils() { (cd "$work/coreutils" && timed split -n 3 "$file"); }
run_v1() { timed "$cli" split "$file" --parts 10 --save-path "$work/out/" >/dev/null; }
run_sha256() { timed "$cli" split "$file" --parts 10 --sha256 --save-path "$work/out/" >/dev/null; }
run_recovery() { timed "$cli" split "$file" --parts 10 --recovery 2 --save-path "$work/out/" >/dev/null; }
if [[ ${CODED:-0} == 1 ]]; then tools=(v1 sha256 recovery); else tools=(cli coreutils); fi

declare -A ns=() cpu=()
for ((i = 0; i < runs; i++)); do
    for tool in $(rotated "$i" "${tools[@]}"); do
        clean
        start=$(now_ns)
        "run_$tool"
        elapsed=$(($(now_ns) - start))
        ns[$tool]+="$elapsed "
        cpu[$tool]+="$(awk '{print $1 + $2}' "$work/time") "
    done
done

report() {  # name, tool
    local name=$1 med
    med=$(printf '%s\n' ${ns[$2]} | median)
    awk -v n="$name" -v b="$bytes" -v m="$med" -v all="${ns[$2]}" -v c="${cpu[$2]}" 'BEGIN {
        split(all, t, " "); s = ""; lo = 1e30; hi = 0
        for (i = 1; i in t; i++) { s = s sprintf(" %.3f", t[i] / 1e9); if (t[i] < lo) lo = t[i]; if (t[i] > hi) hi = t[i] }
        split(c, u, " "); cs = ""
        for (i = 1; i in u; i++) cs = cs sprintf(" %.2f", u[i])
        printf "%-34s median %.3f s [%.3f-%.3f]  %.2f GB/s   (runs s:%s; CPU s:%s)\n", n, m / 1e9, lo / 1e9, hi / 1e9, b / m, s, cs }'
    eval "median_$2=$med"
}
if [[ ${CODED:-0} == 1 ]]; then
    echo "split of $size_mib MiB into 10 parts, $runs runs each:"
    report "split --parts 10 (version 1)" v1
    report "split --parts 10 --sha256" sha256
    report "split --parts 10 --recovery 2" recovery
    awk -v a="$median_sha256" -v b="$median_recovery" -v y="$median_v1" \
        'BEGIN {printf "ratio to version 1: --sha256 %.2f, --recovery 2 %.2f\n", a / y, b / y}'
    for opt in "" "--sha256" "--recovery 2"; do
        clean
        # shellcheck disable=SC2086
        rss=$(/usr/bin/time -f %M "$cli" split "$file" --parts 10 $opt --save-path "$work/out/" 2>&1 >/dev/null | tail -1)
        echo "peak RSS: split --parts 10 $opt ${rss} KiB"
    done
    exit 0
fi
echo "split of $size_mib MiB into 3 parts, $runs runs each:"
report "parcelwick-cli split" cli
report "split -n 3 (coreutils)" coreutils

clean
rss_cli=$(/usr/bin/time -f %M "$cli" split "$file" --parts 3 --save-path "$work/out/" 2>&1 >/dev/null | tail -1)
rss_core=$( (cd "$work/coreutils" && /usr/bin/time -f %M split -n 3 "$file") 2>&1 | tail -1)
echo "peak RSS: parcelwick-cli split ${rss_cli} KiB, split -n 3 ${rss_core} KiB"
