// The console reporter of every benchmark program here: it shows the runs as usual and keeps each
// benchmark's median time per call (wall-clock and CPU), so that the program can print its ratios to its floor after
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
#include <functional>
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
    // clock: the one that Median(name) reports; Median(name, clock) reports either.
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
            for (const Clock clock : { Clock::Real, Clock::Cpu }) {
                Times& times = m_times[static_cast<int>(clock)];
                const double time = clock == Clock::Real ? run.GetAdjustedRealTime() : run.GetAdjustedCPUTime();
                if (run.run_type == Run::RT_Iteration)
                    times.runs[run.run_name.function_name].push_back(time);
                else if (run.aggregate_name == "median")
                    times.medians[run.run_name.function_name] = time;
            }
        }
    }

    // The benchmark's median time per call; 0 when it did not run.
    double Median(const std::string& name) const
    {
        return Median(name, m_clock);
    }

    double Median(const std::string& name, Clock clock) const
    {
        const Times& times = m_times[static_cast<int>(clock)];
        if (auto median = times.medians.find(name); median != times.medians.end())
            return median->second;
        auto runs = times.runs.find(name);
        if (runs == times.runs.end() || runs->second.empty())
            return 0;
        std::vector<double> sorted = runs->second;
        std::sort(sorted.begin(), sorted.end());
        return sorted[sorted.size() / 2];
    }

    // The names of the benchmarks that ran, in order of name.
    std::vector<std::string> Names() const
    {
        const Times& times = m_times[static_cast<int>(m_clock)];
        std::vector<std::string> names;
        for (const auto& [name, median] : times.medians)
            names.push_back(name);
        for (const auto& [name, runs] : times.runs)
            if (!times.medians.count(name))
                names.push_back(name);
        std::sort(names.begin(), names.end());
        return names;
    }

private:
    struct Times {
        std::map<std::string, std::vector<double>> runs;
        std::map<std::string, double> medians;
    };

    Clock m_clock;
    Times m_times[2]; // by Clock
};

// Runs the registered benchmarks with the stable-run defaults into a MedianReporter and hands it
// to report, whose answer is the program's exit status; an unknown flag gives 1.
inline int RunStable(int argc, char** argv, const std::function<int(const MedianReporter&)>& report)
{
    std::vector<char*> arguments = StableArguments(argc, argv);
    int count = static_cast<int>(arguments.size());
    benchmark::Initialize(&count, arguments.data());
    int status = 1;
    if (!benchmark::ReportUnrecognizedArguments(count, arguments.data())) {
        MedianReporter reporter;
        benchmark::RunSpecifiedBenchmarks(&reporter);
        status = report(reporter);
    }
    benchmark::Shutdown();
    return status;
}
}
