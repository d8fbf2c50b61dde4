// SPDX-License-Identifier: GPL-3.0-or-later
// The 90-unit gauge during a conversion on reading, and the show and hide
// hooks around it.
#include "audio/wavefile.h"
#include "wavetesting.h"

#include <numeric>

using namespace wavetesting;

namespace {

struct HookLog {
    std::vector<std::string> Events;
    RecordingGauge *Gauge = nullptr;
};

void Shown(void *context)
{
    auto *log = static_cast<HookLog *>(context);
    log->Events.push_back("show " + std::to_string(log->Gauge->Values.size()));
}

void Hidden(void *context)
{
    auto *log = static_cast<HookLog *>(context);
    log->Events.push_back("hide " + std::to_string(log->Gauge->Values.size()));
}

class ConversionProgress : public ::testing::Test {
protected:
    // Reads a file with the given layout and data; gauge.Values then holds
    // every value the gauge went through.
    void ReadWith(uint16_t channels, uint32_t rate, uint16_t bits, const Bytes &data)
    {
        const std::string name = folder.File("in.wav");
        WriteBytes(name, SimpleWave(channels, rate, bits, data));
        log.Gauge = &gauge;
        ReadWaveHooks hooks;
        hooks.Gauge = &gauge;
        hooks.ShowGauge = Shown;
        hooks.HideGauge = Hidden;
        hooks.Context = &log;
        int32_t byteCount = 0;
        TEffectSettings record;
        samples = ReadWaveFile(name, 22050, 16, 1, byteCount, record, messages, hooks);
        ASSERT_TRUE(samples);
        ASSERT_TRUE(messages.Texts.empty());
    }

    static std::vector<int32_t> Range(int32_t first, int32_t last, int32_t step = 1)
    {
        std::vector<int32_t> values;
        for (int32_t v = first; v <= last; v += step)
            values.push_back(v);
        return values;
    }

    static std::vector<int32_t> Join(std::vector<int32_t> a, const std::vector<int32_t> &b)
    {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    }

