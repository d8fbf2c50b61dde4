// SPDX-License-Identifier: GPL-3.0-or-later
// Helpers shared by the WAVE file tests: a private folder per test, files
// built byte by byte (independently of the writers), a message sink and a
// gauge that remember what they were told.
#pragma once

#include "audio/messages.h"
#include "audio/progress.h"
#include "tests/fulldisk.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <unistd.h>

namespace wavetesting {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

// A fresh folder under the system's temporary folder, removed afterwards.
class TempFolder {
public:
    TempFolder()
    {
        std::string pattern = (fs::temp_directory_path() / "gbxtestXXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            throw std::runtime_error("mkdtemp failed");
        path = pattern;
    }
    ~TempFolder()
    {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
    TempFolder(const TempFolder &) = delete;
    TempFolder &operator=(const TempFolder &) = delete;

    const fs::path &Path() const { return path; }
    std::string File(const std::string &leaf) const { return (path / leaf).string(); }

    // Names of everything in the folder, sorted.
    std::vector<std::string> Entries() const
    {
        std::vector<std::string> names;
        for (const auto &entry : fs::directory_iterator(path))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

private:
    fs::path path;
};

// Points the system's temporary folder (TMPDIR) at a private folder for the
// life of the object, so that a test can see every temporary file made.
class PrivateTmpDir {
public:
    PrivateTmpDir()
    {
        if (const char *old = std::getenv("TMPDIR")) {
            hadOld = true;
            oldValue = old;
        }
        ::setenv("TMPDIR", folder.Path().c_str(), 1);
    }
    ~PrivateTmpDir()
    {
        if (hadOld)
            ::setenv("TMPDIR", oldValue.c_str(), 1);
        else
            ::unsetenv("TMPDIR");
    }
    const TempFolder &Folder() const { return folder; }

private:
    TempFolder folder;
    bool hadOld = false;
    std::string oldValue;
};

// Caps this process's address space a little above what it uses now, so
// that a large allocation fails with std::bad_alloc.
class AddressSpaceLimit {
public:
    explicit AddressSpaceLimit(uint64_t headroom)
    {
        ::getrlimit(RLIMIT_AS, &old);
        long pages = 0;
        FILE *statm = std::fopen("/proc/self/statm", "r");
        if (statm) {
            if (std::fscanf(statm, "%ld", &pages) != 1)
                pages = 0;
            std::fclose(statm);
        }
        rlimit lowered = old;
        lowered.rlim_cur = static_cast<rlim_t>(pages) * static_cast<rlim_t>(::sysconf(_SC_PAGESIZE)) + headroom;
        ::setrlimit(RLIMIT_AS, &lowered);
    }
    ~AddressSpaceLimit() { ::setrlimit(RLIMIT_AS, &old); }

private:
    rlimit old{};
};

inline void WriteBytes(const std::string &fileName, const Bytes &bytes)
{
    std::ofstream out(fileName, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + fileName);
}

inline Bytes ReadBytes(const std::string &fileName)
{
    std::ifstream in(fileName, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void Append(Bytes &out, const Bytes &more)
{
    out.insert(out.end(), more.begin(), more.end());
}

inline void Append16(Bytes &out, uint16_t value)
{
    out.push_back(static_cast<uint8_t>(value & 0xFF));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

inline void Append32(Bytes &out, uint32_t value)
{
    Append16(out, static_cast<uint16_t>(value & 0xFFFF));
    Append16(out, static_cast<uint16_t>(value >> 16));
}

inline void AppendId(Bytes &out, const char (&id)[5])
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<uint8_t>(id[i]));
}

// A chunk: id, size (the payload's unless given), payload, pad byte after
// an odd payload unless told not to.
inline Bytes Chunk(const char (&id)[5], const Bytes &payload, int64_t size = -1, bool pad = true)
{
    Bytes out;
    AppendId(out, id);
    Append32(out, size < 0 ? static_cast<uint32_t>(payload.size()) : static_cast<uint32_t>(size));
    Append(out, payload);
    if (pad && payload.size() % 2 == 1)
        out.push_back(0);
    return out;
}

// The payload of a PCM "fmt " chunk: the 16 bytes of the format, then
// `extra` more zero bytes.
inline Bytes Format(uint16_t channels, uint32_t rate, uint16_t bits, uint16_t tag = 1, std::size_t extra = 0)
{
    Bytes out;
    const uint16_t align = static_cast<uint16_t>(channels * (bits / 8));
    Append16(out, tag);
    Append16(out, channels);
    Append32(out, rate);
    Append32(out, rate * align);
    Append16(out, align);
    Append16(out, bits);
    out.resize(out.size() + extra, 0);
    return out;
}

// "RIFF" size "WAVE" and the chunks; size is the true one unless given.
inline Bytes RiffWave(const std::vector<Bytes> &chunks, int64_t size = -1, const char (&form)[5] = "WAVE")
{
    Bytes body;
    AppendId(body, form);
    for (const Bytes &chunk : chunks)
        Append(body, chunk);
    Bytes out;
    AppendId(out, "RIFF");
    Append32(out, size < 0 ? static_cast<uint32_t>(body.size()) : static_cast<uint32_t>(size));
    Append(out, body);
    return out;
}

inline Bytes Samples16(const std::vector<int16_t> &samples)
{
    Bytes out;
    for (int16_t s : samples)
        Append16(out, static_cast<uint16_t>(s));
    return out;
}

// A plain PCM file: "fmt " (16 bytes) and "data".
inline Bytes SimpleWave(uint16_t channels, uint32_t rate, uint16_t bits, const Bytes &data)
{
    return RiffWave({Chunk("fmt ", Format(channels, rate, bits)), Chunk("data", data)});
}

inline std::vector<int16_t> ToSamples(const int16_t *data, int32_t byteCount)
{
    return std::vector<int16_t>(data, data + byteCount / 2);
}

class RecordingSink : public MessageSink {
public:
    void ShowMessage(const std::string &text, const std::string &caption) override
    {
        Texts.push_back(text);
        Captions.push_back(caption);
    }
    std::vector<std::string> Texts;
    std::vector<std::string> Captions;
};

// Remembers Progress at every change of the shown percentage. With a
// maximum of 90 every single unit changes the percentage, so the list is
// the exact sequence of values the gauge went through.
class RecordingGauge : public ProgressGauge {
public:
    std::vector<int32_t> Values;
    std::vector<int32_t> Percents;

protected:
    void PercentChanged(int32_t percent) override
    {
        Values.push_back(Progress());
        Percents.push_back(percent);
    }
};

// Writes past a lowered file-size limit fail with EFBIG, as on a full disk,
// and this works for root as well.
using fulldisk::FileSizeLimit;

} // namespace wavetesting
