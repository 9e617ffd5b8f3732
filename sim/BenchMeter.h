#pragma once
// TBenchMeter: the bench multimeter of the factory's calibration bench, on the
// simulated transmitter's output: a 6 1/2-digit meter that speaks SCPI over a
// serial line. Plain C++ without I/O or clock: bytes in, command lines out,
// each line executed into an answer; the session (MeterSession.h) times the
// readings and takes them from the device model's output.
//
// The meter's choices, as a bench meter of its class has them:
// - Lines end in "\n"; a "\r" before it is dropped. A line longer than
//   kMaxLine characters is thrown away whole, with error -363.
// - Headers are case-insensitive, in short or long form (MEAS or MEASURE,
//   CURR or CURRENT), with or without a leading colon; optional nodes may be
//   left out (MEAS:CURR? is MEAS:CURR:DC?). Several commands in one line are
//   separated by ";" (each from the root), their answers joined by ";" in one
//   answer line. A command in error ends the line: the rest is not executed.
// - Commands: *IDN?, *RST, *CLS, *OPC?, SYSTem:ERRor[:NEXT]?,
//   SYSTem:REMote, SYSTem:LOCal, MEASure:CURRent[:DC]? and
//   MEASure:VOLTage[:DC]?. The two measurements take up to two parameters
//   (range, resolution: AUTO, DEF, MIN, MAX or a number), which are checked
//   and otherwise ignored: the meter ranges itself and always resolves to
//   its set resolution.
// - Errors wait in a queue of kErrorQueue entries; SYSTem:ERRor? takes the
//   oldest ('+0,"No error"' when empty). One more error on a full queue
//   turns its last entry into -350 "Queue overflow". *CLS empties it; *RST
//   does not (it restores the power-on state, of which this meter has
//   nothing else to restore).
// - A reading is the mean of the output over the integration time
//   (IntegrationMs, 20 ms by default: one power-line cycle at 50 Hz) from
//   the query on; the answer comes at its end. Gaussian noise of NoiseCounts
//   counts (its standard deviation, whatever the integration) is added, and
//   the reading is rounded to the resolution and written with as many digits
//   as the resolution gives ("+4.012345E-03"). The noise comes from a seeded
//   generator: the same seed gives the same readings in the same order.
// - Its leads are on both outputs (as with one meter for each), or on the
//   current loop or the voltage output alone, as a fixture connects them for
//   a step; a quantity it is not connected to reads 0 (and its noise).
//
// The behaviours of other meters on a bench, switched on by kvsim's options
// and console words, each as their manuals describe them:
// - Remote required (RequireRemote): a meter that must be put in remote
//   mode over its serial line hears nothing there but SYSTem:REMote while it
//   is local: every other command is ignored without an answer, an echo or
//   an error, as a wrongly set-up bench sees it. SYSTem:LOCal puts it back.
//   Remote survives the line being closed and opened again (it is the
//   meter's state, not the line's); switching the requirement on makes the
//   meter local.
// - Terminal mode (SetTerminal): the meter echoes each line it takes up,
//   with the end it came with ("\r\n" or "\n"), then gives its answer
//   (after the integration, for a reading), then a prompt on a line of its
//   own: "=>" when the line went well, "?>" after a command error (-100 to
//   -199: the meter did not understand), "!>" after any other (it
//   understood and could not execute, or its own fault). Every line, a blank
//   one too, ends in a prompt; a line thrown away as too long has none.
// - Errors on readings (SetErrorsOnReadings): every reading also queues
//   -221 "Settings conflict"; the reading itself is given.
// - Drift (SetDrift): readings run off by PPM parts per million of the
//   reading per second, from the moment it was set, linearly.
// - Overload (SetOverload): every reading is +9.90000000E+37, as with its
//   leads on nothing or on the wrong terminals; no error is queued.
#include "OutputStage.h"
#include "Random.h"

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

