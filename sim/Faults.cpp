#include "Faults.h"

#include "BenchMeter.h"
#include "DeviceModel.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <sstream>

namespace kvsim {

const char* const kConsoleHelp =
    "drop P | corrupt P | noise P   shares 0..1 of requests / answers\n"
    "error 254|255|off              answer every request with that error code\n"
    "late on|off [MS]               answer after MS ms (default 1500), beyond the time-out\n"
    "silent on|off                  answer nothing\n"
    "hangup                         close the line (a new port is opened at once)\n"
    "value X                        process value (degC, %, ohm or mV by the mode)\n"
    "drift A N                      drift amplitude and noise of the process value\n"
    "sensor ok|open|short           the sensor's state\n"
    "sensor resistor OHM            a resistor of any value in place of the sensor, on its leads\n"
    "sensor voltage MV              a voltage source of any value in place of the sensor; in the\n"
    "                               thermocouple mode the cold junction is the terminals, at the\n"
    "                               device's internal temperature\n"
    "sensor leads OHM [MISMATCH%]   the sensor's leads: their loop resistance (default 0.6), in the\n"
    "                               loop with 2 wires (until the wire resistance is stored), the\n"
    "                               mismatch (default 1 %) left over with 3, nothing with 4\n"
    "adc on|off | fram on|off       converter or FRAM failure\n"
    "ident 0|1                      PCB identity address (0 KV7730, 1 KV5510)\n"
    "calibration                    the input calibration the device measures with\n"
    "board                          the board's own values (what a calibration should find)\n"
    "meter                          what a meter on the output reads: loop current (mA)\n"
    "                               and voltage (V) once settled; the output calibration's meter\n"
    "meter noise N                  the bench meter's noise, standard deviation in counts\n"
    "meter resolution A V           the bench meter's resolution of current (A) and voltage (V)\n"
    "meter current|voltage|both     the bench meter's leads on the current loop, the voltage\n"
    "                               output, or both (default); what it is not on reads 0\n"
    "meter integration MS           each reading is the output's mean over MS ms from the query,\n"
    "                               answered at its end (default 20)\n"
    "meter remote on|off            it answers nothing (no echo, no error) until SYST:REM;\n"
    "                               SYST:LOC makes it deaf again (default off)\n"
    "meter terminal on|off          it echoes each line, answers, then prompts \"=>\" (\"?>\" after\n"
    "                               a command error, \"!>\" after another) on a line (default off)\n"
    "meter errors on|off            every reading also queues -221,\"Settings conflict\"\n"
    "meter drift PPM                readings drift by PPM parts per million a second from now\n"
    "meter overload on|off          every reading is +9.90000000E+37 (leads on nothing)\n"
    "output tau MS                  the output filter's time constant (default 2.5 ms)\n"
    "output bow UA                  the output's bow at half scale in uA (0.5 mV a uA on the\n"
    "                               voltage); the board's own until set\n"
    "clear                          all line faults off\n"
    "status                         show everything\n"
    "counts                         requests, answers and commands the device carried out\n"
    "help                           this list\n"
    "quit                           end the program\n";

TFaultInjector::TFaultInjector(std::uint64_t seed) : rng_(seed * 0x9E3779B97F4A7C15ull + 0x2545F4914F6CDD1Dull) {
    if (rng_ == 0)
        rng_ = 1;
}

double TFaultInjector::Uniform() {
    rng_ ^= rng_ >> 12;
    rng_ ^= rng_ << 25;
    rng_ ^= rng_ >> 27;
    return static_cast<double>((rng_ * 0x2545F4914F6CDD1Dull) >> 11) / 9007199254740992.0;
}

TAnswerFate TFaultInjector::Decide() {
    TAnswerFate f;
    // Always draw all three, so that one share does not shift the others' sequence.
    const double d = Uniform(), c = Uniform(), n = Uniform();
    f.Drop = faults_.Silent || d < faults_.Drop;
    f.Corrupt = c < faults_.Corrupt;
    f.Noise = n < faults_.Noise;
    f.Late = faults_.Late;
    f.ErrorCode = faults_.ErrorCode;
    if (f.Drop) {
        ++Dropped;
        return f;
    }
    Corrupted += f.Corrupt;
    Noised += f.Noise;
    Delayed += f.Late;
    Errored += f.ErrorCode >= 0;
    return f;
}

void TFaultInjector::CorruptFrame(std::string& frame) {
    std::vector<std::size_t> digits;
    for (std::size_t i = 0; i < frame.size(); ++i)
        if (std::isxdigit(static_cast<unsigned char>(frame[i])))
            digits.push_back(i);
    if (digits.empty())
        return;
    const std::size_t at = digits[static_cast<std::size_t>(Uniform() * static_cast<double>(digits.size())) % digits.size()];
    static const char kHex[] = "0123456789ABCDEF";
    const char c = frame[at];
    const int v = std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : std::toupper(static_cast<unsigned char>(c)) - 'A' + 10;
    frame[at] = kHex[(v + 1 + static_cast<int>(Uniform() * 14.0)) % 16];
}

std::string TFaultInjector::NoiseBytes() {
    std::string s;
    const int n = 1 + static_cast<int>(Uniform() * 8.0);
    for (int i = 0; i < n; ++i) {
        char b = static_cast<char>(static_cast<int>(Uniform() * 256.0) & 0xFF);
        if (b == 'S' || b == 'M')
            b = '\r';
        s.push_back(b);
    }
    return s;
}

namespace {

std::vector<std::string> Words(std::string_view line) {
    std::vector<std::string> w;
    std::string cur;
    for (char c : line) {
        if (std::isspace(static_cast<unsigned char>(c))) {
            if (!cur.empty())
                w.push_back(std::move(cur));
            cur.clear();
        } else {
            cur.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
        }
    }
    if (!cur.empty())
        w.push_back(std::move(cur));
    return w;
}

bool Number(const std::string& s, double& out) {
    const char* b = s.data();
    const char* e = b + s.size();
    double v = 0;
    auto [p, ec] = std::from_chars(b, e, v);
    if (ec != std::errc() || p != e || !std::isfinite(v))
        return false;
    out = v;
    return true;
}

bool OnOff(const std::string& s, bool& out) {
    if (s == "on" || s == "1" || s == "true" || s == "yes") {
        out = true;
        return true;
    }
    if (s == "off" || s == "0" || s == "false" || s == "no") {
        out = false;
        return true;
    }
    return false;
}

std::string Fmt(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g", v);
    return buf;
}

} // namespace

namespace {

// The bench meter's console words ("meter" and more).
std::string MeterWord(const std::vector<std::string>& w, const TDeviceModel& model, TBenchMeter* meter) {
    const std::string& arg = w[1];
    static const char* const kWords[] = {"noise", "resolution", "current", "voltage", "both", "remote",
                                         "terminal", "integration", "errors", "drift", "overload"};
    if (std::find(std::begin(kWords), std::end(kWords), arg) == std::end(kWords))
        return "error: unknown meter word \"" + arg + "\" (help lists them)";
    if (!meter)
        return "error: no bench meter here (kvsim --meter-link)";
    double a = 0, volt = 0;
    bool b = false;
    if (arg == "current" || arg == "voltage" || arg == "both") {
        if (w.size() != 2)
            return "error: meter current|voltage|both";
        meter->SetWiring(arg == "current" ? wiredCurrent : arg == "voltage" ? wiredVoltage : wiredBoth);
        return "meter on " + std::string(arg == "both" ? "both outputs" : arg == "current" ? "the current loop" : "the voltage output");
    }
    if (arg == "noise") {
        if (w.size() != 3 || !Number(w[2], a) || !meter->SetNoise(a))
            return "error: meter noise wants counts from 0";
        return "meter noise " + Fmt(a) + " counts";
    }
    if (arg == "resolution") {
        if (w.size() != 4 || !Number(w[2], a) || !Number(w[3], volt) || !meter->SetResolution(a, volt))
            return "error: meter resolution wants amperes and volts, each above 0 and at most 1";
        return "meter resolution " + Fmt(a) + " A " + Fmt(volt) + " V";
    }
    if (arg == "integration") {
        if (w.size() != 3 || !Number(w[2], a) || a != std::floor(a) || a < 1 || a > TBenchMeter::kMaxIntegrationMs ||
            !meter->SetIntegration(static_cast<std::uint32_t>(a)))
            return "error: meter integration wants whole milliseconds 1.." + std::to_string(TBenchMeter::kMaxIntegrationMs);
        return "meter integration " + Fmt(a) + " ms: a reading is the mean over that time, answered at its end";
    }
    if (arg == "drift") {
        if (w.size() != 3 || !Number(w[2], a) || !meter->SetDrift(a, model.Now()))
            return "error: meter drift wants parts per million a second (at most 1e6 either way)";
        return "meter drift " + Fmt(a) + " ppm/s from now";
    }
    if (w.size() != 3 || !OnOff(w[2], b))
        return "error: meter " + arg + " on|off";
    const std::string state = b ? " on" : " off";
    if (arg == "remote") {
        meter->RequireRemote(b);
        return "meter remote" + state + (b ? ": it answers nothing until SYST:REM" : std::string());
    }
    if (arg == "terminal") {
        meter->SetTerminal(b);
        return "meter terminal" + state + (b ? ": it echoes each line and prompts \"=>\"" : std::string());
    }
    if (arg == "errors") {
        meter->SetErrorsOnReadings(b);
        return "meter errors" + state + (b ? ": every reading queues -221 \"Settings conflict\"" : std::string());
    }
    meter->SetOverload(b);
    return "meter overload" + state + (b ? ": every reading is +9.90000000E+37" : std::string());
}

} // namespace

std::string CalibrationText(const kv::InputCalibrationRecord& r) {
    std::ostringstream o;
    const auto single = [](float v) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%.9g", static_cast<double>(v));
        return std::string(buf);
    };
    o << "OFFSET_CH0=" << r.OFFSET_CH0 << " OFFSET_CH1_REF_500=" << r.OFFSET_CH1_REF_500
      << " OFFSET_CH1_REF_5K=" << r.OFFSET_CH1_REF_5K << " OFFSET_CH1_3W_500=" << r.OFFSET_CH1_3W_500
      << " OFFSET_CH1_3W_5K=" << r.OFFSET_CH1_3W_5K << " RREF_500_3W=" << single(r.RREF_500_3W)
      << " RREF_500_2W=" << single(r.RREF_500_2W) << " RREF_500_4W=" << single(r.RREF_500_4W)
      << " RREF_5K_4W=" << single(r.RREF_5K_4W) << " RREF_5K_3W=" << single(r.RREF_5K_3W)
      << " RREF_5K_2W=" << single(r.RREF_5K_2W) << " UREF=" << single(r.UREF) << " EA_500=" << single(r.EA_500)
      << " EA_5K=" << single(r.EA_5K) << " AZ0=" << r.AZ0 << " OFFSET_CH0_G4=" << r.OFFSET_CH0_G4
      << " OFFSET_CH0_3W_500=" << r.OFFSET_CH0_3W_500 << " OFFSET_CH0_3W_5K=" << r.OFFSET_CH0_3W_5K;
    return o.str();
}

