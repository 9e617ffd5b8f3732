// The output calibration wizard against the in-process device: the value the
// page shows and forces, its steps and log, the record it writes, and that
// the forcing never outlives the page.
#include "poll_support.h"

#include "DeviceRecords.h"

#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QTest>

#include <array>
#include <functional>

using namespace polltest;

namespace {

// The window on the developer page, polling the device.
struct TRig : TPollRig {
    explicit TRig(const kvsim::TDeviceConfig& config = kvsim::TDeviceConfig::Steady()) : TPollRig(true, true, config) {
        Open();
        EXPECT_TRUE(Run(3));
    }
    TForm_Main& f() { return *form; }
    void ShowPage() {
        f().PageControl1->setCurrentWidget(f().TabSheet_DeveloperTool);
        f().PageControl2->setCurrentWidget(f().TabSheet_OutputCalibration);
    }
    // The PWM word of the first poll composed from now on, as the device got it.
    int NextPWMWord() {
        const std::size_t from = ended.size();
        // The poll under way was composed before.
        if (!RunUntil(kv::cmdPoll) || !RunUntil(kv::cmdPoll))
            return -1;
        for (std::size_t i = ended.size(); i-- > from;)
            if (ended[i].command == kv::cmdPoll)
                return ended[i].sent[0] | ended[i].sent[1] << 8;
        return -1;
    }
    std::vector<std::string> Log() {
        std::vector<std::string> lines;
        for (int i = 0; i < f().ListBox_OutputCalibrated->count(); ++i)
            lines.push_back(f().ListBox_OutputCalibrated->item(i)->text().toStdString());
        return lines;
    }
    void SetValue(std::int32_t v) {
        f().PWMValue = v;
        f().ShowPWMValue();
    }
    void Next() { f().SpeedButton_OutputCalibrationNext->Click(); }
    void Back() { f().SpeedButton_OutputCalibrationBack->Click(); }
    int Step() { return f().PageControl4->currentIndex() + 1; }
};

// The first visit forces 1, not 0 (the device reads 0 as "not forced").
TEST(OutputCalibrationPage, FirstVisitAndValueButtonsClampAndTheDisplayFollows) {
    const struct {
        std::int32_t from;
        QPushButton* TForm_Main::*button;
        std::int32_t to;
        const char* text;
        int bar;
    } cases[] = {
        {10000, &TForm_Main::Button_IM10000, 0, "00 000", 0},
        {9999, &TForm_Main::Button_IM10000, 0, "00 000", 0},
        {55535, &TForm_Main::Button_IP10000, 65535, "65 535", 100},
        {55536, &TForm_Main::Button_IP10000, 65535, "65 535", 100},
        {0, &TForm_Main::Button_IM1, 0, "00 000", 0},
        {65535, &TForm_Main::Button_IP1, 65535, "65 535", 100},
        {32766, &TForm_Main::Button_IP1, 32767, "32 767", 50},
        {32767, &TForm_Main::Button_IP1, 32768, "32 768", 50},
        {1134, &TForm_Main::Button_IP100, 1234, "01 234", 2},
        {1234, &TForm_Main::Button_IM1000, 234, "00 234", 0},
        {65000, &TForm_Main::Button_IP1000, 65535, "65 535", 100},
        {1234, &TForm_Main::Button_Out0, 0, "00 000", 0},
        {1234, &TForm_Main::Button_OutVegertek, 65535, "65 535", 100},
    };
    TRig r;
    EXPECT_EQ(r.NextPWMWord(), 0);
    r.ShowPage();
    EXPECT_EQ(r.f().Label_BeallitottPWM->text(), QStringLiteral("00 000"));
    EXPECT_EQ(r.f().TrackBar_PWM->value() + r.f().ProgressBar_OutputCalibration->value(), 0);
    EXPECT_EQ(r.NextPWMWord(), 1);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        r.SetValue(c.from);
        (r.f().*c.button)->click();
        EXPECT_EQ(r.f().PWMValue, c.to);
        EXPECT_EQ(r.f().Label_BeallitottPWM->text().toStdString(), c.text);
        EXPECT_EQ(r.f().TrackBar_PWM->value(), c.bar);
        EXPECT_EQ(r.f().ProgressBar_OutputCalibration->value(), c.bar);
        EXPECT_EQ(r.f().PWMForceValue, std::max(c.to, 1));
    }
    EXPECT_EQ(r.NextPWMWord(), 65535);
}

