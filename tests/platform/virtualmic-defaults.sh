#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Whether a server ever makes the virtual microphone a default, on a bare
# server of its own where no default was ever chosen (the test servers have
# chosen defaults, which both servers keep whatever the priorities):
#
#   virtualmic-defaults.sh pulseaudio|pipewire DIR OWNER
#
# OWNER (glimmer_virtualmic_owner) offers Glimmerbox Voice first, so that
# it is the only sink and source there is and becomes the default; then a
# plain null sink and a remap source of its monitor come, with the
# priorities such devices have by default. The server must move both
# defaults to them. Without the lowest priority it keeps ours: PulseAudio
# keeps a tie on the device it has, and PipeWire's session manager on the
# first one it finds. When OWNER ends, the plain ones stay the defaults.
set -euo pipefail

kind=$1
dir=$2
owner=$3
rm -rf "$dir"
mkdir -p "$dir/runtime/pulse" "$dir/home" "$dir/state" "$dir/config"
chmod 700 "$dir/runtime" "$dir/runtime/pulse"
export XDG_RUNTIME_DIR="$dir/runtime" HOME="$dir/home" XDG_STATE_HOME="$dir/state" XDG_CONFIG_HOME="$dir/config"
export PULSE_SERVER="unix:$dir/runtime/pulse/native" PULSE_CLIENTCONFIG="$dir/client.conf"
export DBUS_SESSION_BUS_ADDRESS="unix:path=$dir/runtime/bus"
unset PULSE_SINK PULSE_SOURCE PIPEWIRE_REMOTE PIPEWIRE_RUNTIME_DIR || true
echo "autospawn = no" >"$dir/client.conf"

pids=()
stop_all() {
  exec 3>&- 2>/dev/null || true
  if [ "$kind" = pulseaudio ] && [ -f "$dir/runtime/pulse/pid" ]; then
    kill "$(cat "$dir/runtime/pulse/pid")" 2>/dev/null || true
  fi
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    kill -TERM -- "-${pids[i]}" 2>/dev/null || kill -TERM "${pids[i]}" 2>/dev/null || true
  done
}
trap stop_all EXIT
launch() {
  setsid "$@" >>"$dir/server.log" 2>&1 </dev/null &
  pids+=($!)
}

if [ "$kind" = pulseaudio ]; then
  pulseaudio --daemonize=yes -n --use-pid-file=yes --exit-idle-time=-1 --system=no --realtime=no \
    --high-priority=no --log-target="file:$dir/server.log" \
    --load="module-native-protocol-unix auth-anonymous=1 socket=$dir/runtime/pulse/native"
else
  launch dbus-daemon --session --nofork --nopidfile --address="$DBUS_SESSION_BUS_ADDRESS"
  for _ in $(seq 50); do [ -S "$dir/runtime/bus" ] && break; sleep 0.1; done
  launch pipewire
  for _ in $(seq 50); do [ -S "$dir/runtime/pipewire-0" ] && break; sleep 0.1; done
  launch wireplumber
  launch pipewire-pulse
fi
for _ in $(seq 100); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done

# Settles: PipeWire's session manager chooses defaults a moment after a change.
defaults() {
  sleep 1
  echo "$(pactl get-default-sink) $(pactl get-default-source)"
}

mkfifo "$dir/hold"
"$owner" <"$dir/hold" >"$dir/owner.out" &
owner_pid=$!
exec 3>"$dir/hold"
for _ in $(seq 50); do [ -s "$dir/owner.out" ] && break; sleep 0.1; done
read -r sink source <"$dir/owner.out"
echo "alone: $(defaults)"

pactl load-module module-null-sink sink_name=plain format=s16le rate=22050 channels=1 >/dev/null
pactl load-module module-remap-source source_name=plain_in master=plain.monitor channels=1 >/dev/null
now=$(defaults)
echo "with plain devices: $now"
if [ "$now" != "plain plain_in" ]; then
  echo "FAIL: the server keeps $sink / $source as defaults beside plain devices" >&2
  exit 1
fi

exec 3>&-
wait "$owner_pid"
now=$(defaults)
echo "after the owner ended: $now"
if [ "$now" != "plain plain_in" ]; then
  echo "FAIL: the defaults changed when the owner ended" >&2
  exit 1
fi
echo "the defaults went to the plain devices"
