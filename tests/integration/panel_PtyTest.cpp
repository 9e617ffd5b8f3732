// The link panel over real pseudo-terminals: the system's port, its receive
// thread and the port list, with the test playing the device on the master
// side. The engine's timers run on a manual clock; the port's hand-overs run
// through the real event loop.
#include "QtWait.h"
#include "MB.h"
#include "MBSerialPortLinux.h"
#include "MBTimer.h"
#include "Pty.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QListWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/capability.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>

namespace {

using kvtest::WaitUntil;


std::string Answer() {
    std::string f{1, 0, 5, 0, 0x2A};
    const std::uint16_t crc = MBCRC16(f);
    f += static_cast<char>(crc & 0xFF);
    f += static_cast<char>(crc >> 8);
    return TMBFrameCore::MBEncodeASCII('S', reinterpret_cast<const std::uint8_t*>(f.data()), f.size());
}

double CpuSeconds() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
           static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

struct PanelOverPty : testing::Test {
    kvtest::Pty pty;
    QString path = QString::fromStdString(pty.SlavePath());
    TMBManualClock clock;
    TMB mb{nullptr, &clock, nullptr}; // the system's port
    std::vector<bool> openEvents;
    std::vector<TMBStatus> ends;

    PanelOverPty() {
        setenv("KV_EXTRA_PORTS", pty.SlavePath().c_str(), 1);
        mb.OnMBPortOpenedOrClosed = [this](bool open) { openEvents.push_back(open); };
        mb.OnMBMasterEndOfEvent = [this](TMBStatus s, const std::string&) { ends.push_back(s); };
        mb.setMBLastUsedPort(path);
    }
    ~PanelOverPty() override { unsetenv("KV_EXTRA_PORTS"); }

