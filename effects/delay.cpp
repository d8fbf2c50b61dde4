// Delay-line effects.
//
//   EchoEffect:      x ──┬──────────────(+)── y ── clip ── out
//                        │               ^
//                        └─► line[d] ─ ×decay
//   ModulatedDelay:  x ──┬── ×dry ────────(+)── v ── clip ── out
//                        ▼                 ^    │
//                      line[L] ── tap D ───┘    ×feedback ─► back into line
//
// Both lines hold 16-bit values and are indexed by positions that move
// forward one slot per sample, wrapping at the line length. Delays given in
// milliseconds are always converted at 22050 samples per second.
//
//   Effect       call                              line   step S   start D
//   Echo         300 ms, 70 %, regen 0.0           6615   -        -
//   Chorus       20..40 ms, rate 20, dry 1.0       882    50       662
//   Robot voice  12..12 ms, rate 0, fb 0.75        265    never    265
//   Flange       0..6 ms, rate 6, dry 0.9, fb 0.5  132    167      66
#include "effects/delay.h"

#include "effects/sample.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

// Longest delay line ModulatedDelay accepts: a minute of sound. Longer
// requests are refused rather than allowed to allocate without bound.
constexpr int64_t MaxModulatedLine = 60 * 22050;

// Milliseconds as samples at 22050 per second, in 64 bits so that no
// argument overflows (same value as MsToSamples wherever that is defined).
int64_t DelaySamples(int32_t ms)
{
    return RoundHalfEven(static_cast<double>(ms) * 22050.0 * 0.001);
}

// Samples between two advances of the gauge for a loop of loopLength
// passes; 0 or less means the loop does not advance the gauge.
int32_t ProgressInterval(int32_t loopLength)
{
    return ProgressStep != 0 ? loopLength / ProgressStep : 0;
}

} // namespace

EchoStream::EchoStream(int32_t Count, int32_t DelayMs, int32_t DecayPercent, double Regeneration, int32_t MaxCount)
{
    count = std::max(Count, 0);
    MaxCount = std::max(MaxCount, 0);
    length = count;
    const int64_t d = DelaySamples(DelayMs);
    if (d <= 0)
        return; // no delay line: nothing to repeat
    length = static_cast<int32_t>(std::min<int64_t>(count + d, MaxCount));
    // 70 / 100.0 is the double nearest 0.7; 70 * 0.01 is one step above it
    // and would round about one echoed sample in twenty differently.
    decay = DecayPercent / 100.0;
    regeneration = Regeneration;
    // A repeat lands d - 1 samples after its source, so a line longer than
    // MaxCount + 1 is never read back within the clip: every read would find
    // zero, exactly as in the shorter line.
    lineLength = std::min<int64_t>(d, static_cast<int64_t>(MaxCount) + 1);
    line.assign(static_cast<std::size_t>(lineLength), 0);
    w = lineLength - 1;
    e = ProgressInterval(count);
    // The gauge moves after every e-th sample.
    nextAdvance = e > 0 ? e : INT64_MAX;
}

int32_t EchoStream::Process(int16_t *Samples, int32_t n)
{
    if (line.empty() || !Samples || n <= 0)
        return 0;
    int16_t *const ln = line.data();
    int32_t units = 0;
    // Output i is x[i] + Round(decay * line[r]), where line[r] holds what
    // was stored d - 1 samples earlier. The clip is taken in runs that end
    // where a line index wraps, the input ends or the gauge moves.
    const int32_t stop = static_cast<int32_t>(std::min<int64_t>(int64_t{i} + n, length));
    int16_t *const base = Samples - i; // sample j of the clip is base[j]
    while (i < stop) {
        const bool tail = i >= count; // past the input: silence goes in
        const int32_t end = static_cast<int32_t>(std::min<int64_t>(
            {tail ? stop : std::min(count, stop), i + (lineLength - r), i + (lineLength - w), nextAdvance}));
        for (; i < end; ++i, ++r, ++w) {
            const int32_t x = tail ? 0 : base[i];
            const int64_t y = RoundHalfEven(ln[r] * decay) + x;
            ln[w] = Wrap16(RoundHalfEven(static_cast<double>(y) * regeneration + x));
            base[i] = Clip16(y);
        }
        if (r == lineLength)
            r = 0;
        if (w == lineLength)
            w = 0;
        if (i == nextAdvance) {
            ++units;
            nextAdvance += e;
        }
    }
    return units;
}

int32_t EchoEffect(int16_t *Samples, int32_t Count, int32_t DelayMs, int32_t DecayPercent, double Regeneration,
                   int32_t MaxCount, ProgressGauge *gauge)
{
    if (!Samples)
        return std::max(Count, 0);
    // The gauge moves once a block rather than at its exact samples.
    EchoStream stream(Count, DelayMs, DecayPercent, Regeneration, MaxCount);
    for (int32_t i = 0; i < stream.Length(); i += StreamBlock) {
        const int32_t units = stream.Process(Samples + i, std::min(StreamBlock, stream.Length() - i));
        if (units > 0)
            AdvanceProgress(gauge, units);
    }
    return stream.Length();
}

