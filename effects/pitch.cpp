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

#include <algorithm>
#include <cmath>
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

// The line index of the value stored D samples before write index w
// (0 <= D <= L; delay 0 and delay L both read the oldest value).
inline int32_t IndexAtDelay(int32_t w, int32_t d, int32_t L)
{
    return w >= d ? w - d : L - (d - w);
}

// The neighbour of index r one step further along the direction of travel.
inline int32_t Neighbour(int32_t r, int32_t dir, int32_t L)
{
    int32_t n = r - dir;
    if (n < 0)
        n += L;
    else if (n >= L)
        n -= L;
    return n;
}

inline void Forward(int32_t &r, int32_t L)
{
    if (++r == L)
        r = 0;
}

// One tap: the value at index r1 gliding towards r2 as k runs from 0 to S.
inline double TapValue(const int16_t *line, int32_t r1, int32_t r2, int64_t S, double sD, int64_t k)
{
    return static_cast<double>(line[r1] * (S - k)) / sD + static_cast<double>(line[r2] * k) / sD;
}

// The two taps' mix as written: a tap whose gain is exactly 0 adds exactly
// 0, so it is not read.
[[gnu::always_inline]] inline double ExactMix(const int16_t *line, int32_t rA1, int32_t rA2, int32_t rB1, int32_t rB2,
                                              int64_t S, double sD, int64_t k, double gA, double gB)
{
    if (gB == 0.0)
        return gA * TapValue(line, rA1, rA2, S, sD, k);
    if (gA == 0.0)
        return gB * TapValue(line, rB1, rB2, S, sD, k);
    return gA * TapValue(line, rA1, rA2, S, sD, k) + gB * TapValue(line, rB1, rB2, S, sD, k);
}

// For S a power of two (up to 2^20) both quotients of a tap, their sum and
// n times the reciprocal of S are exact: a tap alone at gain 1 is n / S
// itself either way, half-integers included.
inline bool ExactQuotients(int64_t S)
{
    return (S & (S - 1)) == 0;
}

// Round(ExactMix) without the divisions. A tap's two correctly rounded
// quotients and their sum are within 2^-37 of n / S, n = line[r1] (S - k) +
// line[r2] k (each quotient is below 2^15), and so is n times the reciprocal
// of S for S up to 2^20; with gains of at most 1 the two mixes differ by
// under 2^-33. Wherever the approximate mix lies at least 2^-30 from a
// half-integer both round to the same integer (a tap alone at gain 1 is a
// multiple of 1 / S, at least 2^-21 from any half-integer it is not equal
// to); nearer, the quotients decide as written.
[[gnu::always_inline]] inline int64_t RoundedMix(const int16_t *line, int32_t rA1, int32_t rA2, int32_t rB1,
                                                 int32_t rB2, int64_t S, double sD, double inverseS, int64_t k,
                                                 double gA, double gB)
{
    auto tap = [&](int32_t r1, int32_t r2) {
        return static_cast<double>(line[r1] * (S - k) + line[r2] * k) * inverseS;
    };
    double approx;
    if (gB == 0.0)
        approx = gA * tap(rA1, rA2);
    else if (gA == 0.0)
        approx = gB * tap(rB1, rB2);
    else
        approx = gA * tap(rA1, rA2) + gB * tap(rB1, rB2);
    const int64_t a = RoundHalfEven(approx);
    if (std::fabs(std::fabs(approx - static_cast<double>(a)) - 0.5) > 0x1p-30 ||
        (ExactQuotients(S) && ((gA == 1.0 && gB == 0.0) || (gA == 0.0 && gB == 1.0))))
        return a;
    return RoundHalfEven(ExactMix(line, rA1, rA2, rB1, rB2, S, sD, k, gA, gB));
}

