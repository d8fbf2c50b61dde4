// The LAME path, loading the real lame_enc library from the build folder.

#include "audio/lameconvert.h"
#include "tests/platform/test_mp3frames.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
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

TEST_F(LamePath, A44ByteSourceGivesOnlyTheEncodersLastBytesAndLeavesTheProgress)
{
    auto bytes = ReadAll(source);
    std::ofstream(source, std::ios::binary).write(reinterpret_cast<const char *>(bytes.data()), 44);
    LameProgress = 37;
    ASSERT_EQ(LameConvertFile(source, target, 64), 0);
    EXPECT_EQ(LameProgress, 37);
    // No sound went in: whatever the flush gives is whole frames or nothing.
    const auto mp3 = ReadAll(target);
    EXPECT_TRUE(mp3.empty() || !Frames(mp3).empty());
    EXPECT_LE(mp3.size(), 2000u);
}

TEST_F(LamePath, StopRequestEndsWith507AndKeepsTheChunksSoFar)
{
    WriteTone(source, 22050, 1, 22050 * 60);
    LameProgress = 0;
    std::atomic<int16_t> result{-1};
    std::thread worker([&] { result = LameConvertFile(source, target, 64); });
    while (LameProgress == 0 && result == -1)
        std::this_thread::yield();
    LameStopRequested = true;
    worker.join();
    EXPECT_EQ(result, 507);
    EXPECT_LT(LameProgress, 100);
    const auto mp3 = ReadAll(target);
    EXPECT_FALSE(mp3.empty());
    EXPECT_LT(mp3.size(), 60u * 8000u); // far less than a minute at 64 kbit/s
}

} // namespace
