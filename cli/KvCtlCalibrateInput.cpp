// kvctl calibrate input: the input calibration run unattended on the poll
// cycle (CalibrateInput.h), its result on stdout, its certificate on disk.
#include "KvCtl.h"

#include "Certificate.h"
#include "KvVersion.h"
#include "LocalDate.h"

#include <QDir>
#include <QFileInfo>
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
    if (!a.references.isEmpty()) {
        const QString error = ParseReferences(a.references, setup.References);
        if (!error.isEmpty()) {
            Err(QStringLiteral("kvctl: --references: %1; nothing was sent\n").arg(error));
            Finish(exitUsage);
            return;
        }
    }
    if (a.fixture.trimmed().isEmpty() && !FixtureForTests) {
        Err(QStringLiteral("kvctl: calibrate input needs --fixture CMD, the command that connects the references "
                           "(kvctl help calibrate); nothing was sent\n"));
        Finish(exitUsage);
        return;
    }
    // The certificate's folder must be there before the device is touched.
    if (!a.certificate.isEmpty()) {
        const QFileInfo pdf(a.certificate);
        if (!pdf.absoluteDir().exists() || pdf.isDir()) {
            Err(QStringLiteral("kvctl: cannot write the certificate %1: no such folder, or a folder of that name; "
                               "nothing was sent\n")
                    .arg(a.certificate));
            Finish(exitUsage);
            return;
        }
    }
    setup.Fixture = a.fixture;
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
    const kv::cert::TFacts facts = calibrateInput_->Facts();
    const kv::cert::TVerdict verdict = kv::cert::Verdict(facts);
    int code = exitDiffers;
    switch (calibrateInput_->End()) {
    case TCalibrateInput::TEnd::Passed: code = exitOK; break;
    case TCalibrateInput::TEnd::NoAnswer: code = exitNoAnswer; break;
    case TCalibrateInput::TEnd::Interrupted: code = exitInterrupted; break;
    default: break;
    }

    // A certificate for every run that reached the device; a run that did
    // not pass says so on every page.
    QString written;
    if (!a.certificate.isEmpty() && !facts.Device.Type.isEmpty()) {
        QString error;
        if (kv::cert::WriteCertificate(facts, a.certificate, &error, CertificateLanguage())) {
            written = QStringLiteral("%1, %2").arg(a.certificate, kv::cert::JsonPathFor(a.certificate));
        } else {
            Err(QStringLiteral("kvctl: cannot write the certificate: %1\n").arg(error));
            if (code == exitOK)
                code = exitOutput;
        }
    }

    if (a.json) {
        Out(QString::fromUtf8(QJsonDocument(kv::cert::ToJson(facts)).toJson(QJsonDocument::Indented)));
    } else {
        QString text = QStringLiteral("%1 %2: input calibration %3 (%4 s)\n")
                           .arg(facts.Device.Type.isEmpty() ? QStringLiteral("device") : facts.Device.Type,
                                facts.Device.Firmware, verdict.Passed ? QStringLiteral("PASSED") : QStringLiteral("FAILED"))
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
