// SPDX-License-Identifier: GPL-3.0-or-later
// The settings record as bytes: 257 little-endian words, word 12 signed.
#include "audio/effectsettings.h"

#include <gtest/gtest.h>

namespace {

TEST(EffectSettings, WordsBecomeLittleEndianBytes)
{
    TEffectSettings record;
    record.Words[0] = 14;
    record.Words[1] = 1;
    record.Words[12] = static_cast<uint16_t>(int16_t{-3});
    record.Words[14] = 0x1234;
    record.Words[256] = 0xABCD;
    const auto bytes = record.ToBytes();
    ASSERT_EQ(bytes.size(), 514u);
    EXPECT_EQ(bytes[0], 0x0E);
    EXPECT_EQ(bytes[1], 0x00);
    EXPECT_EQ(bytes[2], 0x01);
    EXPECT_EQ(bytes[24], 0xFD);
    EXPECT_EQ(bytes[25], 0xFF);
    EXPECT_EQ(bytes[28], 0x34);
    EXPECT_EQ(bytes[29], 0x12);
    EXPECT_EQ(bytes[512], 0xCD);
    EXPECT_EQ(bytes[513], 0xAB);
    int nonZero = 0;
    for (uint8_t b : bytes)
        nonZero += b != 0;
    EXPECT_EQ(nonZero, 8);
}

TEST(EffectSettings, BytesBecomeWordsWithWordTwelveSigned)
{
    uint8_t bytes[514] = {};
    bytes[0] = 12;
    bytes[24] = 0x00; // pitch -256
    bytes[25] = 0xFF;
    bytes[26] = 0x01;
    bytes[27] = 0x02;
    bytes[513] = 0x80;
    const TEffectSettings record = TEffectSettings::FromBytes(bytes);
    EXPECT_EQ(record.Words[0], 12);
    EXPECT_EQ(static_cast<int16_t>(record.Words[12]), -256);
    EXPECT_EQ(record.Words[13], 0x0201);
    EXPECT_EQ(record.Words[256], 0x8000);
}

TEST(EffectSettings, EveryByteSurvivesARoundTrip)
{
    uint8_t bytes[514];
    for (int i = 0; i < 514; ++i)
        bytes[i] = static_cast<uint8_t>(i * 131 + 7);
    const auto back = TEffectSettings::FromBytes(bytes).ToBytes();
    for (int i = 0; i < 514; ++i)
        EXPECT_EQ(back[i], bytes[i]) << "byte " << i;
}

} // namespace
