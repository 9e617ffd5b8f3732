// The Linux serial port and its receive thread over real pseudo-terminals:
// the test plays the device on the master side.
#include "QtWait.h"
#include "MBListPorts.h"
#include "MBPort.h"
#include "MBPortHolders.h"
#include "MBSerialPortLinux.h"
#include "MBTypes.h"
#include "Pty.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <spawn.h>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

using kvtest::WaitUntil;


// Waits, without serving the GUI thread, until the receive thread has handed
// over `count` batches.
bool WaitForHandOvers(const TMBSerialPortLinux& port, std::uint64_t count) {
    QDeadlineTimer deadline(5000);
    while (port.HandOversPosted() < count) {
        if (deadline.hasExpired())
            return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

struct Receiver {
    TMBPort& port;
    QByteArray bytes;
    int chunks = 0;
    int hangUps = 0;
    bool offThread = false;
    explicit Receiver(TMBPort& p) : port(p) {
        port.OnReceive = [this](qint64 n) {
            ++chunks;
            offThread = offThread || QThread::currentThread() != qApp->thread();
            const QByteArray got = port.Read(n);
            EXPECT_EQ(got.size(), n);
            bytes += got;
        };
        port.OnHangUp = [this] { ++hangUps; };
    }
};

QString Slave(const kvtest::Pty& pty) { return QString::fromStdString(pty.SlavePath()); }

TEST(PtyPort, OpensRaw8N1AndCarriesBytesBothWays) {
    kvtest::Pty pty;
    ASSERT_TRUE(pty.IsOpen());
    TMBSerialPortLinux port;
    Receiver rx(port);
    ASSERT_TRUE(port.Open(Slave(pty), 115200)) << port.ErrorText().toStdString();
    EXPECT_TRUE(port.IsOpen());

    const kvtest::PtyLineSettings line = pty.SlaveSettings();
    EXPECT_EQ(line.outputRate, 115200u);
    EXPECT_TRUE(line.raw8N1);
    EXPECT_TRUE(line.localReceive);
    EXPECT_EQ(line.vmin, 1);
    EXPECT_EQ(line.vtime, 0);

    EXPECT_EQ(port.Write(QByteArray("M0103;")), 6);
    EXPECT_EQ(pty.Read(6, 5s), "M0103;");

    ASSERT_TRUE(pty.Write("S01"));
    ASSERT_TRUE(WaitUntil([&] { return rx.bytes.size() >= 3; }));
    ASSERT_TRUE(pty.Write("A7;"));
    ASSERT_TRUE(WaitUntil([&] { return rx.bytes.size() >= 6; }));
    EXPECT_EQ(rx.bytes, QByteArray("S01A7;"));
    EXPECT_GE(rx.chunks, 2);

    // A large answer comes whole and in order, in as many batches as it takes.
    std::string big;
    for (int i = 0; i < 6000; ++i)
        big += static_cast<char>('0' + i % 43);
    rx.bytes.clear();
    ASSERT_TRUE(pty.Write(big));
    ASSERT_TRUE(WaitUntil([&] { return rx.bytes.size() >= qsizetype(big.size()); }));
    EXPECT_EQ(rx.bytes.toStdString(), big);
    EXPECT_FALSE(rx.offThread);
    EXPECT_EQ(rx.hangUps, 0);
}

TEST(PtyPort, APortHeldElsewhereDoesNotOpen) {
    kvtest::Pty pty;
    ASSERT_TRUE(pty.IsOpen());
    struct Case {
        const char* holder;
        std::function<std::function<void()>()> hold; // returns the release
    };
    const Case cases[] = {
        {"this program",
         [&]() -> std::function<void()> {
             auto first = std::make_shared<TMBSerialPortLinux>();
             EXPECT_TRUE(first->Open(Slave(pty), 9600));
             return [first] { first->Close(); };
         }},
        {"another program's lock",
         [&]() -> std::function<void()> {
             const int fd = kvtest::HoldPort(pty.SlavePath());
             EXPECT_GE(fd, 0);
             return [fd] { ::close(fd); };
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.holder);
        const std::function<void()> release = c.hold();
        TMBSerialPortLinux second;
        EXPECT_FALSE(second.Open(Slave(pty), 9600));
        EXPECT_FALSE(second.IsOpen());
        EXPECT_EQ(second.ErrorText(), QStringLiteral("Device or resource busy"));
        release();
        EXPECT_TRUE(second.Open(Slave(pty), 9600)) << second.ErrorText().toStdString();
    }

    TMBSerialPortLinux missing;
    EXPECT_FALSE(missing.Open(QStringLiteral("/dev/ttyKV-does-not-exist"), 9600));
    EXPECT_EQ(missing.ErrorText(), QStringLiteral("No such file or directory"));
}

TEST(PtyPort, ReopensWhileTheOtherEndStaysOpen) {
    kvtest::Pty pty;
    ASSERT_TRUE(pty.IsOpen());
    TMBSerialPortLinux port;
    Receiver rx(port);
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        ASSERT_TRUE(port.Open(Slave(pty), 19200)) << port.ErrorText().toStdString();
        EXPECT_TRUE(pty.SlaveExclusive());
        rx.bytes.clear();
        ASSERT_TRUE(pty.Write("ping"));
        ASSERT_TRUE(WaitUntil([&] { return rx.bytes.size() >= 4; }));
        EXPECT_EQ(rx.bytes, QByteArray("ping"));
        port.Close();
        EXPECT_FALSE(port.IsOpen());
        // Exclusive mode sticks to the tty: left on, it would refuse the next
        // open of anyone but root.
        EXPECT_FALSE(pty.SlaveExclusive());
        EXPECT_EQ(port.Write(QByteArray("x")), -1);
    }
}

// A pseudo-terminal takes any BOTHER rate and reports it back exactly, so
// every rate of the panel is checked end to end (a UART may round instead).
TEST(PtyPort, EveryRateIsSetAsANumberAndReadBack) {
    kvtest::Pty pty;
    ASSERT_TRUE(pty.IsOpen());
    for (const std::uint32_t rate : mb::kBaudRates) {
        SCOPED_TRACE(rate);
        TMBSerialPortLinux port;
        ASSERT_TRUE(port.Open(Slave(pty), rate)) << port.ErrorText().toStdString();
        EXPECT_EQ(port.Rate(), rate);
        const kvtest::PtyLineSettings line = pty.SlaveSettings();
        EXPECT_EQ(line.outputRate, rate);
        EXPECT_TRUE(line.bother);
    }
    TMBSerialPortLinux port;
    EXPECT_FALSE(port.Open(Slave(pty), 0));
    EXPECT_FALSE(port.IsOpen());
}

// An instrument's line as its manual wires it: the frame and the handshake
// reach the driver and are read back from it. A pseudo-terminal keeps stop
// bits and RTS/CTS as set but forces 8 data bits without parity, as a UART
// without 7-bit frames would: the read-back refuses the open rather than
// talk to the instrument in another frame. It has no modem lines to show
// DTR and RTS, and a DTR/DSR line writes on it (nothing holds it off). The
// transmitter's next open is 8N1 again.
TEST(PtyPort, AnInstrumentsFrameAndHandshakeAreSetAndReadBack) {
    kvtest::Pty pty;
    ASSERT_TRUE(pty.IsOpen());
    struct {
        TMBLineSettings line;
        const char* frame;
        bool rtsCts;
        const char* refused; // the driver keeps another frame
    } const table[] = {
        {{8, TMBParity::None, 2, TMBHandshake::DtrDsr, true, true}, "8N2", false, nullptr},
        {{8, TMBParity::None, 1, TMBHandshake::RtsCts, true, true}, "8N1", true, nullptr},
        {{8, TMBParity::None, 2, TMBHandshake::None, false, false}, "8N2", false, nullptr},
        {{7, TMBParity::Even, 1, TMBHandshake::None, true, true}, "7E1", false, "the driver keeps 8N1 instead of 7E1"},
        {{8, TMBParity::Odd, 2, TMBHandshake::RtsCts, true, true}, "8O2", true,
         "the driver keeps 8N2 with RTS/CTS instead of 8O2 with RTS/CTS"},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.frame);
        TMBSerialPortLinux port;
        if (row.refused) {
            EXPECT_FALSE(port.Open(Slave(pty), 9600, row.line));
            EXPECT_NE(port.ErrorText().indexOf(QLatin1String(row.refused)), -1) << port.ErrorText().toStdString();
            EXPECT_FALSE(port.IsOpen());
            continue;
        }
        ASSERT_TRUE(port.Open(Slave(pty), 9600, row.line)) << port.ErrorText().toStdString();
        const kvtest::PtyLineSettings line = pty.SlaveSettings();
        EXPECT_EQ(line.frame, row.frame);
        EXPECT_EQ(line.rtsCts, row.rtsCts);
        EXPECT_TRUE(line.localReceive);
        EXPECT_EQ(line.outputRate, 9600u);
        EXPECT_EQ(port.Write(QByteArray("*IDN?\n")), 6);
        EXPECT_EQ(pty.Read(6, 5s), "*IDN?\n");
        port.Close();
        ASSERT_TRUE(port.Open(Slave(pty), 9600));
        EXPECT_TRUE(pty.SlaveSettings().raw8N1);
    }
    // Settings no driver is asked for.
    TMBSerialPortLinux port;
    EXPECT_FALSE(port.Open(Slave(pty), 9600, {6, TMBParity::None, 1, TMBHandshake::None, true, true}));
    EXPECT_NE(port.ErrorText().indexOf(QLatin1String("7 or 8")), -1) << port.ErrorText().toStdString();
    EXPECT_FALSE(port.Open(Slave(pty), 9600, {8, TMBParity::None, 1, TMBHandshake::DtrDsr, false, true}));
    EXPECT_FALSE(port.IsOpen());
}

TEST(PtyPort, AHangUpIsReportedOnceAndTheThreadThenRests) {
    auto pty = std::make_unique<kvtest::Pty>();
    ASSERT_TRUE(pty->IsOpen());
    TMBSerialPortLinux port;
    Receiver rx(port);
    ASSERT_TRUE(port.Open(Slave(*pty), 9600));
    ASSERT_TRUE(pty->Write("last"));
    ASSERT_TRUE(WaitUntil([&] { return rx.bytes.size() >= 4; }));

    pty->CloseMaster();
    ASSERT_TRUE(WaitUntil([&] { return rx.hangUps > 0; }));
    const auto cpu = port.ReceiveThreadCpuTime();
    const auto handOvers = port.HandOversPosted();

    // A dead port wakes poll at once, forever: a thread that kept waiting on
    // it would burn a core here.
    WaitUntil([] { return false; }, 300);
    EXPECT_EQ(rx.hangUps, 1);
    EXPECT_EQ(port.HandOversPosted(), handOvers);
    EXPECT_LT(port.ReceiveThreadCpuTime() - cpu, 20ms);
    EXPECT_TRUE(port.IsOpen()); // the owner closes it
    EXPECT_EQ(port.Write(QByteArray("x")), -1);
    port.Close();
    EXPECT_FALSE(port.IsOpen());
}

// Level-triggered poll would announce bytes that the receiver leaves in the
// queue again and again; they are dropped instead, and the next batch comes
// on its own.
TEST(PtyPort, BytesTheReceiverLeavesAreDroppedNotAnnouncedAgain) {
    kvtest::Pty pty;
    ASSERT_TRUE(pty.IsOpen());
    TMBSerialPortLinux port;
    QList<qint64> announced;
    port.OnReceive = [&](qint64 n) { announced << n; };
    ASSERT_TRUE(port.Open(Slave(pty), 9600));
    ASSERT_TRUE(pty.Write("abc"));
    ASSERT_TRUE(WaitUntil([&] { return !announced.isEmpty(); }));
    EXPECT_EQ(port.BytesWaiting(), 0);
    ASSERT_TRUE(pty.Write("de"));
    ASSERT_TRUE(WaitUntil([&] { return announced.size() >= 2; }));
    EXPECT_EQ(announced, (QList<qint64>{3, 2}));

    port.OnReceive = nullptr; // nobody listening: the same
    const auto before = port.HandOversPosted();
    ASSERT_TRUE(pty.Write("fg"));
    ASSERT_TRUE(WaitUntil([&] { return port.HandOversPosted() > before && port.BytesWaiting() == 0; }));
}

// A receiver that takes a batch in parts is offered the rest at once, in the
// same hand-over, down to the last byte.
TEST(PtyPort, WhatTheReceiverLeavesIsOfferedAgainAtOnce) {
    kvtest::Pty pty;
    ASSERT_TRUE(pty.IsOpen());
    TMBSerialPortLinux port;
    QList<qint64> offered;
    QByteArray taken;
    port.OnReceive = [&](qint64 n) {
        offered << n;
        taken += port.Read(std::min<qint64>(n, 3));
    };
    ASSERT_TRUE(port.Open(Slave(pty), 9600));
    ASSERT_TRUE(pty.Write("abcdefgh"));
    ASSERT_TRUE(WaitUntil([&] { return taken.size() >= 8; }));
    EXPECT_EQ(taken, QByteArray("abcdefgh"));
    // More offers than hand-overs: the rest came without waiting for new bytes.
    EXPECT_GT(std::uint64_t(offered.size()), port.HandOversPosted());
    EXPECT_EQ(port.BytesWaiting(), 0);
}

// Bytes that arrive while a batch is being served, or while it still waits
// for the GUI thread, come in a later hand-over, whole and in order, and no
// hand-over offers nothing.
TEST(PtyPort, BytesArrivingWhileABatchIsServedOrQueuedAreNotLost) {
    kvtest::Pty pty;
    ASSERT_TRUE(pty.IsOpen());
    TMBSerialPortLinux port;
    QByteArray got;
    QList<qint64> offered;
    port.OnReceive = [&](qint64 n) {
        offered << n;
        got += port.Read(n);
        if (got.size() < 20) { // the device sends on while the GUI thread is busy
            pty.Write(std::string(1, char('a' + got.size())));
            std::this_thread::sleep_for(2ms);
        }
    };
    ASSERT_TRUE(port.Open(Slave(pty), 115200));
    ASSERT_TRUE(pty.Write("a"));
    ASSERT_TRUE(WaitUntil([&] { return got.size() >= 20; }));
    EXPECT_EQ(got, QByteArray("abcdefghijklmnopqrst"));

    // Handed over, not yet served, when more comes.
    const auto before = port.HandOversPosted();
    ASSERT_TRUE(pty.Write("u"));
    ASSERT_TRUE(WaitForHandOvers(port, before + 1));
    ASSERT_TRUE(pty.Write("v"));
    ASSERT_TRUE(WaitUntil([&] { return got.size() >= 22; }));
    ASSERT_TRUE(pty.Write("w"));
    ASSERT_TRUE(WaitUntil([&] { return got.size() >= 23; }));
    EXPECT_EQ(got.mid(20), QByteArray("uvw"));
    EXPECT_FALSE(offered.contains(0));
    EXPECT_EQ(port.BytesWaiting(), 0);
}

// Closing while the device floods the line: from the event loop, from inside
// the receive callback, and by destroying the port inside it. None may
// deadlock against the hand-over the thread is waiting on.
TEST(PtyPort, ClosingWhileTheDeviceFloodsNeverDeadlocks) {
    enum How { fromLoop, inCallback, destroyInCallback };
    for (const How how : {fromLoop, inCallback, destroyInCallback}) {
        SCOPED_TRACE(how);
        kvtest::Pty pty;
        ASSERT_TRUE(pty.IsOpen());
        auto port = std::make_unique<TMBSerialPortLinux>();
        ASSERT_TRUE(port->Open(Slave(pty), 921600));
        std::atomic<bool> flooding{true};
        std::thread device([&] {
            const std::string burst(512, 'F');
            while (flooding)
                pty.Write(burst, 50ms);
        });
        qint64 received = 0;
        bool closeNow = false;
        int callsAfterClose = 0;
        TMBPort* raw = port.get();
        port->OnReceive = [&](qint64 n) {
            if (!raw) {
                ++callsAfterClose;
                return;
            }
            received += raw->Read(n).size();
            if (!closeNow)
                return;
            if (how == inCallback)
                raw->Close();
            else if (how == destroyInCallback)
                port.reset();
            raw = nullptr;
        };
        ASSERT_TRUE(WaitUntil([&] { return received >= 64 * 1024; }));

        const auto start = std::chrono::steady_clock::now();
        closeNow = true;
        if (how == fromLoop) {
            port->Close();
            raw = nullptr;
        } else {
            ASSERT_TRUE(WaitUntil([&] { return raw == nullptr; }));
        }
        QCoreApplication::processEvents(); // hand-overs queued before the close
        EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
        EXPECT_EQ(callsAfterClose, 0);
        flooding = false;
        device.join();
    }
}

// The thread has handed a batch over but the GUI thread has not served it
// yet when the port closes (and maybe opens again): the batch is dropped.
TEST(PtyPort, AHandOverServedAfterTheCloseDoesNothing) {
    for (const bool reopen : {false, true}) {
        SCOPED_TRACE(reopen ? "reopened" : "closed");
        kvtest::Pty pty;
        ASSERT_TRUE(pty.IsOpen());
        TMBSerialPortLinux port;
        Receiver rx(port);
        ASSERT_TRUE(port.Open(Slave(pty), 9600));
        ASSERT_TRUE(pty.Write("stale"));
        ASSERT_TRUE(WaitForHandOvers(port, 1));
        port.Close();
        if (reopen) {
            ASSERT_TRUE(port.Open(Slave(pty), 9600));
        }
        QCoreApplication::processEvents();
        EXPECT_EQ(rx.chunks, 0);
        EXPECT_TRUE(rx.bytes.isEmpty());
        if (reopen) { // and the new open still works
            ASSERT_TRUE(pty.Write("fresh"));
            ASSERT_TRUE(WaitUntil([&] { return rx.bytes.size() >= 5; }));
            EXPECT_EQ(rx.bytes, QByteArray("fresh"));
        }
    }
}

TEST(PtyPort, ThePortListHasFreeExtraPortsOnly) {
    kvtest::Pty free1, held, ours;
    ASSERT_TRUE(free1.IsOpen() && held.IsOpen() && ours.IsOpen());
    std::string vanished;
    {
        kvtest::Pty gone;
        vanished = gone.SlavePath();
    }
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString plainFile = dir.filePath(QStringLiteral("not-a-tty"));
    {
        QFile f(plainFile);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    const int holder = kvtest::HoldPort(held.SlavePath());
    ASSERT_GE(holder, 0);
    TMBSerialPortLinux open;
    ASSERT_TRUE(open.Open(Slave(ours), 9600));

    const QByteArray saved = qgetenv("KV_EXTRA_PORTS");
    qputenv("KV_EXTRA_PORTS", QByteArray::fromStdString(held.SlavePath() + ":" + vanished + "::" +
                                                        free1.SlavePath() + ":" + ours.SlavePath() + ":") +
                                  ":" + QFile::encodeName(plainFile));
    QStringList list{QStringLiteral("kept")};
    MBListPorts(&list);
    if (saved.isNull())
        qunsetenv("KV_EXTRA_PORTS");
    else
        qputenv("KV_EXTRA_PORTS", saved);
    ::close(holder);

    ASSERT_FALSE(list.isEmpty());
    EXPECT_EQ(list.first(), QStringLiteral("kept")); // appended to, not replaced
    EXPECT_EQ(list.last(), Slave(free1));            // extra ports come after the machine's
    EXPECT_EQ(list.count(Slave(free1)), 1);
    for (const std::string& absent : {held.SlavePath(), vanished, ours.SlavePath()})
        EXPECT_FALSE(list.contains(QString::fromStdString(absent))) << absent;
    EXPECT_FALSE(list.contains(plainFile));

    // Probing let go of the free port again.
    TMBSerialPortLinux port;
    EXPECT_TRUE(port.Open(Slave(free1), 9600));
}

// The modem lines are USB control transfers on many adapters: read in the
// receive thread, and only while somebody listens to them.
TEST(PtyPort, ModemLinesAreReadOffTheGuiThreadAndOnlyWhileListenedTo) {
    kvtest::Pty pty;
    ASSERT_TRUE(pty.IsOpen());
    TMBSerialPortLinux port;
    Receiver rx(port);
    int lineEvents = 0;
    port.OnLineState = [&](std::uint32_t, std::uint32_t) { ++lineEvents; };
    ASSERT_TRUE(port.Open(Slave(pty), 115200));
    for (const char* burst : {"a", "bc", "def"}) {
        const qsizetype before = rx.bytes.size();
        ASSERT_TRUE(pty.Write(burst));
        ASSERT_TRUE(WaitUntil([&] { return rx.bytes.size() > before; }));
    }
    const TCommThread::TLineReads listened = port.LineReads();
    EXPECT_EQ(listened.onGuiThread, 0u);
    EXPECT_GE(listened.onReceiveThread, 3u);
    EXPECT_EQ(lineEvents, 0); // a pty's lines never change

    port.OnLineState = nullptr; // noticed at the next hand-over
    ASSERT_TRUE(pty.Write("g"));
    ASSERT_TRUE(WaitUntil([&] { return rx.bytes.endsWith('g'); }));
    const std::uint64_t after = port.LineReads().onReceiveThread;
    for (const char* burst : {"h", "ij"}) {
        const qsizetype before = rx.bytes.size();
        ASSERT_TRUE(pty.Write(burst));
        ASSERT_TRUE(WaitUntil([&] { return rx.bytes.size() > before; }));
    }
    EXPECT_EQ(port.LineReads().onReceiveThread, after);
    EXPECT_EQ(port.LineReads().onGuiThread, 0u);
}

// Another process that holds the pty: `sleep` with the pty's slave as its
// standard input, and maybe the master (a device end) as descriptor 3.
struct THolderProcess {
    pid_t pid = -1;
    THolderProcess(const std::string& slave, int master) {
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_addopen(&fa, 0, slave.c_str(), O_RDWR | O_NOCTTY, 0);
        if (master >= 0)
            posix_spawn_file_actions_adddup2(&fa, master, 3);
        char arg0[] = "sleep", arg1[] = "60";
        char* argv[] = {arg0, arg1, nullptr};
        if (posix_spawnp(&pid, "sleep", &fa, nullptr, argv, environ) != 0)
            pid = -1;
        posix_spawn_file_actions_destroy(&fa);
    }
    ~THolderProcess() {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    }
    // Until the child has opened the slave and become `sleep`.
    bool Ready(const std::string& slave) const {
        return WaitUntil([&] {
            QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
            return QFileInfo(QStringLiteral("/proc/%1/fd/0").arg(pid)).symLinkTarget() ==
                       QString::fromStdString(slave) &&
                   comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed() == "sleep";
        });
    }
};

TEST(PtyPort, AProgramHoldingThePortWithoutALockIsSeen) {
    QTemporaryDir locks;
    ASSERT_TRUE(locks.isValid());
    struct Case {
        const char* name;
        bool child, childHoldsMaster, lockOfChild, lockOfDeadProcess;
        bool held;
    };
    const Case cases[] = {
        {"plain open by another program", true, false, false, false, true},
        {"UUCP lock file of a live process", false, false, true, false, true},
        {"stale UUCP lock file", false, false, false, true, false},
        {"the pty's own device end (master and slave)", true, true, false, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        kvtest::Pty pty;
        ASSERT_TRUE(pty.IsOpen());
        const QString slave = Slave(pty);
        // A live process to name in a lock: a holder that holds nothing.
        THolderProcess child(c.child ? pty.SlavePath() : "/dev/null", c.childHoldsMaster ? pty.MasterFd() : -1);
        ASSERT_GT(child.pid, 0);
        ASSERT_TRUE(child.Ready(c.child ? pty.SlavePath() : "/dev/null"));
        const QString lock = locks.filePath(QStringLiteral("LCK..") + slave.mid(5).replace(u'/', u'_'));
        QFile::remove(lock);
        if (c.lockOfChild || c.lockOfDeadProcess) {
            QFile f(lock);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(QByteArray::number(c.lockOfChild ? child.pid : 999999999).rightJustified(10, ' ') + "\n");
        }

        const QList<mb::TPortHolder> holders = mb::TPortHolders::Scan(QStringLiteral("/proc"), locks.path()).Of(slave, true);
        ASSERT_EQ(holders.size(), c.held ? 1 : 0);
        if (!c.held)
            continue;
        EXPECT_EQ(holders[0].pid, child.pid);
        EXPECT_EQ(holders[0].program, QStringLiteral("sleep"));
        if (c.lockOfChild)
            continue; // the lists and the open look in /var/lock
        const QString text = QStringLiteral("in use by sleep (process %1)").arg(child.pid);

        qputenv("KV_EXTRA_PORTS", QFile::encodeName(slave));
        QStringList list;
        QList<mb::TLeftOutPort> leftOut;
        mb::ListPorts(&list, &leftOut);
        qunsetenv("KV_EXTRA_PORTS");
        EXPECT_FALSE(list.contains(slave));
        const auto entry = std::find_if(leftOut.begin(), leftOut.end(), [&](const mb::TLeftOutPort& p) { return p.path == slave; });
        ASSERT_NE(entry, leftOut.end());
        EXPECT_EQ(entry->reason, text);

        TMBSerialPortLinux port;
        EXPECT_FALSE(port.Open(slave, 9600));
        EXPECT_EQ(port.ErrorText(), QStringLiteral("Device or resource busy: ") + text);
    }
}

// Every open of a tty raises DTR and RTS (the kernel does so whenever the
// rate is not 0): listing the ports must not open them. A pty has no modem
// lines to watch, but its node reports every open to inotify.
TEST(PtyPort, ListingThePortsOpensNone) {
    kvtest::Pty pty;
    ASSERT_TRUE(pty.IsOpen());
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(::inotify_add_watch(watch, pty.SlavePath().c_str(), IN_OPEN), 0);
    qputenv("KV_EXTRA_PORTS", QByteArray::fromStdString(pty.SlavePath()));
    QStringList list;
    MBListPorts(&list);
    qunsetenv("KV_EXTRA_PORTS");
    EXPECT_TRUE(list.contains(Slave(pty)));
    EXPECT_TRUE(mb::ProbePort(Slave(pty)));
    char events[4096];
    EXPECT_LT(::read(watch, events, sizeof events), 0) << "the probe opened the device";
    TMBSerialPortLinux port; // an open does show (the watch works)
    ASSERT_TRUE(port.Open(Slave(pty), 9600));
    EXPECT_GT(::read(watch, events, sizeof events), 0);
    ::close(watch);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
