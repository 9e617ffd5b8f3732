// Master transactions: starts, answers, retries, time-outs, the port closing,
// the one-second statistics.
#include "core_support.h"

#include <gtest/gtest.h>

using namespace coretest;

namespace {

const std::string kAnswerOK = Ascii('S', Frame({1, 0, 5, 0, 0x2A}));

struct Fixture : testing::Test {
    TMBManualClock clock;
    TestEngine e{clock};
    // Past the deferred start-up (which assigns the mode again), port open.
    void Start(TMBMode mode = modeASCIIMaster) {
        clock.advance(1000);
        e.setMBMode(mode);
        e.Open();
        e.setMBMasterCommandToSlave(5);
        e.states.clear();
        e.busies.clear();
    }
};

using Engine = Fixture;

TEST_F(Engine, CreatedClosedAndOpenedReady) {
    EXPECT_EQ(e.MBStatusNow(), stnPortError);
    EXPECT_EQ(e.MBStatusNowString(), "Port Error");
    EXPECT_TRUE(e.MBBusy());
    EXPECT_EQ(e.MBStatus(), stOK);
    EXPECT_EQ(e.MBStatusString(), "OK");
    EXPECT_EQ(e.MBCaption(), "ASCII Master v2016.10.11.");
    EXPECT_EQ(e.MBBaud(), baud115200);
    EXPECT_FALSE(e.MBUserTimerActive());
    e.Open();
    EXPECT_EQ(e.MBStatusNow(), stnReady);
    EXPECT_FALSE(e.MBBusy());
    EXPECT_TRUE(e.MBPortOpen());
    EXPECT_EQ(e.lastStatusShown, "Last status: OK");
}

TEST_F(Engine, SendingTime) {
    struct Case {
        TMBBaud baud;
        int data;
        std::uint32_t want;
    };
    const Case cases[] = {
        {baud115200, 0, 2},    // 0.87 -> 1, + 1
        {baud009600, 10, 32},  // 31.25 -> 31, + 1
        {baud019200, 7, 13},   // 12.5 -> 12 (ties to even), + 1
        {baud019200, 31, 39},  // 37.5 -> 38, + 1
        {baud019200, 10, 17},  // 15.625 -> 16, + 1
        {baud000075, 8187, 2184534}, // beyond a Word: kept whole
    };
    for (const auto& k : cases) {
        e.setMBBaud(k.baud);
        e.setMBDataNumberToSend(static_cast<std::uint16_t>(k.data));
        e.MBCalcTimeOfSending();
        EXPECT_EQ(e.MBCalculatedTimeOfSending(), k.want) << k.baud << " " << k.data;
    }
}

TEST_F(Engine, DelayedStartSendsOnceTheDelayHasPassed) {
    Start();
    e.MBStartQuery(20);
    clock.advance(19);
    EXPECT_TRUE(e.wire.empty());
    clock.advance(1);
    EXPECT_EQ(e.TakeWire(), "M010005000288;");
    EXPECT_EQ(e.MBStatusNow(), stnWaitingForAnswer);
    EXPECT_TRUE(e.MBBusy());
    EXPECT_EQ(e.MBNumberOfTxFrames(), 1u);
    EXPECT_EQ(e.MBMasterTryNumber(), 1);
    EXPECT_EQ(e.MBAnswerTimer().interval(), 1002);
    EXPECT_EQ(e.requests, (std::vector<std::pair<int, int>>{{1, 5}}));
    e.Receive(kAnswerOK);
    ASSERT_EQ(e.ends.size(), 1u);
    EXPECT_EQ(e.ends[0].status, stOK);
    EXPECT_EQ(e.ends[0].text, "OK");
    EXPECT_EQ(e.MBStatusNow(), stnReady);
    EXPECT_FALSE(e.MBBusy());
    EXPECT_FALSE(e.MBAnswerTimer().isActive());
    EXPECT_EQ(e.MBNumberOfRxFrames(), 1u);
    EXPECT_EQ(e.MBGetByte(), 0x2A);
    EXPECT_EQ(e.rid, "000");
    EXPECT_EQ(e.states, (std::vector<TMBStatusNow>{stnSending, stnWaitingForAnswer, stnReady}));
    EXPECT_EQ(e.busies, (std::vector<bool>{true, false}));
}

// Every row of the master state table, from a given starting state.
struct Row {
    const char* name;
    TMBMode mode;
    std::function<void(TestEngine&, TMBManualClock&)> before; // brings it into the row's state
    std::function<void(TestEngine&, TMBManualClock&)> event;
    TMBStatusNow state;
    bool busy;
    std::vector<TMBStatus> ends; // raised by the event
    TMBStatus status;
};

void WaitForAnswer(TestEngine& e, TMBManualClock&) { e.MBStartQuery(0); }
void TimedOut(TestEngine& e, TMBManualClock& c) {
    e.setMBMasterMaxTryNumber(1);
    e.MBStartQuery(0);
    c.advance(1002);
}
const std::string kBinaryAnswer = Binary(Frame({0x81, 0, 0, 9}));

TEST_F(Engine, StateTable) {
    const auto none = [](TestEngine&, TMBManualClock&) {};
    const Row rows[] = {
        {"start 0", modeASCIIMaster, none, WaitForAnswer, stnWaitingForAnswer, true, {}, stOK},
        {"start d", modeASCIIMaster, none, [](TestEngine& e, TMBManualClock&) { e.MBStartQuery(5); }, stnReady, false, {}, stOK},
        {"delay elapses", modeASCIIMaster, [](TestEngine& e, TMBManualClock&) { e.MBStartQuery(5); },
         [](TestEngine&, TMBManualClock& c) { c.advance(5); }, stnWaitingForAnswer, true, {}, stOK},
        {"broadcast", modeASCIIMaster, [](TestEngine& e, TMBManualClock&) { e.setMBMasterAddressToSlave(0); },
         WaitForAnswer, stnReady, false, {stOK}, stOK},
        {"port not open", modeASCIIMaster, [](TestEngine& e, TMBManualClock&) { e.Close(); e.ends.clear(); },
         WaitForAnswer, stnPortError, true, {stClosedPort}, stClosedPort},
        {"write fails", modeASCIIMaster, [](TestEngine& e, TMBManualClock&) { e.writesBeforeFailure = 3; },
         WaitForAnswer, stnPortError, true, {stClosedPort}, stClosedPort},
        {"waiting, bad byte", modeASCIIMaster, WaitForAnswer,
         [](TestEngine& e, TMBManualClock&) { e.Receive("x"); }, stnWaitingForAnswer, true, {}, stOK},
        {"waiting, binary start", modeMaster, WaitForAnswer,
         [](TestEngine& e, TMBManualClock&) { e.Receive(kBinaryAnswer.substr(0, 2)); }, stnReceiving, true, {}, stOK},
        {"waiting, answer", modeASCIIMaster, WaitForAnswer,
         [](TestEngine& e, TMBManualClock&) { e.Receive(kAnswerOK); }, stnReady, false, {stOK}, stOK},
        {"receiving, answer", modeMaster, [](TestEngine& e, TMBManualClock& c) { WaitForAnswer(e, c); e.Receive(kBinaryAnswer.substr(0, 2)); },
         [](TestEngine& e, TMBManualClock&) { e.Receive(kBinaryAnswer.substr(2)); }, stnReady, false, {stOK}, stOK},
        {"timer, tries left", modeASCIIMaster, WaitForAnswer,
         [](TestEngine&, TMBManualClock& c) { c.advance(1002); }, stnWaitingForAnswer, true, {}, stOK},
        {"receiving, timer", modeMaster, [](TestEngine& e, TMBManualClock& c) { WaitForAnswer(e, c); e.Receive(kBinaryAnswer.substr(0, 2)); },
         [](TestEngine&, TMBManualClock& c) { c.advance(1002); }, stnWaitingForAnswer, true, {}, stOK},
        {"timer, last try", modeASCIIMaster, [](TestEngine& e, TMBManualClock& c) { e.setMBMasterMaxTryNumber(1); WaitForAnswer(e, c); },
         [](TestEngine&, TMBManualClock& c) { c.advance(1002); }, stnTimeOut, false, {stTimeOut}, stTimeOut},
        {"ready, bad byte", modeASCIIMaster, none,
         [](TestEngine& e, TMBManualClock&) { e.Receive("q"); }, stnWaitingForAnswer, false, {}, stOK},
        {"timed out, bad byte", modeASCIIMaster, TimedOut,
         [](TestEngine& e, TMBManualClock&) { e.Receive("q"); }, stnWaitingForAnswer, false, {}, stTimeOut},
        {"ready, answer", modeASCIIMaster, none,
         [](TestEngine& e, TMBManualClock&) { e.Receive(kAnswerOK); }, stnReady, false, {stOK}, stOK},
        {"timed out, late answer", modeASCIIMaster, TimedOut,
         [](TestEngine& e, TMBManualClock&) { e.Receive(kAnswerOK); }, stnReady, false, {stOK}, stOK},
        {"busy, port closed", modeASCIIMaster, WaitForAnswer,
         [](TestEngine& e, TMBManualClock&) { e.Close(); }, stnPortError, true, {stClosedPort}, stClosedPort},
        {"busy, port closed (binary)", modeMaster, WaitForAnswer,
         [](TestEngine& e, TMBManualClock&) { e.Close(); }, stnPortError, true, {stClosedPort}, stClosedPort},
        {"idle, port closed", modeASCIIMaster, none,
         [](TestEngine& e, TMBManualClock&) { e.Close(); }, stnPortError, true, {}, stClosedPort},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        TMBManualClock c;
        TestEngine x(c);
        c.advance(1000);
        x.setMBMode(r.mode);
        x.Open();
        x.setMBMasterCommandToSlave(5);
        r.before(x, c);
        x.ends.clear();
        r.event(x, c);
        EXPECT_EQ(x.MBStatusNow(), r.state);
        EXPECT_EQ(x.MBBusy(), r.busy);
        EXPECT_EQ(x.MBStatus(), r.status);
        std::vector<TMBStatus> got;
        for (const auto& end : x.ends)
            got.push_back(end.status);
        EXPECT_EQ(got, r.ends);
    }
}

TEST_F(Engine, NoAnswerMeansFiveSendsThenTimeOut) {
    Start();
    e.MBStartQuery(0);
    clock.advance(10000);
    EXPECT_EQ(e.sendTimes, (std::vector<std::int64_t>{1000, 2002, 3004, 4006, 5008}));
    ASSERT_EQ(e.ends.size(), 1u);
    EXPECT_EQ(e.ends[0].at, 6010);
    EXPECT_EQ(e.ends[0].text, "Time Out");
    EXPECT_EQ(e.MBStatusNow(), stnTimeOut);
    EXPECT_EQ(e.MBNumberOfTxFrames(), 1u);
    EXPECT_EQ(e.MBMasterTryNumberMax(), 5);
    EXPECT_EQ(e.rid, "---");
    EXPECT_EQ(e.lastStatusShown, "Last status: Time Out");
    // The same request every time.
    const std::string one = "M010005000288;";
    EXPECT_EQ(e.TakeWire(), one + one + one + one + one);
}

TEST_F(Engine, MaxTryNumberClampsAndCounts) {
    const std::pair<int, int> cases[] = {{0, 1}, {1, 1}, {3, 3}, {5, 5}, {9, 5}};
    for (auto [set, want] : cases) {
        TMBManualClock c;
        TestEngine x(c);
        c.advance(1000);
        x.Open();
        x.setMBMasterMaxTryNumber(static_cast<std::uint8_t>(set));
        EXPECT_EQ(x.MBMasterMaxTryNumber(), want);
        x.MBStartQuery(0);
        c.advance(20000);
        EXPECT_EQ(x.sendTimes.size(), static_cast<std::size_t>(want));
        ASSERT_EQ(x.ends.size(), 1u);
        EXPECT_EQ(x.ends[0].at, 1000 + want * 1002);
    }
}

TEST_F(Engine, DeviceAnsweringOnlyTheThirdSend) {
    Start();
    e.MBStartQuery(0);
    clock.advance(2004);
    EXPECT_EQ(e.sendTimes.size(), 3u);
    EXPECT_EQ(e.tries, 3);
    e.Receive(kAnswerOK);
    ASSERT_EQ(e.ends.size(), 1u);
    EXPECT_EQ(e.ends[0].status, stOK);
    EXPECT_EQ(e.MBMasterTryNumber(), 3);
    EXPECT_GE(e.MBMasterTryNumberMax(), 3);
    EXPECT_EQ(e.MBNumberOfTxFrames(), 1u);
    EXPECT_EQ(e.MBNumberOfRxFrames(), 1u);
    // The next transaction starts at try 1 and keeps the maximum.
    e.MBStartQuery(0);
    EXPECT_EQ(e.tries, 1);
    EXPECT_EQ(e.MBMasterTryNumberMax(), 3);
}

TEST_F(Engine, AnswerCodesAndTheirTexts) {
    struct Case {
        TMBMode mode;
        std::uint8_t idToSlave;
        std::string answer;
        TMBStatus status;
        std::string text;
        std::uint32_t rxFrames;
    };
    const Case cases[] = {
        {modeASCIIMaster, 0, Ascii('S', Frame({1, 9, 5, 7})), stOK, "OK", 1},
        {modeASCIIMaster, 0, Ascii('S', Frame({1, 0, 5, 253})), stOK, "OK", 1},
        {modeASCIIMaster, 0, Ascii('S', Frame({1, 0, 5, 254})), stSlaveError, "Unknown Command", 1},
        {modeASCIIMaster, 0, Ascii('S', Frame({1, 0, 5, 255})), stSlaveError, "ID Error", 1},
        {modeASCIIMaster, 3, Ascii('S', Frame({1, 4, 5, 0})), stSlaveError, "ID Error", 1},
        {modeASCIIMaster, 3, Ascii('S', Frame({1, 3, 5, 0})), stOK, "OK", 1},
        {modeMaster, 0, Binary(Frame({0x81, 0, 128})), stOK, "OK", 1},
        {modeMaster, 0, Binary(Frame({0x81, 0, 129})), stSlaveError, "Slave Error: #129", 0},
        {modeMaster, 5, Binary(Frame({0x81, 0, 254})), stSlaveError, "Unknown Command", 0},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.text);
        TMBManualClock c;
        TestEngine x(c);
        x.setMBMode(k.mode);
        x.Open();
        x.setMBMasterIDToSlave(k.idToSlave);
        x.MBStartQuery(0);
        x.Receive(k.answer);
        ASSERT_EQ(x.ends.size(), 1u);
        EXPECT_EQ(x.ends[0].status, k.status);
        EXPECT_EQ(x.ends[0].text, k.text);
        EXPECT_EQ(x.MBStatusString(), k.text);
        EXPECT_EQ(x.MBNumberOfRxFrames(), k.rxFrames);
        EXPECT_EQ(x.MBStatusNow(), stnReady);
        EXPECT_FALSE(x.MBBusy());
        EXPECT_FALSE(x.MBAnswerTimer().isActive());
    }
}

