// The simulated transmitter's physics against published reference values.
#include "Physics.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace kvsim;

TEST(Physics, Pt100FollowsCallendarVanDusen) {
    struct {
        double t, ohm;
    } const table[] = {{0.0, 100.00}, {100.0, 138.51}, {-100.0, 60.26}, {200.0, 175.86},
                       {-200.0, 18.52}, {850.0, 390.48}, {25.0, 109.73}};
    for (const auto& row : table) {
        EXPECT_NEAR(PtResistance(100.0, row.t), row.ohm, 0.005) << row.t << " °C";
        EXPECT_NEAR(PtResistance(1000.0, row.t), row.ohm * 10.0, 0.05) << row.t << " °C";
    }
}

TEST(Physics, PtInverseReturnsTheTemperatureAndRefusesOutsideTheRange) {
    for (double t = -200.0; t <= 850.0; t += 12.5) {
        double back = 0;
        ASSERT_TRUE(PtTemperature(100.0, PtResistance(100.0, t), back)) << t;
        EXPECT_NEAR(back, t, 1e-6);
        ASSERT_TRUE(PtTemperature(1000.0, PtResistance(1000.0, t), back)) << t;
        EXPECT_NEAR(back, t, 1e-6);
    }
    double t = 0;
    EXPECT_FALSE(PtTemperature(100.0, 0.6, t));    // a shorted sensor
    EXPECT_FALSE(PtTemperature(100.0, 400.0, t));  // beyond 850 °C
    EXPECT_FALSE(PtTemperature(100.0, std::nan(""), t));
    EXPECT_FALSE(PtTemperature(0.0, 100.0, t));
}

// Reference EMFs in mV (reference junction at 0 °C): ITS-90 tables for the
// letter types, DIN 43710 for L and U.
TEST(Physics, ThermocoupleEmfMatchesTheReferenceTables) {
    struct {
        TThermocouple type;
        double t, mv, tol;
    } const table[] = {
        {tcK, 100.0, 4.096, 0.0006},  {tcK, 0.0, 0.0, 1e-6},      {tcK, 500.0, 20.644, 0.0006},
        {tcK, 1000.0, 41.276, 0.0006}, {tcK, -100.0, -3.554, 0.0006}, {tcK, 1372.0, 54.886, 0.0006},
        {tcJ, 100.0, 5.269, 0.0006},  {tcJ, 500.0, 27.393, 0.0006}, {tcJ, 1000.0, 57.953, 0.0006},
        {tcJ, -200.0, -7.890, 0.0006},
        {tcT, 100.0, 4.279, 0.0006},  {tcT, 400.0, 20.872, 0.0006}, {tcT, -200.0, -5.603, 0.0006},
        {tcE, 100.0, 6.319, 0.0006},  {tcE, 500.0, 37.005, 0.0006}, {tcE, 1000.0, 76.373, 0.0006},
        {tcE, -200.0, -8.825, 0.0006},
        {tcN, 100.0, 2.774, 0.0006},  {tcN, 500.0, 16.748, 0.0006}, {tcN, 1000.0, 36.256, 0.0006},
        {tcN, 1300.0, 47.513, 0.0006},
        {tcR, 100.0, 0.647, 0.0006},  {tcR, 1000.0, 10.506, 0.0006}, {tcR, 1500.0, 17.451, 0.0006},
        {tcS, 100.0, 0.646, 0.0006},  {tcS, 1000.0, 9.587, 0.0006}, {tcS, 1500.0, 15.582, 0.0006},
        {tcB, 100.0, 0.033, 0.0006},  {tcB, 1000.0, 4.834, 0.0006}, {tcB, 1820.0, 13.820, 0.0006},
        {tcL, 100.0, 5.37, 1e-9},     {tcL, 400.0, 22.16, 1e-9},    {tcL, 900.0, 53.14, 1e-9},
        {tcL, -200.0, -8.15, 1e-9},   {tcL, 50.0, 2.65, 0.03},
        {tcU, 100.0, 4.25, 1e-9},     {tcU, 600.0, 34.31, 1e-9},    {tcU, -100.0, -3.40, 1e-9},
    };
    for (const auto& row : table)
        EXPECT_NEAR(ThermocoupleEmf(row.type, row.t), row.mv, row.tol) << "type " << int(row.type) << " at " << row.t;
}

TEST(Physics, ThermocoupleInverseIsExactAndBounded) {
    for (int type = 0; type < tcCount; ++type) {
        const auto tc = static_cast<TThermocouple>(type);
        const TRange r = ThermocoupleRange(tc);
        for (double t = r.Low; t <= r.High; t += (r.High - r.Low) / 37.0) {
            double back = 0;
            ASSERT_TRUE(ThermocoupleTemperature(tc, ThermocoupleEmf(tc, t), back)) << type << " " << t;
            EXPECT_NEAR(back, t, 1e-6) << type;
        }
        double t = 0;
        EXPECT_FALSE(ThermocoupleTemperature(tc, ThermocoupleEmf(tc, r.High) + 0.5, t)) << type;
        EXPECT_FALSE(ThermocoupleTemperature(tc, ThermocoupleEmf(tc, r.Low) - 0.5, t)) << type;
        EXPECT_FALSE(ThermocoupleTemperature(tc, std::nan(""), t));
    }
    double t = 0;
    EXPECT_FALSE(ThermocoupleTemperature(tcCount, 1.0, t));
}
