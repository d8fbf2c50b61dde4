// SPDX-License-Identifier: GPL-3.0-or-later
// The media plugin: what the program does with FFmpeg, in a library of its
// own that is loaded only when a file needs it.
//
// Reading, a frame at a time:
//
//   descriptor --pread/fstat, our own I/O context--> libavformat
//     (only the demuxers in Demuxers; the probe reads at most ProbeBytes;
//      every other file the demuxer asks for is refused)
//   --first audio stream's packets, the rest discarded--> libavcodec
//   --decoded frames, any sample format--> interleaved doubles,
//     16-bit full scale = 1.0 (u8: (x - 128) / 128, s16: x / 32768,
//     s32: x / 2^31, float and double as they are)
//
// The caller mixes the channels down, resamples and rounds, as it does for
// what libsndfile decodes, so a lossless file gives the same voice whichever
// library reads it. A packet the decoder rejects is skipped, as FFmpeg's own
// command skips it; a file whose stream changes its rate or its channels
// part way is refused. The rate and channels are those of the first decoded
// frame, not of the container's header, which may state them before an
// extension (HE-AAC's) doubles the rate.
//
// Writing RealAudio, a block of the clip at a time:
//
//   clip (N samples at R Hz)
//     -> blocks of 65536 samples
//     -> libswresample, one resampler for the whole clip, flushed after the
//        last block: R Hz -> 8000 Hz, mono 16-bit          (M ~ N * 8000 / R)
//     -> pending: what a block leaves short of a 160-sample frame waits for
//        the next block; the last frame is filled with silence
//     -> libavcodec "real_144": one 20-byte packet per frame (its priming
//        packet before the clip left out)
//     -> libavformat "rm": .RMF header, properties, data, index
//     -> the caller's descriptor, through our own I/O context
//
// The writer needs about 1 MiB beside the clip however long it is; resampling
// the whole clip in one call needed about five times the clip in memory (a
// 40-minute clip at 22050 Hz, 106 MB, took the export to 657 MB; in blocks,
// 135 MB). The resampler keeps its filter state and its position between
// blocks, so the frames, and the file, are the same to the byte as with one
// call.
//
// FFmpeg's objects are owned by small holders so that every way out frees
// them.
#include "audio/mediaplugin.h"

#include "audio/realaudio.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/mem.h>
#include <libswresample/swresample.h>
}

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <type_traits>
#include <vector>

#define GLIMMER_MEDIA_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

struct CodecContextFree {
    void operator()(AVCodecContext *context) const { avcodec_free_context(&context); }
};
struct FrameFree {
    void operator()(AVFrame *frame) const { av_frame_free(&frame); }
};
struct PacketFree {
    void operator()(AVPacket *packet) const { av_packet_free(&packet); }
};
struct ResamplerFree {
    void operator()(SwrContext *resampler) const { swr_free(&resampler); }
};
struct OutputFree {
    void operator()(AVFormatContext *output) const { avformat_free_context(output); }
};
// A context made by avio_alloc_context, with its buffer (which FFmpeg may
// have replaced by one of its own).
struct IoFree {
    void operator()(AVIOContext *io) const
    {
        av_freep(&io->buffer);
        avio_context_free(&io);
    }
};
struct InputFree {
    void operator()(AVFormatContext *input) const { avformat_close_input(&input); }
};

// The demuxers the reader allows: audio files and the containers phones,
// browsers and cameras record into. Left out on purpose: playlists (hls,
// dash), scripts naming other files (concat), image sequences, and the
// kinds libsndfile already reads (wav, aiff, au, caf, w64), so that a WAVE
// file too broken for libsndfile is refused, never read a second way.
constexpr const char *Demuxers = "aac,ac3,amr,amrnb,amrwb,ape,asf,dts,eac3,flac,matroska,mov,mp3,ogg,rm,tta,wv";
// What the probe may read to recognise the file.
constexpr int ProbeBytes = 1 << 20;
constexpr int IoBufferBytes = 1 << 15;
// The most bytes FFmpeg may ask for in one allocation: a sample table of a
// 13-hour recording fits; a header claiming gigabytes does not.
constexpr std::size_t MaxAllocation = std::size_t{256} << 20;
constexpr int MaxChannels = 64;

