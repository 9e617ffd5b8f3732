#pragma once
// Two finished calibrations as a certificate shows them: the tests' and the
// benchmark's typical certificates.
#include "Certificate.h"
#include "DeviceRecords.h"

#include <QTimeZone>

#include <tuple>

namespace kv::cert::samples {

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

} // namespace kv::cert::samples
