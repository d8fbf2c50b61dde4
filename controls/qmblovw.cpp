// SPDX-License-Identifier: GPL-3.0-or-later
#include "controls/qmblovw.h"

#include "controls/qmbldraw.h"

#include <QFontMetrics>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <utility>
#include <vector>

namespace {

const QRgb Lime = qRgb(0, 255, 0);
const QRgb Red = qRgb(255, 0, 0);
const QRgb CursorWhite = qRgb(255, 255, 255);
const QRgb TickSilver = qRgb(192, 192, 192);
const QRgb RulerGrey = qRgb(128, 128, 128);

// Divisions rounding down and up; the divisor is positive.
int64_t FloorDiv(int64_t a, int64_t b)
{
    const int64_t q = a / b;
    return (a % b != 0 && a < 0) ? q - 1 : q;
}

int64_t CeilDiv(int64_t a, int64_t b)
{
    const int64_t q = a / b;
    return (a % b != 0 && a > 0) ? q + 1 : q;
}

// Under the selection every colour goes a quarter of the way to white, so
// the waveform and the zero line still show through.
QRgb Tint(QRgb c)
{
    auto lift = [](int v) { return v + (255 - v) / 4; };
    return qRgb(lift(qRed(c)), lift(qGreen(c)), lift(qBlue(c)));
}

void PutPixel(QImage &image, int x, int y, QRgb rgb)
{
    if (x >= 0 && x < image.width() && y >= 0 && y < image.height())
        reinterpret_cast<QRgb *>(image.scanLine(y))[x] = rgb;
}

// Milliseconds as seconds with the given number of decimals: 500 with one
// decimal is "0.5 s", 2000 with none "2 s".
std::string MillisecondsText(int64_t ms, int decimals)
{
    const int64_t magnitude = std::llabs(ms);
    std::string text = (ms < 0 ? "-" : "") + std::to_string(magnitude / 1000);
    if (decimals > 0) {
        std::string fraction = std::to_string(magnitude % 1000);
        fraction.insert(0, 3 - fraction.size(), '0');
        text += "." + fraction.substr(0, static_cast<size_t>(decimals));
    }
    return text + " s";
}

} // namespace

std::string SecondsText(int64_t sample, uint32_t rate)
{
    if (rate == 0)
        return std::string();
    return MillisecondsText(RoundHalfEven(static_cast<double>(sample) * 1000.0 / rate), 3);
}

std::string SelectionStatusText(int32_t start, int32_t end, uint32_t rate)
{
    if (rate == 0)
        return std::string();
    if (start == end)
        return "Cursor " + SecondsText(start, rate);
    return "Start " + SecondsText(start, rate) + "   End " + SecondsText(end, rate) + "   Length " +
           SecondsText(int64_t{end} - start, rate);
}

TQMBL_VoiceOverview::TQMBL_VoiceOverview(QWidget *parent) : QWidget(parent)
{
    // Takes the focus from Tab and from a click, and keeps its own keys.
    focus_ = new TQmblKeyboardFocus(this, TQmblKeyboardFocus::TKind::TrackBar);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAccessibleName(QStringLiteral("Voice"));
    setAccessibleDescription(QStringLiteral("No voice"));
    resize(sizeHint());
}

// ---- The voice and the selection ----

void TQMBL_VoiceOverview::SetSamples(const int16_t *data, int32_t count, uint32_t rate)
{
    if (data == nullptr || count <= 0) {
        data = nullptr;
        count = 0;
    }
    samples_ = data;
    count_ = count;
    rate_ = rate;
    zoom_ = 0;
    viewStart_ = 0;
    ViewChanged();
    Choose(anchor_, moving_);
}

TQMBL_VoiceOverview::TSelection TQMBL_VoiceOverview::Selection() const
{
    return TSelection{std::min(anchor_, moving_), std::max(anchor_, moving_)};
}

void TQMBL_VoiceOverview::SetSelection(int32_t start, int32_t end)
{
    Choose(start, end);
}

void TQMBL_VoiceOverview::Choose(int64_t anchor, int64_t moving)
{
    anchor_ = static_cast<int32_t>(std::clamp<int64_t>(anchor, 0, count_));
    moving_ = static_cast<int32_t>(std::clamp<int64_t>(moving, 0, count_));
    ScrollIntoView(moving_);
    pictureStale_ = true;
    update();

    const TSelection now = Selection();
    QString description;
    if (count_ == 0 || rate_ == 0)
        description = QStringLiteral("No voice");
    else if (now.Empty())
        description = QStringLiteral("Cursor at ") + QString::fromStdString(SecondsText(now.start, rate_));
    else
        description = QStringLiteral("Selection ") + QString::fromStdString(SecondsText(now.start, rate_)) +
                      QStringLiteral(" to ") + QString::fromStdString(SecondsText(now.end, rate_));
    if (description != accessibleDescription())
        setAccessibleDescription(description);

    if (now != told_) {
        told_ = now;
        emit SelectionChanged(now.start, now.end);
    }
}