TEST_F(Engine, IdMismatchIsRecordedInTheAnswer) {
    Start();
    e.setMBMasterIDToSlave(3);
    e.MBStartQuery(0);
    e.Receive(Ascii('S', Frame({1, 4, 5, 0, 0x11})));
    EXPECT_EQ(e.MBAnswerBytes()[3], 255);
    EXPECT_EQ(e.MBGetByte(), 0x11); // the data stay readable
    EXPECT_EQ(e.rid, "004");
}

TEST_F(Engine, NewStartAbandonsTheOutstandingOne) {
    Start();
    e.MBStartQuery(0);
    clock.advance(1500); // second send out
    EXPECT_EQ(e.MBMasterTryNumber(), 2);
    e.MBStartQuery(0);
    EXPECT_EQ(e.MBMasterTryNumber(), 1);
    EXPECT_EQ(e.MBNumberOfTxFrames(), 2u);
    EXPECT_EQ(e.sendTimes.back(), 2500);
    EXPECT_EQ(e.MBAnswerTimer().remainingTime(), 1002);
    EXPECT_TRUE(e.ends.empty());
}

TEST_F(Engine, BroadcastEndsRightAfterSending) {
    Start();
    e.setMBMasterAddressToSlave(0);
    e.MBStartQuery(0);
    ASSERT_EQ(e.ends.size(), 1u);
    EXPECT_EQ(e.ends[0].status, stOK);
    EXPECT_EQ(e.MBNumberOfTxFrames(), 1u);
    EXPECT_EQ(e.rid, "---");
    EXPECT_FALSE(e.MBAnswerTimer().isActive());
    EXPECT_EQ(e.wire.substr(0, 3), "M00");
}

