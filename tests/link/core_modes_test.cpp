// Mode assignment, the slaves, the frame monitor, the byte and string pipes,
// and a master talking to a slave through memory.
#include "core_support.h"

#include <gtest/gtest.h>

using namespace coretest;

namespace {

struct Modes : testing::Test {
    TMBManualClock clock;
    TestEngine e{clock};
    void Start(TMBMode mode) {
        clock.advance(1000); // past the deferred start-up
        e.setMBMode(mode);
        e.Open();
        e.states.clear();
    }
};

TEST_F(Modes, AssignmentSetsLookBusyAndHeader) {
    struct Case {
        TMBMode mode;
        const char* caption;
        int header;
        bool tryShown;
        const char* unit;
        const char* speedUnit;
        bool busyClosed, busyOpen;
    };
    const Case cases[] = {
        {modeMaster, "Master v2016.10.11.", 3, true, " F", " frames / sec", true, false},
        {modeSlave, "Slave v2016.10.11.", 3, false, " F", " frames / sec", true, true},
        {modeASCIIMaster, "ASCII Master v2016.10.11.", 4, true, " F", " frames / sec", true, false},
        {modeASCIISlave, "ASCII Slave v2016.10.11.", 4, false, " F", " frames / sec", true, true},
        {modeDiagnostic, "Diagnostic v2016.10.11.", 3, false, " F", " frames / sec", true, true},
        {modeByte, "Byte Mode v2016.10.11.", 3, false, " B", " Bytes / sec", true, true},
        {modeString, "String Mode v2016.10.11.", 3, false, " S", " string / sec", true, true},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.caption);
        TMBManualClock c;
        TestEngine x(c);
        x.setMBMode(k.mode);
        EXPECT_EQ(x.caption, k.caption);
        EXPECT_EQ(x.MBHeaderLength(), k.header);
        EXPECT_EQ(x.MBTryDisplay(), k.tryShown);
        EXPECT_EQ(x.MBCounterUnit(), k.unit);
        EXPECT_EQ(x.MBSpeedUnit(), k.speedUnit);
        EXPECT_EQ(x.MBBusy(), k.busyClosed);
        EXPECT_EQ(x.MBStatusNow(), stnPortError); // a closed port stays a port error
        x.Open();
        x.setMBMode(k.mode);
        EXPECT_EQ(x.MBBusy(), k.busyOpen);
    }
}

TEST_F(Modes, ReassigningTheSameModeResetsNothing) {
    Start(modeASCIIMaster);
    e.setMBMasterMaxTryNumber(1);
    e.MBStartQuery(0);
    clock.advance(1002);
    ASSERT_EQ(e.MBStatus(), stTimeOut);
    const int resets = e.lampResets;
    e.setMBMode(modeASCIIMaster);
    EXPECT_EQ(e.MBNumberOfTxFrames(), 1u);
    EXPECT_EQ(e.MBMasterTryNumberMax(), 1);
    EXPECT_EQ(e.MBStatus(), stTimeOut);
    EXPECT_EQ(e.MBStatusNow(), stnTimeOut);
    EXPECT_EQ(e.lampResets, resets);

    e.setMBMode(modeSlave); // a change resets
    EXPECT_EQ(e.MBNumberOfTxFrames(), 0u);
    EXPECT_EQ(e.MBMasterTryNumberMax(), 0);
    EXPECT_EQ(e.MBStatus(), stOK);
    EXPECT_EQ(e.MBStatusNow(), stnWaitingForCommand);
    EXPECT_EQ(e.lampResets, resets + 1);
    e.setMBMode(modeASCIISlave);
    EXPECT_EQ(e.MBStatusNow(), stnReady);
}

// ---- binary slave ----------------------------------------------------------------------

