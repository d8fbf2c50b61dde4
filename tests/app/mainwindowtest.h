// SPDX-License-Identifier: GPL-3.0-or-later
// The main window as the program starts it, for the tests that drive it
// shown on screen, and the system's temporary folder pointed at a folder of
// the test's own.
#pragma once

#include "app/mfunit.h"
#include "app/progressunit.h"

#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

enum class TimerTicks { Stopped, Running };

// Creates the window and its progress window as start-up does and shows it.
// With TimerTicks::Stopped the test drives the ticks itself.
inline void StartMainWindow(std::unique_ptr<TMainForm> &form, TimerTicks ticks)
{
    ResetMixerGlobals();
    form = std::make_unique<TMainForm>();
    if (ticks == TimerTicks::Stopped)
        form->Timer->stop();
    MainForm = form.get();
    form->FormCreate();
    ProgressForm = new TProgressForm(form.get());
    ProgressForm->FormCreate();
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
}

inline void CloseMainWindow(std::unique_ptr<TMainForm> &form)
{
    delete ProgressForm;
    ProgressForm = nullptr;
    form.reset();
}

// Points TMPDIR at a folder while it lives, then puts back what was there.
class ScopedTemporaryFolder {
public:
    ScopedTemporaryFolder() = default;
    ScopedTemporaryFolder(const ScopedTemporaryFolder &) = delete;
    ScopedTemporaryFolder &operator=(const ScopedTemporaryFolder &) = delete;
    ~ScopedTemporaryFolder() { Restore(); }

    void PointAt(const std::string &folder)
    {
        if (!pointed) {
            const char *before = std::getenv("TMPDIR");
            saved = before ? before : "";
            pointed = true;
        }
        setenv("TMPDIR", folder.c_str(), 1);
    }

    void Restore()
    {
        if (!pointed)
            return;
        if (saved.empty())
            unsetenv("TMPDIR");
        else
            setenv("TMPDIR", saved.c_str(), 1);
        pointed = false;
    }

private:
    std::string saved;
    bool pointed = false;
};
