// SPDX-License-Identifier: GPL-3.0-or-later
// glimmerbox-fx --live against the private sound servers: a known voice is
// played into a test input, the tool runs it through the effects into
// "Glimmerbox Voice", and the server's own recorder records that source.
// What went out is the clip path's result over what came in (--keep-input
// through the plain tool), sample for sample, before and after a change of
// selection; what was recorded is what went out. The user's defaults never
// change, and the virtual microphone goes with the tool.
#include "audio/wavefile.h"
#include "effects/liveswitch.h"
#include "tests/livetesting.h"
#include "tests/platform/soundtest.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pulse/error.h>
#include <pulse/simple.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using namespace std::chrono;

namespace {

using livetesting::Samples;
using livetesting::Tool;

constexpr int32_t Rate = 22050;
constexpr const char *FeedSink = "glimmer_feed";
constexpr const char *FeedSource = "glimmer_feed_in";
constexpr const char *VirtualMic = "glimmerbox_voice";

// A tone gliding from 200 Hz to 600 Hz: no stretch of it repeats.
std::vector<int16_t> Glide(size_t count)
{
    std::vector<int16_t> clip(count);
    double phase = 0;
    for (size_t i = 0; i < count; ++i) {
        clip[i] = static_cast<int16_t>(std::lround(8000 * std::sin(phase)));
        phase += 2 * M_PI * (200 + 400 * static_cast<double>(i) / static_cast<double>(count)) / Rate;
    }
    return clip;
}

// The tool running live, its standard input and error on pipes.
class LiveTool {
public:
    explicit LiveTool(const std::vector<std::string> &args)
    {
        int in[2];
        int err[2];
        if (pipe(in) != 0 || pipe(err) != 0)
            return;
        pid = fork();
        if (pid == 0) {
            dup2(in[0], STDIN_FILENO);
            dup2(err[1], STDERR_FILENO);
            close(in[1]);
            close(err[0]);
            std::vector<char *> argv;
            const std::string tool = Tool();
            argv.push_back(const_cast<char *>(tool.c_str()));
            for (const std::string &a : args)
                argv.push_back(const_cast<char *>(a.c_str()));
            argv.push_back(nullptr);
            execv(tool.c_str(), argv.data());
            _exit(127);
        }
        close(in[0]);
        close(err[1]);
        toTool = in[1];
        fromTool = err[0];
        fcntl(fromTool, F_SETFL, O_NONBLOCK);
    }
    ~LiveTool()
    {
        if (pid > 0 && !exited) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        close(toTool);
        close(fromTool);
    }

    void Send(const std::string &line) { ASSERT_EQ(write(toTool, line.data(), line.size()), ssize_t(line.size())); }

    // Waits until standard error holds text; false after the timeout.
    bool WaitFor(const std::string &text, milliseconds timeout = seconds(10))
    {
        const auto end = steady_clock::now() + timeout;
        while (err.find(text) == std::string::npos && steady_clock::now() < end) {
            pollfd ready{fromTool, POLLIN, 0};
            poll(&ready, 1, 20);
            char buffer[1024];
            for (ssize_t got; (got = read(fromTool, buffer, sizeof buffer)) > 0;)
                err.append(buffer, static_cast<size_t>(got));
        }
        return err.find(text) != std::string::npos;
    }

