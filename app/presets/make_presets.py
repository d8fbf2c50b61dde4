#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Makes the three preset voices SF1.WAV, SF2.WAV and SF3.WAV.

Each is a few seconds of speech spoken by espeak-ng, stored as 22050 Hz,
16-bit mono PCM with the program's "qmbl" settings chunk, so that pressing
the preset button shows its own set of effects.

Run from anywhere: python3 app/presets/make_presets.py
"""
import os
import struct
import subprocess
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))

# Word order of the settings record.
WORDS = ["Echo", "Chorus", "Flange", "FadeIn", "FadeOut", "BassOnly", "Robotvoice",
         "Backward", "SlowMonster", "FastSqueaker", "TrebleOnly", "PitchPosition",
         "SweepUp", "SweepDown"]

PRESETS = [
    ("SF1.WAV", ["-v", "en+m3", "-s", "150", "-p", "40"],
     "Greetings, earthling. Take me to your sandwich. Resistance is crunchy.",
     {"Robotvoice": 1, "Echo": 1}),
    ("SF2.WAV", ["-v", "en+m7", "-s", "130", "-p", "30"],
     "I am the monster under your bed, and I have lost my other sock.",
     {"SlowMonster": 1, "Chorus": 1, "FadeIn": 1}),
    ("SF3.WAV", ["-v", "en+f3", "-s", "170", "-p", "70"],
     "Wheee! I just swallowed a whole balloon full of helium!",
     {"PitchPosition": 3, "SweepUp": 1, "Flange": 1}),
]


def settings_record(values):
    words = [0] * 257
    words[0] = 14
    words[12] = 6
    for name, value in values.items():
        words[1 + WORDS.index(name)] = value
    return struct.pack("<257H", *words)


def speak(args, text):
    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "voice.wav")
        subprocess.run(["espeak-ng", *args, "-w", path, text], check=True)
        subprocess.run(["sox", path, "-r", "22050", "-c", "1", "-b", "16", "-e", "signed-integer",
                        os.path.join(tmp, "out.raw")], check=True)
        with open(os.path.join(tmp, "out.raw"), "rb") as f:
            return f.read()


def wave_with_settings(samples, record):
    n = len(samples)
    pad = b"\0" if n % 2 else b""
    fmt = struct.pack("<HHIIHHHH", 1, 1, 22050, 44100, 2, 16, 0, 0)
    body = (b"WAVE" + b"fmt " + struct.pack("<I", 20) + fmt
            + b"qmbl" + struct.pack("<I", 514) + record
            + b"data" + struct.pack("<I", n) + samples + pad)
    return b"RIFF" + struct.pack("<I", len(body)) + body


def main():
    for name, args, text, values in PRESETS:
        data = wave_with_settings(speak(args, text), settings_record(values))
        with open(os.path.join(HERE, name), "wb") as f:
            f.write(data)
        print(f"{name}: {len(data)} bytes")


if __name__ == "__main__":
    main()
