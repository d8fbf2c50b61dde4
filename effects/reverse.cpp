// SPDX-License-Identifier: GPL-3.0-or-later
// Reverse and fades: whole-clip routines, in place on 16-bit samples.
//
// The fades apply a parabolic gain f² where f runs linearly between 0 and
// g = √(32767 / peak), so the loud end of the ramp brings the clip's loudest
// sample up to full scale:
//   fade-in   gain(i) = (i / (n − 1))² × 32767 / peak
//   fade-out  gain(i) = ((n − 1 − i) / (n − 1))² × 32767 / peak
#include "effects/reverse.h"

#include "effects/sample.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

// Samples between two advances of the gauge for a loop of loopLength
// passes that may add step units; 0 or less: no advances.
int32_t ProgressInterval(int32_t loopLength, int32_t step)
{
    return step != 0 ? loopLength / step : 0;
}

// Largest magnitude in the clip, 0..32768 (-32768 counts as 32768), and the
// gain that brings it to full scale at the ramp's loud end. The largest and
// smallest samples are found eight at a time.
double FullScaleGain(const int16_t *Samples, int32_t Count)
{
    int32_t high = 0;
    int32_t low = 0;
    int32_t i = 0;
#ifdef __SSE2__
    __m128i highs = _mm_setzero_si128();
    __m128i lows = _mm_setzero_si128();
    // A cache line a step, fetched well ahead.
    for (; i + 32 <= Count; i += 32) {
        _mm_prefetch(reinterpret_cast<const char *>(Samples + i) + 4096, _MM_HINT_T0);
        const __m128i *const at = reinterpret_cast<const __m128i *>(Samples + i);
        const __m128i a = _mm_loadu_si128(at);
        const __m128i b = _mm_loadu_si128(at + 1);
        const __m128i c = _mm_loadu_si128(at + 2);
        const __m128i d = _mm_loadu_si128(at + 3);
        highs = _mm_max_epi16(highs, _mm_max_epi16(_mm_max_epi16(a, b), _mm_max_epi16(c, d)));
        lows = _mm_min_epi16(lows, _mm_min_epi16(_mm_min_epi16(a, b), _mm_min_epi16(c, d)));
    }
    for (; i + 8 <= Count; i += 8) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(Samples + i));
        highs = _mm_max_epi16(highs, v);
        lows = _mm_min_epi16(lows, v);
    }
    int16_t h[8];
    int16_t l[8];
    _mm_storeu_si128(reinterpret_cast<__m128i *>(h), highs);
    _mm_storeu_si128(reinterpret_cast<__m128i *>(l), lows);
    for (int k = 0; k < 8; ++k) {
        high = std::max<int32_t>(high, h[k]);
        low = std::min<int32_t>(low, l[k]);
    }
#endif
    for (; i < Count; ++i) {
        high = std::max<int32_t>(high, Samples[i]);
        low = std::min<int32_t>(low, Samples[i]);
    }
    const int32_t peak = std::max(high, -low);
    return peak > 0 ? std::sqrt(32767.0 / peak) : 0.0;
}

// One faded sample: (f s) f rounded, f = position / span. The gain is not
// divided out: the product with the reciprocal of span is within 2^-51 f of
// the quotient, so the result (f s) f, at most 32767 and 1 + 2^-40 times
// that, moves by under 2^-34; only where it lies within 2^-30 of a
// half-integer (and in clips longer than 2^30) is f computed as written.
inline int16_t FadedSample(int16_t s, double position, double span, double inverseSpan, bool shortcut)
{
    const double f = position * inverseSpan;
    int64_t v = RoundHalfEven((f * s) * f);
    if (!shortcut || std::fabs(std::fabs((f * s) * f - static_cast<double>(v)) - 0.5) <= 0x1p-30) {
        const double exact = position / span;
        v = RoundHalfEven((exact * s) * exact);
    }
    // With f at most g the result stays within -32767..32767; the clip only
    // guards against the last bit of floating-point error.
    return Clip16(v);
}

