#!/usr/bin/env bash
# Manifests of many parts, from nginx on loopback:
#  1. "parcelwick-cli show" of a manifest of 8 MiB (100 000 parts, long URLs): peak memory;
#  2. "parcelwick-cli gather URL --simultaneous 2" of manifests of N tiny parts (16 bytes
#     each; N from COUNTS; the manifest of 100000 is 8 MiB): CPU seconds per part, wall
#     time, peak memory. CPU per part
#     stays the same from 1000 to 100000 parts when a pass, a completion and a watchdog
#     tick cost the same whatever the number of rows.
# CPU per part is what a gather costs beyond a gather of one part in the same run (start,
# load, rebuild), divided by the parts beyond the first. Every gather starts with no
# part on disk. Prints the median of each figure with its spread (min-max).
#
# usage: bench/many_parts.sh [PARCELWICK-CLI]
#   PARCELWICK-CLI  the program (default: build/release/bin, else build/normal/bin)
#   RUNS=N          runs of each case (default 3)
#   COUNTS="N ..."  part counts of the gathers (default "1000 10000 100000")
#   SCRATCH=DIR     where the files go (default ${TMPDIR:-/tmp})
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
source "$here/find_cli.sh"
source "$here/nginx_loopback.sh"
find_cli "$here" "${1:-}"
runs=${RUNS:-3}
counts=${COUNTS:-1000 10000 100000}
[[ -x /usr/bin/time ]] || { echo "/usr/bin/time is needed for the CPU and memory figures" >&2; exit 2; }

work=$(mktemp -d "${SCRATCH:-${TMPDIR:-/tmp}}/pw-bench-many.XXXXXX")
cleanup() {
    stop_nginx
    rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/www"
start_nginx "$work"
base=http://127.0.0.1:$port

# make_parts N DIR URL PAD: N parts of 16 bytes in DIR (none when DIR is "-"), and the
# manifest of them on stdout, each URL being URL + PAD characters + "/pNNNNNN.bin".
make_parts() {
    python3 - "$@" <<'PY'
import os, sys, zlib
n, folder, url, pad = int(sys.argv[1]), sys.argv[2], sys.argv[3], int(sys.argv[4])
prefix = url + ("d" * pad + "/" if pad else "")
lines, whole = [], 0
for i in range(n):
    body = b"%016d" % i
    whole = zlib.crc32(body, whole)
    name = "p%06d.bin" % i
    if folder != "-":
        with open(os.path.join(folder, name), "wb") as f:
            f.write(body)
    lines += [prefix + name, "16", "%08X" % zlib.crc32(body)]
head = ["www.parcelwick.example", "1", "many.bin", "%08X" % whole, str(n)]
sys.stdout.write("\r\n".join(head + lines + ["bench", "tiny parts"]) + "\r\n")
PY
}

figure() { printf '%s\n' ${1} | median; }
range() { printf '%s\n' ${1} | spread; }

echo "1. show of an 8 MiB manifest of 100000 parts, $runs runs:"
make_parts 100000 - "http://files.example/" 38 >"$work/show.pwq"
printf '  manifest: %.2f MiB\n' "$(awk -v b="$(stat -c %s "$work/show.pwq")" 'BEGIN { print b / 1048576 }')"
mem=
for ((i = 0; i < runs; i++)); do
    /usr/bin/time -f "%M" -o "$work/time" "$cli" show "$work/show.pwq" --save-path "$work/out" >"$work/show.out"
    [[ $(wc -l <"$work/show.out") -eq 100002 ]] || { echo "show listed $(wc -l <"$work/show.out") lines" >&2; exit 1; }
    m=$(awk '{ printf "%.1f", $1 / 1024 }' "$work/time")
    echo "  run $i: peak $m MiB"
    mem+="$m "
done
printf '  peak: median %s MiB (%s)\n' "$(figure "$mem")" "$(range "$mem")"

echo
echo "2. gather of N tiny parts from nginx on loopback, --simultaneous 2, $runs runs each:"
# A gather of one part: the cost of starting, loading and rebuilding that any gather has,
# taken off the others' CPU before it is divided by their part counts.
for n in 1 $counts; do
    mkdir -p "$work/www/t$n"
    # URLs as long as the show's, so the manifest of 100000 parts is 8 MiB too.
    mkdir -p "$work/www/t$n/$(printf 'd%.0s' $(seq 26))"
    make_parts "$n" "$work/www/t$n/$(printf 'd%.0s' $(seq 26))" "$base/t$n/" 26 >"$work/www/t$n.pwq"
    printf '  %6d parts: manifest %.2f MiB\n' "$n" "$(awk -v b="$(stat -c %s "$work/www/t$n.pwq")" 'BEGIN { print b / 1048576 }')"
done
declare -A wall cpu mem
gather() {  # gather N: "wall_s cpu_s peak_mib"
    local n=$1 t0 t1
    rm -rf "$work/out"
    t0=$(date +%s%N)
    /usr/bin/time -f "%U %S %M" -o "$work/time" "$cli" gather "$base/t$n.pwq" --simultaneous 2 \
        --save-path "$work/out" >"$work/log" 2>&1
    t1=$(date +%s%N)
    grep -q "successfully!" "$work/log" || { tail -5 "$work/log" >&2; exit 1; }
    awk -v ns=$((t1 - t0)) '{ printf "%.2f %.2f %.1f\n", ns / 1e9, $1 + $2, $3 / 1024 }' "$work/time"
}
for ((i = 0; i < runs; i++)); do
    read -r _ fixed _ < <(gather 1)
    for n in $counts; do
        read -r w c m < <(gather "$n")
        per=$(awk -v c="$c" -v f="$fixed" -v n="$n" 'BEGIN { printf "%.1f", (c - f) / (n - 1) * 1e6 }')
        printf '  run %d %6d parts: wall %7.2f s  CPU %7.2f s (1 part: %s s; %s us/part beyond)  peak %6.1f MiB\n' \
            "$i" "$n" "$w" "$c" "$fixed" "$per" "$m"
        wall[$n]+="$w "; cpu[$n]+="$per "; mem[$n]+="$m "
    done
done
echo
for n in $counts; do
    printf '  %6d parts: CPU %s us/part (%s)  wall %s s (%s)  peak %s MiB (%s)\n' "$n" "$(figure "${cpu[$n]}")" \
        "$(range "${cpu[$n]}")" "$(figure "${wall[$n]}")" "$(range "${wall[$n]}")" "$(figure "${mem[$n]}")" \
        "$(range "${mem[$n]}")"
done
first=${counts%% *}
for n in $counts; do
    awk -v a="$(figure "${cpu[$n]}")" -v b="$(figure "${cpu[$first]}")" -v n="$n" -v f="$first" \
        'BEGIN { printf "  CPU per part, %d against %d parts: %.2fx\n", n, f, a / b }'
done
