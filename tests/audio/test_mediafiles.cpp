// SPDX-License-Identifier: GPL-3.0-or-later
// Phone and browser recordings, made here with the ffmpeg command from one
// known signal: each opens, has the length of the ffmpeg command's own
// decode and matches it, mixed down and resampled as the reader does; FFmpeg
// is loaded only for the first of them; names and files that point at other
// files never get them read; and without the plugin those files say so
// while everything else still opens.
#include "audio/realaudio.h"
#include "audio/soundfile.h"
#include "tests/mediatesting.h"
#include "wavetesting.h"

#include <sndfile.h>
#include <soxr.h>
#include <sys/inotify.h>

#include <cmath>
#include <numbers>

using namespace wavetesting;
using namespace mediatesting;

namespace {

// The known signal: two seconds at 48 kHz, a 150 Hz buzz on the left and
// a 420 Hz tone on the right, so that the mixdown shows.
bool WriteSignal(const std::string &fileName)
{
    SF_INFO info{};
    info.samplerate = 48000;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE *file = sf_open(fileName.c_str(), SFM_WRITE, &info);
    if (!file)
        return false;
    std::vector<double> frames;
    for (int n = 0; n < 96000; ++n) {
        const double t = n / 48000.0;
        double buzz = 0;
        for (int harmonic = 1; harmonic <= 5; ++harmonic)
            buzz += std::sin(2 * std::numbers::pi * 150 * harmonic * t) / harmonic;
        frames.push_back(0.25 * buzz);
        frames.push_back(0.3 * std::sin(2 * std::numbers::pi * 420 * t));
    }
    const bool written = sf_writef_double(file, frames.data(), 96000) == 96000;
    return sf_close(file) == 0 && written;
}

// What the reader makes of decoded frames: the mean of the channels,
// libsoxr's very high quality to 22050 Hz, x 32768 rounded half to even
// and clipped.
std::vector<int16_t> AsVoice(const FfmpegDecoded &decoded)
{
    std::vector<double> mono;
    for (std::size_t i = 0; i + static_cast<std::size_t>(decoded.Channels) <= decoded.Values.size();
         i += static_cast<std::size_t>(decoded.Channels)) {
        double sum = 0;
        for (int c = 0; c < decoded.Channels; ++c)
            sum += decoded.Values[i + static_cast<std::size_t>(c)];
        mono.push_back(sum / decoded.Channels);
    }
    std::vector<double> resampled(mono.size() * 22050 / static_cast<std::size_t>(decoded.Rate) + 4096);
    std::size_t made = 0;
    if (decoded.Rate != 22050) {
        const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT64_I, SOXR_FLOAT64_I);
        const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_VHQ, 0);
        soxr_t resampler = soxr_create(decoded.Rate, 22050, 1, nullptr, &io, &quality, nullptr);
        std::size_t used = 0;
        soxr_process(resampler, mono.data(), mono.size(), &used, resampled.data(), resampled.size(), &made);
        std::size_t tail = 0;
        do {
            soxr_process(resampler, nullptr, 0, nullptr, resampled.data() + made, resampled.size() - made, &tail);
            made += tail;
        } while (tail > 0);
        soxr_delete(resampler);
        resampled.resize(made);
    } else {
        resampled = mono;
    }
    std::vector<int16_t> voice;
    for (double value : resampled)
        voice.push_back(static_cast<int16_t>(std::clamp(std::nearbyint(value * 32768.0), -32768.0, 32767.0)));
    return voice;
}

double SignalToNoiseDb(const std::vector<int16_t> &expected, const int16_t *got)
{
    double signal = 0;
    double noise = 0;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        signal += static_cast<double>(expected[i]) * expected[i];
        const double error = static_cast<double>(got[i]) - expected[i];
        noise += error * error;
    }
    return noise == 0 ? 999 : 10 * std::log10(signal / noise);
}

struct Voice {
    std::unique_ptr<int16_t[]> Samples;
    int32_t Bytes = 0;
    std::vector<std::string> Messages;
};

Voice Open(const std::string &fileName)
{
    Voice voice;
    TEffectSettings settings;
    RecordingSink sink;
    voice.Samples = ReadSoundFile(fileName, voice.Bytes, settings, sink);
    voice.Messages = sink.Texts;
    return voice;
}

