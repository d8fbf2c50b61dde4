// SPDX-License-Identifier: GPL-3.0-or-later
// glimmerbox-fx --live: the microphone through the effects as you speak,
// until SIGINT or SIGTERM. Each line read on standard input is a new
// selection in the command line's words ("--robot --pitch 3"; an empty line
// switches every effect off); standard error says from which input sample
// it is heard.
#pragma once

#include "engine/livevoice.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>

// Reads a line of effect options into effects (every effect off first);
// the reason when the line is not such options.
using TEffectWords = std::function<std::optional<std::string>(std::string_view line, TEffectSet &effects)>;

// Runs the live voice; the exit status: 0 after SIGINT or SIGTERM, 1 when
// it could not start or a fault stopped it, 2 when the settings are
// refused.
int RunLive(const TLiveVoiceSettings &settings, const TEffectWords &effectWords);