// ---- The view ----

int TQMBL_VoiceOverview::MaxZoom() const
{
    const int64_t w = std::max(1, width());
    int k = 0;
    while ((w << k) < count_)
        ++k;
    return k;
}

void TQMBL_VoiceOverview::ViewFraction(int64_t &num, int64_t &den) const
{
    if (count_ == 0) {
        num = 0;
        den = 1;
        return;
    }
    const int maxZoom = MaxZoom();
    const int k = std::min(zoom_, maxZoom);
    if (k > 0 && k == maxZoom) {
        // The last step in stops at one sample per column.
        num = den = 1;
        return;
    }
    // Below the last step den stays under count_, which keeps every product
    // of a sample offset and den within 64 bits.
    num = count_;
    den = int64_t{std::max(1, width())} << k;
}

double TQMBL_VoiceOverview::SamplesPerPixel() const
{
    int64_t num, den;
    ViewFraction(num, den);
    return static_cast<double>(num) / static_cast<double>(den);
}

int32_t TQMBL_VoiceOverview::VisibleSamples() const
{
    int64_t num, den;
    ViewFraction(num, den);
    return static_cast<int32_t>(std::min<int64_t>(FloorDiv(int64_t{std::max(1, width())} * num, den), count_));
}

int32_t TQMBL_VoiceOverview::MaxViewStart() const
{
    return count_ - VisibleSamples();
}

void TQMBL_VoiceOverview::SetViewStart(int32_t sample)
{
    const int32_t start = std::clamp(sample, 0, MaxViewStart());
    if (start == viewStart_)
        return;
    viewStart_ = start;
    ViewChanged();
}

void TQMBL_VoiceOverview::ZoomAround(int steps, int x)
{
    const int target = std::clamp(zoom_ + steps, 0, MaxZoom());
    if (target == zoom_)
        return;
    x = std::clamp(x, 0, std::max(0, width() - 1));
    const int32_t kept = SampleAtColumn(x);
    zoom_ = target;
    int64_t num, den;
    ViewFraction(num, den);
    viewStart_ = static_cast<int32_t>(std::clamp<int64_t>(kept - FloorDiv(int64_t{x} * num, den), 0, MaxViewStart()));
    ViewChanged();
}

void TQMBL_VoiceOverview::ScrollIntoView(int32_t sample)
{
    if (count_ == 0)
        return;
    if (sample < viewStart_) {
        SetViewStart(sample);
        return;
    }
    const int w = std::max(1, width());
    if (ColumnOfSample(sample) < w)
        return;
    // The position goes into the last column.
    int64_t num, den;
    ViewFraction(num, den);
    SetViewStart(static_cast<int32_t>(sample - FloorDiv(int64_t{w - 1} * num, den)));
}

void TQMBL_VoiceOverview::ViewChanged()
{
    waveStale_ = true;
    pictureStale_ = true;
    update();
}

// ---- Between samples and columns ----

int32_t TQMBL_VoiceOverview::SampleAtColumn(int x) const
{
    if (count_ == 0)
        return 0;
    int64_t num, den;
    ViewFraction(num, den);
    return static_cast<int32_t>(std::clamp<int64_t>(viewStart_ + FloorDiv(int64_t{x} * num, den), 0, count_));
}

int TQMBL_VoiceOverview::ColumnOfSample(int64_t sample) const
{
    if (count_ == 0)
        return 0;
    int64_t num, den;
    ViewFraction(num, den);
    // The smallest x with viewStart + floor(x * num / den) >= sample.
    const int64_t offset = std::clamp<int64_t>(sample, -1, int64_t{count_} + 1) - viewStart_;
    const int64_t x = CeilDiv(offset * den, num);
    return static_cast<int>(std::clamp<int64_t>(x, INT32_MIN, INT32_MAX));
}

int32_t TQMBL_VoiceOverview::SampleUnderPointer(double x) const
{
    // A pointer beyond either edge picks samples beyond the view, which
    // scrolls it as the selection follows.
    return SampleAtColumn(static_cast<int>(std::clamp(std::floor(x), -1e9, 1e9)));
}

int TQMBL_VoiceOverview::RulerHeight() const
{
    return fontMetrics().height() + 3;
}

int TQMBL_VoiceOverview::ZeroRow() const
{
    const int waveHeight = std::max(1, height() - RulerHeight());
    return std::min(qmbl::Nearest(waveHeight * 0.5), waveHeight - 1);
}

// ---- Drawing ----

