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

void TOutputStage::Drive(std::uint16_t pwm, std::uint64_t atMs) {
    if (pwm == pwm_)
        return;
    // The filter starts from where it is now, which may still be on its way.
    from_ = At(std::max(atMs, changedAt_));
    pwm_ = pwm;
    changedAt_ = std::max(atMs, changedAt_);
}

TMeterReading TOutputStage::At(std::uint64_t atMs) const {
    const TMeterReading to = Settled();
    const double elapsed = atMs > changedAt_ ? static_cast<double>(atMs - changedAt_) : 0.0;
    const double left = std::exp(-elapsed / kTauMs);
    return {to.MilliAmp + (from_.MilliAmp - to.MilliAmp) * left, to.Volt + (from_.Volt - to.Volt) * left};
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
