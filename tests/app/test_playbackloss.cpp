// SPDX-License-Identifier: GPL-3.0-or-later
// The sound output going away while the window plays, against the private
// sound server: the stream killed, the output it plays on removed, and the
// server itself stopped and started again. The timer runs as in the program.
#include "app/aboutunit.h"
#include "app/mfunit.h"
#include "audio/wavefile.h"
#include "controls/qmblsbtn.h"
#include "tests/app/apptest.h"
#include "tests/app/mainwindowtest.h"
#include "tests/platform/soundtest.h"

#include <QLabel>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace std::chrono;

const std::string LostText = "Playback stopped: the sound output is no longer available.";

// Starts or stops the test's own server with the script that made it.
int ServerScript(const std::string &command)
{
    const std::string script = soundtest::OnPipeWire() ? "pipewire-server.sh" : "pulse-server.sh";
    const std::string line = "bash '" + std::string(std::getenv("GLIMMER_SOURCE_DIR")) + "/tests/" + script + "' " +
                             command + " '" + std::getenv("GLIMMER_PULSE_DIR") + "' >/dev/null 2>&1";
    return std::system(line.c_str());
}

class PlaybackLoss : public ::testing::Test {
protected:
    void SetUp() override
    {
        TestApp();
        soundtest::ResetServer();
        ASSERT_TRUE(folder.isValid());
        StartMainWindow(form, TimerTicks::Stopped);
        // Four seconds of a tone.
        std::vector<int16_t> clip(4 * 22050);
        for (size_t i = 0; i < clip.size(); ++i)
            clip[i] = static_cast<int16_t>(i % 50 < 25 ? 8000 : -8000);
        const std::string name = folder.filePath(QStringLiteral("voice.wav")).toStdString();
        ASSERT_TRUE(WriteWaveFile(name, 22050, 16, 1, clip.data(), static_cast<uint32_t>(clip.size() * 2)));
        form->OpenVoiceFile(name);
        ASSERT_EQ(form->Document.VoiceBytes, static_cast<int32_t>(clip.size() * 2));
    }

    void TearDown() override
    {
        CloseMainWindow(form);
        AboutBox = nullptr;
    }

    void Play()
    {
        QTest::mouseClick(form->PlayButton, Qt::LeftButton, {},
                          QPoint(form->PlayButton->width() / 2, form->PlayButton->height() / 2));
        ASSERT_TRUE(form->Player.Playing);
    }

    // Ticks as the timer would for up to `limit`, until Play is up.
    milliseconds TickUntilPlayIsUp(milliseconds limit)
    {
        const auto start = steady_clock::now();
        while (form->PlayButton->Down() && steady_clock::now() - start < limit) {
            QTest::qWait(100);
            form->TimerTimer();
        }
        return duration_cast<milliseconds>(steady_clock::now() - start);
    }

    // Plays for about a second, making sure the sound has started (by the
    // time display, unless told otherwise).
    void PlayASecond(bool displayMoves = true)
    {
        Play();
        for (int tick = 0; tick < 10; ++tick) {
            QTest::qWait(100);
            form->TimerTimer();
        }
        ASSERT_TRUE(form->Player.Playing);
        ASSERT_TRUE(form->PlayButton->Down());
        if (displayMoves) {
            ASSERT_NE(form->timeDisplay->text(), QStringLiteral(" POS: 00:00:00"));
        }
    }

    // The state a stop leaves, with the message said once.
    void ExpectStoppedWithTheMessage()
    {
        EXPECT_FALSE(form->Player.Playing);
        EXPECT_FALSE(form->PlayButton->Down());
        EXPECT_EQ(form->Player.WaveOut, nullptr);
        EXPECT_EQ(form->timeDisplay->text(), QStringLiteral(" POS: 00:04:00")) << "the voice's length";
        ASSERT_EQ(messages.Shown.size(), 1u);
        EXPECT_EQ(messages.Shown[0].first, LostText);
    }

    // A whole playback after the loss: it starts, ends, and says nothing.
    void ExpectThePlayAfterToWork()
    {
        messages.Shown.clear();
        Play();
        EXPECT_LT(TickUntilPlayIsUp(8s), 7s);
        EXPECT_FALSE(form->Player.Playing);
        EXPECT_TRUE(messages.Shown.empty()) << messages.Shown.front().first;
    }

    RecordedMessages messages;
    QTemporaryDir folder;
    std::unique_ptr<TMainForm> form;
};

TEST_F(PlaybackLoss, AKilledStreamStopsWithinASecondAndSaysSoOnce)
{
    PlayASecond();
    const std::string stream = soundtest::SpeakerStream();
    ASSERT_FALSE(stream.empty()) << soundtest::PactlOutput("list short sink-inputs");
    ASSERT_TRUE(soundtest::KillSinkInput(static_cast<uint32_t>(std::stoul(stream))));
    EXPECT_LT(TickUntilPlayIsUp(3s), 1100ms);
    ExpectStoppedWithTheMessage();
    ExpectThePlayAfterToWork();
}

TEST_F(PlaybackLoss, AnOutputRemovedWhilePlayingHandsTheSoundToTheNextOne)
{
    // A second output, made the default, that goes away while it plays: the
    // server moves the stream to the speaker and the playback ends as usual.
    const std::string module = soundtest::PactlOutput("load-module module-null-sink sink_name=glimmer_usb rate=22050 "
                                                      "channels=1 sink_properties=device.description=USB");
    ASSERT_FALSE(module.empty());
    ASSERT_TRUE(soundtest::WaitUntilListed("sinks", "glimmer_usb"));
    ASSERT_EQ(soundtest::Pactl("set-default-sink glimmer_usb"), 0);
    soundtest::Capture capture("glimmer_speaker.monitor");
    ASSERT_TRUE(capture.WaitUntilRunning(seconds(5)));
    // A null sink made this way holds a long buffer: its position may lag.
    PlayASecond(false);
    ASSERT_EQ(soundtest::Pactl("unload-module " + module), 0);
    ASSERT_EQ(soundtest::Pactl("set-default-sink glimmer_speaker"), 0);
    EXPECT_LT(TickUntilPlayIsUp(8s), 7s);
    EXPECT_FALSE(form->Player.Playing);
    EXPECT_TRUE(messages.Shown.empty()) << messages.Shown.front().first;
    // The rest of the tone reached the speaker.
    const std::vector<int16_t> heard = capture.Stop();
    const long first = soundtest::FirstAbove(heard, 4000);
    const long last = soundtest::LastAbove(heard, 4000);
    ASSERT_GE(first, 0) << "nothing reached the speaker";
    EXPECT_GT(last - first, 22050);
}

TEST_F(PlaybackLoss, AServerThatStopsEndsThePlaybackAndTheNextPlayWorksOnceItIsBack)
{
    PlayASecond();
    ASSERT_EQ(ServerScript("stop"), 0);
    EXPECT_LT(TickUntilPlayIsUp(3s), 1100ms);
    ExpectStoppedWithTheMessage();

    ASSERT_EQ(ServerScript("start"), 0);
    soundtest::ResetServer();
    ExpectThePlayAfterToWork();
}

} // namespace
