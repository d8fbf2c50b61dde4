// SPDX-License-Identifier: GPL-3.0-or-later
// The program's command line: glimmerbox [FILE], glimmerbox --help,
// glimmerbox --version.
#pragma once

#include <QStringList>

#include <string>

struct TCommandLine {
    enum class TAction { Run, ShowHelp, ShowVersion, Refuse };
    TAction Action = TAction::Run;
    std::string FileName; // the sound file to open at start; empty for none
    // The usage text (ShowHelp), "glimmerbox VERSION" (ShowVersion) or what
    // is wrong (Refuse), each ending in a new line.
    std::string Text;
};

// Reads arguments as QCoreApplication::arguments() gives them (the program's
// name first, Qt's own options already taken out). A FILE that names no
// existing file is still taken: opening it says what is wrong.
TCommandLine ParseCommandLine(const QStringList &arguments);
