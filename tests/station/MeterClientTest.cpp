// The meter client against kvsim's bench meter in process (a memory port and
// a manual clock, the meter reading an in-process device's output), and
// against meters scripted as their manuals describe them: remote mode,
// terminal mode, error queues, overloads, late answers, handshake lines.
#include "InProcessDevice.h"
#include "InProcessMeter.h"
#include "MBMemoryPort.h"
#include "MBTimer.h"
#include "MeterClient.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <optional>

using kv::station::TMeterClient;
using kv::station::TMeterFault;
using kv::station::TMeterReply;

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
        return Ask([&](TResult& r) { client->Identify([&r](const TMeterReply& m) { r = {true, m.Ok(), m.Text, {}}; }); });
    }
    TResult Measure(kv::station::TMeterQuantity q) {
        return Ask([&](TResult& r) { client->Measure(q, [&r](const TMeterReply& m) { r = {true, m.Ok(), m.Text, m.Value}; }); });
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
        {"silent meter", [](TRig& r) { r.meter->SetSilent(true); },
         "no answer from the meter to MEAS:CURR:DC? on /dev/ttyMEM1 within 5 s", TMeterClient::kAnswerTimeoutMs},
        {"an answer that is no reading, nor an error-queue entry",
         [](TRig& r) { r.meterPort->OnWritten = [&r](const QByteArray&) { r.meterPort->Push("OVLD\n"); }; },
         "the meter answered \"OVLD\" to SYST:ERR?, not an entry of its error queue", 0},
        {"overload", [](TRig& r) { r.meterPort->OnWritten = [&r](const QByteArray&) { r.meterPort->Push("+9.9E+37\n"); }; },
         "the meter reads an overload (+9.9E+37) to MEAS:CURR:DC?: a wiring fault", 0},
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

namespace {

// A meter as its manual describes it, scripted: each command line it takes
// is kept, and `answer` gives the lines it sends back (pushed as one chunk,
// arriving after the write, as on a line).
struct TScriptRig {
    TMBManualClock clock;
    TMBMemoryPort* port = nullptr;
    std::unique_ptr<TMeterClient> client;
    std::vector<std::string> commands;
    std::string partial;
    int reading = 0;
    std::function<std::string(const std::string& command)> answer = [this](const std::string& c) { return Default(c); };

    static std::string Default(const std::string& c) {
        if (c == "*IDN?")
            return "ACME,34401A,0,11-5-2\n";
        if (c == "MEAS:CURR:DC?")
            return "+4.00012E-03\n";
        if (c == "MEAS:VOLT:DC?")
            return "+2.00010E+00\n";
        if (c == "SYST:ERR?")
            return "+0,\"No error\"\n";
        return {};
    }

    explicit TScriptRig(kv::station::TBenchMeter meter = {}) {
        auto p = std::make_unique<TMBMemoryPort>();
        port = p.get();
        port->OnWritten = [this](const QByteArray& bytes) {
            partial += bytes.toStdString();
            for (std::size_t n; (n = partial.find('\n')) != std::string::npos;) {
                std::string command = partial.substr(0, n);
                partial.erase(0, n + 1);
                if (!command.empty() && command.back() == '\r')
                    command.pop_back();
                commands.push_back(command);
                if (const std::string a = answer(command); !a.empty())
                    port->Push(QByteArray::fromStdString(a));
            }
        };
        client = std::make_unique<TMeterClient>(clock, std::move(p));
        if (meter.Line.Port.isEmpty())
            meter.Line.Port = QStringLiteral("/dev/ttyUSB1");
        EXPECT_TRUE(client->Open(meter)) << client->OpenError().toStdString();
    }

    TMeterReply Wait(const std::function<void(TMeterClient::TDone)>& start) {
        std::optional<TMeterReply> r;
        start([&r](const TMeterReply& reply) { r = reply; });
        clock.advanceUntil(
            [&] {
                // An answer pushed while the last one was handed over waits
                // for the next turn: all of them arrive before time moves.
                for (int turn = 0; turn < 100 && port->BytesWaiting() > 0 && !r; ++turn) {
                    port->DeliverPending();
                    QCoreApplication::processEvents();
                }
                return r.has_value();
            },
            60000);
        return r.value_or(TMeterReply{TMeterFault::NoAnswer, "the test's clock ran out", {}});
    }
    TMeterReply Identify() {
        return Wait([&](TMeterClient::TDone d) { client->Identify(std::move(d)); });
    }
    TMeterReply Measure(kv::station::TMeterQuantity q = kv::station::meterCurrent) {
        return Wait([&](TMeterClient::TDone d) { client->Measure(q, std::move(d)); });
    }
};

kv::station::TBenchMeter Meter(const std::function<void(kv::station::TBenchMeter&)>& change = {}) {
    kv::station::TBenchMeter m;
    m.Line.Port = QStringLiteral("/dev/ttyUSB1");
    if (change)
        change(m);
    return m;
}

} // namespace

// The start and the end as the bench says: the line settings and raised
// modem lines on the port, a bare line end first (an earlier program's half
// line), then the remote command before anything else, *CLS, *IDN?; after a
// reading the error queue; the local command last. Every line ends in the
// bench's terminator.
TEST(MeterClient, TheConversationFollowsTheBench) {
    using kv::station::TBenchMeter;
    struct {
        const char* what;
        TBenchMeter meter;
        std::vector<std::string> commands;
        QByteArray lineEnd;
        QStringList modemLines;
    } const table[] = {
        {"plain", Meter(), {"", "*CLS", "*IDN?", "MEAS:CURR:DC?", "SYST:ERR?"}, "\n", {"DTR on", "RTS on"}},
        {"a 34401A-class meter: remote, 8N2, DTR/DSR, crlf",
         Meter([](TBenchMeter& m) {
             m.Remote = QStringLiteral("SYST:REM");
             m.Local = QStringLiteral("SYST:LOC");
             m.Line.StopBits = 2;
             m.Line.Handshake = kv::station::THandshake::DtrDsr;
             m.Line.Terminator = QStringLiteral("\r\n");
         }),
         {"", "SYST:REM", "*CLS", "*IDN?", "MEAS:CURR:DC?", "SYST:ERR?", "SYST:LOC"}, "\r\n", {"DTR on", "RTS on"}},
        {"modem lines lowered by the bench", Meter([](TBenchMeter& m) { m.Line.Dtr = m.Line.Rts = false; }),
         {"", "*CLS", "*IDN?", "MEAS:CURR:DC?", "SYST:ERR?"}, "\n", {"DTR off", "RTS off"}},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.what);
        TScriptRig rig(row.meter);
        EXPECT_EQ(rig.port->OpenedLine(), row.meter.Line.Settings());
        EXPECT_EQ(rig.port->TakeModemLineCalls(), row.modemLines);
        const TMeterReply id = rig.Identify();
        ASSERT_TRUE(id.Ok()) << id.Text;
        EXPECT_EQ(id.Text, "ACME,34401A,0,11-5-2");
        const TMeterReply r = rig.Measure();
        ASSERT_TRUE(r.Ok()) << r.Text;
        EXPECT_DOUBLE_EQ(*r.Value, 4.00012e-3);
        rig.client->Release();
        EXPECT_FALSE(rig.port->IsOpen());
        EXPECT_EQ(rig.commands, row.commands);
        EXPECT_TRUE(rig.port->Written().endsWith(row.lineEnd));
        EXPECT_EQ(rig.port->Written().count(row.lineEnd), qsizetype(row.commands.size()));
    }
}

