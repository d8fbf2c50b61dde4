// SPDX-License-Identifier: GPL-3.0-or-later
// The effect controls of the main window: thirteen buttons, their Options
// items, the pitch slider, and the settings record that carries them.
#include "app/mfunit.h"
#include "controls/qmblsbtn.h"
#include "controls/qmbltbar.h"
#include "tests/app/apptest.h"

#include <QAction>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

namespace {

struct EffectControl {
    const char *Name;
    TQMBL_SawToothButton *TMainForm::*Button;
    QAction *TMainForm::*Item;
    int Word; // position in the settings record
    bool TEffectSet::*Flag;
};

// In the order of the settings record.
const EffectControl Effects[] = {
    {"Echo", &TMainForm::EchoButton, &TMainForm::Echo1, 1, &TEffectSet::Echo},
    {"Chorus", &TMainForm::ChorusButton, &TMainForm::Chorus1, 2, &TEffectSet::Chorus},
    {"Flange", &TMainForm::FlangeButton, &TMainForm::Flange1, 3, &TEffectSet::Flange},
    {"FadeIn", &TMainForm::FadeInButton, &TMainForm::FadeIn1, 4, &TEffectSet::FadeIn},
    {"FadeOut", &TMainForm::fadeOutButton, &TMainForm::FadeOut1, 5, &TEffectSet::FadeOut},
    {"BassOnly", &TMainForm::BassOnlyButton, &TMainForm::BassOnly1, 6, &TEffectSet::BassOnly},
    {"Robotvoice", &TMainForm::RobotvoiceButton, &TMainForm::Robotvoice1, 7, &TEffectSet::Robotvoice},
    {"Backward", &TMainForm::BackwardButton, &TMainForm::Backward1, 8, &TEffectSet::Backward},
    {"SlowMonster", &TMainForm::SlowMonstButton, &TMainForm::SlowMonster1, 9, &TEffectSet::SlowMonster},
    {"FastSqueaker", &TMainForm::FastSqueakButton, &TMainForm::FastSqeaker1, 10, &TEffectSet::FastSqueaker},
    {"TrebleOnly", &TMainForm::TrebleOnlyButton, &TMainForm::TrebleOnly1, 11, &TEffectSet::TrebleOnly},
    {"SweepUp", &TMainForm::SweepUpButton, &TMainForm::SweepUp1, 13, &TEffectSet::SweepUp},
    {"SweepDown", &TMainForm::SweepDownButton, &TMainForm::SweepDown1, 14, &TEffectSet::SweepDown},
};

class EffectControls : public ::testing::Test {
protected:
    void SetUp() override
    {
        TestApp();
        form = std::make_unique<TMainForm>();
        // Ticks are run by hand, so that each test decides when one happens.
        form->Timer->stop();
    }

    TQMBL_SawToothButton *Button(const EffectControl &e) const { return (*form).*(e.Button); }
    QAction *Item(const EffectControl &e) const { return (*form).*(e.Item); }

    // A user's click in the middle of the button, as the mouse delivers it.
    void Click(TQMBL_SawToothButton *button)
    {
        QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(button->width() / 2, button->height() / 2));
    }

    void ExpectAllOffAndPitchAtRest()
    {
        for (const EffectControl &e : Effects) {
            EXPECT_FALSE(Button(e)->Down()) << e.Name;
            EXPECT_FALSE(Item(e)->isChecked()) << e.Name;
        }
        EXPECT_EQ(form->PitchBar->Position(), 6);
    }

    std::unique_ptr<TMainForm> form;
};

TEST_F(EffectControls, StartWithEveryEffectOffAndThePitchAtSix)
{
    ExpectAllOffAndPitchAtRest();
    EXPECT_EQ(form->PitchBar->Min(), 0);
    EXPECT_EQ(form->PitchBar->Max(), 12);
    for (const EffectControl &e : Effects)
        EXPECT_TRUE(Item(e)->isCheckable()) << e.Name;
}

TEST_F(EffectControls, ButtonClickChecksItsMenuItemAndMarksTheVoiceModified)
{
    for (const EffectControl &e : Effects) {
        form->Document.Modified = false;
        Click(Button(e));
        EXPECT_TRUE(Button(e)->Down()) << e.Name;
        EXPECT_TRUE(Item(e)->isChecked()) << e.Name;
        EXPECT_TRUE(form->Document.Modified) << e.Name;
        form->TimerTimer();
        EXPECT_EQ(Item(e)->isChecked(), Button(e)->Down()) << e.Name;

        Click(Button(e));
        EXPECT_FALSE(Button(e)->Down()) << e.Name;
        EXPECT_FALSE(Item(e)->isChecked()) << e.Name;
        form->TimerTimer();
        EXPECT_FALSE(Item(e)->isChecked()) << e.Name;
    }
}

