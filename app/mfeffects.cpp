// The main window's effect controls: thirteen saw-tooth buttons, each with
// its item in the Options menu, and the pitch slider. The buttons' Down flags
// and the slider's position are the effect selection; nothing else stores it.
// A button has already flipped Down when its click arrives; a menu item is
// handed over unflipped and decides its check mark here.

#include "app/mfunit.h"
#include "app/progressunit.h"
#include "audio/voiceformat.h"
#include "audio/wavefile.h"
#include "controls/qmblsbtn.h"
#include "controls/qmbltbar.h"
#include "controls/qmblwpnl.h"
#include "effects/pipeline.h"

#include <QAction>
#include <QTimer>

namespace {

// The button has flipped itself: the menu item follows by flipping too.
void ButtonClicked(TMainForm &form, QAction *item)
{
    form.Modified = true;
    item->setChecked(!item->isChecked());
    form.EffectSelectionChanged();
}

// The menu item flips the button, then shows the button's new state.
void MenuItemClicked(TMainForm &form, TQMBL_SawToothButton *button, QAction *item)
{
    form.Modified = true;
    button->SetDown(!button->Down());
    item->setChecked(button->Down());
    form.EffectSelectionChanged();
}

// Shows the progress window for the length of a run and hides it however
// the run ends. While the window comes up the main window's timer is held:
// no tick may run in the middle of the command that started the run (the
// Play button that is down right now must stay down).
class ProgressShown {
public:
    ProgressShown(bool shown, QTimer *timer) : shown(shown), timer(timer), timerWasActive(timer->isActive())
    {
        if (!shown)
            return;
        timer->stop();
        ProgressForm->ShowAndWaitUntilOnScreen();
    }
    ~ProgressShown()
    {
        if (!shown)
            return;
        ProgressForm->hide();
        if (timerWasActive)
            timer->start();
    }
    ProgressShown(const ProgressShown &) = delete;
    ProgressShown &operator=(const ProgressShown &) = delete;

private:
    bool shown;
    QTimer *timer;
    bool timerWasActive;
};

} // namespace

void TMainForm::EchoButtonClick()
{
    ButtonClicked(*this, Echo1);
}
void TMainForm::ChorusButtonClick()
{
    ButtonClicked(*this, Chorus1);
}
void TMainForm::FlangeButtonClick()
{
    ButtonClicked(*this, Flange1);
}
void TMainForm::FadeInButtonClick()
{
    ButtonClicked(*this, FadeIn1);
}
void TMainForm::fadeOutButtonClick()
{
    ButtonClicked(*this, FadeOut1);
}
void TMainForm::BassOnlyButtonClick()
{
    ButtonClicked(*this, BassOnly1);
}
void TMainForm::RobotvoiceButtonClick()
{
    ButtonClicked(*this, Robotvoice1);
}
void TMainForm::BackwardButtonClick()
{
    ButtonClicked(*this, Backward1);
}
void TMainForm::TrebleOnlyButtonClick()
{
    ButtonClicked(*this, TrebleOnly1);
}
void TMainForm::SweepUpButtonClick()
{
    ButtonClicked(*this, SweepUp1);
}
void TMainForm::SweepDownButtonClick()
{
    ButtonClicked(*this, SweepDown1);
}

void TMainForm::Echo1Click()
{
    MenuItemClicked(*this, EchoButton, Echo1);
}
void TMainForm::Chorus1Click()
{
    MenuItemClicked(*this, ChorusButton, Chorus1);
}
void TMainForm::Flange1Click()
{
    MenuItemClicked(*this, FlangeButton, Flange1);
}
void TMainForm::FadeIn1Click()
{
    MenuItemClicked(*this, FadeInButton, FadeIn1);
}
void TMainForm::FadeOut1Click()
{
    MenuItemClicked(*this, fadeOutButton, FadeOut1);
}
void TMainForm::BassOnly1Click()
{
    MenuItemClicked(*this, BassOnlyButton, BassOnly1);
}
void TMainForm::Robotvoice1Click()
{
    MenuItemClicked(*this, RobotvoiceButton, Robotvoice1);
}
void TMainForm::Backward1Click()
{
    MenuItemClicked(*this, BackwardButton, Backward1);
}
void TMainForm::TrebleOnly1Click()
{
    MenuItemClicked(*this, TrebleOnlyButton, TrebleOnly1);
}
void TMainForm::SweepUp1Click()
{
    MenuItemClicked(*this, SweepUpButton, SweepUp1);
}
void TMainForm::SweepDown1Click()
{
    MenuItemClicked(*this, SweepDownButton, SweepDown1);
}

// Slow Monster and Fast Squeaker choose the playback rate, so at most one of
// them is on after a click: each puts the other up.
void TMainForm::SlowMonstButtonClick()
{
    Modified = true;
    if (FastSqueakButton->Down())
        FastSqueakButton->SetDown(false);
    SlowMonster1->setChecked(!SlowMonster1->isChecked());
    FastSqeaker1->setChecked(FastSqueakButton->Down());
    EffectSelectionChanged();
}

