// SPDX-License-Identifier: GPL-3.0-or-later
// controls-gallery: the drawn controls laid out as in the main window, with
// simple stand-in pictures, plus a strip of the other looks (pressed
// buttons, a lowered and a plain elliptical panel, a horizontal track bar).
#include "controls/qmblepnl.h"
#include "controls/qmblrbtn.h"
#include "controls/qmblsbtn.h"
#include "controls/qmbltbar.h"
#include "controls/qmblvled.h"
#include "controls/qmblwpnl.h"

#include <QApplication>
#include <QFont>
#include <QLabel>
#include <QPainter>
#include <QTimer>
#include <QWidget>

#include <cmath>
#include <cstdint>
#include <vector>

namespace {

// A stand-in picture: the text in a frame on a coloured field.
QImage Picture(const QString &text, int w, int h, QColor field, QColor ink)
{
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(field);
    QPainter painter(&image);
    painter.setPen(ink);
    QFont font = painter.font();
    font.setBold(true);
    font.setPixelSize(std::max(8, std::min(h - 4, 13)));
    painter.setFont(font);
    painter.drawRect(0, 0, w - 1, h - 1);
    if (h > w) {
        // Tall pictures read from bottom to top.
        painter.translate(0, h);
        painter.rotate(-90);
        painter.drawText(QRect(0, 0, h, w), Qt::AlignCenter, text);
    } else {
        painter.drawText(QRect(0, 0, w, h), Qt::AlignCenter, text);
    }
    return image;
}

struct ButtonSpec {
    const char *name;
    int left, top, width, height;
    int leftTeeth, topTeeth, rightTeeth, bottomTeeth;
    int toothSize;
    int pictureWidth, pictureHeight;
};

// Bounds and teeth of the main window's saw-tooth buttons.
const ButtonSpec Buttons[] = {
    {"Play", 12, 50, 86, 52, 2, 0, 1, 0, 12, 50, 21},         {"Record", 9, 158, 96, 53, 3, 0, 1, 0, 12, 56, 21},
    {"Src", -8, 197, 68, 41, 0, 0, 0, 0, 10, 30, 15},         {"Echo", 22, 234, 132, 61, 0, 0, 0, 3, 12, 76, 21},
    {"Chorus", 130, 234, 132, 61, 0, 0, 0, 3, 12, 76, 21},    {"Flange", 238, 234, 132, 61, 0, 0, 0, 3, 12, 76, 21},
    {"Fade In", 346, 234, 132, 61, 0, 0, 0, 3, 12, 76, 21},   {"Fade Out", 454, 234, 132, 61, 0, 0, 0, 3, 12, 76, 21},
    {"Bass", 22, 282, 96, 60, 0, -2, 0, 0, 12, 52, 21},       {"Robot", 94, 282, 132, 60, 0, -3, 0, 0, 12, 76, 21},
    {"Backward", 202, 282, 132, 60, 0, -3, 0, 0, 12, 76, 21}, {"Slow", 310, 282, 96, 60, 0, -2, 0, 0, 12, 52, 21},
    {"Fast", 382, 282, 132, 60, 0, -3, 0, 0, 12, 76, 21},     {"Treble", 490, 282, 96, 60, 0, -2, 0, 0, 12, 52, 21},
    {"Sweep Up", 5, 236, 39, 104, 0, 0, 0, 0, 10, 15, 76},    {"Sweep Down", 564, 236, 39, 104, 0, 0, 0, 0, 10, 15, 76},
};

TQMBL_SawToothButton *MakeButton(QWidget *parent, const ButtonSpec &spec)
{
    auto *button = new TQMBL_SawToothButton(parent);
    button->setGeometry(spec.left, spec.top, spec.width, spec.height);
    button->SetLeftTeeth(spec.leftTeeth);
    button->SetTopTeeth(spec.topTeeth);
    button->SetRightTeeth(spec.rightTeeth);
    button->SetBottomTeeth(spec.bottomTeeth);
    button->SetToothSize(spec.toothSize);
    button->SetUpImage(Picture(spec.name, spec.pictureWidth, spec.pictureHeight, QColor(192, 192, 192), Qt::blue));
    button->SetDownImage(Picture(spec.name, spec.pictureWidth, spec.pictureHeight, QColor(255, 255, 0), Qt::red));
    return button;
}

QLabel *MakeLabel(QWidget *parent, const QString &text, int x, int y, QColor colour, int pixels = 11)
{
    auto *label = new QLabel(text, parent);
    QFont font = label->font();
    font.setBold(true);
    font.setPixelSize(pixels);
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
    label->move(x, y);
    label->adjustSize();
    return label;
}

// A volume housing: elliptical panel, its three labels and a vertical slider.
TQMBL_EllipticalPanel *MakeSliderPanel(QWidget *parent, int x, const QString &title, QColor bright, QColor dim,
                                       int sliderLeft, int position, TTickMark marks)
{
    auto *panel = new TQMBL_EllipticalPanel(parent);
    panel->setGeometry(x, 34, 91, 207);
    MakeLabel(panel, title, 28, 22, bright);
    MakeLabel(panel, "LOUD", 30, 50, bright);
    MakeLabel(panel, "soft", 33, 184, dim);
    auto *slider = new TQMBL_TrackBar(panel);
    slider->setGeometry(sliderLeft, 67, 35, 117);
    slider->SetOrientation(TTrackBarOrientation::trVertical);
    slider->SetMax(255);
    slider->SetPosition(position);
    slider->SetTickMarks(marks);
    slider->SetTickStyle(TTickStyle::tsNone);
    return panel;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);

