// The bench meter at work on a line, on the manual clock: the integration's
// mean and when its answer comes, the terminal mode's echo and prompt, the
// remote gate; and the meter on an in-process transmitter that nobody polls.
#include "InProcessDevice.h"
#include "InProcessMeter.h"
#include "MBMemoryPort.h"
#include "MBTimer.h"
#include "MeterSession.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <utility>
#include <vector>

using namespace kvsim;

namespace {

// A session reading an output stage of its own on the manual clock (the
// stage's milliseconds are the clock's); every piece it sends is kept with
// the moment it went.
struct TSessionRig {
    TMBManualClock clock;
    TOutputStage stage{TOutputCharacteristic::ForBoard(4), 10923};
    TBenchMeter meter;
    TMeterSession session{meter, clock, [this](std::uint32_t ms) {
                              const auto now = static_cast<std::uint64_t>(clock.now());
                              return TMeterSample{stage.Average(now - ms, now), now};
                          }};
    std::vector<std::pair<std::int64_t, std::string>> sent;

    TSessionRig() {
        meter.SetNoise(0.0);
        session.OnAnswer = [this](const std::string& bytes) { sent.emplace_back(clock.now(), bytes); };
    }
    std::string All() const {
        std::string s;
        for (const auto& [at, bytes] : sent)
            s += bytes;
        return s;
    }
};

} // namespace

// A reading is the output's mean over the integration from the query on,
// answered when it ends; lines that came meanwhile wait for it.
TEST(MeterSession, AReadingIsTheMeanOverTheIntegrationAnsweredAtItsEnd) {
    struct {
        double tau;
        std::uint32_t integration;
    } const table[] = {{2.5, 20}, {30.0, 20}, {30.0, 400}, {60.0, 400}, {80.0, 100}};
    for (const auto& row : table) {
        SCOPED_TRACE(testing::Message() << "tau " << row.tau << ", integration " << row.integration);
        TSessionRig r;
        r.clock.advance(1000);
        ASSERT_TRUE(r.stage.SetTau(row.tau, 1000));
        ASSERT_TRUE(r.meter.SetIntegration(row.integration));
        r.stage.Drive(54613, 1000); // the step and the query together
        r.session.Receive("MEAS:CURR?\n*OPC?\n");
        r.clock.advance(row.integration - 1);
        EXPECT_TRUE(r.sent.empty());
        r.clock.advance(1);
        ASSERT_EQ(r.sent.size(), 2u);
        const double from = r.stage.Characteristic().Read(10923).MilliAmp;
        const double to = r.stage.Characteristic().Read(54613).MilliAmp;
        const double T = row.integration;
        const double mean = to + (from - to) * row.tau / T * (1.0 - std::exp(-T / row.tau));
        EXPECT_EQ(r.sent[0].first, 1000 + row.integration);
        EXPECT_NEAR(std::strtod(r.sent[0].second.c_str(), nullptr), mean / 1000.0, 1e-9); // a count
        EXPECT_EQ(r.sent[1], std::make_pair(std::int64_t{1000} + row.integration, std::string("1\n")));
    }
    // An integration changed during a reading applies from the next one.
    TSessionRig r;
    r.session.Receive("MEAS:VOLT?\n");
    ASSERT_TRUE(r.meter.SetIntegration(400));
    r.clock.advance(20);
    ASSERT_EQ(r.sent.size(), 1u);
    r.session.Receive("MEAS:VOLT?\n");
    r.clock.advance(399);
    EXPECT_EQ(r.sent.size(), 1u);
    r.clock.advance(1);
    EXPECT_EQ(r.sent.size(), 2u);
}

// Terminal mode: the echo when the line is taken up, the answer (after the
// integration, for a reading), then the prompt on a line of its own.
TEST(MeterSession, TerminalModeEchoesAnswersAndPrompts) {
    TSessionRig r;
    r.meter.SetTerminal(true);
    r.session.Receive("*IDN?\r\nMEAS:CURR?\nBAD?\n\n");
    r.clock.advance(20);
    const std::string idn = r.meter.Identity();
    const std::vector<std::pair<std::int64_t, std::string>> expected{
        {0, "*IDN?\r\n" + idn + "\n=>\n"},
        {0, "MEAS:CURR?\n"},
        {20, r.sent.size() > 2 ? r.sent[2].second : std::string()},
        {20, "BAD?\n?>\n"},
        {20, "\n=>\n"},
    };
    EXPECT_EQ(r.sent, expected);
    ASSERT_GT(r.sent.size(), 2u);
    EXPECT_EQ(r.sent[2].second.substr(r.sent[2].second.size() - 4), "\n=>\n");
    EXPECT_EQ(r.sent[2].second.rfind("+", 0), 0u);
}

