// The calibration station as a production line runs it: the kvctl program,
// kvsim with its bench meter over pseudo-terminals in real time, the
// simulator's example bench and its fixture script on kvsim's console.
// `calibrate all` on three boards (as found, both trims, as left, one
// certificate), with the run times against the time the device's own
// measuring cycles need for the same points; `calibrate output` then
// `verify` on one board, whose output readings agree within their
// uncertainties; and references typed wrong while the nominal ones are
// connected, which does not pass.
#include "SimProcess.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <map>

using simtest::TKvctl;
using simtest::TKvsimProcess;

namespace {

const QString kBench = QStringLiteral(KV_SOURCE_DIR "/station/examples/kvsim.bench");
const QString kFixture = QStringLiteral("sh " KV_SOURCE_DIR "/station/examples/kvsim-fixture.sh");

QString MeterPath(const char* what) {
    return QStringLiteral("/tmp/kvsim-station-meter-%1-%2").arg(what).arg(QCoreApplication::applicationPid());
}

// kvsim with its bench meter, and the environment its fixture script needs
// to reach its console (kvsim's standard input, through /proc).
struct TLine {
    QString meter;
    TKvsimProcess sim;
    QStringList env;
    TLine(const char* what, const QStringList& args)
        : meter(MeterPath(what)), sim(args + QStringList{"--meter-link", meter}),
          env{QStringLiteral("KVSIM_CONSOLE=/proc/%1/fd/0").arg(sim.proc.processId())} {}
    QStringList Bench(const QString& fixture = kFixture, bool withMeter = true) const {
        QStringList args{"--bench", kBench, "--fixture", fixture};
        if (withMeter)
            args << "--meter" << meter;
        return args;
    }
};

// A point as kvctl's summary prints it: the name, then the nominal value
// and its unit, what it read (as found and as left for a calibration), the
// error, the per cent of span, the tolerance, U and the result.
struct TRow {
    double nominal = NAN, found = NAN, left = NAN, error = NAN, tolerance = NAN, u = NAN;
    QString result;
};
std::map<QString, TRow> Points(const QByteArray& out, bool calibration) {
    std::map<QString, TRow> rows;
    static const QRegularExpression name(QStringLiteral("^  ((input|output) [0-9.]+ % \\([^)]*\\))\\s+(.*)$"));
    for (const QString& line : QString::fromUtf8(out).split('\n')) {
        const auto m = name.match(line);
        if (!m.hasMatch())
            continue;
        const QStringList t = m.captured(3).split(' ', Qt::SkipEmptyParts);
        const int n = calibration ? 9 : 8;
        if (t.size() < n)
            continue;
        TRow r;
        int i = 0;
        r.nominal = t[i++].toDouble();
        ++i; // the unit
        r.found = t[i++].toDouble();
        if (calibration)
            r.left = t[i++].toDouble();
        r.error = t[i++].toDouble();
        ++i; // per cent of span
        r.tolerance = t[i++].mid(1).toDouble();
        r.u = t[i++].toDouble();
        r.result = t[i++];
        rows[m.captured(1)] = r;
    }
    return rows;
}

// The device's own time for the points: each takes five measuring cycles to
// settle and five measurements, at 100 ms a cycle.
double MeasuringSeconds(std::size_t inputPoints) { return inputPoints * 10 * 0.1; }

} // namespace

TEST(StationPty, CalibrateAll) {
    QTemporaryDir dir;
    for (const std::string& seed : simtest::Boards("3")) {
        const char* board = seed.c_str();
        SCOPED_TRACE(std::string("board ") + board);
        TLine line(board, {"--board-seed", board, "--drift", "0", "--process-noise", "0"});
        ASSERT_TRUE(line.sim.ok);
        const QString pdf = dir.filePath(QStringLiteral("board%1.pdf").arg(board));
        QElapsedTimer took;
        took.start();
        TKvctl ctl(QStringList{"--port", line.sim.port, "calibrate", "all", "--certificate", pdf, "--serial",
                               QStringLiteral("SN%1").arg(board), "--operator", "line 3"} +
                       line.Bench(),
                   line.env);
        EXPECT_EQ(ctl.Finish(300000), 0) << ctl.out.toStdString() << ctl.err.right(2000).toStdString();
        const double seconds = took.elapsed() / 1000.0;
        const std::map<QString, TRow> points = Points(ctl.out, true);
        std::size_t inputs = 0;
        for (const auto& [name, row] : points) {
            EXPECT_EQ(row.result, "pass") << name.toStdString();
            inputs += name.startsWith(QLatin1String("input"));
        }
        EXPECT_EQ(points.size(), 5u + 5u + 18u);
        EXPECT_TRUE(ctl.out.contains("calibration PASSED")) << ctl.out.toStdString();
        EXPECT_TRUE(QFile::exists(pdf));
        EXPECT_TRUE(ctl.err.contains("forcing ended"));
        RecordProperty(std::string("seconds_board_") + board, std::to_string(seconds));
        std::printf("board %s: calibrate all PASSED in %.1f s; its %zu input points as found and as left take the "
                    "device's measuring cycles %.1f s\n",
                    board, seconds, inputs, 2 * MeasuringSeconds(inputs));
        const QString status = line.sim.Answer("status", "drop ");
        EXPECT_TRUE(status.endsWith("forced PWM 0")) << status.toStdString();
    }
}

