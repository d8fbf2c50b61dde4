// SPDX-License-Identifier: GPL-3.0-or-later
// The delay-line pitch shifter.
//
//   input ──► line[w] (L samples, circular) ──► tap A (delay DA) ─ gA ─┐
//                                          └──► tap B (delay DB) ─ gB ─┴─► a ──► Round(x·Dry + a·Wet), clipped
//
// Every S samples both delays move one sample (dir = +1 grows: lower pitch;
// -1 shrinks: higher pitch), read with linear interpolation between the
// sample at the delay and its neighbour one step further on. Every G steps
// the taps take turns starting again from D0, with a 265-sample quarter-sine
// crossfade handing the output over.
//
// | Amounts | Rate                  | MaxDelayMs | L   | S       | G         | delay     |
// |---------|-----------------------|------------|-----|---------|-----------|-----------|
// | 0..5    | -0.292893 .. -0.056126 | 35        | 772 | 3 .. 18 | 684 .. 757 | growing   |
// | 7..10   | 0.059463 .. 0.259921  | 15         | 331 | 17 .. 4 | 315 .. 265 | shrinking |
// | 11, 12  | 0.33484, 0.414214     | 25         | 551 | 3, 2    | 463, 419  | shrinking |
#include "effects/pitch.h"

#include "effects/sample.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <numbers>
#include <vector>

// What the stream holds: one of the four loops below with its state.
class PitchShifterState {
public:
    virtual ~PitchShifterState() = default;
    virtual int32_t Process(int16_t *Samples, int32_t Count) = 0;
};

