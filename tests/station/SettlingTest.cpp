// When a bench meter's readings of a stepping output count: output stages
// from 2.5 to 100 ms, meters integrating from 20 to 400 ms, with the
// defaults and no options; noise within the band settles, drift and noise
// beyond it do not.
#include "Settling.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>

using kv::station::TSettledReading;
using kv::station::TSettling;

namespace {

// An output that steps from `from` to `to` at 0 ms, settling along its
// filter's exponential; a reading averages it over the meter's integration.
struct TStep {
    double from, to, tauMs;
    double At(double t) const { return to + (from - to) * std::exp(-t / tauMs); }
    double Averaged(double t0, double integrationMs) const {
        if (integrationMs <= 0)
            return At(t0);
        return to + (from - to) * tauMs / integrationMs * (std::exp(-t0 / tauMs) - std::exp(-(t0 + integrationMs) / tauMs));
    }
};

struct TResult {
    TSettledReading::TState state;
    double value;
    std::int64_t at; // ms from the step
    int taken;
};

// Reads back to back (5 ms of the line around each query) from `waitMs` on.
TResult Read(const TSettling& rule, double floor, int waitMs, int integrationMs,
             const std::function<double(double t0)>& reading) {
    TSettledReading s(rule, floor);
    std::int64_t t = waitMs;
    s.Start(t);
    for (;;) {
        const std::int64_t asked = t;
        const double v = reading(static_cast<double>(asked));
        t += integrationMs + 5;
        const auto state = s.Add(v, asked, t);
        if (state != TSettledReading::TState::More)
            return {state, s.Value(), t, s.Taken()};
    }
}

} // namespace

TEST(Settling, StepsOfEveryOutputStageSettleCloseToTheirEndWithTheDefaults) {
    const TSettling rule; // the bench's defaults: no options
    struct {
        double tauMs;
        int integrationMs;
    } const table[] = {{2.5, 20}, {30, 20}, {60, 20}, {80, 20}, {100, 20},
                       {2.5, 400}, {30, 400}, {60, 400}, {100, 400}, {100, 500}};
    for (const auto& row : table)
        for (const auto& step : {TStep{4e-3, 20e-3, row.tauMs}, TStep{20e-3, 4e-3, row.tauMs},
                                 TStep{4e-3, 4.0004e-3, row.tauMs}}) {
            SCOPED_TRACE(testing::Message() << "tau " << row.tauMs << " ms, integration " << row.integrationMs
                                            << " ms, " << step.from * 1e3 << " -> " << step.to * 1e3 << " mA");
            const TResult r = Read(rule, rule.CurrentFloor, 100, row.integrationMs,
                                   [&](double t0) { return step.Averaged(t0, row.integrationMs); });
            ASSERT_EQ(r.state, TSettledReading::TState::Settled);
            // What is left of the step: well inside the checks' 5 uA.
            EXPECT_LE(std::fabs(r.value - step.to), 1e-6) << (r.value - step.to) * 1e6 << " uA";
            // And no slower than it needs to be: a fast stage takes the few
            // readings the window needs.
            if (row.tauMs <= 2.5) {
                EXPECT_LE(r.taken, row.integrationMs >= 400 ? 3 : 12);
            }
        }
}

TEST(Settling, ReadingsTakenCloseTogetherOnASlowStageDoNotSettleEarly) {
    // Without the window's least span, three quick readings on a 100 ms
    // exponential agree within the band while it is still microamperes away.
    TSettling rule;
    const TStep step{4e-3, 20e-3, 100};
    const TResult r = Read(rule, rule.CurrentFloor, 100, 0, [&](double t0) { return step.At(t0); });
    ASSERT_EQ(r.state, TSettledReading::TState::Settled);
    EXPECT_LE(std::fabs(r.value - step.to), 1e-6);
    EXPECT_GE(r.at, 100 + rule.MinSpanMs);
}

