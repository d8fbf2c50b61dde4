// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/media.h"

#include "base/programfolder.h"

#include <dlfcn.h>

#include <map>
#include <mutex>

namespace {

// The loader's state, made on first use: a test may name the folder while
// the program's globals are still being constructed.
struct TLoaderState {
    std::mutex Lock;
    std::string Folder; // empty: the program's own folder
    // Every plugin file loaded, by path. A loaded plugin is never unloaded:
    // FFmpeg's libraries are not made to be taken out of a running process.
    std::map<std::string, TMediaPlugin> Loaded;
};

TLoaderState &State()
{
    static TLoaderState state;
    return state;
}

template <typename Fn> Fn Find(void *handle, const char *name)
{
    return reinterpret_cast<Fn>(dlsym(handle, name));
}

std::string PathLocked()
{
    const std::string &folder = State().Folder;
    return (folder.empty() ? ProgramFolder() : folder) + "/" + MediaPluginName;
}

} // namespace

void SetMediaPluginFolder(const std::string &folder)
{
    const std::lock_guard<std::mutex> hold(State().Lock);
    State().Folder = folder;
}

std::string MediaPluginPath()
{
    const std::lock_guard<std::mutex> hold(State().Lock);
    return PathLocked();
}

const TMediaPlugin *LoadMediaPlugin()
{
    TLoaderState &state = State();
    const std::lock_guard<std::mutex> hold(state.Lock);
    const std::string path = PathLocked();
    if (const auto found = state.Loaded.find(path); found != state.Loaded.end())
        return &found->second;
    void *handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle)
        return nullptr;
    const auto version = Find<GlimmerMediaInterfaceFn>(handle, "glimmer_media_interface");
    const TMediaPlugin plugin{
        Find<GlimmerMediaOpenFn>(handle, "glimmer_media_open"),
        Find<GlimmerMediaReadFn>(handle, "glimmer_media_read"),
        Find<GlimmerMediaCloseFn>(handle, "glimmer_media_close"),
        Find<GlimmerMediaWriteRealAudioFn>(handle, "glimmer_media_write_realaudio"),
    };
    if (!version || version() != GLIMMER_MEDIA_INTERFACE || !plugin.Open || !plugin.Read || !plugin.Close ||
        !plugin.WriteRealAudio) {
        dlclose(handle);
        return nullptr;
    }
    return &state.Loaded.emplace(path, plugin).first->second;
}

const std::vector<std::string> &MediaFileExtensions()
{
    static const std::vector<std::string> extensions{"3g2", "3gp", "aac", "ac3", "amr", "m4a",  "m4b", "mka",
                                                     "mkv", "mov", "mp4", "ra",  "rm",  "webm", "wma", "wmv"};
    return extensions;
}

std::string NeedsMediaPluginText(const std::string &fileName)
{
    return "Cannot open " + fileName + ": this kind of file needs FFmpeg's libraries, which are not installed.";
}
