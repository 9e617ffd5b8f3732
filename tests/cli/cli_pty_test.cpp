// The kvctl program against kvsim over a pseudo-terminal, with the real
// port, receive thread and line timing: status as JSON, ports, a port that
// another program holds, and watch across a hang-up and the new port that
// kvsim opens under the same link name.
#include "KvVersion.h"
#include "Pty.h"
#include "SimProcess.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <unistd.h>

using simtest::TKvsimProcess;
using simtest::WaitFor;

namespace {

struct TKvctl {
    QProcess proc;
    QByteArray out, err;
    explicit TKvctl(const QStringList& args, const QStringList& env = {}) {
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        e.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
        for (const QString& kv : env)
            e.insert(kv.section('=', 0, 0), kv.section('=', 1));
        proc.setProcessEnvironment(e);
        proc.start(QStringLiteral(KVCTL_PATH), args);
        proc.waitForStarted(5000);
    }
    void Collect() {
        out += proc.readAllStandardOutput();
        err += proc.readAllStandardError();
    }
    int Finish(int ms = 30000) {
        WaitFor([&] {
            Collect();
            return proc.state() == QProcess::NotRunning;
        }, ms);
        Collect();
        return proc.state() == QProcess::NotRunning ? proc.exitCode() : -1;
    }
};

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

TEST(KvctlPty, PortsAndASecondUserIsRefused) {
    QTemporaryDir dir;
    const QString link = dir.filePath("kv0");
    TKvsimProcess sim({"--link", link});
    ASSERT_TRUE(sim.ok);
    {
        TKvctl ports({"--json", "ports"}, {"KV_EXTRA_PORTS=" + link});
        ASSERT_EQ(ports.Finish(), 0);
        bool listed = false;
        for (const QJsonValue& p : QJsonDocument::fromJson(ports.out).array())
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
    EXPECT_EQ(ctl.Finish(), 130);
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
