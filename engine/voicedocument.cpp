// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/voicedocument.h"

#include "audio/realaudio.h"
#include "audio/voiceformat.h"

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
}

void TVoiceDocument::Clear()
{
    DropSamples();
    Modified = false;
    VoiceFileName.clear();
    SaveNeedsName = false;
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
    Modified = false;
    return true;
}

PipelineResult TVoiceDocument::Process(ProgressGauge *gauge)
{
    Processed = RunEffectPipeline(VoiceData.get(), VoiceBytes, WorkData.get(), WorkCapacity, WorkAltered, Effects,
                                  VoiceFormat.SamplesPerSec, gauge);
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
