// Answers that cross their requests: a device that answers after the link's
// time-out for a few seconds, so that each request meets the answer to the
// one before it, and then promptly again. Nothing a crossed answer carries may
// reach the settings page, the device or the stored channel averages.
#include "poll_support.h"

#include "DeviceRecords.h"

#include <cmath>

using namespace polltest;

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

struct TLateRig : TPollRig {
    explicit TLateRig(bool developer = false) : TPollRig(developer) {
        device->Model().Handle(kv::cmdWriteSettings, DeviceSettings().Encode());
    }
    // Calls check after the dispatcher has handled each end of a transaction.
    void AfterEachEnd(std::function<void()> check) {
        auto inner = form->MB1->OnMBMasterEndOfEvent;
        form->MB1->OnMBMasterEndOfEvent = [inner, check](TMBStatus s, const std::string& t) {
            inner(s, t);
            check();
        };
    }
    // Late answers for `ms` of the clock, prompt ones after it.
    void LateFor(std::int64_t ms) {
        device->Console("late on 1500");
        clock.advanceUntil([&] { port->DeliverPending(); return false; }, ms);
        device->Console("late off");
    }
};

double EditValue(const QLineEdit* e) {
    double v = NAN;
    kv::ParseDecimal(e->text().toStdString(), v);
    return v;
}

bool PageShowsDeviceSettings(const TForm_Main& f) {
    return f.RadioGroup_Mode->ItemIndex() == 1 && f.RadioGroup_Wires->ItemIndex() == 1 &&
           f.RadioGroup_OutputMode->ItemIndex() == 3 && EditValue(f.Edit_FizikaiForOutL) == -50.0 &&
           EditValue(f.Edit_FizikaiForOutH) == 150.0;
}

} // namespace

TEST(LateAnswers, SettingsPageAndWriteKeepTheDeviceSettings) {
    TLateRig rig;
    TForm_Main& f = *rig.form;
    rig.Open();
    ASSERT_TRUE(rig.RunUntil(kv::cmdReadSettings));
    ASSERT_TRUE(PageShowsDeviceSettings(f));
    int wrongPages = 0;
    rig.AfterEachEnd([&] { wrongPages += !PageShowsDeviceSettings(f); });

    // A read pressed while answers cross: each try meets a poll's answer.
    f.SpeedButton_ReadSettingsFromInstrument->setDown(true);
    rig.LateFor(6000);
    ASSERT_TRUE(rig.RunUntil(kv::cmdReadSettings));
    ASSERT_TRUE(rig.Run(3));
    EXPECT_EQ(wrongPages, 0);
    EXPECT_TRUE(PageShowsDeviceSettings(f));

    // A write of the page as it stands stores the device's own settings.
    f.SpeedButton_WriteSettingsToInstrument->setDown(true);
    rig.LateFor(6000);
    ASSERT_TRUE(rig.RunUntil(kv::cmdWriteSettings));
    ASSERT_TRUE(rig.RunUntil(kv::cmdReadSettings));
    EXPECT_EQ(rig.device->Model().Settings(), DeviceSettings());
    EXPECT_EQ(wrongPages, 0);
}

// Write pressed with a changed mode while answers cross: whenever the button
// goes up, the device holds the written record.
TEST(LateAnswers, WriteIsReleasedOnlyByItsOwnAcknowledgement) {
    TLateRig rig;
    TForm_Main& f = *rig.form;
    rig.Open();
    ASSERT_TRUE(rig.RunUntil(kv::cmdReadSettings));
    ASSERT_TRUE(rig.Run(1));
    rig.device->Console("late on 1500");
    ASSERT_TRUE(rig.Run(2)); // the answers now cross
    f.RadioGroup_Mode->setItemIndex(5);
    f.SpeedButton_WriteSettingsToInstrument->setDown(true);
    int earlyReleases = 0, releases = 0;
    rig.AfterEachEnd([&] {
        if (!f.SpeedButton_WriteSettingsToInstrument->Down() && releases++ == 0)
            earlyReleases += rig.device->Model().Settings().Mode != 5;
    });
    rig.clock.advanceUntil([&] { rig.port->DeliverPending(); return false; }, 8000);
    rig.device->Console("late off");
    ASSERT_TRUE(rig.RunUntil(kv::cmdReadSettings));
    EXPECT_GT(releases, 0);
    EXPECT_EQ(earlyReleases, 0);
    EXPECT_EQ(rig.device->Model().Settings().Mode, 5);
}

