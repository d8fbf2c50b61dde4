// SPDX-License-Identifier: GPL-3.0-or-later
// The media plugin (libglimmer_media.so, audio/mediaplugin.h) as the
// program sees it: loaded with dlopen from the program's own folder the
// first time a file needs FFmpeg, and kept for the rest of the run. Until
// then no FFmpeg library is in the process.
#pragma once

#include "audio/mediaplugin.h"

#include <string>
#include <vector>

// The plugin's entry points, all present when LoadMediaPlugin gives them.
struct TMediaPlugin {
    GlimmerMediaOpenFn Open;
    GlimmerMediaReadFn Read;
    GlimmerMediaCloseFn Close;
    GlimmerMediaWriteRealAudioFn WriteRealAudio;
};

// The file name of the plugin.
inline constexpr const char *MediaPluginName = "libglimmer_media.so";

// The folder the plugin is loaded from: the program's own folder unless a
// caller (a test) names another. The full path of the plugin.
void SetMediaPluginFolder(const std::string &folder);
std::string MediaPluginPath();

// The plugin, loaded on the first call; null when it cannot be loaded (it
// or FFmpeg's libraries are missing, or it is of another version), and
// then tried again on the next call. Safe from any thread.
const TMediaPlugin *LoadMediaPlugin();

// The extensions (lower case, without the dot, sorted) of the kinds of
// file only the plugin reads: phone and browser recordings, video
// soundtracks, RealAudio.
const std::vector<std::string> &MediaFileExtensions();

// The text for a file only the plugin could read, when it cannot be loaded.
std::string NeedsMediaPluginText(const std::string &fileName);
