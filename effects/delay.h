// SPDX-License-Identifier: GPL-3.0-or-later
// Delay-line effects: the echo and the modulated delay behind Chorus,
// Robot voice and Flange. Whole-clip routines, in place on 16-bit samples.
#pragma once

#include "audio/progress.h"

#include <cstdint>
#include <vector>

// Adds one repeat of the clip DelayMs later, decayed to DecayPercent, with
// optional regeneration. May lengthen the clip by the delay, never beyond
// MaxCount samples (Samples must hold MaxCount). Returns the new count.
int32_t EchoEffect(int16_t *Samples, int32_t Count, int32_t DelayMs, int32_t DecayPercent, double Regeneration,
                   int32_t MaxCount, ProgressShare progress = {});

// One interpolated tap whose delay sweeps in a triangle between MinDelayMs and
// MaxDelayMs (SweepRate ms of delay change per second; 0 = no sweep), mixed
// with DryGain of the input and fed back by Feedback.
void ModulatedDelay(int16_t *Samples, int32_t Count, int32_t MinDelayMs, int32_t MaxDelayMs, int32_t SweepRate,
                    double DryGain, double Feedback, ProgressShare progress = {});

// EchoEffect over a clip handed over in consecutive blocks: the state
// carries from one block to the next, so the blocks in order give exactly
// the whole-clip result. Length() is the clip's length afterwards (the
// blocks cover 0..Length; past Count silence goes in). progressStep is the
// Step of the whole-clip run's ProgressShare.
class EchoStream {
public:
    EchoStream(int32_t Count, int32_t DelayMs, int32_t DecayPercent, double Regeneration, int32_t MaxCount,
               int32_t progressStep);
    int32_t Length() const { return length; }
    // Processes the next n samples in place (n runs on to Length at most)
    // and returns the gauge units the whole-clip run advances over them.
    int32_t Process(int16_t *Samples, int32_t n);

private:
    int32_t count = 0;
    int32_t length = 0;
    double decay = 0.0;
    double regeneration = 0.0;
    std::vector<int16_t> line; // empty: no delay, nothing changes
    int64_t lineLength = 0;
    int64_t r = 0;
    int64_t w = 0;
    int32_t e = 0;
    int64_t nextAdvance = 0;
    int32_t i = 0; // samples done
};

// ModulatedDelay over a clip handed over in consecutive blocks, as
// EchoStream. Count is the whole clip's length.
class ModulatedDelayStream {
public:
    ModulatedDelayStream(int32_t Count, int32_t MinDelayMs, int32_t MaxDelayMs, int32_t SweepRate, double DryGain,
                         double Feedback, int32_t progressStep);
    // Processes the next n samples in place and returns the gauge units the
    // whole-clip run advances over them.
    int32_t Process(int16_t *Samples, int32_t n);

private:
    void Run(int16_t *x, int16_t *h, int32_t t, int32_t len);
    template <bool Sweeping, bool Feedback> int32_t RunFour(int16_t *x, int16_t *h, int32_t t, int32_t len);
    void One(int16_t *x, int16_t *h, int32_t t, int64_t kk);

    std::vector<int16_t> history; // empty: nothing to run
    int32_t chunk = 0;
    int32_t L = 0;
    int32_t Dmin = 0;
    bool sweeping = false;
    int64_t S = 1;
    double sD = 1.0;
    double inverseS = 1.0;
    double dryGain = 0.0;
    double feedback = 0.0;
    bool noFeedback = false;
    bool quotientShortcut = false;
    bool fourAtATime = false;
    std::vector<int16_t> weights; // (S - k, k) for k = 0 .. S - 1
    struct Noted {                // samples near a half-integer: lanes of the four from at
        int32_t at;
        int32_t k;
        int32_t lanes;
    };
    std::vector<Noted> halves;
    int32_t D = 0;
    int64_t k = 0;
    int32_t dir = +1;
    int32_t m1 = 0; // slots back the taps read
    int32_t m2 = 0;
    int32_t e = 0;
    int64_t done = 0; // samples processed
};
