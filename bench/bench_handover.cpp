// Latency of the receive hand-over: bytes written at the device end of a
// pseudo-terminal until the receive callback runs on the GUI thread (poll
// wake-up of the receive thread, queued call, GUI event loop). Prints the
// median and the 99th percentile.
#include "MBSerialPortLinux.h"
#include "Pty.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double Percentile(std::vector<double> v, double p) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const auto i = static_cast<std::size_t>(p * double(v.size() - 1) + 0.5);
    return v[std::min(i, v.size() - 1)];
}

void BM_HandOver(benchmark::State& state) {
    const auto size = static_cast<std::size_t>(state.range(0));
    kvtest::Pty pty;
    TMBSerialPortLinux port;
    if (!pty.IsOpen() || !port.Open(QString::fromStdString(pty.SlavePath()), 115200)) {
        state.SkipWithError("no pseudo-terminal");
        return;
    }
    const std::string payload(size, 'S');
    QEventLoop loop;
    Clock::time_point arrived;
    std::size_t got = 0;
    bool first = true;
    port.OnReceive = [&](qint64 n) {
        if (first)
            arrived = Clock::now();
        first = false;
        got += static_cast<std::size_t>(port.Read(n).size());
        if (got >= size)
            loop.quit();
    };
    QTimer guard; // a lost batch ends the run instead of hanging it
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, &loop, &QEventLoop::quit);

    std::vector<double> micros;
    micros.reserve(4096);
    for (auto _ : state) {
        got = 0;
        first = true;
        guard.start(2000);
        const Clock::time_point sent = Clock::now();
        pty.Write(payload);
        loop.exec();
        guard.stop();
        if (got < size) {
            state.SkipWithError("a batch did not arrive");
            break;
        }
        const std::chrono::duration<double> latency = arrived - sent;
        state.SetIterationTime(latency.count());
        micros.push_back(latency.count() * 1e6);
    }
    state.counters["median_us"] = Percentile(micros, 0.5);
    state.counters["p99_us"] = Percentile(micros, 0.99);
}
BENCHMARK(BM_HandOver)->Arg(1)->Arg(64)->Arg(1024)->UseManualTime()->Unit(benchmark::kMicrosecond)
    ->MinTime(0.5);

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
