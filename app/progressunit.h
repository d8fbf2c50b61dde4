// SPDX-License-Identifier: GPL-3.0-or-later
// The progress window: a thin strip with one gauge, shown without being
// modal while the effect pipeline or the WAVE reader's conversion runs on
// the user-interface thread. The long computations advance the gauge from
// inside their loops and process no events, so the gauge repaints itself
// synchronously, and only when the whole percentage it shows changes.
#pragma once

#include "audio/progress.h"

#include <QTimer>
#include <QWidget>

// White field, lime bar, single black border, the percentage centred.
class TProgressGauge : public QWidget, public ProgressGauge {
    Q_OBJECT
public:
    explicit TProgressGauge(QWidget *parent = nullptr);

    static constexpr QRgb BackColor = 0xFFFFFFFF;
    static constexpr QRgb ForeColor = 0xFF00FF00;

protected:
    void PercentChanged(int32_t percent) override;
    void paintEvent(QPaintEvent *event) override;
};

class TProgressForm : public QWidget {
    Q_OBJECT
public:
    static constexpr int ClientWidth = 488;
    static constexpr int ClientHeight = 18;
    static constexpr int DesignedLeft = 192;
    static constexpr int DesignedTop = 412;

    // mainWindow: the window the strip is centred over (and stays above).
    explicit TProgressForm(QWidget *mainWindow);

    // Centres the strip horizontally over the main window as it stands now;
    // the top stays where the window was designed.
    void FormCreate();

    // Shows the strip and waits, handling no input, until the window system
    // has it on screen (for half a second at most): the computation that
    // follows handles no events, so a window still on its way would stay
    // blank until the work is done.
    void ShowAndWaitUntilOnScreen();

    TProgressGauge *ProgressGauge;

private:
    QWidget *mainWindow;
};

extern TProgressForm *ProgressForm;

// Shows the progress window (when shown and there is one) for the length of
// a run and hides it however the run ends. While the window comes up the
// main window's timer is held: no tick may run in the middle of the command
// that started the run (the Play button that is down right now must stay
// down).
class TProgressShown {
public:
    TProgressShown(bool shown, QTimer *timer)
        : shown(shown && ProgressForm), timer(timer), timerWasActive(timer->isActive())
    {
        if (!this->shown)
            return;
        timer->stop();
        ProgressForm->ShowAndWaitUntilOnScreen();
    }
    ~TProgressShown()
    {
        if (!shown)
            return;
        ProgressForm->hide();
        if (timerWasActive)
            timer->start();
    }
    TProgressShown(const TProgressShown &) = delete;
    TProgressShown &operator=(const TProgressShown &) = delete;
    // The gauge to advance, or none.
    ::ProgressGauge *Gauge() const { return shown ? ProgressForm->ProgressGauge : nullptr; }

private:
    bool shown;
    QTimer *timer;
    bool timerWasActive;
};
