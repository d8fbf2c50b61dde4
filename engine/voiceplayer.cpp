// SPDX-License-Identifier: GPL-3.0-or-later
// Playback: each Play streams the processed clip to the wave-out device
// through two blocks of 8096 bytes, each refilled as soon as the device has
// finished it. Slow Monster plays the same samples at 11025 Hz, Fast
// Squeaker at 44100 Hz.
//
// A playback that runs to its end finishes over three ticks: the last
// block's report sets PlayFinished; the next tick finds the position at the
// end and resets the device; the tick after that sees the position back at 0
// and PlayFinished, and closes the device.
//
// When the sound output goes away while playing (the server stops, the
// stream is killed, the output is removed and nothing takes the stream over),
// the device refuses the next block or its position: the next tick closes it
// as a stop would and reports the loss. The next Play opens a new device,
// which works once the server is back.
//
// What the device plays is kept as segments: from device byte D on, clip C
// from its byte S. A playback starts with one segment (D = S = 0, the
// processed clip), so the device's position is the clip's position. The
// loop adds a segment (S = 0) each time the last block of a pass is queued;
// an effect changed while playing adds one where the newly processed clip
// takes over. The ticks map the device's position through the segment it is
// in: the time shown, the clip shown and the end are always those of the
// clip being heard.
//
// Effect changes while playing: the pipeline runs again on a thread of its
// own, over a copy of the voice into a buffer of its own: the blocks the
// device reads and the working clip they are refilled from are never
// touched. A change that comes while a run is still working cancels it (the
// run looks at its flag before every block) and starts the newest; the
// sound plays on meanwhile.
//
//   ... old clip, as queued │ cut: the new clip from the same point of the
//       up to the cut       │ voice, its first 10 ms fading from what the
//                           │ old clip would have played
//
// The cut is the earliest point the device can still change, a short lead
// beyond what is heard: the device drops what it holds beyond it and hands
// both blocks back, and they are written again from the new clip. Should
// the device refuse, the waiting clip takes over at the next block boundary
// instead, later but just as seamlessly. The same point is the same sample
// index in a clip that keeps time, the mirrored one when Backward is on in
// either clip. A clip that plays at another rate cannot share the device:
// the device is opened again at the new rate and plays on from the point
// heard at that moment, with the same fade.
#include "engine/voiceplayer.h"

#include "audio/voiceformat.h"
#include "effects/liveswitch.h"
#include "effects/pipeline.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <system_error>

namespace {

// waveOutOpen's answer when another program holds the device.
constexpr MMRESULT DeviceAlreadyAllocated = 4;

// The voice's own format at the rate it plays at.
WAVEFORMATEX PlayFormat(uint32_t rate)
{
    WAVEFORMATEX format{};
    format.wFormatTag = VoiceFormat.FormatTag;
    format.nChannels = VoiceFormat.Channels;
    format.nSamplesPerSec = rate;
    format.nAvgBytesPerSec = VoiceFormat.BlockAlign * rate;
    format.nBlockAlign = VoiceFormat.BlockAlign;
    format.wBitsPerSample = VoiceFormat.BitsPerSample;
    format.cbSize = 0;
    return format;
}

} // namespace

TVoicePlayer::TVoicePlayer(TVoiceDocument &document, TPostToOwner post)
    : document(document), post(std::move(post)), alive(std::make_shared<char>()), aliveToken(alive)
{
}

TVoicePlayer::~TVoicePlayer()
{
    Shutdown();
}

// Runs on the audio thread: only posts the report, under the number that
// is current now.
void TVoicePlayer::DeviceReport(void *player, uint32_t message, uintptr_t, intptr_t header)
{
    if (message != MM_WOM_DONE)
        return;
    auto *self = static_cast<TVoicePlayer *>(player);
    const uint64_t number = self->reportNumber.load(std::memory_order_acquire);
    self->post([self, token = self->aliveToken, number, done = reinterpret_cast<WAVEHDR *>(header)] {
        if (token.lock())
            self->WaveOutDone(number, done);
    });
}

