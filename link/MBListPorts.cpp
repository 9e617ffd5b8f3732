#include "MBListPorts.h"

#include "MBPort.h"
#include "MBPortHolders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
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

bool IsTtyDevice(const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISCHR(st.st_mode))
        return false;
    const unsigned major = ::major(st.st_rdev), minor = ::minor(st.st_rdev);
    if (major >= 136 && major <= 143)
        return true; // a pseudo-terminal's slave side
    // Every other tty is a "tty" class device in sysfs.
    const QString subsystem =
        QFileInfo(QStringLiteral("/sys/dev/char/%1:%2/subsystem").arg(major).arg(minor)).canonicalFilePath();
    return subsystem.endsWith(QLatin1String("/class/tty"));
}

namespace {

TPortState StateOf(const QString& path, const TPortHolders& holders) {
    TPortState s{path, TPortState::Free, {}};
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0) {
        s.state = TPortState::Missing;
        s.reason = QString::fromLocal8Bit(std::strerror(errno));
    } else if (!IsTtyDevice(path)) {
        s.state = TPortState::NotSerial;
        s.reason = QStringLiteral("not a serial port");
    } else if (s.reason = HeldText(holders.Of(path, false)); !s.reason.isEmpty()) {
        s.state = TPortState::Busy;
    } else if (s.reason = PermissionText(path); !s.reason.isEmpty()) {
        s.state = TPortState::NoPermission;
    }
    return s;
}

} // namespace

bool ProbePort(const QString& path) { return StateOf(path, TPortHolders::Scan()).state == TPortState::Free; }

QList<TPortState> PortStates(const QString& sysClassTty, const QString& extra) {
    const QStringList candidates = SerialPortCandidates(sysClassTty) + ExtraPortCandidates(extra);
    const TPortHolders holders = TPortHolders::Scan();
    QList<TPortState> states;
    QStringList seen;
    for (const QString& path : candidates) {
        if (seen.contains(path))
            continue;
        seen << path;
        states.append(StateOf(path, holders));
    }
    return states;
}

QList<TPortState> PortStates() {
    return PortStates(QStringLiteral("/sys/class/tty"), QString::fromLocal8Bit(qgetenv("KV_EXTRA_PORTS")));
}

void ListPorts(QStringList* list, QList<TLeftOutPort>* leftOut) {
    if (!list)
        return;
    for (const TPortState& p : PortStates()) {
        if (p.state == TPortState::Free)
            list->append(p.path);
        else if (leftOut && p.state != TPortState::Missing) // gone: nothing to say about it
            leftOut->append({p.path, p.reason});
    }
}

} // namespace mb

void MBListPorts(QStringList* list) { mb::ListPorts(list, nullptr); }
