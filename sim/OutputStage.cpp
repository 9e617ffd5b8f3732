#include "OutputStage.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace kvsim {

namespace {

constexpr double kCurrentFullScale = 24.0; // mA at PWM 65535 on an ideal board
constexpr double kVoltageFullScale = 12.0; // V
constexpr double kPWMFull = 65535.0;

// splitmix64: nearby board seeds give unrelated boards. The salt keeps the
// output stage's draws apart from those of the board's other parts.
struct TBoardDraws {
    std::uint64_t state;
    explicit TBoardDraws(std::uint32_t seed) : state(seed ^ 0x0A7C0DE5EEDull) {}
    double Uniform() {
        std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        z ^= z >> 31;
        return static_cast<double>(z >> 11) / 9007199254740992.0;
    }
    double Between(double lo, double hi) { return lo + (hi - lo) * Uniform(); }
    double Sign() { return Uniform() < 0.5 ? -1.0 : 1.0; }
};

// The bow's shape: 0 at both ends of the scale, 1 at its middle.
double Bow(std::uint16_t pwm) {
    const double x = pwm / kPWMFull;
    return 4.0 * x * (1.0 - x);
}

} // namespace

std::string FormatMeter(const TMeterReading& r) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "meter %.3f mA %.3f V", r.MilliAmp, r.Volt);
    return buf;
}

TOutputCharacteristic TOutputCharacteristic::ForBoard(std::uint32_t boardSeed) {
    TBoardDraws d(boardSeed);
    TOutputCharacteristic c;
    // The current's gain and offset err the same way, so that the board is
    // off by more than 0.05 mA all over its range.
    const double s = d.Sign();
    c.CurrentGain = 1.0 + s * d.Between(0.006, 0.02);
    c.CurrentOffset = s * d.Between(0.06, 0.18);
    c.CurrentBow = d.Sign() * d.Between(0.001, 0.003);
    c.VoltageGain = 1.0 + d.Sign() * d.Between(0.004, 0.02);
    c.VoltageOffset = d.Sign() * d.Between(0.02, 0.08);
    c.VoltageBow = d.Sign() * d.Between(0.0005, 0.0015);
    return c;
}

TMeterReading TOutputCharacteristic::Read(std::uint16_t pwm) const {
    const double x = pwm / kPWMFull;
    TMeterReading r;
    // Neither output drives below zero.
    r.MilliAmp = std::max(0.0, CurrentGain * kCurrentFullScale * x + CurrentOffset + CurrentBow * Bow(pwm));
    r.Volt = std::max(0.0, VoltageGain * kVoltageFullScale * x + VoltageOffset + VoltageBow * Bow(pwm));
    return r;
}

TOutputStage::TOutputStage(const TOutputCharacteristic& board, std::uint16_t pwm) : board_(board), pwm_(pwm) {
    const TMeterReading settled = board.Read(pwm);
    segments_.push_back({0, settled, settled, kDefaultTauMs});
}

TMeterReading TOutputStage::TSegment::Value(double t) const {
    const double left = std::exp(-(t - static_cast<double>(At)) / Tau);
    return {To.MilliAmp + (From.MilliAmp - To.MilliAmp) * left, To.Volt + (From.Volt - To.Volt) * left};
}

TMeterReading TOutputStage::TSegment::Integral(double a, double b) const {
    // The end value all the way, and the part of the step still left, which
    // falls away as e^-t/tau.
    const double at = static_cast<double>(At);
    const double fading = Tau * (std::exp(-(a - at) / Tau) - std::exp(-(b - at) / Tau));
    return {To.MilliAmp * (b - a) + (From.MilliAmp - To.MilliAmp) * fading,
            To.Volt * (b - a) + (From.Volt - To.Volt) * fading};
}

void TOutputStage::Change(const TMeterReading& to, double tau, std::uint64_t atMs) {
    const std::uint64_t at = std::max(atMs, ChangedAt());
    // The filter starts from where it is now, which may still be on its way.
    // A second change in the same millisecond replaces the first, which
    // had no time to move the output.
    if (segments_.back().At == at) {
        segments_.back().To = to;
        segments_.back().Tau = tau;
    } else {
        segments_.push_back({at, At(at), to, tau});
    }
    // What no integration can reach any more is forgotten.
    while (segments_.size() > 1 && segments_[1].At + kHistoryMs <= at)
        segments_.pop_front();
}

void TOutputCharacteristic::SetBow(double microAmp) {
    CurrentBow = microAmp / 1000.0;
    VoltageBow = CurrentBow / kCurrentFullScale * kVoltageFullScale;
}

void TOutputStage::Drive(std::uint16_t pwm, std::uint64_t atMs) {
    if (pwm == pwm_)
        return;
    pwm_ = pwm;
    Change(board_.Read(pwm), Tau(), atMs);
}

bool TOutputStage::SetTau(double ms, std::uint64_t atMs) {
    if (!(ms > 0.0 && ms <= kMaxTauMs)) // also NaN
        return false;
    Change(Settled(), ms, atMs);
    return true;
}

std::uint32_t TOutputStage::SettleMs() const { return static_cast<std::uint32_t>(std::ceil(20.0 * Tau())); }

