// The in-memory port: what tests and the in-process simulator rely on.
#include "MBMemoryPort.h"

#include <QCoreApplication>
#include <QThread>
#include <gtest/gtest.h>

#include <thread>

namespace {

struct Receiver {
    TMBMemoryPort& port;
    QByteArray bytes;
    QList<qint64> chunks;
    int hangUps = 0;
    QThread* thread = nullptr;
    explicit Receiver(TMBMemoryPort& p) : port(p) {
        port.OnReceive = [this](qint64 n) {
            chunks << n;
            thread = QThread::currentThread();
            bytes += port.Read(n);
        };
        port.OnHangUp = [this] { ++hangUps; };
    }
};

void ProcessPosted() { QCoreApplication::processEvents(); }

TEST(MemoryPort, OpenFailsWithTheGivenTextUntilCleared) {
    TMBMemoryPort port;
    port.SetOpenError(QStringLiteral("Access is denied."));
    EXPECT_FALSE(port.Open(QStringLiteral("COM3"), 9600));
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(port.ErrorText(), QStringLiteral("Access is denied."));
    EXPECT_EQ(port.Write(QByteArray("x")), -1);

    port.SetOpenError({});
    ASSERT_TRUE(port.Open(QStringLiteral("COM3"), 115200));
    EXPECT_TRUE(port.ErrorText().isEmpty());
    EXPECT_EQ(port.OpenedName(), QStringLiteral("COM3"));
    EXPECT_EQ(port.Rate(), 115200u);
    port.Close();
    EXPECT_EQ(port.Rate(), 0u);
}

TEST(MemoryPort, WritesAreCapturedAndForwardedOnlyWhileOpen) {
    TMBMemoryPort port;
    QByteArray peer;
    port.OnWritten = [&](const QByteArray& b) { peer += b; };
    EXPECT_EQ(port.Write(QByteArray("lost")), -1);
    ASSERT_TRUE(port.Open(QStringLiteral("sim"), 9600));
    EXPECT_EQ(port.Write(QByteArray("M01")), 3);
    EXPECT_EQ(port.Write(QByteArray(";")), 1);
    EXPECT_EQ(port.Written(), QByteArray("M01;"));
    EXPECT_EQ(peer, QByteArray("M01;"));
    EXPECT_EQ(port.TakeWritten(), QByteArray("M01;"));
    EXPECT_TRUE(port.Written().isEmpty());
}

// The memory port keeps what a line was opened with and what was done to
// its modem lines, and plays the far end's handshake lines: a DTR/DSR line
// sends nothing while DSR is inactive, an RTS/CTS line nothing while CTS is.
TEST(MemoryPort, LineSettingsModemLinesAndHandshakeAreRecordedAndPlayed) {
    struct {
        TMBLineSettings line;
        std::uint32_t farEnd;
        bool sends;
        QStringList calls;
    } const table[] = {
        {{}, 0, true, {"DTR off", "RTS off"}}, // the transmitter's line ignores the far end's lines
        {{8, TMBParity::None, 2, TMBHandshake::DtrDsr, true, true}, msDSR, true, {"DTR on", "RTS on"}},
        {{8, TMBParity::None, 2, TMBHandshake::DtrDsr, true, true}, msCTS, false, {"DTR on", "RTS on"}},
        {{7, TMBParity::Even, 1, TMBHandshake::RtsCts, true, true}, msDSR, false, {"DTR on", "RTS on"}},
        {{7, TMBParity::Even, 1, TMBHandshake::RtsCts, false, true}, msCTS, true, {"DTR off", "RTS on"}},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(MBFrameText(row.line).toStdString() + " " + std::to_string(int(row.line.Handshake)));
        TMBMemoryPort port;
        port.SetModemStatus(row.farEnd);
        ASSERT_TRUE(port.Open(QStringLiteral("meter"), 9600, row.line));
        EXPECT_EQ(port.OpenedLine(), row.line);
        EXPECT_EQ(port.TakeModemLineCalls(), row.calls);
        EXPECT_EQ(port.Write(QByteArray("*RST")), row.sends ? 4 : 0);
    }
    TMBMemoryPort port;
    EXPECT_FALSE(port.Open(QStringLiteral("meter"), 9600, {8, TMBParity::None, 3, TMBHandshake::None, true, true}));
    EXPECT_TRUE(port.ErrorText().contains(QLatin1String("1 or 2"))) << port.ErrorText().toStdString();
}

TEST(MemoryPort, PushesArriveAsChunksOnTheGuiThreadInOrder) {
    TMBMemoryPort port;
    Receiver rx(port);
    ASSERT_TRUE(port.Open(QStringLiteral("sim"), 9600));
    port.Push("S0");
    port.Push("1A;");
    EXPECT_EQ(rx.bytes, QByteArray("S01A;"));
    EXPECT_EQ(rx.chunks, (QList<qint64>{2, 3}));
    EXPECT_EQ(rx.thread, QThread::currentThread());
    EXPECT_EQ(port.BytesWaiting(), 0);
}

TEST(MemoryPort, BytesNobodyListensToAreDropped) {
    TMBMemoryPort port;
    ASSERT_TRUE(port.Open(QStringLiteral("sim"), 9600));
    port.Push("noise");
    EXPECT_EQ(port.BytesWaiting(), 0);
}

// A peer that answers inside the write of the request must not re-enter the
// writer: the answer comes at the next turn of the event loop.
TEST(MemoryPort, AnAnswerPushedInsideAWriteArrivesAfterTheWriteReturns) {
    TMBMemoryPort port;
    Receiver rx(port);
    bool writing = false;
    bool reentered = false;
    port.OnReceive = [&](qint64 n) {
        reentered = reentered || writing;
        rx.bytes += port.Read(n);
    };
    port.OnWritten = [&](const QByteArray& b) {
        if (b.endsWith(';'))
            port.Push("S;");
    };
    ASSERT_TRUE(port.Open(QStringLiteral("sim"), 9600));
    writing = true;
    port.Write(QByteArray("M"));
    port.Write(QByteArray("01;"));
    writing = false;
    EXPECT_TRUE(rx.bytes.isEmpty());
    ProcessPosted();
    EXPECT_EQ(rx.bytes, QByteArray("S;"));
    EXPECT_FALSE(reentered);

    // The same, flushed explicitly at a point the test chooses.
    port.Write(QByteArray("M02;"));
    port.DeliverPending();
    EXPECT_EQ(rx.bytes, QByteArray("S;S;"));
    ProcessPosted(); // the queued notification finds nothing left to announce
    EXPECT_EQ(rx.bytes, QByteArray("S;S;"));
}

TEST(MemoryPort, PushesFromAnotherThreadAreDeliveredOnTheGuiThread) {
    TMBMemoryPort port;
    Receiver rx(port);
    ASSERT_TRUE(port.Open(QStringLiteral("sim"), 9600));
    std::thread peer([&] {
        port.Push("ab");
        port.Push("cd");
    });
    peer.join();
    EXPECT_TRUE(rx.bytes.isEmpty());
    ProcessPosted();
    EXPECT_EQ(rx.bytes, QByteArray("abcd"));
    EXPECT_EQ(rx.thread, QThread::currentThread());
}

TEST(MemoryPort, HangUpIsRaisedOnceAfterTheBytesBeforeIt) {
    TMBMemoryPort port;
    Receiver rx(port);
    QByteArray atHangUp;
    port.OnHangUp = [&] {
        ++rx.hangUps;
        atHangUp = rx.bytes;
    };
    ASSERT_TRUE(port.Open(QStringLiteral("sim"), 9600));
    port.OnWritten = [&](const QByteArray&) {
        port.Push("tail");
        port.HangUp(); // the device vanishes while the request is written
    };
    port.Write(QByteArray("M;"));
    EXPECT_EQ(rx.hangUps, 0);
    ProcessPosted();
    EXPECT_EQ(rx.hangUps, 1);
    EXPECT_EQ(atHangUp, QByteArray("tail"));
    port.HangUp();
    port.Push("more");
    ProcessPosted();
    EXPECT_EQ(rx.hangUps, 1);
    EXPECT_EQ(rx.bytes, QByteArray("tail"));
    EXPECT_EQ(port.Write(QByteArray("x")), -1);
    EXPECT_TRUE(port.IsOpen());

    port.Close();
    ASSERT_TRUE(port.Open(QStringLiteral("sim"), 9600));
    EXPECT_FALSE(port.HungUp());
    port.HangUp();
    EXPECT_EQ(rx.hangUps, 2);
}

// A notification queued before Close() must not reach the owner after it,
// neither while closed nor after a new open.
TEST(MemoryPort, ANotificationQueuedBeforeCloseDoesNothingAfterIt) {
    for (const bool reopen : {false, true}) {
        SCOPED_TRACE(reopen ? "reopened" : "closed");
        TMBMemoryPort port;
        Receiver rx(port);
        ASSERT_TRUE(port.Open(QStringLiteral("sim"), 9600));
        port.OnWritten = [&](const QByteArray&) {
            port.Push("late");
            port.HangUp();
        };
        port.Write(QByteArray("M;"));
        port.OnWritten = nullptr;
        port.Close();
        if (reopen) {
            ASSERT_TRUE(port.Open(QStringLiteral("sim"), 9600));
        }
        ProcessPosted();
        EXPECT_TRUE(rx.chunks.isEmpty());
        EXPECT_EQ(rx.hangUps, 0);
        EXPECT_EQ(port.BytesWaiting(), 0);
    }
}

TEST(MemoryPort, APortClosedInsideItsReceiveCallbackStaysClosed) {
    TMBMemoryPort port;
    int calls = 0;
    port.OnReceive = [&](qint64 n) {
        ++calls;
        port.Read(n);
        port.Close();
    };
    ASSERT_TRUE(port.Open(QStringLiteral("sim"), 9600));
    port.Push("one");
    port.Push("two");
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(port.Read(4).size(), 0);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