// The operator's hand on the track bar, by mouse or keyboard; ShowPWMValue
// neither moves it under the hand nor is taken for a move.
TEST(OutputCalibrationPage, TrackBarCountsOnlyWhileItHasTheFocus) {
    TRig r;
    r.ShowPage();
    QSlider* bar = r.f().TrackBar_PWM;
    bar->setValue(40);
    EXPECT_EQ(r.f().PWMValue, 0);
    r.f().show();
    QApplication::setActiveWindow(r.form.get());
    bar->setFocus();
    QApplication::processEvents();
    if (!bar->hasFocus())
        GTEST_SKIP() << "this platform gives no keyboard focus";
    const struct {
        std::function<void()> move;
        std::int32_t pwm;
    } moves[] = {
        {[&] { bar->setValue(1); }, 655},
        {[&] { bar->setValue(100); }, 65535},
        {[&] { QTest::keyClick(bar, Qt::Key_Home); }, 0},
        {[&] { QTest::keyClick(bar, Qt::Key_Right); }, 655},
        {[&] { QTest::keyClick(bar, Qt::Key_PageUp); }, 7209},
        {[&] { QTest::keyClick(bar, Qt::Key_End); }, 65535},
        {[&] { QTest::keyClick(bar, Qt::Key_PageDown); }, 58982},
        {[&] { QTest::keyClick(bar, Qt::Key_Left); }, 58326},
    };
    for (const auto& m : moves) {
        m.move();
        EXPECT_EQ(r.f().PWMValue, m.pwm);
        EXPECT_EQ(r.f().ProgressBar_OutputCalibration->value(), bar->value());
    }
    r.f().Button_IP1000->click(); // a click by program leaves the focus where it is
    EXPECT_EQ(r.f().PWMValue, 59326);
    EXPECT_EQ(bar->value(), 89); // left alone, though 59326 is at 91
    EXPECT_EQ(r.f().ProgressBar_OutputCalibration->value(), 91);
    EXPECT_EQ(r.NextPWMWord(), 59326);
}

TEST(OutputCalibrationPage, CheckStepsForceTheMidpointsTiesToEven) {
    const struct {
        std::int32_t low, high, mid, lowV, highV, midV;
    } cases[] = {
        {1000, 1003, 1002, 1001, 1004, 1002},
        {1000, 1005, 1002, 1001, 1006, 1004},
        {11000, 54000, 32500, 10001, 54002, 32002},
    };
    TRig r;
    r.ShowPage();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.high);
        r.f().PWMForIL = c.low;
        r.f().PWMForIH = c.high;
        r.f().PWMForUL = c.lowV;
        r.f().PWMForUH = c.highV;
        r.f().PageControl4->setCurrentWidget(r.f().TabSheet_OutCalStep3);
        r.f().UpdateOutputCalibrationPage();
        EXPECT_TRUE(r.f().SpeedButton_Test12mA->Down());
        EXPECT_EQ(r.f().PWMForceValue, c.mid);
        r.f().SpeedButton_Test20mA->Click();
        EXPECT_EQ(r.f().PWMForceValue, c.high);
        // A click event of a button that is not down does nothing.
        r.f().SpeedButton_Test4mAClick();
        EXPECT_EQ(r.f().PWMForceValue, c.high);
        r.f().SpeedButton_Test4mA->Click();
        EXPECT_EQ(r.f().PWMForceValue, c.low);
        r.f().PageControl4->setCurrentWidget(r.f().TabSheet_OutCalStep6);
        r.f().UpdateOutputCalibrationPage();
        EXPECT_TRUE(r.f().SpeedButton_Test6V->Down());
        EXPECT_EQ(r.f().PWMForceValue, c.midV);
        r.f().SpeedButton_Test10V->Click();
        EXPECT_EQ(r.f().PWMForceValue, c.highV);
    }
}