TEST_F(Modes, BinarySlaveAnswers) {
    struct Case {
        const char* name;
        std::string request;    // the frame (before coding)
        std::string answer;     // expected answer frame, empty: none
        TMBStatus status;
        std::string statusText;
        std::uint32_t rxFrames; // after, starting from 5
    };
    const std::string version = Bytes({0xE0, 0x07, 0x0A, 0x0B});
    const std::string nameAnswer = [&] {
        std::string f = Bytes({0x82, 0, 0}) + version + version + std::string("MB Slave\0", 9);
        const std::uint16_t crc = MBCRC16(f);
        return f + static_cast<char>(crc & 0xFF) + static_cast<char>(crc >> 8);
    }();
    const Case cases[] = {
        {"ping", Frame({0x02, 0, 0}), Frame({0x82, 0, 0}), stOK, "OK", 6},
        {"version and name", Frame({0x02, 0, 129}), nameAnswer, stOK, "OK", 6},
        {"count", Frame({0x02, 0, 130, 0}), Frame({0x82, 0, 0, 6, 0, 0, 0}), stOK, "OK", 6},
        {"count cleared", Frame({0x02, 0, 130, 1}), Frame({0x82, 0, 0, 0, 0, 0, 0}), stOK, "OK", 0},
        {"unknown", Frame({0x02, 0, 200}), Frame({0x82, 0, 130}), stSlaveError, "Slave Error: #130", 5},
        {"foreign id", Frame({0x02, 9, 129}), Frame({0x82, 0, 129}), stSlaveError, "Slave Error: #129", 5},
        {"broadcast", Frame({0x00, 0, 0}), "", stOK, "OK", 6},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        TMBManualClock c;
        TestEngine x(c);
        c.advance(1000);
        x.setMBMode(modeSlave);
        x.setMBSlaveOwnAddress(18); // binary frames use its low four bits: 2
        x.Open();
        for (int i = 0; i < 5; ++i) { // five requests already taken
            x.Receive(Binary(Frame({0x02, 0, 0})));
            x.TakeWire();
        }
        x.Receive(Binary(k.request));
        EXPECT_EQ(x.MBStatus(), k.status);
        EXPECT_EQ(x.MBStatusString(), k.statusText);
        EXPECT_EQ(x.MBNumberOfRxFrames(), k.rxFrames);
        const std::string& want = k.answer;
        if (want.empty()) {
            EXPECT_TRUE(x.wire.empty());
            EXPECT_EQ(x.MBStatusNow(), stnReceivedCommand);
        } else {
            EXPECT_EQ(x.TakeWire(), Binary(want));
            EXPECT_EQ(x.MBStatusNow(), stnWaitingForCommand);
            EXPECT_EQ(x.MBNumberOfTxFrames(), 6u);
        }
    }
}

TEST_F(Modes, SlaveHandlerReadsRequestAndPutsAnswer) {
    Start(modeSlave);
    e.setMBSlaveID(7);
    std::vector<int> seen;
    e.OnMBSlaveReceivedCommand = [&](std::uint8_t cmd, bool query, std::uint16_t n) {
        seen = {cmd, query, n};
        const std::uint16_t v = e.MBGetWord();
        e.MBPutWord(static_cast<std::uint16_t>(v + 1));
        e.setMBSlaveErrorCode(129);
    };
    e.Receive(Binary(Frame({0x41, 7, 12, 0x34, 0x12})));
    EXPECT_EQ(seen, (std::vector<int>{12, 1, 2}));
    EXPECT_EQ(e.TakeWire(), Binary(Frame({0x81, 7, 129, 0x35, 0x12})));
    EXPECT_EQ(e.MBStatusString(), "Slave Error: #129");
    EXPECT_EQ(e.MBNumberOfRxFrames(), 0u);
}

TEST_F(Modes, SlaveDelayTimeHoldsTheAnswer) {
    Start(modeSlave);
    e.setMBSlaveDelayTime(50);
    e.Receive(Binary(Frame({0x01, 0, 0})));
    EXPECT_EQ(e.MBStatusNow(), stnSending);
    clock.advance(49);
    EXPECT_TRUE(e.wire.empty());
    clock.advance(1);
    EXPECT_EQ(e.sendTimes, (std::vector<std::int64_t>{1050}));
    EXPECT_EQ(e.MBStatusNow(), stnWaitingForCommand);
}

// ---- ASCII slave ------------------------------------------------------------------------

