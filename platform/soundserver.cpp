// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/soundserver.h"

#include <pulse/timeval.h>

#include <algorithm>
#include <new>

namespace platform {

namespace {

constexpr std::chrono::milliseconds FirstBackOff{100};
constexpr std::chrono::milliseconds LongestBackOff{1000};

void OperationStateChanged(pa_operation *, void *userdata)
{
    pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop *>(userdata), 0);
}

void WakeWaiter(pa_mainloop_api *, pa_time_event *, const struct timeval *, void *userdata)
{
    pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop *>(userdata), 0);
}

struct timeval After(pa_usec_t delay)
{
    struct timeval when;
    pa_gettimeofday(&when);
    pa_timeval_add(&when, delay);
    return when;
}

// How deep this thread is in Lock (the model's reads must not wait for the
// event thread while this thread keeps it from running).
thread_local int lockDepth = 0;

pa_usec_t Usec(std::chrono::milliseconds time)
{
    return static_cast<pa_usec_t>(time.count()) * PA_USEC_PER_MSEC;
}

} // namespace

SoundServer &SoundServer::Instance()
{
    static SoundServer server;
    server.StartThread();
    return server;
}

SoundServer::SoundServer()
{
    mainloop_ = pa_threaded_mainloop_new();
}

SoundServer::~SoundServer()
{
    if (!mainloop_) {
        return;
    }
    if (started_) {
        // Everyone still using the server lets go of it while the event
        // thread is stopped at the lock; then the thread ends before anything
        // it uses goes.
        pa_threaded_mainloop_lock(mainloop_);
        Tell(ModelEvent{ModelEvent::Shutdown, nullptr, nullptr});
        listeners_.clear();
        request_.Cancel();
        if (timer_) {
            Api()->time_free(timer_);
            timer_ = nullptr;
        }
        DropContext();
        pa_threaded_mainloop_unlock(mainloop_);
        pa_threaded_mainloop_stop(mainloop_);
    }
    pa_threaded_mainloop_free(mainloop_);
}

void SoundServer::StartThread()
{
    std::call_once(startOnce_, [this] {
        if (!mainloop_ || pa_threaded_mainloop_start(mainloop_) != 0) {
            std::lock_guard<std::mutex> model(modelMutex_);
            state_ = ServerState::Lost;
            firstTry_ = false;
            return;
        }
        started_ = true;
        pa_threaded_mainloop_lock(mainloop_);
        Connect();
        pa_threaded_mainloop_unlock(mainloop_);
    });
}

pa_mainloop_api *SoundServer::Api() const
{
    return pa_threaded_mainloop_get_api(mainloop_);
}

bool SoundServer::InEventThread() const
{
    return started_ && pa_threaded_mainloop_in_thread(mainloop_);
}

void SoundServer::Lock()
{
    if (started_ && !InEventThread()) {
        pa_threaded_mainloop_lock(mainloop_);
        lockDepth++;
    }
}

void SoundServer::Unlock()
{
    if (started_ && !InEventThread()) {
        lockDepth--;
        pa_threaded_mainloop_unlock(mainloop_);
    }
}

void SoundServer::Signal()
{
    if (mainloop_) {
        pa_threaded_mainloop_signal(mainloop_, 0);
    }
}

// The model ------------------------------------------------------------------

ServerState SoundServer::State()
{
    std::lock_guard<std::mutex> model(modelMutex_);
    return state_;
}

void SoundServer::AwaitFirstConnection(std::unique_lock<std::mutex> &model)
{
    if (firstTry_ && !InEventThread() && lockDepth == 0) {
        modelChanged_.wait_for(model, CallBound, [this] { return !firstTry_; });
    }
}

bool SoundServer::Answering()
{
    std::unique_lock<std::mutex> model(modelMutex_);
    AwaitFirstConnection(model);
    return state_ == ServerState::Ready && answering_;
}

ServerSnapshot SoundServer::Snapshot()
{
    std::unique_lock<std::mutex> model(modelMutex_);
    AwaitFirstConnection(model);
    return model_;
}

std::string SoundServer::PinnedOutput()
{
    std::lock_guard<std::mutex> model(modelMutex_);
    return pinnedOutput_;
}

std::string SoundServer::PinnedInput()
{
    std::lock_guard<std::mutex> model(modelMutex_);
    return pinnedInput_;
}

void SoundServer::PinOutput(const std::string &sink)
{
    std::lock_guard<std::mutex> model(modelMutex_);
    pinnedOutput_ = sink;
}

void SoundServer::PinInput(const std::string &source)
{
    std::lock_guard<std::mutex> model(modelMutex_);
    pinnedInput_ = source;
}

