// SPDX-License-Identifier: GPL-3.0-or-later
// Recording against the private sound server, driven by clicks on the
// Record button. The window starts on the input in use, here the microphone
// (made the server's default input before the window opens), "Glimmer-Mic",
// a live 440 Hz sine; "Glimmer-Line" is a 1000 Hz one, both at half of full
// scale, so what was recorded, and from where, shows in its frequency. The system's temporary folder is a private one
// in each test, so that the recorder's file can be seen to come and go.
#include "app/mfunit.h"
#include "app/progressunit.h"
#include "audio/wavefile.h"
#include "controls/qmblrbtn.h"
#include "controls/qmblsbtn.h"
#include "controls/qmbltbar.h"
#include "controls/qmblvled.h"
#include "controls/qmblwpnl.h"
#include "platform/sqwaveplayer.h"
#include "tests/app/apptest.h"
#include "tests/app/mainwindowtest.h"
#include "tests/fulldisk.h"
#include "tests/platform/soundtest.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace {

using namespace std::chrono;

// The caption for a number of milliseconds, written out independently of
// the program's own formatting.
std::string Caption(long ms)
{
    char text[40];
    std::snprintf(text, sizeof text, " POS: %02ld:%02ld:%02ld", ms / 60000, ms % 60000 / 1000, ms % 1000 / 10);
    return text;
}

// Every caption the recording time can show in its first seconds: it moves
// in steps of 1/32 s, each shown as Round(k * 31.25) ms, halves to even.
std::set<std::string> RecordingCaptions(int seconds)
{
    std::set<std::string> captions;
    for (int k = 0; k <= 32 * seconds; ++k)
        captions.insert(Caption(std::lrint(std::nearbyint(k * 31.25))));
    return captions;
}

// True when progress is level * 0.01 for a whole level 0..100.
bool IsWholeLevel(float progress)
{
    for (int level = 0; level <= 100; ++level)
        if (progress == static_cast<float>(level * 0.01))
            return true;
    return false;
}

bool HasMessage(const RecordedMessages &messages, const std::string &text)
{
    for (const auto &shown : messages.Shown)
        if (shown.first == text)
            return true;
    return false;
}

class Recording : public ::testing::Test {
protected:
    void SetUp() override
    {
        TestApp();
        soundtest::ResetServer();
        ASSERT_TRUE(soundtest::SetDefaultSource("glimmer_mic"));
        ASSERT_TRUE(folder.isValid());
        ASSERT_TRUE(temporary.isValid());
        temporaryFolder.PointAt(temporary.path().toStdString());
        ASSERT_EQ(QDir::tempPath(), temporary.path());

        StartMainWindow(form, TimerTicks::Running);
    }

    void TearDown() override
    {
        CloseMainWindow(form);
        AudioStopRecord();
        temporaryFolder.Restore();
    }

    static void Click(QWidget *button)
    {
        QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(button->width() / 2, button->height() / 2));
    }

    QStringList TemporaryFiles() const
    {
        return QDir(temporary.path()).entryList(QDir::Files | QDir::Hidden | QDir::System);
    }

    // What the window showed while recording.
    struct Seen {
        double Seconds = 0;             // from the click that started to the one that stopped
        float HighestLevel = 0;         // highest VolLED progress
        bool LevelsWhole = true;        // every progress was a whole level * 0.01
        std::vector<std::string> Times; // the time display, each change
    };

    // Clicks Record, lets the window's timer run for about seconds, clicks
    // Record again.
    Seen RecordFor(double seconds)
    {
        Seen seen;
        Click(form->RecordButton);
        EXPECT_TRUE(form->Recorder.Recording);
        EXPECT_TRUE(form->RecordButton->Down());
        const auto start = steady_clock::now();
        while (duration<double>(steady_clock::now() - start).count() < seconds) {
            QApplication::processEvents(QEventLoop::AllEvents, 10);
            const float progress = form->VolLED->Progress();
            seen.HighestLevel = std::max(seen.HighestLevel, progress);
            seen.LevelsWhole = seen.LevelsWhole && IsWholeLevel(progress);
            const std::string time = form->timeDisplay->text().toStdString();
            if (seen.Times.empty() || seen.Times.back() != time)
                seen.Times.push_back(time);
        }
        Click(form->RecordButton);
        seen.Seconds = duration<double>(steady_clock::now() - start).count();
        return seen;
    }

    std::vector<int16_t> Voice() const
    {
        return std::vector<int16_t>(form->Document.VoiceData.get(),
                                    form->Document.VoiceData.get() + form->Document.VoiceBytes / 2);
    }

    // A take cut short at about 32 KiB: what fitted is the voice, all of it
    // the microphone's 440 Hz, and it can be saved.
    void ExpectWhatFittedIsTheVoice() const
    {
        EXPECT_GT(form->Document.VoiceBytes, 16 * 1024);
        EXPECT_LE(form->Document.VoiceBytes, 32 * 1024);
        const std::vector<int16_t> voice = Voice();
        EXPECT_NEAR(soundtest::Frequency(voice, 2205, voice.size() - 2205, 22050), 440, 5);
        EXPECT_TRUE(form->Save1->isEnabled());
    }

    RecordedMessages messages;
    QTemporaryDir folder;
    QTemporaryDir temporary;
    ScopedTemporaryFolder temporaryFolder;
    std::unique_ptr<TMainForm> form;
};

