// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/look.h"

#include <QFrame>
#include <QLabel>
#include <QPainter>
#include <QPalette>
#include <QPen>

QFont FormFont()
{
    QFont font;
    font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("DejaVu Sans"), QStringLiteral("Sans Serif")});
    font.setPixelSize(12);
    return font;
}

QFont BoldFont(int pixelSize)
{
    QFont font = FormFont();
    font.setPixelSize(pixelSize);
    font.setBold(true);
    return font;
}

void SetTextColor(QWidget *widget, const QColor &color)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, color);
    widget->setPalette(palette);
}

void SetBackColor(QWidget *widget, const QColor &color)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, color);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

QLabel *MakeLabel(QWidget *parent, const QString &text, int left, int top, const QFont &font, const QColor &color)
{
    auto *label = new QLabel(text, parent);
    label->setFont(font);
    SetTextColor(label, color);
    label->move(left, top);
    label->adjustSize();
    return label;
}

TQMBL_SawToothButton *MakeSawToothButton(QWidget *parent, int left, int top, int width, int height, int leftTeeth,
                                         int topTeeth, int rightTeeth, int bottomTeeth, int toothSize)
{
    auto *button = new TQMBL_SawToothButton(parent);
    button->SetLeftTeeth(leftTeeth);
    button->SetTopTeeth(topTeeth);
    button->SetRightTeeth(rightTeeth);
    button->SetBottomTeeth(bottomTeeth);
    button->SetToothSize(toothSize);
    button->setGeometry(left, top, width, height);
    return button;
}

TQMBL_TrackBar *MakeVerticalTrackBar(QWidget *parent, int left, int top, int width, int height, int max, int position,
                                     TTickMark marks, TTickStyle style)
{
    auto *bar = new TQMBL_TrackBar(parent);
    bar->SetOrientation(TTrackBarOrientation::trVertical);
    bar->SetMin(0);
    bar->SetMax(max);
    bar->SetPosition(position);
    bar->SetFrequency(1);
    bar->SetTickMarks(marks);
    bar->SetTickStyle(style);
    bar->setGeometry(left, top, width, height);
    return bar;
}

QRegion MainWindowShape(int width, int height)
{
    // A rectangle one pixel larger than the window, its corners rounded on
    // 150 x 150 ellipses, joined with a rectangle that squares off the top
    // corners again.
    const int right = width + 1;
    const int bottom = height + 1;
    QRegion rounded(0, 75, right, bottom - 150);
    rounded += QRegion(75, 0, right - 150, bottom);
    rounded += QRegion(QRect(0, 0, 150, 150), QRegion::Ellipse);
    rounded += QRegion(QRect(right - 150, 0, 150, 150), QRegion::Ellipse);
    rounded += QRegion(QRect(0, bottom - 150, 150, 150), QRegion::Ellipse);
    rounded += QRegion(QRect(right - 150, bottom - 150, 150, 150), QRegion::Ellipse);
    return rounded.united(QRegion(0, 0, right, height - 150));
}

bool ShapeIsPainted(const QString &platformName)
{
    return platformName.startsWith(QStringLiteral("wayland"));
}

void PaintWindowFace(QPainter &painter, const QWidget &window, bool translucent)
{
    const int w = window.width();
    const int h = window.height();
    // On a transparent surface the window's face is painted inside its
    // shape only; outside it, what lies behind the window shows.
    if (translucent) {
        painter.setClipRegion(MainWindowShape(w, h));
        painter.fillRect(window.rect(), window.palette().color(QPalette::Window));
        painter.setClipping(false);
    }
    // A bevel along the two rounded corners: grey and black outside on the
    // right, white and light grey inside on the left. Arcs are given by their
    // bounding box and run counter-clockwise between two directions.
    auto arc = [&painter](QRgb color, int left, int top, int right, int bottom, int fromDegrees, int spanDegrees) {
        painter.setPen(QPen(QColor::fromRgb(color), 2));
        painter.drawArc(QRectF(left, top, right - left - 1, bottom - top - 1), fromDegrees * 16, spanDegrees * 16);
    };
    arc(0x808080, w - 150, h - 150, w, h, 270, 90);
    arc(0x808080, 0, h - 150, 150, h, 225, 45);
    arc(0x000000, w - 149, h - 149, w + 1, h + 1, 270, 90);
    arc(0x000000, -1, h - 149, 149, h + 1, 225, 45);
    arc(0xFFFFFF, 1, h - 150, 151, h, 180, 45);
    arc(0xC0C0C0, 0, h - 150, 150, h, 180, 45);
}
