// SPDX-License-Identifier: GPL-3.0-or-later
// Wave-out devices over PulseAudio playback streams.
//
//   waveOutWrite -> Queue (blocks in order) -> Fill copies whole frames into
//   the stream whenever the server has room -> the server plays them.
//
// Every 10 ms, while blocks are queued, the device asks the server how far
// it has played (timing info). A block whose last byte has been played is
// returned as done, in queue order. Once everything queued has been handed
// over, the device also asks the server to drain the stream: its answer says
// that all of it has been played. That is what returns the last block, since
// some servers (PipeWire's PulseAudio service) never let the timing info
// reach the end of the data once the stream runs dry. The stream asks for
// refills of RefillUsec and keeps the sink's own buffer that short (early
// requests), so a reset, which throws the stream away and starts a new one,
// is heard at once.
//
// How much the server holds, and how often it must run. Both servers grant
// the buffer asked for (bench/stream-probe.c: PipeWire 0.3.65 granted
// tlength 250 ms, prebuf 230 ms, minreq 20 ms when asked for 250 and 20)
// and keep it full: after the first request for all of it, PipeWire asks
// for one or two graph cycles' worth at a time. A player that gets no
// processor for longer than that buffer runs the stream dry, heard as
// silence and the rest of the clip late (bench/playback-gaps.sh with
// CLIENT_STALL_MS); so the stream holds TargetBufferUsec, half a second.
// That costs a cut nothing (it overwrites what is queued, see below), nor a
// reset or a pause, which drop or hold the stream at once.
//
// The other thing that ran out on a busy machine was the graph's cycle:
// PipeWire runs a sink and every stream on it in cycles of the shortest
// latency any of them asks for, which with early requests is the refill
// size, rounded down to a power of two. Refills of 20 ms (441 samples at
// 22050 Hz) made 256-sample cycles of 11.6 ms; a cycle that the server's
// threads did not finish in time was heard as 256 samples of silence, in
// place of the clip or pushing it later. Refills of 30 ms make cycles of
// 512 samples (23.2 ms at 22050 Hz, 21.3 ms at 48000), twice the time to
// finish each; a PulseAudio server's sink then takes 30 ms at a time,
// still within the cut's lead (below).
//
// A cut (waveOutCut) changes what the server already holds instead of
// throwing the stream away: the stream keeps up to 500 ms that no longer
// fits, and a new stream would start with a gap. The server has taken the
// data up to its read index into the sink; everything after it can still be
// overwritten by writing with a negative offset (PA_SEEK_RELATIVE). So the
// cut goes at the read index, moved on by the time since it was reported,
// plus CutLeadUsec for the write to get there before the sink takes its next
// stretch (PulseAudio's sink takes up to RefillUsec at a time, PipeWire one
// graph cycle, at most RefillUsec). Silence is written over everything from the cut to the end, so
// that nothing dropped is heard should nothing follow; the next block then
// goes back to the cut and overwrites it. Both servers play only up to
// their write index, so what the new data does not cover of that silence is
// never heard. Measured on PulseAudio 16 and on PipeWire 0.3.65's service,
// also while a build runs: the seek overwrites sample for sample on both, a
// lead of 15 ms was already enough, and the cut lies 45 to 65 ms beyond what
// the position says has been heard. The other way, a short server buffer
// (60-80 ms) and dropping only what was not yet handed over, was not taken:
// the change would be heard no sooner, and a busy machine would have far
// less time to refill the stream before it runs dry.
//
// All devices share the process's one connection (platform/soundserver.h).
// WAVE_MAPPER plays on the current output: the one the mixer chose, else the
// server's default, which the server follows when it changes. When the
// server is lost, every queued block is returned as done and the device
// stays broken: later writes fail, and the caller closes it.
#include "platform/waveout.h"

#include "platform/soundserver.h"

#include <pulse/timeval.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <deque>
#include <mutex>
#include <new>
#include <set>
#include <string>

using platform::ModelEvent;
using platform::ServerCall;
using platform::SoundServer;

namespace {

// The stream's buffer on the server, and how often it asks for more.
constexpr pa_usec_t TargetBufferUsec = 500 * PA_USEC_PER_MSEC;
// At least 512 samples at 22050 Hz (23.2 ms): see the top of this file.
constexpr pa_usec_t RefillUsec = 30 * PA_USEC_PER_MSEC;
constexpr pa_usec_t PollUsec = 10 * PA_USEC_PER_MSEC;
constexpr pa_usec_t DrainMarginUsec = 20 * PA_USEC_PER_MSEC;
// How far beyond what the server has taken a cut goes: the time for the
// silence to reach the server before the sink takes its next stretch.
constexpr pa_usec_t CutLeadUsec = 45 * PA_USEC_PER_MSEC;
static_assert(CutLeadUsec >= RefillUsec + 15 * PA_USEC_PER_MSEC,
              "a cut must lie beyond the stretch the sink takes next, with time for the write to get there");

constexpr uint32_t LegacyHeaderSize = 32;
static_assert(sizeof(MMTIME) == 12, "callers pass 12 as the size of a position record");

struct Block {
    WAVEHDR *Header;
    uint32_t Playable; // whole frames only
    uint32_t Written = 0;
    bool Complete = false; // all of it handed to the stream
    uint64_t End = 0;      // stream byte offset just after it
};

} // namespace

