// The mixer over the sound server's sinks, sources and ports.
//
// Reads always ask the server afresh. For notifications the library keeps
// what it last saw of the four controls; each change event from the server
// makes it read everything again (one request at a time, repeated when more
// events came in meanwhile) and post the controls that differ.
#include "platform/tmmixlib.h"

#include "platform/pavolume.h"
#include "platform/pulseconnection.h"
#include "platform/pulsedevices.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <vector>

using platform::DeadlineFromNow;
using platform::DeviceInfo;
using platform::PulseConnection;
using platform::PulseLock;
using platform::RecordingInputs;
using platform::ServerSnapshot;

static_assert(sizeof(bool) == 1, "the mixer's booleans are one byte");

namespace {

constexpr int32_t MaxChannels = 32;

// What the four controls showed when the server was last read.
struct Controls {
    bool Valid = false;
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

    int32_t CountDevices(DeviceList list);
    int32_t SelectDevice(DeviceList list, std::string &selected, int32_t index);
    int32_t DeselectDevice(std::string &selected);

    // With the loop locked: connects and reads the server.
    bool Read(ServerSnapshot &snapshot);
    const DeviceInfo *OutputDevice(const ServerSnapshot &snapshot) const;
    const DeviceInfo *RecordingSource(const ServerSnapshot &snapshot, const RecordingInputs &inputs) const;
    // The device whose volume is the record volume (input) or the play volume.
    const DeviceInfo *VolumeDevice(const ServerSnapshot &snapshot, bool input) const;
    Controls Observe(const ServerSnapshot &snapshot) const;

    // Event thread.
    void Connected(pa_context *context);
    static void ServerChanged(pa_context *, pa_subscription_event_type_t, uint32_t, void *userdata);
    void Refresh();
    void Refreshed();
    // A selection changed what the controls show: compare again.
    void Recheck();
    void Post(int32_t control);

    std::mutex apiMutex_;
    PulseConnection connection_{"Glimmerbox mixer"};
    bool hooked_ = false;

