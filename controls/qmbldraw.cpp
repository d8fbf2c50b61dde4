// SPDX-License-Identifier: GPL-3.0-or-later
#include "controls/qmbldraw.h"

#include <QFontMetrics>
#include <QGuiApplication>

#include <cmath>
#include <numbers>

namespace qmbl {

void LinePen::LineTo(int x, int y)
{
    QPoint to(x, y);
    if (to == current_)
        return;
    if (width_ <= 1) {
        ForEachLinePixel(current_, to, [this](int px, int py) { painter_.fillRect(px, py, 1, 1, color_); });
    } else {
        QPen pen(color_, width_, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
        painter_.setPen(pen);
        painter_.drawLine(current_, to);
    }
    current_ = to;
}

QSize CaptionSize(const QString &text)
{
    QFontMetrics metrics(QGuiApplication::font());
    return QSize(metrics.horizontalAdvance(text), metrics.height());
}

void DrawCaption(QPainter &painter, int x, int y, const QString &text)
{
    QFont font = QGuiApplication::font();
    QFontMetrics metrics(font);
    QSize size = CaptionSize(text);
    painter.fillRect(QRect(QPoint(x, y), size), Silver);
    painter.setFont(font);
    painter.setPen(Black);
    painter.drawText(x, y + metrics.ascent(), text);
}

void DrawFace(QPainter &painter, QSize face, QPoint captionAt, QPoint pictureAt, const QString &caption,
              const QImage &picture)
{
    if (!caption.isEmpty()) {
        QSize text = CaptionSize(caption);
        DrawCaption(painter, Nearest((face.width() - text.width()) * 0.5) + captionAt.x(),
                    Nearest((face.height() - text.height()) * 0.5) + captionAt.y(), caption);
    }
    if (!picture.isNull()) {
        painter.drawImage(QPoint(Nearest((face.width() - picture.width()) * 0.5) + pictureAt.x(),
                                 Nearest((face.height() - picture.height()) * 0.5) + pictureAt.y()),
                          picture);
    }
}

QImage OpaqueCopy(const QImage &image)
{
    if (image.isNull())
        return QImage();
    return image.convertToFormat(QImage::Format_RGB32);
}

QRegion EllipseRegion(int x1, int y1, int x2, int y2)
{
    const double a = (x2 - x1) * 0.5;
    const double b = (y2 - y1) * 0.5;
    if (a <= 0 || b <= 0)
        return QRegion();
    const double cx = x1 + a;
    const double cy = y1 + b;
    // One run of pixels per row: those whose centres (x + 0.5, y + 0.5)
    // satisfy ((x + 0.5 - cx) / a)^2 + ((y + 0.5 - cy) / b)^2 <= 1.
    QList<QRect> rows;
    for (int y = y1; y < y2; ++y) {
        const double dy = (y + 0.5 - cy) / b;
        const double reach = 1.0 - dy * dy;
        if (reach < 0)
            continue;
        const double dx = a * std::sqrt(reach);
        const int left = static_cast<int>(std::ceil(cx - dx - 0.5));
        const int right = static_cast<int>(std::floor(cx + dx - 0.5));
        if (right >= left)
            rows.append(QRect(left, y, right - left + 1, 1));
    }
    QRegion region;
    region.setRects(rows.constData(), static_cast<int>(rows.size()));
    return region;
}

void DrawArc(QPainter &painter, int x1, int y1, int x2, int y2, QPointF from, QPointF to)
{
    // The ellipse's own angles are parametric: a direction (dx, dy) from the
    // centre meets the ellipse at the parameter atan2(dy / b, dx / a), with y
    // pointing up on the screen.
    double cx = (x1 + x2) * 0.5;
    double cy = (y1 + y2) * 0.5;
    double a = (x2 - x1) * 0.5;
    double b = (y2 - y1) * 0.5;
    if (a <= 0 || b <= 0)
        return;
    auto angle = [&](QPointF p) {
        double t = std::atan2(-(p.y() - cy) / b, (p.x() - cx) / a) * 180.0 / std::numbers::pi;
        return t < 0 ? t + 360.0 : t;
    };
    double start = angle(from);
    double span = angle(to) - start;
    if (span <= 0)
        span += 360.0;
    painter.drawArc(QRectF(x1, y1, x2 - x1, y2 - y1), Nearest(start * 16), Nearest(span * 16));
}

void DrawEllipticalRim(QPainter &painter, int w, int h, bool raised)
{
    // inner lower-right, outer lower-right, inner upper-left, outer upper-left
    const QColor lookRaised[4] = {Grey, Black, Silver, White};
    const QColor lookSunken[4] = {Silver, White, Grey, Black};
    const QColor *colors = raised ? lookRaised : lookSunken;
    auto pen = [&](int i) { painter.setPen(QPen(colors[i], 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin)); };

    pen(0);
    DrawArc(painter, 1, 1, w - 2, h - 2, QPointF(2, h - 1), QPointF(w + 2, 0));
    pen(1);
    DrawArc(painter, 0, 0, w - 1, h - 1, QPointF(0, h - 1), QPointF(w - 1, 0));
    pen(2);
    DrawArc(painter, 1, 1, w - 2, h - 2, QPointF(w - 1, 0), QPointF(0, h - 1));
    pen(3);
    DrawArc(painter, 0, 0, w - 1, h - 1, QPointF(w - 1, 0), QPointF(0, h - 1));
    painter.setPen(QPen(Black, 1));
}

} // namespace qmbl
