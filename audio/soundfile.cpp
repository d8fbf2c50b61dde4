// SPDX-License-Identifier: GPL-3.0-or-later
// The general sound-file reader and the FLAC and Ogg writers.
//
// Reading is one streaming pass, a block of frames at a time:
//
//   file --libsndfile, or when it does not know the file, the media
//          plugin (FFmpeg)--> C channels of doubles (16-bit full scale = 1.0)
//        --mean of the C channels--> mono doubles
//        --libsoxr, very high quality, rate -> 22050 Hz--> mono doubles
//        --x 32768, round half to even, clip--> 16-bit voice samples
//
// A file already at 22050 Hz skips the resampler, so a 24-bit or float
// file holding 16-bit values comes back exactly. The length of the result
// is known from the header (frames x 22050 / rate) before anything of that
// size is allocated; a stream whose length is not known, or whose header
// promises more than its size can hold, grows its buffer as it goes, never
// past what a voice can hold.
//
// Both decoders feed the same steps after them, so a lossless file gives
// the same voice whichever reads it. The gauge runs to 90 with the frames
// decoded, as the WAVE reader's does for its own conversions.
#include "audio/soundfile.h"

#include "base/replacefile.h"

#include "audio/media.h"
#include "audio/riff.h"
#include "audio/voiceformat.h"

#include <sndfile.h>
#include <soxr.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <new>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

constexpr int32_t ConversionUnits = 90;
// Frames decoded per step of the loop (fewer for files of many channels),
// and the most samples the resampler hands back at a time.
constexpr sf_count_t BlockFrames = 8192;
constexpr std::size_t BlockValues = 65536;
// Room kept beyond the length the header promises: the resampler's last
// output may round up by a sample, and a decoder may find a few more.
constexpr int64_t SlackSamples = 4096;

const std::string IncompatibleText = "Incompatible file format of: ";
const std::string NoBufferText = "Cannot allocate buffer for audio data, Terminating...";

// The sample rates this reader takes: at 1000 Hz a frame becomes 22 voice
// samples, so a file's voice is at most 22 times its frame count.
constexpr int MinSampleRate = 1000;
constexpr int MaxSampleRate = 768000;

std::string RateText(const std::string &fileName, int rate)
{
    return "Cannot open " + fileName + ": its sample rate of " + std::to_string(rate) + " Hz is outside the " +
           std::to_string(MinSampleRate) + " to " + std::to_string(MaxSampleRate) + " Hz the program reads.";
}

constexpr uint32_t SettingsChunkId = FourCC("qmbl");
constexpr uint32_t WaveFormType = FourCC("WAVE");
constexpr uint32_t Rf64ChunkId = FourCC("RF64");

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd(fd) {}
    ~FileDescriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
    FileDescriptor(const FileDescriptor &) = delete;
    FileDescriptor &operator=(const FileDescriptor &) = delete;
    int Get() const { return fd; }
    int Release() { return std::exchange(fd, -1); }

private:
    int fd;
};

struct SndfileCloser {
    void operator()(SNDFILE *file) const { sf_close(file); }
};
using SndfileHandle = std::unique_ptr<SNDFILE, SndfileCloser>;

struct SoxrDeleter {
    void operator()(soxr *resampler) const { soxr_delete(resampler); }
};
using SoxrHandle = std::unique_ptr<soxr, SoxrDeleter>;

// Shows the caller's gauge around the conversion, as ReadWaveFile does.
class GaugeShown {
public:
    explicit GaugeShown(const ReadWaveHooks &hooks) : hooks(hooks)
    {
        if (hooks.ShowGauge)
            hooks.ShowGauge(hooks.Context);
        if (hooks.Gauge)
            ResetProgress(*hooks.Gauge, ConversionUnits);
    }
    ~GaugeShown()
    {
        if (hooks.HideGauge)
            hooks.HideGauge(hooks.Context);
    }
    GaugeShown(const GaugeShown &) = delete;
    GaugeShown &operator=(const GaugeShown &) = delete;

