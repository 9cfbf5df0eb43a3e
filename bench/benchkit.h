// Timing helpers shared by the benchmarks.
#pragma once
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

// Milliseconds of each of count runs of step, sorted.
inline std::vector<double> TimeEach(int count, const std::function<void()>& step)
{
    using Clock = std::chrono::steady_clock;
    std::vector<double> times;
    times.reserve(count);
    for (int i = 0; i < count; ++i) {
        const auto start = Clock::now();
        step();
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times;
}

// One line: the median and the 90th percentile of sorted times against a target for the median.
inline void ReportTimes(const char* what, const std::vector<double>& times, double target)
{
    std::printf("%-44s median %7.3f ms  p90 %7.3f ms  (target < %.0f ms: %s)\n", what, times[times.size() / 2],
                times[times.size() * 9 / 10], target, times[times.size() / 2] < target ? "met" : "MISSED");
}
