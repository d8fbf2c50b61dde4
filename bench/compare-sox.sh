#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Compares glimmerbox-fx with SoX on ten minutes of pink noise, in one run.
#
#   bench/compare-sox.sh [BUILD_DIR]     (default: build)
#
#   A  glimmerbox-fx with all twelve processing steps on
#   B  sox with its seven comparable effects
#
# Makes the clip (22050 Hz mono 16-bit, 600 s of pink noise at half
# volume), then runs A and B alternately, RUNS times each (default 3), each
# under /usr/bin/time -v. Prints every run, the median wall time of each, the
# ratio A/B and the peak memory (largest maximum resident set of the runs).
# Wall time is what the issue compares; user + system CPU time is printed
# beside it, which says more when other work shares the machine (the load
# average is printed before and after). SoX and GNU time are installed with
# apt-get when missing.
set -eu

build=${1:-build}
runs=${RUNS:-3}
here=$(cd "$(dirname "$0")/.." && pwd)
case $build in /*) ;; *) build=$here/$build ;; esac
fx=$build/glimmerbox-fx
if [ ! -x "$fx" ]; then
    echo "compare-sox: $fx not found; build first (cmake --build $build)" >&2
    exit 2
fi

install_missing() { # command package
    command -v "$1" >/dev/null 2>&1 && return 0
    [ -x "$1" ] && return 0
    echo "compare-sox: installing $2" >&2
    if [ "$(id -u)" -eq 0 ]; then
        apt-get install -y "$2" >/dev/null
    else
        sudo apt-get install -y "$2" >/dev/null
    fi
}
install_missing sox sox
install_missing /usr/bin/time time

work=$(mktemp -d "${TMPDIR:-/tmp}/compare-sox.XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM
clip=$work/pink.wav
sox -n -r 22050 -c 1 -b 16 "$clip" synth 600 pinknoise vol 0.5

# One timed run of A or B: appends "wall-seconds cpu-seconds peak-KiB" to
# the file named $2.
timed() { # a|b results-file
    if [ "$1" = a ]; then
        /usr/bin/time -v -o "$work/time.txt" "$fx" --echo --chorus --robot --flange --backward --fade-in \
            --fade-out --bass-only --treble-only --sweep-up --sweep-down --pitch 0 "$clip" "$work/out.wav" \
            2>/dev/null
    else
        /usr/bin/time -v -o "$work/time.txt" sox "$clip" "$work/out2.wav" echo 0.8 0.7 300 0.7 \
            chorus 0.7 0.9 55 0.4 0.25 2 -t flanger reverse pitch -500 bass -20 treble -20
    fi
    awk -F': ' '
        /Elapsed \(wall clock\)/ { n = split($2, p, ":"); wall = 0; for (i = 1; i <= n; i++) wall = wall * 60 + p[i] }
        /User time/ { cpu += $2 }
        /System time/ { cpu += $2 }
        /Maximum resident set size/ { kib = $2 }
        END { printf "%.2f %.2f %d\n", wall, cpu, kib }' "$work/time.txt" >>"$2"
}

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

echo "date $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
: >"$work/a.txt"
: >"$work/b.txt"
i=1
while [ "$i" -le "$runs" ]; do
    timed a "$work/a.txt"
    timed b "$work/b.txt"
    echo "run $i: A $(tail -n 1 "$work/a.txt" | awk '{ printf "%s s wall, %s s cpu, %.1f MiB", $1, $2, $3 / 1024 }')," \
        "B $(tail -n 1 "$work/b.txt" | awk '{ printf "%s s wall, %s s cpu, %.1f MiB", $1, $2, $3 / 1024 }')"
    i=$((i + 1))
done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"

a_wall=$(cut -d' ' -f1 "$work/a.txt" | median)
b_wall=$(cut -d' ' -f1 "$work/b.txt" | median)
a_cpu=$(cut -d' ' -f2 "$work/a.txt" | median)
b_cpu=$(cut -d' ' -f2 "$work/b.txt" | median)
a_mib=$(cut -d' ' -f3 "$work/a.txt" | sort -n | tail -n 1 | awk '{ printf "%.1f", $1 / 1024 }')
b_mib=$(cut -d' ' -f3 "$work/b.txt" | sort -n | tail -n 1 | awk '{ printf "%.1f", $1 / 1024 }')
echo "A glimmerbox-fx: median $a_wall s wall ($a_cpu s cpu), peak $a_mib MiB"
echo "B sox:           median $b_wall s wall ($b_cpu s cpu), peak $b_mib MiB"
awk -v a="$a_wall" -v b="$b_wall" -v ac="$a_cpu" -v bc="$b_cpu" \
    'BEGIN { printf "A/B wall time %.2f (cpu time %.2f)\n", a / b, ac / bc }'
