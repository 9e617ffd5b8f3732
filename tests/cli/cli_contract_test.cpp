// kvctl's contract with scripts, as a script meets it: real kvctl processes
// against kvsim on pseudo-terminals. Parallel sets and their backups, a CSV
// log that a failing watch leaves alone, outputs that cannot be written (a
// full device, a closed stdout, a full file system), the end by a signal,
// a reader that goes away, and the standard descriptors closed.
#include "SimProcess.h"
#include "TestFiles.h"

#include "SettingsModel.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

using simtest::TKvsimProcess;
using simtest::WaitFor;

using kvtest::ReadAll;
using kvtest::WriteAll;

namespace {

QByteArray Kvs(const char* high) {
    return QByteArray("[Header]\nKV=KV5510/KV7730\n[Settings]\nRadioGroup_Mode=2\nRadioGroup_Wires=2\n"
                      "RadioGroup_TCType=3\nRadioGroup_CJC=0\nRadioGroup_RefreshTime=0\nRadioGroup_OutputMode=1\n"
                      "RadioButton_ErrorLow=0\nRadioButton_ErrorHigh=1\nCheckBox_DisableErrorSignal=0\n"
                      "Edit_FizikaiForOutL=-10\nEdit_FizikaiForOutH=") +
           high + "\n[Date]\nDate=2026-12-06\n";
}

// kvctl through a shell, so that its standard streams are what the line
// says (redirections, pipes, closed descriptors, traps).
struct TShell : simtest::TChildProcess {
    explicit TShell(const QString& script)
        : TChildProcess(QStringLiteral("bash"), {QStringLiteral("-c"), script},
                        {QStringLiteral("KVCTL=" KVCTL_PATH)}) {}
};

// A small tmpfs, for a file system that fills up; unmounted at the end.
struct TSmallDisk {
    QTemporaryDir dir;
    bool mounted = false;
    explicit TSmallDisk(const char* size) {
        mounted = ::mount("tmpfs", QFile::encodeName(dir.path()).constData(), "tmpfs", 0, size) == 0;
    }
    ~TSmallDisk() {
        if (mounted)
            ::umount2(QFile::encodeName(dir.path()).constData(), MNT_DETACH);
    }
    QString Path(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }
    // Fills what is left with a file of its own.
    void Fill() const {
        QFile f(Path("filler"));
        f.open(QIODevice::WriteOnly);
        const QByteArray block(4096, 'x');
        while (f.write(block) == block.size() && f.flush()) {
        }
        const QByteArray byte(1, 'x');
        while (f.write(byte) == 1 && f.flush()) {
        }
    }
};

} // namespace

TEST(KvctlContractPty, ParallelSetsLeaveOneCompleteBackupEach) {
    constexpr int kDevices = 4;
    QTemporaryDir dir;
    const QString file = dir.filePath("line3.kvs");
    WriteAll(file, Kvs("850"));
    std::vector<std::unique_ptr<TKvsimProcess>> sims;
    std::vector<std::unique_ptr<TShell>> sets;
    for (int i = 0; i < kDevices; ++i) {
        sims.push_back(std::make_unique<TKvsimProcess>());
        ASSERT_TRUE(sims.back()->ok);
    }
    for (int i = 0; i < kDevices; ++i)
        sets.push_back(std::make_unique<TShell>(QStringLiteral("exec \"$KVCTL\" --port %1 settings set %2").arg(sims[i]->port, file)));
    QStringList named;
    for (auto& s : sets) {
        ASSERT_EQ(s->Finish(), 0) << s->err.toStdString();
        const QString err = QString::fromUtf8(s->err);
        named << err.mid(err.indexOf("backup of the device's settings: ") + 33).section('\n', 0, 0);
    }
    const QStringList backups = QDir(dir.path()).entryList({"line3.backup-*.kvs"}, QDir::Files);
    EXPECT_EQ(backups.size(), kDevices) << backups.join(' ').toStdString();
    EXPECT_EQ(QSet<QString>(named.begin(), named.end()).size(), kDevices) << named.join(' ').toStdString();
    for (const QString& b : backups) {
        const kv::SettingsFileLoad load = kv::LoadSettingsFile(dir.filePath(b), '.');
        EXPECT_EQ(load.status, kv::SettingsFileLoad::Loaded) << b.toStdString();
        EXPECT_TRUE(load.problems.isEmpty()) << b.toStdString() << ": " << load.problems.join("; ").toStdString();
        EXPECT_EQ(load.page.Mode, 0) << "the device's settings before the write";
    }
    EXPECT_TRUE(QDir(dir.path()).entryList({".*kvtmp*"}, QDir::Files | QDir::Hidden).isEmpty());
}