std::string SoundServer::CurrentOutput(const ServerSnapshot &snapshot)
{
    std::string pinned = PinnedOutput();
    if (!pinned.empty() && FindDevice(snapshot.Sinks, pinned)) {
        return pinned;
    }
    auto outputs = OutputDevices(snapshot);
    return outputs.empty() ? std::string() : outputs.front()->Name;
}

std::string SoundServer::CurrentInput(const ServerSnapshot &snapshot)
{
    const DeviceInfo *device = CurrentInputDevice(snapshot, PinnedInput());
    return device ? device->Name : std::string();
}

void SoundServer::Patch(const std::function<void(ServerSnapshot &)> &change)
{
    {
        std::lock_guard<std::mutex> model(modelMutex_);
        change(model_);
    }
    // A read already on its way may predate the change: it is read again.
    patches_++;
    Refresh();
}

int SoundServer::AddListener(Listener listener)
{
    int id = nextListener_++;
    listeners_.push_back({id, std::move(listener)});
    return id;
}

void SoundServer::RemoveListener(int id)
{
    listeners_.erase(std::remove_if(listeners_.begin(), listeners_.end(), [id](const Entry &e) { return e.Id == id; }),
                     listeners_.end());
}

void SoundServer::Tell(const ModelEvent &event)
{
    // A listener may add or remove listeners: call a copy.
    std::vector<Entry> listeners = listeners_;
    for (const Entry &entry : listeners) {
        bool stillThere =
            std::any_of(listeners_.begin(), listeners_.end(), [&entry](const Entry &e) { return e.Id == entry.Id; });
        if (stillThere) {
            entry.Call(event);
        }
    }
}

// Connecting -------------------------------------------------------------------

void SoundServer::ArmTimer(pa_usec_t delay, void (*callback)(SoundServer *))
{
    struct timeval when = After(delay);
    timerCallback_ = callback;
    if (timer_) {
        Api()->time_restart(timer_, &when);
    } else {
        timer_ = Api()->time_new(Api(), &when, TimerFired, this);
    }
}

void SoundServer::TimerFired(pa_mainloop_api *api, pa_time_event *event, const struct timeval *, void *userdata)
{
    auto *self = static_cast<SoundServer *>(userdata);
    api->time_free(event);
    self->timer_ = nullptr;
    if (auto callback = self->timerCallback_) {
        self->timerCallback_ = nullptr;
        callback(self);
    }
}

void SoundServer::Connect()
{
    {
        std::lock_guard<std::mutex> model(modelMutex_);
        state_ = firstTry_ ? ServerState::Connecting : ServerState::Reconnecting;
        answering_ = true;
    }
    pa_proplist *properties = pa_proplist_new();
    pa_proplist_sets(properties, PA_PROP_APPLICATION_NAME, "Glimmerbox");
    context_ = pa_context_new_with_proplist(Api(), "Glimmerbox", properties);
    pa_proplist_free(properties);
    if (!context_) {
        ConnectionLost();
        return;
    }
    pa_context_set_state_callback(context_, ContextStateChanged, this);
    if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        ConnectionLost();
        return;
    }
    // A server that takes the connection but never answers counts as gone.
    ArmTimer(Usec(CallBound), ConnectTimedOut);
}

void SoundServer::ConnectTimedOut(SoundServer *self)
{
    if (self->State() != ServerState::Ready) {
        self->ConnectionLost();
    }
}

void SoundServer::Reconnect(SoundServer *self)
{
    self->Connect();
}

void SoundServer::DropContext()
{
    request_.Cancel();
    again_ = false;
    probing_ = false;
    if (context_) {
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_set_subscribe_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
        pa_context_unref(context_);
        context_ = nullptr;
    }
}

void SoundServer::ConnectionLost()
{
    DropContext();
    bool hadModel;
    {
        std::lock_guard<std::mutex> model(modelMutex_);
        hadModel = state_ == ServerState::Ready;
        state_ = ServerState::Lost;
        firstTry_ = false;
        model_ = ServerSnapshot{};
    }
    modelChanged_.notify_all();
    Signal();
    if (hadModel) {
        Tell(ModelEvent{ModelEvent::Lost, nullptr, nullptr});
    }
    RetryLater();
}

void SoundServer::RetryLater()
{
    ArmTimer(Usec(backOff_), Reconnect);
    backOff_ = std::min(backOff_ * 2, LongestBackOff);
}

