#include "Certificate.h"
#include "RunOutcome.h"

#include "CertificateText.h"
#include "Files.h"
#include "NumberPicture.h"
#include "StatusTexts.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocale>
#include <QRegularExpression>

#include <algorithm>
#include <charconv>
#include <cmath>

namespace kv::cert {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

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

// A figure with its own digits (Shown), null when it is no number.
QJsonValue Number(double v);

QJsonValue Reading(const TCheck& c, const std::optional<double>& v) {
    if (!v)
        return QJsonValue::Null;
    // The difference without the noise of binary fractions (500.03 - 500 is
    // 0.029999999999972715): to the decimals of the two figures.
    const double value = Shown(*v), target = Shown(c.Target);
    return QJsonObject{{QStringLiteral("value"), Number(value)},
                       {QStringLiteral("error"), Number(RoundTo(value - target, std::max(DecimalsOf(value), DecimalsOf(target))))},
                       {QStringLiteral("within_tolerance"), WithinTolerance(c, v)}};
}

} // namespace

namespace {
QJsonValue Number(double v) { return std::isfinite(v) ? QJsonValue(Shown(v)) : QJsonValue(QJsonValue::Null); }
} // namespace

// ---- texts the JSON and the PDF share ----------------------------------------------

bool Finite(const std::optional<double>& v) { return v && std::isfinite(*v); }

QString KindName(TKind k) {
    switch (k) {
    case TKind::Input: return QStringLiteral("input");
    case TKind::Output: return QStringLiteral("output");
    case TKind::Verification: return QStringLiteral("verification");
    case TKind::All: return QStringLiteral("all");
    }
    return {};
}

QString Iso(const QDateTime& t) {
    if (!t.isValid())
        return {};
    return t.toOffsetFromUtc(t.offsetFromUtc()).toString(Qt::ISODateWithMs);
}

QString WriteStateText(const TFacts& f, const lang::TTranslation* translation) {
    const auto text = [&](const char* source) {
        return translation ? translation->Text("Certificate", source) : QString::fromUtf8(source);
    };
    const auto state = [&](TWrite write, int command, std::size_t bytes) {
        switch (write) {
        case TWrite::NotSent:
            return f.Kind == TKind::Verification
                       ? text(QT_TRANSLATE_NOOP("Certificate", "nothing written (a verification writes nothing)"))
                       : text(QT_TRANSLATE_NOOP("Certificate", "not written; the device keeps the calibration it had"));
        case TWrite::Unacknowledged:
            return text(QT_TRANSLATE_NOOP("Certificate", "sent (command %1, %2 bytes) without acknowledgement; the device "
                                                         "may hold the old or the new calibration"))
                .arg(command)
                .arg(bytes);
        case TWrite::Acknowledged:
            return text(QT_TRANSLATE_NOOP("Certificate", "written and acknowledged (command %1, %2 bytes)"))
                .arg(command)
                .arg(bytes);
        }
        return QString();
    };
    if (f.Kind != TKind::All)
        return state(f.Write, f.Command, f.Record.size());
    return text(QT_TRANSLATE_NOOP("Certificate", "input: %1; output: %2"))
        .arg(state(f.Write, kv::cmdWriteInputCalibration, f.Record.size()),
             state(f.OutputWrite, kv::cmdWriteOutputCalibration, f.OutputRecord.size()));
}

// Decimals that show a figure finer than its tolerance: one more than the
// tolerance's first significant digit (±0.03 ohm: 3, ±0.005 mA: 4).
int DecimalsForTolerance(double tolerance) {
    if (!(tolerance > 0) || !std::isfinite(tolerance))
        return 3;
    return std::clamp(static_cast<int>(-std::floor(std::log10(tolerance))) + 1, 0, 9);
}

int DecimalsFor(const TCheck& c) { return DecimalsForTolerance(c.Tolerance); }

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

// ---- figures with their own digits -----------------------------------------------------

double Significant6(double v) { return std::isfinite(v) ? QString::number(v, 'g', 6).toDouble() : v; }

double Shown(double v) {
    if (!std::isfinite(v))
        return v;
    for (int digits = 1; digits <= 10; ++digits)
        if (QString::number(v, 'g', digits).toDouble() == v)
            return v;
    const float single = static_cast<float>(v);
    if (std::isfinite(single) && static_cast<double>(single) == v)
        return SingleDecimal(single);
    return Significant6(v);
}

