// SPDX-License-Identifier: GPL-3.0-or-later
// What a screen reader learns about the drawn controls. Qt describes its own
// widgets; these describe ours: the saw-tooth buttons as toggle buttons with
// their pressed state (or as plain buttons when they spring back), the
// elliptical buttons as buttons, the LED meter as a level indicator with its
// value, the waveform display as a graphic and the elliptical panel as a
// group. The track bar is a QSlider and Qt's own description serves it.
//
// Names and descriptions come from the widgets' accessibleName and
// accessibleDescription, which the window that places a control sets; a
// button without one is named by its Caption.
#pragma once

#include <QObject>

// The dynamic property that marks a saw-tooth button as momentary (it springs
// back after a click): a plain button to a screen reader, not a toggle.
inline constexpr char QmblMomentaryProperty[] = "qmblMomentary";

// Installs the descriptions with Qt's accessibility; called by every control's
// constructor, does its work once.
void InstallQmblAccessibility();

// Tells the screen reader that a control's pressed state changed.
void NotifyQmblStateChanged(QObject *control);
// Tells the screen reader that a control's value changed.
void NotifyQmblValueChanged(QObject *control, double value);