    // done of total frames decoded; total 0 when the length is not known.
    void Decoded(int64_t done, int64_t total)
    {
        if (hooks.Gauge && total > 0)
            hooks.Gauge->SetProgress(static_cast<int32_t>(std::min<int64_t>(done, total) * ConversionUnits / total));
    }
    void Finished()
    {
        if (hooks.Gauge)
            hooks.Gauge->SetProgress(ConversionUnits);
    }

private:
    const ReadWaveHooks &hooks;
};

// The voice being built: a block that grows (by copying) only when a
// stream turns out longer than its header said, never beyond the voice.
class VoiceBuffer {
public:
    explicit VoiceBuffer(int64_t capacity) : data(new int16_t[static_cast<std::size_t>(capacity)]), capacity(capacity)
    {
    }
    // False when the voice would pass MaxVoiceSamples.
    bool Append(const double *values, std::size_t count)
    {
        if (size + static_cast<int64_t>(count) > capacity && !Grow(size + static_cast<int64_t>(count)))
            return false;
        for (std::size_t i = 0; i < count; ++i)
            data[static_cast<std::size_t>(size) + i] = ToSample(values[i]);
        size += static_cast<int64_t>(count);
        return true;
    }
    int64_t Size() const { return size; }
    std::unique_ptr<int16_t[]> Take() { return std::move(data); }

    // x 32768, nearest integer with halves to even, then clipped.
    static int16_t ToSample(double value)
    {
        const double scaled = std::nearbyint(value * 32768.0);
        if (!(scaled >= -32768.0)) // NaN as well as the negative overflow
            return scaled > 0 ? 32767 : -32768;
        return static_cast<int16_t>(std::min(scaled, 32767.0));
    }

private:
    bool Grow(int64_t needed)
    {
        if (needed > MaxVoiceSamples)
            return false;
        const int64_t grown = std::min<int64_t>(std::max<int64_t>(needed, capacity * 2), MaxVoiceSamples);
        std::unique_ptr<int16_t[]> bigger(new int16_t[static_cast<std::size_t>(grown)]);
        std::memcpy(bigger.get(), data.get(), static_cast<std::size_t>(size) * sizeof(int16_t));
        data = std::move(bigger);
        capacity = grown;
        return true;
    }

    std::unique_ptr<int16_t[]> data;
    int64_t capacity;
    int64_t size = 0;
};

// The 514-byte "qmbl" record of a RIFF or RF64 "WAVE" file, wherever it
// lies among the top-level chunks. Each level is walked once: the file's
// for the first RIFF "WAVE" chunk (or, when there is none, the first RF64
// "WAVE" one), then that chunk's for the record.
bool FindSettings(int fd, TEffectSettings &settings)
{
    struct stat info {};
    if (::fstat(fd, &info) != 0)
        return false;
    RiffReader riff(fd, static_cast<uint64_t>(info.st_size));
    RiffChunk chunk;
    // An RF64 "WAVE" chunk is kept until a RIFF one ends the walk.
    std::optional<RiffChunk> wave;
    while (riff.NextChunk(chunk, nullptr)) {
        const bool isRiff = chunk.Id == RiffChunkId;
        RiffChunk candidate = chunk;
        if ((isRiff || (chunk.Id == Rf64ChunkId && !wave)) && riff.MatchFormType(candidate, WaveFormType)) {
            wave = candidate;
            if (isRiff)
                break;
        }
        riff.Ascend(chunk);
    }
    if (!wave)
        return false;
    // The chunks start after the form type. One of another size is
    // skipped, as the WAVE reader skips it.
    riff.Seek(wave->DataOffset + 4);
    while (riff.NextChunk(chunk, &*wave)) {
        if (chunk.Id == SettingsChunkId && chunk.Size == EffectSettingsBytes) {
            uint8_t record[EffectSettingsBytes];
            if (riff.Read(record, sizeof record) != sizeof record)
                return false;
            settings = TEffectSettings::FromBytes(record);
            return true;
        }
        riff.Ascend(chunk);
    }
    return false;
}

