// SPDX-License-Identifier: GPL-3.0-or-later
// Sound files beyond the twelve WAVE layouts the WAVE reader converts
// itself: WAVE of every depth and float, WAVE_FORMAT_EXTENSIBLE, RF64,
// AIFF, FLAC, Ogg Vorbis, Opus, MP3 and whatever else libsndfile reads,
// then, through the media plugin (FFmpeg), what phones, browsers and
// cameras record: AAC in M4A or MP4, Opus in WebM, FLAC in Ogg, AMR, the
// soundtrack of a video; all turned into the voice format (22050 Hz, 16
// bits, mono). Also the FLAC and Ogg writers of the command-line tool.
#pragma once

#include "audio/effectsettings.h"
#include "audio/messages.h"
#include "audio/wavefile.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// The most samples a voice holds: its byte count is a signed 32-bit number.
inline constexpr int64_t MaxVoiceSamples = INT32_MAX / 2;

// Reads fileName through libsndfile, or when libsndfile does not know it
// through the media plugin, and converts it to the voice format:
// the channels are mixed down to their mean, the rate is changed to 22050 Hz
// with libsoxr's very-high-quality recipe (skipped for a file already at
// 22050 Hz), and each sample is rounded to the nearest 16-bit value (halves
// to even) and clipped to -32768..32767.
//
// The contract is ReadWaveFile's: the samples come back, or none with
// byteCount and settings left as they were. A file neither can read (or
// that is not a plain file) gives "Incompatible file format of: " + name;
// when the plugin cannot be loaded, a file of one of its kinds
// (MediaFileExtensions, or Ogg) gives NeedsMediaPluginText instead; a file longer than MaxVoiceSamples at 22050 Hz is refused before
// anything of its size is allocated, with "Cannot open " + name + ": it
// lasts longer than the 13 hours 31 minutes a voice can hold."; any other
// file of a sample rate below 1000 Hz or above 768000 Hz is refused the
// same way, with "Cannot open " + name + ": its sample rate of " + rate +
// " Hz is outside the 1000 to 768000 Hz the program reads."; no memory
// for the samples gives "Cannot allocate buffer for audio data,
// Terminating...". A WAVE or RF64 file with a 514-byte "qmbl" chunk
// anywhere among its chunks overwrites settings on success. Gauge, when
// given, is shown (ShowGauge), reset to 90 and runs to 90 with the frames
// decoded, then hidden (HideGauge).
std::unique_ptr<int16_t[]> ReadSoundFile(const std::string &fileName, int32_t &byteCount, TEffectSettings &settings,
                                         MessageSink &messages, const ReadWaveHooks &hooks = {});

// The text ReadSoundFile shows for a file too long for the voice.
std::string TooLongText(const std::string &fileName);

// The extensions (lower case, without the dot, sorted) of every kind of
// file the program opens: "wav", those of libsndfile's readable formats and
// those of the media plugin (listed whether or not it can be loaded).
std::vector<std::string> SoundFileExtensions();
// "*.aiff *.au ... *.wav": SoundFileExtensions as a dialog filter pattern.
std::string SoundFilePattern();
// True when fileName ends in one of SoundFileExtensions, in any case.
bool IsSoundFileName(const std::string &fileName);

enum class SoundFileKind { Flac, Ogg };

// Writes 16-bit mono samples at sampleRate as FLAC (16-bit, lossless) or
// Ogg Vorbis. As with the WAVE writers, the file is written beside fileName
// and renamed over it only when complete: true when it is in place; on
// failure nothing is left behind and a file already there is unchanged.
bool WriteSoundFile(const std::string &fileName, SoundFileKind kind, uint32_t sampleRate, const int16_t *samples,
                    std::size_t count);
