// SPDX-License-Identifier: GPL-3.0-or-later
// Reading and writing WAVE files.
//
// The reader accepts PCM "fmt " chunks of 8 or 16 bits, 1 or 2 channels,
// 11025, 22050 or 44100 Hz, an optional 514-byte "qmbl" settings chunk
// between "fmt " and "data", and converts everything else to the target
// format (always VoiceFormat in this program) through a temporary file.
// The search for chunks stops at a chunk id of four zero bytes, so zeros
// in place of a header (or a long run of them after the data) end it
// after one read.
//
// The writers produce a 20-byte "fmt " chunk, then the "qmbl" chunk (only
// WriteWaveFileWithSettings), then "data", with a zero pad byte after odd
// data. They write beside the target and rename over it only when the whole
// file is on disk, so a failed write never destroys the file that was there.
#pragma once

#include "audio/effectsettings.h"
#include "audio/messages.h"
#include "audio/progress.h"

#include <cstdint>
#include <memory>
#include <string>

// Reads fileName and converts it to the target format. Returns the samples,
// or none (with byteCount and settings left as they were) when the file does
// not exist (no message) or is rejected ("Incompatible file format of: " +
// name, through messages; on the converted pass the temporary file's name).
// A file that would give more than INT32_MAX sample bytes is rejected the
// same way. No memory for the samples: "Cannot allocate buffer for audio
// data, Terminating..."; none for a conversion stage: "Unable to allocate
// memory". byteCount receives the number of sample bytes read: the data
// chunk's size, or what the file holds after the chunk's header when that is
// less (whatever the RIFF size says). settings is overwritten only when the
// read succeeds and the file carries a valid 514-byte "qmbl" chunk.
// A conversion goes through a temporary file ("gbx" + six characters) in
// the system's temporary folder, removed after reading whatever happens;
// when that folder cannot take the file: "The temporary folder " + folder +
// " is full or not writable: " + name + " cannot be converted.".
// Gauge, when given, gets ResetProgress(90) and runs to 90 during the
// conversion; ShowGauge and HideGauge (optional) are called around it. A
// file already in the target format is read directly: no gauge, no
// temporary file. Report, when given, says how the read ended.
enum class ReadWaveResult {
    Read,        // samples returned
    Missing,     // nothing at that name; no message shown
    Rejected,    // not a file this reader takes; said so
    NoMemory,    // no memory for the samples or a conversion stage; said so
    NoTemporary, // the temporary folder could not take the converted file; said so
};

struct ReadWaveReport {
    ReadWaveResult Result = ReadWaveResult::Read;
    bool Converted = false; // the file was in another layout than the target's
};

struct ReadWaveHooks {
    ProgressGauge *Gauge = nullptr;
    void (*ShowGauge)(void *context) = nullptr;
    void (*HideGauge)(void *context) = nullptr;
    void *Context = nullptr;
    ReadWaveReport *Report = nullptr;
};

std::unique_ptr<int16_t[]> ReadWaveFile(const std::string &fileName, uint32_t sampleRate, uint16_t bitsPerSample,
                                        uint16_t channels, int32_t &byteCount, TEffectSettings &settings,
                                        MessageSink &messages, const ReadWaveHooks &hooks = {});

// Both return true only when the whole file was written and is in place.
// The file is written beside fileName (beside the file it leads to, when
// it is a symbolic link the kernel's rule for shared folders lets the
// writer follow, even one whose file does not exist yet: the link stays)
// under a hidden temporary name and renamed over it when complete, keeping
// an existing file's owner, group and permissions less the set-ID bits
// (base/replacefile.h); on any failure (a refused link, missing folder,
// full disk, sizes that do not fit the 32-bit RIFF header) the temporary
// file is removed, a file already at fileName stays as it was and
// LastReplacementFailure says why where the replacement failed.
bool WriteWaveFile(const std::string &fileName, uint32_t sampleRate, uint16_t bitsPerSample, uint16_t channels,
                   const void *samples, uint32_t byteCount);
bool WriteWaveFileWithSettings(const std::string &fileName, uint32_t sampleRate, uint16_t bitsPerSample,
                               uint16_t channels, const void *samples, uint32_t byteCount,
                               const TEffectSettings &settings);
