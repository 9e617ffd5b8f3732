// kvctl calibrate input: the input calibration run unattended on the poll
// cycle (CalibrateInput.h), its result on stdout, its certificate on disk.
#include "KvCtl.h"

#include "Certificate.h"
#include "KvCtlJson.h"
#include "KvVersion.h"
#include "LocalDate.h"

#include <QJsonDocument>

#include <cmath>

namespace kvctl {

namespace {

QString Figure(const std::optional<double>& v, const kv::cert::TCheck& c) {
    if (!v)
        return QStringLiteral("not measured");
    if (!std::isfinite(*v))
        return QStringLiteral("no value");
    return QStringLiteral("%1 (%2%3)")
        .arg(QString::number(*v, 'f', 4))
        .arg(*v >= c.Target ? QStringLiteral("+") : QString())
        .arg(QString::number(*v - c.Target, 'f', 4));
}

} // namespace

void TKvCtl::RunCalibrateInput() {
    const TArgs& a = *a_;
    TCalibrateInput::TSetup setup;
    if (a.bench.isEmpty() && a.fixture.trimmed().isEmpty() && !FixtureForTests) {
        Fail(exitUsage, QStringLiteral("calibrate input needs --fixture CMD, the command that connects the references "
                                       "(kvctl help calibrate), or a bench file (--bench); nothing was sent"));
        return;
    }
    TBenchNeeds needs;
    needs.References = {QStringLiteral("R500"), QStringLiteral("R5K"), QStringLiteral("UREF")};
    needs.Fixture = !FixtureForTests;
    TBench bench;
    if (!CalibrationBench(needs, bench))
        return;
    setup.References = InputReferencesOf(bench);
    if (!bench.Path.isEmpty())
        setup.BenchReferences = bench.References;
    // The certificate and its JSON are checked with every other output
    // before the device is touched (OpenLink); its fonts here.
    if (!CertificateCanBeWritten())
        return;
    setup.Fixture = bench.FixtureCommand;
    setup.FixtureTimeoutS = bench.FixtureTimeoutS;
    setup.Operator = a.operatorName;
    setup.Port = a.port;
    setup.Version = QStringLiteral("kvctl " KV_VERSION);
    setup.Now = env_.now;
    setup.RunFixture = FixtureForTests;
    setup.Progress = [this](const QString& line) { Err(line + QLatin1Char('\n')); };
    if (!OpenLink())
        return;
    setup.Timers = &link_->MBTimers();
    setup.Today = kv::DateAskedOncePerSecond([this] { return env_.now().date(); }, env_.monotonic);
    calibrateInput_ = std::make_unique<TCalibrateInput>(std::move(setup));
    TCalibrateInput& run = *calibrateInput_;
    // The run's own cycle: its switch byte, its pending commands.
    cycle_ = std::make_unique<kv::TPollCycle>(*link_, run, run);
    link_->OnMBMasterEndOfEvent = [this](TMBStatus s, const std::string& t) { cycle_->EndOfTransaction(s, t); };
    cycle_->OnEnd = [this](const kv::TCommandEnd& end) {
        calibrateInput_->Ended(end);
    };
    cycle_->OnPollAnswer = [this](const kv::PollAnswer& p) { calibrateInput_->Poll(p); };
    cycle_->OnSettingsRecord = [this](kv::TDeviceCommand c, const kv::SettingsRecord& r) {
        calibrateInput_->Settings(c, r);
    };
    link_->OnMBDeviceLost = [this] { calibrateInput_->Lost(QStringLiteral("the port hung up")); };
    run.OnFinished = [this] {
        cycle_->Stop();
        CalibrateInputDone();
    };
    run.Start();
    cycle_->StartPoll();
}

void TKvCtl::CalibrateInputDone() {
    const TArgs& a = *a_;
    kv::cert::TFacts facts = calibrateInput_->Facts();
    PutIdentity(facts);
    const kv::cert::TVerdict verdict = kv::cert::Verdict(facts);
    int code = exitDiffers;
    switch (calibrateInput_->End()) {
    case TCalibrateInput::TEnd::Passed: code = exitOK; break;
    case TCalibrateInput::TEnd::NoAnswer: code = exitNoAnswer; break;
    case TCalibrateInput::TEnd::Interrupted: code = exitInterrupted; break;
    default: break;
    }

    // A certificate for every run that reached the device; a run that did
    // not pass says so on every page. One that cannot be written is an
    // output lost (exit 4), unless the device stopped answering or the run
    // was interrupted, which say more.
    QString written, failure = verdict.Passed ? QString() : verdict.Reason;
    if (!a.certificate.isEmpty() && !facts.Device.Type.isEmpty()) {
        QString error;
        if (IssueCertificate(facts, &error)) {
            written = QStringLiteral("%1 (%2), %3")
                          .arg(a.certificate, facts.CertificateNumber, kv::cert::JsonPathFor(a.certificate));
        } else {
            Err(QStringLiteral("kvctl: cannot write the certificate: %1\n").arg(error));
            failure = QStringLiteral("cannot write the certificate: %1").arg(error);
            if (code == exitOK || code == exitDiffers)
                code = exitOutput;
        }
    }

    if (a.json) {
        PrintJson(kv::cert::ToJson(facts), code, failure);
    } else {
        QString text = QStringLiteral("%1 %2: input calibration %3 (%4 s)\n")
                           .arg(facts.Device.Type.isEmpty() ? QStringLiteral("device") : facts.Device.Type,
                                facts.Device.Firmware, verdict.Title())
                           .arg(QString::number(facts.Started.msecsTo(facts.Finished) / 1000.0, 'f', 1));
        if (!verdict.Passed)
            text += QStringLiteral("  %1\n").arg(verdict.Reason);
        for (const kv::cert::TCheck& c : facts.Checks)
            text += QStringLiteral("  %1 %2 %3: as found %4, as left %5, tolerance +-%6: %7\n")
                        .arg(c.Name, QString::number(c.Target, 'g', 10), c.Unit, Figure(c.AsFound, c),
                             Figure(c.AsLeft, c), QString::number(c.Tolerance, 'g', 6),
                             kv::cert::WithinTolerance(c, c.AsLeft) ? QStringLiteral("pass") : QStringLiteral("FAIL"));
        if (!written.isEmpty())
            text += QStringLiteral("  certificate: %1\n").arg(written);
        Out(text);
    }
    Finish(code);
}

} // namespace kvctl
