#pragma once
// The pieces of MBListPorts (declared in MBPort.h), apart so that each can be
// checked on its own.
#include <QList>
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

// Whether the port can be opened right now: a tty that no other program
// holds (nor this one) and that this user may read and write. Learnt without
// opening it, so that a device on the line sees no DTR or RTS pulse.
bool ProbePort(const QString& path);

// A candidate that is not listed, and why ("in use by minicom (process
// 4242)", "no permission to open it: ...", "not a serial port").
struct TLeftOutPort {
    QString path;
    QString reason;
};
// MBListPorts, with the candidates left out and why (a null leftOut: as
// MBListPorts). A path that does not exist is left out silently.
void ListPorts(QStringList* list, QList<TLeftOutPort>* leftOut);

} // namespace mb
