// The verification run driven by hand against kvsim's device model, as the
// poll cycle, the fixture and the meter drive it: the device's own settings
// and every path a calibration set constants for, the settings given back;
// a thermocouple's points that follow its warming cold junction; what
// cannot be verified said with why; and every way out leaving the device as
// it was, or saying what it was left in.
#include "VerifyRun.h"

#include "DeviceModel.h"
#include "RunOutcome.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

using namespace kv::station;

namespace {

// The example bench's source and meter classes.
TBenchSource Source() {
    TBenchSource s;
    s.Resistance.Ranges = {{500, 0.001, 0, 0.002}, {5000, 0.001, 0, 0.02}, {50000, 0.002, 0, 0.5}};
    s.Voltage.Ranges = {{100, 0.001, 0, 0.001}};
    return s;
}
TFunctionAccuracy MeterCurrent() {
    TFunctionAccuracy a;
    a.Ranges = {{0.01, 0.005, 0.001, 0}, {0.1, 0.005, 0.002, 0}};
    return a;
}

// The device, the fixture and the meter around a run. Each turn is what the
// cycle does next: a pending settings write or read, else a poll 50 ms
// later (two polls a measuring cycle).
struct TRig {
    kvsim::TDeviceModel model;
    std::unique_ptr<TVerifyRun> run;
    QStringList fixture;                 // every call's words
    std::vector<kv::SettingsRecord> written;
    std::function<QString(const QStringList&)> onFixture; // an error to return
    std::function<std::optional<double>(TMeterQuantity)> meter;
    bool finished = false;
    bool silent = false; // the device answers nothing

    TRig(const kvsim::TDeviceConfig& config, TVerifySetup setup) : model(config) {
        // The board's own output calibration: the PWM values its output
        // stage turns into 4 and 20 mA, 2 and 10 V.
        const kvsim::TOutputCharacteristic& board = model.OutputStage().Characteristic();
        const auto pwm = [&](double target, bool current) {
            std::uint32_t low = 0, high = 65535;
            while (low < high) {
                const std::uint32_t mid = (low + high) / 2;
                const kvsim::TMeterReading r = board.Read(static_cast<std::uint16_t>(mid));
                if ((current ? r.MilliAmp : r.Volt) < target)
                    low = mid + 1;
                else
                    high = mid;
            }
            return static_cast<std::uint16_t>(low);
        };
        const kv::OutputCalibrationRecord record{pwm(4, true), pwm(20, true), pwm(2, false), pwm(10, false)};
        model.Handle(kv::cmdWriteOutputCalibration, record.Encode());
        model.Advance(kvsim::TDeviceModel::kCycleMs);
        run = std::make_unique<TVerifyRun>(std::move(setup));
        run->RunFixture = [this](const QStringList& words) {
            fixture << words.join(QLatin1Char(' '));
            const QString w = words.value(0);
            if (w == QLatin1String("resistor"))
                model.SetSensor(kvsim::sensorResistor, words.value(1).toDouble());
            else if (w == QLatin1String("voltage"))
                model.SetSensor(kvsim::sensorVoltage, words.value(1).toDouble());
            else if (w == QLatin1String("open"))
                model.SetSensor(kvsim::sensorOpen);
            run->OnFixtureDone(onFixture ? onFixture(words) : QString());
        };
        meter = [this](TMeterQuantity q) -> std::optional<double> {
            const kvsim::TMeterReading r = model.Meter();
            return q == meterCurrent ? r.MilliAmp / 1000.0 : r.Volt;
        };
        run->Measure = [this](TMeterQuantity q) {
            const std::optional<double> v = meter(q);
            if (!v)
                return run->OnReading(std::nullopt, QStringLiteral("no answer from the meter"), TMeterFault::NoAnswer);
            TMeterResult r;
            r.Value = *v;
            r.Readings = {*v, *v, *v};
            r.Digit = 1e-9;
            run->OnReading(r, {}, TMeterFault::None);
        };
        run->OnFinished = [this] { finished = true; };
    }
    void Turn() {
        if (silent) {
            model.Advance(50);
            return;
        }
        if (run->IsPending(kv::pendWriteSettings)) {
            const auto data = *run->CommandData(kv::pendWriteSettings);
            written.push_back(kv::SettingsRecord::Decode(data));
            model.Handle(kv::cmdWriteSettings, data);
            run->OnCommandEnd(kv::cmdWriteSettings, true);
            run->SetPending(kv::pendReadSettings, true); // the cycle reads back what was written
        } else if (run->IsPending(kv::pendReadSettings)) {
            const auto a = model.Handle(kv::cmdReadSettings, {});
            run->SetPending(kv::pendReadSettings, false);
            run->OnSettings(kv::SettingsRecord::Decode(a->Data));
        } else {
            model.Advance(50);
            const kv::PollRequest request{0, 0, 2026, 12, 6, 0};
            run->OnPoll(kv::PollAnswer::Decode(model.Handle(kv::cmdPoll, request.Encode())->Data), 0);
        }
    }
    bool RunToEnd(int limit = 20000) {
        for (int i = 0; i < limit && !finished; ++i)
            Turn();
        return finished;
    }
    const kv::cert::TPoint* Point(const QString& quantity, const QString& path, double percent) const {
        for (const kv::cert::TPoint& p : run->Points())
            if (p.Quantity == quantity && p.Path == path && p.Percent == percent)
                return &p;
        return nullptr;
    }
};

kvsim::TDeviceConfig Device(std::uint8_t mode, std::uint8_t wires, float low, float high) {
    kvsim::TDeviceConfig c = kvsim::TDeviceConfig::Steady();
    c.Settings.Mode = mode;
    c.Settings.Wires = wires;
    c.Settings.FizikaiForOutL = low;
    c.Settings.FizikaiForOutH = high;
    return c;
}

TVerifySetup BenchSetup(bool paths, bool output) {
    TVerifySetup s;
    s.Plan.FixtureLeads = 0.6; // kvsim's sources hang on the sensor's leads
    if (paths)
        s.Paths = InputCalibrationPaths();
    s.Output = output;
    s.Meter = output;
    s.Source = Source();
    s.MeterCurrent = MeterCurrent();
    return s;
}

} // namespace

