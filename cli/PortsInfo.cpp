#include "PortsInfo.h"

#include "MBListPorts.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kvctl {

namespace {

QString Canonical(const QString& path) {
    const QString c = QFileInfo(path).canonicalFilePath();
    return c.isEmpty() ? path : c;
}

QString GroupOf(const QString& path) {
    struct stat st {};
    if (::stat(path.toLocal8Bit().constData(), &st) != 0)
        return {};
    if (const group* g = ::getgrgid(st.st_gid))
        return QString::fromLocal8Bit(g->gr_name);
    return QString::number(st.st_gid);
}

// The programs that hold the device open: a look at every process's
// descriptors (only those this user may see).
QString Holders(const QString& device, const QString& proc) {
    const QString target = Canonical(device);
    QStringList found;
    const QString self = QString::number(::getpid());
    for (const QString& pid : QDir(proc).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool numeric = false;
        pid.toInt(&numeric);
        if (!numeric || pid == self)
            continue;
        const QDir fds(proc + QLatin1Char('/') + pid + QStringLiteral("/fd"));
        for (const QFileInfo& fd : fds.entryInfoList(QDir::Files | QDir::System | QDir::NoDotAndDotDot)) {
            if (fd.symLinkTarget() != target)
                continue;
            QFile comm(proc + QLatin1Char('/') + pid + QStringLiteral("/comm"));
            QString name = comm.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(comm.readAll()).trimmed() : QString();
            found << (name.isEmpty() ? pid : name + QStringLiteral(" (pid ") + pid + QLatin1Char(')'));
            break;
        }
    }
    return found.join(QStringLiteral(", "));
}

} // namespace

const char* PortStateWord(TPortInfo::TState s) {
    switch (s) {
    case TPortInfo::Free: return "free";
    case TPortInfo::Busy: return "busy";
    case TPortInfo::NoPermission: return "no-permission";
    case TPortInfo::Missing: return "missing";
    case TPortInfo::OtherError: return "error";
    }
    return "error";
}

void ProbePortState(TPortInfo& info, const QString& proc) {
    const QByteArray path = info.path.toLocal8Bit();
    // The link's own open: exclusive by lock and TIOCEXCL, released at once.
    const int fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int e = errno;
        if (e == EACCES || e == EPERM) {
            info.state = TPortInfo::NoPermission;
            const QString group = GroupOf(info.path);
            info.detail = QStringLiteral("no permission to open it");
            if (!group.isEmpty())
                info.detail += QStringLiteral("; it belongs to the group '") + group +
                               QStringLiteral("': sudo usermod -aG ") + group +
                               QStringLiteral(" $USER, then log in again");
        } else if (e == EBUSY) {
            info.state = TPortInfo::Busy;
            const QString who = Holders(info.path, proc);
            info.detail = QStringLiteral("held exclusively by another program") +
                          (who.isEmpty() ? QString() : QStringLiteral(": ") + who);
        } else if (e == ENOENT || e == ENXIO || e == ENODEV) {
            info.state = TPortInfo::Missing;
            info.detail = QString::fromLocal8Bit(std::strerror(e));
        } else {
            info.state = TPortInfo::OtherError;
            info.detail = QString::fromLocal8Bit(std::strerror(e));
        }
        return;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        info.state = TPortInfo::Busy;
        const QString who = Holders(info.path, proc);
        info.detail = QStringLiteral("held by another program") +
                      (who.isEmpty() ? QString() : QStringLiteral(": ") + who);
        ::close(fd);
        return;
    }
    // A plain open by another program takes no lock: only its descriptors
    // tell.
    const QString who = Holders(info.path, proc);
    ::flock(fd, LOCK_UN);
    ::close(fd);
    // It can be opened, but its bytes would be shared (a simulator serving
    // its own pty holds it this way too).
    info.state = TPortInfo::Free;
    if (!who.isEmpty())
        info.detail = QStringLiteral("also open in ") + who;
}

std::vector<TPortInfo> ListPortInfo(const TPortRoots& roots) {
    QStringList paths = mb::SerialPortCandidates(roots.sysClassTty);
    paths += mb::ExtraPortCandidates(qEnvironmentVariable("KV_EXTRA_PORTS"));
    // The panel shows the last probed first.
    std::reverse(paths.begin(), paths.end());

    // by-id links by the device they lead to.
    const QFileInfoList links = QDir(roots.byIdDir).entryInfoList(QDir::Files | QDir::System | QDir::NoDotAndDotDot);

    std::vector<TPortInfo> out;
    for (const QString& p : paths) {
        TPortInfo info;
        info.path = p;
        const QString canonical = Canonical(p);
        for (const QFileInfo& l : links)
            if (Canonical(l.absoluteFilePath()) == canonical)
                info.byId << l.absoluteFilePath();
        const QString name = QFileInfo(canonical).fileName();
        const QString driver =
            QFileInfo(roots.sysClassTty + QLatin1Char('/') + name + QStringLiteral("/device/driver")).symLinkTarget();
        info.driver = driver.isEmpty() ? QString() : QFileInfo(driver).fileName();
        ProbePortState(info, roots.proc);
        out.push_back(std::move(info));
    }
    return out;
}

} // namespace kvctl
