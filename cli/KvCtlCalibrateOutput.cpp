// kvctl calibrate output: the output calibration wizard without a window,
// against a bench meter on a serial port (CalibrateOutput.h), with its
// summary or its JSON facts, and its certificate.
#include "KvCtl.h"
#include "KvCtlJson.h"
#include "KvVersion.h"

#include "Certificate.h"
#include "LocalDate.h"

#include <QCoreApplication>
#include <QJsonDocument>

namespace kvctl {

void TKvCtl::RunCalibrateOutput() {
    TArgs& a = *a_;
    if (a.meter.isEmpty() && a.bench.isEmpty()) {
        Fail(exitUsage, QStringLiteral("calibrate output needs --meter PORT, the bench meter's serial port, or a bench "
                                       "file (--bench) (kvctl help calibrate)"));
        return;
    }
    if (a.given.contains(QStringLiteral("--fixture")) && a.fixture.trimmed().isEmpty()) {
        Fail(exitUsage, QStringLiteral("calibrate output --fixture needs a command, or leave it out when the meter's "
                                       "leads are on both outputs"));
        return;
    }
    TBenchNeeds needs;
    needs.Meter = needs.MeterCurrent = needs.MeterVoltage = true;
    TBench bench;
    if (!CalibrationBench(needs, bench))
        return;
    if (!CertificateCanBeWritten())
        return;
    if (!OpenLink())
        return;
    TCalibrateOutput::TSetup setup;
    setup.Meter = *bench.Meter;
    setup.SettleMs = a.settleMs;
    setup.Settling = bench.Settling;
    setup.Monotonic = env_.monotonic;
    setup.Operator = a.operatorName;
    setup.Port = a.port;
    setup.Version = QStringLiteral("kvctl " KV_VERSION);
    setup.Now = env_.now;
    setup.Today = kv::DateAskedOncePerSecond([this] { return env_.now().date(); }, env_.monotonic);
    setup.Timers = env_.timers;
    setup.MakeMeterPort = env_.makeMeterPort;
    setup.Fixture = bench.FixtureCommand;
    setup.FixtureTimeoutS = bench.FixtureTimeoutS;
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
    if (!calibrateOutput_->Start(why))
        Fail(exitNoAnswer, why);
}

void TKvCtl::CalibrateOutputFinished() {
    const TArgs& a = *a_;
    const TCalibrateOutput& run = *calibrateOutput_;
    kv::cert::TFacts facts = run.Facts();
    PutIdentity(facts);
    const kv::cert::TVerdict verdict = kv::cert::Verdict(facts);
    const bool reachedDevice = facts.Device.Before.Known;

    int code = exitDiffers;
    switch (run.End()) {
    case TCalibrateOutput::TEnd::Passed: code = exitOK; break;
    case TCalibrateOutput::TEnd::NoAnswer: code = exitNoAnswer; break;
    case TCalibrateOutput::TEnd::Interrupted: code = exitInterrupted; break;
    case TCalibrateOutput::TEnd::Refused: code = exitUsage; break;
    default: break;
    }
    QString failure = verdict.Passed ? QString() : verdict.Reason;
    if (run.End() == TCalibrateOutput::TEnd::Refused)
        Err(QStringLiteral("kvctl: calibrate output refused: %1; nothing was sent to the device\n").arg(facts.Failure));
    else if (!verdict.Passed && run.End() != TCalibrateOutput::TEnd::Interrupted)
        Err(QStringLiteral("kvctl: calibrate output failed: %1\n").arg(verdict.Reason));
    if (MeterAnswered(run.MeterFault()))
        Err(QStringLiteral("kvctl: the meter answered: a fault of the wiring or of the bench, not of the line\n"));

    // The certificate before the result, so that the result can say whether
    // it was written. One that cannot be written is an output lost (exit 4),
    // unless the device stopped answering or the run was interrupted.
    if (!a.certificate.isEmpty()) {
        if (!reachedDevice) {
            Err(QStringLiteral("kvctl: no certificate: the run ended before it reached the device\n"));
        } else {
            QString error;
            if (IssueCertificate(facts, &error)) {
                Err(QStringLiteral("kvctl: certificate %1 and %2, No. %3 (%4)\n")
                        .arg(a.certificate, kv::cert::JsonPathFor(a.certificate), facts.CertificateNumber,
                             verdict.Title()));
            } else {
                Err(QStringLiteral("kvctl: cannot write the certificate: %1\n").arg(error));
                failure = QStringLiteral("cannot write the certificate: %1").arg(error);
                if (code == exitOK || code == exitDiffers)
                    code = exitOutput;
            }
        }
    }

    if (a.json) {
        PrintJson(kv::cert::ToJson(facts), code, failure);
    } else {
        const double seconds = facts.Started.msecsTo(facts.Finished) / 1000.0;
        Out(QStringLiteral("calibrate output %1 on %2 (%3, firmware %4): %5 readings in %6 s\n")
                .arg(verdict.Title(), a.port,
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
                .arg(calibrateOutput_->Run().LastTaken()));
    else if (reachedDevice)
        Err(QStringLiteral("kvctl: forcing ended\n"));
    Finish(code);
}

} // namespace kvctl
