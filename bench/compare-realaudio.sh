#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# The RealAudio export of two builds of glimmerbox-fx side by side: for every
# INPUT and every output rate (22050 Hz, 11025 Hz with --slow-monster, 44100
# Hz with --fast-squeaker) both write a .ra file, the two are compared byte
# for byte with cmp, and each run's peak resident memory is printed (from
# /usr/bin/time's %M, in KiB).
#
#   bench/compare-realaudio.sh OLD_FX NEW_FX INPUT...
#
# Exits 1 when any pair of files differs, or one build writes a file the
# other does not.
set -eu

if [ $# -lt 3 ]; then
    echo "usage: $0 OLD_FX NEW_FX INPUT..." >&2
    exit 2
fi
old=$1
new=$2
shift 2

work=$(mktemp -d "${TMPDIR:-/tmp}/compare-realaudio.XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM

echo "date $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
status=0
for input in "$@"; do
    for option in "" --slow-monster --fast-squeaker; do
        for side in old new; do
            eval "fx=\$$side"
            # An option left empty is left out, not passed as an empty word.
            /usr/bin/time -f %M -o "$work/$side.kib" "$fx" $option "$input" "$work/$side.ra" 2>/dev/null ||
                rm -f "$work/$side.ra"
        done
        result=same
        if [ -e "$work/old.ra" ] && [ -e "$work/new.ra" ]; then
            cmp -s "$work/old.ra" "$work/new.ra" || { result=DIFFERENT; status=1; }
        elif [ -e "$work/old.ra" ] || [ -e "$work/new.ra" ]; then
            result="written by one build only"
            status=1
        else
            result="written by neither"
        fi
        echo "$input ${option:-(22050 Hz)}: $result; peak KiB old $(tail -n 1 "$work/old.kib"), new $(tail -n 1 "$work/new.kib")"
        rm -f "$work/old.ra" "$work/new.ra"
    done
done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
exit $status
