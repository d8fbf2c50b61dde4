// SPDX-License-Identifier: GPL-3.0-or-later
// The recorder: one PulseAudio record stream written straight into a WAVE
// file.
//
//   input (source, or a port of it) -> record stream -> read callback on the
//   event thread -> file, header patched every half second and at the stop
//                                    -> peaks of the last 200 ms -> level
//
// When the source goes away (the server moves the stream elsewhere, or the
// model no longer lists it) or the server does, the recording ends (the file
// is finished with all it holds) instead of going on from another input.
#include "platform/sqwaveplayer.h"

#include "platform/soundserver.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <new>
#include <string>
#include <vector>

using platform::Clock;
using platform::ModelEvent;
using platform::ServerCall;
using platform::SoundServer;

namespace {

constexpr uint32_t HeaderBytes = 44;
// A RIFF file counts its size in 32 bits.
constexpr uint64_t MaxDataBytes = 0xFFFFFFFFull - 36 - 1;
constexpr auto LevelWindow = std::chrono::milliseconds(200);
constexpr pa_usec_t FragmentUsec = 20 * PA_USEC_PER_MSEC;

void PutLE(unsigned char *at, uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; i++) {
        at[i] = static_cast<unsigned char>(value >> (8 * i));
    }
}

class Recorder {
public:
    Recorder();
    ~Recorder();
    int16_t Start(const char *fileName, uint32_t rate, uint16_t bits, uint16_t channels, uint16_t input);
    int16_t Stop();
    int32_t Level();
    int16_t State();
    int32_t WriteError();

private:
    static void DataArrived(pa_stream *stream, size_t, void *userdata);
    static void StateChanged(pa_stream *stream, void *userdata);
    static void Moved(pa_stream *stream, void *userdata);
    void ModelChanged(const ModelEvent &event);
    void ReadAvailable();
    void Append(const void *data, size_t bytes);
    bool WriteHeader();
    void DropStream();
    void FinishFile();
    void EndEarly();
    int16_t OpenStream(ServerCall &call, const std::string &source, const pa_sample_spec &spec);

    std::mutex apiMutex_;
    SoundServer &server_;
    int listener_ = 0;

    // Below: guarded by the loop lock.
    bool running_ = false;
    bool endedEarly_ = false; // the input or the server went away
    std::string source_;      // what is recorded
    pa_stream *stream_ = nullptr;
    pa_sample_spec spec_{};
    FILE *file_ = nullptr;
    bool writeFailed_ = false;
    int writeError_ = 0; // errno of the write that failed; kept until the next start
    uint64_t dataBytes_ = 0;
    uint64_t sincePatch_ = 0;
    std::deque<std::pair<Clock::time_point, int32_t>> peaks_;
};

Recorder::Recorder() : server_(SoundServer::Instance())
{
    server_.Lock();
    listener_ = server_.AddListener([this](const ModelEvent &event) { ModelChanged(event); });
    server_.Unlock();
}

Recorder::~Recorder()
{
    // A recording still running when the program ends keeps what it has.
    Stop();
    server_.Lock();
    server_.RemoveListener(listener_);
    server_.Unlock();
}

void Recorder::ModelChanged(const ModelEvent &event)
{
    if (!running_) {
        return;
    }
    // Some servers keep a stream that may not move, but feed it nothing,
    // once its source is gone: the model tells.
    if (event.What != ModelEvent::Changed || !platform::FindDevice(event.After->Sources, source_)) {
        EndEarly();
    }
}

int16_t Recorder::OpenStream(ServerCall &call, const std::string &source, const pa_sample_spec &spec)
{
    pa_channel_map map;
    pa_channel_map_init_extend(&map, spec.channels, PA_CHANNEL_MAP_WAVEEX);
    stream_ = pa_stream_new(call.Context(), "Glimmerbox recording", &spec, &map);
    if (!stream_) {
        return RECORD_ERROR_FORMAT;
    }
    pa_stream_set_state_callback(stream_, StateChanged, this);
    pa_buffer_attr attributes;
    std::memset(&attributes, 0xff, sizeof attributes);
    attributes.fragsize = static_cast<uint32_t>(pa_usec_to_bytes(FragmentUsec, &spec));
    auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_START_CORKED);
    pa_stream_set_moved_callback(stream_, Moved, this);
    if (pa_stream_connect_record(stream_, source.c_str(), &attributes, flags) < 0) {
        DropStream();
        return RECORD_ERROR_START;
    }
    pa_stream *stream = stream_;
    call.WaitUntil([stream] {
        pa_stream_state_t state = pa_stream_get_state(stream);
        return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
    });
    if (pa_stream_get_state(stream_) == PA_STREAM_READY) {
        return 0;
    }
    int error = pa_context_errno(call.Context());
    DropStream();
    if (error == PA_ERR_NOTSUPPORTED || error == PA_ERR_INVALID) {
        return RECORD_ERROR_FORMAT;
    }
    return error == PA_ERR_NOENTITY ? RECORD_ERROR_DEVICE : RECORD_ERROR_START;
}

