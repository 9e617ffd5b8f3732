// The bench file: the example in the tree reads whole; every value that
// does not read, every key or section unknown or given twice, is refused
// with its line; what a run needs (due dates, traceability, values) is
// judged before the device is touched; the command line's options win.
#include "Bench.h"
#include "Uncertainty.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <functional>

using namespace kv::station;

namespace {

const QDate kToday(2026, 12, 6);

QString Joined(const QStringList& l) { return l.join(QStringLiteral(" | ")); }

const TBenchNeeds kInput{false, false, false, {"R500", "R5K", "UREF"}, false, true};
const TBenchNeeds kOutput{true, true, true, {}, false, false};

// A bench file with everything both calibrations need, due long after today.
QString GoodBench() {
    return QStringLiteral(
        "[Meter]\nPort=/dev/ttyUSB1\nSerial=MY41000123\nCertificate=C-17\nDue=2027-03-01\n"
        "DCI=0.050% + 0.020% @ 10 mA; 0.050% + 0.005% @ 100 mA\nDCV=0.0035% + 0.0005% @ 10 V\n"
        "[Reference R500]\nValue=500.012\nUncertainty=0.002\nSerial=R1\nCertificate=C-18\nDue=2027-01-01\n"
        "[Reference R5K]\nValue=4999.87\nUncertainty=0.02\nSerial=R2\nCertificate=C-19\nDue=2027-01-01\n"
        "[Reference UREF]\nValue=125.000\nUncertainty=0.005\nSerial=U1\nCertificate=C-20\nDue=2027-01-01\n"
        "[Fixture]\nCommand=/opt/line3/relay\n");
}

TBench Read(const QString& text, QStringList* problems = nullptr) {
    TBench b;
    b.Path = QStringLiteral("test.bench");
    const QStringList p = ParseBench(text, b);
    if (problems)
        *problems = p;
    else
        EXPECT_TRUE(p.isEmpty()) << Joined(p).toStdString();
    return b;
}

} // namespace

TEST(Bench, TheExampleForTheSimulatorReadsWholeAndServesBothCalibrations) {
    TBench b;
    const QStringList problems = ReadBench(QStringLiteral(KV_SOURCE_DIR "/station/examples/kvsim.bench"), b);
    ASSERT_TRUE(problems.isEmpty()) << Joined(problems).toStdString();
    EXPECT_TRUE(BenchProblems(b, kToday, kInput).isEmpty()) << Joined(BenchProblems(b, kToday, kInput)).toStdString();
    EXPECT_TRUE(BenchProblems(b, kToday, kOutput).isEmpty()) << Joined(BenchProblems(b, kToday, kOutput)).toStdString();
    ASSERT_TRUE(b.Meter);
    EXPECT_EQ(b.Meter->Line.Port, QStringLiteral("/tmp/meter0"));
    EXPECT_EQ(b.Meter->Line.Settings(), (TMBLineSettings{8, TMBParity::None, 1, TMBHandshake::None, true, true}));
    ASSERT_EQ(b.Meter->Current.Ranges.size(), 3u);
    EXPECT_DOUBLE_EQ(b.Meter->Current.Ranges[0].Range, 0.01);
    EXPECT_DOUBLE_EQ(b.Meter->Current.Ranges[0].PercentOfReading, 0.005);
    EXPECT_DOUBLE_EQ(b.Meter->Current.Ranges[0].PercentOfRange, 0.001);
    // 4 mA on the 10 mA range: 0.2 uA + 0.1 uA.
    EXPECT_NEAR(b.Meter->Current.For(0.004)->Limit(0.004), 0.3e-6, 1e-12);
    // The example's meter can judge the default output tolerance (0.1 % of
    // 16 mA) under guarded acceptance: at 20 mA its stated accuracy alone
    // leaves a test uncertainty ratio above 4; a 6.5-digit meter's own DCI
    // accuracy would leave one below 1.
    const auto meter = FromStatedAccuracy(QStringLiteral("meter"), b.Meter->Current, 0.020, 1000, QStringLiteral("mA"), 1);
    ASSERT_TRUE(meter);
    TBudget budget;
    budget.Components = {*meter};
    EXPECT_GT(TestUncertaintyRatio(0.016, budget.Expanded()), 4.0);
    TFunctionAccuracy classic;
    classic.Ranges = {{0.1, 0.05, 0.005, 0}};
    budget.Components = {*FromStatedAccuracy(QStringLiteral("meter"), classic, 0.020, 1000, QStringLiteral("mA"), 1)};
    EXPECT_LT(TestUncertaintyRatio(0.016, budget.Expanded()), 1.0);
    // Its source holds every point a calibration verifies (up to 4500 ohm on
    // the 5 kohm paths), and its fixture's leads are kvsim's.
    ASSERT_TRUE(b.Source);
    EXPECT_TRUE(b.Source->Resistance.For(4500.0));
    EXPECT_TRUE(b.Source->Voltage.For(80.0));
    EXPECT_DOUBLE_EQ(b.FixtureLeadsOhm, 0.6);
    EXPECT_EQ(b.Meter->Voltage.For(10.0)->Range, 10.0);
    EXPECT_EQ(b.References.size(), 3u);
    EXPECT_EQ(b.References.at("UREF").Unit, QStringLiteral("mV"));
    EXPECT_EQ(b.FixtureTimeoutS, 60);
    EXPECT_EQ(b.Verification.Points, (std::vector<double>{0, 25, 50, 75, 100}));
    EXPECT_TRUE(QRegularExpression(b.Meter->Identity)
                    .match(QStringLiteral("KVSIM,BENCH METER 6.5 DIGIT (SIMULATED),SIM2,1.0"))
                    .hasMatch());
}

