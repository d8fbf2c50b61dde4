// SPDX-License-Identifier: GPL-3.0-or-later
// The command-line tool, run as a real process. Input files are built byte
// by byte here and outputs are taken apart by their fixed offsets, so these
// tests do not lean on the program's own WAVE code to judge it.
#include "tests/effects/effecttesting.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
    long peakKiB = 0; // the run's largest resident set
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

class Tool : public testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/glimmerbox-fx-test-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir = pattern;
        ASSERT_TRUE(fs::exists(ToolPath())) << ToolPath();
    }
    void TearDown() override { fs::remove_all(dir); }

    fs::path Path(const std::string &name) const { return dir / name; }

    // Runs the tool with stdout and stderr captured in files; with a
    // fileSizeLimit, as under `ulimit -f`: no file it writes may grow larger.
    Outcome Run(const std::vector<std::string> &args, rlim_t fileSizeLimit = RLIM_INFINITY) const
    {
        const fs::path outFile = dir / "stdout.txt";
        const fs::path errFile = dir / "stderr.txt";
        const pid_t pid = ::fork();
        if (pid == 0) {
            const int out = ::open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int err = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(out, STDOUT_FILENO);
            ::dup2(err, STDERR_FILENO);
            if (fileSizeLimit != RLIM_INFINITY) {
                // The signal as a shell leaves it: by default it ends the program.
                std::signal(SIGXFSZ, SIG_DFL);
                const rlimit limit{fileSizeLimit, fileSizeLimit};
                ::setrlimit(RLIMIT_FSIZE, &limit);
            }
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
        rusage usage{};
        while (::wait4(pid, &wstatus, 0, &usage) < 0 && errno == EINTR) {
        }
        o.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
        o.peakKiB = usage.ru_maxrss;
        o.out = Slurp(outFile);
        o.err = Slurp(errFile);
        return o;
    }

    fs::path dir;
};

void Put16(std::string &s, uint32_t v)
{
    s.push_back(static_cast<char>(v & 0xFF));
    s.push_back(static_cast<char>((v >> 8) & 0xFF));
}

void Put32(std::string &s, uint32_t v)
{
    Put16(s, v & 0xFFFF);
    Put16(s, v >> 16);
}

uint32_t Get16(const std::string &s, std::size_t at)
{
    return static_cast<uint8_t>(s[at]) | static_cast<uint8_t>(s[at + 1]) << 8;
}

uint32_t Get32(const std::string &s, std::size_t at)
{
    return Get16(s, at) | Get16(s, at + 2) << 16;
}

// A canonical 16-bit mono PCM WAVE file with a 16-byte "fmt " chunk.
void WriteWave(const fs::path &path, const std::vector<int16_t> &samples, uint32_t rate = 22050)
{
    std::string s = "RIFF";
    Put32(s, 36 + 2 * static_cast<uint32_t>(samples.size()));
    s += "WAVEfmt ";
    Put32(s, 16);
    Put16(s, 1);
    Put16(s, 1);
    Put32(s, rate);
    Put32(s, rate * 2);
    Put16(s, 2);
    Put16(s, 16);
    s += "data";
    Put32(s, 2 * static_cast<uint32_t>(samples.size()));
    for (int16_t v : samples)
        Put16(s, static_cast<uint16_t>(v));
    std::ofstream(path, std::ios::binary) << s;
}

// An output file as written by the tool: "fmt " at 12 (20 bytes), then
// either "data" at 40 or "qmbl" (514 bytes) at 40 and "data" at 562.
struct Parsed {
    uint32_t rate = 0;
    std::vector<int16_t> samples;
    std::vector<uint16_t> settings; // empty without a "qmbl" chunk
};

