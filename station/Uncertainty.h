#pragma once
// The uncertainty of a verification point and the rule that judges it.
//
// The budget is written down as calibration labs write it (the GUM's way):
// each component with the figure it comes from, its distribution, the
// divisor that makes that figure a standard uncertainty, its sensitivity
// coefficient into the result's unit, and its standard uncertainty in the
// result's unit. The components are taken as uncorrelated and combined by
// root-sum-square; the expanded uncertainty is k = 2 times the combined
// one (about 95 % coverage).
//
// The test uncertainty ratio is the tolerance's half-width over the
// expanded uncertainty, TUR = T / U (k = 2): the span of the tolerance over
// twice the 95 % expanded uncertainty, the definition of ANSI/NCSL Z540.3
// that calibration labs state on their certificates; 4 or more is the
// customary aim, and below 1 the uncertainty is wider than the tolerance.
//
// The decision rule (ILAC-G8): with guarded acceptance, the default, a
// point passes when |error| + U <= tolerance, fails when |error| >
// tolerance, and is conditional between (a pass the uncertainty cannot
// support; the run does not pass); with simple acceptance, which the bench
// may choose, it passes when |error| <= tolerance and fails otherwise. The
// bounds hold on both sides alike: a figure exactly on a bound, whatever
// binary fractions make of it, counts as on it.
//
// Pure: no clock, no I/O.
#include "Bench.h"

#include <QJsonObject>
#include <QString>

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace kv::station {

enum class TDistribution : std::uint8_t { Normal, Rectangular };
QString DistributionName(TDistribution d); // "normal", "rectangular"

struct TComponent {
    QString Name;
    // The figure as stated, in Unit: an expanded uncertainty, a
    // stated accuracy's half-width, half a digit, a standard deviation of the
    // mean.
    double Value = 0;
    QString Unit;
    TDistribution Distribution = TDistribution::Normal;
    double Divisor = 1;     // k of an expanded uncertainty, √3 of a half-width, 1 of a standard deviation
    double Sensitivity = 1; // the result's unit per Unit
    // |Value / Divisor × Sensitivity|, in the result's unit; NaN when any of
    // them is no number or the divisor is not positive.
    double Standard() const;
};

// A certified or stated expanded uncertainty (a reference's, a source's
// calibration) with its coverage factor: normal, divided by k.
TComponent FromExpanded(const QString& name, double expanded, double k, const QString& unit, double sensitivity);
// A maker's stated accuracy at `reading` (in the accuracy's base
// unit: A, V, ohm, mV) in the smallest range that holds the reading, as the
// half-width of a rectangular distribution. `scale` turns the base unit
// into `unit` (1000 from A to mA); the range goes into the name ("meter,
// 100 mA range"). None when no range holds the reading.
std::optional<TComponent> FromStatedAccuracy(const QString& name, const TFunctionAccuracy& accuracy, double reading,
                                            double scale, const QString& unit, double sensitivity);
// The resolution: half the last digit, rectangular.
TComponent FromResolution(const QString& name, double digit, const QString& unit, double sensitivity);
// The repeatability of the readings taken: the standard deviation of their
// mean (s / √n, the readings' own scatter, normal). None for fewer than two
// readings or one that is no number.
std::optional<TComponent> FromRepeatability(const QString& name, std::span<const double> readings,
                                            const QString& unit, double sensitivity);

struct TBudget {
    QString Unit; // the result's
    std::vector<TComponent> Components;
    double K = 2.0;
    // Root-sum-square of the standard uncertainties; NaN when one is no
    // number, 0 without components.
    double Combined() const;
    double Expanded() const { return K * Combined(); }
};

// tolerance / expanded; infinite for an uncertainty of 0, NaN when either
// is no number or negative.
double TestUncertaintyRatio(double tolerance, double expanded);

// The budget for the certificate's JSON: {"unit", "components": [{"name",
// "value", "unit", "distribution", "divisor", "sensitivity",
// "standard_uncertainty"}], "combined", "k", "expanded", "tur"}. Computed
// figures to six significant digits (no binary noise); a figure that is no
// number, and "tur" without a tolerance, are null.
QJsonObject BudgetJson(const TBudget& budget, std::optional<double> tolerance);

enum class TOutcome : std::uint8_t { Pass, Conditional, Fail };
QString OutcomeName(TOutcome o); // "pass", "conditional", "fail"
// "guarded acceptance", "simple acceptance"; the JSON's codes "guarded",
// "simple".
QString RuleName(TDecisionRule r);
QString RuleCode(TDecisionRule r);

// One point under `rule`. An error that is no number, or a tolerance that
// is negative or no number, fails; under guarded acceptance an uncertainty
// that is no number (not known) cannot support a pass: conditional at best.
TOutcome Decide(double error, double expanded, double tolerance, TDecisionRule rule);

} // namespace kv::station
