// Filters and sweeps: the four-section resonator behind Bass Only and
// Treble Only, and the pitch sweeps.
#pragma once

#include "audio/progress.h"
#include "effects/pitch.h"
#include "real48.h"

#include <cstdint>

void ResonatorFilter(int16_t *Samples, int32_t Count, const Real48 Gains[4], bool ShowProgress,
                     ProgressGauge *gauge = nullptr);
void BassOnlyClip(int16_t *Samples, int32_t Count, ProgressGauge *gauge = nullptr);
void TrebleOnlyClip(int16_t *Samples, int32_t Count, bool ShowProgress, ProgressGauge *gauge = nullptr);

void PitchSweep(int16_t *Samples, int32_t Count, int32_t MinDelayMs, int32_t MaxDelayMs, double StartRate,
                double EndRate, double DryGain, double WetGain, double Feedback, ProgressGauge *gauge = nullptr);
void SweepUpClip(int16_t *Samples, int32_t Count, ProgressGauge *gauge = nullptr);
void SweepDownClip(int16_t *Samples, int32_t Count, ProgressGauge *gauge = nullptr);

// The plan of PitchSweep: the shifter's plan for StartRate, with S moving
// from S1 (StartRate) towards S2 (EndRate) one step every
// Q = Round(Count / |S2 - S1|) samples.
PitchShiftPlan DerivePitchSweepPlan(int32_t Count, int32_t MinDelayMs, int32_t MaxDelayMs, double StartRate,
                                    double EndRate, double DryGain, double WetGain, double Feedback);

// The resonator's state over one run: the input history X, each section's
// output history Y (three-slot rings sharing the current slot) and the gains.
// Every value is held as a 48-bit real; the arithmetic between stores is in
// extended precision.
class Resonator {
public:
    // Section coefficients as stored: T0 (input difference), T1 (output two
    // steps back), T2 (output one step back).
    static const Real48 T0[4];
    static const Real48 T1[4];
    static const Real48 T2[4];

    explicit Resonator(const Real48 Gains[4]);

    // One step with input x (a sample value): every section with a gain
    // other than 0 computes y = (y1 T2 + T0 (x - x2)) - y2 T1, and the
    // running sum of gain x y is returned as stored.
    long double Step(int32_t x);

    // The latest output of section b, as stored.
    long double SectionOutput(int b) const { return Y[b][last]; }

    // A running sum as a sample: clipped to -32768..32767, else rounded half
    // to even.
    static int16_t ToSample(long double acc);

private:
    long double X[3] = {};
    long double Y[4][3] = {};
    int cur = 0;
    int last = 0;
    int active[4] = {};
    long double gain[4] = {};
    int activeCount = 0;
};
