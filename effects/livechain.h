// SPDX-License-Identifier: GPL-3.0-or-later
// The effects that work sample after sample in order, run over a voice that
// never ends, block by block as it arrives: Echo, Chorus, Robot voice,
// Flange, Pitch, Bass Only and Treble Only, in the pipeline's order and with
// its routines, so that what comes out is sample for sample what the
// pipeline makes of the same samples as a clip.
#pragma once

#include "effects/effectset.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// The names ("Backward", "Fade In", ...) of the selected effects that need
// the whole clip and cannot run live, in the Options menu's order: Fade In,
// Fade Out, Backward, Slow Monster, Fast Squeaker, Sweep Up, Sweep Down.
std::vector<std::string> WholeClipEffectNames(const TEffectSet &effects);

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
