// Filters and sweeps: the four-section resonator behind Bass Only and
// Treble Only, and the pitch sweeps.
#pragma once

#include "audio/progress.h"
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