struct WaveOutDevice {
    SoundServer &Server = SoundServer::Instance();
    int Listener = 0;
    pa_sample_spec Spec{};
    pa_channel_map Map{};
    std::string SinkName; // empty: the current output
    void *Window = nullptr;
    PostMessageFn Post = nullptr;

    pa_stream *Stream = nullptr;
    bool Paused = false;
    bool Broken = false;       // the stream failed; nothing more will play
    std::deque<Block> Queue;   // written, not yet done
    uint64_t BytesWritten = 0; // into the current stream
    // Where the server's write index stands: beyond BytesWritten after a
    // cut (silence up to here), until the next write goes back to the cut.
    uint64_t ServerEnd = 0;
    uint64_t Played = 0; // played from the current stream
    pa_time_event *Timer = nullptr;
    bool TimingAsked = false;
    // Questions to the server whose answers come to this device: cancelled
    // when its stream goes, so that no answer reaches a closed device.
    pa_operation *Timing = nullptr;
    pa_operation *SinkLatency = nullptr;
    pa_operation *Drain = nullptr; // asked while everything was handed over
    uint64_t DrainMark = 0;        // bytes written when it was asked
    // After the drain's answer, what the sink still holds is heard: the mark
    // counts as played once the sink's latency has passed.
    pa_time_event *DrainTimer = nullptr;
    uint64_t DrainedMark = 0;
    // The drain's answer came with nothing written since it was asked: the
    // stream has run dry, and the server may have moved its read index past
    // the end of the data, so the next data goes where it reads now.
    bool Dry = false;
    // Once everything is handed over, the time by which all of it has been
    // heard whatever the server reports, and the byte count it was set for.
    std::chrono::steady_clock::time_point HeardBy{};
    uint64_t HeardByMark = 0;
    // Blocks a reset hands back on the event thread.
    std::deque<Block> Returning;
    bool ReturnsPending = false;
};

