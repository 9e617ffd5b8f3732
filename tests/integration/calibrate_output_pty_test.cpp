// kvctl calibrate output as a production line runs it: the kvctl program, and
// kvsim with its bench meter, over pseudo-terminals in real time, the
// simulator's example bench and its fixture script on kvsim's console. Three
// boards calibrated unattended (as found, the trim, as left), then their
// output in normal operation read with the same meter; Ctrl-C and a device
// gone silent in the middle of the search both leave the output unforced; a
// fixture script moves the meter's leads through kvsim's console.
#include "SimProcess.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <cstdio>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

using simtest::TKvctl;
using simtest::TKvsimProcess;
using simtest::WaitFor;

namespace {

// kvsim's bench meter read as a line's test program reads it.
struct TMeter : simtest::TMeterLine {
    using TMeterLine::TMeterLine;
    double Read(const char* query) {
        const std::string answer = Ask(std::string(query) + "\n");
        return answer.empty() ? NAN : std::strtod(answer.c_str(), nullptr);
    }
    // Once the output has settled: readings within `within` of each other
    // for 300 ms, three of the device's measuring cycles (a new process value
    // reaches the output at the next one, through a 50 ms filter).
    double Settled(const char* query, double within) {
        QElapsedTimer stable;
        stable.start();
        double last = Read(query);
        for (int i = 0; i < 200; ++i) {
            const double now = Read(query);
            if (!(std::fabs(now - last) <= within))
                stable.restart();
            else if (stable.elapsed() >= 300)
                return now;
            last = now;
        }
        return NAN;
    }
};

QString MeterPath(const char* what) {
    return QStringLiteral("/tmp/kvsim-test-meter-%1-%2").arg(what).arg(QCoreApplication::applicationPid());
}

// Output type `mode` written into the device's settings with kvctl.
bool SetOutputMode(const QString& port, const QTemporaryDir& dir, int mode) {
    TKvctl get({"--port", port, "settings", "get"});
    if (get.Finish() != 0)
        return false;
    QString text = QString::fromUtf8(get.out);
    text.replace(QRegularExpression(QStringLiteral("RadioGroup_OutputMode=\\d")), QStringLiteral("RadioGroup_OutputMode=%1").arg(mode));
    const QByteArray kvs = text.toUtf8();
    QFile f(dir.filePath(QStringLiteral("mode%1.kvs").arg(mode)));
    if (!f.open(QIODevice::WriteOnly) || f.write(kvs) != kvs.size())
        return false;
    f.close();
    TKvctl set({"--port", port, "settings", "set", f.fileName(), "--backup", dir.filePath(QStringLiteral("backup%1.kvs").arg(mode))});
    return set.Finish() == 0;
}

} // namespace

// Unattended (on board 2, or the boards KV_TEST_BOARDS names); afterwards the loop current at 25, 50 and 100 %
// of the range is within 0.005 mA of 8, 12 and 20 mA, and the voltage output
// within 3 mV of its targets in the 0-10 V and the 2-10 V modes.
TEST(CalibrateOutputPty, BoardsCalibratedUnattended) {
    QTemporaryDir dir;
    for (const std::string& seed : simtest::Boards("2")) {
        const char* board = seed.c_str();
        SCOPED_TRACE(board);
        const QString meterPath = MeterPath(board);
        TKvsimProcess sim({"--board-seed", board, "--own-calibration", "--drift", "0", "--process-noise", "0",
                           "--meter-link", meterPath});
        ASSERT_TRUE(sim.ok);
        QElapsedTimer took;
        took.start();
        TKvctl ctl({"--port", sim.port, "--json", "calibrate", "output", "--bench", KV_SOURCE_DIR "/station/examples/kvsim.bench",
                    "--fixture", "sh " KV_SOURCE_DIR "/station/examples/kvsim-fixture.sh", "--meter", meterPath,
                    "--operator", "line 3"},
                   {QStringLiteral("KVSIM_CONSOLE=/proc/%1/fd/0").arg(sim.proc.processId())});
        ASSERT_EQ(ctl.Finish(300000), 0) << ctl.err.toStdString();
        const double seconds = took.elapsed() / 1000.0;
        RecordProperty(std::string("seconds_board_") + board, std::to_string(seconds));
        std::printf("board %s: calibrate output took %.1f s\n", board, seconds);
        const QJsonObject o = QJsonDocument::fromJson(ctl.out).object();
        EXPECT_EQ(o["schema"].toString(), "kvctl.calibration/2");
        EXPECT_EQ(o["calibration"].toString(), "output");
        EXPECT_TRUE(o["passed"].toBool());
        EXPECT_EQ(o["operator"].toString(), "line 3");
        EXPECT_EQ(o["record"]["state"].toString(), "acknowledged");
        EXPECT_EQ(o["checks"].toArray().size(), 6);
        EXPECT_TRUE(ctl.err.contains("forcing ended"));
        EXPECT_TRUE(sim.Answer("status", "drop ").endsWith("forced PWM 0")) << sim.output.back().toStdString();
        // The fixture left the input open and the meter's leads on the loop:
        // the sensor and both leads are back for the readings below.
        sim.Answer("sensor ok", "sensor");
        sim.Answer("meter both", "meter on both");

        TMeter meter(meterPath);
        ASSERT_GE(meter.fd, 0);
        const struct {
            int mode;
            const char* query;
            double target[3]; // at 25, 50, 100 %
            double tolerance;
        } outputs[] = {
            {0, "MEAS:CURR:DC?", {8e-3, 12e-3, 20e-3}, 5e-6},
            {2, "MEAS:VOLT:DC?", {2.5, 5.0, 10.0}, 3e-3},
            {3, "MEAS:VOLT:DC?", {4.0, 6.0, 10.0}, 3e-3},
        };
        for (const auto& out : outputs) {
            if (out.mode != 0) {
                ASSERT_TRUE(SetOutputMode(sim.port, dir, out.mode)) << out.mode;
            }
            const double percents[] = {25, 50, 100};
            for (int i = 0; i < 3; ++i) {
                sim.Say(QStringLiteral("value %1").arg(percents[i]));
                const double v = meter.Settled(out.query, out.mode == 0 ? 1e-8 : 1e-5);
                EXPECT_NEAR(v, out.target[i], out.tolerance) << "mode " << out.mode << " at " << percents[i] << " %";
                std::printf("board %s, output type %d at %3.0f %%: %.6f (error %+.6f)\n", board, out.mode, percents[i],
                            out.mode == 0 ? v * 1000.0 : v, (v - out.target[i]) * (out.mode == 0 ? 1000.0 : 1.0));
            }
        }
    }
}

