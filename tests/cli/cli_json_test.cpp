// kvctl's objects when a command fails, and what kvctl says of the device:
// every failing --json run prints its schema's object with the exit code,
// the message and how far a write got; the settings the device holds as it
// holds them; a backup that cannot be written stops the write.
#include "cli_support.h"

#include "MBFrames.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <csignal>

using clitest::TCtlRig;

namespace {

QString S(const QByteArray& b) { return QString::fromUtf8(b); }

QString WriteFile(const QTemporaryDir& dir, const char* name, const QByteArray& text) {
    const QString path = dir.filePath(QString::fromLatin1(name));
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(text);
    return path;
}

const QByteArray kThermocouple = "[Header]\nKV=KV5510/KV7730\n[Settings]\nRadioGroup_Mode=2\nRadioGroup_Wires=2\n"
                                 "RadioGroup_TCType=3\nRadioGroup_CJC=0\nRadioGroup_RefreshTime=0\n"
                                 "RadioGroup_OutputMode=1\nRadioButton_ErrorLow=0\nRadioButton_ErrorHigh=1\n"
                                 "CheckBox_DisableErrorSignal=0\nEdit_FizikaiForOutL=-10\nEdit_FizikaiForOutH=850\n"
                                 "[Date]\nDate=2026-12-06\n";

bool Wrote(const TCtlRig& rig) {
    for (const auto& e : rig.ended)
        if (e.command == kv::cmdWriteSettings)
            return true;
    return false;
}

// A device whose settings answer holds `held` byte for byte (values the
// model would never store, such as mode 12): settings reads are answered
// here, everything else by the model.
void AnswerSettingsWith(TCtlRig& rig, const kv::SettingsRecord& held) {
    auto inner = rig.port->OnWritten;
    auto wire = std::make_shared<QByteArray>();
    rig.port->OnWritten = [&rig, inner, wire, held](const QByteArray& piece) {
        *wire += piece;
        if (!wire->endsWith(';'))
            return;
        const QByteArray frame = QByteArray::fromHex(wire->mid(1, wire->size() - 2));
        if (frame.size() >= 4 && frame[2] == kv::cmdReadSettings) {
            std::string answer{char(1), frame[1], char(kv::cmdReadSettings), char(0)};
            for (std::uint8_t b : held.Encode())
                answer += static_cast<char>(b);
            const std::uint16_t crc = MBCRC16(answer);
            answer += static_cast<char>(crc & 0xFF);
            answer += static_cast<char>(crc >> 8);
            rig.port->Push(QByteArray::fromStdString(
                TMBFrameCore::MBEncodeASCII('S', reinterpret_cast<const std::uint8_t*>(answer.data()), answer.size())));
        } else {
            inner(*wire);
        }
        wire->clear();
    };
}

} // namespace

