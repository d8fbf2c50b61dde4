// SPDX-License-Identifier: GPL-3.0-or-later
#include "controls/qmblovw.h"

#include "tests/controls/controltest.h"

#include <QAccessible>
#include <QSignalSpy>
#include <QWheelEvent>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

using namespace controltest;

namespace {

const QRgb Lime = Rgb(0, 255, 0);
const QRgb Red = Rgb(255, 0, 0);
const QRgb Black = Rgb(0, 0, 0);
const QRgb White = Rgb(255, 255, 255);
const QRgb Silver = Rgb(192, 192, 192);
// The same colours a quarter of the way to white, under the selection.
QRgb Tinted(QRgb c)
{
    return c == Lime ? Rgb(63, 255, 63) : c == Red ? Rgb(255, 63, 63) : Rgb(63, 63, 63);
}

// The control 100 rows of waveform high (zero line on row 50, so +10000
// reaches row 50 - nearest(15.26) = 35 and -10000 row 65) over its ruler,
// at (10, 10) in the host window, in a fixed font so that the ruler's
// spacing does not depend on the machine's fonts.
class VoiceOverviewTest : public ::testing::Test {
protected:
    void Place(int width, std::vector<int16_t> samples, uint32_t rate)
    {
        host.resize(480, 300);
        view = new TQMBL_VoiceOverview(&host);
        QFont font(QStringLiteral("DejaVu Sans"));
        font.setPixelSize(10);
        view->setFont(font);
        view->setGeometry(10, 10, width, view->RulerHeight() + 100);
        voice = std::move(samples);
        view->SetSamples(voice.data(), static_cast<int32_t>(voice.size()), rate);
        ShowAndWait(host);
        view->setFocus();
        spy = std::make_unique<QSignalSpy>(view, &TQMBL_VoiceOverview::SelectionChanged);
    }
    // A point in the host window over column x of the control.
    static QPoint Column(int x) { return QPoint(10 + x, 40); }
    void Wheel(int x, int delta, Qt::KeyboardModifiers modifiers)
    {
        const QPointF at(x, 40);
        QWheelEvent event(at, view->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton, modifiers,
                          Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(view, &event);
    }
    std::pair<int32_t, int32_t> Chosen() const { return {view->Selection().start, view->Selection().end}; }

    Host host;
    TQMBL_VoiceOverview *view = nullptr;
    std::vector<int16_t> voice;
    std::unique_ptr<QSignalSpy> spy;
};

// 4000 samples over 400 columns, 10 to a column: samples 1000 to 1999 swing
// between +10000 and -10000, sample 2505 is a spike of 20000 (row 50 - 31),
// the rest is silence.
std::vector<int16_t> BlockAndSpike()
{
    std::vector<int16_t> samples(4000, 0);
    for (size_t i = 1000; i < 2000; ++i)
        samples[i] = static_cast<int16_t>(i % 2 ? -10000 : 10000);
    samples[2505] = 20000;
    return samples;
}

QRgb ExpectedWave(int x, int y)
{
    if (y == 50)
        return Red;
    if ((x >= 100 && x < 200 && y >= 35 && y <= 65) || (x == 250 && y >= 19 && y < 50))
        return Lime;
    return Black;
}

TEST_F(VoiceOverviewTest, DrawsEachColumnFromItsSmallestToItsLargestSampleWithTheCursorAtZero)
{
    Place(400, BlockAndSpike(), 8000);
    const QImage picture = view->Picture();
    ASSERT_EQ(picture.size(), QSize(400, view->RulerHeight() + 100));
    for (int y = 0; y < 100; ++y) {
        ASSERT_TRUE(PixelIs(picture, 0, y, White)) << "the cursor, row " << y;
        for (int x = 1; x < 400; ++x)
            ASSERT_TRUE(PixelIs(picture, x, y, ExpectedWave(x, y)));
    }
}

TEST_F(VoiceOverviewTest, SelectionTintsExactlyItsColumnsAndHidesTheCursor)
{
    Place(400, BlockAndSpike(), 8000);
    view->SetSelection(1500, 2600); // columns 150 to 259
    const QImage picture = view->Picture();
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 400; ++x) {
            const QRgb plain = ExpectedWave(x, y);
            ASSERT_TRUE(PixelIs(picture, x, y, x >= 150 && x < 260 ? Tinted(plain) : plain));
        }
    // Three samples inside column 100 still show as that column.
    view->SetSelection(1003, 1006);
    EXPECT_TRUE(PixelIs(view->Picture(), 100, 10, Tinted(Black)));
    EXPECT_TRUE(PixelIs(view->Picture(), 101, 10, Black));
    EXPECT_TRUE(PixelIs(view->Picture(), 99, 10, Black));
}

TEST_F(VoiceOverviewTest, RulerTicksEveryFiftyMillisecondsWithLabelsEveryTenth)
{
    // Half a second over 400 columns is 0.8 columns a millisecond: labels
    // every 100 ms (80 columns apart, room for "0.500 s"), short ticks between.
    Place(400, BlockAndSpike(), 8000);
    const QImage picture = view->Picture();
    const int top = 100;
    const int bottom = picture.height() - 1;
    for (int x = 0; x < 400; ++x) {
        EXPECT_TRUE(PixelIs(picture, x, top, Rgb(128, 128, 128)));
        EXPECT_TRUE(PixelIs(picture, x, bottom, x % 80 == 0 ? Silver : Black)) << x;
        if (x % 40 == 0) {
            EXPECT_TRUE(PixelIs(picture, x, top + 2, Silver)) << x;
        }
    }
    // A label beside each long tick.
    for (int tick : {0, 80, 160, 240, 320}) {
        int lit = 0;
        for (int x = tick + 3; x < tick + 30; ++x)
            for (int y = top + 1; y < bottom; ++y)
                lit += (picture.pixel(x, y) & 0xFFFFFF) != 0;
        EXPECT_GT(lit, 10) << "label at " << tick;
    }
}

TEST_F(VoiceOverviewTest, MapsSamplesAndColumnsBothWays)
{
    // 110.25 samples a column: column x starts at floor(110.25 x).
    Place(400, std::vector<int16_t>(44100, 0), 22050);
    EXPECT_EQ(view->SampleAtColumn(1), 110);
    EXPECT_EQ(view->SampleAtColumn(400), 44100);
    for (int x = 0; x < 400; ++x)
        ASSERT_EQ(view->ColumnOfSample(view->SampleAtColumn(x)), x);
    for (int32_t s = 1; s <= 44100; s += 7) {
        const int x = view->ColumnOfSample(s);
        ASSERT_GE(view->SampleAtColumn(x), s);
        ASSERT_LT(view->SampleAtColumn(x - 1), s);
    }
}

struct KeyCase {
    const char *name;
    int32_t start, end;
    std::vector<std::pair<Qt::Key, Qt::KeyboardModifiers>> keys;
    int32_t wantStart, wantEnd;
    int emitted;
};

TEST_F(VoiceOverviewTest, KeysMoveTheCursorAndTheSelectionsMovingEnd)
{
    // 2 s at 22050 Hz: 10 ms is 220.5 samples, 220 with the half to even.
    const auto shift = Qt::ShiftModifier;
    const auto ctrl = Qt::ControlModifier;
    const Qt::KeyboardModifiers none{};
    const Qt::Key left = Qt::Key_Left;
    const Qt::Key right = Qt::Key_Right;
    const KeyCase cases[] = {
        {"Shift+Right x3", 0, 0, {{right, shift}, {right, shift}, {right, shift}}, 0, 660, 3},
        {"Ctrl+Shift+Right", 0, 0, {{right, shift | ctrl}}, 0, 22050, 1},
        {"Right x2", 0, 0, {{right, none}, {right, none}}, 440, 440, 2},
        {"Ctrl+Right past the end", 30000, 30000, {{right, ctrl}}, 44100, 44100, 1},
        {"Left clears", 1000, 5000, {{left, none}}, 4780, 4780, 1},
        {"Left at the start", 0, 0, {{left, none}}, 0, 0, 0},
        {"Shift+Left, Shift+Right x2", 1000, 1000, {{left, shift}, {right, shift}, {right, shift}}, 1000, 1220, 3},
        {"End then Shift+Home", 1000, 1000, {{Qt::Key_End, none}, {Qt::Key_Home, shift}}, 0, 44100, 2},
        {"Shift+End", 1000, 1000, {{Qt::Key_End, shift}}, 1000, 44100, 1},
        {"Home clears", 1000, 5000, {{Qt::Key_Home, none}}, 0, 0, 1},
        {"Ctrl+A", 3000, 3000, {{Qt::Key_A, ctrl}}, 0, 44100, 1},
    };
    Place(441, std::vector<int16_t>(44100, 0), 22050);
    for (const KeyCase &c : cases) {
        view->SetSelection(c.start, c.end);
        spy->clear();
        for (const auto &[key, modifiers] : c.keys)
            QTest::keyClick(view, key, modifiers);
        EXPECT_EQ(Chosen(), std::make_pair(c.wantStart, c.wantEnd)) << c.name;
        ASSERT_EQ(spy->count(), c.emitted) << c.name;
        if (c.emitted > 0) {
            EXPECT_EQ(spy->last().at(0).toInt(), c.wantStart) << c.name;
            EXPECT_EQ(spy->last().at(1).toInt(), c.wantEnd) << c.name;
        }
    }
}

TEST_F(VoiceOverviewTest, MouseDragsShiftClicksAndClicks)
{
    // 100 samples a column.
    Place(441, std::vector<int16_t>(44100, 0), 22050);
    QTest::mousePress(host.windowHandle(), Qt::LeftButton, {}, Column(250));
    QTest::mouseMove(host.windowHandle(), Column(180));
    QTest::mouseMove(host.windowHandle(), Column(100));
    QTest::mouseRelease(host.windowHandle(), Qt::LeftButton, {}, Column(100));
    EXPECT_EQ(Chosen(), std::make_pair(10000, 25000));
    EXPECT_EQ(view->Anchor(), 25000);
    EXPECT_TRUE(view->hasFocus());
    // The keyboard goes on from the end the mouse moved.
    QTest::keyClick(view, Qt::Key_Right, Qt::ShiftModifier);
    EXPECT_EQ(Chosen(), std::make_pair(10220, 25000));

    QTest::mouseClick(host.windowHandle(), Qt::LeftButton, Qt::ShiftModifier, Column(400));
    EXPECT_EQ(Chosen(), std::make_pair(25000, 40000));
    QTest::mouseClick(host.windowHandle(), Qt::LeftButton, {}, Column(50));
    EXPECT_EQ(Chosen(), std::make_pair(5000, 5000));
    ASSERT_FALSE(spy->isEmpty());
    EXPECT_EQ(spy->last().at(0).toInt(), 5000);
    EXPECT_EQ(spy->last().at(1).toInt(), 5000);
    EXPECT_TRUE(PixelIs(view->Picture(), 50, 10, White));
}

TEST_F(VoiceOverviewTest, CtrlWheelZoomsAroundThePointerAndTheWheelScrolls)
{
    // A spike at sample 30000 (its top on row 19) stays in column 300 at
    // every zoom.
    std::vector<int16_t> samples(44100, 0);
    samples[30000] = 20000;
    Place(441, std::move(samples), 22050);
    Wheel(300, -120, Qt::NoModifier); // the whole voice shows: nothing to scroll
    EXPECT_EQ(view->ViewStart(), 0);
    for (int zoom = 1; zoom <= 8; ++zoom) {
        Wheel(300, 120, Qt::ControlModifier);
        EXPECT_EQ(view->Zoom(), std::min(zoom, 7));
        EXPECT_EQ(view->SampleAtColumn(300), 30000) << zoom;
        EXPECT_TRUE(PixelIs(view->Picture(), 300, 19, Lime)) << zoom;
        EXPECT_TRUE(PixelIs(view->Picture(), 299, 19, Black)) << zoom;
        EXPECT_TRUE(PixelIs(view->Picture(), 301, 19, Black)) << zoom;
    }
    EXPECT_EQ(view->SamplesPerPixel(), 1.0);
    EXPECT_EQ(view->ViewStart(), 29700);
    // The keyboard keeps the cursor in view.
    QTest::keyClick(view, Qt::Key_End);
    EXPECT_EQ(view->ViewStart(), 44100 - 441);
    QTest::keyClick(view, Qt::Key_Home);
    EXPECT_EQ(view->ViewStart(), 0);
    // A notch down scrolls on by an eighth of the view.
    Wheel(300, -120, Qt::NoModifier);
    EXPECT_EQ(view->ViewStart(), 441 / 8);
    Wheel(300, -120 * 9, Qt::ControlModifier);
    EXPECT_EQ(view->Zoom(), 0);
    EXPECT_EQ(view->ViewStart(), 0);
    EXPECT_EQ(view->VisibleSamples(), 44100);
}

TEST_F(VoiceOverviewTest, TabShowsAWhiteFocusMarkAndTheSelectionIsDescribed)
{
    Place(441, std::vector<int16_t>(44100, 0), 22050);
    EXPECT_TRUE(PixelIs(Grab(*view), 2, 0, Black));
    view->clearFocus();
    QTest::keyClick(&host, Qt::Key_Tab);
    ASSERT_TRUE(view->hasFocus());
    EXPECT_TRUE(PixelIs(Grab(*view), 2, 0, White));
    EXPECT_TRUE(PixelIs(Grab(*view), 3, 0, Black));

    QAccessibleInterface *access = QAccessible::queryAccessibleInterface(view);
    ASSERT_NE(access, nullptr);
    EXPECT_EQ(access->text(QAccessible::Name), QStringLiteral("Voice"));
    EXPECT_EQ(access->text(QAccessible::Description), QStringLiteral("Cursor at 0.000 s"));
    view->SetSelection(22050, 5512);
    EXPECT_EQ(access->text(QAccessible::Description), QStringLiteral("Selection 0.250 s to 1.000 s"));
}

TEST(VoiceOverview, StatusTextGivesSecondsToTheMillisecond)
{
    EXPECT_EQ(SelectionStatusText(5512, 22050, 22050), "Start 0.250 s   End 1.000 s   Length 0.750 s");
    EXPECT_EQ(SelectionStatusText(5512, 5512, 22050), "Cursor 0.250 s");
    EXPECT_EQ(SelectionStatusText(0, 100, 0), "");
    // Half milliseconds go to the even neighbour.
    EXPECT_EQ(SecondsText(11, 22000), "0.000 s");
    EXPECT_EQ(SecondsText(33, 22000), "0.002 s");
    EXPECT_EQ(SecondsText(2646000, 44100), "60.000 s");
}

} // namespace
