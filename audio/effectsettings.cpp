// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/effectsettings.h"

std::array<uint8_t, EffectSettingsBytes> TEffectSettings::ToBytes() const
{
    std::array<uint8_t, EffectSettingsBytes> bytes{};
    for (std::size_t i = 0; i < EffectSettingsWords; ++i) {
        bytes[2 * i] = static_cast<uint8_t>(Words[i] & 0xFF);
        bytes[2 * i + 1] = static_cast<uint8_t>(Words[i] >> 8);
    }
    return bytes;
}

TEffectSettings TEffectSettings::FromBytes(const uint8_t *bytes)
{
    TEffectSettings settings;
    for (std::size_t i = 0; i < EffectSettingsWords; ++i)
        settings.Words[i] = static_cast<uint16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    return settings;
}
