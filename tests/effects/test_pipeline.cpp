// SPDX-License-Identifier: GPL-3.0-or-later
// The effect pipeline: refill rules, fixed order, lengths, rates and the
// progress gauge, run over real signal routines.
#include "effects/pipeline.h"

#include "effects/delay.h"
#include "effects/filters.h"
#include "effects/pitch.h"
#include "effects/reverse.h"
#include "effecttesting.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

namespace {

constexpr uint32_t VoiceRate = 22050;

std::vector<int16_t> TestVoice(int32_t count)
{
    std::vector<int16_t> x(count);
    for (int32_t i = 0; i < count; ++i)
        x[i] = static_cast<int16_t>((static_cast<int64_t>(i) * 31153) % 24000 - 12000);
    return x;
}

// The main window's buffers: the voice, and a working buffer of the given
// capacity holding the copy made when the voice was loaded.
struct Buffers {
    std::vector<int16_t> voice;
    std::vector<int16_t> work;
    bool workAltered = false;

    Buffers(std::vector<int16_t> v, std::size_t capacitySamples) : voice(std::move(v)), work(capacitySamples, 0)
    {
        std::copy(voice.begin(), voice.end(), work.begin());
    }

    PipelineResult Run(const TEffectSet &effects, ProgressGauge *gauge = nullptr)
    {
        return RunEffectPipeline(voice.data(), static_cast<int32_t>(2 * voice.size()), work.data(),
                                 static_cast<int32_t>(2 * work.size()), workAltered, effects, VoiceRate, gauge);
    }

    std::vector<int16_t> Processed(const PipelineResult &r) const
    {
        return std::vector<int16_t>(work.begin(), work.begin() + r.WorkBytes / 2);
    }
};

struct RecordingGauge : ProgressGauge {
    int changes = 0;

protected:
    void PercentChanged(int32_t) override { ++changes; }
};

// Selects the first n processing effects of a fixed list.
TEffectSet FirstEffects(int n)
{
    TEffectSet s;
    bool *flags[] = {&s.Echo,    &s.Chorus,   &s.Robotvoice, &s.Backward, &s.Flange,   &s.FadeIn,
                     &s.FadeOut, &s.BassOnly, &s.TrebleOnly, &s.SweepUp,  &s.SweepDown};
    for (int i = 0; i < std::min(n, 11); ++i)
        *flags[i] = true;
    if (n == 12)
        s.PitchPosition = 2;
    return s;
}

} // namespace

TEST(Pipeline, NothingSelectedAndUnalteredLeavesBufferAndGaugeAlone)
{
    Buffers b(TestVoice(300), 400);
    std::fill(b.work.begin() + 300, b.work.end(), 7); // whatever lies beyond the copy
    const std::vector<int16_t> before = b.work;
    RecordingGauge gauge;
    ResetProgress(gauge, 50);
    gauge.SetProgress(20);
    const int changesBefore = gauge.changes;

    const PipelineResult r = b.Run(TEffectSet{}, &gauge);

    EXPECT_EQ(r.WorkBytes, 600);
    EXPECT_EQ(r.SampleRate, VoiceRate);
    EXPECT_EQ(b.work, before);
    EXPECT_FALSE(b.workAltered);
    EXPECT_EQ(gauge.MaxValue(), 50);
    EXPECT_EQ(gauge.Progress(), 20);
    EXPECT_EQ(gauge.changes, changesBefore);
    EXPECT_EQ(r.ProgressStep, 0);
}

TEST(Pipeline, SlowMonsterAndFastSqueakerChangeOnlyTheRate)
{
    struct Case {
        bool slow;
        bool fast;
        uint32_t rate;
    };
    for (const Case c : {Case{true, false, 11025}, Case{false, true, 44100}, Case{true, true, 44100}}) {
        Buffers b(TestVoice(300), 300);
        TEffectSet s;
        s.SlowMonster = c.slow;
        s.FastSqueaker = c.fast;
        RecordingGauge gauge;
        const PipelineResult r = b.Run(s, &gauge);
        EXPECT_EQ(r.SampleRate, c.rate);
        EXPECT_EQ(r.WorkBytes, 600);
        EXPECT_EQ(b.work, b.voice);
        EXPECT_FALSE(b.workAltered);
        EXPECT_EQ(gauge.changes, 0);
    }
}