Parsed ParseOutput(const std::string &s)
{
    Parsed p;
    EXPECT_EQ(s.substr(0, 4), "RIFF");
    EXPECT_EQ(Get32(s, 4), s.size() - 8);
    EXPECT_EQ(s.substr(8, 8), "WAVEfmt ");
    EXPECT_EQ(Get32(s, 16), 20u);
    EXPECT_EQ(Get16(s, 20), 1u); // PCM
    EXPECT_EQ(Get16(s, 22), 1u); // mono
    p.rate = Get32(s, 24);
    EXPECT_EQ(Get32(s, 28), 2 * p.rate);
    EXPECT_EQ(Get16(s, 32), 2u);
    EXPECT_EQ(Get16(s, 34), 16u);
    std::size_t data = 36 + 4;
    if (s.substr(40, 4) == "qmbl") {
        EXPECT_EQ(Get32(s, 44), 514u);
        for (std::size_t i = 0; i < 257; ++i)
            p.settings.push_back(static_cast<uint16_t>(Get16(s, 48 + 2 * i)));
        data = 562;
    }
    EXPECT_EQ(s.substr(data, 4), "data");
    const uint32_t bytes = Get32(s, data + 4);
    for (uint32_t i = 0; i + 1 < bytes; i += 2)
        p.samples.push_back(static_cast<int16_t>(Get16(s, data + 8 + i)));
    return p;
}

} // namespace

TEST_F(Tool, HelpPrintsUsageToStdoutAndSucceeds)
{
    const Outcome o = Run({"--help"});
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.out.rfind("Usage: glimmerbox-fx [OPTIONS] INPUT OUTPUT\n", 0), 0u) << o.out;
    EXPECT_NE(o.out.find("--out-dir DIR"), std::string::npos);
    EXPECT_NE(o.out.find("--bitrate K"), std::string::npos);
    EXPECT_NE(o.out.find("--settings-from FILE"), std::string::npos);
    EXPECT_EQ(o.err, "");
}

TEST_F(Tool, MissingFileNamesAreAUsageError)
{
    for (const std::vector<std::string> &args :
         {std::vector<std::string>{}, {"only-one.wav"}, {"a.wav", "b.wav", "c.wav"}}) {
        const Outcome o = Run(args);
        EXPECT_EQ(o.status, 2);
        EXPECT_NE(o.err.find("Usage: glimmerbox-fx"), std::string::npos);
        EXPECT_EQ(o.out, "");
    }
}

TEST_F(Tool, UnknownOptionIsAUsageError)
{
    const Outcome o = Run({"--bogus", "a.wav", "b.wav"});
    EXPECT_EQ(o.status, 2);
    EXPECT_NE(o.err.find("unknown option '--bogus'"), std::string::npos) << o.err;
    EXPECT_NE(o.err.find("Usage: glimmerbox-fx"), std::string::npos);
    EXPECT_FALSE(fs::exists(Path("b.wav")));
}

TEST_F(Tool, PitchOutsideTheBarIsAUsageError)
{
    WriteWave(Path("in.wav"), BusySignal(100, 50000));
    const std::string in = Path("in.wav").string();
    const std::string out = Path("out.wav").string();
    for (const std::vector<std::string> &args : {
             std::vector<std::string>{"--pitch", "13", in, out},
             {"--pitch", "-1", in, out},
             {"--pitch", "x", in, out},
             {"--pitch", "", in, out},
             {"--pitch", "+3", in, out},
             {"--pitch", "007", in, out},
             {"--pitch=99", in, out},
             {in, out, "--pitch"},
         }) {
        const Outcome o = Run(args);
        EXPECT_EQ(o.status, 2) << args[0] << " " << args[1];
        EXPECT_NE(o.err.find("--pitch"), std::string::npos) << o.err;
        EXPECT_FALSE(fs::exists(Path("out.wav")));
    }
}

TEST_F(Tool, MissingInputFailsWithAClearMessage)
{
    const Outcome o = Run({Path("nothere.wav").string(), Path("out.wav").string()});
    EXPECT_EQ(o.status, 1);
    EXPECT_NE(o.err.find("cannot open " + Path("nothere.wav").string()), std::string::npos) << o.err;
    EXPECT_FALSE(fs::exists(Path("out.wav")));
}

