// SPDX-License-Identifier: GPL-3.0-or-later
// The LAME chunk interface, called directly, over libmp3lame.

#include "platform/lame_enc.h"
#include "tests/platform/test_mp3frames.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace mp3test;

namespace {

TLameConfig Config(uint32_t rate, uint32_t mode, uint32_t bitRate)
{
    TLameConfig config;
    std::memset(&config, 0, sizeof config);
    config.Head.Kind = LAME_CONFIG_KIND;
    config.Head.Version = LAME_CONFIG_VERSION;
    config.Head.Size = LAME_CONFIG_SIZE;
    config.Head.SampleRate = rate;
    config.Head.Mode = mode;
    config.Head.BitRate = bitRate;
    config.Head.MaxBitRate = bitRate;
    config.Head.Preset = 2;
    config.Head.MpegVersion = 1;
    config.Head.Private = 1;
    config.Head.Crc = 1;
    config.Head.VbrQuality = 4;
    return config;
}

// Encodes samples chunk by chunk as the interface asks; the MP3 bytes.
std::vector<uint8_t> Encode(const TLameConfig &config, const std::vector<int16_t> &samples)
{
    uint32_t perChunk = 0, outSize = 0, stream = 0;
    EXPECT_EQ(beInitStream(&config, &perChunk, &outSize, &stream), 0u);
    EXPECT_GT(perChunk, 0u);
    std::vector<uint8_t> out(outSize), mp3;
    for (size_t at = 0; at < samples.size(); at += perChunk) {
        const auto n = static_cast<uint32_t>(std::min<size_t>(perChunk, samples.size() - at));
        uint32_t produced = 0;
        EXPECT_EQ(beEncodeChunk(stream, n, samples.data() + at, out.data(), &produced), 0u);
        mp3.insert(mp3.end(), out.begin(), out.begin() + produced);
    }
    uint32_t produced = 0;
    EXPECT_EQ(beDeinitStream(stream, out.data(), &produced), 0u);
    EXPECT_GT(produced, 0u); // the encoder holds back at least its last frame
    mp3.insert(mp3.end(), out.begin(), out.begin() + produced);
    EXPECT_EQ(beCloseStream(stream), 0u);
    EXPECT_EQ(beCloseStream(stream), static_cast<uint32_t>(LAME_ENC_BAD_HANDLE));
    return mp3;
}

std::vector<int16_t> Tone(uint32_t rate, uint32_t count)
{
    const std::string path = testing::TempDir() + "lame-tone.wav";
    WriteTone(path, rate, 1, count);
    const auto bytes = ReadAll(path);
    std::vector<int16_t> samples(count);
    std::memcpy(samples.data(), bytes.data() + 44, count * 2);
    return samples;
}

TEST(LameChunkInterface, TheRecordIs331BytesWithItsWordsAtTheirOffsets)
{
    EXPECT_EQ(sizeof(TLameConfig), 331u);
    EXPECT_EQ(offsetof(TLameConfigHead, SampleRate), 12u);
    EXPECT_EQ(offsetof(TLameConfigHead, BitRate), 24u);
    EXPECT_EQ(offsetof(TLameConfigHead, Crc), 52u);
    EXPECT_EQ(offsetof(TLameConfigHead, VbrQuality), 72u);
}

TEST(LameChunkInterface, MonoAt22050EncodesToMpeg2FramesWithCrcAndPrivateBit)
{
    const auto mp3 = Encode(Config(22050, LAME_MODE_MONO, 64), Tone(22050, 22050));
    const auto frames = Frames(mp3);
    ASSERT_FALSE(frames.empty());
    // One second of 576-sample frames, plus the encoder's delay and padding.
    EXPECT_GE(frames.size(), 39u);
    for (const Frame &f : frames) {
        EXPECT_EQ(f.Version, 2);
        EXPECT_EQ(f.SampleRate, 22050);
        EXPECT_EQ(f.BitRate, 64);
        EXPECT_EQ(f.BitRateIndex, 8);
        EXPECT_EQ(f.ChannelMode, 3);
        EXPECT_TRUE(f.Crc);
        EXPECT_TRUE(f.Private);
    }
}

TEST(LameChunkInterface, MonoAt44100And320MakesMpeg1Frames)
{
    const auto frames = Frames(Encode(Config(44100, LAME_MODE_MONO, 320), Tone(44100, 11025)));
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames[0].Version, 1);
    EXPECT_EQ(frames[0].SampleRate, 44100);
    EXPECT_EQ(frames[0].BitRateIndex, 14);
}

