// SPDX-License-Identifier: GPL-3.0-or-later
// The pitch sweeps: their plans, the first restart, the short-clip case in
// which S moves at every sample, long sweeps on a tone, and two clips against
// an independent reference (a plain Python transcription of the sweep, the
// same one that checks the pitch shifter; its output is pasted below). The
// reference clips come from s = s * 1103515245 + 12345 (mod 2^31), sample =
// ((s >> 8) mod 65536) - 32768.
#include "effects/filters.h"

#include "tests/effects/effecttesting.h"

#include <gtest/gtest.h>

#include <cmath>
#include <iterator>
#include <numbers>
#include <vector>

namespace {

int UpwardCrossings(const std::vector<int16_t> &x, size_t from, size_t to)
{
    int n = 0;
    for (size_t i = from + 1; i < to; ++i)
        n += x[i - 1] < 0 && x[i] >= 0;
    return n;
}

double Rms(const std::vector<int16_t> &x, size_t from, size_t to)
{
    double sum = 0;
    for (size_t i = from; i < to; ++i)
        sum += static_cast<double>(x[i]) * x[i];
    return std::sqrt(sum / static_cast<double>(to - from));
}

// PitchSweep(0, 3, 0.059463, 0.414214, 0.0, 1.0, 0.0) on seed 3, 600 samples
const int16_t ExpectedSweepUpShortLine[600] = {
    0,      0,      0,      0,      0,      0,      0,      0,      0,      0,      0,      0,      0,      0,
    0,      0,      0,      0,      0,      0,      0,      0,      0,      0,      0,      0,      0,      0,
    0,      0,      0,      0,      0,      0,      0,      0,      0,      0,      0,      0,      0,      0,
    0,      0,      0,      0,      0,      0,      0,      0,      0,      0,      0,      0,      0,      0,
    0,      0,      0,      0,      0,      0,      -8620,  11967,  1582,   -1819,  3695,   11704,  -9570,  8881,
    -15736, -15661, -8547,  -15805, -21702, 3111,   7322,   -17329, -15716, 9862,   8799,   25371,  -7408,  27442,
    -2163,  6101,   21946,  7037,   9239,   -2268,  3657,   13194,  -10910, -26360, -13560, 29397,  4916,   17778,
    -23330, -20041, -3514,  14297,  2920,   23213,  12253,  -14991, -10198, 23848,  25591,  -24851, -21171, -11848,
    -11478, -19445, -4198,  9330,   14372,  9112,   10705,  26967,  21715,  -7801,  12138,  -14081, -16580, 5693,
    5912,   18357,  -13365, -10259, -10820, 15882,  10921,  12305,  -9436,  -9678,  -22861, 4345,   -8293,  -13747,
    -11616, -2203,  -21907, -11664, -13389, -23702, -29162, -26622, -27412, 4931,   -4965,  25501,  -11791, -9438,
    -25329, -19088, -17931, -5693,  -10586, 2260,   -10441, 19414,  29602,  31324,  -6851,  -3906,  9371,   -16642,
    26186,  3094,   12254,  -18217, 5478,   17130,  1793,   -18352, -12088, 6254,   7650,   14718,  7362,   621,
    11979,  16898,  18643,  23732,  16232,  13575,  -11197, 18209,  -22935, -12715, -11060, 20763,  22086,  -3135,
    12402,  20165,  9698,   -21858, -3597,  24881,  24606,  -19335, -22461, -10636, -9831,  -28154, -16772, -14374,
    -25976, -25032, -2660,  26114,  4599,   -9652,  21460,  17413,  -955,   -27707, -10152, 18517,  14862,  18955,
    8253,   9452,   -9916,  2455,   8517,   12411,  10828,  4993,   29222,  21798,  14054,  -8508,  -18302, -16703,
    8608,   23614,  3575,   4645,   -12251, 1064,   -26234, -2328,  8926,   5750,   1684,   23734,  10523,  3752,
    22803,  -9330,  -12018, -29989, -3365,  8979,   6401,   24783,  11529,  -8143,  11353,  28775,  7490,   -16391,
    -7111,  -9508,  -8735,  -17767, -14825, 9813,   13303,  2814,   25816,  -12648, -8102,  8492,   3741,   2426,
    -12357, -9810,  3448,   -18762, -14833, -25494, -10068, -14356, 1964,   -2232,  -9169,  12347,  -17115, -11362,
    7770,   -18547, 3292,   -1169,  -17055, -12024, -9595,  16882,  26731,  -15406, -25277, -10738, 6482,   -8776,
    -8239,  16268,  24610,  -15687, -13294, 25806,  -1428,  23783,  5266,   10275,  1564,   10731,  8947,   -4422,
    24177,  -11404, 15408,  22260,  8600,   -2836,  13094,  -5276,  -29473, -23870, 14745,  9816,   -20755, -7092,
    -23847, -14450, -17570, -29964, 11149,  -26215, -13990, -20840, -18999, -18175, -11142, -9816,  -28924, 24505,
    13303,  8132,   26547,  8659,   -19756, -1070,  -17726, 15470,  21034,  -30737, -9412,  9731,   1497,   25886,
    12600,  10183,  11756,  -20296, 4714,   27380,  26673,  15951,  18055,  -19219, 2171,   -17931, -11781, -3166,
    2925,   -3267,  -6217,  19066,  -23346, 15832,  25853,  11151,  -16775, -1415,  -20726, -11198, -27086, 24980,
    -1935,  2703,   -17884, 5154,   14174,  14946,  27763,  -3952,  4275,   -1610,  -10770, -24264, 5024,   -3856,
    -27905, -28118, -11926, -3331,  -16973, -25305, 11457,  -22181, 2632,   8891,   14920,  15084,  -23215, 22340,
    -10653, 18029,  28204,  -5768,  -14050, 8721,   13274,  -26029, -12879, -16318, -18450, 2329,   26529,  -28188,
    -30070, -12648, -6051,  -5879,  21855,  -22393, -13120, -11425, 13937,  14317,  17868,  15006,  22139,  11949,
    -14580, -10864, -6997,  20894,  -25379, 811,    -1721,  8652,   2685,   -12945, -7072,  7440,   17584,  -14288,
    6488,   -23512, -18685, -13466, -27465, -21710, 8372,   959,    30853,  -10141, 24267,  -3422,  -21366, -11147,
    1211,   22399,  16532,  -8534,  24071,  12345,  18203,  -18981, -12665, 12894,  -10951, -3098,  25305,  -7958,
    1591,   -980,   1837,   -22164, -3617,  -6856,  -14861, -9,     -13627, -282,   16241,  -14116, 1038,   -1385,
    -19694, -21504, -32207, 13813,  -11650, -3017,  3357,   10206,  -9282,  14593,  22752,  15247,  23928,  15569,
    12954,  4773,   -19810, 8430,   -16709, -19856, 16586,  16848,  -2713,  -996,   28596,  10876,  -11210, 9714,
    -6574,  5682,   -12670, -11174, 22302,  11422,  24297,  -1987,  -7191,  -9865,  -1285,  -20368, 16041,  -23034,
    -15644, 15891,  -16955, 1743,   7324,   -2350,  -18629, 11738,  21591,  16462,  -29270, -19217, 11181,  -22940,
    4651,   12202,  6373,   -2045,  -8257,  19570,  7488,   17290,  23592,  17185,  17411,  6138,   20839,  -4110,
    4788,   -17650, -19599, -23785, -22570, 22564,  5872,   30264,  -929,   20764,  699,    2270,   -4917,  -29364,
    5082,   2510,   -6388,  -4800,  -11982, -19424, 20140,  20405,  10837,  16257,  -8085,  -12930,
};
// PitchSweep(0, 3, -0.056126, -0.292893, 0.5, 0.8, 0.4) on seed 8, 600 samples
const int16_t ExpectedSweepDownShortLine[600] = {
    -9902,  13572,  17129,  7272,   8266,   -12973, -13310, -19209, -22142, -3084,  9310,   -1626,  -18726, -30394,
    15927,  10320,  26952,  -15733, 3150,   -11693, -28317, -18397, 2272,   6466,   7220,   1040,   -11955, -26268,
    -4560,  10401,  6213,   9022,   9835,   3637,   -1643,  -9682,  12484,  -26952, 16000,  32767,  19802,  -13724,
    -881,   11525,  -19408, 13071,  6798,   -11005, 29471,  21503,  5961,   9366,   -18008, 30436,  -12536, 3649,
    -25580, 2334,   -9264,  -8467,  -266,   -6701,  -22479, -13295, -6292,  -28640, -13915, -20247, 13095,  24183,
    4357,   -20087, 28528,  641,    10862,  -14864, -28509, -22927, -17545, -2021,  -23092, -5089,  -5894,  -5446,
    -20167, -455,   20195,  7298,   14591,  22481,  18583,  29460,  -4531,  4192,   17124,  20845,  2798,   -16982,
    -4641,  -194,   9532,   32767,  3809,   -10075, 3926,   -3082,  3432,   -12388, -27954, 1930,   5790,   -5742,
    5694,   1952,   5143,   6759,   6742,   32471,  -16713, 4231,   -15602, 5728,   -24386, -3864,  -14953, -15774,
    -10289, 10224,  -9216,  -11204, -25840, 17542,  -2576,  -7465,  2313,   16814,  10094,  -6716,  -4837,  -3950,
    -703,   10937,  13649,  25617,  15239,  27003,  19409,  27398,  -3447,  -17020, 22960,  18411,  5420,   14450,
    837,    30329,  -11513, -11498, 15816,  -20076, 19663,  565,    -13873, 5433,   -6069,  14189,  -17536, -1607,
    5154,   24638,  26629,  14086,  -7724,  -1384,  -10252, -3699,  17132,  -19871, 12474,  -10680, 5251,   12968,
    13247,  -4380,  11276,  5138,   -28256, -7198,  26259,  6192,   9822,   -9041,  1644,   17242,  -2710,  2222,
    5879,   14218,  -8583,  -12324, 16676,  23918,  8611,   9239,   2372,   -5651,  17606,  2983,   10256,  -3171,
    -4203,  150,    -19553, 4159,   25467,  14434,  -19526, 13448,  8874,   -6711,  -13996, -14836, 16113,  -154,
    -11806, -19772, 11761,  -14282, 2822,   14326,  20916,  -22878, 11820,  17128,  965,    -28042, -29606, -10008,
    4107,   10219,  8061,   -23217, 13366,  5676,   -281,   17665,  313,    18438,  12160,  10860,  3690,   2069,
    29632,  -28539, -22033, -22289, 15345,  11419,  17056,  -10323, 4657,   -8968,  -2977,  3597,   -7124,  15911,
    14089,  6350,   -20466, -12197, 21109,  -9382,  -32768, -17495, -25617, 24014,  -14068, 8532,   -22987, -6219,
    -18605, -2383,  -1431,  6543,   8544,   9529,   1350,   11988,  -20004, -8128,  8169,   -11218, -3150,  13259,
    -2784,  32767,  3040,   -21936, -1144,  -7682,  -20086, -21065, 9355,   21350,  8298,   6438,   5210,   24517,
    7064,   -4578,  -17426, 11871,  11432,  -10892, -5791,  -4300,  -3627,  -26121, -23864, -8724,  -1240,  26832,
    13483,  -2571,  -24940, -8275,  19809,  21965,  10170,  -9441,  -25065, 3475,   28012,  3102,   -16804, 6657,
    26050,  -2833,  3148,   -4754,  -16622, 10514,  -31266, -17980, -8177,  3509,   -970,   -14589, 12390,  14495,
    -24292, -14661, 27469,  32767,  32767,  13674,  6923,   17917,  -15446, -5991,  24736,  -24435, 12678,  17652,
    -14131, 10834,  3055,   -29166, -4825,  11316,  32767,  3373,   -16556, -6563,  10827,  -2300,  5659,   6659,
    20663,  -29503, -17345, -8528,  -12166, -32768, -17201, 11205,  14355,  29176,  4159,   27572,  -16058, 2976,
    20766,  -3771,  14956,  -32768, 13985,  -7795,  6903,   23482,  1420,   -19875, -21084, 11083,  -28164, -3901,
    24244,  10810,  -663,   -6430,  -2163,  5971,   5374,   -3866,  -3862,  22217,  30776,  12427,  -23022, -6312,
    8884,   -20243, -10482, -14370, -7564,  -14164, 10097,  -1419,  -20736, 4184,   13196,  -3354,  -18937, -19569,
    -11188, 31728,  -3795,  -8974,  -24446, 4555,   -16167, -12378, 5369,   -32768, 4963,   2798,   -18632, 6772,
    -11096, 6925,   -10005, 6791,   -17092, -16771, -12387, 712,    -2013,  32767,  1650,   -1621,  -17263, -5405,
    1803,   -13781, 24917,  3729,   980,    11994,  -22960, -17274, -2643,  10285,  -3510,  -10746, -19107, -3273,
    -28944, -6952,  -21598, -12720, -25631, -13095, 1105,   -23088, -17444, 7205,   20628,  -6501,  1305,   -15080,
    -15804, -1432,  -12558, 261,    24324,  -8767,  -1265,  -26742, 3620,   -6350,  1135,   -1620,  -19469, 202,
    28581,  27074,  -3499,  -17280, -5058,  6510,   -10609, -17525, -24900, 22566,  10178,  25921,  -87,    -32768,
    -19324, 24673,  20797,  3503,   13832,  11968,  -7192,  24810,  -21575, 8004,   31905,  23177,  -16185, -22532,
    -20979, -7845,  -2437,  -398,   -24761, 6324,   -126,   -5326,  -32768, 1682,   -14268, -13715, -14343, -1470,
    -15358, -7934,  22452,  -1121,  -17731, -19334, -5331,  -22619, -2728,  -8346,  -22923, 792,    3164,   -13032,
    -22146, 12908,  3348,   -24600, -7024,  -7544,  -24949, -13813, -8072,  -18438, 5055,   9932,   22985,  20808,
    30656,  32767,  32767,  27999,  6570,   22145,  -32768, 27779,  24353,  20096,  -11574, 6881,   -3110,  -9853,
    5621,   5654,   -13705, -32768, -30093, 20280,  28496,  -3144,  11425,  18659,  5150,   -3790,
};
} // namespace

