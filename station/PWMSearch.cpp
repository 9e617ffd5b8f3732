#include "PWMSearch.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iterator>

namespace kv::station {

namespace {

// Readings this far apart in PWM counts show whether the output follows.
constexpr std::int32_t kFollowSpan = 16;
// A slope below this share of the nominal one is an output that does not follow.
constexpr double kDeadSlope = 0.05;
// A secant outside these shares of the nominal slope is noise, not the board.
constexpr double kSaneSlopeLow = 0.2, kSaneSlopeHigh = 5.0;

} // namespace

TPWMSearch::TPWMSearch(double target, std::int32_t start, double nominalSlope, TReadingUnit unit)
    : target_(target), nominalSlope_(nominalSlope), slope_(nominalSlope), unit_(unit), next_(std::clamp(start, kLowest, kHighest)) {}

std::string TPWMSearch::Text(double reading) const {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f %s", unit_.decimals, reading * unit_.scale, unit_.unit);
    return buf;
}

void TPWMSearch::End(std::string failure) {
    next_.reset();
    failure_ = std::move(failure);
}

void TPWMSearch::Reading(double value) {
    if (!next_)
        return;
    readings_[*next_] = value;
    ++taken_;
    Decide();
}

void TPWMSearch::Decide() {
    // The reading nearest the target so far.
    auto nearest = std::min_element(readings_.begin(), readings_.end(), [&](const auto& a, const auto& b) {
        return std::fabs(a.second - target_) < std::fabs(b.second - target_);
    });
    best_ = nearest->first;
    bestReading_ = nearest->second;

    // The output must rise with the PWM value: over readings far enough
    // apart, by a fair share of the nominal slope.
    const auto& lowest = *readings_.begin();
    const auto& highest = *std::prev(readings_.end());
    if (highest.first - lowest.first >= kFollowSpan &&
        (highest.second - lowest.second) / (highest.first - lowest.first) < kDeadSlope * nominalSlope_) {
        return End("the reading does not follow the PWM value (" + Text(lowest.second) + " at " +
                   std::to_string(lowest.first) + ", " + Text(highest.second) + " at " + std::to_string(highest.first) +
                   "): is the meter on the output, measuring the right quantity?");
    }

    // The line through the two readings nearest the target.
    double slope = nominalSlope_;
    std::int32_t other = -1;
    double otherDistance = 0;
    for (const auto& [pwm, value] : readings_) {
        if (pwm == best_)
            continue;
        const double d = std::fabs(value - target_);
        if (other < 0 || d < otherDistance) {
            other = pwm;
            otherDistance = d;
        }
    }
    if (other >= 0) {
        const double secant = (readings_[other] - bestReading_) / (other - best_);
        if (secant > kSaneSlopeLow * nominalSlope_ && secant < kSaneSlopeHigh * nominalSlope_)
            slope = secant;
    }
    slope_ = slope;
    const double estimate = best_ + (target_ - bestReading_) / slope;
    const auto candidate = static_cast<std::int32_t>(
        std::clamp<double>(std::round(estimate), static_cast<double>(kLowest), static_cast<double>(kHighest)));

    if (taken_ >= kMaxReadings)
        return End("no PWM value found within " + std::to_string(kMaxReadings) + " readings (nearest " + Text(bestReading_) +
                   " at " + std::to_string(best_) + ")");
    if (!readings_.count(candidate)) {
        next_ = candidate;
        return;
    }
    // Landed: the neighbour on the target's other side decides.
    if (bestReading_ != target_) {
        const std::int32_t neighbour = bestReading_ < target_ ? best_ + 1 : best_ - 1;
        if (neighbour >= kLowest && neighbour <= kHighest && !readings_.count(neighbour)) {
            next_ = neighbour;
            return;
        }
    }
    // A target beyond the range's end is not reached by its nearest value.
    const double step = slope;
    if (best_ == kHighest && bestReading_ < target_ - step)
        return End("the output does not reach " + Text(target_) + ": " + std::to_string(kHighest) + " gives " +
                   Text(bestReading_));
    if (best_ == kLowest && bestReading_ > target_ + step)
        return End("the output does not come down to " + Text(target_) + ": " + std::to_string(kLowest) + " gives " +
                   Text(bestReading_));
    End();
}

} // namespace kv::station
