// SPDX-License-Identifier: GPL-3.0-or-later
// glimmerbox-fx's outputs by extension and its batch work, run as a real
// process. Outputs are judged by other decoders than the ones that wrote
// them where there is one: MP3 through libmpg123, FLAC and Ogg through
// libsndfile against the tool's own WAVE output of the same clip.
#include "tests/audio/ffdecode.h"

#include <gtest/gtest.h>

#include <mpg123.h>
#include <sndfile.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <numbers>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

std::string Slurp(const fs::path &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string ToolPath()
{
    const char *dir = std::getenv("GLIMMER_BUILD_DIR");
    return std::string(dir ? dir : ".") + "/glimmerbox-fx";
}

std::vector<std::string> Lines(const std::string &text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        lines.push_back(text.substr(start, end - start));
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return lines;
}

bool Contains(const std::string &text, const std::string &part)
{
    return text.find(part) != std::string::npos;
}

// A sine of the given level (fraction of full scale) at 22050 Hz.
std::vector<int16_t> Sine(std::size_t count, double frequency, double level)
{
    std::vector<int16_t> samples(count);
    for (std::size_t n = 0; n < count; ++n)
        samples[n] =
            static_cast<int16_t>(std::lround(level * 32767 * std::sin(2 * std::numbers::pi * frequency * n / 22050)));
    return samples;
}

double Rms(const std::vector<int16_t> &samples, std::size_t from, std::size_t to)
{
    double sum = 0;
    for (std::size_t n = from; n < to; ++n)
        sum += static_cast<double>(samples[n]) * samples[n];
    return std::sqrt(sum / static_cast<double>(to - from));
}

// Writes and reads through libsndfile.
bool WriteSound(const fs::path &path, int format, int rate, int channels, const std::vector<double> &values)
{
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = format;
    SNDFILE *file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file)
        return false;
    const sf_count_t frames = static_cast<sf_count_t>(values.size()) / channels;
    const bool ok = sf_writef_double(file, values.data(), frames) == frames;
    return sf_close(file) == 0 && ok;
}

std::vector<int16_t> ReadSound(const fs::path &path, SF_INFO &info)
{
    info = {};
    SNDFILE *file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file)
        return {};
    std::vector<int16_t> samples(static_cast<std::size_t>(info.frames * info.channels));
    samples.resize(
        static_cast<std::size_t>(sf_read_short(file, samples.data(), static_cast<sf_count_t>(samples.size()))));
    sf_close(file);
    return samples;
}

#ifdef GLIMMER_FX_MP3
struct Mp3Decoded {
    long rate = 0;
    int channels = 0;
    std::vector<int16_t> samples;
};

Mp3Decoded DecodeMp3(const fs::path &path)
{
    Mp3Decoded decoded;
    mpg123_handle *handle = mpg123_new(nullptr, nullptr);
    if (!handle)
        return decoded;
    mpg123_param(handle, MPG123_ADD_FLAGS, MPG123_QUIET, 0);
    if (mpg123_open(handle, path.c_str()) == MPG123_OK) {
        int encoding = 0;
        mpg123_getformat(handle, &decoded.rate, &decoded.channels, &encoding);
        mpg123_format_none(handle);
        mpg123_format(handle, decoded.rate, decoded.channels, MPG123_ENC_SIGNED_16);
        unsigned char buffer[16384];
        std::size_t done = 0;
        int result = MPG123_OK;
        while (result == MPG123_OK || result == MPG123_NEW_FORMAT) {
            result = mpg123_read(handle, buffer, sizeof buffer, &done);
            for (std::size_t i = 0; i + 1 < done; i += 2)
                decoded.samples.push_back(static_cast<int16_t>(buffer[i] | buffer[i + 1] << 8));
        }
        mpg123_close(handle);
    }
    mpg123_delete(handle);
    return decoded;
}
#endif

class ToolFormats : public testing::Test {
protected:
    static void SetUpTestSuite() { mpg123_init(); }

    void SetUp() override
    {
        char pattern[] = "/tmp/glimmerbox-fx-formats-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir = pattern;
        ASSERT_TRUE(fs::exists(ToolPath())) << ToolPath();
    }
    void TearDown() override { fs::remove_all(dir); }

