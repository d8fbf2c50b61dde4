#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""The pieces of bench/live-steady.sh that work on numbers.

  live-steady.py watch PID EVERY FILE   appends "seconds cpu_seconds rss_kib"
                                        for process PID to FILE now, every
                                        EVERY seconds and once more when ended
                                        (SIGTERM), until PID is gone
  live-steady.py row LABEL OUT.wav EXPECTED.wav REC.raw USAGE NOTES
                                        prints one table row: OUT against
                                        EXPECTED, the recording against OUT,
                                        the CPU and the resident set; what
                                        went wrong, one line each, to NOTES

OUT against EXPECTED: equal sample for sample, or where they first differ.

The recording (raw s16le of glimmerbox_voice) against OUT, what the program
sent: the first distinctive stretch of the recording is found in OUT and
both are walked together from there to OUT's last sound (its silent tail
may or may not be played before the program ends). Where they part, the
walk finds its place again (a distinctive stretch of MATCH samples of the
recording, looked for in OUT within a second of where it was) and says
what happened at that OUT sample:
  end       the last samples of OUT (less than half a second) not in the
            recording: sent, but not played before the program ended
  gap       OUT samples missing from the recording (anything recorded in
            their place is counted with them)
  repeat    OUT samples recorded a second time
  inserted  samples in the recording that were not in OUT (silence while
            nothing arrived), nothing of OUT lost
