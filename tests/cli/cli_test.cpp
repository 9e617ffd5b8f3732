// kvctl against the in-process device on a manual clock: every command's
// output and exit code, the same requests and texts as the window, settings
// written with a backup and verified (also against a device that clamps),
// watch across a hang-up and the device's return, and the frame trace.
#include "cli_support.h"

#include "../app/poll_support.h"
#include "KvVersion.h"

#include "KvCtlJson.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QTemporaryDir>

#include <algorithm>
#include <csignal>
#include <map>

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
        {{"calibrate", "input", "--fixture", "true", "--certificate", "/nonexistent/c.pdf", "--serial", "SN1"}, 4,
         "cannot write --certificate /nonexistent/c.pdf: No such file or directory; nothing was sent"},
        {{"calibrate", "output", "--meter", "/dev/null", "--certificate", "/nonexistent/c.pdf", "--serial", "SN1"}, 4,
         "cannot write --certificate /nonexistent/c.pdf: No such file or directory; nothing was sent"},
        // A certificate names its unit: the serial number or tag is required.
        {{"calibrate", "input", "--fixture", "true", "--certificate", "c.pdf"}, 2,
         "--certificate needs --serial TEXT, the device's serial number or tag (typed or scanned); nothing was sent"},
        {{"calibrate", "output", "--meter", "/dev/null", "--certificate", "c.pdf", "--ambient", "23C"}, 2,
         "--certificate needs --serial TEXT"},
        {{"calibrate", "input", "--fixture", "true", "--serial", "SN\t1"}, 2, "bad value for --serial"},
        {{"calibrate", "input", "--fixture", "true", "--serial", "  "}, 2, "bad value for --serial"},
        {{"status", "--serial", "SN1"}, 2, "--serial is not an option of status"},
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
    // A full stop in the file whatever the locale, the value in full.
    EXPECT_TRUE(rows[1].contains(",24.999998,°C,")) << rows[1].toStdString();
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

// Only what the settings page offers for the device's settings is carried:
// the settings are read first, and a refusal sends no bit at all.
TEST(Kvctl, MaintenanceOnlyAsTheSettingsPageOffersIt) {
    const auto settings = [](std::uint8_t mode, std::uint8_t wires, std::uint8_t cjc = 0) {
        kv::SettingsRecord r;
        r.Mode = mode;
        r.Wires = wires;
        r.CJC = cjc;
        return r;
    };
    const struct {
        const char* action;
        kv::SettingsRecord settings;
        double process; // in the mode's calculated unit
        int exit;
        const char* text;
    } cases[] = {
        {"clear-minmax", settings(0, 4), 25.0, 0, "clear-minmax: acknowledged by the device"},
        {"restart", settings(7, 4), 5.0, 0, "restart: acknowledged"},
        // A 4-wire Pt 100: the whole sensor would be stored as lead resistance.
        {"store-wire-resistance", settings(0, 4), 25.0, 1, "with 4 wires; the settings page offers the wire resistance only"},
        {"clear-wire-resistance", settings(6, 3), 1000.0, 1, "with 3 wires"},
        {"store-wire-resistance", settings(2, 4, 0), 25.0, 1, "with 0 Belső cold-junction compensation"},
        // 2 wires, but a Pt 100 at 25 °C is no pair of wires to store as 0 ohm.
        {"store-wire-resistance", settings(0, 2), 25.0, 1, "outside 0 to 100 ohm"},
        {"store-wire-resistance", settings(5, 2), 40.0, 0, "store-wire-resistance: acknowledged"},
        {"clear-wire-resistance", settings(2, 4, 2), 25.0, 0, "acknowledged"},
        {"pot-0", settings(0, 4), 25.0, 1, "potentiometer end points only in the potentiometer modes"},
        {"pot-100", settings(4, 3), 50.0, 0, "pot-100: acknowledged"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.action) + " in mode " + std::to_string(c.settings.Mode));
        TCtlRig rig;
        rig.config.Settings = c.settings;
        rig.config.ProcessValue = c.process;
        EXPECT_EQ(rig.Run({"maintenance", c.action}), c.exit) << S(rig.err).toStdString();
        EXPECT_TRUE(S(rig.out + rig.err).contains(QString::fromUtf8(c.text))) << S(rig.out + rig.err).toStdString();
        std::uint8_t carried = 0;
        for (const auto& e : rig.ended)
            if (e.command == kv::cmdPoll)
                carried |= e.data.at(2);
        if (c.exit != 0)
            EXPECT_EQ(carried, 0);
        else
            EXPECT_NE(carried, 0);
    }
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
        ASSERT_TRUE(rig.ctl->Pending().IsPending(kv::pendWriteSettings));
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

