// SPDX-License-Identifier: GPL-3.0-or-later
// The resonator behind Bass Only and Treble Only: the click response step by
// step with its 48-bit stores, clipping, progress, and whole clips against an
// independent reference.
//
// The reference is a Python transcription of the filter in exact rational
// arithmetic that rounds explicitly after every operation (64-bit
// significand, half to even, as the x87 does) and at every store (40-bit
// significand, half away from zero). Its numbers are pasted below. Its
// random clips come from s = s * 1103515245 + 12345 (mod 2^31), sample =
// ((s >> 8) mod 65536) - 32768, divided by 4 rounding down.
#include "effects/filters.h"

#include "tests/effects/effecttesting.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <random>
#include <vector>

namespace {

// The reference clips divided by 4, rounding down.
std::vector<int16_t> QuarterClip(size_t n, uint32_t seed)
{
    std::vector<int16_t> x = ReferenceClip(n, seed);
    for (auto &v : x)
        v = static_cast<int16_t>(v >> 2);
    return x;
}

std::vector<int16_t> Square(size_t n, size_t half, int16_t level)
{
    std::vector<int16_t> x(n);
    for (size_t i = 0; i < n; ++i)
        x[i] = (i / half) % 2 == 0 ? level : static_cast<int16_t>(-level);
    return x;
}

std::vector<int16_t> Click()
{
    std::vector<int16_t> x(8, 0);
    x[0] = 1000;
    return x;
}

const Real48 BassGains[4] = {1.3L, 0.0L, 0.0L, 0.0L};
const Real48 TrebleGains[4] = {0.0L, 0.0L, 0.0L, 2.5L};

const int16_t ExpectedSquareBass[384] = {
    1089,   2147,   3182,   4195,   5185,   6151,   7094,   8013,   8908,   9779,   10625,  11446,  12242,  13013,
    13759,  14480,  15175,  15845,  16489,  17108,  17701,  18269,  18811,  19328,  19820,  20287,  20728,  21145,
    21537,  21904,  22247,  22565,  22860,  23131,  23378,  23603,  23804,  23982,  24138,  24272,  24385,  24475,
    24545,  24594,  24623,  24632,  24621,  24590,  24542,  24474,  24389,  24286,  24166,  24029,  23875,  23706,
    23522,  23322,  23108,  22880,  22638,  22383,  22116,  21836,  19365,  16947,  14562,  12212,  9898,   7621,
    5382,   3183,   1023,   -1096,  -3172,  -5206,  -7197,  -9143,  -11044, -12899, -14709, -16472, -18187, -19855,
    -21475, -23047, -24570, -26044, -27469, -28845, -30171, -31448, -32675, -32768, -32768, -32768, -32768, -32768,
    -32768, -32768, -32768, -32768, -32768, -32768, -32768, -32768, -32768, -32768, -32768, -32768, -32768, -32768,
    -32768, -32768, -32768, -32768, -32768, -32768, -32768, -32768, -32768, -32768, -32768, -32768, -32768, -32768,
    -32768, -32768, -32768, -32768, -32741, -30529, -28356, -26202, -24069, -21959, -19872, -17810, -15774, -13765,
    -11784, -9832,  -7910,  -6019,  -4160,  -2334,  -541,   1217,   2940,   4628,   6279,   7893,   9470,   11009,
    12509,  13970,  15392,  16775,  18117,  19419,  20680,  21900,  23080,  24219,  25316,  26372,  27387,  28360,
    29293,  30184,  31034,  31843,  32611,  32767,  32767,  32767,  32767,  32767,  32767,  32767,  32767,  32767,
    32767,  32767,  32767,  32767,  32767,  32767,  32767,  32767,  32767,  32767,  32767,  32767,  31242,  29208,
    27191,  25192,  23212,  21251,  19312,  17395,  15502,  13633,  11789,  9972,   8183,   6421,   4689,   2986,
    1314,   -326,   -1935,  -3510,  -5053,  -6561,  -8036,  -9475,  -10879, -12247, -13579, -14874, -16133, -17354,
    -18538, -19684, -20793, -21864, -22897, -23891, -24848, -25766, -26647, -27489, -28293, -29059, -29788, -30478,
    -31132, -31748, -32327, -32768, -32768, -32768, -32768, -32768, -32768, -32768, -32768, -32768, -32768, -32768,
    -32768, -32768, -32768, -32768, -32768, -31512, -29446, -27397, -25366, -23354, -21362, -19393, -17446, -15523,
    -13626, -11754, -9909,  -8092,  -6304,  -4546,  -2818,  -1122,  543,    2175,   3773,   5338,   6868,   8363,
    9822,   11245,  12632,  13982,  15295,  16570,  17808,  19007,  20169,  21291,  22376,  23421,  24428,  25396,
    26325,  27216,  28067,  28880,  29655,  30391,  31089,  31748,  32370,  32767,  32767,  32767,  32767,  32767,
    32767,  32767,  32767,  32767,  32767,  32767,  32767,  32767,  32767,  32767,  32767,  32767,  32767,  31793,
    29701,  27628,  25574,  23539,  21525,  19533,  17564,  15620,  13701,  11808,  9943,   8106,   6298,   4520,
    2773,   1058,   -625,   -2275,  -3891,  -5472,  -7019,  -8530,  -10005, -11443, -12845, -14209, -15536, -16825,
    -18075, -19287, -20460, -21595, -22690, -23746, -24763, -25741, -26679, -27579, -28439, -29260, -30041, -30784,
    -31489, -32155, -32768, -32768, -32768, -32768, -32768, -32768, -32768, -32768, -32768, -32768, -32768, -32768,
    -32768, -32768, -32768, -32768, -32768, -32768,
};
const int16_t ExpectedSquareTreble[384] = {
    29952,  -24205, -10530, 13460,  2887,  -6997,  -248, 3431,  -445,  -1589, 477,  692,  -344, -279, 213,  101,
    -120,   -29,    63,     4,      -31,   3,      14,   -4,    -6,    3,     2,    -2,   0,    1,    0,    0,
    0,      0,      0,      0,      0,     0,      0,    0,     0,     0,     0,    0,    0,    0,    0,    0,
    0,      0,      0,      0,      0,     0,      0,    0,     0,     0,     0,    0,    0,    0,    0,    0,
    -32768, 32767,  12327,  -20687, -2569, 10446,  -475, -4983, 1050,  2242,  -878, -942, 580,  361,  -341, -118,
    184,    27,     -94,    3,      45,    -9,     -20,  7,     9,     -5,    -4,   3,    1,    -1,   -1,   1,
    0,      0,      0,      0,      0,     0,      0,    0,     0,     0,     0,    0,    0,    0,    0,    0,
    0,      0,      0,      0,      0,     0,      0,    0,     0,     0,     0,    0,    0,    0,    0,    0,
    32767,  -32768, -12326, 20687,  2569,  -10446, 475,  4983,  -1050, -2242, 878,  942,  -580, -361, 341,  118,
    -184,   -27,    94,     -3,     -45,   9,      20,   -7,    -9,    5,     4,    -3,   -1,   1,    1,    -1,
    0,      0,      0,      0,      0,     0,      0,    0,     0,     0,     0,    0,    0,    0,    0,    0,
    0,      0,      0,      0,      0,     0,      0,    0,     0,     0,     0,    0,    0,    0,    0,    0,
    -32768, 32767,  12327,  -20687, -2569, 10446,  -475, -4983, 1050,  2242,  -878, -942, 580,  361,  -341, -118,
    184,    27,     -94,    3,      45,    -9,     -20,  7,     9,     -5,    -4,   3,    1,    -1,   -1,   1,
    0,      0,      0,      0,      0,     0,      0,    0,     0,     0,     0,    0,    0,    0,    0,    0,
    0,      0,      0,      0,      0,     0,      0,    0,     0,     0,     0,    0,    0,    0,    0,    0,
    32767,  -32768, -12326, 20687,  2569,  -10446, 475,  4983,  -1050, -2242, 878,  942,  -580, -361, 341,  118,
    -184,   -27,    94,     -3,     -45,   9,      20,   -7,    -9,    5,     4,    -3,   -1,   1,    1,    -1,
    0,      0,      0,      0,      0,     0,      0,    0,     0,     0,     0,    0,    0,    0,    0,    0,
    0,      0,      0,      0,      0,     0,      0,    0,     0,     0,     0,    0,    0,    0,    0,    0,
    -32768, 32767,  12327,  -20687, -2569, 10446,  -475, -4983, 1050,  2242,  -878, -942, 580,  361,  -341, -118,
    184,    27,     -94,    3,      45,    -9,     -20,  7,     9,     -5,    -4,   3,    1,    -1,   -1,   1,
    0,      0,      0,      0,      0,     0,      0,    0,     0,     0,     0,    0,    0,    0,    0,    0,
    0,      0,      0,      0,      0,     0,      0,    0,     0,     0,     0,    0,    0,    0,    0,    0,
};
const int16_t ExpectedBassThenTreble[300] = {
    -46,  -77,  86,   86,   -336, -26,  94,   -43,  -89,  241,  140,  -504, 340,  -157, 297,  -278, -44,  127,  233,
    -427, 401,  -260, 207,  174,  -228, -282, 369,  -24,  -168, -201, 362,  -28,  23,   -59,  189,  -414, -70,  333,
    -176, 213,  -162, -227, 122,  130,  243,  -301, -102, 378,  -224, -8,   -160, 142,  38,   -164, 24,   12,   261,
    -238, 86,   -183, 277,  -49,  157,  -309, 153,  -148, 327,  -293, 109,  182,  -239, 321,  46,   -422, 172,  108,
    148,  82,   -236, 56,   350,  -325, -292, 99,   206,  -52,  154,  -64,  -377, 578,  -284, 36,   -148, 211,  -92,
    -107, 120,  110,  39,   -167, 178,  -301, 85,   196,  -370, 229,  342,  -318, -152, 405,  -287, 111,  318,  -258,
    -271, 333,  286,  -151, -426, 475,  224,  -264, -160, 272,  199,  -211, -28,  150,  -402, 372,  252,  -475, 37,
    393,  -375, -63,  286,  -404, 277,  -132, 199,  -282, -112, 15,   447,  -102, -119, -77,  -95,  327,  -271, -343,
    78,   302,  -358, 134,  -126, -172, 504,  -237, 20,   -23,  148,  -181, -186, 101,  325,  -36,  -358, -100, 328,
    -264, -80,  217,  25,   34,   -149, 209,  -241, -103, 198,  48,   -428, -21,  81,   355,  -442, 242,  240,  -103,
    -51,  -169, 128,  -21,  62,   -317, 371,  41,   -19,  -124, 162,  99,   -232, 20,   266,  10,   -587, 419,  -47,
    -120, 277,  -203, 36,   -130, -128, -92,  236,  -5,   -357, 447,  -256, -197, 79,   182,  50,   -374, 370,  148,
    -372, -251, 281,  252,  -293, 67,   -226, -56,  287,  -60,  -192, 339,  38,   -354, -179, 299,  379,  -571, 78,
    381,  62,   -535, 39,   189,  -108, 78,   311,  -75,  -9,   -89,  130,  242,  -542, 278,  362,  -623, 332,  75,
    -196, -213, 239,  89,   -142, -215, 295,  -166, 305,  -161, -204, 164,  -174, -31,  496,  -144, -3,   -239, 436,
    81,   -136, -302, 360,  -168, 5,    -131, 407,  65,   -367, 118,  224,  16,   72,   -492,
};
} // namespace

