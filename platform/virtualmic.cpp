// SPDX-License-Identifier: GPL-3.0-or-later
// The virtual microphone: two modules loaded on the server through the
// process's one connection.
//
//   live voice -> playback stream -> module-null-sink (s16le mono 22050 Hz)
//                                        | monitor
//                                        v
//                 module-remap-source "Glimmerbox Voice" -> calls, browsers
//
// The sink has the live voice's own format, so nothing is converted on the
// way and a recorder of the source gets what was played sample for sample.
// It takes no rewinds (norewinds=1): a rewind would rewrite what its monitor
// may already have handed out, and a recorder would get a stretch twice.
//
// Keeping them from ever being a default:
// - PulseAudio ranks devices by a priority it derives from their properties
//   when they are made: device.class "sound" 9000, "modem" 0, any other
//   class 1000, plus form factor and bus. A null sink is "abstract" and a
//   remap source "filter", 1000 both, equal to most virtual devices; the
//   server keeps a tie on whichever came first. With device.class "modem"
//   ours rank 0, the lowest there is (the class also chooses a modem icon,
//   so the icons are named too).
// - PipeWire's session manager ranks nodes by priority.session (a node
//   without one counts as -1 in WirePlumber 0.4) and lets the graph be
//   driven by the linked driver with the highest priority.driver. Both
//   properties pass through the module arguments to the nodes; ours are the
//   lowest an int can be.
// Measured on fresh servers (PulseAudio 16.1, PipeWire 0.3.65 with
// WirePlumber 0.4.13) with no default chosen, ours loaded first and a plain
// null sink and remap source after them: without these properties ours
// stayed the defaults on both servers; with them the plain ones took over.
// A default the user chose is kept by both servers whatever the priorities.
//
// Which modules are whose: both carry glimmerbox.owner.pid in their device
// properties, and so in the module's argument, which both servers list.
#include "platform/virtualmic.h"

#include "platform/soundserver.h"

#include <pulse/pulseaudio.h>

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace platform {

namespace {

constexpr uint32_t VoiceRate = 22050;
// The lowest priority there is, for PipeWire's session manager and graph.
constexpr const char *LowestPriority = "-2147483648";
static_assert(std::numeric_limits<int32_t>::min() == -2147483648LL);

// What this process has on the server. Guarded by the loop lock; changed
// only with apiMutex held too.
struct Offering {
    uint32_t SinkModule = PA_INVALID_INDEX;
    uint32_t SourceModule = PA_INVALID_INDEX;
    std::string SinkName;
    std::string SourceName;
    pid_t Owner = 0; // the process that loaded them (not a forked child)
};

std::mutex apiMutex;
Offering offering;
// Who has devices to withdraw at exit: read without the loop lock, which a
// forked child must not take.
std::atomic<pid_t> offeringProcess{0};
int listener = 0;
std::once_flag atExitOnce;

bool Held(const Offering &o)
{
    return o.Owner == getpid() && o.SinkModule != PA_INVALID_INDEX && o.SourceModule != PA_INVALID_INDEX;
}

// Module arguments: each value of ours is made of these characters only, so
// that it can stand in double quotes inside a property list that itself
// stands in single quotes, with nothing to escape on either server.
bool SafeText(const std::string &text)
{
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               std::strchr(" _.-()", c) != nullptr;
    });
}

using Properties = std::vector<std::pair<std::string, std::string>>;

// key="value" key="value" ..., in single quotes; empty when a text is unsafe.
std::string PropertyArgument(const Properties &properties)
{
    std::string list;
    for (const auto &[key, value] : properties) {
        if (!SafeText(key) || key.find(' ') != std::string::npos || !SafeText(value)) {
            return std::string();
        }
        list += (list.empty() ? "" : " ") + key + "=\"" + value + "\"";
    }
    return "'" + list + "'";
}

Properties DeviceProperties(const char *description, const char *icon)
{
    return {{"device.description", description}, {"device.class", "modem"},
            {"device.icon_name", icon},          {"priority.session", LowestPriority},
            {"priority.driver", LowestPriority}, {VirtualMicOwnerProperty, std::to_string(getpid())}};
}