// A Pt 100 on 3 wires, its own settings' points with the output, then each
// path the calibration sets constants for but the own settings do not take,
// in settings written for the measurement only and given back at the end.
TEST(VerifyRun, ItsOwnSettingsAndEveryOtherPathThenGivesTheSettingsBack) {
    TRig rig(Device(0, 3, 0, 100), BenchSetup(true, true));
    const kv::SettingsRecord own = rig.model.Settings();
    rig.run->Start();
    ASSERT_TRUE(rig.RunToEnd());
    EXPECT_EQ(rig.model.Settings(), own);
    EXPECT_EQ(rig.run->SettingsGivenBack(), TPutBack::Yes);
    EXPECT_TRUE(rig.run->Stopped().isEmpty());
    EXPECT_TRUE(rig.run->NotVerified().isEmpty()) << rig.run->NotVerified().join("; ").toStdString();
    // Written: the five other paths of the two ranges, the millivolt path,
    // and the own settings back; never the own settings before.
    ASSERT_EQ(rig.written.size(), 7u);
    EXPECT_EQ(rig.written.back(), own);
    EXPECT_EQ(rig.written[0].Mode, 5);
    EXPECT_EQ(rig.written[0].Wires, 2);
    EXPECT_EQ(rig.written[5].Mode, 7);
    ASSERT_EQ(rig.run->Points().size(), 5u + 5u + 6u * 3u);
    for (const kv::cert::TPoint& p : rig.run->Points()) {
        SCOPED_TRACE(kv::cert::PointName(p).toStdString());
        ASSERT_TRUE(p.AsFound.Result);
        EXPECT_EQ(*p.AsFound.Result, TOutcome::Pass);
        ASSERT_TRUE(p.AsFound.Budget && p.AsFound.Error && p.AsFound.Value);
        EXPECT_NEAR(*p.AsFound.Value - (p.AsFound.Expected ? *p.AsFound.Expected : p.Nominal), *p.AsFound.Error, 1e-9);
        // The budget: the source (input) or the meter (output), the last
        // digit, the repeatability; well within the tolerance.
        EXPECT_GE(p.AsFound.Budget->Components.size(), 3u);
        EXPECT_LT(p.AsFound.Budget->Expanded(), p.Tolerance / 2);
        if (p.Quantity == QLatin1String("input")) {
            EXPECT_EQ(p.AsFound.Readings.size(), 5u);
            EXPECT_TRUE(p.AsFound.Budget->Components[0].Name.startsWith(QLatin1String("source")));
        } else {
            EXPECT_EQ(p.Path, QStringLiteral("4-20 mA"));
            EXPECT_TRUE(p.AsFound.Expected);
            EXPECT_TRUE(p.AsFound.Budget->Components[0].Name.startsWith(QLatin1String("meter")));
        }
    }
    // The paths are judged at what the input resolves.
    EXPECT_DOUBLE_EQ(rig.Point("input", "500 ohm range, 2 wires", 90)->Tolerance, 0.04);
    EXPECT_DOUBLE_EQ(rig.Point("input", "5 kohm range, 4 wires", 10)->Tolerance, 0.4);
    EXPECT_DOUBLE_EQ(rig.Point("input", "millivolt", 50)->Tolerance, 0.01);
    EXPECT_FALSE(rig.Point("input", "500 ohm range, 3 wires", 50)) << "the own settings' path";
    // The 2-wire path's source less the fixture's leads: kvsim adds its own.
    EXPECT_EQ(rig.Point("input", "500 ohm range, 2 wires", 10)->Source, QStringLiteral("resistor 49.4"));
    EXPECT_EQ(rig.fixture.first(), QStringLiteral("resistor 100"));
}