TEST_F(Recording, ASecondFromTheMicrophoneBecomesTheNewVoice)
{
    ASSERT_EQ(form->RecSourceLabel->text(), QStringLiteral("Glimmer-Mic"));
    const Seen seen = RecordFor(1.0);

    EXPECT_TRUE(messages.Shown.empty());
    EXPECT_FALSE(form->Recorder.Recording);
    EXPECT_FALSE(form->RecordButton->Down());
    // As long as the button was down, give or take the server's latency
    // (and less the start a PipeWire server loses).
    const double loss = soundtest::RecordingStartLoss();
    EXPECT_NEAR(form->Document.VoiceBytes, (seen.Seconds - loss / 2) * 44100, (0.15 + loss / 2) * 44100);
    ASSERT_GT(form->Document.VoiceBytes, 22050);
    EXPECT_EQ(form->Document.VoiceBytes % 2, 0);
    // The microphone's 440 Hz sine, past the first tenth of a second.
    const std::vector<int16_t> voice = Voice();
    EXPECT_NEAR(soundtest::Frequency(voice, 2205, voice.size() - 2205, 22050), 440, 5);
    // The working copy is the voice itself.
    ASSERT_NE(form->Document.WorkData, nullptr);
    EXPECT_EQ(form->Document.WorkCapacity, form->Document.VoiceBytes);
    EXPECT_EQ(std::memcmp(form->Document.WorkData.get(), form->Document.VoiceData.get(), form->Document.VoiceBytes), 0);
    EXPECT_EQ(form->WaveDisplay->SampleData(), form->Document.VoiceData.get());
    EXPECT_EQ(form->WaveDisplay->StartingPosition(), 0);

    EXPECT_TRUE(form->Document.Modified);
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Glimmerbox - New File"));
    EXPECT_TRUE(form->Save1->isEnabled());
    EXPECT_TRUE(form->SaveAs1->isEnabled());
    EXPECT_TRUE(form->Export1->menuAction()->isEnabled());
    EXPECT_EQ(form->timeDisplay->text().toStdString(), Caption(std::lrint(form->Document.VoiceBytes * 1000.0 / 44100)));
    EXPECT_EQ(form->Recorder.RecordStartTime, 0u);
    EXPECT_EQ(form->VolLED->Progress(), 0.0f);
    EXPECT_TRUE(TemporaryFiles().isEmpty()) << TemporaryFiles().join(' ').toStdString();

    // While it ran: the meter showed the sine's level in steps of 0.01, and
    // the time display counted up in steps of 1/32 s to about a second.
    EXPECT_GT(seen.HighestLevel, 0.3f);
    EXPECT_LE(seen.HighestLevel, 1.0f);
    EXPECT_TRUE(seen.LevelsWhole);
    // Until the first tick, the display reads as the cleared voice left it.
    std::vector<std::string> times = seen.Times;
    if (!times.empty() && times.front() == " POS: 00:00:00 ")
        times.erase(times.begin());
    const std::set<std::string> possible = RecordingCaptions(3);
    ASSERT_GE(times.size(), 5u);
    for (const std::string &time : times)
        EXPECT_TRUE(possible.count(time) == 1) << time;
    for (size_t i = 1; i < times.size(); ++i)
        EXPECT_LT(times[i - 1], times[i]) << "the time went back";
    EXPECT_GE(times.back(), std::string(" POS: 00:00:80"));
    EXPECT_LE(times.back(), std::string(" POS: 00:01:20"));
}

