// SPDX-License-Identifier: GPL-3.0-or-later
// What the tests of phone and browser recordings share: the media plugin
// found in the build folder, files made with the ffmpeg command, and
// whether FFmpeg's libraries are in the process.
//
// Test programs run from build/tests; the plugin lies in build/, where the
// programs themselves find it beside them. Including this header points the
// loader there before any test runs.
#pragma once

#include "audio/media.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace mediatesting {

inline const bool PluginFolderSet = [] {
    if (const char *folder = std::getenv("GLIMMER_BUILD_DIR"))
        SetMediaPluginFolder(folder);
    return true;
}();

// Runs the ffmpeg command quietly with these arguments (a shell's words,
// file names quoted by the caller); true when it succeeded.
inline bool Ffmpeg(const std::string &arguments)
{
    return std::system(("ffmpeg -nostdin -hide_banner -v error -y " + arguments).c_str()) == 0;
}

inline std::string Quoted(const std::string &name)
{
    std::string quoted = "'";
    for (char c : name)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// What the ffmpeg command decodes from the first audio stream of a file:
// interleaved doubles at the stream's rate and channels.
struct FfmpegDecoded {
    int Rate = 0;
    int Channels = 0;
    std::vector<double> Values;
};

inline FfmpegDecoded FfmpegDecode(const std::string &fileName, const std::string &scratch)
{
    FfmpegDecoded decoded;
    const std::string probe = "ffprobe -v error -select_streams a:0 -show_entries stream=sample_rate,channels "
                              "-of csv=p=0 " +
                              Quoted(fileName);
    if (FILE *pipe = ::popen(probe.c_str(), "r")) {
        if (std::fscanf(pipe, "%d,%d", &decoded.Rate, &decoded.Channels) != 2)
            decoded.Rate = decoded.Channels = 0;
        ::pclose(pipe);
    }
    if (!Ffmpeg("-i " + Quoted(fileName) + " -map 0:a:0 -f f64le -c:a pcm_f64le " + Quoted(scratch)))
        return {};
    std::ifstream in(scratch, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), {});
    decoded.Values.resize(bytes.size() / sizeof(double));
    std::copy_n(bytes.data(), decoded.Values.size() * sizeof(double), reinterpret_cast<char *>(decoded.Values.data()));
    return decoded;
}

// Whether FFmpeg's codec library is mapped into this process.
inline bool FfmpegMapped()
{
    std::ifstream maps("/proc/self/maps");
    const std::string text((std::istreambuf_iterator<char>(maps)), {});
    return text.find("libavcodec.so") != std::string::npos;
}

} // namespace mediatesting
