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
const TMeterReading kOutput{4.0123454, 2.0061234};

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
            v.push_back(std::strtod(m.Answer(current, {4.0, 2.0}).c_str(), nullptr));
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
