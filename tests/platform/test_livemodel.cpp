// SPDX-License-Identifier: GPL-3.0-or-later
// The three sound libraries over one live picture of the private sound
// server: default devices that change while they run, a server that
// restarts, a server that stops answering, an input that goes away, and
// resets that must not leave streams behind or loop.
//
// Server: outputs glimmer_speaker (default), glimmer_headphones and the two
// tone sinks; inputs without ports, in the server's order: glimmer_line
// (default, 1000 Hz), glimmer_mic (440 Hz), glimmer_sine (660 Hz).
#include "platform/pavolume.h"
#include "platform/sqwaveplayer.h"
#include "platform/tmmixlib.h"
#include "platform/waveout.h"

#include "tests/platform/soundtest.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using soundtest::Clock;
using soundtest::MessageQueue;
using soundtest::OurPlaybackStreams;
using soundtest::Pactl;
using soundtest::PactlOutput;

namespace {

using soundtest::DefaultSink;
using soundtest::DefaultSource;

constexpr int32_t LineInput = 0;
constexpr int32_t MicInput = 1;
constexpr int32_t SineInput = 2;

// The raw server volume pactl reports for a device, e.g. "Volume: mono: 32767 / 50% / ...".
long RawVolume(const std::string &kind, const std::string &name)
{
    std::string text = PactlOutput("get-" + kind + "-volume " + name);
    size_t colon = text.find(':', text.find("Volume:") + 7);
    return colon == std::string::npos ? -1 : std::strtol(text.c_str() + colon + 1, nullptr, 10);
}

std::string SinkIndex(const std::string &name)
{
    std::istringstream lines(PactlOutput("list short sinks"));
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        std::string index, sink;
        fields >> index >> sink;
        if (sink == name) {
            return index;
        }
    }
    return "?";
}

// SIGSTOP while it lives, SIGCONT whatever happens to the test.
class StoppedServer {
public:
    explicit StoppedServer(pid_t pid) : pid_(pid) { stopped_ = pid_ > 0 && kill(pid_, SIGSTOP) == 0; }
    ~StoppedServer() { Resume(); }
    void Resume()
    {
        if (stopped_) {
            kill(pid_, SIGCONT);
            stopped_ = false;
        }
    }
    bool Stopped() const { return stopped_; }

private:
    pid_t pid_;
    bool stopped_ = false;
};

template <class Call> std::chrono::milliseconds Timed(Call call)
{
    Clock::time_point start = Clock::now();
    call();
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
}

std::string TempFile(const char *tag)
{
    return (std::filesystem::temp_directory_path() /
            ("glimmer-live-" + std::string(tag) + "-" + std::to_string(getpid()) + ".wav"))
        .string();
}

// The samples of a 16-bit mono WAVE file the recorder wrote, after checking
// that its header counts exactly what it holds.
std::vector<int16_t> RecordedSamples(const std::string &path)
{
    std::vector<unsigned char> bytes = soundtest::ReadFile(path);
    EXPECT_GE(bytes.size(), 44u);
    if (bytes.size() < 44) {
        return {};
    }
    uint32_t data = soundtest::LE32(bytes.data() + 40);
    EXPECT_EQ(soundtest::LE32(bytes.data() + 4), 36 + data + (data & 1));
    EXPECT_EQ(bytes.size(), 44 + data + (data & 1));
    std::vector<int16_t> samples(data / 2);
    std::memcpy(samples.data(), bytes.data() + 44, samples.size() * 2);
    return samples;
}

// What the program does at start: the mixer's start-up calls in their order.
int32_t StartLikeTheProgram(MessageQueue &queue)
{
    SetCallbackWindow(&queue, MessageQueue::Post);
    EXPECT_EQ(SelectOutputDevice(0), 0);
    EXPECT_EQ(SelectInputDevice(0), 0);
    int32_t input = GetMicrophoneSourceIndex();
    GetNumberOfInputSources();
    SelectInputSource(input);
    return input;
}

void CloseMixerLikeTheProgram()
{
    SetCallbackWindow(nullptr, nullptr);
    DeSelectOutputDevice();
    DeSelectInputDevice();
}

class LiveModelTest : public ::testing::Test {
protected:
    void SetUp() override { soundtest::ResetServer(); }
    void TearDown() override
    {
        CloseMixerLikeTheProgram();
        soundtest::ResetServer();
    }

    bool Posted(int32_t control, Clock::time_point since, std::chrono::milliseconds within = 2s)
    {
        return queue.WaitFor(MM_MIXM_CONTROL_CHANGE, control, since, within);
    }

    MessageQueue queue;
};

// Start-up ----------------------------------------------------------------------

