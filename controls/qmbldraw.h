// SPDX-License-Identifier: GPL-3.0-or-later
// Drawing helpers shared by the controls: rounding, one-pixel lines that stop
// short of their end point, a pen that follows move-to/line-to drawing, the
// buttons' caption and picture, and the bevelled elliptical rim.
#pragma once

#include "base/rounding.h"

#include <QColor>
#include <QImage>
#include <QPainter>
#include <QPoint>
#include <QRegion>

#include <cstdlib>

namespace qmbl {

// Nearest integer, a half going to the even neighbour (14.5 gives 14).
inline int Nearest(double v)
{
    return static_cast<int>(RoundHalfEven(v));
}

inline const QColor Silver{192, 192, 192};
inline const QColor Grey{128, 128, 128};
inline const QColor White{255, 255, 255};
inline const QColor Black{0, 0, 0};

// Calls plot(x, y) for every pixel of the line from a to b: a is covered,
// b is not, so consecutive lines joined end to start never cover a pixel
// twice. A line from a point to itself covers nothing.
template <typename Plot> void ForEachLinePixel(QPoint a, QPoint b, Plot plot)
{
    int dx = std::abs(b.x() - a.x());
    int dy = std::abs(b.y() - a.y());
    int sx = a.x() < b.x() ? 1 : -1;
    int sy = a.y() < b.y() ? 1 : -1;
    int x = a.x();
    int y = a.y();
    if (dx >= dy) {
        // x is the major axis: one pixel per column, y follows the error term.
        int err = 2 * dy - dx;
        for (int i = 0; i < dx; ++i) {
            plot(x, y);
            if (err > 0) {
                y += sy;
                err -= 2 * dx;
            }
            err += 2 * dy;
            x += sx;
        }
    } else {
        int err = 2 * dx - dy;
        for (int i = 0; i < dy; ++i) {
            plot(x, y);
            if (err > 0) {
                x += sx;
                err -= 2 * dy;
            }
            err += 2 * dx;
            y += sy;
        }
    }
}

// Move-to/line-to drawing on a painter. One-pixel lines are plotted pixel by
// pixel (start covered, end not); wider lines use the painter's own wide-line
// drawing with round caps.
class LinePen {
public:
    explicit LinePen(QPainter &painter) : painter_(painter) {}

    void SetColor(const QColor &color) { color_ = color; }
    void SetWidth(int width) { width_ = width; }
    void MoveTo(QPoint p) { current_ = p; }
    void MoveTo(int x, int y) { current_ = QPoint(x, y); }
    void LineTo(int x, int y);
    void Line(int x1, int y1, int x2, int y2)
    {
        MoveTo(x1, y1);
        LineTo(x2, y2);
    }

private:
    QPainter &painter_;
    QPoint current_;
    QColor color_ = Black;
    int width_ = 1;
};

// Draws the text with its cell filled in silver, top-left at (x, y), in the
// application's default font rather than the widget's own.
void DrawCaption(QPainter &painter, int x, int y, const QString &text);
QSize CaptionSize(const QString &text);

// A button's face: the caption, then the picture over it, each centred in a
// face of the given size. captionAt and pictureAt are where a caption or a
// picture exactly as large as the face would have its top-left corner.
void DrawFace(QPainter &painter, QSize face, QPoint captionAt, QPoint pictureAt, const QString &caption,
              const QImage &picture);

// The picture as the buttons keep it: opaque, so that the face never shows
// through; a null image stays null.
QImage OpaqueCopy(const QImage &image);

// Whether a mouse position lies in the w x h rectangle of a control; x = w or
// y = h is outside.
inline bool InsideRect(QPointF p, int w, int h)
{
    return p.x() >= 0 && p.x() < w && p.y() >= 0 && p.y() < h;
}

// The ellipse inscribed in the rectangle (x1,y1)-(x2,y2), right and bottom
// edges excluded, as the pixels whose centres lie inside it: the ellipse in
// (0,0)-(57,57) is a circle 57 pixels across, covering columns 0 .. 56.
QRegion EllipseRegion(int x1, int y1, int x2, int y2);

// The four arcs of the bevelled elliptical rim for a control of w x h,
// 2 pixels wide: raised is light upper-left and dark lower-right, sunken the
// other way round.
void DrawEllipticalRim(QPainter &painter, int w, int h, bool raised);

// Draws the arc of the ellipse inscribed in the rectangle (x1,y1)-(x2,y2)
// counter-clockwise from the direction of point 'from' to the direction of
// point 'to', both seen from the ellipse's centre.
void DrawArc(QPainter &painter, int x1, int y1, int x2, int y2, QPointF from, QPointF to);

} // namespace qmbl
