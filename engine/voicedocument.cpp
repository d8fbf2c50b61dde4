// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/voicedocument.h"

#include "audio/realaudio.h"
#include "audio/voiceformat.h"

#include <algorithm>
#include <cstring>
#include <new>

void TVoiceDocument::DropSamples()
{
    // The sizes go with the buffers they describe, so nothing can later
    // reach into a buffer that is gone.
    VoiceData.reset();
    WorkData.reset();
    VoiceBytes = 0;
    WorkCapacity = 0;
    WorkBytes = 0;
    StartHistory();
}

void TVoiceDocument::Clear()
{
    DropSamples();
    Modified = false;
    VoiceFileName.clear();
    SaveNeedsName = false;
    Preset = false;
}

bool TVoiceDocument::TakeVoice(std::unique_ptr<int16_t[]> samples, int32_t bytes)
{
    VoiceData = std::move(samples);
    VoiceBytes = VoiceData ? bytes : 0;
    WorkCapacity = VoiceBytes;
    WorkBytes = 0;
    WorkData.reset(new (std::nothrow) int16_t[static_cast<size_t>(WorkCapacity) / 2 + 1]());
    if (!WorkData)
        return false;
    if (WorkCapacity > 0)
        std::memcpy(WorkData.get(), VoiceData.get(), static_cast<size_t>(WorkCapacity));
    StartHistory();
    return true;
}

TVoiceDocument::TOpenResult TVoiceDocument::Open(const std::string &fileName, MessageSink &messages,
                                                 ReadWaveHooks hooks)
{
    // A file without a settings chunk leaves every effect off.
    TEffectSettings settings;
    ::CaptureEffectSettings(TEffectSet{}, settings);
    ReadWaveReport report;
    hooks.Report = &report;
    int32_t byteCount = 0;
    std::unique_ptr<int16_t[]> samples;
    try {
        samples = ReadWaveFile(fileName, VoiceFormat.SamplesPerSec, VoiceFormat.BitsPerSample, VoiceFormat.Channels,
                               byteCount, settings, messages, hooks);
    } catch (const std::bad_alloc &) {
        messages.ShowMessage("Cannot allocate buffer for audio data, Terminating...");
    }
    // Gone since the caller looked, or a temporary folder that could not
    // take the conversion: nothing was read and nothing changes.
    if (report.Result == ReadWaveResult::Missing)
        return TOpenResult::Missing;
    if (report.Result == ReadWaveResult::NoTemporary)
        return TOpenResult::NoTemporary;

    // The file replaces the voice and the selection together; an unreadable
    // one leaves no voice.
    Clear();
    Effects = ::ApplyEffectSettings(TEffectSet{}, settings);
    if (!samples || byteCount <= 0)
        return TOpenResult::Rejected;
    // The working copy starts as the voice itself.
    if (!TakeVoice(std::move(samples), byteCount)) {
        messages.ShowMessage("Cannot allocate buffer for audio data, Terminating...");
        Clear();
        return TOpenResult::Rejected;
    }
    VoiceFileName = fileName;
    // A file in another layout was converted on reading: saving over it
    // would lower its quality for good, so Save asks for a name.
    SaveNeedsName = report.Converted;
    return TOpenResult::Read;
}

bool TVoiceDocument::Save(const std::string &fileName)
{
    TEffectSettings settings;
    ::CaptureEffectSettings(Effects, settings);
    // The writer leaves a file that was there as it was.
    if (!WriteWaveFileWithSettings(fileName, VoiceFormat.SamplesPerSec, VoiceFormat.BitsPerSample, VoiceFormat.Channels,
                                   VoiceData.get(), static_cast<uint32_t>(VoiceBytes), settings))
        return false;
    VoiceFileName = fileName;
    SaveNeedsName = false; // the file now holds the voice as it is in memory
    Preset = false;
    Modified = false;
    savedVersion = voiceVersion;
    savedEffects = Effects;
    return true;
}

PipelineResult TVoiceDocument::Process(ProgressGauge *gauge)
{
    // A part of the voice is a clip of its own: copied in afresh, and no
    // longer than itself (the echo lengthens a clip only into free room).
    const bool part = PlayBytes() != VoiceBytes;
    WorkAltered = WorkAltered || part;
    Processed = RunEffectPipeline(PlayData(), PlayBytes(), WorkData.get(), part ? PlayBytes() : WorkCapacity,
                                  WorkAltered, Effects, VoiceFormat.SamplesPerSec, gauge);
    WorkBytes = Processed.WorkBytes;
    return Processed;
}

