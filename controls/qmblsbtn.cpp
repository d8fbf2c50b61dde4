// SPDX-License-Identifier: GPL-3.0-or-later
#include "controls/qmblsbtn.h"

#include "controls/qmblaccess.h"
#include "controls/qmbldraw.h"
#include "controls/qmblkeys.h"

#include <QMouseEvent>
#include <QPainter>

using qmbl::Nearest;
using qmbl::OpaqueCopy;

namespace {

// Tooth counts the setters accept: below 20, and on the top side down to -19
// (n+1 tips on the span boundaries need 2n+3 outline vertices).
constexpr int TeethLimit = 20;
constexpr int TopTeethLowest = -19;

// Shapes and drawing share these: the step between teeth and the distance
// from a tooth's base to its tip along the side, for a side of length span.
struct Spacing {
    int step;
    int half;
};

Spacing SpacingFor(int span, int n)
{
    return {Nearest(static_cast<double>(span) / n), Nearest(static_cast<double>(span) / (2.0 * n))};
}

// One toothed side with n > 0 teeth: along the side the bases start at t-1,
// one step apart; across it the bases stand at 'base' and the tips at 'tip'.
// at(along, across) turns the two into a point of the side.
template <typename At> QPolygon ToothedSide(int span, int teeth, int t, int base, int tip, At at)
{
    QPolygon outline;
    Spacing s = SpacingFor(span, teeth);
    for (int i = 0; i < teeth; ++i) {
        outline << at(i * s.step + t - 1, base) << at(i * s.step + t - 1 + s.half, tip);
    }
    outline << at(span + t - 1, base);
    return outline;
}

// The left and right sides run down the rows, the top and bottom along the columns.
QPoint Vertical(int along, int across)
{
    return QPoint(across, along);
}

QPoint Horizontal(int along, int across)
{
    return QPoint(along, across);
}

} // namespace

TQMBL_SawToothButton::TQMBL_SawToothButton(QWidget *parent) : QWidget(parent)
{
    InstallQmblAccessibility();
    setAttribute(Qt::WA_OpaquePaintEvent);
    resize(32, 32);
    RebuildShape();
}

QPolygon TQMBL_SawToothButton::LeftOutline(int w, int h, int teeth, int toothSize)
{
    (void)w;
    if (teeth <= 0)
        return QPolygon();
    const int t = toothSize;
    return ToothedSide(h - 2 * t, teeth, t, t - 1, 0, Vertical);
}

QPolygon TQMBL_SawToothButton::RightOutline(int w, int h, int teeth, int toothSize)
{
    if (teeth <= 0)
        return QPolygon();
    const int t = toothSize;
    return ToothedSide(h - 2 * t, teeth, t, w - t - 1, w - 1, Vertical);
}

QPolygon TQMBL_SawToothButton::TopOutline(int w, int h, int teeth, int toothSize)
{
    (void)h;
    QPolygon outline;
    const int t = toothSize;
    const int span = w - 2 * t;
    if (teeth > 0) {
        outline = ToothedSide(span, teeth, t, t, 0, Horizontal);
    } else if (teeth < 0) {
        // Tips on the span boundaries; each boundary is rounded on its own
        // rather than as a multiple of a rounded step.
        const int n = -teeth;
        const int half = Nearest(static_cast<double>(span) / (2.0 * n));
        outline << QPoint(t - 1, t);
        for (int i = 0; i < n; ++i) {
            int x = Nearest(static_cast<double>(span) * i / n) + t - 1;
            outline << QPoint(x, 0) << QPoint(x + half, t);
        }
        outline << QPoint(w - t - 1, 0) << QPoint(w - t - 1, t);
    }
    return outline;
}

QPolygon TQMBL_SawToothButton::BottomOutline(int w, int h, int teeth, int toothSize)
{
    if (teeth <= 0)
        return QPolygon();
    const int t = toothSize;
    return ToothedSide(w - 2 * t, teeth, t, h - t - 1, h - 1, Horizontal);
}