// A thermocouple's points are planned again at each point with the cold
// junction of the latest poll: the device warms by several degrees during
// the run (a slow fixture, 20 s a connection, on a device switched on just
// now), and points planned at the start would be off by as much.
TEST(VerifyRun, AThermocouplesPointsFollowItsWarmingColdJunction) {
    kvsim::TDeviceConfig c = Device(2, 4, 0, 1200);
    c.Settings.TCType = kv::tcK;
    c.Settings.CJC = 0; // internal
    c.WarmUp = 8.0;
    c.WarmUpMinutes = 2.0;
    TRig rig(c, BenchSetup(false, false));
    auto inner = rig.run->RunFixture;
    rig.run->RunFixture = [&rig, inner](const QStringList& words) {
        rig.model.Advance(20000);
        inner(words);
    };
    rig.run->Start();
    ASSERT_TRUE(rig.RunToEnd());
    ASSERT_EQ(rig.run->Points().size(), 5u);
    for (const kv::cert::TPoint& p : rig.run->Points()) {
        SCOPED_TRACE(p.Source.toStdString());
        EXPECT_EQ(p.AsFound.Result, TOutcome::Pass);
        EXPECT_NEAR(*p.AsFound.Value, p.Nominal, 0.05);
    }
    // What the first point's 0 °C took and what the same point takes now.
    const double first = rig.fixture.first().section(' ', 1).toDouble();
    const double now = -kv::ThermocoupleEmf(kv::tcK, rig.run->LastPoll()->InternalTemperature);
    EXPECT_GT(std::fabs(now - first), 0.1) << "the junction warmed by 2.5 degC or more";
    EXPECT_GT(std::fabs(now - first) / kv::ThermocoupleSeebeck(kv::tcK, 0), rig.run->Points().front().Tolerance)
        << "points planned at the start would fail";
}

