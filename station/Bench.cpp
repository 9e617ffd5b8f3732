#include "Bench.h"

#include "IniFile.h"
#include "NumberPicture.h"

#include <QFile>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>
#include <set>

namespace kv::station {

namespace {

// A bench file is a page of text; anything larger is no bench file.
constexpr std::size_t kMaxBenchFile = 64 * 1024;
// Texts go onto certificates and into commands to the meter.
constexpr qsizetype kMaxText = 200;

// What a number measures, and the units it may be written in.
enum class TDimension : std::uint8_t { Current, Voltage, Resistance, Time, Relative };

struct TUnit {
    const char* name;
    TDimension dimension;
};
// Base units; SI prefixes go before them ("mA", "kohm", "µV").
constexpr TUnit kUnits[] = {
    {"A", TDimension::Current},       {"V", TDimension::Voltage}, {"ohm", TDimension::Resistance},
    {"Ohm", TDimension::Resistance},  {"Ω", TDimension::Resistance}, {"s", TDimension::Time},
};

const char* BaseUnit(TDimension d) {
    switch (d) {
    case TDimension::Current: return "A";
    case TDimension::Voltage: return "V";
    case TDimension::Resistance: return "ohm";
    case TDimension::Time: return "s";
    case TDimension::Relative: return "%";
    }
    return "";
}

// "mA" gives 1e-3 and Current; "%" 1e-2 and Relative. False for no unit.
bool Unit(const QString& text, double& factor, TDimension& dimension) {
    if (text == QLatin1String("%")) {
        factor = 1e-2, dimension = TDimension::Relative;
        return true;
    }
    if (text == QLatin1String("ppm")) {
        factor = 1e-6, dimension = TDimension::Relative;
        return true;
    }
    static const struct {
        const char* prefix;
        double factor;
    } prefixes[] = {{"", 1},     {"p", 1e-12}, {"n", 1e-9}, {"u", 1e-6}, {"µ", 1e-6},
                    {"m", 1e-3}, {"k", 1e3},   {"M", 1e6},  {"G", 1e9}};
    for (const auto& p : prefixes)
        for (const TUnit& u : kUnits)
            if (text == QString::fromUtf8(p.prefix) + QString::fromUtf8(u.name)) {
                factor = p.factor, dimension = u.dimension;
                return true;
            }
    return false;
}

// A number with a full stop, and its unit after it ("10mA", "0.050 %",
// "500.012"): false when the number does not read or the unit is not one.
// An exponent's sign belongs to the number ("1e+3 V").
bool SplitQuantity(const QString& text, double& number, QString& unit) {
    const QString t = text.trimmed();
    qsizetype end = 0;
    while (end < t.size()) {
        const QChar c = t[end];
        if (c.isDigit() || c == QLatin1Char('.') || ((c == QLatin1Char('-') || c == QLatin1Char('+')) && end == 0)) {
            ++end;
            continue;
        }
        // An exponent only when digits follow it.
        if ((c == QLatin1Char('e') || c == QLatin1Char('E')) && end > 0) {
            qsizetype d = end + 1;
            if (d < t.size() && (t[d] == QLatin1Char('+') || t[d] == QLatin1Char('-')))
                ++d;
            if (d < t.size() && t[d].isDigit()) {
                end = d;
                continue;
            }
        }
        break;
    }
    unit = t.mid(end).trimmed();
    return end > 0 && kv::ParseDecimal(t.left(end).toStdString(), '.', number) && std::isfinite(number);
}

// A quantity of the dimension, in its base unit (a relative one as a
// fraction). A number without a unit is taken in `bare` when given.
bool Quantity(const QString& text, TDimension want, double& value, const QString& bare = {}) {
    double number = 0;
    QString unit;
    if (!SplitQuantity(text, number, unit))
        return false;
    if (unit.isEmpty())
        unit = bare;
    double factor = 1;
    TDimension dimension{};
    if (!Unit(unit, factor, dimension) || dimension != want)
        return false;
    value = number * factor;
    return true;
}

QString ExpectedQuantity(TDimension d) {
    switch (d) {
    case TDimension::Relative: return QStringLiteral("a number with % or ppm");
    default: return QStringLiteral("a number with a unit in %1 (%2, m%2, k%2 ...)").arg(QLatin1String(BaseUnit(d)), QLatin1String(BaseUnit(d)));
    }
}

// The sections and their keys, as the file spells them.
struct TSectionKeys {
    const char* section; // "Reference" stands for "Reference NAME"
    std::initializer_list<const char*> keys;
};
const TSectionKeys kSections[] = {
    {"Station", {"Lab", "Address", "Station", "Procedure"}},
    {"Meter",
     {"Port", "Baud", "DataBits", "Parity", "StopBits", "Handshake", "Terminator", "DTR", "RTS", "Remote", "Local",
      "Identity", "Echo", "Prompt", "Serial", "Certificate", "Due", "DCI", "DCV"}},
    {"Reference", {"Value", "Uncertainty", "Serial", "Certificate", "Due"}},
    {"Source", {"Name", "Serial", "Certificate", "Due", "OHM", "DCV"}},
    {"Fixture", {"Command", "Timeout", "Leads"}},
    {"Settling", {"Band", "CurrentFloor", "VoltageFloor", "Readings", "MinSpan", "TimeLimit"}},
    {"Verification", {"Points", "Rule", "InputTolerance", "OutputTolerance"}},
};

bool Same(const QString& a, const char* b) { return a.compare(QLatin1String(b), Qt::CaseInsensitive) == 0; }

// One section of the file as read: its keys with their lines.
struct TSection {
    QString kind; // "Meter", "Reference"
    QString name; // a reference's name, upper case
    int line = 0;
    struct TValue {
        QString text;
        int line;
    };
    std::map<QString, TValue> keys; // by the key's spelling in kSections
};

class TReader {
public:
    QStringList problems;

