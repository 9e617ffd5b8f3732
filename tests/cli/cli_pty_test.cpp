// The kvctl program against kvsim over a pseudo-terminal, with the real
// port, receive thread and line timing: status as JSON, ports, a port that
// another program holds, and watch across a hang-up and the new port that
// kvsim opens under the same link name.
#include "BoardConstants.h"
#include "KvVersion.h"
#include "Pty.h"
#include "SimProcess.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/inotify.h>
#include <unistd.h>

using simtest::TKvctl;
using simtest::TKvsimProcess;
using simtest::WaitFor;

namespace {


} // namespace

// The window, kvctl and kvsim print the one version of the build, without a
// display (the tools package has none).
TEST(KvctlPty, TheProgramsPrintOneVersion) {
    const struct {
        const char* program;
        const char* expected;
    } cases[] = {
        {KVCTL_PATH, "kvctl " KV_VERSION "\n"},
        {KVSIM_PATH, "kvsim " KV_VERSION "\n"},
#ifdef KVSETUP_PATH
        {KVSETUP_PATH, "kvsetup " KV_VERSION " "},
#endif
    };
    for (const auto& c : cases) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        p.setProcessEnvironment(env);
        p.start(QString::fromUtf8(c.program), {QStringLiteral("--version")});
        ASSERT_TRUE(p.waitForFinished(30000)) << c.program;
        EXPECT_EQ(p.exitCode(), 0) << c.program;
        EXPECT_TRUE(p.readAllStandardOutput().startsWith(c.expected)) << c.program;
    }
}

// kvsetup-sim (the menu entry's second action) starts kvsim, hands its port
// to the program with --connect and in KV_EXTRA_PORTS, passes the program's
// exit code on, and stops the simulator and removes its folder afterwards.
// The program here is kvctl behind a small script, which needs no display.
TEST(KvctlPty, KvsetupSimStartsTheSimulatorForTheProgram) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString program = dir.filePath(QStringLiteral("kvsetup"));
    {
        QFile f(program);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("#!/bin/sh\n"
                "[ \"$1\" = --connect ] && [ \"$KV_EXTRA_PORTS\" = \"$2\" ] && [ \"$3\" = /QORMIX ] || exit 9\n"
                "exec \"$KVCTL\" --port \"$2\" --json status\n");
        f.setPermissions(f.permissions() | QFileDevice::ExeOwner);
    }
    const struct {
        const char* name;
        QString sim;
        int exit;
        const char* output; // on stdout, or on stderr when it fails
    } cases[] = {
        {"the simulator answers the program", QStringLiteral(KVSIM_PATH), 0, "\"kvctl.status/1\""},
        {"the simulator cannot start", dir.filePath(QStringLiteral("missing/kvsim")), 1, "did not start"},
        {"no simulator anywhere", QString(), 1, "apt install kvsetup-tools"},
    };
    // "Nowhere" must hold also where kvsetup-tools is installed: a PATH with
    // only what the launcher runs before it looks for the simulator.
    const QString bare = dir.filePath(QStringLiteral("bare-bin"));
    ASSERT_TRUE(QDir().mkpath(bare));
    for (const char* tool : {"dirname", "readlink"})
        ASSERT_TRUE(QFile::link(QStandardPaths::findExecutable(QString::fromLatin1(tool)),
                                bare + QLatin1Char('/') + QLatin1String(tool)));
    for (const auto& c : cases) {
        QTemporaryDir tmp;
        QProcess p;
        QProcessEnvironment env;
        env.insert(QStringLiteral("PATH"), c.sim.isEmpty() ? bare : QStringLiteral("/usr/bin:/bin"));
        env.insert(QStringLiteral("TMPDIR"), tmp.path());
        env.insert(QStringLiteral("KVSETUP"), program);
        env.insert(QStringLiteral("KVCTL"), QStringLiteral(KVCTL_PATH));
        if (!c.sim.isEmpty())
            env.insert(QStringLiteral("KVSIM"), c.sim);
        p.setProcessEnvironment(env);
        p.start(QStringLiteral("/bin/bash"), {QStringLiteral(KVSETUP_SIM_PATH), QStringLiteral("/QORMIX")});
        ASSERT_TRUE(p.waitForFinished(30000)) << c.name;
        EXPECT_EQ(p.exitCode(), c.exit) << c.name;
        const QByteArray out = c.exit == 0 ? p.readAllStandardOutput() : p.readAllStandardError();
        EXPECT_TRUE(out.contains(c.output)) << c.name << ": " << out.toStdString();
        EXPECT_TRUE(QDir(tmp.path()).isEmpty()) << c.name << ": the simulator's folder is left behind";
    }
}

