// SPDX-License-Identifier: GPL-3.0-or-later
// Filters and sweeps.
//
// The resonator: four two-pole sections over one input, each section
//   y[t] = T0 (x[t] - x[t-2]) + T2 y[t-1] - T1 y[t-2]
// summed with one gain per section. It is stepped twice per sample: first
// with the sample, then with its own result, which is what stays.
//
// | Preset      | gains              | section | T0         | T1         | T2        |
// |-------------|--------------------|---------|------------|------------|-----------|
// | Bass Only   | 1.3, 0, 0, 0       | 0       | 0.01403808 | 0.97192384 | 1.9717237 |
// | Treble Only | 0, 0, 0, 2.5       | 3       | 0.32063878 | 0.35872244 | 0.44391324 |
//
// The sweeps: the delay-line shifter of pitch.cpp with its step interval S
// moving one stage every Q samples, from 17 to 2 (Sweep Up, higher and
// higher) or from 18 to 3 (Sweep Down, lower and lower), on a 772-sample line.
#include "effects/filters.h"

#include "effects/sample.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

const Real48 Resonator::T0[4] = {0.01403808L, 0.12408852L, 0.24761712L, 0.32063878L};
const Real48 Resonator::T1[4] = {0.97192384L, 0.75182298L, 0.50476578L, 0.35872244L};
const Real48 Resonator::T2[4] = {1.9717237L, 1.7341323L, 1.2787512L, 0.44391324L};

Resonator::Resonator(const Real48 Gains[4])
{
    for (int b = 0; b < 4; ++b) {
        if (Gains[b] != 0.0L) {
            Section &s = sections[activeCount++];
            s.index = b;
            s.t0 = T0[b].Value();
            s.t1 = T1[b].Value();
            s.t2 = T2[b].Value();
            s.gain = Gains[b].Value();
        }
    }
}

long double Resonator::SectionOutput(int b) const
{
    for (int i = 0; i < activeCount; ++i) {
        if (sections[i].index == b)
            return sections[i].y1;
    }
    return 0.0L;
}

namespace {

// The one-section presets run on doubles. Every value of the resonator is a
// 40-bit real, so a double holds it exactly, but the stored results are
// computed in extended precision and then rounded to 40 bits; a double
// computation of the same sum is off by a few units of its 53rd bit. That
// only matters when the value lies that close to a rounding boundary of the
// 40-bit format (or, for a sample, of a half-integer), so both cases fall
// back on the extended-precision steps, which then decide exactly:
//
//   E = y1 T2 + T0 d - y2 T1, its terms     |E - exact| <= 4 u (sum of the
//   added in doubles in any order (T0 d     terms' magnitudes), u = 2^-53; the
//   may be split into T0 x - T0 x2)         extended steps are within 4 * 2^-64
//                                           of the same sum
//   E farther than 2^-50 * that sum from    both round to the same 40 bits:
//   every boundary of the 40-bit format     round E (halves away from zero)
//   otherwise                               Resonator::SectionStep
//
//   a = gain y in doubles                   |a - extended| <= 2^-52 |a|
//   a at least 2^-19 off every half-integer the sample is a rounded and clipped
//   (when |a| < 2^16; beyond, both clip)    (the extended value skips the
//                                           40-bit rounding there as well)
//   otherwise                               Resonator::SampleValueOfSum
//
// The sums are ordered so that the chain from one step's result to the
// next is a multiplication and an addition: the terms that do not depend on
// the latest result are added up beforehand.
constexpr double RintMagic = 6755399441055744.0; // 1.5 * 2^52: adding and removing it rounds half to even

// v rounded to a 40-bit significand, halves away from zero (v within
// 2^-126..2^126): adding half of the last kept unit to the magnitude's bits
// carries into the exponent when the significand overflows. Done in the
// vector registers the arithmetic uses, the result on the loop's chain of
// dependent steps costs two integer operations.
inline double Round40(double v)
{
#if defined(__SSE2__)
    const __m128i bits = _mm_castpd_si128(_mm_set_sd(v));
    const __m128i rounded = _mm_and_si128(_mm_add_epi64(bits, _mm_set_epi64x(0, 0x1000)),
                                          _mm_set_epi64x(0, static_cast<int64_t>(~uint64_t{0x1FFF})));
    return _mm_cvtsd_f64(_mm_castsi128_pd(rounded));
#else
    return std::bit_cast<double>((std::bit_cast<uint64_t>(v) + 0x1000) & ~uint64_t{0x1FFF});
#endif
}

// v rounded to a 40-bit significand, halves away from zero, when every value
// within 2^-50 * magnitudes of v rounds to the same result; false when one
// might not, and for v outside 2^-126..2^126 (zero with magnitudes 0 is
// exactly 0). The factor 2^-50 goes into the unit the distance is counted
// in rather than onto magnitudes: both scalings are exact (magnitudes, the
// sum of the terms' magnitudes, is at least |v| / (1 + 2^-52)).
inline bool Round40Within(double v, double magnitudes, double &out)
{
    const uint64_t bits = std::bit_cast<uint64_t>(v);
    const uint64_t biasedExp = (bits >> 52) & 0x7FF;
    if (biasedExp - (1023 - 126) > 251) {
        if (v == 0.0 && magnitudes == 0.0) {
            out = 0.0;
            return true;
        }
        return false;
    }
    // The 13 bits below the 40 kept: their distance from the half (0x1000)
    // is v's distance from the nearest boundary above or within its binade,
    // and at least a quarter of the unit keeps it off the one just below.
    const int64_t low = static_cast<int64_t>(bits & 0x1FFF) - 0x1000;
    const int64_t units = std::min<int64_t>(low < 0 ? -low : low, 0x800);
    const double unit = std::bit_cast<double>((biasedExp - 2) << 52); // 2^50 times 2^-52 of v's binade
    if (!(static_cast<double>(units) * unit > magnitudes))
        return false;
    out = Round40(v);
    return true;
}

// The sample value of a one-section sum gain x y: rounded half to even and
// clipped, through the extended-precision path near a half-integer.
inline double SampleOfProduct(double gain, double y)
{
    const double sum = gain * y;
    double nearest = (sum + RintMagic) - RintMagic;
    if (!(0.5 - std::fabs(sum - nearest) > 0x1p-19))
        return static_cast<double>(
            Resonator::SampleValueOfSum(static_cast<long double>(gain) * static_cast<long double>(y)));
    if (std::fabs(nearest) > 32767.0)
        nearest = nearest > 32767.0 ? 32767.0 : (nearest < -32768.0 ? -32768.0 : nearest);
    return nearest;
}

} // namespace

