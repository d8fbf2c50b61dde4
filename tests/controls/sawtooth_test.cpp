// SPDX-License-Identifier: GPL-3.0-or-later
#include "controls/qmblsbtn.h"

#include "tests/controls/controltest.h"

#include <QSignalSpy>

using namespace controltest;

namespace {

QPolygon Points(std::initializer_list<QPoint> points)
{
    return QPolygon(QList<QPoint>(points));
}

// ---- Outlines of the toothed sides, against the main window's buttons ----

TEST(SawToothOutline, EchoButtonBottomHasThreeTeethEvery36Pixels)
{
    // 132 x 61, tooth size 12: span 108, step 36, half 18.
    EXPECT_EQ(TQMBL_SawToothButton::BottomOutline(132, 61, 3, 12),
              Points({{11, 48}, {29, 60}, {47, 48}, {65, 60}, {83, 48}, {101, 60}, {119, 48}}));
}

TEST(SawToothOutline, RobotvoiceButtonTopPutsFourTipsOnTheSpanBoundaries)
{
    EXPECT_EQ(TQMBL_SawToothButton::TopOutline(132, 60, -3, 12),
              Points({{11, 12}, {11, 0}, {29, 12}, {47, 0}, {65, 12}, {83, 0}, {101, 12}, {119, 0}, {119, 12}}));
}

TEST(SawToothOutline, NegativeTwoTopTeethOnA96PixelButton)
{
    EXPECT_EQ(TQMBL_SawToothButton::TopOutline(96, 60, -2, 12),
              Points({{11, 12}, {11, 0}, {29, 12}, {47, 0}, {65, 12}, {83, 0}, {83, 12}}));
}

TEST(SawToothOutline, PositiveTopTeethStandInTheMiddleOfEachSpan)
{
    // 96 wide, tooth size 12: span 72, two teeth: step 36, half 18.
    EXPECT_EQ(TQMBL_SawToothButton::TopOutline(96, 60, 2, 12),
              Points({{11, 12}, {29, 0}, {47, 12}, {65, 0}, {83, 12}}));
}

TEST(SawToothOutline, RecordButtonLeftSideHasThreeTeethTenApart)
{
    // 96 x 53: span 29, step nearest(9.67) = 10, half nearest(4.83) = 5.
    EXPECT_EQ(TQMBL_SawToothButton::LeftOutline(96, 53, 3, 12),
              Points({{11, 11}, {0, 16}, {11, 21}, {0, 26}, {11, 31}, {0, 36}, {11, 40}}));
}

TEST(SawToothOutline, RecordButtonRightTipIsAtRow25BecauseHalfOf29RoundsToEven)
{
    EXPECT_EQ(TQMBL_SawToothButton::RightOutline(96, 53, 1, 12), Points({{83, 11}, {95, 25}, {83, 40}}));
}

TEST(SawToothOutline, StraightSidesHaveNoOutline)
{
    EXPECT_TRUE(TQMBL_SawToothButton::LeftOutline(96, 53, 0, 12).isEmpty());
    EXPECT_TRUE(TQMBL_SawToothButton::RightOutline(96, 53, -1, 12).isEmpty());
    EXPECT_TRUE(TQMBL_SawToothButton::BottomOutline(96, 53, -4, 12).isEmpty());
    EXPECT_TRUE(TQMBL_SawToothButton::TopOutline(96, 53, 0, 12).isEmpty());
}

// ---- The window shape ----

TEST(SawToothShape, ToothlessButtonIsThePlateRectangle)
{
    // Columns t-1 .. W-t-2 and rows t-1 .. H-t-2.
    EXPECT_EQ(TQMBL_SawToothButton::BuildRegion(68, 41, 0, 0, 0, 0, 10), QRegion(9, 9, 48, 21));
    EXPECT_EQ(TQMBL_SawToothButton::BuildRegion(39, 104, 0, 0, 0, 0, 10), QRegion(9, 9, 19, 84));
}

struct ShapePoint {
    const char *what;
    QPoint p;
    bool inside;
};

TEST(SawToothShape, RecordButtonTeethAreInAndTheirGapsAreOut)
{
    const QRegion shape = TQMBL_SawToothButton::BuildRegion(96, 53, 3, 0, 1, 0, 12);
    const ShapePoint cases[] = {
        {"plate corner", {11, 11}, true},
        {"plate centre", {47, 25}, true},
        {"left tip, one in", {1, 16}, true},
        {"gap between left tips", {1, 21}, false},
        {"left, above first tooth", {1, 11}, false},
        {"right tip, one in", {94, 25}, true},
        {"right, near top", {94, 13}, false},
        {"right, near bottom", {94, 39}, false},
        {"top strip", {47, 5}, false},
        {"bottom strip", {47, 48}, false},
    };
    for (const ShapePoint &c : cases)
        EXPECT_EQ(shape.contains(c.p), c.inside) << c.what << " (" << c.p.x() << "," << c.p.y() << ")";
}

TEST(SawToothShape, NegativeTopTeethShapeHasTipsAtTheEnds)
{
    const QRegion shape = TQMBL_SawToothButton::BuildRegion(96, 60, 0, -2, 0, 0, 12);
    const ShapePoint cases[] = {
        {"first tip, beside its vertical edge", {12, 2}, true},
        {"middle tip", {47, 2}, true},
        {"last tip, beside its vertical edge", {82, 2}, true},
        {"gap after the first tip", {29, 2}, false},
        {"gap before the last tip", {65, 2}, false},
        {"left of the first tip", {5, 2}, false},
        {"right of the last tip", {90, 2}, false},
    };
    for (const ShapePoint &c : cases)
        EXPECT_EQ(shape.contains(c.p), c.inside) << c.what << " (" << c.p.x() << "," << c.p.y() << ")";
}

TEST(SawToothShape, WidgetMaskFollowsToothChangesAndSize)
{
    Host host;
    auto *button = new TQMBL_SawToothButton(&host);
    ShowAndWait(host);
    button->resize(132, 61);
    button->SetLeftTeeth(0);
    button->SetTopTeeth(0);
    button->SetRightTeeth(0);
    button->SetBottomTeeth(3);
    button->SetToothSize(12);
    EXPECT_EQ(button->mask(), TQMBL_SawToothButton::BuildRegion(132, 61, 0, 0, 0, 3, 12));
    button->resize(96, 60);
    EXPECT_EQ(button->mask(), TQMBL_SawToothButton::BuildRegion(96, 60, 0, 0, 0, 3, 12));
}

// ---- Defaults and setters ----

TEST(SawToothButton, StartsWithItsDefaults)
{
    TQMBL_SawToothButton button;
    EXPECT_EQ(button.size(), QSize(32, 32));
    EXPECT_EQ(button.LeftTeeth(), 4);
    EXPECT_EQ(button.TopTeeth(), 5);
    EXPECT_EQ(button.RightTeeth(), 4);
    EXPECT_EQ(button.BottomTeeth(), 4);
    EXPECT_EQ(button.ToothSize(), 10);
    EXPECT_FALSE(button.Down());
    EXPECT_TRUE(button.Raised());
    EXPECT_TRUE(button.Caption().isEmpty());
    EXPECT_TRUE(button.UpImage().isNull());
    EXPECT_TRUE(button.DownImage().isNull());
}

class SawToothShown : public ::testing::Test {
protected:
    void SetUp() override
    {
        button = new TQMBL_SawToothButton(&host);
        button->setGeometry(20, 30, 132, 61);
        button->SetLeftTeeth(0);
        button->SetTopTeeth(0);
        button->SetRightTeeth(0);
        button->SetBottomTeeth(3);
        button->SetToothSize(12);
        ShowAndWait(host);
    }
    QPoint At(int x, int y) const { return QPoint(20 + x, 30 + y); }