    // The exit status once it ended (within timeout), else -1.
    int Wait(milliseconds timeout = seconds(10))
    {
        const auto end = steady_clock::now() + timeout;
        int status = 0;
        while (steady_clock::now() < end) {
            WaitFor("\x01", milliseconds(20)); // keeps reading what it says
            if (waitpid(pid, &status, WNOHANG) == pid) {
                exited = true;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
        }
        return -1;
    }

    pid_t pid = -1;
    std::string err;

private:
    int toTool = -1;
    int fromTool = -1;
    bool exited = false;
};

// Plays samples into the feed sink, in real time, on a thread of its own.
std::thread Feed(const std::vector<int16_t> &samples)
{
    return std::thread([samples] {
        const pa_sample_spec spec{PA_SAMPLE_S16LE, Rate, 1};
        // A short buffer: the sink then plays (and its monitor records) in
        // short pieces, as a microphone delivers, not seconds at a time.
        const uint32_t bytes = Rate / 50 * 2;
        const pa_buffer_attr buffer{4 * bytes, 4 * bytes, bytes, bytes, static_cast<uint32_t>(-1)};
        int error = 0;
        pa_simple *stream = pa_simple_new(nullptr, "fx-live-test", PA_STREAM_PLAYBACK, FeedSink, "feed", &spec, nullptr,
                                          &buffer, &error);
        if (!stream)
            return;
        pa_simple_write(stream, samples.data(), samples.size() * 2, &error);
        pa_simple_drain(stream, &error);
        pa_simple_free(stream);
    });
}

class FxLive : public testing::Test {
protected:
    void SetUp() override
    {
        soundtest::ResetServer();
        folder = fs::temp_directory_path() / ("fx-live-" + std::to_string(getpid()));
        fs::create_directories(folder);
        LoadFeed();
        ASSERT_FALSE(modules.empty());
        defaults = Defaults();
    }
    void TearDown() override
    {
        for (auto module = modules.rbegin(); module != modules.rend(); ++module)
            soundtest::Pactl("unload-module " + *module);
        if (!std::getenv("FX_LIVE_KEEP")) // FX_LIVE_KEEP=1 keeps the files to look at
            fs::remove_all(folder);
    }

    // The test input: a sink to play the voice into, its monitor as a source.
    void LoadFeed()
    {
        modules.clear();
        for (const std::string &module :
             {std::string("module-null-sink sink_name=") + FeedSink + " format=s16le rate=22050 channels=1",
              std::string("module-remap-source source_name=") + FeedSource + " master=" + FeedSink +
                  ".monitor channels=1"}) {
            std::string index = soundtest::PactlOutput("load-module " + module);
            index.erase(index.find_last_not_of(" \n") + 1);
            ASSERT_FALSE(index.empty()) << module;
            modules.push_back(index);
        }
        ASSERT_TRUE(soundtest::WaitUntilListed("sources", FeedSource));
    }

    static std::string Defaults() { return soundtest::DefaultSink() + " " + soundtest::DefaultSource(); }

    std::string Path(const char *name) const { return (folder / name).string(); }

