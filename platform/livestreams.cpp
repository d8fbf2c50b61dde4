// SPDX-License-Identifier: GPL-3.0-or-later
// The live voice's streams on the process's one connection.
//
//   source -> record stream -> read callback (event thread) -> block callback
//          -> playback stream -> sink
//
// Every piece the record stream hands over goes to the callback whole and in
// order (a hole the server reports, data it lost, as that much silence), and
// exactly as many samples as came in are written to the playback stream at
// once, whatever it asks for: nothing is dropped or repeated on our side.
//
// Timing. The record stream delivers a fragment of the latency L at a time;
// the sink takes its own stretches, in its own rhythm. So the playback
// stream starts only with the first recorded fragment, behind
// PrebufferFragments fragments of silence: what the sink holds then dips by
// at most a fragment of its own before the next one comes. Its prebuffer is
// that silence, so that should it run dry all the same (a machine too busy
// to run us), the server waits for as much again before it plays on: both
// servers then play what came late after a gap, instead of skipping it
// (PulseAudio would skip it with no prebuffer).
//
// The playback stream asks for a buffer of 2 L, refilled L / 2 at a time:
// PulseAudio gives the sink L / 2 of that, and PipeWire's service runs the
// stream in graph cycles of L. L is at least MinimumLatencyMs: PipeWire
// 0.3.65 runs a graph in cycles of the shortest latency any stream in it
// asks for, rounded down to a power of two, and with cycles of 128 samples
// at 22050 Hz (a record stream asking for 10 ms) a remap source in the graph
// (a loopback, as Glimmerbox Voice is) was seen to stop for good after a
// second or two, on an idle machine. 12 ms makes cycles of 256 samples at
// 22050 Hz and more at higher graph rates; none stopped in many runs.
//
// Neither stream may move (PA_STREAM_DONT_MOVE): when its device goes the
// server ends it, and the live voice stops instead of going on from another
// input. A server that keeps such a stream but feeds it nothing once its
// source is gone is found out from the model, which no longer lists it.
#include "platform/livestreams.h"

#include "platform/soundserver.h"
#include "platform/virtualmic.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

namespace platform {

namespace {

constexpr uint32_t PrebufferFragments = 2;
constexpr uint32_t MinimumLatencyMs = 12;
constexpr uint32_t LongestLatencyMs = 1000;

} // namespace

struct TLiveStreams::TState {
    std::mutex ApiMutex;
    SoundServer &Server = SoundServer::Instance();
    int Listener = 0;

    // Below: guarded by the loop lock.
    bool Running = false;
    TBlock Block;
    TFailure Failure;
    std::string Source;
    std::string Sink;
    pa_sample_spec Spec{};
    pa_stream *Record = nullptr;
    pa_stream *Playback = nullptr;
    size_t SilenceBytes = 0;
    bool Primed = false;  // the silence ahead of the first block is written
    bool Calling = false; // in the block callback, which may stop the streams
    bool HasCarry = false;
    unsigned char Carry = 0; // a sample's first byte, when a piece split it
    std::vector<int16_t> In;
    std::vector<int16_t> Out;

