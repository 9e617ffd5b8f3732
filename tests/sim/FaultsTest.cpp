// Fault injection and the console that switches it.
#include "DeviceModel.h"
#include "Faults.h"

#include <gtest/gtest.h>

using namespace kvsim;

TEST(Faults, SharesAreDrawnFromASeededSequence) {
    TFaultInjector a(7), b(7);
    a.Faults().Drop = b.Faults().Drop = 0.3;
    a.Faults().Corrupt = b.Faults().Corrupt = 0.1;
    int drops = 0, corrupts = 0;
    for (int i = 0; i < 2000; ++i) {
        const TAnswerFate fa = a.Decide(), fb = b.Decide();
        EXPECT_EQ(fa.Drop, fb.Drop);
        EXPECT_EQ(fa.Corrupt, fb.Corrupt);
        drops += fa.Drop;
        corrupts += !fa.Drop && fa.Corrupt;
    }
    EXPECT_NEAR(drops / 2000.0, 0.3, 0.05);
    EXPECT_NEAR(corrupts / 2000.0, 0.07, 0.03);
    EXPECT_EQ(a.Dropped, static_cast<std::uint64_t>(drops));

    TFaultInjector quiet;
    for (int i = 0; i < 100; ++i) {
        const TAnswerFate f = quiet.Decide();
        EXPECT_FALSE(f.Drop || f.Corrupt || f.Noise || f.Late);
        EXPECT_EQ(f.ErrorCode, -1);
    }
    quiet.Faults().Silent = true;
    EXPECT_TRUE(quiet.Decide().Drop);
}

TEST(Faults, CorruptionChangesOneDigitAndNoiseNeverStartsAFrame) {
    TFaultInjector inj(3);
    for (int i = 0; i < 200; ++i) {
        const std::string good = "S010005000288;";
        std::string bad = good;
        inj.CorruptFrame(bad);
        ASSERT_EQ(bad.size(), good.size());
        int changed = 0;
        for (std::size_t k = 0; k < good.size(); ++k)
            if (bad[k] != good[k]) {
                ++changed;
                EXPECT_TRUE(std::isxdigit(static_cast<unsigned char>(bad[k])));
                EXPECT_FALSE(std::islower(static_cast<unsigned char>(bad[k])));
            }
        EXPECT_EQ(changed, 1);
        const std::string noise = inj.NoiseBytes();
        EXPECT_FALSE(noise.empty());
        EXPECT_EQ(noise.find_first_of("SM"), std::string::npos);
    }
    std::string none = "S;";
    inj.CorruptFrame(none);
    EXPECT_EQ(none, "S;");
}

TEST(Faults, ConsoleSwitchesFaultsAndTheWorld) {
    TFaultInjector inj;
    TDeviceModel model;
    TConsoleAction act = actNone;
    struct {
        const char* line;
        const char* replyStart;
    } const table[] = {
        {"drop 0.3", "drop 0.3"},     {"CORRUPT 0.1", "corrupt 0.1"}, {"noise 1", "noise 1"},
        {"drop 1.5", "error:"},       {"drop x", "error:"},           {"error 254", "error 254"},
        {"error 300", "error:"},      {"late on 2000", "late on 2000"}, {"silent on", "silent on"},
        {"silent maybe", "error:"},   {"value 80", "value 80"},       {"sensor open", "sensor open"},
        {"ident 1", "ident 1"},       {"adc on", "adc failed"},       {"frobnicate", "error: unknown"},
        {"", ""},
    };
    for (const auto& row : table) {
        const std::string reply = ConsoleExecute(row.line, inj, model, act);
        EXPECT_EQ(reply.rfind(row.replyStart, 0), 0u) << row.line << " -> " << reply;
        EXPECT_EQ(act, actNone);
    }
    const TFaults& f = inj.Faults();
    EXPECT_EQ(f.Drop, 0.3);
    EXPECT_EQ(f.Corrupt, 0.1);
    EXPECT_EQ(f.Noise, 1.0);
    EXPECT_EQ(f.ErrorCode, 254);
    EXPECT_TRUE(f.Late);
    EXPECT_EQ(f.LateMs, 2000u);
    EXPECT_TRUE(f.Silent);
    EXPECT_EQ(model.ProcessValue(), 80.0);
    EXPECT_EQ(model.Sensor(), sensorOpen);
    EXPECT_EQ(model.Snapshot().PCBIdentityAddress, 1);
    EXPECT_NE(ConsoleExecute("status", inj, model, act).find("silent on"), std::string::npos);
    EXPECT_NE(ConsoleExecute("status", inj, model, act).find(", forced PWM 0"), std::string::npos);
    ConsoleExecute("clear", inj, model, act);
    EXPECT_FALSE(inj.Faults().Silent);
    EXPECT_EQ(inj.Faults().ErrorCode, -1);
    ConsoleExecute("hangup", inj, model, act);
    EXPECT_EQ(act, actHangUp);
    ConsoleExecute("quit", inj, model, act);
    EXPECT_EQ(act, actQuit);
}