namespace {

// The line as one stretch of memory: the last L values stored, oldest
// first, followed by the values of the samples being processed, so that a
// tap reads at a fixed distance behind the sample without wrapping. After
// each chunk the last L values move to the front.
//
//   history: [ x[i-L] ... x[i-1] | x[i] x[i+1] ... ]
//                                  ^ position L + t for sample t of the chunk
//
// The value stored m samples before the current one (1 <= m <= L) is at
// position L + t - m. A tap at delay D reads the slot D places behind the
// one about to be written, wrapping within L slots: delay 0 and delay L
// both find the oldest value, and the neighbour of a tap (delay D + dir)
// may lie one place outside 0..L and wrap as well.
// (d runs from -1 to L + 1.)
inline int32_t StoredBefore(int32_t d, int32_t L)
{
    int32_t m = d - 1;
    while (m < 0)
        m += L;
    while (m >= L)
        m -= L;
    return m + 1;
}

// Samples of a chunk beyond the history (the history holds L + Chunk
// values, or twice a line longer than that).
constexpr int32_t Chunk = 1 << 13;

// One tap as written: the value v1 gliding towards v2 as k runs from 0 to S.
inline double TapValue(int32_t v1, int32_t v2, int64_t S, double sD, int64_t k)
{
    return static_cast<double>(v1 * (S - k)) / sD + static_cast<double>(v2 * k) / sD;
}

// The two taps' mix as written: a tap whose gain is exactly 0 adds exactly
// 0, so it is not read.
inline double ExactMix(int32_t a1, int32_t a2, int32_t b1, int32_t b2, int64_t S, double sD, int64_t k, double gA,
                       double gB)
{
    if (gB == 0.0)
        return gA * TapValue(a1, a2, S, sD, k);
    if (gA == 0.0)
        return gB * TapValue(b1, b2, S, sD, k);
    return gA * TapValue(a1, a2, S, sD, k) + gB * TapValue(b1, b2, S, sD, k);
}

// Whether a tap alone at gain 1, rounded from n times the reciprocal of S,
// is always the rounding of the quotients as written (for S up to 2^20).
// For S a power of two both quotients of a tap, their sum and n / S are
// exact. For S odd, n / S is never a half-integer: it lies at least 1 / 2S
// (at least 2^-21) from every one, far beyond the 2^-36 by which either
// computation may miss it, so both round to the nearest integer of n / S.
// Only an even S that is no power of two can meet a half-integer exactly,
// where the quotients' rounding error decides.
inline bool TapAloneNeedsNoCheck(int64_t S)
{
    return (S & (S - 1)) == 0 || (S & 1) == 1;
}

// Rounding without the divisions. A tap's two correctly rounded quotients
// and their sum are within 2^-37 of n / S, n = v1 (S - k) + v2 k (each
// quotient is below 2^15), and so is n times the reciprocal of S for S up
// to 2^20; with gains of at most 1 the two mixes differ by under 2^-33.
// Wherever the approximate mix lies more than 2^-30 from a half-integer
// both round to the same integer; nearer, the quotients decide as written.
inline bool NearHalf(double approx, int64_t rounded)
{
    return std::fabs(std::fabs(approx - static_cast<double>(rounded)) - 0.5) <= 0x1p-30;
}

// Plain: no dry signal, the wet one at gain 1 and no feedback, as for every
// amount of the pitch bar and both sweeps. Then a * 0 + x is x and x * 0 +
// a * 1 is a, exactly: the line keeps the input and the output is the mix,
// clipped.
template <bool Sweep, bool Plain> class Shifter final : public PitchShifterState {
public:
    Shifter(const PitchShiftPlan &p, int32_t clipCount, int32_t progressStep)
        : plan(p), L(p.L), Dmin(p.Dmin), D0(p.D0), dir(p.Dir), dryGain(p.DryGain), wetGain(p.WetGain),
          feedback(p.Feedback), chunk(std::max(Chunk, p.L)),
          history(static_cast<size_t>(p.L) + static_cast<size_t>(chunk), 0), S(p.S), sD(static_cast<double>(p.S)),
          inverseS(1.0 / sD),
          // Past 2^20 samples a step the reciprocal is not close enough
          // (see NearHalf); a sweep only moves S between its two ends.
          quotientShortcut(std::max(p.S, Sweep ? p.SMax : p.S) <= (int64_t{1} << 20)), G(p.G), cnt(p.G), DA(p.D0),
          DB(p.D0), e(progressStep > 0 ? clipCount / progressStep : 0)
    {
        if constexpr (Plain)
            halves.resize(static_cast<size_t>(chunk));
        // Room for the weights of the largest S the vector loop takes, so
        // that no run allocates (a live chain runs on the audio thread).
        const int64_t largestS = std::min<int64_t>(std::max(p.S, Sweep ? p.SMax : p.S), 32767);
        weights.reserve(2 * static_cast<size_t>(largestS) + 8);
        for (int32_t j = 0; j < PitchCrossfadeLength; ++j) {
            sinTable[j] = std::sin(j * (std::numbers::pi / 2) / PitchCrossfadeLength);
            cosTable[j] = std::cos(j * (std::numbers::pi / 2) / PitchCrossfadeLength);
        }
        tableA = sinTable;
        tableB = cosTable;
        Locate();
    }

    // The next Count samples of the clip; returns the gauge units due: one
    // after every e-th sample of the clip.
    int32_t Process(int16_t *Samples, int32_t Count) override
    {
        int32_t units = 0;
        if (e > 0)
            units = static_cast<int32_t>((done + Count) / e - done / e);
        done += Count;
        int16_t *const h = history.data();
        for (int32_t at = 0; at < Count;) {
            const int32_t n = std::min(chunk, Count - at);
            ProcessChunk(Samples + at, n);
            // The last L values stored move to the front.
            std::memmove(h, h + n, static_cast<size_t>(L) * sizeof(int16_t));
            at += n;
        }
        return units;
    }

private:
    // Where the four tap values lie behind the sample being written.
    void Locate()
    {
        mA1 = StoredBefore(DA, L);
        mA2 = StoredBefore(DA + dir, L);
        mB1 = StoredBefore(DB, L);
        mB2 = StoredBefore(DB + dir, L);
    }

    // The chunk's samples in runs between two steps of the delays: within
    // a run the four taps move on with the samples and k grows by one a
    // sample (stays 0 when the delays never move).
    void ProcessChunk(int16_t *x, int32_t n)
    {
        int16_t *const h = history.data() + L; // h[t] is sample t's slot
        if constexpr (Plain)
            std::memcpy(h, x, static_cast<size_t>(n) * sizeof(int16_t));
        int32_t t = 0;
        while (t < n) {
            if (plan.Steps && k == 0 && quotientShortcut)
                t += WholeSteps(x, h, t, n);
            if (t == n)
                break;
            int32_t len = n - t;
            if (plan.Steps) {
                len = static_cast<int32_t>(std::min<int64_t>(len, S - k));
                // (A Q below 1 moves S after every sample.)
                if constexpr (Sweep)
                    len = static_cast<int32_t>(std::min<int64_t>(len, std::max<int64_t>(plan.Q - q, 1)));
            }
            Run(x, h, t, len);
            t += len;
            if (!plan.Steps)
                continue;
            if constexpr (Sweep) {
                // The sweep moves S first; k may then already be past the new
                // S, which is why the step below tests k >= S.
                q += len;
                if (q >= plan.Q) {
                    q = 0;
                    S += plan.SDir;
                    if (S > plan.SMax)
                        S = plan.SMax;
                    if (S < plan.SMin)
                        S = plan.SMin;
                    sD = static_cast<double>(S);
                    inverseS = 1.0 / sD;
                    G = PitchRestartSteps(L, Dmin, S);
                }
            }
            k += len;
            if (k < S)
                continue;
            Step();
        }
    }

    // Steps a tap at delay D can take (D and the neighbour moving by dir
    // each step) while both stay within 1..L, where they read exactly D
    // and D + dir samples back, and the delay needs no clamping.
    int64_t RegularSteps(int32_t D) const
    {
        const int32_t lowest = std::max(Dmin, 1);
        if (D < lowest || D > L)
            return 0;
        return dir < 0 ? D - lowest : L - D;
    }

    // From the start of a step: as many whole steps as lie before the end
    // of the chunk, the next restart, the next move of S and the edges of
    // the delays' regular range, each within a crossfade or each outside
    // one, in one loop of steps and samples. Returns the samples done.
    int32_t WholeSteps(int16_t *x, int16_t *h, int32_t t, int32_t n)
    {
        int64_t steps = std::min<int64_t>((n - t) / S, cnt - 1);
        if constexpr (Sweep)
            steps = std::min(steps, std::max<int64_t>(plan.Q - q - 1, 0) / S);
        const bool aAlone = gB == 0.0;
        if (c == 0)
            steps = std::min(steps, RegularSteps(aAlone ? DA : DB));
        else
            steps = std::min({steps, c / S, RegularSteps(DA), RegularSteps(DB)});
        if (steps <= 0)
            return 0;
        const int32_t samples = static_cast<int32_t>(steps * S);
        if (c == 0) {
            const int32_t D = aAlone ? DA : DB;
            if (dir < 0)
                AloneSteps<-1>(x + t, h + t, h + t - D, steps);
            else
                AloneSteps<+1>(x + t, h + t, h + t - D, steps);
        } else {
            CrossfadeSteps(x + t, h + t, h + t - DA, h + t - DB, steps);
        }
        if constexpr (Sweep)
            q += samples;
        cnt -= static_cast<int32_t>(steps);
        DA = static_cast<int32_t>(std::clamp<int64_t>(DA + dir * steps, Dmin, L));
        DB = static_cast<int32_t>(std::clamp<int64_t>(DB + dir * steps, Dmin, L));
        Locate();
        return samples;
    }

    // One tap alone: sample j of step s reads r[j] and its neighbour r[j -
    // Dir] with r = the tap's value at the step's first sample; the next
    // step starts S - Dir values on, as the delay moves by Dir.
    template <int Dir> void AloneSteps(int16_t *x, int16_t *h, const int16_t *r, int64_t steps)
    {
        const int64_t s = S;
        const double inv = inverseS;
        const bool check = !TapAloneNeedsNoCheck(s);
        if constexpr (Plain) {
            // A half-integer (one sample in S / 2 where S is even) goes by
            // the quotients as written; the outputs feed nothing back, so
            // those samples are noted in passing and mended afterwards,
            // with no branch in the loop.
            int32_t noted = 0;
#if defined(__SSE2__)
            if (s >= 4 && s <= 32767) {
                noted = check ? VectorSteps<Dir, true>(x, r, steps) : VectorSteps<Dir, false>(x, r, steps);
                Mend(x, noted);
                return;
            }
#endif
            if (check) {
                int32_t at = 0;
                for (int64_t step = 0; step < steps; ++step, r += s - Dir) {
                    for (int64_t j = 0; j < s; ++j, ++at) {
                        const int32_t v1 = r[j], v2 = r[j - Dir];
                        const double approx = static_cast<double>(v1 * (s - j) + v2 * j) * inv;
                        const int64_t a = RoundHalfEven(approx);
                        x[at] = Clip16(a);
                        halves[static_cast<size_t>(noted)] = {r + j, -Dir, at, static_cast<int32_t>(j), 1};
                        noted += NearHalf(approx, a) ? 1 : 0;
                    }
                }
                Mend(x, noted);
                return;
            }
        }
        for (int64_t step = 0; step < steps; ++step, x += s, h += s, r += s - Dir) {
            for (int64_t j = 0; j < s; ++j) {
                const int32_t v1 = r[j], v2 = r[j - Dir];
                const double approx = static_cast<double>(v1 * (s - j) + v2 * j) * inv;
                int64_t a = RoundHalfEven(approx);
                if (check && NearHalf(approx, a)) [[unlikely]]
                    a = RoundHalfEven(TapValue(v1, v2, s, sD, j));
                Store(x, h, static_cast<int32_t>(j), a);
            }
        }
    }

    // The noted samples by the quotients as written.
    void Mend(int16_t *x, int32_t noted) const
    {
        for (int32_t i = 0; i < noted; ++i) {
            const Half &m = halves[static_cast<size_t>(i)];
            for (int32_t lane = 0; lane < 4; ++lane) {
                if (m.lanes & (1 << lane)) {
                    const int32_t j = m.k + lane;
                    x[m.at + lane] = Clip16(RoundHalfEven(TapValue(m.r[lane], m.r[lane + m.next], S, sD, j)));
                }
            }
        }
    }

#if defined(__SSE2__)
    // AloneSteps four samples at a time for S from 4 to 32767: the pairs
    // (v1, v2) times the weights (S - k, k) summed as 16-bit products into
    // 32-bit n (|n| <= 32768 S), n times 1 / S in doubles, rounded half to
    // even by the conversion and clipped by the saturating pack. The last
    // S mod 4 samples of each step go one at a time. Returns the samples
    // noted near a half-integer (Check).
    template <int Dir, bool Check> int32_t VectorSteps(int16_t *x, const int16_t *r, int64_t steps)
    {
        const int32_t s = static_cast<int32_t>(S);
        if (weightsFor != s) {
            weights.resize(2 * static_cast<size_t>(s) + 8);
            for (int32_t j = 0; j < s; ++j) {
                weights[2 * static_cast<size_t>(j)] = static_cast<int16_t>(s - j);
                weights[2 * static_cast<size_t>(j) + 1] = static_cast<int16_t>(j);
            }
            weightsFor = s;
        }
        const int16_t *const wt = weights.data();
        const __m128d inv = _mm_set1_pd(inverseS);
        const __m128d signless = _mm_castsi128_pd(_mm_set1_epi64x(INT64_MAX));
        const __m128d half = _mm_set1_pd(0.5);
        const __m128d near = _mm_set1_pd(0x1p-30);
        const int32_t whole = s & ~3;
        int32_t noted = 0;
        int32_t at = 0;
        for (int64_t step = 0; step < steps; ++step, r += s - Dir) {
            int32_t j = 0;
            for (; j < whole; j += 4, at += 4) {
                const __m128i v1 = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(r + j));
                const __m128i v2 = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(r + j - Dir));
                const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i *>(wt + 2 * j));
                const __m128i n = _mm_madd_epi16(_mm_unpacklo_epi16(v1, v2), w);
                const __m128d lo = _mm_mul_pd(_mm_cvtepi32_pd(n), inv);
                const __m128d hi = _mm_mul_pd(_mm_cvtepi32_pd(_mm_shuffle_epi32(n, 0xEE)), inv);
                const __m128i rlo = _mm_cvtpd_epi32(lo);
                const __m128i rhi = _mm_cvtpd_epi32(hi);
                const __m128i rounded = _mm_unpacklo_epi64(rlo, rhi);
                _mm_storel_epi64(reinterpret_cast<__m128i *>(x + at), _mm_packs_epi32(rounded, rounded));
                if constexpr (Check) {
                    auto nearHalf = [&](__m128d approx, __m128i a) {
                        const __m128d off = _mm_and_pd(_mm_sub_pd(approx, _mm_cvtepi32_pd(a)), signless);
                        return _mm_movemask_pd(_mm_cmple_pd(_mm_and_pd(_mm_sub_pd(off, half), signless), near));
                    };
                    const int lanes = nearHalf(lo, rlo) | (nearHalf(hi, rhi) << 2);
                    halves[static_cast<size_t>(noted)] = {r + j, -Dir, at, j, lanes};
                    noted += lanes != 0 ? 1 : 0;
                }
            }
            for (; j < s; ++j, ++at) {
                const int32_t v1 = r[j], v2 = r[j - Dir];
                const double approx = static_cast<double>(v1 * (s - j) + v2 * j) * inverseS;
                const int64_t a = RoundHalfEven(approx);
                x[at] = Clip16(a);
                if constexpr (Check) {
                    halves[static_cast<size_t>(noted)] = {r + j, -Dir, at, j, 1};
                    noted += NearHalf(approx, a) ? 1 : 0;
                }
            }
        }
        return noted;
    }
