#!/usr/bin/env bash
# Rebuild of a 1 GiB file from 3 cached parts (whole-file CRC included) by
# `parcelwick-cli rebuild`, against `cat` of the same parts into a file, in the same run.
# Prints the median of several runs of each and the rebuild's peak memory.
#
# usage: bench/rebuild.sh [BUILD_DIR] [RUNS]     (default: build/release, 5)
set -euo pipefail

build=${1:-build/release}
runs=${2:-5}
cli=$(realpath "$build")/bin/parcelwick-cli
[ -x "$cli" ] || { echo "no $cli: build parcelwick-cli first" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/pw-rebuild-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
size=$((1024 * 1024 * 1024))

head -c "$size" /dev/urandom > "$work/big.bin"
"$cli" pwq "$work/big.bin" --site http://bench.example/ --parts 3 --name big --save-path "$work/send" \
    -o "$work/big.pwq" > /dev/null
rm "$work/big.bin"
parts="$work/recv/big.bin.dir/parts"
mkdir -p "$parts"
mv "$work/send/big.bin.uldir/"* "$parts/"
# Both contenders read the parts from the page cache.
cat "$parts"/big1.bin "$parts"/big2.bin "$parts"/big3.bin > /dev/null

now() { date +%s%N; }
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

cat_times=() rebuild_times=()
# Each run writes a new file, and starts with no dirty pages of an earlier one, so
# neither contender pays for the other's write-back or for truncating a file.
for ((i = 0; i < runs; i++)); do
    rm -f "$work/cat.out" "$work/recv/big.bin.dir/big.bin"
    sync
    t0=$(now)
    cat "$parts"/big1.bin "$parts"/big2.bin "$parts"/big3.bin > "$work/cat.out"
    t1=$(now)
    sync
    t2=$(now)
    "$cli" rebuild "$work/big.pwq" --save-path "$work/recv" > "$work/rebuild.log"
    t3=$(now)
    grep -q "successfully!" "$work/rebuild.log" || { cat "$work/rebuild.log" >&2; exit 1; }
    cat_times+=($((t1 - t0))) rebuild_times+=($((t3 - t2)))
done
cmp -s "$work/cat.out" "$work/recv/big.bin.dir/big.bin" || { echo "rebuilt file differs from cat" >&2; exit 1; }

cat_ns=$(printf '%s\n' "${cat_times[@]}" | median)
rebuild_ns=$(printf '%s\n' "${rebuild_times[@]}" | median)
peak_kb=$(/usr/bin/time -v "$cli" rebuild "$work/big.pwq" --save-path "$work/recv" 2>&1 >/dev/null |
    awk -F': ' '/Maximum resident set size/ { print $2 }')

awk -v s="$size" -v c="$cat_ns" -v r="$rebuild_ns" -v m="$peak_kb" -v n="$runs" 'BEGIN {
    printf "1 GiB from 3 parts, median of %d runs\n", n
    printf "cat                    %7.3f s  %6.2f GB/s\n", c / 1e9, s / c
    printf "parcelwick-cli rebuild %7.3f s  %6.2f GB/s  (%.2fx cat)\n", r / 1e9, s / r, r / c
    printf "rebuild peak memory    %7.1f MiB\n", m / 1024
}'
