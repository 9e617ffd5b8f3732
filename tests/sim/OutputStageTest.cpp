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
// once, within a meter's count after SettleMs(), and from wherever the output
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
        const double tau = 1.0 - std::exp(-3.0 / TOutputStage::kDefaultTauMs);
        EXPECT_NEAR(s.At(1003).MilliAmp, before.MilliAmp + (after.MilliAmp - before.MilliAmp) * tau, 1e-9);
        EXPECT_NEAR(s.At(1000 + s.SettleMs()).MilliAmp, after.MilliAmp, count);
        EXPECT_NEAR(s.At(1000 + s.SettleMs()).Volt, after.Volt, count);
        if (std::abs(step.to - step.from) > 1000) { // a large step is plainly not there sooner
            EXPECT_GT(std::fabs(s.At(1000 + s.SettleMs() / 2).MilliAmp - after.MilliAmp), 100 * count);
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
    EXPECT_NEAR(s.At(4 + s.SettleMs()).Volt, board.Read(20000).Volt, count);
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
        m.Advance(m.OutputStage().SettleMs() - 5);
        EXPECT_NEAR(m.OutputNow().MilliAmp, m.Meter().MilliAmp, 1e-6);
        EXPECT_NEAR(m.OutputNow().Volt, m.Meter().Volt, 1e-6);
    }
    EXPECT_NEAR(m.OutputNow().MilliAmp, normal.MilliAmp, 1e-6);
}

// Whatever the board's time constant, a step is within 1e-6 of itself from
// its end after 14 time constants and not after 13 (e^-14 < 1e-6 < e^-13),
// and SettleMs() is 20 of them.
TEST(OutputStage, ATimeConstantOfAnyBoardSettlesAStepInItsMultiples) {
    const TOutputCharacteristic board = TOutputCharacteristic::ForBoard(3);
    struct {
        double tau;
        std::uint32_t settleMs;
    } const table[] = {{2.5, 50}, {30.0, 600}, {60.0, 1200}, {80.0, 1600}, {100.0, 2000}, {0.3, 6}};
    for (const auto& row : table) {
        SCOPED_TRACE(row.tau);
        TOutputStage s(board, 10923);
        ASSERT_TRUE(s.SetTau(row.tau, 0));
        EXPECT_EQ(s.SettleMs(), row.settleMs);
        s.Drive(54613, 1000);
        const TMeterReading from = board.Read(10923), to = board.Read(54613);
        const double step = to.MilliAmp - from.MilliAmp;
        auto left = [&](double n) {
            return std::fabs(s.At(1000 + static_cast<std::uint64_t>(std::ceil(n * row.tau))).MilliAmp - to.MilliAmp) / step;
        };
        EXPECT_LT(left(14), 1e-6);
        if (row.tau >= 1.0) { // whole milliseconds: 13 time constants are not rounded up past 14
            EXPECT_GT(left(13), 1e-6);
        }
        EXPECT_LT(std::fabs(s.At(1000 + s.SettleMs()).Volt - to.Volt), 1e-6); // within a count
    }
    // A time constant changed on the way goes on from where the output is.
    TOutputStage s(board, 10923);
    s.Drive(54613, 0);
    const TMeterReading mid = s.At(5);
    ASSERT_TRUE(s.SetTau(50.0, 5));
    EXPECT_NEAR(s.At(5).MilliAmp, mid.MilliAmp, 1e-12);
    EXPECT_NEAR(s.At(55).MilliAmp, board.Read(54613).MilliAmp + (mid.MilliAmp - board.Read(54613).MilliAmp) * std::exp(-1.0),
                1e-9);
    for (double bad : {0.0, -1.0, TOutputStage::kMaxTauMs * 2, std::nan("")})
        EXPECT_FALSE(s.SetTau(bad, 60)) << bad;
    EXPECT_EQ(s.Tau(), 50.0);
}

