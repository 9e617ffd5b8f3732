#include "InputCalibrationWizard.h"

#include "NumberPicture.h"
#include "WizardLog.h"

#include <charconv>

#include <cmath>
#include <limits>

namespace kv::incal {

namespace {

constexpr double kTwoPow23 = 8388608.0;

// Collects a step's lines and stops it at a zero divisor.
class TStepRun {
public:
    explicit TStepRun(int number) {
        out.Lines.push_back({StepCaptionLine(number), number != 1});
    }

    void Count(const char* name, std::int32_t value) { Add(name, FormatPicture(value, "# ### ##0")); }
    void Ohm(const char* name, double value) { Add(name, FormatPicture(value, "0.00") + " ohm"); }
    void Plain(const char* name, double value, const char* picture) { Add(name, FormatPicture(value, picture)); }

    // numerator / divisor into `target`; false (and the step's failure) when
    // the divisor is 0: 0/0 is an invalid operation, anything else / 0 a
    // division by zero. The target keeps its value then.
    bool Divide(double numerator, double divisor, double& target) {
        if (divisor == 0.0) {
            out.Failure = numerator == 0.0 || std::isnan(numerator) ? failInvalidOperation : failDivisionByZero;
            return false;
        }
        target = numerator / divisor;
        return true;
    }

    void Add(const char* name, std::string value) { out.Lines.push_back({std::string(name) + " = " + value, false}); }

    TStepOutcome out;
};

// The negated difference as a double: exact for every 32-bit value, so the
// one difference without a 32-bit negation (-2^31) is no exception.
double Negated(std::int32_t x) { return -static_cast<double>(x); }

} // namespace

std::int32_t Difference(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) - static_cast<std::uint32_t>(b));
}

const char* FailureText(TFailure f) {
    switch (f) {
    case failDivisionByZero: return "Floating point division by zero";
    case failInvalidOperation: return "Invalid floating point operation";
    default: return "";
    }
}

void StoreReference(TReference ref, double value, TValues& v) {
    switch (ref) {
    case ref500: v.ETALON_500 = value; break;
    case ref5K: v.ETALON_5K = value; break;
    case refU: v.ETALON_U = value * 1000.0; break;
    default: break;
    }
}

TStepOutcome Next(std::size_t index, std::int32_t ch0, std::int32_t ch1, TValues& v) {
    if (index >= kLastStep)
        return {};
    TStepRun s(kSteps[index].Number);
    switch (kSteps[index].Number) {
    case 1:
        v.OFFSET_CH0 = ch0;
        s.Count("OFFSET_CH0", v.OFFSET_CH0);
        v.OFFSET_CH1_REF_500 = ch1;
        s.Count("OFFSET_CH1_REF_500", v.OFFSET_CH1_REF_500);
        break;
    case 2:
        v.OFFSET_CH1_REF_5K = ch1;
        s.Count("OFFSET_CH1_REF_5K", v.OFFSET_CH1_REF_5K);
        break;
    case 3:
        v.OFFSET_CH1_3W_500 = ch1;
        s.Count("OFFSET_CH1_3W_500", v.OFFSET_CH1_3W_500);
        v.OFFSET_CH0_3W_500 = ch0;
        s.Count("OFFSET_CH0_3W_500", v.OFFSET_CH0_3W_500);
        break;
    case 5:
        v.OFFSET_CH1_3W_5K = ch1;
        s.Count("OFFSET_CH1_3W_5K", v.OFFSET_CH1_3W_5K);
        v.OFFSET_CH0_3W_5K = ch0;
        s.Count("OFFSET_CH0_3W_5K", v.OFFSET_CH0_3W_5K);
        break;
    case 6:
    case 10:
        v.a = Difference(ch0, v.OFFSET_CH0);
        s.Count("a", v.a);
        v.d = Difference(ch1, kSteps[index].Number == 6 ? v.OFFSET_CH1_REF_500 : v.OFFSET_CH1_REF_5K);
        s.Count("d", v.d);
        break;
    case 7:
        v.b = Difference(ch1, v.OFFSET_CH1_3W_500);
        s.Count("b", v.b);
        if (!s.Divide(v.d * v.ETALON_500, Negated(v.b), v.RREF_500_3W))
            break;
        s.Ohm("RREF_500_3W", v.RREF_500_3W);
        if (!s.Divide(v.a, Negated(v.b), v.EA_500))
            break;
        s.Plain("EA_500", v.EA_500, "0.0000");
        break;
    case 11:
        v.b = Difference(ch1, v.OFFSET_CH1_3W_5K);
        s.Count("b", v.b);
        if (!s.Divide(v.d * v.ETALON_5K, Negated(v.b), v.RREF_5K_3W))
            break;
        s.Ohm("RREF_5K_3W", v.RREF_5K_3W);
        if (!s.Divide(v.a, Negated(v.b), v.EA_5K))
            break;
        s.Plain("EA_5K", v.EA_5K, "0.0000");
        break;
    case 13:
        v.b = Difference(ch1, v.OFFSET_CH1_3W_500);
        s.Count("b", v.b);
        break;
    case 15:
        v.d = Difference(ch1, v.OFFSET_CH1_REF_500);
        s.Count("d", v.d);
        if (!s.Divide(v.d * v.ETALON_500, Negated(v.b), v.RREF_500_2W))
            break;
        s.Ohm("RREF_500_2W", v.RREF_500_2W);
        break;
    case 16:
        v.b = Difference(ch1, v.OFFSET_CH1_3W_5K);
        s.Count("b", v.b);
        break;
    case 17:
        v.d = Difference(ch1, v.OFFSET_CH1_REF_5K);
        s.Count("d", v.d);
        if (!s.Divide(v.d * v.ETALON_5K, Negated(v.b), v.RREF_5K_2W))
            break;
        s.Ohm("RREF_5K_2W", v.RREF_5K_2W);
        break;
    case 18:
        if (!s.Divide(Difference(ch1, v.OFFSET_CH1_REF_500) * v.ETALON_500, Difference(ch0, v.OFFSET_CH0),
                      v.RREF_500_4W))
            break;
        s.Plain("RREF_500_4W", v.RREF_500_4W, "0.00");
        break;
    case 19:
        if (!s.Divide(Difference(ch1, v.OFFSET_CH1_REF_5K) * v.ETALON_5K, Difference(ch0, v.OFFSET_CH0),
                      v.RREF_5K_4W))
            break;
        s.Plain("RREF_5K_4W", v.RREF_5K_4W, "0.00");
        break;
    case 20:
        v.GainFactor = 2;
        v.OFFSET_CH0_G4 = ch0;
        s.Count("OFFSET_CH0_G4", v.OFFSET_CH0_G4);
        break;
    case 21:
        v.AZ0 = ch0;
        s.Count("AZ0", v.AZ0);
        break;
    case 22: {
        double uref = 0;
        if (!s.Divide(kTwoPow23, Difference(ch0, v.OFFSET_CH0_G4), uref))
            break;
        v.UREF = uref * 3 * v.GainFactor * v.ETALON_U / 1000;
        s.Add("UREF", FormatPicture(v.UREF, "##0.000") + " mV");
        break;
    }
    default:
        break;
    }
    return s.out;
}

