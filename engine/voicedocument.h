// SPDX-License-Identifier: GPL-3.0-or-later
// The voice being worked on: the samples as recorded or read, the working
// copy the effects alter and playback plays, the file it belongs to, whether
// it changed since it was saved, and the effect selection. The selection
// lives here and nowhere else; the window's buttons, menu items and pitch
// bar show it.
//
//   Open ──> VoiceData ──Process (Effects)──> WorkData ──> Play, Export
//   Save <── VoiceData + Effects ("qmbl" chunk)
#pragma once

#include "audio/messages.h"
#include "audio/progress.h"
#include "audio/wavefile.h"
#include "effects/effectset.h"
#include "effects/pipeline.h"

#include <cstdint>
#include <memory>
#include <string>

class TVoiceDocument {
public:
    std::unique_ptr<int16_t[]> VoiceData; // the voice as recorded or read; effects never change it
    std::unique_ptr<int16_t[]> WorkData;  // the copy the effects alter and playback plays
    int32_t VoiceBytes = 0;               // bytes of voice in VoiceData; 0 = no voice
    int32_t WorkBytes = 0;                // bytes of processed clip in WorkData
    int32_t WorkCapacity = 0;             // size of WorkData in bytes
    bool WorkAltered = false;             // an effect has altered WorkData since it was filled
    std::string VoiceFileName;            // the voice's file; empty for a new voice
    bool SaveNeedsName = false;           // a preset, or converted on reading: Save asks for a name
    bool Modified = false;                // voice or effects changed since the last save
    TEffectSet Effects;                   // the effect selection
    PipelineResult Processed;             // what the last Process made

    // How Open ended.
    enum class TOpenResult {
        Read,        // the file's voice and selection replaced the old ones
        Rejected,    // the file was read but held no voice: nothing is left
        Missing,     // nothing at that name: nothing changed
        NoTemporary, // a conversion the temporary folder could not take: nothing changed
    };

    // Drops the voice and everything that describes it; the selection stays.
    void Clear();
    // Drops the samples only (a new recording is about to start).
    void DropSamples();
    // Makes samples (bytes long) the voice, with a working copy; false when
    // there is no memory for the copy (the voice is then kept without one).
    bool TakeVoice(std::unique_ptr<int16_t[]> samples, int32_t bytes);
    // Reads fileName as the new voice with the selection its file stores
    // (every effect off when it stores none). The reader's texts go to
    // messages; hooks show its progress.
    TOpenResult Open(const std::string &fileName, MessageSink &messages, ReadWaveHooks hooks = {});
    // Writes the voice with the selection to fileName; on success the voice
    // is that file's. False when it could not be written.
    bool Save(const std::string &fileName);
    // Runs the selected effects over a fresh copy of the voice into WorkData.
    PipelineResult Process(ProgressGauge *gauge = nullptr);
    // Writes the processed clip at rate as a WAVE file.
    bool WriteProcessed(const std::string &fileName, uint32_t rate) const;
    // The same as a RealAudio file; false with error saying why.
    bool WriteProcessedRealAudio(const std::string &fileName, uint32_t rate, ProgressGauge *gauge,
                                 std::string &error) const;
    // The rate the voice plays at: Slow Monster before Fast Squeaker.
    static uint32_t PlaybackRate(const TEffectSet &effects);
    uint32_t PlaybackRate() const { return PlaybackRate(Effects); }
    // A recorded voice that no file holds.
    bool UnsavedRecording() const { return VoiceBytes > 0 && VoiceFileName.empty(); }
};