// An integrating meter reads the output's mean over its integration: after
// a step that is the end value less the step's share that the filter had not
// yet let through, tau/T (1 - e^-T/tau) of it; over several changes, the sum
// of their parts.
TEST(OutputStage, TheMeanOverAnIntegrationIsExact) {
    const TOutputCharacteristic board = TOutputCharacteristic::ForBoard(5);
    const TMeterReading from = board.Read(10923), to = board.Read(54613);
    struct {
        double tau;
        std::uint64_t startAfter, integration; // ms after the step
    } const table[] = {{2.5, 0, 20}, {30.0, 0, 400}, {30.0, 100, 400}, {80.0, 0, 20}, {60.0, 2000, 400}};
    for (const auto& row : table) {
        SCOPED_TRACE(testing::Message() << row.tau << " " << row.startAfter << " " << row.integration);
        TOutputStage s(board, 10923);
        ASSERT_TRUE(s.SetTau(row.tau, 0));
        s.Drive(54613, 1000);
        const double a = static_cast<double>(row.startAfter), T = static_cast<double>(row.integration);
        const double share = row.tau / T * (std::exp(-a / row.tau) - std::exp(-(a + T) / row.tau));
        const TMeterReading mean = s.Average(1000 + row.startAfter, 1000 + row.startAfter + row.integration);
        EXPECT_NEAR(mean.MilliAmp, to.MilliAmp + (from.MilliAmp - to.MilliAmp) * share, 1e-12);
        EXPECT_NEAR(mean.Volt, to.Volt + (from.Volt - to.Volt) * share, 1e-12);
    }
    // Across changes (and before the first): the mean of fine samples of a
    // first-order low-pass driven by the same steps.
    TOutputStage s(board, 20000);
    ASSERT_TRUE(s.SetTau(30.0, 0));
    const std::pair<double, std::uint16_t> steps[] = {{100, 40000}, {150, 30000}, {310, 50000}};
    for (const auto& [at, pwm] : steps)
        s.Drive(pwm, static_cast<std::uint64_t>(at));
    double sum = 0, value = board.Read(20000).MilliAmp, target = value;
    const double dt = 0.001; // 400000 samples from 50 ms on
    std::size_t next = 0;
    for (long i = 0; i < 400000; ++i) {
        if (next < std::size(steps) && i == std::lround((steps[next].first - 50.0) / dt))
            target = board.Read(steps[next++].second).MilliAmp;
        const double mid = target + (value - target) * std::exp(-dt / 2 / 30.0);
        sum += mid * dt;
        value = target + (value - target) * std::exp(-dt / 30.0);
    }
    EXPECT_NEAR(s.Average(50, 450).MilliAmp, sum / 400.0, 1e-7);
    EXPECT_NEAR(s.Average(450, 450).MilliAmp, s.At(450).MilliAmp, 1e-15);
}

// The bow is what lies between the output at half scale and the straight
// line through its ends: as set, in microamperes, and the same share of the
// voltage's full scale.
TEST(OutputStage, ABowSetIsThereAtHalfScale) {
    for (double ua : {0.0, 5.0, -12.5, 40.0}) {
        SCOPED_TRACE(ua);
        TOutputCharacteristic c{1.01, 0.1, 0.0, 0.99, 0.05, 0.0}; // no end clipped at 0
        c.SetBow(ua);
        const TMeterReading lo = c.Read(0), hi = c.Read(65535), mid = c.Read(32768);
        const double line = lo.MilliAmp + (hi.MilliAmp - lo.MilliAmp) * 32768.0 / 65535.0;
        const double lineV = lo.Volt + (hi.Volt - lo.Volt) * 32768.0 / 65535.0;
        EXPECT_NEAR((mid.MilliAmp - line) * 1000.0, ua, 1e-6);
        EXPECT_NEAR((mid.Volt - lineV) * 1000.0, ua * 0.5, 1e-6); // mV
    }
    // In the device, calibrated at 4 and 20 mA: 12 mA is off by the bow less
    // its share at the calibration points (4/9 of it), give or take a PWM
    // count at each.
    for (double ua : {0.0, 9.0, -18.0}) {
        SCOPED_TRACE(ua);
        TDeviceModel m(TDeviceConfig::Steady());
        m.SetOutputBow(ua);
        const TOutputCharacteristic& c = m.OutputStage().Characteristic();
        const kv::OutputCalibrationRecord cal{Find(c, 4.0, MilliAmp), Find(c, 20.0, MilliAmp), Find(c, 2.0, Volt),
                                              Find(c, 10.0, Volt)};
        ASSERT_EQ(m.Handle(kv::cmdWriteOutputCalibration, cal.Encode())->ErrorCode, 0);
        EXPECT_NEAR((At(m, 50.0).MilliAmp - 12.0) * 1000.0, ua * 4.0 / 9.0, 0.7);
    }
}
