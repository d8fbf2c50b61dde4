// SPDX-License-Identifier: GPL-3.0-or-later
// One recording: the recorder library writes what the chosen input hears
// into a WAVE file of the voice format (22050 Hz, 16 bits, mono) in the
// system's temporary folder; the session starts it, reads its level and the
// time it has run, stops it and loads the take into the voice document.
//
//   Start -> temporary "QMB" file -> AudioStartRecord
//   Stop  -> AudioStopRecord -> LoadTake: ReadWaveFile -> document
//         -> file deleted (kept, and named in the message, when it
//            cannot be loaded)
//
// When the input or the sound server goes away, the recorder ends the
// recording by itself with everything it captured: Ended() then says so.
#pragma once

#include "audio/messages.h"
#include "engine/voicedocument.h"

#include <array>
#include <cstdint>
#include <string>

class TRecordSession {
public:
    std::array<char, 256> RecordFileName{}; // the recorder's temporary file, zero-terminated
    uint32_t RecordStartTime = 0;           // milliseconds; 0 when not recording
    bool Recording = false;
    int16_t InputSource = 0; // the recording input handed to the recorder

    TRecordSession() = default;
    ~TRecordSession();
    TRecordSession(const TRecordSession &) = delete;
    TRecordSession &operator=(const TRecordSession &) = delete;

    // Makes the temporary file and starts the recorder on it. Returns 0, or
    // the recorder's refusal (201..207), after which no file is left.
    int16_t Start();
    // The recorder's refusal as the user reads it; false for other codes.
    static bool ShowError(int16_t code, MessageSink &messages);
    // Stops the recorder; false when it refused (try again later).
    bool Stop();
    // The recorder ended the recording by itself (the input went away).
    bool Ended() const;
    // The input level, 0..100.
    int32_t Level() const;
    uint32_t ElapsedMs() const;
    // After a stop: the take becomes the document's voice and its file is
    // deleted. False (the reader has said why, or "cannot allocate
    // memory!!!") when it could not be loaded: the file stays.
    bool LoadTake(TVoiceDocument &document, MessageSink &messages);
    // What to say after a take was loaded: why it stopped growing, or
    // nothing.
    std::string WriteError() const;
    // What to say when it could not be loaded: where the take is kept.
    std::string KeptText() const;
    // The recording is over: the take is a change to save.
    void Finish(TVoiceDocument &document);
    // Stops a recording still running without loading it; its file goes.
    void Abandon();
    // The system's temporary folder, where the takes are written.
    static std::string TemporaryFolder();
    // What to tell the user when the recorder could not write everything it
    // captured (error: the errno value), empty when it could.
    static std::string WriteErrorText(int32_t error, const std::string &folder);

private:
    void DeleteRecordFile();
    bool ReadTake(TVoiceDocument &document, MessageSink &messages);
};
