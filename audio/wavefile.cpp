// SPDX-License-Identifier: GPL-3.0-or-later
// WAVE reader and writers.
//
// Reading is a loop of at most two passes:
//
//   file --pass 1--> samples in the file's layout --ConvertToVoiceFormat-->
//        temporary file (22050 Hz, 16 bits, mono) --pass 2--> samples
//
// A file already in the target layout is read in one pass. The conversion
// stages run in a fixed order, each only when needed:
//
//   8-bit -> 16-bit    u becomes u * 256 - 32768           bytes x 2   from the end
//   stereo -> mono     (left + right) / 2, toward zero     bytes / 2   from the start (last odd sample dropped)
//   11025 -> 22050 Hz  every sample twice                  bytes x 2   from the end
//   44100 -> 22050 Hz  (a + b) / 2 of adjacent samples     bytes / 2   from the start (last odd sample dropped)
//
// The stages work in place, in one block that pass 1 makes large enough for
// the largest of them. A stage that grows the samples runs from the end, so
// each output word lands on input already read; one that shrinks them runs
// from the start. An 8-bit stereo 44100 Hz file of N bytes thus needs 2N
// bytes at most, where a new block per stage beside the old one needed 3N.
//
// Each of the three aspects (width, channels, rate) owns 30 units of the
// 90-unit gauge.
#include "audio/wavefile.h"

#include "audio/riff.h"
#include "audio/soundfile.h"
#include "audio/voiceformat.h"
#include "base/replacefile.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <new>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

// Samples are kept in memory exactly as they lie in the file.
static_assert(std::endian::native == std::endian::little, "WAVE samples are little-endian");

namespace {

constexpr uint32_t FmtChunkId = FourCC("fmt ");
constexpr uint32_t SettingsChunkId = FourCC("qmbl");
constexpr uint32_t DataChunkId = FourCC("data");
constexpr uint32_t WaveFormType = FourCC("WAVE");

// The "fmt " chunk as written: the 16 bytes of a PCM format, the extra size
// and a reserved word. Reading takes at most this much of it.
constexpr uint32_t FmtChunkBytes = 20;
// Tag, channels, rate, bytes per second, block align and bits: what a
// format chunk must hold to be understood.
constexpr uint32_t FmtFieldBytes = 16;

constexpr int32_t ConversionUnits = 90;
constexpr int32_t AspectUnits = 30;

const std::string IncompatibleText = "Incompatible file format of: ";
const std::string NoBufferText = "Cannot allocate buffer for audio data, Terminating...";
const std::string NoMemoryText = "Unable to allocate memory";

std::string TemporaryFolderText(const std::string &folder, const std::string &fileName)
{
    return "The temporary folder " + folder + " is full or not writable: " + fileName + " cannot be converted.";
}

uint16_t Get16(const uint8_t *bytes)
{
    return static_cast<uint16_t>(bytes[0] | bytes[1] << 8);
}

uint32_t Get32(const uint8_t *bytes)
{
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

void Put16(std::vector<uint8_t> &out, uint16_t value)
{
    out.push_back(static_cast<uint8_t>(value & 0xFF));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

void Put32(std::vector<uint8_t> &out, uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<uint8_t>((value >> shift) & 0xFF));
}

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

private:
    int fd;
};

// A block of samples; Bytes may be odd (an 8-bit clip, or a 16-bit file
// whose data ends in half a sample). Room is always whole 16-bit words.
struct SampleBlock {
    std::unique_ptr<int16_t[]> Data;
    std::size_t Bytes = 0;
    std::size_t Room = 0; // the most bytes the block holds

    static SampleBlock Allocate(std::size_t bytes)
    {
        SampleBlock block;
        block.Data.reset(new int16_t[bytes / 2 + 1]);
        block.Data[bytes / 2] = 0; // the half of a last odd byte's word
        block.Bytes = bytes;
        block.Room = bytes;
        return block;
    }
    // Makes room for bytes, keeping the samples. Copies into a new block
    // only when this one was made too small (never after pass 1, which
    // makes room for every stage); throws std::bad_alloc when that fails.
    void Reserve(std::size_t bytes)
    {
        if (bytes <= Room)
            return;
        SampleBlock bigger = Allocate(bytes);
        std::memcpy(bigger.Data.get(), Data.get(), Bytes);
        bigger.Bytes = Bytes;
        *this = std::move(bigger);
    }
    const uint8_t *Raw() const { return reinterpret_cast<const uint8_t *>(Data.get()); }
    std::size_t Samples() const { return Bytes / 2; }
};

struct ConversionFlags {
    bool EightBit = false;
    bool Stereo = false;
    bool Rate11025 = false;
    bool Rate44100 = false;

