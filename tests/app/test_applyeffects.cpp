// SPDX-License-Identifier: GPL-3.0-or-later
// ApplyEffects as the main window runs it: the selection read from the
// controls, the progress window shown only when something is processed, the
// result handed to the waveform display and, with a file name, written at
// the rate that Slow Monster or Fast Squeaker choose.
#include "app/mfunit.h"
#include "app/progressunit.h"
#include "controls/qmblsbtn.h"
#include "controls/qmbltbar.h"
#include "controls/qmblwpnl.h"
#include "tests/app/apptest.h"

#include <QEvent>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace {

class VisibilityLog : public QObject {
public:
    explicit VisibilityLog(QWidget *widget) { widget->installEventFilter(this); }
    int Shows = 0;
    int Hides = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        Shows += event->type() == QEvent::Show;
        Hides += event->type() == QEvent::Hide;
        return false;
    }
};

uint32_t LE32(const QByteArray &bytes, int at)
{
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = (value << 8) | static_cast<uint8_t>(bytes[at + i]);
    return value;
}

class ApplyEffectsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        TestApp();
        form = std::make_unique<TMainForm>();
        form->Timer->stop();
        ProgressForm = new TProgressForm(form.get());
        ProgressForm->FormCreate();

        // A ramp of 1000 samples, voice and working copy as a file open leaves them.
        voice.resize(1000);
        for (size_t i = 0; i < voice.size(); ++i)
            voice[i] = static_cast<int16_t>(i * 30 - 15000);
        form->Document.VoiceBytes = static_cast<int32_t>(voice.size() * 2);
        form->Document.VoiceData = std::make_unique<int16_t[]>(voice.size());
        std::memcpy(form->Document.VoiceData.get(), voice.data(), voice.size() * 2);
        form->Document.WorkCapacity = form->Document.VoiceBytes;
        form->Document.WorkData = std::make_unique<int16_t[]>(voice.size());
        std::memcpy(form->Document.WorkData.get(), voice.data(), voice.size() * 2);
    }

    void TearDown() override
    {
        delete ProgressForm;
        ProgressForm = nullptr;
        form.reset();
    }

    std::vector<int16_t> Work() const
    {
        return std::vector<int16_t>(form->Document.WorkData.get(),
                                    form->Document.WorkData.get() + form->Document.WorkBytes / 2);
    }

    std::vector<int16_t> voice;
    std::unique_ptr<TMainForm> form;
};

TEST_F(ApplyEffectsTest, NothingSelectedPlaysTheVoiceAsItIsWithoutTheProgressWindow)
{
    VisibilityLog progress(ProgressForm);
    form->ApplyEffects("");
    EXPECT_EQ(progress.Shows, 0);
    EXPECT_EQ(form->Document.WorkBytes, form->Document.VoiceBytes);
    EXPECT_EQ(Work(), voice);
    EXPECT_FALSE(form->Document.WorkAltered);
    EXPECT_EQ(form->WaveDisplay->SampleData(), form->Document.WorkData.get());
    EXPECT_EQ(form->WaveDisplay->SampleBytes(), form->Document.WorkBytes);
}

TEST_F(ApplyEffectsTest, BackwardReversesTheClipWhileTheProgressWindowShows)
{
    VisibilityLog progress(ProgressForm);
    form->Document.Effects.Backward = true;
    form->ApplyEffects("");
    EXPECT_EQ(progress.Shows, 1);
    EXPECT_EQ(progress.Hides, 1);
    EXPECT_FALSE(ProgressForm->isVisible());
    EXPECT_EQ(form->Document.Processed.ProgressStep, 120);
    std::vector<int16_t> reversed(voice.rbegin(), voice.rend());
    EXPECT_EQ(Work(), reversed);
    EXPECT_TRUE(form->Document.WorkAltered);
    EXPECT_EQ(form->WaveDisplay->SampleData(), form->Document.WorkData.get());
    EXPECT_EQ(form->WaveDisplay->StartingPosition(), 0);

    // The next run starts again from the voice: reversed once, not twice.
    form->ApplyEffects("");
    EXPECT_EQ(Work(), reversed);
}

TEST_F(ApplyEffectsTest, PitchAtSixIsNoEffectAndAnyOtherPositionIs)
{
    VisibilityLog progress(ProgressForm);
    form->Document.Effects.PitchPosition = 6;
    form->ApplyEffects("");
    EXPECT_EQ(progress.Shows, 0);
    form->Document.Effects.PitchPosition = 0;
    form->Document.Effects.Backward = true;
    form->Document.Effects.FadeIn = true;
    form->ApplyEffects("");
    EXPECT_EQ(progress.Shows, 1);
    EXPECT_EQ(form->Document.Processed.ProgressStep, 40) << "three effects share the gauge";
}

TEST_F(ApplyEffectsTest, RateButtonsAloneProcessNothingButChooseTheFilesRate)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    VisibilityLog progress(ProgressForm);
    struct {
        bool Slow, Fast;
        uint32_t Rate;
    } cases[] = {{false, false, 22050}, {true, false, 11025}, {false, true, 44100}, {true, true, 44100}};
    for (const auto &c : cases) {
        form->Document.Effects.SlowMonster = c.Slow;
        form->Document.Effects.FastSqueaker = c.Fast;
        const std::string name = folder.filePath(QStringLiteral("out.wav")).toStdString();
        form->ApplyEffects(name);

        QFile file(QString::fromStdString(name));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        // RIFF, a 20-byte "fmt " chunk (no settings chunk), then "data".
        ASSERT_EQ(bytes.size(), 8 + 4 + 8 + 20 + 8 + 2000);
        EXPECT_EQ(bytes.mid(40, 4), QByteArray("data"));
        EXPECT_EQ(LE32(bytes, 24), c.Rate);
        EXPECT_EQ(LE32(bytes, 44), 2000u);
        EXPECT_EQ(std::memcmp(bytes.constData() + 48, voice.data(), 2000), 0);
    }
    EXPECT_EQ(progress.Shows, 0);
    EXPECT_FALSE(form->Document.WorkAltered);
}

TEST_F(ApplyEffectsTest, AFileThatCannotBeWrittenIsReported)
{
    RecordedMessages messages;
    form->ApplyEffects("/nonexistent-folder/for/sure/out.wav");
    ASSERT_EQ(messages.Shown.size(), 1u);
    EXPECT_EQ(messages.Shown[0].first, "Cannot write the file /nonexistent-folder/for/sure/out.wav");
    EXPECT_EQ(messages.Shown[0].second, "Tamblor Glimmerbox");
}

TEST_F(ApplyEffectsTest, TimerRunsAgainAfterARunWithTheProgressWindow)
{
    form->Timer->start();
    form->Document.Effects.Chorus = true;
    form->ApplyEffects("");
    EXPECT_TRUE(form->Timer->isActive());
    form->Timer->stop();
    form->ApplyEffects("");
    EXPECT_FALSE(form->Timer->isActive()) << "a stopped timer is not started by a run";
}

TEST_F(ApplyEffectsTest, EchoKeepsTheLengthWhenTheBufferHoldsOnlyTheVoice)
{
    form->Document.Effects.Echo = true;
    form->ApplyEffects("");
    EXPECT_EQ(form->Document.WorkBytes, form->Document.VoiceBytes);
    EXPECT_TRUE(form->Document.WorkAltered);
}

} // namespace
