// Test programs run from build/tests; the media plugin lies in build/,
// where the programs themselves find it beside them. Including this header
// points the loader there before any test runs.
#pragma once

#include "audio/media.h"

#include <cstdlib>

namespace testing_media {
inline const bool PluginFolderSet = [] {
    if (const char *folder = std::getenv("GLIMMER_BUILD_DIR"))
        SetMediaPluginFolder(folder);
    return true;
}();
} // namespace testing_media
