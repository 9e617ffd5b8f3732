// kvsim end to end: a master engine on the real tty port polls the simulator
// over a pseudo-terminal, with real time and real line pacing.
#include "MBPort.h"
#include "MBTimer.h"
#include "SimMaster.h"
#include "SimProcess.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <chrono>
#include <cstdio>
#include <memory>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

using simtest::TSimMaster;
using simtest::WaitFor;
using Kvsim = simtest::TKvsimProcess;

namespace {

struct Link {
    TMBQtTimerFactory timers;
    std::unique_ptr<TMBPort> port = MBCreateSystemPort();
    TSimMaster master{*port, &timers};
    std::chrono::steady_clock::time_point firstByte{}, started{};
    bool sawByte = false;

    Link() {
        // Time the first received chunk of each transaction.
        auto inner = port->OnReceive;
        port->OnReceive = [this, inner](qint64 n) {
            if (!sawByte) {
                sawByte = true;
                firstByte = std::chrono::steady_clock::now();
            }
            inner(n);
        };
    }
    ~Link() { master.Close(); }
    bool Poll(int waitMs = 10000) {
        const std::size_t before = master.ends.size();
        sawByte = false;
        started = std::chrono::steady_clock::now();
        master.Poll();
        return WaitFor([&] { return master.ends.size() > before; }, waitMs);
    }
};

double Ms(std::chrono::steady_clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

// An 82-byte answer is 178 characters: 15.45 ms at 115 200 baud and 185 ms
// at 9 600, whatever rate the master sets on its side of the pty.
TEST(SimPty, AnswersArePacedAtTheRateTheMasterSet) {
    struct {
        std::uint32_t rate;
        int polls;
        double spanLow, spanHigh;
    } const table[] = {{115200, 15, 10.0, 35.0}, {9600, 3, 160.0, 280.0}};
    for (const auto& row : table) {
        Kvsim sim;
        ASSERT_TRUE(sim.ok);
        Link link;
        ASSERT_TRUE(link.master.Open(sim.port, row.rate)) << link.port->ErrorText().toStdString();
        std::vector<double> spans, totals;
        for (int i = 0; i < row.polls; ++i) {
            ASSERT_TRUE(link.Poll());
            const auto end = std::chrono::steady_clock::now();
            ASSERT_EQ(link.master.ends.back().status, stOK);
            ASSERT_EQ(link.master.ends.back().data.size(), 82u);
            spans.push_back(Ms(end - link.firstByte));
            totals.push_back(Ms(end - link.started));
        }
        const double span = Median(spans), total = Median(totals);
        RecordProperty("span_ms_" + std::to_string(row.rate), std::to_string(span));
        EXPECT_GT(span, row.spanLow) << row.rate;
        EXPECT_LT(span, row.spanHigh) << row.rate;
        // The request's 30 characters and the turnaround come before it.
        EXPECT_GT(total, span + 30.0 * 10000.0 / row.rate) << row.rate;
    }
}

TEST(SimPty, ThousandPollsWithoutALoss) {
    Kvsim sim;
    ASSERT_TRUE(sim.ok);
    Link link;
    ASSERT_TRUE(link.master.Open(sim.port, 115200));
    int ok = 0, retried = 0;
    for (int i = 0; i < 1000; ++i) {
        ASSERT_TRUE(link.Poll()) << i;
        ok += link.master.ends.back().status == stOK;
        retried += link.master.ends.back().tries > 1;
    }
    EXPECT_EQ(ok, 1000);
    EXPECT_EQ(retried, 0);
}

// Each fault, switched on kvsim's standard input, gives the failure it names.
TEST(SimPty, FaultsSwitchedWhileRunningGiveTheirFailures) {
    Kvsim sim;
    ASSERT_TRUE(sim.ok);
    Link link;
    link.master.setMBMasterTimeOut(150); // keep five tries short
    ASSERT_TRUE(link.master.Open(sim.port, 115200));
    struct {
        const char* on;
        TMBStatus status;
        const char* text;
        int minTries, maxTries;
    } const table[] = {
        {"drop 1", stTimeOut, "Time Out", 5, 5},
        {"silent on", stTimeOut, "Time Out", 5, 5},
        {"corrupt 1", stTimeOut, "Time Out", 5, 5},
        {"error 254", stSlaveError, "Unknown Command", 1, 1},
        {"error 255", stSlaveError, "ID Error", 1, 1},
        {"late on 400", stOK, "OK", 2, 5},
        {"noise 1", stOK, "OK", 1, 1},
    };
    for (const auto& row : table) {
        sim.Say(row.on);
        ASSERT_TRUE(link.Poll()) << row.on;
        const auto& e = link.master.ends.back();
        EXPECT_EQ(e.status, row.status) << row.on;
        EXPECT_EQ(e.text, row.text) << row.on;
        EXPECT_GE(e.tries, row.minTries) << row.on;
        EXPECT_LE(e.tries, row.maxTries) << row.on;
        sim.Say("clear");
        // Late answers still on their way end up as extra end events: let them pass.
        WaitFor([] { return false; }, row.status == stOK && row.minTries > 1 ? 1500 : 0);
        ASSERT_TRUE(link.Poll()) << row.on;
        EXPECT_EQ(link.master.ends.back().status, stOK) << "after " << row.on;
    }
}

TEST(SimPty, FaultsGivenAtStart) {
    Kvsim sim({"--drop", "0.3", "--seed", "5"});
    ASSERT_TRUE(sim.ok);
    Link link;
    link.master.setMBMasterTimeOut(100);
    ASSERT_TRUE(link.master.Open(sim.port, 115200));
    int ok = 0, retried = 0;
    for (int i = 0; i < 30; ++i) {
        ASSERT_TRUE(link.Poll());
        ok += link.master.ends.back().status == stOK;
        retried += link.master.ends.back().tries > 1;
    }
    EXPECT_GE(ok, 28);
    EXPECT_GE(retried, 3);

    Kvsim unknown({"--error", "254"});
    ASSERT_TRUE(unknown.ok);
    Link link2;
    ASSERT_TRUE(link2.master.Open(unknown.port, 115200));
    ASSERT_TRUE(link2.Poll());
    EXPECT_EQ(link2.master.ends.back().text, "Unknown Command");
}

// A hang-up is reported once; kvsim then serves a new port, kept under the link.
TEST(SimPty, HangUpReportedOnceThenTheLinkedPortServesAgain) {
    const QString linkPath = QStringLiteral("/tmp/kvsim-test-%1").arg(QCoreApplication::applicationPid());
    Kvsim sim({"--link", linkPath});
    ASSERT_TRUE(sim.ok);
    {
        Link link;
        ASSERT_TRUE(link.master.Open(linkPath, 115200));
        ASSERT_TRUE(link.Poll());
        EXPECT_EQ(link.master.ends.back().status, stOK);
        const QString first = sim.port;
        sim.Say("hangup");
        ASSERT_TRUE(WaitFor([&] { return link.master.hangUps > 0; }, 3000));
        ASSERT_TRUE(sim.NextPort(3000));
        EXPECT_NE(sim.port, first);
        WaitFor([] { return false; }, 300);
        EXPECT_EQ(link.master.hangUps, 1);
    }
    Link again;
    ASSERT_TRUE(again.master.Open(linkPath, 115200)) << again.port->ErrorText().toStdString();
    ASSERT_TRUE(again.Poll());
    EXPECT_EQ(again.master.ends.back().status, stOK);
}

// The bench meter on its own line reads what the console's meter shows, in
// amperes and volts, and keeps its errors for SYST:ERR?.
TEST(SimPty, BenchMeterAnswersOnItsOwnLine) {
    const QString meterPath = QStringLiteral("/tmp/kvsim-test-meter-%1").arg(QCoreApplication::applicationPid());
    Kvsim sim({"--meter-link", meterPath, "--meter-noise", "0", "--drift", "0", "--process-noise", "0"});
    ASSERT_TRUE(sim.ok);
    ASSERT_TRUE(sim.output.contains("kvsim: meter on " + QFileInfo(meterPath).symLinkTarget()))
        << sim.output.join('|').toStdString();
    simtest::TMeterLine meter(meterPath);
    ASSERT_GE(meter.fd, 0);
    EXPECT_EQ(meter.Ask("*IDN?\n").rfind("KVSIM,BENCH METER 6.5 DIGIT (SIMULATED),", 0), 0u);

    sim.Say("meter");
    double mA = 0, volt = 0;
    ASSERT_EQ(std::sscanf(sim.output.back().toUtf8().constData(), "meter %lf mA %lf V", &mA, &volt), 2);
    const auto asked = std::chrono::steady_clock::now();
    const std::string current = meter.Ask("MEAS:CURR:DC?\r\n");
    // A reading takes its 20 ms aperture before the answer's characters.
    EXPECT_GE(Ms(std::chrono::steady_clock::now() - asked), 20.0);
    EXPECT_NEAR(std::strtod(current.c_str(), nullptr) * 1000.0, mA, 0.0006) << current;
    EXPECT_NEAR(std::strtod(meter.Ask("meas:volt?\n").c_str(), nullptr), volt, 0.0006);

    EXPECT_EQ(meter.Ask("FOO?;*OPC?\n*OPC?\n"), "1\n");
    EXPECT_EQ(meter.Ask("SYST:ERR?;SYST:ERR?\n"), "-113,\"Undefined header\";+0,\"No error\"\n");
}

// The meters of other benches from the command line: deaf until SYST:REM,
// echoing and prompting, integrating for 400 ms; and the transmitter's
// output following a new process value with nobody polling it.
TEST(SimPty, OtherMetersAndAnUnpolledOutput) {
    const QString meterPath = QStringLiteral("/tmp/kvsim-test-meter2-%1").arg(QCoreApplication::applicationPid());
    Kvsim sim({"--meter-link", meterPath, "--meter-noise", "0", "--drift", "0", "--process-noise", "0", "--meter-remote",
               "--meter-terminal", "--meter-integration", "400"});
    ASSERT_TRUE(sim.ok);
    simtest::TMeterLine meter(meterPath);
    ASSERT_GE(meter.fd, 0);
    // Sends a line and collects what comes until a prompt ends it (or ms).
    auto exchange = [&](const std::string& line, int ms) {
        EXPECT_EQ(::write(meter.fd, line.data(), line.size()), static_cast<ssize_t>(line.size()));
        std::string got;
        WaitFor([&] {
            pollfd p{meter.fd, POLLIN, 0};
            char buf[256];
            ssize_t n = 0;
            if (::poll(&p, 1, 10) > 0 && (n = ::read(meter.fd, buf, sizeof buf)) > 0)
                got.append(buf, static_cast<std::size_t>(n));
            // A prompt ("=>", "?>", "!>") on a line of its own.
            const std::size_t n3 = got.size();
            return n3 >= 3 && got.compare(n3 - 2, 2, ">\n") == 0 && (n3 == 3 || got[n3 - 4] == '\n');
        }, ms);
        return got;
    };
    EXPECT_EQ(exchange("*IDN?\n", 500), "");
    EXPECT_EQ(exchange("SYST:REM\n", 3000), "SYST:REM\n=>\n");
    EXPECT_EQ(exchange("BAD?\r\n", 3000), "BAD?\r\n?>\n");

    // The settled output the console shows moves at the next measuring cycle.
    auto settled = [&] {
        sim.Say("meter");
        double mA = 0, volt = 0;
        EXPECT_EQ(std::sscanf(sim.output.back().toUtf8().constData(), "meter %lf mA %lf V", &mA, &volt), 2);
        return mA;
    };
    const double at25 = settled();
    sim.Say("value 75");
    double mA = at25;
    EXPECT_TRUE(WaitFor([&] { return (mA = settled()) > at25 + 7.9; }, 5000)) << mA;
    double read = 0;
    double slowest = 0;
    EXPECT_TRUE(WaitFor([&] {
        const auto asked = std::chrono::steady_clock::now();
        const std::string got = exchange("MEAS:CURR?\n", 3000);
        slowest = std::max(slowest, Ms(std::chrono::steady_clock::now() - asked));
        EXPECT_EQ(got.rfind("MEAS:CURR?\n+", 0), 0u) << got;
        read = std::strtod(got.c_str() + 11, nullptr) * 1000.0;
        return std::fabs(read - mA) < 0.0006;
    }, 10000)) << read << " " << mA;
    EXPECT_GE(slowest, 400.0);
}

// --link replaces only a link or nothing: a file or folder at the name is
// refused before anything is served, and stays as it was.
TEST(SimPty, LinkRefusesToReplaceAnythingButALink) {
    const QString base = QStringLiteral("/tmp/kvsim-test-refuse-%1").arg(QCoreApplication::applicationPid());
    const QString file = base + ".txt";
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("keep me\n");
    }
    QDir().mkpath(base + ".d");
    for (const char* option : {"--link", "--meter-link"}) {
        for (const QString& path : {file, base + ".d"}) {
            QProcess p;
            p.start(QStringLiteral(KVSIM_PATH), {option, path});
            ASSERT_TRUE(p.waitForFinished(10000));
            EXPECT_EQ(p.exitCode(), 2) << option << " " << path.toStdString();
            const QString err = QString::fromLocal8Bit(p.readAllStandardError());
            EXPECT_TRUE(err.contains(QStringLiteral("%1 %2: a").arg(option, path))) << err.toStdString();
            EXPECT_TRUE(err.contains("not a symbolic link")) << err.toStdString();
            const QString out = QString::fromLocal8Bit(p.readAllStandardOutput());
            EXPECT_FALSE(out.contains("serving on") || out.contains("meter on")) << out.toStdString();
        }
    }
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), "keep me\n");
    EXPECT_TRUE(QFileInfo(base + ".d").isDir());
    QFile::remove(file);
    QDir().rmdir(base + ".d");
}

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
