#pragma once
// The thread that makes every SANE call of the source manager.
//
// SANE backends may block for a long time (or for ever: the test backend can hang in
// sane_cancel after a failed read), so no SANE function ever runs on the user-interface
// thread. Calls are queued on one worker thread per device session, in order. A worker
// that stops answering can be abandoned: it is left to finish (or not) on its own, and
// later sessions get a fresh worker.

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class QWidget;
class QString;

// Completion flag of one queued call. The call's results live in whatever the call's
// closure captured (by shared_ptr), never in the caller's stack.
struct TDsmJob {
    std::atomic<bool> Done{false};
    std::mutex Mutex;
    std::condition_variable Cond;
    void Finish();
    bool WaitFor(int ms);
};

class TSaneWorker {
public:
    TSaneWorker();
    ~TSaneWorker();
    TSaneWorker(const TSaneWorker&) = delete;
    TSaneWorker& operator=(const TSaneWorker&) = delete;

    // Queues `call`; the returned job is finished right after the call returns. When
    // `notify` is set, an event is posted to the application once the call is done.
    std::shared_ptr<TDsmJob> Submit(std::function<void()> call, bool notify = false);
    // Leaves the thread running detached; the worker must not be used afterwards.
    void Abandon();
    bool Abandoned() const { return abandoned_; }

    struct Shared;

private:
    std::shared_ptr<Shared> shared_;
    std::thread thread_;
    bool abandoned_ = false;
};

// The worker for sessions that start now (a fresh one after an abandon).
std::shared_ptr<TSaneWorker> CurrentSaneWorker();
// Forgets `worker` as the current one if it still is.
void AbandonSaneWorker(const std::shared_ptr<TSaneWorker>& worker);

// Milliseconds without an answer before the user is offered to abandon the device.
int WatchdogMs();
void SetWatchdogMs(int ms);

// Waits on the user-interface thread for `job`, keeping the interface responsive: a busy
// note appears after a moment, and after WatchdogMs() the user is asked whether to
// abandon the device. Returns true when the job finished, false when abandoned.
bool WaitForJob(const std::shared_ptr<TDsmJob>& job, QWidget* parent, const QString& what);

// Posts the manager's wake-up event to the application (thread-safe).
void PostDsmEvent();
// The event type of that wake-up event.
int DsmEventType();
