// SPDX-License-Identifier: GPL-3.0-or-later
// A deterministic stand-in for speech: low-passed noise shaped into
// syllables of about a fifth of a second, with a short pause after every
// fourth, at 22050 samples per second.
#pragma once

#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

inline constexpr int32_t BenchRate = 22050;
inline constexpr int32_t TenMinutes = 10 * 60 * BenchRate; // 13,230,000 samples
inline constexpr int32_t TenSeconds = 10 * BenchRate;      // 220,500 samples

inline std::vector<int16_t> SpeechLikeNoise(int32_t count)
{
    std::vector<int16_t> x(static_cast<size_t>(count));
    uint32_t seed = 12345;
    double low = 0.0;
    constexpr int32_t Syllable = 4410; // 0.2 s
    for (int32_t i = 0; i < count; ++i) {
        seed = seed * 1664525u + 1013904223u;
        const double white = static_cast<double>(static_cast<int32_t>(seed >> 16) - 32768);
        low += 0.2 * (white - low);
        const int32_t syllable = i / Syllable;
        const double phase = static_cast<double>(i % Syllable) / Syllable;
        const double envelope = syllable % 5 == 4 ? 0.0 : 0.5 - 0.5 * std::cos(2 * std::numbers::pi * phase);
        x[static_cast<size_t>(i)] = static_cast<int16_t>(std::lround(low * envelope * 0.9));
    }
    return x;
}
