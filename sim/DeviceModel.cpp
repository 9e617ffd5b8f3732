#include "DeviceModel.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace kvsim {

namespace {

constexpr double kFullScale = 8388607.0; // 2^23 - 1, the converter's largest count

// The input front end. Resistances are measured ratiometrically: the current
// source drives the input and the reference resistor in series, channel 0
// takes the drop on the input and channel 1 the drop on the reference (or,
// with the third-wire switch, the input's drop from its other side). Voltages
// go through the fixed-gain path against the converter's reference. The
// values are a particular board's: the input calibration finds them.
constexpr double kCountsPerVolt = 8388608.0 / 0.25; // resistive path: 250 mV full scale
constexpr double kRref500 = 499.7;                  // reference resistor of the 500 ohm ranges
constexpr double kRref5k = 4996.0;                  // of the 5k ranges
constexpr double kUrefMilliVolt = 2495.0;           // converter reference
constexpr double kVoltGain = 6.0;                   // gain of the voltage path
constexpr double kOffsetCH0 = 812.0;
constexpr double kOffsetCH1 = -1530.0;
constexpr double kOffsetCH1ThreeW = 2210.0;
constexpr double kOffsetCH0G4 = 950.0;
constexpr double kAutoZeroCounts = 37.0;

bool IsResistanceMode(std::uint8_t mode) { return mode == 0 || mode == 1 || mode == 5 || mode == 6; }
bool IsPotMode(std::uint8_t mode) { return mode == 3 || mode == 4; }

// Converter count of quantity q on a channel whose full scale is `limit`,
// with the over- and underflow bits it raises.
std::int32_t Counts(double q, double limit, std::uint8_t overflow, std::uint8_t underflow, std::uint8_t& flags) {
    double c = q / limit * kFullScale;
    if (!(c <= kFullScale)) { // also NaN
        flags |= overflow;
        c = kFullScale;
    } else if (c < -kFullScale) {
        flags |= underflow;
        c = -kFullScale;
    }
    return static_cast<std::int32_t>(std::lround(c));
}

} // namespace

TDeviceConfig TDeviceConfig::Steady() {
    TDeviceConfig c;
    c.DriftAmplitude = 0.0;
    c.Noise = 0.0;
    c.WarmUp = 0.0;
    return c;
}

TDeviceModel::TDeviceModel(const TDeviceConfig& config)
    : config_(config), outputStage_(TOutputCharacteristic::ForBoard(config.BoardSeed)) {
    settings_ = Sanitize(config.Settings);
    inputCalibrated_ = config.InputCalibrated;
    outputCalibrated_ = config.OutputCalibrated;
    if (inputCalibrated_ || outputCalibrated_) {
        calYear_ = config.CalibrationYear;
        calMonth_ = config.CalibrationMonth;
        calDay_ = config.CalibrationDay;
    }
    rofPot0_ = 0.0;
    rofPot100_ = PotRange();
    // splitmix64 of the seed, so that nearby seeds give unrelated streams
    std::uint64_t z = config.Seed + 0x9E3779B97F4A7C15ull;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    rng_ = (z ^ (z >> 31)) | 1;
    // Powered on long enough to have measured once.
    MeasureCycle();
    nextCycle_ = kCycleMs;
}

void TDeviceModel::SetFirmwareDate(std::uint16_t y, std::uint8_t m, std::uint8_t d) {
    config_.FirmwareYear = y;
    config_.FirmwareMonth = m;
    config_.FirmwareDay = d;
}

kv::SettingsRecord TDeviceModel::Sanitize(const kv::SettingsRecord& in) {
    kv::SettingsRecord s = in;
    s.Mode = std::min<std::uint8_t>(s.Mode, 7);
    if (s.Wires < 2 || s.Wires > 4)
        s.Wires = 4;
    s.TCType = std::min<std::uint8_t>(s.TCType, 9);
    s.CJC = std::min<std::uint8_t>(s.CJC, 3);
    s.Reserved = 0;
    if (!std::isfinite(s.FizikaiForOutL))
        s.FizikaiForOutL = 0.0f;
    if (!std::isfinite(s.FizikaiForOutH))
        s.FizikaiForOutH = 100.0f;
    s.OutputMode = std::min<std::uint8_t>(s.OutputMode, 4);
    s.ErrorSignalFlags &= kv::errsig::Disabled | kv::errsig::High;
    return s;
}