TEST_F(Recording, StartingPutsEveryEffectAndThePitchToRest)
{
    TQMBL_SawToothButton *buttons[] = {form->EchoButton,       form->ChorusButton,     form->FlangeButton,
                                       form->FadeInButton,     form->fadeOutButton,    form->BassOnlyButton,
                                       form->RobotvoiceButton, form->BackwardButton,   form->SlowMonstButton,
                                       form->FastSqueakButton, form->TrebleOnlyButton, form->SweepUpButton,
                                       form->SweepDownButton};
    form->Document.Effects = EveryEffectOn();
    form->Document.Effects.PitchPosition = 2;
    form->TimerTimer(); // the controls follow
    ASSERT_TRUE(form->Echo1->isChecked());

    Click(form->RecordButton);
    ASSERT_TRUE(form->Recorder.Recording);
    for (TQMBL_SawToothButton *button : buttons)
        EXPECT_FALSE(button->Down());
    for (QAction *item : form->Options1->actions())
        EXPECT_FALSE(item->isChecked()) << item->text().toStdString();
    EXPECT_EQ(form->PitchBar->Position(), 6);
    Click(form->RecordButton);
    EXPECT_FALSE(form->Recorder.Recording);
}

TEST_F(Recording, RecordWhilePlayingStartsNothingAndTheButtonComesUpOnTheNextTick)
{
    form->Timer->stop();
    const std::vector<int16_t> clip(44100, 3000);
    const std::string name = folder.filePath(QStringLiteral("voice.wav")).toStdString();
    ASSERT_TRUE(WriteWaveFile(name, 22050, 16, 1, clip.data(), static_cast<uint32_t>(clip.size() * 2)));
    form->OpenVoiceFile(name);
    form->Document.Effects.Echo = true;
    form->ShowEffects();
    Click(form->PlayButton);
    ASSERT_TRUE(form->Player.Playing);

    Click(form->RecordButton);
    EXPECT_FALSE(form->Recorder.Recording);
    EXPECT_TRUE(form->RecordButton->Down());
    EXPECT_EQ(form->Document.VoiceBytes, 88200) << "the voice is kept";
    EXPECT_TRUE(form->EchoButton->Down()) << "the effects are kept";
    EXPECT_TRUE(TemporaryFiles().isEmpty());
    form->TimerTimer();
    EXPECT_FALSE(form->RecordButton->Down());
    EXPECT_TRUE(messages.Shown.empty());

    Click(form->PlayButton);
    form->TimerTimer();
    EXPECT_FALSE(form->Player.Playing);
}

TEST_F(Recording, PlayAndTheFileCommandsWaitWhileRecording)
{
    form->Timer->stop();
    Click(form->RecordButton);
    ASSERT_TRUE(form->Recorder.Recording);

    Click(form->PlayButton);
    EXPECT_FALSE(form->Player.Playing);
    EXPECT_FALSE(form->PlayButton->Down());
    EXPECT_TRUE(messages.Shown.empty());

    form->New1->trigger();
    form->Open1->trigger();
    Click(form->SF1Button);
    ASSERT_EQ(messages.Shown.size(), 3u);
    for (const auto &shown : messages.Shown) {
        EXPECT_EQ(shown.first, "Please Wait until recording is over");
        EXPECT_EQ(shown.second, "Tamblor Glimmerbox");
    }
    EXPECT_TRUE(form->Recorder.Recording);

    QTest::qWait(300);
    form->TimerTimer();
    EXPECT_TRUE(form->Recorder.Recording) << "the tick leaves a recording alone while the button is down";
    Click(form->RecordButton);
    EXPECT_FALSE(form->Recorder.Recording);
    EXPECT_GT(form->Document.VoiceBytes, 0);
}

