// The uncertainty budget's arithmetic against figures worked out by hand,
// and the decision rule at and around its bounds.
#include "Uncertainty.h"

#include <QJsonArray>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace kv::station;

namespace {

// A 6½-digit bench meter's DC current accuracy (one year).
TFunctionAccuracy MeterCurrent() {
    TFunctionAccuracy a;
    a.Ranges = {{0.01, 0.05, 0.020, 0}, {0.1, 0.05, 0.005, 0}, {1.0, 0.1, 0.01, 0}};
    return a;
}

} // namespace

// One output point: 20 mA read on the 100 mA range of a meter specified to
// ±(0.05 % of reading + 0.005 % of range): 10 µA + 5 µA = 15 µA, a
// rectangular half-width, u = 15 / √3 = 8.66025 µA; the meter's 0.1 µA
// digit, u = 0.05 / √3 = 0.0288675 µA; five readings 20.0011 to 20.0015 mA,
// s = 0.158114 µA, s / √5 = 0.0707107 µA. Combined 8.66059 µA, U (k = 2)
// 17.3212 µA; against ±0.1 % of 16 mA = 16 µA the TUR is 0.924: this meter
// cannot support a pass of that tolerance under guarded acceptance.
TEST(Uncertainty, OutputPointBudget) {
    const std::optional<TComponent> meter =
        FromStatedAccuracy(QStringLiteral("meter"), MeterCurrent(), 0.020, 1000.0, QStringLiteral("mA"), 1.0);
    ASSERT_TRUE(meter);
    EXPECT_EQ(meter->Name.toStdString(), "meter, 100 mA range");
    EXPECT_NEAR(meter->Value, 0.015, 1e-15);
    EXPECT_EQ(meter->Distribution, TDistribution::Rectangular);
    EXPECT_NEAR(meter->Standard(), 0.00866025, 1e-8);

    const TComponent resolution = FromResolution(QStringLiteral("meter resolution"), 0.0001, QStringLiteral("mA"), 1.0);
    EXPECT_NEAR(resolution.Value, 0.00005, 1e-15);
    EXPECT_NEAR(resolution.Standard(), 0.0000288675, 1e-10);

    const double readings[] = {20.0012, 20.0014, 20.0013, 20.0011, 20.0015};
    const std::optional<TComponent> repeat =
        FromRepeatability(QStringLiteral("repeatability"), readings, QStringLiteral("mA"), 1.0);
    ASSERT_TRUE(repeat);
    EXPECT_NEAR(repeat->Standard(), 0.0000707107, 1e-10);
    EXPECT_EQ(repeat->Distribution, TDistribution::Normal);

    TBudget b{QStringLiteral("mA"), {*meter, resolution, *repeat}};
    EXPECT_NEAR(b.Combined(), 0.00866059, 1e-8);
    EXPECT_NEAR(b.Expanded(), 0.0173212, 1e-7);
    EXPECT_NEAR(TestUncertaintyRatio(0.016, b.Expanded()), 0.92372, 1e-5);
    // +2 µA off: within the tolerance, but not by U.
    EXPECT_EQ(Decide(0.002, b.Expanded(), 0.016, TDecisionRule::Guarded), TOutcome::Conditional);
    EXPECT_EQ(Decide(0.002, b.Expanded(), 0.016, TDecisionRule::Simple), TOutcome::Pass);
}

