// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's mixer control: the record and play volume sliders, the
// recording-input toggle and its name, kept in step with the sound server
// through the mixer library. The library tells the window about every change
// anyone makes to the mixer; those notices arrive as events on the
// user-interface thread and are handled in MixerControlChange.
//
// Slider positions run 0 (top, "LOUD") to 255 (bottom, "soft"); the level a
// slider stands for is 255 - Position, and a level l is the mixer volume
// l * 257 (0..65535).

#include "app/mfunit.h"
#include "controls/qmblsbtn.h"
#include "controls/qmbltbar.h"
#include "platform/tmmixlib.h"

#include <QLabel>

#include <algorithm>

TMixerState MixerState;

void TMainForm::InitMixer()
{
    SetCallbackWindow(this, PostMixerMessage);

    const int32_t outputs = GetNumberOfOutputDevices();
    if (outputs <= 0) {
        Messages().ShowMessage("There are no Wave Out Devices installed on your system, Terminating...");
        PostQuit();
        return;
    }
    for (int32_t index = 0; index < outputs; ++index)
        if (SelectOutputDevice(index) == 0)
            break;

    const int32_t inputs = GetNumberOfInputDevices();
    if (inputs <= 0) {
        Messages().ShowMessage("There are no Wave Input Devices installed on your system, Terminating...");
        PostQuit();
        return;
    }
    for (int32_t index = 0; index < inputs; ++index)
        if (SelectInputDevice(index) == 0)
            break;

    // Recording always starts from the microphone.
    MixerState.InputSourceIndex = GetMicrophoneSourceIndex();
    MixerState.InputSourceCount = GetNumberOfInputSources();
    SelectInputSource(MixerState.InputSourceIndex);

    ReadControlIDs(MixerState);
    ShowRecordSource();
    ShowPlayVolume();
    MixerState.MixerReady = true;
}

void TMainForm::CloseMixer()
{
    // No more notices for this window: it is about to go.
    SetCallbackWindow(nullptr, nullptr);
    DeSelectOutputDevice();
    DeSelectInputDevice();
    MixerState.MixerReady = false;
}

void TMainForm::MikeSliderChange()
{
    SetRecordVolume(static_cast<uint16_t>(MikeSlider->Max() - MikeSlider->Position()));
}

void TMainForm::SpeakerSliderChange()
{
    SetPlayVolume(static_cast<uint16_t>(SpeakerSlider->Max() - SpeakerSlider->Position()));
}

void TMainForm::SetRecordVolume(uint16_t level)
{
    const int32_t volume[1] = {LevelToVolume(level)};
    SetCurrentInputVolSetting(1, volume);
}

void TMainForm::SetPlayVolume(uint16_t level)
{
    const int32_t volume[1] = {LevelToVolume(level)};
    SetCurrentOutputVolSetting(1, volume);
}

void TMainForm::ShowRecordVolume()
{
    int32_t volume[1] = {0};
    GetCurrentInputVolSetting(1, volume);
    MikeSlider->SetPosition(SliderPosition(MikeSlider, volume[0]));
}

void TMainForm::ShowPlayVolume()
{
    // Written as one channel, read as two: the louder one shows.
    int32_t volumes[2] = {0, 0};
    GetCurrentOutputVolSetting(2, volumes);
    SpeakerSlider->SetPosition(SliderPosition(SpeakerSlider, std::max(volumes[0], volumes[1])));
}

void TMainForm::ShowRecordSource()
{
    char description[MIXER_DESCRIPTION_SIZE] = {};
    GetInputSourceDescription(MixerState.InputSourceIndex, description);
    description[MIXER_DESCRIPTION_SIZE - 1] = '\0';
    const QString name = QString::fromUtf8(description);
    RecSourceLabel->setText(name);
    RecSourceLabel->setToolTip(name);
    Recorder.InputSource = static_cast<int16_t>(MixerState.InputSourceIndex);
    ShowRecordVolume();
}

void TMainForm::RecSourceToggleButtonClick()
{
    // With no inputs there is nothing to step through.
    if (MixerState.InputSourceCount <= 0)
        return;
    MixerState.InputSourceIndex = (MixerState.InputSourceIndex + 1) % MixerState.InputSourceCount;
    SelectInputSource(MixerState.InputSourceIndex);
    ShowRecordSource();
}

void TMainForm::MixerControlChange(int32_t controlId)
{
    if (!MixerState.MixerReady)
        return;
    ReadControlIDs(MixerState);

    if (controlId == MixerState.OutputVolumeControlID) {
        ShowPlayVolume();
    } else if (controlId == MixerState.InputLineControlID) {
        // Inputs come and go on a running desktop (a headset plugged in):
        // count them again so that the toggle reaches every one of them.
        MixerState.InputSourceCount = GetNumberOfInputSources();
        ShowRecordSource();
    } else if (controlId == MixerState.SourceSelectControlID) {
        // Another program chose a different input: follow it.
        for (int32_t index = 0; index < MixerState.InputSourceCount; ++index) {
            bool selected = IsCurrentInputSourceSelected(index);
            if (!(IsMixerMuxType() || IsMixerMixerType()))
                selected = !selected;
            if (index != MixerState.InputSourceIndex && selected) {
                MixerState.InputSourceIndex = index;
                SelectInputSource(index);
                ShowRecordSource();
                break;
            }
        }
    } else if (controlId == MixerState.InputVolumeControlID) {
        ShowRecordVolume();
    }
}