// NoPlugin: only the media plugin could read the file, and it cannot be
// loaded.
enum class Outcome { Read, Incompatible, TooLong, RateOutOfRange, NoMemory, NoPlugin };

struct Decoded {
    std::unique_ptr<int16_t[]> Samples;
    int64_t Count = 0;
};

// One of the twelve layouts the WAVE reader converts itself (PCM of 8 or
// 16 bits, 1 or 2 channels, 11025, 22050 or 44100 Hz): such a file reaches
// this reader only when the WAVE reader found its structure broken (a RIFF
// size that hides the "fmt " chunk, say). It is refused as it was, never
// converted differently from its healthy twin.
bool IsOwnLayout(const SF_INFO &format)
{
    const int subtype = format.format & SF_FORMAT_SUBMASK;
    return (format.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_WAV &&
           (subtype == SF_FORMAT_PCM_16 || subtype == SF_FORMAT_PCM_U8) &&
           (format.channels == 1 || format.channels == 2) &&
           (format.samplerate == 11025 || format.samplerate == 22050 || format.samplerate == 44100);
}

// The length at 22050 Hz of frames at rate, rounded up.
int64_t VoiceLength(int64_t frames, int rate)
{
    const long double exact = static_cast<long double>(frames) * VoiceFormat.SamplesPerSec / rate;
    return exact > static_cast<long double>(MaxVoiceSamples) ? MaxVoiceSamples + 1
                                                             : static_cast<int64_t>(std::ceil(exact));
}

// A float file's sample as the mixdown takes it: NaN and the infinities
// become 0, and values beyond 96 dB above full scale are held there. One
// NaN in a float file at 8000 Hz, resampled, made 95 ms of the voice
// -32768; a file's healthy samples pass unchanged.
double Sane(double value)
{
    constexpr double MaxSampleValue = 65536.0;
    return std::isfinite(value) ? std::clamp(value, -MaxSampleValue, MaxSampleValue) : 0.0;
}

// What a decoder tells of its frames before the first is read.
struct SourceInfo {
    int SampleRate = 0;
    int Channels = 0;
    int64_t Frames = 0; // 0 or less: not known
};

// Reads up to max interleaved frames into the buffer: the count, 0 at the
// end, less than 0 when the file cannot be read further (Incompatible); one
// that runs out of memory throws std::bad_alloc.
using FrameSource = std::function<int64_t(double *frames, int64_t max)>;

// fileSize: the file's bytes, which bound the first allocation (see below).
Outcome Decode(const FrameSource &source, const SourceInfo &info, int64_t fileSize, GaugeShown &gauge, Decoded &result)
{
    const int channels = info.Channels;
    const bool resample = info.SampleRate != static_cast<int>(VoiceFormat.SamplesPerSec);
    // Unseekable streams report no length; everything else a frame count.
    const bool lengthKnown = info.Frames > 0 && info.Frames < SF_COUNT_MAX;
    if (lengthKnown && VoiceLength(info.Frames, info.SampleRate) > MaxVoiceSamples)
        return Outcome::TooLong;
    // A rate of a few hertz would make every frame thousands of samples: a
    // 96 KB file at 1 Hz would ask for 2 GB.
    if (info.SampleRate < MinSampleRate || info.SampleRate > MaxSampleRate)
        return Outcome::RateOutOfRange;

    SoxrHandle resampler;
    if (resample) {
        soxr_error_t error = nullptr;
        const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT64_I, SOXR_FLOAT64_I);
        const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_VHQ, 0);
        resampler.reset(soxr_create(info.SampleRate, VoiceFormat.SamplesPerSec, 1, &error, &io, &quality, nullptr));
        if (error || !resampler)
            return Outcome::Incompatible;
    }

    // A header may promise more than the file holds (a compressed format
    // states its length without proof), so the first block is no larger
    // than four samples per byte of file; a file that really holds more
    // grows the block as it goes.
    const int64_t expected =
        lengthKnown ? VoiceLength(info.Frames, info.SampleRate) : int64_t{VoiceFormat.SamplesPerSec} * 60;
    const int64_t firstBlock = std::min(expected + SlackSamples, std::max<int64_t>(fileSize * 4, 1 << 20));
    const int64_t blockFrames = std::clamp<int64_t>(static_cast<int64_t>(BlockValues) / channels, 1, BlockFrames);
    std::vector<double> frames(static_cast<std::size_t>(blockFrames) * static_cast<std::size_t>(channels));
    std::vector<double> mono(static_cast<std::size_t>(blockFrames));
    std::vector<double> out(resample ? BlockValues : 0);
    VoiceBuffer voice(std::min<int64_t>(firstBlock, MaxVoiceSamples));

    // Hands mono samples on, through the resampler when there is one; a
    // null input flushes the resampler's tail.
    auto deliver = [&](const double *in, std::size_t count) {
        if (!resample)
            return voice.Append(in, count);
        for (;;) {
            std::size_t used = 0;
            std::size_t made = 0;
            if (soxr_process(resampler.get(), in, count, &used, out.data(), out.size(), &made) != nullptr)
                return false;
            if (!voice.Append(out.data(), made))
                return false;
            if (in)
                in += used;
            count -= std::min(count, used);
            // Input is consumed; a flush goes on until nothing more comes.
            if (in ? count == 0 : made == 0)
                return true;
        }
    };

    int64_t done = 0;
    for (;;) {
        const int64_t got = source(frames.data(), blockFrames);
        if (got < 0)
            return Outcome::Incompatible;
        if (got == 0)
            break;
        // Each frame's channels become their mean.
        for (int64_t i = 0; i < got; ++i) {
            const double *frame = &frames[static_cast<std::size_t>(i * channels)];
            double sum = 0;
            for (int c = 0; c < channels; ++c)
                sum += Sane(frame[c]);
            mono[static_cast<std::size_t>(i)] = sum / channels;
        }
        if (!deliver(mono.data(), static_cast<std::size_t>(got)))
            return Outcome::TooLong;
        done += got;
        gauge.Decoded(done, lengthKnown ? info.Frames : 0);
    }
    if (resample && !deliver(nullptr, 0))
        return Outcome::TooLong;
    gauge.Finished();

    result.Count = voice.Size();
    result.Samples = voice.Take();
    return Outcome::Read;
}