TEST(KvctlContractPty, ASecondWatchOrAMistypedPortLeavesTheCsvIntact) {
    QTemporaryDir dir;
    const QString csv = dir.filePath("shared.csv");
    TKvsimProcess sim;
    ASSERT_TRUE(sim.ok);
    TShell first(QStringLiteral("exec \"$KVCTL\" --port %1 watch --interval 0 --csv %2").arg(sim.port, csv));
    ASSERT_TRUE(WaitFor([&] { return ReadAll(csv).count('\n') >= 4; }, 20000));
    const QByteArray before = ReadAll(csv);
    TShell second(QStringLiteral("exec \"$KVCTL\" --port %1 watch --interval 0 --csv %2").arg(sim.port, csv));
    EXPECT_EQ(second.Finish(), 3) << second.err.toStdString();
    EXPECT_TRUE(ReadAll(csv).startsWith(before));
    ::kill(static_cast<pid_t>(first.proc.processId()), SIGINT);
    EXPECT_EQ(first.Finish(), 128 + SIGINT);
    const QByteArray rows = ReadAll(csv);
    ASSERT_TRUE(rows.startsWith(before));
    EXPECT_TRUE(rows.endsWith('\n'));
    EXPECT_EQ(rows.count('\0'), 0);

    TShell mistyped(QStringLiteral("exec \"$KVCTL\" --port %1 watch --csv %2").arg(dir.filePath("ttyNONE"), csv));
    EXPECT_EQ(mistyped.Finish(), 3);
    EXPECT_EQ(ReadAll(csv), rows);
}

TEST(KvctlContractPty, OutputsThatCannotBeWrittenAreFailures) {
    QTemporaryDir dir;
    TKvsimProcess sim;
    ASSERT_TRUE(sim.ok);
    const QString kv = QStringLiteral("\"$KVCTL\" --port ") + sim.port;
    const QString earlier = dir.filePath("bk.kvs");
    const struct {
        QString script;
        const char* says;
    } cases[] = {
        {kv + " status > /dev/full", "cannot write standard output: No space left on device"},
        {kv + " --json status > /dev/full", "cannot write standard output"},
        {kv + " settings get > /dev/full", "cannot write standard output"},
        {kv + " factory -o - > /dev/full", "cannot write standard output"},
        {kv + " --trace /dev/full status", "cannot write the trace /dev/full"},
        {kv + " status >&-", "cannot write standard output: Bad file descriptor"},
        {kv + " settings get -o " + dir.filePath("no/such/folder.kvs"), "cannot write -o"},
    };
    for (const auto& c : cases) {
        TShell sh(c.script);
        EXPECT_EQ(sh.Finish(), 4) << c.script.toStdString();
        EXPECT_TRUE(sh.err.contains(c.says)) << c.script.toStdString() << ": " << sh.err.toStdString();
    }
    // A full file system: the earlier file and the log stay whole.
    TSmallDisk disk("size=64k");
    if (!disk.mounted)
        GTEST_SKIP() << "mounting a tmpfs is not permitted here (not root): the full-disk cases did not run";
    const QString bk = disk.Path("bk.kvs");
    WriteAll(bk, Kvs("123"));
    // A log whose last page has room for 10 bytes: the next row is torn by the full disk.
    const QString csv = disk.Path("w.csv");
    QByteArray log = "time,calculated,calculated_unit,physical,physical_unit,output_percent,"
                     "internal_temperature,status_code,status,errors\n";
    while (log.size() < 8192 - 10 - 40)
        log += "2026-12-06T10:00:00.000+01:00,1,°C,2,ohm,3,4,0,\"OK\",\"\"\n";
    log += QByteArray(8192 - 10 - log.size() - 1, '#') + '\n';
    WriteAll(csv, log);
    disk.Fill();
    TShell get(kv + " settings get -o " + bk);
    EXPECT_EQ(get.Finish(), 4) << get.err.toStdString();
    EXPECT_TRUE(get.err.contains("No space left on device")) << get.err.toStdString();
    EXPECT_EQ(ReadAll(bk), Kvs("123"));
    TShell watch(kv + " watch --interval 0 --count 5 --csv " + csv);
    EXPECT_EQ(watch.Finish(), 4) << watch.err.toStdString();
    EXPECT_TRUE(watch.err.contains("it ends with its last whole row (0 rows added)")) << watch.err.toStdString();
    EXPECT_EQ(ReadAll(csv), log);
    EXPECT_TRUE(QDir(disk.dir.path()).entryList({".*kvtmp*"}, QDir::Files | QDir::Hidden).isEmpty());
}

