// Playback: the Play button turns the voice into sound. Each time, the voice
// is run through the selected effects into WorkData, which is then streamed
// to the wave-out device through two blocks of 8096 bytes, each refilled as
// soon as the device has finished it. Slow Monster plays the same samples at
// 11025 Hz, Fast Squeaker at 44100 Hz.
//
// The device reports a finished block from its audio thread; the report is
// queued as a TWaveOutDoneEvent and handled in WaveOutDone on the
// user-interface thread, so refills and the timer's checks never overlap.
//
// A playback that runs to its end finishes over three ticks: the last
// block's report sets PlayFinished; the next tick finds the position at the
// end and resets the device; the tick after that sees the position back at 0
// and PlayFinished, and closes the device; the next puts the Play button up.
//
// When the sound output goes away while playing (the server stops, the
// stream is killed, the output is removed and nothing takes the stream over),
// the device refuses the next block or its position: the next tick closes it
// as a stop would, puts Play up, shows the voice's length and says so once.
// The next Play opens a new device, which works once the server is back.
//
// What the device plays is kept as segments: from device byte D on, clip C
// from its byte S. A playback starts with one segment (D = S = 0, the
// processed clip), so the device's position is the clip's position. The
// loop adds a segment (S = 0) each time the last block of a pass is queued;
// an effect changed while playing adds one where the newly processed clip
// takes over (app/mflive.cpp). The ticks map the device's position through
// the segment it is in: the time display, the waveform display and the end
// are always those of the clip being heard.

#include "app/mfunit.h"
#include "app/timedisplay.h"
#include "audio/voiceformat.h"
#include "controls/qmblsbtn.h"
#include "controls/qmblwpnl.h"
#include "effects/liveswitch.h"

#include <QCoreApplication>
#include <QLabel>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <new>

const QEvent::Type TWaveOutDoneEvent::EventType = static_cast<QEvent::Type>(QEvent::registerEventType());

namespace {

// waveOutOpen's answer when another program holds the device.
constexpr MMRESULT DeviceAlreadyAllocated = 4;

// Runs on the audio thread: only queues the report for the window.
void PostWaveOutMessage(void *window, uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    if (message == MM_WOM_DONE)
        QCoreApplication::postEvent(
            static_cast<QObject *>(window),
            new TWaveOutDoneEvent(reinterpret_cast<HWAVEOUT>(wParam), reinterpret_cast<WAVEHDR *>(lParam)));
}

} // namespace

PostMessageFn TMainForm::WaveOutPost()
{
    return PostWaveOutMessage;
}

uint32_t TMainForm::PlaybackRate() const
{
    if (SlowMonstButton->Down())
        return 11025;
    if (FastSqueakButton->Down())
        return 44100;
    return VoiceFormat.SamplesPerSec;
}

void TMainForm::PlayButtonClick()
{
    // The button has already flipped: up means stop, down means play.
    if (Playing) {
        waveOutReset(WaveOut);
        PlayFinished = true;
        return;
    }
    PlayVoice(PlaybackRate());
    if (!Playing)
        PlayButton->SetDown(false);
}