double TDeviceModel::NextGaussian() {
    auto uniform = [this] {
        rng_ ^= rng_ >> 12;
        rng_ ^= rng_ << 25;
        rng_ ^= rng_ >> 27;
        return (static_cast<double>((rng_ * 0x2545F4914F6CDD1Dull) >> 11) + 0.5) / 9007199254740992.0;
    };
    const double u1 = uniform();
    const double u2 = uniform();
    return std::sqrt(-2.0 * std::log(u1)) * std::cos(2.0 * std::numbers::pi * u2);
}

double TDeviceModel::TrueProcessValue() const {
    double v = config_.ProcessValue;
    if (config_.DriftAmplitude != 0.0 && config_.DriftPeriodMs > 0.0)
        v += config_.DriftAmplitude * std::sin(2.0 * std::numbers::pi * static_cast<double>(now_) / config_.DriftPeriodMs);
    return v;
}

double TDeviceModel::TrueInternalTemperature() const {
    // The housing warms from power-on; a restart does not cool it.
    const double minutes = static_cast<double>(now_) / 60000.0;
    const double tau = config_.WarmUpMinutes > 0.0 ? config_.WarmUpMinutes : 1e-9;
    return config_.Ambient + config_.WarmUp * (1.0 - std::exp(-minutes / tau));
}

double TDeviceModel::PotRange() const { return settings_.Mode == 4 ? 5000.0 : 500.0; }

double TDeviceModel::RawLoopResistance() const {
    const std::uint8_t mode = settings_.Mode;
    if (IsResistanceMode(mode)) {
        const TTerminals t = Terminals(TrueProcessValue());
        return t.Open ? NAN : t.Ohm + config_.LeadResistance;
    }
    if (mode == 2 && (settings_.CJC == 1 || settings_.CJC == 2))
        return PtResistance(settings_.CJC == 1 ? 1000.0 : 100.0, TrueInternalTemperature()) + config_.LeadResistance;
    return NAN;
}

TDeviceModel::TTerminals TDeviceModel::Terminals(double x) const {
    const std::uint8_t mode = settings_.Mode;
    TTerminals t;
    switch (sensor_) {
    case sensorOpen: t.Open = true; break;
    case sensorShorted: break;
    case sensorResistor: t.Ohm = std::max(0.0, connected_); break;
    case sensorVoltage: t.MilliVolt = connected_; break;
    default:
        switch (mode) {
        case 0: t.Ohm = PtResistance(100.0, x); break;
        case 1: t.Ohm = PtResistance(1000.0, x); break;
        case 3:
        case 4: {
            // The wiper never quite reaches the element's ends.
            const double total = mode == 3 ? 500.0 : 5000.0;
            t.Ohm = total * (0.03 + 0.94 * std::clamp(x, 0.0, 100.0) / 100.0);
            break;
        }
        case 2: {
            const auto type = static_cast<TThermocouple>(settings_.TCType);
            t.Ohm = 10.0; // the thermocouple's own loop
            t.MilliVolt = ThermocoupleEmf(type, x) - ThermocoupleEmf(type, TrueInternalTemperature());
            break;
        }
        case 7: t.MilliVolt = x; break;
        default: t.Ohm = std::max(0.0, x); break;
        }
        break;
    }
    return t;
}

