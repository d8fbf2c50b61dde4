// SPDX-License-Identifier: GPL-3.0-or-later
// Playback against the private sound server. What the window plays is
// recorded from the null sink's monitor and compared sample for sample: with
// effects, against what glimmerbox-fx writes for the same file and options.
// The timer is stopped in these tests and its ticks are run by hand, so that
// the steps of the end of a playback can be counted.
#include "app/aboutunit.h"
#include "app/mfunit.h"
#include "app/progressunit.h"
#include "app/startupunit.h"
#include "audio/wavefile.h"
#include "controls/qmblrbtn.h"
#include "controls/qmblsbtn.h"
#include "controls/qmbltbar.h"
#include "controls/qmblwpnl.h"
#include "tests/app/apptest.h"
#include "tests/app/mainwindowtest.h"
#include "tests/platform/soundtest.h"

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono;

// Never quieter than 1000, never the same value twice in a row: every
// sample of it can be found again in a recording.
std::vector<int16_t> Ramp(size_t count)
{
    std::vector<int16_t> clip(count);
    for (size_t i = 0; i < count; ++i)
        clip[i] = static_cast<int16_t>(1000 + (i * 7) % 20000);
    return clip;
}

// Something like a voice: a 220 Hz tone with a wobbling loudness and a
// little noise.
std::vector<int16_t> Voice(size_t count)
{
    std::vector<int16_t> clip(count);
    uint32_t noise = 12345;
    for (size_t i = 0; i < count; ++i) {
        noise = noise * 1103515245u + 12345u;
        const double t = static_cast<double>(i) / 22050;
        const double loudness = 0.3 + 0.7 * std::fabs(std::sin(2 * M_PI * 3 * t));
        clip[i] = static_cast<int16_t>(12000 * loudness * std::sin(2 * M_PI * 220 * t) +
                                       static_cast<int>((noise >> 16) % 600) - 300);
    }
    return clip;
}

class Playback : public ::testing::Test {
protected:
    void SetUp() override
    {
        TestApp();
        soundtest::ResetServer();
        ASSERT_TRUE(folder.isValid());
        StartMainWindow(form, TimerTicks::Stopped);
    }

    void TearDown() override
    {
        CloseMainWindow(form);
        AboutBox = nullptr;
    }

    std::string Path(const char *name) const { return folder.filePath(QString::fromLatin1(name)).toStdString(); }

    // Writes clip as a voice file and opens it as the File menu would.
    void OpenClip(const std::vector<int16_t> &clip)
    {
        const std::string name = Path("voice.wav");
        ASSERT_TRUE(WriteWaveFile(name, 22050, 16, 1, clip.data(), static_cast<uint32_t>(clip.size() * 2)));
        form->OpenVoiceFile(name);
        ASSERT_EQ(form->Document.VoiceBytes, static_cast<int32_t>(clip.size() * 2));
    }

    static void Click(QWidget *button)
    {
        QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(button->width() / 2, button->height() / 2));
    }

    // Waits for the last block's report, then ticks until the Play button is
    // up; answers the number of ticks that took.
    int TicksUntilPlayIsUp()
    {
        EXPECT_TRUE(ProcessEventsUntil([this] { return form->Player.PlayFinished; }));
        int ticks = 0;
        while (form->PlayButton->Down() && ticks < 10) {
            form->TimerTimer();
            QApplication::processEvents();
            ++ticks;
        }
        return ticks;
    }

    std::vector<int16_t> Played(soundtest::Capture &capture)
    {
        std::this_thread::sleep_for(milliseconds(300));
        return capture.Stop();
    }

    RecordedMessages messages;
    QTemporaryDir folder;
    std::unique_ptr<TMainForm> form;
};

