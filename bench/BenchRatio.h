#pragma once
// What every benchmark program of ours shares: the process set-up and a
// reporter that prints our time as a ratio of the reference measured in the
// same run, since absolute times mean little on a shared machine.

#include <benchmark/benchmark.h>

#include <sched.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace bench {

// Goals stated for one thread are measured on one core: Qt then works
// without helper threads.
inline void PinToOneCore()
{
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(std::max(sched_getcpu(), 0), &one);
    sched_setaffinity(0, sizeof(one), &one);
}

// Widgets need a platform; without a display the offscreen one serves.
inline void DefaultToOffscreen()
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
}

// Keeps per benchmark (by its function name) the real and CPU seconds per
// iteration: the median when repetitions were asked for, else the fastest
// run. CPU time is the steadier on a busy machine and counts the helper
// threads a library may start.
class TRatioReporter : public benchmark::ConsoleReporter
{
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& r : runs) {
            const bool median = r.run_type == Run::RT_Aggregate && r.aggregate_name == "median";
            if (!median && (r.run_type != Run::RT_Iteration || r.iterations <= 0))
                continue;
            const double unit = benchmark::GetTimeUnitMultiplier(r.time_unit);
            const std::pair<double, double> t{r.GetAdjustedRealTime() / unit, r.GetAdjustedCPUTime() / unit};
            const std::string& name = r.run_name.function_name;
            auto it = FTimes.find(name);
            if (median)
                FMedians[name] = t;
            else if (it == FTimes.end() || t.second < it->second.second)
                FTimes[name] = t;
        }
        ConsoleReporter::ReportRuns(runs);
    }

    // Prints ours / (reference x scale) in CPU and real time, with the goal
    // when there is one (goal <= 0: none).
    void Ratio(const char* what, const std::string& ours, const std::string& ref, double goal,
               double scale = 1.0) const
    {
        const std::pair<double, double>* a = Find(ours);
        const std::pair<double, double>* b = Find(ref);
        if (!a || !b || b->first <= 0 || b->second <= 0)
            return;
        const double cpu = a->second / (b->second * scale);
        const double real = a->first / (b->first * scale);
        if (goal > 0)
            std::printf("%-58s cpu %6.3f  wall %6.3f  (goal <= %.2f)\n", what, cpu, real, goal);
        else
            std::printf("%-58s cpu %6.3f  wall %6.3f\n", what, cpu, real);
    }

private:
    const std::pair<double, double>* Find(const std::string& name) const
    {
        auto m = FMedians.find(name);
        if (m != FMedians.end())
            return &m->second;
        auto t = FTimes.find(name);
        return t == FTimes.end() ? nullptr : &t->second;
    }

    std::map<std::string, std::pair<double, double>> FTimes;   // fastest iteration run
    std::map<std::string, std::pair<double, double>> FMedians; // median of repetitions
};

} // namespace bench
