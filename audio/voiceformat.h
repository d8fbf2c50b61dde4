// SPDX-License-Identifier: GPL-3.0-or-later
// The one PCM format of every sample buffer in the program.
#pragma once

#include <cstdint>

struct TWaveFormat {
    uint16_t FormatTag; // 1 = PCM
    uint16_t Channels;
    uint32_t SamplesPerSec;
    uint32_t AvgBytesPerSec;
    uint16_t BlockAlign;
    uint16_t BitsPerSample;
    uint16_t ExtraSize;
};

// 22050 samples per second, 16 bits, mono.
inline constexpr TWaveFormat VoiceFormat{1, 1, 22050, 44100, 2, 16, 0};
