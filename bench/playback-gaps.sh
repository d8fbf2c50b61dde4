#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Gaps in what glimmerbox-fx --play delivers to the sound server, counted
# sample for sample from the speaker's monitor, on both servers.
#
#   bench/playback-gaps.sh BUILD_DIR
#
# For each server (SERVERS, default "pulseaudio pipewire"), started from
# nothing with tests/pulse-server.sh or tests/pipewire-server.sh in a
# private folder:
#   fresh   PLAYS times (default 20): a fresh server, the recording of
#           glimmer_speaker.monitor started and running, one play of a
#           3-second clip, the server stopped;
#   loaded  one fresh server, BURNERS busy loops (default 2) running, one
#           play of a LOAD_SECONDS clip (default 60; 0 leaves it out),
#           recorded the same way;
#   stalled STALL_PLAYS times (default 10): one play of the 3-second clip
#           on one fresh server whose process that serves the PulseAudio
#           protocol (pulseaudio, pipewire-pulse) is held for STALL_MS
#           (default 15) every 200 ms, as a machine too busy to run it
#           would; STALL_PLAYS=0 leaves it out. CLIENT_STALL_MS=MS holds
#           glimmerbox-fx instead, for MS every second: the time the server's
#           queue gives a player that does not get the processor.
# Each recording is compared with the clip by bench/playback-gaps.py: one
# line per play, the discontinuities it found below it, and per server and
# kind the number of plays with a fault and the gaps in all.
#
# The recording runs with --latency-msec=CAPTURE_MSEC (default 20): without
# it parec keeps up to 128 KiB it has not written out, lost when it is
# stopped, which looks like a clip losing its end. On PipeWire the recording's
# latency also sets the graph's cycle when it is the shortest asked for (20 ms
# gives 256-sample cycles at 22050 Hz): CAPTURE_MSEC=50 leaves the cycle to
# the player. KEEP=DIR keeps the clips and every faulty recording there.
set -euo pipefail