HWAVEOUT TVoicePlayer::OpenDevice(uint32_t rate, MMRESULT &result)
{
    WAVEFORMATEX format = PlayFormat(rate);
    HWAVEOUT device = nullptr;
    result = waveOutOpen(&device, WAVE_MAPPER, &format, this, DeviceReport, 0, CALLBACK_WINDOW);
    return result == MMSYSERR_NOERROR ? device : nullptr;
}

std::string TVoicePlayer::Play(uint32_t rate)
{
    PlayingEffects = document.Effects;
    MMRESULT opened = MMSYSERR_NOERROR;
    WaveOut = OpenDevice(rate, opened);
    if (!WaveOut) {
        if (opened == WAVERR_BADFORMAT)
            return "Error: The Wave Output Device does not support the format required to run this program";
        if (opened == DeviceAlreadyAllocated)
            return "Error: The Wave Output Device is being used by another program";
        return "Error: Cannot open the Wave Output Device";
    }

    PlayingRate = rate;
    deviceBytesQueued = 0;
    fadeFrom.clear();
    segments.assign(1, TPlaySegment{0, 0, document.WorkBytes, document.WorkData.get(), PlayingEffects.Backward});
    shownClip = document.WorkData.get();
    PrepareWaveHeader(0);
    PrepareWaveHeader(1);
    // Both blocks are queued before the sound starts.
    waveOutPause(WaveOut);
    QueueNextBlock(0);
    QueueFollowingBlock(1);
    waveOutRestart(WaveOut);

    PlayViewPosition = 0;
    stopAsked = false;
    Playing = true;
    PlayFinished = false;
    return {};
}

void TVoicePlayer::Stop()
{
    if (!Playing)
        return;
    waveOutReset(WaveOut);
    PlayFinished = true;
    stopAsked = true;
}

void TVoicePlayer::Silence()
{
    if (Playing)
        waveOutReset(WaveOut);
}

void TVoicePlayer::Shutdown()
{
    StopLiveRun();
    // A device still playing is closed here: it must not report to an
    // owner that is gone.
    if (WaveOut) {
        CloseDevice();
        WaveOut = nullptr;
        Playing = false;
    }
}

void TVoicePlayer::PrepareWaveHeader(int index)
{
    WAVEHDR &header = WaveHeaders[index];
    header = WAVEHDR{};
    playBlocks[index] = std::make_unique<char[]>(PlayBlockBytes); // zero-filled
    header.lpData = playBlocks[index].get();
    header.dwBufferLength = PlayBlockBytes;
    waveOutPrepareHeader(WaveOut, &header, sizeof(WAVEHDR));
    header.dwFlags = WHDR_PREPARED;
}

void TVoicePlayer::QueueNextBlock(int index)
{
    const int32_t workBytes = document.WorkBytes;
    if (BytesQueued >= workBytes)
        return;
    WAVEHDR &header = WaveHeaders[index];
    int32_t filled = 0;
    // With the loop on, a block that reaches the end of a pass is filled up
    // from the start of the next one: no short block, which the device would
    // finish before the next refill could reach it.
    for (;;) {
        const int32_t n = std::min(document.WorkBytes - BytesQueued, PlayBlockBytes - filled);
        std::memcpy(header.lpData + filled, reinterpret_cast<const char *>(document.WorkData.get()) + BytesQueued, n);
        if (!fadeFrom.empty()) {
            // The first block of a newly processed clip fades in over the old.
            CrossfadeFrom(reinterpret_cast<int16_t *>(header.lpData + filled), n / 2, fadeFrom.data(),
                          static_cast<int32_t>(fadeFrom.size()), CrossfadeLength(PlayingRate));
            fadeFrom.clear();
        }
        filled += n;
        BytesQueued += n;
        deviceBytesQueued += n;
        if (filled == PlayBlockBytes || !LoopPlayback || document.WorkBytes <= 0)
            break;
        StartNextPass();
    }
    header.dwBufferLength = static_cast<uint32_t>(filled);
    if (waveOutWrite(WaveOut, &header, sizeof(WAVEHDR)) != MMSYSERR_NOERROR)
        outputLost = true;
    ++HeadersQueued;
}