    QWidget window;
    window.setWindowTitle("Glimmerbox controls");
    window.setFixedSize(608, 480);
    window.setAutoFillBackground(true);
    QPalette palette = window.palette();
    palette.setColor(QPalette::Window, QColor(192, 192, 192));
    window.setPalette(palette);

    auto *heading = new QLabel("Glimmerbox controls", &window);
    heading->setGeometry(0, 0, 608, 20);
    heading->setAlignment(Qt::AlignCenter);
    heading->setAutoFillBackground(true);
    QPalette headingPalette = heading->palette();
    headingPalette.setColor(QPalette::Window, QColor(0, 255, 0));
    heading->setPalette(headingPalette);

    // The grey backdrop of the effect buttons.
    auto *backdrop = new QWidget(&window);
    backdrop->setGeometry(16, 247, 579, 85);
    backdrop->setAutoFillBackground(true);
    QPalette backdropPalette = backdrop->palette();
    backdropPalette.setColor(QPalette::Window, QColor(0x81, 0x81, 0x81));
    backdrop->setPalette(backdropPalette);

    for (const ButtonSpec &spec : Buttons)
        MakeButton(&window, spec);

    auto *meter = new TQMBL_VerticalLEDs(&window);
    meter->setGeometry(19, 100, 71, 34);
    meter->SetColor(Qt::black);
    meter->SetLEDOnColor(QColor(255, 0, 0));
    meter->SetLEDOffColor(QColor(128, 0, 0));
    meter->SetNumLEDs(8);
    meter->SetProgress(0.5f);

    auto *timePanel = new QWidget(&window);
    timePanel->setGeometry(9, 143, 95, 20);
    timePanel->setAutoFillBackground(true);
    QPalette timePalette = timePanel->palette();
    timePalette.setColor(QPalette::Window, Qt::black);
    timePanel->setPalette(timePalette);
    MakeLabel(timePanel, " POS: 00:00:00 ", 4, 3, QColor(0, 255, 0));

    MakeSliderPanel(&window, 121, "Record", QColor(255, 0, 0), QColor(128, 0, 0), 28, 10, TTickMark::tmTopLeft);
    MakeSliderPanel(&window, 425, "Play", QColor(0, 255, 0), QColor(0, 128, 0), 29, 0, TTickMark::tmBottomRight);

    // The waveform display with a synthetic voice: a tone under a slow swell.
    std::vector<int16_t> voice(22050);
    for (size_t i = 0; i < voice.size(); ++i) {
        const double swell = std::sin(static_cast<double>(i) * 0.0004);
        voice[i] = static_cast<int16_t>(std::lround(26000.0 * swell * std::sin(static_cast<double>(i) * 0.05)));
    }
    auto *wave = new TQMBL_Wave_Display(&window);
    wave->setGeometry(215, 55, 206, 165);
    wave->SetSamplesPerPixel(40);
    wave->SetSampleData(voice.data(), static_cast<int32_t>(voice.size() * 2));
    wave->SetStartingPosition(0);

    auto *pitch = new TQMBL_TrackBar(&window);
    pitch->setGeometry(536, 82, 45, 134);
    pitch->SetOrientation(TTrackBarOrientation::trVertical);
    pitch->SetMax(12);
    pitch->SetPosition(6);
    pitch->SetFrequency(1);
    MakeLabel(&window, "Helium Breath", 520, 63, Qt::black);
    MakeLabel(&window, "Sulphur Breath", 520, 216, Qt::black);

    const int presetLeft[] = {168, 276, 383};
    const int presetTop[] = {335, 336, 336};
    for (int i = 0; i < 3; ++i) {
        auto *preset = new TQMBL_EllipticalButton(&window);
        preset->setGeometry(presetLeft[i], presetTop[i], 58, 58);
        const QString name = QString("SF%1").arg(i + 1);
        preset->SetCaption(name);
        preset->SetUpImage(Picture(name, i == 0 ? 34 : 38, 17, QColor(192, 192, 192), Qt::darkGreen));
        preset->SetDownImage(Picture(name, i == 0 ? 34 : 38, 17, QColor(255, 255, 0), Qt::red));
    }

    // The other looks, below the main window's area.
    auto *pressed = MakeButton(&window, {"Echo", 10, 405, 132, 61, 0, 0, 0, 3, 12, 76, 21});
    pressed->SetDown(true);
    auto *pressedTop = MakeButton(&window, {"Robot", 150, 405, 132, 60, 0, 3, 0, 0, 12, 76, 21});
    pressedTop->SetDown(true);
    auto *pressedPreset = new TQMBL_EllipticalButton(&window);
    pressedPreset->setGeometry(290, 405, 58, 58);
    pressedPreset->SetCaption("SF1");
    pressedPreset->SetDown(true);
    auto *lowered = new TQMBL_EllipticalPanel(&window);
    lowered->setGeometry(356, 405, 80, 60);
    lowered->SetBevelOuter(TBevelCut::bvLowered);
    auto *bubble = new TQMBL_EllipticalPanel(&window);
    bubble->setGeometry(444, 405, 70, 40);
    bubble->SetColor(QColor(255, 255, 225));
    bubble->SetBevelOuter(TBevelCut::bvNone);
    auto *horizontal = new TQMBL_TrackBar(&window);
    horizontal->setGeometry(444, 445, 150, 30);

    // Clicking the meter cycles its level, so its steps can be watched.
    QObject::connect(meter, &TQMBL_VerticalLEDs::OnClick, [meter] {
        float next = meter->Progress() + 0.125f;
        meter->SetProgress(next > 1.0f ? 0.0f : next);
    });

    window.show();
    return app.exec();
}
