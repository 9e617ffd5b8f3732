#include "Certificate.h"

#include "CertificateText.h"
#include "Files.h"
#include "NumberPicture.h"
#include "StatusTexts.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocale>

#include <algorithm>
#include <charconv>
#include <cmath>

namespace kv::cert {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

// A difference without the noise of binary fractions (500.03 - 500 is
// 0.029999999999972715): to a nanounit, far below any meter's resolution.
double Clean(double x) {
    const double r = std::round(x * 1e9) / 1e9;
    return r == 0 ? 0.0 : r;
}

QString WriteStateName(TWrite w) {
    switch (w) {
    case TWrite::NotSent: return QStringLiteral("not-sent");
    case TWrite::Unacknowledged: return QStringLiteral("unacknowledged");
    case TWrite::Acknowledged: return QStringLiteral("acknowledged");
    }
    return {};
}

QJsonValue DateJson(const TCalibrationDate& d) {
    if (!d.Known)
        return QJsonValue::Null;
    return d.Date.isEmpty() ? QStringLiteral("uncalibrated") : d.Date;
}

QJsonValue Number(double v) { return std::isfinite(v) ? QJsonValue(v) : QJsonValue(QJsonValue::Null); }

QJsonValue Reading(const TCheck& c, const std::optional<double>& v) {
    if (!v)
        return QJsonValue::Null;
    return QJsonObject{{QStringLiteral("value"), Number(*v)},
                       {QStringLiteral("error"), Finite(v) ? Number(Clean(*v - c.Target)) : QJsonValue(QJsonValue::Null)},
                       {QStringLiteral("within_tolerance"), WithinTolerance(c, v)}};
}

} // namespace

// ---- texts the JSON and the PDF share ----------------------------------------------

bool Finite(const std::optional<double>& v) { return v && std::isfinite(*v); }

QString KindName(TKind k) { return k == TKind::Input ? QStringLiteral("input") : QStringLiteral("output"); }

QString Iso(const QDateTime& t) {
    if (!t.isValid())
        return {};
    return t.toOffsetFromUtc(t.offsetFromUtc()).toString(Qt::ISODateWithMs);
}

QString WriteStateText(const TFacts& f) {
    const QString record = QStringLiteral("command %1, %2 bytes").arg(f.Command).arg(f.Record.size());
    switch (f.Write) {
    case TWrite::NotSent:
        return QStringLiteral("not written; the device keeps the calibration it had");
    case TWrite::Unacknowledged:
        return QStringLiteral("sent (%1) without acknowledgement; the device may hold the old or the new calibration").arg(record);
    case TWrite::Acknowledged:
        return QStringLiteral("written and acknowledged (%1)").arg(record);
    }
    return {};
}

// Decimals that show a figure finer than its tolerance: one more than the
// tolerance's first significant digit (±0.03 ohm: 3, ±0.005 mA: 4).
int DecimalsFor(const TCheck& c) {
    if (!(c.Tolerance > 0) || !std::isfinite(c.Tolerance))
        return 3;
    return std::clamp(static_cast<int>(-std::floor(std::log10(c.Tolerance))) + 1, 0, 9);
}

QString Fixed(double v, int decimals) {
    if (!std::isfinite(v))
        return QStringLiteral("n/a");
    // A value that rounds to zero has no sign.
    if (std::fabs(v) < 0.5 * std::pow(10.0, -decimals))
        v = 0;
    return QString::number(v, 'f', decimals);
}

QString Signed(double v, int decimals) {
    const QString s = Fixed(v, decimals);
    return s.startsWith(QLatin1Char('-')) || s == QLatin1String("n/a") ? s : QLatin1Char('+') + s;
}

// ---- facts ---------------------------------------------------------------------------

TCalibrationDate CalibrationDateOf(const PollAnswer& a) {
    TCalibrationDate d;
    d.Known = true;
    if (a.CalibrationYear != 0)
        d.Date = Q(DateText(a.CalibrationYear, a.CalibrationMonth, a.CalibrationDay));
    return d;
}

TDevice DeviceOf(const PollAnswer& a) {
    TDevice d;
    d.Type = Q(DeviceTypeText(a.PCBIdentityAddress));
    d.PCBIdentityAddress = a.PCBIdentityAddress;
    d.Firmware = Q(FirmwareText(a));
    return d;
}

