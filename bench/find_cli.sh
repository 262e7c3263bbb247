# Sourced by the benchmark scripts. find_cli sets $cli to the parcelwick-cli to measure,
# the one given as the script's first argument or else the Release build, else the
# normal one, and stops the script when there is none. median and spread read one
# number a line and print the median, and "lowest-highest". rotated prints the names
# after the round number one a line, rotated by the round, so no contender always runs
# on a machine warmed by another.
find_cli() {
    local bench_dir=$1 given=$2
    cli=$given
    if [[ -z $cli ]]; then
        for candidate in "$bench_dir/../build/release/bin/parcelwick-cli" "$bench_dir/../build/normal/bin/parcelwick-cli"; do
            [[ -x $candidate ]] && { cli=$candidate; break; }
        done
    fi
    [[ -n $cli && -x $cli ]] || { echo "no parcelwick-cli found: give its path as the first argument, or build build/release" >&2; exit 2; }
}

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
spread() { sort -g | awk 'NR == 1 { lo = $1 } { hi = $1 } END { printf "%s-%s", lo, hi }'; }
rotated() { local round=$1; shift; local names=("$@") k; for ((k = 0; k < $#; k++)); do echo "${names[$(((round + k) % $#))]}"; done; }