// Values as a metrologist writes them: units with SI prefixes, the unit a
// reference is certified in, accuracies with or without blanks.
TEST(Bench, ValuesReadInTheirUnits) {
    struct {
        const char* text;
        std::function<void(const TBench&)> check;
    } const table[] = {
        {"[Reference UREF]\nValue=0.125 V\nUncertainty=5 uV",
         [](const TBench& b) {
             EXPECT_DOUBLE_EQ(b.References.at("UREF").Value, 125.0);
             EXPECT_DOUBLE_EQ(b.References.at("UREF").Uncertainty, 0.005);
         }},
        {"[Reference r500]\nValue=0.500012 kohm\nUncertainty=2 mohm",
         [](const TBench& b) {
             EXPECT_DOUBLE_EQ(b.References.at("R500").Value, 500.012);
             EXPECT_DOUBLE_EQ(b.References.at("R500").Uncertainty, 0.002);
         }},
        {"[Reference R100K]\nValue=100.002 kΩ\nUncertainty=4 ohm",
         [](const TBench& b) {
             EXPECT_DOUBLE_EQ(b.References.at("R100K").Value, 100002.0);
             EXPECT_EQ(b.References.at("R100K").Unit, QStringLiteral("ohm"));
         }},
        {"[Meter]\nDCV=35ppm+5ppm@10V;0.0045%+0.0006%@100V",
         [](const TBench& b) {
             ASSERT_EQ(b.Meter->Voltage.Ranges.size(), 2u);
             EXPECT_DOUBLE_EQ(b.Meter->Voltage.Ranges[0].PercentOfReading, 0.0035);
             EXPECT_DOUBLE_EQ(b.Meter->Voltage.Ranges[0].PercentOfRange, 0.0005);
             EXPECT_EQ(b.Meter->Voltage.For(50.0)->Range, 100.0);
             EXPECT_EQ(b.Meter->Voltage.For(150.0), nullptr);
         }},
        {"[Source]\nDCV=0.01 % + 2 uV @ 100 mV\nOHM=0.002% + 5e+0 mohm @ 400 ohm",
         [](const TBench& b) {
             EXPECT_DOUBLE_EQ(b.Source->Voltage.Ranges[0].Range, 100.0);
             EXPECT_DOUBLE_EQ(b.Source->Voltage.Ranges[0].Floor, 0.002);
             EXPECT_DOUBLE_EQ(b.Source->Resistance.Ranges[0].Floor, 0.005);
             EXPECT_DOUBLE_EQ(b.Source->Resistance.Ranges[0].PercentOfRange, 0.0);
         }},
        {"[meter]\nparity=Even\ndatabits=7\nstopbits=2\nhandshake=DTR-DSR\nterminator=crlf\nrts=off\nEcho=on\nPrompt==>",
         [](const TBench& b) {
             EXPECT_EQ(b.Meter->Line.Settings(), (TMBLineSettings{7, TMBParity::Even, 2, TMBHandshake::DtrDsr, true, false}));
             EXPECT_EQ(b.Meter->Line.Terminator, QStringLiteral("\r\n"));
             EXPECT_TRUE(b.Meter->Echo);
             EXPECT_EQ(b.Meter->Prompt, QStringLiteral("=>"));
         }},
        {"[Settling]\nBand=0.002 %\nCurrentFloor=0.5 uA\nReadings=4\nTimeLimit=30 s\n[Fixture]\nTimeout=120",
         [](const TBench& b) {
             EXPECT_DOUBLE_EQ(b.Settling.Band, 2e-5);
             EXPECT_DOUBLE_EQ(b.Settling.CurrentFloor, 0.5e-6);
             EXPECT_EQ(b.Settling.Readings, 4);
             EXPECT_EQ(b.Settling.TimeoutMs, 30000);
             EXPECT_EQ(b.FixtureTimeoutS, 120);
         }},
        {"[Fixture]\nCommand=relay\nLeads=35 mohm", [](const TBench& b) { EXPECT_DOUBLE_EQ(b.FixtureLeadsOhm, 0.035); }},
        {"[Verification]\nPoints=10%, 50, 90 %\nRule=simple\nInputTolerance=0.1 %\nOutputTolerance=0.05%",
         [](const TBench& b) {
             EXPECT_EQ(b.Verification.Points, (std::vector<double>{10, 50, 90}));
             EXPECT_EQ(b.Verification.Rule, TDecisionRule::Simple);
             EXPECT_DOUBLE_EQ(*b.Verification.InputPercentOfSpan, 0.1);
             EXPECT_DOUBLE_EQ(*b.Verification.OutputPercentOfSpan, 0.05);
         }},
        {"\xEF\xBB\xBF; a comment\r\n[Station]\r\nLab = Kalibráló labor \r\n# another\r\n",
         [](const TBench& b) { EXPECT_EQ(b.Station.Lab, QStringLiteral("Kalibráló labor")); }},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.text);
        row.check(Read(QString::fromUtf8(row.text)));
    }
}