    void Problem(int line, const QString& where, const QString& what) {
        problems << (line > 0 ? QStringLiteral("line %1: %2%3").arg(line).arg(where.isEmpty() ? QString() : where + QStringLiteral(": "), what)
                              : where + QStringLiteral(": ") + what);
    }

    std::vector<TSection> Sections(const kv::IniSnapshot& ini) {
        std::vector<TSection> sections;
        for (const kv::IniSnapshot::Item& item : ini.Items()) {
            const QString name = QString::fromStdString(item.name);
            if (item.kind == kv::IniSnapshot::Item::Damaged) {
                Problem(item.line, {},
                        QStringLiteral("\"%1\" is neither [Section] nor Key=Value").arg(QString::fromStdString(item.value)));
                continue;
            }
            if (item.kind == kv::IniSnapshot::Item::Section) {
                TSection s;
                s.line = item.line;
                const QStringList words = name.split(QLatin1Char(' '), Qt::SkipEmptyParts);
                const TSectionKeys* known = nullptr;
                for (const TSectionKeys& k : kSections)
                    if (!words.isEmpty() && Same(words[0], k.section))
                        known = &k;
                const bool reference = known && Same(words[0], "Reference");
                if (!known || (reference ? words.size() != 2 : words.size() != 1)) {
                    Problem(item.line, {},
                            QStringLiteral("[%1] is no section of a bench file (Station, Meter, Reference NAME, Source, "
                                           "Fixture, Settling, Verification)")
                                .arg(name));
                    sections.push_back(std::move(s)); // its keys are not read
                    continue;
                }
                s.kind = QString::fromLatin1(known->section);
                if (reference) {
                    s.name = words[1].toUpper();
                    static const QRegularExpression id(QStringLiteral("^[A-Z0-9_.-]{1,32}$"));
                    if (!id.match(s.name).hasMatch())
                        Problem(item.line, {}, QStringLiteral("\"%1\" is no reference name (letters, digits, _ . -)").arg(words[1]));
                }
                for (const TSection& other : sections)
                    if (!other.kind.isEmpty() && other.kind == s.kind && other.name == s.name)
                        Problem(item.line, {}, QStringLiteral("[%1] again (first at line %2): one section each").arg(Title(s)).arg(other.line));
                sections.push_back(std::move(s));
                continue;
            }
            if (sections.empty()) {
                Problem(item.line, {}, QStringLiteral("%1 stands before any [Section]").arg(name));
                continue;
            }
            TSection& s = sections.back();
            if (s.kind.isEmpty())
                continue; // an unknown section, said once
            const TSectionKeys* known = nullptr;
            for (const TSectionKeys& k : kSections)
                if (s.kind == QLatin1String(k.section))
                    known = &k;
            const char* spelling = nullptr;
            for (const char* k : known->keys)
                if (Same(name, k))
                    spelling = k;
            if (!spelling) {
                QStringList keys;
                for (const char* k : known->keys)
                    keys << QString::fromLatin1(k);
                Problem(item.line, QStringLiteral("[%1]").arg(Title(s)),
                        QStringLiteral("%1 is no key of it (%2)").arg(name, keys.join(QStringLiteral(", "))));
                continue;
            }
            const QString key = QString::fromLatin1(spelling);
            if (const auto it = s.keys.find(key); it != s.keys.end()) {
                Problem(item.line, QStringLiteral("[%1]").arg(Title(s)),
                        QStringLiteral("%1 again (first at line %2): which one holds?").arg(key).arg(it->second.line));
                continue;
            }
            s.keys[key] = {QString::fromStdString(item.value), item.line};
        }
        return sections;
    }

