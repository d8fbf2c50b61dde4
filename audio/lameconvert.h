// The LAME path of the MP3 export: streams a PCM WAVE file chunk by chunk
// through the lame_enc library, which is loaded at run time from the
// program's own folder.
//
// LameProgress (0..100, written here) and LameStopRequested (written by the
// export dialog, read here after each chunk) are the two words the dialog
// and the conversion thread share.
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
// The destination is created before the source is checked, and keeps what
// was encoded when a later step fails.
int16_t LameConvertFile(const std::string &source, const std::string &destination, int32_t bitRate);

// The folder the library is loaded from: the program's own folder unless a
// caller (a test) named another. The full path of the library file.
void SetLameLibraryFolder(const std::string &folder);
std::string LameLibraryPath();
// Whether the library loads and has its four entry points.
bool LameLibraryAvailable();