ResonatorStream::ResonatorStream(const Real48 Gains[4], int32_t Count, bool ShowProgress, int32_t progressStep)
    : resonator(Gains)
{
    const int64_t steps = 2 * int64_t{std::max(Count, 0)};
    e = ShowProgress && progressStep > 0 ? (steps - 1) / progressStep : 0;
    oneSection = resonator.ActiveSections() == 1;
    if (oneSection) {
        t0 = resonator.FirstActive().t0;
        t1 = resonator.FirstActive().t1;
        t2 = resonator.FirstActive().t2;
        gain = resonator.FirstActive().gain;
    }
}

int32_t ResonatorStream::Process(int16_t *Samples, int32_t n)
{
    if (n <= 0)
        return 0;
    if (oneSection) {
        // Both presets use one section: the same steps as Resonator::Step,
        // two a sample, the second step taking the first one's result as
        // its input. Names: y1, y2 the last two results, x1, x2 the last
        // two inputs.
        double ly1 = y1, ly2 = y2, lx1 = x1, lx2 = x2;
        for (int32_t i = 0; i < n; ++i) {
            const double x = Samples[i];
            // First step: y = y1 T2 + (T0 (x - x2) - y2 T1).
            const double a1 = ly1 * t2;
            const double b1 = t0 * (x - lx2);
            const double c1 = ly2 * t1;
            double ya;
            if (!Round40Within(a1 + (b1 - c1), (std::fabs(a1) + std::fabs(b1)) + std::fabs(c1), ya))
                ya = static_cast<double>(Resonator::SectionStep(ly1, ly2, t0, t1, t2, x - lx2));
            const double xa = SampleOfProduct(gain, ya);
            // Second step, input xa: y = T0 xa + ((ya T2 - y1 T1) - T0 x1).
            const double a2 = ya * t2;
            const double c2 = ly1 * t1;
            const double p2 = t0 * lx1;
            const double b2 = t0 * xa;
            double yb;
            if (!Round40Within(b2 + ((a2 - c2) - p2), ((std::fabs(a2) + std::fabs(c2)) + std::fabs(p2)) + std::fabs(b2),
                               yb))
                yb = static_cast<double>(Resonator::SectionStep(ya, ly1, t0, t1, t2, xa - lx1));
            Samples[i] = static_cast<int16_t>(SampleOfProduct(gain, yb));
            ly2 = ya;
            ly1 = yb;
            lx2 = x;
            lx1 = xa;
        }
        y1 = ly1;
        y2 = ly2;
        x1 = lx1;
        x2 = lx2;
    } else {
        for (int32_t i = 0; i < n; ++i) {
            int16_t &sample = Samples[i];
            sample = Resonator::ToSample(resonator.Step(sample));
            sample = Resonator::ToSample(resonator.Step(sample));
        }
    }
    // One advance at every e-th step from step 0 on, at most e - 1 in all.
    step += 2 * int64_t{n};
    if (e <= 0)
        return 0;
    const int64_t due = std::min((step + e - 1) / e, e - 1);
    const int64_t units = std::max<int64_t>(due - advances, 0);
    advances += units;
    return static_cast<int32_t>(units);
}

