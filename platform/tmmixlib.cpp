// SPDX-License-Identifier: GPL-3.0-or-later
// The mixer over the sound server's live model (platform/soundserver.h).
//
// Reads come from the model and never wait. Volume and input changes go to
// the server within the call's one bound and show in the model at once. For
// notifications the mixer keeps what the four controls showed in the last
// model it saw; each new model (the server's own changes, ours, a server
// that is back after a loss) is compared with it and the controls that
// differ are posted, from the event thread.
#include "platform/tmmixlib.h"

#include "platform/pavolume.h"
#include "platform/soundserver.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <vector>

using platform::DeviceInfo;
using platform::ModelEvent;
using platform::RecordingInputs;
using platform::ServerCall;
using platform::ServerSnapshot;
using platform::ServerState;
using platform::SoundServer;

static_assert(sizeof(bool) == 1, "the mixer's booleans are one byte");

namespace {

constexpr int32_t MaxChannels = 32;

// What the four controls showed in a model.
struct Controls {
    std::string OutputDevice;
    pa_cvolume OutputVolume{};
    std::string InputDevice;
    pa_cvolume InputVolume{};
    int Selected = -1;
    std::string PortOwner;
    std::vector<std::string> Inputs;
};

bool SameVolume(const pa_cvolume &a, const pa_cvolume &b)
{
    return pa_cvolume_equal(&a, &b) != 0;
}

class Mixer {
public:
    Mixer();
    ~Mixer();
    void SetWindow(void *window, PostMessageFn post);

    int32_t CountOutputs();
    int32_t SelectOutput(int32_t index);
    int32_t DeselectOutput();
    int32_t CountInputDevices();
    int32_t SelectInputDevice(int32_t index);
    int32_t DeselectInputDevice();

    int32_t MicrophoneIndex();
    int32_t CountInputs();
    int32_t SelectInput(int32_t index);
    int32_t Describe(int32_t index, char *buffer);
    bool IsSelected(int32_t index);

    int32_t GetVolume(bool input, int32_t channels, int32_t *volumes);
    int32_t SetVolume(bool input, int32_t channels, const int32_t *volumes);

private:
    // The output devices (sinks) or the input devices (sources that are not
    // monitors), the server's default first.
    using DeviceList = std::vector<const DeviceInfo *> (*)(const ServerSnapshot &);

    int32_t SelectDevice(DeviceList list, bool input, int32_t index);
    int32_t DeselectDevice(bool input);

    // The model; false when the server is gone (the model is then empty).
    bool Read(ServerSnapshot &snapshot);
    RecordingInputs Inputs(const ServerSnapshot &snapshot);
    const DeviceInfo *OutputDevice(const ServerSnapshot &snapshot);
    const DeviceInfo *RecordingSource(const ServerSnapshot &snapshot, const RecordingInputs &inputs);
    // The device whose volume is the record volume (input) or the play volume.
    const DeviceInfo *VolumeDevice(const ServerSnapshot &snapshot, bool input);
    Controls Observe(const ServerSnapshot &snapshot);

    // Event thread.
    void ModelChanged(const ModelEvent &event);
    void Post(int32_t control);

    std::mutex apiMutex_;
    SoundServer &server_;
    int listener_ = 0;

