// Answers that cross their requests (moved here from the window's tests with
// the rules): a device that answers after the link's time-out for a few
// seconds, so that each request meets the answer to the one before it, and
// then promptly again. Nothing a crossed answer carries may be handed on or
// release what it did not do.
#include "cycle_support.h"

#include <cmath>

using namespace cycletest;

namespace {

// Mode 1 (Pt 1000), 3 wires, 2-10 V, -50..150.
kv::SettingsRecord DeviceSettings() {
    kv::SettingsRecord s;
    s.Mode = 1;
    s.Wires = 3;
    s.OutputMode = 3;
    s.FizikaiForOutL = -50.0f;
    s.FizikaiForOutH = 150.0f;
    return s;
}

struct TLateRig : TCycleRig {
    TLateRig() { device->Model().Handle(kv::cmdWriteSettings, DeviceSettings().Encode()); }
    // Late answers for `ms` of the clock, prompt ones after it.
    void LateFor(std::int64_t ms) {
        device->Console("late on 1500");
        RunFor(ms);
        device->Console("late off");
    }
};

} // namespace

TEST(LateAnswers, SettingsHandedOnAndWrittenAreTheDevicesOwn) {
    TLateRig rig;
    rig.flags.pending[kv::pendReadSettings] = true;
    rig.Open();
    ASSERT_TRUE(rig.RunUntilDone(kv::cmdReadSettings));

    // A read while answers cross: each try meets a poll's answer.
    rig.flags.pending[kv::pendReadSettings] = true;
    rig.LateFor(6000);
    ASSERT_TRUE(rig.RunUntilDone(kv::cmdReadSettings));
    ASSERT_TRUE(rig.Run(3));
    int crossed = 0;
    for (const auto& e : rig.ended)
        crossed += e.end.Crossed;
    EXPECT_GT(crossed, 0);
    for (const auto& [command, record] : rig.settings)
        EXPECT_EQ(record, DeviceSettings());

    // A write of what was read stores the device's own settings.
    rig.flags.data = [&](kv::TPendingCommand c) -> std::optional<Bytes> {
        return c == kv::pendWriteSettings ? rig.settings.back().second.Encode() : Bytes{};
    };
    rig.flags.pending[kv::pendWriteSettings] = true;
    rig.LateFor(6000);
    ASSERT_TRUE(rig.RunUntilDone(kv::cmdWriteSettings));
    ASSERT_TRUE(rig.RunUntilDone(kv::cmdReadSettings));
    EXPECT_EQ(rig.device->Model().Settings(), DeviceSettings());
    for (const auto& [command, record] : rig.settings)
        EXPECT_EQ(record, DeviceSettings());
}

// A write of another mode while answers cross: whenever it is released, the
// device holds the written record.
TEST(LateAnswers, WriteIsReleasedOnlyByItsOwnAcknowledgement) {
    TLateRig rig;
    rig.Open();
    ASSERT_TRUE(rig.Run(2));
    rig.device->Console("late on 1500");
    ASSERT_TRUE(rig.Run(2)); // the answers now cross
    kv::SettingsRecord wanted = DeviceSettings();
    wanted.Mode = 5;
    rig.flags.data = [&](kv::TPendingCommand) -> std::optional<Bytes> { return wanted.Encode(); };
    rig.flags.pending[kv::pendWriteSettings] = true;
    int earlyReleases = 0, releases = 0;
    rig.cycle.OnEnd = [&, inner = rig.cycle.OnEnd](const kv::TCommandEnd& e) {
        inner(e);
        // The release follows the end; what the device holds decides now.
        if (e.Command == kv::cmdWriteSettings && e.Done && releases++ == 0)
            earlyReleases += rig.device->Model().Settings().Mode != 5;
    };
    rig.RunFor(8000);
    rig.device->Console("late off");
    ASSERT_TRUE(rig.RunUntilDone(kv::cmdReadSettings));
    EXPECT_GT(releases, 0);
    EXPECT_EQ(earlyReleases, 0);
    EXPECT_FALSE(rig.flags.pending[kv::pendWriteSettings]);
    EXPECT_EQ(rig.device->Model().Settings().Mode, 5);
}

