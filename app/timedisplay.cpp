// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/timedisplay.h"

#include "audio/voiceformat.h"
#include "base/rounding.h"

namespace {

// 16 bits x block alignment 2: the position units in one second.
constexpr double UnitsPerSecond = VoiceFormat.BitsPerSample * (VoiceFormat.BlockAlign * 1.0);

std::string TwoDigits(int32_t value)
{
    std::string text = std::to_string(value);
    return text.size() < 2 ? "0" + text : text;
}

} // namespace

int32_t PositionFromPlayedSamples(uint32_t samples)
{
    const int64_t ms = RoundHalfEven(samples * 1000.0 / VoiceFormat.SamplesPerSec);
    return static_cast<int32_t>(RoundHalfEven(ms * 0.001 * VoiceFormat.BitsPerSample * VoiceFormat.BlockAlign));
}

int32_t PositionFromElapsedMs(uint32_t milliseconds)
{
    return static_cast<int32_t>(
        RoundHalfEven(milliseconds * 0.001 * VoiceFormat.BitsPerSample * VoiceFormat.BlockAlign));
}

int32_t PositionMilliseconds(int32_t position)
{
    return static_cast<int32_t>(RoundHalfEven(position / UnitsPerSecond * 1000));
}

int32_t VoiceLengthMilliseconds(int32_t voiceBytes)
{
    return static_cast<int32_t>(RoundHalfEven(voiceBytes / (2.0 * VoiceFormat.SamplesPerSec) * 1000));
}

std::string PositionCaption(int32_t milliseconds)
{
    const int32_t minutes = milliseconds / 60000;
    const int32_t seconds = milliseconds % 60000 / 1000;
    const int32_t hundredths = milliseconds % 60000 % 1000 / 10;
    return " POS: " + TwoDigits(minutes) + ":" + TwoDigits(seconds) + ":" + TwoDigits(hundredths);
}