// Sweep Up: S = Round(1 / 0.059463) = 17 down to Round(1 / 0.414214) = 2;
// Sweep Down: S = Round(1 / 0.056126) = 18 down to Round(1 / 0.292893) = 3.
// G = 772 - Round(265 / S): 772 - 16 = 756 and 772 - 132 = 640 (132.5 goes
// to the even 132); 772 - 15 = 757 and 772 - 88 = 684.
TEST(PitchSweep, PresetPlansStartAndEndWhereTheyShould)
{
    const PitchShiftPlan up = DerivePitchSweepPlan(15000, 0, 35, 0.059463, 0.414214, 0.0, 1.0, 0.0);
    ASSERT_TRUE(up.Valid);
    EXPECT_TRUE(up.Sweeps);
    EXPECT_EQ(up.L, 772);
    EXPECT_EQ(up.Dir, -1);
    EXPECT_EQ(up.D0, 772);
    EXPECT_EQ(up.S, 17);
    EXPECT_EQ(up.G, 756);
    EXPECT_EQ(up.SDir, -1);
    EXPECT_EQ(up.SMax, 17);
    EXPECT_EQ(up.SMin, 2);
    EXPECT_EQ(PitchRestartSteps(up.L, up.Dmin, up.SMin), 640);
    EXPECT_EQ(up.Q, 1000);

    const PitchShiftPlan down = DerivePitchSweepPlan(15000, 0, 35, -0.056126, -0.292893, 0.0, 1.0, 0.0);
    ASSERT_TRUE(down.Valid);
    EXPECT_EQ(down.L, 772);
    EXPECT_EQ(down.Dir, 1);
    EXPECT_EQ(down.D0, 0);
    EXPECT_EQ(down.S, 18);
    EXPECT_EQ(down.G, 757);
    EXPECT_EQ(down.SDir, -1);
    EXPECT_EQ(down.SMax, 18);
    EXPECT_EQ(down.SMin, 3);
    EXPECT_EQ(PitchRestartSteps(down.L, down.Dmin, down.SMin), 684);
    EXPECT_EQ(down.Q, 1000);

    // A sweep towards a larger S counts upwards.
    const PitchShiftPlan rising = DerivePitchSweepPlan(15000, 0, 35, 0.414214, 0.059463, 0.0, 1.0, 0.0);
    EXPECT_EQ(rising.SDir, 1);
    EXPECT_EQ(rising.SMin, 2);
    EXPECT_EQ(rising.SMax, 17);
}