    bool Any() const { return EightBit || Stereo || Rate11025 || Rate44100; }
};

// The stages ConvertToVoiceFormat runs on a file of this layout.
ConversionFlags StagesFor(uint32_t sampleRate, uint16_t channels, uint16_t bitsPerSample)
{
    return {bitsPerSample == 8, channels == 2, sampleRate == 11025, sampleRate == 44100};
}

struct StageBytes {
    uint64_t Final = 0;   // after the last stage
    uint64_t Largest = 0; // the most at any point: the room the stages need
};

// The byte counts of the stages these flags select on bytes of input,
// mirroring each stage's own arithmetic, in 64 bits so that nothing wraps.
StageBytes ConvertedBytes(uint64_t bytes, const ConversionFlags &flags)
{
    uint64_t largest = bytes;
    if (flags.EightBit)
        bytes *= 2;
    largest = std::max(largest, bytes);
    if (flags.Stereo)
        bytes = bytes / 4 * 2;
    if (flags.Rate11025)
        bytes = bytes / 2 * 4;
    largest = std::max(largest, bytes);
    if (flags.Rate44100)
        bytes = bytes / 4 * 2;
    return {bytes, largest};
}

// NoConversionRoom: the samples would fit in memory, the room the stages
// need would not.
enum class PassOutcome { Missing, Rejected, NoBuffer, NoConversionRoom, Read };

struct Pass {
    SampleBlock Samples;
    uint32_t Rate = 0;
    uint16_t Channels = 0;
    uint16_t Bits = 0;
    ConversionFlags Flags;
    // The "fmt " chunk names one of the layouts converted here: such a
    // file is never handed to the general sound-file reader.
    bool KnownLayout = false;
    bool SettingsFound = false;
    TEffectSettings Settings;
};

// One pass of the reader over fileName, checked against the target format.
PassOutcome ReadPass(const std::string &fileName, uint32_t sampleRate, uint16_t bitsPerSample, uint16_t channels,
                     Pass &pass)
{
    // O_NONBLOCK: a FIFO in the file's place must not hang the program.
    const int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    // Nothing at that name (ENOTDIR: the path runs through a plain file) is
    // a missing file, not a rejected one.
    if (fd < 0)
        return errno == ENOENT || errno == ENOTDIR ? PassOutcome::Missing : PassOutcome::Rejected;
    FileDescriptor file(fd);
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))
        return PassOutcome::Rejected;

    RiffReader riff(fd, static_cast<uint64_t>(info.st_size));
    RiffChunk wave;
    RiffChunk fmt;
    if (!riff.Descend(wave, nullptr, RiffChunkId, WaveFormType) || !riff.Descend(fmt, &wave, FmtChunkId))
        return PassOutcome::Rejected;

    uint8_t format[FmtChunkBytes]{};
    const std::size_t wanted = std::min(fmt.Size, FmtChunkBytes);
    if (wanted < FmtFieldBytes || riff.Read(format, wanted) != wanted)
        return PassOutcome::Rejected;
    if (Get16(format) != 1)
        return PassOutcome::Rejected;
    pass.Channels = Get16(format + 2);
    pass.Rate = Get32(format + 4);
    pass.Bits = Get16(format + 14);

    if (pass.Rate != sampleRate) {
        if (pass.Rate == 11025)
            pass.Flags.Rate11025 = true;
        else if (pass.Rate == 44100)
            pass.Flags.Rate44100 = true;
        else
            return PassOutcome::Rejected;
    }
    if (pass.Channels != channels) {
        if (pass.Channels != 2)
            return PassOutcome::Rejected;
        pass.Flags.Stereo = true;
    }
    if (pass.Bits != bitsPerSample) {
        if (pass.Bits != 8)
            return PassOutcome::Rejected;
        pass.Flags.EightBit = true;
    }
    pass.KnownLayout = true;
    riff.Ascend(fmt);

    // The settings chunk, when there is one, lies between "fmt " and
    // "data". One walk over the chunks after "fmt " finds both: the first
    // "qmbl" (its record taken only at 514 bytes), and the first "data"
    // after it, or after "fmt " when there is no "qmbl". A data chunk before
    // the settings chunk does not count, so a file with "qmbl" after its
    // only "data" has no data. The walk goes past the first data chunk only
    // while no settings chunk has been seen.
    RiffChunk chunk;
    RiffChunk data;
    bool settingsSeen = false;
    bool dataSeen = false;
    while (riff.NextChunk(chunk, &wave)) {
        if (chunk.Id == SettingsChunkId && !settingsSeen) {
            settingsSeen = true;
            dataSeen = false;
            if (chunk.Size == EffectSettingsBytes) {
                uint8_t record[EffectSettingsBytes];
                if (riff.Read(record, sizeof record) == sizeof record) {
                    pass.Settings = TEffectSettings::FromBytes(record);
                    pass.SettingsFound = true;
                }
            }
        } else if (chunk.Id == DataChunkId && !dataSeen) {
            data = chunk;
            dataSeen = true;
            if (settingsSeen)
                break;
        }
        riff.Ascend(chunk);
    }
    if (!dataSeen)
        return PassOutcome::Rejected;

    // A data chunk that claims more than the file holds gives what is there.
    // The bound is the file, not the RIFF chunk: a RIFF size that ends right
    // after the data chunk's header (or inside its samples) still gives the
    // samples the file holds.
    const uint64_t bytes = std::min<uint64_t>(data.Size, riff.FileSize() - data.DataOffset);
    // Byte counts are 32-bit signed all through the program.
    if (bytes > INT32_MAX)
        return PassOutcome::Rejected;
    // A file to be converted gets the room its largest stage needs.
    uint64_t room = bytes;
    if (pass.Flags.Any()) {
        const StageBytes stages = ConvertedBytes(bytes, StagesFor(pass.Rate, pass.Channels, pass.Bits));
        if (stages.Final > INT32_MAX)
            return PassOutcome::Rejected;
        room = stages.Largest;
    }
    try {
        pass.Samples = SampleBlock::Allocate(static_cast<std::size_t>(room));
    } catch (const std::bad_alloc &) {
        if (room == bytes)
            return PassOutcome::NoBuffer;
        // Room for the samples alone means the conversion is what lacks
        // memory; that block goes again at once.
        try {
            SampleBlock::Allocate(static_cast<std::size_t>(bytes));
        } catch (const std::bad_alloc &) {
            return PassOutcome::NoBuffer;
        }
        return PassOutcome::NoConversionRoom;
    }
    riff.Seek(data.DataOffset);
    pass.Samples.Bytes = riff.Read(pass.Samples.Data.get(), static_cast<std::size_t>(bytes));
    return PassOutcome::Read;
}

