// SPDX-License-Identifier: GPL-3.0-or-later
// What the main window's mixer control (app/mfmixer.cpp) keeps between the
// mixer library's notices, and the event a notice arrives as.
#pragma once

#include <QEvent>

#include <cstdint>

// The mixer's unit-level state, with the values it has before InitMixer runs.
struct TMixerState {
    int32_t OutputVolumeControlID = -1; // play volume control, -1 = none yet
    int32_t InputVolumeControlID = -1;  // record volume control
    int32_t SourceSelectControlID = -1; // the control that selects the recording input
    int32_t InputLineControlID = -1;    // a change here means: read source name and record volume again
    int32_t InputSourceIndex = -1;      // selected recording input, -1 = none yet
    int32_t InputSourceCount = 0;       // number of recording inputs
    bool MixerReady = false;            // control-change notices are ignored until set
};

// The one mixer state of the program (app/mfmixer.cpp).
extern TMixerState MixerState;

// Puts the mixer state back to its values at program start.
void ResetMixerGlobals();

// The event a mixer change arrives as: the identifier of the control that
// changed rides along. Posted from the mixer library's thread.
class TMixerControlChangeEvent : public QEvent {
public:
    static const QEvent::Type EventType;
    explicit TMixerControlChangeEvent(int32_t controlId) : QEvent(EventType), ControlId(controlId) {}
    const int32_t ControlId;
};

class TQMBL_TrackBar;

// Runs on the mixer library's thread: only queues the notice for window.
void PostMixerMessage(void *window, uint32_t message, uintptr_t wParam, intptr_t lParam);
// Ends the program once the event loop runs, so start-up finishes first.
void PostQuit();
// The identifiers of the four controls whose notices the window handles.
void ReadControlIDs(TMixerState &mixer);
// The mixer volume (0..65535) for a slider level 0..255.
int32_t LevelToVolume(uint16_t level);
// The position of slider that shows mixer volume v.
int SliderPosition(const TQMBL_TrackBar *slider, int32_t v);