TEST_F(LiveModelTest, StartingLikeTheProgramChangesNothingOnTheServer)
{
    // Whatever input is in use is the one shown, named like a microphone or
    // not; neither default moves.
    const struct {
        const char *Source;
        int32_t Input;
    } cases[] = {{"glimmer_line", LineInput}, {"glimmer_mic", MicInput}, {"glimmer_sine", SineInput}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Source);
        ASSERT_EQ(Pactl("set-default-sink glimmer_headphones"), 0);
        ASSERT_EQ(Pactl(std::string("set-default-source ") + c.Source), 0);
        // PipeWire's session manager makes the change after pactl returns.
        ASSERT_TRUE(soundtest::Eventually([&c] { return DefaultSource() == c.Source; }, 5s));
        EXPECT_EQ(StartLikeTheProgram(queue), c.Input);
        EXPECT_TRUE(IsCurrentInputSourceSelected(c.Input));
        std::this_thread::sleep_for(200ms);
        EXPECT_EQ(DefaultSource(), c.Source);
        EXPECT_EQ(DefaultSink(), "glimmer_headphones");
        CloseMixerLikeTheProgram();
    }
}

// Default devices that change -------------------------------------------------------

TEST_F(LiveModelTest, ANewDefaultOutputMovesThePlayVolumeAndPlayback)
{
    StartLikeTheProgram(queue);
    ASSERT_EQ(Pactl("set-sink-volume glimmer_headphones 19661"), 0); // 30 %
    std::this_thread::sleep_for(200ms);
    queue.Clear();
    Clock::time_point since = Clock::now();
    ASSERT_EQ(Pactl("set-default-sink glimmer_headphones"), 0);
    ASSERT_TRUE(Posted(MIXER_OUTPUT_VOLUME_ID, since));

    // The slider reads and sets the new default; the old one is left alone.
    int32_t volumes[2] = {};
    ASSERT_EQ(GetCurrentOutputVolSetting(2, volumes), 0);
    EXPECT_EQ(volumes[0], platform::FromServerVolume(19661));
    int32_t louder = 40000;
    ASSERT_EQ(SetCurrentOutputVolSetting(1, &louder), 0);
    EXPECT_EQ(RawVolume("sink", "glimmer_headphones"), platform::ToServerVolume(40000));
    EXPECT_EQ(RawVolume("sink", "glimmer_speaker"), 65536);

    // Play goes to the new default too.
    HWAVEOUT device = nullptr;
    WAVEFORMATEX format{WAVE_FORMAT_PCM, 1, 22050, 44100, 2, 16, 0};
    ASSERT_EQ(waveOutOpen(&device, WAVE_MAPPER, &format, nullptr, nullptr, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    std::vector<std::string> streams = OurPlaybackStreams();
    ASSERT_EQ(streams.size(), 1u);
    EXPECT_EQ(streams[0], SinkIndex("glimmer_headphones"));
    EXPECT_EQ(waveOutClose(device), MMSYSERR_NOERROR);
}

TEST_F(LiveModelTest, ANewDefaultInputMovesTheInputAndWhatIsRecorded)
{
    ASSERT_EQ(StartLikeTheProgram(queue), LineInput);
    ASSERT_EQ(Pactl("set-source-volume glimmer_mic 30000"), 0);
    std::this_thread::sleep_for(200ms);
    queue.Clear();
    Clock::time_point since = Clock::now();
    ASSERT_EQ(Pactl("set-default-source glimmer_mic"), 0);
    ASSERT_TRUE(Posted(MIXER_SOURCE_SELECT_ID, since));
    ASSERT_TRUE(Posted(MIXER_INPUT_VOLUME_ID, since));

    // As the program follows the notice: the input marked selected, its
    // volume, and a recording from it.
    EXPECT_FALSE(IsCurrentInputSourceSelected(LineInput));
    EXPECT_TRUE(IsCurrentInputSourceSelected(MicInput));
    int32_t volume = 0;
    ASSERT_EQ(GetCurrentInputVolSetting(1, &volume), 0);
    EXPECT_EQ(volume, platform::FromServerVolume(30000));
    EXPECT_EQ(SelectInputSource(MicInput), 0); // what the program does: nothing changes
    EXPECT_EQ(DefaultSource(), "glimmer_mic");

    std::string path = TempFile("default");
    ASSERT_EQ(AudioStartRecord(path.c_str(), 22050, 16, 1, MicInput), 0);
    std::this_thread::sleep_for(600ms);
    ASSERT_EQ(AudioStopRecord(), 0);
    std::vector<int16_t> samples = RecordedSamples(path);
    std::filesystem::remove(path);
    ASSERT_GT(samples.size(), 4410u);
    EXPECT_NEAR(soundtest::Frequency(samples, 0, samples.size(), 22050), 440, 5);
}

// A server that restarts -------------------------------------------------------------

TEST_F(LiveModelTest, AfterARestartChangesArePostedWithoutAMixerCall)
{
    StartLikeTheProgram(queue);
    int32_t volume = 30000;
    ASSERT_EQ(SetCurrentOutputVolSetting(1, &volume), 0);
    std::this_thread::sleep_for(300ms);
    queue.Clear();

    // The new server starts at 100 %: posted once it is back, with no call.
    Clock::time_point since = Clock::now();
    ASSERT_TRUE(soundtest::RestartServer());
    ASSERT_TRUE(Posted(MIXER_OUTPUT_VOLUME_ID, since, 3s));
    int32_t volumes[2] = {};
    ASSERT_EQ(GetCurrentOutputVolSetting(2, volumes), 0);
    EXPECT_EQ(volumes[0], 65535);

    // And changes go on being posted.
    since = Clock::now();
    ASSERT_EQ(Pactl("set-sink-volume glimmer_speaker 26214"), 0); // 40 %
    ASSERT_TRUE(Posted(MIXER_OUTPUT_VOLUME_ID, since));
    ASSERT_EQ(GetCurrentOutputVolSetting(2, volumes), 0);
    EXPECT_EQ(volumes[0], platform::FromServerVolume(26214));
}

// A recording whose input goes away ----------------------------------------------------

TEST_F(LiveModelTest, ARecordingEndsWithWhatItHasWhenItsInputOrTheServerGoes)
{
    // The mic's module is unloaded mid-recording (an unplugged microphone),
    // then the whole server restarts mid-recording.
    std::string micModule;
    {
        std::istringstream lines(PactlOutput("list short modules"));
        for (std::string line; std::getline(lines, line);) {
            if (line.find("source_name=glimmer_mic") != std::string::npos) {
                micModule = line.substr(0, line.find_first_of(" \t"));
            }
        }
    }
    ASSERT_FALSE(micModule.empty());
    const struct {
        const char *Name;
        int32_t Input;
        bool Restart;
    } cases[] = {{"input removed", MicInput, false}, {"server restarted", LineInput, true}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Name);
        std::string path = TempFile("lost");
        ASSERT_EQ(AudioStartRecord(path.c_str(), 22050, 16, 1, static_cast<uint16_t>(c.Input)), 0);
        EXPECT_EQ(AudioGetRecordState(), RECORD_STATE_RUNNING);
        std::this_thread::sleep_for(700ms);
        if (c.Restart) {
            ASSERT_TRUE(soundtest::RestartServer());
        } else {
            ASSERT_EQ(Pactl("unload-module " + micModule), 0);
        }
        Clock::time_point giveUp = Clock::now() + 3s;
        while (AudioGetRecordState() == RECORD_STATE_RUNNING && Clock::now() < giveUp) {
            std::this_thread::sleep_for(20ms);
        }
        EXPECT_EQ(AudioGetRecordState(), RECORD_STATE_ENDED);
        // The file is finished and stays as it is: nothing from another input.
        std::vector<int16_t> samples = RecordedSamples(path);
        std::this_thread::sleep_for(500ms);
        EXPECT_EQ(RecordedSamples(path).size(), samples.size());
        EXPECT_EQ(AudioStopRecord(), 0);
        EXPECT_EQ(AudioGetRecordState(), RECORD_STATE_IDLE);
        std::filesystem::remove(path);
        // Most of the 700 ms before the loss (less what a PipeWire server
        // loses at the start), all of it the recorded input.
        const size_t lost = static_cast<size_t>(soundtest::RecordingStartLoss() * 22050);
        ASSERT_GE(samples.size(), 22050u * 6 / 10 - lost);
        double expected = c.Input == MicInput ? 440 : 1000;
        // (A server may fill the moment before the end with silence: only
        // the sound counts, and it must all be the input's.)
        long from = soundtest::FirstAbove(samples, 1000);
        long to = soundtest::LastAbove(samples, 1000);
        ASSERT_GE(from, 0);
        ASSERT_GT(to - from, 11025);
        EXPECT_NEAR(soundtest::Frequency(samples, static_cast<size_t>(from), static_cast<size_t>(to - from), 22050),
                    expected, expected / 100);
    }
    if (PactlOutput("list short sources").find("glimmer_mic") == std::string::npos) {
        Pactl("load-module module-remap-source source_name=glimmer_mic master=glimmer_tone440.monitor channels=1 "
              "source_properties=device.description=Glimmer-Mic");
    }
}

// A server that stops answering ---------------------------------------------------------

TEST_F(LiveModelTest, AStoppedServerHoldsUpOneCallForItsBoundAndTheNextNotAtAll)
{
    StartLikeTheProgram(queue);
    int32_t volume = 50000;
    ASSERT_EQ(SetCurrentOutputVolSetting(1, &volume), 0);
    {
        StoppedServer stopped(soundtest::ServerPid());
        ASSERT_TRUE(stopped.Stopped());
        // Five slider steps: the first waits its bound, the rest fail at once.
        std::chrono::milliseconds first{}, all{};
        all = Timed([&] {
            for (int step = 0; step < 5; step++) {
                int32_t v = 40000 - step * 1000;
                std::chrono::milliseconds took = Timed([&] { EXPECT_EQ(SetCurrentOutputVolSetting(1, &v), 6); });
                if (step == 0) {
                    first = took;
                }
            }
        });
        EXPECT_LE(first.count(), 1500);
        EXPECT_LE(all.count(), 2000);
        // Reads answer from what is known, and the other libraries give up
        // at once too.
        EXPECT_LE(Timed([] {
                      int32_t v = 0;
                      EXPECT_EQ(GetCurrentOutputVolSetting(1, &v), 0);
                      EXPECT_EQ(v, 50000);
                  }).count(),
                  200);
        HWAVEOUT device = nullptr;
        WAVEFORMATEX format{WAVE_FORMAT_PCM, 1, 22050, 44100, 2, 16, 0};
        std::string path = TempFile("stopped");
        EXPECT_LE(Timed([&] {
                      EXPECT_EQ(waveOutOpen(&device, WAVE_MAPPER, &format, nullptr, nullptr, 0, CALLBACK_NULL),
                                static_cast<MMRESULT>(MMSYSERR_NODRIVER));
                      EXPECT_EQ(AudioStartRecord(path.c_str(), 22050, 16, 1, 0), RECORD_ERROR_DEVICE);
                  }).count(),
                  200);
        std::filesystem::remove(path);
    }
    // Running again: the server answers the model's question at once, and
    // the next call reaches it.
    std::this_thread::sleep_for(300ms);
    volume = 20000;
    EXPECT_EQ(SetCurrentOutputVolSetting(1, &volume), 0);
    EXPECT_EQ(RawVolume("sink", "glimmer_speaker"), platform::ToServerVolume(20000));
}

// A playback whose server stops answering once it has everything still
// ends: its block comes back within the clip's length and a bit more, not
// never, and the next device plays once the server runs again.
TEST_F(LiveModelTest, APlaybackEndsThoughItsServerStopsAnsweringAfterTakingEverything)
{
    std::vector<int16_t> clip(22050 * 3 / 10, 3000); // 0.3 s
    WAVEHDR header{};
    header.lpData = reinterpret_cast<char *>(clip.data());
    header.dwBufferLength = static_cast<uint32_t>(clip.size() * 2);
    WAVEFORMATEX format{WAVE_FORMAT_PCM, 1, 22050, 44100, 2, 16, 0};
    HWAVEOUT device = nullptr;
    ASSERT_EQ(waveOutOpen(&device, WAVE_MAPPER, &format, nullptr, nullptr, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    ASSERT_EQ(waveOutPrepareHeader(device, &header, sizeof header), MMSYSERR_NOERROR);
    ASSERT_EQ(waveOutWrite(device, &header, sizeof header), MMSYSERR_NOERROR);
    std::this_thread::sleep_for(100ms); // the stream's buffer holds the whole clip by now
    {
        StoppedServer stopped(soundtest::ServerPid());
        ASSERT_TRUE(stopped.Stopped());
        // 0.3 s of clip, the stream's quarter second and the one-second
        // backstop: done well within 3 s.
        EXPECT_TRUE(soundtest::Eventually(
            [&] { return (std::atomic_ref<uint32_t>(header.dwFlags).load() & WHDR_DONE) != 0; }, 3s));
    }
    waveOutUnprepareHeader(device, &header, sizeof header);
    waveOutClose(device);
    std::this_thread::sleep_for(300ms);
    header.dwFlags = 0;
    ASSERT_EQ(waveOutOpen(&device, WAVE_MAPPER, &format, nullptr, nullptr, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    ASSERT_EQ(waveOutPrepareHeader(device, &header, sizeof header), MMSYSERR_NOERROR);
    ASSERT_EQ(waveOutWrite(device, &header, sizeof header), MMSYSERR_NOERROR);
    EXPECT_TRUE(
        soundtest::Eventually([&] { return (std::atomic_ref<uint32_t>(header.dwFlags).load() & WHDR_DONE) != 0; }, 5s));
    waveOutUnprepareHeader(device, &header, sizeof header);
    EXPECT_EQ(waveOutClose(device), MMSYSERR_NOERROR);
}

} // namespace
