// SPDX-License-Identifier: GPL-3.0-or-later
// What the sound server has: its sinks and sources, and the rules that turn
// them into the wave-out devices, the input devices and the recording inputs
// of the recorder and the mixer.
//
// Output devices are the sinks, input devices the sources that are not
// monitors; both lists put the server's default first and keep the server's
// order after it. The recording inputs are the ports of the current input
// device, or the input devices themselves (in the server's order, so that
// their numbers do not move when the default changes) when it has no ports.
// The current input device is the one the program chose, else the default
// source, else the first input device.
#pragma once

#include <pulse/pulseaudio.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace platform {

struct PortInfo {
    std::string Name;
    std::string Description;
    bool IsMicrophone = false;
    // False only when the server knows nothing is plugged into it.
    bool Available = true;
};

struct DeviceInfo {
    uint32_t Index = PA_INVALID_INDEX;
    std::string Name;
    std::string Description;
    bool IsMonitor = false;
    bool IsMicrophone = false;
    pa_cvolume Volume{};
    bool Mute = false;
    std::vector<PortInfo> Ports;
    std::string ActivePort;
};

struct ServerSnapshot {
    std::string DefaultSink;
    std::string DefaultSource;
    std::vector<DeviceInfo> Sinks;
    std::vector<DeviceInfo> Sources;
};

// The recording inputs as the mixer numbers them.
struct RecordingInputs {
    // The input device the inputs belong to (its ports), or empty when the
    // inputs are the input devices themselves.
    std::string PortOwner;
    std::vector<std::string> Names;        // port or source names
    std::vector<std::string> Descriptions; // what a user reads
    int Selected = -1;                     // the active port, or the default source
    // The input to start recording from: the one in use (Selected), else
    // the first microphone that is not known to be unplugged, else 0.
    int Microphone = 0;
};

std::vector<const DeviceInfo *> OutputDevices(const ServerSnapshot &snapshot);
std::vector<const DeviceInfo *> InputDevices(const ServerSnapshot &snapshot);
// The current input device (see above), or nullptr when there is none.
const DeviceInfo *CurrentInputDevice(const ServerSnapshot &snapshot, const std::string &selectedDevice);
RecordingInputs ListRecordingInputs(const ServerSnapshot &snapshot, const std::string &selectedDevice);
const DeviceInfo *FindDevice(const std::vector<DeviceInfo> &devices, const std::string &name);

// Where the list callbacks put what they read, and whom they tell when a
// list is complete.
struct SnapshotFill {
    ServerSnapshot *Target = nullptr;
    void (*PartDone)(void *owner) = nullptr;
    void *Owner = nullptr;
};

// The same on the event thread, without waiting: done() runs there once all
// three parts have arrived. The target and the operations must outlive the
// request; Cancel stops it.
class SnapshotRequest {
public:
    ~SnapshotRequest() { Cancel(); }
    void Start(pa_context *context, std::function<void()> done);
    void Cancel();
    bool Running() const { return pending_ > 0; }
    ServerSnapshot Result;

private:
    static void PartDone(void *self);
    SnapshotFill fill_;
    pa_operation *operations_[3]{};
    int pending_ = 0;
    std::function<void()> done_;
};

} // namespace platform
