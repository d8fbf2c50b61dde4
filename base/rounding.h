// SPDX-License-Identifier: GPL-3.0-or-later
// Rounding a computed value to the nearest integer, the way every part of
// the program does it: the signal routines when a value becomes a sample,
// the drawn controls when a coordinate becomes a pixel.
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
