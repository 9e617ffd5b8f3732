#pragma once
// What kvctl's `ports` tells about each serial port: the link's own list
// (the machine's serial ports, then KV_EXTRA_PORTS, last probed first; no
// port opened, holders from /proc and lock files, the permission hint) with
// two columns of its own: the stable /dev/serial/by-id names and the driver.
#include "MBListPorts.h"

#include <QString>
#include <QStringList>

#include <vector>

namespace kvctl {

struct TPortInfo {
    QString path;
    QStringList byId;   // /dev/serial/by-id links that lead to it
    QString driver;     // the kernel driver, empty when unknown (a pty)
    mb::TPortState::TState state = mb::TPortState::Free;
    QString detail;     // why it cannot be opened now (the holder, the permission fix, ...)
};

struct TPortRoots {
    QString sysClassTty = QStringLiteral("/sys/class/tty");
    QString byIdDir = QStringLiteral("/dev/serial/by-id");
};

std::vector<TPortInfo> ListPortInfo(const TPortRoots& roots = {});
const char* PortStateWord(mb::TPortState::TState s);

} // namespace kvctl
