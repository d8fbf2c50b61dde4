// The RealAudio writer.
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
//     -> hidden temporary file beside the target, renamed over it at the end
//
// The clip is resampled and encoded a block at a time, so the writer needs
// about 1 MiB beside the clip however long it is; resampling the whole clip
// in one call needed about five times the clip in memory (a 40-minute clip
// at 22050 Hz, 106 MB, took the export to 657 MB; in blocks, 135 MB). The resampler keeps its
// filter state and its position between blocks, so the frames, and the file,
// are the same to the byte as with one call.
//
// FFmpeg's objects are owned by small holders so that every way out of the
// writer frees them; the temporary file is removed on every failure.
#include "audio/realaudio.h"

#include "base/replacefile.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <memory>
#include <vector>

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
// The container and, once opened, its output file.
struct OutputFree {
    void operator()(AVFormatContext *output) const
    {
        if (output->pb)
            avio_closep(&output->pb);
        avformat_free_context(output);
    }
};

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

// Encodes the clip, resampled a block at a time, into the container file
// named temporaryName. The gauge runs with the frames: frame f + 1 of
// expectedFrames (an estimate, at least 1) gives (f + 1) * 100 /
// expectedFrames but at most 99, and the last frame gives 100.
bool Encode(const std::string &temporaryName, TResampledClip &clip, std::size_t expectedFrames, ProgressGauge *gauge,
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

    const std::string url = "file:" + temporaryName;
    if (avio_open(&output->pb, url.c_str(), AVIO_FLAG_WRITE) < 0 || avformat_write_header(output.get(), nullptr) < 0) {
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
        if (gauge)
            gauge->SetProgress(static_cast<int32_t>(std::min<std::size_t>((f + 1) * 100 / expectedFrames, 99)));
        return true;
    };
    std::vector<int16_t> pending;
    std::size_t f = 0;
    if (gauge)
        ResetProgress(*gauge, 100);
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
    if (gauge)
        gauge->SetProgress(100);
    if (avcodec_send_frame(encoder.get(), nullptr) < 0 ||
        !DrainPackets(encoder.get(), output.get(), stream, packet.get()) || av_write_trailer(output.get()) < 0 ||
        avio_closep(&output->pb) < 0) {
        error = "The file cannot be written.";
        return false;
    }
    if (gauge)
        gauge->SetProgress(100);
    return true;
}

} // namespace

bool WriteRealAudioFile(const std::string &fileName, const int16_t *samples, std::size_t count, uint32_t sampleRate,
                        ProgressGauge *gauge, std::string &error)
{
    error.clear();
    if (sampleRate < 1000 || sampleRate > 192000 || (count > 0 && !samples)) {
        error = "The clip cannot be encoded at this sample rate.";
        return false;
    }
    TResampledClip clip;
    if (!clip.Open(samples, count, sampleRate)) {
        error = "The clip cannot be resampled to 8000 Hz.";
        return false;
    }
    // The gauge counts frames against the clip's length at 8000 Hz.
    const uint64_t expectedSamples = (static_cast<uint64_t>(count) * RealAudioSampleRate + sampleRate - 1) / sampleRate;
    const std::size_t expectedFrames = std::max<std::size_t>(
        1, static_cast<std::size_t>((expectedSamples + RealAudioFrameSamples - 1) / RealAudioFrameSamples));

    // Written beside the file it replaces (following a symbolic link where
    // that is safe), with that file's permissions, and put in its place only
    // when complete.
    TFileReplacement file(fileName);
    if (!file.Open()) {
        error = "The file cannot be created in that folder (" + file.Failure() + ").";
        return false;
    }
    try {
        if (!Encode(file.TemporaryName(), clip, expectedFrames, gauge, error))
            return false;
    } catch (const std::bad_alloc &) {
        error = "There is not enough memory to resample the clip.";
        return false;
    }
    if (!file.Commit()) {
        error = "The file cannot be written (" + file.Failure() + ").";
        return false;
    }
    return true;
}
