#pragma once
// The calibration bench: what stands on the factory's bench beside the
// transmitter, as its bench file describes it (an INI file like the
// project's others, `kvctl calibrate ... --bench FILE`): the station, the
// bench meter with its line settings and accuracy, the reference standards
// and the source the line's fixture drives, with their traceability, the
// fixture, how readings settle and how verification points are judged.
//
// A reference or the meter past its due date, a field missing or unreadable,
// is refused before the device is touched (BenchProblems), so that no
// certificate is ever written against an instrument that may not be used.
//
// No widgets, no I/O beyond reading the file.
#include <QDate>
#include <QString>
#include <QStringList>

#include <cmath>
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

namespace kv::station {

// Who may vouch for an instrument: its serial number, the certificate of its
// last calibration and the date it is due again.
struct TTraceability {
    QString Serial;
    QString Certificate;
    QDate Due; // invalid: not given
};

// A maker's accuracy specification for one range of one function, as data
// sheets state it: ±(per cent of reading + per cent of range), and for a
// source a floor in the base unit. The uncertainty budget takes its limit as
// the half-width of a rectangular distribution.
struct TAccuracy {
    double Range = 0;            // the range's full scale, base unit (A, V, ohm, mV)
    double PercentOfReading = 0;
    double PercentOfRange = 0;
    double Floor = 0;            // base unit
    double Limit(double reading) const {
        return std::fabs(reading) * PercentOfReading / 100.0 + Range * PercentOfRange / 100.0 + Floor;
    }
};

// A function's ranges, smallest first. A reading is taken in the smallest
// range whose full scale holds it (an auto-ranging meter's choice); beyond
// the largest, none.
struct TFunctionAccuracy {
    std::vector<TAccuracy> Ranges;
    const TAccuracy* For(double reading) const {
        for (const TAccuracy& a : Ranges)
            if (std::fabs(reading) <= a.Range)
                return &a;
        return nullptr;
    }
    bool Empty() const { return Ranges.empty(); }
};

enum class TParity : std::uint8_t { None, Even, Odd };
enum class THandshake : std::uint8_t { None, DtrDsr, RtsCts };

// The meter's serial line as its manual wires it.
struct TMeterLine {
    QString Port;
    std::uint32_t Baud = 9600;
    int DataBits = 8;            // 7 or 8
    TParity Parity = TParity::None;
    int StopBits = 1;            // 1 or 2
    THandshake Handshake = THandshake::None;
    QString Terminator = QStringLiteral("\n"); // "\n" (lf) or "\r\n" (crlf)
};

struct TBenchMeter {
    TMeterLine Line;
    QString Remote;   // sent after opening ("SYST:REM"); empty: nothing
    QString Local;    // sent at the end ("SYST:LOC"); empty: nothing
    QString Identity; // a regular expression the *IDN? answer must match; empty: any
    TTraceability Trace;
    TFunctionAccuracy Current; // DC current, A
    TFunctionAccuracy Voltage; // DC voltage, V
};

// A reference standard with its certified value.
struct TBenchReference {
    QString Name;             // "R500", "R5K", "UREF", ...
    double Value = 0;         // the certified value, in Unit
    double Uncertainty = 0;   // expanded (k = 2), in Unit
    QString Unit;             // "ohm", "mV"
    TTraceability Trace;
};

// The source the fixture drives at any value for verification points (a
// resistance decade or a calibrator): its accuracy per function.
struct TBenchSource {
    QString Name;
    TTraceability Trace;
    TFunctionAccuracy Resistance; // ohm
    TFunctionAccuracy Voltage;    // mV
};

struct TStation {
    QString Lab, Address, Station, Procedure;
};

// When a reading counts (Settling.h): Readings consecutive readings,
// spanning at least MinSpanMs, agree within Band (relative, of the reading)
// or the quantity's floor (absolute, base unit), whichever is larger, within
// TimeoutMs. The defaults hold for output stages with time constants from 2
// to 100 ms and meters that integrate for up to 0.5 s.
struct TSettling {
    double Band = 20e-6;
    double CurrentFloor = 0.5e-6; // A
    double VoltageFloor = 0.2e-3; // V
    int Readings = 3;
    int MinSpanMs = 200;
    int TimeoutMs = 30000;
};

enum class TDecisionRule : std::uint8_t {
    Guarded, // pass: |error| + U <= tolerance; fail: |error| > tolerance; conditional between
    Simple,  // pass: |error| <= tolerance
};

// How verification points are chosen and judged.
struct TVerification {
    std::vector<double> Points{0, 25, 50, 75, 100}; // per cent of the range
    TDecisionRule Rule = TDecisionRule::Guarded;
    // Tolerances, each as "% of span" or in the unit; unset: the defaults.
    std::optional<double> InputPercentOfSpan;
    std::optional<double> OutputPercentOfSpan;
};

struct TBench {
    QString Path; // the file it was read from; empty: from options alone
    TStation Station;
    std::optional<TBenchMeter> Meter;
    std::map<QString, TBenchReference> References; // by name
    std::optional<TBenchSource> Source;
    QString FixtureCommand;
    int FixtureTimeoutS = 60;
    TSettling Settling;
    TVerification Verification;
};

} // namespace kv::station
