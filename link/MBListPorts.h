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

// Whether the path is a terminal device (a serial port, a pseudo-terminal),
// learnt from its device numbers without opening it.
bool IsTtyDevice(const QString& path);

// Whether the port can be opened right now: a tty that no other program
// holds (nor this one) and that this user may read and write. Learnt without
// opening it, so that a device on the line sees no DTR or RTS pulse.
bool ProbePort(const QString& path);

// A candidate port and whether it can be opened now, learnt as ProbePort
// learns it.
struct TPortState {
    enum TState {
        Free,         // listed
        Busy,         // another program (or this one) holds it
        NoPermission, // this user may not read and write it
        NotSerial,    // there, but not a tty
        Missing       // named (KV_EXTRA_PORTS) but not there
    };
    QString path;
    TState state = Free;
    QString reason; // why it is not listed ("in use by minicom (process 4242)", ...)
};
// The candidates in probing order, each once: the machine's serial ports
// under `sysClassTty`, then the paths of the ':'-separated `extra`.
QList<TPortState> PortStates(const QString& sysClassTty, const QString& extra);
// The same for this machine: /sys/class/tty and KV_EXTRA_PORTS.
QList<TPortState> PortStates();

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
