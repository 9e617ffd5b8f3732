#pragma once
// The verdict of a calibration or verification run, and one sentence that
// says what the device now holds: adjusted or not, its own settings given
// back or not, forcing ended or not.
//
// - PASSED: the run ended on its own with the device as it should be, and
//   every judged point passed (a calibration's as-left points after an
//   acknowledged write, a verification's points), nothing left unverified.
// - FAILED: nothing was written; the device is as it was (a calibration
//   that refused to write, a verification with a point that did not pass
//   or something it could not verify).
// - ADJUSTED – FAILED VERIFICATION: the record was written and
//   acknowledged, so the device holds the new calibration, but an as-left
//   point failed or was conditional, or something was not verified.
// - NOT COMPLETED: the run stopped (interrupted, the device lost), or the
//   write went unacknowledged, or the device's own settings or its
//   unforced state could not be put back: the reason says whether anything
//   was written and whether the settings were given back and forcing ended,
//   as far as is known.
// A calibration without a source for its input or without a meter for its
// output cannot pass: what it could not verify goes in NotVerified, and the
// reason names it.
//
// Pure: no clock, no I/O.
#include "Uncertainty.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

namespace kv::station {

// What became of the record a calibration sends.
enum class TWrite : std::uint8_t {
    NotSent,        // the device's calibration is as it was
    Unacknowledged, // sent, but no acknowledgement: the device may hold either
    Acknowledged,
};

// What is known of something the run had to put back.
enum class TPutBack : std::uint8_t {
    Yes, // put back, or never changed
    No,
    Unknown, // the device stopped answering before it could be seen
};

enum class TVerdictKind : std::uint8_t { Passed, Failed, AdjustedFailedVerification, NotCompleted };
// "PASSED", "FAILED", "ADJUSTED – FAILED VERIFICATION", "NOT COMPLETED".
QString VerdictTitle(TVerdictKind k);
// The JSON's codes: "passed", "failed", "adjusted-failed-verification",
// "not-completed".
QString VerdictCode(TVerdictKind k);

// What a run knows at its end.
struct TRunOutcome {
    bool Adjusts = true; // a calibration, which writes; false: a verification, which never does
    TWrite Write = TWrite::NotSent;
    // Why the run stopped before its end ("interrupted", "the device stopped
    // answering"); empty: it ran to its end.
    QString Stopped;
    // Why a calibration that ran to its end wrote nothing ("R500 as found is
    // 0.5 ohm off"); empty otherwise.
    QString NotWrittenBecause;
    TPutBack SettingsGivenBack = TPutBack::Yes;
    TPutBack ForcingEnded = TPutBack::Yes;
    // The settings the run last wrote, when they were not (or may not have
    // been) given back: "resistance 0-5 kohm, 4 wires".
    QString LeftIn;
    // The points' outcomes in order: before any write (a verification's
    // only ones), and after the acknowledged write.
    std::vector<TOutcome> AsFound, AsLeft;
    // What could not be verified, each with why: "the output (no meter on
    // the bench)".
    QStringList NotVerified;
};

struct TVerdict {
    TVerdictKind Kind = TVerdictKind::NotCompleted;
    QString Reason; // one sentence
};
TVerdict VerdictOf(const TRunOutcome& run);

} // namespace kv::station
