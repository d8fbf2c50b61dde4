// The RealAudio writer: files decoded back with FFmpeg's own reader (the
// container, the codec, the length to within one 20 ms frame, the level),
// and what a failed write leaves behind.
#include "audio/realaudio.h"
#include "tests/audio/ffdecode.h"
#include "wavetesting.h"

#include <sys/stat.h>

#include <cmath>
#include <memory>
#include <numbers>

using namespace wavetesting;
using namespace fftesting;

namespace {

// A voice-like test clip: a 150 Hz buzz with its first harmonics, its
// loudness rising and falling four times a second, at sampleRate.
std::vector<int16_t> Buzz(uint32_t sampleRate, double seconds)
{
    std::vector<int16_t> clip(static_cast<std::size_t>(sampleRate * seconds));
    for (std::size_t i = 0; i < clip.size(); ++i) {
        const double t = static_cast<double>(i) / sampleRate;
        const double envelope = 0.55 + 0.45 * std::sin(2 * std::numbers::pi * 4 * t);
        double value = 0;
        for (int harmonic = 1; harmonic <= 6; ++harmonic)
            value += std::sin(2 * std::numbers::pi * 150 * harmonic * t) / harmonic;
        clip[i] = static_cast<int16_t>(std::lround(6000 * envelope * value));
    }
    return clip;
}

double Rms(const std::vector<int16_t> &clip)
{
    double sum = 0;
    for (int16_t s : clip)
        sum += static_cast<double>(s) * s;
    return clip.empty() ? 0 : std::sqrt(sum / static_cast<double>(clip.size()));
}

// Files in folder whose names the writer uses for its temporary files.
std::vector<std::string> Temporaries(const TempFolder &folder)
{
    std::vector<std::string> found;
    for (const std::string &name : folder.Entries())
        if (name.rfind(".gbx", 0) == 0)
            found.push_back(name);
    return found;
}

TEST(RealAudioWriter, FileIsRealMediaWithRealAudio1AtTheVoicesLengthAndLevel)
{
    // The same 1.3 s buzz from each rate the program exports at.
    for (uint32_t rate : {11025u, 22050u, 44100u}) {
        SCOPED_TRACE(rate);
        TempFolder folder;
        const std::string name = folder.File("voice.ra");
        const std::vector<int16_t> clip = Buzz(rate, 1.3);
        std::string error;
        ASSERT_TRUE(WriteRealAudioFile(name, clip.data(), clip.size(), rate, nullptr, error)) << error;
        EXPECT_TRUE(error.empty());

        const Bytes bytes = ReadBytes(name);
        ASSERT_GE(bytes.size(), 4u);
        EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), ".RMF");

        const Decoded decoded = Decode(name);
        EXPECT_EQ(decoded.Container, "rm");
        EXPECT_EQ(decoded.Codec, AV_CODEC_ID_RA_144);
        EXPECT_EQ(decoded.SampleRate, 8000);
        EXPECT_EQ(decoded.Channels, 1);
        // 1.3 s at 8000 Hz is 10400 samples: 65 whole frames (the
        // resampler may leave the last one a few samples short).
        EXPECT_GT(decoded.Samples.size(), 10400u - 160u);
        EXPECT_LE(decoded.Samples.size(), 10400u);
        // The level after coding is within 3 dB of the clip's.
        const double ratio = Rms(decoded.Samples) / Rms(clip);
        EXPECT_GT(ratio, 0.708);
        EXPECT_LT(ratio, 1.413);
        EXPECT_TRUE(Temporaries(folder).empty());
    }
}

TEST(RealAudioWriter, SilenceStaysSilentAndAPartFrameIsFilledOut)
{
    TempFolder folder;
    const std::string name = folder.File("quiet.ra");
    // 1000 samples at 8000 Hz: six whole frames and 40 samples of a seventh.
    const std::vector<int16_t> clip(1000, 0);
    std::string error;
    ASSERT_TRUE(WriteRealAudioFile(name, clip.data(), clip.size(), 8000, nullptr, error)) << error;
    const Decoded decoded = Decode(name);
    EXPECT_EQ(decoded.Samples.size(), 1120u);
    EXPECT_LT(Rms(decoded.Samples), 50.0);
}