// The owner's process id in a module's argument, 0 when it has none.
pid_t OwnerInArgument(const char *argument)
{
    if (!argument) {
        return 0;
    }
    const std::string key = std::string(VirtualMicOwnerProperty) + "=";
    const char *at = std::strstr(argument, key.c_str());
    if (!at) {
        return 0;
    }
    at += key.size();
    if (*at == '"' || *at == '\'') {
        at++;
    }
    char *end = nullptr;
    errno = 0;
    long pid = std::strtol(at, &end, 10);
    if (end == at || errno != 0 || pid <= 0 || pid > std::numeric_limits<pid_t>::max()) {
        return 0;
    }
    return static_cast<pid_t>(pid);
}

bool Running(pid_t pid)
{
    // EPERM: it runs, as another user.
    return !(kill(pid, 0) == -1 && errno == ESRCH);
}

struct ModuleEntry {
    uint32_t Index;
    bool IsSource; // the remap source, unloaded before the sink it reads
    pid_t Owner;
};

void ModuleArrived(pa_context *, const pa_module_info *info, int eol, void *userdata)
{
    if (eol != 0 || !info) {
        return;
    }
    pid_t owner = OwnerInArgument(info->argument);
    if (owner != 0 && info->name) {
        auto *modules = static_cast<std::vector<ModuleEntry> *>(userdata);
        modules->push_back({info->index, std::strcmp(info->name, "module-remap-source") == 0, owner});
    }
}

// A device's name and the module that made it.
struct DeviceEntry {
    std::string Name;
    uint32_t Module;
};

template <typename Info> void DeviceArrived(pa_context *, const Info *info, int eol, void *userdata)
{
    if (eol == 0 && info && info->name) {
        static_cast<std::vector<DeviceEntry> *>(userdata)->push_back({info->name, info->owner_module});
    }
}

bool ListDevices(ServerCall &call, std::vector<DeviceEntry> &sinks, std::vector<DeviceEntry> &sources)
{
    sinks.clear();
    sources.clear();
    return call.Await(pa_context_get_sink_info_list(call.Context(), DeviceArrived<pa_sink_info>, &sinks)) &&
           call.Await(pa_context_get_source_info_list(call.Context(), DeviceArrived<pa_source_info>, &sources));
}

bool Listed(const std::vector<DeviceEntry> &devices, const std::string &name)
{
    return std::any_of(devices.begin(), devices.end(), [&name](const DeviceEntry &d) { return d.Name == name; });
}

std::string MadeBy(const std::vector<DeviceEntry> &devices, uint32_t module)
{
    for (const DeviceEntry &device : devices) {
        if (device.Module == module) {
            return device.Name;
        }
    }
    return std::string();
}

bool Unload(ServerCall &call, uint32_t module)
{
    if (module == PA_INVALID_INDEX) {
        return false;
    }
    auto answered = [](pa_context *, int success, void *userdata) { *static_cast<bool *>(userdata) = success != 0; };
    bool done = false;
    return call.Await(pa_context_unload_module(call.Context(), module, answered, &done)) && done;
}

uint32_t Load(ServerCall &call, const char *module, const std::string &argument)
{
    auto answered = [](pa_context *, uint32_t index, void *userdata) { *static_cast<uint32_t *>(userdata) = index; };
    uint32_t index = PA_INVALID_INDEX;
    if (!call.Await(pa_context_load_module(call.Context(), module, argument.c_str(), answered, &index))) {
        return PA_INVALID_INDEX;
    }
    return index;
}

// The name of the device the module just loaded made. PulseAudio has it
// before it answers; PipeWire may list it a moment later.
std::string AwaitDevice(ServerCall &call, uint32_t module, bool sink)
{
    std::vector<DeviceEntry> sinks, sources;
    for (;;) {
        if (!ListDevices(call, sinks, sources)) {
            return std::string();
        }
        std::string name = MadeBy(sink ? sinks : sources, module);
        if (!name.empty()) {
            return name;
        }
        Clock::time_point again = Clock::now() + std::chrono::milliseconds(20);
        if (again >= call.Deadline()) {
            return std::string();
        }
        call.Server().WaitUntil([again] { return Clock::now() >= again; }, again, false);
    }
}

