// The output calibration end to end: the real window on kvsim's pseudo-
// terminal, an operator who reads kvsim's meter and presses the page's
// buttons coarse to fine, and the board's output before and after.
#include "MB.h"
#include "Main.h"
#include "SimProcess.h"
#include "SpeedButton.h"

#include <QApplication>
#include <QDir>
#include <QPushButton>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <string>

using simtest::WaitFor;

namespace {

struct TPoll {
    bool ok;
    int pwm;
};

struct TMeter {
    double mA = NAN, V = NAN;
};

class TOperator {
public:
    TOperator(simtest::TKvsimProcess& sim, TForm_Main& form) : sim_(sim), f_(form) {
        auto dispatcher = f_.MB1->OnMBMasterEndOfEvent;
        f_.MB1->OnMBMasterEndOfEvent = [this, dispatcher](TMBStatus s, const std::string& t) {
            const std::uint8_t command = f_.MB1->MBMasterCommandToSlave();
            if (command == kv::cmdPoll)
                polls_.push_back({s == stOK, f_.MB1->MBTXDataAt(1) | f_.MB1->MBTXDataAt(2) << 8});
            else if (command == kv::cmdWriteOutputCalibration && s == stOK)
                ++writes_;
            dispatcher(s, t);
        };
    }

    // Until the device has answered polls that carry what the page forces
    // now, spanning at least `minPolls` (the device measures every 100 ms).
    bool Settle(std::size_t minPolls = 1) {
        const std::size_t from = polls_.size();
        return WaitFor(
            [&] {
                const int word = f_.PollPWMValue();
                for (std::size_t i = from + minPolls - 1; i < polls_.size(); ++i)
                    if (polls_[i].ok && polls_[i].pwm == word)
                        return true;
                return false;
            },
            10000);
    }
    TMeter Meter() {
        EXPECT_TRUE(Settle());
        sim_.Say(QStringLiteral("meter"));
        TMeter m;
        const QString line = sim_.output.isEmpty() ? QString() : sim_.output.back();
        EXPECT_EQ(std::sscanf(line.toUtf8().constData(), "meter %lf mA %lf V", &m.mA, &m.V), 2) << line.toStdString();
        return m;
    }
    double Read(bool current) {
        const TMeter m = Meter();
        return current ? m.mA : m.V;
    }
    // The device in normal operation at a process value (°C of 0..100).
    double OutputAt(double value) {
        sim_.Say(QStringLiteral("value %1").arg(value));
        EXPECT_TRUE(Settle(5));
        return Meter().mA;
    }

    // As a person does it: at each decade of the buttons, as many presses as
    // the meter's distance from the target asks for (by the response seen so
    // far), then a look at the meter; finer once a press would overshoot.
    double Adjust(double target, bool current) {
        const struct {
            int step;
            QPushButton* TForm_Main::*up;
            QPushButton* TForm_Main::*down;
        } decades[] = {
            {10000, &TForm_Main::Button_IP10000, &TForm_Main::Button_IM10000},
            {1000, &TForm_Main::Button_IP1000, &TForm_Main::Button_IM1000},
            {100, &TForm_Main::Button_IP100, &TForm_Main::Button_IM100},
            {10, &TForm_Main::Button_IP10, &TForm_Main::Button_IM10},
            {1, &TForm_Main::Button_IP1, &TForm_Main::Button_IM1},
        };
        double slope = (current ? 24.0 : 12.0) / 65535.0; // per count, as the data sheet says
        double reading = Read(current);
        std::int32_t at = f_.PWMValue;
        for (const auto& d : decades) {
            for (int look = 0; look < 6; ++look) {
                const long presses = std::lround((target - reading) / (slope * d.step));
                if (presses == 0)
                    break;
                for (long i = 0; i < std::min(std::labs(presses), 9L); ++i)
                    (f_.*(presses > 0 ? d.up : d.down))->click();
                ++looks;
                const double now = Read(current);
                if (std::abs(f_.PWMValue - at) >= 100)
                    slope = (now - reading) / (f_.PWMValue - at);
                reading = now;
                at = f_.PWMValue;
            }
        }
        return reading;
    }