// ---- the contract with scripts ------------------------------------------------------

namespace {

// The JSON's field paths as kvctl help json writes them: "a.b", "list[].c";
// arrays of plain values are one path. A null or an empty list shows only
// its own path ("open" ones): what it would hold is not there to see.
void Paths(const QJsonObject& o, const QString& prefix, QSet<QString>& out, QSet<QString>& open) {
    for (auto it = o.begin(); it != o.end(); ++it) {
        const QString path = prefix + it.key();
        if (it.value().isObject()) {
            Paths(it.value().toObject(), path + '.', out, open);
        } else if (it.value().isArray() && !it.value().toArray().isEmpty() && it.value().toArray().first().isObject()) {
            for (const QJsonValue& e : it.value().toArray())
                Paths(e.toObject(), path + "[].", out, open);
        } else {
            if (it.value().isNull() || (it.value().isArray() && it.value().toArray().isEmpty()))
                open << path;
            out << path;
        }
    }
}

bool Under(const QString& path, const QString& open) {
    return path.startsWith(open + '.') || path.startsWith(open + "[].");
}

} // namespace

// Every command's JSON against its documentation (kvctl help json): the same
// fields, no more, no fewer, and the schema's name; also the object of a
// command that failed. Calibration objects differ by kind (a meter has an
// identity, a resistor a value): a schema's cases together show every field.
TEST(KvctlContract, EveryJsonOutputIsItsDocumentedSchema) {
    QTemporaryDir dir;
    const QString tc = WriteKvs(dir, "tc.kvs", "2", "850");
    const struct {
        QStringList args;
        const char* schema;
        int exit;
        std::function<void(TCtlRig&)> prepare;
    } cases[] = {
        {{"ports"}, "kvctl.ports/1", 0, {}},
        {{"status"}, "kvctl.status/1", 0, {}},
        {{"status"}, "kvctl.status/1", 3, [](TCtlRig& r) { r.openError = "No such file or directory"; }},
        {{"watch", "--count", "1"}, "kvctl.watch/1", 0, {}},
        {{"settings", "get"}, "kvctl.settings.get/1", 0, {}},
        {{"factory"}, "kvctl.factory/1", 0, {}},
        {{"settings", "diff", tc}, "kvctl.settings.diff/2", 1, {}},
        {{"settings", "set", tc, "--backup", dir.filePath("b")}, "kvctl.settings.set/2", 0, {}},
        {{"settings", "set", tc, "--backup", dir.filePath("b3")}, "kvctl.settings.set/2", 3,
         [](TCtlRig& r) { r.openError = "No such file or directory"; }},
        {{"maintenance", "clear-minmax"}, "kvctl.maintenance/1", 0, {}},
        {{"maintenance", "store-wire-resistance"}, "kvctl.maintenance/1", 1, {}}, // refused: also an object
        {QStringList{"calibrate", "output"} + clitest::SimBench(true), kv::cert::kSchema, 0,
         [](TCtlRig& r) {
             r.config.OutputCalibrated = false;
             clitest::ConsoleFixture(r);
         }},
        // From options alone: no source, no as-found budget, so the run
        // cannot pass; those fields are null.
        {{"calibrate", "output", "--meter", "/dev/ttyMEM1"}, kv::cert::kSchema, 1,
         [](TCtlRig& r) { r.config.OutputCalibrated = false; }},
        // With a certificate, its identity and its conditions.
        {QStringList{"calibrate", "output", "--certificate", dir.filePath("out.pdf"), "--serial", "SN1", "--ambient",
                     "23.1C,45%RH"} + clitest::SimBench(true),
         kv::cert::kSchema, 0,
         [](TCtlRig& r) {
             r.config.OutputCalibrated = false;
             clitest::ConsoleFixture(r);
         }},
        {QStringList{"calibrate", "input"} + clitest::SimBench(), kv::cert::kSchema, 0,
         [](TCtlRig& r) {
             r.config.ForeignCalibration = true;
             clitest::ConsoleFixture(r);
         }},
        {QStringList{"calibrate", "all"} + clitest::SimBench(true), kv::cert::kSchema, 0,
         [](TCtlRig& r) {
             r.config.ForeignCalibration = true;
             r.config.OutputCalibrated = false;
             clitest::ConsoleFixture(r);
         }},
        {QStringList{"verify"} + clitest::SimBench(true), kv::cert::kSchema, 1, [](TCtlRig& r) {
             r.config.ForeignCalibration = true; // another board's calibration: it reads 1 °C off
             clitest::ConsoleFixture(r);
         }},
    };
    std::map<QString, QSet<QString>> actual, open;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        TCtlRig rig;
        if (c.prepare)
            c.prepare(rig);
        EXPECT_EQ(rig.Run(QStringList{"--json"} + c.args), c.exit) << S(rig.err).toStdString();
        QJsonParseError error{};
        const QJsonObject o = QJsonDocument::fromJson(rig.out, &error).object();
        ASSERT_EQ(error.error, QJsonParseError::NoError) << c.schema << ": " << S(rig.out).toStdString();
        EXPECT_EQ(o["schema"].toString(), QString::fromLatin1(c.schema));
        if (c.args[0] == "watch") // a reading; the exit code comes on the last line of a failed run
            EXPECT_TRUE(o["exit_code"].isNull());
        else
            EXPECT_EQ(o["exit_code"].toInt(-1), c.exit);
        EXPECT_EQ(o["error"].isNull(), c.exit == 0 || (c.exit == 1 && c.args[0] == "settings")) << S(rig.out).toStdString();
        Paths(o, {}, actual[c.schema], open[c.schema]);
        EXPECT_TRUE(kvctl::TKvCtl::HelpText("json").contains(QString::fromLatin1(c.schema)));
    }
    for (const auto& s : kvctl::JsonSchemas()) {
        const QString name = QString::fromLatin1(s.name);
        SCOPED_TRACE(s.name);
        ASSERT_TRUE(actual.count(name)) << "a schema without a case";
        QSet<QString> documented;
        for (const auto& f : s.fields)
            documented << QString::fromLatin1(f.path);
        QStringList undocumented, missing;
        for (const QString& p : actual[name])
            if (!documented.contains(p) &&
                !(open[name].contains(p) && std::any_of(documented.begin(), documented.end(), [&](const QString& d) { return Under(d, p); })))
                undocumented << p;
        for (const QString& d : documented)
            if (!actual[name].contains(d) &&
                !std::any_of(open[name].begin(), open[name].end(), [&](const QString& o) { return Under(d, o); }))
                missing << d;
        EXPECT_TRUE(undocumented.isEmpty()) << "undocumented: " << undocumented.join(' ').toStdString();
        EXPECT_TRUE(missing.isEmpty()) << "missing: " << missing.join(' ').toStdString();
    }
    EXPECT_EQ(actual.size(), kvctl::JsonSchemas().size()) << "a case's schema is not documented";
    // set says what it changed, as the device stored it: numbers as numbers,
    // texts beside them.
    TCtlRig set;
    ASSERT_EQ(set.Run({"--json", "settings", "set", WriteKvs(dir, "t2.kvs", "2", "850"), "--backup", dir.filePath("b2")}), 0);
    const QJsonObject o = QJsonDocument::fromJson(set.out).object();
    EXPECT_TRUE(o["written"].toBool());
    EXPECT_TRUE(o["sent"].toBool());
    EXPECT_TRUE(o["acknowledged"].toBool());
    EXPECT_TRUE(o["verified"].toBool());
    QStringList changed;
    for (const QJsonValue& c : o["changed"].toArray())
        changed << c["field"].toString() + '=' + QString::number(c["after"].toDouble()) + ' ' + c["after_text"].toString();
    EXPECT_TRUE(changed.contains("output_high=850 850")) << changed.join(' ').toStdString();
    EXPECT_TRUE(changed.contains(QString::fromUtf8("mode=2 2 Hőmérséklet  (Hőelem)"))) << changed.join(' ').toStdString();
}

