// SPDX-License-Identifier: GPL-3.0-or-later
// Going over to a newly processed clip while the voice plays: where the new
// clip goes on, the 10 ms crossfade at the seam, and a pipeline run that a
// newer change cancels.
#include "effects/liveswitch.h"
#include "effects/pipeline.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <vector>

namespace {

TEST(LiveSwitch, MapsTheVoicePositionBetweenForwardAndBackwardClips)
{
    const struct {
        int32_t Index, OldLength;
        bool OldBackward;
        int32_t NewLength;
        bool NewBackward;
        int32_t Expected;
    } cases[] = {
        {4048, 10000, false, 10000, false, 4048}, // keeps time: the same index
        {4048, 10000, false, 10000, true, 5951},  // voice sample 4048 sits at 9999 - 4048
        {5951, 10000, true, 10000, false, 4048},  // and back
        {4048, 10000, true, 10000, true, 4048},   // reversed both times
        {4048, 10000, false, 16614, false, 4048}, // a longer (echoed) clip keeps the index
        {4048, 16614, true, 10000, true, 0},      // 9999 - (16613 - 4048) lies before the start
        {0, 10000, false, 10000, true, 9999},
        {10000, 10000, false, 8000, false, 8000}, // past the new clip's end: nothing left
        {12000, 16614, false, 10000, true, 0},    // an echo tail mirrors before the start
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Index);
        EXPECT_EQ(MapClipIndex(c.Index, c.OldLength, c.OldBackward, c.NewLength, c.NewBackward), c.Expected);
    }
}

TEST(LiveSwitch, CrossfadeLastsTenMillisecondsAtEveryRate)
{
    EXPECT_EQ(CrossfadeLength(22050), 220); // 220.5 goes to the even 220
    EXPECT_EQ(CrossfadeLength(11025), 110); // 110.25
    EXPECT_EQ(CrossfadeLength(44100), 441);
    EXPECT_EQ(CrossfadeLength(50), 1);
}

TEST(LiveSwitch, CrossfadeBlendsTheOldIntoTheNewOverItsLength)
{
    const struct {
        const char *Name;
        std::vector<int16_t> From;
        std::vector<int16_t> Block;
        int32_t Fade;
        std::vector<int16_t> Expected;
    } cases[] = {
        // (100 * (4 - i) + 200 * i) / 4, then the new clip alone.
        {"even steps", {100, 100, 100, 100}, {200, 200, 200, 200, 200}, 4, {100, 125, 150, 175, 200}},
        // 1 * 3 / 4 = 0.75 goes to 1, 3 * 2 / 4 = 1.5 to 2, 2 * 1 / 4 = 0.5 to 0.
        {"halves to even", {1, 1, 3, 2}, {0, 0, 0, 0}, 4, {1, 1, 2, 0}},
        {"old clip ended: fades in from silence", {400}, {400, 400, 400, 400}, 4, {400, 100, 200, 300}},
        {"equal clips are not changed", {-7, 30000, -32768, 5}, {-7, 30000, -32768, 5}, 4, {-7, 30000, -32768, 5}},
        {"a block shorter than the fade", {0, 0}, {-800, -800}, 8, {0, -100}},
        {"extremes stay in range", {-32768, -32768}, {32767, 32767}, 2, {-32768, 0}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Name);
        std::vector<int16_t> block = c.Block;
        CrossfadeFrom(block.data(), static_cast<int32_t>(block.size()), c.From.data(),
                      static_cast<int32_t>(c.From.size()), c.Fade);
        EXPECT_EQ(block, c.Expected);
    }
}

TEST(LiveSwitch, ACrossfadeInPiecesGivesTheSamplesOfOneCrossfade)
{
    const std::vector<int16_t> from = {-32768, 901, -77, 32767, 5, 5, -3, 1200, 8, -9};
    const std::vector<int16_t> block = {32767, -32768, 33, -1, 7, -5, 3, -1200, 12000, 40, 41, 42, 43};
    const int32_t fade = static_cast<int32_t>(from.size());
    std::vector<int16_t> whole = block;
    CrossfadeFrom(whole.data(), static_cast<int32_t>(whole.size()), from.data(), fade, fade);
    for (const std::vector<int32_t> &pieces : std::vector<std::vector<int32_t>>{{1}, {3}, {4, 9}, {10, 3}, {2, 2, 9}}) {
        std::vector<int16_t> blended = block;
        for (int32_t at = 0, k = 0; at < static_cast<int32_t>(blended.size()); ++k) {
            const int32_t n = std::min(pieces[k % pieces.size()], static_cast<int32_t>(blended.size()) - at);
            CrossfadeFromAt(blended.data() + at, n, from.data() + std::min(at, fade), std::max(fade - at, 0), fade, at);
            at += n;
        }
        EXPECT_EQ(blended, whole);
    }
    // Past the fade's end, or before its start, nothing changes.
    std::vector<int16_t> untouched = block;
    CrossfadeFromAt(untouched.data(), 3, from.data(), 3, fade, fade);
    CrossfadeFromAt(untouched.data(), 3, from.data(), 3, fade, -1);
    EXPECT_EQ(untouched, block);
}

std::vector<int16_t> Tone(size_t count)
{
    std::vector<int16_t> clip(count);
    for (size_t i = 0; i < count; ++i)
        clip[i] = static_cast<int16_t>(9000 * std::sin(2 * M_PI * 300 * static_cast<double>(i) / 22050));
    return clip;
}

TEST(LiveSwitch, AFlagNeverSetChangesNothingAndASetOneStopsTheRunEarly)
{
    const std::vector<int16_t> voice = Tone(3 * 22050);
    const auto bytes = static_cast<int32_t>(voice.size() * 2);
    TEffectSet effects;
    effects.Echo = true;
    effects.Chorus = true;
    effects.PitchPosition = 2;

    std::vector<int16_t> plain(voice.size()), flagged(voice.size()), cancelled(voice.size());
    bool altered = true;
    RunEffectPipeline(voice.data(), bytes, plain.data(), bytes, altered, effects, 22050);
    std::atomic<bool> never{false};
    altered = true;
    RunEffectPipeline(voice.data(), bytes, flagged.data(), bytes, altered, effects, 22050, nullptr, &never);
    EXPECT_EQ(flagged, plain);

    // Cancelled before it starts, the run leaves the fresh copy of the voice
    // unprocessed: no step touched it.
    std::atomic<bool> set{true};
    altered = true;
    RunEffectPipeline(voice.data(), bytes, cancelled.data(), bytes, altered, effects, 22050, nullptr, &set);
    EXPECT_EQ(cancelled, voice);
}

} // namespace