    fs::path Path(const std::string &name) const { return dir / name; }
    std::string Name(const std::string &name) const { return Path(name).string(); }

    // A 16-bit mono WAVE file at 22050 Hz, written through libsndfile.
    void WriteVoice(const std::string &name, const std::vector<int16_t> &samples) const
    {
        std::vector<double> values;
        for (int16_t s : samples)
            values.push_back(s / 32768.0);
        ASSERT_TRUE(WriteSound(Path(name), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 22050, 1, values));
    }

    Outcome Run(const std::vector<std::string> &args) const
    {
        const fs::path outFile = dir / "stdout.txt";
        const fs::path errFile = dir / "stderr.txt";
        const pid_t pid = ::fork();
        if (pid == 0) {
            const int out = ::open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int err = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(out, STDOUT_FILENO);
            ::dup2(err, STDERR_FILENO);
            std::vector<char *> argv;
            const std::string tool = ToolPath();
            argv.push_back(const_cast<char *>(tool.c_str()));
            for (const std::string &a : args)
                argv.push_back(const_cast<char *>(a.c_str()));
            argv.push_back(nullptr);
            ::execv(tool.c_str(), argv.data());
            ::_exit(127);
        }
        Outcome o;
        int wstatus = 0;
        while (::waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {
        }
        o.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
        o.out = Slurp(outFile);
        o.err = Slurp(errFile);
        fs::remove(outFile);
        fs::remove(errFile);
        return o;
    }

    // Everything in a folder, by name, with its bytes.
    static std::vector<std::pair<std::string, std::string>> Contents(const fs::path &folder)
    {
        std::vector<std::pair<std::string, std::string>> files;
        for (const auto &entry : fs::directory_iterator(folder))
            files.emplace_back(entry.path().filename().string(), Slurp(entry.path()));
        std::sort(files.begin(), files.end());
        return files;
    }

    fs::path dir;
};

// The 16-bit samples of a WAVE file the tool wrote (data at 48, no settings).
std::vector<int16_t> WaveSamples(const std::string &bytes)
{
    std::vector<int16_t> samples;
    for (std::size_t i = 48; i + 1 < bytes.size(); i += 2)
        samples.push_back(
            static_cast<int16_t>(static_cast<uint8_t>(bytes[i]) | static_cast<uint8_t>(bytes[i + 1]) << 8));
    return samples;
}

TEST_F(ToolFormats, TheExtensionChoosesWhatIsWritten)
{
    WriteVoice("in.wav", Sine(4410, 500, 0.5));
    struct Case {
        const char *Output;
        std::string Magic;
    };
    const Case cases[] = {
        {"out.wav", "RIFF"}, {"out.flac", "fLaC"}, {"out.FLAC", "fLaC"},
        {"out.ogg", "OggS"}, {"out.ra", ".RMF"},   {"OUT.RA", ".RMF"},
#ifdef GLIMMER_FX_MP3
        {"out.mp3", "\xFF"}, {"OUT.MP3", "\xFF"},
#endif
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.Output);
        const Outcome o = Run({"--echo", Name("in.wav"), Name(c.Output)});
        ASSERT_EQ(o.status, 0) << o.err;
        EXPECT_EQ(o.err, "");
        EXPECT_EQ(Slurp(Path(c.Output)).substr(0, c.Magic.size()), c.Magic);
        fs::remove(Path(c.Output));
    }
}

TEST_F(ToolFormats, FlacReadsBackAsTheWaveOutputBitForBit)
{
    std::vector<int16_t> clip = Sine(9000, 300, 0.9);
    clip[17] = -32768;
    clip[18] = 32767;
    WriteVoice("in.wav", clip);
    for (const std::vector<std::string> &effects :
         {std::vector<std::string>{"--backward", "--echo"}, {"--fast-squeaker", "--flange"}, {"--slow-monster"}}) {
        SCOPED_TRACE(effects[0]);
        std::vector<std::string> wave = effects;
        wave.push_back(Name("in.wav"));
        std::vector<std::string> flac = wave;
        wave.push_back(Name("out.wav"));
        flac.push_back(Name("out.flac"));
        ASSERT_EQ(Run(wave).status, 0);
        ASSERT_EQ(Run(flac).status, 0);

        const std::string waveBytes = Slurp(Path("out.wav"));
        const uint32_t rate = static_cast<uint8_t>(waveBytes[24]) | static_cast<uint8_t>(waveBytes[25]) << 8 |
                              static_cast<uint8_t>(waveBytes[26]) << 16;
        SF_INFO info;
        const std::vector<int16_t> back = ReadSound(Path("out.flac"), info);
        EXPECT_EQ(info.format, SF_FORMAT_FLAC | SF_FORMAT_PCM_16);
        EXPECT_EQ(info.channels, 1);
        EXPECT_EQ(info.samplerate, static_cast<int>(rate));
        EXPECT_EQ(back, WaveSamples(waveBytes));
        EXPECT_EQ(back.size(), clip.size());
    }
}

