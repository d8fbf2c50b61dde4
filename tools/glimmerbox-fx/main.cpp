// SPDX-License-Identifier: GPL-3.0-or-later
// glimmerbox-fx: runs the voice effects over a sound file from the command
// line, through the same reader, effect pipeline and writers as the program,
// and writes WAVE, MP3, FLAC, Ogg or RealAudio by the output's extension; with
// --out-dir, over many files at once (tools/glimmerbox-fx/batch.h). The
// edits (--crop, --trim-silence, --normalize) change the voice before the
// effects run, always in that order.
//
// Exit status: 0 when OUTPUT was written; 1 when INPUT (or the settings
// file) is missing, rejected or empty, INPUT ends before --crop starts, or
// OUTPUT cannot be written (in a batch: when any file failed); 2 on a usage error; 128 + the signal's
// number when SIGINT, SIGTERM or SIGHUP ended the run (tools/glimmerbox-fx/
// interrupt.h).
#include "audio/effectsettings.h"
#include "audio/messages.h"
#include "audio/progress.h"
#include "audio/voiceformat.h"
#include "audio/wavefile.h"
#include "base/replacefile.h"
#include "base/rounding.h"
#include "effects/edits.h"
#include "effects/effectset.h"
#include "effects/pipeline.h"
#include "tools/glimmerbox-fx/batch.h"
#include "tools/glimmerbox-fx/interrupt.h"
#include "tools/glimmerbox-fx/outputs.h"
#include "tools/glimmerbox-fx/printable.h"

#ifdef GLIMMER_FX_PLAY
#include "platform/waveout.h"
#include "tools/glimmerbox-fx/live.h"

#include <atomic>
#include <chrono>
#include <thread>
#endif

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr const char *ProgramName = "glimmerbox-fx";

