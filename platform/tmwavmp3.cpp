// SPDX-License-Identifier: GPL-3.0-or-later
// The WAVE-to-MP3 conversion library over shine. The source is streamed one
// encoder pass (576 or 1152 samples per channel) at a time, so memory use
// does not grow with the file; the last pass is padded with silence. The
// destination is written through a temporary file beside it and replaced
// only by a finished conversion.

#include "platform/tmwavmp3.h"

#include "base/replacefile.h"

// shine's header has no C++ guard of its own.
extern "C" {
#include <shine/layer3.h>
}

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

namespace {

std::atomic<int16_t> Status{0};
std::atomic<bool> StopRequested{false};

struct TSource {
    uint16_t Format = 0;
    uint16_t Channels = 0;
    uint32_t SampleRate = 0;
    uint16_t BlockAlign = 0;
    uint16_t Bits = 0;
    long DataOffset = -1;
    uint32_t DataBytes = 0;
};

uint32_t Le32(const unsigned char *p)
{
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

uint16_t Le16(const unsigned char *p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

// Walks the chunks after the RIFF header up to "data"; 0 or a code.
int16_t ReadHeader(std::FILE *file, TSource &source)
{
    unsigned char riff[12];
    if (std::fread(riff, 1, sizeof riff, file) != sizeof riff || std::memcmp(riff, "RIFF", 4) != 0 ||
        std::memcmp(riff + 8, "WAVE", 4) != 0)
        return TMWAVMP3_NO_RIFF;
    if (std::fseek(file, 0, SEEK_END) != 0)
        return TMWAVMP3_OPEN_INPUT;
    const long fileSize = std::ftell(file);
    long position = 12;
    bool haveFormat = false;
    while (position + 8 <= fileSize) {
        unsigned char chunk[8];
        if (std::fseek(file, position, SEEK_SET) != 0 || std::fread(chunk, 1, 8, file) != 8)
            return TMWAVMP3_OPEN_INPUT;
        const uint32_t size = Le32(chunk + 4);
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            unsigned char fmt[16];
            if (size < sizeof fmt || std::fread(fmt, 1, sizeof fmt, file) != sizeof fmt)
                return TMWAVMP3_NO_RIFF;
            source.Format = Le16(fmt);
            source.Channels = Le16(fmt + 2);
            source.SampleRate = Le32(fmt + 4);
            source.BlockAlign = Le16(fmt + 12);
            source.Bits = Le16(fmt + 14);
            haveFormat = true;
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            if (!haveFormat)
                return TMWAVMP3_NO_RIFF;
            source.DataOffset = position + 8;
            // A size running past the end of the file stops at the end.
            const long available = fileSize - source.DataOffset;
            source.DataBytes = size > static_cast<unsigned long>(available) ? static_cast<uint32_t>(available) : size;
            return 0;
        }
        position += 8 + static_cast<long>(size) + (size & 1);
    }
    return haveFormat ? TMWAVMP3_NO_DATA : TMWAVMP3_NO_RIFF;
}

// Length in bytes of the Layer III frame whose header is h, or 0.
size_t FrameLength(const unsigned char *h)
{
    static const int mpeg1Rates[16] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0};
    static const int mpeg2Rates[16] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0};
    static const int sampleRates[4] = {44100, 48000, 32000, 0};
    if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0 || ((h[1] >> 1) & 3) != 1)
        return 0;
    const int version = (h[1] >> 3) & 3; // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5
    const int bitRate = (version == 3 ? mpeg1Rates : mpeg2Rates)[h[2] >> 4];
    const int rate = sampleRates[(h[2] >> 2) & 3] / (version == 3 ? 1 : version == 2 ? 2 : 4);
    if (version == 1 || bitRate == 0 || rate == 0)
        return 0;
    return static_cast<size_t>((version == 3 ? 144 : 72) * bitRate * 1000 / rate + ((h[2] >> 1) & 1));
}

// shine's flush stops at the last bit of sound data, which can leave the
// final frame a few bytes short of the length its header gives. Walks the
// frames and pads the last one with zeros (ancillary data) so that the file
// ends on a frame boundary. False when the file cannot be written.
bool CompleteLastFrame(std::FILE *out)
{
    if (std::fflush(out) != 0 || std::fseek(out, 0, SEEK_END) != 0)
        return false;
    const long size = std::ftell(out);
    long at = 0;
    while (at + 4 <= size) {
        unsigned char header[4];
        if (std::fseek(out, at, SEEK_SET) != 0 || std::fread(header, 1, 4, out) != 4)
            return false;
        const size_t length = FrameLength(header);
        if (length == 0)
            return true; // not ours to mend
        at += static_cast<long>(length);
    }
    if (at <= size)
        return true;
    // More than a few bytes short is not the flush's doing: left alone.
    static const unsigned char zeros[16] = {};
    const size_t missing = static_cast<size_t>(at - size);
    if (missing > sizeof zeros)
        return true;
    return std::fseek(out, 0, SEEK_END) == 0 && std::fwrite(zeros, 1, missing, out) == missing;
}