    static QString Title(const TSection& s) { return s.name.isEmpty() ? s.kind : s.kind + QLatin1Char(' ') + s.name; }

    // ---- the values, each read when the section has its key

    // The key's text, or null when the section has no such key.
    const TSection::TValue* Value(const TSection& s, const char* key) {
        const auto it = s.keys.find(QString::fromLatin1(key));
        return it == s.keys.end() ? nullptr : &it->second;
    }
    void Bad(const TSection& s, const TSection::TValue& v, const char* key, const QString& why) {
        Problem(v.line, QStringLiteral("[%1] %2").arg(Title(s), QLatin1String(key)), why);
    }

    void Text(const TSection& s, const char* key, QString& out) {
        const TSection::TValue* v = Value(s, key);
        if (!v)
            return;
        for (const QChar c : v->text) {
            if (c.category() == QChar::Other_Control)
                return Bad(s, *v, key, QStringLiteral("a control character in the text"));
            if (c == QChar::ReplacementCharacter)
                return Bad(s, *v, key, QStringLiteral("not UTF-8 text"));
        }
        if (v->text.size() > kMaxText)
            return Bad(s, *v, key, QStringLiteral("longer than %1 characters").arg(kMaxText));
        out = v->text;
    }
    template <typename T>
    void Choice(const TSection& s, const char* key, std::initializer_list<std::pair<const char*, T>> choices, T& out) {
        const TSection::TValue* v = Value(s, key);
        if (!v)
            return;
        QStringList names;
        for (const auto& [name, value] : choices) {
            if (v->text.compare(QLatin1String(name), Qt::CaseInsensitive) == 0) {
                out = value;
                return;
            }
            names << QString::fromLatin1(name);
        }
        Bad(s, *v, key, QStringLiteral("\"%1\" is not %2").arg(v->text, names.join(QStringLiteral(", "))));
    }
    void Integer(const TSection& s, const char* key, long long low, long long high, long long& out) {
        const TSection::TValue* v = Value(s, key);
        if (!v)
            return;
        bool ok = false;
        const long long n = v->text.toLongLong(&ok);
        if (!ok || n < low || n > high)
            return Bad(s, *v, key, QStringLiteral("\"%1\" is not a whole number from %2 to %3").arg(v->text).arg(low).arg(high));
        out = n;
    }
    void Date(const TSection& s, const char* key, QDate& out) {
        const TSection::TValue* v = Value(s, key);
        if (!v)
            return;
        static const QRegularExpression form(QStringLiteral("^\\d{4}-\\d{2}-\\d{2}$"));
        const QDate d = QDate::fromString(v->text, Qt::ISODate);
        if (!form.match(v->text).hasMatch() || !d.isValid())
            return Bad(s, *v, key, QStringLiteral("\"%1\" is not a date YYYY-MM-DD").arg(v->text));
        out = d;
    }
    // A quantity above `low` (or at it, `orEqual`).
    void Amount(const TSection& s, const char* key, TDimension d, double& out, double low = 0, bool orEqual = false,
                const QString& bare = {}) {
        const TSection::TValue* v = Value(s, key);
        if (!v)
            return;
        double value = 0;
        if (!Quantity(v->text, d, value, bare))
            return Bad(s, *v, key, QStringLiteral("\"%1\" is not %2").arg(v->text, ExpectedQuantity(d)));
        if (!(value > low || (orEqual && value == low)))
            return Bad(s, *v, key, QStringLiteral("\"%1\" must be above %2").arg(v->text, orEqual ? QStringLiteral("or at 0") : QStringLiteral("0")));
        out = value;
    }
    void Trace(const TSection& s, TTraceability& t) {
        Text(s, "Serial", t.Serial);
        Text(s, "Certificate", t.Certificate);
        Date(s, "Due", t.Due);
    }

