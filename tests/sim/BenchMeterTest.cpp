// The simulated bench meter: its SCPI commands and errors, its lines, its
// readings' resolution and seeded noise, and the console words that set it.
#include "BenchMeter.h"
#include "DeviceModel.h"
#include "Faults.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

using namespace kvsim;

namespace {

// The output a meter without noise sees in these tests.
const TMeterSample kOutput{{4.0123454, 2.0061234}};

// Executes a line and answers it at once, as the server does after the aperture.
std::string Ask(TBenchMeter& m, const std::string& line) { return m.Answer(m.Execute(line), kOutput); }

} // namespace

TEST(BenchMeter, CommandsAndTheirAnswers) {
    struct {
        const char* line;
        const char* answer; // "" when nothing is sent
        const char* error;  // what SYST:ERR? says next
    } const table[] = {
        {"*IDN?", "KVSIM,BENCH METER 6.5 DIGIT (SIMULATED),SIM7,1.0\n", "+0,\"No error\""},
        {"*idn?", "KVSIM,BENCH METER 6.5 DIGIT (SIMULATED),SIM7,1.0\n", "+0,\"No error\""},
        {"*RST", "", "+0,\"No error\""},
        {"*OPC?", "1\n", "+0,\"No error\""},
        {"MEAS:CURR:DC?", "+4.012345E-03\n", "+0,\"No error\""},
        {"measure:current:dc?", "+4.012345E-03\n", "+0,\"No error\""},
        {":MEAS:CURR?", "+4.012345E-03\n", "+0,\"No error\""},
        {"MEAS:VOLT:DC?", "+2.006123E+00\n", "+0,\"No error\""},
        {"MEASure:VOLTage?  AUTO, DEF", "+2.006123E+00\n", "+0,\"No error\""},
        {"MEAS:CURR:DC? 0.01,1e-9", "+4.012345E-03\n", "+0,\"No error\""},
        {"*RST;*OPC?;MEAS:CURR?;MEAS:VOLT?", "1;+4.012345E-03;+2.006123E+00\n", "+0,\"No error\""},
        {"SYST:ERR:NEXT?", "+0,\"No error\"\n", "+0,\"No error\""},
        {"", "", "+0,\"No error\""},
        // Errors: nothing is answered, the queue tells why.
        {"FOO?", "", "-113,\"Undefined header\""},
        {"MEASU:CURR?", "", "-113,\"Undefined header\""},       // neither short nor long form
        {"MEAS:CURR:DC", "", "-113,\"Undefined header\""},      // no such command without "?"
        {"MEAS:CURR:AC?", "", "-113,\"Undefined header\""},
        {"MEAS:CURR:DC:?", "", "-113,\"Undefined header\""},
        {"*RST?", "", "-113,\"Undefined header\""},
        {"M#AS:CURR?", "", "-102,\"Syntax error\""},
        {"*IDN? 1", "", "-108,\"Parameter not allowed\""},
        {"MEAS:CURR? 1,2,3", "", "-108,\"Parameter not allowed\""},
        {"MEAS:CURR? LOTS", "", "-224,\"Illegal parameter value\""},
        {"MEAS:VOLT? -1", "", "-224,\"Illegal parameter value\""},
        // A command in error ends its line: what came before is answered.
        {"*OPC?;BAD?;*IDN?", "1\n", "-113,\"Undefined header\""},
    };
    for (const auto& row : table) {
        TBenchMeter m(1, "SIM7");
        m.SetNoise(0.0);
        EXPECT_EQ(Ask(m, row.line), row.answer) << row.line;
        EXPECT_EQ(Ask(m, "SYST:ERR?"), std::string(row.error) + "\n") << row.line;
    }
}

