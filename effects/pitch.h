// The delay-line pitch shifter: two crossfading taps whose delay grows
// (lower pitch) or shrinks (higher pitch) by one sample every S samples.
#pragma once

#include "audio/progress.h"

#include <cstdint>

void PitchShift(int16_t *Samples, int32_t Count, int32_t MinDelayMs, int32_t MaxDelayMs, double Rate, double DryGain,
                double WetGain, double Feedback, ProgressGauge *gauge = nullptr);

// Amount 0..12 (12 = highest voice); 6 and anything outside 0..12 do nothing.
void PitchShiftClip(int16_t *Samples, int32_t Count, int32_t Amount, ProgressGauge *gauge = nullptr);