    Host host;
    TQMBL_SawToothButton *button = nullptr;
};

TEST_F(SawToothShown, TeethCountsOfTwentyOrMoreAreIgnored)
{
    const int paints = button->PaintCount();
    button->SetLeftTeeth(20);
    button->SetTopTeeth(25);
    button->SetRightTeeth(100);
    button->SetBottomTeeth(20);
    EXPECT_EQ(button->LeftTeeth(), 0);
    EXPECT_EQ(button->TopTeeth(), 0);
    EXPECT_EQ(button->RightTeeth(), 0);
    EXPECT_EQ(button->BottomTeeth(), 3);
    EXPECT_EQ(button->PaintCount(), paints);
}

TEST_F(SawToothShown, TopTeethBelowMinus19AreIgnored)
{
    button->SetTopTeeth(-19);
    EXPECT_EQ(button->TopTeeth(), -19);
    button->SetTopTeeth(-20);
    EXPECT_EQ(button->TopTeeth(), -19);
}

TEST_F(SawToothShown, SettingAPropertyToItsValueDoesNotRepaint)
{
    const int paints = button->PaintCount();
    button->SetLeftTeeth(0);
    button->SetTopTeeth(0);
    button->SetRightTeeth(0);
    button->SetBottomTeeth(3);
    button->SetToothSize(12);
    button->SetCaption(QString());
    button->SetDown(false);
    EXPECT_EQ(button->PaintCount(), paints);
}

TEST_F(SawToothShown, ChangingAPropertyRepaintsAtOnce)
{
    int paints = button->PaintCount();
    button->SetLeftTeeth(2);
    EXPECT_EQ(button->PaintCount(), ++paints);
    button->SetTopTeeth(-3);
    EXPECT_EQ(button->PaintCount(), ++paints);
    button->SetToothSize(10);
    EXPECT_EQ(button->PaintCount(), ++paints);
    button->SetCaption("Echo");
    EXPECT_EQ(button->PaintCount(), ++paints);
    button->SetUpImage(QImage(4, 4, QImage::Format_RGB32));
    EXPECT_EQ(button->PaintCount(), ++paints);
    button->SetDown(true);
    EXPECT_EQ(button->PaintCount(), ++paints);
    EXPECT_EQ(button->mask(), TQMBL_SawToothButton::BuildRegion(132, 61, 2, -3, 0, 3, 10));
}

TEST_F(SawToothShown, SizeChangeRebuildsTheShapeAndRepaintsAtOnce)
{
    const int paints = button->PaintCount();
    button->resize(96, 60);
    // Painted before any event is processed, with the new shape in place.
    EXPECT_EQ(button->PaintCount(), paints + 1);
    EXPECT_EQ(button->mask(), TQMBL_SawToothButton::BuildRegion(96, 60, 0, 0, 0, 3, 12));
}

TEST_F(SawToothShown, SettingDownNeverClicks)
{
    QSignalSpy clicks(button, &TQMBL_SawToothButton::OnClick);
    button->SetDown(true);
    EXPECT_TRUE(button->Down());
    EXPECT_FALSE(button->Raised());
    button->SetDown(false);
    EXPECT_FALSE(button->Down());
    EXPECT_TRUE(button->Raised());
    EXPECT_EQ(clicks.count(), 0);
}

// ---- Pixels of the bevel ----

// The bevel of a toothless plate, straight from the drawing rules: LIGHT left
// and top, DARK right and bottom with a grey line inside them; later lines
// cover earlier ones.
QImage ExpectedToothlessPlate(int w, int h, int t, bool raised)
{
    const QRgb light = raised ? Rgb(255, 255, 255) : Rgb(0, 0, 0);
    const QRgb dark = raised ? Rgb(0, 0, 0) : Rgb(255, 255, 255);
    const QRgb grey = Rgb(128, 128, 128);
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(Rgb(192, 192, 192));
    for (int y = t - 1; y <= h - t - 2; ++y)
        image.setPixel(t - 1, y, light); // left
    for (int y = t - 1; y <= h - t - 2; ++y)
        image.setPixel(w - t - 2, y, dark); // right
    for (int y = t; y <= h - t - 3; ++y)
        image.setPixel(w - t - 3, y, grey); // inside the right
    for (int x = t - 1; x <= w - t - 3; ++x)
        image.setPixel(x, t - 1, light); // top
    for (int x = t - 1; x <= w - t - 3; ++x)
        image.setPixel(x, h - t - 2, dark); // bottom
    for (int x = t; x <= w - t - 4; ++x)
        image.setPixel(x, h - t - 3, grey); // inside the bottom
    return image;
}

void ExpectPlate(const QImage &actual, const QImage &expected, int t)
{
    int wrong = 0;
    for (int y = t - 1; y <= expected.height() - t - 2; ++y) {
        for (int x = t - 1; x <= expected.width() - t - 2; ++x) {
            auto result = PixelIs(actual, x, y, expected.pixel(x, y));
            if (!result && ++wrong <= 5)
                ADD_FAILURE() << result.message();
        }
    }
    EXPECT_EQ(wrong, 0);
}

TEST(SawToothPixels, ToothlessButtonBevelRaisedAndPressed)
{
    Host host;
    auto *button = new TQMBL_SawToothButton(&host);
    button->setGeometry(-8, 197, 68, 41);
    button->SetLeftTeeth(0);
    button->SetTopTeeth(0);
    button->SetRightTeeth(0);
    button->SetBottomTeeth(0);
    button->SetToothSize(10);
    ShowAndWait(host);

    QImage raised = Grab(*button);
    ExpectPlate(raised, ExpectedToothlessPlate(68, 41, 10, true), 10);
    // Corners where one line covers another.
    EXPECT_TRUE(PixelIs(raised, 9, 29, Rgb(0, 0, 0))); // bottom over left
    EXPECT_TRUE(PixelIs(raised, 56, 9, Rgb(0, 0, 0))); // top stops short of the right line
    EXPECT_TRUE(PixelIs(raised, 55, 9, Rgb(255, 255, 255)));

    button->SetDown(true);
    QImage pressed = Grab(*button);
    ExpectPlate(pressed, ExpectedToothlessPlate(68, 41, 10, false), 10);
}

TEST(SawToothPixels, PictureSitsCentredAndMovesOnePixelWhenPressed)
{
    Host host;
    auto *button = new TQMBL_SawToothButton(&host);
    button->setGeometry(10, 10, 132, 61);
    button->SetLeftTeeth(0);
    button->SetTopTeeth(0);
    button->SetRightTeeth(0);
    button->SetBottomTeeth(3);
    button->SetToothSize(12);
    QImage up(20, 10, QImage::Format_RGB32);
    up.fill(Rgb(255, 0, 0));
    QImage down(20, 10, QImage::Format_RGB32);
    down.fill(Rgb(0, 0, 255));
    button->SetUpImage(up);
    button->SetDownImage(down);
    ShowAndWait(host);

    // x = nearest((108 - 20) / 2) + 11 = 55; y = nearest((37 - 10) / 2) + 11 = 25
    // (13.5 goes to 14).
    QImage raised = Grab(*button);
    EXPECT_TRUE(PixelIs(raised, 55, 25, Rgb(255, 0, 0)));
    EXPECT_TRUE(PixelIs(raised, 74, 34, Rgb(255, 0, 0)));
    EXPECT_TRUE(PixelIs(raised, 54, 25, Rgb(192, 192, 192)));
    EXPECT_TRUE(PixelIs(raised, 55, 24, Rgb(192, 192, 192)));
    EXPECT_TRUE(PixelIs(raised, 75, 34, Rgb(192, 192, 192)));
    EXPECT_TRUE(PixelIs(raised, 74, 35, Rgb(192, 192, 192)));

    button->SetDown(true);
    QImage pressed = Grab(*button);
    EXPECT_TRUE(PixelIs(pressed, 56, 26, Rgb(0, 0, 255)));
    EXPECT_TRUE(PixelIs(pressed, 75, 35, Rgb(0, 0, 255)));
    EXPECT_TRUE(PixelIs(pressed, 55, 25, Rgb(192, 192, 192)));
}

TEST(SawToothPixels, ToothFlanksAreLightAboveAndDarkBelow)
{
    // Record button's left side: the first tooth's tip is at (0,16); its
    // upper flank runs from (11,11), its lower flank back to (11,21).
    Host host;
    auto *button = new TQMBL_SawToothButton(&host);
    button->setGeometry(9, 158 - 100, 96, 53);
    button->SetLeftTeeth(3);
    button->SetTopTeeth(0);
    button->SetRightTeeth(1);
    button->SetBottomTeeth(0);
    button->SetToothSize(12);
    ShowAndWait(host);
    QImage image = Grab(*button);
    // Midway along each flank, well inside the two-pixel stroke.
    EXPECT_TRUE(PixelIs(image, 5, 13, Rgb(255, 255, 255)));
    EXPECT_TRUE(PixelIs(image, 5, 18, Rgb(0, 0, 0)));
    // Right tooth: rising from (83,11) to the tip (95,25) light, back dark.
    EXPECT_TRUE(PixelIs(image, 89, 18, Rgb(255, 255, 255)));
    EXPECT_TRUE(PixelIs(image, 89, 32, Rgb(0, 0, 0)));
}

// ---- Mouse ----

TEST_F(SawToothShown, PressOnAToothGapReachesTheWindowBehind)
{
    // Between the bottom tips at x = 29 and x = 65, just above the bottom edge.
    Press(host, At(47, 58));
    EXPECT_EQ(host.presses, 1);
    EXPECT_TRUE(button->Raised());
    Release(host, At(47, 58));
    EXPECT_FALSE(button->Down());

    // On a tooth the press reaches the button.
    Press(host, At(29, 58));
    EXPECT_EQ(host.presses, 1);
    EXPECT_FALSE(button->Raised());
    Release(host, At(29, 58));
    EXPECT_TRUE(button->Down());
}

TEST_F(SawToothShown, ClickFromUpGoesDownAndClicksAfterTheFlip)
{
    QList<bool> downSeen;
    QObject::connect(button, &TQMBL_SawToothButton::OnClick, [&] { downSeen << button->Down(); });
    int paints = button->PaintCount();

    Press(host, At(60, 30));
    EXPECT_FALSE(button->Down());
    EXPECT_FALSE(button->Raised());
    EXPECT_EQ(button->PaintCount(), ++paints);
    EXPECT_TRUE(downSeen.isEmpty());

    Release(host, At(60, 30));
    EXPECT_TRUE(button->Down());
    EXPECT_FALSE(button->Raised());
    EXPECT_EQ(button->PaintCount(), paints); // Held to Down looks the same
    EXPECT_EQ(downSeen, QList<bool>{true});
    EXPECT_EQ(host.presses, 0);
}

TEST_F(SawToothShown, ClickFromDownComesUpAndRepaints)
{
    button->SetDown(true);
    QList<bool> downSeen;
    QObject::connect(button, &TQMBL_SawToothButton::OnClick, [&] { downSeen << button->Down(); });
    int paints = button->PaintCount();

    Press(host, At(60, 30));
    EXPECT_EQ(button->PaintCount(), paints);
    Release(host, At(60, 30));
    EXPECT_FALSE(button->Down());
    EXPECT_TRUE(button->Raised());
    EXPECT_EQ(button->PaintCount(), paints + 1);
    EXPECT_EQ(downSeen, QList<bool>{false});
}

TEST_F(SawToothShown, UpButtonReleasedOutsideSpringsBackWithoutClick)
{
    QSignalSpy clicks(button, &TQMBL_SawToothButton::OnClick);
    Press(host, At(60, 30));
    const int paints = button->PaintCount();
    Release(host, At(200, 30));
    EXPECT_FALSE(button->Down());
    EXPECT_TRUE(button->Raised());
    EXPECT_EQ(button->PaintCount(), paints + 1);
    EXPECT_EQ(clicks.count(), 0);
}

TEST_F(SawToothShown, DownButtonReleasedOutsideStaysDown)
{
    button->SetDown(true);
    QSignalSpy clicks(button, &TQMBL_SawToothButton::OnClick);
    const int paints = button->PaintCount();
    Press(host, At(60, 30));
    Release(host, At(60, 100));
    EXPECT_TRUE(button->Down());
    EXPECT_FALSE(button->Raised());
    EXPECT_EQ(button->PaintCount(), paints);
    EXPECT_EQ(clicks.count(), 0);
}

TEST_F(SawToothShown, ReleaseOnTheFarEdgeCountsAsOutside)
{
    QSignalSpy clicks(button, &TQMBL_SawToothButton::OnClick);
    Press(host, At(60, 30));
    Release(host, At(132, 30)); // x = W
    EXPECT_FALSE(button->Down());
    Press(host, At(60, 30));
    Release(host, At(60, 61)); // y = H
    EXPECT_FALSE(button->Down());
    EXPECT_EQ(clicks.count(), 0);

    // The last column and row are inside, teeth or not.
    Press(host, At(60, 30));
    Release(host, At(131, 60));
    EXPECT_TRUE(button->Down());
    EXPECT_EQ(clicks.count(), 1);
}

TEST_F(SawToothShown, RightButtonDoesNothing)
{
    QSignalSpy clicks(button, &TQMBL_SawToothButton::OnClick);
    QTest::mouseClick(host.windowHandle(), Qt::RightButton, {}, At(60, 30));
    EXPECT_FALSE(button->Down());
    EXPECT_TRUE(button->Raised());
    EXPECT_EQ(clicks.count(), 0);
}

} // namespace