// The modulated delay's loop. Sweeping: the delay moves every S samples, so
// the taps glide; without it S is 1 and k stays 0, and the glide reduces to
// the value at r2 itself: line[r2] * 1 / 1 + line[r1] * 0 / 1 is exactly
// line[r2] (plus a zero that changes no rounding).
//
// The glide's two quotients are not divided out sample by sample: their sum
// differs from (line[r2] (S - k) + line[r1] k) / S by under 2^-36 (each is
// correctly rounded and below 2^15), and the product with 1 / S by under
// 2^-35 as well, so wherever the sum with the dry part lies at least 2^-30
// from a half-integer both round to the same integer. Only there (and for
// lines of more than 2^20 samples per step) the quotients are computed as
// written.
ModulatedDelayStream::ModulatedDelayStream(int32_t Count, int32_t MinDelayMs, int32_t MaxDelayMs, int32_t SweepRate,
                                           double DryGain, double Feedback)
{
    const int64_t lineSamples = DelaySamples(MaxDelayMs);
    if (Count <= 0 || lineSamples < 1 || lineSamples > MaxModulatedLine)
        return;
    L = static_cast<int32_t>(lineSamples);
    // The delay sweeps between Dmin and L; a minimum outside 0..L would put
    // the taps outside the line.
    Dmin = static_cast<int32_t>(std::clamp<int64_t>(DelaySamples(MinDelayMs), 0, L));
    sweeping = SweepRate != 0;
    if (sweeping) {
        // A rate so fast (or so negative) that the interval rounds below one
        // sample moves the delay at every sample.
        const double rate = std::abs(static_cast<double>(SweepRate)) * 22050.0 * 0.001;
        S = std::max<int64_t>(RoundHalfEven(22050 / rate), 1);
    }
    dryGain = DryGain;
    feedback = Feedback;
    line.assign(static_cast<std::size_t>(L), 0);
    D = static_cast<int32_t>(RoundHalfEven((L + Dmin) * 0.5));
    sD = static_cast<double>(S);
    inverseS = 1.0 / sD;
    noFeedback = Feedback == 0.0;
    quotientShortcut = S <= (int64_t{1} << 20) && std::fabs(DryGain) <= 16.0;
    // D = 0 and D = L both name the slot being written.
    r1 = (L - D) % L;
    r2 = (r1 + dir) % L;
    e = ProgressInterval(Count);
    untilAdvance = e;
}

int32_t ModulatedDelayStream::Process(int16_t *Samples, int32_t n)
{
    if (line.empty() || !Samples || n <= 0)
        return 0;
    return sweeping ? Run<true>(Samples, n) : Run<false>(Samples, n);
}

template <bool Sweeping> int32_t ModulatedDelayStream::Run(int16_t *Samples, int32_t Count)
{
    int16_t *const ln = line.data();
    int32_t units = 0;
    // Each input is stored before the taps are read, so the tap at offset D
    // reads the value stored D samples earlier (the current input for D = 0
    // or L). While k runs from 0 to S the weight glides from r2 (the old
    // offset) to r1 (the new one).
    for (int32_t i = 0; i < Count; ++i) {
        const int32_t x = Samples[i];
        ln[w] = static_cast<int16_t>(x);
        int64_t v;
        if constexpr (Sweeping) {
            const double dry = x * dryGain;
            const int64_t a = ln[r2];
            const int64_t b = ln[r1];
            const double approx = dry + static_cast<double>(a * (S - k) + b * k) * inverseS;
            v = RoundHalfEven(approx);
            if (!quotientShortcut || std::fabs(std::fabs(approx - static_cast<double>(v)) - 0.5) <= 0x1p-30)
                v = RoundHalfEven(dry + static_cast<double>(a * (S - k)) / sD + static_cast<double>(b * k) / sD);
        } else {
            v = RoundHalfEven(x * dryGain + static_cast<double>(ln[r2]));
        }
        Samples[i] = Clip16(v);
        // Without feedback v * 0 + x is x itself: the line keeps the input.
        if (!noFeedback)
            ln[w] = Clip16(RoundHalfEven(static_cast<double>(v) * feedback + ln[w]));
        if (e > 0 && --untilAdvance == 0) {
            untilAdvance = e;
            ++units;
        }

        if (++w == L)
            w = 0;
        if (++r1 == L)
            r1 = 0;
        if (++r2 == L)
            r2 = 0;

        if constexpr (Sweeping) {
            if (++k == S) {
                k = 0;
                if (D <= Dmin)
                    dir = +1;
                if (D >= L)
                    dir = -1;
                D += dir;
                r1 = w >= D ? w - D : L - (D - w);
                r2 = ((r1 + dir) % L + L) % L;
            }
        }
    }
    return units;
}

void ModulatedDelay(int16_t *Samples, int32_t Count, int32_t MinDelayMs, int32_t MaxDelayMs, int32_t SweepRate,
                    double DryGain, double Feedback, ProgressGauge *gauge)
{
    if (!Samples || Count <= 0)
        return;
    // The gauge moves once a block rather than at its exact samples.
    ModulatedDelayStream stream(Count, MinDelayMs, MaxDelayMs, SweepRate, DryGain, Feedback);
    for (int32_t i = 0; i < Count; i += StreamBlock) {
        const int32_t units = stream.Process(Samples + i, std::min(StreamBlock, Count - i));
        if (units > 0)
            AdvanceProgress(gauge, units);
    }
}