// Ctrl-C in the middle of the search: kvctl ends the forcing before it
// leaves, exit 130, and the device's status shows no forced value.
TEST(CalibrateOutputPty, CtrlCEndsTheForcing) {
    const QString meterPath = MeterPath("int");
    TKvsimProcess sim({"--board-seed", "4", "--meter-link", meterPath});
    ASSERT_TRUE(sim.ok);
    TKvctl ctl({"--port", sim.port, "calibrate", "output", "--meter", meterPath});
    ASSERT_TRUE(ctl.WaitErr("step 2/7: the PWM value for 20 mA")) << ctl.err.toStdString();
    sim.Say("status");
    EXPECT_FALSE(sim.output.back().endsWith("forced PWM 0")) << sim.output.back().toStdString();
    ::kill(static_cast<pid_t>(ctl.proc.processId()), SIGINT);
    EXPECT_EQ(ctl.Finish(), 130) << ctl.err.toStdString();
    EXPECT_TRUE(ctl.err.contains("forcing ended")) << ctl.err.toStdString();
    EXPECT_TRUE(ctl.out.contains("NOT COMPLETED")) << ctl.out.toStdString();
    sim.Say("status");
    EXPECT_TRUE(sim.output.back().endsWith("forced PWM 0")) << sim.output.back().toStdString();
}

// The device goes silent during the search: kvctl asks it on, without
// forcing, until it answers again; exit 3 with the forcing ended.
TEST(CalibrateOutputPty, ADeviceGoneSilentIsUnforcedWhenItAnswersAgain) {
    const QString meterPath = MeterPath("silent");
    TKvsimProcess sim({"--board-seed", "5", "--meter-link", meterPath});
    ASSERT_TRUE(sim.ok);
    TKvctl ctl({"--port", sim.port, "--timeout", "100", "calibrate", "output", "--meter", meterPath});
    ASSERT_TRUE(ctl.WaitErr("step 2/7: the PWM value for 20 mA")) << ctl.err.toStdString();
    sim.Say("silent on");
    ASSERT_TRUE(ctl.WaitErr("the device does not answer")) << ctl.err.toStdString();
    sim.Say("status");
    EXPECT_FALSE(sim.output.back().endsWith("forced PWM 0")) << sim.output.back().toStdString();
    sim.Say("silent off");
    EXPECT_EQ(ctl.Finish(), 3) << ctl.err.toStdString();
    EXPECT_TRUE(ctl.err.contains("forcing ended")) << ctl.err.toStdString();
    sim.Say("status");
    EXPECT_TRUE(sim.output.back().endsWith("forced PWM 0")) << sim.output.back().toStdString();
}

// The line's fixture as a shell script writing to kvsim's console (the
// example's), whose meter starts on the voltage output alone: the as-found
// points and the current steps read the loop only once the script has said
// `current`.
TEST(CalibrateOutputPty, AFixtureScriptMovesTheMetersLeads) {
    QTemporaryDir dir;
    const QString console = dir.filePath(QStringLiteral("console"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(console).constData(), 0600), 0);
    // Held open for writing, so that the console never sees an end between
    // the script's lines.
    const int keep = ::open(QFile::encodeName(console).constData(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(keep, 0);
    const QString meterPath = MeterPath("fixture");
    TKvsimProcess sim({"--board-seed", "6", "--meter-link", meterPath}, console);
    ASSERT_TRUE(sim.ok);
    const char voltage[] = "meter voltage\n";
    ASSERT_EQ(::write(keep, voltage, sizeof voltage - 1), static_cast<ssize_t>(sizeof voltage - 1));
    TKvctl ctl({"--port", sim.port, "calibrate", "output", "--bench", KV_SOURCE_DIR "/station/examples/kvsim.bench",
                "--meter", meterPath, "--fixture", "sh " KV_SOURCE_DIR "/station/examples/kvsim-fixture.sh"},
               {"KVSIM_CONSOLE=" + console});
    EXPECT_EQ(ctl.Finish(300000), 0) << ctl.err.toStdString();
    EXPECT_TRUE(ctl.out.contains("output calibration PASSED")) << ctl.out.toStdString();
    EXPECT_TRUE(ctl.err.contains("as found: fixture: current")) << ctl.err.toStdString();
    EXPECT_TRUE(ctl.err.contains("step 4/7: fixture: voltage")) << ctl.err.toStdString();
    const QByteArray said = sim.proc.readAllStandardOutput();
    EXPECT_TRUE(said.contains("meter on the current loop")) << said.toStdString();
    ::close(keep);
}

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