std::string ConsoleStatus(const TFaultInjector& inj, const TDeviceModel& model) {
    const TFaults& f = inj.Faults();
    std::ostringstream o;
    const kv::PollAnswer a = model.Snapshot();
    o << "drop " << Fmt(f.Drop) << ", corrupt " << Fmt(f.Corrupt) << ", noise " << Fmt(f.Noise) << ", error "
      << (f.ErrorCode >= 0 ? std::to_string(f.ErrorCode) : std::string("off")) << ", late "
      << (f.Late ? "on " + std::to_string(f.LateMs) + " ms" : std::string("off")) << ", silent "
      << (f.Silent ? "on" : "off") << "; dropped " << inj.Dropped << ", corrupted " << inj.Corrupted << ", noised "
      << inj.Noised << ", late " << inj.Delayed << ", errors " << inj.Errored << "; mode "
      << int(model.Settings().Mode) << ", value " << Fmt(model.ProcessValue()) << ", physical "
      << Fmt(a.PhysicalValue) << ", calculated " << Fmt(a.CalculatedValue) << ", output " << Fmt(a.OutputLevel)
      << ", status " << int(a.StatusCode) << ", output tau " << Fmt(model.OutputStage().Tau()) << " ms, bow "
      << Fmt(model.OutputStage().Characteristic().BowMicroAmp()) << " uA, leads " << Fmt(model.LeadResistance())
      << " ohm, restarts " << model.Restarts() << ", forced PWM " << model.ForcedPWM();
    return o.str();
}