    // Below: guarded by the loop lock.
    void *window_ = nullptr;
    PostMessageFn post_ = nullptr;
    Controls seen_;
};

Mixer::Mixer() : server_(SoundServer::Instance())
{
    server_.Answering(); // waits for the first connection
    server_.Lock();
    // What is there now is the starting point; only later changes are posted.
    seen_ = Observe(server_.Snapshot());
    listener_ = server_.AddListener([this](const ModelEvent &event) { ModelChanged(event); });
    server_.Unlock();
}

Mixer::~Mixer()
{
    server_.Lock();
    server_.RemoveListener(listener_);
    server_.Unlock();
}

bool Mixer::Read(ServerSnapshot &snapshot)
{
    snapshot = server_.Snapshot();
    return server_.State() == ServerState::Ready;
}

RecordingInputs Mixer::Inputs(const ServerSnapshot &snapshot)
{
    return platform::ListRecordingInputs(snapshot, server_.PinnedInput());
}

const DeviceInfo *Mixer::OutputDevice(const ServerSnapshot &snapshot)
{
    return platform::FindDevice(snapshot.Sinks, server_.CurrentOutput(snapshot));
}

// The source whose volume is the record volume: the owner of the ports, or
// the selected input.
const DeviceInfo *Mixer::RecordingSource(const ServerSnapshot &snapshot, const RecordingInputs &inputs)
{
    if (!inputs.PortOwner.empty()) {
        return platform::FindDevice(snapshot.Sources, inputs.PortOwner);
    }
    if (inputs.Selected >= 0) {
        return platform::FindDevice(snapshot.Sources, inputs.Names[static_cast<size_t>(inputs.Selected)]);
    }
    return platform::CurrentInputDevice(snapshot, server_.PinnedInput());
}

const DeviceInfo *Mixer::VolumeDevice(const ServerSnapshot &snapshot, bool input)
{
    return input ? RecordingSource(snapshot, Inputs(snapshot)) : OutputDevice(snapshot);
}

Controls Mixer::Observe(const ServerSnapshot &snapshot)
{
    Controls controls;
    if (const DeviceInfo *output = OutputDevice(snapshot)) {
        controls.OutputDevice = output->Name;
        controls.OutputVolume = output->Volume;
    }
    RecordingInputs inputs = Inputs(snapshot);
    if (const DeviceInfo *source = RecordingSource(snapshot, inputs)) {
        controls.InputDevice = source->Name;
        controls.InputVolume = source->Volume;
    }
    controls.Selected = inputs.Selected;
    controls.PortOwner = inputs.PortOwner;
    for (size_t i = 0; i < inputs.Names.size(); i++) {
        controls.Inputs.push_back(inputs.Names[i] + '\n' + inputs.Descriptions[i]);
    }
    return controls;
}

// Notifications ---------------------------------------------------------------

void Mixer::Post(int32_t control)
{
    if (post_) {
        post_(window_, MM_MIXM_CONTROL_CHANGE, 0, control);
    }
}

void Mixer::ModelChanged(const ModelEvent &event)
{
    if (event.What == ModelEvent::Shutdown) {
        window_ = nullptr;
        post_ = nullptr;
        return;
    }
    // While the server is away the controls keep what they last showed, so
    // that what differs once it is back is posted then.
    if (event.What != ModelEvent::Changed) {
        return;
    }
    Controls now;
    try {
        now = Observe(*event.After);
    } catch (const std::bad_alloc &) {
        return;
    }
    // A new default device moves the slider to its volume: the device counts
    // as part of the volume control.
    if (now.OutputDevice != seen_.OutputDevice || !SameVolume(now.OutputVolume, seen_.OutputVolume)) {
        Post(MIXER_OUTPUT_VOLUME_ID);
    }
    if (now.Inputs != seen_.Inputs || now.PortOwner != seen_.PortOwner) {
        Post(MIXER_INPUT_LINE_ID);
    }
    if (now.Selected != seen_.Selected) {
        Post(MIXER_SOURCE_SELECT_ID);
    }
    if (now.InputDevice != seen_.InputDevice || !SameVolume(now.InputVolume, seen_.InputVolume)) {
        Post(MIXER_INPUT_VOLUME_ID);
    }
    seen_ = std::move(now);
}

// Calls ------------------------------------------------------------------------

void Mixer::SetWindow(void *window, PostMessageFn post)
{
    std::lock_guard<std::mutex> api(apiMutex_);
    ServerCall call;
    window_ = window;
    post_ = post;
    // The window starts from what the server has now, and hears of every
    // change from here on.
    if (window && call.Usable()) {
        call.Server().Sync(call.Deadline());
    }
}

int32_t Mixer::SelectDevice(DeviceList list, bool input, int32_t index)
{
    std::lock_guard<std::mutex> api(apiMutex_);
    ServerSnapshot snapshot;
    if (!Read(snapshot)) {
        return MIXER_ERROR_NOSERVER;
    }
    auto devices = list(snapshot);
    if (index < 0 || static_cast<size_t>(index) >= devices.size()) {
        return MIXER_ERROR_BADINDEX;
    }
    // Device 0 is the server's default: choosing it follows the default
    // wherever it goes. Any other is kept by name.
    std::string name = index == 0 ? std::string() : devices[static_cast<size_t>(index)]->Name;
    if (input) {
        server_.PinInput(name);
    } else {
        server_.PinOutput(name);
    }
    // The controls now show another device: compare on the event thread.
    server_.Lock();
    server_.Reread();
    server_.Unlock();
    return 0;
}

int32_t Mixer::DeselectDevice(bool input)
{
    std::lock_guard<std::mutex> api(apiMutex_);
    if (input) {
        server_.PinInput(std::string());
    } else {
        server_.PinOutput(std::string());
    }
    server_.Lock();
    server_.Reread();
    server_.Unlock();
    return 0;
}

int32_t Mixer::CountOutputs()
{
    std::lock_guard<std::mutex> api(apiMutex_);
    ServerSnapshot snapshot;
    Read(snapshot);
    return static_cast<int32_t>(platform::OutputDevices(snapshot).size());
}

int32_t Mixer::SelectOutput(int32_t index)
{
    return SelectDevice(platform::OutputDevices, false, index);
}

int32_t Mixer::DeselectOutput()
{
    return DeselectDevice(false);
}

int32_t Mixer::CountInputDevices()
{
    std::lock_guard<std::mutex> api(apiMutex_);
    ServerSnapshot snapshot;
    Read(snapshot);
    return static_cast<int32_t>(platform::InputDevices(snapshot).size());
}

int32_t Mixer::SelectInputDevice(int32_t index)
{
    return SelectDevice(platform::InputDevices, true, index);
}

int32_t Mixer::DeselectInputDevice()
{
    return DeselectDevice(true);
}

int32_t Mixer::MicrophoneIndex()
{
    std::lock_guard<std::mutex> api(apiMutex_);
    ServerSnapshot snapshot;
    return Read(snapshot) ? Inputs(snapshot).Microphone : 0;
}

int32_t Mixer::CountInputs()
{
    std::lock_guard<std::mutex> api(apiMutex_);
    ServerSnapshot snapshot;
    Read(snapshot);
    return static_cast<int32_t>(Inputs(snapshot).Names.size());
}

int32_t Mixer::SelectInput(int32_t index)
{
    std::lock_guard<std::mutex> api(apiMutex_);
    ServerCall call;
    if (!call.Usable()) {
        return MIXER_ERROR_NOSERVER;
    }
    ServerSnapshot snapshot = server_.Snapshot();
    RecordingInputs inputs = Inputs(snapshot);
    if (index < 0 || static_cast<size_t>(index) >= inputs.Names.size()) {
        return MIXER_ERROR_BADINDEX;
    }
    // The input in use stays as it is: nothing on the server changes.
    if (index == inputs.Selected) {
        return 0;
    }
    std::string name = inputs.Names[static_cast<size_t>(index)];
    if (!inputs.PortOwner.empty()) {
        // A port is a setting of the sound card, for every program.
        std::string owner = inputs.PortOwner;
        if (!call.Await(
                pa_context_set_source_port_by_name(call.Context(), owner.c_str(), name.c_str(), nullptr, nullptr))) {
            return MIXER_ERROR_NOSERVER;
        }
        server_.Patch([&owner, &name](ServerSnapshot &model) {
            for (DeviceInfo &source : model.Sources) {
                if (source.Name == owner) {
                    source.ActivePort = name;
                }
            }
        });
        return 0;
    }
    // Without ports the inputs are the input devices: the chosen one becomes
    // the server's default input.
    if (!call.Await(pa_context_set_default_source(call.Context(), name.c_str(), nullptr, nullptr))) {
        return MIXER_ERROR_NOSERVER;
    }
    // Some servers (PipeWire's) answer before their session manager has made
    // the change: read again until the server reports the new default.
    while (server_.Sync(call.Deadline()) && server_.Snapshot().DefaultSource != name) {
        platform::Clock::time_point pause = platform::Clock::now() + std::chrono::milliseconds(10);
        server_.WaitUntil([] { return false; }, std::min(pause, call.Deadline()), false);
    }
    return 0;
}

int32_t Mixer::Describe(int32_t index, char *buffer)
{
    if (!buffer) {
        return MIXER_ERROR_PARAM;
    }
    buffer[0] = '\0';
    std::lock_guard<std::mutex> api(apiMutex_);
    ServerSnapshot snapshot;
    if (!Read(snapshot)) {
        return MIXER_ERROR_NOSERVER;
    }
    RecordingInputs inputs = Inputs(snapshot);
    if (index < 0 || static_cast<size_t>(index) >= inputs.Descriptions.size()) {
        return MIXER_ERROR_BADINDEX;
    }
    const std::string &text = inputs.Descriptions[static_cast<size_t>(index)];
    size_t length = std::min<size_t>(text.size(), MIXER_DESCRIPTION_SIZE - 1);
    // Names are UTF-8: a cut name ends before a character that does not fit
    // whole, never inside it.
    if (length < text.size()) {
        while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80) {
            length--;
        }
    }
    std::memcpy(buffer, text.data(), length);
    buffer[length] = '\0';
    return 0;
}

