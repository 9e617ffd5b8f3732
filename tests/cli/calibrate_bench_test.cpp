// kvctl calibrate input|output --bench FILE against the in-process device and
// bench meter on a manual clock: the bench's meter line, identity and
// traceability reach the port and the certificate; a bench that may not be
// used is refused before anything is sent; an overload is the meter's
// answer, not a dead line; and the line's fixture as the real process it
// is: its exit status fails the run, its time-out leaves nothing running.
#include "cli_support.h"

#include "../support/Processes.h"
#include "../support/QtWait.h"

#include "RunOutcome.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

using clitest::TBenchFile;
using clitest::TCtlRig;

namespace {

QString S(const QByteArray& b) { return QString::fromUtf8(b); }

// The in-process meter's bench (the rig's meter port takes any name), due
// after the rig's today (2026-12-06).
const char* const kBench =
    "[Meter]\nPort=/dev/ttyMEM1\nBaud=19200\nStopBits=2\nHandshake=dtr-dsr\n"
    "Identity=^KVSIM,BENCH METER\nSerial=SIM0001\nCertificate=CAL-2026-117\nDue=2027-06-30\n"
    "DCI=0.050% + 0.020% @ 10 mA; 0.050% + 0.005% @ 100 mA\nDCV=0.0035% + 0.0005% @ 10 V; 0.0045% + 0.0006% @ 100 V\n"
    "[Reference R500]\nValue=500\nUncertainty=0.002\nSerial=R1\nCertificate=C-18\nDue=2027-01-01\n"
    "[Reference R5K]\nValue=5000\nUncertainty=0.02\nSerial=R2\nCertificate=C-19\nDue=2027-01-01\n"
    "[Reference UREF]\nValue=125\nUncertainty=0.005\nSerial=U1\nCertificate=C-20\nDue=2027-01-01\n";


// Moves the clock on, but not while a fixture process runs: the clock is
// the run's, the process takes real time.
bool RunHoldingTheClockFor(TCtlRig& rig, const QByteArray& fixture) {
    return rig.RunUntil([&] {
        kvtest::WaitUntil([&] { return kvtest::RunningProcesses(fixture) == 0; }, 10000);
        return rig.ctl->Finished();
    });
}

} // namespace

// The output calibration from the bench file: its meter line on the port
// (19200 baud, 8N2, DTR/DSR, modem lines raised), the error queue read after
// every reading, and the meter's traceability on the certificate. The
// meter's DCI accuracy is a 6.5-digit meter's own (15 uA at 20 mA), wider
// than the output's tolerance of 16 uA less the error: under guarded
// acceptance the upper points are conditional and the calibration does not
// pass; under simple acceptance, which the bench may choose, it does.
TEST(KvctlCalibrateBench, TheBenchRunsTheOutputCalibrationAndIsOnItsCertificate) {
    struct {
        const char* rule;
        int exit;
        kv::station::TVerdictKind verdict;
    } const table[] = {
        {"guarded", 1, kv::station::TVerdictKind::AdjustedFailedVerification},
        {"simple", 0, kv::station::TVerdictKind::Passed},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.rule);
        TBenchFile bench(QString::fromLatin1(kBench) + QStringLiteral("[Verification]\nRule=%1\n").arg(row.rule));
        TCtlRig rig;
        rig.config.OutputCalibrated = false;
        clitest::ConsoleFixture(rig);
        QByteArray written;
        rig.Start({"--json", "calibrate", "output", "--bench", bench.path});
        ASSERT_TRUE(rig.meterPort);
        EXPECT_EQ(rig.meterPort->OpenedRate(), 19200u);
        EXPECT_EQ(rig.meterPort->OpenedLine(), (TMBLineSettings{8, TMBParity::None, 2, TMBHandshake::DtrDsr, true, true}));
        EXPECT_EQ(rig.meterPort->TakeModemLineCalls(), (QStringList{"DTR on", "RTS on"}));
        ASSERT_TRUE(rig.RunUntil([&] {
            written += rig.meterPort ? rig.meterPort->TakeWritten() : QByteArray();
            return rig.ctl->Finished();
        }));
        EXPECT_EQ(rig.ctl->ExitCode(), row.exit) << S(rig.err).toStdString();
        const kv::cert::TFacts facts = rig.ctl->Station()->Facts();
        const kv::station::TVerdict verdict = kv::cert::VerdictOfFacts(facts);
        EXPECT_EQ(verdict.Kind, row.verdict) << verdict.Reason.toStdString();
        int conditional = 0;
        for (const kv::cert::TPoint& p : facts.Points)
            conditional += p.AsLeft.Result == kv::station::TOutcome::Conditional;
        EXPECT_EQ(conditional > 0, row.exit != 0);
        const QJsonObject o = QJsonDocument::fromJson(rig.out).object();
        const QJsonObject meter = o["meter"].toObject();
        EXPECT_EQ(meter["serial"].toString(), QStringLiteral("SIM0001"));
        EXPECT_EQ(meter["certificate"].toString(), QStringLiteral("CAL-2026-117"));
        EXPECT_EQ(meter["due"].toString(), QStringLiteral("2027-06-30"));
        const qsizetype readings = written.count("MEAS:");
        EXPECT_GT(readings, 10);
        EXPECT_EQ(written.count("SYST:ERR?"), readings);
    }
}

