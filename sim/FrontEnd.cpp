#include "FrontEnd.h"

#include <cmath>

namespace kvsim {

namespace {

constexpr double kTwoPow23 = 8388608.0;
constexpr double kVoltGain = 6.0; // 3 x the voltage path's gain factor 2

int Range(bool range5k) { return range5k ? 1 : 0; }

// splitmix64: consecutive seeds give unrelated boards.
class TBoardDraw {
public:
    explicit TBoardDraw(std::uint32_t seed) : state_(0xB0A2D5EEDull ^ (static_cast<std::uint64_t>(seed) << 17)) {}
    // Uniform in [-1, 1).
    double Unit() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        z ^= z >> 31;
        return static_cast<double>(z >> 11) / 4503599627370496.0 - 1.0;
    }
    double Tolerance(double nominal, double share) { return nominal * (1.0 + share * Unit()); }
    double Counts(double spread) { return std::round(spread * Unit()); }

private:
    std::uint64_t state_;
};

} // namespace

TBoard TBoard::FromSeed(std::uint32_t seed) {
    TBoardDraw draw(seed);
    TBoard b;
    b.Rref[0] = draw.Tolerance(500.0, 0.002);
    b.Rref[1] = draw.Tolerance(5000.0, 0.002);
    b.UrefMilliVolt = draw.Tolerance(2500.0, 0.005);
    b.Current[0] = draw.Tolerance(400e-6, 0.01);
    b.Current[1] = draw.Tolerance(40e-6, 0.01);
    b.AltGain = draw.Tolerance(1.0, 0.003);
    b.AltGainPotFix = draw.Tolerance(1.0, 0.003);
    b.Off0 = draw.Counts(3000);
    b.Off0ThreeW[0] = draw.Counts(3000);
    b.Off0ThreeW[1] = draw.Counts(3000);
    b.Off0G4 = draw.Counts(3000);
    b.AutoZero = draw.Counts(300);
    b.Off1Ref[0] = draw.Counts(3000);
    b.Off1Ref[1] = draw.Counts(3000);
    b.Off1Alt[0] = draw.Counts(3000);
    b.Off1Alt[1] = draw.Counts(3000);
    return b;
}

kv::InputCalibrationRecord TBoard::Calibration() const {
    const auto count = [](double c) { return static_cast<std::int32_t>(c); };
    kv::InputCalibrationRecord r;
    r.OFFSET_CH0 = count(Off0);
    r.OFFSET_CH1_REF_500 = count(Off1Ref[0]);
    r.OFFSET_CH1_REF_5K = count(Off1Ref[1]);
    r.OFFSET_CH1_3W_500 = count(Off1Alt[0]);
    r.OFFSET_CH1_3W_5K = count(Off1Alt[1]);
    r.RREF_500_3W = static_cast<float>(Rref[0] / AltGain);
    r.RREF_500_2W = static_cast<float>(Rref[0] / AltGainPotFix);
    r.RREF_500_4W = static_cast<float>(Rref[0]);
    r.RREF_5K_4W = static_cast<float>(Rref[1]);
    r.RREF_5K_3W = static_cast<float>(Rref[1] / AltGain);
    r.RREF_5K_2W = static_cast<float>(Rref[1] / AltGainPotFix);
    r.UREF = static_cast<float>(UrefMilliVolt);
    r.EA_500 = static_cast<float>(1.0 / AltGain);
    r.EA_5K = static_cast<float>(1.0 / AltGain);
    r.AZ0 = count(AutoZero);
    r.OFFSET_CH0_G4 = count(Off0G4);
    r.OFFSET_CH0_3W_500 = count(Off0ThreeW[0]);
    r.OFFSET_CH0_3W_5K = count(Off0ThreeW[1]);
    return r;
}

std::uint32_t ForeignBoardSeed(std::uint32_t boardSeed) {
    const TBoard own = TBoard::FromSeed(boardSeed);
    TInput pt100;
    pt100.Ohm = 138.5055;
    const TCounts counts = Convert(own, Kelvin4W(false), pt100);
    std::uint32_t other = boardSeed ^ 0x5EED5EEDu;
    for (int tries = 0; tries < 1000; ++tries, ++other) {
        if (other == boardSeed)
            continue;
        const double r = Resistance4W(TBoard::FromSeed(other).Calibration(), false, counts);
        if (std::fabs(r - pt100.Ohm) >= 0.2)
            break;
    }
    return other;
}

