#!/usr/bin/env bash
# Gather benchmarks, all from nginx on loopback, in the same run, alternating:
#  1. a 1 GiB file in 3 parts: "parcelwick-cli gather --simultaneous 2" (CRCs and
#     rebuild included; its defaults otherwise, so each part in ranges over up to 4
#     connections, 4 per host) and the same with --connections-per-part 1 (one
#     connection per part), against "curl -Z --parallel-max 2" and "aria2c -j2" fetching
#     the same 3 parts to files (no CRC, no join): wall time, CPU seconds, peak memory;
#  2. the longest event-loop stall of the same gather, run through the engine with a
#     10 ms probe timer (bench_gather_stall);
#  3. the same bytes as a 1000-part manifest, gathered by parcelwick-cli, against case 1.
# Every gather starts with no part on disk. Prints the median of each figure with its
# spread (min-max).
#
# usage: bench/gather.sh [PARCELWICK-CLI]
#   PARCELWICK-CLI  the program (default: build/release/bin, else build/normal/bin);
#                   bench_gather_stall is taken from beside it
#   RUNS=N          runs of each contender (default 5)
#   SIZE_MIB=N      size of the file (default 1024)
#   SCRATCH=DIR     where the files go (default ${TMPDIR:-/tmp})
#   BASELINE=CLI    another parcelwick-cli (an earlier build) gathering the 3 parts with
#                   --simultaneous 2 in the same runs
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
source "$here/find_cli.sh"
source "$here/nginx_loopback.sh"
find_cli "$here" "${1:-}"
probe=$(dirname "$cli")/bench_gather_stall
runs=${RUNS:-5}
size_mib=${SIZE_MIB:-1024}
[[ -x /usr/bin/time ]] || { echo "/usr/bin/time is needed for the CPU and memory figures" >&2; exit 2; }
[[ -z ${BASELINE:-} || -x $BASELINE ]] || { echo "BASELINE=$BASELINE is no program" >&2; exit 2; }
[[ -x $probe ]] || { echo "no $probe: build the benchmarks (PW_BENCH=ON)" >&2; exit 2; }
for tool in curl aria2c; do
    command -v $tool >/dev/null || { echo "$tool is needed as a yardstick (scripts/setup installs it)" >&2; exit 2; }
done

