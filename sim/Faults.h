#pragma once
// Faults of the line and of the device that the simulator can inject, and the
// console commands that switch them (and the simulated world) while it runs.
// Shared by kvsim on a pseudo-terminal and the in-process device of the tests;
// the draws come from a seeded generator, so a test sees the same sequence of
// fates every run.
#include "DeviceRecords.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kvsim {

class TBenchMeter;
class TDeviceModel;

struct TFaults {
    double Drop = 0.0;       // share of requests left unanswered
    double Corrupt = 0.0;    // share of answers sent with a broken CRC
    double Noise = 0.0;      // share of answers preceded by line noise
    int ErrorCode = -1;      // answer every request with this error code; -1: off
    bool Late = false;       // answer after LateMs, beyond the master's time-out
    std::uint32_t LateMs = 1500;
    bool Silent = false;     // answer nothing at all
};

// What happens to the answer of one request.
struct TAnswerFate {
    bool Drop = false;
    bool Corrupt = false;
    bool Noise = false;
    bool Late = false;
    int ErrorCode = -1;
};

class TFaultInjector {
public:
    explicit TFaultInjector(std::uint64_t seed = 1);
    TFaults& Faults() { return faults_; }
    const TFaults& Faults() const { return faults_; }

    // Draws the fate of the next answer.
    TAnswerFate Decide();
    // Breaks an ASCII frame ("S", hex digits, ";") by changing one of its hex
    // digits into another, so that its CRC no longer matches. Frames without
    // digits are left alone.
    void CorruptFrame(std::string& frame);
    // A few bytes of line noise that cannot start a frame (never "S" or "M").
    std::string NoiseBytes();

    // Counters for the status line.
    std::uint64_t Dropped = 0, Corrupted = 0, Noised = 0, Delayed = 0, Errored = 0;

private:
    double Uniform();
    TFaults faults_;
    std::uint64_t rng_;
};

// What a console line asks the server to do beyond changing state.
enum TConsoleAction { actNone, actHangUp, actQuit };

// Executes one console line against the fault switches and the device model
// and returns the text to print. Lines (case-insensitive, blanks free):
//   drop P | corrupt P | noise P         shares 0..1 of requests / answers
//   error 254|255|off                    answer every request with that code
//   late on|off [MS]                     answer after MS (default 1500) ms
//   silent on|off                        answer nothing
//   hangup                               close the line (the port is then reopened)
//   value X                              process value (°C, %, ohm or mV by mode)
//   drift A N                            drift amplitude and noise
//   sensor ok|open|short                 the sensor's state
//   sensor resistor OHM | voltage MV     a reference in place of the sensor (any value)
//   sensor leads OHM [MISMATCH%]         the sensor's leads (loop resistance, 3-wire mismatch)
//   adc on|off | fram on|off             hardware faults
//   ident 0|1                            PCB identity (0 KV7730, 1 KV5510)
//   calibration                          the input calibration in use, NAME=value ...
//   board                                the board's own values, as a calibration finds them
//   meter                                the output as a meter reads it, settled
//   meter noise N | resolution A V       the bench meter's noise (counts) and resolutions
//   meter current|voltage|both           where the bench meter's leads are
//   meter integration MS                 the bench meter's integration time
//   meter remote|terminal|errors|overload on|off   the behaviours of other meters
//   meter drift PPM                      its readings' drift a second
//   output tau MS | output bow UA        the output stage's filter and bow
//   clear                                all line faults off
//   status                               one line with everything
//   help                                 this list
//   quit                                 end the program
// The bench meter's words need the meter (nullptr: there is none).
std::string ConsoleExecute(std::string_view line, TFaultInjector& faults, TDeviceModel& model, TConsoleAction& action,
                           TBenchMeter* meter = nullptr);
std::string ConsoleStatus(const TFaultInjector& faults, const TDeviceModel& model);
// An input calibration record as "NAME=value" pairs in record order, the
// singles to their last digit.
std::string CalibrationText(const kv::InputCalibrationRecord& r);
extern const char* const kConsoleHelp;

} // namespace kvsim