// Poll answers handed on come only from poll answers: a settings record or
// an acknowledgement taken as one would give zeros or parts of other fields
// (the input calibration wizard measures with the channel averages).
TEST(LateAnswers, PollAnswersComeOnlyFromPollAnswers) {
    TLateRig rig;
    rig.Open();
    ASSERT_TRUE(rig.Run(2));
    ASSERT_FALSE(rig.polls.empty());
    const double ch0 = rig.polls.back().ADCH0Average, ch1 = rig.polls.back().ADCH1Average;
    ASSERT_NE(ch0, 0.0);
    ASSERT_NE(ch1, 0.0);
    const std::size_t from = rig.polls.size();
    rig.flags.pending[kv::pendReadSettings] = true;
    rig.LateFor(4000);
    rig.flags.pending[kv::pendReadSettings] = false; // the window's buttons are exclusive
    rig.flags.pending[kv::pendReadFactoryDefaults] = true;
    rig.LateFor(4000);
    ASSERT_TRUE(rig.RunUntilDone(kv::cmdReadFactoryDefaults));
    ASSERT_GT(rig.polls.size(), from + 2);
    int crossed = 0;
    for (const auto& e : rig.ended)
        crossed += e.end.Crossed;
    EXPECT_GE(crossed, 2);
    for (std::size_t i = from; i < rig.polls.size(); ++i) {
        // The steady device's counts move by a few hundredths of a percent.
        EXPECT_NEAR(rig.polls[i].ADCH0Average, ch0, std::abs(ch0) * 0.01) << i;
        EXPECT_NEAR(rig.polls[i].ADCH1Average, ch1, std::abs(ch1) * 0.01) << i;
        EXPECT_EQ(rig.polls[i].FirmwareYear, 2016) << i;
    }
}

// An end event that comes while the next request waits for its start is the
// late answer to an earlier one: the waiting request still goes out and its
// own answer decides.
TEST(LateAnswers, EndBeforeTheRequestIsSentIsNotItsResult) {
    TCycleRig rig(false);
    int writes = 0;
    rig.Script([&](std::uint8_t command, const Bytes&) -> std::optional<TCycleRig::TAnswer> {
        writes += command == kv::cmdWriteSettings;
        if (command == kv::cmdReadSettings)
            return TCycleRig::TAnswer{0, kv::SettingsRecord{}.Encode()};
        return TCycleRig::TAnswer{0, command == kv::cmdPoll ? kv::PollAnswer{}.Encode() : Bytes{}};
    });
    rig.Open();
    ASSERT_TRUE(rig.RunUntilDone(kv::cmdPoll));
    rig.flags.pending[kv::pendWriteSettings] = true;
    ASSERT_TRUE(rig.RunUntilDone(kv::cmdPoll)); // the write now waits for its start
    ASSERT_EQ(rig.link.MBMasterCommandToSlave(), kv::cmdWriteSettings);
    ASSERT_TRUE(rig.link.MBQueryPending());
    const std::size_t ends = rig.ended.size();
    rig.Push(kv::cmdWriteSettings, 0, {}); // a stray acknowledgement, as a late one would come
    rig.port.DeliverPending();
    EXPECT_EQ(rig.ended.size(), ends); // not even an end
    EXPECT_TRUE(rig.flags.pending[kv::pendWriteSettings]);
    EXPECT_EQ(writes, 0);
    ASSERT_TRUE(rig.RunUntilDone(kv::cmdWriteSettings));
    EXPECT_EQ(writes, 1);
    EXPECT_FALSE(rig.flags.pending[kv::pendWriteSettings]);
}

