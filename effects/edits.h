// SPDX-License-Identifier: GPL-3.0-or-later
// The edits a voice can undergo, on 16-bit mono samples: cutting a span out,
// keeping only a span, trimming the silence around the speech and raising
// the loudest sample to -1 dBFS. Spans are sample indexes, End exclusive.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

struct TSampleSpan {
    int32_t Start = 0;
    int32_t End = 0; // one past the last sample
    int32_t Length() const { return End > Start ? End - Start : 0; }
    bool Empty() const { return End <= Start; }
    bool operator==(const TSampleSpan &) const = default;
};

// A sample at least this loud (-45 dBFS) is speech to Trim Silence.
inline constexpr int32_t TrimThreshold = 184;
// Normalise makes the loudest sample exactly this loud (-1 dBFS).
inline constexpr int32_t NormalisePeak = 29204;

// The quiet margin Trim Silence keeps on each side of the speech: 50 ms at
// rate, half to even (1102 samples at 22050 Hz).
int32_t TrimMargin(uint32_t rate);

// The part of span Trim Silence keeps: from TrimMargin(rate) samples before
// the first sample of span at least TrimThreshold loud to as many after the
// last, clipped to span. Nothing when span holds no such sample.
std::optional<TSampleSpan> TrimSilenceSpan(const int16_t *samples, TSampleSpan span, uint32_t rate);

// Scales span so that its loudest sample (32768 for -32768) becomes
// NormalisePeak: each sample x becomes x * 29204 / peak, half to even.
// False, and nothing changed, when span is silent.
bool NormaliseSpan(int16_t *samples, TSampleSpan span);

// samples with span taken out.
std::vector<int16_t> WithoutSpan(const int16_t *samples, int32_t count, TSampleSpan span);
// samples with everything but span taken out.
std::vector<int16_t> OnlySpan(const int16_t *samples, TSampleSpan span);
