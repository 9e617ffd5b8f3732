#include "CertificateNumber.h"

#include "Files.h"
#include "IniFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSysInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kv::cert {

namespace {

QString Reason(int err) { return QString::fromLocal8Bit(std::strerror(err)); }

// Claims of one day beyond this mean a register gone wrong, not a busy line.
constexpr int kMaxSequence = 99999;

} // namespace

QString RegisterFolderFor(const QString& pdfPath) {
    return QDir(QFileInfo(pdfPath).path()).filePath(QStringLiteral("certificate-numbers"));
}

QString StationCode(const QString& station) {
    QString name = station.trimmed();
    if (name.isEmpty())
        name = QSysInfo::machineHostName().section(QLatin1Char('.'), 0, 0);
    QString code;
    bool gap = false;
    // Accents dropped: "Műhely" is "MUHELY", letters of other scripts stay.
    for (const QChar c : name.normalized(QString::NormalizationForm_D)) {
        if (c.isMark())
            continue;
        if (c.isLetterOrNumber()) {
            if (gap && !code.isEmpty())
                code += QLatin1Char('-');
            code += c.toUpper();
            gap = false;
        } else {
            gap = true;
        }
    }
    return code.isEmpty() ? QStringLiteral("STATION") : code;
}

QString CannotClaim(const QString& folder) {
    const QFileInfo info(folder);
    if (!info.exists()) {
        // Made at the first claim: its parent must take it.
        const QString why = kv::CannotWrite(folder, kv::TWriteWay::Whole);
        return why.isEmpty() ? QString() : QStringLiteral("the certificate register %1").arg(why);
    }
    const QByteArray name = QFile::encodeName(folder);
    struct stat st {};
    if (::stat(name.constData(), &st) != 0 || !S_ISDIR(st.st_mode))
        return QStringLiteral("the certificate register %1 is not a folder").arg(folder);
    if (::faccessat(AT_FDCWD, name.constData(), W_OK | X_OK, AT_EACCESS) != 0)
        return QStringLiteral("the certificate register %1: %2").arg(folder, Reason(errno));
    return {};
}

std::optional<TClaim> ClaimNumber(const QString& folder, const QString& station, const QDate& date,
                                  const QString& note, QString* error) {
    const auto fail = [&](const QString& why) {
        if (error)
            *error = why;
        return std::nullopt;
    };
    const QByteArray dir = QFile::encodeName(folder);
    if (::mkdir(dir.constData(), 0775) != 0 && errno != EEXIST)
        return fail(QStringLiteral("the certificate register %1: %2").arg(folder, Reason(errno)));
    const QString prefix = QStringLiteral("%1-%2-").arg(StationCode(station), date.toString(QStringLiteral("yyyyMMdd")));
    // Start after the highest number of the day; the create decides.
    int next = 1;
    for (const QString& entry : QDir(folder).entryList({prefix + QLatin1Char('*')}, QDir::Files | QDir::Hidden)) {
        bool ok = false;
        const int n = QStringView(entry).mid(prefix.size()).toInt(&ok);
        if (ok && n >= next && n < kMaxSequence)
            next = n + 1;
    }
    const QByteArray text = note.toUtf8();
    for (int n = next; n <= kMaxSequence; ++n) {
        const QString number = prefix + QStringLiteral("%1").arg(n, 4, 10, QLatin1Char('0'));
        const QString file = QDir(folder).filePath(number);
        int err = 0;
        if (kv::WriteWholeFile(QFile::encodeName(file).toStdString(),
                               std::string_view(text.constData(), static_cast<std::size_t>(text.size())), true, &err))
            return TClaim{number, file};
        if (err != EEXIST)
            return fail(QStringLiteral("the certificate register %1: %2").arg(file, Reason(err)));
    }
    return fail(QStringLiteral("the certificate register %1 holds %2 numbers of %3 already")
                    .arg(folder)
                    .arg(kMaxSequence)
                    .arg(prefix.chopped(1)));
}

bool RecordClaim(const TClaim& claim, const QString& text, QString* error) {
    return kv::WriteFileWhole(claim.File, text.toUtf8(), error);
}

} // namespace kv::cert
