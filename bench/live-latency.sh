#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# How long a click takes from the live voice's input to its virtual
# microphone, on both servers, next to a plain module-loopback.
#
#   bench/live-latency.sh BUILD_DIR
#
# For each server (SERVERS, default "pulseaudio pipewire"), started from
# nothing with tests/pulse-server.sh or tests/pipewire-server.sh in a
# private folder:
# - on PipeWire the graph's cycle is forced to QUANTUM frames (default 256,
#   11.6 ms at 22050 Hz) with pw-metadata's clock.force-quantum, and the
#   cycle the graph then runs is read back with pw-profiler; PulseAudio has
#   no such cycle: each null sink runs at the latency its streams ask for;
# - the feed: a null sink bench_feed (s16le, 22050 Hz, mono) and
#   bench_feed_in, a module-remap-source on its monitor, the program's input;
# - the baseline: module-loopback source=bench_feed_in sink=bench_out
#   latency_msec=N into a null sink bench_out, for each N in LOOPBACK_MSEC
#   (default "5 20"; empty for none), measured on bench_out.monitor; the
#   first run also records bench_feed_in a second time, which shows the
#   method's own error;
# - the program: LIVE_CMD (split at spaces; default BUILD_DIR/glimmerbox-fx
#   --live --pitch 6 --input bench_feed_in, no effects), measured on
#   glimmerbox_voice once it has said "speak now" on stderr (standard input
#   empty: no new selections), then stopped with SIGINT; left out, with a
#   note, when LIVE_CMD is not set and glimmerbox-fx has no --live.
# Both the loopback and the program run for a second before the probe
# starts, which plays a second of silence before the first click.
# Each measurement is one run of bench/live-latency.c: CLICKS (default 100)
# clicks every INTERVAL_MS (default 300) into bench_feed; see its header for
# how the clicks are dated and what the columns are. Everything started
# here is stopped at the end, on failure too.
set -euo pipefail

if [ $# -ne 1 ] || [ ! -d "$1" ]; then
  echo "usage: $0 BUILD_DIR" >&2
  exit 2
fi
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
source=$(cd "$here/.." && pwd)
servers=${SERVERS:-pulseaudio pipewire}
clicks=${CLICKS:-100}
interval=${INTERVAL_MS:-300}
quantum=${QUANTUM:-256}
loopback_msec=${LOOPBACK_MSEC-5 20}
live_cmd=${LIVE_CMD:-}
if [ -z "$live_cmd" ] && "$build/glimmerbox-fx" --help 2>&1 | grep -q -- '--live'; then
  live_cmd="$build/glimmerbox-fx --live --pitch 6 --input bench_feed_in"
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/live-latency.XXXXXX")
live=""
prober=""
server_script=""
modules=""
cleanup() {
  if [ -n "$prober" ]; then kill "$prober" 2>/dev/null || true; fi
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

# shellcheck disable=SC2046
cc -O2 -o "$work/live-latency" "$here/live-latency.c" $(pkg-config --cflags --libs libpulse) -lm

# In the background, so that a signal to this script ends it at once.
probe() {
  "$work/live-latency" -c "$clicks" -i "$interval" bench_feed bench_feed_in "$@" &
  prober=$!
  wait "$prober"
}

echo "$(bench_stamp)," \
  "$clicks clicks every $interval ms, $(git -C "$source" log -1 --format='%h %s' 2>/dev/null | cut -c1-60)"
[ -z "$live_cmd" ] || echo "program: $live_cmd (built $(date -ur "${live_cmd%% *}" '+%Y-%m-%d %H:%M UTC' 2>/dev/null))"
for server in $servers; do
  use_server "$server"
  start_server
  if [ "$server" = pipewire ]; then
    pw-metadata -n settings 0 clock.force-quantum "$quantum" >/dev/null
    sleep 0.5
    cycle="clock.force-quantum $quantum, cycle $(pipewire_cycle)"
  else
    cycle="no graph cycle; null sinks follow their streams' latency"
  fi
  echo
  echo "== $server ($("$server" --version 2>/dev/null | tail -n 1)); $cycle"
  load module-null-sink sink_name=bench_feed format=s16le rate=22050 channels=1
  load module-remap-source source_name=bench_feed_in master=bench_feed.monitor channels=1
  load module-null-sink sink_name=bench_out format=s16le rate=22050 channels=1
  wait_for_source bench_feed_in
  wait_for_source bench_out.monitor
  "$work/live-latency" --header
  self="bench_feed_in again (method)=bench_feed_in"
  for n in $loopback_msec; do
    load module-loopback source=bench_feed_in sink=bench_out latency_msec="$n"
    sleep 1
    probe ${self:+"$self"} "loopback latency_msec=$n=bench_out.monitor"
    self=""
    unload "$module"
  done
  if [ -z "$live_cmd" ]; then
    echo "(no program: $build/glimmerbox-fx has no --live and LIVE_CMD is not set)"
  else
    # SIGINT as from a terminal: a script's background jobs ignore it.
    # shellcheck disable=SC2086 # LIVE_CMD is split at spaces
    env --default-signal=INT $live_cmd </dev/null 2>"$work/live.err" >/dev/null &
    live=$!
    for _ in $(seq 150); do
      grep -q "speak now" "$work/live.err" && break
      kill -0 "$live" 2>/dev/null || break
      sleep 0.1
    done
    if grep -q "speak now" "$work/live.err" && wait_for_source glimmerbox_voice; then
      sleep 1
      probe "$(basename "${live_cmd%% *}") --live=glimmerbox_voice" || true
    else
      echo "(the program did not say \"speak now\": $(head -c 300 "$work/live.err"))"
    fi
    kill -INT "$live" 2>/dev/null || true
    for _ in $(seq 50); do kill -0 "$live" 2>/dev/null || break; sleep 0.1; done
    if kill -0 "$live" 2>/dev/null; then
      echo "(the program did not stop on SIGINT within 5 s)"
      kill -KILL "$live"
    fi
    wait "$live" 2>/dev/null || true
    live=""
    if pactl list short sources | cut -f2 | grep -qx glimmerbox_voice; then
      echo "(glimmerbox_voice is still there after the program ended)"
    fi
  fi
  unload_all
  stop_server
done
