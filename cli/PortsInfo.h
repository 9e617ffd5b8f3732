#pragma once
// What kvctl's `ports` tells about each serial port: the ports as the link
// panel lists them (the machine's serial ports, then KV_EXTRA_PORTS, last
// probed first), their stable /dev/serial/by-id names, the driver, and
// whether the port can be opened now, and if not why: held by another
// program (which one, when /proc tells), or no permission (and the group
// that gives it).
#include <QString>
#include <QStringList>

#include <vector>

namespace kvctl {

struct TPortInfo {
    QString path;
    QStringList byId;   // /dev/serial/by-id links that lead to it
    QString driver;     // the kernel driver, empty when unknown (a pty)
    enum TState { Free, Busy, NoPermission, Missing, OtherError } state = Free;
    QString detail;     // Busy: the holder; NoPermission: the fix; else the system's text
};

struct TPortRoots {
    QString sysClassTty = QStringLiteral("/sys/class/tty");
    QString byIdDir = QStringLiteral("/dev/serial/by-id");
    QString proc = QStringLiteral("/proc");
};

std::vector<TPortInfo> ListPortInfo(const TPortRoots& roots = {});
// Whether and why a port cannot be opened now (the link's exclusive open,
// released at once).
void ProbePortState(TPortInfo& info, const QString& proc = QStringLiteral("/proc"));
const char* PortStateWord(TPortInfo::TState s);

} // namespace kvctl
