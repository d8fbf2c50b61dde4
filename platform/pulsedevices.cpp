// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/pulsedevices.h"

#include <algorithm>
#include <cctype>

namespace platform {

namespace {

bool MentionsMicrophone(const std::string &text)
{
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower.find("mic") != std::string::npos;
}

std::string Text(const char *text)
{
    return text ? std::string(text) : std::string();
}

using Fill = SnapshotFill;

void Finish(Fill *fill)
{
    if (fill->PartDone) {
        fill->PartDone(fill->Owner);
    }
}

void ServerInfoArrived(pa_context *, const pa_server_info *info, void *userdata)
{
    auto *fill = static_cast<Fill *>(userdata);
    if (info) {
        fill->Target->DefaultSink = Text(info->default_sink_name);
        fill->Target->DefaultSource = Text(info->default_source_name);
    }
    Finish(fill);
}

// What sinks and sources have alike: index, names, volume, mute and the
// active port's name (the ports themselves are listed by the caller).
template <typename Info> DeviceInfo CommonFields(const Info *info)
{
    DeviceInfo device;
    device.Index = info->index;
    device.Name = Text(info->name);
    device.Description = info->description ? info->description : device.Name;
    device.Volume = info->volume;
    device.Mute = info->mute != 0;
    if (info->active_port) {
        device.ActivePort = Text(info->active_port->name);
    }
    return device;
}

void SinkArrived(pa_context *, const pa_sink_info *info, int eol, void *userdata)
{
    auto *fill = static_cast<Fill *>(userdata);
    if (eol != 0 || !info) {
        Finish(fill);
        return;
    }
    DeviceInfo device = CommonFields(info);
    for (uint32_t i = 0; i < info->n_ports; i++) {
        device.Ports.push_back({Text(info->ports[i]->name), Text(info->ports[i]->description), false,
                                info->ports[i]->available != PA_PORT_AVAILABLE_NO});
    }
    fill->Target->Sinks.push_back(std::move(device));
}

void SourceArrived(pa_context *, const pa_source_info *info, int eol, void *userdata)
{
    auto *fill = static_cast<Fill *>(userdata);
    if (eol != 0 || !info) {
        Finish(fill);
        return;
    }
    DeviceInfo device = CommonFields(info);
    device.IsMonitor = info->monitor_of_sink != PA_INVALID_INDEX;
    const char *formFactor = pa_proplist_gets(info->proplist, PA_PROP_DEVICE_FORM_FACTOR);
    std::string form = Text(formFactor);
    device.IsMicrophone = form == "microphone" || form == "headset" || form == "webcam" ||
                          MentionsMicrophone(device.Name) || MentionsMicrophone(device.Description);
    for (uint32_t i = 0; i < info->n_ports; i++) {
        const pa_source_port_info *port = info->ports[i];
        PortInfo entry{Text(port->name), Text(port->description), false, port->available != PA_PORT_AVAILABLE_NO};
        entry.IsMicrophone = port->type == PA_DEVICE_PORT_TYPE_MIC || port->type == PA_DEVICE_PORT_TYPE_HEADSET ||
                             MentionsMicrophone(entry.Name) || MentionsMicrophone(entry.Description);
        device.Ports.push_back(std::move(entry));
    }
    fill->Target->Sources.push_back(std::move(device));
}

std::vector<const DeviceInfo *> DefaultFirst(const std::vector<DeviceInfo> &devices, const std::string &defaultName,
                                             bool inputsOnly)
{
    std::vector<const DeviceInfo *> list;
    for (const DeviceInfo &device : devices) {
        if (inputsOnly && device.IsMonitor) {
            continue;
        }
        if (device.Name == defaultName) {
            list.insert(list.begin(), &device);
        } else {
            list.push_back(&device);
        }
    }
    return list;
}

} // namespace

const DeviceInfo *FindDevice(const std::vector<DeviceInfo> &devices, const std::string &name)
{
    for (const DeviceInfo &device : devices) {
        if (device.Name == name) {
            return &device;
        }
    }
    return nullptr;
}

std::vector<const DeviceInfo *> OutputDevices(const ServerSnapshot &snapshot)
{
    return DefaultFirst(snapshot.Sinks, snapshot.DefaultSink, false);
}

std::vector<const DeviceInfo *> InputDevices(const ServerSnapshot &snapshot)
{
    return DefaultFirst(snapshot.Sources, snapshot.DefaultSource, true);
}

const DeviceInfo *CurrentInputDevice(const ServerSnapshot &snapshot, const std::string &selectedDevice)
{
    const DeviceInfo *selected = FindDevice(snapshot.Sources, selectedDevice);
    if (selected && !selected->IsMonitor) {
        return selected;
    }
    std::vector<const DeviceInfo *> inputs = InputDevices(snapshot);
    return inputs.empty() ? nullptr : inputs.front();
}

RecordingInputs ListRecordingInputs(const ServerSnapshot &snapshot, const std::string &selectedDevice)
{
    RecordingInputs inputs;
    const DeviceInfo *device = CurrentInputDevice(snapshot, selectedDevice);
    int microphone = -1;
    if (device && !device->Ports.empty()) {
        inputs.PortOwner = device->Name;
        for (const PortInfo &port : device->Ports) {
            if (port.Name == device->ActivePort) {
                inputs.Selected = static_cast<int>(inputs.Names.size());
            }
            if (port.IsMicrophone && port.Available && microphone < 0) {
                microphone = static_cast<int>(inputs.Names.size());
            }
            inputs.Names.push_back(port.Name);
            inputs.Descriptions.push_back(port.Description.empty() ? port.Name : port.Description);
        }
    } else {
        for (const DeviceInfo &source : snapshot.Sources) {
            if (source.IsMonitor) {
                continue;
            }
            if (source.Name == snapshot.DefaultSource) {
                inputs.Selected = static_cast<int>(inputs.Names.size());
            }
            if (source.IsMicrophone && microphone < 0) {
                microphone = static_cast<int>(inputs.Names.size());
            }
            inputs.Names.push_back(source.Name);
            inputs.Descriptions.push_back(source.Description);
        }
    }
    // What is in use now stays in use: choosing a microphone by its name
    // could pick one that is not plugged in.
    if (inputs.Selected >= 0) {
        inputs.Microphone = inputs.Selected;
    } else if (microphone >= 0) {
        inputs.Microphone = microphone;
    }
    return inputs;
}

void SnapshotRequest::PartDone(void *owner)
{
    auto *self = static_cast<SnapshotRequest *>(owner);
    if (--self->pending_ == 0) {
        for (pa_operation *&op : self->operations_) {
            if (op) {
                pa_operation_unref(op);
                op = nullptr;
            }
        }
        // Moved out first: the callback may start the next request.
        std::function<void()> done = std::move(self->done_);
        if (done) {
            done();
        }
    }
}

void SnapshotRequest::Start(pa_context *context, std::function<void()> done)
{
    Cancel();
    Result = ServerSnapshot{};
    done_ = std::move(done);
    fill_ = Fill{&Result, PartDone, this};
    pending_ = 3;
    operations_[0] = pa_context_get_server_info(context, ServerInfoArrived, &fill_);
    operations_[1] = pa_context_get_sink_info_list(context, SinkArrived, &fill_);
    operations_[2] = pa_context_get_source_info_list(context, SourceArrived, &fill_);
    for (pa_operation *op : operations_) {
        if (!op) {
            Cancel();
            return;
        }
    }
}

void SnapshotRequest::Cancel()
{
    for (pa_operation *&op : operations_) {
        if (op) {
            pa_operation_cancel(op);
            pa_operation_unref(op);
            op = nullptr;
        }
    }
    pending_ = 0;
}

} // namespace platform
