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
#include <vector>

namespace {

int32_t ProgressInterval(int32_t loopLength)
{
    return ProgressStep != 0 ? loopLength / ProgressStep : 0;
}

// Largest magnitude in the clip, 0..32768 (-32768 counts as 32768), and the
// gain that brings it to full scale at the ramp's loud end.
double FullScaleGain(const int16_t *Samples, int32_t Count)
{
    int32_t peak = 0;
    for (int32_t i = 0; i < Count; ++i)
        peak = std::max(peak, std::abs(static_cast<int32_t>(Samples[i])));
    return peak > 0 ? std::sqrt(32767.0 / peak) : 0.0;
}

// ramp(i) gives the position of sample i on the ramp, 0 at the quiet end and
// Count - 1 at the loud one. The gauge moves every e-th sample, starting
// with the first, and at most e - 1 times in all.
//
// The gain f = (ramp g) / (Count - 1) is not divided out sample by sample:
// the product with the reciprocal of Count - 1 is within 2^-51 f of it, so
// the result (f s) f, at most 32767 and 1 + 2^-40 times that, moves by under
// 2^-34; only where it lies within 2^-30 of a half-integer is f computed as
// written, as is every sample of a clip longer than 2^30.
template <typename Ramp> void ApplyFade(int16_t *Samples, int32_t Count, int32_t e, Ramp ramp, ProgressGauge *gauge)
{
    const double g = FullScaleGain(Samples, Count);
    const double span = Count - 1;
    const double inverseSpan = 1.0 / span;
    const bool shortcut = Count <= (1 << 30);
    int32_t advances = 0;
    int32_t i = 0;
    while (i < Count) {
        // A run ends just after the next sample at which the gauge moves.
        int32_t end = Count;
        if (e > 0 && advances < e - 1) {
            const int32_t next = (i + e - 1) / e * e; // first multiple of e from i on
            end = std::min(Count, next + 1);
        }
        for (; i < end; ++i) {
            const double position = ramp(i) * g;
            const double f = position * inverseSpan;
            const double value = (f * Samples[i]) * f;
            int64_t v = RoundHalfEven(value);
            if (!shortcut || std::fabs(std::fabs(value - static_cast<double>(v)) - 0.5) <= 0x1p-30) {
                const double exact = position / span;
                v = RoundHalfEven((exact * Samples[i]) * exact);
            }
            // With f at most g the result stays within -32767..32767; the
            // clip only guards against the last bit of floating-point error.
            Samples[i] = Clip16(v);
        }
        if (e > 0 && advances < e - 1 && (i - 1) % e == 0) {
            AdvanceProgress(gauge);
            ++advances;
        }
    }
}

} // namespace

void ReverseClip(int16_t *Samples, int32_t Count, ProgressGauge *gauge)
{
    if (!Samples || Count <= 0)
        return;
    // Swapped in place from both ends, a block of pairs at a time; the gauge
    // makes its Count div e advances (one every e samples) as the blocks
    // cover the clip.
    const int32_t e = ProgressInterval(Count);
    const int32_t pairs = Count / 2;
    constexpr int32_t Block = 1 << 14;
    int32_t advanced = 0;
    for (int32_t p = 0; p < pairs;) {
        const int32_t end = std::min(pairs, p + Block);
        std::reverse(Samples + p, Samples + end);
        std::reverse(Samples + Count - end, Samples + Count - p);
        std::swap_ranges(Samples + p, Samples + end, Samples + Count - end);
        p = end;
        if (e > 0) {
            const int32_t covered = p == pairs ? Count : 2 * p;
            const int32_t due = covered / e;
            if (due > advanced) {
                AdvanceProgress(gauge, due - advanced);
                advanced = due;
            }
        }
    }
    if (e > 0 && Count / e > advanced)
        AdvanceProgress(gauge, Count / e - advanced);
}

void FadeInClip(int16_t *Samples, int32_t Count, ProgressGauge *gauge)
{
    if (!Samples || Count < 2)
        return;
    ApplyFade(
        Samples, Count, ProgressInterval(Count), [](int32_t i) { return static_cast<double>(i); }, gauge);
}

void FadeOutClip(int16_t *Samples, int32_t Count, ProgressGauge *gauge)
{
    if (!Samples || Count < 2)
        return;
    ApplyFade(
        Samples, Count, ProgressInterval(Count - 1), [Count](int32_t i) { return static_cast<double>(Count - 1 - i); },
        gauge);
}
