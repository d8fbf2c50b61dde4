// SPDX-License-Identifier: GPL-3.0-or-later
// The six-byte real of the resonator: an 8-bit exponent (bias 129, 0 meaning
// zero), a sign bit and a 39-bit fraction under a hidden leading 1, so a
// 40-bit significand and magnitudes from 2^-128 up to just below 2^127.
//
//   byte 0      bytes 1..4, low 7 bits of byte 5      top bit of byte 5
//   exponent    fraction (least significant first)    sign
//
// Arithmetic is done in x87 extended precision (long double, 64-bit
// significand); a value is rounded to this format only when it is stored:
// to the nearest 40-bit significand, a half going away from zero, and
// anything smaller than 2^-128 after rounding becomes 0. Values held here are
// always exact in a double, so that is how they are kept in memory.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>

static_assert(sizeof(long double) >= 10 && __LDBL_MANT_DIG__ == 64,
              "the resonator's arithmetic needs the x87 80-bit long double");

class Real48 {
public:
    static constexpr int SignificandBits = 40;
    static constexpr int ExponentBias = 129;

    constexpr Real48() = default;
    // Rounds v to the nearest value of the format (see Round).
    Real48(long double v) : value(static_cast<double>(Round(v))) {}

    operator long double() const { return value; }
    double Value() const { return value; }

    // v rounded to the format, returned as a long double: the significand
    // rounded to 40 bits with halves away from zero, carrying into the next
    // power of two when it overflows; magnitudes below 2^-128 give 0, above
    // the largest finite value (and infinities) give that value with the
    // sign kept, NaN gives 0. Done on the bit pattern: add half of the last
    // kept unit to the 64-bit significand and cut the 24 bits below it.
    static long double Round(long double v)
    {
        uint64_t mant;
        uint16_t signExp;
        std::memcpy(&mant, &v, sizeof mant);
        std::memcpy(&signExp, reinterpret_cast<const char *>(&v) + 8, sizeof signExp);
        const uint16_t sign = signExp & 0x8000u;
        int32_t exp = signExp & 0x7FFF;
        if (exp == 0x7FFF) {
            if ((mant << 1) != 0)
                return 0.0L; // NaN
            return sign ? -MaxMagnitude() : MaxMagnitude();
        }
        constexpr int Dropped = 64 - SignificandBits;
        constexpr uint64_t Half = uint64_t{1} << (Dropped - 1);
        constexpr uint64_t Kept = ~((uint64_t{1} << Dropped) - 1);
        uint64_t rounded = mant + Half;
        if (rounded < mant) {
            // 1.111...1 rounded up: the significand becomes 1.0 one power higher.
            rounded = uint64_t{1} << 63;
            ++exp;
        } else {
            rounded &= Kept;
        }
        if (exp < MinLdExponent || rounded == 0)
            return 0.0L;
        if (exp > MaxLdExponent)
            return sign ? -MaxMagnitude() : MaxMagnitude();
        long double out = 0.0L;
        const uint16_t outSignExp = static_cast<uint16_t>(sign | exp);
        std::memcpy(&out, &rounded, sizeof rounded);
        std::memcpy(reinterpret_cast<char *>(&out) + 8, &outSignExp, sizeof outSignExp);
        return out;
    }

    // The six bytes of the stored form.
    std::array<uint8_t, 6> Bytes() const
    {
        std::array<uint8_t, 6> b{};
        if (value == 0.0)
            return b;
        uint64_t bits;
        std::memcpy(&bits, &value, sizeof bits);
        const bool negative = (bits >> 63) != 0;
        const int32_t doubleExp = static_cast<int32_t>((bits >> 52) & 0x7FF); // never subnormal here
        const uint64_t fraction39 = (bits & ((uint64_t{1} << 52) - 1)) >> (52 - 39);
        b[0] = static_cast<uint8_t>(doubleExp - 1023 + ExponentBias);
        for (int i = 0; i < 5; ++i)
            b[1 + i] = static_cast<uint8_t>(fraction39 >> (8 * i));
        if (negative)
            b[5] |= 0x80;
        return b;
    }

    // The value whose stored form is b (exponent byte 0 reads as 0).
    static Real48 FromBytes(const std::array<uint8_t, 6> &b)
    {
        Real48 r;
        if (b[0] == 0)
            return r;
        uint64_t fraction39 = 0;
        for (int i = 4; i >= 0; --i)
            fraction39 = (fraction39 << 8) | b[1 + i];
        fraction39 &= (uint64_t{1} << 39) - 1;
        const uint64_t doubleExp = static_cast<uint64_t>(b[0] - ExponentBias + 1023);
        const uint64_t bits = (uint64_t{(b[5] & 0x80u) != 0} << 63) | (doubleExp << 52) | (fraction39 << (52 - 39));
        std::memcpy(&r.value, &bits, sizeof bits);
        return r;
    }

    // The largest finite value: (2 - 2^-39) * 2^126.
    static long double MaxMagnitude()
    {
        long double out = 0.0L;
        const uint64_t mant = ~uint64_t{0} << (64 - SignificandBits);
        const uint16_t signExp = static_cast<uint16_t>(LdBias + 126);
        std::memcpy(&out, &mant, sizeof mant);
        std::memcpy(reinterpret_cast<char *>(&out) + 8, &signExp, sizeof signExp);
        return out;
    }

private:
    static constexpr int32_t LdBias = 16383;
    static constexpr int32_t MinLdExponent = LdBias - 128; // 2^-128, exponent byte 1
    static constexpr int32_t MaxLdExponent = LdBias + 126; // exponent byte 255

    double value = 0.0;
};