    QStringList Listed() {
        QStringList l;
        auto* list = mb.findChild<QListWidget*>("ListBox_Ports");
        for (int i = 0; i < list->count(); ++i)
            l << list->item(i)->text();
        return l;
    }
    QToolButton* OpenClose() { return mb.findChild<QToolButton*>("SpeedButton_OpenClose"); }
    QColor Indicator() {
        return mb.findChild<QWidget*>("Shape_PortIndicator")->palette().color(QPalette::Window);
    }
};

TEST_F(PanelOverPty, OpensPollsAndClosesAnExtraPort) {
    ASSERT_TRUE(pty.IsOpen());
    clock.advance(1000); // the deferred start-up lists the ports
    ASSERT_TRUE(Listed().contains(path));
    ASSERT_EQ(mb.MBLastUsedPort(), path);
    OpenClose()->click();
    ASSERT_TRUE(mb.MBPortOpen()) << mb.MBLastOpenError().toStdString();
    EXPECT_EQ(mb.Port(), path);
    EXPECT_EQ(openEvents, std::vector<bool>{true});
    EXPECT_EQ(pty.SlaveSettings().outputRate, 115200u);

    mb.setMBMasterCommandToSlave(1);
    mb.MBStartQuery(0);
    const std::string request = pty.Read(14, std::chrono::seconds(5));
    EXPECT_EQ(request.front(), 'M');
    EXPECT_EQ(request.back(), ';');
    ASSERT_TRUE(pty.Write(Answer()));
    ASSERT_TRUE(WaitUntil([&] { return !ends.empty(); }));
    EXPECT_EQ(ends[0], stOK);
    EXPECT_EQ(mb.MBNumberOfRxFrames(), 1u);

    OpenClose()->click();
    EXPECT_FALSE(mb.MBPortOpen());
    EXPECT_EQ(openEvents, (std::vector<bool>{true, false}));
    // Released: another opener can take it now.
    const int fd = kvtest::HoldPort(pty.SlavePath());
    EXPECT_GE(fd, 0);
    if (fd >= 0)
        close(fd);
}

TEST_F(PanelOverPty, APortHeldElsewhereIsNotListed) {
    ASSERT_TRUE(pty.IsOpen());
    const int fd = kvtest::HoldPort(pty.SlavePath());
    ASSERT_GE(fd, 0);
    clock.advance(1000);
    EXPECT_FALSE(Listed().contains(path));
    close(fd);
    mb.MBRefreshPortList();
    EXPECT_TRUE(Listed().contains(path));
}

TEST_F(PanelOverPty, AVanishedPathFailsToOpen) {
    // A name of its own for the device, which goes away between listing and
    // opening (a pty number could come back for another test meanwhile).
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string gonePath = dir.filePath("ttyGONE").toStdString();
    ASSERT_EQ(symlink(pty.SlavePath().c_str(), gonePath.c_str()), 0);
    setenv("KV_EXTRA_PORTS", gonePath.c_str(), 1);
    mb.setMBLastUsedPort(QString::fromStdString(gonePath));
    clock.advance(1000);
    ASSERT_EQ(mb.MBLastUsedPort().toStdString(), gonePath);
    ASSERT_EQ(unlink(gonePath.c_str()), 0);

    OpenClose()->click();
    EXPECT_FALSE(mb.MBPortOpen());
    EXPECT_TRUE(openEvents.empty());
    EXPECT_TRUE(ends.empty());
    EXPECT_EQ(Indicator(), mbpanel::kRed);
    EXPECT_FALSE(OpenClose()->isChecked());
    EXPECT_EQ(OpenClose()->text(), "Open");
    const QString prefix = QString::fromStdString("TMB : cannot open " + gonePath + "\r");
    EXPECT_TRUE(mb.MBLastOpenError().startsWith(prefix)) << mb.MBLastOpenError().toStdString();
    EXPECT_GT(mb.MBLastOpenError().size(), prefix.size()); // the system's text follows
    EXPECT_FALSE(Listed().contains(QString::fromStdString(gonePath)));
}

TEST_F(PanelOverPty, PullingTheOtherEndWhilePollingClosesOnce) {
    ASSERT_TRUE(pty.IsOpen());
    clock.advance(1000);
    OpenClose()->click();
    ASSERT_TRUE(mb.MBPortOpen());
    // The application's poll cycle: every answer starts the next request.
    int answered = 0;
    mb.OnMBMasterEndOfEvent = [&](TMBStatus s, const std::string&) {
        ends.push_back(s);
        if (s == stOK)
            mb.MBStartQuery(0);
    };
    mb.setMBMasterCommandToSlave(1);
    mb.MBStartQuery(0);
    ASSERT_TRUE(WaitUntil([&] {
        const std::string got = pty.ReadAvailable();
        for (char c : got)
            if (c == ';' && pty.Write(Answer()))
                ++answered;
        return answered >= 20;
    }));
    pty.CloseMaster(); // a request is outstanding now
    ASSERT_TRUE(WaitUntil([&] { return !mb.MBPortOpen(); }));
    EXPECT_EQ(openEvents, (std::vector<bool>{true, false}));
    ASSERT_FALSE(ends.empty());
    EXPECT_EQ(ends.back(), stClosedPort);
    EXPECT_EQ(std::count(ends.begin(), ends.end(), stClosedPort), 1);
    EXPECT_FALSE(OpenClose()->isChecked());
    EXPECT_TRUE(mb.findChild<QWidget*>("ListBox_Ports")->isEnabled());

    // Nothing keeps turning once it is closed.
    const double cpu0 = CpuSeconds();
    QDeadlineTimer quiet(500);
    WaitUntil([&] { return quiet.hasExpired(); }, 2000);
    const double cpu = CpuSeconds() - cpu0;
    std::printf("CPU after the hang-up: %.3f s in 0.5 s\n", cpu);
    EXPECT_LT(cpu, 0.25) << "CPU seconds in 0.5 s after the hang-up";
    EXPECT_EQ(openEvents.size(), 2u);
}

// ---- a full output queue -------------------------------------------------------

// The test's own descriptor of the slave fills the pty's queue until a write
// would block (the far end does not read), as a USB adapter's 4 KB queue
// fills at a low rate; the link's next request then has to wait for room.
struct FullQueue : PanelOverPty {
    int filler = -1;
    TMBSerialPortLinux* port = nullptr;