    // "0.050% + 0.020% @ 10mA; 0.050% + 0.005% @ 100mA": per range, the
    // per cent of reading, of range, and a floor in the function's unit;
    // ranges from the smallest up. `scale` turns base units into the
    // function's (1000 for a source's millivolts).
    void Accuracy(const TSection& s, const char* key, TDimension d, TFunctionAccuracy& out, double scale = 1) {
        const TSection::TValue* v = Value(s, key);
        if (!v)
            return;
        const QString form = QStringLiteral("(\"0.050% + 0.020% @ 10 m%1; ...\": per cent of reading [+ per cent of range] "
                                            "[+ a floor in %1] @ the range, ranges separated by ;)")
                                 .arg(QLatin1String(BaseUnit(d)));
        TFunctionAccuracy f;
        for (const QString& part : v->text.split(QLatin1Char(';'))) {
            const qsizetype at = part.indexOf(QLatin1Char('@'));
            if (at < 0)
                return Bad(s, *v, key, QStringLiteral("\"%1\" has no @ range %2").arg(part.trimmed(), form));
            TAccuracy a;
            if (!Quantity(part.mid(at + 1), d, a.Range) || !(a.Range > 0))
                return Bad(s, *v, key, QStringLiteral("\"%1\" is no range %2").arg(part.mid(at + 1).trimmed(), form));
            // Terms split at a + that is no exponent's sign.
            QStringList terms;
            QString term;
            const QString written = part.left(at);
            for (qsizetype i = 0; i < written.size(); ++i) {
                const bool exponentSign = i >= 2 && (written[i - 1] == QLatin1Char('e') || written[i - 1] == QLatin1Char('E')) &&
                                          written[i - 2].isDigit();
                if (written[i] == QLatin1Char('+') && !exponentSign && !term.trimmed().isEmpty()) {
                    terms << term;
                    term.clear();
                } else {
                    term += written[i];
                }
            }
            terms << term;
            int relative = 0;
            bool floor = false;
            for (const QString& t : terms) {
                double value = 0;
                if (Quantity(t, TDimension::Relative, value) && value >= 0) {
                    if (relative == 2)
                        return Bad(s, *v, key, QStringLiteral("\"%1\": a third per cent term %2").arg(part.trimmed(), form));
                    (relative++ == 0 ? a.PercentOfReading : a.PercentOfRange) = value * 100.0;
                } else if (Quantity(t, d, value) && value >= 0 && !floor) {
                    a.Floor = value * scale;
                    floor = true;
                } else {
                    return Bad(s, *v, key, QStringLiteral("\"%1\" is no term of %2").arg(t.trimmed(), form));
                }
            }
            if (relative == 0 && !floor)
                return Bad(s, *v, key, QStringLiteral("\"%1\" %2").arg(part.trimmed(), form));
            a.Range *= scale;
            if (!f.Ranges.empty() && a.Range <= f.Ranges.back().Range)
                return Bad(s, *v, key, QStringLiteral("the ranges go from the smallest up, each once %1").arg(form));
            f.Ranges.push_back(a);
        }
        out = f;
    }

    // ---- the sections

    void Station(const TSection& s, TStation& st) {
        Text(s, "Lab", st.Lab);
        Text(s, "Address", st.Address);
        Text(s, "Station", st.Station);
        Text(s, "Procedure", st.Procedure);
    }

