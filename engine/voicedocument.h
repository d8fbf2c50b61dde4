// SPDX-License-Identifier: GPL-3.0-or-later
// The voice being worked on: the samples as recorded or read, the working
// copy the effects alter and playback plays, the file it belongs to, whether
// it changed since it was saved, and the effect selection. The selection
// lives here and nowhere else; the window's buttons, menu items and pitch
// bar show it.
//
//   Open ──> VoiceData ──Process (Effects)──> WorkData ──> Play, Export
//   Save <── VoiceData + Effects ("qmbl" chunk)
//
// Every edit of the voice and every change of the selection is a step that
// Undo takes back: a step remembers the voice's version, the span selected
// and the effects. The voices that steps need (not the current one) are kept
// once per version, no more than HistoryCopies times the largest of them.
#pragma once

#include "audio/messages.h"
#include "audio/progress.h"
#include "audio/wavefile.h"
#include "effects/edits.h"
#include "effects/effectset.h"
#include "effects/pipeline.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

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
    bool Preset = false;                  // one of the program's preset voices
    TEffectSet Effects;                   // the effect selection
    TSampleSpan Selection;                // samples chosen in the editor; empty = none
    bool PlaySelectionOnly = false;       // Process runs over the selection alone (when there is one)
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
    // What Process runs over: the selection while PlaySelectionOnly, else
    // the whole voice.
    const int16_t *PlayData() const;
    int32_t PlayBytes() const;
    int32_t VoiceSamples() const { return VoiceBytes / 2; }

    // --- Edits and their history --------------------------------------------
    static constexpr int64_t HistoryCopies = 8;
    static constexpr std::size_t MaxSteps = 1000; // effect changes keep no voice, but are not endless
    enum class TEdit { Cut, Crop, TrimSilence, Normalise };
    enum class TEditResult {
        Done,
        Silent,   // Trim Silence or Normalise found nothing louder than silence: nothing changed
        NoMemory, // nothing changed
    };
    // Cut and Crop need a selection that is not the whole voice; Trim
    // Silence and Normalise need a voice, and work on the selection when
    // there is one.
    bool CanEdit(TEdit edit) const;
    TEditResult Edit(TEdit edit);
    // Call before the effect selection changes, so that Undo can bring the
    // old one back. Pitch changes in a row (the bar being dragged) make one
    // step.
    enum class TChange { Edit, Effects, Pitch };
    void WillChange(TChange change);
    bool CanUndo() const { return !undoSteps.empty(); }
    bool CanRedo() const { return !redoSteps.empty(); }
    // False when there was nothing to undo or redo, or no memory.
    bool Undo();
    bool Redo();
    // The voice's samples differ from those last opened or saved.
    bool VoiceEdited() const { return voiceVersion != savedVersion; }
    // The effect selection differs from the one last opened or saved.
    bool EffectsChanged() const { return !(Effects == savedEffects); }
    // Bytes of voice the history holds besides the current voice.
    int64_t HistoryBytes() const;

private:
    struct TStep {
        uint64_t Version = 0; // which voice
        TSampleSpan Selection;
        TEffectSet Effects;
        TChange Change = TChange::Effects; // what the step after this one changed
    };
    struct TKeptVoice {
        std::shared_ptr<const int16_t[]> Samples;
        int32_t Bytes = 0;
    };
    std::vector<TStep> undoSteps; // oldest first
    std::vector<TStep> redoSteps; // the next redo last
    std::map<uint64_t, TKeptVoice> keptVoices;
    uint64_t voiceVersion = 0;
    uint64_t versionsMade = 0;
    uint64_t savedVersion = 0;
    TEffectSet savedEffects;
    bool mergeOpen = false; // the last step may take in a change of the same kind

    TStep CurrentStep(TChange change) const;
    // A new voice (opened, recorded or gone): the history starts again and
    // the voice counts as saved.
    void StartHistory();
    void PushUndo(TChange change);
    // Makes samples the voice, as a new version; false when out of memory.
    bool ReplaceVoice(const std::vector<int16_t> &samples, TSampleSpan selection);
    // Brings back step's voice, selection and effects; false (nothing
    // changed) when out of memory.
    bool GoTo(const TStep &step);
    // Undo (from the undo steps to the redo steps) or Redo (the other way).
    bool StepOver(std::vector<TStep> &from, std::vector<TStep> &to);
    // New buffers for the voice and its working copy, filled from samples.
    bool SetVoice(const int16_t *samples, int32_t bytes);
    void KeepCurrentVoice();
    void PruneHistory();
};
