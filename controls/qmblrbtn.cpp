// SPDX-License-Identifier: GPL-3.0-or-later
#include "controls/qmblrbtn.h"

#include "controls/qmblaccess.h"
#include "controls/qmbldraw.h"
#include "controls/qmblkeys.h"

#include <QMouseEvent>
#include <QPainter>

TQMBL_EllipticalButton::TQMBL_EllipticalButton(QWidget *parent) : QWidget(parent)
{
    InstallQmblAccessibility();
    setAttribute(Qt::WA_OpaquePaintEvent);
    resize(32, 32);
    setMask(BuildRegion(width(), height()));
}

QRegion TQMBL_EllipticalButton::BuildRegion(int w, int h)
{
    // The rectangle (0,0)-(w-1,h-1) excludes its right and bottom edges, so
    // the ellipse covers columns 0 .. w-2 and rows 0 .. h-2.
    return qmbl::EllipseRegion(0, 0, w - 1, h - 1);
}

void TQMBL_EllipticalButton::SetCaption(const QString &caption)
{
    if (caption == caption_)
        return;
    caption_ = caption;
    repaint();
}

void TQMBL_EllipticalButton::SetDown(bool down)
{
    if (down_ != down)
        NotifyQmblStateChanged(this);
    down_ = down;
    if (raised_ == down)
        raised_ = !down;
    repaint();
}

void TQMBL_EllipticalButton::SetUpImage(const QImage &image)
{
    upImage_ = qmbl::OpaqueCopy(image);
    repaint();
}

void TQMBL_EllipticalButton::SetDownImage(const QImage &image)
{
    downImage_ = qmbl::OpaqueCopy(image);
    repaint();
}

void TQMBL_EllipticalButton::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    setMask(BuildRegion(width(), height()));
    repaint();
}

void TQMBL_EllipticalButton::paintEvent(QPaintEvent *)
{
    ++paintCount_;
    const int w = width();
    const int h = height();
    const int d = raised_ ? 0 : 1;

    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.fillRect(0, 0, w, h, qmbl::Silver);
    qmbl::DrawFace(painter, QSize(w, h), QPoint(d, d), QPoint(d, d), caption_, raised_ ? upImage_ : downImage_);
    qmbl::DrawEllipticalRim(painter, w, h, raised_);
    // The square inside the rim.
    if (keys_.Shown())
        DrawQmblFocusMark(painter, QRect(w / 5, h / 5, w - 2 * (w / 5), h - 2 * (h / 5)));
}

void TQMBL_EllipticalButton::mousePressEvent(QMouseEvent *event)
{
    // The second press of a double click arrives here too and counts as a
    // press of its own.
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    clickStarted_ = true;
    if (raised_) {
        raised_ = false;
        repaint();
    }
    emit OnMouseDown();
}

void TQMBL_EllipticalButton::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    const bool inside = qmbl::InsideRect(event->position(), width(), height());
    const bool clicked = clickStarted_;
    clickStarted_ = false;
    // The click is reported with Down still at its old value; the release
    // flips Down wherever it happens.
    if (clicked && inside)
        emit OnClick();
    down_ = !down_;
    NotifyQmblStateChanged(this);
    if (raised_ == down_) {
        raised_ = !down_;
        repaint();
    }
    emit OnMouseUp();
}
