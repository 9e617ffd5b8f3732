// kvctl calibrate input against the in-process device on a manual clock, the
// device's console as the fixture and the simulator's example bench: three
// boards calibrated unattended (as found, the trim, as left at points of
// their own and over every path the trim set constants for), every constant
// written against what the board holds, the as-left points against an
// independent IEC 60751 computation, the record and the log byte for byte
// those of the window's wizard on the same board; references typed wrong,
// a 3-wire constant gone wrong, and every way out giving the device back its
// settings and ending the forcing.
#include "cli_support.h"

#include "../app/poll_support.h"
#include "../support/BoardConstants.h"
#include "../support/InputCalibrationConnections.h"

#include "RunOutcome.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QListWidget>
#include <QTemporaryDir>

using clitest::ConsoleFixture;
using clitest::TCtlRig;
namespace incal = kv::incal;

namespace {

kvsim::TDeviceConfig Board(std::uint32_t seed) {
    kvsim::TDeviceConfig c = kvsim::TDeviceConfig::Steady();
    c.BoardSeed = seed;
    c.ForeignCalibration = true;
    return c;
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

// IEC 60751 written out here, not taken from the code under test: the
// Callendar-Van Dusen equation of a Pt 100 at and above 0 °C, R(T) = R0 (1 +
// A T + B T^2), solved for T.
double Pt100Temperature(double ohm) {
    const double r0 = 100.0, a = 3.9083e-3, b = -5.775e-7;
    return (-a + std::sqrt(a * a - 4.0 * b * (1.0 - ohm / r0))) / (2.0 * b);
}

// The ohms a "resistor OHM" fixture call sourced.
double SourcedOhm(const QString& words) { return words.section(QLatin1Char(' '), 1, 1).toDouble(); }

QStringList Args(const QStringList& extra = {}) {
    return QStringList{QStringLiteral("calibrate"), QStringLiteral("input")} + clitest::SimBench() + extra;
}

// What the device measures with and what its board holds, as kvsim's
// console says them.
std::vector<std::string> ConstantsOff(TCtlRig& rig, double* largest = nullptr) {
    const auto stored = kvtest::ConsoleFields(rig.device->Console("calibration"));
    const auto board = kvtest::ConsoleFields(rig.device->Console("board"));
    if (largest)
        *largest = kvtest::LargestRatioDifference(stored, board);
    return kvtest::ConstantsOffTheBoard(stored, board);
}

kv::station::TVerdict VerdictOf(TCtlRig& rig) { return kv::cert::VerdictOfFacts(rig.ctl->Station()->Facts()); }

TEST(CalibrateInput, ThreeBoardsUnattendedAsTheWindowsWizardWouldCalibrateThem) {
    for (std::uint32_t seed : {1u, 2u, 3u}) {
        SCOPED_TRACE("board " + std::to_string(seed));
        QTemporaryDir dir;
        const QString pdf = dir.filePath(QStringLiteral("SN%1.pdf").arg(seed));
        TCtlRig rig;
        rig.config = Board(seed);
        QStringList fixture;
        ConsoleFixture(rig, [&](const QStringList& words) {
            fixture << words.join(QLatin1Char(' '));
            return QString();
        });
        const std::int64_t start = rig.clock.now();
        // (Going on when it fails: which constants are off says why.)
        EXPECT_EQ(rig.Run(Args({QStringLiteral("--certificate"), pdf, QStringLiteral("--serial"), QStringLiteral("SN%1").arg(seed),
                                QStringLiteral("--operator"), QStringLiteral("Kovács Éva"), QStringLiteral("--json")})),
                  0)
            << rig.err.right(300).constData();
        std::printf("board %u: as found, calibrated and as left in %.1f s of the device's time\n", seed,
                    (rig.clock.now() - start) / 1000.0);
        kvsim::TDeviceModel& model = rig.device->Model();

        // The device has its own settings again, is forced no more, and the
        // fixture left its input open.
        EXPECT_EQ(model.Settings(), kvsim::TDeviceConfig::Steady().Settings);
        EXPECT_EQ(LastPollFET(rig), 0);
        EXPECT_EQ(fixture.value(fixture.size() - 1), QStringLiteral("open"));

        // Every constant written is the board's, the 2- and 3-wire ones too.
        double largest = 0;
        const std::vector<std::string> off = ConstantsOff(rig, &largest);
        for (const std::string& o : off)
            ADD_FAILURE() << o;
        std::printf("board %u: every constant within %.2g of the board's\n", seed, largest);

        // Byte for byte what the window's wizard writes on this board, with
        // the same log.
        ASSERT_TRUE(model.InputCalibration().has_value());
        const std::vector<std::uint8_t> record = model.InputCalibration()->Encode();
        const auto [windowRecord, windowLog] = WindowWizard(Board(seed));
        EXPECT_EQ(record, windowRecord);

        // The verdict: written, and every as-left point within its tolerance
        // and uncertainty: the Pt 100's five in its own settings, and three on
        // each path the trim set constants for.
        const kv::cert::TFacts facts = rig.ctl->Station()->Facts();
        EXPECT_EQ(VerdictOf(rig).Kind, kv::station::TVerdictKind::Passed) << VerdictOf(rig).Reason.toStdString();
        EXPECT_EQ(facts.Points.size(), 5u + 6u * 3u);
        QStringList paths;
        for (const kv::cert::TPoint& p : facts.Points) {
            if (!paths.contains(p.Path))
                paths << p.Path;
            ASSERT_TRUE(p.AsLeft.Result) << PointName(p).toStdString();
            EXPECT_EQ(*p.AsLeft.Result, kv::station::TOutcome::Pass) << kv::cert::PointName(p).toStdString();
            ASSERT_TRUE(p.AsFound.Value); // another board's calibration, read before the trim
        }
        EXPECT_EQ(paths, (QStringList{"Pt 100, 4 wires", "500 ohm range, 2 wires", "500 ohm range, 3 wires",
                                      "5 kohm range, 2 wires", "5 kohm range, 3 wires", "5 kohm range, 4 wires",
                                      "millivolt"}));
        // The Pt 100's points: the nominal temperature of the sourced
        // resistance, and what the device read as left, against IEC 60751
        // computed here.
        double worst = 0;
        for (const kv::cert::TPoint& p : facts.Points) {
            if (p.Path != QLatin1String("Pt 100, 4 wires"))
                continue;
            const double t = Pt100Temperature(SourcedOhm(p.Source));
            EXPECT_NEAR(p.Nominal, t, 1e-4) << p.Source.toStdString();
            EXPECT_NEAR(*p.AsLeft.Value, t, p.Tolerance) << p.Source.toStdString();
            worst = std::max(worst, std::fabs(*p.AsLeft.Value - t));
        }
        std::printf("board %u: as left, the Pt 100 points within %.4f degC of IEC 60751\n", seed, worst);

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

        // A Pt 100 at 138.51 ohm: 100.01 °C.
        rig.device->Console("sensor resistor 138.51");
        model.Advance(1000);
        EXPECT_NEAR(model.Snapshot().CalculatedValue, 100.00, 0.03);
    }
}

// The references typed wrong while the nominal ones are connected: the
// adjustment's own check, made with those same references, finds nothing
// amiss; the as-left points, sourced independently, fail, and the verdict
// says the device holds a calibration that failed its verification. With
// the right references the same bench passes.
TEST(CalibrateInput, WrongReferencesFailTheAsLeftVerification) {
    struct {
        const char* references;
        int exit;
        kv::station::TVerdictKind verdict;
        double pt100At138;
    } const table[] = {
        {"R500=500.5,R5K=5005", 1, kv::station::TVerdictKind::AdjustedFailedVerification, 100.37},
        {"R500=500,R5K=5000", 0, kv::station::TVerdictKind::Passed, 100.00},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.references);
        TCtlRig rig;
        rig.config = Board(2);
        // The relay box connects its resistors, the nominal 500 and 5000
        // ohm, whatever value was typed for them.
        rig.prepare = [&rig](kvctl::TKvCtl& ctl) {
            ctl.FixtureForTests = [&rig](const QStringList& words, std::function<void(const QString&)> done) {
                QString w = words.join(QLatin1Char(' '));
                if (w == QLatin1String("resistor 500.5"))
                    w = QStringLiteral("resistor 500");
                if (w == QLatin1String("resistor 5005"))
                    w = QStringLiteral("resistor 5000");
                rig.device->Console("sensor " + w.toStdString());
                done({});
            };
        };
        EXPECT_EQ(rig.Run(Args({QStringLiteral("--references"), QString::fromLatin1(row.references)})), row.exit)
            << rig.err.constData();
        const kv::station::TVerdict verdict = VerdictOf(rig);
        EXPECT_EQ(verdict.Kind, row.verdict) << verdict.Reason.toStdString();
        const kv::cert::TFacts facts = rig.ctl->Station()->Facts();
        // The adjustment's own check agrees with itself either way.
        ASSERT_EQ(facts.Checks.size(), 2u);
        EXPECT_TRUE(kv::cert::WithinTolerance(facts.Checks[0], facts.Checks[0].AsLeft));
        if (row.exit != 0) {
            EXPECT_TRUE(rig.out.contains("ADJUSTED – FAILED VERIFICATION")) << rig.out.constData();
            EXPECT_TRUE(verdict.Reason.contains(QLatin1String("The device holds the new calibration, written and acknowledged, but")))
                << verdict.Reason.toStdString();
            // The Pt 100's own points fail, each.
            for (const kv::cert::TPoint& p : facts.Points) {
                if (p.Path == QLatin1String("Pt 100, 4 wires")) {
                    EXPECT_EQ(p.AsLeft.Result, kv::station::TOutcome::Fail) << p.Source.toStdString();
                }
            }
        }
        rig.device->Console("sensor resistor 138.51");
        rig.device->Model().Advance(1000);
        EXPECT_NEAR(rig.device->Model().Snapshot().CalculatedValue, row.pt100At138, 0.03);
    }
}

// A 3-wire constant gone wrong (the 500 ohm reference's contact at step 7
// reads 0.25 ohm high, so RREF_500_3W and EA_500 come out 0.05 % off) fails
// the run on the 500 ohm 3-wire path, which the device's own 4-wire
// settings never use; the other paths pass.
TEST(CalibrateInput, AFaultyThreeWireConstantFailsTheAsLeftVerification) {
    TCtlRig rig;
    rig.config = Board(3);
    ConsoleFixture(rig);
    rig.Start(Args());
    bool planted = false;
    ASSERT_TRUE(rig.RunUntil([&] {
        const kv::station::TInputCalibrationRun* trim = rig.ctl->Station() ? rig.ctl->Station()->InputTrim() : nullptr;
        if (!planted && trim && trim->Step() == 7) {
            rig.device->Console("sensor resistor 500.25");
            planted = true;
        }
        return rig.ctl->Finished();
    }));
    ASSERT_TRUE(planted);
    EXPECT_EQ(rig.ctl->ExitCode(), 1) << rig.err.constData();
    EXPECT_EQ(VerdictOf(rig).Kind, kv::station::TVerdictKind::AdjustedFailedVerification);
    const std::vector<std::string> off = ConstantsOff(rig);
    EXPECT_EQ(off.size(), 2u) << "RREF_500_3W and EA_500";
    for (const kv::cert::TPoint& p : rig.ctl->Station()->Facts().Points) {
        ASSERT_TRUE(p.AsLeft.Result) << kv::cert::PointName(p).toStdString();
        const bool threeWire500 = p.Path == QLatin1String("500 ohm range, 3 wires");
        if (p.Percent > 10 || !threeWire500) {
            EXPECT_EQ(*p.AsLeft.Result == kv::station::TOutcome::Pass, !threeWire500) << kv::cert::PointName(p).toStdString();
        }
    }
}

// Every way out: the run ends, says why, and (while the device answers)
// gives back its settings and the forcing; nothing was written.
TEST(CalibrateInput, EveryWayOutLeavesTheDeviceAsItWasAndSaysSo) {
    struct TCase {
        const char* what;
        int exit;
        kv::station::TVerdictKind verdict;
        const char* reason;
        bool givenBack;
    };
    using enum kv::station::TVerdictKind;
    const TCase cases[] = {
        {"Ctrl-C at step 10", 130, NotCompleted, "The run stopped (interrupted)", true},
        {"the fixture fails at step 20", 1, Failed, "the fixture failed: relay 3 stuck", true},
        {"the device falls silent at step 13", 3, NotCompleted, "the device did not answer", false},
        {"a step's reference not connected", 1, Failed, "step 22/23: Floating point division by zero", true},
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
            const kv::station::TInputCalibrationRun* trim = rig.ctl->Station()->InputTrim();
            if (what.starts_with("Ctrl-C") && trim->Step() == 10)
                rig.ctl->Interrupt();
            if (what.starts_with("the fixture") && w == QLatin1String("short"))
                return QStringLiteral("relay 3 stuck");
            if (what.starts_with("the device") && trim->FETControl() == 0xAE)
                rig.device->Console("silent on");
            if (what.starts_with("a step's") && w == QLatin1String("voltage 125"))
                rig.device->Console("sensor short"); // and not the voltage
            return QString();
        });
        const int exit = rig.Run(Args({QStringLiteral("--certificate"), pdf, QStringLiteral("--serial"), QStringLiteral("SN1")}));
        EXPECT_EQ(exit, c.exit) << rig.err.constData();
        const kv::station::TVerdict verdict = VerdictOf(rig);
        EXPECT_EQ(verdict.Kind, c.verdict) << verdict.Reason.toStdString();
        EXPECT_TRUE(verdict.Reason.contains(QLatin1String(c.reason))) << verdict.Reason.toStdString();
        EXPECT_TRUE(rig.out.contains(kv::station::VerdictTitle(c.verdict).toUtf8())) << rig.out.constData();
        EXPECT_TRUE(QFile::exists(kv::cert::JsonPathFor(pdf)));
        EXPECT_EQ(rig.ctl->Station()->Facts().Write, kv::cert::TWrite::NotSent);
        // The foreign calibration the board started with is still there.
        ASSERT_TRUE(before.has_value());
        EXPECT_EQ(rig.device->Model().InputCalibration(), *before);
        if (c.givenBack) {
            EXPECT_EQ(rig.device->Model().Settings(), kvsim::TDeviceConfig::Steady().Settings);
            EXPECT_EQ(LastPollFET(rig), 0);
            EXPECT_TRUE(verdict.Reason.contains(QLatin1String("nothing was written")) ||
                        verdict.Reason.contains(QLatin1String("Nothing was written")))
                << verdict.Reason.toStdString();
        }
    }
}

} // namespace