// Every file a demuxer would open beside the one given (a reference, a
// segment, a script's entry) is refused.
int RefuseOpen(AVFormatContext *, AVIOContext **, const char *, int, AVDictionary **)
{
    return AVERROR(EPERM);
}

// A descriptor read or written at a position of our own (pread, pwrite), so
// that the caller's file offset and a second reader of the same file do not
// matter. Size: the file's size as fstat gives it now.
struct TDescriptorFile {
    int Fd = -1;
    int64_t Position = 0;
    bool Failed = false;

    int64_t Size() const
    {
        struct stat info {};
        return ::fstat(Fd, &info) == 0 ? static_cast<int64_t>(info.st_size) : AVERROR(errno);
    }

    static int Read(void *opaque, uint8_t *into, int size)
    {
        auto *file = static_cast<TDescriptorFile *>(opaque);
        for (;;) {
            const ssize_t got = ::pread(file->Fd, into, static_cast<std::size_t>(size), file->Position);
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0)
                return AVERROR(errno);
            if (got == 0)
                return AVERROR_EOF;
            file->Position += got;
            return static_cast<int>(got);
        }
    }

    static int Write(void *opaque, uint8_t *from, int size)
    {
        auto *file = static_cast<TDescriptorFile *>(opaque);
        for (int done = 0; done < size;) {
            const ssize_t put = ::pwrite(file->Fd, from + done, static_cast<std::size_t>(size - done), file->Position);
            if (put < 0 && errno == EINTR)
                continue;
            if (put <= 0) {
                file->Failed = true;
                return AVERROR(EIO);
            }
            done += static_cast<int>(put);
            file->Position += put;
        }
        return size;
    }

    static int64_t Seek(void *opaque, int64_t offset, int whence)
    {
        auto *file = static_cast<TDescriptorFile *>(opaque);
        whence &= ~AVSEEK_FORCE;
        if (whence == AVSEEK_SIZE)
            return file->Size();
        int64_t from = 0;
        if (whence == SEEK_CUR)
            from = file->Position;
        else if (whence == SEEK_END) {
            from = file->Size();
            if (from < 0)
                return from;
        } else if (whence != SEEK_SET)
            return AVERROR(EINVAL);
        if (offset < -from || offset > INT64_MAX - from)
            return AVERROR(EINVAL);
        file->Position = from + offset;
        return file->Position;
    }

    // A seekable context over the descriptor, reading or writing; null
    // when there is no memory for it.
    AVIOContext *Open(bool writing)
    {
        auto *buffer = static_cast<unsigned char *>(av_malloc(IoBufferBytes));
        if (!buffer)
            return nullptr;
        AVIOContext *io = avio_alloc_context(buffer, IoBufferBytes, writing ? 1 : 0, this, writing ? nullptr : Read,
                                             writing ? Write : nullptr, Seek);
        if (!io)
            av_free(buffer);
        return io;
    }
};

// The writer's file: the context's last bytes flushed, and every write done.
struct TDescriptorOutput : TDescriptorFile {
    AVIOContext *Open() { return TDescriptorFile::Open(true); }
    bool Flush(AVIOContext *io)
    {
        avio_flush(io);
        return !Failed && io->error == 0;
    }
};

using TProgress = std::function<void(int32_t)>;

// Input samples handed to the resampler at a time: 128 KiB of the clip. Its
// output for one block is at most eight times as many samples (from 1000 Hz),
// 1 MiB, so the writer's own buffers stay a small fixed size whatever the
// clip's length.
constexpr std::size_t ResampleBlockSamples = std::size_t{1} << 16;

// The clip at 8000 Hz, a block at a time. One resampler runs over the whole
// clip, so its filter and its position between input samples carry on across
// blocks and the samples given are those one call over the whole clip and its
// flush would give. At 8000 Hz the clip is handed on as it is.
class TResampledClip {
public:
    // Sets up the resampler for count samples at sampleRate; false when
    // libswresample cannot be started. Nothing is read from samples yet.
    bool Open(const int16_t *samples, std::size_t count, uint32_t sampleRate)
    {
        clip = samples;
        remaining = count;
        finished = count == 0;
        if (count == 0 || sampleRate == RealAudioSampleRate)
            return true;
        AVChannelLayout mono = AV_CHANNEL_LAYOUT_MONO;
        SwrContext *raw = nullptr;
        if (swr_alloc_set_opts2(&raw, &mono, AV_SAMPLE_FMT_S16, static_cast<int>(RealAudioSampleRate), &mono,
                                AV_SAMPLE_FMT_S16, static_cast<int>(sampleRate), 0, nullptr) < 0)
            return false;
        resampler.reset(raw);
        return swr_init(resampler.get()) >= 0;
    }