bool TVoiceDocument::WriteProcessed(const std::string &fileName, uint32_t rate) const
{
    return WriteWaveFile(fileName, rate, VoiceFormat.BitsPerSample, VoiceFormat.Channels, WorkData.get(),
                         static_cast<uint32_t>(WorkBytes));
}

bool TVoiceDocument::WriteProcessedRealAudio(const std::string &fileName, uint32_t rate, ProgressGauge *gauge,
                                             std::string &error) const
{
    return WriteRealAudioFile(fileName, WorkData.get(), static_cast<std::size_t>(WorkBytes / 2), rate, gauge, error);
}

uint32_t TVoiceDocument::PlaybackRate(const TEffectSet &effects)
{
    if (effects.SlowMonster)
        return 11025;
    if (effects.FastSqueaker)
        return 44100;
    return VoiceFormat.SamplesPerSec;
}

const int16_t *TVoiceDocument::PlayData() const
{
    return PlayBytes() == VoiceBytes ? VoiceData.get() : VoiceData.get() + Selection.Start;
}

int32_t TVoiceDocument::PlayBytes() const
{
    if (PlaySelectionOnly && !Selection.Empty() && Selection.End <= VoiceSamples())
        return Selection.Length() * 2;
    return VoiceBytes;
}

// ---------------------------------------------------------------------------
// Edits and their history

bool TVoiceDocument::CanEdit(TEdit edit) const
{
    if (VoiceBytes <= 0)
        return false;
    switch (edit) {
    case TEdit::Cut:
    case TEdit::Crop:
        // Cutting everything would leave no voice, and cropping to
        // everything changes nothing.
        return !Selection.Empty() && Selection.End <= VoiceSamples() && Selection.Length() < VoiceSamples();
    case TEdit::TrimSilence:
    case TEdit::Normalise:
        return true;
    }
    return false;
}

TVoiceDocument::TEditResult TVoiceDocument::Edit(TEdit edit)
{
    if (!CanEdit(edit))
        return TEditResult::Done;
    const int16_t *voice = VoiceData.get();
    const int32_t count = VoiceSamples();
    const TSampleSpan span = Selection.Empty() ? TSampleSpan{0, count} : Selection;
    try {
        switch (edit) {
        case TEdit::Cut:
            return ReplaceVoice(WithoutSpan(voice, count, span), {}) ? TEditResult::Done : TEditResult::NoMemory;
        case TEdit::Crop:
            return ReplaceVoice(OnlySpan(voice, span), {}) ? TEditResult::Done : TEditResult::NoMemory;
        case TEdit::TrimSilence: {
            const std::optional<TSampleSpan> kept = TrimSilenceSpan(voice, span, VoiceFormat.SamplesPerSec);
            if (!kept)
                return TEditResult::Silent;
            if (*kept == span)
                return TEditResult::Done; // nothing quiet to take away
            std::vector<int16_t> trimmed(voice, voice + span.Start);
            trimmed.insert(trimmed.end(), voice + kept->Start, voice + kept->End);
            trimmed.insert(trimmed.end(), voice + span.End, voice + count);
            const TSampleSpan selection =
                Selection.Empty() ? TSampleSpan{} : TSampleSpan{span.Start, span.Start + kept->Length()};
            return ReplaceVoice(trimmed, selection) ? TEditResult::Done : TEditResult::NoMemory;
        }
        case TEdit::Normalise: {
            std::vector<int16_t> louder(voice, voice + count);
            if (!NormaliseSpan(louder.data(), span))
                return TEditResult::Silent;
            return ReplaceVoice(louder, Selection) ? TEditResult::Done : TEditResult::NoMemory;
        }
        }
    } catch (const std::bad_alloc &) {
        return TEditResult::NoMemory;
    }
    return TEditResult::Done;
}

void TVoiceDocument::WillChange(TChange change)
{
    // A pitch bar being dragged moves many times: the first move keeps the
    // position it started from, the rest merge into it.
    if (!(change == TChange::Pitch && mergeOpen && !undoSteps.empty() && undoSteps.back().Change == TChange::Pitch))
        PushUndo(change);
    mergeOpen = change == TChange::Pitch;
}

bool TVoiceDocument::Undo()
{
    return StepOver(undoSteps, redoSteps);
}

bool TVoiceDocument::Redo()
{
    return StepOver(redoSteps, undoSteps);
}

bool TVoiceDocument::StepOver(std::vector<TStep> &from, std::vector<TStep> &to)
{
    if (from.empty())
        return false;
    const TStep here = CurrentStep(from.back().Change);
    if (!GoTo(from.back()))
        return false;
    from.pop_back();
    to.push_back(here);
    mergeOpen = false;
    PruneHistory();
    return true;
}