// A meter that requires remote mode sends nothing at all, no echo either,
// until SYST:REM; closing the line does not make it local.
TEST(MeterSession, RemoteRequiredSendsNothingUntilTheRemoteCommand) {
    TSessionRig r;
    r.meter.RequireRemote(true);
    r.meter.SetTerminal(true);
    r.session.Receive("*IDN?\nMEAS:CURR?\nSYST:ERR?\n");
    r.clock.advance(100);
    EXPECT_EQ(r.All(), "");
    r.session.Receive("SYST:REM\n*OPC?\n");
    EXPECT_EQ(r.All(), "SYST:REM\n=>\n*OPC?\n1\n=>\n");
    r.sent.clear();
    r.session.Reset();
    r.session.Receive("*OPC?\nSYST:LOC\n*OPC?\n");
    EXPECT_EQ(r.All(), "*OPC?\n1\n=>\nSYST:LOC\n=>\n");
}

namespace {

// The transmitter and its bench meter in process, nobody polling.
struct TIdleRig {
    TMBManualClock clock;
    TMBMemoryPort devicePort, meterPort;
    TInProcessDevice device{devicePort, clock, TDeviceConfig::Steady()};
    TInProcessMeter meter{meterPort, clock, device};
    std::string received;

    TIdleRig() {
        devicePort.Open(QStringLiteral("dev"), 115200);
        meterPort.Open(QStringLiteral("meter"), 9600);
        meterPort.OnReceive = [this](qint64 waiting) { received += meterPort.Read(waiting).toStdString(); };
        meter.Meter().SetNoise(0.0);
    }
    // One reading over the meter's line, in mA.
    double ReadMilliAmp() {
        received.clear();
        meterPort.Write("MEAS:CURR?\n", 11);
        EXPECT_TRUE(clock.advanceUntil([&] { return received.find('\n') != std::string::npos; }, 20000));
        return std::strtod(received.c_str(), nullptr) * 1000.0;
    }
};

} // namespace

// The device's measuring cycle runs on the clock: a new process value
// reaches the loop within a cycle and the filter's settling, whether a
// master polls or not, and whoever looks (the meter, the console) sees it.
TEST(MeterSession, TheOutputFollowsTheProcessWithNobodyPolling) {
    TIdleRig r;
    const double at25 = r.ReadMilliAmp();
    EXPECT_NEAR(at25, r.device.Meter().MilliAmp, 1e-6);
    r.device.Console("value 75");
    r.clock.advance(TDeviceModel::kCycleMs + r.device.Model().OutputStage().SettleMs());
    // The measuring cycle at 100 ms ran without being asked for, and drove
    // the output; whoever looks at it between cycles moves the filter on.
    EXPECT_EQ(r.device.Model().Now(), TDeviceModel::kCycleMs);
    const TMeterReading settled = r.device.Meter();
    EXPECT_GT(settled.MilliAmp - at25, 7.9); // 25 to 75 % of 16 mA, off by the board's error
    r.device.Slave().SyncModel();
    EXPECT_NEAR(r.device.Model().OutputNow().MilliAmp, settled.MilliAmp, 1e-6);
    EXPECT_EQ(r.device.Console("meter"), FormatMeter(settled));
    EXPECT_NEAR(r.ReadMilliAmp(), settled.MilliAmp, 1e-6);
    EXPECT_EQ(r.device.Slave().Requests(), 0u);

    // The same clock gives the same output: the cycle timer keeps the
    // manual clock's runs alike.
    TIdleRig again;
    again.device.Console("value 75");
    again.clock.advance(r.clock.now());
    again.device.Slave().SyncModel();
    EXPECT_EQ(again.device.Model().OutputNow().MilliAmp, r.device.Model().OutputNow().MilliAmp);
}

// The meter's words typed at the in-process device's console, and a slow
// output stage read by an integrating meter after a forced step.
TEST(MeterSession, ConsoleWordsReachTheInProcessMeter) {
    TIdleRig r;
    EXPECT_EQ(r.device.Console("meter integration 400", &r.meter.Meter()).rfind("meter integration 400 ms", 0), 0u);
    EXPECT_EQ(r.device.Console("output tau 60").rfind("output tau 60 ms", 0), 0u);
    EXPECT_EQ(r.device.Console("meter overload on", &r.meter.Meter()).rfind("meter overload on", 0), 0u);
    const std::int64_t t0 = r.clock.now();
    r.ReadMilliAmp();
    EXPECT_EQ(r.received, "+9.90000000E+37\n");
    // 400 ms of integration and the answer's 16 characters at 9600 baud.
    EXPECT_EQ(r.clock.now() - t0, 400 + 17);
    EXPECT_EQ(r.device.Console("meter drift 1000", &r.meter.Meter()).rfind("meter drift 1000 ppm/s from now", 0), 0u);
    r.device.Console("meter overload off", &r.meter.Meter());
    const double settled = r.device.Meter().MilliAmp;
    r.clock.advance(10000 - 400); // the drift's start and the reading's end 10 s apart
    EXPECT_NEAR(r.ReadMilliAmp(), settled * 1.01, 1e-5);
}

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
