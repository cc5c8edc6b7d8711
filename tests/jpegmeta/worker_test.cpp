#include "jpegmeta/WorkerThread.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

// Work runs in the order posted; Finish waits for all of it; results and
// failures come back through Run's future.
TEST(WorkerThread, RunsInOrderAndHandsBackResults)
{
    TWorkerThread worker;
    std::vector<int> seen;
    for (int i = 0; i < 200; ++i)
        worker.Post([&seen, i] { seen.push_back(i); });
    worker.Finish();
    ASSERT_EQ(seen.size(), 200u);
    for (int i = 0; i < 200; ++i)
        EXPECT_EQ(seen[size_t(i)], i);
    EXPECT_EQ(worker.Run([] { return 42; }).get(), 42);
    auto failed = worker.Run([]() -> int { throw std::runtime_error("disk"); });
    EXPECT_THROW(failed.get(), std::runtime_error);
    EXPECT_FALSE(worker.IsCurrent());
}

// Work that asks the worker for more and waits, or waits for the worker,
// must not wait for itself; a forked child, which has no worker thread, does
// the work at once.
TEST(WorkerThread, NeverWaitsForItself)
{
    TWorkerThread worker;
    const int nested = worker
                           .Run([&worker] {
                               worker.Finish();
                               return worker.Run([&worker] { return worker.IsCurrent() ? 7 : 0; }).get();
                           })
                           .get();
    EXPECT_EQ(nested, 7);

    const pid_t pid = fork();
    if (pid == 0)
        _exit(worker.Run([] { return 3; }).get() == 3 && !worker.Owned() ? 0 : 1);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}