TDeviceModel::TSwitchSet TDeviceModel::Switches() const {
    TSwitchSet s;
    if (fetControl_ & kv::fet::Force) {
        s.ThreeW = fetControl_ & kv::fet::ThreeW;
        s.AZ = fetControl_ & kv::fet::AZ;
        s.Kelvin = fetControl_ & kv::fet::Kelvin;
        s.I400uA = fetControl_ & kv::fet::I400uA;
        s.PotFix = fetControl_ & kv::fet::PotFix;
        s.ThreeWAlt = fetControl_ & kv::fet::ThreeWAlt;
        return s;
    }
    const std::uint8_t mode = settings_.Mode;
    if (mode == 2 || mode == 7) {
        s.PotFix = true; // the voltage path
        return s;
    }
    // The 400 uA source drives the 500 ohm ranges; the 5k ranges run on 40 uA.
    s.I400uA = mode == 0 || mode == 3 || mode == 5;
    if (IsPotMode(mode)) {
        s.ThreeW = true; // a potentiometer has three terminals
    } else {
        s.Kelvin = settings_.Wires == 4;
        s.ThreeW = settings_.Wires == 3;
    }
    return s;
}

void TDeviceModel::FrontEnd(const TTerminals& t, double lead, double tn, TMeasurement& m) const {
    const TSwitchSet sw = Switches();
    const double current = t.Open ? 0.0 : (sw.I400uA ? 400e-6 : 40e-6);
    const double rx = t.Open ? 0.0 : t.Ohm;
    const double rref = sw.I400uA ? kRref500 : kRref5k;
    double ch0 = 0.0;
    if (sw.AZ)
        ch0 = kAutoZeroCounts; // the input shorted inside
    else if (sw.PotFix)
        ch0 = kOffsetCH0G4 + (t.MilliVolt + current * rx * 1000.0) * kVoltGain * kFullScale / kUrefMilliVolt;
    else
        ch0 = kOffsetCH0 + kCountsPerVolt * (current * (rx + (sw.Kelvin ? 0.0 : lead)) + t.MilliVolt / 1000.0);
    // The reference channel: the drop on the reference resistor, or with the
    // third-wire switch the drop on the input, from the other side.
    const double ch1 = sw.ThreeWAlt ? kOffsetCH1ThreeW - kCountsPerVolt * current * rx
                                    : kOffsetCH1 + kCountsPerVolt * current * rref;
    auto clamp = [](double c) {
        return static_cast<std::int32_t>(std::lround(std::clamp(c, -kFullScale, kFullScale)));
    };
    m.CH0 = clamp(ch0 + 20.0 * tn);
    m.CH1 = clamp(ch1 + 20.0 * tn);
}

