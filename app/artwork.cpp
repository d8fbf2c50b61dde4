// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/artwork.h"

#include <QFont>
#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QStringList>
#include <QTransform>

#include <algorithm>

namespace {

QFont LetteringFont()
{
    QFont font;
    font.setFamilies({QStringLiteral("Comic Sans MS"), QStringLiteral("Comic Neue"), QStringLiteral("DejaVu Sans"),
                      QStringLiteral("Sans Serif")});
    font.setPixelSize(40);
    font.setBold(true);
    font.setHintingPreference(QFont::PreferNoHinting);
    return font;
}

// The lines as one outline, every other letter lifted a little so that the
// words bounce; each line centred under the one before.
QPainterPath BouncyText(const QString &text)
{
    const QFont font = LetteringFont();
    const QFontMetricsF metrics(font);
    const qreal bounce = metrics.height() * 0.06;
    const QStringList lines = text.split(QLatin1Char('\n'));

    qreal widest = 0;
    for (const QString &line : lines)
        widest = std::max(widest, metrics.horizontalAdvance(line));

    QPainterPath path;
    qreal baseline = metrics.ascent();
    for (const QString &line : lines) {
        qreal x = (widest - metrics.horizontalAdvance(line)) / 2;
        int letter = 0;
        for (const QChar ch : line) {
            if (!ch.isSpace())
                path.addText(QPointF(x, baseline + (letter++ % 2 == 0 ? -bounce : bounce)), font, QString(ch));
            x += metrics.horizontalAdvance(ch);
        }
        baseline += metrics.ascent() + metrics.descent() * 0.35;
    }
    return path;
}

// The outline scaled to fill a box of size less a margin, centred, and turned
// for vertical lettering. The margin keeps the rim, the shadow and the glow
// (each reaching a pixel or two past the outline) off the picture's edge.
QPainterPath FittedText(const QString &text, QSize size, TLettering lettering)
{
    constexpr qreal Margin = 6.0;
    QPainterPath path = BouncyText(text);
    const QRectF bounds = path.boundingRect();
    const bool turned = lettering != TLettering::Across;
    const qreal boxWidth = (turned ? size.height() : size.width()) - Margin;
    const qreal boxHeight = (turned ? size.width() : size.height()) - Margin;
    const qreal scale = std::min(boxWidth / bounds.width(), boxHeight / bounds.height());

    // Half a pixel up and left of the middle, to leave the shadow its room.
    QTransform transform;
    transform.translate(size.width() / 2.0 - 0.5, size.height() / 2.0 - 0.5);
    if (lettering == TLettering::Rising)
        transform.rotate(-90);
    else if (lettering == TLettering::Falling)
        transform.rotate(90);
    transform.scale(scale, scale);
    transform.translate(-bounds.center().x(), -bounds.center().y());
    return transform.map(path);
}

QImage UpPicture(const QPainterPath &letters, QSize size, QColor ink)
{
    QImage picture(size, QImage::Format_RGB32);
    picture.fill(QColor::fromRgb(PlateColor));
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);

    // A soft shadow down and to the right, then the letters with a dark rim.
    painter.fillPath(letters.translated(1.2, 1.2), QColor(96, 96, 96));
    const QRectF bounds = letters.boundingRect();
    QLinearGradient fill(bounds.topLeft(), bounds.bottomLeft());
    fill.setColorAt(0.0, ink.lighter(160));
    fill.setColorAt(1.0, ink);
    painter.setPen(QPen(ink.darker(300), 1.1));
    painter.setBrush(fill);
    painter.drawPath(letters);
    return picture;
}

QImage DownPicture(const QPainterPath &letters, QSize size, QColor ink)
{
    QImage picture(size, QImage::Format_RGB32);
    picture.fill(QColor::fromRgb(LitPanelColor));
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);

    // The letters glow: a wide halo in the button's colour, then a warm
    // white-yellow core.
    QColor halo = ink.lighter(130);
    halo.setAlpha(150);
    painter.strokePath(letters, QPen(halo, 2.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.fillPath(letters, QColor(255, 250, 170));
    return picture;
}

} // namespace

TButtonPictures LabelPictures(const QString &text, QSize size, QColor ink, TLettering lettering)
{
    const QPainterPath letters = FittedText(text, size, lettering);
    return {UpPicture(letters, size, ink), DownPicture(letters, size, ink)};
}

QPixmap ProgramIconPixmap(int size)
{
    QPixmap icon(size, size);
    icon.fill(Qt::transparent);
    QPainter painter(&icon);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 48.0, size / 48.0);

    // A lime face singing to the right, three waves leaving its mouth.
    QRadialGradient skin(QPointF(16, 16), 26);
    skin.setColorAt(0.0, QColor(200, 255, 160));
    skin.setColorAt(1.0, QColor(0, 170, 0));
    painter.setPen(QPen(QColor(0, 80, 0), 1.5));
    painter.setBrush(skin);
    painter.drawEllipse(QRectF(2, 6, 32, 36));
    painter.setBrush(Qt::black);
    painter.drawEllipse(QRectF(11, 16, 4, 6));
    painter.drawEllipse(QRectF(21, 16, 4, 6));
    painter.setBrush(QColor(160, 0, 0));
    painter.drawEllipse(QRectF(13, 27, 11, 9));
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(QColor(255, 140, 0), 2.2, Qt::SolidLine, Qt::RoundCap));
    for (int wave = 0; wave < 3; ++wave) {
        const qreal r = 6 + wave * 5;
        painter.drawArc(QRectF(28 - r, 31 - r, 2 * r, 2 * r), -40 * 16, 80 * 16);
    }
    return icon;
}

QIcon ProgramIcon()
{
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addPixmap(ProgramIconPixmap(size));
    return icon;
}