TEST_F(Recording, ATickStopsARecordingWhoseButtonWasPutUp)
{
    form->Timer->stop();
    Click(form->RecordButton);
    ASSERT_TRUE(form->Recorder.Recording);
    QTest::qWait(300);
    // The button up without its click: the tick does the stop, and the Save
    // items follow the voice that is now in memory.
    form->RecordButton->SetDown(false);
    form->TimerTimer();
    EXPECT_FALSE(form->Recorder.Recording);
    EXPECT_GT(form->Document.VoiceBytes, 0);
    EXPECT_TRUE(form->Document.Modified);
    EXPECT_TRUE(form->Save1->isEnabled());
    EXPECT_TRUE(form->SaveAs1->isEnabled());
    EXPECT_TRUE(form->Export1->menuAction()->isEnabled());
    EXPECT_TRUE(TemporaryFiles().isEmpty());
}

TEST_F(Recording, ASecondRecordingFromTheLineReplacesTheFirstOnceTheFirstIsDiscarded)
{
    std::vector<std::string> questions;
    const SaveQuestionAnswerer before = SetSaveQuestionAnswerer([&questions](const std::string &text, QWidget *) {
        questions.push_back(text);
        return TSaveAnswer::Discard;
    });
    RecordFor(0.4);
    const int32_t first = form->Document.VoiceBytes;
    ASSERT_GT(first, 0);
    // The input button steps on to the line input.
    for (int clicks = 0;
         clicks < MixerState.InputSourceCount && form->RecSourceLabel->text() != QStringLiteral("Glimmer-Line");
         ++clicks) {
        Click(form->RecSourceToggleButton);
        form->TimerTimer();
    }
    ASSERT_EQ(form->RecSourceLabel->text(), QStringLiteral("Glimmer-Line"));

    const Seen second = RecordFor(1.2);
    SetSaveQuestionAnswerer(before);
    // The first recording was never saved: the second asks before it starts.
    EXPECT_EQ(questions, std::vector<std::string>{"The recording has not been saved. Save it first?"});
    EXPECT_TRUE(messages.Shown.empty());
    // (Less what a PipeWire server loses at the start, as for the first take.)
    const double loss = soundtest::RecordingStartLoss();
    EXPECT_NEAR(form->Document.VoiceBytes, (second.Seconds - loss / 2) * 44100, (0.15 + loss / 2) * 44100);
    EXPECT_GT(form->Document.VoiceBytes, first + 0.5 * 44100);
    const std::vector<int16_t> voice = Voice();
    EXPECT_NEAR(soundtest::Frequency(voice, 2205, voice.size() - 2205, 22050), 1000, 5);
    EXPECT_EQ(form->Document.WorkCapacity, form->Document.VoiceBytes);
    EXPECT_TRUE(TemporaryFiles().isEmpty());
}

TEST_F(Recording, ClosingTheWindowStopsTheRecorderAndLoadsNothing)
{
    Click(form->RecordButton);
    ASSERT_TRUE(form->Recorder.Recording);
    ASSERT_EQ(TemporaryFiles().size(), 1);
    QTest::qWait(200);
    delete ProgressForm;
    ProgressForm = nullptr;
    form.reset();
    MainForm = nullptr;

    EXPECT_TRUE(TemporaryFiles().isEmpty());
    // The recorder is free again.
    const std::string name = folder.filePath(QStringLiteral("after.wav")).toStdString();
    EXPECT_EQ(AudioStartRecord(name.c_str(), 22050, 16, 1, 0), 0);
    EXPECT_EQ(AudioStopRecord(), 0);
}

TEST_F(Recording, AStrayUntitledWavInTheWorkingFolderDoesNotHoldUpTheTake)
{
    // The recorder never writes "UNTITLED.WAV": a file of that name in the
    // working folder is someone else's, and the take loads at once.
    char before[4096];
    ASSERT_NE(getcwd(before, sizeof before), nullptr);
    ASSERT_EQ(chdir(folder.path().toLocal8Bit().constData()), 0);
    FILE *stray = std::fopen("UNTITLED.WAV", "wb");
    ASSERT_NE(stray, nullptr);
    std::fclose(stray);

    form->Timer->stop();
    Click(form->RecordButton);
    ASSERT_TRUE(form->Recorder.Recording);
    QTest::qWait(400);
    const auto start = steady_clock::now();
    Click(form->RecordButton);
    const double waited = duration<double>(steady_clock::now() - start).count();
    ASSERT_EQ(chdir(before), 0);

    EXPECT_LT(waited, 5.0);
    EXPECT_TRUE(messages.Shown.empty());
    EXPECT_FALSE(form->Recorder.Recording);
    EXPECT_GT(form->Document.VoiceBytes, 0.2 * 44100);
    EXPECT_TRUE(form->Save1->isEnabled());
    EXPECT_TRUE(TemporaryFiles().isEmpty());
    EXPECT_TRUE(QFile::exists(folder.filePath(QStringLiteral("UNTITLED.WAV")))) << "not ours to remove";
}