TEST_F(Tool, RejectedInputShowsTheReadersMessage)
{
    std::ofstream(Path("text.wav")) << "this is not a wave file at all, just words\n";
    const Outcome o = Run({"--echo", Path("text.wav").string(), Path("out.wav").string()});
    EXPECT_EQ(o.status, 1);
    EXPECT_NE(o.err.find("Incompatible file format of: " + Path("text.wav").string()), std::string::npos) << o.err;
    EXPECT_FALSE(fs::exists(Path("out.wav")));
}

TEST_F(Tool, UnwritableOutputFails)
{
    WriteWave(Path("in.wav"), BusySignal(100, 50000));
    const std::string out = Path("no-such-folder/out.wav").string();
    const Outcome o = Run({Path("in.wav").string(), out});
    EXPECT_EQ(o.status, 1);
    EXPECT_NE(o.err.find("cannot write " + out), std::string::npos) << o.err;
}

TEST_F(Tool, AFileSizeLimitFailsWithAMessageAndLeavesTheOldOutput)
{
    WriteWave(Path("in.wav"), BusySignal(50000, 50000)); // about 100 KB of output
    const std::string before = "an earlier file of that name\n";
    std::ofstream(Path("out.wav"), std::ios::binary) << before;
    const Outcome o = Run({"--echo", Path("in.wav").string(), Path("out.wav").string()}, 16 * 1024);
    EXPECT_EQ(o.status, 1) << "ended by a signal instead of failing";
    EXPECT_NE(o.err.find("cannot write " + Path("out.wav").string()), std::string::npos) << o.err;
    EXPECT_EQ(Slurp(Path("out.wav")), before);
    std::vector<std::string> left;
    for (const fs::directory_entry &entry : fs::directory_iterator(dir))
        left.push_back(entry.path().filename().string());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"in.wav", "out.wav", "stderr.txt", "stdout.txt"}));
}

TEST_F(Tool, EchoKeepsTheLengthAndAddsTheRepeat)
{
    const int32_t count = 9000;
    const std::vector<int16_t> x = BusySignal(count, 50000);
    WriteWave(Path("in.wav"), x);
    const Outcome o = Run({"--echo", Path("in.wav").string(), Path("out.wav").string()});
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.err, ""); // not a terminal: no progress bar

    const std::string bytes = Slurp(Path("out.wav"));
    ASSERT_EQ(bytes.size(), 48u + 2 * count);
    const Parsed p = ParseOutput(bytes);
    EXPECT_EQ(p.rate, 22050u);
    EXPECT_TRUE(p.settings.empty());
    ASSERT_EQ(p.samples.size(), static_cast<std::size_t>(count));
    for (int32_t i = 0; i < count; ++i) {
        const int32_t wet = i >= 6614 ? SevenTenths(x[i - 6614]) : 0;
        ASSERT_EQ(p.samples[i], std::clamp(x[i] + wet, -32768, 32767)) << "sample " << i;
    }
}

TEST_F(Tool, RateEffectsOnlyChangeTheWrittenRate)
{
    const std::vector<int16_t> x = BusySignal(500, 50000);
    WriteWave(Path("in.wav"), x);
    struct Case {
        std::vector<std::string> flags;
        uint32_t rate;
    };
    for (const Case &c : {Case{{}, 22050}, Case{{"--slow-monster"}, 11025}, Case{{"--fast-squeaker"}, 44100},
                          Case{{"--slow-monster", "--fast-squeaker"}, 44100}}) {
        std::vector<std::string> args = c.flags;
        args.push_back(Path("in.wav").string());
        args.push_back(Path("out.wav").string());
        ASSERT_EQ(Run(args).status, 0);
        const Parsed p = ParseOutput(Slurp(Path("out.wav")));
        EXPECT_EQ(p.rate, c.rate);
        EXPECT_EQ(p.samples, x);
    }
}

TEST_F(Tool, ConvertsAnInputAt11025HzFirst)
{
    WriteWave(Path("in.wav"), {100, -200, 300}, 11025);
    ASSERT_EQ(Run({"--backward", Path("in.wav").string(), Path("out.wav").string()}).status, 0);
    const Parsed p = ParseOutput(Slurp(Path("out.wav")));
    EXPECT_EQ(p.rate, 22050u);
    EXPECT_EQ(p.samples, (std::vector<int16_t>{300, 300, -200, -200, 100, 100}));
}

