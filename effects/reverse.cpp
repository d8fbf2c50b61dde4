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
template <typename Ramp> void ApplyFade(int16_t *Samples, int32_t Count, int32_t e, Ramp ramp, ProgressGauge *gauge)
{
    const double g = FullScaleGain(Samples, Count);
    int32_t advances = 0;
    for (int32_t i = 0; i < Count; ++i) {
        const double f = (ramp(i) * g) / (Count - 1);
        // With f at most g the result stays within -32767..32767; the clip
        // only guards against the last bit of floating-point error.
        Samples[i] = Clip16(RoundHalfEven((f * Samples[i]) * f));
        if (e > 0 && i % e == 0 && advances < e - 1) {
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
    const std::vector<int16_t> copy(Samples, Samples + Count);
    const int32_t e = ProgressInterval(Count);
    for (int32_t i = 0; i < Count; ++i) {
        Samples[i] = copy[Count - 1 - i];
        if (e > 0 && (i + 1) % e == 0)
            AdvanceProgress(gauge);
    }
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
