// SPDX-License-Identifier: GPL-3.0-or-later
// Many short playbacks and recordings in a row against the private sound
// server, driven through the main window as a user would: 200 play/stop
// cycles, 50 record/stop cycles and 50 cycles of a window that opens a
// voice, plays it and closes. After every cycle Play and Record are up
// again and the engine idle; the memory in use (resident set) at the end is
// within a few MiB of what it was after a warm-up.
//
// Each wait has a generous deadline that only keeps a stuck program from
// hanging the run; nothing is timed.
#include "app/mfunit.h"
#include "app/progressunit.h"
#include "audio/wavefile.h"
#include "controls/qmblsbtn.h"
#include "platform/sqwaveplayer.h"
#include "platform/waveout.h"
#include "tests/app/apptest.h"
#include "tests/app/mainwindowtest.h"
#include "tests/platform/soundtest.h"

#include <QDir>
#include <QElapsedTimer>
#include <QPixmapCache>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <malloc.h>

#include <cstdint>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

// What a stuck cycle is given before the test gives up on it.
constexpr int DeadlineMs = 10000;
// The growth of the resident set allowed over a whole run after the warm-up:
// the runs here grow it by well under 1 MiB; a lost pair of playback blocks
// or a lost working copy of the voice on each play would add over 3 MiB.
constexpr long AllowedGrowthKiB = 2 * 1024;

// VmRSS of this process, in KiB, after handing freed heap pages back to the
// system (so that what is counted is what is still in use). Qt's pixmap
// cache is emptied first: the style caches pictures of each window's
// sliders and icons under keys of that window's palette, so every new window
// adds entries until the cache's own limit (10 MiB) is reached. That is
// Qt's bounded cache, not memory the program loses.
long ResidentKiB()
{
    QPixmapCache::clear();
    malloc_trim(0);
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    ADD_FAILURE() << "no VmRSS in /proc/self/status";
    return 0;
}

// Bytes the open device has played so far; 0 when there is none.
uint32_t PlayedBytes(HWAVEOUT device)
{
    if (!device)
        return 0;
    MMTIME position{};
    position.wType = TIME_BYTES;
    return waveOutGetPosition(device, &position, sizeof position) == MMSYSERR_NOERROR ? position.u.cb : 0;
}

// Handles events, looking every few milliseconds, until done() holds or the
// deadline passes; answers done() at the end. The pause matters: asking the
// sound libraries without one keeps their lock busy and takes the cores the
// sound needs.
bool WaitUntil(const std::function<bool()> &done)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < DeadlineMs)
        QTest::qWait(5);
    return done();
}

void Click(QWidget *button)
{
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(button->width() / 2, button->height() / 2));
}

class Soak : public ::testing::Test {
protected:
    void SetUp() override
    {
        TestApp();
        soundtest::ResetServer();
        ASSERT_TRUE(soundtest::SetDefaultSource("glimmer_mic"));
        ASSERT_TRUE(folder.isValid());
        ASSERT_TRUE(temporary.isValid());
        temporaryFolder.PointAt(temporary.path().toStdString());
        // The window reads Loop and the other preferences from settings of
        // the test's own: every playback here ends.
        ASSERT_TRUE(settingsFolder.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsFolder.path());
        // Half a second of a tone: a playback that runs to its end is short.
        std::vector<int16_t> clip(22050 / 2);
        for (size_t i = 0; i < clip.size(); ++i)
            clip[i] = static_cast<int16_t>(i % 50 < 25 ? 6000 : -6000);
        voiceFile = folder.filePath(QStringLiteral("voice.wav")).toStdString();
        ASSERT_TRUE(WriteWaveFile(voiceFile, 22050, 16, 1, clip.data(), static_cast<uint32_t>(clip.size() * 2)));
        // Each new take replaces the last without asking to save it.
        previousAnswerer = SetSaveQuestionAnswerer([](const std::string &, QWidget *) { return TSaveAnswer::Discard; });
    }

    void TearDown() override
    {
        if (form)
            CloseMainWindow(form);
        AudioStopRecord();
        SetSaveQuestionAnswerer(previousAnswerer);
        temporaryFolder.Restore();
    }

    // A window as start-up makes it, with its timer stopped: the test ticks
    // it, so that a cycle waits for the engine rather than for the clock.
    void OpenWindowWithVoice()
    {
        StartMainWindow(form, TimerTicks::Stopped);
        ASSERT_TRUE(form->OpenVoiceFile(voiceFile));
        ASSERT_EQ(form->Document.VoiceBytes, 22050);
        ASSERT_FALSE(form->Player.LoopPlayback);
    }

    // Ticks as the timer would, faster but never without a pause, with the
    // events in between, until done() holds or the deadline passes.
    bool TickUntil(const std::function<bool()> &done)
    {
        return WaitUntil([this, &done] {
            form->TimerTimer();
            return done();
        });
    }

