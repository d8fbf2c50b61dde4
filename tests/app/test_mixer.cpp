// SPDX-License-Identifier: GPL-3.0-or-later
// The volume sliders and the recording input against the private sound
// server: the sliders start at the server's volumes, moving one sets the
// server's volume (read back with pactl), changes made with pactl move the
// sliders, and the toggle steps through the server's inputs.
//
// Expected positions: a server volume s is the mixer volume
// Round(s * 65535 / 65536); a mixer volume v shows at 255 - Round(v * 255 / 65535).
// The volumes used are chosen well away from rounding halves:
//   13107 (20 %) -> 204,  26214 (40 %) -> 153,  39321 (60 %) -> 102,  52428 (80 %) -> 51.
#include "app/mfunit.h"
#include "controls/qmblsbtn.h"
#include "controls/qmbltbar.h"
#include "platform/tmmixlib.h"
#include "tests/app/apptest.h"
#include "tests/platform/soundtest.h"

#include <QLabel>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <map>
#include <memory>

namespace {

using soundtest::Pactl;
using soundtest::PactlOutput;

// The server's input devices (sources that are not monitors): description
// to name, as pactl lists them.
std::map<QString, std::string> ServerInputs()
{
    std::map<QString, std::string> inputs;
    const QString text = QString::fromStdString(PactlOutput("list sources"));
    const QRegularExpression entry(QStringLiteral("Name: (\\S+)\\s*\\n\\s*Description: ([^\\n]+)"));
    for (auto match = entry.globalMatch(text); match.hasNext();) {
        const auto found = match.next();
        if (!found.captured(1).endsWith(QStringLiteral(".monitor")))
            inputs[found.captured(2).trimmed()] = found.captured(1).toStdString();
    }
    return inputs;
}

// The raw server volume of the first channel, as pactl prints it.
long ServerVolume(const std::string &kind, const std::string &device)
{
    const QString text = QString::fromStdString(PactlOutput("get-" + kind + "-volume " + device));
    const QRegularExpression volume(QStringLiteral("Volume:\\s*[\\w-]+:\\s*(\\d+)"));
    const QRegularExpressionMatch match = volume.match(text);
    return match.hasMatch() ? match.captured(1).toLong() : -1;
}

bool ServerVolumeBecomes(const std::string &kind, const std::string &device, long expected)
{
    return ProcessEventsUntil([&] { return ServerVolume(kind, device) == expected; });
}

class Mixer : public ::testing::Test {
protected:
    void SetUp() override
    {
        TestApp();
        soundtest::ResetServer();
    }

    void Start()
    {
        ResetMixerGlobals();
        form = std::make_unique<TMainForm>();
        form->Timer->stop();
        MainForm = form.get();
        form->FormCreate();
        ASSERT_TRUE(messages.Shown.empty()) << messages.Shown.front().first;
        ASSERT_TRUE(MixerState.MixerReady);
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
        QApplication::setActiveWindow(form.get());
    }

    void TearDown() override
    {
        form.reset();
        MainForm = nullptr;
        soundtest::ResetServer();
    }

    // The server name of the input the label shows.
    std::string LabelledSource() const
    {
        const std::map<QString, std::string> inputs = ServerInputs();
        const auto found = inputs.find(form->RecSourceLabel->text());
        return found == inputs.end() ? std::string() : found->second;
    }

