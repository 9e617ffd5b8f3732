// kvctl watch against kvsim: the command itself (TKvCtl with the system's
// port, its receive thread and Qt's timers), kvsim at 115 200 baud with line
// timing on a pseudo-terminal. Prints polls per second against the line's
// limit for this exchange (the 20 ms start delay, 30 + 178 characters of 10
// bits, the simulator's turnaround) and kvctl's CPU time per poll (both its
// threads), with a line formatted for every poll (--interval 0) and with the
// default one line a second. Figures only; nothing passes or fails on time.
#include "KvCtl.h"
#include "MBSerialPortLinux.h"
#include "SimProcess.h"

#include "PollRatioReporter.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <benchmark/benchmark.h>

namespace {

constexpr int kTurnaroundMs = 2;
constexpr int kStartDelayMs = 20;

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
    if (ctl.Finished() || !ctl.Cycle()) {
        state.SkipWithError("watch did not start");
        return;
    }
    std::size_t polls = 0, failures = 0;
    // The timed part waits in a plain event loop that the poll's end quits,
    // so that no waiting of the benchmark's own wakes the process.
    QEventLoop loop;
    auto inner = ctl.Cycle()->OnEnd;
    ctl.Cycle()->OnEnd = [&, inner](const kv::TCommandEnd& e) {
        if (e.Command == kv::cmdPoll) {
            ++polls;
            if (!e.Done)
                ++failures;
            loop.quit();
        }
        inner(e);
    };
    // Past the first poll and the settings read: polls only from here on.
    if (!simtest::WaitFor([&] { return polls >= 3; }, 10000)) {
        state.SkipWithError("watch did not reach its poll cycle");
        return;
    }
    QTimer guard; // a device that stopped answering ends the wait
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, &loop, &QEventLoop::quit);
    auto* serial = dynamic_cast<TMBSerialPortLinux*>(&ctl.Link()->MBPortDevice());
    const std::uint64_t handOvers0 = serial ? serial->HandOversPosted() : 0;
    const auto threadCpu0 = serial ? serial->ReceiveThreadCpuTime() : std::chrono::nanoseconds{};
    const std::size_t first = polls;
    const double cpu0 = kvbench::CpuSeconds();
    for (auto _ : state) {
        const std::size_t before = polls;
        guard.start(10000);
        loop.exec();
        if (polls == before)
            ++failures;
    }
    const double cpu = kvbench::CpuSeconds() - cpu0;
    const std::size_t n = polls - first;
    if (serial && n) {
        // Where the CPU goes: the receive thread's hand-overs of each burst.
        state.counters["handovers_per_poll"] =
            static_cast<double>(serial->HandOversPosted() - handOvers0) / static_cast<double>(n);
        state.counters["rx_thread_cpu_ms_per_poll"] =
            std::chrono::duration<double, std::milli>(serial->ReceiveThreadCpuTime() - threadCpu0).count() /
            static_cast<double>(n);
    }
    ctl.Interrupt();

    const double charMs = 10.0 * 1000.0 / 115200.0;
    const double lineMs = kStartDelayMs + (30.0 + 178.0) * charMs + kTurnaroundMs;
    state.counters["line_limit_per_s"] = 1000.0 / lineMs;
    state.counters["failures"] = static_cast<double>(failures);
    state.counters["cpu_ms_per_poll"] = n ? cpu * 1000.0 / static_cast<double>(n) : 0.0;
    state.counters["peak_MiB"] = kvbench::PeakMiB();
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
