// SPDX-License-Identifier: GPL-3.0-or-later
// The desktop commands that need the sound server: Ctrl+R records as the
// Record button does, a new recording asks before it drops an unsaved one,
// the space bar still plays, and a file named at start plays only when the
// preferences say so.
#include "app/mfunit.h"
#include "app/startupunit.h"
#include "audio/wavefile.h"
#include "controls/qmblsbtn.h"
#include "platform/sqwaveplayer.h"
#include "tests/app/apptest.h"
#include "tests/app/mainwindowtest.h"
#include "tests/platform/soundtest.h"

#include <QCheckBox>
#include <QDir>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

class DesktopSound : public ::testing::Test {
protected:
    void SetUp() override
    {
        TestApp();
        soundtest::ResetServer();
        ASSERT_TRUE(folder.isValid());
        ASSERT_TRUE(temporary.isValid());
        ASSERT_TRUE(settingsFolder.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsFolder.path());
        temporaryFolder.PointAt(temporary.path().toStdString());
        previousQuestions = SetSaveQuestionAnswerer([this](const std::string &text, QWidget *) {
            questions.push_back(text);
            return answer;
        });
        StartMainWindow(form, TimerTicks::Stopped);
        form->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    }

    void TearDown() override
    {
        SetSaveQuestionAnswerer(previousQuestions);
        CloseMainWindow(form);
        AudioStopRecord();
        temporaryFolder.Restore();
    }

    void PressKeys(const char *keys) { QTest::keySequence(form.get(), QKeySequence(QString::fromLatin1(keys))); }

    // About a third of a second of sound, with what a PipeWire server loses
    // at the start on top.
    static int RecordingTime() { return 350 + static_cast<int>(soundtest::RecordingStartLoss() * 1000); }

    // Records for about a third of a second with Ctrl+R.
    void RecordWithTheKey()
    {
        PressKeys("Ctrl+R");
        ASSERT_TRUE(form->Recorder.Recording);
        ASSERT_TRUE(form->RecordButton->Down());
        QTest::qWait(RecordingTime());
        PressKeys("Ctrl+R");
        ASSERT_FALSE(form->Recorder.Recording);
        ASSERT_FALSE(form->RecordButton->Down());
    }

    RecordedMessages messages;
    QTemporaryDir folder;
    QTemporaryDir temporary;
    QTemporaryDir settingsFolder;
    ScopedTemporaryFolder temporaryFolder;
    std::unique_ptr<TMainForm> form;
    std::vector<std::string> questions;
    TSaveAnswer answer = TSaveAnswer::Cancel;

private:
    SaveQuestionAnswerer previousQuestions;
};

TEST_F(DesktopSound, CtrlRStartsAndStopsARecordingAsTheButtonDoes)
{
    RecordWithTheKey();
    // About a third of a second of the microphone's tone, ready to save.
    EXPECT_GT(form->Document.VoiceBytes, 22050 / 5 * 2);
    EXPECT_LT(form->Document.VoiceBytes, 22050 * 2 * 2);
    EXPECT_TRUE(form->Save1->isEnabled());
    EXPECT_TRUE(form->UnsavedRecording());
    EXPECT_TRUE(questions.empty()) << "nothing to lose before the first recording";
    EXPECT_TRUE(messages.Shown.empty());
}

