// kvctl's output calibration run, driven as the poll cycle and the meter
// drive it, against a simulated board: every way out ends the forcing and
// leaves facts that no certificate can read as a success. (A whole run, its
// record and log against the window's: calibrate_output_test.cpp.)
#include "OutputCalibrationRun.h"
#include "OutputStage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

using kv::station::TOutputCalibrationRun;
namespace oc = kv::outcal;

namespace {

// The poll cycle, the device's output and the meter around a run: each poll
// carries the run's word; a reading asked for is taken at the word in force.
struct TBench {
    explicit TBench(std::uint32_t board) : output(kvsim::TOutputCharacteristic::ForBoard(board)) {
        run.Measure = [this](kv::station::TMeterQuantity q) { asked = q; };
        run.Progress = [this](const QString& line) { progress << line; };
        run.OnFinished = [this] { ++finished; };
    }
    TOutputCalibrationRun run;
    kvsim::TOutputCharacteristic output;
    std::optional<kv::station::TMeterQuantity> asked;
    QStringList progress;
    int finished = 0, polls = 0, writes = 0;
    std::vector<std::uint16_t> carried;
    // The band a settled reading agrees within (null: readings not compared).
    std::function<double(double)> band;
    // What the bench does instead of the device and the meter.
    std::function<bool()> acknowledge = [] { return true; };
    std::function<std::optional<double>(std::uint16_t word, kv::station::TMeterQuantity q)> meter =
        [this](std::uint16_t word, kv::station::TMeterQuantity q) -> std::optional<double> {
        const kvsim::TMeterReading r = output.Read(word);
        return q == kv::station::meterCurrent ? r.MilliAmp / 1000.0 : r.Volt;
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
            run.OnReading(v, v ? QString() : QStringLiteral("no answer from the meter"), v && band ? band(*v) : 0.0);
        }
    }
    void RunToEnd(int limit = 500) {
        for (int i = 0; i < limit && !run.Finished(); ++i)
            Turn();
    }
};

} // namespace

TEST(OutputCalibrationRun, EveryWayOutEndsTheForcing) {
    struct {
        const char* what;
        std::function<void(TBench&)> arrange;
        int turnsBefore;                       // turns before the event below
        std::function<void(TBench&)> event;    // null: none
        kv::cert::TWrite write;
        const char* failure;
    } const table[] = {
        {"meter silent in the search", [](TBench& b) { b.meter = [](std::uint16_t, kv::station::TMeterQuantity) { return std::nullopt; }; },
         0, nullptr, kv::cert::TWrite::NotSent, "no answer from the meter"},
        {"voltage check out of tolerance",
         [](TBench& b) {
             // A meter that reads 6 V 10 mV high: the search does not see it, the check does.
             auto inner = b.meter;
             b.meter = [inner](std::uint16_t w, kv::station::TMeterQuantity q) {
                 const auto v = inner(w, q);
                 return q == kv::station::meterVoltage && v && std::fabs(*v - 6.0) < 0.5 ? std::optional<double>(*v + 0.01) : v;
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
        EXPECT_FALSE(b.run.Adjusted());
        EXPECT_TRUE(b.run.ForcingEnded());
        EXPECT_EQ(b.carried.back(), 0);
        const kv::cert::TFacts& f = b.run.Facts();
        EXPECT_EQ(f.Write, row.write);
        EXPECT_NE(f.Failure.indexOf(QString::fromLatin1(row.failure)), -1) << f.Failure.toStdString();
        EXPECT_FALSE(kv::cert::Verdict(f).Passed);
    }
}

// Two settled readings of the same forced value must agree within their
// band: a meter (or an output) that drifts 50 ppm/s reads the 10 V point
// about 1 mV apart between its check and its second reading at the end, and
// the run fails instead of writing what it found. Without drift it passes,
// having read every check point twice.
TEST(OutputCalibrationRun, ADriftingMeterFailsTheRunBeforeTheWrite) {
    struct {
        double ppmPerSecond;
        bool passes;
    } const table[] = {{0, true}, {0.5, true}, {50, false}, {-50, false}};
    for (const auto& row : table) {
        SCOPED_TRACE(testing::Message() << row.ppmPerSecond << " ppm/s");
        TBench b(2);
        double seconds = 0;
        auto inner = b.meter;
        b.meter = [&, inner](std::uint16_t w, kv::station::TMeterQuantity q) -> std::optional<double> {
            seconds += 1.0; // a settled reading takes about a second on a slow bench
            const auto v = inner(w, q);
            return *v * (1 + row.ppmPerSecond * 1e-6 * seconds);
        };
        b.band = [](double v) { return std::max(20e-6 * std::fabs(v), 0.5e-6); };
        b.run.Start();
        b.RunToEnd();
        ASSERT_TRUE(b.run.Finished());
        EXPECT_EQ(b.run.Adjusted(), row.passes) << b.run.Facts().Failure.toStdString();
        EXPECT_TRUE(b.run.ForcingEnded());
        if (row.passes) {
            EXPECT_EQ(b.run.Facts().Write, kv::cert::TWrite::Acknowledged);
            // Six checks, each read twice.
            EXPECT_TRUE(b.progress.join('\n').contains(QLatin1String("reading every check point again")));
        } else {
            EXPECT_EQ(b.run.Facts().Write, kv::cert::TWrite::NotSent);
            EXPECT_TRUE(b.run.Facts().Failure.contains(QLatin1String("the meter or the output drifts")))
                << b.run.Facts().Failure.toStdString();
        }
    }
}

// The meter may read only what the device drives: a poll answered after the
// run forced a new value may have been composed before it, carrying the old
// one. Here every answer carries the word of the poll before (one request in
// flight), and the device drives the word of the last answered poll. A run
// that asked for a reading on an answer that did not carry its value would
// read the previous value's output.
TEST(OutputCalibrationRun, ReadsOnlyAfterAnAnswerThatCarriedTheForcedValue) {
    TBench b(2);
    std::uint16_t inFlight = 0, driven = 0;
    int mismatches = 0;
    b.run.Start();
    for (int i = 0; i < 800 && !b.run.Finished(); ++i) {
        // The answer to the poll composed a turn ago arrives; the next poll
        // is composed with the run's word now.
        const std::uint16_t answered = inFlight;
        inFlight = b.run.PWMWord();
        driven = answered;
        b.run.OnPoll(kv::PollAnswer{}, answered);
        if (b.run.RecordToWrite)
            b.run.OnWriteEnd(true);
        if (b.asked) {
            const auto q = *b.asked;
            b.asked.reset();
            if (driven != b.run.PWMWord())
                ++mismatches;
            const auto v = b.meter(driven, q);
            b.run.OnReading(v, {});
        }
    }
    ASSERT_TRUE(b.run.Finished());
    EXPECT_EQ(mismatches, 0) << "the meter was asked to read while the device still drove another PWM value";
    EXPECT_TRUE(b.run.Adjusted()) << b.run.Facts().Failure.toStdString();
}

// When the device stops answering, what it drives is the word of the last
// poll it answered, not the run's word (ended to 0 by then).
TEST(OutputCalibrationRun, NamesTheWordOfTheLastAnsweredPollWhenTheDeviceIsLost) {
    TBench b(2);
    b.run.Start();
    for (int i = 0; i < 6; ++i)
        b.Turn();
    const std::uint16_t forced = b.carried.back();
    ASSERT_NE(forced, 0);
    b.run.Lost(QStringLiteral("the device did not answer"));
    EXPECT_EQ(b.run.PWMWord(), 0);
    EXPECT_EQ(b.run.LastTaken(), forced);
}
