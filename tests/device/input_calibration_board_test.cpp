// The input calibration's arithmetic against a board whose truth is known:
// the simulated device model's front end (its reference resistors, currents,
// gains and offsets, from which a faultless calibration follows by other
// formulas, FrontEnd.h) gives the channel averages of each step's
// configuration and connection, the wizard's Next computes, and after each
// step the record's fields it has finished must be the board's. A wrong
// operand anywhere shows at the first step whose figures differ, named with
// them, in milliseconds; no run of the wizard against a device is needed.
#include "DeviceModel.h"
#include "FrontEnd.h"
#include "InputCalibrationWizard.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace incal = kv::incal;

// The board on the bench: the connection of a step, the step's switches
// forced through the poll, and the averages once it has measured them.
struct TBench {
    explicit TBench(std::uint32_t seed) : model(Config(seed)) {}
    static kvsim::TDeviceConfig Config(std::uint32_t seed) {
        kvsim::TDeviceConfig c = kvsim::TDeviceConfig::Steady();
        c.BoardSeed = seed;
        c.ForeignCalibration = true;
        return c;
    }
    std::pair<std::int32_t, std::int32_t> Averages(const incal::TStep& step) {
        switch (step.Connection) {
        case incal::connOpen: model.SetSensor(kvsim::sensorOpen); break;
        case incal::conn500: model.SetSensor(kvsim::sensorResistor, 500.0); break;
        case incal::conn5K: model.SetSensor(kvsim::sensorResistor, 5000.0); break;
        case incal::connShort: model.SetSensor(kvsim::sensorShorted); break;
        case incal::connUref: model.SetSensor(kvsim::sensorVoltage, 125.0); break;
        case incal::connNone: break;
        }
        kv::PollAnswer a;
        for (int i = 0; i < 2; ++i) {
            kv::PollRequest r{0, 0, 2026, 12, 6, step.FETControl};
            a = kv::PollAnswer::Decode(model.Handle(kv::cmdPoll, r.Encode()).value_or(kvsim::TDeviceAnswer{}).Data);
            model.Advance(6 * kvsim::TDeviceModel::kCycleMs);
        }
        return {a.ADCH0Average, a.ADCH1Average};
    }
    kvsim::TDeviceModel model;
};

// A record field a step finishes, and the steps whose counts it comes from.
struct TField {
    const char* name;
    int step;
    const char* from;
    double (*found)(const incal::TValues&);
    double (*board)(const kv::InputCalibrationRecord&);
    bool integer;
};

#define KV_FIELD(step, from, name, integer)                                                                            \
    TField {                                                                                                           \
        #name, step, from, [](const incal::TValues& v) { return double(v.name); },                                    \
            [](const kv::InputCalibrationRecord& r) { return double(r.name); }, integer                               \
    }

const TField kFields[] = {
    KV_FIELD(1, "step 1", OFFSET_CH0, true),
    KV_FIELD(1, "step 1", OFFSET_CH1_REF_500, true),
    KV_FIELD(2, "step 2", OFFSET_CH1_REF_5K, true),
    KV_FIELD(3, "step 3", OFFSET_CH1_3W_500, true),
    KV_FIELD(3, "step 3", OFFSET_CH0_3W_500, true),
    KV_FIELD(5, "step 5", OFFSET_CH1_3W_5K, true),
    KV_FIELD(5, "step 5", OFFSET_CH0_3W_5K, true),
    KV_FIELD(7, "steps 1, 3, 6 and 7", RREF_500_3W, false),
    KV_FIELD(7, "steps 1, 3, 6 and 7", EA_500, false),
    KV_FIELD(11, "steps 1, 2, 5, 10 and 11", RREF_5K_3W, false),
    KV_FIELD(11, "steps 1, 2, 5, 10 and 11", EA_5K, false),
    KV_FIELD(15, "steps 1, 3, 13 and 15", RREF_500_2W, false),
    KV_FIELD(17, "steps 2, 5, 16 and 17", RREF_5K_2W, false),
    KV_FIELD(18, "steps 1 and 18", RREF_500_4W, false),
    KV_FIELD(19, "steps 1, 2 and 19", RREF_5K_4W, false),
    KV_FIELD(20, "step 20", OFFSET_CH0_G4, true),
    KV_FIELD(21, "step 21", AZ0, true),
    KV_FIELD(22, "steps 20 and 22", UREF, false),
};

#undef KV_FIELD

// Whether a figure is the board's: the counts exactly, the coefficients to
// what whole counts resolve (a few parts in a million).
bool Agrees(const TField& f, double found, double board) {
    if (f.integer)
        return found == board;
    return std::isfinite(found) && board != 0 && std::fabs(found / board - 1.0) <= 2e-6;
}

} // namespace

TEST(InputCalibrationArithmetic, EachStepFindsTheBoardsOwnFigures) {
    for (const std::uint32_t seed : {1u, 2u, 3u, 7u}) {
        SCOPED_TRACE("board " + std::to_string(seed));
        TBench bench(seed);
        const kv::InputCalibrationRecord board = bench.model.Board().Calibration();
        incal::TValues v;
        std::string firstWrong;
        for (std::size_t i = 0; i < incal::kLastStep && firstWrong.empty(); ++i) {
            const incal::TStep& step = incal::kSteps[i];
            const auto [ch0, ch1] = bench.Averages(step);
            const double reference[] = {0, 500, 5000, 125};
            incal::StoreReference(step.Reference, reference[step.Reference], v);
            const incal::TStepOutcome out = incal::Next(i, ch0, ch1, v);
            ASSERT_EQ(out.Failure, incal::failNone) << "step " << step.Number << ": " << incal::FailureText(out.Failure);
            std::ostringstream wrong;
            for (const TField& f : kFields)
                if (f.step == step.Number && !Agrees(f, f.found(v), f.board(board)))
                    wrong << "\n  " << f.name << " = " << f.found(v) << " where the board's is " << f.board(board)
                          << " (from the counts of " << f.from << ")";
            if (!wrong.str().empty())
                firstWrong = "step " + std::to_string(step.Number) + " is the first whose figures differ:" + wrong.str() +
                             "\n  its channel averages: CH0 " + std::to_string(ch0) + ", CH1 " + std::to_string(ch1);
        }
        EXPECT_TRUE(firstWrong.empty()) << firstWrong;
        if (!firstWrong.empty())
            continue;
        // The record as command 2 carries it: the board's, field by field.
        const kv::InputCalibrationRecord found = v.Record();
        EXPECT_TRUE(incal::UnwritableFields(found).empty());
        for (const TField& f : kFields) {
            const double a = f.board(found), b = f.board(board);
            EXPECT_TRUE(Agrees(f, a, b)) << f.name << " in the record: " << a << ", the board's " << b;
        }
    }
}