// One input point: a Pt 100 at 100 °C, 138.5055 ohm from a source specified
// to ±(0.01 % of reading + 0.01 ohm): 0.0138506 + 0.01 = 0.0238506 ohm,
// u = 0.0137701 ohm; carried by dT/dR = 1 / 0.37928 = 2.63657 °C/ohm into
// 0.0363060 °C; the device's reading to 0.001 °C, u = 0.000288675 °C; five
// readings 100.008 to 100.012 °C, s / √5 = 0.000707107 °C. Combined
// 0.0363140 °C, U = 0.0726280 °C; the default tolerance there is 0.04 ohm
// carried into °C, 0.105463 °C (more than 0.1 % of a 0-100 °C span): TUR
// 1.45210.
TEST(Uncertainty, InputPointBudget) {
    TFunctionAccuracy source;
    source.Ranges = {{1000.0, 0.01, 0.0, 0.01}};
    const double sensitivity = 1.0 / 0.37928;
    const std::optional<TComponent> src =
        FromStatedAccuracy(QStringLiteral("source"), source, 138.5055, 1.0, QStringLiteral("ohm"), sensitivity);
    ASSERT_TRUE(src);
    EXPECT_NEAR(src->Value, 0.02385055, 1e-12);
    EXPECT_NEAR(src->Value / src->Divisor, 0.0137701, 1e-7);
    EXPECT_NEAR(src->Standard(), 0.0363060, 1e-7);

    const TComponent resolution = FromResolution(QStringLiteral("device resolution"), 0.001, QStringLiteral("°C"), 1.0);
    const double readings[] = {100.010, 100.012, 100.008, 100.011, 100.009};
    const std::optional<TComponent> repeat =
        FromRepeatability(QStringLiteral("repeatability"), readings, QStringLiteral("°C"), 1.0);
    ASSERT_TRUE(repeat);
    EXPECT_NEAR(repeat->Standard(), 0.000707107, 1e-9);

    const TBudget b{QStringLiteral("°C"), {*src, resolution, *repeat}};
    EXPECT_NEAR(b.Combined(), 0.0363140, 1e-7);
    EXPECT_NEAR(b.Expanded(), 0.0726280, 2e-7);
    EXPECT_NEAR(TestUncertaintyRatio(0.04 * sensitivity, b.Expanded()), 1.45210, 1e-5);
    EXPECT_NEAR(TestUncertaintyRatio(0.1, b.Expanded()), 1.37688, 1e-5);

    // A reference with its certificate's expanded uncertainty, k = 2.
    const TComponent ref = FromExpanded(QStringLiteral("R500"), 0.002, 2.0, QStringLiteral("ohm"), sensitivity);
    EXPECT_EQ(ref.Distribution, TDistribution::Normal);
    EXPECT_NEAR(ref.Standard(), 0.001 * sensitivity, 1e-12);
}

TEST(Uncertainty, ComponentsRefuseWhatTheyCannotState) {
    // Beyond the largest range, or no number: the meter states no accuracy.
    EXPECT_FALSE(FromStatedAccuracy(QStringLiteral("m"), MeterCurrent(), 1.5, 1000.0, QStringLiteral("mA"), 1.0));
    EXPECT_FALSE(FromStatedAccuracy(QStringLiteral("m"), MeterCurrent(), std::nan(""), 1.0, QStringLiteral("A"), 1.0));
    EXPECT_FALSE(FromStatedAccuracy(QStringLiteral("m"), TFunctionAccuracy{}, 0.01, 1.0, QStringLiteral("A"), 1.0));
    // A full scale holds its own value; a negative reading takes its size.
    EXPECT_EQ(FromStatedAccuracy(QStringLiteral("m"), MeterCurrent(), 0.01, 1000.0, QStringLiteral("mA"), 1.0)->Name.toStdString(),
              "m, 10 mA range");
    EXPECT_NEAR(FromStatedAccuracy(QStringLiteral("m"), MeterCurrent(), -0.02, 1000.0, QStringLiteral("mA"), 1.0)->Value,
                0.015, 1e-15);
    // One reading has no scatter to speak of; a reading that is no number none.
    const double one[] = {20.0};
    const double nan[] = {20.0, std::nan("")};
    EXPECT_FALSE(FromRepeatability(QStringLiteral("r"), one, QStringLiteral("mA"), 1.0));
    EXPECT_FALSE(FromRepeatability(QStringLiteral("r"), nan, QStringLiteral("mA"), 1.0));
    const double same[] = {20.0, 20.0, 20.0};
    EXPECT_EQ(FromRepeatability(QStringLiteral("r"), same, QStringLiteral("mA"), 1.0)->Standard(), 0.0);

    // A component that is no number makes the budget none; none is 0.
    TBudget b{QStringLiteral("mA"), {FromExpanded(QStringLiteral("x"), std::nan(""), 2.0, QStringLiteral("mA"), 1.0)}};
    EXPECT_TRUE(std::isnan(b.Combined()));
    EXPECT_TRUE(std::isnan(FromExpanded(QStringLiteral("x"), 1.0, 0.0, QStringLiteral("mA"), 1.0).Standard()));
    EXPECT_EQ(TBudget{}.Expanded(), 0.0);
    // A negative sensitivity counts by its size.
    EXPECT_DOUBLE_EQ(FromExpanded(QStringLiteral("x"), 0.2, 2.0, QStringLiteral("mV"), -3.0).Standard(), 0.3);
}

