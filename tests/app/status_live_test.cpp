// The status display fed by the poll cycle from the in-process device model:
// what the device reports arrives in the window, an acknowledged maintenance
// action is released, forced switches come back as marks. With
// KV_SCREENSHOT_DIR set, it also saves pictures of the live window.
#include "MBarGraph.h"
#include "poll_support.h"

#include <QDir>
#include <QPixmap>

#include <cmath>

using polltest::TPollRig;

namespace {

QString Picture(double value, const QString& picture) {
    return QString::fromStdString(kv::FormatPicture(value, picture.toStdString()));
}

// Opens the port and runs until the settings have been read and `polls`
// further polls have ended well.
void RunLive(TPollRig& rig, int polls) {
    rig.Open();
    ASSERT_TRUE(rig.RunUntil(kv::cmdReadSettings));
    for (int i = 0; i < polls; ++i)
        ASSERT_TRUE(rig.RunUntil(kv::cmdPoll));
}

TEST(StatusLive, PollsShowWhatTheDeviceReports) {
    const polltest::TSeparator sep('.');
    TPollRig rig(true);
    RunLive(rig, 3);
    const kv::PollAnswer now = rig.device->Model().Snapshot();
    const TForm_Main& f = *rig.form;
    EXPECT_EQ(f.Label_FormverVerzio->text(), QStringLiteral("v2016-10-11"));
    EXPECT_EQ(f.Label_KalibralasDatuma->text(), QStringLiteral("2026-11-20"));
    EXPECT_EQ(f.Label_KeszulekAltipus->text(), QStringLiteral("KV7730"));
    EXPECT_EQ(f.Label_Status->text(), QStringLiteral("OK"));
    EXPECT_EQ(f.ADCH0Average, now.ADCH0Average);
    EXPECT_EQ(f.ADCH1Average, now.ADCH1Average);
    EXPECT_DOUBLE_EQ(f.MBarGraph_ADCH0->MBGValue(), now.ADCH0Average / 8388607.0);
    // A Pt 100 at 25 °C, in the formats of the mode the device reported.
    EXPECT_EQ(f.Label_fSzamitottErtek->text(), QStringLiteral("25.0 °C"));
    EXPECT_EQ(f.Label_FizikaiErtek->text(),
              Picture(now.PhysicalValue, f.FizikaiErtekFormat) + QLatin1Char(' ') + f.FizikaiErtekUnit);
    EXPECT_EQ(f.Label_OutputPercent->text(), Picture(now.OutputLevel * 100.0, QStringLiteral("0.00")) + "%");
    EXPECT_EQ(f.ProgressBar1_OutputPercent->value(), std::lround(now.OutputLevel * 100.0));
    EXPECT_TRUE(f.Label_ErrorUncalibratedInput->isHidden());
}

TEST(StatusLive, AcknowledgedMaintenanceIsReleasedAndNoLongerSent) {
    TPollRig rig(true);
    RunLive(rig, 1);
    rig.form->SpeedButton_HomersekletMinMaxTorlese->Click();
    ASSERT_TRUE(rig.form->SpeedButton_HomersekletMinMaxTorlese->Down());
    // The poll under way was composed before the click; the next one
    // carries the bit, and its answer acknowledges it.
    ASSERT_TRUE(rig.RunUntil(kv::cmdPoll));
    EXPECT_TRUE(rig.form->SpeedButton_HomersekletMinMaxTorlese->Down());
    ASSERT_TRUE(rig.RunUntil(kv::cmdPoll));
    EXPECT_EQ(rig.ended.back().sent.at(2), kv::maint::TempMinMaxClear);
    EXPECT_FALSE(rig.form->SpeedButton_HomersekletMinMaxTorlese->Down());
    ASSERT_TRUE(rig.RunUntil(kv::cmdPoll));
    EXPECT_EQ(rig.ended.back().sent.at(2), 0);
}

TEST(StatusLive, ForcedSwitchesComeBackAsMarks) {
    TPollRig rig(true);
    TForm_Main& f = *rig.form;
    RunLive(rig, 1);
    f.PageControl1->setCurrentWidget(f.TabSheet_DeveloperTool);
    f.PageControl2->setCurrentWidget(f.TabSheet_FETControl);
    f.SpeedButton_FETForceControl->Click();
    for (TSpeedButton* b : {f.SpeedButton_3W, f.SpeedButton_Az, f.SpeedButton_Kelvin, f.SpeedButton_PotR,
                            f.SpeedButton_3WAlt, f.SpeedButton_I400uA})
        b->setDown(b == f.SpeedButton_3W || b == f.SpeedButton_Kelvin);
    ASSERT_TRUE(rig.RunUntil(kv::cmdPoll)); // the device takes the forcing
    ASSERT_TRUE(rig.RunUntil(kv::cmdPoll)); // and reports it
    EXPECT_EQ(rig.ended.back().sent.at(7), kv::fet::Force | kv::fet::ThreeW | kv::fet::Kelvin);
    EXPECT_FALSE(f.Shape_3W->isHidden());
    EXPECT_FALSE(f.Shape_Kelvin->isHidden());
    EXPECT_TRUE(f.Shape_KelvinNeg->isHidden());
    EXPECT_TRUE(f.Shape_I400uA1->isHidden());
    EXPECT_FALSE(f.Shape_I400uAn->isHidden());
    EXPECT_TRUE(f.SpeedButton_3W->Down());
    EXPECT_TRUE(f.SpeedButton_Kelvin->Down());

    // Released: the device drives its switches again and the buttons follow.
    f.SpeedButton_FETForceControl->Click();
    ASSERT_TRUE(rig.RunUntil(kv::cmdPoll));
    ASSERT_TRUE(rig.RunUntil(kv::cmdPoll));
    EXPECT_EQ(rig.ended.back().sent.at(7), 0);
    EXPECT_EQ(f.SpeedButton_3W->Down(), !f.Shape_3W->isHidden());
    EXPECT_EQ(f.SpeedButton_Kelvin->Down(), !f.Shape_Kelvin->isHidden());
    EXPECT_EQ(f.SpeedButton_I400uA->Down(), !f.Shape_I400uA1->isHidden());
}

// Pictures of the live window for a person to look at; no assertion on the
// pixels.
TEST(StatusLive, Screenshots) {
    const QString dir = qEnvironmentVariable("KV_SCREENSHOT_DIR");
    if (dir.isEmpty())
        GTEST_SKIP() << "set KV_SCREENSHOT_DIR to save pictures of the live window";
    QDir().mkpath(dir);
    TPollRig rig(true);
    TForm_Main& f = *rig.form;
    f.show();
    RunLive(rig, 5);
    f.PageControl1->setCurrentWidget(f.TabSheet_Settings);
    ASSERT_TRUE(rig.RunUntil(kv::cmdPoll));
    EXPECT_TRUE(f.grab().save(dir + QStringLiteral("/status_settings.png")));
    f.PageControl1->setCurrentWidget(f.TabSheet_DeveloperTool);
    f.PageControl2->setCurrentWidget(f.TabSheet_FETControl);
    ASSERT_TRUE(rig.RunUntil(kv::cmdPoll));
    EXPECT_TRUE(f.grab().save(dir + QStringLiteral("/status_developer.png")));
    f.PageControl2->setCurrentWidget(f.TabSheet_SystemInfo);
    ASSERT_TRUE(rig.RunUntil(kv::cmdPoll));
    EXPECT_TRUE(f.grab().save(dir + QStringLiteral("/status_system.png")));
    // A broken sensor and a failed FRAM: red status, error labels.
    rig.device->Model().SetSensor(kvsim::sensorOpen);
    rig.device->Model().SetFRAMFault(true);
    rig.device->Model().Advance(kvsim::TDeviceModel::kCycleMs * 3);
    ASSERT_TRUE(rig.RunUntil(kv::cmdPoll));
    ASSERT_TRUE(rig.RunUntil(kv::cmdPoll));
    EXPECT_TRUE(f.grab().save(dir + QStringLiteral("/status_faults.png")));
}

} // namespace