// Finds clip in heard, lined up on the first sample above 500 in each.
void ExpectHeardExactly(const std::vector<int16_t> &heard, const std::vector<int16_t> &clip)
{
    const long clipStart = soundtest::FirstAbove(clip, 500);
    const long heardStart = soundtest::FirstAbove(heard, 500);
    ASSERT_GE(clipStart, 0);
    ASSERT_GE(heardStart, clipStart) << "nothing reached the output";
    const size_t offset = static_cast<size_t>(heardStart - clipStart);
    ASSERT_GE(heard.size(), offset + clip.size());
    for (size_t i = 0; i < clip.size(); ++i)
        ASSERT_EQ(heard[offset + i], clip[i]) << "at sample " << i;
    // And nothing after it.
    EXPECT_LE(soundtest::LastAbove(heard, 0), static_cast<long>(offset + clip.size()) - 1);
}

TEST_F(Playback, PlaysWhatTheEffectToolWritesForEchoAndPitchThree)
{
    const std::vector<int16_t> clip = Voice(22050);
    OpenClip(clip);
    Click(form->EchoButton);
    form->Document.Effects.PitchPosition = 3;
    form->ShowEffects();
    ASSERT_TRUE(form->EchoButton->Down());

    const std::string tool = std::string(std::getenv("GLIMMER_BUILD_DIR")) + "/glimmerbox-fx";
    const std::string command =
        tool + " --echo --pitch 3 '" + Path("voice.wav") + "' '" + Path("expected.wav") + "' 2>/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
    int32_t expectedBytes = 0;
    TEffectSettings ignored;
    const std::unique_ptr<int16_t[]> expectedData =
        ReadWaveFile(Path("expected.wav"), 22050, 16, 1, expectedBytes, ignored, messages);
    ASSERT_NE(expectedData, nullptr);
    const std::vector<int16_t> expected(expectedData.get(), expectedData.get() + expectedBytes / 2);
    ASSERT_NE(expected, clip) << "the effects changed nothing";

    soundtest::Capture capture("glimmer_speaker.monitor");
    ASSERT_TRUE(capture.WaitUntilRunning(seconds(5)));
    Click(form->PlayButton);
    ASSERT_TRUE(form->Player.Playing);
    EXPECT_TRUE(form->PlayButton->Down());
    EXPECT_EQ(form->Document.WorkBytes, expectedBytes);

    // The end as three ticks: the position is at the end and the device is
    // reset; the position is back at 0 and the device closes; Play goes up.
    ASSERT_TRUE(ProcessEventsUntil([this] { return form->Player.PlayFinished; }));
    form->TimerTimer();
    EXPECT_TRUE(form->Player.Playing);
    EXPECT_EQ(form->timeDisplay->text(), QStringLiteral(" POS: 00:01:00"));
    form->TimerTimer();
    EXPECT_FALSE(form->Player.Playing);
    EXPECT_EQ(form->Player.WaveOut, nullptr);
    EXPECT_TRUE(form->PlayButton->Down());
    form->TimerTimer();
    EXPECT_FALSE(form->PlayButton->Down());
    EXPECT_EQ(form->timeDisplay->text(), QStringLiteral(" POS: 00:01:00")) << "the voice's length";
    // The display is back on the unprocessed voice.
    EXPECT_EQ(form->WaveDisplay->SampleData(), form->Document.VoiceData.get());
    EXPECT_EQ(form->WaveDisplay->StartingPosition(), 0);

    ExpectHeardExactly(Played(capture), expected);
    EXPECT_TRUE(messages.Shown.empty()) << messages.Shown.front().first;
}

TEST_F(Playback, ClipsOfOneBlockAndOfABlockAndTwoBytesPlayWholeAndEnd)
{
    for (const int32_t bytes : {4000, 8096, 8098, 20000, 132300}) { // the last: three seconds
        SCOPED_TRACE(bytes);
        const std::vector<int16_t> clip = Ramp(static_cast<size_t>(bytes / 2));
        OpenClip(clip);
        soundtest::Capture capture("glimmer_speaker.monitor");
        ASSERT_TRUE(capture.WaitUntilRunning(seconds(5)));
        Click(form->PlayButton);
        ASSERT_TRUE(form->Player.Playing);
        // How the blocks are filled is the player's own (tests/engine).
        EXPECT_LE(TicksUntilPlayIsUp(), 3);
        EXPECT_FALSE(form->Player.Playing);
        ExpectHeardExactly(Played(capture), clip);
    }
}

