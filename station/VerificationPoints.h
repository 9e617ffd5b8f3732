#pragma once
// Verification points: the transmitter checked in its own settings, as a
// documenting calibrator checks it. At per cent points of the range the
// device's scaling spans (FizikaiForOutL at 0 %, FizikaiForOutH at 100 %),
// this says what the line's fixture must source (a resistance for the
// platinum sensors, the potentiometers and the resistance modes, a voltage
// for the thermocouples and the voltage mode), what the device's calculated
// value must then read, what its output must give, how the value follows
// the sourced quantity (so that the source's uncertainty can be carried
// into the value's unit), and the tolerances each is judged against.
//
// How the device computes, and therefore what is sourced:
// - Pt 100 / Pt 1000: the temperature from the measured resistance by
//   IEC 60751 (Physics.h); the fixture sources PtResistance(T).
// - Thermocouples: the device adds the EMF of the cold junction it reports
//   (the internal temperature with internal compensation, the external
//   sensor's with an external one, 0 °C with none) to the voltage at its
//   terminals. The fixture, connected with copper at the terminals, sources
//   EMF(T) - EMF(Tcj), so the device reads T whatever the terminals'
//   temperature; the cold-junction sensor itself is trusted, not verified.
//   Recompute the points with the cold junction of the latest poll just
//   before sourcing each: it warms with the device.
// - Potentiometers: the device scales the wiper's resistance between the
//   two positions stored for 0 % and 100 % (the poll answer's RofPot0 and
//   RofPot100); the fixture sources the resistance between them. Without
//   both positions stored the mode cannot be verified.
// - Resistance and voltage modes: the value itself.
// - With 2 wires the device subtracts the wire resistance it has stored
//   (the poll answer's WireResistance), and measures the fixture's own
//   leads with the value (options: FixtureLeads); the fixture sources the
//   value plus the stored resistance less its leads, as a sensor on the
//   stored leads would give. (A device whose wire store was zeroed on the
//   fixture's leads gets the value itself.) With 3 and 4 wires, and on a
//   potentiometer's three terminals, the leads drop out.
// A sourced value is rounded to the fixture's resolution (options), and the
// nominal value is computed back from the rounded value, so that the two
// always agree exactly.
//
// The output: in normal operation the device gives out (value - low) /
// (high - low) of its output range; a value beyond the scaling holds the
// output at the range's end (and the device reports an output range error).
// Judge the output against ExpectedOutput of the value the device itself
// reports at that moment: the output stage then carries its own error only,
// and the input's error is judged once, at the input.
//
// Default tolerances, when the bench's [Verification] gives none: the input
// ±0.1 % of the span, but not less than the input's own limit carried into
// the value's unit at the point (0.04 ohm on the 500 ohm ranges, about
// 0.1 °C of a Pt 100; 0.4 ohm on the 5 kohm ranges, about 0.1 °C of a
// Pt 1000; 10 µV on the millivolt path, about 0.25 °C of a type K); the
// output ±0.1 % of its span (16 µA of 4-20 mA, 10 mV of 0-10 V). These are
// the figures transmitters of this class (a 24-bit converter, a 16-bit PWM
// output) are commonly specified to: "±0.1 % of span or ±0.1 °C, whichever
// is greater" for the input and ±0.1 % of span for the output. A per cent
// in the bench replaces the 0.1 %; the input's floor stays, since no check
// can hold a narrow span tighter than the input path resolves.
//
// Pure: no clock, no I/O.
#include "Bench.h"
#include "DeviceRecords.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <vector>

