#pragma once
// The console table of Google Benchmark, followed for every poll-cycle run by
// the share of the line's limit it reached (counter "line_limit_per_s") and,
// where the run measured them, its CPU per cycle and peak memory.
#include "ProcessFigures.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <vector>

namespace kvbench {

class TPollRatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs) {
            auto l = r.counters.find("line_limit_per_s");
            if (l == r.counters.end() || r.real_accumulated_time <= 0.0)
                continue;
            const double rate = static_cast<double>(r.iterations) / r.real_accumulated_time;
            std::printf("%s: %.2f polls/s against a line limit of %.2f polls/s: ratio %.3f (goal >= 0.99)\n",
                        r.benchmark_name().c_str(), rate, l->second.value, rate / l->second.value);
            auto c = r.counters.find("cpu_ms_per_poll");
            auto m = r.counters.find("peak_MiB");
            if (c != r.counters.end() && m != r.counters.end())
                std::printf("CPU %.3f ms per poll cycle (goal <= 0.5 ms offscreen, 1 ms drawn), peak memory %.1f MiB\n", c->second.value,
                            m->second.value);
        }
    }
};

} // namespace kvbench