TEST(KvctlContractPty, SignalsEndKvctlByTheSameSignal) {
    TKvsimProcess sim;
    ASSERT_TRUE(sim.ok);
    // Ended by the signal (not an exit code of 128 + it): a shell loop
    // around kvctl stops at Ctrl-C, a service manager sees a clean stop.
    for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
        QTemporaryDir dir;
        const QString csv = dir.filePath("w.csv");
        TShell watch(QStringLiteral("exec \"$KVCTL\" --port %1 watch --interval 0 --csv %2").arg(sim.port, csv));
        ASSERT_TRUE(WaitFor([&] { return ReadAll(csv).count('\n') >= 3; }, 20000)) << watch.err.toStdString();
        ::kill(static_cast<pid_t>(watch.proc.processId()), sig);
        EXPECT_EQ(watch.Finish(), 128 + sig);
        EXPECT_TRUE(watch.err.contains("ends with its last whole row")) << watch.err.toStdString();
        EXPECT_TRUE(ReadAll(csv).endsWith('\n'));
    }
}

TEST(KvctlContractPty, AReaderThatGoesAwayEndsWatch) {
    TKvsimProcess sim;
    ASSERT_TRUE(sim.ok);
    const struct {
        const char* trap;
        int exit;
    } cases[] = {{"", 128 + SIGPIPE}, {"trap '' PIPE;", 4}};
    for (const auto& c : cases) {
        TShell sh(QStringLiteral("%1 \"$KVCTL\" --port %2 watch --interval 0 | head -3; echo \"kvctl ${PIPESTATUS[0]}\"")
                      .arg(QString::fromLatin1(c.trap), sim.port));
        EXPECT_EQ(sh.Finish(), 0) << c.trap;
        EXPECT_EQ(sh.out.count('\n'), 4) << sh.out.toStdString();
        EXPECT_TRUE(sh.out.contains(QStringLiteral("kvctl %1").arg(c.exit).toUtf8())) << c.trap << ": " << sh.out.toStdString();
    }
}

// With its standard descriptors closed, nothing kvctl opens lands on them:
// its own signal pipe does not turn its output into an interrupt, and a run
// whose stdout is closed fails before it writes anything to the device.
TEST(KvctlContractPty, ClosedStandardDescriptors) {
    QTemporaryDir dir;
    const QString file = dir.filePath("tc.kvs");
    WriteAll(file, Kvs("850"));
    TKvsimProcess sim;
    ASSERT_TRUE(sim.ok);
    TShell set(QStringLiteral("\"$KVCTL\" --port %1 settings set %2 <&- >&- 2>&-; echo \"set $?\"").arg(sim.port, file));
    EXPECT_EQ(set.Finish(), 0);
    EXPECT_TRUE(set.out.contains("set 4")) << set.out.toStdString();
    TShell diff(QStringLiteral("exec \"$KVCTL\" --port %1 settings diff %2").arg(sim.port, file));
    EXPECT_EQ(diff.Finish(), 1) << "nothing was written";
    // stdout not needed: the file is written, the port not mistaken for stdout.
    TShell get(QStringLiteral("exec \"$KVCTL\" --port %1 settings get -o %2 <&- >&-").arg(sim.port, dir.filePath("got.kvs")));
    EXPECT_EQ(get.Finish(), 0) << get.err.toStdString();
    EXPECT_EQ(kv::LoadSettingsFile(dir.filePath("got.kvs"), '.').problems, QStringList());
}

