// The program's command line: glimmerbox [FILE].
#pragma once

#include <QStringList>

#include <string>

struct TCommandLine {
    enum class TAction { Run, ShowHelp, Refuse };
    TAction Action = TAction::Run;
    std::string FileName; // the WAVE file to open at start; empty for none
    std::string Text;     // the usage text (ShowHelp) or what is wrong (Refuse)
};

// Reads arguments as QCoreApplication::arguments() gives them (the program's
// name first, Qt's own options already taken out). A FILE that names no
// existing file is still taken: opening it says what is wrong.
TCommandLine ParseCommandLine(const QStringList &arguments);
