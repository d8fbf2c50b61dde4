// SPDX-License-Identifier: GPL-3.0-or-later
// The faster loops against the routines as they were (routinesbefore.h):
// the same samples and the same gauge units over long runs of loud, quiet,
// clipping, silent and random signals, with the parameters the program uses
// and others around them.
#include "effects/delay.h"
#include "effects/filters.h"
#include "effects/pitch.h"
#include "effects/reverse.h"
#include "effects/sample.h"
#include "effecttesting.h"
#include "routinesbefore.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace {

using Routine = std::function<void(int16_t *, int32_t, ProgressShare)>;

// Signals that reach every corner of the loops: full-scale noise (the
// filters clip), speech-like bursts with exact silences between them (the
// resonator decays through tiny values to 0), a quiet hiss of a few units,
// a full-scale square wave and a slow tone.
std::vector<std::vector<int16_t>> Signals(size_t n, uint32_t seed)
{
    std::mt19937 random(seed);
    std::vector<std::vector<int16_t>> all;
    std::uniform_int_distribution<int> full(-32768, 32767);
    std::vector<int16_t> noise(n);
    for (int16_t &v : noise)
        v = static_cast<int16_t>(full(random));
    all.push_back(noise);

    std::vector<int16_t> speech(n, 0);
    double low = 0;
    for (size_t i = 0; i < n; ++i) {
        low += 0.2 * (full(random) - low);
        const size_t syllable = i / 4410;
        if (syllable % 5 != 4)
            speech[i] = static_cast<int16_t>(std::lround(low * 0.9 * std::sin(std::numbers::pi * (i % 4410) / 4410.0)));
    }
    all.push_back(speech);

    std::uniform_int_distribution<int> hiss(-3, 3);
    std::vector<int16_t> quiet(n);
    for (size_t i = 0; i < n; ++i)
        quiet[i] = (i / 3000) % 3 == 2 ? 0 : static_cast<int16_t>(hiss(random));
    all.push_back(quiet);

    std::vector<int16_t> square(n);
    for (size_t i = 0; i < n; ++i)
        square[i] = (i / 37) % 2 ? 32767 : -32768;
    all.push_back(square);

    all.push_back(Tone(n, 441.3, 30000));
    return all;
}

// Runs both versions over each signal with a counting gauge and compares
// the samples and the units the gauge was given.
void ExpectSameAsBefore(const std::string &what, const Routine &now, const Routine &before, size_t n, uint32_t seed,
                        int32_t progressStep = 10)
{
    int index = 0;
    for (const std::vector<int16_t> &signal : Signals(n, seed)) {
        std::vector<int16_t> fast = signal;
        std::vector<int16_t> slow = signal;
        CountingGauge fastGauge;
        CountingGauge slowGauge;
        now(fast.data(), static_cast<int32_t>(n), {&fastGauge, progressStep});
        before(slow.data(), static_cast<int32_t>(n), {&slowGauge, progressStep});
        size_t firstDifference = 0;
        while (firstDifference < n && fast[firstDifference] == slow[firstDifference])
            ++firstDifference;
        EXPECT_EQ(firstDifference, n) << what << ", signal " << index << ": first difference at sample "
                                      << firstDifference;
        EXPECT_EQ(fastGauge.Progress(), slowGauge.Progress()) << what << ", signal " << index;
        ++index;
    }
}

} // namespace

// The inlined conversion against the library's llrint on halves, the ends
// of the 64-bit range, infinities, NaN and a million random doubles.
TEST(FasterRoutines, RoundHalfEvenIsTheLibrarysRounding)
{
    const double edges[] = {0.5,
                            -0.5,
                            1.5,
                            2.5,
                            -2.5,
                            0x1p52 + 1,
                            -0x1p52 - 1,
                            0x1p53,
                            0x1p63,
                            -0x1p63,
                            0x1p64,
                            std::nextafter(0x1p63, 0.0),
                            std::numeric_limits<double>::infinity(),
                            -std::numeric_limits<double>::infinity(),
                            std::numeric_limits<double>::quiet_NaN(),
                            std::numeric_limits<double>::denorm_min(),
                            -0.0};
    for (double x : edges)
        EXPECT_EQ(RoundHalfEven(x), Before::RoundHalfEven(x)) << std::hexfloat << x;
    std::mt19937_64 random(3);
    for (int n = 0; n < 1000000; ++n) {
        double x = std::bit_cast<double>(random());
        if (n % 2)
            x = std::ldexp(static_cast<double>(static_cast<int64_t>(random())) / 0x1p63, static_cast<int>(n % 70));
        ASSERT_EQ(RoundHalfEven(x), Before::RoundHalfEven(x)) << std::hexfloat << x;
    }
}

