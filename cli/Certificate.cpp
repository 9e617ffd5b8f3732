#include "Certificate.h"

#include "StatusTexts.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QFont>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocale>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>

#include <algorithm>
#include <charconv>
#include <cmath>

namespace kv::cert {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

// The value a single stands for, as the shortest decimal that reads back as
// the same single: 500.12f is written 500.12, not 500.1199951171875.
double SingleValue(float f) {
    if (!std::isfinite(f))
        return f;
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, f);
    double d = f;
    std::from_chars(buf, r.ptr, d);
    return d;
}

// A difference without the noise of binary fractions (500.03 - 500 is
// 0.029999999999972715): to a nanounit, far below any meter's resolution.
double Clean(double x) {
    const double r = std::round(x * 1e9) / 1e9;
    return r == 0 ? 0.0 : r;
}

bool Finite(const std::optional<double>& v) { return v && std::isfinite(*v); }

QString Iso(const QDateTime& t) {
    if (!t.isValid())
        return {};
    return t.toOffsetFromUtc(t.offsetFromUtc()).toString(Qt::ISODateWithMs);
}

QString WriteStateName(TWrite w) {
    switch (w) {
    case TWrite::NotSent: return QStringLiteral("not-sent");
    case TWrite::Unacknowledged: return QStringLiteral("unacknowledged");
    case TWrite::Acknowledged: return QStringLiteral("acknowledged");
    }
    return {};
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

QString WrittenText(const TWrittenValue& w) {
    if (w.Integer)
        return QString::number(static_cast<long long>(w.Value));
    if (!std::isfinite(w.Value))
        return QStringLiteral("n/a");
    return QString::number(w.Value, 'g', QLocale::FloatingPointShortest);
}

QString CalibrationDateShown(const TCalibrationDate& d) {
    if (!d.Known)
        return QStringLiteral("not read");
    return d.Date.isEmpty() ? QStringLiteral("uncalibrated") : d.Date;
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

QString KindName(TKind k) { return k == TKind::Input ? QStringLiteral("input") : QStringLiteral("output"); }

} // namespace

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
    auto s = [](const char* n, float v) { return TWrittenValue{QString::fromLatin1(n), SingleValue(v), false}; };
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
    QSaveFile file(path);
    const QByteArray text = QJsonDocument(ToJson(f)).toJson(QJsonDocument::Indented);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit()) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

