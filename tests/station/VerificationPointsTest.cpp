// Verification points in the device's own settings: what the fixture
// sources, what the device must read and put out, against values worked out
// by hand from the IEC 60751 and ITS-90 tables.
#include "VerificationPoints.h"

#include "Physics.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace kv;
using namespace kv::station;

namespace {

SettingsRecord Settings(std::uint8_t mode, std::uint8_t wires, float low, float high, std::uint8_t output = 0) {
    SettingsRecord s;
    s.Mode = mode;
    s.Wires = wires;
    s.FizikaiForOutL = low;
    s.FizikaiForOutH = high;
    s.OutputMode = output;
    return s;
}

SettingsRecord Thermocouple(TThermocouple type, std::uint8_t cjc, float low, float high) {
    SettingsRecord s = Settings(2, 4, low, high);
    s.TCType = type;
    s.CJC = cjc;
    return s;
}

TDeviceReport Report(std::optional<double> cj = std::nullopt, double wire = 0.0) {
    TDeviceReport r;
    r.ColdJunction = cj;
    r.WireResistance = wire;
    return r;
}

TDeviceReport Pot(double p0, double p100) {
    TDeviceReport r;
    r.WireResistance = 0.0;
    r.PotCalibrated = true;
    r.RofPot0 = p0;
    r.RofPot100 = p100;
    return r;
}

TVerificationPoint OnePoint(const SettingsRecord& s, const TDeviceReport& r, double percent) {
    TPlanOptions o;
    o.Percents = {percent};
    const TVerificationPlan plan = PlanVerification(s, r, o);
    EXPECT_TRUE(plan.NotVerifiable.isEmpty()) << plan.NotVerifiable.toStdString();
    return plan.Points.empty() ? TVerificationPoint{} : plan.Points.front();
}

} // namespace