TEST(PitchSweep, QIsCountOverFifteenRounded)
{
    struct Case {
        int32_t count;
        int64_t q;
    };
    for (const Case c :
         {Case{1, 0}, Case{7, 0}, Case{8, 1}, Case{22, 1}, Case{23, 2}, Case{220500, 14700}, Case{13230000, 882000}}) {
        EXPECT_EQ(DerivePitchSweepPlan(c.count, 0, 35, 0.059463, 0.414214, 0, 1, 0).Q, c.q) << c.count;
        EXPECT_EQ(DerivePitchSweepPlan(c.count, 0, 35, -0.056126, -0.292893, 0, 1, 0).Q, c.q) << c.count;
    }
}

// On a constant input the output holds still until the first restart, after
// G x S samples at the starting S (Q is far longer here), and the crossfade
// bump 10000 x (Sin[264] + Cos[264]) = 10059 comes one sample later.
TEST(PitchSweep, FirstRestartComesAfterTheFirstGSteps)
{
    struct Case {
        bool up;
        int32_t restart; // G x S
    };
    for (const Case c : {Case{true, 756 * 17}, Case{false, 757 * 18}}) {
        std::vector<int16_t> x(300000, 10000);
        if (c.up)
            SweepUpClip(x.data(), 300000);
        else
            SweepDownClip(x.data(), 300000);
        for (int32_t i = 800; i <= c.restart; ++i)
            ASSERT_EQ(x[i], 10000) << (c.up ? "up " : "down ") << i;
        EXPECT_EQ(x[c.restart + 1], 10059) << (c.up ? "up" : "down");
    }
}