#endif

    // Both taps within a crossfade, their gains following the tables.
    void CrossfadeSteps(int16_t *x, int16_t *h, const int16_t *ra, const int16_t *rb, int64_t steps)
    {
        const int64_t s = S;
        const double inv = inverseS;
        for (int64_t step = 0; step < steps; ++step, x += s, h += s, ra += s - dir, rb += s - dir) {
            for (int64_t j = 0; j < s; ++j) {
                const int32_t a1 = ra[j], a2 = ra[j - dir], b1 = rb[j], b2 = rb[j - dir];
                const double approx = gA * (static_cast<double>(a1 * (s - j) + a2 * j) * inv) +
                                      gB * (static_cast<double>(b1 * (s - j) + b2 * j) * inv);
                int64_t a = RoundHalfEven(approx);
                if (NearHalf(approx, a)) [[unlikely]]
                    a = RoundHalfEven(ExactMix(a1, a2, b1, b2, s, sD, j, gA, gB));
                Store(x, h, static_cast<int32_t>(j), a);
                --c;
                gA = tableA[c];
                gB = tableB[c];
            }
        }
    }

    // One step of both delays, and every G steps a restart of one tap.
    void Step()
    {
        k = 0;
        DA += dir;
        DB += dir;
        DA = DA > L ? L : (DA < Dmin ? Dmin : DA);
        DB = DB > L ? L : (DB < Dmin ? Dmin : DB);
        if (--cnt <= 0) {
            c = PitchCrossfadeLength;
            cnt = G;
            if (nextIsB) {
                // A fades out, B starts again and fades in.
                DB = D0;
                tableA = sinTable;
                tableB = cosTable;
            } else {
                DA = D0;
                tableA = cosTable;
                tableB = sinTable;
            }
            nextIsB = !nextIsB;
        }
        Locate();
    }

    // Samples t .. t + len - 1 with the delays as they are.
    void Run(int16_t *x, int16_t *h, int32_t t, int32_t len)
    {
        const int64_t kStep = plan.Steps ? 1 : 0;
        int64_t kk = k;
        // While a crossfade runs the gains follow the tables, a sample at a
        // time: each sample uses the gains as they are, then they move on.
        while (len > 0 && c > 0) {
            const int32_t a1 = h[t - mA1], a2 = h[t - mA2], b1 = h[t - mB1], b2 = h[t - mB2];
            int64_t a;
            if (quotientShortcut) {
                const double tapA = static_cast<double>(a1 * (S - kk) + a2 * kk) * inverseS;
                const double tapB = static_cast<double>(b1 * (S - kk) + b2 * kk) * inverseS;
                const double approx = gA * tapA + gB * tapB;
                a = RoundHalfEven(approx);
                if (NearHalf(approx, a))
                    a = RoundHalfEven(ExactMix(a1, a2, b1, b2, S, sD, kk, gA, gB));
            } else {
                a = RoundHalfEven(ExactMix(a1, a2, b1, b2, S, sD, kk, gA, gB));
            }
            Store(x, h, t, a);
            --c;
            gA = tableA[c];
            gB = tableB[c];
            ++t;
            --len;
            kk += kStep;
        }
        if (len <= 0)
            return;
        // Between crossfades one tap alone has gain 1 and the other 0 (the
        // tables end on sin 0 and cos 0, exactly 0 and 1): the mix is that
        // tap's value.
        const bool aAlone = gB == 0.0;
        const int16_t *const p1 = h + t - (aAlone ? mA1 : mB1);
        const int16_t *const p2 = h + t - (aAlone ? mA2 : mB2);
        int16_t *const xt = x + t;
        int16_t *const ht = h + t;
        if (quotientShortcut && TapAloneNeedsNoCheck(S)) {
            for (int32_t j = 0; j < len; ++j, kk += kStep)
                Store(xt, ht, j, RoundHalfEven(static_cast<double>(p1[j] * (S - kk) + p2[j] * kk) * inverseS));
        } else if (quotientShortcut) {
            for (int32_t j = 0; j < len; ++j, kk += kStep) {
                const double approx = static_cast<double>(p1[j] * (S - kk) + p2[j] * kk) * inverseS;
                int64_t a = RoundHalfEven(approx);
                if (NearHalf(approx, a))
                    a = RoundHalfEven(TapValue(p1[j], p2[j], S, sD, kk));
                Store(xt, ht, j, a);
            }
        } else {
            for (int32_t j = 0; j < len; ++j, kk += kStep)
                Store(xt, ht, j, RoundHalfEven(TapValue(p1[j], p2[j], S, sD, kk)));
        }
    }

    // Sample t's input goes into the line (or, with feedback, the input and
    // the fed-back mix a), and its output replaces it.
    [[gnu::always_inline]] void Store(int16_t *x, int16_t *h, int32_t t, int64_t a) const
    {
        const int32_t in = x[t];
        if constexpr (Plain) {
            x[t] = Clip16(a); // the chunk's inputs are in the line already
        } else {
            h[t] = Wrap16(RoundHalfEven(static_cast<double>(a) * feedback + in));
            x[t] = Clip16(RoundHalfEven(in * dryGain + static_cast<double>(a) * wetGain));
        }
    }

    const PitchShiftPlan plan;
    const int32_t L;
    const int32_t Dmin;
    const int32_t D0;
    const int32_t dir;
    const double dryGain;
    const double wetGain;
    const double feedback;
    const int32_t chunk;
    std::vector<int16_t> history; // L values stored before the chunk, then the chunk's
    double sinTable[PitchCrossfadeLength];
    double cosTable[PitchCrossfadeLength];
    int64_t S;
    double sD;
    double inverseS;
    const bool quotientShortcut;
    int32_t G;
    double gA = 1.0;
    double gB = 0.0;
    const double *tableA = nullptr; // the table gA follows
    const double *tableB = nullptr;
    int32_t c = 0;
    int32_t cnt;
    bool nextIsB = true;
    int64_t k = 0;
    int64_t q = 0;
    int32_t DA;
    int32_t DB;
    int32_t mA1 = 1; // the taps' values were stored this many samples before
    int32_t mA2 = 1;
    int32_t mB1 = 1;
    int32_t mB2 = 1;
    const int32_t e;
    int64_t done = 0; // samples processed
    // Samples of a run of whole steps whose mix came near a half-integer.
    // (lanes: which of the four samples from at on; r: their first tap
    // values, the neighbours next places on.)
    struct Half {
        const int16_t *r;
        int32_t next;
        int32_t at;
        int32_t k;
        int32_t lanes;
    };
    std::vector<Half> halves;
    std::vector<int16_t> weights; // (S - k, k) for k = 0 .. S - 1
    int32_t weightsFor = 0;       // the S they are for
};

} // namespace

