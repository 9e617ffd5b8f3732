#pragma once
// The pieces of MBListPorts (declared in MBPort.h), apart so that each can be
// checked on its own.
#include <QString>
#include <QStringList>

namespace mb {

// Device paths of the serial ports under a sysfs tty class directory
// (normally /sys/class/tty): every entry with a "device" link, except a ttyS
// port whose "type" is 0 (a legacy port with no UART behind it). Ordered by
// name with numbers compared as numbers (ttyS2 before ttyS10).
QStringList SerialPortCandidates(const QString& sysClassTty);

// The paths of a ':'-separated list such as KV_EXTRA_PORTS, empty parts skipped.
QStringList ExtraPortCandidates(const QString& list);

// Whether the port opens exclusively right now (the same open as the receive
// thread's, released at once). A path that is not a tty does not count.
bool ProbePort(const QString& path);

} // namespace mb
