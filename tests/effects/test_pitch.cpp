// SPDX-License-Identifier: GPL-3.0-or-later
// The delay-line pitch shifter: derived constants, the silent lead when
// raising, the first crossfade, the frequency of a shifted tone, and the
// behaviour at the edges (short clips, silence, bad arguments, progress).
#include "effects/pitch.h"

#include "tests/effects/effecttesting.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

namespace {

std::vector<int16_t> Constant(size_t n, int16_t v)
{
    return std::vector<int16_t>(n, v);
}

// Pseudo-random samples over the whole 16-bit range.
std::vector<int16_t> Noise(size_t n, uint32_t seed)
{
    std::vector<int16_t> x(n);
    for (auto &v : x) {
        seed = seed * 1103515245u + 12345u;
        v = static_cast<int16_t>(static_cast<int32_t>((seed >> 8) & 0xFFFF) - 32768);
    }
    return x;
}

// Mean period between upward zero crossings in [from, to), interpolated
// between the samples on either side of each crossing.
double MeanPeriod(const std::vector<int16_t> &x, size_t from, size_t to)
{
    double first = -1, last = -1;
    int crossings = 0;
    for (size_t i = from + 1; i < to; ++i) {
        if (x[i - 1] < 0 && x[i] >= 0) {
            const double at = (i - 1) + static_cast<double>(-x[i - 1]) / (x[i] - x[i - 1]);
            if (first < 0)
                first = at;
            last = at;
            ++crossings;
        }
    }
    return crossings > 1 ? (last - first) / (crossings - 1) : 0.0;
}

int32_t Amounts[] = {0, 1, 2, 3, 4, 5, 7, 8, 9, 10, 11, 12};

} // namespace

struct AmountConstants {
    int32_t amount;
    int32_t L, S, G, dir;
};

class PitchAmountTable : public testing::TestWithParam<AmountConstants> {};

TEST_P(PitchAmountTable, DerivesLineStepRestartAndDirection)
{
    const AmountConstants want = GetParam();
    PitchAmountSetting setting;
    ASSERT_TRUE(PitchAmountSettings(want.amount, setting));
    const PitchShiftPlan plan = DerivePitchShiftPlan(0, setting.MaxDelayMs, setting.Rate, 0.0, 1.0, 0.0);
    ASSERT_TRUE(plan.Valid);
    EXPECT_EQ(plan.L, want.L);
    EXPECT_EQ(plan.S, want.S);
    EXPECT_EQ(plan.G, want.G);
    EXPECT_EQ(plan.Dir, want.dir);
    EXPECT_EQ(plan.Dmin, 0);
    EXPECT_EQ(plan.D0, want.dir > 0 ? 0 : want.L);
    EXPECT_TRUE(plan.Steps);
}

// L = Round(35 x 22.05) = 772, Round(15 x 22.05) = 331, Round(25 x 22.05) =
// 551; S = Round(1 / |Rate|); G = L - Round(265 / S), where 265 / 2 = 132.5
// goes to the even 132.
INSTANTIATE_TEST_SUITE_P(AllTwelve, PitchAmountTable,
                         testing::Values(AmountConstants{0, 772, 3, 684, +1}, AmountConstants{1, 772, 4, 706, +1},
                                         AmountConstants{2, 772, 5, 719, +1}, AmountConstants{3, 772, 6, 728, +1},
                                         AmountConstants{4, 772, 9, 743, +1}, AmountConstants{5, 772, 18, 757, +1},
                                         AmountConstants{7, 331, 17, 315, -1}, AmountConstants{8, 331, 8, 298, -1},
                                         AmountConstants{9, 331, 5, 278, -1}, AmountConstants{10, 331, 4, 265, -1},
                                         AmountConstants{11, 551, 3, 463, -1}, AmountConstants{12, 551, 2, 419, -1}));

TEST(PitchShiftClip, AmountSixAndOutOfRangeAmountsLeaveTheClipUnchanged)
{
    const std::vector<int16_t> original = Noise(3000, 7);
    for (int32_t amount : {6, -1, 13, 100, INT32_MIN}) {
        std::vector<int16_t> x = original;
        PitchShiftClip(x.data(), static_cast<int32_t>(x.size()), amount);
        EXPECT_EQ(x, original) << "amount " << amount;
    }
}

// Raising the pitch, the taps start a whole line behind the input and glide
// towards it; the output stays 0 until they reach the first input sample.
// The lengths were counted on a constant input of 10000 with an independent
// reference of the shifter (a plain Python transcription of the algorithm);
// they are near L x S / (S + 1).
TEST(PitchShiftClip, RaisingIsSilentUntilTheTapCatchesUp)
{
    struct Case {
        int32_t amount, silent;
        int16_t firstSound;
    };
    for (const Case c : {Case{7, 312, 3529}, Case{8, 294, 7500}, Case{9, 276, 10000}, Case{10, 265, 10000},
                         Case{11, 413, 6667}, Case{12, 367, 5000}}) {
        std::vector<int16_t> x = Constant(1000, 10000);
        PitchShiftClip(x.data(), 1000, c.amount);
        for (int32_t i = 0; i < c.silent; ++i)
            ASSERT_EQ(x[i], 0) << "amount " << c.amount << " sample " << i;
        EXPECT_EQ(x[c.silent], c.firstSound) << "amount " << c.amount;
        EXPECT_EQ(x[c.silent + 1], 10000) << "amount " << c.amount;
    }
}