// A long clip costs one copy of its samples: the voice is processed where
// it lies. Only --with-settings, which writes the voice itself, keeps a
// second one. Measured as the growth of the largest resident set from a
// one-second clip to a four-minute one (10.6 MB of samples).
TEST_F(Tool, ProcessesTheVoiceWhereItLiesUnlessItMustKeepIt)
{
    constexpr int32_t Long = 4 * 60 * 22050;
    WriteWave(Path("short.wav"), ReferenceClip(22050, 3));
    WriteWave(Path("long.wav"), ReferenceClip(Long, 4));
    const long clipKiB = 2L * Long / 1024;
    struct Case {
        std::vector<std::string> options;
        double mostCopies;
    };
    const Case cases[] = {{{"--backward", "--fade-in", "--echo"}, 1.5}, {{"--backward", "--with-settings"}, 2.5}};
    for (const Case &c : cases) {
        auto run = [&](const std::string &in) {
            std::vector<std::string> args = c.options;
            args.push_back(Path(in).string());
            args.push_back(Path("out.wav").string());
            const Outcome o = Run(args);
            EXPECT_EQ(o.status, 0) << o.err;
            return o.peakKiB;
        };
        const long growth = run("long.wav") - run("short.wav");
        EXPECT_LT(static_cast<double>(growth), c.mostCopies * static_cast<double>(clipKiB))
            << c.options.back() << ": " << growth << " KiB more for " << clipKiB << " KiB of samples";
    }
}

TEST_F(Tool, WithSettingsWritesTheUnprocessedVoiceWithTheSelectionAsSaveDoes)
{
    std::vector<int16_t> x = {1000, 0, 0, 0, 16384};
    WriteWave(Path("in.wav"), x);
    const Outcome first = Run({"--backward", "--fast-squeaker", "--pitch=6", "--with-settings", Path("in.wav").string(),
                               Path("first.wav").string()});
    ASSERT_EQ(first.status, 0) << first.err;
    const Parsed stored = ParseOutput(Slurp(Path("first.wav")));
    ASSERT_EQ(stored.settings.size(), 257u);
    const std::vector<uint16_t> words(stored.settings.begin(), stored.settings.begin() + 15);
    // count, Echo, Chorus, Flange, Fade In, Fade Out, Bass Only, Robot voice,
    // Backward, Slow Monster, Fast Squeaker, Treble Only, pitch, sweeps
    EXPECT_EQ(words, (std::vector<uint16_t>{14, 0, 0, 0, 0, 0, 0, 0, 1, 0, 1, 0, 6, 0, 0}));
    EXPECT_TRUE(std::all_of(stored.settings.begin() + 15, stored.settings.end(), [](uint16_t w) { return w == 0; }));
    // The voice itself, not reversed and at the voice's own rate: the
    // selection beside it runs once, when the file is opened.
    EXPECT_EQ(stored.rate, 22050u);
    EXPECT_EQ(stored.samples, x);

    // Restored, plus Fade In from the command line, stored again.
    const Outcome second = Run({"--settings-from", Path("first.wav").string(), "--fade-in", "--with-settings",
                                Path("in.wav").string(), Path("second.wav").string()});
    ASSERT_EQ(second.status, 0) << second.err;
    const Parsed restored = ParseOutput(Slurp(Path("second.wav")));
    EXPECT_EQ(restored.rate, 22050u);
    EXPECT_EQ(restored.samples, x);
    EXPECT_EQ(restored.settings[4], 1u); // Fade In
    EXPECT_EQ(restored.settings[8], 1u); // Backward
    EXPECT_EQ(restored.settings[10], 1u);

    // Processing the stored file with its own selection gives what the
    // first run's options give directly: reversed, then faded in, at
    // 44100 Hz; the effects are applied once, not twice.
    ASSERT_EQ(
        Run({"--settings-from", Path("second.wav").string(), Path("second.wav").string(), Path("again.wav").string()})
            .status,
        0);
    ASSERT_EQ(Run({"--backward", "--fast-squeaker", "--fade-in", Path("in.wav").string(), Path("direct.wav").string()})
                  .status,
              0);
    const Parsed again = ParseOutput(Slurp(Path("again.wav")));
    const Parsed direct = ParseOutput(Slurp(Path("direct.wav")));
    EXPECT_EQ(again.rate, 44100u);
    EXPECT_EQ(again.samples, (std::vector<int16_t>{0, 0, 0, 0, 2000}));
    EXPECT_EQ(again.samples, direct.samples);
    EXPECT_TRUE(again.settings.empty()) << "processed output carries no selection";
}

