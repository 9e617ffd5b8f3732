// kvctl calibrate output against the in-process device and bench meter on a
// manual clock: the record and the log are the window's wizard's for the
// same values, byte for byte; the usage and every way out without a device.
#include "cli_support.h"

#include "../app/poll_support.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QListWidget>

using clitest::TCtlRig;

namespace {

QString S(const QByteArray& b) { return QString::fromUtf8(b); }

const QStringList kCalibrate = {"calibrate", "output", "--meter", "/dev/ttyMEM1"};

} // namespace

// The values kvctl found, given to the window's operator on the same board:
// the window writes the same eight bytes and leaves the same log.
TEST(KvctlCalibrateOutput, WritesWhatTheWindowsWizardWritesForTheSameReadings) {
    for (std::uint32_t board : {1u, 7u}) {
        SCOPED_TRACE(board);
        TCtlRig rig;
        rig.config.BoardSeed = board;
        rig.config.OutputCalibrated = false;
        ASSERT_EQ(rig.Run(QStringList{"--json"} + kCalibrate), 0) << S(rig.err).toStdString();
        const QJsonObject o = QJsonDocument::fromJson(rig.out).object();
        ASSERT_TRUE(o["passed"].toBool()) << S(rig.out).toStdString();
        std::vector<std::uint8_t> written;
        for (const clitest::TSent& t : rig.ended)
            if (t.command == kv::cmdWriteOutputCalibration && t.status == stOK)
                written = t.data;
        ASSERT_EQ(written.size(), 8u);
        EXPECT_EQ(QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(written.data()), 8).toHex()),
                  o["record"]["bytes"].toString());
        EXPECT_EQ(rig.device->Model().OutputCalibration()->Encode(), written);
        // The last poll carried no forced value.
        ASSERT_FALSE(rig.ended.empty());
        EXPECT_EQ(rig.device->Model().ForcedPWM(), 0);

        std::array<std::int32_t, 4> values{};
        const QJsonArray v = o["record"]["values"].toArray();
        ASSERT_EQ(v.size(), 4);
        for (int i = 0; i < 4; ++i)
            values[static_cast<std::size_t>(i)] = v[i].toObject()["value"].toInt();

        kvsim::TDeviceConfig config = rig.config;
        polltest::TPollRig window(true, true, config);
        window.Open();
        ASSERT_TRUE(window.Run(3));
        TForm_Main& f = *window.form;
        polltest::RunOutputCalibrationToStep7(f, values);
        ASSERT_TRUE(window.RunUntil(kv::cmdWriteOutputCalibration));
        EXPECT_EQ(window.ended.back().sent, written);
        QJsonArray log;
        for (int i = 0; i < f.ListBox_OutputCalibrated->count(); ++i)
            log.append(f.ListBox_OutputCalibrated->item(i)->text());
        EXPECT_EQ(log, o["log"].toArray());
    }
}

TEST(KvctlCalibrateOutput, UsageAndAMeterThatDoesNotAnswer) {
    struct {
        QStringList args;
        int exit;
        const char* err;
        bool touchesDevice;
    } const table[] = {
        {{"calibrate", "output"}, 2, "calibrate output needs --meter PORT", false},
        {{"calibrate"}, 2, "calibrate needs input or output", false},
        {kCalibrate + QStringList{"--fixture", " "}, 2, "--fixture needs a command", false},
        {kCalibrate + QStringList{"--meter-baud", "0"}, 2, "bad value for --meter-baud", false},
        {kCalibrate + QStringList{"--csv", "x.csv"}, 2, "--csv is not an option of calibrate", false},
    };
    for (const auto& row : table) {
        TCtlRig rig;
        EXPECT_EQ(rig.Run(row.args), row.exit) << row.args.join(' ').toStdString();
        EXPECT_TRUE(S(rig.err).contains(row.err)) << S(rig.err).toStdString();
        EXPECT_TRUE(rig.ended.empty());
    }
    // A meter that does not answer: the device is never polled, so never forced.
    TCtlRig rig;
    rig.Start(QStringList{"--json"} + kCalibrate);
    ASSERT_TRUE(rig.meter);
    rig.meter->SetSilent(true);
    rig.RunUntil([&] { return rig.ctl->Finished(); });
    EXPECT_EQ(rig.ctl->ExitCode(), 3);
    EXPECT_TRUE(S(rig.err).contains("no answer from the meter to *IDN?")) << S(rig.err).toStdString();
    EXPECT_TRUE(rig.ended.empty());
    EXPECT_FALSE(QJsonDocument::fromJson(rig.out).object()["passed"].toBool());
}