// Two million samples (four million 48-bit steps) per preset and signal.
TEST(FasterRoutines, BassAndTrebleOnlyMatchTheExtendedPrecisionLoop)
{
    const Real48 bass[4] = {1.3L, 0.0L, 0.0L, 0.0L};
    const Real48 treble[4] = {0.0L, 0.0L, 0.0L, 2.5L};
    for (const Real48 *gains : {bass, treble}) {
        ExpectSameAsBefore(
            gains == bass ? "Bass Only" : "Treble Only",
            [gains](int16_t *s, int32_t n, ProgressShare g) { ResonatorFilter(s, n, gains, true, g); },
            [gains](int16_t *s, int32_t n, ProgressShare g) { Before::ResonatorFilter(s, n, gains, true, g); }, 2000000,
            gains == bass ? 1 : 2);
    }
}

// Other gains: one section at a time with a gain that is not a short
// binary fraction, and several sections at once (the general loop).
TEST(FasterRoutines, OtherGainsMatchTheExtendedPrecisionLoop)
{
    const Real48 gainSets[][4] = {{0.0L, 0.7L, 0.0L, 0.0L}, {0.0L, 0.0L, -3.3L, 0.0L}, {1.3L, 0.7L, 0.0L, 2.5L}};
    int set = 0;
    for (const auto &gains : gainSets) {
        ExpectSameAsBefore(
            "gain set " + std::to_string(set++),
            [&gains](int16_t *s, int32_t n, ProgressShare g) { ResonatorFilter(s, n, gains, true, g); },
            [&gains](int16_t *s, int32_t n, ProgressShare g) { Before::ResonatorFilter(s, n, gains, true, g); }, 300000,
            5, 7);
    }
}

// The stream gives the whole-clip result whatever the block sizes.
TEST(FasterRoutines, ResonatorStreamBlocksGiveTheWholeClip)
{
    const Real48 bass[4] = {1.3L, 0.0L, 0.0L, 0.0L};
    std::vector<int16_t> whole = Signals(100000, 9)[1];
    std::vector<int16_t> blocks = whole;
    {
        CountingGauge gauge;
        ResonatorFilter(whole.data(), 100000, bass, true, {&gauge, 10});
        ResonatorStream stream(bass, 100000, true, 10);
        int32_t units = 0;
        std::mt19937 random(4);
        for (int32_t i = 0; i < 100000;) {
            const int32_t n = std::min<int32_t>(100000 - i, static_cast<int32_t>(random() % 5000));
            units += stream.Process(blocks.data() + i, n);
            i += n;
        }
        EXPECT_EQ(units, gauge.Progress());
    }
    EXPECT_EQ(blocks, whole);
}

TEST(FasterRoutines, EchoMatchesTheModuloLoop)
{
    struct Case {
        int32_t delayMs, decay;
        double regeneration;
        int32_t extra; // room beyond the clip
    };
    const Case cases[] = {{300, 70, 0.0, 0},  {300, 70, 0.0, 20000}, {300, 70, 0.0, 3000},
                          {45, 55, 0.6, 500}, {1, 100, 1.0, 7},      {2, 70, -0.5, 1}};
    for (const Case &c : cases) {
        ExpectSameAsBefore(
            "echo " + std::to_string(c.delayMs) + " ms",
            [c](int16_t *s, int32_t n, ProgressShare g) {
                std::vector<int16_t> room(s, s + n);
                room.resize(static_cast<size_t>(n + c.extra), 0);
                const int32_t m = EchoEffect(room.data(), n, c.delayMs, c.decay, c.regeneration, n + c.extra, g);
                std::copy(room.begin(), room.begin() + std::min(m, n), s);
                // The tail past the clip must match as well: fold it in.
                for (int32_t i = n; i < m; ++i)
                    s[i % n] = static_cast<int16_t>(s[i % n] ^ room[i]);
            },
            [c](int16_t *s, int32_t n, ProgressShare g) {
                std::vector<int16_t> room(s, s + n);
                room.resize(static_cast<size_t>(n + c.extra), 0);
                const int32_t m =
                    Before::EchoEffect(room.data(), n, c.delayMs, c.decay, c.regeneration, n + c.extra, g);
                std::copy(room.begin(), room.begin() + std::min(m, n), s);
                for (int32_t i = n; i < m; ++i)
                    s[i % n] = static_cast<int16_t>(s[i % n] ^ room[i]);
            },
            400000, 11);
    }
}

TEST(FasterRoutines, ModulatedDelayMatchesTheDividingLoop)
{
    struct Case {
        int32_t minMs, maxMs, rate;
        double dry, feedback;
    };
    const Case cases[] = {
        {20, 40, 20, 1.0, 0.0}, // Chorus
        {12, 12, 0, 0.0, 0.75}, // Robot voice
        {0, 6, 6, 0.9, 0.5},    // Flange
        {0, 6, -6, 0.9, 0.5},   // a negative rate sweeps the same way
        {3, 9, 500, 0.3, -0.9}, // a step of one sample
        {0, 30, 1, 1.7, 0.97},  // a long step
        {5, 40, 0, 0.55, -0.3}, // no sweep, some dry
        {0, 2, 3, 20.0, 0.1},   // a dry gain past the shortcut
    };
    for (const Case &c : cases) {
        ExpectSameAsBefore(
            "modulated delay " + std::to_string(c.minMs) + ".." + std::to_string(c.maxMs) + " rate " +
                std::to_string(c.rate),
            [c](int16_t *s, int32_t n, ProgressShare g) {
                ModulatedDelay(s, n, c.minMs, c.maxMs, c.rate, c.dry, c.feedback, g);
            },
            [c](int16_t *s, int32_t n, ProgressShare g) {
                Before::ModulatedDelay(s, n, c.minMs, c.maxMs, c.rate, c.dry, c.feedback, g);
            },
            400000, 12);
    }
}

