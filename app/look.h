// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's look: its fonts and colours, how its labels, saw-tooth
// buttons and bars are made, its shape (square top corners, the bottom ones
// rounded) and the bevel along the rounded corners.
#pragma once

#include "controls/qmblsbtn.h"
#include "controls/qmbltbar.h"

#include <QColor>
#include <QFont>
#include <QRegion>
#include <QString>

class QLabel;
class QPainter;
class QWidget;

// The window's own font: 12-pixel MS Sans Serif or its nearest match.
QFont FormFont();
QFont BoldFont(int pixelSize);
void SetTextColor(QWidget *widget, const QColor &color);
// Fills the widget's background with color.
void SetBackColor(QWidget *widget, const QColor &color);
// A label at left, top, as large as its text.
QLabel *MakeLabel(QWidget *parent, const QString &text, int left, int top, const QFont &font, const QColor &color);
TQMBL_SawToothButton *MakeSawToothButton(QWidget *parent, int left, int top, int width, int height, int leftTeeth,
                                         int topTeeth, int rightTeeth, int bottomTeeth, int toothSize);
// A vertical bar from 0 to max, one tick per step.
TQMBL_TrackBar *MakeVerticalTrackBar(QWidget *parent, int left, int top, int width, int height, int max, int position,
                                     TTickMark marks, TTickStyle style);

// The window's shape for an outer size of width x height: square top
// corners, bottom corners rounded on 150 x 150 ellipses.
QRegion MainWindowShape(int width, int height);
// Whether the window must paint its shape itself, on a transparent
// surface: on platforms (Wayland) where a top-level mask shapes only the
// input, not what is seen. Elsewhere (X11) the mask alone shapes it.
bool ShapeIsPainted(const QString &platformName);
// Paints the window's face: inside its shape when translucent, and the
// bevel along the rounded corners.
void PaintWindowFace(QPainter &painter, const QWidget &window, bool translucent);
