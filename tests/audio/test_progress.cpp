// SPDX-License-Identifier: GPL-3.0-or-later
// The progress gauge: clamping, the percentage shown, and how often it
// tells its owner to repaint.
#include "audio/progress.h"
#include "wavetesting.h"

using wavetesting::RecordingGauge;

namespace {

TEST(ProgressGauge, SixtyOfOneHundredTwentyShowsFiftyPercent)
{
    RecordingGauge gauge;
    ResetProgress(gauge, 120);
    for (int i = 0; i < 60; ++i)
        gauge.Advance(1);
    EXPECT_EQ(gauge.Progress(), 60);
    EXPECT_EQ(gauge.Percent(), 50);
}

TEST(ProgressGauge, AdvancingPastTheMaximumLeavesTheBarFull)
{
    RecordingGauge gauge;
    ResetProgress(gauge, 120);
    for (int i = 0; i < 130; ++i)
        gauge.Advance(1);
    EXPECT_EQ(gauge.Progress(), 120);
    EXPECT_EQ(gauge.Percent(), 100);
}

TEST(ProgressGauge, ThreeSharesOfThirtyFillNinetyExactly)
{
    RecordingGauge gauge;
    ResetProgress(gauge, 90);
    gauge.Advance(30);
    EXPECT_EQ(gauge.Percent(), 33);
    gauge.Advance(30);
    EXPECT_EQ(gauge.Percent(), 66);
    gauge.Advance(30);
    EXPECT_EQ(gauge.Progress(), 90);
    EXPECT_EQ(gauge.Percent(), 100);
    EXPECT_EQ(gauge.Values, (std::vector<int32_t>{30, 60, 90}));
}

TEST(ProgressGauge, NegativeValueBecomesZero)
{
    RecordingGauge gauge;
    ResetProgress(gauge, 120);
    gauge.SetProgress(50);
    gauge.SetProgress(-5);
    EXPECT_EQ(gauge.Progress(), 0);
    EXPECT_EQ(gauge.Percent(), 0);
}

TEST(ProgressGauge, RepaintsOnlyWhenTheWholePercentageChanges)
{
    RecordingGauge gauge;
    ResetProgress(gauge, 120);
    for (int i = 0; i < 130; ++i)
        gauge.Advance(1);
    // 120 units, 100 percentages: every percentage from 1 to 100 once.
    ASSERT_EQ(gauge.Percents.size(), 100u);
    for (std::size_t i = 0; i < gauge.Percents.size(); ++i)
        EXPECT_EQ(gauge.Percents[i], static_cast<int32_t>(i + 1));
}

TEST(ProgressGauge, FineStepsStillRepaintAboutAHundredTimes)
{
    RecordingGauge gauge;
    ResetProgress(gauge, 100000);
    for (int i = 0; i < 100000; ++i)
        gauge.Advance(1);
    EXPECT_EQ(gauge.Percents.size(), 100u);
}

TEST(ProgressGauge, ResetAfterARunStartsAtZeroWithTheNewMaximum)
{
    RecordingGauge gauge;
    ResetProgress(gauge, 120);
    gauge.SetProgress(120);
    ResetProgress(gauge, 90);
    EXPECT_EQ(gauge.MaxValue(), 90);
    EXPECT_EQ(gauge.Progress(), 0);
    EXPECT_EQ(gauge.Percents.back(), 0);
}

TEST(ProgressGauge, EmptyRangeShowsZeroPercent)
{
    RecordingGauge gauge;
    ResetProgress(gauge, 0);
    gauge.Advance(5);
    EXPECT_EQ(gauge.Progress(), 0);
    EXPECT_EQ(gauge.Percent(), 0);
}

TEST(ProgressGauge, PercentIsTruncated)
{
    RecordingGauge gauge;
    ResetProgress(gauge, 90);
    gauge.SetProgress(89); // 98.88...
    EXPECT_EQ(gauge.Percent(), 98);
    ResetProgress(gauge, 120);
    gauge.SetProgress(1); // 0.83...
    EXPECT_EQ(gauge.Percent(), 0);
}

TEST(ProgressGauge, AdvancingWithoutAGaugeDoesNothing)
{
    AdvanceProgress(nullptr, 5);
    RecordingGauge gauge;
    ResetProgress(gauge, 10);
    AdvanceProgress(&gauge, 5);
    EXPECT_EQ(gauge.Progress(), 5);
}

} // namespace
