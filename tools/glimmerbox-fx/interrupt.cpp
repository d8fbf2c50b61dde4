// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/glimmerbox-fx/interrupt.h"

#include "base/replacefile.h"

#include <pthread.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <mutex>
#include <thread>

namespace {

// How long a library call may take to stop before the files are removed
// under it.
constexpr auto StopGrace = std::chrono::seconds(5);

struct WatchState {
    std::mutex Lock;
    std::condition_variable Ended;
    int Signal = 0;
    int FinishedStatus = -1;         // set by FinishedWith
    void (*LibraryStop)() = nullptr; // set while a library call runs
    std::function<void(int)> Notify;
};

WatchState &State()
{
    static WatchState *state = new WatchState; // used until _exit
    return *state;
}

sigset_t WatchedSignals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    return set;
}

void Watch()
{
    const sigset_t set = WatchedSignals();
    int signal = 0;
    while (sigwait(&set, &signal) != 0) {
    }
    WatchState &state = State();
    std::unique_lock<std::mutex> hold(state.Lock);
    state.Signal = signal;
    if (state.Notify) {
        const std::function<void(int)> notify = state.Notify;
        hold.unlock();
        notify(signal);
        return;
    }
    if (state.LibraryStop) {
        state.LibraryStop();
        state.Ended.wait_for(hold, StopGrace, [&state] { return state.LibraryStop == nullptr; });
    }
    EndInterrupted(signal);
}

} // namespace

void WatchForInterrupts(std::function<void(int)> notify)
{
    const sigset_t set = WatchedSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    WatchState &state = State();
    {
        std::lock_guard<std::mutex> hold(state.Lock);
        state.Signal = 0;
        state.FinishedStatus = -1;
        state.LibraryStop = nullptr;
        state.Notify = std::move(notify);
    }
    std::thread(Watch).detach();
}

int InterruptSignal()
{
    WatchState &state = State();
    std::lock_guard<std::mutex> hold(state.Lock);
    return state.Signal;
}

void EndInterrupted(int signal)
{
    RemoveTemporaryFilesForExit();
    std::fflush(stdout);
    std::fflush(stderr);
    const int finished = State().FinishedStatus;
    ::_exit(finished >= 0 ? finished : 128 + signal);
}

void FinishedWith(int status)
{
    WatchState &state = State();
    std::lock_guard<std::mutex> hold(state.Lock);
    state.FinishedStatus = status;
}

TLibraryCall::TLibraryCall(void (*stop)())
{
    WatchState &state = State();
    std::lock_guard<std::mutex> hold(state.Lock);
    state.LibraryStop = stop;
}

TLibraryCall::~TLibraryCall()
{
    WatchState &state = State();
    std::unique_lock<std::mutex> hold(state.Lock);
    state.LibraryStop = nullptr;
    state.Ended.notify_all();
    // The watch thread ends the process now; nothing after the call may run.
    if (state.Signal != 0 && !state.Notify)
        for (;;)
            state.Ended.wait(hold);
}
