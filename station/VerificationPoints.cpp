#include "VerificationPoints.h"

#include "InputCalibrationWizard.h"
#include "Physics.h"
#include "SettingsModel.h"

#include <cmath>
#include <functional>

namespace kv::station {

namespace {

// The input modes of the settings record.
enum : std::uint8_t {
    modePt100,
    modePt1000,
    modeThermocouple,
    modePot500,
    modePot5K,
    modeOhm500,
    modeOhm5K,
    modeMilliVolt,
};

constexpr double kMilliVoltLimit = 100.0; // the voltage input's ±100 mV

bool Is5K(TInputPath p) {
    return p == TInputPath::Ohm5KWire2 || p == TInputPath::Ohm5KWire3 || p == TInputPath::Ohm5KWire4 ||
           p == TInputPath::Potentiometer5K;
}

double RangeOhm(TInputPath p) { return Is5K(p) ? 5000.0 : 500.0; }

QString Number(double v) { return QString::number(v, 'g', 7); }

QStringList Words(const std::vector<std::string>& words) {
    QStringList out;
    for (const std::string& w : words)
        out << QString::fromStdString(w);
    return out;
}

// How one input mode turns a value into what is sourced and back.
struct TModeMath {
    TSourceKind Kind = TSourceKind::Resistance;
    // Why `value` (in the value's unit) cannot be sourced; empty: it can.
    std::function<QString(double value)> Refuse;
    std::function<double(double value)> Source;
    // The nominal value of a sourced quantity; false when the device would
    // find it beyond its range.
    std::function<bool(double source, double& nominal)> Back;
    // d nominal / d source at a nominal value.
    std::function<double(double nominal)> Sensitivity;
    // Ohm the fixture adds to the value on 2 wires: the wire resistance the
    // device subtracts, less the fixture's own leads.
    double Offset = 0;
};

TModeMath MathFor(const SettingsRecord& s, const TDeviceReport& r, TInputPath path, double fixtureLeads) {
    TModeMath m;
    const double range = RangeOhm(path);
    if (PathWires(path) == 2 && r.WireResistance)
        m.Offset = *r.WireResistance - fixtureLeads;
    const double offset = m.Offset;
    switch (s.Mode) {
    case modePt100:
    case modePt1000: {
        const double r0 = s.Mode == modePt100 ? 100.0 : 1000.0;
        const QString sensor = s.Mode == modePt100 ? QStringLiteral("Pt 100") : QStringLiteral("Pt 1000");
        m.Refuse = [=](double t) {
            if (t >= kPtRange.Low && t <= kPtRange.High)
                return QString();
            return QStringLiteral("%1 °C lies beyond the %2's range of %3 to %4 °C")
                .arg(Number(t), sensor, Number(kPtRange.Low), Number(kPtRange.High));
        };
        m.Source = [=](double t) { return PtResistance(r0, t) + offset; };
        m.Back = [=](double ohm, double& t) { return ohm >= 0.0 && PtTemperature(r0, ohm - offset, t); };
        m.Sensitivity = [=](double t) { return 1.0 / PtSlope(r0, t); };
        break;
    }
    case modeThermocouple: {
        const auto type = static_cast<TThermocouple>(s.TCType);
        const double cj = r.ColdJunction.value_or(0.0);
        const double cjEmf = ThermocoupleEmf(type, cj);
        m.Kind = TSourceKind::MilliVolt;
        m.Refuse = [=](double t) {
            const TTemperatureRange tr = ThermocoupleRange(type);
            if (!(t >= tr.Low && t <= tr.High))
                return QStringLiteral("%1 °C lies beyond type %2's range of %3 to %4 °C")
                    .arg(Number(t), QChar::fromLatin1(ThermocoupleLetter(type)), Number(tr.Low), Number(tr.High));
            const double mv = ThermocoupleEmf(type, t) - cjEmf;
            if (std::fabs(mv) > kMilliVoltLimit)
                return QStringLiteral("%1 °C needs %2 mV against the cold junction at %3 °C, beyond the ±100 mV input")
                    .arg(Number(t), Number(mv), Number(cj));
            return QString();
        };
        m.Source = [=](double t) { return ThermocoupleEmf(type, t) - cjEmf; };
        m.Back = [=](double mv, double& t) {
            return std::fabs(mv) <= kMilliVoltLimit && ThermocoupleTemperature(type, mv + cjEmf, t);
        };
        m.Sensitivity = [=](double t) { return 1.0 / ThermocoupleSeebeck(type, t); };
        break;
    }
    case modePot500:
    case modePot5K: {
        const double p0 = r.RofPot0, p100 = r.RofPot100;
        const auto ohmOf = [=](double percent) { return p0 + percent / 100.0 * (p100 - p0); };
        m.Refuse = [=](double percent) {
            const double ohm = ohmOf(percent);
            if (ohm >= 0.0 && ohm <= range)
                return QString();
            return QStringLiteral("%1 % is %2 ohm between the stored positions, beyond the 0-%3 ohm range")
                .arg(Number(percent), Number(ohm), Number(range));
        };
        m.Source = ohmOf;
        m.Back = [=](double ohm, double& percent) {
            percent = (ohm - p0) / (p100 - p0) * 100.0;
            return ohm >= 0.0 && ohm <= range;
        };
        m.Sensitivity = [=](double) { return 100.0 / (p100 - p0); };
        break;
    }
    case modeOhm500:
    case modeOhm5K:
        m.Refuse = [=](double ohm) {
            if (ohm >= 0.0 && ohm <= range)
                return QString();
            return QStringLiteral("%1 ohm lies beyond the 0-%2 ohm range").arg(Number(ohm), Number(range));
        };
        m.Source = [=](double ohm) { return ohm + offset; };
        m.Back = [=](double ohm, double& value) {
            value = ohm - offset;
            return ohm >= 0.0 && value >= 0.0 && value <= range;
        };
        m.Sensitivity = [](double) { return 1.0; };
        break;
    default: // the voltage mode
        m.Kind = TSourceKind::MilliVolt;
        m.Refuse = [](double mv) {
            if (std::fabs(mv) <= kMilliVoltLimit)
                return QString();
            return QStringLiteral("%1 mV lies beyond the ±100 mV input").arg(Number(mv));
        };
        m.Source = [](double mv) { return mv; };
        m.Back = [](double mv, double& value) {
            value = mv;
            return std::fabs(mv) <= kMilliVoltLimit;
        };
        m.Sensitivity = [](double) { return 1.0; };
        break;
    }
    return m;
}

// Why the device cannot be verified in these settings at all; empty: it can.
QString PlanProblem(const SettingsRecord& s, const TDeviceReport& r, const std::optional<TInputPath>& path) {
    if (s.Mode > modeMilliVolt)
        return QStringLiteral("the input mode %1 is unknown").arg(s.Mode);
    if (!path)
        return QStringLiteral("the device's wiring %1 is not 2, 3 or 4 wires").arg(s.Wires);
    const double low = s.FizikaiForOutL, high = s.FizikaiForOutH;
    if (!std::isfinite(low) || !std::isfinite(high) || high == low)
        return QStringLiteral("the scaling from %1 to %2 spans no range").arg(Number(low), Number(high));
    if (s.Mode == modeThermocouple) {
        if (s.TCType >= tcCount)
            return QStringLiteral("the thermocouple type %1 is unknown").arg(s.TCType);
        if (s.CJC > 3)
            return QStringLiteral("the cold-junction compensation %1 is unknown").arg(s.CJC);
        if (!r.ColdJunction)
            return QStringLiteral("the device reports no cold-junction temperature to compensate with");
    }
    if (s.Mode == modePot500 || s.Mode == modePot5K) {
        if (!r.PotCalibrated)
            return QStringLiteral("the potentiometer's 0 % and 100 % positions are not stored");
        if (!std::isfinite(r.RofPot0) || !std::isfinite(r.RofPot100) || std::fabs(r.RofPot100 - r.RofPot0) < 1e-3)
            return QStringLiteral("the potentiometer's stored positions (%1 and %2 ohm) span no resistance")
                .arg(Number(r.RofPot0), Number(r.RofPot100));
    }
    if (PathWires(*path) == 2 && !r.WireResistance)
        return QStringLiteral("the device reports no wire resistance to subtract on 2 wires");
    return {};
}

double Rounded(double v, int decimals, int steps = 0) {
    const double scale = std::pow(10.0, decimals);
    // Divided, not multiplied by the step: 138506 / 1000 is the double
    // nearest 138.506, whose shortest decimal the fixture is sent.
    const double r = (std::round(v * scale) + steps) / scale;
    return r == 0.0 ? 0.0 : r; // never "-0" to the fixture
}

TVerificationPoint Point(const SettingsRecord& s, const TModeMath& m, TInputPath path, double percent,
                         const TPlanOptions& o) {
    TVerificationPoint p;
    p.Percent = percent;
    p.Path = path;
    p.Wires = PathWires(path);
    const double low = s.FizikaiForOutL, high = s.FizikaiForOutH;
    p.Span = high - low;
    const double value = low + percent / 100.0 * p.Span;
    if (!std::isfinite(value)) {
        p.NotVerifiable = QStringLiteral("the point %1 % is no number").arg(Number(percent));
        return p;
    }
    p.NotVerifiable = m.Refuse(value);
    if (!p.NotVerifiable.isEmpty())
        return p;

    p.Kind = m.Kind;
    const bool ohm = m.Kind == TSourceKind::Resistance;
    const int decimals = ohm ? o.ResistanceDecimals : o.MilliVoltDecimals;
    // At the end of the sensor's range, or of the scaling for a point
    // within it, the fixture's rounding may step outside: the next step
    // inward is taken then (the output is not held at its end there).
    const bool withinScaling = percent >= 0.0 && percent <= 100.0;
    const auto inside = [&](double nominal) {
        return !withinScaling || (nominal >= std::min(low, high) && nominal <= std::max(low, high));
    };
    const double exact = m.Source(value);
    bool found = false;
    for (int steps : {0, 1, -1}) {
        const double source = Rounded(exact, decimals, steps);
        double nominal = 0;
        if (m.Back(source, nominal) && std::isfinite(nominal) && inside(nominal)) {
            p.Source = source;
            p.Nominal = nominal;
            found = true;
            break;
        }
    }
    if (!found) {
        p.NotVerifiable = QStringLiteral("no value the fixture can source gives %1 %2 (it would be %3 %4)")
                              .arg(Number(value), FormatsForMode(s.Mode)->SzamitottErtekUnit, Number(exact),
                                   ohm ? QStringLiteral("ohm") : QStringLiteral("mV"));
        return p;
    }
    p.SourceUnit = ohm ? QStringLiteral("ohm") : QStringLiteral("mV");
    p.Words = Words(ohm ? incal::ResistorWords(p.Source) : incal::VoltageWords(p.Source));
    p.Physical = p.Source - m.Offset;
    p.Unit = FormatsForMode(s.Mode)->SzamitottErtekUnit;
    p.Sensitivity = m.Sensitivity(p.Nominal);
    p.Tolerance = std::max(o.InputPercentOfSpan / 100.0 * std::fabs(p.Span),
                           InputFloor(path) * std::fabs(p.Sensitivity));

    const std::optional<TOutputRange> range = OutputRangeOf(s.OutputMode);
    const std::optional<TExpectedOutput> expected = ExpectedOutput(s, p.Nominal);
    if (range && expected) {
        TPointOutput out;
        out.Expected = *expected;
        out.Unit = range->Unit;
        out.Span = range->Span();
        out.Sensitivity = expected->Clamped ? 0.0 : range->Span() / p.Span * p.Sensitivity;
        out.Tolerance = o.OutputPercentOfSpan / 100.0 * range->Span();
        p.Output = out;
    }
    return p;
}

} // namespace

QString PathName(TInputPath path) {
    switch (path) {
    case TInputPath::Ohm500Wire2: return QStringLiteral("500 ohm range, 2 wires");
    case TInputPath::Ohm500Wire3: return QStringLiteral("500 ohm range, 3 wires");
    case TInputPath::Ohm500Wire4: return QStringLiteral("500 ohm range, 4 wires");
    case TInputPath::Ohm5KWire2: return QStringLiteral("5 kohm range, 2 wires");
    case TInputPath::Ohm5KWire3: return QStringLiteral("5 kohm range, 3 wires");
    case TInputPath::Ohm5KWire4: return QStringLiteral("5 kohm range, 4 wires");
    case TInputPath::Potentiometer500: return QStringLiteral("potentiometer 0-500 ohm");
    case TInputPath::Potentiometer5K: return QStringLiteral("potentiometer 0-5 kohm");
    case TInputPath::MilliVolt: return QStringLiteral("millivolt");
    }
    return {};
}

int PathWires(TInputPath path) {
    switch (path) {
    case TInputPath::Ohm500Wire2:
    case TInputPath::Ohm5KWire2: return 2;
    case TInputPath::Ohm500Wire3:
    case TInputPath::Ohm5KWire3:
    case TInputPath::Potentiometer500:
    case TInputPath::Potentiometer5K: return 3;
    case TInputPath::Ohm500Wire4:
    case TInputPath::Ohm5KWire4: return 4;
    case TInputPath::MilliVolt: return 0;
    }
    return 0;
}

std::optional<TInputPath> PathOf(const SettingsRecord& s) {
    const auto resistance = [&](bool k5) -> std::optional<TInputPath> {
        switch (s.Wires) {
        case 2: return k5 ? TInputPath::Ohm5KWire2 : TInputPath::Ohm500Wire2;
        case 3: return k5 ? TInputPath::Ohm5KWire3 : TInputPath::Ohm500Wire3;
        case 4: return k5 ? TInputPath::Ohm5KWire4 : TInputPath::Ohm500Wire4;
        default: return std::nullopt;
        }
    };
    switch (s.Mode) {
    case modePt100:
    case modeOhm500: return resistance(false);
    case modePt1000:
    case modeOhm5K: return resistance(true);
    case modePot500: return TInputPath::Potentiometer500;
    case modePot5K: return TInputPath::Potentiometer5K;
    case modeThermocouple:
    case modeMilliVolt: return TInputPath::MilliVolt;
    default: return std::nullopt;
    }
}

std::vector<TInputPath> InputCalibrationPaths() {
    return {TInputPath::Ohm500Wire2, TInputPath::Ohm500Wire3, TInputPath::Ohm500Wire4, TInputPath::Ohm5KWire2,
            TInputPath::Ohm5KWire3,  TInputPath::Ohm5KWire4,  TInputPath::MilliVolt};
}

std::optional<SettingsRecord> SettingsForPath(TInputPath path, const SettingsRecord& own) {
    SettingsRecord s = own;
    if (path == TInputPath::MilliVolt) {
        s.Mode = modeMilliVolt;
        s.FizikaiForOutL = -100.0f;
        s.FizikaiForOutH = 100.0f;
        return s;
    }
    if (path == TInputPath::Potentiometer500 || path == TInputPath::Potentiometer5K)
        return std::nullopt;
    s.Mode = Is5K(path) ? modeOhm5K : modeOhm500;
    s.Wires = static_cast<std::uint8_t>(PathWires(path));
    s.FizikaiForOutL = 0.0f;
    s.FizikaiForOutH = static_cast<float>(RangeOhm(path));
    return s;
}

QString SettingsName(const SettingsRecord& s) {
    const QString wires = QStringLiteral(", %1 wires").arg(s.Wires);
    switch (s.Mode) {
    case modePt100: return QStringLiteral("Pt 100") + wires;
    case modePt1000: return QStringLiteral("Pt 1000") + wires;
    case modeThermocouple:
        if (s.TCType < tcCount)
            return QStringLiteral("type %1 thermocouple").arg(QChar::fromLatin1(ThermocoupleLetter(static_cast<TThermocouple>(s.TCType))));
        return QStringLiteral("thermocouple type %1").arg(s.TCType);
    case modePot500: return QStringLiteral("potentiometer 0-500 ohm");
    case modePot5K: return QStringLiteral("potentiometer 0-5 kohm");
    case modeOhm500: return QStringLiteral("resistance 0-500 ohm") + wires;
    case modeOhm5K: return QStringLiteral("resistance 0-5 kohm") + wires;
    case modeMilliVolt: return QStringLiteral("voltage");
    default: return QStringLiteral("input mode %1").arg(s.Mode);
    }
}

QString OutputRangeName(std::uint8_t outputMode) {
    const std::optional<TOutputRange> r = OutputRangeOf(outputMode);
    if (!r)
        return QStringLiteral("output type %1").arg(outputMode);
    return QStringLiteral("%1-%2 %3").arg(Number(r->Low), Number(r->High), r->Unit);
}

double InputFloor(TInputPath path) {
    if (path == TInputPath::MilliVolt)
        return 0.010;
    return Is5K(path) ? 0.4 : 0.04;
}

std::optional<TOutputRange> OutputRangeOf(std::uint8_t outputMode) {
    switch (outputMode) {
    case 0: return TOutputRange{true, 4.0, 20.0, QStringLiteral("mA")};
    case 1: return TOutputRange{true, 0.0, 20.0, QStringLiteral("mA")};
    case 2: return TOutputRange{false, 0.0, 10.0, QStringLiteral("V")};
    case 3: return TOutputRange{false, 2.0, 10.0, QStringLiteral("V")};
    case 4: return TOutputRange{false, 0.0, 5.0, QStringLiteral("V")};
    default: return std::nullopt;
    }
}

std::optional<TExpectedOutput> ExpectedOutput(const SettingsRecord& s, double value) {
    const std::optional<TOutputRange> range = OutputRangeOf(s.OutputMode);
    const double low = s.FizikaiForOutL, high = s.FizikaiForOutH;
    if (!range || !std::isfinite(value) || !std::isfinite(low) || !std::isfinite(high) || high == low)
        return std::nullopt;
    TExpectedOutput e;
    e.Fraction = (value - low) / (high - low);
    if (!std::isfinite(e.Fraction))
        return std::nullopt;
    if (e.Fraction < 0.0 || e.Fraction > 1.0) {
        e.Clamped = true;
        e.Fraction = std::clamp(e.Fraction, 0.0, 1.0);
    }
    e.Value = range->Low + e.Fraction * range->Span();
    return e;
}

double PercentOfSpan(double error, double span) {
    if (span == 0.0)
        return std::nan("");
    return error / std::fabs(span) * 100.0;
}

TDeviceReport ReportOf(const SettingsRecord& s, const PollAnswer& a) {
    TDeviceReport r;
    const auto temperature = [](float t) -> std::optional<double> {
        if (std::isfinite(t) && t > kNoTemperature)
            return t;
        return std::nullopt;
    };
    switch (s.CJC) {
    case 0: r.ColdJunction = temperature(a.InternalTemperature); break;
    case 1:
    case 2: r.ColdJunction = temperature(a.CJCTemperature); break;
    case 3: r.ColdJunction = 0.0; break; // no compensation: the junction counts as at 0 °C
    default: break;
    }
    if (std::isfinite(a.WireResistance))
        r.WireResistance = a.WireResistance;
    r.PotCalibrated = (a.CalibrationFlags & calflag::Potentiometer) != 0;
    r.RofPot0 = a.RofPot0;
    r.RofPot100 = a.RofPot100;
    return r;
}

std::optional<double> NominalOf(const SettingsRecord& s, const TDeviceReport& r, const TVerificationPoint& p,
                                const TPlanOptions& o) {
    const std::optional<TInputPath> path = PathOf(s);
    if (!path || !PlanProblem(s, r, path).isEmpty())
        return std::nullopt;
    double nominal = 0;
    if (!MathFor(s, r, *path, o.FixtureLeads).Back(p.Source, nominal) || !std::isfinite(nominal))
        return std::nullopt;
    return nominal;
}

TPlanOptions TPlanOptions::From(const TVerification& v) {
    TPlanOptions o;
    o.Percents = v.Points;
    o.InputPercentOfSpan = v.InputPercentOfSpan.value_or(kDefaultInputPercentOfSpan);
    o.OutputPercentOfSpan = v.OutputPercentOfSpan.value_or(kDefaultOutputPercentOfSpan);
    return o;
}

TVerificationPlan PlanVerification(const SettingsRecord& s, const TDeviceReport& r, const TPlanOptions& o) {
    TVerificationPlan plan;
    const std::optional<TInputPath> path = PathOf(s);
    plan.NotVerifiable = PlanProblem(s, r, path);
    if (!plan.NotVerifiable.isEmpty())
        return plan;
    if (!OutputRangeOf(s.OutputMode))
        plan.OutputNotVerifiable = QStringLiteral("the output type %1 is unknown").arg(s.OutputMode);
    const TModeMath math = MathFor(s, r, *path, o.FixtureLeads);
    for (double percent : o.Percents)
        plan.Points.push_back(Point(s, math, *path, percent, o));
    return plan;
}

} // namespace kv::station