// A settings file from a pipe: diff and set read it as they read a file.
TEST(KvctlContractPty, ASettingsFileFromAPipe) {
    QTemporaryDir dir;
    const QString file = dir.filePath("tc.kvs");
    WriteAll(file, Kvs("850,5"));
    TKvsimProcess sim;
    ASSERT_TRUE(sim.ok);
    const struct {
        const char* args;
        int exit;
        const char* says;
    } cases[] = {
        {"settings diff /dev/stdin", 1, ""},
        {"settings set /dev/stdin", 2, "give --backup"},
        {"settings set /dev/stdin --backup B", 0, "backup of the device's settings: B"},
        {"settings diff /dev/stdin", 0, ""},
    };
    for (const auto& c : cases) {
        const QString args = QString::fromLatin1(c.args).replace(QStringLiteral("B"), dir.filePath("b.kvs"));
        TShell sh(QStringLiteral("cat %1 | \"$KVCTL\" --port %2 %3").arg(file, sim.port, args));
        EXPECT_EQ(sh.Finish(), c.exit) << c.args << ": " << sh.err.toStdString();
        EXPECT_TRUE(sh.err.contains(QString::fromLatin1(c.says).replace(QStringLiteral("B"), dir.filePath("b.kvs")).toUtf8()))
            << sh.err.toStdString();
    }
    TShell big(QStringLiteral("head -c 1100000 /dev/zero | \"$KVCTL\" --port %1 settings diff /dev/stdin").arg(sim.port));
    EXPECT_EQ(big.Finish(), 2);
    EXPECT_TRUE(big.err.contains("larger than")) << big.err.toStdString();
}

// ---- a backup restores, files never collide, outputs are known before the device --

namespace {

// Bits of a single, as "0xC1458F5C".
QString Hex(float f) {
    std::uint32_t u;
    std::memcpy(&u, &f, sizeof u);
    return QStringLiteral("0x%1").arg(u, 8, 16, QLatin1Char('0')).toUpper().replace("0X", "0x");
}

QByteArray KvsWith(int mode, const char* low, const char* high) {
    return QByteArray(Kvs(high)).replace("RadioGroup_Mode=2", "RadioGroup_Mode=" + QByteArray::number(mode))
        .replace("Edit_FizikaiForOutL=-10", QByteArray("Edit_FizikaiForOutL=") + low);
}

// The device's output_low and output_high, as settings get --json gives them.
std::pair<float, float> DeviceEnds(const QString& port) {
    TShell get(QStringLiteral("exec \"$KVCTL\" --port %1 --json settings get").arg(port));
    EXPECT_EQ(get.Finish(), 0) << get.err.toStdString();
    const QJsonObject s = QJsonDocument::fromJson(get.out).object()["settings"].toObject();
    return {static_cast<float>(s["output_low"].toDouble()), static_cast<float>(s["output_high"].toDouble())};
}

QString KeyOf(const QByteArray& text, const char* key) {
    for (const QByteArray& line : text.split('\n'))
        if (line.startsWith(QByteArray(key) + '='))
            return QString::fromLatin1(line.mid(static_cast<qsizetype>(std::strlen(key)) + 1)).trimmed();
    return {};
}

// kvsim, and a folder with a settings file that asks for something else
// than the device holds (tc.kvs: a thermocouple, 0-20 mA, up to 850).
class KvctlFilesPty : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(sim.ok);
        WriteAll(tc, Kvs("850"));
    }
    TKvsimProcess sim;
    QTemporaryDir dir;
    const QString tc = dir.filePath("tc.kvs");
};

} // namespace

