// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's effect controls: thirteen saw-tooth buttons, each with
// its item in the Options menu (app/effecttable.cpp), and the pitch slider. They show the effect
// selection, which the voice document holds (Document.Effects); a click
// changes the selection and every control shows it again. A button has
// already flipped when its click arrives; a menu item is handed over
// unflipped.

#include "app/effecttable.h"
#include "app/mfunit.h"
#include "app/progressunit.h"
#include "controls/qmblsbtn.h"
#include "controls/qmbltbar.h"
#include "controls/qmblwpnl.h"

#include <QAction>

void TMainForm::ShowEffects()
{
    for (const TEffectRow &row : EffectRows) {
        const bool on = Document.Effects.*row.Flag;
        if ((this->*row.Button)->Down() != on)
            (this->*row.Button)->SetDown(on);
        (this->*row.Item)->setChecked(on);
    }
    if (PitchBar->Position() != Document.Effects.PitchPosition)
        PitchBar->SetPosition(Document.Effects.PitchPosition);
}

void TMainForm::ToggleEffect(bool TEffectSet::*flag)
{
    Document.WillChange(TVoiceDocument::TChange::Effects);
    Document.Modified = true;
    Document.Effects.*flag = !(Document.Effects.*flag);
    // Slow Monster and Fast Squeaker choose the playback rate, so at most
    // one of them is on after a click: each puts the other up.
    if (flag == &TEffectSet::SlowMonster)
        Document.Effects.FastSqueaker = false;
    if (flag == &TEffectSet::FastSqueaker)
        Document.Effects.SlowMonster = false;
    ShowEffects();
    UpdateEditMenus();
    EffectSelectionChanged();
}

// clang-format off
void TMainForm::EchoButtonClick() { ToggleEffect(&TEffectSet::Echo); }
void TMainForm::ChorusButtonClick() { ToggleEffect(&TEffectSet::Chorus); }
void TMainForm::FlangeButtonClick() { ToggleEffect(&TEffectSet::Flange); }
void TMainForm::FadeInButtonClick() { ToggleEffect(&TEffectSet::FadeIn); }
void TMainForm::fadeOutButtonClick() { ToggleEffect(&TEffectSet::FadeOut); }
void TMainForm::BassOnlyButtonClick() { ToggleEffect(&TEffectSet::BassOnly); }
void TMainForm::RobotvoiceButtonClick() { ToggleEffect(&TEffectSet::Robotvoice); }
void TMainForm::BackwardButtonClick() { ToggleEffect(&TEffectSet::Backward); }
void TMainForm::TrebleOnlyButtonClick() { ToggleEffect(&TEffectSet::TrebleOnly); }
void TMainForm::SweepUpButtonClick() { ToggleEffect(&TEffectSet::SweepUp); }
void TMainForm::SweepDownButtonClick() { ToggleEffect(&TEffectSet::SweepDown); }
void TMainForm::SlowMonstButtonClick() { ToggleEffect(&TEffectSet::SlowMonster); }
void TMainForm::FastSqueakButtonClick() { ToggleEffect(&TEffectSet::FastSqueaker); }
void TMainForm::Echo1Click() { ToggleEffect(&TEffectSet::Echo); }
void TMainForm::Chorus1Click() { ToggleEffect(&TEffectSet::Chorus); }
void TMainForm::Flange1Click() { ToggleEffect(&TEffectSet::Flange); }
void TMainForm::FadeIn1Click() { ToggleEffect(&TEffectSet::FadeIn); }
void TMainForm::FadeOut1Click() { ToggleEffect(&TEffectSet::FadeOut); }
void TMainForm::BassOnly1Click() { ToggleEffect(&TEffectSet::BassOnly); }
void TMainForm::Robotvoice1Click() { ToggleEffect(&TEffectSet::Robotvoice); }
void TMainForm::Backward1Click() { ToggleEffect(&TEffectSet::Backward); }
void TMainForm::TrebleOnly1Click() { ToggleEffect(&TEffectSet::TrebleOnly); }
void TMainForm::SweepUp1Click() { ToggleEffect(&TEffectSet::SweepUp); }
void TMainForm::SweepDown1Click() { ToggleEffect(&TEffectSet::SweepDown); }
void TMainForm::SlowMonster1Click() { ToggleEffect(&TEffectSet::SlowMonster); }
void TMainForm::FastSqeaker1Click() { ToggleEffect(&TEffectSet::FastSqueaker); }
// clang-format on

void TMainForm::PitchBarChange()
{
    if (PitchBar->Position() != Document.Effects.PitchPosition)
        Document.WillChange(TVoiceDocument::TChange::Pitch);
    Document.Modified = true;
    Document.Effects.PitchPosition = PitchBar->Position();
    UpdateEditMenus();
    EffectSelectionChanged();
}

void TMainForm::ResetEffects()
{
    Document.Effects = TEffectSet{};
    ShowEffects();
}

uint32_t TMainForm::ApplyEffects(const std::string &fileName, TClip clip)
{
    const bool anyEffect = CountEffects(Document.Effects) > 0;
    bool written = true;
    uint32_t sampleRate = 0;
    {
        TProgressShown progress(anyEffect, Timer);
        // Only Play plays the part chosen in the editor; an export is always
        // of the whole voice.
        const bool selectionOnly = Document.PlaySelectionOnly;
        Document.PlaySelectionOnly = selectionOnly && clip == TClip::Played;
        try {
            sampleRate = Document.Process(progress.Gauge()).SampleRate;
        } catch (...) {
            Document.PlaySelectionOnly = selectionOnly;
            throw;
        }
        Document.PlaySelectionOnly = selectionOnly;
        WaveDisplay->SetSampleData(Document.WorkData.get(), Document.WorkBytes);
        WaveDisplay->SetStartingPosition(0);
        if (!fileName.empty())
            written = Document.WriteProcessed(fileName, sampleRate);
    }
    // A file that could not be written is never passed over in silence.
    if (!written)
        Messages().ShowMessage("Cannot write the file " + fileName);
    return sampleRate;
}
