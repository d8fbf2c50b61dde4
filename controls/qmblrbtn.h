// SPDX-License-Identifier: GPL-3.0-or-later
// TQMBL_EllipticalButton: a round or oval image toggle button with a bevelled
// rim. OnClick is emitted before Down flips, and a release anywhere flips it.
#pragma once

#include "controls/qmblkeys.h"

#include <QImage>
#include <QRegion>
#include <QString>
#include <QWidget>

class TQMBL_EllipticalButton : public QWidget {
    Q_OBJECT

public:
    explicit TQMBL_EllipticalButton(QWidget *parent = nullptr);

    QString Caption() const { return caption_; }
    void SetCaption(const QString &caption);

    // Toggle state. Setting it always repaints and never emits OnClick.
    bool Down() const { return down_; }
    void SetDown(bool down);

    const QImage &UpImage() const { return upImage_; }
    const QImage &DownImage() const { return downImage_; }
    void SetUpImage(const QImage &image);
    void SetDownImage(const QImage &image);

    // True while drawn raised (showing UpImage).
    bool Raised() const { return raised_; }

    int PaintCount() const { return paintCount_; }

    // The window shape: the ellipse inscribed in (0,0)-(w-1,h-1), so a
    // 58 x 58 button is a circle of diameter 57.
    static QRegion BuildRegion(int w, int h);

    QSize sizeHint() const override { return QSize(32, 32); }

signals:
    // A completed click (press on the button, release inside its rectangle).
    // Emitted before Down flips, so a handler still sees the old value.
    void OnClick();
    void OnMouseDown();
    void OnMouseUp();

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    QString caption_;
    bool down_ = false;
    bool raised_ = true;
    bool clickStarted_ = false;
    QImage upImage_;
    QImage downImage_;
    int paintCount_ = 0;
    TQmblKeyboardFocus keys_{this, TQmblKeyboardFocus::TKind::Button};
};
