#include "PdfDocument.h"

#include "PdfArchive.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>

#include <cmath>
#include <mutex>
#include <numbers>
#include <set>

namespace kv::pdf {

namespace {

// The faces' files, as Debian's Liberation packages name them.
const char* const kFiles[kFaces] = {"LiberationSans-Regular.ttf", "LiberationSans-Bold.ttf",
                                    "LiberationMono-Regular.ttf", "LiberationMono-Bold.ttf"};
constexpr char32_t kWhiteSquare = 0x25A1;
constexpr qint64 kLargestFontFile = 32 << 20;
// Codes a face may hand out; one more stays for U+FFFD when they run out.
constexpr std::size_t kLastCode = 0xFFFE;

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

QString Normalised(QStringView s) { return s.toString().normalized(QString::NormalizationForm_C); }

// Font units in 1/1000 em, as a PDF gives widths and metrics.
int Thousandths(double units, const TTrueTypeFont& f) { return int(std::lround(units * 1000.0 / f.UnitsPerEm())); }

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

// A character as UTF-16, big-endian, in hexadecimal.
QByteArray Utf16Hex(char32_t c) {
    QByteArray b;
    for (QChar q : QString::fromUcs4(&c, 1)) {
        const char16_t u = q.unicode();
        b += char(u >> 8);
        b += char(u & 0xFF);
    }
    return b.toHex().toUpper();
}

// A text string of the file's information: UTF-16 with its byte order mark.
QByteArray InfoString(const QString& s) {
    QByteArray bytes("\xFE\xFF", 2);
    for (QChar c : MetadataText(s)) {
        bytes += char(c.unicode() >> 8);
        bytes += char(c.unicode() & 0xFF);
    }
    return '<' + bytes.toHex() + '>';
}

QByteArray Stream(const QByteArray& data, const QByteArray& entries = {}) {
    const QByteArray packed = qCompress(data, 9).mid(4); // a zlib stream without Qt's length prefix
    return "<< /Length " + QByteArray::number(packed.size()) + " /Filter /FlateDecode" + entries + " >>\nstream\n" +
           packed + "\nendstream";
}

// The map from a face's codes back to the characters they show, for text
// extraction and search.
QByteArray ToUnicode(const std::vector<TShown>& byCode) {
    QByteArray cmap = "/CIDInit /ProcSet findresource begin\n12 dict begin\nbegincmap\n"
                      "/CIDSystemInfo << /Registry (Adobe) /Ordering (UCS) /Supplement 0 >> def\n"
                      "/CMapName /Adobe-Identity-UCS def\n/CMapType 2 def\n"
                      "1 begincodespacerange\n<0000> <FFFF>\nendcodespacerange\n";
    for (std::size_t first = 1; first < byCode.size(); first += 100) {
        const std::size_t last = std::min(byCode.size(), first + 100);
        cmap += QByteArray::number(qulonglong(last - first)) + " beginbfchar\n";
        for (std::size_t code = first; code < last; ++code)
            cmap += '<' + QByteArray::number(qulonglong(code), 16).rightJustified(4, '0').toUpper() + "> <" +
                    Utf16Hex(byCode[code].Text) + ">\n";
        cmap += "endbfchar\n";
    }
    return cmap + "endcmap\nCMapName currentdict /CMapResource defineresource pop\nend\nend\n";
}

} // namespace

// ---- fonts -----------------------------------------------------------------------------

QStringList TFonts::SystemFolders() {
    return {QStringLiteral("/usr/share/fonts/truetype/liberation2"), QStringLiteral("/usr/share/fonts/truetype/liberation")};
}

std::shared_ptr<const TFonts> TFonts::Load(const QStringList& folders, QString* error) {
    auto fail = [error](const QString& why) {
        if (error)
            *error = why;
        return nullptr;
    };
    std::vector<TTrueTypeFont> fonts;
    std::array<TGlyphId, kFaces> boxes{};
    for (int face = 0; face < kFaces; ++face) {
        const QString name = QString::fromLatin1(kFiles[face]);
        QString path;
        for (const QString& folder : folders)
            if (QFile::exists(QDir(folder).filePath(name))) {
                path = QDir(folder).filePath(name);
                break;
            }
        if (path.isEmpty())
            return fail(QStringLiteral("the font file %1 is in none of %2: install the Debian package fonts-liberation2")
                            .arg(name, folders.join(QStringLiteral(", "))));
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return fail(QStringLiteral("cannot read the font file %1: %2").arg(path, file.errorString()));
        if (file.size() > kLargestFontFile)
            return fail(QStringLiteral("the font file %1 is too large to be one font").arg(path));
        QString why;
        auto font = TTrueTypeFont::Parse(file.readAll(), &why);
        if (!font)
            return fail(QStringLiteral("the font file %1 cannot be used: %2").arg(path, why));
        boxes[std::size_t(face)] = font->Glyph(kWhiteSquare);
        if (boxes[std::size_t(face)] == 0)
            return fail(QStringLiteral("the font file %1 cannot be used: it has no white square (U+25A1) to show "
                                       "the characters it lacks")
                            .arg(path));
        fonts.push_back(std::move(*font));
    }
    std::shared_ptr<TFonts> set(new TFonts(std::move(fonts)));
    set->box_ = boxes;
    return set;
}

std::shared_ptr<const TFonts> TFonts::System(QString* error) {
    static std::mutex mutex;
    static std::shared_ptr<const TFonts> loaded;
    const std::lock_guard lock(mutex);
    if (!loaded)
        loaded = Load(SystemFolders(), error);
    return loaded;
}

TShown TFonts::Shown(char32_t c, TFace face) const {
    TShown s;
    s.Text = c == '\t' ? U' ' : c;
    const QChar::Category category = QChar::category(s.Text);
    if (category == QChar::Other_Control || category == QChar::Other_Surrogate || QChar::isNonCharacter(s.Text) ||
        s.Text > 0x10FFFF)
        s.Text = 0xFFFD;
    // Laid out left to right only: a right-to-left script would read backwards.
    const QChar::Direction direction = QChar::direction(s.Text);
    const bool rightToLeft = direction == QChar::DirR || direction == QChar::DirAL;
    s.Glyph = rightToLeft ? 0 : Font(face).Glyph(s.Text);
    s.Covered = s.Glyph != 0;
    if (!s.Covered)
        s.Glyph = box_[std::size_t(face)];
    s.Skipped = !s.Covered && !rightToLeft &&
                (category == QChar::Other_Format || (s.Text >= 0xFE00 && s.Text <= 0xFE0F) ||
                 (s.Text >= 0xE0100 && s.Text <= 0xE01EF));
    s.Mark = s.Covered && (category == QChar::Mark_NonSpacing || category == QChar::Mark_Enclosing);
    return s;
}

int TFonts::Advance(const TShown& s, TFace face) const {
    return Thousandths(Font(face).Advance(s.Glyph), Font(face));
}

// ---- layout ----------------------------------------------------------------------------

TDocument::TDocument(double width, double height, double pointsPerUnit, std::shared_ptr<const TFonts> fonts)
    : width_(width * pointsPerUnit), height_(height * pointsPerUnit), unit_(pointsPerUnit), fonts_(std::move(fonts)) {
    NewPage();
}

void TDocument::NewPage() {
    pages_.emplace_back();
    translucent_.push_back(false);
}

double TDocument::Advances(QStringView normalised, TFace face) const {
    double w = 0;
    qsizetype units = 1;
    for (qsizetype i = 0; i < normalised.size(); i += units) {
        const TShown s = fonts_->Shown(CodePointAt(normalised, i, &units), face);
        if ((!s.Mark || i == 0) && !s.Skipped) // an accent takes the room of the character it sits on
            w += fonts_->Advance(s, face);
    }
    return w;
}

double TDocument::Width(QStringView s, const TFont& font) const {
    return Advances(Normalised(s), font.Face) * font.Size / 1000.0 / unit_;
}

double TDocument::LineHeight(const TFont& font) const {
    const TTrueTypeFont& f = fonts_->Font(font.Face);
    return double(f.Ascender() - f.Descender() + f.LineGap()) / f.UnitsPerEm() * font.Size / unit_;
}

double TDocument::Ascent(const TFont& font) const {
    const TTrueTypeFont& f = fonts_->Font(font.Face);
    return double(f.Ascender()) / f.UnitsPerEm() * font.Size / unit_;
}

// The longest start of `s` (in UTF-16 units) no wider than `limit` (1/1000
// em); at least one character when `atLeastOne`. An accent stays with its
// character: it takes no room.
qsizetype TDocument::Fitting(QStringView normalised, TFace face, double limit, bool atLeastOne) const {
    double used = 0;
    qsizetype i = 0, units = 1;
    while (i < normalised.size()) {
        const TShown s = fonts_->Shown(CodePointAt(normalised, i, &units), face);
        if ((!s.Mark || i == 0) && !s.Skipped)
            used += fonts_->Advance(s, face);
        if (used > limit && (i > 0 || !atLeastOne))
            break;
        i += units;
    }
    return i;
}

QStringList TDocument::Wrap(QStringView s, const TFont& font, double width) const {
    const double limit = width * unit_ * 1000.0 / font.Size;
    const QString text = Normalised(s);
    QStringList lines;
    for (QStringView paragraph : QStringView(text).split(u'\n')) {
        QString line;
        bool started = false;
        for (QStringView word : paragraph.split(u' ')) {
            const QString candidate = started ? line + u' ' + word.toString() : word.toString();
            if (Advances(candidate, font.Face) <= limit) {
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
    const QString text = Normalised(s);
    const double limit = width * unit_ * 1000.0 / font.Size;
    if (Advances(text, font.Face) <= limit)
        return text;
    const QString mark(QChar(0x2026));
    return text.left(Fitting(text, font.Face, limit - Advances(mark, font.Face), false)) + mark;
}

// ---- drawing ---------------------------------------------------------------------------

QByteArray TDocument::Alpha(int alpha) {
    translucent_.back() = true;
    auto it = alphas_.find(alpha);
    if (it == alphas_.end())
        it = alphas_.emplace(alpha, "/A" + QByteArray::number(int(alphas_.size()) + 1)).first;
    return it->second + " gs ";
}

quint16 TDocument::Code(const TShown& s, TFace face) {
    TUsed& used = used_[std::size_t(face)];
    if (const auto it = used.Codes.find(s.Text); it != used.Codes.end())
        return it->second;
    if (used.ByCode.size() > kLastCode && s.Text != 0xFFFD)
        return Code(fonts_->Shown(0xFFFD, face), face); // 65 000 different characters: the rest read as U+FFFD
    const auto code = quint16(used.ByCode.size());
    used.Codes.emplace(s.Text, code);
    used.ByCode.push_back(s);
    return code;
}

QByteArray TDocument::TextOperators(QStringView normalised, const TFont& font) {
    const TFace face = font.Face;
    const TTrueTypeFont& f = fonts_->Font(face);
    QByteArray shown, run;
    bool moved = false;
    auto flush = [&] {
        if (!run.isEmpty())
            shown += '<' + run.toHex() + '>';
        run.clear();
    };
    int before = -1; // the advance of the character an accent sits on, in font units
    qsizetype units = 1;
    for (qsizetype i = 0; i < normalised.size(); i += units) {
        const TShown s = fonts_->Shown(CodePointAt(normalised, i, &units), face);
        if (s.Skipped)
            continue;
        const quint16 code = Code(s, face);
        const bool accent = s.Mark && before >= 0;
        // An accent's outline is centred on the character before it: back
        // over half of that, drawn, then on to where that character ends.
        const TGlyphBox box = f.Box(s.Glyph);
        const double back = before / 2.0 + (box.XMin + box.XMax) / 2.0;
        if (accent) {
            flush();
            shown += ' ' + Num(back * 1000.0 / f.UnitsPerEm()) + ' ';
            moved = true;
        }
        run += char(code >> 8);
        run += char(code & 0xFF);
        if (accent) {
            flush();
            shown += ' ' + Num((f.Advance(s.Glyph) - back) * 1000.0 / f.UnitsPerEm()) + ' ';
        } else {
            before = f.Advance(s.Glyph);
        }
    }
    flush();
    if (shown.isEmpty())
        return {};
    return "/F" + QByteArray::number(int(face)) + ' ' + Num(font.Size) + " Tf " +
           (moved ? '[' + shown + "] TJ " : shown + " Tj ");
}

void TDocument::Text(double x, double baseline, QStringView s, const TFont& font, TColor color) {
    const QByteArray shown = TextOperators(Normalised(s), font);
    if (shown.isEmpty())
        return;
    Page() += "q " + (color.Alpha < 255 ? Alpha(color.Alpha) : QByteArray()) + Rgb(color) + " rg BT 1 0 0 1 " +
              Num(X(x)) + ' ' + Num(Y(baseline)) + " Tm " + shown + "ET Q\n";
}

void TDocument::TurnedText(double cx, double cy, double degrees, QStringView s, const TFont& font, TColor color) {
    const QString text = Normalised(s);
    const QByteArray shown = TextOperators(text, font);
    if (shown.isEmpty())
        return;
    const TTrueTypeFont& f = fonts_->Font(font.Face);
    const double a = degrees * std::numbers::pi / 180.0;
    const double c = std::cos(a), sn = std::sin(a);
    Page() += "q " + (color.Alpha < 255 ? Alpha(color.Alpha) : QByteArray()) + Rgb(color) + " rg " + Num(c) + ' ' +
              Num(sn) + ' ' + Num(-sn) + ' ' + Num(c) + ' ' + Num(X(cx)) + ' ' + Num(Y(cy)) + " cm BT 1 0 0 1 " +
              Num(-Advances(text, font.Face) * font.Size / 1000.0 / 2) + ' ' +
              Num(-double(f.CapHeight()) / f.UnitsPerEm() * font.Size / 2) + " Tm " + shown + "ET Q\n";
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

// ---- the file --------------------------------------------------------------------------

// A face's six objects, at `numbers`: the composite font the pages name,
// the font it draws with, that font's description, the embedded subset, the
// map from codes to glyphs and the map from codes to characters.
QByteArray TDocument::FontObjects(TFace face, const std::vector<int>& numbers,
                                  std::vector<QByteArray>& objects) const {
    enum { kType0, kCidFont, kDescriptor, kProgram, kCodeToGlyph, kToUnicode };
    auto ref = [&numbers](int which) { return QByteArray::number(numbers[which]) + " 0 R"; };
    auto put = [&](int which, const QByteArray& object) { objects[std::size_t(numbers[which] - 1)] = object; };
    const TUsed& used = used_[std::size_t(face)];
    const TTrueTypeFont& f = fonts_->Font(face);

    std::set<TGlyphId> glyphs;
    QByteArray codeToGlyph(2, '\0'), widths;
    QCryptographicHash hash(QCryptographicHash::Md5);
    hash.addData(f.PostScriptName());
    for (std::size_t code = 1; code < used.ByCode.size(); ++code) {
        const TGlyphId g = used.ByCode[code].Glyph;
        glyphs.insert(g);
        codeToGlyph += char(g >> 8);
        codeToGlyph += char(g & 0xFF);
        widths += (code > 1 ? " " : "") + QByteArray::number(Thousandths(f.Advance(g), f));
    }
    hash.addData(codeToGlyph);
    // A subset's name starts with six capital letters of its own.
    QByteArray name;
    for (char b : hash.result().left(6))
        name += char('A' + quint8(b) % 26);
    name += '+' + f.PostScriptName();

    const QByteArray program = f.Subset(glyphs);
    const TGlyphBox box = f.FontBox();
    const int flags = 4 | (f.FixedPitch() ? 1 : 0); // symbolic: glyphs outside the standard Latin set
    const double stem = 50 + std::pow(f.Weight() / 65.0, 2);
    put(kType0, "<< /Type /Font /Subtype /Type0 /BaseFont /" + name + " /Encoding /Identity-H /DescendantFonts [" +
                    ref(kCidFont) + "] /ToUnicode " + ref(kToUnicode) + " >>");
    put(kCidFont, "<< /Type /Font /Subtype /CIDFontType2 /BaseFont /" + name +
                      " /CIDSystemInfo << /Registry (Adobe) /Ordering (Identity) /Supplement 0 >> /FontDescriptor " +
                      ref(kDescriptor) + " /W [1 [" + widths + "]] /CIDToGIDMap " + ref(kCodeToGlyph) + " >>");
    put(kDescriptor, "<< /Type /FontDescriptor /FontName /" + name + " /Flags " + QByteArray::number(flags) +
                         " /FontBBox [" + QByteArray::number(Thousandths(box.XMin, f)) + ' ' +
                         QByteArray::number(Thousandths(box.YMin, f)) + ' ' +
                         QByteArray::number(Thousandths(box.XMax, f)) + ' ' +
                         QByteArray::number(Thousandths(box.YMax, f)) + "] /ItalicAngle " + Num(f.ItalicAngle()) +
                         " /Ascent " + QByteArray::number(Thousandths(f.Ascender(), f)) + " /Descent " +
                         QByteArray::number(Thousandths(f.Descender(), f)) + " /CapHeight " +
                         QByteArray::number(Thousandths(f.CapHeight(), f)) + " /StemV " +
                         QByteArray::number(std::lround(stem)) + " /FontFile2 " + ref(kProgram) + " >>");
    put(kProgram, Stream(program, " /Length1 " + QByteArray::number(program.size())));
    put(kCodeToGlyph, Stream(codeToGlyph));
    put(kToUnicode, Stream(ToUnicode(used.ByCode)));
    return " /F" + QByteArray::number(int(face)) + ' ' + ref(kType0);
}

QByteArray TDocument::Finish(const QString& title, const QString& creator, const QDateTime& created) const {
    std::vector<QByteArray> objects;
    auto reserve = [&objects] {
        objects.emplace_back();
        return int(objects.size());
    };
    auto ref = [](int n) { return QByteArray::number(n) + " 0 R"; };
    const int catalog = reserve(), pageTree = reserve(), info = reserve(), metadata = reserve(), profile = reserve(),
              resources = reserve();

    // What the colours mean and what the file is, for archives: sRGB, and
    // the description a PDF/A reader checks against the information.
    objects[catalog - 1] = "<< /Type /Catalog /Pages " + ref(pageTree) + " /Metadata " + ref(metadata) +
                           " /OutputIntents [<< /Type /OutputIntent /S /GTS_PDFA1 /OutputConditionIdentifier (" +
                           kSrgbName + ") /Info (" + kSrgbName +
                           ") /RegistryName (http://www.color.org) /DestOutputProfile " + ref(profile) + " >>] >>";
    const QByteArray date = PdfDate(created);
    objects[info - 1] = "<< /Title " + InfoString(title) + " /Creator " + InfoString(creator) + " /Producer " +
                        InfoString(creator) + " /CreationDate (" + date + ") /ModDate (" + date + ") >>";
    const QByteArray xmp = XmpPacket(title, creator, created);
    objects[metadata - 1] = "<< /Type /Metadata /Subtype /XML /Length " + QByteArray::number(xmp.size()) +
                            " >>\nstream\n" + xmp + "\nendstream";
    objects[profile - 1] = Stream(SrgbProfile(), " /N 3");

    QByteArray fonts, states;
    for (int face = 0; face < kFaces; ++face) {
        if (used_[std::size_t(face)].ByCode.size() < 2)
            continue; // a face no text used is not carried
        std::vector<int> numbers;
        for (int i = 0; i < 6; ++i)
            numbers.push_back(reserve());
        fonts += FontObjects(TFace(face), numbers, objects);
    }
    for (const auto& [alpha, name] : alphas_)
        states += ' ' + name + " << /ca " + Num(alpha / 255.0) + " >>";
    objects[resources - 1] = "<< /Font <<" + fonts + " >> /ExtGState <<" + states + " >> >>";

    const QByteArray mediaBox = "[0 0 " + Num(width_) + ' ' + Num(height_) + ']';
    QByteArray kids;
    for (std::size_t p = 0; p < pages_.size(); ++p) {
        const int page = reserve(), contents = reserve();
        kids += (p ? " " : "") + ref(page);
        objects[page - 1] = "<< /Type /Page /Parent " + ref(pageTree) + " /MediaBox " + mediaBox + " /Resources " +
                            ref(resources) + " /Contents " + ref(contents) +
                            (translucent_[p] ? " /Group << /Type /Group /S /Transparency /CS /DeviceRGB >>" : "") +
                            " >>";
        objects[contents - 1] = Stream(pages_[p]);
    }
    objects[pageTree - 1] =
        "<< /Type /Pages /Kids [" + kids + "] /Count " + QByteArray::number(qsizetype(pages_.size())) + " >>";

    QByteArray file("%PDF-1.7\n%\xE2\xE3\xCF\xD3\n");
    std::vector<qsizetype> offsets;
    for (std::size_t i = 0; i < objects.size(); ++i) {
        offsets.push_back(file.size());
        file += QByteArray::number(qsizetype(i + 1)) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const qsizetype xref = file.size();
    file += "xref\n0 " + QByteArray::number(qsizetype(objects.size() + 1)) + "\n0000000000 65535 f \n";
    for (qsizetype offset : offsets)
        file += QByteArray::number(offset).rightJustified(10, '0') + " 00000 n \n";
    // The file's identity: a digest of what it holds, the same for both
    // halves as the file is new.
    const QByteArray id = '<' + QCryptographicHash::hash(file, QCryptographicHash::Md5).toHex() + '>';
    file += "trailer\n<< /Size " + QByteArray::number(qsizetype(objects.size() + 1)) + " /Root " + ref(catalog) +
            " /Info " + ref(info) + " /ID [" + id + ' ' + id + "] >>\nstartxref\n" + QByteArray::number(xref) +
            "\n%%EOF\n";
    return file;
}

} // namespace kv::pdf