constexpr const char *UsageText = "Usage: glimmerbox-fx [OPTIONS] INPUT OUTPUT\n"
                                  "       glimmerbox-fx [OPTIONS] INPUT... --out-dir DIR [--format FORMAT]\n"
                                  "                     [-j N] [--force]\n"
                                  "       glimmerbox-fx --live [EFFECTS] [--pitch POS] [--input SOURCE]\n"
                                  "                     [--to-speakers] [--to-virtual-mic]\n"
                                  "                     [--keep-input FILE] [--keep-output FILE]\n"
                                  "\n"
                                  "Reads INPUT, applies the selected effects in the program's fixed order\n"
                                  "and writes the result to OUTPUT as mono at 22050 Hz (11025 Hz with\n"
                                  "--slow-monster, 44100 Hz with --fast-squeaker). The clip keeps its\n"
                                  "length, echo included.\n"
                                  "\n"
                                  "INPUT is any sound file the program opens: PCM WAVE of 8 or 16 bits,\n"
                                  "mono or stereo, at 11025, 22050 or 44100 Hz is converted as the program\n"
                                  "always has; WAVE of other rates, depths and float, RF64, AIFF, FLAC,\n"
                                  "Ogg Vorbis, Opus, MP3 and more are mixed down to mono, resampled to\n"
                                  "22050 Hz and rounded to 16 bits. So are, read through FFmpeg's\n"
                                  "libraries when they are installed: AAC/M4A voice memos, Opus and\n"
                                  "Vorbis in Ogg or WebM, FLAC in Ogg, AMR voice messages, the soundtrack\n"
                                  "of MP4, MOV, 3GP, MKV and WebM videos, and RealAudio.\n"
                                  "\n"
                                  "OUTPUT's extension chooses what is written: .wav (16-bit WAVE), .mp3\n"
                                  "(through the converter of the program's MP3 export), .flac (16-bit\n"
                                  "FLAC), .ogg (Ogg Vorbis) or .ra (RealAudio 1.0 at 8000 Hz, as the\n"
                                  "program's RealAudio export); any other extension is a usage error.\n"
                                  "\n"
                                  "Effects:\n"
                                  "  --echo             Echo\n"
                                  "  --chorus           Chorus\n"
                                  "  --robot            Robot voice\n"
                                  "  --flange           Flange\n"
                                  "  --backward         Backward\n"
                                  "  --fade-in          Fade In\n"
                                  "  --fade-out         Fade Out\n"
                                  "  --bass-only        Bass Only\n"
                                  "  --treble-only      Treble Only\n"
                                  "  --sweep-up         Sweep Up\n"
                                  "  --sweep-down       Sweep Down\n"
                                  "  --slow-monster     Slow Monster: write OUTPUT at 11025 Hz\n"
                                  "  --fast-squeaker    Fast Squeaker: write OUTPUT at 44100 Hz\n"
                                  "                     (wins when both are on)\n"
                                  "  --pitch POS        pitch bar position, 0..12: 0 is \"Helium Breath\"\n"
                                  "                     (highest voice), 6 leaves the pitch unchanged,\n"
                                  "                     12 is \"Sulphur Breath\" (lowest voice)\n"
                                  "\n"
                                  "Editing:\n"
                                  "  --crop START:END   keep only the voice from START to END seconds\n"
                                  "                     (decimals, as in 0.5:2.25); an END past the\n"
                                  "                     voice's end keeps the rest, a START at or after\n"
                                  "                     it fails the file\n"
                                  "  --trim-silence     Trim Silence: keep from 50 ms before the first\n"
                                  "                     sample at least -45 dBFS loud to 50 ms after the\n"
                                  "                     last; a silent voice is left as it is, with a\n"
                                  "                     warning\n"
                                  "  --normalize        Normalize: scale the voice so that its loudest\n"
                                  "                     sample is at -1 dBFS\n"
                                  "  The edits change the voice before the effects, always cropped first,\n"
                                  "  then trimmed, then normalized, whatever order they are given in;\n"
                                  "  --with-settings saves the edited voice.\n"
                                  "\n"
                                  "Settings:\n"
                                  "  --settings-from FILE  start from the effect selection stored in the\n"
                                  "                     voice file FILE, as opening it in the program\n"
                                  "                     would; the effect options given switch further\n"
                                  "                     effects on, and --pitch replaces the stored pitch\n"
                                  "  --with-settings    write OUTPUT as the program's Save does: the voice\n"
                                  "                     unprocessed (converted to 22050 Hz 16-bit mono)\n"
                                  "                     with the effect selection stored, so that opening\n"
                                  "                     OUTPUT (or --settings-from OUTPUT) applies the\n"
                                  "                     effects once; without it OUTPUT is the processed\n"
                                  "                     clip and carries no selection (.wav output only)\n"
                                  "\n"
                                  "Output:\n"
                                  "  --bitrate K        MP3 bit rate in kbit/s, default 128 (.mp3 output\n"
                                  "                     only); the encoder makes 8 to 64 at 11025 Hz\n"
                                  "                     (--slow-monster), 8 to 160 at 22050 Hz and 32 to\n"
                                  "                     320 at 44100 Hz (--fast-squeaker), and refuses\n"
                                  "                     any other rate with an error\n"
                                  "\n"
                                  "Batch:\n"
                                  "  --out-dir DIR      process every INPUT into DIR (made when missing)\n"
                                  "                     under its own name with the extension of FORMAT\n"
                                  "  --format FORMAT    wav (the default), mp3, flac, ogg or ra\n"
                                  "  -j N, --jobs N     work on N files at a time, each in a worker process\n"
                                  "                     (default: the number of processors)\n"
                                  "  --force            replace files already in DIR; without it such a\n"
                                  "                     file is not processed and counts as failed. An\n"
                                  "                     INPUT is never its own output, and a symbolic\n"
                                  "                     link in DIR is replaced, never followed out\n"
                                  "  A batch prints one line per file: \"INPUT -> OUTPUT\" on standard\n"
                                  "  output, or the reason on standard error (on a terminal: a progress\n"
                                  "  bar and the failures). A bad file does not stop the others.\n"
                                  "\n"
                                  "Live:\n"
                                  "  --live             run the microphone through the effects as you speak,\n"
                                  "                     until SIGINT (Ctrl+C) or SIGTERM, into the virtual\n"
                                  "                     microphone \"Glimmerbox Voice\" that calls, browsers\n"
                                  "                     and streaming programs can record from. Echo,\n"
                                  "                     Chorus, Robot voice, Flange, Bass Only, Treble Only\n"
                                  "                     and --pitch run live; the others need a recorded\n"
                                  "                     voice and are refused. Each line on standard input\n"
                                  "                     is a new selection (\"--robot --pitch 3\"), heard\n"
                                  "                     after a 10 ms crossfade\n"
                                  "  --input SOURCE     record from the sound server's source SOURCE\n"
                                  "                     (default: the default input)\n"
                                  "  --to-virtual-mic   play into \"Glimmerbox Voice\" (the default)\n"
                                  "  --to-speakers      play on the default output, to hear yourself (use\n"
                                  "                     headphones); with --to-virtual-mic, both\n"
                                  "  --keep-input FILE  write what came in as a WAVE file at the end\n"
                                  "  --keep-output FILE write what went out as a WAVE file at the end\n"
                                  "\n"
                                  "Playing:\n"
                                  "  --play             after writing OUTPUT, play the processed clip at\n"
                                  "                     its output rate on the default sound output and\n"
                                  "                     return when it has been played\n"
                                  "  --help             show this text and exit\n"
                                  "  --version          show the program's version and exit\n"
                                  "\n"
                                  "Exit status: 0 when OUTPUT was written (and played), 1 when a file\n"
                                  "cannot be read or written, holds no sound or ends before --crop's\n"
                                  "START, or the clip cannot be played (in a batch: when any file\n"
                                  "failed), 2 on a usage error, 128 + the signal's number when\n"
                                  "SIGINT, SIGTERM or SIGHUP ended the run (every temporary file\n"
                                  "removed, outputs left as they were). --live ends with 0 on SIGINT\n"
                                  "or SIGTERM, 1 when it cannot start or a fault stops it (the input\n"
                                  "removed, the sound server gone), 2 when an effect is refused.\n";