int16_t Convert(const char *sourceName, const char *destinationName, int32_t bitRate)
{
    std::FILE *in = std::fopen(sourceName, "rb");
    if (!in)
        return TMWAVMP3_OPEN_INPUT;
    struct Closer {
        std::FILE *f;
        ~Closer() { std::fclose(f); }
    } inCloser{in};

    TSource source;
    if (const int16_t code = ReadHeader(in, source))
        return code;
    if (source.Format != 1 || (source.Channels != 1 && source.Channels != 2) ||
        (source.Bits != 8 && source.Bits != 16) || source.BlockAlign != source.Channels * source.Bits / 8)
        return TMWAVMP3_NO_FORMAT;
    if (shine_find_samplerate_index(static_cast<int>(source.SampleRate)) < 0)
        return TMWAVMP3_CODEC_NOT_FOUND;
    if (bitRate % 1000 != 0 || shine_check_config(static_cast<int>(source.SampleRate), bitRate / 1000) < 0)
        return TMWAVMP3_BITRATE;

    shine_config_t config;
    shine_set_config_mpeg_defaults(&config.mpeg);
    config.wave.channels = source.Channels == 1 ? PCM_MONO : PCM_STEREO;
    config.wave.samplerate = static_cast<int>(source.SampleRate);
    config.mpeg.mode = source.Channels == 1 ? MONO : STEREO;
    config.mpeg.bitr = bitRate / 1000;
    shine_t encoder = shine_initialise(&config);
    if (!encoder)
        return TMWAVMP3_NO_MEMORY;
    struct EncoderCloser {
        shine_t e;
        ~EncoderCloser() { shine_close(e); }
    } encoderCloser{encoder};

    // The MP3 goes to a temporary file beside the destination and takes its
    // place only when complete: a refusal, a cancel or a full disk leaves a
    // file already there as it was.
    TFileReplacement replacement(destinationName);
    if (!replacement.Open() || !replacement.Stream())
        return TMWAVMP3_OPEN_OUTPUT;
    std::FILE *out = replacement.Stream();

    const size_t frames = static_cast<size_t>(shine_samples_per_pass(encoder));
    const size_t passBytes = frames * source.BlockAlign;
    std::vector<unsigned char> raw(passBytes);
    std::vector<int16_t> pcm(frames * source.Channels);
    int16_t result = 0;
    uint32_t done = 0;
    std::fseek(in, source.DataOffset, SEEK_SET);
    auto write = [out](const unsigned char *bytes, int count) {
        return count <= 0 || std::fwrite(bytes, 1, static_cast<size_t>(count), out) == static_cast<size_t>(count);
    };
    while (done < source.DataBytes) {
        const size_t want = std::min<size_t>(passBytes, source.DataBytes - done);
        const size_t got = std::fread(raw.data(), 1, want, in);
        if (got != want) {
            result = TMWAVMP3_OPEN_INPUT;
            break;
        }
        // Whole samples only; the rest of the pass is silence.
        const size_t samples = got / (source.Bits / 8);
        for (size_t i = 0; i < pcm.size(); ++i) {
            if (i >= samples)
                pcm[i] = 0;
            else if (source.Bits == 16)
                pcm[i] = static_cast<int16_t>(Le16(&raw[2 * i]));
            else
                pcm[i] = static_cast<int16_t>((raw[i] - 128) * 256);
        }
        int written = 0;
        const unsigned char *bytes = shine_encode_buffer_interleaved(encoder, pcm.data(), &written);
        if (!write(bytes, written)) {
            result = TMWAVMP3_NO_SPACE;
            break;
        }
        done += static_cast<uint32_t>(got);
        Status = static_cast<int16_t>(static_cast<uint64_t>(done) * 100 / source.DataBytes);
        if (StopRequested) {
            result = TMWAVMP3_USER_ABORT;
            break;
        }
    }
    if (result == 0) {
        int written = 0;
        const unsigned char *bytes = shine_flush(encoder, &written);
        if (!write(bytes, written) || !CompleteLastFrame(out))
            result = TMWAVMP3_NO_SPACE;
    }
    if (result != 0)
        return result; // the replacement removes its temporary file
    if (!replacement.Commit())
        return TMWAVMP3_NO_SPACE;
    Status = 100;
    return 0;
}

} // namespace

extern "C" int16_t ConvertWaveFileToMp3(const char *source, const char *destination, int32_t bitRate)
{
    Status = 0;
    StopRequested = false;
    if (!source || !destination)
        return !source ? TMWAVMP3_OPEN_INPUT : TMWAVMP3_OPEN_OUTPUT;
    try {
        return Convert(source, destination, bitRate);
    } catch (const std::bad_alloc &) {
        return TMWAVMP3_NO_MEMORY;
    }
}

extern "C" int16_t GetStatusWavToMP3(void)
{
    return Status;
}

extern "C" void StopConversionWavToMP3(void)
{
    StopRequested = true;
}
