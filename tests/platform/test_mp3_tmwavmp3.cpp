// The conversion library, run for real over shine on generated tones.

#include "platform/tmwavmp3.h"
#include "tests/platform/test_mp3frames.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <thread>

namespace fs = std::filesystem;
using namespace mp3test;

namespace {

class ConversionLibrary : public testing::Test {
protected:
    void SetUp() override
    {
        dir = fs::temp_directory_path() / ("glimmer-tmwavmp3-" + std::to_string(::getpid()));
        fs::create_directories(dir);
        source = (dir / "tone.wav").string();
        target = (dir / "tone.mp3").string();
        WriteTone(source, 22050, 1, 22050);
    }
    void TearDown() override { fs::remove_all(dir); }

    fs::path dir;
    std::string source, target;
};

struct RateCase {
    int32_t bitsPerSecond;
    int bitRateIndex; // the MPEG-2 Layer III table: 8,16,...,64 -> 8, ..., 160 -> 14
};

class ConversionLibraryRates : public ConversionLibrary, public testing::WithParamInterface<RateCase> {};

TEST_P(ConversionLibraryRates, WritesWholeMpeg2LayerIIIFramesAtTheAskedBitRate)
{
    const RateCase c = GetParam();
    ASSERT_EQ(ConvertWaveFileToMp3(source.c_str(), target.c_str(), c.bitsPerSecond), 0);
    const auto bytes = ReadAll(target);
    ASSERT_GE(bytes.size(), 4u);
    // First header by hand: sync 0xFFE, MPEG-2 (version bits 10), layer III (01),
    // bit-rate index, sample-rate index 0 (22050 Hz in MPEG-2), mono (11).
    EXPECT_EQ(bytes[0], 0xFF);
    EXPECT_EQ(bytes[1] & 0xF0, 0xF0);
    EXPECT_EQ((bytes[1] >> 3) & 3, 2);
    EXPECT_EQ((bytes[1] >> 1) & 3, 1);
    EXPECT_EQ(bytes[2] >> 4, c.bitRateIndex);
    EXPECT_EQ((bytes[2] >> 2) & 3, 0);
    EXPECT_EQ(bytes[3] >> 6, 3);
    // The whole file is frames of that kind; one second is 22050 / 576 = 38.3
    // frames, so 39 passes.
    const auto frames = Frames(bytes);
    ASSERT_FALSE(frames.empty());
    EXPECT_GE(frames.size(), 39u);
    EXPECT_LE(frames.size(), 40u);
    for (const Frame &f : frames) {
        EXPECT_EQ(f.SampleRate, 22050);
        EXPECT_EQ(f.BitRate * 1000, c.bitsPerSecond);
    }
    EXPECT_EQ(GetStatusWavToMP3(), 100);
}

INSTANTIATE_TEST_SUITE_P(BitRates, ConversionLibraryRates,
                         testing::Values(RateCase{32000, 4}, RateCase{64000, 8}, RateCase{128000, 12},
                                         RateCase{160000, 14}));

TEST_F(ConversionLibrary, BitRateAbove160At22050HzIs406AndLeavesNoFile)
{
    EXPECT_EQ(ConvertWaveFileToMp3(source.c_str(), target.c_str(), 192000), 406);
    EXPECT_FALSE(fs::exists(target));
    EXPECT_EQ(ConvertWaveFileToMp3(source.c_str(), target.c_str(), 320000), 406);
    EXPECT_FALSE(fs::exists(target));
}

TEST_F(ConversionLibrary, MissingSourceIs433)
{
    EXPECT_EQ(ConvertWaveFileToMp3((dir / "absent.wav").c_str(), target.c_str(), 64000), 433);
    EXPECT_FALSE(fs::exists(target));
}

TEST_F(ConversionLibrary, NotARiffFileIs434AndAFileWithoutDataIs435)
{
    auto bytes = ReadAll(source);
    const std::string bad = (dir / "bad.wav").string();
    bytes[8] = 'X'; // "XAVE"
    std::ofstream(bad, std::ios::binary).write(reinterpret_cast<const char *>(bytes.data()), 44);
    EXPECT_EQ(ConvertWaveFileToMp3(bad.c_str(), target.c_str(), 64000), 434);
    bytes[8] = 'W';
    bytes[36] = 'l'; // "lata": no data chunk
    std::ofstream(bad, std::ios::binary).write(reinterpret_cast<const char *>(bytes.data()), 44);
    EXPECT_EQ(ConvertWaveFileToMp3(bad.c_str(), target.c_str(), 64000), 435);
    EXPECT_FALSE(fs::exists(target));
}

TEST_F(ConversionLibrary, UnwritableDestinationIs408)
{
    EXPECT_EQ(ConvertWaveFileToMp3(source.c_str(), (dir / "no" / "such.mp3").c_str(), 64000), 408);
}

TEST_F(ConversionLibrary, StopEndsARunningConversionWith431AndRemovesTheFile)
{
    // Two minutes of tone: long enough that the stop arrives mid-way.
    const std::string longSource = (dir / "long.wav").string();
    WriteTone(longSource, 22050, 1, 22050 * 120);
    // A failed start puts the status back to 0 from the 100 an earlier test left.
    ASSERT_EQ(ConvertWaveFileToMp3((dir / "absent.wav").c_str(), target.c_str(), 64000), 433);
    ASSERT_EQ(GetStatusWavToMP3(), 0);
    std::atomic<int16_t> result{-1};
    std::thread worker([&] { result = ConvertWaveFileToMp3(longSource.c_str(), target.c_str(), 64000); });
    while (GetStatusWavToMP3() == 0 && result == -1)
        std::this_thread::yield();
    StopConversionWavToMP3();
    worker.join();
    EXPECT_EQ(result, 431);
    EXPECT_LT(GetStatusWavToMP3(), 100);
    EXPECT_FALSE(fs::exists(target));
}

TEST_F(ConversionLibrary, StopWithNothingRunningIsHarmlessAndTheNextConversionRuns)
{
    StopConversionWavToMP3();
    EXPECT_EQ(ConvertWaveFileToMp3(source.c_str(), target.c_str(), 64000), 0);
    EXPECT_FALSE(Frames(ReadAll(target)).empty());
}

TEST_F(ConversionLibrary, StereoAt44100MakesMpeg1StereoFrames)
{
    WriteTone(source, 44100, 2, 44100 / 2);
    ASSERT_EQ(ConvertWaveFileToMp3(source.c_str(), target.c_str(), 128000), 0);
    const auto frames = Frames(ReadAll(target));
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames[0].Version, 1);
    EXPECT_EQ(frames[0].SampleRate, 44100);
    EXPECT_EQ(frames[0].BitRateIndex, 9); // 128 in the MPEG-1 Layer III table
    EXPECT_NE(frames[0].ChannelMode, 3);
}

} // namespace