// Lowering, tap A starts at delay 0 (the oldest value, still 0) and glides
// over to delay 1 in S = 3 samples: 0, 10000/3, 20000/3, then the input.
TEST(PitchShiftClip, LoweringSoundsAtOnce)
{
    std::vector<int16_t> x = Constant(100, 10000);
    PitchShiftClip(x.data(), 100, 0);
    EXPECT_EQ(x[0], 0);
    EXPECT_EQ(x[1], 3333);
    EXPECT_EQ(x[2], 6667);
    for (int i = 3; i < 100; ++i)
        ASSERT_EQ(x[i], 10000) << i;
}

// Tap B starts again after G steps of S samples (684 x 3 = 2052 at amount 0,
// 419 x 2 = 838 at amount 12). Its gains change from the sample after that:
// the first faded sample is 10000 x (Sin[264] + Cos[264]) = 10000 x
// (0.9999824 + 0.0059275) = 10059.1 -> 10059 on a constant input.
TEST(PitchShiftClip, FirstCrossfadeStartsAfterGTimesSSamples)
{
    struct Case {
        int32_t amount, steady, restart;
    };
    for (const Case c : {Case{0, 3, 2052}, Case{12, 368, 838}}) {
        std::vector<int16_t> x = Constant(3000, 10000);
        PitchShiftClip(x.data(), 3000, c.amount);
        for (int32_t i = c.steady; i <= c.restart; ++i)
            ASSERT_EQ(x[i], 10000) << "amount " << c.amount << " sample " << i;
        EXPECT_EQ(x[c.restart + 1], 10059) << "amount " << c.amount;
        EXPECT_EQ(x[c.restart + 2], 10118) << "amount " << c.amount;
    }
}

// A tone with a period of 100 samples. Between crossfades the output is the
// input read at 3/2 (amount 12) or 2/3 (amount 0) of its speed.
TEST(PitchShiftClip, ToneAtAmountTwelveComesOutAtThreeHalvesItsFrequency)
{
    std::vector<int16_t> x = Tone(4000, 100.0, 12000.0);
    PitchShiftClip(x.data(), 4000, 12);
    // Restarts at 838 and 1676, each followed by 265 faded samples.
    EXPECT_NEAR(MeanPeriod(x, 1110, 1670), 100.0 / 1.5, 0.05);
    EXPECT_NEAR(MeanPeriod(x, 1950, 2510), 100.0 / 1.5, 0.05);
}

TEST(PitchShiftClip, ToneAtAmountZeroComesOutAtTwoThirdsItsFrequency)
{
    std::vector<int16_t> x = Tone(6000, 100.0, 12000.0);
    PitchShiftClip(x.data(), 6000, 0);
    // First restart at 2052, the next at 4104.
    EXPECT_NEAR(MeanPeriod(x, 10, 2050), 100.0 * 1.5, 0.05);
    EXPECT_NEAR(MeanPeriod(x, 2330, 4100), 100.0 * 1.5, 0.05);
}

TEST(PitchShiftClip, WritesNothingBeyondTheClip)
{
    for (int32_t amount : Amounts) {
        std::vector<int16_t> x = Noise(2100, 11);
        const std::vector<int16_t> tail(x.begin() + 2000, x.end());
        PitchShiftClip(x.data(), 2000, amount);
        EXPECT_EQ(std::vector<int16_t>(x.begin() + 2000, x.end()), tail) << "amount " << amount;
    }
}

// The shifter only looks back, so a clip shorter than the line comes out as
// the start of what a longer clip gives.
TEST(PitchShiftClip, ShortClipsAreTheStartOfTheLongResult)
{
    for (int32_t amount : Amounts) {
        std::vector<int16_t> whole = Noise(3000, 5);
        const std::vector<int16_t> original = whole;
        PitchShiftClip(whole.data(), 3000, amount);
        for (size_t n : {size_t{1}, size_t{2}, size_t{7}, size_t{100}, size_t{330}, size_t{771}}) {
            std::vector<int16_t> part(original.begin(), original.begin() + n);
            PitchShiftClip(part.data(), static_cast<int32_t>(n), amount);
            EXPECT_EQ(part, std::vector<int16_t>(whole.begin(), whole.begin() + n))
                << "amount " << amount << " length " << n;
        }
    }
}

TEST(PitchShiftClip, SilenceStaysSilent)
{
    for (int32_t amount : Amounts) {
        std::vector<int16_t> x(5000, 0);
        PitchShiftClip(x.data(), 5000, amount);
        EXPECT_EQ(x, std::vector<int16_t>(5000, 0)) << "amount " << amount;
    }
}