const QImage &TQMBL_VoiceOverview::Picture()
{
    if (picture_.size() != size())
        waveStale_ = true;
    if (waveStale_)
        pictureStale_ = true;
    if (pictureStale_)
        RenderPicture();
    return picture_;
}

void TQMBL_VoiceOverview::RenderWave()
{
    const int w = width();
    const int h = height();
    if (wave_.size() != size())
        wave_ = QImage(w, h, QImage::Format_RGB32);
    waveStale_ = false;
    ++renderCount_;
    if (wave_.isNull())
        return;
    wave_.fill(qmbl::Black);

    const int waveHeight = std::max(0, h - RulerHeight());
    if (waveHeight > 0) {
        const int mid = ZeroRow();
        if (samples_ != nullptr) {
            // Each column is a vertical stroke from the smallest to the
            // largest sample it covers; positive samples go up.
            const double scale = waveHeight * 0.5 / 32768.0;
            auto row = [&](int v) { return std::clamp(mid - qmbl::Nearest(v * scale), 0, waveHeight - 1); };
            for (int x = 0; x < w; ++x) {
                const int32_t first = SampleAtColumn(x);
                if (first >= count_)
                    break;
                const int32_t last = std::max(first + 1, SampleAtColumn(x + 1));
                const auto [lo, hi] = std::minmax_element(samples_ + first, samples_ + last);
                for (int y = row(*hi); y <= row(*lo); ++y)
                    PutPixel(wave_, x, y, Lime);
            }
        }
        for (int x = 0; x < w; ++x)
            PutPixel(wave_, x, mid, Red);
    }
    DrawRuler(wave_, waveHeight);
}

void TQMBL_VoiceOverview::DrawRuler(QImage &image, int top)
{
    const int w = image.width();
    const int h = image.height();
    if (top >= h)
        return;
    for (int x = 0; x < w; ++x)
        PutPixel(image, x, top, RulerGrey);
    if (count_ == 0 || rate_ == 0)
        return;

    // The spacing of the labelled ticks: the first of these steps (in
    // milliseconds) that leaves room for the longest label.
    int64_t num, den;
    ViewFraction(num, den);
    const double pixelsPerMs = static_cast<double>(rate_) * den / num / 1000.0;
    const QFontMetrics metrics(font());
    const int labelRoom = metrics.horizontalAdvance(QString::fromStdString(SecondsText(count_, rate_))) + 12;
    static constexpr int64_t Steps[] = {1,      2,      5,      10,      20,      50,     100,   200,
                                        500,    1000,   2000,   5000,    10000,   15000,  30000, 60000,
                                        120000, 300000, 600000, 1200000, 1800000, 3600000};
    int64_t step = Steps[std::size(Steps) - 1];
    for (int64_t s : Steps) {
        if (s * pixelsPerMs >= labelRoom) {
            step = s;
            break;
        }
    }
    const int decimals = step % 1000 == 0 ? 0 : step % 100 == 0 ? 1 : step % 10 == 0 ? 2 : 3;
    // A short tick halfway between two labelled ones where they lie apart
    // enough to tell from them.
    const bool halves = step * pixelsPerMs >= 12;

    // Tick j lies at j half steps; without halves only the even ones are drawn.
    const int64_t halfStepUnits = step * rate_;
    int64_t j = FloorDiv(int64_t{viewStart_} * 2000, halfStepUnits);
    if (!halves && j % 2 != 0)
        --j;
    std::vector<std::pair<int, int64_t>> labels;
    for (;; j += halves ? 1 : 2) {
        const int64_t position = CeilDiv(j * halfStepUnits, 2000);
        if (position > count_)
            break;
        const int x = ColumnOfSample(position);
        if (x >= w)
            break;
        if (x < 0)
            continue;
        const bool labelled = j % 2 == 0;
        const int bottom = labelled ? h - 1 : std::min(top + 3, h - 1);
        for (int y = top + 1; y <= bottom; ++y)
            PutPixel(image, x, y, TickSilver);
        if (labelled)
            labels.emplace_back(x, j / 2 * step);
    }

    QPainter painter(&image);
    painter.setFont(font());
    painter.setPen(QColor(TickSilver));
    painter.setClipRect(0, top + 1, w, h - top - 1);
    for (const auto &[x, ms] : labels)
        painter.drawText(x + 3, top + 1 + metrics.ascent(), QString::fromStdString(MillisecondsText(ms, decimals)));
}

