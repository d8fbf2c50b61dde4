// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/progress.h"

#include <algorithm>

int32_t ProgressGauge::Percent() const
{
    if (maxValue == MinValue())
        return 0;
    return static_cast<int32_t>(static_cast<double>(progress - MinValue()) * 100.0 / (maxValue - MinValue()));
}

void ProgressGauge::SetMaxValue(int32_t value)
{
    const int32_t before = Percent();
    maxValue = std::max(value, MinValue());
    progress = std::min(progress, maxValue);
    if (Percent() != before)
        PercentChanged(Percent());
}

void ProgressGauge::SetProgress(int32_t value)
{
    const int32_t before = Percent();
    progress = std::clamp(value, MinValue(), maxValue);
    if (Percent() != before)
        PercentChanged(Percent());
}

void ResetProgress(ProgressGauge &gauge, int32_t maximum)
{
    gauge.SetMaxValue(maximum);
    gauge.SetProgress(0);
}
