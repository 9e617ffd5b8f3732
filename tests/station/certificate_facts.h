#pragma once
// Finished calibrations and a verification as a certificate shows them:
// the tests' and the benchmark's typical certificates, with their identity,
// their instruments' traceability and their verification points, each with
// a budget as the station writes it.
#include "Certificate.h"
#include "DeviceRecords.h"
#include "Uncertainty.h"

#include <QTimeZone>

#include <cmath>
#include <tuple>

namespace kv::cert::samples {

using kv::station::TBudget;
using kv::station::TDecisionRule;
using kv::station::TOutcome;

// A reading of readings around `mean`, with a budget of the source's (or
// the meter's) expanded uncertainty `u2` (k = 2) and the resolution
// `digit`, judged under `rule`.
inline TPointReading Reading(double nominal, double tolerance, std::vector<double> readings, double u2, double digit,
                             const QString& unit, TDecisionRule rule = TDecisionRule::Guarded) {
    TPointReading r;
    double sum = 0;
    for (double x : readings)
        sum += x;
    r.Value = sum / double(readings.size());
    r.Readings = std::move(readings);
    TBudget b;
    b.Unit = unit;
    b.Components = {kv::station::FromExpanded(QStringLiteral("source, its certificate"), u2, 2, unit, 1),
                    kv::station::FromResolution(QStringLiteral("resolution"), digit, unit, 1)};
    if (auto rep = kv::station::FromRepeatability(QStringLiteral("repeatability"), r.Readings, unit, 1))
        b.Components.push_back(*rep);
    r.Result = kv::station::Decide(*r.Value - nominal, b.Expanded(), tolerance, rule);
    r.Budget = std::move(b);
    return r;
}

// The identity kvctl puts in: serial, ambient, the bench's station, a number.
inline void Identify(TFacts& f) {
    f.CertificateNumber = QStringLiteral("LINE-3-20261208-0007");
    f.Serial = QStringLiteral("SN-0042");
    f.Ambient = QStringLiteral("23.1C,45%RH");
    f.Station = {QStringLiteral("Calibration laboratory of the example plant"), QStringLiteral("1 Example Street, Budapest"),
                 QStringLiteral("Line 3"), QStringLiteral("KV-CAL-01 rev. 2")};
    f.InternalTemperatureStart = 31.25;
    f.InternalTemperatureEnd = 33.5;
    f.WorkingTimeMinutes = 17480;
}

// Five points of a Pt 100 on 4 wires over 0-200 °C, as found and as left.
inline std::vector<TPoint> InputPoints() {
    std::vector<TPoint> points;
    const struct {
        double percent, ohm, nominal;
    } rows[] = {{0, 100.000, 0.0},     {25, 119.397, 50.0008}, {50, 138.506, 100.0016},
                {75, 157.325, 150.0024}, {100, 175.856, 200.0015}};
    for (const auto& row : rows) {
        TPoint p;
        p.Quantity = QStringLiteral("input");
        p.Path = QStringLiteral("Pt 100, 4 wires");
        p.Percent = row.percent;
        p.Source = QStringLiteral("resistor %1").arg(row.ohm, 0, 'f', 3);
        p.Nominal = row.nominal;
        p.Unit = QStringLiteral("°C");
        p.Span = 200;
        p.Tolerance = 0.2;
        p.AsFound = Reading(p.Nominal, p.Tolerance, {row.nominal + 0.31, row.nominal + 0.312, row.nominal + 0.309}, 0.03,
                            0.001, p.Unit);
        p.AsLeft = Reading(p.Nominal, p.Tolerance, {row.nominal + 0.012, row.nominal + 0.013, row.nominal + 0.011}, 0.03,
                           0.001, p.Unit);
        points.push_back(p);
    }
    return points;
}

// The loop current at 4, 12 and 20 mA against a 6½-digit meter.
inline std::vector<TPoint> OutputPoints() {
    std::vector<TPoint> points;
    for (double percent : {0.0, 50.0, 100.0}) {
        TPoint p;
        p.Quantity = QStringLiteral("output");
        p.Path = QStringLiteral("4-20 mA");
        p.Percent = percent;
        p.Source = QStringLiteral("resistor %1").arg(100 + percent * 0.38506, 0, 'f', 3);
        p.Nominal = 4 + percent * 0.16;
        p.Unit = QStringLiteral("mA");
        p.Span = 16;
        p.Tolerance = 0.016;
        p.AsFound = Reading(p.Nominal, p.Tolerance, {p.Nominal + 0.02312, p.Nominal + 0.02314}, 0.003, 0.00001, p.Unit);
        p.AsLeft = Reading(p.Nominal, p.Tolerance, {p.Nominal + 0.00121, p.Nominal + 0.00123, p.Nominal + 0.00122},
                           0.003, 0.00001, p.Unit);
        points.push_back(p);
    }
    return points;
}

// A finished input calibration that passed.
inline TFacts InputRun() {
    TFacts f;
    f.Kind = TKind::Input;
    f.Device.Type = QStringLiteral("KV7730");
    f.Device.PCBIdentityAddress = 0;
    f.Device.Firmware = QStringLiteral("v2016-10-11");
    f.Device.Before = {true, QStringLiteral("2019-03-04")};
    f.Device.After = {true, QStringLiteral("2026-12-08")};
    f.Port = QStringLiteral("/dev/ttyUSB0");
    f.Started = QDateTime(QDate(2026, 12, 8), QTime(1, 2, 3, 456), QTimeZone(3600));
    f.Finished = f.Started.addMSecs(84250);
    f.Operator = QStringLiteral("Kovács Éva");
    f.ToolVersion = QStringLiteral("kvctl 1.0.0");
    f.References = {{QStringLiteral("R500"), 500.012, QStringLiteral("ohm"), {}},
                    {QStringLiteral("R5K"), 4999.87, QStringLiteral("ohm"), {}},
                    {QStringLiteral("UREF"), 125.0, QStringLiteral("mV"), {}}};
    TReference source{QStringLiteral("source"), 0, {}, QStringLiteral("decade box DB-7")};
    source.Serial = QStringLiteral("DB7-118");
    source.Certificate = QStringLiteral("CAL-2026-203");
    source.Due = QDate(2027, 6, 30);
    f.References.push_back(source);
    Identify(f);
    f.Points = InputPoints();
    f.Checks = {{QStringLiteral("R500"), QStringLiteral("ohm"), 500.012, 0.03, 501.234, 500.020},
                {QStringLiteral("R5K"), QStringLiteral("ohm"), 4999.87, 0.3, 4990.5, 4999.95}};
    kv::InputCalibrationRecord r;
    r.OFFSET_CH0 = -1234;
    r.RREF_500_3W = 500.12f;
    r.UREF = 1500.0f;
    r.OFFSET_CH0_3W_5K = 77;
    f.Command = kv::cmdWriteInputCalibration;
    f.Record = r.Encode();
    f.Written = WrittenValues(r);
    f.Write = TWrite::Acknowledged;
    for (int step = 1; step <= 22; ++step) {
        if (step > 1)
            f.Log << QString(43, QLatin1Char('-'));
        f.Log << QStringLiteral("Lépés %1:").arg(step) << QStringLiteral("OFFSET_CH0 =    -1 234")
              << QStringLiteral("RREF_500_3W = 500.12 ohm");
    }
    return f;
}

// A finished output calibration that passed: a meter, six figures.
inline TFacts OutputRun() {
    TFacts f = InputRun();
    f.Kind = TKind::Output;
    f.References = {{QStringLiteral("meter"), 0, {}, QStringLiteral("SIM,KV-DMM,0,1.0 on /dev/pts/4")}};
    f.References[0].Serial = QStringLiteral("DMM-77");
    f.References[0].Certificate = QStringLiteral("CAL-2026-117");
    f.References[0].Due = QDate(2027, 3, 31);
    f.Points = OutputPoints();
    f.Checks.clear();
    for (auto [name, unit, target, tol] :
         {std::tuple{"4 mA", "mA", 4.0, 0.005}, {"12 mA", "mA", 12.0, 0.005}, {"20 mA", "mA", 20.0, 0.005},
          {"2 V", "V", 2.0, 0.003}, {"6 V", "V", 6.0, 0.003}, {"10 V", "V", 10.0, 0.003}})
        f.Checks.push_back({QString::fromLatin1(name), QString::fromLatin1(unit), target, tol, target * 1.01,
                            target + tol / 2});
    kv::OutputCalibrationRecord r{1200, 60500, 11000, 54321};
    f.Command = kv::cmdWriteOutputCalibration;
    f.Record = r.Encode();
    f.Written = WrittenValues(r);
    f.Log = {QStringLiteral("Lépés 1:"), QStringLiteral("PWMForIL =  1 200")};
    return f;
}

// A verification of the input and the output, nothing written.
inline TFacts VerificationRun() {
    TFacts f = InputRun();
    f.Kind = TKind::Verification;
    f.Command = 0;
    f.Record.clear();
    f.Written.clear();
    f.Checks.clear();
    f.Write = TWrite::NotSent;
    f.Device.After = f.Device.Before;
    f.Points = InputPoints();
    for (TPoint& p : OutputPoints())
        f.Points.push_back(p);
    // A verification keeps its readings as found.
    for (TPoint& p : f.Points) {
        p.AsFound = p.AsLeft;
        p.AsLeft = {};
    }
    f.Log = {QStringLiteral("verification: 8 points")};
    return f;
}

} // namespace kv::cert::samples
