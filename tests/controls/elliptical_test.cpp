// SPDX-License-Identifier: GPL-3.0-or-later
#include "controls/qmblepnl.h"
#include "controls/qmblrbtn.h"

#include "tests/controls/controltest.h"

#include <QSignalSpy>

using namespace controltest;

namespace {

const QRgb White = Rgb(255, 255, 255);
const QRgb Black = Rgb(0, 0, 0);
const QRgb Grey = Rgb(128, 128, 128);
const QRgb Silver = Rgb(192, 192, 192);

// ---- Shapes ----

TEST(EllipticalShape, FiftyEightPixelButtonIsACircleOfDiameter57)
{
    const QRegion shape = TQMBL_EllipticalButton::BuildRegion(58, 58);
    EXPECT_EQ(shape.boundingRect(), QRect(0, 0, 57, 57));
    // The middle row and column run the full 57 pixels.
    for (int i = 0; i <= 56; ++i) {
        EXPECT_TRUE(shape.contains(QPoint(i, 28))) << i;
        EXPECT_TRUE(shape.contains(QPoint(28, i))) << i;
    }
    // The corners, and the last column and row, belong to the window behind.
    for (QPoint p :
         {QPoint(0, 0), QPoint(56, 0), QPoint(0, 56), QPoint(56, 56), QPoint(5, 5), QPoint(57, 28), QPoint(28, 57)})
        EXPECT_FALSE(shape.contains(p)) << p.x() << "," << p.y();
}

TEST(EllipticalShape, CircleIsSymmetric)
{
    // Pixels whose centres lie inside the circle of radius 28.5 around
    // (28.5, 28.5): the shape is the same under every mirror of the square.
    const QRegion shape = TQMBL_EllipticalButton::BuildRegion(58, 58);
    for (int y = 0; y < 57; ++y) {
        for (int x = 0; x < 57; ++x) {
            const bool in = shape.contains(QPoint(x, y));
            ASSERT_EQ(in, shape.contains(QPoint(56 - x, y))) << x << "," << y;
            ASSERT_EQ(in, shape.contains(QPoint(x, 56 - y))) << x << "," << y;
            ASSERT_EQ(in, shape.contains(QPoint(y, x))) << x << "," << y;
        }
    }
    // Row 0: centre y 0.5 is 28 from the middle, so x reaches
    // sqrt(28.5^2 - 28^2) = 5.31 either side of 28.5: columns 23 .. 33.
    EXPECT_FALSE(shape.contains(QPoint(22, 0)));
    EXPECT_TRUE(shape.contains(QPoint(23, 0)));
    EXPECT_TRUE(shape.contains(QPoint(33, 0)));
    EXPECT_FALSE(shape.contains(QPoint(34, 0)));
}

TEST(EllipticalShape, PanelIsTheEllipseInItsRectangleLessOne)
{
    const QRegion shape = TQMBL_EllipticalPanel::BuildRegion(91, 207);
    EXPECT_EQ(shape.boundingRect(), QRect(0, 0, 90, 206));
    EXPECT_TRUE(shape.contains(QPoint(45, 0)));
    EXPECT_TRUE(shape.contains(QPoint(0, 103)));
    EXPECT_FALSE(shape.contains(QPoint(3, 3)));
}

// ---- The elliptical button ----

class EllipticalShown : public ::testing::Test {
protected:
    void SetUp() override
    {
        button = new TQMBL_EllipticalButton(&host);
        button->setGeometry(168, 35, 58, 58);
        ShowAndWait(host);
    }
    QPoint At(int x, int y) const { return QPoint(168 + x, 35 + y); }