// The effect flags the command line can switch on.
struct FlagOption {
    std::string_view name;
    bool TEffectSet::*flag;
};

constexpr FlagOption FlagOptions[] = {
    {"--echo", &TEffectSet::Echo},
    {"--chorus", &TEffectSet::Chorus},
    {"--robot", &TEffectSet::Robotvoice},
    {"--flange", &TEffectSet::Flange},
    {"--backward", &TEffectSet::Backward},
    {"--fade-in", &TEffectSet::FadeIn},
    {"--fade-out", &TEffectSet::FadeOut},
    {"--bass-only", &TEffectSet::BassOnly},
    {"--treble-only", &TEffectSet::TrebleOnly},
    {"--sweep-up", &TEffectSet::SweepUp},
    {"--sweep-down", &TEffectSet::SweepDown},
    {"--slow-monster", &TEffectSet::SlowMonster},
    {"--fast-squeaker", &TEffectSet::FastSqueaker},
};

// --crop START:END, in seconds.
struct CropOption {
    std::string text; // as given, for messages
    double start = 0;
    double end = 0;
};

struct Options {
    TEffectSet switchedOn;        // effects named on the command line
    std::optional<int32_t> pitch; // --pitch
    // The edits, done in this order whatever the command line's.
    std::optional<CropOption> crop;
    bool trimSilence = false;
    bool normalize = false;
    std::optional<std::string> settingsFrom;
    bool withSettings = false;
    bool play = false;
    bool help = false;
    bool version = false;
    std::string input;
    std::string output;
    // Output and batch work.
    std::optional<int32_t> bitRate; // --bitrate, kbit/s
    std::optional<std::string> outDir;
    std::optional<OutputKind> format;
    std::optional<int> jobs;
    bool force = false;
    std::vector<std::string> inputs; // with --out-dir: every INPUT
    // Run by a batch's worker: what it says about its file goes without the
    // file's name, which the batch's report puts in front.
    bool batchWorker = false;
    // --live and its options.
    bool live = false;
    std::optional<std::string> liveInput;
    bool toSpeakers = false;
    bool toVirtualMic = false;
    std::optional<std::string> keepInput;
    std::optional<std::string> keepOutput;
};

enum ExitStatus { Written = 0, FileFailure = 1, UsageError = 2 };

// Texts from the reader go to standard error, prefixed with the tool's name.
class StderrMessages : public MessageSink {
public:
    void ShowMessage(const std::string &text, const std::string & /*caption*/) override
    {
        std::fprintf(stderr, "%s: %s\n", ProgramName, Printable(text).c_str());
        ++shown;
    }
    int shown = 0;
};

// A one-line progress bar on standard error, redrawn whenever the whole
// percentage changes.
class TerminalGauge : public ProgressGauge {
public:
    void Begin(const char *what)
    {
        label = what;
        drawn = false;
    }
    // Ends the bar's line if one was drawn.
    void End()
    {
        if (drawn)
            std::fputc('\n', stderr);
        drawn = false;
    }

protected:
    void PercentChanged(int32_t percent) override
    {
        constexpr int Width = 40;
        const int filled = percent * Width / 100;
        std::fprintf(stderr, "\r%-10s [%.*s%*s] %3d%%", label, filled, "########################################",
                     Width - filled, "", static_cast<int>(percent));
        std::fflush(stderr);
        drawn = true;
    }

private:
    const char *label = "";
    bool drawn = false;
};

