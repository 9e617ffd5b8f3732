// Fuzz target for kv::DecodeJpeg: any bytes give either a null image or an
// image whose every pixel can be read.
//
// libFuzzer (fuzz preset):  build/fuzz/fuzz/fuzz_jpeg -max_len=65536 corpus/ app/pictures/
// Otherwise this file is a replay program run by CTest.

#include "Pictures.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QImage image = kv::DecodeJpeg(data, size);
    if (!image.isNull()) {
        // Touch the last byte of every row: a short buffer shows up here.
        unsigned sum = 0;
        const int rowBytes = image.width() * image.depth() / 8;
        for (int y = 0; y < image.height(); ++y)
            sum += image.constScanLine(y)[rowBytes - 1];
        volatile unsigned sink = sum;
        (void)sink;
    }
    return 0;
}

#ifndef KV_FUZZ_LIBFUZZER

#include "FuzzCorpus.h"

#include <QDir>
#include <QFile>

#include <random>
#include <vector>

int main()
{
    const QDir dir(QStringLiteral(KV_PICTURES_DIR));
    const QStringList files = dir.entryList({QStringLiteral("*.jpg")}, QDir::Files, QDir::Name);
    if (files.isEmpty()) {
        std::fprintf(stderr, "fuzz_jpeg_replay: no pictures in %s\n", KV_PICTURES_DIR);
        return 1;
    }
    std::mt19937 rng(7730);
    long runs = 0, decoded = 0;
    auto run = [&](const std::vector<std::uint8_t>& in) {
        ++runs;
        if (!kv::DecodeJpeg(in.data(), in.size()).isNull())
            ++decoded;
        LLVMFuzzerTestOneInput(in.data(), in.size());
    };
    for (const QString& name : files) {
        QFile f(dir.filePath(name));
        if (!f.open(QIODevice::ReadOnly))
            return 1;
        const QByteArray bytes = f.readAll();
        const std::vector<std::uint8_t> seed(bytes.begin(), bytes.end());
        run(seed);
        // Truncations at a spread of lengths.
        for (std::size_t n = 0; n < seed.size(); n += 1 + seed.size() / 16)
            run(std::vector<std::uint8_t>(seed.begin(), seed.begin() + static_cast<long>(n)));
        // A few bytes overwritten, in the headers and in the scan data.
        for (int k = 0; k < 24; ++k) {
            std::vector<std::uint8_t> in = seed;
            const std::size_t span = k < 12 ? std::min<std::size_t>(in.size(), 700) : in.size();
            for (int flips = 1 + k % 4; flips > 0; --flips)
                in[rng() % span] = static_cast<std::uint8_t>(rng());
            run(in);
        }
    }
    for (std::size_t n : {0u, 1u, 2u, 10u, 1000u, 20000u}) {
        std::vector<std::uint8_t> in(n);
        for (auto& b : in)
            b = static_cast<std::uint8_t>(rng());
        run(in);
    }
    const std::size_t stored = kvfuzz::ReplayCorpus(KV_FUZZ_CORPUS_DIR, [&](const std::uint8_t* d, std::size_t n) {
        run(std::vector<std::uint8_t>(d, d + n));
    });
    std::printf("fuzz_jpeg_replay: %ld inputs (%zu of the corpus), %ld decoded, none crashed\n", runs, stored, decoded);
    return decoded >= files.size() ? 0 : 1;
}

#endif
