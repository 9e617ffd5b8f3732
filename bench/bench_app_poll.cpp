// The program's poll cycle against kvsim: the real main window offscreen, its
// link MB1 on the system's port with Qt's timers, kvsim at 115 200 baud with
// line timing on a pseudo-terminal. Prints
//  - polls per second against the line's limit for this exchange (the 20 ms
//    start delay, 30 + 178 characters of 10 bits, the simulator's
//    turnaround), as a ratio;
//  - where a cycle's time goes: from the end of one poll to the start of
//    sending the next (the start delay and its lateness), from the start of
//    sending to the first answer byte handed to the link (request,
//    turnaround, one character, hand-over), and from there to the end of the
//    transaction (the rest of the answer);
//  - the program's CPU time per poll cycle (both its threads), the receive
//    thread's hand-overs per poll and its peak memory.
// Each run twice: the answer's characters reaching the port in bursts 1 ms
// apart (a UART's FIFO, a USB adapter at low latency) and 16 ms apart (a USB
// adapter's default latency timer); each burst is a hand-over.
// Offscreen the window is not shown (the poll cycle's own cost); on a real
// display (under Xvfb: xvfb-run -a env QT_QPA_PLATFORM=xcb bench_app_poll)
// it is shown and drawn.
// Figures only; nothing passes or fails on time.
#include "MB.h"
#include "MBSerialPortLinux.h"
#include "Main.h"
#include "SimProcess.h"
#include "SpeedButton.h"

#include <QAbstractButton>
#include <QApplication>
#include <QEventLoop>
#include <QListWidget>
#include <QTemporaryDir>
#include <QTimer>

#include "PollRatioReporter.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

using TClock = std::chrono::steady_clock;

constexpr int kTurnaroundMs = 2;
constexpr int kStartDelayMs = 20;

