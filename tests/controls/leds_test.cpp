// SPDX-License-Identifier: GPL-3.0-or-later
#include "controls/qmblvled.h"

#include "tests/controls/controltest.h"

#include <limits>

using namespace controltest;

namespace {

const QRgb Red = Rgb(255, 0, 0);
const QRgb Maroon = Rgb(128, 0, 0);
const QRgb Black = Rgb(0, 0, 0);
const QRgb White = Rgb(255, 255, 255);
const QRgb Grey = Rgb(128, 128, 128);

// The level meter as the main window has it: 71 x 34, 8 LEDs, red on maroon
// on black.
class VolLEDTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        meter = new TQMBL_VerticalLEDs(&host);
        meter->setGeometry(19, 100, 71, 34);
        meter->SetColor(Black);
        meter->SetLEDOnColor(Red);
        meter->SetLEDOffColor(Maroon);
        meter->SetNumLEDs(8);
        ShowAndWait(host);
    }

    // The LEDs that are lit, read from the pixels: pitch 3, LED i covering
    // rows 31 - 3i and 32 - 3i, columns 4 .. 66, each row wholly one colour.
    int LitFromPixels()
    {
        const QImage image = Grab(*meter);
        int lit = 0;
        for (int i = 1; i <= 8; ++i) {
            const int top = 31 - 3 * i;
            const QRgb colour = image.pixel(4, top) | 0xFF000000u;
            for (int y = top; y <= top + 1; ++y)
                for (int x = 4; x <= 66; ++x)
                    EXPECT_TRUE(PixelIs(image, x, y, colour)) << "LED " << i;
            EXPECT_TRUE(colour == Red || colour == Maroon) << "LED " << i << " is " << Describe(colour);
            if (colour == Red) {
                EXPECT_EQ(lit, i - 1) << "LEDs light from the bottom up";
                lit = i;
            }
        }
        return lit;
    }

    Host host;
    TQMBL_VerticalLEDs *meter = nullptr;
};

TEST(VerticalLEDs, StartsWithItsDefaults)
{
    TQMBL_VerticalLEDs meter;
    EXPECT_EQ(meter.LEDOnColor(), QColor(0, 255, 0));
    EXPECT_EQ(meter.LEDOffColor(), QColor(0, 128, 0));
    EXPECT_FLOAT_EQ(meter.Progress(), 0.5f);
    EXPECT_EQ(meter.NumLEDs(), 5);
}

TEST_F(VolLEDTest, LedsAreTwoRowsHighWithOneRowBetween)
{
    meter->SetProgress(1.0f);
    const QImage image = Grab(*meter);
    // LED 1 rows 28-29, LED 8 rows 7-8, columns 4-66; gaps between them.
    for (int x = 4; x <= 66; ++x) {
        EXPECT_TRUE(PixelIs(image, x, 28, Red));
        EXPECT_TRUE(PixelIs(image, x, 29, Red));
        EXPECT_TRUE(PixelIs(image, x, 30, Black));
        EXPECT_TRUE(PixelIs(image, x, 27, Black));
        EXPECT_TRUE(PixelIs(image, x, 7, Red));
        EXPECT_TRUE(PixelIs(image, x, 8, Red));
        EXPECT_TRUE(PixelIs(image, x, 6, Black));
    }
    for (int y = 1; y <= 32; ++y) {
        EXPECT_TRUE(PixelIs(image, 3, y, Black));
        EXPECT_TRUE(PixelIs(image, 67, y, Black));
    }
    for (int x = 4; x <= 66; ++x)
        for (int y = 1; y <= 5; ++y)
            EXPECT_TRUE(PixelIs(image, x, y, Black));
}

TEST_F(VolLEDTest, FrameIsSunken)
{
    const QImage image = Grab(*meter);
    for (int x = 0; x <= 70; ++x)
        EXPECT_TRUE(PixelIs(image, x, 0, Grey));
    for (int y = 1; y <= 32; ++y)
        EXPECT_TRUE(PixelIs(image, 0, y, Grey));
    for (int x = 0; x <= 69; ++x)
        EXPECT_TRUE(PixelIs(image, x, 33, White));
    for (int y = 1; y <= 33; ++y)
        EXPECT_TRUE(PixelIs(image, 70, y, White));
}