void ResonatorFilter(int16_t *Samples, int32_t Count, const Real48 Gains[4], bool ShowProgress, ProgressShare progress)
{
    if (Samples == nullptr || Gains == nullptr || Count <= 0)
        return;
    // A caller that gives no step gets 10 units. The gauge moves once a
    // block rather than at its exact steps.
    ResonatorStream stream(Gains, Count, ShowProgress, progress.Step == 0 ? 10 : progress.Step);
    for (int32_t i = 0; i < Count; i += StreamBlock) {
        const int32_t units = stream.Process(Samples + i, std::min(StreamBlock, Count - i));
        if (units > 0)
            AdvanceProgress(progress.Gauge, units);
    }
}

const Real48 BassOnlyGains[4] = {1.3L, 0.0L, 0.0L, 0.0L};
const Real48 TrebleOnlyGains[4] = {0.0L, 0.0L, 0.0L, 2.5L};

void BassOnlyClip(int16_t *Samples, int32_t Count, ProgressShare progress)
{
    ResonatorFilter(Samples, Count, BassOnlyGains, true, progress);
}

void TrebleOnlyClip(int16_t *Samples, int32_t Count, bool ShowProgress, ProgressShare progress)
{
    ResonatorFilter(Samples, Count, TrebleOnlyGains, ShowProgress, progress);
}

PitchShiftPlan DerivePitchSweepPlan(int32_t Count, int32_t MinDelayMs, int32_t MaxDelayMs, double StartRate,
                                    double EndRate, double DryGain, double WetGain, double Feedback)
{
    PitchShiftPlan plan = DerivePitchShiftPlan(MinDelayMs, MaxDelayMs, StartRate, DryGain, WetGain, Feedback);
    if (!plan.Valid)
        return plan;
    if (!std::isfinite(EndRate)) {
        plan.Valid = false;
        return plan;
    }
    const int64_t s1 = plan.S;
    const int64_t s2 = PitchStepInterval(-EndRate);
    plan.Sweeps = true;
    if (s2 < s1) {
        plan.SDir = -1;
        plan.SMax = s1;
        plan.SMin = s2;
    } else {
        plan.SDir = 1;
        plan.SMax = s2;
        plan.SMin = s1;
    }
    // With S1 = S2 there is nothing to sweep (and no finite Q).
    if (s1 == s2)
        plan.Q = std::numeric_limits<int64_t>::max();
    else
        plan.Q = RoundHalfEven(static_cast<double>(Count) / static_cast<double>(s2 > s1 ? s2 - s1 : s1 - s2));
    return plan;
}

void PitchSweep(int16_t *Samples, int32_t Count, int32_t MinDelayMs, int32_t MaxDelayMs, double StartRate,
                double EndRate, double DryGain, double WetGain, double Feedback, ProgressShare progress)
{
    RunPitchShifter(Samples, Count,
                    DerivePitchSweepPlan(Count, MinDelayMs, MaxDelayMs, StartRate, EndRate, DryGain, WetGain, Feedback),
                    progress);
}

PitchShiftPlan SweepUpPlan(int32_t Count)
{
    return DerivePitchSweepPlan(Count, 0, 35, 0.059463, 0.414214, 0.0, 1.0, 0.0);
}

PitchShiftPlan SweepDownPlan(int32_t Count)
{
    return DerivePitchSweepPlan(Count, 0, 35, -0.056126, -0.292893, 0.0, 1.0, 0.0);
}

void SweepUpClip(int16_t *Samples, int32_t Count, ProgressShare progress)
{
    RunPitchShifter(Samples, Count, SweepUpPlan(Count), progress);
}

void SweepDownClip(int16_t *Samples, int32_t Count, ProgressShare progress)
{
    RunPitchShifter(Samples, Count, SweepDownPlan(Count), progress);
}
