// SPDX-License-Identifier: GPL-3.0-or-later
// The signal routines as they were before their loops were made faster,
// kept word for word (one loop each, a division per quotient, the 48-bit
// rounding at every store): the references the faster routines must match
// sample for sample and gauge unit for gauge unit.
#pragma once

#include "audio/progress.h"
#include "effects/filters.h"
#include "effects/pitch.h"
#include "effects/sample.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numbers>
#include <vector>

namespace Before {

// The library call the routines made for every rounding.
inline int64_t RoundHalfEven(double x)
{
    return std::llrint(x);
}

// Longest delay line ModulatedDelay accepts: a minute of sound. Longer
// requests are refused rather than allowed to allocate without bound.
inline constexpr int64_t MaxModulatedLine = 60 * 22050;

// Milliseconds as samples at 22050 per second, in 64 bits so that no
// argument overflows (same value as MsToSamples wherever that is defined).
inline int64_t DelaySamples(int32_t ms)
{
    return RoundHalfEven(static_cast<double>(ms) * 22050.0 * 0.001);
}

// Samples between two advances of the gauge for a loop of loopLength
// passes that may add step units; 0 or less means the loop does not
// advance the gauge.
inline int32_t ProgressInterval(int32_t loopLength, int32_t step)
{
    return step != 0 ? loopLength / step : 0;
}

inline int32_t EchoEffect(int16_t *Samples, int32_t Count, int32_t DelayMs, int32_t DecayPercent, double Regeneration,
                          int32_t MaxCount, ProgressShare progress = {})
{
    Count = std::max(Count, 0);
    MaxCount = std::max(MaxCount, 0);
    const int64_t d = DelaySamples(DelayMs);
    if (d <= 0 || !Samples)
        return Count; // no delay line: nothing to repeat

    const int32_t m = static_cast<int32_t>(std::min<int64_t>(Count + d, MaxCount));
    // 70 / 100.0 is the double nearest 0.7; 70 * 0.01 is one step above it
    // and would round about one echoed sample in twenty differently.
    const double decay = DecayPercent / 100.0;

    // A repeat lands d - 1 samples after its source, so a line longer than
    // MaxCount + 1 is never read back within the clip: every read would find
    // zero, exactly as in the shorter line.
    const int64_t lineLength = std::min<int64_t>(d, static_cast<int64_t>(MaxCount) + 1);
    std::vector<int16_t> line(static_cast<std::size_t>(lineLength), 0);

    int64_t r = 0;
    int64_t w = lineLength - 1;
    const int32_t e = ProgressInterval(Count, progress.Step);

    // Output i is x[i] + Round(decay * line[r]), where line[r] holds what
    // was stored d - 1 samples earlier.
    for (int32_t i = 0; i < m; ++i) {
        const int32_t x = i < Count ? Samples[i] : 0;
        const int64_t y = RoundHalfEven(line[r] * decay) + x;
        line[w] = Wrap16(RoundHalfEven(static_cast<double>(y) * Regeneration + x));
        Samples[i] = Clip16(y);
        r = (r + 1) % lineLength;
        w = (w + 1) % lineLength;
        if (e > 0 && (i + 1) % e == 0)
            AdvanceProgress(progress.Gauge);
    }
    return m;
}

inline void ModulatedDelay(int16_t *Samples, int32_t Count, int32_t MinDelayMs, int32_t MaxDelayMs, int32_t SweepRate,
                           double DryGain, double Feedback, ProgressShare progress = {})
{
    const int64_t lineSamples = DelaySamples(MaxDelayMs);
    if (!Samples || Count <= 0 || lineSamples < 1 || lineSamples > MaxModulatedLine)
        return;
    const int32_t L = static_cast<int32_t>(lineSamples);
    // The delay sweeps between Dmin and L; a minimum outside 0..L would put
    // the taps outside the line.
    const int32_t Dmin = static_cast<int32_t>(std::clamp<int64_t>(DelaySamples(MinDelayMs), 0, L));
    std::vector<int16_t> line(static_cast<std::size_t>(L), 0);

    int32_t D = static_cast<int32_t>(RoundHalfEven((L + Dmin) * 0.5));
    int64_t S = 1;
    if (SweepRate != 0) {
        // A rate so fast (or so negative) that the interval rounds below one
        // sample moves the delay at every sample.
        const double rate = std::abs(static_cast<double>(SweepRate)) * 22050.0 * 0.001;
        S = std::max<int64_t>(RoundHalfEven(22050 / rate), 1);
    }

    int64_t k = 0;
    int32_t dir = +1;
    int32_t w = 0;
    // D = 0 and D = L both name the slot being written.
    int32_t r1 = (L - D) % L;
    int32_t r2 = (r1 + dir) % L;
    const int32_t e = ProgressInterval(Count, progress.Step);

    // Each input is stored before the taps are read, so the tap at offset D
    // reads the value stored D samples earlier (the current input for D = 0
    // or L). While k runs from 0 to S the weight glides from r2 (the old
    // offset) to r1 (the new one).
    for (int32_t i = 0; i < Count; ++i) {
        const int32_t x = Samples[i];
        line[w] = static_cast<int16_t>(x);
        const int64_t v = RoundHalfEven(x * DryGain + static_cast<double>(line[r2] * (S - k)) / static_cast<double>(S) +
                                        static_cast<double>(line[r1] * k) / static_cast<double>(S));
        Samples[i] = Clip16(v);
        line[w] = Clip16(RoundHalfEven(static_cast<double>(v) * Feedback + line[w]));
        if (e > 0 && (i + 1) % e == 0)
            AdvanceProgress(progress.Gauge);

        w = (w + 1) % L;
        r1 = (r1 + 1) % L;
        r2 = (r2 + 1) % L;

        if (SweepRate != 0) {
            ++k;
            if (k == S) {
                k = 0;
                if (D <= Dmin)
                    dir = +1;
                if (D >= L)
                    dir = -1;
                D += dir;
                r1 = w >= D ? w - D : L - (D - w);
                r2 = ((r1 + dir) % L + L) % L;
            }
        }
    }
}

// The line index of the value stored D samples before write index w
// (0 <= D <= L; delay 0 and delay L both read the oldest value).
inline int32_t IndexAtDelay(int32_t w, int32_t d, int32_t L)
{
    return w >= d ? w - d : L - (d - w);
}

// The neighbour of index r one step further along the direction of travel.
inline int32_t Neighbour(int32_t r, int32_t dir, int32_t L)
{
    int32_t n = r - dir;
    if (n < 0)
        n += L;
    else if (n >= L)
        n -= L;
    return n;
}

inline void Forward(int32_t &r, int32_t L)
{
    if (++r == L)
        r = 0;
}

// One tap: the value at index r1 gliding towards r2 as k runs from 0 to S.
inline double TapValue(const int16_t *line, int32_t r1, int32_t r2, int64_t S, double sD, int64_t k)
{
    return static_cast<double>(line[r1] * (S - k)) / sD + static_cast<double>(line[r2] * k) / sD;
}

template <bool Sweep> void Shift(int16_t *Samples, int32_t Count, const PitchShiftPlan &plan, ProgressShare progress)
{
    const int32_t L = plan.L;
    const int32_t Dmin = plan.Dmin;
    const int32_t D0 = plan.D0;
    const int32_t dir = plan.Dir;
    const double dryGain = plan.DryGain;
    const double wetGain = plan.WetGain;
    const double feedback = plan.Feedback;

    std::vector<int16_t> line(static_cast<size_t>(L), 0);
    double sinTable[PitchCrossfadeLength];
    double cosTable[PitchCrossfadeLength];
    for (int32_t j = 0; j < PitchCrossfadeLength; ++j) {
        sinTable[j] = std::sin(j * (std::numbers::pi / 2) / PitchCrossfadeLength);
        cosTable[j] = std::cos(j * (std::numbers::pi / 2) / PitchCrossfadeLength);
    }

    int64_t S = plan.S;
    double sD = static_cast<double>(S);
    int32_t G = plan.G;
    double gA = 1.0;
    double gB = 0.0;
    const double *tableA = sinTable; // the table gA follows
    const double *tableB = cosTable;
    int32_t c = 0;
    int32_t cnt = G;
    bool nextIsB = true;
    int64_t k = 0;
    int64_t q = 0;
    int32_t DA = D0;
    int32_t DB = D0;
    int32_t w = 0;
    int32_t rA1 = IndexAtDelay(w, DA, L);
    int32_t rA2 = Neighbour(rA1, dir, L);
    int32_t rB1 = 0;
    int32_t rB2 = 0;
    const int32_t e = progress.Step > 0 ? Count / progress.Step : 0;
    int32_t untilAdvance = e;
    int16_t *const ln = line.data();

    for (int32_t i = 0; i < Count; ++i) {
        // A tap whose gain is exactly 0 adds exactly 0, so it is not read.
        double mix;
        if (gB == 0.0)
            mix = gA * TapValue(ln, rA1, rA2, S, sD, k);
        else if (gA == 0.0)
            mix = gB * TapValue(ln, rB1, rB2, S, sD, k);
        else
            mix = gA * TapValue(ln, rA1, rA2, S, sD, k) + gB * TapValue(ln, rB1, rB2, S, sD, k);
        const int64_t a = RoundHalfEven(mix);
        const int32_t x = Samples[i];
        ln[w] = Wrap16(RoundHalfEven(static_cast<double>(a) * feedback + x));
        Samples[i] = Clip16(RoundHalfEven(x * dryGain + static_cast<double>(a) * wetGain));

        if (c > 0) {
            --c;
            gA = tableA[c];
            gB = tableB[c];
        }
        if (e > 0 && --untilAdvance == 0) {
            untilAdvance = e;
            AdvanceProgress(progress.Gauge);
        }
        Forward(w, L);
        Forward(rA1, L);
        Forward(rA2, L);
        Forward(rB1, L);
        Forward(rB2, L);

        if (!plan.Steps)
            continue;
        if constexpr (Sweep) {
            // The sweep moves S first; k may then already be past the new S,
            // which is why the step below tests k >= S.
            if (++q >= plan.Q) {
                q = 0;
                S += plan.SDir;
                if (S > plan.SMax)
                    S = plan.SMax;
                if (S < plan.SMin)
                    S = plan.SMin;
                sD = static_cast<double>(S);
                G = PitchRestartSteps(L, Dmin, S);
            }
        }
        if (++k < S)
            continue;
        k = 0;
        DA += dir;
        DB += dir;
        DA = DA > L ? L : (DA < Dmin ? Dmin : DA);
        DB = DB > L ? L : (DB < Dmin ? Dmin : DB);
        rA1 = IndexAtDelay(w, DA, L);
        rB1 = IndexAtDelay(w, DB, L);
        if (--cnt <= 0) {
            c = PitchCrossfadeLength;
            cnt = G;
            if (nextIsB) {
                // A fades out, B starts again and fades in.
                DB = D0;
                rB1 = IndexAtDelay(w, DB, L);
                tableA = sinTable;
                tableB = cosTable;
            } else {
                DA = D0;
                rA1 = IndexAtDelay(w, DA, L);
                tableA = cosTable;
                tableB = sinTable;
            }
            nextIsB = !nextIsB;
        }
        rA2 = Neighbour(rA1, dir, L);
        rB2 = Neighbour(rB1, dir, L);
    }
}

inline void RunPitchShifter(int16_t *Samples, int32_t Count, const PitchShiftPlan &plan, ProgressShare progress = {})
{
    if (!plan.Valid || Samples == nullptr || Count <= 0)
        return;
    if (plan.Sweeps)
        Shift<true>(Samples, Count, plan, progress);
    else
        Shift<false>(Samples, Count, plan, progress);
}

// Largest magnitude in the clip, 0..32768 (-32768 counts as 32768), and the
// gain that brings it to full scale at the ramp's loud end.
inline double FullScaleGain(const int16_t *Samples, int32_t Count)
{
    int32_t peak = 0;
    for (int32_t i = 0; i < Count; ++i)
        peak = std::max(peak, std::abs(static_cast<int32_t>(Samples[i])));
    return peak > 0 ? std::sqrt(32767.0 / peak) : 0.0;
}

// ramp(i) gives the position of sample i on the ramp, 0 at the quiet end and
// Count - 1 at the loud one. The gauge moves every e-th sample, starting
// with the first, and at most e - 1 times in all.
template <typename Ramp>
void ApplyFade(int16_t *Samples, int32_t Count, int32_t e, Ramp ramp, ProgressGauge *gauge = nullptr)
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

inline void ReverseClip(int16_t *Samples, int32_t Count, ProgressShare progress = {})
{
    if (!Samples || Count <= 0)
        return;
    const std::vector<int16_t> copy(Samples, Samples + Count);
    const int32_t e = ProgressInterval(Count, progress.Step);
    for (int32_t i = 0; i < Count; ++i) {
        Samples[i] = copy[Count - 1 - i];
        if (e > 0 && (i + 1) % e == 0)
            AdvanceProgress(progress.Gauge);
    }
}

inline void FadeInClip(int16_t *Samples, int32_t Count, ProgressShare progress = {})
{
    if (!Samples || Count < 2)
        return;
    ApplyFade(
        Samples, Count, ProgressInterval(Count, progress.Step), [](int32_t i) { return static_cast<double>(i); },
        progress.Gauge);
}

inline void FadeOutClip(int16_t *Samples, int32_t Count, ProgressShare progress = {})
{
    if (!Samples || Count < 2)
        return;
    ApplyFade(
        Samples, Count, ProgressInterval(Count - 1, progress.Step),
        [Count](int32_t i) { return static_cast<double>(Count - 1 - i); }, progress.Gauge);
}
inline void ResonatorFilter(int16_t *Samples, int32_t Count, const Real48 Gains[4], bool ShowProgress,
                            ProgressShare progress = {})
{
    if (progress.Step == 0)
        progress.Step = 10;
    if (Samples == nullptr || Gains == nullptr || Count <= 0)
        return;
    const int64_t steps = 2 * int64_t{Count};
    // One advance at every e-th step from step 0 on, at most e - 1 in all.
    const int64_t e = ShowProgress && progress.Step > 0 ? (steps - 1) / progress.Step : 0;
    int64_t advances = 0;
    int64_t untilAdvance = 0;

    auto tick = [&] {
        if (untilAdvance == 0) {
            untilAdvance = e;
            if (advances < e - 1) {
                AdvanceProgress(progress.Gauge);
                ++advances;
            }
        }
        --untilAdvance;
    };

    Resonator resonator(Gains);
    if (resonator.ActiveSections() == 1) {
        // Both presets use one section: the same steps as Resonator::Step,
        // with the state in locals.
        const double t0 = resonator.FirstActive().t0;
        const double t1 = resonator.FirstActive().t1;
        const double t2 = resonator.FirstActive().t2;
        const long double gain = resonator.FirstActive().gain;
        long double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
        for (int32_t i = 0; i < Count; ++i) {
            long double x = Samples[i];
            for (int half = 0; half < 2; ++half) {
                // The second step's input is the first step's result.
                const long double y = Resonator::SectionStep(y1, y2, t0, t1, t2, x - x2);
                y2 = y1;
                y1 = y;
                x2 = x1;
                x1 = x;
                // With one section the running sum is 0 + gain x y.
                x = Resonator::SampleValueOfSum(gain * y);
                if (e > 0)
                    tick();
            }
            Samples[i] = static_cast<int16_t>(static_cast<double>(x));
        }
        return;
    }
    for (int64_t j = 0; j < steps; ++j) {
        int16_t &sample = Samples[j >> 1];
        sample = Resonator::ToSample(resonator.Step(sample));
        if (e > 0)
            tick();
    }
}

} // namespace Before
