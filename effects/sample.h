// The three ways a computed value becomes a sample: rounding half to even,
// clipping to the 16-bit range, and keeping only the low 16 bits.
#pragma once

#include <cmath>
#include <cstdint>

#if defined(__SSE2__) && defined(__x86_64__)
#include <emmintrin.h>
#endif

// Nearest integer, a half going to the even neighbour (the FPU's default
// rounding mode, which nothing in this program changes). On x86-64 this is
// the one conversion instruction std::llrint consists of, inlined; values
// outside the 64-bit range give the same INT64_MIN.
inline int64_t RoundHalfEven(double x)
{
#if defined(__SSE2__) && defined(__x86_64__)
    return _mm_cvtsd_si64(_mm_set_sd(x));
#else
    return std::llrint(x);
#endif
}

inline int64_t RoundHalfEven(long double x)
{
    return std::llrintl(x);
}

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
