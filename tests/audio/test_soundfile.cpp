// SPDX-License-Identifier: GPL-3.0-or-later
// Sound files beyond the twelve WAVE layouts, read through ReadWaveFile as
// the program and the tool read them. The inputs are made here with
// libsndfile from one known signal, so every kind can be judged against the
// same reference at 22050 Hz; exact cases are worked out by hand.
#include "audio/soundfile.h"
#include "audio/wavefile.h"
#include "wavetesting.h"

#include <sndfile.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <limits>
#include <numbers>
#include <random>

using namespace wavetesting;

namespace {

constexpr const char *Incompatible = "Incompatible file format of: ";

// The test signal, as heard in mono: 440 Hz at a quarter of full scale and
// 660 Hz at 0.15. Stereo files carry 0.5 x 440 Hz on the left and 0.3 x
// 660 Hz on the right, whose mean is the same signal.
double Tone(double frequency, double amplitude, double t)
{
    return amplitude * std::sin(2 * std::numbers::pi * frequency * t);
}

double MonoSignal(double t)
{
    return Tone(440, 0.25, t) + Tone(660, 0.15, t);
}

std::vector<double> TestSignal(int rate, int channels, int frames)
{
    std::vector<double> values;
    for (int i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / rate;
        if (channels == 1) {
            values.push_back(MonoSignal(t));
        } else {
            values.push_back(Tone(440, 0.5, t));
            values.push_back(Tone(660, 0.3, t));
        }
    }
    return values;
}

// Writes interleaved values (full scale 1.0) through libsndfile.
bool MakeSoundFile(const std::string &name, int format, int rate, int channels, const std::vector<double> &values)
{
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = format;
    SNDFILE *file = sf_open(name.c_str(), SFM_WRITE, &info);
    if (!file)
        return false;
    const sf_count_t frames = static_cast<sf_count_t>(values.size()) / channels;
    const bool written = sf_writef_double(file, values.data(), frames) == frames;
    return sf_close(file) == 0 && written;
}

// Signal-to-noise ratio in dB of samples against the test signal at 22050
// Hz, leaving out the edges where a resampler or codec starts and stops.
double SnrDb(const std::vector<int16_t> &samples, std::size_t edge)
{
    double signal = 0;
    double noise = 0;
    for (std::size_t n = edge; n + edge < samples.size(); ++n) {
        const double reference = MonoSignal(static_cast<double>(n) / 22050) * 32768;
        signal += reference * reference;
        noise += (samples[n] - reference) * (samples[n] - reference);
    }
    return 10 * std::log10(signal / std::max(noise, 1e-9));
}

class SoundFile : public ::testing::Test {
protected:
    std::unique_ptr<int16_t[]> Read(const std::string &name, const ReadWaveHooks &hooks = {})
    {
        messages.Texts.clear();
        byteCount = -77;
        return ReadWaveFile(name, 22050, 16, 1, byteCount, record, messages, hooks);
    }
    std::vector<int16_t> ReadSamples(const std::string &name)
    {
        const auto samples = Read(name);
        EXPECT_TRUE(samples) << (messages.Texts.empty() ? "" : messages.Texts[0]);
        return samples ? ToSamples(samples.get(), byteCount) : std::vector<int16_t>{};
    }

