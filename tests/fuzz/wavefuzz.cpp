// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/fuzz/wavefuzz.h"

#include "audio/effectsettings.h"
#include "audio/messages.h"
#include "audio/voiceformat.h"
#include "audio/wavefile.h"
#include "effects/effectset.h"
#include "effects/pipeline.h"
#include "tests/effects/effecttesting.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

// Texts are expected (rejections are the common case); nothing is shown.
class QuietSink : public MessageSink {
public:
    void ShowMessage(const std::string &, const std::string &) override {}
};

std::string InputFolder;     // where each input is written
std::string TemporaryFolder; // TMPDIR: the reader's conversions

[[noreturn]] void Fail(const char *what)
{
    std::fprintf(stderr, "wave fuzz: %s\n", what);
    std::abort();
}

bool WriteInput(const std::string &name, const uint8_t *data, std::size_t size)
{
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n <= 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    ::close(fd);
    return done == size;
}

void ExpectNoTemporaryFiles()
{
    if (!fs::is_empty(TemporaryFolder))
        Fail("a temporary file was left behind");
}

std::unique_ptr<int16_t[]> Read(const std::string &name, int32_t &bytes, TEffectSettings &settings)
{
    QuietSink quiet;
    return ReadWaveFile(name, VoiceFormat.SamplesPerSec, VoiceFormat.BitsPerSample, VoiceFormat.Channels, bytes,
                        settings, quiet);
}

// The processed clip, as playing or exporting makes it.
PipelineResult Process(const int16_t *voice, int32_t bytes, const TEffectSet &effects, std::vector<int16_t> &work)
{
    work.assign(static_cast<std::size_t>(bytes) / 2 + 1, 0);
    std::memcpy(work.data(), voice, static_cast<std::size_t>(bytes));
    bool altered = false;
    const PipelineResult result =
        RunEffectPipeline(voice, bytes, work.data(), bytes, altered, effects, VoiceFormat.SamplesPerSec);
    if (result.WorkBytes < 0 || result.WorkBytes > bytes)
        Fail("the pipeline gave a length outside the working buffer");
    return result;
}

// The size the reader gives for `bytes` of 16-bit mono written at rate.
int64_t ConvertedSize(int64_t bytes, uint32_t rate)
{
    if (rate == 11025)
        return bytes / 2 * 4;
    if (rate == 44100)
        return bytes / 4 * 2;
    return bytes; // read directly, an odd last byte included
}

} // namespace

void FuzzWaveSetUp()
{
    if (!InputFolder.empty())
        return;
    std::string pattern = (fs::temp_directory_path() / "gbxfuzzXXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        Fail("no private folder");
    InputFolder = pattern;
    TemporaryFolder = pattern + "/tmp";
    fs::create_directory(TemporaryFolder);
    ::setenv("TMPDIR", TemporaryFolder.c_str(), 1);
}

// True when the input starts as a plain WAVE file in one of the layouts the
// reader converts itself (PCM, mono or stereo, 8 or 16 bits, 11025, 22050
// or 44100 Hz, "fmt " first): a conversion that at most quadruples the bytes.
// Anything else goes through the sound-file reader, which may resample a
// file at a few hertz, or decompress one, into far more samples than the
// file has bytes; only the voice's own limit bounds those.
bool InKnownLayout(const uint8_t *data, std::size_t size)
{
    if (size < 36 || std::memcmp(data, "RIFF", 4) != 0 || std::memcmp(data + 8, "WAVEfmt ", 8) != 0)
        return false;
    auto le16 = [data](std::size_t at) { return static_cast<uint32_t>(data[at] | data[at + 1] << 8); };
    const uint32_t rate = le16(24) | le16(26) << 16;
    const uint32_t tag = le16(20), channels = le16(22), bits = le16(34);
    return tag == 1 && (channels == 1 || channels == 2) && (bits == 8 || bits == 16) &&
           (rate == 11025 || rate == 22050 || rate == 44100);
}

void FuzzWaveInput(const uint8_t *data, std::size_t size)
{
    FuzzWaveSetUp();
    const std::string input = InputFolder + "/input.wav";
    if (!WriteInput(input, data, size))
        Fail("cannot write the input");

    // The record as opening a file prepares it: every effect off.
    TEffectSettings settings;
    CaptureEffectSettings(TEffectSet{}, settings);
    int32_t bytes = -1;
    const std::unique_ptr<int16_t[]> voice = Read(input, bytes, settings);
    ExpectNoTemporaryFiles();
    if (!voice)
        return;
    if (bytes < 0 || (InKnownLayout(data, size) && static_cast<std::size_t>(bytes) > size * 4 + 8))
        Fail("more samples than the file can give");

    // Write then read: the very same samples and record.
    const std::string saved = InputFolder + "/saved.wav";
    if (!WriteWaveFileWithSettings(saved, VoiceFormat.SamplesPerSec, VoiceFormat.BitsPerSample, VoiceFormat.Channels,
                                   voice.get(), static_cast<uint32_t>(bytes), settings))
        Fail("the voice could not be written");
    TEffectSettings back;
    int32_t backBytes = -1;
    const std::unique_ptr<int16_t[]> again = Read(saved, backBytes, back);
    if (!again || backBytes != bytes || std::memcmp(again.get(), voice.get(), static_cast<std::size_t>(bytes)) != 0)
        Fail("the saved voice reads back different");
    if (!(back == settings))
        Fail("the saved selection reads back different");

    // The file's own selection, then everything on with a pitch taken
    // from the input.
    TEffectSet all = EveryEffectOn();
    all.PitchPosition = size > 0 ? data[size - 1] % (PitchBarMax + 1) : PitchBarRest;
    std::vector<int16_t> work;
    for (const TEffectSet &effects : {ApplyEffectSettings(TEffectSet{}, settings), all}) {
        const PipelineResult result = Process(voice.get(), bytes, effects, work);
        // The processed clip as Export writes it, read back as Open would.
        const std::string exported = InputFolder + "/exported.wav";
        if (!WriteWaveFile(exported, result.SampleRate, VoiceFormat.BitsPerSample, VoiceFormat.Channels, work.data(),
                           static_cast<uint32_t>(result.WorkBytes)))
            Fail("the processed clip could not be written");
        TEffectSettings unused;
        int32_t exportedBytes = -1;
        const std::unique_ptr<int16_t[]> reread = Read(exported, exportedBytes, unused);
        ExpectNoTemporaryFiles();
        if (!reread || exportedBytes != ConvertedSize(result.WorkBytes, result.SampleRate))
            Fail("the processed clip reads back at the wrong length");
        if (result.SampleRate == VoiceFormat.SamplesPerSec &&
            std::memcmp(reread.get(), work.data(), static_cast<std::size_t>(exportedBytes)) != 0)
            Fail("the processed clip reads back different");
    }
}