void Recorder::DropStream()
{
    if (stream_) {
        pa_stream_set_state_callback(stream_, nullptr, nullptr);
        pa_stream_set_read_callback(stream_, nullptr, nullptr);
        pa_stream_set_moved_callback(stream_, nullptr, nullptr);
        pa_stream_disconnect(stream_);
        pa_stream_unref(stream_);
        stream_ = nullptr;
    }
}

bool Recorder::WriteHeader()
{
    const uint32_t frame = static_cast<uint32_t>(pa_frame_size(&spec_));
    const uint32_t bits = static_cast<uint32_t>(pa_sample_size(&spec_)) * 8;
    const uint32_t data = static_cast<uint32_t>(dataBytes_);
    unsigned char header[HeaderBytes];
    std::memcpy(header, "RIFF", 4);
    PutLE(header + 4, 36 + data + (data & 1), 4);
    std::memcpy(header + 8, "WAVEfmt ", 8);
    PutLE(header + 16, 16, 4);
    PutLE(header + 20, 1, 2); // PCM
    PutLE(header + 22, spec_.channels, 2);
    PutLE(header + 24, spec_.rate, 4);
    PutLE(header + 28, spec_.rate * frame, 4);
    PutLE(header + 32, frame, 2);
    PutLE(header + 34, bits, 2);
    std::memcpy(header + 36, "data", 4);
    PutLE(header + 40, data, 4);
    if (std::fseek(file_, 0, SEEK_SET) != 0 || std::fwrite(header, 1, HeaderBytes, file_) != HeaderBytes) {
        return false;
    }
    return std::fseek(file_, 0, SEEK_END) == 0;
}

void Recorder::Append(const void *data, size_t bytes)
{
    // Peak of this piece, in 16-bit terms.
    int32_t peak = 0;
    if (spec_.format == PA_SAMPLE_U8) {
        const auto *samples = static_cast<const uint8_t *>(data);
        for (size_t i = 0; i < bytes; i++) {
            peak = std::max(peak, std::abs(static_cast<int32_t>(samples[i]) - 128) * 256);
        }
    } else {
        const auto *bytesIn = static_cast<const unsigned char *>(data);
        for (size_t i = 0; i + 1 < bytes; i += 2) {
            auto sample = static_cast<int16_t>(bytesIn[i] | (bytesIn[i + 1] << 8));
            peak = std::max(peak, std::abs(static_cast<int32_t>(sample)));
        }
    }
    Clock::time_point now = Clock::now();
    peaks_.emplace_back(now, peak);
    while (!peaks_.empty() && now - peaks_.front().first > LevelWindow) {
        peaks_.pop_front();
    }

    if (writeFailed_ || !file_) {
        return;
    }
    const size_t fitting = static_cast<size_t>(std::min<uint64_t>(bytes, MaxDataBytes - dataBytes_));
    errno = 0;
    const size_t written = fitting > 0 ? std::fwrite(data, 1, fitting, file_) : 0;
    dataBytes_ += written;
    if (written != bytes) {
        // A full disk, a file-size limit, or a WAVE file at its largest: the
        // file keeps what fitted, and nothing more is tried.
        writeFailed_ = true;
        writeError_ = written != fitting ? (errno != 0 ? errno : EIO) : EFBIG;
        return;
    }
    sincePatch_ += bytes;
    if (sincePatch_ >= spec_.rate * pa_frame_size(&spec_) / 2) {
        sincePatch_ = 0;
        if (!WriteHeader()) {
            writeFailed_ = true;
            writeError_ = errno != 0 ? errno : EIO;
        }
    }
}