namespace {

std::mutex registryMutex;
std::set<WaveOutDevice *> openDevices;

bool IsOpen(HWAVEOUT device)
{
    std::lock_guard<std::mutex> lock(registryMutex);
    return device && openDevices.count(device) != 0;
}

bool HeaderSizeOk(uint32_t size)
{
    return size == sizeof(WAVEHDR) || size == LegacyHeaderSize;
}

void SetFlags(WAVEHDR *header, uint32_t set, uint32_t clear)
{
    std::atomic_ref<uint32_t> flags(header->dwFlags);
    uint32_t value = flags.load(std::memory_order_relaxed);
    while (!flags.compare_exchange_weak(value, (value & ~clear) | set, std::memory_order_release)) {
    }
}

uint32_t Flags(const WAVEHDR *header)
{
    return std::atomic_ref<uint32_t>(const_cast<WAVEHDR *>(header)->dwFlags).load(std::memory_order_acquire);
}

void PostToWindow(WaveOutDevice *device, uint32_t message, intptr_t lParam)
{
    if (device->Post) {
        device->Post(device->Window, message, reinterpret_cast<uintptr_t>(device), lParam);
    }
}

bool FormatToSpec(const WAVEFORMATEX &format, pa_sample_spec &spec)
{
    if (format.wFormatTag != WAVE_FORMAT_PCM || format.nChannels < 1 || format.nChannels > 8 ||
        format.nSamplesPerSec < 1 || format.nSamplesPerSec > PA_RATE_MAX) {
        return false;
    }
    switch (format.wBitsPerSample) {
    case 8:
        spec.format = PA_SAMPLE_U8;
        break;
    case 16:
        spec.format = PA_SAMPLE_S16LE;
        break;
    case 24:
        spec.format = PA_SAMPLE_S24LE;
        break;
    case 32:
        spec.format = PA_SAMPLE_S32LE;
        break;
    default:
        return false;
    }
    if (format.nBlockAlign != format.nChannels * format.wBitsPerSample / 8) {
        return false;
    }
    spec.rate = format.nSamplesPerSec;
    spec.channels = static_cast<uint8_t>(format.nChannels);
    return pa_sample_spec_valid(&spec) != 0;
}

// Playing blocks -------------------------------------------------------------

void ReturnBlock(WaveOutDevice *device)
{
    WAVEHDR *header = device->Queue.front().Header;
    device->Queue.pop_front();
    SetFlags(header, WHDR_DONE, WHDR_INQUEUE);
    PostToWindow(device, MM_WOM_DONE, reinterpret_cast<intptr_t>(header));
}

// Blocks with nothing (left) to hand over are complete where they stand.
void CompleteEmptyBlocks(WaveOutDevice *device)
{
    for (Block &block : device->Queue) {
        if (block.Complete) {
            continue;
        }
        if (block.Written < block.Playable) {
            return;
        }
        block.Complete = true;
        block.End = device->BytesWritten;
    }
}

bool AllHandedOver(const WaveOutDevice *device)
{
    return device->Queue.empty() || device->Queue.back().Complete;
}

void AskDrain(WaveOutDevice *device);

// Copies queued data into the stream, at most room bytes.
void Fill(WaveOutDevice *device, size_t room)
{
    pa_stream *stream = device->Stream;
    if (!stream || pa_stream_get_state(stream) != PA_STREAM_READY) {
        return;
    }
    const size_t frame = pa_frame_size(&device->Spec);
    // After a cut the server asks for nothing more (it already holds silence
    // up to ServerEnd), but the data going back over it is owed all the same.
    room += device->ServerEnd - device->BytesWritten;
    bool wrote = false;
    for (;;) {
        CompleteEmptyBlocks(device);
        if (AllHandedOver(device) || room < frame) {
            break;
        }
        void *buffer = nullptr;
        size_t size = room;
        if (pa_stream_begin_write(stream, &buffer, &size) < 0 || !buffer) {
            break;
        }
        size -= size % frame;
        size_t copied = 0;
        for (Block &block : device->Queue) {
            if (block.Complete) {
                continue;
            }
            size_t take = std::min<size_t>(size - copied, block.Playable - block.Written);
            std::memcpy(static_cast<char *>(buffer) + copied, block.Header->lpData + block.Written, take);
            copied += take;
            block.Written += static_cast<uint32_t>(take);
            device->BytesWritten += take;
            if (block.Written == block.Playable) {
                block.Complete = true;
                block.End = device->BytesWritten;
            }
            if (copied == size) {
                break;
            }
        }
        if (copied == 0) {
            pa_stream_cancel_write(stream);
            break;
        }
        // The first data after a cut goes back to it; what it does not
        // cover of the silence beyond is never played (both servers play
        // only up to their write index).
        const uint64_t at = device->BytesWritten - copied;
        const int64_t back = static_cast<int64_t>(at) - static_cast<int64_t>(device->ServerEnd);
        pa_seek_mode_t seek = device->Dry ? PA_SEEK_RELATIVE_ON_READ : PA_SEEK_RELATIVE;
        if (pa_stream_write(stream, buffer, copied, nullptr, device->Dry ? 0 : back, seek) < 0) {
            break;
        }
        device->ServerEnd = device->BytesWritten;
        device->Dry = false;
        room -= copied;
        wrote = true;
    }
    // The server waits for a full buffer before it starts; the last blocks
    // of a clip may be shorter, so start it now.
    if (wrote && AllHandedOver(device)) {
        if (pa_operation *op = pa_stream_trigger(stream, nullptr, nullptr)) {
            pa_operation_unref(op);
        }
    }
    AskDrain(device);
}

void StreamWantsData(pa_stream *, size_t bytes, void *userdata)
{
    Fill(static_cast<WaveOutDevice *>(userdata), bytes);
}

// How many bytes of the current stream have been heard, from the last
// timing info: what the server has taken, less what still waits in the
// sink's buffer.
uint64_t PlayedBytes(WaveOutDevice *device)
{
    const pa_timing_info *timing = device->Stream ? pa_stream_get_timing_info(device->Stream) : nullptr;
    if (!timing || timing->read_index_corrupt || timing->read_index < 0) {
        return device->Played;
    }
    uint64_t taken = static_cast<uint64_t>(timing->read_index);
    uint64_t inSink = pa_usec_to_bytes(timing->sink_usec, &device->Spec);
    uint64_t since = timing->since_underrun > 0 ? static_cast<uint64_t>(timing->since_underrun) : 0;
    // While playing, the sink's buffer holds at most what was handed over
    // since playback (re)started; after an underrun, the silence handed over
    // since then sits behind our last bytes.
    uint64_t waiting = timing->playing ? std::min(inSink, since) : (inSink > since ? inSink - since : 0);
    uint64_t played = taken > waiting ? taken - waiting : 0;
    // The timing info never counts the last frame written as heard: PipeWire
    // reports a resampled stream's end a few milliseconds before it is heard.
    // The drain's answer counts it (see Drained).
    const uint64_t frame = pa_frame_size(&device->Spec);
    played = std::min(played, device->BytesWritten >= frame ? device->BytesWritten - frame : 0);
    device->Played = std::max(device->Played, played);
    return device->Played;
}

void ReturnPlayedBlocks(WaveOutDevice *device)
{
    uint64_t played = PlayedBytes(device);
    while (!device->Queue.empty() && device->Queue.front().Complete && device->Queue.front().End <= played) {
        ReturnBlock(device);
    }
}

void FreeDrainTimer(WaveOutDevice *device)
{
    if (device->DrainTimer) {
        device->Server.Api()->time_free(device->DrainTimer);
        device->DrainTimer = nullptr;
    }
}

// The sink's latency after the drain's answer has passed: what was written
// before the drain was asked for has been heard.
void DrainHeard(pa_mainloop_api *, pa_time_event *, const struct timeval *, void *userdata)
{
    auto *device = static_cast<WaveOutDevice *>(userdata);
    FreeDrainTimer(device);
    device->Played = std::max(device->Played, std::min(device->DrainedMark, device->BytesWritten));
    ReturnPlayedBlocks(device);
    AskDrain(device);
}

void ForgetOperation(pa_operation *&operation)
{
    if (operation) {
        pa_operation_unref(operation);
        operation = nullptr;
    }
}

void CancelOperation(pa_operation *&operation)
{
    if (operation) {
        pa_operation_cancel(operation);
        ForgetOperation(operation);
    }
}

void SinkLatencyArrived(pa_stream *stream, int success, void *userdata)
{
    auto *device = static_cast<WaveOutDevice *>(userdata);
    ForgetOperation(device->SinkLatency);
    if (stream != device->Stream || device->DrainTimer) {
        return;
    }
    // PipeWire counts in the sink's latency neither what its resampler holds
    // nor the rest of the graph's cycle: DrainMarginUsec more covers them.
    const pa_timing_info *timing = success ? pa_stream_get_timing_info(stream) : nullptr;
    pa_usec_t latency = (timing ? timing->sink_usec : 0) + DrainMarginUsec;
    struct timeval heard;
    pa_timeval_add(pa_gettimeofday(&heard), latency);
    pa_mainloop_api *api = device->Server.Api();
    device->DrainTimer = api->time_new(api, &heard, DrainHeard, device);
    if (!device->DrainTimer) {
        DrainHeard(nullptr, nullptr, nullptr, device);
    }
}

// The server has taken everything it was given before the drain was asked
// for (more may have come since) into the sink; it is heard once the sink
// has played what it holds.
void Drained(pa_stream *stream, int success, void *userdata)
{
    auto *device = static_cast<WaveOutDevice *>(userdata);
    if (stream != device->Stream) {
        return;
    }
    ForgetOperation(device->Drain);
    if (!success || device->DrainTimer) {
        AskDrain(device);
        return;
    }
    device->DrainedMark = device->DrainMark;
    device->Dry = device->BytesWritten == device->DrainMark;
    CancelOperation(device->SinkLatency);
    device->SinkLatency = pa_stream_update_timing_info(stream, SinkLatencyArrived, device);
    if (!device->SinkLatency) {
        SinkLatencyArrived(stream, 0, device);
    }
}

void AskDrain(WaveOutDevice *device)
{
    pa_stream *stream = device->Stream;
    if (device->Drain || device->DrainTimer || device->Paused || device->Queue.empty() || !AllHandedOver(device) ||
        !stream || pa_stream_get_state(stream) != PA_STREAM_READY) {
        return;
    }
    device->DrainMark = device->BytesWritten;
    device->Drain = pa_stream_drain(stream, Drained, device);
}

void TimingArrived(pa_stream *stream, int, void *userdata)
{
    auto *device = static_cast<WaveOutDevice *>(userdata);
    ForgetOperation(device->Timing);
    if (stream != device->Stream) {
        return;
    }
    device->TimingAsked = false;
    ReturnPlayedBlocks(device);
}

// A backstop for the drain: what was handed over has been heard by the time
// it takes to play what was not yet heard, plus the stream's buffer and a
// second. Should neither the timing info nor the drain's answer get there
// (PipeWire on a heavily loaded machine sometimes keeps the drain's answer),
// the blocks still come back then instead of the caller waiting for ever.
void ReturnOverdueBlocks(WaveOutDevice *device)
{
    using namespace std::chrono;
    if (device->Queue.empty() || !AllHandedOver(device) || device->Paused || !device->Stream) {
        device->HeardBy = {};
        return;
    }
    const steady_clock::time_point now = steady_clock::now();
    if (device->HeardBy == steady_clock::time_point{} || device->HeardByMark != device->BytesWritten) {
        const uint64_t unheard = device->BytesWritten - std::min(device->Played, device->BytesWritten);
        const pa_usec_t wait = pa_bytes_to_usec(unheard, &device->Spec) + TargetBufferUsec + PA_USEC_PER_SEC;
        device->HeardBy = now + microseconds(wait);
        device->HeardByMark = device->BytesWritten;
    } else if (now >= device->HeardBy) {
        device->Played = device->BytesWritten;
        ReturnPlayedBlocks(device);
    }
}

void Poll(pa_mainloop_api *, pa_time_event *event, const struct timeval *, void *userdata)
{
    auto *device = static_cast<WaveOutDevice *>(userdata);
    ReturnOverdueBlocks(device);
    pa_stream *stream = device->Stream;
    if (!device->Queue.empty() && !device->TimingAsked && stream && pa_stream_get_state(stream) == PA_STREAM_READY) {
        device->Timing = pa_stream_update_timing_info(stream, TimingArrived, device);
        device->TimingAsked = device->Timing != nullptr;
    }
    struct timeval next;
    pa_timeval_add(pa_gettimeofday(&next), PollUsec);
    device->Server.Api()->time_restart(event, &next);
}

// Event thread: nothing queued will be heard, so every block goes back
// rather than keep the caller waiting.
void Break(WaveOutDevice *device)
{
    device->Broken = true;
    device->Played = device->BytesWritten;
    while (!device->Queue.empty()) {
        ReturnBlock(device);
    }
}

void StreamStateChanged(pa_stream *stream, void *userdata)
{
    auto *device = static_cast<WaveOutDevice *>(userdata);
    if (stream == device->Stream && !PA_STREAM_IS_GOOD(pa_stream_get_state(stream))) {
        // The server is gone or took the output away.
        Break(device);
    }
    device->Server.Signal();
}

// A stream still being made cannot be disconnected yet: it is disconnected
// as soon as it is ready, so that it never stays behind on the server.
void DisconnectOnceReady(pa_stream *stream, void *)
{
    pa_stream_state_t state = pa_stream_get_state(stream);
    if (state == PA_STREAM_READY) {
        pa_stream_disconnect(stream);
    } else if (!PA_STREAM_IS_GOOD(state)) {
        pa_stream_set_state_callback(stream, nullptr, nullptr);
        pa_stream_unref(stream);
    }
}

// The sink a new stream plays on: the device's own, else the current
// output when the program chose one, else none (the server's default).
std::string TargetSink(WaveOutDevice *device)
{
    if (!device->SinkName.empty()) {
        return device->SinkName;
    }
    return device->Server.PinnedOutput().empty() ? std::string()
                                                 : device->Server.CurrentOutput(device->Server.Snapshot());
}

pa_stream *NewStream(WaveOutDevice *device)
{
    pa_context *context = device->Server.Context();
    if (!context) {
        return nullptr;
    }
    pa_stream *stream = pa_stream_new(context, "Glimmerbox", &device->Spec, &device->Map);
    if (!stream) {
        return nullptr;
    }
    pa_stream_set_state_callback(stream, StreamStateChanged, device);
    pa_stream_set_write_callback(stream, StreamWantsData, device);
    pa_buffer_attr attributes;
    attributes.maxlength = static_cast<uint32_t>(-1);
    attributes.tlength = static_cast<uint32_t>(pa_usec_to_bytes(TargetBufferUsec, &device->Spec));
    attributes.prebuf = static_cast<uint32_t>(-1);
    attributes.minreq = static_cast<uint32_t>(pa_usec_to_bytes(RefillUsec, &device->Spec));
    attributes.fragsize = static_cast<uint32_t>(-1);
    auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_EARLY_REQUESTS |
                                                (device->Paused ? PA_STREAM_START_CORKED : PA_STREAM_NOFLAGS));
    std::string target = TargetSink(device);
    const char *sink = target.empty() ? nullptr : target.c_str();
    if (pa_stream_connect_playback(stream, sink, &attributes, flags, nullptr, nullptr) < 0) {
        pa_stream_set_state_callback(stream, nullptr, nullptr);
        pa_stream_set_write_callback(stream, nullptr, nullptr);
        pa_stream_unref(stream);
        return nullptr;
    }
    return stream;
}

