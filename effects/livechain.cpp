// SPDX-License-Identifier: GPL-3.0-or-later
// The live chain: the pipeline's streaming steps made for a clip as long as
// LiveChainLength, without a gauge, and the handover from one chain to
// another while the voice runs.
//
// The streams give the same samples whatever the clip length they are told,
// up to that length: Chorus, Robot voice, Flange, Pitch, Bass Only and
// Treble Only use it only for the gauge's interval (none here), and the echo
// only to know where its input ends and its repeat of the last samples
// begins. The echo's line is its delay long, not the clip's; every count
// that grows with the voice is 64 bits wide, or the echo's 32-bit position,
// which stops at LiveChainLength.
#include "effects/livechain.h"

#include "effects/delay.h"
#include "effects/filters.h"
#include "effects/liveswitch.h"
#include "effects/pitch.h"

#include <algorithm>
#include <optional>

namespace {

// The effects that need the whole clip, in the Options menu's order.
const struct {
    bool TEffectSet::*Flag;
    const char *Name;
} WholeClipEffects[] = {
    {&TEffectSet::FadeIn, "Fade In"},
    {&TEffectSet::FadeOut, "Fade Out"},
    {&TEffectSet::Backward, "Backward"},
    {&TEffectSet::SlowMonster, "Slow Monster"},
    {&TEffectSet::FastSqueaker, "Fast Squeaker"},
    {&TEffectSet::SweepUp, "Sweep Up"},
    {&TEffectSet::SweepDown, "Sweep Down"},
};

} // namespace

std::vector<std::string> WholeClipEffectNames(const TEffectSet &effects)
{
    std::vector<std::string> names;
    for (const auto &effect : WholeClipEffects) {
        if (effects.*effect.Flag)
            names.emplace_back(effect.Name);
    }
    return names;
}

TEffectSet LiveEffectsOf(TEffectSet effects)
{
    for (const auto &effect : WholeClipEffects)
        effects.*effect.Flag = false;
    return effects;
}

// Each selected step's stream, made with the pipeline's arguments for a clip
// of LiveChainLength samples in a buffer as long, and a progress step of 0.
struct TLiveChain::Streams {
    std::optional<EchoStream> echo;
    std::optional<ModulatedDelayStream> chorus;
    std::optional<ModulatedDelayStream> robot;
    std::optional<ModulatedDelayStream> flange;
    std::optional<PitchShifterStream> pitch;
    std::optional<ResonatorStream> bass;
    std::optional<ResonatorStream> treble;
};

TLiveChain::TLiveChain(const TEffectSet &effects) : streams(std::make_unique<Streams>())
{
    constexpr int32_t n = LiveChainLength;
    if (effects.Echo)
        streams->echo.emplace(n, 300, 70, 0.0, n, 0);
    if (effects.Chorus)
        streams->chorus.emplace(n, 20, 40, 20, 1.0, 0.0, 0);
    if (effects.Robotvoice)
        streams->robot.emplace(n, 12, 12, 0, 0.0, 0.75, 0);
    if (effects.Flange)
        streams->flange.emplace(n, 0, 6, 6, 0.9, 0.5, 0);
    if (effects.PitchPosition != PitchBarRest)
        streams->pitch.emplace(PitchAmountPlan(PitchBarMax - effects.PitchPosition), n, 0);
    if (effects.BassOnly)
        streams->bass.emplace(BassOnlyGains, n, true, 0);
    if (effects.TrebleOnly)
        streams->treble.emplace(TrebleOnlyGains, n, true, 0);
}

TLiveChain::~TLiveChain() = default;

void TLiveChain::Process(int16_t *samples, int32_t n)
{
    if (!samples || n <= 0)
        return;
    // In the pipeline's order; Backward, which would come between Robot
    // voice and Flange, and the fades, before Bass Only, are never here.
    Streams &s = *streams;
    if (s.echo)
        s.echo->Process(samples, n);
    if (s.chorus)
        s.chorus->Process(samples, n);
    if (s.robot)
        s.robot->Process(samples, n);
    if (s.flange)
        s.flange->Process(samples, n);
    if (s.pitch)
        s.pitch->Process(samples, n);
    if (s.bass)
        s.bass->Process(samples, n);
    if (s.treble)
        s.treble->Process(samples, n);
}

struct TLiveVoiceChain::Link {
    explicit Link(const TEffectSet &effects) : chain(effects) {}
    TLiveChain chain;
    Link *next = nullptr;
};

namespace {

// Frees a list of links.
template <typename Link> void FreeLinks(Link *link)
{
    while (link) {
        Link *const next = link->next;
        delete link;
        link = next;
    }
}

} // namespace

TLiveVoiceChain::TLiveVoiceChain(const TEffectSet &effects, uint32_t rate)
    : fadeLength(CrossfadeLength(rate)), fadeBuffer(static_cast<std::size_t>(fadeLength)), current(new Link(effects))
{
}

TLiveVoiceChain::~TLiveVoiceChain()
{
    delete current;
    delete fading;
    delete pending.load(std::memory_order_acquire);
    FreeLinks(retired.load(std::memory_order_acquire));
}

void TLiveVoiceChain::Change(const TEffectSet &effects)
{
    Link *const next = new Link(effects);
    // The chains the audio thread is done with, then the new chain in place
    // of one not yet taken. Each exchange hands what it returns to this
    // thread alone, so two Change calls at once free nothing twice.
    FreeLinks(retired.exchange(nullptr, std::memory_order_acq_rel));
    delete pending.exchange(next, std::memory_order_acq_rel);
}

void TLiveVoiceChain::Process(int16_t *samples, int32_t n)
{
    if (!samples || n <= 0)
        return;
    const int64_t start = done.load(std::memory_order_relaxed);
    if (!fading) {
        if (Link *const next = pending.exchange(nullptr, std::memory_order_acq_rel)) {
            fading = current;
            current = next;
            fadeAt = 0;
            changedAt.store(start, std::memory_order_release);
        }
    }
    if (fading) {
        // The old chain only runs over the crossfade's samples of the block.
        const int32_t m = std::min(n, fadeLength - fadeAt);
        std::copy(samples, samples + m, fadeBuffer.begin());
        fading->chain.Process(fadeBuffer.data(), m);
        current->chain.Process(samples, n);
        CrossfadeFromAt(samples, m, fadeBuffer.data(), m, fadeLength, fadeAt);
        fadeAt += m;
        if (fadeAt == fadeLength) {
            // Onto the list of chains to free; only Change takes it away,
            // all of it at once, so a push never meets a link taken off.
            fading->next = retired.load(std::memory_order_relaxed);
            while (!retired.compare_exchange_weak(fading->next, fading, std::memory_order_release,
                                                  std::memory_order_relaxed)) {
            }
            fading = nullptr;
        }
    } else {
        current->chain.Process(samples, n);
    }
    done.store(start + n, std::memory_order_release);
}