TEST(BenchMeter, ErrorQueueKeepsTheOldestAndMarksAnOverflow) {
    TBenchMeter m;
    Ask(m, "ONE?");
    Ask(m, "*IDN? x");
    EXPECT_EQ(Ask(m, "SYST:ERR?;SYST:ERR?;SYST:ERR?"),
              "-113,\"Undefined header\";-108,\"Parameter not allowed\";+0,\"No error\"\n");

    for (std::size_t i = 0; i < TBenchMeter::kErrorQueue + 5; ++i)
        Ask(m, "BAD?");
    EXPECT_EQ(m.PendingErrors(), TBenchMeter::kErrorQueue);
    for (std::size_t i = 1; i < TBenchMeter::kErrorQueue; ++i)
        EXPECT_EQ(Ask(m, "SYST:ERR?"), "-113,\"Undefined header\"\n") << i;
    EXPECT_EQ(Ask(m, "SYST:ERR?"), "-350,\"Queue overflow\"\n");
    EXPECT_EQ(Ask(m, "SYST:ERR?"), "+0,\"No error\"\n");

    Ask(m, "BAD?");
    Ask(m, "*RST");
    EXPECT_EQ(m.PendingErrors(), 1u); // *RST leaves the queue
    Ask(m, "*CLS");
    EXPECT_EQ(m.PendingErrors(), 0u);
}

TEST(BenchMeter, LinesFromTheSerialLine) {
    TBenchMeter m;
    std::string line;
    // Any cut between chunks, "\n" or "\r\n".
    m.Receive("*ID");
    EXPECT_FALSE(m.NextLine(line));
    m.Receive("N?\r\nMEAS:CU");
    m.Receive("RR?\n\n");
    ASSERT_TRUE(m.NextLine(line));
    EXPECT_EQ(line, "*IDN?");
    ASSERT_TRUE(m.NextLine(line));
    EXPECT_EQ(line, "MEAS:CURR?");
    ASSERT_TRUE(m.NextLine(line));
    EXPECT_EQ(line, "");
    EXPECT_FALSE(m.NextLine(line));

    // A line too long is thrown away whole, and the next one is read.
    m.Receive(std::string(TBenchMeter::kMaxLine + 10, 'A') + "\n*OPC?\n");
    ASSERT_TRUE(m.NextLine(line));
    EXPECT_EQ(line, "*OPC?");
    EXPECT_FALSE(m.NextLine(line));
    EXPECT_EQ(Ask(m, "SYST:ERR?"), "-363,\"Input buffer overrun\"\n");

    // A flood of lines nobody takes fills the input buffer and no more.
    for (int i = 0; i < 2000; ++i)
        m.Receive("MEAS:VOLT:DC?\n");
    std::size_t lines = 0;
    while (m.NextLine(line))
        ++lines;
    EXPECT_GT(lines, 100u);
    EXPECT_LT(lines, 400u);
    EXPECT_EQ(Ask(m, "SYST:ERR?"), "-363,\"Input buffer overrun\"\n");
}

TEST(BenchMeter, ReadingsCarryTheDigitsOfTheResolution) {
    struct {
        double value, resolution;
        const char* text;
    } const table[] = {
        {4.0123454e-3, 1e-9, "+4.012345E-03"},  {4.0123456e-3, 1e-9, "+4.012346E-03"},
        {20.0e-3, 1e-9, "+2.0000000E-02"},      {2.0061234, 1e-6, "+2.006123E+00"},
        {10.0, 1e-6, "+1.0000000E+01"},         {9.9999996, 1e-6, "+1.0000000E+01"},
        {0.0, 1e-6, "+0.000000E+00"},           {-3e-10, 1e-9, "+0.000000E+00"},
        {-1.5e-3, 1e-9, "-1.500000E-03"},       {4.0123454e-3, 1e-7, "+4.0123E-03"},
        {4.0123454e-3, 5e-9, "+4.012345E-03"},  {12.0, 1e-3, "+1.2000E+01"},
        {NAN, 1e-9, "+9.90000000E+37"},
    };
    for (const auto& row : table)
        EXPECT_EQ(TBenchMeter::FormatReading(row.value, row.resolution), row.text) << row.value << " " << row.resolution;
}