    Host host;
    TQMBL_EllipticalButton *button = nullptr;
};

TEST(EllipticalButton, StartsUpAnd32Square)
{
    TQMBL_EllipticalButton button;
    EXPECT_EQ(button.size(), QSize(32, 32));
    EXPECT_FALSE(button.Down());
    EXPECT_TRUE(button.Raised());
    EXPECT_TRUE(button.Caption().isEmpty());
}

TEST_F(EllipticalShown, MaskIsTheCircle)
{
    EXPECT_EQ(button->mask(), TQMBL_EllipticalButton::BuildRegion(58, 58));
}

TEST_F(EllipticalShown, PressInACornerReachesTheWindowBehind)
{
    Press(host, At(2, 2));
    EXPECT_EQ(host.presses, 1);
    EXPECT_TRUE(button->Raised());
    Release(host, At(2, 2));
    EXPECT_FALSE(button->Down());

    Press(host, At(28, 28));
    EXPECT_EQ(host.presses, 1);
    EXPECT_FALSE(button->Raised());
}

TEST_F(EllipticalShown, ClickIsReportedBeforeDownFlips)
{
    QList<bool> downSeen;
    QObject::connect(button, &TQMBL_EllipticalButton::OnClick, [&] { downSeen << button->Down(); });
    const int paints = button->PaintCount();

    Press(host, At(28, 28));
    EXPECT_FALSE(button->Raised());
    EXPECT_FALSE(button->Down());
    EXPECT_EQ(button->PaintCount(), paints + 1);
    Release(host, At(28, 28));
    EXPECT_EQ(downSeen, QList<bool>{false});
    EXPECT_TRUE(button->Down());
    EXPECT_FALSE(button->Raised());

    Press(host, At(28, 28));
    Release(host, At(28, 28));
    EXPECT_EQ(downSeen, (QList<bool>{false, true}));
    EXPECT_FALSE(button->Down());
    EXPECT_TRUE(button->Raised());
}

TEST_F(EllipticalShown, ReleaseOutsideStillFlipsButDoesNotClick)
{
    QSignalSpy clicks(button, &TQMBL_EllipticalButton::OnClick);
    Press(host, At(28, 28));
    Release(host, At(200, 28));
    EXPECT_TRUE(button->Down());
    EXPECT_FALSE(button->Raised());

    Press(host, At(28, 28));
    Release(host, At(28, 58)); // y = H is outside
    EXPECT_FALSE(button->Down());
    EXPECT_TRUE(button->Raised());
    EXPECT_EQ(clicks.count(), 0);
}

TEST_F(EllipticalShown, SettingDownAlwaysRepaintsAndNeverClicks)
{
    QSignalSpy clicks(button, &TQMBL_EllipticalButton::OnClick);
    int paints = button->PaintCount();
    button->SetDown(false);
    EXPECT_EQ(button->PaintCount(), ++paints);
    button->SetDown(true);
    EXPECT_EQ(button->PaintCount(), ++paints);
    EXPECT_FALSE(button->Raised());
    button->SetDown(true);
    EXPECT_EQ(button->PaintCount(), ++paints);
    EXPECT_EQ(clicks.count(), 0);
}

TEST_F(EllipticalShown, SizeChangeRebuildsTheShapeAndRepaintsAtOnce)
{
    const int paints = button->PaintCount();
    button->resize(40, 30);
    EXPECT_EQ(button->PaintCount(), paints + 1);
    EXPECT_EQ(button->mask(), TQMBL_EllipticalButton::BuildRegion(40, 30));
}

TEST_F(EllipticalShown, SameCaptionDoesNotRepaint)
{
    button->SetCaption("SF1");
    const int paints = button->PaintCount();
    button->SetCaption("SF1");
    EXPECT_EQ(button->PaintCount(), paints);
}

TEST_F(EllipticalShown, RimIsLightAboveLeftWhenRaisedAndDarkWhenPressed)
{
    QImage raised = Grab(*button);
    EXPECT_TRUE(PixelIs(raised, 0, 28, White)); // outer, upper-left
    EXPECT_TRUE(PixelIs(raised, 28, 0, White));
    EXPECT_TRUE(PixelIs(raised, 1, 28, Silver)); // inner, upper-left
    EXPECT_TRUE(PixelIs(raised, 56, 28, Black)); // outer, lower-right
    EXPECT_TRUE(PixelIs(raised, 28, 56, Black));
    EXPECT_TRUE(PixelIs(raised, 55, 28, Grey)); // inner, lower-right
    EXPECT_TRUE(PixelIs(raised, 28, 55, Grey));
    EXPECT_TRUE(PixelIs(raised, 28, 28, Silver));

    button->SetDown(true);
    QImage sunken = Grab(*button);
    EXPECT_TRUE(PixelIs(sunken, 0, 28, Black));
    EXPECT_TRUE(PixelIs(sunken, 28, 0, Black));
    EXPECT_TRUE(PixelIs(sunken, 1, 28, Grey));
    EXPECT_TRUE(PixelIs(sunken, 28, 1, Grey));
    EXPECT_TRUE(PixelIs(sunken, 56, 28, White));
    EXPECT_TRUE(PixelIs(sunken, 28, 56, White));
    EXPECT_TRUE(PixelIs(sunken, 55, 28, Silver));
}

TEST_F(EllipticalShown, PictureCoversTheCaptionAndShiftsWhenPressed)
{
    button->SetCaption("SF1");
    QImage up(34, 17, QImage::Format_RGB32);
    up.fill(Rgb(255, 0, 0));
    QImage down(34, 17, QImage::Format_RGB32);
    down.fill(Rgb(0, 0, 255));
    button->SetUpImage(up);
    button->SetDownImage(down);

    // x = nearest((58 - 34) / 2) = 12, y = nearest((58 - 17) / 2) = nearest(20.5) = 20.
    QImage raised = Grab(*button);
    EXPECT_TRUE(PixelIs(raised, 12, 20, Rgb(255, 0, 0)));
    EXPECT_TRUE(PixelIs(raised, 45, 36, Rgb(255, 0, 0)));
    EXPECT_TRUE(PixelIs(raised, 11, 20, Silver));
    EXPECT_TRUE(PixelIs(raised, 12, 19, Silver));
    EXPECT_TRUE(PixelIs(raised, 46, 36, Silver));
    EXPECT_TRUE(PixelIs(raised, 12, 37, Silver));

    button->SetDown(true);
    QImage pressed = Grab(*button);
    EXPECT_TRUE(PixelIs(pressed, 13, 21, Rgb(0, 0, 255)));
    EXPECT_TRUE(PixelIs(pressed, 46, 37, Rgb(0, 0, 255)));
    EXPECT_TRUE(PixelIs(pressed, 12, 20, Silver));
}

// ---- The elliptical panel ----

TEST(EllipticalPanel, RaisedPanelShowsOnlyTheRimOverItsColour)
{
    Host host;
    auto *panel = new TQMBL_EllipticalPanel(&host);
    panel->setGeometry(10, 10, 91, 207);
    panel->SetColor(Rgb(0, 0, 128));
    panel->SetCaption("never drawn");
    ShowAndWait(host);
    EXPECT_EQ(panel->BevelOuter(), TBevelCut::bvRaised);
    EXPECT_EQ(panel->mask(), TQMBL_EllipticalPanel::BuildRegion(91, 207));

    QImage image = Grab(*panel);
    EXPECT_TRUE(PixelIs(image, 0, 103, White));
    EXPECT_TRUE(PixelIs(image, 89, 103, Black));
    EXPECT_TRUE(PixelIs(image, 45, 205, Black));
    EXPECT_TRUE(PixelIs(image, 88, 103, Grey));
    // Inside the rim, the panel's colour everywhere, caption or not.
    for (int y = 0; y < 207; y += 3) {
        for (int x = 0; x < 91; x += 3) {
            const double dx = (x + 0.5 - 45.0) / 45.0;
            const double dy = (y + 0.5 - 103.0) / 103.0;
            if (dx * dx + dy * dy < 0.8) {
                ASSERT_TRUE(PixelIs(image, x, y, Rgb(0, 0, 128)));
            }
        }
    }

    panel->SetBevelOuter(TBevelCut::bvLowered);
    QCoreApplication::processEvents();
    image = Grab(*panel);
    EXPECT_TRUE(PixelIs(image, 0, 103, Black));
    EXPECT_TRUE(PixelIs(image, 89, 103, White));
    EXPECT_TRUE(PixelIs(image, 1, 103, Grey));
}

TEST(EllipticalPanel, PanelWithoutBevelIsAFilledEllipseWithABlackOutline)
{
    Host host;
    auto *panel = new TQMBL_EllipticalPanel(&host);
    panel->setGeometry(10, 10, 91, 207);
    panel->SetColor(Rgb(255, 255, 225));
    panel->SetBevelOuter(TBevelCut::bvNone);
    ShowAndWait(host);

    QImage image = Grab(*panel);
    EXPECT_TRUE(PixelIs(image, 0, 103, Black));
    EXPECT_TRUE(PixelIs(image, 45, 0, Black));
    EXPECT_TRUE(PixelIs(image, 89, 103, Black));
    EXPECT_TRUE(PixelIs(image, 45, 205, Black));
    EXPECT_TRUE(PixelIs(image, 45, 103, Rgb(255, 255, 225)));
    EXPECT_TRUE(PixelIs(image, 3, 103, Rgb(255, 255, 225)));
}

TEST(EllipticalPanel, SizeChangeRebuildsTheShapeAndRepaintsAtOnce)
{
    Host host;
    auto *panel = new TQMBL_EllipticalPanel(&host);
    panel->setGeometry(10, 10, 91, 207);
    ShowAndWait(host);
    const int paints = panel->PaintCount();
    panel->resize(70, 40);
    EXPECT_EQ(panel->PaintCount(), paints + 1);
    EXPECT_EQ(panel->mask(), TQMBL_EllipticalPanel::BuildRegion(70, 40));
}

TEST(EllipticalPanel, ChildrenDrawOnTopAndPressesOutsideTheEllipseMissThem)
{
    Host host;
    auto *panel = new TQMBL_EllipticalPanel(&host);
    panel->setGeometry(10, 10, 91, 207);
    auto *child = new Host;
    child->setParent(panel);
    child->setGeometry(28, 67, 35, 117);
    ShowAndWait(host);
    Press(host, QPoint(10 + 40, 10 + 100));
    EXPECT_EQ(child->presses, 1);
    Press(host, QPoint(12, 12)); // the panel's corner: outside its ellipse
    EXPECT_EQ(host.presses, 1);
}

} // namespace
