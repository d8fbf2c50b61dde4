// SPDX-License-Identifier: GPL-3.0-or-later
// The RealAudio writer: files decoded back with FFmpeg's own reader (the
// container, the codec, the length to within one 20 ms frame, the level),
// and what a failed write leaves behind; clips a few resampling blocks long
// against the same clip resampled in one call and encoded here.
#include "audio/realaudio.h"
#include "tests/audio/ffdecode.h"
#include "wavetesting.h"
#include "tests/mediatesting.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

#include <sys/stat.h>

#include <cmath>
#include <memory>
#include <numbers>

using namespace wavetesting;
using namespace fftesting;

namespace {

// A voice-like test clip: a 150 Hz buzz with its first harmonics, its
// loudness rising and falling four times a second, at sampleRate.
std::vector<int16_t> Buzz(uint32_t sampleRate, double seconds)
{
    std::vector<int16_t> clip(static_cast<std::size_t>(sampleRate * seconds));
    for (std::size_t i = 0; i < clip.size(); ++i) {
        const double t = static_cast<double>(i) / sampleRate;
        const double envelope = 0.55 + 0.45 * std::sin(2 * std::numbers::pi * 4 * t);
        double value = 0;
        for (int harmonic = 1; harmonic <= 6; ++harmonic)
            value += std::sin(2 * std::numbers::pi * 150 * harmonic * t) / harmonic;
        clip[i] = static_cast<int16_t>(std::lround(6000 * envelope * value));
    }
    return clip;
}

double Rms(const std::vector<int16_t> &clip)
{
    double sum = 0;
    for (int16_t s : clip)
        sum += static_cast<double>(s) * s;
    return clip.empty() ? 0 : std::sqrt(sum / static_cast<double>(clip.size()));
}

// Files in folder whose names the writer uses for its temporary files.
std::vector<std::string> Temporaries(const TempFolder &folder)
{
    std::vector<std::string> found;
    for (const std::string &name : folder.Entries())
        if (name.rfind(".gbx", 0) == 0)
            found.push_back(name);
    return found;
}

// The writer's resampling block in input samples (ResampleBlockSamples in
// audio/realaudio.cpp): the lengths below sit on either side of it.
constexpr std::size_t WriterBlock = 65536;

// The data of every packet in fileName, in order.
std::vector<Bytes> ReadPackets(const std::string &fileName)
{
    std::vector<Bytes> packets;
    AVFormatContext *input = nullptr;
    if (avformat_open_input(&input, fileName.c_str(), nullptr, nullptr) < 0) {
        ADD_FAILURE() << "FFmpeg cannot open " << fileName;
        return packets;
    }
    AVPacket *packet = av_packet_alloc();
    while (av_read_frame(input, packet) >= 0) {
        packets.emplace_back(packet->data, packet->data + packet->size);
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    avformat_close_input(&input);
    return packets;
}

// The packets the writer is to store for clip: the whole clip resampled to
// 8000 Hz in one call and flushed, cut into 160-sample frames with the last
// filled out by silence, each encoded by a fresh RealAudio 1.0 encoder; the
// encoder's priming packet (before time 0) is left out.
std::vector<Bytes> ExpectedPackets(const std::vector<int16_t> &clip, uint32_t sampleRate)
{
    std::vector<int16_t> at8000 = clip;
    if (sampleRate != 8000 && !clip.empty()) {
        AVChannelLayout mono = AV_CHANNEL_LAYOUT_MONO;
        SwrContext *resampler = nullptr;
        EXPECT_GE(swr_alloc_set_opts2(&resampler, &mono, AV_SAMPLE_FMT_S16, 8000, &mono, AV_SAMPLE_FMT_S16,
                                      static_cast<int>(sampleRate), 0, nullptr),
                  0);
        EXPECT_GE(swr_init(resampler), 0);
        at8000.assign(clip.size() * 8000 / sampleRate + 4096, 0);
        auto *to = reinterpret_cast<uint8_t *>(at8000.data());
        const auto *in = reinterpret_cast<const uint8_t *>(clip.data());
        const int made =
            swr_convert(resampler, &to, static_cast<int>(at8000.size()), &in, static_cast<int>(clip.size()));
        auto *rest = reinterpret_cast<uint8_t *>(at8000.data() + made);
        const int flushed = swr_convert(resampler, &rest, static_cast<int>(at8000.size()) - made, nullptr, 0);
        EXPECT_GE(made, 0);
        EXPECT_GE(flushed, 0);
        at8000.resize(static_cast<std::size_t>(made + flushed));
        swr_free(&resampler);
    }
    at8000.resize((at8000.size() + 159) / 160 * 160, 0);

    const AVCodec *codec = avcodec_find_encoder(AV_CODEC_ID_RA_144);
    AVCodecContext *encoder = avcodec_alloc_context3(codec);
    encoder->sample_fmt = AV_SAMPLE_FMT_S16;
    encoder->sample_rate = 8000;
    encoder->ch_layout = AV_CHANNEL_LAYOUT_MONO;
    encoder->bit_rate = 8000;
    encoder->time_base = AVRational{1, 8000};
    EXPECT_EQ(avcodec_open2(encoder, codec, nullptr), 0);
    AVFrame *frame = av_frame_alloc();
    AVPacket *packet = av_packet_alloc();
    std::vector<Bytes> packets;
    auto take = [&] {
        while (avcodec_receive_packet(encoder, packet) == 0) {
            if (packet->pts + packet->duration > 0)
                packets.emplace_back(packet->data, packet->data + packet->size);
            av_packet_unref(packet);
        }
    };
    for (std::size_t first = 0; first < at8000.size(); first += 160) {
        frame->format = AV_SAMPLE_FMT_S16;
        frame->sample_rate = 8000;
        frame->ch_layout = AV_CHANNEL_LAYOUT_MONO;
        frame->nb_samples = 160;
        EXPECT_EQ(av_frame_get_buffer(frame, 0), 0);
        std::copy_n(at8000.data() + first, 160, reinterpret_cast<int16_t *>(frame->data[0]));
        frame->pts = static_cast<int64_t>(first);
        EXPECT_EQ(avcodec_send_frame(encoder, frame), 0);
        av_frame_unref(frame);
        take();
    }
    avcodec_send_frame(encoder, nullptr);
    take();
    av_packet_free(&packet);
    av_frame_free(&frame);
    avcodec_free_context(&encoder);
    return packets;
}

TEST(RealAudioWriter, FileIsRealMediaWithRealAudio1AtTheVoicesLengthAndLevel)
{
    // The same 1.3 s buzz from each rate the program exports at.
    for (uint32_t rate : {11025u, 22050u, 44100u}) {
        SCOPED_TRACE(rate);
        TempFolder folder;
        const std::string name = folder.File("voice.ra");
        const std::vector<int16_t> clip = Buzz(rate, 1.3);
        std::string error;
        ASSERT_TRUE(WriteRealAudioFile(name, clip.data(), clip.size(), rate, nullptr, error)) << error;
        EXPECT_TRUE(error.empty());

        const Bytes bytes = ReadBytes(name);
        ASSERT_GE(bytes.size(), 4u);
        EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), ".RMF");

        const Decoded decoded = Decode(name);
        EXPECT_EQ(decoded.Container, "rm");
        EXPECT_EQ(decoded.Codec, AV_CODEC_ID_RA_144);
        EXPECT_EQ(decoded.SampleRate, 8000);
        EXPECT_EQ(decoded.Channels, 1);
        // 1.3 s at 8000 Hz is 10400 samples: 65 whole frames (the
        // resampler may leave the last one a few samples short).
        EXPECT_GT(decoded.Samples.size(), 10400u - 160u);
        EXPECT_LE(decoded.Samples.size(), 10400u);
        // The level after coding is within 3 dB of the clip's.
        const double ratio = Rms(decoded.Samples) / Rms(clip);
        EXPECT_GT(ratio, 0.708);
        EXPECT_LT(ratio, 1.413);
        EXPECT_TRUE(Temporaries(folder).empty());
    }
}

