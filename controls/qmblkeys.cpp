// SPDX-License-Identifier: GPL-3.0-or-later
#include "controls/qmblkeys.h"

#include <QCoreApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QWidget>

TQmblKeyboardFocus::TQmblKeyboardFocus(QWidget *control, TKind kind) : control_(control), kind_(kind)
{
    control->setFocusPolicy(kind == TKind::Button ? Qt::TabFocus : Qt::StrongFocus);
    control->installEventFilter(this);
}

bool TQmblKeyboardFocus::eventFilter(QObject *, QEvent *event)
{
    switch (event->type()) {
    case QEvent::FocusIn:
    case QEvent::FocusOut: {
        const Qt::FocusReason reason = static_cast<QFocusEvent *>(event)->reason();
        const bool keyboard =
            event->type() == QEvent::FocusIn &&
            (reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason || reason == Qt::ShortcutFocusReason);
        if (keyboard != shown_) {
            shown_ = keyboard;
            control_->update();
        }
        return false;
    }
    case QEvent::KeyPress: {
        // Only where the keyboard put the focus: the focus a window gives its
        // first control when shown leaves Enter as it always was.
        const auto *key = static_cast<QKeyEvent *>(event);
        if (kind_ != TKind::Button || (key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter) ||
            key->isAutoRepeat() || !shown_)
            return false;
        ClickQmblControl(control_);
        return true;
    }
    default:
        return false;
    }
}

void ClickQmblControl(QWidget *widget)
{
    const QPointF centre(widget->width() / 2.0, widget->height() / 2.0);
    const QPointF global = widget->mapToGlobal(centre);
    QMouseEvent press(QEvent::MouseButtonPress, centre, global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, centre, global, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &release);
}

void DrawQmblFocusMark(QPainter &painter, const QRect &area, const QColor &color)
{
    // Every other pixel of the frame, counted around it from the top left,
    // as the dotted focus frame of the desktop this program comes from.
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(color);
    const int left = area.left();
    const int top = area.top();
    const int right = area.right();
    const int bottom = area.bottom();
    int step = 0;
    auto dot = [&](int x, int y) {
        if (step++ % 2 == 0)
            painter.drawPoint(x, y);
    };
    for (int x = left; x < right; ++x)
        dot(x, top);
    for (int y = top; y < bottom; ++y)
        dot(right, y);
    for (int x = right; x > left; --x)
        dot(x, bottom);
    for (int y = bottom; y > top; --y)
        dot(left, y);
    painter.restore();
}
