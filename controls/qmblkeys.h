// SPDX-License-Identifier: GPL-3.0-or-later
// The keyboard on the drawn buttons: they take the focus from Tab (never
// from a click, so the mouse leaves the window as it always looked), show a
// dotted focus mark only while the keyboard has put the focus there, and
// Enter clicks them as the mouse does. The space bar is left to the window,
// where it clicks Play from any control.
#pragma once

#include <QRect>
#include <Qt>

class QFocusEvent;
class QKeyEvent;
class QPainter;
class QWidget;

// What a drawn button keeps of its focus.
class TQmblKeyboardFocus {
public:
    // Sets the focus policy: by default Tab and Shift+Tab only (a track bar
    // keeps taking it from a click too, as a slider does).
    explicit TQmblKeyboardFocus(QWidget *button, Qt::FocusPolicy policy = Qt::TabFocus);

    // True while the focus is there because the keyboard moved it (Tab,
    // Shift+Tab, a shortcut); false for the focus a window gives its first
    // control when it is shown or activated.
    bool Shown() const { return shown_; }

    // From the button's focusInEvent and focusOutEvent; repaint the button
    // when the mark changes.
    void FocusIn(const QFocusEvent *event);
    void FocusOut();

    // From the button's keyPressEvent: Enter (either key) clicks the button
    // as the mouse does, press and release at its centre, and is taken,
    // when the keyboard put the focus there (Shown); anything else is left
    // for the parents (false).
    bool KeyPress(QKeyEvent *event);

private:
    QWidget *button_;
    bool shown_ = false;
};

// A click as the mouse gives it: press and release in the middle.
void ClickQmblControl(QWidget *widget);

// The focus mark: a one-pixel dotted frame, every other pixel black, along
// the edge of area.
void DrawQmblFocusMark(QPainter &painter, const QRect &area);