// The ramp runs from 0 at the quiet end to Count - 1 at the loud one: sample
// i sits at i fading in and at Count - 1 - i fading out. The gauge moves
// every e-th sample, starting with the first, and at most e - 1 times in
// all; the loop runs in stretches that end at those samples.
void ApplyFade(int16_t *Samples, int32_t Count, int32_t e, bool fadeIn, ProgressGauge *gauge)
{
    const double g = FullScaleGain(Samples, Count);
    const double span = Count - 1;
    const double inverseSpan = 1.0 / span;
    const bool shortcut = Count <= (1 << 30);
    const double direction = fadeIn ? 1.0 : -1.0;
    auto ramp = [&](int32_t i) { return static_cast<double>(fadeIn ? i : Count - 1 - i); };
    int32_t advances = 0;
    int32_t i = 0;
    while (i < Count) {
        int32_t end = Count;
        if (e > 0 && advances < e - 1) {
            const int32_t next = (i + e - 1) / e * e; // first multiple of e from i on
            end = std::min(Count, next + 1);
        }
#ifdef __SSE2__
        // Eight samples at a time, the same operations in the same order,
        // two to a register; eight with a result near a half-integer go
        // through FadedSample.
        if (shortcut) {
            const __m128d gains = _mm_set1_pd(g);
            const __m128d inverse = _mm_set1_pd(inverseSpan);
            const __m128d step = _mm_set1_pd(2 * direction);
            const __m128d step2 = _mm_set1_pd(4 * direction);
            const __m128d step3 = _mm_set1_pd(6 * direction);
            const __m128d step4 = _mm_set1_pd(8 * direction);
            const __m128d signBit = _mm_set1_pd(-0.0);
            const __m128d half = _mm_set1_pd(0.5);
            const __m128d nearHalf = _mm_set1_pd(0x1p-30);
            __m128d ramps = _mm_set_pd(ramp(i) + direction, ramp(i));
            // Two samples from their ramp positions r and 32-bit values v:
            // value + 1.5 * 2^52 rounds the value half to even, as
            // RoundHalfEven, and holds the integer in its low 32 bits; the
            // lanes close to a half go into near.
            const __m128d magic = _mm_set1_pd(6755399441055744.0);
            auto two = [&](__m128d r, __m128i v, int &near) {
                const __m128d s = _mm_cvtepi32_pd(v);
                const __m128d f = _mm_mul_pd(_mm_mul_pd(r, gains), inverse);
                const __m128d value = _mm_mul_pd(_mm_mul_pd(f, s), f);
                const __m128d shifted = _mm_add_pd(value, magic);
                const __m128d off = _mm_andnot_pd(signBit, _mm_sub_pd(value, _mm_sub_pd(shifted, magic)));
                const __m128d fromHalf = _mm_andnot_pd(signBit, _mm_sub_pd(off, half));
                near |= _mm_movemask_pd(_mm_cmple_pd(fromHalf, nearHalf));
                return shifted;
            };
            // The low 32 bits of each of four shifted values.
            auto integers = [](__m128d a, __m128d b) {
                return _mm_castps_si128(_mm_shuffle_ps(_mm_castpd_ps(a), _mm_castpd_ps(b), _MM_SHUFFLE(2, 0, 2, 0)));
            };
            for (; i + 8 <= end; i += 8) {
                __m128i *const at = reinterpret_cast<__m128i *>(Samples + i);
                // The hardware's own prefetching falls behind this loop.
                _mm_prefetch(reinterpret_cast<const char *>(Samples + i) + 4096, _MM_HINT_T0);
                const __m128i words = _mm_loadu_si128(at);
                const __m128i low = _mm_srai_epi32(_mm_unpacklo_epi16(words, words), 16);
                const __m128i high = _mm_srai_epi32(_mm_unpackhi_epi16(words, words), 16);
                int near = 0;
                // (Whole numbers: every sum is exact, in any order.)
                const __m128d r1 = _mm_add_pd(ramps, step);
                const __m128d r2 = _mm_add_pd(ramps, step2);
                const __m128d r3 = _mm_add_pd(ramps, step3);
                const __m128d v0 = two(ramps, low, near);
                const __m128d v1 = two(r1, _mm_shuffle_epi32(low, _MM_SHUFFLE(1, 0, 3, 2)), near);
                const __m128d v2 = two(r2, high, near);
                const __m128d v3 = two(r3, _mm_shuffle_epi32(high, _MM_SHUFFLE(1, 0, 3, 2)), near);
                ramps = _mm_add_pd(ramps, step4);
                if (near != 0) {
                    for (int32_t j = i; j < i + 8; ++j)
                        Samples[j] = FadedSample(Samples[j], ramp(j) * g, span, inverseSpan, shortcut);
                    continue;
                }
                // Saturating to 16 bits is the clip.
                _mm_storeu_si128(at, _mm_packs_epi32(integers(v0, v1), integers(v2, v3)));
            }
        }
#endif
        for (; i < end; ++i)
            Samples[i] = FadedSample(Samples[i], ramp(i) * g, span, inverseSpan, shortcut);
        if (e > 0 && advances < e - 1 && (i - 1) % e == 0) {
            AdvanceProgress(gauge);
            ++advances;
        }
    }
}

} // namespace

