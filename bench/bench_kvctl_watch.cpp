// kvctl watch against kvsim: the command itself (TKvCtl with the system's
// port, its receive thread and Qt's timers), kvsim at 115 200 baud with line
// timing on a pseudo-terminal. Prints polls per second against the line's
// limit for this exchange (the 20 ms start delay, 30 + 178 characters of 10
// bits, the simulator's turnaround) and kvctl's CPU time per poll (both its
// threads), with a line formatted for every poll (--interval 0) and with the
// default one line a second. Figures only; nothing passes or fails on time.
#include "KvCtl.h"
#include "SimProcess.h"

#include "PollRatioReporter.h"

#include <QCoreApplication>

#include <benchmark/benchmark.h>

#include <sys/resource.h>

namespace {

constexpr int kTurnaroundMs = 2;
constexpr int kStartDelayMs = 20;

double CpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double PeakMiB() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_maxrss) / 1024.0;
}

void BM_KvctlWatch(benchmark::State& state) {
    simtest::TKvsimProcess sim({"--turnaround", QString::number(kTurnaroundMs)});
    if (!sim.ok) {
        state.SkipWithError("kvsim did not start");
        return;
    }
    kvctl::TEnvironment env;
    std::size_t bytes = 0;
    env.out = [&](const QByteArray& b) { bytes += static_cast<std::size_t>(b.size()); };
    env.err = [](const QByteArray&) {};
    kvctl::TKvCtl ctl(env);
    const QString interval = state.range(0) == 0 ? QStringLiteral("0") : QStringLiteral("1");
    ctl.Start({"--port", sim.port, "watch", "--interval", interval});
    if (ctl.Finished() || !ctl.Session()) {
        state.SkipWithError("watch did not start");
        return;
    }
    std::size_t polls = 0, failures = 0;
    auto inner = ctl.Session()->OnEnd;
    ctl.Session()->OnEnd = [&, inner](const kvctl::TKvSession::TEnd& e) {
        if (e.command == kv::cmdPoll) {
            ++polls;
            if (e.status != stOK)
                ++failures;
        }
        inner(e);
    };
    // Past the first poll and the settings read: polls only from here on.
    if (!simtest::WaitFor([&] { return polls >= 3; }, 10000)) {
        state.SkipWithError("watch did not reach its poll cycle");
        return;
    }
    const std::size_t first = polls;
    const double cpu0 = CpuSeconds();
    for (auto _ : state) {
        const std::size_t before = polls;
        if (!simtest::WaitFor([&] { return polls > before; }, 10000))
            ++failures;
    }
    const double cpu = CpuSeconds() - cpu0;
    const std::size_t n = polls - first;
    ctl.Interrupt();

    const double charMs = 10.0 * 1000.0 / 115200.0;
    const double lineMs = kStartDelayMs + (30.0 + 178.0) * charMs + kTurnaroundMs;
    state.counters["line_limit_per_s"] = 1000.0 / lineMs;
    state.counters["failures"] = static_cast<double>(failures);
    state.counters["cpu_ms_per_poll"] = n ? cpu * 1000.0 / static_cast<double>(n) : 0.0;
    state.counters["peak_MiB"] = PeakMiB();
    state.counters["out_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_KvctlWatch)->ArgName("interval_s")->Arg(0)->Arg(1)->Iterations(400)->UseRealTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    kvbench::TPollRatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
