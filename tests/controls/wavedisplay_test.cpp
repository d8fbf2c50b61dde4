// SPDX-License-Identifier: GPL-3.0-or-later
#include "controls/qmblwpnl.h"

#include "tests/controls/controltest.h"

#include <cstdint>
#include <vector>

using namespace controltest;

namespace {

const QRgb Lime = Rgb(0, 255, 0);
const QRgb Red = Rgb(255, 0, 0);
const QRgb Green = Rgb(0, 128, 0);
const QRgb Black = Rgb(0, 0, 0);

// The main window's display: 206 x 165 at 40 samples per pixel, so
// mid = nearest(82.5) = 82 and the middle column is 103.
class WaveDisplayTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        display = new TQMBL_Wave_Display(&host);
        display->setGeometry(215, 55, 206, 165);
        display->SetSamplesPerPixel(40);
        ShowAndWait(host);
    }
    const QImage &Picture() const { return display->BackBuffer(); }
    void Show(const std::vector<int16_t> &samples, int32_t position)
    {
        display->SetSampleData(samples.data(), static_cast<int32_t>(samples.size() * 2));
        display->SetStartingPosition(position);
    }
    // Rows of column x that are lime.
    std::vector<int> LimeRows(int x) const
    {
        std::vector<int> rows;
        for (int y = 0; y < Picture().height(); ++y)
            if ((Picture().pixel(x, y) | 0xFF000000u) == Lime)
                rows.push_back(y);
        return rows;
    }

    Host host;
    TQMBL_Wave_Display *display = nullptr;
};

TEST(WaveDisplay, StartsWithItsDefaults)
{
    TQMBL_Wave_Display display;
    EXPECT_EQ(display.StartingPosition(), 0);
    EXPECT_EQ(display.SamplesPerPixel(), 3);
    EXPECT_EQ(display.SampleData(), nullptr);
    EXPECT_EQ(display.SampleBytes(), 0);
    EXPECT_TRUE(display.NeedsRender());
}

TEST_F(WaveDisplayTest, EmptyDisplayShowsTheTwoLinesOnBlack)
{
    const QImage &image = Picture();
    ASSERT_EQ(image.size(), QSize(206, 165));
    // The zero line on row 82 (82.5 goes to the even neighbour), the middle
    // line on column 103, black elsewhere away from the rim.
    for (int x = 20; x < 186; ++x) {
        if (x != 103) {
            EXPECT_TRUE(PixelIs(image, x, 82, Red));
            EXPECT_TRUE(PixelIs(image, x, 81, Black));
            EXPECT_TRUE(PixelIs(image, x, 83, Black));
        }
    }
    for (int y = 10; y < 155; ++y) {
        EXPECT_TRUE(PixelIs(image, 103, y, Green));
        EXPECT_TRUE(PixelIs(image, 102, y, y == 82 ? Red : Black));
        EXPECT_TRUE(PixelIs(image, 104, y, y == 82 ? Red : Black));
    }
}

TEST_F(WaveDisplayTest, RimIsGreyAboveLeftAndWhiteBelowRight)
{
    // The rim goes over both lines: grey on the upper-left half, white on
    // the lower-right half.
    const QImage &image = Picture();
    EXPECT_TRUE(PixelIs(image, 103, 0, Rgb(128, 128, 128)));
    EXPECT_TRUE(PixelIs(image, 0, 82, Rgb(128, 128, 128)));
    EXPECT_TRUE(PixelIs(image, 103, 164, Rgb(255, 255, 255)));
    EXPECT_TRUE(PixelIs(image, 205, 82, Rgb(255, 255, 255)));
    EXPECT_TRUE(PixelIs(image, 103, 3, Green));
    EXPECT_TRUE(PixelIs(image, 4, 82, Red));
}

