// SPDX-License-Identifier: GPL-3.0-or-later
// Helpers that several tests of the signal routines share: counting gauge
// advances, the pseudo-random clips the Python references were run on,
// tones, and Round(7x / 10) worked out in integers.
#pragma once

#include "audio/progress.h"
#include "effects/effectset.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <numbers>
#include <vector>

// A gauge wide enough never to clamp, so Progress counts the advances.
struct CountingGauge : ProgressGauge {
    CountingGauge() { ResetProgress(*this, 1 << 30); }
};

// The clips of the Python references: s = s * 1103515245 + 12345 (mod 2^31)
// from the seed, sample = ((s >> 8) mod 65536) - 32768.
inline std::vector<int16_t> ReferenceClip(size_t n, uint32_t seed)
{
    std::vector<int16_t> x(n);
    uint32_t s = seed;
    for (auto &v : x) {
        s = (s * 1103515245u + 12345u) & 0x7FFFFFFFu;
        v = static_cast<int16_t>(static_cast<int32_t>((s >> 8) % 65536) - 32768);
    }
    return x;
}

// amplitude × sin(2π i / period), rounded to the nearest integer.
inline std::vector<int16_t> Tone(size_t n, double period, double amplitude)
{
    std::vector<int16_t> x(n);
    for (size_t i = 0; i < n; ++i)
        x[i] = static_cast<int16_t>(std::lround(amplitude * std::sin(2 * std::numbers::pi * i / period)));
    return x;
}

// Round(7x / 10) in exact integer arithmetic, halves to even. It agrees with
// the double computation whenever x is not a multiple of 5 plus 5 (then 7x/10
// lies at least 0.1 from a half).
inline int32_t SevenTenths(int32_t x)
{
    const int64_t q = 7LL * x;
    int64_t fl = q >= 0 ? q / 10 : -((-q + 9) / 10);
    const int64_t rem = q - 10 * fl;
    if (rem > 5 || (rem == 5 && fl % 2 != 0))
        ++fl;
    return static_cast<int32_t>(fl);
}

// A busy signal between -modulus/2 and modulus/2 that avoids the half-way
// cases of SevenTenths (no sample ends in 5).
inline std::vector<int16_t> BusySignal(int32_t count, int32_t modulus)
{
    std::vector<int16_t> x(count);
    for (int32_t i = 0; i < count; ++i) {
        int32_t v = static_cast<int32_t>((static_cast<int64_t>(i) * 31153) % modulus) - modulus / 2;
        if (v % 10 == 5 || v % 10 == -5)
            ++v;
        x[i] = static_cast<int16_t>(v);
    }
    return x;
}

// Every effect of the selection on (both rates too, as a file may hold
// them), the pitch at rest.
inline TEffectSet EveryEffectOn()
{
    TEffectSet all;
    for (bool TEffectSet::*flag :
         {&TEffectSet::Echo, &TEffectSet::Chorus, &TEffectSet::Flange, &TEffectSet::FadeIn, &TEffectSet::FadeOut,
          &TEffectSet::BassOnly, &TEffectSet::Robotvoice, &TEffectSet::Backward, &TEffectSet::SlowMonster,
          &TEffectSet::FastSqueaker, &TEffectSet::TrebleOnly, &TEffectSet::SweepUp, &TEffectSet::SweepDown})
        all.*flag = true;
    return all;
}