namespace {

// The page drawn in tenths of a millimetre: the writer's resolution is 254
// dots per inch, ten to the millimetre.
constexpr int kDpi = 254;
constexpr double kPageW = 2100, kPageH = 2970;
constexpr double kMargin = 180, kLeft = kMargin, kRight = kPageW - kMargin, kWidth = kRight - kLeft;
constexpr double kFooter = kPageH - 120;    // baseline area of the footer
constexpr double kBottom = kFooter - 60;    // content ends above it
constexpr int kLogColumns = 3;
constexpr double kLogGap = 50;

const QColor kPass(0x1e, 0x7b, 0x34);
const QColor kFail(0xb0, 0x00, 0x20);
const QColor kRule(0x99, 0x99, 0x99);

QFont Font(double points, bool bold = false, bool mono = false) {
    QFont f;
    f.setFamilies(mono ? QStringList{QStringLiteral("Liberation Mono"), QStringLiteral("DejaVu Sans Mono")}
                       : QStringList{QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")});
    f.setStyleHint(mono ? QFont::Monospace : QFont::SansSerif);
    f.setPointSizeF(points);
    f.setBold(bold);
    return f;
}

class TPdfPainter {
public:
    TPdfPainter(QPdfWriter& pdf, QPainter& p, const TFacts& f) : pdf_(pdf), p_(p), f_(f), verdict_(Verdict(f)) {}

    void Draw() {
        const QString kind = f_.Kind == TKind::Input ? QStringLiteral("input") : QStringLiteral("output");
        Background();
        Title(QStringLiteral("Calibration certificate"),
              QStringLiteral("%1 transmitter, %2 calibration").arg(Or(f_.Device.Type, QStringLiteral("???")), kind));
        VerdictBox();
        Section(QStringLiteral("Device"));
        Rows({{QStringLiteral("Type"), QStringLiteral("%1 (PCB identity %2)").arg(Or(f_.Device.Type, QStringLiteral("???")))
                                                                        .arg(f_.Device.PCBIdentityAddress)},
              {QStringLiteral("Firmware"), Or(f_.Device.Firmware, QStringLiteral("not read"))},
              {QStringLiteral("Calibration date before"), CalibrationDateShown(f_.Device.Before)},
              {QStringLiteral("Calibration date after"), CalibrationDateShown(f_.Device.After)},
              {QStringLiteral("Port"), Or(f_.Port, QStringLiteral("-"))}});
        Section(QStringLiteral("Run"));
        QString finished = Or(Iso(f_.Finished), QStringLiteral("-"));
        if (f_.Started.isValid() && f_.Finished.isValid())
            finished += QStringLiteral("   (%1 s)").arg(Fixed(f_.Started.msecsTo(f_.Finished) / 1000.0, 1));
        Rows({{QStringLiteral("Started"), Or(Iso(f_.Started), QStringLiteral("-"))},
              {QStringLiteral("Finished"), finished},
              {QStringLiteral("Operator"), Or(f_.Operator, QStringLiteral("not given"))},
              {QStringLiteral("Tool"), Or(f_.ToolVersion, QStringLiteral("-"))},
              {QStringLiteral("Record"), WriteStateText(f_)}});
        Section(QStringLiteral("References"));
        std::vector<std::pair<QString, QString>> refs;
        for (const TReference& r : f_.References)
            refs.push_back({r.Name, r.Identity.isEmpty() ? QStringLiteral("%1 %2").arg(QString::number(r.Value, 'g', 10), r.Unit)
                                                         : r.Identity});
        if (refs.empty())
            refs.push_back({QStringLiteral("-"), QStringLiteral("none recorded")});
        Rows(refs);
        Section(QStringLiteral("Checks (error = measured - reference)"));
        Checks();
        Section(QStringLiteral("Values written (command %1)").arg(f_.Command));
        Written();
        Log();
        Footer();
    }

private:
    static QString Or(const QString& s, const QString& dflt) { return s.isEmpty() ? dflt : s; }

    // Text in a box of the given width from the top `y`; returns its height.
    double Text(double x, double y, double w, const QString& s, const QFont& font, int flags = Qt::AlignLeft,
                bool draw = true) {
        p_.setFont(font);
        const QRectF box(x, y, w, kPageH);
        const QRectF used = p_.boundingRect(box, flags | Qt::TextWordWrap, s);
        if (draw)
            p_.drawText(box, flags | Qt::TextWordWrap, s);
        return used.height();
    }

    void Line(double y, const QColor& c = kRule) {
        p_.setPen(QPen(c, 3));
        p_.drawLine(QPointF(kLeft, y), QPointF(kRight, y));
        p_.setPen(Qt::black);
    }

    // A failed run's pages carry its verdict behind everything else.
    void Background() {
        if (verdict_.Passed)
            return;
        p_.save();
        p_.translate(kPageW / 2, kPageH / 2);
        p_.rotate(-50);
        p_.setPen(QColor(0xb0, 0x00, 0x20, 40));
        p_.setFont(Font(110, true));
        p_.drawText(QRectF(-1600, -300, 3200, 600), Qt::AlignCenter, QStringLiteral("FAILED"));
        p_.restore();
    }

    void Title(const QString& title, const QString& sub) {
        y_ = kMargin;
        p_.setPen(Qt::black);
        y_ += Text(kLeft, y_, kWidth, title, Font(18, true));
        y_ += Text(kLeft, y_, kWidth, sub, Font(11)) + 40;
    }

    QString Headline() const {
        return verdict_.Passed ? QStringLiteral("PASSED") : QStringLiteral("FAILED / NOT CALIBRATED");
    }

    void VerdictBox() {
        const QColor c = verdict_.Passed ? kPass : kFail;
        const QString detail = verdict_.Passed ? QStringLiteral("The record was written and acknowledged, and every "
                                                                "as-left figure lies within its tolerance.")
                                               : verdict_.Reason;
        const double pad = 30;
        const double h1 = Text(kLeft + pad, 0, kWidth - 2 * pad, Headline(), Font(20, true), Qt::AlignLeft, false);
        const double h2 = Text(kLeft + pad, 0, kWidth - 2 * pad, detail, Font(10), Qt::AlignLeft, false);
        const QRectF box(kLeft, y_, kWidth, h1 + h2 + 3 * pad);
        p_.setPen(QPen(c, 8));
        p_.setBrush(QColor(c.red(), c.green(), c.blue(), 24));
        p_.drawRect(box);
        p_.setBrush(Qt::NoBrush);
        p_.setPen(c);
        Text(kLeft + pad, y_ + pad, kWidth - 2 * pad, Headline(), Font(20, true));
        p_.setPen(Qt::black);
        Text(kLeft + pad, y_ + 2 * pad + h1, kWidth - 2 * pad, detail, Font(10));
        y_ = box.bottom() + 40;
    }

    void Section(const QString& name) {
        y_ += 30;
        y_ += Text(kLeft, y_, kWidth, name, Font(11, true)) + 6;
        Line(y_);
        y_ += 14;
    }

    void Rows(const std::vector<std::pair<QString, QString>>& rows) {
        const double keyW = 500;
        for (const auto& [k, v] : rows) {
            const double h1 = Text(kLeft, y_, keyW - 20, k, Font(9.5));
            const double h2 = Text(kLeft + keyW, y_, kWidth - keyW, v, Font(9.5, true));
            y_ += std::max(h1, h2) + 6;
        }
    }

    void Checks() {
        static const double cols[] = {0, 210, 440, 650, 840, 1050, 1240, 1480};
        const QStringList head = {QStringLiteral("Check"),    QStringLiteral("Reference"), QStringLiteral("As found"),
                                  QStringLiteral("Error"),    QStringLiteral("As left"),   QStringLiteral("Error"),
                                  QStringLiteral("Tolerance"), QStringLiteral("Result")};
        double h = 0;
        for (int i = 0; i < head.size(); ++i)
            h = std::max(h, Text(kLeft + cols[i], y_, 220, head[i], Font(9, true)));
        y_ += h + 8;
        if (f_.Checks.empty()) {
            y_ += Text(kLeft, y_, kWidth, QStringLiteral("none"), Font(9)) + 6;
            return;
        }
        bool foundOut = false;
        for (const TCheck& c : f_.Checks) {
            const int n = DecimalsFor(c);
            auto value = [&](const std::optional<double>& v) { return v ? Fixed(*v, n) : QStringLiteral("-"); };
            auto error = [&](const std::optional<double>& v) {
                return Finite(v) ? Signed(*v - c.Target, n) : QStringLiteral("-");
            };
            QString foundError = error(c.AsFound);
            if (c.AsFound && !WithinTolerance(c, c.AsFound)) {
                foundError += QStringLiteral(" *");
                foundOut = true;
            }
            const bool pass = WithinTolerance(c, c.AsLeft);
            const QStringList cells = {c.Name,
                                       QStringLiteral("%1 %2").arg(Fixed(c.Target, n), c.Unit),
                                       value(c.AsFound),
                                       foundError,
                                       value(c.AsLeft),
                                       error(c.AsLeft),
                                       QStringLiteral("±%1 %2").arg(Fixed(c.Tolerance, n), c.Unit),
                                       !c.AsLeft ? QStringLiteral("not checked") : pass ? QStringLiteral("pass")
                                                                                       : QStringLiteral("FAIL")};
            h = 0;
            for (int i = 0; i < cells.size(); ++i) {
                if (i == cells.size() - 1)
                    p_.setPen(pass ? kPass : kFail);
                h = std::max(h, Text(kLeft + cols[i], y_, (i + 1 < cells.size() ? cols[i + 1] : kWidth) - cols[i] - 10,
                                     cells[i], Font(9, i == cells.size() - 1)));
                p_.setPen(Qt::black);
            }
            y_ += h + 6;
        }
        if (foundOut)
            y_ += Text(kLeft, y_, kWidth, QStringLiteral("* as found outside the tolerance"), Font(8)) + 6;
    }

    void Written() {
        if (f_.Written.empty()) {
            y_ += Text(kLeft, y_, kWidth, QStringLiteral("none"), Font(9)) + 6;
            return;
        }
        // Two columns, filled down the first, then the second.
        const std::size_t rows = (f_.Written.size() + 1) / 2;
        const double colW = kWidth / 2;
        double h = 0;
        for (std::size_t i = 0; i < f_.Written.size(); ++i) {
            const double x = kLeft + (i < rows ? 0 : colW);
            const double y = y_ + double(i % rows) * 42;
            Text(x, y, 380, f_.Written[i].Name, Font(8.5, false, true));
            h = std::max(h, (double(i % rows) + 1) * 42);
            Text(x + 400, y, colW - 420, WrittenText(f_.Written[i]), Font(8.5, true, true));
        }
        y_ += h + 10;
        QString hex;
        for (std::size_t i = 0; i < f_.Record.size(); ++i)
            hex += QStringLiteral("%1%2").arg(i % 4 == 0 && i ? QStringLiteral(" ") : QString())
                       .arg(f_.Record[i], 2, 16, QLatin1Char('0'));
        if (!hex.isEmpty())
            y_ += Text(kLeft, y_, kWidth, QStringLiteral("Record bytes: ") + hex, Font(7.5, false, true)) + 6;
    }

    // The wizard's log in columns: on page 1 when all of it fits there,
    // else on a page of its own; what that page cannot hold is named and
    // left to the JSON file, which has every line.
    void Log() {
        const QFont font = Font(7.5, false, true);
        const QFontMetricsF fm(font, &pdf_);
        const double lineH = fm.lineSpacing();
        const double colW = (kWidth - (kLogColumns - 1) * kLogGap) / kLogColumns;
        const int total = int(f_.Log.size());
        const double headH = 30 + QFontMetricsF(Font(11, true), &pdf_).lineSpacing() + 20;
        auto rowsFrom = [&](double top) { return std::max(1, int((kBottom - top) / lineH)); };
        pages_ = total > rowsFrom(y_ + headH) * kLogColumns ? 2 : 1;
        Footer();
        if (pages_ == 2)
            NewPage();
        Section(QStringLiteral("Calibration log (%1 lines)").arg(total));
        if (total == 0) {
            Text(kLeft, y_, kWidth, QStringLiteral("none"), Font(9));
            return;
        }
        const int perColumn = rowsFrom(y_);
        const int room = perColumn * kLogColumns;
        const int shown = total > room ? room - 1 : total; // the last row names what is left out
        auto at = [&](int i) {
            return QPointF(kLeft + (i / perColumn) * (colW + kLogGap), y_ + (i % perColumn) * lineH + fm.ascent());
        };
        p_.setFont(font);
        for (int i = 0; i < shown; ++i) {
            const QString& s = f_.Log[i];
            if (!s.isEmpty() && s.count(QLatin1Char('-')) == s.size()) {
                // The separator line, drawn as a rule.
                const QPointF mid = at(i) + QPointF(0, lineH / 2 - fm.ascent());
                p_.setPen(QPen(kRule, 2));
                p_.drawLine(mid, mid + QPointF(colW, 0));
                p_.setPen(Qt::black);
                continue;
            }
            p_.drawText(at(i), fm.elidedText(s, Qt::ElideRight, colW));
        }
        if (shown < total)
            p_.drawText(at(shown), fm.elidedText(QStringLiteral("... %1 more lines in the JSON file").arg(total - shown),
                                                 Qt::ElideRight, colW));
    }

    void NewPage() {
        pdf_.newPage();
        ++page_;
        Background();
        y_ = kMargin;
        p_.setPen(verdict_.Passed ? kPass : kFail);
        y_ += Text(kLeft, y_, kWidth, QStringLiteral("Calibration certificate, page 2: ") + Headline(), Font(11, true));
        p_.setPen(Qt::black);
        Footer();
    }

    void Footer() {
        if (footerDone_ == page_)
            return;
        footerDone_ = page_;
        const QString left = QStringLiteral("%1 %2 calibration, %3")
                                 .arg(Or(f_.Device.Type, QStringLiteral("???")),
                                      f_.Kind == TKind::Input ? QStringLiteral("input") : QStringLiteral("output"),
                                      Or(Iso(f_.Started), QStringLiteral("-")));
        Line(kFooter - 20);
        p_.setPen(Qt::darkGray);
        Text(kLeft, kFooter, kWidth * 0.75, left, Font(7.5));
        Text(kLeft, kFooter, kWidth, QStringLiteral("page %1 of %2").arg(page_).arg(pages_), Font(7.5), Qt::AlignRight);
        p_.setPen(Qt::black);
    }

    QPdfWriter& pdf_;
    QPainter& p_;
    const TFacts& f_;
    const TVerdict verdict_;
    double y_ = kMargin;
    int page_ = 1, pages_ = 1, footerDone_ = 0;
};

} // namespace

bool WritePdf(const TFacts& f, const QString& path, QString* error) {
    auto fail = [&](const QString& why) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(path, why);
        return false;
    };
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return fail(QStringLiteral("a PDF needs the program's fonts, which are not loaded in this run"));
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return fail(file.errorString());
    {
        QPdfWriter pdf(&file);
        pdf.setPageSize(QPageSize(QPageSize::A4));
        pdf.setPageOrientation(QPageLayout::Portrait);
        pdf.setPageMargins(QMarginsF(0, 0, 0, 0));
        pdf.setResolution(kDpi);
        pdf.setTitle(QStringLiteral("Calibration certificate %1 %2").arg(f.Device.Type, Iso(f.Started)));
        pdf.setCreator(f.ToolVersion.isEmpty() ? QStringLiteral("kvctl") : f.ToolVersion);
        QPainter painter;
        if (!painter.begin(&pdf))
            return fail(QStringLiteral("cannot start the PDF"));
        TPdfPainter(pdf, painter, f).Draw();
        if (!painter.end())
            return fail(QStringLiteral("cannot finish the PDF"));
    }
    if (!file.commit())
        return fail(file.errorString());
    return true;
}

bool WriteCertificate(const TFacts& f, const QString& pdfPath, QString* error) {
    // The PDF first: a JSON file never stands beside a PDF that is missing.
    return WritePdf(f, pdfPath, error) && WriteJson(f, JsonPathFor(pdfPath), error);
}

namespace {
QtMessageHandler g_previousHandler = nullptr;
// Without a login session there is no XDG_RUNTIME_DIR; Qt Gui says so on
// start-up, which would land in the middle of kvctl's own messages.
void QuietStartHandler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type == QtWarningMsg && message.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR")))
        return;
    if (g_previousHandler)
        g_previousHandler(type, context, message);
}
} // namespace

std::unique_ptr<QCoreApplication> CreateApplication(int& argc, char** argv, bool certificate) {
    if (!certificate)
        return std::make_unique<QCoreApplication>(argc, argv);
    // Never a display: a production line's machine may have one, and the
    // certificate must look the same with or without it.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    g_previousHandler = qInstallMessageHandler(QuietStartHandler);
    auto app = std::make_unique<QGuiApplication>(argc, argv);
    qInstallMessageHandler(g_previousHandler);
    return app;
}

} // namespace kv::cert
