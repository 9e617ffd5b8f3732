// kvctl against the in-process device on a manual clock: every command's
// output and exit code, the same requests and texts as the window, settings
// written with a backup and verified (also against a device that clamps),
// watch across a hang-up and the device's return, and the frame trace.
#include "cli_support.h"

#include "../app/poll_support.h"
#include "KvVersion.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

using clitest::TCtlRig;

namespace {

QString S(const QByteArray& b) { return QString::fromUtf8(b); }

QString Read(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

// A settings file as the window writes it, with some keys replaced.
QString WriteKvs(const QTemporaryDir& dir, const QString& name, const QString& mode, const QString& high,
                 const QString& header = QStringLiteral("KV5510/KV7730")) {
    const QString path = dir.filePath(name);
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(QStringLiteral("[Header]\nKV=%1\n[Settings]\nRadioGroup_Mode=%2\nRadioGroup_Wires=2\n"
                           "RadioGroup_TCType=3\nRadioGroup_CJC=0\nRadioGroup_RefreshTime=0\n"
                           "RadioGroup_OutputMode=1\nRadioButton_ErrorLow=0\nRadioButton_ErrorHigh=1\n"
                           "CheckBox_DisableErrorSignal=0\nEdit_FizikaiForOutL=-10\nEdit_FizikaiForOutH=%3\n"
                           "[Date]\nDate=2026-12-06\n")
                .arg(header, mode, high)
                .toUtf8());
    return path;
}

// A device that stores at most `limit` as the output's high end: command 4
// frames are rewritten on their way to the model.
void ClampHighEnd(TCtlRig& rig, float limit) {
    auto inner = rig.port->OnWritten;
    auto wire = std::make_shared<QByteArray>();
    rig.port->OnWritten = [inner, wire, limit](const QByteArray& piece) {
        *wire += piece;
        if (!wire->endsWith(';'))
            return;
        QByteArray frame = QByteArray::fromHex(wire->mid(1, wire->size() - 2));
        if (frame.size() == 4 + 15 + 2 && frame[2] == kv::cmdWriteSettings) {
            auto data = std::vector<std::uint8_t>(frame.begin() + 4, frame.end() - 2);
            kv::SettingsRecord r = kv::SettingsRecord::Decode(data);
            r.FizikaiForOutH = std::min(r.FizikaiForOutH, limit);
            std::string f(frame.constData(), 4);
            for (std::uint8_t b : r.Encode())
                f += static_cast<char>(b);
            const std::uint16_t crc = MBCRC16(f);
            f += static_cast<char>(crc & 0xFF);
            f += static_cast<char>(crc >> 8);
            *wire = QByteArray::fromStdString(
                TMBFrameCore::MBEncodeASCII('M', reinterpret_cast<const std::uint8_t*>(f.data()), f.size()));
        }
        inner(*wire);
        wire->clear();
    };
}

} // namespace

TEST(Kvctl, UsageAndHelp) {
    const struct {
        QStringList args;
        int exit;
        const char* text; // in the output or the errors
    } cases[] = {
        {{}, 2, "Usage: kvctl"},
        {{"--help"}, 0, "Exit codes:"},
        {{"--version"}, 0, "kvctl " KV_VERSION "\n"},
        {{"status", "--port", "/dev/ttyS0", "--version"}, 0, "kvctl " KV_VERSION "\n"},
        {{"--version", "--help"}, 0, "Exit codes:"},
        {{"--version", "--bogus"}, 2, "unknown option --bogus"},
        {{"help", "status"}, 0, "kvctl.status/1"},
        {{"watch", "--help"}, 0, "--csv FILE"},
        {{"frobnicate"}, 2, "unknown command frobnicate"},
        {{"status", "--csv", "x.csv"}, 2, "--csv is not an option of status"},
        {{"status", "--timeout", "0"}, 2, "bad value for --timeout"},
        {{"settings"}, 2, "get, diff or set"},
        {{"settings", "set"}, 2, "wrong number of arguments"},
        {{"maintenance", "fly"}, 2, "unknown maintenance action fly"},
        {{"settings", "set", "/nonexistent/x.kvs"}, 2, "nothing was sent"},
    };
    for (const auto& c : cases) {
        TCtlRig rig;
        EXPECT_EQ(rig.Run(c.args), c.exit) << c.args.join(' ').toStdString();
        EXPECT_TRUE(S(rig.out + rig.err).contains(QString::fromLatin1(c.text))) << S(rig.out + rig.err).toStdString();
        EXPECT_EQ(rig.port, nullptr) << "nothing may be opened on a usage error";
    }
}

// The window and kvctl, each against its own device in the same state: the
// same requests, byte for byte, and the same texts.
TEST(Kvctl, StatusSendsAndShowsWhatTheWindowDoes) {
    const polltest::TSeparator sep(',');
    polltest::TPollRig window;
    window.Open();
    ASSERT_TRUE(window.Run(3)); // poll, settings, poll
    TCtlRig rig;
    ASSERT_EQ(rig.Run({"status", "--json"}), 0) << S(rig.err).toStdString();
    ASSERT_EQ(rig.ended.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(rig.ended[i].command, window.ended[i].command) << i;
        EXPECT_EQ(rig.ended[i].data, window.ended[i].sent) << i;
    }
    const QJsonObject o = QJsonDocument::fromJson(rig.out).object();
    const TForm_Main& f = *window.form;
    EXPECT_EQ(o["schema"].toString(), "kvctl.status/1");
    EXPECT_EQ(o["calculated"]["text"].toString(), f.Label_fSzamitottErtek->text());
    EXPECT_EQ(o["physical"]["text"].toString(), f.Label_FizikaiErtek->text());
    EXPECT_EQ(o["output_percent"]["text"].toString(), f.Label_OutputPercent->text());
    EXPECT_EQ(o["device"]["working_time"].toString(), f.Label_WorkingTime->text());
    EXPECT_EQ(o["device"]["firmware"].toString(), f.Label_FormverVerzio->text());
    EXPECT_EQ(o["device"]["calibration_date"].toString(), f.Label_KalibralasDatuma->text());
    EXPECT_EQ(o["internal_temperature"]["text"].toString(), f.Label_MertHomerseklet->text());
    EXPECT_EQ(o["cjc_temperature"]["text"].toString(), f.Label_CJCTemp->text());
    EXPECT_EQ(o["status"]["text"].toString(), f.Label_Status->text());
    EXPECT_EQ(o["physical"]["unit"].toString(), "ohm");
    EXPECT_EQ(o["calculated"]["text"].toString(), "25,0 °C");
    EXPECT_EQ(o["time"].toString().right(6), "+01:00");
}

TEST(Kvctl, StatusTextAndFailures) {
    const polltest::TSeparator sep('.');
    {
        TCtlRig rig;
        ASSERT_EQ(rig.Run({"status"}), 0);
        for (const char* line : {"Device:                KV7730 (PCB identity address 0)",
                                 "Measured value:        25.0 °C", "Status:                OK",
                                 "Input mode:            Hőmérséklet (Pt 100)", "Errors:                none"})
            EXPECT_TRUE(S(rig.out).contains(QString::fromUtf8(line))) << S(rig.out).toStdString();
    }
    const struct {
        const char* console;
        int exit;
        const char* text;
    } faults[] = {
        {"silent on", 3, "no answer from the device on /dev/ttyMEM0 (command 1, 5 tries of 1000 ms)"},
        {"error 254", 1, "the device refused command 1"},
    };
    for (const auto& c : faults) {
        TCtlRig rig;
        rig.Start({"status"});
        rig.device->Console(c.console);
        rig.RunUntil([&] { return rig.ctl->Finished(); });
        EXPECT_EQ(rig.ctl->ExitCode(), c.exit) << c.console;
        EXPECT_TRUE(S(rig.err).contains(QString::fromLatin1(c.text))) << S(rig.err).toStdString();
    }
    TCtlRig refused;
    refused.openError = QStringLiteral("Device or resource busy");
    EXPECT_EQ(refused.Run({"status"}), 3);
    EXPECT_TRUE(S(refused.err).contains("cannot open /dev/ttyMEM0: Device or resource busy"));
}

TEST(Kvctl, WatchWritesLinesAndCsv) {
    const polltest::TSeparator sep(',');
    QTemporaryDir dir;
    const QString csv = dir.filePath("w.csv");
    TCtlRig rig;
    ASSERT_EQ(rig.Run({"watch", "--interval", "0", "--count", "3", "--csv", csv}), 0);
    const QStringList lines = S(rig.out).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3);
    EXPECT_TRUE(lines[0].startsWith("2026-12-06T10:00:00.")) << lines[0].toStdString();
    EXPECT_TRUE(lines[0].contains("+01:00  25,0 °C  ")) << lines[0].toStdString();
    const QStringList rows = Read(csv).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(rows.size(), 4);
    EXPECT_TRUE(rows[0].startsWith("time,calculated,calculated_unit,physical"));
    // A full stop in the file whatever the locale.
    EXPECT_TRUE(rows[1].contains(",25.0,°C,")) << rows[1].toStdString();
    EXPECT_TRUE(rows[1].endsWith(",0,\"OK\",\"\"")) << rows[1].toStdString();
}