TEST_F(WaveDisplayTest, MaskIsTheEllipseInTheWholeRectangle)
{
    EXPECT_EQ(display->mask(), TQMBL_Wave_Display::BuildRegion(206, 165));
    EXPECT_TRUE(display->mask().contains(QPoint(103, 0)));
    EXPECT_TRUE(display->mask().contains(QPoint(0, 82)));
    EXPECT_TRUE(display->mask().contains(QPoint(205, 82)));
    EXPECT_FALSE(display->mask().contains(QPoint(2, 2)));
    // Outside the ellipse the window behind is what a point finds.
    EXPECT_EQ(host.childAt(215 + 2, 55 + 2), nullptr);
    EXPECT_EQ(host.childAt(215 + 103, 55 + 82), display);
}

// Columns of 40 samples each set to one level: the level of clip column j
// shows as a point at mid - nearest(level * 165 / 65536).
std::vector<int16_t> Columns(std::initializer_list<int16_t> levels, size_t totalColumns)
{
    std::vector<int16_t> samples(totalColumns * 40, 0);
    size_t j = 0;
    for (int16_t level : levels) {
        for (size_t k = 0; k < 40; ++k)
            samples[j * 40 + k] = level;
        ++j;
    }
    return samples;
}

TEST_F(WaveDisplayTest, AtPositionZeroTheClipStartsInTheMiddleColumn)
{
    // Levels 16000, -16000, 8000 go to rows 82 - 40 = 42, 82 + 40 = 122 and
    // 82 - 20 = 62 (16000 * 165 / 65536 = 40.28, 8000 gives 20.14).
    const auto samples = Columns({16000, -16000, 8000}, 10);
    Show(samples, 0);
    // Column 103 holds the first clip column under the green line; the
    // second is the point at (104, 122), the third at (105, 62).
    EXPECT_TRUE(PixelIs(Picture(), 104, 122, Lime));
    EXPECT_TRUE(PixelIs(Picture(), 104, 123, Black));
    EXPECT_TRUE(PixelIs(Picture(), 105, 62, Lime));
    EXPECT_TRUE(PixelIs(Picture(), 105, 61, Black));
    // The join from the first column's point (103, 42) down to (104, 122)
    // crosses column 104 below the zero line.
    EXPECT_TRUE(PixelIs(Picture(), 104, 100, Lime));
    // Nothing left of the middle column.
    for (int x = 0; x < 103; ++x)
        EXPECT_TRUE(LimeRows(x).empty()) << "column " << x;
}

TEST_F(WaveDisplayTest, Columns103To205ShowTheFirst4120Samples)
{
    // The last sample shown is sample 4119; sample 4120 would be the 104th
    // column, beyond the right edge.
    std::vector<int16_t> samples(6000, 0);
    samples[4119] = 16000;
    for (size_t i = 4120; i < 4200; ++i)
        samples[i] = -16000;
    Show(samples, 0);
    // Column 205 strokes from 0 up towards row 42; the stroke's end point is
    // left out as no column follows.
    for (int y = 43; y <= 60; ++y)
        EXPECT_TRUE(PixelIs(Picture(), 205, y, Lime)) << y;
    EXPECT_TRUE(PixelIs(Picture(), 205, 42, Black));
    for (int y = 100; y < 165; ++y)
        EXPECT_TRUE(PixelIs(Picture(), 205, y, Black)) << y;
    EXPECT_TRUE(PixelIs(Picture(), 204, 60, Black));
}

TEST_F(WaveDisplayTest, Position2000StartsTheClipAtColumn53)
{
    // (103 * 40 - 2000) / 40 = 53: the sample at byte 2000 opens column 53.
    std::vector<int16_t> samples(8000, 0);
    for (size_t i = 1000; i < 1040; ++i)
        samples[i] = 16000;
    samples[999] = -16000; // before the position: never shown
    Show(samples, 2000);
    EXPECT_TRUE(PixelIs(Picture(), 53, 42, Lime));
    for (int x = 0; x <= 52; ++x)
        EXPECT_TRUE(LimeRows(x).empty()) << "column " << x;
    // The join from (53, 42) back to the zero line at column 54.
    EXPECT_TRUE(PixelIs(Picture(), 53, 50, Lime));
}

