// kvctl's meter client against kvsim's bench meter in process: a memory port
// and a manual clock, the meter reading an in-process device's output.
#include "InProcessDevice.h"
#include "InProcessMeter.h"
#include "MBMemoryPort.h"
#include "MBTimer.h"
#include "MeterClient.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <cmath>
#include <optional>

using kv::station::TMeterClient;

namespace {

struct TRig {
    TMBManualClock clock;
    TMBMemoryPort devicePort;
    kvsim::TInProcessDevice device{devicePort, clock, kvsim::TDeviceConfig::Steady()};
    TMBMemoryPort* meterPort = nullptr;
    std::unique_ptr<kvsim::TInProcessMeter> meter;
    std::unique_ptr<TMeterClient> client;

    TRig() {
        devicePort.Open(QStringLiteral("/dev/ttyMEM0"), 115200);
        auto port = std::make_unique<TMBMemoryPort>();
        meterPort = port.get();
        meter = std::make_unique<kvsim::TInProcessMeter>(*meterPort, clock, device);
        meter->Meter().SetNoise(0.0);
        client = std::make_unique<TMeterClient>(clock, std::move(port));
        EXPECT_TRUE(client->Open(QStringLiteral("/dev/ttyMEM1"), 9600));
    }
    ~TRig() {
        meter.reset();
        client.reset();
    }

    struct TResult {
        bool done = false, ok = false;
        std::string text;
        std::optional<double> value;
    };
    TResult Ask(const std::function<void(TResult&)>& start) {
        TResult r;
        start(r);
        clock.advanceUntil(
            [&] {
                // What the port delivers from the event loop: pushes made
                // inside a write, a hang-up.
                meterPort->DeliverPending();
                QCoreApplication::processEvents();
                return r.done;
            },
            60000);
        return r;
    }
    TResult Identify() {
        return Ask([&](TResult& r) { client->Identify([&r](bool ok, const std::string& t) { r = {true, ok, t, {}}; }); });
    }
    TResult Measure(kv::station::TMeterQuantity q) {
        return Ask([&](TResult& r) {
            client->Measure(q, [&r](std::optional<double> v, const std::string& e) { r = {true, v.has_value(), e, v}; });
        });
    }
};

} // namespace

TEST(MeterClient, ReadingsAreParsedOrRefused) {
    struct {
        const char* text;
        std::optional<double> value;
    } const table[] = {
        {"+4.012345E-03", 4.012345e-3}, {" -1.5E+00 ", -1.5}, {"1e-9", 1e-9}, {"+1.0000000E+01\r", std::nullopt},
        {"+9.90000000E+37", std::nullopt}, {"-9.9E+37", std::nullopt}, {"", std::nullopt}, {"+", std::nullopt},
        {"4.0 mA", std::nullopt}, {"nan", std::nullopt}, {"inf", std::nullopt}, {"0x10", std::nullopt},
    };
    for (const auto& row : table)
        EXPECT_EQ(kv::station::ParseMeterReading(row.text), row.value) << row.text;
}

TEST(MeterClient, IdentifiesTheMeterAfterThrowingAwayAnEarlierProgramsAnswer) {
    TRig rig;
    // An answer nobody read, and a half line, from an earlier program.
    rig.meterPort->Push("+4.000000E-03\n+2.0");
    rig.meter->Meter().Execute("BAD?"); // an error an earlier program caused
    const auto r = rig.Identify();
    ASSERT_TRUE(r.ok) << r.text;
    EXPECT_EQ(r.text.rfind("KVSIM,BENCH METER 6.5 DIGIT (SIMULATED),", 0), 0u) << r.text;
    EXPECT_EQ(rig.meter->Meter().PendingErrors(), 0u);
}

TEST(MeterClient, ReadsTheOutputAsItIsWhenTheReadingEnds) {
    TRig rig;
    ASSERT_TRUE(rig.Identify().ok);
    const auto current = rig.Measure(kv::station::meterCurrent);
    ASSERT_TRUE(current.ok) << current.text;
    EXPECT_NEAR(*current.value * 1000.0, rig.device.Model().Meter().MilliAmp, 1e-6);
    const auto voltage = rig.Measure(kv::station::meterVoltage);
    ASSERT_TRUE(voltage.ok) << voltage.text;
    EXPECT_NEAR(*voltage.value, rig.device.Model().Meter().Volt, 1e-6);
}

TEST(MeterClient, FailuresSayWhy) {
    struct {
        const char* what;
        std::function<void(TRig&)> arrange;
        const char* error;
        int atLeastMs;
    } const table[] = {
        {"silent meter", [](TRig& r) { r.meter->SetSilent(true); }, "no answer from the meter to MEAS:CURR:DC? within 5 s",
         TMeterClient::kAnswerTimeoutMs},
        {"an answer that is no reading", [](TRig& r) { r.meterPort->OnWritten = [&r](const QByteArray&) { r.meterPort->Push("OVLD\n"); }; },
         "the meter answered \"OVLD\" to MEAS:CURR:DC?, not a reading", 0},
        {"overload", [](TRig& r) { r.meterPort->OnWritten = [&r](const QByteArray&) { r.meterPort->Push("+9.9E+37\n"); }; },
         "the meter reports an overload to MEAS:CURR:DC?", 0},
        {"port pulled", [](TRig& r) { r.meterPort->HangUp(); }, "the meter's port /dev/ttyMEM1 hung up", 0},
        {"endless answer", [](TRig& r) { r.meterPort->OnWritten = [&r](const QByteArray&) { r.meterPort->Push(QByteArray(5000, '1')); }; },
         "runs over 4096 characters without a line end", 0},
    };
    for (const auto& row : table) {
        TRig rig;
        ASSERT_TRUE(rig.Identify().ok) << row.what;
        row.arrange(rig);
        const std::int64_t from = rig.clock.now();
        const auto r = rig.Measure(kv::station::meterCurrent);
        EXPECT_TRUE(r.done) << row.what;
        EXPECT_FALSE(r.ok) << row.what;
        EXPECT_NE(r.text.find(row.error), std::string::npos) << row.what << ": " << r.text;
        EXPECT_GE(rig.clock.now() - from, row.atLeastMs) << row.what;
    }
}

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