void TVoicePlayer::QueueFollowingBlock(int index)
{
    if (BytesQueued >= document.WorkBytes && LoopPlayback)
        StartNextPass();
    QueueNextBlock(index);
}

void TVoicePlayer::StartNextPass()
{
    BytesQueued = 0;
    segments.push_back(
        TPlaySegment{deviceBytesQueued, 0, document.WorkBytes, document.WorkData.get(), PlayingEffects.Backward});
}

void TVoicePlayer::ReleaseWaveHeaders()
{
    for (int index = 0; index < 2; ++index) {
        waveOutUnprepareHeader(WaveOut, &WaveHeaders[index], sizeof(WAVEHDR));
        WaveHeaders[index].lpData = nullptr;
        playBlocks[index].reset();
    }
}

void TVoicePlayer::WaveOutDone(uint64_t number, WAVEHDR *header)
{
    // Reports of another device, from before a cut, or after a stop began,
    // change nothing.
    if (number != reportNumber.load(std::memory_order_acquire) || !Playing || PlayFinished)
        return;
    // A newly processed clip takes over at this block.
    if (LiveClipWaiting())
        TakeWaitingClip();

    if (BytesQueued < document.WorkBytes || LoopPlayback) {
        QueueFollowingBlock(header == &WaveHeaders[1] ? 1 : 0);
        return;
    }

    // Everything is queued: finished once each block written is done (a
    // clip of one block never writes the second).
    if (HeadersQueued > 2)
        HeadersQueued = 2;
    bool allDone = true;
    // The device sets the done flags from its own thread.
    for (int index = 0; index < HeadersQueued; ++index)
        if (!(std::atomic_ref<uint32_t>(WaveHeaders[index].dwFlags).load(std::memory_order_acquire) & WHDR_DONE))
            allDone = false;
    if (allDone) {
        PlayFinished = true;
        HeadersQueued = 0;
    }
}

void TVoicePlayer::CloseDevice()
{
    waveOutReset(WaveOut);
    ReleaseWaveHeaders();
    waveOutClose(WaveOut);
    // Reports the closed device left on their way must not reach what
    // plays next.
    ForgetReports();
}

void TVoicePlayer::CloseWaveOut()
{
    CloseDevice();
    StopLiveRun();
    PlayViewPosition = 0;
    // The owner shows the voice again before the clips it showed are freed.
    shownClip = nullptr;
    if (WhenClosed)
        WhenClosed();
    segments.clear();
    PruneRetiredClips();
    fadeFrom.clear();
    deviceBytesQueued = 0;
    WaveOut = nullptr;
    Playing = false;
    stopAsked = false;
    outputLost = false;
    BytesQueued = 0;
    HeadersQueued = 0;
}

TPlayView TVoicePlayer::Tick()
{
    TPlayView view;
    if (!Playing)
        return view;
    if (stopAsked) {
        CloseWaveOut();
        return view;
    }
    MMTIME position{};
    position.wType = TIME_SAMPLES;
    if (outputLost || waveOutGetPosition(WaveOut, &position, sizeof(MMTIME)) != MMSYSERR_NOERROR) {
        CloseWaveOut();
        PlayFinished = true;
        view.Lost = true;
        return view;
    }
    // Counted in the clip being heard.
    const int64_t heard = 2 * static_cast<int64_t>(position.u.sample);
    const TPlaySegment &heardSegment = SegmentAt(heard);
    view.HasPosition = true;
    view.HeardSample = std::max<int64_t>(0, heardSegment.ClipStart + heard - heardSegment.DeviceStart) / 2;

    position = MMTIME{};
    position.wType = TIME_BYTES;
    position.u.cb = 0;
    waveOutGetPosition(WaveOut, &position, sizeof(MMTIME));
    const auto bytes = static_cast<int64_t>(position.u.cb);
    const TPlaySegment segment = SegmentAt(bytes);
    const int64_t clipBytes = std::max<int64_t>(0, segment.ClipStart + bytes - segment.DeviceStart);
    const bool lastSegment = segment.DeviceStart == segments.back().DeviceStart;
    if (lastSegment && clipBytes >= segment.ClipBytes && !LoopPlayback) {
        // The device hands every block back as done; the next tick closes it.
        waveOutReset(WaveOut);
        return view;
    }
    // Segments the sound has left are forgotten; the clip being heard is
    // the one to show.
    while (segments.size() > 1 && segments[1].DeviceStart <= bytes)
        segments.erase(segments.begin());
    shownClip = segment.Data;
    PruneRetiredClips();
    // The display follows the sound one tick late, on whole samples.
    view.Clip = segment.Data;
    view.ClipBytes = segment.ClipBytes;
    view.ViewPosition = PlayViewPosition;
    PlayViewPosition = static_cast<int32_t>(std::min<int64_t>(clipBytes, segment.ClipBytes)) / VoiceFormat.BlockAlign *
                       VoiceFormat.BlockAlign;
    if (PlayFinished) {
        CloseWaveOut();
        return TPlayView{};
    }
    return view;
}

