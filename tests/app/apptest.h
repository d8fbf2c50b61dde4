// SPDX-License-Identifier: GPL-3.0-or-later
// Shared pieces of the main-window tests: the one QApplication of a test
// program, a message sink that records instead of showing boxes, and a wait
// for something the event loop has to bring about.
#pragma once

#include "app/question.h"
#include "app/seams.h"
#include "tests/effects/effecttesting.h"

#include <QApplication>
#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

// Made once and never destroyed: tearing it down among the exit handlers
// would run after Qt's own statics are gone.
inline QApplication &TestApp()
{
    static int argc = 1;
    static char name[] = "glimmerbox-test";
    static char *argv[] = {name, nullptr};
    static QApplication *app = [] {
        auto *made = new QApplication(argc, argv);
        // A question no test expected fails that test instead of waiting
        // for a click that never comes; tests that expect it answer it.
        SetSaveQuestionAnswerer([](const std::string &text, QWidget *) {
            ADD_FAILURE() << "unexpected question: " << text;
            return TSaveAnswer::Cancel;
        });
        return made;
    }();
    return *app;
}

class RecordedMessages : public MessageSink {
public:
    RecordedMessages() { previous = SetMessages(this); }
    ~RecordedMessages() override { SetMessages(previous); }

    void ShowMessage(const std::string &text, const std::string &caption) override
    {
        Shown.emplace_back(text, caption);
    }

    std::vector<std::pair<std::string, std::string>> Shown;

private:
    MessageSink *previous;
};

// Processes events until done() holds or a generous limit passes; answers
// done() at the end. The limit only keeps a broken program from hanging the
// test run.
inline bool ProcessEventsUntil(const std::function<bool()> &done, int limitMs = 10000)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < limitMs)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}
