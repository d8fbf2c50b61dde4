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
            active[activeCount] = b;
            gain[activeCount] = Gains[b];
            ++activeCount;
        }
    }
}

long double Resonator::Step(int32_t x)
{
    const int p1 = cur == 0 ? 2 : cur - 1;
    const int p2 = cur == 2 ? 0 : cur + 1;
    X[cur] = x; // a 16-bit sample is exact in the format
    const long double d = X[cur] - X[p2];
    long double acc = 0.0L;
    for (int i = 0; i < activeCount; ++i) {
        const int b = active[i];
        long double *y = Y[b];
        y[cur] = Real48::Round((y[p1] * static_cast<long double>(T2[b]) + static_cast<long double>(T0[b]) * d) -
                               y[p2] * static_cast<long double>(T1[b]));
        acc = Real48::Round(acc + gain[i] * y[cur]);
    }
    last = cur;
    cur = p2; // (cur + 1) mod 3
    return acc;
}

int16_t Resonator::ToSample(long double acc)
{
    if (acc > 32767.0L)
        return 32767;
    if (acc < -32768.0L)
        return -32768;
    return static_cast<int16_t>(RoundHalfEven(acc));
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

    Resonator resonator(Gains);
    for (int64_t j = 0; j < steps; ++j) {
        int16_t &sample = Samples[j >> 1];
        sample = Resonator::ToSample(resonator.Step(sample));
        if (e > 0) {
            if (untilAdvance == 0) {
                untilAdvance = e;
                if (advances < e - 1) {
                    AdvanceProgress(gauge);
                    ++advances;
                }
            }
            --untilAdvance;
        }
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