void SoundServer::ContextStateChanged(pa_context *context, void *userdata)
{
    auto *self = static_cast<SoundServer *>(userdata);
    switch (pa_context_get_state(context)) {
    case PA_CONTEXT_READY: {
        pa_context_set_subscribe_callback(context, ServerChanged, self);
        auto mask = static_cast<pa_subscription_mask_t>(PA_SUBSCRIPTION_MASK_SINK | PA_SUBSCRIPTION_MASK_SOURCE |
                                                        PA_SUBSCRIPTION_MASK_SERVER | PA_SUBSCRIPTION_MASK_CARD);
        if (pa_operation *op = pa_context_subscribe(context, mask, nullptr, nullptr)) {
            pa_operation_unref(op);
        }
        self->Refresh();
        break;
    }
    case PA_CONTEXT_FAILED:
    case PA_CONTEXT_TERMINATED:
        // Handled once libpulse has failed the streams of this context, so
        // that their owners hear of it from their streams first.
        self->ArmTimer(0, [](SoundServer *server) { server->ConnectionLost(); });
        break;
    default:
        break;
    }
    self->Signal();
}

// Keeping the model current -------------------------------------------------------

void SoundServer::ServerChanged(pa_context *, pa_subscription_event_type_t, uint32_t, void *userdata)
{
    static_cast<SoundServer *>(userdata)->Refresh();
}

void SoundServer::Refresh()
{
    if (!context_ || pa_context_get_state(context_) != PA_CONTEXT_READY) {
        return;
    }
    if (request_.Running()) {
        again_ = true;
        return;
    }
    again_ = false;
    requestPatches_ = patches_;
    currentRead_ = ++reads_;
    request_.Start(context_, [this] { Refreshed(); });
}

void SoundServer::Refreshed()
{
    if (requestPatches_ != patches_) {
        // Asked before one of our own changes: it may not show it.
        again_ = false;
        Refresh();
        return;
    }
    ServerSnapshot before;
    bool nowReady;
    try {
        std::lock_guard<std::mutex> model(modelMutex_);
        before = std::move(model_);
        model_ = std::move(request_.Result);
        nowReady = state_ != ServerState::Ready;
        state_ = ServerState::Ready;
        shownRead_ = currentRead_;
        firstTry_ = false;
        answering_ = true;
    } catch (const std::bad_alloc &) {
        return;
    }
    if (nowReady) {
        backOff_ = FirstBackOff;
        if (timer_ && timerCallback_ == ConnectTimedOut) {
            Api()->time_free(timer_);
            timer_ = nullptr;
            timerCallback_ = nullptr;
        }
    }
    modelChanged_.notify_all();
    Signal();
    // model_ changes only with the loop locked, which this thread holds.
    Tell(ModelEvent{ModelEvent::Changed, &before, &model_});
    if (again_) {
        Refresh();
    }
}

bool SoundServer::Sync(Clock::time_point deadline)
{
    if (!Answering() || InEventThread()) {
        return false;
    }
    // A read already under way may have been asked before the caller's last
    // change: only one that starts from here on counts.
    uint64_t wanted = reads_ + 1;
    Refresh();
    return WaitUntil(
        [this, wanted] {
            std::lock_guard<std::mutex> model(modelMutex_);
            return shownRead_ >= wanted || state_ != ServerState::Ready;
        },
        deadline);
}

// Calls that wait ----------------------------------------------------------------

void SoundServer::MarkNotAnswering()
{
    {
        std::lock_guard<std::mutex> model(modelMutex_);
        answering_ = false;
    }
    SendProbe();
}

void SoundServer::SendProbe()
{
    if (probing_ || !context_) {
        return;
    }
    if (pa_operation *op = pa_context_get_server_info(context_, ProbeAnswered, this)) {
        probing_ = true;
        pa_operation_unref(op);
    }
}

void SoundServer::ProbeAnswered(pa_context *, const pa_server_info *info, void *userdata)
{
    auto *self = static_cast<SoundServer *>(userdata);
    self->probing_ = false;
    if (!info) {
        // The request itself timed out: ask again.
        self->SendProbe();
        return;
    }
    {
        std::lock_guard<std::mutex> model(self->modelMutex_);
        self->answering_ = true;
    }
    self->modelChanged_.notify_all();
    // What changed while it was silent.
    self->Refresh();
}

bool SoundServer::WaitUntil(const std::function<bool()> &done, Clock::time_point deadline, bool serversAnswer)
{
    if (InEventThread() || !started_) {
        return done();
    }
    while (!done()) {
        auto left = deadline - Clock::now();
        if (left <= Clock::duration::zero()) {
            if (serversAnswer) {
                MarkNotAnswering();
            }
            return false;
        }
        auto usec = std::chrono::duration_cast<std::chrono::microseconds>(left).count() + 1;
        struct timeval when = After(static_cast<pa_usec_t>(usec));
        pa_time_event *timer = Api()->time_new(Api(), &when, WakeWaiter, mainloop_);
        pa_threaded_mainloop_wait(mainloop_);
        if (timer) {
            Api()->time_free(timer);
        }
    }
    return true;
}

bool SoundServer::Await(pa_operation *op, Clock::time_point deadline)
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
