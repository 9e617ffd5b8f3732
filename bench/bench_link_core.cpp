// Figures of the link core: receiver throughput in wire characters per second
// and the engine's own cost per master transaction (no port, no real time).
#include "MBEngine.h"
#include "MBFrames.h"
#include "MBTimer.h"

#include <benchmark/benchmark.h>

#include <string>

namespace {

std::string WithCrc(std::string f) {
    const std::uint16_t crc = MBCRC16(f);
    f += static_cast<char>(crc & 0xFF);
    f += static_cast<char>(crc >> 8);
    return f;
}

std::string AsciiAnswer(int dataBytes) {
    std::string f{1, 0, 5, 0};
    for (int k = 0; k < dataBytes; ++k)
        f += static_cast<char>(k * 7);
    f = WithCrc(f);
    return TMBFrameCore::MBEncodeASCII('S', reinterpret_cast<const std::uint8_t*>(f.data()), f.size());
}

std::string BinaryAnswer(int dataBytes) {
    std::string f{char(0x81), 0, 0};
    for (int k = 0; k < dataBytes; ++k)
        f += static_cast<char>(k * 7);
    f = WithCrc(f);
    return TMBFrameCore::MBEncodeBinary(reinterpret_cast<const std::uint8_t*>(f.data()), f.size());
}

class CountingCore : public TMBFrameCore {
public:
    std::size_t accepted = 0;

protected:
    void MBFrameAccepted() override { ++accepted; }
};

// Wire characters per second through a receiver, in chunks as the port hands
// them over (state.range(0): data bytes per frame; range(1): chunk size).
void Receive(benchmark::State& state, TMBMode mode) {
    const int data = static_cast<int>(state.range(0));
    const std::size_t chunk = static_cast<std::size_t>(state.range(1));
    std::string wire;
    const std::string one = mode == modeASCIIMaster ? AsciiAnswer(data) : BinaryAnswer(data);
    while (wire.size() < (1u << 20))
        wire += one;
    CountingCore core;
    core.setMBMode(mode);
    const auto* p = reinterpret_cast<const std::uint8_t*>(wire.data());
    for (auto _ : state) {
        for (std::size_t i = 0; i < wire.size(); i += chunk)
            core.MBParseReceived(p + i, std::min(chunk, wire.size() - i));
        benchmark::DoNotOptimize(core.accepted);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(wire.size()));
    state.counters["frames"] = static_cast<double>(core.accepted);
}

void BM_AsciiMasterReceiver(benchmark::State& state) { Receive(state, modeASCIIMaster); }
BENCHMARK(BM_AsciiMasterReceiver)->Args({8186, 4096})->Args({8186, 64})->Args({16, 4096});

void BM_BinaryMasterReceiver(benchmark::State& state) { Receive(state, modeMaster); }
BENCHMARK(BM_BinaryMasterReceiver)->Args({8187, 4096})->Args({16, 4096});

// An engine whose port swallows everything.
class BenchEngine : public TMBEngine {
public:
    explicit BenchEngine(TMBManualClock& c) : TMBEngine(&c) {}
    void Open() { MBEnginePortOpened(); }
    std::size_t written = 0;

protected:
    bool MBWriteToPort(const std::uint8_t*, std::size_t n) override {
        written += n;
        return true;
    }
};

// One poll-sized master transaction: start, 14-character request out in
// pieces, 20-byte answer in, end event. Time per transaction in microseconds.
void BM_MasterTransaction(benchmark::State& state) {
    TMBManualClock clock;
    BenchEngine e(clock);
    clock.advance(1000);
    e.Open();
    e.setMBMasterCommandToSlave(1);
    std::size_t ends = 0;
    e.OnMBMasterEndOfEvent = [&](TMBStatus, const std::string&) { ++ends; };
    const std::string answer = AsciiAnswer(20);
    const bool delayed = state.range(0) != 0;
    for (auto _ : state) {
        e.MBTXBufferClear();
        if (delayed) {
            e.MBStartQuery(20);
            clock.advance(20);
        } else {
            e.MBStartQuery(0);
        }
        e.MBParseReceived(answer);
        for (int k = 0; k < 20; ++k)
            benchmark::DoNotOptimize(e.MBGetByte());
    }
    if (static_cast<benchmark::IterationCount>(ends) != state.iterations())
        state.SkipWithError("a transaction did not end");
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}
BENCHMARK(BM_MasterTransaction)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// A transaction that times out after five sends, on the manual clock.
void BM_MasterTimeOutSequence(benchmark::State& state) {
    TMBManualClock clock;
    BenchEngine e(clock);
    clock.advance(1000);
    e.Open();
    for (auto _ : state) {
        e.MBStartQuery(0);
        clock.advance(5 * 1002);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}
BENCHMARK(BM_MasterTimeOutSequence)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