TEST(Pipeline, BackwardRunsBeforeFadeIn)
{
    // Reversed: 16384, 0, 0, 0, 1000; the fade-in then silences the start
    // and lifts the 1000 at the end by 32767/16384 to Round(1999.94) = 2000.
    // The other order would give 32767, 0, 0, 0, 0.
    Buffers b({1000, 0, 0, 0, 16384}, 5);
    TEffectSet s;
    s.Backward = s.FadeIn = true;
    const PipelineResult r = b.Run(s);
    EXPECT_EQ(b.Processed(r), (std::vector<int16_t>{0, 0, 0, 0, 2000}));
    EXPECT_TRUE(b.workAltered);
}

TEST(Pipeline, EchoIsReversedWithTheClip)
{
    std::vector<int16_t> voice(7000, 0);
    voice[0] = 1000;
    Buffers b(voice, 2 * 7000 + 6615);
    TEffectSet s;
    s.Echo = s.Backward = true;
    const PipelineResult r = b.Run(s);
    ASSERT_EQ(r.WorkBytes, 2 * (7000 + 6615));
    // Echo: 1000 at 0 and 700 at 6614, 13615 samples; reversed: 700 at
    // 13614 - 6614 = 7000 and 1000 at 13614.
    std::vector<int16_t> expected(13615, 0);
    expected[7000] = 700;
    expected[13614] = 1000;
    EXPECT_EQ(b.Processed(r), expected);
}

TEST(Pipeline, EchoKeepsLengthWhenCapacityEqualsTheVoice)
{
    Buffers b(TestVoice(8000), 8000);
    TEffectSet s;
    s.Echo = true;
    const PipelineResult r = b.Run(s);
    EXPECT_EQ(r.WorkBytes, 16000);

    std::vector<int16_t> expected = b.voice;
    EchoEffect(expected.data(), 8000, 300, 70, 0.0, 8000);
    EXPECT_EQ(b.Processed(r), expected);
}

TEST(Pipeline, EchoGrowsIntoLargerCapacity)
{
    Buffers b(TestVoice(8000), 20000);
    TEffectSet s;
    s.Echo = true;
    EXPECT_EQ(b.Run(s).WorkBytes, 2 * (8000 + 6615));

    Buffers tight(TestVoice(8000), 10000);
    EXPECT_EQ(tight.Run(s).WorkBytes, 2 * 10000);
}

TEST(Pipeline, AlteredBufferIsRefilledFromTheVoiceAndZeroedBeyond)
{
    Buffers b(TestVoice(8000), 20000);
    TEffectSet echo;
    echo.Echo = true;
    b.Run(echo);
    ASSERT_TRUE(b.workAltered);
    ASSERT_NE(b.work[8000 + 100], 0); // the echo's tail lies beyond the voice

    const PipelineResult r = b.Run(TEffectSet{});
    EXPECT_EQ(r.WorkBytes, 16000);
    EXPECT_TRUE(std::equal(b.voice.begin(), b.voice.end(), b.work.begin()));
    EXPECT_TRUE(std::all_of(b.work.begin() + 8000, b.work.end(), [](int16_t v) { return v == 0; }));
    EXPECT_TRUE(b.workAltered); // nothing sets it back
}

TEST(Pipeline, SecondRunStartsAgainFromTheVoice)
{
    Buffers b({1000, 0, 0, 0, 16384}, 5);
    TEffectSet s;
    s.Backward = true;
    b.Run(s);
    const PipelineResult r = b.Run(s);
    EXPECT_EQ(b.Processed(r), (std::vector<int16_t>{16384, 0, 0, 0, 1000}));
}

struct StepCase {
    int effects;
    int32_t step;
};

class PipelineProgressStep : public testing::TestWithParam<StepCase> {};

