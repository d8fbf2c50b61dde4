// SPDX-License-Identifier: GPL-3.0-or-later
// TQMBL_VerticalLEDs: a bar-graph level meter. A column of horizontal LED bars
// lit from the bottom up in proportion to Progress (0..1), inside a sunken
// one-pixel frame, composed off screen and copied in one step.
#pragma once

#include <QColor>
#include <QImage>
#include <QWidget>

class TQMBL_VerticalLEDs : public QWidget {
    Q_OBJECT

public:
    explicit TQMBL_VerticalLEDs(QWidget *parent = nullptr);

    // Background. Default: the button-face colour, silver.
    QColor Color() const { return color_; }
    void SetColor(const QColor &color);

    QColor LEDOnColor() const { return ledOnColor_; }
    QColor LEDOffColor() const { return ledOffColor_; }
    void SetLEDOnColor(const QColor &color);
    void SetLEDOffColor(const QColor &color);

    // Level, clamped into 0..1 (a not-a-number becomes 0). Any level above 0
    // lights at least one LED.
    float Progress() const { return progress_; }
    void SetProgress(float progress);

    // Number of LEDs; 0 or less draws the background and frame only.
    int NumLEDs() const { return numLEDs_; }
    void SetNumLEDs(int n);

    // The off-screen picture of the last paint.
    const QImage &BackBuffer() const { return backBuffer_; }

    int PaintCount() const { return paintCount_; }

    // Composes the whole meter for a control of w x h into image.
    void Compose(QImage &image, int w, int h) const;

signals:
    void OnClick();
    void OnMouseMove(Qt::KeyboardModifiers modifiers, int x, int y);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;

private:
    QColor color_{192, 192, 192};
    QColor ledOnColor_{0, 255, 0};
    QColor ledOffColor_{0, 128, 0};
    float progress_ = 0.5f;
    int numLEDs_ = 5;
    bool clickStarted_ = false;
    QImage backBuffer_;
    int paintCount_ = 0;
};