bool ParsePitch(std::string_view text, int32_t &position)
{
    if (text.empty() || text.size() > 2)
        return false;
    int32_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
    }
    if (value > PitchBarMax)
        return false;
    position = value;
    return true;
}

// Seconds as the command line writes them: digits with at most one decimal
// point, no sign and no exponent.
bool ParseSeconds(std::string_view text, double &seconds)
{
    if (text.empty() || text.find_first_not_of("0123456789.") != std::string_view::npos)
        return false;
    const char *end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, seconds, std::chars_format::fixed);
    return error == std::errc() && stop == end && std::isfinite(seconds);
}

// The voice's sample at seconds, half to even, held at limit.
int64_t SampleAt(double seconds, int64_t limit)
{
    return RoundHalfEven(std::min(seconds * VoiceFormat.SamplesPerSec, static_cast<double>(limit)));
}

std::optional<std::string> ParseCrop(std::string_view text, Options &options)
{
    const std::size_t colon = text.find(':');
    CropOption crop{std::string(text)};
    if (colon == std::string_view::npos || !ParseSeconds(text.substr(0, colon), crop.start) ||
        !ParseSeconds(text.substr(colon + 1), crop.end) || crop.end <= crop.start)
        return "--crop wants START:END in seconds, END after START, not '" + crop.text + "'";
    // Both may fall on one sample. No voice reaches INT32_MAX samples: an
    // END beyond that is past any voice's end and a sample after any START.
    if (crop.end * VoiceFormat.SamplesPerSec < INT32_MAX &&
        SampleAt(crop.end, INT32_MAX) <= SampleAt(crop.start, INT32_MAX))
        return "--crop wants START and END at least one sample (1/22050 s) apart, not '" + crop.text + "'";
    options.crop = std::move(crop);
    return std::nullopt;
}

// The options of the output's kind and of batch work, which take a value.
bool IsOutputOption(std::string_view name)
{
    return name == "--bitrate" || name == "--out-dir" || name == "--format" || name == "-j" || name == "--jobs";
}

// A whole number from 1 to limit, digits only.
bool ParseCount(std::string_view text, int32_t limit, int32_t &count)
{
    if (text.empty() || text.size() > 4)
        return false;
    int32_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
    }
    if (value < 1 || value > limit)
        return false;
    count = value;
    return true;
}

std::optional<std::string> ParseOutputOption(std::string_view name, std::string_view value, Options &options)
{
    if (name == "--bitrate") {
        int32_t rate = 0;
        if (!ParseCount(value, 999, rate))
            return "--bitrate wants a bit rate in kbit/s, not '" + std::string(value) + "'";
        options.bitRate = rate;
    } else if (name == "--out-dir") {
        if (value.empty())
            return std::string("--out-dir needs a folder name");
        options.outDir = std::string(value);
    } else if (name == "--format") {
        options.format = OutputKindNamed(value);
        if (!options.format)
            return "--format wants wav, mp3, flac, ogg or ra, not '" + std::string(value) + "'";
    } else {
        int32_t jobs = 0;
        if (!ParseCount(value, 256, jobs))
            return "-j wants a number of files at a time from 1 to 256, not '" + std::string(value) + "'";
        options.jobs = jobs;
    }
    return std::nullopt;
}

// The output's kind against the options that depend on it.
std::optional<std::string> CheckOutputs(const Options &options)
{
    if (!options.outDir && (options.format || options.jobs || options.force))
        return std::string("--format, -j and --force belong to batch work with --out-dir");
    if (options.outDir && options.play)
        return std::string("--play cannot be used with --out-dir");
    std::optional<OutputKind> kind =
        options.outDir ? options.format.value_or(OutputKind::Wave) : OutputKindOf(options.output);
    if (!kind)
        return "OUTPUT must end in .wav, .mp3, .flac, .ogg or .ra: '" + options.output + "'";
    if (options.withSettings && *kind != OutputKind::Wave)
        return std::string("--with-settings stores the selection in a .wav output only");
    if (options.bitRate && *kind != OutputKind::Mp3)
        return std::string("--bitrate applies to .mp3 output only");
    if (!OutputKindAvailable(*kind))
        return std::string("MP3 output is not available: this build has no MP3 encoder");
    return std::nullopt;
}

