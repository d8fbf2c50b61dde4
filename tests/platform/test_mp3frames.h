// SPDX-License-Identifier: GPL-3.0-or-later
// Helpers the MP3 tests share: a canonical 44-byte-header WAVE file of a
// sine tone, and a reader that walks an MP3 file frame by frame, decoding
// each four-byte MPEG audio header by hand.
#pragma once

#include <cmath>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <numbers>
#include <string>
#include <vector>

namespace mp3test {

inline void Put16(std::vector<uint8_t> &out, uint32_t v)
{
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

inline void Put32(std::vector<uint8_t> &out, uint32_t v)
{
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

// A 16-bit PCM WAVE file (fmt chunk of 16 bytes, data at offset 44) holding
// a full-scale-half 440 Hz tone in every channel.
inline void WriteTone(const std::string &path, uint32_t rate, uint16_t channels, uint32_t frames)
{
    std::vector<uint8_t> file;
    const uint32_t dataBytes = frames * channels * 2;
    file.insert(file.end(), {'R', 'I', 'F', 'F'});
    Put32(file, 36 + dataBytes);
    file.insert(file.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    Put32(file, 16);
    Put16(file, 1);
    Put16(file, channels);
    Put32(file, rate);
    Put32(file, rate * channels * 2);
    Put16(file, channels * 2);
    Put16(file, 16);
    file.insert(file.end(), {'d', 'a', 't', 'a'});
    Put32(file, dataBytes);
    for (uint32_t i = 0; i < frames; ++i) {
        const auto v = static_cast<int16_t>(std::lround(16000.0 * std::sin(2.0 * std::numbers::pi * 440.0 * i / rate)));
        for (uint16_t c = 0; c < channels; ++c)
            Put16(file, static_cast<uint16_t>(v));
    }
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char *>(file.data()), static_cast<std::streamsize>(file.size()));
}

inline std::vector<uint8_t> ReadAll(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct Frame {
    int Version = 0;      // 1 = MPEG-1, 2 = MPEG-2, 25 = MPEG-2.5
    int Layer = 0;        // 3 for Layer III
    bool Crc = false;     // protection bit clear: a CRC follows the header
    int BitRateIndex = 0; // the header's 4-bit index
    int BitRate = 0;      // kbit/s
    int SampleRate = 0;   // Hz
    bool Private = false;
    int ChannelMode = 0; // 3 = mono
    size_t Length = 0;   // bytes, header included
};

// Decodes the header at bytes[at]; false when it is not a Layer III header.
inline bool DecodeHeader(const std::vector<uint8_t> &bytes, size_t at, Frame &frame)
{
    if (at + 4 > bytes.size())
        return false;
    const uint8_t b1 = bytes[at + 1], b2 = bytes[at + 2], b3 = bytes[at + 3];
    // 11 sync bits; MPEG-1 and MPEG-2 also set the 12th (0xFFE).
    if (bytes[at] != 0xFF || (b1 & 0xE0) != 0xE0)
        return false;
    const int versionBits = (b1 >> 3) & 3;
    frame.Version = versionBits == 3 ? 1 : versionBits == 2 ? 2 : versionBits == 0 ? 25 : 0;
    frame.Layer = ((b1 >> 1) & 3) == 1 ? 3 : 0;
    frame.Crc = (b1 & 1) == 0;
    frame.BitRateIndex = b2 >> 4;
    static const int mpeg1Rates[16] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, -1};
    static const int mpeg2Rates[16] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, -1};
    frame.BitRate = frame.Version == 1 ? mpeg1Rates[frame.BitRateIndex] : mpeg2Rates[frame.BitRateIndex];
    const int rateIndex = (b2 >> 2) & 3;
    static const int baseRates[3] = {44100, 48000, 32000};
    if (frame.Version == 0 || frame.Layer != 3 || frame.BitRate <= 0 || rateIndex == 3)
        return false;
    frame.SampleRate = baseRates[rateIndex] / (frame.Version == 1 ? 1 : frame.Version == 2 ? 2 : 4);
    const int padding = (b2 >> 1) & 1;
    frame.Private = (b2 & 1) != 0;
    frame.ChannelMode = b3 >> 6;
    const int coefficient = frame.Version == 1 ? 144 : 72;
    frame.Length = static_cast<size_t>(coefficient * frame.BitRate * 1000 / frame.SampleRate + padding);
    return true;
}

// Every frame of the file, from its first byte; empty when the file does not
// consist of whole Layer III frames exactly.
inline std::vector<Frame> Frames(const std::vector<uint8_t> &bytes)
{
    std::vector<Frame> frames;
    size_t at = 0;
    while (at < bytes.size()) {
        Frame frame;
        if (!DecodeHeader(bytes, at, frame) || at + frame.Length > bytes.size())
            return {};
        frames.push_back(frame);
        at += frame.Length;
    }
    return frames;
}

} // namespace mp3test