void TMainForm::PlayVoice(uint32_t rate)
{
    if (Recording)
        return;
    if (VoiceBytes == 0) {
        Messages().ShowMessage("There is no voice in memory, either record a voice or load one from a file on disk.");
        return;
    }
    try {
        PlayingEffects = CurrentEffectSet();
        ApplyEffects("");
    } catch (const std::bad_alloc &) {
        Messages().ShowMessage("There is not enough memory to process the voice.");
        return;
    }

    WaveOut = nullptr;
    WAVEFORMATEX format = PlayFormat(rate);
    const MMRESULT opened = waveOutOpen(&WaveOut, WAVE_MAPPER, &format, this, WaveOutPost(), 0, CALLBACK_WINDOW);
    if (opened != MMSYSERR_NOERROR) {
        WaveOut = nullptr;
        if (opened == WAVERR_BADFORMAT)
            Messages().ShowMessage(
                "Error: The Wave Output Device does not support the format required to run this program");
        else if (opened == DeviceAlreadyAllocated)
            Messages().ShowMessage("Error: The Wave Output Device is being used by another program");
        else
            Messages().ShowMessage("Error: Cannot open the Wave Output Device");
        return;
    }

    PlayingRate = rate;
    DeviceBytesQueued = 0;
    FadeFrom.clear();
    PlaySegments.assign(1, TPlaySegment{0, 0, WorkBytes, WorkData.get(), PlayingEffects.Backward});
    PrepareWaveHeader(0);
    PrepareWaveHeader(1);
    // Both blocks are queued before the sound starts.
    waveOutPause(WaveOut);
    QueueNextBlock(0);
    QueueFollowingBlock(1);
    waveOutRestart(WaveOut);

    PlayViewPosition = 0;
    Playing = true;
    PlayFinished = false;
}

// The voice's own format at the rate it plays at.
WAVEFORMATEX TMainForm::PlayFormat(uint32_t rate) const
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

void TMainForm::PlaybackLost()
{
    CloseWaveOut();
    PlayFinished = true;
    PlayButton->SetDown(false);
    Messages().ShowMessage("Playback stopped: the sound output is no longer available.");
}

void TMainForm::PrepareWaveHeader(int index)
{
    WAVEHDR &header = WaveHeaders[index];
    header = WAVEHDR{};
    playBlocks[index] = std::make_unique<char[]>(PlayBlockBytes); // zero-filled
    header.lpData = playBlocks[index].get();
    header.dwBufferLength = PlayBlockBytes;
    waveOutPrepareHeader(WaveOut, &header, sizeof(WAVEHDR));
    header.dwFlags = WHDR_PREPARED;
}

void TMainForm::QueueNextBlock(int index)
{
    if (BytesQueued >= WorkBytes)
        return;
    WAVEHDR &header = WaveHeaders[index];
    int32_t filled = 0;
    // With the loop on, a block that reaches the end of a pass is filled up
    // from the start of the next one: no short block, which the device would
    // finish before the next refill could reach it.
    for (;;) {
        const int32_t n = std::min(WorkBytes - BytesQueued, PlayBlockBytes - filled);
        std::memcpy(header.lpData + filled, reinterpret_cast<const char *>(WorkData.get()) + BytesQueued, n);
        if (!FadeFrom.empty()) {
            // The first block of a newly processed clip fades in over the old.
            CrossfadeFrom(reinterpret_cast<int16_t *>(header.lpData + filled), n / 2, FadeFrom.data(),
                          static_cast<int32_t>(FadeFrom.size()), CrossfadeLength(PlayingRate));
            FadeFrom.clear();
        }
        filled += n;
        BytesQueued += n;
        DeviceBytesQueued += n;
        if (filled == PlayBlockBytes || !LoopPlayback || WorkBytes <= 0)
            break;
        StartNextPass();
    }
    header.dwBufferLength = static_cast<uint32_t>(filled);
    if (waveOutWrite(WaveOut, &header, sizeof(WAVEHDR)) != MMSYSERR_NOERROR)
        OutputLost = true;
    ++HeadersQueued;
}

void TMainForm::ReleaseWaveHeaders()
{
    for (int index = 0; index < 2; ++index) {
        waveOutUnprepareHeader(WaveOut, &WaveHeaders[index], sizeof(WAVEHDR));
        WaveHeaders[index].lpData = nullptr;
        playBlocks[index].reset();
    }
}

