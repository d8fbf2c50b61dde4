// SPDX-License-Identifier: GPL-3.0-or-later
// Each signal routine on ten minutes of speech-like noise (13,230,000
// samples). Items per second are samples per second.
#include "bench/speechnoise.h"
#include "effects/delay.h"
#include "effects/filters.h"
#include "effects/pitch.h"
#include "effects/reverse.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <functional>

namespace {

const std::vector<int16_t> &Source()
{
    static const std::vector<int16_t> clip = SpeechLikeNoise(TenMinutes);
    return clip;
}

// Runs routine over a fresh copy of the clip at every iteration, with the
// gauge units each of twelve effects gets in the pipeline; the copy is not
// timed. The buffer has room for the echo to lengthen the clip.
void RunOverClip(benchmark::State &state, const std::function<void(int16_t *, int32_t, ProgressShare)> &routine)
{
    const std::vector<int16_t> &source = Source();
    const int32_t count = static_cast<int32_t>(source.size());
    std::vector<int16_t> work(source.size() + 2 * BenchRate);
    ProgressGauge gauge;
    for (auto _ : state) {
        state.PauseTiming();
        std::copy(source.begin(), source.end(), work.begin());
        ResetProgress(gauge, 120);
        state.ResumeTiming();
        routine(work.data(), count, {&gauge, 10}); // one effect's share of twelve
        benchmark::DoNotOptimize(work.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * count);
}

void EchoEffectBench(benchmark::State &state)
{
    RunOverClip(state,
                [](int16_t *s, int32_t n, ProgressShare g) { EchoEffect(s, n, 300, 70, 0.0, n + 2 * BenchRate, g); });
}

void ChorusBench(benchmark::State &state)
{
    RunOverClip(state, [](int16_t *s, int32_t n, ProgressShare g) { ModulatedDelay(s, n, 20, 40, 20, 1.0, 0.0, g); });
}

void RobotVoiceBench(benchmark::State &state)
{
    RunOverClip(state, [](int16_t *s, int32_t n, ProgressShare g) { ModulatedDelay(s, n, 12, 12, 0, 0.0, 0.75, g); });
}

void FlangeBench(benchmark::State &state)
{
    RunOverClip(state, [](int16_t *s, int32_t n, ProgressShare g) { ModulatedDelay(s, n, 0, 6, 6, 0.9, 0.5, g); });
}

void ReverseClipBench(benchmark::State &state)
{
    RunOverClip(state, [](int16_t *s, int32_t n, ProgressShare g) { ReverseClip(s, n, g); });
}

void FadeInClipBench(benchmark::State &state)
{
    RunOverClip(state, [](int16_t *s, int32_t n, ProgressShare g) { FadeInClip(s, n, g); });
}

void FadeOutClipBench(benchmark::State &state)
{
    RunOverClip(state, [](int16_t *s, int32_t n, ProgressShare g) { FadeOutClip(s, n, g); });
}

void PitchShiftClipBench(benchmark::State &state)
{
    const int32_t amount = static_cast<int32_t>(state.range(0));
    RunOverClip(state, [amount](int16_t *s, int32_t n, ProgressShare g) { PitchShiftClip(s, n, amount, g); });
}

void SweepUpClipBench(benchmark::State &state)
{
    RunOverClip(state, [](int16_t *s, int32_t n, ProgressShare g) { SweepUpClip(s, n, g); });
}

void SweepDownClipBench(benchmark::State &state)
{
    RunOverClip(state, [](int16_t *s, int32_t n, ProgressShare g) { SweepDownClip(s, n, g); });
}

void BassOnlyClipBench(benchmark::State &state)
{
    RunOverClip(state, [](int16_t *s, int32_t n, ProgressShare g) { BassOnlyClip(s, n, g); });
}

void TrebleOnlyClipBench(benchmark::State &state)
{
    RunOverClip(state, [](int16_t *s, int32_t n, ProgressShare g) { TrebleOnlyClip(s, n, true, g); });
}

} // namespace

BENCHMARK(EchoEffectBench)->Name("EchoEffect")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(ChorusBench)->Name("ModulatedDelay/Chorus")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(RobotVoiceBench)->Name("ModulatedDelay/RobotVoice")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(FlangeBench)->Name("ModulatedDelay/Flange")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(ReverseClipBench)->Name("ReverseClip")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(FadeInClipBench)->Name("FadeInClip")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(FadeOutClipBench)->Name("FadeOutClip")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(PitchShiftClipBench)
    ->Name("PitchShiftClip")
    ->ArgName("amount")
    ->Arg(0)
    ->Arg(5)
    ->Arg(7)
    ->Arg(12)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(SweepUpClipBench)->Name("SweepUpClip")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(SweepDownClipBench)->Name("SweepDownClip")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BassOnlyClipBench)->Name("BassOnlyClip")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(TrebleOnlyClipBench)->Name("TrebleOnlyClip")->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