TEST_F(ToolFormats, OggHoldsTheClipAtItsRate)
{
    const std::vector<int16_t> clip = Sine(22050, 440, 0.5);
    WriteVoice("in.wav", clip);
    ASSERT_EQ(Run({"--fast-squeaker", Name("in.wav"), Name("out.ogg")}).status, 0);
    SF_INFO info;
    const std::vector<int16_t> back = ReadSound(Path("out.ogg"), info);
    EXPECT_EQ(info.format, SF_FORMAT_OGG | SF_FORMAT_VORBIS);
    EXPECT_EQ(info.samplerate, 44100);
    ASSERT_EQ(back.size(), clip.size());
    EXPECT_NEAR(Rms(back, 1000, 21000), Rms(clip, 1000, 21000), Rms(clip, 1000, 21000) * 0.1);
}

TEST_F(ToolFormats, RealAudioHoldsTheProcessedClipAt8000Hz)
{
    // One second at 22050 Hz; Slow Monster writes it at 11025 Hz, two seconds.
    WriteVoice("in.wav", Sine(22050, 440, 0.5));
    for (const bool slow : {false, true}) {
        SCOPED_TRACE(slow);
        std::vector<std::string> args;
        if (slow)
            args.push_back("--slow-monster");
        args.push_back(Name("in.wav"));
        args.push_back(Name("out.ra"));
        const Outcome o = Run(args);
        ASSERT_EQ(o.status, 0) << o.err;
        const fftesting::Decoded decoded = fftesting::Decode(Path("out.ra").string());
        EXPECT_EQ(decoded.Codec, AV_CODEC_ID_RA_144);
        EXPECT_EQ(decoded.SampleRate, 8000);
        const std::size_t expected = slow ? 16000 : 8000;
        EXPECT_GT(decoded.Samples.size(), expected - 160);
        EXPECT_LE(decoded.Samples.size(), expected);
    }
}

TEST_F(ToolFormats, RealAudioThatCannotBeWrittenSaysWhy)
{
    WriteVoice("in.wav", Sine(2205, 440, 0.5));
    const Outcome o = Run({Name("in.wav"), Name("missing/out.ra")});
    EXPECT_EQ(o.status, 1);
    EXPECT_TRUE(Contains(o.err, "cannot write " + Name("missing/out.ra") +
                                    ": The file cannot be created in that folder (" + std::strerror(ENOENT) + ")."))
        << o.err;
    EXPECT_FALSE(fs::exists(Path("missing")));
}

#ifdef GLIMMER_FX_MP3
// The conversion library encodes 576 samples per frame at 22050 Hz; the
// decoder gives whole frames, the clip first.
TEST_F(ToolFormats, Mp3DecodesToTheClipsLengthAndLevel)
{
    const std::vector<int16_t> clip = Sine(22050, 440, 0.5);
    WriteVoice("in.wav", clip);
    const Outcome o = Run({Name("in.wav"), Name("out.mp3")});
    ASSERT_EQ(o.status, 0) << o.err;
    const Mp3Decoded decoded = DecodeMp3(Path("out.mp3"));
    EXPECT_EQ(decoded.rate, 22050);
    EXPECT_EQ(decoded.channels, 1);
    ASSERT_GE(decoded.samples.size(), clip.size());
    EXPECT_LE(decoded.samples.size(), clip.size() + 4 * 576);
    const double level = Rms(decoded.samples, 2000, 20000);
    const double expected = Rms(clip, 2000, 20000);
    // Measured: the conversion library's encoder gives every tone 1.02 dB
    // (x 1.125) more than it was given, at every rate and bit rate tried.
    EXPECT_NEAR(20 * std::log10(level / expected), 0.0, 1.5);
    // 128 kbit/s for one second, give or take the last frame.
    EXPECT_NEAR(static_cast<double>(fs::file_size(Path("out.mp3"))), 16000, 800);
}

