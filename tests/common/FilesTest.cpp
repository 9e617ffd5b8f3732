// The files kvctl and the calibration station write: writes that go on
// through interruptions, what can be known about an output before it is
// written, the CSV log's own ends (a row a crash cut short, a header the disk
// refused), and streams that never wait for a reader.
#include "Files.h"

#include "../support/TestFiles.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fstream>
#include <string>
#include <thread>

#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

using kvtest::ReadAll;
using kvtest::WriteAll;

std::atomic<int> gInterrupts{0};

// Whether the thread sleeps in a write() call now (the kernel's view of it).
bool InWrite(pid_t tid) {
    std::ifstream f("/proc/self/task/" + std::to_string(tid) + "/syscall");
    std::string number;
    return f >> number && number == std::to_string(SYS_write);
}

} // namespace

// A signal that interrupts a write which waits for room (a slow reader, a
// full pipe) is no failure: the rest of the data follows.
TEST(Files, WriteAllGoesOnThroughInterruptedWrites) {
    struct sigaction sa {}, old {};
    sa.sa_handler = [](int) { ++gInterrupts; };
    sa.sa_flags = 0; // no SA_RESTART: the waiting write returns EINTR or a short count
    sigemptyset(&sa.sa_mask);
    ASSERT_EQ(::sigaction(SIGUSR1, &sa, &old), 0);
    int p[2];
    ASSERT_EQ(::pipe2(p, O_CLOEXEC), 0);
    ::fcntl(p[1], F_SETPIPE_SZ, 4096);
    QByteArray data(256 * 1024, '\0');
    for (qsizetype i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>(i * 7 + i / 4096);

    std::atomic<pid_t> tid{0};
    std::atomic<bool> done{false};
    bool ok = false;
    int err = -1;
    std::thread writer([&] {
        tid = static_cast<pid_t>(::syscall(SYS_gettid));
        ok = kv::WriteAll(p[1], data.constData(), data.size(), err);
        ::close(p[1]);
        done = true;
    });
    QByteArray got;
    int sent = 0;
    for (;;) {
        // Interrupt the writer while it waits for room, then make some.
        bool waiting = false;
        for (long spin = 0; spin < 20'000'000 && !done && !waiting; ++spin) {
            waiting = tid != 0 && InWrite(tid);
            if (!waiting)
                ::sched_yield();
        }
        if (waiting && sent < 40) {
            const int before = gInterrupts;
            ::pthread_kill(writer.native_handle(), SIGUSR1);
            ++sent;
            for (long spin = 0; spin < 20'000'000 && gInterrupts == before; ++spin)
                ::sched_yield();
        }
        char buf[3000];
        const ssize_t n = ::read(p[0], buf, sizeof buf);
        if (n <= 0)
            break;
        got.append(buf, n);
    }
    writer.join();
    ::close(p[0]);
    ::sigaction(SIGUSR1, &old, nullptr);
    EXPECT_GT(gInterrupts.load(), 0) << "the writer was never interrupted: the test proves nothing";
    EXPECT_TRUE(ok) << "WriteAll gave up on an interrupted write: errno " << err << " after " << got.size() << " of " << data.size() << " bytes";
    EXPECT_EQ(got.size(), data.size());
    EXPECT_TRUE(got == data);
}

// What can be seen before anything is written: a command refuses these
// outputs before it touches a device.
TEST(Files, CannotWriteSaysWhyBeforeTheWrite) {
    QTemporaryDir dir;
    const QString file = dir.filePath("file.kvs"), locked = dir.filePath("locked.kvs");
    WriteAll(file, "x");
    WriteAll(locked, "x");
    ::chmod(QFile::encodeName(locked).constData(), 0444);
    const struct {
        QString path;
        kv::TWriteWay way;
        const char* why; // "" : nothing in the way
    } rows[] = {
        {dir.filePath("new.kvs"), kv::TWriteWay::Whole, ""},
        {file, kv::TWriteWay::Whole, ""},
        {file, kv::TWriteWay::Append, ""},
        {dir.filePath("no/such.kvs"), kv::TWriteWay::Whole, "No such file or directory"},
        {file + "/below.kvs", kv::TWriteWay::Append, "Not a directory"},
        {dir.path(), kv::TWriteWay::Whole, "Is a directory"},
        {locked, kv::TWriteWay::Whole, "Permission denied"}, // also for root: the user made it read-only
        {"/dev/null", kv::TWriteWay::Whole, "is not a regular file"},
        {"/dev/null", kv::TWriteWay::Stream, ""},
        {"/dev/null", kv::TWriteWay::Append, ""},
        {file, kv::TWriteWay::Stream, "Invalid argument"},
    };
    for (const auto& row : rows) {
        const QString why = kv::CannotWrite(row.path, row.way);
        SCOPED_TRACE(row.path.toStdString() + " " + std::to_string(int(row.way)) + ": " + why.toStdString());
        if (*row.why == '\0') {
            EXPECT_TRUE(why.isEmpty());
        } else {
            EXPECT_TRUE(why.contains(QString::fromLatin1(row.why)));
            EXPECT_TRUE(why.startsWith(row.path));
        }
    }
}

// A pipe with nobody reading is an error at once, not a wait; one with a
// reader takes the text as it is.
TEST(Files, StreamsNeverWaitForAReader) {
    QTemporaryDir dir;
    const QString fifo = dir.filePath("fifo");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QString error;
    EXPECT_FALSE(kv::WriteToStream(fifo, "text\n", &error));
    EXPECT_TRUE(error.contains("No such device or address")) << error.toStdString();
    const int reader = ::open(QFile::encodeName(fifo).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    EXPECT_TRUE(kv::WriteToStream(fifo, "text\n", &error)) << error.toStdString();
    char buf[16] = {};
    EXPECT_EQ(::read(reader, buf, sizeof buf), 5);
    ::close(reader);
    // A regular file is never written as a stream (it is replaced whole).
    const QString file = dir.filePath("f");
    WriteAll(file, "old");
    EXPECT_FALSE(kv::WriteToStream(file, "new", &error));
    EXPECT_EQ(ReadAll(file), "old");
}

// A log ends with whole rows: a row a crash cut short goes before new rows
// come, and a log whose header the disk refused is not left behind empty.
TEST(Files, TheCsvLogEndsWithWholeRows) {
    QTemporaryDir dir;
    const QByteArray header = "time,value";
    const struct {
        const char* name;
        QByteArray before, after;
        long long cut;
    } rows[] = {
        {"whole rows", "time,value\n1,2\n", "time,value\n1,2\n3,4\n", 0},
        {"a row cut short", "time,value\n1,2\n3,", "time,value\n1,2\n3,4\n", 2},
        {"a long row cut short", "time,value\n1,2\n" + QByteArray(10000, '9'), "time,value\n1,2\n3,4\n", 10000},
        {"a header without its end", "time,value", "time,value\n3,4\n", 0},
        {"new", {}, "time,value\n3,4\n", 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const QString path = dir.filePath(QString::fromLatin1(row.name) + ".csv");
        if (!row.before.isNull())
            WriteAll(path, row.before);
        std::unique_ptr<kv::TCsvLog> log;
        QString error;
        ASSERT_EQ(kv::TCsvLog::Open(path, header, log, &error), kv::TCsvLog::TOpen::Opened) << error.toStdString();
        EXPECT_EQ(log->CutBytes(), row.cut);
        EXPECT_TRUE(log->Append("3,4\n"));
        log.reset();
        EXPECT_EQ(ReadAll(path), row.after);
    }
    // The disk takes nothing (a file size limit of 0): no empty log stays.
    const QString path = dir.filePath("refused.csv");
    rlimit old {};
    ::getrlimit(RLIMIT_FSIZE, &old);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit none = old;
    none.rlim_cur = 0;
    ::setrlimit(RLIMIT_FSIZE, &none);
    std::unique_ptr<kv::TCsvLog> log;
    QString error;
    const kv::TCsvLog::TOpen r = kv::TCsvLog::Open(path, header, log, &error);
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(r, kv::TCsvLog::TOpen::Failed);
    EXPECT_TRUE(error.contains("File too large")) << error.toStdString();
    EXPECT_FALSE(QFile::exists(path));
}
