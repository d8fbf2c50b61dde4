// SPDX-License-Identifier: GPL-3.0-or-later
// The time display's arithmetic. Expected values worked by hand:
//   ms from samples   Round(samples * 1000 / 22050)
//   position          Round(ms * 0.001 * 32), for playing and recording alike
//   ms shown          Round(position / 32 * 1000) = Round(position * 31.25)
//   voice length      Round(bytes / 44100 * 1000)
#include "app/timedisplay.h"

#include <gtest/gtest.h>

namespace {

TEST(TimeDisplay, PlayedSamplesBecomePositionsOfTheClipsOwnTime)
{
    const struct {
        uint32_t Samples;
        int32_t Position;
    } cases[] = {
        {0, 0},      {27210, 39}, // 1234.01 ms -> 1234 ms -> 39.488 -> 39
        {22050, 32},              // one second of clip, however fast or slow it was played
        {11025, 16},              // half a second
        {44100, 64},              // two seconds
        {345, 1},                 // 15.65 ms -> 16 ms -> 0.512 -> 1
        {330, 0},                 // 14.97 ms -> 15 ms -> 0.48 -> 0
    };
    for (const auto &c : cases)
        EXPECT_EQ(PositionFromPlayedSamples(c.Samples), c.Position) << c.Samples;
}

TEST(TimeDisplay, RecordingMillisecondsBecomeThirtySecondsOfASecond)
{
    const struct {
        uint32_t Ms;
        int32_t Position;
    } cases[] = {
        {0, 0},
        {1000, 32},
        {2500, 80},               // 2.5 s of recording show 00:02:50
        {1234, 39},               // 39.488
        {15, 0},                  // 0.48
        {16, 1},                  // 0.512
        {47, 2},                  // 1.504
        {4000000000u, 128000000}, // a recording of 46 days still counts
    };
    for (const auto &c : cases)
        EXPECT_EQ(PositionFromElapsedMs(c.Ms), c.Position) << c.Ms;
    EXPECT_EQ(PositionCaption(PositionMilliseconds(PositionFromElapsedMs(2500))), " POS: 00:02:50");
}

TEST(TimeDisplay, PositionsShowMillisecondsWithHalvesGoingToEven)
{
    EXPECT_EQ(PositionMilliseconds(39), 1219); // 1218.75
    EXPECT_EQ(PositionMilliseconds(32), 1000);
    EXPECT_EQ(PositionMilliseconds(2), 62);  // 62.5 -> 62
    EXPECT_EQ(PositionMilliseconds(6), 188); // 187.5 -> 188
    EXPECT_EQ(PositionMilliseconds(1), 31);  // 31.25
    EXPECT_EQ(PositionMilliseconds(3), 94);  // 93.75
}

TEST(TimeDisplay, VoiceLengthCountsFortyFourThousandOneHundredBytesASecond)
{
    EXPECT_EQ(VoiceLengthMilliseconds(0), 0);
    EXPECT_EQ(VoiceLengthMilliseconds(44100), 1000);
    EXPECT_EQ(VoiceLengthMilliseconds(8096), 184); // 183.58
    EXPECT_EQ(VoiceLengthMilliseconds(22), 0);     // 0.4989
    EXPECT_EQ(VoiceLengthMilliseconds(23), 1);     // 0.5215
    EXPECT_EQ(VoiceLengthMilliseconds(2646000), 60000);
}

TEST(TimeDisplay, CaptionHasTwoDigitFieldsAndNoTrailingSpace)
{
    EXPECT_EQ(PositionCaption(0), " POS: 00:00:00");
    EXPECT_EQ(PositionCaption(1219), " POS: 00:01:21");
    EXPECT_EQ(PositionCaption(1000), " POS: 00:01:00");
    EXPECT_EQ(PositionCaption(9), " POS: 00:00:00");
    EXPECT_EQ(PositionCaption(61999), " POS: 01:01:99");
    EXPECT_EQ(PositionCaption(599999), " POS: 09:59:99");
    EXPECT_EQ(PositionCaption(6000000), " POS: 100:00:00");
}

TEST(TimeDisplay, TwelveHundredThirtyFourMillisecondsOfPlayShowOneTwentyOne)
{
    EXPECT_EQ(PositionCaption(PositionMilliseconds(PositionFromPlayedSamples(27210))), " POS: 00:01:21");
}

} // namespace