TEST(KvctlPty, StatusJsonAgainstKvsim) {
    TKvsimProcess sim;
    ASSERT_TRUE(sim.ok);
    TKvctl ctl({"--port", sim.port, "--json", "status"});
    ASSERT_EQ(ctl.Finish(), 0) << ctl.err.toStdString();
    const QJsonObject o = QJsonDocument::fromJson(ctl.out).object();
    EXPECT_EQ(o["schema"].toString(), "kvctl.status/1");
    EXPECT_EQ(o["device"]["type"].toString(), "KV7730");
    EXPECT_EQ(o["status"]["code"].toInt(), 0);
    EXPECT_EQ(o["calculated"]["unit"].toString(), QString::fromUtf8("°C"));
}

// calibrate input against three simulated boards, unattended, with the
// simulator's example bench, its fixture script on kvsim's console (its
// standard input, reached through /proc): every constant written is the
// board's, the 2- and 3-wire ones and the offsets too, the as-left points
// pass; then a Pt 100 at 138.51 ohm reads 100.00 +- 0.03 °C.
TEST(KvctlPty, CalibrateInputAgainstKvsim) {
    for (const std::string& board : simtest::Boards("1")) {
        const char* seed = board.c_str();
        SCOPED_TRACE(std::string("board ") + seed);
        TKvsimProcess sim({"--board-seed", seed});
        ASSERT_TRUE(sim.ok);
        QTemporaryDir dir;
        const QString pdf = dir.filePath("cert.pdf");
        const QString console = QStringLiteral("/proc/%1/fd/0").arg(sim.proc.processId());
        QElapsedTimer t;
        t.start();
        TKvctl ctl({"--port", sim.port, "calibrate", "input", "--bench", KV_SOURCE_DIR "/station/examples/kvsim.bench",
                    "--fixture", "sh " KV_SOURCE_DIR "/station/examples/kvsim-fixture.sh", "--certificate", pdf,
                    "--serial", QStringLiteral("SN%1").arg(seed)},
                   {"KVSIM_CONSOLE=" + console});
        EXPECT_EQ(ctl.Finish(300000), 0) << ctl.out.toStdString() << ctl.err.right(2000).toStdString();
        std::printf("board %s: calibrate input (as found, the trim, as left) took %.1f s\n", seed, t.elapsed() / 1000.0);
        EXPECT_TRUE(ctl.out.contains("input calibration PASSED")) << ctl.out.toStdString();
        EXPECT_TRUE(QFile::exists(dir.filePath("cert.json")));

        const auto stored = kvtest::ConsoleFields(sim.Answer("calibration", "calibration ").toStdString());
        const auto board = kvtest::ConsoleFields(sim.Answer("board", "board ").toStdString());
        for (const std::string& off : kvtest::ConstantsOffTheBoard(stored, board))
            ADD_FAILURE() << off;
        std::printf("board %s: every constant within %.2g of the board's\n", seed,
                    kvtest::LargestRatioDifference(stored, board));

        sim.Say("sensor resistor 138.51");
        TKvctl watch({"--port", sim.port, "--json", "watch", "--interval", "0.1", "--count", "20"});
        ASSERT_EQ(watch.Finish(), 0) << watch.err.toStdString();
        double sum = 0;
        int n = 0;
        for (const QByteArray& line : watch.out.split('\n'))
            if (!line.trimmed().isEmpty())
                sum += QJsonDocument::fromJson(line).object()[QStringLiteral("calculated")].toObject()[QStringLiteral("value")].toDouble(), ++n;
        ASSERT_EQ(n, 20);
        EXPECT_NEAR(sum / n, 100.00, 0.03);
        std::printf("board %s: a Pt 100 at 138.51 ohm reads %.3f degC\n", seed, sum / n);
    }
}

