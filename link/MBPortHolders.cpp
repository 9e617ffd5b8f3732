#include "MBPortHolders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <memory>

namespace {

bool AllDigits(const char* s) {
    if (!*s)
        return false;
    for (; *s; ++s)
        if (*s < '0' || *s > '9')
            return false;
    return true;
}

QString ReadSmallFile(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLocal8Bit(f.read(4096));
}

// The index of a pseudo-terminal master from its fdinfo ("tty-index:\tN").
int PtyIndexOf(const QString& fdinfo) {
    const QString text = ReadSmallFile(fdinfo);
    const qsizetype at = text.indexOf(QLatin1String("tty-index:"));
    if (at < 0)
        return -1;
    bool ok = false;
    const int index = text.mid(at + 10).section(QLatin1Char('\n'), 0, 0).trimmed().toInt(&ok);
    return ok ? index : -1;
}

// The pseudo-terminal index of a slave path (/dev/pts/N), else -1.
int PtySlaveIndex(const QString& canonicalPath) {
    if (!canonicalPath.startsWith(QLatin1String("/dev/pts/")))
        return -1;
    bool ok = false;
    const int index = canonicalPath.mid(9).toInt(&ok);
    return ok ? index : -1;
}

bool Alive(pid_t pid) { return pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM); }

// A UUCP lock file holds the process id as ten ASCII digits and a newline,
// or (older programs) as a binary int.
pid_t LockOwner(const QString& lockFile) {
    QFile f(lockFile);
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray bytes = f.read(64);
    bool ok = false;
    const long pid = bytes.trimmed().toLong(&ok);
    if (ok)
        return pid > 0 ? static_cast<pid_t>(pid) : 0;
    if (bytes.size() == static_cast<qsizetype>(sizeof(int))) {
        int binary = 0;
        std::memcpy(&binary, bytes.constData(), sizeof binary);
        return binary > 0 ? binary : 0;
    }
    return 0;
}

} // namespace

namespace mb {

TPortHolders TPortHolders::Scan(const QString& procFolder, const QString& lockFolder) {
    TPortHolders h;
    h.m_lockFolder = lockFolder;
    h.m_self = ::getpid();
    const QByteArray proc = QFile::encodeName(procFolder);
    std::unique_ptr<DIR, int (*)(DIR*)> procDir(::opendir(proc.constData()), ::closedir);
    if (!procDir)
        return h;
    while (const dirent* p = ::readdir(procDir.get())) {
        if (!AllDigits(p->d_name))
            continue;
        const pid_t pid = static_cast<pid_t>(std::atol(p->d_name));
        const QByteArray fdPath = proc + '/' + p->d_name + "/fd";
        // Another user's process is out of sight (EACCES): as far as visible.
        std::unique_ptr<DIR, int (*)(DIR*)> fdDir(::opendir(fdPath.constData()), ::closedir);
        if (!fdDir)
            continue;
        bool holdsDevice = false;
        while (const dirent* f = ::readdir(fdDir.get())) {
            if (!AllDigits(f->d_name))
                continue;
            char target[256];
            const ssize_t n = ::readlinkat(::dirfd(fdDir.get()), f->d_name, target, sizeof target - 1);
            if (n <= 5 || std::strncmp(target, "/dev/", 5) != 0)
                continue; // files, sockets, pipes: only device nodes matter
            target[n] = '\0';
            struct stat st {};
            if (::fstatat(::dirfd(fdDir.get()), f->d_name, &st, 0) != 0 || !S_ISCHR(st.st_mode))
                continue;
            int ptyMaster = -1;
            if (std::strcmp(target, "/dev/ptmx") == 0 || std::strcmp(target, "/dev/pts/ptmx") == 0)
                ptyMaster = PtyIndexOf(procFolder + QLatin1Char('/') + QLatin1String(p->d_name) +
                                       QStringLiteral("/fdinfo/") + QLatin1String(f->d_name));
            h.m_opens.append({pid, st.st_rdev, ptyMaster});
            holdsDevice = true;
        }
        if (holdsDevice) {
            const QString comm = ReadSmallFile(procFolder + QLatin1Char('/') + QLatin1String(p->d_name) +
                                               QStringLiteral("/comm"))
                                     .trimmed();
            h.m_programs.append({pid, comm});
        }
    }
    return h;
}

QString TPortHolders::ProgramOf(pid_t pid) const {
    for (const TPortHolder& p : m_programs)
        if (p.pid == pid)
            return p.program;
    return ReadSmallFile(QStringLiteral("/proc/%1/comm").arg(pid)).trimmed();
}

QList<TPortHolder> TPortHolders::Of(const QString& path, bool othersOnly) const {
    QList<TPortHolder> holders;
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISCHR(st.st_mode))
        return holders;
    const QString canonical = QFileInfo(path).canonicalFilePath();
    const int ptyIndex = PtySlaveIndex(canonical);
    // Another program that holds the master side too is the terminal's own
    // device end. (This program never plays a device on a pseudo-terminal.)
    auto isDeviceEnd = [&](pid_t pid) {
        return ptyIndex >= 0 && pid != m_self && std::any_of(m_opens.begin(), m_opens.end(), [&](const TOpen& o) {
                   return o.pid == pid && o.ptyMaster == ptyIndex;
               });
    };
    auto add = [&](pid_t pid) {
        if ((othersOnly && pid == m_self) || isDeviceEnd(pid))
            return;
        for (const TPortHolder& h : holders)
            if (h.pid == pid)
                return;
        holders.append({pid, ProgramOf(pid)});
    };
    for (const TOpen& o : m_opens)
        if (o.device == st.st_rdev && o.ptyMaster < 0)
            add(o.pid);
    // The UUCP convention: /var/lock/LCK..ttyUSB0 names the holder's pid.
    if (!m_lockFolder.isEmpty() && !canonical.isEmpty()) {
        const QString name = canonical.mid(5).replace(QLatin1Char('/'), QLatin1Char('_'));
        const pid_t owner = LockOwner(m_lockFolder + QStringLiteral("/LCK..") + name);
        if (Alive(owner))
            add(owner);
    }
    return holders;
}