TEST_F(Recording, ATakeThatCannotBeLoadedIsKeptAndItsFileNamed)
{
    form->Timer->stop();
    form->Echo1->trigger(); // a voice and an effect from before the take
    Click(form->RecordButton);
    ASSERT_TRUE(form->Recorder.Recording);
    const std::string recordFile = form->Recorder.RecordFileName.data();
    ASSERT_FALSE(recordFile.empty());
    QTest::qWait(300);
    // The name now leads to something the reader turns away; the recorder
    // goes on writing the file it opened.
    ASSERT_EQ(std::remove(recordFile.c_str()), 0);
    FILE *other = std::fopen(recordFile.c_str(), "wb");
    ASSERT_NE(other, nullptr);
    std::fputs("not a wave file", other);
    std::fclose(other);
    Click(form->RecordButton);

    ASSERT_EQ(messages.Shown.size(), 2u);
    EXPECT_EQ(messages.Shown[0].first, "Incompatible file format of: " + recordFile);
    EXPECT_EQ(messages.Shown[1].first,
              "Create final buffer failed. The recording is kept in the file " + recordFile + ".");
    EXPECT_FALSE(form->Recorder.Recording);
    EXPECT_EQ(form->Document.VoiceBytes, 0);
    EXPECT_EQ(form->Document.VoiceData, nullptr);
    EXPECT_EQ(form->Document.WorkData, nullptr);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr) << "the wait cursor is taken away again";
    EXPECT_TRUE(QFile::exists(QString::fromStdString(recordFile))) << "the file is kept";
    EXPECT_EQ(form->VolLED->Progress(), 0.0f);
    // Nothing to save: the menus say so.
    EXPECT_FALSE(form->Save1->isEnabled());
    EXPECT_FALSE(form->SaveAs1->isEnabled());
    EXPECT_FALSE(form->Export1->menuAction()->isEnabled());

    // Nothing half-loaded is played.
    Click(form->PlayButton);
    EXPECT_FALSE(form->Player.Playing);
    EXPECT_TRUE(
        HasMessage(messages, "There is no voice in memory, either record a voice or load one from a file on disk."));
    // The next take does not touch the kept file.
    RecordFor(0.3);
    EXPECT_TRUE(QFile::exists(QString::fromStdString(recordFile)));
    std::remove(recordFile.c_str());
}

TEST_F(Recording, ATakeOntoAFullDiskKeepsWhatFittedAndSaysSo)
{
    fulldisk::SmallDisk disk;
    if (!disk.Mounted())
        GTEST_SKIP() << "no tmpfs can be mounted here";
    // Room for a little under a second of voice (44100 bytes a second).
    ASSERT_TRUE(disk.FillLeaving(32 * 1024));
    temporaryFolder.PointAt(disk.Folder());
    ASSERT_EQ(QDir::tempPath().toStdString(), disk.Folder());

    const Seen seen = RecordFor(2.5);
    ASSERT_GE(seen.Seconds, 2.5);
    EXPECT_FALSE(form->Recorder.Recording);
    ASSERT_EQ(messages.Shown.size(), 1u);
    EXPECT_EQ(messages.Shown[0].first, "The disk of the temporary folder " + disk.Folder() +
                                           " is full: the recording stopped when it ran out of room. What fitted "
                                           "is kept as the voice.");
    // What fitted: about the room that was left.
    ExpectWhatFittedIsTheVoice();
    // The take's file is gone again; only the filler is left.
    EXPECT_EQ(QDir(QString::fromStdString(disk.Folder())).entryList(QDir::Files | QDir::Hidden),
              QStringList{QStringLiteral("filler")});
    temporaryFolder.PointAt(temporary.path().toStdString());
}

