// The window's side of the poll cycle: what a poll request carries from the
// pages shown, and what the window shows while the device answers or not.
// The cycle's own order and release rules: tests/device.
#include "poll_support.h"

#include "DeviceRecords.h"
#include "IniFile.h"

#include <QCoreApplication>
#include <QFile>
#include <QListWidget>

#include <functional>

using namespace polltest;
using Bytes = std::vector<std::uint8_t>;

namespace {

// The data bytes of the poll that StartPoll composes now.
Bytes PollData(TForm_Main& f) {
    f.StartPoll();
    EXPECT_EQ(f.MB1->MBMasterCommandToSlave(), kv::cmdPoll);
    Bytes b;
    for (int i = 1; i <= f.MB1->MBDataNumberToSend(); ++i)
        b.push_back(f.MB1->MBTXDataAt(i));
    return b;
}

void ShowDeveloperPage(TForm_Main& f, QWidget* page) {
    f.PageControl1->setCurrentWidget(f.TabSheet_DeveloperTool);
    f.PageControl2->setCurrentWidget(page);
}

} // namespace

TEST(PollRequest, CarriesDateMaintenancePwmAndSwitches) {
    struct Case {
        const char* name;
        std::function<void(TForm_Main&)> setup;
        const char* bytes;
    };
    const Case cases[] = {
        {"nothing down, settings page", [](TForm_Main&) {}, "00 00 00 EA 07 0C 06 00"},
        {"restart and pot 0 % down",
         [](TForm_Main& f) {
             f.SpeedButton_Reset->setDown(true);
             f.SpeedButton_Pot0->setDown(true);
         },
         "00 00 30 EA 07 0C 06 00"},
        {"every maintenance button of its own group down",
         [](TForm_Main& f) {
             f.SpeedButton_Rof2Wire->setDown(true);
             f.SpeedButton_PotDefault->setDown(true);
             f.SpeedButton_Reset->setDown(true);
             f.SpeedButton_HomersekletMinMaxTorlese->setDown(true);
         },
         "00 00 93 EA 07 0C 06 00"},
        {"force control, no switch",
         [](TForm_Main& f) {
             ShowDeveloperPage(f, f.TabSheet_FETControl);
             f.SpeedButton_FETForceControl->setDown(true);
         },
         "00 00 00 EA 07 0C 06 80"},
        {"force control with 3W",
         [](TForm_Main& f) {
             ShowDeveloperPage(f, f.TabSheet_FETControl);
             f.SpeedButton_FETForceControl->setDown(true);
             f.SpeedButton_3W->setDown(true);
         },
         "00 00 00 EA 07 0C 06 C0"},
        {"switches down, force control up",
         [](TForm_Main& f) {
             ShowDeveloperPage(f, f.TabSheet_FETControl);
             f.SpeedButton_3W->setDown(true);
             f.SpeedButton_Kelvin->setDown(true);
         },
         "00 00 00 EA 07 0C 06 00"},
        {"forcing left on the FET page, settings page shown",
         [](TForm_Main& f) {
             ShowDeveloperPage(f, f.TabSheet_FETControl);
             f.SpeedButton_FETForceControl->setDown(true);
             f.PageControl1->setCurrentWidget(f.TabSheet_Settings);
         },
         "00 00 00 EA 07 0C 06 00"},
        {"input calibration step 13, forcing left on",
         [](TForm_Main& f) {
             f.SpeedButton_FETForceControl->setDown(true);
             ShowDeveloperPage(f, f.TabSheet_InputCalibration);
             f.PageControl3->setCurrentWidget(f.TabSheet_Step13);
         },
         "00 00 00 EA 07 0C 06 AE"},
        {"input calibration step 23",
         [](TForm_Main& f) {
             ShowDeveloperPage(f, f.TabSheet_InputCalibration);
             f.PageControl3->setCurrentWidget(f.TabSheet_Step23);
         },
         "00 00 00 EA 07 0C 06 00"},
        {"output calibration, PWM 1234",
         [](TForm_Main& f) {
             ShowDeveloperPage(f, f.TabSheet_OutputCalibration);
             f.PWMForceValue = 1234;
         },
         "D2 04 00 EA 07 0C 06 00"},
        {"PWM 1234 on another page",
         [](TForm_Main& f) {
             ShowDeveloperPage(f, f.TabSheet_SystemInfo);
             f.PWMForceValue = 1234;
         },
         "00 00 00 EA 07 0C 06 00"},
        {"PWM beyond the word holds at its end",
         [](TForm_Main& f) {
             ShowDeveloperPage(f, f.TabSheet_OutputCalibration);
             f.PWMForceValue = 70000;
         },
         "FF FF 00 EA 07 0C 06 00"},
        {"another day",
         [](TForm_Main& f) { f.LocalDate = [] { return QDate(2027, 1, 31); }; },
         "00 00 00 EB 07 01 1F 00"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TPollRig rig(true, false);
        c.setup(*rig.form);
        EXPECT_EQ(Hex(PollData(*rig.form)), c.bytes);
    }
}

TEST(PollRequest, SwitchesOfEveryInputCalibrationStep) {
    TPollRig rig(true, false);
    TForm_Main& f = *rig.form;
    ShowDeveloperPage(f, f.TabSheet_InputCalibration);
    const std::pair<QWidget*, std::uint8_t> steps[] = {
        {f.TabSheet_Step1, 0x92},  {f.TabSheet_Step2, 0x80},  {f.TabSheet_Step3, 0xC6},  {f.TabSheet_Step5, 0xC4},
        {f.TabSheet_Step6, 0xD2},  {f.TabSheet_Step7, 0xC6},  {f.TabSheet_Step10, 0xC0}, {f.TabSheet_Step11, 0xC4},
        {f.TabSheet_Step13, 0xAE}, {f.TabSheet_Step15, 0x9A}, {f.TabSheet_Step16, 0xAC}, {f.TabSheet_Step17, 0xA8},
        {f.TabSheet_Step18, 0x92}, {f.TabSheet_Step19, 0x80}, {f.TabSheet_Step20, 0x98}, {f.TabSheet_Step21, 0xA8},
        {f.TabSheet_Step22, 0x88}, {f.TabSheet_Step23, 0x00},
    };
    for (const auto& [page, fet] : steps) {
        SCOPED_TRACE(page->objectName().toStdString());
        f.PageControl3->setCurrentWidget(page);
        EXPECT_EQ(f.PollFETControl(), fet);
    }
    EXPECT_EQ(TForm_Main::FETControlByte(true, true, true, true, true, true), 0xFE);
    EXPECT_EQ(TForm_Main::FETControlByte(false, false, false, false, false, false), 0x80);
}

TEST(PollCycle, ReadsTheSettingsAfterTheFirstPoll) {
    TPollRig rig;
    EXPECT_TRUE(rig.form->PageControl1->isHidden());
    EXPECT_TRUE(rig.form->SpeedButton_ReadSettingsFromInstrument->Down());
    rig.Open();
    ASSERT_TRUE(rig.Run(4));
    EXPECT_EQ(rig.Commands(), (Bytes{1, 6, 1, 1}));
    EXPECT_EQ(rig.ended[1].status, stOK);
    EXPECT_FALSE(rig.form->SpeedButton_ReadSettingsFromInstrument->Down());
    EXPECT_TRUE(rig.DeviceGroups(true));
    EXPECT_EQ(rig.ended[0].sent, (Bytes{0, 0, 0, 0xEA, 0x07, 0x0C, 0x06, 0}));
}

TEST(PollCycle, UncomputedCalibrationIsNeverWritten) {
    TPollRig rig(true);
    rig.form->SpeedButton_WriteCalibrationToKV->setDown(true);
    rig.Open();
    ASSERT_TRUE(rig.Run(3));
    EXPECT_EQ(rig.Commands(), (Bytes{1, 1, 6}));
    EXPECT_FALSE(rig.form->SpeedButton_WriteCalibrationToKV->Down());
    EXPECT_FALSE(rig.device->Model().InputCalibration().has_value());

    rig.form->SpeedButton_WriteOutputCalibrationToKV->setDown(true);
    ASSERT_TRUE(rig.Run(2));
    EXPECT_EQ(rig.Commands(3), (Bytes{1, 1}));
    EXPECT_FALSE(rig.form->SpeedButton_WriteOutputCalibrationToKV->Down());
    EXPECT_FALSE(rig.device->Model().OutputCalibration().has_value());
}

TEST(PollCycle, WriteIsReadBackAfterTheNextPoll) {
    TPollRig rig;
    TForm_Main& f = *rig.form;
    rig.Open();
    ASSERT_TRUE(rig.RunUntil(kv::cmdReadSettings));
    f.RadioGroup_Mode->setItemIndex(3);
    f.SpeedButton_WriteSettingsToInstrument->setDown(true);
    const std::size_t from = rig.ended.size();
    ASSERT_TRUE(rig.RunUntil(kv::cmdReadSettings));
    ASSERT_TRUE(rig.Run(1));
    EXPECT_EQ(rig.Commands(from), (Bytes{1, 4, 1, 6, 1}));
    EXPECT_FALSE(f.SpeedButton_WriteSettingsToInstrument->Down());
    EXPECT_FALSE(f.SpeedButton_ReadSettingsFromInstrument->Down());
    EXPECT_EQ(rig.device->Model().Settings().Mode, 3);
    EXPECT_EQ(f.SzamitottErtekUnit, "%");
    EXPECT_EQ(f.Label_FizikaiForOutLMeretkegyseg->text(), "%");
}

TEST(PollCycle, SilentDeviceHidesTheDeviceGroupsWhilePollingGoesOn) {
    TPollRig rig;
    rig.Open();
    ASSERT_TRUE(rig.RunUntil(kv::cmdReadSettings));
    ASSERT_TRUE(rig.Run(1));
    ASSERT_TRUE(rig.DeviceGroups(true));
    rig.device->Console("silent on");
    ASSERT_TRUE(rig.Run(1));
    EXPECT_EQ(rig.ended.back().command, kv::cmdPoll);
    EXPECT_EQ(rig.ended.back().status, stTimeOut);
    EXPECT_TRUE(rig.DeviceGroups(false));
    ASSERT_TRUE(rig.Run(1));
    EXPECT_EQ(rig.ended.back().command, kv::cmdPoll);
    rig.device->Console("silent off");
    ASSERT_TRUE(rig.RunUntil(kv::cmdPoll, stOK));
    EXPECT_TRUE(rig.DeviceGroups(true));
}

TEST(PollCycle, ClosingThePortEndsTheCycleAndReopeningStartsIt) {
    TPollRig rig;
    rig.Open();
    ASSERT_TRUE(rig.RunUntil(kv::cmdReadSettings));
    ASSERT_TRUE(rig.Run(1));
    rig.clock.advance(5); // the next poll waits for its start
    rig.Close();
    rig.clock.advance(100); // the waiting start finds the port closed
    ASSERT_FALSE(rig.ended.empty());
    EXPECT_EQ(rig.ended.back().command, kv::cmdPoll);
    EXPECT_EQ(rig.ended.back().status, stClosedPort);
    EXPECT_TRUE(rig.DeviceGroups(false));
    const std::size_t n = rig.ended.size();
    const std::uint64_t answers = rig.device->AnswersSent();
    rig.clock.advance(10000);
    rig.port->DeliverPending();
    EXPECT_EQ(rig.ended.size(), n);
    EXPECT_EQ(rig.device->AnswersSent(), answers);
    EXPECT_EQ(rig.clock.activeTimerCount() > 0, true); // the panel's second keeps ticking

    rig.Open();
    ASSERT_TRUE(rig.RunUntil(kv::cmdPoll, stOK));
    EXPECT_TRUE(rig.DeviceGroups(true));
}

// An adapter pulled while polling: the window keeps the vanished port as the
// one it remembers (and writes it to its INI file), and when the port comes
// back, the panel chooses it again.
TEST(PollCycle, AHangUpKeepsTheVanishedPortRememberedUntilItComesBack) {
    TPollRig rig;
    QStringList ports{QStringLiteral("/dev/ttyMEM0"), QStringLiteral("/dev/ttyUSB0")};
    rig.form->MB1->MBSetPortLister([&](QStringList* l) { *l += ports; });
    rig.form->MB1->setMBLastUsedPort(QStringLiteral("/dev/ttyUSB0"));
    rig.Open();
    ASSERT_EQ(rig.form->MB1->Port(), QStringLiteral("/dev/ttyUSB0"));
    ASSERT_TRUE(rig.RunUntil(kv::cmdPoll, stOK));

    ports = {QStringLiteral("/dev/ttyMEM0")};
    rig.port->HangUp();
    QCoreApplication::processEvents();
    ASSERT_FALSE(rig.form->MB1->MBPortOpen());
    auto* list = rig.form->MB1->findChild<QListWidget*>(QStringLiteral("ListBox_Ports"));
    EXPECT_EQ(list->currentItem()->text(), QStringLiteral("/dev/ttyMEM0"));
    ASSERT_TRUE(rig.form->WriteIniFile());
    const kv::IniFile ini(QFile::encodeName(rig.dir.filePath(QStringLiteral("kvsetup.ini"))).toStdString());
    EXPECT_EQ(ini.ReadString("Com", "MBLastUsedPort", ""), "/dev/ttyUSB0");

    ports = {QStringLiteral("/dev/ttyMEM0"), QStringLiteral("/dev/ttyUSB0")};
    rig.form->MB1->findChild<QAbstractButton*>(QStringLiteral("Button_Ref"))->click();
    EXPECT_EQ(list->currentItem()->text(), QStringLiteral("/dev/ttyUSB0"));
    rig.OpenClose()->click();
    EXPECT_EQ(rig.form->MB1->Port(), QStringLiteral("/dev/ttyUSB0"));
    EXPECT_TRUE(rig.RunUntil(kv::cmdPoll, stOK));
}

TEST(PendingButtons, ExclusiveSetsAndLoneToggles) {
    TPollRig rig(true, false);
    TForm_Main& f = *rig.form;
    f.SpeedButton_Rof2Wire->setEnabled(true); // enabled by a physical value within 0 to 100
    struct Pair {
        TSpeedButton *first, *second;
        bool exclusive;
    };
    const Pair pairs[] = {
        {f.SpeedButton_Rof2Wire, f.SpeedButton_ResetOf2Wire, true},
        {f.SpeedButton_Pot0, f.SpeedButton_Pot100, true},
        {f.SpeedButton_Pot100, f.SpeedButton_PotDefault, true},
        {f.SpeedButton_FRAMTorlesReset, f.SpeedButton_HomersekletMinMaxTorlese, true},
        {f.SpeedButton_ReadSettingsFromInstrument, f.SpeedButton_WriteSettingsToInstrument, true},
        {f.SpeedButton_WriteSettingsToInstrument, f.SpeedButton_ReadFactoryDefaultsFromInstrument, true},
        {f.SpeedButton_Reset, f.SpeedButton_Pot0, false},
        {f.SpeedButton_ResetOf2Wire, f.SpeedButton_Pot0, false},
        {f.SpeedButton_FETForceControl, f.SpeedButton_FRAMTorlesReset, false},
        {f.SpeedButton_FETForceControl, f.SpeedButton_3W, false},
        {f.SpeedButton_3W, f.SpeedButton_Az, false},
        {f.SpeedButton_WriteCalibrationToKV, f.SpeedButton_WriteOutputCalibrationToKV, false},
    };
    for (const Pair& p : pairs) {
        SCOPED_TRACE(p.first->objectName().toStdString() + " / " + p.second->objectName().toStdString());
        p.first->setDown(false);
        p.second->setDown(false);
        p.first->Click();
        p.second->Click();
        EXPECT_EQ(p.first->Down(), !p.exclusive);
        EXPECT_TRUE(p.second->Down());
        p.second->Click(); // a click on a down button withdraws it
        EXPECT_FALSE(p.second->Down());
    }
}
