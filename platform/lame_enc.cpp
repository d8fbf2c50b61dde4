// SPDX-License-Identifier: GPL-3.0-or-later
// The LAME chunk interface over libmp3lame. A handle is a slot number in a
// small table of open streams; each stream keeps its encoder and the sizes
// it promised the caller.

#include "platform/lame_enc.h"

#include <lame.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <mutex>

namespace {

constexpr int MaxStreams = 16;

struct TStream {
    lame_global_flags *Flags = nullptr;
    int Channels = 1;
    uint32_t MaxSamples = 0; // per call, all channels together
    uint32_t OutputSize = 0;
};

std::mutex StreamsLock;
std::array<TStream, MaxStreams> Streams;

constexpr std::array<uint32_t, 14> Mpeg1BitRates = {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
constexpr std::array<uint32_t, 14> Mpeg2BitRates = {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
constexpr std::array<uint32_t, 9> SampleRates = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};

bool Contains(const auto &list, uint32_t value)
{
    return std::find(list.begin(), list.end(), value) != list.end();
}

bool BitRateFits(uint32_t sampleRate, uint32_t bitRate)
{
    return sampleRate >= 32000 ? Contains(Mpeg1BitRates, bitRate) : Contains(Mpeg2BitRates, bitRate);
}

// The stream behind a handle, or nullptr. The caller holds StreamsLock.
TStream *Find(uint32_t stream)
{
    if (stream == 0 || stream > MaxStreams)
        return nullptr;
    TStream &slot = Streams[stream - 1];
    return slot.Flags ? &slot : nullptr;
}

} // namespace

extern "C" uint32_t beInitStream(const TLameConfig *config, uint32_t *samplesPerChunk, uint32_t *outputBufferSize,
                                 uint32_t *stream)
{
    if (!config || !samplesPerChunk || !outputBufferSize || !stream)
        return LAME_ENC_BAD_PARAMETERS;
    // The record is read as bytes: it may lie anywhere in the caller's memory.
    TLameConfigHead head;
    std::memcpy(&head, config, sizeof head);
    if (head.Kind != LAME_CONFIG_KIND || head.Version != LAME_CONFIG_VERSION || head.Size != LAME_CONFIG_SIZE)
        return LAME_ENC_BAD_FORMAT;

    const uint32_t outRate = head.OutSampleRate == 0 ? head.SampleRate : head.OutSampleRate;
    if (!Contains(SampleRates, head.SampleRate) || !Contains(SampleRates, outRate))
        return LAME_ENC_BAD_PARAMETERS;
    if (head.Mode != LAME_MODE_MONO && head.Mode != LAME_MODE_DUAL_CHANNEL)
        return LAME_ENC_BAD_PARAMETERS;
    if (!BitRateFits(outRate, head.BitRate))
        return LAME_ENC_BAD_PARAMETERS;
    if (head.Preset > 9 || head.VbrQuality > 9 || (head.Emphasis != 0 && head.Emphasis != 1 && head.Emphasis != 3))
        return LAME_ENC_BAD_PARAMETERS;

    const int channels = head.Mode == LAME_MODE_MONO ? 1 : 2;
    lame_global_flags *flags = lame_init();
    if (!flags)
        return LAME_ENC_ENCODER_FAILED;
    lame_set_in_samplerate(flags, static_cast<int>(head.SampleRate));
    lame_set_out_samplerate(flags, static_cast<int>(outRate));
    lame_set_num_channels(flags, channels);
    // Two channels are coded as plain stereo: the encoder has no separate
    // dual-channel coding.
    lame_set_mode(flags, channels == 1 ? MONO : STEREO);
    lame_set_quality(flags, static_cast<int>(head.Preset));
    lame_set_emphasis(flags, static_cast<int>(head.Emphasis));
    lame_set_extension(flags, head.Private ? 1 : 0);
    lame_set_error_protection(flags, head.Crc ? 1 : 0);
    lame_set_copyright(flags, head.Copyright ? 1 : 0);
    lame_set_original(flags, head.Original ? 1 : 0);
    lame_set_bWriteVbrTag(flags, head.WriteVbrHeader ? 1 : 0);
    if (head.EnableVbr) {
        lame_set_VBR(flags, vbr_default);
        lame_set_VBR_q(flags, static_cast<int>(head.VbrQuality));
        lame_set_VBR_min_bitrate_kbps(flags, static_cast<int>(head.BitRate));
        if (head.MaxBitRate >= head.BitRate && BitRateFits(outRate, head.MaxBitRate))
            lame_set_VBR_max_bitrate_kbps(flags, static_cast<int>(head.MaxBitRate));
    } else {
        lame_set_VBR(flags, vbr_off);
        lame_set_brate(flags, static_cast<int>(head.BitRate));
    }
    if (lame_init_params(flags) < 0) {
        lame_close(flags);
        return LAME_ENC_BAD_PARAMETERS;
    }

    std::lock_guard lock(StreamsLock);
    for (int i = 0; i < MaxStreams; ++i) {
        TStream &slot = Streams[i];
        if (slot.Flags)
            continue;
        slot.Flags = flags;
        slot.Channels = channels;
        // One frame per chunk; a call may bring up to two chunks.
        const uint32_t perChunk = static_cast<uint32_t>(lame_get_framesize(flags)) * static_cast<uint32_t>(channels);
        slot.MaxSamples = 2 * perChunk;
        // The encoder's own bound for n samples per channel: 1.25 n + 7200.
        slot.OutputSize = slot.MaxSamples / static_cast<uint32_t>(channels) * 5 / 4 + 7200;
        *samplesPerChunk = perChunk;
        *outputBufferSize = slot.OutputSize;
        *stream = static_cast<uint32_t>(i + 1);
        return LAME_ENC_OK;
    }
    lame_close(flags);
    return LAME_ENC_NO_HANDLES;
}

extern "C" uint32_t beEncodeChunk(uint32_t stream, uint32_t samples, const int16_t *data, uint8_t *output,
                                  uint32_t *outputBytes)
{
    TStream *s;
    {
        std::lock_guard lock(StreamsLock);
        s = Find(stream);
    }
    if (!s)
        return LAME_ENC_BAD_HANDLE;
    if (!output || !outputBytes || (samples > 0 && !data))
        return LAME_ENC_BAD_PARAMETERS;
    *outputBytes = 0;
    if (samples > s->MaxSamples)
        return LAME_ENC_BUFFER_TOO_SMALL;
    const int frames = static_cast<int>(samples) / s->Channels;
    int produced;
    if (s->Channels == 1) {
        produced = lame_encode_buffer(s->Flags, data, data, frames, output, static_cast<int>(s->OutputSize));
    } else {
        // The encoder's interleaved entry takes a writable pointer; give it a copy.
        std::unique_ptr<short[]> copy(new short[static_cast<size_t>(frames) * 2]);
        std::copy(data, data + static_cast<size_t>(frames) * 2, copy.get());
        produced =
            lame_encode_buffer_interleaved(s->Flags, copy.get(), frames, output, static_cast<int>(s->OutputSize));
    }
    if (produced < 0)
        return LAME_ENC_ENCODER_FAILED;
    *outputBytes = static_cast<uint32_t>(produced);
    return LAME_ENC_OK;
}

extern "C" uint32_t beDeinitStream(uint32_t stream, uint8_t *output, uint32_t *outputBytes)
{
    TStream *s;
    {
        std::lock_guard lock(StreamsLock);
        s = Find(stream);
    }
    if (!s)
        return LAME_ENC_BAD_HANDLE;
    if (!output || !outputBytes)
        return LAME_ENC_BAD_PARAMETERS;
    const int produced = lame_encode_flush(s->Flags, output, static_cast<int>(s->OutputSize));
    if (produced < 0) {
        *outputBytes = 0;
        return LAME_ENC_ENCODER_FAILED;
    }
    *outputBytes = static_cast<uint32_t>(produced);
    return LAME_ENC_OK;
}

extern "C" uint32_t beCloseStream(uint32_t stream)
{
    std::lock_guard lock(StreamsLock);
    TStream *s = Find(stream);
    if (!s)
        return LAME_ENC_BAD_HANDLE;
    lame_close(s->Flags);
    *s = TStream{};
    return LAME_ENC_OK;
}