std::string ConsoleExecute(std::string_view line, TFaultInjector& inj, TDeviceModel& model, TConsoleAction& action,
                           TBenchMeter* meter) {
    action = actNone;
    const std::vector<std::string> w = Words(line);
    if (w.empty())
        return {};
    TFaults& f = inj.Faults();
    const std::string& cmd = w[0];
    const std::string arg = w.size() > 1 ? w[1] : std::string();
    double v = 0;
    bool b = false;
    auto share = [&](double& field) -> std::string {
        if (w.size() != 2 || !Number(arg, v) || v < 0.0 || v > 1.0)
            return "error: " + cmd + " wants a share from 0 to 1";
        field = v;
        return cmd + " " + Fmt(v);
    };
    if (cmd == "drop")
        return share(f.Drop);
    if (cmd == "corrupt")
        return share(f.Corrupt);
    if (cmd == "noise")
        return share(f.Noise);
    if (cmd == "error") {
        if (arg == "off") {
            f.ErrorCode = -1;
            return "error off";
        }
        if (w.size() == 2 && Number(arg, v) && v >= 0 && v <= 255 && v == std::floor(v)) {
            f.ErrorCode = static_cast<int>(v);
            return "error " + arg;
        }
        return "error: error wants a code 0..255 or off";
    }
    if (cmd == "late") {
        if (w.size() < 2 || !OnOff(arg, b))
            return "error: late on|off [ms]";
        if (w.size() > 2) {
            if (!Number(w[2], v) || v < 0 || v > 600000)
                return "error: late wants milliseconds 0..600000";
            f.LateMs = static_cast<std::uint32_t>(v);
        }
        f.Late = b;
        return std::string("late ") + (b ? "on " + std::to_string(f.LateMs) + " ms" : "off");
    }
    if (cmd == "silent") {
        if (w.size() != 2 || !OnOff(arg, b))
            return "error: silent on|off";
        f.Silent = b;
        return std::string("silent ") + (b ? "on" : "off");
    }
    if (cmd == "clear") {
        const std::uint32_t lateMs = f.LateMs;
        f = TFaults{};
        f.LateMs = lateMs;
        return "line faults off";
    }
    if (cmd == "hangup") {
        action = actHangUp;
        return "hanging up";
    }
    if (cmd == "quit" || cmd == "exit") {
        action = actQuit;
        return "bye";
    }
    if (cmd == "value") {
        if (w.size() != 2 || !Number(arg, v))
            return "error: value wants a number";
        model.SetProcessValue(v);
        return "value " + Fmt(v);
    }
    if (cmd == "drift") {
        double n = 0;
        if (w.size() != 3 || !Number(arg, v) || !Number(w[2], n) || n < 0)
            return "error: drift wants an amplitude and a noise";
        model.SetDrift(v, n);
        return "drift " + Fmt(v) + " noise " + Fmt(n);
    }
    if (cmd == "sensor" && arg == "leads") {
        double percent = 100.0 * model.LeadMismatch();
        if (w.size() < 3 || w.size() > 4 || !Number(w[2], v) || (w.size() == 4 && !Number(w[3], percent)) ||
            !model.SetLeads(v, percent / 100.0))
            return "error: sensor leads OHM [MISMATCH%] (from 0 ohm; mismatch at most 100 % either way)";
        return "sensor leads " + Fmt(v) + " ohm, mismatch " + Fmt(percent) + " %";
    }
    if (cmd == "sensor") {
        if (w.size() == 2 && arg == "ok")
            model.SetSensor(sensorOK);
        else if (w.size() == 2 && arg == "open")
            model.SetSensor(sensorOpen);
        else if (w.size() == 2 && arg == "short")
            model.SetSensor(sensorShorted);
        else if (w.size() == 3 && arg == "resistor" && Number(w[2], v) && v >= 0)
            model.SetSensor(sensorResistor, v);
        else if (w.size() == 3 && arg == "voltage" && Number(w[2], v))
            model.SetSensor(sensorVoltage, v);
        else
            return "error: sensor ok|open|short|resistor OHM|voltage MV";
        return "sensor " + arg + (w.size() == 3 ? " " + Fmt(v) : std::string());
    }
    if (cmd == "adc" || cmd == "fram") {
        if (w.size() != 2 || !OnOff(arg, b))
            return "error: " + cmd + " on|off";
        if (cmd == "adc")
            model.SetADCFault(b);
        else
            model.SetFRAMFault(b);
        return cmd + (b ? " failed" : " ok");
    }
    if (cmd == "ident") {
        if (w.size() != 2 || !Number(arg, v) || v < 0 || v > 255 || v != std::floor(v))
            return "error: ident wants 0..255";
        model.SetPCBIdentityAddress(static_cast<std::uint8_t>(v));
        return "ident " + arg;
    }
    if (cmd == "meter" && w.size() == 1)
        return FormatMeter(model.Meter());
    if (cmd == "meter")
        return MeterWord(w, model, meter);
    if (cmd == "output" && arg == "tau") {
        if (w.size() != 3 || !Number(w[2], v) || !model.SetOutputTau(v))
            return "error: output tau wants milliseconds above 0, at most " + Fmt(TOutputStage::kMaxTauMs);
        return "output tau " + Fmt(v) + " ms: a step settles within a meter's count in " +
               std::to_string(model.OutputStage().SettleMs()) + " ms";
    }
    if (cmd == "output" && arg == "bow") {
        if (w.size() != 3 || !Number(w[2], v) || std::fabs(v) > 10000.0)
            return "error: output bow wants microamperes, at most 10000 either way";
        model.SetOutputBow(v);
        return "output bow " + Fmt(v) + " uA (" + Fmt(model.OutputStage().Characteristic().VoltageBow * 1000.0) +
               " mV) at half scale";
    }
    if (cmd == "output")
        return "error: output tau MS | output bow UA";
    if (cmd == "status")
        return ConsoleStatus(inj, model);
    if (cmd == "calibration")
        return "calibration " + CalibrationText(model.CalibrationInUse());
    if (cmd == "board")
        return "board " + CalibrationText(model.Board().Calibration());
    if (cmd == "help" || cmd == "?")
        return kConsoleHelp;
    return "error: unknown command \"" + cmd + "\" (help lists them)";
}

} // namespace kvsim
