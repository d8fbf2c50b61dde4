// SPDX-License-Identifier: GPL-3.0-or-later
// The keyboard on the drawn buttons: they take the focus from Tab (never
// from a click, so the mouse leaves the window as it always looked), show a
// dotted focus mark only while the keyboard has put the focus there, and
// Enter clicks them as the mouse does. The space bar is left to the window,
// where it clicks Play from any control.
#pragma once

#include <QColor>
#include <QObject>
#include <QRect>

class QPainter;
class QWidget;

// What a drawn control keeps of its focus. It watches the control's focus
// and key events itself, so the control only asks Shown when it paints.
class TQmblKeyboardFocus : public QObject {
public:
    // A button takes the focus from Tab and Shift+Tab only, and Enter clicks
    // it; a track bar keeps taking the focus from a click too, as a slider
    // does, and keeps its own keys.
    enum class TKind { Button, TrackBar };
    TQmblKeyboardFocus(QWidget *control, TKind kind);

    // True while the focus is there because the keyboard moved it (Tab,
    // Shift+Tab, a shortcut); false for the focus a window gives its first
    // control when it is shown or activated.
    bool Shown() const { return shown_; }

protected:
    // Focus in and out repaint the control when the mark changes. On a
    // button, Enter (either key) clicks it as the mouse does, press and
    // release at its centre, and is taken, when the keyboard put the focus
    // there (Shown); anything else goes on to the control.
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWidget *control_;
    TKind kind_;
    bool shown_ = false;
};

// A click as the mouse gives it: press and release in the middle.
void ClickQmblControl(QWidget *widget);

// The focus mark: a one-pixel dotted frame, every other pixel black (or the
// given colour, for a control drawn on black), along the edge of area.
void DrawQmblFocusMark(QPainter &painter, const QRect &area, const QColor &color = QColor(0, 0, 0));