// Plain: no dry signal, the wet one at gain 1 and no feedback, as for every
// amount of the pitch bar and both sweeps. Then a * 0 + x is x and x * 0 +
// a * 1 is a, exactly: the line keeps the input and the output is the tap's
// value, clipped.
template <bool Sweep, bool Plain> class Shifter final : public PitchShifterState {
public:
    Shifter(const PitchShiftPlan &p, int32_t clipCount)
        : plan(p), L(p.L), Dmin(p.Dmin), D0(p.D0), dir(p.Dir), dryGain(p.DryGain), wetGain(p.WetGain),
          feedback(p.Feedback), line(static_cast<size_t>(p.L), 0), S(p.S), sD(static_cast<double>(p.S)),
          inverseS(1.0 / sD),
          // Past 2^20 samples a step the reciprocal is not close enough
          // (see RoundedMix); a sweep only moves S between its two ends.
          quotientShortcut(std::max(p.S, Sweep ? p.SMax : p.S) <= (int64_t{1} << 20)), G(p.G), cnt(p.G), DA(p.D0),
          DB(p.D0), e(ProgressStep > 0 ? clipCount / ProgressStep : 0), untilAdvance(e)
    {
        for (int32_t j = 0; j < PitchCrossfadeLength; ++j) {
            sinTable[j] = std::sin(j * (std::numbers::pi / 2) / PitchCrossfadeLength);
            cosTable[j] = std::cos(j * (std::numbers::pi / 2) / PitchCrossfadeLength);
        }
        tableA = sinTable;
        tableB = cosTable;
        rA1 = IndexAtDelay(w, DA, L);
        rA2 = Neighbour(rA1, dir, L);
    }

    // The next Count samples of the clip; returns the gauge units due.
    int32_t Process(int16_t *Samples, int32_t Count) override
    {
        int32_t units = 0;
        int16_t *const ln = line.data();
        for (int32_t i = 0; i < Count; ++i) {
            if constexpr (Plain) {
                // Between crossfades, with one tap alone at gain 1, the samples
                // before the next event (a step of the delays, a change of S, a
                // move of the gauge, the last sample) only read the tap and move
                // the indices on; they run in a loop of their own and the event
                // sample goes through the full step below.
                const bool aAlone = gA == 1.0 && gB == 0.0;
                if (c == 0 && (S - k > 2 || !plan.Steps) && quotientShortcut && (aAlone || (gA == 0.0 && gB == 1.0))) {
                    int64_t quiet = Count - 1 - i;
                    if (e > 0)
                        quiet = std::min<int64_t>(quiet, untilAdvance - 1);
                    if (plan.Steps) {
                        quiet = std::min(quiet, S - 1 - k);
                        if constexpr (Sweep)
                            quiet = std::min(quiet, plan.Q - 1 - q);
                    }
                    if (quiet > 0) {
                        int32_t r1 = aAlone ? rA1 : rB1;
                        int32_t r2 = aAlone ? rA2 : rB2;
                        const int64_t kStep = plan.Steps ? 1 : 0;
                        const bool exactTap = ExactQuotients(S);
                        for (int64_t j = 0; j < quiet; ++j, ++i, k += kStep) {
                            // The taps are read before the input is stored, as below.
                            const double approx = static_cast<double>(ln[r1] * (S - k) + ln[r2] * k) * inverseS;
                            int64_t a = RoundHalfEven(approx);
                            if (!exactTap && std::fabs(std::fabs(approx - static_cast<double>(a)) - 0.5) <= 0x1p-30)
                                a = RoundHalfEven(TapValue(ln, r1, r2, S, sD, k));
                            ln[w] = Samples[i];
                            Samples[i] = Clip16(a);
                            Forward(w, L);
                            Forward(r1, L);
                            Forward(r2, L);
                        }
                        // The other tap's indices move on as far.
                        const int32_t moved = static_cast<int32_t>(quiet % L);
                        auto along = [&](int32_t r) { return r + moved >= L ? r + moved - L : r + moved; };
                        rA1 = aAlone ? r1 : along(rA1);
                        rA2 = aAlone ? r2 : along(rA2);
                        rB1 = aAlone ? along(rB1) : r1;
                        rB2 = aAlone ? along(rB2) : r2;
                        if (e > 0)
                            untilAdvance -= static_cast<int32_t>(quiet);
                        if constexpr (Sweep) {
                            if (plan.Steps)
                                q += quiet;
                        }
                    }
                }
            }
            const int64_t a = quotientShortcut ? RoundedMix(ln, rA1, rA2, rB1, rB2, S, sD, inverseS, k, gA, gB)
                                               : RoundHalfEven(ExactMix(ln, rA1, rA2, rB1, rB2, S, sD, k, gA, gB));
            const int32_t x = Samples[i];
            if constexpr (Plain) {
                ln[w] = static_cast<int16_t>(x);
                Samples[i] = Clip16(a);
            } else {
                ln[w] = Wrap16(RoundHalfEven(static_cast<double>(a) * feedback + x));
                Samples[i] = Clip16(RoundHalfEven(x * dryGain + static_cast<double>(a) * wetGain));
            }

            if (c > 0) {
                --c;
                gA = tableA[c];
                gB = tableB[c];
            }
            if (e > 0 && --untilAdvance == 0) {
                untilAdvance = e;
                ++units;
            }
            Forward(w, L);
            Forward(rA1, L);
            Forward(rA2, L);
            Forward(rB1, L);
            Forward(rB2, L);

            if (!plan.Steps)
                continue;
            if constexpr (Sweep) {
                // The sweep moves S first; k may then already be past the new S,
                // which is why the step below tests k >= S.
                if (++q >= plan.Q) {
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
            if (++k < S)
                continue;
            k = 0;
            DA += dir;
            DB += dir;
            DA = DA > L ? L : (DA < Dmin ? Dmin : DA);
            DB = DB > L ? L : (DB < Dmin ? Dmin : DB);
            rA1 = IndexAtDelay(w, DA, L);
            rB1 = IndexAtDelay(w, DB, L);
            if (--cnt <= 0) {
                c = PitchCrossfadeLength;
                cnt = G;
                if (nextIsB) {
                    // A fades out, B starts again and fades in.
                    DB = D0;
                    rB1 = IndexAtDelay(w, DB, L);
                    tableA = sinTable;
                    tableB = cosTable;
                } else {
                    DA = D0;
                    rA1 = IndexAtDelay(w, DA, L);
                    tableA = cosTable;
                    tableB = sinTable;
                }
                nextIsB = !nextIsB;
            }
            rA2 = Neighbour(rA1, dir, L);
            rB2 = Neighbour(rB1, dir, L);
        }
        return units;
    }

private:
    const PitchShiftPlan plan;
    const int32_t L;
    const int32_t Dmin;
    const int32_t D0;
    const int32_t dir;
    const double dryGain;
    const double wetGain;
    const double feedback;
    std::vector<int16_t> line;
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
    int32_t w = 0;
    int32_t rA1 = 0;
    int32_t rA2 = 0;
    int32_t rB1 = 0;
    int32_t rB2 = 0;
    const int32_t e;
    int32_t untilAdvance;
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

PitchShifterStream::PitchShifterStream(const PitchShiftPlan &plan, int32_t Count)
{
    if (!plan.Valid || Count <= 0)
        return;
    const bool plain = plan.DryGain == 0.0 && plan.WetGain == 1.0 && plan.Feedback == 0.0;
    if (plan.Sweeps)
        state = plain ? std::unique_ptr<PitchShifterState>(new Shifter<true, true>(plan, Count))
                      : std::unique_ptr<PitchShifterState>(new Shifter<true, false>(plan, Count));
    else
        state = plain ? std::unique_ptr<PitchShifterState>(new Shifter<false, true>(plan, Count))
                      : std::unique_ptr<PitchShifterState>(new Shifter<false, false>(plan, Count));
}

PitchShifterStream::~PitchShifterStream() = default;

int32_t PitchShifterStream::Process(int16_t *Samples, int32_t n)
{
    return state && Samples && n > 0 ? state->Process(Samples, n) : 0;
}

void RunPitchShifter(int16_t *Samples, int32_t Count, const PitchShiftPlan &plan, ProgressGauge *gauge)
{
    if (!plan.Valid || Samples == nullptr || Count <= 0)
        return;
    // The gauge moves once a block rather than at its exact samples.
    PitchShifterStream stream(plan, Count);
    for (int32_t i = 0; i < Count; i += StreamBlock) {
        const int32_t units = stream.Process(Samples + i, std::min(StreamBlock, Count - i));
        if (units > 0)
            AdvanceProgress(gauge, units);
    }
}

void PitchShift(int16_t *Samples, int32_t Count, int32_t MinDelayMs, int32_t MaxDelayMs, double Rate, double DryGain,
                double WetGain, double Feedback, ProgressGauge *gauge)
{
    RunPitchShifter(Samples, Count, DerivePitchShiftPlan(MinDelayMs, MaxDelayMs, Rate, DryGain, WetGain, Feedback),
                    gauge);
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

void PitchShiftClip(int16_t *Samples, int32_t Count, int32_t Amount, ProgressGauge *gauge)
{
    RunPitchShifter(Samples, Count, PitchAmountPlan(Amount), gauge);
}
