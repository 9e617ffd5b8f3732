// The in-process device: a master on the memory port talks to the model
// through the link engine, all on the manual clock.
#include "InProcessDevice.h"
#include "MBMemoryPort.h"
#include "SimMaster.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

using namespace kvsim;
using simtest::TSimMaster;

namespace {

struct Rig {
    TMBManualClock clock;
    TMBMemoryPort port;
    TInProcessDevice device{port, clock, TDeviceConfig::Steady()};
    TSimMaster master{port, &clock};
    Rig() { EXPECT_TRUE(master.Open("sim", 115200)); }
    // Moves the clock on until the next transaction has ended.
    bool RunToEnd(std::int64_t limitMs = 10000) {
        const std::size_t before = master.ends.size();
        return clock.advanceUntil([&] { return master.ends.size() > before; }, limitMs);
    }
};

} // namespace

// Request 30 characters (2.6 ms) + 2 ms turnaround, waited as 5 ms; the
// 82-byte answer is 178 characters, 15.45 ms at 115200: complete at 20 ms.
TEST(InProcessDevice, AnswersAPollWhenARealLineWould) {
    Rig r;
    r.master.Poll();
    r.clock.advance(19);
    EXPECT_TRUE(r.master.ends.empty());
    r.clock.advance(1);
    ASSERT_EQ(r.master.ends.size(), 1u);
    const auto& e = r.master.ends[0];
    EXPECT_EQ(e.status, stOK);
    EXPECT_EQ(e.tries, 1);
    ASSERT_EQ(e.data.size(), kv::PollAnswer::Size);
    const kv::PollAnswer a = kv::PollAnswer::Decode(e.data);
    EXPECT_EQ(a.FirmwareYear, 2016);
    EXPECT_NEAR(a.CalculatedValue, 25.0, 1e-3);
    EXPECT_EQ(r.device.AnswersSent(), 1u);

    // Without line time only the turnaround is left.
    r.device.SetPaceLine(false);
    r.device.SetTurnaround(7);
    const std::int64_t t0 = r.clock.now();
    r.master.Poll();
    ASSERT_TRUE(r.RunToEnd());
    EXPECT_EQ(r.clock.now() - t0, 7);
}

TEST(InProcessDevice, SettingsWrittenAreReadBackThroughTheLink) {
    Rig r;
    kv::SettingsRecord s;
    s.Mode = 2;
    s.TCType = 0;
    s.FizikaiForOutH = 1600.0f;
    r.master.Start(kv::cmdWriteSettings, s.Encode());
    ASSERT_TRUE(r.RunToEnd());
    EXPECT_EQ(r.master.ends.back().status, stOK);
    EXPECT_TRUE(r.master.ends.back().data.empty());
    r.master.Start(kv::cmdReadSettings, {});
    ASSERT_TRUE(r.RunToEnd());
    EXPECT_EQ(kv::SettingsRecord::Decode(r.master.ends.back().data), s);
    r.master.Start(kv::cmdReadFactoryDefaults, {});
    ASSERT_TRUE(r.RunToEnd());
    EXPECT_EQ(kv::SettingsRecord::Decode(r.master.ends.back().data), kv::SettingsRecord{});
    r.master.Start(42, {});
    ASSERT_TRUE(r.RunToEnd());
    EXPECT_EQ(r.master.ends.back().status, stSlaveError);
    EXPECT_EQ(r.master.ends.back().text, "Unknown Command");
}

// Each fault produces the failure it names.
TEST(InProcessDevice, FaultsGiveTheirFailures) {
    struct {
        const char* console;
        TMBStatus status;
        const char* text;
        int tries;
    } const table[] = {
        {"drop 1", stTimeOut, "Time Out", 5},
        {"silent on", stTimeOut, "Time Out", 5},
        {"corrupt 1", stTimeOut, "Time Out", 5},
        {"error 254", stSlaveError, "Unknown Command", 1},
        {"error 255", stSlaveError, "ID Error", 1},
        {"late on 1500", stOK, "OK", 2},
        {"noise 1", stOK, "OK", 1},
    };
    for (const auto& row : table) {
        Rig r;
        EXPECT_NE(r.device.Console(row.console).rfind("error:", 0), 0u) << row.console;
        r.master.Poll();
        ASSERT_TRUE(r.RunToEnd()) << row.console;
        const auto& e = r.master.ends.back();
        EXPECT_EQ(e.status, row.status) << row.console;
        EXPECT_EQ(e.text, row.text) << row.console;
        EXPECT_EQ(e.tries, row.tries) << row.console;
    }
}

TEST(InProcessDevice, MaintenanceAcknowledgedThroughTheLinkAndRestartIsRetried) {
    Rig r;
    r.master.Poll(0, kv::maint::Reset);
    ASSERT_TRUE(r.RunToEnd());
    EXPECT_EQ(kv::PollAnswer::Decode(r.master.ends.back().data).MaintenanceAck, kv::maint::Reset);
    // Restarting: the next poll needs a retry, then the device is back.
    r.master.Poll();
    ASSERT_TRUE(r.RunToEnd());
    EXPECT_EQ(r.master.ends.back().status, stOK);
    EXPECT_EQ(r.master.ends.back().tries, 2);
    EXPECT_EQ(r.device.Model().Restarts(), 1u);
}

TEST(InProcessDevice, HangUpIsReportedOnce) {
    Rig r;
    r.device.Console("hangup");
    QCoreApplication::processEvents();
    r.clock.advance(10);
    EXPECT_EQ(r.master.hangUps, 1);
    r.master.Poll(); // the write fails at once
    ASSERT_EQ(r.master.ends.size(), 1u);
    EXPECT_EQ(r.master.ends.back().status, stClosedPort);
    r.clock.advance(2000);
    EXPECT_EQ(r.master.hangUps, 1);
}

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
