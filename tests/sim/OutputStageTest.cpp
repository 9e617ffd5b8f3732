// The simulated output stage: each board misses the nominal output, and its
// output calibration, found with the meter, puts it right.
#include "DeviceModel.h"

#include <gtest/gtest.h>

#include <cmath>

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