TEST(LameChunkInterface, ChunkAndOutputSizesFollowTheFrame)
{
    TLameConfig config = Config(22050, LAME_MODE_MONO, 64);
    uint32_t perChunk = 0, outSize = 0, stream = 0;
    ASSERT_EQ(beInitStream(&config, &perChunk, &outSize, &stream), 0u);
    EXPECT_EQ(perChunk, 576u); // one MPEG-2 Layer III frame of one channel
    EXPECT_EQ(outSize, 2 * 576 * 5 / 4 + 7200u);
    std::vector<int16_t> tooMany(2 * perChunk + 1);
    std::vector<uint8_t> out(outSize);
    uint32_t produced = 1;
    EXPECT_EQ(beEncodeChunk(stream, static_cast<uint32_t>(tooMany.size()), tooMany.data(), out.data(), &produced),
              static_cast<uint32_t>(LAME_ENC_BUFFER_TOO_SMALL));
    EXPECT_EQ(produced, 0u);
    EXPECT_EQ(beCloseStream(stream), 0u);
}

struct BadConfig {
    const char *what;
    void (*spoil)(TLameConfig &);
    uint32_t expected;
};

class LameBadConfig : public testing::TestWithParam<BadConfig> {};

TEST_P(LameBadConfig, IsRefusedWithoutAStream)
{
    TLameConfig config = Config(22050, LAME_MODE_MONO, 64);
    GetParam().spoil(config);
    uint32_t perChunk = 0, outSize = 0, stream = 0;
    EXPECT_EQ(beInitStream(&config, &perChunk, &outSize, &stream), GetParam().expected) << GetParam().what;
    EXPECT_EQ(stream, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Records, LameBadConfig,
    testing::Values(BadConfig{"kind", [](TLameConfig &c) { c.Head.Kind = 0; }, LAME_ENC_BAD_FORMAT},
                    BadConfig{"size", [](TLameConfig &c) { c.Head.Size = 330; }, LAME_ENC_BAD_FORMAT},
                    BadConfig{"version", [](TLameConfig &c) { c.Head.Version = 2; }, LAME_ENC_BAD_FORMAT},
                    BadConfig{"rate", [](TLameConfig &c) { c.Head.SampleRate = 22000; }, LAME_ENC_BAD_PARAMETERS},
                    BadConfig{"bit rate 192 at 22050", [](TLameConfig &c) { c.Head.BitRate = 192; },
                              LAME_ENC_BAD_PARAMETERS},
                    BadConfig{"bit rate 8 at 44100",
                              [](TLameConfig &c) {
                                  c.Head.SampleRate = 44100;
                                  c.Head.BitRate = 8;
                              },
                              LAME_ENC_BAD_PARAMETERS},
                    BadConfig{"mode", [](TLameConfig &c) { c.Head.Mode = 1; }, LAME_ENC_BAD_PARAMETERS}));

TEST(LameChunkInterface, UnknownHandlesAreRefused)
{
    uint8_t out[16];
    uint32_t produced = 0;
    int16_t sample = 0;
    EXPECT_EQ(beEncodeChunk(0, 1, &sample, out, &produced), static_cast<uint32_t>(LAME_ENC_BAD_HANDLE));
    EXPECT_EQ(beDeinitStream(99, out, &produced), static_cast<uint32_t>(LAME_ENC_BAD_HANDLE));
    EXPECT_EQ(beCloseStream(17), static_cast<uint32_t>(LAME_ENC_BAD_HANDLE));
}

} // namespace
