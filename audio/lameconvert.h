// SPDX-License-Identifier: GPL-3.0-or-later
// The LAME path of the MP3 export: streams a PCM WAVE file chunk by chunk
// through the lame_enc library, which is loaded at run time from the
// program's own folder.
//
// LameProgress (0..100, written here) and LameStopRequested (written by the
// export dialog, read here after each chunk) are the two words the dialog
// and the conversion thread share. A stop request set before a conversion
// begins stops it after its first chunk; the request is cleared when a
// conversion returns, and whoever starts one clears it first.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

// Results of LameConvertFile.
enum : int16_t {
    LameOk = 0,
    LameBitRateRefused = 406, // 8000..22050 Hz with more than 160 kbit/s
    LameTooShort = 500,       // fewer than 44 bytes
    LameNotWave = 501,        // bytes 8..11 are not "WAVE"
    LameNoStream = 502,       // the encoder stream could not be opened
    LameNoLibrary = 503,      // the library could not be loaded
    LameNoMemory = 504,       // no memory for the buffers
    LameReadFailed = 505,     // a chunk could not be read in full
    LameEncodeFailed = 506,   // the encoder failed on a chunk
    LameStopped = 507,        // stopped on request
    LameWriteFailed = 508,    // the MP3 bytes could not all be written
    LameNotOpened = 509,      // the source or the destination could not be opened
};

inline std::atomic<uint16_t> LameProgress{0};
inline std::atomic<bool> LameStopRequested{false};

// Converts source to destination at bitRate kbit/s; one of the codes above.
// LameProgress starts at 0 and ends at 100 on success. The MP3 is written
// to a temporary file beside the destination (created only after the source,
// the bit rate and the encoder have been accepted) and renamed over the
// destination when complete: on any failure or stop a file already at the
// destination keeps every byte and no temporary file is left.
int16_t LameConvertFile(const std::string &source, const std::string &destination, int32_t bitRate);

// The folder the library is loaded from: the program's own folder unless a
// caller (a test) named another. The full path of the library file.
void SetLameLibraryFolder(const std::string &folder);
std::string LameLibraryPath();
// Whether the library loads and has its four entry points.
bool LameLibraryAvailable();
