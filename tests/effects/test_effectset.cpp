// SPDX-License-Identifier: GPL-3.0-or-later
// The effect set and the settings record of voice files.
#include "effects/effectset.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

TEffectSet AllOn(int32_t pitch)
{
    TEffectSet s;
    s.Echo = s.Chorus = s.Flange = s.FadeIn = s.FadeOut = s.BassOnly = true;
    s.Robotvoice = s.Backward = s.SlowMonster = s.FastSqueaker = s.TrebleOnly = true;
    s.SweepUp = s.SweepDown = true;
    s.PitchPosition = pitch;
    return s;
}

// A record as written by a capture of fresh controls, then edited.
TEffectSettings Record(std::initializer_list<std::pair<int, uint16_t>> words)
{
    TEffectSettings r;
    r.Words[0] = 14;
    r.Words[12] = 6;
    for (const auto &[i, v] : words)
        r.Words[i] = v;
    return r;
}

} // namespace

TEST(CaptureEffectSettings, WritesWordsInFileOrderAndKeepsTheRest)
{
    TEffectSet s;
    s.Echo = true;         // word 1
    s.FadeOut = true;      // word 5
    s.Backward = true;     // word 8
    s.FastSqueaker = true; // word 10
    s.PitchPosition = 3;   // word 12
    s.SweepDown = true;    // word 14
    TEffectSettings r;
    r.Words[15] = 0xBEEF;
    r.Words[256] = 0x1234;
    CaptureEffectSettings(s, r);

    const uint16_t expected[15] = {14, 1, 0, 0, 0, 1, 0, 0, 1, 0, 1, 0, 3, 0, 1};
    for (int i = 0; i < 15; ++i)
        EXPECT_EQ(r.Words[i], expected[i]) << "word " << i;
    EXPECT_EQ(r.Words[15], 0xBEEF);
    EXPECT_EQ(r.Words[256], 0x1234);

    // And as the bytes of the chunk: little-endian words.
    const auto bytes = r.ToBytes();
    EXPECT_EQ(bytes[0], 14);
    EXPECT_EQ(bytes[1], 0);
    EXPECT_EQ(bytes[24], 3);
    EXPECT_EQ(bytes[28], 1);
}

TEST(CaptureEffectSettings, EachFlagLandsInItsOwnWord)
{
    struct Case {
        bool TEffectSet::*flag;
        int word;
    };
    const Case cases[] = {
        {&TEffectSet::Echo, 1},          {&TEffectSet::Chorus, 2},      {&TEffectSet::Flange, 3},
        {&TEffectSet::FadeIn, 4},        {&TEffectSet::FadeOut, 5},     {&TEffectSet::BassOnly, 6},
        {&TEffectSet::Robotvoice, 7},    {&TEffectSet::Backward, 8},    {&TEffectSet::SlowMonster, 9},
        {&TEffectSet::FastSqueaker, 10}, {&TEffectSet::TrebleOnly, 11}, {&TEffectSet::SweepUp, 13},
        {&TEffectSet::SweepDown, 14},
    };
    for (const Case &c : cases) {
        TEffectSet s;
        s.*c.flag = true;
        TEffectSettings r;
        CaptureEffectSettings(s, r);
        for (int w = 1; w <= 14; ++w) {
            const uint16_t want = w == c.word ? 1 : (w == 12 ? 6 : 0);
            EXPECT_EQ(r.Words[w], want) << "flag in word " << c.word << ", checking word " << w;
        }
    }
}

TEST(ApplyEffectSettings, CaptureThenApplyGivesTheSetBack)
{
    TEffectSet mixed;
    mixed.Chorus = mixed.BassOnly = mixed.SlowMonster = mixed.SweepUp = true;
    mixed.PitchPosition = 11;
    for (const TEffectSet &s : {TEffectSet{}, AllOn(0), AllOn(12), mixed}) {
        TEffectSettings r;
        CaptureEffectSettings(s, r);
        EXPECT_EQ(ApplyEffectSettings(TEffectSet{}, r), s);
        EXPECT_EQ(ApplyEffectSettings(AllOn(2), r), s);
    }
}