int DecimalsOf(double v) {
    if (!std::isfinite(v))
        return 0;
    const QString t = QString::number(v, 'g', QLocale::FloatingPointShortest);
    const qsizetype e = t.indexOf(QLatin1Char('e'));
    const QString mantissa = e < 0 ? t : t.left(e);
    const int exponent = e < 0 ? 0 : t.mid(e + 1).toInt();
    const qsizetype dot = mantissa.indexOf(QLatin1Char('.'));
    const int fraction = dot < 0 ? 0 : int(mantissa.size() - dot - 1);
    return std::clamp(fraction - exponent, 0, 12);
}

double RoundTo(double v, int decimals) {
    if (!std::isfinite(v))
        return v;
    const double r = QString::number(v, 'f', std::clamp(decimals, 0, 12)).toDouble();
    return r == 0 ? 0.0 : r; // no negative zero
}

std::optional<double> ShownValue(const TPointReading& r) {
    if (!Finite(r.Value))
        return std::nullopt;
    if (r.Readings.empty() || !std::all_of(r.Readings.begin(), r.Readings.end(), [](double x) { return std::isfinite(x); }))
        return Shown(*r.Value);
    int decimals = 0;
    for (double x : r.Readings)
        decimals = std::max(decimals, DecimalsOf(Shown(x)));
    return RoundTo(*r.Value, decimals);
}

double TargetOf(const TPoint& p, const TPointReading& r) { return Shown(Finite(r.Expected) ? *r.Expected : p.Nominal); }

std::optional<double> ErrorOf(const TPoint& p, const TPointReading& r) {
    const auto v = ShownValue(r);
    const double target = TargetOf(p, r);
    if (!v || !std::isfinite(target))
        return std::nullopt;
    const int decimals = std::max(DecimalsOf(*v), DecimalsOf(target));
    // The error as the run judged it, when it says; to the figures' digits.
    return RoundTo(Finite(r.Error) ? *r.Error : *v - target, decimals);
}

std::optional<double> PercentOfSpan(const TPoint& p, const TPointReading& r) {
    const auto e = ErrorOf(p, r);
    if (!e || !(p.Span > 0) || !std::isfinite(p.Span))
        return std::nullopt;
    return Significant6(*e / p.Span * 100.0);
}

std::optional<double> ExpandedOf(const TPointReading& r) {
    if (!r.Budget)
        return std::nullopt;
    const double u = r.Budget->Expanded();
    return std::isfinite(u) ? std::optional(u) : std::nullopt;
}

std::optional<double> TurOf(const TPoint& p, const TPointReading& r) {
    const auto u = ExpandedOf(r);
    if (!u)
        return std::nullopt;
    const double tur = kv::station::TestUncertaintyRatio(p.Tolerance, *u);
    return std::isnan(tur) ? std::nullopt : std::optional(tur);
}

const char* RuleStatement(kv::station::TDecisionRule rule) {
    return rule == kv::station::TDecisionRule::Guarded
               ? QT_TRANSLATE_NOOP("Certificate",
                                   "Guarded acceptance (ILAC-G8): a point passes when |error| + U ≤ tolerance, fails "
                                   "when |error| > tolerance, and is conditional between; a conditional point does not "
                                   "pass.")
               : QT_TRANSLATE_NOOP("Certificate",
                                   "Simple acceptance (ILAC-G8): a point passes when |error| ≤ tolerance and fails "
                                   "otherwise; U is stated beside it.");
}

const TReference* MeterOf(const TFacts& f) {
    for (const TReference& r : f.References)
        if (r.Name == QLatin1String("meter"))
            return &r;
    return nullptr;
}

const TReference* SourceOf(const TFacts& f) {
    for (const TReference& r : f.References)
        if (r.Name == QLatin1String("source"))
            return &r;
    return nullptr;
}

bool IsStandard(const TReference& r) { return r.Name != QLatin1String("meter") && r.Name != QLatin1String("source"); }

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
    const kv::station::TVerdict v = VerdictOfFacts(f);
    return {v.Kind, v.Kind == kv::station::TVerdictKind::Passed, v.Reason};
}