QString HeldText(const QList<TPortHolder>& holders) {
    if (holders.isEmpty())
        return {};
    const TPortHolder& h = holders.first();
    if (h.pid == ::getpid())
        return QStringLiteral("in use by this program");
    const QString program = h.program.isEmpty() ? QStringLiteral("another program") : h.program;
    return QStringLiteral("in use by %1 (process %2)").arg(program).arg(h.pid);
}

QString PermissionText(const QString& path) {
    const QByteArray name = QFile::encodeName(path);
    if (::faccessat(AT_FDCWD, name.constData(), R_OK | W_OK, AT_EACCESS) == 0 || errno != EACCES)
        return {};
    struct stat st {};
    if (::stat(name.constData(), &st) != 0)
        return {};
    const QString denied = QStringLiteral("no permission to open it");
    if ((st.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP)) {
        char buffer[1024];
        group g {};
        group* found = nullptr;
        if (::getgrgid_r(st.st_gid, &g, buffer, sizeof buffer, &found) == 0 && found && found->gr_gid != 0) {
            const QString group = QString::fromLocal8Bit(found->gr_name);
            return denied + QStringLiteral(": add your user to the group %1 (sudo usermod -aG %1 $USER) and log in "
                                           "again")
                                .arg(group);
        }
    }
    return denied + QStringLiteral(": ask the administrator for read and write access to it");
}

QStringList SerialIdsOf(const QString& path, const QString& byIdFolder) {
    QStringList ids;
    const QString canonical = QFileInfo(path).canonicalFilePath();
    if (canonical.isEmpty())
        return ids;
    const QDir dir(byIdFolder);
    for (const QString& id : dir.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot))
        if (QFileInfo(dir.filePath(id)).canonicalFilePath() == canonical)
            ids << id;
    return ids;
}

QString SerialIdOf(const QString& path, const QString& byIdFolder) {
    const QStringList ids = SerialIdsOf(path, byIdFolder);
    return ids.isEmpty() ? QString() : ids.first();
}

bool IsSerialId(const QString& path, const QString& id, const QString& byIdFolder) {
    if (id.isEmpty())
        return false;
    const QString target = QFileInfo(QDir(byIdFolder).filePath(id)).canonicalFilePath();
    return !target.isEmpty() && target == QFileInfo(path).canonicalFilePath();
}

} // namespace mb