// Bass Only on a click of 1000. Stored values (hexadecimal, exact):
//   T0 = 0.01403808 -> 0x1.cbfff33fd4p-7, T2 = 1.9717237 -> 0x1.f8c2e2684p+0,
//   gain 1.3 -> 0x1.4ccccccccc.
// Step 0: x = 1000, d = 1000 - 0; y = T0 x 1000 = 14.0380800000130 stored as
//   0x1.c137f38c56p+3; acc = 1.3 x y = 18.2495040000067 stored as
//   0x1.23fdf7e804p+4 -> the sample becomes 18.
// Step 1: x = 18 (the first step's result), d = 18 - 0;
//   y = (y0 T2 + T0 x 18) - 0 = 27.6792 + 0.2527 = 27.9319004785211
//   -> 0x1.bee91079e6p+4; acc = 1.3 x y = 36.3114706220804 -> 36 stays.
// Step 2: x = 0, d = 0 - 1000 (two steps back); y = (y1 T2 - 14.0381) -
//   y0 T1 = 27.3919655397185 -> 0x1.b6457da864p+4.
TEST(ResonatorFilter, BassOnlyClickResponseStepByStep)
{
    Resonator r(BassGains);
    EXPECT_EQ(r.Step(1000), 0x1.23fdf7e804p+4L);
    EXPECT_EQ(r.SectionOutput(0), 0x1.c137f38c56p+3L);
    EXPECT_EQ(r.Step(18), 0x1.227de44f3cp+5L);
    EXPECT_EQ(r.SectionOutput(0), 0x1.bee91079e6p+4L);
    EXPECT_EQ(r.Step(0), 0x1.1ce05e7a4p+5L);
    EXPECT_EQ(r.SectionOutput(0), 0x1.b6457da864p+4L);
    EXPECT_EQ(r.Step(36), 0x1.19fd5c3794p+5L);
    EXPECT_EQ(r.SectionOutput(0), 0x1.b1d48ddf5cp+4L);
    // Sections without gain are never computed.
    EXPECT_EQ(r.SectionOutput(3), 0.0L);

    std::vector<int16_t> x = Click();
    BassOnlyClip(x.data(), 8);
    EXPECT_EQ(x, (std::vector<int16_t>{36, 35, 35, 34, 33, 32, 31, 31}));
}