// Each command meets an answer whose length belongs to another: judged
// crossed, nothing handed on, nothing released, and a poll follows.
TEST(LateAnswers, AnAnswerOfAnotherCommandIsAFailure) {
    const struct {
        kv::TPendingCommand pending;
        std::uint8_t command;
        Bytes answer;
    } cases[] = {
        {kv::pendReadSettings, kv::cmdReadSettings, kv::PollAnswer{}.Encode()},
        {kv::pendReadSettings, kv::cmdReadSettings, {}},
        {kv::pendReadFactoryDefaults, kv::cmdReadFactoryDefaults, kv::PollAnswer{}.Encode()},
        {kv::pendWriteSettings, kv::cmdWriteSettings, kv::PollAnswer{}.Encode()},
        {kv::pendWriteInputCalibration, kv::cmdWriteInputCalibration, kv::PollAnswer{}.Encode()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(int(c.command) * 1000 + int(c.answer.size()));
        TCycleRig rig(false);
        rig.Script([&](std::uint8_t command, const Bytes&) {
            return TCycleRig::TAnswer{0, command == kv::cmdPoll ? kv::PollAnswer{}.Encode() : c.answer};
        });
        rig.flags.pending[c.pending] = true;
        rig.Open();
        ASSERT_TRUE(rig.Run(3));
        EXPECT_EQ(rig.Commands(), (Bytes{1, c.command, 1}));
        EXPECT_TRUE(rig.ended[1].end.Crossed);
        EXPECT_FALSE(rig.ended[1].end.Done);
        EXPECT_TRUE(rig.flags.pending[c.pending]);
        EXPECT_TRUE(rig.settings.empty());
        EXPECT_EQ(rig.polls.size(), 2u);
    }
    // A poll answered by a settings record or an acknowledgement: a poll
    // again, never a pending command.
    for (const Bytes& answer : {kv::SettingsRecord{}.Encode(), Bytes{}}) {
        TCycleRig rig(false);
        rig.Script([&](std::uint8_t, const Bytes&) { return TCycleRig::TAnswer{0, answer}; });
        rig.flags.pending[kv::pendReadSettings] = true;
        rig.Open();
        ASSERT_TRUE(rig.Run(2));
        EXPECT_EQ(rig.Commands(), (Bytes{1, 1}));
        EXPECT_TRUE(rig.ended[0].end.Crossed);
        EXPECT_TRUE(rig.polls.empty());
    }
}

// A device slower than usual but within the time-out: one stray answer (of
// an earlier program on the port, say) puts every later request one answer
// behind, unless the cycle waits out the crossed request's own answer.
TEST(LateAnswers, OneStrayAnswerDoesNotPutTheCycleOutOfStep) {
    TCycleRig rig;
    rig.link.setMBMasterTimeOut(2000);
    rig.device->Console("late on 1500");
    rig.flags.pending[kv::pendReadSettings] = true;
    rig.Open();
    ASSERT_TRUE(rig.RunUntilDone(kv::cmdReadSettings));
    ASSERT_TRUE(rig.RunUntilDone(kv::cmdPoll));
    rig.RunFor(100); // a poll is waiting for its answer now
    ASSERT_FALSE(rig.link.MBQueryPending());
    rig.Push(kv::cmdReadSettings, 0, kv::SettingsRecord{}.Encode());
    rig.port.DeliverPending();
    ASSERT_TRUE(rig.ended.back().end.Crossed);
    const std::size_t from = rig.ended.size();
    rig.flags.pending[kv::pendReadSettings] = true;
    ASSERT_TRUE(rig.Run(8, 60000));
    for (std::size_t i = from; i < rig.ended.size(); ++i)
        EXPECT_TRUE(rig.ended[i].end.Done) << i << " command " << int(rig.ended[i].end.Command);
    EXPECT_EQ(rig.Commands(from), (Bytes{1, 6, 1, 1, 1, 1, 1, 1}));
}

TEST(LateAnswers, LengthsThatBelongToAnotherCommand) {
    const struct {
        std::uint8_t command;
        std::size_t length;
        bool fits;
    } cases[] = {
        {kv::cmdPoll, 82, true},         {kv::cmdPoll, 15, false},          {kv::cmdPoll, 0, false},
        {kv::cmdPoll, 40, true},         {kv::cmdReadSettings, 15, true},   {kv::cmdReadSettings, 82, false},
        {kv::cmdReadSettings, 0, false}, {kv::cmdReadSettings, 9, true},    {kv::cmdReadFactoryDefaults, 82, false},
        {kv::cmdWriteSettings, 0, true}, {kv::cmdWriteSettings, 82, false}, {kv::cmdWriteSettings, 15, true},
        {kv::cmdWriteInputCalibration, 82, false}, {kv::cmdWriteOutputCalibration, 0, true}, {9, 82, true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(kv::AnswerLengthFits(c.command, c.length), c.fits) << int(c.command) << " " << c.length;
}