TEST_F(Recording, ATakeWhoseFileMayGrowNoFurtherKeepsWhatFittedAndSaysSo)
{
    // The file-size limit (ulimit -f) stops the take's file at about 32 KiB
    // while the disk itself has room.
    const Seen seen = [this] {
        fulldisk::FileSizeLimit limit(32 * 1024);
        return RecordFor(2.5);
    }();
    ASSERT_GE(seen.Seconds, 2.5);
    EXPECT_FALSE(form->Recorder.Recording);
    EXPECT_FALSE(form->RecordButton->Down());
    ASSERT_EQ(messages.Shown.size(), 1u);
    EXPECT_EQ(messages.Shown[0].first, "The recording's file in the temporary folder " +
                                           temporary.path().toStdString() +
                                           " reached the largest size allowed: the recording stopped there. What "
                                           "fitted is kept as the voice.");
    ExpectWhatFittedIsTheVoice();
    EXPECT_TRUE(TemporaryFiles().isEmpty()) << TemporaryFiles().join(' ').toStdString();

    // The next take, with room, says nothing.
    messages.Shown.clear();
    const SaveQuestionAnswerer before =
        SetSaveQuestionAnswerer([](const std::string &, QWidget *) { return TSaveAnswer::Discard; });
    RecordFor(0.5);
    SetSaveQuestionAnswerer(before);
    EXPECT_TRUE(messages.Shown.empty()) << messages.Shown.front().first;
    EXPECT_GT(form->Document.VoiceBytes, 0);
}

TEST_F(Recording, RecorderErrorsShowTheirOwnTextAndCaption)
{
    const struct {
        int16_t Code;
        const char *Caption;
        const char *Text;
    } cases[] = {
        {201, "Recording Error ",
         "Your device is unable to record at the rate or mode you have selected.  Please check your manual."},
        {202, "Recording Error",
         "Unable to allocate sufficient memory for record operation.  Please exit from other applications and try "
         "again.\")"},
        {203, "Recording Error",
         "Unable to open file for temporary storage of record data.  Please exit from other applications and try "
         "again."},
        {204, "Recording Error", "Your device is unavailable or unable to record .  Please check your installation."},
        {205, "Recording Error", "Unable to start recording."},
        {206, "Recording Error", "Recording already in progress."},
        {207, "Recording Error", "Recording file not specified."},
    };
    for (const auto &c : cases) {
        messages.Shown.clear();
        form->ShowRecordError(c.Code);
        ASSERT_EQ(messages.Shown.size(), 1u) << c.Code;
        EXPECT_EQ(messages.Shown[0].first, c.Text) << c.Code;
        EXPECT_EQ(messages.Shown[0].second, c.Caption) << c.Code;
    }
    messages.Shown.clear();
    for (int16_t code : {0, 1, 200, 208, -201})
        form->ShowRecordError(code);
    EXPECT_TRUE(messages.Shown.empty());
}

TEST_F(Recording, ASoundServerThatGoesAwayEndsTheRecordingWhichIsKeptWithOneMessage)
{
    ASSERT_EQ(form->RecSourceLabel->text(), QStringLiteral("Glimmer-Mic"));
    Click(form->RecordButton);
    ASSERT_TRUE(form->Recorder.Recording);
    ProcessEventsUntil([] { return false; }, 800);
    ASSERT_TRUE(soundtest::RestartServer());
    EXPECT_TRUE(ProcessEventsUntil([this] { return !form->Recorder.Recording; }));

    EXPECT_FALSE(form->RecordButton->Down());
    ASSERT_EQ(messages.Shown.size(), 1u);
    EXPECT_EQ(messages.Shown[0].first, "Recording stopped: the sound input is no longer available.");
    // What came before the loss is the new voice: the microphone's sine.
    ASSERT_GT(form->Document.VoiceBytes, static_cast<int32_t>(0.6 * 44100));
    const std::vector<int16_t> voice = Voice();
    EXPECT_NEAR(soundtest::Frequency(voice, 2205, voice.size() - 2205, 22050), 440, 5);
    EXPECT_TRUE(form->Save1->isEnabled());
    EXPECT_TRUE(TemporaryFiles().isEmpty()) << TemporaryFiles().join(' ').toStdString();
    ProcessEventsUntil([] { return false; }, 300);
    EXPECT_EQ(messages.Shown.size(), 1u) << "said once";
}

} // namespace
