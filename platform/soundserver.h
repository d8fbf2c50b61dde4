// SPDX-License-Identifier: GPL-3.0-or-later
// The one connection to the sound server in the process, and the live model
// of what the server has, shared by the wave-out, recorder and mixer
// libraries (this library is loaded once, so there is exactly one of it).
//
//            +------------+  ready   +-------+  context fails   +------+
//   start -> | connecting | -------> | ready | ---------------> | lost |
//            +------------+          +-------+                  +------+
//                  | fails or no answer in 1 s    ^                 | back-off
//                  v                              |   ready         v   100 ms .. 1 s
//                 lost  ----------------------> reconnecting  <-----+
//
// The event thread keeps the model current: every change the server reports
// (sinks, sources, their ports and volumes, the defaults) makes it read the
// server again, one read at a time, and when the read is complete it
// replaces the model and tells the listeners. Listeners run on the event
// thread with the loop locked; they hear of each new model, of the server's
// loss, and of the end of the process.
//
// Reading the model never waits for the server; only the very first read,
// while the first connection is being made, waits for it (at most CallBound).
// Calls that must reach the server (a volume, a port, a stream) run inside a
// ServerCall, which locks the loop and gives the whole call one deadline of
// CallBound. When a call runs out of time the server counts as not answering:
// later calls fail at once, as when it is gone, until a probe the model sends
// is answered.
//
// "Current output" and "current input" are decided here: the device the
// program chose (pinned by name), else the server's default.
#pragma once

#include "platform/pulsedevices.h"

#include <pulse/pulseaudio.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace platform {

using Clock = std::chrono::steady_clock;

// The longest any call waits for the server, in all.
inline constexpr std::chrono::milliseconds CallBound{1000};

enum class ServerState { Connecting, Ready, Lost, Reconnecting };

struct ModelEvent {
    enum Kind {
        Changed,  // a new model: Before (empty after a loss) and After
        Lost,     // the connection is gone; the model is empty
        Shutdown, // the process ends: drop every stream, post nothing more
    };
    Kind What = Changed;
    const ServerSnapshot *Before = nullptr;
    const ServerSnapshot *After = nullptr;
};

class SoundServer {
public:
    using Listener = std::function<void(const ModelEvent &)>;

    // The one instance; its event thread starts connecting at the first call.
    static SoundServer &Instance();

    SoundServer(const SoundServer &) = delete;
    SoundServer &operator=(const SoundServer &) = delete;

    // Reads: never wait, except for the first connection (see above).
    ServerState State();
    // False when the server is gone or does not answer.
    bool Answering();
    ServerSnapshot Snapshot();
    // The chosen device by name, empty: follow the server's default.
    std::string PinnedOutput();
    std::string PinnedInput();
    void PinOutput(const std::string &sink);
    void PinInput(const std::string &source);
    // The current output (sink) and input device (source that is not a
    // monitor) of this snapshot: the pinned one while it exists, else the
    // default.
    std::string CurrentOutput(const ServerSnapshot &snapshot);
    std::string CurrentInput(const ServerSnapshot &snapshot);

    // The loop lock (a no-op on the event thread, which holds it).
    void Lock();
    void Unlock();
    bool InEventThread() const;
    // With the loop locked.
    pa_context *Context() const { return context_; }
    pa_mainloop_api *Api() const;
    void Signal();
    // With the loop locked: after a successful change of the server, the
    // model shows it at once (the server's own report follows).
    void Patch(const std::function<void(ServerSnapshot &)> &change);
    // With the loop locked: reads the server again and tells the listeners,
    // as after a change the server reported (when it is connected).
    void Reread() { Refresh(); }
    // With the loop locked, not on the event thread: reads the server again
    // and waits (until the deadline) until the model shows what it had when
    // this was called. False when the server is gone or did not answer.
    bool Sync(Clock::time_point deadline);

    // With the loop locked. Returns an id for RemoveListener.
    int AddListener(Listener listener);
    void RemoveListener(int id);

