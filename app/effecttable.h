// SPDX-License-Identifier: GPL-3.0-or-later
// The thirteen effects of the main window as one table: for each, the flag
// of the selection, the button and menu item that show it, the button's
// place and picture, the menu text and what a screen reader calls it. The
// buttons, the menu items, their pictures, names and handlers are all made
// from it.
#pragma once

#include "app/artwork.h"
#include "effects/effectset.h"

#include <array>

class QAction;
class TMainForm;
class TQMBL_SawToothButton;

struct TEffectRow {
    bool TEffectSet::*Flag;
    TQMBL_SawToothButton *TMainForm::*Button;
    QAction *TMainForm::*Item;
    void (TMainForm::*ButtonClick)();
    void (TMainForm::*ItemClick)();
    int Left, Top, Width, Height, LeftTeeth, TopTeeth, RightTeeth, BottomTeeth, ToothSize;
    TLettering Lettering;
    const char *Caption;
    unsigned Ink; // 0xRRGGBB
    const char *MenuText;
    const char *AccessibleName;
};

// In the order the buttons and menu items are made.
extern const std::array<TEffectRow, 13> EffectRows;
