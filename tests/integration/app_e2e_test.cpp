// The program end to end: the main window with its real link (termios port,
// receive thread, Qt timers) opens kvsim's pseudo-terminal as --connect does
// and runs its poll cycle against the simulator, with real line timing.
#include "MB.h"
#include "Main.h"
#include "NumberPicture.h"
#include "SimProcess.h"
#include "SpeedButton.h"

#include <QAbstractButton>
#include <QElapsedTimer>
#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <cmath>
#include <memory>
#include <vector>

using simtest::WaitFor;

namespace {

double CpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

struct TEnd {
    std::uint8_t command;
    TMBStatus status;
    std::uint16_t pwm; // a poll's PWM word and FET byte
    std::uint8_t fet;
};

// The window on kvsim's port, each finished transaction recorded.
struct TWindow {
    QTemporaryDir dir;
    std::unique_ptr<TForm_Main> form;
    std::vector<TEnd> ends;

    explicit TWindow(const QString& port, const QStringList& parameters = {}) {
        TFormMainOptions o;
        o.IniFileName = dir.filePath(QStringLiteral("kvsetup.ini"));
        o.ConnectPort = port;
        o.Parameters = parameters;
        form = std::make_unique<TForm_Main>(o);
        auto dispatcher = form->MB1->OnMBMasterEndOfEvent;
        form->MB1->OnMBMasterEndOfEvent = [this, dispatcher](TMBStatus s, const std::string& t) {
            const TMB& mb = *form->MB1;
            ends.push_back({mb.MBMasterCommandToSlave(), s,
                            static_cast<std::uint16_t>(mb.MBTXDataAt(1) | mb.MBTXDataAt(2) << 8), mb.MBTXDataAt(8)});
            dispatcher(s, t);
        };
    }
    // Whether a transaction of `command` ended well since end number `from`.
    bool Ended(std::uint8_t command, std::size_t from) const {
        for (std::size_t i = from; i < ends.size(); ++i)
            if (ends[i].command == command && ends[i].status == stOK)
                return true;
        return false;
    }
    // Opens another port the way the user does on the link panel.
    void OpenPort(const QString& port) {
        auto* list = form->MB1->findChild<QListWidget*>(QStringLiteral("ListBox_Ports"));
        auto* open = form->MB1->findChild<QAbstractButton*>(QStringLiteral("SpeedButton_OpenClose"));
        ASSERT_TRUE(list && open);
        list->addItem(port);
        list->setCurrentRow(list->count() - 1);
        form->MB1->MBPortListClick();
        open->setEnabled(true);
        open->click();
    }
};

} // namespace

TEST(AppEndToEnd, PollCycleAgainstTheSimulator) {
    simtest::TKvsimProcess sim({QStringLiteral("--drift"), QStringLiteral("0")});
    ASSERT_TRUE(sim.ok) << sim.output.join('\n').toStdString();
    TWindow w(sim.port);
    TForm_Main& f = *w.form;

    // Opened at the panel's first second; the settings are read after the
    // first good poll and the device's pages appear.
    ASSERT_TRUE(WaitFor([&] { return f.MB1->MBPortOpen(); }, 10000));
    ASSERT_TRUE(WaitFor([&] { return w.Ended(6, 0); }, 10000));
    ASSERT_GE(w.ends.size(), 2u);
    EXPECT_EQ(w.ends[0].command, 1);
    EXPECT_EQ(w.ends[0].status, stOK);
    EXPECT_FALSE(f.SpeedButton_ReadSettingsFromInstrument->Down());
    EXPECT_FALSE(f.PageControl1->isHidden());

    // A written setting is read back.
    f.RadioGroup_OutputMode->setItemIndex(2);
    f.Edit_FizikaiForOutH->setText(QStringLiteral("150"));
    std::size_t from = w.ends.size();
    f.SpeedButton_WriteSettingsToInstrument->setDown(true);
    ASSERT_TRUE(WaitFor([&] { return w.Ended(4, from) && w.Ended(6, from); }, 10000));
    EXPECT_FALSE(f.SpeedButton_WriteSettingsToInstrument->Down());
    EXPECT_FALSE(f.SpeedButton_ReadSettingsFromInstrument->Down());
    f.Edit_FizikaiForOutH->setText(QString());
    f.RadioGroup_OutputMode->setItemIndex(0);
    from = w.ends.size();
    f.SpeedButton_ReadSettingsFromInstrument->setDown(true);
    ASSERT_TRUE(WaitFor([&] { return w.Ended(6, from); }, 10000));
    EXPECT_EQ(f.RadioGroup_OutputMode->ItemIndex(), 2);
    EXPECT_EQ(f.Label_OutH->text(), QStringLiteral("10 V"));
    EXPECT_EQ(f.Edit_FizikaiForOutH->text().toStdString(), std::string("150") + kv::DecimalSeparator() + "0");

    // A maintenance action goes out in the polls until the device
    // acknowledges it; the acknowledgement releases its button.
    f.SpeedButton_HomersekletMinMaxTorlese->setDown(true);
    ASSERT_TRUE(WaitFor([&] { return !f.SpeedButton_HomersekletMinMaxTorlese->Down(); }, 10000));

    // The simulator falls silent: the device's pages go, polling goes on;
    // they come back with the first answer.
    sim.Say(QStringLiteral("silent on"));
    ASSERT_TRUE(WaitFor([&] { return f.PageControl1->isHidden(); }, 15000));
    EXPECT_TRUE(f.GroupBox_ReadWriteDevice->isHidden());
    EXPECT_TRUE(f.MB1->MBPortOpen());
    sim.Say(QStringLiteral("silent off"));
    ASSERT_TRUE(WaitFor([&] { return !f.PageControl1->isHidden(); }, 15000));

    // Hang-up: the link closes, the cycle stops, nothing spins.
    const qsizetype before = sim.output.size();
    sim.Say(QStringLiteral("hangup"));
    ASSERT_TRUE(WaitFor([&] { return !f.MB1->MBPortOpen(); }, 10000));
    // The poll under way, or waiting for its start, ends with the port closed.
    ASSERT_TRUE(WaitFor([&] { return f.PageControl1->isHidden(); }, 2000));
    EXPECT_EQ(w.ends.back().status, stClosedPort);
    const std::size_t endsAfterClose = w.ends.size();
    const double cpu0 = CpuSeconds();
    WaitFor([] { return false; }, 500);
    EXPECT_EQ(w.ends.size(), endsAfterClose);
    EXPECT_LT(CpuSeconds() - cpu0, 0.25);

    // kvsim serves a new port; opening it starts the cycle again.
    QString port;
    for (qsizetype i = before; i < sim.output.size() && port.isEmpty(); ++i)
        if (sim.output[i].startsWith(QLatin1String("kvsim: serving on ")))
            port = sim.output[i].mid(18);
    if (port.isEmpty()) {
        ASSERT_TRUE(sim.NextPort(5000));
        port = sim.port;
    }
    from = w.ends.size();
    w.OpenPort(port);
    ASSERT_TRUE(WaitFor([&] { return w.Ended(1, from); }, 10000));
    EXPECT_FALSE(f.PageControl1->isHidden());
    f.close();
    EXPECT_FALSE(f.MB1->MBPortOpen());
}