    RecordedMessages messages;
    std::unique_ptr<TMainForm> form;
};

TEST_F(Mixer, SlidersStartAtTheServersVolumes)
{
    ASSERT_EQ(Pactl("set-sink-volume glimmer_speaker 13107"), 0);
    ASSERT_EQ(Pactl("set-source-volume glimmer_mic 39321"), 0);
    ASSERT_EQ(Pactl("set-source-volume glimmer_line 39321"), 0);
    Start();
    EXPECT_EQ(form->SpeakerSlider->Position(), 204);
    EXPECT_EQ(form->MikeSlider->Position(), 102);
    EXPECT_FALSE(form->Document.Modified);
}

TEST_F(Mixer, RecordingStartsFromTheInputInUseAndTheServerIsLeftAsItWas)
{
    // Whether or not the input in use is named like a microphone.
    for (const char *source : {"glimmer_line", "glimmer_mic"}) {
        SCOPED_TRACE(source);
        ASSERT_TRUE(soundtest::SetDefaultSource(source));
        Start();
        const std::map<QString, std::string> inputs = ServerInputs();
        EXPECT_EQ(LabelledSource(), source);
        EXPECT_EQ(form->RecSourceLabel->toolTip(), form->RecSourceLabel->text());
        EXPECT_EQ(MixerState.InputSourceCount, static_cast<int32_t>(inputs.size()));
        EXPECT_GE(MixerState.InputSourceCount, 2);
        EXPECT_EQ(form->Recorder.InputSource, MixerState.InputSourceIndex);
        EXPECT_EQ(PactlOutput("get-default-source"), std::string(source) + "\n");
        EXPECT_EQ(PactlOutput("get-default-sink"), "glimmer_speaker\n");
        form.reset();
        MainForm = nullptr;
    }
}

TEST_F(Mixer, MovingThePlaySliderSetsTheServersPlayVolume)
{
    Start();
    form->SpeakerSlider->setFocus();
    QTest::keyClick(form->SpeakerSlider, Qt::Key_Home); // top: level 255, volume 65535, server 100 %
    EXPECT_EQ(form->SpeakerSlider->Position(), 0);
    EXPECT_TRUE(ServerVolumeBecomes("sink", "glimmer_speaker", 65536));

    QTest::keyClick(form->SpeakerSlider, Qt::Key_End); // bottom: silent
    EXPECT_EQ(form->SpeakerSlider->Position(), 255);
    EXPECT_TRUE(ServerVolumeBecomes("sink", "glimmer_speaker", 0));

    // One page up from the bottom: position 253, level 2, volume 2 * 257 = 514,
    // which is server volume 514 (514 * 65536 / 65535 = 514.008).
    QTest::keyClick(form->SpeakerSlider, Qt::Key_PageUp);
    EXPECT_EQ(form->SpeakerSlider->Position(), 253);
    EXPECT_TRUE(ServerVolumeBecomes("sink", "glimmer_speaker", 514));
}

TEST_F(Mixer, MovingTheRecordSliderSetsTheInputsVolume)
{
    Start();
    const std::string source = LabelledSource();
    ASSERT_FALSE(source.empty());
    form->MikeSlider->setFocus();
    QTest::keyClick(form->MikeSlider, Qt::Key_End);
    EXPECT_TRUE(ServerVolumeBecomes("source", source, 0));
    // 127 pages of 2 up from 255 reach 1: level 254, volume 65278, server
    // Round(65278 * 65536 / 65535) = 65279.
    for (int i = 0; i < 127; ++i)
        QTest::keyClick(form->MikeSlider, Qt::Key_PageUp);
    EXPECT_EQ(form->MikeSlider->Position(), 1);
    EXPECT_TRUE(ServerVolumeBecomes("source", source, 65279));
}

TEST_F(Mixer, OutsideVolumeChangesMoveTheSliders)
{
    Start();
    ASSERT_EQ(Pactl("set-sink-volume glimmer_speaker 52428"), 0);
    EXPECT_TRUE(ProcessEventsUntil([this] { return form->SpeakerSlider->Position() == 51; }))
        << form->SpeakerSlider->Position();

    const std::string source = LabelledSource();
    ASSERT_EQ(Pactl("set-source-volume " + source + " 26214"), 0);
    EXPECT_TRUE(ProcessEventsUntil([this] { return form->MikeSlider->Position() == 153; }))
        << form->MikeSlider->Position();
    EXPECT_FALSE(form->Document.Modified);
}

TEST_F(Mixer, AnotherProgramSwitchingTheInputIsFollowed)
{
    ASSERT_EQ(Pactl("set-source-volume glimmer_line 26214"), 0);
    ASSERT_EQ(Pactl("set-source-volume glimmer_mic 39321"), 0);
    ASSERT_TRUE(soundtest::SetDefaultSource("glimmer_mic"));
    Start();
    ASSERT_EQ(form->RecSourceLabel->text(), QStringLiteral("Glimmer-Mic"));
    ASSERT_EQ(form->MikeSlider->Position(), 102);

    ASSERT_EQ(Pactl("set-default-source glimmer_line"), 0);
    EXPECT_TRUE(ProcessEventsUntil([this] {
        return form->RecSourceLabel->text() == QStringLiteral("Glimmer-Line") && form->MikeSlider->Position() == 153;
    })) << form->RecSourceLabel->text().toStdString();
    EXPECT_EQ(form->Recorder.InputSource, MixerState.InputSourceIndex);
}

TEST_F(Mixer, ToggleStepsThroughTheInputsAndTheLabelFollows)
{
    Start();
    const int32_t count = static_cast<int32_t>(ServerInputs().size());
    ASSERT_EQ(MixerState.InputSourceCount, count);
    ASSERT_GE(count, 2);
    const int32_t first = MixerState.InputSourceIndex;
    const QString firstName = form->RecSourceLabel->text();

    QStringList seen{firstName};
    for (int32_t step = 1; step <= count; ++step) {
        QTest::mouseClick(form->RecSourceToggleButton, Qt::LeftButton, {}, QPoint(30, 20));
        EXPECT_EQ(MixerState.InputSourceIndex, (first + step) % count);
        EXPECT_EQ(form->Recorder.InputSource, MixerState.InputSourceIndex);
        EXPECT_FALSE(LabelledSource().empty()) << form->RecSourceLabel->text().toStdString();
        EXPECT_EQ(PactlOutput("get-default-source"), LabelledSource() + "\n") << "the server records from it";
        EXPECT_TRUE(form->RecSourceToggleButton->Down());
        form->TimerTimer();
        EXPECT_FALSE(form->RecSourceToggleButton->Down()) << "springs back on the next tick";
        if (step < count) {
            EXPECT_FALSE(seen.contains(form->RecSourceLabel->text())) << "each input once";
            seen << form->RecSourceLabel->text();
        }
    }
    EXPECT_EQ(MixerState.InputSourceIndex, first) << "after the last input comes the first";
    EXPECT_EQ(form->RecSourceLabel->text(), firstName);
}

TEST_F(Mixer, ToggleWithNoInputsChangesNothing)
{
    Start();
    const int32_t before = MixerState.InputSourceIndex;
    const QString name = form->RecSourceLabel->text();
    MixerState.InputSourceCount = 0;
    QTest::mouseClick(form->RecSourceToggleButton, Qt::LeftButton, {}, QPoint(30, 20));
    EXPECT_EQ(MixerState.InputSourceIndex, before);
    EXPECT_EQ(form->RecSourceLabel->text(), name);
}

TEST_F(Mixer, NoticesAreIgnoredUntilTheMixerIsReady)
{
    Start();
    const int before = form->SpeakerSlider->Position();
    ASSERT_EQ(before, 0);
    MixerState.MixerReady = false;
    ASSERT_EQ(Pactl("set-sink-volume glimmer_speaker 13107"), 0);
    // The library learns of it from the server's report, a moment later
    // (no event is handled meanwhile).
    ASSERT_TRUE(soundtest::Eventually([] {
        int32_t volumes[2] = {};
        return GetCurrentOutputVolSetting(2, volumes) == 0 && volumes[0] == 13107;
    }));
    form->MixerControlChange(MixerState.OutputVolumeControlID);
    EXPECT_EQ(form->SpeakerSlider->Position(), before);

    MixerState.MixerReady = true;
    form->MixerControlChange(MixerState.OutputVolumeControlID);
    EXPECT_EQ(form->SpeakerSlider->Position(), 204);
}

TEST_F(Mixer, NoticeOfAnUnknownControlChangesNothing)
{
    Start();
    ASSERT_EQ(Pactl("set-sink-volume glimmer_speaker 13107"), 0);
    // Wait (without handling any event) until the mixer library reads the
    // new volume; then a notice about a control the window does not know
    // must leave the slider, and one about the play volume must move it.
    bool libraryHasIt = false;
    for (int i = 0; i < 500 && !libraryHasIt; ++i) {
        int32_t volumes[2] = {0, 0};
        GetCurrentOutputVolSetting(2, volumes);
        libraryHasIt = volumes[0] == 13107;
        if (!libraryHasIt)
            QTest::qSleep(10);
    }
    ASSERT_TRUE(libraryHasIt);
    form->MixerControlChange(987654);
    EXPECT_EQ(form->SpeakerSlider->Position(), 0);
    form->MixerControlChange(MixerState.InputVolumeControlID);
    EXPECT_EQ(form->SpeakerSlider->Position(), 0);
    form->MixerControlChange(MixerState.OutputVolumeControlID);
    EXPECT_EQ(form->SpeakerSlider->Position(), 204);
}

} // namespace