TEST_F(EffectControls, MenuItemPressesItsButtonAndShowsTheCheckMark)
{
    for (const EffectControl &e : Effects) {
        form->Document.Modified = false;
        Item(e)->trigger();
        EXPECT_TRUE(Button(e)->Down()) << e.Name;
        EXPECT_TRUE(Item(e)->isChecked()) << e.Name;
        EXPECT_TRUE(form->Document.Modified) << e.Name;
        form->TimerTimer();
        EXPECT_TRUE(Item(e)->isChecked()) << e.Name;

        Item(e)->trigger();
        EXPECT_FALSE(Button(e)->Down()) << e.Name;
        EXPECT_FALSE(Item(e)->isChecked()) << e.Name;
    }
}

TEST_F(EffectControls, ClicksThroughTheWindowReachOnlyTheButtonUnderThePointer)
{
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    for (const EffectControl &e : Effects) {
        TQMBL_SawToothButton *button = Button(e);
        const QPoint centre = button->mapTo(form.get(), QPoint(button->width() / 2, button->height() / 2));
        QTest::mouseClick(form->windowHandle(), Qt::LeftButton, {}, centre);
        for (const EffectControl &other : Effects)
            EXPECT_EQ(Button(other)->Down(), &other == &e) << "clicked " << e.Name << ", looked at " << other.Name;
        QTest::mouseClick(form->windowHandle(), Qt::LeftButton, {}, centre);
        EXPECT_FALSE(button->Down()) << e.Name;
    }
}

TEST_F(EffectControls, ButtonsAndCheckMarksFollowASelectionSetByTheProgramOnTheNextTick)
{
    TEffectSet all;
    for (const EffectControl &e : Effects)
        all.*e.Flag = true;
    form->Document.Effects = all;
    for (const EffectControl &e : Effects) {
        EXPECT_FALSE(Button(e)->Down()) << e.Name << ": not before the tick";
        EXPECT_FALSE(Item(e)->isChecked()) << e.Name << ": not before the tick";
    }
    form->TimerTimer();
    for (const EffectControl &e : Effects) {
        EXPECT_TRUE(Button(e)->Down()) << e.Name;
        EXPECT_TRUE(Item(e)->isChecked()) << e.Name;
    }

    // A button or a check mark set alone is put right by the tick too.
    form->EchoButton->SetDown(false);
    form->Chorus1->setChecked(false);
    form->Document.Effects.Flange = false;
    form->TimerTimer();
    EXPECT_TRUE(form->EchoButton->Down());
    EXPECT_TRUE(form->Echo1->isChecked());
    EXPECT_TRUE(form->Chorus1->isChecked());
    EXPECT_FALSE(form->FlangeButton->Down());
    EXPECT_FALSE(form->Flange1->isChecked());
}

TEST_F(EffectControls, SlowMonsterPutsFastSqueakerUp)
{
    Click(form->FastSqueakButton);
    ASSERT_TRUE(form->FastSqueakButton->Down());
    ASSERT_TRUE(form->FastSqeaker1->isChecked());

    Click(form->SlowMonstButton);
    EXPECT_TRUE(form->SlowMonstButton->Down());
    EXPECT_TRUE(form->SlowMonster1->isChecked());
    EXPECT_FALSE(form->FastSqueakButton->Down());
    EXPECT_FALSE(form->FastSqeaker1->isChecked());
}

TEST_F(EffectControls, FastSqueakerPutsSlowMonsterUp)
{
    Click(form->SlowMonstButton);
    Click(form->FastSqueakButton);
    EXPECT_TRUE(form->FastSqueakButton->Down());
    EXPECT_TRUE(form->FastSqeaker1->isChecked());
    EXPECT_FALSE(form->SlowMonstButton->Down());
    EXPECT_FALSE(form->SlowMonster1->isChecked());
}

TEST_F(EffectControls, MenuItemsExcludeEachOtherToo)
{
    form->SlowMonster1->trigger();
    EXPECT_TRUE(form->SlowMonstButton->Down());
    EXPECT_TRUE(form->SlowMonster1->isChecked());

    form->FastSqeaker1->trigger();
    EXPECT_TRUE(form->FastSqueakButton->Down());
    EXPECT_TRUE(form->FastSqeaker1->isChecked());
    EXPECT_FALSE(form->SlowMonstButton->Down());
    EXPECT_FALSE(form->SlowMonster1->isChecked());

    form->SlowMonster1->trigger();
    EXPECT_TRUE(form->SlowMonstButton->Down());
    EXPECT_FALSE(form->FastSqueakButton->Down());
    EXPECT_FALSE(form->FastSqeaker1->isChecked());

    form->SlowMonster1->trigger();
    EXPECT_FALSE(form->SlowMonstButton->Down());
    EXPECT_FALSE(form->SlowMonster1->isChecked());
    EXPECT_FALSE(form->FastSqueakButton->Down());
}

