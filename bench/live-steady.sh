#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Whether the live voice stays steady for a long run: nothing lost, repeated
# or changed between what comes in, what the program sends and what a
# client of glimmerbox_voice records, and no creeping CPU or memory.
#
#   bench/live-steady.sh BUILD_DIR
#
# For each server (SERVERS, default "pulseaudio pipewire"), two runs, each
# on a server started from nothing with tests/pulse-server.sh or
# tests/pipewire-server.sh in a private folder (PipeWire's cycle forced to
# QUANTUM frames, default 256, as in bench/live-latency.sh):
#   quiet    DURATION seconds (default 600);
#   burners  BURN_DURATION seconds (default DURATION) with BURNERS busy
#            loops (default 2; 0 leaves this run out) running throughout.
# A run: a null sink bench_feed and its remap source bench_feed_in (s16le,
# 22050 Hz, mono); glimmerbox-fx --live EFFECTS (default "--robot --pitch
# 3") --input bench_feed_in --keep-input IN --keep-output OUT, empty
# standard input; once it says "speak now", parec records glimmerbox_voice
# (--latency-msec=CAPTURE_MSEC, default 20: see bench/playback-gaps.sh),
# then half a second later pacat plays the seconds of bench/speechnoise.h's
# speech-like noise (deterministic, never repeating) into bench_feed in real
# time. A second after it has played, the program gets SIGINT, then the
# recording is stopped. Every EVERY seconds (default 10) the program's CPU
# time (utime+stime) and VmRSS are read from /proc.
# Afterwards: EXPECTED = glimmerbox-fx EFFECTS IN, the clip path over what
# came in, must equal OUT sample for sample; the recording is compared with
# OUT by bench/live-steady.py (gaps, repeats and inserted stretches, with
# their samples in brackets). One table per server; what went wrong below
# it. KEEP=DIR keeps each run's IN, OUT, EXPECTED and recording there (about
# 2.6 MB a minute each); otherwise all is removed at the end.
set -euo pipefail

