#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# What the programs cost when they start: the window's resident set at rest
# and glimmerbox-fx's whole-process time against SoX, in one run.
#
#   bench/compare-startup.sh [BUILD_DIR [OLDER_BUILD_DIR]]   (default: build)
#
# Window: Xvfb on a free display, a private session (temporary HOME and
# XDG_RUNTIME_DIR, PULSE_SERVER naming a socket that does not exist, no
# autospawn), glimmerbox of A (and B) alternately RUNS times (default 5) with
# QT_QPA_PLATFORM=xcb. Once its window is viewable and VmRSS has moved less
# than 64 KiB for 2 s (at most 20 s), VmRSS, RssAnon and RssFile are read from
# /proc/PID/status and the distinct shared libraries from /proc/PID/maps.
# Prints every run, the medians, whether libavcodec is mapped and the largest
# mappings of A's last run (from /proc/PID/smaps).
# Command line: a 3 s 22050 Hz mono 16-bit voice made with sox; RUNS pairs of
# batches of BATCH back-to-back calls (default 20), A's batch then B's:
# glimmerbox-fx --robot --echo against sox's echo, --help against sox --help,
# and with OLDER_BUILD_DIR glimmerbox-fx of A against B. Prints the median
# time per call and the median of the pair-by-pair ratios, and the peak
# resident set of one call (GNU time's %M). Xvfb, x11-utils, SoX and GNU time
# are installed with apt-get when missing.
set -eu