QRegion TQMBL_SawToothButton::BuildRegion(int w, int h, int leftTeeth, int topTeeth, int rightTeeth, int bottomTeeth,
                                          int toothSize)
{
    const int t = toothSize;
    // The plate covers columns t-1 .. w-t-2 and rows t-1 .. h-t-2.
    QRegion shape;
    if (w - 2 * t > 0 && h - 2 * t > 0)
        shape = QRegion(t - 1, t - 1, w - 2 * t, h - 2 * t);
    const QPolygon sides[] = {LeftOutline(w, h, leftTeeth, t), RightOutline(w, h, rightTeeth, t),
                              TopOutline(w, h, topTeeth, t), BottomOutline(w, h, bottomTeeth, t)};
    for (const QPolygon &side : sides) {
        if (side.size() >= 3)
            shape |= QRegion(side, Qt::OddEvenFill);
    }
    return shape;
}

void TQMBL_SawToothButton::RebuildShape()
{
    setMask(BuildRegion(width(), height(), leftTeeth_, topTeeth_, rightTeeth_, bottomTeeth_, toothSize_));
}

void TQMBL_SawToothButton::SetCaption(const QString &caption)
{
    if (caption == caption_)
        return;
    caption_ = caption;
    repaint();
}

bool TQMBL_SawToothButton::SetTeeth(int &field, int n)
{
    if (n == field || n >= TeethLimit)
        return false;
    field = n;
    RebuildShape();
    repaint();
    return true;
}

void TQMBL_SawToothButton::SetLeftTeeth(int n)
{
    SetTeeth(leftTeeth_, n);
}

void TQMBL_SawToothButton::SetTopTeeth(int n)
{
    if (n < TopTeethLowest)
        return;
    SetTeeth(topTeeth_, n);
}

void TQMBL_SawToothButton::SetRightTeeth(int n)
{
    SetTeeth(rightTeeth_, n);
}

void TQMBL_SawToothButton::SetBottomTeeth(int n)
{
    SetTeeth(bottomTeeth_, n);
}

void TQMBL_SawToothButton::SetToothSize(int size)
{
    if (size == toothSize_)
        return;
    toothSize_ = size;
    RebuildShape();
    repaint();
}

void TQMBL_SawToothButton::SetDown(bool down)
{
    const bool changed = down_ != down;
    down_ = down;
    if (changed)
        NotifyQmblStateChanged(this);
    if (raised_ == down) {
        raised_ = !down;
        repaint();
    }
}

void TQMBL_SawToothButton::SetUpImage(const QImage &image)
{
    upImage_ = OpaqueCopy(image);
    repaint();
}

void TQMBL_SawToothButton::SetDownImage(const QImage &image)
{
    downImage_ = OpaqueCopy(image);
    repaint();
}

void TQMBL_SawToothButton::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    RebuildShape();
    repaint();
}

