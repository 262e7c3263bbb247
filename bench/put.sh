#!/usr/bin/env bash
# Upload throughput: "parcelwick-cli put FILE ftp://..." against "curl -T FILE ftp://..."
# on the same cached file to the same vsftpd on loopback, in the same run, in active
# mode (PORT; curl --ftp-port 127.0.0.1) and in passive mode (parcelwick --passive;
# curl's default EPSV): median throughput, median CPU seconds (user + sys) and peak
# memory of each, and the ratios. Needs root (vsftpd, and a PAM service file for the
# benchmark's own account, removed at the end). With FTPS=1 the same over explicit TLS
# ("put --ftps=require" against "curl --ssl-reqd"; vsftpd requires TLS for logins and
# data and session reuse on data connections; both clients verify its certificate).
#
# usage: bench/put.sh [PARCELWICK-CLI]
#   PARCELWICK-CLI  the program (default: build/release/bin, else build/normal/bin)
#   RUNS=N          runs of each tool and mode (default 5); the median counts
#   SIZE_MIB=N      size of the uploaded file (default 340)
#   SCRATCH=DIR     where the file, the server's root and its files go (default ${TMPDIR:-/tmp})
#   FTPS=1          over TLS
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
source "$here/find_cli.sh"
source "$here/vsftpd_loopback.sh"
find_cli "$here" "${1:-}"
runs=${RUNS:-5}
size_mib=${SIZE_MIB:-340}
[[ -x /usr/bin/time ]] || { echo "/usr/bin/time is needed for the CPU figures" >&2; exit 2; }
command -v curl >/dev/null || { echo "curl is needed as the yardstick" >&2; exit 2; }

work=$(mktemp -d "${SCRATCH:-${TMPDIR:-/tmp}}/pw-bench-put.XXXXXX")
cleanup() {
    stop_vsftpd
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM
bytes=$((size_mib * 1024 * 1024))
echo "making a $size_mib MiB file of random bytes in $work"
head -c "$bytes" /dev/urandom >"$work/big.bin"
cat "$work/big.bin" >/dev/null  # into the page cache

cli_tls=()
curl_tls=()
if [[ ${FTPS:-0} == 1 ]]; then
    start_vsftpd "$work" tls
    cli_tls=(--ftps=require --cacert "$work/cert.pem")
    curl_tls=(--ssl-reqd --cacert "$work/cert.pem")
else
    start_vsftpd "$work"
fi
url=ftp://bench:$ftp_password@$ftp_host:$ftp_port/up.bin

now_ns() { date +%s%N; }

run_tool() {  # tool mode -> "wall_ns cpu_s peak_kib"
    local t0 t1 extra=()
    t0=$(now_ns)
    if [[ $1 == cli ]]; then
        [[ $2 == passive ]] && extra=(--passive)
        /usr/bin/time -f "%U %S %M" -o "$work/cpu" "$cli" put "$work/big.bin" "$url" "${extra[@]}" "${cli_tls[@]}" 2>/dev/null
    else
        [[ $2 == active ]] && extra=(--ftp-port 127.0.0.1)
        /usr/bin/time -f "%U %S %M" -o "$work/cpu" curl -s "${extra[@]}" "${curl_tls[@]}" -T "$work/big.bin" "$url"
    fi
    t1=$(now_ns)
    cmp -s "$work/big.bin" "$work/root/up.bin" || { echo "$1 $2: the stored file differs" >&2; exit 1; }
    rm -f "$work/root/up.bin"
    echo "$((t1 - t0)) $(awk '{print $1 + $2, $3}' "$work/cpu")"
}

for mode in active passive; do
    declare -a cli_gbs=() cli_cpu=() cli_mem=() curl_gbs=() curl_cpu=()
    # curl 7.88 (Debian 12) cannot store over an active TLS data connection ("(55)
    # sa_addr inet_ntop() failed with errno 97"): there active FTPS has no yardstick.
    yardstick=curl
    [[ ${FTPS:-0} == 1 && $mode == active ]] && yardstick=
    run_tool cli "$mode" >/dev/null; [[ -n $yardstick ]] && run_tool curl "$mode" >/dev/null  # warm-up, not counted
    echo "$mode mode:"
    for ((i = 0; i < runs; i++)); do
        # Alternate the order, so neither tool always runs on a machine warmed by the other.
        order="cli $yardstick"; [[ $((i % 2)) -eq 1 ]] && order="$yardstick cli"
        for tool in $order; do
            read -r ns cpu mem < <(run_tool "$tool" "$mode")
            gbs=$(awk -v b="$bytes" -v ns="$ns" 'BEGIN {printf "%.3f", b / ns}')
            printf '  run %d %-4s %6s GB/s  %5.2f s CPU  %6d KiB peak\n' "$i" "$tool" "$gbs" "$cpu" "$mem"
            if [[ $tool == cli ]]; then cli_gbs+=("$gbs"); cli_cpu+=("$cpu"); cli_mem+=("$mem"); else curl_gbs+=("$gbs"); curl_cpu+=("$cpu"); fi
        done
    done
    a=$(printf '%s\n' "${cli_gbs[@]}" | median); ca=$(printf '%s\n' "${cli_cpu[@]}" | median)
    b=0 cb=0 clo=0 chi=0
    if [[ -n $yardstick ]]; then
        b=$(printf '%s\n' "${curl_gbs[@]}" | median); cb=$(printf '%s\n' "${curl_cpu[@]}" | median)
        clo=$(printf '%s\n' "${curl_gbs[@]}" | sort -g | head -1); chi=$(printf '%s\n' "${curl_gbs[@]}" | sort -g | tail -1)
    fi
    peak=$(printf '%s\n' "${cli_mem[@]}" | sort -g | tail -1)
    lo=$(printf '%s\n' "${cli_gbs[@]}" | sort -g | head -1); hi=$(printf '%s\n' "${cli_gbs[@]}" | sort -g | tail -1)
    awk -v m="$mode" -v n="$runs" -v s="$size_mib" -v a="$a" -v b="$b" -v ca="$ca" -v cb="$cb" -v p="$peak" \
        -v lo="$lo" -v hi="$hi" -v clo="$clo" -v chi="$chi" 'BEGIN {
        printf "median of %d runs, %s MiB to vsftpd on loopback, %s:\n", n, s, m
        printf "  parcelwick-cli put  %6.3f GB/s (%.3f-%.3f)  %5.2f s CPU  peak %.1f MiB\n", a, lo, hi, ca, p / 1024
        if (b == 0) { print "  (no yardstick in this mode)"; exit }
        printf "  curl -T             %6.3f GB/s (%.3f-%.3f)  %5.2f s CPU\n", b, clo, chi, cb
        printf "  throughput ratio (parcelwick / curl): %.2f   CPU ratio (parcelwick / curl): %.2f\n", a / b, (cb > 0 ? ca / cb : 0)
    }'
    unset cli_gbs cli_cpu cli_mem curl_gbs curl_cpu
done
