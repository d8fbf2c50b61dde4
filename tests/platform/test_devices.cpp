// SPDX-License-Identifier: GPL-3.0-or-later
// How the server's sinks, sources and ports become devices and recording
// inputs. The test server has no ports, so port cases are built here.
#include "platform/pavolume.h"
#include "platform/pulsedevices.h"

#include <gtest/gtest.h>

using platform::DeviceInfo;
using platform::ServerSnapshot;

namespace {

DeviceInfo Source(const std::string &name, const std::string &description, bool monitor = false)
{
    DeviceInfo device;
    device.Name = name;
    device.Description = description;
    device.IsMonitor = monitor;
    return device;
}

// A sound card: monitor, analog input with three ports (line active), and a
// USB microphone without ports.
ServerSnapshot Card()
{
    ServerSnapshot snapshot;
    DeviceInfo output;
    output.Name = "analog-out";
    DeviceInfo hdmi;
    hdmi.Name = "hdmi-out";
    snapshot.Sinks = {hdmi, output};
    snapshot.DefaultSink = "analog-out";
    DeviceInfo analog = Source("analog-in", "Built-in Audio Analog Stereo");
    analog.Ports = {{"analog-input-linein", "Line In", false},
                    {"analog-input-front-mic", "Front Microphone", true},
                    {"analog-input-rear-mic", "Rear Microphone", true}};
    analog.ActivePort = "analog-input-linein";
    snapshot.Sources = {Source("analog-out.monitor", "Monitor of Built-in Audio", true), analog,
                        Source("usb-mic", "USB Microphone")};
    snapshot.DefaultSource = "analog-in";
    return snapshot;
}

TEST(DevicesTest, OutputsAreTheSinksWithTheDefaultFirst)
{
    ServerSnapshot snapshot = Card();
    auto outputs = platform::OutputDevices(snapshot);
    ASSERT_EQ(outputs.size(), 2u);
    EXPECT_EQ(outputs[0]->Name, "analog-out");
    EXPECT_EQ(outputs[1]->Name, "hdmi-out");
}

TEST(DevicesTest, InputDevicesLeaveOutMonitors)
{
    ServerSnapshot snapshot = Card();
    snapshot.DefaultSource = "usb-mic";
    auto inputs = platform::InputDevices(snapshot);
    ASSERT_EQ(inputs.size(), 2u);
    EXPECT_EQ(inputs[0]->Name, "usb-mic");
    EXPECT_EQ(inputs[1]->Name, "analog-in");
}

TEST(DevicesTest, InputsAreThePortsOfTheCurrentDevice)
{
    platform::RecordingInputs inputs = platform::ListRecordingInputs(Card(), "");
    EXPECT_EQ(inputs.PortOwner, "analog-in");
    EXPECT_EQ(inputs.Names,
              (std::vector<std::string>{"analog-input-linein", "analog-input-front-mic", "analog-input-rear-mic"}));
    EXPECT_EQ(inputs.Descriptions, (std::vector<std::string>{"Line In", "Front Microphone", "Rear Microphone"}));
    EXPECT_EQ(inputs.Selected, 0);
    // The input to start from is the one in use, microphone or not: starting
    // the program must not switch the card's input.
    EXPECT_EQ(inputs.Microphone, 0);
}

TEST(DevicesTest, ASelectedDeviceWithoutPortsListsTheInputDevicesInServerOrder)
{
    ServerSnapshot snapshot = Card();
    platform::RecordingInputs inputs = platform::ListRecordingInputs(snapshot, "usb-mic");
    EXPECT_TRUE(inputs.PortOwner.empty());
    EXPECT_EQ(inputs.Names, (std::vector<std::string>{"analog-in", "usb-mic"}));
    EXPECT_EQ(inputs.Descriptions, (std::vector<std::string>{"Built-in Audio Analog Stereo", "USB Microphone"}));
    EXPECT_EQ(inputs.Selected, 0); // analog-in is the default source
    EXPECT_EQ(inputs.Microphone, 0);

    // The numbers stay when the default moves.
    snapshot.DefaultSource = "usb-mic";
    inputs = platform::ListRecordingInputs(snapshot, "usb-mic");
    EXPECT_EQ(inputs.Names, (std::vector<std::string>{"analog-in", "usb-mic"}));
    EXPECT_EQ(inputs.Selected, 1);
}

TEST(DevicesTest, TheInputToStartFromIsTheSelectedOneEvenBesideAMicrophone)
{
    ServerSnapshot snapshot;
    snapshot.Sources = {Source("line-a", "Line A"), Source("line-b", "Line B"), Source("line-c", "Line C")};
    snapshot.DefaultSource = "line-c";
    platform::RecordingInputs inputs = platform::ListRecordingInputs(snapshot, "");
    EXPECT_EQ(inputs.Selected, 2);
    EXPECT_EQ(inputs.Microphone, 2);

    snapshot.Sources[1].IsMicrophone = true;
    EXPECT_EQ(platform::ListRecordingInputs(snapshot, "").Microphone, 2);
    // Only with nothing selected does a microphone come first.
    snapshot.DefaultSource = "";
    EXPECT_EQ(platform::ListRecordingInputs(snapshot, "").Microphone, 1);
}

TEST(DevicesTest, AMonitorAsDefaultSelectsNoInput)
{
    ServerSnapshot snapshot;
    snapshot.Sources = {Source("out.monitor", "Monitor", true), Source("line", "Line")};
    snapshot.DefaultSource = "out.monitor";
    platform::RecordingInputs inputs = platform::ListRecordingInputs(snapshot, "out.monitor");
    EXPECT_EQ(inputs.Names, std::vector<std::string>{"line"});
    EXPECT_EQ(inputs.Selected, -1);
    EXPECT_EQ(inputs.Microphone, 0);
    EXPECT_EQ(platform::CurrentInputDevice(snapshot, "out.monitor")->Name, "line");
}

TEST(DevicesTest, NoSourcesNoInputs)
{
    ServerSnapshot snapshot;
    platform::RecordingInputs inputs = platform::ListRecordingInputs(snapshot, "");
    EXPECT_TRUE(inputs.Names.empty());
    EXPECT_EQ(inputs.Selected, -1);
    EXPECT_EQ(inputs.Microphone, 0);
    EXPECT_EQ(platform::CurrentInputDevice(snapshot, ""), nullptr);
}

TEST(VolumeTest, EveryMixerVolumeSurvivesTheRoundTrip)
{
    for (int32_t v = 0; v <= 65535; v++) {
        ASSERT_EQ(platform::FromServerVolume(platform::ToServerVolume(v)), v) << v;
    }
}

TEST(VolumeTest, EndsAndMiddleMapAsComputedByHand)
{
    // server = round(v * 65536 / 65535), mixer = round(s * 65535 / 65536).
    EXPECT_EQ(platform::ToServerVolume(0), 0u);
    EXPECT_EQ(platform::ToServerVolume(65535), PA_VOLUME_NORM);
    EXPECT_EQ(platform::ToServerVolume(32767), 32767u);  // 32767.49999
    EXPECT_EQ(platform::ToServerVolume(32768), 32769u);  // 32768.50001
    EXPECT_EQ(platform::FromServerVolume(32768), 32768); // 32767.5: the half goes to the even side
    EXPECT_EQ(platform::FromServerVolume(PA_VOLUME_NORM), 65535);
    // Louder than 100 % reads as full; out-of-range settings are clamped.
    EXPECT_EQ(platform::FromServerVolume(PA_VOLUME_NORM * 3 / 2), 65535);
    EXPECT_EQ(platform::ToServerVolume(70000), PA_VOLUME_NORM);
    EXPECT_EQ(platform::ToServerVolume(-5), 0u);
}

// A desktop's built-in card as PulseAudio lists it (`pactl list sources`,
// an HDA codec with front and rear jacks): one analog input with four ports,
// whose availability follows what is plugged in.
ServerSnapshot DesktopCard(const std::string &activePort, std::vector<bool> plugged)
{
    ServerSnapshot snapshot;
    DeviceInfo analog = Source("alsa_input.pci-0000_00_1f.3.analog-stereo", "Built-in Audio Analog Stereo");
    analog.Ports = {{"analog-input-front-mic", "Front Microphone", true, plugged[0]},
                    {"analog-input-rear-mic", "Rear Microphone", true, plugged[1]},
                    {"analog-input-linein", "Line In", false, plugged[2]},
                    {"analog-input-headset-mic", "Headset Microphone", true, plugged[3]}};
    analog.ActivePort = activePort;
    snapshot.Sources = {
        Source("alsa_output.pci-0000_00_1f.3.analog-stereo.monitor", "Monitor of Built-in Audio Analog Stereo", true),
        analog};
    snapshot.DefaultSource = analog.Name;
    return snapshot;
}

TEST(DevicesTest, OnARealCardTheInputToStartFromIsTheActivePortAndNeverAnUnpluggedOne)
{
    const struct {
        const char *What;
        const char *ActivePort;
        std::vector<bool> Plugged; // front mic, rear mic, line, headset
        int Selected;
        int Microphone;
    } cases[] = {
        // The user records from the rear jack; the front one is empty.
        {"rear microphone in use", "analog-input-rear-mic", {false, true, false, false}, 1, 1},
        // A headset: its microphone stays, though front and rear come first.
        {"headset in use", "analog-input-headset-mic", {false, false, false, true}, 3, 3},
        // Line in use with a microphone plugged in: still the line.
        {"line in use", "analog-input-linein", {true, false, true, false}, 2, 2},
        // No active port known: the first microphone that is plugged in.
        {"no active port", "", {false, true, false, true}, -1, 1},
        // Nothing plugged, nothing active: the first input.
        {"nothing plugged", "", {false, false, false, false}, -1, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.What);
        platform::RecordingInputs inputs = platform::ListRecordingInputs(DesktopCard(c.ActivePort, c.Plugged), "");
        EXPECT_EQ(inputs.PortOwner, "alsa_input.pci-0000_00_1f.3.analog-stereo");
        ASSERT_EQ(inputs.Names.size(), 4u);
        EXPECT_EQ(inputs.Descriptions[3], "Headset Microphone");
        EXPECT_EQ(inputs.Selected, c.Selected);
        EXPECT_EQ(inputs.Microphone, c.Microphone);
    }
}

} // namespace
