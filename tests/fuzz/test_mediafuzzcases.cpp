// SPDX-License-Identifier: GPL-3.0-or-later
// The media fuzzer's seeds and every input that once broke it, run through
// its body in the ordinary test run (and under the sanitizers): a broken
// promise aborts the program, naming the file. The seeds are also checked
// to be what their names say, so that the fuzzer starts from files the
// plugin really reads and really refuses.
#include "tests/fuzz/mediafuzz.h"

#include "audio/messages.h"
#include "audio/soundfile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

fs::path Folder(const char *name)
{
    return fs::path(std::getenv("GLIMMER_SOURCE_DIR")) / "tests" / "fuzz" / name;
}

std::vector<fs::path> Cases(const char *folder)
{
    std::vector<fs::path> files;
    for (const auto &entry : fs::directory_iterator(Folder(folder)))
        if (entry.is_regular_file() && entry.path().filename().string()[0] != '.')
            files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

TMediaFuzzResult RunFile(const fs::path &file)
{
    // Said before the run: an abort shows no trace.
    std::fprintf(stderr, "%s\n", file.filename().c_str());
    std::ifstream in(file, std::ios::binary);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return FuzzMediaInput(bytes.data(), bytes.size(), true);
}

TMediaFuzzResult RunSeed(const char *name)
{
    return RunFile(Folder("media-corpus") / name);
}

class MediaFuzzCases : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        // Test programs run from build/tests; the plugin lies in build/.
        const char *build = std::getenv("GLIMMER_BUILD_DIR");
        ASSERT_NE(build, nullptr) << "GLIMMER_BUILD_DIR names the folder the plugin is built in";
        FuzzMediaSetUp(build);
    }
};

TEST_F(MediaFuzzCases, TheSeedCorpusRunsClean)
{
    const auto files = Cases("media-corpus");
    EXPECT_GE(files.size(), 18u) << "the seeds cover each kind the plugin reads and the hostile shapes";
    std::uintmax_t total = 0;
    for (const fs::path &file : files) {
        EXPECT_LE(fs::file_size(file), 4096u) << file << ": seeds stay small, so the fuzzer runs fast";
        total += fs::file_size(file);
        RunFile(file);
    }
    EXPECT_LT(total, 64u * 1024u);
}

TEST_F(MediaFuzzCases, EveryCrasherKeptRunsClean)
{
    for (const fs::path &file : Cases("media-crashers"))
        RunFile(file);
}

// A seed the plugin reads: its decoded rate and channels and its length
// in seconds as written (the decoder may add up to a frame or two of the
// codec's padding). The AMR file's 22 speech frames of 20 ms are read; its
// comfort-noise frame and its two empty ones the decoder rejects, and the
// reader skips them.
struct Readable {
    int32_t Rate;
    int32_t Channels;
    double Seconds;
};

const std::map<std::string, Readable> ReadableSeeds{
    {"aac.m4a", {22050, 1, 0.3}},       {"aac-stereo-faststart.m4a", {44100, 2, 0.2}},
    {"amr-nb.amr", {8000, 1, 0.44}},    {"flac.ogg", {8000, 1, 0.3}},
    {"flac-24bit.ogg", {8000, 2, 0.1}}, {"mp3.mp3", {22050, 1, 0.3}},
    {"opus.ogg", {48000, 1, 0.3}},      {"opus-stereo.webm", {48000, 2, 0.3}},
    {"pcm-f32.mka", {8000, 2, 0.04}},   {"pcm-f64.mka", {8000, 1, 0.04}},
    {"pcm-u8.mka", {8000, 1, 0.2}},     {"realaudio.rm", {8000, 1, 0.5}},
    {"video-aac.mp4", {22050, 1, 0.4}},
};

TEST_F(MediaFuzzCases, EachKindOfSeedIsReadWholeByThePluginAndTheSoundFileReader)
{
    for (const auto &[name, kind] : ReadableSeeds) {
        SCOPED_TRACE(name);
        const TMediaFuzzResult result = RunSeed(name.c_str());
        ASSERT_EQ(result.Opened, GLIMMER_MEDIA_OK);
        EXPECT_EQ(result.Info.SampleRate, kind.Rate);
        EXPECT_EQ(result.Info.Channels, kind.Channels);
        EXPECT_TRUE(result.Ended);
        EXPECT_EQ(result.ReadFailure, 0);
        const double written = kind.Seconds * kind.Rate;
        EXPECT_GE(result.Frames, written * 0.95);
        EXPECT_LE(result.Frames, written + 2 * 1152);
        // The same file through the program's reader, whichever library
        // reads it: about as long at 22050 Hz.
        const double voice = static_cast<double>(result.Frames) * 22050 / kind.Rate;
        EXPECT_NEAR(result.VoiceBytes / 2, voice, 1.0);
    }
}