    TempFolder folder;
    PrivateTmpDir tmp;
    RecordingSink messages;
    RecordingGauge gauge;
    HookLog log;
    std::unique_ptr<int16_t[]> samples;
};

TEST_F(ConversionProgress, EightBitStageAddsOneEveryThirtiethOfItsInput)
{
    // 300 samples: one unit after every 10, then 30 each for channels and
    // rate, which need nothing.
    ReadWith(1, 22050, 8, Bytes(300, 128));
    EXPECT_EQ(gauge.Values, Join(Range(1, 30), {60, 90}));
    EXPECT_EQ(gauge.MaxValue(), 90);
}

TEST_F(ConversionProgress, RateStageAddsTwoEveryThirtiethOfItsInputBytes)
{
    // 600 bytes = 300 samples: two units after every 20 source positions.
    ReadWith(1, 44100, 16, Bytes(600, 0));
    EXPECT_EQ(gauge.Values, Join({30, 60}, Range(62, 90, 2)));
}

TEST_F(ConversionProgress, StereoThen11025RunInOrder)
{
    // Stereo: 600 bytes, step 20 positions; its 300 output bytes give the
    // 11025 stage a step of 10 source positions over 150 samples.
    ReadWith(2, 11025, 16, Bytes(600, 0));
    EXPECT_EQ(gauge.Values, Join(Join({30}, Range(32, 60, 2)), Range(62, 90, 2)));
}

TEST_F(ConversionProgress, AllThreeStagesShareTheNinetyUnits)
{
    // 300 8-bit stereo bytes: widening steps 10 samples; stereo gets 600
    // bytes (step 20), 44100 gets 300 bytes (step 10 over 150 samples).
    ReadWith(2, 44100, 8, Bytes(300, 128));
    EXPECT_EQ(gauge.Values, Join(Join(Range(1, 30), Range(32, 60, 2)), Range(62, 90, 2)));
}

TEST_F(ConversionProgress, StepRoundedDownOvershootsAndTheGaugeStopsAtNinety)
{
    // 100 samples: step 100 / 30 = 3, so 33 single units; the rest is
    // clamped at the maximum.
    ReadWith(1, 22050, 8, Bytes(100, 128));
    EXPECT_EQ(gauge.Values, Join(Range(1, 33), {63, 90}));
    EXPECT_EQ(gauge.Progress(), 90);
}

TEST_F(ConversionProgress, TinyInputStillFillsTheStageShare)
{
    // 10 samples: a step of 0 counts as 1, giving 10 units; the stage makes
    // up the other 20 when it ends.
    ReadWith(1, 22050, 8, Bytes(10, 128));
    EXPECT_EQ(gauge.Values, Join(Range(1, 10), {30, 60, 90}));
}

TEST_F(ConversionProgress, EveryConvertedLayoutEndsAtExactlyNinety)
{
    for (uint16_t bits : {8, 16})
        for (uint16_t channels : {1, 2})
            for (uint32_t rate : {11025u, 22050u, 44100u}) {
                if (bits == 16 && channels == 1 && rate == 22050)
                    continue;
                for (std::size_t bytes : {0u, 1u, 7u, 29u, 30u, 61u, 90u, 1001u, 44100u}) {
                    SCOPED_TRACE(testing::Message() << bits << "/" << channels << "/" << rate << " " << bytes);
                    gauge.Values.clear();
                    log.Events.clear();
                    ReadWith(channels, rate, bits, Bytes(bytes, 0x55));
                    EXPECT_EQ(gauge.Progress(), 90);
                    EXPECT_EQ(gauge.MaxValue(), 90);
                    EXPECT_LE(gauge.Values.size(), 101u);
                    EXPECT_TRUE(std::is_sorted(gauge.Values.begin(), gauge.Values.end()));
                    EXPECT_EQ(log.Events.size(), 2u);
                }
            }
}

TEST_F(ConversionProgress, ShowComesBeforeTheFirstUnitAndHideAfterTheLast)
{
    ReadWith(2, 44100, 8, Bytes(3000, 128));
    const std::string last = std::to_string(gauge.Values.size());
    EXPECT_EQ(log.Events, (std::vector<std::string>{"show 0", "hide " + last}));
}

TEST_F(ConversionProgress, PercentChangesStayBoundedOnALongClip)
{
    // Ten seconds of 8-bit stereo at 44100 Hz.
    ReadWith(2, 44100, 8, Bytes(882000, 128));
    EXPECT_EQ(gauge.Progress(), 90);
    EXPECT_LE(gauge.Percents.size(), 101u);
    EXPECT_EQ(gauge.Percents.back(), 100);
}

TEST_F(ConversionProgress, DirectReadLeavesTheGaugeAndHooksAlone)
{
    ResetProgress(gauge, 120);
    gauge.SetProgress(7);
    gauge.Values.clear();
    ReadWith(1, 22050, 16, Bytes(3000, 1));
    EXPECT_TRUE(gauge.Values.empty());
    EXPECT_EQ(gauge.MaxValue(), 120);
    EXPECT_EQ(gauge.Progress(), 7);
    EXPECT_TRUE(log.Events.empty());
}

TEST_F(ConversionProgress, ReadingWithoutHooksConvertsAllTheSame)
{
    const std::string name = folder.File("plain.wav");
    WriteBytes(name, SimpleWave(1, 11025, 8, Bytes{0, 255}));
    int32_t byteCount = 0;
    TEffectSettings record;
    const auto plain = ReadWaveFile(name, 22050, 16, 1, byteCount, record, messages);
    ASSERT_TRUE(plain);
    EXPECT_EQ(ToSamples(plain.get(), byteCount), (std::vector<int16_t>{-32768, -32768, 32512, 32512}));
}

} // namespace