TEST_F(Engine, FailedResendEndsTheTransaction) {
    Start();
    e.MBStartQuery(0);
    e.writesFail = true;
    clock.advance(1002);
    ASSERT_EQ(e.ends.size(), 1u);
    EXPECT_EQ(e.ends[0].status, stClosedPort);
    EXPECT_EQ(e.ends[0].text, "Closed Port");
    EXPECT_EQ(e.MBStatusNow(), stnPortError);
    EXPECT_TRUE(e.MBBusy());
    EXPECT_FALSE(e.MBAnswerTimer().isActive());
    clock.advance(10000);
    EXPECT_EQ(e.ends.size(), 1u);
}

TEST_F(Engine, PortClosedDuringTheDelayEndsAtTheStart) {
    Start();
    e.MBStartQuery(20);
    e.Close();
    EXPECT_TRUE(e.ends.empty()); // it was not busy yet
    clock.advance(20);
    ASSERT_EQ(e.ends.size(), 1u);
    EXPECT_EQ(e.ends[0].status, stClosedPort);
    EXPECT_TRUE(e.wire.empty());
}

TEST_F(Engine, SecondTimerRunsStartUpThenStatistics) {
    EXPECT_TRUE(e.MBDeferredStartPending());
    Start();
    EXPECT_EQ(e.deferredStarts, 1);
    EXPECT_FALSE(e.MBDeferredStartPending());
    clock.advance(0);
    for (int k = 0; k < 3; ++k) { // three answers in the first second
        e.MBStartQuery(0);
        e.Receive(kAnswerOK);
    }
    clock.advance(1000);
    EXPECT_EQ(e.MBSpeed(), 3u);
    EXPECT_EQ(e.MBSpeedMax(), 3u);
    EXPECT_EQ(e.MBLowestSpeed(), 0u);
    EXPECT_EQ(e.graphDraws, 1);
    e.MBStartQuery(0);
    e.Receive(kAnswerOK);
    clock.advance(1000);
    EXPECT_EQ(e.MBSpeed(), 1u);
    EXPECT_EQ(e.MBSpeedMax(), 3u);
    e.MBClearCounters();
    EXPECT_EQ(e.MBSpeedMax(), 1u);
    EXPECT_EQ(e.MBLowestSpeed(), 1u);
    EXPECT_EQ(e.MBNumberOfTxFrames(), 0u);
    EXPECT_EQ(e.MBNumberOfRxFrames(), 0u);
    EXPECT_EQ(e.MBMasterTryNumberMax(), 0);
    EXPECT_EQ(e.tries, 0);
    e.Close();
    const int draws = e.graphDraws;
    clock.advance(1000);
    EXPECT_EQ(e.MBSpeed(), 0u);
    EXPECT_EQ(e.MBLowestSpeed(), 1u); // not moved while closed
    EXPECT_EQ(e.graphDraws, draws);
}