// A device's settings backed up by settings set and written back from the
// backup: the device holds the same singles, bit for bit, and diff finds
// nothing. The display picture of the mode would have saved -12.3 and 150.0.
TEST_F(KvctlFilesPty, ABackupRestoresTheDeviceBitForBit) {
    const QString other = dir.filePath("other.kvs");
    WriteAll(other, KvsWith(0, "0", "100"));
    const struct {
        int mode;
        const char *low, *high;
    } cases[] = {{0, "-12.345", "149.96"}, {2, "-12.345", "250.25"}, {6, "0.1", "4999.99"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("mode ") + std::to_string(c.mode) + " " + c.low + " / " + c.high);
        const QString original = dir.filePath(QStringLiteral("original%1.kvs").arg(c.mode));
        const QString backup = dir.filePath(QStringLiteral("before%1.kvs").arg(c.mode));
        WriteAll(original, KvsWith(c.mode, c.low, c.high));
        const QString kv = QStringLiteral("exec \"$KVCTL\" --port ") + sim.port;
        TShell set(kv + " settings set " + original);
        ASSERT_EQ(set.Finish(), 0) << set.err.toStdString();
        const auto before = DeviceEnds(sim.port);
        TShell change(kv + " settings set " + other + " --backup " + backup);
        ASSERT_EQ(change.Finish(), 0) << change.err.toStdString();
        const QByteArray text = ReadAll(backup);
        const float inLow = kv::ScalingValue(KeyOf(text, "Edit_FizikaiForOutL"), 0, '.');
        const float inHigh = kv::ScalingValue(KeyOf(text, "Edit_FizikaiForOutH"), 0, '.');
        TShell restore(kv + " settings set " + backup);
        ASSERT_EQ(restore.Finish(), 0) << restore.err.toStdString();
        EXPECT_TRUE(restore.out.contains("written and verified"));
        const auto after = DeviceEnds(sim.port);
        TShell diff(kv + " settings diff " + original);
        EXPECT_EQ(diff.Finish(), 0) << diff.out.toStdString();
        std::printf("mode %d: before %s / %s, backup %s (%s) / %s (%s), after %s / %s\n", c.mode,
                    Hex(before.first).toUtf8().constData(), Hex(before.second).toUtf8().constData(),
                    KeyOf(text, "Edit_FizikaiForOutL").toUtf8().constData(), Hex(inLow).toUtf8().constData(),
                    KeyOf(text, "Edit_FizikaiForOutH").toUtf8().constData(), Hex(inHigh).toUtf8().constData(),
                    Hex(after.first).toUtf8().constData(), Hex(after.second).toUtf8().constData());
        EXPECT_EQ(KeyOf(text, "Edit_FizikaiForOutL"), QString::fromLatin1(c.low));
        EXPECT_EQ(KeyOf(text, "Edit_FizikaiForOutH"), QString::fromLatin1(c.high));
        for (const auto& [a, b] : {std::pair{before.first, inLow}, {before.second, inHigh}, {before.first, after.first},
                                   {before.second, after.second}})
            EXPECT_EQ(Hex(a), Hex(b));
    }
}

