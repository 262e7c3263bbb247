#!/usr/bin/env bash
# Connection set-up to a dual-stack name whose IPv6 address never answers: the name
# "dual.test" is given ::1 and 127.0.0.1 (get --resolve, curl --resolve), nginx serves
# a small file on 127.0.0.1:PORT, and [::1]:PORT is a listener with a full queue that
# drops every SYN. Measured, the tools alternating, medians of RUNS runs:
#   - the time to the first body byte inside the process: THttpClient through
#     build/*/bin/first_byte (its own Happy Eyeballs, 250 ms between attempts) against
#     curl's time_starttransfer (--happy-eyeballs-timeout-ms 200);
#   - the time from starting the program to the first byte on its standard output, for
#     "parcelwick-cli get --resolve" and curl, and for scale the same get of 127.0.0.1
#     directly (the program's start and one plain request).
#
# usage: bench/dual_stack_connect.sh [PARCELWICK-CLI]
#   RUNS=N   runs of each tool (default 9)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
source "$here/find_cli.sh"
source "$here/nginx_loopback.sh"
find_cli "$here" "${1:-}"
driver=$(dirname "$cli")/first_byte
[[ -x $driver ]] || { echo "no $driver: build the first_byte target" >&2; exit 2; }
runs=${RUNS:-9}
command -v curl >/dev/null || { echo "curl is needed as the yardstick" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/pw-bench-dual.XXXXXX")
hole_pid=
cleanup() {
    [[ -n $hole_pid ]] && kill "$hole_pid" 2>/dev/null && { wait "$hole_pid" 2>/dev/null || true; }
    stop_nginx
    rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/www"
head -c 4096 /dev/urandom >"$work/www/small.bin"
start_nginx "$work"

# The black hole: a backlog of 0 holds one connection; with that one made, nothing more
# is answered. It ends when the benchmark ends (or after 10 minutes at most).
python3 - "$port" >"$work/hole" <<'PY' &
import socket, sys, time
port = int(sys.argv[1])
listener = socket.socket(socket.AF_INET6)
listener.bind(("::1", port))
listener.listen(0)
filler = socket.create_connection(("::1", port))
print("ready", flush=True)
time.sleep(600)
PY
hole_pid=$!
for ((i = 0; i < 50; i++)); do grep -q ready "$work/hole" 2>/dev/null && break; sleep 0.1; done
grep -q ready "$work/hole" || { echo "no black hole on [::1]:$port" >&2; exit 1; }

# Seconds from the start of the command to the first byte on its standard output.
first_byte() {
    python3 -c '
import subprocess, sys, time
start = time.monotonic()
p = subprocess.Popen(sys.argv[1:], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
first = p.stdout.read(1)
t = time.monotonic() - start
p.stdout.read()
p.wait()
print("%.4f" % t if first and p.returncode == 0 else "failed")' "$@"
}

dual=http://dual.test:$port/small.bin
run_tool() {
    case $1 in
    driver) "$driver" "$dual" dual.test ::1,127.0.0.1 ;;
    cli) first_byte "$cli" get -q --resolve "dual.test:::1,127.0.0.1" "$dual" ;;
    direct) first_byte "$cli" get -q "http://127.0.0.1:$port/small.bin" ;;
    curl) first_byte curl -s --happy-eyeballs-timeout-ms 200 --resolve "dual.test:$port:[::1],127.0.0.1" "$dual" ;;
    curl_ttfb) curl -s -o /dev/null -w '%{time_starttransfer}' --happy-eyeballs-timeout-ms 200 \
        --resolve "dual.test:$port:[::1],127.0.0.1" "$dual" ;;
    esac
}

tools=(driver curl_ttfb cli curl direct)
declare -A times=()
for tool in "${tools[@]}"; do run_tool "$tool" >/dev/null; done  # warm-up, not counted
for ((i = 0; i < runs; i++)); do
    for tool in $(rotated "$i" "${tools[@]}"); do
        t=$(run_tool "$tool")
        printf '  run %d %-9s %s s\n' "$i" "$tool" "$t"
        times[$tool]+="$t "
    done
done

median() { tr ' ' '\n' | grep -E '^[0-9.]+$' | sort -g | awk '{v[NR]=$1} END {print (NR % 2) ? v[(NR+1)/2] : (v[NR/2] + v[NR/2+1]) / 2}'; }
spread() { tr ' ' '\n' | grep -E '^[0-9.]+$' | sort -g | awk 'NR == 1 {lo = $1} {hi = $1} END {printf "%s-%s", lo, hi}'; }
echo
echo "median of $runs runs, seconds to the first byte ([::1]:$port silent, 127.0.0.1:$port nginx; range in brackets):"
for tool in "${tools[@]}"; do
    case $tool in
    driver) name="THttpClient, in the process" ;;
    curl_ttfb) name="curl time_starttransfer" ;;
    cli) name="parcelwick-cli get, from exec" ;;
    curl) name="curl, from exec" ;;
    *) name="parcelwick-cli get 127.0.0.1" ;;
    esac
    failed=$(tr ' ' '\n' <<<"${times[$tool]}" | grep -c failed || true)
    printf '  %-32s %s [%s]%s\n' "$name" "$(median <<<"${times[$tool]}")" "$(spread <<<"${times[$tool]}")" \
        "$([[ $failed -gt 0 ]] && echo "  ($failed runs failed)")"
done