    void OpenWithAFullQueue() {
        ASSERT_TRUE(pty.IsOpen());
        clock.advance(1000);
        filler = ::open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        ASSERT_GE(filler, 0);
        OpenClose()->click();
        ASSERT_TRUE(mb.MBPortOpen()) << mb.MBLastOpenError().toStdString();
        port = dynamic_cast<TMBSerialPortLinux*>(&mb.MBPortDevice());
        ASSERT_NE(port, nullptr);
        const std::string junk(4096, 'x');
        qint64 queued = 0;
        for (ssize_t n; (n = ::write(filler, junk.data(), junk.size())) > 0;)
            queued += n;
        ASSERT_EQ(errno, EAGAIN);
        ASSERT_GT(queued, 0);
    }
    ~FullQueue() override {
        if (filler >= 0)
            ::close(filler);
    }
    // A request of `n` data bytes (2 n + 14 bytes on the wire).
    std::string Request(int n) {
        mb.setMBMasterCommandToSlave(3);
        mb.MBTXBufferClear();
        std::string frame{1, 0, 3, 0};
        for (int i = 0; i < n; ++i) {
            mb.MBPutByte(static_cast<std::uint8_t>(i * 7));
            frame += static_cast<char>(i * 7);
        }
        const std::uint16_t crc = MBCRC16(frame);
        frame += static_cast<char>(crc & 0xFF);
        frame += static_cast<char>(crc >> 8);
        return TMBFrameCore::MBEncodeASCII('M', reinterpret_cast<const std::uint8_t*>(frame.data()), frame.size());
    }
    // Waits (on its own thread) until the link waits for room in the queue.
    bool LinkWaitsForRoom() const {
        QDeadlineTimer deadline(10000);
        while (port->FullQueueWaits() == 0)
            if (deadline.hasExpired())
                return false;
            else
                std::this_thread::yield();
        return true;
    }
};

TEST_F(FullQueue, ALargeRequestWaitsForRoomAndArrivesWhole) {
    OpenWithAFullQueue();
    const std::string request = Request(1993);
    ASSERT_EQ(request.size(), 4000u);
    std::string heard;
    bool waited = false;
    std::thread device([&] {
        waited = LinkWaitsForRoom();
        // The far end reads at last: the junk, then the request.
        QDeadlineTimer deadline(10000);
        while (heard.find(';') == std::string::npos && !deadline.hasExpired()) {
            heard += pty.Read(1, std::chrono::milliseconds(100));
            heard += pty.ReadAvailable();
        }
        pty.Write(Answer());
    });
    mb.MBStartQuery(0); // blocks in the write until the far end makes room
    device.join();
    EXPECT_TRUE(waited);
    ASSERT_TRUE(WaitUntil([&] { return !ends.empty(); }));
    EXPECT_EQ(ends, std::vector<TMBStatus>{stOK});
    EXPECT_TRUE(mb.MBPortOpen());
    const std::size_t start = heard.find('M');
    ASSERT_NE(start, std::string::npos);
    EXPECT_EQ(heard.substr(0, start), std::string(start, 'x'));
    EXPECT_EQ(heard.substr(start), request);
    // The link itself reads no modem lines: it listens to none.
    EXPECT_EQ(port->LineReads().onGuiThread + port->LineReads().onReceiveThread, 0u);
}

TEST_F(FullQueue, AHangUpWhileWaitingForRoomClosesOnceWithoutSpinning) {
    OpenWithAFullQueue();
    Request(1993);
    std::thread device([&] {
        if (LinkWaitsForRoom())
            pty.CloseMaster();
    });
    const double cpu0 = CpuSeconds();
    mb.MBStartQuery(0); // blocks until the hang-up
    device.join();
    EXPECT_FALSE(mb.MBPortOpen());
    EXPECT_EQ(ends, std::vector<TMBStatus>{stClosedPort});
    EXPECT_EQ(openEvents, (std::vector<bool>{true, false}));
    // The receive thread's hang-up comes too late to do anything.
    QDeadlineTimer quiet(300);
    WaitUntil([&] { return quiet.hasExpired(); }, 2000);
    EXPECT_EQ(ends.size(), 1u);
    EXPECT_EQ(openEvents.size(), 2u);
    EXPECT_LT(CpuSeconds() - cpu0, 0.25);
}

// ---- permission -----------------------------------------------------------------

// Root may open anything: the test drops this thread's right to override
// file permissions (capabilities are per thread) while it lists the ports.
struct TNoFileOverride {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct saved[2]{};
    bool dropped = false;
    TNoFileOverride() {
        if (::syscall(SYS_capget, &header, saved) != 0)
            return;
        __user_cap_data_struct reduced[2] = {saved[0], saved[1]};
        reduced[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
        dropped = ::syscall(SYS_capset, &header, reduced) == 0;
    }
    ~TNoFileOverride() {
        if (dropped)
            ::syscall(SYS_capset, &header, saved);
    }
};

TEST_F(PanelOverPty, APortWithoutPermissionIsNamedInTheListsTooltip) {
    ASSERT_TRUE(pty.IsOpen());
    ASSERT_EQ(::chmod(pty.SlavePath().c_str(), 0), 0);
    {
        TNoFileOverride asAUser;
        clock.advance(1000); // the first refresh
    }
    auto* list = mb.findChild<QListWidget*>("ListBox_Ports");
    EXPECT_FALSE(Listed().contains(path));
    const QString tip = list->toolTip();
    EXPECT_TRUE(tip.startsWith(QStringLiteral("Not listed:\n"))) << tip.toStdString();
    EXPECT_TRUE(tip.contains(path + QStringLiteral(": no permission to open it: "))) << tip.toStdString();

    ASSERT_EQ(::chmod(pty.SlavePath().c_str(), 0620), 0);
    mb.MBRefreshPortList();
    EXPECT_TRUE(Listed().contains(path));
    EXPECT_FALSE(list->toolTip().contains(path));
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