// An AMR-NB file written by hand (Debian's ffmpeg decodes AMR but cannot
// encode it): the magic, then frames of the 12.2 kbit/s mode, each a header
// byte and 31 bytes of speech parameters, here pseudo-random.
void WriteAmr(const std::string &fileName, int frames)
{
    Bytes bytes{'#', '!', 'A', 'M', 'R', '\n'};
    uint32_t state = 12345;
    for (int f = 0; f < frames; ++f) {
        bytes.push_back(0x3C);
        for (int i = 0; i < 31; ++i) {
            state = state * 1103515245 + 12345;
            bytes.push_back(static_cast<uint8_t>(state >> 16));
        }
    }
    WriteBytes(fileName, bytes);
}

class MediaFiles : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        folder = std::make_unique<TempFolder>();
        signal = folder->File("signal.wav");
        ASSERT_TRUE(WriteSignal(signal));
    }
    static void TearDownTestSuite() { folder.reset(); }

    static std::string Make(const std::string &name, const std::string &arguments)
    {
        const std::string fileName = folder->File(name);
        EXPECT_TRUE(Ffmpeg("-i " + Quoted(signal) + " " + arguments + " " + Quoted(fileName))) << name;
        return fileName;
    }

    static inline std::unique_ptr<TempFolder> folder;
    static inline std::string signal;
};

// Runs first: nothing before it has needed FFmpeg.
TEST_F(MediaFiles, EachKindOpensAtTheLengthAndSoundOfFfmpegsOwnDecode)
{
    const std::string video = folder->File("video.mp4");
    ASSERT_TRUE(Ffmpeg("-f lavfi -i testsrc=size=96x64:rate=15:duration=2 -i " + Quoted(signal) +
                       " -map 0:v -map 1:a -c:v mpeg4 -c:a aac -b:a 96k -shortest " + Quoted(video)));
    const std::string amr = folder->File("message.amr");
    WriteAmr(amr, 100); // two seconds at 8000 Hz
    struct Case {
        std::string Name;
        std::string FileName;
        bool ThroughPlugin;
    };
    const Case cases[] = {
        {"Opus in Ogg", Make("message.opus", "-c:a libopus -b:a 48k"), false},
        {"AAC in M4A", Make("memo.m4a", "-c:a aac -b:a 96k"), true},
        {"Opus in WebM", Make("browser.webm", "-c:a libopus -b:a 48k"), true},
        {"FLAC in Ogg", Make("lossless.oga", "-c:a flac"), true},
        {"the AAC soundtrack of an MP4 video", video, true},
        {"AMR-NB", amr, true},
    };
    EXPECT_FALSE(FfmpegMapped());
    for (const Case &c : cases) {
        SCOPED_TRACE(c.Name);
        const Voice voice = Open(c.FileName);
        ASSERT_TRUE(voice.Samples) << (voice.Messages.empty() ? "" : voice.Messages[0]);
        const FfmpegDecoded decoded = FfmpegDecode(c.FileName, folder->File("decoded.raw"));
        ASSERT_GT(decoded.Rate, 0);
        const std::vector<int16_t> expected = AsVoice(decoded);
        ASSERT_EQ(voice.Bytes / 2, static_cast<int32_t>(expected.size()));
        const double snr = SignalToNoiseDb(expected, voice.Samples.get());
        EXPECT_GE(snr, 40.0);
        RecordProperty(c.Name, std::to_string(snr));
        // libsndfile reads Ogg Opus itself; FFmpeg comes in with the first
        // file only it reads.
        EXPECT_EQ(FfmpegMapped(), c.ThroughPlugin || &c != &cases[0]);
    }
    EXPECT_TRUE(FfmpegMapped());
}

TEST_F(MediaFiles, FlacInOggIsTheVoiceOfTheSameFlacReadByLibsndfile)
{
    const Voice inOgg = Open(Make("same.oga", "-c:a flac"));
    const Voice plain = Open(Make("same.flac", "-c:a flac"));
    ASSERT_TRUE(inOgg.Samples && plain.Samples);
    ASSERT_EQ(inOgg.Bytes, plain.Bytes);
    EXPECT_TRUE(std::equal(inOgg.Samples.get(), inOgg.Samples.get() + inOgg.Bytes / 2, plain.Samples.get()));
}

