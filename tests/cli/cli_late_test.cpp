// kvctl against a device that answers later than the link's time-out, so that
// requests meet the answers to earlier ones: every command either fails with
// a message that says so or reports exactly what the device holds, and a
// backup is only ever the device's settings.
#include "cli_support.h"

#include "SettingsModel.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

using clitest::TCtlRig;

namespace {

QString S(const QByteArray& b) { return QString::fromUtf8(b); }

// What the device held: mode 1 (Pt 1000), CJC 2, 0..100.
kv::SettingsRecord Held() {
    kv::SettingsRecord r;
    r.Mode = 1;
    r.CJC = 2;
    return r;
}

// A backup holds the record's values exactly.
kv::SettingsPage PageOf(const kv::SettingsRecord& r) { return kv::ExactPageFromRecord(r); }

// The answers turn late `afterMs` into the command, and stay late.
void RunLate(TCtlRig& rig, const QStringList& args, std::int64_t afterMs) {
    rig.config.Settings = Held();
    rig.Start(args);
    ASSERT_NE(rig.device, nullptr);
    rig.RunUntil([&] { return rig.ctl->Finished() || rig.clock.now() >= afterMs; });
    rig.device->Console("late on 1500");
    rig.RunUntil([&] { return rig.ctl->Finished(); }, 300000);
    ASSERT_TRUE(rig.ctl->Finished());
}

const char kCrossed[] = "answers later than the time-out (1000 ms)";
// The prompt commands take about 70 to 200 ms: each offset meets another step.
const std::int64_t kLateAfter[] = {0, 5, 15, 25, 35, 50, 70, 100, 140, 180};

} // namespace

TEST(KvctlLate, SettingsGetFailsOrGivesTheDevicesSettings) {
    for (std::int64_t after : kLateAfter) {
        SCOPED_TRACE(after);
        TCtlRig rig;
        RunLate(rig, {"settings", "get", "--json"}, after);
        if (rig.ctl->ExitCode() == 0) {
            EXPECT_TRUE(S(rig.out).contains("\"mode\": 1")) << S(rig.out).toStdString();
            EXPECT_TRUE(S(rig.out).contains("\"cjc\": 2")) << S(rig.out).toStdString();
        } else {
            EXPECT_EQ(rig.ctl->ExitCode(), 3);
            EXPECT_TRUE(S(rig.err).contains(kCrossed)) << S(rig.err).toStdString();
            // The failure's object: no settings, the exit code and why.
            const QJsonObject o = QJsonDocument::fromJson(rig.out).object();
            EXPECT_TRUE(o["settings"].isNull()) << S(rig.out).toStdString();
            EXPECT_EQ(o["exit_code"].toInt(), 3);
            EXPECT_TRUE(o["error"].toString().contains(kCrossed));
        }
    }
}

TEST(KvctlLate, SettingsSetBacksUpOnlyTheDevicesSettings) {
    QTemporaryDir dir;
    QFile want(dir.filePath("want.kvs"));
    ASSERT_TRUE(want.open(QIODevice::WriteOnly));
    want.write("[Header]\nKV=KV5510/KV7730\n[Settings]\nRadioGroup_Mode=2\nRadioGroup_Wires=2\n"
               "RadioGroup_TCType=3\nRadioGroup_CJC=0\nRadioGroup_RefreshTime=0\nRadioGroup_OutputMode=1\n"
               "RadioButton_ErrorLow=1\nRadioButton_ErrorHigh=0\nCheckBox_DisableErrorSignal=0\n"
               "Edit_FizikaiForOutL=0\nEdit_FizikaiForOutH=850\n[Date]\nDate=2026-12-06\n");
    want.close();
    for (std::int64_t after : kLateAfter) {
        SCOPED_TRACE(after);
        const QString backup = dir.filePath(QStringLiteral("b%1.kvs").arg(after));
        TCtlRig rig;
        RunLate(rig, {"settings", "set", want.fileName(), "--backup", backup}, after);
        const kv::SettingsRecord stored = rig.device->Model().Settings();
        const QString err = S(rig.err);
        if (QFile::exists(backup)) {
            const kv::SettingsFileLoad load = kv::LoadSettingsFile(backup);
            ASSERT_EQ(load.status, kv::SettingsFileLoad::Loaded);
            EXPECT_EQ(load.page, PageOf(Held()));
        } else {
            EXPECT_FALSE(err.contains("held before")) << err.toStdString();
        }
        if (rig.ctl->ExitCode() == 0) {
            EXPECT_EQ(stored.Mode, 2);
            EXPECT_EQ(stored.FizikaiForOutH, 850.0f);
            EXPECT_TRUE(S(rig.out).contains("written and verified"));
        } else {
            EXPECT_EQ(rig.ctl->ExitCode(), 3);
            EXPECT_TRUE(err.contains(kCrossed)) << err.toStdString();
            // What happened to the device is said as far as it is known.
            EXPECT_TRUE(err.contains("nothing was written") || err.contains("NOT acknowledged") ||
                        err.contains("not read back"))
                << err.toStdString();
            if (err.contains("nothing was written")) {
                EXPECT_EQ(stored, Held());
            }
        }
    }
}

TEST(KvctlLate, StatusFailsOrShowsTheDevice) {
    const kv::SettingsPage page = PageOf(Held());
    ASSERT_EQ(page.Mode, 1);
    for (std::int64_t after : kLateAfter) {
        SCOPED_TRACE(after);
        TCtlRig rig;
        RunLate(rig, {"status"}, after);
        if (rig.ctl->ExitCode() == 0) {
            EXPECT_TRUE(S(rig.out).contains("Firmware:              v2016-10-11")) << S(rig.out).toStdString();
            EXPECT_TRUE(S(rig.out).contains(QString::fromUtf8("Input mode:            Hőmérséklet  (Pt 1000)")))
                << S(rig.out).toStdString();
        } else {
            EXPECT_EQ(rig.ctl->ExitCode(), 3);
            EXPECT_TRUE(S(rig.err).contains(kCrossed)) << S(rig.err).toStdString();
        }
    }
    // A time-out longer than the device's delay: the answers are its own again.
    TCtlRig patient;
    RunLate(patient, {"status", "--timeout", "2000"}, 0);
    EXPECT_EQ(patient.ctl->ExitCode(), 0) << S(patient.err).toStdString();
    EXPECT_TRUE(S(patient.out).contains("Firmware:              v2016-10-11"));
}
