// SPDX-License-Identifier: GPL-3.0-or-later
// The RealAudio writer's part in the program: the bounds, the file put in
// place only when complete, the gauge. The encoding itself is FFmpeg's, in
// the media plugin (audio/mediaplugin.cpp), loaded when the first such file
// is written.
#include "audio/realaudio.h"

#include "audio/media.h"
#include "base/replacefile.h"

namespace {

void ShowProgress(void *context, int32_t percent)
{
    static_cast<ProgressGauge *>(context)->SetProgress(percent);
}

} // namespace

bool WriteRealAudioFile(const std::string &fileName, const int16_t *samples, std::size_t count, uint32_t sampleRate,
                        ProgressGauge *gauge, std::string &error)
{
    error.clear();
    if (sampleRate < 1000 || sampleRate > 192000 || (count > 0 && !samples)) {
        error = "The clip cannot be encoded at this sample rate.";
        return false;
    }
    const TMediaPlugin *plugin = LoadMediaPlugin();
    if (!plugin) {
        error = "RealAudio needs FFmpeg's libraries, which are not installed.";
        return false;
    }

    // Written beside the file it replaces (following a symbolic link where
    // that is safe), with that file's permissions, and put in its place only
    // when complete.
    TFileReplacement file(fileName);
    if (!file.Open()) {
        error = "The file cannot be created in that folder (" + file.Failure() + ").";
        return false;
    }
    if (gauge)
        ResetProgress(*gauge, 100);
    char why[256] = {};
    if (!plugin->WriteRealAudio(file.Descriptor(), samples, count, sampleRate, gauge ? ShowProgress : nullptr, gauge,
                                why, sizeof why)) {
        error = why;
        return false;
    }
    if (!file.Commit()) {
        error = "The file cannot be written (" + file.Failure() + ").";
        return false;
    }
    return true;
}