// diff, set and set --dry-run check a file alike: what set refuses, diff
// refuses too, with the reasons, before any port is opened.
TEST(KvctlContract, DiffAndDryRunRefuseWhatSetRefuses) {
    QTemporaryDir dir;
    const QString good = WriteKvs(dir, "good.kvs", "2", "850");
    auto edit = [&](const char* name, const QString& from, const QString& to) {
        QString text = Read(good);
        text.replace(from, to);
        const QString path = dir.filePath(QString::fromLatin1(name));
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        f.write(text.toUtf8());
        return path;
    };
    const struct {
        QString file;
        const char* reason;
    } files[] = {
        {edit("header-only.kvs", Read(good).mid(Read(good).indexOf("[Settings]")), ""), "RadioGroup_Mode is missing"},
        {edit("no-mode.kvs", "RadioGroup_Mode=2\n", ""), "RadioGroup_Mode is missing"},
        {edit("abc.kvs", "Edit_FizikaiForOutH=850", "Edit_FizikaiForOutH=abc"), "Edit_FizikaiForOutH \"abc\" is not a number"},
        {edit("both.kvs", "Edit_FizikaiForOutH=850", "Edit_FizikaiForOutH=1,000.5"), "is not a number"},
        {edit("header.kvs", "KV=KV5510/KV7730", "KV=KV5510"), "is not \"KV5510/KV7730\""},
        {dir.path(), "a folder"},
        // Ambiguous: the reader would take the first, the writer may have meant the second.
        {edit("twice.kvs", "[Date]", "RadioGroup_OutputMode=3\n[Date]"), "RadioGroup_OutputMode is given 2 times"},
        {edit("joined.kvs", "Date=2026-12-06\n", "Date=2026-12-06\n" + Read(good).replace("RadioGroup_OutputMode=1", "RadioGroup_OutputMode=2")),
         "section [Header] stands 2 times"},
        // What the device would get otherwise: the first item, the largest single.
        {edit("none.kvs", "RadioGroup_Mode=2", "RadioGroup_Mode=-1"), "RadioGroup_Mode -1 is out of range 0-7"},
        {edit("wires.kvs", "RadioGroup_Wires=2", "RadioGroup_Wires=-1"), "RadioGroup_Wires -1 is out of range 0-2"},
        {edit("huge.kvs", "Edit_FizikaiForOutH=850", "Edit_FizikaiForOutH=1e39"), "is beyond what the device holds"},
    };
    for (const auto& f : files)
        for (const QStringList& args : {QStringList{"settings", "diff", f.file}, QStringList{"settings", "set", f.file},
                                        QStringList{"settings", "set", "--dry-run", f.file}}) {
            TCtlRig rig;
            EXPECT_EQ(rig.Run(args), 2) << args.join(' ').toStdString();
            EXPECT_TRUE(S(rig.err).contains(QString::fromLatin1(f.reason))) << S(rig.err).toStdString();
            EXPECT_TRUE(S(rig.err).contains("nothing was sent")) << S(rig.err).toStdString();
            EXPECT_EQ(rig.port, nullptr) << args.join(' ').toStdString();
        }
    // The device holds what the first copy asks: the second, asking another
    // output, is no "nothing to write".
    TCtlRig holds;
    holds.config.Settings = kv::RecordFromPage(kv::LoadSettingsFile(good, '.').page, '.');
    const QString joined = dir.filePath("joined.kvs");
    EXPECT_EQ(holds.Run({"settings", "set", joined}), 2);
    EXPECT_FALSE(S(holds.out).contains("already holds")) << S(holds.out).toStdString();
}