TEST_F(MediaFuzzCases, FilesThatNameOtherFilesAreRefused)
{
    for (const char *name : {"hostile-concat.ffconcat", "hostile-playlist.m3u8"}) {
        SCOPED_TRACE(name);
        const TMediaFuzzResult result = RunSeed(name);
        EXPECT_EQ(result.Opened, GLIMMER_MEDIA_UNKNOWN);
        EXPECT_FALSE(result.SndfileKnows);
        EXPECT_EQ(result.VoiceBytes, -1);
    }
}

TEST_F(MediaFuzzCases, AWaveFileIsLeftToLibsndfile)
{
    const TMediaFuzzResult result = RunSeed("refused-wave.wav");
    EXPECT_EQ(result.Opened, GLIMMER_MEDIA_UNKNOWN);
    EXPECT_TRUE(result.SndfileKnows);
}

TEST_F(MediaFuzzCases, AnM4AFileCutShortGivesWhatItHolds)
{
    const TMediaFuzzResult header = RunSeed("hostile-m4a-cut-in-header.m4a");
    EXPECT_EQ(header.Opened, GLIMMER_MEDIA_UNKNOWN);
    EXPECT_EQ(header.VoiceBytes, -1);

    // The header promises 0.2 s; the samples stop short of it.
    const TMediaFuzzResult samples = RunSeed("hostile-m4a-cut-in-samples.m4a");
    ASSERT_EQ(samples.Opened, GLIMMER_MEDIA_OK);
    EXPECT_TRUE(samples.Ended);
    EXPECT_GT(samples.Frames, 0);
    EXPECT_LT(samples.Frames, samples.Info.Frames);
    EXPECT_NEAR(samples.VoiceBytes / 2, samples.Frames * 22050.0 / 44100, 1.0);
}

// The voice ReadSoundFile makes of a seed.
std::vector<int16_t> VoiceOf(const char *name)
{
    struct : MessageSink {
        void ShowMessage(const std::string &text, const std::string &) override { ADD_FAILURE() << text; }
    } messages;
    TEffectSettings settings;
    int32_t bytes = 0;
    const std::string path = (Folder("media-corpus") / name).string();
    const std::unique_ptr<int16_t[]> voice = ReadSoundFile(path, bytes, settings, messages);
    if (!voice)
        return {};
    return std::vector<int16_t>(voice.get(), voice.get() + bytes / 2);
}

// The most a sample of the seeds' tone (1/8 of full scale, at 8000 Hz)
// comes to at 22050 Hz, with the resampler's ringing where a sample was
// replaced by silence.
constexpr int ToneLimit = 4500;

TEST_F(MediaFuzzCases, NumbersThatAreNoNumbersInAFloatFileAreReadAsSilence)
{
    // NaN, +inf and -inf among 320 frames of the tone: before, one NaN made
    // every sample of the voice -32768.
    const TMediaFuzzResult result = RunSeed("pcm-f64-not-numbers.mka");
    EXPECT_EQ(result.Frames, 320);
    const std::vector<int16_t> voice = VoiceOf("pcm-f64-not-numbers.mka");
    ASSERT_EQ(voice.size(), 882u);
    for (std::size_t i = 0; i < voice.size(); ++i)
        ASSERT_LE(std::abs(voice[i]), ToneLimit) << "sample " << i;
}

TEST_F(MediaFuzzCases, TheLargestDoublesLeaveTheRestOfTheVoiceAlone)
{
    // Frames 150 and 151 at the largest double: their sum in the resampler
    // overflowed, and the whole voice came back -32768. Held at 96 dB above
    // full scale, they still ring through the resampler's filter, around
    // sample 413 (150 x 22050 / 8000), for about 15 ms either side.
    const std::vector<int16_t> voice = VoiceOf("pcm-f64-largest.mka");
    ASSERT_EQ(voice.size(), 882u);
    EXPECT_EQ(voice[413], 32767);
    for (std::size_t i = 0; i < voice.size(); ++i) {
        if (i >= 413 - 350 && i <= 413 + 350)
            continue;
        ASSERT_LE(std::abs(voice[i]), ToneLimit) << "sample " << i;
    }
}

TEST_F(MediaFuzzCases, ALengthTooLargeToCountInFramesIsGivenAsNone)
{
    // A Matroska header of 9e12 s at 2 GHz: the length in frames overflowed
    // to a negative count.
    const TMediaFuzzResult result = RunFile(Folder("media-crashers") / "pcm-u8-length-overflows.mka");
    ASSERT_EQ(result.Opened, GLIMMER_MEDIA_OK);
    EXPECT_EQ(result.Info.SampleRate, 2000000000);
    EXPECT_EQ(result.Info.Frames, 0);
}

} // namespace
