// SPDX-License-Identifier: GPL-3.0-or-later
// The button pictures: legible lettering that fits the plate, and a pressed
// picture that looks plainly different from the raised one.
#include "app/artwork.h"
#include "tests/app/apptest.h"

#include <QImage>

#include <gtest/gtest.h>

namespace {

struct PictureCase {
    const char *Text;
    QSize Size;
    TLettering Lettering;
};

class ButtonPictures : public ::testing::TestWithParam<PictureCase> {
protected:
    void SetUp() override { TestApp(); }
};

int CountPixels(const QImage &image, const std::function<bool(QRgb)> &test)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += test(image.pixel(x, y)) ? 1 : 0;
    return count;
}

// The columns and rows that hold any pixel differing from background.
QRect InkBounds(const QImage &image, QRgb background)
{
    QRect bounds;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) != background)
                bounds |= QRect(x, y, 1, 1);
    return bounds;
}

TEST_P(ButtonPictures, HaveTheAskedSizeAndInkInsideAMargin)
{
    const PictureCase c = GetParam();
    const TButtonPictures pictures = LabelPictures(QString::fromUtf8(c.Text), c.Size, QColor(255, 120, 0), c.Lettering);
    ASSERT_EQ(pictures.Up.size(), c.Size);
    ASSERT_EQ(pictures.Down.size(), c.Size);

    // The four corners show the background: the lettering stays off the edge.
    for (const QImage *image : {&pictures.Up, &pictures.Down}) {
        const QRgb background = image == &pictures.Up ? PlateColor : LitPanelColor;
        EXPECT_EQ(image->pixel(0, 0), background);
        EXPECT_EQ(image->pixel(c.Size.width() - 1, c.Size.height() - 1), background);
        const QRect ink = InkBounds(*image, background);
        EXPECT_TRUE(QRect(QPoint(0, 0), c.Size).adjusted(1, 1, -1, -1).contains(ink));
        // Big enough to read: the lettering spans most of the picture's length.
        const int along = c.Lettering == TLettering::Across ? ink.width() : ink.height();
        const int length = c.Lettering == TLettering::Across ? c.Size.width() : c.Size.height();
        EXPECT_GT(along, length * 6 / 10) << c.Text;
    }
}

TEST_P(ButtonPictures, RaisedLettersHaveADarkRimAndPressedOnesGlow)
{
    const PictureCase c = GetParam();
    const TButtonPictures pictures = LabelPictures(QString::fromUtf8(c.Text), c.Size, QColor(0, 150, 230), c.Lettering);
    const int area = c.Size.width() * c.Size.height();

    const int darkRim = CountPixels(pictures.Up, [](QRgb p) { return qGray(p) < 70; });
    EXPECT_GT(darkRim, area / 40) << c.Text;

    // The pressed picture is dark with bright letters: plainly different.
    const int bright = CountPixels(pictures.Down, [](QRgb p) { return qGray(p) > 200; });
    EXPECT_GT(bright, area / 20) << c.Text;
    const int dark = CountPixels(pictures.Down, [](QRgb p) { return qGray(p) < 60; });
    EXPECT_GT(dark, area / 3) << c.Text;
    const int plate = CountPixels(pictures.Up, [](QRgb p) { return p == PlateColor; });
    EXPECT_GT(plate, area / 3) << c.Text;
}

INSTANTIATE_TEST_SUITE_P(MainWindowButtons, ButtonPictures,
                         ::testing::Values(PictureCase{"Echo", {106, 35}, TLettering::Across},
                                           PictureCase{"Robot Voice", {106, 34}, TLettering::Across},
                                           PictureCase{"Slow\nMonster", {70, 34}, TLettering::Across},
                                           PictureCase{"Play", {60, 26}, TLettering::Across},
                                           PictureCase{"Input", {46, 19}, TLettering::Across},
                                           PictureCase{"Sweep Up", {17, 82}, TLettering::Rising},
                                           PictureCase{"Sweep Down", {17, 82}, TLettering::Falling},
                                           PictureCase{"SF2", {38, 18}, TLettering::Across}));

TEST(ButtonLettering, RisingAndFallingAreMirroredTurns)
{
    TestApp();
    const TButtonPictures rising = LabelPictures(QStringLiteral("Sweep"), QSize(15, 80), Qt::red, TLettering::Rising);
    const TButtonPictures falling = LabelPictures(QStringLiteral("Sweep"), QSize(15, 80), Qt::red, TLettering::Falling);
    // Turned a half turn, rising lettering lies where the falling one does.
    const QImage turned = rising.Up.transformed(QTransform().rotate(180));
    int same = 0;
    int inked = 0;
    for (int y = 0; y < 80; ++y)
        for (int x = 0; x < 15; ++x) {
            const bool a = qGray(turned.pixel(x, y)) < 100;
            const bool b = qGray(falling.Up.pixel(x, y)) < 100;
            inked += a || b;
            same += a && b;
        }
    ASSERT_GT(inked, 0);
    EXPECT_GT(same * 10, inked * 6);
}

} // namespace