// A bench that may not be used is refused before anything is sent: no
// transaction with the device, and (for what the file says) not even the
// ports opened. A meter that is not the bench's is refused once it has
// named itself, the device still untouched.
TEST(KvctlCalibrateBench, ABenchThatMayNotBeUsedIsRefusedBeforeAnythingIsSent) {
    struct {
        const char* what;
        QStringList args; // after the bench file
        QString bench;
        const char* err;
        bool portsOpened;
    } const table[] = {
        {"meter past its due date", {"calibrate", "output"}, QString::fromLatin1(kBench).replace("2027-06-30", "2026-12-05"),
         "[Meter] is past its due date (2026-12-05; today is 2026-12-06)", false},
        {"reference past its due date", {"calibrate", "input", "--fixture", "relay"},
         QString::fromLatin1(kBench).replace("Serial=R2\nCertificate=C-19\nDue=2027-01-01", "Serial=R2\nCertificate=C-19\nDue=2026-01-01"),
         "[Reference R5K] is past its due date (2026-01-01", false},
        {"a reference the run needs is missing", {"calibrate", "input", "--fixture", "relay"},
         QString::fromLatin1(kBench).replace("[Reference UREF]", "[Reference UREF2]").replace("Value=125\n", "Value=125 mV\n").replace("Uncertainty=0.005\n", "Uncertainty=5 uV\n"),
         "the bench has no [Reference UREF]", false},
        {"a line that does not read", {"calibrate", "output"}, QString::fromLatin1(kBench).replace("StopBits=2", "StopBits=two"),
         "line 4: [Meter] StopBits: \"two\" is not a whole number from 1 to 2", false},
        {"an option the bench does not know", {"calibrate", "input", "--fixture", "relay", "--references", "R1K=1000"},
         QString::fromLatin1(kBench), "--references: R1K is no reference of the bench (R500, R5K, UREF)", false},
        {"another meter on the port", {"calibrate", "output"},
         QString::fromLatin1(kBench).replace("^KVSIM,BENCH METER", "^KEITHLEY"),
         "calibrate output refused: the meter on /dev/ttyMEM1 is not the bench's: it names itself \"KVSIM,BENCH METER", true},
        {"verify with a source past its due date", {"verify", "--fixture", "relay"},
         QString::fromLatin1(kBench) + "[Source]\nSerial=S1\nCertificate=C-21\nDue=2026-12-01\nOHM=0.001% + 0.002 ohm @ 500 ohm\n",
         "[Source] is past its due date (2026-12-01", false},
        {"points that are no per cent of the range", {"verify", "--fixture", "relay", "--points", "0,150"},
         QString::fromLatin1(kBench), "--points: \"0,150\" is not per cent of the range", false},
        {"a calibration of everything with its meter past its due date", {"calibrate", "all", "--fixture", "relay"},
         QString::fromLatin1(kBench).replace("2027-06-30", "2026-12-05"), "[Meter] is past its due date", false},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.what);
        TBenchFile bench(row.bench);
        TCtlRig rig;
        EXPECT_EQ(rig.Run(QStringList{"--bench", bench.path} + row.args), 2);
        EXPECT_TRUE(S(rig.err).contains(QString::fromUtf8(row.err))) << S(rig.err).toStdString();
        EXPECT_TRUE(S(rig.err).contains(QLatin1String("nothing was sent"))) << S(rig.err).toStdString();
        EXPECT_TRUE(rig.ended.empty());
        EXPECT_EQ(rig.port != nullptr, row.portsOpened);
        EXPECT_EQ(rig.meterPort != nullptr, row.portsOpened);
    }
    // The file's name heads what it says.
    TCtlRig rig;
    EXPECT_EQ(rig.Run({"calibrate", "output", "--bench", "/nonexistent/line3.bench"}), 2);
    EXPECT_TRUE(S(rig.err).contains("kvctl: /nonexistent/line3.bench: no such file")) << S(rig.err).toStdString();
}

