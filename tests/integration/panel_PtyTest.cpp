// The link panel over real pseudo-terminals: the system's port, its receive
// thread and the port list, with the test playing the device on the master
// side. The engine's timers run on a manual clock; the port's hand-overs run
// through the real event loop.
#include "QtWait.h"
#include "MB.h"
#include "MBTimer.h"
#include "Pty.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QListWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

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

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
