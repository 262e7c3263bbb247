#!/usr/bin/env bash
# Gathers of version-2 manifests, all from nginx on loopback, in the same run, alternating:
#  v1    a 1 GiB file in 10 parts, version 1 (CRC-32 only): the yardstick of the SHA-256
#  sha   the same file in 10 parts with --sha256 (every part and the file hashed too)
#  full  the same file in 10 + 2 parts (--recovery 2), every part on the server
#  lost  the same parts with data parts 3 and 7 deleted: each fails three attempts (404),
#        a recovery part is fetched for it, and both are rebuilt from 8 data and 2
#        recovery parts before the join
# Each is "parcelwick-cli gather --simultaneous 2" of the manifest URL, from no part on
# disk to "Extracted ... successfully!": wall time, CPU seconds, peak memory. Then the
# longest event-loop stall of the sha and lost gathers through the engine with a 10 ms
# probe timer (bench_gather_stall). Prints the median of each figure with its spread.
#
# usage: bench/recovery_gather.sh [PARCELWICK-CLI]
#   PARCELWICK-CLI  the program (default: build/release/bin, else build/normal/bin);
#                   bench_gather_stall is taken from beside it
#   RUNS=N          runs of each contender (default 5)
#   SIZE_MIB=N      size of the file (default 1024)
#   SCRATCH=DIR     where the files go (default ${TMPDIR:-/tmp})
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
source "$here/find_cli.sh"
source "$here/nginx_loopback.sh"
find_cli "$here" "${1:-}"
probe=$(dirname "$cli")/bench_gather_stall
runs=${RUNS:-5}
size_mib=${SIZE_MIB:-1024}
[[ -x /usr/bin/time ]] || { echo "/usr/bin/time is needed for the CPU and memory figures" >&2; exit 2; }
[[ -x $probe ]] || { echo "no $probe: build the benchmarks (PW_BENCH=ON)" >&2; exit 2; }

work=$(mktemp -d "${SCRATCH:-${TMPDIR:-/tmp}}/pw-bench-recovery.XXXXXX")
cleanup() {
    stop_nginx
    rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/www/v1" "$work/www/sha" "$work/www/full" "$work/www/lost"

start_nginx "$work"
base=http://127.0.0.1:$port

echo "making a $size_mib MiB file of random bytes and its manifests in $work"
head -c $((size_mib * 1024 * 1024)) /dev/urandom >"$work/big.bin"
make() {  # name, then pwq options
    local name=$1
    shift
    "$cli" pwq "$work/big.bin" --site "$base/$name/" --parts 10 --name p --save-path "$work/send-$name" \
        -o "$work/www/$name/big.pwq" "$@" >/dev/null
    mv "$work/send-$name"/big.bin.uldir/* "$work/www/$name/"
}
make v1
make sha --sha256
make full --recovery 2
# The same parts, two of them gone: hard links, so the page cache holds them once.
ln "$work"/www/full/p*.bin "$work/www/lost/"
rm "$work/www/lost/p3.bin" "$work/www/lost/p7.bin"
sed "s#$base/full/#$base/lost/#" "$work/www/full/big.pwq" >"$work/www/lost/big.pwq"
cat "$work"/www/*/* >/dev/null  # into the page cache: nginx serves from memory

# One run of a contender: "wall_s cpu_s peak_kib"; its files go before the next run.
run() {
    local name=$1 out=$work/out-$1
    rm -rf "$out"
    mkdir -p "$out"
    sync
    local t0 t1
    t0=$(date +%s%N)
    /usr/bin/time -f "- %U %S %M" -o "$work/time" "$cli" gather "$base/$name/big.pwq" --simultaneous 2 \
        --save-path "$out" >"$work/log" 2>&1
    t1=$(date +%s%N)
    grep -q "successfully!" "$work/log" || { cat "$work/log" >&2; exit 1; }
    if [[ $name == lost ]]; then
        grep -q "^part 3 rebuilt from recovery part" "$work/log" || { cat "$work/log" >&2; exit 1; }
    fi
    cmp -s "$work/big.bin" "$out/big.bin.dir/big.bin" || { echo "$name: the gathered file differs" >&2; exit 1; }
    awk -v ns=$((t1 - t0)) '{ printf "%.3f %.2f %s\n", ns / 1e9, $2 + $3, $4 }' "$work/time"
}


echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
contenders=(v1 sha full lost)
declare -A wall cpu mem
for name in "${contenders[@]}"; do run "$name" >/dev/null; done  # warm-up, not counted
for ((i = 0; i < runs; i++)); do
    for name in $(rotated "$i" "${contenders[@]}"); do
        read -r w c m < <(run "$name")
        printf '  run %d %-5s %6.2f s  %5.2f s CPU  %7.1f MiB\n' "$i" "$name" "$w" "$c" "$(awk -v m="$m" 'BEGIN { print m / 1024 }')"
        wall[$name]+="$w "; cpu[$name]+="$c "; mem[$name]+="$(awk -v m="$m" 'BEGIN { printf "%.1f", m / 1024 }') "
    done
done

figure() { printf '%s\n' ${1} | median; }
range() { printf '%s\n' ${1} | spread; }
echo
echo "1. $size_mib MiB from nginx on loopback, --simultaneous 2, median of $runs runs (spread):"
for name in "${contenders[@]}"; do
    case $name in
    v1) label="version 1, 10 parts" ;; sha) label="--sha256, 10 parts" ;;
    full) label="10 + 2, all present" ;; lost) label="10 + 2, 2 data parts gone" ;;
    esac
    printf '  %-27s wall %6.2f s (%s)  CPU %5.2f s (%s)  peak %6.1f MiB (%s)\n' "$label" \
        "$(figure "${wall[$name]}")" "$(range "${wall[$name]}")" "$(figure "${cpu[$name]}")" "$(range "${cpu[$name]}")" \
        "$(figure "${mem[$name]}")" "$(range "${mem[$name]}")"
done
awk -v v="$(figure "${wall[v1]}")" -v s="$(figure "${wall[sha]}")" -v f="$(figure "${wall[full]}")" \
    -v l="$(figure "${wall[lost]}")" 'BEGIN {
    printf "  SHA-256: %.2fx the version-1 gather; 2 data parts gone: %.2fx the gather with every part\n", s / v, l / f }'

echo
echo "2. longest event-loop stall through the engine (10 ms probe), median of $runs runs (spread):"
for name in sha lost; do
    stalls=
    for ((i = 0; i < runs; i++)); do
        rm -rf "$work/out-probe"
        sync
        line=$("$probe" "$base/$name/big.pwq" "$work/out-probe")
        echo "  $name run $i: $line"
        stalls+="$(sed -E 's/.*stall ([0-9]+) ms.*/\1/' <<<"$line") "
    done
    printf '  %s: longest stall median %s ms (%s)\n' "$name" "$(figure "$stalls")" "$(range "$stalls")"
done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