// The trace never takes the place of a file the command reads or writes: a
// script's mistyped name leaves the log and the settings file as they were.
TEST_F(KvctlFilesPty, TheTraceNeverEmptiesAFileOfTheCommand) {
    const QString night = dir.filePath("night.csv"), line3 = tc;
    TShell log(QStringLiteral("exec \"$KVCTL\" --port %1 watch --interval 0 --count 50 --csv %2").arg(sim.port, night));
    ASSERT_EQ(log.Finish(), 0) << log.err.toStdString();
    const QByteArray rows = ReadAll(night), settings = ReadAll(line3);
    ASSERT_EQ(rows.count('\n'), 51);
    const struct {
        QString args;
        const char* says;
    } cases[] = {
        {"--trace " + night + " watch --csv " + night, "--csv " },
        {"--trace " + line3 + " settings set " + line3, "the settings file"},
        {"--trace " + line3 + " settings diff " + line3, "the settings file"},
        {"--trace " + night + " settings get -o " + night + ".kvs --trace " + night + ".kvs", "-o "},
        {"--trace " + sim.port + " status", "--port "},
    };
    for (const auto& c : cases) {
        TShell sh(QStringLiteral("exec \"$KVCTL\" --port %1 %2").arg(sim.port, c.args));
        EXPECT_EQ(sh.Finish(), 2) << c.args.toStdString();
        EXPECT_TRUE(sh.err.contains("is the same file as")) << sh.err.toStdString();
        EXPECT_TRUE(sh.err.contains(c.says)) << sh.err.toStdString();
        EXPECT_TRUE(sh.err.contains("nothing was sent")) << sh.err.toStdString();
        EXPECT_EQ(ReadAll(night), rows);
        EXPECT_EQ(ReadAll(line3), settings);
    }
    // The same file under two names (a link) is the same file.
    ASSERT_TRUE(QFile::link(night, dir.filePath("alias.csv")));
    TShell alias(QStringLiteral("exec \"$KVCTL\" --port %1 --trace %2 watch --csv %3")
                     .arg(sim.port, dir.filePath("alias.csv"), night));
    EXPECT_EQ(alias.Finish(), 2) << alias.err.toStdString();
    EXPECT_EQ(ReadAll(night), rows);
}

// A script whose variable came out empty changes no device it did not name
// and writes nothing it did not name.
TEST_F(KvctlFilesPty, AnEmptyValueIsNoDefault) {
    QDir::setCurrent(dir.path());
    const struct {
        const char* args;
        const char* option;
    } cases[] = {
        {"--port '' settings set TC", "--port"},
        {"--port= settings set TC", "--port"},
        {"watch --count 1 --csv ''", "--csv"},
        {"settings get -o ''", "-o"},
        {"settings set TC --backup ''", "--backup"},
        {"--trace '' status", "--trace"},
        {"calibrate input --fixture '' --certificate ''", "--fixture"},
    };
    for (const auto& c : cases) {
        const QString args = QString::fromLatin1(c.args).replace("TC", tc);
        TShell sh(QStringLiteral("KV_PORT=%1 exec \"$KVCTL\" %2").arg(sim.port, args));
        EXPECT_EQ(sh.Finish(), 2) << c.args;
        EXPECT_TRUE(sh.err.contains(QStringLiteral("%1 is given an empty value").arg(QLatin1String(c.option)).toUtf8()))
            << sh.err.toStdString();
        EXPECT_TRUE(sh.out.isEmpty()) << c.args;
    }
    // The device was never written, and nothing appeared in the folder.
    TShell diff(QStringLiteral("exec \"$KVCTL\" --port %1 settings diff %2").arg(sim.port, tc));
    EXPECT_EQ(diff.Finish(), 1);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"tc.kvs"});
}