void TMainForm::FastSqueakButtonClick()
{
    Modified = true;
    if (SlowMonstButton->Down())
        SlowMonstButton->SetDown(false);
    FastSqeaker1->setChecked(!FastSqeaker1->isChecked());
    SlowMonster1->setChecked(SlowMonstButton->Down());
    EffectSelectionChanged();
}

void TMainForm::SlowMonster1Click()
{
    Modified = true;
    SlowMonstButton->SetDown(!SlowMonstButton->Down());
    SlowMonstButtonClick();
}

void TMainForm::FastSqeaker1Click()
{
    Modified = true;
    FastSqueakButton->SetDown(!FastSqueakButton->Down());
    FastSqueakButtonClick();
}

void TMainForm::PitchBarChange()
{
    Modified = true;
    EffectSelectionChanged();
}

TEffectSet TMainForm::CurrentEffectSet() const
{
    TEffectSet effects;
    effects.Echo = EchoButton->Down();
    effects.Chorus = ChorusButton->Down();
    effects.Flange = FlangeButton->Down();
    effects.FadeIn = FadeInButton->Down();
    effects.FadeOut = fadeOutButton->Down();
    effects.BassOnly = BassOnlyButton->Down();
    effects.Robotvoice = RobotvoiceButton->Down();
    effects.Backward = BackwardButton->Down();
    effects.SlowMonster = SlowMonstButton->Down();
    effects.FastSqueaker = FastSqueakButton->Down();
    effects.TrebleOnly = TrebleOnlyButton->Down();
    effects.PitchPosition = PitchBar->Position();
    effects.SweepUp = SweepUpButton->Down();
    effects.SweepDown = SweepDownButton->Down();
    return effects;
}

void TMainForm::CaptureEffectSettings(TEffectSettings &record) const
{
    ::CaptureEffectSettings(CurrentEffectSet(), record);
}

void TMainForm::ApplyEffectSettings(const TEffectSettings &record)
{
    // The record decides what it stores; the sweeps of an older, shorter
    // record keep whatever the buttons show now.
    const TEffectSet effects = ::ApplyEffectSettings(CurrentEffectSet(), record);
    const struct {
        bool On;
        TQMBL_SawToothButton *Button;
        QAction *Item;
    } inWordOrder[] = {
        {effects.Echo, EchoButton, Echo1},
        {effects.Chorus, ChorusButton, Chorus1},
        {effects.Flange, FlangeButton, Flange1},
        {effects.FadeIn, FadeInButton, FadeIn1},
        {effects.FadeOut, fadeOutButton, FadeOut1},
        {effects.BassOnly, BassOnlyButton, BassOnly1},
        {effects.Robotvoice, RobotvoiceButton, Robotvoice1},
        {effects.Backward, BackwardButton, Backward1},
        {effects.SlowMonster, SlowMonstButton, SlowMonster1},
        {effects.FastSqueaker, FastSqueakButton, FastSqeaker1},
        {effects.TrebleOnly, TrebleOnlyButton, TrebleOnly1},
    };
    for (const auto &control : inWordOrder) {
        control.Button->SetDown(control.On);
        control.Item->setChecked(control.Button->Down());
    }
    PitchBar->SetPosition(effects.PitchPosition);
    SweepUpButton->SetDown(effects.SweepUp);
    SweepUp1->setChecked(SweepUpButton->Down());
    SweepDownButton->SetDown(effects.SweepDown);
    SweepDown1->setChecked(SweepDownButton->Down());
}

void TMainForm::ResetEffects()
{
    TEffectSettings rest;
    ::CaptureEffectSettings(TEffectSet{}, rest);
    ApplyEffectSettings(rest);
}

uint32_t TMainForm::ApplyEffects(const std::string &fileName)
{
    const TEffectSet effects = CurrentEffectSet();
    const bool anyEffect = CountEffects(effects) > 0;
    bool written = true;
    uint32_t sampleRate = VoiceFormat.SamplesPerSec;
    {
        ProgressShown progress(anyEffect, Timer);
        const PipelineResult result =
            RunEffectPipeline(VoiceData.get(), VoiceBytes, WorkData.get(), WorkCapacity, WorkAltered, effects,
                              VoiceFormat.SamplesPerSec, anyEffect ? ProgressForm->ProgressGauge : nullptr);
        WorkBytes = result.WorkBytes;
        sampleRate = result.SampleRate;
        WaveDisplay->SetSampleData(WorkData.get(), WorkBytes);
        WaveDisplay->SetStartingPosition(0);

        if (!fileName.empty())
            written = WriteWaveFile(fileName, result.SampleRate, VoiceFormat.BitsPerSample, VoiceFormat.Channels,
                                    WorkData.get(), static_cast<uint32_t>(WorkBytes));
    }
    // A file that could not be written is never passed over in silence.
    if (!written)
        Messages().ShowMessage("Cannot write the file " + fileName);
    return sampleRate;
}
