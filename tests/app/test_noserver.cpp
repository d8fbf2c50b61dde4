// SPDX-License-Identifier: GPL-3.0-or-later
// With no sound server to reach, the program says there is no output device
// and ends as soon as start-up is over, Play says the device cannot be
// opened, and Record says the recording device is unavailable.
#include "app/aboutunit.h"
#include "app/helpunit.h"
#include "app/mfunit.h"
#include "app/program.h"
#include "audio/wavefile.h"
#include "controls/qmblsbtn.h"
#include "controls/qmbltbar.h"
#include "tests/app/apptest.h"
#include "tests/app/mainwindowtest.h"

#include <QAction>
#include <QDir>
#include <QMenu>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

// A server address in folder where nothing listens; nothing is started in
// its place.
void PointSoundServerAtNothingIn(const QTemporaryDir &folder)
{
    const QByteArray address = "unix:" + QDir(folder.path()).filePath(QStringLiteral("native")).toLocal8Bit();
    setenv("PULSE_SERVER", address.constData(), 1);
    setenv("PULSE_AUTOSPAWN", "no", 1);
}

TEST(NoSoundServer, StartUpReportsNoOutputDeviceAndTheProgramEnds)
{
    QTemporaryDir nowhere;
    ASSERT_TRUE(nowhere.isValid());
    PointSoundServerAtNothingIn(nowhere);

    TestApp();
    // The program reads its preferences at start: not the user's.
    QTemporaryDir settings;
    ASSERT_TRUE(settings.isValid());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
    RecordedMessages messages;
    // Only so that a program that fails to end cannot hang the test run.
    bool stoppedByTest = false;
    QTimer::singleShot(60000, [&stoppedByTest] {
        stoppedByTest = true;
        QApplication::quit();
    });

    const int result = RunGlimmerbox();

    EXPECT_FALSE(stoppedByTest) << "the program did not end by itself";
    EXPECT_EQ(result, 0);
    ASSERT_EQ(messages.Shown.size(), 1u);
    EXPECT_EQ(messages.Shown[0].first, "There are no Wave Out Devices installed on your system, Terminating...");
    EXPECT_EQ(messages.Shown[0].second, "Tamblor Glimmerbox");
    EXPECT_FALSE(MixerState.MixerReady);
    EXPECT_EQ(MainForm, nullptr);
}

TEST(NoSoundServer, PlaySaysTheDeviceCannotBeOpenedAndPutsTheButtonUp)
{
    QTemporaryDir nowhere;
    ASSERT_TRUE(nowhere.isValid());
    PointSoundServerAtNothingIn(nowhere);

    TestApp();
    RecordedMessages messages;
    TMainForm form;
    form.Timer->stop();
    form.Document.VoiceBytes = 200;
    form.Document.VoiceData = std::make_unique<int16_t[]>(100);
    form.Document.WorkCapacity = 200;
    form.Document.WorkData = std::make_unique<int16_t[]>(100);

    QTest::mouseClick(form.PlayButton, Qt::LeftButton, {}, QPoint(43, 26));
    ASSERT_EQ(messages.Shown.size(), 1u);
    EXPECT_EQ(messages.Shown[0].first, "Error: Cannot open the Wave Output Device");
    EXPECT_EQ(messages.Shown[0].second, "Tamblor Glimmerbox");
    EXPECT_FALSE(form.PlayButton->Down());
    EXPECT_FALSE(form.Player.Playing);
    EXPECT_EQ(form.Player.WaveOut, nullptr);
    EXPECT_EQ(form.Player.WaveHeaders[0].lpData, nullptr) << "nothing is allocated";
    EXPECT_EQ(form.Document.WorkBytes, 200) << "the voice was processed first";
}

TEST(NoSoundServer, AboutBoxWebButtonOpensTheHelpPageAboutTheProgram)
{
    QTemporaryDir nowhere;
    ASSERT_TRUE(nowhere.isValid());
    PointSoundServerAtNothingIn(nowhere);

    TestApp();
    RecordedMessages messages;
    TMainForm form;
    form.Timer->stop();
    form.FormCreate();
    ASSERT_NE(AboutBox, nullptr);
    AboutBox->WebAddress = QUrl(QStringLiteral("qrc:/help/about.html"));
    AboutBox->WebButton->click();
    ASSERT_NE(form.HelpWindow, nullptr);
    EXPECT_TRUE(form.HelpWindow->isVisible());
    EXPECT_EQ(form.HelpWindow->Browser->source(), QUrl(QStringLiteral("qrc:/help/about.html")));
    EXPECT_TRUE(form.HelpWindow->Browser->toPlainText().contains(QStringLiteral("About Glimmerbox")));
}

