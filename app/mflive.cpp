// SPDX-License-Identifier: GPL-3.0-or-later
// Live Voice in the window: Options, Live Voice (Ctrl+L) starts and stops
// the engine's live voice from the recording input chosen in the window into
// where the preferences say. While it runs it is a third activity beside
// recording and playing: the level meter shows the input, the waveform
// scrolls what is sent, the effect controls change the live sound at once
// (the effects that need a whole clip are greyed), and Record, Play, the
// presets and the file commands answer "Please stop Live Voice first".

#include "app/effecttable.h"
#include "app/mfunit.h"
#include "app/startupunit.h"
#include "controls/qmblsbtn.h"
#include "controls/qmblvled.h"
#include "controls/qmblwpnl.h"

#include <QAction>

namespace {

bool NeedsWholeClip(bool TEffectSet::*flag)
{
    TEffectSet one;
    one.*flag = true;
    return LiveEffectsOf(one) == TEffectSet{};
}

} // namespace

void TMainForm::LiveVoice1Click()
{
    if (Live.Running()) {
        StopLiveVoice();
        return;
    }
    if (IsBusy())
        return;
    const TStartupPreferences preferences = TStartup::StoredPreferences();
    TLiveVoiceSettings settings;
    settings.Effects = LiveEffectsOf(Document.Effects);
    settings.ToVirtualMic = preferences.LiveOutput != TLiveOutput::Speakers;
    settings.ToSpeakers = preferences.LiveOutput != TLiveOutput::VirtualMic;
    settings.KeepInput = LiveKeepInput;
    settings.KeepOutput = LiveKeepOutput;
    if (settings.ToSpeakers && !preferences.HeadphonesWarned) {
        Messages().ShowMessage("Live Voice plays on the speakers or headphones: use headphones, or the microphone "
                               "hears the speakers and the sound howls.");
        TStartup::StoreHeadphonesWarned();
    }
    const std::string error = Live.Start(settings);
    if (!error.empty()) {
        Messages().ShowMessage(error);
        return;
    }
    LiveVoice1->setChecked(true);
    ShowLiveControls(true);
}

void TMainForm::StopLiveVoice()
{
    std::string error;
    if (!Live.Stop(error))
        Messages().ShowMessage(error);
    LiveVoice1->setChecked(false);
    ShowLiveControls(false);
    VolLED->SetProgress(0);
    ShowVoice();
}

void TMainForm::ShowLiveControls(bool live)
{
    for (const TEffectRow &row : EffectRows) {
        if (!NeedsWholeClip(row.Flag))
            continue;
        (this->*row.Button)->setEnabled(!live);
        (this->*row.Button)->setToolTip(live ? QStringLiteral("Needs a recorded voice") : QString());
        (this->*row.Item)->setEnabled(!live);
        (this->*row.Item)->setToolTip(live ? QStringLiteral("Needs a recorded voice") : QString());
    }
    UpdateEditMenus();
}

void TMainForm::LiveTick()
{
    if (const std::string failure = Live.TakeFailure(); !failure.empty()) {
        StopLiveVoice();
        Messages().ShowMessage(failure);
        return;
    }
    VolLED->SetProgress(static_cast<float>(Live.TakeInputPeak()) / 32768.0F);
    // What was sent last ends at the display's right edge.
    LiveView.resize(TLiveVoice::RecentSamples);
    Live.RecentOutput(LiveView.data(), TLiveVoice::RecentSamples);
    const int32_t shown = WaveDisplay->width() * WaveDisplay->SamplesPerPixel();
    WaveDisplay->SetSampleData(LiveView.data(), TLiveVoice::RecentSamples * 2);
    WaveDisplay->SetStartingPosition(std::max(0, TLiveVoice::RecentSamples - shown / 2) * 2);
}

bool TMainForm::LiveBusy()
{
    if (!Live.Running())
        return false;
    Messages().ShowMessage("Please stop Live Voice first");
    return true;
}
