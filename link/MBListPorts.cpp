#include "MBListPorts.h"

#include "MBPort.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

// Names compared with their runs of digits taken as numbers: ttyS2 < ttyS10.
bool NaturalLess(const QString& a, const QString& b) {
    qsizetype i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (a[i].isDigit() && b[j].isDigit()) {
            qsizetype ei = i, ej = j;
            while (ei < a.size() && a[ei].isDigit())
                ++ei;
            while (ej < b.size() && b[ej].isDigit())
                ++ej;
            const qulonglong x = a.mid(i, ei - i).toULongLong(), y = b.mid(j, ej - j).toULongLong();
            if (x != y)
                return x < y;
            i = ei;
            j = ej;
        } else {
            if (a[i] != b[j])
                return a[i] < b[j];
            ++i;
            ++j;
        }
    }
    return a.size() - i < b.size() - j;
}

} // namespace

namespace mb {

QStringList SerialPortCandidates(const QString& sysClassTty) {
    QStringList ports;
    const QDir dir(sysClassTty);
    const QStringList entries = dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::System);
    for (const QString& name : entries) {
        if (!QFileInfo::exists(dir.filePath(name + QStringLiteral("/device"))))
            continue; // virtual consoles, ptys and the like
        if (name.startsWith(QStringLiteral("ttyS"))) {
            QFile type(dir.filePath(name + QStringLiteral("/type")));
            if (type.open(QIODevice::ReadOnly) && type.readAll().trimmed() == "0")
                continue;
        }
        ports << QStringLiteral("/dev/") + name;
    }
    std::sort(ports.begin(), ports.end(), NaturalLess);
    return ports;
}

QStringList ExtraPortCandidates(const QString& list) {
    return list.split(u':', Qt::SkipEmptyParts);
}

bool ProbePort(const QString& path) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool free = ::isatty(fd) && ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    ::close(fd);
    return free;
}

} // namespace mb

void MBListPorts(QStringList* list) {
    if (!list)
        return;
    QStringList candidates = mb::SerialPortCandidates(QStringLiteral("/sys/class/tty"));
    candidates += mb::ExtraPortCandidates(QString::fromLocal8Bit(qgetenv("KV_EXTRA_PORTS")));
    QStringList seen;
    for (const QString& path : candidates) {
        if (seen.contains(path))
            continue;
        seen << path;
        if (mb::ProbePort(path))
            list->append(path);
    }
}
