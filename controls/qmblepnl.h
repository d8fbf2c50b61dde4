// SPDX-License-Identifier: GPL-3.0-or-later
// TQMBL_EllipticalPanel: a container whose window is an ellipse, drawn with a
// bevelled rim (raised or lowered) or as a filled ellipse with a black outline.
// Child widgets (labels, sliders) draw on top as usual. The caption is kept
// but never drawn.
#pragma once

#include <QColor>
#include <QRegion>
#include <QString>
#include <QWidget>

enum class TBevelCut { bvNone, bvLowered, bvRaised, bvSpace };

class TQMBL_EllipticalPanel : public QWidget {
    Q_OBJECT

public:
    explicit TQMBL_EllipticalPanel(QWidget *parent = nullptr);

    // Background inside the rim, and the fill of the plain ellipse.
    // Default: the button-face colour, silver.
    QColor Color() const { return color_; }
    void SetColor(const QColor &color);

    // bvRaised (default) and bvLowered draw the rim; bvNone and bvSpace draw
    // the filled, outlined ellipse.
    TBevelCut BevelOuter() const { return bevelOuter_; }
    void SetBevelOuter(TBevelCut bevel);

    QString Caption() const { return caption_; }
    void SetCaption(const QString &caption) { caption_ = caption; }

    int PaintCount() const { return paintCount_; }

    // The ellipse inscribed in (0,0)-(w-1,h-1).
    static QRegion BuildRegion(int w, int h);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    QColor color_{192, 192, 192};
    TBevelCut bevelOuter_ = TBevelCut::bvRaised;
    QString caption_;
    int paintCount_ = 0;
};
