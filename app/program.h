// SPDX-License-Identifier: GPL-3.0-or-later
// Program start: the application's settings, the windows in their order,
// the event loop, and the windows' end.
#pragma once

#include <string>

// Runs the program in the QApplication that exists already; returns the
// event loop's exit code. The main window's start-up may ask to quit (no
// sound devices): the loop then ends as soon as it starts.
// fileToOpen, when not empty, is opened instead of the preferences' start-up file.
int RunGlimmerbox(const std::string &fileToOpen = {});