int64_t PitchStepInterval(double rate)
{
    const double magnitude = std::fabs(rate);
    if (magnitude == 0.0)
        return 1;
    const double inverse = 1.0 / magnitude;
    constexpr double Largest = 2147483648.0; // a step this rare never comes in a clip
    if (!(inverse < Largest))
        return static_cast<int64_t>(Largest);
    const int64_t s = RoundHalfEven(inverse);
    return s < 1 ? 1 : s;
}

int32_t PitchRestartSteps(int32_t L, int32_t Dmin, int64_t S)
{
    const int64_t g = int64_t{L} - Dmin - RoundHalfEven(static_cast<double>(PitchCrossfadeLength) / S);
    return static_cast<int32_t>(g);
}

PitchShiftPlan DerivePitchShiftPlan(int32_t MinDelayMs, int32_t MaxDelayMs, double Rate, double DryGain, double WetGain,
                                    double Feedback)
{
    PitchShiftPlan plan;
    if (MaxDelayMs < 1 || MaxDelayMs > PitchMaxDelayLimitMs || !std::isfinite(Rate) || !std::isfinite(DryGain) ||
        !std::isfinite(WetGain) || !std::isfinite(Feedback))
        return plan;
    const double R = -Rate;
    plan.L = MsToSamples(MaxDelayMs);
    if (plan.L < 1)
        return plan;
    // A smallest delay below 0 or beyond the line would read outside it.
    plan.Dmin = MinDelayMs <= 0 ? 0 : (MinDelayMs >= MaxDelayMs ? plan.L : MsToSamples(MinDelayMs));
    if (plan.Dmin > plan.L)
        plan.Dmin = plan.L;
    plan.S = PitchStepInterval(R);
    plan.G = PitchRestartSteps(plan.L, plan.Dmin, plan.S);
    if (R > 0) {
        plan.D0 = plan.Dmin;
        plan.Dir = 1;
    } else {
        plan.D0 = plan.L;
        plan.Dir = -1;
    }
    plan.Steps = R != 0;
    plan.DryGain = DryGain;
    plan.WetGain = WetGain;
    plan.Feedback = Feedback;
    plan.Valid = true;
    return plan;
}