// Next and Back through the steps: what each stores, forces and logs.
TEST(OutputCalibrationSteps, NextStoresTheForcedValueAndBackTakesItsLinesAway) {
    const struct {
        char action;         // 'N' Next (after setting the value, if any), 'B' Back
        std::int32_t value;  // -1: as it is
        int step, lines, force;
    } walk[] = {
        {'N', -1, 2, 2, 65535},    // step 1 at 0 stores 1
        {'N', 54000, 3, 5, 27000}, // 27000.5 to even
        {'N', -1, 4, 5, 1},        // step 3 logs nothing
        {'B', -1, 3, 5, 27000},    // back from 4 removes nothing, forces the midpoint again
        {'B', -1, 2, 2, 54000},    // back from 3 removes step 2's lines, forces its value
        {'N', -1, 3, 5, 27000},
        {'N', -1, 4, 5, 1},
        {'N', 10900, 5, 8, 65535},
        {'N', 54600, 6, 11, 32750},
        {'N', -1, 7, 11, 32750},   // the last forced value stays
        {'B', -1, 6, 11, 32750},
        {'B', -1, 5, 8, 54600},
        {'N', 54601, 6, 11, 32750},
        {'N', -1, 7, 11, 32750},
    };
    TRig r;
    r.ShowPage();
    EXPECT_TRUE(r.f().SpeedButton_OutputCalibrationBack->isHidden());
    for (const auto& w : walk) {
        SCOPED_TRACE(testing::Message() << w.action << " to step " << w.step);
        if (w.value >= 0)
            r.SetValue(w.value);
        w.action == 'N' ? r.Next() : r.Back();
        EXPECT_EQ(r.Step(), w.step);
        EXPECT_EQ(r.f().ListBox_OutputCalibrated->count(), w.lines);
        EXPECT_EQ(r.f().PWMForceValue, w.force);
        const bool check = w.step == 3 || w.step == 6;
        EXPECT_EQ(r.f().ProgressBar_OutputCalibration->isHidden(), !check && w.step != 7);
        EXPECT_EQ(r.f().GroupBox_PWMErtekValtoztatas->isHidden(), check || w.step == 7);
        EXPECT_EQ(r.f().GroupBox_PWM->isHidden(), w.step == 7);
        EXPECT_EQ(r.f().Label_OutputCalibrationNext->isHidden(), w.step == 7);
        EXPECT_FALSE(r.f().Label_OutputCalibrationBack->isHidden());
    }
    const std::string sep(43, '-');
    EXPECT_EQ(r.Log(), (std::vector<std::string>{"Lépés 1:", "PWMForIL =  1", sep, "Lépés 2:", "PWMForIH = 54 000", sep,
                                                 "Lépés 4:", "PWMForUL = 10 900", sep, "Lépés 5:", "PWMForUH = 54 601"}));
    // What was stored is what was forced: step 1 at 0 forced and stored 1.
    EXPECT_EQ(r.f().PWMForIL, 1);
    EXPECT_EQ(r.f().PWMForIH, 54000);
    EXPECT_EQ(r.f().PWMForUL, 10900);
    EXPECT_EQ(r.f().PWMForUH, 54601);
    EXPECT_EQ(r.NextPWMWord(), 32750);
}

// The record goes out after a good poll as four little-endian words, and
// the device then reports its output calibrated.
TEST(OutputCalibrationWrite, TheEightByteRecordIsStored) {
    kvsim::TDeviceConfig config = kvsim::TDeviceConfig::Steady();
    config.OutputCalibrated = false;
    TRig r(config);
    EXPECT_TRUE(r.f().Image_OutputCalibrationOK->isHidden());
    polltest::RunOutputCalibrationToStep7(r.f(), {0x1234, 0xFEDC, 0x0B0A, 0xD0C0});
    ASSERT_TRUE(r.RunUntil(kv::cmdWriteOutputCalibration));
    EXPECT_EQ(Hex(r.ended.back().sent), "34 12 DC FE 0A 0B C0 D0");
    EXPECT_EQ(*r.device->Model().OutputCalibration(), (kv::OutputCalibrationRecord{0x1234, 0xFEDC, 0x0B0A, 0xD0C0}));
    EXPECT_FALSE(r.f().SpeedButton_WriteOutputCalibrationToKV->Down());
    ASSERT_TRUE(r.RunUntil(kv::cmdPoll));
    EXPECT_FALSE(r.f().Image_OutputCalibrationOK->isHidden());
}