    // True once the whole clip, and the resampler's flush, has been given.
    bool Finished() const { return finished; }

    // Appends the next piece of the clip at 8000 Hz to out: what the next
    // block of input gives, or when the input is used up, what the flush
    // gives (possibly nothing). False when the resampler fails.
    bool Next(std::vector<int16_t> &out)
    {
        if (finished)
            return true;
        const std::size_t taken = std::min(remaining, ResampleBlockSamples);
        if (!resampler) {
            out.insert(out.end(), clip, clip + taken);
            Consume(taken);
            finished = remaining == 0;
            return true;
        }
        // The flush may not fit at once; it goes on until it gives nothing.
        const bool flushing = taken == 0;
        const int room = swr_get_out_samples(resampler.get(), static_cast<int>(taken));
        if (room < 0)
            return false;
        const std::size_t had = out.size();
        out.resize(had + static_cast<std::size_t>(room));
        auto *to = reinterpret_cast<uint8_t *>(out.data() + had);
        const auto *in = reinterpret_cast<const uint8_t *>(clip);
        const int made = swr_convert(resampler.get(), &to, room, flushing ? nullptr : &in, static_cast<int>(taken));
        if (made < 0)
            return false;
        out.resize(had + static_cast<std::size_t>(made));
        Consume(taken);
        finished = flushing && made == 0;
        return true;
    }

private:
    void Consume(std::size_t taken)
    {
        clip += taken;
        remaining -= taken;
    }

    const int16_t *clip = nullptr;
    std::size_t remaining = 0;
    bool finished = true;
    std::unique_ptr<SwrContext, ResamplerFree> resampler;
};

// Hands every packet the encoder has ready to the container. The encoder
// primes its filter with one frame before the clip (a packet stamped -160);
// the container cannot mark samples to be skipped, so that packet is left
// out and the file decodes to the clip's length and timing.
bool DrainPackets(AVCodecContext *encoder, AVFormatContext *output, AVStream *stream, AVPacket *packet)
{
    for (;;) {
        const int received = avcodec_receive_packet(encoder, packet);
        if (received == AVERROR(EAGAIN) || received == AVERROR_EOF)
            return true;
        if (received < 0)
            return false;
        if (packet->pts != AV_NOPTS_VALUE && packet->pts + packet->duration <= 0) {
            av_packet_unref(packet);
            continue;
        }
        av_packet_rescale_ts(packet, encoder->time_base, stream->time_base);
        packet->stream_index = stream->index;
        if (av_interleaved_write_frame(output, packet) < 0)
            return false;
    }
}