TEST_F(DesktopSound, ANewRecordingAsksAboutTheUnsavedOneAndCancelKeepsIt)
{
    RecordWithTheKey();
    const int32_t first = form->Document.VoiceBytes;
    const int16_t *firstBuffer = form->Document.VoiceData.get();

    answer = TSaveAnswer::Cancel;
    PressKeys("Ctrl+R");
    EXPECT_EQ(questions, std::vector<std::string>{"The recording has not been saved. Save it first?"});
    EXPECT_FALSE(form->Recorder.Recording);
    EXPECT_FALSE(form->RecordButton->Down()) << "the button comes up again at once";
    EXPECT_EQ(form->Document.VoiceBytes, first);
    EXPECT_EQ(form->Document.VoiceData.get(), firstBuffer);

    // The mouse asks the same.
    questions.clear();
    QTest::mouseClick(form->RecordButton, Qt::LeftButton, {}, QPoint(48, 26));
    EXPECT_EQ(questions.size(), 1u);
    EXPECT_FALSE(form->Recorder.Recording);
    EXPECT_EQ(form->Document.VoiceData.get(), firstBuffer);

    // Discard: the new recording starts.
    questions.clear();
    answer = TSaveAnswer::Discard;
    PressKeys("Ctrl+R");
    EXPECT_EQ(questions.size(), 1u);
    EXPECT_TRUE(form->Recorder.Recording);
    PressKeys("Ctrl+R");
    EXPECT_FALSE(form->Recorder.Recording);
    EXPECT_TRUE(messages.Shown.empty());
}

TEST_F(DesktopSound, ClosingTheWindowWhileRecordingKeepsTheTakeAndAsksAboutIt)
{
    PressKeys("Ctrl+R");
    ASSERT_TRUE(form->Recorder.Recording);
    QTest::qWait(RecordingTime());
    // Cancel: the take is in memory, the window stays.
    answer = TSaveAnswer::Cancel;
    EXPECT_FALSE(form->close());
    EXPECT_EQ(questions, std::vector<std::string>{"The recording has not been saved. Save it first?"});
    EXPECT_FALSE(form->Recorder.Recording);
    EXPECT_FALSE(form->RecordButton->Down());
    EXPECT_GT(form->Document.VoiceBytes, 22050 / 5 * 2);
    EXPECT_TRUE(form->UnsavedRecording());
    // Discard: the window closes.
    answer = TSaveAnswer::Discard;
    EXPECT_TRUE(form->close());
    EXPECT_EQ(questions.size(), 2u);
    EXPECT_TRUE(messages.Shown.empty());
}

TEST_F(DesktopSound, TheSpaceBarStillPlays)
{
    const std::vector<int16_t> clip(22050, 2000);
    const std::string name = folder.filePath(QStringLiteral("space.wav")).toStdString();
    ASSERT_TRUE(WriteWaveFile(name, 22050, 16, 1, clip.data(), static_cast<uint32_t>(clip.size() * 2)));
    form->OpenVoiceFile(name);
    // Through the window, as the keyboard's keys arrive.
    QTest::keyClick(form->windowHandle(), Qt::Key_Space);
    ASSERT_TRUE(ProcessEventsUntil([this] { return form->Player.Playing; }));
    EXPECT_TRUE(form->PlayButton->Down());
    QTest::keyClick(form->windowHandle(), Qt::Key_Space);
    ASSERT_TRUE(ProcessEventsUntil([this] {
        form->TimerTimer();
        return !form->Player.Playing;
    }));
}

TEST_F(DesktopSound, AFileNamedAtStartPlaysOnlyWhenThePreferencesSaySo)
{
    const std::vector<int16_t> clip(44100, -1500);
    const std::string name = folder.filePath(QStringLiteral("start.wav")).toStdString();
    ASSERT_TRUE(WriteWaveFile(name, 22050, 16, 1, clip.data(), static_cast<uint32_t>(clip.size() * 2)));
    for (bool play : {false, true}) {
        SCOPED_TRACE(play ? "play at start-up" : "no play at start-up");
        {
            TStartup preferences;
            preferences.PlaySoundAtStartup->setChecked(play);
            preferences.SavePreferences();
        }
        form->OpenFileAtStart(name);
        EXPECT_EQ(form->windowTitle(), QStringLiteral("Glimmerbox - start.wav"));
        EXPECT_EQ(form->Player.Playing, play);
        EXPECT_EQ(form->PlayButton->Down(), play);
        if (form->Player.Playing) {
            form->PlayButton->SetDown(false);
            form->PlayButtonClick();
            ASSERT_TRUE(ProcessEventsUntil([this] {
                form->TimerTimer();
                return !form->Player.Playing;
            }));
        }
    }
    EXPECT_TRUE(messages.Shown.empty());
}

} // namespace
