#pragma once
// kvsim as a child process for the pseudo-terminal tests and the benchmark,
// and a wait that runs the Qt event loop (no sleeping) until a condition holds.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QStringList>
#include <QTimer>

#include <functional>

namespace simtest {

// Runs the event loop until pred() holds or ms have passed.
inline bool WaitFor(const std::function<bool()>& pred, int ms) {
    QElapsedTimer t;
    t.start();
    QTimer tick; // wakes the loop to look at the clock
    tick.start(5);
    while (!pred()) {
        if (t.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents | QEventLoop::AllEvents);
    }
    return true;
}

class TKvsimProcess {
public:
    // `console`: a file (a FIFO) its console reads instead of the test's Say.
    explicit TKvsimProcess(const QStringList& args = {}, const QString& console = {}) {
        proc.setProgram(QStringLiteral(KVSIM_PATH));
        proc.setArguments(args);
        if (!console.isEmpty())
            proc.setStandardInputFile(console);
        proc.setProcessChannelMode(QProcess::SeparateChannels);
        proc.start();
        ok = proc.waitForStarted(5000) && NextPort(5000);
    }
    ~TKvsimProcess() {
        if (proc.state() != QProcess::NotRunning) {
            proc.terminate(); // SIGTERM: a clean shutdown
            if (!proc.waitForFinished(5000))
                proc.kill();
        }
    }
    // Waits for the next "kvsim: serving on PATH" line.
    bool NextPort(int ms) {
        return WaitFor([&] {
            while (proc.canReadLine()) {
                const QString line = QString::fromUtf8(proc.readLine()).trimmed();
                output << line;
                if (line.startsWith("kvsim: serving on ")) {
                    port = line.mid(18);
                    return true;
                }
            }
            return false;
        }, ms);
    }
    // Types a console line and waits for its reply, so that the switch is in
    // force before the next request.
    void Say(const QString& line) {
        proc.write((line + "\n").toUtf8());
        proc.waitForBytesWritten(1000);
        const qsizetype before = output.size();
        WaitFor([&] {
            while (proc.canReadLine())
                output << QString::fromUtf8(proc.readLine()).trimmed();
            return output.size() > before;
        }, 2000);
    }

    QProcess proc;
    QString port;
    QStringList output;
    bool ok = false;
};

} // namespace simtest
