// SPDX-License-Identifier: GPL-3.0-or-later
// The encoded outputs of glimmerbox-fx.
//
//   MP3:  clip --WriteWaveFile--> temporary WAVE (system's temporary folder)
//             --ConvertWaveFileToMp3--> hidden file beside OUTPUT --rename--> OUTPUT
//   FLAC, Ogg: clip --WriteSoundFile (beside OUTPUT, renamed when complete)--> OUTPUT
//   RealAudio: clip --WriteRealAudioFile (8000 Hz, beside OUTPUT, renamed)--> OUTPUT
//
// The MP3 path is the one the program's export takes with its first codec:
// the processed clip as a WAVE file, converted by the conversion library at
// the chosen bit rate.
#include "tools/glimmerbox-fx/outputs.h"

#include "audio/realaudio.h"
#include "audio/soundfile.h"
#include "audio/voiceformat.h"
#include "audio/wavefile.h"
#include "base/replacefile.h"
#include "tools/glimmerbox-fx/interrupt.h"
#include "tools/glimmerbox-fx/printable.h"

#ifdef GLIMMER_FX_MP3
#include "platform/tmwavmp3.h"
#endif

#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace {

constexpr const char *ProgramName = "glimmerbox-fx";

struct KindName {
    const char *extension;
    OutputKind kind;
};
constexpr KindName KindNames[] = {
    {"wav", OutputKind::Wave}, {"mp3", OutputKind::Mp3},      {"flac", OutputKind::Flac},
    {"ogg", OutputKind::Ogg},  {"ra", OutputKind::RealAudio},
};

bool SameLetters(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// Why a write failed, for the end of "cannot write NAME: ...": what the
// file replacement said, else the system's word for the last error; empty
// when neither says anything.
std::string Reason()
{
    std::string reason = LastReplacementFailure();
    if (reason.empty() && errno != 0)
        reason = std::strerror(errno);
    return reason.empty() ? "" : ": " + reason;
}

// "cannot write NAME" and reason, which starts with ": " when there is one.
void PrintCannotWrite(const std::string &fileName, const std::string &reason)
{
    std::fprintf(stderr, "%s: cannot write %s%s\n", ProgramName, Printable(fileName).c_str(),
                 Printable(reason).c_str());
}

#ifdef GLIMMER_FX_MP3
// A temporary WAVE file in the system's temporary folder, readable by its
// owner only, removed when it goes out of scope or the program is ended.
class TemporaryWave {
public:
    TemporaryWave()
    {
        std::error_code error;
        folder = std::filesystem::temp_directory_path(error);
        if (error)
            return;
        std::string pattern = (folder / "glimmerbox-fx-XXXXXX.wav").string();
        const int fd = MakeListedTemporary(pattern, 4, entry);
        if (fd < 0)
            return;
        ::close(fd);
        name = pattern;
    }
    ~TemporaryWave()
    {
        if (!name.empty())
            ::unlink(name.c_str());
        if (entry != 0)
            ForgetTemporaryFile(entry);
    }
    TemporaryWave(const TemporaryWave &) = delete;
    TemporaryWave &operator=(const TemporaryWave &) = delete;

    std::filesystem::path folder;
    std::string name; // empty when it could not be made
    uint64_t entry = 0;
};

std::string Mp3FailureText(int16_t code, const std::string &fileName, uint32_t sampleRate, int32_t bitRate)
{
    switch (code) {
    case TMWAVMP3_BITRATE:
        return "the MP3 encoder cannot make " + std::to_string(bitRate) + " kbit/s from a clip at " +
               std::to_string(sampleRate) + " Hz; choose another --bitrate";
    case TMWAVMP3_CODEC_NOT_FOUND:
        return "the MP3 encoder cannot take a clip at " + std::to_string(sampleRate) + " Hz";
    case TMWAVMP3_NO_MEMORY:
        return "not enough memory to make " + Printable(fileName);
    case TMWAVMP3_OPEN_OUTPUT:
    case TMWAVMP3_CLOSE_ERROR:
    case TMWAVMP3_NO_SPACE:
        return "cannot write " + Printable(fileName) + Printable(Reason());
    default:
        return "the MP3 conversion of " + Printable(fileName) + " failed (code " + std::to_string(code) + ")";
    }
}

bool WriteMp3(const std::string &fileName, uint32_t sampleRate, const int16_t *samples, uint32_t byteCount,
              int32_t bitRate)
{
    TemporaryWave wave;
    errno = 0;
    if (wave.name.empty() ||
        !WriteWaveFile(wave.name, sampleRate, VoiceFormat.BitsPerSample, VoiceFormat.Channels, samples, byteCount)) {
        std::fprintf(stderr, "%s: cannot write a temporary file in %s%s\n", ProgramName,
                     Printable(wave.folder.string()).c_str(), Printable(Reason()).c_str());
        return false;
    }

    // The MP3 is made in a hidden file beside its target, found by the
    // same rule for links as every other output, and renamed over it only
    // when complete. The conversion library writes that file through the
    // folder's descriptor.
    TFileReplacement mp3(fileName);
    if (!mp3.Open()) {
        SayCannotWrite(fileName);
        return false;
    }
    errno = 0;
    int16_t code = 0;
    {
        TLibraryCall call(StopConversionWavToMP3);
        code = ConvertWaveFileToMp3(wave.name.c_str(), mp3.TemporaryName().c_str(), bitRate * 1000);
    }
    if (code != 0) {
        std::fprintf(stderr, "%s: %s\n", ProgramName, Mp3FailureText(code, fileName, sampleRate, bitRate).c_str());
        return false;
    }
    if (!mp3.Commit()) {
        SayCannotWrite(fileName);
        return false;
    }
    return true;
}
#endif

} // namespace