// One row per mode and wiring: the sourced value as the tables give it (to
// the fixture's 1 mohm or 1 µV), the words, and the nominal value within
// what that rounding moves it.
TEST(VerificationPoints, SourceAndNominalPerMode) {
    struct Row {
        const char* what;
        SettingsRecord settings;
        TDeviceReport report;
        double percent;
        double source, sourceTol; // ohm or mV
        const char* word;
        double nominal, nominalTol;
        const char* unit;
        TInputPath path;
        double physical;
    };
    const Row table[] = {
        {"Pt 100, 4 wires, 0 °C", Settings(0, 4, 0, 100), Report(), 0, 100.0, 0, "resistor", 0.0, 1e-9, "°C",
         TInputPath::Ohm500Wire4, 100.0},
        {"Pt 100, 4 wires, 50 °C", Settings(0, 4, 0, 100), Report(), 50, 119.397, 0, "resistor", 50.0, 0.0013, "°C",
         TInputPath::Ohm500Wire4, 119.397},
        // -200 °C is 18.52008 ohm; 18.520 would lie below the sensor's range,
        // so the fixture is sent the next step inward.
        {"Pt 100, 3 wires, -200 °C", Settings(0, 3, -200, 850), Report(), 0, 18.521, 0, "resistor", -199.9977, 0.0005,
         "°C", TInputPath::Ohm500Wire3, 18.521},
        // 2 wires: the device subtracts its stored 0.6 ohm, so it is added.
        {"Pt 1000, 2 wires, 50 °C", Settings(1, 2, 0, 100), Report(std::nullopt, 0.6), 50, 1194.571, 0, "resistor",
         50.0, 0.0002, "°C", TInputPath::Ohm5KWire2, 1193.971},
        // EMF(500 °C) - EMF(25 °C) = 20.644 - 1.000 mV.
        {"K, internal cold junction at 25 °C, 500 °C", Thermocouple(tcK, 0, 0, 1000), Report(25.0), 50, 19.644, 0.0011,
         "voltage", 500.0, 0.015, "°C", TInputPath::MilliVolt, 19.644},
        {"J, no compensation, 400 °C", Thermocouple(tcJ, 3, 0, 400), Report(0.0), 100, 21.848, 0.0011, "voltage",
         400.0, 0.015, "°C", TInputPath::MilliVolt, 21.848},
        // EMF(-100 °C) - EMF(30 °C) = -3.379 - 1.196 mV.
        {"T, external Pt 100 at 30 °C, -100 °C", Thermocouple(tcT, 2, -100, 100), Report(30.0), 0, -4.575, 0.0015,
         "voltage", -100.0, 0.03, "°C", TInputPath::MilliVolt, -4.575},
        // EMF(1000 °C) - EMF(22 °C) = 9.587 - 0.125 mV: a noble-metal type.
        {"S, internal cold junction at 22 °C, 1000 °C", Thermocouple(tcS, 0, 0, 1000), Report(22.0), 100, 9.462, 0.0012,
         "voltage", 1000.0, 0.15, "°C", TInputPath::MilliVolt, 9.462},
        // Between the stored positions 15 and 485 ohm.
        {"potentiometer 0-500 ohm, 25 %", Settings(3, 4, 0, 100), Pot(15, 485), 25, 132.5, 0, "resistor", 25.0, 1e-9,
         "%", TInputPath::Potentiometer500, 132.5},
        {"potentiometer 0-5 kohm, falling positions, 40 %", Settings(4, 2, 0, 100), Pot(4800, 200), 40, 2960.0, 0,
         "resistor", 40.0, 1e-9, "%", TInputPath::Potentiometer5K, 2960.0},
        {"resistance 0-500 ohm, 2 wires, 250 ohm", Settings(5, 2, 0, 500), Report(std::nullopt, 1.25), 50, 251.25, 0,
         "resistor", 250.0, 1e-9, "ohm", TInputPath::Ohm500Wire2, 250.0},
        {"resistance 0-5 kohm, 3 wires, 5000 ohm", Settings(6, 3, 0, 5000), Report(), 100, 5000.0, 0, "resistor",
         5000.0, 1e-9, "ohm", TInputPath::Ohm5KWire3, 5000.0},
        {"voltage, -50 mV", Settings(7, 4, -100, 100), Report(), 25, -50.0, 0, "voltage", -50.0, 1e-9, "mV",
         TInputPath::MilliVolt, -50.0},
    };
    for (const Row& row : table) {
        SCOPED_TRACE(row.what);
        const TVerificationPoint p = OnePoint(row.settings, row.report, row.percent);
        ASSERT_TRUE(p.NotVerifiable.isEmpty()) << p.NotVerifiable.toStdString();
        EXPECT_NEAR(p.Source, row.source, row.sourceTol);
        ASSERT_EQ(p.Words.size(), 2);
        EXPECT_EQ(p.Words[0].toStdString(), row.word);
        // The word is the sourced value itself, at the fixture's resolution.
        EXPECT_EQ(p.Words[1].toDouble(), p.Source);
        EXPECT_EQ(p.Source, std::round(p.Source * 1000.0) / 1000.0);
        EXPECT_EQ(p.SourceUnit.toStdString(), row.word == std::string("voltage") ? "mV" : "ohm");
        EXPECT_NEAR(p.Nominal, row.nominal, row.nominalTol);
        EXPECT_EQ(p.Unit.toStdString(), row.unit);
        EXPECT_EQ(p.Path, row.path);
        EXPECT_EQ(p.Wires, PathWires(row.path));
        EXPECT_NEAR(p.Physical, row.physical, row.sourceTol + 1e-9);
        EXPECT_DOUBLE_EQ(p.Span, double(row.settings.FizikaiForOutH) - row.settings.FizikaiForOutL);
    }
}

// On 2 wires the fixture adds the wire resistance the device subtracts, less
// its own leads, which the device measures with the value.
TEST(VerificationPoints, TwoWiresCountTheStoredWiresAndTheFixturesLeads) {
    TPlanOptions o;
    o.Percents = {0, 50};
    o.FixtureLeads = 0.6;
    TVerificationPlan plan = PlanVerification(Settings(5, 2, 0, 500), Report(std::nullopt, 1.25), o);
    ASSERT_EQ(plan.Points.size(), 2u);
    EXPECT_EQ(plan.Points[0].Source, 0.65);
    EXPECT_EQ(plan.Points[1].Source, 250.65);
    EXPECT_EQ(plan.Points[1].Physical, 250.0);
    // The same leads on 3 and 4 wires drop out.
    plan = PlanVerification(Settings(5, 3, 0, 500), Report(std::nullopt, 1.25), o);
    EXPECT_EQ(plan.Points[1].Source, 250.0);
    // Nothing stored: 0 ohm would need a negative resistance.
    plan = PlanVerification(Settings(5, 2, 0, 500), Report(std::nullopt, 0.0), o);
    EXPECT_EQ(plan.Points[0].NotVerifiable.toStdString(),
              "no value the fixture can source gives 0 ohm (it would be -0.6 ohm)");
    EXPECT_EQ(plan.Points[1].Source, 249.4);
}