void Recorder::ReadAvailable()
{
    while (stream_ && pa_stream_readable_size(stream_) > 0) {
        const void *data = nullptr;
        size_t bytes = 0;
        if (pa_stream_peek(stream_, &data, &bytes) < 0 || bytes == 0) {
            return;
        }
        if (data) {
            Append(data, bytes);
        } else {
            // A hole: what the server lost is written as silence, so the
            // file keeps its timing.
            std::vector<unsigned char> silence(bytes, spec_.format == PA_SAMPLE_U8 ? 0x80 : 0);
            Append(silence.data(), bytes);
        }
        pa_stream_drop(stream_);
    }
}

void Recorder::DataArrived(pa_stream *, size_t, void *userdata)
{
    static_cast<Recorder *>(userdata)->ReadAvailable();
}

void Recorder::StateChanged(pa_stream *stream, void *userdata)
{
    auto *self = static_cast<Recorder *>(userdata);
    if (self->running_ && stream == self->stream_ && !PA_STREAM_IS_GOOD(pa_stream_get_state(stream))) {
        self->EndEarly();
    }
    self->server_.Signal();
}

// The server moved the stream to another source: its own went away (or
// someone moved it). Nothing from another input goes into the file.
void Recorder::Moved(pa_stream *stream, void *userdata)
{
    auto *self = static_cast<Recorder *>(userdata);
    const char *now = pa_stream_get_device_name(stream);
    if (self->running_ && stream == self->stream_ && (!now || self->source_ != now)) {
        self->EndEarly();
    }
}

// Event thread: the input or the server is gone. What arrived is in the
// file; the file is finished now, and the caller learns of it from State.
void Recorder::EndEarly()
{
    DropStream();
    FinishFile();
    running_ = false;
    endedEarly_ = true;
    peaks_.clear();
}

void Recorder::FinishFile()
{
    if (file_) {
        // A file that could not be written in full still ends up a valid
        // WAVE file holding what was written.
        if (dataBytes_ & 1) {
            std::fputc(0, file_);
        }
        WriteHeader();
        std::fclose(file_);
        file_ = nullptr;
    }
}

int16_t Recorder::Start(const char *fileName, uint32_t rate, uint16_t bits, uint16_t channels, uint16_t input)
{
    std::lock_guard<std::mutex> api(apiMutex_);
    if (!fileName || !*fileName) {
        return RECORD_ERROR_NOFILE;
    }
    ServerCall call;
    if (running_) {
        return RECORD_ERROR_BUSY;
    }
    if (server_.InEventThread()) {
        return RECORD_ERROR_START;
    }
    pa_sample_spec spec{};
    spec.format = bits == 8 ? PA_SAMPLE_U8 : PA_SAMPLE_S16LE;
    spec.rate = rate;
    spec.channels = static_cast<uint8_t>(channels);
    if ((bits != 8 && bits != 16) || channels < 1 || channels > 2 || rate < 1000 || rate > 192000) {
        return RECORD_ERROR_FORMAT;
    }
    try {
        if (!call.Usable()) {
            return RECORD_ERROR_DEVICE;
        }
        // The inputs as the mixer numbers them, of the same current device.
        platform::ServerSnapshot snapshot = server_.Snapshot();
        platform::RecordingInputs inputs = platform::ListRecordingInputs(snapshot, server_.PinnedInput());
        if (input >= inputs.Names.size()) {
            return RECORD_ERROR_DEVICE;
        }
        std::string source = inputs.Names[input];
        if (!inputs.PortOwner.empty()) {
            // The input is a port: make it the source's active one.
            source = inputs.PortOwner;
            std::string port = inputs.Names[input];
            if (inputs.Selected != input) {
                if (!call.Await(pa_context_set_source_port_by_name(call.Context(), source.c_str(), port.c_str(),
                                                                   nullptr, nullptr))) {
                    return RECORD_ERROR_DEVICE;
                }
                server_.Patch([&source, &port](platform::ServerSnapshot &model) {
                    for (platform::DeviceInfo &device : model.Sources) {
                        if (device.Name == source) {
                            device.ActivePort = port;
                        }
                    }
                });
            }
        }
        endedEarly_ = false;
        source_ = source;
        int16_t opened = OpenStream(call, source, spec);
        if (opened != 0) {
            return opened;
        }
        spec_ = spec;
        file_ = std::fopen(fileName, "wb");
        // Unbuffered: when the disk fills, what reached the file is known to
        // the byte, and the header written at the stop covers exactly that.
        if (file_) {
            std::setvbuf(file_, nullptr, _IONBF, 0);
        }
        dataBytes_ = 0;
        sincePatch_ = 0;
        writeFailed_ = false;
        writeError_ = 0;
        peaks_.clear();
        if (!file_ || !WriteHeader()) {
            if (file_) {
                std::fclose(file_);
                file_ = nullptr;
            }
            DropStream();
            return RECORD_ERROR_FILE;
        }
        pa_stream_set_read_callback(stream_, DataArrived, this);
        if (!call.Await(pa_stream_cork(stream_, 0, nullptr, nullptr))) {
            DropStream();
            std::fclose(file_);
            file_ = nullptr;
            return RECORD_ERROR_START;
        }
        running_ = true;
        return 0;
    } catch (const std::bad_alloc &) {
        DropStream();
        if (file_) {
            std::fclose(file_);
            file_ = nullptr;
        }
        return RECORD_ERROR_MEMORY;
    }
}