// A write the device refuses stays pending when the operator leaves the
// sub-page and comes back (the stored values are still those it was pressed
// for), and goes on being sent; the first Next that changes a stored value
// withdraws it and says so in the log, where Back leaves the note.
TEST(OutputCalibrationWrite, PendingAcrossAReturnUntilANextChangesAValue) {
    TPollRig rig(true, false);
    rig.Script([&](std::uint8_t command, const std::vector<std::uint8_t>&) -> std::optional<TPollRig::TAnswer> {
        if (command == kv::cmdPoll)
            return TPollRig::TAnswer{0, kv::PollAnswer{}.Encode()};
        return TPollRig::TAnswer{std::uint8_t(command == kv::cmdReadSettings ? 0 : 255), kv::SettingsRecord{}.Encode()};
    });
    rig.Open();
    ASSERT_TRUE(rig.RunUntil(kv::cmdReadSettings));
    TForm_Main& f = *rig.form;
    TSpeedButton* write = f.SpeedButton_WriteOutputCalibrationToKV;
    polltest::RunOutputCalibrationToStep7(f, {11000, 54000, 10900, 54600});
    const auto comeBack = [&] {
        f.PageControl2->setCurrentWidget(f.TabSheet_FETControl);
        f.PageControl2->setCurrentWidget(f.TabSheet_OutputCalibration);
    };
    comeBack();
    ASSERT_TRUE(rig.RunUntil(kv::cmdWriteOutputCalibration, stSlaveError));
    EXPECT_EQ(Hex(rig.ended.back().sent), "F8 2A F0 D2 94 2A 48 D5");
    // Through the steps again with the same values: still pending.
    for (int step = 1; step <= 6; ++step)
        f.SpeedButton_OutputCalibrationNext->Click();
    EXPECT_TRUE(write->Down());
    const QString shots = qEnvironmentVariable("KV_SCREENSHOT_DIR");
    if (!shots.isEmpty())
        f.TabSheet_OutputCalibration->grab().save(shots + QStringLiteral("/outcal_write_after_return.png"));
    // Once more, and a new 20 mA value withdraws it.
    comeBack();
    f.SpeedButton_OutputCalibrationNext->Click();
    f.Button_IP1Click();
    f.SpeedButton_OutputCalibrationNext->Click();
    EXPECT_FALSE(write->Down());
    if (!shots.isEmpty())
        f.TabSheet_OutputCalibration->grab().save(shots + QStringLiteral("/outcal_write_withdrawn.png"));
    f.SpeedButton_OutputCalibrationBack->Click();
    ASSERT_EQ(f.ListBox_OutputCalibrated->count(), 3);
    EXPECT_EQ(f.ListBox_OutputCalibrated->item(2)->text(), "Write withdrawn: value changed");
    const std::size_t from = rig.ended.size();
    ASSERT_TRUE(rig.Run(4));
    EXPECT_EQ(rig.Commands(from), std::vector<std::uint8_t>(4, kv::cmdPoll));
}

// A write that times out (five sends unanswered) or is refused goes out
// again after the next good poll, with the same record, until it is taken.
TEST(OutputCalibrationWrite, RepeatedAfterFailuresWithTheRecordTheLogShows) {
    TPollRig rig(true, false);
    int writes = 0;
    rig.Script([&](std::uint8_t command, const std::vector<std::uint8_t>&) -> std::optional<TPollRig::TAnswer> {
        if (command == kv::cmdPoll)
            return TPollRig::TAnswer{0, kv::PollAnswer{}.Encode()};
        if (command == kv::cmdReadSettings)
            return TPollRig::TAnswer{0, kv::SettingsRecord{}.Encode()};
        if (++writes <= 5)
            return std::nullopt;
        return TPollRig::TAnswer{std::uint8_t(writes == 6 ? 255 : 0), {}};
    });
    rig.Open();
    ASSERT_TRUE(rig.Run(3));
    const std::size_t from = rig.ended.size();
    polltest::RunOutputCalibrationToStep7(*rig.form, {11000, 54000, 10900, 54600});
    ASSERT_TRUE(rig.RunUntil(kv::cmdWriteOutputCalibration, stOK));
    std::vector<std::pair<std::uint8_t, bool>> seen;
    for (std::size_t i = from; i < rig.ended.size(); ++i) {
        seen.emplace_back(rig.ended[i].command, rig.ended[i].status == stOK);
        if (rig.ended[i].command == kv::cmdWriteOutputCalibration) {
            EXPECT_EQ(Hex(rig.ended[i].sent), "F8 2A F0 D2 94 2A 48 D5");
        }
    }
    const std::vector<std::pair<std::uint8_t, bool>> tail = {{1, true}, {3, false}, {1, true}, {3, false}, {1, true}, {3, true}};
    ASSERT_GE(seen.size(), tail.size());
    EXPECT_EQ(std::vector(seen.end() - static_cast<std::ptrdiff_t>(tail.size()), seen.end()), tail);
    EXPECT_EQ(writes, 7);
    EXPECT_FALSE(rig.form->SpeedButton_WriteOutputCalibrationToKV->Down());
}

