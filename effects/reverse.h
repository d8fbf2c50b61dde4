// SPDX-License-Identifier: GPL-3.0-or-later
// Reverse and fades: whole-clip routines, in place on 16-bit samples.
#pragma once

#include "audio/progress.h"

#include <cstdint>

void ReverseClip(int16_t *Samples, int32_t Count, ProgressShare progress = {});
// Parabolic gain from 0 at the first sample to 32767 / peak at the last.
void FadeInClip(int16_t *Samples, int32_t Count, ProgressShare progress = {});
// Parabolic gain from 32767 / peak at the first sample to 0 at the last.
void FadeOutClip(int16_t *Samples, int32_t Count, ProgressShare progress = {});
