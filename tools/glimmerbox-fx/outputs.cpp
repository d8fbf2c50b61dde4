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

#ifdef GLIMMER_FX_MP3
#include "platform/tmwavmp3.h"
#endif

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
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

#ifdef GLIMMER_FX_MP3
// A new empty file from a mkstemps pattern ending in suffixLength
// characters, with the permissions a newly written file gets.
bool CreateFromPattern(std::string &pattern, int suffixLength)
{
    const int fd = ::mkstemps(pattern.data(), suffixLength);
    if (fd < 0)
        return false;
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
    ::close(fd);
    return true;
}

// Removes a file when it goes out of scope.
struct RemovedAfterwards {
    std::string name;
    ~RemovedAfterwards()
    {
        if (!name.empty())
            ::unlink(name.c_str());
    }
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
        return "not enough memory to make " + fileName;
    case TMWAVMP3_OPEN_OUTPUT:
    case TMWAVMP3_CLOSE_ERROR:
    case TMWAVMP3_NO_SPACE:
        return "cannot write " + fileName;
    default:
        return "the MP3 conversion of " + fileName + " failed (code " + std::to_string(code) + ")";
    }
}

bool WriteMp3(const std::string &fileName, uint32_t sampleRate, const int16_t *samples, uint32_t byteCount,
              int32_t bitRate)
{
    std::error_code error;
    const std::filesystem::path temporaryFolder = std::filesystem::temp_directory_path(error);
    RemovedAfterwards wave{(temporaryFolder / "glimmerbox-fx-XXXXXX.wav").string()};
    if (error || !CreateFromPattern(wave.name, 4)) {
        wave.name.clear();
        std::fprintf(stderr, "%s: cannot write a temporary file in %s\n", ProgramName, temporaryFolder.c_str());
        return false;
    }
    if (!WriteWaveFile(wave.name, sampleRate, VoiceFormat.BitsPerSample, VoiceFormat.Channels, samples, byteCount)) {
        std::fprintf(stderr, "%s: cannot write a temporary file in %s\n", ProgramName, temporaryFolder.c_str());
        return false;
    }

    // The MP3 is made beside its target (a symbolic link's target) and
    // renamed over it only when complete.
    std::string target = fileName;
    if (std::filesystem::is_symlink(fileName, error)) {
        const std::filesystem::path resolved = std::filesystem::weakly_canonical(fileName, error);
        if (!error)
            target = resolved.string();
    }
    std::filesystem::path folder = std::filesystem::path(target).parent_path();
    if (folder.empty())
        folder = ".";
    RemovedAfterwards mp3{(folder / ".gbxXXXXXX.mp3").string()};
    if (!CreateFromPattern(mp3.name, 4)) {
        mp3.name.clear();
        std::fprintf(stderr, "%s: cannot write %s\n", ProgramName, fileName.c_str());
        return false;
    }
    struct stat existing {};
    if (::stat(target.c_str(), &existing) == 0 && S_ISREG(existing.st_mode))
        ::chmod(mp3.name.c_str(), existing.st_mode & 07777);

    const int16_t code = ConvertWaveFileToMp3(wave.name.c_str(), mp3.name.c_str(), bitRate * 1000);
    if (code != 0) {
        std::fprintf(stderr, "%s: %s\n", ProgramName, Mp3FailureText(code, fileName, sampleRate, bitRate).c_str());
        return false;
    }
    if (::rename(mp3.name.c_str(), target.c_str()) != 0) {
        std::fprintf(stderr, "%s: cannot write %s\n", ProgramName, fileName.c_str());
        return false;
    }
    mp3.name.clear();
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
        std::fprintf(stderr, "%s: cannot write %s: %s\n", ProgramName, fileName.c_str(), error.c_str());
        return false;
    }
    }
    if (!written)
        std::fprintf(stderr, "%s: cannot write %s\n", ProgramName, fileName.c_str());
    return written;
}