const TVoicePlayer::TPlaySegment &TVoicePlayer::SegmentAt(int64_t deviceBytes) const
{
    for (auto segment = segments.rbegin(); segment != segments.rend(); ++segment)
        if (segment->DeviceStart <= deviceBytes)
            return *segment;
    return segments.front();
}

// ---------------------------------------------------------------------------
// Effect changes while playing

void TVoicePlayer::Change(const TEffectSet &selection)
{
    if (!Playing || PlayFinished)
        return;
    StartLiveRun(selection);
}

void TVoicePlayer::StartLiveRun(const TEffectSet &effects)
{
    // An older run stops; a clip it already made may still be taken over
    // until the newer one is ready.
    CancelLiveRun();
    const uint64_t generation = ++liveGeneration;
    auto cancel = std::make_shared<std::atomic<bool>>(false);
    liveCancel = cancel;
    std::shared_ptr<const std::vector<int16_t>> voice;
    try {
        voice = std::make_shared<const std::vector<int16_t>>(document.PlayData(),
                                                             document.PlayData() + document.PlayBytes() / 2);
    } catch (const std::bad_alloc &) {
        return; // the change is heard at the next Play
    }
    // The clip becomes the document's working copy: it is as large. A part
    // of the voice plays as a clip of its own, no longer than itself.
    const int32_t capacity = document.WorkCapacity;
    const int32_t clipCapacity = document.PlayBytes();
    try {
        liveWorker =
            std::thread([this, voice, cancel, capacity, clipCapacity, effects, generation, token = aliveToken] {
                // Out of memory here only means that the change is heard at the
                // next Play.
                try {
                    auto clip = std::make_unique<int16_t[]>(static_cast<std::size_t>(capacity / 2 + 1));
                    bool altered = true; // a fresh buffer: the voice is copied in first
                    const PipelineResult result = RunEffectPipeline(
                        voice->data(), static_cast<int32_t>(voice->size() * 2), clip.get(), clipCapacity, altered,
                        effects, VoiceFormat.SamplesPerSec, nullptr, cancel.get());
                    if (cancel->load())
                        return;
                    // Handed over as a shared holder: the posted call must be
                    // copyable.
                    auto made = std::make_shared<std::unique_ptr<int16_t[]>>(std::move(clip));
                    post([this, token, made, bytes = result.WorkBytes, effects, generation] {
                        if (token.lock())
                            LiveRunFinished(generation, std::move(*made), bytes, effects);
                    });
                } catch (const std::bad_alloc &) {
                }
            });
    } catch (const std::system_error &) {
        liveCancel.reset();
    }
}

void TVoicePlayer::CancelLiveRun()
{
    if (liveCancel)
        liveCancel->store(true);
    if (liveWorker.joinable())
        liveWorker.join();
    liveCancel.reset();
    ++liveGeneration; // a result already posted no longer counts
}

void TVoicePlayer::StopLiveRun()
{
    CancelLiveRun();
    pendingClip.reset();
    pendingBytes = 0;
}

