// SPDX-License-Identifier: GPL-3.0-or-later
// The delay-line pitch shifter: two crossfading taps whose delay grows
// (lower pitch) or shrinks (higher pitch) by one sample every S samples.
#pragma once

#include "audio/progress.h"

#include <cstdint>
#include <memory>

void PitchShift(int16_t *Samples, int32_t Count, int32_t MinDelayMs, int32_t MaxDelayMs, double Rate, double DryGain,
                double WetGain, double Feedback, ProgressShare progress = {});

// Amount 0..12 (12 = highest voice); 6 and anything outside 0..12 do nothing.
void PitchShiftClip(int16_t *Samples, int32_t Count, int32_t Amount, ProgressShare progress = {});

// Length of each crossfade between the taps, in samples.
inline constexpr int32_t PitchCrossfadeLength = 265;

// Longest line the shifter accepts (a minute); longer asks are refused.
inline constexpr int32_t PitchMaxDelayLimitMs = 60000;

// Everything the shifter derives from its arguments before the first sample.
// PitchShift fills it from its own arguments; the sweeps fill it too and add
// a step interval that changes every Q samples.
struct PitchShiftPlan {
    bool Valid = false; // false: the arguments leave nothing to run (no line, non-finite values)
    int32_t L = 0;      // line length in samples
    int32_t Dmin = 0;   // smallest tap delay in samples
    int32_t D0 = 0;     // delay a tap starts again from
    int32_t Dir = -1;   // +1 the delay grows (lower pitch), -1 it shrinks (higher)
    bool Steps = false; // false when the rate is 0: the delays never move
    int64_t S = 1;      // samples per one-sample change of delay
    int32_t G = 0;      // delay steps between tap restarts
    double DryGain = 0.0;
    double WetGain = 1.0;
    double Feedback = 0.0;

    // Sweeps only: S moves by SDir every Q samples, kept within SMin..SMax.
    bool Sweeps = false;
    int64_t Q = 0;
    int32_t SDir = 1;
    int64_t SMin = 1;
    int64_t SMax = 1;
};

// The step interval for a rate: Round(1 / |rate|), 1 for a rate of 0 and
// never less than 1 nor more than 2^31.
int64_t PitchStepInterval(double rate);

// Steps between restarts for interval S: L - Dmin - Round(265 / S).
int32_t PitchRestartSteps(int32_t L, int32_t Dmin, int64_t S);

// The plan of PitchShift for these arguments.
PitchShiftPlan DerivePitchShiftPlan(int32_t MinDelayMs, int32_t MaxDelayMs, double Rate, double DryGain, double WetGain,
                                    double Feedback);

// Runs the shifter over the clip as planned (does nothing for an invalid
// plan or Count <= 0). Advances progress.Gauge by one every Count div
// progress.Step samples when progress.Step is positive.
void RunPitchShifter(int16_t *Samples, int32_t Count, const PitchShiftPlan &plan, ProgressShare progress = {});

// RunPitchShifter over a clip handed over in consecutive blocks: the state
// carries from one block to the next, so the blocks of a clip in order give
// exactly the whole-clip result. Count is the whole clip's length and
// progressStep the Step of the whole-clip run's ProgressShare.
class PitchShifterState;
class PitchShifterStream {
public:
    PitchShifterStream(const PitchShiftPlan &plan, int32_t Count, int32_t progressStep);
    ~PitchShifterStream();
    PitchShifterStream(const PitchShifterStream &) = delete;
    PitchShifterStream &operator=(const PitchShifterStream &) = delete;

    // Shifts the next n samples in place and returns the gauge units the
    // whole-clip run advances over them.
    int32_t Process(int16_t *Samples, int32_t n);

private:
    std::unique_ptr<PitchShifterState> state; // none for an invalid plan
};

// The slider amount's Rate and MaxDelayMs; false for 6 and outside 0..12.
struct PitchAmountSetting {
    double Rate = 0.0;
    int32_t MaxDelayMs = 0;
};
bool PitchAmountSettings(int32_t Amount, PitchAmountSetting &setting);

// The plan of PitchShiftClip for Amount (not Valid for 6 and outside 0..12).
PitchShiftPlan PitchAmountPlan(int32_t Amount);
