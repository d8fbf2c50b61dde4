// SPDX-License-Identifier: GPL-3.0-or-later
// The effect selection as a plain record, read from the controls at every
// run, and its conversion to and from the settings record of voice files.
#pragma once

#include "audio/effectsettings.h"

#include <cstdint>

struct TEffectSet {
    bool Echo = false;
    bool Chorus = false;
    bool Flange = false;
    bool FadeIn = false;
    bool FadeOut = false;
    bool BassOnly = false;
    bool Robotvoice = false;
    bool Backward = false;
    bool SlowMonster = false;
    bool FastSqueaker = false;
    bool TrebleOnly = false;
    int32_t PitchPosition = 6; // PitchBar position 0..12, 6 = unchanged
    bool SweepUp = false;
    bool SweepDown = false;

    bool operator==(const TEffectSet &) const = default;
};

inline constexpr int32_t PitchBarMax = 12;
inline constexpr int32_t PitchBarRest = 6;

// Selected effects that process samples: eleven flags and the pitch when not
// at 6 (Slow Monster and Fast Squeaker are not counted). 0..12.
int32_t CountEffects(const TEffectSet &effects);

// Words 0..14 filled from the set (word 0 = 14); the rest of record is kept.
void CaptureEffectSettings(const TEffectSet &effects, TEffectSettings &record);

// The set that results from applying record over current: words 1..11 and
// the pitch (clamped to 0..12) always; Sweep Up only when word 0 > 12, Sweep
// Down only when word 0 > 13 (otherwise they keep current's value).
TEffectSet ApplyEffectSettings(const TEffectSet &current, const TEffectSettings &record);
