#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Per-routine throughput of two builds of the benchmark programs, measured
# in one run: bench_effects and bench_pipeline of OLD and NEW alternately,
# RUNS times each (default 3), and for every benchmark the median CPU time
# and wall time of each build and the ratios OLD / NEW (how many times
# faster NEW is).
#
#   bench/compare-builds.sh OLD_BUILD_DIR NEW_BUILD_DIR
#
# On a machine shared with other work the CPU time a routine takes moves far
# less than its wall time; the pipeline's CPU time counts both its threads,
# so there the wall time says how long one waits. The load average is
# printed before and after.
set -eu

if [ $# -ne 2 ]; then
    echo "usage: $0 OLD_BUILD_DIR NEW_BUILD_DIR" >&2
    exit 2
fi
old=$1
new=$2
runs=${RUNS:-3}
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
                awk -F, -v s="$side" '{ gsub(/"/, "", $1); sub(/\/process_time/, "", $1); sub(/\/real_time$/, "", $1); print s, $1, $4 >"/dev/stdout"; print s, $1, $3 >"/dev/stderr" }' \
                    >>"$work/cpu.txt" 2>>"$work/real.txt"
        done
    done
    i=$((i + 1))
done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"

# Median per build and benchmark, then the ratio.
medians() {
    sort -k2,2 -k1,1 -k3,3n "$1" | awk '
        function flush() {
            if (n == 0) return
            print side, name, (n % 2) ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2
            n = 0
        }
        { if ($1 != side || $2 != name) { flush(); side = $1; name = $2 } v[++n] = $3 }
        END { flush() }'
}
medians "$work/cpu.txt" | sed 's/^/cpu /' >"$work/medians.txt"
medians "$work/real.txt" | sed 's/^/real /' >>"$work/medians.txt"
printf "%-48s %10s %10s %8s %10s %10s %8s\n" benchmark "old cpu" "new cpu" old/new "old wall" "new wall" old/new
awk '
    { m[$1 SUBSEP $2 SUBSEP $3] = $4; names[$3] = 1 }
    END {
        for (name in names) {
            oc = m["cpu" SUBSEP "old" SUBSEP name]; nc = m["cpu" SUBSEP "new" SUBSEP name]
            ow = m["real" SUBSEP "old" SUBSEP name]; nw = m["real" SUBSEP "new" SUBSEP name]
            printf "%-48s %10.2f %10.2f %8.2f %10.2f %10.2f %8.2f\n", name, oc, nc, (nc > 0 ? oc / nc : 0), ow, nw, (nw > 0 ? ow / nw : 0)
        }
    }' "$work/medians.txt" | sort