bool WithinTolerance(const TCheck& c, const std::optional<double>& measured) {
    if (!Finite(measured) || !std::isfinite(c.Target) || !std::isfinite(c.Tolerance) || c.Tolerance < 0)
        return false;
    // The bound is met on both sides alike: 499.97 and 500.03 against
    // 500 ± 0.03, whatever the binary fractions make of the differences.
    return std::fabs(*measured - c.Target) <= c.Tolerance + 1e-9 * std::max(1.0, std::fabs(c.Target));
}

std::vector<TWrittenValue> WrittenValues(const InputCalibrationRecord& r) {
    auto i = [](const char* n, std::int32_t v) { return TWrittenValue{QString::fromLatin1(n), double(v), true}; };
    auto s = [](const char* n, float v) { return TWrittenValue{QString::fromLatin1(n), SingleDecimal(v), false}; };
    // The record's own order.
    return {i("OFFSET_CH0", r.OFFSET_CH0),       i("OFFSET_CH1_REF_500", r.OFFSET_CH1_REF_500),
            i("OFFSET_CH1_REF_5K", r.OFFSET_CH1_REF_5K), i("OFFSET_CH1_3W_500", r.OFFSET_CH1_3W_500),
            i("OFFSET_CH1_3W_5K", r.OFFSET_CH1_3W_5K),   s("RREF_500_3W", r.RREF_500_3W),
            s("RREF_500_2W", r.RREF_500_2W),             s("RREF_500_4W", r.RREF_500_4W),
            s("RREF_5K_4W", r.RREF_5K_4W),               s("RREF_5K_3W", r.RREF_5K_3W),
            s("RREF_5K_2W", r.RREF_5K_2W),               s("UREF", r.UREF),
            s("EA_500", r.EA_500),                       s("EA_5K", r.EA_5K),
            i("AZ0", r.AZ0),                             i("OFFSET_CH0_G4", r.OFFSET_CH0_G4),
            i("OFFSET_CH0_3W_500", r.OFFSET_CH0_3W_500), i("OFFSET_CH0_3W_5K", r.OFFSET_CH0_3W_5K)};
}

std::vector<TWrittenValue> WrittenValues(const OutputCalibrationRecord& r) {
    auto i = [](const char* n, std::uint16_t v) { return TWrittenValue{QString::fromLatin1(n), double(v), true}; };
    return {i("PWMForIL", r.PWMForIL), i("PWMForIH", r.PWMForIH), i("PWMForUL", r.PWMForUL), i("PWMForUH", r.PWMForUH)};
}

TVerdict Verdict(const TFacts& f) {
    if (!f.Failure.isEmpty())
        return {false, QStringLiteral("The run did not finish: %1. The record was %2.").arg(f.Failure, WriteStateText(f))};
    if (f.Write != TWrite::Acknowledged)
        return {false, QStringLiteral("The record was %1.").arg(WriteStateText(f))};
    if (f.Checks.empty())
        return {false, QStringLiteral("Nothing was checked after the write.")};
    for (const TCheck& c : f.Checks) {
        if (!c.AsLeft)
            return {false, QStringLiteral("%1 was not checked after the write.").arg(c.Name)};
        if (!WithinTolerance(c, c.AsLeft)) {
            const int n = DecimalsFor(c);
            return {false, QStringLiteral("%1 as left is out of tolerance: error %2 %3, tolerance ±%4 %3.")
                               .arg(c.Name, Finite(c.AsLeft) ? Signed(*c.AsLeft - c.Target, n) : QStringLiteral("n/a"),
                                    c.Unit, Fixed(c.Tolerance, n))};
        }
    }
    return {true, {}};
}

QString TraceabilityText(const TReference& r) {
    QStringList parts;
    if (r.Uncertainty > 0)
        parts << QStringLiteral("± %1 %2 (k = 2)").arg(QString::number(r.Uncertainty, 'g', 6), r.Unit);
    if (!r.Serial.isEmpty())
        parts << QStringLiteral("serial %1").arg(r.Serial);
    if (!r.Certificate.isEmpty())
        parts << QStringLiteral("certificate %1").arg(r.Certificate);
    if (r.Due.isValid())
        parts << QStringLiteral("due %1").arg(r.Due.toString(Qt::ISODate));
    return parts.join(QStringLiteral(", "));
}