TEST(Settling, NoiseWithinTheBandSettlesDriftAndNoiseBeyondItDoNot) {
    TSettling rule;
    rule.TimeoutMs = 5000;
    struct {
        const char* what;
        std::function<double(double t0)> reading;
        TSettledReading::TState state;
    } const table[] = {
        {"noise of 2 counts of 1 nA", [](double t0) { return 12e-3 + 2e-9 * std::sin(t0); }, TSettledReading::TState::Settled},
        {"a meter drifting 50 ppm/s", [](double t0) { return 12e-3 * (1 + 50e-6 * t0 / 1000); }, TSettledReading::TState::Settled},
        {"a stage oscillating by 4 uA", [](double t0) { return 12e-3 + 4e-6 * std::sin(t0 / 7); }, TSettledReading::TState::TimedOut},
        {"a meter drifting 5000 ppm/s", [](double t0) { return 12e-3 * (1 + 5000e-6 * t0 / 1000); }, TSettledReading::TState::TimedOut},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.what);
        TSettledReading s(rule, rule.CurrentFloor);
        s.Start(0);
        std::int64_t t = 0;
        auto state = TSettledReading::TState::More;
        while (state == TSettledReading::TState::More) {
            const std::int64_t asked = t;
            t += 25;
            state = s.Add(row.reading(static_cast<double>(asked)), asked, t);
        }
        EXPECT_EQ(state, row.state);
        if (state == TSettledReading::TState::TimedOut) {
            EXPECT_GE(t, rule.TimeoutMs);
            EXPECT_NE(s.Failure(1000.0, "mA").find("more than the band"), std::string::npos) << s.Failure(1000.0, "mA");
        } else {
            EXPECT_LE(s.Spread(), s.Band());
            EXPECT_GT(s.Band(), 0);
        }
    }
}

TEST(Settling, TheRepeatabilityIsTheStandardDeviationOfTheWindowsMean) {
    TSettling rule;
    rule.Readings = 4;
    rule.MinSpanMs = 0;
    TSettledReading s(rule, 1e-3);
    s.Start(0);
    const double values[] = {1.0000, 1.0004, 0.9998, 1.0002};
    auto state = TSettledReading::TState::More;
    for (int i = 0; i < 4; ++i)
        state = s.Add(values[i], i * 10, i * 10 + 5);
    ASSERT_EQ(state, TSettledReading::TState::Settled);
    EXPECT_DOUBLE_EQ(s.Value(), 1.0001);
    // s = 0.000258198 (n - 1 = 3), of the mean: / 2.
    EXPECT_NEAR(s.StandardDeviationOfMean(), 0.000129099, 1e-9);
    EXPECT_NEAR(s.Spread(), 0.0006, 1e-12);
}

// A 6 1/2-digit meter's noise (2 counts of 1 nA) on slow stages: readings
// that stop moving one way count early, and what is left of the step is
// still far below a microampere; a fast stage needs only a few readings.
TEST(Settling, NoisyReadingsOfASlowStageCountOnlyOnceTheyStopMovingOneWay) {
    const TSettling rule;
    for (const double tau : {2.5, 30.0, 100.0})
        for (unsigned seed = 1; seed <= 20; ++seed) {
            SCOPED_TRACE(testing::Message() << "tau " << tau << " seed " << seed);
            std::mt19937 gen(seed);
            std::normal_distribution<double> noise(0.0, 2.0);
            const TStep step{4e-3, 20e-3, tau};
            const TResult r = Read(rule, rule.CurrentFloor, 20, 20, [&](double t0) {
                return std::round(step.Averaged(t0, 20) / 1e-9 + noise(gen)) * 1e-9;
            });
            ASSERT_EQ(r.state, TSettledReading::TState::Settled);
            EXPECT_LE(std::fabs(r.value - step.to), 0.3e-6) << (r.value - step.to) * 1e6 << " uA";
            if (tau <= 2.5) {
                EXPECT_LE(r.at, 300);
            }
        }
}