// The output as left in the certificate and the output verify reads right
// afterwards, point by point, within the two readings' uncertainties.
TEST(StationPty, CalibrateOutputThenVerifyAgree) {
    TLine line("output", {"--board-seed", "4", "--own-calibration", "--drift", "0", "--process-noise", "0"});
    ASSERT_TRUE(line.sim.ok);
    TKvctl calibrate(QStringList{"--port", line.sim.port, "calibrate", "output"} + line.Bench(), line.env);
    ASSERT_EQ(calibrate.Finish(300000), 0) << calibrate.out.toStdString() << calibrate.err.right(2000).toStdString();
    TKvctl verify(QStringList{"--port", line.sim.port, "verify"} + line.Bench(), line.env);
    ASSERT_EQ(verify.Finish(300000), 0) << verify.out.toStdString() << verify.err.right(2000).toStdString();
    const std::map<QString, TRow> asLeft = Points(calibrate.out, true), verified = Points(verify.out, false);
    int compared = 0;
    for (const auto& [name, left] : asLeft) {
        if (!name.startsWith(QLatin1String("output")))
            continue;
        ASSERT_TRUE(verified.count(name)) << name.toStdString();
        const TRow& v = verified.at(name);
        // The printed figures carry a tenth of a microampere: one digit
        // either way on top of the uncertainties.
        EXPECT_LE(std::fabs(left.left - v.found), std::hypot(left.u, v.u) + 1e-4) << name.toStdString();
        std::printf("%s: as left %.4f mA (U %.4f), verify %.4f mA (U %.4f)\n", qPrintable(name), left.left, left.u,
                    v.found, v.u);
        ++compared;
    }
    EXPECT_EQ(compared, 5);
}

// The references typed wrong (R500=500.5, R5K=5005) while the relay box
// connects the nominal ones: the calibration does not pass, and says that
// the device holds a calibration that failed its verification.
TEST(StationPty, WrongReferencesDoNotPass) {
    QTemporaryDir dir;
    const QString relay = dir.filePath(QStringLiteral("relay.sh"));
    QFile script(relay);
    ASSERT_TRUE(script.open(QIODevice::WriteOnly));
    script.write("case \"$*\" in\n"
                 "'resistor 500.5') set -- resistor 500 ;;\n"
                 "'resistor 5005') set -- resistor 5000 ;;\n"
                 "esac\n"
                 "exec " + kFixture.toUtf8() + " \"$@\"\n");
    script.close();
    TLine line("wrong", {"--board-seed", "2", "--drift", "0", "--process-noise", "0"});
    ASSERT_TRUE(line.sim.ok);
    const QString pdf = dir.filePath(QStringLiteral("wrong.pdf"));
    TKvctl ctl(QStringList{"--port", line.sim.port, "calibrate", "input", "--references", "R500=500.5,R5K=5005",
                           "--certificate", pdf, "--serial", "SN2"} +
                   line.Bench(QStringLiteral("sh ") + relay, false),
               line.env);
    EXPECT_EQ(ctl.Finish(300000), 1) << ctl.out.toStdString() << ctl.err.right(2000).toStdString();
    EXPECT_TRUE(ctl.out.contains("input calibration ADJUSTED – FAILED VERIFICATION")) << ctl.out.toStdString();
    EXPECT_TRUE(QFile::exists(pdf));
    const std::map<QString, TRow> points = Points(ctl.out, true);
    ASSERT_TRUE(points.count("input 100 % (Pt 100, 4 wires)"));
    const TRow& hot = points.at("input 100 % (Pt 100, 4 wires)");
    EXPECT_EQ(hot.result, "FAIL");
    std::printf("references typed wrong: a Pt 100 at %.3f degC reads %.3f as left (%.3f as found)\n", hot.nominal, hot.left,
                hot.found);
}

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