// Seven samples: Q = Round(7 / 15) = 0, so S moves one stage after every
// sample (18, 17, 16, ...) while k counts up. The tap starts at delay 0 (the
// line's oldest value, still 0) and glides towards the previous sample:
// 10000 x k / S = 0, 10000/17, 20000/16, 30000/15, 40000/14, 50000/13, 60000/12.
TEST(PitchSweep, ShortClipMovesSAtEverySample)
{
    std::vector<int16_t> x(7, 10000);
    SweepDownClip(x.data(), 7);
    EXPECT_EQ(x, (std::vector<int16_t>{0, 588, 1250, 2000, 2857, 3846, 5000}));
}

// Sixteen samples of the ramp 1000, 2000, ...: Q = 1, S falls by one per
// sample. k meets S at sample 8 (k = S = 9): the delay steps to 1. Later S
// falls below k: after sample 13 S becomes 4 while k becomes 5, and the step
// must still be taken (k >= S), or the taps would run past their neighbour.
//   sample 13: 13000 x 1/5 + 12000 x 4/5 = 12200
//   sample 14: delay 2 -> 13000 x 4/4 = 13000
//   sample 15: 14000 x 2/3 + 13000 x 1/3 = 13666.67 -> 13667
TEST(PitchSweep, StepIsTakenWhenSShrinksBelowTheStepCounter)
{
    std::vector<int16_t> x(16);
    for (int i = 0; i < 16; ++i)
        x[i] = static_cast<int16_t>(1000 * (i + 1));
    SweepDownClip(x.data(), 16);
    EXPECT_EQ(x, (std::vector<int16_t>{0, 59, 250, 600, 1143, 1923, 3000, 4455, 6400, 9000, 9875, 10714, 11500, 12200,
                                       13000, 13667}));
}