double Ms(TClock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double Median(std::vector<double> v) {
    if (v.empty())
        return 0.0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// One poll's moments.
struct TCycle {
    TClock::time_point sending, receiving, end;
};

void BM_AppPollCycle(benchmark::State& state) {
    // The answer reaches the port in bursts state.range(0) ms apart: every
    // burst is one hand-over of the receive thread to the GUI thread.
    simtest::TKvsimProcess sim({"--turnaround", QString::number(kTurnaroundMs), "--burst",
                                QString::number(state.range(0))});
    if (!sim.ok) {
        state.SkipWithError("kvsim did not start");
        return;
    }
    QTemporaryDir dir;
    TFormMainOptions options;
    options.IniFileName = dir.filePath("kvsetup.ini");
    TForm_Main form(options);
    // On a real display (xvfb-run -a env QT_QPA_PLATFORM=xcb ...) the window is
    // shown, so that each poll's repaint is drawn and counted too.
    if (QGuiApplication::platformName() != QLatin1String("offscreen"))
        form.show();

    std::vector<TCycle> cycles;
    TCycle current;
    std::size_t polls = 0, failures = 0;
    form.MB1->OnMBStatusNowChanged = [&](TMBStatusNow now, const std::string&) {
        if (now == stnSending)
            current.sending = TClock::now();
    };
    // The timed part waits in a plain event loop that the poll's end quits,
    // so that no waiting of the benchmark's own wakes the process.
    QEventLoop loop;
    auto dispatcher = form.MB1->OnMBMasterEndOfEvent;
    form.MB1->OnMBMasterEndOfEvent = [&](TMBStatus s, const std::string& t) {
        if (form.MB1->MBMasterCommandToSlave() == 1) {
            current.end = TClock::now();
            cycles.push_back(current);
            ++polls;
            if (s != stOK)
                ++failures;
            loop.quit();
        }
        current = {};
        dispatcher(s, t);
    };

    // Opened as the user does on the link panel, once it has listed its ports.
    simtest::WaitFor([] { return false; }, 1100);
    auto* list = form.MB1->findChild<QListWidget*>("ListBox_Ports");
    auto* open = form.MB1->findChild<QAbstractButton*>("SpeedButton_OpenClose");
    list->addItem(sim.port);
    list->setCurrentRow(list->count() - 1);
    form.MB1->MBPortListClick();
    open->setEnabled(true);
    open->click();
    // The first chunk of each answer as it is handed to the link.
    TMBPort& port = form.MB1->MBPortDevice();
    auto receive = port.OnReceive;
    port.OnReceive = [&, receive](qint64 waiting) {
        if (current.receiving == TClock::time_point{})
            current.receiving = TClock::now();
        receive(waiting);
    };
    // Past the first poll and the settings read: polls only from here on.
    if (!form.MB1->MBPortOpen() ||
        !simtest::WaitFor([&] { return polls >= 3 && !form.SpeedButton_ReadSettingsFromInstrument->Down(); }, 10000)) {
        state.SkipWithError("the window did not reach its poll cycle");
        return;
    }

    const std::size_t first = cycles.size();
    auto* serial = dynamic_cast<TMBSerialPortLinux*>(&port);
    const std::uint64_t handOvers0 = serial ? serial->HandOversPosted() : 0;
    const auto rxCpu0 = serial ? serial->ReceiveThreadCpuTime() : std::chrono::nanoseconds{};
    QTimer guard; // a device that stopped answering ends the wait
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, &loop, &QEventLoop::quit);
    const double cpu0 = kvbench::CpuSeconds();
    for (auto _ : state) {
        const std::size_t before = polls;
        guard.start(10000);
        loop.exec();
        if (polls == before)
            ++failures;
    }
    const double cpu = kvbench::CpuSeconds() - cpu0;
    const std::size_t n = cycles.size() - first;
    const std::uint64_t handOvers = serial ? serial->HandOversPosted() - handOvers0 : 0;
    const double rxCpu = serial ? std::chrono::duration<double>(serial->ReceiveThreadCpuTime() - rxCpu0).count() : 0.0;
    form.MB1->MBClose();

    std::vector<double> gap, toFirstByte, answer, cycle;
    for (std::size_t i = std::max<std::size_t>(first, 1); i < cycles.size(); ++i) {
        const TCycle& c = cycles[i];
        const TCycle& prev = cycles[i - 1];
        if (c.sending == TClock::time_point{} || c.receiving == TClock::time_point{})
            continue;
        gap.push_back(Ms(c.sending - prev.end));
        toFirstByte.push_back(Ms(c.receiving - c.sending));
        answer.push_back(Ms(c.end - c.receiving));
        cycle.push_back(Ms(c.end - prev.end));
    }

    // The line's limit: start delay, 30 + 178 characters of 10 bits, turnaround.
    const double charMs = 10.0 * 1000.0 / 115200.0;
    const double lineMs = kStartDelayMs + (30.0 + 178.0) * charMs + kTurnaroundMs;
    state.counters["polls_per_s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["line_limit_per_s"] = 1000.0 / lineMs;
    state.counters["failures"] = static_cast<double>(failures);
    state.counters["cpu_ms_per_poll"] = n ? cpu * 1000.0 / static_cast<double>(n) : 0.0;
    state.counters["peak_MiB"] = kvbench::PeakMiB();
    state.counters["rx_thread_cpu_ms_per_poll"] = n ? rxCpu * 1000.0 / static_cast<double>(n) : 0.0;
    state.counters["handovers_per_poll"] = n ? static_cast<double>(handOvers) / static_cast<double>(n) : 0.0;
    std::printf("\nmedian per cycle: %.2f ms (line: %.2f ms)\n", Median(cycle), lineMs);
    std::printf("  end -> sending:        %6.2f ms (start delay %d ms)\n", Median(gap), kStartDelayMs);
    std::printf("  sending -> 1st byte:   %6.2f ms (line: 30 + 1 characters and %d ms turnaround = %.2f ms)\n",
                Median(toFirstByte), kTurnaroundMs, 31.0 * charMs + kTurnaroundMs);
    std::printf("  1st byte -> end:       %6.2f ms (line: 177 characters = %.2f ms)\n", Median(answer), 177.0 * charMs);
}
BENCHMARK(BM_AppPollCycle)->ArgName("burst_ms")->Arg(1)->Arg(16)->Iterations(400)->UseRealTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    kvbench::TPollRatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
