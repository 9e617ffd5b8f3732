#include "PdfDocument.h"

#include "PdfFontWidths.h"

#include <cmath>
#include <numbers>

namespace kv::pdf {

namespace {

// Codes 0x80..0x9F of the Windows Latin 1 encoding (0: no character).
constexpr char32_t kLatinHigh[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                     0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                     0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                     0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

const char* const kBaseFonts[4] = {"Helvetica", "Helvetica-Bold", "Courier", "Courier-Bold"};
constexpr int kMonoWidth = 600;
// The sans faces' ascender and the extra a line takes, in 1/1000 em; a
// line's box is ascent plus descent plus leading, as the window's fonts have.
constexpr double kAscent = 0.905, kLineHeight = 1.15, kCapHeight = 0.718;

// A character as the file shows it: a code of the Latin font, or of the
// second (extended) font of the same face.
struct TGlyph {
    bool Extended = false;
    unsigned char Code = '?';
};

TGlyph Encode(char32_t c) {
    if (c == '\t')
        c = ' ';
    if ((c >= 0x20 && c < 0x7F) || (c >= 0xA0 && c <= 0xFF))
        return {false, static_cast<unsigned char>(c)};
    if (c >= 0x80)
        for (int i = 0; i < 32; ++i)
            if (kLatinHigh[i] == c)
                return {false, static_cast<unsigned char>(0x80 + i)};
    if (c >= 0x100 && c < 0x180)
        return {true, static_cast<unsigned char>(0x80 + (c - 0x100))};
    return {};
}

int Index(TFace f) { return static_cast<int>(f); }
bool Mono(TFace f) { return f == TFace::Mono || f == TFace::MonoBold; }

int GlyphWidth(TGlyph g, TFace face) {
    if (Mono(face))
        return kMonoWidth;
    const bool bold = face == TFace::SansBold;
    if (g.Extended)
        return (bold ? kSansBoldExtended : kSansExtended)[g.Code - 0x80];
    return (bold ? kSansBoldLatin : kSansLatin)[g.Code - 32];
}

// One code point at `i` of `s` and how many UTF-16 units it takes.
char32_t CodePointAt(QStringView s, qsizetype i, qsizetype* units) {
    const QChar c = s[i];
    if (c.isHighSurrogate() && i + 1 < s.size() && s[i + 1].isLowSurrogate()) {
        *units = 2;
        return QChar::surrogateToUcs4(c, s[i + 1]);
    }
    *units = 1;
    return c.isSurrogate() ? 0xFFFD : c.unicode();
}

// The longest start of `s` (in UTF-16 units) no wider than `limit` (1/1000
// em); at least one character when `atLeastOne`.
qsizetype Fitting(QStringView s, TFace face, double limit, bool atLeastOne) {
    double used = 0;
    qsizetype i = 0, units = 1;
    while (i < s.size()) {
        used += GlyphWidth(Encode(CodePointAt(s, i, &units)), face);
        if (used > limit && (i > 0 || !atLeastOne))
            break;
        i += units;
    }
    return i;
}

QByteArray Num(double v) {
    if (!std::isfinite(v))
        v = 0;
    QByteArray b = QByteArray::number(v, 'f', 3);
    while (b.endsWith('0'))
        b.chop(1);
    if (b.endsWith('.'))
        b.chop(1);
    return b == "-0" ? QByteArray("0") : b;
}

QByteArray Rgb(TColor c) {
    return Num(c.R / 255.0) + ' ' + Num(c.G / 255.0) + ' ' + Num(c.B / 255.0);
}

// A text string of the file's information: UTF-16 with its byte order mark.
QByteArray InfoString(const QString& s) {
    QByteArray bytes("\xFE\xFF", 2);
    for (QChar c : s) {
        bytes += char(c.unicode() >> 8);
        bytes += char(c.unicode() & 0xFF);
    }
    return '<' + bytes.toHex() + '>';
}

// Readers take the extended codes back to their characters through this.
constexpr char kExtendedToUnicode[] = "/CIDInit /ProcSet findresource begin\n"
                                      "12 dict begin\nbegincmap\n"
                                      "/CIDSystemInfo << /Registry (Adobe) /Ordering (UCS) /Supplement 0 >> def\n"
                                      "/CMapName /KV-Extended-UCS def\n/CMapType 2 def\n"
                                      "1 begincodespacerange\n<00> <FF>\nendcodespacerange\n"
                                      "1 beginbfrange\n<80> <FF> <0100>\nendbfrange\n"
                                      "endcmap\nCMapName currentdict /CMapResource defineresource pop\nend\nend\n";

} // namespace

bool Shown(char32_t c) {
    const TGlyph g = Encode(c);
    return g.Extended || g.Code != '?' || c == '?';
}

TDocument::TDocument(double width, double height, double pointsPerUnit)
    : width_(width * pointsPerUnit), height_(height * pointsPerUnit), unit_(pointsPerUnit) {
    pages_.emplace_back();
}

void TDocument::NewPage() { pages_.emplace_back(); }

double TDocument::Width(QStringView s, const TFont& font) const {
    double w = 0;
    qsizetype units = 1;
    for (qsizetype i = 0; i < s.size(); i += units)
        w += GlyphWidth(Encode(CodePointAt(s, i, &units)), font.Face);
    return w * font.Size / 1000.0 / unit_;
}

double TDocument::LineHeight(const TFont& font) const { return kLineHeight * font.Size / unit_; }
double TDocument::Ascent(const TFont& font) const { return kAscent * font.Size / unit_; }

QStringList TDocument::Wrap(QStringView s, const TFont& font, double width) const {
    const double limit = width * unit_ * 1000.0 / font.Size;
    QStringList lines;
    for (QStringView paragraph : s.split(u'\n')) {
        QString line;
        bool started = false;
        for (QStringView word : paragraph.split(u' ')) {
            const QString candidate = started ? line + u' ' + word.toString() : word.toString();
            if (Width(candidate, font) <= width) {
                line = candidate;
                started = true;
                continue;
            }
            if (started)
                lines << line;
            // A word wider than the line is cut where it must be (in one pass:
            // an operator's name may be as long as the command line allows).
            for (qsizetype n = Fitting(word, font.Face, limit, true); n < word.size();
                 n = Fitting(word, font.Face, limit, true)) {
                lines << word.left(n).toString();
                word = word.mid(n);
            }
            line = word.toString();
            started = true;
        }
        lines << line;
    }
    return lines;
}

QString TDocument::Elide(QStringView s, const TFont& font, double width) const {
    if (Width(s, font) <= width)
        return s.toString();
    const QString mark(QChar(0x2026));
    const double limit = (width - Width(mark, font)) * unit_ * 1000.0 / font.Size;
    return s.left(Fitting(s, font.Face, limit, false)).toString() + mark;
}

QByteArray TDocument::Alpha(int alpha) {
    auto it = alphas_.find(alpha);
    if (it == alphas_.end())
        it = alphas_.emplace(alpha, "/A" + QByteArray::number(int(alphas_.size()) + 1)).first;
    return it->second + " gs ";
}

void TDocument::TextOperators(QStringView s, const TFont& font) {
    const QByteArray size = ' ' + Num(font.Size) + " Tf ";
    const QByteArray face = QByteArray::number(Index(font.Face));
    QByteArray run;
    bool extended = false, first = true;
    auto flush = [&] {
        if (!run.isEmpty())
            Page() += (extended ? "/X" : "/F") + face + size + '<' + run.toHex() + "> Tj ";
        run.clear();
    };
    qsizetype units = 1;
    for (qsizetype i = 0; i < s.size(); i += units) {
        const TGlyph g = Encode(CodePointAt(s, i, &units));
        if (first || g.Extended != extended) {
            flush();
            extended = g.Extended;
            first = false;
        }
        run += char(g.Code);
    }
    flush();
}

void TDocument::Text(double x, double baseline, QStringView s, const TFont& font, TColor color) {
    if (s.isEmpty())
        return;
    Page() += "q " + (color.Alpha < 255 ? Alpha(color.Alpha) : QByteArray()) + Rgb(color) + " rg BT 1 0 0 1 " +
              Num(X(x)) + ' ' + Num(Y(baseline)) + " Tm ";
    TextOperators(s, font);
    Page() += "ET Q\n";
}

void TDocument::TurnedText(double cx, double cy, double degrees, QStringView s, const TFont& font, TColor color) {
    const double a = degrees * std::numbers::pi / 180.0;
    const double c = std::cos(a), sn = std::sin(a);
    Page() += "q " + (color.Alpha < 255 ? Alpha(color.Alpha) : QByteArray()) + Rgb(color) + " rg " + Num(c) + ' ' +
              Num(sn) + ' ' + Num(-sn) + ' ' + Num(c) + ' ' + Num(X(cx)) + ' ' + Num(Y(cy)) + " cm BT 1 0 0 1 " +
              Num(-Width(s, font) * unit_ / 2) + ' ' + Num(-kCapHeight * font.Size / 2) + " Tm ";
    TextOperators(s, font);
    Page() += "ET Q\n";
}

void TDocument::Line(double x1, double y1, double x2, double y2, double lineWidth, TColor color) {
    Page() += "q " + Num(lineWidth * unit_) + " w " + Rgb(color) + " RG " + Num(X(x1)) + ' ' + Num(Y(y1)) + " m " +
              Num(X(x2)) + ' ' + Num(Y(y2)) + " l S Q\n";
}

void TDocument::Box(double x, double y, double w, double h, double lineWidth, TColor stroke, TColor fill) {
    Page() += "q " + (fill.Alpha > 0 && fill.Alpha < 255 ? Alpha(fill.Alpha) : QByteArray()) + Rgb(fill) + " rg " +
              Rgb(stroke) + " RG " + Num(lineWidth * unit_) + " w " + Num(X(x)) + ' ' + Num(Y(y + h)) + ' ' +
              Num(w * unit_) + ' ' + Num(h * unit_) + (fill.Alpha > 0 ? " re B Q\n" : " re S Q\n");
}

QByteArray TDocument::Finish(const QString& title, const QString& creator) const {
    // Numbering: the catalogue, the page tree, the information, the shared
    // resources, the eight fonts, the extended encoding and its way back to
    // characters, then each page and its contents.
    enum { kCatalog = 1, kPages, kInfo, kResources, kFonts, kEncoding = kFonts + 8, kToUnicode, kFirstPage };
    const int pages = Pages();
    std::vector<QByteArray> objects(kFirstPage - 1 + 2 * pages);
    auto ref = [](int n) { return QByteArray::number(n) + " 0 R"; };
    auto stream = [](const QByteArray& data) {
        const QByteArray packed = qCompress(data).mid(4); // a zlib stream without Qt's length prefix
        return "<< /Length " + QByteArray::number(packed.size()) + " /Filter /FlateDecode >>\nstream\n" + packed +
               "\nendstream";
    };

    objects[kCatalog - 1] = "<< /Type /Catalog /Pages " + ref(kPages) + " >>";
    QByteArray kids;
    for (int p = 0; p < pages; ++p)
        kids += (p ? " " : "") + ref(kFirstPage + 2 * p);
    objects[kPages - 1] = "<< /Type /Pages /Kids [" + kids + "] /Count " + QByteArray::number(pages) + " >>";
    objects[kInfo - 1] = "<< /Title " + InfoString(title) + " /Creator " + InfoString(creator) + " /Producer " +
                         InfoString(creator) + " >>";

    QByteArray fonts, states;
    for (int f = 0; f < 4; ++f) {
        const TFace face = static_cast<TFace>(f);
        QByteArray latin, extended;
        for (int code = 32; code < 256; ++code)
            latin += (code > 32 ? " " : "") + QByteArray::number(GlyphWidth({false, static_cast<unsigned char>(code)}, face));
        for (int code = 128; code < 256; ++code)
            extended += (code > 128 ? " " : "") + QByteArray::number(GlyphWidth({true, static_cast<unsigned char>(code)}, face));
        const QByteArray base = QByteArray("<< /Type /Font /Subtype /Type1 /BaseFont /") + kBaseFonts[f];
        objects[kFonts + 2 * f - 1] =
            base + " /Encoding /WinAnsiEncoding /FirstChar 32 /LastChar 255 /Widths [" + latin + "] >>";
        objects[kFonts + 2 * f] = base + " /Encoding " + ref(kEncoding) + " /FirstChar 128 /LastChar 255 /Widths [" +
                                  extended + "] /ToUnicode " + ref(kToUnicode) + " >>";
        fonts += " /F" + QByteArray::number(f) + ' ' + ref(kFonts + 2 * f) + " /X" + QByteArray::number(f) + ' ' +
                 ref(kFonts + 2 * f + 1);
    }
    for (const auto& [alpha, name] : alphas_)
        states += ' ' + name + " << /ca " + Num(alpha / 255.0) + " >>";
    objects[kResources - 1] = "<< /Font <<" + fonts + " >> /ExtGState <<" + states + " >> >>";
    QByteArray differences = "128";
    for (const char* name : kExtendedNames)
        differences += QByteArray(" /") + name;
    objects[kEncoding - 1] =
        "<< /Type /Encoding /BaseEncoding /WinAnsiEncoding /Differences [" + differences + "] >>";
    objects[kToUnicode - 1] = stream(kExtendedToUnicode);

    const QByteArray mediaBox = "[0 0 " + Num(width_) + ' ' + Num(height_) + ']';
    for (int p = 0; p < pages; ++p) {
        objects[kFirstPage + 2 * p - 1] = "<< /Type /Page /Parent " + ref(kPages) + " /MediaBox " + mediaBox +
                                          " /Resources " + ref(kResources) + " /Contents " +
                                          ref(kFirstPage + 2 * p + 1) + " >>";
        objects[kFirstPage + 2 * p] = stream(pages_[p]);
    }

    QByteArray file("%PDF-1.4\n%\xE2\xE3\xCF\xD3\n");
    std::vector<qsizetype> offsets;
    for (std::size_t i = 0; i < objects.size(); ++i) {
        offsets.push_back(file.size());
        file += QByteArray::number(qsizetype(i + 1)) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const qsizetype xref = file.size();
    file += "xref\n0 " + QByteArray::number(qsizetype(objects.size() + 1)) + "\n0000000000 65535 f \n";
    for (qsizetype offset : offsets)
        file += QByteArray::number(offset).rightJustified(10, '0') + " 00000 n \n";
    file += "trailer\n<< /Size " + QByteArray::number(qsizetype(objects.size() + 1)) + " /Root " + ref(kCatalog) +
            " /Info " + ref(kInfo) + " >>\nstartxref\n" + QByteArray::number(xref) + "\n%%EOF\n";
    return file;
}

} // namespace kv::pdf