// Fills options from argv; returns an error text for a usage error.
std::optional<std::string> ParseArguments(int argc, char **argv, Options &options)
{
    std::vector<std::string> positional;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            positional.emplace_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (arg == "--help" || arg == "-h") {
            options.help = true;
            continue;
        }
        if (arg == "--version") {
            options.version = true;
            continue;
        }
        if (arg == "--with-settings") {
            options.withSettings = true;
            continue;
        }
        if (arg == "--force") {
            options.force = true;
            continue;
        }
        if (arg == "--trim-silence") {
            options.trimSilence = true;
            continue;
        }
        if (arg == "--normalize") {
            options.normalize = true;
            continue;
        }
        if (arg.size() > 2 && arg.substr(0, 2) == "-j" && arg[2] != '=') {
            if (auto error = ParseOutputOption("-j", arg.substr(2), options))
                return error;
            continue;
        }
        if (arg == "--live" || arg == "--to-speakers" || arg == "--to-virtual-mic") {
#ifdef GLIMMER_FX_PLAY
            (arg == "--live"          ? options.live
             : arg == "--to-speakers" ? options.toSpeakers
                                      : options.toVirtualMic) = true;
            continue;
#else
            return std::string(arg) + " is not available: this build has no sound output";
#endif
        }
        if (arg == "--play") {
#ifdef GLIMMER_FX_PLAY
            options.play = true;
            continue;
#else
            return std::string("--play is not available: this build has no sound output");
#endif
        }

        bool matched = false;
        for (const FlagOption &flag : FlagOptions) {
            if (arg == flag.name) {
                options.switchedOn.*flag.flag = true;
                matched = true;
            }
        }
        if (matched)
            continue;

        // Options with a value: "--name VALUE" or "--name=VALUE".
        const std::string_view name = arg.substr(0, arg.find('='));
        const bool liveOption = name == "--input" || name == "--keep-input" || name == "--keep-output";
        if (name != "--pitch" && name != "--settings-from" && name != "--crop" && !liveOption && !IsOutputOption(name))
            return "unknown option '" + std::string(arg) + "'";
        std::string_view value;
        if (name.size() < arg.size()) {
            value = arg.substr(name.size() + 1);
        } else if (i + 1 < argc) {
            value = argv[++i];
        } else {
            return std::string(name) + " needs a value";
        }
        if (IsOutputOption(name)) {
            if (auto error = ParseOutputOption(name, value, options))
                return error;
        } else if (name == "--pitch") {
            int32_t position = 0;
            if (!ParsePitch(value, position))
                return "--pitch wants a position from 0 to 12, not '" + std::string(value) + "'";
            options.pitch = position;
        } else if (name == "--crop") {
            if (auto error = ParseCrop(value, options))
                return error;
        } else if (liveOption) {
            if (value.empty())
                return std::string(name) + " needs a name";
            (name == "--input"        ? options.liveInput
             : name == "--keep-input" ? options.keepInput
                                      : options.keepOutput) = std::string(value);
        } else {
            if (value.empty())
                return "--settings-from needs a file name";
            options.settingsFrom = std::string(value);
        }
    }
    if (options.help || options.version)
        return std::nullopt;
    const bool liveOnly =
        options.liveInput || options.keepInput || options.keepOutput || options.toSpeakers || options.toVirtualMic;
    if (options.live) {
        if (!positional.empty() || options.outDir || options.crop || options.trimSilence || options.normalize ||
            options.settingsFrom || options.withSettings || options.play || options.bitRate || options.format)
            return std::string("--live takes effects, --pitch and the live options only");
        return std::nullopt;
    }
    if (liveOnly)
        return std::string("--input, --to-speakers, --to-virtual-mic, --keep-input and --keep-output go with --live");
    if (options.outDir) {
        if (positional.empty())
            return std::string("--out-dir needs at least one INPUT");
        options.inputs = positional;
        return CheckOutputs(options);
    }
    if (positional.size() != 2)
        return positional.size() < 2 ? "INPUT and OUTPUT are needed" : "too many file names";
    options.input = positional[0];
    options.output = positional[1];
    return CheckOutputs(options);
}