// The nominal value is what the device computes from exactly what is
// sourced: the fixture's rounding never shows as an error.
TEST(VerificationPoints, NominalIsComputedBackFromTheRoundedSource) {
    const TVerificationPoint pt = OnePoint(Settings(0, 4, 0, 100), Report(), 25);
    EXPECT_EQ(pt.Source, 109.735); // 109.73466 ohm at 25 °C
    EXPECT_NEAR(PtResistance(100.0, pt.Nominal), 109.735, 1e-9);
    EXPECT_GT(pt.Nominal, 25.0);

    // At the scaling's end the rounding goes inward: 109.735 ohm would read
    // 25.0009 °C, beyond a 0-25 °C scaling, and hold the output at 20 mA.
    const TVerificationPoint end = OnePoint(Settings(0, 4, 0, 25), Report(), 100);
    EXPECT_EQ(end.Source, 109.734);
    EXPECT_LT(end.Nominal, 25.0);
    ASSERT_TRUE(end.Output);
    EXPECT_FALSE(end.Output->Expected.Clamped);

    // A junction at 0 °C and no compensation: 0 °C is 0 mV, never "-0".
    const TVerificationPoint zero = OnePoint(Thermocouple(tcK, 3, -0.0001f, 100), Report(0.0), 0);
    EXPECT_EQ(zero.Words.join(QLatin1Char(' ')).toStdString(), "voltage 0");

    const TVerificationPoint tc = OnePoint(Thermocouple(tcK, 1, 0, 1000), Report(23.4), 25);
    EXPECT_NEAR(ThermocoupleEmf(tcK, tc.Nominal) - ThermocoupleEmf(tcK, 23.4), tc.Source, 1e-9);
}

// Sensitivities at the point, and the source's uncertainty carried by them:
// Pt 100 at 100 °C is 0.37928 ohm/°C, at 50 °C 0.385055 (IEC 60751's
// A + 2 B t), type K at 500 °C 42.65 µV/°C (the table's 20.218 and
// 21.071 mV at 490 and 510 °C).
TEST(VerificationPoints, SensitivityIsTheValuesSlopeOverTheSource) {
    struct Row {
        const char* what;
        SettingsRecord settings;
        TDeviceReport report;
        double percent, sensitivity, tol;
        double outputSensitivity; // mA per ohm or mV
    };
    const Row table[] = {
        // 138.5055 ohm: the fixture's 138.506 would read just above the
        // scaling's end, so 138.505 is sourced and the output follows.
        {"Pt 100 at 100 °C", Settings(0, 4, 0, 100), Report(), 100, 1.0 / 0.37928, 2e-4, 16.0 / 100.0 / 0.37928},
        {"Pt 100 at 50 °C", Settings(0, 4, 0, 100), Report(), 50, 1.0 / 0.385055, 2e-4, 16.0 / 100.0 / 0.385055},
        {"Pt 1000 at 0 °C", Settings(1, 4, -50, 150), Report(), 25, 1.0 / 3.9083, 2e-5, 16.0 / 200.0 / 3.9083},
        {"K at 500 °C", Thermocouple(tcK, 0, 0, 1000), Report(25.0), 50, 1.0 / 0.04265, 0.05, 16.0 / 1000.0 / 0.04265},
        {"potentiometer", Settings(3, 4, 0, 100), Pot(15, 485), 50, 100.0 / 470.0, 1e-12, 16.0 / 100.0 * 100.0 / 470.0},
        {"resistance", Settings(5, 4, 0, 400), Report(), 50, 1.0, 0, 16.0 / 400.0},
        {"voltage", Settings(7, 4, -10, 10), Report(), 50, 1.0, 0, 16.0 / 20.0},
    };
    for (const Row& row : table) {
        SCOPED_TRACE(row.what);
        const TVerificationPoint p = OnePoint(row.settings, row.report, row.percent);
        EXPECT_NEAR(p.Sensitivity, row.sensitivity, row.tol);
        ASSERT_TRUE(p.Output);
        EXPECT_FALSE(p.Output->Expected.Clamped);
        EXPECT_NEAR(p.Output->Sensitivity, row.outputSensitivity, std::fabs(row.outputSensitivity) * 3e-3);
    }
}

