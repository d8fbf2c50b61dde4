// SPDX-License-Identifier: GPL-3.0-or-later
// The progress window: where it stands, and that its gauge paints exactly
// when the whole percentage changes, synchronously, with the bar in lime.
#include "app/progressunit.h"
#include "tests/app/apptest.h"

#include <QEvent>
#include <QImage>
#include <QTest>

#include <gtest/gtest.h>

namespace {

class PaintCounter : public QObject {
public:
    explicit PaintCounter(QWidget *widget) { widget->installEventFilter(this); }
    int Paints = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++Paints;
        return false;
    }
};

class ProgressWindow : public ::testing::Test {
protected:
    void SetUp() override { TestApp(); }
};

TEST_F(ProgressWindow, IsCentredOverTheMainWindowAtTheDesignedTop)
{
    QWidget main;
    main.setGeometry(99, 94, 608, 420);
    TProgressForm form(&main);
    form.FormCreate();
    // 99 + (608 - 488) / 2
    EXPECT_EQ(form.x(), 159);
    EXPECT_EQ(form.y(), 412);
    EXPECT_EQ(form.width(), 488);
    EXPECT_EQ(form.height(), 18);
    EXPECT_EQ(form.windowTitle(), QStringLiteral(" "));
}

TEST_F(ProgressWindow, CentringOverANarrowerWindowTruncatesTowardZero)
{
    // 10 + (301 - 488) / 2 = 10 + (-93) = -83; rounding down would give -84.
    QWidget main;
    main.setGeometry(10, 50, 301, 100);
    TProgressForm form(&main);
    form.FormCreate();
    EXPECT_EQ(form.x(), -83);
    EXPECT_EQ(form.y(), 412);
}

TEST_F(ProgressWindow, GaugeFillsTheClientArea)
{
    QWidget main;
    TProgressForm form(&main);
    EXPECT_EQ(form.ProgressGauge->geometry(), QRect(0, 0, 488, 18));
    EXPECT_EQ(form.ProgressGauge->MaxValue(), 120);
    EXPECT_EQ(form.ProgressGauge->Progress(), 0);
}

TEST_F(ProgressWindow, GaugeRepaintsOncePerWholePercent)
{
    QWidget main;
    TProgressForm form(&main);
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    QApplication::processEvents();

    PaintCounter counter(form.ProgressGauge);
    ResetProgress(*form.ProgressGauge, 120);
    EXPECT_EQ(counter.Paints, 0) << "0 per cent stays 0 per cent";

    // 130 steps of 1 over 0..120: every whole percentage from 1 to 100 is
    // reached once (each step is 5/6 of a per cent), the last ten steps are
    // clamped at 120 and change nothing.
    for (int i = 0; i < 130; ++i)
        form.ProgressGauge->Advance(1);
    EXPECT_EQ(counter.Paints, 100);
    EXPECT_EQ(form.ProgressGauge->Progress(), 120);
    EXPECT_EQ(form.ProgressGauge->Percent(), 100);

    ResetProgress(*form.ProgressGauge, 90);
    EXPECT_EQ(counter.Paints, 101) << "100 per cent back to 0";
    for (int i = 0; i < 3; ++i)
        form.ProgressGauge->Advance(30);
    EXPECT_EQ(counter.Paints, 104);
    EXPECT_EQ(form.ProgressGauge->Percent(), 100);
}

TEST_F(ProgressWindow, GaugeDrawsLimeUpToThePercentageAndWhiteBeyond)
{
    QWidget main;
    TProgressForm form(&main);
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    ResetProgress(*form.ProgressGauge, 120);
    for (int i = 0; i < 60; ++i)
        form.ProgressGauge->Advance(1);
    ASSERT_EQ(form.ProgressGauge->Percent(), 50);

    const QImage picture = form.ProgressGauge->grab().toImage();
    // Inner field 486 wide from x = 1: half of it, 243 columns, is lime.
    EXPECT_EQ(picture.pixel(1, 2), 0xFF00FF00u);
    EXPECT_EQ(picture.pixel(243, 2), 0xFF00FF00u);
    EXPECT_EQ(picture.pixel(244, 2), 0xFFFFFFFFu);
    EXPECT_EQ(picture.pixel(486, 15), 0xFFFFFFFFu);
    EXPECT_EQ(picture.pixel(0, 0), 0xFF000000u) << "single black border";
    EXPECT_EQ(picture.pixel(487, 17), 0xFF000000u);
}

TEST_F(ProgressWindow, ShowingDoesNotResetTheGauge)
{
    QWidget main;
    TProgressForm form(&main);
    ResetProgress(*form.ProgressGauge, 120);
    form.ProgressGauge->Advance(45);
    form.show();
    form.hide();
    form.show();
    EXPECT_EQ(form.ProgressGauge->Progress(), 45);
}

} // namespace