    void ServerEvent(const ModelEvent &event);
    void Fail(const char *text);
    void DropStreams();
    void StopLocked();
    void ReadAvailable();
    void Process(const int16_t *in, size_t count);
    void Append(const unsigned char *bytes, size_t size);
    pa_stream *Open(ServerCall &call, bool record, uint32_t latencyMs, std::string &error);
    static void DataArrived(pa_stream *, size_t, void *userdata);
    static void StateChanged(pa_stream *stream, void *userdata);
};

TLiveStreams::TLiveStreams() : state_(std::make_unique<TState>())
{
    TState *state = state_.get();
    state->Server.Lock();
    state->Listener = state->Server.AddListener([state](const ModelEvent &event) { state->ServerEvent(event); });
    state->Server.Unlock();
}

TLiveStreams::~TLiveStreams()
{
    Stop();
    state_->Server.Lock();
    state_->Server.RemoveListener(state_->Listener);
    state_->Server.Unlock();
}

void TLiveStreams::TState::ServerEvent(const ModelEvent &event)
{
    if (!Running) {
        return;
    }
    switch (event.What) {
    case ModelEvent::Shutdown:
        // The process ends: nobody is left to tell.
        StopLocked();
        break;
    case ModelEvent::Lost:
        Fail(LiveServerLost);
        break;
    case ModelEvent::Changed:
        if (!FindDevice(event.After->Sources, Source)) {
            Fail(LiveInputLost);
        } else if (!FindDevice(event.After->Sinks, Sink)) {
            Fail(LiveOutputLost);
        }
        break;
    }
}

void TLiveStreams::TState::DropStreams()
{
    // Paused first: PipeWire 0.3.65 otherwise plays the playback stream's
    // last cycle over again a few times as it goes.
    if (Playback && pa_stream_get_state(Playback) == PA_STREAM_READY) {
        if (pa_operation *op = pa_stream_cork(Playback, 1, nullptr, nullptr)) {
            pa_operation_unref(op);
        }
    }
    for (pa_stream **stream : {&Record, &Playback}) {
        if (*stream) {
            pa_stream_set_state_callback(*stream, nullptr, nullptr);
            pa_stream_set_read_callback(*stream, nullptr, nullptr);
            pa_stream_disconnect(*stream);
            pa_stream_unref(*stream);
            *stream = nullptr;
        }
    }
}

void TLiveStreams::TState::StopLocked()
{
    Running = false;
    DropStreams();
    // The callbacks' captures go now, not at the next start (the block
    // callback's as soon as it returns, when it is the one stopping).
    if (!Calling) {
        Block = nullptr;
    }
    Failure = nullptr;
}

// Event thread, loop locked.
void TLiveStreams::TState::Fail(const char *text)
{
    if (!Running) {
        return;
    }
    TFailure failure = std::move(Failure);
    StopLocked();
    if (failure) {
        failure(text);
    }
}

void TLiveStreams::TState::StateChanged(pa_stream *stream, void *userdata)
{
    auto *self = static_cast<TState *>(userdata);
    SoundServer &server = self->Server; // the failure callback may end the streams' owner
    if (self->Running && (stream == self->Record || stream == self->Playback) &&
        !PA_STREAM_IS_GOOD(pa_stream_get_state(stream))) {
        // libpulse fails the streams after their context: a context that
        // is not ready means the server went.
        if (pa_context_get_state(pa_stream_get_context(stream)) != PA_CONTEXT_READY) {
            self->Fail(LiveServerLost);
        } else {
            self->Fail(stream == self->Record ? LiveInputLost : LiveOutputLost);
        }
    }
    server.Signal();
}

void TLiveStreams::TState::DataArrived(pa_stream *, size_t, void *userdata)
{
    static_cast<TState *>(userdata)->ReadAvailable();
}

void TLiveStreams::TState::ReadAvailable()
{
    while (Running && Record && pa_stream_readable_size(Record) > 0) {
        const void *data = nullptr;
        size_t bytes = 0;
        if (pa_stream_peek(Record, &data, &bytes) < 0 || bytes == 0) {
            return;
        }
        pa_stream *record = Record;
        if (data) {
            Append(static_cast<const unsigned char *>(data), bytes);
        } else {
            // A hole: what the server lost, as silence, so that the voice
            // keeps its timing.
            std::vector<unsigned char> silence(bytes, 0);
            Append(silence.data(), bytes);
        }
        // The callback may have stopped the streams.
        if (Record == record) {
            pa_stream_drop(Record);
        }
    }
}

// Whole samples from a piece of the record stream (s16le), in order.
void TLiveStreams::TState::Append(const unsigned char *bytes, size_t size)
{
    if (size == 0) {
        return;
    }
    if (HasCarry) {
        const int16_t first = static_cast<int16_t>(Carry | (bytes[0] << 8));
        HasCarry = false;
        bytes++;
        size--;
        Process(&first, 1);
        if (!Running) {
            return;
        }
    }
    const size_t count = size / 2;
    if (count > 0) {
        if (In.size() < count) {
            In.resize(count);
        }
        std::memcpy(In.data(), bytes, count * 2);
        Process(In.data(), count);
    }
    if (size % 2 != 0) {
        Carry = bytes[size - 1];
        HasCarry = true;
    }
}

void TLiveStreams::TState::Process(const int16_t *in, size_t count)
{
    if (Out.size() < count) {
        Out.resize(count);
    }
    std::fill_n(Out.begin(), count, int16_t{0});
    Calling = true;
    Block(in, Out.data(), static_cast<int32_t>(count));
    Calling = false;
    if (!Running) {
        Block = nullptr;
        return;
    }
    if (!Primed) {
        std::vector<unsigned char> silence(SilenceBytes, 0);
        pa_stream_write(Playback, silence.data(), silence.size(), nullptr, 0, PA_SEEK_RELATIVE);
        Primed = true;
    }
    pa_stream_write(Playback, Out.data(), count * 2, nullptr, 0, PA_SEEK_RELATIVE);
}

pa_stream *TLiveStreams::TState::Open(ServerCall &call, bool record, uint32_t latencyMs, std::string &error)
{
    pa_channel_map map;
    pa_channel_map_init_mono(&map);
    pa_stream *stream =
        pa_stream_new(call.Context(), record ? "Glimmerbox live input" : "Glimmerbox live voice", &Spec, &map);
    if (!stream) {
        error = "the sound server refused the live voice's format";
        return nullptr;
    }
    pa_stream_set_state_callback(stream, StateChanged, this);
    const auto latency = static_cast<uint32_t>(pa_usec_to_bytes(latencyMs * PA_USEC_PER_MSEC, &Spec));
    pa_buffer_attr attributes;
    std::memset(&attributes, 0xff, sizeof attributes);
    int result;
    if (record) {
        attributes.fragsize = latency;
        auto flags =
            static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE | PA_STREAM_START_CORKED);
        result = pa_stream_connect_record(stream, Source.c_str(), &attributes, flags);
    } else {
        attributes.tlength = 2 * latency;
        attributes.minreq = static_cast<uint32_t>(pa_usec_to_bytes(latencyMs * PA_USEC_PER_MSEC / 2, &Spec));
        attributes.prebuf = static_cast<uint32_t>(SilenceBytes);
        auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE);
        result = pa_stream_connect_playback(stream, Sink.c_str(), &attributes, flags, nullptr, nullptr);
    }
    if (result == 0) {
        call.WaitUntil([stream] {
            pa_stream_state_t state = pa_stream_get_state(stream);
            return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
        });
        if (pa_stream_get_state(stream) == PA_STREAM_READY) {
            return stream;
        }
    }
    const int failure = pa_context_errno(call.Context());
    pa_stream_set_state_callback(stream, nullptr, nullptr);
    pa_stream_disconnect(stream);
    pa_stream_unref(stream);
    if (!call.Server().Answering()) {
        error = "the sound server does not answer";
    } else if (failure == PA_ERR_NOENTITY) {
        error = record ? "the sound input is not available" : "the sound output is not available";
    } else {
        error = record ? "the sound server refused to record the sound input"
                       : "the sound server refused to play into the sound output";
    }
    return nullptr;
}

