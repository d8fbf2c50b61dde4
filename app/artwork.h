// SPDX-License-Identifier: GPL-3.0-or-later
// The pictures on the image buttons, drawn once at start-up: the button's
// name in bouncy outlined letters. The up picture sits on the button's silver
// plate; the down picture is a lit panel, dark with glowing letters, so that a
// pressed effect is plain to see across the room.
#pragma once

#include <QColor>
#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <QSize>
#include <QString>

struct TButtonPictures {
    QImage Up;
    QImage Down;
};

enum class TLettering {
    Across,  // left to right
    Rising,  // turned a quarter left: reads upwards
    Falling, // turned a quarter right: reads downwards
};

// text may hold several lines separated by '\n'; the lettering is scaled to
// fill size with a small margin. ink is the colour of the letters.
TButtonPictures LabelPictures(const QString &text, QSize size, QColor ink, TLettering lettering = TLettering::Across);

// The plate colour the up pictures are drawn on (the buttons' silver).
inline constexpr QRgb PlateColor = 0xFFC0C0C0;
// The background of every down picture.
inline constexpr QRgb LitPanelColor = 0xFF141440;

// The program's icon: a singing face with sound waves.
QPixmap ProgramIconPixmap(int size);
// The same in every size a desktop asks for, 16 to 256 pixels: the window's icon.
QIcon ProgramIcon();
