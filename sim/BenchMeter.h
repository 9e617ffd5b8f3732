#pragma once
// TBenchMeter: the bench multimeter of the factory's calibration bench, on the
// simulated transmitter's output: a 6 1/2-digit meter that speaks SCPI over a
// serial line. Plain C++ without I/O or clock: bytes in, command lines out,
// each line executed into an answer; the server (MeterServer.h) times the
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
//   MEASure:CURRent[:DC]? and MEASure:VOLTage[:DC]?. The two measurements take
//   up to two parameters (range, resolution: AUTO, DEF, MIN, MAX or a number),
//   which are checked and otherwise ignored: the meter ranges itself and
//   always resolves to its set resolution.
// - Errors wait in a queue of kErrorQueue entries; SYSTem:ERRor? takes the
//   oldest ('+0,"No error"' when empty). One more error on a full queue
//   turns its last entry into -350 "Queue overflow". *CLS empties it; *RST
//   does not (it restores the power-on state, of which this meter has
//   nothing else to restore).
// - A reading is the output plus gaussian noise of NoiseCounts counts (its
//   standard deviation), rounded to the resolution, written with as many
//   digits as the resolution gives ("+4.012345E-03"). The noise comes from a
//   seeded generator: the same seed gives the same readings in the same order.
// - A reading takes kApertureMs (one power-line cycle at 50 Hz) from the
//   query, and is the output at the end of that time: the answer comes then.
// - Its leads are on both outputs (as with one meter for each), or on the
//   current loop or the voltage output alone, as a fixture connects them for
//   a step; a quantity it is not connected to reads 0 (and its noise).
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
// still to take. No parts: nothing to send.
struct TScpiReply {
    struct TPart {
        std::string Text;
        bool Reading = false;
        TMeterQuantity Quantity = quantityCurrent;
    };
    std::vector<TPart> Parts;
    bool Measures() const;
};

class TBenchMeter {
public:
    static constexpr std::size_t kMaxLine = 256;
    static constexpr std::size_t kErrorQueue = 10;
    static constexpr std::uint32_t kApertureMs = 20;
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

    // Bytes from the line; NextLine then hands out each complete line.
    void Receive(std::string_view bytes);
    bool NextLine(std::string& line);

    // Executes one line (without its end). Errors go to the queue.
    TScpiReply Execute(std::string_view line);
    // The answer line of an executed line with its readings taken from
    // `output` now (noise drawn in order); empty when there is nothing to send.
    std::string Answer(const TScpiReply& reply, const TMeterReading& output);

    // A reading of `value` rounded to `resolution`, in the meter's notation.
    static std::string FormatReading(double value, double resolution);
    std::string Identity() const;
    std::size_t PendingErrors() const { return errors_.size(); }

private:
    void Error(int code, const char* text);

    TRandom rng_;
    std::string serial_;
    double currentResolution_ = kDefaultCurrentResolution;
    double voltageResolution_ = kDefaultVoltageResolution;
    double noiseCounts_ = kDefaultNoiseCounts;
    TMeterWiring wiring_ = wiredBoth;
    std::string pending_;
    bool overrun_ = false; // throwing away the rest of a line too long
    std::deque<std::string> lines_;
    std::deque<std::string> errors_;
};

} // namespace kvsim