// Who the meter is: its answer must match the bench's Identity; a line that
// arrives after the identification started and is no identity (a reading,
// an error-queue entry an earlier program asked for) is thrown away, never
// taken for the meter's name; an echo is named as such, and a terminal mode
// the bench declares is served.
TEST(MeterClient, TheIdentityIsTheMetersOwnAndChecked) {
    using kv::station::TBenchMeter;
    struct {
        const char* what;
        TBenchMeter meter;
        std::function<std::string(const std::string&)> answer;
        TMeterFault fault;
        const char* text; // the identity, or the failure's words
    } const table[] = {
        {"matches", Meter([](TBenchMeter& m) { m.Identity = QStringLiteral("^ACME,34401A,"); }), TScriptRig::Default,
         TMeterFault::None, "ACME,34401A,0,11-5-2"},
        {"another meter", Meter([](TBenchMeter& m) { m.Identity = QStringLiteral("^KEITHLEY INSTRUMENTS INC.,MODEL 2000,"); }),
         TScriptRig::Default, TMeterFault::Identity,
         "the meter on /dev/ttyUSB1 is not the bench's: it names itself \"ACME,34401A,0,11-5-2\", which does not match "
         "[Meter] Identity=^KEITHLEY"},
        {"a late reading first", Meter(),
         [](const std::string& c) { return c == "*IDN?" ? "7.870680E-03\n" + TScriptRig::Default(c) : TScriptRig::Default(c); },
         TMeterFault::None, "ACME,34401A,0,11-5-2"},
        {"a late error-queue entry first, in its own chunk", Meter(),
         [](const std::string& c) { return c == "*IDN?" ? "+0,\"No error\"\n" : TScriptRig::Default(c); },
         TMeterFault::NoAnswer, "no answer from the meter to *IDN? on /dev/ttyUSB1"},
        {"an echo in a terminal mode the bench does not declare", Meter(),
         [](const std::string& c) { return c.empty() ? "\r\n=>\r\n" : c + "\r\n" + TScriptRig::Default(c) + "=>\r\n"; },
         TMeterFault::Echo, "the meter echoes the commands (\"*CLS\" came back): it is in a terminal mode"},
        {"a terminal mode the bench declares", Meter([](TBenchMeter& m) { m.Echo = true, m.Prompt = QStringLiteral("=>"); }),
         [](const std::string& c) { return c.empty() ? "\r\n=>\r\n" : c + "\r\n" + TScriptRig::Default(c) + "=>\r\n"; },
         TMeterFault::None, "ACME,34401A,0,11-5-2"},
        {"garbage with a NUL: another frame", Meter(),
         [](const std::string& c) { return c == "*IDN?" ? std::string("AC\0E,34401A\n", 12) : TScriptRig::Default(c); },
         TMeterFault::Garbage, "has damaged characters: do the rate, data bits, parity and stop bits match the meter's (9600 baud, 8N1"},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.what);
        TScriptRig rig(row.meter);
        rig.answer = row.answer;
        const TMeterReply r = rig.Identify();
        EXPECT_EQ(r.Fault, row.fault) << r.Text;
        if (row.fault == TMeterFault::None)
            EXPECT_EQ(r.Text, row.text);
        else
            EXPECT_NE(r.Text.find(row.text), std::string::npos) << r.Text;
        if (row.fault == TMeterFault::None && row.meter.Echo) {
            const TMeterReply m = rig.Measure();
            EXPECT_TRUE(m.Ok()) << m.Text;
        }
    }
}