// Every output type: the output at the range's ends, in the middle, and held
// at its end beyond the scaling (where the device also reports an output
// range error); a falling scaling.
TEST(VerificationPoints, ExpectedOutputPerOutputTypeWithClamps) {
    struct Row {
        std::uint8_t output;
        double value;
        double expected;
        bool clamped;
        const char* unit;
    };
    const Row table[] = {
        {0, 0, 4.0, false, "mA"},  {0, 50, 12.0, false, "mA"}, {0, 100, 20.0, false, "mA"},
        {0, -10, 4.0, true, "mA"}, {0, 120, 20.0, true, "mA"},
        {1, 0, 0.0, false, "mA"},  {1, 25, 5.0, false, "mA"},  {1, 100, 20.0, false, "mA"}, {1, -1, 0.0, true, "mA"},
        {2, 0, 0.0, false, "V"},   {2, 75, 7.5, false, "V"},   {2, 101, 10.0, true, "V"},
        {3, 0, 2.0, false, "V"},   {3, 50, 6.0, false, "V"},   {3, 100, 10.0, false, "V"},  {3, -5, 2.0, true, "V"},
        {4, 0, 0.0, false, "V"},   {4, 50, 2.5, false, "V"},   {4, 200, 5.0, true, "V"},
    };
    for (const Row& row : table) {
        SCOPED_TRACE(testing::Message() << "output " << int(row.output) << " at " << row.value);
        const auto e = ExpectedOutput(Settings(5, 4, 0, 100, row.output), row.value);
        ASSERT_TRUE(e);
        EXPECT_NEAR(e->Value, row.expected, 1e-12);
        EXPECT_EQ(e->Clamped, row.clamped);
        EXPECT_EQ(OutputRangeOf(row.output)->Unit.toStdString(), row.unit);
    }
    // A falling scaling: 100 at 4 mA, 0 at 20 mA.
    EXPECT_NEAR(ExpectedOutput(Settings(5, 4, 100, 0), 25)->Value, 16.0, 1e-12);
    EXPECT_TRUE(ExpectedOutput(Settings(5, 4, 100, 0), 101)->Clamped);
    EXPECT_FALSE(ExpectedOutput(Settings(5, 4, 0, 100, 5), 50));   // an unknown output type
    EXPECT_FALSE(ExpectedOutput(Settings(5, 4, 50, 50), 50));      // no span
    EXPECT_FALSE(ExpectedOutput(Settings(5, 4, 0, 100), std::nan("")));
    EXPECT_EQ(OutputRangeOf(0)->Span(), 16.0);
    EXPECT_EQ(OutputRangeOf(3)->Span(), 8.0);
}

// A point beyond the scaling (asked for by the bench) is verified at the
// input; the output there is held at its end and follows nothing.
TEST(VerificationPoints, PointsBeyondTheScalingHoldTheOutput) {
    TPlanOptions o;
    o.Percents = {-10, 110};
    const TVerificationPlan plan = PlanVerification(Settings(5, 4, 0, 400), Report(), o);
    ASSERT_EQ(plan.Points.size(), 2u);
    // -40 ohm cannot be sourced; 440 ohm can, and the output stays at 20 mA.
    EXPECT_NE(plan.Points[0].NotVerifiable.indexOf(QStringLiteral("beyond the 0-500 ohm range")), -1)
        << plan.Points[0].NotVerifiable.toStdString();
    const TVerificationPoint& p = plan.Points[1];
    ASSERT_TRUE(p.NotVerifiable.isEmpty());
    EXPECT_EQ(p.Source, 440.0);
    ASSERT_TRUE(p.Output);
    EXPECT_TRUE(p.Output->Expected.Clamped);
    EXPECT_EQ(p.Output->Expected.Value, 20.0);
    EXPECT_EQ(p.Output->Sensitivity, 0.0);
}

