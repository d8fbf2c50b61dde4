// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/livevoice.h"

#include "audio/voiceformat.h"
#include "audio/wavefile.h"
#include "effects/livechain.h"
#include "platform/livestreams.h"
#include "platform/virtualmic.h"

#include <algorithm>
#include <cstdlib>
#include <new>

namespace {

// Samples kept while live, in chunks of a fixed size: appending never moves
// what is kept, so the stream thread never copies megabytes in the middle of
// a block (a growing vector would, at every doubling).
class TKeptSamples {
public:
    static constexpr std::size_t ChunkSamples = std::size_t{1} << 16; // about 3 s at 22050 Hz

    TKeptSamples() { chunks.reserve(KeepChunks); }

    void Append(const int16_t *samples, int32_t count)
    {
        for (int32_t done = 0; done < count;) {
            const std::size_t at = size % ChunkSamples;
            if (at == 0) {
                if (chunks.size() == KeepChunks)
                    return; // the hour is full
                chunks.emplace_back(new (std::nothrow) int16_t[ChunkSamples]);
                if (!chunks.back()) {
                    chunks.pop_back();
                    return; // what could be kept is kept; the voice goes on
                }
            }
            const auto n = static_cast<int32_t>(std::min<std::size_t>(ChunkSamples - at, std::size_t(count - done)));
            std::copy_n(samples + done, n, chunks.back().get() + at);
            size += static_cast<std::size_t>(n);
            done += n;
        }
    }

    std::vector<int16_t> All() const
    {
        std::vector<int16_t> all;
        all.reserve(size);
        for (std::size_t i = 0; i < chunks.size(); ++i)
            all.insert(all.end(), chunks[i].get(), chunks[i].get() + std::min(ChunkSamples, size - i * ChunkSamples));
        return all;
    }

private:
    static constexpr std::size_t KeepChunks =
        (static_cast<std::size_t>(TLiveVoice::KeepLimitSamples) + ChunkSamples - 1) / ChunkSamples;
    std::vector<std::unique_ptr<int16_t[]>> chunks;
    std::size_t size = 0;
};

} // namespace

struct TLiveVoice::TState {
    explicit TState(const TEffectSet &effects) : chain(effects, VoiceFormat.SamplesPerSec) {}

    TLiveVoiceChain chain;
    platform::TLiveStreams streams;  // the input through the chain into the first output
    platform::TLiveStreams speakers; // with both outputs: the virtual microphone on to the speakers

    // What came in and went out, while kept; the stream thread appends.
    std::mutex keepMutex;
    bool keepIn = false;
    bool keepOut = false;
    TKeptSamples keptIn;
    TKeptSamples keptOut;

    std::mutex failureMutex;
    std::string failure;
    std::atomic<int32_t> peak{0};

    // The last samples that went out, for a window to show; the stream
    // thread skips a block rather than wait for a reader.
    mutable std::mutex recentMutex;
    std::vector<int16_t> recent = std::vector<int16_t>(RecentSamples, 0);
    std::size_t recentEnd = 0; // where the next sample goes

    void Block(const int16_t *in, int16_t *out, int32_t count)
    {
        int32_t loudest = 0;
        for (int32_t i = 0; i < count; ++i)
            loudest = std::max(loudest, std::abs(static_cast<int32_t>(in[i])));
        for (int32_t seen = peak.load(); loudest > seen && !peak.compare_exchange_weak(seen, loudest);) {
        }
        std::copy_n(in, count, out);
        chain.Process(out, count);
        if (std::unique_lock lock(recentMutex, std::try_to_lock); lock.owns_lock()) {
            for (int32_t i = 0; i < count; ++i) {
                recent[recentEnd] = out[i];
                recentEnd = (recentEnd + 1) % recent.size();
            }
        }
        if (keepIn || keepOut) {
            const std::lock_guard lock(keepMutex);
            Keep(keepIn, keptIn, in, count);
            Keep(keepOut, keptOut, out, count);
        }
    }

    static void Keep(bool keep, TKeptSamples &kept, const int16_t *samples, int32_t count)
    {
        if (keep)
            kept.Append(samples, count);
    }

    void Failed(const std::string &text)
    {
        const std::lock_guard lock(failureMutex);
        if (failure.empty())
            failure = text;
    }
};

TLiveVoice::TLiveVoice() = default;

TLiveVoice::~TLiveVoice()
{
    std::string ignored;
    Stop(ignored);
}

