// The link without widgets: its port steps on the in-memory port and the
// manual clock. One write per frame, a write the port does not take whole
// closes as a lost device, a hang-up reported once, no modem lines without a
// handler, and the wire observer's view.
#include "MBLink.h"
#include "core_support.h"
#include "MBMemoryPort.h"
#include "MBTimer.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

QByteArray Answer() { return QByteArray::fromStdString(coretest::Ascii('S', coretest::Frame({1, 0, 5, 0, 0x2A}))); }

// A port whose driver queue takes at most `room` bytes of a write once
// `room` is set (-1: all of it).
class TNarrowPort : public TMBMemoryPort {
public:
    qint64 room = -1;
    qint64 Write(const char* data, qint64 size) override {
        if (room < 0 || !IsOpen())
            return TMBMemoryPort::Write(data, size);
        return room == 0 ? 0 : TMBMemoryPort::Write(data, std::min(size, room));
    }
};

struct TWire : TMBWireObserver {
    std::vector<std::string> lines;
    void Sent(std::string_view b, int n) override { lines.push_back("TX" + std::to_string(n) + " " + std::string(b)); }
    void Received(std::string_view b) override { lines.push_back("RX " + std::string(b)); }
    void TimedOut(int n) override { lines.push_back("T/O " + std::to_string(n)); }
    void Note(const std::string& t) override { lines.push_back("## " + t); }
};

struct Link : testing::Test {
    TMBManualClock clock;
    TNarrowPort* port = nullptr;
    std::vector<QByteArray> writes; // each write the port got
    std::unique_ptr<TMBLink> link;
    std::vector<TMBStatus> ends;
    std::vector<bool> openAtEnd;
    int lost = 0;
    TWire wire;

    Link() {
        auto p = std::make_unique<TNarrowPort>();
        port = p.get();
        port->OnWritten = [this](const QByteArray& b) { writes.push_back(b); };
        link = std::make_unique<TMBLink>(&clock, std::move(p));
        link->OnMBMasterEndOfEvent = [this](TMBStatus s, const std::string&) {
            ends.push_back(s);
            openAtEnd.push_back(link->MBPortOpen());
        };
        link->OnMBDeviceLost = [this] { ++lost; };
        link->MBSetWireObserver(&wire);
    }
    void Poll() {
        link->setMBMasterCommandToSlave(1);
        link->MBTXBufferClear();
        link->MBPutWord(0x0102);
        link->MBStartQuery(0);
    }
};

TEST_F(Link, OpensAtItsRateAndClosesWithTheEndOfWhatWasUnderWay) {
    port->SetOpenError(QStringLiteral("Device or resource busy"));
    EXPECT_FALSE(link->MBOpenLink(QStringLiteral("/dev/ttyMEM0")));
    EXPECT_FALSE(link->MBPortOpen());
    EXPECT_EQ(link->MBStatus(), stClosedPort);
    EXPECT_EQ(link->MBLastOpenError(), "TMB : cannot open /dev/ttyMEM0\rDevice or resource busy");
    EXPECT_TRUE(ends.empty());

    port->SetOpenError({});
    link->setMBBaud(baud009600);
    ASSERT_TRUE(link->MBOpenLink(QStringLiteral("/dev/ttyMEM0")));
    EXPECT_EQ(port->OpenedRate(), 9600u);
    EXPECT_EQ(link->Port(), "/dev/ttyMEM0");
    EXPECT_EQ(link->MBStatus(), stOK);
    EXPECT_EQ(wire.lines, std::vector<std::string>{"## port /dev/ttyMEM0 open at 9600 baud"});

    Poll();
    link->MBCloseLink();
    EXPECT_EQ(ends, std::vector<TMBStatus>{stClosedPort});
    EXPECT_FALSE(port->IsOpen());
    link->MBCloseLink(); // closed already
    EXPECT_EQ(ends.size(), 1u);
    EXPECT_EQ(lost, 0);

    // Opening an open link closes it first; the destructor then says nothing.
    ASSERT_TRUE(link->MBOpenLink(QStringLiteral("/dev/ttyMEM1")));
    Poll();
    ASSERT_TRUE(link->MBOpenLink(QStringLiteral("/dev/ttyMEM0")));
    EXPECT_EQ(ends.size(), 2u);
    Poll();
    link.reset();
    EXPECT_EQ(ends.size(), 2u);
}

