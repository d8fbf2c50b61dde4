// SPDX-License-Identifier: GPL-3.0-or-later
// TQMBL_VoiceOverview: the whole voice of the voice editor as a lime min/max
// waveform on black with a red zero line and a time ruler along the bottom,
// and the span of it the user has chosen. The mouse chooses a span by
// dragging, Shift+click extends it and a plain click puts the cursor; the
// keyboard moves the cursor or the span's moving end. Ctrl+wheel zooms
// around the pointer and the plain wheel scrolls a zoomed view.
//
// Like the waveform display of the main window it never copies or owns the
// samples, and renders its picture off screen once per change.
#pragma once

#include "controls/qmblkeys.h"

#include <QImage>
#include <QWidget>

#include <cstdint>
#include <string>

// The status line's words for a selection: "Start 0.250 s   End 1.000 s
// Length 0.750 s" (seconds to the millisecond), "Cursor 0.250 s" when start
// equals end, and an empty text without a rate.
std::string SelectionStatusText(int32_t start, int32_t end, uint32_t rate);

// A sample position in seconds with three decimals and the unit: 5512 at
// 22050 Hz is "0.250 s". The milliseconds are rounded to the nearest, a half
// to the even neighbour.
std::string SecondsText(int64_t sample, uint32_t rate);

class TQMBL_VoiceOverview : public QWidget {
    Q_OBJECT

public:
    explicit TQMBL_VoiceOverview(QWidget *parent = nullptr);

    // Hands over the voice (not copied: the samples must stay readable until
    // the next call). A null address or a count of 0 or less means no voice.
    // The view goes back to the whole voice; the selection is kept as far as
    // it lies inside the new voice.
    void SetSamples(const int16_t *data, int32_t count, uint32_t rate);
    const int16_t *Samples() const { return samples_; }
    int32_t SampleCount() const { return count_; }
    uint32_t Rate() const { return rate_; }

    // The selection in sample indexes, end exclusive. start == end is no
    // selection: the cursor stands before sample start.
    struct TSelection {
        int32_t start = 0;
        int32_t end = 0;
        bool Empty() const { return start == end; }
        bool operator==(const TSelection &) const = default;
    };
    TSelection Selection() const;
    // Both ends are clamped to the voice and taken in either order; start is
    // the anchor, which Shift+click and Shift+arrows keep.
    void SetSelection(int32_t start, int32_t end);
    // The end of the selection that the keyboard and Shift+click move: the
    // cursor when nothing is selected.
    int32_t MovingEnd() const { return moving_; }
    int32_t Anchor() const { return anchor_; }

    // ---- The view ----
    // Zoom 0 shows the whole voice across the width; each step in halves the
    // samples a column covers, down to one sample per column (a voice
    // shorter than the width is stretched across it and cannot zoom in).
    int Zoom() const { return zoom_; }
    int MaxZoom() const;
    // Zooms by steps (positive in, negative out) keeping the sample at the
    // start of column x in that column.
    void ZoomAround(int steps, int x);
    // The first sample of column 0: the scroll offset, clamped so that the
    // view never runs past the end of the voice.
    int32_t ViewStart() const { return viewStart_; }
    void SetViewStart(int32_t sample);
    // Samples covered by the width of the control.
    int32_t VisibleSamples() const;
    double SamplesPerPixel() const;

    // ---- Between samples and columns ----
    // The first sample column x covers (columns outside the width too),
    // clamped to 0 .. SampleCount(). Column x covers the samples from
    // SampleAtColumn(x) up to SampleAtColumn(x + 1); where the voice is
    // stretched, several columns show the same sample.
    int32_t SampleAtColumn(int x) const;
    // The first column whose first sample is at or after position sample:
    // where the selection band of a selection starting there begins and
    // where the cursor before that sample is drawn. Negative or past the
    // width when the position lies outside the view.
    int ColumnOfSample(int64_t sample) const;

    // The waveform takes the rows above the ruler.
    int RulerHeight() const;
    QRect WaveArea() const { return QRect(0, 0, width(), height() - RulerHeight()); }
    // The row of the zero line in the wave area.
    int ZeroRow() const;

    // The picture at the current size, rendered first when anything changed
    // since the last time. The keyboard focus mark is not part of it.
    const QImage &Picture();
    int RenderCount() const { return renderCount_; }

    QSize sizeHint() const override { return QSize(480, 160); }
    QSize minimumSizeHint() const override { return QSize(120, 60); }

signals:
    // Whenever the selection's start or end changes, by the user or by
    // SetSelection or SetSamples.
    void SelectionChanged(int32_t start, int32_t end);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    // Samples per column as the fraction sppNum / sppDen, so that every
    // mapping is exact integer arithmetic.
    void ViewFraction(int64_t &num, int64_t &den) const;
    int32_t MaxViewStart() const;
    // Sets anchor and moving end (clamped), keeps the moving end in view,
    // redraws, and tells of a changed selection.
    void Choose(int64_t anchor, int64_t moving);
    void ScrollIntoView(int32_t sample);
    int32_t SampleUnderPointer(double x) const;
    void RenderWave();
    void RenderPicture();
    void DrawRuler(QImage &image, int top);
    void ViewChanged();

    const int16_t *samples_ = nullptr;
    int32_t count_ = 0;
    uint32_t rate_ = 0;
    int32_t anchor_ = 0;
    int32_t moving_ = 0;
    TSelection told_;
    int zoom_ = 0;
    int32_t viewStart_ = 0;
    int wheelZoomRest_ = 0;
    int wheelScrollRest_ = 0;
    bool dragging_ = false;
    TQmblKeyboardFocus *focus_ = nullptr;
    // The waveform, zero line and ruler, rendered again only when the voice,
    // the view or the size changes; the picture is a copy of it with the
    // selection or the cursor over it.
    QImage wave_;
    bool waveStale_ = true;
    QImage picture_;
    bool pictureStale_ = true;
    int renderCount_ = 0;
};