// Every output that cannot be written fails with exit 4 before the device is
// touched: on a read-only file system, in a missing folder; and a log the
// full disk refuses its header leaves no empty file.
TEST_F(KvctlFilesPty, UnwritableOutputsFailBeforeTheDeviceIsTouched) {
    TSmallDisk ro("size=64k");
    if (!ro.mounted)
        GTEST_SKIP() << "mounting a tmpfs is not permitted here (not root)";
    const QString inside = ro.Path("tc.kvs"); // a settings file whose folder takes no backup
    WriteAll(inside, Kvs("850"));
    ASSERT_EQ(::mount("tmpfs", QFile::encodeName(ro.dir.path()).constData(), "tmpfs", MS_REMOUNT | MS_RDONLY, "size=64k"), 0);
    const QString kv = QStringLiteral("exec \"$KVCTL\" --port ") + sim.port;
    const QString meter = " calibrate output --meter /dev/null --serial SN1 --certificate ";
    const struct {
        QString args;
        const char* says;
    } cases[] = {
        {" --trace " + ro.Path("t.log") + " status", "Read-only file system"},
        {" --trace " + dir.filePath("no/t.log") + " status", "No such file or directory"},
        {" watch --count 1 --csv " + ro.Path("w.csv"), "Read-only file system"},
        {" settings get -o " + ro.Path("x.kvs"), "Read-only file system"},
        {" factory -o " + dir.filePath("no/x.kvs"), "No such file or directory"},
        {" settings set " + tc + " --backup " + ro.Path("b.kvs"), "Read-only file system"},
        {" settings set " + inside, "Read-only file system"},
        {" calibrate input --fixture true --serial SN1 --certificate " + ro.Path("c.pdf"), "Read-only file system"},
        {meter + ro.Path("c.pdf"), "Read-only file system"},
        {meter + dir.filePath("no/c.pdf"), "No such file or directory"},
    };
    for (const auto& c : cases) {
        TShell sh(kv + c.args);
        EXPECT_EQ(sh.Finish(), 4) << c.args.toStdString() << ": " << sh.err.toStdString();
        EXPECT_TRUE(sh.err.contains(c.says)) << sh.err.toStdString();
        EXPECT_TRUE(sh.err.contains("nothing was sent")) << sh.err.toStdString();
    }
    TShell diff(kv + " settings diff " + tc);
    EXPECT_EQ(diff.Finish(), 1) << "nothing was written to the device";

    TSmallDisk full("size=64k");
    ASSERT_TRUE(full.mounted);
    full.Fill();
    const QString csv = full.Path("new.csv");
    TShell watch(kv + " watch --interval 0 --count 2 --csv " + csv);
    EXPECT_EQ(watch.Finish(), 4) << watch.err.toStdString();
    EXPECT_TRUE(watch.err.contains("No space left on device")) << watch.err.toStdString();
    EXPECT_FALSE(QFile::exists(csv)) << "an empty log was left behind";
}

// -o and --backup: "-", a device and the standard output's own file are
// written to as they are; no file is made beside a device or with no name.
TEST_F(KvctlFilesPty, OutputNamesAsAScriptMeansThem) {
    QDir::setCurrent(dir.path());
    ASSERT_TRUE(QDir().mkpath(dir.filePath("sub")));
    const QString kv = QStringLiteral("\"$KVCTL\" --port ") + sim.port;
    const struct {
        QString script;
        int exit;
        const char* out; // on stdout ("": nothing)
        const char* err;
    } cases[] = {
        {kv + " settings get -o /dev/stdout", 0, "KV=KV5510/KV7730", ""},
        {kv + " settings get -o - | head -2", 0, "KV=KV5510/KV7730", ""},
        {kv + " settings get -o /dev/stdout > got.kvs; cat got.kvs", 0, "KV=KV5510/KV7730", ""},
        {kv + " factory -o /dev/null", 0, "", "saved /dev/null"},
        {kv + " settings set " + tc + " --backup /dev/null", 0, "written and verified", "backup of the device's settings: /dev/null"},
        {kv + " settings set " + tc + " --backup -", 2, "", "--backup names the standard output"},
        {kv + " settings get -o sub/", 2, "", "-o sub/ names a folder"},
        {kv + " settings get -o sub", 2, "", "-o sub names a folder"},
        {kv + " settings get -o .", 2, "", "-o . names a folder"},
        {kv + " settings get -o plain", 0, "", "saved plain.kvs"},
    };
    for (const auto& c : cases) {
        TShell sh(c.script);
        EXPECT_EQ(sh.Finish(), c.exit) << c.script.toStdString() << ": " << sh.err.toStdString();
        EXPECT_EQ(sh.out.contains(c.out) && (*c.out != '\0' || sh.out.isEmpty()), true) << c.script.toStdString()
                                                                                        << ": " << sh.out.toStdString();
        EXPECT_TRUE(sh.err.contains(c.err)) << c.script.toStdString() << ": " << sh.err.toStdString();
    }
    for (const char* stray : {"/dev/stdout.kvs", "/dev/null.kvs", "sub/.kvs", "sub.kvs", "..kvs"})
        EXPECT_FALSE(QFile::exists(QString::fromLatin1(stray))) << stray;
    EXPECT_TRUE(QFile::exists("plain.kvs"));
}

