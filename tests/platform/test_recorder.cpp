// SPDX-License-Identifier: GPL-3.0-or-later
// The recorder against the private sound server. Its inputs have no ports,
// so the recording inputs are its input devices in the server's order:
// 0 glimmer_line (a live 1000 Hz sine), 1 glimmer_mic (a live 440 Hz sine),
// both at half of full scale (16384), 2 glimmer_sine.
#include "platform/sqwaveplayer.h"

#include "tests/fulldisk.h"
#include "tests/platform/soundtest.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <thread>

using namespace std::chrono_literals;
using soundtest::Clock;
using soundtest::LE16;
using soundtest::LE32;

namespace {

constexpr uint16_t MicInput = 1;

struct Wave {
    uint16_t Format, Channels, BlockAlign, Bits;
    uint32_t Rate, AvgBytes;
    std::vector<unsigned char> Data;
};

// Checks the layout byte by byte: RIFF, a 16-byte PCM "fmt " chunk, "data"
// with the rest of the file.
Wave ReadWave(const std::string &path)
{
    std::vector<unsigned char> bytes = soundtest::ReadFile(path);
    Wave wave{};
    EXPECT_GE(bytes.size(), 44u);
    if (bytes.size() < 44) {
        return wave;
    }
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "RIFF");
    EXPECT_EQ(LE32(&bytes[4]), bytes.size() - 8);
    EXPECT_EQ(std::string(bytes.begin() + 8, bytes.begin() + 16), "WAVEfmt ");
    EXPECT_EQ(LE32(&bytes[16]), 16u);
    wave.Format = LE16(&bytes[20]);
    wave.Channels = LE16(&bytes[22]);
    wave.Rate = LE32(&bytes[24]);
    wave.AvgBytes = LE32(&bytes[28]);
    wave.BlockAlign = LE16(&bytes[32]);
    wave.Bits = LE16(&bytes[34]);
    EXPECT_EQ(std::string(bytes.begin() + 36, bytes.begin() + 40), "data");
    uint32_t dataBytes = LE32(&bytes[40]);
    EXPECT_EQ(dataBytes + (dataBytes & 1), bytes.size() - 44);
    wave.Data.assign(bytes.begin() + 44, bytes.begin() + 44 + std::min<size_t>(dataBytes, bytes.size() - 44));
    return wave;
}

std::vector<int16_t> Samples16(const Wave &wave)
{
    std::vector<int16_t> samples(wave.Data.size() / 2);
    for (size_t i = 0; i < samples.size(); i++) {
        samples[i] = static_cast<int16_t>(LE16(&wave.Data[2 * i]));
    }
    return samples;
}

class RecorderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        soundtest::ResetServer();
        path = (std::filesystem::temp_directory_path() / ("glimmer-rec-" + std::to_string(getpid()) + ".wav")).string();
    }
    void TearDown() override
    {
        AudioStopRecord();
        std::filesystem::remove(path);
    }

    std::string path;
};

TEST_F(RecorderTest, OneSecondOfTheMicBecomesAWaveFileWithItsSine)
{
    // The recording begins somewhere inside the start call and ends
    // somewhere inside the stop call; either may take a while when the
    // program runs slowly (the first call also connects to the server).
    const Clock::time_point beforeStart = Clock::now();
    ASSERT_EQ(AudioStartRecord(path.c_str(), 22050, 16, 1, MicInput), 0);
    const Clock::time_point afterStart = Clock::now();
    std::vector<int32_t> levels;
    while (Clock::now() - beforeStart < 1s) {
        std::this_thread::sleep_for(100ms);
        int32_t level = -1, unused = -1;
        AudioGetRecordLevel(&level, &unused);
        levels.push_back(level);
        EXPECT_EQ(unused, 0);
    }
    const Clock::time_point beforeStop = Clock::now();
    ASSERT_EQ(AudioStopRecord(), 0);
    const Clock::time_point afterStop = Clock::now();
    const double shortest = std::chrono::duration<double>(beforeStop - afterStart).count();
    const double longest = std::chrono::duration<double>(afterStop - beforeStart).count();

    Wave wave = ReadWave(path);
    EXPECT_EQ(wave.Format, 1);
    EXPECT_EQ(wave.Channels, 1);
    EXPECT_EQ(wave.Rate, 22050u);
    EXPECT_EQ(wave.AvgBytes, 44100u);
    EXPECT_EQ(wave.BlockAlign, 2);
    EXPECT_EQ(wave.Bits, 16);
    std::vector<int16_t> samples = Samples16(wave);
    // As long as the recording ran, give or take 100 ms of server latency
    // (and less the start a PipeWire server loses).
    const double tolerance = 0.1 + soundtest::RecordingStartLoss();
    EXPECT_GE(static_cast<double>(samples.size()), (shortest - tolerance) * 22050);
    EXPECT_LE(static_cast<double>(samples.size()), (longest + 0.1) * 22050);
    ASSERT_GT(samples.size(), 11025u);

    // The mic's sine: 440 Hz at half of full scale.
    auto [low, high] = std::minmax_element(samples.begin(), samples.end());
    EXPECT_GE(*high, 16300);
    EXPECT_LE(*high, 16384);
    EXPECT_LE(*low, -16300);
    EXPECT_GE(*low, -16384);
    EXPECT_NEAR(soundtest::Frequency(samples, 0, samples.size(), 22050), 440, 5);

    // The level follows: 16384 of 32767 is 50 %; the meter may read 0
    // before the first sound arrives, never anything else.
    ASSERT_FALSE(levels.empty());
    EXPECT_EQ(levels.back(), 50);
    for (int32_t level : levels) {
        EXPECT_TRUE(level == 0 || level == 50) << level;
    }
    int32_t level = -1;
    AudioGetRecordLevel(&level, nullptr);
    EXPECT_EQ(level, 0) << "no level after the stop";
}