TEST_F(ToolFormats, BitRateSetsTheMp3sSize)
{
    WriteVoice("in.wav", Sine(44100, 440, 0.5)); // two seconds
    for (int rate : {32, 64, 160}) {
        SCOPED_TRACE(rate);
        const Outcome o = Run({"--bitrate", std::to_string(rate), Name("in.wav"), Name("out.mp3")});
        ASSERT_EQ(o.status, 0) << o.err;
        EXPECT_NEAR(static_cast<double>(fs::file_size(Path("out.mp3"))), rate * 1000 * 2 / 8,
                    rate * 1000 * 2 / 8 * 0.05);
        EXPECT_EQ(DecodeMp3(Path("out.mp3")).rate, 22050);
    }
}

TEST_F(ToolFormats, RefusedBitRateIsAClearErrorAndKeepsTheFileThatWasThere)
{
    WriteVoice("in.wav", Sine(2205, 440, 0.5));
    struct Case {
        std::vector<std::string> Options;
        std::string Says;
    };
    const Case cases[] = {
        {{"--bitrate", "320"}, "cannot make 320 kbit/s from a clip at 22050 Hz"},
        {{"--fast-squeaker", "--bitrate=16"}, "cannot make 16 kbit/s from a clip at 44100 Hz"},
        // The default of 128 is more than the encoder makes at 11025 Hz.
        {{"--slow-monster"}, "cannot make 128 kbit/s from a clip at 11025 Hz"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.Says);
        std::ofstream(Path("out.mp3"), std::ios::binary) << "an earlier MP3";
        std::vector<std::string> args = c.Options;
        args.push_back(Name("in.wav"));
        args.push_back(Name("out.mp3"));
        const Outcome o = Run(args);
        EXPECT_EQ(o.status, 1);
        EXPECT_TRUE(Contains(o.err, c.Says)) << o.err;
        EXPECT_EQ(Lines(o.err).size(), 1u) << o.err;
        EXPECT_EQ(Slurp(Path("out.mp3")), "an earlier MP3");
        // Only the input and the earlier file: no temporary left beside it.
        std::vector<std::string> names;
        for (const auto &entry : fs::directory_iterator(dir))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, (std::vector<std::string>{"in.wav", "out.mp3"}));
    }
}
#else
// A build without the sound platform has no MP3 encoder: .mp3 is refused
// before anything is read, never written as something else.
TEST_F(ToolFormats, Mp3WithoutTheEncoderIsAUsageError)
{
    WriteVoice("in.wav", Sine(2205, 440, 0.5));
    const Outcome o = Run({Name("in.wav"), Name("out.mp3")});
    EXPECT_EQ(o.status, 2);
    EXPECT_TRUE(Contains(o.err, "MP3 output is not available")) << o.err;
    EXPECT_FALSE(fs::exists(Path("out.mp3")));
}
#endif

