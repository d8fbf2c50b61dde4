// SPDX-License-Identifier: GPL-3.0-or-later
// The live chain against the pipeline: over blocks of any sizes it gives
// the pipeline's clip of the same samples, and a change of selection
// crossfades from the old chain's output to the new one's.
#include "effects/livechain.h"

#include "effects/liveswitch.h"
#include "effects/pipeline.h"
#include "tests/effects/effecttesting.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <initializer_list>
#include <new>
#include <numbers>
#include <optional>
#include <random>
#include <thread>
#include <vector>

namespace {
// Calls to allocate or free made on this thread.
thread_local int64_t heapCalls = 0;
} // namespace

void *operator new(std::size_t size)
{
    ++heapCalls;
    if (void *p = std::malloc(size > 0 ? size : 1))
        return p;
    throw std::bad_alloc();
}
void operator delete(void *p) noexcept
{
    heapCalls += p ? 1 : 0;
    std::free(p);
}
void operator delete(void *p, std::size_t) noexcept
{
    operator delete(p);
}

namespace {

constexpr uint32_t Rate = 22050;
using Samples = std::vector<int16_t>;

// A glide from 80 Hz to 3 kHz whose loudness swells and ebbs, loud enough
// for the echo to clip: no stretch of it repeats.
Samples Glide(int32_t count)
{
    Samples x(static_cast<size_t>(count));
    for (int32_t i = 0; i < count; ++i) {
        const double t = static_cast<double>(i) / Rate;
        const double phase = 2 * std::numbers::pi * (80 * t + 2920 * t * t / (2.0 * count / Rate));
        x[static_cast<size_t>(i)] =
            static_cast<int16_t>(std::lround((14000 + 8000 * std::sin(4.4 * t)) * std::sin(phase)));
    }
    return x;
}

Samples ClipOf(const TEffectSet &effects, const int16_t *voice, int32_t count)
{
    Samples work(static_cast<size_t>(count));
    bool altered = true;
    RunEffectPipeline(voice, 2 * count, work.data(), 2 * count, altered, effects, Rate);
    return work;
}

// The first index where a and b differ, -1 when they are equal.
long FirstDifference(const Samples &a, const Samples &b)
{
    if (a.size() != b.size())
        return static_cast<long>(std::min(a.size(), b.size()));
    const auto at = std::mismatch(a.begin(), a.end(), b.begin()).first;
    return at == a.end() ? -1 : at - a.begin();
}

TEffectSet Set(std::initializer_list<bool TEffectSet::*> flags, int32_t pitch = PitchBarRest)
{
    TEffectSet effects;
    for (bool TEffectSet::*flag : flags)
        effects.*flag = true;
    effects.PitchPosition = pitch;
    return effects;
}

// Every effect that runs live.
TEffectSet AllLive(int32_t pitch)
{
    return Set({&TEffectSet::Echo, &TEffectSet::Chorus, &TEffectSet::Robotvoice, &TEffectSet::Flange,
                &TEffectSet::BassOnly, &TEffectSet::TrebleOnly},
               pitch);
}

// Block sizes covering total samples: size after size of the pattern, over
// and over, or (an empty pattern) sizes from 0 to 3000 drawn from a fixed seed.
std::vector<int32_t> Blocks(const std::vector<int32_t> &pattern, int32_t total)
{
    std::mt19937 draw(20240611);
    std::uniform_int_distribution<int32_t> size(0, 3000);
    std::vector<int32_t> blocks;
    for (int32_t at = 0, k = 0; at < total; ++k) {
        const int32_t n = std::min(pattern.empty() ? size(draw) : pattern[k % pattern.size()], total - at);
        blocks.push_back(n);
        at += n;
    }
    return blocks;
}

using E = TEffectSet;

TEST(LiveChain, GivesThePipelinesClipOverBlocksOfAnySize)
{
    const Samples voice = Glide(3 * Rate);
    const auto count = static_cast<int32_t>(voice.size());
    TEffectSet everything = EveryEffectOn();
    everything.PitchPosition = 3;
    const struct {
        const char *Name;
        TEffectSet Live;
        std::optional<TEffectSet> Clip = std::nullopt; // when it differs: Live without its whole-clip effects
    } cases[] = {
        {"nothing", {}},
        {"Echo", Set({&E::Echo})},
        {"Chorus", Set({&E::Chorus})},
        {"Robot voice", Set({&E::Robotvoice})},
        {"Flange", Set({&E::Flange})},
        {"Pitch 0", Set({}, 0)},
        {"Pitch 3", Set({}, 3)},
        {"Pitch 12", Set({}, 12)},
        {"Bass Only", Set({&E::BassOnly})},
        {"Treble Only", Set({&E::TrebleOnly})},
        {"Bass Only and Treble Only", Set({&E::BassOnly, &E::TrebleOnly})},
        {"Echo, Flange, Pitch 12", Set({&E::Echo, &E::Flange}, 12)},
        {"every live effect, Pitch 9", AllLive(9)},
        {"whole-clip effects left out", everything, AllLive(3)},
    };
    const std::vector<std::vector<int32_t>> patterns = {{1}, {7}, {256}, {4096}, {}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Name);
        const TEffectSet clipEffects = c.Clip.value_or(c.Live);
        const Samples clip = ClipOf(clipEffects, voice.data(), count);
        EXPECT_EQ(clip != voice, clipEffects != TEffectSet{}); // every effect changes the glide
        for (const auto &pattern : patterns) {
            SCOPED_TRACE(pattern.empty() ? 0 : pattern[0]);
            TLiveChain chain(c.Live);
            Samples live = voice;
            int32_t at = 0;
            for (int32_t n : Blocks(pattern, count)) {
                chain.Process(live.data() + at, n);
                at += n;
            }
            EXPECT_EQ(FirstDifference(live, clip), -1);
        }
    }
}