// Anything unreadable or ambiguous is refused with its line: the run never
// guesses which of two values a file meant.
TEST(Bench, WhatDoesNotReadIsRefusedWithItsLine) {
    struct {
        const char* text;
        const char* problem;
    } const table[] = {
        {"this line is junk", "line 1: \"this line is junk\" is neither [Section] nor Key=Value"},
        {"Port=/dev/ttyS0\n[Meter]", "line 1: Port stands before any [Section]"},
        {"[Metre]\nPort=x", "line 1: [Metre] is no section of a bench file"},
        {"[Reference]\nValue=1", "line 1: [Reference] is no section"},
        {"[Meter]\nBaudrate=9600", "line 2: [Meter]: Baudrate is no key of it (Port, Baud,"},
        {"[Meter]\nBaud=9600\nbaud=4800", "line 3: [Meter]: Baud again (first at line 2): which one holds?"},
        {"[Meter]\n[Station]\n[meter]", "line 3: [Meter] again (first at line 1)"},
        {"[Reference R500]\n[Reference r500]", "line 2: [Reference R500] again (first at line 1)"},
        {"[Meter]\nBaud=96OO", "line 2: [Meter] Baud: \"96OO\" is not a whole number from 50 to 4000000"},
        {"[Meter]\nStopBits=1.5", "[Meter] StopBits: \"1.5\" is not a whole number from 1 to 2"},
        {"[Meter]\nDataBits=6", "[Meter] DataBits: \"6\" is not a whole number from 7 to 8"},
        {"[Meter]\nParity=space", "[Meter] Parity: \"space\" is not none, even, odd"},
        {"[Meter]\nHandshake=xon-xoff", "[Meter] Handshake: \"xon-xoff\" is not none, dtr-dsr, rts-cts"},
        {"[Meter]\nTerminator=cr", "[Meter] Terminator: \"cr\" is not lf, crlf"},
        {"[Meter]\nHandshake=dtr-dsr\nDTR=off", "line 1: [Meter]: the DTR/DSR handshake with DTR inactive"},
        {"[Meter]\nIdentity=KVSIM(", "[Meter] Identity: \"KVSIM(\" is no regular expression"},
        {"[Meter]\nDue=2026-02-30", "[Meter] Due: \"2026-02-30\" is not a date YYYY-MM-DD"},
        {"[Meter]\nDue=31.12.2026", "[Meter] Due: \"31.12.2026\" is not a date"},
        {"[Meter]\nDCI=0.05% + 0.02%", "[Meter] DCI: \"0.05% + 0.02%\" has no @ range"},
        {"[Meter]\nDCI=0.05% @ 10", "[Meter] DCI: \"10\" is no range"},
        {"[Meter]\nDCI=0.05% @ 10 mV", "\"10 mV\" is no range"},
        {"[Meter]\nDCI=0.05% + 0.02 V @ 10 mA", "[Meter] DCI: \"0.02 V\" is no term"},
        {"[Meter]\nDCI=0.05% + 0.02% + 0.01% @ 10 mA", "a third per cent term"},
        {"[Meter]\nDCI=0.05% @ 100 mA; 0.05% @ 10 mA", "the ranges go from the smallest up"},
        {"[Meter]\nDCI= @ 10 mA", "is no term of"},
        {"[Reference R500]\nValue=500 V", "[Reference R500] Value: \"500 V\" is not a number in ohm"},
        {"[Reference R500]\nValue=-500", "[Reference R500] Value: \"-500\" must be above 0"},
        {"[Reference R500]\nValue=500,012", "is not a number in ohm"},
        {"[Reference RX]\nValue=10", "[Reference RX] Value: \"10\" is not a number with its unit"},
        {"[Reference RX]\nValue=10 V\nUncertainty=1 ohm", "[Reference RX] Uncertainty: \"1 ohm\" is not in V, the value's unit"},
        {"[Reference R 500]", "[Reference R 500] is no section"},
        {"[Fixture]\nTimeout=0.5", "[Fixture] Timeout: \"0.5\" is not whole seconds from 1 to 3600"},
        {"[Fixture]\nTimeout=1 h", "[Fixture] Timeout: \"1 h\" is not a number with a unit in s"},
        {"[Settling]\nBand=20", "[Settling] Band: \"20\" is not a number with % or ppm"},
        {"[Settling]\nReadings=1", "[Settling] Readings: \"1\" is not a whole number from 2 to 50"},
        {"[Verification]\nPoints=0, 50, 25", "[Verification] Points: \"0, 50, 25\" is not per cent of the range"},
        {"[Verification]\nPoints=0, 150", "is not per cent of the range"},
        {"[Verification]\nRule=strict", "[Verification] Rule: \"strict\" is not guarded, simple"},
        {"[Verification]\nInputTolerance=0.1", "\"0.1\" is not per cent of the span"},
        {"[Station]\nLab=a\x01" "b", "[Station] Lab: a control character in the text"},
        {"[Station]\nLab=\xC3\x28", "[Station] Lab: not UTF-8 text"},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.text);
        QStringList problems;
        Read(QString::fromUtf8(row.text), &problems);
        EXPECT_TRUE(Joined(problems).contains(QString::fromUtf8(row.problem))) << Joined(problems).toStdString();
    }
}

