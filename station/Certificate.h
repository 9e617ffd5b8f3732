#pragma once
// The calibration certificate: what one calibration or verification run
// found and did to one transmitter, as a PDF for the auditor's folder (A4,
// laid out as calibration labs lay out their certificates) and the same
// facts as JSON for the line's database (schema "kvctl.calibration/2"). No
// widgets: kvctl writes it after an unattended run, the window may write it
// after a write from its wizard.
//
// The verdict is computed here from the facts (Verdict.h's VerdictOf), not
// by the caller: PASSED only when every judged point passed and nothing was
// left unverified (a calibration's as-left points after the acknowledged
// write, a verification's points); FAILED when nothing was written;
// ADJUSTED - FAILED VERIFICATION when the device took the new record but
// its as-left points do not support a pass; NOT COMPLETED when the run
// stopped or could not put the device back. The reason says what the
// device now holds. Every page of the PDF carries the verdict and the
// certificate's number.
//
// Numbers and times never follow the locale: "." as the decimal separator,
// ISO 8601 times with their offset. Both files are written whole or not at
// all (a temporary file beside the target, renamed when complete).
#include "DeviceRecords.h"
#include "Language.h"
#include "Verdict.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

class QCoreApplication;

namespace kv::cert {

inline constexpr const char* kSchema = "kvctl.calibration/2";

// Input: the input trim; Output: the output trim; Verification: the
// device checked in its own settings, nothing written; All: as found, the
// input trim, the output trim and as left under one certificate.
enum class TKind : std::uint8_t { Input, Output, Verification, All };

// A calibration date as the poll answer reports it.
struct TCalibrationDate {
    bool Known = false; // false: not read (the run ended before that poll)
    QString Date;       // "2016-10-11"; empty: the device was never calibrated
};
TCalibrationDate CalibrationDateOf(const PollAnswer& a);

struct TDevice {
    QString Type;     // "KV7730", "KV5510", "???"
    int PCBIdentityAddress = -1;
    QString Firmware; // "v2016-10-11"
    TCalibrationDate Before, After;
};
// Type, identity and firmware from a poll answer of the run; the dates are
// the caller's (the answers before and after the write).
TDevice DeviceOf(const PollAnswer& a);

// An instrument the run measured against: the reference standards (the
// resistors and the voltage reference of the input trim), the meter (Name
// "meter": its *IDN? answer and port in Identity) and the source the
// fixture drives for verification points (Name "source": the bench's name
// for it in Identity). The certificate lists the meter and the source apart
// from the references.
struct TReference {
    QString Name;     // "R500", "R5K", "UREF", "meter"
    double Value = 0; // in Unit; unused for a meter
    QString Unit;     // "ohm", "mV"
    QString Identity; // the meter's *IDN? answer, the port it answered on
    // Its traceability, from the bench file (none from options alone).
    double Uncertainty = 0; // expanded, k = 2, in Unit; 0: not given
    QString Serial{}, Certificate{};
    QDate Due{};
};
// "± 0.002 ohm (k = 2), serial R1, certificate C-18, due 2027-01-01": what
// is given of it; empty for none.
QString TraceabilityText(const TReference& r);

// One figure checked before (as found) and after (as left) the write.
struct TCheck {
    QString Name;          // "R500", "4 mA", "6 V"
    QString Unit;          // "ohm", "mA", "V"
    double Target = 0;     // the reference's value or the nominal output
    double Tolerance = 0;  // ± in Unit
    std::optional<double> AsFound, AsLeft; // none: not measured
};
// Within tolerance: measured, a number, and |measured - target| <= tolerance.
bool WithinTolerance(const TCheck& c, const std::optional<double>& measured);

// A value the record carried, as the device stores it.
struct TWrittenValue {
    QString Name;   // "OFFSET_CH0", "RREF_500_3W", "PWMForIL"
    double Value;   // a single's value exactly as written, or an integer
    bool Integer;
};
std::vector<TWrittenValue> WrittenValues(const InputCalibrationRecord& r);
std::vector<TWrittenValue> WrittenValues(const OutputCalibrationRecord& r);

// What became of the record (Verdict.h).
using TWrite = kv::station::TWrite;

// One reading of a verification point, as found (before anything is
// adjusted) or as left (after the acknowledged write, in normal operation).
// A verification (TKind::Verification), which adjusts nothing, keeps its
// readings in AsFound. A point of the phase that counts (as left after an
// acknowledged write, a verification's as found) without a Result was not
// judged: the verdict counts it as not verified.
struct TPointReading {
    std::optional<double> Value;  // the mean of Readings, in the point's unit; none: not measured
    std::vector<double> Readings; // the readings taken (their scatter is the repeatability)
    std::optional<kv::station::TBudget> Budget;   // its uncertainty, in the point's unit
    std::optional<kv::station::TOutcome> Result; // judged under the run's rule
    QString NotMeasured; // why there is no value ("the device stopped answering")
    // What it had to read at that moment, when that is not the point's
    // Nominal: the output is judged against ExpectedOutput of the value the
    // device itself reported while it was read (VerificationPoints.h), so
    // that it carries its own error only. None: Nominal.
    std::optional<double> Expected;
    // Value less what it had to read (Expected, else Nominal), as judged;
    // none without a value.
    std::optional<double> Error;
};

// A verification point: what was sourced, what the device (its calculated
// value) or its output (mA or V at the terminals) had to read, and what
// they read before and after the adjustment.
struct TPoint {
    QString Quantity;     // "input" or "output"
    QString Path;         // "Pt 100, 4 wires", "500 ohm range, 3 wires", "millivolt", "4-20 mA"
    double Percent = 0;   // of the range
    QString Source;       // the fixture's words: "resistor 138.506"
    double Nominal = 0;   // what it must read, in Unit
    QString Unit;         // "°C", "%", "ohm", "mV", "mA", "V"
    double Span = 0;      // of the range, in Unit: the error in per cent of span
    double Tolerance = 0; // ± in Unit
    TPointReading AsFound, AsLeft;
};

struct TFacts {
    TKind Kind = TKind::Input;
    TDevice Device;
    QString Port;
    QDateTime Started, Finished;
    QString Operator;
    QString ToolVersion; // kvctl's (or the window's) version
    std::vector<TReference> References;
    std::vector<TCheck> Checks;
    int Command = 0;                   // 2 (input) or 3 (output)
    std::vector<std::uint8_t> Record;  // the record's bytes, as sent
    std::vector<TWrittenValue> Written;
    TWrite Write = TWrite::NotSent;
    // A run of Kind All sends two records: Command, Record and Write above
    // are the input's (command 2), these the output's (command 3). Written
    // holds the values of both.
    std::vector<std::uint8_t> OutputRecord;
    TWrite OutputWrite = TWrite::NotSent;
    // Why the run ended before its end ("interrupted", "the device did not
    // answer"); empty when it ran to its end.
    QString Failure;
    // Why a calibration that ran to its end wrote nothing (its adjustment
    // refused: a step's arithmetic, a check of its own out of tolerance, the
    // output drifting); empty otherwise. Failure stays empty then.
    QString NotWrittenBecause;
    QStringList Log; // the wizard's log lines, in order

