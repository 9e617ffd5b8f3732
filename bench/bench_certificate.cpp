// Figures of the calibration certificate: the time to draw and write one
// PDF (laid out twice, to count its pages, and written whole with its disk
// sync) and its size in bytes, for the output certificate, the input
// certificate (points as found and as left, budgets, a log of 87 lines),
// and one whose operator's name is Cyrillic, Polish and Greek; and the time
// to read the four font files, which a program does once before its first
// certificate.
#include "Certificate.h"
#include "PdfDocument.h"
#include "certificate_facts.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

using namespace kv::cert;

void Write(benchmark::State& state, const TFacts& facts) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("c.pdf"));
    QString error;
    for (auto _ : state)
        if (!WritePdf(facts, path, &error)) {
            state.SkipWithError(qPrintable(error));
            return;
        }
    state.counters["bytes"] = double(QFileInfo(path).size());
}

void OutputCertificate(benchmark::State& state) { Write(state, samples::OutputRun()); }
void InputCertificate(benchmark::State& state) { Write(state, samples::InputRun()); }
void ForeignNames(benchmark::State& state) {
    TFacts f = samples::InputRun();
    f.Operator = QStringLiteral("Дмитрий Łukasz Żółć, Σωκράτης");
    Write(state, f);
}

void ReadFonts(benchmark::State& state) {
    QString error;
    for (auto _ : state)
        if (!kv::pdf::TFonts::Load(kv::pdf::TFonts::SystemFolders(), &error)) {
            state.SkipWithError(qPrintable(error));
            return;
        }
}

BENCHMARK(ReadFonts)->Unit(benchmark::kMillisecond);
BENCHMARK(OutputCertificate)->Unit(benchmark::kMillisecond);
BENCHMARK(InputCertificate)->Unit(benchmark::kMillisecond);
BENCHMARK(ForeignNames)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
