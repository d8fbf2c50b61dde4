// SPDX-License-Identifier: GPL-3.0-or-later
// The progress gauge that long computations advance from inside their loops,
// and the share of it that the effect pipeline hands each routine: the
// gauge and how many units of it the routine may use.
//
// The gauge clamps every assigned value into MinValue..MaxValue and tells its
// owner (through PercentChanged) only when the whole percentage shown changes,
// so a run repaints about 100 times however often the callers advance it.
#pragma once

#include <cstdint>

class ProgressGauge {
public:
    virtual ~ProgressGauge() = default;

    int32_t MinValue() const { return 0; }
    int32_t MaxValue() const { return maxValue; }
    int32_t Progress() const { return progress; }

    // (Progress - MinValue) * 100 / (MaxValue - MinValue) in floating point,
    // truncated; 0 when MaxValue equals MinValue.
    int32_t Percent() const;

    void SetMaxValue(int32_t value);
    // Clamps into MinValue..MaxValue; calls PercentChanged when the shown
    // percentage changes.
    void SetProgress(int32_t value);

    // Adds step to Progress (the callers' "read, add, assign back").
    void Advance(int32_t step = 1) { SetProgress(progress + step); }

protected:
    // Called synchronously whenever the shown percentage changes: the window
    // repaints here, the terminal bar redraws here.
    virtual void PercentChanged(int32_t /*percent*/) {}

private:
    int32_t maxValue = 120;
    int32_t progress = 0;
};

// Sets MaxValue to maximum and Progress to 0.
void ResetProgress(ProgressGauge &gauge, int32_t maximum);

// A routine's share of the gauge for one run: the gauge it advances (none:
// it advances nothing) and Step, the units it may add over the whole clip.
// The pipeline gives each selected effect 120 div their number; a routine
// advances once every Count div Step samples, and a Step of 0 or less gives
// no interval and no advances (the resonator filter takes 0 as 10).
struct ProgressShare {
    ProgressGauge *Gauge = nullptr;
    int32_t Step = 0;
};

// Advances gauge by step when there is one: routines may run without a gauge.
inline void AdvanceProgress(ProgressGauge *gauge, int32_t step = 1)
{
    if (gauge)
        gauge->Advance(step);
}
