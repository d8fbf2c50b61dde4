#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# A private PulseAudio server for one test run.
#
#   tests/pulse-server.sh start DIR   start it (stopping a leftover one first)
#   tests/pulse-server.sh stop DIR    stop it
#   tests/pulse-server.sh env DIR     print the variables a client needs
#
# Everything lives under DIR: the runtime directory (socket and pid file),
# a home directory, the log and a client.conf that forbids autospawn. The
# socket is DIR/runtime/pulse/native.
#
# Devices:
#   glimmer_speaker    null sink, s16le mono 22050 Hz, no rewinds, so its
#                      monitor gives back exactly what was played (default)
#   glimmer_headphones a second null sink; it plays what the inputs hear
#   glimmer_tone1000,  null sinks that sine generators play into, at 1000
#   glimmer_tone440    and 440 Hz
#   glimmer_line       tone1000's monitor as an ordinary source: a live
#                      1000 Hz sine at half of full scale (default source)
#   glimmer_mic        tone440's monitor the same way: 440 Hz, peak 16384
#   glimmer_sine       the server's own sine source, 660 Hz
# Recording inputs in the server's order: 0 line, 1 mic, 2 sine.
#
# Why line and mic are built this way: module-sine-source has a fixed
# latency of two seconds and hands out its sine in bursts of up to two
# seconds, so a short recording from it gets nothing or far too much. A
# tone sink runs in real time once its loopback to the headphones asks it
# for a short latency; its monitor then delivers the sine as time passes,
# like a real microphone. The loopbacks read the monitors, not line and mic:
# streams on the default source move along when the default changes.
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
pidfile="$runtime/pulse/pid"

client_env() {
  export XDG_RUNTIME_DIR="$runtime"
  export HOME="$dir/home"
  export PULSE_SERVER="unix:$socket"
  export PULSE_CLIENTCONFIG="$dir/client.conf"
  unset PULSE_SINK PULSE_SOURCE DBUS_SESSION_BUS_ADDRESS || true
}

server_pid() {
  if [ -f "$pidfile" ]; then
    local pid
    pid=$(tr -dc '0-9' <"$pidfile")
    if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
      echo "$pid"
    fi
  fi
}

stop_server() {
  local pid
  pid=$(server_pid)
  if [ -n "$pid" ]; then
    kill -TERM "$pid" 2>/dev/null || true
    for _ in $(seq 50); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    if kill -0 "$pid" 2>/dev/null; then
      kill -KILL "$pid" 2>/dev/null || true
    fi
  fi
  rm -f "$pidfile" "$socket"
}

case "$cmd" in
start)
  command -v pulseaudio >/dev/null || { echo "pulseaudio is not installed" >&2; exit 1; }
  command -v pactl >/dev/null || { echo "pactl (pulseaudio-utils) is not installed" >&2; exit 1; }
  stop_server
  mkdir -p "$runtime/pulse" "$dir/home/.config/pulse"
  chmod 700 "$runtime" "$runtime/pulse"
  echo "autospawn = no" >"$dir/client.conf"
  client_env
  # -n: no default script, only the modules below. The server stays until
  # it is stopped, whatever happens to its clients.
  pulseaudio --daemonize=yes -n --use-pid-file=yes --exit-idle-time=-1 \
    --disallow-exit=no --system=no --high-priority=no --realtime=no \
    --log-target="file:$dir/pulse.log" --log-level=notice \
    --load="module-native-protocol-unix auth-anonymous=1 socket=$socket" \
    --load="module-null-sink sink_name=glimmer_speaker format=s16le rate=22050 channels=1 norewinds=1 sink_properties=device.description=Glimmer-Speaker" \
    --load="module-null-sink sink_name=glimmer_headphones format=s16le rate=22050 channels=1 sink_properties=device.description=Glimmer-Headphones" \
    --load="module-null-sink sink_name=glimmer_tone1000 format=s16le rate=22050 channels=1 sink_properties=device.description=Glimmer-Tone-1000" \
    --load="module-sine sink=glimmer_tone1000 frequency=1000" \
    --load="module-remap-source source_name=glimmer_line master=glimmer_tone1000.monitor channels=1 source_properties=device.description=Glimmer-Line" \
    --load="module-loopback source=glimmer_tone1000.monitor sink=glimmer_headphones latency_msec=30" \
    --load="module-null-sink sink_name=glimmer_tone440 format=s16le rate=22050 channels=1 sink_properties=device.description=Glimmer-Tone-440" \
    --load="module-sine sink=glimmer_tone440 frequency=440" \
    --load="module-remap-source source_name=glimmer_mic master=glimmer_tone440.monitor channels=1 source_properties=device.description=Glimmer-Mic" \
    --load="module-loopback source=glimmer_tone440.monitor sink=glimmer_headphones latency_msec=30" \
    --load="module-sine-source source_name=glimmer_sine rate=22050 frequency=660 source_properties=device.description=Glimmer-Sine" \
    2>>"$dir/pulse.log"
  for _ in $(seq 100); do
    if pactl info >/dev/null 2>&1; then
      break
    fi
    sleep 0.1
  done
  if ! pactl info >/dev/null 2>&1; then
    echo "the sound server did not start; see $dir/pulse.log" >&2
    tail -n 20 "$dir/pulse.log" >&2 || true
    stop_server
    exit 1
  fi
  pactl set-default-sink glimmer_speaker
  pactl set-default-source glimmer_line
  # The tone sinks still render two seconds ahead until the loopbacks'
  # short latency takes hold: wait until both inputs deliver in real time.
  for input in glimmer_line glimmer_mic; do
    for _ in $(seq 30); do
      n=$( (timeout 0.3 parec --latency-msec=20 -d $input --raw --format=s16le --rate=22050 --channels=1 || true) | wc -c)
      if [ "$n" -ge 4000 ]; then
        break
      fi
    done
  done
  echo "sound server running at $socket"
  ;;
stop)
  client_env
  stop_server
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