// What a run needs of the bench, judged before the device is touched.
TEST(Bench, ARunIsRefusedForAnInstrumentPastItsDueDateOrAFieldItNeeds) {
    const auto without = [](const char* line) { return GoodBench().replace(QString::fromUtf8(line), QString()); };
    struct {
        const char* what;
        QString text;
        TBenchNeeds needs;
        const char* problem; // "" when the run may start
        bool fromFile = true;
    } const table[] = {
        {"good, input", GoodBench(), kInput, ""},
        {"good, output", GoodBench(), kOutput, ""},
        {"due today is still in date", QString(GoodBench()).replace("2027-03-01", "2026-12-06"), kOutput, ""},
        {"meter past due", QString(GoodBench()).replace("2027-03-01", "2026-12-05"), kOutput,
         "[Meter] is past its due date (2026-12-05; today is 2026-12-06)"},
        {"a reference past due", QString(GoodBench()).replace("Serial=R2\nCertificate=C-19\nDue=2027-01-01", "Serial=R2\nCertificate=C-19\nDue=2026-11-30"),
         kInput, "[Reference R5K] is past its due date (2026-11-30"},
        {"the meter past due does not hold up the input calibration", QString(GoodBench()).replace("2027-03-01", "2020-01-01"),
         kInput, ""},
        {"no meter serial", without("Serial=MY41000123\n"), kOutput, "[Meter] has no Serial: the bench file names each instrument"},
        {"no due date", without("Due=2027-03-01\n"), kOutput, "[Meter] has no Due"},
        {"no current accuracy", without("DCI=0.050% + 0.020% @ 10 mA; 0.050% + 0.005% @ 100 mA\n"), kOutput,
         "[Meter] has no DCI"},
        {"no meter port", without("Port=/dev/ttyUSB1\n"), kOutput, "[Meter] has no Port, and no --meter PORT was given"},
        {"no uncertainty", without("Uncertainty=0.005\n"), kInput, "[Reference UREF] has no Uncertainty (expanded, k = 2, in mV)"},
        {"no reference", QString(GoodBench()).replace("[Reference R5K]\nValue=4999.87\nUncertainty=0.02", "[Reference R5000]\nValue=4999.87 ohm\nUncertainty=0.02 ohm"), kInput,
         "the bench has no [Reference R5K], which the run measures against"},
        {"no fixture", without("[Fixture]\nCommand=/opt/line3/relay\n"), kInput, "[Fixture] has no Command, and no --fixture CMD"},
        {"a source the run drives", GoodBench(), {false, false, false, {}, true, false}, "the bench has no [Source]"},
        // A verification uses the meter and the source when the bench has them.
        {"a meter used if any: judged", QString(GoodBench()).replace("2027-03-01", "2026-12-05"),
         {false, false, false, {}, false, false, true, false}, "[Meter] is past its due date"},
        {"a meter used if any: none", without("Port=/dev/ttyUSB1\n"), {false, false, false, {}, false, false, true, false}, ""},
        {"a source used if any: none", GoodBench(), {false, false, false, {}, false, false, false, true}, ""},
        {"a source used if any: judged",
         GoodBench() + "[Source]\nSerial=S1\nCertificate=C-9\nDue=2026-01-01\nOHM=0.001% + 2 mohm @ 500 ohm\n",
         {false, false, false, {}, false, false, false, true}, "[Source] is past its due date"},
        {"options alone: values, no traceability", QString(), kInput, "no fixture: give --fixture CMD", false},
        {"options alone: the meter's port", QString(), kOutput, "no meter: give --meter PORT", false},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.what);
        TBench b = Read(row.text);
        if (!row.fromFile)
            b.Path.clear();
        const QString problems = Joined(BenchProblems(b, kToday, row.needs));
        if (*row.problem)
            EXPECT_TRUE(problems.contains(QString::fromUtf8(row.problem))) << problems.toStdString();
        else
            EXPECT_TRUE(problems.isEmpty()) << problems.toStdString();
    }
}