    void Meter(const TSection& s, TBenchMeter& m) {
        TMeterLine& l = m.Line;
        Text(s, "Port", l.Port);
        long long n = l.Baud;
        Integer(s, "Baud", 50, 4000000, n);
        l.Baud = static_cast<std::uint32_t>(n);
        n = l.DataBits;
        Integer(s, "DataBits", 7, 8, n);
        l.DataBits = static_cast<int>(n);
        n = l.StopBits;
        Integer(s, "StopBits", 1, 2, n);
        l.StopBits = static_cast<int>(n);
        Choice<TParity>(s, "Parity", {{"none", TParity::None}, {"even", TParity::Even}, {"odd", TParity::Odd}}, l.Parity);
        Choice<THandshake>(s, "Handshake",
                           {{"none", THandshake::None}, {"dtr-dsr", THandshake::DtrDsr}, {"rts-cts", THandshake::RtsCts}},
                           l.Handshake);
        Choice<QString>(s, "Terminator", {{"lf", QStringLiteral("\n")}, {"crlf", QStringLiteral("\r\n")}}, l.Terminator);
        Choice<bool>(s, "DTR", {{"on", true}, {"off", false}}, l.Dtr);
        Choice<bool>(s, "RTS", {{"on", true}, {"off", false}}, l.Rts);
        if (const QString problem = MBLineSettingsProblem(l.Settings()); !problem.isEmpty())
            Problem(s.line, QStringLiteral("[Meter]"), problem);
        Text(s, "Remote", m.Remote);
        Text(s, "Local", m.Local);
        Text(s, "Identity", m.Identity);
        if (const TSection::TValue* v = Value(s, "Identity")) {
            const QRegularExpression re(m.Identity);
            if (!re.isValid())
                Bad(s, *v, "Identity",
                    QStringLiteral("\"%1\" is no regular expression (%2 at %3)").arg(v->text, re.errorString()).arg(re.patternErrorOffset()));
        }
        Choice<bool>(s, "Echo", {{"on", true}, {"off", false}}, m.Echo);
        Text(s, "Prompt", m.Prompt);
        Trace(s, m.Trace);
        Accuracy(s, "DCI", TDimension::Current, m.Current);
        Accuracy(s, "DCV", TDimension::Voltage, m.Voltage);
    }

    void Reference(const TSection& s, TBenchReference& r) {
        r.Name = s.name;
        // R500, R5K and UREF have their unit: a bare number is in it, and a
        // unit of its kind is converted ("0.125 V" for UREF). Any other
        // reference states its unit, and is kept in the base unit.
        const QString fixed = ReferenceUnit(r.Name);
        r.Unit = fixed;
        const auto inUnit = [&](const char* key, double& out, bool orZero) {
            const TSection::TValue* v = Value(s, key);
            if (!v)
                return;
            const QString why = fixed.isEmpty()
                                    ? QStringLiteral("\"%1\" is not a number with its unit (ohm, V or A, with a prefix)").arg(v->text)
                                    : QStringLiteral("\"%1\" is not a number in %2 (or with a unit of its kind)").arg(v->text, fixed);
            double number = 0, factor = 1, own = 1;
            QString unit;
            TDimension dimension{}, ownDimension{};
            if (!SplitQuantity(v->text, number, unit))
                return Bad(s, *v, key, why);
            if (unit.isEmpty() && fixed.isEmpty())
                return Bad(s, *v, key, why);
            if (!unit.isEmpty() && (!Unit(unit, factor, dimension) || dimension == TDimension::Relative ||
                                    dimension == TDimension::Time))
                return Bad(s, *v, key, why);
            if (!fixed.isEmpty()) {
                Unit(fixed, own, ownDimension);
                if (!unit.isEmpty() && dimension != ownDimension)
                    return Bad(s, *v, key, why);
                if (unit.isEmpty())
                    factor = own;
            } else {
                const QString base = QString::fromLatin1(BaseUnit(dimension));
                if (!r.Unit.isEmpty() && r.Unit != base)
                    return Bad(s, *v, key, QStringLiteral("\"%1\" is not in %2, the value's unit").arg(v->text, r.Unit));
                r.Unit = base;
            }
            const double value = number * factor / own;
            if (!(value > 0 || (orZero && value == 0)))
                return Bad(s, *v, key, QStringLiteral("\"%1\" must be above 0").arg(v->text));
            out = value;
        };
        inUnit("Value", r.Value, false);
        inUnit("Uncertainty", r.Uncertainty, true);
        Trace(s, r.Trace);
    }

    void Source(const TSection& s, TBenchSource& src) {
        Text(s, "Name", src.Name);
        Trace(s, src.Trace);
        Accuracy(s, "OHM", TDimension::Resistance, src.Resistance);
        Accuracy(s, "DCV", TDimension::Voltage, src.Voltage, 1000.0);
    }