TEST_F(Playback, SlowMonsterWinsOverFastSqueakerPlaysTwiceAsLongAndShowsClipTime)
{
    const std::vector<int16_t> clip = Ramp(11025); // half a second of voice
    OpenClip(clip);
    form->Document.Effects.SlowMonster = true; // both, as a file may hold them
    form->Document.Effects.FastSqueaker = true;
    form->ShowEffects();
    EXPECT_EQ(form->Document.PlaybackRate(), 11025u);

    soundtest::Capture capture("glimmer_speaker.monitor");
    ASSERT_TRUE(capture.WaitUntilRunning(seconds(5)));
    Click(form->PlayButton);
    ASSERT_TRUE(form->Player.Playing);
    ASSERT_TRUE(ProcessEventsUntil([this] { return form->Player.PlayFinished; }));
    // A second of sound has gone by; the display shows the half second of clip.
    form->TimerTimer();
    EXPECT_EQ(form->timeDisplay->text(), QStringLiteral(" POS: 00:00:50"));
    EXPECT_LE(TicksUntilPlayIsUp(), 2);

    // The server doubles every sample to reach the 22050 Hz sink: the sound
    // lasts about twice as many samples as the clip has.
    const std::vector<int16_t> heard = Played(capture);
    const long first = soundtest::FirstAbove(heard, 500);
    const long last = soundtest::LastAbove(heard, 500);
    ASSERT_GE(first, 0);
    EXPECT_NEAR(last - first, 2 * 11025, 300);
}

TEST_F(Playback, FastSqueakerAlonePlaysInHalfTheSamples)
{
    const std::vector<int16_t> clip = Ramp(22050);
    OpenClip(clip);
    Click(form->FastSqueakButton);
    EXPECT_EQ(form->Document.PlaybackRate(), 44100u);
    soundtest::Capture capture("glimmer_speaker.monitor");
    ASSERT_TRUE(capture.WaitUntilRunning(seconds(5)));
    Click(form->PlayButton);
    ASSERT_TRUE(form->Player.Playing);
    EXPECT_LE(TicksUntilPlayIsUp(), 3);
    const std::vector<int16_t> heard = Played(capture);
    const long first = soundtest::FirstAbove(heard, 500);
    const long last = soundtest::LastAbove(heard, 500);
    ASSERT_GE(first, 0);
    EXPECT_NEAR(last - first, 22050 / 2, 300);
}

