// SPDX-License-Identifier: GPL-3.0-or-later
// What glimmerbox-fx writes, chosen by the output's extension: WAVE as the
// program writes it, MP3 through the conversion library the program's MP3
// export uses, FLAC and Ogg Vorbis through libsndfile, RealAudio as the
// program's RealAudio export writes it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

enum class OutputKind { Wave, Mp3, Flac, Ogg, RealAudio };

inline constexpr int32_t DefaultMp3BitRate = 128; // kbit/s

// The kind a file name's extension asks for (".wav", ".mp3", ".flac",
// ".ogg", ".ra", in any case); none for any other name.
std::optional<OutputKind> OutputKindOf(std::string_view fileName);
// The kind --format names ("wav", "mp3", "flac", "ogg", "ra"); none otherwise.
std::optional<OutputKind> OutputKindNamed(std::string_view name);
// The extension written for a kind, without the dot: "wav", "mp3"...
const char *ExtensionOf(OutputKind kind);
// False when this build has no MP3 encoder.
bool OutputKindAvailable(OutputKind kind);

// Writes 16-bit mono samples at sampleRate as an MP3 (bitRate in kbit/s),
// FLAC, Ogg or RealAudio (8000 Hz) file. Written beside fileName and renamed over it when
// complete, so a failure leaves a file that was there as it was. On failure
// prints why to standard error (the encoder's refusal of a bit rate, a file
// that cannot be written) and returns false.
bool WriteEncodedOutput(OutputKind kind, const std::string &fileName, uint32_t sampleRate, const int16_t *samples,
                        uint32_t byteCount, int32_t bitRate);

// Prints "glimmerbox-fx: cannot write NAME: reason" on standard error, the
// reason being what the file replacement said, else the system's word for
// errno (which the caller clears before it writes); without a reason when
// neither says anything.
void SayCannotWrite(const std::string &fileName);