TEST_P(PipelineProgressStep, Is120DividedByTheNumberOfEffects)
{
    const StepCase c = GetParam();
    Buffers b(TestVoice(64), 64);
    EXPECT_EQ(b.Run(FirstEffects(c.effects)).ProgressStep, c.step);
}

INSTANTIATE_TEST_SUITE_P(OneToTwelve, PipelineProgressStep,
                         testing::Values(StepCase{1, 120}, StepCase{2, 60}, StepCase{3, 40}, StepCase{4, 30},
                                         StepCase{5, 24}, StepCase{6, 20}, StepCase{7, 17}, StepCase{8, 15},
                                         StepCase{9, 13}, StepCase{10, 12}, StepCase{11, 10}, StepCase{12, 10}));

TEST(Pipeline, GaugeIsResetTo120WhenAnEffectRuns)
{
    RecordingGauge gauge;
    ResetProgress(gauge, 50);
    gauge.SetProgress(30);
    // 100 samples give an interval of 0: reversing advances nothing, so the
    // gauge shows only the reset.
    Buffers b(TestVoice(100), 100);
    TEffectSet s;
    s.Backward = true;
    b.Run(s, &gauge);
    EXPECT_EQ(gauge.MaxValue(), 120);
    EXPECT_EQ(gauge.Progress(), 0);

    // 1000 samples: one advance every 8, 125 in all, held at the top.
    Buffers longer(TestVoice(1000), 1000);
    longer.Run(s, &gauge);
    EXPECT_EQ(gauge.Progress(), 120);
}

TEST(Pipeline, TrebleOnlyRunsWithProgressOn)
{
    // Two filter steps per sample: e = 1999 div 120 = 16, advances at every
    // 16th step and at most e - 1 = 15 of them.
    RecordingGauge gauge;
    Buffers b(TestVoice(1000), 1000);
    TEffectSet s;
    s.TrebleOnly = true;
    const PipelineResult r = b.Run(s, &gauge);
    EXPECT_EQ(gauge.Progress(), 15);

    std::vector<int16_t> expected = b.voice;
    TrebleOnlyClip(expected.data(), 1000, false);
    EXPECT_EQ(b.Processed(r), expected);
}

TEST(Pipeline, PitchAmountIsTwelveMinusThePosition)
{
    for (int32_t position : {0, 2, 5, 7, 12}) {
        Buffers b(TestVoice(3000), 3000);
        TEffectSet s;
        s.PitchPosition = position;
        const PipelineResult r = b.Run(s);
        std::vector<int16_t> expected = b.voice;
        PitchShiftClip(expected.data(), 3000, 12 - position);
        EXPECT_EQ(b.Processed(r), expected) << "position " << position;
        EXPECT_NE(b.Processed(r), b.voice) << "position " << position;
    }
}

TEST(Pipeline, SweepsRunBeforeEverythingElse)
{
    const std::vector<int16_t> voice = TestVoice(4000);
    Buffers b(voice, 4000);
    TEffectSet s;
    s.SweepUp = s.SweepDown = s.Robotvoice = true;
    const PipelineResult r = b.Run(s);

    std::vector<int16_t> expected = voice;
    SweepUpClip(expected.data(), 4000);
    SweepDownClip(expected.data(), 4000);
    ModulatedDelay(expected.data(), 4000, 12, 12, 0, 0.0, 0.75);
    EXPECT_EQ(b.Processed(r), expected);

    std::vector<int16_t> robotFirst = voice;
    ModulatedDelay(robotFirst.data(), 4000, 12, 12, 0, 0.0, 0.75);
    SweepUpClip(robotFirst.data(), 4000);
    SweepDownClip(robotFirst.data(), 4000);
    EXPECT_NE(expected, robotFirst); // the order is audible
}