// Encodes the clip, resampled a block at a time, into output's file. The
// progress runs with the frames: frame f + 1 of expectedFrames (an
// estimate, at least 1) gives (f + 1) * 100 / expectedFrames but at most
// 99, and the last frame gives 100.
bool Encode(TDescriptorOutput &file, TResampledClip &clip, std::size_t expectedFrames, const TProgress &progress,
            std::string &error)
{
    const AVCodec *codec = avcodec_find_encoder(AV_CODEC_ID_RA_144);
    const AVOutputFormat *format = av_guess_format("rm", nullptr, nullptr);
    if (!codec || !format) {
        error = "The RealAudio encoder is not available.";
        return false;
    }
    std::unique_ptr<AVCodecContext, CodecContextFree> encoder(avcodec_alloc_context3(codec));
    AVFormatContext *rawOutput = nullptr;
    if (!encoder || avformat_alloc_output_context2(&rawOutput, format, nullptr, nullptr) < 0) {
        error = "There is not enough memory for the RealAudio encoder.";
        return false;
    }
    std::unique_ptr<AVFormatContext, OutputFree> output(rawOutput);

    encoder->sample_fmt = AV_SAMPLE_FMT_S16;
    encoder->sample_rate = static_cast<int>(RealAudioSampleRate);
    encoder->ch_layout = AV_CHANNEL_LAYOUT_MONO;
    encoder->bit_rate = 8000;
    encoder->time_base = AVRational{1, static_cast<int>(RealAudioSampleRate)};
    if (output->oformat->flags & AVFMT_GLOBALHEADER)
        encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (avcodec_open2(encoder.get(), codec, nullptr) < 0) {
        error = "The RealAudio encoder cannot be started.";
        return false;
    }
    AVStream *stream = avformat_new_stream(output.get(), nullptr);
    if (!stream || avcodec_parameters_from_context(stream->codecpar, encoder.get()) < 0) {
        error = "There is not enough memory for the RealAudio encoder.";
        return false;
    }
    stream->time_base = encoder->time_base;

    std::unique_ptr<AVIOContext, IoFree> io(file.Open());
    if (!io) {
        error = "There is not enough memory for the RealAudio encoder.";
        return false;
    }
    output->pb = io.get();
    if (avformat_write_header(output.get(), nullptr) < 0) {
        error = "The file cannot be written.";
        return false;
    }

    std::unique_ptr<AVFrame, FrameFree> frame(av_frame_alloc());
    std::unique_ptr<AVPacket, PacketFree> packet(av_packet_alloc());
    if (!frame || !packet) {
        error = "There is not enough memory for the RealAudio encoder.";
        return false;
    }
    frame->format = AV_SAMPLE_FMT_S16;
    frame->sample_rate = static_cast<int>(RealAudioSampleRate);
    frame->ch_layout = AV_CHANNEL_LAYOUT_MONO;
    frame->nb_samples = RealAudioFrameSamples;
    if (av_frame_get_buffer(frame.get(), 0) < 0) {
        error = "There is not enough memory for the RealAudio encoder.";
        return false;
    }

    // Frame f carries samples 160 f .. 160 f + 159 of the clip at 8000 Hz;
    // what a block leaves short of a whole frame waits in pending for the
    // next block, and the last frame is filled out with silence.
    auto encodeFrame = [&](const int16_t *from, std::size_t taken, std::size_t f) {
        if (av_frame_make_writable(frame.get()) < 0) {
            error = "There is not enough memory for the RealAudio encoder.";
            return false;
        }
        auto *into = reinterpret_cast<int16_t *>(frame->data[0]);
        std::copy_n(from, taken, into);
        std::fill(into + taken, into + RealAudioFrameSamples, int16_t{0});
        frame->pts = static_cast<int64_t>(f * RealAudioFrameSamples);
        if (avcodec_send_frame(encoder.get(), frame.get()) < 0 ||
            !DrainPackets(encoder.get(), output.get(), stream, packet.get())) {
            error = "The file cannot be written.";
            return false;
        }
        progress(static_cast<int32_t>(std::min<std::size_t>((f + 1) * 100 / expectedFrames, 99)));
        return true;
    };
    std::vector<int16_t> pending;
    std::size_t f = 0;
    while (!clip.Finished()) {
        if (!clip.Next(pending)) {
            error = "The clip cannot be resampled to 8000 Hz.";
            return false;
        }
        std::size_t used = 0;
        for (; pending.size() - used >= RealAudioFrameSamples; used += RealAudioFrameSamples, ++f)
            if (!encodeFrame(pending.data() + used, RealAudioFrameSamples, f))
                return false;
        pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(used));
    }
    if (!pending.empty() && !encodeFrame(pending.data(), pending.size(), f))
        return false;
    progress(100);
    if (avcodec_send_frame(encoder.get(), nullptr) < 0 ||
        !DrainPackets(encoder.get(), output.get(), stream, packet.get()) || av_write_trailer(output.get()) < 0 ||
        !file.Flush(io.get())) {
        error = "The file cannot be written.";
        return false;
    }
    progress(100);
    return true;
}

// The largest magnitude a float or double sample is handed on with: 96 dB
// above full scale, far past any recording, and small enough that the
// caller's mixdown of 64 channels and its resampler cannot overflow.
constexpr double MaxSampleValue = 65536.0;

