// SPDX-License-Identifier: GPL-3.0-or-later
// The whole effect pipeline with all twelve processing steps on: over ten
// minutes of speech-like noise, and over a typical ten-second clip. Every
// run refills the working buffer from the voice, as playing again does.
#include "effects/pipeline.h"
#include "bench/speechnoise.h"

#include <benchmark/benchmark.h>

namespace {

TEffectSet EveryEffect()
{
    TEffectSet set;
    set.Echo = set.Chorus = set.Flange = set.FadeIn = set.FadeOut = set.BassOnly = true;
    set.Robotvoice = set.Backward = set.TrebleOnly = set.SweepUp = set.SweepDown = true;
    set.SlowMonster = true; // chooses a rate only
    set.PitchPosition = 0;  // the highest voice
    return set;
}

void PipelineBench(benchmark::State &state)
{
    const int32_t count = static_cast<int32_t>(state.range(0));
    const std::vector<int16_t> voice = SpeechLikeNoise(count);
    const int32_t voiceBytes = 2 * count;
    // Room for the echo's 300 ms, as after a recording with a larger buffer.
    std::vector<int16_t> work(static_cast<size_t>(count) + 6615);
    const int32_t workCapacity = static_cast<int32_t>(2 * work.size());
    const TEffectSet effects = EveryEffect();
    ProgressGauge gauge;
    bool workAltered = true;
    PipelineResult result;
    for (auto _ : state) {
        result =
            RunEffectPipeline(voice.data(), voiceBytes, work.data(), workCapacity, workAltered, effects, 22050, &gauge);
        benchmark::DoNotOptimize(work.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * count);
    state.counters["WorkBytes"] = result.WorkBytes;
}

} // namespace

BENCHMARK(PipelineBench)
    ->Name("RunEffectPipeline/AllTwelve")
    ->ArgName("samples")
    ->Arg(TenMinutes)
    ->Arg(TenSeconds)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime() // the steps share two threads: CPU time of both
    ->UseRealTime();

BENCHMARK_MAIN();