TEST(PitchSweep, ShortClipsOfEveryLengthRunWithoutError)
{
    const std::vector<int16_t> source = ReferenceClip(40, 12);
    for (int32_t n = 1; n <= 40; ++n) {
        for (bool up : {true, false}) {
            std::vector<int16_t> x(source.begin(), source.begin() + n);
            x.push_back(12345); // guard sample beyond the clip
            if (up)
                SweepUpClip(x.data(), n);
            else
                SweepDownClip(x.data(), n);
            EXPECT_EQ(x.back(), 12345) << n;
        }
    }
}

// 66-sample line (3 ms): S runs 17 -> 2 in 15 stages of 40 samples, and from
// S = 4 on G = 66 - Round(265 / S) is 0 or less, so the taps restart at every
// step.
TEST(PitchSweep, SweepUpOnAShortLineMatchesTheReference)
{
    std::vector<int16_t> x = ReferenceClip(600, 3);
    PitchSweep(x.data(), 600, 0, 3, 0.059463, 0.414214, 0.0, 1.0, 0.0);
    EXPECT_EQ(x, std::vector<int16_t>(std::begin(ExpectedSweepUpShortLine), std::end(ExpectedSweepUpShortLine)));
}

TEST(PitchSweep, SweepDownWithDryAndFeedbackMatchesTheReference)
{
    std::vector<int16_t> x = ReferenceClip(600, 8);
    PitchSweep(x.data(), 600, 0, 3, -0.056126, -0.292893, 0.5, 0.8, 0.4);
    EXPECT_EQ(x, std::vector<int16_t>(std::begin(ExpectedSweepDownShortLine), std::end(ExpectedSweepDownShortLine)));
}