TEST(Kvctl, WatchSurvivesSilenceAndHangUpAndEndsCleanOnInterrupt) {
    QTemporaryDir dir;
    const QString csv = dir.filePath("w.csv");
    TCtlRig rig;
    rig.Start({"watch", "--interval", "0", "--csv", csv});
    ASSERT_TRUE(rig.RunUntil([&] { return rig.Lines() >= 2; }));

    rig.device->Console("silent on");
    ASSERT_TRUE(rig.RunUntil([&] { return S(rig.err).contains("no answer from the device"); }));
    rig.device->Console("silent off");
    ASSERT_TRUE(rig.RunUntil([&] { return S(rig.err).contains("the device answers again"); }));

    // Unplugged for a while: the port cannot be opened until it is back.
    rig.port->SetOpenError(QStringLiteral("No such file or directory"));
    rig.device->HangUp();
    ASSERT_TRUE(rig.RunUntil([&] { return S(rig.err).contains("hung up; waiting"); }));
    const int before = rig.Lines();
    rig.clock.advance(3000);
    EXPECT_EQ(rig.Lines(), before);
    rig.port->SetOpenError({});
    ASSERT_TRUE(rig.RunUntil([&] { return rig.Lines() >= before + 2; }));
    EXPECT_TRUE(S(rig.err).contains("/dev/ttyMEM0 is back"));
    EXPECT_FALSE(rig.ctl->Finished());

    rig.ctl->Interrupt();
    EXPECT_EQ(rig.ctl->ExitCode(), 130);
    const QString rows = Read(csv);
    EXPECT_TRUE(rows.endsWith("\n"));
    EXPECT_EQ(rows.count('\n'), rig.Lines() + 1);
}

