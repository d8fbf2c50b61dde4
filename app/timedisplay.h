// SPDX-License-Identifier: GPL-3.0-or-later
// The " POS: mm:ss:hh" time display under the Play button, as numbers. A
// position counts 32 units per second of the voice (16 bits per sample times
// a block alignment of 2), so whatever is shown moves in steps of 1/32 s.
// Every conversion rounds to the nearest integer, halves to the even one.
#pragma once

#include <cstdint>
#include <string>

// The position unit for a device position given in sample frames, counted
// as time of the clip itself: the frames are divided by the voice's own rate
// (22050) whatever rate the clip plays at.
int32_t PositionFromPlayedSamples(uint32_t samples);

// The position unit for milliseconds of recording:
// Round(milliseconds * 0.001 * 16 * 2).
int32_t PositionFromElapsedMs(uint32_t milliseconds);

// Milliseconds that a position shows: Round(position / 32 * 1000).
int32_t PositionMilliseconds(int32_t position);

// Milliseconds of a voice of voiceBytes bytes at 44100 bytes per second.
int32_t VoiceLengthMilliseconds(int32_t voiceBytes);

// " POS: " then minutes, seconds and hundredths, each at least two digits
// ("100" minutes stay three), no trailing space: 1219 ms is " POS: 00:01:21".
std::string PositionCaption(int32_t milliseconds);