// Options on the command line win over the file; a reference they name
// keeps the file's traceability, a name the bench does not know is refused.
TEST(Bench, CommandLineOptionsOverrideTheFile) {
    TBench b = Read(GoodBench());
    TBenchOverrides o;
    o.MeterPort = QStringLiteral("/dev/ttyUSB7");
    o.MeterBaud = 4800;
    o.References = QStringLiteral("R500=500.020,uref=124.9");
    o.FixtureCommand = QStringLiteral("relay2");
    o.FixtureTimeoutS = 2;
    EXPECT_TRUE(ApplyOverrides(b, o).isEmpty());
    EXPECT_EQ(b.Meter->Line.Port, QStringLiteral("/dev/ttyUSB7"));
    EXPECT_EQ(b.Meter->Line.Baud, 4800u);
    EXPECT_EQ(b.Meter->Trace.Serial, QStringLiteral("MY41000123"));
    EXPECT_DOUBLE_EQ(b.References.at("R500").Value, 500.020);
    EXPECT_EQ(b.References.at("R500").Trace.Certificate, QStringLiteral("C-18"));
    EXPECT_DOUBLE_EQ(b.References.at("UREF").Value, 124.9);
    EXPECT_DOUBLE_EQ(b.References.at("R5K").Value, 4999.87);
    EXPECT_EQ(b.FixtureCommand, QStringLiteral("relay2"));
    EXPECT_EQ(b.FixtureTimeoutS, 2);
    EXPECT_TRUE(BenchProblems(b, kToday, kInput).isEmpty());
    TBenchOverrides points;
    points.Points = QStringLiteral("5,50%, 95");
    EXPECT_TRUE(ApplyOverrides(b, points).isEmpty());
    EXPECT_EQ(b.Verification.Points, (std::vector<double>{5, 50, 95}));
    points.Points = QStringLiteral("50,25");
    EXPECT_TRUE(Joined(ApplyOverrides(b, points)).contains(QLatin1String("--points: \"50,25\" is not per cent of the range")));

    struct {
        const char* references;
        const char* problem;
    } const bad[] = {
        {"R1K=1000", "--references: R1K is no reference of the bench (R500, R5K, UREF)"},
        {"R500=500,R500=501", "--references: R500 is given twice"},
        {"R500=0", "--references: R500 needs a number above 0"},
        {"500", "--references: \"500\" is not NAME=VALUE"},
    };
    for (const auto& row : bad) {
        TBench again = Read(GoodBench());
        TBenchOverrides r;
        r.References = QString::fromLatin1(row.references);
        EXPECT_TRUE(Joined(ApplyOverrides(again, r)).contains(QString::fromLatin1(row.problem)))
            << row.references << ": " << Joined(ApplyOverrides(again, r)).toStdString();
    }

    // Options alone: a reference without a file has a value only, and a
    // run from options alone asks no more of it.
    TBench options;
    TBenchOverrides only;
    only.References = QStringLiteral("R5K=5001");
    only.FixtureCommand = QStringLiteral("relay");
    EXPECT_TRUE(ApplyOverrides(options, only).isEmpty());
    EXPECT_EQ(options.References.at("R5K").Unit, QStringLiteral("ohm"));
    EXPECT_TRUE(BenchProblems(options, kToday, kInput).isEmpty());
}

TEST(Bench, AFileThatCannotBeReadSaysWhy) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QFile big(dir.filePath(QStringLiteral("big.bench")));
    ASSERT_TRUE(big.open(QIODevice::WriteOnly));
    big.write(QByteArray(70 * 1024, ';'));
    big.close();
    struct {
        QString path;
        const char* problem;
    } const table[] = {
        {dir.filePath(QStringLiteral("missing.bench")), "no such file"},
        {dir.path(), "a folder"},
        {big.fileName(), "larger than 65536 bytes"},
        {QStringLiteral("/dev/null"), "not a regular file"},
    };
    for (const auto& row : table) {
        TBench b;
        EXPECT_EQ(Joined(ReadBench(row.path, b)), QString::fromLatin1(row.problem)) << row.path.toStdString();
    }
}