// Treble Only on the same click: T0 = 0.32063878 -> 0x1.48558847b8p-2,
// y = T0 x 1000 = 320.638780000154 -> 0x1.40a387160ap+8, acc = 2.5 y =
// 801.59695000015 -> 802; the second step feeds 802 back in.
TEST(ResonatorFilter, TrebleOnlyClickResponseStepByStep)
{
    Resonator r(TrebleGains);
    EXPECT_EQ(r.Step(1000), 0x1.90cc68db8cp+9L);
    EXPECT_EQ(r.SectionOutput(3), 0x1.40a387160ap+8L);
    EXPECT_EQ(r.Step(802), 0x1.f35c314152p+9L);
    EXPECT_EQ(r.SectionOutput(3), 0x1.8f7cf43442p+8L);
    EXPECT_EQ(r.Step(0), -0x1.42e6bc43aep+9L);
    EXPECT_EQ(r.Step(-646), -0x1.c369fd44ccp+10L);
    EXPECT_EQ(r.SectionOutput(3), -0x1.6921976a3cp+9L);
    EXPECT_EQ(r.SectionOutput(0), 0.0L);

    std::vector<int16_t> x = Click();
    TrebleOnlyClip(x.data(), 8, false);
    EXPECT_EQ(x, (std::vector<int16_t>{999, -1806, 456, 800, -353, -330, 226, 123}));
}