TEST(Kvctl, MaintenanceIsCarriedUntilAcknowledged) {
    TCtlRig rig;
    ASSERT_EQ(rig.Run({"maintenance", "clear-minmax"}), 0) << S(rig.err).toStdString();
    EXPECT_TRUE(S(rig.out).contains("clear-minmax: acknowledged by the device"));
    ASSERT_FALSE(rig.ended.empty());
    EXPECT_EQ(rig.ended.front().data.at(2), kv::maint::TempMinMaxClear);

    // A Pt 100 at 25 °C is no pair of wires to store as 0 ohm: the window
    // does not offer it, and nothing is carried.
    TCtlRig wires;
    EXPECT_EQ(wires.Run({"maintenance", "store-wire-resistance"}), 1);
    EXPECT_TRUE(S(wires.err).contains("outside 0 to 100 ohm"));
    for (const auto& e : wires.ended)
        EXPECT_EQ(e.data.at(2), 0);
}

TEST(Kvctl, SettingsGetFactoryAndDiff) {
    QTemporaryDir dir;
    TCtlRig get;
    ASSERT_EQ(get.Run({"settings", "get"}), 0);
    EXPECT_TRUE(S(get.out).contains("KV=KV5510/KV7730"));
    EXPECT_TRUE(S(get.out).contains("RadioGroup_Mode=0"));
    EXPECT_EQ(get.ended.at(1).command, kv::cmdReadSettings);

    TCtlRig factory;
    ASSERT_EQ(factory.Run({"factory", "-o", dir.filePath("f")}), 0);
    EXPECT_EQ(factory.ended.at(1).command, kv::cmdReadFactoryDefaults);
    EXPECT_TRUE(Read(dir.filePath("f.kvs")).contains("Edit_FizikaiForOutH=100"));

    TCtlRig same;
    EXPECT_EQ(same.Run({"settings", "diff", dir.filePath("f.kvs")}), 0);
    EXPECT_TRUE(S(same.out).contains("the device holds the settings"));

    TCtlRig differs;
    EXPECT_EQ(differs.Run({"settings", "diff", WriteKvs(dir, "tc.kvs", "2", "850")}), 1);
    EXPECT_TRUE(S(differs.out).contains("mode           device: 0 Hőmérséklet (Pt 100)  ->  file: 2 Hőmérséklet  (Hőelem)"))
        << S(differs.out).toStdString();
    EXPECT_TRUE(S(differs.out).contains("output_high    device: 100  ->  file: 850"));
}