QJsonObject ToJson(const TFacts& f) {
    const TVerdict v = Verdict(f);
    QJsonArray refs;
    for (const TReference& r : f.References) {
        QJsonObject o{{QStringLiteral("name"), r.Name}};
        if (r.Identity.isEmpty()) {
            o[QStringLiteral("value")] = Number(r.Value);
            o[QStringLiteral("unit")] = r.Unit;
        } else {
            o[QStringLiteral("identity")] = r.Identity;
        }
        // Traceability: present when the bench file gave it.
        if (r.Uncertainty > 0)
            o[QStringLiteral("uncertainty")] = Number(r.Uncertainty);
        if (!r.Serial.isEmpty())
            o[QStringLiteral("serial")] = r.Serial;
        if (!r.Certificate.isEmpty())
            o[QStringLiteral("certificate")] = r.Certificate;
        if (r.Due.isValid())
            o[QStringLiteral("due")] = r.Due.toString(Qt::ISODate);
        refs.append(o);
    }
    QJsonArray checks;
    for (const TCheck& c : f.Checks)
        checks.append(QJsonObject{{QStringLiteral("name"), c.Name},
                                  {QStringLiteral("unit"), c.Unit},
                                  {QStringLiteral("target"), Number(c.Target)},
                                  {QStringLiteral("tolerance"), Number(c.Tolerance)},
                                  {QStringLiteral("as_found"), Reading(c, c.AsFound)},
                                  {QStringLiteral("as_left"), Reading(c, c.AsLeft)},
                                  {QStringLiteral("passed"), WithinTolerance(c, c.AsLeft)}});
    QJsonArray values;
    for (const TWrittenValue& w : f.Written)
        values.append(QJsonObject{{QStringLiteral("name"), w.Name}, {QStringLiteral("value"), Number(w.Value)}});
    QByteArray bytes(reinterpret_cast<const char*>(f.Record.data()), static_cast<qsizetype>(f.Record.size()));
    const QJsonValue duration = f.Started.isValid() && f.Finished.isValid()
                                    ? QJsonValue(f.Started.msecsTo(f.Finished) / 1000.0)
                                    : QJsonValue(QJsonValue::Null);
    auto orNull = [](const QString& s) { return s.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(s); };
    return QJsonObject{
        {QStringLiteral("schema"), QString::fromLatin1(kSchema)},
        {QStringLiteral("calibration"), KindName(f.Kind)},
        {QStringLiteral("result"), v.Passed ? QStringLiteral("passed") : QStringLiteral("failed")},
        {QStringLiteral("passed"), v.Passed},
        {QStringLiteral("reason"), orNull(v.Reason)},
        {QStringLiteral("failure"), orNull(f.Failure)},
        {QStringLiteral("started"), orNull(Iso(f.Started))},
        {QStringLiteral("finished"), orNull(Iso(f.Finished))},
        {QStringLiteral("duration_s"), duration},
        {QStringLiteral("operator"), orNull(f.Operator)},
        {QStringLiteral("kvctl_version"), orNull(f.ToolVersion)},
        {QStringLiteral("port"), orNull(f.Port)},
        {QStringLiteral("device"),
         QJsonObject{{QStringLiteral("type"), f.Device.Type},
                     {QStringLiteral("pcb_identity_address"), f.Device.PCBIdentityAddress},
                     {QStringLiteral("firmware"), f.Device.Firmware},
                     {QStringLiteral("calibration_date_before"), DateJson(f.Device.Before)},
                     {QStringLiteral("calibration_date_after"), DateJson(f.Device.After)}}},
        {QStringLiteral("references"), refs},
        {QStringLiteral("checks"), checks},
        {QStringLiteral("record"),
         QJsonObject{{QStringLiteral("command"), f.Command},
                     {QStringLiteral("state"), WriteStateName(f.Write)},
                     {QStringLiteral("bytes"), QString::fromLatin1(bytes.toHex())},
                     {QStringLiteral("values"), values}}},
        {QStringLiteral("log"), QJsonArray::fromStringList(f.Log)},
    };
}

QString JsonPathFor(const QString& pdfPath) {
    if (pdfPath.endsWith(QLatin1String(".pdf"), Qt::CaseInsensitive))
        return pdfPath.left(pdfPath.size() - 4) + QStringLiteral(".json");
    return pdfPath + QStringLiteral(".json");
}

// ---- files ---------------------------------------------------------------------------

bool WriteJson(const TFacts& f, const QString& path, QString* error) {
    return kv::WriteFileWhole(path, QJsonDocument(ToJson(f)).toJson(QJsonDocument::Indented), error);
}


bool WriteCertificate(const TFacts& f, const QString& pdfPath, QString* error, lang::TLanguage language) {
    // The PDF first: a JSON file never stands beside a PDF that is missing.
    return WritePdf(f, pdfPath, error, language) && WriteJson(f, JsonPathFor(pdfPath), error);
}

} // namespace kv::cert
