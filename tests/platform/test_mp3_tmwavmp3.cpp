// SPDX-License-Identifier: GPL-3.0-or-later
// The conversion library, run for real over shine on generated tones.

#include "platform/tmwavmp3.h"
#include "tests/fulldisk.h"
#include "tests/platform/test_mp3frames.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <functional>
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

// Every failure leaves a file already at the destination byte for byte and
// no temporary file beside it.
TEST_F(ConversionLibrary, EveryFailureLeavesAnEarlierFileAsItWasAndNoTemporaryFile)
{
    std::vector<uint8_t> earlier(100 * 1024);
    for (size_t i = 0; i < earlier.size(); ++i)
        earlier[i] = static_cast<uint8_t>(i * 7 + 3);
    const std::string longSource = (dir / "long.wav").string();
    WriteTone(longSource, 22050, 1, 22050 * 120);
    const std::string noData = (dir / "nodata.wav").string();
    {
        auto bytes = ReadAll(source);
        bytes[36] = 'l'; // "lata"
        std::ofstream(noData, std::ios::binary).write(reinterpret_cast<const char *>(bytes.data()), 44);
    }
    const struct {
        const char *Name;
        std::function<int16_t()> Convert;
        int16_t Code;
    } cases[] = {
        {"refused bit rate", [&] { return ConvertWaveFileToMp3(source.c_str(), target.c_str(), 192000); }, 406},
        {"no data chunk", [&] { return ConvertWaveFileToMp3(noData.c_str(), target.c_str(), 64000); }, 435},
        {"stopped",
         [&] {
             // A failed start puts the status back to 0 first.
             ConvertWaveFileToMp3((dir / "absent.wav").c_str(), target.c_str(), 64000);
             std::atomic<int16_t> result{-1};
             std::thread worker([&] { result = ConvertWaveFileToMp3(longSource.c_str(), target.c_str(), 64000); });
             while (GetStatusWavToMP3() == 0 && result == -1)
                 std::this_thread::yield();
             StopConversionWavToMP3();
             worker.join();
             return result.load();
         },
         431},
        {"file-size limit (a full disk)",
         [&] {
             fulldisk::FileSizeLimit limit(earlier.size() + 4096);
             return ConvertWaveFileToMp3(longSource.c_str(), target.c_str(), 64000);
         },
         432},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Name);
        std::ofstream(target, std::ios::binary | std::ios::trunc)
            .write(reinterpret_cast<const char *>(earlier.data()), static_cast<std::streamsize>(earlier.size()));
        EXPECT_EQ(c.Convert(), c.Code);
        EXPECT_EQ(ReadAll(target), earlier);
        for (const auto &entry : fs::directory_iterator(dir))
            EXPECT_NE(entry.path().filename().string().substr(0, 4), ".gbx") << entry.path();
    }
    // A finished conversion replaces it.
    ASSERT_EQ(ConvertWaveFileToMp3(source.c_str(), target.c_str(), 64000), 0);
    EXPECT_FALSE(Frames(ReadAll(target)).empty());
}

TEST_F(ConversionLibrary, AFullTmpfsGives432AndKeepsTheEarlierFile)
{
    fulldisk::SmallDisk disk;
    if (!disk.Mounted())
        GTEST_SKIP() << "no tmpfs can be mounted here (the file-size case above covers the full disk)";
    const std::string onDisk = disk.File("earlier.mp3");
    const std::vector<uint8_t> earlier(10000, 0x5A);
    std::ofstream(onDisk, std::ios::binary).write(reinterpret_cast<const char *>(earlier.data()), 10000);
    ASSERT_TRUE(disk.Fill());
    EXPECT_EQ(ConvertWaveFileToMp3(source.c_str(), onDisk.c_str(), 64000), 432);
    EXPECT_EQ(ReadAll(onDisk), earlier);
    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(disk.Folder()))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"earlier.mp3", "filler"}));
}

TEST_F(ConversionLibrary, ADestinationThatIsALinkStaysALink)
{
    fs::create_directories(dir / "songs");
    const fs::path link = dir / "link.mp3";
    fs::create_symlink("songs/new.mp3", link); // nothing there yet
    ASSERT_EQ(ConvertWaveFileToMp3(source.c_str(), link.c_str(), 64000), 0);
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_FALSE(Frames(ReadAll((dir / "songs" / "new.mp3").string())).empty());
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