PitchShifterStream::PitchShifterStream(const PitchShiftPlan &plan, int32_t Count, int32_t progressStep)
{
    if (!plan.Valid || Count <= 0)
        return;
    const bool plain = plan.DryGain == 0.0 && plan.WetGain == 1.0 && plan.Feedback == 0.0;
    if (plan.Sweeps)
        state = plain ? std::unique_ptr<PitchShifterState>(new Shifter<true, true>(plan, Count, progressStep))
                      : std::unique_ptr<PitchShifterState>(new Shifter<true, false>(plan, Count, progressStep));
    else
        state = plain ? std::unique_ptr<PitchShifterState>(new Shifter<false, true>(plan, Count, progressStep))
                      : std::unique_ptr<PitchShifterState>(new Shifter<false, false>(plan, Count, progressStep));
}

PitchShifterStream::~PitchShifterStream() = default;

int32_t PitchShifterStream::Process(int16_t *Samples, int32_t n)
{
    return state && Samples && n > 0 ? state->Process(Samples, n) : 0;
}

void RunPitchShifter(int16_t *Samples, int32_t Count, const PitchShiftPlan &plan, ProgressShare progress)
{
    if (!plan.Valid || Samples == nullptr || Count <= 0)
        return;
    // The gauge moves once a block rather than at its exact samples.
    PitchShifterStream stream(plan, Count, progress.Step);
    for (int32_t i = 0; i < Count; i += StreamBlock) {
        const int32_t units = stream.Process(Samples + i, std::min(StreamBlock, Count - i));
        if (units > 0)
            AdvanceProgress(progress.Gauge, units);
    }
}