    TempFolder folder;
    PrivateTmpDir tmp;
    RecordingSink messages;
    int32_t byteCount = -77;
    TEffectSettings record;
};

struct KindCase {
    const char *Name;
    const char *Extension;
    int Format;
    int Rate;
    int Channels;
    double MinSnrDb;
    int LengthTolerance; // samples either way of duration x 22050
};

constexpr int Lossless = 1; // the resampler's one rounding of the length

const KindCase KindCases[] = {
    {"WAVE 48 kHz 16-bit", "wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 1, 80, Lossless},
    {"WAVE 48 kHz 24-bit stereo", "wav", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 48000, 2, 80, Lossless},
    {"WAVE 96 kHz float stereo", "wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 96000, 2, 80, Lossless},
    {"WAVE 8 kHz 8-bit", "wav", SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 8000, 1, 35, Lossless},
    {"WAVE 22050 Hz 32-bit", "wav", SF_FORMAT_WAV | SF_FORMAT_PCM_32, 22050, 1, 80, 0},
    {"WAVE_FORMAT_EXTENSIBLE 44.1 kHz 16-bit stereo", "wav", SF_FORMAT_WAVEX | SF_FORMAT_PCM_16, 44100, 2, 80,
     Lossless},
    {"RF64 32 kHz 24-bit", "wav", SF_FORMAT_RF64 | SF_FORMAT_PCM_24, 32000, 1, 80, Lossless},
    {"AIFF 16 kHz 16-bit stereo", "aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 16000, 2, 80, Lossless},
    {"FLAC 48 kHz 16-bit stereo", "flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 48000, 2, 80, Lossless},
    {"FLAC 44.1 kHz 24-bit", "flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 44100, 1, 80, Lossless},
    {"Ogg Vorbis 44.1 kHz stereo", "ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, 44100, 2, 30, Lossless},
    {"Opus 48 kHz", "opus", SF_FORMAT_OGG | SF_FORMAT_OPUS, 48000, 1, 30, Lossless},
    {"MP3 44.1 kHz", "mp3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, 44100, 1, 30, Lossless},
};

TEST_F(SoundFile, EveryKindGivesTheSignalAtTheVoiceRate)
{
    constexpr double Seconds = 0.5;
    constexpr std::size_t Expected = 11025; // 0.5 s at 22050 Hz
    for (const KindCase &c : KindCases) {
        SCOPED_TRACE(c.Name);
        const std::string name = folder.File(std::string("input.") + c.Extension);
        const int frames = static_cast<int>(Seconds * c.Rate);
        ASSERT_TRUE(MakeSoundFile(name, c.Format, c.Rate, c.Channels, TestSignal(c.Rate, c.Channels, frames)))
            << sf_strerror(nullptr);
        const std::vector<int16_t> samples = ReadSamples(name);
        EXPECT_TRUE(messages.Texts.empty());
        EXPECT_LE(std::abs(static_cast<long>(samples.size()) - static_cast<long>(Expected)), c.LengthTolerance)
            << samples.size();
        EXPECT_EQ(byteCount, static_cast<int32_t>(2 * samples.size()));
        EXPECT_GE(SnrDb(samples, 300), c.MinSnrDb);
        // The reader's converted files are its own business: none is left.
        EXPECT_TRUE(tmp.Folder().Entries().empty());
    }
}

// 24-bit stereo at 22050 Hz needs no resampling: each frame becomes the mean
// of its two channels in 16-bit units, rounded half to even, clipped.
TEST_F(SoundFile, TwoChannelsAtTheVoiceRateGiveTheirRoundedMean)
{
    struct Frame {
        int32_t Left, Right; // 16-bit units; a 24-bit file holds them x 256
        int16_t Expected;
    };
    const Frame frames[] = {
        {1, 2, 2},         // 1.5 rounds to the even 2
        {3, 0, 2},         // 1.5 again
        {1, 0, 0},         // 0.5 rounds to the even 0
        {-1, 0, 0},        // -0.5 to 0
        {5, 2, 4},         // 3.5 to 4
        {-5, -2, -4},      // -3.5 to -4
        {100, -300, -100}, // exact
        {32767, 32767, 32767},
        {-32768, -32768, -32768},
        {32767, -32768, 0}, // -0.5 to 0
    };
    std::vector<double> values;
    std::vector<int16_t> expected;
    for (const Frame &f : frames) {
        values.push_back(f.Left / 32768.0);
        values.push_back(f.Right / 32768.0);
        expected.push_back(f.Expected);
    }
    const std::string name = folder.File("exact.wav");
    ASSERT_TRUE(MakeSoundFile(name, SF_FORMAT_WAV | SF_FORMAT_PCM_24, 22050, 2, values));
    EXPECT_EQ(ReadSamples(name), expected);
}

// Float files may go beyond full scale: such samples are clipped; small
// values round half to even in 16-bit units; a value that is no number is
// silence. Resampled, a NaN gives what a 0 in its place gives, not the
// burst of -32768 the resampler makes of it.
TEST_F(SoundFile, FloatSamplesAreRoundedAndClipped)
{
    constexpr double Infinity = std::numeric_limits<double>::infinity();
    const std::vector<double> values = {1.5,          -1.5, 1.0,          -1.0,     0.5 / 32768, 1.5 / 32768,
                                        -2.5 / 32768, 0.25, std::nan(""), Infinity, -Infinity,   1e300};
    const std::vector<int16_t> expected = {32767, -32768, 32767, -32768, 0, 2, -2, 8192, 0, 0, 0, 32767};
    const std::string name = folder.File("float.wav");
    ASSERT_TRUE(MakeSoundFile(name, SF_FORMAT_WAV | SF_FORMAT_DOUBLE, 22050, 1, values));
    EXPECT_EQ(ReadSamples(name), expected);

    std::vector<double> tone;
    for (int n = 0; n < 8000; ++n)
        tone.push_back(0.3 * std::sin(2 * std::numbers::pi * 200 * n / 8000));
    tone[4000] = 0;
    ASSERT_TRUE(MakeSoundFile(folder.File("zero.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, 8000, 1, tone));
    tone[4000] = std::nan("");
    ASSERT_TRUE(MakeSoundFile(folder.File("nan.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, 8000, 1, tone));
    const std::vector<int16_t> withZero = ReadSamples(folder.File("zero.wav"));
    EXPECT_EQ(ReadSamples(folder.File("nan.wav")), withZero);
    EXPECT_EQ(withZero.size(), 22050u);
}

// The layouts the reader converts itself never reach libsndfile: a 44.1 kHz
// stereo file still gives the average of each pair of mono averages, which
// the resampler would not.
TEST_F(SoundFile, TheTwelveLayoutsKeepTheirOwnConversion)
{
    const std::vector<int16_t> stereo = {100, 300, 1001, 0, -7, -8, 50, 50};
    // frames -> (l + r) / 2 toward zero: 200, 500, -7, 50; pairs -> 350, 21
    const std::string name = folder.File("layout.wav");
    WriteBytes(name, SimpleWave(2, 44100, 16, Samples16(stereo)));
    EXPECT_EQ(ReadSamples(name), (std::vector<int16_t>{350, 21}));
}

Bytes RecordPattern()
{
    Bytes bytes(EffectSettingsBytes);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<uint8_t>(i * 3 + 1);
    return bytes;
}

TEST_F(SoundFile, SettingsChunkInAnyWaveIsHonoured)
{
    const Bytes data = Samples16({0, 1000, 2000, 1000, 0, -1000, -2000, -1000});
    const Bytes format48k = Format(1, 48000, 16);
    struct Case {
        const char *Name;
        Bytes File;
        bool Restored;
    };
    const Case cases[] = {
        {"before data", RiffWave({Chunk("fmt ", format48k), Chunk("qmbl", RecordPattern()), Chunk("data", data)}),
         true},
        {"after data", RiffWave({Chunk("fmt ", format48k), Chunk("data", data), Chunk("qmbl", RecordPattern())}), true},
        {"a wrong size first, then the record",
         RiffWave({Chunk("fmt ", format48k), Chunk("qmbl", Bytes(20, 9)), Chunk("data", data),
                   Chunk("qmbl", RecordPattern())}),
         true},
        {"wrong size only", RiffWave({Chunk("fmt ", format48k), Chunk("qmbl", Bytes(513, 9)), Chunk("data", data)}),
         false},
        {"24-bit at 22050 Hz",
         RiffWave({Chunk("fmt ", Format(1, 22050, 24)), Chunk("qmbl", RecordPattern()), Chunk("data", Bytes(9, 0))}),
         true},
    };
    const TEffectSettings stored = TEffectSettings::FromBytes(RecordPattern().data());
    for (const Case &c : cases) {
        SCOPED_TRACE(c.Name);
        record = {};
        const std::string name = folder.File("voice.wav");
        WriteBytes(name, c.File);
        ASSERT_TRUE(Read(name)) << (messages.Texts.empty() ? "" : messages.Texts[0]);
        EXPECT_EQ(record, c.Restored ? stored : TEffectSettings{});
    }
}

TEST_F(SoundFile, UnreadableFilesGiveTheMessageAndChangeNothing)
{
    const Bytes cases[] = {
        {},
        {'h', 'e', 'l', 'l', 'o', '\n'},
        RiffWave({Chunk("fmt ", Format(1, 48000, 16, 0x1234)), Chunk("data", Bytes(100, 0x55))}),
        RiffWave({Chunk("fmt ", Format(0, 48000, 16)), Chunk("data", Bytes(10))}),
        Bytes(4096, 0xFF),
        // One of the twelve layouts whose RIFF size hides its chunks: refused
        // as before, never resampled differently from its healthy twin.
        RiffWave({Chunk("fmt ", Format(2, 44100, 16)), Chunk("data", Bytes(400, 0x21))}, 0),
        RiffWave({Chunk("fmt ", Format(1, 11025, 8)), Chunk("data", Bytes(400, 0x21))}, 3),
    };
    int index = 0;
    for (const Bytes &file : cases) {
        SCOPED_TRACE(index++);
        record = TEffectSettings::FromBytes(RecordPattern().data());
        const std::string name = folder.File("bad.flac");
        WriteBytes(name, file);
        EXPECT_FALSE(Read(name));
        EXPECT_EQ(messages.Texts, std::vector<std::string>{Incompatible + name});
        EXPECT_EQ(byteCount, -77);
        EXPECT_EQ(record, TEffectSettings::FromBytes(RecordPattern().data()));
        EXPECT_EQ(ReadBytes(name), file);
    }
}

// Runs ReadWaveFile on name in a child whose address space is limited to
// 512 MB (not under AddressSanitizer, whose shadow memory needs more):
// what it said, "read N" with the sample count when it read the file, and
// "count changed" when it touched the count without reading.
std::string ReadInSmallChild(const std::string &name)
{
    int ends[2];
    if (::pipe(ends) != 0)
        return "no pipe";
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(ends[0]);
#if !defined(__SANITIZE_ADDRESS__)
        const rlimit limit{512u << 20, 512u << 20};
        ::setrlimit(RLIMIT_AS, &limit);
#endif
        RecordingSink sink;
        TEffectSettings settings;
        int32_t count = -77;
        const bool read = ReadWaveFile(name, 22050, 16, 1, count, settings, sink) != nullptr;
        std::string report = read ? "read " + std::to_string(count / 2) + "\n" : "";
        for (const std::string &text : sink.Texts)
            report += text + "\n";
        if (!read && count != -77)
            report += "count changed\n";
        (void)!::write(ends[1], report.data(), report.size());
        ::_exit(0);
    }
    ::close(ends[1]);
    std::string report;
    char buffer[512];
    ssize_t got;
    while ((got = ::read(ends[0], buffer, sizeof buffer)) > 0)
        report.append(buffer, static_cast<std::size_t>(got));
    ::close(ends[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        report += "child failed\n";
    return report;
}

// A 1 Hz file of 100,000 frames lasts 27 hours: 2.2 billion samples at
// 22050 Hz, twice what a voice holds. It is refused from its header, in a
// child whose address space could not even hold the samples.
TEST_F(SoundFile, FileLongerThanAVoiceIsRefusedBeforeAllocating)
{
    const std::string name = folder.File("long.wav");
    ASSERT_TRUE(MakeSoundFile(name, SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 1, 1, std::vector<double>(100000, 0.25)));
    const std::string report = ReadInSmallChild(name);
    EXPECT_EQ(report, TooLongText(name) + "\n");
    EXPECT_EQ(TooLongText(name),
              "Cannot open " + name + ": it lasts longer than the 13 hours 31 minutes a voice can hold.");
}

// A FLAC file states its length in its header without proof. One that
// claims 900 million frames at 44.1 kHz (450 million voice samples, 900 MB)
// but holds 4410 is read without reserving the promised length; one that
// claims 2^35 frames is refused as too long.
TEST_F(SoundFile, FlacHeaderClaimingMoreThanItHoldsAllocatesNoMore)
{
    const std::string name = folder.File("liar.flac");
    ASSERT_TRUE(MakeSoundFile(name, SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 44100, 1, TestSignal(44100, 1, 4410)));
    Bytes file = ReadBytes(name);
    ASSERT_EQ(Bytes(file.begin(), file.begin() + 4), (Bytes{'f', 'L', 'a', 'C'}));
    // STREAMINFO's 36-bit total: the low nibble of byte 21, then bytes 22..25.
    auto claim = [&](uint64_t frames) {
        file[21] = static_cast<uint8_t>((file[21] & 0xF0) | ((frames >> 32) & 0x0F));
        for (int i = 0; i < 4; ++i)
            file[22 + i] = static_cast<uint8_t>(frames >> (8 * (3 - i)));
        WriteBytes(name, file);
    };
    claim(900000000);
    EXPECT_EQ(ReadInSmallChild(name), "read 2205\n");
    claim(uint64_t{1} << 35);
    EXPECT_EQ(ReadInSmallChild(name), TooLongText(name) + "\n");
}

TEST_F(SoundFile, ConversionShowsTheGaugeRunningToNinety)
{
    struct Seen {
        std::vector<std::string> Events;
    } seen;
    RecordingGauge gauge;
    ReadWaveHooks hooks;
    hooks.Gauge = &gauge;
    hooks.Context = &seen;
    hooks.ShowGauge = [](void *context) { static_cast<Seen *>(context)->Events.push_back("show"); };
    hooks.HideGauge = [](void *context) { static_cast<Seen *>(context)->Events.push_back("hide"); };

    // 4 seconds at 48 kHz: many blocks, so the gauge moves in steps.
    const std::string name = folder.File("long.flac");
    ASSERT_TRUE(MakeSoundFile(name, SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 48000, 1, TestSignal(48000, 1, 4 * 48000)));
    gauge.SetProgress(50); // left over from an earlier run
    gauge.Values.clear();
    ASSERT_TRUE(Read(name, hooks));
    EXPECT_EQ(seen.Events, (std::vector<std::string>{"show", "hide"}));
    EXPECT_EQ(gauge.MaxValue(), 90);
    // Reset first (the new maximum may show the old value once), then
    // forward in steps to 90.
    const auto reset = std::find(gauge.Values.begin(), gauge.Values.end(), 0);
    ASSERT_NE(reset, gauge.Values.end());
    EXPECT_TRUE(std::all_of(gauge.Values.begin(), reset, [](int32_t v) { return v == 50; }));
    EXPECT_GE(gauge.Values.end() - reset, 10);
    EXPECT_TRUE(std::is_sorted(reset, gauge.Values.end()));
    EXPECT_EQ(gauge.Values.back(), 90);
}

TEST(SoundFileNames, EveryReadableKindIsOffered)
{
    const std::vector<std::string> extensions = SoundFileExtensions();
    EXPECT_TRUE(std::is_sorted(extensions.begin(), extensions.end()));
    for (const char *wanted : {"wav", "flac", "ogg",  "opus", "mp3", "aiff", "aif", "au",  "caf", "rf64",
                               "w64", "m4a",  "webm", "amr",  "mp4", "mov",  "3gp", "mkv", "aac", "ra"})
        EXPECT_TRUE(std::binary_search(extensions.begin(), extensions.end(), wanted)) << wanted;
    for (const char *unwanted : {"raw", "sd2", "txt"})
        EXPECT_FALSE(std::binary_search(extensions.begin(), extensions.end(), unwanted)) << unwanted;

    const std::string pattern = SoundFilePattern();
    EXPECT_EQ(pattern.rfind("*.", 0), 0u);
    EXPECT_NE(pattern.find(" *.mp3 "), std::string::npos);
    EXPECT_NE(pattern.find(" *.wav"), std::string::npos);

    struct Case {
        const char *Name;
        bool Sound;
    };
    for (const Case &c : {Case{"voice.wav", true}, Case{"/a/b/LOUD.WAV", true}, Case{"song.Mp3", true},
                          Case{"x.flac", true}, Case{"Memo.M4A", true}, Case{"notes.txt", false}, Case{"wav", false},
                          Case{"folder.wav/file", false}, Case{".wav", false}, Case{"x.", false}}) {
        EXPECT_EQ(IsSoundFileName(c.Name), c.Sound) << c.Name;
    }
}

std::vector<int16_t> ReadBackShorts(const std::string &name, SF_INFO &info)
{
    info = {};
    SNDFILE *file = sf_open(name.c_str(), SFM_READ, &info);
    if (!file)
        return {};
    std::vector<int16_t> samples(static_cast<std::size_t>(info.frames * info.channels));
    samples.resize(
        static_cast<std::size_t>(sf_read_short(file, samples.data(), static_cast<sf_count_t>(samples.size()))));
    sf_close(file);
    return samples;
}

TEST(SoundFileWriter, FlacReadsBackBitForBitAndOggKeepsTheSound)
{
    TempFolder folder;
    std::vector<int16_t> clip;
    for (int n = 0; n < 22050; ++n)
        clip.push_back(static_cast<int16_t>(std::lround(MonoSignal(n / 22050.0) * 32768)));
    clip[5] = 32767;
    clip[6] = -32768;

    for (uint32_t rate : {11025u, 22050u, 44100u}) {
        SCOPED_TRACE(rate);
        const std::string flac = folder.File("out.flac");
        ASSERT_TRUE(WriteSoundFile(flac, SoundFileKind::Flac, rate, clip.data(), clip.size()));
        SF_INFO info;
        EXPECT_EQ(ReadBackShorts(flac, info), clip);
        EXPECT_EQ(info.samplerate, static_cast<int>(rate));
        EXPECT_EQ(info.channels, 1);
        EXPECT_EQ(info.format, SF_FORMAT_FLAC | SF_FORMAT_PCM_16);
    }

    const std::string ogg = folder.File("out.ogg");
    ASSERT_TRUE(WriteSoundFile(ogg, SoundFileKind::Ogg, 22050, clip.data(), clip.size()));
    SF_INFO info;
    const std::vector<int16_t> back = ReadBackShorts(ogg, info);
    EXPECT_EQ(info.format, SF_FORMAT_OGG | SF_FORMAT_VORBIS);
    EXPECT_EQ(info.samplerate, 22050);
    EXPECT_EQ(back.size(), clip.size());
    std::vector<int16_t> body(back.begin(), back.end());
    body[5] = body[6] = 0; // the two full-scale clicks are not the tone
    EXPECT_GE(SnrDb(body, 300), 20);
    // Nothing but the two outputs in the folder: no temporary file left.
    EXPECT_EQ(folder.Entries(), (std::vector<std::string>{"out.flac", "out.ogg"}));
}

TEST(SoundFileWriter, FailedWriteLeavesTheFolderAsItWas)
{
    TempFolder folder;
    const std::vector<int16_t> clip(1000, 1234);
    EXPECT_FALSE(WriteSoundFile(folder.File("missing/out.flac"), SoundFileKind::Flac, 22050, clip.data(), clip.size()));

    // A full disk halfway through: the earlier file stays as it was.
    const std::string name = folder.File("kept.flac");
    WriteBytes(name, Bytes(100, 7));
    const std::vector<int16_t> noise = [] {
        std::vector<int16_t> values(200000);
        std::mt19937 random(5);
        for (int16_t &v : values)
            v = static_cast<int16_t>(random());
        return values;
    }();
    {
        FileSizeLimit limit(8192);
        EXPECT_FALSE(WriteSoundFile(name, SoundFileKind::Flac, 22050, noise.data(), noise.size()));
    }
    EXPECT_EQ(ReadBytes(name), Bytes(100, 7));
    EXPECT_EQ(folder.Entries(), (std::vector<std::string>{"kept.flac"}));
}

} // namespace
