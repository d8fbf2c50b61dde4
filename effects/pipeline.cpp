// SPDX-License-Identifier: GPL-3.0-or-later
// The effect pipeline. The voice itself is never changed: every run starts
// from a fresh copy of it in the working buffer (unless the buffer still
// holds that copy) and applies the selected effects in one fixed order:
//
//   Sweep Up, Sweep Down, Echo, Chorus, Robot voice, Backward, Flange,
//   Pitch, Fade In, Fade Out, Bass Only, Treble Only
//
// The steps that stream share the work between two threads (see
// RunStages).
//
// Slow Monster and Fast Squeaker process nothing; they only pick the rate
// the result is played or written at.
#include "effects/pipeline.h"

#include "effects/delay.h"
#include "effects/filters.h"
#include "effects/pitch.h"
#include "effects/reverse.h"

#include "effects/sample.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <memory>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace {

// Gauge units for a whole run; each selected effect gets 120 div count.
constexpr int32_t PipelineGaugeUnits = 120;

constexpr uint32_t SlowMonsterRate = 11025;
constexpr uint32_t FastSqueakerRate = 44100;

// A step that streams: it takes the clip block after block, in order, and
// covers the clip's length as it reaches the step (only the echo changes
// it). process(samples, n) does the next n samples and returns the gauge
// units the whole-clip routine would advance over them. weight is the
// step's cost relative to the others, for sharing the steps between two
// threads.
struct Stage {
    int32_t length = 0;
    int32_t weight = 1;
    std::function<int32_t(int16_t *, int32_t)> process;
};

// Shorter clips are not worth a thread.
constexpr int32_t TwoThreadMinimum = 1 << 16;

// Runs the stages over the clip in their order. A step only needs the
// block it works on to have been through the steps before it, so with two
// or more steps on a long clip a second thread runs the first steps block
// after block while this thread runs the others on every block the second
// thread has finished: each step still sees the whole clip in order and the
// samples are those of the steps run one after the other. Only the gauge's
// advances interleave; this thread makes all of them, so a gauge that
// draws is only ever touched from the caller's thread.
void RunStages(int16_t *samples, const std::vector<Stage> &stages, ProgressGauge *gauge,
               const std::atomic<bool> *cancel)
{
    if (stages.empty())
        return;
    auto cancelled = [cancel] { return cancel && cancel->load(std::memory_order_relaxed); };
    int32_t length = 0;
    for (const Stage &stage : stages)
        length = std::max(length, stage.length);
    const int32_t blocks = (length + StreamBlock - 1) / StreamBlock;
    // Steps first..last - 1 on block b; returns their gauge units.
    auto runBlock = [&](std::size_t first, std::size_t last, int32_t b) {
        const int32_t start = b * StreamBlock;
        int32_t units = 0;
        for (std::size_t j = first; j < last; ++j) {
            if (start < stages[j].length)
                units += stages[j].process(samples + start, std::min(StreamBlock, stages[j].length - start));
        }
        return units;
    };

    // The first `split` steps go to the second thread: as close to half the
    // work as the order allows.
    int64_t total = 0;
    for (const Stage &stage : stages)
        total += stage.weight;
    std::size_t split = 0;
    int64_t before = 0;
    int64_t best = total;
    for (std::size_t k = 1; k < stages.size(); ++k) {
        before += stages[k - 1].weight;
        const int64_t longer = std::max(before, total - before);
        if (longer < best) {
            best = longer;
            split = k;
        }
    }

    std::vector<int32_t> workerUnits(static_cast<std::size_t>(blocks), 0);
    std::atomic<int32_t> workerDone{0}; // blocks the second thread has finished
    std::thread worker;
    if (split > 0 && length >= TwoThreadMinimum) {
        try {
            worker = std::thread([&] {
                for (int32_t b = 0; b < blocks; ++b) {
                    if (!cancelled())
                        workerUnits[static_cast<std::size_t>(b)] = runBlock(0, split, b);
                    workerDone.store(b + 1, std::memory_order_release);
                    workerDone.notify_one();
                }
            });
        } catch (const std::system_error &) {
            split = 0; // no thread to be had: every step runs here
        }
    } else {
        split = 0;
    }
    if (split == 0) {
        // One step after the other over the whole clip.
        for (std::size_t j = 0; j < stages.size(); ++j) {
            for (int32_t b = 0; b < blocks; ++b) {
                if (cancelled())
                    return;
                const int32_t units = runBlock(j, j + 1, b);
                if (units > 0)
                    AdvanceProgress(gauge, units);
            }
        }
        return;
    }
    for (int32_t b = 0; b < blocks; ++b) {
        for (int32_t done = workerDone.load(std::memory_order_acquire); done <= b;
             done = workerDone.load(std::memory_order_acquire))
            workerDone.wait(done, std::memory_order_acquire);
        if (cancelled())
            continue; // the second thread still has to finish its blocks
        const int32_t units = workerUnits[static_cast<std::size_t>(b)] + runBlock(split, stages.size(), b);
        if (units > 0)
            AdvanceProgress(gauge, units);
    }
    worker.join();
}