// One sample of a decoded frame as a double, 16-bit full scale being 1.0.
// Float and double samples pass as they are, except that NaN and the
// infinities become 0 and larger values are held at MaxSampleValue: one
// NaN in a float file at 8000 Hz, mixed down and resampled, made 95 ms of
// the voice full-scale noise (and so could two neighbours near 1e308, whose
// sum overflows).
template <typename T> double Normalised(const uint8_t *at)
{
    T value;
    std::memcpy(&value, at, sizeof value);
    if constexpr (std::is_same_v<T, uint8_t>)
        return (static_cast<int>(value) - 128) / 128.0;
    else if constexpr (std::is_same_v<T, int16_t>)
        return value / 32768.0;
    else if constexpr (std::is_same_v<T, int32_t>)
        return value / 2147483648.0;
    else if constexpr (std::is_same_v<T, int64_t>)
        return static_cast<double>(value) / 9223372036854775808.0;
    else if (const double sample = static_cast<double>(value); std::isfinite(sample))
        return std::clamp(sample, -MaxSampleValue, MaxSampleValue);
    else
        return 0.0;
}

// Copies frames first .. first + count - 1 of frame, every channel, into
// out, interleaved.
template <typename T>
void CopyFrames(const AVFrame &frame, int channels, bool planar, int64_t first, int64_t count, double *out)
{
    for (int64_t i = 0; i < count; ++i)
        for (int c = 0; c < channels; ++c) {
            const uint8_t *at = planar ? frame.extended_data[c] + (first + i) * int64_t{sizeof(T)}
                                       : frame.extended_data[0] + ((first + i) * channels + c) * int64_t{sizeof(T)};
            out[i * channels + c] = Normalised<T>(at);
        }
}

// False for a sample format the copy does not know.
bool CopyFrames(const AVFrame &frame, int channels, int64_t first, int64_t count, double *out)
{
    const auto format = static_cast<AVSampleFormat>(frame.format);
    const bool planar = av_sample_fmt_is_planar(format) != 0;
    switch (av_get_packed_sample_fmt(format)) {
    case AV_SAMPLE_FMT_U8:
        CopyFrames<uint8_t>(frame, channels, planar, first, count, out);
        return true;
    case AV_SAMPLE_FMT_S16:
        CopyFrames<int16_t>(frame, channels, planar, first, count, out);
        return true;
    case AV_SAMPLE_FMT_S32:
        CopyFrames<int32_t>(frame, channels, planar, first, count, out);
        return true;
    case AV_SAMPLE_FMT_S64:
        CopyFrames<int64_t>(frame, channels, planar, first, count, out);
        return true;
    case AV_SAMPLE_FMT_FLT:
        CopyFrames<float>(frame, channels, planar, first, count, out);
        return true;
    case AV_SAMPLE_FMT_DBL:
        CopyFrames<double>(frame, channels, planar, first, count, out);
        return true;
    default:
        return false;
    }
}

int ResultOf(int error)
{
    return error == AVERROR(ENOMEM) ? GLIMMER_MEDIA_NO_MEMORY : GLIMMER_MEDIA_UNKNOWN;
}

} // namespace

struct GlimmerMediaReader {
    TDescriptorFile File;
    // Destroyed after the demuxer that reads through it.
    std::unique_ptr<AVIOContext, IoFree> Io;
    std::unique_ptr<AVFormatContext, InputFree> Input;
    std::unique_ptr<AVCodecContext, CodecContextFree> Decoder;
    std::unique_ptr<AVPacket, PacketFree> Packet;
    std::unique_ptr<AVFrame, FrameFree> Frame;
    int StreamIndex = -1;
    int Rate = 0;
    int Channels = 0;
    // Frames of Frame already handed out; Frame holds nothing when it is
    // Frame->nb_samples.
    int64_t Used = 0;
    bool Held = false;
    bool Flushed = false;

