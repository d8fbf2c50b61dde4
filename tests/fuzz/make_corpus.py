#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Writes the fuzzer's seed corpus (tests/fuzz/corpus): small WAVE files in
every layout the reader takes, with and without the settings chunk, and the
hostile shapes the reader's own tests use (sizes that lie, chunks that run
past their parent, files cut short). Run it again after adding a shape."""
import os
import struct

HERE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")


def chunk(cid, payload, size=None, pad=True):
    out = cid + struct.pack("<I", len(payload) if size is None else size) + payload
    if pad and len(payload) % 2:
        out += b"\0"
    return out


def fmt(channels, rate, bits, tag=1, extra=b""):
    align = channels * bits // 8
    return struct.pack("<HHIIHH", tag, channels, rate, rate * align, align, bits) + extra


def riff(chunks, size=None, form=b"WAVE"):
    body = form + b"".join(chunks)
    return b"RIFF" + struct.pack("<I", len(body) if size is None else size) + body


def samples16(values):
    return b"".join(struct.pack("<h", v) for v in values)


def record(words):
    data = [0] * 257
    for index, value in words.items():
        data[index] = value & 0xFFFF
    return b"".join(struct.pack("<H", w) for w in data)


SAW = samples16([(i * 2731) % 65536 - 32768 for i in range(64)])
BYTES = bytes((i * 37) & 0xFF for i in range(64))
ALL_ON = record({0: 14, **{i: 1 for i in range(1, 12)}, 12: 3, 13: 1, 14: 1})
ECHO = record({0: 14, 1: 1, 12: 6})
SHORT_COUNT = record({0: 12, 13: 1, 14: 1, 12: 9})

cases = {}
for bits in (8, 16):
    for channels in (1, 2):
        for rate in (11025, 22050, 44100):
            data = BYTES if bits == 8 else SAW
            name = "layout-%dbit-%dch-%d" % (bits, channels, rate)
            cases[name] = riff([chunk(b"fmt ", fmt(channels, rate, bits)), chunk(b"data", data)])
            cases[name + "-settings"] = riff([chunk(b"fmt ", fmt(channels, rate, bits, extra=b"\0\0\0\0")),
                                              chunk(b"qmbl", ALL_ON), chunk(b"data", data)])

fmt16 = chunk(b"fmt ", fmt(1, 22050, 16))
some = chunk(b"data", samples16([1, 2, 3, 4]))
cases.update({
    "settings-echo": riff([fmt16, chunk(b"qmbl", ECHO), chunk(b"data", SAW)]),
    "settings-count-12": riff([fmt16, chunk(b"qmbl", SHORT_COUNT), chunk(b"data", SAW)]),
    "settings-wrong-size": riff([fmt16, chunk(b"qmbl", ECHO[:100]), chunk(b"data", SAW)]),
    "settings-after-data": riff([fmt16, chunk(b"data", SAW), chunk(b"qmbl", ECHO)]),
    "odd-data": riff([fmt16, chunk(b"data", SAW[:7])]),
    "empty-data": riff([fmt16, chunk(b"data", b"")]),
    "list-before-data": riff([fmt16, chunk(b"LIST", b"INFOjunk"), some]),
    "fmt-18": riff([chunk(b"fmt ", fmt(1, 22050, 16, extra=b"\0\0")), some]),
    "data-size-4g": riff([fmt16, chunk(b"data", samples16([5, -5, 6]), 0xFFFFFFFF, False)], 0xFFFFFFFF),
    "data-larger-than-file": riff([chunk(b"fmt ", fmt(1, 11025, 16)), chunk(b"data", samples16([300, -300]), 1000)]),
    "riff-ends-after-data-header": riff([fmt16, some], 4 + 24 + 8),
    "riff-ends-inside-samples": riff([fmt16, some], 4 + 24 + 8 + 3),
    "riff-size-0": riff([fmt16, some], 0),
    "riff-ends-inside-fmt": riff([fmt16, some], 20),
    "fmt-size-0": riff([chunk(b"fmt ", b""), some]),
    "fmt-size-max": riff([chunk(b"fmt ", fmt(1, 22050, 16), 0xFFFFFFFF), some]),
    "fmt-past-end": riff([chunk(b"fmt ", b"\x01\x00\x01\x00", 16)]),
    "chunk-wraps-to-itself": riff([fmt16, chunk(b"LIST", b"\0" * 4, 0xFFFFFFF8), some]),
    "chunk-wraps-to-start": riff([fmt16, chunk(b"LIST", b"\0" * 4, 0xFFFFFFD0), some]),
    "qmbl-size-max": riff([fmt16, chunk(b"qmbl", b"\x09" * 514, 0xFFFFFFFF), some]),
    "qmbl-cut-short": riff([fmt16, chunk(b"qmbl", b"\x09" * 100, 514)]),
    "data-header-cut": riff([fmt16, b"data\x04\x00"]),
    "only-riff": b"RIFF",
    "riff-in-riff": riff([chunk(b"RIFF", riff([fmt16, some]))]),
    "rate-48000": riff([chunk(b"fmt ", fmt(1, 48000, 16)), some]),
    "three-channels": riff([chunk(b"fmt ", fmt(3, 22050, 16)), some]),
    "24-bit": riff([chunk(b"fmt ", fmt(1, 22050, 24)), some]),
    "tag-3": riff([chunk(b"fmt ", fmt(1, 22050, 16, tag=3)), some]),
    "not-wave": riff([fmt16, some], form=b"AVI "),
    # Chunk walks: an id of four zero bytes ends them, as does a size past
    # the parent; the settings chunk moves the data search after it.
    "zeros-only": b"\0" * 64,
    "zeros-before-riff": b"\0" * 8 + riff([fmt16, some]),
    "zero-id-before-data": riff([fmt16, b"\0" * 8, some]),
    "zero-id-after-data": riff([fmt16, some, b"\0" * 8, chunk(b"qmbl", ECHO)]),
    "zero-id-sized": riff([fmt16, b"\0\0\0\0\x10\0\0\0" + b"\0" * 16, some]),
    "tiny-chunks": riff([fmt16] + [chunk(b"JUNK", b"")] * 500 + [some]),
    "tiny-odd-chunks": riff([fmt16] + [chunk(b"JUNK", b"j")] * 300 + [chunk(b"qmbl", ECHO), some]),
    "data-qmbl-data": riff([fmt16, some, chunk(b"qmbl", ECHO), chunk(b"data", SAW)]),
    "short-qmbl-then-qmbl": riff([fmt16, chunk(b"qmbl", ECHO[:100]), chunk(b"qmbl", ECHO), some]),
    "data-past-riff": riff([fmt16, chunk(b"data", samples16([1, 2]), 1000, False)], 4 + 24 + 8),
    "chunk-past-riff": riff([fmt16, chunk(b"JUNK", b"\0" * 4, 64), some], 4 + 24 + 12),
    "chunk-past-riff-then-riff": riff([fmt16, chunk(b"JUNK", b"\0" * 4, 64)], 4 + 24 + 12) + riff([fmt16, some]),
    "rf64-qmbl": b"RF64\xff\xff\xff\xff" + riff([chunk(b"ds64", b"\0" * 28), fmt16, chunk(b"qmbl", ECHO), some])[8:],
    "rate-1hz": riff([chunk(b"fmt ", fmt(1, 1, 16)), some]),
    "rate-768001": riff([chunk(b"fmt ", fmt(1, 768001, 16)), some]),
})

os.makedirs(HERE, exist_ok=True)
for name, data in sorted(cases.items()):
    with open(os.path.join(HERE, name + ".wav"), "wb") as out:
        out.write(data)
print("%d seeds in %s" % (len(cases), HERE))