TEST(Uncertainty, TestUncertaintyRatio) {
    EXPECT_DOUBLE_EQ(TestUncertaintyRatio(0.1, 0.025), 4.0);
    EXPECT_EQ(TestUncertaintyRatio(0.1, 0.0), std::numeric_limits<double>::infinity());
    EXPECT_TRUE(std::isnan(TestUncertaintyRatio(std::nan(""), 0.1)));
    EXPECT_TRUE(std::isnan(TestUncertaintyRatio(0.1, std::nan(""))));
    EXPECT_TRUE(std::isnan(TestUncertaintyRatio(-0.1, 0.1)));
}

// Guarded acceptance: tolerance 0.1, U 0.03; pass up to 0.07 off, fail
// beyond 0.1, conditional between; simple acceptance: pass up to 0.1.
TEST(Uncertainty, DecisionRuleAtAndAroundItsBounds) {
    const double nan = std::nan("");
    struct {
        double error, expanded, tolerance;
        TDecisionRule rule;
        TOutcome outcome;
    } const table[] = {
        {0.0, 0.03, 0.1, TDecisionRule::Guarded, TOutcome::Pass},
        {0.07, 0.03, 0.1, TDecisionRule::Guarded, TOutcome::Pass}, // |e| + U on the tolerance
        {-0.07, 0.03, 0.1, TDecisionRule::Guarded, TOutcome::Pass},
        {0.069999, 0.03, 0.1, TDecisionRule::Guarded, TOutcome::Pass},
        {0.070001, 0.03, 0.1, TDecisionRule::Guarded, TOutcome::Conditional},
        {-0.070001, 0.03, 0.1, TDecisionRule::Guarded, TOutcome::Conditional},
        {0.1, 0.03, 0.1, TDecisionRule::Guarded, TOutcome::Conditional}, // on the tolerance
        {-0.1, 0.03, 0.1, TDecisionRule::Guarded, TOutcome::Conditional},
        {0.100001, 0.03, 0.1, TDecisionRule::Guarded, TOutcome::Fail},
        {-0.100001, 0.03, 0.1, TDecisionRule::Guarded, TOutcome::Fail},
        {0.0, 0.12, 0.1, TDecisionRule::Guarded, TOutcome::Conditional},  // TUR below 1: never a pass
        {0.0, nan, 0.1, TDecisionRule::Guarded, TOutcome::Conditional},   // the uncertainty is not known
        {0.0, 0.0, 0.0, TDecisionRule::Guarded, TOutcome::Pass},
        {0.1, 0.03, 0.1, TDecisionRule::Simple, TOutcome::Pass},
        {-0.1, 0.03, 0.1, TDecisionRule::Simple, TOutcome::Pass},
        {0.0, 0.5, 0.1, TDecisionRule::Simple, TOutcome::Pass},
        {0.100001, 0.03, 0.1, TDecisionRule::Simple, TOutcome::Fail},
        // Binary noise on the bound: 20.016 - 20 mA against ±0.016 mA.
        {20.016 - 20.0, 0.0, 0.016, TDecisionRule::Simple, TOutcome::Pass},
        {(20.013 - 20.0) + 0.003, 0.0, 0.016, TDecisionRule::Guarded, TOutcome::Pass},
        {nan, 0.03, 0.1, TDecisionRule::Simple, TOutcome::Fail},
        {nan, 0.03, 0.1, TDecisionRule::Guarded, TOutcome::Fail},
        {0.0, 0.03, -0.1, TDecisionRule::Simple, TOutcome::Fail},
        {0.0, 0.03, nan, TDecisionRule::Guarded, TOutcome::Fail},
    };
    for (const auto& row : table)
        EXPECT_EQ(Decide(row.error, row.expanded, row.tolerance, row.rule), row.outcome)
            << "error " << row.error << " U " << row.expanded << " tolerance " << row.tolerance << " "
            << RuleCode(row.rule).toStdString();
    EXPECT_EQ(OutcomeName(TOutcome::Conditional).toStdString(), "conditional");
    EXPECT_EQ(RuleName(TDecisionRule::Guarded).toStdString(), "guarded acceptance");
    EXPECT_EQ(RuleName(TDecisionRule::Simple).toStdString(), "simple acceptance");
}