TEST_F(Tool, WithSettingsRoundTripKeepsTheLengthOfASlowMonster)
{
    // A second of signal with Slow Monster: the processed clip plays at
    // 11025 Hz for two seconds. Stored with the selection and processed
    // again, it must still be two seconds, not four.
    const std::vector<int16_t> x = BusySignal(22050, 20000);
    WriteWave(Path("in.wav"), x);
    ASSERT_EQ(Run({"--slow-monster", "--with-settings", Path("in.wav").string(), Path("stored.wav").string()}).status,
              0);
    ASSERT_EQ(
        Run({"--settings-from", Path("stored.wav").string(), Path("stored.wav").string(), Path("played.wav").string()})
            .status,
        0);
    ASSERT_EQ(Run({"--slow-monster", Path("in.wav").string(), Path("direct.wav").string()}).status, 0);
    const Parsed played = ParseOutput(Slurp(Path("played.wav")));
    EXPECT_EQ(played.rate, 11025u);
    EXPECT_EQ(played.samples.size(), x.size());
    EXPECT_EQ(played.samples, ParseOutput(Slurp(Path("direct.wav"))).samples);
}

TEST_F(Tool, SettingsFromAPlainFileLeavesEverythingOff)
{
    const std::vector<int16_t> x = BusySignal(300, 50000);
    WriteWave(Path("in.wav"), x);
    ASSERT_EQ(
        Run({"--settings-from", Path("in.wav").string(), Path("in.wav").string(), Path("out.wav").string()}).status, 0);
    EXPECT_EQ(ParseOutput(Slurp(Path("out.wav"))).samples, x);
}

TEST_F(Tool, UnreadableSettingsFileFails)
{
    WriteWave(Path("in.wav"), BusySignal(300, 50000));
    const Outcome missing =
        Run({"--settings-from", Path("none.wav").string(), Path("in.wav").string(), Path("out.wav").string()});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("cannot open " + Path("none.wav").string()), std::string::npos) << missing.err;

    std::ofstream(Path("junk.wav")) << "RIFF....junk";
    const Outcome junk =
        Run({"--settings-from=" + Path("junk.wav").string(), Path("in.wav").string(), Path("out.wav").string()});
    EXPECT_EQ(junk.status, 1);
    EXPECT_NE(junk.err.find("Incompatible file format of: " + Path("junk.wav").string()), std::string::npos)
        << junk.err;
    EXPECT_FALSE(fs::exists(Path("out.wav")));
}

TEST_F(Tool, ProgressBarAppearsOnATerminal)
{
    WriteWave(Path("in.wav"), BusySignal(1000, 50000));
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    const std::string slaveName = ::ptsname(master);

    const std::string tool = ToolPath();
    const std::string in = Path("in.wav").string();
    const std::string out = Path("out.wav").string();
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int slave = ::open(slaveName.c_str(), O_RDWR);
        ::dup2(slave, STDERR_FILENO);
        ::execl(tool.c_str(), tool.c_str(), "--backward", in.c_str(), out.c_str(), static_cast<char *>(nullptr));
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
        if (seen.find('\n') != std::string::npos && seen.find("100%") != std::string::npos)
            break;
    }
    int wstatus = 0;
    ::waitpid(pid, &wstatus, 0);
    ::close(master);
    EXPECT_TRUE(WIFEXITED(wstatus) && WEXITSTATUS(wstatus) == 0);
    EXPECT_NE(seen.find("Processing"), std::string::npos) << seen;
    EXPECT_NE(seen.find("100%"), std::string::npos) << seen;
}