// Smaller things a script meets: a file that is no port, and the message
// of a set whose output failed after the device was read back.
TEST_F(KvctlFilesPty, WhatTheMessagesSay) {
    const struct {
        QString script;
        int exit;
        const char* says;
        const char* never;
    } cases[] = {
        {"\"$KVCTL\" --port /dev/null status", 3, "cannot open /dev/null: not a serial port", "in use by"},
        {"\"$KVCTL\" --port " + dir.path() + " status", 3, "not a serial port", "in use by"},
        {"\"$KVCTL\" --port " + sim.port + " --json settings set " + tc + " --backup " + dir.filePath("b.kvs") + " > /dev/full",
         4, "the write WAS acknowledged and the settings were read back", "not read back"},
    };
    for (const auto& c : cases) {
        TShell sh(c.script);
        EXPECT_EQ(sh.Finish(), c.exit) << c.script.toStdString();
        EXPECT_TRUE(sh.err.contains(c.says)) << sh.err.toStdString();
        EXPECT_FALSE(sh.err.contains(c.never)) << sh.err.toStdString();
    }
}

// The whole-file writer flushes the new text to the disk before it puts it
// under the name: in the order of the calls kvctl makes (written down by a
// preloaded library), the temporary file's fsync comes before its rename.
TEST_F(KvctlFilesPty, FilesAreOnTheDiskBeforeTheyTakeTheirName) {
    const QString other = dir.filePath("other.kvs");
    WriteAll(other, Kvs("100"));
    const struct {
        QString args;
        QString target; // "" : the default backup beside tc.kvs
    } cases[] = {
        {"settings get -o " + dir.filePath("got.kvs"), dir.filePath("got.kvs")},
        {"factory -o " + dir.filePath("got.kvs"), dir.filePath("got.kvs")}, // over an existing file
        {"settings set " + tc + " --backup " + dir.filePath("b.kvs"), dir.filePath("b.kvs")},
        {"settings set " + other, ""}, // a new name, claimed exclusively
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.toStdString());
        const QString log = dir.filePath("calls.log");
        QFile::remove(log);
        TShell sh(QStringLiteral("LD_PRELOAD=%1 KV_SYSCALL_LOG=%2 ASAN_OPTIONS=verify_asan_link_order=0 "
                                 "exec \"$KVCTL\" --port %3 %4")
                      .arg(QStringLiteral(SYSCALL_LOG_PATH), log, sim.port, c.args));
        ASSERT_EQ(sh.Finish(), 0) << sh.err.toStdString();
        const QStringList calls = QString::fromUtf8(ReadAll(log)).split('\n', Qt::SkipEmptyParts);
        // The call that gave the file its name, and the temporary it came from.
        qsizetype named = -1;
        for (qsizetype i = 0; i < calls.size(); ++i) {
            const QStringList w = calls[i].split(' ');
            if ((w[0] == "rename" || w[0] == "link") && w.size() == 3 && w[1].contains(".kvtmp-") &&
                (c.target.isEmpty() ? w[2].contains("other.backup-") : w[2] == c.target))
                named = i;
        }
        ASSERT_GE(named, 0) << "no rename to the file: " << calls.join(" | ").toStdString();
        const QString temporary = calls[named].split(' ')[1];
        bool flushed = false;
        for (qsizetype i = 0; i < named; ++i)
            flushed = flushed || calls[i] == "fsync " + temporary || calls[i] == "fdatasync " + temporary;
        EXPECT_TRUE(flushed) << "renamed without an fsync of " << temporary.toStdString() << " first: "
                             << calls.join(" | ").toStdString();
    }
}
