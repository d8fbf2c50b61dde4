// SPDX-License-Identifier: GPL-3.0-or-later
// The libFuzzer entry points (built only with clang, GLIMMER_FUZZ=ON).
#include "tests/fuzz/wavefuzz.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    FuzzWaveSetUp();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    FuzzWaveInput(data, size);
    return 0;
}
