// SPDX-License-Identifier: GPL-3.0-or-later
// Echo and the modulated delay, checked sample by sample against values
// worked out by hand or by a reference that tracks each tap's delay
// explicitly over the whole history instead of a circular line.
#include "effects/delay.h"

#include "tests/effects/effecttesting.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <ostream>
#include <vector>

namespace {

constexpr int32_t EchoRepeat = 6614; // 300 ms: a line of 6615, repeat one slot early
constexpr int16_t Sentinel = 12345;

int16_t Clamp16(int64_t v)
{
    return static_cast<int16_t>(std::clamp<int64_t>(v, -32768, 32767));
}

// The modulated delay written as delays rather than line indices: the tap
// at offset o reads the value stored o samples ago (o taken modulo L; 0
// reads the current input), from a history that keeps every stored value.
std::vector<int16_t> ModulatedDelayByHistory(const std::vector<int16_t> &x, int32_t L, int32_t Dmin, int32_t S,
                                             bool sweep, double dry, double feedback)
{
    std::vector<int16_t> stored;
    std::vector<int16_t> out;
    int32_t D = static_cast<int32_t>(std::nearbyint((L + Dmin) * 0.5));
    int32_t dir = 1;
    int32_t k = 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        auto tap = [&](int32_t offset) -> int64_t {
            offset = ((offset % L) + L) % L;
            if (offset == 0)
                return x[i];
            const int64_t j = static_cast<int64_t>(i) - offset;
            return j >= 0 ? stored[j] : 0;
        };
        const int64_t older = tap(D - dir);
        const int64_t newer = tap(D);
        // Summed left to right: dry part, then the older tap, then the newer.
        double sum = x[i] * dry;
        sum += static_cast<double>(older * (S - k)) / S;
        sum += static_cast<double>(newer * k) / S;
        const auto v = static_cast<int64_t>(std::nearbyint(sum));
        out.push_back(Clamp16(v));
        stored.push_back(Clamp16(static_cast<int64_t>(std::nearbyint(v * feedback + x[i]))));
        if (sweep && ++k == S) {
            k = 0;
            if (D <= Dmin)
                dir = 1;
            if (D >= L)
                dir = -1;
            D += dir;
        }
    }
    return out;
}

} // namespace

TEST(Echo, GrowsClipByExactly6615SamplesEndingInSilence)
{
    const int32_t count = 8000;
    const std::vector<int16_t> x = BusySignal(count, 20000);
    std::vector<int16_t> buffer(count + 7000, Sentinel);
    std::copy(x.begin(), x.end(), buffer.begin());

    const int32_t m = EchoEffect(buffer.data(), count, 300, 70, 0.0, count + 7000);

    ASSERT_EQ(m, count + 6615);
    for (int32_t i = 0; i < m; ++i) {
        const int32_t dry = i < count ? x[i] : 0;
        const int32_t src = i - EchoRepeat;
        const int32_t wet = src >= 0 && src < count ? SevenTenths(x[src]) : 0;
        ASSERT_EQ(buffer[i], Clamp16(dry + wet)) << "sample " << i;
    }
    EXPECT_EQ(buffer[m - 1], 0);
    for (std::size_t i = m; i < buffer.size(); ++i)
        ASSERT_EQ(buffer[i], Sentinel) << "written beyond the new length at " << i;
}

TEST(Echo, MaxCountEqualToCountKeepsLengthAndLosesTheTail)
{
    const int32_t count = 7000;
    const std::vector<int16_t> x = BusySignal(count, 30000);
    std::vector<int16_t> buffer(count + 100, Sentinel);
    std::copy(x.begin(), x.end(), buffer.begin());

    EXPECT_EQ(EchoEffect(buffer.data(), count, 300, 70, 0.0, count), count);
    for (int32_t i = 0; i < count; ++i) {
        const int32_t wet = i >= EchoRepeat ? SevenTenths(x[i - EchoRepeat]) : 0;
        ASSERT_EQ(buffer[i], Clamp16(x[i] + wet)) << "sample " << i;
    }
    for (std::size_t i = count; i < buffer.size(); ++i)
        ASSERT_EQ(buffer[i], Sentinel);
}

TEST(Echo, ClipShorterThanDelayIsUnchangedWithoutRoom)
{
    const std::vector<int16_t> x = BusySignal(1000, 60000);
    std::vector<int16_t> buffer = x;
    EXPECT_EQ(EchoEffect(buffer.data(), 1000, 300, 70, 0.0, 1000), 1000);
    EXPECT_EQ(buffer, x);
}

