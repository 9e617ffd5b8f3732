// The certificate's PDF writer: what a reader gets back from its text, the
// fonts it carries and their subsets, lines that stay within their width,
// fonts that are missing or damaged, and a file whose structure is that of a
// PDF/A-2b file.
#include "PdfArchive.h"
#include "PdfDocument.h"
#include "pdf_support.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimeZone>
#include <QtEndian>

#include <gtest/gtest.h>

using namespace kv::pdf;

namespace {

std::shared_ptr<const TFonts> Fonts() {
    QString error;
    auto fonts = TFonts::System(&error);
    EXPECT_TRUE(fonts) << error.toStdString();
    return fonts;
}

QString Written(const QByteArray& pdf, const QTemporaryDir& dir) {
    const QString path = dir.filePath(QStringLiteral("t.pdf"));
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(pdf);
    return path;
}

QByteArray FontFile(const QString& name) {
    for (const QString& folder : TFonts::SystemFolders()) {
        QFile f(folder + QLatin1Char('/') + name);
        if (f.open(QIODevice::ReadOnly))
            return f.readAll();
    }
    return {};
}

TEST(PdfDocument, ReadsBackLatinGreekAndCyrillicInEveryFaceAndMarksWhatTheFontsLack) {
    struct TCase {
        const char* text;
        const char* read;
        bool covered; // every character drawn as itself
    };
    const TCase cases[] = {
        {"Дмитрий Łukasz Żółć", "Дмитрий Łukasz Żółć", true},
        {"Σωκράτης Παπαδόπουλος", "Σωκράτης Παπαδόπουλος", true},
        {"Kovács Éva, Őrző Űrhajós: ő ű Ő Ű", "Kovács Éva, Őrző Űrhajós: ő ű Ő Ű", true},
        {"Łódź Śląsk Čapek Şişli Ђорђе Їжак", "Łódź Śląsk Čapek Şişli Ђорђе Їжак", true},
        {"±0.005 mA, 25 °C, µV, Ω", "±0.005 mA, 25 °C, µV, Ω", true},
        {"“quoted” – dash — long… 5 €", "“quoted” – dash — long… 5 €", true},
        {"Jose\xCC\x81 Ame\xCC\x81lie", "José Amélie", true},  // combining accents typed: the accented letters
        {"q\xCC\x83x", "q\xCC\x83x", true},                        // no such letter: the accent stays, on the q
        {"tab\there", "tab here", true},
        {"a\xF0\x9F\x98\x80z", "a\xF0\x9F\x98\x80z", false}, // outside the fonts: a white square, read back as itself
        {"王秀英", "王秀英", false},
        {"a\x01z", "a\xEF\xBF\xBDz", false}, // a control character: U+FFFD
        {"\xEF\xBB\xBF" "Kov\xC3\xA1" "cs\xE2\x81\xA0", "Kovács", false}, // invisible format characters left out
    };
    const auto fonts = Fonts();
    ASSERT_TRUE(fonts);
    TDocument doc(595, 842, 1, fonts);
    const TFace faces[] = {TFace::Sans, TFace::SansBold, TFace::Mono, TFace::MonoBold};
    double y = 20;
    for (TFace face : faces)
        for (const TCase& c : cases) {
            doc.Text(20, y, QString::fromUtf8(c.text), {face, 8});
            y += 15; // every line on the page
            bool covered = true;
            for (char32_t ch : QString::fromUtf8(c.text).normalized(QString::NormalizationForm_C).toUcs4())
                covered = covered && (ch == '\t' || fonts->Shown(ch, face).Covered);
            EXPECT_EQ(covered, c.covered) << c.text;
        }
    QTemporaryDir dir;
    const QString path = Written(doc.Finish(QStringLiteral("Próba ő"), QStringLiteral("kvctl test")), dir);
    const auto got = PdfText(path, 1, false);
    if (!got)
        GTEST_SKIP() << "pdftotext is not installed";
    EXPECT_EQ(got->Errors, QString());
    QStringList lines = got->Text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    lines.removeAll(QStringLiteral("\f"));
    ASSERT_EQ(lines.size(), qsizetype(std::size(faces) * std::size(cases))) << got->Text.toStdString();
    for (std::size_t f = 0; f < std::size(faces); ++f)
        for (std::size_t i = 0; i < std::size(cases); ++i)
            EXPECT_EQ(lines[qsizetype(f * std::size(cases) + i)].trimmed().toStdString(), cases[i].read)
                << "face " << f;
}

TEST(PdfDocument, ShowsARightToLeftScriptAsMissingAndAnAccentWithoutRoom) {
    const auto fonts = Fonts();
    ASSERT_TRUE(fonts);
    EXPECT_TRUE(fonts->Font(TFace::Sans).Glyph(U'ש')) << "the font has Hebrew letters";
    EXPECT_FALSE(fonts->Shown(U'ש', TFace::Sans).Covered) << "but they would read backwards";
    const TShown accent = fonts->Shown(0x0303, TFace::Mono);
    EXPECT_TRUE(accent.Covered && accent.Mark);
    const TDocument doc(595, 842, 1, fonts);
    for (TFace face : {TFace::Sans, TFace::MonoBold}) {
        EXPECT_DOUBLE_EQ(doc.Width(QStringLiteral("q\u0303x"), {face, 10}), doc.Width(QStringLiteral("qx"), {face, 10}));
        EXPECT_DOUBLE_EQ(doc.Width(QStringLiteral("e\u0301"), {face, 10}), doc.Width(QStringLiteral("é"), {face, 10}));
    }
    EXPECT_EQ(doc.Wrap(QStringLiteral("Jose\u0301"), {TFace::Sans, 10}, 500), QStringList{QStringLiteral("José")});
}

TEST(PdfDocument, EmbedsEveryFaceItUsesAsASubsetWithItsWayBackToText) {
    const auto fonts = Fonts();
    ASSERT_TRUE(fonts);
    TDocument doc(595, 842, 1, fonts);
    doc.Text(10, 20, QStringLiteral("Дмитрий"), {TFace::Sans, 10});
    doc.Text(10, 40, QStringLiteral("Σωκράτης"), {TFace::SansBold, 10});
    doc.Text(10, 60, QStringLiteral("OFFSET_CH0 = -1 234"), {TFace::Mono, 10});
    doc.Text(10, 80, QStringLiteral("Żółć"), {TFace::MonoBold, 10});
    QTemporaryDir dir;
    const QByteArray pdf = doc.Finish(QStringLiteral("t"), QStringLiteral("c"));
    QString errors;
    const auto listed = PdfFonts(Written(pdf, dir), &errors);
    if (!listed)
        GTEST_SKIP() << "pdffonts is not installed";
    EXPECT_EQ(errors, QString());
    ASSERT_EQ(listed->size(), 4u);
    QStringList names;
    for (const TPdfFont& f : *listed) {
        EXPECT_EQ(f.Type, QStringLiteral("CID TrueType")) << f.Name.toStdString();
        EXPECT_EQ(f.Embedded + f.Subset + f.ToUnicode, QStringLiteral("yesyesyes")) << f.Name.toStdString();
        EXPECT_TRUE(QRegularExpression(QStringLiteral("^[A-Z]{6}\\+")).match(f.Name).hasMatch()) << f.Name.toStdString();
        names << f.Name.mid(7);
    }
    names.sort();
    EXPECT_EQ(names, (QStringList{QStringLiteral("LiberationMono"), QStringLiteral("LiberationMono-Bold"),
                                  QStringLiteral("LiberationSans"), QStringLiteral("LiberationSans-Bold")}));
    // Four faces of a few characters each: the whole font files are 1.4 MB.
    EXPECT_LT(pdf.size(), 40000);

    // A face no text uses is not carried; nor is one whose text has
    // nothing to draw.
    TDocument one(595, 842, 1, fonts);
    one.Text(10, 20, QStringLiteral("x"), {TFace::Sans, 10});
    one.Text(10, 40, QStringLiteral("\uFEFF"), {TFace::Mono, 10});
    one.TurnedText(100, 100, 30, QString(), {TFace::MonoBold, 10}, {});
    const QString path = Written(one.Finish(QStringLiteral("t"), QStringLiteral("c")), dir);
    const auto single = PdfFonts(path, &errors);
    ASSERT_TRUE(single);
    EXPECT_EQ(single->size(), 1u);
    const auto text = PdfText(path, 1, false);
    ASSERT_TRUE(text);
    EXPECT_EQ(text->Errors, QString());
    EXPECT_EQ(text->Text.trimmed(), QStringLiteral("x"));
}

TEST(TrueTypeFont, SubsetKeepsTheUsedGlyphsTheirPartsAndIdsAndNothingElse) {
    QString error;
    const auto font = TTrueTypeFont::Parse(FontFile(QStringLiteral("LiberationSans-Regular.ttf")), &error);
    ASSERT_TRUE(font) << error.toStdString();
    const TGlyphId oDouble = font->Glyph(U'ő'), shortI = font->Glyph(U'Й'), o = font->Glyph(U'o'),
                   i = font->Glyph(U'И'), z = font->Glyph(U'Z'), sigma = font->Glyph(U'Σ');
    for (TGlyphId g : {oDouble, shortI, o, i, z, sigma})
        ASSERT_NE(g, 0);
    const QByteArray subset = font->Subset({oDouble, shortI, sigma});
    const auto cut = TTrueTypeFont::Parse(subset, &error);
    ASSERT_TRUE(cut) << error.toStdString();

    // ő is o with a double acute and Й is И with a breve, built from parts:
    // the parts come along although no text asked for them.
    for (TGlyphId g : {oDouble, shortI, sigma, o, i, TGlyphId(0)}) {
        const TGlyphBox a = font->Box(g), b = cut->Box(g);
        EXPECT_TRUE(a.XMax > a.XMin && a.XMin == b.XMin && a.YMin == b.YMin && a.XMax == b.XMax && a.YMax == b.YMax)
            << "glyph " << g;
        EXPECT_EQ(cut->Advance(g), font->Advance(g)) << "glyph " << g;
    }
    EXPECT_EQ(cut->Box(z).XMax, 0) << "Z is not used";
    EXPECT_EQ(cut->Advance(z), 0);
    EXPECT_GT(cut->Glyphs(), std::max({oDouble, shortI, sigma, o, i})); // the breve is glyph 2331
    EXPECT_LE(cut->Glyphs(), font->Glyphs());
    EXPECT_EQ(cut->UnitsPerEm(), font->UnitsPerEm());
    EXPECT_LT(subset.size(), 30000);

    // The file's check sums: each table's, and the whole file's.
    quint32 sum = 0;
    for (qsizetype k = 0; k + 4 <= subset.size(); k += 4)
        sum += qFromBigEndian<quint32>(subset.constData() + k);
    EXPECT_EQ(sum, 0xB1B0AFBAu);
    EXPECT_EQ(subset.size() % 4, 0);
}

TEST(TrueTypeFont, RefusesDamagedFilesWithAReasonAndNeverReadsPastThem) {
    const QByteArray good = FontFile(QStringLiteral("LiberationMono-Regular.ttf"));
    ASSERT_FALSE(good.isEmpty());
    auto with = [&good](qsizetype at, QByteArray bytes) {
        QByteArray d = good;
        d.replace(at, bytes.size(), bytes);
        return d;
    };
    const quint16 tables = qFromBigEndian<quint16>(good.constData() + 4);
    auto tableAt = [&](const char* tag) -> qsizetype {
        for (int k = 0; k < tables; ++k)
            if (good.mid(12 + 16 * k, 4) == tag)
                return 12 + 16 * k;
        return -1;
    };
    const struct {
        const char* what;
        QByteArray data;
        const char* error;
    } cases[] = {
        {"empty", QByteArray(), "too short"},
        {"cut in the table directory", good.left(40), "table directory"},
        {"cut short", good.left(good.size() / 2), "outside the file"},
        {"PostScript outlines", with(0, "OTTO"), "PostScript outlines"},
        {"a collection", with(0, "ttcf"), "collection"},
        {"not a font", QByteArray("%PDF-1.7 and more bytes"), "not a TrueType font"},
        {"no outlines", with(tableAt("glyf"), "glyX"), "no 'glyf' table"},
        {"a table's length beyond the file", with(tableAt("cmap") + 12, "\x7F\xFF\xFF\xFF"), "outside the file"},
        {"embedding not allowed", with(qFromBigEndian<quint32>(good.constData() + tableAt("OS/2") + 8) + 8,
                                       QByteArray("\0\2", 2)), "does not allow embedding"},
    };
    for (const auto& c : cases) {
        QString error;
        EXPECT_FALSE(TTrueTypeFont::Parse(c.data, &error)) << c.what;
        EXPECT_TRUE(error.contains(QLatin1String(c.error))) << c.what << ": " << error.toStdString();
    }
    // Bytes changed anywhere: fuzz/fuzz_truetype.cpp.
}

TEST(PdfFonts, MissingFilesAreNamedWithThePackageToInstall) {
    QTemporaryDir empty;
    QString error;
    EXPECT_FALSE(TFonts::Load({empty.path(), QStringLiteral("/no/such/folder")}, &error));
    EXPECT_TRUE(error.contains(QLatin1String("LiberationSans-Regular.ttf"))) << error.toStdString();
    EXPECT_TRUE(error.contains(QLatin1String("fonts-liberation2"))) << error.toStdString();

    // A file of the right name that is no font.
    QFile junk(empty.filePath(QStringLiteral("LiberationSans-Regular.ttf")));
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write("not a font");
    junk.close();
    EXPECT_FALSE(TFonts::Load({empty.path()}, &error));
    EXPECT_TRUE(error.startsWith(QStringLiteral("the font file %1 cannot be used").arg(junk.fileName())))
        << error.toStdString();
}

TEST(PdfDocument, WrapsAndElidesWithinTheWidth) {
    const TDocument doc(595, 842, 1, Fonts());
    struct TCase {
        const char* what;
        QString text;
        TFont font;
        double width;
        QStringList lines;
    };
    const TFont sans{TFace::Sans, 10}, mono{TFace::Mono, 10}; // mono: 6 points a character
    const TCase cases[] = {
        {"fits", QStringLiteral("one two"), sans, 500, {QStringLiteral("one two")}},
        {"at blanks", QStringLiteral("aaaa bbbb cccc"), mono, 60, {QStringLiteral("aaaa bbbb"), QStringLiteral("cccc")}},
        {"a word wider than the line is cut", QStringLiteral("abcdefghijklmn xy"), mono, 30,
         {QStringLiteral("abcde"), QStringLiteral("fghij"), QStringLiteral("klmn"), QStringLiteral("xy")}},
        {"line feeds kept", QStringLiteral("a\nb c"), mono, 600, {QStringLiteral("a"), QStringLiteral("b c")}},
        {"blanks inside a line kept", QStringLiteral("4.7 s   (x)"), mono, 600, {QStringLiteral("4.7 s   (x)")}},
        {"narrower than one character", QStringLiteral("ab"), mono, 1, {QStringLiteral("a"), QStringLiteral("b")}},
        {"empty", QString(), sans, 100, {QString()}},
        {"Cyrillic cut as any word", QStringLiteral("Дмитрий"), mono, 24, {QStringLiteral("Дмит"), QStringLiteral("рий")}},
    };
    for (const TCase& c : cases) {
        const QStringList got = doc.Wrap(c.text, c.font, c.width);
        EXPECT_EQ(got, c.lines) << c.what << ": " << got.join(QLatin1Char('|')).toStdString();
        for (const QString& line : got) {
            if (line.size() > 1) {
                EXPECT_LE(doc.Width(line, c.font), c.width + 1e-9) << c.what;
            }
        }
    }
    EXPECT_EQ(doc.Elide(QStringLiteral("abcdefghij"), mono, 60), QStringLiteral("abcdefghij"));
    EXPECT_EQ(doc.Elide(QStringLiteral("abcdefghijk"), mono, 60), QStringLiteral("abcdefghi…"));
    EXPECT_EQ(doc.Elide(QStringLiteral("Őrző Űrhajós"), mono, 30), QStringLiteral("Őrző…"));
}

TEST(PdfDocument, IsAnArchivalFileWhoseTablesPointAtEveryObject) {
    TDocument doc(595, 842, 1, Fonts());
    doc.Text(10, 10, QStringLiteral("page one ő"), {});
    doc.Box(10, 20, 100, 50, 2, {255, 0, 0}, {255, 0, 0, 24});
    doc.NewPage();
    doc.Line(10, 10, 200, 10, 1, {});
    doc.NewPage();
    doc.TurnedText(300, 400, 50, QStringLiteral("FAILED"), {TFace::SansBold, 110}, {176, 0, 32, 40});
    const QDateTime created(QDate(2026, 12, 8), QTime(1, 2, 3, 456), QTimeZone(3600));
    const QByteArray pdf = doc.Finish(QStringLiteral("Certificate <KV7730> & Ωmega"), QStringLiteral("kvctl 1.0"), created);
    ASSERT_TRUE(pdf.startsWith("%PDF-1.7\n%\xE2\xE3\xCF\xD3\n"));
    ASSERT_TRUE(pdf.endsWith("%%EOF\n"));
    const TPdfObjects file = ReadObjects(pdf);
    ASSERT_FALSE(file.Objects.empty()) << "the cross-reference table points at every object";
    EXPECT_EQ(file.Objects.size(), 6u + 2 * 6 + 3 * 2); // shared, two faces, three pages
    int streams = 0;
    for (const auto& [n, object] : file.Objects)
        if (object.contains("\nstream\n")) {
            ++streams;
            EXPECT_TRUE(StreamData(object)) << "object " << n << ": its /Length is where the stream ends";
        }
    EXPECT_EQ(streams, 2 + 3 * 2 + 3); // XMP and profile, three a face, one a page
    EXPECT_FALSE(pdf.contains("/Encrypt"));

    // The trailer's identity: two equal 16-byte strings.
    EXPECT_TRUE(QRegularExpression(QStringLiteral("/ID \\[<([0-9a-f]{32})> <\\1>\\]"))
                    .match(QString::fromLatin1(file.Trailer))
                    .hasMatch())
        << file.Trailer.toStdString();

    // The catalogue names the XMP description and an sRGB output intent.
    const int root = RefOf(file.Trailer, "/Root"), info = RefOf(file.Trailer, "/Info");
    const QByteArray& catalog = file.Objects.at(root);
    EXPECT_TRUE(catalog.contains("/OutputIntents [<< /Type /OutputIntent /S /GTS_PDFA1 "
                                 "/OutputConditionIdentifier (sRGB IEC61966-2.1)"))
        << catalog.toStdString();
    const auto profile = StreamData(file.Objects.at(RefOf(catalog, "/DestOutputProfile")));
    ASSERT_TRUE(profile);
    EXPECT_EQ(*profile, SrgbProfile());
    EXPECT_TRUE(file.Objects.at(RefOf(catalog, "/DestOutputProfile")).contains("/N 3"));
    const QByteArray& metadata = file.Objects.at(RefOf(catalog, "/Metadata"));
    EXPECT_TRUE(metadata.startsWith("<< /Type /Metadata /Subtype /XML /Length ")) << "not packed: archives read it as is";
    const auto xmp = StreamData(metadata);
    ASSERT_TRUE(xmp);
    for (const char* part :
         {"<pdfaid:part>2</pdfaid:part>", "<pdfaid:conformance>B</pdfaid:conformance>",
          "<rdf:li xml:lang=\"x-default\">Certificate &lt;KV7730&gt; &amp; \xCE\xA9mega</rdf:li>",
          "<xmp:CreatorTool>kvctl 1.0</xmp:CreatorTool>", "<pdf:Producer>kvctl 1.0</pdf:Producer>",
          "<xmp:CreateDate>2026-12-08T01:02:03+01:00</xmp:CreateDate>",
          "<xmp:ModifyDate>2026-12-08T01:02:03+01:00</xmp:ModifyDate>"})
        EXPECT_TRUE(xmp->contains(part)) << part;
    EXPECT_TRUE(xmp->startsWith("<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>"));
    EXPECT_TRUE(xmp->endsWith("<?xpacket end=\"w\"?>"));
    // ... and the information dictionary says the same.
    const QByteArray& information = file.Objects.at(info);
    EXPECT_TRUE(information.contains("/CreationDate (D:20261208010203+01'00') /ModDate (D:20261208010203+01'00')"));
    QString title = QStringLiteral("Certificate <KV7730> & Ωmega");
    QByteArray utf16("\xFE\xFF", 2);
    for (QChar c : title)
        utf16 += QByteArray(1, char(c.unicode() >> 8)) + char(c.unicode() & 0xFF);
    EXPECT_TRUE(information.contains("/Title <" + utf16.toHex() + ">")) << information.toStdString();

    // Translucent fills on the pages that have them, in a group of the
    // output intent's colour space.
    EXPECT_TRUE(pdf.contains("/ExtGState << /A1 << /ca 0.094 >> /A2 << /ca 0.157 >> >>"));
    const QString text = QString::fromLatin1(pdf);
    EXPECT_EQ(text.count(QRegularExpression(QStringLiteral("/Type /Page\\b(?!s)"))), 3);
    EXPECT_EQ(text.count(QStringLiteral("/Group << /Type /Group /S /Transparency /CS /DeviceRGB >>")), 2);

    // Every font embedded, with a map back to the text, and no glyph drawn
    // is the missing-character glyph.
    for (const auto& [n, object] : file.Objects) {
        if (object.contains("/Subtype /Type0")) {
            EXPECT_TRUE(object.contains("/Encoding /Identity-H")) << n;
            EXPECT_NE(RefOf(object, "/ToUnicode"), 0) << n;
        }
        if (object.contains("/Type /FontDescriptor")) {
            EXPECT_NE(RefOf(object, "/FontFile2"), 0) << n;
        }
        if (object.contains("/Subtype /CIDFontType2")) {
            const auto map = StreamData(file.Objects.at(RefOf(object, "/CIDToGIDMap")));
            ASSERT_TRUE(map);
            for (qsizetype k = 2; k + 1 < map->size(); k += 2)
                EXPECT_NE(qFromBigEndian<quint16>(map->constData() + k), 0) << "code " << k / 2;
        }
    }
}

TEST(PdfArchive, TheSrgbProfileIsAWellFormedVersion2DisplayProfile) {
    const QByteArray p = SrgbProfile();
    auto u32 = [&p](qsizetype at) { return qFromBigEndian<quint32>(p.constData() + at); };
    ASSERT_GE(p.size(), 132);
    EXPECT_EQ(u32(0), quint32(p.size()));
    EXPECT_EQ(p.size() % 4, 0);
    EXPECT_EQ(u32(8), 0x02100000u);
    EXPECT_EQ(p.mid(12, 12), "mntrRGB XYZ ");
    EXPECT_EQ(p.mid(36, 4), "acsp");
    std::map<QByteArray, QByteArray> tags;
    for (quint32 k = 0; k < u32(128); ++k) {
        const qsizetype at = 132 + 12 * k;
        const quint32 offset = u32(at + 4), size = u32(at + 8);
        ASSERT_LE(offset + size, quint32(p.size()));
        EXPECT_EQ(offset % 4, 0u);
        tags[p.mid(at, 4)] = p.mid(offset, size);
    }
    for (const char* tag : {"desc", "cprt", "wtpt", "rXYZ", "gXYZ", "bXYZ", "rTRC", "gTRC", "bTRC"})
        EXPECT_TRUE(tags.count(tag)) << tag;
    EXPECT_TRUE(tags["desc"].startsWith("desc") && tags["desc"].contains(kSrgbName));
    EXPECT_TRUE(tags["rXYZ"].startsWith("XYZ "));
    // The primaries add up to the D50 white, as the connection space has it.
    constexpr double kD50[3] = {0.9642, 1.0, 0.8249};
    for (int axis = 0; axis < 3; ++axis) {
        double sum = 0;
        for (const char* tag : {"rXYZ", "gXYZ", "bXYZ"})
            sum += qint32(qFromBigEndian<quint32>(tags[tag].constData() + 8 + 4 * axis)) / 65536.0;
        EXPECT_NEAR(sum, kD50[axis], 0.0005) << axis;
    }
    // The tone curve: linear at the dark end, the 2.4 power above it.
    const QByteArray& curve = tags["rTRC"];
    ASSERT_TRUE(curve.startsWith("curv"));
    const quint32 n = qFromBigEndian<quint32>(curve.constData() + 8);
    ASSERT_EQ(curve.size(), qsizetype(12 + 2 * n));
    auto at = [&](double v) { return qFromBigEndian<quint16>(curve.constData() + 12 + 2 * qsizetype(v * (n - 1))) / 65535.0; };
    EXPECT_NEAR(at(0.0), 0.0, 1e-6);
    EXPECT_NEAR(at(1.0), 1.0, 1e-6);
    EXPECT_NEAR(at(0.5), 0.2140, 0.002);
    EXPECT_EQ(tags["gTRC"], curve);
}

TEST(PdfArchive, InformationTextAndDatesAgreeWithTheXmp) {
    const struct {
        QString text, clean;
    } texts[] = {
        {QStringLiteral("KV7730 2026-12-08"), QStringLiteral("KV7730 2026-12-08")},
        {QStringLiteral("Jose\u0301"), QStringLiteral("José")},
        {QStringLiteral("a\tb\r\nc"), QStringLiteral("a b  c")},
        {QStringLiteral("a\x01" "b\uFFFF"), QStringLiteral("a\uFFFDb\uFFFD")},
        {QString(QChar(0xD800)) + u'x', QStringLiteral("\uFFFDx")},
        {QString::fromUtf8("\xF0\x9F\x98\x80"), QString::fromUtf8("\xF0\x9F\x98\x80")},
    };
    for (const auto& t : texts)
        EXPECT_EQ(MetadataText(t.text), t.clean) << t.text.toStdString();

    const struct {
        QDateTime when;
        const char* pdf;
        const char* xmp;
    } dates[] = {
        {QDateTime(QDate(2026, 12, 8), QTime(1, 2, 3, 999), QTimeZone(3600)), "D:20261208010203+01'00'",
         "2026-12-08T01:02:03+01:00"},
        {QDateTime(QDate(2026, 1, 2), QTime(23, 59, 59), QTimeZone(-(3 * 3600 + 1800))), "D:20260102235959-03'30'",
         "2026-01-02T23:59:59-03:30"},
        {QDateTime(QDate(2026, 6, 1), QTime(12, 0), QTimeZone::utc()), "D:20260601120000+00'00'",
         "2026-06-01T12:00:00+00:00"},
    };
    for (const auto& d : dates) {
        EXPECT_EQ(PdfDate(d.when), d.pdf);
        EXPECT_EQ(XmpDate(d.when), d.xmp);
    }
}

} // namespace