    fs::path folder;
    std::string defaults;
    std::vector<std::string> modules;
};

TEST_F(FxLive, WhatGoesOutIsTheClipPathOverWhatCameInBeforeAndAfterAChange)
{
    LiveTool live({"--live", "--robot", "--pitch", "3", "--input", FeedSource, "--keep-input", Path("in.wav"),
                   "--keep-output", Path("out.wav")});
    ASSERT_TRUE(live.WaitFor("speak now")) << live.err;
    ASSERT_TRUE(soundtest::WaitUntilListed("sources", VirtualMic));
    EXPECT_EQ(Defaults(), defaults) << "offering the virtual microphone changed a default";
    soundtest::Capture capture(VirtualMic);
    ASSERT_TRUE(capture.WaitUntilRunning(seconds(5)));
    // Half a second of silence, then the voice.
    std::vector<int16_t> voice(Rate / 2, 0);
    const std::vector<int16_t> glide = Glide(4 * Rate);
    voice.insert(voice.end(), glide.begin(), glide.end());
    std::thread feed = Feed(voice);
    std::this_thread::sleep_for(milliseconds(2000));
    live.Send("--echo\n");
    ASSERT_TRUE(live.WaitFor("the new effects from input sample ")) << live.err;
    feed.join();
    std::this_thread::sleep_for(milliseconds(500));
    const std::vector<int16_t> recorded = capture.Stop();
    kill(live.pid, SIGINT);
    ASSERT_EQ(live.Wait(), 0) << live.err;
    EXPECT_TRUE(soundtest::WaitUntilListed("sources", VirtualMic, false)) << "the virtual microphone stays";
    EXPECT_EQ(Defaults(), defaults);

    const std::vector<int16_t> in = Samples(Path("in.wav"));
    const std::vector<int16_t> out = Samples(Path("out.wav"));
    ASSERT_EQ(in.size(), out.size());
    ASSERT_GT(soundtest::FirstAbove(in, 1000), 0) << "the voice never came in";
    const size_t at = live.err.find("the new effects from input sample ");
    const auto changed = static_cast<size_t>(std::stoll(live.err.substr(at + 34)));
    livetesting::ExpectLiveOutput(in, out, changed, "--robot --pitch 3", "--echo", folder);

    // What "Glimmerbox Voice" carried is what went out, in order, nothing
    // repeated. PulseAudio carries it whole; PipeWire's graph on a loaded
    // machine now and then loses a cycle of up to 512 samples, which the
    // recording then lacks: at most four such gaps are let pass there.
    const long sent = soundtest::FirstAbove(out, 0);
    const long heard = soundtest::FirstAbove(recorded, 0);
    ASSERT_GE(sent, 0);
    ASSERT_GE(heard, 0) << "nothing reached the virtual microphone";
    size_t o = static_cast<size_t>(sent);
    size_t r = static_cast<size_t>(heard);
    int gaps = 0;
    size_t matched = 0;
    while (o < out.size() && r < recorded.size()) {
        if (recorded[r] == out[o]) {
            ++o, ++r, ++matched;
            continue;
        }
        // A gap: the recording goes on (after any silence) up to 512
        // samples further on in what went out.
        while (r < recorded.size() && recorded[r] == 0 && out[o] != 0)
            ++r;
        const size_t probe = std::min<size_t>(32, recorded.size() - r);
        size_t skip = 0;
        while (skip <= 512 && o + skip + probe <= out.size() &&
               !std::equal(recorded.begin() + static_cast<long>(r), recorded.begin() + static_cast<long>(r + probe),
                           out.begin() + static_cast<long>(o + skip)))
            ++skip;
        if (skip > 512 || o + skip + probe > out.size())
            break;
        o += skip;
        ++gaps;
    }
    EXPECT_GT(matched, size_t(4 * Rate)) << "the recording lost its way after " << matched << " samples";
    EXPECT_LE(gaps, soundtest::OnPipeWire() ? 4 : 0) << "gaps in what Glimmerbox Voice carried";
}

TEST_F(FxLive, WholeClipEffectsAndTheVirtualMicrophoneAsInputAreRefused)
{
    const struct {
        std::vector<std::string> Args;
        const char *Says;
    } rows[] = {
        {{"--live", "--backward", "--fade-in"}, "Live Voice cannot use Fade In, Backward: they need a recorded voice."},
        {{"--live", "--slow-monster"}, "Live Voice cannot use Slow Monster: it needs a recorded voice."},
        {{"--live", "--input", VirtualMic}, "Live Voice cannot record from Glimmerbox Voice itself."},
    };
    for (const auto &row : rows) {
        LiveTool live(row.Args);
        EXPECT_EQ(live.Wait(), 2);
        EXPECT_NE(live.err.find(row.Says), std::string::npos) << live.err;
    }
    EXPECT_EQ(Defaults(), defaults);
}

TEST_F(FxLive, TheServerGoingAwayStopsItWithAMessageAndItStartsAgainOnceTheServerIsBack)
{
    LiveTool live({"--live", "--robot", "--input", FeedSource});
    ASSERT_TRUE(live.WaitFor("speak now")) << live.err;
    const pid_t server = soundtest::ServerPid();
    ASSERT_GT(server, 0);
    kill(server, SIGKILL);
    EXPECT_EQ(live.Wait(seconds(10)), 1) << "it hangs, or ends as if nothing happened: " << live.err;
    EXPECT_NE(live.err.find("Live Voice stopped"), std::string::npos) << live.err;
    ASSERT_TRUE(soundtest::RestartServer());
    LoadFeed();
    LiveTool again({"--live", "--robot", "--input", FeedSource});
    ASSERT_TRUE(again.WaitFor("speak now")) << again.err;
    EXPECT_TRUE(soundtest::WaitUntilListed("sources", VirtualMic));
    kill(again.pid, SIGTERM);
    EXPECT_EQ(again.Wait(), 0) << again.err;
    EXPECT_TRUE(soundtest::WaitUntilListed("sources", VirtualMic, false));
}

} // namespace