// A file saved where the separator is a comma sets what the same file with a
// full stop sets, under either locale; both diff alike against the device.
TEST(KvctlContract, ACommaFileSetsWhatADotFileSets) {
    QTemporaryDir dir;
    for (const char sep : {'.', ','}) {
        const polltest::TSeparator locale(sep);
        std::vector<kv::SettingsRecord> stored;
        for (const char* high : {"150.5", "150,5"}) {
            TCtlRig rig;
            const QString file = WriteKvs(dir, QStringLiteral("f%1%2.kvs").arg(sep).arg(stored.size()), "2", high);
            TCtlRig diff;
            EXPECT_EQ(diff.Run({"settings", "diff", file}), 1) << high;
            EXPECT_TRUE(S(diff.out).contains("output_high    device: 100  ->  file: 150.5")) << S(diff.out).toStdString();
            ASSERT_EQ(rig.Run({"settings", "set", file}), 0) << high << " under " << sep << ": " << S(rig.err).toStdString();
            stored.push_back(rig.device->Model().Settings());
            // The backup holds the device's values exactly (100 is "100").
            EXPECT_TRUE(Read(dir.filePath(QStringLiteral("f%1%2.backup-20261206-100000.kvs").arg(sep).arg(stored.size() - 1)))
                            .contains(QStringLiteral("Edit_FizikaiForOutH=100\n")));
        }
        EXPECT_EQ(stored[0].FizikaiForOutH, 150.5f);
        EXPECT_EQ(stored[0].Encode(), stored[1].Encode());
    }
}

