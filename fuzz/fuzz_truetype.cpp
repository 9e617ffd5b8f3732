// Fuzz target for the certificate's TrueType reader (TrueTypeFont.h): any
// bytes give either a refusal with a reason or a font whose glyphs can be
// looked up, measured and cut out, and whose subset is a font again that
// keeps each used glyph as it was, with a whole-file check sum that adds up.
//
// libFuzzer (fuzz preset):
//   build/fuzz/fuzz/fuzz_truetype -max_len=600000 corpus/ /usr/share/fonts/truetype/liberation2/
// Otherwise this file is a replay program run by CTest, over the system's
// Liberation fonts that the certificates use and inputs made from them.
#include "PdfDocument.h"
#include "TrueTypeFont.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void Fail(const char* what, int glyph = -1) {
    std::fprintf(stderr, "fuzz_truetype: invariant broken: %s (glyph %d)\n", what, glyph);
    std::abort();
}

bool SameBox(const kv::pdf::TGlyphBox& a, const kv::pdf::TGlyphBox& b) {
    return a.XMin == b.XMin && a.YMin == b.YMin && a.XMax == b.XMax && a.YMax == b.YMax;
}

// Whether `data` read as a font; aborts when an invariant breaks.
bool Check(const std::uint8_t* data, std::size_t size) {
    using namespace kv::pdf;
    QString error;
    const auto font = TTrueTypeFont::Parse(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)), &error);
    if (!font) {
        if (error.isEmpty())
            Fail("a refusal without a reason");
        return false;
    }
    if (font->Glyphs() < 1 || font->UnitsPerEm() < 16)
        Fail("a font without glyphs or units");
    std::set<TGlyphId> used;
    for (char32_t c : {U'A', U'o', U'ő', U'Ж', U'Й', U'Σ', U'\u0303', U'\u25A1', U'\U0001F600'}) {
        const TGlyphId g = font->Glyph(c);
        if (g >= font->Glyphs())
            Fail("a character mapped past the glyphs", g);
        used.insert(g);
    }
    for (std::size_t k = 0; k + 1 < size && k < 8; k += 2) // a few glyph ids the input chooses
        used.insert(TGlyphId((data[k] << 8 | data[k + 1]) % font->Glyphs()));
    const QByteArray subset = font->Subset(used);
    quint32 sum = 0;
    for (qsizetype k = 0; k + 4 <= subset.size(); k += 4)
        sum += quint32(quint8(subset[k])) << 24 | quint32(quint8(subset[k + 1])) << 16 |
               quint32(quint8(subset[k + 2])) << 8 | quint8(subset[k + 3]);
    if (subset.size() % 4 != 0 || sum != 0xB1B0AFBA)
        Fail("a subset whose check sums do not add up");
    const auto cut = TTrueTypeFont::Parse(subset, &error);
    if (!cut)
        Fail("a subset that is no font");
    for (TGlyphId g : used)
        if (!SameBox(cut->Box(g), font->Box(g)) || cut->Advance(g) != font->Advance(g))
            Fail("a used glyph that changed in the subset", g);
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Check(data, size);
    return 0;
}

#ifndef KV_FUZZ_LIBFUZZER

#include "FuzzCorpus.h"

#include <QDir>
#include <QFile>

#include <random>
#include <vector>

int main() {
    // The certificate's four faces, from the first folder that has them.
    std::vector<QByteArray> seeds;
    for (const QString& folder : kv::pdf::TFonts::SystemFolders())
        for (const QString& name : QDir(folder).entryList({QStringLiteral("LiberationSans-*.ttf"),
                                                           QStringLiteral("LiberationMono-*.ttf")},
                                                          QDir::Files, QDir::Name)) {
            QFile f(QDir(folder).filePath(name));
            if (seeds.size() < 4 && !name.contains(QLatin1String("Italic")) && f.open(QIODevice::ReadOnly))
                seeds.push_back(f.readAll());
        }
    if (seeds.empty()) {
        std::fprintf(stderr, "fuzz_truetype_replay: no font files in %s\n",
                     qPrintable(kv::pdf::TFonts::SystemFolders().join(QStringLiteral(", "))));
        return 1;
    }
    std::mt19937 rng(32);
    long runs = 0, parsed = 0;
    auto run = [&](const QByteArray& in) {
        ++runs;
        if (Check(reinterpret_cast<const std::uint8_t*>(in.constData()), std::size_t(in.size())))
            ++parsed;
    };
    auto u32 = [](const QByteArray& d, qsizetype at) {
        return quint32(quint8(d[at])) << 24 | quint32(quint8(d[at + 1])) << 16 | quint32(quint8(d[at + 2])) << 8 |
               quint8(d[at + 3]);
    };
    for (const QByteArray& seed : seeds) {
        run(seed);
        for (qsizetype n = 0; n < seed.size(); n += 1 + seed.size() / 16)
            run(seed.left(n));
        // Bytes changed near the start of each table (where its counts and
        // offsets are), and in the table directory itself.
        const int tables = quint8(seed[4]) << 8 | quint8(seed[5]);
        for (int t = -1; t < tables; ++t) {
            const qsizetype at = t < 0 ? 0 : u32(seed, 12 + 16 * t + 8);
            const qsizetype span = t < 0 ? 12 + 16 * tables : std::min<qsizetype>(u32(seed, 12 + 16 * t + 12), 4096);
            for (int k = 0; k < 16 && span > 0; ++k) {
                QByteArray in = seed;
                for (int flips = 1 + k % 4; flips > 0; --flips)
                    in[at + qsizetype(rng() % std::size_t(span))] = char(rng());
                run(in);
            }
        }
    }
    const std::size_t stored = kvfuzz::ReplayCorpus(KV_FUZZ_CORPUS_DIR, [&](const std::uint8_t* d, std::size_t n) {
        run(QByteArray(reinterpret_cast<const char*>(d), qsizetype(n)));
    });
    std::printf("fuzz_truetype_replay: %ld inputs (%zu of the corpus), %ld read as fonts, none crashed\n", runs,
                stored, parsed);
    return parsed >= long(seeds.size()) ? 0 : 1;
}

#endif
