// SPDX-License-Identifier: GPL-3.0-or-later
#include "controls/qmbltbar.h"

#include "controls/qmblaccess.h"

#include <QEvent>
#include <QPainter>

namespace {

// Counts a nesting level for as long as it lives.
class DepthGuard {
public:
    explicit DepthGuard(int &depth) : depth_(depth) { ++depth_; }
    ~DepthGuard() { --depth_; }
    DepthGuard(const DepthGuard &) = delete;
    DepthGuard &operator=(const DepthGuard &) = delete;

private:
    int &depth_;
};

} // namespace

TQMBL_TrackBar::TQMBL_TrackBar(QWidget *parent) : QSlider(parent)
{
    InstallQmblAccessibility();
    DepthGuard program(programChange_);
    setRange(0, 10);
    setValue(0);
    setSingleStep(1);
    setPageStep(2);
    SetOrientation(TTrackBarOrientation::trHorizontal);
    resize(150, 45);
    connect(this, &QAbstractSlider::valueChanged, this, &TQMBL_TrackBar::OnValueChanged);
}

bool TQMBL_TrackBar::event(QEvent *event)
{
    // Every scroll the user makes arrives as one of these: a key, the wheel,
    // a press or drag of the mouse, or the repeat timer of a held press
    // beside the thumb.
    switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::Wheel:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseMove:
    case QEvent::Timer: {
        DepthGuard user(userInput_);
        return QSlider::event(event);
    }
    default:
        return QSlider::event(event);
    }
}

void TQMBL_TrackBar::OnValueChanged()
{
    if (userInput_ > 0 && programChange_ == 0)
        emit OnChange();
}

void TQMBL_TrackBar::SetMin(int min)
{
    DepthGuard program(programChange_);
    setMinimum(min);
    ApplyTicks();
}

void TQMBL_TrackBar::SetMax(int max)
{
    DepthGuard program(programChange_);
    setMaximum(max);
    ApplyTicks();
}

void TQMBL_TrackBar::SetPosition(int position)
{
    DepthGuard program(programChange_);
    // The slider keeps its value within its range by itself.
    setValue(position);
}

void TQMBL_TrackBar::SetFrequency(int frequency)
{
    if (frequency == frequency_)
        return;
    frequency_ = frequency;
    ApplyTicks();
}

void TQMBL_TrackBar::SetLineSize(int size)
{
    setSingleStep(size);
}

void TQMBL_TrackBar::SetPageSize(int size)
{
    setPageStep(size);
}

TTrackBarOrientation TQMBL_TrackBar::Orientation() const
{
    return orientation() == Qt::Vertical ? TTrackBarOrientation::trVertical : TTrackBarOrientation::trHorizontal;
}

void TQMBL_TrackBar::SetOrientation(TTrackBarOrientation orientation)
{
    const bool vertical = orientation == TTrackBarOrientation::trVertical;
    setOrientation(vertical ? Qt::Vertical : Qt::Horizontal);
    // A vertical bar has Min at the top; Up, Page Up and the wheel turned
    // up move the thumb up, towards Min.
    setInvertedAppearance(vertical);
    setInvertedControls(vertical);
    ApplyTicks();
}

void TQMBL_TrackBar::SetTickMarks(TTickMark marks)
{
    tickMarks_ = marks;
    ApplyTicks();
}

void TQMBL_TrackBar::SetTickStyle(TTickStyle style)
{
    tickStyle_ = style;
    ApplyTicks();
}

void TQMBL_TrackBar::ApplyTicks()
{
    if (tickStyle_ == TTickStyle::tsNone) {
        setTickPosition(QSlider::NoTicks);
        return;
    }
    const bool vertical = orientation() == Qt::Vertical;
    switch (tickMarks_) {
    case TTickMark::tmBottomRight:
        setTickPosition(vertical ? QSlider::TicksRight : QSlider::TicksBelow);
        break;
    case TTickMark::tmTopLeft:
        setTickPosition(vertical ? QSlider::TicksLeft : QSlider::TicksAbove);
        break;
    case TTickMark::tmBoth:
        setTickPosition(QSlider::TicksBothSides);
        break;
    }
    // Automatic ticks every Frequency positions; manual ones only at the ends.
    if (tickStyle_ == TTickStyle::tsAuto)
        setTickInterval(frequency_ > 0 ? frequency_ : 1);
    else
        setTickInterval(maximum() > minimum() ? maximum() - minimum() : 1);
}

void TQMBL_TrackBar::paintEvent(QPaintEvent *event)
{
    ++paintCount_;
    QSlider::paintEvent(event);
    if (keys_.Shown()) {
        QPainter painter(this);
        DrawQmblFocusMark(painter, rect());
    }
}