TEST_F(ToolFormats, OutputsTheToolCannotWriteAreUsageErrors)
{
    WriteVoice("in.wav", Sine(2205, 440, 0.5));
    const std::string in = Name("in.wav");
    struct Case {
        std::vector<std::string> Args;
        std::string Says;
    };
    const Case cases[] = {
        {{in, Name("out.txt")}, "OUTPUT must end in .wav, .mp3, .flac, .ogg or .ra"},
        {{in, Name("out")}, "OUTPUT must end in"},
        {{in, Name("out.wav.mp4")}, "OUTPUT must end in"},
        {{in, Name("dir.mp3/out")}, "OUTPUT must end in"},
        {{"--with-settings", in, Name("out.flac")}, "--with-settings stores the selection in a .wav output only"},
        {{"--with-settings", in, Name("out.mp3")}, "--with-settings"},
        {{"--bitrate", "64", in, Name("out.wav")}, "--bitrate applies to .mp3 output only"},
        {{"--bitrate", "0", in, Name("out.mp3")}, "--bitrate wants a bit rate"},
        {{"--bitrate=fast", in, Name("out.mp3")}, "--bitrate wants a bit rate"},
        {{"--format", "flac", in, Name("out.wav")}, "belong to batch work with --out-dir"},
        {{"-j", "2", in, Name("out.wav")}, "belong to batch work"},
        {{"--force", in, Name("out.wav")}, "belong to batch work"},
        {{"--out-dir", Name("o"), "--format", "aac", in}, "--format wants wav, mp3, flac, ogg or ra"},
        {{"--out-dir", Name("o"), "-j", "0", in}, "-j wants"},
        {{"--out-dir", Name("o"), "-jx", in}, "-j wants"},
        {{"--out-dir", Name("o")}, "--out-dir needs at least one INPUT"},
        {{"--out-dir", Name("o"), "--format", "flac", "--with-settings", in}, "--with-settings"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.Args.back());
        const Outcome o = Run(c.Args);
        EXPECT_EQ(o.status, 2);
        EXPECT_TRUE(Contains(o.err, c.Says)) << o.err;
        EXPECT_TRUE(Contains(o.err, "Usage: glimmerbox-fx"));
        EXPECT_FALSE(fs::exists(Path("out.txt")) || fs::exists(Path("out")) || fs::exists(Path("o")) ||
                     fs::exists(Path("out.flac")) || fs::exists(Path("out.mp3")) || fs::exists(Path("out.wav")));
    }
}