TDeviceModel::TMeasurement TDeviceModel::Measure(double pn, double tn) const {
    TMeasurement m;
    const std::uint8_t mode = settings_.Mode;
    const double x = TrueProcessValue() + pn;
    const double lead = settings_.Wires == 2 ? config_.LeadResistance : settings_.Wires == 3 ? 0.01 * config_.LeadResistance : 0.0;
    const double wire = settings_.Wires == 2 ? wireResistance_ : 0.0;
    const bool forced = fetControl_ & kv::fet::Force;
    std::uint8_t& ad = m.ADStatus;

    if (adcFault_) {
        m.SensorFault = true;
        m.CH0 = static_cast<std::int32_t>(kFullScale);
        m.CH1 = static_cast<std::int32_t>(kFullScale);
        ad |= kv::adstat::CH0Overflow | kv::adstat::CH1Overflow;
        return m;
    }

    const TTerminals term = Terminals(x);
    FrontEnd(term, lead, tn, m);
    if (term.Open) {
        m.SensorFault = true;
        if (!forced) {
            // Sensor break: the current source drives the input to the rail.
            // (With the switches forced the source is the operator's, and the
            // channels show their offsets.)
            m.CH0 = static_cast<std::int32_t>(kFullScale);
            ad |= kv::adstat::CH0Overflow;
        }
        return m;
    }

    double quantity = 0.0, limit = 1.0;
    switch (mode) {
    case 0:
    case 1:
    case 5:
    case 6: {
        const double range = (mode == 0 || mode == 5) ? 500.0 : 5000.0;
        limit = range * 1.2;
        quantity = term.Ohm + lead;
        m.Physical = quantity - wire;
        if (mode == 0 || mode == 1) {
            double t = 0.0;
            if (PtTemperature(mode == 0 ? 100.0 : 1000.0, m.Physical, t)) {
                m.HasCalculated = true;
                m.Calculated = t;
            } else {
                m.OutOfRange = true;
            }
        } else {
            m.HasCalculated = true;
            m.Calculated = m.Physical;
            m.OutOfRange = m.Physical < 0.0 || m.Physical > range;
        }
        break;
    }
    case 3:
    case 4: {
        limit = (mode == 3 ? 500.0 : 5000.0) * 1.2;
        quantity = term.Ohm;
        m.Physical = quantity;
        const double span = rofPot100_ - rofPot0_;
        if (!PotCalibrated() || std::fabs(span) < 1e-6) {
            m.PotUncalibrated = true;
        } else {
            m.HasCalculated = true;
            m.Calculated = (m.Physical - rofPot0_) / span * 100.0;
            m.OutOfRange = m.Calculated < -10.0 || m.Calculated > 110.0;
        }
        break;
    }
    case 2: {
        const auto type = static_cast<TThermocouple>(settings_.TCType);
        const double tcj = TrueInternalTemperature();
        limit = 120.0;
        quantity = term.MilliVolt;
        m.Physical = quantity;
        bool haveCJ = true;
        double tcjEstimate = 0.0;
        switch (settings_.CJC) {
        case 0:
            haveCJ = internalTemp_ > kv::kNoTemperature;
            tcjEstimate = internalTemp_;
            break;
        case 1:
        case 2: {
            const double r0 = settings_.CJC == 1 ? 1000.0 : 100.0;
            const double rcj = PtResistance(r0, tcj + tn) + config_.LeadResistance - wireResistance_;
            haveCJ = PtTemperature(r0, rcj, tcjEstimate);
            if (haveCJ)
                m.CJC = tcjEstimate;
            break;
        }
        default:
            tcjEstimate = 0.0;
            break;
        }
        double t = 0.0;
        if (haveCJ && ThermocoupleTemperature(type, m.Physical + ThermocoupleEmf(type, tcjEstimate), t)) {
            m.HasCalculated = true;
            m.Calculated = t;
        } else {
            m.OutOfRange = true;
        }
        break;
    }
    default: { // 7: voltage
        limit = 120.0;
        quantity = term.MilliVolt;
        m.Physical = quantity;
        m.HasCalculated = true;
        m.Calculated = quantity;
        m.OutOfRange = std::fabs(quantity) > 100.0;
        break;
    }
    }

    // The measuring range of the mode ends where the converter does.
    std::uint8_t range = 0;
    Counts(quantity, limit, kv::adstat::CH0Overflow, kv::adstat::CH0Underflow, range);
    if (range) {
        ad |= range;
        if (!forced) // forced switches measure with the operator's configuration, not the mode's
            m.CH0 = (range & kv::adstat::CH0Overflow) ? static_cast<std::int32_t>(kFullScale) : -static_cast<std::int32_t>(kFullScale);
        m.HasCalculated = false;
        m.OutOfRange = true;
        return m;
    }
    m.Valid = true;
    return m;
}

void TDeviceModel::Advance(std::uint32_t ms) {
    const std::uint64_t end = now_ + ms;
    workedMs_ += ms;
    // A long jump need not replay every cycle: the averages have long settled.
    if (nextCycle_ + 64 * kCycleMs < end)
        nextCycle_ = end - 64 * kCycleMs;
    while (nextCycle_ <= end) {
        now_ = std::max(now_, nextCycle_);
        if (now_ >= silentUntil_)
            MeasureCycle();
        nextCycle_ += kCycleMs;
    }
    now_ = end;
}

void TDeviceModel::MeasureCycle() {
    const double n1 = NextGaussian() * config_.Noise;
    const double n2 = NextGaussian() * config_.Noise;
    internalTemp_ = adcFault_ ? kv::kNoTemperature : TrueInternalTemperature() + n2;
    if (internalTemp_ <= kv::kNoTemperature) {
        // no reading: the extremes keep what they have
    } else if (!extremesValid_) {
        tempMin_ = tempMax_ = static_cast<float>(internalTemp_);
        extremesValid_ = true;
    } else {
        tempMin_ = std::min(tempMin_, static_cast<float>(internalTemp_));
        tempMax_ = std::max(tempMax_, static_cast<float>(internalTemp_));
    }
    last_ = Measure(n1, n2);
    if (!measured_) {
        avgCH0_ = last_.CH0;
        avgCH1_ = last_.CH1;
    } else {
        avgCH0_ += (last_.CH0 - avgCH0_) / 4.0;
        avgCH1_ += (last_.CH1 - avgCH1_) / 4.0;
    }
    measured_ = true;
    ++cycles_;
    std::uint8_t flags = 0;
    const double f = OutputFraction(last_, flags);
    if (last_.HasCalculated && !last_.SensorFault && !(flags & kv::errflag::OutputRange))
        lastGoodOutput_ = f;
}

