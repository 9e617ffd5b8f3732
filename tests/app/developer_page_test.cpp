// The developer page: when the switch buttons force the device, how the
// state marks and buttons follow the answers, and what a page change starts.
#include "SpeedButton.h"
#include "status_support.h"

#include <QFrame>

using statustest::GoodAnswer;
using statustest::TWindow;

namespace {

struct TPages {
    bool developerPage, fetPage, forceDown;
};

void Show(TForm_Main& f, const TPages& p) {
    f.PageControl1->setCurrentWidget(p.developerPage ? f.TabSheet_DeveloperTool : f.TabSheet_Settings);
    f.PageControl2->setCurrentWidget(p.fetPage ? f.TabSheet_FETControl : f.TabSheet_SystemInfo);
    f.SpeedButton_FETForceControl->setDown(p.forceDown);
}

TEST(DeveloperForcing, OnlyWhilePageSubPageAndForceControlAllHold) {
    TWindow w(true);
    for (int bits = 0; bits < 8; ++bits) {
        const TPages p{(bits & 1) != 0, (bits & 2) != 0, (bits & 4) != 0};
        Show(w.form, p);
        EXPECT_EQ(w.form.SwitchForcingActive(), bits == 7) << bits;
    }
    // The other pages of the developer page end it too.
    Show(w.form, {true, true, true});
    for (QWidget* page : {w.form.TabSheet_InputCalibration, w.form.TabSheet_OutputCalibration}) {
        w.form.PageControl2->setCurrentWidget(page);
        EXPECT_FALSE(w.form.SwitchForcingActive());
    }
    w.form.PageControl2->setCurrentWidget(w.form.TabSheet_FETControl);
    EXPECT_TRUE(w.form.SwitchForcingActive());
}

TEST(DeveloperForcing, NeverWithoutDeveloperAccess) {
    TWindow w(false);
    w.form.PageControl1->setCurrentWidget(w.form.TabSheet_DeveloperTool);
    w.form.PageControl2->setCurrentWidget(w.form.TabSheet_FETControl);
    w.form.SpeedButton_FETForceControl->setDown(true);
    EXPECT_FALSE(w.form.SwitchForcingActive());
}

// The six switch buttons as (3W, AZ, Kelvin, Pot. Fix, 3W Alt, I 400 uA).
std::vector<bool> Buttons(const TForm_Main& f) {
    return {f.SpeedButton_3W->Down(),   f.SpeedButton_Az->Down(),    f.SpeedButton_Kelvin->Down(),
            f.SpeedButton_PotR->Down(), f.SpeedButton_3WAlt->Down(), f.SpeedButton_I400uA->Down()};
}

// The eleven marks, shown or not.
std::vector<bool> Marks(const TForm_Main& f) {
    const QFrame* marks[] = {f.Shape_3W,      f.Shape_Az,      f.Shape_Azn,     f.Shape_Kelvin,
                             f.Shape_KelvinNeg, f.Shape_I400uA1, f.Shape_I400uA2, f.Shape_I400uAn,
                             f.Shape_PotR,    f.Shape_3WAlt,   f.Shape_3WAltn};
    std::vector<bool> shown;
    for (const QFrame* m : marks)
        shown.push_back(!m->isHidden());
    return shown;
}

TEST(DeveloperSwitches, MarksAndButtonsFollowTheDeviceWhenNotForcing) {
    const struct {
        std::uint16_t word;
        std::vector<bool> marks, buttons;
    } cases[] = {
        // 3W AZ AZn Kel KelN I1 I2 In PotR 3WA 3WAn
        {0x0000, {0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0}, {0, 0, 0, 0, 0, 0}},
        {0x0108, {0, 0, 0, 0, 1, 1, 1, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 1}},
        {0x01FF, {1, 1, 1, 1, 1, 1, 1, 0, 1, 1, 1}, {1, 1, 1, 1, 1, 1}},
        {0xFE00, {0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0}, {0, 0, 0, 0, 0, 0}}, // bits 15 to 9 are not read
        {0x00D6, {1, 1, 0, 1, 0, 0, 0, 1, 1, 1, 0}, {1, 1, 1, 1, 1, 0}},
    };
    TWindow w(true);
    Show(w.form, {true, true, false});
    for (const auto& c : cases) {
        // A button pressed by hand lasts only until the next answer.
        w.form.SpeedButton_3W->Click();
        kv::PollAnswer a = GoodAnswer();
        a.SwitchStates = c.word;
        w.Decode(a);
        EXPECT_EQ(Marks(w.form), c.marks) << std::hex << c.word;
        EXPECT_EQ(Buttons(w.form), c.buttons) << std::hex << c.word;
    }
}

TEST(DeveloperSwitches, ForcingKeepsTheUsersButtonsAndMovesOnlyTheMarks) {
    TWindow w(true);
    auto& f = w.form;
    Show(f, {true, true, false});
    kv::PollAnswer a = GoodAnswer();
    a.SwitchStates = 0x0108;
    w.Decode(a);
    // Forcing starts from the states the device had last.
    f.SpeedButton_FETForceControl->Click();
    ASSERT_TRUE(f.SwitchForcingActive());
    EXPECT_EQ(Buttons(f), (std::vector<bool>{0, 0, 0, 0, 0, 1}));
    f.SpeedButton_3W->Click();
    f.SpeedButton_I400uA->Click();
    a.SwitchStates = 0x0010;
    w.Decode(a);
    EXPECT_EQ(Buttons(f), (std::vector<bool>{1, 0, 0, 0, 0, 0}));
    EXPECT_EQ(Marks(f), (std::vector<bool>{0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0}));

    // Away on the system page the device leads again; coming back resumes
    // forcing with the buttons as they are then.
    f.PageControl2->setCurrentWidget(f.TabSheet_SystemInfo);
    a.SwitchStates = 0x0040;
    w.Decode(a);
    EXPECT_EQ(Buttons(f), (std::vector<bool>{0, 1, 0, 0, 0, 0}));
    f.PageControl2->setCurrentWidget(f.TabSheet_FETControl);
    a.SwitchStates = 0x0000;
    w.Decode(a);
    EXPECT_EQ(Buttons(f), (std::vector<bool>{0, 1, 0, 0, 0, 0}));
    EXPECT_TRUE(f.SpeedButton_FETForceControl->Down());
}

TEST(DeveloperPages, OutputCalibrationRestartsAtItsFirstStepEveryTime) {
    TWindow w(true);
    auto& f = w.form;
    f.PageControl1->setCurrentWidget(f.TabSheet_DeveloperTool);
    for (int round = 0; round < 2; ++round) {
        f.PageControl4->setCurrentIndex(3);
        f.PageControl3->setCurrentIndex(5);
        f.PageControl2->setCurrentWidget(f.TabSheet_OutputCalibration);
        EXPECT_EQ(f.PageControl4->currentWidget(), f.TabSheet_OutCalStep1);
        // Half done again, then away: the other pages keep their state.
        f.PageControl4->setCurrentIndex(3);
        f.PageControl2->setCurrentWidget(f.TabSheet_InputCalibration);
        f.PageControl2->setCurrentWidget(f.TabSheet_SystemInfo);
        f.PageControl2->setCurrentWidget(f.TabSheet_FETControl);
        EXPECT_EQ(f.PageControl4->currentIndex(), 3);
        EXPECT_EQ(f.PageControl3->currentIndex(), 5);
    }
}

} // namespace