TEST(Echo, ClipShorterThanDelayPutsRepeatInAddedSamples)
{
    const int32_t count = 1000;
    const std::vector<int16_t> x = BusySignal(count, 60000);
    std::vector<int16_t> buffer(10000, Sentinel);
    std::copy(x.begin(), x.end(), buffer.begin());

    ASSERT_EQ(EchoEffect(buffer.data(), count, 300, 70, 0.0, 10000), count + 6615);
    for (int32_t i = 0; i < count; ++i)
        ASSERT_EQ(buffer[i], x[i]);
    for (int32_t i = count; i < EchoRepeat; ++i)
        ASSERT_EQ(buffer[i], 0) << "sample " << i;
    for (int32_t i = 0; i < count; ++i)
        ASSERT_EQ(buffer[EchoRepeat + i], SevenTenths(x[i])) << "sample " << EchoRepeat + i;
    EXPECT_EQ(buffer[count + 6614], 0);
    EXPECT_EQ(buffer[count + 6615], Sentinel);
}

// x × 0.7 lands on or next to a half for these inputs; the decay must be
// the double nearest 0.7 (70 / 100.0). With 70 × 0.01, one step larger,
// 15, 35 and 45 would echo as 11, 25 and 32.
struct TieCase {
    int16_t x;
    int16_t echoed;
};

void PrintTo(const TieCase &c, std::ostream *os)
{
    *os << c.x << " echoes as " << c.echoed;
}

class EchoDecayTies : public testing::TestWithParam<TieCase> {};

TEST_P(EchoDecayTies, RepeatUsesTheDoubleNearestSevenTenths)
{
    const TieCase c = GetParam();
    std::vector<int16_t> buffer(EchoRepeat + 1, 0);
    buffer[0] = c.x;
    EchoEffect(buffer.data(), EchoRepeat + 1, 300, 70, 0.0, EchoRepeat + 1);
    EXPECT_EQ(buffer[0], c.x);
    EXPECT_EQ(buffer[EchoRepeat], c.echoed);
}

// Products and their rounding worked out in Python (IEEE doubles, round()
// halves to even): 5×0.7 = 3.5 → 4, 15×0.7 = 10.5 → 10, 25×0.7 = 17.5 → 18,
// 35×0.7 = 24.5 → 24, 45×0.7 = 31.499999999999996 → 31, 1005×0.7 = 703.5
// → 704, -15×0.7 = -10.5 → -10.
INSTANTIATE_TEST_SUITE_P(HalfWayProducts, EchoDecayTies,
                         testing::Values(TieCase{5, 4}, TieCase{15, 10}, TieCase{25, 18}, TieCase{35, 24},
                                         TieCase{45, 31}, TieCase{1005, 704}, TieCase{-15, -10}));

TEST(Echo, LoudClipIsClippedNeverWrapped)
{
    std::vector<int16_t> buffer(EchoRepeat + 2, 0);
    buffer[0] = 30000;
    buffer[1] = -30000;
    buffer[EchoRepeat] = 30000;
    buffer[EchoRepeat + 1] = -30000;
    EchoEffect(buffer.data(), EchoRepeat + 2, 300, 70, 0.0, EchoRepeat + 2);
    EXPECT_EQ(buffer[EchoRepeat], 32767);      // 30000 + 21000
    EXPECT_EQ(buffer[EchoRepeat + 1], -32768); // -30000 - 21000
}

TEST(Echo, RegenerationRepeatsAndDecaysFurther)
{
    std::vector<int16_t> buffer(3 * EchoRepeat + 10, 0);
    buffer[0] = 10000;
    EchoEffect(buffer.data(), static_cast<int32_t>(buffer.size()), 300, 70, 0.5, static_cast<int32_t>(buffer.size()));
    // Stored at 0: 10000 × 0.5 + 10000 = 15000; at 6614 the output is
    // 15000 × 0.7 = 10500 and 10500 × 0.5 = 5250 is stored; at 13228 the
    // output is Round(5250 × 0.7 = 3674.9999999999995) = 3675.
    EXPECT_EQ(buffer[0], 10000);
    EXPECT_EQ(buffer[EchoRepeat], 10500);
    EXPECT_EQ(buffer[2 * EchoRepeat], 3675);
    // 3675 × 0.5 = 1837.5 stored as 1838 (half to even), 1838 × 0.7 = 1286.6.
    EXPECT_EQ(buffer[3 * EchoRepeat], 1287);
    int nonZero = 0;
    for (int16_t v : buffer)
        nonZero += v != 0;
    EXPECT_EQ(nonZero, 4);
}

TEST(Echo, RegeneratedValueIsStoredAsItsLow16Bits)
{
    std::vector<int16_t> buffer(EchoRepeat + 1, 0);
    buffer[0] = 30000;
    EchoEffect(buffer.data(), EchoRepeat + 1, 300, 70, 1.0, EchoRepeat + 1);
    // 30000 + 30000 = 60000 is stored as 60000 - 65536 = -5536, which
    // echoes as Round(-3875.2) = -3875.
    EXPECT_EQ(buffer[EchoRepeat], -3875);
}

