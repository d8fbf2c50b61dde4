// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/fuzz/mediafuzz.h"

#include "audio/media.h"
#include "audio/messages.h"
#include "audio/soundfile.h"
#include "audio/voiceformat.h"

#include <sndfile.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <dirent.h>
#include <sys/mman.h>
#include <unistd.h>

namespace {

const TMediaPlugin *Plugin = nullptr;

// The frames asked of each Read in turn: a block as the sound-file reader
// asks, a single frame, and an odd count that ends inside a decoded frame.
constexpr std::array<int64_t, 3> BlockFrames{4096, 1, 333};
// Values kept after the asked frames, which Read must leave as they are.
constexpr std::size_t GuardValues = 8;
constexpr uint64_t GuardBits = 0x7FF4DEADBEEFCAFEu; // a signalling NaN

// The rates ReadSoundFile takes (audio/soundfile.h).
constexpr int MinSoundFileRate = 1000;
constexpr int MaxSoundFileRate = 768000;

[[noreturn]] void Fail(const char *what)
{
    std::fprintf(stderr, "media fuzz: %s\n", what);
    std::abort();
}

// Refusals are the common case; nothing is shown.
class QuietSink : public MessageSink {
public:
    void ShowMessage(const std::string &, const std::string &) override {}
};

class Memfd {
public:
    explicit Memfd(int fd) : fd(fd) {}
    ~Memfd()
    {
        if (fd >= 0)
            ::close(fd);
    }
    Memfd(const Memfd &) = delete;
    Memfd &operator=(const Memfd &) = delete;
    int Get() const { return fd; }

private:
    int fd;
};

// The descriptors the process has open (the listing's own included, the
// same each time).
int OpenDescriptors()
{
    DIR *folder = ::opendir("/proc/self/fd");
    if (!folder)
        Fail("cannot list /proc/self/fd");
    int count = 0;
    while (const dirent *entry = ::readdir(folder))
        count += entry->d_name[0] != '.';
    ::closedir(folder);
    return count;
}

bool WriteAll(int fd, const uint8_t *data, std::size_t size)
{
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool SndfileKnows(const std::string &path)
{
    SF_INFO format{};
    SNDFILE *file = sf_open(path.c_str(), SFM_READ, &format);
    if (!file)
        return false;
    sf_close(file);
    return true;
}

// A mono value as ReadSoundFile stores it: x 32768, nearest integer with
// halves to even, clipped. Only finite values reach it.
int16_t VoiceSample(double value)
{
    const double scaled = std::nearbyint(value * 32768.0);
    return static_cast<int16_t>(std::clamp(scaled, -32768.0, 32767.0));
}

// The frames of the open reader, in blocks, until the end, a failure or
// the bound; at 22050 Hz also the voice they make, into voice.
void ReadToEnd(GlimmerMediaReader *reader, TMediaFuzzResult &result, std::vector<int16_t> &voice)
{
    const int channels = result.Info.Channels;
    const bool keepVoice = result.Info.SampleRate == static_cast<int>(VoiceFormat.SamplesPerSec);
    std::vector<double> buffer;
    int64_t samples = 0;
    for (std::size_t call = 0; samples < MaxFuzzSamples; ++call) {
        const int64_t asked = BlockFrames[call % BlockFrames.size()];
        const std::size_t values = static_cast<std::size_t>(asked) * static_cast<std::size_t>(channels);
        buffer.resize(values + GuardValues);
        for (std::size_t i = values; i < buffer.size(); ++i)
            std::memcpy(&buffer[i], &GuardBits, sizeof GuardBits);

        const int64_t got = Plugin->Read(reader, buffer.data(), asked);
        for (std::size_t i = values; i < buffer.size(); ++i)
            if (std::memcmp(&buffer[i], &GuardBits, sizeof GuardBits) != 0)
                Fail("Read wrote past the frames asked for");
        if (got < 0) {
            if (got < -GLIMMER_MEDIA_BROKEN)
                Fail("Read gave a failure that is none of the plugin's results");
            result.ReadFailure = got;
            return;
        }
        if (got > asked)
            Fail("Read gave more frames than asked for");
        if (got == 0) {
            result.Ended = true;
            return;
        }
        const std::size_t given = static_cast<std::size_t>(got) * static_cast<std::size_t>(channels);
        for (std::size_t i = 0; i < given; ++i)
            if (!std::isfinite(buffer[i]))
                Fail("Read gave a sample that is not a finite number");
        if (keepVoice)
            for (int64_t f = 0; f < got; ++f) {
                const double *frame = &buffer[static_cast<std::size_t>(f * channels)];
                double sum = 0;
                for (int c = 0; c < channels; ++c)
                    sum += frame[c];
                voice.push_back(VoiceSample(sum / channels));
            }
        result.Frames += got;
        samples += got * channels;
    }
}

// Whether ReadSoundFile, reading through the plugin what the plugin read
// to its end, must give a voice: the rate is one it takes, and the length
// the container states (which it checks before reading) fits a voice.
bool VoiceExpected(const TMediaFuzzResult &result)
{
    const GlimmerMediaInfo &info = result.Info;
    if (info.SampleRate < MinSoundFileRate || info.SampleRate > MaxSoundFileRate)
        return false;
    const long double stated =
        static_cast<long double>(info.Frames) * VoiceFormat.SamplesPerSec / static_cast<long double>(info.SampleRate);
    return std::ceil(stated) <= static_cast<long double>(MaxVoiceSamples);
}

// The sound-file reader over the same bytes, checked against what the
// plugin gave when the plugin is its only way in.
void ReadAsSoundFile(int fd, TMediaFuzzResult &result, const std::vector<int16_t> &pluginVoice)
{
    // The sound-file reader has no bound but the voice's 13 hours: what
    // reached the bound here is not read a second time.
    const bool pluginReadAll = result.Opened == GLIMMER_MEDIA_OK && result.Ended;
    if (result.Opened == GLIMMER_MEDIA_OK && !result.Ended && result.ReadFailure == 0)
        return;
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    result.SndfileKnows = SndfileKnows(path);
    // A file libsndfile knows it reads itself, the plugin never: that is
    // the WAVE fuzzer's ground, run here only for files the plugin read
    // whole (Ogg, FLAC, MP3), whose length is known to be bounded.
    if (result.SndfileKnows && !pluginReadAll)
        return;

    QuietSink quiet;
    TEffectSettings settings;
    int32_t bytes = -1;
    const std::unique_ptr<int16_t[]> voice = ReadSoundFile(path, bytes, settings, quiet);
    if (voice) {
        if (bytes < 0 || bytes % 2 != 0)
            Fail("ReadSoundFile gave a byte count that is not a count of samples");
        result.VoiceBytes = bytes;
    }
    if (result.SndfileKnows)
        return;

    if (!pluginReadAll) {
        if (voice)
            Fail("ReadSoundFile gave a voice for a file the plugin cannot read");
        return;
    }
    if (!voice) {
        if (VoiceExpected(result))
            Fail("ReadSoundFile gave no voice for a file the plugin read whole");
        return;
    }
    if (!VoiceExpected(result))
        Fail("ReadSoundFile gave a voice for a file it must refuse");
    const int64_t samples = bytes / 2;
    if (result.Info.SampleRate == static_cast<int>(VoiceFormat.SamplesPerSec)) {
        // No resampler: the very frames read, mixed down and rounded.
        if (samples != static_cast<int64_t>(pluginVoice.size()) ||
            !std::equal(pluginVoice.begin(), pluginVoice.end(), voice.get()))
            Fail("ReadSoundFile's voice differs from the frames the plugin gave");
        return;
    }
    const double exact = static_cast<double>(result.Frames) * VoiceFormat.SamplesPerSec / result.Info.SampleRate;
    if (std::abs(static_cast<double>(samples) - exact) >= 1.0)
        Fail("ReadSoundFile's voice is not as long as the frames the plugin gave");
}

} // namespace

void FuzzMediaSetUp(const std::string &pluginFolder)
{
    if (Plugin)
        return;
    SetMediaPluginFolder(pluginFolder);
    Plugin = LoadMediaPlugin();
    if (!Plugin) {
        std::fprintf(stderr, "media fuzz: cannot load %s\n", MediaPluginPath().c_str());
        std::abort();
    }
}

bool SoundFilePassSampled(const uint8_t *data, std::size_t size)
{
    // FNV-1a over the bytes.
    uint32_t hash = 2166136261u;
    for (std::size_t i = 0; i < size; ++i)
        hash = (hash ^ data[i]) * 16777619u;
    return hash % 4 == 0;
}

TMediaFuzzResult FuzzMediaInput(const uint8_t *data, std::size_t size, bool soundFilePass)
{
    if (!Plugin)
        Fail("FuzzMediaSetUp was not called");
    const int descriptors = OpenDescriptors();
    TMediaFuzzResult result;
    {
        const Memfd file(::memfd_create("glimmer-media-fuzz", MFD_CLOEXEC));
        if (file.Get() < 0 || !WriteAll(file.Get(), data, size))
            Fail("cannot put the input in a memfd");

        std::vector<int16_t> pluginVoice;
        GlimmerMediaReader *reader = nullptr;
        GlimmerMediaInfo info{};
        result.Opened = Plugin->Open(file.Get(), &reader, &info);
        if (result.Opened == GLIMMER_MEDIA_OK) {
            if (!reader)
                Fail("Open succeeded without a reader");
            if (info.SampleRate <= 0 || info.Channels < 1 || info.Channels > 64 || info.Frames < 0)
                Fail("Open succeeded with a rate, channels or length out of range");
            result.Info = info;
            ReadToEnd(reader, result, pluginVoice);
            Plugin->Close(reader);
        } else if (result.Opened != GLIMMER_MEDIA_UNKNOWN && result.Opened != GLIMMER_MEDIA_NO_MEMORY &&
                   result.Opened != GLIMMER_MEDIA_BROKEN) {
            Fail("Open gave a result that is none of the plugin's");
        }
        if (soundFilePass)
            ReadAsSoundFile(file.Get(), result, pluginVoice);
    }
    if (OpenDescriptors() != descriptors)
        Fail("a descriptor was left open");
    return result;
}
