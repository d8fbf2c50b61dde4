#!/bin/sh
# Per-routine throughput of two builds of the benchmark programs, measured
# in one run: bench_effects and bench_pipeline of OLD and NEW alternately,
# RUNS times each (default 3), and for every benchmark the median time of
# each build and the ratio OLD / NEW (how many times faster NEW is).
#
#   bench/compare-builds.sh OLD_BUILD_DIR NEW_BUILD_DIR
#
# Google Benchmark's CPU time is compared by default (TIME=real for wall
# time): on a machine shared with other work, the CPU time a routine takes
# moves far less than its wall time. The load average is printed before
# and after.
set -eu

if [ $# -ne 2 ]; then
    echo "usage: $0 OLD_BUILD_DIR NEW_BUILD_DIR" >&2
    exit 2
fi
old=$1
new=$2
runs=${RUNS:-3}
column=4 # cpu_time in Google Benchmark's CSV
[ "${TIME:-cpu}" = real ] && column=3
for program in bench_effects bench_pipeline; do
    for build in "$old" "$new"; do
        if [ ! -x "$build/bench/$program" ]; then
            echo "compare-builds: $build/bench/$program not found" >&2
            exit 2
        fi
    done
done

work=$(mktemp -d "${TMPDIR:-/tmp}/compare-builds.XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM

echo "date $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
i=1
while [ "$i" -le "$runs" ]; do
    for side in old new; do
        eval "build=\$$side"
        for program in bench_effects bench_pipeline; do
            "$build/bench/$program" --benchmark_format=csv 2>/dev/null | grep '^"' |
                awk -F, -v c="$column" -v s="$side" '{ gsub(/"/, "", $1); print s, $1, $c }' >>"$work/times.txt"
        done
    done
    i=$((i + 1))
done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"

# Median per build and benchmark, then the ratio.
printf "%-45s %12s %12s %8s\n" benchmark "old ms" "new ms" old/new
sort -k2,2 -k1,1 -k3,3n "$work/times.txt" | awk '
    function flush() {
        if (n == 0) return
        m = (n % 2) ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2
        median[side SUBSEP name] = m
        names[name] = 1
        n = 0
    }
    { if ($1 != side || $2 != name) { flush(); side = $1; name = $2 } v[++n] = $3 }
    END {
        flush()
        for (name in names) {
            o = median["old" SUBSEP name]; w = median["new" SUBSEP name]
            printf "%-45s %12.2f %12.2f %8.2f\n", name, o, w, (w > 0 ? o / w : 0)
        }
    }' | sort