double TDeviceModel::ErrorLevel() const {
    const bool high = settings_.ErrorSignalFlags & kv::errsig::High;
    switch (settings_.OutputMode) {
    case 0: return high ? 1.125 : -0.05;  // 22 mA / 3.2 mA of 4-20 mA
    case 3: return high ? 1.125 : -0.05;  // 11 V / 1.6 V of 2-10 V
    default: return 1.1;                  // 22 mA, 11 V, 5.5 V: no level below a zero low end
    }
}

TOutputPoints TDeviceModel::OutputPoints() const {
    return TOutputPoints::From(outputCalibrated_ && outputCal_ ? &*outputCal_ : nullptr);
}

double TDeviceModel::NormalOutput(std::uint8_t& errorFlags) const {
    if (measured_)
        return OutputFraction(last_, errorFlags);
    // Nothing measured yet (after a restart): the error level, or the low end.
    return (settings_.ErrorSignalFlags & kv::errsig::Disabled) ? 0.0 : ErrorLevel();
}

std::uint16_t TDeviceModel::DrivenPWM() const {
    if (pwmForce_ != 0)
        return pwmForce_;
    std::uint8_t errors = 0;
    return OutputPoints().PWMFor(settings_.OutputMode, NormalOutput(errors));
}

double TDeviceModel::OutputFraction(const TMeasurement& m, std::uint8_t& errorFlags) const {
    const bool signal = !(settings_.ErrorSignalFlags & kv::errsig::Disabled);
    if (!m.HasCalculated || m.SensorFault)
        return signal ? ErrorLevel() : lastGoodOutput_;
    const double span = static_cast<double>(settings_.FizikaiForOutH) - settings_.FizikaiForOutL;
    double f = (m.Calculated - settings_.FizikaiForOutL) / span;
    if (!std::isfinite(f)) {
        errorFlags |= kv::errflag::OutputRange;
        return signal ? ErrorLevel() : lastGoodOutput_;
    }
    if (f < 0.0 || f > 1.0) {
        errorFlags |= kv::errflag::OutputRange;
        f = std::clamp(f, 0.0, 1.0);
    }
    return f;
}

std::uint16_t TDeviceModel::SwitchStates() const {
    const TSwitchSet w = Switches();
    std::uint16_t s = 0;
    if (w.ThreeW) s |= kv::sw::ThreeW;
    s |= w.AZ ? kv::sw::AZ : kv::sw::AZNeg;
    s |= w.Kelvin ? kv::sw::Kelvin : kv::sw::KelvinNeg;
    if (w.I400uA) s |= kv::sw::I400uA;
    if (w.PotFix) s |= kv::sw::PotFix;
    s |= w.ThreeWAlt ? kv::sw::ThreeWAlt : kv::sw::ThreeWAltNeg;
    return s;
}

