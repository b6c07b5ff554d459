// The console reporter of every benchmark program here: it shows the runs as usual and keeps each
// benchmark's median time per call, so that the program can print its ratios to its floor after
// the run. With --benchmark_report_aggregates_only only the aggregates arrive, and their median
// is taken; otherwise the median of the repetitions seen. Times are in each benchmark's own unit.
//
// StableArguments gives a program whose ratios compare benchmarks with each other the flags that
// keep those ratios steady on a shared, loaded machine, unless the caller set them: many short
// repetitions, interleaved at random so that a change of load falls on every benchmark alike.
#pragma once

#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace benchmark_support {

// argv with the stable-run defaults added for every flag the caller did not give. The strings
// live as long as the program; pass the result (and its size) to benchmark::Initialize.
inline std::vector<char*> StableArguments(int argc, char** argv)
{
    static const char* const defaults[][2] = {
        { "--benchmark_repetitions", "--benchmark_repetitions=20" },
        { "--benchmark_enable_random_interleaving", "--benchmark_enable_random_interleaving=true" },
        { "--benchmark_min_time", "--benchmark_min_time=0.1" },
        { "--benchmark_report_aggregates_only", "--benchmark_report_aggregates_only=true" },
    };
    std::vector<char*> arguments(argv, argv + argc);
    for (const auto& [flag, value] : defaults) {
        const bool given = std::any_of(argv + 1, argv + argc,
            [flag = flag](const char* argument) { return std::strncmp(argument, flag, std::strlen(flag)) == 0; });
        if (!given)
            arguments.push_back(const_cast<char*>(value));
    }
    return arguments;
}

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