// Ten seconds of a 220.5 Hz tone. The output's level stays that of the tone
// (the crossfades add at most a factor of sqrt 2 briefly) and its pitch moves
// the right way: ratio 18/17 -> 3/2 for Sweep Up, 17/18 -> 2/3 for Sweep Down.
TEST(PitchSweep, LongSweepOnAToneStaysBoundedAndMovesThePitch)
{
    const size_t n = 220500, second = 22050;
    const std::vector<int16_t> tone = Tone(n, 100.0, 8000.0);
    const double toneRms = Rms(tone, 0, second);
    for (bool up : {true, false}) {
        std::vector<int16_t> x = tone;
        if (up)
            SweepUpClip(x.data(), static_cast<int32_t>(n));
        else
            SweepDownClip(x.data(), static_cast<int32_t>(n));
        int peak = 0;
        for (size_t i = 0; i < n; ++i)
            peak = std::max(peak, std::abs(static_cast<int>(x[i])));
        EXPECT_LE(peak, 11400) << up; // 8000 x 1.4143 = 11314, plus rounding
        for (size_t from = second; from + second <= n; from += second) {
            const double rms = Rms(x, from, from + second);
            EXPECT_GT(rms, 0.8 * toneRms) << up << " second " << from / second;
            EXPECT_LT(rms, 1.2 * toneRms) << up << " second " << from / second;
        }
        const int first = UpwardCrossings(x, second / 10, second);
        const int last = UpwardCrossings(x, n - second + second / 10, n);
        // Reading at 18/17 then 4/3 .. 3/2 of the speed; 17/18 then 3/4 .. 2/3.
        if (up) {
            EXPECT_NEAR(first, 0.9 * 220.5 * 18 / 17, 6);
            EXPECT_GT(last, 0.9 * 220.5 * 4 / 3 - 6);
        } else {
            EXPECT_NEAR(first, 0.9 * 220.5 * 17 / 18, 6);
            EXPECT_LT(last, 0.9 * 220.5 * 3 / 4 + 6);
        }
    }
}

TEST(PitchSweep, SilenceStaysSilent)
{
    for (bool up : {true, false}) {
        std::vector<int16_t> x(50000, 0);
        if (up)
            SweepUpClip(x.data(), 50000);
        else
            SweepDownClip(x.data(), 50000);
        EXPECT_EQ(x, std::vector<int16_t>(50000, 0)) << up;
    }
}

// With the same start and end rate there is nothing to sweep: the result is
// the plain shifter's, sample for sample.
TEST(PitchSweep, EqualRatesGiveThePlainShift)
{
    for (double rate : {0.414214, -0.292893, 0.0}) {
        std::vector<int16_t> swept = ReferenceClip(5000, 21);
        std::vector<int16_t> shifted = swept;
        PitchSweep(swept.data(), 5000, 0, 25, rate, rate, 0.0, 1.0, 0.0);
        PitchShift(shifted.data(), 5000, 0, 25, rate, 0.0, 1.0, 0.0);
        EXPECT_EQ(swept, shifted) << rate;
    }
}

TEST(PitchSweep, CountZeroAndBadArgumentsChangeNothing)
{
    const std::vector<int16_t> original = ReferenceClip(100, 5);
    auto unchanged = [&](auto run) {
        std::vector<int16_t> x = original;
        run(x.data());
        return x == original;
    };
    EXPECT_TRUE(unchanged([](int16_t *p) { SweepUpClip(p, 0); }));
    EXPECT_TRUE(unchanged([](int16_t *p) { SweepDownClip(p, -100); }));
    EXPECT_TRUE(unchanged([](int16_t *p) { PitchSweep(p, 100, 0, 35, 0.059463, NAN, 0, 1, 0); }));
    EXPECT_TRUE(unchanged([](int16_t *p) { PitchSweep(p, 100, 0, 0, 0.059463, 0.414214, 0, 1, 0); }));
    SweepUpClip(nullptr, 100);
    SweepDownClip(nullptr, 100);
}

TEST(PitchSweep, ProgressAdvancesOnceEveryCountDivStepSamples)
{
    for (bool up : {true, false}) {
        ProgressGauge gauge;
        ResetProgress(gauge, 120);
        std::vector<int16_t> x = ReferenceClip(1000, 1);
        if (up)
            SweepUpClip(x.data(), 1000, {&gauge, 40});
        else
            SweepDownClip(x.data(), 1000, {&gauge, 40});
        EXPECT_EQ(gauge.Progress(), 40) << up; // every 25 samples
    }
}
