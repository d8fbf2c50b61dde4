// SPDX-License-Identifier: GPL-3.0-or-later
// The six-byte real: rounding of extended-precision values to a 40-bit
// significand with halves away from zero, the exponent range, and the bytes
// of the stored form.
#include "effects/real48.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace {

long double Pow2(int e)
{
    return std::ldexp(1.0L, e);
}

std::array<uint8_t, 6> B(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3, uint8_t b4, uint8_t b5)
{
    return {b0, b1, b2, b3, b4, b5};
}

} // namespace

// The last kept unit of a 40-bit significand at 1.0 is 2^-39, so 2^-40 is
// exactly half of it. Half-to-even would give 1.0 here; this format goes away
// from zero.
TEST(Real48, ExactHalfOfLastUnitRoundsAwayFromZero)
{
    EXPECT_EQ(Real48::Round(1.0L + Pow2(-40)), 1.0L + Pow2(-39));
    EXPECT_EQ(Real48::Round(-(1.0L + Pow2(-40))), -(1.0L + Pow2(-39)));
    // With an odd last kept bit the tie goes up as well.
    EXPECT_EQ(Real48::Round(1.0L + Pow2(-39) + Pow2(-40)), 1.0L + Pow2(-38));
    EXPECT_EQ(Real48::Round(-(1.0L + Pow2(-39) + Pow2(-40))), -(1.0L + Pow2(-38)));
}

TEST(Real48, JustBelowAndAboveATie)
{
    // 2^-63 is the last bit of the extended significand at 1.0.
    EXPECT_EQ(Real48::Round(1.0L + Pow2(-40) - Pow2(-63)), 1.0L);
    EXPECT_EQ(Real48::Round(1.0L + Pow2(-40) + Pow2(-63)), 1.0L + Pow2(-39));
    EXPECT_EQ(Real48::Round(-(1.0L + Pow2(-40) - Pow2(-63))), -1.0L);
    EXPECT_EQ(Real48::Round(-(1.0L + Pow2(-40) + Pow2(-63))), -(1.0L + Pow2(-39)));
}

TEST(Real48, NegativeValuesRoundLikeTheirMagnitude)
{
    // 1/3 = 1.0101...b x 2^-2: the first dropped bit (fraction bit 40) is 1
    // and more ones follow, so it rounds up to 0x1.5555555556p-2.
    // 1/7 = 1.001001...b x 2^-3: fraction bit 40 is 0, so it is cut to
    // 0x1.2492492492p-3.
    const long double third = 1.0L / 3.0L;
    const long double seventh = 1.0L / 7.0L;
    EXPECT_EQ(Real48::Round(third), 0x1.5555555556p-2L);
    EXPECT_EQ(Real48::Round(-third), -0x1.5555555556p-2L);
    EXPECT_EQ(Real48::Round(seventh), 0x1.2492492492p-3L);
    EXPECT_EQ(Real48::Round(-seventh), -0x1.2492492492p-3L);
}

TEST(Real48, ValuesBelowTwoToTheMinus128BecomeZero)
{
    EXPECT_EQ(Real48::Round(Pow2(-128)), Pow2(-128));
    EXPECT_EQ(Real48::Round(-Pow2(-128)), -Pow2(-128));
    EXPECT_EQ(Real48::Round(Pow2(-129)), 0.0L);
    EXPECT_EQ(Real48::Round(-Pow2(-129)), 0.0L);
    EXPECT_EQ(Real48::Round(Pow2(-1000)), 0.0L);
    // The largest 40-bit value below 2^-128 is itself too small...
    EXPECT_EQ(Real48::Round(Pow2(-128) - Pow2(-168)), 0.0L);
    // ...but one that rounds up to 2^-128 is kept.
    EXPECT_EQ(Real48::Round(Pow2(-128) - Pow2(-192)), Pow2(-128));
    EXPECT_EQ(Real48::Round(0.0L), 0.0L);
    EXPECT_FALSE(std::signbit(Real48::Round(-0.0L)));
}