void TQMBL_VoiceOverview::RenderPicture()
{
    if (waveStale_ || wave_.size() != size())
        RenderWave();
    picture_ = wave_;
    pictureStale_ = false;
    const int w = width();
    const int waveHeight = std::min(height() - RulerHeight(), picture_.height());
    if (count_ == 0 || waveHeight <= 0 || picture_.isNull())
        return;

    const TSelection selection = Selection();
    if (!selection.Empty()) {
        // The columns whose first sample is selected; a selection within one
        // column still shows as that column.
        int from = ColumnOfSample(selection.start);
        int to = ColumnOfSample(selection.end);
        if (to <= from) {
            to = ColumnOfSample(int64_t{selection.start} + 1);
            from = to - 1;
        }
        from = std::max(from, 0);
        to = std::min(to, w);
        for (int y = 0; y < waveHeight; ++y) {
            auto *line = reinterpret_cast<QRgb *>(picture_.scanLine(y));
            for (int x = from; x < to; ++x)
                line[x] = Tint(line[x]);
        }
    } else {
        int x = ColumnOfSample(moving_);
        // The cursor after the last sample stands in the last column.
        if (x == w && moving_ == count_)
            x = w - 1;
        if (x >= 0 && x < w)
            for (int y = 0; y < waveHeight; ++y)
                PutPixel(picture_, x, y, CursorWhite);
    }
}

void TQMBL_VoiceOverview::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.drawImage(0, 0, Picture());
    // The dotted mark shows white on the black field.
    if (focus_->Shown())
        DrawQmblFocusMark(painter, rect(), qmbl::White);
}

void TQMBL_VoiceOverview::resizeEvent(QResizeEvent *event)
{
    zoom_ = std::min(zoom_, MaxZoom());
    viewStart_ = std::clamp(viewStart_, 0, MaxViewStart());
    ViewChanged();
    QWidget::resizeEvent(event);
}

void TQMBL_VoiceOverview::changeEvent(QEvent *event)
{
    // The ruler's height and labels follow the font.
    if (event->type() == QEvent::FontChange)
        ViewChanged();
    QWidget::changeEvent(event);
}

// ---- Keyboard and mouse ----

void TQMBL_VoiceOverview::keyPressEvent(QKeyEvent *event)
{
    if (event->matches(QKeySequence::SelectAll)) {
        Choose(0, count_);
        return;
    }
    const Qt::KeyboardModifiers modifiers = event->modifiers();
    if (modifiers.testAnyFlags(Qt::AltModifier | Qt::MetaModifier)) {
        QWidget::keyPressEvent(event);
        return;
    }
    const bool shift = modifiers.testFlag(Qt::ShiftModifier);
    // 10 ms of samples (a half to the even neighbour), or a second with Ctrl.
    const int64_t step = modifiers.testFlag(Qt::ControlModifier) ? int64_t{rate_} : RoundHalfEven(rate_ / 100.0);
    int64_t target = 0;
    switch (event->key()) {
    case Qt::Key_Left:
        target = int64_t{moving_} - std::max<int64_t>(step, 1);
        break;
    case Qt::Key_Right:
        target = int64_t{moving_} + std::max<int64_t>(step, 1);
        break;
    case Qt::Key_Home:
        target = 0;
        break;
    case Qt::Key_End:
        target = count_;
        break;
    default:
        QWidget::keyPressEvent(event);
        return;
    }
    Choose(shift ? anchor_ : target, target);
}

void TQMBL_VoiceOverview::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    dragging_ = true;
    const int32_t sample = SampleUnderPointer(event->position().x());
    if (event->modifiers().testFlag(Qt::ShiftModifier))
        Choose(anchor_, sample);
    else
        Choose(sample, sample);
}

void TQMBL_VoiceOverview::mouseMoveEvent(QMouseEvent *event)
{
    if (dragging_ && (event->buttons() & Qt::LeftButton))
        Choose(anchor_, SampleUnderPointer(event->position().x()));
}

void TQMBL_VoiceOverview::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && dragging_) {
        Choose(anchor_, SampleUnderPointer(event->position().x()));
        dragging_ = false;
    }
}

void TQMBL_VoiceOverview::wheelEvent(QWheelEvent *event)
{
    const QPoint delta = event->angleDelta();
    if (event->modifiers().testFlag(Qt::ControlModifier)) {
        // Each notch (120) up zooms in one step.
        wheelZoomRest_ += delta.y();
        const int steps = wheelZoomRest_ / 120;
        wheelZoomRest_ %= 120;
        ZoomAround(steps, static_cast<int>(std::floor(event->position().x())));
        event->accept();
        return;
    }
    if (VisibleSamples() >= count_) {
        event->ignore();
        return;
    }
    // Each notch scrolls an eighth of the view: up or left goes back.
    wheelScrollRest_ += std::abs(delta.x()) > std::abs(delta.y()) ? delta.x() : delta.y();
    const int notches = wheelScrollRest_ / 120;
    wheelScrollRest_ %= 120;
    const int64_t by = int64_t{notches} * std::max(1, VisibleSamples() / 8);
    SetViewStart(static_cast<int32_t>(std::clamp<int64_t>(viewStart_ - by, 0, count_)));
    event->accept();
}
