// SPDX-License-Identifier: GPL-3.0-or-later
// The block streams of the pitch shifter and the modulated delay against
// the loops as they were (routinesbefore.h), over a million samples each:
// one table of routines and settings, random input of several kinds, the
// clip handed over in blocks of random length (single samples, blocks
// shorter than a delay step, blocks across the streams' own chunk edges).
// A million samples wrap every line hundreds of times, pass many restarts
// and crossfades of the shifter's taps and every turn of the sweeps.
#include "effects/delay.h"
#include "effects/filters.h"
#include "effects/pitch.h"
#include "effecttesting.h"
#include "routinesbefore.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int32_t Length = 1000000;

// Gauge units each run may add.
constexpr int32_t Units = 10;

// Full-scale noise (the mixes clip), noise a few units high with silent
// stretches (many half-integers), and bursts of a loud low tone.
std::vector<int16_t> Input(int kind, uint32_t seed)
{
    std::mt19937 random(seed);
    std::vector<int16_t> x(Length);
    if (kind == 0) {
        std::uniform_int_distribution<int> full(-32768, 32767);
        for (int16_t &v : x)
            v = static_cast<int16_t>(full(random));
    } else if (kind == 1) {
        std::uniform_int_distribution<int> hiss(-4, 4);
        for (int32_t i = 0; i < Length; ++i)
            x[static_cast<size_t>(i)] = (i / 5000) % 4 == 3 ? 0 : static_cast<int16_t>(hiss(random));
    } else {
        const std::vector<int16_t> tone = Tone(Length, 97.3, 32767);
        std::uniform_int_distribution<int> jitter(-300, 300);
        for (int32_t i = 0; i < Length; ++i)
            x[static_cast<size_t>(i)] =
                (i / 7000) % 2 ? static_cast<int16_t>(jitter(random)) : tone[static_cast<size_t>(i)];
    }
    return x;
}

// A stream's block step: the next n samples in place, the gauge units due.
using Step = std::function<int32_t(int16_t *, int32_t)>;

struct Case {
    std::string name;
    // Makes the stream for a clip of Length samples.
    std::function<Step()> stream;
    // The loop as it was, over the whole clip.
    std::function<void(int16_t *, int32_t, ProgressGauge *)> before;
};

Case Pitch(const std::string &name, const PitchShiftPlan &plan)
{
    return {name,
            [plan] {
                auto s = std::make_shared<PitchShifterStream>(plan, Length, Units);
                return Step([s](int16_t *x, int32_t n) { return s->Process(x, n); });
            },
            [plan](int16_t *x, int32_t n, ProgressGauge *g) {
                Before::RunPitchShifter(x, n, plan, {g, Units});
            }};
}

Case Delay(const std::string &name, int32_t minMs, int32_t maxMs, int32_t rate, double dry, double feedback)
{
    return {name,
            [=] {
                auto s = std::make_shared<ModulatedDelayStream>(Length, minMs, maxMs, rate, dry, feedback, Units);
                return Step([s](int16_t *x, int32_t n) { return s->Process(x, n); });
            },
            [=](int16_t *x, int32_t n, ProgressGauge *g) {
                Before::ModulatedDelay(x, n, minMs, maxMs, rate, dry, feedback, {g, Units});
            }};
}

std::vector<Case> Cases()
{
    std::vector<Case> cases;
    for (int32_t amount = 0; amount <= 12; ++amount) {
        if (amount != 6)
            cases.push_back(Pitch("pitch amount " + std::to_string(amount), PitchAmountPlan(amount)));
    }
    cases.push_back(Pitch("Sweep Up", SweepUpPlan(Length)));
    cases.push_back(Pitch("Sweep Down", SweepDownPlan(Length)));
    // Feedback and a dry part, growing and shrinking, with a smallest delay.
    cases.push_back(Pitch("pitch with feedback, shrinking", DerivePitchShiftPlan(3, 20, 0.2, 0.4, 0.8, 0.45)));
    cases.push_back(Pitch("pitch with feedback, growing", DerivePitchShiftPlan(2, 30, -0.11, 0.3, 0.9, -0.6)));
    // A step of 40 (even, no power of two) and one of 64, four at a time.
    cases.push_back(Pitch("pitch, step 40", DerivePitchShiftPlan(0, 35, -0.025, 0.0, 1.0, 0.0)));
    cases.push_back(Pitch("pitch, step 64", DerivePitchShiftPlan(0, 35, 1.0 / 64, 0.0, 1.0, 0.0)));
    // Steps past the 16-bit weights and past the reciprocal's reach.
    cases.push_back(Pitch("pitch, step 40000", DerivePitchShiftPlan(0, 10, 1.0 / 40000, 0.0, 1.0, 0.0)));
    cases.push_back(Pitch("pitch, step 2^21", DerivePitchShiftPlan(0, 10, 0x1p-21, 0.0, 1.0, 0.0)));
    // A line longer than the stream's chunk, and a rate of 0.
    cases.push_back(Pitch("pitch, line of 1.5 s", DerivePitchShiftPlan(0, 1500, 0.3, 0.0, 1.0, 0.0)));
    cases.push_back(Pitch("pitch, rate 0", DerivePitchShiftPlan(0, 20, 0.0, 0.5, 0.5, 0.25)));

    cases.push_back(Delay("Chorus", 20, 40, 20, 1.0, 0.0));
    cases.push_back(Delay("Robot voice", 12, 12, 0, 0.0, 0.75));
    cases.push_back(Delay("Flange", 0, 6, 6, 0.9, 0.5));
    cases.push_back(Delay("delay, negative rate and feedback", 0, 9, -40, 0.7, -0.8));
    cases.push_back(Delay("delay, step of one sample", 1, 5, 1000, 0.25, 0.6));
    cases.push_back(Delay("delay, no sweep, taps a sample back", 0, 1, 0, 1.0, 0.9));
    cases.push_back(Delay("delay, feedback past 16", 0, 8, 3, 0.5, 17.5));
    cases.push_back(Delay("delay, dry past 16", 0, 8, 3, -16.5, 0.2));
    cases.push_back(Delay("delay, line of 1.2 s", 100, 1200, 2, 0.8, 0.3));
    return cases;
}

} // namespace

TEST(LongRuns, StreamsInRandomBlocksMatchTheLoopsAsTheyWere)
{
    uint32_t seed = 1;
    for (const Case &c : Cases()) {
        for (int kind = 0; kind < 3; ++kind) {
            ++seed;
            const std::vector<int16_t> input = Input(kind, seed);
            std::vector<int16_t> before = input;
            CountingGauge gauge;
            c.before(before.data(), Length, &gauge);

            std::vector<int16_t> now = input;
            const Step process = c.stream();
            std::mt19937 random(seed);
            int32_t units = 0;
            for (int32_t i = 0; i < Length;) {
                // Mostly blocks up to three chunks long, now and then a
                // single sample or a few.
                const uint32_t r = random();
                const int32_t n = std::min<int32_t>(Length - i, r % 8 == 0 ? 1 + static_cast<int32_t>(r >> 8) % 5
                                                                           : 1 + static_cast<int32_t>(r >> 3) % 25000);
                units += process(now.data() + i, n);
                i += n;
            }
            const auto mismatch = std::mismatch(now.begin(), now.end(), before.begin());
            EXPECT_EQ(mismatch.first, now.end())
                << c.name << ", input " << kind << ": first difference at sample " << (mismatch.first - now.begin());
            EXPECT_EQ(units, gauge.Progress()) << c.name << ", input " << kind;
        }
    }
}
