// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/effecttable.h"

#include "app/mfunit.h"

using F = TMainForm;
using E = TEffectSet;
using L = TLettering;
const std::array<TEffectRow, 13> EffectRows{{
    {&E::Echo, &F::EchoButton, &F::Echo1, &F::EchoButtonClick, &F::Echo1Click, 22, 234, 132, 61, 0, 0, 0, 3, 12,
     L::Across, "Echo", 0xFF7800, "&Echo", "Echo"},
    {&E::Chorus, &F::ChorusButton, &F::Chorus1, &F::ChorusButtonClick, &F::Chorus1Click, 130, 234, 132, 61, 0, 0, 0, 3,
     12, L::Across, "Chorus", 0x0096E6, "&Chorus", "Chorus"},
    {&E::Flange, &F::FlangeButton, &F::Flange1, &F::FlangeButtonClick, &F::Flange1Click, 238, 234, 132, 61, 0, 0, 0, 3,
     12, L::Across, "Flange", 0xC800C8, "&Flange", "Flange"},
    {&E::FadeIn, &F::FadeInButton, &F::FadeIn1, &F::FadeInButtonClick, &F::FadeIn1Click, 346, 234, 132, 61, 0, 0, 0, 3,
     12, L::Across, "Fade In", 0x00AA5A, "Fade &In", "Fade In"},
    {&E::FadeOut, &F::fadeOutButton, &F::FadeOut1, &F::fadeOutButtonClick, &F::FadeOut1Click, 454, 234, 132, 61, 0, 0,
     0, 3, 12, L::Across, "Fade Out", 0x00828C, "Fade &Out", "Fade Out"},
    {&E::BassOnly, &F::BassOnlyButton, &F::BassOnly1, &F::BassOnlyButtonClick, &F::BassOnly1Click, 22, 282, 96, 60, 0,
     -2, 0, 0, 12, L::Across, "Bass\nOnly", 0xAA3C00, "&Bass Only", "Bass Only"},
    {&E::Robotvoice, &F::RobotvoiceButton, &F::Robotvoice1, &F::RobotvoiceButtonClick, &F::Robotvoice1Click, 94, 282,
     132, 60, 0, -3, 0, 0, 12, L::Across, "Robot Voice", 0x4664AA, "&Robotvoice", "Robot Voice"},
    {&E::Backward, &F::BackwardButton, &F::Backward1, &F::BackwardButtonClick, &F::Backward1Click, 202, 282, 132, 60, 0,
     -3, 0, 0, 12, L::Across, "Backward", 0x8228C8, "Back&ward", "Backward"},
    {&E::SlowMonster, &F::SlowMonstButton, &F::SlowMonster1, &F::SlowMonstButtonClick, &F::SlowMonster1Click, 310, 282,
     96, 60, 0, -2, 0, 0, 12, L::Across, "Slow\nMonster", 0x288200, "Slow &Monster", "Slow Monster"},
    {&E::FastSqueaker, &F::FastSqueakButton, &F::FastSqeaker1, &F::FastSqueakButtonClick, &F::FastSqeaker1Click, 382,
     282, 132, 60, 0, -3, 0, 0, 12, L::Across, "Fast\nSqueaker", 0xF0288C, "Fast S&queaker", "Fast Squeaker"},
    {&E::TrebleOnly, &F::TrebleOnlyButton, &F::TrebleOnly1, &F::TrebleOnlyButtonClick, &F::TrebleOnly1Click, 490, 282,
     96, 60, 0, -2, 0, 0, 12, L::Across, "Treble\nOnly", 0xD2AA00, "&Treble Only", "Treble Only"},
    {&E::SweepUp, &F::SweepUpButton, &F::SweepUp1, &F::SweepUpButtonClick, &F::SweepUp1Click, 5, 236, 39, 104, 0, 0, 0,
     0, 10, L::Rising, "Sweep Up", 0xE61E1E, "Sweep &Up", "Sweep Up"},
    {&E::SweepDown, &F::SweepDownButton, &F::SweepDown1, &F::SweepDownButtonClick, &F::SweepDown1Click, 564, 236, 39,
     104, 0, 0, 0, 0, 10, L::Falling, "Sweep Down", 0x1E3CE6, "Sweep &Down", "Sweep Down"},
}};
