// SPDX-License-Identifier: GPL-3.0-or-later
// The mixer against the private sound server: outputs glimmer_speaker
// (default), glimmer_headphones and the two tone sinks; inputs, which have
// no ports, glimmer_line (default source, 1000 Hz), glimmer_mic (440 Hz)
// and glimmer_sine (660 Hz).
#include "platform/sqwaveplayer.h"
#include "platform/tmmixlib.h"

#include "tests/platform/soundtest.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <thread>

using namespace std::chrono_literals;
using soundtest::Clock;
using soundtest::MessageQueue;
using soundtest::PactlOutput;

namespace {

constexpr int32_t LineInput = 0;
constexpr int32_t MicInput = 1;

std::string Description(int32_t index)
{
    char buffer[MIXER_DESCRIPTION_SIZE];
    std::memset(buffer, 'x', sizeof buffer);
    GetInputSourceDescription(index, buffer);
    return std::string(buffer);
}

// The raw server volume pactl reports for a device, e.g. "Volume: mono: 32767 / 50% / ...".
long RawVolume(const std::string &kind, const std::string &name)
{
    std::string text = PactlOutput("get-" + kind + "-volume " + name);
    size_t colon = text.find(':', text.find("Volume:") + 7);
    return colon == std::string::npos ? -1 : std::strtol(text.c_str() + colon + 1, nullptr, 10);
}

class MixerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        soundtest::ResetServer();
        SetCallbackWindow(&queue, MessageQueue::Post);
        ASSERT_EQ(SelectOutputDevice(0), 0);
        ASSERT_EQ(SelectInputDevice(0), 0);
        // The mixer reads what it has heard from the server: wait until it
        // has heard of the reset.
        ASSERT_TRUE(soundtest::Eventually([] {
            int32_t volume = 0;
            return GetNumberOfInputSources() == 3 && IsCurrentInputSourceSelected(LineInput) &&
                   GetCurrentOutputVolSetting(1, &volume) == 0 && volume == 65535;
        }));
        queue.Clear();
    }
    void TearDown() override
    {
        SetCallbackWindow(nullptr, nullptr);
        DeSelectOutputDevice();
        DeSelectInputDevice();
        soundtest::ResetServer();
    }

    // True when a change of control arrives within a second of `since`.
    bool Changed(int32_t control, Clock::time_point since)
    {
        return queue.WaitFor(MM_MIXM_CONTROL_CHANGE, control, since, 1s);
    }

    MessageQueue queue;
};

TEST_F(MixerTest, CountsAndNamesTheServersDevicesAndInputs)
{
    // The PipeWire server has no sine source: its third tone input needs a
    // sink of its own to be played into, one output more.
    const int32_t outputs = soundtest::OnPipeWire() ? 5 : 4;
    EXPECT_EQ(GetNumberOfOutputDevices(), outputs);
    EXPECT_EQ(GetNumberOfInputDevices(), 3) << "monitors are not input devices";
    EXPECT_EQ(SelectOutputDevice(outputs - 1), 0);
    EXPECT_EQ(SelectOutputDevice(outputs), MIXER_ERROR_BADINDEX);
    EXPECT_EQ(SelectOutputDevice(-1), MIXER_ERROR_BADINDEX);
    EXPECT_EQ(SelectInputDevice(1), 0);
    EXPECT_EQ(SelectInputDevice(3), MIXER_ERROR_BADINDEX);

    EXPECT_EQ(GetNumberOfInputSources(), 3);
    // The input to start from is the one in use (the default, line), though
    // another is named like a microphone.
    EXPECT_EQ(GetMicrophoneSourceIndex(), LineInput);
    EXPECT_EQ(Description(LineInput), "Glimmer-Line");
    EXPECT_EQ(Description(MicInput), "Glimmer-Mic");
    EXPECT_EQ(Description(2), "Glimmer-Sine");
    EXPECT_EQ(Description(3), "");
    EXPECT_EQ(GetInputSourceDescription(2, nullptr), MIXER_ERROR_PARAM);
    EXPECT_TRUE(IsMixerMuxType());
    EXPECT_FALSE(IsMixerMixerType());

    int32_t ids[4] = {-1, -1, -1, -1};
    GetVolumeIDs(&ids[0], &ids[1], &ids[2], &ids[3]);
    EXPECT_EQ(ids[0], MIXER_OUTPUT_VOLUME_ID);
    EXPECT_EQ(ids[1], MIXER_INPUT_VOLUME_ID);
    EXPECT_EQ(ids[2], MIXER_SOURCE_SELECT_ID);
    EXPECT_EQ(ids[3], MIXER_INPUT_LINE_ID);
    GetVolumeIDs(nullptr, nullptr, nullptr, nullptr);
}

