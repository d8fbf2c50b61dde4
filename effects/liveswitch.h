// SPDX-License-Identifier: GPL-3.0-or-later
// Switching a playing voice over to a newly processed clip of the same
// voice: where to go on in the new clip, and the short crossfade that hides
// the seam. No Qt; the main window's playback uses these at a block boundary.
#pragma once

#include <cstdint>

// The index in a clip of newLength samples (reversed when newBackward) that
// plays the same sample of the voice as index in a clip of oldLength samples
// (reversed when oldBackward). A clip that keeps time holds voice sample v at
// index v, a reversed one at length - 1 - v. The answer lies in
// 0..newLength; newLength means that nothing of the new clip is left.
int32_t MapClipIndex(int32_t index, int32_t oldLength, bool oldBackward, int32_t newLength, bool newBackward);

// Samples of a crossfade of about 10 ms at rate samples per second:
// Round(rate / 100), at least 1 (220 at 22050 Hz).
int32_t CrossfadeLength(uint32_t rate);

// Blends the start of block (count samples of the new clip) from from (what
// the old clip would have played there, fromCount samples, silence after
// them) over fadeLength samples: sample i < fadeLength becomes
// Round((from[i] * (fadeLength - i) + block[i] * i) / fadeLength), halves to
// even; later samples stay as they are.
void CrossfadeFrom(int16_t *block, int32_t count, const int16_t *from, int32_t fromCount, int32_t fadeLength);

// CrossfadeFrom for a crossfade already under way: block[0] (and from[0]) is
// sample at of the fade, so sample i < fadeLength - at becomes
// Round((from[i] * (fadeLength - at - i) + block[i] * (at + i)) / fadeLength).
// A fade handed over in consecutive blocks, at going on from 0, gives the
// same samples as one CrossfadeFrom over all of them. Nothing changes for at
// outside 0..fadeLength - 1.
void CrossfadeFromAt(int16_t *block, int32_t count, const int16_t *from, int32_t fromCount, int32_t fadeLength,
                     int32_t at);