// A meter in remote-required mode answers nothing until it has its remote
// command: without one in the bench the message points at the remote
// command and the handshake lines, not at the line ending; with it, the
// meter answers.
TEST(MeterClient, ARemoteRequiredMeterIsToldWhatItNeeds) {
    for (const bool remote : {false, true}) {
        SCOPED_TRACE(remote);
        TScriptRig rig(Meter([remote](kv::station::TBenchMeter& m) {
            if (remote)
                m.Remote = QStringLiteral("SYST:REM");
        }));
        bool inRemote = false;
        rig.answer = [&](const std::string& c) {
            inRemote = inRemote || c == "SYST:REM";
            return inRemote ? TScriptRig::Default(c) : std::string();
        };
        const std::int64_t from = rig.clock.now();
        const TMeterReply r = rig.Identify();
        if (remote) {
            EXPECT_TRUE(r.Ok()) << r.Text;
            continue;
        }
        EXPECT_EQ(r.Fault, TMeterFault::NoAnswer);
        EXPECT_GE(rig.clock.now() - from, TMeterClient::kAnswerTimeoutMs);
        for (const char* words : {"needs its remote command first: none was sent ([Meter] Remote=SYST:REM sends it)",
                                  "Handshake=dtr-dsr", "(9600 baud, 8N1, no handshake, DTR on, RTS on)"})
            EXPECT_NE(r.Text.find(words), std::string::npos) << r.Text;
        EXPECT_EQ(r.Text.find("\\n"), std::string::npos) << r.Text;
    }
}

