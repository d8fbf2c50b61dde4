#include "platform/pulseconnection.h"

#include <pulse/rtclock.h>

namespace platform {

namespace {

void SignalLoop(pa_mainloop_api *, pa_time_event *, const struct timeval *, void *userdata)
{
    pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop *>(userdata), 0);
}

void ContextStateChanged(pa_context *context, void *userdata)
{
    auto *self = static_cast<PulseConnection *>(userdata);
    if (pa_context_get_state(context) == PA_CONTEXT_READY && self->OnReady) {
        self->OnReady(context);
    }
    self->Signal();
}

void OperationStateChanged(pa_operation *, void *userdata)
{
    pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop *>(userdata), 0);
}

} // namespace

PulseConnection::PulseConnection(std::string clientName) : clientName_(std::move(clientName))
{
    mainloop_ = pa_threaded_mainloop_new();
}

PulseConnection::~PulseConnection()
{
    if (!mainloop_) {
        return;
    }
    if (started_) {
        pa_threaded_mainloop_lock(mainloop_);
        Disconnect();
        pa_threaded_mainloop_unlock(mainloop_);
        pa_threaded_mainloop_stop(mainloop_);
    } else {
        Disconnect();
    }
    pa_threaded_mainloop_free(mainloop_);
}

void PulseConnection::StartThread()
{
    if (!started_ && mainloop_) {
        // Started unlocked; the caller locks afterwards.
        started_ = pa_threaded_mainloop_start(mainloop_) == 0;
    }
}

bool PulseConnection::InEventThread() const
{
    return started_ && pa_threaded_mainloop_in_thread(mainloop_);
}

void PulseConnection::Lock()
{
    StartThread();
    if (started_ && !InEventThread()) {
        pa_threaded_mainloop_lock(mainloop_);
    }
}

void PulseConnection::Unlock()
{
    if (started_ && !InEventThread()) {
        pa_threaded_mainloop_unlock(mainloop_);
    }
}

void PulseConnection::Signal()
{
    if (mainloop_) {
        pa_threaded_mainloop_signal(mainloop_, 0);
    }
}

bool PulseConnection::IsReady() const
{
    return context_ && pa_context_get_state(context_) == PA_CONTEXT_READY;
}

void PulseConnection::Disconnect()
{
    if (context_) {
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_set_subscribe_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
        pa_context_unref(context_);
        context_ = nullptr;
    }
}

bool PulseConnection::Connect(Clock::time_point deadline)
{
    if (!mainloop_ || !started_) {
        return false;
    }
    if (IsReady()) {
        return true;
    }
    if (failed_ && Clock::now() - failedAt_ < RetryPause) {
        return false;
    }
    // A context that failed stays failed: start over with a new one.
    Disconnect();
    failed_ = true;
    failedAt_ = Clock::now();
    pa_proplist *properties = pa_proplist_new();
    pa_proplist_sets(properties, PA_PROP_APPLICATION_NAME, clientName_.c_str());
    context_ = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(mainloop_), clientName_.c_str(), properties);
    pa_proplist_free(properties);
    if (!context_) {
        return false;
    }
    pa_context_set_state_callback(context_, ContextStateChanged, this);
    if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        Disconnect();
        return false;
    }
    WaitUntil(
        [this] {
            pa_context_state_t state = pa_context_get_state(context_);
            return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
        },
        deadline);
    if (!IsReady()) {
        Disconnect();
        failedAt_ = Clock::now();
        return false;
    }
    failed_ = false;
    return true;
}

bool PulseConnection::WaitUntil(const std::function<bool()> &done, Clock::time_point deadline)
{
    if (InEventThread() || !started_ || !context_) {
        return done();
    }
    while (!done()) {
        auto left = deadline - Clock::now();
        if (left <= Clock::duration::zero()) {
            return false;
        }
        auto usec = std::chrono::duration_cast<std::chrono::microseconds>(left).count() + 1;
        pa_time_event *timer =
            pa_context_rttime_new(context_, pa_rtclock_now() + static_cast<pa_usec_t>(usec), SignalLoop, mainloop_);
        pa_threaded_mainloop_wait(mainloop_);
        if (timer) {
            pa_threaded_mainloop_get_api(mainloop_)->time_free(timer);
        }
    }
    return true;
}

bool PulseConnection::Await(pa_operation *op, Clock::time_point deadline)
{
    if (!op) {
        return false;
    }
    if (InEventThread()) {
        // The event thread cannot wait for its own replies; the operation
        // goes on by itself.
        pa_operation_unref(op);
        return false;
    }
    pa_operation_set_state_callback(op, OperationStateChanged, mainloop_);
    bool finished = WaitUntil([op] { return pa_operation_get_state(op) != PA_OPERATION_RUNNING; }, deadline);
    if (!finished) {
        pa_operation_cancel(op);
    }
    bool done = pa_operation_get_state(op) == PA_OPERATION_DONE;
    pa_operation_set_state_callback(op, nullptr, nullptr);
    pa_operation_unref(op);
    return done;
}

} // namespace platform