TEST_F(Modes, AsciiSlaveAnswers) {
    struct Case {
        const char* name;
        std::string request;
        std::string answer; // empty: none
        std::string statusText;
    };
    const Case cases[] = {
        {"version", Frame({1, 0, 250, 0}), Frame({1, 0, 250, 0, 0xE0, 0x07, 0x0A, 0x0B}), "OK"},
        {"count", Frame({1, 0, 253, 0, 0}), Frame({1, 0, 253, 0, 6, 0, 0, 0}), "OK"},
        {"count cleared", Frame({1, 0, 253, 0, 1}), Frame({1, 0, 253, 0, 0, 0, 0, 0}), "OK"},
        {"name", Frame({1, 0, 254, 0}), Frame({1, 0, 254, 0, 'M', 'B', ' ', 'S', 'l', 'a', 'v', 'e', 0}), "OK"},
        {"foreign id", Frame({1, 4, 250, 0}), Frame({1, 0, 250, 255}), "ID Error"},
        {"broadcast", Frame({0, 0, 250, 0}), "", "OK"},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        TMBManualClock c;
        TestEngine x(c);
        c.advance(1000);
        x.setMBMode(modeASCIISlave);
        x.Open();
        for (int i = 0; i < 5; ++i) {
            x.Receive(Ascii('M', Frame({1, 0, 255, 0})));
            x.TakeWire();
        }
        x.Receive(Ascii('M', k.request));
        EXPECT_EQ(x.MBStatusString(), k.statusText);
        if (k.answer.empty()) {
            EXPECT_TRUE(x.wire.empty());
        } else {
            EXPECT_EQ(x.TakeWire(), Ascii('S', k.answer));
            EXPECT_EQ(x.MBStatusNow(), stnWaitingForCommand);
        }
    }
}

TEST_F(Modes, AsciiSlaveAddressIsAWholeByte) {
    Start(modeASCIISlave);
    e.setMBSlaveOwnAddress(16); // low four bits 0, yet no broadcast
    e.Receive(Ascii('M', Frame({16, 0, 250, 0})));
    EXPECT_EQ(e.TakeWire(), Ascii('S', Frame({16, 0, 250, 0, 0xE0, 0x07, 0x0A, 0x0B})));
}

TEST_F(Modes, AsciiSlaveTimeOut) {
    int timeouts = 0;
    e.OnMBASCIISlaveTimeOut = [&] { ++timeouts; };
    Start(modeASCIISlave);
    clock.advance(999);
    EXPECT_EQ(timeouts, 0);
    e.Receive(Ascii('M', Frame({1, 0, 255, 0}))); // restarts it
    clock.advance(999);
    EXPECT_EQ(timeouts, 0);
    clock.advance(1);
    EXPECT_EQ(timeouts, 1);
    EXPECT_EQ(e.MBStatusNow(), stnTimeOut);
    EXPECT_EQ(e.MBStatus(), stTimeOut);
    clock.advance(5000);
    EXPECT_EQ(timeouts, 1); // once until the next request
    e.Receive(Ascii('M', Frame({1, 9, 255, 0}))); // a foreign ID does not restart it
    clock.advance(5000);
    EXPECT_EQ(timeouts, 1);
    e.setMBASCIISlaveTimeOut(0);
    e.Receive(Ascii('M', Frame({1, 0, 255, 0})));
    clock.advance(5000);
    EXPECT_EQ(timeouts, 1);
}

// ---- monitor -------------------------------------------------------------------------------

TEST_F(Modes, DiagnosticWatchesAndSends) {
    Start(modeDiagnostic);
    std::vector<int> frames;
    e.OnMBDiagnosticReceivedAFrame = [&](std::uint16_t n) { frames.push_back(n); };
    e.Receive(Binary(Frame({0x03, 0, 5, 1, 2})) + Binary(Frame({0x83, 0, 0, 9})) + Binary(Frame({0x83, 0})));
    EXPECT_EQ(frames, (std::vector<int>{2, 1}));
    EXPECT_EQ(e.MBNumberOfRxFrames(), 2u);
    EXPECT_TRUE(e.states.empty()); // stays Ready
    e.setMBMasterCommandToSlave(5);
    e.MBStartQuery(0);
    EXPECT_EQ(e.TakeWire(), Binary(Frame({0x01, 0, 5})));
    ASSERT_EQ(e.ends.size(), 1u);
    EXPECT_EQ(e.ends[0].status, stOK);
    EXPECT_FALSE(e.MBBusy());
    EXPECT_EQ(e.MBNumberOfTxFrames(), 1u);
    e.Close();
    e.MBStartQuery(0);
    EXPECT_EQ(e.ends.back().status, stClosedPort);
}

