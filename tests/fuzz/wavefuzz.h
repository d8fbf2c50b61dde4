// SPDX-License-Identifier: GPL-3.0-or-later
// One fuzz input through the whole file side of the program:
//
//   bytes -> a file -> ReadWaveFile --(no voice)--> done
//                           |
//                           +-> pipeline with the file's own selection
//                           +-> pipeline with every effect on
//                           +-> WriteWaveFileWithSettings -> ReadWaveFile:
//                                 the same samples and record come back
//                           +-> the processed clip written at its rate and
//                                 read back: the size the conversion gives
//
// Any broken promise (a sample that differs, a temporary file left in the
// private temporary folder) aborts, so the fuzzer keeps the input.
#pragma once

#include <cstddef>
#include <cstdint>

// Makes the private folders (once); call before the first input.
void FuzzWaveSetUp();
void FuzzWaveInput(const uint8_t *data, std::size_t size);