    int writes_ = 0;
    int looks = 0;

private:
    simtest::TKvsimProcess& sim_;
    TForm_Main& f_;
    std::vector<TPoll> polls_;
};

void Shot(TForm_Main& f, const char* name) {
    const QString dir = qEnvironmentVariable("KV_SCREENSHOT_DIR");
    if (dir.isEmpty())
        return;
    QDir().mkpath(dir);
    QApplication::processEvents();
    EXPECT_TRUE(f.grab().save(dir + QLatin1Char('/') + QLatin1String(name) + QStringLiteral(".png")));
}

class OutputCalibrationEndToEnd : public ::testing::TestWithParam<int> {};

TEST_P(OutputCalibrationEndToEnd, AnOperatorCalibratesTheBoardWithTheMeter) {
    const int seed = GetParam();
    // The input measures with the board's own calibration: only the output
    // is to be calibrated here.
    simtest::TKvsimProcess sim({QStringLiteral("--board-seed"), QString::number(seed), QStringLiteral("--drift"),
                                QStringLiteral("0"), QStringLiteral("--process-noise"), QStringLiteral("0"),
                                QStringLiteral("--own-calibration")});
    ASSERT_TRUE(sim.ok) << sim.output.join('\n').toStdString();
    QTemporaryDir dir;
    TFormMainOptions o;
    o.IniFileName = dir.filePath(QStringLiteral("kvsetup.ini"));
    o.ConnectPort = sim.port;
    o.Parameters << QStringLiteral("/QORMIX");
    TForm_Main f(o);
    const bool shots = seed == 1 && !qEnvironmentVariableIsEmpty("KV_SCREENSHOT_DIR");
    if (shots)
        f.show();
    TOperator op(sim, f);
    ASSERT_TRUE(WaitFor([&] { return f.MB1->MBPortOpen() && !f.SpeedButton_ReadSettingsFromInstrument->Down(); }, 10000));

    // Before: the board misses the nominal output.
    const struct {
        double value, mA;
    } points[] = {{25.0, 8.0}, {50.0, 12.0}, {100.0, 20.0}};
    std::string figures = "board " + std::to_string(seed) + ", off by (mA) before:";
    auto off = [&](const auto& p) {
        const double e = op.OutputAt(p.value) - p.mA;
        char b[16];
        std::snprintf(b, sizeof b, " %+.3f", e);
        figures += b;
        return std::fabs(e);
    };
    for (const auto& p : points)
        EXPECT_GT(off(p), 0.05) << p.value;

    f.PageControl1->setCurrentWidget(f.TabSheet_DeveloperTool);
    f.PageControl2->setCurrentWidget(f.TabSheet_OutputCalibration);
    const struct {
        double target;
        bool current;
        const char* shot;
    } finds[] = {{4.0, true, "outcal_step1"}, {20.0, true, nullptr}, {2.0, false, nullptr}, {10.0, false, nullptr}};
    const struct {
        TSpeedButton* button;
        double target;
        bool current;
    } checks[] = {
        {f.SpeedButton_Test4mA, 4.0, true}, {f.SpeedButton_Test20mA, 20.0, true}, {f.SpeedButton_Test12mA, 12.0, true},
        {f.SpeedButton_Test2V, 2.0, false}, {f.SpeedButton_Test10V, 10.0, false}, {f.SpeedButton_Test6V, 6.0, false},
    };
    for (int half = 0; half < 2; ++half) {
        for (int i = 0; i < 2; ++i) {
            const auto& s = finds[half * 2 + i];
            EXPECT_NEAR(op.Adjust(s.target, s.current), s.target, s.current ? 0.002 : 0.001) << s.target;
            if (shots && s.shot)
                Shot(f, s.shot);
            f.SpeedButton_OutputCalibrationNext->Click();
        }
        // The check step: its middle value first, then each button.
        EXPECT_NEAR(op.Read(half == 0), half == 0 ? 12.0 : 6.0, half == 0 ? 0.005 : 0.003);
        for (int i = 0; i < 3; ++i) {
            const auto& c = checks[half * 3 + i];
            c.button->Click();
            EXPECT_NEAR(op.Read(c.current), c.target, c.current ? 0.005 : 0.003) << c.target;
        }
        if (shots && half == 0)
            Shot(f, "outcal_step3");
        f.SpeedButton_OutputCalibrationNext->Click();
    }
    ASSERT_EQ(f.PageControl4->currentWidget(), f.TabSheet_OutCalStep7);
    f.SpeedButton_WriteOutputCalibrationToKV->Click();
    ASSERT_TRUE(WaitFor([&] { return op.writes_ == 1 && !f.Image_OutputCalibrationOK->isHidden(); }, 10000));
    if (shots)
        Shot(f, "outcal_step7");

    // After: the device drives its output through the four values.
    f.PageControl1->setCurrentWidget(f.TabSheet_Settings);
    figures += ", after:";
    for (const auto& p : points)
        EXPECT_LE(off(p), 0.005) << p.value;
    std::printf("%s; %d looks at the meter\n", figures.c_str(), op.looks);
    f.close();
}

INSTANTIATE_TEST_SUITE_P(Boards, OutputCalibrationEndToEnd, ::testing::Values(1, 2, 3));

} // namespace
