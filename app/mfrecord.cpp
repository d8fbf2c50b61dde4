// SPDX-License-Identifier: GPL-3.0-or-later
// Recording as the window shows it: the Record button, the level meter and
// the elapsed time; the session (engine/recordsession) does the rest. A stop
// the recorder refuses is tried again on every tick while the button is up.
// A recording the recorder ended by itself (the input went away) is loaded
// at the next tick like a stop, and the user is told once why it stopped.

#include "app/mfunit.h"
#include "app/timedisplay.h"
#include "app/waitcursor.h"
#include "controls/qmblsbtn.h"
#include "controls/qmblvled.h"

#include <QAction>
#include <QMenu>

void TMainForm::OldRecordButtonClick()
{
    // The button has already flipped: down means start, up means stop.
    if (Player.Playing)
        return; // the tick puts the button up again
    if (Recorder.Recording) {
        EndRecording();
        return;
    }
    if (LiveBusy()) {
        RecordButton->SetDown(false);
        return;
    }
    if (!VoiceMayGo()) {
        RecordButton->SetDown(false);
        return;
    }
    Document.DropSamples();
    // A new voice starts with every effect off, whether or not the recorder
    // then starts.
    ResetEffects();
    StartRecording();
    if (!Recorder.Recording)
        RecordButton->SetDown(false);
}

void TMainForm::StartRecording()
{
    if (Recorder.Recording || Player.Playing)
        return;
    ClearVoice();
    const int16_t result = Recorder.Start();
    if (result != 0)
        ShowRecordError(result);
}

void TMainForm::ShowRecordError(int16_t code)
{
    TRecordSession::ShowError(code, Messages());
}

void TMainForm::RecordTickStop()
{
    if (Recorder.Ended()) {
        Recorder.Stop();
        FinishRecording();
        Save1->setEnabled(true);
        SaveAs1->setEnabled(true);
        Export1->menuAction()->setEnabled(true);
        Messages().ShowMessage("Recording stopped: the sound input is no longer available.");
        return;
    }
    if (!RecordButton->Down() && Recorder.Recording)
        EndRecording();
}

void TMainForm::RecordTickProgress()
{
    VolLED->SetProgress(static_cast<float>(Recorder.Level() * 0.01));
    ShowPosition(PositionFromElapsedMs(Recorder.ElapsedMs()));
}

bool TMainForm::EndRecording()
{
    if (!Recorder.Stop())
        return false;
    FinishRecording();
    return true;
}

void TMainForm::FinishRecording()
{
    bool loaded = false;
    {
        WaitCursor hourglass;
        loaded = Recorder.LoadTake(Document, Messages());
    }
    if (loaded) {
        ShowVoiceLength();
        ShowVoice();
        const std::string text = Recorder.WriteError();
        if (!text.empty())
            Messages().ShowMessage(text);
    } else {
        ClearVoice();
        Messages().ShowMessage(Recorder.KeptText());
    }
    Recorder.Finish(Document);
    RecordButton->SetDown(false);
    VolLED->SetProgress(0);
    UpdateFileMenus();
}