void TQMBL_SawToothButton::paintEvent(QPaintEvent *)
{
    ++paintCount_;
    const int w = width();
    const int h = height();
    const int t = toothSize_;
    const QColor light = raised_ ? qmbl::White : qmbl::Black;
    const QColor dark = raised_ ? qmbl::Black : qmbl::White;

    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.fillRect(0, 0, w, h, qmbl::Silver);
    qmbl::LinePen pen(painter);

    // Left side: the upper flank of every tooth light, the lower flank dark.
    if (leftTeeth_ > 0) {
        Spacing s = SpacingFor(h - 2 * t, leftTeeth_);
        pen.SetColor(light);
        pen.SetWidth(2);
        pen.MoveTo(t - 1, t - 1);
        for (int i = 0; i < leftTeeth_; ++i) {
            pen.LineTo(t - 1, i * s.step + t - 1);
            pen.SetColor(light);
            pen.LineTo(0, i * s.step + t - 1 + s.half);
            pen.SetColor(dark);
        }
        pen.LineTo(t - 1, h - t - 1);
        pen.SetWidth(1);
    } else {
        pen.SetColor(light);
        pen.Line(t - 1, t - 1, t - 1, h - t - 1);
    }

    // Right side.
    if (rightTeeth_ > 0) {
        Spacing s = SpacingFor(h - 2 * t, rightTeeth_);
        pen.SetColor(dark);
        pen.SetWidth(2);
        pen.MoveTo(w - t - 1, t - 1);
        for (int i = 0; i < rightTeeth_; ++i) {
            pen.LineTo(w - t - 1, i * s.step + t - 1);
            pen.SetColor(light);
            pen.LineTo(w - 1, i * s.step + t - 1 + s.half);
            pen.SetColor(dark);
        }
        pen.LineTo(w - t - 1, h - t - 1);
        pen.SetWidth(1);
    } else {
        pen.SetColor(dark);
        pen.Line(w - t - 2, t - 1, w - t - 2, h - t - 1);
        pen.SetColor(qmbl::Grey);
        pen.Line(w - t - 3, t, w - t - 3, h - t - 2);
    }

    // Top side. The rising flank of a tooth is light and reaches one pixel
    // past the tip; the falling flank is dark.
    if (topTeeth_ > 0) {
        Spacing s = SpacingFor(w - 2 * t, topTeeth_);
        pen.SetColor(light);
        pen.SetWidth(2);
        pen.MoveTo(t - 1, t - 1);
        for (int i = 0; i < topTeeth_; ++i) {
            const int x = i * s.step + t - 1;
            pen.LineTo(x, t);
            pen.SetColor(light);
            pen.LineTo(x + s.half + 1, -1);
            pen.MoveTo(x + s.half, 0);
            pen.SetColor(dark);
        }
        pen.LineTo(w - t - 1, t - 1);
        pen.SetWidth(1);
    } else if (topTeeth_ < 0) {
        // Tips on the span boundaries: each tooth rises light and falls dark,
        // the last one stands on a vertical edge.
        const int n = -topTeeth_;
        const int half = Nearest(static_cast<double>(w - 2 * t) / (2.0 * n));
        pen.SetColor(light);
        pen.SetWidth(2);
        pen.MoveTo(t - 1, t - 1);
        for (int i = 0; i < n; ++i) {
            const int x = Nearest(static_cast<double>(w - 2 * t) * i / n) + t - 1;
            pen.LineTo(x, 0);
            pen.SetColor(dark);
            pen.LineTo(x + half, t);
            pen.MoveTo(x + half, t);
            pen.SetColor(light);
        }
        pen.LineTo(w - t, 0);
        pen.SetColor(qmbl::Grey);
        pen.Line(w - t - 2, 1, w - t - 2, t);
        pen.SetColor(dark);
        pen.Line(w - t - 1, 0, w - t - 1, t);
        pen.SetWidth(1);
    } else {
        pen.SetColor(light);
        pen.Line(t - 1, t - 1, w - t - 2, t - 1);
    }

    // Bottom side.
    if (bottomTeeth_ > 0) {
        Spacing s = SpacingFor(w - 2 * t, bottomTeeth_);
        pen.SetColor(light);
        pen.SetWidth(2);
        pen.MoveTo(t - 1, h - t - 1);
        for (int i = 0; i < bottomTeeth_; ++i) {
            const int x = i * s.step + t - 1;
            pen.LineTo(x, h - t - 1);
            pen.SetColor(light);
            pen.LineTo(x + s.half + 1, h);
            pen.MoveTo(x + s.half, h - 1);
            pen.SetColor(dark);
        }
        pen.LineTo(w - t - 1, h - t - 1);
        pen.SetWidth(1);
    } else {
        pen.SetColor(dark);
        pen.Line(t - 1, h - t - 2, w - t - 2, h - t - 2);
        pen.SetColor(qmbl::Grey);
        pen.Line(t, h - t - 3, w - t - 3, h - t - 3);
    }

    // Caption, then the picture over it; both one pixel right and down while
    // pressed.
    const int d = raised_ ? 0 : 1;
    qmbl::DrawFace(painter, QSize(w - 2 * t, h - 2 * t), QPoint(t + d, t + d), QPoint(t - 1 + d, t - 1 + d), caption_,
                   raised_ ? upImage_ : downImage_);
    // Inside the plate, clear of its bevel.
    if (keys_.Shown())
        DrawQmblFocusMark(painter, QRect(t + 2, t + 2, w - 2 * t - 5, h - 2 * t - 5));
}

void TQMBL_SawToothButton::mousePressEvent(QMouseEvent *event)
{
    // The second press of a double click arrives here too and counts as a
    // press of its own.
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    if (raised_) {
        raised_ = false;
        repaint();
    }
    clickStarted_ = true;
}

void TQMBL_SawToothButton::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    // Only the rectangle counts here, not the teeth.
    const bool inside = qmbl::InsideRect(event->position(), width(), height());
    const bool clicked = clickStarted_;
    clickStarted_ = false;
    if (inside) {
        SetDown(!down_);
        if (clicked)
            emit OnClick();
    } else if (!down_) {
        raised_ = true;
        repaint();
    }
}
