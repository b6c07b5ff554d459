// The console reporter of every benchmark program here: it shows the runs as usual and keeps each
// benchmark's median time per call, so that the program can print its ratios to its floor after
// the run. With --benchmark_report_aggregates_only only the aggregates arrive, and their median
// is taken; otherwise the median of the repetitions seen. Times are in each benchmark's own unit.
#pragma once

#include <algorithm>
#include <benchmark/benchmark.h>
#include <map>
#include <string>
#include <vector>

namespace benchmark_support {

enum class Clock { Real, Cpu };

class MedianReporter : public benchmark::ConsoleReporter {
public:
    explicit MedianReporter(Clock clock = Clock::Real)
        : m_clock(clock)
    {
    }

    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.error_occurred)
                continue;
            const double time = m_clock == Clock::Real ? run.GetAdjustedRealTime() : run.GetAdjustedCPUTime();
            if (run.run_type == Run::RT_Iteration)
                m_times[run.run_name.function_name].push_back(time);
            else if (run.aggregate_name == "median")
                m_medians[run.run_name.function_name] = time;
        }
    }

    // The benchmark's median time per call; 0 when it did not run.
    double Median(const std::string& name) const
    {
        if (auto median = m_medians.find(name); median != m_medians.end())
            return median->second;
        auto times = m_times.find(name);
        if (times == m_times.end() || times->second.empty())
            return 0;
        std::vector<double> sorted = times->second;
        std::sort(sorted.begin(), sorted.end());
        return sorted[sorted.size() / 2];
    }

    // The names of the benchmarks that ran, in order of name.
    std::vector<std::string> Names() const
    {
        std::vector<std::string> names;
        for (const auto& [name, median] : m_medians)
            names.push_back(name);
        for (const auto& [name, times] : m_times)
            if (!m_medians.count(name))
                names.push_back(name);
        std::sort(names.begin(), names.end());
        return names;
    }

private:
    Clock m_clock;
    std::map<std::string, std::vector<double>> m_times;
    std::map<std::string, double> m_medians;
};

}
