// The RealAudio writer.
//
//   clip (N samples at R Hz)
//     -> libswresample: R Hz -> 8000 Hz, mono 16-bit      (M ~ N * 8000 / R)
//     -> frames of 160 samples, the last filled with silence
//     -> libavcodec "real_144": one 20-byte packet per frame (its priming
//        packet before the clip left out)
//     -> libavformat "rm": .RMF header, properties, data, index
//     -> hidden temporary file beside the target, renamed over it at the end
//
// FFmpeg's objects are owned by small holders so that every way out of the
// writer frees them; the temporary file is removed on every failure.
#include "audio/realaudio.h"

#include "audio/replacefile.h"

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

// The clip at 8000 Hz: everything the resampler gives for the input and its
// flush.
bool Resample(const int16_t *samples, std::size_t count, uint32_t sampleRate, std::vector<int16_t> &out)
{
    out.clear();
    if (count == 0)
        return true;
    if (sampleRate == RealAudioSampleRate) {
        out.assign(samples, samples + count);
        return true;
    }
    AVChannelLayout mono = AV_CHANNEL_LAYOUT_MONO;
    SwrContext *raw = nullptr;
    if (swr_alloc_set_opts2(&raw, &mono, AV_SAMPLE_FMT_S16, static_cast<int>(RealAudioSampleRate), &mono,
                            AV_SAMPLE_FMT_S16, static_cast<int>(sampleRate), 0, nullptr) < 0)
        return false;
    std::unique_ptr<SwrContext, ResamplerFree> resampler(raw);
    if (swr_init(resampler.get()) < 0)
        return false;
    const uint64_t expected = static_cast<uint64_t>(count) * RealAudioSampleRate / sampleRate;
    out.resize(static_cast<std::size_t>(expected) + 4096);
    const auto *in = reinterpret_cast<const uint8_t *>(samples);
    auto *to = reinterpret_cast<uint8_t *>(out.data());
    const int made = swr_convert(resampler.get(), &to, static_cast<int>(out.size()), &in, static_cast<int>(count));
    if (made < 0)
        return false;
    auto *rest = reinterpret_cast<uint8_t *>(out.data() + made);
    const int flushed = swr_convert(resampler.get(), &rest, static_cast<int>(out.size()) - made, nullptr, 0);
    if (flushed < 0)
        return false;
    out.resize(static_cast<std::size_t>(made) + static_cast<std::size_t>(flushed));
    return true;
}

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

// Encodes clip (8000 Hz) into the container file named temporaryName.
bool Encode(const std::string &temporaryName, const std::vector<int16_t> &clip, ProgressGauge *gauge,
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

    // Frame f carries samples 160 f .. 160 f + 159; past the clip's end, silence.
    const std::size_t frames = (clip.size() + RealAudioFrameSamples - 1) / RealAudioFrameSamples;
    if (gauge)
        ResetProgress(*gauge, 100);
    for (std::size_t f = 0; f < frames; ++f) {
        if (av_frame_make_writable(frame.get()) < 0) {
            error = "There is not enough memory for the RealAudio encoder.";
            return false;
        }
        auto *into = reinterpret_cast<int16_t *>(frame->data[0]);
        const std::size_t first = f * RealAudioFrameSamples;
        const std::size_t taken = std::min<std::size_t>(RealAudioFrameSamples, clip.size() - first);
        std::copy_n(clip.data() + first, taken, into);
        std::fill(into + taken, into + RealAudioFrameSamples, int16_t{0});
        frame->pts = static_cast<int64_t>(first);
        if (avcodec_send_frame(encoder.get(), frame.get()) < 0 ||
            !DrainPackets(encoder.get(), output.get(), stream, packet.get())) {
            error = "The file cannot be written.";
            return false;
        }
        if (gauge)
            gauge->SetProgress(static_cast<int32_t>((f + 1) * 100 / frames));
    }
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
    std::vector<int16_t> clip;
    try {
        if (!Resample(samples, count, sampleRate, clip)) {
            error = "The clip cannot be resampled to 8000 Hz.";
            return false;
        }
    } catch (const std::bad_alloc &) {
        error = "There is not enough memory to resample the clip.";
        return false;
    }

    // Written beside the file it replaces (following a symbolic link), with
    // that file's permissions, and put in its place only when complete.
    TFileReplacement file(fileName);
    if (!file.Open()) {
        error = "The file cannot be created in that folder.";
        return false;
    }
    if (!Encode(file.TemporaryName(), clip, gauge, error))
        return false;
    if (!file.Commit()) {
        error = "The file cannot be written.";
        return false;
    }
    return true;
}
