// SPDX-License-Identifier: GPL-3.0-or-later
// TQMBL_TrackBar: the standard track bar without a selection range. Min sits
// at the top end of a vertical bar and at the left end of a horizontal one.
// Setting Position from the program clamps it into Min..Max and moves the
// thumb without emitting OnChange; OnChange is emitted, after Position has
// changed, only when the user scrolls with the mouse or the keyboard.
#pragma once

#include "controls/qmblkeys.h"

#include <QSlider>

enum class TTrackBarOrientation { trHorizontal, trVertical };
enum class TTickMark { tmBottomRight, tmTopLeft, tmBoth };
enum class TTickStyle { tsNone, tsAuto, tsManual };

class TQMBL_TrackBar : public QSlider {
    Q_OBJECT

public:
    explicit TQMBL_TrackBar(QWidget *parent = nullptr);

    int Min() const { return minimum(); }
    int Max() const { return maximum(); }
    int Position() const { return value(); }
    void SetMin(int min);
    void SetMax(int max);
    void SetPosition(int position);

    // Distance between tick marks (in positions) when TickStyle is tsAuto.
    int Frequency() const { return frequency_; }
    void SetFrequency(int frequency);

    // Step of the arrow keys and of a page (Page Up/Down, click beside the thumb).
    int LineSize() const { return singleStep(); }
    int PageSize() const { return pageStep(); }
    void SetLineSize(int size);
    void SetPageSize(int size);

    TTrackBarOrientation Orientation() const;
    void SetOrientation(TTrackBarOrientation orientation);

    TTickMark TickMarks() const { return tickMarks_; }
    void SetTickMarks(TTickMark marks);
    TTickStyle TickStyle() const { return tickStyle_; }
    void SetTickStyle(TTickStyle style);

    // Kept for completeness; this track bar never shows a selection range.
    int SelStart() const { return selStart_; }
    int SelEnd() const { return selEnd_; }
    void SetSelStart(int v) { selStart_ = v; }
    void SetSelEnd(int v) { selEnd_ = v; }

    int PaintCount() const { return paintCount_; }

signals:
    // The user moved the thumb; Position already holds the new value.
    void OnChange();

protected:
    bool event(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void ApplyTicks();
    void OnValueChanged();

    int frequency_ = 1;
    TTickMark tickMarks_ = TTickMark::tmBottomRight;
    TTickStyle tickStyle_ = TTickStyle::tsAuto;
    int selStart_ = 0;
    int selEnd_ = 0;
    // Nesting depth of user input being handled, and of changes made by the
    // program through the setters (which win when both are under way).
    int userInput_ = 0;
    int programChange_ = 0;
    int paintCount_ = 0;
    TQmblKeyboardFocus keys_{this, TQmblKeyboardFocus::TKind::TrackBar};
};
