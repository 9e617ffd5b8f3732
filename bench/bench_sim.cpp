// The simulator's speed: the device model's cost per poll, and the poll cycle
// of the program (20 ms start delay, then the exchange) against kvsim over a
// pseudo-terminal at 115 200 baud, compared with what the line allows.
#include "DeviceModel.h"
#include "MBPort.h"
#include "MBTimer.h"
#include "SimMaster.h"
#include "SimProcess.h"

#include <QCoreApplication>
#include "PollRatioReporter.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>

namespace {

void BM_ModelPoll(benchmark::State& state) {
    kvsim::TDeviceModel model;
    const auto request = kv::PollRequest{0, 0, 2026, 12, 7, 0}.Encode();
    for (auto _ : state) {
        model.Advance(20);
        auto answer = model.Handle(kv::cmdPoll, request);
        benchmark::DoNotOptimize(answer);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ModelPoll);

// One poll cycle as the program runs it: MBStartQuery(20) from the end of the
// previous transaction, request, turnaround, 82-byte answer.
void BM_PtyPollCycle(benchmark::State& state) {
    const int startDelay = static_cast<int>(state.range(0));
    const int turnaround = 2;
    simtest::TKvsimProcess sim({"--turnaround", QString::number(turnaround)});
    if (!sim.ok) {
        state.SkipWithError("kvsim did not start");
        return;
    }
    const QString port = sim.port;
    TMBQtTimerFactory timers;
    auto tty = MBCreateSystemPort();
    simtest::TSimMaster master(*tty, &timers);
    if (!master.Open(port, 115200)) {
        state.SkipWithError("cannot open the pty");
        return;
    }
    std::size_t failures = 0;
    for (auto _ : state) {
        const std::size_t before = master.ends.size();
        master.Poll(static_cast<std::uint16_t>(startDelay));
        if (!simtest::WaitFor([&] { return master.ends.size() > before; }, 10000) || master.ends.back().status != stOK)
            ++failures;
    }
    master.Close();

    // The line's limit: start delay, 30 + 178 characters of 10 bits, turnaround.
    const double lineMs = startDelay + (30.0 + 178.0) * 10.0 * 1000.0 / 115200.0 + turnaround;
    state.counters["polls_per_s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["line_limit_per_s"] = 1000.0 / lineMs;
    state.counters["failures"] = static_cast<double>(failures);
}
BENCHMARK(BM_PtyPollCycle)->Arg(20)->Arg(0)->Iterations(250)->UseRealTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    kvbench::TPollRatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