TEST(Real48, IntegersUpToTwoToThe40StayExact)
{
    for (long double v : {1.0L, 2.0L, 3.0L, 32767.0L, -32768.0L, 65535.0L, 1099511627775.0L /* 2^40 - 1 */,
                          -1099511627775.0L, 1099511627776.0L /* 2^40 */}) {
        EXPECT_EQ(Real48::Round(v), v) << static_cast<double>(v);
    }
    // 2^40 + 1 needs 41 bits: its last bit is a tie and goes away from zero.
    EXPECT_EQ(Real48::Round(1099511627777.0L), 1099511627778.0L);
    EXPECT_EQ(Real48::Round(-1099511627777.0L), -1099511627778.0L);
}

TEST(Real48, RoundingUpCarriesIntoTheNextPowerOfTwo)
{
    // 2 - 2^-41 is 1.111...1 with 41 ones after the point: rounding adds one
    // unit at bit 39 and the significand overflows to 2.0.
    EXPECT_EQ(Real48::Round(2.0L - Pow2(-41)), 2.0L);
    EXPECT_EQ(Real48::Round(-(2.0L - Pow2(-41))), -2.0L);
    // All 64 significand bits set.
    EXPECT_EQ(Real48::Round(2.0L - Pow2(-63)), 2.0L);
    EXPECT_EQ(Real48::Round(1024.0L - Pow2(-40)), 1024.0L);
    // 2 - 2^-40 is 40 ones: representable, no carry.
    EXPECT_EQ(Real48::Round(2.0L - Pow2(-39)), 2.0L - Pow2(-39));
}

TEST(Real48, OutOfRangeSaturatesAndNaNBecomesZero)
{
    const long double max = Real48::MaxMagnitude();
    EXPECT_EQ(max, (2.0L - Pow2(-39)) * Pow2(126));
    EXPECT_EQ(Real48::Round(Pow2(127)), max);
    EXPECT_EQ(Real48::Round(-Pow2(200)), -max);
    EXPECT_EQ(Real48::Round(HUGE_VALL), max);
    EXPECT_EQ(Real48::Round(-HUGE_VALL), -max);
    EXPECT_EQ(Real48::Round(std::nanl("")), 0.0L);
    // Just below 2^127, rounding would carry out of the range.
    EXPECT_EQ(Real48::Round(Pow2(127) - Pow2(127 - 64)), max);
}

// The coefficient table and the 1.3 gain as stored. The expected values are
// the decimal constants rounded directly to 40 significand bits with exact
// rational arithmetic (Python fractions, halves away from zero), written as
// hexadecimal floating literals.
TEST(Real48, CoefficientConstantsStoredValues)
{
    struct Case {
        long double decimal;
        double stored;
    };
    const Case cases[] = {
        {0.01403808L, 0x1.cbfff33fd4p-7}, {0.97192384L, 0x1.f1a0006602p-1}, {1.9717237L, 0x1.f8c2e2684p+0},
        {0.12408852L, 0x1.fc443e7358p-4}, {0.75182298L, 0x1.80eef10ef6p-1}, {1.7341323L, 0x1.bbf0182b7p+0},
        {0.24761712L, 0x1.fb1eaf42a4p-3}, {0.50476578L, 0x1.0270a90a7ap-1}, {1.2787512L, 0x1.475c3d17b8p+0},
        {0.32063878L, 0x1.48558847b8p-2}, {0.35872244L, 0x1.6f54ef709p-2},  {0.44391324L, 0x1.c69131403ep-2},
        {1.3L, 0x1.4ccccccccc0p+0},
    };
    for (const Case &c : cases)
        EXPECT_EQ(Real48(c.decimal).Value(), c.stored) << static_cast<double>(c.decimal);
}

