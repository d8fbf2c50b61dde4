// SPDX-License-Identifier: GPL-3.0-or-later
// Reads a file back with FFmpeg's own demuxer and decoder, for the tests of
// what the RealAudio export writes.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace fftesting {

// What FFmpeg reads back from a file: its container and codec, and the
// decoded samples.
struct Decoded {
    std::string Container;
    AVCodecID Codec = AV_CODEC_ID_NONE;
    int SampleRate = 0;
    int Channels = 0;
    std::vector<int16_t> Samples;
};

inline Decoded Decode(const std::string &fileName)
{
    Decoded result;
    AVFormatContext *input = nullptr;
    if (avformat_open_input(&input, fileName.c_str(), nullptr, nullptr) < 0) {
        ADD_FAILURE() << "FFmpeg cannot open " << fileName;
        return result;
    }
    std::unique_ptr<AVFormatContext, void (*)(AVFormatContext *)> inputHolder(
        input, [](AVFormatContext *c) { avformat_close_input(&c); });
    EXPECT_GE(avformat_find_stream_info(input, nullptr), 0);
    result.Container = input->iformat->name;
    EXPECT_EQ(input->nb_streams, 1u);
    if (input->nb_streams != 1)
        return result;
    const AVCodecParameters *parameters = input->streams[0]->codecpar;
    result.Codec = parameters->codec_id;
    result.SampleRate = parameters->sample_rate;
    result.Channels = parameters->ch_layout.nb_channels;
    const AVCodec *codec = avcodec_find_decoder(parameters->codec_id);
    if (!codec) {
        ADD_FAILURE() << "no decoder";
        return result;
    }
    std::unique_ptr<AVCodecContext, void (*)(AVCodecContext *)> decoder(
        avcodec_alloc_context3(codec), [](AVCodecContext *c) { avcodec_free_context(&c); });
    avcodec_parameters_to_context(decoder.get(), parameters);
    EXPECT_EQ(avcodec_open2(decoder.get(), codec, nullptr), 0);
    AVPacket *packet = av_packet_alloc();
    AVFrame *frame = av_frame_alloc();
    auto take = [&] {
        while (avcodec_receive_frame(decoder.get(), frame) == 0) {
            EXPECT_EQ(frame->format, AV_SAMPLE_FMT_S16);
            const auto *samples = reinterpret_cast<const int16_t *>(frame->data[0]);
            result.Samples.insert(result.Samples.end(), samples, samples + frame->nb_samples);
        }
    };
    while (av_read_frame(input, packet) >= 0) {
        EXPECT_EQ(avcodec_send_packet(decoder.get(), packet), 0);
        av_packet_unref(packet);
        take();
    }
    avcodec_send_packet(decoder.get(), nullptr);
    take();
    av_frame_free(&frame);
    av_packet_free(&packet);
    return result;
}

} // namespace fftesting