void TMainForm::WaveOutDone(HWAVEOUT device, WAVEHDR *header)
{
    // Reports of another device, or after a stop began, change nothing.
    if (!Playing || PlayFinished || device != WaveOut)
        return;
    DoneHeader = 1 - DoneHeader;
    // A newly processed clip takes over at this block.
    if (LiveClipWaiting())
        TakeWaitingClip();

    if (BytesQueued < WorkBytes || LoopPlayback) {
        DoneHeader = header == &WaveHeaders[1] ? 1 : 0;
        QueueFollowingBlock(DoneHeader);
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

void TMainForm::CloseWaveOut()
{
    waveOutReset(WaveOut);
    ReleaseWaveHeaders();
    waveOutClose(WaveOut);
    // Reports the closed device left in the queue must not reach the next
    // playback, whose device may be given the same address.
    QCoreApplication::removePostedEvents(this, TWaveOutDoneEvent::EventType);
    StopLiveRun();
    PlayViewPosition = 0;
    ShowVoice();
    PlaySegments.clear();
    PruneRetiredClips();
    FadeFrom.clear();
    DeviceBytesQueued = 0;
    WaveOut = nullptr;
    Playing = false;
    OutputLost = false;
    BytesQueued = 0;
    HeadersQueued = 0;
    ShowVoiceLength();
}

void TMainForm::PlayTickStop()
{
    if (!PlayButton->Down() && Playing)
        CloseWaveOut();
}

void TMainForm::PlayTickProgress()
{
    MMTIME position{};
    position.wType = TIME_SAMPLES;
    if (OutputLost || waveOutGetPosition(WaveOut, &position, sizeof(MMTIME)) != MMSYSERR_NOERROR) {
        PlaybackLost();
        return;
    }
    // Counted in the clip being heard.
    const int64_t heard = 2 * static_cast<int64_t>(position.u.sample);
    const TPlaySegment &heardSegment = SegmentAt(heard);
    const int64_t heardSample = std::max<int64_t>(0, heardSegment.ClipStart + heard - heardSegment.DeviceStart) / 2;
    ShowPosition(PositionFromPlayedSamples(static_cast<uint32_t>(heardSample)));

    position = MMTIME{};
    position.wType = TIME_BYTES;
    position.u.cb = 0;
    waveOutGetPosition(WaveOut, &position, sizeof(MMTIME));
    const auto bytes = static_cast<int64_t>(position.u.cb);
    const TPlaySegment segment = SegmentAt(bytes);
    const int64_t clipBytes = std::max<int64_t>(0, segment.ClipStart + bytes - segment.DeviceStart);
    const bool lastSegment = segment.DeviceStart == PlaySegments.back().DeviceStart;
    if (lastSegment && clipBytes >= segment.ClipBytes && !LoopPlayback) {
        // The device hands every block back as done; the next tick closes it.
        waveOutReset(WaveOut);
        return;
    }
    // Segments the sound has left are forgotten; the display shows the clip
    // being heard.
    while (PlaySegments.size() > 1 && PlaySegments[1].DeviceStart <= bytes)
        PlaySegments.erase(PlaySegments.begin());
    if (WaveDisplay->SampleData() != segment.Data)
        WaveDisplay->SetSampleData(segment.Data, segment.ClipBytes);
    PruneRetiredClips();
    // The display follows the sound one tick late, on whole samples.
    WaveDisplay->SetStartingPosition(PlayViewPosition);
    PlayViewPosition = static_cast<int32_t>(std::min<int64_t>(clipBytes, segment.ClipBytes)) / VoiceFormat.BlockAlign *
                       VoiceFormat.BlockAlign;
    if (PlayFinished)
        CloseWaveOut();
}

void TMainForm::PlayTickIdle()
{
    if (PlayButton->Down()) {
        PlayButton->SetDown(false);
        ShowVoiceLength();
    }
}

void TMainForm::ShowPosition(int32_t position)
{
    const int32_t ms = Recording || VoiceBytes > 0 ? PositionMilliseconds(position) : 0;
    timeDisplay->setText(QString::fromStdString(PositionCaption(ms)));
}

void TMainForm::ShowVoiceLength()
{
    timeDisplay->setText(QString::fromStdString(PositionCaption(VoiceLengthMilliseconds(VoiceBytes))));
}
