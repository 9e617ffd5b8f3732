// The certificate's PDF writer: what a reader gets back from its text, lines
// that stay within their width, and a file whose cross-reference table
// points at its objects.
#include "PdfDocument.h"
#include "pdf_support.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace kv::pdf;

namespace {

QString Written(const TDocument& doc, const QTemporaryDir& dir) {
    const QString path = dir.filePath(QStringLiteral("t.pdf"));
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(doc.Finish(QStringLiteral("Próba ő"), QStringLiteral("kvctl test")));
    return path;
}

TEST(PdfDocument, ReadsBackHungarianAndCentralEuropeanTextAndMarksTheRest) {
    const std::pair<const char*, const char*> cases[] = {
        {"Kovács Éva, Ödön", "Kovács Éva, Ödön"},
        {"Őrző Űrhajós: ő ű Ő Ű", "Őrző Űrhajós: ő ű Ő Ű"},
        {"Łódź Śląsk Čapek Şişli", "Łódź Śląsk Čapek Şişli"},
        {"±0.005 mA, 25 °C, µV", "±0.005 mA, 25 °C, µV"},
        {"“quoted” – dash — long… 5 €", "“quoted” – dash — long… 5 €"},
        {"Жанна", "?????"},            // not shown: one mark per character
        {"a\xF0\x9F\x98\x80z", "a?z"}, // outside the basic plane: one mark, not two
        {"tab\there", "tab here"},
    };
    TDocument doc(595, 842);
    double y = 60;
    for (TFont font : {TFont{TFace::Sans, 11}, TFont{TFace::MonoBold, 9}})
        for (const auto& [text, read] : cases) {
            doc.Text(40, y, QString::fromUtf8(text), font);
            y += 20;
        }
    QTemporaryDir dir;
    const auto got = PdfText(Written(doc, dir), 1, false);
    if (!got)
        GTEST_SKIP() << "pdftotext is not installed";
    EXPECT_EQ(got->Errors, QString());
    QStringList lines = got->Text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    lines.removeAll(QStringLiteral("\f"));
    ASSERT_EQ(lines.size(), 2 * qsizetype(std::size(cases))) << got->Text.toStdString();
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(lines[qsizetype(i)].trimmed().toStdString(), cases[i].second) << "sans";
        EXPECT_EQ(lines[qsizetype(i + std::size(cases))].trimmed().toStdString(), cases[i].second) << "mono";
    }
    EXPECT_TRUE(Shown(U'ő'));
    EXPECT_TRUE(Shown(U'€'));
    EXPECT_FALSE(Shown(U'Ж'));
}

TEST(PdfDocument, WrapsAndElidesWithinTheWidth) {
    const TDocument doc(595, 842);
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

TEST(PdfDocument, CrossReferencePointsAtEveryObject) {
    TDocument doc(595, 842);
    doc.Text(10, 10, QStringLiteral("page one ő"), {});
    doc.Box(10, 20, 100, 50, 2, {255, 0, 0}, {255, 0, 0, 24});
    doc.NewPage();
    doc.TurnedText(300, 400, 50, QStringLiteral("FAILED"), {TFace::SansBold, 110}, {176, 0, 32, 40});
    doc.Line(10, 10, 200, 10, 1, {});
    const QByteArray pdf = doc.Finish(QStringLiteral("t"), QStringLiteral("c"));
    ASSERT_TRUE(pdf.startsWith("%PDF-1.4\n"));
    ASSERT_TRUE(pdf.endsWith("%%EOF\n"));
    const qsizetype xref = pdf.mid(pdf.lastIndexOf("startxref\n") + 10).split('\n').front().toLongLong();
    ASSERT_TRUE(pdf.mid(xref).startsWith("xref\n0 "));
    const QList<QByteArray> table = pdf.mid(xref).split('\n');
    const int count = table[1].split(' ')[1].toInt();
    EXPECT_EQ(count, 1 + 14 + 2 * 2); // 14 shared objects, two per page
    for (int n = 1; n < count; ++n) {
        const qsizetype offset = table[2 + n].left(10).toLongLong();
        EXPECT_TRUE(pdf.mid(offset).startsWith(QByteArray::number(n) + " 0 obj\n")) << n;
    }
    EXPECT_TRUE(pdf.contains("/ExtGState << /A1 << /ca 0.094 >> /A2 << /ca 0.157 >> >>"));
    EXPECT_EQ(QString::fromLatin1(pdf).count(QRegularExpression(QStringLiteral("/Type /Page\\b(?!s)"))), 2);
}

} // namespace