TEST(BenchMeter, NoiseIsGaussianAroundTheOutputAndRepeatsWithItsSeed) {
    const TScpiReply current{{{{}, true, quantityCurrent}}};
    auto readings = [&](std::uint64_t seed, double counts) {
        TBenchMeter m(seed);
        EXPECT_TRUE(m.SetNoise(counts));
        std::vector<double> v;
        for (int i = 0; i < 4000; ++i)
            v.push_back(std::strtod(m.Answer(current, {{4.0, 2.0}}).c_str(), nullptr));
        return v;
    };
    const std::vector<double> a = readings(3, 2.0), b = readings(3, 2.0), c = readings(4, 2.0);
    EXPECT_EQ(a, b);
    EXPECT_NE(a, c);
    double sum = 0, squares = 0;
    for (double x : a) {
        const double counts = (x - 4e-3) / 1e-9;
        EXPECT_NEAR(counts, std::round(counts), 1e-3); // whole counts
        sum += counts;
        squares += counts * counts;
    }
    const double mean = sum / a.size();
    EXPECT_NEAR(mean, 0.0, 0.15);
    EXPECT_NEAR(std::sqrt(squares / a.size() - mean * mean), 2.0, 0.15);
    for (double x : readings(3, 0.0))
        EXPECT_EQ(x, 4e-3);
}

TEST(BenchMeter, ConsoleSetsNoiseAndResolution) {
    TFaultInjector inj;
    TDeviceModel model;
    TBenchMeter meter;
    TConsoleAction act = actNone;
    struct {
        const char* line;
        const char* replyStart;
    } const table[] = {
        {"meter noise 5", "meter noise 5 counts"},
        {"meter resolution 1e-8 1e-5", "meter resolution 1e-08 A 1e-05 V"},
        {"meter noise -1", "error:"},
        {"meter noise", "error:"},
        {"meter resolution 0 1e-6", "error:"},
        {"meter resolution 1e-9", "error:"},
        {"meter resolution 1e-9 nan", "error:"},
        {"meter", "meter "},
        {"meter voltage", "meter on the voltage output"},
        {"meter current extra", "error:"},
    };
    for (const auto& row : table) {
        const std::string reply = ConsoleExecute(row.line, inj, model, act, &meter);
        EXPECT_EQ(reply.rfind(row.replyStart, 0), 0u) << row.line << " -> " << reply;
    }
    EXPECT_EQ(meter.NoiseCounts(), 5.0);
    EXPECT_EQ(meter.CurrentResolution(), 1e-8);
    EXPECT_EQ(meter.VoltageResolution(), 1e-5);
    EXPECT_EQ(ConsoleExecute("meter noise 1", inj, model, act).rfind("error: no bench meter", 0), 0u);
    // Leads on the voltage output only: the current reads nothing.
    meter.SetNoise(0.0);
    EXPECT_EQ(meter.Answer(meter.Execute("MEAS:CURR?;MEAS:VOLT?"), kOutput), "+0.000000E+00;+2.00612E+00\n");
    ConsoleExecute("meter both", inj, model, act, &meter);
    EXPECT_EQ(meter.Wiring(), wiredBoth);
}