// Every frame, also a retry, goes to the port in one write; the observer
// sees those bytes with their try, each try that got no answer, and what
// came back.
TEST_F(Link, OneWritePerFrameAndTheObserverSeesTheWire) {
    ASSERT_TRUE(link->MBOpenLink(QStringLiteral("/dev/ttyMEM0")));
    link->setMBMasterMaxTryNumber(3);
    link->setMBMasterTimeOut(100);
    wire.lines.clear();
    Poll();
    clock.advance(2 * 102);
    ASSERT_EQ(writes.size(), 3u);
    const QByteArray request = writes[0];
    EXPECT_TRUE(request.startsWith("M01") && request.endsWith(';')) << request.constData();
    EXPECT_EQ(writes[1], request);
    EXPECT_EQ(writes[2], request);
    port->Push(Answer());
    ASSERT_EQ(ends, std::vector<TMBStatus>{stOK});
    Poll();
    clock.advance(3 * 102);
    EXPECT_EQ(ends, (std::vector<TMBStatus>{stOK, stTimeOut}));
    EXPECT_EQ(writes.size(), 6u);

    const std::string r = request.toStdString(), a = Answer().toStdString();
    EXPECT_EQ(wire.lines, (std::vector<std::string>{"TX1 " + r, "T/O 1", "TX2 " + r, "T/O 2", "TX3 " + r, "RX " + a,
                                                    "TX1 " + r, "T/O 1", "TX2 " + r, "T/O 2", "TX3 " + r, "T/O 3"}));
}

// A write the port cannot take whole means the device is gone: the link
// closes there and then, so the transaction ends once, with the port
// closed, and a hang-up noticed later is not a second loss.
TEST_F(Link, AShortWriteClosesAsADeviceGone) {
    struct Case {
        const char* what;
        qint64 room;   // bytes the queue takes (-1: all)
        bool hungUp;   // the device vanished before the write
        const char* note;
    } cases[] = {
        {"queue takes part", 10, false, "## port /dev/ttyMEM0 took 10 of 18 bytes: the device is gone"},
        {"queue takes none", 0, false, "## port /dev/ttyMEM0 took 0 of 18 bytes: the device is gone"},
        {"write fails", -1, true, "## port /dev/ttyMEM0 took 0 of 18 bytes: the device is gone"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ends.clear();
        openAtEnd.clear();
        lost = 0;
        port->room = -1;
        ASSERT_TRUE(link->MBOpenLink(QStringLiteral("/dev/ttyMEM0")));
        wire.lines.clear();
        port->room = c.room;
        if (c.hungUp)
            port->HangUp(); // its notice waits in the event loop
        Poll();
        EXPECT_EQ(ends, std::vector<TMBStatus>{stClosedPort});
        EXPECT_EQ(openAtEnd, std::vector<bool>{false});
        EXPECT_EQ(lost, 1);
        EXPECT_FALSE(link->MBPortOpen());
        EXPECT_FALSE(port->IsOpen());
        EXPECT_EQ(link->MBStatusNow(), stnPortError);
        ASSERT_FALSE(wire.lines.empty());
        EXPECT_EQ(wire.lines.back(), c.note);
        QCoreApplication::processEvents();
        EXPECT_EQ(ends.size(), 1u);
        EXPECT_EQ(lost, 1);
    }
}

// A hang-up closes the link from the event loop and is reported once; one
// that belongs to an earlier open is ignored.
TEST_F(Link, AHangUpIsReportedOnceAndOnlyForItsOwnOpen) {
    ASSERT_TRUE(link->MBOpenLink(QStringLiteral("/dev/ttyMEM0")));
    Poll();
    port->HangUp();
    EXPECT_TRUE(link->MBPortOpen()); // not under the port's own call
    QCoreApplication::processEvents();
    EXPECT_FALSE(link->MBPortOpen());
    EXPECT_FALSE(port->IsOpen());
    EXPECT_EQ(ends, std::vector<TMBStatus>{stClosedPort});
    EXPECT_EQ(lost, 1);
    EXPECT_EQ(wire.lines.back(), "## port /dev/ttyMEM0 hung up");
    port->HangUp();
    QCoreApplication::processEvents();
    EXPECT_EQ(lost, 1);

    // The notice of this open is still queued when the link opens again.
    ASSERT_TRUE(link->MBOpenLink(QStringLiteral("/dev/ttyMEM0")));
    port->HangUp();
    ASSERT_TRUE(link->MBOpenLink(QStringLiteral("/dev/ttyMEM0")));
    QCoreApplication::processEvents();
    EXPECT_TRUE(link->MBPortOpen());
    EXPECT_EQ(lost, 1);
    Poll();
    port->Push(Answer());
    EXPECT_EQ(ends.back(), stOK);
}

// The modem lines are read only for a line handler: the port is told so
// through its line callback, empty otherwise; a handler stays with a port
// handed in later.
TEST_F(Link, NoModemLinesWithoutALineHandler) {
    ASSERT_TRUE(link->MBOpenLink(QStringLiteral("/dev/ttyMEM0")));
    EXPECT_FALSE(link->MBPortDevice().OnLineState);
    link->MBCloseLink();
    int lineEvents = 0;
    link->MBSetLineStateHandler([&](std::uint32_t, std::uint32_t) { ++lineEvents; });
    link->MBSetPortDevice(std::make_unique<TMBMemoryPort>());
    ASSERT_TRUE(link->MBPortDevice().OnLineState);
    link->MBPortDevice().OnLineState(evCTS, msCTS);
    EXPECT_EQ(lineEvents, 1);
    link->MBSetLineStateHandler(nullptr);
    EXPECT_FALSE(link->MBPortDevice().OnLineState);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