namespace {

std::vector<int16_t> Ramp(int32_t count)
{
    std::vector<int16_t> x(static_cast<std::size_t>(count));
    for (int32_t i = 0; i < count; ++i)
        x[static_cast<std::size_t>(i)] = static_cast<int16_t>(i);
    return x;
}

std::vector<int16_t> Joined(std::initializer_list<std::vector<int16_t>> parts)
{
    std::vector<int16_t> all;
    for (const std::vector<int16_t> &part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

std::vector<int16_t> Zeros(std::size_t count)
{
    return std::vector<int16_t>(count, 0);
}

} // namespace

// Every row's output worked out sample by sample. The edits run before the
// effects, in the order crop, trim, normalise whatever the command line's,
// alike in one run and in a batch's worker. Crop keeps samples
// round(START * 22050) to round(END * 22050), halves to even: 0.01 s is
// sample 220.5, so 220, and 0.03 s is 661.5, so 662.
TEST_F(Tool, EditsChangeTheVoiceBeforeTheEffects)
{
    // Silence below the threshold of 184 around speech that starts and ends
    // at exactly 184: Trim Silence keeps 1102 samples of it on each side.
    const std::vector<int16_t> hush = {0, 183, -183, 90, 0, -12};
    std::vector<int16_t> padding;
    while (padding.size() < 2000)
        padding.insert(padding.end(), hush.begin(), hush.end());
    padding.resize(2000);
    const std::vector<int16_t> speech = Joined({{184}, BusySignal(300, 30000), {-184}});
    const std::vector<int16_t> padded = Joined({padding, speech, padding, {0, 0}});
    const auto trimmed = std::vector<int16_t>(padded.begin() + 2000 - 1102, padded.begin() + 2000 + 302 + 1102);
    // Outside 0.1 s to 0.2 s (samples 2205 to 4410) lie louder samples that
    // trimming or normalising before the crop would find; inside, speech
    // whose peak is 1000, 1500 samples in and 701 before the end, and 200
    // samples in a 100 that is silence to Trim but not once normalised.
    std::vector<int16_t> layered = Zeros(6000);
    layered[100] = 20000;
    layered[2205 + 200] = 100;
    layered[5000] = -15000;
    const std::vector<int16_t> quiet = {250, -1000, 500, 1000};
    std::copy(quiet.begin(), quiet.end(), layered.begin() + 2205 + 1500);
    const std::vector<int16_t> layeredOut = Joined({Zeros(1102), {7301, -29204, 14602, 29204}, Zeros(701)});
    const std::vector<int16_t> ramp = Ramp(1000);
    const std::vector<int16_t> cropped(ramp.begin() + 220, ramp.begin() + 662);
    const std::string silent =
        "glimmerbox-fx: " + Path("in.wav").string() + ": The voice is silent: there is nothing to trim.\n";
    struct Case {
        const char *what;
        std::vector<int16_t> in;
        std::vector<std::string> options;
        std::vector<int16_t> out;
        std::string err = "";
        bool batch = false;
    };
    const Case cases[] = {
        {"crop", ramp, {"--crop", "0.01:0.03"}, cropped},
        {"crop past the end", ramp, {"--crop=0.02:5"}, std::vector<int16_t>(ramp.begin() + 441, ramp.end())},
        {"crop to the end", ramp, {"--crop", "0:0.04535"}, ramp},
        {"trim", padded, {"--trim-silence"}, trimmed},
        {"trim in a batch", padded, {"--trim-silence"}, trimmed, "", true},
        {"trim near the ends", {0, 300, 0}, {"--trim-silence"}, {0, 300, 0}},
        {"trim a silent voice", {0, 183, -183}, {"--trim-silence"}, {0, 183, -183}, silent},
        {"trim a silent voice in a batch", {0, 183}, {"--trim-silence"}, {0, 183}, silent, true},
        // 29204 / 8 = 3650.5: 1 becomes 3650, -3 -10951.5 so -10952, 5 18252.5 so 18252.
        {"normalise", {8, 1, -3, 0, 5}, {"--normalize"}, {29204, 3650, -10952, 0, 18252}},
        // The peak of -32768 counts as 32768: 4096 becomes 3650.5 so 3650.
        {"normalise -32768", {-32768, 4096, -12288, 1, 32767}, {"--normalize"}, {-29204, 3650, -10952, 1, 29203}},
        {"normalise a silent voice", {0, 0, 0}, {"--normalize"}, {0, 0, 0}},
        {"all three", layered, {"--normalize", "--trim-silence", "--crop", "0.1:0.2"}, layeredOut},
        {"all three in a batch", layered, {"--normalize", "--trim-silence", "--crop", "0.1:0.2"}, layeredOut, "", true},
        {"crop, then backward",
         ramp,
         {"--backward", "--crop", "0.01:0.03"},
         std::vector<int16_t>(cropped.rbegin(), cropped.rend())},
        // Save's file holds the edited voice, not yet reversed.
        {"crop with the selection", ramp, {"--backward", "--with-settings", "--crop", "0.01:0.03"}, cropped},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        WriteWave(Path("in.wav"), c.in);
        fs::remove_all(Path("batch"));
        std::vector<std::string> args = c.options;
        args.push_back(Path("in.wav").string());
        if (c.batch) {
            args.insert(args.end(), {"--out-dir", Path("batch").string()});
        } else {
            args.push_back(Path("out.wav").string());
        }
        const Outcome o = Run(args);
        ASSERT_EQ(o.status, 0) << o.err;
        EXPECT_EQ(o.err, c.err);
        const Parsed p = ParseOutput(Slurp(c.batch ? Path("batch/in.wav") : Path("out.wav")));
        EXPECT_EQ(p.rate, 22050u);
        EXPECT_EQ(p.samples, c.out);
    }
}

TEST_F(Tool, BadCropsAreUsageErrorsAndOnePastTheVoiceFailsTheFile)
{
    WriteWave(Path("in.wav"), BusySignal(3 * 22050, 50000));
    const std::string in = Path("in.wav").string();
    const std::string out = Path("out.wav").string();
    const std::string pastTheEnd = "glimmerbox-fx: " + in + ": --crop 9:10 starts after the voice ends (3.000 s)\n";
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string err; // how standard error starts
    };
    std::vector<Case> cases = {
        {{"--crop", "1.00001:1.00002", in, out},
         2,
         "glimmerbox-fx: --crop wants START and END at least one sample (1/22050 s) apart, not '1.00001:1.00002'"},
        {{in, out, "--crop"}, 2, "glimmerbox-fx: --crop needs a value"},
        {{"--crop", "9:10", in, out}, 1, pastTheEnd},
        {{"--crop", "3:4", in, out},
         1,
         "glimmerbox-fx: " + in + ": --crop 3:4 starts after the voice ends (3.000 s)\n"},
        {{"--crop", "9:10", in, "--out-dir", Path("batch").string()}, 1, pastTheEnd},
    };
    for (const char *text : {"2:1", "1:1", "-1:2", "0:inf", "nan:1", "1e0:2", "1.5", ":2", "1:2:3", "0x1:2"})
        cases.push_back(
            {{"--crop=" + std::string(text), in, out},
             2,
             "glimmerbox-fx: --crop wants START:END in seconds, END after START, not '" + std::string(text) + "'\n"});
    for (const Case &c : cases) {
        SCOPED_TRACE(c.args[0] + " " + c.args[1]);
        const Outcome o = Run(c.args);
        EXPECT_EQ(o.status, c.status);
        EXPECT_EQ(o.err.substr(0, c.err.size()), c.err);
        if (c.status == 1) {
            EXPECT_EQ(o.err, c.err) << "nothing but the reason";
        }
        EXPECT_FALSE(fs::exists(Path("out.wav")));
        EXPECT_FALSE(fs::exists(Path("batch/in.wav")));
    }
}
