// SPDX-License-Identifier: GPL-3.0-or-later
// Playback as the window shows it: the Play button, the Loop item, the time
// display and the waveform following the sound; the player
// (engine/voiceplayer) does the rest. A click on Play while playing
// silences the device at once and the next tick closes it.

#include "app/mfunit.h"
#include "app/startupunit.h"
#include "app/timedisplay.h"
#include "controls/qmblsbtn.h"
#include "controls/qmblwpnl.h"

#include <QAction>
#include <QLabel>

#include <new>

void TMainForm::PlayButtonClick()
{
    // The button has already flipped: up means stop, down means play.
    if (Player.Playing) {
        Player.Stop();
        return;
    }
    if (!Recorder.Recording && LiveBusy()) {
        PlayButton->SetDown(false);
        return;
    }
    PlayVoice(Document.PlaybackRate());
    if (!Player.Playing)
        PlayButton->SetDown(false);
}

void TMainForm::PlayVoice(uint32_t rate)
{
    if (Recorder.Recording)
        return;
    if (Document.VoiceBytes == 0) {
        Messages().ShowMessage("There is no voice in memory, either record a voice or load one from a file on disk.");
        return;
    }
    try {
        ApplyEffects("", TClip::Played);
    } catch (const std::bad_alloc &) {
        Messages().ShowMessage("There is not enough memory to process the voice.");
        return;
    }
    const std::string error = Player.Play(rate);
    if (!error.empty())
        Messages().ShowMessage(error);
}

void TMainForm::PlaybackLost()
{
    PlayButton->SetDown(false);
    Messages().ShowMessage("Playback stopped: the sound output is no longer available.");
}

void TMainForm::PlayTickProgress()
{
    const TPlayView view = Player.Tick();
    if (view.Lost) {
        PlaybackLost();
        return;
    }
    if (view.HasPosition)
        ShowPosition(PositionFromPlayedSamples(static_cast<uint32_t>(view.HeardSample)));
    if (view.ViewPosition >= 0) {
        if (WaveDisplay->SampleData() != view.Clip)
            WaveDisplay->SetSampleData(view.Clip, view.ClipBytes);
        WaveDisplay->SetStartingPosition(view.ViewPosition);
    }
}

void TMainForm::PlayTickIdle()
{
    if (PlayButton->Down()) {
        PlayButton->SetDown(false);
        ShowVoiceLength();
    }
}

void TMainForm::ShowPosition(int32_t position)
{
    const int32_t ms = Recorder.Recording || Document.VoiceBytes > 0 ? PositionMilliseconds(position) : 0;
    timeDisplay->setText(QString::fromStdString(PositionCaption(ms)));
}

void TMainForm::ShowVoiceLength()
{
    timeDisplay->setText(QString::fromStdString(PositionCaption(VoiceLengthMilliseconds(Document.VoiceBytes))));
}

void TMainForm::Loop1Click()
{
    Loop1->setChecked(!Loop1->isChecked());
    Player.LoopPlayback = Loop1->isChecked();
    TStartup::StoreLoop(Player.LoopPlayback);
}

void TMainForm::EffectSelectionChanged()
{
    // While D is held the voice plays without effects; letting go brings
    // in the selection as it is then.
    if (HearChangesWhilePlaying && !Comparing)
        Player.Change(Document.Effects);
    if (Live.Running())
        Live.Change(LiveEffectsOf(Document.Effects));
}
