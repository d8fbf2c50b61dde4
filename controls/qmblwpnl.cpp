// SPDX-License-Identifier: GPL-3.0-or-later
#include "controls/qmblwpnl.h"

#include "controls/qmblaccess.h"
#include "controls/qmbldraw.h"

#include <QPainter>

#include <cstdint>

using qmbl::Nearest;

TQMBL_Wave_Display::TQMBL_Wave_Display(QWidget *parent) : QWidget(parent)
{
    InstallQmblAccessibility();
    setAttribute(Qt::WA_OpaquePaintEvent);
    resize(185, 41);
}

QRegion TQMBL_Wave_Display::BuildRegion(int w, int h)
{
    return qmbl::EllipseRegion(0, 0, w, h);
}

void TQMBL_Wave_Display::showEvent(QShowEvent *event)
{
    // The elliptical shape is taken once, at the size the display has when
    // it first appears.
    if (!shaped_) {
        setMask(BuildRegion(width(), height()));
        shaped_ = true;
    }
    QWidget::showEvent(event);
}

void TQMBL_Wave_Display::SetSampleData(const int16_t *data, int32_t bytes)
{
    if (data == nullptr || bytes < 0) {
        data = nullptr;
        bytes = 0;
    }
    sampleData_ = data;
    sampleBytes_ = bytes & ~int32_t{1};
    needsRender_ = true;
    repaint();
}

void TQMBL_Wave_Display::SetStartingPosition(int32_t position)
{
    if (position == startingPosition_)
        return;
    startingPosition_ = position;
    needsRender_ = true;
    repaint();
}

void TQMBL_Wave_Display::SetSamplesPerPixel(int32_t samples)
{
    if (samples == samplesPerPixel_)
        return;
    samplesPerPixel_ = samples;
    needsRender_ = true;
    repaint();
}

void TQMBL_Wave_Display::RenderWave()
{
    const int w = width();
    const int h = height();
    if (backBuffer_.width() != w || backBuffer_.height() != h)
        backBuffer_ = QImage(w, h, QImage::Format_RGB32);
    needsRender_ = false;
    ++renderCount_;
    if (backBuffer_.isNull())
        return;
    backBuffer_.fill(qmbl::Black);

    const QRgb lime = qRgb(0, 255, 0);
    auto plot = [this, w, h](QRgb rgb) {
        return [this, w, h, rgb](int x, int y) {
            if (x >= 0 && x < w && y >= 0 && y < h)
                reinterpret_cast<QRgb *>(backBuffer_.scanLine(y))[x] = rgb;
        };
    };

    const int mid = Nearest(h * 0.5);
    const int halfW = Nearest(w * 0.5);
    const int64_t spp = samplesPerPixel_;
    // Reads start at an even offset within the data; a negative position
    // draws as 0.
    const int64_t position = startingPosition_ > 0 ? (startingPosition_ & ~int32_t{1}) : 0;
    int64_t remaining = int64_t{sampleBytes_} - position;
    // Only a position inside the data makes a read address.
    const int16_t *p = sampleData_ != nullptr && remaining > 0 ? sampleData_ + position / 2 : nullptr;

    // At position 0 the clip starts in the middle column; each
    // SamplesPerPixel bytes of position move its start one column left,
    // down to column 0.
    int x = 0;
    if (halfW * spp > position)
        x = Nearest(static_cast<double>(halfW * spp - position) / static_cast<double>(spp));

    if (remaining > 0 && p != nullptr) {
        // Each column is a vertical stroke from its minimum to its maximum,
        // joined to the previous column's maximum by a line to this minimum.
        // Positive samples go up.
        int lo = 0;
        int hi = 0;
        bool first = true;
        QPoint current(0, mid);
        const double scale = h * 0.5 / 32768.0;
        do {
            for (int64_t k = spp; k > 0 && remaining > 0; --k) {
                const int s = *p++;
                if (k == spp)
                    lo = hi = s;
                if (s > hi)
                    hi = s;
                else if (s < lo)
                    lo = s;
                remaining = remaining > 2 ? remaining - 2 : 0;
            }
            const int yLo = Nearest(lo * scale);
            const int yHi = Nearest(hi * scale);
            if (first) {
                current = QPoint(x, mid - yLo);
                first = false;
            }
            const QPoint low(x, mid - yLo);
            const QPoint high(x, mid - yHi);
            qmbl::ForEachLinePixel(current, low, plot(lime));
            qmbl::ForEachLinePixel(low, high, plot(lime));
            current = high;
            ++x;
        } while (x < w && remaining != 0);
    }

    // The zero line and the middle line over the waveform, the rim over all.
    qmbl::ForEachLinePixel(QPoint(0, mid), QPoint(w, mid), plot(qRgb(255, 0, 0)));
    qmbl::ForEachLinePixel(QPoint(halfW, 0), QPoint(halfW, h), plot(qRgb(0, 128, 0)));

    QPainter painter(&backBuffer_);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(QPen(qmbl::White, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    qmbl::DrawArc(painter, 0, 0, w, h, QPointF(0, h), QPointF(w, 0));
    painter.setPen(QPen(qmbl::Grey, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    qmbl::DrawArc(painter, 0, 0, w, h, QPointF(w, 0), QPointF(0, h));
}

void TQMBL_Wave_Display::paintEvent(QPaintEvent *)
{
    ++paintCount_;
    // A size change always renders again; a plain repaint only copies.
    if (backBuffer_.width() != width() || backBuffer_.height() != height())
        needsRender_ = true;
    if (needsRender_)
        RenderWave();
    QPainter painter(this);
    painter.drawImage(0, 0, backBuffer_);
}