TEST_F(Engine, OpeningRestartsTheSecond) {
    clock.advance(1500);
    e.Open();
    EXPECT_EQ(e.MBFramesThisSecond(), 0u);
    clock.advance(999);
    const int shows = e.speedShows;
    clock.advance(1);
    EXPECT_EQ(e.speedShows, shows + 1);
}

TEST_F(Engine, UserTimerIsArmedOnlyOnRequest) {
    int fired = 0;
    e.OnMBUserTimeOut = [&] { ++fired; };
    clock.advance(5000);
    EXPECT_EQ(fired, 0);
    e.MBStartUserTimer();
    clock.advance(1000);
    EXPECT_EQ(fired, 1);
    clock.advance(5000);
    EXPECT_EQ(fired, 1);
}

TEST_F(Engine, PollCycleFromTheEndEvent) {
    // The application's loop: every end event starts the next request.
    Start();
    int answered = 0;
    e.onEnd = [&](TMBStatus s, const std::string&) {
        if (s == stOK && ++answered < 100)
            e.MBStartQuery(20);
    };
    e.MBStartQuery(20);
    for (int k = 0; k < 100; ++k) {
        ASSERT_TRUE(clock.advanceUntil([&] { return !e.wire.empty(); }, 100));
        e.TakeWire();
        e.Receive(kAnswerOK);
    }
    EXPECT_EQ(answered, 100);
    EXPECT_EQ(e.MBNumberOfTxFrames(), 100u);
    EXPECT_EQ(clock.now(), 3000);
}

} // namespace
