// SPDX-License-Identifier: GPL-3.0-or-later
// The live voice: the microphone through the effects as you speak, into the
// virtual microphone "Glimmerbox Voice", the speakers, or both.
//
//   input ──record──> chain (block by block) ──play──> "Glimmerbox Voice"
//                        ^ Change: a fresh chain     └──> speakers (through
//                          crossfaded in                 the sink's monitor)
//
// Only the effects that work sample after sample run live; the rest need a
// recorded voice and are refused. What goes out is sample for sample what
// the clip pipeline makes of what came in (from a change's sample on, after
// its crossfade, for a new selection). Keeping what came in and what went
// out, as WAVE files, shows it.
//
// The virtual microphone stays from the first start until the process
// ends, carrying silence while nothing plays into it, so that a call that
// picked it never falls back to the real microphone.
#pragma once

#include "effects/effectset.h"
#include "effects/livechain.h" // LiveEffectsOf

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

struct TLiveVoiceSettings {
    TEffectSet Effects;
    std::string Input;        // the source to record from; empty: the current input
    bool ToVirtualMic = true; // into "Glimmerbox Voice"
    bool ToSpeakers = false;  // into the current output
    std::string KeepInput;    // WAVE file of what came in; empty: not kept
    std::string KeepOutput;   // WAVE file of what went out
    uint32_t LatencyMs = 12;  // each stream's fragments, as asked of the server
};

class TLiveVoice {
public:
    // The longest a kept file grows: an hour at the voice's rate.
    static constexpr int64_t KeepLimitSamples = int64_t{3600} * 22050;

    TLiveVoice();
    ~TLiveVoice(); // Stop()
    TLiveVoice(const TLiveVoice &) = delete;
    TLiveVoice &operator=(const TLiveVoice &) = delete;

    // The text that refuses settings before anything starts, or empty: an
    // effect that needs a recorded voice, the virtual microphone as input.
    static std::string Refusal(const TLiveVoiceSettings &settings);
    // Starts the live voice. Empty when it runs; else the reason.
    std::string Start(const TLiveVoiceSettings &settings);
    // A new selection, heard after a crossfade from the next block on.
    // Empty when taken; else the reason (a whole-clip effect).
    std::string Change(const TEffectSet &effects);
    // Stops and writes the kept files; false (with the reason in error)
    // when one could not be written.
    bool Stop(std::string &error);
    bool Running() const { return running; }
    // The text of a fault that stopped the live voice (the input removed,
    // the server gone), once; empty when there was none.
    std::string TakeFailure();
    // Input samples the chain has taken, and the input sample the current
    // selection started from (0 for the first).
    int64_t SamplesIn() const;
    int64_t SelectionStartedAt() const;
    // The loudest input sample since the last call, 0..32768.
    int32_t TakeInputPeak();
    // The last count samples that went out (count at most RecentSamples),
    // oldest first, into samples; silence before the first.
    static constexpr int32_t RecentSamples = 8192;
    void RecentOutput(int16_t *samples, int32_t count) const;

private:
    struct TState;
    std::shared_ptr<TState> state;
    bool running = false;
    std::string keepInput;
    std::string keepOutput;
};
