// What a verdict is judged from, read from a certificate's facts: a
// verification's points as found, a calibration's as left after the
// acknowledged write, a point without a result named as not verified, the
// two records of a calibration of everything; and the settling rule on the
// device's measuring-cycle counter that the trim and the verification share.
#include "CycleSettling.h"
#include "RunOutcome.h"

#include <gtest/gtest.h>

#include <functional>

using namespace kv::station;
using kv::cert::TFacts;
using kv::cert::TKind;
using kv::cert::TPoint;
using kv::cert::TWrite;

namespace {

TPoint Point(const char* path, double percent, std::optional<TOutcome> found, std::optional<TOutcome> left) {
    TPoint p;
    p.Quantity = QStringLiteral("input");
    p.Path = QString::fromLatin1(path);
    p.Percent = percent;
    p.AsFound.Result = found;
    p.AsLeft.Result = left;
    return p;
}

} // namespace

TEST(RunOutcome, ReadFromTheFacts) {
    using enum TVerdictKind;
    struct {
        const char* what;
        std::function<void(TFacts&)> facts;
        TVerdictKind verdict;
        const char* reason;
    } const table[] = {
        {"a verification that passed",
         [](TFacts& f) {
             f.Kind = TKind::Verification;
             f.Points = {Point("Pt 100, 4 wires", 0, TOutcome::Pass, {}), Point("Pt 100, 4 wires", 100, TOutcome::Pass, {})};
         },
         Passed, "All 2 points passed; nothing was written to the device."},
        {"a verification with a point not measured",
         [](TFacts& f) {
             f.Kind = TKind::Verification;
             f.Points = {Point("Pt 100, 4 wires", 0, TOutcome::Pass, {}), Point("Pt 100, 4 wires", 100, {}, {})};
             f.Points[1].AsFound.NotMeasured = QStringLiteral("the fixture failed: relay 3 stuck");
         },
         Failed, "not verified: input at 100 % (Pt 100, 4 wires): the fixture failed: relay 3 stuck"},
        {"a calibration judged as left, not as found",
         [](TFacts& f) {
             f.Kind = TKind::Input;
             f.Write = TWrite::Acknowledged;
             f.Points = {Point("millivolt", 10, TOutcome::Fail, TOutcome::Pass), Point("millivolt", 90, TOutcome::Fail, TOutcome::Pass)};
         },
         Passed, "all 2 as-left points passed"},
        {"a calibration with a conditional point as left",
         [](TFacts& f) {
             f.Kind = TKind::Output;
             f.Write = TWrite::Acknowledged;
             f.Points = {Point("4-20 mA", 0, {}, TOutcome::Pass), Point("4-20 mA", 100, {}, TOutcome::Conditional)};
         },
         AdjustedFailedVerification, "1 of 2 as-left points was conditional"},
        {"a calibration whose as-left point was not measured",
         [](TFacts& f) {
             f.Kind = TKind::Input;
             f.Write = TWrite::Acknowledged;
             f.Points = {Point("Pt 100, 4 wires", 0, TOutcome::Pass, TOutcome::Pass), Point("Pt 100, 4 wires", 50, TOutcome::Pass, {})};
         },
         AdjustedFailedVerification, "input at 50 % (Pt 100, 4 wires): not measured"},
        {"a calibration that wrote nothing",
         [](TFacts& f) {
             f.Kind = TKind::Input;
             f.NotWrittenBecause = QStringLiteral("step 22/23: Floating point division by zero");
             f.Points = {Point("Pt 100, 4 wires", 0, TOutcome::Fail, {})};
         },
         Failed, "Nothing was written (step 22/23: Floating point division by zero)"},
        {"stopped after the write, the settings not given back",
         [](TFacts& f) {
             f.Kind = TKind::Input;
             f.Write = TWrite::Acknowledged;
             f.Failure = QStringLiteral("the device did not answer");
             f.SettingsGivenBack = TPutBack::Unknown;
             f.LeftIn = QStringLiteral("resistance 0-5 kohm, 4 wires");
         },
         NotCompleted, "the device holds the new calibration, written and acknowledged; whether its own settings were given "
                       "back is not known (left in resistance 0-5 kohm, 4 wires)"},
        {"everything: the output's record unacknowledged",
         [](TFacts& f) {
             f.Kind = TKind::All;
             f.Write = TWrite::Acknowledged;
             f.OutputWrite = TWrite::Unacknowledged;
         },
         NotCompleted, "The write was not acknowledged"},
        {"everything: the input's record written, the output's refused",
         [](TFacts& f) {
             f.Kind = TKind::All;
             f.Write = TWrite::Acknowledged;
             f.NotWrittenBecause = QStringLiteral("6 V reads 6.0100 V");
             f.Points = {Point("Pt 100, 4 wires", 0, TOutcome::Fail, TOutcome::Pass)};
             f.NotVerified = {QStringLiteral("the output (no meter on the bench)")};
         },
         AdjustedFailedVerification, "not all of it was verified; not verified: the output (no meter on the bench)"},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.what);
        TFacts f;
        row.facts(f);
        const TVerdict v = kv::cert::VerdictOfFacts(f);
        EXPECT_EQ(v.Kind, row.verdict) << v.Reason.toStdString();
        EXPECT_TRUE(v.Reason.contains(QString::fromLatin1(row.reason))) << v.Reason.toStdString();
    }
}

// A change counts from the second answered poll after it, then five new
// measuring cycles, the counter wrapping at 255; a device that measures
// nothing new within the poll limit has stopped measuring.
TEST(CycleSettling, FiveNewCyclesFromTheSecondAnswer) {
    struct {
        const char* what;
        std::vector<int> cycles; // each answered poll's counter
        TCycleSettling::TState last;
    } const table[] = {
        {"the first answer may predate the change", {7, 8, 9, 10, 11, 12}, TCycleSettling::TState::More},
        {"five cycles from the second", {7, 8, 9, 10, 11, 12, 13}, TCycleSettling::TState::Settled},
        {"polled twice a cycle", {7, 7, 8, 8, 9, 9, 10, 10, 11, 11}, TCycleSettling::TState::More},
        {"... and the fifth", {7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12}, TCycleSettling::TState::Settled},
        {"across the wrap", {254, 254, 255, 0, 1, 2, 3}, TCycleSettling::TState::Settled},
        {"a device that stopped measuring", std::vector<int>(TCycleSettling::kPolls + 1, 40), TCycleSettling::TState::TimedOut},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.what);
        TCycleSettling s;
        s.Start();
        TCycleSettling::TState state = TCycleSettling::TState::More;
        for (int c : row.cycles) {
            ASSERT_EQ(state, TCycleSettling::TState::More) << "settled early";
            state = s.Add(static_cast<std::uint8_t>(c));
        }
        EXPECT_EQ(state, row.last);
    }
    TNewMeasurements m;
    m.Start();
    EXPECT_EQ(m.Add(5), TNewMeasurements::TState::New);
    EXPECT_EQ(m.Add(5), TNewMeasurements::TState::Same);
    EXPECT_EQ(m.Add(6), TNewMeasurements::TState::New);
}