// Until no device of these modules is listed. Both servers answer an unload
// before the devices have gone: PulseAudio unloads on its next turn,
// PipeWire a moment later.
void AwaitGone(ServerCall &call, const std::vector<uint32_t> &modules)
{
    std::vector<DeviceEntry> sinks, sources;
    while (!modules.empty() && ListDevices(call, sinks, sources)) {
        sinks.insert(sinks.end(), sources.begin(), sources.end());
        if (std::none_of(sinks.begin(), sinks.end(), [&modules](const DeviceEntry &device) {
                return std::find(modules.begin(), modules.end(), device.Module) != modules.end();
            })) {
            return;
        }
        Clock::time_point again = Clock::now() + std::chrono::milliseconds(20);
        if (again >= call.Deadline()) {
            return;
        }
        call.Server().WaitUntil([again] { return Clock::now() >= again; }, again, false);
    }
}

void ServerEvent(const ModelEvent &event)
{
    // Event thread, loop locked. A server that restarts has none of them.
    if (event.What == ModelEvent::Lost) {
        offering = Offering{};
    }
}

// With the loop locked.
void Listen(SoundServer &server)
{
    if (listener == 0) {
        listener = server.AddListener(ServerEvent);
    }
}

bool OfferedNow(SoundServer &server)
{
    if (!Held(offering)) {
        return false;
    }
    ServerSnapshot model = server.Snapshot();
    return FindDevice(model.Sinks, offering.SinkName) && FindDevice(model.Sources, offering.SourceName);
}

// With apiMutex held.
void WithdrawHeld()
{
    ServerCall call;
    Offering mine = offering;
    offering = Offering{};
    if (mine.Owner != getpid() || !call.Usable()) {
        // Any left on a server that did not answer are this process's
        // left-overs now, for the next Offer to remove.
        return;
    }
    Unload(call, mine.SourceModule);
    Unload(call, mine.SinkModule);
    // Gone from the server, and from the model, by the time this returns.
    AwaitGone(call, {mine.SourceModule, mine.SinkModule});
    call.Server().Sync(call.Deadline());
}

int RemoveLeftoversHeld()
{
    ServerCall call;
    if (!call.Usable()) {
        return 0;
    }
    std::vector<ModuleEntry> modules;
    if (!call.Await(pa_context_get_module_info_list(call.Context(), ModuleArrived, &modules))) {
        return 0;
    }
    // Sources first: a remap source whose master goes unloads itself.
    std::stable_sort(modules.begin(), modules.end(),
                     [](const ModuleEntry &a, const ModuleEntry &b) { return a.IsSource && !b.IsSource; });
    const pid_t self = getpid();
    std::vector<uint32_t> removed;
    for (const ModuleEntry &module : modules) {
        bool leftover = module.Owner == self
                            ? module.Index != offering.SinkModule && module.Index != offering.SourceModule
                            : !Running(module.Owner);
        if (leftover && Unload(call, module.Index)) {
            removed.push_back(module.Index);
        }
    }
    if (!removed.empty()) {
        // Their names are free, and the model knows, by the time this returns.
        AwaitGone(call, removed);
        call.Server().Sync(call.Deadline());
    }
    return static_cast<int>(removed.size());
}

void WithdrawAtExit()
{
    if (offeringProcess.load() != getpid()) {
        return;
    }
    std::lock_guard<std::mutex> api(apiMutex);
    WithdrawHeld();
}

} // namespace