// The input calibration wizard measures with the averages of the last poll
// answer: a settings record or an acknowledgement taken as one would give it
// zeros or parts of other fields.
TEST(LateAnswers, ChannelAveragesComeOnlyFromPollAnswers) {
    TLateRig rig(true);
    TForm_Main& f = *rig.form;
    rig.Open();
    ASSERT_TRUE(rig.RunUntil(kv::cmdReadSettings));
    ASSERT_TRUE(rig.Run(1));
    const double ch0 = f.ADCH0Average, ch1 = f.ADCH1Average;
    ASSERT_NE(ch0, 0.0);
    ASSERT_NE(ch1, 0.0);
    int wrong = 0, polls = 0;
    rig.AfterEachEnd([&] {
        ++polls;
        // The steady device's counts move by a few hundredths of a percent.
        wrong += std::abs(f.ADCH0Average - ch0) > std::abs(ch0) * 0.01 ||
                 std::abs(f.ADCH1Average - ch1) > std::abs(ch1) * 0.01;
    });
    f.SpeedButton_ReadSettingsFromInstrument->setDown(true);
    rig.LateFor(4000);
    f.SpeedButton_ReadFactoryDefaultsFromInstrument->setDown(true);
    rig.LateFor(4000);
    ASSERT_TRUE(rig.RunUntil(kv::cmdReadFactoryDefaults));
    EXPECT_GT(polls, 5);
    EXPECT_EQ(wrong, 0);
}

// An end event that comes while the next request waits for its start is the
// late answer to an earlier one: the waiting request still goes out and its
// own answer decides.
TEST(LateAnswers, EndBeforeTheRequestIsSentIsNotItsResult) {
    TPollRig rig(false, false);
    TForm_Main& f = *rig.form;
    int writes = 0;
    rig.Script([&](std::uint8_t command, const std::vector<std::uint8_t>&) -> std::optional<TPollRig::TAnswer> {
        writes += command == kv::cmdWriteSettings;
        if (command == kv::cmdReadSettings)
            return TPollRig::TAnswer{0, kv::SettingsRecord{}.Encode()};
        return TPollRig::TAnswer{0, command == kv::cmdPoll ? kv::PollAnswer{}.Encode() : std::vector<std::uint8_t>{}};
    });
    rig.Open();
    ASSERT_TRUE(rig.RunUntil(kv::cmdReadSettings));
    ASSERT_TRUE(rig.RunUntil(kv::cmdPoll));
    f.SpeedButton_WriteSettingsToInstrument->setDown(true);
    ASSERT_TRUE(rig.RunUntil(kv::cmdPoll)); // the write now waits for its start
    ASSERT_EQ(f.MB1->MBMasterCommandToSlave(), kv::cmdWriteSettings);
    ASSERT_TRUE(f.MB1->MBQueryPending());
    // A stray acknowledgement, as a late one would come.
    std::string a{char(1), char(0), char(4), char(0)};
    const std::uint16_t crc = MBCRC16(a);
    a += char(crc & 0xFF);
    a += char(crc >> 8);
    rig.port->Push(QByteArray::fromStdString(
        TMBFrameCore::MBEncodeASCII('S', reinterpret_cast<const std::uint8_t*>(a.data()), a.size())));
    rig.port->DeliverPending();
    EXPECT_TRUE(f.SpeedButton_WriteSettingsToInstrument->Down());
    EXPECT_EQ(writes, 0);
    ASSERT_TRUE(rig.RunUntil(kv::cmdWriteSettings));
    EXPECT_EQ(writes, 1);
    EXPECT_FALSE(f.SpeedButton_WriteSettingsToInstrument->Down());
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
