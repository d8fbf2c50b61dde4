// SPDX-License-Identifier: GPL-3.0-or-later
// Live Voice in the window, against the private sound servers: Ctrl+L
// starts it from the recording input into "Glimmerbox Voice"; a change of
// effect is heard there after the crossfade, sample for sample what the clip
// path makes of what came in; the effects that need a whole clip are greyed;
// Record, Play and the file commands answer that Live Voice must stop first;
// closing the window stops it, removes the virtual microphone and leaves the
// user's defaults as they were.
#include "app/mfunit.h"
#include "controls/qmblsbtn.h"
#include "controls/qmblvled.h"
#include "tests/app/apptest.h"
#include "tests/app/mainwindowtest.h"
#include "tests/livetesting.h"
#include "tests/platform/soundtest.h"

#include <QAction>
#include <QElapsedTimer>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>

namespace {

using namespace std::chrono;

bool WaitUntil(const std::function<bool()> &done, int limitMs = 5000)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < limitMs)
        QTest::qWait(10);
    return done();
}

std::string Defaults()
{
    return soundtest::DefaultSink() + " " + soundtest::DefaultSource();
}

TEST(LiveVoiceWindow, CtrlLStartsItAChangeIsHeardExactlyTheRestWaitsAndClosingStopsIt)
{
    TestApp();
    soundtest::ResetServer();
    QTemporaryDir settings;
    QTemporaryDir folder;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
    RecordedMessages messages;
    const std::string defaults = Defaults();
    std::unique_ptr<TMainForm> form;
    StartMainWindow(form, TimerTicks::Running);
    form->LiveKeepInput = folder.filePath(QStringLiteral("in.wav")).toStdString();
    form->LiveKeepOutput = folder.filePath(QStringLiteral("out.wav")).toStdString();
    // Robot voice, and Backward, which cannot run live.
    form->Robotvoice1->trigger();
    form->Backward1->trigger();

    form->activateWindow();
    QTest::keySequence(form.get(), QKeySequence(QStringLiteral("Ctrl+L")));
    ASSERT_TRUE(form->Live.Running()) << (messages.Shown.empty() ? "" : messages.Shown[0].first);
    EXPECT_TRUE(form->LiveVoice1->isChecked());
    EXPECT_TRUE(soundtest::WaitUntilListed("sources", "glimmerbox_voice"));
    EXPECT_EQ(Defaults(), defaults);
    EXPECT_FALSE(form->BackwardButton->isEnabled());
    EXPECT_EQ(form->BackwardButton->toolTip(), QStringLiteral("Needs a recorded voice"));
    EXPECT_FALSE(form->Backward1->isEnabled());
    EXPECT_TRUE(form->EchoButton->isEnabled());
    soundtest::Capture capture("glimmerbox_voice");
    ASSERT_TRUE(capture.WaitUntilRunning(seconds(5)));

    QTest::qWait(800);
    QTest::mouseClick(form->EchoButton, Qt::LeftButton, {}, QPoint(66, 30));
    ASSERT_TRUE(WaitUntil([&] { return form->Live.SelectionStartedAt() > 0; }));
    QTest::qWait(600);
    EXPECT_GT(form->VolLED->Progress(), 0.0F) << "the meter shows the input";

    // The rest waits for Live Voice, as it would for a recording.
    for (const auto &command : std::initializer_list<std::function<void()>>{
             [&] { QTest::mouseClick(form->RecordButton, Qt::LeftButton, {}, QPoint(48, 26)); },
             [&] { QTest::mouseClick(form->PlayButton, Qt::LeftButton, {}, QPoint(48, 26)); },
             [&] { form->Open1->trigger(); },
         }) {
        messages.Shown.clear();
        command();
        ASSERT_EQ(messages.Shown.size(), 1u);
        EXPECT_EQ(messages.Shown[0].first, "Please stop Live Voice first");
    }
    EXPECT_FALSE(form->Recorder.Recording);
    EXPECT_FALSE(form->Player.Playing);
    EXPECT_FALSE(form->RecordButton->Down());
    EXPECT_FALSE(form->Undo1->isEnabled());
    const std::vector<int16_t> heard = capture.Stop();
    EXPECT_GT(soundtest::LastAbove(heard, 1000), 0) << "nothing reached Glimmerbox Voice";

    const auto changed = static_cast<size_t>(form->Live.SelectionStartedAt());
    form->close();
    EXPECT_FALSE(form->Live.Running());
    CloseMainWindow(form);
    EXPECT_TRUE(soundtest::WaitUntilListed("sources", "glimmerbox_voice", false));
    EXPECT_EQ(Defaults(), defaults);

    const std::vector<int16_t> in = livetesting::Samples(folder.filePath(QStringLiteral("in.wav")).toStdString());
    const std::vector<int16_t> out = livetesting::Samples(folder.filePath(QStringLiteral("out.wav")).toStdString());
    livetesting::ExpectLiveOutput(in, out, changed, "--robot", "--robot --echo", folder.path().toStdString());
}

} // namespace
