#include "DeviceModel.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace kvsim {

namespace {

constexpr double kFullScale = 8388607.0; // 2^23 - 1, the converter's largest count

// Converter noise: counts per unit of the measurement's noise draw.
constexpr double kCountNoise = 20.0;

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
    : config_(config), outputStage_(TOutputCharacteristic::ForBoard(config.BoardSeed)), rng_(config.Seed) {
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
    board_ = TBoard::FromSeed(config.BoardSeed);
    nominalCal_ = TBoard::Nominal().Calibration();
    if (inputCalibrated_)
        startCal_ = TBoard::FromSeed(config.ForeignCalibration ? ForeignBoardSeed(config.BoardSeed) : config.BoardSeed)
                        .Calibration();
    // Powered on long enough to have measured once, and for the output to
    // have settled.
    MeasureCycle();
    outputStage_ = TOutputStage(outputStage_.Characteristic(), DrivenPWM());
    nextCycle_ = kCycleMs;
}

void TDeviceModel::SetOutputBow(double microAmp) {
    TOutputCharacteristic c = outputStage_.Characteristic();
    c.SetBow(microAmp);
    outputStage_.SetCharacteristic(c, now_);
}

bool TDeviceModel::SetLeads(double ohm, double mismatch) {
    if (!(ohm >= 0.0 && ohm <= 1e6 && std::fabs(mismatch) <= 1.0)) // also NaN
        return false;
    config_.LeadResistance = ohm;
    config_.LeadMismatch = mismatch;
    return true;
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
        if (t.Open)
            return NAN;
        TInput in = Input(t);
        in.Lead1 = in.Lead4 = config_.LeadResistance / 2.0;
        return MeasuredResistance(in, mode == 1 || mode == 6, 2, 0.0);
    }
    if (mode == 2 && (settings_.CJC == 1 || settings_.CJC == 2)) {
        TInput cj;
        cj.Ohm = PtResistance(settings_.CJC == 1 ? 1000.0 : 100.0, TrueInternalTemperature());
        cj.Lead1 = cj.Lead4 = config_.LeadResistance / 2.0;
        return MeasuredResistance(cj, settings_.CJC == 1, 2, 0.0);
    }
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

TSwitches TDeviceModel::Switches() const {
    TSwitches s;
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

const kv::InputCalibrationRecord& TDeviceModel::CalibrationInUse() const {
    if (inputCal_)
        return *inputCal_;
    if (startCal_)
        return *startCal_;
    return nominalCal_;
}

TInput TDeviceModel::Input(const TTerminals& t) const {
    TInput in;
    in.Open = t.Open;
    in.Ohm = t.Ohm;
    in.MilliVolt = t.MilliVolt;
    // A calibration connects its references at the terminals; a sensor (or
    // a reference in its place) hangs on its leads: in the loop with 2
    // wires, one on each side with 3 (their mismatch left over), sensed away
    // with 4.
    if (!(fetControl_ & kv::fet::Force) && !IsPotMode(settings_.Mode)) {
        const double half = config_.LeadResistance / 2.0;
        const double mismatch = settings_.Wires == 3 ? config_.LeadMismatch * half : 0.0;
        in.Lead1 = half + mismatch;
        in.Lead4 = half - mismatch;
    }
    return in;
}

TCounts TDeviceModel::NoisyCounts(const TSwitches& sw, const TInput& in, double tn) const {
    TCounts c = Convert(board_, sw, in);
    // The converter clips at its full scale.
    c.CH0 = std::clamp(c.CH0 + kCountNoise * tn, -kFullScale, kFullScale);
    c.CH1 = std::clamp(c.CH1 + kCountNoise * tn, -kFullScale, kFullScale);
    return c;
}

double TDeviceModel::MeasuredResistance(const TInput& in, bool range5k, int wires, double tn) const {
    const kv::InputCalibrationRecord& cal = CalibrationInUse();
    const TCounts ref = NoisyCounts(Kelvin4W(range5k), in, tn);
    switch (wires) {
    case 4: return Resistance4W(cal, range5k, ref);
    case 3: return Resistance3W(cal, range5k, NoisyCounts(Alt3W(range5k), in, tn), ref);
    default: return Resistance2W(cal, range5k, NoisyCounts(Alt2W(range5k), in, tn), ref);
    }
}

double TDeviceModel::MeasuredMilliVolt(const TInput& in, double tn) const {
    return MilliVolt(CalibrationInUse(), NoisyCounts(VoltagePath(), in, tn), NoisyCounts(AutoZeroPath(), in, tn).CH0);
}

TDeviceModel::TMeasurement TDeviceModel::Measure(double pn, double tn) const {
    TMeasurement m;
    const std::uint8_t mode = settings_.Mode;
    const double x = TrueProcessValue() + pn;
    const double lead = settings_.Wires == 2   ? config_.LeadResistance
                        : settings_.Wires == 3 ? config_.LeadMismatch * config_.LeadResistance
                                               : 0.0;
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
    const TInput in = Input(term);
    // The answer's counts are those of the configuration the switches hold.
    const TCounts shown = NoisyCounts(Switches(), in, tn);
    m.CH0 = static_cast<std::int32_t>(std::lround(shown.CH0));
    m.CH1 = static_cast<std::int32_t>(std::lround(shown.CH1));
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
        m.Physical = MeasuredResistance(in, mode == 1 || mode == 6, settings_.Wires, tn) - wire;
        if (!std::isfinite(m.Physical))
            break;
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
            m.OutOfRange = !(m.Physical >= 0.0 && m.Physical <= range);
        }
        break;
    }
    case 3:
    case 4: {
        limit = (mode == 3 ? 500.0 : 5000.0) * 1.2;
        quantity = term.Ohm;
        m.Physical = MeasuredResistance(in, mode == 4, 2, tn);
        if (!std::isfinite(m.Physical))
            break;
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
        m.Physical = MeasuredMilliVolt(in, tn);
        if (!std::isfinite(m.Physical))
            break;
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
            // The junction's sensor on two wires beside the thermocouple.
            TInput cj;
            cj.Ohm = PtResistance(r0, tcj + tn);
            cj.Lead1 = cj.Lead4 = config_.LeadResistance / 2.0;
            const double rcj = MeasuredResistance(cj, settings_.CJC == 1, 2, tn) - wireResistance_;
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
        m.Physical = MeasuredMilliVolt(in, tn);
        m.HasCalculated = true;
        m.Calculated = m.Physical;
        m.OutOfRange = !(std::fabs(m.Physical) <= 100.0);
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
    // A calibration record of nonsense (a zero reference, a garbled write)
    // leaves the device without a value, never with an infinity.
    if (!std::isfinite(m.Physical)) {
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
    const double n1 = rng_.Gaussian() * config_.Noise;
    const double n2 = rng_.Gaussian() * config_.Noise;
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
    // The averages are of the last kAverageCycles measurements in the
    // present switch configuration: a configuration change starts them
    // afresh, so a calibration step reads clean averages a few cycles later.
    const TSwitches sw = Switches();
    if (!measured_ || !(sw == avgSwitches_)) {
        avgSwitches_ = sw;
        avgCount_ = 0;
    }
    avgRing_[avgNext_] = {static_cast<double>(last_.CH0), static_cast<double>(last_.CH1)};
    avgNext_ = (avgNext_ + 1) % kAverageCycles;
    avgCount_ = std::min<std::size_t>(avgCount_ + 1, kAverageCycles);
    avgCH0_ = avgCH1_ = 0.0;
    for (std::size_t k = 0; k < avgCount_; ++k) {
        const TCounts& c = avgRing_[(avgNext_ + kAverageCycles - 1 - k) % kAverageCycles];
        avgCH0_ += c.CH0 / static_cast<double>(avgCount_);
        avgCH1_ += c.CH1 / static_cast<double>(avgCount_);
    }
    measured_ = true;
    ++cycles_;
    std::uint8_t flags = 0;
    const std::optional<double> value = OutputValue(last_);
    const double f = OutputFraction(settings_, value, lastGoodOutput_, flags);
    if (value && !(flags & kv::errflag::OutputRange))
        lastGoodOutput_ = f;
    UpdateOutput();
}

std::optional<double> TDeviceModel::OutputValue(const TMeasurement& m) {
    if (!m.HasCalculated || m.SensorFault)
        return std::nullopt;
    return m.Calculated;
}

TOutputPoints TDeviceModel::OutputPoints() const {
    return TOutputPoints::From(outputCalibrated_ && outputCal_ ? &*outputCal_ : nullptr);
}

double TDeviceModel::NormalOutput(std::uint8_t& errorFlags) const {
    if (measured_)
        return OutputFraction(settings_, OutputValue(last_), lastGoodOutput_, errorFlags);
    // Nothing measured yet (after a restart): the error level, or the low end.
    return (settings_.ErrorSignalFlags & kv::errsig::Disabled) ? 0.0 : ErrorLevel(settings_);
}

std::uint16_t TDeviceModel::DrivenPWM() const {
    if (pwmForce_ != 0)
        return pwmForce_;
    std::uint8_t errors = 0;
    return OutputPoints().PWMFor(settings_.OutputMode, NormalOutput(errors));
}

std::uint16_t TDeviceModel::SwitchStates() const {
    const TSwitches w = Switches();
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
    startCal_.reset();
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
    // A forced PWM value, new settings or a new calibration move the output
    // from now on.
    UpdateOutput();
    return ans;
}

} // namespace kvsim