// What cannot be verified is said with why, and no pass rests on a figure
// the bench does not state.
TEST(VerifyRun, WhatCannotBeVerifiedIsSaidAndPassesNothing) {
    struct {
        const char* what;
        std::function<void(TVerifySetup&)> setup;
        const char* notVerified;
        bool points;
    } const table[] = {
        {"no fixture", [](TVerifySetup& s) { s.Fixture = false; }, "the input (no fixture on the bench to source it)", false},
        {"no meter", [](TVerifySetup& s) { s.Meter = false; }, "the output (no meter on the bench)", true},
        {"no source", [](TVerifySetup& s) { s.Source.reset(); },
         "the input: the bench states no accuracy of the source that gives its points ([Source])", true},
        {"no DCI", [](TVerifySetup& s) { s.MeterCurrent = {}; }, "the output: the bench states no DCI accuracy of the meter",
         true},
        {"a point beyond the sensor's range", [](TVerifySetup& s) { s.Plan.Percents = {50, 1000}; },
         "input at 1000 % (Pt 100, 4 wires): 1000 °C lies beyond the Pt 100's range", true},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.what);
        TVerifySetup s = BenchSetup(false, true);
        row.setup(s);
        TRig rig(Device(0, 4, 0, 100), s);
        rig.run->Start();
        ASSERT_TRUE(rig.RunToEnd());
        kv::cert::TFacts f;
        f.Kind = kv::cert::TKind::Verification;
        f.Points = rig.run->Points();
        f.NotVerified = rig.run->NotVerified();
        const kv::station::TRunOutcome outcome = kv::cert::OutcomeOf(f);
        EXPECT_TRUE(outcome.NotVerified.join("; ").contains(QString::fromUtf8(row.notVerified)))
            << outcome.NotVerified.join("; ").toStdString();
        EXPECT_EQ(VerdictOf(outcome).Kind, TVerdictKind::Failed);
        EXPECT_EQ(!rig.run->Points().empty(), row.points);
        // Under guarded acceptance, what rests on an unknown figure is
        // conditional at best.
        for (const kv::cert::TPoint& p : rig.run->Points()) {
            if (p.AsFound.Budget && std::isnan(p.AsFound.Budget->Expanded())) {
                EXPECT_NE(p.AsFound.Result, TOutcome::Pass) << kv::cert::PointName(p).toStdString();
            }
        }
    }
}

