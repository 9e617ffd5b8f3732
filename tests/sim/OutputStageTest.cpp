// The simulated output stage: each board misses the nominal output, and its
// output calibration, found with the meter, puts it right.
#include "DeviceModel.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

using namespace kvsim;

namespace {

// The lowest PWM value at which `reading` reaches `target`: one count
// (0.4 uA, 0.2 mV) above it at most.
std::uint16_t Find(const TOutputCharacteristic& c, double target, double (*reading)(const TMeterReading&)) {
    std::uint32_t lo = 0, hi = 65535;
    while (lo < hi) {
        const std::uint32_t mid = (lo + hi) / 2;
        if (reading(c.Read(static_cast<std::uint16_t>(mid))) < target)
            lo = mid + 1;
        else
            hi = mid;
    }
    return static_cast<std::uint16_t>(lo);
}

double MilliAmp(const TMeterReading& r) { return r.MilliAmp; }
double Volt(const TMeterReading& r) { return r.Volt; }

kv::PollAnswer Poll(TDeviceModel& m, std::uint16_t pwm = 0) {
    const kv::PollRequest request{pwm, 0, 2026, 12, 6, 0};
    const auto ans = m.Handle(kv::cmdPoll, request.Encode());
    return kv::PollAnswer::Decode(ans->Data);
}

// The meter in normal operation at a process value (Pt 100, 0..100 °C).
TMeterReading At(TDeviceModel& m, double value) {
    m.SetProcessValue(value);
    m.Advance(TDeviceModel::kCycleMs);
    Poll(m);
    return m.Meter();
}

} // namespace

TEST(OutputStage, BoardsMissTheNominalOutputUntilCalibrated) {
    for (std::uint32_t seed : {1u, 2u, 3u, 4711u}) {
        SCOPED_TRACE(seed);
        TDeviceConfig config = TDeviceConfig::Steady();
        config.BoardSeed = seed;
        TDeviceModel m(config);
        const struct {
            double value, mA, volt; // 4-20 mA, and 0-10 V
        } points[] = {{25.0, 8.0, 2.5}, {50.0, 12.0, 5.0}, {100.0, 20.0, 10.0}};
        for (const auto& p : points)
            EXPECT_GT(std::fabs(At(m, p.value).MilliAmp - p.mA), 0.05) << p.value;

        // What the factory finds with the meter, stored.
        const TOutputCharacteristic& c = m.OutputStage().Characteristic();
        const kv::OutputCalibrationRecord cal{Find(c, 4.0, MilliAmp), Find(c, 20.0, MilliAmp), Find(c, 2.0, Volt),
                                              Find(c, 10.0, Volt)};
        ASSERT_EQ(m.Handle(kv::cmdWriteOutputCalibration, cal.Encode())->ErrorCode, 0);
        for (const auto& p : points)
            EXPECT_NEAR(At(m, p.value).MilliAmp, p.mA, 0.002) << p.value;

        kv::SettingsRecord s = m.Settings();
        s.OutputMode = 2; // 0-10 V
        ASSERT_EQ(m.Handle(kv::cmdWriteSettings, s.Encode())->ErrorCode, 0);
        for (const auto& p : points)
            EXPECT_NEAR(At(m, p.value).Volt, p.volt, 0.001) << p.value;
    }
}

// A new PWM value reaches the terminals through the output filter: not at
// once, within a meter's count after kSettleMs, and from wherever the output
// was when it came (also on its way to an earlier value).
TEST(OutputStage, ANewPWMValueSettlesThroughTheFilter) {
    const TOutputCharacteristic board = TOutputCharacteristic::ForBoard(2);
    const double count = 1e-6; // 1 nA in mA, 1 uV in V
    struct {
        std::uint16_t from, to;
    } const steps[] = {{10923, 54613}, {54613, 10923}, {0, 65535}, {30000, 30001}};
    for (const auto& step : steps) {
        SCOPED_TRACE(step.to);
        TOutputStage s(board, step.from);
        s.Drive(step.to, 1000);
        const TMeterReading before = board.Read(step.from), after = board.Read(step.to);
        EXPECT_NEAR(s.At(1000).MilliAmp, before.MilliAmp, 1e-12);
        // One time constant: 63 % of the way (the model's milliseconds are whole).
        const double tau = 1.0 - std::exp(-3.0 / TOutputStage::kTauMs);
        EXPECT_NEAR(s.At(1003).MilliAmp, before.MilliAmp + (after.MilliAmp - before.MilliAmp) * tau, 1e-9);
        EXPECT_NEAR(s.At(1000 + TOutputStage::kSettleMs).MilliAmp, after.MilliAmp, count);
        EXPECT_NEAR(s.At(1000 + TOutputStage::kSettleMs).Volt, after.Volt, count);
        if (std::abs(step.to - step.from) > 1000) { // a large step is plainly not there sooner
            EXPECT_GT(std::fabs(s.At(1000 + TOutputStage::kSettleMs / 2).MilliAmp - after.MilliAmp), 100 * count);
        }
    }
    // A change on the way starts from where the output is.
    TOutputStage s(board, 10000);
    s.Drive(50000, 0);
    const TMeterReading mid = s.At(4);
    s.Drive(20000, 4);
    EXPECT_NEAR(s.At(4).MilliAmp, mid.MilliAmp, 1e-12);
    EXPECT_EQ(s.ChangedAt(), 4u);
    s.Drive(20000, 30); // the same value: no change
    EXPECT_EQ(s.ChangedAt(), 4u);
    EXPECT_NEAR(s.At(4 + TOutputStage::kSettleMs).Volt, board.Read(20000).Volt, count);
}

// In the device, the output takes a forced value from the poll that carries
// it, and goes back to what the measurement asks when forcing ends.
TEST(OutputStage, TheDeviceOutputFollowsThePollWithTheFiltersLag) {
    TDeviceModel m(TDeviceConfig::Steady());
    m.Advance(1000);
    const TMeterReading normal = m.OutputNow();
    EXPECT_NEAR(normal.MilliAmp, m.Meter().MilliAmp, 1e-9); // long settled
    for (std::uint16_t pwm : {std::uint16_t{40000}, std::uint16_t{0}}) {
        SCOPED_TRACE(pwm);
        const TMeterReading was = m.OutputNow();
        Poll(m, pwm);
        EXPECT_EQ(m.DrivenPWM(), pwm ? pwm : m.DrivenPWM());
        EXPECT_NEAR(m.OutputNow().MilliAmp, was.MilliAmp, 1e-12); // not yet
        m.Advance(5);
        EXPECT_GT(std::fabs(m.OutputNow().MilliAmp - m.Meter().MilliAmp), 0.01); // on its way
        m.Advance(TOutputStage::kSettleMs - 5);
        EXPECT_NEAR(m.OutputNow().MilliAmp, m.Meter().MilliAmp, 1e-6);
        EXPECT_NEAR(m.OutputNow().Volt, m.Meter().Volt, 1e-6);
    }
    EXPECT_NEAR(m.OutputNow().MilliAmp, normal.MilliAmp, 1e-6);
}