TEST(Uncertainty, BudgetJsonCarriesEveryComponent) {
    const TBudget b{QStringLiteral("mA"),
                    {*FromStatedAccuracy(QStringLiteral("meter"), MeterCurrent(), 0.020, 1000.0, QStringLiteral("mA"), 1.0),
                     FromResolution(QStringLiteral("meter resolution"), 0.0001, QStringLiteral("mA"), 1.0)}};
    const QJsonObject o = BudgetJson(b, 0.016);
    EXPECT_EQ(o[QStringLiteral("unit")].toString().toStdString(), "mA");
    EXPECT_EQ(o[QStringLiteral("k")].toDouble(), 2.0);
    const QJsonArray components = o[QStringLiteral("components")].toArray();
    ASSERT_EQ(components.size(), 2);
    const QJsonObject meter = components[0].toObject();
    EXPECT_EQ(meter[QStringLiteral("name")].toString().toStdString(), "meter, 100 mA range");
    // The stated 15 µA as such, not 0.015000000000000001.
    EXPECT_EQ(meter[QStringLiteral("value")].toDouble(), 0.015);
    EXPECT_EQ(meter[QStringLiteral("unit")].toString().toStdString(), "mA");
    EXPECT_EQ(meter[QStringLiteral("distribution")].toString().toStdString(), "rectangular");
    EXPECT_EQ(meter[QStringLiteral("divisor")].toDouble(), 1.73205);
    EXPECT_EQ(meter[QStringLiteral("sensitivity")].toDouble(), 1.0);
    EXPECT_EQ(meter[QStringLiteral("standard_uncertainty")].toDouble(), 0.00866025);
    EXPECT_EQ(o[QStringLiteral("combined")].toDouble(), 0.00866030);
    EXPECT_EQ(o[QStringLiteral("expanded")].toDouble(), 0.0173206);
    EXPECT_EQ(o[QStringLiteral("tur")].toDouble(), 0.923755);

    EXPECT_TRUE(BudgetJson(b, std::nullopt)[QStringLiteral("tur")].isNull());
    // No uncertainty at all: an infinite ratio, which JSON cannot carry.
    EXPECT_TRUE(BudgetJson(TBudget{}, 0.016)[QStringLiteral("tur")].isNull());
    const TBudget broken{QStringLiteral("mA"), {FromExpanded(QStringLiteral("x"), std::nan(""), 2.0, QStringLiteral("mA"), 1.0)}};
    EXPECT_TRUE(BudgetJson(broken, 0.016)[QStringLiteral("expanded")].isNull());
}