// Points the sound server and the system's temporary folder somewhere of
// the test's own, and puts the temporary folder back afterwards.
class NoServerRecording : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(nowhere.isValid());
        ASSERT_TRUE(temporary.isValid());
        PointSoundServerAtNothingIn(nowhere);
        temporaryFolder.PointAt(temporary.path().toStdString());
        TestApp();
        form = std::make_unique<TMainForm>();
        form->Timer->stop();
    }

    void TearDown() override
    {
        form.reset();
        temporaryFolder.Restore();
    }

    QStringList TemporaryFiles() const { return QDir(temporary.path()).entryList(QDir::Files | QDir::Hidden); }

    RecordedMessages messages;
    QTemporaryDir nowhere;
    QTemporaryDir temporary;
    ScopedTemporaryFolder temporaryFolder;
    std::unique_ptr<TMainForm> form;
};

TEST_F(NoServerRecording, RecordPutsTheEffectsToRestAndSaysTheDeviceIsUnavailable)
{
    // A voice with effects on, all of which a new recording drops.
    const std::string name = QDir(nowhere.path()).filePath(QStringLiteral("voice.wav")).toStdString();
    const int16_t clip[4] = {100, -100, 200, -200};
    ASSERT_TRUE(WriteWaveFile(name, 22050, 16, 1, clip, sizeof clip));
    form->OpenVoiceFile(name);
    ASSERT_EQ(form->Document.VoiceBytes, 8);
    TQMBL_SawToothButton *buttons[] = {form->EchoButton,       form->ChorusButton,     form->FlangeButton,
                                       form->FadeInButton,     form->fadeOutButton,    form->BassOnlyButton,
                                       form->RobotvoiceButton, form->BackwardButton,   form->SlowMonstButton,
                                       form->FastSqueakButton, form->TrebleOnlyButton, form->SweepUpButton,
                                       form->SweepDownButton};
    form->Document.Effects = EveryEffectOn();
    form->TimerTimer();
    form->Document.Effects.PitchPosition = 11;
    form->ShowEffects();
    // The file holds them: nothing unsaved to ask about.
    ASSERT_TRUE(form->Document.Save(name));

    QTest::mouseClick(form->RecordButton, Qt::LeftButton, {}, QPoint(48, 26));

    ASSERT_EQ(messages.Shown.size(), 1u);
    EXPECT_EQ(messages.Shown[0].first,
              "Your device is unavailable or unable to record .  Please check your installation.");
    EXPECT_EQ(messages.Shown[0].second, "Recording Error");
    EXPECT_FALSE(form->Recorder.Recording);
    EXPECT_FALSE(form->RecordButton->Down());
    for (TQMBL_SawToothButton *button : buttons)
        EXPECT_FALSE(button->Down());
    for (QAction *item : form->Options1->actions())
        EXPECT_FALSE(item->isChecked()) << item->text().toStdString();
    EXPECT_EQ(form->PitchBar->Position(), 6);
    // The old voice is gone, and so is the file nothing was recorded into.
    EXPECT_EQ(form->Document.VoiceBytes, 0);
    EXPECT_EQ(form->Document.VoiceData, nullptr);
    EXPECT_EQ(form->Document.WorkData, nullptr);
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Glimmerbox - New File"));
    EXPECT_TRUE(TemporaryFiles().isEmpty()) << TemporaryFiles().join(' ').toStdString();
    EXPECT_EQ(form->Recorder.RecordStartTime, 0u);
}

TEST_F(NoServerRecording, ATemporaryFolderTooLongForTheFileNameLeavesTheRecorderWithoutOne)
{
    // The recorder's file name has room for 255 characters.
    const QString deep = temporary.path() + QLatin1Char('/') + QString(100, QLatin1Char('a')) + QLatin1Char('/') +
                         QString(100, QLatin1Char('b')) + QLatin1Char('/') + QString(60, QLatin1Char('c'));
    ASSERT_TRUE(QDir().mkpath(deep));
    setenv("TMPDIR", deep.toLocal8Bit().constData(), 1);
    ASSERT_EQ(QDir::tempPath(), deep);
    QTest::mouseClick(form->RecordButton, Qt::LeftButton, {}, QPoint(48, 26));
    ASSERT_EQ(messages.Shown.size(), 1u);
    EXPECT_EQ(messages.Shown[0].first, "Recording file not specified.");
    EXPECT_EQ(messages.Shown[0].second, "Recording Error");
    EXPECT_FALSE(form->Recorder.Recording);
    EXPECT_FALSE(form->RecordButton->Down());
    EXPECT_TRUE(QDir(deep).entryList(QDir::Files | QDir::Hidden).isEmpty());
}

} // namespace