TEST(Kvctl, SettingsSetBacksUpWritesAndVerifies) {
    QTemporaryDir dir;
    const QString file = WriteKvs(dir, "tc.kvs", "2", "850");
    TCtlRig rig;
    ASSERT_EQ(rig.Run({"settings", "set", file}), 0) << S(rig.err).toStdString();
    EXPECT_TRUE(S(rig.out).contains("written and verified"));
    // The window's order: poll, read, poll, write, poll, read back.
    std::vector<std::uint8_t> commands;
    for (const auto& e : rig.ended)
        commands.push_back(e.command);
    EXPECT_EQ(commands, (std::vector<std::uint8_t>{1, 6, 1, 4, 1, 6}));
    EXPECT_EQ(rig.device->Model().Settings().Mode, 2);
    EXPECT_EQ(rig.device->Model().Settings().FizikaiForOutH, 850.0f);
    // The backup holds what the device held before, beside the input.
    const QString backup = Read(dir.filePath("tc.backup-20261206-100000.kvs"));
    EXPECT_TRUE(backup.contains("RadioGroup_Mode=0")) << backup.toStdString();
    EXPECT_TRUE(backup.contains("Edit_FizikaiForOutH=100"));

    // Nothing to change the second time.
    TCtlRig again;
    again.config.Settings = rig.device->Model().Settings();
    EXPECT_EQ(again.Run({"settings", "set", file, "--backup", dir.filePath("b2")}), 0);
    EXPECT_TRUE(S(again.out).contains("already holds"));
}

TEST(Kvctl, SettingsSetRefusesDryRunsAndReportsFailures) {
    QTemporaryDir dir;
    {   // A wrong header and a key out of range are refused before any port is opened.
        TCtlRig header, range;
        EXPECT_EQ(header.Run({"settings", "set", WriteKvs(dir, "h.kvs", "2", "850", "kv5510/kv7730")}), 2);
        EXPECT_EQ(range.Run({"settings", "set", WriteKvs(dir, "r.kvs", "12", "850")}), 2);
        EXPECT_EQ(header.port, nullptr);
        EXPECT_EQ(range.port, nullptr);
        // Nor may the backup take the place of the file to write.
        TCtlRig self;
        const QString file = WriteKvs(dir, "self.kvs", "2", "850");
        EXPECT_EQ(self.Run({"settings", "set", file, "--backup", file}), 2);
        EXPECT_EQ(self.port, nullptr);
        EXPECT_TRUE(Read(file).contains("Edit_FizikaiForOutH=850"));
    }
    {   // A dry run shows the change and never writes.
        TCtlRig rig;
        ASSERT_EQ(rig.Run({"settings", "set", WriteKvs(dir, "d.kvs", "2", "850"), "--dry-run"}), 0);
        EXPECT_TRUE(S(rig.out).contains("writing would change"));
        EXPECT_EQ(rig.device->Model().Settings().Mode, 0);
        EXPECT_FALSE(S(rig.err).contains("backup")) << "nothing written, nothing to back up";
        for (const auto& e : rig.ended)
            EXPECT_NE(e.command, kv::cmdWriteSettings);
    }
    {   // A device that clamps: the read-back differs, set fails with the difference.
        TCtlRig rig;
        rig.Start({"settings", "set", WriteKvs(dir, "c.kvs", "2", "850")});
        ClampHighEnd(rig, 500.0f);
        rig.RunUntil([&] { return rig.ctl->Finished(); });
        EXPECT_EQ(rig.ctl->ExitCode(), 1);
        EXPECT_TRUE(S(rig.out).contains("VERIFY FAILED")) << S(rig.out).toStdString();
        EXPECT_TRUE(S(rig.out).contains("output_high    sent: 850  ->  stored: 500"));
        EXPECT_TRUE(S(rig.err).contains("settings the device held before are in"));
    }
    {   // The device goes silent as the write leaves: not acknowledged, the backup complete.
        TCtlRig rig;
        rig.Start({"settings", "set", WriteKvs(dir, "s.kvs", "2", "850"), "--backup", dir.filePath("sb.kvs")});
        // Poll, read, poll: the write is the next request.
        ASSERT_TRUE(rig.RunUntil([&] { return rig.ended.size() >= 3; }));
        ASSERT_TRUE(rig.ctl->Session()->WriteSettings);
        rig.device->Console("silent on");
        rig.RunUntil([&] { return rig.ctl->Finished(); });
        EXPECT_EQ(rig.ctl->ExitCode(), 3);
        EXPECT_TRUE(S(rig.err).contains("the write was NOT acknowledged")) << S(rig.err).toStdString();
        EXPECT_TRUE(Read(dir.filePath("sb.kvs")).contains("Edit_FizikaiForOutH=100"));
    }
}

