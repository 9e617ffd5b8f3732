#pragma once
// The processes of the machine as a test sees them: whether something a
// test started (a fixture, a shell) is still running.
#include <QByteArray>
#include <QDir>
#include <QFile>

namespace kvtest {

// Processes running now (zombies not counted) whose command line, its
// words joined by blanks, holds `marker`.
inline int RunningProcesses(const QByteArray& marker) {
    int n = 0;
    for (const QString& pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        if (!pid[0].isDigit())
            continue;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray s = stat.readAll();
        const qsizetype close = s.lastIndexOf(')');
        if (close < 0 || s.mid(close + 2, 1) == "Z")
            continue;
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
        if (cmdline.open(QIODevice::ReadOnly) && cmdline.readAll().replace('\0', ' ').contains(marker))
            ++n;
    }
    return n;
}

} // namespace kvtest
