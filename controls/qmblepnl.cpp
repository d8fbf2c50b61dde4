// SPDX-License-Identifier: GPL-3.0-or-later
#include "controls/qmblepnl.h"

#include "controls/qmblaccess.h"
#include "controls/qmbldraw.h"
#include "controls/qmblrbtn.h"

#include <QPainter>

TQMBL_EllipticalPanel::TQMBL_EllipticalPanel(QWidget *parent) : QWidget(parent)
{
    InstallQmblAccessibility();
    resize(185, 41);
    setMask(BuildRegion(width(), height()));
}

QRegion TQMBL_EllipticalPanel::BuildRegion(int w, int h)
{
    return TQMBL_EllipticalButton::BuildRegion(w, h);
}

void TQMBL_EllipticalPanel::SetColor(const QColor &color)
{
    if (color == color_)
        return;
    color_ = color;
    update();
}

void TQMBL_EllipticalPanel::SetBevelOuter(TBevelCut bevel)
{
    if (bevel == bevelOuter_)
        return;
    bevelOuter_ = bevel;
    update();
}

void TQMBL_EllipticalPanel::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    setMask(BuildRegion(width(), height()));
    repaint();
}

void TQMBL_EllipticalPanel::paintEvent(QPaintEvent *)
{
    ++paintCount_;
    const int w = width();
    const int h = height();
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, false);
    // The background erase: the whole panel in its colour, then the rim or
    // the outlined ellipse on top.
    painter.fillRect(0, 0, w, h, color_);
    switch (bevelOuter_) {
    case TBevelCut::bvLowered:
        qmbl::DrawEllipticalRim(painter, w, h, false);
        break;
    case TBevelCut::bvRaised:
        qmbl::DrawEllipticalRim(painter, w, h, true);
        break;
    case TBevelCut::bvNone:
    case TBevelCut::bvSpace:
        painter.setBrush(color_);
        painter.setPen(QPen(qmbl::Black, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.drawEllipse(QRect(0, 0, w - 1, h - 1));
        break;
    }
}
