// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/commandline.h"
#include "app/program.h"

#include <QApplication>
#include <QStringList>

#include <csignal>
#include <cstdio>

namespace {

// What a command line that opens no window asks for: the usage text or the
// version on standard output (status 0), what is wrong on standard error
// (status 2).
int Answer(const TCommandLine &command)
{
    const bool refused = command.Action == TCommandLine::TAction::Refuse;
    std::fputs(command.Text.c_str(), refused ? stderr : stdout);
    return refused ? 2 : 0;
}

} // namespace

int main(int argc, char **argv)
{
    // A write past the file-size limit (ulimit -f) then fails as on a full
    // disk, and is reported, instead of ending the program with the voice.
    std::signal(SIGXFSZ, SIG_IGN);
    // --help and --version are answered before Qt starts, so that they need
    // no display. Read as given, a command line with one of Qt's own options
    // (-platform, -style ...) before them is refused here and read again
    // below, once Qt has taken its options out.
    QStringList given;
    for (int i = 0; i < argc; ++i)
        given << QString::fromLocal8Bit(argv[i]);
    if (const TCommandLine early = ParseCommandLine(given);
        early.Action == TCommandLine::TAction::ShowHelp || early.Action == TCommandLine::TAction::ShowVersion)
        return Answer(early);

    QApplication application(argc, argv);
    // Wayland compositors and the desktop's task list find the menu entry
    // and its icon by this name.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.example.Glimmerbox"));
    const TCommandLine command = ParseCommandLine(QCoreApplication::arguments());
    if (command.Action != TCommandLine::TAction::Run)
        return Answer(command);
    return RunGlimmerbox(command.FileName);
}
