// Effect changes heard while the voice plays, and the loop.
//
// A change of the selection while playing (a button, its menu item, the
// pitch bar) starts the pipeline again on a thread of its own, over a copy
// of the voice into a buffer of its own: the blocks the device reads and
// WorkData, from which they are refilled, are never touched. A change that
// comes while a run is still working cancels it (the run looks at its flag
// before every block) and starts the newest; the sound plays on meanwhile.
//
//   change ──> run (thread) ──posted──> waiting clip ──> cut
//
//   ... old clip, as queued │ cut: the new clip from the same point of the
//       up to the cut       │ voice, its first 10 ms fading from what the
//                           │ old clip would have played
//
// The cut is the earliest point the device can still change, a short lead
// beyond what is heard: the device drops what it holds beyond it and hands
// both blocks back, and they are written again from the new clip. Should
// the device refuse, the waiting clip takes over at the next block boundary
// instead, later but just as seamlessly.
//
// The same point is the same sample index in a clip that keeps time, the
// mirrored one when Backward is on in either clip. A clip that plays at
// another rate (Slow Monster, Fast Squeaker) cannot share the device: the
// device is opened again at the new rate and plays on from the point heard
// at that moment, with the same fade.
//
// The loop: once everything of a pass is queued, the next block starts the
// clip again from its start, until Play is pressed.
#include "app/mfunit.h"
#include "app/startupunit.h"
#include "audio/voiceformat.h"
#include "controls/qmblsbtn.h"
#include "controls/qmblwpnl.h"
#include "effects/liveswitch.h"
#include "effects/pipeline.h"

#include <QAction>
#include <QCoreApplication>

#include <algorithm>
#include <cstring>
#include <new>
#include <system_error>

namespace {

uint32_t RateFor(const TEffectSet &effects)
{
    if (effects.SlowMonster)
        return 11025;
    if (effects.FastSqueaker)
        return 44100;
    return VoiceFormat.SamplesPerSec;
}

} // namespace

void TMainForm::Loop1Click()
{
    Loop1->setChecked(!Loop1->isChecked());
    LoopPlayback = Loop1->isChecked();
    TStartup::StoreLoop(LoopPlayback);
}

void TMainForm::EffectSelectionChanged()
{
    if (!Playing || PlayFinished || !HearChangesWhilePlaying)
        return;
    StartLiveRun(CurrentEffectSet());
}

void TMainForm::StartLiveRun(const TEffectSet &effects)
{
    // An older run stops; a clip it already made may still be taken over
    // until the newer one is ready.
    CancelLiveRun();
    const uint64_t generation = ++liveGeneration;
    auto cancel = std::make_shared<std::atomic<bool>>(false);
    liveCancel = cancel;
    std::shared_ptr<const std::vector<int16_t>> voice;
    try {
        voice = std::make_shared<const std::vector<int16_t>>(VoiceData.get(), VoiceData.get() + VoiceBytes / 2);
    } catch (const std::bad_alloc &) {
        return; // the change is heard at the next Play
    }
    const int32_t capacity = WorkCapacity;
    try {
        liveWorker = std::thread([this, voice, cancel, capacity, effects, generation] {
            // Out of memory here only means that the change is heard at the
            // next Play.
            try {
                auto clip = std::make_unique<int16_t[]>(static_cast<std::size_t>(capacity / 2 + 1));
                bool altered = true; // a fresh buffer: the voice is copied in first
                const PipelineResult result =
                    RunEffectPipeline(voice->data(), static_cast<int32_t>(voice->size() * 2), clip.get(), capacity,
                                      altered, effects, VoiceFormat.SamplesPerSec, nullptr, cancel.get());
                if (cancel->load())
                    return;
                // Handed to the window as a shared holder: the posted call
                // must be copyable.
                auto made = std::make_shared<std::unique_ptr<int16_t[]>>(std::move(clip));
                QMetaObject::invokeMethod(
                    this,
                    [this, made, bytes = result.WorkBytes, effects, generation] {
                        LiveRunFinished(generation, std::move(*made), bytes, effects);
                    },
                    Qt::QueuedConnection);
            } catch (const std::bad_alloc &) {
            }
        });
    } catch (const std::system_error &) {
        liveCancel.reset();
    }
}

void TMainForm::CancelLiveRun()
{
    if (liveCancel)
        liveCancel->store(true);
    if (liveWorker.joinable())
        liveWorker.join();
    liveCancel.reset();
    ++liveGeneration; // a result already posted no longer counts
}

void TMainForm::StopLiveRun()
{
    CancelLiveRun();
    pendingClip.reset();
    pendingBytes = 0;
}

void TMainForm::LiveRunFinished(uint64_t generation, std::unique_ptr<int16_t[]> clip, int32_t bytes,
                                const TEffectSet &effects)
{
    if (generation != liveGeneration || !Playing || PlayFinished || !clip)
        return;
    if (liveWorker.joinable())
        liveWorker.join(); // its last act was to post this
    liveCancel.reset();
    pendingClip = std::move(clip);
    pendingBytes = bytes;
    pendingEffects = effects;
    const uint32_t rate = RateFor(effects);
    if (rate != PlayingRate)
        ReopenForWaitingClip(rate);
    else
        CutToWaitingClip();
}