// ---- byte and string pipes -----------------------------------------------------------------------

TEST_F(Modes, ByteModeSendsAndCollects) {
    Start(modeByte);
    e.MBPutString("AT");
    e.MBStartQuery(0);
    EXPECT_EQ(e.TakeWire(), std::string("AT\0", 3));
    EXPECT_EQ(e.MBNumberOfTxFrames(), 3u);
    ASSERT_EQ(e.ends.size(), 1u);
    EXPECT_FALSE(e.MBBusy());

    e.Receive("ab");
    e.Receive("c"); // no handler: they accumulate
    EXPECT_EQ(e.MBReceivedDataNumber(), 3);
    EXPECT_EQ(e.MBNumberOfRxFrames(), 3u);
    EXPECT_EQ(e.MBGetByte(), 'a');
    std::vector<int> chunks;
    e.OnMBReceivedAByte = [&](std::uint16_t n) { chunks.push_back(n); };
    e.Receive("de");
    e.Receive("f");
    EXPECT_EQ(chunks, (std::vector<int>{5, 1}));
    e.MBSetRXReadIndex(1);
    EXPECT_EQ(e.MBGetByte(), 'f');
}

TEST_F(Modes, StringModeWaitsForItsStopByte) {
    Start(modeString);
    e.setMBStopByteInStringMode(13);
    std::vector<std::string> got;
    e.OnMBReceivedAString = [&](const std::string& s) { got.push_back(s); };
    e.Receive("early\r"); // nothing asked yet
    EXPECT_TRUE(got.empty());
    e.MBPutByte('?');
    e.MBStartQuery(0);
    EXPECT_EQ(e.TakeWire(), "?");
    EXPECT_EQ(e.MBNumberOfTxFrames(), 1u);
    e.Receive("O");
    e.Receive(std::string("K\rtail"));
    e.Receive("more\r");
    EXPECT_EQ(got, (std::vector<std::string>{"OK\r"}));
    EXPECT_EQ(e.MBReceivedDataNumber(), 3);
    EXPECT_EQ(e.MBNumberOfRxFrames(), 1u);
}

TEST_F(Modes, DelayedStartSendsInThePipeModes) {
    Start(modeByte);
    e.MBPutByte('x');
    e.MBStartQuery(30);
    clock.advance(30);
    EXPECT_EQ(e.TakeWire(), "x");
    EXPECT_EQ(e.ends.size(), 1u);
}

// ---- end to end ------------------------------------------------------------------------------

TEST_F(Modes, MasterTalksToSlaveThroughMemory) {
    for (bool ascii : {true, false}) {
        SCOPED_TRACE(ascii ? "ascii" : "binary");
        TMBManualClock c;
        TestEngine master(c), slave(c);
        c.advance(1000);
        master.setMBMode(ascii ? modeASCIIMaster : modeMaster);
        slave.setMBMode(ascii ? modeASCIISlave : modeSlave);
        slave.setMBSlaveOwnAddress(3);
        slave.setMBSlaveID(ascii ? 5 : 0);
        master.setMBMasterAddressToSlave(3);
        master.setMBMasterIDToSlave(ascii ? 5 : 0);
        master.Open();
        slave.Open();
        slave.OnMBSlaveReceivedCommand = [&](std::uint8_t, bool, std::uint16_t) {
            slave.MBPutSingle(slave.MBGetSingle() * 2);
        };
        int done = 0;
        master.onEnd = [&](TMBStatus s, const std::string&) {
            EXPECT_EQ(s, stOK);
            EXPECT_EQ(master.MBGetSingle(), 2.5f * static_cast<float>(done + 1) * 2);
            ++done;
        };
        for (int k = 1; k <= 20; ++k) {
            master.MBTXBufferClear();
            master.MBPutSingle(2.5f * static_cast<float>(k));
            master.setMBMasterCommandToSlave(7);
            master.MBStartQuery(20);
            c.advance(20);
            Pump(master, slave);
        }
        EXPECT_EQ(done, 20);
        EXPECT_EQ(master.MBNumberOfTxFrames(), 20u);
        EXPECT_EQ(slave.MBNumberOfRxFrames(), 20u);
        EXPECT_EQ(slave.MBNumberOfTxFrames(), 20u);
    }
}

} // namespace