// Advances the gauge by `units` every `step` input positions, step being
// the stage's input byte count / 30 (at least 1). The arithmetic can fall
// short of the stage's 30 units on inputs of a few bytes; Finish makes up
// the difference, so the whole conversion always ends at 90.
class StageProgress {
public:
    StageProgress(ProgressGauge *gauge, std::size_t inputBytes, int32_t units)
        : gauge(gauge), step(std::max<std::size_t>(inputBytes / AspectUnits, 1)), next(step), units(units)
    {
    }
    // done: input positions consumed so far.
    void Passed(std::size_t done)
    {
        while (done >= next) {
            AdvanceProgress(gauge, units);
            added += units;
            next += step;
        }
    }
    void Finish()
    {
        if (added < AspectUnits)
            AdvanceProgress(gauge, AspectUnits - added);
    }

private:
    ProgressGauge *gauge;
    std::size_t step;
    std::size_t next;
    int32_t units;
    int32_t added = 0;
};

int16_t Average(int16_t a, int16_t b)
{
    return static_cast<int16_t>((static_cast<int32_t>(a) + static_cast<int32_t>(b)) / 2);
}

// 8-bit unsigned to 16-bit signed: u * 256 - 32768, in place. Byte i
// becomes word i (bytes 2i and 2i + 1), so the loop runs from the end: the
// bytes a word covers have been read by then. The gauge counts the bytes
// done, as it would from the start.
void WidenStage(SampleBlock &block, ProgressGauge *gauge)
{
    const std::size_t count = block.Bytes;
    block.Reserve(count * 2);
    const uint8_t *source = block.Raw();
    int16_t *out = block.Data.get();
    StageProgress progress(gauge, count, 1);
    for (std::size_t i = count; i-- > 0;) {
        out[i] = static_cast<int16_t>(source[i] * 256 - 32768);
        progress.Passed(count - i);
    }
    progress.Finish();
    block.Bytes = count * 2;
}

