// SPDX-License-Identifier: GPL-3.0-or-later
// A live voice's two streams: one records from an input (a source), one
// plays into an output (a sink), both 16-bit mono at the voice's rate, with
// the least latency the server gives without gaps. What is recorded is
// handed to a callback block by block, on the stream thread, and what the
// callback writes back is played, in order, sample for sample.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace platform {

struct TLiveStreamSettings {
    std::string Source;    // the input's name on the server; empty: the current input
    std::string Sink;      // the output's name; empty: the current output
    uint32_t Rate = 22050; // samples per second, mono 16-bit both ways
    // Asked of the server for each stream's fragments, at least 12 ms (see
    // livestreams.cpp); the voice is heard about four times as late.
    uint32_t LatencyMs = 12;
};

// What the failure callback is told, word for word.
inline constexpr const char *LiveInputLost = "Live Voice stopped: the sound input is no longer available.";
inline constexpr const char *LiveOutputLost = "Live Voice stopped: the sound output is no longer available.";
inline constexpr const char *LiveServerLost = "Live Voice stopped: the sound server is no longer available.";

class TLiveStreams {
public:
    // in: samples recorded, count of them; out: count samples to play
    // (the callback fills them). Runs on the stream thread; must not block.
    using TBlock = std::function<void(const int16_t *in, int16_t *out, int32_t count)>;
    // Called once, on the stream thread, when a stream fails (the input
    // removed, the server gone): text says why, in the program's words
    // (LiveInputLost, LiveOutputLost or LiveServerLost). Both streams are
    // closed by then, and Running() is false.
    using TFailure = std::function<void(const std::string &text)>;

    TLiveStreams();
    ~TLiveStreams(); // Stop()
    TLiveStreams(const TLiveStreams &) = delete;
    TLiveStreams &operator=(const TLiveStreams &) = delete;

    // Opens both streams and starts them. False with error when either
    // could not be opened (nothing is left open then): a phrase for after
    // the caller's own words ("the sound input is not available"). The
    // input may not be a virtual microphone's device
    // (TVirtualMicrophone::IsVirtualMicDevice), nor may the streams be
    // running already.
    bool Start(const TLiveStreamSettings &settings, TBlock block, TFailure failure, std::string &error);
    // Closes both; no callback runs after it returns. The callbacks
    // themselves may call it.
    void Stop();
    bool Running() const;

private:
    struct TState;
    std::unique_ptr<TState> state_;
};

} // namespace platform
