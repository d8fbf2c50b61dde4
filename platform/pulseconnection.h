// One connection to the sound server with its own event thread.
//
// Everything that touches the context, its streams or its operations runs
// with the loop locked: either inside a callback (the event thread holds the
// lock) or between Lock() and Unlock(). Every wait has a deadline, so no
// call blocks for long when the server does not answer.
#pragma once

#include <pulse/pulseaudio.h>

#include <chrono>
#include <functional>
#include <string>

namespace platform {

using Clock = std::chrono::steady_clock;

// How long a call may wait for the server before it gives up.
inline constexpr std::chrono::milliseconds ServerTimeout{3000};
inline constexpr std::chrono::milliseconds RetryPause{2000};

class PulseConnection {
public:
    explicit PulseConnection(std::string clientName);
    ~PulseConnection();
    PulseConnection(const PulseConnection &) = delete;
    PulseConnection &operator=(const PulseConnection &) = delete;

    // Locks the loop, unless the caller is the event thread itself (which
    // already holds it).
    void Lock();
    void Unlock();
    bool InEventThread() const;

    // Connects when not connected (never starting a server). With the loop
    // locked. True when the context is ready. After a failed attempt the
    // next ones fail at once for RetryPause, so that a caller making many
    // calls to an absent or silent server is not held up by each of them.
    bool Connect(Clock::time_point deadline);
    bool IsReady() const;
    pa_context *Context() const { return context_; }
    pa_threaded_mainloop *Mainloop() const { return mainloop_; }

    // With the loop locked: sleeps until done() or the deadline. From the
    // event thread it cannot sleep and only checks done().
    bool WaitUntil(const std::function<bool()> &done, Clock::time_point deadline);
    // With the loop locked: waits for op (which it releases); cancels it
    // when the deadline passes. True when the operation finished.
    bool Await(pa_operation *op, Clock::time_point deadline);
    // Wakes every WaitUntil.
    void Signal();

    // Called on the event thread (loop locked) when the context becomes
    // ready or is lost. Set before Connect.
    std::function<void(pa_context *)> OnReady;

private:
    void Disconnect();
    void StartThread();

    std::string clientName_;
    pa_threaded_mainloop *mainloop_ = nullptr;
    pa_context *context_ = nullptr;
    bool started_ = false;
    Clock::time_point failedAt_{};
    bool failed_ = false;
};

// RAII lock of a connection's loop.
class PulseLock {
public:
    explicit PulseLock(PulseConnection &connection) : connection_(connection) { connection_.Lock(); }
    ~PulseLock() { connection_.Unlock(); }
    PulseLock(const PulseLock &) = delete;
    PulseLock &operator=(const PulseLock &) = delete;

private:
    PulseConnection &connection_;
};

inline Clock::time_point DeadlineFromNow(std::chrono::milliseconds timeout = ServerTimeout)
{
    return Clock::now() + timeout;
}

} // namespace platform
