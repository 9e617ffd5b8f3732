// The settings file that settings diff and settings set (also --dry-run)
// read: the same checks for all three, so that diff never calls a file fine
// that set refuses.
#include "KvCtl.h"
#include "SettingsModel.h"

#include <QFile>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kvctl {

namespace {

// A pipe or another stream (/dev/stdin, a process substitution): read as it
// comes, up to the size of a settings file.
kv::SettingsFileLoad LoadFromStream(const QString& path, char sep) {
    kv::SettingsFileLoad load;
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        load.reason = QString::fromLocal8Bit(std::strerror(errno));
        return load;
    }
    std::string text;
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            load.reason = QString::fromLocal8Bit(std::strerror(errno));
            break;
        }
        if (n == 0)
            break;
        text.append(buf, static_cast<std::size_t>(n));
        if (text.size() > kv::kMaxSettingsFileSize) {
            load.reason = QStringLiteral("larger than %1 bytes").arg(kv::kMaxSettingsFileSize);
            break;
        }
    }
    ::close(fd);
    if (!load.reason.isEmpty())
        return load;
    return kv::LoadSettings(kv::IniSnapshot::FromText(text), sep, kv::FileSeparators::Either);
}

} // namespace

bool TKvCtl::LoadSettingsArgument(const QString& file, kv::SettingsRecord& record, bool* fromStream) {
    const char sep = kv::DecimalSeparator();
    struct stat st {};
    const bool stream = ::stat(QFile::encodeName(file).constData(), &st) == 0 &&
                        (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode) || S_ISSOCK(st.st_mode));
    if (fromStream)
        *fromStream = stream;
    const kv::SettingsFileLoad load =
        stream ? LoadFromStream(file, sep) : kv::LoadSettingsFile(file, sep, kv::FileSeparators::Either);
    if (load.status != kv::SettingsFileLoad::Loaded) {
        Err(QStringLiteral("kvctl: %1: %2; nothing was sent\n").arg(file, load.reason));
        Finish(exitUsage);
        return false;
    }
    if (!load.problems.isEmpty()) {
        for (const QString& p : load.problems)
            Err(QStringLiteral("kvctl: %1: %2\n").arg(file, p));
        Err(QStringLiteral("kvctl: %1 is refused; nothing was sent\n").arg(file));
        Finish(exitUsage);
        return false;
    }
    record = kv::RecordFromPage(load.page, sep);
    return true;
}

} // namespace kvctl
