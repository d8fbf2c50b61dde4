// SPDX-License-Identifier: GPL-3.0-or-later
#include "controls/qmblvled.h"

#include "controls/qmblaccess.h"
#include "controls/qmbldraw.h"

#include <QMouseEvent>
#include <QPainter>

#include <cmath>

using qmbl::Nearest;

TQMBL_VerticalLEDs::TQMBL_VerticalLEDs(QWidget *parent) : QWidget(parent)
{
    InstallQmblAccessibility();
    setAttribute(Qt::WA_OpaquePaintEvent);
    resize(185, 41);
}

void TQMBL_VerticalLEDs::SetColor(const QColor &color)
{
    if (color == color_)
        return;
    color_ = color;
    update();
}

void TQMBL_VerticalLEDs::SetLEDOnColor(const QColor &color)
{
    if (color == ledOnColor_)
        return;
    ledOnColor_ = color;
    repaint();
}

void TQMBL_VerticalLEDs::SetLEDOffColor(const QColor &color)
{
    if (color == ledOffColor_)
        return;
    ledOffColor_ = color;
    repaint();
}

void TQMBL_VerticalLEDs::SetProgress(float progress)
{
    // Written so that a not-a-number also ends at 0.
    if (!(progress > 0.0f))
        progress = 0.0f;
    else if (progress >= 1.0f)
        progress = 1.0f;
    if (progress == progress_)
        return;
    progress_ = progress;
    repaint();
    NotifyQmblValueChanged(this, static_cast<double>(progress) * 100.0);
}

void TQMBL_VerticalLEDs::SetNumLEDs(int n)
{
    if (n == numLEDs_)
        return;
    numLEDs_ = n;
    repaint();
}

void TQMBL_VerticalLEDs::Compose(QImage &image, int w, int h) const
{
    if (image.width() != w || image.height() != h || image.format() != QImage::Format_RGB32)
        image = QImage(w, h, QImage::Format_RGB32);
    if (image.isNull())
        return;
    image.fill(color_);

    // Fills columns x1..x2 and rows y1..y2 (both ends included), clipped.
    auto fill = [&](int x1, int y1, int x2, int y2, const QColor &color) {
        x1 = std::max(x1, 0);
        y1 = std::max(y1, 0);
        x2 = std::min(x2, w - 1);
        y2 = std::min(y2, h - 1);
        const QRgb rgb = color.rgb();
        for (int y = y1; y <= y2; ++y) {
            QRgb *line = reinterpret_cast<QRgb *>(image.scanLine(y));
            for (int x = x1; x <= x2; ++x)
                line[x] = rgb;
        }
    };

    const int n = numLEDs_;
    if (n > 0) {
        // The pitch a is one LED plus its gap; the gap is a tenth of the pitch
        // plus one row.
        const int a = Nearest(static_cast<double>(h - 8) / n);
        const int b = Nearest(a * 10 * 0.01);
        int lit = static_cast<int>(std::ceil(static_cast<float>(n) * progress_));
        if (lit > n)
            lit = n;
        // LED 1 is the bottom one; LEDs too thin to show, or wholly above the
        // picture, are not drawn.
        if (a - b - 1 > 0) {
            for (int i = 1; i <= n; ++i) {
                const int top = h - 3 - i * a;
                if (top + a - b - 2 < 0)
                    break;
                fill(4, top, w - 5, top + a - b - 2, i <= lit ? ledOnColor_ : ledOffColor_);
            }
        }
    }

    // A sunken one-pixel frame: grey top and left, white bottom and right.
    fill(0, h - 1, w - 2, h - 1, qmbl::White);
    fill(w - 1, 1, w - 1, h - 1, qmbl::White);
    fill(0, 1, 0, h - 2, qmbl::Grey);
    fill(0, 0, w - 1, 0, qmbl::Grey);
}

void TQMBL_VerticalLEDs::paintEvent(QPaintEvent *)
{
    ++paintCount_;
    Compose(backBuffer_, width(), height());
    QPainter painter(this);
    painter.drawImage(0, 0, backBuffer_);
}

void TQMBL_VerticalLEDs::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        clickStarted_ = true;
    QWidget::mousePressEvent(event);
}

void TQMBL_VerticalLEDs::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && clickStarted_) {
        clickStarted_ = false;
        if (rect().contains(event->position().toPoint()))
            emit OnClick();
    }
    QWidget::mouseReleaseEvent(event);
}

void TQMBL_VerticalLEDs::mouseMoveEvent(QMouseEvent *event)
{
    const QPoint p = event->position().toPoint();
    emit OnMouseMove(event->modifiers(), p.x(), p.y());
    QWidget::mouseMoveEvent(event);
}