TEST(Pipeline, AllTwelveInTheirFixedOrder)
{
    const std::vector<int16_t> voice = TestVoice(6000);
    Buffers b(voice, 6000 + 6615);
    TEffectSet s = FirstEffects(12);
    s.SlowMonster = true;
    RecordingGauge gauge;
    const PipelineResult r = b.Run(s, &gauge);
    EXPECT_EQ(r.ProgressStep, 10);
    EXPECT_EQ(r.SampleRate, 11025u);
    ASSERT_EQ(r.WorkBytes, 2 * (6000 + 6615));

    std::vector<int16_t> x = voice;
    x.resize(6000 + 6615);
    SweepUpClip(x.data(), 6000);
    SweepDownClip(x.data(), 6000);
    const int32_t n = EchoEffect(x.data(), 6000, 300, 70, 0.0, 6000 + 6615);
    ModulatedDelay(x.data(), n, 20, 40, 20, 1.0, 0.0);
    ModulatedDelay(x.data(), n, 12, 12, 0, 0.0, 0.75);
    ReverseClip(x.data(), n);
    ModulatedDelay(x.data(), n, 0, 6, 6, 0.9, 0.5);
    PitchShiftClip(x.data(), n, 10);
    FadeInClip(x.data(), n);
    FadeOutClip(x.data(), n);
    BassOnlyClip(x.data(), n);
    TrebleOnlyClip(x.data(), n, true);
    EXPECT_EQ(b.Processed(r), x);
    EXPECT_GT(gauge.Progress(), 0);
    EXPECT_LE(gauge.Progress(), 120);
}

TEST(Pipeline, OddByteVoiceKeepsItsByteCount)
{
    // 7 bytes: three whole samples are processed, the length is reported
    // as given.
    std::vector<int16_t> voice = {100, 200, 300, 400};
    std::vector<int16_t> work = voice;
    bool altered = true;
    TEffectSet s;
    s.Backward = true;
    const PipelineResult r = RunEffectPipeline(voice.data(), 7, work.data(), 8, altered, s, VoiceRate);
    EXPECT_EQ(r.WorkBytes, 7);
    EXPECT_EQ(work[0], 300);
    EXPECT_EQ(work[2], 100);
}

TEST(Pipeline, VoiceLargerThanTheWorkingBufferIsCutToFit)
{
    std::vector<int16_t> voice = TestVoice(100);
    std::vector<int16_t> work(50, 0);
    bool altered = true;
    const PipelineResult r = RunEffectPipeline(voice.data(), 200, work.data(), 100, altered, TEffectSet{}, VoiceRate);
    EXPECT_EQ(r.WorkBytes, 100);
    EXPECT_TRUE(std::equal(work.begin(), work.end(), voice.begin()));
}

// On a clip long enough for two threads, Bass Only and Treble Only together
// give exactly the two routines run one after the other, and the gauge the
// same units, whatever else is on before them.
TEST(EffectPipeline, BassAndTrebleOnTwoThreadsEqualTheTwoRunsInTurn)
{
    const int32_t count = 300007; // several blocks and a short last one
    std::vector<int16_t> voice(count);
    uint32_t seed = 5;
    for (int16_t &v : voice) {
        seed = seed * 1664525u + 1013904223u;
        v = static_cast<int16_t>(seed >> 16);
    }
    for (bool withFade : {false, true}) {
        TEffectSet s;
        s.BassOnly = s.TrebleOnly = true;
        s.FadeIn = withFade;
        Buffers b(voice, count);
        RecordingGauge gauge;
        const PipelineResult r = b.Run(s, &gauge);

        std::vector<int16_t> expected = voice;
        RecordingGauge expectedGauge;
        ResetProgress(expectedGauge, 120);
        const ProgressShare share{&expectedGauge, withFade ? 40 : 60};
        if (withFade)
            FadeInClip(expected.data(), count, share);
        BassOnlyClip(expected.data(), count, share);
        TrebleOnlyClip(expected.data(), count, true, share);
        EXPECT_EQ(b.Processed(r), expected) << withFade;
        EXPECT_EQ(gauge.Progress(), expectedGauge.Progress()) << withFade;
        EXPECT_GT(gauge.Progress(), 0);
    }
}