std::string TLiveVoice::Refusal(const TLiveVoiceSettings &settings)
{
    const std::vector<std::string> names = WholeClipEffectNames(settings.Effects);
    if (!names.empty()) {
        std::string list;
        for (const std::string &name : names)
            list += (list.empty() ? "" : ", ") + name;
        return "Live Voice cannot use " + list + ": " + (names.size() > 1 ? "they need" : "it needs") +
               " a recorded voice.";
    }
    if (!settings.Input.empty() && platform::TVirtualMicrophone::IsVirtualMicDevice(settings.Input))
        return "Live Voice cannot record from Glimmerbox Voice itself.";
    if (!settings.ToVirtualMic && !settings.ToSpeakers)
        return "Live Voice needs somewhere to play: the virtual microphone, the speakers or both.";
    return {};
}

std::string TLiveVoice::Start(const TLiveVoiceSettings &settings)
{
    if (running)
        return {};
    if (std::string refusal = Refusal(settings); !refusal.empty())
        return refusal;
    std::string error;
    if (settings.ToVirtualMic && !platform::TVirtualMicrophone::Offer(error))
        return "Live Voice cannot offer the virtual microphone: " + error;

    auto fresh = std::make_shared<TState>(settings.Effects);
    fresh->keepIn = !settings.KeepInput.empty();
    fresh->keepOut = !settings.KeepOutput.empty();
    keepInput = settings.KeepInput;
    keepOutput = settings.KeepOutput;

    platform::TLiveStreamSettings streams;
    streams.Source = settings.Input;
    streams.Sink = settings.ToVirtualMic ? platform::TVirtualMicrophone::SinkName() : std::string();
    streams.Rate = VoiceFormat.SamplesPerSec;
    streams.LatencyMs = settings.LatencyMs;
    // The stream threads hold the state only as long as the streams run:
    // Stop closes them before the state can go.
    TState *live = fresh.get();
    auto failed = [live](const std::string &text) { live->Failed(text); };
    if (!fresh->streams.Start(
            streams, [live](const int16_t *in, int16_t *out, int32_t count) { live->Block(in, out, count); }, failed,
            error))
        return error;
    if (settings.ToVirtualMic && settings.ToSpeakers) {
        // The speakers hear what the virtual microphone carries.
        platform::TLiveStreamSettings onward = streams;
        onward.Source = platform::TVirtualMicrophone::SinkName() + ".monitor";
        onward.Sink.clear();
        if (!fresh->speakers.Start(
                onward, [](const int16_t *in, int16_t *out, int32_t count) { std::copy_n(in, count, out); }, failed,
                error)) {
            fresh->streams.Stop();
            return error;
        }
    }
    state = std::move(fresh);
    running = true;
    return {};
}

std::string TLiveVoice::Change(const TEffectSet &effects)
{
    TLiveVoiceSettings settings;
    settings.Effects = effects;
    if (std::string refusal = Refusal(settings); !refusal.empty())
        return refusal;
    if (state)
        state->chain.Change(effects);
    return {};
}

bool TLiveVoice::Stop(std::string &error)
{
    if (!state)
        return true;
    state->streams.Stop();
    state->speakers.Stop();
    running = false;
    bool written = true;
    const auto write = [&](const std::string &name, const TKeptSamples &kept) {
        if (name.empty())
            return;
        bool done = false;
        try {
            const std::vector<int16_t> samples = kept.All();
            done = WriteWaveFile(name, VoiceFormat.SamplesPerSec, 16, 1, samples.data(),
                                 static_cast<uint32_t>(samples.size() * 2));
        } catch (const std::bad_alloc &) {
        }
        if (!done) {
            error = "Cannot write the file " + name;
            written = false;
        }
    };
    write(keepInput, state->keptIn);
    write(keepOutput, state->keptOut);
    state.reset();
    return written;
}

std::string TLiveVoice::TakeFailure()
{
    if (!state)
        return {};
    std::string text;
    {
        const std::lock_guard lock(state->failureMutex);
        text.swap(state->failure);
    }
    if (!text.empty()) {
        // The streams are closed already; what was kept is still written.
        std::string ignored;
        state->streams.Stop();
        state->speakers.Stop();
        running = false;
    }
    return text;
}

int64_t TLiveVoice::SamplesIn() const
{
    return state ? state->chain.SamplesDone() : 0;
}

int64_t TLiveVoice::SelectionStartedAt() const
{
    return state ? std::max<int64_t>(state->chain.ChangedAt(), 0) : 0;
}

int32_t TLiveVoice::TakeInputPeak()
{
    return state ? state->peak.exchange(0) : 0;
}

void TLiveVoice::RecentOutput(int16_t *samples, int32_t count) const
{
    count = std::clamp<int32_t>(count, 0, RecentSamples);
    if (!state) {
        std::fill_n(samples, count, int16_t{0});
        return;
    }
    const std::lock_guard lock(state->recentMutex);
    const std::size_t size = state->recent.size();
    for (int32_t i = 0; i < count; ++i)
        samples[i] = state->recent[(state->recentEnd + size - static_cast<std::size_t>(count) + i) % size];
}