kv::PollAnswer TDeviceModel::Compose(std::uint8_t ack) const {
    kv::PollAnswer a;
    a.FirmwareYear = config_.FirmwareYear;
    a.FirmwareMonth = config_.FirmwareMonth;
    a.FirmwareDay = config_.FirmwareDay;
    const bool have = measured_;
    TMeasurement m = have ? last_ : TMeasurement{};
    if (have) {
        a.ADCH0Present = m.CH0;
        a.ADCH1Present = m.CH1;
        a.ADCH0Average = static_cast<std::int32_t>(std::lround(avgCH0_));
        a.ADCH1Average = static_cast<std::int32_t>(std::lround(avgCH1_));
    }
    a.RAM1DataSource = settingsFromFactory_ ? srcFactory : srcFRAM1;
    a.RAM2DataSource = inputCalibrated_ ? srcFRAM2 : srcFactory;
    a.ADStatusFlags = m.ADStatus | (m.OutOfRange ? kv::adstat::InputOutOfRange : 0);
    a.MaintenanceAck = ack;
    a.AuCH0 = (settings_.Mode == 2 || settings_.Mode == 7) ? 4 : 1; // converter gain
    std::uint8_t errors = 0;
    if (adcFault_) errors |= kv::errflag::ADC;
    if (framFault_) errors |= kv::errflag::FRAM;
    a.PhysicalValue = m.Valid ? static_cast<float>(m.Physical) : kv::kNoPhysicalValue;
    a.PCBIdentityAddress = config_.PCBIdentityAddress;
    if (pwmForce_ != 0)
        a.OutputLevel = static_cast<float>(OutputPoints().FractionFor(settings_.OutputMode, pwmForce_));
    else
        a.OutputLevel = static_cast<float>(NormalOutput(errors));
    a.ErrorFlags = errors;
    a.WorkingTime = config_.WorkingTimeMinutes + static_cast<std::uint32_t>(workedMs_ / 60000);
    a.CalibrationYear = calYear_;
    a.CalibrationMonth = calMonth_;
    a.CalibrationDay = calDay_;
    a.InternalTemperature = have ? static_cast<float>(internalTemp_) : kv::kNoTemperature;
    a.InternalTemperatureMin = extremesValid_ ? tempMin_ : a.InternalTemperature;
    a.InternalTemperatureMax = extremesValid_ ? tempMax_ : a.InternalTemperature;
    a.SwitchStates = SwitchStates();
    a.CalibrationFlags = static_cast<std::uint8_t>((inputCalibrated_ ? kv::calflag::Input : 0) |
                                                   (outputCalibrated_ ? kv::calflag::Output : 0) |
                                                   (PotCalibrated() ? kv::calflag::Potentiometer : 0));
    a.CalculatedValue = m.HasCalculated ? static_cast<float>(m.Calculated) : kv::kNoCalculatedValue;
    a.CJCTemperature = static_cast<float>(m.CJC);
    a.WireResistance = static_cast<float>(wireResistance_);
    a.RofPot0 = static_cast<float>(rofPot0_);
    a.RofPot100 = static_cast<float>(rofPot100_);
    a.Cycles = static_cast<std::uint8_t>(cycles_);
    a.ADSamplesPs = have ? kSamplesPerSecond : 0;

    if (adcFault_ || framFault_)
        a.StatusCode = kv::statusSevereError;
    else if (m.SensorFault)
        a.StatusCode = kv::statusSensorOrWire;
    else if (IsPotMode(settings_.Mode) && have && m.PotUncalibrated)
        a.StatusCode = kv::statusUncalibratedPot;
    else if (m.OutOfRange)
        a.StatusCode = kv::statusInputOutOfRange;
    else if (errors & kv::errflag::OutputRange)
        a.StatusCode = kv::statusOutputOutOfRange;
    else
        a.StatusCode = kv::statusOK;
    return a;
}

void TDeviceModel::ClearFRAM() {
    settings_ = FactoryDefaults();
    settingsFromFactory_ = true;
    inputCal_.reset();
    outputCal_.reset();
    inputCalibrated_ = outputCalibrated_ = false;
    calYear_ = 0;
    calMonth_ = calDay_ = 0;
    wireResistance_ = 0.0;
    rofPot0_ = rofPot100_ = 0.0;
    pot0Stored_ = pot100Stored_ = false;
    extremesValid_ = false;
}

void TDeviceModel::Restart() {
    ++restarts_;
    silentUntil_ = now_ + config_.RestartMs;
    restartedAt_ = now_;
    nextCycle_ = silentUntil_ + kCycleMs;
    measured_ = false;
    last_ = TMeasurement{};
    cycles_ = 0;
    pwmForce_ = 0;
    fetControl_ = 0;
}