int16_t Recorder::Stop()
{
    std::lock_guard<std::mutex> api(apiMutex_);
    server_.Lock();
    struct Unlock {
        SoundServer &Server;
        ~Unlock() { Server.Unlock(); }
    } unlock{server_};
    endedEarly_ = false;
    if (!running_) {
        return 0;
    }
    // Whatever has reached us goes into the file, then the capture ends.
    try {
        ReadAvailable();
    } catch (const std::bad_alloc &) {
        if (!writeFailed_) {
            writeFailed_ = true;
            writeError_ = ENOMEM;
        }
    }
    DropStream();
    running_ = false;
    peaks_.clear();
    FinishFile();
    return 0;
}

int16_t Recorder::State()
{
    std::lock_guard<std::mutex> api(apiMutex_);
    server_.Lock();
    int16_t state = running_ ? RECORD_STATE_RUNNING : endedEarly_ ? RECORD_STATE_ENDED : RECORD_STATE_IDLE;
    server_.Unlock();
    return state;
}

int32_t Recorder::Level()
{
    std::lock_guard<std::mutex> api(apiMutex_);
    server_.Lock();
    struct Unlock {
        SoundServer &Server;
        ~Unlock() { Server.Unlock(); }
    } unlock{server_};
    if (!running_) {
        return 0;
    }
    int32_t peak = 0;
    Clock::time_point now = Clock::now();
    for (const auto &entry : peaks_) {
        if (now - entry.first <= LevelWindow) {
            peak = std::max(peak, entry.second);
        }
    }
    // Percent of full scale, rounded to the nearest, halves to even.
    return std::min<int32_t>(100, static_cast<int32_t>(std::lrint(peak * 100.0 / 32767.0)));
}

int32_t Recorder::WriteError()
{
    std::lock_guard<std::mutex> api(apiMutex_);
    server_.Lock();
    int32_t error = writeError_;
    server_.Unlock();
    return error;
}

Recorder &TheRecorder()
{
    static Recorder recorder;
    return recorder;
}

} // namespace

extern "C" {

GLIMMER_EXPORT int16_t AudioStartRecord(const char *fileName, uint32_t sampleRate, uint16_t bitsPerSample,
                                        uint16_t channels, uint16_t inputSource)
{
    return TheRecorder().Start(fileName, sampleRate, bitsPerSample, channels, inputSource);
}

GLIMMER_EXPORT int16_t AudioStopRecord(void)
{
    return TheRecorder().Stop();
}

GLIMMER_EXPORT int16_t AudioGetRecordState(void)
{
    return TheRecorder().State();
}

GLIMMER_EXPORT int32_t AudioGetRecordWriteError(void)
{
    return TheRecorder().WriteError();
}

GLIMMER_EXPORT void AudioGetRecordLevel(int32_t *level, int32_t *unused)
{
    int32_t value = TheRecorder().Level();
    if (level) {
        *level = value;
    }
    if (unused) {
        *unused = 0;
    }
}

} // extern "C"
