// Two real link components talking over a pair of pseudo-terminals in real
// time: the system's port and receive thread, Qt's precise timers and the
// event loop, a master driving transactions back to back from its end event
// and a slave answering from its command handler. Each run checks that no
// transaction is lost or mixed up and that retries and time-outs happen
// exactly where the line lost something, and nowhere else.
#include "link_rt_support.h"

#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <gtest/gtest.h>

#include <cstdlib>
#include <ostream>
#include <string>
#include <vector>

namespace {

using kvrt::TClock;
using kvrt::TFraming;
using Ms = std::chrono::milliseconds;

struct RunCase {
    const char* name;
    TMBMode masterMode;
    TMBMode slaveMode;
    TFraming framing;
    int transactions;
    int dropRequest;        // 0: the line loses nothing
    // MBMasterTimeOut. Low enough that a lost request costs little, high
    // enough that a loaded machine never makes an answer late.
    std::uint16_t timeOut;
};

struct RunResult {
    int ended = 0;
    int ok = 0;
    int timeOuts = 0;
    int otherStatus = 0;
    int wrongAnswers = 0;
    int retries = 0;          // extra tries over all transactions
    int retriedAt = 0;        // the transaction that needed them (the last one)
    long long retriedWaitMs = 0; // its sending time and time-out
    std::uint32_t served = 0; // requests the slave's handler saw
    int badRequests = 0;      // requests whose data the slave found wrong
    std::vector<TClock::time_point> endTimes;
};

void PrintTo(const RunCase& c, std::ostream* os) { *os << c.name; }

class LinkRealTime : public testing::TestWithParam<RunCase> {};

TEST_P(LinkRealTime, EveryTransactionArrivesOnceAndIntact) {
    const RunCase& c = GetParam();
    kvrt::TLinkPair link;
    ASSERT_TRUE(link.Open(c.masterMode, c.slaveMode, c.framing, c.dropRequest)) << link.error;
    kvrt::TRtMB& master = link.master;
    master.setMBMasterTimeOut(c.timeOut);

    RunResult r;
    kvrt::InstallEchoSlave(link.slave, r.served, r.badRequests);
    std::uint32_t k = 1;
    master.OnMBMasterEndOfEvent = [&](TMBStatus status, const std::string&) {
        r.endTimes.push_back(TClock::now());
        ++r.ended;
        if (status == stOK) {
            ++r.ok;
            // The dropped request never reached the slave, so its count
            // stays in step with k.
            if (!kvrt::CheckEchoAnswer(master, k, k))
                ++r.wrongAnswers;
        } else if (status == stTimeOut) {
            ++r.timeOuts;
        } else {
            ++r.otherStatus;
        }
        if (master.MBMasterTryNumber() > 1) {
            r.retries += master.MBMasterTryNumber() - 1;
            r.retriedAt = static_cast<int>(k);
            r.retriedWaitMs = master.MBCalculatedTimeOfSending() + master.MBMasterTimeOut();
        }
        if (++k <= static_cast<std::uint32_t>(c.transactions)) {
            kvrt::PutEchoRequest(master, k);
            master.MBStartQuery(0);
        }
    };

    const auto t0 = TClock::now();
    kvrt::PutEchoRequest(master, k);
    master.MBStartQuery(0);
    const bool finished = kvrt::WaitUntil([&] { return r.ended >= c.transactions; }, 60000);
    const auto wall = std::chrono::duration_cast<Ms>(TClock::now() - t0);
    const kvrt::TRelayCounts line = link.relay->Counts();
    const int tryMax = master.MBMasterTryNumberMax(); // closing resets it
    link.Close();
    std::printf("%s: %d transactions in %lld ms\n", c.name, r.ended, static_cast<long long>(wall.count()));

    ASSERT_TRUE(finished) << r.ended << " of " << c.transactions << " ended";
    EXPECT_EQ(r.ended, c.transactions);
    EXPECT_EQ(r.ok, c.transactions);
    EXPECT_EQ(r.timeOuts, 0);
    EXPECT_EQ(r.otherStatus, 0);
    EXPECT_EQ(r.wrongAnswers, 0);
    EXPECT_EQ(r.served, static_cast<std::uint32_t>(c.transactions));
    EXPECT_EQ(r.badRequests, 0);
    EXPECT_FALSE(line.failed);
    EXPECT_EQ(line.answers, c.transactions);

    const int lost = c.dropRequest > 0 ? 1 : 0;
    EXPECT_EQ(line.requestsDropped, lost);
    EXPECT_EQ(line.requests, c.transactions + lost);
    EXPECT_EQ(r.retries, lost);
    EXPECT_EQ(tryMax, 1 + lost);
    // Retries are not new frames: the counters count transactions.
    EXPECT_EQ(master.MBNumberOfTxFrames(), static_cast<std::uint32_t>(c.transactions));
    EXPECT_EQ(master.MBNumberOfRxFrames(), static_cast<std::uint32_t>(c.transactions));
    EXPECT_EQ(link.slave.MBNumberOfRxFrames(), static_cast<std::uint32_t>(c.transactions));
    EXPECT_EQ(link.slave.MBNumberOfTxFrames(), static_cast<std::uint32_t>(c.transactions));

    if (lost) {
        EXPECT_EQ(r.retriedAt, c.dropRequest);
        // The lost request cost one wait for the answer: never less than the
        // sending time and the time-out (a precise timer does not fire early;
        // a millisecond is left for its rounding), and not much more.
        const auto i = static_cast<std::size_t>(c.dropRequest - 1);
        ASSERT_LT(i, r.endTimes.size());
        ASSERT_GT(i, 0u);
        const long long wait = std::chrono::duration_cast<Ms>(r.endTimes[i] - r.endTimes[i - 1]).count();
        std::printf("%s: the lost request took %lld ms (answer wait %lld ms)\n", c.name, wait,
                    r.retriedWaitMs);
        EXPECT_GE(wait, r.retriedWaitMs - 1);
        EXPECT_LT(wait, r.retriedWaitMs + 5000);
    }
}

INSTANTIATE_TEST_SUITE_P(
    PtyPair, LinkRealTime,
    testing::Values(RunCase{"ASCII", modeASCIIMaster, modeASCIISlave, TFraming::ascii, 1000, 0, 1000},
                    RunCase{"Binary", modeMaster, modeSlave, TFraming::binary, 1000, 0, 1000},
                    RunCase{"ASCIILostRequest", modeASCIIMaster, modeASCIISlave, TFraming::ascii, 100, 10, 200},
                    RunCase{"BinaryLostRequest", modeMaster, modeSlave, TFraming::binary, 100, 10, 200}),
    [](const testing::TestParamInfo<RunCase>& info) { return std::string(info.param.name); });

// The program's timers in real time. A single shot restarted a little later
// while it waits, or stopped, leaves the kernel's timer as it is, and a
// later expiry sets it again or finds it stopped: it must still fire once,
// never before its last start plus its interval; a restart to an earlier
// moment, and a stop, must still take effect, also a stop whose kernel
// timer goes off before the next start.
struct TimerCase {
    const char* name;
    int restartAtMs;  // -1: no restart
    int restartToMs;  // the interval of the restart
    bool stopAfter;   // stopped right after the restart
    int expectedMs;   // from the first start; -1: never fires
    int stopAtMs = -1; // stopped at this moment too (before the restart)
};

class ProgramTimer : public testing::TestWithParam<TimerCase> {};

TEST_P(ProgramTimer, FiresOnceAndNeverEarly) {
    const TimerCase& c = GetParam();
    TMBQtTimerFactory factory;
    QEventLoop loop;
    std::vector<TClock::duration> fired;
    const auto start = TClock::now();
    auto timer = factory.createTimer(60, true, [&] { fired.push_back(TClock::now() - start); });
    timer->start();
    if (c.stopAtMs >= 0)
        QTimer::singleShot(c.stopAtMs, &loop, [&] { timer->stop(); });
    if (c.restartAtMs >= 0) {
        QTimer::singleShot(c.restartAtMs, &loop, [&] {
            timer->start(c.restartToMs);
            if (c.stopAfter)
                timer->stop();
        });
    }
    QTimer::singleShot(400, &loop, &QEventLoop::quit); // long after every due time
    loop.exec();
    if (c.expectedMs < 0) {
        EXPECT_TRUE(fired.empty());
        return;
    }
    ASSERT_EQ(fired.size(), 1u);
    EXPECT_GE(fired[0], Ms(c.expectedMs));
    EXPECT_LT(fired[0], Ms(c.expectedMs + 150)); // a loaded machine's lateness, generously
    EXPECT_FALSE(timer->isActive());
}

INSTANTIATE_TEST_SUITE_P(
    Fd, ProgramTimer,
    testing::Values(TimerCase{"Plain", -1, 0, false, 60}, TimerCase{"RestartedLater", 30, 60, false, 90},
                    TimerCase{"RestartedALittleLater", 8, 60, false, 68},
                    TimerCase{"RestartedEarlier", 10, 5, false, 15}, TimerCase{"StoppedAfterRestart", 30, 60, true, -1},
                    TimerCase{"StoppedAndStartedSoon", 12, 50, false, 62, 10},
                    TimerCase{"StoppedPastItsTimeThenStarted", 100, 60, false, 160, 10}),
    [](const testing::TestParamInfo<TimerCase>& info) { return std::string(info.param.name); });

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
