// kvctl calibrate input against the in-process device on a manual clock, the
// device's console as the fixture: three boards calibrated unattended (a
// Pt 100 then reads right), the record and the log byte for byte those of
// the window's wizard on the same board, the certificate's JSON, and every
// way out giving the device back its settings and ending the forcing.
#include "cli_support.h"

#include "../app/poll_support.h"
#include "../support/InputCalibrationConnections.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QListWidget>
#include <QTemporaryDir>

using clitest::TCtlRig;
namespace incal = kv::incal;

namespace {

kvsim::TDeviceConfig Board(std::uint32_t seed) {
    kvsim::TDeviceConfig c = kvsim::TDeviceConfig::Steady();
    c.BoardSeed = seed;
    c.ForeignCalibration = true;
    return c;
}

// The rig with the device's console as the fixture; `onFixture` acts after
// the console (an error, a stop, another connection).
void ConsoleFixture(TCtlRig& rig, std::function<QString(const QStringList&)> onFixture = {}) {
    rig.prepare = [&rig, onFixture](kvctl::TKvCtl& ctl) {
        ctl.FixtureForTests = [&rig, onFixture](const QStringList& words, std::function<void(const QString&)> done) {
            rig.device->Console("sensor " + words.join(QLatin1Char(' ')).toStdString());
            done(onFixture ? onFixture(words) : QString());
        };
    };
}

std::uint8_t LastPollFET(const TCtlRig& rig) {
    for (auto it = rig.ended.rbegin(); it != rig.ended.rend(); ++it)
        if (it->command == kv::cmdPoll && it->data.size() == kv::PollRequest::Size)
            return it->data[7];
    return 0xFF;
}

// What the window's wizard writes on the same board, and its log, with the
// connections made as its pictures ask.
std::pair<std::vector<std::uint8_t>, QStringList> WindowWizard(const kvsim::TDeviceConfig& config) {
    polltest::TSeparator fullStop('.');
    polltest::TPollRig rig(true, true, config);
    TForm_Main& f = *rig.form;
    rig.Open();
    EXPECT_TRUE(rig.RunUntil(kv::cmdReadSettings));
    f.PageControl1->setCurrentWidget(f.TabSheet_DeveloperTool);
    f.PageControl2->setCurrentWidget(f.TabSheet_InputCalibration);
    while (incal::kSteps[f.InputCalibrationStep()].Number != 23) {
        rig.device->Console(kvtest::InputCalibrationConnection(incal::kSteps[f.InputCalibrationStep()].Number));
        const std::int64_t until = rig.clock.now() + 6 * kvsim::TDeviceModel::kCycleMs;
        rig.clock.advanceUntil([&] {
            rig.port->DeliverPending();
            return rig.clock.now() >= until && !rig.ended.empty() && rig.ended.back().command == kv::cmdPoll;
        });
        f.SpeedButton_CalibrationNext->Click();
    }
    f.SpeedButton_WriteCalibrationToKV->Click();
    EXPECT_TRUE(rig.RunUntil(kv::cmdWriteInputCalibration));
    QStringList log;
    for (int i = 0; i < f.ListBox_Calibrated->count(); ++i)
        log << f.ListBox_Calibrated->item(i)->text();
    const auto& stored = rig.device->Model().InputCalibration();
    return {stored ? stored->Encode() : std::vector<std::uint8_t>{}, log};
}

TEST(CalibrateInput, ThreeBoardsUnattendedAsTheWindowsWizardWouldCalibrateThem) {
    for (std::uint32_t seed : {1u, 2u, 3u}) {
        SCOPED_TRACE("board " + std::to_string(seed));
        QTemporaryDir dir;
        const QString pdf = dir.filePath(QStringLiteral("SN%1.pdf").arg(seed));
        TCtlRig rig;
        rig.config = Board(seed);
        ConsoleFixture(rig);
        const std::int64_t start = rig.clock.now();
        ASSERT_EQ(rig.Run({QStringLiteral("calibrate"), QStringLiteral("input"), QStringLiteral("--fixture"),
                           QStringLiteral("unused"), QStringLiteral("--certificate"), pdf, QStringLiteral("--serial"),
                           QStringLiteral("SN%1").arg(seed), QStringLiteral("--operator"),
                           QStringLiteral("Kovács Éva"), QStringLiteral("--json")}),
                  0)
            << rig.err.constData();
        std::printf("board %u: calibrated in %.1f s of the device's time\n", seed, (rig.clock.now() - start) / 1000.0);
        kvsim::TDeviceModel& model = rig.device->Model();

        // The device has its own settings again and is forced no more.
        EXPECT_EQ(model.Settings(), kvsim::TDeviceConfig::Steady().Settings);
        EXPECT_EQ(LastPollFET(rig), 0);

        // Byte for byte what the window's wizard writes on this board, with
        // the same log.
        ASSERT_TRUE(model.InputCalibration().has_value());
        const std::vector<std::uint8_t> record = model.InputCalibration()->Encode();
        const auto [windowRecord, windowLog] = WindowWizard(Board(seed));
        EXPECT_EQ(record, windowRecord);

        // The certificate: stdout's JSON is the file's, with kvctl's exit code.
        QJsonObject j = QJsonDocument::fromJson(rig.out).object();
        EXPECT_EQ(j.take(QStringLiteral("exit_code")).toInt(-1), 0);
        EXPECT_TRUE(j.take(QStringLiteral("error")).isNull());
        QFile file(kv::cert::JsonPathFor(pdf));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_EQ(QJsonDocument::fromJson(file.readAll()).object(), j);
        QFile pdfFile(pdf);
        ASSERT_TRUE(pdfFile.open(QIODevice::ReadOnly));
        EXPECT_TRUE(pdfFile.read(5) == "%PDF-");
        EXPECT_TRUE(j[QStringLiteral("passed")].toBool());
        EXPECT_EQ(j[QStringLiteral("operator")].toString(), QStringLiteral("Kovács Éva"));
        EXPECT_EQ(j[QStringLiteral("device")].toObject()[QStringLiteral("calibration_date_after")].toString(),
                  "2026-12-06");
        const QJsonObject rec = j[QStringLiteral("record")].toObject();
        EXPECT_EQ(rec[QStringLiteral("state")].toString(), "acknowledged");
        EXPECT_EQ(rec[QStringLiteral("bytes")].toString().toLatin1(),
                  QByteArray(reinterpret_cast<const char*>(record.data()), qsizetype(record.size())).toHex());
        QStringList log;
        for (const QJsonValue& v : j[QStringLiteral("log")].toArray())
            log << v.toString();
        EXPECT_EQ(log, windowLog);
        for (const QJsonValue& v : j[QStringLiteral("checks")].toArray()) {
            const QJsonObject c = v.toObject();
            // Another board's calibration was visibly off; the new one is not.
            EXPECT_FALSE(c[QStringLiteral("as_found")].toObject()[QStringLiteral("within_tolerance")].toBool());
            EXPECT_TRUE(c[QStringLiteral("as_left")].toObject()[QStringLiteral("within_tolerance")].toBool());
        }

        // A Pt 100 at 138.51 ohm: 100.01 °C.
        rig.device->Console("sensor resistor 138.51");
        model.Advance(1000);
        EXPECT_NEAR(model.Snapshot().CalculatedValue, 100.00, 0.03);
    }
}

// Every way out: the run ends, says why, leaves a certificate that does not
// pass and says what the device holds, and (while the device answers) gives
// back its settings and the forcing.
TEST(CalibrateInput, EveryWayOutLeavesTheDeviceAsItWasAndSaysSo) {
    struct TCase {
        const char* what;
        int exit;
        const char* failure;
        bool givenBack;
        const char* verdict; // none: not PASSED, whichever else
    };
    const TCase cases[] = {
        {"Ctrl-C at step 10", 130, "interrupted", true, "NOT COMPLETED"},
        {"the fixture fails at step 20", 1, "the fixture failed: relay 3 stuck", true, "NOT COMPLETED"},
        {"the device falls silent at step 13", 3, "the device did not answer", false, "NOT COMPLETED"},
        {"a step's reference not connected", 1, "step 22/23: Floating point division by zero", true, nullptr},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.what);
        QTemporaryDir dir;
        const QString pdf = dir.filePath(QStringLiteral("c.pdf"));
        TCtlRig rig;
        rig.config = Board(2);
        const std::string what = c.what;
        std::optional<std::optional<kv::InputCalibrationRecord>> before;
        ConsoleFixture(rig, [&](const QStringList& words) {
            if (!before)
                before = rig.device->Model().InputCalibration();
            const QString w = words.join(QLatin1Char(' '));
            if (what.starts_with("Ctrl-C") && w == QLatin1String("resistor 5000") &&
                rig.ctl->CalibrateInput()->Run().Facts().Checks[1].AsFound)
                rig.ctl->Interrupt();
            if (what.starts_with("the fixture") && w == QLatin1String("short"))
                return QStringLiteral("relay 3 stuck");
            if (what.starts_with("the device") && rig.ctl->CalibrateInput()->Run().FETControl() == 0xAE)
                rig.device->Console("silent on");
            if (what.starts_with("a step's") && w.startsWith(QLatin1String("voltage")))
                rig.device->Console("sensor short"); // and not the voltage
            return QString();
        });
        const int exit = rig.Run({QStringLiteral("calibrate"), QStringLiteral("input"), QStringLiteral("--fixture"),
                                  QStringLiteral("unused"), QStringLiteral("--certificate"), pdf,
                                  QStringLiteral("--serial"), QStringLiteral("SN1")});
        EXPECT_EQ(exit, c.exit) << rig.err.constData();
        EXPECT_FALSE(rig.out.contains("PASSED")) << rig.out.constData();
        if (c.verdict) {
            EXPECT_TRUE(rig.out.contains(c.verdict)) << rig.out.constData();
        }
        QFile file(kv::cert::JsonPathFor(pdf));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QJsonObject j = QJsonDocument::fromJson(file.readAll()).object();
        EXPECT_FALSE(j[QStringLiteral("passed")].toBool());
        EXPECT_TRUE(j[QStringLiteral("failure")].toString().contains(QLatin1String(c.failure)))
            << j[QStringLiteral("failure")].toString().toStdString();
        EXPECT_EQ(j[QStringLiteral("record")].toObject()[QStringLiteral("state")].toString(), "not-sent");
        // The foreign calibration the board started with is still there.
        ASSERT_TRUE(before.has_value());
        EXPECT_EQ(rig.device->Model().InputCalibration(), *before);
        if (c.givenBack) {
            EXPECT_EQ(rig.device->Model().Settings(), kvsim::TDeviceConfig::Steady().Settings);
            EXPECT_EQ(LastPollFET(rig), 0);
        }
    }
}

} // namespace
