// SPDX-License-Identifier: GPL-3.0-or-later
// The effects that work sample after sample in order, run over a voice that
// never ends, block by block as it arrives: Echo, Chorus, Robot voice,
// Flange, Pitch, Bass Only and Treble Only, in the pipeline's order and with
// its routines, so that what comes out is sample for sample what the
// pipeline makes of the same samples as a clip. TLiveVoiceChain changes the
// selection while the voice runs, with a short crossfade.
#pragma once

#include "effects/effectset.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// The names ("Backward", "Fade In", ...) of the selected effects that need
// the whole clip and cannot run live, in the Options menu's order: Fade In,
// Fade Out, Backward, Slow Monster, Fast Squeaker, Sweep Up, Sweep Down.
std::vector<std::string> WholeClipEffectNames(const TEffectSet &effects);
// The selection less the effects that need the whole clip.
TEffectSet LiveEffectsOf(TEffectSet effects);

// Samples a live chain is made for: its routines take the voice as a clip
// this long (2^31 - 1, over 27 hours at 22050 samples per second), and
// nothing they hold grows with it. Past it the echo lets the voice through
// without repeats; the other effects go on as before.
inline constexpr int32_t LiveChainLength = INT32_MAX;

// The live effects of a selection over one voice. For any split of the
// voice into blocks, the first N samples out are those RunEffectPipeline
// makes of the voice's first N samples as a clip in a working buffer of N
// samples (so the echo's repeat of the last 300 ms, which would lengthen
// the clip, is not part of it).
class TLiveChain {
public:
    // The whole-clip effects of the selection (WholeClipEffectNames) are
    // left out. Allocates everything the chain needs.
    explicit TLiveChain(const TEffectSet &effects);
    ~TLiveChain();
    TLiveChain(const TLiveChain &) = delete;
    TLiveChain &operator=(const TLiveChain &) = delete;

    // Runs the chain over the next n samples, in place. Allocates and locks
    // nothing.
    void Process(int16_t *samples, int32_t n);

private:
    struct Streams;
    std::unique_ptr<Streams> streams;
};

// A live chain whose selection may change while the voice runs through it.
// Change builds the new chain on the caller's thread and hands it over
// without a lock; Process, on the audio thread, starts it with fresh state
// at its first sample and crossfades from the old chain to the new one over
// CrossfadeLength(rate) samples (220 at 22050 Hz), with the arithmetic of
// CrossfadeFrom, over as many blocks as that takes. With K the first input
// sample of the Process call that takes the new chain (ChangedAt) and L the
// crossfade's length:
//
//   input      ... x[K-1] | x[K] ... x[K+L-1] | x[K+L] ...
//   old chain  ... y[K-1] | a[0] ... a[L-1]   |  (done)
//   new chain             | b[0] ... b[L-1]   | b[L] ...
//   output     ... y[K-1] | mix(a[i], b[i])   | b[L] ...
//
// with mix(a, b) at i = Round((a (L - i) + b i) / L), halves to even,
// clipped. Then only the new chain runs. The old chain is freed by the next
// Change (or the destructor), never on the audio thread.
//
// A Change that comes during a crossfade waits: its chain is handed over at
// the first Process call after the crossfade has ended. Of several Change
// calls before a handover only the last one's chain runs; the others are
// freed by the Change that replaces them.
class TLiveVoiceChain {
public:
    TLiveVoiceChain(const TEffectSet &effects, uint32_t rate);
    // Neither Change nor Process may run any more.
    ~TLiveVoiceChain();
    TLiveVoiceChain(const TLiveVoiceChain &) = delete;
    TLiveVoiceChain &operator=(const TLiveVoiceChain &) = delete;

    // Any thread but the audio thread, several at once if need be.
    void Change(const TEffectSet &effects);
    // The audio thread only: the next n samples of the voice, in place.
    // Allocates, frees and locks nothing.
    void Process(int16_t *samples, int32_t n);

    // Input samples processed so far. Any thread.
    int64_t SamplesDone() const { return done.load(std::memory_order_acquire); }
    // The input sample at which the last chain handed over started, -1
    // while the first chain still runs. Any thread.
    int64_t ChangedAt() const { return changedAt.load(std::memory_order_acquire); }

private:
    struct Link; // a chain, and the next one in the list of chains to free
    const int32_t fadeLength;
    std::vector<int16_t> fadeBuffer; // the old chain's output during a crossfade
    Link *current = nullptr;         // the audio thread's
    Link *fading = nullptr;          // the old chain while a crossfade lasts
    int32_t fadeAt = 0;              // samples of the crossfade done
    std::atomic<Link *> pending{nullptr};
    std::atomic<Link *> retired{nullptr}; // chains done with, for Change to free
    std::atomic<int64_t> done{0};
    std::atomic<int64_t> changedAt{-1};
};
