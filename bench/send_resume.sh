#!/usr/bin/env bash
# A store cut by the server, then resumed: "parcelwick-cli send" of a cached file as one
# part to vsftpd on loopback (sessions capped at 100 MB/s by local_max_rate, so that the
# cut lands where it is meant to); when the stored file reaches 90 % of the part, the
# server's processes of that session are killed (the connections reset). The send tries
# the part again, asks SIZE and sends the rest after REST. Reported per run: where the
# cut came, the bytes sent in all (those of the broken store, from its log line, plus
# those of every later store's statistics line) against the part's size, and the wall
# time. The stored part is compared with the source.
#
# usage: bench/send_resume.sh [PARCELWICK-CLI]
#   RUNS=N      runs (default 3); the median counts
#   SIZE_MIB=N  size of the part (default 340)
#   SCRATCH=DIR where the file and the server's root go (default ${TMPDIR:-/tmp})
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
source "$here/find_cli.sh"
source "$here/vsftpd_loopback.sh"
find_cli "$here" "${1:-}"
runs=${RUNS:-3}
size_mib=${SIZE_MIB:-340}
size=$((size_mib * 1024 * 1024))

work=$(mktemp -d "${SCRATCH:-${TMPDIR:-/tmp}}/pw-bench-resume.XXXXXX")
cleanup() {
    stop_vsftpd
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

echo "making a $size_mib MiB file of random bytes in $work"
head -c "$size" /dev/urandom >"$work/big.bin"
cat "$work/big.bin" >/dev/null
export VSFTPD_EXTRA=local_max_rate=100000000
start_vsftpd "$work"
printf 'ftplist\r\n127.0.0.1:%s\r\nbench\r\n%s\r\nhttp://127.0.0.1/\r\n' "$ftp_port" "$ftp_password" >"$work/ftplist.txt"
chmod 600 "$work/ftplist.txt"

# The processes of the sessions: vsftpd's children, and theirs.
session_pids() {
    local child
    for child in $(pgrep -P "$vsftpd_pid" || true); do
        echo "$child"
        pgrep -P "$child" || true
    done
}

declare -a ratios walls
for ((i = 0; i < runs; i++)); do
    rm -rf "$work/send" "$work"/root/*
    t0=$(date +%s%N)
    "$cli" send "$work/big.bin" --sites "$work/ftplist.txt" --parts 1 --name big --save-path "$work/send" \
        --verify=off -q -o "$work/big.pwq" >/dev/null 2>"$work/log" &
    send_pid=$!
    cut_at=0
    for ((t = 0; t < 6000; t++)); do  # at most 60 s
        held=$(stat -c %s "$work/root/big1.bin" 2>/dev/null || echo 0)
        if ((held * 10 >= size * 9)); then
            cut_at=$held
            kill -KILL $(session_pids) 2>/dev/null || true
            break
        fi
        sleep 0.01
    done
    wait "$send_pid" || { echo "send failed:" >&2; tail -20 "$work/log" >&2; exit 1; }
    t1=$(date +%s%N)
    cmp -s "$work/big.bin" "$work/root/big1.bin" || { echo "the stored part differs" >&2; exit 1; }
    broken=$(sed -n 's/.*! The store broke off after \([0-9]*\) bytes sent.*/\1/p' "$work/log" | awk '{s += $1} END {print s + 0}')
    later=$(sed -n 's/.*! \([0-9]*\) bytes received\/sent in.*/\1/p' "$work/log" | awk '{s += $1} END {print s + 0}')
    resumed=$(sed -n 's/.*! Resuming part at byte \([0-9]*\).*/\1/p' "$work/log" | tail -1)
    ratio=$(awk -v a="$broken" -v b="$later" -v s="$size" 'BEGIN {printf "%.3f", (a + b) / s}')
    wall=$(awk -v ns=$((t1 - t0)) 'BEGIN {printf "%.2f", ns / 1e9}')
    printf '  run %d: cut at %d (%.1f %%), broken store sent %d, resumed at %s, then sent %d: %.3fx the part, %s s\n' \
        "$i" "$cut_at" "$(awk -v c="$cut_at" -v s="$size" 'BEGIN {print c * 100 / s}')" "$broken" "${resumed:-none}" \
        "$later" "$ratio" "$wall"
    ratios+=("$ratio"); walls+=("$wall")
done
median() { tr ' ' '\n' | grep . | sort -g | awk '{v[NR]=$1} END {m = (NR % 2) ? v[(NR+1)/2] : (v[NR/2] + v[NR/2+1]) / 2; print m, v[1], v[NR]}'; }
read -r rm rl rh < <(median <<<"${ratios[*]}")
read -r wm wl wh < <(median <<<"${walls[*]}")
echo "median [min-max] of $runs runs, $size_mib MiB cut at 90 % and resumed, load $(cut -d' ' -f1-3 /proc/loadavg):"
echo "  bytes sent in all / part: $rm [$rl-$rh]; wall $wm s [$wl-$wh]"