TAmbient AmbientOf(const QString& text) {
    // "23.1C", "23,1 °C", "-5 C"; "45%RH", "45 %rH", "45%".
    static const QRegularExpression temperature(QStringLiteral("([+-]?\\d+(?:[.,]\\d+)?)\\s*°?\\s*C(?![a-zA-Z])"));
    static const QRegularExpression humidity(QStringLiteral("(\\d+(?:[.,]\\d+)?)\\s*%"));
    TAmbient a;
    const auto number = [](const QRegularExpressionMatch& m) {
        bool ok = false;
        const double v = m.captured(1).replace(QLatin1Char(','), QLatin1Char('.')).toDouble(&ok);
        return ok ? std::optional(v) : std::nullopt;
    };
    if (const auto m = temperature.match(text); m.hasMatch())
        a.Temperature = number(m);
    if (const auto m = humidity.match(text); m.hasMatch())
        a.Humidity = number(m);
    return a;
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

namespace {

QJsonValue OrNull(const QString& s) { return s.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(s); }
QJsonValue OrNull(const std::optional<double>& v) { return Finite(v) ? QJsonValue(*v) : QJsonValue(QJsonValue::Null); }

QJsonObject Trace(const TReference& r) {
    return QJsonObject{{QStringLiteral("serial"), OrNull(r.Serial)},
                       {QStringLiteral("certificate"), OrNull(r.Certificate)},
                       {QStringLiteral("due"), r.Due.isValid() ? QJsonValue(r.Due.toString(Qt::ISODate)) : QJsonValue()}};
}

QJsonValue Instrument(const TReference* r, const char* nameKey) {
    if (!r)
        return QJsonValue::Null;
    QJsonObject o = Trace(*r);
    o[QLatin1String(nameKey)] = OrNull(r->Identity);
    return o;
}

// A pair of what a point was as found and as left.
QJsonObject Both(const QJsonValue& found, const QJsonValue& left) {
    return QJsonObject{{QStringLiteral("as_found"), found}, {QStringLiteral("as_left"), left}};
}

QJsonValue Readings(const TPointReading& r) {
    QJsonArray a;
    for (double x : r.Readings)
        a.append(std::isfinite(x) ? QJsonValue(Shown(x)) : QJsonValue(QJsonValue::Null));
    return a;
}

QJsonValue BudgetOf(const TPoint& p, const TPointReading& r) {
    return r.Budget ? QJsonValue(kv::station::BudgetJson(*r.Budget, p.Tolerance)) : QJsonValue(QJsonValue::Null);
}

QJsonValue ResultOf(const TPointReading& r) {
    return r.Result ? QJsonValue(kv::station::OutcomeName(*r.Result)) : QJsonValue(QJsonValue::Null);
}

QJsonValue Tur(const TPoint& p, const TPointReading& r) {
    const auto t = TurOf(p, r);
    // No uncertainty at all gives an infinite ratio, which JSON has no number for.
    return t && std::isfinite(*t) ? QJsonValue(Significant6(*t)) : QJsonValue(QJsonValue::Null);
}

QJsonObject PointJson(const TPoint& p) {
    const auto figure = [](double v) { return std::isfinite(v) ? QJsonValue(Shown(v)) : QJsonValue(QJsonValue::Null); };
    return QJsonObject{
        {QStringLiteral("quantity"), OrNull(p.Quantity)},
        {QStringLiteral("path"), OrNull(p.Path)},
        {QStringLiteral("percent"), figure(p.Percent)},
        {QStringLiteral("source"), OrNull(p.Source)},
        {QStringLiteral("nominal"), figure(p.Nominal)},
        {QStringLiteral("unit"), OrNull(p.Unit)},
        {QStringLiteral("span"), figure(p.Span)},
        {QStringLiteral("tolerance"), figure(p.Tolerance)},
        {QStringLiteral("as_found"), OrNull(ShownValue(p.AsFound))},
        {QStringLiteral("as_left"), OrNull(ShownValue(p.AsLeft))},
        {QStringLiteral("expected"), Both(OrNull(p.AsFound.Expected ? std::optional(Shown(*p.AsFound.Expected)) : std::nullopt),
                                          OrNull(p.AsLeft.Expected ? std::optional(Shown(*p.AsLeft.Expected)) : std::nullopt))},
        {QStringLiteral("error_as_found"), OrNull(ErrorOf(p, p.AsFound))},
        {QStringLiteral("error_as_left"), OrNull(ErrorOf(p, p.AsLeft))},
        {QStringLiteral("error_percent_span"),
         Both(OrNull(PercentOfSpan(p, p.AsFound)), OrNull(PercentOfSpan(p, p.AsLeft)))},
        {QStringLiteral("uncertainty"), Both(BudgetOf(p, p.AsFound), BudgetOf(p, p.AsLeft))},
        {QStringLiteral("tur"), Both(Tur(p, p.AsFound), Tur(p, p.AsLeft))},
        {QStringLiteral("result"), Both(ResultOf(p.AsFound), ResultOf(p.AsLeft))},
        {QStringLiteral("readings"), Both(Readings(p.AsFound), Readings(p.AsLeft))},
        {QStringLiteral("not_measured"), Both(OrNull(p.AsFound.NotMeasured), OrNull(p.AsLeft.NotMeasured))},
    };
}

} // namespace

QJsonObject ToJson(const TFacts& f) {
    const TVerdict v = Verdict(f);
    QJsonArray refs;
    for (const TReference& r : f.References) {
        if (!IsStandard(r))
            continue;
        QJsonObject o = Trace(r);
        o[QStringLiteral("name")] = r.Name;
        o[QStringLiteral("value")] = OrNull(std::optional(Shown(r.Value)));
        o[QStringLiteral("unit")] = OrNull(r.Unit);
        o[QStringLiteral("uncertainty")] = r.Uncertainty > 0 ? OrNull(std::optional(Shown(r.Uncertainty))) : QJsonValue();
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
    QJsonArray points;
    for (const TPoint& p : f.Points)
        points.append(PointJson(p));
    QJsonArray values;
    for (const TWrittenValue& w : f.Written)
        values.append(QJsonObject{{QStringLiteral("name"), w.Name}, {QStringLiteral("value"), Number(w.Value)}});
    const auto hex = [](const std::vector<std::uint8_t>& record) {
        return OrNull(QString::fromLatin1(
            QByteArray(reinterpret_cast<const char*>(record.data()), static_cast<qsizetype>(record.size())).toHex()));
    };
    const QJsonValue duration = f.Started.isValid() && f.Finished.isValid()
                                    ? QJsonValue(f.Started.msecsTo(f.Finished) / 1000.0)
                                    : QJsonValue(QJsonValue::Null);
    QJsonValue ambient;
    if (!f.Ambient.isEmpty()) {
        const TAmbient a = AmbientOf(f.Ambient);
        ambient = QJsonObject{{QStringLiteral("text"), f.Ambient},
                              {QStringLiteral("temperature_c"), OrNull(a.Temperature)},
                              {QStringLiteral("relative_humidity_percent"), OrNull(a.Humidity)}};
    }
    const auto temperature = [](const std::optional<double>& t) { return OrNull(t ? std::optional(Shown(*t)) : t); };
    return QJsonObject{
        {QStringLiteral("schema"), QString::fromLatin1(kSchema)},
        {QStringLiteral("certificate_number"), OrNull(f.CertificateNumber)},
        {QStringLiteral("calibration"), KindName(f.Kind)},
        {QStringLiteral("verdict"),
         QJsonObject{{QStringLiteral("code"), v.Code()}, {QStringLiteral("title"), v.Title()}, {QStringLiteral("reason"), v.Reason}}},
        {QStringLiteral("passed"), v.Passed},
        {QStringLiteral("failure"), OrNull(f.Failure)},
        {QStringLiteral("not_written_because"), OrNull(f.NotWrittenBecause)},
        {QStringLiteral("started"), OrNull(Iso(f.Started))},
        {QStringLiteral("finished"), OrNull(Iso(f.Finished))},
        {QStringLiteral("duration_s"), duration},
        {QStringLiteral("operator"), OrNull(f.Operator)},
        {QStringLiteral("serial"), OrNull(f.Serial)},
        {QStringLiteral("kvctl_version"), OrNull(f.ToolVersion)},
        {QStringLiteral("port"), OrNull(f.Port)},
        {QStringLiteral("station"),
         QJsonObject{{QStringLiteral("lab"), OrNull(f.Station.Lab)},
                     {QStringLiteral("address"), OrNull(f.Station.Address)},
                     {QStringLiteral("station"), OrNull(f.Station.Station)},
                     {QStringLiteral("procedure"), OrNull(f.Station.Procedure)}}},
        {QStringLiteral("ambient"), ambient},
        {QStringLiteral("device"),
         QJsonObject{{QStringLiteral("type"), OrNull(f.Device.Type)},
                     {QStringLiteral("pcb_identity_address"),
                      f.Device.PCBIdentityAddress >= 0 ? QJsonValue(f.Device.PCBIdentityAddress) : QJsonValue()},
                     {QStringLiteral("firmware"), OrNull(f.Device.Firmware)},
                     {QStringLiteral("calibration_date_before"), DateJson(f.Device.Before)},
                     {QStringLiteral("calibration_date_after"), DateJson(f.Device.After)},
                     {QStringLiteral("working_time_minutes"),
                      f.WorkingTimeMinutes ? QJsonValue(qint64(*f.WorkingTimeMinutes)) : QJsonValue()},
                     {QStringLiteral("internal_temperature_start"), temperature(f.InternalTemperatureStart)},
                     {QStringLiteral("internal_temperature_end"), temperature(f.InternalTemperatureEnd)}}},
        {QStringLiteral("meter"), Instrument(MeterOf(f), "identity")},
        {QStringLiteral("source"), Instrument(SourceOf(f), "name")},
        {QStringLiteral("references"), refs},
        {QStringLiteral("rule"),
         QJsonObject{{QStringLiteral("code"), kv::station::RuleCode(f.Rule)},
                     {QStringLiteral("name"), kv::station::RuleName(f.Rule)},
                     {QStringLiteral("statement"), QString::fromUtf8(RuleStatement(f.Rule))}}},
        {QStringLiteral("points"), points},
        {QStringLiteral("not_verified"), QJsonArray::fromStringList(OutcomeOf(f).NotVerified)},
        {QStringLiteral("checks"), checks},
        {QStringLiteral("record"),
         QJsonObject{{QStringLiteral("command"), f.Command},
                     {QStringLiteral("state"), WriteStateName(f.Write)},
                     {QStringLiteral("bytes"), hex(f.Record)},
                     {QStringLiteral("values"), values}}},
        // A run of Kind All: the output's record beside the input's.
        {QStringLiteral("output_record"),
         f.Kind == TKind::All ? QJsonValue(QJsonObject{{QStringLiteral("command"), int(kv::cmdWriteOutputCalibration)},
                                                       {QStringLiteral("state"), WriteStateName(f.OutputWrite)},
                                                       {QStringLiteral("bytes"), hex(f.OutputRecord)}})
                              : QJsonValue()},
        {QStringLiteral("log"), QJsonArray::fromStringList(f.Log)},
    };
}

QByteArray JsonBytes(const TFacts& f) { return QJsonDocument(ToJson(f)).toJson(QJsonDocument::Indented); }

QString JsonPathFor(const QString& pdfPath) {
    if (pdfPath.endsWith(QLatin1String(".pdf"), Qt::CaseInsensitive))
        return pdfPath.left(pdfPath.size() - 4) + QStringLiteral(".json");
    return pdfPath + QStringLiteral(".json");
}

// ---- files ---------------------------------------------------------------------------

bool WriteJson(const TFacts& f, const QString& path, QString* error) {
    return kv::WriteFileWhole(path, JsonBytes(f), error);
}

bool WriteCertificate(const TFacts& f, const QString& pdfPath, QString* error, lang::TLanguage language) {
    // The digest of the very bytes written; the PDF first, so that a JSON
    // file never stands beside a PDF that is missing.
    const QString json = JsonPathFor(pdfPath);
    const QByteArray bytes = JsonBytes(f);
    const QString sha = QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
    return WritePdf(f, pdfPath, error, language, QFileInfo(json).fileName(), sha) &&
           kv::WriteFileWhole(json, bytes, error);
}

} // namespace kv::cert