// Byte layout: exponent byte (bias 129), then the 39-bit fraction least
// significant byte first, the sign in the top bit of the last byte.
TEST(Real48, StoredBytes)
{
    EXPECT_EQ(Real48(0.0L).Bytes(), B(0, 0, 0, 0, 0, 0));
    EXPECT_EQ(Real48(1.0L).Bytes(), B(0x81, 0, 0, 0, 0, 0));
    EXPECT_EQ(Real48(-1.5L).Bytes(), B(0x81, 0, 0, 0, 0, 0xC0));
    EXPECT_EQ(Real48(0.5L).Bytes(), B(0x80, 0, 0, 0, 0, 0));
    EXPECT_EQ(Real48(10.0L).Bytes(), B(0x84, 0, 0, 0, 0, 0x20)); // 1.25 x 2^3
    EXPECT_EQ(Real48(Pow2(-128)).Bytes(), B(0x01, 0, 0, 0, 0, 0));
    EXPECT_EQ(Real48(Real48::MaxMagnitude()).Bytes(), B(0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F));
    // 1 + 2^-39: only the lowest fraction bit.
    EXPECT_EQ(Real48(1.0L + Pow2(-39)).Bytes(), B(0x81, 0x01, 0, 0, 0, 0));
    // 1.3 = 0x1.4CCCCCCCCC: fraction 0x2666666666 (39 bits).
    EXPECT_EQ(Real48(1.3L).Bytes(), B(0x81, 0x66, 0x66, 0x66, 0x66, 0x26));
}

TEST(Real48, BytesRoundTrip)
{
    for (long double v : {0.0L, 1.0L, -1.0L, 1.3L, -2.5L, 0.01403808L, 12345.678L, -Pow2(-128), Pow2(100)}) {
        const Real48 r(v);
        EXPECT_EQ(Real48::FromBytes(r.Bytes()).Value(), r.Value()) << static_cast<double>(v);
    }
    // Exponent byte 0 is zero whatever the other bytes say.
    EXPECT_EQ(Real48::FromBytes(B(0, 0x12, 0x34, 0, 0, 0x80)).Value(), 0.0);
}

namespace {

// The rounding written the slow, obvious way: scale the significand to
// [2^39, 2^40), round half away from zero with roundl, scale back.
long double SlowRound48(long double v)
{
    if (std::isnan(v))
        return 0.0L;
    if (v == 0.0L)
        return 0.0L;
    int e = 0;
    const long double m = std::frexp(v, &e); // |m| in [0.5, 1)
    const long double r = std::ldexp(std::round(std::ldexp(m, 40)), e - 40);
    if (std::fabs(r) < Pow2(-128))
        return 0.0L;
    if (std::fabs(r) > Real48::MaxMagnitude())
        return r < 0 ? -Real48::MaxMagnitude() : Real48::MaxMagnitude();
    return r;
}

} // namespace

// Random significands at random exponents (across both ends of the range),
// exact ties (41 bits) and one extended unit either side of them, and values
// of 42 and 43 bits, against the slow reference.
TEST(Real48, AgreesWithASlowReferenceOnRandomValues)
{
    std::mt19937_64 random(20240611);
    std::uniform_int_distribution<int> exponent(-135, 135);
    for (int n = 0; n < 200000; ++n) {
        const uint64_t bits = random() | (uint64_t{1} << 63);
        const int e = exponent(random);
        long double v = std::ldexp(static_cast<long double>(bits), e - 63);
        if (random() & 1)
            v = -v;
        const long double tie = std::ldexp(static_cast<long double>(bits >> 23 | 1), e - 40);
        const long double short42 = std::ldexp(static_cast<long double>(bits >> 22 | 1), e - 41);
        const long double short43 = std::ldexp(static_cast<long double>(bits >> 21 | 1), e - 42);
        for (long double x : {v, tie, std::nextafter(tie, 0.0L), std::nextafter(tie, HUGE_VALL), -tie, short42,
                              -short42, short43, -short43}) {
            const long double got = Real48::Round(x);
            ASSERT_EQ(got, SlowRound48(x)) << std::hexfloat << static_cast<double>(x);
            ASSERT_FALSE(std::signbit(got) && got == 0.0L);
        }
    }
}