bool Mixer::IsSelected(int32_t index)
{
    std::lock_guard<std::mutex> api(apiMutex_);
    ServerSnapshot snapshot;
    return index >= 0 && Read(snapshot) && Inputs(snapshot).Selected == index;
}

int32_t Mixer::GetVolume(bool input, int32_t channels, int32_t *volumes)
{
    if (channels <= 0 || !volumes) {
        return MIXER_ERROR_PARAM;
    }
    std::lock_guard<std::mutex> api(apiMutex_);
    ServerSnapshot snapshot;
    if (!Read(snapshot)) {
        return MIXER_ERROR_NOSERVER;
    }
    const DeviceInfo *device = VolumeDevice(snapshot, input);
    if (!device || device->Volume.channels == 0) {
        return MIXER_ERROR_BADINDEX;
    }
    for (int32_t i = 0; i < std::min(channels, MaxChannels); i++) {
        int last = device->Volume.channels - 1;
        volumes[i] = platform::FromServerVolume(device->Volume.values[std::min(i, last)]);
    }
    return 0;
}

int32_t Mixer::SetVolume(bool input, int32_t channels, const int32_t *volumes)
{
    if (channels <= 0 || !volumes) {
        return MIXER_ERROR_PARAM;
    }
    std::lock_guard<std::mutex> api(apiMutex_);
    ServerCall call;
    if (!call.Usable()) {
        return MIXER_ERROR_NOSERVER;
    }
    ServerSnapshot snapshot = server_.Snapshot();
    const DeviceInfo *device = VolumeDevice(snapshot, input);
    if (!device || device->Volume.channels == 0) {
        return MIXER_ERROR_BADINDEX;
    }
    pa_cvolume volume = device->Volume;
    int32_t given = std::min(channels, MaxChannels);
    for (int i = 0; i < volume.channels; i++) {
        volume.values[i] = platform::ToServerVolume(volumes[std::min(i, given - 1)]);
    }
    pa_context *context = call.Context();
    std::string name = device->Name;
    pa_operation *op = input ? pa_context_set_source_volume_by_name(context, name.c_str(), &volume, nullptr, nullptr)
                             : pa_context_set_sink_volume_by_name(context, name.c_str(), &volume, nullptr, nullptr);
    if (!call.Await(op)) {
        return MIXER_ERROR_NOSERVER;
    }
    server_.Patch([input, &name, &volume](ServerSnapshot &model) {
        for (DeviceInfo &found : input ? model.Sources : model.Sinks) {
            if (found.Name == name) {
                found.Volume = volume;
            }
        }
    });
    return 0;
}