    // Decodes the next frame of the stream into Frame.
    enum class Next { Frame, End, NoMemory, Broken };
    Next NextFrame()
    {
        for (;;) {
            const int received = avcodec_receive_frame(Decoder.get(), Frame.get());
            if (received == 0) {
                if (Rate != 0 && (Frame->sample_rate != Rate || Frame->ch_layout.nb_channels != Channels)) {
                    av_frame_unref(Frame.get());
                    return Next::Broken;
                }
                return Next::Frame;
            }
            if (received == AVERROR(ENOMEM))
                return Next::NoMemory;
            // A packet the decoder rejected is skipped.
            if (received == AVERROR_EOF || Flushed)
                return Next::End;
            // Another packet of the stream; at the end of the file (or
            // where it cannot be read further) the decoder is flushed.
            const int read = av_read_frame(Input.get(), Packet.get());
            if (read == AVERROR(ENOMEM))
                return Next::NoMemory;
            if (read < 0) {
                avcodec_send_packet(Decoder.get(), nullptr);
                Flushed = true;
                continue;
            }
            int sent = 0;
            if (Packet->stream_index == StreamIndex)
                sent = avcodec_send_packet(Decoder.get(), Packet.get());
            av_packet_unref(Packet.get());
            if (sent == AVERROR(ENOMEM))
                return Next::NoMemory;
        }
    }

    int Open(int fd, GlimmerMediaInfo &info)
    {
        File.Fd = fd;
        Io.reset(File.Open(false));
        AVFormatContext *input = avformat_alloc_context();
        if (!Io || !input) {
            avformat_free_context(input);
            return GLIMMER_MEDIA_NO_MEMORY;
        }
        input->pb = Io.get();
        input->flags |= AVFMT_FLAG_CUSTOM_IO;
        input->io_open = RefuseOpen;
        input->probesize = ProbeBytes;
        input->format_probesize = ProbeBytes;
        AVDictionary *options = nullptr;
        av_dict_set(&options, "format_whitelist", Demuxers, 0);
        // On failure the context is freed and input set to null.
        const int opened = avformat_open_input(&input, nullptr, nullptr, &options);
        av_dict_free(&options);
        if (opened < 0)
            return ResultOf(opened);
        Input.reset(input);

        // The first audio stream; every other stream is skipped unread
        // where the demuxer can, and its packets dropped where not.
        for (unsigned i = 0; i < input->nb_streams; ++i) {
            AVStream *stream = input->streams[i];
            if (StreamIndex < 0 && stream->codecpar->codec_type == AVMEDIA_TYPE_AUDIO)
                StreamIndex = static_cast<int>(i);
            else
                stream->discard = AVDISCARD_ALL;
        }
        if (StreamIndex < 0)
            return GLIMMER_MEDIA_UNKNOWN;
        AVStream *stream = input->streams[StreamIndex];
        const AVCodec *codec = avcodec_find_decoder(stream->codecpar->codec_id);
        if (!codec)
            return GLIMMER_MEDIA_UNKNOWN;
        Decoder.reset(avcodec_alloc_context3(codec));
        Packet.reset(av_packet_alloc());
        Frame.reset(av_frame_alloc());
        if (!Decoder || !Packet || !Frame)
            return GLIMMER_MEDIA_NO_MEMORY;
        if (const int copied = avcodec_parameters_to_context(Decoder.get(), stream->codecpar); copied < 0)
            return ResultOf(copied);
        Decoder->pkt_timebase = stream->time_base;
        Decoder->thread_count = 1;
        if (const int started = avcodec_open2(Decoder.get(), codec, nullptr); started < 0)
            return ResultOf(started);

        // The rate and channels are the first frame's; a stream with no
        // frame at all is empty, at the rate its header gives.
        switch (NextFrame()) {
        case Next::Frame:
            Held = true;
            Rate = Frame->sample_rate;
            Channels = Frame->ch_layout.nb_channels;
            break;
        case Next::End:
            Rate = stream->codecpar->sample_rate;
            Channels = stream->codecpar->ch_layout.nb_channels;
            break;
        case Next::NoMemory:
            return GLIMMER_MEDIA_NO_MEMORY;
        case Next::Broken:
            return GLIMMER_MEDIA_BROKEN;
        }
        if (Rate <= 0 || Channels < 1 || Channels > MaxChannels)
            return GLIMMER_MEDIA_UNKNOWN;

        // The length, when the container states it; one guessed from the
        // bit rate is not given.
        info.SampleRate = Rate;
        info.Channels = Channels;
        info.Frames = 0;
        if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0)
            info.Frames = av_rescale_q(stream->duration, stream->time_base, AVRational{1, Rate});
        else if (input->duration != AV_NOPTS_VALUE && input->duration > 0 &&
                 input->duration_estimation_method != AVFMT_DURATION_FROM_BITRATE)
            info.Frames = av_rescale(input->duration, Rate, AV_TIME_BASE);
        // A length too large to count in frames (the rescale overflows to
        // INT64_MIN: 9e12 s at 2 GHz in a Matroska header) is none either.
        if (input->duration_estimation_method == AVFMT_DURATION_FROM_BITRATE || info.Frames < 0)
            info.Frames = 0;
        return GLIMMER_MEDIA_OK;
    }

    int64_t Read(double *out, int64_t maxFrames)
    {
        int64_t given = 0;
        while (given < maxFrames) {
            if (!Held) {
                switch (NextFrame()) {
                case Next::Frame:
                    Held = true;
                    Used = 0;
                    break;
                case Next::End:
                    return given;
                case Next::NoMemory:
                    return -GLIMMER_MEDIA_NO_MEMORY;
                case Next::Broken:
                    return -GLIMMER_MEDIA_BROKEN;
                }
            }
            const int64_t count = std::min<int64_t>(Frame->nb_samples - Used, maxFrames - given);
            if (!CopyFrames(*Frame, Channels, Used, count, out + given * Channels))
                return -GLIMMER_MEDIA_BROKEN;
            given += count;
            Used += count;
            if (Used >= Frame->nb_samples) {
                av_frame_unref(Frame.get());
                Held = false;
                Used = 0;
            }
        }
        return given;
    }
};

