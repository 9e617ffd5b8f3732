#pragma once
// The text of a PDF page as poppler's pdftotext reads it, with what it said
// on stderr; nothing when pdftotext is not installed.
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QStringList>

#include <optional>

struct TPdfText {
    QString Text;
    QString Errors;
};

inline std::optional<TPdfText> PdfText(const QString& path, int page, bool layout = true) {
    const QString tool = QStandardPaths::findExecutable(QStringLiteral("pdftotext"));
    if (tool.isEmpty())
        return std::nullopt;
    QStringList args = {QStringLiteral("-enc"), QStringLiteral("UTF-8"), QStringLiteral("-f"), QString::number(page),
                        QStringLiteral("-l"), QString::number(page), path, QStringLiteral("-")};
    if (layout)
        args.prepend(QStringLiteral("-layout"));
    QProcess p;
    p.start(tool, args);
    p.waitForFinished(30000);
    return TPdfText{QString::fromUtf8(p.readAllStandardOutput()), QString::fromUtf8(p.readAllStandardError())};
}
