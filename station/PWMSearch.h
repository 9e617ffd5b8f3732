#pragma once
// TPWMSearch: the PWM value whose meter reading is closest to a target (4 mA,
// 20 mA, 2 V or 10 V), as the operator finds it with the output calibration's
// buttons, from readings alone. Plain C++: PWM values out, readings in.
//
// The output rises with the PWM value almost on a straight line (a board's
// gain and offset miss the nominal by a few per cent; what bends it is
// microamperes), so the search steps along a secant: from the start value and
// the nominal slope, each reading corrects the line through the two readings
// nearest the target, and a few readings land next to it. Then the neighbour
// on the target's other side is read, and the value whose reading is closer
// wins. A board within its tolerances takes four to eight readings.
//
// It ends without a value when the output cannot reach the target within the
// PWM range (1 to 65535: the poll reads 0 as "not forced"), when the readings
// do not follow the PWM value (the meter is not on the output, or on the
// other quantity), or after kMaxReadings.
#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace kv::station {

// How messages name readings: reading × scale in unit (mA of amperes: 1000).
struct TReadingUnit {
    double scale = 1.0;
    const char* unit = "";
    int decimals = 4;
};

class TPWMSearch {
public:
    static constexpr int kMaxReadings = 40;
    static constexpr std::int32_t kLowest = 1;
    static constexpr std::int32_t kHighest = 65535;

    // target and nominalSlope (reading per PWM count, above 0) in the
    // meter's units; start: where the first reading is taken.
    TPWMSearch(double target, std::int32_t start, double nominalSlope, TReadingUnit unit = {});

    // The PWM value to read next; none once the search has ended.
    std::optional<std::int32_t> Next() const { return next_; }
    // The reading taken at Next().
    void Reading(double value);

    bool Ended() const { return !next_; }
    bool Found() const { return Ended() && failure_.empty(); }
    std::int32_t Best() const { return best_; }
    double BestReading() const { return bestReading_; }
    // Why the search ended without a value.
    const std::string& Failure() const { return failure_; }
    int Readings() const { return static_cast<int>(readings_.size()); }
    double Target() const { return target_; }
    // The slope (reading per PWM count) the last step went by: the secant
    // of the readings nearest the target, or the nominal one.
    double Slope() const { return slope_; }

private:
    void Decide();
    void End(std::string failure = {});
    std::string Text(double reading) const;

    double target_, nominalSlope_, slope_;
    TReadingUnit unit_;
    std::map<std::int32_t, double> readings_;
    std::optional<std::int32_t> next_;
    std::int32_t best_ = 0;
    double bestReading_ = 0;
    int taken_ = 0;
    std::string failure_;
};

} // namespace kv::station