// The drain asked for, and the wait after its answer, no longer count.
void ForgetDrain(WaveOutDevice *device)
{
    CancelOperation(device->Drain);
    CancelOperation(device->SinkLatency);
    FreeDrainTimer(device);
}

void DropStream(WaveOutDevice *device)
{
    ForgetDrain(device);
    CancelOperation(device->Timing);
    device->Dry = false;
    if (pa_stream *stream = device->Stream) {
        device->Stream = nullptr;
        pa_stream_set_write_callback(stream, nullptr, nullptr);
        if (pa_stream_get_state(stream) == PA_STREAM_CREATING) {
            pa_stream_set_state_callback(stream, DisconnectOnceReady, nullptr);
        } else {
            pa_stream_set_state_callback(stream, nullptr, nullptr);
            pa_stream_disconnect(stream);
            pa_stream_unref(stream);
        }
    }
    device->BytesWritten = 0;
    device->ServerEnd = 0;
    device->Played = 0;
    device->TimingAsked = false;
}

// Waits for the stream to be ready or to fail; not on the event thread.
MMRESULT AwaitStream(WaveOutDevice *device, ServerCall &call)
{
    pa_stream *stream = device->Stream;
    call.WaitUntil([stream] {
        pa_stream_state_t state = pa_stream_get_state(stream);
        return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
    });
    switch (pa_stream_get_state(stream)) {
    case PA_STREAM_READY:
        return MMSYSERR_NOERROR;
    case PA_STREAM_FAILED:
        switch (pa_context_errno(call.Context())) {
        case PA_ERR_NOTSUPPORTED:
        case PA_ERR_INVALID:
            return WAVERR_BADFORMAT;
        case PA_ERR_NOENTITY:
            return MMSYSERR_NODRIVER;
        default:
            return MMSYSERR_ERROR;
        }
    default:
        return MMSYSERR_ERROR;
    }
}

