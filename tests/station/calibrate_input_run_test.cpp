// The unattended input calibration's own rules, fed by hand: the references
// on the command line, the settling rule on the device's cycle counter, and
// that every way out gives the device back what the run changed.
#include "InputCalibrationRun.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>

using kv::station::TInputCalibrationRun;
using kv::station::TInputReferences;

namespace {

TEST(CalibrateInputReferences, ParsedOrRefusedWithTheReason) {
    struct TCase {
        const char* text;
        const char* error; // "" when accepted
        double r500, r5k, uref;
    };
    const TCase cases[] = {
        {"R500=500.012,R5K=4999.87,UREF=125.5", "", 500.012, 4999.87, 125.5},
        {"R5K=5001", "", 500, 5001, 125},
        {"UREF=1e2", "", 500, 5000, 100},
        {"R500=500,R500=501", "R500 is given twice", 500, 5000, 125},
        {"R500=500,5", "\"5\" is not R500=OHM", 500, 5000, 125},
        {"R1K=1000", "\"R1K=1000\" is not", 500, 5000, 125},
        {"R500=500,0", "\"0\" is not", 500, 5000, 125},
        {"R500=0", "R500 needs a number above 0", 500, 5000, 125},
        {"R500=-500", "above 0", 500, 5000, 125},
        {"R500=nan", "above 0", 500, 5000, 125},
        {"R500=inf", "above 0", 500, 5000, 125},
        {"R500=", "above 0", 500, 5000, 125},
        {"", "\"\" is not", 500, 5000, 125},
    };
    for (const TCase& c : cases) {
        TInputReferences r;
        const QString error = kv::station::ParseReferences(QString::fromLatin1(c.text), r);
        if (*c.error == 0) {
            EXPECT_TRUE(error.isEmpty()) << c.text << ": " << error.toStdString();
            EXPECT_EQ(r.R500, c.r500) << c.text;
            EXPECT_EQ(r.R5K, c.r5k) << c.text;
            EXPECT_EQ(r.UrefMilliVolt, c.uref) << c.text;
        } else {
            EXPECT_TRUE(error.contains(QString::fromLatin1(c.error))) << c.text << ": " << error.toStdString();
        }
    }
}

// A device answering by hand: each poll a new measuring cycle, reads giving
// what was last written.
struct TRig {
    TInputCalibrationRun run;
    kv::SettingsRecord stored;
    QStringList fixture;     // the words of the last fixture call
    bool fixtureDone = true; // answer the fixture at once
    std::uint8_t cycles = 250;
    int polls = 0;
    double ohm = 500.0;
    bool finished = false;