int64_t TVoiceDocument::HistoryBytes() const
{
    int64_t bytes = 0;
    for (const auto &[version, kept] : keptVoices)
        bytes += kept.Bytes;
    return bytes;
}

TVoiceDocument::TStep TVoiceDocument::CurrentStep(TChange change) const
{
    return TStep{voiceVersion, Selection, Effects, change};
}

void TVoiceDocument::StartHistory()
{
    undoSteps.clear();
    redoSteps.clear();
    keptVoices.clear();
    voiceVersion = ++versionsMade;
    savedVersion = voiceVersion;
    savedEffects = Effects;
    mergeOpen = false;
    Selection = {};
}

void TVoiceDocument::PushUndo(TChange change)
{
    undoSteps.push_back(CurrentStep(change));
    redoSteps.clear();
    mergeOpen = false;
    PruneHistory();
}

bool TVoiceDocument::SetVoice(const int16_t *samples, int32_t bytes)
{
    std::unique_ptr<int16_t[]> voice(new (std::nothrow) int16_t[static_cast<size_t>(bytes) / 2 + 1]());
    std::unique_ptr<int16_t[]> work(new (std::nothrow) int16_t[static_cast<size_t>(bytes) / 2 + 1]());
    if (!voice || !work)
        return false;
    std::memcpy(voice.get(), samples, static_cast<size_t>(bytes));
    std::memcpy(work.get(), samples, static_cast<size_t>(bytes));
    KeepCurrentVoice();
    VoiceData = std::move(voice);
    WorkData = std::move(work);
    VoiceBytes = bytes;
    WorkCapacity = bytes;
    WorkBytes = 0;
    return true;
}

bool TVoiceDocument::ReplaceVoice(const std::vector<int16_t> &samples, TSampleSpan selection)
{
    const TStep before = CurrentStep(TChange::Edit);
    if (!SetVoice(samples.data(), static_cast<int32_t>(samples.size() * 2)))
        return false;
    undoSteps.push_back(before);
    redoSteps.clear();
    mergeOpen = false;
    voiceVersion = ++versionsMade;
    Selection = selection;
    Modified = true;
    PruneHistory();
    return true;
}

bool TVoiceDocument::GoTo(const TStep &step)
{
    if (step.Version != voiceVersion) {
        const auto kept = keptVoices.find(step.Version);
        if (kept == keptVoices.end())
            return false;
        // The kept copy stays until no step needs it: the voice is copied.
        const TKeptVoice voice = kept->second;
        if (!SetVoice(voice.Samples.get(), voice.Bytes))
            return false;
        voiceVersion = step.Version;
    }
    Selection = step.Selection;
    Effects = step.Effects;
    Modified = VoiceEdited() || EffectsChanged();
    return true;
}

void TVoiceDocument::KeepCurrentVoice()
{
    if (VoiceData && VoiceBytes > 0 && !keptVoices.count(voiceVersion))
        keptVoices[voiceVersion] = TKeptVoice{std::shared_ptr<const int16_t[]>(std::move(VoiceData)), VoiceBytes};
    VoiceData.reset();
}

void TVoiceDocument::PruneHistory()
{
    const auto forgetUnused = [this] {
        for (auto kept = keptVoices.begin(); kept != keptVoices.end();) {
            const auto uses = [&](const TStep &step) { return step.Version == kept->first; };
            const bool used = kept->first != voiceVersion && (std::any_of(undoSteps.begin(), undoSteps.end(), uses) ||
                                                              std::any_of(redoSteps.begin(), redoSteps.end(), uses));
            kept = used ? std::next(kept) : keptVoices.erase(kept);
        }
    };
    if (undoSteps.size() > MaxSteps)
        undoSteps.erase(undoSteps.begin(), undoSteps.end() - MaxSteps);
    forgetUnused();
    // The oldest steps go first, then the redo steps farthest away. A voice
    // cropped short still undoes: the limit is in copies of the largest
    // voice of the history.
    int64_t largest = VoiceBytes;
    for (const auto &[version, kept] : keptVoices)
        largest = std::max<int64_t>(largest, kept.Bytes);
    const int64_t limit = HistoryCopies * largest;
    while (HistoryBytes() > limit && !undoSteps.empty()) {
        undoSteps.erase(undoSteps.begin());
        forgetUnused();
    }
    while (HistoryBytes() > limit && !redoSteps.empty()) {
        redoSteps.erase(redoSteps.begin());
        forgetUnused();
    }
}
