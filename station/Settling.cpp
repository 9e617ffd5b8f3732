#include "Settling.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>

namespace kv::station {

TSettledReading::TSettledReading(const TSettling& rule, double floor) : rule_(rule), floor_(std::fabs(floor)) {
    rule_.Readings = std::max(rule_.Readings, 2);
    rule_.MinSpanMs = std::max(rule_.MinSpanMs, 0);
}

void TSettledReading::Start(std::int64_t nowMs) {
    start_ = nowMs;
    window_.clear();
    state_ = TState::More;
    value_ = 0;
    taken_ = 0;
}

double TSettledReading::BandFor(double value) const { return std::max(std::fabs(value) * rule_.Band, floor_); }

TSettledReading::TState TSettledReading::Add(double value, std::int64_t askedMs, std::int64_t nowMs) {
    if (state_ != TState::More)
        return state_;
    ++taken_;
    window_.push_back({value, askedMs, nowMs});
    const auto span = [this](std::size_t from) { return window_.back().Answered - window_[from].Asked; };
    const auto settled = [this] {
        const double mean = std::accumulate(window_.begin(), window_.end(), 0.0,
                                            [](double s, const TReading& r) { return s + r.Value; }) /
                            static_cast<double>(window_.size());
        if (Spread() > BandFor(mean))
            return false;
        value_ = mean;
        return true;
    };
    // The last readings alone count when they do not all move one way: an
    // output still on its exponential moves one way from reading to
    // reading, one at rest only by the meter's noise (or not at all).
    if (static_cast<int>(window_.size()) >= rule_.Readings) {
        const std::deque<TReading> all = window_;
        window_.erase(window_.begin(), window_.end() - rule_.Readings);
        bool rising = true, falling = true;
        for (std::size_t i = 1; i < window_.size(); ++i) {
            rising = rising && window_[i].Value > window_[i - 1].Value;
            falling = falling && window_[i].Value < window_[i - 1].Value;
        }
        if (!rising && !falling && settled())
            return state_ = TState::Settled;
        window_ = all;
    }
    // Otherwise the shortest recent window that still has enough readings
    // over enough time: older readings only show how the output got there.
    while (static_cast<int>(window_.size()) > rule_.Readings && span(1) >= rule_.MinSpanMs)
        window_.pop_front();
    if (static_cast<int>(window_.size()) >= rule_.Readings && span(0) >= rule_.MinSpanMs && settled())
        return state_ = TState::Settled;
    if (nowMs - start_ >= rule_.TimeoutMs)
        return state_ = TState::TimedOut;
    return state_;
}

std::vector<double> TSettledReading::Window() const {
    std::vector<double> v;
    for (const TReading& r : window_)
        v.push_back(r.Value);
    return v;
}

double TSettledReading::Spread() const {
    if (window_.empty())
        return 0;
    const auto [lo, hi] = std::minmax_element(window_.begin(), window_.end(),
                                              [](const TReading& a, const TReading& b) { return a.Value < b.Value; });
    return hi->Value - lo->Value;
}

double TSettledReading::StandardDeviationOfMean() const {
    const std::size_t n = window_.size();
    if (n < 2)
        return 0;
    double mean = 0;
    for (const TReading& r : window_)
        mean += r.Value;
    mean /= static_cast<double>(n);
    double sum = 0;
    for (const TReading& r : window_)
        sum += (r.Value - mean) * (r.Value - mean);
    return std::sqrt(sum / static_cast<double>(n - 1)) / std::sqrt(static_cast<double>(n));
}

double TSettledReading::Band() const {
    if (window_.empty())
        return floor_;
    return BandFor(state_ == TState::Settled ? value_ : window_.back().Value);
}

std::string TSettledReading::Failure(double scale, const char* unit) const {
    char buf[200];
    std::snprintf(buf, sizeof buf, "the last %d readings spread over %.4f %s, more than the band of %.4f %s, after %.1f s",
                  static_cast<int>(window_.size()), Spread() * scale, unit, Band() * scale, unit,
                  window_.empty() ? 0.0 : static_cast<double>(window_.back().Answered - start_) / 1000.0);
    return buf;
}

} // namespace kv::station
