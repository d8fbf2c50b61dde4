// SPDX-License-Identifier: GPL-3.0-or-later
#include "controls/qmbltbar.h"

#include "tests/controls/controltest.h"

#include <QSignalSpy>
#include <QStyle>
#include <QStyleOptionSlider>

using namespace controltest;

namespace {

// The track bar itself; this only lets the test ask the style where the
// groove and the thumb are drawn.
class InspectableTrackBar : public TQMBL_TrackBar {
public:
    using TQMBL_TrackBar::TQMBL_TrackBar;
    QRect StyleRect(QStyle::SubControl part)
    {
        QStyleOptionSlider option;
        initStyleOption(&option);
        return style()->subControlRect(QStyle::CC_Slider, &option, part, this);
    }
};

// A vertical bar set up like the pitch slider: 0..12 at position 6.
class PitchBarTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        bar = new InspectableTrackBar(&host);
        bar->setGeometry(20, 20, 45, 134);
        bar->SetOrientation(TTrackBarOrientation::trVertical);
        bar->SetMax(12);
        bar->SetPosition(6);
        bar->SetFrequency(1);
        ShowAndWait(host);
        bar->setFocus();
        QCoreApplication::processEvents();
    }

    Host host;
    InspectableTrackBar *bar = nullptr;
};

TEST(TrackBar, StartsWithTheStandardDefaults)
{
    TQMBL_TrackBar bar;
    EXPECT_EQ(bar.Min(), 0);
    EXPECT_EQ(bar.Max(), 10);
    EXPECT_EQ(bar.Position(), 0);
    EXPECT_EQ(bar.Frequency(), 1);
    EXPECT_EQ(bar.LineSize(), 1);
    EXPECT_EQ(bar.PageSize(), 2);
    EXPECT_EQ(bar.Orientation(), TTrackBarOrientation::trHorizontal);
    EXPECT_EQ(bar.TickMarks(), TTickMark::tmBottomRight);
    EXPECT_EQ(bar.TickStyle(), TTickStyle::tsAuto);
}

TEST_F(PitchBarTest, SettingPositionFromTheProgramDoesNotFireOnChange)
{
    QSignalSpy changes(bar, &TQMBL_TrackBar::OnChange);
    bar->SetPosition(6);
    bar->SetPosition(3);
    EXPECT_EQ(bar->Position(), 3);
    bar->SetMin(4); // pulls the position up with it
    EXPECT_EQ(bar->Position(), 4);
    bar->SetMin(0);
    EXPECT_EQ(changes.count(), 0);
}

TEST_F(PitchBarTest, SettingPositionClampsIntoTheRange)
{
    bar->SetPosition(20);
    EXPECT_EQ(bar->Position(), 12);
    bar->SetPosition(-5);
    EXPECT_EQ(bar->Position(), 0);
}

TEST_F(PitchBarTest, DownArrowMovesTowardsMaxAndReportsTheNewPosition)
{
    QList<int> seen;
    QObject::connect(bar, &TQMBL_TrackBar::OnChange, [&] { seen << bar->Position(); });
    QTest::keyClick(bar, Qt::Key_Down);
    EXPECT_EQ(bar->Position(), 7);
    QTest::keyClick(bar, Qt::Key_Up);
    QTest::keyClick(bar, Qt::Key_Up);
    EXPECT_EQ(bar->Position(), 5);
    QTest::keyClick(bar, Qt::Key_PageDown);
    EXPECT_EQ(bar->Position(), 7);
    QTest::keyClick(bar, Qt::Key_Home);
    EXPECT_EQ(bar->Position(), 0);
    EXPECT_EQ(seen, (QList<int>{7, 6, 5, 7, 0}));
}

TEST_F(PitchBarTest, KeyAtTheEndChangesNothingAndALaterProgramSetStaysSilent)
{
    bar->SetPosition(0);
    QSignalSpy changes(bar, &TQMBL_TrackBar::OnChange);
    QTest::keyClick(bar, Qt::Key_Up);
    EXPECT_EQ(bar->Position(), 0);
    bar->SetPosition(9);
    EXPECT_EQ(changes.count(), 0);
}

TEST_F(PitchBarTest, MinIsAtTheTopEnd)
{
    bar->SetPosition(0);
    const QRect thumbAtMin = bar->StyleRect(QStyle::SC_SliderHandle);
    bar->SetPosition(12);
    const QRect thumbAtMax = bar->StyleRect(QStyle::SC_SliderHandle);
    EXPECT_LT(thumbAtMin.center().y(), thumbAtMax.center().y());
}

TEST_F(PitchBarTest, PressBesideTheThumbPagesTowardsThePress)
{
    // At 12 the thumb is at the bottom; a press on the groove near the top
    // pages up, towards Min.
    const QRect groove = bar->StyleRect(QStyle::SC_SliderGroove);
    const QPoint offset(20, 20);
    bar->SetPosition(12);
    QList<int> seen;
    QObject::connect(bar, &TQMBL_TrackBar::OnChange, [&] { seen << bar->Position(); });
    Press(host, offset + QPoint(groove.center().x(), groove.top() + 4));
    Release(host, offset + QPoint(groove.center().x(), groove.top() + 4));
    EXPECT_EQ(bar->Position(), 10);
    EXPECT_EQ(seen, QList<int>{10});

    bar->SetPosition(0);
    Press(host, offset + QPoint(groove.center().x(), groove.bottom() - 4));
    Release(host, offset + QPoint(groove.center().x(), groove.bottom() - 4));
    EXPECT_EQ(bar->Position(), 2);
    EXPECT_EQ(seen, (QList<int>{10, 2}));
}

TEST_F(PitchBarTest, DraggingTheThumbReportsEveryMove)
{
    bar->SetPosition(0);
    const QRect groove = bar->StyleRect(QStyle::SC_SliderGroove);
    const QPoint thumb = bar->StyleRect(QStyle::SC_SliderHandle).center() + QPoint(20, 20);
    QSignalSpy changes(bar, &TQMBL_TrackBar::OnChange);
    Press(host, thumb);
    QTest::mouseMove(host.windowHandle(), QPoint(thumb.x(), 20 + groove.bottom() + 20));
    Release(host, QPoint(thumb.x(), 20 + groove.bottom() + 20));
    EXPECT_EQ(bar->Position(), 12);
    EXPECT_GE(changes.count(), 1);
}

TEST_F(PitchBarTest, NoSelectionRangeIsShown)
{
    const QImage before = Grab(*bar);
    bar->SetSelStart(2);
    bar->SetSelEnd(9);
    bar->repaint();
    EXPECT_EQ(Grab(*bar), before);
}

TEST(TrackBar, TickMarksFollowTheSideAndStyle)
{
    TQMBL_TrackBar bar;
    bar.SetOrientation(TTrackBarOrientation::trVertical);
    EXPECT_EQ(bar.tickPosition(), QSlider::TicksRight);
    bar.SetTickMarks(TTickMark::tmTopLeft);
    EXPECT_EQ(bar.tickPosition(), QSlider::TicksLeft);
    bar.SetTickStyle(TTickStyle::tsNone);
    EXPECT_EQ(bar.tickPosition(), QSlider::NoTicks);
    bar.SetTickStyle(TTickStyle::tsAuto);
    bar.SetFrequency(3);
    EXPECT_EQ(bar.tickInterval(), 3);
}

} // namespace
