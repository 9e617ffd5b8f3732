// The search for the PWM value whose reading is closest to a target, on
// simulated boards read through a noisy 6 1/2-digit meter.
#include "OutputStage.h"
#include "PWMSearch.h"
#include "Random.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <map>
#include <vector>

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

// The value found is decided between the two neighbours that bracket the
// target: after landing, the search reads the neighbour on the target's
// other side (a neighbour on the same side could never be closer, and the
// one that could be is then never read).
TEST(PWMSearch, DecidesBetweenTheNeighboursOnBothSidesOfTheTarget) {
    for (std::uint32_t board : {1u, 2u, 3u, 5u, 8u, 13u, 21u}) {
        const kvsim::TOutputCharacteristic c = kvsim::TOutputCharacteristic::ForBoard(board);
        for (const bool current : {true, false})
            for (const double target : current ? std::vector<double>{4e-3, 12e-3, 20e-3} : std::vector<double>{2.0, 6.0, 10.0}) {
                SCOPED_TRACE(testing::Message() << "board " << board << " target " << target);
                const double slope = current ? 24e-3 / 65535 : 12.0 / 65535;
                auto exact = [&](std::int32_t p) {
                    const kvsim::TMeterReading r = c.Read(static_cast<std::uint16_t>(p));
                    return current ? r.MilliAmp / 1000.0 : r.Volt;
                };
                std::map<std::int32_t, double> read;
                const TPWMSearch s = Search(target, static_cast<std::int32_t>(target / slope), slope, [&](std::int32_t p) {
                    return read[p] = exact(p);
                });
                ASSERT_TRUE(s.Found()) << s.Failure();
                const std::int32_t low = exact(s.Best()) <= target ? s.Best() : s.Best() - 1;
                ASSERT_TRUE(read.count(low) && read.count(low + 1))
                    << "the search ended at " << s.Best() << " without reading both " << low << " and " << low + 1
                    << ", the neighbours around the target";
                EXPECT_LE(read[low], target);
                EXPECT_GE(read[low + 1], target);
                EXPECT_EQ(s.Best(), std::fabs(read[low] - target) <= std::fabs(read[low + 1] - target) ? low : low + 1);
            }
    }
}
