// SPDX-License-Identifier: GPL-3.0-or-later
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
#include <cstring>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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
// passes that may add step units; 0 or less means the loop does not
// advance the gauge.
int32_t ProgressInterval(int32_t loopLength, int32_t step)
{
    return step != 0 ? loopLength / step : 0;
}

} // namespace

EchoStream::EchoStream(int32_t Count, int32_t DelayMs, int32_t DecayPercent, double Regeneration, int32_t MaxCount,
                       int32_t progressStep)
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
    e = ProgressInterval(count, progressStep);
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
                   int32_t MaxCount, ProgressShare progress)
{
    if (!Samples)
        return std::max(Count, 0);
    // The gauge moves once a block rather than at its exact samples.
    EchoStream stream(Count, DelayMs, DecayPercent, Regeneration, MaxCount, progress.Step);
    for (int32_t i = 0; i < stream.Length(); i += StreamBlock) {
        const int32_t units = stream.Process(Samples + i, std::min(StreamBlock, stream.Length() - i));
        if (units > 0)
            AdvanceProgress(progress.Gauge, units);
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
// 2^-35 as well, so wherever the sum with the dry part lies more than 2^-30
// from a half-integer both round to the same integer. Only there (and for
// lines of more than 2^20 samples per step) the quotients are computed as
// written.
//
// The line is kept as one stretch of memory, the last L values stored
// followed by the chunk being processed (as in the pitch shifter), so a tap
// m samples back is at a fixed distance behind the sample:
//
//   history: [ L values stored before the chunk | the chunk's slots ]
//                                                 ^ slot t of sample t
//
// Slot t first takes the input, the taps are read (m = 0 is that input),
// and with feedback the slot then takes the fed-back value.
namespace {

// Samples of a chunk beyond the history.
constexpr int32_t DelayChunk = 1 << 13;

// d mod L in 0..L - 1 for d in -L..2L.
inline int32_t SlotsBack(int32_t d, int32_t L)
{
    while (d < 0)
        d += L;
    while (d >= L)
        d -= L;
    return d;
}

} // namespace

ModulatedDelayStream::ModulatedDelayStream(int32_t Count, int32_t MinDelayMs, int32_t MaxDelayMs, int32_t SweepRate,
                                           double DryGain, double Feedback, int32_t progressStep)
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
    chunk = std::max(DelayChunk, L);
    history.assign(static_cast<std::size_t>(L) + static_cast<std::size_t>(chunk), 0);
    D = static_cast<int32_t>(RoundHalfEven((L + Dmin) * 0.5));
    sD = static_cast<double>(S);
    inverseS = 1.0 / sD;
    noFeedback = Feedback == 0.0;
    quotientShortcut = S <= (int64_t{1} << 20) && std::fabs(DryGain) <= 16.0;
    // Four at a time: the weights as 16-bit values, and every value within
    // the 32-bit range of the conversions.
    fourAtATime = quotientShortcut && S <= 32767 && std::fabs(Feedback) <= 16.0;
    if (fourAtATime) {
        weights.resize(2 * static_cast<std::size_t>(S) + 8);
        for (int64_t j = 0; j < S; ++j) {
            weights[2 * static_cast<std::size_t>(j)] = static_cast<int16_t>(S - j);
            weights[2 * static_cast<std::size_t>(j) + 1] = static_cast<int16_t>(j);
        }
        if (noFeedback)
            halves.resize(static_cast<std::size_t>(chunk));
    }
    // D = 0 and D = L both name the slot being written.
    m1 = SlotsBack(D, L);
    m2 = SlotsBack(D - dir, L);
    e = ProgressInterval(Count, progressStep);
}

int32_t ModulatedDelayStream::Process(int16_t *Samples, int32_t n)
{
    if (history.empty() || !Samples || n <= 0)
        return 0;
    // One gauge unit after every e-th sample of the clip.
    const int32_t units = e > 0 ? static_cast<int32_t>((done + n) / e - done / e) : 0;
    done += n;
    int16_t *const front = history.data();
    for (int32_t at = 0; at < n;) {
        const int32_t count = std::min(chunk, n - at);
        int16_t *const x = Samples + at;
        int16_t *const h = front + L;
        std::memcpy(h, x, static_cast<std::size_t>(count) * sizeof(int16_t));
        for (int32_t t = 0; t < count;) {
            const int32_t len = sweeping ? static_cast<int32_t>(std::min<int64_t>(count - t, S - k)) : count - t;
            Run(x, h, t, len);
            t += len;
            if (!sweeping)
                continue;
            k += len;
            if (k == S) {
                k = 0;
                if (D <= Dmin)
                    dir = +1;
                if (D >= L)
                    dir = -1;
                D += dir;
                m1 = SlotsBack(D, L);
                m2 = SlotsBack(D - dir, L);
            }
        }
        // The last L values stored move to the front.
        std::memmove(front, front + count, static_cast<std::size_t>(L) * sizeof(int16_t));
        at += count;
    }
    return units;
}

// Samples t .. t + len - 1 with the taps m1 and m2 slots back, the glide at
// k for the first of them.
void ModulatedDelayStream::Run(int16_t *x, int16_t *h, int32_t t, int32_t len)
{
    int32_t j = 0;
#if defined(__SSE2__)
    // Four samples at a time, unless a tap reads one of the three slots
    // just before with feedback on (those values are not yet stored).
    if (fourAtATime && (noFeedback || ((m1 == 0 || m1 >= 4) && (m2 == 0 || m2 >= 4))))
        j = sweeping ? (noFeedback ? RunFour<true, false>(x, h, t, len) : RunFour<true, true>(x, h, t, len))
                     : (noFeedback ? RunFour<false, false>(x, h, t, len) : RunFour<false, true>(x, h, t, len));
#endif
    for (; j < len; ++j)
        One(x, h, t + j, k + (sweeping ? j : 0));
}

// One sample as written.
void ModulatedDelayStream::One(int16_t *x, int16_t *h, int32_t t, int64_t kk)
{
    const int32_t in = x[t];
    const double dry = in * dryGain;
    const int64_t a = h[t - m2];
    const int64_t b = h[t - m1];
    int64_t v;
    if (sweeping) {
        const double approx = dry + static_cast<double>(a * (S - kk) + b * kk) * inverseS;
        v = RoundHalfEven(approx);
        if (!quotientShortcut || std::fabs(std::fabs(approx - static_cast<double>(v)) - 0.5) <= 0x1p-30)
            v = RoundHalfEven(dry + static_cast<double>(a * (S - kk)) / sD + static_cast<double>(b * kk) / sD);
    } else {
        v = RoundHalfEven(dry + static_cast<double>(a));
    }
    x[t] = Clip16(v);
    // Without feedback v * 0 + x is x itself: the line keeps the input.
    if (!noFeedback)
        h[t] = Clip16(RoundHalfEven(static_cast<double>(v) * feedback + in));
}

#if defined(__SSE2__)
// Groups of four samples: the pairs (a, b) times the weights (S - k, k) as
// 16-bit products summed into 32 bits, then the dry part and the rounding
// (half to even, by the conversion) in doubles, two at a time; the
// saturating pack clips. A group with a value near a half-integer is done
// again one sample at a time, before its feedback is stored; without
// feedback those samples are noted and mended after the chunk's run.
// Returns the samples done (whole groups).
template <bool Sweeping, bool Feedback>
int32_t ModulatedDelayStream::RunFour(int16_t *x, int16_t *h, int32_t t, int32_t len)
{
    const __m128i constantWeights = _mm_set1_epi32(1); // (1, 0): the tap at r2 alone
    const __m128d inv = _mm_set1_pd(inverseS);
    const __m128d dry = _mm_set1_pd(dryGain);
    const __m128d fb = _mm_set1_pd(feedback);
    const __m128d signless = _mm_castsi128_pd(_mm_set1_epi64x(INT64_MAX));
    const __m128d half = _mm_set1_pd(0.5);
    const __m128d near = _mm_set1_pd(0x1p-30);
    auto nearHalf = [&](__m128d approx, __m128i v) {
        const __m128d off = _mm_and_pd(_mm_sub_pd(approx, _mm_cvtepi32_pd(v)), signless);
        return _mm_movemask_pd(_mm_cmple_pd(_mm_and_pd(_mm_sub_pd(off, half), signless), near));
    };
    int32_t noted = 0;
    int32_t j = 0;
    for (; j + 4 <= len; j += 4) {
        const int32_t at = t + j;
        const __m128i in = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(x + at));
        const __m128i a = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(h + at - m2));
        const __m128i b = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(h + at - m1));
        const __m128i w = sweeping ? _mm_loadu_si128(reinterpret_cast<const __m128i *>(weights.data() + 2 * (k + j)))
                                   : constantWeights;
        const __m128i n = _mm_madd_epi16(_mm_unpacklo_epi16(a, b), w);
        const __m128i in32 = _mm_srai_epi32(_mm_unpacklo_epi16(in, in), 16);
        const __m128d inLo = _mm_cvtepi32_pd(in32);
        const __m128d inHi = _mm_cvtepi32_pd(_mm_shuffle_epi32(in32, 0xEE));
        __m128d lo = _mm_mul_pd(_mm_cvtepi32_pd(n), inv);
        __m128d hi = _mm_mul_pd(_mm_cvtepi32_pd(_mm_shuffle_epi32(n, 0xEE)), inv);
        lo = _mm_add_pd(_mm_mul_pd(inLo, dry), lo);
        hi = _mm_add_pd(_mm_mul_pd(inHi, dry), hi);
        const __m128i vLo = _mm_cvtpd_epi32(lo);
        const __m128i vHi = _mm_cvtpd_epi32(hi);
        int lanes = 0;
        if constexpr (Sweeping)
            lanes = nearHalf(lo, vLo) | (nearHalf(hi, vHi) << 2);
        if (Feedback && lanes != 0) [[unlikely]] {
            for (int32_t i = 0; i < 4; ++i)
                One(x, h, at + i, k + j + i);
            continue;
        }
        const __m128i v = _mm_unpacklo_epi64(vLo, vHi);
        _mm_storel_epi64(reinterpret_cast<__m128i *>(x + at), _mm_packs_epi32(v, v));
        if constexpr (!Feedback) {
            halves[static_cast<std::size_t>(noted)] = {at, static_cast<int32_t>(k + j), lanes};
            noted += lanes != 0 ? 1 : 0;
        } else {
            const __m128i fLo = _mm_cvtpd_epi32(_mm_add_pd(_mm_mul_pd(_mm_cvtepi32_pd(vLo), fb), inLo));
            const __m128i fHi = _mm_cvtpd_epi32(_mm_add_pd(_mm_mul_pd(_mm_cvtepi32_pd(vHi), fb), inHi));
            const __m128i f = _mm_unpacklo_epi64(fLo, fHi);
            _mm_storel_epi64(reinterpret_cast<__m128i *>(h + at), _mm_packs_epi32(f, f));
        }
    }
    // Without feedback the line keeps the inputs: the noted samples are
    // done again as written from them (x[t] is h[t]).
    for (int32_t i = 0; i < noted; ++i) {
        const Noted &m = halves[static_cast<std::size_t>(i)];
        for (int32_t lane = 0; lane < 4; ++lane) {
            if (m.lanes & (1 << lane)) {
                x[m.at + lane] = h[m.at + lane];
                One(x, h, m.at + lane, m.k + lane);
            }
        }
    }
    return j;
}
#endif

void ModulatedDelay(int16_t *Samples, int32_t Count, int32_t MinDelayMs, int32_t MaxDelayMs, int32_t SweepRate,
                    double DryGain, double Feedback, ProgressShare progress)
{
    if (!Samples || Count <= 0)
        return;
    // The gauge moves once a block rather than at its exact samples.
    ModulatedDelayStream stream(Count, MinDelayMs, MaxDelayMs, SweepRate, DryGain, Feedback, progress.Step);
    for (int32_t i = 0; i < Count; i += StreamBlock) {
        const int32_t units = stream.Process(Samples + i, std::min(StreamBlock, Count - i));
        if (units > 0)
            AdvanceProgress(progress.Gauge, units);
    }
}