TCounts Convert(const TBoard& b, const TSwitches& sw, const TInput& in) {
    const int r = Range(!sw.I400uA);
    const double kc = kTwoPow23 / (b.UrefMilliVolt / 10000.0); // counts per volt
    const double i = in.Open ? 0.0 : b.Current[r];
    const double rx = in.Open ? 0.0 : in.Ohm;
    TCounts c;
    if (sw.AZ) {
        c.CH0 = b.AutoZero;
    } else if (sw.PotFix) {
        // The voltage path takes no excitation: the source's own voltage.
        c.CH0 = b.Off0G4 + kVoltGain * in.MilliVolt * kTwoPow23 / b.UrefMilliVolt;
    } else {
        const double sensed = sw.ThreeW ? rx + in.Lead1 : sw.Kelvin ? rx : rx + in.Lead1 + in.Lead4;
        c.CH0 = (sw.ThreeWAlt ? b.Off0ThreeW[r] : b.Off0) + kc * (i * sensed + in.MilliVolt / 1000.0);
    }
    if (sw.ThreeWAlt) {
        const double gain = sw.PotFix ? b.AltGainPotFix : b.AltGain;
        c.CH1 = b.Off1Alt[r] - kc * gain * i * (in.Lead1 + rx + in.Lead4);
    } else {
        c.CH1 = b.Off1Ref[r] + kc * i * b.Rref[r];
    }
    return c;
}

double Resistance4W(const kv::InputCalibrationRecord& c, bool range5k, const TCounts& k) {
    const double rref = range5k ? c.RREF_5K_4W : c.RREF_500_4W;
    const double off1 = range5k ? c.OFFSET_CH1_REF_5K : c.OFFSET_CH1_REF_500;
    return (k.CH0 - c.OFFSET_CH0) * rref / (k.CH1 - off1);
}

double Resistance3W(const kv::InputCalibrationRecord& c, bool range5k, const TCounts& alt, const TCounts& ref) {
    const double off0 = range5k ? c.OFFSET_CH0_3W_5K : c.OFFSET_CH0_3W_500;
    const double off1 = range5k ? c.OFFSET_CH1_3W_5K : c.OFFSET_CH1_3W_500;
    const double offRef = range5k ? c.OFFSET_CH1_REF_5K : c.OFFSET_CH1_REF_500;
    const double ea = range5k ? c.EA_5K : c.EA_500;
    const double rref = range5k ? c.RREF_5K_3W : c.RREF_500_3W;
    return (2.0 * (alt.CH0 - off0) / ea + (alt.CH1 - off1)) * rref / (ref.CH1 - offRef);
}

double Resistance2W(const kv::InputCalibrationRecord& c, bool range5k, const TCounts& alt, const TCounts& ref) {
    const double off1 = range5k ? c.OFFSET_CH1_3W_5K : c.OFFSET_CH1_3W_500;
    const double offRef = range5k ? c.OFFSET_CH1_REF_5K : c.OFFSET_CH1_REF_500;
    const double rref = range5k ? c.RREF_5K_2W : c.RREF_500_2W;
    return -(alt.CH1 - off1) * rref / (ref.CH1 - offRef);
}

double MilliVolt(const kv::InputCalibrationRecord& c, const TCounts& voltage, double autoZero) {
    return (voltage.CH0 - c.OFFSET_CH0_G4 - (autoZero - c.AZ0)) * c.UREF / (kVoltGain * kTwoPow23);
}

TSwitches Kelvin4W(bool range5k) {
    TSwitches s;
    s.Kelvin = true;
    s.I400uA = !range5k;
    return s;
}

TSwitches Alt3W(bool range5k) {
    TSwitches s;
    s.ThreeW = s.ThreeWAlt = true;
    s.I400uA = !range5k;
    return s;
}

TSwitches Alt2W(bool range5k) {
    TSwitches s;
    s.PotFix = s.ThreeWAlt = true;
    s.I400uA = !range5k;
    return s;
}

TSwitches VoltagePath() {
    TSwitches s;
    s.PotFix = true;
    return s;
}

TSwitches AutoZeroPath() {
    TSwitches s;
    s.AZ = s.PotFix = true;
    return s;
}

} // namespace kvsim