A stretch is distinctive when few of its samples are zero and it is loud
enough not to be found elsewhere by chance; the quiet ends of syllables are
walked over but not used to find a place.
"""
import array
import os
import signal
import sys
import time
import wave

RATE = 22050
MATCH = 32
CHUNK = 4096


def read_wave(path):
    with wave.open(path, "rb") as w:
        if w.getnchannels() != 1 or w.getsampwidth() != 2:
            raise SystemExit("%s: not 16-bit mono" % path)
        rate = w.getframerate()
        data = w.readframes(w.getnframes())
    return data, rate


def samples(data):
    a = array.array("h")
    a.frombytes(data[: len(data) - len(data) % 2])
    if sys.byteorder == "big":
        a.byteswap()
    return a


def watch(pid, every, path):
    tick = os.sysconf("SC_CLK_TCK")
    out = open(path, "a", buffering=1)

    def sample():
        try:
            with open("/proc/%d/stat" % pid) as f:
                fields = f.read().rsplit(")", 1)[1].split()
            with open("/proc/%d/status" % pid) as f:
                rss = next(int(l.split()[1]) for l in f if l.startswith("VmRSS:"))
        except (FileNotFoundError, ProcessLookupError, StopIteration):
            return False
        # Fields 14 and 15 of stat, utime and stime, in clock ticks.
        cpu = (int(fields[11]) + int(fields[12])) / tick
        out.write("%.3f %.2f %d\n" % (time.monotonic(), cpu, rss))
        return True

    def end(*_):
        sample()
        sys.exit(0)

    signal.signal(signal.SIGTERM, end)
    signal.signal(signal.SIGINT, end)
    while sample():
        time.sleep(every)


def usage(path):
    """CPU % of one core between the first and last sample; RSS in MiB at
    the start, the sample nearest the middle and the end."""
    rows = []
    with open(path) as f:
        for line in f:
            t, c, r = line.split()
            rows.append((float(t), float(c), int(r)))
    if len(rows) < 2:
        return "?", "?"
    t0, c0, r0 = rows[0]
    t1, c1, r1 = rows[-1]
    mid = min(rows, key=lambda row: abs(row[0] - (t0 + t1) / 2))
    cpu = "%.1f" % (100.0 * (c1 - c0) / (t1 - t0))
    return cpu, "%.1f/%.1f/%.1f" % (r0 / 1024, mid[2] / 1024, r1 / 1024)


def same(out, expected):
    """'yes' or where OUT and EXPECTED first differ."""
    if out == expected:
        return "yes", None
    n = min(len(out), len(expected))
    if out[: 2 * n] == expected[: 2 * n]:
        return "no", "OUT has %d samples, EXPECTED %d, equal over the first %d" % (
            len(out) // 2, len(expected) // 2, n // 2)
    a, b = samples(out), samples(expected)
    lo, hi = 0, min(len(a), len(b))
    while hi - lo > CHUNK:  # first unequal chunk by halves, then sample by sample
        mid = (lo + hi) // 2
        if a[lo:mid] == b[lo:mid]:
            lo = mid
        else:
            hi = mid
    i = next(i for i in range(lo, hi) if a[i] != b[i])
    return "no", "OUT and EXPECTED first differ at sample %d (%.3f s): %d against %d (%d and %d samples)" % (
        i, i / RATE, a[i], b[i], len(a), len(b))


def distinctive(x, p):
    w = x[p : p + MATCH]
    return len(w) == MATCH and w.count(0) <= 2 and sum(abs(v) for v in w) >= 64 * MATCH


def find_near(out_b, rec_b, p, lo, hi):
    """The OUT sample where the recording's MATCH samples from p are, looked
    for from OUT sample lo to hi; None when not there."""
    needle = rec_b[2 * p : 2 * p + 2 * MATCH]
    at = out_b.find(needle, 2 * lo, 2 * hi + 2 * MATCH)
    while at != -1 and at % 2:
        at = out_b.find(needle, at + 1, 2 * hi + 2 * MATCH)
    return None if at == -1 else at // 2


def walk(out_b, rec_b):
    """(counts, events) for the recording rec_b of what went out, out_b."""
    out, rec = samples(out_b), samples(rec_b)
    counts = {"gaps": [0, 0], "repeats": [0, 0], "inserted": [0, 0], "end": [0, 0]}
    events = []
    stripped = out_b.rstrip(b"\0")
    end = (len(stripped) + 1) // 2  # past OUT's last sound
    first = (len(out_b) - len(out_b.lstrip(b"\0"))) // 2
    if end == 0:
        return counts, ["OUT is silent"], None
    def lost(j, why):
        # The last samples sent before the program ends need not be played.
        kind = "end" if end - j < RATE // 2 else "gaps"
        counts[kind][0] += 1
        counts[kind][1] += end - j
        events.append("OUT sample %d (%.3f s): %s; %d samples to OUT's end (%.1f ms) not recorded" % (
            j, j / RATE, why, end - j, 1000.0 * (end - j) / RATE))

    # Where the recording starts in OUT.
    j = None
    for k in range(len(rec) - MATCH):
        if distinctive(rec, k):
            j = find_near(out_b, rec_b, k, 0, len(out))
            if j is not None:
                break
    if j is None:
        return counts, ["nothing of OUT was found in the recording"], None
    while j > 0 and k > 0 and out[j - 1] == rec[k - 1]:
        j, k = j - 1, k - 1
    start = j
    if start > first:
        events.append("the recording starts at OUT sample %d (%.3f s), OUT's sound at %d" % (start, start / RATE, first))
    while j < end:
        n = min(CHUNK, end - j, len(rec) - k)
        if n <= 0:
            lost(j, "the recording ends")
            break
        if out_b[2 * j : 2 * j + 2 * n] == rec_b[2 * k : 2 * k + 2 * n]:
            j += n
            k += n
            continue
        i = next(i for i in range(n) if out[j + i] != rec[k + i])
        j += i
        k += i
        # They part at OUT sample j: where does OUT go on?
        found = None
        p = k
        while p < len(rec) - MATCH and p - k < 2 * RATE:
            if distinctive(rec, p):
                found = find_near(out_b, rec_b, p, max(0, j - RATE), j + RATE)
                if found is not None:
                    break
            p += 1
        if found is None:
            lost(j, "OUT not found again in 2 s of the recording")
            break
        # Back from there as far as they agree.
        j2, k2 = found, p
        while k2 > k and j2 > 0 and (found < j or j2 > j) and out[j2 - 1] == rec[k2 - 1]:
            j2, k2 = j2 - 1, k2 - 1
        between = k2 - k
        zeros = rec[k:k2].count(0)
        if j2 > j:
            kind, what = "gaps", "%d samples missing, %d recorded in their place (%d zero)" % (j2 - j, between, zeros)
            size = j2 - j
        elif j2 < j:
            kind, what = "repeats", "%d samples recorded again, %d recorded between" % (j - j2, between)
            size = j - j2
        else:
            kind, what = "inserted", "%d samples inserted (%d zero)" % (between, zeros)
            size = between
        counts[kind][0] += 1
        counts[kind][1] += size
        events.append("OUT sample %d (%.3f s): %s" % (j, j / RATE, what))
        j, k = j2, k2
    return counts, events, (start, end)


def row(label, out_path, expected_path, rec_path, usage_path, notes_path):
    out_b, out_rate = read_wave(out_path)
    expected_b, expected_rate = read_wave(expected_path)
    notes = []
    equal, why = same(out_b, expected_b)
    if out_rate != expected_rate:
        equal, why = "no", "OUT at %d Hz, EXPECTED at %d Hz" % (out_rate, expected_rate)
    if why:
        notes.append(why)
    with open(rec_path, "rb") as f:
        rec_b = f.read()
    rec_b = rec_b[: len(rec_b) - len(rec_b) % 2]
    counts, events, span = walk(out_b, rec_b)
    if span:
        notes.append("walked OUT samples %d..%d (%.1f s) against %d recorded" % (
            span[0], span[1], (span[1] - span[0]) / RATE, len(rec_b) // 2))
    notes += events[:20]
    if len(events) > 20:
        notes.append("... %d more" % (len(events) - 20))
    cpu, rss = usage(usage_path)
    with open(notes_path, "a") as f:
        for note in notes:
            f.write("  %s: %s\n" % (label, note))
    print("%-10s %6.1f  %-7s %-10s %-10s %-10s %-5s %5s  %s" % (
        label, len(out_b) / 2 / RATE, equal,
        "%d (%d)" % tuple(counts["gaps"]), "%d (%d)" % tuple(counts["repeats"]),
        "%d (%d)" % tuple(counts["inserted"]), counts["end"][1], cpu, rss))


HEADER = "%-10s %6s  %-7s %-10s %-10s %-10s %-5s %5s  %s" % (
    "run", "OUT s", "OUT=EXP", "gaps (smp)", "repeats", "inserted", "end", "CPU%", "RSS MiB start/mid/end")


def main(argv):
    if len(argv) == 5 and argv[1] == "watch":
        watch(int(argv[2]), float(argv[3]), argv[4])
        return 0
    if len(argv) == 2 and argv[1] == "header":
        print(HEADER)
        return 0
    if len(argv) == 8 and argv[1] == "row":
        row(*argv[2:])
        return 0
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