// After every reading the error queue is read until it reports no error;
// any error fails the reading, named. An overload is a wiring fault of its
// own. Each says that the meter answered (MeterAnswered), so that the run
// does not end as a dead line.
TEST(MeterClient, EveryReadingIsFollowedByTheErrorQueue) {
    struct {
        const char* what;
        std::vector<std::string> errors; // what SYST:ERR? answers, in turn, before "+0"
        std::string reading;
        TMeterFault fault;
        const char* text;
    } const table[] = {
        {"clean", {}, "+4.00012E-03\n", TMeterFault::None, "+4.00012E-03"},
        {"a settings conflict", {"-221,\"Settings conflict\""}, "+4.00012E-03\n", TMeterFault::Error,
         "the meter reported -221,\"Settings conflict\" after MEAS:CURR:DC? (its reading +4.00012E-03 is not used)"},
        {"two errors", {"-221,\"Settings conflict\"", "+531,\"Insufficient memory\""}, "+4.00012E-03\n", TMeterFault::Error,
         "-221,\"Settings conflict\"; +531,\"Insufficient memory\" after MEAS:CURR:DC?"},
        {"garbage, and why", {"-113,\"Undefined header\""}, "OVLD\n", TMeterFault::Error,
         "the meter reported -113,\"Undefined header\" after MEAS:CURR:DC?"},
        {"garbage without an error", {}, "OVLD\n", TMeterFault::Garbage,
         "the meter answered \"OVLD\" to MEAS:CURR:DC?, not a reading"},
        {"a queue that never empties", std::vector<std::string>(100, "-350,\"Queue overflow\""), "+4.00012E-03\n",
         TMeterFault::Error, "the meter's error queue does not empty (32 errors read)"},
        {"overload", {}, "+9.90000000E+37\n", TMeterFault::Overload,
         "the meter reads an overload (+9.90000000E+37) to MEAS:CURR:DC?: a wiring fault"},
        {"negative overload", {}, "-9.9E+37\n", TMeterFault::Overload, "overload (-9.9E+37)"},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.what);
        TScriptRig rig(Meter());
        ASSERT_TRUE(rig.Identify().Ok());
        std::size_t next = 0;
        rig.answer = [&](const std::string& c) {
            if (c == "MEAS:CURR:DC?")
                return row.reading;
            if (c == "SYST:ERR?" && next < row.errors.size())
                return row.errors[next++] + "\n";
            return TScriptRig::Default(c);
        };
        rig.commands.clear();
        const TMeterReply r = rig.Measure();
        EXPECT_EQ(r.Fault, row.fault) << r.Text;
        EXPECT_EQ(kv::station::MeterAnswered(r.Fault), row.fault != TMeterFault::None);
        EXPECT_NE(r.Text.find(row.text), std::string::npos) << r.Text;
        // The queue was read to its end, or no further than the overload.
        const auto asked = std::count(rig.commands.begin(), rig.commands.end(), "SYST:ERR?");
        if (row.fault == TMeterFault::Overload)
            EXPECT_EQ(asked, 0);
        else
            EXPECT_EQ(asked, std::min<std::ptrdiff_t>(std::ptrdiff_t(row.errors.size()) + 1, TMeterClient::kMaxErrors));
    }
}

// The line's own faults: nothing comes back, and the run ends as a dead
// line (not MeterAnswered), with what to look at.
TEST(MeterClient, AMeterThatHoldsItsHandshakeLineOffTakesNothing) {
    TScriptRig rig(Meter([](kv::station::TBenchMeter& m) { m.Line.Handshake = kv::station::THandshake::DtrDsr; }));
    ASSERT_TRUE(rig.Identify().Ok());
    rig.port->SetModemStatus(msCTS); // DSR off: the meter is not ready
    const TMeterReply r = rig.Measure();
    EXPECT_EQ(r.Fault, TMeterFault::NoAnswer);
    EXPECT_NE(r.Text.find("the meter holds its DTR, our DSR, off: it takes nothing on /dev/ttyUSB1"), std::string::npos)
        << r.Text;
}

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