TEST(KvctlPty, PortsAndASecondUserIsRefused) {
    QTemporaryDir dir;
    const QString link = dir.filePath("kv0");
    TKvsimProcess sim({"--link", link});
    ASSERT_TRUE(sim.ok);
    {
        TKvctl ports({"--json", "ports"}, {"KV_EXTRA_PORTS=" + link});
        ASSERT_EQ(ports.Finish(), 0);
        bool listed = false;
        for (const QJsonValue& p : QJsonDocument::fromJson(ports.out).object()["ports"].toArray())
            if (p["path"].toString() == link) {
                listed = true;
                EXPECT_EQ(p["state"].toString(), "free");
            }
        EXPECT_TRUE(listed) << ports.out.toStdString();
    }
    const int held = kvtest::HoldPort(link.toStdString());
    ASSERT_GE(held, 0);
    TKvctl ports({"ports"}, {"KV_EXTRA_PORTS=" + link});
    ASSERT_EQ(ports.Finish(), 0);
    EXPECT_TRUE(ports.out.contains(link.toUtf8() + "  busy")) << ports.out.toStdString();
    TKvctl second({"--port", link, "status"});
    EXPECT_EQ(second.Finish(), 3);
    EXPECT_TRUE(second.err.contains("cannot open")) << second.err.toStdString();
    ::close(held);
}

// Every open of a tty raises DTR and RTS: `ports` tells the state of each
// port without opening any (a pty's node reports every open to inotify).
TEST(KvctlPty, PortsOpensNoPort) {
    kvtest::Pty pty;
    ASSERT_TRUE(pty.IsOpen());
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(::inotify_add_watch(watch, pty.SlavePath().c_str(), IN_OPEN), 0);
    const QString slave = QString::fromStdString(pty.SlavePath());
    TKvctl ports({"ports"}, {"KV_EXTRA_PORTS=" + slave});
    ASSERT_EQ(ports.Finish(), 0);
    EXPECT_TRUE(ports.out.contains(slave.toUtf8() + "  free")) << ports.out.toStdString();
    char events[4096];
    EXPECT_LT(::read(watch, events, sizeof events), 0) << "kvctl ports opened the port";
    ::close(watch);
}

TEST(KvctlPty, WatchGoesOnAfterAHangUpAndEndsOnCtrlC) {
    QTemporaryDir dir;
    const QString link = dir.filePath("kv0");
    const QString csv = dir.filePath("w.csv");
    TKvsimProcess sim({"--link", link});
    ASSERT_TRUE(sim.ok);
    TKvctl ctl({"--port", link, "watch", "--interval", "0", "--csv", csv});
    ASSERT_TRUE(WaitFor([&] { ctl.Collect(); return ctl.out.count('\n') >= 3; }, 20000)) << ctl.err.toStdString();
    sim.Say("hangup");
    ASSERT_TRUE(WaitFor([&] { ctl.Collect(); return ctl.err.contains("is back"); }, 20000)) << ctl.err.toStdString();
    EXPECT_TRUE(ctl.err.contains("hung up; waiting for it to come back"));
    const qsizetype lines = ctl.out.count('\n');
    ASSERT_TRUE(WaitFor([&] { ctl.Collect(); return ctl.out.count('\n') >= lines + 3; }, 20000));
    ::kill(static_cast<pid_t>(ctl.proc.processId()), SIGINT);
    // Ended by the signal, after its files were complete.
    EXPECT_EQ(ctl.Finish(), 128 + SIGINT);
    EXPECT_EQ(ctl.proc.exitStatus(), QProcess::CrashExit);
    QFile f(csv);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray rows = f.readAll();
    EXPECT_TRUE(rows.endsWith('\n'));
    EXPECT_EQ(rows.count('\n'), ctl.out.count('\n') + 1);
}

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