// A name longer than the buffer is cut at a whole character: the buffer
// never ends in the first byte of a two-byte UTF-8 character.
TEST_F(MixerTest, ALongNameIsCutBeforeACharacterItCannotHoldWhole)
{
    std::string name;
    for (int i = 0; i < 200; i++) {
        name += "\xc3\xa9"; // e acute, two bytes
    }
    std::string module = PactlOutput("load-module module-remap-source source_name=glimmer_long "
                                     "master=glimmer_speaker.monitor channels=1 source_properties=device.description=" +
                                     name);
    module = module.substr(0, module.find_first_not_of("0123456789"));
    ASSERT_FALSE(module.empty());
    ASSERT_TRUE(soundtest::WaitUntilListed("sources", "glimmer_long"));
    // The library learns of it from the server's report.
    ASSERT_TRUE(soundtest::Eventually([] { return GetNumberOfInputSources() == 4; }));
    // 255 bytes fit before the zero: 127 whole characters, 254 bytes.
    EXPECT_EQ(Description(3), name.substr(0, 254));
    ASSERT_EQ(soundtest::Pactl("unload-module " + module), 0);
    ASSERT_TRUE(soundtest::WaitUntilListed("sources", "glimmer_long", false));
    EXPECT_TRUE(soundtest::Eventually([] { return GetNumberOfInputSources() == 3; }));
}

TEST_F(MixerTest, SelectingAnInputMakesItTheServersRecordingSource)
{
    EXPECT_TRUE(IsCurrentInputSourceSelected(LineInput));
    EXPECT_FALSE(IsCurrentInputSourceSelected(MicInput));
    ASSERT_EQ(SelectInputSource(MicInput), 0);
    EXPECT_FALSE(IsCurrentInputSourceSelected(LineInput));
    EXPECT_TRUE(IsCurrentInputSourceSelected(MicInput));
    EXPECT_EQ(PactlOutput("get-default-source"), "glimmer_mic\n");
    EXPECT_EQ(SelectInputSource(3), MIXER_ERROR_BADINDEX);
    EXPECT_FALSE(IsCurrentInputSourceSelected(3));
    EXPECT_FALSE(IsCurrentInputSourceSelected(-1));
}

TEST_F(MixerTest, VolumesReadBackAsSetAndReachTheServer)
{
    // Server volume = round(v * 65536 / 65535), worked out by hand.
    const struct {
        int32_t Volume;
        long Server;
    } cases[] = {{0, 0}, {1, 1}, {257, 257}, {32767, 32767}, {32768, 32769}, {65534, 65535}, {65535, 65536}};
    ASSERT_EQ(SelectInputSource(MicInput), 0);
    for (const auto &c : cases) {
        ASSERT_EQ(SetCurrentOutputVolSetting(1, &c.Volume), 0);
        int32_t both[2] = {-1, -1};
        ASSERT_EQ(GetCurrentOutputVolSetting(2, both), 0);
        EXPECT_EQ(both[0], c.Volume);
        EXPECT_EQ(both[1], c.Volume) << "a mono output reads the same on both sides";
        EXPECT_EQ(RawVolume("sink", "glimmer_speaker"), c.Server) << c.Volume;

        ASSERT_EQ(SetCurrentInputVolSetting(1, &c.Volume), 0);
        int32_t input = -1;
        ASSERT_EQ(GetCurrentInputVolSetting(1, &input), 0);
        EXPECT_EQ(input, c.Volume);
        EXPECT_EQ(RawVolume("source", "glimmer_mic"), c.Server) << c.Volume;
    }
    EXPECT_EQ(RawVolume("source", "glimmer_line"), 65536) << "only the selected input changes";

    int32_t unused = 0;
    EXPECT_EQ(GetCurrentOutputVolSetting(0, &unused), MIXER_ERROR_PARAM);
    EXPECT_EQ(GetCurrentInputVolSetting(1, nullptr), MIXER_ERROR_PARAM);
    EXPECT_EQ(SetCurrentOutputVolSetting(-1, &unused), MIXER_ERROR_PARAM);
}

TEST_F(MixerTest, TheSelectedOutputDeviceIsTheOneThatChanges)
{
    ASSERT_EQ(SelectOutputDevice(1), 0); // the headphones
    int32_t volume = 1000;
    ASSERT_EQ(SetCurrentOutputVolSetting(1, &volume), 0);
    EXPECT_EQ(RawVolume("sink", "glimmer_headphones"), 1000);
    EXPECT_EQ(RawVolume("sink", "glimmer_speaker"), 65536);
    ASSERT_EQ(DeSelectOutputDevice(), 0);
    // Back to the default output.
    int32_t both[2];
    ASSERT_EQ(GetCurrentOutputVolSetting(2, both), 0);
    EXPECT_EQ(both[0], 65535);
}

