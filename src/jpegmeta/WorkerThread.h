#pragma once
// A thread that runs posted work in order, started on first use and kept for
// the next piece of work, so that handing work over costs a wake-up instead
// of a thread's start. After each piece of work it stays awake for a moment
// (a quarter of a millisecond), as work tends to come in bursts: a save hands
// over an encode, then its file, then the working copy.

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <sys/types.h>
#include <unistd.h>
#include <thread>

class TWorkerThread {
public:
    TWorkerThread() = default;
    TWorkerThread(const TWorkerThread&) = delete;
    TWorkerThread& operator=(const TWorkerThread&) = delete;
    // Finishes the work posted so far, then ends the thread.
    ~TWorkerThread();

    // Work posted from one thread runs in the order posted. In a forked
    // child, which has no worker (and maybe a lock the worker held at the
    // fork), it runs at once on the caller's thread.
    void Post(std::function<void()> job);

    // Runs f on the worker; its result comes through the future. Asked from
    // work the worker itself is running, f runs at once: the asker would
    // otherwise wait for itself.
    template <class F>
    auto Run(F f) -> std::future<decltype(f())>
    {
        auto task = std::make_shared<std::packaged_task<decltype(f())()>>(std::move(f));
        auto result = task->get_future();
        if (IsCurrent())
            (*task)();
        else
            Post([task] { (*task)(); });
        return result;
    }

    // True on the worker's own thread.
    bool IsCurrent() const;

    // Gets the thread running now, so work posted in the next moments starts
    // at once instead of after a wake-up.
    void WakeUp();

    // Returns once every piece of work posted so far is done.
    void Finish();

    // False in a forked child of the process that made the worker.
    bool Owned() const;

private:
    void Loop();

    const pid_t Owner = ::getpid();
    std::mutex Mutex;
    std::condition_variable Wake, Idle;
    std::deque<std::function<void()>> Jobs;
    bool Busy = false, Stop = false;
    std::atomic<bool> Pending{false}; // Jobs is not empty; read while awake without the lock
    std::thread Thread;
};

// The process's worker for the work a save leaves behind or hands over.
TWorkerThread& BackgroundWorker();
