#include "TrueTypeFont.h"

#include <QtEndian>

#include <algorithm>
#include <map>

namespace kv::pdf {

namespace {

constexpr quint32 Tag(const char* t) {
    return quint32(quint8(t[0])) << 24 | quint32(quint8(t[1])) << 16 | quint32(quint8(t[2])) << 8 | quint8(t[3]);
}

// Big-endian reads of a font table; the caller has checked the range.
quint16 U16(const QByteArray& d, qint64 at) { return qFromBigEndian<quint16>(d.constData() + at); }
qint16 S16(const QByteArray& d, qint64 at) { return qFromBigEndian<qint16>(d.constData() + at); }
quint32 U32(const QByteArray& d, qint64 at) { return qFromBigEndian<quint32>(d.constData() + at); }
bool Within(const QByteArray& d, qint64 at, qint64 size) { return at >= 0 && size >= 0 && at + size <= d.size(); }

void Put16(QByteArray& d, qint64 at, quint16 v) { qToBigEndian(v, d.data() + at); }
void Put32(QByteArray& d, qint64 at, quint32 v) { qToBigEndian(v, d.data() + at); }
void Append16(QByteArray& d, quint16 v) {
    d.append(char(v >> 8));
    d.append(char(v & 0xFF));
}
void Append32(QByteArray& d, quint32 v) {
    Append16(d, quint16(v >> 16));
    Append16(d, quint16(v & 0xFFFF));
}

// The sum of a table as 32-bit words, its length padded with zeros.
quint32 CheckSum(const QByteArray& table) {
    QByteArray t = table;
    t.append(QByteArray((4 - t.size() % 4) % 4, '\0'));
    quint32 sum = 0;
    for (qsizetype i = 0; i < t.size(); i += 4)
        sum += U32(t, i);
    return sum;
}

// The pairs of a character map subtable of format 4 (the basic plane) or 12
// (every plane) at `at`, whose bytes run to `end`; false when it is damaged.
bool ReadCharacterMap(const QByteArray& d, qint64 at, qint64 end, int glyphs,
                      std::vector<std::pair<char32_t, TGlyphId>>& out) {
    if (!Within(d, at, 2))
        return false;
    const quint16 format = U16(d, at);
    if (format == 4) {
        if (!Within(d, at, 14))
            return false;
        const int segments = U16(d, at + 6) / 2;
        const qint64 ends = at + 14, starts = ends + 2 * segments + 2, deltas = starts + 2 * segments,
                     rangeOffsets = deltas + 2 * segments;
        if (rangeOffsets + 2 * segments > end)
            return false;
        qint64 previous = -1; // segments come in order and apart: at most 65536 characters
        for (int s = 0; s < segments; ++s) {
            const quint16 first = U16(d, starts + 2 * s), last = U16(d, ends + 2 * s);
            if (first > last || first <= previous)
                return false;
            previous = last;
            const quint16 delta = U16(d, deltas + 2 * s), rangeOffset = U16(d, rangeOffsets + 2 * s);
            for (quint32 c = first; c <= last && c < 0xFFFF; ++c) {
                quint16 g = 0;
                if (rangeOffset == 0) {
                    g = quint16(c + delta);
                } else {
                    const qint64 where = rangeOffsets + 2 * s + rangeOffset + 2 * qint64(c - first);
                    if (where + 2 > end || !Within(d, where, 2))
                        return false;
                    g = U16(d, where);
                    if (g != 0)
                        g = quint16(g + delta);
                }
                if (g != 0 && g < glyphs)
                    out.emplace_back(char32_t(c), g);
            }
        }
        return true;
    }
    if (format == 12) {
        if (!Within(d, at, 16))
            return false;
        const quint32 groups = U32(d, at + 12);
        if (groups > quint32((end - at - 16) / 12))
            return false;
        qint64 previous = -1; // groups come in order and apart: at most every character once
        for (quint32 i = 0; i < groups; ++i) {
            const qint64 g = at + 16 + 12 * qint64(i);
            const quint32 first = U32(d, g), last = U32(d, g + 4), glyph = U32(d, g + 8);
            if (first > last || qint64(first) <= previous || last > 0x10FFFF)
                return false;
            previous = last;
            for (quint32 c = first; c <= last; ++c)
                if (glyph + (c - first) < quint32(glyphs) && glyph + (c - first) != 0)
                    out.emplace_back(char32_t(c), TGlyphId(glyph + (c - first)));
        }
        return true;
    }
    return false;
}

// The name a PDF may give the font: printable ASCII without the characters
// that delimit a PDF name, as a font's PostScript name already is.
QByteArray CleanName(const QByteArray& raw) {
    QByteArray name;
    for (char c : raw)
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-')
            name += c;
    return name.left(63);
}

} // namespace

std::optional<TTrueTypeFont> TTrueTypeFont::Parse(const QByteArray& data, QString* error) {
    auto fail = [error](const QString& why) {
        if (error)
            *error = why;
        return std::nullopt;
    };
    const QByteArray& d = data;
    if (!Within(d, 0, 12))
        return fail(QStringLiteral("not a font file (too short)"));
    const quint32 version = U32(d, 0);
    if (version == Tag("OTTO"))
        return fail(QStringLiteral("a font with PostScript outlines, not TrueType ones"));
    if (version == Tag("ttcf"))
        return fail(QStringLiteral("a collection of fonts, not one font"));
    if (version != 0x00010000 && version != Tag("true"))
        return fail(QStringLiteral("not a TrueType font file"));

    TTrueTypeFont f;
    f.data_ = data;
    const int count = U16(d, 4);
    if (!Within(d, 12, 16 * qint64(count)))
        return fail(QStringLiteral("a damaged font file (its table directory is cut short)"));
    for (int i = 0; i < count; ++i) {
        const qint64 r = 12 + 16 * i;
        const TTable t{U32(d, r + 8), U32(d, r + 12)};
        if (!Within(d, t.Offset, t.Length))
            return fail(QStringLiteral("a damaged font file (a table lies outside the file)"));
        f.tables_.emplace_back(U32(d, r), t);
    }
    std::sort(f.tables_.begin(), f.tables_.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    auto table = [&f](const char* tag) -> std::optional<TTable> {
        for (const auto& [t, where] : f.tables_)
            if (t == Tag(tag))
                return where;
        return std::nullopt;
    };
    for (const char* needed : {"head", "hhea", "maxp", "hmtx", "loca", "glyf"})
        if (!table(needed))
            return fail(QStringLiteral("not a TrueType font file with outlines (it has no '%1' table)")
                            .arg(QLatin1String(needed)));
    auto tooShort = [&](const char* tag) {
        return fail(QStringLiteral("a damaged font file (its '%1' table is too short)").arg(QLatin1String(tag)));
    };

    const TTable head = *table("head");
    if (head.Length < 54)
        return tooShort("head");
    f.unitsPerEm_ = U16(d, head.Offset + 18);
    if (f.unitsPerEm_ < 16 || f.unitsPerEm_ > 16384)
        return fail(QStringLiteral("a damaged font file (%1 units per em)").arg(f.unitsPerEm_));
    f.fontBox_ = {S16(d, head.Offset + 36), S16(d, head.Offset + 38), S16(d, head.Offset + 40),
                  S16(d, head.Offset + 42)};
    const bool longOffsets = S16(d, head.Offset + 50) == 1;

    const TTable maxp = *table("maxp");
    if (maxp.Length < 6)
        return tooShort("maxp");
    f.glyphs_ = U16(d, maxp.Offset + 4);
    if (f.glyphs_ < 1)
        return fail(QStringLiteral("a damaged font file (it has no glyphs)"));

    const TTable hhea = *table("hhea");
    if (hhea.Length < 36)
        return tooShort("hhea");
    f.ascender_ = S16(d, hhea.Offset + 4);
    f.descender_ = S16(d, hhea.Offset + 6);
    f.lineGap_ = S16(d, hhea.Offset + 8);
    f.hMetrics_ = U16(d, hhea.Offset + 34);
    const TTable hmtx = *table("hmtx");
    if (f.hMetrics_ < 1 || f.hMetrics_ > f.glyphs_ ||
        hmtx.Length < 4 * quint32(f.hMetrics_) + 2 * quint32(f.glyphs_ - f.hMetrics_))
        return tooShort("hmtx");
    f.hmtx_ = hmtx.Offset;

    const TTable loca = *table("loca");
    f.glyf_ = *table("glyf");
    if (loca.Length < quint32(f.glyphs_ + 1) * (longOffsets ? 4 : 2))
        return tooShort("loca");
    f.loca_.reserve(f.glyphs_ + 1);
    for (int g = 0; g <= f.glyphs_; ++g) {
        const quint32 o = longOffsets ? U32(d, loca.Offset + 4 * g) : 2 * quint32(U16(d, loca.Offset + 2 * g));
        if (o > f.glyf_.Length || (g > 0 && o < f.loca_.back()))
            return fail(QStringLiteral("a damaged font file (glyph %1 lies outside its outlines)").arg(g - 1));
        f.loca_.push_back(o);
    }

    // The character map: every plane when the font has it, else the basic
    // plane; Windows' or Unicode's, whichever comes first. A font without
    // one (as a subset is) maps no characters.
    if (const auto cmap = table("cmap")) {
        const int subtables = cmap->Length < 4 ? 0 : U16(d, cmap->Offset + 2);
        if (cmap->Length < 4 || 4 + 8 * quint32(subtables) > cmap->Length)
            return tooShort("cmap");
        const qint64 end = qint64(cmap->Offset) + cmap->Length;
        qint64 best = -1;
        int bestRank = 0;
        for (int i = 0; i < subtables; ++i) {
            const qint64 r = cmap->Offset + 4 + 8 * i;
            const quint16 platform = U16(d, r), encoding = U16(d, r + 2);
            const qint64 at = cmap->Offset + qint64(U32(d, r + 4));
            if (at + 2 > end)
                continue;
            const quint16 format = U16(d, at);
            const bool unicode = platform == 0 || (platform == 3 && (encoding == 1 || encoding == 10));
            const int rank = !unicode ? 0 : format == 12 ? 2 : format == 4 ? 1 : 0;
            if (rank > bestRank) {
                best = at;
                bestRank = rank;
            }
        }
        if (best < 0 || !ReadCharacterMap(d, best, end, f.glyphs_, f.cmap_))
            return fail(QStringLiteral("a font file without a usable Unicode character map"));
        std::stable_sort(f.cmap_.begin(), f.cmap_.end(), [](const auto& x, const auto& y) { return x.first < y.first; });
        f.cmap_.erase(std::unique(f.cmap_.begin(), f.cmap_.end(),
                                  [](const auto& x, const auto& y) { return x.first == y.first; }),
                      f.cmap_.end());
    }

    if (const auto os2 = table("OS/2"); os2 && os2->Length >= 10) {
        f.weight_ = U16(d, os2->Offset + 4);
        const quint16 embedding = U16(d, os2->Offset + 8);
        if ((embedding & 0x000F) == 0x0002)
            return fail(QStringLiteral("a font whose licence does not allow embedding it"));
        if (embedding & 0x0300)
            return fail(QStringLiteral("a font whose licence does not allow embedding a part of it"));
        if (os2->Length >= 90 && U16(d, os2->Offset) >= 2)
            f.capHeight_ = S16(d, os2->Offset + 88);
    }
    if (f.capHeight_ <= 0)
        f.capHeight_ = f.Box(f.Glyph(U'H')).YMax;
    if (f.capHeight_ <= 0)
        f.capHeight_ = f.ascender_;
    if (const auto post = table("post"); post && post->Length >= 16) {
        f.italicAngle_ = qint32(U32(d, post->Offset + 4)) / 65536.0;
        f.fixedPitch_ = U32(d, post->Offset + 12) != 0;
    }
    if (const auto name = table("name"); name && name->Length >= 6) {
        const int records = U16(d, name->Offset + 2);
        const qint64 strings = name->Offset + U16(d, name->Offset + 4);
        for (int i = 0; i < records && 6 + 12 * quint32(i + 1) <= name->Length; ++i) {
            const qint64 r = name->Offset + 6 + 12 * i;
            const quint16 platform = U16(d, r), id = U16(d, r + 6), length = U16(d, r + 8);
            const qint64 at = strings + U16(d, r + 10);
            if (id != 6 || !Within(d, at, length))
                continue;
            QByteArray raw;
            for (qint64 k = platform == 3 ? 1 : 0; k < length; k += platform == 3 ? 2 : 1)
                raw += d[at + k]; // the low byte of UTF-16: a PostScript name is ASCII
            f.postScriptName_ = CleanName(raw);
            if (!f.postScriptName_.isEmpty())
                break;
        }
    }
    if (f.postScriptName_.isEmpty())
        f.postScriptName_ = "Font";
    return f;
}

TGlyphId TTrueTypeFont::Glyph(char32_t c) const {
    const auto it = std::lower_bound(cmap_.begin(), cmap_.end(), c,
                                     [](const auto& entry, char32_t key) { return entry.first < key; });
    return it != cmap_.end() && it->first == c ? it->second : 0;
}

int TTrueTypeFont::Advance(TGlyphId g) const {
    if (g >= glyphs_)
        return 0;
    return U16(data_, hmtx_ + 4 * qint64(std::min<int>(g, hMetrics_ - 1)));
}

std::pair<quint32, quint32> TTrueTypeFont::GlyphRange(TGlyphId g) const {
    if (g >= glyphs_)
        return {0, 0};
    return {loca_[g], loca_[g + 1]};
}

TGlyphBox TTrueTypeFont::Box(TGlyphId g) const {
    const auto [from, to] = GlyphRange(g);
    if (to - from < 10)
        return {};
    const qint64 at = glyf_.Offset + from;
    return {S16(data_, at + 2), S16(data_, at + 4), S16(data_, at + 6), S16(data_, at + 8)};
}

QByteArray TTrueTypeFont::Table(const char* tag) const {
    for (const auto& [t, where] : tables_)
        if (t == Tag(tag))
            return data_.mid(where.Offset, where.Length);
    return {};
}

QByteArray TTrueTypeFont::Subset(const std::set<TGlyphId>& used) const {
    // The glyphs kept: those asked for, glyph 0, and every part of a
    // composite one (a part may be composite itself; the set stops cycles).
    std::set<TGlyphId> kept{0};
    std::vector<TGlyphId> work(used.begin(), used.end());
    while (!work.empty()) {
        const TGlyphId g = work.back();
        work.pop_back();
        if (g >= glyphs_ || !kept.insert(g).second)
            continue;
        const auto [from, to] = GlyphRange(g);
        const qint64 end = glyf_.Offset + to;
        if (to - from < 10 || S16(data_, glyf_.Offset + from) >= 0)
            continue;
        // A composite glyph: flags and glyph id of each part, then its
        // offsets (bytes or words) and its scale (none, one, two or four).
        for (qint64 at = glyf_.Offset + from + 10; at + 4 <= end;) {
            const quint16 flags = U16(data_, at);
            work.push_back(U16(data_, at + 2));
            at += 4 + ((flags & 0x0001) ? 4 : 2);
            at += (flags & 0x0008) ? 2 : (flags & 0x0040) ? 4 : (flags & 0x0080) ? 8 : 0;
            if (!(flags & 0x0020))
                break;
        }
    }
    const int glyphs = *kept.rbegin() + 1; // ids above the last kept one are dropped

    // Glyphs dropped keep their place, empty and with no metrics (which
    // packs them to almost nothing).
    QByteArray glyf, loca, hmtx;
    for (int g = 0; g < glyphs; ++g) {
        Append32(loca, quint32(glyf.size()));
        if (!kept.count(TGlyphId(g))) {
            Append32(hmtx, 0);
            continue;
        }
        const auto [from, to] = GlyphRange(TGlyphId(g));
        glyf += data_.mid(glyf_.Offset + from, to - from);
        glyf.append(QByteArray((4 - glyf.size() % 4) % 4, '\0'));
        const qint64 metric = hmtx_ + 4 * qint64(std::min(g, hMetrics_ - 1));
        Append16(hmtx, U16(data_, metric));
        Append16(hmtx, g < hMetrics_ ? U16(data_, metric + 2) : U16(data_, hmtx_ + 4 * hMetrics_ + 2 * (g - hMetrics_)));
    }
    Append32(loca, quint32(glyf.size()));

    QByteArray head = Table("head"), hhea = Table("hhea"), maxp = Table("maxp");
    Put32(head, 8, 0);  // the whole file's check sum, set below
    Put16(head, 50, 1); // long glyph offsets
    Put16(hhea, 34, quint16(glyphs));
    Put16(maxp, 4, quint16(glyphs));

    // What a PDF reader needs of a TrueType font program, by tag: the
    // outlines and metrics, and the hinting that prints small text well.
    std::map<quint32, QByteArray> tables = {{Tag("glyf"), glyf}, {Tag("head"), head}, {Tag("hhea"), hhea},
                                            {Tag("hmtx"), hmtx}, {Tag("loca"), loca}, {Tag("maxp"), maxp}};
    for (const char* optional : {"cvt ", "fpgm", "prep", "OS/2"})
        if (const QByteArray t = Table(optional); !t.isEmpty())
            tables[Tag(optional)] = t;

    const int count = int(tables.size());
    int power = 1, log2 = 0;
    while (power * 2 <= count) {
        power *= 2;
        ++log2;
    }
    QByteArray font;
    Append32(font, 0x00010000);
    Append16(font, quint16(count));
    Append16(font, quint16(16 * power));
    Append16(font, quint16(log2));
    Append16(font, quint16(16 * (count - power)));
    quint32 offset = 12 + 16 * count;
    for (const auto& [tag, t] : tables) {
        Append32(font, tag);
        Append32(font, CheckSum(t));
        Append32(font, offset);
        Append32(font, quint32(t.size()));
        offset += quint32((t.size() + 3) / 4 * 4);
    }
    qsizetype headAt = 0;
    for (const auto& [tag, t] : tables) {
        if (tag == Tag("head"))
            headAt = font.size();
        font += t;
        font.append(QByteArray((4 - t.size() % 4) % 4, '\0'));
    }
    Put32(font, headAt + 8, 0xB1B0AFBA - CheckSum(font));
    return font;
}

} // namespace kv::pdf
