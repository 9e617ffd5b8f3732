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
#include "MBPort.h"

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

// A maker's stated accuracy for one range of one function, as data
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

// The port layer's, so that a bench's line goes to the port as it is.
using TParity = TMBParity;
using THandshake = TMBHandshake;

// The meter's serial line as its manual wires it.
struct TMeterLine {
    QString Port;
    std::uint32_t Baud = 9600;
    int DataBits = 8;            // 7 or 8
    TParity Parity = TParity::None;
    int StopBits = 1;            // 1 or 2
    THandshake Handshake = THandshake::None;
    QString Terminator = QStringLiteral("\n"); // "\n" (lf) or "\r\n" (crlf)
    // The modem lines the PC holds: a meter port raises both (a meter may
    // take its power for the interface from them, or send only while its
    // DSR, our DTR, is true), unless the bench says otherwise.
    bool Dtr = true, Rts = true;
    TMBLineSettings Settings() const { return {DataBits, Parity, StopBits, Handshake, Dtr, Rts}; }
};

struct TBenchMeter {
    TMeterLine Line;
    QString Remote;   // sent after opening ("SYST:REM"); empty: nothing
    QString Local;    // sent at the end ("SYST:LOC"); empty: nothing
    QString Identity; // a regular expression the *IDN? answer must match; empty: any
    // A terminal mode: the meter echoes every command line, and may show a
    // prompt ("=>") before or after its answers. Without Echo an echo is a
    // fault named as such.
    bool Echo = false;
    QString Prompt;
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
    // The loop resistance of the fixture's own leads to the input terminals
    // (ohm): a 2-wire measurement includes it, so the sourced value is less
    // by it ([Fixture] Leads).
    double FixtureLeadsOhm = 0;
    TSettling Settling;
    TVerification Verification;
};

// ---- Reading the file

// Reads a bench file: every problem found (a line that is not INI, a
// section or key unknown or given twice, a value that does not read), each
// with its line; empty when the file reads. `bench` holds what could be
// read, Path set. What a run needs of it is BenchProblems'.
QStringList ReadBench(const QString& path, TBench& bench);
// The same on a text (tests, and a file already read).
QStringList ParseBench(const QString& text, TBench& bench);

// Options given on the command line, which win over the file.
struct TBenchOverrides {
    std::optional<QString> MeterPort;          // --meter
    std::optional<std::uint32_t> MeterBaud;    // --meter-baud
    QString References;                        // --references R500=OHM,R5K=OHM,UREF=MV
    std::optional<QString> FixtureCommand;     // --fixture
    std::optional<int> FixtureTimeoutS;        // --fixture-timeout
    QString Points;                            // --points 0,25,50,75,100
};
// Applies them; the problems of a --references that does not read.
QStringList ApplyOverrides(TBench& bench, const TBenchOverrides& overrides);

// "R500=500.012,R5K=4999.87,UREF=125.000": each name at most once (one of
// `names` when given), numbers with a full stop, above 0. Empty on success,
// else the reason ("\"X\" is not " + form); `values` then holds the names
// given, upper case.
QString ParseReferenceValues(const QString& text, std::map<QString, double>& values, const QStringList& names = {},
                             const QString& form = QStringLiteral("NAME=VALUE"));

// "0, 25, 50, 75, 100" ("%" after a number allowed): verification points
// in per cent of the range, from 0 to 100, rising. Empty on success, else
// the reason.
QString ParsePoints(const QString& text, std::vector<double>& points);

// What a run takes from the bench.
struct TBenchNeeds {
    bool Meter = false;          // its port
    bool MeterCurrent = false;   // its DC current accuracy (from a file)
    bool MeterVoltage = false;   // its DC voltage accuracy (from a file)
    QStringList References;      // "R500", "R5K", "UREF", ...: their values
    bool Source = false;
    bool Fixture = false;        // a command
    // Used when the bench has them (a verification's meter on the output,
    // the source whose accuracy its points carry): then judged as above.
    bool MeterIfAny = false;
    bool SourceIfAny = false;
};
// Why the run may not start with this bench on `today`, each reason a
// sentence: a reference, the meter or the source past its due date, a field
// the run needs missing. A bench read from a file must name each instrument
// the run uses with its serial, certificate and due date, and each
// reference's uncertainty; options alone (no file) give values only, and
// the certificate then names none. Empty: the run may start.
QStringList BenchProblems(const TBench& bench, const QDate& today, const TBenchNeeds& needs);

// The bench a run uses: the file at `path` (none when empty) with the
// options over it, judged by BenchProblems. The problems, each a sentence
// (the file's with its name and line), or none: the run may start.
QStringList LoadBench(const QString& path, const TBenchOverrides& overrides, const QDate& today,
                      const TBenchNeeds& needs, TBench& bench);

// The unit a named reference's value is in: "ohm" for R500 and R5K, "mV"
// for UREF; others take the base unit of the value as written.
QString ReferenceUnit(const QString& name);

} // namespace kv::station