TEST_F(Playback, PlayInTheMiddleStopsAndTheDisplayFollowsOneTickLateOnWholeSamples)
{
    const std::vector<int16_t> clip = Ramp(44100); // two seconds
    OpenClip(clip);
    soundtest::Capture capture("glimmer_speaker.monitor");
    ASSERT_TRUE(capture.WaitUntilRunning(seconds(5)));
    Click(form->PlayButton);
    ASSERT_TRUE(form->Player.Playing);

    int32_t before = form->Player.PlayViewPosition;
    for (int tick = 0; tick < 3; ++tick) {
        QTest::qWait(100);
        form->TimerTimer();
        ASSERT_TRUE(form->Player.Playing);
        EXPECT_EQ(form->WaveDisplay->StartingPosition(), before) << "tick " << tick;
        EXPECT_EQ(form->Player.PlayViewPosition % 2, 0);
        EXPECT_GE(form->Player.PlayViewPosition, before);
        before = form->Player.PlayViewPosition;
    }
    EXPECT_GT(before, 0);
    EXPECT_EQ(form->WaveDisplay->SampleData(), form->Document.WorkData.get());

    // The file commands wait until playback is over.
    const std::string title = form->windowTitle().toStdString();
    form->PresetFolder = std::getenv("GLIMMER_BUILD_DIR");
    Click(form->SF1Button);
    form->New1->trigger();
    ASSERT_EQ(messages.Shown.size(), 2u);
    EXPECT_EQ(messages.Shown[0].first, "Please Wait until playback is over");
    EXPECT_EQ(messages.Shown[1].first, "Please Wait until playback is over");
    EXPECT_EQ(form->windowTitle().toStdString(), title);
    EXPECT_EQ(form->Document.VoiceBytes, 88200);

    // Play again: silent at once; the next tick closes the device.
    Click(form->PlayButton);
    EXPECT_FALSE(form->PlayButton->Down());
    EXPECT_TRUE(form->Player.PlayFinished);
    form->TimerTimer();
    EXPECT_FALSE(form->Player.Playing);
    EXPECT_EQ(form->Player.WaveOut, nullptr);
    EXPECT_EQ(form->WaveDisplay->SampleData(), form->Document.VoiceData.get());
    EXPECT_EQ(form->WaveDisplay->StartingPosition(), 0);
    EXPECT_EQ(form->timeDisplay->text(), QStringLiteral(" POS: 00:02:00"));

    // What was heard is the start of the clip, and only that.
    const std::vector<int16_t> heard = Played(capture);
    const long first = soundtest::FirstAbove(heard, 500);
    const long last = soundtest::LastAbove(heard, 500);
    ASSERT_GE(first, 0);
    EXPECT_LT(last - first, 44100 - 4410) << "played on after the stop";
    for (long i = first; i <= last; ++i)
        ASSERT_EQ(heard[i], clip[i - first]) << "at sample " << i - first;

    // Played again after the stop, the clip is heard whole and ends.
    soundtest::Capture again("glimmer_speaker.monitor");
    ASSERT_TRUE(again.WaitUntilRunning(seconds(5)));
    Click(form->PlayButton);
    ASSERT_TRUE(form->Player.Playing);
    EXPECT_LE(TicksUntilPlayIsUp(), 3);
    EXPECT_FALSE(form->Player.Playing);
    ExpectHeardExactly(Played(again), clip);
}

TEST_F(Playback, ExitDuringPlaybackSilencesTheDeviceAndTheWindowsEndClosesIt)
{
    OpenClip(Ramp(44100));
    soundtest::Capture capture("glimmer_speaker.monitor");
    ASSERT_TRUE(capture.WaitUntilRunning(seconds(5)));
    Click(form->PlayButton);
    ASSERT_TRUE(form->Player.Playing);
    QTest::qWait(200);
    form->Exit1->trigger();
    EXPECT_FALSE(form->isVisible());
    form->FormDestroy();
    EXPECT_EQ(form->Player.WaveOut, nullptr);
    EXPECT_FALSE(form->Player.Playing);
    // Reports still queued for the old device change nothing.
    QApplication::processEvents();

    const std::vector<int16_t> heard = Played(capture);
    const long first = soundtest::FirstAbove(heard, 500);
    ASSERT_GE(first, 0);
    EXPECT_LT(soundtest::LastAbove(heard, 500) - first, 44100 - 4410);
}

TEST_F(Playback, StartupFileFromThePreferencesIsOpenedAndPlayed)
{
    QTemporaryDir settingsFolder;
    ASSERT_TRUE(settingsFolder.isValid());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsFolder.path());

    const std::vector<int16_t> clip = Ramp(4410);
    const std::string name = Path("hello.wav");
    ASSERT_TRUE(WriteWaveFile(name, 22050, 16, 1, clip.data(), static_cast<uint32_t>(clip.size() * 2)));
    TStartup preferences;
    preferences.FileName->setText(QString::fromStdString(name));
    preferences.PlaySoundAtStartup->setChecked(true);
    preferences.SavePreferences();

    soundtest::Capture capture("glimmer_speaker.monitor");
    ASSERT_TRUE(capture.WaitUntilRunning(seconds(5)));
    form->OpenStartupFile();
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Glimmerbox - hello.wav"));
    ASSERT_TRUE(form->Player.Playing);
    EXPECT_TRUE(form->PlayButton->Down());
    EXPECT_LE(TicksUntilPlayIsUp(), 3);
    ExpectHeardExactly(Played(capture), clip);
}

} // namespace
