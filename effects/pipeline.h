// SPDX-License-Identifier: GPL-3.0-or-later
// The effect pipeline: refills the working buffer from the voice when an
// earlier run altered it, runs the selected effects in their fixed order and
// reports the processed length and the rate to play or write it at.
#pragma once

#include "audio/progress.h"
#include "effects/effectset.h"

#include <atomic>
#include <cstdint>

struct PipelineResult {
    int32_t WorkBytes = 0;   // bytes of processed clip in the working buffer
    uint32_t SampleRate = 0; // voice rate, 11025 for Slow Monster, then 44100 for Fast Squeaker
    // Gauge units each selected effect was given: 120 div their number, 0
    // when none was selected.
    int32_t ProgressStep = 0;
};

// voiceData/voiceBytes: the voice, only read. workData/workCapacity: the
// working buffer (workCapacity bytes, at least voiceBytes). workAltered is
// read and set as the run alters the buffer. gauge (optional) is reset to
// 0..120 when any effect is selected and advanced by the routines, each
// with its share of ProgressStep units. Nothing outlives the run, so runs
// on several threads at once do not disturb one another. cancel
// (optional) is looked at before every block of every step: once it is set
// the run stops early and leaves the working buffer half done, for the
// caller to throw away.
PipelineResult RunEffectPipeline(const int16_t *voiceData, int32_t voiceBytes, int16_t *workData, int32_t workCapacity,
                                 bool &workAltered, const TEffectSet &effects, uint32_t voiceRate,
                                 ProgressGauge *gauge = nullptr, const std::atomic<bool> *cancel = nullptr);
