// The input calibration end to end: the window at the developer level on
// kvsim's pseudo-terminal, run through every step as an operator does it
// (the connection the step's picture shows, typed on kvsim's console, then
// Next; Write at the last step), against boards that start with another
// board's calibration. Waits are driven by the device's own measuring cycles
// as the polls report them, not by the wall clock.
#include "InputCalibrationConnections.h"
#include "MB.h"
#include "Main.h"
#include "NumberPicture.h"
#include "SimProcess.h"
#include "SpeedButton.h"

#include <QListWidget>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <memory>

using simtest::WaitFor;
namespace incal = kv::incal;

namespace {

struct TWizardWindow {
    QTemporaryDir dir;
    std::unique_ptr<TForm_Main> form;
    std::size_t goodPolls = 0;

    explicit TWizardWindow(const QString& port) {
        TFormMainOptions o;
        o.IniFileName = dir.filePath(QStringLiteral("kvsetup.ini"));
        o.ConnectPort = port;
        o.Parameters << QStringLiteral("/QORMIX");
        form = std::make_unique<TForm_Main>(o);
        auto dispatcher = form->MB1->OnMBMasterEndOfEvent;
        form->MB1->OnMBMasterEndOfEvent = [this, dispatcher](TMBStatus s, const std::string& t) {
            const bool poll = form->MB1->MBMasterCommandToSlave() == kv::cmdPoll;
            dispatcher(s, t);
            if (poll && s == stOK)
                ++goodPolls;
        };
    }
    int Cycles() const { return form->Label_Cycles->text().toInt(); }
    // Until the device has measured `cycles` whole cycles after a poll that
    // follows now: in the configuration that poll forced, with the
    // connection made before it.
    bool Measured(int cycles) {
        const std::size_t from = goodPolls;
        if (!WaitFor([&] { return goodPolls > from; }, 15000))
            return false;
        const int start = Cycles();
        return WaitFor([&] { return (Cycles() - start + 256) % 256 >= cycles; }, 15000);
    }
    // The calculated value, as the polls bring it, averaged over n polls.
    double MeanCalculated(int n) {
        double sum = 0;
        for (int i = 0; i < n; ++i) {
            const std::size_t from = goodPolls;
            WaitFor([&] { return goodPolls > from; }, 15000);
            sum += form->CalculatedValue;
        }
        return sum / n;
    }
};

// kvsim's "NAME=value ..." answer to "calibration" or "board".
std::map<QString, double> Fields(simtest::TKvsimProcess& sim, const QString& command) {
    const qsizetype before = sim.output.size();
    sim.Say(command);
    std::map<QString, double> fields;
    for (qsizetype i = before; i < sim.output.size(); ++i) {
        if (!sim.output[i].startsWith(command + QLatin1Char(' ')))
            continue;
        for (const QString& pair : sim.output[i].mid(command.size() + 1).split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            const qsizetype eq = pair.indexOf(QLatin1Char('='));
            fields[pair.left(eq)] = pair.mid(eq + 1).toDouble();
        }
    }
    return fields;
}

void CalibrateBoard(const QString& seed) {
    SCOPED_TRACE("board seed " + seed.toStdString());
    simtest::TKvsimProcess sim({QStringLiteral("--board-seed"), seed, QStringLiteral("--drift"), QStringLiteral("0"),
                                QStringLiteral("--value"), QStringLiteral("100")});
    ASSERT_TRUE(sim.ok) << sim.output.join('\n').toStdString();
    TWizardWindow w(sim.port);
    TForm_Main& f = *w.form;
    ASSERT_TRUE(WaitFor([&] { return w.goodPolls >= 2 && !f.SpeedButton_ReadSettingsFromInstrument->Down(); }, 15000));

    // Another board's calibration: a Pt 100 at 100 °C reads visibly wrong.
    ASSERT_TRUE(w.Measured(5));
    const double before = w.MeanCalculated(10);
    EXPECT_GT(std::fabs(before - 100.0), 0.3) << before;

    f.PageControl1->setCurrentWidget(f.TabSheet_DeveloperTool);
    f.PageControl2->setCurrentWidget(f.TabSheet_InputCalibration);
    QString connected;
    while (f.InputCalibrationStep() < incal::kLastStep) {
        const int step = incal::kSteps[f.InputCalibrationStep()].Number;
        const QString connection = QString::fromLatin1(kvtest::InputCalibrationConnection(step).data());
        // A new configuration starts the device's averages afresh; a new
        // connection within one takes the averaging window to pass.
        const bool reconnect = connection != connected;
        if (reconnect) {
            sim.Say(connection);
            connected = connection;
        }
        ASSERT_TRUE(w.Measured(reconnect ? 5 : 2)) << step;
        f.SpeedButton_CalibrationNext->Click();
        ASSERT_NE(incal::kSteps[f.InputCalibrationStep()].Number, step) << "stuck at " << step;
    }

    f.SpeedButton_WriteCalibrationToKV->Click();
    ASSERT_TRUE(f.SpeedButton_WriteCalibrationToKV->Down());
    ASSERT_TRUE(WaitFor([&] { return !f.SpeedButton_WriteCalibrationToKV->Down(); }, 15000));
    ASSERT_TRUE(w.Measured(1));
    EXPECT_TRUE(f.CalibrationFlags & kv::calflag::Input);
    EXPECT_FALSE(f.Image_InputCalibrationOK->isHidden());

    // What the device stored is what the log shows.
    const std::map<QString, double> stored = Fields(sim, QStringLiteral("calibration"));
    ASSERT_EQ(stored.size(), 18u);
    static const QRegularExpression valueLine(QStringLiteral("^(\\w+) = (.*?)( ohm| mV)?$"));
    int checked = 0;
    for (int i = 0; i < f.ListBox_Calibrated->count(); ++i) {
        const auto m = valueLine.match(f.ListBox_Calibrated->item(i)->text());
        const auto it = m.hasMatch() ? stored.find(m.captured(1)) : stored.end();
        if (it == stored.end())
            continue; // the step lines and the working values a, b, d
        const QString name = it->first;
        // The log shows the double, the device holds the single rounded from
        // it: equal to the log's last digit (and a single's precision).
        const double digit = name.startsWith(QLatin1String("RREF")) ? 0.01
                             : name.startsWith(QLatin1String("EA"))  ? 0.0001
                             : name == QLatin1String("UREF")         ? 0.001
                                                                      : 1.0;
        double logged = 0;
        QString text = m.captured(2);
        text.remove(QLatin1Char(' '));
        ASSERT_TRUE(kv::ParseDecimal(text.toStdString(), logged)) << text.toStdString();
        EXPECT_NEAR(it->second, logged, digit / 2 + std::fabs(logged) * 1e-7) << name.toStdString();
        ++checked;
    }
    EXPECT_EQ(checked, 18);

    // The board's hidden values are found within 0.02 %.
    const std::map<QString, double> board = Fields(sim, QStringLiteral("board"));
    for (const char* name : {"RREF_500_4W", "RREF_5K_4W", "UREF"}) {
        const QString n = QString::fromLatin1(name);
        EXPECT_NEAR(stored.at(n) / board.at(n), 1.0, 2e-4) << name;
    }

    // Calibrated, the Pt 100 at 100 °C reads right.
    sim.Say(QStringLiteral("sensor ok"));
    ASSERT_TRUE(w.Measured(5));
    const double after = w.MeanCalculated(10);
    EXPECT_NEAR(after, 100.0, 0.03);
    std::printf("board %s: Pt 100 at 100 degC read %.3f before, %.3f after; RREF_500_4W %.6f, RREF_5K_4W %.6f, "
                "UREF %.6f of the board's\n",
                qPrintable(seed), before, after, stored.at(QStringLiteral("RREF_500_4W")) / board.at(QStringLiteral("RREF_500_4W")),
                stored.at(QStringLiteral("RREF_5K_4W")) / board.at(QStringLiteral("RREF_5K_4W")),
                stored.at(QStringLiteral("UREF")) / board.at(QStringLiteral("UREF")));
    double shown = 0;
    EXPECT_TRUE(kv::ParseDecimal(f.Label_fSzamitottErtek->text().section(QLatin1Char(' '), 0, 0).toStdString(), shown));
    EXPECT_NEAR(shown, 100.0, 0.1);
    f.close();
}

} // namespace

TEST(InputCalibrationEndToEnd, WizardCalibratesThreeBoards) {
    for (const char* seed : {"1", "2", "3"})
        CalibrateBoard(QString::fromLatin1(seed));
}