std::optional<OutputKind> OutputKindOf(std::string_view fileName)
{
    const std::size_t dot = fileName.rfind('.');
    const std::size_t slash = fileName.rfind('/');
    if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash))
        return std::nullopt;
    return OutputKindNamed(fileName.substr(dot + 1));
}

std::optional<OutputKind> OutputKindNamed(std::string_view name)
{
    for (const KindName &entry : KindNames)
        if (SameLetters(name, entry.extension))
            return entry.kind;
    return std::nullopt;
}

const char *ExtensionOf(OutputKind kind)
{
    for (const KindName &entry : KindNames)
        if (entry.kind == kind)
            return entry.extension;
    return "";
}

bool OutputKindAvailable(OutputKind kind)
{
#ifdef GLIMMER_FX_MP3
    (void)kind;
    return true;
#else
    return kind != OutputKind::Mp3;
#endif
}

bool WriteEncodedOutput(OutputKind kind, const std::string &fileName, uint32_t sampleRate, const int16_t *samples,
                        uint32_t byteCount, int32_t bitRate)
{
    bool written = false;
    errno = 0;
    switch (kind) {
    case OutputKind::Wave:
        written =
            WriteWaveFile(fileName, sampleRate, VoiceFormat.BitsPerSample, VoiceFormat.Channels, samples, byteCount);
        break;
    case OutputKind::Mp3:
#ifdef GLIMMER_FX_MP3
        return WriteMp3(fileName, sampleRate, samples, byteCount, bitRate);
#else
        (void)bitRate;
        break;
#endif
    case OutputKind::Flac:
    case OutputKind::Ogg:
        written = WriteSoundFile(fileName, kind == OutputKind::Flac ? SoundFileKind::Flac : SoundFileKind::Ogg,
                                 sampleRate, samples, byteCount / 2);
        break;
    case OutputKind::RealAudio: {
        std::string error;
        if (WriteRealAudioFile(fileName, samples, byteCount / 2, sampleRate, nullptr, error))
            return true;
        PrintCannotWrite(fileName, ": " + error);
        return false;
    }
    }
    if (!written)
        SayCannotWrite(fileName);
    return written;
}

void SayCannotWrite(const std::string &fileName)
{
    PrintCannotWrite(fileName, Reason());
}
