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

#include <cmath>
#include <limits>

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

void ResonatorFilter(int16_t *Samples, int32_t Count, const Real48 Gains[4], bool ShowProgress, ProgressGauge *gauge)
{
    if (ProgressStep == 0)
        ProgressStep = 10;
    if (Samples == nullptr || Gains == nullptr || Count <= 0)
        return;
    const int64_t steps = 2 * int64_t{Count};
    // One advance at every e-th step from step 0 on, at most e - 1 in all.
    const int64_t e = ShowProgress && ProgressStep > 0 ? (steps - 1) / ProgressStep : 0;
    int64_t advances = 0;
    int64_t untilAdvance = 0;

    auto progress = [&] {
        if (untilAdvance == 0) {
            untilAdvance = e;
            if (advances < e - 1) {
                AdvanceProgress(gauge);
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
                    progress();
            }
            Samples[i] = static_cast<int16_t>(static_cast<double>(x));
        }
        return;
    }
    for (int64_t j = 0; j < steps; ++j) {
        int16_t &sample = Samples[j >> 1];
        sample = Resonator::ToSample(resonator.Step(sample));
        if (e > 0)
            progress();
    }
}

void BassOnlyClip(int16_t *Samples, int32_t Count, ProgressGauge *gauge)
{
    const Real48 gains[4] = {1.3L, 0.0L, 0.0L, 0.0L};
    ResonatorFilter(Samples, Count, gains, true, gauge);
}

void TrebleOnlyClip(int16_t *Samples, int32_t Count, bool ShowProgress, ProgressGauge *gauge)
{
    const Real48 gains[4] = {0.0L, 0.0L, 0.0L, 2.5L};
    ResonatorFilter(Samples, Count, gains, ShowProgress, gauge);
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
                double EndRate, double DryGain, double WetGain, double Feedback, ProgressGauge *gauge)
{
    RunPitchShifter(Samples, Count,
                    DerivePitchSweepPlan(Count, MinDelayMs, MaxDelayMs, StartRate, EndRate, DryGain, WetGain, Feedback),
                    gauge);
}

void SweepUpClip(int16_t *Samples, int32_t Count, ProgressGauge *gauge)
{
    PitchSweep(Samples, Count, 0, 35, 0.059463, 0.414214, 0.0, 1.0, 0.0, gauge);
}

void SweepDownClip(int16_t *Samples, int32_t Count, ProgressGauge *gauge)
{
    PitchSweep(Samples, Count, 0, 35, -0.056126, -0.292893, 0.0, 1.0, 0.0, gauge);
}
