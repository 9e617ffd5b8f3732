// Fuzz target: the bench file reader, on arbitrary text, and what a run
// asks of the bench read.
//
// What must hold, whatever the text: reading never crashes or hangs; a text
// that reads without problems gives a bench whose figures are finite, whose
// accuracies' ranges rise, whose line settings a port takes, and which
// BenchProblems judges without a crash; reading the same text twice gives
// the same problems.
//
// With KV_FUZZ this is a libFuzzer target; otherwise a replay program that
// runs the seed corpus (KV_BENCH_CORPUS) and inputs made from it, and is
// registered as a test.
#include "Bench.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "fuzz_bench: invariant broken: %s\n", what);
    std::abort();
}

void CheckAccuracy(const kv::station::TFunctionAccuracy& f) {
    double last = 0;
    for (const kv::station::TAccuracy& a : f.Ranges) {
        if (!std::isfinite(a.Range) || !(a.Range > last) || !std::isfinite(a.PercentOfReading) ||
            !std::isfinite(a.PercentOfRange) || !std::isfinite(a.Floor) || a.PercentOfReading < 0 || a.Floor < 0)
            Fail("an accuracy range out of order or not finite");
        last = a.Range;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    kv::station::TBench bench;
    bench.Path = QStringLiteral("fuzz.bench");
    const QStringList problems = kv::station::ParseBench(text, bench);
    kv::station::TBench again;
    if (kv::station::ParseBench(text, again) != problems)
        Fail("the same text read twice gave other problems");
    if (!problems.isEmpty())
        return 0;
    if (bench.Meter) {
        if (!MBLineSettingsProblem(bench.Meter->Line.Settings()).isEmpty())
            Fail("line settings a port refuses were read without a problem");
        CheckAccuracy(bench.Meter->Current);
        CheckAccuracy(bench.Meter->Voltage);
    }
    if (bench.Source) {
        CheckAccuracy(bench.Source->Resistance);
        CheckAccuracy(bench.Source->Voltage);
    }
    for (const auto& [name, r] : bench.References)
        if (!std::isfinite(r.Value) || !std::isfinite(r.Uncertainty) || r.Uncertainty < 0)
            Fail("a reference's figures not finite");
    kv::station::TBenchNeeds needs;
    needs.Meter = needs.MeterCurrent = needs.MeterVoltage = needs.Source = needs.Fixture = true;
    needs.References = {QStringLiteral("R500"), QStringLiteral("R5K"), QStringLiteral("UREF")};
    kv::station::BenchProblems(bench, QDate(2026, 12, 6), needs);
    return 0;
}

#ifndef KV_FUZZ_LIBFUZZER

#include "FuzzCorpus.h"

#include <random>
#include <vector>

int main() {
    std::mt19937 rng(5510);
    long runs = 0;
    const std::size_t seeds = kvfuzz::ReplayCorpus(KV_BENCH_CORPUS, [&](const std::uint8_t* data, std::size_t size) {
        // The seed, then with bytes overwritten by the characters the
        // grammar turns on.
        for (int variant = 0; variant < 400; ++variant, ++runs) {
            std::vector<std::uint8_t> in(data, data + size);
            for (int flips = variant % 16; flips > 0 && !in.empty(); --flips)
                in[rng() % in.size()] = static_cast<std::uint8_t>("\n=[];@+%-.e0 k\0\xC3"[rng() % 16]);
            LLVMFuzzerTestOneInput(in.data(), in.size());
        }
    });
    if (seeds == 0) {
        std::fprintf(stderr, "fuzz_bench_replay: no seeds in %s\n", KV_BENCH_CORPUS);
        return 1;
    }
    std::printf("fuzz_bench_replay: %ld inputs, none broke an invariant\n", runs);
    return 0;
}

#endif
