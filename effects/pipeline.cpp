// The effect pipeline. The voice itself is never changed: every run starts
// from a fresh copy of it in the working buffer (unless the buffer still
// holds that copy) and applies the selected effects in one fixed order:
//
//   Sweep Up, Sweep Down, Echo, Chorus, Robot voice, Backward, Flange,
//   Pitch, Fade In, Fade Out, Bass Only, Treble Only
//
// Bass Only and Treble Only, the slowest two, share the work between two
// threads when both are on (see BassThenTrebleOnTwoThreads).
//
// Slow Monster and Fast Squeaker process nothing; they only pick the rate
// the result is played or written at.
#include "effects/pipeline.h"

#include "effects/delay.h"
#include "effects/filters.h"
#include "effects/pitch.h"
#include "effects/reverse.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <system_error>
#include <thread>
#include <vector>

namespace {

// Gauge units for a whole run; each selected effect gets 120 div count.
constexpr int32_t PipelineGaugeUnits = 120;

constexpr uint32_t SlowMonsterRate = 11025;
constexpr uint32_t FastSqueakerRate = 44100;

// Bass Only and Treble Only as a two-stage pipeline: a second thread runs
// Bass Only block after block while this one runs Treble Only on every block
// Bass Only has finished. Each filter still sees the whole clip in order,
// so the samples are those of the two runs one after the other; only the
// gauge's advances interleave (this thread makes all of them, so a gauge
// that draws is only ever touched from the caller's thread). Shorter clips
// are not worth a thread.
constexpr int32_t TwoThreadMinimum = 1 << 16;
constexpr int32_t PipelineBlock = 1 << 14;

bool BassThenTrebleOnTwoThreads(int16_t *samples, int32_t count, ProgressGauge *gauge)
{
    const Real48 bassGains[4] = {1.3L, 0.0L, 0.0L, 0.0L};
    const Real48 trebleGains[4] = {0.0L, 0.0L, 0.0L, 2.5L};
    ResonatorStream bass(bassGains, count, true);
    ResonatorStream treble(trebleGains, count, true);
    const int32_t blocks = (count + PipelineBlock - 1) / PipelineBlock;
    std::vector<int32_t> bassUnits(static_cast<std::size_t>(blocks), 0);
    std::atomic<int32_t> bassDone{0}; // blocks Bass Only has finished

    auto blockStart = [&](int32_t b) { return samples + static_cast<std::ptrdiff_t>(b) * PipelineBlock; };
    auto blockLength = [&](int32_t b) { return std::min(PipelineBlock, count - b * PipelineBlock); };
    std::thread worker;
    try {
        worker = std::thread([&] {
            for (int32_t b = 0; b < blocks; ++b) {
                bassUnits[static_cast<std::size_t>(b)] = bass.Process(blockStart(b), blockLength(b));
                bassDone.store(b + 1, std::memory_order_release);
                bassDone.notify_one();
            }
        });
    } catch (const std::system_error &) {
        return false; // no thread to be had: the caller runs both in turn
    }
    for (int32_t b = 0; b < blocks; ++b) {
        for (int32_t done = bassDone.load(std::memory_order_acquire); done <= b;
             done = bassDone.load(std::memory_order_acquire))
            bassDone.wait(done, std::memory_order_acquire);
        const int32_t units = bassUnits[static_cast<std::size_t>(b)] + treble.Process(blockStart(b), blockLength(b));
        if (units > 0)
            AdvanceProgress(gauge, units);
    }
    worker.join();
    return true;
}

} // namespace

PipelineResult RunEffectPipeline(const int16_t *voiceData, int32_t voiceBytes, int16_t *workData, int32_t workCapacity,
                                 bool &workAltered, const TEffectSet &effects, uint32_t voiceRate, ProgressGauge *gauge)
{
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
    if (count > 0)
        ProgressStep = PipelineGaugeUnits / count;

    // Each step takes the length as the step before left it: only the echo
    // lengthens the clip, within the working buffer's capacity.
    auto run = [&](bool selected, auto &&step) {
        if (!selected || !workData)
            return;
        step(workData, result.WorkBytes / 2);
        workAltered = true;
    };

    run(effects.SweepUp, [&](int16_t *s, int32_t n) { SweepUpClip(s, n, gauge); });
    run(effects.SweepDown, [&](int16_t *s, int32_t n) { SweepDownClip(s, n, gauge); });
    run(effects.Echo,
        [&](int16_t *s, int32_t n) { result.WorkBytes = 2 * EchoEffect(s, n, 300, 70, 0.0, workCapacity / 2, gauge); });
    run(effects.Chorus, [&](int16_t *s, int32_t n) { ModulatedDelay(s, n, 20, 40, 20, 1.0, 0.0, gauge); });
    run(effects.Robotvoice, [&](int16_t *s, int32_t n) { ModulatedDelay(s, n, 12, 12, 0, 0.0, 0.75, gauge); });
    run(effects.Backward, [&](int16_t *s, int32_t n) { ReverseClip(s, n, gauge); });
    run(effects.Flange, [&](int16_t *s, int32_t n) { ModulatedDelay(s, n, 0, 6, 6, 0.9, 0.5, gauge); });
    run(effects.PitchPosition != PitchBarRest,
        [&](int16_t *s, int32_t n) { PitchShiftClip(s, n, PitchBarMax - effects.PitchPosition, gauge); });
    run(effects.FadeIn, [&](int16_t *s, int32_t n) { FadeInClip(s, n, gauge); });
    run(effects.FadeOut, [&](int16_t *s, int32_t n) { FadeOutClip(s, n, gauge); });
    if (effects.BassOnly && effects.TrebleOnly && workData && result.WorkBytes / 2 >= TwoThreadMinimum &&
        BassThenTrebleOnTwoThreads(workData, result.WorkBytes / 2, gauge)) {
        workAltered = true;
    } else {
        run(effects.BassOnly, [&](int16_t *s, int32_t n) { BassOnlyClip(s, n, gauge); });
        run(effects.TrebleOnly, [&](int16_t *s, int32_t n) { TrebleOnlyClip(s, n, true, gauge); });
    }

    result.SampleRate = voiceRate;
    if (effects.SlowMonster)
        result.SampleRate = SlowMonsterRate;
    if (effects.FastSqueaker)
        result.SampleRate = FastSqueakerRate;
    return result;
}