// Forcing never outlives the page: each way of leaving it stops it at the
// next request; a close sends that request before the port closes, a
// hang-up none at all.
TEST(OutputCalibrationForcing, EndsWithEveryWayOfLeavingThePage) {
    const struct {
        const char* name;
        std::function<void(TRig&)> leave;
        std::function<void(TRig&)> comeBack; // null: the port is gone
        bool restarts;
        bool closingPoll = false; // the port closes after one poll without forcing
    } cases[] = {
        {"another sub-page", [](TRig& r) { r.f().PageControl2->setCurrentWidget(r.f().TabSheet_FETControl); },
         [](TRig& r) { r.f().PageControl2->setCurrentWidget(r.f().TabSheet_OutputCalibration); }, true},
        {"the settings page", [](TRig& r) { r.f().PageControl1->setCurrentWidget(r.f().TabSheet_Settings); },
         [](TRig& r) { r.f().PageControl1->setCurrentWidget(r.f().TabSheet_DeveloperTool); }, false},
        {"closing the port", [](TRig& r) { r.OpenClose()->click(); }, nullptr, false, true},
        {"a hang-up", [](TRig& r) { r.device->HangUp(); }, nullptr, false},
        {"closing the window", [](TRig& r) { r.f().close(); }, nullptr, false, true},
        // A second close while the closing poll is under way waits for it too.
        {"closing the port twice",
         [](TRig& r) {
             r.OpenClose()->click();
             r.OpenClose()->click();
         },
         nullptr, false, true},
        {"closing the window twice",
         [](TRig& r) {
             r.f().close();
             r.f().close();
         },
         nullptr, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TRig r;
        r.ShowPage();
        r.SetValue(20000);
        r.Next();
        ASSERT_EQ(r.NextPWMWord(), 65535);
        c.leave(r);
        if (!c.comeBack) {
            // The hang-up reaches the link through the event loop.
            QCoreApplication::processEvents();
            QCoreApplication::processEvents();
            const std::size_t before = r.ended.size();
            r.clock.advanceUntil([&] {
                r.port->DeliverPending();
                return !r.f().MB1->MBPortOpen();
            }, 2000);
            EXPECT_FALSE(r.f().MB1->MBPortOpen());
            if (c.closingPoll) {
                ASSERT_EQ(r.ended.size(), before + 1);
                EXPECT_EQ(r.ended.back().sent[0] | r.ended.back().sent[1] << 8 | r.ended.back().sent[7], 0);
            }
            r.port->TakeWritten();
            const std::size_t ends = r.ended.size();
            r.clock.advance(10000);
            EXPECT_TRUE(r.port->Written().isEmpty());
            // At most the request under way ends, with the port closed.
            for (std::size_t i = ends; i < r.ended.size(); ++i)
                EXPECT_EQ(r.ended[i].status, stClosedPort);
            continue;
        }
        EXPECT_EQ(r.NextPWMWord(), 0);
        c.comeBack(r);
        EXPECT_EQ(r.Step(), c.restarts ? 1 : 2);
        EXPECT_EQ(r.f().ListBox_OutputCalibrated->count(), c.restarts ? 0 : 2);
        // The stored values are the previous run's.
        EXPECT_EQ(r.NextPWMWord(), c.restarts ? 20000 : 65535);
    }
}

} // namespace
