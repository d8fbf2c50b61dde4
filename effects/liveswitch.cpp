// SPDX-License-Identifier: GPL-3.0-or-later
// The seam between an old and a new clip of the same voice:
//
//   old clip  ... a b c d e f g h                (what would have come next)
//                 | fades out over L samples
//   new clip      A B C D E F G H ...           (from the mapped index on)
//                 | fades in over the same L samples
//   heard     ... mix(a,A) mix(b,B) ... H ...   (the new clip alone after L)
//
// mix(x, X) at i = (x * (L - i) + X * i) / L, rounded half to even: two
// equal clips give back their own samples, so a switch to a clip that did
// not change is not heard at all.
#include "effects/liveswitch.h"

#include "effects/sample.h"

#include <algorithm>

int32_t MapClipIndex(int32_t index, int32_t oldLength, bool oldBackward, int32_t newLength, bool newBackward)
{
    // The voice sample the old clip was about to play.
    const int64_t voice = oldBackward ? static_cast<int64_t>(oldLength) - 1 - index : index;
    const int64_t mapped = newBackward ? static_cast<int64_t>(newLength) - 1 - voice : voice;
    return static_cast<int32_t>(std::clamp<int64_t>(mapped, 0, std::max(newLength, 0)));
}

int32_t CrossfadeLength(uint32_t rate)
{
    return std::max<int32_t>(1, static_cast<int32_t>(RoundHalfEven(rate / 100.0)));
}

void CrossfadeFrom(int16_t *block, int32_t count, const int16_t *from, int32_t fromCount, int32_t fadeLength)
{
    CrossfadeFromAt(block, count, from, fromCount, fadeLength, 0);
}

void CrossfadeFromAt(int16_t *block, int32_t count, const int16_t *from, int32_t fromCount, int32_t fadeLength,
                     int32_t at)
{
    if (fadeLength <= 0 || at < 0 || at >= fadeLength)
        return;
    const int32_t blended = std::min(count, fadeLength - at);
    // Sample j = at + i of the fade weighs the old clip by (L - j) / L and
    // the new one by j / L.
    for (int32_t i = 0; i < blended; ++i) {
        const int64_t j = int64_t{at} + i;
        const int64_t before = i < fromCount ? from[i] : 0;
        const int64_t sum = before * (fadeLength - j) + static_cast<int64_t>(block[i]) * j;
        block[i] = Clip16(RoundHalfEven(static_cast<double>(sum) / fadeLength));
    }
}
