// SPDX-License-Identifier: GPL-3.0-or-later
// Start-up against the private sound server: the state the window is in
// when start-up is over, the about box after its turn as the splash, and
// About refusing to open while start-up runs.
#include "app/aboutunit.h"
#include "app/mfunit.h"
#include "controls/qmblsbtn.h"
#include "controls/qmbltbar.h"
#include "controls/qmblvled.h"
#include "tests/app/apptest.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

namespace {

class StartUp : public ::testing::Test {
protected:
    void SetUp() override
    {
        TestApp();
        ResetMixerGlobals();
        messages = std::make_unique<RecordedMessages>();
        form = std::make_unique<TMainForm>();
        form->Timer->stop();
        MainForm = form.get();
        form->FormCreate();
    }
    void TearDown() override
    {
        form.reset();
        AboutBox = nullptr;
        messages.reset();
    }

    std::unique_ptr<RecordedMessages> messages;
    std::unique_ptr<TMainForm> form;
};

TEST_F(StartUp, EndsIdleWithNoVoiceAndANewFileTitle)
{
    EXPECT_TRUE(messages->Shown.empty()) << messages->Shown.front().first;
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Glimmerbox - New File"));
    EXPECT_EQ(form->timeDisplay->text(), QStringLiteral(" POS: 00:00:00 "));
    EXPECT_EQ(form->QuombleLabel->text(), QStringLiteral("Tamblor Quomble"));
    EXPECT_FALSE(form->Save1->isEnabled());
    EXPECT_FALSE(form->SaveAs1->isEnabled());
    EXPECT_FALSE(form->Export1->menuAction()->isEnabled());
    EXPECT_EQ(form->Document.VoiceBytes, 0);
    EXPECT_EQ(form->Document.WorkBytes, 0);
    EXPECT_EQ(form->Document.VoiceData, nullptr);
    EXPECT_TRUE(form->Document.VoiceFileName.empty());
    EXPECT_FALSE(form->Recorder.Recording);
    EXPECT_FALSE(form->Player.Playing);
    EXPECT_FALSE(form->Document.Modified);
    EXPECT_FALSE(form->Document.WorkAltered);
    EXPECT_TRUE(form->Player.PlayFinished);
    EXPECT_FALSE(form->StartingUp);
    EXPECT_EQ(form->VolLED->Progress(), 0.0f);
    EXPECT_TRUE(MixerState.MixerReady);
}

TEST_F(StartUp, EveryEffectIsOffAndThePitchAtSix)
{
    for (TQMBL_SawToothButton *button :
         {form->EchoButton, form->ChorusButton, form->FlangeButton, form->FadeInButton, form->fadeOutButton,
          form->BassOnlyButton, form->RobotvoiceButton, form->BackwardButton, form->SlowMonstButton,
          form->FastSqueakButton, form->TrebleOnlyButton, form->SweepUpButton, form->SweepDownButton})
        EXPECT_FALSE(button->Down());
    for (QAction *item : form->Options1->actions())
        EXPECT_FALSE(item->isChecked()) << item->text().toStdString();
    EXPECT_EQ(form->PitchBar->Position(), 6);
}

TEST_F(StartUp, SplashGetsItsOkButtonBack)
{
    ASSERT_NE(AboutBox, nullptr);
    EXPECT_EQ(AboutBox->parent(), form.get());
    EXPECT_FALSE(AboutBox->isVisible());
    EXPECT_TRUE(AboutBox->OKButton->isVisibleTo(AboutBox));
    EXPECT_EQ(AboutBox->height(), AboutBox->OKButton->y() + AboutBox->OKButton->height() + 12);
    EXPECT_EQ(AboutBox->height(), 226);
}

TEST_F(StartUp, AboutDoesNothingWhileStartingUpAndShowsTheBoxAfterwards)
{
    QWidget *seenModal = nullptr;
    bool okShown = false;
    auto lookAndClose = [&] {
        seenModal = QApplication::activeModalWidget();
        if (seenModal == AboutBox) {
            okShown = AboutBox->OKButton->isVisible();
            AboutBox->OKButton->click();
        }
    };

    form->StartingUp = true;
    QTimer::singleShot(0, lookAndClose);
    form->About1->trigger();
    QApplication::processEvents();
    EXPECT_EQ(seenModal, nullptr);

    form->StartingUp = false;
    QTimer::singleShot(0, lookAndClose);
    form->About1->trigger(); // returns once the box is closed
    EXPECT_EQ(seenModal, AboutBox);
    EXPECT_TRUE(okShown);
    EXPECT_FALSE(AboutBox->isVisible());
}

TEST_F(StartUp, RecordingInputIsNamedBesideTheToggle)
{
    EXPECT_GE(MixerState.InputSourceCount, 1);
    EXPECT_GE(MixerState.InputSourceIndex, 0);
    EXPECT_FALSE(form->RecSourceLabel->text().isEmpty());
    EXPECT_NE(form->RecSourceLabel->text(), QStringLiteral("Mic")) << "the mixer names the input";
    EXPECT_EQ(form->RecSourceLabel->toolTip(), form->RecSourceLabel->text());
    EXPECT_EQ(form->Recorder.InputSource, MixerState.InputSourceIndex);
}

TEST_F(StartUp, ClosingReleasesTheMixer)
{
    ASSERT_TRUE(MixerState.MixerReady);
    form->FormDestroy();
    EXPECT_FALSE(MixerState.MixerReady);
}

} // namespace
