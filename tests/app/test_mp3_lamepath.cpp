// SPDX-License-Identifier: GPL-3.0-or-later
// The LAME path, loading the real lame_enc library from the build folder.

#include "audio/lameconvert.h"
#include "tests/fulldisk.h"
#include "tests/platform/test_mp3frames.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <thread>

namespace fs = std::filesystem;
using namespace mp3test;

namespace {

class LamePath : public testing::Test {
protected:
    void SetUp() override
    {
        dir = fs::temp_directory_path() / ("glimmer-lamepath-" + std::to_string(::getpid()));
        fs::create_directories(dir / "empty");
        SetLameLibraryFolder(std::getenv("GLIMMER_BUILD_DIR"));
        source = (dir / "tone.wav").string();
        target = (dir / "tone.mp3").string();
        WriteTone(source, 22050, 1, 22050);
    }
    void TearDown() override
    {
        SetLameLibraryFolder({});
        fs::remove_all(dir);
    }

    fs::path dir;
    std::string source, target;
};

TEST_F(LamePath, A22050HzMonoSourceAt160ConvertsToMpeg2FramesAndReaches100)
{
    LameProgress = 0;
    ASSERT_EQ(LameConvertFile(source, target, 160), 0);
    EXPECT_EQ(LameProgress, 100);
    const auto frames = Frames(ReadAll(target));
    ASSERT_GE(frames.size(), 39u);
    for (const Frame &f : frames) {
        EXPECT_EQ(f.SampleRate, 22050);
        EXPECT_EQ(f.BitRate, 160);
        EXPECT_EQ(f.ChannelMode, 3);
        EXPECT_TRUE(f.Crc);
    }
}

TEST_F(LamePath, Above160At22050Is406WithoutLoadingTheLibrary)
{
    // Pointed at a folder without the library: a load would give 503.
    SetLameLibraryFolder((dir / "empty").string());
    EXPECT_EQ(LameConvertFile(source, target, 192), 406);
    SetLameLibraryFolder(std::getenv("GLIMMER_BUILD_DIR"));
    WriteTone(source, 11025, 1, 1000);
    EXPECT_EQ(LameConvertFile(source, target, 320), 406);
}

TEST_F(LamePath, A44100HzSourceAt320IsNotRefused)
{
    WriteTone(source, 44100, 1, 4410);
    ASSERT_EQ(LameConvertFile(source, target, 320), 0);
    const auto frames = Frames(ReadAll(target));
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames[0].Version, 1);
    EXPECT_EQ(frames[0].BitRate, 320);
}

TEST_F(LamePath, MissingLibraryIs503)
{
    SetLameLibraryFolder((dir / "empty").string());
    EXPECT_FALSE(LameLibraryAvailable());
    EXPECT_EQ(LameConvertFile(source, target, 64), 503);
    SetLameLibraryFolder(std::getenv("GLIMMER_BUILD_DIR"));
    EXPECT_TRUE(LameLibraryAvailable());
}

TEST_F(LamePath, HeaderFaultsGiveTheirCodes)
{
    auto bytes = ReadAll(source);
    const std::string bad = (dir / "bad.wav").string();
    auto write = [&](size_t count) {
        std::ofstream(bad, std::ios::binary)
            .write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(count));
    };
    write(43);
    EXPECT_EQ(LameConvertFile(bad, target, 64), 500);
    bytes[11] = 'e'; // "WAVe"
    write(bytes.size());
    EXPECT_EQ(LameConvertFile(bad, target, 64), 501);
    bytes[11] = 'E';
    bytes[32] = 0; // block align 0: the chunks would never move on
    bytes[33] = 0;
    write(bytes.size());
    EXPECT_EQ(LameConvertFile(bad, target, 64), 502);
    EXPECT_EQ(LameConvertFile((dir / "absent.wav").string(), target, 64), LameNotOpened);
}

TEST_F(LamePath, A44ByteSourceGivesOnlyTheEncodersLastBytesAndEndsAt100)
{
    auto bytes = ReadAll(source);
    std::ofstream(source, std::ios::binary).write(reinterpret_cast<const char *>(bytes.data()), 44);
    LameProgress = 37; // what an earlier export left
    ASSERT_EQ(LameConvertFile(source, target, 64), 0);
    EXPECT_EQ(LameProgress, 100);
    // No sound went in: whatever the flush gives is whole frames or nothing.
    const auto mp3 = ReadAll(target);
    EXPECT_TRUE(mp3.empty() || !Frames(mp3).empty());
    EXPECT_LE(mp3.size(), 2000u);
}

