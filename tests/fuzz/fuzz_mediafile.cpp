// SPDX-License-Identifier: GPL-3.0-or-later
// The libFuzzer entry points of the media fuzzer (built only with clang,
// GLIMMER_FUZZ=ON). The plugin is loaded from the fuzzer's own folder, the
// build folder, before the first input, so that its coverage counters are
// known to libFuzzer from the start.
#include "tests/fuzz/mediafuzz.h"

#include <filesystem>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    FuzzMediaSetUp(std::filesystem::read_symlink("/proc/self/exe").parent_path().string());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    FuzzMediaInput(data, size, SoundFilePassSampled(data, size));
    return 0;
}
