#include "jpegmeta/WorkerThread.h"

#include <chrono>
#include <unistd.h>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {
thread_local const TWorkerThread* tCurrentWorker = nullptr;
} // namespace

TWorkerThread& BackgroundWorker()
{
    static TWorkerThread worker;
    return worker;
}

TWorkerThread::~TWorkerThread()
{
    if (!Owned())
        return;
    {
        std::lock_guard<std::mutex> lock(Mutex);
        Stop = true;
    }
    Wake.notify_one();
    if (Thread.joinable())
        Thread.join();
}

bool TWorkerThread::IsCurrent() const
{
    return tCurrentWorker == this;
}

bool TWorkerThread::Owned() const
{
    return ::getpid() == Owner;
}

void TWorkerThread::Post(std::function<void()> job)
{
    if (!Owned()) {
        job();
        return;
    }
    {
        std::lock_guard<std::mutex> lock(Mutex);
        if (!Thread.joinable())
            Thread = std::thread([this] { Loop(); });
        Jobs.push_back(std::move(job));
        Pending.store(true, std::memory_order_release);
    }
    Wake.notify_one();
}

void TWorkerThread::WakeUp()
{
    if (Owned())
        Post([] {});
}

void TWorkerThread::Finish()
{
    if (!Owned() || IsCurrent()) // nothing to wait for, or a wait for itself
        return;
    std::unique_lock<std::mutex> lock(Mutex);
    Idle.wait(lock, [this] { return Jobs.empty() && !Busy; });
}

void TWorkerThread::Loop()
{
    tCurrentWorker = this;
    std::unique_lock<std::mutex> lock(Mutex);
    for (;;) {
        if (Jobs.empty() && !Stop) {
            lock.unlock();
            const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(250);
            while (!Pending.load(std::memory_order_acquire) && std::chrono::steady_clock::now() < until) {
#if defined(__SSE2__)
                _mm_pause();
#endif
            }
            lock.lock();
        }
        Wake.wait(lock, [this] { return Stop || !Jobs.empty(); });
        if (Jobs.empty()) // stopping, with nothing left to do
            return;
        std::function<void()> job = std::move(Jobs.front());
        Jobs.pop_front();
        Pending.store(!Jobs.empty(), std::memory_order_relaxed);
        Busy = true;
        lock.unlock();
        job();
        lock.lock();
        Busy = false;
        if (Jobs.empty())
            Idle.notify_all();
    }
}
