// kvctl calibrate output: the output calibration wizard without a window,
// against a bench meter on a serial port (CalibrateOutput.h), with its
// summary or its JSON facts, and its certificate.
#include "KvCtl.h"
#include "KvVersion.h"

#include "Certificate.h"
#include "LocalDate.h"

#include <QCoreApplication>
#include <QJsonDocument>

namespace kvctl {

void TKvCtl::RunCalibrateOutput() {
    TArgs& a = *a_;
    if (a.meter.isEmpty()) {
        Err(QStringLiteral("kvctl: calibrate output needs --meter PORT, the bench meter's serial port "
                           "(kvctl help calibrate)\n"));
        Finish(exitUsage);
        return;
    }
    if (!a.fixture.isEmpty() && a.fixture.trimmed().isEmpty()) {
        Err(QStringLiteral("kvctl: calibrate output --fixture needs a command, or leave it out when the meter's "
                           "leads are on both outputs\n"));
        Finish(exitUsage);
        return;
    }
    if (!OpenLink())
        return;
    TCalibrateOutput::TSetup setup;
    setup.MeterPort = a.meter;
    setup.MeterBaud = a.meterBaud;
    setup.SettleMs = a.settleMs;
    setup.Operator = a.operatorName;
    setup.Port = a.port;
    setup.Version = QStringLiteral("kvctl " KV_VERSION);
    setup.Now = env_.now;
    setup.Today = kv::DateAskedOncePerSecond([this] { return env_.now().date(); }, env_.monotonic);
    setup.Timers = env_.timers;
    setup.MakeMeterPort = env_.makeMeterPort;
    setup.Fixture = a.fixture;
    setup.RunFixture = FixtureForTests;
    setup.Progress = [this](const QString& line) { Err(QStringLiteral("kvctl: ") + line + QLatin1Char('\n')); };
    calibrateOutput_ = std::make_unique<TCalibrateOutput>(*link_, setup);
    calibrateOutput_->OnFinished = [this] { CalibrateOutputFinished(); };
    // The run's own cycle takes the link's ends; the hang-up of the port
    // leaves it nothing to send to.
    link_->OnMBMasterEndOfEvent = [this](TMBStatus s, const std::string& t) {
        calibrateOutput_->Cycle().EndOfTransaction(s, t);
    };
    link_->OnMBDeviceLost = [this] { calibrateOutput_->Lost(QStringLiteral("the port %1 hung up").arg(a_->port)); };
    QString why;
    if (!calibrateOutput_->Start(why)) {
        Err(QStringLiteral("kvctl: %1\n").arg(why));
        Finish(exitNoAnswer);
    }
}

void TKvCtl::CalibrateOutputFinished() {
    const TArgs& a = *a_;
    const TCalibrateOutput& run = *calibrateOutput_;
    const kv::cert::TFacts facts = run.Facts();
    const kv::cert::TVerdict verdict = kv::cert::Verdict(facts);
    const bool reachedDevice = facts.Device.Before.Known;

    if (a.json) {
        Out(QString::fromUtf8(QJsonDocument(kv::cert::ToJson(facts)).toJson(QJsonDocument::Indented)));
    } else {
        const double seconds = facts.Started.msecsTo(facts.Finished) / 1000.0;
        Out(QStringLiteral("calibrate output %1 on %2 (%3, firmware %4): %5 readings in %6 s\n")
                .arg(verdict.Passed ? QStringLiteral("PASSED") : QStringLiteral("FAILED"), a.port,
                     facts.Device.Type.isEmpty() ? QStringLiteral("no device seen") : facts.Device.Type,
                     facts.Device.Firmware.isEmpty() ? QStringLiteral("-") : facts.Device.Firmware)
                .arg(run.Run().Readings())
                .arg(seconds, 0, 'f', 1));
        if (!verdict.Passed)
            Out(QStringLiteral("why: %1\n").arg(verdict.Reason));
        for (const kv::cert::TReference& r : facts.References)
            Out(QStringLiteral("%1: %2\n").arg(r.Name, r.Identity));
        for (const QString& line : facts.Log)
            if (line.startsWith(QLatin1String("PWMFor")))
                Out(line + QLatin1Char('\n'));
        for (const kv::cert::TCheck& c : facts.Checks) {
            if (!c.AsLeft)
                continue;
            const double error = *c.AsLeft - c.Target;
            Out(QStringLiteral("%1 %2 %3, error %4 %3 (tolerance %5 %3): %6\n")
                    .arg(c.Name, -6)
                    .arg(*c.AsLeft, 0, 'f', 4)
                    .arg(c.Unit)
                    .arg(QString::number(error, 'f', 4))
                    .arg(c.Tolerance, 0, 'f', 3)
                    .arg(kv::cert::WithinTolerance(c, c.AsLeft) ? QStringLiteral("ok") : QStringLiteral("OUT")));
        }
        if (facts.Device.After.Known)
            Out(QStringLiteral("calibration date %1 -> %2\n")
                    .arg(facts.Device.Before.Date.isEmpty() ? QStringLiteral("none") : facts.Device.Before.Date,
                         facts.Device.After.Date));
    }
    if (reachedDevice && !run.ForcingEnded())
        Err(QStringLiteral("kvctl: the forcing could not be ended: the device's output may still be forced "
                           "(PWM word %1 was the last one it took)\n")
                .arg(calibrateOutput_->Run().PWMWord()));
    else if (reachedDevice)
        Err(QStringLiteral("kvctl: forcing ended\n"));

    int code = exitDiffers;
    switch (run.End()) {
    case TCalibrateOutput::TEnd::Passed: code = exitOK; break;
    case TCalibrateOutput::TEnd::NoAnswer: code = exitNoAnswer; break;
    case TCalibrateOutput::TEnd::Interrupted: code = exitInterrupted; break;
    default: break;
    }
    if (!verdict.Passed && run.End() != TCalibrateOutput::TEnd::Interrupted)
        Err(QStringLiteral("kvctl: calibrate output failed: %1\n").arg(verdict.Reason));

    if (!a.certificate.isEmpty()) {
        if (!reachedDevice) {
            Err(QStringLiteral("kvctl: no certificate: the run ended before it reached the device\n"));
        } else {
            QString error;
            if (kv::cert::WriteCertificate(facts, a.certificate, &error, CertificateLanguage())) {
                Err(QStringLiteral("kvctl: certificate %1 and %2 (%3)\n")
                        .arg(a.certificate, kv::cert::JsonPathFor(a.certificate),
                             verdict.Passed ? QStringLiteral("PASSED") : QStringLiteral("FAILED / NOT CALIBRATED")));
            } else {
                Err(QStringLiteral("kvctl: %1\n").arg(error));
                if (code == exitOK)
                    code = exitUsage;
            }
        }
    }
    Finish(code);
}

} // namespace kvctl