TEST(Echo, AdvancesGaugeEveryEighthSampleOfTheResult)
{
    const std::vector<int16_t> x = BusySignal(1000, 1000);

    CountingGauge same; // 1000 div 120 = 8
    std::vector<int16_t> buffer = x;
    EchoEffect(buffer.data(), 1000, 300, 70, 0.0, 1000, {&same, 120});
    EXPECT_EQ(same.Progress(), 125);

    CountingGauge grown;
    buffer = x;
    buffer.resize(8000);
    EchoEffect(buffer.data(), 1000, 300, 70, 0.0, 8000, {&grown, 120});
    EXPECT_EQ(grown.Progress(), 7615 / 8);
}

TEST(Echo, NoDelayOrNoSamplesLeavesTheClip)
{
    const std::vector<int16_t> x = BusySignal(500, 30000);
    std::vector<int16_t> buffer = x;
    EXPECT_EQ(EchoEffect(buffer.data(), 500, 0, 70, 0.0, 500), 500);
    EXPECT_EQ(EchoEffect(buffer.data(), 500, -300, 70, 0.0, 500), 500);
    EXPECT_EQ(buffer, x);
    EXPECT_EQ(EchoEffect(buffer.data(), 0, 300, 70, 0.0, 0), 0);
    EXPECT_EQ(EchoEffect(buffer.data(), -5, 300, 70, 0.0, 0), 0);
    EXPECT_EQ(buffer, x);
}

TEST(Echo, HugeDelayOnlyPadsWithSilenceWithinMaxCount)
{
    const std::vector<int16_t> x = BusySignal(500, 30000);
    std::vector<int16_t> buffer(600, Sentinel);
    std::copy(x.begin(), x.end(), buffer.begin());
    EXPECT_EQ(EchoEffect(buffer.data(), 500, INT32_MAX, 70, 0.0, 550), 550);
    EXPECT_TRUE(std::equal(x.begin(), x.end(), buffer.begin()));
    for (int i = 500; i < 550; ++i)
        ASSERT_EQ(buffer[i], 0);
    EXPECT_EQ(buffer[550], Sentinel);
}

TEST(RobotVoice, ClickRepeatsEvery264SamplesDecayingByThreeQuarters)
{
    std::vector<int16_t> buffer(1100, 0);
    buffer[0] = 20000;
    ModulatedDelay(buffer.data(), 1100, 12, 12, 0, 0.0, 0.75);
    // 20000, 15000, 11250, then 8437.5 rounds to the even 8438.
    std::vector<int16_t> expected(1100, 0);
    expected[264] = 20000;
    expected[528] = 15000;
    expected[792] = 11250;
    expected[1056] = 8438;
    EXPECT_EQ(buffer, expected);
}

TEST(RobotVoice, SilenceStaysSilent)
{
    std::vector<int16_t> buffer(3000, 0);
    ModulatedDelay(buffer.data(), 3000, 12, 12, 0, 0.0, 0.75);
    EXPECT_TRUE(std::all_of(buffer.begin(), buffer.end(), [](int16_t v) { return v == 0; }));
}

TEST(RobotVoice, FeedbackIntoTheLineIsClippedNotWrapped)
{
    std::vector<int16_t> buffer(800, 0);
    buffer[0] = 30000;
    buffer[264] = 30000;
    buffer[1] = -30000;
    buffer[265] = -30000;
    ModulatedDelay(buffer.data(), 800, 12, 12, 0, 0.0, 0.75);
    // Stored at 264: 30000 × 0.75 + 30000 = 52500, clipped to 32767; it
    // comes out at 528 and feeds back Round(24575.25) = 24575 for 792.
    EXPECT_EQ(buffer[264], 30000);
    EXPECT_EQ(buffer[528], 32767);
    EXPECT_EQ(buffer[792], 24575);
    EXPECT_EQ(buffer[265], -30000);
    EXPECT_EQ(buffer[529], -32768);
    EXPECT_EQ(buffer[793], -24576);
}

TEST(Chorus, TapReturnsTheCurrentInputAtTheTopOfItsSweep)
{
    // The delay starts at 662 and climbs one sample every 50: it reaches
    // 882 (the slot being written) after sample 10999, and turns back after
    // sample 11049. A burst at 11000..11099 meets nothing in the line 881
    // samples back, so only the current input feeds the tap.
    std::vector<int16_t> buffer(11200, 0);
    std::fill(buffer.begin() + 11000, buffer.begin() + 11100, 1000);
    ModulatedDelay(buffer.data(), 11200, 20, 40, 20, 1.0, 0.0);
    for (int i = 0; i < 11000; ++i)
        ASSERT_EQ(buffer[i], 0);
    for (int k = 0; k < 50; ++k) {
        ASSERT_EQ(buffer[11000 + k], 1000 + 20 * k) << "weight k/50 on the current input";
        ASSERT_EQ(buffer[11050 + k], 2000 - 20 * k) << "weight (50-k)/50 on the current input";
    }
}