// The default tolerances and the bench's: ±0.1 % of the span, not less than
// the input's own limit at the point; the output ±0.1 % of its span.
TEST(VerificationPoints, Tolerances) {
    struct Row {
        const char* what;
        SettingsRecord settings;
        TDeviceReport report;
        double percent;
        std::optional<double> inputPercent, outputPercent;
        double input, output;
    };
    const Row table[] = {
        // 0.1 % of 100 °C is 0.1 °C, but 0.04 ohm is 0.1023 °C at 0 °C.
        {"Pt 100 0-100 °C at 0 °C", Settings(0, 4, 0, 100), Report(), 0, {}, {}, 0.04 / 0.39083, 0.016},
        {"Pt 100 0-500 °C", Settings(0, 4, 0, 500), Report(), 50, {}, {}, 0.5, 0.016},
        {"Pt 1000 0-100 °C at 0 °C", Settings(1, 4, 0, 100), Report(), 0, {}, {}, 0.4 / 3.9083, 0.016},
        // 10 µV of type K at 0 °C: 39.45 µV/°C.
        {"K 0-200 °C at 0 °C", Thermocouple(tcK, 3, 0, 200), Report(0.0), 0, {}, {}, 0.010 / 0.039450, 0.016},
        {"K 0-1200 °C", Thermocouple(tcK, 3, 0, 1200), Report(0.0), 50, {}, {}, 1.2, 0.016},
        {"resistance 0-5 kohm, 0-10 V", Settings(6, 4, 0, 5000, 2), Report(), 50, {}, {}, 5.0, 0.010},
        {"voltage ±10 mV, 2-10 V", Settings(7, 4, -10, 10, 3), Report(), 50, {}, {}, 0.020, 0.008},
        {"the bench's per cents", Settings(0, 4, 0, 500), Report(), 50, 0.2, 0.05, 1.0, 0.008},
        {"the bench's per cent under the floor", Settings(0, 4, 0, 100), Report(), 0, 0.01, 0.1, 0.04 / 0.39083, 0.016},
    };
    for (const Row& row : table) {
        SCOPED_TRACE(row.what);
        TVerification v;
        v.Points = {row.percent};
        v.InputPercentOfSpan = row.inputPercent;
        v.OutputPercentOfSpan = row.outputPercent;
        const TVerificationPlan plan = PlanVerification(row.settings, row.report, TPlanOptions::From(v));
        ASSERT_EQ(plan.Points.size(), 1u);
        const TVerificationPoint& p = plan.Points.front();
        EXPECT_NEAR(p.Tolerance, row.input, row.input * 2e-3);
        ASSERT_TRUE(p.Output);
        EXPECT_NEAR(p.Output->Tolerance, row.output, 1e-12);
    }
    EXPECT_EQ(TPlanOptions::From(TVerification{}).Percents, (std::vector<double>{0, 25, 50, 75, 100}));
}