TEST(RealAudioWriter, SilenceStaysSilentAndAPartFrameIsFilledOut)
{
    TempFolder folder;
    const std::string name = folder.File("quiet.ra");
    // 1000 samples at 8000 Hz: six whole frames and 40 samples of a seventh.
    const std::vector<int16_t> clip(1000, 0);
    std::string error;
    ASSERT_TRUE(WriteRealAudioFile(name, clip.data(), clip.size(), 8000, nullptr, error)) << error;
    const Decoded decoded = Decode(name);
    EXPECT_EQ(decoded.Samples.size(), 1120u);
    EXPECT_LT(Rms(decoded.Samples), 50.0);
}

TEST(RealAudioWriter, GaugeRunsToOneHundred)
{
    TempFolder folder;
    const std::vector<int16_t> clip = Buzz(22050, 0.5);
    RecordingGauge gauge;
    std::string error;
    ASSERT_TRUE(WriteRealAudioFile(folder.File("g.ra"), clip.data(), clip.size(), 22050, &gauge, error)) << error;
    EXPECT_EQ(gauge.MaxValue(), 100);
    EXPECT_EQ(gauge.Progress(), 100);
    ASSERT_FALSE(gauge.Values.empty());
    EXPECT_TRUE(std::is_sorted(gauge.Values.begin(), gauge.Values.end()));
    EXPECT_GT(gauge.Values.size(), 10u) << "the gauge moves frame by frame, not only at the end";
}