// A meter that must be put in remote mode over its serial line: deaf to
// everything else (no answer, no error queued) while local.
TEST(BenchMeter, RemoteRequiredHearsOnlyTheRemoteCommand) {
    struct {
        const char* line;
        bool ignored;
        const char* answer;
    } const table[] = {
        {"*IDN?", true, ""},
        {"SYST:ERR?", true, ""},
        {"*CLS;MEAS:CURR?", true, ""},
        {"", true, ""},
        {"SYST:REMO", true, ""}, // neither form: not the remote command
        {"SYSTem:REMote", false, ""},
        {"*OPC?", false, "1\n"},
        {"SYST:LOC", false, ""},
        {"*OPC?", true, ""},
        {":system:remote;*OPC?", false, "1\n"}, // the rest of its line is heard
        {"SYST:LOCAL;*OPC?", false, ""},         // and after local, nothing more
        {"syst:rem", false, ""},
        {"SYST:ERR?", false, "+0,\"No error\"\n"}, // nothing was queued while deaf
    };
    TBenchMeter m(1, "SIM7");
    m.SetNoise(0.0);
    m.RequireRemote(true);
    for (const auto& row : table) {
        const TScpiReply reply = m.Execute(row.line);
        EXPECT_EQ(reply.Ignored, row.ignored) << row.line;
        EXPECT_EQ(m.Answer(reply, kOutput), row.answer) << row.line;
    }
    EXPECT_TRUE(m.Remote());
    // Requiring it again makes the meter local; without the requirement the
    // remote commands are taken and change nothing of what it answers.
    m.RequireRemote(true);
    EXPECT_TRUE(m.Execute("*OPC?").Ignored);
    m.RequireRemote(false);
    EXPECT_EQ(Ask(m, "SYST:LOC;*OPC?"), "1\n");
    EXPECT_EQ(Ask(m, "SYST:REM;*OPC?"), "1\n");
}

// The other meters' behaviours on the reading itself and on the queue.
TEST(BenchMeter, ErrorsDriftAndOverloadOnReadings) {
    struct {
        const char* what;
        bool errors, overload;
        double ppm;
        std::uint64_t since, at;
        const char* answer;
        std::size_t queued;
    } const table[] = {
        {"plain", false, false, 0, 0, 5000, "+4.012345E-03;+2.006123E+00\n", 0},
        {"errors", true, false, 0, 0, 5000, "+4.012345E-03;+2.006123E+00\n", 2},
        {"overload", false, true, 0, 0, 5000, "+9.90000000E+37;+9.90000000E+37\n", 0},
        // 50 ppm/s for 10 s: 500 ppm of the reading.
        {"drift up", false, false, 50, 1000, 11000, "+4.014352E-03;+2.007126E+00\n", 0},
        {"drift down", false, false, -50, 1000, 11000, "+4.010339E-03;+2.005120E+00\n", 0},
        {"drift not yet", false, false, 50, 11000, 1000, "+4.012345E-03;+2.006123E+00\n", 0},
    };
    for (const auto& row : table) {
        TBenchMeter m;
        m.SetNoise(0.0);
        m.SetErrorsOnReadings(row.errors);
        m.SetOverload(row.overload);
        ASSERT_TRUE(m.SetDrift(row.ppm, row.since));
        EXPECT_EQ(m.Answer(m.Execute("MEAS:CURR?;MEAS:VOLT?"), {kOutput.Output, row.at}), row.answer) << row.what;
        EXPECT_EQ(m.PendingErrors(), row.queued) << row.what;
        if (row.queued) {
            EXPECT_EQ(Ask(m, "SYST:ERR?"), "-221,\"Settings conflict\"\n") << row.what;
        }
    }
    TBenchMeter m;
    EXPECT_FALSE(m.SetDrift(2e6, 0));
    EXPECT_FALSE(m.SetDrift(NAN, 0));
    EXPECT_FALSE(m.SetIntegration(0));
    EXPECT_FALSE(m.SetIntegration(TBenchMeter::kMaxIntegrationMs + 1));
    EXPECT_TRUE(m.SetIntegration(TBenchMeter::kMaxIntegrationMs));
}