#ifdef GLIMMER_FX_PLAY
// Plays 16-bit mono samples at rate on the default output and waits until
// the server has played them all. False (with a message) when the output
// cannot be opened or does not finish in time.
bool PlayClip(const int16_t *samples, uint32_t byteCount, uint32_t rate)
{
    byteCount -= byteCount % 2;
    if (byteCount == 0)
        return true;
    const WAVEFORMATEX format{WAVE_FORMAT_PCM, 1, rate, 2 * rate, 2, 16, 0};
    HWAVEOUT device = nullptr;
    const MMRESULT opened = waveOutOpen(&device, WAVE_MAPPER, &format, nullptr, nullptr, 0, CALLBACK_NULL);
    if (opened != MMSYSERR_NOERROR) {
        std::fprintf(stderr, "%s: cannot play: %s\n", ProgramName,
                     opened == WAVERR_BADFORMAT ? "the sound output does not take this format"
                                                : "no sound output can be reached");
        return false;
    }
    WAVEHDR header{};
    header.lpData = const_cast<char *>(reinterpret_cast<const char *>(samples));
    header.dwBufferLength = byteCount;
    waveOutPrepareHeader(device, &header, sizeof header);
    waveOutWrite(device, &header, sizeof header);

    // The clip's own playing time, plus a generous margin for the server.
    using namespace std::chrono;
    const auto deadline = steady_clock::now() + milliseconds(uint64_t{byteCount} / 2 * 1000 / rate) + seconds(5);
    bool done = false;
    while (!(done = (std::atomic_ref<uint32_t>(header.dwFlags).load(std::memory_order_acquire) & WHDR_DONE) != 0) &&
           steady_clock::now() < deadline)
        std::this_thread::sleep_for(milliseconds(10));
    if (!done) {
        std::fprintf(stderr, "%s: cannot play: the sound output stopped playing\n", ProgramName);
        waveOutReset(device);
    }
    waveOutUnprepareHeader(device, &header, sizeof header);
    waveOutClose(device);
    return done;
}
#endif

struct ReadResult {
    std::unique_ptr<int16_t[]> samples;
    int32_t bytes = 0;
};

// The voice the effects run over: the samples as read, or the part of them
// that an edit kept.
class Voice {
public:
    explicit Voice(ReadResult fromFile) : read(std::move(fromFile.samples)), bytes(fromFile.bytes) {}

    int16_t *Samples() { return read ? read.get() : kept.data(); }
    int32_t Bytes() const { return bytes; }
    TSampleSpan Whole() const { return {0, bytes / 2}; }
    // Keeps only span, which lies within the voice.
    void Keep(TSampleSpan span)
    {
        if (span == Whole())
            return;
        kept = OnlySpan(Samples(), span);
        read.reset();
        bytes = 2 * span.Length();
    }

private:
    std::unique_ptr<int16_t[]> read;
    std::vector<int16_t> kept;
    int32_t bytes;
};

// Says text about options.input on standard error.
void SayAboutInput(const Options &options, const std::string &text)
{
    if (options.batchWorker)
        std::fprintf(stderr, "%s: %s\n", ProgramName, text.c_str());
    else
        std::fprintf(stderr, "%s: %s: %s\n", ProgramName, Printable(options.input).c_str(), text.c_str());
}

// Crops, trims and normalises the voice as options ask, in that order.
// False, with the reason said, when the crop starts after the voice ends.
bool EditVoice(const Options &options, Voice &voice)
{
    if (options.crop) {
        const int32_t count = voice.Whole().End;
        const TSampleSpan span{static_cast<int32_t>(SampleAt(options.crop->start, count)),
                               static_cast<int32_t>(SampleAt(options.crop->end, count))};
        if (span.Start >= count) {
            char length[32];
            std::snprintf(length, sizeof length, "%.3f", static_cast<double>(count) / VoiceFormat.SamplesPerSec);
            SayAboutInput(options, "--crop " + Printable(options.crop->text) + " starts after the voice ends (" +
                                       length + " s)");
            return false;
        }
        voice.Keep(span);
    }
    if (options.trimSilence) {
        if (const std::optional<TSampleSpan> speech =
                TrimSilenceSpan(voice.Samples(), voice.Whole(), VoiceFormat.SamplesPerSec))
            voice.Keep(*speech);
        else
            SayAboutInput(options, "The voice is silent: there is nothing to trim.");
    }
    if (options.normalize)
        NormaliseSpan(voice.Samples(), voice.Whole());
    return true;
}

void ShowConversion(void *context)
{
    static_cast<TerminalGauge *>(context)->Begin("Converting");
}

void HideConversion(void *context)
{
    static_cast<TerminalGauge *>(context)->End();
}