    // Below: guarded by the loop lock.
    void *window_ = nullptr;
    PostMessageFn post_ = nullptr;
    std::string outputDevice_; // selected sink, empty: the default
    std::string inputDevice_;  // selected source, empty: the default
    platform::SnapshotRequest request_;
    bool again_ = false;
    Controls seen_;
};

Mixer::~Mixer()
{
    PulseLock lock(connection_);
    request_.Cancel();
}

bool Mixer::Read(ServerSnapshot &snapshot)
{
    if (connection_.InEventThread()) {
        return false;
    }
    if (!hooked_) {
        hooked_ = true;
        connection_.OnReady = [this](pa_context *context) { Connected(context); };
    }
    platform::Clock::time_point deadline = DeadlineFromNow();
    if (!connection_.Connect(deadline)) {
        return false;
    }
    // Changes are told against what the server had when we connected: wait
    // until that is known, so that no change made after this call is missed.
    connection_.WaitUntil([this] { return seen_.Valid || !connection_.IsReady(); }, deadline);
    return platform::FetchSnapshot(connection_, snapshot, deadline);
}

const DeviceInfo *Mixer::OutputDevice(const ServerSnapshot &snapshot) const
{
    if (const DeviceInfo *selected = platform::FindDevice(snapshot.Sinks, outputDevice_)) {
        return selected;
    }
    auto outputs = platform::OutputDevices(snapshot);
    return outputs.empty() ? nullptr : outputs.front();
}

// The source whose volume is the record volume: the owner of the ports, or
// the selected input.
const DeviceInfo *Mixer::RecordingSource(const ServerSnapshot &snapshot, const RecordingInputs &inputs) const
{
    if (!inputs.PortOwner.empty()) {
        return platform::FindDevice(snapshot.Sources, inputs.PortOwner);
    }
    if (inputs.Selected >= 0) {
        return platform::FindDevice(snapshot.Sources, inputs.Names[static_cast<size_t>(inputs.Selected)]);
    }
    return platform::CurrentInputDevice(snapshot, inputDevice_);
}

const DeviceInfo *Mixer::VolumeDevice(const ServerSnapshot &snapshot, bool input) const
{
    return input ? RecordingSource(snapshot, platform::ListRecordingInputs(snapshot, inputDevice_))
                 : OutputDevice(snapshot);
}

Controls Mixer::Observe(const ServerSnapshot &snapshot) const
{
    Controls controls;
    controls.Valid = true;
    if (const DeviceInfo *output = OutputDevice(snapshot)) {
        controls.OutputDevice = output->Name;
        controls.OutputVolume = output->Volume;
    }
    RecordingInputs inputs = platform::ListRecordingInputs(snapshot, inputDevice_);
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

void Mixer::Connected(pa_context *context)
{
    pa_context_set_subscribe_callback(context, ServerChanged, this);
    auto mask = static_cast<pa_subscription_mask_t>(PA_SUBSCRIPTION_MASK_SINK | PA_SUBSCRIPTION_MASK_SOURCE |
                                                    PA_SUBSCRIPTION_MASK_SERVER);
    if (pa_operation *op = pa_context_subscribe(context, mask, nullptr, nullptr)) {
        pa_operation_unref(op);
    }
    // What is there now is the starting point; only later changes are posted.
    seen_ = Controls{};
    again_ = false;
    request_.Cancel();
    Refresh();
}

void Mixer::ServerChanged(pa_context *, pa_subscription_event_type_t, uint32_t, void *userdata)
{
    auto *self = static_cast<Mixer *>(userdata);
    if (self->request_.Running()) {
        self->again_ = true;
    } else {
        self->Refresh();
    }
}

void Mixer::Recheck()
{
    if (!connection_.IsReady()) {
        return;
    }
    if (request_.Running()) {
        again_ = true;
    } else {
        Refresh();
    }
}

void Mixer::Refresh()
{
    if (pa_context *context = connection_.Context()) {
        request_.Start(context, [this] { Refreshed(); });
    }
}

void Mixer::Post(int32_t control)
{
    if (post_) {
        post_(window_, MM_MIXM_CONTROL_CHANGE, 0, control);
    }
}

void Mixer::Refreshed()
{
    Controls now;
    try {
        now = Observe(request_.Result);
    } catch (const std::bad_alloc &) {
        return;
    }
    if (seen_.Valid) {
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
    }
    seen_ = std::move(now);
    connection_.Signal();
    if (again_) {
        again_ = false;
        Refresh();
    }
}

// Calls ------------------------------------------------------------------------

void Mixer::SetWindow(void *window, PostMessageFn post)
{
    std::lock_guard<std::mutex> api(apiMutex_);
    PulseLock lock(connection_);
    window_ = window;
    post_ = post;
    // Connect now, so that changes are watched from here on.
    ServerSnapshot snapshot;
    Read(snapshot);
}

int32_t Mixer::CountDevices(DeviceList list)
{
    std::lock_guard<std::mutex> api(apiMutex_);
    PulseLock lock(connection_);
    ServerSnapshot snapshot;
    return Read(snapshot) ? static_cast<int32_t>(list(snapshot).size()) : 0;
}

int32_t Mixer::SelectDevice(DeviceList list, std::string &selected, int32_t index)
{
    std::lock_guard<std::mutex> api(apiMutex_);
    PulseLock lock(connection_);
    ServerSnapshot snapshot;
    if (!Read(snapshot)) {
        return MIXER_ERROR_NOSERVER;
    }
    auto devices = list(snapshot);
    if (index < 0 || static_cast<size_t>(index) >= devices.size()) {
        return MIXER_ERROR_BADINDEX;
    }
    selected = devices[static_cast<size_t>(index)]->Name;
    Recheck();
    return 0;
}

int32_t Mixer::DeselectDevice(std::string &selected)
{
    std::lock_guard<std::mutex> api(apiMutex_);
    PulseLock lock(connection_);
    selected.clear();
    Recheck();
    return 0;
}

int32_t Mixer::CountOutputs()
{
    return CountDevices(platform::OutputDevices);
}

int32_t Mixer::SelectOutput(int32_t index)
{
    return SelectDevice(platform::OutputDevices, outputDevice_, index);
}

int32_t Mixer::DeselectOutput()
{
    return DeselectDevice(outputDevice_);
}

int32_t Mixer::CountInputDevices()
{
    return CountDevices(platform::InputDevices);
}

int32_t Mixer::SelectInputDevice(int32_t index)
{
    return SelectDevice(platform::InputDevices, inputDevice_, index);
}

int32_t Mixer::DeselectInputDevice()
{
    return DeselectDevice(inputDevice_);
}

int32_t Mixer::MicrophoneIndex()
{
    std::lock_guard<std::mutex> api(apiMutex_);
    PulseLock lock(connection_);
    ServerSnapshot snapshot;
    return Read(snapshot) ? platform::ListRecordingInputs(snapshot, inputDevice_).Microphone : 0;
}

int32_t Mixer::CountInputs()
{
    std::lock_guard<std::mutex> api(apiMutex_);
    PulseLock lock(connection_);
    ServerSnapshot snapshot;
    return Read(snapshot) ? static_cast<int32_t>(platform::ListRecordingInputs(snapshot, inputDevice_).Names.size())
                          : 0;
}

int32_t Mixer::SelectInput(int32_t index)
{
    std::lock_guard<std::mutex> api(apiMutex_);
    PulseLock lock(connection_);
    ServerSnapshot snapshot;
    if (!Read(snapshot)) {
        return MIXER_ERROR_NOSERVER;
    }
    RecordingInputs inputs = platform::ListRecordingInputs(snapshot, inputDevice_);
    if (index < 0 || static_cast<size_t>(index) >= inputs.Names.size()) {
        return MIXER_ERROR_BADINDEX;
    }
    pa_context *context = connection_.Context();
    const std::string &name = inputs.Names[static_cast<size_t>(index)];
    std::string source = name;
    if (!inputs.PortOwner.empty()) {
        source = inputs.PortOwner;
        if (inputs.Selected != index && !connection_.Await(pa_context_set_source_port_by_name(
                                                               context, source.c_str(), name.c_str(), nullptr, nullptr),
                                                           DeadlineFromNow())) {
            return MIXER_ERROR_NOSERVER;
        }
    }
    // The recording source becomes the server's default, so that recordings
    // (ours and other programs') take it.
    if (snapshot.DefaultSource == source) {
        return 0;
    }
    platform::Clock::time_point deadline = DeadlineFromNow();
    if (!connection_.Await(pa_context_set_default_source(context, source.c_str(), nullptr, nullptr), deadline)) {
        return MIXER_ERROR_NOSERVER;
    }
    // PipeWire answers before its session manager has made the change:
    // wait until the server reports the new default.
    while (platform::FetchSnapshot(connection_, snapshot, deadline) && snapshot.DefaultSource != source) {
        connection_.WaitUntil([] { return false; },
                              std::min(deadline, platform::Clock::now() + std::chrono::milliseconds(10)));
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
    PulseLock lock(connection_);
    ServerSnapshot snapshot;
    if (!Read(snapshot)) {
        return MIXER_ERROR_NOSERVER;
    }
    RecordingInputs inputs = platform::ListRecordingInputs(snapshot, inputDevice_);
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
    PulseLock lock(connection_);
    ServerSnapshot snapshot;
    return index >= 0 && Read(snapshot) && platform::ListRecordingInputs(snapshot, inputDevice_).Selected == index;
}

int32_t Mixer::GetVolume(bool input, int32_t channels, int32_t *volumes)
{
    if (channels <= 0 || !volumes) {
        return MIXER_ERROR_PARAM;
    }
    std::lock_guard<std::mutex> api(apiMutex_);
    PulseLock lock(connection_);
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
    PulseLock lock(connection_);
    ServerSnapshot snapshot;
    if (!Read(snapshot)) {
        return MIXER_ERROR_NOSERVER;
    }
    const DeviceInfo *device = VolumeDevice(snapshot, input);
    if (!device || device->Volume.channels == 0) {
        return MIXER_ERROR_BADINDEX;
    }
    pa_cvolume volume = device->Volume;
    int32_t given = std::min(channels, MaxChannels);
    for (int i = 0; i < volume.channels; i++) {
        volume.values[i] = platform::ToServerVolume(volumes[std::min(i, given - 1)]);
    }
    pa_context *context = connection_.Context();
    pa_operation *op =
        input ? pa_context_set_source_volume_by_name(context, device->Name.c_str(), &volume, nullptr, nullptr)
              : pa_context_set_sink_volume_by_name(context, device->Name.c_str(), &volume, nullptr, nullptr);
    return connection_.Await(op, DeadlineFromNow()) ? 0 : MIXER_ERROR_NOSERVER;
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