    // With the loop locked, not on the event thread: sleeps until done() or
    // the deadline; a missed deadline marks the server as not answering
    // (unless what was waited for is not the server's answer).
    bool WaitUntil(const std::function<bool()> &done, Clock::time_point deadline, bool serversAnswer = true);
    // Waits for op (released here); cancels it when the deadline passes.
    bool Await(pa_operation *op, Clock::time_point deadline);

private:
    SoundServer();
    ~SoundServer();

    void StartThread();
    void Connect();
    void DropContext();
    void ConnectionLost();
    void RetryLater();
    void Refresh();
    void Refreshed();
    void MarkNotAnswering();
    void SendProbe();
    void Tell(const ModelEvent &event);
    void ArmTimer(pa_usec_t delay, void (*callback)(SoundServer *));
    static void ContextStateChanged(pa_context *context, void *userdata);
    static void ServerChanged(pa_context *, pa_subscription_event_type_t, uint32_t, void *userdata);
    static void ProbeAnswered(pa_context *, const pa_server_info *info, void *userdata);
    static void TimerFired(pa_mainloop_api *, pa_time_event *, const struct timeval *, void *userdata);
    static void ConnectTimedOut(SoundServer *self);
    static void Reconnect(SoundServer *self);

    // Waits for the first connection, unless this thread holds the loop lock.
    void AwaitFirstConnection(std::unique_lock<std::mutex> &model);

    pa_threaded_mainloop *mainloop_ = nullptr;
    bool started_ = false;
    std::once_flag startOnce_;

    // Guarded by the loop lock.
    pa_context *context_ = nullptr;
    pa_time_event *timer_ = nullptr;
    void (*timerCallback_)(SoundServer *) = nullptr;
    std::chrono::milliseconds backOff_{100};
    SnapshotRequest request_;
    bool again_ = false;
    uint64_t patches_ = 0;
    uint64_t requestPatches_ = 0;
    uint64_t reads_ = 0;       // reads started
    uint64_t currentRead_ = 0; // the one under way
    uint64_t shownRead_ = 0;   // the one the model shows
    bool probing_ = false;
    struct Entry {
        int Id;
        Listener Call;
    };
    std::vector<Entry> listeners_;
    int nextListener_ = 1;

    // Guarded by modelMutex_ (written with the loop lock held too).
    std::mutex modelMutex_;
    std::condition_variable modelChanged_;
    ServerState state_ = ServerState::Connecting;
    bool firstTry_ = true; // the first connection is still being made
    bool answering_ = true;
    ServerSnapshot model_;
    std::string pinnedOutput_;
    std::string pinnedInput_;
};

// One call that must reach the server: locks the loop and holds the call's
// single deadline.
class ServerCall {
public:
    ServerCall() : server_(SoundServer::Instance()), deadline_(Clock::now() + CallBound)
    {
        server_.Answering(); // the first connection, before the loop is locked
        server_.Lock();
    }
    ~ServerCall() { server_.Unlock(); }
    ServerCall(const ServerCall &) = delete;
    ServerCall &operator=(const ServerCall &) = delete;

    // True when the server is connected and answering, and this is not the
    // event thread (which cannot wait for the server's replies).
    bool Usable() { return !server_.InEventThread() && server_.Answering() && server_.Context(); }
    bool Await(pa_operation *op) { return server_.Await(op, deadline_); }
    bool WaitUntil(const std::function<bool()> &done) { return server_.WaitUntil(done, deadline_); }
    // The same for what the event thread does, not the server.
    bool WaitForEventThread(const std::function<bool()> &done) { return server_.WaitUntil(done, deadline_, false); }
    pa_context *Context() const { return server_.Context(); }
    SoundServer &Server() { return server_; }
    Clock::time_point Deadline() const { return deadline_; }

private:
    SoundServer &server_;
    Clock::time_point deadline_;
};

} // namespace platform
