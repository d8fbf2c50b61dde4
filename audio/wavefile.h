// Reading and writing WAVE files.
//
// The reader accepts PCM "fmt " chunks of 8 or 16 bits, 1 or 2 channels,
// 11025, 22050 or 44100 Hz, an optional 514-byte "qmbl" settings chunk
// between "fmt " and "data", and converts everything else to the target
// format (always VoiceFormat in this program) through a temporary file.
//
// The writers produce a 20-byte "fmt " chunk, then the "qmbl" chunk (only
// WriteWaveFileWithSettings), then "data", with a zero pad byte after odd
// data. They write beside the target and rename over it only when the whole
// file is on disk, so a failed write never destroys the file that was there.
#pragma once

#include "effectsettings.h"
#include "messages.h"
#include "progress.h"

#include <cstdint>
#include <memory>
#include <string>

// Reads fileName and converts it to the target format. Returns the samples,
// or an empty Data (with ByteCount left as it was) when the file does not
// exist (no message) or is rejected ("Incompatible file format of: " + name,
// through messages). byteCount receives the number of sample bytes read.
// settings is overwritten only when the file carries a valid "qmbl" chunk.
// gauge, when given, runs 0..90 while a conversion is under way; showGauge
// and hideGauge (optional) are called around the conversion.
struct ReadWaveHooks {
    ProgressGauge *Gauge = nullptr;
    void (*ShowGauge)(void *context) = nullptr;
    void (*HideGauge)(void *context) = nullptr;
    void *Context = nullptr;
};

std::unique_ptr<int16_t[]> ReadWaveFile(const std::string &fileName, uint32_t sampleRate, uint16_t bitsPerSample,
                                        uint16_t channels, int32_t &byteCount, TEffectSettings &settings,
                                        MessageSink &messages, const ReadWaveHooks &hooks = {});

// Both return true only when the whole file was written and is in place.
bool WriteWaveFile(const std::string &fileName, uint32_t sampleRate, uint16_t bitsPerSample, uint16_t channels,
                   const void *samples, uint32_t byteCount);
bool WriteWaveFileWithSettings(const std::string &fileName, uint32_t sampleRate, uint16_t bitsPerSample,
                               uint16_t channels, const void *samples, uint32_t byteCount,
                               const TEffectSettings &settings);