TEST_F(ToolFormats, A48kHz24BitInputIsResampledToTheVoiceRate)
{
    std::vector<double> stereo;
    for (int n = 0; n < 48000; ++n) {
        stereo.push_back(0.5 * std::sin(2 * std::numbers::pi * 440 * n / 48000));
        stereo.push_back(0.0);
    }
    ASSERT_TRUE(WriteSound(Path("phone.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_24, 48000, 2, stereo));
    const Outcome o = Run({Name("phone.wav"), Name("out.wav")});
    ASSERT_EQ(o.status, 0) << o.err;
    const std::vector<int16_t> samples = WaveSamples(Slurp(Path("out.wav")));
    EXPECT_NEAR(static_cast<double>(samples.size()), 22050, 1);
    // The mean of a tone and silence: half the tone's level.
    EXPECT_NEAR(Rms(samples, 1000, 21000), 0.25 * 32768 / std::sqrt(2.0), 20);
}

TEST_F(ToolFormats, PhoneAndBrowserRecordingsAreReadAndOnlyThemBringInFfmpeg)
{
    std::vector<double> stereo;
    for (int n = 0; n < 48000; ++n) {
        stereo.push_back(0.4 * std::sin(2 * std::numbers::pi * 440 * n / 48000));
        stereo.push_back(0.2 * std::sin(2 * std::numbers::pi * 440 * n / 48000));
    }
    ASSERT_TRUE(WriteSound(Path("source.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 2, stereo));
    const std::string source = "'" + Name("source.wav") + "' ";
    ASSERT_EQ(std::system(("ffmpeg -nostdin -v error -y -i " + source + "-c:a aac '" + Name("memo.m4a") + "'").c_str()),
              0);
    ASSERT_EQ(
        std::system(("ffmpeg -nostdin -v error -y -i " + source + "-c:a libopus '" + Name("call.webm") + "'").c_str()),
        0);
    // The dynamic loader lists every library it loads on standard error.
    ::setenv("LD_DEBUG", "files", 1);
    const Outcome wave = Run({"--robot", Name("source.wav"), Name("wave-out.wav")});
    const Outcome memo = Run({"--robot", Name("memo.m4a"), Name("memo-out.wav")});
    ::unsetenv("LD_DEBUG");
    ASSERT_EQ(wave.status, 0) << wave.err;
    ASSERT_EQ(memo.status, 0) << memo.err;
    EXPECT_FALSE(Contains(wave.err, "libavcodec"));
    EXPECT_TRUE(Contains(memo.err, "file=libavcodec.so"));
    // One second, filled out to the encoder's whole frames of 1024 samples
    // at 48 kHz (471 at the voice's rate).
    const std::size_t memoLength = WaveSamples(Slurp(Path("memo-out.wav"))).size();
    EXPECT_GE(memoLength, 22050u);
    EXPECT_LE(memoLength, 22050u + 471);

    // In a batch like any other input.
    const Outcome batch = Run({"--echo", Name("memo.m4a"), Name("call.webm"), "--out-dir", Name("out")});
    ASSERT_EQ(batch.status, 0) << batch.err;
    const auto files = Contents(Path("out"));
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files[0].first, "call.wav");
    EXPECT_EQ(files[1].first, "memo.wav");
    EXPECT_NEAR(static_cast<double>(WaveSamples(files[0].second).size()), 22050, 2);
}

class ToolBatch : public ToolFormats {
protected:
    void SetUp() override
    {
        ToolFormats::SetUp();
        // Three good inputs of three kinds, and one that is no sound file.
        WriteVoice("one.wav", Sine(3000, 300, 0.5));
        std::vector<double> values;
        for (int n = 0; n < 9600; ++n)
            values.push_back(0.3 * std::sin(2 * std::numbers::pi * 700 * n / 48000));
        ASSERT_TRUE(WriteSound(Path("two.flac"), SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 48000, 1, values));
        ASSERT_TRUE(WriteSound(Path("three.aiff"), SF_FORMAT_AIFF | SF_FORMAT_PCM_24, 44100, 1, values));
        std::ofstream(Path("bad.wav")) << "not a sound file at all\n";
        inputs = {Name("one.wav"), Name("bad.wav"), Name("two.flac"), Name("three.aiff")};
    }

    Outcome RunBatch(const std::vector<std::string> &options, const std::string &outDir)
    {
        std::vector<std::string> args = options;
        args.insert(args.end(), inputs.begin(), inputs.end());
        args.push_back("--out-dir");
        args.push_back(Name(outDir));
        return Run(args);
    }

    std::vector<std::string> inputs;
};

TEST_F(ToolBatch, GoodFilesAreWrittenAndTheBadOneIsOneErrorLine)
{
    const Outcome o = RunBatch({"--echo", "-j", "2"}, "out");
    EXPECT_EQ(o.status, 1);
    const std::vector<std::string> errors = Lines(o.err);
    ASSERT_EQ(errors.size(), 1u) << o.err;
    EXPECT_EQ(errors[0].rfind("glimmerbox-fx: " + Name("bad.wav") + ": Incompatible file format of: ", 0), 0u)
        << errors[0];
    std::vector<std::string> written = Lines(o.out);
    std::sort(written.begin(), written.end());
    EXPECT_EQ(written, (std::vector<std::string>{Name("one.wav") + " -> " + Name("out/one.wav"),
                                                 Name("three.aiff") + " -> " + Name("out/three.wav"),
                                                 Name("two.flac") + " -> " + Name("out/two.wav")}));
    const auto files = Contents(Path("out"));
    ASSERT_EQ(files.size(), 3u);
    EXPECT_EQ(files[0].first, "one.wav");
    EXPECT_EQ(files[1].first, "three.wav");
    EXPECT_EQ(files[2].first, "two.wav");
    // Each is the clip of its input at 22050 Hz: 3000 samples, 9600 at
    // 44100 Hz and 9600 at 48000 Hz.
    EXPECT_EQ(WaveSamples(files[0].second).size(), 3000u);
    EXPECT_NEAR(static_cast<double>(WaveSamples(files[1].second).size()), 4800, 1);
    EXPECT_NEAR(static_cast<double>(WaveSamples(files[2].second).size()), 4410, 1);

    // The same file alone gives the same bytes as in the batch.
    ASSERT_EQ(Run({"--echo", Name("one.wav"), Name("alone.wav")}).status, 0);
    EXPECT_EQ(Slurp(Path("alone.wav")), files[0].second);
}

TEST_F(ToolBatch, OnATerminalAProgressBarTakesThePlaceOfTheLines)
{
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    const std::string slaveName = ::ptsname(master);
    const fs::path outFile = Path("stdout.txt");

    std::vector<std::string> args = {ToolPath(), "-j", "1"};
    args.insert(args.end(), inputs.begin(), inputs.end());
    args.push_back("--out-dir");
    args.push_back(Name("out"));
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int slave = ::open(slaveName.c_str(), O_RDWR);
        const int out = ::open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(slave, STDERR_FILENO);
        ::dup2(out, STDOUT_FILENO);
        std::vector<char *> argv;
        for (const std::string &a : args)
            argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    std::string seen;
    char buffer[512];
    for (;;) {
        const ssize_t n = ::read(master, buffer, sizeof buffer);
        if (n > 0)
            seen.append(buffer, static_cast<std::size_t>(n));
        else if (n < 0 && errno == EINTR)
            continue;
        else
            break; // EIO once the child has closed the terminal
        if (seen.find("4/4 files") != std::string::npos && seen.find('\n', seen.find("4/4 files")) != std::string::npos)
            break;
    }
    int wstatus = 0;
    ::waitpid(pid, &wstatus, 0);
    ::close(master);
    EXPECT_TRUE(WIFEXITED(wstatus) && WEXITSTATUS(wstatus) == 1);
    for (const char *step : {"1/4 files", "2/4 files", "3/4 files", "4/4 files"})
        EXPECT_TRUE(Contains(seen, step)) << step << " in " << seen;
    EXPECT_TRUE(Contains(seen, Name("bad.wav") + ": Incompatible file format of: ")) << seen;
    // The written files are in the bar, not on standard output.
    EXPECT_EQ(Slurp(outFile), "");
    EXPECT_EQ(Contents(Path("out")).size(), 3u);
}

TEST_F(ToolBatch, TwoWorkersGiveTheSameBytesAsOne)
{
    for (const char *format : {"wav", "flac"
#ifdef GLIMMER_FX_MP3
                               ,
                               "mp3"
#endif
         }) {
        SCOPED_TRACE(format);
        const std::string one = std::string("one-") + format;
        const std::string two = std::string("two-") + format;
        EXPECT_EQ(RunBatch({"--robot", "--format", format, "-j", "1"}, one).status, 1);
        EXPECT_EQ(RunBatch({"--robot", "--format", format, "-j2"}, two).status, 1);
        const auto first = Contents(Path(one));
        ASSERT_EQ(first.size(), 3u);
        for (const auto &[name, bytes] : first)
            EXPECT_EQ(fs::path(name).extension().string(), std::string(".") + format);
        EXPECT_EQ(Contents(Path(two)), first);
    }
}

TEST_F(ToolBatch, NothingIsOverwrittenWithoutForce)
{
    fs::create_directory(Path("out"));
    std::ofstream(Path("out/two.flac"), std::ios::binary) << "keep me";
    inputs = {Name("one.wav"), Name("two.flac")};
    const Outcome kept = RunBatch({"--format", "flac"}, "out");
    EXPECT_EQ(kept.status, 1);
    EXPECT_EQ(Lines(kept.err).size(), 1u) << kept.err;
    EXPECT_TRUE(Contains(kept.err, Name("out/two.flac") + " is already there (--force replaces it)")) << kept.err;
    EXPECT_EQ(Slurp(Path("out/two.flac")), "keep me");
    EXPECT_TRUE(fs::exists(Path("out/one.flac")));

    fs::remove(Path("out/one.flac"));
    const Outcome forced = RunBatch({"--format", "flac", "--force"}, "out");
    EXPECT_EQ(forced.status, 0) << forced.err;
    EXPECT_EQ(forced.err, "");
    EXPECT_EQ(Slurp(Path("out/two.flac")).substr(0, 4), "fLaC");
    EXPECT_TRUE(fs::exists(Path("out/one.flac")));
}

TEST_F(ToolBatch, TwoInputsOfOneNameDoNotOverwriteEachOther)
{
    fs::create_directory(Path("a"));
    fs::create_directory(Path("b"));
    fs::copy_file(Path("one.wav"), Path("a/voice.wav"));
    fs::copy_file(Path("two.flac"), Path("b/voice.flac"));
    inputs = {Name("a/voice.wav"), Name("b/voice.flac")};
    const Outcome o = RunBatch({}, "deep/out");
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(Lines(o.err), std::vector<std::string>{"glimmerbox-fx: " + Name("b/voice.flac") +
                                                     ": another input already writes " + Name("deep/out/voice.wav")});
    // The folder was made, and holds the first input's clip.
    const auto files = Contents(Path("deep/out"));
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(WaveSamples(files[0].second).size(), 3000u);
}

} // namespace
