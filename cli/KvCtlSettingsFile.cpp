// The settings file that settings diff and settings set (also --dry-run)
// read: the same checks for all three, so that diff never calls a file fine
// that set refuses.
#include "KvCtl.h"
#include "SettingsModel.h"

#include <QFile>

#include <sys/stat.h>

namespace kvctl {

bool TKvCtl::LoadSettingsArgument(const QString& file, kv::SettingsRecord& record, bool* fromStream) {
    const char sep = kv::DecimalSeparator();
    struct stat st {};
    const bool stream = ::stat(QFile::encodeName(file).constData(), &st) == 0 &&
                        (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode) || S_ISSOCK(st.st_mode));
    if (fromStream)
        *fromStream = stream;
    // A pipe or another stream (/dev/stdin, a process substitution) is read
    // as it comes, up to the size of a settings file.
    kv::SettingsFileLoad load;
    const kv::IniSnapshot ini = kv::IniSnapshot::Read(QFile::encodeName(file).toStdString(), kv::kMaxSettingsFileSize, true);
    if (ini.Ok())
        load = kv::LoadSettings(ini, sep, kv::FileSeparators::Either);
    else
        load.reason = QString::fromStdString(ini.Error());
    if (load.status != kv::SettingsFileLoad::Loaded) {
        Fail(exitUsage, QStringLiteral("%1: %2; nothing was sent").arg(file, load.reason));
        return false;
    }
    // Anything a careful reader would question: keys missing, not numbers,
    // out of range, beyond what the device holds, or given twice (the first
    // would count, the second may be the one meant).
    if (!load.problems.isEmpty()) {
        for (const QString& p : load.problems)
            Err(QStringLiteral("kvctl: %1: %2\n").arg(file, p));
        Fail(exitUsage, QStringLiteral("%1 is refused; nothing was sent").arg(file),
             QStringLiteral("%1 is refused (%2); nothing was sent").arg(file, load.problems.join(QStringLiteral("; "))));
        return false;
    }
    record = kv::RecordFromPage(load.page, sep);
    return true;
}

} // namespace kvctl