void TOutputStage::SetCharacteristic(const TOutputCharacteristic& board, std::uint64_t atMs) {
    board_ = board;
    Change(Settled(), Tau(), atMs);
}

TMeterReading TOutputStage::At(std::uint64_t atMs) const {
    const TSegment& s = segments_.back();
    return s.Value(static_cast<double>(std::max(atMs, s.At)));
}

TMeterReading TOutputStage::Average(std::uint64_t fromMs, std::uint64_t toMs) const {
    toMs = std::max(toMs, ChangedAt());
    if (fromMs >= toMs)
        return At(toMs);
    TMeterReading sum;
    const double from = static_cast<double>(fromMs), to = static_cast<double>(toMs);
    // Before the history's first segment the output was where that one started.
    const TSegment& first = segments_.front();
    if (from < static_cast<double>(first.At)) {
        const double before = std::min(to, static_cast<double>(first.At)) - from;
        sum.MilliAmp += first.From.MilliAmp * before;
        sum.Volt += first.From.Volt * before;
    }
    for (std::size_t i = 0; i < segments_.size(); ++i) {
        const double a = std::max(from, static_cast<double>(segments_[i].At));
        const double b = i + 1 < segments_.size() ? std::min(to, static_cast<double>(segments_[i + 1].At)) : to;
        if (b <= a)
            continue;
        const TMeterReading part = segments_[i].Integral(a, b);
        sum.MilliAmp += part.MilliAmp;
        sum.Volt += part.Volt;
    }
    return {sum.MilliAmp / (to - from), sum.Volt / (to - from)};
}

double ErrorLevel(const kv::SettingsRecord& settings) {
    const bool high = settings.ErrorSignalFlags & kv::errsig::High;
    switch (settings.OutputMode) {
    case 0: return high ? 1.125 : -0.05;  // 22 mA / 3.2 mA of 4-20 mA
    case 3: return high ? 1.125 : -0.05;  // 11 V / 1.6 V of 2-10 V
    default: return 1.1;                  // 22 mA, 11 V, 5.5 V: no level below a zero low end
    }
}

double OutputFraction(const kv::SettingsRecord& settings, std::optional<double> calculated, double lastGood,
                      std::uint8_t& errorFlags) {
    const bool signal = !(settings.ErrorSignalFlags & kv::errsig::Disabled);
    if (!calculated)
        return signal ? ErrorLevel(settings) : lastGood;
    const double span = static_cast<double>(settings.FizikaiForOutH) - settings.FizikaiForOutL;
    double f = (*calculated - settings.FizikaiForOutL) / span;
    if (!std::isfinite(f)) {
        errorFlags |= kv::errflag::OutputRange;
        return signal ? ErrorLevel(settings) : lastGood;
    }
    if (f < 0.0 || f > 1.0) {
        errorFlags |= kv::errflag::OutputRange;
        f = std::clamp(f, 0.0, 1.0);
    }
    return f;
}

bool IsCurrentOutput(std::uint8_t outputMode) { return outputMode <= 1; }

TOutputPoints TOutputPoints::From(const kv::OutputCalibrationRecord* stored) {
    TOutputPoints p = Nominal();
    if (!stored)
        return p;
    // A pair that cannot span a line leaves its output on the nominal values.
    if (stored->PWMForIL != stored->PWMForIH) {
        p.IL = stored->PWMForIL;
        p.IH = stored->PWMForIH;
    }
    if (stored->PWMForUL != stored->PWMForUH) {
        p.UL = stored->PWMForUL;
        p.UH = stored->PWMForUH;
    }
    return p;
}

namespace {

// The output type's range in its own unit (mA or V), and the calibration
// points' targets in that unit.
struct TRangeMap {
    double zero, span;   // target = zero + span * fraction
    double low, high;    // 4 and 20 mA, or 2 and 10 V
};

TRangeMap RangeOf(std::uint8_t outputMode) {
    switch (outputMode) {
    case 0: return {4.0, 16.0, 4.0, 20.0};
    case 1: return {0.0, 20.0, 4.0, 20.0};
    case 2: return {0.0, 10.0, 2.0, 10.0};
    case 3: return {2.0, 8.0, 2.0, 10.0};
    default: return {0.0, 5.0, 2.0, 10.0};
    }
}

} // namespace

std::uint16_t TOutputPoints::PWMFor(std::uint8_t outputMode, double fraction) const {
    const TRangeMap m = RangeOf(outputMode);
    const bool current = IsCurrentOutput(outputMode);
    const double lo = current ? IL : UL, hi = current ? IH : UH;
    const double target = m.zero + m.span * fraction;
    const double pwm = lo + (target - m.low) * (hi - lo) / (m.high - m.low);
    if (!(pwm > 0.0)) // also NaN
        return 0;
    return static_cast<std::uint16_t>(std::lround(std::min(pwm, kPWMFull)));
}

double TOutputPoints::FractionFor(std::uint8_t outputMode, std::uint16_t pwm) const {
    const TRangeMap m = RangeOf(outputMode);
    const bool current = IsCurrentOutput(outputMode);
    const double lo = current ? IL : UL, hi = current ? IH : UH;
    const double target = m.low + (pwm - lo) * (m.high - m.low) / (hi - lo);
    return (target - m.zero) / m.span;
}

} // namespace kvsim