// The clip's length changes none of its earlier samples: around the echo's
// delay of 6615 samples and past the pipeline's second thread (65536).
TEST(LiveChain, ItsFirstSamplesAreThePipelinesClipOfThemAlone)
{
    const Samples voice = Glide(4 * Rate);
    for (const TEffectSet &effects : {Set({&E::Echo}), AllLive(11)}) {
        TLiveChain chain(effects);
        Samples live = voice;
        chain.Process(live.data(), static_cast<int32_t>(live.size()));
        for (int32_t n : {1, 100, 6614, 6615, 6616, 30000, 65535, 65536, 70000}) {
            SCOPED_TRACE(n);
            EXPECT_EQ(FirstDifference(Samples(live.begin(), live.begin() + n), ClipOf(effects, voice.data(), n)), -1);
        }
    }
}

TEST(LiveChain, NamesTheWholeClipEffectsInTheMenusOrder)
{
    using Names = std::vector<std::string>;
    EXPECT_EQ(WholeClipEffectNames({}), Names{});
    EXPECT_EQ(WholeClipEffectNames(Set({&E::Echo, &E::Chorus, &E::BassOnly}, 0)), Names{});
    EXPECT_EQ(WholeClipEffectNames(Set({&E::SweepDown, &E::Echo, &E::FadeOut, &E::Backward})),
              (Names{"Fade Out", "Backward", "Sweep Down"}));
    EXPECT_EQ(WholeClipEffectNames(EveryEffectOn()),
              (Names{"Fade In", "Fade Out", "Backward", "Slow Monster", "Fast Squeaker", "Sweep Up", "Sweep Down"}));
}