TEST_F(WaveDisplayTest, FromPosition4120TheClipStartsAtColumnZero)
{
    for (int32_t position : {4120, 4160, 6000}) {
        std::vector<int16_t> samples(10000, 0);
        const size_t first = static_cast<size_t>(position / 2);
        for (size_t k = 0; k < 40; ++k)
            samples[first + k] = 16000;
        samples[first - 1] = -16000;
        Show(samples, position);
        EXPECT_TRUE(PixelIs(Picture(), 0, 42, Lime)) << position;
        EXPECT_TRUE(PixelIs(Picture(), 0, 43, Lime)) << position;
        EXPECT_TRUE(PixelIs(Picture(), 0, 122, Black)) << position;
    }
}

TEST_F(WaveDisplayTest, FullScaleReachesRowsZeroAnd164)
{
    // From position 4120 the clip starts at column 0, where the rim covers
    // only rows 66 to 98. Column 0 holds -32768 then 32767: its stroke runs from
    // mid + 82 = 164 up to mid - 82 = 0 (82.5 and 82.497 both give 82), and
    // the next column's join covers row 0.
    std::vector<int16_t> samples(8000, 0);
    samples[2060] = -32768;
    samples[2061] = 32767;
    Show(samples, 4120);
    std::vector<int> rows = LimeRows(0);
    std::vector<int> expected;
    for (int y = 0; y < 165; ++y)
        if (y < 66 || y > 98)
            expected.push_back(y);
    std::vector<int> outsideRim;
    for (int y : rows)
        if (y < 66 || y > 98)
            outsideRim.push_back(y);
    EXPECT_EQ(outsideRim, expected);
}

TEST(WaveDisplay, MinusHalfScaleRoundsToTheEvenRowOnAnEvenHeight)
{
    // At height 166, -16384 * 166 / 65536 = -41.5, which goes to -42:
    // the point lands on row mid + 42 = 125, not 124.
    Host host;
    auto *display = new TQMBL_Wave_Display(&host);
    display->setGeometry(0, 0, 206, 166);
    display->SetSamplesPerPixel(40);
    ShowAndWait(host);
    std::vector<int16_t> samples(4000, -16384);
    display->SetSampleData(samples.data(), static_cast<int32_t>(samples.size() * 2));
    const QImage &image = display->BackBuffer();
    for (int x = 110; x < 150; ++x) {
        EXPECT_TRUE(PixelIs(image, x, 125, Lime)) << x;
        EXPECT_TRUE(PixelIs(image, x, 124, Black)) << x;
        EXPECT_TRUE(PixelIs(image, x, 126, Black)) << x;
    }
}

TEST_F(WaveDisplayTest, ColumnIsAStrokeFromItsMinimumToItsMaximum)
{
    // One column with samples between -8000 (row 102) and 16000 (row 42),
    // between columns at the zero line.
    std::vector<int16_t> samples(4000, 0);
    for (size_t k = 0; k < 40; ++k)
        samples[40 + k] = static_cast<int16_t>(k % 2 ? 16000 : -8000);
    Show(samples, 0);
    // Column 104: the join from (103, 82) to its minimum at (104, 102), then
    // the stroke up from 102 to 42, whose top the join to column 105 covers.
    for (int y = 42; y <= 102; ++y)
        EXPECT_TRUE(PixelIs(Picture(), 104, y, y == 82 ? Red : Lime)) << y;
    EXPECT_TRUE(PixelIs(Picture(), 104, 41, Black));
    EXPECT_TRUE(PixelIs(Picture(), 104, 103, Black));
}

TEST_F(WaveDisplayTest, NoSamplesPerPixelDrawsEverythingOnTheZeroLine)
{
    std::vector<int16_t> samples(4000, 16000);
    for (int32_t spp : {0, -5}) {
        display->SetSamplesPerPixel(spp);
        Show(samples, 0);
        for (int x = 0; x < 206; ++x)
            ASSERT_TRUE(LimeRows(x).empty()) << "column " << x << " at " << spp;
    }
}

