#pragma once
// Who else holds a serial port, and whether this user may open it, learnt
// without opening it: every open of a tty raises DTR and RTS (the kernel does
// so whenever the rate is not 0), and a device powered or reset by those
// lines would see a pulse at each look.
//
// A holder is found by its open descriptors (/proc/PID/fd, as far as this
// user may see other processes) and by a UUCP lock file (/var/lock/LCK..NAME
// holding the process id). Another process that holds the master side of the
// same pseudo-terminal is that terminal's device end (a simulator, a
// terminal window), not a competitor, and is not counted.
#include <QList>
#include <QString>
#include <QStringList>

#include <sys/types.h>

namespace mb {

struct TPortHolder {
    pid_t pid = 0;
    QString program; // the process's command name
};

// The open serial devices of the processes on the machine, gathered once.
class TPortHolders {
public:
    // Scans `procFolder` (normally /proc); `self` is this process's id.
    // `lockFolder` (normally /var/lock) holds the UUCP lock files.
    static TPortHolders Scan(const QString& procFolder = QStringLiteral("/proc"),
                             const QString& lockFolder = QStringLiteral("/var/lock"));

    // The holders of the device at `path` other than its own pseudo-terminal
    // master's process; this process too unless `othersOnly`.
    QList<TPortHolder> Of(const QString& path, bool othersOnly) const;

private:
    struct TOpen {
        pid_t pid;
        dev_t device;
        int ptyMaster; // the pseudo-terminal index of a master (ptmx), else -1
    };
    QList<TOpen> m_opens;
    QList<TPortHolder> m_programs; // pid and name of every process seen
    QString m_lockFolder;
    pid_t m_self = 0;

    QString ProgramOf(pid_t pid) const;
};

// "in use by NAME (process PID)" for the first holder ("this program" for
// this process's own); empty for none.
QString HeldText(const QList<TPortHolder>& holders);

// Why this user may not open `path` for reading and writing, with how to get
// access (the device's group), or empty when nothing stands in the way.
QString PermissionText(const QString& path);

// The names in `byIdFolder` (normally /dev/serial/by-id) that lead to the
// same device as `path` now.
QStringList SerialIdsOf(const QString& path, const QString& byIdFolder);
// The first of them, or empty.
QString SerialIdOf(const QString& path, const QString& byIdFolder);
// Whether `byIdFolder`/`id` leads to the device at `path` now.
bool IsSerialId(const QString& path, const QString& id, const QString& byIdFolder);

} // namespace mb