namespace kvsim {

// What a query asks the meter to measure.
enum TMeterQuantity : std::uint8_t { quantityCurrent, quantityVoltage };
// Where its leads are.
enum TMeterWiring : std::uint8_t { wiredBoth, wiredCurrent, wiredVoltage };

// One executed line: the answer's parts in order, each a text or a reading
// still to take. No parts: nothing to send. Ignored: the meter heard nothing
// of it (local while remote is required), not even to echo it.
struct TScpiReply {
    struct TPart {
        std::string Text;
        bool Reading = false;
        TMeterQuantity Quantity = quantityCurrent;
    };
    std::vector<TPart> Parts;
    bool Ignored = false;
    bool Measures() const;
};

// What a reading is taken from: the output's mean over the integration, and
// the moment (the device model's milliseconds) the integration ended.
struct TMeterSample {
    TMeterReading Output;
    std::uint64_t AtMs = 0;
};

class TBenchMeter {
public:
    static constexpr std::size_t kMaxLine = 256;
    static constexpr std::size_t kErrorQueue = 10;
    static constexpr std::uint32_t kDefaultIntegrationMs = 20;
    // The output stage remembers no further back.
    static constexpr std::uint32_t kMaxIntegrationMs = TOutputStage::kHistoryMs;
    static constexpr double kMaxDriftPPM = 1e6;
    // A 6 1/2-digit meter's count on its 10 mA and 10 V ranges, roughly.
    static constexpr double kDefaultCurrentResolution = 1e-9; // A
    static constexpr double kDefaultVoltageResolution = 1e-6; // V
    static constexpr double kDefaultNoiseCounts = 2.0;

    explicit TBenchMeter(std::uint64_t seed = 1, std::string serial = "SIM0001");

    // The settings of the simulated instrument (kvsim's options and console).
    // Resolutions are positive and finite, noise 0 or more; false otherwise.
    bool SetResolution(double ampere, double volt);
    bool SetNoise(double counts);
    double CurrentResolution() const { return currentResolution_; }
    double VoltageResolution() const { return voltageResolution_; }
    double NoiseCounts() const { return noiseCounts_; }
    void SetWiring(TMeterWiring w) { wiring_ = w; }
    TMeterWiring Wiring() const { return wiring_; }
    // 1 to kMaxIntegrationMs; false otherwise. A reading under way keeps the
    // time it started with.
    bool SetIntegration(std::uint32_t ms);
    std::uint32_t IntegrationMs() const { return integrationMs_; }
    void RequireRemote(bool on);
    bool RemoteRequired() const { return remoteRequired_; }
    bool Remote() const { return remote_; }
    void SetTerminal(bool on) { terminal_ = on; }
    bool Terminal() const { return terminal_; }
    void SetErrorsOnReadings(bool on) { errorsOnReadings_ = on; }
    bool ErrorsOnReadings() const { return errorsOnReadings_; }
    // PPM a second (finite, at most kMaxDriftPPM either way; false
    // otherwise), counted from `sinceMs` (the model's milliseconds).
    bool SetDrift(double ppmPerSecond, std::uint64_t sinceMs);
    double DriftPPM() const { return driftPPM_; }
    void SetOverload(bool on) { overload_ = on; }
    bool Overload() const { return overload_; }

    // Bytes from the line; NextLine then hands out each complete line, and
    // the end it came with ("\n" or "\r\n") when asked.
    void Receive(std::string_view bytes);
    bool NextLine(std::string& line, std::string* ending = nullptr);

    // Executes one line (without its end). Errors go to the queue.
    TScpiReply Execute(std::string_view line);
    // The answer line of an executed line with its readings taken from
    // `sample` (noise drawn in order); empty when there is nothing to send.
    std::string Answer(const TScpiReply& reply, const TMeterSample& sample);
    // The prompt after the last executed line and its answer in terminal
    // mode ("=>\n", "?>\n" or "!>\n"); empty otherwise.
    std::string Prompt() const;

    // A reading of `value` rounded to `resolution`, in the meter's notation.
    static std::string FormatReading(double value, double resolution);
    std::string Identity() const;
    std::size_t PendingErrors() const { return errors_.size(); }

private:
    void Error(int code, const char* text);
    bool Local() const { return remoteRequired_ && !remote_; }

    TRandom rng_;
    std::string serial_;
    double currentResolution_ = kDefaultCurrentResolution;
    double voltageResolution_ = kDefaultVoltageResolution;
    double noiseCounts_ = kDefaultNoiseCounts;
    TMeterWiring wiring_ = wiredBoth;
    std::uint32_t integrationMs_ = kDefaultIntegrationMs;
    bool remoteRequired_ = false;
    bool remote_ = false;
    bool terminal_ = false;
    bool errorsOnReadings_ = false;
    double driftPPM_ = 0.0;
    std::uint64_t driftSince_ = 0;
    bool overload_ = false;
    std::string pending_;
    bool overrun_ = false; // throwing away the rest of a line too long
    struct TLine {
        std::string Text;
        bool CarriageReturn;
    };
    std::deque<TLine> lines_;
    std::deque<std::string> errors_;
    // The worst error of the line last executed: 0 none, 1 a command error,
    // 2 any other.
    int lineError_ = 0;
};

} // namespace kvsim
