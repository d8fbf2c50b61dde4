# SPDX-License-Identifier: GPL-3.0-or-later
# Shell functions the bench scripts share, sourced once $source (the source
# tree) and $work (a scratch folder) are set:
#
#   use_server NAME      pulseaudio or pipewire: sets $server_script to
#                        tests/pulse-server.sh or tests/pipewire-server.sh
#   start_server         starts that server from nothing in $work/server and
#                        exports what a client needs to reach it
#   stop_server          stops it
#   load MODULE ARGS...  pactl load-module; the index in $module, and kept in
#                        $modules for unload and cleanup
#   unload INDEX
#   unload_all           unloads every module load loaded
#   wait_for_source NAME waits up to 10 s for the source to appear
#   pipewire_cycle       the cycle the PipeWire graph runs, read with
#                        pw-profiler
#   bench_stamp          date, nproc and load average, for a first line

use_server() {
  case "$1" in
  pulseaudio) server_script="$source/tests/pulse-server.sh" ;;
  pipewire) server_script="$source/tests/pipewire-server.sh" ;;
  *) echo "unknown server $1" >&2; return 2 ;;
  esac
}

start_server() {
  bash "$server_script" start "$work/server" >/dev/null
  local line
  while read -r line; do export "${line?}"; done < <(bash "$server_script" env "$work/server")
}

stop_server() {
  bash "$server_script" stop "$work/server" >/dev/null
}

load() {
  module=$(pactl load-module "$@")
  modules="$module ${modules:-}"
}

unload() {
  pactl unload-module "$1"
  modules=$(tr ' ' '\n' <<<"$modules" | grep -vx "$1" | tr '\n' ' ' || true)
}

unload_all() {
  local m
  for m in ${modules:-}; do unload "$m"; done
}

wait_for_source() {
  for _ in $(seq 100); do
    pactl list short sources | cut -f2 | grep -qx "$1" && return 0
    sleep 0.1
  done
  echo "no source $1 appeared" >&2
  return 1
}

bench_stamp() {
  echo "date $(date -u '+%Y-%m-%d %H:%M UTC'), nproc $(nproc), load average $(cut -d' ' -f1-3 /proc/loadavg)"
}

# The cycle the graph runs, from a second of pw-profiler's records (the
# fourth column is the cycle's length in microseconds).
pipewire_cycle() {
  (cd "$work" && timeout -s INT 1 pw-profiler -o "$work/profile.log" >/dev/null 2>&1) || true
  awk '{ n++; c = $4 } END { if (n) printf "%d us = %.0f frames at 22050 Hz", c, c * 22050 / 1e6; else print "unknown" }' \
    "$work/profile.log" 2>/dev/null || echo unknown
}
