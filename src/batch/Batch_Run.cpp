// The batch's worker threads: one page per thread at a time, a page started
// only while the memory of the pages under way leaves room for it.

#include "batch/Batch.h"

#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace {
constexpr int64_t kDefaultBudget = int64_t(3) << 29; // 1.5 GiB
}

struct TBatchRun::TState {
    QStringList Files;
    TBatchSettings Settings;
    TOptions Options;
    std::atomic<bool> Cancel{false};
    std::atomic<int> Next{0};
    std::mutex Lock;
    std::condition_variable Freed;
    int64_t InUse = 0;
    int Running = 0;
    std::mutex Report; // one callback at a time
    std::vector<std::thread> Workers;
};

TBatchRun::TBatchRun(QStringList files, TBatchSettings settings, TOptions options)
    : FState(std::make_shared<TState>())
{
    FState->Files = std::move(files);
    FState->Settings = std::move(settings);
    FState->Options = options;
    if (FState->Options.MemoryBudget <= 0)
        FState->Options.MemoryBudget = kDefaultBudget;
}

TBatchRun::~TBatchRun()
{
    Cancel();
    Wait();
}

int TBatchRun::Total() const
{
    return static_cast<int>(FState->Files.size());
}

bool TBatchRun::Cancelled() const
{
    return FState->Cancel.load();
}

void TBatchRun::Cancel()
{
    FState->Cancel = true;
    FState->Freed.notify_all();
}

void TBatchRun::Start()
{
    int threads = FState->Options.Threads;
    if (threads <= 0)
        threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    threads = std::min(threads, std::max(1, Total()));
    auto onPage = OnPage;
    auto onStart = OnStart;
    for (int t = 0; t < threads; ++t) {
        FState->Workers.emplace_back([st = FState, onPage, onStart] {
            for (;;) {
                if (st->Cancel)
                    return;
                const int index = st->Next++;
                if (index >= st->Files.size())
                    return;
                const QString& file = st->Files.at(index);
                // A page larger than the whole budget still runs, alone.
                const int64_t need = std::min(BatchPageBudget(file), st->Options.MemoryBudget);
                {
                    std::unique_lock<std::mutex> hold(st->Lock);
                    st->Freed.wait(hold, [&] {
                        return st->Cancel || st->Running == 0 || st->InUse + need <= st->Options.MemoryBudget;
                    });
                    if (st->Cancel)
                        return;
                    st->InUse += need;
                    ++st->Running;
                }
                if (onStart) {
                    const std::lock_guard<std::mutex> r(st->Report);
                    onStart(index);
                }
                // A page already cut is finished even when the run is stopped
                // meanwhile, so it never ends between its two files.
                const TBatchPage page = ProcessBatchPage(file, st->Settings);
                {
                    const std::lock_guard<std::mutex> hold(st->Lock);
                    st->InUse -= need;
                    --st->Running;
                }
                st->Freed.notify_all();
                if (onPage) {
                    const std::lock_guard<std::mutex> r(st->Report);
                    onPage(index, page);
                }
            }
        });
    }
}

void TBatchRun::Wait()
{
    for (std::thread& t : FState->Workers)
        if (t.joinable())
            t.join();
    FState->Workers.clear();
}