// Finds the sink that device number id names (WAVE_MAPPER: the current
// output, whichever it is when a stream starts).
MMRESULT ChooseSink(WaveOutDevice *device, uint32_t id)
{
    platform::ServerSnapshot snapshot = device->Server.Snapshot();
    auto outputs = platform::OutputDevices(snapshot);
    if (outputs.empty()) {
        return MMSYSERR_NODRIVER;
    }
    if (id == WAVE_MAPPER) {
        return MMSYSERR_NOERROR;
    }
    if (id >= outputs.size()) {
        return MMSYSERR_BADDEVICEID;
    }
    device->SinkName = outputs[id]->Name;
    return MMSYSERR_NOERROR;
}

void ModelChanged(WaveOutDevice *device, const ModelEvent &event)
{
    switch (event.What) {
    case ModelEvent::Lost:
        DropStream(device);
        Break(device);
        break;
    case ModelEvent::Shutdown:
        // The program ends with the device open: nothing more is posted.
        DropStream(device);
        device->Post = nullptr;
        device->Broken = true;
        break;
    case ModelEvent::Changed:
        break;
    }
}

// With the loop locked.
void ReleaseDevice(WaveOutDevice *device)
{
    if (device->Timer) {
        device->Server.Api()->time_free(device->Timer);
        device->Timer = nullptr;
    }
    DropStream(device);
    if (device->Listener) {
        device->Server.RemoveListener(device->Listener);
        device->Listener = 0;
    }
}

void CloseDevice(WaveOutDevice *device)
{
    device->Server.Lock();
    ReleaseDevice(device);
    device->Server.Unlock();
    delete device;
}

// Event thread: hands back the blocks a reset took off the queue, in order.
// A block the post function writes again joins the new queue, not these.
void ReturnTakenBlocks(WaveOutDevice *device)
{
    std::deque<Block> taken;
    taken.swap(device->Returning);
    device->ReturnsPending = false;
    for (Block &block : taken) {
        SetFlags(block.Header, WHDR_DONE, WHDR_INQUEUE);
        PostToWindow(device, MM_WOM_DONE, reinterpret_cast<intptr_t>(block.Header));
    }
    device->Server.Signal();
}