void PitchShift(int16_t *Samples, int32_t Count, int32_t MinDelayMs, int32_t MaxDelayMs, double Rate, double DryGain,
                double WetGain, double Feedback, ProgressShare progress)
{
    RunPitchShifter(Samples, Count, DerivePitchShiftPlan(MinDelayMs, MaxDelayMs, Rate, DryGain, WetGain, Feedback),
                    progress);
}

bool PitchAmountSettings(int32_t Amount, PitchAmountSetting &setting)
{
    // 2^((Amount - 6) / 12) - 1 to six decimals: one semitone per notch.
    static constexpr PitchAmountSetting Table[13] = {
        {-0.292893, 35}, {-0.250846, 35}, {-0.206299, 35}, {-0.159104, 35}, {-0.109101, 35}, {-0.056126, 35}, {0.0, 0},
        {0.059463, 15},  {0.122462, 15},  {0.189207, 15},  {0.259921, 15},  {0.33484, 25},   {0.414214, 25},
    };
    if (Amount < 0 || Amount > 12 || Amount == 6)
        return false;
    setting = Table[Amount];
    return true;
}

PitchShiftPlan PitchAmountPlan(int32_t Amount)
{
    PitchAmountSetting setting;
    if (!PitchAmountSettings(Amount, setting))
        return PitchShiftPlan{};
    return DerivePitchShiftPlan(0, setting.MaxDelayMs, setting.Rate, 0.0, 1.0, 0.0);
}

void PitchShiftClip(int16_t *Samples, int32_t Count, int32_t Amount, ProgressShare progress)
{
    RunPitchShifter(Samples, Count, PitchAmountPlan(Amount), progress);
}
