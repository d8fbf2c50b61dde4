#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# A private PipeWire server, speaking the PulseAudio protocol through
# pipewire-pulse, for one test run: the same devices as tests/pulse-server.sh
# so that every sound test runs against both.
#
#   tests/pipewire-server.sh start DIR   start it (stopping a leftover one first)
#   tests/pipewire-server.sh stop DIR    stop it
#   tests/pipewire-server.sh env DIR     print the variables a client needs
#
# Everything lives under DIR: the runtime folder (the session bus, PipeWire's
# and pipewire-pulse's sockets), the configuration, a home folder, the logs,
# the pids and a client.conf that forbids autospawn. The PulseAudio socket is
# DIR/runtime/pulse/native.
#
# Four processes: a private dbus-daemon --session, pipewire, wireplumber (the
# session manager that links streams to devices) and pipewire-pulse.
#
# How it differs from the PulseAudio server:
# - The graph runs at 22050 Hz and may switch to 11025 or 44100 Hz for a
#   stream at that rate when nothing else plays, so that what comes back from
#   a monitor is what was played, sample for sample. Devices carry float
#   samples inside; 16-bit samples pass through them unchanged.
# - There is no module-sine or module-sine-source: each tone sink is fed by a
#   pacat that plays one second of sine (a whole number of periods) over and
#   over. The sink runs in real time, so its monitor, offered as an ordinary
#   source through module-remap-source, delivers the tone as time passes.
# - Null sinks are driven by the graph's own clock, so no loopbacks are
#   needed to keep the tones in real time.
#
# Devices (as in tests/pulse-server.sh):
#   glimmer_speaker    null sink, mono 22050 Hz (default output)
#   glimmer_headphones a second null sink
#   glimmer_line       1000 Hz sine, peak 16384 (default source)
#   glimmer_mic        440 Hz sine, peak 16384
#   glimmer_sine       660 Hz sine, peak 16384
# Recording inputs in the server's order: 0 line, 1 mic, 2 sine.
set -euo pipefail
trap 'echo "$0: line $LINENO failed: $BASH_COMMAND" >&2' ERR

cmd=${1:-}
dir=${2:-}
if [ -z "$cmd" ] || [ -z "$dir" ]; then
  echo "usage: $0 start|stop|env DIR" >&2
  exit 2
fi
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)

runtime="$dir/runtime"
socket="$runtime/pulse/native"
bus="$runtime/bus"
pids="$dir/pids"

client_env() {
  export XDG_RUNTIME_DIR="$runtime"
  export XDG_CONFIG_HOME="$dir/config"
  export HOME="$dir/home"
  export XDG_STATE_HOME="$dir/state"
  export PULSE_SERVER="unix:$socket"
  export PULSE_CLIENTCONFIG="$dir/client.conf"
  export DBUS_SESSION_BUS_ADDRESS="unix:path=$bus"
  unset PULSE_SINK PULSE_SOURCE PIPEWIRE_REMOTE PIPEWIRE_RUNTIME_DIR || true
}

stop_all() {
  if [ -f "$pids" ]; then
    # Newest first: the players and pipewire-pulse before the graph.
    local list
    list=$(tac "$pids" | tr -dc '0-9\n')
    # Each was started in a session of its own: end its whole group.
    for pid in $list; do
      kill -TERM -- "-$pid" 2>/dev/null || kill -TERM "$pid" 2>/dev/null || true
    done
    for pid in $list; do
      for _ in $(seq 50); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
      done
      kill -KILL -- "-$pid" 2>/dev/null || kill -KILL "$pid" 2>/dev/null || true
    done
    rm -f "$pids"
  fi
  rm -rf "$runtime"
}

# Starts a command in its own session, logging to DIR/NAME.log.
launch() {
  local name=$1
  shift
  setsid "$@" >>"$dir/$name.log" 2>&1 </dev/null &
  echo $! >>"$pids"
}

# One second of a sine at 22050 Hz, 16-bit mono, peak 16384.
sine_second() {
  perl -e 'my $f = shift; print pack("s<*", map { int(16384 * sin(2 * 3.14159265358979 * $f * $_ / 22050)) } 0 .. 22049)' "$1"
}