TEST_F(RecorderTest, ASecondStartWhileRecordingGives206AndStopThenStartWorks)
{
    std::string other = path + ".other";
    ASSERT_EQ(AudioStartRecord(path.c_str(), 22050, 16, 1, MicInput), 0);
    EXPECT_EQ(AudioStartRecord(other.c_str(), 22050, 16, 1, MicInput), RECORD_ERROR_BUSY);
    EXPECT_FALSE(std::filesystem::exists(other));
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(AudioStopRecord(), 0);
    EXPECT_EQ(AudioStopRecord(), 0) << "stopping twice is harmless";
    size_t first = ReadWave(path).Data.size();
    EXPECT_GT(first, 0u);

    ASSERT_EQ(AudioStartRecord(path.c_str(), 22050, 16, 1, MicInput), 0);
    std::this_thread::sleep_for(400ms);
    EXPECT_EQ(AudioStopRecord(), 0);
    Wave again = ReadWave(path);
    EXPECT_NEAR(static_cast<double>(again.Data.size()), 0.4 * 44100, 0.2 * 44100);
}

TEST_F(RecorderTest, RefusesBadRequestsWithTheirCodes)
{
    struct Case {
        const char *What;
        const char *File;
        uint32_t Rate;
        uint16_t Bits, Channels, Input;
        int16_t Expected;
    };
    const std::string file = path;
    const Case cases[] = {
        {"no name", nullptr, 22050, 16, 1, MicInput, RECORD_ERROR_NOFILE},
        {"empty name", "", 22050, 16, 1, MicInput, RECORD_ERROR_NOFILE},
        {"12 bits", file.c_str(), 22050, 12, 1, MicInput, RECORD_ERROR_FORMAT},
        {"3 channels", file.c_str(), 22050, 16, 3, MicInput, RECORD_ERROR_FORMAT},
        {"no channels", file.c_str(), 22050, 16, 0, MicInput, RECORD_ERROR_FORMAT},
        {"500 Hz", file.c_str(), 500, 16, 1, MicInput, RECORD_ERROR_FORMAT},
        {"no such input", file.c_str(), 22050, 16, 1, 99, RECORD_ERROR_DEVICE},
        {"a folder that does not exist", "/nonexistent-glimmer-folder/take.wav", 22050, 16, 1, MicInput,
         RECORD_ERROR_FILE},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(AudioStartRecord(c.File, c.Rate, c.Bits, c.Channels, c.Input), c.Expected) << c.What;
    }
    EXPECT_FALSE(std::filesystem::exists(path)) << "a refused start leaves no file";
    // Nothing was left running.
    ASSERT_EQ(AudioStartRecord(path.c_str(), 22050, 16, 1, MicInput), 0);
    EXPECT_EQ(AudioStopRecord(), 0);
}

TEST_F(RecorderTest, TheFileIsAValidWaveFileWhileItIsRecorded)
{
    ASSERT_EQ(AudioStartRecord(path.c_str(), 22050, 16, 1, MicInput), 0);
    std::this_thread::sleep_for(1200ms);
    std::vector<unsigned char> bytes = soundtest::ReadFile(path);
    ASSERT_GE(bytes.size(), 44u);
    uint32_t dataBytes = LE32(&bytes[40]);
    // The header is brought up to date every half second of sound.
    EXPECT_GE(dataBytes, 22050u);
    EXPECT_EQ(LE32(&bytes[4]), dataBytes + 36);
    EXPECT_LE(dataBytes + 44, bytes.size());
    EXPECT_EQ(AudioStopRecord(), 0);
}