// A device that never comes back is asked on for 10 s, then kvctl says the
// output may still be forced; a port that hangs up leaves at once.
TEST(KvctlCalibrateOutput, ALostDeviceIsReportedAsMaybeStillForced) {
    for (bool hangUp : {false, true}) {
        SCOPED_TRACE(hangUp);
        TCtlRig rig;
        rig.Start(QStringList{"--timeout", "100"} + kCalibrate);
        ASSERT_TRUE(rig.RunUntil([&] { return S(rig.err).contains("step 2/7"); }));
        ASSERT_NE(rig.device->Model().ForcedPWM(), 0);
        if (hangUp)
            rig.device->HangUp();
        else
            rig.device->Console("silent on");
        const std::int64_t from = rig.clock.now();
        ASSERT_TRUE(rig.RunUntil([&] { return rig.ctl->Finished(); }));
        EXPECT_EQ(rig.ctl->ExitCode(), 3);
        EXPECT_TRUE(S(rig.err).contains("the forcing could not be ended")) << S(rig.err).toStdString();
        if (!hangUp) {
            EXPECT_TRUE(S(rig.err).contains("the device does not answer")) << S(rig.err).toStdString();
            EXPECT_GE(rig.clock.now() - from, 10000);
        }
        EXPECT_TRUE(S(rig.out).contains("NOT COMPLETED")) << S(rig.out).toStdString();
    }
}

// A meter whose leads a fixture moves, as kvsim's console moves them: on the
// voltage output alone until the fixture says `current`, so that a reading
// taken before the fixture has exited reads 0 and fails the search. The
// fixture's failure and Ctrl-C while it runs end the forcing and write nothing.
TEST(KvctlCalibrateOutput, AFixtureMovesTheMetersLeadsBeforeEachOutput) {
    struct {
        const char* what;
        bool fixture;
        int exit;
        const char* failure;
    } const table[] = {
        {"moved by the fixture", true, 0, ""},
        {"no fixture, leads on the voltage output", false, 1, "step 1/7"},
        {"the fixture fails at voltage", true, 1, "the fixture failed: \"voltage\" exited with 1"},
        {"Ctrl-C while the fixture runs", true, 130, "interrupted"},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.what);
        const std::string what = row.what;
        TCtlRig rig;
        rig.config.BoardSeed = 3;
        QStringList words;
        std::function<void(const QString&)> held;
        if (row.fixture)
            rig.prepare = [&](kvctl::TKvCtl& ctl) {
                ctl.FixtureForTests = [&](const QStringList& w, std::function<void(const QString&)> done) {
                    words += w;
                    EXPECT_EQ(rig.meter->Meter().Wiring(), w == QStringList{"voltage"} ? kvsim::wiredCurrent
                                                                                      : kvsim::wiredVoltage);
                    if (what.starts_with("the fixture") && w == QStringList{"voltage"})
                        return done(QStringLiteral("\"voltage\" exited with 1"));
                    if (what.starts_with("Ctrl-C") && w == QStringList{"voltage"}) {
                        held = std::move(done);
                        EXPECT_NE(rig.device->Model().ForcedPWM(), 0); // 20 mA, the last check's
                        rig.ctl->Interrupt();
                        return;
                    }
                    rig.meter->Meter().SetWiring(w == QStringList{"current"} ? kvsim::wiredCurrent
                                                                             : kvsim::wiredVoltage);
                    done({});
                };
            };
        rig.Start(QStringList{"--json"} + kCalibrate + (row.fixture ? QStringList{"--fixture", "relay.sh"} : QStringList{}));
        ASSERT_TRUE(rig.meter);
        rig.meter->Meter().SetWiring(kvsim::wiredVoltage);
        ASSERT_TRUE(rig.RunUntil([&] { return rig.ctl->Finished(); }));
        if (held)
            held({}); // a fixture that ends after the run has: nothing moves on
        EXPECT_EQ(rig.ctl->ExitCode(), row.exit) << S(rig.err).toStdString();
        const QJsonObject o = QJsonDocument::fromJson(rig.out).object();
        EXPECT_EQ(o["passed"].toBool(), row.exit == 0);
        EXPECT_TRUE(o["failure"].toString().contains(QLatin1String(row.failure))) << o["failure"].toString().toStdString();
        EXPECT_EQ(rig.device->Model().ForcedPWM(), 0);
        const bool written = std::any_of(rig.ended.begin(), rig.ended.end(), [](const clitest::TSent& t) {
            return t.command == kv::cmdWriteOutputCalibration;
        });
        EXPECT_EQ(written, row.exit == 0);
        if (row.fixture) {
            // A run that gets through its checks moves the leads back to the
            // current loop to read its check points again (drift).
            const QStringList expected = row.exit == 0 ? QStringList{"current", "voltage", "current"}
                                                       : QStringList{"current", "voltage"};
            EXPECT_EQ(words, expected);
        }
    }
}