const TMainForm::TPlaySegment &TMainForm::SegmentAt(int64_t deviceBytes) const
{
    for (auto segment = PlaySegments.rbegin(); segment != PlaySegments.rend(); ++segment)
        if (segment->DeviceStart <= deviceBytes)
            return *segment;
    return PlaySegments.front();
}

void TMainForm::QueueFollowingBlock(int index)
{
    if (BytesQueued >= WorkBytes && LoopPlayback)
        StartNextPass();
    QueueNextBlock(index);
}

void TMainForm::StartNextPass()
{
    BytesQueued = 0;
    PlaySegments.push_back(TPlaySegment{DeviceBytesQueued, 0, WorkBytes, WorkData.get(), PlayingEffects.Backward});
}

void TMainForm::TakeWaitingClip()
{
    AdoptWaitingClip(WorkData.get(), WorkBytes / 2, PlayingEffects.Backward, BytesQueued / 2);
}

void TMainForm::AdoptWaitingClip(const int16_t *old, int32_t oldSamples, bool oldBackward, int32_t next)
{
    int32_t clipStart = 0;
    if (next >= oldSamples && LoopPlayback)
        next = 0; // the next pass would start here: the new clip's pass starts instead
    else
        clipStart = 2 * MapClipIndex(next, oldSamples, oldBackward, pendingBytes / 2, pendingEffects.Backward);
    FadeFrom.assign(static_cast<std::size_t>(CrossfadeLength(PlayingRate)), 0);
    std::copy_n(old + next, std::clamp<int32_t>(oldSamples - next, 0, static_cast<int32_t>(FadeFrom.size())),
                FadeFrom.begin());
    // The old clip stays while a segment plays it or the display shows it.
    retiredClips.push_back(std::move(WorkData));
    WorkData = std::move(pendingClip);
    WorkBytes = pendingBytes;
    WorkAltered = true;
    PlayingEffects = pendingEffects;
    pendingBytes = 0;
    BytesQueued = std::min(clipStart, WorkBytes);
    PlaySegments.push_back(
        TPlaySegment{DeviceBytesQueued, BytesQueued, WorkBytes, WorkData.get(), PlayingEffects.Backward});
}

void TMainForm::CutToWaitingClip()
{
    uint32_t cut = 0;
    if (waveOutCut(WaveOut, &cut) != MMSYSERR_NOERROR)
        return; // taken at the next block boundary
    // Both blocks came back: their reports must not refill them again.
    QCoreApplication::removePostedEvents(this, TWaveOutDoneEvent::EventType);
    const TPlaySegment heard = SegmentAt(cut);
    // What was written up to the cut stays; the segments beyond it are gone.
    std::erase_if(PlaySegments, [cut](const TPlaySegment &segment) { return segment.DeviceStart >= cut; });
    DeviceBytesQueued = cut;
    GoOnInWaitingClip(heard, cut);
}

void TMainForm::ReopenForWaitingClip(uint32_t rate)
{
    // The point heard now, in the clip heard now.
    MMTIME position{};
    position.wType = TIME_BYTES;
    if (waveOutGetPosition(WaveOut, &position, sizeof(MMTIME)) != MMSYSERR_NOERROR) {
        pendingClip.reset();
        return; // the next tick finds the output gone
    }
    const auto bytes = static_cast<int64_t>(position.u.cb);
    const TPlaySegment heard = SegmentAt(bytes);

    // The new device first: when it cannot be opened, the old one plays on
    // and the change is heard at the next Play.
    WAVEFORMATEX format = PlayFormat(rate);
    HWAVEOUT device = nullptr;
    if (waveOutOpen(&device, WAVE_MAPPER, &format, this, WaveOutPost(), 0, CALLBACK_WINDOW) != MMSYSERR_NOERROR) {
        pendingClip.reset();
        return;
    }
    waveOutReset(WaveOut);
    ReleaseWaveHeaders();
    waveOutClose(WaveOut);
    QCoreApplication::removePostedEvents(this, TWaveOutDoneEvent::EventType);
    WaveOut = device;
    PlayingRate = rate;
    DeviceBytesQueued = 0;
    PlaySegments.clear();
    PrepareWaveHeader(0);
    PrepareWaveHeader(1);
    waveOutPause(WaveOut);
    GoOnInWaitingClip(heard, bytes);
    if (WaveOut)
        waveOutRestart(WaveOut);
}

void TMainForm::GoOnInWaitingClip(const TPlaySegment &heard, int64_t heardAt)
{
    const int32_t heardSamples = heard.ClipBytes / 2;
    const auto next =
        static_cast<int32_t>(std::clamp<int64_t>((heard.ClipStart + heardAt - heard.DeviceStart) / 2, 0, heardSamples));
    HeadersQueued = 0;
    DoneHeader = 0;
    AdoptWaitingClip(heard.Data, heardSamples, heard.Backward, next);
    QueueFollowingBlock(0);
    QueueFollowingBlock(1);
    // Nothing left to play: the playback ends here.
    if (HeadersQueued == 0) {
        CloseWaveOut();
        PlayFinished = true;
    }
}

void TMainForm::PruneRetiredClips()
{
    std::erase_if(retiredClips, [this](const std::unique_ptr<int16_t[]> &clip) {
        if (WaveDisplay->SampleData() == clip.get())
            return false;
        return std::none_of(PlaySegments.begin(), PlaySegments.end(),
                            [&clip](const TPlaySegment &segment) { return segment.Data == clip.get(); });
    });
}