TEST(VerificationPoints, WhatCannotBeVerifiedSaysWhy) {
    TDeviceReport noWire = Report(25.0);
    noWire.WireResistance.reset();
    TDeviceReport potUnstored = Pot(15, 485);
    potUnstored.PotCalibrated = false;
    struct Row {
        const char* what;
        SettingsRecord settings;
        TDeviceReport report;
        const char* reason;
    };
    const Row table[] = {
        {"unknown mode", Settings(8, 4, 0, 100), Report(), "input mode 8 is unknown"},
        {"wiring byte", Settings(0, 5, 0, 100), Report(), "wiring 5 is not 2, 3 or 4"},
        {"no span", Settings(0, 4, 50, 50), Report(), "spans no range"},
        {"scaling no number", Settings(0, 4, std::nanf(""), 100), Report(), "spans no range"},
        {"thermocouple type", Thermocouple(TThermocouple(10), 0, 0, 100), Report(25.0), "type 10 is unknown"},
        {"compensation", Thermocouple(tcK, 4, 0, 100), Report(25.0), "compensation 4 is unknown"},
        {"no cold junction", Thermocouple(tcK, 0, 0, 100), Report(), "no cold-junction temperature"},
        {"positions not stored", Settings(3, 4, 0, 100), potUnstored, "positions are not stored"},
        {"positions equal", Settings(4, 4, 0, 100), Pot(300, 300), "span no resistance"},
        {"2 wires without wire resistance", Settings(0, 2, 0, 100), noWire, "no wire resistance"},
    };
    for (const Row& row : table) {
        SCOPED_TRACE(row.what);
        const TVerificationPlan plan = PlanVerification(row.settings, row.report);
        EXPECT_TRUE(plan.Points.empty());
        EXPECT_NE(plan.NotVerifiable.indexOf(QString::fromUtf8(row.reason)), -1) << plan.NotVerifiable.toStdString();
    }
    // 2 wires with a wire resistance that is no number in the answer.
    PollAnswer a;
    a.WireResistance = std::nanf("");
    EXPECT_FALSE(ReportOf(Settings(0, 2, 0, 100), a).WireResistance);

    // Single points beyond the sensor's or the input's range.
    const struct {
        const char* what;
        SettingsRecord settings;
        TDeviceReport report;
        double percent;
        const char* reason;
    } points[] = {
        {"Pt 100 above 850 °C", Settings(0, 4, 0, 900), Report(), 100, "beyond the Pt 100's range of -200 to 850 °C"},
        {"Pt 1000 below -200 °C", Settings(1, 4, -250, 0), Report(), 0, "beyond the Pt 1000's range"},
        {"K above 1372 °C", Thermocouple(tcK, 0, 0, 1400), Report(25.0), 100, "beyond type K's range of -270 to 1372 °C"},
        {"B below 50 °C", Thermocouple(tcB, 0, 0, 1000), Report(25.0), 0, "beyond type B's range"},
        {"resistance above 500 ohm", Settings(5, 4, 0, 600), Report(), 100, "beyond the 0-500 ohm range"},
        {"voltage above 100 mV", Settings(7, 4, 0, 150), Report(), 100, "beyond the ±100 mV input"},
        {"potentiometer beyond its range", Settings(3, 4, 0, 200), Pot(15, 485), 100, "beyond the 0-500 ohm range"},
        {"not a number", Settings(5, 4, 0, 100), Report(), std::nan(""), "no number"},
    };
    for (const auto& row : points) {
        SCOPED_TRACE(row.what);
        TPlanOptions o;
        o.Percents = {row.percent};
        const TVerificationPlan plan = PlanVerification(row.settings, row.report, o);
        ASSERT_TRUE(plan.NotVerifiable.isEmpty()) << plan.NotVerifiable.toStdString();
        ASSERT_EQ(plan.Points.size(), 1u);
        EXPECT_NE(plan.Points[0].NotVerifiable.indexOf(QString::fromUtf8(row.reason)), -1)
            << plan.Points[0].NotVerifiable.toStdString();
    }

    // An unknown output type: the input is verified, the output is not.
    const TVerificationPlan plan = PlanVerification(Settings(5, 4, 0, 100, 7), Report());
    EXPECT_NE(plan.OutputNotVerifiable.indexOf(QStringLiteral("output type 7 is unknown")), -1);
    ASSERT_EQ(plan.Points.size(), 5u);
    for (const TVerificationPoint& p : plan.Points) {
        EXPECT_TRUE(p.NotVerifiable.isEmpty());
        EXPECT_FALSE(p.Output);
    }
}