void ReverseClip(int16_t *Samples, int32_t Count, ProgressShare progress)
{
    if (!Samples || Count <= 0)
        return;
    // Swapped in place from both ends, a block of pairs at a time; the gauge
    // makes its Count div e advances (one every e samples) as the blocks
    // cover the clip.
    const int32_t e = ProgressInterval(Count, progress.Step);
    const int32_t pairs = Count / 2;
    constexpr int32_t Block = 1 << 14;
    int32_t advanced = 0;
    for (int32_t p = 0; p < pairs;) {
        const int32_t end = std::min(pairs, p + Block);
#ifdef __SSE2__
        // Eight samples from each end at a time, each eight turned around
        // (the words within each half, then the halves) and stored at the
        // other end: one pass over the clip.
        for (; p + 8 <= end; p += 8) {
            auto turned = [](__m128i v) {
                v = _mm_shufflelo_epi16(v, _MM_SHUFFLE(0, 1, 2, 3));
                v = _mm_shufflehi_epi16(v, _MM_SHUFFLE(0, 1, 2, 3));
                return _mm_shuffle_epi32(v, _MM_SHUFFLE(1, 0, 3, 2));
            };
            __m128i *const front = reinterpret_cast<__m128i *>(Samples + p);
            __m128i *const back = reinterpret_cast<__m128i *>(Samples + Count - p - 8);
            const __m128i first = _mm_loadu_si128(front);
            const __m128i last = _mm_loadu_si128(back);
            _mm_storeu_si128(front, turned(last));
            _mm_storeu_si128(back, turned(first));
        }
#endif
        for (; p < end; ++p)
            std::swap(Samples[p], Samples[Count - 1 - p]);
        if (e > 0) {
            const int32_t covered = p == pairs ? Count : 2 * p;
            const int32_t due = covered / e;
            if (due > advanced) {
                AdvanceProgress(progress.Gauge, due - advanced);
                advanced = due;
            }
        }
    }
    if (e > 0 && Count / e > advanced)
        AdvanceProgress(progress.Gauge, Count / e - advanced);
}

void FadeInClip(int16_t *Samples, int32_t Count, ProgressShare progress)
{
    if (!Samples || Count < 2)
        return;
    ApplyFade(Samples, Count, ProgressInterval(Count, progress.Step), true, progress.Gauge);
}

void FadeOutClip(int16_t *Samples, int32_t Count, ProgressShare progress)
{
    if (!Samples || Count < 2)
        return;
    ApplyFade(Samples, Count, ProgressInterval(Count - 1, progress.Step), false, progress.Gauge);
}