// Every step on a clip long enough for the steps to share two threads, with
// room for the echo to lengthen it: the same samples, length and gauge
// units as the routines run one after the other in the pipeline's order.
TEST(EffectPipeline, EveryStepOnTwoThreadsEqualsTheRoutinesInTurn)
{
    const int32_t count = 200003;
    std::vector<int16_t> voice(count);
    uint32_t seed = 77;
    for (int32_t i = 0; i < count; ++i) {
        seed = seed * 1664525u + 1013904223u;
        voice[i] = (i / 5000) % 4 == 3 ? 0 : static_cast<int16_t>(static_cast<int32_t>(seed >> 16) - 32768);
    }
    const int32_t room = 3000; // less than the echo's 6615
    for (int32_t pitch : {0, 12, 6}) {
        TEffectSet s;
        s.SweepUp = s.SweepDown = s.Echo = s.Chorus = s.Robotvoice = s.Backward = s.Flange = true;
        s.FadeIn = s.FadeOut = s.BassOnly = s.TrebleOnly = true;
        s.PitchPosition = pitch;
        Buffers b(voice, count + room);
        RecordingGauge gauge;
        const PipelineResult r = b.Run(s, &gauge);

        std::vector<int16_t> expected = voice;
        expected.resize(count + room, 0);
        RecordingGauge expectedGauge;
        ResetProgress(expectedGauge, 120);
        const ProgressShare share{&expectedGauge, 120 / CountEffects(s)};
        int32_t n = count;
        SweepUpClip(expected.data(), n, share);
        SweepDownClip(expected.data(), n, share);
        n = EchoEffect(expected.data(), n, 300, 70, 0.0, count + room, share);
        ModulatedDelay(expected.data(), n, 20, 40, 20, 1.0, 0.0, share);
        ModulatedDelay(expected.data(), n, 12, 12, 0, 0.0, 0.75, share);
        ReverseClip(expected.data(), n, share);
        ModulatedDelay(expected.data(), n, 0, 6, 6, 0.9, 0.5, share);
        PitchShiftClip(expected.data(), n, PitchBarMax - pitch, share);
        FadeInClip(expected.data(), n, share);
        FadeOutClip(expected.data(), n, share);
        BassOnlyClip(expected.data(), n, share);
        TrebleOnlyClip(expected.data(), n, true, share);
        expected.resize(n);

        EXPECT_EQ(n, count + room);
        EXPECT_EQ(r.WorkBytes, 2 * n) << pitch;
        EXPECT_EQ(b.Processed(r), expected) << pitch;
        EXPECT_EQ(gauge.Progress(), expectedGauge.Progress()) << pitch;
    }
}

// Two runs at once, as the window's run beside the live voice's: each
// advances its own gauge by its own share, exactly as when run alone.
TEST(EffectPipeline, RunsOnTwoThreadsAtOnceKeepTheirOwnShares)
{
    // Seven effects on a long clip: 17 units each, 119 in all, and Backward
    // starts long after the run does. Beside them, one
    // effect on a short clip again and again: 120 units.
    TEffectSet seven;
    seven.SweepUp = seven.SweepDown = seven.Chorus = seven.Robotvoice = true;
    seven.Backward = seven.Flange = true;
    seven.PitchPosition = 2;
    TEffectSet one;
    one.Backward = true;
    auto progressOf = [](const TEffectSet &s, int32_t count) {
        Buffers b(TestVoice(count), count);
        RecordingGauge gauge;
        b.Run(s, &gauge);
        return gauge.Progress();
    };
    const int32_t longAlone = progressOf(seven, 100000);
    const int32_t shortAlone = progressOf(one, 1000);
    ASSERT_LT(longAlone, 120); // a share of 120 would end at the top

    std::atomic<bool> longDone{false};
    int32_t longDiffering = 0;
    std::thread longRuns([&] {
        for (int i = 0; i < 10; ++i)
            longDiffering += progressOf(seven, 100000) != longAlone ? 1 : 0;
        longDone = true;
    });
    int32_t shortDiffering = 0;
    while (!longDone)
        shortDiffering += progressOf(one, 1000) != shortAlone ? 1 : 0;
    longRuns.join();
    EXPECT_EQ(longDiffering, 0);
    EXPECT_EQ(shortDiffering, 0);
}