    void Fixture(const TSection& s, TBench& b) {
        Text(s, "Command", b.FixtureCommand);
        double seconds = b.FixtureTimeoutS;
        Amount(s, "Timeout", TDimension::Time, seconds, 0, false, QStringLiteral("s"));
        if (const TSection::TValue* v = Value(s, "Timeout"); v && (seconds < 1 || seconds > 3600 || seconds != std::floor(seconds)))
            Bad(s, *v, "Timeout", QStringLiteral("\"%1\" is not whole seconds from 1 to 3600").arg(v->text));
        else
            b.FixtureTimeoutS = static_cast<int>(seconds);
        Amount(s, "Leads", TDimension::Resistance, b.FixtureLeadsOhm, 0, true, QStringLiteral("ohm"));
    }

    void Settling(const TSection& s, TSettling& st) {
        Amount(s, "Band", TDimension::Relative, st.Band);
        Amount(s, "CurrentFloor", TDimension::Current, st.CurrentFloor, 0, true);
        Amount(s, "VoltageFloor", TDimension::Voltage, st.VoltageFloor, 0, true);
        long long n = st.Readings;
        Integer(s, "Readings", 2, 50, n);
        st.Readings = static_cast<int>(n);
        double span = st.MinSpanMs / 1000.0;
        Amount(s, "MinSpan", TDimension::Time, span, 0, true, QStringLiteral("s"));
        if (const TSection::TValue* v = Value(s, "MinSpan"); v && span > 10)
            Bad(s, *v, "MinSpan", QStringLiteral("\"%1\" is over 10 s").arg(v->text));
        else
            st.MinSpanMs = static_cast<int>(std::lround(span * 1000.0));
        double seconds = st.TimeoutMs / 1000.0;
        Amount(s, "TimeLimit", TDimension::Time, seconds, 0, false, QStringLiteral("s"));
        if (const TSection::TValue* v = Value(s, "TimeLimit"); v && seconds > 600)
            Bad(s, *v, "TimeLimit", QStringLiteral("\"%1\" is over 600 s").arg(v->text));
        else
            st.TimeoutMs = static_cast<int>(std::lround(seconds * 1000.0));
    }