TEST_F(EffectControls, OtherPairsDoNotExcludeEachOther)
{
    for (TQMBL_SawToothButton *button : {form->BassOnlyButton, form->TrebleOnlyButton, form->SweepUpButton,
                                         form->SweepDownButton, form->FadeInButton, form->fadeOutButton})
        Click(button);
    for (TQMBL_SawToothButton *button : {form->BassOnlyButton, form->TrebleOnlyButton, form->SweepUpButton,
                                         form->SweepDownButton, form->FadeInButton, form->fadeOutButton})
        EXPECT_TRUE(button->Down());
}

TEST_F(EffectControls, MovingThePitchBarMarksTheVoiceModified)
{
    form->PitchBar->setFocus();
    QTest::keyClick(form->PitchBar, Qt::Key_Down);
    EXPECT_EQ(form->PitchBar->Position(), 7);
    EXPECT_TRUE(form->Document.Modified);
}

TEST_F(EffectControls, PitchSetByTheProgramIsNotAChange)
{
    form->PitchBar->SetPosition(2);
    EXPECT_EQ(form->PitchBar->Position(), 2);
    EXPECT_FALSE(form->Document.Modified);
}

TEST_F(EffectControls, SettingsRecordRoundTripsThroughTheControls)
{
    TEffectSettings record;
    record.Words[0] = 14;
    for (const EffectControl &e : Effects)
        record.Words[e.Word] = (e.Word % 3 == 0) ? 1 : 0; // Flange, Bass Only, Slow Monster
    record.Words[9] = 1;                                  // Slow Monster and Fast Squeaker both, as a file may hold
    record.Words[10] = 7;                                 // any non-zero word is on
    record.Words[12] = 3;
    record.Words[13] = 1;
    form->ApplyEffectSettings(record);

    for (const EffectControl &e : Effects) {
        const bool on = record.Words[e.Word] != 0;
        EXPECT_EQ(Button(e)->Down(), on) << e.Name;
        EXPECT_EQ(Item(e)->isChecked(), on) << e.Name;
    }
    EXPECT_EQ(form->PitchBar->Position(), 3);
    EXPECT_FALSE(form->Document.Modified) << "restoring settings is not a change";

    TEffectSettings captured;
    for (size_t i = 15; i < EffectSettingsWords; ++i)
        captured.Words[i] = static_cast<uint16_t>(0xA500 + i);
    form->CaptureEffectSettings(captured);
    EXPECT_EQ(captured.Words[0], 14);
    for (const EffectControl &e : Effects)
        EXPECT_EQ(captured.Words[e.Word], record.Words[e.Word] != 0 ? 1 : 0) << e.Name;
    EXPECT_EQ(captured.Words[12], 3);
    for (size_t i = 15; i < EffectSettingsWords; ++i)
        EXPECT_EQ(captured.Words[i], 0xA500 + i) << "word " << i << " is the caller's";
}

TEST_F(EffectControls, ShortRecordLeavesTheSweepsAsTheyWere)
{
    form->Document.Effects.SweepUp = true;
    form->Document.Effects.SweepDown = true;
    TEffectSettings record;
    record.Words[0] = 12;
    record.Words[1] = 1;
    record.Words[12] = 6;
    form->ApplyEffectSettings(record);
    EXPECT_TRUE(form->SweepUpButton->Down());
    EXPECT_TRUE(form->SweepDownButton->Down());
    EXPECT_TRUE(form->SweepUp1->isChecked()) << "the check mark shows the button in any case";
    EXPECT_TRUE(form->SweepDown1->isChecked());
    EXPECT_TRUE(form->EchoButton->Down());

    record.Words[0] = 13;
    form->ApplyEffectSettings(record);
    EXPECT_FALSE(form->SweepUpButton->Down());
    EXPECT_TRUE(form->SweepDownButton->Down());
}

TEST_F(EffectControls, PitchWordIsLimitedToTheBar)
{
    TEffectSettings record;
    record.Words[0] = 14;
    record.Words[12] = 20;
    form->ApplyEffectSettings(record);
    EXPECT_EQ(form->PitchBar->Position(), 12);
    record.Words[12] = static_cast<uint16_t>(-3);
    form->ApplyEffectSettings(record);
    EXPECT_EQ(form->PitchBar->Position(), 0);
}

TEST_F(EffectControls, ResetPutsEveryEffectUpAndThePitchBackToSix)
{
    for (const EffectControl &e : Effects)
        Item(e)->trigger();
    form->Document.Effects.SlowMonster = true; // both rate effects on, as a file may leave them
    form->Document.Effects.PitchPosition = 1;
    form->ShowEffects();
    form->Document.Modified = false;

    form->ResetEffects();
    ExpectAllOffAndPitchAtRest();
    EXPECT_FALSE(form->Document.Modified);
}

} // namespace