TEST_F(WaveDisplayTest, PositionAtOrBeyondTheEndShowsTheEmptyField)
{
    std::vector<int16_t> samples(4000, 16000);
    Show(samples, 8000);
    for (int x = 0; x < 206; ++x)
        ASSERT_TRUE(LimeRows(x).empty()) << "column " << x;
    Show(samples, 9000);
    for (int x = 0; x < 206; ++x)
        ASSERT_TRUE(LimeRows(x).empty()) << "column " << x;
}

TEST_F(WaveDisplayTest, NegativeAndOddPositionsAndOddLengthsAreReadSafely)
{
    std::vector<int16_t> samples(4000);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<int16_t>((i * 7919) % 30000 - 15000);

    Show(samples, 0);
    const QImage atZero = Picture().copy();
    Show(samples, -400);
    EXPECT_EQ(Picture(), atZero);

    Show(samples, 2000);
    const QImage at2000 = Picture().copy();
    Show(samples, 2001);
    EXPECT_EQ(Picture(), at2000);

    // An odd length drops the last byte.
    display->SetSampleData(samples.data(), 7999);
    EXPECT_EQ(display->SampleBytes(), 7998);
    display->SetSampleData(nullptr, 100);
    EXPECT_EQ(display->SampleBytes(), 0);
}

// ---- When the display renders and paints ----

TEST_F(WaveDisplayTest, SettingThePositionItAlreadyHasDoesNotRender)
{
    std::vector<int16_t> samples(4000, 1000);
    Show(samples, 100);
    const int renders = display->RenderCount();
    const int paints = display->PaintCount();
    display->SetStartingPosition(100);
    display->SetSamplesPerPixel(40);
    EXPECT_EQ(display->RenderCount(), renders);
    EXPECT_EQ(display->PaintCount(), paints);
    display->SetStartingPosition(102);
    EXPECT_EQ(display->RenderCount(), renders + 1);
    EXPECT_EQ(display->PaintCount(), paints + 1);
    display->SetSamplesPerPixel(20);
    EXPECT_EQ(display->RenderCount(), renders + 2);
    EXPECT_EQ(display->PaintCount(), paints + 2);
}

TEST_F(WaveDisplayTest, HandingOverTheSameDataRendersAgain)
{
    std::vector<int16_t> samples(4000, 1000);
    Show(samples, 0);
    const int renders = display->RenderCount();
    display->SetSampleData(samples.data(), 8000);
    EXPECT_EQ(display->RenderCount(), renders + 1);
    // The display reads the samples when it renders: a change in the buffer
    // shows once the same data is handed over again.
    samples[40] = 16000; // the second column, drawn at 104
    EXPECT_TRUE(PixelIs(Picture(), 104, 42, Black));
    display->SetSampleData(samples.data(), 8000);
    EXPECT_EQ(display->RenderCount(), renders + 2);
    EXPECT_TRUE(PixelIs(Picture(), 104, 42, Lime));
}

TEST_F(WaveDisplayTest, WindowSystemRepaintOnlyCopiesThePicture)
{
    std::vector<int16_t> samples(4000, 1000);
    Show(samples, 0);
    const int renders = display->RenderCount();
    const int paints = display->PaintCount();
    display->repaint();
    host.repaint();
    EXPECT_GT(display->PaintCount(), paints);
    EXPECT_EQ(display->RenderCount(), renders);
}

TEST_F(WaveDisplayTest, SizeChangeRendersOnTheNextPaint)
{
    std::vector<int16_t> samples(4000, 1000);
    Show(samples, 0);
    const int renders = display->RenderCount();
    display->resize(200, 160);
    display->repaint();
    EXPECT_EQ(display->RenderCount(), renders + 1);
    EXPECT_EQ(display->BackBuffer().size(), QSize(200, 160));
    // The shape stays as it was taken when the display first appeared.
    EXPECT_EQ(display->mask(), TQMBL_Wave_Display::BuildRegion(206, 165));
}

} // namespace