    void Verification(const TSection& s, TVerification& ver) {
        if (const TSection::TValue* v = Value(s, "Points")) {
            std::vector<double> points;
            if (const QString why = ParsePoints(v->text, points); !why.isEmpty())
                Bad(s, *v, "Points", why);
            else
                ver.Points = points;
        }
        Choice<TDecisionRule>(s, "Rule", {{"guarded", TDecisionRule::Guarded}, {"simple", TDecisionRule::Simple}}, ver.Rule);
        const auto tolerance = [&](const char* key, std::optional<double>& out) {
            double value = 0;
            bool read = false;
            if (const TSection::TValue* v = Value(s, key)) {
                if (!v->text.trimmed().endsWith(QLatin1Char('%')))
                    return Bad(s, *v, key, QStringLiteral("\"%1\" is not per cent of the span (\"0.1 %\")").arg(v->text));
                Amount(s, key, TDimension::Relative, value);
                read = value > 0;
            }
            if (read)
                out = value * 100.0;
        };
        tolerance("InputTolerance", ver.InputPercentOfSpan);
        tolerance("OutputTolerance", ver.OutputPercentOfSpan);
    }
};

bool FromFile(const TBench& b) { return !b.Path.isEmpty(); }

void NeedTrace(QStringList& problems, const QString& what, const TTraceability& t, const QDate& today) {
    QStringList missing;
    if (t.Serial.isEmpty())
        missing << QStringLiteral("Serial");
    if (t.Certificate.isEmpty())
        missing << QStringLiteral("Certificate");
    if (!t.Due.isValid())
        missing << QStringLiteral("Due");
    if (!missing.isEmpty())
        problems << QStringLiteral("%1 has no %2: the bench file names each instrument a run uses with its serial, "
                                   "its certificate and the date it is due")
                        .arg(what, missing.join(QStringLiteral(", ")));
    if (t.Due.isValid() && today.isValid() && today > t.Due)
        problems << QStringLiteral("%1 is past its due date (%2; today is %3): it may not be used until it is calibrated again")
                        .arg(what, t.Due.toString(Qt::ISODate), today.toString(Qt::ISODate));
}

} // namespace

QStringList LoadBench(const QString& path, const TBenchOverrides& overrides, const QDate& today,
                      const TBenchNeeds& needs, TBench& bench) {
    bench = TBench{};
    if (!path.isEmpty()) {
        QStringList problems = ReadBench(path, bench);
        if (!problems.isEmpty()) {
            for (QString& p : problems)
                p = path + QStringLiteral(": ") + p;
            return problems;
        }
    }
    if (QStringList problems = ApplyOverrides(bench, overrides); !problems.isEmpty())
        return problems;
    QStringList problems = BenchProblems(bench, today, needs);
    if (!path.isEmpty())
        for (QString& p : problems)
            p = path + QStringLiteral(": ") + p;
    return problems;
}

QString ReferenceUnit(const QString& name) {
    if (name == QLatin1String("R500") || name == QLatin1String("R5K"))
        return QStringLiteral("ohm");
    if (name == QLatin1String("UREF"))
        return QStringLiteral("mV");
    return {};
}

namespace {

QStringList Parse(const kv::IniSnapshot& ini, TBench& bench) {
    TReader r;
    for (const TSection& s : r.Sections(ini)) {
        if (s.kind == QLatin1String("Station"))
            r.Station(s, bench.Station);
        else if (s.kind == QLatin1String("Meter"))
            r.Meter(s, bench.Meter.emplace());
        else if (s.kind == QLatin1String("Reference")) {
            TBenchReference ref;
            r.Reference(s, ref);
            bench.References.try_emplace(ref.Name, ref);
        } else if (s.kind == QLatin1String("Source"))
            r.Source(s, bench.Source.emplace());
        else if (s.kind == QLatin1String("Fixture"))
            r.Fixture(s, bench);
        else if (s.kind == QLatin1String("Settling"))
            r.Settling(s, bench.Settling);
        else if (s.kind == QLatin1String("Verification"))
            r.Verification(s, bench.Verification);
    }
    return r.problems;
}

} // namespace

QStringList ParseBench(const QString& text, TBench& bench) {
    return Parse(kv::IniSnapshot::FromText(text.toStdString()), bench);
}

QStringList ReadBench(const QString& path, TBench& bench) {
    bench.Path = path;
    // A regular file, bounded: a FIFO or a device never holds the run.
    const kv::IniSnapshot ini = kv::IniSnapshot::Read(QFile::encodeName(path).toStdString(), kMaxBenchFile);
    if (!ini.Ok())
        return {QString::fromStdString(ini.Error())};
    return Parse(ini, bench);
}

QString ParseReferenceValues(const QString& text, std::map<QString, double>& values, const QStringList& names,
                             const QString& form) {
    std::map<QString, double> read;
    static const QRegularExpression id(QStringLiteral("^[A-Z0-9_.-]{1,32}$"));
    for (const QString& item : text.split(QLatin1Char(','))) {
        const qsizetype eq = item.indexOf(QLatin1Char('='));
        const QString key = item.left(eq).trimmed().toUpper();
        if (eq < 0 || !id.match(key).hasMatch() || (!names.isEmpty() && !names.contains(key)))
            return QStringLiteral("\"%1\" is not %2").arg(item, form);
        if (read.count(key))
            return QStringLiteral("%1 is given twice").arg(key);
        double value = 0;
        if (!kv::ParseDecimal(item.mid(eq + 1).toStdString(), '.', value) || !std::isfinite(value) || !(value > 0))
            return QStringLiteral("%1 needs a number above 0 with a full stop, not \"%2\"").arg(key, item.mid(eq + 1));
        read[key] = value;
    }
    values = std::move(read);
    return {};
}

QString ParsePoints(const QString& text, std::vector<double>& out) {
    std::vector<double> points;
    for (const QString& p : text.split(QLatin1Char(','))) {
        double value = 0;
        if (!Quantity(p, TDimension::Relative, value, QStringLiteral("%")) || !std::isfinite(value) || value < 0 ||
            value > 1 || (!points.empty() && value * 100.0 <= points.back()))
            return QStringLiteral("\"%1\" is not per cent of the range from 0 to 100, rising, separated by commas").arg(text);
        points.push_back(value * 100.0);
    }
    out = std::move(points);
    return {};
}

QStringList ApplyOverrides(TBench& bench, const TBenchOverrides& o) {
    QStringList problems;
    if (!o.Points.isEmpty()) {
        if (const QString why = ParsePoints(o.Points, bench.Verification.Points); !why.isEmpty())
            problems << QStringLiteral("--points: ") + why;
    }
    if (o.MeterPort || o.MeterBaud) {
        TBenchMeter& m = bench.Meter ? *bench.Meter : bench.Meter.emplace();
        if (o.MeterPort)
            m.Line.Port = *o.MeterPort;
        if (o.MeterBaud)
            m.Line.Baud = *o.MeterBaud;
    }
    if (o.FixtureCommand)
        bench.FixtureCommand = *o.FixtureCommand;
    if (o.FixtureTimeoutS)
        bench.FixtureTimeoutS = *o.FixtureTimeoutS;
    if (!o.References.isEmpty()) {
        std::map<QString, double> values;
        if (const QString error = ParseReferenceValues(o.References, values); !error.isEmpty())
            return {QStringLiteral("--references: ") + error};
        for (const auto& [name, value] : values) {
            auto it = bench.References.find(name);
            if (it == bench.References.end()) {
                if (ReferenceUnit(name).isEmpty()) {
                    QStringList names = {QStringLiteral("R500"), QStringLiteral("R5K"), QStringLiteral("UREF")};
                    for (const auto& [n, r] : bench.References)
                        if (!names.contains(n))
                            names << n;
                    problems << QStringLiteral("--references: %1 is no reference of the bench (%2)").arg(name, names.join(QStringLiteral(", ")));
                    continue;
                }
                TBenchReference r;
                r.Name = name;
                r.Unit = ReferenceUnit(name);
                it = bench.References.emplace(name, r).first;
            }
            it->second.Value = value;
        }
    }
    return problems;
}

QStringList BenchProblems(const TBench& bench, const QDate& today, const TBenchNeeds& asked) {
    QStringList problems;
    const bool file = FromFile(bench);
    TBenchNeeds needs = asked;
    if (needs.MeterIfAny && bench.Meter && !bench.Meter->Line.Port.isEmpty())
        needs.Meter = needs.MeterCurrent = needs.MeterVoltage = true;
    if (needs.SourceIfAny && bench.Source)
        needs.Source = true;
    if (needs.Meter) {
        if (!bench.Meter || bench.Meter->Line.Port.isEmpty()) {
            problems << (file ? QStringLiteral("[Meter] has no Port, and no --meter PORT was given")
                              : QStringLiteral("no meter: give --meter PORT or a bench file (--bench) with [Meter] Port"));
        } else if (file) {
            const TBenchMeter& m = *bench.Meter;
            NeedTrace(problems, QStringLiteral("[Meter]"), m.Trace, today);
            if (needs.MeterCurrent && m.Current.Empty())
                problems << QStringLiteral("[Meter] has no DCI, the maker's accuracy of its DC current ranges");
            if (needs.MeterVoltage && m.Voltage.Empty())
                problems << QStringLiteral("[Meter] has no DCV, the maker's accuracy of its DC voltage ranges");
        }
    }
    for (const QString& name : needs.References) {
        const auto it = bench.References.find(name);
        if (it == bench.References.end()) {
            if (file)
                problems << QStringLiteral("the bench has no [Reference %1], which the run measures against").arg(name);
            continue;
        }
        const TBenchReference& r = it->second;
        const QString what = QStringLiteral("[Reference %1]").arg(name);
        if (!(r.Value > 0))
            problems << QStringLiteral("%1 has no Value").arg(what);
        if (file) {
            if (!(r.Uncertainty > 0))
                problems << QStringLiteral("%1 has no Uncertainty (expanded, k = 2, in %2)").arg(what, r.Unit);
            NeedTrace(problems, what, r.Trace, today);
        }
    }
    if (needs.Source) {
        if (!bench.Source)
            problems << QStringLiteral("the bench has no [Source], which the run drives for its verification points");
        else if (file) {
            NeedTrace(problems, QStringLiteral("[Source]"), bench.Source->Trace, today);
            if (bench.Source->Resistance.Empty() && bench.Source->Voltage.Empty())
                problems << QStringLiteral("[Source] has no OHM or DCV accuracy");
        }
    }
    if (needs.Fixture && bench.FixtureCommand.trimmed().isEmpty())
        problems << (file ? QStringLiteral("[Fixture] has no Command, and no --fixture CMD was given")
                          : QStringLiteral("no fixture: give --fixture CMD or a bench file (--bench) with [Fixture] Command"));
    return problems;
}

} // namespace kv::station
