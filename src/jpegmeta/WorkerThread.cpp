#include "jpegmeta/WorkerThread.h"

#include <unistd.h>

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
    }
    Wake.notify_one();
}

void TWorkerThread::Finish()
{
    if (!Owned())
        return;
    std::unique_lock<std::mutex> lock(Mutex);
    Idle.wait(lock, [this] { return Jobs.empty() && !Busy; });
}

void TWorkerThread::Loop()
{
    std::unique_lock<std::mutex> lock(Mutex);
    for (;;) {
        Wake.wait(lock, [this] { return Stop || !Jobs.empty(); });
        if (Jobs.empty()) // stopping, with nothing left to do
            return;
        std::function<void()> job = std::move(Jobs.front());
        Jobs.pop_front();
        Busy = true;
        lock.unlock();
        job();
        lock.lock();
        Busy = false;
        if (Jobs.empty())
            Idle.notify_all();
    }
}