// Every way out: stopped in a path's settings, the device gets its own
// back; lost there, what it was left in is said; a fixture that fails ends
// the sourcing; a meter that fails ends the output's readings, not the
// input's; a device that reports no value fails the point.
TEST(VerifyRun, EveryWayOutLeavesTheDeviceAsItWasOrSaysWhatItHolds) {
    struct {
        const char* what;
        std::function<void(TRig&)> arrange;
        std::function<bool(TRig&)> when; // act now
        std::function<void(TRig&)> act;
        TPutBack givenBack;
        const char* stopped;
        const char* notVerified; // "" for none expected
    } const table[] = {
        {"stopped in the 5 kohm path", nullptr, [](TRig& r) { return r.fixture.contains("resistor 2500"); },
         [](TRig& r) { r.run->Abort(QStringLiteral("interrupted")); }, TPutBack::Yes, "interrupted", ""},
        {"lost in the 5 kohm path", nullptr, [](TRig& r) { return r.fixture.contains("resistor 2500"); },
         [](TRig& r) {
             r.silent = true;
             r.run->Lost(QStringLiteral("the device did not answer"));
         },
         TPutBack::Unknown, "the device did not answer", ""},
        {"the fixture fails", [](TRig& r) {
             r.onFixture = [](const QStringList& w) {
                 return w.join(' ') == QLatin1String("resistor 2500") ? QStringLiteral("relay 4 stuck") : QString();
             };
         },
         nullptr, nullptr, TPutBack::Yes, "", "the points after 5 kohm range, 3 wires at 50 % (the fixture failed: relay 4 stuck)"},
        {"the meter fails", [](TRig& r) { r.meter = [](TMeterQuantity) { return std::nullopt; }; }, nullptr, nullptr,
         TPutBack::Yes, "", "output at 0 % (4-20 mA): the meter failed: no answer from the meter"},
        {"no value at a point", [](TRig& r) {
             r.onFixture = [&r](const QStringList& w) {
                 if (w.join(' ') == QLatin1String("resistor 119.397"))
                     r.model.SetSensor(kvsim::sensorOpen);
                 return QString();
             };
         },
         nullptr, nullptr, TPutBack::Yes, "", ""},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.what);
        TRig rig(Device(0, 4, 0, 100), BenchSetup(true, true));
        const kv::SettingsRecord own = rig.model.Settings();
        if (row.arrange)
            row.arrange(rig);
        rig.run->Start();
        for (int i = 0; i < 20000 && row.when && !row.when(rig); ++i)
            rig.Turn();
        if (row.act)
            row.act(rig);
        ASSERT_TRUE(rig.RunToEnd(2000));
        EXPECT_EQ(rig.run->SettingsGivenBack(), row.givenBack);
        if (row.givenBack == TPutBack::Yes) {
            EXPECT_EQ(rig.model.Settings(), own);
        } else {
            ASSERT_TRUE(rig.run->LeftIn());
            EXPECT_EQ(SettingsName(*rig.run->LeftIn()), QStringLiteral("resistance 0-5 kohm, 3 wires"));
        }
        EXPECT_EQ(rig.run->Stopped(), QString::fromUtf8(row.stopped));
        kv::cert::TFacts f;
        f.Kind = kv::cert::TKind::Verification;
        f.Points = rig.run->Points();
        f.NotVerified = rig.run->NotVerified();
        const QString notVerified = kv::cert::OutcomeOf(f).NotVerified.join("; ");
        EXPECT_TRUE(notVerified.contains(QString::fromUtf8(row.notVerified))) << notVerified.toStdString();
        if (std::string(row.what) == "the meter fails") {
            // The input goes on: every input point has its result.
            for (const kv::cert::TPoint& p : rig.run->Points())
                EXPECT_EQ(p.Quantity == QLatin1String("input"), p.AsFound.Result.has_value()) << kv::cert::PointName(p).toStdString();
        }
        if (std::string(row.what) == "no value at a point") {
            const kv::cert::TPoint* p = rig.Point("input", "Pt 100, 4 wires", 50);
            ASSERT_TRUE(p);
            EXPECT_EQ(p->AsFound.Result, TOutcome::Fail);
            EXPECT_TRUE(p->AsFound.NotMeasured.contains(QLatin1String("the device reports no value (status 2)")))
                << p->AsFound.NotMeasured.toStdString();
        }
    }
}

// The device's own settings' points stand for their path only when they
// judge it as closely as the path's own check: a Pt 100 over 0-100 °C does
// (0.104 °C is the 500 ohm range's 0.04 ohm), one over -200 to 850 °C does
// not (1.05 °C), nor a type K over 0-1200 °C (the millivolt path's 10 uV).
TEST(VerifyRun, TheOwnSettingsStandForTheirPathOnlyWhenTheyJudgeItAsClosely) {
    struct {
        const char* what;
        kvsim::TDeviceConfig device;
        const char* path;
        bool verifiedOnItsOwn;
    } const table[] = {
        {"Pt 100, 0-100 degC", Device(0, 4, 0, 100), "500 ohm range, 4 wires", false},
        {"Pt 100, -200-850 degC", Device(0, 4, -200, 850), "500 ohm range, 4 wires", true},
        {"type K, 0-1200 degC", Device(2, 4, 0, 1200), "millivolt", true},
        {"type K, 0-100 degC", Device(2, 4, 0, 100), "millivolt", false},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.what);
        TRig rig(row.device, BenchSetup(true, false));
        rig.run->Start();
        ASSERT_TRUE(rig.RunToEnd());
        EXPECT_EQ(rig.Point("input", row.path, 50) != nullptr, row.verifiedOnItsOwn);
        EXPECT_TRUE(rig.run->NotVerified().isEmpty()) << rig.run->NotVerified().join("; ").toStdString();
        for (const kv::cert::TPoint& p : rig.run->Points())
            EXPECT_EQ(p.AsFound.Result, TOutcome::Pass) << kv::cert::PointName(p).toStdString();
    }
}
