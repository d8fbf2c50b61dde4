// SPDX-License-Identifier: GPL-3.0-or-later
// The effect selection as it travels in the "qmbl" chunk of a WAVE file:
// 257 little-endian 16-bit words (514 bytes), unsigned except word 12.
//
//  word 0      number of settings that follow (written as 14)
//  words 1..11 Echo, Chorus, Flange, Fade In, Fade Out, Bass Only,
//              Robot voice, Backward, Slow Monster, Fast Squeaker, Treble Only
//  word 12     pitch position, signed (0..12, 6 = unchanged)
//  words 13,14 Sweep Up, Sweep Down
//  15..256     reserved, carried through unchanged
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

inline constexpr std::size_t EffectSettingsWords = 257;
inline constexpr std::size_t EffectSettingsBytes = 514;

struct TEffectSettings {
    std::array<uint16_t, EffectSettingsWords> Words{};

    // The record as stored in a file, little-endian whatever the host.
    std::array<uint8_t, EffectSettingsBytes> ToBytes() const;
    static TEffectSettings FromBytes(const uint8_t *bytes);

    bool operator==(const TEffectSettings &) const = default;
};