namespace kv::station {

// What the fixture connects to the input.
enum class TSourceKind : std::uint8_t { Resistance, MilliVolt };

// The measuring path a point goes through: the constants of the input
// calibration that serve it (the reference resistance of each range and
// wiring, the voltage reference), or the potentiometer's own.
enum class TInputPath : std::uint8_t {
    Ohm500Wire2,
    Ohm500Wire3,
    Ohm500Wire4,
    Ohm5KWire2,
    Ohm5KWire3,
    Ohm5KWire4,
    Potentiometer500,
    Potentiometer5K,
    MilliVolt,
};
// "500 ohm range, 2 wires", "potentiometer 0-5 kohm", "millivolt".
QString PathName(TInputPath path);
// 2, 3 or 4 for the resistance paths, 3 for the potentiometers (three
// terminals), 0 for the millivolt path.
int PathWires(TInputPath path);
// The path of the device's own settings; none for an unknown mode or wiring.
std::optional<TInputPath> PathOf(const SettingsRecord& settings);
// The paths an input calibration sets constants for: the six resistance
// paths and the millivolt path (the potentiometers use the resistance
// constants, not constants of their own).
std::vector<TInputPath> InputCalibrationPaths();
// Settings that put one of those paths alone under test: the resistance
// mode of its range over its whole range with its wiring (0-500 or
// 0-5000 ohm), or the voltage mode over -100 to 100 mV; the output and the
// error signalling stay `own`'s. None for the potentiometer paths.
std::optional<SettingsRecord> SettingsForPath(TInputPath path, const SettingsRecord& own);
// The settings as a verification names what it checks and a verdict what
// the device was left in: "Pt 100, 4 wires", "type K thermocouple",
// "potentiometer 0-500 ohm", "resistance 0-5 kohm, 4 wires", "voltage".
QString SettingsName(const SettingsRecord& settings);
// The input's own limit on a path, in its source's unit (ohm or mV): the
// floor of the default input tolerance.
double InputFloor(TInputPath path);

inline constexpr double kDefaultInputPercentOfSpan = 0.1;
inline constexpr double kDefaultOutputPercentOfSpan = 0.1;

// The output type's range: 4-20 mA, 0-20 mA, 0-10 V, 2-10 V, 0-5 V.
struct TOutputRange {
    bool Current = true; // mA; otherwise V
    double Low = 0, High = 0;
    QString Unit;        // "mA", "V"
    double Span() const { return High - Low; }
};
// None for an output type beyond 0-4.
std::optional<TOutputRange> OutputRangeOf(std::uint8_t outputMode);
// "4-20 mA", "0-10 V"; "output type N" beyond 0-4.
QString OutputRangeName(std::uint8_t outputMode);

struct TExpectedOutput {
    double Value = 0;     // mA or V
    double Fraction = 0;  // of the output range, 0 to 1
    bool Clamped = false; // the value lies beyond the scaling: held at the range's end
};
// What the output gives in normal operation while the device's calculated
// value is `value`. None when the output type is unknown, or the scaling or
// the value is no finite number, or the scaling has no span.
std::optional<TExpectedOutput> ExpectedOutput(const SettingsRecord& settings, double value);

// An error as per cent of a span (of its magnitude: a falling range has a
// negative span); NaN for a span of 0.
double PercentOfSpan(double error, double span);

// What the device reports that the points depend on, from a poll answer.
struct TDeviceReport {
    std::optional<double> ColdJunction;   // °C it compensates with; none: it reports none
    std::optional<double> WireResistance; // ohm it subtracts on 2 wires; none: not a number
    bool PotCalibrated = false;           // both potentiometer positions stored
    double RofPot0 = 0, RofPot100 = 0;    // ohm
};
TDeviceReport ReportOf(const SettingsRecord& settings, const PollAnswer& answer);

struct TPlanOptions {
    std::vector<double> Percents{0, 25, 50, 75, 100};
    int ResistanceDecimals = 3; // the fixture's resolution: 1 mohm
    int MilliVoltDecimals = 3;  // 1 µV
    double FixtureLeads = 0;    // ohm of the loop between the fixture and the terminals
    double InputPercentOfSpan = kDefaultInputPercentOfSpan;
    double OutputPercentOfSpan = kDefaultOutputPercentOfSpan;
    // The bench's points and tolerances over the defaults.
    static TPlanOptions From(const TVerification& verification);
};

// The output at one point.
struct TPointOutput {
    TExpectedOutput Expected; // at the point's nominal value
    QString Unit;             // "mA", "V"
    double Span = 0;          // of the output range, in Unit
    double Sensitivity = 0;   // d output / d source, Unit per the source's unit; 0 when clamped
    double Tolerance = 0;     // ± in Unit
};

struct TVerificationPoint {
    double Percent = 0; // of the range, as asked
    TInputPath Path = TInputPath::MilliVolt;
    int Wires = 0;      // PathWires(Path)
    // Why this point cannot be verified (beyond the sensor's or the input's
    // range); the fields below are then meaningless. Empty: it can.
    QString NotVerifiable;
    // What the fixture sources.
    TSourceKind Kind = TSourceKind::MilliVolt;
    double Source = 0;  // ohm or mV, at the fixture's resolution
    QString SourceUnit; // "ohm", "mV"
    QStringList Words;  // the fixture's words: "resistor", "138.506"
    // What the device must report.
    double Physical = 0;    // its physical value: the ohm it measures less its stored wire resistance, or mV
    double Nominal = 0;     // its calculated value, in Unit
    QString Unit;           // "°C", "%", "ohm", "mV"
    double Span = 0;        // high - low of the scaling, in Unit
    double Sensitivity = 0; // d Nominal / d Source, Unit per SourceUnit, at the point
    double Tolerance = 0;   // ± in Unit
    std::optional<TPointOutput> Output; // none: the output type is unknown
};

struct TVerificationPlan {
    // Why the device cannot be verified in these settings at all (an unknown
    // mode, a scaling without span, no cold junction reported, potentiometer
    // positions not stored); Points is then empty.
    QString NotVerifiable;
    // Why its output cannot be (an unknown output type); no point then has
    // an Output.
    QString OutputNotVerifiable;
    std::vector<TVerificationPoint> Points;
};

TVerificationPlan PlanVerification(const SettingsRecord& settings, const TDeviceReport& report,
                                   const TPlanOptions& options = {});

// What the device must report for a value already sourced, with what it
// reports now: a thermocouple's nominal temperature follows the cold
// junction it compensates with at the moment it is read, so that a junction
// that warmed while the point settled is no error of the input. None when
// the source lies beyond the input's range.
std::optional<double> NominalOf(const SettingsRecord& settings, const TDeviceReport& report,
                                const TVerificationPoint& point, const TPlanOptions& options = {});

} // namespace kv::station
