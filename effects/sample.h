// SPDX-License-Identifier: GPL-3.0-or-later
// The three ways a computed value becomes a sample: rounding half to even
// (base/rounding.h), clipping to the 16-bit range, and keeping only the low
// 16 bits.
#pragma once

#include "base/rounding.h"

#include <cstdint>

// Limits a value to -32768..32767.
inline int16_t Clip16(int64_t v)
{
    if (v > 32767)
        return 32767;
    if (v < -32768)
        return -32768;
    return static_cast<int16_t>(v);
}

// The low 16 bits of a value, read as signed (wrap-around, no clipping).
inline int16_t Wrap16(int64_t v)
{
    return static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint64_t>(v) & 0xFFFFu));
}

// Milliseconds of delay as samples, always at 22050 samples per second.
inline int32_t MsToSamples(int32_t ms)
{
    return static_cast<int32_t>(RoundHalfEven(ms * 22050 * 0.001));
}

// Samples per block when a whole-clip routine runs its stream: the gauge
// moves once a block.
inline constexpr int32_t StreamBlock = 1 << 14;