// -o writes a fresh file whole, "-" is the standard output; a backup
// never takes an existing name.
TEST(KvctlContract, OutputFilesAreFreshAndBackupsNeverShareAName) {
    QTemporaryDir dir;
    const QString notes = dir.filePath("notes.kvs");
    {
        QFile f(notes);
        f.open(QIODevice::WriteOnly);
        f.write("[Notes]\nline=3\n[Settings]\nRadioGroup_Mode=5\nOwnKey=1\n");
    }
    TCtlRig get;
    ASSERT_EQ(get.Run({"settings", "get", "-o", notes}), 0);
    const QString text = Read(notes);
    EXPECT_TRUE(text.startsWith("[Header]\nKV=KV5510/KV7730\n[Settings]\nRadioGroup_Mode=0\n")) << text.toStdString();
    EXPECT_FALSE(text.contains("Notes"));
    EXPECT_FALSE(text.contains("OwnKey"));

    TCtlRig dash;
    ASSERT_EQ(dash.Run({"factory", "-o", "-"}), 0);
    EXPECT_TRUE(S(dash.out).contains("KV=KV5510/KV7730"));
    EXPECT_FALSE(QFile::exists("-.kvs"));
    EXPECT_FALSE(QFile::exists("-"));

    // Three runs in the same second: three backups, the earlier ones kept.
    const QString file = WriteKvs(dir, "tc.kvs", "2", "850");
    QStringList backups;
    for (int i = 0; i < 3; ++i) {
        TCtlRig rig;
        ASSERT_EQ(rig.Run({"settings", "set", file}), 0) << S(rig.err).toStdString();
        const QString err = S(rig.err);
        backups << err.mid(err.indexOf("backup of the device's settings: ") + 33).section('\n', 0, 0);
    }
    EXPECT_EQ(backups, (QStringList{dir.filePath("tc.backup-20261206-100000.kvs"), dir.filePath("tc.backup-20261206-100000-1.kvs"),
                                    dir.filePath("tc.backup-20261206-100000-2.kvs")}));
    for (const QString& b : backups)
        EXPECT_TRUE(Read(b).contains("Edit_FizikaiForOutH=100")) << b.toStdString();
}

