#!/usr/bin/env bash
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
#   glimmer_headphones a second null sink; it plays what the mic hears
#   glimmer_tone       a null sink that a 440 Hz sine generator plays into
#   glimmer_line       sine source, 1000 Hz (default source)
#   glimmer_mic        the tone sink's monitor as an ordinary source: a live
#                      440 Hz sine at half of full scale (peak 16384)
#
# Why the mic is built this way: module-sine-source has a fixed latency of
# two seconds and hands out its sine in two-second bursts, so a one-second
# recording from it gets either nothing or two seconds. The tone sink runs
# in real time because the loopback to the headphones asks it for a short
# latency; its monitor then delivers the sine as time passes, like a real
# microphone.
set -euo pipefail

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
    --load="module-null-sink sink_name=glimmer_tone format=s16le rate=22050 channels=1 sink_properties=device.description=Glimmer-Tone" \
    --load="module-sine sink=glimmer_tone frequency=440" \
    --load="module-sine-source source_name=glimmer_line rate=22050 frequency=1000 source_properties=device.description=Glimmer-Line" \
    --load="module-remap-source source_name=glimmer_mic master=glimmer_tone.monitor channels=1 source_properties=device.description=Glimmer-Mic" \
    --load="module-loopback source=glimmer_mic sink=glimmer_headphones latency_msec=30" \
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
  # The tone sink still renders two seconds ahead until the loopback's short
  # latency takes hold: wait until the mic delivers in real time.
  for _ in $(seq 30); do
    n=$( (timeout 0.3 parec --latency-msec=20 -d glimmer_mic --raw --format=s16le --rate=22050 --channels=1 || true) | wc -c)
    if [ "$n" -ge 4000 ]; then
      break
    fi
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
