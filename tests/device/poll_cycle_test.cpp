// The poll cycle's own rules, without widgets: what a poll carries, which
// request follows which, what is released when, and what is handed on.
#include "cycle_support.h"

#include <QCoreApplication>

using namespace cycletest;

namespace {

std::string Hex(const Bytes& bytes) {
    std::string s;
    char b[4];
    for (std::uint8_t v : bytes) {
        std::snprintf(b, sizeof b, "%02X ", v);
        s += b;
    }
    if (!s.empty())
        s.pop_back();
    return s;
}

} // namespace

TEST(CyclePollRequest, CarriesTheInputsAndTheMaintenanceBits) {
    const struct {
        const char* name;
        std::uint16_t pwm;
        std::uint8_t fet, maintenance;
        QDate today;
        const char* bytes;
    } cases[] = {
        {"nothing", 0, 0, 0, QDate(2026, 12, 6), "00 00 00 EA 07 0C 06 00"},
        {"PWM, switches and two actions", 1234, 0xAE, 0x30, QDate(2026, 12, 6), "D2 04 30 EA 07 0C 06 AE"},
        {"another day", 0, 0, 0, QDate(2027, 1, 31), "00 00 00 EB 07 01 1F 00"},
        {"a year beyond the word", 0, 0, 0, QDate(70000, 2, 3), "00 00 00 FF FF 02 03 00"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TCycleRig rig(false);
        rig.inputs.pwm = c.pwm;
        rig.inputs.fet = c.fet;
        rig.inputs.today = c.today;
        rig.flags.maintenance = c.maintenance;
        rig.cycle.StartPoll();
        EXPECT_EQ(rig.link.MBMasterCommandToSlave(), kv::cmdPoll);
        Bytes sent;
        for (int i = 1; i <= rig.link.MBDataNumberToSend(); ++i)
            sent.push_back(rig.link.MBTXDataAt(i));
        EXPECT_EQ(Hex(sent), c.bytes);
        EXPECT_EQ(Hex(rig.cycle.ComposePoll().Encode()), c.bytes);
    }
}

// Moved from the window's tests: a bit stays in every poll until the device
// acknowledges it.
TEST(CyclePollRequest, MaintenanceBitStaysUntilAcknowledged) {
    TCycleRig rig(false);
    rig.Script([](std::uint8_t, const Bytes&) {
        kv::PollAnswer a;
        a.MaintenanceAck = kv::maint::Reset;
        a.PhysicalValue = 200.0f; // no wire resistance: a pending store ends too
        return TCycleRig::TAnswer{0, a.Encode()};
    });
    rig.flags.maintenance = kv::maint::Reset | kv::maint::Pot0 | kv::maint::Rof2Wire;
    rig.Open();
    ASSERT_TRUE(rig.Run(2));
    EXPECT_EQ(rig.Commands(), (Bytes{1, 1}));
    EXPECT_EQ(rig.ended[0].sent[2], 0xB0);
    EXPECT_EQ(rig.ended[1].sent[2], 0x20);
    EXPECT_EQ(rig.flags.maintenance, kv::maint::Pot0);
}

TEST(CycleOrder, ThePendingCommandsInTheirPriority) {
    const struct {
        const char* name;
        std::vector<kv::TPendingCommand> pending;
        Bytes commands;
    } cases[] = {
        {"nothing pending", {}, {1, 1, 1}},
        {"read settings", {kv::pendReadSettings}, {1, 6, 1, 1}},
        // Moved from the window's tests: a calibration write goes before the settings read.
        {"calibration write and read", {kv::pendReadSettings, kv::pendWriteInputCalibration}, {1, 2, 1, 6, 1}},
        {"everything", {kv::pendReadFactoryDefaults, kv::pendWriteSettings, kv::pendReadSettings,
                        kv::pendWriteOutputCalibration, kv::pendWriteInputCalibration},
         {1, 2, 1, 3, 1, 6, 1, 4, 1, 6, 1}},
        {"write: read back", {kv::pendWriteSettings}, {1, 4, 1, 6, 1}},
        {"factory defaults release the read too", {kv::pendReadFactoryDefaults}, {1, 5, 1, 1}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TCycleRig rig;
        for (auto p : c.pending)
            rig.flags.pending[p] = true;
        rig.Open();
        ASSERT_TRUE(rig.Run(c.commands.size()));
        EXPECT_EQ(rig.Commands(), c.commands);
        EXPECT_EQ(rig.flags.pending, (std::array<bool, 5>{}));
    }
}

TEST(CycleOrder, AWriteWithNothingToCarryIsWithdrawnUnsent) {
    TCycleRig rig;
    rig.flags.data = [](kv::TPendingCommand c) -> std::optional<Bytes> {
        if (c == kv::pendWriteInputCalibration)
            return std::nullopt;
        return Bytes{};
    };
    rig.flags.pending[kv::pendWriteInputCalibration] = true;
    rig.flags.pending[kv::pendReadSettings] = true;
    rig.Open();
    ASSERT_TRUE(rig.Run(3));
    // The withdrawn write takes its turn: a poll instead, then the read.
    EXPECT_EQ(rig.Commands(), (Bytes{1, 1, 6}));
    EXPECT_FALSE(rig.flags.pending[kv::pendWriteInputCalibration]);
    EXPECT_FALSE(rig.device->Model().InputCalibration().has_value());
}

// Moved from the window's tests.
TEST(CycleOrder, FailedCommandIsRepeatedAfterEachGoodPoll) {
    TCycleRig rig(false);
    int writes = 0;
    rig.Script([&](std::uint8_t command, const Bytes&) -> std::optional<TCycleRig::TAnswer> {
        if (command == kv::cmdWriteSettings)
            return TCycleRig::TAnswer{static_cast<std::uint8_t>(++writes < 3 ? 254 : 0), {}};
        if (command == kv::cmdReadSettings)
            return TCycleRig::TAnswer{0, kv::SettingsRecord{}.Encode()};
        return TCycleRig::TAnswer{0, kv::PollAnswer{}.Encode()};
    });
    rig.flags.pending[kv::pendWriteSettings] = true;
    rig.Open();
    ASSERT_TRUE(rig.RunUntilDone(kv::cmdWriteSettings));
    EXPECT_EQ(rig.Commands(), (Bytes{1, 4, 1, 4, 1, 4}));
    EXPECT_EQ(rig.ended[1].end.Status, stSlaveError);
    EXPECT_FALSE(rig.ended[1].end.Done);
    EXPECT_TRUE(rig.flags.pending[kv::pendReadSettings]);
    ASSERT_TRUE(rig.Run(2));
    EXPECT_EQ(rig.Commands(6), (Bytes{1, 6}));
    ASSERT_EQ(rig.settings.size(), 1u);
    EXPECT_EQ(rig.settings[0].first, kv::cmdReadSettings);
}

// Moved from the window's tests: a failed poll is followed by a poll, and
// what was pending meanwhile goes out after the first good one.
TEST(CycleOrder, PendingWhileSilentIsServedAfterTheFirstGoodPoll) {
    TCycleRig rig;
    rig.flags.pending[kv::pendWriteSettings] = true;
    rig.device->Console("silent on");
    rig.Open();
    ASSERT_TRUE(rig.Run(2));
    EXPECT_EQ(rig.Commands(), (Bytes{1, 1}));
    EXPECT_EQ(rig.ended[0].end.Status, stTimeOut);
    EXPECT_TRUE(rig.polls.empty());
    rig.device->Console("silent off");
    ASSERT_TRUE(rig.Run(4));
    EXPECT_EQ(rig.Commands(), (Bytes{1, 1, 1, 4, 1, 6}));
}

TEST(CycleOrder, NothingStartsWhenClosedOrStopped) {
    TCycleRig rig;
    rig.Open();
    ASSERT_TRUE(rig.RunUntilDone(kv::cmdPoll));
    rig.clock.advance(5); // the next poll waits for its start
    rig.link.Close();
    rig.RunFor(10000);
    ASSERT_EQ(rig.ended.back().end.Status, stClosedPort);
    const std::size_t n = rig.ended.size();
    const std::uint64_t answers = rig.device->AnswersSent();
    rig.RunFor(10000);
    EXPECT_EQ(rig.ended.size(), n);
    EXPECT_EQ(rig.device->AnswersSent(), answers);

    rig.Open();
    ASSERT_TRUE(rig.RunUntilDone(kv::cmdPoll));
    rig.cycle.Stop();
    const std::uint64_t stopped = rig.device->AnswersSent();
    rig.RunFor(10000);
    EXPECT_LE(rig.device->AnswersSent(), stopped + 1); // the one under way at most
}

// Before a close: one poll without forcing or maintenance action replaces
// the request under way, with a single try, and nothing follows it; a silent
// device holds the close up by one time-out at most.
TEST(CycleEndForcing, OneUnforcedPollThenNothing) {
    for (const bool answers : {true, false}) {
        SCOPED_TRACE(answers ? "answering" : "silent");
        TCycleRig rig(false);
        rig.link.setMBMasterTimeOut(300);
        std::vector<Bytes> heard;
        bool silent = false;
        rig.Script([&](std::uint8_t, const Bytes& data) -> std::optional<TCycleRig::TAnswer> {
            heard.push_back(data);
            return silent ? std::nullopt : std::optional(TCycleRig::TAnswer{0, kv::PollAnswer{}.Encode()});
        });
        rig.inputs.pwm = 12345;
        rig.inputs.fet = 0xAE;
        rig.flags.maintenance = kv::maint::Reset;
        rig.Open();
        ASSERT_TRUE(rig.RunUntilDone(kv::cmdPoll));
        silent = true;
        rig.RunFor(40); // the next poll is under way, unanswered
        silent = !answers;
        const std::size_t before = heard.size();
        const std::int64_t t0 = rig.clock.now();
        std::vector<std::int64_t> done;
        for (int i = 0; i < 2; ++i) // a second close waits for the same end
            rig.cycle.EndForcing([&] { done.push_back(rig.clock.now()); });
        rig.RunFor(10000);
        ASSERT_EQ(done.size(), 2u);
        EXPECT_LE(done[0] - t0, 20 + 50 + 300) << "start delay, sending and one time-out";
        ASSERT_EQ(heard.size(), before + 1);
        EXPECT_EQ(Hex(heard.back()), "00 00 00 EA 07 0C 06 00");
        EXPECT_EQ(rig.link.MBMasterMaxTryNumber(), 5);
        rig.cycle.EndForcing([&] { done.push_back(-1); }); // no longer forced: at once
        EXPECT_EQ(done.size(), 3u);
    }
}

// While the closing poll waits for its start, nothing takes its place: a
// command made pending then (a write pressed in the window) or a poll
// composed with the forcing still on would leave the device forced.
TEST(CycleEndForcing, NothingReplacesTheClosingPoll) {
    const struct {
        const char* what;
        std::function<void(TCycleRig&)> request;
    } cases[] = {
        {"a settings write", [](TCycleRig& r) { r.cycle.StartCommand(kv::pendWriteSettings); }},
        {"a calibration write", [](TCycleRig& r) { r.cycle.StartCommand(kv::pendWriteOutputCalibration); }},
        {"a forced poll", [](TCycleRig& r) { r.cycle.StartPoll(); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TCycleRig rig(false);
        std::vector<std::pair<std::uint8_t, Bytes>> heard;
        rig.Script([&](std::uint8_t command, const Bytes& data) -> std::optional<TCycleRig::TAnswer> {
            heard.emplace_back(command, data);
            return TCycleRig::TAnswer{0, command == kv::cmdPoll ? kv::PollAnswer{}.Encode() : Bytes{}};
        });
        rig.inputs.pwm = 12345;
        rig.Open();
        ASSERT_TRUE(rig.RunUntilDone(kv::cmdPoll));
        const std::size_t before = heard.size();
        int done = 0;
        rig.cycle.EndForcing([&] { ++done; });
        rig.clock.advance(5); // the closing poll waits for its start delay
        c.request(rig);
        rig.RunFor(10000);
        EXPECT_EQ(done, 1);
        ASSERT_EQ(heard.size(), before + 1) << "requests after the close was asked for";
        EXPECT_EQ(heard.back().first, kv::cmdPoll);
        EXPECT_EQ(Hex(heard.back().second), "00 00 00 EA 07 0C 06 00") << "the device was left forced";
    }
}

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