void ReturnDeferred(pa_mainloop_api *api, pa_defer_event *event, void *userdata)
{
    api->defer_free(event);
    auto *device = static_cast<WaveOutDevice *>(userdata);
    if (device->ReturnsPending) {
        ReturnTakenBlocks(device);
    }
}

// Returns every queued block as done before it returns (reset and cut).
// The queued blocks go back from the event thread, each once; the queue
// starts empty, so a block written again while they go back is queued anew.
void HandBackQueue(WaveOutDevice *device, ServerCall &call)
{
    SoundServer &server = device->Server;
    for (Block &block : device->Queue) {
        device->Returning.push_back(block);
    }
    device->Queue.clear();
    if (server.InEventThread()) {
        ReturnTakenBlocks(device);
    } else if (!device->Returning.empty()) {
        device->ReturnsPending = true;
        pa_mainloop_api *api = server.Api();
        pa_defer_event *event = api->defer_new(api, ReturnDeferred, device);
        if (!event || !call.WaitForEventThread([device] { return !device->ReturnsPending; })) {
            // The event thread is held up (a post function that does not
            // return): no block may stay out.
            ReturnTakenBlocks(device);
            if (event) {
                api->defer_enable(event, 0);
                api->defer_free(event);
            }
        }
    }
}

// Writes silence over [from, BytesWritten) on the server, which leaves its
// write index at BytesWritten (ServerEnd).
bool SilenceFrom(WaveOutDevice *device, uint64_t from)
{
    pa_stream *stream = device->Stream;
    uint64_t at = from;
    while (at < device->BytesWritten) {
        void *buffer = nullptr;
        size_t size = device->BytesWritten - at;
        if (pa_stream_begin_write(stream, &buffer, &size) < 0 || !buffer) {
            return false;
        }
        size = std::min<size_t>(size, device->BytesWritten - at);
        size -= size % pa_frame_size(&device->Spec);
        if (size == 0) {
            pa_stream_cancel_write(stream);
            return false;
        }
        // Unsigned 8-bit samples are silent at 128, the others at 0.
        std::memset(buffer, device->Spec.format == PA_SAMPLE_U8 ? 0x80 : 0, size);
        const int64_t back = static_cast<int64_t>(at) - static_cast<int64_t>(device->ServerEnd);
        if (pa_stream_write(stream, buffer, size, nullptr, back, PA_SEEK_RELATIVE) < 0) {
            return false;
        }
        at += size;
        device->ServerEnd = at;
    }
    return true;
}

// Where a cut can go: beyond what the server has taken (its read index,
// moved on by the time since it was reported) by the lead, while it plays;
// at what it has taken while it is held. Never before what has been heard,
// never beyond what was written; on a frame boundary.
uint64_t CutPoint(WaveOutDevice *device)
{
    const uint64_t frame = pa_frame_size(&device->Spec);
    const uint64_t heard = PlayedBytes(device);
    uint64_t cut = heard;
    const pa_timing_info *timing = pa_stream_get_timing_info(device->Stream);
    if (timing && !timing->read_index_corrupt && timing->read_index >= 0) {
        cut = std::max(cut, static_cast<uint64_t>(timing->read_index));
        if (timing->playing) {
            const pa_usec_t age = std::min(pa_timeval_age(&timing->timestamp), TargetBufferUsec);
            cut += pa_usec_to_bytes(age + CutLeadUsec, &device->Spec);
        }
    } else if (!device->Paused) {
        cut += pa_usec_to_bytes(CutLeadUsec, &device->Spec);
    }
    cut = (cut + frame - 1) / frame * frame;
    return std::min(cut, device->BytesWritten);
}

} // namespace

