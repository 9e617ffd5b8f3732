// The verdicts: what a run knows at its end, and the sentence that says what
// the device now holds.
#include "Verdict.h"

#include <gtest/gtest.h>

using namespace kv::station;

namespace {

constexpr TOutcome P = TOutcome::Pass, C = TOutcome::Conditional, F = TOutcome::Fail;

TRunOutcome Calibration(TWrite write, std::vector<TOutcome> asLeft = {P, P, P, P, P}) {
    TRunOutcome r;
    r.Adjusts = true;
    r.Write = write;
    r.AsFound = {P, F, P, P, P};
    r.AsLeft = std::move(asLeft);
    return r;
}

TRunOutcome Verification(std::vector<TOutcome> points) {
    TRunOutcome r;
    r.Adjusts = false;
    r.AsFound = std::move(points);
    return r;
}

template <class F>
TRunOutcome With(TRunOutcome r, F change) {
    change(r);
    return r;
}

} // namespace

TEST(Verdict, WhatTheDeviceNowHolds) {
    const QString noMeter = QStringLiteral("the output (no meter on the bench)");
    struct Row {
        const char* what;
        TRunOutcome run;
        TVerdictKind kind;
        const char* reason; // the whole sentence
    };
    const Row table[] = {
        {"calibrated, every as-left point passed", Calibration(TWrite::Acknowledged), TVerdictKind::Passed,
         "The device holds the new calibration, written and acknowledged, and all 5 as-left points passed."},
        {"an as-left point out of tolerance", Calibration(TWrite::Acknowledged, {P, P, F, P, P}),
         TVerdictKind::AdjustedFailedVerification,
         "The device holds the new calibration, written and acknowledged, but 1 of 5 as-left points failed."},
        {"an as-left point conditional", Calibration(TWrite::Acknowledged, {P, C, P}),
         TVerdictKind::AdjustedFailedVerification,
         "The device holds the new calibration, written and acknowledged, but 1 of 3 as-left points was conditional "
         "(a pass its uncertainty cannot support)."},
        {"failed and conditional", Calibration(TWrite::Acknowledged, {F, C, C, P}),
         TVerdictKind::AdjustedFailedVerification,
         "The device holds the new calibration, written and acknowledged, but 1 of 4 as-left points failed and 2 "
         "were conditional."},
        {"no meter for the output", With(Calibration(TWrite::Acknowledged), [&](TRunOutcome& r) { r.NotVerified = {noMeter}; }),
         TVerdictKind::AdjustedFailedVerification,
         "The device holds the new calibration, written and acknowledged, but not all of it was verified; not "
         "verified: the output (no meter on the bench)."},
        {"nothing verified after the write", Calibration(TWrite::Acknowledged, {}),
         TVerdictKind::AdjustedFailedVerification,
         "The device holds the new calibration, written and acknowledged, but no as-left point was verified."},
        {"a calibration that refused to write",
         With(Calibration(TWrite::NotSent, {}), [](TRunOutcome& r) { r.NotWrittenBecause = QStringLiteral("R500 reads 0.5 ohm off"); }),
         TVerdictKind::Failed, "Nothing was written (R500 reads 0.5 ohm off); the device keeps the calibration it had."},
        {"interrupted before the write",
         With(Calibration(TWrite::NotSent, {}), [](TRunOutcome& r) { r.Stopped = QStringLiteral("interrupted"); }),
         TVerdictKind::NotCompleted,
         "The run stopped (interrupted): nothing was written, the device keeps the calibration it had; its own "
         "settings were given back; forcing ended."},
        {"device lost after the write",
         With(Calibration(TWrite::Acknowledged, {}),
              [](TRunOutcome& r) {
                  r.Stopped = QStringLiteral("the device stopped answering");
                  r.SettingsGivenBack = TPutBack::Unknown;
                  r.ForcingEnded = TPutBack::Unknown;
                  r.LeftIn = QStringLiteral("resistance 0-5 kohm, 4 wires");
              }),
         TVerdictKind::NotCompleted,
         "The run stopped (the device stopped answering): the device holds the new calibration, written and "
         "acknowledged; whether its own settings were given back is not known (left in resistance 0-5 kohm, 4 "
         "wires); it may still be forced."},
        {"write unacknowledged", Calibration(TWrite::Unacknowledged, {}), TVerdictKind::NotCompleted,
         "The write was not acknowledged: the record was sent without acknowledgement, the device may hold the old "
         "or the new calibration; its own settings were given back; forcing ended."},
        {"settings not given back after a good run",
         With(Calibration(TWrite::Acknowledged),
              [](TRunOutcome& r) {
                  r.SettingsGivenBack = TPutBack::No;
                  r.LeftIn = QStringLiteral("resistance 0-500 ohm, 3 wires");
              }),
         TVerdictKind::NotCompleted,
         "The run could not put the device back: the device holds the new calibration, written and acknowledged; "
         "its own settings were not given back (left in resistance 0-500 ohm, 3 wires); forcing ended."},
        {"still forced", With(Calibration(TWrite::Acknowledged), [](TRunOutcome& r) { r.ForcingEnded = TPutBack::No; }),
         TVerdictKind::NotCompleted,
         "The run could not put the device back: the device holds the new calibration, written and acknowledged; "
         "its own settings were given back; it is still forced."},
        {"verification passed", Verification({P, P, P, P, P}), TVerdictKind::Passed,
         "All 5 points passed; nothing was written to the device."},
        {"verification of one point", Verification({P}), TVerdictKind::Passed,
         "The one point passed; nothing was written to the device."},
        {"verification conditional", Verification({P, C, P, P, P}), TVerdictKind::Failed,
         "1 of 5 points was conditional (a pass its uncertainty cannot support); nothing was written, the device is "
         "as it was."},
        {"verification failed", Verification({F, F, P}), TVerdictKind::Failed,
         "2 of 3 points failed; nothing was written, the device is as it was."},
        {"verification without a meter",
         With(Verification({P, P}), [&](TRunOutcome& r) { r.NotVerified = {noMeter}; }), TVerdictKind::Failed,
         "Not all of the device was verified; not verified: the output (no meter on the bench); nothing was "
         "written, the device is as it was."},
        {"verification of nothing", Verification({}), TVerdictKind::Failed,
         "No point was verified; nothing was written, the device is as it was."},
        {"verification interrupted",
         With(Verification({P}), [](TRunOutcome& r) { r.Stopped = QStringLiteral("interrupted"); }),
         TVerdictKind::NotCompleted,
         "The run stopped (interrupted): nothing was written; its own settings were given back; forcing ended."},
    };
    for (const Row& row : table) {
        SCOPED_TRACE(row.what);
        const TVerdict v = VerdictOf(row.run);
        EXPECT_EQ(VerdictCode(v.Kind).toStdString(), VerdictCode(row.kind).toStdString());
        EXPECT_EQ(v.Reason.toStdString(), row.reason);
    }
}

// Every reason is a sentence: no small letter at its start, a full stop at
// its end.
TEST(Verdict, ReasonsAreSentences) {
    for (const TRunOutcome& r : {Verification({P}), Verification({F}), Verification({}), Calibration(TWrite::Acknowledged)}) {
        const QString reason = VerdictOf(r).Reason;
        EXPECT_FALSE(reason.front().isLower()) << reason.toStdString();
        EXPECT_TRUE(reason.endsWith(QLatin1Char('.'))) << reason.toStdString();
    }
}

TEST(Verdict, TitlesAndCodes) {
    const struct {
        TVerdictKind kind;
        const char* title;
        const char* code;
    } table[] = {
        {TVerdictKind::Passed, "PASSED", "passed"},
        {TVerdictKind::Failed, "FAILED", "failed"},
        {TVerdictKind::AdjustedFailedVerification, "ADJUSTED – FAILED VERIFICATION", "adjusted-failed-verification"},
        {TVerdictKind::NotCompleted, "NOT COMPLETED", "not-completed"},
    };
    for (const auto& row : table) {
        EXPECT_EQ(VerdictTitle(row.kind).toStdString(), row.title);
        EXPECT_EQ(VerdictCode(row.kind).toStdString(), row.code);
    }
}