// Rate 0: the delays never move, so the line is a plain delay of L samples
// (10 ms -> Round(220.5) = 220, the half going to the even neighbour).
TEST(PitchShift, RateZeroIsAPlainDelayOfTheLine)
{
    const std::vector<int16_t> original = Noise(1000, 3);
    std::vector<int16_t> x = original;
    PitchShift(x.data(), 1000, 0, 10, 0.0, 0.0, 1.0, 0.0);
    for (int i = 0; i < 220; ++i)
        ASSERT_EQ(x[i], 0) << i;
    for (int i = 220; i < 1000; ++i)
        ASSERT_EQ(x[i], original[i - 220]) << i;
}

TEST(PitchShift, DryOnlyPassesTheInputThrough)
{
    const std::vector<int16_t> original = Noise(2000, 9);
    std::vector<int16_t> x = original;
    PitchShift(x.data(), 2000, 0, 35, -0.292893, 1.0, 0.0, 0.0);
    EXPECT_EQ(x, original);
}

TEST(PitchShift, ProgressAdvancesOnceEveryCountDivStepSamples)
{
    struct Case {
        int32_t count, step, advances;
    };
    // 1000 div 40 = 25 -> 40 advances; 1000 div 7 = 142 -> 7 (994 is the
    // last multiple); 30 div 40 = 0 -> none; step 0 or negative -> none.
    for (const Case c : {Case{1000, 40, 40}, Case{1000, 7, 7}, Case{30, 40, 0}, Case{1000, 0, 0}, Case{1000, -5, 0}}) {
        ProgressGauge gauge;
        ResetProgress(gauge, 120);
        std::vector<int16_t> x = Noise(static_cast<size_t>(c.count), 1);
        PitchShiftClip(x.data(), c.count, 12, {&gauge, c.step});
        EXPECT_EQ(gauge.Progress(), c.advances) << c.count << " / " << c.step;
    }
}

TEST(PitchShift, DegenerateArgumentsChangeNothingAndDoNotCrash)
{
    const std::vector<int16_t> original = Noise(500, 4);
    auto unchanged = [&](auto run) {
        std::vector<int16_t> x = original;
        run(x.data());
        return x == original;
    };
    EXPECT_TRUE(unchanged([](int16_t *p) { PitchShift(p, 0, 0, 35, 0.3, 0, 1, 0); }));
    EXPECT_TRUE(unchanged([](int16_t *p) { PitchShift(p, -5, 0, 35, 0.3, 0, 1, 0); }));
    EXPECT_TRUE(unchanged([](int16_t *p) { PitchShift(p, 500, 0, 0, 0.3, 0, 1, 0); }));
    EXPECT_TRUE(unchanged([](int16_t *p) { PitchShift(p, 500, 0, -35, 0.3, 0, 1, 0); }));
    EXPECT_TRUE(unchanged([](int16_t *p) { PitchShift(p, 500, 0, INT32_MAX, 0.3, 0, 1, 0); }));
    EXPECT_TRUE(unchanged([](int16_t *p) { PitchShift(p, 500, 0, 35, std::nan(""), 0, 1, 0); }));
    EXPECT_TRUE(unchanged([](int16_t *p) { PitchShift(p, 500, 0, 35, INFINITY, 0, 1, 0); }));
    EXPECT_TRUE(unchanged([](int16_t *p) { PitchShift(p, 500, 0, 35, 0.3, NAN, 1, 0); }));
    PitchShift(nullptr, 500, 0, 35, 0.3, 0, 1, 0);
    PitchShiftClip(nullptr, 500, 12);
}

// Arguments the presets never use but a caller might: they must stay inside
// the line and end.
TEST(PitchShift, OddButFiniteArgumentsStayInsideTheLine)
{
    // Rate beyond 2: S would round to 0; it is kept at 1.
    EXPECT_EQ(DerivePitchShiftPlan(0, 35, 5.0, 0, 1, 0).S, 1);
    // A tiny rate: the interval is capped instead of overflowing.
    EXPECT_EQ(DerivePitchShiftPlan(0, 35, 1e-300, 0, 1, 0).S, int64_t{1} << 31);
    // Negative and too large minimum delays are kept within 0..L.
    EXPECT_EQ(DerivePitchShiftPlan(-50, 35, 0.3, 0, 1, 0).Dmin, 0);
    EXPECT_EQ(DerivePitchShiftPlan(80, 35, 0.3, 0, 1, 0).Dmin, 772);
    // A line too short for the crossfade: G <= 0 restarts at every step.
    EXPECT_LT(DerivePitchShiftPlan(0, 1, 0.414214, 0, 1, 0).G, 0);

    // Whatever the taps do, a dry-only mix must give back the input exactly,
    // and under the sanitizers every read of the line must stay inside it.
    const std::vector<int16_t> original = Noise(3000, 2);
    for (double rate : {5.0, -5.0, 1e-300, 0.414214, -0.292893}) {
        for (int32_t minMs : {-50, 0, 3, 80}) {
            for (int32_t maxMs : {1, 2, 35}) {
                std::vector<int16_t> x = original;
                PitchShift(x.data(), 3000, minMs, maxMs, rate, 1.0, 0.0, 0.9);
                EXPECT_EQ(x, original) << rate << " " << minMs << " " << maxMs;
            }
        }
    }
}
