// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/mixerstate.h"

#include "base/rounding.h"
#include "controls/qmbltbar.h"
#include "platform/tmmixlib.h"

#include <QCoreApplication>

const QEvent::Type TMixerControlChangeEvent::EventType = static_cast<QEvent::Type>(QEvent::registerEventType());

void ResetMixerGlobals()
{
    MixerState = TMixerState{};
}

// Runs on the mixer library's thread: only queues the notice for the window.
void PostMixerMessage(void *window, uint32_t message, uintptr_t /*wParam*/, intptr_t lParam)
{
    if (message == MM_MIXM_CONTROL_CHANGE)
        QCoreApplication::postEvent(static_cast<QObject *>(window),
                                    new TMixerControlChangeEvent(static_cast<int32_t>(lParam)));
}

// The quit takes effect once the event loop runs, so start-up finishes first.
void PostQuit()
{
    QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit, Qt::QueuedConnection);
}

// The identifiers of the four controls whose notices the window handles.
void ReadControlIDs(TMixerState &mixer)
{
    GetVolumeIDs(&mixer.OutputVolumeControlID, &mixer.InputVolumeControlID, &mixer.SourceSelectControlID,
                 &mixer.InputLineControlID);
}

int32_t LevelToVolume(uint16_t level)
{
    return static_cast<int32_t>(RoundHalfEven(level * (1.0 / 255) * 65535));
}

// The slider position that shows mixer volume v.
int SliderPosition(const TQMBL_TrackBar *slider, int32_t v)
{
    const int64_t p = RoundHalfEven(static_cast<double>(v) * slider->Max() / 65535);
    return static_cast<int16_t>(slider->Max() - p + slider->Min());
}