// Stereo to mono and 44100 to 22050 Hz, in place: each pair of samples
// becomes their average; an incomplete last pair is dropped. Word i is
// written after words 2i and 2i + 1 are read, so the loop runs forwards.
void HalveStage(SampleBlock &block, ProgressGauge *gauge)
{
    const std::size_t pairs = block.Samples() / 2;
    int16_t *data = block.Data.get();
    StageProgress progress(gauge, block.Bytes, 2);
    for (std::size_t i = 0; i < pairs; ++i) {
        data[i] = Average(data[2 * i], data[2 * i + 1]);
        progress.Passed(2 * i + 2);
    }
    progress.Finish();
    block.Bytes = pairs * 2;
}

// 11025 to 22050 Hz, in place: every sample is written twice in a row.
// Sample i lands on words 2i and 2i + 1, so the loop runs from the end;
// the gauge counts the samples done, as it would from the start.
void DoubleStage(SampleBlock &block, ProgressGauge *gauge)
{
    const std::size_t samples = block.Samples();
    const std::size_t inputBytes = block.Bytes;
    block.Reserve(samples * 4);
    int16_t *data = block.Data.get();
    StageProgress progress(gauge, inputBytes, 2);
    for (std::size_t i = samples; i-- > 0;) {
        const int16_t value = data[i];
        data[2 * i] = value;
        data[2 * i + 1] = value;
        progress.Passed(samples - i);
    }
    progress.Finish();
    block.Bytes = samples * 4;
}

// The system's temporary folder: $TMPDIR when set, else /tmp.
std::string TemporaryFolder()
{
    std::error_code error;
    const std::filesystem::path folder = std::filesystem::temp_directory_path(error);
    if (!error)
        return folder.string();
    const char *variable = std::getenv("TMPDIR");
    return variable && *variable ? variable : "/tmp";
}

// Creates an empty, uniquely named file in folder, readable by its owner
// only, and lists it among the process's temporary files (entry), so that
// a program ended in the middle of a read removes it.
bool CreateTemporaryFile(const std::string &folder, std::string &name, uint64_t &entry)
{
    std::string pattern = (std::filesystem::path(folder) / "gbxXXXXXX").string();
    const int fd = MakeListedTemporary(pattern, 0, entry);
    if (fd < 0)
        return false;
    ::close(fd);
    name = pattern;
    return true;
}

// The reader's temporary file leaves the list when the read is over.
struct ListedTemporary {
    uint64_t Entry = 0;
    ~ListedTemporary()
    {
        if (Entry != 0)
            ForgetTemporaryFile(Entry);
    }
};

enum class ConvertOutcome { Written, Failed, NoTemporary };

// Converts samples (in the file's rate, channels and bits) to VoiceFormat,
// in place within the block's room, and writes them to a new temporary
// file, whose name comes back in fileName (listed in listed). The settings
// record goes with them when the source had one.
// When the temporary file cannot be made or written in full, it is removed
// and the message names the temporary folder.
ConvertOutcome ConvertToVoiceFormat(std::string &fileName, SampleBlock samples, uint32_t sampleRate, bool settingsFound,
                                    const TEffectSettings &settings, uint16_t channels, uint16_t bitsPerSample,
                                    ProgressGauge *gauge, MessageSink &messages, ListedTemporary &listed)
{
    const std::string folder = TemporaryFolder();
    std::string temporaryName;
    if (!CreateTemporaryFile(folder, temporaryName, listed.Entry)) {
        messages.ShowMessage(TemporaryFolderText(folder, fileName));
        return ConvertOutcome::NoTemporary;
    }
    const std::string sourceName = fileName;
    fileName = temporaryName;

    const ConversionFlags stages = StagesFor(sampleRate, channels, bitsPerSample);
    try {
        if (stages.EightBit)
            WidenStage(samples, gauge);
        else
            AdvanceProgress(gauge, AspectUnits);
        if (stages.Stereo)
            HalveStage(samples, gauge);
        else
            AdvanceProgress(gauge, AspectUnits);
        if (stages.Rate11025)
            DoubleStage(samples, gauge);
        else if (stages.Rate44100)
            HalveStage(samples, gauge);
        else
            AdvanceProgress(gauge, AspectUnits);
    } catch (const std::bad_alloc &) {
        // Going on with half-converted samples would give noise.
        messages.ShowMessage(NoMemoryText);
        ::unlink(fileName.c_str());
        return ConvertOutcome::Failed;
    }

    const uint32_t bytes = static_cast<uint32_t>(samples.Bytes);
    const bool written = settingsFound
                             ? WriteWaveFileWithSettings(fileName, VoiceFormat.SamplesPerSec, VoiceFormat.BitsPerSample,
                                                         VoiceFormat.Channels, samples.Data.get(), bytes, settings)
                             : WriteWaveFile(fileName, VoiceFormat.SamplesPerSec, VoiceFormat.BitsPerSample,
                                             VoiceFormat.Channels, samples.Data.get(), bytes);
    if (!written) {
        ::unlink(fileName.c_str());
        messages.ShowMessage(TemporaryFolderText(folder, sourceName));
        return ConvertOutcome::NoTemporary;
    }
    return ConvertOutcome::Written;
}