bool TLiveStreams::Start(const TLiveStreamSettings &settings, TBlock block, TFailure failure, std::string &error)
{
    TState &s = *state_;
    std::lock_guard<std::mutex> api(s.ApiMutex);
    if (!block) {
        error = "there is nothing to process the live voice";
        return false;
    }
    if (settings.Rate < 1000 || settings.Rate > 192000 || settings.LatencyMs > LongestLatencyMs) {
        error = "the live voice's format is not supported";
        return false;
    }
    ServerCall call;
    if (s.Running) {
        error = "the live voice is running already";
        return false;
    }
    if (!call.Usable()) {
        error = "the sound server is not available";
        return false;
    }
    ServerSnapshot model = s.Server.Snapshot();
    std::string source = settings.Source.empty() ? s.Server.CurrentInput(model) : settings.Source;
    std::string sink = settings.Sink.empty() ? s.Server.CurrentOutput(model) : settings.Sink;
    if (TVirtualMicrophone::IsVirtualMicDevice(source)) {
        error = std::string(VirtualMicDescription) + " cannot be the live voice's own input";
        return false;
    }
    // A device just made may not be in the model yet; the model must list
    // both, or its next change would count them as gone.
    if (!FindDevice(model.Sources, source) || !FindDevice(model.Sinks, sink)) {
        s.Server.Sync(call.Deadline());
        model = s.Server.Snapshot();
    }
    if (source.empty() || !FindDevice(model.Sources, source)) {
        error = "the sound input is not available";
        return false;
    }
    if (sink.empty() || !FindDevice(model.Sinks, sink)) {
        error = "the sound output is not available";
        return false;
    }

    s.Source = source;
    s.Sink = sink;
    s.Spec = pa_sample_spec{PA_SAMPLE_S16LE, settings.Rate, 1};
    const uint32_t latencyMs = std::max(settings.LatencyMs, MinimumLatencyMs);
    s.SilenceBytes = pa_usec_to_bytes(PrebufferFragments * latencyMs * PA_USEC_PER_MSEC, &s.Spec);
    s.Primed = false;
    s.HasCarry = false;
    // A second's worth, so that the stream thread rarely has to allocate.
    s.In.assign(settings.Rate, 0);
    s.Out.assign(settings.Rate, 0);
    s.Playback = s.Open(call, false, latencyMs, error);
    if (!s.Playback) {
        return false;
    }
    s.Record = s.Open(call, true, latencyMs, error);
    if (!s.Record) {
        s.DropStreams();
        return false;
    }
    s.Block = std::move(block);
    s.Failure = std::move(failure);
    s.Running = true;
    pa_stream_set_read_callback(s.Record, TState::DataArrived, &s);
    if (!call.Await(pa_stream_cork(s.Record, 0, nullptr, nullptr))) {
        s.StopLocked();
        error = "the sound server does not answer";
        return false;
    }
    return true;
}

void TLiveStreams::Stop()
{
    TState &s = *state_;
    if (s.Server.InEventThread()) {
        // From a callback: the loop is locked, and Start or Stop on another
        // thread waits for it.
        s.StopLocked();
        return;
    }
    std::lock_guard<std::mutex> api(s.ApiMutex);
    s.Server.Lock();
    s.StopLocked();
    s.Server.Unlock();
}

bool TLiveStreams::Running() const
{
    TState &s = *state_;
    s.Server.Lock();
    bool running = s.Running;
    s.Server.Unlock();
    return running;
}

} // namespace platform