if [ $# -ne 1 ] || [ ! -x "$1/glimmerbox-fx" ]; then
  echo "usage: $0 BUILD_DIR (with glimmerbox-fx built)" >&2
  exit 2
fi
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
source=$(cd "$here/.." && pwd)
plays=${PLAYS:-20}
load_seconds=${LOAD_SECONDS:-60}
burners=${BURNERS:-2}
stall_plays=${STALL_PLAYS:-10}
stall_ms=${STALL_MS:-15}
client_stall_ms=${CLIENT_STALL_MS:-}
servers=${SERVERS:-pulseaudio pipewire}
capture_msec=${CAPTURE_MSEC:-20}
keep=${KEEP:-}

work=$(mktemp -d "${TMPDIR:-/tmp}/playback-gaps.XXXXXX")
recorder=""
staller=""
burner_pids=""
server_script=""
cleanup() {
  [ -n "$recorder" ] && kill "$recorder" 2>/dev/null || true
  [ -n "$staller" ] && kill "$staller" 2>/dev/null || true
  for pid in $burner_pids; do kill "$pid" 2>/dev/null || true; done
  [ -n "$server_script" ] && bash "$server_script" stop "$work/server" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
# shellcheck source=bench/servers.sh
source "$here/servers.sh"

python3 "$here/playback-gaps.py" clip 3 "$work/clip3.wav"
[ "$load_seconds" -gt 0 ] && python3 "$here/playback-gaps.py" clip "$load_seconds" "$work/cliplong.wav"

# Records the speaker's monitor into $work/rec.raw until stop_recording,
# and returns once the recording delivers.
start_recording() {
  rm -f "$work/rec.raw"
  parec --latency-msec="$capture_msec" -d glimmer_speaker.monitor --raw --format=s16le --rate=22050 --channels=1 \
    >"$work/rec.raw" &
  recorder=$!
  for _ in $(seq 100); do
    [ -s "$work/rec.raw" ] && break
    sleep 0.05
  done
  sleep 0.2
}

stop_recording() {
  sleep 0.5
  kill -INT "$recorder" 2>/dev/null || true
  wait "$recorder" 2>/dev/null || true
  recorder=""
}

# Plays CLIP and prints the checker's verdict as one line, details indented.
play_and_check() {
  local clip=$1 label=$2 status=0 verdict
  start_recording
  "$build/glimmerbox-fx" --play "$clip" "$work/out.wav" >/dev/null 2>"$work/fx.err" &
  local player=$!
  if [ -n "$client_stall_ms" ]; then
    python3 "$here/playback-gaps.py" stall "$player" "$client_stall_ms" 1000 &
    staller=$!
  fi
  wait "$player" || status=$?
  stop_recording
  if ! verdict=$(python3 "$here/playback-gaps.py" check "$clip" "$work/rec.raw") && [ -n "$keep" ]; then
    mkdir -p "$keep"
    cp "$clip" "$keep/"
    cp "$work/rec.raw" "$keep/${label// /-}.raw"
  fi
  printf '%s: %s%s\n' "$label" "$(tail -n 1 <<<"$verdict")" "$([ $status -ne 0 ] && echo " (glimmerbox-fx failed: $(head -c 200 "$work/fx.err"))")"
  head -n -1 <<<"$verdict" | sed 's/^/    /'
  tail -n 1 <<<"$verdict" >>"$work/summaries"
}

# Totals of the summary lines written since the last call.
totals() {
  local label=$1
  [ -f "$work/summaries" ] || return 0
  awk -v label="$label" '{
      plays++; bad = 0
      for (i = 1; i <= NF; i++) { split($i, kv, "="); sum[kv[1]] += kv[2]; if (kv[2] > 0) bad = 1 }
      faulty += bad
    } END {
      printf "TOTAL %s: %d plays, %d with a fault; gaps=%d inserted=%d skipped=%d wrong=%d missing_end=%d\n",
        label, plays, faulty, sum["gaps"], sum["inserted"], sum["skipped"], sum["wrong"], sum["missing_end"]
    }' "$work/summaries"
  rm -f "$work/summaries"
}

echo "$(bench_stamp)," \
  "capture latency ${capture_msec} ms, $build/glimmerbox-fx," \
  "$(git -C "$source" log -1 --format='%h %s' 2>/dev/null | cut -c1-70)"
for server in $servers; do
  use_server "$server"
  for i in $(seq "$plays"); do
    start_server
    play_and_check "$work/clip3.wav" "$server fresh $i"
    stop_server
  done
  totals "$server fresh, 3 s clip"
  [ "$load_seconds" -gt 0 ] || continue

  start_server
  for _ in $(seq "$burners"); do
    sh -c 'while :; do :; done' &
    burner_pids="$burner_pids $!"
  done
  play_and_check "$work/cliplong.wav" "$server loaded ($burners burners), ${load_seconds} s clip"
  for pid in $burner_pids; do kill "$pid" 2>/dev/null || true; done
  burner_pids=""
  stop_server
  totals "$server loaded, ${load_seconds} s clip"
done
for server in $servers; do
  [ "$stall_plays" -gt 0 ] || continue
  use_server "$server"
  start_server
  if [ "$server" = pulseaudio ]; then
    pid=$(tr -dc '0-9' <"$work/server/runtime/pulse/pid")
  else
    pid=""
    for p in $(cat "$work/server/pids"); do
      [ "$(cat "/proc/$p/comm" 2>/dev/null)" = pipewire-pulse ] && pid=$p
    done
  fi
  for i in $(seq "$stall_plays"); do
    if [ -n "$client_stall_ms" ]; then
      play_and_check "$work/clip3.wav" "$server player stalled ${client_stall_ms} ms $i"
    else
      python3 "$here/playback-gaps.py" stall "$pid" "$stall_ms" 200 &
      staller=$!
      play_and_check "$work/clip3.wav" "$server stalled ${stall_ms} ms $i"
    fi
    kill "$staller" 2>/dev/null || true
    wait "$staller" 2>/dev/null || true
    staller=""
  done
  stop_server
  if [ -n "$client_stall_ms" ]; then
    totals "$server player stalled ${client_stall_ms} ms every second, 3 s clip"
  else
    totals "$server stalled ${stall_ms} ms every 200 ms, 3 s clip"
  fi
done
