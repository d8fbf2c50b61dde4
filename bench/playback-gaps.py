#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Clips for bench/playback-gaps.sh, and the count of what went wrong in a
recording of them.

  playback-gaps.py clip SECONDS OUT.wav     writes a 22050 Hz mono 16-bit clip
  playback-gaps.py check CLIP.wav REC.raw   compares a raw s16le recording of
                                            the sink's monitor with the clip
  playback-gaps.py stall PID MS EVERY_MS    holds process PID (SIGSTOP) for MS
                                            milliseconds every EVERY_MS, as a
                                            busy machine holds a server, until
                                            it is ended (SIGTERM)

The clip is noise from a fixed seed with every sample at least 500 away from
silence, so that any run of 16 samples is found again in it by position.
The checker finds the clip's first sample in the recording, then walks both
together. Where they part it says what happened at that clip sample:
silence inserted (and how long), samples skipped or repeated, or wrong
samples, then finds its place again in the clip. It prints one line per
discontinuity and a summary line:

  gaps=N inserted=SAMPLES skipped=SAMPLES wrong=SAMPLES missing_end=SAMPLES

and exits 0 when the clip came back whole, 1 otherwise.
"""
import os
import random
import signal
import struct
import sys
import time
import wave

RATE = 22050
MATCH = 16  # samples that must agree to find the place again


def make_clip(seconds, path):
    rng = random.Random(20261207)
    samples = []
    for _ in range(int(seconds * RATE)):
        v = rng.randint(500, 20000)
        samples.append(v if rng.random() < 0.5 else -v)
    with wave.open(path, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes(struct.pack("<%dh" % len(samples), *samples))


def read_clip(path):
    with wave.open(path, "rb") as w:
        data = w.readframes(w.getnframes())
    return list(struct.unpack("<%dh" % (len(data) // 2), data))


def read_raw(path):
    with open(path, "rb") as f:
        data = f.read()
    data = data[: len(data) - len(data) % 2]
    return list(struct.unpack("<%dh" % (len(data) // 2), data))


def check(clip, rec):
    """Returns (events, summary) for a recording rec of clip."""
    index = {}
    for j in range(len(clip) - MATCH + 1):
        index.setdefault(tuple(clip[j : j + MATCH]), j)
    events = []
    summary = {"gaps": 0, "inserted": 0, "skipped": 0, "wrong": 0, "missing_end": 0}
    k = next((i for i, v in enumerate(rec) if abs(v) >= 500), None)
    if k is None:
        summary["missing_end"] = len(clip)
        events.append("nothing of the clip was recorded")
        return events, summary
    if rec[k : k + MATCH] != clip[:MATCH]:
        events.append("the recording does not start with the clip's first samples")
        summary["gaps"] += 1
    j = 0
    while j < len(clip):
        if k >= len(rec):
            summary["missing_end"] = len(clip) - j
            events.append("clip sample %d: recording ends, %d samples missing" % (j, len(clip) - j))
            break
        if rec[k] == clip[j]:
            k += 1
            j += 1
            continue
        # They part at clip sample j: where does the clip go on?
        start = k
        silent = 0
        while k < len(rec) and rec[k] == 0:
            k += 1
            silent += 1
        found = None
        probe = k
        while probe + MATCH <= len(rec) and probe - start < RATE:
            found = index.get(tuple(rec[probe : probe + MATCH]))
            if found is not None and found >= j - RATE and found <= j + RATE:
                break
            found = None
            probe += 1
        summary["gaps"] += 1
        if found is None:
            summary["missing_end"] = len(clip) - j
            events.append("clip sample %d: the rest of the clip is not found (%d zeros first)" % (j, silent))
            break
        junk = probe - k
        if junk >= MATCH:
            # What came in their place: a stretch of the clip from elsewhere
            # (a cycle played twice, or out of turn) or something else.
            source = index.get(tuple(rec[k : k + MATCH]))
            if source is not None and rec[k : k + junk] == clip[source : source + junk]:
                junk_what = ", those being clip samples %d.. (%+d)" % (source, source - j)
            else:
                junk_what = ", those being no stretch of the clip"
        else:
            junk_what = ""
        if found == j:
            summary["inserted"] += silent + junk
            what = "%d samples inserted (%d silent)" % (silent + junk, silent)
        elif found > j:
            summary["skipped"] += found - j
            summary["wrong"] += silent + junk
            what = "%d samples skipped, %d recorded in their place" % (found - j, silent + junk)
        else:
            summary["inserted"] += silent + junk + (j - found)
            what = "%d samples repeated, %d recorded between" % (j - found, silent + junk)
        events.append("clip sample %d (%.3f s): %s%s" % (j, j / RATE, what, junk_what))
        k = probe
        j = found
    return events, summary


def stall(pid, ms, every_ms):
    def end(*_):
        # Whether or not it is held at this moment.
        try:
            os.kill(pid, signal.SIGCONT)
        except ProcessLookupError:
            pass
        sys.exit(0)

    signal.signal(signal.SIGTERM, end)
    signal.signal(signal.SIGINT, end)
    rng = random.Random(pid)
    while True:
        # A random phase each time, so that stalls fall anywhere in a cycle.
        time.sleep((every_ms - ms) * rng.uniform(0.5, 1.5) / 1000.0)
        os.kill(pid, signal.SIGSTOP)
        time.sleep(ms / 1000.0)
        os.kill(pid, signal.SIGCONT)


def stall_until_gone(pid, ms, every_ms):
    try:
        stall(pid, ms, every_ms)
    except ProcessLookupError:
        pass  # the process has ended


def main(argv):
    if len(argv) == 4 and argv[1] == "clip":
        make_clip(float(argv[2]), argv[3])
        return 0
    if len(argv) == 4 and argv[1] == "check":
        events, summary = check(read_clip(argv[2]), read_raw(argv[3]))
        for event in events:
            print(event)
        print(" ".join("%s=%d" % item for item in summary.items()))
        return 0 if summary["gaps"] == 0 and summary["missing_end"] == 0 else 1
    if len(argv) == 5 and argv[1] == "stall":
        stall_until_gone(int(argv[2]), float(argv[3]), float(argv[4]))
        return 0
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