// Calls the caller's show and hide hooks around a conversion.
class GaugeShown {
public:
    explicit GaugeShown(const ReadWaveHooks &hooks) : hooks(hooks)
    {
        if (hooks.ShowGauge)
            hooks.ShowGauge(hooks.Context);
    }
    ~GaugeShown()
    {
        if (hooks.HideGauge)
            hooks.HideGauge(hooks.Context);
    }
    GaugeShown(const GaugeShown &) = delete;
    GaugeShown &operator=(const GaugeShown &) = delete;

private:
    const ReadWaveHooks &hooks;
};

bool WriteAll(int fd, const void *data, std::size_t count)
{
    const auto *bytes = static_cast<const uint8_t *>(data);
    while (count > 0) {
        const ssize_t written = ::write(fd, bytes, std::min<std::size_t>(count, std::size_t{1} << 30));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        bytes += written;
        count -= static_cast<std::size_t>(written);
    }
    return true;
}

// Both writers: "RIFF" size "WAVE", the 20-byte "fmt " chunk, the settings
// chunk when given, then "data" N, the samples and a pad byte after odd N.
bool WriteWave(const std::string &fileName, uint32_t sampleRate, uint16_t bitsPerSample, uint16_t channels,
               const void *samples, uint32_t byteCount, const TEffectSettings *settings)
{
    const uint32_t blockAlign = static_cast<uint32_t>(channels) * (bitsPerSample / 8u);
    const uint64_t bytesPerSecond = static_cast<uint64_t>(blockAlign) * sampleRate;
    const uint32_t pad = byteCount & 1u;
    const uint64_t riffSize = (settings ? 562u : 40u) + static_cast<uint64_t>(byteCount) + pad;
    if (blockAlign > UINT16_MAX || bytesPerSecond > UINT32_MAX || riffSize > UINT32_MAX || (byteCount > 0 && !samples))
        return false;

    std::vector<uint8_t> header;
    header.reserve(570);
    Put32(header, RiffChunkId);
    Put32(header, static_cast<uint32_t>(riffSize));
    Put32(header, WaveFormType);
    Put32(header, FmtChunkId);
    Put32(header, FmtChunkBytes);
    Put16(header, 1);
    Put16(header, channels);
    Put32(header, sampleRate);
    Put32(header, static_cast<uint32_t>(bytesPerSecond));
    Put16(header, static_cast<uint16_t>(blockAlign));
    Put16(header, bitsPerSample);
    Put16(header, 0); // extra size
    Put16(header, 0); // reserved
    if (settings) {
        Put32(header, SettingsChunkId);
        Put32(header, EffectSettingsBytes);
        const auto record = settings->ToBytes();
        header.insert(header.end(), record.begin(), record.end());
    }
    Put32(header, DataChunkId);
    Put32(header, byteCount);

    TFileReplacement file(fileName);
    if (!file.Open())
        return false;
    const uint8_t zero = 0;
    return WriteAll(file.Descriptor(), header.data(), header.size()) &&
           WriteAll(file.Descriptor(), samples, byteCount) && (pad == 0 || WriteAll(file.Descriptor(), &zero, 1)) &&
           file.Commit();
}

} // namespace

