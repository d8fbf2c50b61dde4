// Delay-line effects: the echo and the modulated delay behind Chorus,
// Robot voice and Flange. Whole-clip routines, in place on 16-bit samples.
#pragma once

#include "audio/progress.h"

#include <cstdint>

// Adds one repeat of the clip DelayMs later, decayed to DecayPercent, with
// optional regeneration. May lengthen the clip by the delay, never beyond
// MaxCount samples (Samples must hold MaxCount). Returns the new count.
int32_t EchoEffect(int16_t *Samples, int32_t Count, int32_t DelayMs, int32_t DecayPercent, double Regeneration,
                   int32_t MaxCount, ProgressGauge *gauge = nullptr);

// One interpolated tap whose delay sweeps in a triangle between MinDelayMs and
// MaxDelayMs (SweepRate ms of delay change per second; 0 = no sweep), mixed
// with DryGain of the input and fed back by Feedback.
void ModulatedDelay(int16_t *Samples, int32_t Count, int32_t MinDelayMs, int32_t MaxDelayMs, int32_t SweepRate,
                    double DryGain, double Feedback, ProgressGauge *gauge = nullptr);