struct LevelCase {
    float progress;
    float stored;
    int lit;
};

TEST_F(VolLEDTest, LevelLightsTheNextWholeLedUp)
{
    const LevelCase cases[] = {
        {0.5f, 0.5f, 4},       {0.3f, 0.3f, 3}, // 8 x 0.3 = 2.4 goes up to 3
        {0.0001f, 0.0001f, 1}, {0.0f, 0.0f, 0},     {1.7f, 1.0f, 8},   {-0.2f, 0.0f, 0},
        {0.125f, 0.125f, 1},   {0.126f, 0.126f, 2}, {0.99f, 0.99f, 8},
    };
    for (const LevelCase &c : cases) {
        meter->SetProgress(c.progress);
        EXPECT_FLOAT_EQ(meter->Progress(), c.stored) << c.progress;
        EXPECT_EQ(LitFromPixels(), c.lit) << "Progress " << c.progress;
    }
}

TEST_F(VolLEDTest, NotANumberCountsAsZero)
{
    meter->SetProgress(std::numeric_limits<float>::quiet_NaN());
    EXPECT_EQ(meter->Progress(), 0.0f);
    EXPECT_EQ(LitFromPixels(), 0);
}

TEST_F(VolLEDTest, SettingTheStoredValueAgainDoesNotRepaint)
{
    meter->SetProgress(0.25f);
    int paints = meter->PaintCount();
    meter->SetProgress(0.25f);
    EXPECT_EQ(meter->PaintCount(), paints);
    meter->SetProgress(1.0f);
    EXPECT_EQ(meter->PaintCount(), ++paints);
    meter->SetProgress(3.0f); // clamps to the 1 already stored
    EXPECT_EQ(meter->PaintCount(), paints);
    meter->SetNumLEDs(8);
    meter->SetLEDOnColor(Red);
    meter->SetLEDOffColor(Maroon);
    EXPECT_EQ(meter->PaintCount(), paints);
    meter->SetNumLEDs(6);
    EXPECT_EQ(meter->PaintCount(), ++paints);
    meter->SetLEDOnColor(Rgb(0, 0, 255));
    EXPECT_EQ(meter->PaintCount(), ++paints);
    meter->SetLEDOffColor(Rgb(0, 0, 64));
    EXPECT_EQ(meter->PaintCount(), ++paints);
}

TEST_F(VolLEDTest, NoLedsDrawsBackgroundAndFrameOnly)
{
    for (int n : {0, -3, 1000000000}) {
        meter->SetProgress(1.0f);
        meter->SetNumLEDs(n);
        const QImage image = Grab(*meter);
        for (int y = 1; y <= 32; ++y)
            for (int x = 1; x <= 69; ++x)
                ASSERT_TRUE(PixelIs(image, x, y, Black)) << n << " LEDs";
        EXPECT_TRUE(PixelIs(image, 0, 0, Grey));
        EXPECT_TRUE(PixelIs(image, 70, 33, White));
    }
}

TEST(VerticalLEDs, GapIsATenthOfThePitchRoundedToEven)
{
    // 15 LEDs in 233 rows: pitch nearest(225 / 15) = 15, gap term
    // nearest(1.5) = 2, so each LED is 12 rows high with 3 rows between.
    // LED 1 covers rows 215 .. 226.
    TQMBL_VerticalLEDs meter;
    meter.SetNumLEDs(15);
    meter.SetProgress(1.0f);
    meter.SetColor(Black);
    QImage image;
    meter.Compose(image, 20, 233);
    for (int y = 212; y <= 229; ++y) {
        const bool lit = y >= 215 && y <= 226;
        EXPECT_TRUE(PixelIs(image, 10, y, lit ? Rgb(0, 255, 0) : Black)) << y;
    }
    // LED 2 starts 15 rows higher.
    EXPECT_TRUE(PixelIs(image, 10, 200, Rgb(0, 255, 0)));
    EXPECT_TRUE(PixelIs(image, 10, 199, Black));
}

} // namespace