    // The window at rest: nothing playing or recording, both buttons up.
    ::testing::AssertionResult AtRest() const
    {
        if (form->Player.Playing || form->Player.WaveOut)
            return ::testing::AssertionFailure() << "still playing";
        if (form->Recorder.Recording || AudioGetRecordState() != RECORD_STATE_IDLE)
            return ::testing::AssertionFailure() << "still recording";
        if (form->PlayButton->Down())
            return ::testing::AssertionFailure() << "Play stayed down";
        if (form->RecordButton->Down())
            return ::testing::AssertionFailure() << "Record stayed down";
        return ::testing::AssertionSuccess();
    }

    // Play, until the device has played something; then, unless toTheEnd,
    // Play again to stop. Either way the window comes to rest.
    void PlayCycle(bool toTheEnd)
    {
        Click(form->PlayButton);
        ASSERT_TRUE(form->Player.Playing) << (messages.Shown.empty() ? std::string() : messages.Shown.back().first);
        ASSERT_TRUE(form->PlayButton->Down());
        ASSERT_TRUE(WaitUntil([this] { return PlayedBytes(form->Player.WaveOut) > 0; })) << "the sound never started";
        if (!toTheEnd) {
            Click(form->PlayButton);
            EXPECT_FALSE(form->PlayButton->Down());
        }
        ASSERT_TRUE(TickUntil([this] { return !form->Player.Playing && !form->PlayButton->Down(); }))
            << (toTheEnd ? "the playback never ended" : "the stop never came");
        ASSERT_TRUE(AtRest());
    }

    // Record until the recorder has heard the microphone, then Record again
    // to stop; the take becomes the voice.
    void RecordCycle()
    {
        Click(form->RecordButton);
        ASSERT_TRUE(form->Recorder.Recording);
        ASSERT_TRUE(form->RecordButton->Down());
        ASSERT_TRUE(TickUntil([] {
            int32_t level = 0;
            AudioGetRecordLevel(&level, nullptr);
            return level > 0;
        })) << "nothing was heard";
        Click(form->RecordButton);
        ASSERT_TRUE(TickUntil([this] { return !form->Recorder.Recording && !form->RecordButton->Down(); }))
            << "the recording never stopped";
        ASSERT_TRUE(AtRest());
        EXPECT_GT(form->Document.VoiceBytes, 0);
    }

    // A window that opens the voice, plays it, stops and closes.
    void WindowCycle()
    {
        OpenWindowWithVoice();
        ASSERT_FALSE(HasFatalFailure());
        PlayCycle(false);
        ASSERT_FALSE(HasFatalFailure());
        CloseMainWindow(form);
        MainForm = nullptr;
    }

    // Runs cycle count times after warmUp runs that are not counted; expects
    // the resident set to end within AllowedGrowthKiB of where the counted
    // runs began.
    void Soaked(int warmUp, int count, const std::function<void(int)> &cycle)
    {
        for (int i = 0; i < warmUp; ++i) {
            SCOPED_TRACE("warm-up cycle " + std::to_string(i));
            cycle(i);
            ASSERT_FALSE(HasFatalFailure());
        }
        const long before = ResidentKiB();
        for (int i = 0; i < count; ++i) {
            SCOPED_TRACE("cycle " + std::to_string(i));
            cycle(i);
            ASSERT_FALSE(HasFatalFailure());
        }
        const long after = ResidentKiB();
        RecordProperty("ResidentKiBBefore", std::to_string(before));
        RecordProperty("ResidentKiBAfter", std::to_string(after));
        EXPECT_LE(after - before, AllowedGrowthKiB) << "from " << before << " KiB to " << after << " KiB";
        EXPECT_TRUE(messages.Shown.empty()) << messages.Shown.front().first;
    }

    RecordedMessages messages;
    QTemporaryDir folder;
    QTemporaryDir temporary;
    QTemporaryDir settingsFolder;
    ScopedTemporaryFolder temporaryFolder;
    std::unique_ptr<TMainForm> form;
    std::string voiceFile;
    SaveQuestionAnswerer previousAnswerer;
};

TEST_F(Soak, TwoHundredPlaysAndStopsAlwaysComeBackToRest)
{
    OpenWindowWithVoice();
    // Every tenth plays to its end, the others are stopped at once.
    Soaked(20, 200, [this](int i) { PlayCycle(i % 10 == 9); });
}

TEST_F(Soak, FiftyRecordingsAndStopsAlwaysComeBackToRest)
{
    OpenWindowWithVoice();
    Soaked(5, 50, [this](int) { RecordCycle(); });
    EXPECT_TRUE(QDir(temporary.path()).isEmpty()) << "a take's file was left behind";
}

TEST_F(Soak, FiftyWindowsThatOpenPlayAndCloseLeaveNothingBehind)
{
    Soaked(5, 50, [this](int) { WindowCycle(); });
    // The wave-out device is free: a new one opens.
    EXPECT_TRUE(soundtest::Eventually([] { return soundtest::OurPlaybackStreams().empty(); }))
        << "a playback stream outlived its window";
}

} // namespace
