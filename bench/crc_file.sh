#!/usr/bin/env bash
# CRC-32 of a cached 1 GiB file: "parcelwick-cli crc" against Debian's python3
# zlib.crc32 reading 1 MiB at a time, in the same run (hyperfine, medians of several
# runs), and the peak memory of parcelwick-cli crc, which must stay under 64 MiB
# because files are read in bounded chunks.
#
# usage: bench/crc_file.sh [PATH/TO/parcelwick-cli]    (RUNS=n to change the run count)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
runs=${RUNS:-7}
limit_kib=$((64 * 1024))

source "$top/bench/find_cli.sh"
find_cli "$top/bench" "${1:-}"
python=/usr/bin/python3
for tool in hyperfine "$python" /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "crc_file.sh: $tool is missing (scripts/setup installs it)" >&2; exit 2; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/pw-crc-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
file=$work/one-gib.bin
head -c $((1 << 30)) /dev/urandom >"$file"
cat "$file" >/dev/null   # into the page cache: the benchmark measures the CRC, not the disk

cat >"$work/zlib_crc.py" <<'PY'
import sys, zlib
crc = 0
with open(sys.argv[1], "rb", buffering=0) as f:
    while True:
        chunk = f.read(1 << 20)
        if not chunk:
            break
        crc = zlib.crc32(chunk, crc)
print("%08X  %s" % (crc, sys.argv[1]))
PY

# Both must print the same line, or the timing means nothing.
ours=$("$cli" crc "$file")
theirs=$("$python" "$work/zlib_crc.py" "$file")
if [[ "$ours" != "$theirs" ]]; then
  echo "crc_file.sh: results differ: '$ours' against '$theirs'" >&2
  exit 1
fi
echo "CRC: $ours"

hyperfine --style basic -N --warmup 1 --runs "$runs" --export-json "$work/times.json" \
  -n "parcelwick-cli crc" "$cli crc $file" \
  -n "python3 zlib.crc32 (1 MiB reads)" "$python $work/zlib_crc.py $file"

"$python" - "$work/times.json" <<'PY'
import json, sys
results = json.load(open(sys.argv[1]))["results"]
size = 1 << 30
# On a shared machine the wall clock also counts time spent waiting for a core; the
# CPU time (user + system) is what the program itself spent.
for r in results:
    cpu = r["user"] + r["system"]
    print("%-34s wall median %6.3f s = %5.2f GB/s   cpu mean %6.3f s = %5.2f GB/s"
          % (r["command"], r["median"], size / r["median"] / 1e9, cpu, size / cpu / 1e9))
ours, theirs = results[0], results[1]
print("parcelwick-cli crc against python3 zlib.crc32: %.2fx by wall median, %.2fx by cpu time"
      % (theirs["median"] / ours["median"], (theirs["user"] + theirs["system"]) / (ours["user"] + ours["system"])))
PY

peak_kib=$( { /usr/bin/time -v "$cli" crc "$file" >/dev/null; } 2>&1 | awk -F': ' '/Maximum resident set size/ {print $2}')
echo "peak memory of parcelwick-cli crc on 1 GiB: ${peak_kib} KiB (limit ${limit_kib} KiB)"
if (( peak_kib >= limit_kib )); then
  echo "crc_file.sh: peak memory over the limit" >&2
  exit 1
fi
