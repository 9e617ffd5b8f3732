#pragma once
// The certificate's PDFs as readers see them: the text of a page as
// poppler's pdftotext reads it and the fonts pdffonts lists (nothing when
// poppler-utils is not installed), and the file's objects through its
// cross-reference table.
#include <QByteArray>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QString>
#include <QStringList>

#include <map>
#include <optional>

struct TPdfText {
    QString Text;
    QString Errors;
};

inline std::optional<TPdfText> PopplerTool(const char* name, QStringList args) {
    const QString tool = QStandardPaths::findExecutable(QString::fromLatin1(name));
    if (tool.isEmpty())
        return std::nullopt;
    QProcess p;
    p.start(tool, args);
    p.waitForFinished(30000);
    return TPdfText{QString::fromUtf8(p.readAllStandardOutput()), QString::fromUtf8(p.readAllStandardError())};
}

inline std::optional<TPdfText> PdfText(const QString& path, int page, bool layout = true) {
    QStringList args = {QStringLiteral("-enc"), QStringLiteral("UTF-8"), QStringLiteral("-f"), QString::number(page),
                        QStringLiteral("-l"), QString::number(page), path, QStringLiteral("-")};
    if (layout)
        args.prepend(QStringLiteral("-layout"));
    return PopplerTool("pdftotext", args);
}

// The text of every page, in their order.
inline std::optional<TPdfText> PdfDocumentText(const QString& path) {
    return PopplerTool("pdftotext", {QStringLiteral("-enc"), QStringLiteral("UTF-8"), path, QStringLiteral("-")});
}

// pdffonts' table: one row per font, its columns split at blanks (name,
// type words, encoding, emb, sub, uni, object, generation).
struct TPdfFont {
    QString Name, Type, Embedded, Subset, ToUnicode;
};

inline std::optional<std::vector<TPdfFont>> PdfFonts(const QString& path, QString* errors) {
    const auto out = PopplerTool("pdffonts", {path});
    if (!out)
        return std::nullopt;
    *errors = out->Errors;
    std::vector<TPdfFont> fonts;
    const QStringList lines = out->Text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (qsizetype i = 2; i < lines.size(); ++i) { // after the heading and its rule
        const QStringList w = lines[i].split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (w.size() < 8)
            continue;
        // name, type (one or two words), encoding, emb, sub, uni, object ID (two)
        const qsizetype n = w.size();
        fonts.push_back({w[0], w.mid(1, n - 7).join(QLatin1Char(' ')), w[n - 5], w[n - 4], w[n - 3]});
    }
    return fonts;
}

// The objects of a PDF by number, through its cross-reference table: the
// text between "N 0 obj" and "endobj"; empty when the table points wrong.
struct TPdfObjects {
    std::map<int, QByteArray> Objects;
    QByteArray Trailer;
};

inline TPdfObjects ReadObjects(const QByteArray& pdf) {
    TPdfObjects r;
    const qsizetype start = pdf.lastIndexOf("startxref\n");
    if (start < 0)
        return r;
    const qsizetype xref = pdf.mid(start + 10).split('\n').front().toLongLong();
    if (!pdf.mid(xref).startsWith("xref\n0 "))
        return r;
    const QList<QByteArray> table = pdf.mid(xref).split('\n');
    const int count = table[1].split(' ').value(1).toInt();
    for (int n = 1; n < count && 2 + n < table.size(); ++n) {
        const qsizetype offset = table[2 + n].left(10).toLongLong();
        const QByteArray head = QByteArray::number(n) + " 0 obj\n";
        if (!pdf.mid(offset).startsWith(head))
            return {};
        const qsizetype end = pdf.indexOf("\nendobj\n", offset);
        r.Objects[n] = pdf.mid(offset + head.size(), end - offset - head.size());
    }
    r.Trailer = pdf.mid(pdf.indexOf("trailer\n", xref));
    return r;
}

// The data of a stream object, unpacked when it is Flate-coded; nothing
// when its /Length is not where "endstream" is.
inline std::optional<QByteArray> StreamData(const QByteArray& object) {
    const qsizetype at = object.indexOf(">>\nstream\n");
    if (at < 0)
        return std::nullopt;
    const auto length = QRegularExpression(QStringLiteral("/Length (\\d+)")).match(QString::fromLatin1(object.left(at)));
    if (!length.hasMatch())
        return std::nullopt;
    const qsizetype from = at + 10, size = length.captured(1).toLongLong();
    if (object.mid(from + size) != "\nendstream")
        return std::nullopt;
    const QByteArray data = object.mid(from, size);
    if (!object.left(at).contains("/FlateDecode"))
        return data;
    return qUncompress(QByteArray("\0\0\0\1", 4) + data); // Qt's length prefix: a first guess it grows from
}

// The number of the object that `key` in `object` refers to ("/Key 12 0 R").
inline int RefOf(const QByteArray& object, const char* key) {
    const auto m = QRegularExpression(QStringLiteral("%1 (\\d+) 0 R").arg(QRegularExpression::escape(QLatin1String(key))))
                       .match(QString::fromLatin1(object));
    return m.hasMatch() ? m.captured(1).toInt() : 0;
}
