// SPDX-License-Identifier: GPL-3.0-or-later
// One fuzz input through the media plugin's reader, and once more through
// the sound-file reader the program opens files with:
//
//   bytes -> a memfd (no disk)
//     -> plugin Open --(refused)--> ReadSoundFile gives no voice, unless
//          |                         libsndfile knows the file
//          +-> Read in blocks of 4096, 1 and 333 frames until it gives 0,
//          |   fails, or MaxFuzzSamples have come
//          |     every call: no more frames than asked, nothing written
//          |     past them, every sample finite
//          +-> (read to its end, and libsndfile does not know the file)
//                ReadSoundFile on /proc/self/fd/N: a voice exactly when the
//                rate is one the program takes, as long as the frames at
//                22050 Hz (within a sample), and at 22050 Hz the very
//                samples of the frames read, mixed down and rounded
//
// No descriptor may be left open. Any broken promise aborts, so the fuzzer
// keeps the input.
//
// The pass through ReadSoundFile costs more than the plugin's own: the
// fuzzer made 2700 inputs a second without it and 730 with it (its
// buffers, a megabyte or more each time, dominate under AddressSanitizer).
// The fuzzer therefore makes it for one input in four, chosen by the
// input's bytes, so that an input always takes the same path; the replay
// test makes it for every input.
#pragma once

#include "audio/mediaplugin.h"

#include <cstddef>
#include <cstdint>
#include <string>

// The most samples (frames x channels) one input may decode: about 95 s of
// mono at 44100 Hz. A few KB of FLAC or Opus can hold hours of silence;
// reading stops here, and such an input skips the second read.
inline constexpr int64_t MaxFuzzSamples = int64_t{1} << 22;

// What happened to one input, for the replay test to check against what
// each seed is.
struct TMediaFuzzResult {
    int Opened = -1;         // the plugin's Open result
    GlimmerMediaInfo Info{}; // on GLIMMER_MEDIA_OK
    int64_t Frames = 0;      // frames Read gave in all
    int64_t ReadFailure = 0; // a negative Read result, else 0
    bool Ended = false;      // Read gave 0 before the bound
    bool SndfileKnows = false;
    int32_t VoiceBytes = -1; // ReadSoundFile's byte count; -1: no voice, or not run
};

// Loads the plugin from folder (aborts when it cannot: a fuzzer without
// its plugin would fuzz nothing). Call before the first input.
void FuzzMediaSetUp(const std::string &pluginFolder);
// soundFilePass: also read the input with ReadSoundFile.
TMediaFuzzResult FuzzMediaInput(const uint8_t *data, std::size_t size, bool soundFilePass);
// True for one input in four, the same each time for the same bytes.
bool SoundFilePassSampled(const uint8_t *data, std::size_t size);