// Watches a file for being opened or read.
class OpenWatch {
public:
    explicit OpenWatch(const std::string &fileName) : fd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC))
    {
        EXPECT_GE(::inotify_add_watch(fd, fileName.c_str(), IN_OPEN | IN_ACCESS), 0);
    }
    ~OpenWatch() { ::close(fd); }
    bool Touched() const
    {
        char events[4096];
        bool touched = false;
        while (::read(fd, events, sizeof events) > 0)
            touched = true;
        return touched;
    }

private:
    int fd;
};

TEST_F(MediaFiles, NamesAndFilesPointingAtAnotherFileNeverGetItRead)
{
    const std::string other = Make("other.m4a", "-c:a aac");
    const std::string otherName = "other.m4a";
    const std::string refused = "Incompatible file format of: ";
    const OpenWatch watch(other);
    struct Case {
        std::string What;
        std::string FileName;
        std::string Text; // written to FileName when not empty
    };
    const Case cases[] = {
        {"a concat: name", "concat:" + other + "|" + other, ""},
        {"a subfile: name", "subfile,,start,0,end,0,,:" + other, ""},
        {"an ffconcat script", folder->File("list.m4a"), "ffconcat version 1.0\nfile '" + otherName + "'\n"},
        {"an HLS playlist", folder->File("play.m4a"),
         "#EXTM3U\n#EXT-X-TARGETDURATION:2\n#EXTINF:2.0,\n" + otherName + "\n#EXT-X-ENDLIST\n"},
        {"an HLS playlist by its own name", folder->File("play.m3u8"),
         "#EXTM3U\n#EXT-X-TARGETDURATION:2\n#EXTINF:2.0,\nfile:" + other + "\n#EXT-X-ENDLIST\n"},
    };
    // Relative names in the scripts would find the other file from here.
    const std::filesystem::path was = std::filesystem::current_path();
    std::filesystem::current_path(folder->Path());
    for (const Case &c : cases) {
        SCOPED_TRACE(c.What);
        if (!c.Text.empty())
            std::ofstream(c.FileName) << c.Text;
        const Voice voice = Open(c.FileName);
        EXPECT_FALSE(voice.Samples);
        ASSERT_EQ(voice.Messages.size(), 1u);
        EXPECT_EQ(voice.Messages[0], refused + c.FileName);
        EXPECT_FALSE(watch.Touched());
    }
    std::filesystem::current_path(was);
    // The watch sees an open: the file read as itself.
    EXPECT_TRUE(Open(other).Samples);
    EXPECT_TRUE(watch.Touched());
}

TEST_F(MediaFiles, WithoutThePluginThoseFilesSaySoAndEverythingElseStillWorks)
{
    const std::string memo = Make("late.m4a", "-c:a aac");
    const std::string wave48 = folder->File("signal.wav");
    const std::string junk = folder->File("junk.dat");
    std::ofstream(junk) << "not a sound file\n";
    const TempFolder empty;
    SetMediaPluginFolder(empty.Path());

    const Voice missing = Open(memo);
    EXPECT_FALSE(missing.Samples);
    EXPECT_EQ(missing.Messages, std::vector<std::string>{"Cannot open " + memo +
                                                         ": this kind of file needs FFmpeg's libraries, which "
                                                         "are not installed."});
    EXPECT_EQ(Open(junk).Messages, std::vector<std::string>{"Incompatible file format of: " + junk});
    const Voice wave = Open(wave48);
    EXPECT_TRUE(wave.Samples);
    EXPECT_EQ(wave.Bytes, 2 * 44100);
    std::string error;
    const int16_t clip[160] = {};
    EXPECT_FALSE(WriteRealAudioFile(folder->File("out.ra"), clip, 160, 22050, nullptr, error));
    EXPECT_EQ(error, "RealAudio needs FFmpeg's libraries, which are not installed.");
    EXPECT_FALSE(std::filesystem::exists(folder->File("out.ra")));

    SetMediaPluginFolder(std::getenv("GLIMMER_BUILD_DIR"));
    EXPECT_TRUE(Open(memo).Samples);
}

} // namespace