    explicit TRig(const TInputReferences& r = {}) : run(r) {
        stored.Mode = 0; // Pt 100
        stored.Wires = 3;
        run.RunFixture = [this](const QStringList& w) {
            fixture = w;
            if (fixtureDone)
                run.OnFixtureDone({});
        };
        run.OnFinished = [this] { finished = true; };
    }
    kv::PollAnswer Answer(bool newCycle = true) {
        kv::PollAnswer a;
        a.CalibrationFlags = kv::calflag::Input;
        a.CalibrationYear = 2019;
        a.CalibrationMonth = 3;
        a.CalibrationDay = 4;
        if (newCycle)
            ++cycles;
        a.Cycles = cycles;
        a.PhysicalValue = static_cast<float>(ohm);
        // Averages that differ with the switches and the connection, so
        // that no step divides by zero.
        const int connection = int(qHash(fixture.join(QLatin1Char(' '))) % 1000);
        a.ADCH0Average = 100000 + 37 * run.FETControl() + 1009 * connection;
        a.ADCH1Average = -200000 - 53 * run.FETControl() - 2003 * connection;
        return a;
    }
    // One turn of the cycle: the pending command in the window's order, or a poll.
    void Turn(bool newCycle = true) {
        if (run.RecordToWrite) {
            run.OnCommandEnd(kv::cmdWriteInputCalibration, true);
        } else if (run.ReadSettingsPending) {
            run.OnSettings(stored);
        } else if (run.SettingsToWrite) {
            stored = *run.SettingsToWrite;
            run.OnCommandEnd(kv::cmdWriteSettings, true);
        } else {
            ++polls;
            run.OnPoll(Answer(newCycle));
        }
    }
};

// The first answer after a change may have been composed before it; from the
// second on, five new cycles; the counter wraps at 255.
TEST(CalibrateInputRun, SettlesOnFiveCyclesFromTheSecondAnswerAndAveragesEightMeasurements) {
    TRig rig;
    rig.run.Start();
    while (rig.fixture.isEmpty())
        rig.Turn();
    EXPECT_EQ(rig.fixture, (QStringList{QStringLiteral("resistor"), QStringLiteral("500")}));
    EXPECT_EQ(rig.stored.Mode, 5) << "measured as a resistance of the 500 ohm range";
    EXPECT_EQ(rig.stored.Wires, 4);
    EXPECT_EQ(rig.polls, 0);
    EXPECT_EQ(rig.run.FETControl(), 0) << "a check forces nothing";
    // Answers 1 and 2 (cycle 251, 252: the start), then 5 cycles to 257 = 1,
    // then 8 measurements, each answered twice (the same cycle again).
    rig.Turn();
    rig.Turn();
    for (int i = 0; i < 5; ++i)
        rig.Turn();
    EXPECT_EQ(rig.cycles, 1);
    EXPECT_FALSE(rig.run.Facts().Checks[0].AsFound);
    for (int i = 0; i < 7; ++i) {
        rig.ohm = 500.0 + 0.01 * i;
        rig.Turn(i > 0);
        rig.Turn(false);
    }
    EXPECT_FALSE(rig.run.Facts().Checks[0].AsFound) << "seven measurements";
    rig.ohm = 500.07;
    rig.Turn();
    ASSERT_TRUE(rig.run.Facts().Checks[0].AsFound);
    EXPECT_NEAR(*rig.run.Facts().Checks[0].AsFound, 500.035, 1e-4);
    EXPECT_EQ(rig.stored.Mode, 5) << "the 5 kohm check is next";
    EXPECT_TRUE(rig.run.SettingsToWrite.has_value());
    EXPECT_EQ(rig.run.SettingsToWrite->Mode, 6);
}

// Every way out: what was changed on the device is given back (its own
// settings, no forcing) before the run ends, and the failure is named.
TEST(CalibrateInputRun, EveryWayOutGivesTheDeviceItsSettingsBackAndEndsTheForcing) {
    struct TCase {
        const char* what;
        std::function<bool(TRig&)> when; // true: act now
        std::function<void(TRig&)> act;
        const char* failure;
        bool restores; // the own settings are written back
    };
    // While the poll forces the switches of step `number`.
    auto inStep = [](int number) {
        const auto s = std::find_if(kv::incal::kSteps.begin(), kv::incal::kSteps.end(),
                                    [&](const kv::incal::TStep& t) { return t.Number == number; });
        return [fet = s->FETControl](TRig& r) { return r.run.FETControl() == fet; };
    };
    const TCase cases[] = {
        {"interrupted before the settings were read", [](TRig&) { return true; },
         [](TRig& r) { r.run.Abort(QStringLiteral("interrupted")); }, "interrupted", false},
        {"interrupted in a step", inStep(6), [](TRig& r) { r.run.Abort(QStringLiteral("interrupted")); },
         "interrupted", true},
        {"the fixture fails at step 22", [](TRig& r) { return r.fixture.value(0) == QLatin1String("short"); },
         [](TRig& r) {
             r.fixtureDone = false;
             r.fixture.clear();
             for (int turns = 0; r.fixture.isEmpty() && turns < 1000; ++turns)
                 r.Turn();
             EXPECT_EQ(r.fixture, (QStringList{QStringLiteral("voltage"), QStringLiteral("125")}));
             r.run.OnFixtureDone(QStringLiteral("exit status 1"));
         },
         "the fixture failed: exit status 1", true},
        {"the device is lost", inStep(3), [](TRig& r) { r.run.Lost(QStringLiteral("no answer")); }, "no answer",
         false},
    };
    for (const TCase& c : cases) {
        TRig rig;
        const kv::SettingsRecord own = rig.stored;
        rig.run.Start();
        for (int turns = 0; !c.when(rig) && turns < 10000; ++turns)
            rig.Turn();
        c.act(rig);
        for (int turns = 0; !rig.finished && turns < 100; ++turns)
            rig.Turn();
        EXPECT_TRUE(rig.finished) << c.what;
        EXPECT_FALSE(rig.run.Adjusted()) << c.what;
        EXPECT_TRUE(rig.run.Facts().Failure.contains(QString::fromLatin1(c.failure))) << c.what;
        EXPECT_EQ(rig.run.FETControl(), 0) << c.what;
        if (c.restores) {
            EXPECT_EQ(rig.stored, own) << c.what;
        }
        EXPECT_EQ(rig.run.Facts().Write, kv::cert::TWrite::NotSent) << c.what;
    }
}

} // namespace

// What each step has connected when its averages are taken, against the
// pictures of the factory procedure written out here (not taken from the
// step table under test): A and B nothing, C, E and G the 500 ohm
// reference, D, F and H the 5 kohm one, I the input shorted, J the
// reference voltage. The references as typed: 500.012, 4999.87, 125.5.
TEST(CalibrateInputRun, EachStepHasWhatItsPictureShowsConnected) {
    const std::map<int, const char*> pictures = {
        {1, "open"},            {2, "open"},            {3, "open"},            {5, "open"},
        {6, "resistor 500.012"}, {7, "resistor 500.012"}, {10, "resistor 4999.87"}, {11, "resistor 4999.87"},
        {13, "resistor 500.012"}, {15, "resistor 500.012"}, {16, "resistor 4999.87"}, {17, "resistor 4999.87"},
        {18, "resistor 500.012"}, {19, "resistor 4999.87"}, {20, "short"},          {21, "short"},
        {22, "voltage 125.5"},
    };
    TInputReferences refs;
    ASSERT_TRUE(kv::station::ParseReferences(QStringLiteral("R500=500.012,R5K=4999.87,UREF=125.5"), refs).isEmpty());
    TRig rig(refs);
    std::map<int, QString> connected; // each step's, at each of its polls
    rig.run.Start();
    for (int turns = 0; !rig.finished && turns < 20000; ++turns) {
        rig.Turn();
        if (const int step = rig.run.Step(); step > 0 && step < 23) {
            const QString now = rig.fixture.join(QLatin1Char(' '));
            const auto [it, fresh] = connected.emplace(step, now);
            EXPECT_EQ(it->second, now) << "step " << step << " changed its connection while it was shown";
        }
    }
    ASSERT_TRUE(rig.finished); // the hand-made averages give no record fit to write: no matter here
    for (const auto& [step, picture] : pictures) {
        ASSERT_TRUE(connected.count(step)) << "step " << step << " was never shown";
        EXPECT_EQ(connected[step].toStdString(), picture)
            << "step " << step << " connects \"" << connected[step].toStdString() << "\"; its picture asks for \"" << picture
            << "\"";
    }
    EXPECT_EQ(connected.size(), pictures.size());
}
