#pragma once
// TSettledReading: when a bench meter's readings of an output count. An
// output stage settles along an exponential (its filter's time constant, 2
// to 100 ms on the boards we know) and a meter may integrate each reading
// for up to half a second, so no fixed wait suits every bench: a wait long
// enough for the slowest board wastes minutes on the fastest, and one tied to
// the simulator's filter fails good boards. A reading counts instead when
// the output has stopped moving:
//
//   - the last Readings readings agree: the spread between the largest and
//     the smallest is within the band, Band of the reading or the quantity's
//     floor, whichever is larger;
//   - and either they do not all move one way (an output at rest moves only
//     by the meter's noise, or not at all; one still on its exponential moves
//     the same way from reading to reading), or they span at least MinSpanMs
//     from the first one's request to the last one's answer. Readings taken
//     close together on a slow exponential agree while it still moves; over
//     a window of twice the slowest time constant, what is left of the step
//     is at most about 1.2 times the band.
//
// The result is the mean of the agreeing readings, and their spread and
// standard deviation go to the uncertainty budget as the repeatability.
// Readings that do not agree within TimeoutMs end without a result: the
// output does not settle (an oscillating stage, a drifting meter, noise
// beyond the band).
//
// Plain C++: readings and their times in, a verdict out; the caller owns the
// meter and the clock.
#include "Bench.h"

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace kv::station {

// What a settled reading hands on: the mean of the agreeing readings, the
// band they had to agree in, the readings themselves (their scatter is the
// repeatability) and the last digit the meter gave (its resolution as its
// answer shows it; none when the answer does not show it).
struct TMeterResult {
    double Value = 0;
    double Band = 0;
    std::vector<double> Readings;
    std::optional<double> Digit;
};

class TSettledReading {
public:
    enum class TState : std::uint8_t {
        More,     // take another reading
        Settled,  // Value() counts
        TimedOut, // no agreement within the time limit
    };

    // floor: the quantity's absolute band (A or V), from the bench.
    TSettledReading(const TSettling& rule, double floor);

    // The first reading is asked for at `nowMs`.
    void Start(std::int64_t nowMs);
    // A reading whose answer came at `nowMs` (asked for at `askedMs`).
    TState Add(double value, std::int64_t askedMs, std::int64_t nowMs);
    TState State() const { return state_; }

    // The mean of the agreeing readings.
    double Value() const { return value_; }
    // The agreeing readings, oldest first (or the last ones taken, when timed out).
    std::vector<double> Window() const;
    // Largest minus smallest of the window.
    double Spread() const;
    // The experimental standard deviation of the window's mean (s / sqrt(n)).
    double StandardDeviationOfMean() const;
    // The band the window had to fit in, for the value it settled at.
    double Band() const;
    int Taken() const { return taken_; }
    // Why it did not settle, in a sentence ("the last 3 readings spread over
    // 12.0 uA, more than the band of 0.4 uA, after 20.0 s").
    std::string Failure(double scale, const char* unit) const;

private:
    struct TReading {
        double Value;
        std::int64_t Asked;
        std::int64_t Answered;
    };
    double BandFor(double value) const;

    TSettling rule_;
    double floor_;
    std::deque<TReading> window_;
    std::int64_t start_ = 0;
    TState state_ = TState::More;
    double value_ = 0;
    int taken_ = 0;
};

} // namespace kv::station