// Over long random clips the state still agrees to the last bit. In the
// reference, leaving out the 48-bit stores moves the final sums of the first
// clip by about 2e-7 (bass) and 6e-9 (treble); on the second clip, doing the
// arithmetic in double instead of extended precision changes the bass state,
// and rounding the stores' halves to even instead of away from zero changes
// the treble state.
TEST(ResonatorFilter, StateAfterALongRunMatchesTheReferenceBitForBit)
{
    struct Case {
        size_t length;
        uint32_t seed;
        const Real48 *gains;
        int section;
        long double acc, y;
    };
    const Case cases[] = {
        {1000, 6, BassGains, 0, 0x1.d019f96ec2p+2L, 0x1.650049b7aap+2L},
        {1000, 6, TrebleGains, 3, -0x1.f8280cfce6p+13L, -0x1.93533d971ep+12L},
        {2000, 3, BassGains, 0, -0x1.e865344ab6p+10L, -0x1.77b04f9bfp+10L},
        {2000, 3, TrebleGains, 3, 0x1.0596cb4382p+12L, 0x1.a28aded268p+10L},
    };
    for (const Case &c : cases) {
        Resonator r(c.gains);
        long double acc = 0;
        for (int16_t x : QuarterClip(c.length, c.seed))
            acc = r.Step(Resonator::ToSample(r.Step(x)));
        EXPECT_EQ(acc, c.acc) << c.seed << " " << c.section;
        EXPECT_EQ(r.SectionOutput(c.section), c.y) << c.seed << " " << c.section;
    }
}