TEST_F(LamePath, EveryConversionStartsItsProgressFromZero)
{
    // A failure before the first chunk shows 0, not the last export's 100.
    ASSERT_EQ(LameConvertFile(source, target, 64), 0);
    ASSERT_EQ(LameProgress, 100);
    EXPECT_EQ(LameConvertFile(source, target, 192), 406);
    EXPECT_EQ(LameProgress, 0);
}

// An MP3 that was already there, to be checked byte for byte.
std::vector<uint8_t> EarlierFile()
{
    std::vector<uint8_t> bytes(100 * 1024);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<uint8_t>(i * 13 + 1);
    return bytes;
}

TEST_F(LamePath, EveryFailureLeavesAnEarlierFileAsItWasAndNoTemporaryFile)
{
    const std::vector<uint8_t> earlier = EarlierFile();
    const std::string longSource = (dir / "long.wav").string();
    WriteTone(longSource, 22050, 1, 22050 * 60);
    const std::string source44100 = (dir / "fast.wav").string();
    WriteTone(source44100, 44100, 1, 4410);
    const struct {
        const char *Name;
        std::function<int16_t()> Convert;
        int16_t Code;
    } cases[] = {
        {"refused bit rate", [&] { return LameConvertFile(source, target, 192); }, 406},
        // 8 kbit/s at 44100 Hz: the encoder will not open the stream.
        {"stream refused", [&] { return LameConvertFile(source44100, target, 8); }, 502},
        {"missing library",
         [&] {
             SetLameLibraryFolder((dir / "empty").string());
             const int16_t code = LameConvertFile(source, target, 64);
             SetLameLibraryFolder(std::getenv("GLIMMER_BUILD_DIR"));
             return code;
         },
         503},
        {"stopped while running",
         [&] {
             LameProgress = 0;
             std::atomic<int16_t> result{-1};
             std::thread worker([&] { result = LameConvertFile(longSource, target, 64); });
             while (LameProgress == 0 && result == -1)
                 std::this_thread::yield();
             LameStopRequested = true;
             worker.join();
             return result.load();
         },
         507},
        {"stopped before it began",
         [&] {
             LameStopRequested = true;
             return LameConvertFile(longSource, target, 64);
         },
         507},
        {"file-size limit (a full disk)",
         [&] {
             fulldisk::FileSizeLimit limit(earlier.size() + 4096);
             return LameConvertFile(longSource, target, 64);
         },
         508},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Name);
        std::ofstream(target, std::ios::binary | std::ios::trunc)
            .write(reinterpret_cast<const char *>(earlier.data()), static_cast<std::streamsize>(earlier.size()));
        EXPECT_EQ(c.Convert(), c.Code);
        EXPECT_EQ(ReadAll(target), earlier);
        EXPECT_FALSE(LameStopRequested) << "a conversion that returns clears the stop request";
        for (const auto &entry : fs::directory_iterator(dir))
            EXPECT_NE(entry.path().filename().string().substr(0, 4), ".gbx") << entry.path();
    }
    // A finished conversion replaces it.
    ASSERT_EQ(LameConvertFile(source, target, 64), 0);
    EXPECT_FALSE(Frames(ReadAll(target)).empty());
}

TEST_F(LamePath, AFullTmpfsGives508AndKeepsTheEarlierFile)
{
    fulldisk::SmallDisk disk;
    if (!disk.Mounted())
        GTEST_SKIP() << "no tmpfs can be mounted here (the file-size case covers the full disk)";
    const std::string onDisk = disk.File("earlier.mp3");
    const std::vector<uint8_t> earlier(10000, 0x5A);
    std::ofstream(onDisk, std::ios::binary).write(reinterpret_cast<const char *>(earlier.data()), 10000);
    ASSERT_TRUE(disk.Fill());
    EXPECT_EQ(LameConvertFile(source, onDisk, 64), 508);
    EXPECT_EQ(ReadAll(onDisk), earlier);
    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(disk.Folder()))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"earlier.mp3", "filler"}));
}

} // namespace