TEST(Kvctl, TraceShowsRetryAndCrcFailure) {
    QTemporaryDir dir;
    const QString trace = dir.filePath("t.log");
    TCtlRig rig;
    rig.Start({"status", "--trace", trace});
    rig.device->Console("drop 1");
    ASSERT_TRUE(rig.RunUntil([&] { return Read(trace).contains("time-out"); }));
    rig.device->Console("drop 0");
    rig.device->Console("corrupt 1");
    ASSERT_TRUE(rig.RunUntil([&] { return Read(trace).contains("crc BAD"); }));
    rig.device->Console("corrupt 0");
    rig.RunUntil([&] { return rig.ctl->Finished(); });
    EXPECT_EQ(rig.ctl->ExitCode(), 0);
    const QString log = Read(trace);
    EXPECT_TRUE(log.section('\n', 1, 1).contains("TX  try 1  addr 1")) << log.toStdString();
    EXPECT_TRUE(log.contains("--  try 1  time-out: no answer")) << log.toStdString();
    EXPECT_TRUE(log.contains("TX  try 1  addr 1  id 0  cmd 6")) << log.toStdString();
    EXPECT_TRUE(log.contains("TX  try 2  addr 1  id 0  cmd 1  err 0  data[8] 00 00 00 EA 07 0C 06 00  crc ok"))
        << log.toStdString();
    EXPECT_TRUE(log.contains("RX  addr 1  id 0  cmd 1  err 0  data[82] "));
    EXPECT_TRUE(log.contains("cmd 6  err 0  data[15] "));
}

// The trace's cutting of the wire: frames split over chunks, damaged frames,
// bytes outside frames, and a line of garbage that never ends a frame.
TEST(FrameTrace, CutsAndJudgesWhatTheLineCarries) {
    std::vector<std::string> lines;
    double t = 0;
    kvctl::TFrameTrace trace([&](const std::string& l) { lines.push_back(l); }, [&] { return t += 0.001; });
    const std::uint8_t frame[] = {1, 0, 6, 0};
    std::string good(reinterpret_cast<const char*>(frame), 4);
    const std::uint16_t crc = MBCRC16(good);
    good += static_cast<char>(crc & 0xFF);
    good += static_cast<char>(crc >> 8);
    const std::string wire = TMBFrameCore::MBEncodeASCII('S', reinterpret_cast<const std::uint8_t*>(good.data()), good.size());
    std::string bad = wire;
    bad[bad.size() - 2] = bad[bad.size() - 2] == '0' ? '1' : '0';

    const struct {
        std::vector<std::string> chunks;
        std::vector<std::string> expected; // in the lines, in order
    } cases[] = {
        {{wire.substr(0, 5), wire.substr(5)}, {"RX  addr 1  id 0  cmd 6  err 0  data[0]  crc ok"}},
        {{bad}, {"crc BAD"}},
        {{"S01X0;"}, {"damaged: not a frame of hexadecimal digit pairs"}},
        {{"S0100;"}, {"damaged: 2 bytes, shorter than a frame"}},
        {{"\x01\xFFzz" + wire}, {"RX  noise[4] \\x01\\xFFzz", "crc ok"}},
        {{"S0102", wire}, {"RX  noise[5] S0102", "crc ok"}},
        {{"S" + std::string(40000, 'A'), wire}, {"RX  noise[", "crc ok"}},
    };
    for (const auto& c : cases) {
        lines.clear();
        for (const auto& chunk : c.chunks)
            trace.Received(chunk);
        ASSERT_EQ(lines.size(), c.expected.size()) << c.expected.front();
        for (std::size_t i = 0; i < lines.size(); ++i)
            EXPECT_NE(lines[i].find(c.expected[i]), std::string::npos) << lines[i];
    }
}