extern "C" {

GLIMMER_EXPORT MMRESULT waveOutOpen(HWAVEOUT *phwo, uint32_t uDeviceID, const WAVEFORMATEX *pwfx, void *window,
                                    PostMessageFn post, uintptr_t, uint32_t fdwOpen)
{
    bool query = (fdwOpen & WAVE_FORMAT_QUERY) != 0;
    if (!pwfx || (!phwo && !query)) {
        return MMSYSERR_INVALPARAM;
    }
    uint32_t callback = fdwOpen & CALLBACK_TYPEMASK;
    if (callback != CALLBACK_NULL && callback != CALLBACK_WINDOW) {
        return MMSYSERR_INVALFLAG;
    }
    if (callback == CALLBACK_WINDOW && !post) {
        return MMSYSERR_INVALPARAM;
    }
    if (phwo) {
        *phwo = nullptr;
    }
    pa_sample_spec spec{};
    if (!FormatToSpec(*pwfx, spec)) {
        return WAVERR_BADFORMAT;
    }

    WaveOutDevice *device = new (std::nothrow) WaveOutDevice;
    if (!device) {
        return MMSYSERR_NOMEM;
    }
    device->Spec = spec;
    pa_channel_map_init_extend(&device->Map, spec.channels, PA_CHANNEL_MAP_WAVEEX);
    if (callback == CALLBACK_WINDOW) {
        device->Window = window;
        device->Post = post;
    }

    MMRESULT result = MMSYSERR_NOERROR;
    {
        ServerCall call;
        if (device->Server.InEventThread()) {
            result = MMSYSERR_ERROR;
        } else if (!call.Usable()) {
            result = MMSYSERR_NODRIVER;
        } else {
            result = ChooseSink(device, uDeviceID);
        }
        if (result == MMSYSERR_NOERROR) {
            device->Stream = NewStream(device);
            result = device->Stream ? AwaitStream(device, call) : WAVERR_BADFORMAT;
        }
        if (result == MMSYSERR_NOERROR && !query) {
            struct timeval first;
            pa_timeval_add(pa_gettimeofday(&first), PollUsec);
            pa_mainloop_api *api = device->Server.Api();
            device->Timer = api->time_new(api, &first, Poll, device);
            device->Listener =
                device->Server.AddListener([device](const ModelEvent &event) { ModelChanged(device, event); });
        }
        if (result != MMSYSERR_NOERROR || query) {
            ReleaseDevice(device);
        }
    }
    if (result != MMSYSERR_NOERROR || query) {
        delete device;
        return result;
    }
    {
        std::lock_guard<std::mutex> lock(registryMutex);
        openDevices.insert(device);
    }
    *phwo = device;
    PostToWindow(device, MM_WOM_OPEN, 0);
    return MMSYSERR_NOERROR;
}

GLIMMER_EXPORT MMRESULT waveOutPrepareHeader(HWAVEOUT hwo, WAVEHDR *pwh, uint32_t cbwh)
{
    if (!IsOpen(hwo)) {
        return MMSYSERR_INVALHANDLE;
    }
    if (!pwh || !HeaderSizeOk(cbwh) || (!pwh->lpData && pwh->dwBufferLength > 0)) {
        return MMSYSERR_INVALPARAM;
    }
    if (Flags(pwh) & WHDR_INQUEUE) {
        return WAVERR_STILLPLAYING;
    }
    SetFlags(pwh, WHDR_PREPARED, 0);
    return MMSYSERR_NOERROR;
}

GLIMMER_EXPORT MMRESULT waveOutUnprepareHeader(HWAVEOUT hwo, WAVEHDR *pwh, uint32_t cbwh)
{
    if (!IsOpen(hwo)) {
        return MMSYSERR_INVALHANDLE;
    }
    if (!pwh || !HeaderSizeOk(cbwh)) {
        return MMSYSERR_INVALPARAM;
    }
    if (Flags(pwh) & WHDR_INQUEUE) {
        return WAVERR_STILLPLAYING;
    }
    SetFlags(pwh, 0, WHDR_PREPARED);
    return MMSYSERR_NOERROR;
}

GLIMMER_EXPORT MMRESULT waveOutWrite(HWAVEOUT hwo, WAVEHDR *pwh, uint32_t cbwh)
{
    if (!IsOpen(hwo)) {
        return MMSYSERR_INVALHANDLE;
    }
    if (!pwh || !HeaderSizeOk(cbwh) || (!pwh->lpData && pwh->dwBufferLength > 0)) {
        return MMSYSERR_INVALPARAM;
    }
    uint32_t flags = Flags(pwh);
    if (!(flags & WHDR_PREPARED)) {
        return WAVERR_UNPREPARED;
    }
    if (flags & WHDR_INQUEUE) {
        return WAVERR_STILLPLAYING;
    }
    WaveOutDevice *device = hwo;
    device->Server.Lock();
    struct Unlock {
        SoundServer &Server;
        ~Unlock() { Server.Unlock(); }
    } unlock{device->Server};
    if (device->Broken) {
        return MMSYSERR_NODRIVER;
    }
    SetFlags(pwh, WHDR_INQUEUE, WHDR_DONE);
    const uint32_t frame = static_cast<uint32_t>(pa_frame_size(&device->Spec));
    try {
        device->Queue.push_back(Block{pwh, pwh->dwBufferLength - pwh->dwBufferLength % frame});
    } catch (const std::bad_alloc &) {
        SetFlags(pwh, 0, WHDR_INQUEUE);
        return MMSYSERR_NOMEM;
    }
    if (device->Stream && pa_stream_get_state(device->Stream) == PA_STREAM_READY) {
        size_t room = pa_stream_writable_size(device->Stream);
        if (room != static_cast<size_t>(-1)) {
            Fill(device, room);
        }
    }
    return MMSYSERR_NOERROR;
}

static MMRESULT Cork(HWAVEOUT hwo, bool pause)
{
    if (!IsOpen(hwo)) {
        return MMSYSERR_INVALHANDLE;
    }
    WaveOutDevice *device = hwo;
    ServerCall call;
    device->Paused = pause;
    if (!device->Stream || device->Broken) {
        return MMSYSERR_NOERROR;
    }
    bool inEventThread = device->Server.InEventThread();
    if (!inEventThread && !call.Usable()) {
        return MMSYSERR_ERROR;
    }
    pa_operation *op = pa_stream_cork(device->Stream, pause ? 1 : 0, nullptr, nullptr);
    if (!op) {
        return MMSYSERR_ERROR;
    }
    // A start asked for while paused is forgotten: blocks written during the
    // pause that are shorter than the server's start-up buffer would wait
    // for ever, so ask again now that the stream runs.
    if (!pause && device->BytesWritten > 0 && AllHandedOver(device)) {
        if (pa_operation *trigger = pa_stream_trigger(device->Stream, nullptr, nullptr)) {
            pa_operation_unref(trigger);
        }
    }
    AskDrain(device);
    if (inEventThread) {
        pa_operation_unref(op);
        return MMSYSERR_NOERROR;
    }
    return call.Await(op) ? MMSYSERR_NOERROR : MMSYSERR_ERROR;
}

GLIMMER_EXPORT MMRESULT waveOutPause(HWAVEOUT hwo)
{
    return Cork(hwo, true);
}

GLIMMER_EXPORT MMRESULT waveOutRestart(HWAVEOUT hwo)
{
    return Cork(hwo, false);
}

GLIMMER_EXPORT MMRESULT waveOutReset(HWAVEOUT hwo)
{
    if (!IsOpen(hwo)) {
        return MMSYSERR_INVALHANDLE;
    }
    WaveOutDevice *device = hwo;
    ServerCall call;
    SoundServer &server = device->Server;
    // Dropping the stream silences it at once; a new one starts from 0.
    DropStream(device);
    device->Paused = false;
    HandBackQueue(device, call);
    // A device opened by number whose output has gone has nothing to play on
    // (some servers would take a new stream for it all the same).
    bool outputGone = !device->SinkName.empty() && !platform::FindDevice(server.Snapshot().Sinks, device->SinkName);
    if (device->Broken || !server.Context() || outputGone) {
        device->Broken = true;
        return MMSYSERR_NODRIVER;
    }
    device->Stream = NewStream(device);
    if (!device->Stream) {
        device->Broken = true;
        return MMSYSERR_ERROR;
    }
    if (server.InEventThread()) {
        return MMSYSERR_NOERROR;
    }
    // Whatever comes next (a pause, a write) finds the new stream ready.
    MMRESULT result = call.Usable() ? AwaitStream(device, call) : MMSYSERR_NODRIVER;
    if (result != MMSYSERR_NOERROR) {
        DropStream(device);
        device->Broken = true;
    }
    return result;
}

GLIMMER_EXPORT MMRESULT waveOutCut(HWAVEOUT hwo, uint32_t *pcbCut)
{
    if (!IsOpen(hwo)) {
        return MMSYSERR_INVALHANDLE;
    }
    if (!pcbCut) {
        return MMSYSERR_INVALPARAM;
    }
    WaveOutDevice *device = hwo;
    ServerCall call;
    if (device->Broken || !device->Stream) {
        return MMSYSERR_NODRIVER;
    }
    if (pa_stream_get_state(device->Stream) != PA_STREAM_READY) {
        return MMSYSERR_ERROR;
    }
    // A fresh read index when the server can be asked; the event thread
    // makes do with the last one, at most a poll old.
    if (!device->Queue.empty() && call.Usable()) {
        call.Await(pa_stream_update_timing_info(device->Stream, nullptr, nullptr));
        if (device->Broken || !device->Stream) {
            return MMSYSERR_NODRIVER;
        }
    }
    // Nothing queued, or all of it already taken by a stream that ran dry:
    // nothing left to change.
    const uint64_t cut = device->Queue.empty() || device->Dry ? device->BytesWritten : CutPoint(device);
    if (cut < device->BytesWritten) {
        // What was dropped is silenced where the server holds it; the next
        // data goes back to the cut (Fill) and covers it.
        if (!SilenceFrom(device, cut)) {
            return MMSYSERR_ERROR;
        }
        device->BytesWritten = cut;
        device->Dry = false;
    }
    // Whatever the drain and the backstop were waiting for is gone.
    ForgetDrain(device);
    device->HeardBy = {};
    HandBackQueue(device, call);
    *pcbCut = static_cast<uint32_t>(cut);
    return MMSYSERR_NOERROR;
}

GLIMMER_EXPORT MMRESULT waveOutGetPosition(HWAVEOUT hwo, MMTIME *pmmt, uint32_t cbmmt)
{
    if (!IsOpen(hwo)) {
        return MMSYSERR_INVALHANDLE;
    }
    if (!pmmt || cbmmt < sizeof(MMTIME)) {
        return MMSYSERR_INVALPARAM;
    }
    WaveOutDevice *device = hwo;
    device->Server.Lock();
    bool broken = device->Broken;
    uint64_t bytes = PlayedBytes(device);
    device->Server.Unlock();
    if (broken) {
        return MMSYSERR_NODRIVER;
    }
    const uint64_t frame = pa_frame_size(&device->Spec);
    const uint64_t frames = bytes / frame;
    switch (pmmt->wType) {
    case TIME_SAMPLES:
        pmmt->u.sample = static_cast<uint32_t>(frames);
        break;
    case TIME_MS:
        pmmt->u.ms = static_cast<uint32_t>(frames * 1000 / device->Spec.rate);
        break;
    default:
        pmmt->wType = TIME_BYTES;
        pmmt->u.cb = static_cast<uint32_t>(frames * frame);
        break;
    }
    return MMSYSERR_NOERROR;
}

GLIMMER_EXPORT MMRESULT waveOutClose(HWAVEOUT hwo)
{
    if (!IsOpen(hwo)) {
        return MMSYSERR_INVALHANDLE;
    }
    WaveOutDevice *device = hwo;
    {
        if (device->Server.InEventThread()) {
            return MMSYSERR_ERROR;
        }
        device->Server.Lock();
        bool queued = !device->Queue.empty();
        device->Server.Unlock();
        if (queued) {
            return WAVERR_STILLPLAYING;
        }
    }
    {
        std::lock_guard<std::mutex> lock(registryMutex);
        openDevices.erase(device);
    }
    void *window = device->Window;
    PostMessageFn post = device->Post;
    const auto handle = reinterpret_cast<uintptr_t>(hwo);
    CloseDevice(device);
    if (post) {
        post(window, MM_WOM_CLOSE, handle, 0);
    }
    return MMSYSERR_NOERROR;
}

} // extern "C"
