// The line's fixture as a real process under /bin/sh: its exit status and
// output, its words never read as shell text, and its process group ended
// as a whole on a time-out, a cancel or its end, so that nothing of it is
// left running. The time-outs run on a manual clock; the processes are
// real, and waited for in real time with generous bounds.
#include "Fixture.h"
#include "Processes.h"
#include "QtWait.h"

#include <QCoreApplication>
#include <QFile>
#include <gtest/gtest.h>

#include <optional>

using kv::station::TFixture;

namespace {

using kvtest::RunningProcesses;

// Serves the event loop until pred() holds or `ms` of real time passed.
bool Within(int ms, const std::function<bool()>& pred) { return kvtest::WaitUntil(pred, ms); }
// (A marker counts the fixture's shell too: its command line holds it.)

struct TRun {
    TMBManualClock clock;
    std::unique_ptr<TFixture> fixture;
    QStringList lines;
    std::optional<QString> error;

    TRun(const QString& command, const QStringList& words, int timeoutMs = TFixture::kTimeoutMs) {
        fixture = std::make_unique<TFixture>(command, clock, timeoutMs);
        fixture->OnOutput = [this](const QString& line) { lines << line; };
        fixture->Run(words, [this](const QString& e) { error = e; });
    }
};

} // namespace

// A non-zero exit fails the step with the status named; the output and the
// status are handed on for the run's log; the words reach the fixture as
// they are.
TEST(Fixture, ItsExitStatusAndOutputAreHandedOn) {
    struct {
        const char* command;
        QStringList words;
        const char* error; // "" when it succeeds
        QStringList lines;
    } const table[] = {
        {"exit 3", {"open"}, "\"open\" exited with 3", {"\"open\" exited with 3"}},
        {"echo connected; echo relay K3 >&2; true", {"resistor", "500"}, "",
         {"connected", "relay K3", "\"resistor 500\" exited with 0"}},
        {"printf '%s|'", {"resistor", "$(touch /tmp/kv-fixture-never)", ";exit 9"}, "",
         {"resistor|$(touch /tmp/kv-fixture-never)|;exit 9|", "\"resistor $(touch /tmp/kv-fixture-never) ;exit 9\" exited with 0"}},
        {"kill -9 $$", {"short"}, "\"short\" was killed by a signal", {"\"short\" was killed by a signal"}},
        {"/nonexistent/relay", {"open"}, "\"open\" exited with 127", {}},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.command);
        TRun run(QString::fromLatin1(row.command), row.words);
        ASSERT_TRUE(Within(10000, [&] { return run.error.has_value(); }));
        EXPECT_EQ(*run.error, QString::fromLatin1(row.error));
        if (!row.lines.isEmpty())
            EXPECT_EQ(run.lines, row.lines);
        else
            EXPECT_EQ(run.lines.last(), QString::fromLatin1(row.error));
    }
    EXPECT_FALSE(QFile::exists(QStringLiteral("/tmp/kv-fixture-never")));
}

// A fixture that does not end within its time-out fails the step, and its
// whole process group ends: what it started in the background too, and a
// process that ignores SIGTERM once the grace is over.
TEST(Fixture, ATimeOutEndsEverythingItStarted) {
    struct {
        const char* command;
        std::vector<QByteArray> markers;
        bool ignoresTerm;
    } const table[] = {
        {"sleep 617.25 & sleep 618.25; #", {"sleep 617.25", "sleep 618.25"}, false},
        {"trap '' TERM; sleep 619.25; #", {"sleep 619.25"}, true},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.command);
        TRun run(QString::fromLatin1(row.command), {"current"}, 2000);
        const auto running = [&] {
            int n = 0;
            for (const QByteArray& m : row.markers)
                n += RunningProcesses(m);
            return n;
        };
        ASSERT_TRUE(Within(10000, [&] { return running() >= int(row.markers.size()); }));
        run.clock.advance(1999);
        EXPECT_FALSE(run.error.has_value());
        run.clock.advance(1);
        ASSERT_TRUE(run.error.has_value());
        EXPECT_EQ(*run.error, QStringLiteral("\"current\" did not end within 2 s: its processes were ended"));
        EXPECT_EQ(run.lines.last(), *run.error);
        if (row.ignoresTerm) {
            EXPECT_FALSE(Within(300, [&] { return running() == 0; })); // SIGTERM is ignored
            run.clock.advance(TFixture::kGraceMs);                     // then SIGKILL
        }
        EXPECT_TRUE(Within(10000, [&] { return running() == 0; }));
    }
}

// Cancelled (the run was stopped) or left behind by a fixture that exited:
// its group ends; a fixture destroyed while running is ended before it goes.
TEST(Fixture, NothingOfItOutlivesTheStep) {
    {
        TRun run(QStringLiteral("sleep 620.25; #"), {"voltage"});
        ASSERT_TRUE(Within(10000, [&] { return RunningProcesses("sleep 620.25") >= 1; }));
        run.fixture->Cancel();
        EXPECT_TRUE(Within(10000, [&] { return RunningProcesses("sleep 620.25") == 0; }));
        EXPECT_FALSE(run.error.has_value());
        EXPECT_EQ(run.lines, QStringList{"\"voltage\" was ended: the run stopped"});
    }
    {
        TRun run(QStringLiteral("sleep 621.25 & exit 0; #"), {"open"});
        ASSERT_TRUE(Within(10000, [&] { return run.error.has_value(); }));
        EXPECT_EQ(*run.error, QString());
        EXPECT_TRUE(Within(10000, [&] { return RunningProcesses("sleep 621.25") == 0; }));
    }
    {
        TRun run(QStringLiteral("trap '' TERM; sleep 622.25; #"), {"open"});
        ASSERT_TRUE(Within(10000, [&] { return RunningProcesses("sleep 622.25") >= 1; }));
        run.fixture.reset(); // waits out the grace, then kills
        EXPECT_EQ(RunningProcesses("sleep 622.25"), 0);
        EXPECT_FALSE(run.error.has_value());
    }
}

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
