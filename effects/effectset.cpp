// SPDX-License-Identifier: GPL-3.0-or-later
// The effect set and its settings record.
//
// Words of the record, in file order (not the order of the buttons):
//   0 count, 1 Echo, 2 Chorus, 3 Flange, 4 Fade In, 5 Fade Out, 6 Bass Only,
//   7 Robot voice, 8 Backward, 9 Slow Monster, 10 Fast Squeaker,
//   11 Treble Only, 12 pitch (signed), 13 Sweep Up, 14 Sweep Down.
#include "effects/effectset.h"

#include <algorithm>
#include <array>

namespace {

// Words 1..11 in word order with the flag each one mirrors.
constexpr std::array<bool TEffectSet::*, 11> FlagWords = {
    &TEffectSet::Echo,        &TEffectSet::Chorus,       &TEffectSet::Flange,     &TEffectSet::FadeIn,
    &TEffectSet::FadeOut,     &TEffectSet::BassOnly,     &TEffectSet::Robotvoice, &TEffectSet::Backward,
    &TEffectSet::SlowMonster, &TEffectSet::FastSqueaker, &TEffectSet::TrebleOnly,
};

constexpr std::size_t PitchWord = 12;
constexpr std::size_t SweepUpWord = 13;
constexpr std::size_t SweepDownWord = 14;
constexpr uint16_t CapturedCount = 14;

uint16_t FlagWord(bool on)
{
    return on ? 1 : 0;
}

} // namespace

int32_t CountEffects(const TEffectSet &effects)
{
    const bool processing[] = {effects.Echo,       effects.Chorus,  effects.Robotvoice, effects.Backward,
                               effects.Flange,     effects.FadeIn,  effects.FadeOut,    effects.BassOnly,
                               effects.TrebleOnly, effects.SweepUp, effects.SweepDown};
    int32_t count = static_cast<int32_t>(std::count(std::begin(processing), std::end(processing), true));
    if (effects.PitchPosition != PitchBarRest)
        ++count;
    return count;
}

void CaptureEffectSettings(const TEffectSet &effects, TEffectSettings &record)
{
    record.Words[0] = CapturedCount;
    for (std::size_t i = 0; i < FlagWords.size(); ++i)
        record.Words[1 + i] = FlagWord(effects.*FlagWords[i]);
    // Stored as the signed 16-bit pitch position.
    record.Words[PitchWord] = static_cast<uint16_t>(static_cast<int16_t>(effects.PitchPosition));
    record.Words[SweepUpWord] = FlagWord(effects.SweepUp);
    record.Words[SweepDownWord] = FlagWord(effects.SweepDown);
}

TEffectSet ApplyEffectSettings(const TEffectSet &current, const TEffectSettings &record)
{
    TEffectSet effects = current;
    for (std::size_t i = 0; i < FlagWords.size(); ++i)
        effects.*FlagWords[i] = record.Words[1 + i] != 0;
    // The pitch bar limits the stored position to its range.
    const int32_t pitch = static_cast<int16_t>(record.Words[PitchWord]);
    effects.PitchPosition = std::clamp(pitch, int32_t{0}, PitchBarMax);
    // The count word says how many settings follow: the sweeps were added
    // last and are present only when it covers them.
    const uint16_t count = record.Words[0];
    if (count > 12)
        effects.SweepUp = record.Words[SweepUpWord] != 0;
    if (count > 13)
        effects.SweepDown = record.Words[SweepDownWord] != 0;
    return effects;
}
