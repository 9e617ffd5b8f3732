// The sensors' physics against published reference values.
#include "Physics.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace kv;

// IEC 60751 table values (ohm at °C) for Pt 100; Pt 1000 is ten times each.
TEST(Physics, PtFollowsCallendarVanDusen) {
    struct {
        double t, ohm;
    } const table[] = {{-200.0, 18.5201}, {-100.0, 60.2558}, {-50.0, 80.3063}, {0.0, 100.0},
                       {25.0, 109.7347},  {100.0, 138.5055}, {200.0, 175.8560}, {500.0, 280.9775},
                       {850.0, 390.4811}};
    for (const auto& row : table) {
        EXPECT_NEAR(PtResistance(100.0, row.t), row.ohm, 0.00006) << row.t << " °C";
        EXPECT_NEAR(PtResistance(1000.0, row.t), row.ohm * 10.0, 0.0006) << row.t << " °C";
    }
}

// The slope against a difference quotient of the table function, on both
// sides of 0 °C (where the C term starts).
TEST(Physics, PtSlopeIsTheDerivative) {
    for (double t : {-200.0, -120.0, -0.5, 0.0, 0.5, 100.0, 600.0, 850.0}) {
        const double h = 1e-4;
        const double quotient = (PtResistance(100.0, t + h) - PtResistance(100.0, t - h)) / (2 * h);
        EXPECT_NEAR(PtSlope(100.0, t), quotient, 1e-7) << t;
        EXPECT_NEAR(PtSlope(1000.0, t), 10.0 * quotient, 1e-6) << t;
    }
    EXPECT_NEAR(PtSlope(100.0, 100.0), 0.379280, 1e-9); // 100 (A + 2 B 100)
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

// Reference EMFs in mV (reference junction at 0 °C): the ITS-90 tables for
// the letter types (to their 1 µV), DIN 43710 for L and U.
TEST(Physics, ThermocoupleEmfMatchesTheReferenceTables) {
    struct {
        TThermocouple type;
        double t, mv, tol;
    } const table[] = {
        {tcK, -200.0, -5.891, 0.0006}, {tcK, -100.0, -3.554, 0.0006}, {tcK, 0.0, 0.0, 1e-6},
        {tcK, 100.0, 4.096, 0.0006},   {tcK, 200.0, 8.138, 0.0006},   {tcK, 300.0, 12.209, 0.0006},
        {tcK, 400.0, 16.397, 0.0006},  {tcK, 500.0, 20.644, 0.0006},  {tcK, 800.0, 33.275, 0.0006},
        {tcK, 1000.0, 41.276, 0.0006}, {tcK, 1200.0, 48.838, 0.0006}, {tcK, 1372.0, 54.886, 0.0006},
        {tcJ, -200.0, -7.890, 0.0006}, {tcJ, -100.0, -4.633, 0.0006}, {tcJ, 100.0, 5.269, 0.0006},
        {tcJ, 200.0, 10.779, 0.0006},  {tcJ, 400.0, 21.848, 0.0006},  {tcJ, 500.0, 27.393, 0.0006},
        {tcJ, 700.0, 39.132, 0.0006},  {tcJ, 800.0, 45.494, 0.0006},  {tcJ, 1000.0, 57.953, 0.0006},
        {tcJ, 1200.0, 69.553, 0.0006},
        {tcT, -200.0, -5.603, 0.0006}, {tcT, -100.0, -3.379, 0.0006}, {tcT, 100.0, 4.279, 0.0006},
        {tcT, 200.0, 9.288, 0.0006},   {tcT, 300.0, 14.862, 0.0006},  {tcT, 400.0, 20.872, 0.0006},
        {tcE, -200.0, -8.825, 0.0006}, {tcE, -100.0, -5.237, 0.0006}, {tcE, 100.0, 6.319, 0.0006},
        {tcE, 200.0, 13.421, 0.0006},  {tcE, 300.0, 21.036, 0.0006},  {tcE, 500.0, 37.005, 0.0006},
        {tcE, 1000.0, 76.373, 0.0006},
        {tcN, -200.0, -3.990, 0.0006}, {tcN, -100.0, -2.407, 0.0006}, {tcN, 100.0, 2.774, 0.0006},
        {tcN, 200.0, 5.913, 0.0006},   {tcN, 400.0, 12.974, 0.0006},  {tcN, 500.0, 16.748, 0.0006},
        {tcN, 1000.0, 36.256, 0.0006}, {tcN, 1300.0, 47.513, 0.0006},
        {tcR, 100.0, 0.647, 0.0006},   {tcR, 500.0, 4.471, 0.0006},   {tcR, 1000.0, 10.506, 0.0006},
        {tcR, 1200.0, 13.228, 0.0006}, {tcR, 1500.0, 17.451, 0.0006}, {tcR, 1768.1, 21.103, 0.0006},
        {tcS, 100.0, 0.646, 0.0006},   {tcS, 500.0, 4.233, 0.0006},   {tcS, 1000.0, 9.587, 0.0006},
        {tcS, 1200.0, 11.951, 0.0006}, {tcS, 1500.0, 15.582, 0.0006}, {tcS, 1768.1, 18.693, 0.0006},
        {tcB, 100.0, 0.033, 0.0006},   {tcB, 500.0, 1.242, 0.0006},   {tcB, 800.0, 3.154, 0.0006},
        {tcB, 1000.0, 4.834, 0.0006},  {tcB, 1200.0, 6.786, 0.0006},  {tcB, 1500.0, 10.099, 0.0006},
        {tcB, 1820.0, 13.820, 0.0006},
        {tcL, 100.0, 5.37, 1e-9},      {tcL, 400.0, 22.16, 1e-9},     {tcL, 900.0, 53.14, 1e-9},
        {tcL, -200.0, -8.15, 1e-9},    {tcL, 50.0, 2.65, 0.03},
        {tcU, 100.0, 4.25, 1e-9},      {tcU, 600.0, 34.31, 1e-9},     {tcU, -100.0, -3.40, 1e-9},
    };
    for (const auto& row : table)
        EXPECT_NEAR(ThermocoupleEmf(row.type, row.t), row.mv, row.tol)
            << "type " << ThermocoupleLetter(row.type) << " at " << row.t;
}

// The Seebeck coefficient against the tables' own slope (µV/K): type K
// about 41 at 100 °C, type B below 1 at 100 °C (why a type B cannot be
// verified near room temperature), and the difference quotient everywhere.
TEST(Physics, ThermocoupleSeebeckIsTheSlope) {
    EXPECT_NEAR(ThermocoupleSeebeck(tcK, 100.0) * 1000.0, 41.4, 0.1);
    EXPECT_NEAR(ThermocoupleSeebeck(tcK, 0.0) * 1000.0, 39.45, 0.05);
    EXPECT_NEAR(ThermocoupleSeebeck(tcJ, 0.0) * 1000.0, 50.38, 0.05);
    EXPECT_LT(ThermocoupleSeebeck(tcB, 100.0) * 1000.0, 1.0);
    for (int type = 0; type < tcCount; ++type) {
        const auto tc = static_cast<TThermocouple>(type);
        const TTemperatureRange r = ThermocoupleRange(tc);
        for (double t = r.Low + 1.0; t < r.High - 1.0; t += (r.High - r.Low) / 13.0) {
            const double quotient = (ThermocoupleEmf(tc, t + 0.5) - ThermocoupleEmf(tc, t - 0.5)) / 1.0;
            EXPECT_NEAR(ThermocoupleSeebeck(tc, t), quotient, 2e-5) << ThermocoupleLetter(tc) << " " << t;
            EXPECT_GT(ThermocoupleSeebeck(tc, t), 0.0) << ThermocoupleLetter(tc) << " " << t;
        }
    }
}

TEST(Physics, ThermocoupleInverseIsExactAndBounded) {
    for (int type = 0; type < tcCount; ++type) {
        const auto tc = static_cast<TThermocouple>(type);
        const TTemperatureRange r = ThermocoupleRange(tc);
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
    EXPECT_EQ(ThermocoupleLetter(tcK), 'K');
    EXPECT_EQ(ThermocoupleLetter(tcCount), '?');
}