TEST(FasterRoutines, PitchShifterAndSweepsMatchTheDividingLoop)
{
    for (int32_t amount = 0; amount <= 12; ++amount) {
        PitchAmountSetting setting;
        if (!PitchAmountSettings(amount, setting))
            continue;
        const PitchShiftPlan plan = DerivePitchShiftPlan(0, setting.MaxDelayMs, setting.Rate, 0.0, 1.0, 0.0);
        ExpectSameAsBefore(
            "pitch amount " + std::to_string(amount),
            [amount](int16_t *s, int32_t n, ProgressShare g) { PitchShiftClip(s, n, amount, g); },
            [plan](int16_t *s, int32_t n, ProgressShare g) { Before::RunPitchShifter(s, n, plan, g); }, 300000,
            static_cast<uint32_t>(20 + amount));
    }
    const size_t n = 400000;
    for (bool up : {true, false}) {
        const PitchShiftPlan plan =
            up ? DerivePitchSweepPlan(static_cast<int32_t>(n), 0, 35, 0.059463, 0.414214, 0.0, 1.0, 0.0)
               : DerivePitchSweepPlan(static_cast<int32_t>(n), 0, 35, -0.056126, -0.292893, 0.0, 1.0, 0.0);
        ExpectSameAsBefore(
            up ? "Sweep Up" : "Sweep Down",
            [up](int16_t *s, int32_t count, ProgressShare g) {
                up ? SweepUpClip(s, count, g) : SweepDownClip(s, count, g);
            },
            [plan](int16_t *s, int32_t count, ProgressShare g) { Before::RunPitchShifter(s, count, plan, g); }, n,
            up ? 40 : 41);
    }
    // Dry signal, feedback and a smallest delay: the general mix.
    const PitchShiftPlan mixed = DerivePitchShiftPlan(3, 20, 0.2, 0.4, 0.8, 0.45);
    ExpectSameAsBefore(
        "pitch with feedback", [mixed](int16_t *s, int32_t n, ProgressShare g) { RunPitchShifter(s, n, mixed, g); },
        [mixed](int16_t *s, int32_t n, ProgressShare g) { Before::RunPitchShifter(s, n, mixed, g); }, 200000, 50);
}

TEST(FasterRoutines, ReverseAndFadesMatchTheCopyingAndDividingLoops)
{
    for (int32_t step : {10, 7, 1, 0, -4}) {
        ExpectSameAsBefore(
            "reverse", [](int16_t *s, int32_t n, ProgressShare g) { ReverseClip(s, n, g); },
            [](int16_t *s, int32_t n, ProgressShare g) { Before::ReverseClip(s, n, g); }, 100001, 60, step);
        ExpectSameAsBefore(
            "fade in", [](int16_t *s, int32_t n, ProgressShare g) { FadeInClip(s, n, g); },
            [](int16_t *s, int32_t n, ProgressShare g) { Before::FadeInClip(s, n, g); }, 400000, 61, step);
        ExpectSameAsBefore(
            "fade out", [](int16_t *s, int32_t n, ProgressShare g) { FadeOutClip(s, n, g); },
            [](int16_t *s, int32_t n, ProgressShare g) { Before::FadeOutClip(s, n, g); }, 400000, 62, step);
    }
    // Short clips, where the gauge's interval is a sample or two.
    for (int32_t n : {2, 3, 4, 5, 11, 20, 21}) {
        ExpectSameAsBefore(
            "short reverse", [](int16_t *s, int32_t c, ProgressShare g) { ReverseClip(s, c, g); },
            [](int16_t *s, int32_t c, ProgressShare g) { Before::ReverseClip(s, c, g); }, static_cast<size_t>(n), 70,
            10);
        ExpectSameAsBefore(
            "short fade in", [](int16_t *s, int32_t c, ProgressShare g) { FadeInClip(s, c, g); },
            [](int16_t *s, int32_t c, ProgressShare g) { Before::FadeInClip(s, c, g); }, static_cast<size_t>(n), 71, 5);
        ExpectSameAsBefore(
            "short fade out", [](int16_t *s, int32_t c, ProgressShare g) { FadeOutClip(s, c, g); },
            [](int16_t *s, int32_t c, ProgressShare g) { Before::FadeOutClip(s, c, g); }, static_cast<size_t>(n), 72,
            5);
    }
}
