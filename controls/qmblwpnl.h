// SPDX-License-Identifier: GPL-3.0-or-later
// TQMBL_Wave_Display: draws 16-bit mono samples as a lime waveform on black
// with a red zero line, a green middle line and a sunken elliptical rim,
// inside an elliptical window. The picture is rendered off screen once per
// change and only copied on plain repaints. The display never copies or owns
// the samples: it reads them from the given address whenever it renders.
#pragma once

#include <QImage>
#include <QRegion>
#include <QWidget>

#include <cstdint>

class TQMBL_Wave_Display : public QWidget {
    Q_OBJECT

public:
    explicit TQMBL_Wave_Display(QWidget *parent = nullptr);

    // Byte offset into the sample data at which drawing starts. At 0 the clip
    // starts in the middle column and moves left as the position grows.
    // Negative values draw as 0, odd ones as the even offset below.
    int32_t StartingPosition() const { return startingPosition_; }
    void SetStartingPosition(int32_t position);

    // Samples summarised in one pixel column. 0 or less reads no samples.
    int32_t SamplesPerPixel() const { return samplesPerPixel_; }
    void SetSamplesPerPixel(int32_t samples);

    // Hands over the samples (not copied: they must stay readable until the
    // next call) and their length in bytes; always renders and repaints.
    // An odd byte count drops the last byte; a null address or a negative
    // count means no data.
    void SetSampleData(const int16_t *data, int32_t bytes);
    const int16_t *SampleData() const { return sampleData_; }
    int32_t SampleBytes() const { return sampleBytes_; }

    // Renders the picture into BackBuffer now, at the current size.
    void RenderWave();
    const QImage &BackBuffer() const { return backBuffer_; }
    bool NeedsRender() const { return needsRender_; }

    int PaintCount() const { return paintCount_; }
    int RenderCount() const { return renderCount_; }

    // The window shape: the ellipse inscribed in (0,0)-(w,h). It is set when
    // the display is first shown, at the size it has then.
    static QRegion BuildRegion(int w, int h);

    QSize sizeHint() const override { return QSize(206, 165); }

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    int32_t startingPosition_ = 0;
    int32_t samplesPerPixel_ = 3;
    const int16_t *sampleData_ = nullptr;
    int32_t sampleBytes_ = 0;
    QImage backBuffer_;
    bool needsRender_ = true;
    bool shaped_ = false;
    int paintCount_ = 0;
    int renderCount_ = 0;
};
