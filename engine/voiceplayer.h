// SPDX-License-Identifier: GPL-3.0-or-later
// Playback of the voice document's processed clip: the wave-out device, the
// two blocks streamed to it, the loop, and effect changes heard while it
// plays. Everything here runs on the owner's thread; the device's reports
// and the background runs' results come back to it through the post
// function given at construction.
//
//   Play ──> device ──done──> post ──> WaveOutDone: refill the block
//   Change ──> run (thread) ──post──> waiting clip ──> cut or reopen
//   Tick (every 100 ms) ──> position, end, loss ──> TPlayView for the window
//
// Each device (and each cut of it) has a number of its own; a report
// carries the number it was posted under, and one that is no longer current
// is dropped. The player keeps alive every clip a segment still plays and
// the clip it last handed out to be shown.
#pragma once

#include "effects/effectset.h"
#include "engine/voicedocument.h"
#include "platform/waveout.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

// Runs call on the owner's thread, later; may be called from any thread.
using TPostToOwner = std::function<void(std::function<void()> call)>;

// What a tick found, for the window to show.
struct TPlayView {
    bool Lost = false;             // the sound output went away: the device is closed
    bool HasPosition = false;      // HeardSample is valid
    int64_t HeardSample = 0;       // sample of the clip being heard
    const int16_t *Clip = nullptr; // with ClipBytes and ViewPosition: the clip to show,
    int32_t ClipBytes = 0;         //   from byte ViewPosition (one tick behind the sound)
    int32_t ViewPosition = -1;     // -1: the display stays as it is
};

class TVoicePlayer {
public:
    static constexpr int32_t PlayBlockBytes = 8096; // each of the two playback blocks

    TVoicePlayer(TVoiceDocument &document, TPostToOwner post);
    ~TVoicePlayer();
    TVoicePlayer(const TVoicePlayer &) = delete;
    TVoicePlayer &operator=(const TVoicePlayer &) = delete;

    // Streams the document's processed clip (Process has run) at rate,
    // processed with the document's selection. Empty when it plays; else
    // the text that says why the device could not be opened.
    std::string Play(uint32_t rate);
    // Silences the device at once; the next tick closes it.
    void Stop();
    // Silences the device; it stays open until Close.
    void Silence();
    // Closes the device at once without telling the owner (the owner is
    // going away).
    void Shutdown();
    // The selection changed while playing: the voice is processed again in
    // the background and the sound goes over to the new clip.
    void Change(const TEffectSet &selection);
    // The timer's playback step; only while Playing.
    TPlayView Tick();
    // Called on the owner's thread whenever the device closes (a stop, the
    // end, a loss): the window shows the voice and its length again.
    std::function<void()> WhenClosed;

    // --- State, read by the window and by tests ----------------------------
    HWAVEOUT WaveOut = nullptr; // the open device; null when none is open
    bool Playing = false;
    bool PlayFinished = true;             // all blocks done, or a stop was asked
    bool LoopPlayback = false;            // the voice plays again from its start
    uint32_t PlayingRate = 0;             // the open device's rate
    int32_t PlayViewPosition = 0;         // byte offset last handed out to be shown
    int32_t BytesQueued = 0;              // bytes of the clip handed to the device this pass
    int32_t HeadersQueued = 0;            // blocks written since playback began
    std::array<WAVEHDR, 2> WaveHeaders{}; // the two playback blocks
    TEffectSet PlayingEffects;            // the selection the clip playing was processed with
    // The processed clip a background run made, waiting for the next block.
    bool LiveClipWaiting() const { return pendingClip != nullptr; }
    // Cancels a background run and forgets a waiting clip.
    void StopLiveRun();

    // A stretch of the sound written to the device: from device byte
    // DeviceStart on, the clip Data (ClipBytes long, reversed when Backward)
    // plays from its byte ClipStart. A playback starts with one; every pass
    // of the loop and every switch to a newly processed clip adds one.
    struct TPlaySegment {
        int64_t DeviceStart = 0;
        int32_t ClipStart = 0;
        int32_t ClipBytes = 0;
        const int16_t *Data = nullptr;
        bool Backward = false;
    };

private:
    TVoiceDocument &document;
    TPostToOwner post;
    std::shared_ptr<char> alive; // posted calls run only while the player lives
    std::weak_ptr<char> aliveToken;
    std::atomic<uint64_t> reportNumber{0}; // the number reports are posted under now
    bool stopAsked = false;
    bool outputLost = false;
    int64_t deviceBytesQueued = 0;
    std::vector<TPlaySegment> segments;
    std::vector<int16_t> fadeFrom; // what the old clip would have played next
    std::array<std::unique_ptr<char[]>, 2> playBlocks;
    const int16_t *shownClip = nullptr;

    std::thread liveWorker;
    std::shared_ptr<std::atomic<bool>> liveCancel;
    uint64_t liveGeneration = 0; // a finished run counts only if no newer one started
    std::unique_ptr<int16_t[]> pendingClip;
    int32_t pendingBytes = 0;
    TEffectSet pendingEffects;
    std::vector<std::unique_ptr<int16_t[]>> retiredClips;

    static void DeviceReport(void *player, uint32_t message, uintptr_t device, intptr_t header);
    HWAVEOUT OpenDevice(uint32_t rate, MMRESULT &result);
    void ForgetReports() { reportNumber.fetch_add(1, std::memory_order_acq_rel); }
    void WaveOutDone(uint64_t number, WAVEHDR *header);
    void PrepareWaveHeader(int index);
    void QueueNextBlock(int index);
    void QueueFollowingBlock(int index);
    void ReleaseWaveHeaders();
    // Silences, releases and closes the device, and forgets its reports.
    void CloseDevice();
    void CloseWaveOut();
    const TPlaySegment &SegmentAt(int64_t deviceBytes) const;
    void StartNextPass();
    void StartLiveRun(const TEffectSet &effects);
    void CancelLiveRun();
    void LiveRunFinished(uint64_t generation, std::unique_ptr<int16_t[]> clip, int32_t bytes,
                         const TEffectSet &effects);
    void TakeWaitingClip();
    void CutToWaitingClip();
    void ReopenForWaitingClip(uint32_t rate);
    void GoOnInWaitingClip(const TPlaySegment &heard, int64_t heardAt);
    void AdoptWaitingClip(const int16_t *old, int32_t oldSamples, bool oldBackward, int32_t next);
    void PruneRetiredClips();
};