// settings set --json that fails: its object all the same, with the exit
// code, the message, and whether the write went out and was acknowledged.
TEST(KvctlJsonOnFailure, SettingsSetSaysHowFarTheWriteGot) {
    QTemporaryDir dir;
    const QString file = WriteFile(dir, "tc.kvs", kThermocouple);
    // When the fault comes: the ends before it (poll, read, poll: the write is next).
    const struct {
        const char* what;
        std::size_t after; // transactions ended before the fault
        std::function<void(TCtlRig&)> fault;
        int exit;
        const char* error;
        bool sent, acknowledged, read;
    } cases[] = {
        {"silent from the start", 0, [](TCtlRig& r) { r.device->Console("silent on"); }, 3, "no answer from the device",
         false, false, false},
        {"silent at the write", 3, [](TCtlRig& r) { r.device->Console("silent on"); }, 3,
         "the write was NOT acknowledged", true, false, true},
        {"a hang-up at the write", 3, [](TCtlRig& r) { r.device->HangUp(); }, 3, "closed (hung up)", true, false, true},
        {"the write refused", 3, [](TCtlRig& r) { r.device->Console("error 254"); }, 1, "refused command 4", true, false,
         true},
        {"answers crossed", 0, [](TCtlRig& r) { r.device->Console("late on 1500"); }, 3,
         "answers later than the time-out", false, false, false},
        {"interrupted after the acknowledgement", 4, [](TCtlRig& r) { r.ctl->Interrupt(SIGTERM); }, 128 + SIGTERM,
         "interrupted (SIGTERM); the write WAS acknowledged, but the settings were not read back", true, true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TCtlRig rig;
        rig.Start({"--json", "settings", "set", file, "--backup", dir.filePath(QStringLiteral("b-%1.kvs").arg(c.after))});
        ASSERT_TRUE(rig.RunUntil([&] { return rig.ended.size() >= c.after; }));
        c.fault(rig);
        ASSERT_TRUE(rig.RunUntil([&] { return rig.ctl->Finished(); }, 300000));
        EXPECT_EQ(rig.ctl->ExitCode(), c.exit) << S(rig.err).toStdString();
        QJsonParseError parse{};
        const QJsonObject o = QJsonDocument::fromJson(rig.out, &parse).object();
        ASSERT_EQ(parse.error, QJsonParseError::NoError) << S(rig.out).toStdString();
        EXPECT_EQ(o["schema"].toString(), "kvctl.settings.set/2");
        EXPECT_EQ(o["exit_code"].toInt(), c.exit);
        EXPECT_TRUE(o["error"].toString().contains(QString::fromLatin1(c.error))) << o["error"].toString().toStdString();
        EXPECT_EQ(o["sent"].toBool(), c.sent);
        EXPECT_EQ(o["acknowledged"].toBool(), c.acknowledged);
        EXPECT_EQ(o["written"].toBool(), c.acknowledged);
        EXPECT_TRUE(o["verified"].isNull());
        // What the file would change is known once the device was read.
        EXPECT_EQ(o["differences"].isArray(), c.read);
        EXPECT_EQ(o["backup"].isString(), c.read);
        EXPECT_TRUE(S(rig.err).contains(QString::fromLatin1(c.error))) << "stderr says the same";
    }
}

TEST(KvctlJsonOnFailure, MaintenanceAndCalibrationObjects) {
    {   // No answer after the action was carried: sent, not acknowledged.
        TCtlRig rig;
        rig.Start({"--json", "maintenance", "restart"});
        ASSERT_TRUE(rig.RunUntil([&] { return rig.ended.size() >= 2; })); // poll, settings: the action goes next
        rig.device->Console("silent on");
        ASSERT_TRUE(rig.RunUntil([&] { return rig.ctl->Finished(); }));
        EXPECT_EQ(rig.ctl->ExitCode(), 3);
        const QJsonObject o = QJsonDocument::fromJson(rig.out).object();
        EXPECT_EQ(o["schema"].toString(), "kvctl.maintenance/1");
        EXPECT_EQ(o["action"].toString(), "restart");
        EXPECT_TRUE(o["sent"].toBool());
        EXPECT_FALSE(o["acknowledged"].toBool());
        EXPECT_EQ(o["exit_code"].toInt(), 3);
        EXPECT_TRUE(o["error"].toString().contains("no answer")) << S(rig.out).toStdString();
    }
    {   // A port that does not open: the object says nothing reached the device.
        TCtlRig rig;
        rig.openError = QStringLiteral("No such file or directory");
        EXPECT_EQ(rig.Run({"--json", "calibrate", "input", "--fixture", "true"}), 3);
        const QJsonObject o = QJsonDocument::fromJson(rig.out).object();
        EXPECT_EQ(o["schema"].toString(), "kvctl.calibration/2");
        EXPECT_FALSE(o["passed"].toBool());
        EXPECT_EQ(o["record"]["state"].toString(), "not-sent");
        EXPECT_EQ(o["exit_code"].toInt(), 3);
        EXPECT_TRUE(o["error"].toString().contains("cannot open /dev/ttyMEM0")) << S(rig.out).toStdString();
    }
    {   // A usage error of a command: its object, exit 2.
        TCtlRig rig;
        EXPECT_EQ(rig.Run({"--json", "maintenance", "fly"}), 2);
        const QJsonObject o = QJsonDocument::fromJson(rig.out).object();
        EXPECT_EQ(o["exit_code"].toInt(), 2);
        EXPECT_FALSE(o["sent"].toBool());
        EXPECT_TRUE(o["error"].toString().contains("unknown maintenance action fly"));
    }
}

// What the device holds is what kvctl reports: a mode of 12 is 12 (the
// page would show the last item), and the two error flags are bit 6 (high)
// and bit 7 (disabled), each on its own.
TEST(KvctlDevice, ReportsWhatTheDeviceHolds) {
    kv::SettingsRecord odd;
    odd.Mode = 12;
    odd.CJC = 5;
    for (const bool json : {true, false}) {
        TCtlRig rig;
        rig.Start(json ? QStringList{"--json", "status"} : QStringList{"status"});
        AnswerSettingsWith(rig, odd);
        ASSERT_TRUE(rig.RunUntil([&] { return rig.ctl->Finished(); }));
        ASSERT_EQ(rig.ctl->ExitCode(), 0) << S(rig.err).toStdString();
        if (!json) {
            EXPECT_TRUE(S(rig.out).contains("Input mode:            12 (none of the settings page's modes)"))
                << S(rig.out).toStdString();
            continue;
        }
        const QJsonObject s = QJsonDocument::fromJson(rig.out).object()["settings"].toObject();
        EXPECT_EQ(s["mode"].toInt(), 12);
        EXPECT_EQ(s["cjc"].toInt(), 5);
        EXPECT_TRUE(s["mode_text"].isNull());
        EXPECT_TRUE(s["cjc_text"].isNull());
    }
    const struct {
        std::uint8_t flags;
        const char *level, *signal;
    } rows[] = {{0x00, "low", "enabled"}, {0x40, "high", "enabled"}, {0x80, "low", "disabled"}, {0xC0, "high", "disabled"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(int(row.flags));
        TCtlRig rig;
        rig.config.Settings.ErrorSignalFlags = row.flags;
        ASSERT_EQ(rig.Run({"--json", "settings", "get"}), 0);
        const QJsonObject s = QJsonDocument::fromJson(rig.out).object()["settings"].toObject();
        EXPECT_EQ(s["error_level"].toString(), row.level);
        EXPECT_EQ(s["error_signal"].toString(), row.signal);
        TCtlRig file;
        file.config.Settings.ErrorSignalFlags = row.flags;
        ASSERT_EQ(file.Run({"settings", "get"}), 0);
        EXPECT_TRUE(S(file.out).contains(QStringLiteral("RadioButton_ErrorHigh=%1\n").arg(row.flags & 0x40 ? 1 : 0)));
        EXPECT_TRUE(S(file.out).contains(QStringLiteral("CheckBox_DisableErrorSignal=%1\n").arg(row.flags & 0x80 ? 1 : 0)));
    }
}

// The backup is complete on disk before the write goes out: a backup that
// fails when it is written (here its name became a folder after the
// checks) stops the command, and the device is never written.
TEST(KvctlDevice, ABackupThatFailsStopsTheWrite) {
    QTemporaryDir dir;
    const QString file = WriteFile(dir, "tc.kvs", kThermocouple);
    const QString backup = dir.filePath("b.kvs");
    TCtlRig rig;
    rig.Start({"settings", "set", file, "--backup", backup});
    ASSERT_TRUE(QDir().mkdir(backup));
    ASSERT_TRUE(rig.RunUntil([&] { return rig.ctl->Finished(); }));
    EXPECT_EQ(rig.ctl->ExitCode(), 4);
    EXPECT_TRUE(S(rig.err).contains("cannot write the backup")) << S(rig.err).toStdString();
    EXPECT_TRUE(S(rig.err).contains("nothing was written to the device"));
    EXPECT_FALSE(Wrote(rig)) << "the write went out without its backup";
    EXPECT_EQ(rig.device->Model().Settings().Mode, 0);
}