TEST(ApplyEffectSettings, CountOf12LeavesBothSweepsAsTheyWere)
{
    TEffectSet current;
    current.SweepUp = true;
    current.SweepDown = false;
    const TEffectSettings r = Record({{0, 12}, {1, 1}, {13, 0}, {14, 1}});
    const TEffectSet s = ApplyEffectSettings(current, r);
    EXPECT_TRUE(s.Echo);
    EXPECT_TRUE(s.SweepUp);
    EXPECT_FALSE(s.SweepDown);
}

TEST(ApplyEffectSettings, CountOf13SetsOnlySweepUp)
{
    TEffectSet current;
    current.SweepDown = true;
    const TEffectSettings r = Record({{0, 13}, {13, 1}, {14, 0}});
    const TEffectSet s = ApplyEffectSettings(current, r);
    EXPECT_TRUE(s.SweepUp);
    EXPECT_TRUE(s.SweepDown);
}

TEST(ApplyEffectSettings, CountWordIsReadUnsigned)
{
    // 0xFFFF is 65535, well above 13, not -1.
    const TEffectSet s = ApplyEffectSettings(TEffectSet{}, Record({{0, 0xFFFF}, {13, 1}, {14, 1}}));
    EXPECT_TRUE(s.SweepUp);
    EXPECT_TRUE(s.SweepDown);
}

struct PitchCase {
    uint16_t word;
    int32_t position;
};

class PitchWord : public testing::TestWithParam<PitchCase> {};

TEST_P(PitchWord, IsReadSignedAndLimitedToTheBar)
{
    const PitchCase c = GetParam();
    EXPECT_EQ(ApplyEffectSettings(TEffectSet{}, Record({{12, c.word}})).PitchPosition, c.position);
}

INSTANTIATE_TEST_SUITE_P(Words, PitchWord,
                         testing::Values(PitchCase{0, 0}, PitchCase{6, 6}, PitchCase{12, 12}, PitchCase{20, 12},
                                         PitchCase{0xFFFD, 0}, PitchCase{0x8000, 0}, PitchCase{0x7FFF, 12}));

TEST(ApplyEffectSettings, AnyNonZeroFlagWordMeansOn)
{
    const TEffectSet s =
        ApplyEffectSettings(TEffectSet{}, Record({{1, 0x0100}, {2, 0xFFFF}, {3, 2}, {9, 1}, {10, 7}, {11, 0}}));
    EXPECT_TRUE(s.Echo);
    EXPECT_TRUE(s.Chorus);
    EXPECT_TRUE(s.Flange);
    // Slow Monster and Fast Squeaker are restored exactly, both on here.
    EXPECT_TRUE(s.SlowMonster);
    EXPECT_TRUE(s.FastSqueaker);
    EXPECT_FALSE(s.TrebleOnly);
    EXPECT_FALSE(s.FadeIn);
}

TEST(CountEffects, CountsProcessingEffectsAndAMovedPitchOnly)
{
    EXPECT_EQ(CountEffects(TEffectSet{}), 0);
    EXPECT_EQ(CountEffects(AllOn(6)), 11);
    EXPECT_EQ(CountEffects(AllOn(0)), 12);
    EXPECT_EQ(CountEffects(AllOn(12)), 12);

    TEffectSet rateOnly;
    rateOnly.SlowMonster = rateOnly.FastSqueaker = true;
    EXPECT_EQ(CountEffects(rateOnly), 0);

    TEffectSet pitchOnly;
    pitchOnly.PitchPosition = 7;
    EXPECT_EQ(CountEffects(pitchOnly), 1);

    TEffectSet three;
    three.Robotvoice = three.SweepDown = three.TrebleOnly = true;
    EXPECT_EQ(CountEffects(three), 3);
}