Mixer &TheMixer()
{
    static Mixer mixer;
    return mixer;
}

} // namespace

extern "C" {

GLIMMER_EXPORT void SetCallbackWindow(void *window, PostMessageFn post)
{
    TheMixer().SetWindow(window, post);
}

GLIMMER_EXPORT int32_t GetNumberOfOutputDevices(void)
{
    return TheMixer().CountOutputs();
}

GLIMMER_EXPORT int32_t SelectOutputDevice(int32_t index)
{
    return TheMixer().SelectOutput(index);
}

GLIMMER_EXPORT int32_t DeSelectOutputDevice(void)
{
    return TheMixer().DeselectOutput();
}

GLIMMER_EXPORT int32_t GetNumberOfInputDevices(void)
{
    return TheMixer().CountInputDevices();
}

GLIMMER_EXPORT int32_t SelectInputDevice(int32_t index)
{
    return TheMixer().SelectInputDevice(index);
}

GLIMMER_EXPORT int32_t DeSelectInputDevice(void)
{
    return TheMixer().DeselectInputDevice();
}

GLIMMER_EXPORT int32_t GetMicrophoneSourceIndex(void)
{
    return TheMixer().MicrophoneIndex();
}

GLIMMER_EXPORT int32_t GetNumberOfInputSources(void)
{
    return TheMixer().CountInputs();
}

GLIMMER_EXPORT int32_t SelectInputSource(int32_t index)
{
    return TheMixer().SelectInput(index);
}

GLIMMER_EXPORT int32_t GetInputSourceDescription(int32_t index, char *buffer)
{
    return TheMixer().Describe(index, buffer);
}

GLIMMER_EXPORT bool IsCurrentInputSourceSelected(int32_t index)
{
    return TheMixer().IsSelected(index);
}

GLIMMER_EXPORT bool IsMixerMuxType(void)
{
    return true;
}

GLIMMER_EXPORT bool IsMixerMixerType(void)
{
    return false;
}

GLIMMER_EXPORT void GetVolumeIDs(int32_t *outputVolumeID, int32_t *inputVolumeID, int32_t *sourceSelectID,
                                 int32_t *inputLineID)
{
    if (outputVolumeID) {
        *outputVolumeID = MIXER_OUTPUT_VOLUME_ID;
    }
    if (inputVolumeID) {
        *inputVolumeID = MIXER_INPUT_VOLUME_ID;
    }
    if (sourceSelectID) {
        *sourceSelectID = MIXER_SOURCE_SELECT_ID;
    }
    if (inputLineID) {
        *inputLineID = MIXER_INPUT_LINE_ID;
    }
}

GLIMMER_EXPORT int32_t GetCurrentInputVolSetting(int32_t channels, int32_t *volumes)
{
    return TheMixer().GetVolume(true, channels, volumes);
}

GLIMMER_EXPORT int32_t GetCurrentOutputVolSetting(int32_t channels, int32_t *volumes)
{
    return TheMixer().GetVolume(false, channels, volumes);
}

GLIMMER_EXPORT int32_t SetCurrentInputVolSetting(int32_t channels, const int32_t *volumes)
{
    return TheMixer().SetVolume(true, channels, volumes);
}

GLIMMER_EXPORT int32_t SetCurrentOutputVolSetting(int32_t channels, const int32_t *volumes)
{
    return TheMixer().SetVolume(false, channels, volumes);
}

} // extern "C"
