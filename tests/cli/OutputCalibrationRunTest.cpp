// kvctl's output calibration run, driven as the poll cycle and the meter
// drive it, against simulated boards: what it stores, logs and writes is the
// window's wizard's, and every way out ends the forcing.
#include "OutputCalibrationRun.h"
#include "OutputStage.h"

#include <gtest/gtest.h>

#include <cmath>

using kvctl::TOutputCalibrationRun;
namespace oc = kv::outcal;

namespace {

// The poll cycle, the device's output and the meter around a run: each poll
// carries the run's word; a reading asked for is taken at the word in force.
struct TBench {
    explicit TBench(std::uint32_t board) : output(kvsim::TOutputCharacteristic::ForBoard(board)) {
        run.Measure = [this](kvctl::TMeterQuantity q) { asked = q; };
        run.Progress = [this](const QString& line) { progress << line; };
        run.OnFinished = [this] { ++finished; };
    }
    TOutputCalibrationRun run;
    kvsim::TOutputCharacteristic output;
    std::optional<kvctl::TMeterQuantity> asked;
    QStringList progress;
    int finished = 0, polls = 0, writes = 0;
    std::vector<std::uint16_t> carried;
    // What the bench does instead of the device and the meter.
    std::function<bool()> acknowledge = [] { return true; };
    std::function<std::optional<double>(std::uint16_t word, kvctl::TMeterQuantity q)> meter =
        [this](std::uint16_t word, kvctl::TMeterQuantity q) -> std::optional<double> {
        const kvsim::TMeterReading r = output.Read(word);
        return q == kvctl::meterCurrent ? r.MilliAmp / 1000.0 : r.Volt;
    };

    // One turn of the cycle: a poll, then the pending write or the reading.
    void Turn() {
        const std::uint16_t word = run.PWMWord();
        carried.push_back(word);
        ++polls;
        run.OnPoll(kv::PollAnswer{}, word);
        if (run.RecordToWrite) {
            ++writes;
            run.OnWriteEnd(acknowledge());
        }
        if (asked) {
            const auto q = *asked;
            asked.reset();
            const std::optional<double> v = meter(run.PWMWord(), q);
            run.OnReading(v, v ? QString() : QStringLiteral("no answer from the meter"));
        }
    }
    void RunToEnd(int limit = 500) {
        for (int i = 0; i < limit && !run.Finished(); ++i)
            Turn();
    }
};

// What the window's wizard holds and logs when its operator stores these values.
QStringList WindowLog(const std::array<std::int32_t, oc::stCount>& v) {
    QStringList log;
    const std::int32_t stored[oc::kStepCount] = {v[oc::stIL], v[oc::stIH], 0, v[oc::stUL], v[oc::stUH], 0, 0};
    for (int step = 0; step < oc::kStepCount; ++step)
        for (const oc::TLogLine& l : oc::NextLogLines(step, stored[step])) {
            if (l.separator)
                log << QStringLiteral("-------------------------------------------");
            log << QString::fromStdString(l.text);
        }
    return log;
}

} // namespace