TEST_F(MixerTest, ChangesMadeByAnotherProgramArePostedWithTheirControl)
{
    Clock::time_point since = Clock::now();
    ASSERT_EQ(soundtest::Pactl("set-sink-volume glimmer_speaker 26214"), 0);
    EXPECT_TRUE(Changed(MIXER_OUTPUT_VOLUME_ID, since));
    int32_t both[2];
    GetCurrentOutputVolSetting(2, both);
    EXPECT_EQ(both[0], 26214); // round(26214 * 65535 / 65536) = round(26213.6)

    since = Clock::now();
    ASSERT_EQ(soundtest::Pactl("set-default-source glimmer_mic"), 0);
    EXPECT_TRUE(Changed(MIXER_SOURCE_SELECT_ID, since));
    // The new input's volume is posted with it: wait for that notice, so
    // that the next one is the volume change's own.
    EXPECT_TRUE(Changed(MIXER_INPUT_VOLUME_ID, since));
    EXPECT_TRUE(IsCurrentInputSourceSelected(MicInput));

    since = Clock::now();
    ASSERT_EQ(soundtest::Pactl("set-source-volume glimmer_mic 19661"), 0);
    EXPECT_TRUE(Changed(MIXER_INPUT_VOLUME_ID, since));
    int32_t input = 0;
    EXPECT_TRUE(soundtest::Eventually([&] {
        GetCurrentInputVolSetting(1, &input);
        return input == 19661;
    })) << input;

    since = Clock::now();
    std::string module = PactlOutput(
        "load-module module-remap-source source_name=glimmer_extra master=glimmer_speaker.monitor channels=1");
    ASSERT_FALSE(module.empty());
    EXPECT_TRUE(Changed(MIXER_INPUT_LINE_ID, since));
    ASSERT_TRUE(soundtest::WaitUntilListed("sources", "glimmer_extra"));
    EXPECT_EQ(GetNumberOfInputSources(), 4);
    since = Clock::now();
    ASSERT_EQ(soundtest::Pactl("unload-module " + module), 0);
    EXPECT_TRUE(Changed(MIXER_INPUT_LINE_ID, since));
    ASSERT_TRUE(soundtest::WaitUntilListed("sources", "glimmer_extra", false));
    EXPECT_EQ(GetNumberOfInputSources(), 3);
}

TEST_F(MixerTest, ChangesToDevicesNotInUseAreNotPosted)
{
    queue.Clear();
    Clock::time_point since = Clock::now();
    // The headphones are not the selected output; the speaker is. The
    // server reports in order, so a post for the headphones would come first.
    ASSERT_EQ(soundtest::Pactl("set-sink-volume glimmer_headphones 30000"), 0);
    ASSERT_EQ(soundtest::Pactl("set-source-volume glimmer_mic 30000"), 0); // not the selected input
    ASSERT_EQ(soundtest::Pactl("set-sink-volume glimmer_speaker 30000"), 0);
    ASSERT_TRUE(Changed(MIXER_OUTPUT_VOLUME_ID, since));
    EXPECT_EQ(queue.All(MM_MIXM_CONTROL_CHANGE).size(), 1u);
}

TEST_F(MixerTest, OwnChangesArePostedToo)
{
    Clock::time_point since = Clock::now();
    int32_t volume = 40000;
    ASSERT_EQ(SetCurrentOutputVolSetting(1, &volume), 0);
    EXPECT_TRUE(Changed(MIXER_OUTPUT_VOLUME_ID, since));
    since = Clock::now();
    ASSERT_EQ(SelectInputSource(MicInput), 0);
    EXPECT_TRUE(Changed(MIXER_SOURCE_SELECT_ID, since));
}

// Records from an input the way the program does: select it, then start
// the recorder with its number. The frequency tells which input was heard.
double RecordedFrequency(int32_t input, std::chrono::milliseconds length)
{
    std::string path =
        (std::filesystem::temp_directory_path() / ("glimmer-mix-" + std::to_string(getpid()) + ".wav")).string();
    EXPECT_EQ(SelectInputSource(input), 0);
    EXPECT_EQ(AudioStartRecord(path.c_str(), 22050, 16, 1, static_cast<uint16_t>(input)), 0);
    std::this_thread::sleep_for(length);
    EXPECT_EQ(AudioStopRecord(), 0);
    std::vector<unsigned char> bytes = soundtest::ReadFile(path);
    std::filesystem::remove(path);
    EXPECT_GT(bytes.size(), 44u + 4410u);
    if (bytes.size() <= 44 + 4410) {
        return 0;
    }
    std::vector<int16_t> samples((bytes.size() - 44) / 2);
    std::memcpy(samples.data(), bytes.data() + 44, samples.size() * 2);
    return soundtest::Frequency(samples, 0, samples.size(), 22050);
}

TEST_F(MixerTest, SwitchingTheRecordingInputChangesWhatIsRecorded)
{
    EXPECT_NEAR(RecordedFrequency(LineInput, 600ms), 1000, 10);
    EXPECT_NEAR(RecordedFrequency(MicInput, 600ms), 440, 5);
    EXPECT_NEAR(RecordedFrequency(LineInput, 600ms), 1000, 10);
}

} // namespace
