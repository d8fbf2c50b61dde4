#include "app/commandline.h"
#include "app/program.h"

#include <QApplication>

#include <csignal>
#include <cstdio>

int main(int argc, char **argv)
{
    // A write past the file-size limit (ulimit -f) then fails as on a full
    // disk, and is reported, instead of ending the program with the voice.
    std::signal(SIGXFSZ, SIG_IGN);
    QApplication application(argc, argv);
    // Wayland compositors and the desktop's task list find the menu entry
    // and its icon by this name.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.example.Glimmerbox"));
    const TCommandLine command = ParseCommandLine(QCoreApplication::arguments());
    switch (command.Action) {
    case TCommandLine::TAction::ShowHelp:
        std::fputs(command.Text.c_str(), stdout);
        return 0;
    case TCommandLine::TAction::Refuse:
        std::fputs(command.Text.c_str(), stderr);
        return 2;
    case TCommandLine::TAction::Run:
        break;
    }
    return RunGlimmerbox(command.FileName);
}