here=$(cd "$(dirname "$0")/.." && pwd)
absolute() { case $1 in /*) echo "$1" ;; *) echo "$here/$1" ;; esac; }
a=$(absolute "${1:-build}")
b=${2:+$(absolute "$2")}
runs=${RUNS:-5}
batch=${BATCH:-20}
for build in $a $b; do
    for p in glimmerbox glimmerbox-fx; do [ -x "$build/$p" ] || { echo "compare-startup: $build/$p not found" >&2; exit 2; }; done
done

install_missing() { # command package
    command -v "$1" >/dev/null 2>&1 && return 0
    echo "compare-startup: installing $2" >&2
    if [ "$(id -u)" -eq 0 ]; then apt-get install -y "$2" >/dev/null; else sudo apt-get install -y "$2" >/dev/null; fi
}
install_missing Xvfb xvfb
install_missing xwininfo x11-utils
install_missing sox sox
install_missing /usr/bin/time time

work=$(mktemp -d "${TMPDIR:-/tmp}/compare-startup.XXXXXX")
xvfb='' app=''
trap '[ -z "$app" ] || kill -9 "$app" 2>/dev/null || :; [ -z "$xvfb" ] || { kill "$xvfb"; wait "$xvfb"; } 2>/dev/null || :; rm -rf "$work"' EXIT
trap 'exit 130' INT TERM
mkdir -m 700 "$work/run" "$work/home"
echo "autospawn = no" >"$work/client.conf"

Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb=$!
i=0
until [ -s "$work/display" ]; do
    i=$((i + 1))
    if [ "$i" -gt 100 ] || ! kill -0 "$xvfb" 2>/dev/null; then cat "$work/xvfb.log" >&2; exit 1; fi
    sleep 0.1
done
display=:$(head -n 1 "$work/display")

kib() { awk -v k="$1" '/^VmRSS|^RssAnon|^RssFile/ { v[$1] = $2 } END { print v[k ":"] }' "/proc/$app/status"; }
shown() { # a window of class glimmerbox is viewable
    DISPLAY=$display xwininfo -root -tree | awk '/\("glimmerbox" / { print $1 }' | while read -r id; do
        DISPLAY=$display xwininfo -id "$id" | grep -q IsViewable && echo yes
    done | grep -q yes
}

# One start of $1/glimmerbox: appends "vmrss anon file libraries avcodec" (KiB) to $2.
window() { # build results-file
    env -u DBUS_SESSION_BUS_ADDRESS DISPLAY="$display" QT_QPA_PLATFORM=xcb HOME="$work/home" \
        XDG_RUNTIME_DIR="$work/run" PULSE_SERVER="unix:$work/run/no-sound-server" \
        PULSE_CLIENTCONFIG="$work/client.conf" "$1/glimmerbox" >"$work/app.log" 2>&1 &
    app=$!
    ticks=0 steady=0 last=0 rest=no
    while [ "$ticks" -lt 80 ]; do
        sleep 0.25
        ticks=$((ticks + 1))
        kill -0 "$app" 2>/dev/null || { cat "$work/app.log" >&2; echo "compare-startup: $1/glimmerbox ended" >&2; exit 1; }
        rss=$(kib VmRSS)
        if [ $((rss - last)) -le 64 ] && [ $((last - rss)) -le 64 ] && shown; then steady=$((steady + 1)); else steady=0 last=$rss; fi
        [ "$steady" -ge 8 ] && { rest=yes; break; }
    done
    [ "$rest" = yes ] || echo "compare-startup: $1/glimmerbox not at rest after 20 s" >&2
    libs=$(awk '$6 ~ /\.so(\.[0-9]+)*$/ { print $6 }' "/proc/$app/maps" | sort -u | wc -l)
    avcodec=$(grep -q libavcodec "/proc/$app/maps" && echo yes || echo no)
    echo "$(kib VmRSS) $(kib RssAnon) $(kib RssFile) $libs $avcodec" >>"$2"
    awk '/^[0-9a-f]+-[0-9a-f]+ / { name = NF >= 6 ? $6 : "[anonymous]" } /^Rss:/ { r[name] += $2 }
        END { for (n in r) printf "%8d KiB  %s\n", r[n], n }' "/proc/$app/smaps" | sort -rn | head -n 12 >"$2.largest"
    kill "$app"
    ticks=0
    while kill -0 "$app" 2>/dev/null && [ "$ticks" -lt 20 ]; do sleep 0.25; ticks=$((ticks + 1)); done
    kill -9 "$app" 2>/dev/null || true
    wait "$app" 2>/dev/null || :
    app=
}
mib() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
col() { cut -d' ' -f"$2" "$1" | median; }
describe() { # results-file
    printf '%s MiB (RssAnon %s, RssFile %s), %s libraries, libavcodec mapped: %s' "$(mib "$(col "$1" 1)")" \
        "$(mib "$(col "$1" 2)")" "$(mib "$(col "$1" 3)")" "$(col "$1" 4)" "$(cut -d' ' -f5 "$1" | sort -u | paste -sd/)"
}

echo "date $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "window at rest under Xvfb (xcb), no sound server, $runs runs each:"
: >"$work/win-a.txt"
: >"$work/win-b.txt"
i=1
while [ "$i" -le "$runs" ]; do
    window "$a" "$work/win-a.txt"
    line="  run $i: A $(tail -n 1 "$work/win-a.txt" | awk '{ printf "%.1f MiB, %d libraries", $1 / 1024, $4 }')"
    if [ -n "$b" ]; then
        window "$b" "$work/win-b.txt"
        line="$line; B $(tail -n 1 "$work/win-b.txt" | awk '{ printf "%.1f MiB, %d libraries", $1 / 1024, $4 }')"
    fi
    echo "$line"
    i=$((i + 1))
done
echo "A $a: median VmRSS $(describe "$work/win-a.txt")"
if [ -n "$b" ]; then
    echo "B $b: median VmRSS $(describe "$work/win-b.txt")"
    awk -v x="$(col "$work/win-a.txt" 1)" -v y="$(col "$work/win-b.txt" 1)" 'BEGIN { printf "A/B resident set %.2f\n", x / y }'
fi
echo "largest mappings of A's last run by resident set:"
cat "$work/win-a.txt.largest"

voice=$work/voice.wav
sox -n -r 22050 -c 1 -b 16 "$voice" synth 3 sawtooth 100-180 band 800 600 tremolo 5 60 vol 0.5
timer=
fx_a() { $timer "$a/glimmerbox-fx" --robot --echo "$voice" "$work/out-a.wav"; }
fx_b() { $timer "$b/glimmerbox-fx" --robot --echo "$voice" "$work/out-b.wav"; }
sox_echo() { $timer sox "$voice" "$work/out-sox.wav" echo 0.8 0.9 300 0.5; }
help_a() { $timer "$a/glimmerbox-fx" --help; }
sox_help() { $timer sox --help; }
calls() { # count function: microseconds per call
    t0=$(date +%s%N)
    k=0
    while [ "$k" -lt "$1" ]; do "$2" >/dev/null 2>&1 || true; k=$((k + 1)); done
    echo $((($(date +%s%N) - t0) / $1 / 1000))
}
peak() { timer="/usr/bin/time -f %M -o $work/peak.txt"; "$1" >/dev/null 2>&1 || true; timer=; mib "$(cat "$work/peak.txt")"; }
compare() { # label function-a function-b
    for f in "$2" "$3"; do "$f" >/dev/null 2>&1 || { echo "compare-startup: $f failed" >&2; exit 1; }; done
    : >"$work/pairs.txt"
    n=1
    while [ "$n" -le "$runs" ]; do echo "$(calls "$batch" "$2") $(calls "$batch" "$3")" >>"$work/pairs.txt"; n=$((n + 1)); done
    awk -v label="$1" -v ta="$(cut -d' ' -f1 "$work/pairs.txt" | median)" -v tb="$(cut -d' ' -f2 "$work/pairs.txt" | median)" \
        -v r="$(awk '{ print $1 / $2 }' "$work/pairs.txt" | median)" -v pa="$(peak "$2")" -v pb="$(peak "$3")" \
        'BEGIN { printf "  %s: %.1f ms against %.1f ms per call, ratio %.2f; peak %s against %s MiB\n", label, ta / 1000, tb / 1000, r, pa, pb }'
}
echo "glimmerbox-fx, a 3 s voice at 22050 Hz mono 16-bit, $runs pairs of $batch calls (median time, median ratio of the pairs):"
compare "A --robot --echo / sox echo" fx_a sox_echo
compare "A --help / sox --help" help_a sox_help
[ -z "$b" ] || compare "A --robot --echo / B --robot --echo" fx_a fx_b
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