namespace {
// The shortest decimal that reads back as the same double, with a full stop.
std::string FixtureNumber(double v) {
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, r.ptr);
}
} // namespace

std::vector<std::string> ResistorWords(double ohm) { return {"resistor", FixtureNumber(ohm)}; }
std::vector<std::string> VoltageWords(double milliVolt) { return {"voltage", FixtureNumber(milliVolt)}; }

std::vector<std::string> ConnectionWords(TConnection c, double r500, double r5K, double urefMilliVolt) {
    switch (c) {
    case connOpen: return {"open"};
    case conn500: return ResistorWords(r500);
    case conn5K: return ResistorWords(r5K);
    case connShort: return {"short"};
    case connUref: return VoltageWords(urefMilliVolt);
    case connNone: break;
    }
    return {};
}

InputCalibrationRecord TValues::Record() const {
    InputCalibrationRecord r;
    r.OFFSET_CH0 = OFFSET_CH0;
    r.OFFSET_CH1_REF_500 = OFFSET_CH1_REF_500;
    r.OFFSET_CH1_REF_5K = OFFSET_CH1_REF_5K;
    r.OFFSET_CH1_3W_500 = OFFSET_CH1_3W_500;
    r.OFFSET_CH1_3W_5K = OFFSET_CH1_3W_5K;
    r.RREF_500_3W = static_cast<float>(RREF_500_3W);
    r.RREF_500_2W = static_cast<float>(RREF_500_2W);
    r.RREF_500_4W = static_cast<float>(RREF_500_4W);
    r.RREF_5K_4W = static_cast<float>(RREF_5K_4W);
    r.RREF_5K_3W = static_cast<float>(RREF_5K_3W);
    r.RREF_5K_2W = static_cast<float>(RREF_5K_2W);
    r.UREF = static_cast<float>(UREF);
    r.EA_500 = static_cast<float>(EA_500);
    r.EA_5K = static_cast<float>(EA_5K);
    r.AZ0 = AZ0;
    r.OFFSET_CH0_G4 = OFFSET_CH0_G4;
    r.OFFSET_CH0_3W_500 = OFFSET_CH0_3W_500;
    r.OFFSET_CH0_3W_5K = OFFSET_CH0_3W_5K;
    return r;
}

std::vector<std::string> UnwritableFields(const InputCalibrationRecord& r) {
    const struct {
        const char* name;
        float value;
        bool positive; // a resistance or a voltage the device divides by
    } singles[] = {
        {"RREF_500_3W", r.RREF_500_3W, true}, {"RREF_500_2W", r.RREF_500_2W, true},
        {"RREF_500_4W", r.RREF_500_4W, true}, {"RREF_5K_4W", r.RREF_5K_4W, true},
        {"RREF_5K_3W", r.RREF_5K_3W, true},   {"RREF_5K_2W", r.RREF_5K_2W, true},
        {"UREF", r.UREF, true},               {"EA_500", r.EA_500, false},
        {"EA_5K", r.EA_5K, false},
    };
    std::vector<std::string> bad;
    for (const auto& s : singles) {
        if (!std::isfinite(s.value))
            bad.push_back(std::string(s.name) + " is not a finite number");
        else if (s.positive && !(s.value > 0.0f))
            bad.push_back(std::string(s.name) + " is not above 0");
    }
    return bad;
}

} // namespace kv::incal