// What the device reports that the points depend on.
TEST(VerificationPoints, ReportTakesTheColdJunctionTheDeviceCompensatesWith) {
    PollAnswer a;
    a.InternalTemperature = 28.5f;
    a.CJCTemperature = 21.25f;
    a.WireResistance = 0.75f;
    a.RofPot0 = 12.5f;
    a.RofPot100 = 480.0f;
    a.CalibrationFlags = calflag::Potentiometer;
    const struct {
        std::uint8_t cjc;
        std::optional<double> expected;
    } table[] = {{0, 28.5}, {1, 21.25}, {2, 21.25}, {3, 0.0}, {4, std::nullopt}};
    for (const auto& row : table)
        EXPECT_EQ(ReportOf(Thermocouple(tcK, row.cjc, 0, 100), a).ColdJunction, row.expected) << int(row.cjc);
    const TDeviceReport r = ReportOf(Settings(3, 4, 0, 100), a);
    EXPECT_EQ(r.WireResistance, 0.75);
    EXPECT_TRUE(r.PotCalibrated);
    EXPECT_EQ(r.RofPot0, 12.5);
    EXPECT_EQ(r.RofPot100, 480.0);

    // No data: -200 °C or below, or not a number.
    a.InternalTemperature = kNoTemperature;
    a.CJCTemperature = std::nanf("");
    a.CalibrationFlags = 0;
    EXPECT_FALSE(ReportOf(Thermocouple(tcK, 0, 0, 100), a).ColdJunction);
    EXPECT_FALSE(ReportOf(Thermocouple(tcK, 2, 0, 100), a).ColdJunction);
    EXPECT_FALSE(ReportOf(Settings(3, 4, 0, 100), a).PotCalibrated);
}

// The paths: the device's own, and settings that test each path the input
// calibration sets constants for on its own.
TEST(VerificationPoints, PathsOfTheInputCalibration) {
    const struct {
        std::uint8_t mode, wires;
        std::optional<TInputPath> path;
    } table[] = {
        {0, 2, TInputPath::Ohm500Wire2}, {0, 3, TInputPath::Ohm500Wire3}, {0, 4, TInputPath::Ohm500Wire4},
        {1, 2, TInputPath::Ohm5KWire2},  {1, 4, TInputPath::Ohm5KWire4},  {5, 3, TInputPath::Ohm500Wire3},
        {6, 3, TInputPath::Ohm5KWire3},  {2, 0, TInputPath::MilliVolt},   {7, 4, TInputPath::MilliVolt},
        {3, 2, TInputPath::Potentiometer500}, {4, 4, TInputPath::Potentiometer5K},
        {0, 1, std::nullopt},            {8, 4, std::nullopt},
    };
    for (const auto& row : table)
        EXPECT_EQ(PathOf(Settings(row.mode, row.wires, 0, 100)), row.path) << int(row.mode) << " " << int(row.wires);

    SettingsRecord own = Thermocouple(tcJ, 1, 0, 400);
    own.OutputMode = 3;
    own.ErrorSignalFlags = errsig::High;
    const std::vector<TInputPath> paths = InputCalibrationPaths();
    EXPECT_EQ(paths.size(), 7u);
    for (TInputPath path : paths) {
        SCOPED_TRACE(PathName(path).toStdString());
        const std::optional<SettingsRecord> s = SettingsForPath(path, own);
        ASSERT_TRUE(s);
        EXPECT_EQ(PathOf(*s), path);
        EXPECT_EQ(s->OutputMode, 3);
        EXPECT_EQ(s->ErrorSignalFlags, errsig::High);
        // Its whole range can be verified.
        const TVerificationPlan plan = PlanVerification(*s, Report(std::nullopt, 0.0));
        ASSERT_EQ(plan.Points.size(), 5u) << plan.NotVerifiable.toStdString();
        for (const TVerificationPoint& p : plan.Points)
            EXPECT_TRUE(p.NotVerifiable.isEmpty()) << p.NotVerifiable.toStdString();
    }
    EXPECT_EQ(SettingsForPath(TInputPath::Ohm5KWire3, own)->FizikaiForOutH, 5000.0f);
    EXPECT_EQ(SettingsForPath(TInputPath::MilliVolt, own)->FizikaiForOutL, -100.0f);
    EXPECT_FALSE(SettingsForPath(TInputPath::Potentiometer500, own));
    EXPECT_EQ(PathName(TInputPath::Ohm500Wire2).toStdString(), "500 ohm range, 2 wires");
}

TEST(VerificationPoints, PercentOfSpan) {
    EXPECT_DOUBLE_EQ(PercentOfSpan(0.05, 100.0), 0.05);
    EXPECT_DOUBLE_EQ(PercentOfSpan(0.05, -100.0), 0.05);
    EXPECT_DOUBLE_EQ(PercentOfSpan(-0.016, 16.0), -0.1);
    EXPECT_TRUE(std::isnan(PercentOfSpan(1.0, 0.0)));
}
