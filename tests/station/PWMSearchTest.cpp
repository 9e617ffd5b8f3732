// The search for the PWM value whose reading is closest to a target, on
// simulated boards read through a noisy 6 1/2-digit meter.
#include "OutputStage.h"
#include "PWMSearch.h"
#include "Random.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

using kv::station::TPWMSearch;

namespace {

// Runs a search against an output; returns it ended.
TPWMSearch Search(double target, std::int32_t start, double slope, const std::function<double(std::int32_t)>& read) {
    TPWMSearch s(target, start, slope);
    while (const auto next = s.Next())
        s.Reading(read(*next));
    return s;
}

// The value a search should find: the closest of all, by the noiseless output.
std::int32_t Closest(double target, const std::function<double(std::int32_t)>& read) {
    std::int32_t best = 1;
    for (std::int32_t p = 1; p <= 65535; ++p)
        if (std::fabs(read(p) - target) < std::fabs(read(best) - target))
            best = p;
    return best;
}

} // namespace

TEST(PWMSearch, FindsTheClosestValueOnEveryBoardInAFewReadings) {
    struct {
        bool current;
        double target;
        std::int32_t start;
    } const table[] = {
        {true, 4e-3, 10923}, {true, 20e-3, 54613}, {false, 2.0, 10923}, {false, 10.0, 54613},
        // From far away: a start value of an earlier run on another board, or none.
        {true, 4e-3, 1},     {true, 20e-3, 65535}, {false, 2.0, 30000}, {false, 10.0, 1},
    };
    for (std::uint32_t board : {1u, 2u, 3u, 17u, 4711u}) {
        const kvsim::TOutputCharacteristic c = kvsim::TOutputCharacteristic::ForBoard(board);
        for (const auto& row : table) {
            SCOPED_TRACE(testing::Message() << "board " << board << " target " << row.target << " from " << row.start);
            const double resolution = row.current ? 1e-9 : 1e-6;
            const double slope = row.current ? 24e-3 / 65535 : 12.0 / 65535;
            auto exact = [&](std::int32_t p) {
                const kvsim::TMeterReading r = c.Read(static_cast<std::uint16_t>(p));
                return row.current ? r.MilliAmp / 1000.0 : r.Volt;
            };
            kvsim::TRandom noise(board);
            auto meter = [&](std::int32_t p) { return std::round(exact(p) / resolution + 2.0 * noise.Gaussian()) * resolution; };
            const TPWMSearch s = Search(row.target, row.start, slope, meter);
            ASSERT_TRUE(s.Found()) << s.Failure();
            EXPECT_LE(std::abs(s.Best() - Closest(row.target, exact)), 0) << s.BestReading();
            EXPECT_LE(s.Readings(), 10);
            // Within half a PWM step of the target.
            EXPECT_LE(std::fabs(exact(s.Best()) - row.target), slope * 0.5 + 4 * resolution);
        }
    }
}

TEST(PWMSearch, EndsWithoutAValueWhenTheOutputCannotGiveIt) {
    const double slope = 24e-3 / 65535;
    struct {
        const char* what;
        double target;
        std::function<double(std::int32_t)> read;
        const char* failure;
    } const table[] = {
        {"beyond full scale", 30e-3, [&](std::int32_t p) { return 0.1e-3 + p * slope; }, "the output does not reach 0.0300"},
        {"below the lowest", 0.05e-3, [&](std::int32_t p) { return 0.1e-3 + p * slope; }, "the output does not come down to"},
        {"no meter on the output", 4e-3, [](std::int32_t) { return 1e-9; }, "the reading does not follow the PWM value"},
        {"the other quantity, falling", 4e-3, [&](std::int32_t p) { return 0.03 - p * slope; }, "the reading does not follow"},
    };
    for (const auto& row : table) {
        const TPWMSearch s = Search(row.target, 10923, slope, row.read);
        EXPECT_FALSE(s.Found()) << row.what;
        EXPECT_NE(s.Failure().find(row.failure), std::string::npos) << row.what << ": " << s.Failure();
        EXPECT_LE(s.Readings(), TPWMSearch::kMaxReadings) << row.what;
    }
}
