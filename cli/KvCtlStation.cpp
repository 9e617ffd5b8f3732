// kvctl verify and calibrate input|output|all: the station's run on the line
// (station/StationRun.h) and what kvctl makes of it: the points with their
// errors, uncertainties and results, the verdict, the certificate, the exit
// code.
#include "KvCtl.h"

#include "Certificate.h"
#include "KvCtlJson.h"
#include "KvVersion.h"
#include "LocalDate.h"
#include "RunOutcome.h"

#include <QJsonDocument>

#include <cmath>

namespace kvctl {

namespace {

// Decimals that show a figure finer than its tolerance: two more than the
// tolerance's first significant digit (±0.1 °C: 3, ±0.016 mA: 4).
int Decimals(double tolerance) {
    if (!(tolerance > 0) || !std::isfinite(tolerance))
        return 3;
    return std::clamp(static_cast<int>(-std::floor(std::log10(tolerance))) + 2, 0, 9);
}

QString Fixed(double v, int decimals) {
    if (!std::isfinite(v))
        return QStringLiteral("n/a");
    if (std::fabs(v) < 0.5 * std::pow(10.0, -decimals))
        v = 0; // no sign on what rounds to zero
    return QString::number(v, 'f', decimals);
}

QString Signed(double v, int decimals) {
    const QString s = Fixed(v, decimals);
    return s.startsWith(QLatin1Char('-')) || s == QLatin1String("n/a") ? s : QLatin1Char('+') + s;
}

QString Reading(const kv::cert::TPointReading& r, int n) {
    if (r.Value)
        return Fixed(*r.Value, n);
    return r.Result ? QStringLiteral("no value") : QStringLiteral("-");
}

QString ResultText(const kv::cert::TPointReading& r) {
    if (r.Result)
        return *r.Result == kv::station::TOutcome::Fail ? QStringLiteral("FAIL") : kv::station::OutcomeName(*r.Result);
    return QStringLiteral("not measured");
}

// One line a point: what it is, its nominal value, what it read (as found
// and as left for a calibration), the error of the judged reading in the
// value's unit and in per cent of span, the tolerance, the expanded
// uncertainty and the result; why it has none below it.
QString PointsText(const kv::cert::TFacts& f) {
    const bool calibration = f.Kind != kv::cert::TKind::Verification;
    QString text = QStringLiteral("  %1 %2 %3 %4 %5 %6 %7 %8\n")
                       .arg(QStringLiteral("point"), -44)
                       .arg(QStringLiteral("nominal"), 13)
                       .arg(calibration ? QStringLiteral("as found") : QStringLiteral("reading"), 11)
                       .arg(calibration ? QStringLiteral("as left") : QString(), calibration ? 11 : 0)
                       .arg(QStringLiteral("error"), 10)
                       .arg(QStringLiteral("% span"), 8)
                       .arg(QStringLiteral("tolerance"), 10)
                       .arg(QStringLiteral("U (k=2)  result"), 16);
    for (const kv::cert::TPoint& p : f.Points) {
        const int n = Decimals(p.Tolerance);
        const kv::cert::TPointReading& judged = calibration ? p.AsLeft : p.AsFound;
        const QString name = QStringLiteral("%1 %2 % (%3)").arg(p.Quantity, QString::number(p.Percent, 'g', 6), p.Path);
        const QString unit = p.Unit.isEmpty() ? QString() : QLatin1Char(' ') + p.Unit;
        const double error = judged.Error.value_or(std::nan(""));
        const double u = judged.Budget ? judged.Budget->Expanded() : std::nan("");
        text += QStringLiteral("  %1 %2 %3 %4 %5 %6 %7 %8  %9\n")
                    .arg(name, -44)
                    .arg(Fixed(p.Nominal, n) + unit, 13)
                    .arg(Reading(p.AsFound, n), 11)
                    .arg(calibration ? Reading(p.AsLeft, n) : QString(), calibration ? 11 : 0)
                    .arg(Signed(error, n), 10)
                    .arg(Signed(kv::station::PercentOfSpan(error, p.Span), 3), 8)
                    .arg(QStringLiteral("±") + Fixed(p.Tolerance, n), 10)
                    .arg(Fixed(u, n), 7)
                    .arg(ResultText(judged));
        const QString why = !judged.NotMeasured.isEmpty() ? judged.NotMeasured
                            : !p.AsFound.NotMeasured.isEmpty() && !calibration ? p.AsFound.NotMeasured
                                                                               : QString();
        if (!why.isEmpty())
            text += QStringLiteral("      %1\n").arg(why);
    }
    return text;
}

// The adjustment's own checks, with the references it used: its record,
// which judges nothing.
QString ChecksText(const kv::cert::TFacts& f) {
    QString text;
    const auto figure = [](const std::optional<double>& v, const kv::cert::TCheck& c, int n) {
        if (!v)
            return QStringLiteral("-");
        return QStringLiteral("%1 (%2)").arg(Fixed(*v, n), Signed(*v - c.Target, n));
    };
    for (const kv::cert::TCheck& c : f.Checks) {
        const int n = Decimals(c.Tolerance);
        text += QStringLiteral("  check %1 %2 %3 (the adjustment's own): as found %4, as left %5, tolerance ±%6\n")
                    .arg(c.Name, QString::number(c.Target, 'g', 10), c.Unit, figure(c.AsFound, c, n),
                         figure(c.AsLeft, c, n), Fixed(c.Tolerance, n));
    }
    return text;
}

QString WhatText(kv::cert::TKind kind) {
    switch (kind) {
    case kv::cert::TKind::Input: return QStringLiteral("input calibration");
    case kv::cert::TKind::Output: return QStringLiteral("output calibration");
    case kv::cert::TKind::Verification: return QStringLiteral("verification");
    case kv::cert::TKind::All: return QStringLiteral("calibration");
    }
    return {};
}

} // namespace

void TKvCtl::RunStation(TStationRun::TWhat what, const TBenchNeeds& needs) {
    const TArgs& a = *a_;
    TBench bench;
    if (!CalibrationBench(needs, bench))
        return;
    // The certificate and its JSON are checked with every other output
    // before the device is touched (OpenLink); --serial, its fonts and its
    // number's register here.
    if (!CertificateCanBeWritten())
        return;
    if (!OpenLink())
        return;
    TStationRun::TSetup setup;
    setup.What = what;
    setup.Bench = bench;
    setup.SettleMs = a.settleMs;
    setup.Operator = a.operatorName;
    setup.Port = a.port;
    setup.Version = QStringLiteral("kvctl " KV_VERSION);
    setup.Now = env_.now;
    setup.Today = kv::DateAskedOncePerSecond([this] { return env_.now().date(); }, env_.monotonic);
    setup.Monotonic = env_.monotonic;
    setup.Timers = &link_->MBTimers();
    setup.MakeMeterPort = env_.makeMeterPort;
    setup.RunFixture = FixtureForTests;
    setup.Progress = [this](const QString& line) { Err(QStringLiteral("kvctl: ") + line + QLatin1Char('\n')); };
    station_ = std::make_unique<TStationRun>(*link_, std::move(setup));
    station_->OnFinished = [this] { StationDone(); };
    // The run's own cycle takes the link's ends; the hang-up of the port
    // leaves it nothing to send to.
    link_->OnMBMasterEndOfEvent = [this](TMBStatus s, const std::string& t) { station_->Cycle().EndOfTransaction(s, t); };
    link_->OnMBDeviceLost = [this] { station_->Lost(QStringLiteral("the port %1 hung up").arg(a_->port)); };
    QString why;
    if (!station_->Start(why))
        Fail(exitNoAnswer, why);
}

void TKvCtl::StationDone() {
    const TArgs& a = *a_;
    const TStationRun& run = *station_;
    kv::cert::TFacts facts = run.Facts();
    PutIdentity(facts);
    const kv::station::TVerdict verdict = kv::cert::VerdictOfFacts(facts);
    const bool passed = verdict.Kind == kv::station::TVerdictKind::Passed;
    const bool forces = facts.Kind == kv::cert::TKind::Output || facts.Kind == kv::cert::TKind::All;
    int code = exitDiffers;
    switch (run.End()) {
    case TStationRun::TEnd::Passed: code = exitOK; break;
    case TStationRun::TEnd::NoAnswer: code = exitNoAnswer; break;
    case TStationRun::TEnd::Interrupted: code = exitInterrupted; break;
    case TStationRun::TEnd::Refused: code = exitUsage; break;
    default: break;
    }
    const QString command = a.command == QLatin1String("verify") ? a.command : a.command + QLatin1Char(' ') + a.sub;
    if (run.End() == TStationRun::TEnd::Refused)
        Err(QStringLiteral("kvctl: %1 refused: %2; nothing was sent to the device\n").arg(command, facts.Failure));
    else if (!passed && run.End() != TStationRun::TEnd::Interrupted)
        Err(QStringLiteral("kvctl: %1: %2: %3\n").arg(command, kv::station::VerdictTitle(verdict.Kind), verdict.Reason));
    if (MeterAnswered(run.MeterFault()))
        Err(QStringLiteral("kvctl: the meter answered: a fault of the wiring or of the bench, not of the line\n"));

    // The certificate before the result, so that the result can say whether
    // it was written. One that cannot be written is an output lost (exit 4),
    // unless the device stopped answering or the run was interrupted.
    QString written, failure = passed ? QString() : verdict.Reason;
    if (!a.certificate.isEmpty()) {
        if (!run.ReachedDevice()) {
            Err(QStringLiteral("kvctl: no certificate: the run ended before it reached the device\n"));
        } else {
            QString error;
            if (IssueCertificate(facts, &error)) {
                written = QStringLiteral("%1 (No. %2), %3")
                              .arg(a.certificate, facts.CertificateNumber, kv::cert::JsonPathFor(a.certificate));
            } else {
                Err(QStringLiteral("kvctl: cannot write the certificate: %1\n").arg(error));
                failure = QStringLiteral("cannot write the certificate: %1").arg(error);
                if (code == exitOK || code == exitDiffers)
                    code = exitOutput;
            }
        }
    }

    if (a.json) {
        PrintJson(CertificateJson(facts), code, failure);
    } else {
        QString text = QStringLiteral("%1 %2 on %3: %4 %5 (%6 s)\n")
                           .arg(facts.Device.Type.isEmpty() ? QStringLiteral("no device seen") : facts.Device.Type,
                                facts.Device.Firmware, a.port, WhatText(facts.Kind), kv::station::VerdictTitle(verdict.Kind))
                           .arg(QString::number(facts.Started.msecsTo(facts.Finished) / 1000.0, 'f', 1));
        text += QStringLiteral("  %1\n").arg(verdict.Reason);
        if (!facts.Points.empty())
            text += PointsText(facts);
        text += QStringLiteral("  rule: %1\n").arg(kv::station::RuleName(facts.Rule));
        for (const QString& n : kv::cert::OutcomeOf(facts).NotVerified)
            text += QStringLiteral("  not verified: %1\n").arg(n);
        text += ChecksText(facts);
        for (const QString& line : facts.Log)
            if (line.startsWith(QLatin1String("PWMFor")))
                text += QStringLiteral("  %1\n").arg(line);
        for (const kv::cert::TReference& r : facts.References)
            if (!r.Identity.isEmpty())
                text += QStringLiteral("  %1: %2\n").arg(r.Name, r.Identity);
        if (facts.Device.After.Known)
            text += QStringLiteral("  calibration date %1 -> %2\n")
                        .arg(facts.Device.Before.Date.isEmpty() ? QStringLiteral("none") : facts.Device.Before.Date,
                             facts.Device.After.Date);
        if (!written.isEmpty())
            text += QStringLiteral("  certificate: %1\n").arg(written);
        Out(text);
    }
    if (forces && run.ReachedDevice()) {
        if (facts.ForcingEnded != kv::station::TPutBack::Yes)
            Err(QStringLiteral("kvctl: the forcing could not be ended: the device's output may still be forced "
                               "(PWM word %1 was the last one it took)\n")
                    .arg(run.LastTakenPWM()));
        else
            Err(QStringLiteral("kvctl: forcing ended\n"));
    }
    Finish(code);
}

} // namespace kvctl
