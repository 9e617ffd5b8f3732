// kvctl's certificates, the same for every command that writes one: what
// must hold before the device is touched, the identity a run's facts carry
// (--serial, --ambient, the bench's station, names in one normal form), the
// number claimed for each certificate and its files.
#include "KvCtl.h"

#include "Certificate.h"
#include "CertificateNumber.h"
#include "KvVersion.h"

#include <QFileInfo>
#include <QSysInfo>

#include <algorithm>

#include <unistd.h>

namespace kvctl {

bool TKvCtl::CertificateCanBeWritten() {
    const QString& path = a_->certificate;
    if (path.isEmpty())
        return true;
    // A certificate names the unit it is for: the protocol has no serial
    // number, so it is typed or scanned.
    if (a_->serial.isEmpty()) {
        Fail(exitUsage, QStringLiteral("--certificate needs --serial TEXT, the device's serial number or tag (typed or "
                                       "scanned); nothing was sent"));
        return false;
    }
    // The certificate's fonts and its register must be there before the
    // device is touched: a run that ends without its certificate has lost
    // it. (Its folder and files are checked with kvctl's other outputs.)
    QString why;
    if (!kv::cert::PdfFontsReady(&why)) {
        Fail(exitOutput, QStringLiteral("cannot write the certificate %1: %2; nothing was sent").arg(path, why));
        return false;
    }
    if (kv::CannotWrite(path, kv::TWriteWay::Whole).isEmpty()) {
        why = kv::cert::CannotClaim(kv::cert::RegisterFolderFor(path));
        if (!why.isEmpty()) {
            Fail(exitOutput, QStringLiteral("cannot number the certificate %1: %2; nothing was sent").arg(path, why));
            return false;
        }
    }
    return true;
}

void TKvCtl::PutIdentity(kv::cert::TFacts& f) const {
    // One text for one name in the PDF and the JSON alike, however it was
    // typed: an accent typed as a combining character is the accented letter.
    const auto nfc = [](const QString& s) { return s.trimmed().normalized(QString::NormalizationForm_C); };
    f.Serial = nfc(a_->serial);
    f.Ambient = nfc(a_->ambient);
    f.Operator = nfc(f.Operator);
    f.Station = {nfc(benchStation_.Lab), nfc(benchStation_.Address), nfc(benchStation_.Station), nfc(benchStation_.Procedure)};
    // The bench's source, which verification points of the input were taken
    // from, when the run did not name it.
    const bool inputPoints = std::any_of(f.Points.begin(), f.Points.end(),
                                         [](const kv::cert::TPoint& p) { return p.Quantity == QLatin1String("input"); });
    const bool named = std::any_of(f.References.begin(), f.References.end(),
                                   [](const kv::cert::TReference& r) { return r.Name == QLatin1String("source"); });
    if (benchSource_ && inputPoints && !named) {
        kv::cert::TReference source;
        source.Name = QStringLiteral("source");
        source.Identity = nfc(benchSource_->Name);
        source.Serial = benchSource_->Trace.Serial;
        source.Certificate = benchSource_->Trace.Certificate;
        source.Due = benchSource_->Trace.Due;
        f.References.push_back(source);
    }
}

bool TKvCtl::IssueCertificate(kv::cert::TFacts& facts, QString* error) {
    const QString& path = a_->certificate;
    const QString note =
        QStringLiteral("claimed %1 by kvctl " KV_VERSION " (process %2 on %3) for %4, serial %5\n")
            .arg(env_.now().toString(Qt::ISODateWithMs))
            .arg(::getpid())
            .arg(QSysInfo::machineHostName(), QFileInfo(path).absoluteFilePath(), facts.Serial);
    const auto claim = kv::cert::ClaimNumber(kv::cert::RegisterFolderFor(path), facts.Station.Station,
                                             env_.now().date(), note, error);
    if (!claim)
        return false;
    facts.CertificateNumber = claim->Number;
    QString ignored;
    if (!kv::cert::WriteCertificate(facts, path, error, CertificateLanguage())) {
        // The number stays taken; its claim says why it has no certificate.
        (void)kv::cert::RecordClaim(*claim, note + QStringLiteral("not issued: %1\n").arg(*error), &ignored);
        return false;
    }
    const kv::cert::TVerdict verdict = kv::cert::Verdict(facts);
    (void)kv::cert::RecordClaim(*claim,
                                note + QStringLiteral("issued %1 and %2: %3\n")
                                           .arg(QFileInfo(path).absoluteFilePath(),
                                                QFileInfo(kv::cert::JsonPathFor(path)).absoluteFilePath(), verdict.Title()),
                                &ignored);
    return true;
}

QJsonObject TKvCtl::CertificateJson(kv::cert::TFacts facts) const {
    PutIdentity(facts);
    return kv::cert::ToJson(facts);
}

} // namespace kvctl
