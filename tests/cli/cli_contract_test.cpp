// kvctl's contract with scripts, as a script meets it: real kvctl processes
// against kvsim on pseudo-terminals. Parallel sets and their backups, a CSV
// log that a failing watch leaves alone, outputs that cannot be written (a
// full device, a closed stdout, a full file system), the end by a signal,
// a reader that goes away, and the standard descriptors closed.
#include "SimProcess.h"

#include "SettingsModel.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

using simtest::TKvsimProcess;
using simtest::WaitFor;

namespace {

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void WriteAll(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(f.write(bytes), bytes.size());
}

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
