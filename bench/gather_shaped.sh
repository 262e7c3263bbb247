#!/usr/bin/env bash
# Gathers over links like a hosting account's, every contender in the same run, in turn:
#  1. SIZE_MIB (128) MiB in 3 parts from nginx on loopback with limit_rate RATE (4m: each
#     connection at most 4 MiB/s, as accounts cap them): "parcelwick-cli gather" with its
#     defaults (4 connections per part, 4 parts at once) and --per-host 8 (CRCs, rebuild
#     and whole-file CRC included), against "aria2c -x8 -s8 -j3" and
#     "curl -Z --parallel-max 2" fetching the same 3 parts to files (no CRC, no join):
#     wall time.
#  2. one part of SIZE_MIB/3 MiB whose first response the server breaks off after 90 % of
#     its body (bench/cut_server.py, no shaping): the bytes the server sent in all, over
#     the part's size, for "parcelwick-cli gather" with its defaults, with
#     --connections-per-part 1, and with --connections-per-part 1 --no-resume (fetched
#     again from the start, as the window does by default).
# Every gather starts with no part on disk. Prints medians with their spread (min-max)
# and the load average before and after.
#
# usage: bench/gather_shaped.sh [PARCELWICK-CLI]
#   RUNS=N       runs of each contender (default 3)
#   SIZE_MIB=N   size of the file (default 128)
#   RATE=R       nginx's limit_rate per connection (default 4m)
#   SCRATCH=DIR  where the files go (default ${TMPDIR:-/tmp})
#   TBF=RATE     also an aggregate cap over all connections: the whole benchmark runs in
#                a network namespace of its own whose loopback has "tc qdisc ... tbf
#                rate RATE" (say 160mbit; as root)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
if [[ -n ${TBF:-} && -z ${PW_SHAPED_NETNS:-} ]]; then
    netns=pw-bench-shaped-$$
    ip netns add "$netns"
    trap 'ip netns del "$netns"' EXIT
    ip -n "$netns" link set lo up
    ip netns exec "$netns" tc qdisc add dev lo root tbf rate "$TBF" burst 256kb latency 100ms
    echo "in network namespace $netns: $(ip netns exec "$netns" tc qdisc show dev lo)"
    PW_SHAPED_NETNS=$netns ip netns exec "$netns" bash "$0" "$@"
    exit
fi
source "$here/find_cli.sh"
source "$here/nginx_loopback.sh"
find_cli "$here" "${1:-}"
runs=${RUNS:-3}
size_mib=${SIZE_MIB:-128}
for tool in curl aria2c python3; do
    command -v $tool >/dev/null || { echo "$tool is needed (scripts/setup installs it)" >&2; exit 2; }
done

