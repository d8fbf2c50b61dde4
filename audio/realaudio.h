// SPDX-License-Identifier: GPL-3.0-or-later
// Writing the processed clip as a RealAudio file: RealAudio 1.0 speech
// (14.4 kbit/s family, 8000 Hz mono, one 20-byte block per 20 ms) in a
// RealMedia container, both made by FFmpeg's libavcodec and libavformat.
#pragma once

#include "audio/progress.h"

#include <cstddef>
#include <cstdint>
#include <string>

// The rate and frame of the RealAudio 1.0 encoder: 160 samples at 8000 Hz.
inline constexpr uint32_t RealAudioSampleRate = 8000;
inline constexpr int RealAudioFrameSamples = 160;

// Writes count 16-bit mono samples at sampleRate (any rate from 1000 to
// 192000 Hz) to fileName as a RealAudio file: the clip is resampled to
// 8000 Hz and encoded frame by frame a block of input at a time, its last
// frame filled out with silence; the writer needs about 1 MiB beside the
// clip however long it is. The file is written beside fileName (beside the file it leads to,
// when it is a symbolic link) under a hidden temporary name and renamed over
// it only when complete, keeping an existing file's permissions; on any
// failure the temporary file is removed, a file already at fileName stays as
// it was, false is returned and error says why in a short sentence. count 0
// writes a valid file with no audio. gauge, when given, gets
// ResetProgress(100) and runs to 100 as the frames are encoded.
bool WriteRealAudioFile(const std::string &fileName, const int16_t *samples, std::size_t count, uint32_t sampleRate,
                        ProgressGauge *gauge, std::string &error);