// The CSV log is opened after the first answer and never truncated.
TEST(KvctlContract, TheCsvLogIsAppendedToOrLeftAlone) {
    QTemporaryDir dir;
    const QString csv = dir.filePath("w.csv");
    {
        TCtlRig first;
        ASSERT_EQ(first.Run({"watch", "--interval", "0", "--count", "2", "--csv", csv}), 0);
        // While one watch holds the log, another one leaves it alone.
        TCtlRig second;
        EXPECT_EQ(second.Run({"watch", "--interval", "0", "--count", "2", "--csv", csv}), 2);
        EXPECT_TRUE(S(second.err).contains("is being written by another program")) << S(second.err).toStdString();
    }
    const QString two = Read(csv);
    ASSERT_EQ(two.count('\n'), 3);

    // A row a crash cut short is taken out: the log goes on with whole rows.
    const QString torn = two.left(two.size() - 5);
    const struct {
        const char* what;
        QString openError;  // the port refuses
        QString content;    // the file before ("" : the log above)
        int exit;
        bool appended;
        QString kept;       // what stays of the file before ("": all of it)
    } cases[] = {
        {"a second watch adds its rows", {}, {}, 0, true, {}},
        {"a port that does not open leaves it", "No such file or directory", {}, 3, false, {}},
        {"a busy port leaves it", "Device or resource busy", {}, 3, false, {}},
        {"another file is refused", {}, "date,value\n1,2\n", 2, false, {}},
        {"a torn last row is taken out", {}, torn, 0, true, torn.left(torn.lastIndexOf('\n') + 1)},
    };
    for (const auto& c : cases) {
        const QString before = c.content.isEmpty() ? two : c.content;
        {
            QFile f(csv);
            f.open(QIODevice::WriteOnly | QIODevice::Truncate);
            f.write(before.toUtf8());
        }
        TCtlRig rig;
        rig.openError = c.openError;
        EXPECT_EQ(rig.Run({"watch", "--interval", "0", "--count", "1", "--csv", csv}), c.exit) << c.what;
        const QString after = Read(csv);
        if (!c.appended) {
            EXPECT_EQ(after, before) << c.what;
            continue;
        }
        const QString kept = c.kept.isEmpty() ? before : c.kept;
        EXPECT_TRUE(after.startsWith(kept)) << c.what;
        EXPECT_EQ(S(rig.err).contains("taken out before the rows of this run"), kept != before) << S(rig.err).toStdString();
        const QStringList rows = after.mid(kept.size()).split('\n', Qt::SkipEmptyParts);
        ASSERT_EQ(rows.size(), 1) << c.what << ": " << after.toStdString();
        EXPECT_TRUE(rows[0].startsWith("2026-12-06T10:00:")) << c.what;
        EXPECT_TRUE(after.endsWith('\n'));
    }
    // Interrupted: the log ends with a whole row, and says so.
    TCtlRig rig;
    rig.Start({"watch", "--interval", "0", "--csv", csv});
    ASSERT_TRUE(rig.RunUntil([&] { return rig.Lines() >= 2; }));
    rig.ctl->Interrupt(SIGTERM);
    EXPECT_EQ(rig.ctl->ExitCode(), 128 + SIGTERM);
    EXPECT_EQ(rig.ctl->EndSignal(), SIGTERM);
    EXPECT_TRUE(S(rig.err).contains("interrupted (SIGTERM); " + csv + " ends with its last whole row")) << S(rig.err).toStdString();
    EXPECT_TRUE(Read(csv).endsWith('\n'));
}

// --for ends watch at its time, answering or not; a device that never
// answered in that time is no success (exit 3, and said on stderr).
TEST(KvctlContract, WatchForEndsAlsoWhileTheDeviceIsSilent) {
    for (const bool answeredFirst : {true, false}) {
        SCOPED_TRACE(answeredFirst ? "silent after answering" : "silent from the start");
        TCtlRig rig;
        rig.config.Settings.Mode = 0;
        rig.Start({"watch", "--count", "1000", "--for", "20s"});
        if (answeredFirst) {
            ASSERT_TRUE(rig.RunUntil([&] { return rig.Lines() >= 1; }));
        }
        rig.device->Console("silent on");
        ASSERT_TRUE(rig.RunUntil([&] { return rig.ctl->Finished(); }, 30000));
        EXPECT_EQ(rig.ctl->ExitCode(), answeredFirst ? 0 : 3);
        EXPECT_EQ(S(rig.err).contains("the device on /dev/ttyMEM0 never answered in 20 s"), !answeredFirst)
            << S(rig.err).toStdString();
        EXPECT_GE(rig.clock.now(), 20000);
        EXPECT_LT(rig.clock.now(), 21000);
    }
}

