// SPDX-License-Identifier: GPL-3.0-or-later
// Helpers shared by the control tests: a host window that shows a control at
// a known place, real mouse input through that window, and pixel reading.
#pragma once

#include <QColor>
#include <QImage>
#include <QPoint>
#include <QTest>
#include <QWidget>
#include <QWindow>

#include <gtest/gtest.h>

#include <string>

namespace controltest {

// A plain top-level window that counts the presses it receives itself, that
// is, presses that no child took.
class Host : public QWidget {
public:
    Host() { resize(400, 300); }
    int presses = 0;

protected:
    void mousePressEvent(QMouseEvent *) override { ++presses; }
};

inline void ShowAndWait(QWidget &top)
{
    top.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&top));
    QCoreApplication::processEvents();
}

// Mouse input as the window system delivers it: to the top-level window, so
// that Qt picks the child under the point, masks included, and the widget
// that took the press also gets the release.
inline void Press(QWidget &top, QPoint p)
{
    QTest::mousePress(top.windowHandle(), Qt::LeftButton, {}, p);
}
inline void Release(QWidget &top, QPoint p)
{
    QTest::mouseRelease(top.windowHandle(), Qt::LeftButton, {}, p);
}

inline QImage Grab(QWidget &w)
{
    return w.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

inline QRgb Rgb(int r, int g, int b)
{
    return qRgb(r, g, b);
}

inline std::string Describe(QRgb c)
{
    return "rgb(" + std::to_string(qRed(c)) + "," + std::to_string(qGreen(c)) + "," + std::to_string(qBlue(c)) + ")";
}

// Compares one pixel and names it on failure.
inline ::testing::AssertionResult PixelIs(const QImage &image, int x, int y, QRgb expected)
{
    if (x < 0 || y < 0 || x >= image.width() || y >= image.height())
        return ::testing::AssertionFailure() << "(" << x << "," << y << ") lies outside the picture";
    const QRgb actual = image.pixel(x, y) | 0xFF000000u;
    if (actual == (expected | 0xFF000000u))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "pixel (" << x << "," << y << ") is " << Describe(actual) << ", expected "
                                         << Describe(expected);
}

} // namespace controltest