work=$(mktemp -d "${SCRATCH:-${TMPDIR:-/tmp}}/pw-bench-shaped.XXXXXX")
cut_pid=
cleanup() {
    stop_nginx
    [[ -n $cut_pid ]] && kill "$cut_pid" 2>/dev/null && { wait "$cut_pid" 2>/dev/null || true; }
    rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/www" "$work/cut"
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"

NGINX_LIMIT_RATE=${RATE:-4m} start_nginx "$work"
base=http://127.0.0.1:$port
cut_port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')

echo "making a $size_mib MiB file in 3 parts, and a part of a third of it, in $work"
head -c $((size_mib * 1024 * 1024)) /dev/urandom >"$work/big.bin"
"$cli" pwq "$work/big.bin" --site "$base/" --parts 3 --name big --save-path "$work/send" -o "$work/www/big.pwq" >/dev/null
mv "$work"/send/big.bin.uldir/* "$work/www/"
head -c $((size_mib * 1024 * 1024 / 3)) /dev/urandom >"$work/part.bin"
"$cli" pwq "$work/part.bin" --site "http://127.0.0.1:$cut_port/" --parts 1 --name cut --save-path "$work/send" \
    -o "$work/cut.pwq" >/dev/null
mv "$work"/send/part.bin.uldir/* "$work/cut/"
part_size=$(stat -c %s "$work/part.bin")
cat "$work"/www/* "$work"/cut/* >/dev/null
printf '%s\n' "$base/big1.bin" "$base/big2.bin" "$base/big3.bin" >"$work/parts.txt"

# One run of a contender of case 1: its wall time in seconds.
shaped() {
    local name=$1 out=$work/out-$1
    rm -rf "$out"
    mkdir -p "$out"
    local t0 t1
    t0=$(date +%s%N)
    case $name in
    pw)
        "$cli" gather "$base/big.pwq" --per-host 8 --save-path "$out" >"$work/log" 2>&1
        grep -q "successfully!" "$work/log" || { cat "$work/log" >&2; exit 1; }
        ;;
    aria2)
        aria2c -q -x8 -s8 -j3 --allow-overwrite=true -d "$out" -i "$work/parts.txt"
        ;;
    curl)
        curl -s --no-progress-meter -Z --parallel-max 2 -o "$out/big1.bin" "$base/big1.bin" \
            -o "$out/big2.bin" "$base/big2.bin" -o "$out/big3.bin" "$base/big3.bin"
        ;;
    esac
    t1=$(date +%s%N)
    awk -v ns=$((t1 - t0)) 'BEGIN { printf "%.2f\n", ns / 1e9 }'
}

# One run of a contender of case 2: the bytes sent over the part's size.
broken() {
    local name=$1 out=$work/out-$1 options=()
    case $name in
    one) options=(--connections-per-part 1) ;;
    restart) options=(--connections-per-part 1 --no-resume) ;;
    esac
    rm -rf "$out" "$work/cut.log"
    mkdir -p "$out"
    python3 "$here/cut_server.py" "$work/cut" "$cut_port" "$work/cut.log" 0.9 &
    cut_pid=$!
    local i
    for ((i = 0; i < 100; i++)); do
        curl -s -o /dev/null "http://127.0.0.1:$cut_port/none" && break
        sleep 0.1
    done
    : >"$work/cut.log"
    "$cli" gather "$work/cut.pwq" "${options[@]}" --save-path "$out" >"$work/log" 2>&1
    grep -q "successfully!" "$work/log" || { cat "$work/log" >&2; exit 1; }
    cmp -s "$work/part.bin" "$out/part.bin.dir/part.bin" || { echo "the broken part came back wrong" >&2; exit 1; }
    kill "$cut_pid"
    wait "$cut_pid" 2>/dev/null || true
    cut_pid=
    awk -v size="$part_size" '{ sent += $3 } END { printf "%.3f\n", sent / size }' "$work/cut.log"
}

figure() { printf '%s\n' ${1} | median; }
range() { printf '%s\n' ${1} | spread; }

declare -A wall sent
shaped_contenders=(pw aria2 curl)
broken_contenders=(four one restart)
for ((i = 0; i < runs; i++)); do
    for name in $(rotated "$i" "${shaped_contenders[@]}"); do
        w=$(shaped "$name")
        printf '  run %d %-6s %7.2f s\n' "$i" "$name" "$w"
        wall[$name]+="$w "
    done
    cmp -s "$work/big.bin" "$work/out-pw/big.bin.dir/big.bin" || { echo "the gather differs from the source" >&2; exit 1; }
    for name in $(rotated "$i" "${broken_contenders[@]}"); do
        r=$(broken "$name")
        printf '  run %d %-8s %6.3fx the part sent\n' "$i" "$name" "$r"
        sent[$name]+="$r "
    done
done

echo
echo "1. $size_mib MiB in 3 parts, nginx limit_rate ${RATE:-4m}${TBF:+, all of loopback at most $TBF (tbf)}, median of $runs runs (spread):"
for name in pw aria2 curl; do
    case $name in
    pw) label="parcelwick-cli gather --per-host 8" ;;
    aria2) label="aria2c -x8 -s8 -j3" ;;
    curl) label="curl -Z --parallel-max 2" ;;
    esac
    printf '  %-36s wall %7.2f s (%s)\n' "$label" "$(figure "${wall[$name]}")" "$(range "${wall[$name]}")"
done
awk -v p="$(figure "${wall[pw]}")" -v a="$(figure "${wall[aria2]}")" -v c="$(figure "${wall[curl]}")" 'BEGIN {
    printf "  wall time: %.2fx aria2c, %.2fx curl\n", p / a, p / c }'
echo
echo "2. a part of $part_size bytes broken off once at 90 %, bytes sent over its size, median of $runs runs (spread):"
for name in four one restart; do
    case $name in
    four) label="gather (4 connections per part)" ;;
    one) label="gather --connections-per-part 1" ;;
    restart) label="... 1 --no-resume" ;;
    esac
    printf '  %-36s %6.3fx (%s)\n' "$label" "$(figure "${sent[$name]}")" "$(range "${sent[$name]}")"
done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