TEST(KvctlContract, CommandLine) {
    QTemporaryDir dir;
    // "--" ends the options: a file whose name begins with a dash.
    const QString dashed = WriteKvs(dir, "-tc.kvs", "2", "850");
    QDir::setCurrent(dir.path());
    TCtlRig diff;
    EXPECT_EQ(diff.Run({"settings", "diff", "--", "-tc.kvs"}), 1) << S(diff.err).toStdString();
    TCtlRig option;
    EXPECT_EQ(option.Run({"settings", "diff", "-tc.kvs"}), 2);
    EXPECT_TRUE(S(option.err).contains("unknown option -tc.kvs"));

    const struct {
        QStringList args;
        int exit;
        const char* text;
    } cases[] = {
        {{"help", "bogus"}, 2, "no help for bogus"},
        {{"bogus", "--help"}, 2, "no help for bogus"},
        {{"help", "json"}, 0, "kvctl.settings.set/2"},
        {{"--help"}, 0, "143"},
        {{"watch", "--for", "0"}, 2, "bad value for --for"},
        {{"watch", "--for", "soon"}, 2, "bad value for --for"},
        {{"status", "--for", "1m"}, 2, "--for is not an option of status"},
    };
    for (const auto& c : cases) {
        TCtlRig rig;
        EXPECT_EQ(rig.Run(c.args), c.exit) << c.args.join(' ').toStdString();
        EXPECT_TRUE(S(rig.out + rig.err).contains(QString::fromLatin1(c.text))) << c.args.join(' ').toStdString();
    }
    const struct {
        const char* text;
        double seconds; // 0: refused
    } durations[] = {{"90", 90}, {"90s", 90}, {"1.5m", 90}, {"2h", 7200}, {"250ms", 0.25}, {"1d", 86400},
                     {"0", 0},   {"-5", 0},   {"m", 0},      {"5x", 0},   {"", 0},           {"400d", 0}};
    for (const auto& d : durations) {
        double s = 0;
        EXPECT_EQ(kvctl::ParseDuration(QString::fromLatin1(d.text), s), d.seconds > 0) << d.text;
        if (d.seconds > 0) {
            EXPECT_DOUBLE_EQ(s, d.seconds) << d.text;
        }
    }
}

// Ended early, maintenance says how far the action got.
TEST(KvctlContract, MaintenanceEndedEarlySaysWhetherItWasSent) {
    {   // Interrupted before the device's settings said whether it is offered.
        TCtlRig rig;
        rig.Start({"maintenance", "restart"});
        rig.ctl->Interrupt(SIGINT);
        EXPECT_TRUE(S(rig.err).contains("the action was NOT sent")) << S(rig.err).toStdString();
    }
    {   // Interrupted while the first poll carrying it is under way.
        TCtlRig rig;
        rig.Start({"maintenance", "restart"});
        ASSERT_TRUE(rig.RunUntil([&] { return rig.ended.size() >= 2; })); // poll, settings
        rig.ctl->Interrupt(SIGINT);
        EXPECT_TRUE(S(rig.err).contains("the action MAY have been sent")) << S(rig.err).toStdString();
    }
    {   // A device that stops answering: the request went out, no acknowledgement came.
        TCtlRig rig;
        rig.Start({"maintenance", "restart"});
        ASSERT_TRUE(rig.RunUntil([&] { return rig.ended.size() >= 2; }));
        rig.device->Console("silent on");
        rig.RunUntil([&] { return rig.ctl->Finished(); });
        EXPECT_EQ(rig.ctl->ExitCode(), 3);
        EXPECT_TRUE(S(rig.err).contains("the action WAS sent but not acknowledged")) << S(rig.err).toStdString();
    }
}