// Reads a voice file in the program's one format. On failure the reader has
// said why, or (for a missing file) this says so; samples is then empty.
ReadResult ReadVoice(const std::string &fileName, TEffectSettings &settings, StderrMessages &messages,
                     TerminalGauge *gauge)
{
    ReadWaveHooks hooks;
    if (gauge) {
        hooks.Gauge = gauge;
        hooks.ShowGauge = ShowConversion;
        hooks.HideGauge = HideConversion;
        hooks.Context = gauge;
    }
    ReadResult result;
    const int before = messages.shown;
    result.samples = ReadWaveFile(fileName, VoiceFormat.SamplesPerSec, VoiceFormat.BitsPerSample, VoiceFormat.Channels,
                                  result.bytes, settings, messages, hooks);
    if (!result.samples && messages.shown == before)
        std::fprintf(stderr, "%s: cannot open %s: no such file\n", ProgramName, Printable(fileName).c_str());
    return result;
}

// The selection stored in a voice file, applied over the rest state (all
// effects off, pitch 6) as opening the file in the program does.
std::optional<TEffectSet> ReadStoredSelection(const std::string &fileName, StderrMessages &messages,
                                              TerminalGauge *gauge)
{
    const TEffectSet rest;
    TEffectSettings record;
    CaptureEffectSettings(rest, record);
    if (!ReadVoice(fileName, record, messages, gauge).samples)
        return std::nullopt;
    return ApplyEffectSettings(rest, record);
}

// Command-line effects switch on in addition to the starting set.
TEffectSet CombineSelection(TEffectSet start, const Options &options)
{
    for (const FlagOption &flag : FlagOptions)
        start.*flag.flag = start.*flag.flag || options.switchedOn.*flag.flag;
    if (options.pitch)
        start.PitchPosition = *options.pitch;
    return start;
}

int Run(const Options &options)
{
    StderrMessages messages;
    TerminalGauge terminalGauge;
    TerminalGauge *gauge = ::isatty(STDERR_FILENO) ? &terminalGauge : nullptr;

    TEffectSet effects;
    if (options.settingsFrom) {
        const std::optional<TEffectSet> stored = ReadStoredSelection(*options.settingsFrom, messages, gauge);
        if (!stored)
            return FileFailure;
        effects = *stored;
    }
    effects = CombineSelection(effects, options);

    TEffectSettings ignored;
    ReadResult read = ReadVoice(options.input, ignored, messages, gauge);
    if (!read.samples)
        return FileFailure;
    // As the program holds no empty voice, no output is made of one.
    if (read.bytes < 2) {
        std::fprintf(stderr, "%s: %s holds no sound: nothing is written\n", ProgramName,
                     Printable(options.input).c_str());
        return FileFailure;
    }
    Voice voice(std::move(read));
    if (!EditVoice(options, voice))
        return FileFailure;

    // As after opening a file in the program: a working buffer of exactly
    // the voice's size, so the echo cannot lengthen the clip. Only a file
    // written with its settings needs the voice itself afterwards; otherwise
    // the voice is processed where it lies, with no second clip in memory.
    std::vector<int16_t> copy;
    int16_t *work = voice.Samples();
    if (options.withSettings) {
        copy.assign(static_cast<std::size_t>(voice.Bytes()) / 2 + 1, 0);
        std::memcpy(copy.data(), voice.Samples(), static_cast<std::size_t>(voice.Bytes()));
        work = copy.data();
    }
    bool workAltered = false; // the working buffer holds the voice already

    if (gauge)
        gauge->Begin("Processing");
    const PipelineResult result = RunEffectPipeline(voice.Samples(), voice.Bytes(), work, voice.Bytes(), workAltered,
                                                    effects, VoiceFormat.SamplesPerSec, gauge);
    if (gauge)
        gauge->End();

    const auto bytes = static_cast<uint32_t>(result.WorkBytes);
    bool written = false;
    errno = 0;
    if (const std::optional<OutputKind> kind = OutputKindOf(options.output); kind && *kind != OutputKind::Wave) {
        // MP3, FLAC, Ogg and RealAudio say themselves why they failed.
        if (!WriteEncodedOutput(*kind, options.output, result.SampleRate, work, bytes,
                                options.bitRate.value_or(DefaultMp3BitRate)))
            return FileFailure;
        written = true;
    } else if (options.withSettings) {
        // As the program's Save: the unprocessed voice and the selection, so
        // the effects run once, when the file is opened or played.
        TEffectSettings record;
        CaptureEffectSettings(effects, record);
        written = WriteWaveFileWithSettings(options.output, VoiceFormat.SamplesPerSec, VoiceFormat.BitsPerSample,
                                            VoiceFormat.Channels, voice.Samples(), static_cast<uint32_t>(voice.Bytes()),
                                            record);
    } else {
        written = WriteWaveFile(options.output, result.SampleRate, VoiceFormat.BitsPerSample, VoiceFormat.Channels,
                                work, bytes);
    }
    if (!written) {
        SayCannotWrite(options.output);
        return FileFailure;
    }
#ifdef GLIMMER_FX_PLAY
    if (options.play && !PlayClip(work, bytes, result.SampleRate))
        return FileFailure;
#endif
    return Written;
}