void TDeviceModel::ApplyMaintenance(std::uint8_t bits) {
    using namespace kv::maint;
    if (bits & ResetOf2Wire)
        wireResistance_ = 0.0;
    if (bits & Rof2Wire) {
        const double r = RawLoopResistance();
        if (std::isfinite(r))
            wireResistance_ = r;
    }
    if (IsPotMode(settings_.Mode)) {
        if (bits & PotDefault) {
            rofPot0_ = 0.0;
            rofPot100_ = PotRange();
            pot0Stored_ = pot100Stored_ = true;
        }
        const bool wiper = measured_ && last_.Valid;
        if ((bits & Pot0) && wiper) {
            rofPot0_ = last_.Physical;
            pot0Stored_ = true;
        }
        if ((bits & Pot100) && wiper) {
            rofPot100_ = last_.Physical;
            pot100Stored_ = true;
        }
    }
    if (bits & TempMinMaxClear) {
        extremesValid_ = measured_;
        tempMin_ = tempMax_ = static_cast<float>(internalTemp_);
    }
    if (bits & FRAMClear) {
        ClearFRAM();
        restartPending_ = true;
    }
    if (bits & Reset)
        restartPending_ = true;
}

void TDeviceModel::StampCalibrationDate() {
    if (pcYear_ == 0)
        return; // no poll has told the date yet
    calYear_ = pcYear_;
    calMonth_ = pcMonth_;
    calDay_ = pcDay_;
}

std::optional<TDeviceAnswer> TDeviceModel::Handle(std::uint8_t command, std::span<const std::uint8_t> data) {
    if (Restarting())
        return std::nullopt;
    TDeviceAnswer ans;
    switch (command) {
    case kv::cmdPoll: {
        const kv::PollRequest req = kv::PollRequest::Decode(data);
        if (req.Year != 0) {
            pcYear_ = req.Year;
            pcMonth_ = req.Month;
            pcDay_ = req.Day;
        }
        pwmForce_ = req.PWMForceValue;
        fetControl_ = (req.FETControl & kv::fet::Force) ? req.FETControl : 0;
        const std::uint8_t fresh = req.MaintenanceBits & static_cast<std::uint8_t>(~maintActive_);
        maintActive_ = req.MaintenanceBits;
        ApplyMaintenance(fresh);
        if (fresh & (kv::maint::Rof2Wire | kv::maint::ResetOf2Wire | kv::maint::Pot0 | kv::maint::Pot100 | kv::maint::PotDefault)) {
            // The stores change what the device measures at once.
            if (measured_) {
                last_ = Measure(0.0, 0.0);
            }
        }
        ans.Data = Compose(req.MaintenanceBits).Encode();
        break;
    }
    case kv::cmdWriteInputCalibration:
        if (data.size() < kv::InputCalibrationRecord::Size) {
            ans.ErrorCode = kv::kErrorUnknownCommand;
            break;
        }
        inputCal_ = kv::InputCalibrationRecord::Decode(data);
        inputCalibrated_ = true;
        StampCalibrationDate();
        break;
    case kv::cmdWriteOutputCalibration:
        if (data.size() < kv::OutputCalibrationRecord::Size) {
            ans.ErrorCode = kv::kErrorUnknownCommand;
            break;
        }
        outputCal_ = kv::OutputCalibrationRecord::Decode(data);
        outputCalibrated_ = true;
        StampCalibrationDate();
        break;
    case kv::cmdWriteSettings:
        if (data.size() < kv::SettingsRecord::Size) {
            ans.ErrorCode = kv::kErrorUnknownCommand;
            break;
        }
        settings_ = Sanitize(kv::SettingsRecord::Decode(data));
        settingsFromFactory_ = false;
        if (measured_)
            last_ = Measure(0.0, 0.0);
        break;
    case kv::cmdReadFactoryDefaults:
        ans.Data = FactoryDefaults().Encode();
        break;
    case kv::cmdReadSettings:
        ans.Data = settings_.Encode();
        break;
    default:
        ans.ErrorCode = kv::kErrorUnknownCommand;
        break;
    }
    if (restartPending_) {
        restartPending_ = false;
        Restart();
    }
    return ans;
}

} // namespace kvsim
