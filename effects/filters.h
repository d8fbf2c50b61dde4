// SPDX-License-Identifier: GPL-3.0-or-later
// Filters and sweeps: the four-section resonator behind Bass Only and
// Treble Only, and the pitch sweeps.
#pragma once

#include "audio/progress.h"
#include "effects/pitch.h"
#include "effects/real48.h"

#include <cstdint>

// A progress.Step of 0 is taken as 10.
void ResonatorFilter(int16_t *Samples, int32_t Count, const Real48 Gains[4], bool ShowProgress,
                     ProgressShare progress = {});

void BassOnlyClip(int16_t *Samples, int32_t Count, ProgressShare progress = {});
void TrebleOnlyClip(int16_t *Samples, int32_t Count, bool ShowProgress, ProgressShare progress = {});

void PitchSweep(int16_t *Samples, int32_t Count, int32_t MinDelayMs, int32_t MaxDelayMs, double StartRate,
                double EndRate, double DryGain, double WetGain, double Feedback, ProgressShare progress = {});
void SweepUpClip(int16_t *Samples, int32_t Count, ProgressShare progress = {});
void SweepDownClip(int16_t *Samples, int32_t Count, ProgressShare progress = {});

// The shifter's plans of Sweep Up and Sweep Down for a clip of Count samples.
PitchShiftPlan SweepUpPlan(int32_t Count);
PitchShiftPlan SweepDownPlan(int32_t Count);

// The section gains of Bass Only (1.3 on the lowest) and Treble Only (2.5
// on the highest).
extern const Real48 BassOnlyGains[4];
extern const Real48 TrebleOnlyGains[4];

// The plan of PitchSweep: the shifter's plan for StartRate, with S moving
// from S1 (StartRate) towards S2 (EndRate) one step every
// Q = Round(Count / |S2 - S1|) samples.
PitchShiftPlan DerivePitchSweepPlan(int32_t Count, int32_t MinDelayMs, int32_t MaxDelayMs, double StartRate,
                                    double EndRate, double DryGain, double WetGain, double Feedback);

// The resonator's state over one run: the input history and each section's
// output history (the three-slot rings of the filter, kept here as the two
// values before the current one) and the gains. Every value is held as a
// 48-bit real (exact in a double); the arithmetic between stores is in
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
    long double Step(long double x)
    {
        const long double d = x - x2;
        long double acc = 0.0L;
        for (int i = 0; i < activeCount; ++i) {
            Section &s = sections[i];
            const long double y = SectionStep(s.y1, s.y2, s.t0, s.t1, s.t2, d);
            s.y2 = s.y1;
            s.y1 = static_cast<double>(y);
            acc = Real48::Round(acc + static_cast<long double>(s.gain) * y);
        }
        x2 = x1;
        x1 = static_cast<double>(x);
        return acc;
    }

    // One section's new output from its last two and the input difference d:
    // (y1 T2 + T0 d) - y2 T1, stored.
    static long double SectionStep(long double y1, long double y2, double t0, double t1, double t2, long double d)
    {
        return Real48::Round((y1 * static_cast<long double>(t2) + static_cast<long double>(t0) * d) -
                             y2 * static_cast<long double>(t1));
    }

    // Sections with a gain other than 0.
    int ActiveSections() const { return activeCount; }

    // The latest output of section b, as stored (0 for a section without gain).
    long double SectionOutput(int b) const;

    // A running sum as a sample value: clipped to -32768..32767, else rounded
    // half to even.
    static long double ToSampleValue(long double acc)
    {
        if (acc > 32767.0L)
            return 32767.0L;
        if (acc < -32768.0L)
            return -32768.0L;
        return __builtin_rintl(acc); // the FPU's rounding: half to even
    }
    // ToSampleValue(Real48::Round(a)), skipping the 48-bit rounding when it
    // cannot matter: the result only jumps at half-integers, and rounding to
    // 40 bits moves a by less than 2^-23 while |a| < 2^16 (beyond that the
    // sample is clipped either way), so only an a within 2^-20 of a
    // half-integer is rounded first.
    static long double SampleValueOfSum(long double a)
    {
        const long double nearest = __builtin_rintl(a);
        const long double fromHalf = 0.5L - __builtin_fabsl(a - nearest);
        if (fromHalf > 0x1p-20L)
            return nearest > 32767.0L ? 32767.0L : (nearest < -32768.0L ? -32768.0L : nearest);
        return ToSampleValue(Real48::Round(a));
    }
    static int16_t ToSample(long double acc) { return static_cast<int16_t>(static_cast<double>(ToSampleValue(acc))); }

    struct Section {
        int index = 0;
        double t0 = 0, t1 = 0, t2 = 0, gain = 0; // 48-bit values, exact in a double
        double y1 = 0, y2 = 0;                   // outputs one and two steps back
    };
    // The first section with a gain other than 0.
    const Section &FirstActive() const { return sections[0]; }

private:
    Section sections[4];
    int activeCount = 0;
    double x1 = 0, x2 = 0; // inputs one and two steps back
};

// ResonatorFilter over a clip handed over in consecutive blocks: the state
// carries from one block to the next, so the blocks of a clip in order give
// exactly the whole-clip result. Count is the whole clip's length and
// progressStep the gauge units of the whole clip (together they decide the
// gauge's interval; a progressStep of 0 gives none here).
class ResonatorStream {
public:
    ResonatorStream(const Real48 Gains[4], int32_t Count, bool ShowProgress, int32_t progressStep);

    // Filters the next n samples in place and returns the gauge units the
    // whole-clip routine would have advanced over them.
    int32_t Process(int16_t *Samples, int32_t n);

private:
    Resonator resonator; // the general loop's state (several sections)
    double t0 = 0, t1 = 0, t2 = 0, gain = 0;
    double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
    bool oneSection = false;
    int64_t e = 0;        // gauge interval in steps (two steps a sample), 0: no gauge
    int64_t step = 0;     // steps done
    int64_t advances = 0; // gauge units given so far
};