GLIMMER_MEDIA_EXPORT int glimmer_media_interface(void)
{
    av_log_set_level(AV_LOG_QUIET);
    av_max_alloc(MaxAllocation);
    return GLIMMER_MEDIA_INTERFACE;
}

GLIMMER_MEDIA_EXPORT int glimmer_media_open(int fd, GlimmerMediaReader **reader, GlimmerMediaInfo *info)
{
    *reader = nullptr;
    std::unique_ptr<GlimmerMediaReader> opened(new (std::nothrow) GlimmerMediaReader);
    if (!opened)
        return GLIMMER_MEDIA_NO_MEMORY;
    try {
        const int result = opened->Open(fd, *info);
        if (result != GLIMMER_MEDIA_OK)
            return result;
    } catch (const std::bad_alloc &) {
        return GLIMMER_MEDIA_NO_MEMORY;
    }
    *reader = opened.release();
    return GLIMMER_MEDIA_OK;
}

GLIMMER_MEDIA_EXPORT int64_t glimmer_media_read(GlimmerMediaReader *reader, double *frames, int64_t maxFrames)
{
    return reader->Read(frames, maxFrames);
}

GLIMMER_MEDIA_EXPORT void glimmer_media_close(GlimmerMediaReader *reader)
{
    delete reader;
}

GLIMMER_MEDIA_EXPORT int glimmer_media_write_realaudio(int fd, const int16_t *samples, size_t count,
                                                       uint32_t sampleRate, GlimmerMediaProgressFn progress,
                                                       void *context, char *error, size_t errorSize)
{
    std::string why;
    bool written = false;
    try {
        TResampledClip clip;
        if (!clip.Open(samples, count, sampleRate)) {
            why = "The clip cannot be resampled to 8000 Hz.";
        } else {
            // The progress counts frames against the clip's length at 8000 Hz.
            const uint64_t expectedSamples =
                (static_cast<uint64_t>(count) * RealAudioSampleRate + sampleRate - 1) / sampleRate;
            const std::size_t expectedFrames = std::max<std::size_t>(
                1, static_cast<std::size_t>((expectedSamples + RealAudioFrameSamples - 1) / RealAudioFrameSamples));
            TDescriptorOutput file;
            file.Fd = fd;
            written = Encode(
                file, clip, expectedFrames,
                [&](int32_t percent) {
                    if (progress)
                        progress(context, percent);
                },
                why);
        }
    } catch (const std::bad_alloc &) {
        why = "There is not enough memory to resample the clip.";
        written = false;
    }
    if (!written && errorSize > 0) {
        const std::size_t length = std::min(why.size(), errorSize - 1);
        std::memcpy(error, why.data(), length);
        error[length] = '\0';
    }
    return written ? 1 : 0;
}
