#include "Uncertainty.h"

#include <QJsonArray>

#include <cmath>
#include <limits>

namespace kv::station {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Six significant digits: a computed figure without the noise of binary
// fractions (1.5000000000000002e-05 is written 1.5e-05).
QJsonValue Figure(double v) {
    if (!std::isfinite(v))
        return QJsonValue::Null;
    return QString::number(v, 'g', 6).toDouble();
}

// A bound met exactly counts as met: the slack is far below any figure's
// last digit.
bool Within(double x, double bound) { return x <= bound + 1e-9 * std::max(std::fabs(bound), std::fabs(x)); }

} // namespace

QString DistributionName(TDistribution d) {
    return d == TDistribution::Normal ? QStringLiteral("normal") : QStringLiteral("rectangular");
}

double TComponent::Standard() const {
    if (!std::isfinite(Value) || !std::isfinite(Divisor) || !std::isfinite(Sensitivity) || !(Divisor > 0))
        return kNaN;
    return std::fabs(Value / Divisor * Sensitivity);
}

TComponent FromExpanded(const QString& name, double expanded, double k, const QString& unit, double sensitivity) {
    return {name, expanded, unit, TDistribution::Normal, k, sensitivity};
}

std::optional<TComponent> FromStatedAccuracy(const QString& name, const TFunctionAccuracy& accuracy, double reading,
                                            double scale, const QString& unit, double sensitivity) {
    const TAccuracy* a = std::isfinite(reading) ? accuracy.For(reading) : nullptr;
    if (!a)
        return std::nullopt;
    return TComponent{QStringLiteral("%1, %2 %3 range").arg(name, QString::number(a->Range * scale, 'g', 6), unit),
                      a->Limit(reading) * scale,
                      unit,
                      TDistribution::Rectangular,
                      std::sqrt(3.0),
                      sensitivity};
}

TComponent FromResolution(const QString& name, double digit, const QString& unit, double sensitivity) {
    return {name, digit / 2.0, unit, TDistribution::Rectangular, std::sqrt(3.0), sensitivity};
}

std::optional<TComponent> FromRepeatability(const QString& name, std::span<const double> readings,
                                            const QString& unit, double sensitivity) {
    const std::size_t n = readings.size();
    if (n < 2)
        return std::nullopt;
    double mean = 0;
    for (double r : readings) {
        if (!std::isfinite(r))
            return std::nullopt;
        mean += r / static_cast<double>(n);
    }
    double squares = 0;
    for (double r : readings)
        squares += (r - mean) * (r - mean);
    const double s = std::sqrt(squares / static_cast<double>(n - 1));
    return TComponent{name, s / std::sqrt(static_cast<double>(n)), unit, TDistribution::Normal, 1.0, sensitivity};
}

double TBudget::Combined() const {
    double sum = 0;
    for (const TComponent& c : Components) {
        const double u = c.Standard();
        sum += u * u;
    }
    return std::sqrt(sum); // NaN stays NaN
}

double TestUncertaintyRatio(double tolerance, double expanded) {
    if (!std::isfinite(tolerance) || !std::isfinite(expanded) || tolerance < 0 || expanded < 0)
        return kNaN;
    if (expanded == 0)
        return std::numeric_limits<double>::infinity();
    return tolerance / expanded;
}

QJsonObject BudgetJson(const TBudget& b, std::optional<double> tolerance) {
    QJsonArray components;
    for (const TComponent& c : b.Components)
        components.append(QJsonObject{{QStringLiteral("name"), c.Name},
                                      {QStringLiteral("value"), Figure(c.Value)},
                                      {QStringLiteral("unit"), c.Unit},
                                      {QStringLiteral("distribution"), DistributionName(c.Distribution)},
                                      {QStringLiteral("divisor"), Figure(c.Divisor)},
                                      {QStringLiteral("sensitivity"), Figure(c.Sensitivity)},
                                      {QStringLiteral("standard_uncertainty"), Figure(c.Standard())}});
    const double expanded = b.Expanded();
    return QJsonObject{
        {QStringLiteral("unit"), b.Unit},
        {QStringLiteral("components"), components},
        {QStringLiteral("combined"), Figure(b.Combined())},
        {QStringLiteral("k"), Figure(b.K)},
        {QStringLiteral("expanded"), Figure(expanded)},
        // An infinite ratio (no uncertainty at all) has no JSON number either.
        {QStringLiteral("tur"), tolerance ? Figure(TestUncertaintyRatio(*tolerance, expanded)) : QJsonValue::Null},
    };
}

QString OutcomeName(TOutcome o) {
    switch (o) {
    case TOutcome::Pass: return QStringLiteral("pass");
    case TOutcome::Conditional: return QStringLiteral("conditional");
    case TOutcome::Fail: return QStringLiteral("fail");
    }
    return {};
}

QString RuleName(TDecisionRule r) {
    return r == TDecisionRule::Guarded ? QStringLiteral("guarded acceptance") : QStringLiteral("simple acceptance");
}

QString RuleCode(TDecisionRule r) {
    return r == TDecisionRule::Guarded ? QStringLiteral("guarded") : QStringLiteral("simple");
}

TOutcome Decide(double error, double expanded, double tolerance, TDecisionRule rule) {
    if (!std::isfinite(error) || !std::isfinite(tolerance) || tolerance < 0)
        return TOutcome::Fail;
    const double e = std::fabs(error);
    if (!Within(e, tolerance))
        return TOutcome::Fail;
    if (rule == TDecisionRule::Simple)
        return TOutcome::Pass;
    if (std::isfinite(expanded) && expanded >= 0 && Within(e + expanded, tolerance))
        return TOutcome::Pass;
    return TOutcome::Conditional;
}

} // namespace kv::station