TEST(RealAudioWriter, ReplacingAFileKeepsItsPermissions)
{
    TempFolder folder;
    const std::string name = folder.File("voice.ra");
    WriteBytes(name, Bytes{1, 2, 3});
    ASSERT_EQ(::chmod(name.c_str(), 0640), 0);
    const std::vector<int16_t> clip = Buzz(22050, 0.2);
    std::string error;
    ASSERT_TRUE(WriteRealAudioFile(name, clip.data(), clip.size(), 22050, nullptr, error)) << error;
    struct stat info {};
    ASSERT_EQ(::stat(name.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_EQ(Decode(name).Codec, AV_CODEC_ID_RA_144);
    EXPECT_EQ(folder.Entries(), std::vector<std::string>{"voice.ra"});
}

TEST(RealAudioWriter, FailedWritesLeaveTheEarlierFileAndNoTemporary)
{
    const std::vector<int16_t> clip = Buzz(22050, 2.0);
    const Bytes earlier{'e', 'a', 'r', 'l', 'i', 'e', 'r'};
    struct Case {
        const char *What;
        std::function<bool(const std::string &name, std::string &error)> Write;
    } cases[] = {
        {"the disk fills up after 1000 bytes",
         [&](const std::string &name, std::string &error) {
             FileSizeLimit limit(1000);
             return WriteRealAudioFile(name, clip.data(), clip.size(), 22050, nullptr, error);
         }},
        {"a sample rate no voice has",
         [&](const std::string &name, std::string &error) {
             return WriteRealAudioFile(name, clip.data(), clip.size(), 0, nullptr, error);
         }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.What);
        TempFolder folder;
        const std::string name = folder.File("voice.ra");
        WriteBytes(name, earlier);
        std::string error;
        EXPECT_FALSE(c.Write(name, error));
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(ReadBytes(name), earlier);
        EXPECT_EQ(folder.Entries(), std::vector<std::string>{"voice.ra"});
    }
}

TEST(RealAudioWriter, TargetThatCannotBeReplacedLeavesItAndNoTemporary)
{
    TempFolder folder;
    // A folder of that name, with something in it, cannot be renamed over.
    const std::string name = folder.File("voice.ra");
    fs::create_directory(name);
    WriteBytes(name + "/inside", Bytes{7});
    const std::vector<int16_t> clip = Buzz(22050, 0.2);
    std::string error;
    EXPECT_FALSE(WriteRealAudioFile(name, clip.data(), clip.size(), 22050, nullptr, error));
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(fs::is_directory(name));
    EXPECT_EQ(ReadBytes(name + "/inside"), Bytes{7});
    EXPECT_TRUE(Temporaries(folder).empty());

    // A folder that does not exist: nothing is made anywhere.
    EXPECT_FALSE(WriteRealAudioFile(folder.File("missing/voice.ra"), clip.data(), clip.size(), 22050, nullptr, error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(fs::exists(folder.File("missing")));
}

TEST(RealAudioWriter, ClipsAcrossResamplingBlocksGiveTheFramesOfOneWholeClipResampling)
{
    // A block less one, one, one more, and four and a bit (the last frame
    // part-filled at 8000 Hz), from every rate the program exports at and
    // from 8000 Hz, where the clip is not resampled.
    const std::size_t lengths[] = {WriterBlock - 1, WriterBlock, WriterBlock + 1, 4 * WriterBlock + 159};
    for (uint32_t rate : {8000u, 11025u, 22050u, 44100u})
        for (std::size_t length : lengths) {
            SCOPED_TRACE(std::to_string(rate) + " Hz, " + std::to_string(length) + " samples");
            std::vector<int16_t> clip = Buzz(rate, static_cast<double>(length + 1) / rate);
            clip.resize(length);
            TempFolder folder;
            const std::string name = folder.File("long.ra");
            RecordingGauge gauge;
            std::string error;
            ASSERT_TRUE(WriteRealAudioFile(name, clip.data(), clip.size(), rate, &gauge, error)) << error;
            const std::vector<Bytes> expected = ExpectedPackets(clip, rate);
            // The gauge moves frame by frame through every block to 100.
            EXPECT_EQ(gauge.Progress(), 100);
            EXPECT_TRUE(std::is_sorted(gauge.Percents.begin(), gauge.Percents.end()));
            EXPECT_GE(gauge.Percents.size(), std::min<std::size_t>(expected.size(), 100) * 9 / 10);
            const std::vector<Bytes> written = ReadPackets(name);
            ASSERT_EQ(written.size(), expected.size());
            for (std::size_t i = 0; i < written.size(); ++i)
                ASSERT_EQ(written[i], expected[i]) << "packet " << i << " of " << written.size();
            EXPECT_EQ(Decode(name).Samples.size(), 160 * expected.size());
        }
}

} // namespace
