// SPDX-License-Identifier: GPL-3.0-or-later
// Reverse and the two fades. The fades are checked against the gain written
// as an exact fraction, (i / (n - 1))² × 32767 / peak, rounded with integer
// arithmetic; samples too close to a half for that to be decisive are left
// to the hand-worked cases.
#include "effects/reverse.h"

#include "tests/effects/effecttesting.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

std::vector<int16_t> TestSignal(int32_t count, int32_t modulus)
{
    std::vector<int16_t> x(count);
    for (int32_t i = 0; i < count; ++i)
        x[i] = static_cast<int16_t>((static_cast<int64_t>(i) * 31153) % modulus - modulus / 2);
    return x;
}

// x × (pos / span)² × 32767 / peak rounded half to even, exactly. decided is
// false when the exact value lies within a millionth of a half.
int32_t ExactFade(int32_t x, int64_t pos, int64_t span, int64_t peak, bool &decided)
{
    const int64_t num = static_cast<int64_t>(std::abs(x)) * pos * pos * 32767;
    const int64_t den = span * span * peak;
    int64_t q = num / den;
    const int64_t twiceRem = 2 * (num % den);
    decided = std::llabs(twiceRem - den) * 1000000 > den;
    if (twiceRem > den || (twiceRem == den && q % 2 != 0))
        ++q;
    return static_cast<int32_t>(x < 0 ? -q : q);
}

int32_t Peak(const std::vector<int16_t> &x)
{
    int32_t peak = 0;
    for (int16_t v : x)
        peak = std::max(peak, std::abs(static_cast<int32_t>(v)));
    return peak;
}

} // namespace

TEST(Reverse, SwapsFirstAndLastAndTwiceGivesTheClipBack)
{
    const std::vector<int16_t> x = TestSignal(1001, 65536);
    std::vector<int16_t> buffer = x;
    ReverseClip(buffer.data(), 1001);
    EXPECT_EQ(buffer.front(), x.back());
    EXPECT_EQ(buffer.back(), x.front());
    for (int i = 0; i < 1001; ++i)
        ASSERT_EQ(buffer[i], x[1000 - i]);
    ReverseClip(buffer.data(), 1001);
    EXPECT_EQ(buffer, x);
}

TEST(Reverse, SingleSampleAndEmptyClipAreUnchanged)
{
    int16_t one[2] = {-1234, 77};
    ReverseClip(one, 1);
    EXPECT_EQ(one[0], -1234);
    EXPECT_EQ(one[1], 77);
    ReverseClip(one, 0);
    ReverseClip(one, -3);
    EXPECT_EQ(one[0], -1234);
}

TEST(Reverse, AdvancesGaugeOncePerInterval)
{
    std::vector<int16_t> buffer = TestSignal(1000, 1000);
    CountingGauge gauge;
    ReverseClip(buffer.data(), 1000, {&gauge, 120});
    EXPECT_EQ(gauge.Progress(), 125); // every 8th sample
}

TEST(FadeIn, PeakOf16384EndsAtFullScaleAndStartsAtZero)
{
    // Gains (i/4)² × 32767/16384: -200/16 × 1.99994 = -24.9992 → -25,
    // 300/4 × 1.99994 = 149.995 → 150, 16384 × 1.99994 = 32767.
    std::vector<int16_t> buffer = {100, -200, 300, 0, 16384};
    FadeInClip(buffer.data(), 5);
    EXPECT_EQ(buffer, (std::vector<int16_t>{0, -25, 150, 0, 32767}));
}

TEST(FadeOut, PeakOf16384StartsAtFullScaleAndEndsAtZero)
{
    std::vector<int16_t> buffer = {16384, 0, 300, -200, 100};
    FadeOutClip(buffer.data(), 5);
    EXPECT_EQ(buffer, (std::vector<int16_t>{32767, 0, 150, -25, 0}));
}

TEST(Fades, MostNegativeSampleCountsAsPeak32768AndStaysInRange)
{
    // 32767 × 32767/32768 = 32766.0000305 and -32768 × 32767/32768 = -32767.
    std::vector<int16_t> in = {-32768, 1000, 32767};
    FadeInClip(in.data(), 3);
    EXPECT_EQ(in, (std::vector<int16_t>{0, 250, 32766}));
    std::vector<int16_t> out = {-32768, 1000, 32767};
    FadeOutClip(out.data(), 3);
    EXPECT_EQ(out, (std::vector<int16_t>{-32767, 250, 0}));

    std::vector<int16_t> loud(2000);
    for (int i = 0; i < 2000; ++i)
        loud[i] = i % 3 == 0 ? -32768 : (i % 3 == 1 ? 32767 : -32767);
    std::vector<int16_t> a = loud;
    FadeInClip(a.data(), 2000);
    std::vector<int16_t> b = loud;
    FadeOutClip(b.data(), 2000);
    for (int i = 0; i < 2000; ++i) {
        ASSERT_GE(a[i], -32767) << i;
        ASSERT_GE(b[i], -32767) << i;
    }
    EXPECT_EQ(b[0], -32767);
}