// Reads the file behind fd through the media plugin, the same way as
// through libsndfile.
Outcome ReadThroughPlugin(int fd, int64_t fileSize, const ReadWaveHooks &hooks, SourceInfo &source, Decoded &decoded)
{
    const TMediaPlugin *plugin = LoadMediaPlugin();
    if (!plugin)
        return Outcome::NoPlugin;
    GlimmerMediaReader *opened = nullptr;
    GlimmerMediaInfo info{};
    const int result = plugin->Open(fd, &opened, &info);
    if (result != GLIMMER_MEDIA_OK)
        return result == GLIMMER_MEDIA_NO_MEMORY ? Outcome::NoMemory : Outcome::Incompatible;
    const std::unique_ptr<GlimmerMediaReader, GlimmerMediaCloseFn> reader(opened, plugin->Close);
    source = {info.SampleRate, info.Channels, info.Frames};
    GaugeShown gauge(hooks);
    return Decode(
        [&](double *frames, int64_t max) {
            const int64_t got = plugin->Read(reader.get(), frames, max);
            if (got == -GLIMMER_MEDIA_NO_MEMORY)
                throw std::bad_alloc();
            return got;
        },
        source, fileSize, gauge, decoded);
}

// The extensions other names for libsndfile's formats go by.
struct ExtensionAlias {
    const char *extension;
    const char *alias;
};
constexpr ExtensionAlias Aliases[] = {
    {"aiff", "aif"}, {"aiff", "aifc"}, {"au", "snd"}, {"oga", "ogg"}, {"oga", "opus"}, {"m1a", "mp3"}, {"m1a", "mp2"},
};
// Formats libsndfile lists but cannot open from a plain file on this
// system: raw needs its layout given, SD2 keeps its header in a resource
// fork.
constexpr const char *Unopenable[] = {"raw", "sd2"};