void TVoicePlayer::LiveRunFinished(uint64_t generation, std::unique_ptr<int16_t[]> clip, int32_t bytes,
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
    const uint32_t rate = TVoiceDocument::PlaybackRate(effects);
    if (rate != PlayingRate)
        ReopenForWaitingClip(rate);
    else
        CutToWaitingClip();
}

void TVoicePlayer::TakeWaitingClip()
{
    AdoptWaitingClip(document.WorkData.get(), document.WorkBytes / 2, PlayingEffects.Backward, BytesQueued / 2);
}

void TVoicePlayer::AdoptWaitingClip(const int16_t *old, int32_t oldSamples, bool oldBackward, int32_t next)
{
    int32_t clipStart = 0;
    if (next >= oldSamples && LoopPlayback)
        next = 0; // the next pass would start here: the new clip's pass starts instead
    else
        clipStart = 2 * MapClipIndex(next, oldSamples, oldBackward, pendingBytes / 2, pendingEffects.Backward);
    fadeFrom.assign(static_cast<std::size_t>(CrossfadeLength(PlayingRate)), 0);
    std::copy_n(old + next, std::clamp<int32_t>(oldSamples - next, 0, static_cast<int32_t>(fadeFrom.size())),
                fadeFrom.begin());
    // The old clip stays while a segment plays it or it is shown.
    retiredClips.push_back(std::move(document.WorkData));
    document.WorkData = std::move(pendingClip);
    document.WorkBytes = pendingBytes;
    document.WorkAltered = true;
    PlayingEffects = pendingEffects;
    pendingBytes = 0;
    BytesQueued = std::min(clipStart, document.WorkBytes);
    segments.push_back(TPlaySegment{deviceBytesQueued, BytesQueued, document.WorkBytes, document.WorkData.get(),
                                    PlayingEffects.Backward});
}

void TVoicePlayer::CutToWaitingClip()
{
    uint32_t cut = 0;
    if (waveOutCut(WaveOut, &cut) != MMSYSERR_NOERROR)
        return; // taken at the next block boundary
    // Both blocks came back: their reports must not refill them again.
    ForgetReports();
    const TPlaySegment heard = SegmentAt(cut);
    // What was written up to the cut stays; the segments beyond it are gone.
    std::erase_if(segments, [cut](const TPlaySegment &segment) { return segment.DeviceStart >= cut; });
    deviceBytesQueued = cut;
    GoOnInWaitingClip(heard, cut);
}

void TVoicePlayer::ReopenForWaitingClip(uint32_t rate)
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
    MMRESULT opened = MMSYSERR_NOERROR;
    HWAVEOUT device = OpenDevice(rate, opened);
    if (!device) {
        pendingClip.reset();
        return;
    }
    CloseDevice();
    WaveOut = device;
    PlayingRate = rate;
    deviceBytesQueued = 0;
    segments.clear();
    PrepareWaveHeader(0);
    PrepareWaveHeader(1);
    waveOutPause(WaveOut);
    GoOnInWaitingClip(heard, bytes);
    if (WaveOut)
        waveOutRestart(WaveOut);
}

void TVoicePlayer::GoOnInWaitingClip(const TPlaySegment &heard, int64_t heardAt)
{
    const int32_t heardSamples = heard.ClipBytes / 2;
    const auto next =
        static_cast<int32_t>(std::clamp<int64_t>((heard.ClipStart + heardAt - heard.DeviceStart) / 2, 0, heardSamples));
    HeadersQueued = 0;
    AdoptWaitingClip(heard.Data, heardSamples, heard.Backward, next);
    QueueFollowingBlock(0);
    QueueFollowingBlock(1);
    // Nothing left to play: the playback ends here.
    if (HeadersQueued == 0) {
        CloseWaveOut();
        PlayFinished = true;
    }
}

void TVoicePlayer::PruneRetiredClips()
{
    std::erase_if(retiredClips, [this](const std::unique_ptr<int16_t[]> &clip) {
        if (shownClip == clip.get())
            return false;
        return std::none_of(segments.begin(), segments.end(),
                            [&clip](const TPlaySegment &segment) { return segment.Data == clip.get(); });
    });
}