TEST(RealAudioWriter, GaugeRunsToOneHundred)
{
    TempFolder folder;
    const std::vector<int16_t> clip = Buzz(22050, 0.5);
    RecordingGauge gauge;
    std::string error;
    ASSERT_TRUE(WriteRealAudioFile(folder.File("g.ra"), clip.data(), clip.size(), 22050, &gauge, error)) << error;
    EXPECT_EQ(gauge.MaxValue(), 100);
    EXPECT_EQ(gauge.Progress(), 100);
    ASSERT_FALSE(gauge.Values.empty());
    EXPECT_TRUE(std::is_sorted(gauge.Values.begin(), gauge.Values.end()));
    EXPECT_GT(gauge.Values.size(), 10u) << "the gauge moves frame by frame, not only at the end";
}

TEST(RealAudioWriter, ReplacingAFileKeepsItsPermissions)
{
    TempFolder folder;
    const std::string name = folder.File("voice.ra");
    WriteBytes(name, Bytes{1, 2, 3});
    ASSERT_EQ(::chmod(name.c_str(), 0640), 0);
    const std::vector<int16_t> clip = Buzz(22050, 0.2);
    std::string error;
    ASSERT_TRUE(WriteRealAudioFile(name, clip.data(), clip.size(), 22050, nullptr, error)) << error;
    struct stat info {};
    ASSERT_EQ(::stat(name.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_EQ(Decode(name).Codec, AV_CODEC_ID_RA_144);
    EXPECT_EQ(folder.Entries(), std::vector<std::string>{"voice.ra"});
}

TEST(RealAudioWriter, FailedWritesLeaveTheEarlierFileAndNoTemporary)
{
    const std::vector<int16_t> clip = Buzz(22050, 2.0);
    const Bytes earlier{'e', 'a', 'r', 'l', 'i', 'e', 'r'};
    struct Case {
        const char *What;
        std::function<bool(const std::string &name, std::string &error)> Write;
    } cases[] = {
        {"the disk fills up after 1000 bytes",
         [&](const std::string &name, std::string &error) {
             FileSizeLimit limit(1000);
             return WriteRealAudioFile(name, clip.data(), clip.size(), 22050, nullptr, error);
         }},
        {"a sample rate no voice has",
         [&](const std::string &name, std::string &error) {
             return WriteRealAudioFile(name, clip.data(), clip.size(), 0, nullptr, error);
         }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.What);
        TempFolder folder;
        const std::string name = folder.File("voice.ra");
        WriteBytes(name, earlier);
        std::string error;
        EXPECT_FALSE(c.Write(name, error));
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(ReadBytes(name), earlier);
        EXPECT_EQ(folder.Entries(), std::vector<std::string>{"voice.ra"});
    }
}

TEST(RealAudioWriter, TargetThatCannotBeReplacedLeavesItAndNoTemporary)
{
    TempFolder folder;
    // A folder of that name, with something in it, cannot be renamed over.
    const std::string name = folder.File("voice.ra");
    fs::create_directory(name);
    WriteBytes(name + "/inside", Bytes{7});
    const std::vector<int16_t> clip = Buzz(22050, 0.2);
    std::string error;
    EXPECT_FALSE(WriteRealAudioFile(name, clip.data(), clip.size(), 22050, nullptr, error));
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(fs::is_directory(name));
    EXPECT_EQ(ReadBytes(name + "/inside"), Bytes{7});
    EXPECT_TRUE(Temporaries(folder).empty());

    // A folder that does not exist: nothing is made anywhere.
    EXPECT_FALSE(WriteRealAudioFile(folder.File("missing/voice.ra"), clip.data(), clip.size(), 22050, nullptr, error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(fs::exists(folder.File("missing")));
}

} // namespace