// Every INPUT into --out-dir, each through Run in a worker process.
int RunBatchWork(const Options &options)
{
    BatchRequest request;
    request.Inputs = options.inputs;
    request.OutDir = *options.outDir;
    request.Extension = ExtensionOf(options.format.value_or(OutputKind::Wave));
    request.Jobs = options.jobs.value_or(DefaultJobs());
    request.Force = options.force;
    // Outputs stay inside the folder: a link there gives way to the new
    // file instead of leading it elsewhere.
    ReplaceLinksAsNames();
    return RunBatch(request, [&options](const std::string &input, const std::string &output) {
        Options one = options;
        one.outDir.reset();
        one.inputs.clear();
        one.input = input;
        one.output = output;
        one.batchWorker = true;
        try {
            return Run(one);
        } catch (const std::bad_alloc &) {
            std::fprintf(stderr, "%s: not enough memory for %s\n", ProgramName, Printable(input).c_str());
            return static_cast<int>(FileFailure);
        }
    });
}

} // namespace

#ifdef GLIMMER_FX_PLAY
// What --live runs with.
TLiveVoiceSettings LiveSettings(const Options &options)
{
    TLiveVoiceSettings settings;
    settings.Effects = options.switchedOn;
    if (options.pitch)
        settings.Effects.PitchPosition = *options.pitch;
    settings.Input = options.liveInput.value_or("");
    // Without a --to- option: the virtual microphone.
    settings.ToSpeakers = options.toSpeakers;
    settings.ToVirtualMic = options.toVirtualMic || !options.toSpeakers;
    settings.KeepInput = options.keepInput.value_or("");
    settings.KeepOutput = options.keepOutput.value_or("");
    return settings;
}

// A line of effect options read while live.
std::optional<std::string> EffectWords(std::string_view line, TEffectSet &effects)
{
    effects = TEffectSet{};
    std::vector<std::string> words;
    for (std::size_t at = 0; at < line.size();) {
        const std::size_t start = line.find_first_not_of(" \t\r", at);
        if (start == std::string_view::npos)
            break;
        const std::size_t end = std::min(line.find_first_of(" \t\r", start), line.size());
        words.emplace_back(line.substr(start, end - start));
        at = end;
    }
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string &word = words[i];
        bool matched = false;
        for (const FlagOption &flag : FlagOptions)
            if (word == flag.name) {
                effects.*flag.flag = true;
                matched = true;
            }
        if (matched)
            continue;
        std::string_view value;
        if (word.rfind("--pitch=", 0) == 0)
            value = std::string_view(word).substr(8);
        else if (word == "--pitch" && i + 1 < words.size())
            value = words[++i];
        else
            return "unknown effect option '" + Printable(word) + "'";
        int32_t position = 0;
        if (!ParsePitch(value, position))
            return "--pitch wants a position from 0 to 12, not '" + Printable(value) + "'";
        effects.PitchPosition = position;
    }
    return std::nullopt;
}
#endif

int main(int argc, char **argv)
{
    // A write past the file-size limit (ulimit -f) then fails as on a full
    // disk, with a message and the target left as it was, instead of ending
    // the program half-way through a file.
    std::signal(SIGXFSZ, SIG_IGN);
    Options options;
    if (const std::optional<std::string> error = ParseArguments(argc, argv, options)) {
        std::fprintf(stderr, "%s: %s\n\n%s", ProgramName, Printable(*error).c_str(), UsageText);
        return UsageError;
    }
    if (options.help) {
        std::fputs(UsageText, stdout);
        return Written;
    }
    if (options.version) {
        std::printf("%s %s\n", ProgramName, GLIMMER_VERSION);
        return Written;
    }
#ifdef GLIMMER_FX_PLAY
    if (options.live)
        return RunLive(LiveSettings(options), EffectWords);
#endif
    if (options.outDir)
        return RunBatchWork(options);
    // SIGINT, SIGTERM and SIGHUP remove every temporary file and end the
    // run with 128 + the signal's number, the output left as it was.
    WatchForInterrupts();
    try {
        return Run(options);
    } catch (const std::bad_alloc &) {
        std::fprintf(stderr, "%s: not enough memory for %s\n", ProgramName, Printable(options.input).c_str());
        return FileFailure;
    }
}
