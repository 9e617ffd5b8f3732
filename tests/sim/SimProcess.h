#pragma once
// kvsim, kvctl and other programs as child processes for the pseudo-terminal
// tests and the benchmark, the bench meter's line as a terminal program sees
// it, and a wait that runs the Qt event loop (no sleeping) until a condition
// holds.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStringList>
#include <QTimer>

#include <cstdlib>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace simtest {

// Runs the event loop until pred() holds or ms have passed.
// The boards the real-time calibration runs take: each is a minute or more
// on the line, so by default one; KV_TEST_BOARDS="1 2 3" runs more (the
// in-process tests run every board on the manual clock either way).
inline std::vector<std::string> Boards(const char* byDefault) {
    const char* asked = std::getenv("KV_TEST_BOARDS");
    std::istringstream words(asked && *asked ? asked : byDefault);
    std::vector<std::string> boards;
    for (std::string b; words >> b;)
        boards.push_back(b);
    return boards;
}

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

    // Types a console line and waits for the answer that starts with
    // `startsWith` ("drop " for status, "board " for board): the answers to
    // lines a fixture typed meanwhile may come first. Empty when none came.
    QString Answer(const QString& line, const QString& startsWith) {
        const qsizetype before = output.size();
        proc.write((line + "\n").toUtf8());
        proc.waitForBytesWritten(1000);
        QString answer;
        WaitFor([&] {
            while (proc.canReadLine())
                output << QString::fromUtf8(proc.readLine()).trimmed();
            for (qsizetype i = before; i < output.size() && answer.isEmpty(); ++i)
                if (output[i].startsWith(startsWith))
                    answer = output[i];
            return !answer.isEmpty();
        }, 5000);
        return answer;
    }

    QProcess proc;
    QString port;
    QStringList output;
    bool ok = false;
};

// A program run as a child, its output collected while the test waits.
struct TChildProcess {
    QProcess proc;
    QByteArray out, err;
    // `env`: NAME=VALUE entries over the test's own environment, in which
    // LC_ALL=C keeps the programs' texts and numbers fixed.
    TChildProcess(const QString& program, const QStringList& args, const QStringList& env = {}) {
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        e.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
        for (const QString& kv : env)
            e.insert(kv.section('=', 0, 0), kv.section('=', 1));
        proc.setProcessEnvironment(e);
        proc.start(program, args);
        proc.waitForStarted(5000);
    }
    void Collect() {
        out += proc.readAllStandardOutput();
        err += proc.readAllStandardError();
    }
    // Until stderr says `text` (or ms passed).
    bool WaitErr(const char* text, int ms = 30000) {
        return WaitFor([&] {
            Collect();
            return err.contains(text);
        }, ms);
    }
    // The exit code as a shell gives it: 128 + N when signal N ended the
    // program; -1 when it did not end in `ms` (it is killed then).
    int Finish(int ms = 60000) {
        const bool ended = WaitFor([&] {
            Collect();
            return proc.state() == QProcess::NotRunning;
        }, ms);
        Collect();
        if (!ended) {
            proc.kill();
            proc.waitForFinished(5000);
            return -1;
        }
        return proc.exitStatus() == QProcess::NormalExit ? proc.exitCode() : 128 + proc.exitCode();
    }
};

#ifdef KVCTL_PATH
struct TKvctl : TChildProcess {
    explicit TKvctl(const QStringList& args, const QStringList& env = {})
        : TChildProcess(QStringLiteral(KVCTL_PATH), args, env) {}
};
#endif

// A terminal program's side of kvsim's bench meter line: raw, 9600 baud.
struct TMeterLine {
    int fd = -1;
    explicit TMeterLine(const QString& path) {
        fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        termios t{};
        if (fd >= 0 && ::tcgetattr(fd, &t) == 0) {
            ::cfmakeraw(&t);
            ::cfsetspeed(&t, B9600);
            ::tcsetattr(fd, TCSANOW, &t);
        }
    }
    ~TMeterLine() {
        if (fd >= 0)
            ::close(fd);
    }
    TMeterLine(const TMeterLine&) = delete;
    TMeterLine& operator=(const TMeterLine&) = delete;
    // Sends a line and returns the answer line (empty when none came in 3 s).
    std::string Ask(const std::string& line) {
        if (::write(fd, line.data(), line.size()) != static_cast<ssize_t>(line.size()))
            return {};
        std::string answer;
        while (answer.empty() || answer.back() != '\n') {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 3000) <= 0)
                return {};
            char buf[256];
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n <= 0)
                return {};
            answer.append(buf, static_cast<std::size_t>(n));
        }
        return answer;
    }
};

} // namespace simtest
