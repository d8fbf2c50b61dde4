// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/commandline.h"

#include <QFileInfo>

namespace {

constexpr const char *Usage = "Usage: glimmerbox [FILE]\n"
                              "       glimmerbox --help | --version\n"
                              "Opens the Glimmerbox window; with FILE, opens that sound file at start\n"
                              "instead of the start-up file of the preferences.\n"
                              "\n"
                              "FILE is any sound file the program reads: WAVE, RF64, AIFF, FLAC,\n"
                              "Ogg Vorbis, Opus, MP3 and more; and, read through FFmpeg's libraries\n"
                              "when they are installed, AAC/M4A voice memos, Opus and Vorbis in Ogg or\n"
                              "WebM, FLAC in Ogg, AMR voice messages, the soundtrack of MP4, MOV, 3GP,\n"
                              "MKV and WebM videos, and RealAudio.\n"
                              "\n"
                              "  -h, --help     show this text and exit\n"
                              "  --version      show the program's version and exit\n";

constexpr const char *VersionLine = "glimmerbox " GLIMMER_VERSION "\n";

} // namespace

TCommandLine ParseCommandLine(const QStringList &arguments)
{
    TCommandLine result;
    bool optionsEnded = false;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString &argument = arguments[i];
        if (!optionsEnded && argument == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }
        if (!optionsEnded && (argument == QLatin1String("--help") || argument == QLatin1String("-h"))) {
            return {TCommandLine::TAction::ShowHelp, {}, Usage};
        }
        if (!optionsEnded && argument == QLatin1String("--version")) {
            return {TCommandLine::TAction::ShowVersion, {}, VersionLine};
        }
        if (!optionsEnded && argument.startsWith(QLatin1Char('-')) && argument.size() > 1) {
            return {TCommandLine::TAction::Refuse,
                    {},
                    "glimmerbox: unknown option '" + argument.toStdString() + "'\n" + Usage};
        }
        if (!result.FileName.empty()) {
            return {
                TCommandLine::TAction::Refuse, {}, std::string("glimmerbox: only one FILE can be opened\n") + Usage};
        }
        if (argument.isEmpty()) {
            return {TCommandLine::TAction::Refuse, {}, std::string("glimmerbox: the FILE name is empty\n") + Usage};
        }
        // The title shows the name without its folder either way; the full
        // path keeps Save working if the folder changes.
        result.FileName = QFileInfo(argument).absoluteFilePath().toStdString();
    }
    return result;
}