bool TVirtualMicrophone::Offer(std::string &error)
{
    std::lock_guard<std::mutex> api(apiMutex);
    {
        ServerCall call;
        if (!call.Usable()) {
            error = "the sound server is not available";
            return false;
        }
        Listen(call.Server());
        if (OfferedNow(call.Server())) {
            return true;
        }
        // What is left of ours (partly removed behind this process's back,
        // or from before a fork) goes with the other left-overs.
        offering = Offering{};
    }
    RemoveLeftoversHeld();

    ServerCall call;
    if (!call.Usable()) {
        error = "the sound server is not available";
        return false;
    }
    std::vector<DeviceEntry> sinks, sources;
    if (!ListDevices(call, sinks, sources)) {
        error = "the sound server does not answer";
        return false;
    }
    std::string sinkName = VirtualMicSinkName;
    std::string sourceName = VirtualMicSourceName;
    if (Listed(sinks, sinkName) || Listed(sources, sourceName) || Listed(sources, sinkName + ".monitor")) {
        // Another running instance's.
        sinkName += "_" + std::to_string(getpid());
        sourceName += "_" + std::to_string(getpid());
    }
    const std::string rate = std::to_string(VoiceRate);
    const std::string sinkProperties = PropertyArgument(DeviceProperties(VirtualMicSinkDescription, "audio-card"));
    const std::string sourceProperties =
        PropertyArgument(DeviceProperties(VirtualMicDescription, "audio-input-microphone"));
    if (sinkProperties.empty() || sourceProperties.empty()) {
        error = "a property of the virtual microphone cannot be passed to the sound server";
        return false;
    }

    Offering made;
    made.Owner = getpid();
    made.SinkModule = Load(call, "module-null-sink",
                           "sink_name=" + sinkName + " format=s16le rate=" + rate +
                               " channels=1 channel_map=mono norewinds=1 sink_properties=" + sinkProperties);
    if (made.SinkModule != PA_INVALID_INDEX) {
        made.SinkName = AwaitDevice(call, made.SinkModule, true);
    }
    if (!made.SinkName.empty()) {
        made.SourceModule =
            Load(call, "module-remap-source",
                 "source_name=" + sourceName + " master=" + made.SinkName + ".monitor format=s16le rate=" + rate +
                     " channels=1 channel_map=mono master_channel_map=mono remix=no"
                     " source_properties=" +
                     sourceProperties);
    }
    if (made.SourceModule != PA_INVALID_INDEX) {
        made.SourceName = AwaitDevice(call, made.SourceModule, false);
    }
    if (made.SourceName.empty()) {
        // Whatever was made goes again (or is a left-over of this process
        // for the next Offer, should the server not answer now).
        if (made.SourceModule != PA_INVALID_INDEX) {
            Unload(call, made.SourceModule);
        }
        if (made.SinkModule != PA_INVALID_INDEX) {
            Unload(call, made.SinkModule);
        }
        error = call.Server().Answering() ? "the sound server refused to make the virtual microphone"
                                          : "the sound server does not answer";
        return false;
    }
    offering = made;
    offeringProcess = made.Owner;
    // So that the model lists both by the time this returns.
    call.Server().Sync(call.Deadline());
    std::call_once(atExitOnce, [] { std::atexit(WithdrawAtExit); });
    return true;
}

void TVirtualMicrophone::Withdraw()
{
    std::lock_guard<std::mutex> api(apiMutex);
    WithdrawHeld();
}

int TVirtualMicrophone::RemoveLeftovers()
{
    std::lock_guard<std::mutex> api(apiMutex);
    return RemoveLeftoversHeld();
}

bool TVirtualMicrophone::Offered()
{
    std::lock_guard<std::mutex> api(apiMutex);
    SoundServer &server = SoundServer::Instance();
    server.Lock();
    bool offered = OfferedNow(server);
    server.Unlock();
    return offered;
}

std::string TVirtualMicrophone::SinkName()
{
    std::lock_guard<std::mutex> api(apiMutex);
    SoundServer &server = SoundServer::Instance();
    server.Lock();
    std::string name = Held(offering) ? offering.SinkName : std::string();
    server.Unlock();
    return name;
}

std::string TVirtualMicrophone::SourceName()
{
    std::lock_guard<std::mutex> api(apiMutex);
    SoundServer &server = SoundServer::Instance();
    server.Lock();
    std::string name = Held(offering) ? offering.SourceName : std::string();
    server.Unlock();
    return name;
}

bool TVirtualMicrophone::IsVirtualMicDevice(const std::string &name)
{
    // Every name an instance gives them begins so (the sink's monitor, and
    // a name PulseAudio numbered because it was taken, too).
    return name.rfind(VirtualMicSourceName, 0) == 0;
}

} // namespace platform