std::unique_ptr<int16_t[]> ReadWaveFile(const std::string &fileName, uint32_t sampleRate, uint16_t bitsPerSample,
                                        uint16_t channels, int32_t &byteCount, TEffectSettings &settings,
                                        MessageSink &messages, const ReadWaveHooks &hooks)
{
    std::string currentName = fileName;
    bool deleteAfterReading = false;
    ListedTemporary listed;
    ReadWaveReport unused;
    ReadWaveReport &report = hooks.Report ? *hooks.Report : unused;
    report = {};

    for (;;) {
        Pass pass;
        const PassOutcome outcome = ReadPass(currentName, sampleRate, bitsPerSample, channels, pass);
        if (deleteAfterReading)
            ::unlink(currentName.c_str());

        switch (outcome) {
        case PassOutcome::Missing:
            // Our own temporary file gone between two passes is a fault
            // of the temporary folder, not a missing input.
            report.Result = deleteAfterReading ? ReadWaveResult::Rejected : ReadWaveResult::Missing;
            if (deleteAfterReading)
                messages.ShowMessage(IncompatibleText + currentName);
            return nullptr;
        case PassOutcome::Rejected:
            // Anything but the layouts above (and the voice format's own
            // temporary file) may still be a sound file of another kind.
            if (!deleteAfterReading && !pass.KnownLayout && sampleRate == VoiceFormat.SamplesPerSec &&
                bitsPerSample == VoiceFormat.BitsPerSample && channels == VoiceFormat.Channels) {
                std::unique_ptr<int16_t[]> data = ReadSoundFile(currentName, byteCount, settings, messages, hooks);
                report.Result = data ? ReadWaveResult::Read : ReadWaveResult::Rejected;
                report.Converted = data != nullptr;
                return data;
            }
            report.Result = ReadWaveResult::Rejected;
            messages.ShowMessage(IncompatibleText + currentName);
            return nullptr;
        case PassOutcome::NoBuffer:
            report.Result = ReadWaveResult::NoMemory;
            messages.ShowMessage(NoBufferText);
            return nullptr;
        case PassOutcome::NoConversionRoom:
            // Our own temporary file is never converted again, short of
            // memory or not.
            report.Result = deleteAfterReading ? ReadWaveResult::Rejected : ReadWaveResult::NoMemory;
            messages.ShowMessage(deleteAfterReading ? IncompatibleText + currentName : NoMemoryText);
            return nullptr;
        case PassOutcome::Read:
            break;
        }

        if (!pass.Flags.Any()) {
            byteCount = static_cast<int32_t>(pass.Samples.Bytes);
            if (pass.SettingsFound)
                settings = pass.Settings;
            report.Result = ReadWaveResult::Read;
            return std::move(pass.Samples.Data);
        }
        // The converted file is in VoiceFormat; anything else in its place
        // is not ours to convert again.
        if (deleteAfterReading) {
            report.Result = ReadWaveResult::Rejected;
            messages.ShowMessage(IncompatibleText + currentName);
            return nullptr;
        }

        GaugeShown shown(hooks);
        if (hooks.Gauge)
            ResetProgress(*hooks.Gauge, ConversionUnits);
        switch (ConvertToVoiceFormat(currentName, std::move(pass.Samples), pass.Rate, pass.SettingsFound, pass.Settings,
                                     pass.Channels, pass.Bits, hooks.Gauge, messages, listed)) {
        case ConvertOutcome::Written:
            break;
        case ConvertOutcome::Failed:
            report.Result = ReadWaveResult::NoMemory;
            return nullptr;
        case ConvertOutcome::NoTemporary:
            report.Result = ReadWaveResult::NoTemporary;
            return nullptr;
        }
        report.Converted = true;
        sampleRate = VoiceFormat.SamplesPerSec;
        bitsPerSample = VoiceFormat.BitsPerSample;
        channels = VoiceFormat.Channels;
        deleteAfterReading = true;
    }
}

bool WriteWaveFile(const std::string &fileName, uint32_t sampleRate, uint16_t bitsPerSample, uint16_t channels,
                   const void *samples, uint32_t byteCount)
{
    return WriteWave(fileName, sampleRate, bitsPerSample, channels, samples, byteCount, nullptr);
}

bool WriteWaveFileWithSettings(const std::string &fileName, uint32_t sampleRate, uint16_t bitsPerSample,
                               uint16_t channels, const void *samples, uint32_t byteCount,
                               const TEffectSettings &settings)
{
    return WriteWave(fileName, sampleRate, bitsPerSample, channels, samples, byteCount, &settings);
}
