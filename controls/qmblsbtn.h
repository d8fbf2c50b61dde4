// SPDX-License-Identifier: GPL-3.0-or-later
// TQMBL_SawToothButton: the large image toggle button of the main window. Its
// shape is a rectangle with triangular teeth along any of its four sides; it
// draws a bevelled plate with a picture in the middle, and every completed
// click flips Down.
#pragma once

#include "controls/qmblkeys.h"

#include <QImage>
#include <QPolygon>
#include <QRegion>
#include <QString>
#include <QWidget>

class TQMBL_SawToothButton : public QWidget {
    Q_OBJECT

public:
    explicit TQMBL_SawToothButton(QWidget *parent = nullptr);

    // Text drawn centred under the picture, in the application's default font.
    QString Caption() const { return caption_; }
    void SetCaption(const QString &caption);

    // Tooth counts per side. Values of 20 or more are ignored, as are top
    // counts below -19. On the left, right and bottom sides 0 or less gives a
    // straight side; on the top a negative count -n puts n+1 tips on the span
    // boundaries instead of n tips in the middle of each span.
    int LeftTeeth() const { return leftTeeth_; }
    int TopTeeth() const { return topTeeth_; }
    int RightTeeth() const { return rightTeeth_; }
    int BottomTeeth() const { return bottomTeeth_; }
    void SetLeftTeeth(int n);
    void SetTopTeeth(int n);
    void SetRightTeeth(int n);
    void SetBottomTeeth(int n);

    // Depth of the teeth in pixels, also the inset of the plate from every side.
    int ToothSize() const { return toothSize_; }
    void SetToothSize(int size);

    // Toggle state. Setting it never emits OnClick.
    bool Down() const { return down_; }
    void SetDown(bool down);

    // Pictures shown while raised and while pressed, drawn unscaled and opaque.
    // The button keeps its own copies.
    const QImage &UpImage() const { return upImage_; }
    const QImage &DownImage() const { return downImage_; }
    void SetUpImage(const QImage &image);
    void SetDownImage(const QImage &image);

    // True while the plate is drawn raised (showing UpImage).
    bool Raised() const { return raised_; }

    // Number of times the control has painted itself; lets callers see
    // whether a change caused a repaint.
    int PaintCount() const { return paintCount_; }

    // Outlines of the toothed sides (vertices in order; empty for a straight
    // side), and the whole window shape: the inner rectangle united with each
    // outline under the even-odd rule.
    static QPolygon LeftOutline(int w, int h, int teeth, int toothSize);
    static QPolygon TopOutline(int w, int h, int teeth, int toothSize);
    static QPolygon RightOutline(int w, int h, int teeth, int toothSize);
    static QPolygon BottomOutline(int w, int h, int teeth, int toothSize);
    static QRegion BuildRegion(int w, int h, int leftTeeth, int topTeeth, int rightTeeth, int bottomTeeth,
                               int toothSize);

    QSize sizeHint() const override { return QSize(32, 32); }

signals:
    // A completed click: press and release inside the button. Down has
    // already flipped when this is emitted.
    void OnClick();

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    void RebuildShape();
    bool SetTeeth(int &field, int n);

    QString caption_;
    int leftTeeth_ = 4;
    int topTeeth_ = 5;
    int rightTeeth_ = 4;
    int bottomTeeth_ = 4;
    int toothSize_ = 10;
    bool down_ = false;
    bool raised_ = true;
    bool clickStarted_ = false;
    QImage upImage_;
    QImage downImage_;
    int paintCount_ = 0;
    TQmblKeyboardFocus keys_{this, TQmblKeyboardFocus::TKind::Button};
};