TEST(ResonatorFilter, SumsBecomeSamplesClippedOrRoundedHalfToEven)
{
    EXPECT_EQ(Resonator::ToSample(32767.4L), 32767);
    EXPECT_EQ(Resonator::ToSample(32767.5L), 32767);
    EXPECT_EQ(Resonator::ToSample(40000.0L), 32767);
    EXPECT_EQ(Resonator::ToSample(1e30L), 32767);
    EXPECT_EQ(Resonator::ToSample(-32768.5L), -32768);
    EXPECT_EQ(Resonator::ToSample(-40000.0L), -32768);
    EXPECT_EQ(Resonator::ToSample(2.5L), 2);
    EXPECT_EQ(Resonator::ToSample(3.5L), 4);
    EXPECT_EQ(Resonator::ToSample(-2.5L), -2);
    EXPECT_EQ(Resonator::ToSample(-0.4L), 0);
}

// A loud square wave drives both presets far past the 16-bit range: the
// reference's samples there are 32767 and -32768 (bass 39 and 71 of them,
// treble 5 and 5), never wrapped values.
TEST(ResonatorFilter, LoudSquareWaveClipsAndNeverWraps)
{
    std::vector<int16_t> bass = Square(384, 64, 30000);
    BassOnlyClip(bass.data(), 384);
    EXPECT_EQ(bass, std::vector<int16_t>(std::begin(ExpectedSquareBass), std::end(ExpectedSquareBass)));
    EXPECT_EQ(std::count(bass.begin(), bass.end(), 32767), 39);
    EXPECT_EQ(std::count(bass.begin(), bass.end(), -32768), 71);

    std::vector<int16_t> treble = Square(384, 64, 30000);
    TrebleOnlyClip(treble.data(), 384, true);
    EXPECT_EQ(treble, std::vector<int16_t>(std::begin(ExpectedSquareTreble), std::end(ExpectedSquareTreble)));
    EXPECT_EQ(std::count(treble.begin(), treble.end(), 32767), 5);
    EXPECT_EQ(std::count(treble.begin(), treble.end(), -32768), 5);
}

// With both on, the pipeline runs Bass Only and then Treble Only over its
// result; each run starts from a clean state. A single run with both gains
// would be a different filter (all 300 samples differ in the reference).
TEST(ResonatorFilter, BassThenTrebleIsTwoIndependentRuns)
{
    // Run something else first: no state may survive into the next call.
    std::vector<int16_t> other = Square(500, 50, 20000);
    TrebleOnlyClip(other.data(), 500, false);

    std::vector<int16_t> x = QuarterClip(300, 7);
    BassOnlyClip(x.data(), 300);
    TrebleOnlyClip(x.data(), 300, true);
    EXPECT_EQ(x, std::vector<int16_t>(std::begin(ExpectedBassThenTreble), std::end(ExpectedBassThenTreble)));

    std::vector<int16_t> both = QuarterClip(300, 7);
    const Real48 bothGains[4] = {1.3L, 0.0L, 0.0L, 2.5L};
    ResonatorFilter(both.data(), 300, bothGains, false);
    EXPECT_NE(both, x);
}

TEST(ResonatorFilter, SilenceStaysSilent)
{
    for (bool bass : {true, false}) {
        std::vector<int16_t> x(4000, 0);
        if (bass)
            BassOnlyClip(x.data(), 4000);
        else
            TrebleOnlyClip(x.data(), 4000, true);
        EXPECT_EQ(x, std::vector<int16_t>(4000, 0));
    }
}

TEST(ResonatorFilter, CountZeroOrLessDoesNothing)
{
    const std::vector<int16_t> original = QuarterClip(16, 3);
    for (int32_t count : {0, -1, INT32_MIN}) {
        std::vector<int16_t> x = original;
        ProgressGauge gauge;
        ResetProgress(gauge, 120);
        BassOnlyClip(x.data(), count, {&gauge, 12});
        TrebleOnlyClip(x.data(), count, true, {&gauge, 12});
        EXPECT_EQ(x, original) << count;
        EXPECT_EQ(gauge.Progress(), 0) << count;
    }
    BassOnlyClip(nullptr, 100);
    std::vector<int16_t> x = original;
    ResonatorFilter(x.data(), 16, nullptr, true);
    EXPECT_EQ(x, original);
}