TEST(Flange, MatchesAReferenceThatTracksTheDelayExplicitly)
{
    const int32_t count = 40000; // long enough to turn at both ends of 0..132
    std::vector<int16_t> x(count);
    for (int32_t i = 0; i < count; ++i)
        x[i] = static_cast<int16_t>((static_cast<int64_t>(i) * 31153) % 40000 - 20000);
    std::vector<int16_t> buffer = x;
    ModulatedDelay(buffer.data(), count, 0, 6, 6, 0.9, 0.5);

    const std::vector<int16_t> reference = ModulatedDelayByHistory(x, 132, 0, 167, true, 0.9, 0.5);
    for (int32_t i = 0; i < count; ++i)
        ASSERT_EQ(buffer[i], reference[i]) << "sample " << i;

    // Spot values from a separate Python model of the same rules.
    const std::pair<int, int16_t> python[] = {
        {0, -18000},    {1, 10038},    {65, -13262},   {66, -5192},    {67, -2984},     {100, 7466},    {131, -19785},
        {132, 2856},    {133, -3328},  {166, 11176},   {167, -15874},  {500, -11906},   {5000, -24776}, {11022, -18830},
        {11023, 32767}, {12425, 6549}, {20000, 17832}, {33066, 10866}, {39999, -25671},
    };
    for (const auto &[i, v] : python)
        EXPECT_EQ(buffer[i], v) << "sample " << i;
}

TEST(ModulatedDelay, ChorusAndRobotMatchTheReferenceOnABusySignal)
{
    const std::vector<int16_t> x = BusySignal(30000, 50000);
    std::vector<int16_t> chorus = x;
    ModulatedDelay(chorus.data(), 30000, 20, 40, 20, 1.0, 0.0);
    EXPECT_EQ(chorus, ModulatedDelayByHistory(x, 882, 441, 50, true, 1.0, 0.0));

    std::vector<int16_t> robot = x;
    ModulatedDelay(robot.data(), 30000, 12, 12, 0, 0.0, 0.75);
    EXPECT_EQ(robot, ModulatedDelayByHistory(x, 265, 265, 1, false, 0.0, 0.75));
}

TEST(ModulatedDelay, AdvancesGaugeOncePerIntervalOfTheClip)
{
    std::vector<int16_t> buffer = BusySignal(1000, 1000);
    CountingGauge gauge;
    ModulatedDelay(buffer.data(), 1000, 0, 6, 6, 0.9, 0.5, {&gauge, 120});
    EXPECT_EQ(gauge.Progress(), 125);

    CountingGauge idle; // a gauge but no units: no interval, no division
    ModulatedDelay(buffer.data(), 1000, 0, 6, 6, 0.9, 0.5, {&idle, 0});
    EXPECT_EQ(idle.Progress(), 0);
}

TEST(ModulatedDelay, EmptyLineOrOversizedLineLeavesTheClip)
{
    const std::vector<int16_t> x = BusySignal(2000, 30000);
    std::vector<int16_t> buffer = x;
    ModulatedDelay(buffer.data(), 2000, 0, 0, 6, 0.9, 0.5);
    ModulatedDelay(buffer.data(), 2000, 0, -40, 6, 0.9, 0.5);
    ModulatedDelay(buffer.data(), 2000, 0, INT32_MAX, 6, 0.9, 0.5);
    EXPECT_EQ(buffer, x);
}

TEST(ModulatedDelay, MinimumAboveMaximumBehavesAsAFixedDelayAtTheMaximum)
{
    const std::vector<int16_t> x = BusySignal(3000, 30000);
    std::vector<int16_t> swapped = x;
    ModulatedDelay(swapped.data(), 3000, 50, 12, 0, 0.0, 0.75);
    std::vector<int16_t> fixed = x;
    ModulatedDelay(fixed.data(), 3000, 12, 12, 0, 0.0, 0.75);
    EXPECT_EQ(swapped, fixed);
}

TEST(ModulatedDelay, SweepTooFastForTheLineStepsEverySample)
{
    // Rate 5000 would give an interval of Round(0.2) = 0 samples; it moves
    // the delay once per sample instead of dividing by zero.
    const std::vector<int16_t> x = BusySignal(3000, 30000);
    std::vector<int16_t> buffer = x;
    ModulatedDelay(buffer.data(), 3000, 0, 6, 5000, 0.9, 0.5);
    EXPECT_EQ(buffer, ModulatedDelayByHistory(x, 132, 0, 1, true, 0.9, 0.5));
}