// Closing while the output calibration forces the output: the port's Close
// and the window's close first send one poll with PWM 0 and FET 0, and the
// device drives its output from the process value again; a silent device
// holds the close up by one time-out at most.
TEST(AppEndToEnd, ClosingEndsTheForcing) {
    simtest::TKvsimProcess sim({QStringLiteral("--drift"), QStringLiteral("0"), QStringLiteral("--process-noise"),
                                QStringLiteral("0")});
    ASSERT_TRUE(sim.ok) << sim.output.join('\n').toStdString();
    sim.Say(QStringLiteral("value 50"));
    TWindow w(sim.port, {QStringLiteral("/QORMIX")});
    TForm_Main& f = *w.form;
    auto meterMA = [&] {
        WaitFor([] { return false; }, 400); // the device measures every 100 ms
        sim.Say(QStringLiteral("meter"));
        return sim.output.back().section(QLatin1Char(' '), 1, 1).toDouble();
    };
    for (const bool silent : {false, true}) {
        SCOPED_TRACE(silent ? "the window's close, a silent device" : "the port's Close");
        f.PageControl1->setCurrentWidget(f.TabSheet_Settings); // not forcing yet
        const std::size_t from = w.ends.size();
        if (silent)
            w.OpenPort(sim.port);
        ASSERT_TRUE(WaitFor([&] { return w.Ended(kv::cmdPoll, from); }, 10000));
        const double normal = meterMA();
        f.PageControl1->setCurrentWidget(f.TabSheet_DeveloperTool);
        f.PageControl2->setCurrentWidget(f.TabSheet_OutputCalibration);
        ASSERT_TRUE(WaitFor([&] { return std::fabs(meterMA() - normal) > 1.0; }, 10000));
        if (silent)
            sim.Say(QStringLiteral("silent on"));
        QElapsedTimer clock;
        clock.start();
        // Still open until the closing poll has ended.
        EXPECT_FALSE(silent ? f.close() : (f.MB1->MBClose(), !f.MB1->MBPortOpen()));
        ASSERT_TRUE(WaitFor([&] { return !f.MB1->MBPortOpen(); }, 10000));
        EXPECT_LE(clock.elapsed(), f.MB1->MBMasterTimeOut() + 1000);
        EXPECT_EQ(w.ends.back().command, kv::cmdPoll);
        EXPECT_EQ(w.ends.back().status, silent ? stTimeOut : stOK);
        EXPECT_EQ(w.ends.back().pwm, 0);
        EXPECT_EQ(w.ends.back().fet, 0);
        if (!silent) {
            EXPECT_NEAR(meterMA(), normal, 0.01);
        }
    }
}

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