# Plays FILE into SINK over and over, until pacat ends (then cat fails on
# the closed pipe and the loop ends too). A quarter of a second queued keeps
# the tone whole on a busy machine.
feed_tone() {
  local sink=$1 file=$2
  launch "tone-$sink" bash -c "while cat '$file'; do :; done | pacat --raw --format=s16le --rate=22050 --channels=1 --latency-msec=250 -d $sink"
}

case "$cmd" in
start)
  for tool in pipewire pipewire-pulse wireplumber dbus-daemon pactl pacat perl; do
    command -v "$tool" >/dev/null || { echo "$tool is not installed" >&2; exit 1; }
  done
  stop_all
  # Every start is a fresh server: wireplumber would otherwise give the
  # devices the volumes and defaults it saved before a restart.
  rm -rf "$dir/home" "$dir/state"
  mkdir -p "$runtime" "$dir/home" "$dir/state" "$dir/config/pipewire/pipewire.conf.d"
  chmod 700 "$runtime"
  echo "autospawn = no" >"$dir/client.conf"
  cat >"$dir/config/pipewire/pipewire.conf.d/glimmer.conf" <<'EOF'
context.properties = {
    default.clock.rate          = 22050
    default.clock.allowed-rates = [ 11025 22050 44100 48000 ]
}
EOF
  client_env
  rm -f "$dir"/*.log
  launch dbus dbus-daemon --session --nofork --nopidfile --address="unix:path=$bus"
  for _ in $(seq 50); do [ -S "$bus" ] && break; sleep 0.1; done
  launch pipewire pipewire
  for _ in $(seq 50); do [ -S "$runtime/pipewire-0" ] && break; sleep 0.1; done
  launch wireplumber wireplumber
  launch pipewire-pulse pipewire-pulse
  for _ in $(seq 100); do
    pactl info >/dev/null 2>&1 && break
    sleep 0.1
  done
  if ! pactl info >/dev/null 2>&1; then
    echo "the PipeWire server did not start; see $dir/*.log" >&2
    tail -n 20 "$dir"/*.log >&2 || true
    stop_all
    exit 1
  fi
  null_sink() {
    pactl load-module module-null-sink sink_name="$1" format=s16le rate=22050 channels=1 \
      "sink_properties=device.description=$2" >/dev/null
  }
  null_sink glimmer_speaker Glimmer-Speaker
  null_sink glimmer_headphones Glimmer-Headphones
  for tone in 1000:line:Glimmer-Line 440:mic:Glimmer-Mic 660:sine:Glimmer-Sine; do
    IFS=: read -r freq name description <<<"$tone"
    null_sink "glimmer_tone$freq" "Glimmer-Tone-$freq"
    pactl load-module module-remap-source source_name="glimmer_$name" master="glimmer_tone$freq.monitor" \
      channels=1 "source_properties=device.description=$description" >/dev/null
    sine_second "$freq" >"$dir/tone$freq.raw"
  done
  # Wait until wireplumber has seen the devices, then make them the defaults.
  for _ in $(seq 50); do
    pactl list short sinks | grep -q glimmer_speaker && pactl list short sources | grep -q glimmer_sine && break
    sleep 0.1
  done
  # (Until wireplumber has put up its metadata, setting a default answers
  # "Not supported".)
  for _ in $(seq 50); do
    pactl set-default-sink glimmer_speaker 2>/dev/null && pactl set-default-source glimmer_line 2>/dev/null && break
    sleep 0.1
  done
  pactl set-default-sink glimmer_speaker
  pactl set-default-source glimmer_line
  for freq in 1000 440 660; do
    feed_tone "glimmer_tone$freq" "$dir/tone$freq.raw"
  done
  # Wait until the inputs deliver.
  for input in glimmer_line glimmer_mic glimmer_sine; do
    for _ in $(seq 30); do
      n=$( (timeout 0.3 parec --latency-msec=20 -d $input --raw --format=s16le --rate=22050 --channels=1 || true) |
        tr -d '\000' | wc -c)
      if [ "$n" -ge 2000 ]; then
        break
      fi
    done
  done
  echo "PipeWire server running at $socket"
  ;;
stop)
  client_env
  stop_all
  ;;
env)
  echo "XDG_RUNTIME_DIR=$runtime"
  echo "PULSE_SERVER=unix:$socket"
  echo "PULSE_CLIENTCONFIG=$dir/client.conf"
  ;;
*)
  echo "usage: $0 start|stop|env DIR" >&2
  exit 2
  ;;
esac