// Options on the command line win over the file.
TEST(KvctlCalibrateBench, OptionsOverrideTheBench) {
    TBenchFile bench(QString::fromLatin1(kBench));
    TCtlRig rig;
    rig.Start({"calibrate", "output", "--bench", bench.path, "--meter-baud", "4800", "--meter", "/dev/ttyMEM7"});
    ASSERT_TRUE(rig.meterPort);
    EXPECT_EQ(rig.meterPort->OpenedRate(), 4800u);
    EXPECT_EQ(rig.meterPort->OpenedName(), QStringLiteral("/dev/ttyMEM7"));
    EXPECT_EQ(rig.meterPort->OpenedLine().StopBits, 2);
}

// An overload (the leads on nothing) is the meter's answer: a wiring fault
// with its own message and exit 1, never "no answer"; the forcing ends.
TEST(KvctlCalibrateBench, AnOverloadIsAWiringFaultNotADeadLine) {
    TCtlRig rig;
    rig.Start({"calibrate", "output", "--meter", "/dev/ttyMEM1"});
    ASSERT_TRUE(rig.RunUntil([&] { return S(rig.err).contains("step 1/7"); }));
    rig.meterPort->OnWritten = [&](const QByteArray& bytes) {
        if (bytes.startsWith("MEAS:"))
            rig.meterPort->Push("+9.90000000E+37\n");
        else if (bytes.startsWith("SYST:ERR?"))
            rig.meterPort->Push("+0,\"No error\"\n");
    };
    ASSERT_TRUE(rig.RunUntil([&] { return rig.ctl->Finished(); }));
    EXPECT_EQ(rig.ctl->ExitCode(), 1) << S(rig.err).toStdString();
    EXPECT_TRUE(S(rig.err).contains("the meter reads an overload (+9.90000000E+37) to MEAS:CURR:DC?: a wiring fault"))
        << S(rig.err).toStdString();
    EXPECT_TRUE(S(rig.err).contains("the meter answered: a fault of the wiring or of the bench, not of the line"))
        << S(rig.err).toStdString();
    EXPECT_FALSE(S(rig.err).contains("no answer")) << S(rig.err).toStdString();
    EXPECT_TRUE(S(rig.err).contains("forcing ended")) << S(rig.err).toStdString();
    EXPECT_EQ(rig.device->Model().ForcedPWM(), 0);
}

// The fixture as the real process: a non-zero exit fails the run with its
// status named in the message and the certificate's log; one that hangs is
// ended at its time-out, with everything it started.
TEST(KvctlCalibrateBench, TheFixtureIsARealProcessItsStatusCountsAndNothingOfItIsLeft) {
    {
        TCtlRig rig;
        rig.Start({"--json", "calibrate", "input", "--fixture", "exit 3 # kvbench-exit-3", "--fixture-timeout", "3600"});
        ASSERT_TRUE(RunHoldingTheClockFor(rig, "kvbench-exit-3"));
        EXPECT_EQ(rig.ctl->ExitCode(), 1) << S(rig.err).toStdString();
        // The first point as found: nothing is adjusted on a bench whose fixture fails.
        const kv::cert::TFacts facts = rig.ctl->Station()->Facts();
        EXPECT_TRUE(facts.NotWrittenBecause.contains("\"resistor 100\" exited with 3")) << facts.NotWrittenBecause.toStdString();
        EXPECT_EQ(facts.Write, kv::cert::TWrite::NotSent);
        const QJsonObject o = QJsonDocument::fromJson(rig.out).object();
        EXPECT_TRUE(o["log"].toArray().contains(QStringLiteral("fixture: \"resistor 100\" exited with 3")));
        EXPECT_TRUE(S(rig.err).contains("fixture: \"resistor 100\" exited with 3")) << S(rig.err).toStdString();
    }
    {
        TCtlRig rig;
        rig.Start({"calibrate", "input", "--fixture", "sleep 623.25; #", "--fixture-timeout", "2"});
        ASSERT_TRUE(rig.RunUntil([] { return kvtest::RunningProcesses("sleep 623.25") > 0; }));
        ASSERT_TRUE(rig.RunUntil([&] { return rig.ctl->Finished(); }));
        EXPECT_EQ(rig.ctl->ExitCode(), 1) << S(rig.err).toStdString();
        EXPECT_TRUE(S(rig.err).contains("did not end within 2 s: its processes were ended")) << S(rig.err).toStdString();
    } // kvctl is gone
    EXPECT_TRUE(kvtest::WaitUntil([] { return kvtest::RunningProcesses("sleep 623.25") == 0; }, 10000));
}