TEST(Fades, FollowTheParabolicGainOnALongClip)
{
    const int32_t n = 3001;
    const std::vector<int16_t> x = TestSignal(n, 24000);
    const int32_t peak = Peak(x);
    std::vector<int16_t> in = x;
    FadeInClip(in.data(), n);
    std::vector<int16_t> out = x;
    FadeOutClip(out.data(), n);

    int undecided = 0;
    for (int32_t i = 0; i < n; ++i) {
        bool decidedIn = false;
        bool decidedOut = false;
        const int32_t expectIn = ExactFade(x[i], i, n - 1, peak, decidedIn);
        const int32_t expectOut = ExactFade(x[i], n - 1 - i, n - 1, peak, decidedOut);
        if (decidedIn) {
            ASSERT_EQ(in[i], expectIn) << "fade-in sample " << i;
        }
        if (decidedOut) {
            ASSERT_EQ(out[i], expectOut) << "fade-out sample " << i;
        }
        undecided += !decidedIn + !decidedOut;
    }
    EXPECT_LT(undecided, 20);
}

TEST(Fades, SilentClipStaysSilent)
{
    std::vector<int16_t> buffer(500, 0);
    FadeInClip(buffer.data(), 500);
    FadeOutClip(buffer.data(), 500);
    EXPECT_TRUE(std::all_of(buffer.begin(), buffer.end(), [](int16_t v) { return v == 0; }));
}

TEST(Fades, OneSampleIsUnchanged)
{
    int16_t one = 9999;
    FadeInClip(&one, 1);
    EXPECT_EQ(one, 9999);
    FadeOutClip(&one, 1);
    EXPECT_EQ(one, 9999);
}

TEST(Fades, BothInTurnSwellAndDieAway)
{
    std::vector<int16_t> buffer(101, 8000);
    FadeInClip(buffer.data(), 101);
    FadeOutClip(buffer.data(), 101);
    EXPECT_EQ(buffer.front(), 0);
    EXPECT_EQ(buffer.back(), 0);
    // After the fade-in the last sample is 32767, the new peak; the middle
    // sample had 8000 × (1/2)² × 32767/8000 = 8191.75 → 8192, then
    // 8192 × (1/2)² × 32767/32767 = 2048.
    EXPECT_EQ(buffer[50], 2048);
    EXPECT_EQ(std::max_element(buffer.begin(), buffer.end()) - buffer.begin(), 50);
}

// The fades move the gauge at every e-th sample starting with the first,
// but never more than e - 1 times: fade-in e = Count div step, fade-out
// e = (Count - 1) div step.
struct FadeProgressCase {
    int32_t count;
    int32_t fadeInAdvances;
    int32_t fadeOutAdvances;
};

class FadeProgress : public testing::TestWithParam<FadeProgressCase> {};

TEST_P(FadeProgress, AdvanceCountFollowsIntervalAndCap)
{
    const FadeProgressCase c = GetParam();
    std::vector<int16_t> buffer = TestSignal(c.count, 2000);
    CountingGauge in;
    FadeInClip(buffer.data(), c.count, {&in, 120});
    EXPECT_EQ(in.Progress(), c.fadeInAdvances);
    CountingGauge out;
    FadeOutClip(buffer.data(), c.count, {&out, 120});
    EXPECT_EQ(out.Progress(), c.fadeOutAdvances);
}

INSTANTIATE_TEST_SUITE_P(Intervals, FadeProgress,
                         testing::Values(
                             // e = 8 and 7: 120 and 138 multiples, capped at 7 and 6.
                             FadeProgressCase{960, 7, 6},
                             // e = 200: multiples 0, 200, ..., 23800 (120); e = 199: 0..23880 (121).
                             FadeProgressCase{24000, 120, 121},
                             // e = 1 and 0: a cap of 0 advances, and no interval at all.
                             FadeProgressCase{120, 0, 0}));
