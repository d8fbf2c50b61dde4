// SPDX-License-Identifier: GPL-3.0-or-later
// Reads the 44-byte header as a canonical PCM WAVE header and takes every
// byte after it as sample data (with the 20-byte "fmt " chunk our writers
// use, the "data" size field goes along as two samples at the start; a
// few microseconds of noise the encoder never notices).

#include "audio/lameconvert.h"

#include "base/programfolder.h"
#include "base/replacefile.h"
#include "platform/lame_enc.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

namespace {

std::mutex FolderLock;
std::string Folder; // empty: the program's own folder

struct TLibrary {
    void *Handle = nullptr;
    BeInitStreamFn Init = nullptr;
    BeEncodeChunkFn Encode = nullptr;
    BeDeinitStreamFn Deinit = nullptr;
    BeCloseStreamFn Close = nullptr;

    explicit TLibrary(const std::string &path)
    {
        Handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!Handle)
            return;
        Init = reinterpret_cast<BeInitStreamFn>(dlsym(Handle, "beInitStream"));
        Encode = reinterpret_cast<BeEncodeChunkFn>(dlsym(Handle, "beEncodeChunk"));
        Deinit = reinterpret_cast<BeDeinitStreamFn>(dlsym(Handle, "beDeinitStream"));
        Close = reinterpret_cast<BeCloseStreamFn>(dlsym(Handle, "beCloseStream"));
    }
    ~TLibrary()
    {
        if (Handle)
            dlclose(Handle);
    }
    TLibrary(const TLibrary &) = delete;
    TLibrary &operator=(const TLibrary &) = delete;
};

struct TFile {
    std::FILE *F;
    ~TFile()
    {
        if (F)
            std::fclose(F);
    }
};

uint32_t Le32(const unsigned char *p)
{
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

uint16_t Le16(const unsigned char *p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

} // namespace

void SetLameLibraryFolder(const std::string &folder)
{
    std::lock_guard lock(FolderLock);
    Folder = folder;
}

std::string LameLibraryPath()
{
    std::lock_guard lock(FolderLock);
    return (Folder.empty() ? ProgramFolder() : Folder) + "/liblame_enc.so";
}

bool LameLibraryAvailable()
{
    const TLibrary library(LameLibraryPath());
    return library.Init && library.Encode && library.Deinit && library.Close;
}

int16_t LameConvertFile(const std::string &source, const std::string &destination, int32_t bitRate)
{
    // Every conversion starts from 0 %; the stop request is cleared when a
    // conversion returns, so one that came before this one began stands.
    LameProgress = 0;
    struct TStopClearer {
        ~TStopClearer() { LameStopRequested = false; }
    } clearer;
    TFile in{std::fopen(source.c_str(), "rb")};
    if (!in.F)
        return LameNotOpened;

    unsigned char header[44];
    if (std::fread(header, 1, sizeof header, in.F) != sizeof header)
        return LameTooShort;
    if (std::memcmp(header + 8, "WAVE", 4) != 0)
        return LameNotWave;
    const uint16_t channels = Le16(header + 22);
    const uint32_t sampleRate = Le32(header + 24);
    const uint16_t blockAlign = Le16(header + 32);
    if (sampleRate >= 8000 && sampleRate <= 22050 && bitRate > 160)
        return LameBitRateRefused;

    const TLibrary library(LameLibraryPath());
    if (!library.Handle)
        return LameNoLibrary;

    TLameConfig config;
    std::memset(&config, 0, sizeof config);
    config.Head.Kind = LAME_CONFIG_KIND;
    config.Head.Version = LAME_CONFIG_VERSION;
    config.Head.Size = LAME_CONFIG_SIZE;
    config.Head.SampleRate = sampleRate;
    config.Head.OutSampleRate = 0;
    config.Head.Mode = channels == 1 ? LAME_MODE_MONO : LAME_MODE_DUAL_CHANNEL;
    config.Head.BitRate = static_cast<uint32_t>(bitRate);
    config.Head.MaxBitRate = static_cast<uint32_t>(bitRate);
    config.Head.Preset = 2;
    config.Head.MpegVersion = 1;
    config.Head.Private = 1;
    config.Head.Crc = 1;
    config.Head.VbrQuality = 4;
    uint32_t samplesPerChunk = 0, outputSize = 0, stream = 0;
    if (!library.Init || !library.Encode || !library.Deinit || !library.Close ||
        library.Init(&config, &samplesPerChunk, &outputSize, &stream) != 0)
        return LameNoStream;
    // From here on the stream is closed on every way out.
    struct TStreamCloser {
        const TLibrary &Library;
        uint32_t Stream;
        ~TStreamCloser() { Library.Close(Stream); }
    } closer{library, stream};

    // Two channels give twice the samples per chunk; the bytes per chunk stay
    // one encoder frame's worth either way. The arithmetic is 16-bit.
    const uint16_t chunkBytes = static_cast<uint16_t>(samplesPerChunk / (channels > 1 ? channels : 1u) * blockAlign);
    // A header with no block size would never move forward.
    if (chunkBytes < 2)
        return LameNoStream;
    std::fseek(in.F, 0, SEEK_END);
    const long fileSize = std::ftell(in.F);
    std::fseek(in.F, 44, SEEK_SET);
    const uint64_t dataBytes = fileSize > 44 ? static_cast<uint64_t>(fileSize - 44) : 0;

    std::vector<uint8_t> output;
    std::vector<int16_t> chunk;
    try {
        output.resize(outputSize);
        chunk.resize((chunkBytes + 1u) / 2u);
    } catch (const std::bad_alloc &) {
        return LameNoMemory;
    }

    // Only now, with the source and the settings accepted, does a file
    // appear: a temporary one beside the destination, renamed over it when
    // the last frame is written.
    if (LameStopRequested)
        return LameStopped;
    TFileReplacement replacement(destination);
    std::FILE *out = replacement.Open() ? replacement.Stream() : nullptr;
    if (!out)
        return LameNotOpened;

    uint64_t done = 0;
    while (done != dataBytes) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(chunkBytes, dataBytes - done));
        if (std::fread(chunk.data(), 1, n, in.F) != n)
            return LameReadFailed;
        uint32_t produced = 0;
        if (library.Encode(stream, static_cast<uint32_t>(n / 2), chunk.data(), output.data(), &produced) != 0)
            return LameEncodeFailed;
        if (std::fwrite(output.data(), 1, produced, out) != produced)
            return LameWriteFailed;
        done += n;
        LameProgress = static_cast<uint16_t>(done * 100 / dataBytes);
        if (LameStopRequested)
            return LameStopped;
    }
    uint32_t produced = 0;
    library.Deinit(stream, output.data(), &produced);
    if (std::fwrite(output.data(), 1, produced, out) != produced || !replacement.Commit())
        return LameWriteFailed;
    LameProgress = 100;
    return LameOk;
}