if [ $# -ne 1 ] || [ ! -x "$1/glimmerbox-fx" ]; then
  echo "usage: $0 BUILD_DIR (with glimmerbox-fx built)" >&2
  exit 2
fi
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
source=$(cd "$here/.." && pwd)
fx="$build/glimmerbox-fx"
servers=${SERVERS:-pulseaudio pipewire}
duration=${DURATION:-600}
burners=${BURNERS:-2}
burn_duration=${BURN_DURATION:-$duration}
quantum=${QUANTUM:-256}
capture_msec=${CAPTURE_MSEC:-20}
every=${EVERY:-10}
effects=${EFFECTS:---robot --pitch 3}
keep=${KEEP:-}

work=$(mktemp -d "${TMPDIR:-/tmp}/live-steady.XXXXXX")
live=""
feeder=""
recorder=""
watcher=""
burner_pids=""
server_script=""
modules=""
cleanup() {
  for pid in $feeder $recorder $watcher $burner_pids; do kill "$pid" 2>/dev/null || true; done
  if [ -n "$live" ]; then
    kill -INT "$live" 2>/dev/null || true
    sleep 1
    kill -KILL "$live" 2>/dev/null || true
  fi
  for m in $modules; do pactl unload-module "$m" 2>/dev/null || true; done
  if [ -n "$server_script" ]; then bash "$server_script" stop "$work/server" >/dev/null 2>&1 || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
# shellcheck source=bench/servers.sh
source "$here/servers.sh"

# SECONDS of speech-like noise as raw s16le on standard output.
c++ -std=c++20 -O2 -I"$source" -x c++ -o "$work/speechnoise" - <<'CPP'
#include "bench/speechnoise.h"
#include <cstdio>
#include <cstdlib>
int main(int argc, char **argv)
{
    if (argc != 2)
        return 2;
    const auto x = SpeechLikeNoise(std::atoi(argv[1]) * BenchRate);
    return std::fwrite(x.data(), sizeof x[0], x.size(), stdout) == x.size() ? 0 : 1;
}
CPP

# Stops a background job of this script (in the background so that a
# signal to the script ends it at once).
finish() {
  kill "-${2:-TERM}" "$1" 2>/dev/null || true
  wait "$1" 2>/dev/null || true
}

# One run on a fresh server: run LABEL SECONDS BURNERS; prints its row.
run() {
  local label=$1 seconds=$2 nburn=$3 status=0
  [ -f "$work/feed$seconds.raw" ] || "$work/speechnoise" "$seconds" >"$work/feed$seconds.raw"
  rm -f "$work/in.wav" "$work/out.wav" "$work/expected.wav" "$work/rec.raw" "$work/usage" "$work/live.err"
  start_server
  [ "$server" != pipewire ] || pw-metadata -n settings 0 clock.force-quantum "$quantum" >/dev/null
  load module-null-sink sink_name=bench_feed format=s16le rate=22050 channels=1
  load module-remap-source source_name=bench_feed_in master=bench_feed.monitor channels=1
  wait_for_source bench_feed_in
  for _ in $(seq "$nburn"); do
    sh -c 'while :; do :; done' &
    burner_pids="$burner_pids $!"
  done
  # SIGINT as from a terminal: a script's background jobs ignore it.
  # shellcheck disable=SC2086 # EFFECTS is split at spaces
  env --default-signal=INT "$fx" --live $effects --input bench_feed_in \
    --keep-input "$work/in.wav" --keep-output "$work/out.wav" </dev/null >/dev/null 2>"$work/live.err" &
  live=$!
  for _ in $(seq 150); do
    grep -q "speak now" "$work/live.err" && break
    kill -0 "$live" 2>/dev/null || break
    sleep 0.1
  done
  if ! grep -q "speak now" "$work/live.err" || ! wait_for_source glimmerbox_voice; then
    echo "$label: the program did not start: $(head -c 300 "$work/live.err")"
    finish "$live" KILL
    live=""
  else
    parec --latency-msec="$capture_msec" -d glimmerbox_voice --raw --format=s16le --rate=22050 --channels=1 \
      >"$work/rec.raw" &
    recorder=$!
    python3 "$here/live-steady.py" watch "$live" "$every" "$work/usage" &
    watcher=$!
    for _ in $(seq 100); do
      [ -s "$work/rec.raw" ] && break
      sleep 0.05
    done
    sleep 0.5
    pacat --latency-msec=20 -d bench_feed --raw --format=s16le --rate=22050 --channels=1 "$work/feed$seconds.raw" &
    feeder=$!
    wait "$feeder" || echo "$label: pacat failed"
    feeder=""
    sleep 1
    finish "$watcher"
    watcher=""
    kill -INT "$live" 2>/dev/null || true
    for _ in $(seq 100); do kill -0 "$live" 2>/dev/null || break; sleep 0.1; done
    if kill -0 "$live" 2>/dev/null; then
      echo "$label: the program did not stop within 10 s of SIGINT"
      kill -KILL "$live"
    fi
    wait "$live" || status=$?
    live=""
    sleep 0.5
    finish "$recorder" INT
    recorder=""
  fi
  for pid in $burner_pids; do finish "$pid"; done
  burner_pids=""
  unload_all
  stop_server
  if [ $status -ne 0 ] || grep -v "speak now" "$work/live.err" | grep -q .; then
    echo "  $label: the program said (exit $status): $(grep -v "speak now" "$work/live.err" | head -c 300)" >>"$work/notes"
  fi
  [ -f "$work/out.wav" ] || { echo "$label: no OUT"; return 0; }
  # shellcheck disable=SC2086
  "$fx" $effects "$work/in.wav" "$work/expected.wav" >/dev/null
  python3 "$here/live-steady.py" row "$label" "$work/out.wav" "$work/expected.wav" "$work/rec.raw" \
    "$work/usage" "$work/notes"
  if [ -n "$keep" ]; then
    mkdir -p "$keep"
    for f in in.wav out.wav expected.wav rec.raw; do mv "$work/$f" "$keep/$server-${label// /-}-$f"; done
  fi
}

echo "$(bench_stamp), $fx $effects (built $(date -ur "$fx" '+%Y-%m-%d %H:%M UTC'))," \
  "$(git -C "$source" log -1 --format='%h %s' 2>/dev/null | cut -c1-60)"
echo "CPU% of one core between the first and last of the samples every ${every} s; parec --latency-msec=$capture_msec"
for server in $servers; do
  use_server "$server"
  rm -f "$work/notes"
  echo
  echo "== $server ($("$server" --version 2>/dev/null | tail -n 1))$([ "$server" = pipewire ] && echo ", clock.force-quantum $quantum")"
  python3 "$here/live-steady.py" header
  run quiet "$duration" 0
  [ "$burners" -eq 0 ] || run "$burners burn" "$burn_duration" "$burners"
  [ ! -f "$work/notes" ] || cat "$work/notes"
  echo "(load average after: $(cut -d' ' -f1-3 /proc/loadavg))"
done