// A terminal-mode meter's prompt tells how its line went.
TEST(BenchMeter, TerminalPromptNamesTheKindOfError) {
    struct {
        const char* line;
        bool errorsOnReadings;
        const char* prompt;
    } const table[] = {
        {"*IDN?", false, "=>\n"},        {"", false, "=>\n"},
        {"*CLS", false, "=>\n"},         {"BAD?", false, "?>\n"},         // -113: not understood
        {"M#AS?", false, "?>\n"},        {"*IDN? 1", false, "?>\n"},      // -102, -108
        {"MEAS:VOLT? -1", false, "!>\n"}, // -224: understood, not executable
        {"MEAS:CURR?", true, "!>\n"},    // -221 with the reading
        {"MEAS:CURR?", false, "=>\n"},
    };
    for (const auto& row : table) {
        TBenchMeter m;
        m.SetTerminal(true);
        m.SetErrorsOnReadings(row.errorsOnReadings);
        m.Answer(m.Execute(row.line), kOutput);
        EXPECT_EQ(m.Prompt(), row.prompt) << row.line;
        m.SetTerminal(false);
        EXPECT_EQ(m.Prompt(), "") << row.line;
    }
}

// The console words of the other meters and of the output stage.
TEST(BenchMeter, ConsoleWordsOfTheMetersAndTheOutputStage) {
    TFaultInjector inj;
    TDeviceModel model(TDeviceConfig::Steady());
    TBenchMeter meter;
    TConsoleAction act = actNone;
    struct {
        const char* line;
        const char* replyStart;
    } const table[] = {
        {"meter integration 400", "meter integration 400 ms"},
        {"meter integration 0", "error:"},
        {"meter integration 10001", "error:"},
        {"meter integration 2.5", "error:"},
        {"meter remote on", "meter remote on"},
        {"meter terminal on", "meter terminal on"},
        {"meter errors on", "meter errors on"},
        {"meter overload on", "meter overload on"},
        {"meter overload maybe", "error:"},
        {"meter drift 50", "meter drift 50 ppm/s"},
        {"meter drift", "error:"},
        {"meter drift fast", "error:"},
        {"meter sideways", "error: unknown meter word"},
        {"output tau 60", "output tau 60 ms: a step settles within a meter's count in 1200 ms"},
        {"output tau 0", "error:"},
        {"output tau 10001", "error:"},
        {"output tau nan", "error:"},
        {"output bow 10", "output bow 10 uA (5 mV) at half scale"},
        {"output bow 20000", "error:"},
        {"output sideways 1", "error:"},
        {"sensor leads 2.5 0", "sensor leads 2.5 ohm, mismatch 0 %"},
        {"sensor leads -1", "error:"},
        {"sensor leads 1 200", "error:"},
        {"sensor leads", "error:"},
    };
    for (const auto& row : table) {
        const std::string reply = ConsoleExecute(row.line, inj, model, act, &meter);
        EXPECT_EQ(reply.rfind(row.replyStart, 0), 0u) << row.line << " -> " << reply;
    }
    EXPECT_EQ(meter.IntegrationMs(), 400u);
    EXPECT_TRUE(meter.RemoteRequired());
    EXPECT_TRUE(meter.Terminal());
    EXPECT_TRUE(meter.ErrorsOnReadings());
    EXPECT_TRUE(meter.Overload());
    EXPECT_EQ(meter.DriftPPM(), 50.0);
    EXPECT_EQ(model.OutputStage().Tau(), 60.0);
    EXPECT_DOUBLE_EQ(model.OutputStage().Characteristic().BowMicroAmp(), 10.0);
    EXPECT_EQ(model.LeadResistance(), 2.5);
    EXPECT_EQ(model.LeadMismatch(), 0.0);
    EXPECT_NE(ConsoleExecute("status", inj, model, act).find("output tau 60 ms, bow 10 uA, leads 2.5 ohm"), std::string::npos);
    for (const char* off : {"meter remote off", "meter terminal off", "meter errors off", "meter overload off"})
        ConsoleExecute(off, inj, model, act, &meter);
    EXPECT_FALSE(meter.RemoteRequired() || meter.Terminal() || meter.ErrorsOnReadings() || meter.Overload());
    // The output stage's words need no meter; the meter's do.
    EXPECT_EQ(ConsoleExecute("output tau 5", inj, model, act).rfind("output tau 5", 0), 0u);
    EXPECT_EQ(ConsoleExecute("meter remote on", inj, model, act).rfind("error: no bench meter", 0), 0u);
}