    // Identity and traceability (kvctl.calibration/2).
    QString CertificateNumber; // unique: the station, the date and a sequence, claimed exclusively
    QString Serial;            // the device's serial number or tag (--serial)
    QString Ambient;           // the conditions as typed (--ambient "23.1C,45%RH")
    kv::station::TStation Station;
    // The device's internal temperature (°C) at the start and at the end, its
    // working time (minutes) at the start: what it reports of itself.
    std::optional<double> InternalTemperatureStart, InternalTemperatureEnd;
    std::optional<std::uint32_t> WorkingTimeMinutes;
    // The verification: the rule its points were judged by, the points,
    // and what could not be verified, each with why.
    kv::station::TDecisionRule Rule = kv::station::TDecisionRule::Guarded;
    std::vector<TPoint> Points;
    QStringList NotVerified;
    // What the run had to put back (Verdict.h): the device's own settings and
    // the unforced state; LeftIn names the settings it may have been left in.
    kv::station::TPutBack SettingsGivenBack = kv::station::TPutBack::Yes;
    kv::station::TPutBack ForcingEnded = kv::station::TPutBack::Yes;
    QString LeftIn;
};

// The verdict (Verdict.h) of the facts: its kind and the one sentence that
// says what the device now holds. The points of the phase that counts
// without a result, and the adjustment's own as-left checks out of their
// tolerance after an acknowledged write, count against a pass.
struct TVerdict {
    kv::station::TVerdictKind Kind = kv::station::TVerdictKind::NotCompleted;
    bool Passed = false; // Kind is Passed
    QString Reason;
    QString Title() const { return kv::station::VerdictTitle(Kind); } // "PASSED", ...
    QString Code() const { return kv::station::VerdictCode(Kind); }   // "passed", ...
};
// The verdict of the facts (RunOutcome.h: VerdictOfFacts).
TVerdict Verdict(const TFacts& f);

// The ambient conditions as typed ("23.1C,45%RH", "23,1 °C; 45 %rH"): the
// temperature (°C) and the relative humidity (%) where the text holds them.
struct TAmbient {
    std::optional<double> Temperature, Humidity;
};
TAmbient AmbientOf(const QString& text);

// The facts as one JSON object of the schema kSchema.
QJsonObject ToJson(const TFacts& f);
// The JSON file's bytes, exactly as WriteCertificate writes them.
QByteArray JsonBytes(const TFacts& f);

// The JSON file beside a PDF: FILE.pdf gives FILE.json, another name gets
// ".json" appended.
QString JsonPathFor(const QString& pdfPath);

// Writes the PDF and the JSON beside it. Each is complete on disk or absent
// (an earlier file of the same name stays until the new one is complete).
// The PDF prints the SHA-256 of the JSON file's bytes. On failure `error`
// says which file and why. The PDF is written for a reader of `language`
// (its headings and the wizard's log lines in it translated); the JSON
// keeps the facts as they are, in every language.
bool WriteCertificate(const TFacts& f, const QString& pdfPath, QString* error,
                      lang::TLanguage language = lang::TLanguage::English);
// The PDF alone; `jsonName` and `jsonSha256` (hexadecimal) are printed as
// the JSON file's name and digest, "" prints none.
bool WritePdf(const TFacts& f, const QString& path, QString* error, lang::TLanguage language = lang::TLanguage::English,
              const QString& jsonName = {}, const QString& jsonSha256 = {});
// Whether the PDF's fonts are there to be embedded (else why not): asked
// before a run touches the device, so that its certificate can be written.
bool PdfFontsReady(QString* error);
bool WriteJson(const TFacts& f, const QString& path, QString* error);

} // namespace kv::cert