TEST(OutputCalibrationRun, CalibratesEveryBoardAsTheWindowsWizardWould) {
    for (std::uint32_t board : {1u, 2u, 3u}) {
        SCOPED_TRACE(board);
        TBench b(board);
        b.run.Start();
        b.RunToEnd();
        ASSERT_TRUE(b.run.Finished());
        EXPECT_TRUE(b.run.Passed()) << kv::cert::Verdict(b.run.Facts()).Reason.toStdString();
        EXPECT_TRUE(b.run.ForcingEnded());
        EXPECT_EQ(b.carried.back(), 0); // the last poll forced nothing
        EXPECT_EQ(b.finished, 1);
        EXPECT_EQ(b.writes, 1);

        // The stored values are the closest to each target; the record and the
        // log are the wizard's for them.
        const auto& v = b.run.Stored();
        const kvsim::TOutputCharacteristic& c = b.output;
        auto error = [&](std::int32_t pwm, oc::TStoredPWM s) {
            const kvsim::TMeterReading r = c.Read(static_cast<std::uint16_t>(pwm));
            return std::fabs((oc::kStoredTargets[s].current ? r.MilliAmp / 1000.0 : r.Volt) - oc::kStoredTargets[s].value);
        };
        for (int s = 0; s < oc::stCount; ++s) {
            const auto stored = static_cast<oc::TStoredPWM>(s);
            EXPECT_LE(error(v[s], stored), error(v[s] - 1, stored)) << oc::kStoredNames[s];
            EXPECT_LE(error(v[s], stored), error(v[s] + 1, stored)) << oc::kStoredNames[s];
        }
        const kv::cert::TFacts& f = b.run.Facts();
        const kv::OutputCalibrationRecord record{static_cast<std::uint16_t>(v[0]), static_cast<std::uint16_t>(v[1]),
                                                 static_cast<std::uint16_t>(v[2]), static_cast<std::uint16_t>(v[3])};
        EXPECT_EQ(f.Record, record.Encode());
        EXPECT_EQ(f.Command, 3);
        EXPECT_EQ(f.Log, WindowLog(v));
        // Six checks, each within its tolerance, at the wizard's test values.
        ASSERT_EQ(f.Checks.size(), 6u);
        for (const kv::cert::TCheck& check : f.Checks) {
            ASSERT_TRUE(check.AsLeft.has_value()) << check.Name.toStdString();
            EXPECT_LE(std::fabs(*check.AsLeft - check.Target), check.Tolerance) << check.Name.toStdString();
        }
        EXPECT_LE(b.run.Readings(), 40);
    }
}

TEST(OutputCalibrationRun, EveryWayOutEndsTheForcing) {
    struct {
        const char* what;
        std::function<void(TBench&)> arrange;
        int turnsBefore;                       // turns before the event below
        std::function<void(TBench&)> event;    // null: none
        kv::cert::TWrite write;
        const char* failure;
    } const table[] = {
        {"meter silent in the search", [](TBench& b) { b.meter = [](std::uint16_t, kvctl::TMeterQuantity) { return std::nullopt; }; },
         0, nullptr, kv::cert::TWrite::NotSent, "no answer from the meter"},
        {"voltage check out of tolerance",
         [](TBench& b) {
             // A meter that reads 6 V 10 mV high: the search does not see it, the check does.
             auto inner = b.meter;
             b.meter = [inner](std::uint16_t w, kvctl::TMeterQuantity q) {
                 const auto v = inner(w, q);
                 return q == kvctl::meterVoltage && v && std::fabs(*v - 6.0) < 0.5 ? std::optional<double>(*v + 0.01) : v;
             };
         },
         0, nullptr, kv::cert::TWrite::NotSent, "6 V reads"},
        {"write never acknowledged", [](TBench& b) { b.acknowledge = [] { return false; }; }, 0, nullptr,
         kv::cert::TWrite::Unacknowledged, "did not acknowledge the record"},
        {"interrupted in the search", nullptr, 5, [](TBench& b) { b.run.Abort(QStringLiteral("interrupted")); },
         kv::cert::TWrite::NotSent, "interrupted"},
        {"device silent in the search", nullptr, 5,
         [](TBench& b) { b.run.Lost(QStringLiteral("the device did not answer")); }, kv::cert::TWrite::NotSent,
         "the device did not answer"},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.what);
        TBench b(2);
        if (row.arrange)
            row.arrange(b);
        b.run.Start();
        for (int i = 0; i < row.turnsBefore; ++i)
            b.Turn();
        if (row.event) {
            EXPECT_NE(b.run.PWMWord(), 0); // forcing under way
            row.event(b);
            // Forcing ends with the next poll, whatever else was going on.
            EXPECT_EQ(b.run.PWMWord(), 0);
        }
        b.RunToEnd();
        ASSERT_TRUE(b.run.Finished());
        EXPECT_FALSE(b.run.Passed());
        EXPECT_TRUE(b.run.ForcingEnded());
        EXPECT_EQ(b.carried.back(), 0);
        const kv::cert::TFacts& f = b.run.Facts();
        EXPECT_EQ(f.Write, row.write);
        EXPECT_NE(f.Failure.indexOf(QString::fromLatin1(row.failure)), -1) << f.Failure.toStdString();
        EXPECT_FALSE(kv::cert::Verdict(f).Passed);
    }
}