// e = (2 Count - 1) div Step; one advance at steps 0, e, 2e, ... while fewer
// than e - 1 have been made. A Step of 0 is taken as 10.
TEST(ResonatorFilter, ProgressAdvancesAtEveryEthStepUpToEMinusOne)
{
    struct Case {
        int32_t count, step;
        bool show;
        int32_t advances;
    };
    const Case cases[] = {
        {1000, 10, true, 11}, // e = 199: steps 0, 199, ..., 1990
        {1000, 40, true, 41}, // e = 49: steps 0, 49, ..., 1960
        {1000, 0, true, 11},  // no step given: 10, e = 199
        {40, 0, true, 6},     // 10 again: e = 7, at most 6
        {20, 10, true, 2},    // e = 3: 14 multiples, but at most e - 1 = 2
        {40, 10, true, 6},    // e = 7: 12 multiples, at most 6
        {1, 10, true, 0},     // e = 0
        {1000, 10, false, 0}, // progress off
        {1000, -3, true, 0},  // a negative step gives no interval
    };
    for (const Case &c : cases) {
        ProgressGauge gauge;
        ResetProgress(gauge, 1000);
        std::vector<int16_t> x = QuarterClip(static_cast<size_t>(c.count), 2);
        TrebleOnlyClip(x.data(), c.count, c.show, {&gauge, c.step});
        EXPECT_EQ(gauge.Progress(), c.advances) << c.count << " " << c.step << " " << c.show;
    }
    // Bass Only always shows progress, and takes no step as 10 as well.
    for (int32_t step : {10, 0}) {
        ProgressGauge gauge;
        ResetProgress(gauge, 1000);
        std::vector<int16_t> x = QuarterClip(1000, 2);
        BassOnlyClip(x.data(), 1000, {&gauge, step});
        EXPECT_EQ(gauge.Progress(), 11) << step;
    }
}

// The sample from a running sum skips the 48-bit rounding unless the sum is
// within 2^-20 of a half-integer; there the rounding decides. The unit of
// the last of 40 bits at 16..32 is 2^-35, so 2^-37 off a half rounds onto it.
TEST(ResonatorFilter, SumJustOffAHalfIsRoundedTo48BitsFirst)
{
    EXPECT_EQ(Resonator::SampleValueOfSum(17.5L - 0x1p-37L), 18.0L); // onto 17.5, then half to even
    EXPECT_EQ(Resonator::SampleValueOfSum(16.5L + 0x1p-37L), 16.0L);
    EXPECT_EQ(Resonator::SampleValueOfSum(-17.5L + 0x1p-37L), -18.0L);
    EXPECT_EQ(Resonator::SampleValueOfSum(17.5L - 0x1p-30L), 17.0L); // already 40 bits: stays below
    EXPECT_EQ(Resonator::SampleValueOfSum(32767.5L - 0x1p-30L), 32767.0L);
    EXPECT_EQ(Resonator::SampleValueOfSum(-32768.5L + 0x1p-30L), -32768.0L);
    EXPECT_EQ(Resonator::SampleValueOfSum(1e9L), 32767.0L);
    EXPECT_EQ(Resonator::SampleValueOfSum(-1e9L), -32768.0L);

    std::mt19937_64 random(7);
    std::uniform_int_distribution<int> whole(-70000, 70000);
    std::uniform_int_distribution<int> shift(19, 60);
    for (int n = 0; n < 200000; ++n) {
        const long double offset = std::ldexp(static_cast<long double>(random() >> 1), -63 - shift(random));
        const long double a = whole(random) + 0.5L + ((random() & 1) ? offset : -offset);
        ASSERT_EQ(Resonator::SampleValueOfSum(a), Resonator::ToSampleValue(Real48::Round(a)))
            << std::hexfloat << static_cast<double>(a);
    }
}

// The filter runs the one-section presets in a loop of its own; it must give
// what stepping the resonator gives, sample for sample, and so must the
// general loop for several sections.
TEST(ResonatorFilter, WholeClipEqualsSteppingTheResonator)
{
    const Real48 several[4] = {1.3L, 0.7L, 0.0L, 2.5L};
    for (const Real48 *gains : {BassGains, TrebleGains, several}) {
        std::vector<int16_t> x = QuarterClip(30000, 11);
        for (size_t i = 10000; i < 12000; ++i)
            x[i] = 0; // a pause, through which the sections decay
        std::vector<int16_t> stepped = x;
        Resonator r(gains);
        for (int16_t &v : stepped)
            v = Resonator::ToSample(r.Step(Resonator::ToSample(r.Step(v))));
        ResonatorFilter(x.data(), 30000, gains, false);
        EXPECT_EQ(x, stepped);
    }
}
