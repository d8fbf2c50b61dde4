// SPDX-License-Identifier: GPL-3.0-or-later
#include "effects/edits.h"

#include "base/rounding.h"

#include <algorithm>
#include <cstdlib>

namespace {

int32_t Magnitude(int16_t x)
{
    return std::abs(static_cast<int32_t>(x));
}

} // namespace

int32_t TrimMargin(uint32_t rate)
{
    return static_cast<int32_t>(RoundHalfEven(static_cast<double>(rate) * 0.05));
}

std::optional<TSampleSpan> TrimSilenceSpan(const int16_t *samples, TSampleSpan span, uint32_t rate)
{
    int32_t first = span.Start;
    while (first < span.End && Magnitude(samples[first]) < TrimThreshold)
        ++first;
    if (first >= span.End)
        return std::nullopt;
    int32_t last = span.End - 1;
    while (Magnitude(samples[last]) < TrimThreshold)
        --last;
    const int32_t margin = TrimMargin(rate);
    // In 64 bits: a span at the very end of the range cannot overflow.
    const int64_t start = std::max<int64_t>(span.Start, int64_t{first} - margin);
    const int64_t end = std::min<int64_t>(span.End, int64_t{last} + 1 + margin);
    return TSampleSpan{static_cast<int32_t>(start), static_cast<int32_t>(end)};
}

bool NormaliseSpan(int16_t *samples, TSampleSpan span)
{
    int32_t peak = 0;
    for (int32_t i = span.Start; i < span.End; ++i)
        peak = std::max(peak, Magnitude(samples[i]));
    if (peak == 0)
        return false;
    const double p = peak;
    for (int32_t i = span.Start; i < span.End; ++i)
        samples[i] = static_cast<int16_t>(RoundHalfEven(static_cast<double>(samples[i]) * NormalisePeak / p));
    return true;
}

std::vector<int16_t> WithoutSpan(const int16_t *samples, int32_t count, TSampleSpan span)
{
    std::vector<int16_t> kept;
    kept.reserve(static_cast<size_t>(count - span.Length()));
    kept.insert(kept.end(), samples, samples + span.Start);
    kept.insert(kept.end(), samples + span.End, samples + count);
    return kept;
}

std::vector<int16_t> OnlySpan(const int16_t *samples, TSampleSpan span)
{
    return std::vector<int16_t>(samples + span.Start, samples + span.End);
}