// A stream as a stage (the stream lives as long as the stage).
template <typename Stream, typename... Args> Stage StreamStage(int32_t length, int32_t weight, Args &&...args)
{
    auto stream = std::make_shared<Stream>(std::forward<Args>(args)...);
    return Stage{length, weight, [stream](int16_t *s, int32_t n) { return stream->Process(s, n); }};
}

// Relative costs of the steps: CPU milliseconds of their benchmarks over ten
// minutes (the pitch shifter at the highest voice).
constexpr int32_t SweepWeight = 18;
constexpr int32_t EchoWeight = 24;
constexpr int32_t ChorusWeight = 28;
constexpr int32_t RobotWeight = 18;
constexpr int32_t FlangeWeight = 30;
constexpr int32_t PitchWeight = 28;
constexpr int32_t ResonatorWeight = 137;

} // namespace

PipelineResult RunEffectPipeline(const int16_t *voiceData, int32_t voiceBytes, int16_t *workData, int32_t workCapacity,
                                 bool &workAltered, const TEffectSet &effects, uint32_t voiceRate, ProgressGauge *gauge,
                                 const std::atomic<bool> *cancel)
{
    auto cancelled = [cancel] { return cancel && cancel->load(std::memory_order_relaxed); };
    // A working buffer smaller than the voice could not take the copy: only
    // as much of the voice as fits is used.
    workCapacity = std::max(workCapacity, 0);
    voiceBytes = std::clamp(voiceBytes, 0, workCapacity);

    const int32_t count = CountEffects(effects);
    if (count > 0 && gauge)
        ResetProgress(*gauge, PipelineGaugeUnits);

    if (workAltered && workData) {
        std::memset(workData, 0, static_cast<std::size_t>(workCapacity));
        if (voiceData)
            std::memcpy(workData, voiceData, static_cast<std::size_t>(voiceBytes));
    }

    PipelineResult result;
    result.WorkBytes = voiceBytes;
    // Every selected effect may add the same number of units.
    const int32_t step = count > 0 ? PipelineGaugeUnits / count : 0;
    result.ProgressStep = step;
    const ProgressShare share{gauge, step};

    // Each step takes the length as the step before left it: only the echo
    // lengthens the clip, within the working buffer's capacity. The steps
    // stream in three groups: up to Robot voice, Flange and Pitch between
    // Backward and the fades, and Bass Only and Treble Only after the fades
    // (Backward needs the whole clip, each fade the whole clip's peak).
    if (workData) {
        int32_t n = result.WorkBytes / 2;
        std::vector<Stage> stages;
        auto take = [&](bool selected, auto &&makeStage) {
            if (!selected)
                return;
            stages.push_back(makeStage());
            workAltered = true;
        };
        auto runStages = [&] {
            RunStages(workData, stages, gauge, cancel);
            stages.clear();
        };
        auto wholeClip = [&](bool selected, auto &&step) {
            if (!selected)
                return;
            runStages();
            if (!cancelled())
                step(workData, n);
            workAltered = true;
        };

        take(effects.SweepUp, [&] { return StreamStage<PitchShifterStream>(n, SweepWeight, SweepUpPlan(n), n, step); });
        take(effects.SweepDown,
             [&] { return StreamStage<PitchShifterStream>(n, SweepWeight, SweepDownPlan(n), n, step); });
        take(effects.Echo, [&] {
            auto echo = std::make_shared<EchoStream>(n, 300, 70, 0.0, workCapacity / 2, step);
            n = echo->Length();
            result.WorkBytes = 2 * n;
            return Stage{n, EchoWeight, [echo](int16_t *s, int32_t count) { return echo->Process(s, count); }};
        });
        take(effects.Chorus,
             [&] { return StreamStage<ModulatedDelayStream>(n, ChorusWeight, n, 20, 40, 20, 1.0, 0.0, step); });
        take(effects.Robotvoice,
             [&] { return StreamStage<ModulatedDelayStream>(n, RobotWeight, n, 12, 12, 0, 0.0, 0.75, step); });
        wholeClip(effects.Backward, [&](int16_t *s, int32_t count) { ReverseClip(s, count, share); });
        take(effects.Flange,
             [&] { return StreamStage<ModulatedDelayStream>(n, FlangeWeight, n, 0, 6, 6, 0.9, 0.5, step); });
        take(effects.PitchPosition != PitchBarRest, [&] {
            return StreamStage<PitchShifterStream>(n, PitchWeight, PitchAmountPlan(PitchBarMax - effects.PitchPosition),
                                                   n, step);
        });
        wholeClip(effects.FadeIn, [&](int16_t *s, int32_t count) { FadeInClip(s, count, share); });
        wholeClip(effects.FadeOut, [&](int16_t *s, int32_t count) { FadeOutClip(s, count, share); });
        take(effects.BassOnly,
             [&] { return StreamStage<ResonatorStream>(n, ResonatorWeight, BassOnlyGains, n, true, step); });
        take(effects.TrebleOnly,
             [&] { return StreamStage<ResonatorStream>(n, ResonatorWeight, TrebleOnlyGains, n, true, step); });
        runStages();
    }

    result.SampleRate = voiceRate;
    if (effects.SlowMonster)
        result.SampleRate = SlowMonsterRate;
    if (effects.FastSqueaker)
        result.SampleRate = FastSqueakerRate;
    return result;
}