TEST_F(RecorderTest, AFileThatMayGrowNoFurtherKeepsWhatFittedAndSaysWhy)
{
    // A clean recording first: nothing to report.
    ASSERT_EQ(AudioStartRecord(path.c_str(), 22050, 16, 1, MicInput), 0);
    std::this_thread::sleep_for(300ms);
    ASSERT_EQ(AudioStopRecord(), 0);
    EXPECT_EQ(AudioGetRecordWriteError(), 0);

    constexpr uint32_t Limit = 20000; // under half a second of sound
    {
        fulldisk::FileSizeLimit limit(Limit);
        ASSERT_EQ(AudioStartRecord(path.c_str(), 22050, 16, 1, MicInput), 0);
        EXPECT_EQ(AudioGetRecordWriteError(), 0) << "a start forgets the last recording's error";
        ASSERT_TRUE(soundtest::Eventually([] { return AudioGetRecordWriteError() != 0; }, 5s));
        EXPECT_EQ(AudioGetRecordState(), RECORD_STATE_RUNNING) << "the capture goes on until the stop";
        ASSERT_EQ(AudioStopRecord(), 0);
    }
    EXPECT_EQ(AudioGetRecordWriteError(), EFBIG) << "kept after the stop";
    // A whole WAVE file of the first part of the take: the mic's sine.
    Wave wave = ReadWave(path);
    EXPECT_LE(wave.Data.size() + 44, Limit);
    EXPECT_GT(wave.Data.size() + 44, Limit - 1764) << "what fitted: up to the limit";
    std::vector<int16_t> samples = Samples16(wave);
    ASSERT_GT(samples.size(), 2205u);
    EXPECT_NEAR(soundtest::Frequency(samples, 0, samples.size(), 22050), 440, 5);

    // The next recording starts clean.
    ASSERT_EQ(AudioStartRecord(path.c_str(), 22050, 16, 1, MicInput), 0);
    EXPECT_EQ(AudioGetRecordWriteError(), 0);
    ASSERT_EQ(AudioStopRecord(), 0);
}

struct FormatCase {
    uint32_t Rate;
    uint16_t Bits, Channels;
};

class RecorderFormatTest : public RecorderTest, public ::testing::WithParamInterface<FormatCase> {};

TEST_P(RecorderFormatTest, WritesExactlyTheAskedFormat)
{
    const FormatCase format = GetParam();
    ASSERT_EQ(AudioStartRecord(path.c_str(), format.Rate, format.Bits, format.Channels, MicInput), 0);
    std::this_thread::sleep_for(500ms);
    ASSERT_EQ(AudioStopRecord(), 0);
    Wave wave = ReadWave(path);
    const uint16_t align = static_cast<uint16_t>(format.Bits / 8 * format.Channels);
    EXPECT_EQ(wave.Format, 1);
    EXPECT_EQ(wave.Channels, format.Channels);
    EXPECT_EQ(wave.Rate, format.Rate);
    EXPECT_EQ(wave.AvgBytes, format.Rate * align);
    EXPECT_EQ(wave.BlockAlign, align);
    EXPECT_EQ(wave.Bits, format.Bits);
    ASSERT_EQ(wave.Data.size() % align, 0u);
    ASSERT_GT(wave.Data.size(), align * format.Rate / 10);

    // The same sine in every format: 16384 is 64 steps of 8 bits (silence
    // at 128); a mono input fills both channels alike. The first 20 ms are
    // left out of the peak: where the server resamples, its filter starts
    // from silence and overshoots when the sine cuts in.
    int peak = 0;
    const size_t settled = format.Rate / 50;
    size_t frames = wave.Data.size() / align;
    for (size_t i = 0; i < frames; i++) {
        int channelValue[2] = {0, 0};
        for (int c = 0; c < format.Channels; c++) {
            const unsigned char *at = &wave.Data[i * align + c * (format.Bits / 8)];
            channelValue[c] = format.Bits == 8 ? (at[0] - 128) * 256 : static_cast<int16_t>(LE16(at));
        }
        if (format.Channels == 2) {
            ASSERT_EQ(channelValue[0], channelValue[1]) << "frame " << i;
        }
        if (i >= settled) {
            peak = std::max(peak, std::abs(channelValue[0]));
        }
    }
    // At other rates the server's resampler may overshoot by a few steps.
    EXPECT_GE(peak, format.Bits == 8 ? 62 * 256 : 16300);
    EXPECT_LE(peak, format.Rate == 22050 ? 16384 : 16384 + 64);
}

INSTANTIATE_TEST_SUITE_P(Formats, RecorderFormatTest,
                         ::testing::Values(FormatCase{11025, 8, 2}, FormatCase{44100, 16, 2}, FormatCase{22050, 8, 1},
                                           FormatCase{11025, 16, 1}));

} // namespace