TEST(LiveVoiceChain, CrossfadesFromTheOldChainToTheNewAtABlockBoundary)
{
    const Samples voice = Glide(2 * Rate);
    const auto count = static_cast<int32_t>(voice.size());
    const int32_t L = CrossfadeLength(Rate);
    const TEffectSet a = Set({&E::Echo}, 3), b = Set({&E::Chorus, &E::Flange, &E::TrebleOnly}),
                     c = Set({&E::Robotvoice, &E::BassOnly}, 12);
    struct Request {
        int32_t At; // Change is called before the block that starts here
        TEffectSet Effects;
    };
    const struct {
        const char *Name;
        int32_t Block;
        TEffectSet First;
        std::vector<Request> Changes;
    } cases[] = {
        {"within one block", 256, a, {{10240, b}}},
        {"over many small blocks", 7, a, {{10500, b}}},
        {"one sample at a time", 1, a, {{10000, b}}},
        {"over three blocks", 100, a, {{10000, b}}},
        {"from nothing and back", 256, {}, {{5120, c}, {20480, {}}}},
        {"of two changes at once the later runs", 256, a, {{10240, b}, {10240, c}}},
        {"a change during a crossfade waits for its end", 100, a, {{10000, b}, {10100, c}}},
    };
    for (const auto &t : cases) {
        SCOPED_TRACE(t.Name);
        // Where each chain takes over: at the first block start at or after
        // its request once the crossfade before has ended.
        std::vector<std::pair<int32_t, TEffectSet>> handovers{{0, t.First}};
        bool waiting = false;
        TEffectSet pending;
        for (int32_t at = 0; at < count; at += t.Block) {
            for (const Request &r : t.Changes) {
                if (r.At == at) {
                    waiting = true;
                    pending = r.Effects;
                }
            }
            if (waiting && (handovers.size() == 1 || at >= handovers.back().first + L)) {
                handovers.emplace_back(at, pending);
                waiting = false;
            }
        }
        // Each chain's clip from its start; the crossfade blends the chain
        // before it, run on over the fade, into it.
        Samples expected(voice.size());
        Samples before;
        for (size_t j = 0; j < handovers.size(); ++j) {
            const int32_t k = handovers[j].first;
            const int32_t end = j + 1 < handovers.size() ? handovers[j + 1].first : count;
            const Samples clip = ClipOf(handovers[j].second, voice.data() + k, count - k);
            Samples heard = clip;
            if (j > 0)
                CrossfadeFrom(heard.data(), L, before.data() + (k - handovers[j - 1].first), L, L);
            std::copy(heard.begin(), heard.begin() + (end - k), expected.begin() + k);
            before = clip;
        }

        TLiveVoiceChain chain(t.First, Rate);
        Samples live = voice;
        size_t taken = 0; // handovers seen
        for (int32_t at = 0; at < count; at += t.Block) {
            for (const Request &r : t.Changes) {
                if (r.At == at)
                    chain.Change(r.Effects);
            }
            chain.Process(live.data() + at, std::min(t.Block, count - at));
            while (taken + 1 < handovers.size() && handovers[taken + 1].first <= at)
                ++taken;
            ASSERT_EQ(chain.ChangedAt(), taken == 0 ? -1 : handovers[taken].first);
        }
        EXPECT_EQ(chain.SamplesDone(), count);
        EXPECT_EQ(FirstDifference(live, expected), -1);
    }
}

TEST(LiveVoiceChain, TakesChangesFromAnotherThread)
{
    const Samples voice = Glide(3 * Rate);
    const auto count = static_cast<int32_t>(voice.size());
    const TEffectSet last = Set({&E::Echo, &E::Flange}, 2);
    TLiveVoiceChain chain({}, Rate);
    Samples live = voice;
    const int32_t block = 128, half = count / 2;
    std::thread changer([&] {
        for (int i = 0; chain.SamplesDone() < half; ++i)
            chain.Change(Set({i % 2 ? &E::Chorus : &E::BassOnly}, i % 13));
        chain.Change(last);
    });
    // The first half at a pace that leaves the other thread time to change
    // the chain over and over, as a sound card's blocks would.
    // Processing neither allocates nor frees, whatever the chains handed over.
    int64_t heapCallsInProcess = 0;
    auto process = [&](int32_t at, int32_t n) {
        const int64_t before = heapCalls;
        chain.Process(live.data() + at, n);
        heapCallsInProcess += heapCalls - before;
    };
    int32_t at = 0;
    for (; at < half; at += block) {
        process(at, block);
        std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
    changer.join();
    for (; at < count; at += block)
        process(at, std::min(block, count - at));
    EXPECT_EQ(heapCallsInProcess, 0);
    // After its crossfade the last chain alone, as a clip from where it began.
    const auto k = static_cast<int32_t>(chain.ChangedAt());
    const int32_t L = CrossfadeLength(Rate);
    ASSERT_GE(k, half);
    ASSERT_LT(k + L, count);
    const Samples clip = ClipOf(last, voice.data() + k, count - k);
    EXPECT_EQ(FirstDifference(Samples(live.begin() + k + L, live.end()), Samples(clip.begin() + L, clip.end())), -1);
}

} // namespace