std::string Lower(std::string text)
{
    for (char &c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// A name's extension in lower case without its dot; empty for none.
std::string ExtensionOf(const std::string &fileName)
{
    const std::string extension = Lower(std::filesystem::path(fileName).extension().string());
    return extension.size() < 2 ? std::string() : extension.substr(1);
}

// Whether a file of this name, not read by libsndfile, is of a kind only
// the plugin reads: its own kinds, and Ogg, which may hold FLAC.
bool NeedsPluginForName(const std::string &fileName)
{
    const std::string extension = ExtensionOf(fileName);
    const std::vector<std::string> &kinds = MediaFileExtensions();
    return std::binary_search(kinds.begin(), kinds.end(), extension) || extension == "ogg" || extension == "oga" ||
           extension == "opus";
}

} // namespace

std::string TooLongText(const std::string &fileName)
{
    const int64_t seconds = MaxVoiceSamples / VoiceFormat.SamplesPerSec;
    return "Cannot open " + fileName + ": it lasts longer than the " + std::to_string(seconds / 3600) + " hours " +
           std::to_string(seconds % 3600 / 60) + " minutes a voice can hold.";
}

std::unique_ptr<int16_t[]> ReadSoundFile(const std::string &fileName, int32_t &byteCount, TEffectSettings &settings,
                                         MessageSink &messages, const ReadWaveHooks &hooks)
{
    // O_NONBLOCK: a FIFO in the file's place must not hang the program.
    FileDescriptor fd(::open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat info {};
    if (fd.Get() < 0 || ::fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        messages.ShowMessage(IncompatibleText + fileName);
        return nullptr;
    }
    TEffectSettings stored;
    const bool settingsFound = FindSettings(fd.Get(), stored);
    if (::lseek(fd.Get(), 0, SEEK_SET) != 0) {
        messages.ShowMessage(IncompatibleText + fileName);
        return nullptr;
    }

    // A second descriptor of the file for the media plugin, should
    // libsndfile not know the file.
    FileDescriptor spare(::fcntl(fd.Get(), F_DUPFD_CLOEXEC, 0));
    SF_INFO format{};
    // libsndfile owns the descriptor from here on, and closes it even when
    // it cannot open the file: one close, never a second one here that
    // could hit a descriptor opened since under the same number.
    SndfileHandle file(sf_open_fd(fd.Release(), SFM_READ, &format, SF_TRUE));
    if (file && (format.channels < 1 || format.samplerate < 1 || IsOwnLayout(format))) {
        messages.ShowMessage(IncompatibleText + fileName);
        return nullptr;
    }

    Decoded decoded;
    Outcome outcome = Outcome::Incompatible;
    SourceInfo source;
    try {
        if (file) {
            // Integer files scale so that 16-bit full scale is 1.0; float
            // files come as they are.
            sf_command(file.get(), SFC_SET_NORM_DOUBLE, nullptr, SF_TRUE);
            source = {format.samplerate, format.channels, format.frames};
            GaugeShown gauge(hooks);
            outcome = Decode([&](double *frames, int64_t max) { return sf_readf_double(file.get(), frames, max); },
                             source, static_cast<int64_t>(info.st_size), gauge, decoded);
        } else if (spare.Get() >= 0) {
            outcome = ReadThroughPlugin(spare.Get(), static_cast<int64_t>(info.st_size), hooks, source, decoded);
        }
    } catch (const std::bad_alloc &) {
        outcome = Outcome::NoMemory;
    }
    switch (outcome) {
    case Outcome::Incompatible:
        messages.ShowMessage(IncompatibleText + fileName);
        return nullptr;
    case Outcome::NoPlugin:
        messages.ShowMessage(NeedsPluginForName(fileName) ? NeedsMediaPluginText(fileName)
                                                          : IncompatibleText + fileName);
        return nullptr;
    case Outcome::TooLong:
        messages.ShowMessage(TooLongText(fileName));
        return nullptr;
    case Outcome::RateOutOfRange:
        messages.ShowMessage(RateText(fileName, source.SampleRate));
        return nullptr;
    case Outcome::NoMemory:
        messages.ShowMessage(NoBufferText);
        return nullptr;
    case Outcome::Read:
        break;
    }
    byteCount = static_cast<int32_t>(decoded.Count * 2);
    if (settingsFound)
        settings = stored;
    return std::move(decoded.Samples);
}

std::vector<std::string> SoundFileExtensions()
{
    std::vector<std::string> extensions{"wav"};
    int count = 0;
    sf_command(nullptr, SFC_GET_FORMAT_MAJOR_COUNT, &count, sizeof count);
    for (int i = 0; i < count; ++i) {
        SF_FORMAT_INFO format{};
        format.format = i;
        if (sf_command(nullptr, SFC_GET_FORMAT_MAJOR, &format, sizeof format) != 0 || !format.extension)
            continue;
        const std::string extension = Lower(format.extension);
        if (std::find(std::begin(Unopenable), std::end(Unopenable), extension) != std::end(Unopenable))
            continue;
        extensions.push_back(extension);
        for (const ExtensionAlias &alias : Aliases)
            if (extension == alias.extension)
                extensions.emplace_back(alias.alias);
    }
    extensions.insert(extensions.end(), MediaFileExtensions().begin(), MediaFileExtensions().end());
    std::sort(extensions.begin(), extensions.end());
    extensions.erase(std::unique(extensions.begin(), extensions.end()), extensions.end());
    return extensions;
}

std::string SoundFilePattern()
{
    std::string pattern;
    for (const std::string &extension : SoundFileExtensions())
        pattern += (pattern.empty() ? "*." : " *.") + extension;
    return pattern;
}

bool IsSoundFileName(const std::string &fileName)
{
    const std::string extension = ExtensionOf(fileName);
    const std::vector<std::string> known = SoundFileExtensions();
    return !extension.empty() && std::binary_search(known.begin(), known.end(), extension);
}

bool WriteSoundFile(const std::string &fileName, SoundFileKind kind, uint32_t sampleRate, const int16_t *samples,
                    std::size_t count)
{
    if (sampleRate == 0 || sampleRate > INT32_MAX || (count > 0 && !samples))
        return false;
    // Written beside the file it replaces (following a symbolic link), with
    // that file's permissions, and put in its place only when complete.
    TFileReplacement replacement(fileName);
    if (!replacement.Open())
        return false;

    SF_INFO format{};
    format.samplerate = static_cast<int>(sampleRate);
    format.channels = 1;
    format.format =
        kind == SoundFileKind::Flac ? (SF_FORMAT_FLAC | SF_FORMAT_PCM_16) : (SF_FORMAT_OGG | SF_FORMAT_VORBIS);
    bool written = false;
    if (SNDFILE *file = sf_open_fd(replacement.Descriptor(), SFM_WRITE, &format, SF_FALSE)) {
        // Vorbis quality 0.5 of 0..1: a small file that still sounds like the clip.
        if (kind == SoundFileKind::Ogg) {
            double quality = 0.5;
            sf_command(file, SFC_SET_VBR_ENCODING_QUALITY, &quality, sizeof quality);
        }
        std::size_t done = 0;
        written = true;
        while (written && done < count) {
            const sf_count_t step = static_cast<sf_count_t>(std::min<std::size_t>(count - done, 1 << 16));
            written = sf_write_short(file, samples + done, step) == step;
            done += static_cast<std::size_t>(step);
        }
        written = sf_close(file) == 0 && written;
    }
    return written && replacement.Commit();
}