work=$(mktemp -d "${SCRATCH:-${TMPDIR:-/tmp}}/pw-bench-gather.XXXXXX")
cleanup() {
    stop_nginx
    rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/www"

start_nginx "$work"
base=http://127.0.0.1:$port

echo "making a $size_mib MiB file of random bytes, its 3-part and 1000-part manifests, in $work"
head -c $((size_mib * 1024 * 1024)) /dev/urandom >"$work/big.bin"
"$cli" pwq "$work/big.bin" --site "$base/" --parts 3 --name big --save-path "$work/send3" -o "$work/www/big.pwq" >/dev/null
"$cli" pwq "$work/big.bin" --site "$base/" --parts 1000 --name many --save-path "$work/send1000" \
    -o "$work/www/many.pwq" >/dev/null
mv "$work"/send3/big.bin.uldir/* "$work"/send1000/big.bin.uldir/* "$work/www/"
cat "$work"/www/* >/dev/null  # into the page cache: nginx serves from memory
printf '%s\n' "$base/big1.bin" "$base/big2.bin" "$base/big3.bin" >"$work/parts.txt"

# One run of a contender: "wall_s cpu_s peak_kib"; its files go before the next run.
run() {
    local name=$1 out=$work/out-$1
    rm -rf "$out"
    mkdir -p "$out"
    sync
    local t0 t1
    t0=$(date +%s%N)
    case $name in
    pw3 | pw3one | pw1000 | base)
        local manifest=big.pwq options=() program=$cli; [[ $name == pw1000 ]] && manifest=many.pwq
        [[ $name == pw3one ]] && options=(--connections-per-part 1)
        [[ $name == base ]] && program=$BASELINE
        /usr/bin/time -f "- %U %S %M" -o "$work/time" "$program" gather "$base/$manifest" --simultaneous 2 \
            "${options[@]}" --save-path "$out" >"$work/log" 2>&1
        grep -q "successfully!" "$work/log" || { cat "$work/log" >&2; exit 1; }
        ;;
    curl)
        /usr/bin/time -f "- %U %S %M" -o "$work/time" curl -s --no-progress-meter -Z --parallel-max 2 \
            -o "$out/big1.bin" "$base/big1.bin" -o "$out/big2.bin" "$base/big2.bin" -o "$out/big3.bin" "$base/big3.bin" 2>/dev/null
        ;;
    aria2)
        /usr/bin/time -f "- %U %S %M" -o "$work/time" aria2c -q -j2 --allow-overwrite=true -d "$out" -i "$work/parts.txt"
        ;;
    esac
    t1=$(date +%s%N)
    awk -v ns=$((t1 - t0)) '{ printf "%.3f %.2f %s\n", ns / 1e9, $2 + $3, $4 }' "$work/time"
}


contenders=(pw3 curl pw3one aria2 pw1000)
[[ -n ${BASELINE:-} ]] && contenders+=(base)
declare -A wall cpu mem
for name in "${contenders[@]}"; do run "$name" >/dev/null; done  # warm-up, not counted
for ((i = 0; i < runs; i++)); do
    for name in $(rotated "$i" "${contenders[@]}"); do
        read -r w c m < <(run "$name")
        printf '  run %d %-7s %6.2f s  %5.2f s CPU  %7.1f MiB\n' "$i" "$name" "$w" "$c" "$(awk -v m="$m" 'BEGIN { print m / 1024 }')"
        wall[$name]+="$w "; cpu[$name]+="$c "; mem[$name]+="$(awk -v m="$m" 'BEGIN { printf "%.1f", m / 1024 }') "
    done
done
cmp -s "$work/big.bin" "$work/out-pw3/big.bin.dir/big.bin" || { echo "3-part gather differs from the source" >&2; exit 1; }
cmp -s "$work/big.bin" "$work/out-pw1000/big.bin.dir/big.bin" || { echo "1000-part gather differs from the source" >&2; exit 1; }

figure() { printf '%s\n' ${1} | median; }
range() { printf '%s\n' ${1} | spread; }
echo
echo "1. $size_mib MiB in 3 parts from nginx on loopback, median of $runs runs (spread):"
for name in pw3 pw3one ${BASELINE:+base} curl aria2; do
    label=$name
    case $name in
    pw3) label="parcelwick-cli gather" ;; pw3one) label="... --connections-per-part 1" ;; base) label="BASELINE gather" ;;
    curl) label="curl -Z --parallel-max 2" ;; aria2) label="aria2c -j2" ;;
    esac
    printf '  %-30s wall %6.2f s (%s)  CPU %5.2f s (%s)  peak %6.1f MiB (%s)\n' "$label" \
        "$(figure "${wall[$name]}")" "$(range "${wall[$name]}")" "$(figure "${cpu[$name]}")" "$(range "${cpu[$name]}")" \
        "$(figure "${mem[$name]}")" "$(range "${mem[$name]}")"
done
awk -v p="$(figure "${wall[pw3]}")" -v o="$(figure "${wall[pw3one]}")" -v c="$(figure "${wall[curl]}")" \
    -v a="$(figure "${wall[aria2]}")" 'BEGIN {
    printf "  wall time: %.2fx curl, %.2fx aria2c; one connection per part %.2fx curl\n", p / c, p / a, o / c }'
[[ -n ${BASELINE:-} ]] && awk -v p="$(figure "${wall[pw3]}")" -v b="$(figure "${wall[base]}")" -v c="$(figure "${wall[curl]}")" \
    'BEGIN { printf "  BASELINE %.2fx curl; this build %.2fx BASELINE\n", b / c, p / b }'

echo
echo "2. longest event-loop stall of the same gather through the engine (10 ms probe):"
stalls=
for ((i = 0; i < runs; i++)); do
    rm -rf "$work/out-probe"
    sync
    line=$("$probe" "$base/big.pwq" "$work/out-probe")
    echo "  run $i: $line"
    stalls+="$(sed -E 's/.*stall ([0-9]+) ms.*/\1/' <<<"$line") "
done
printf '  longest stall: median %s ms (%s)\n' "$(figure "$stalls")" "$(range "$stalls")"

echo
echo "3. the same $size_mib MiB as 1000 parts, parcelwick-cli gather, median of $runs runs (spread):"
printf '  wall %6.2f s (%s)  CPU %5.2f s (%s)  peak %6.1f MiB (%s)\n' "$(figure "${wall[pw1000]}")" \
    "$(range "${wall[pw1000]}")" "$(figure "${cpu[pw1000]}")" "$(range "${cpu[pw1000]}")" "$(figure "${mem[pw1000]}")" \
    "$(range "${mem[pw1000]}")"
awk -v m="$(figure "${wall[pw1000]}")" -v t="$(figure "${wall[pw3]}")" 'BEGIN { printf "  %.2fx the 3-part gather\n", m / t }'
