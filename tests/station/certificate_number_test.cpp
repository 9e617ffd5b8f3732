// Certificate numbers: the station's code, the sequence of a day, and claims
// that two parallel runs (threads of one process, and processes) can never
// share.
#include "CertificateNumber.h"

#include <QDir>
#include <QFile>
#include <QSet>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <mutex>
#include <thread>

#include <sys/wait.h>
#include <unistd.h>

using namespace kv::cert;

namespace {

const QDate kDay(2026, 12, 8);

TEST(CertificateNumber, TheStationsCode) {
    const std::pair<const char*, const char*> cases[] = {
        {"LINE3", "LINE3"},
        {"Line 3, simulated bench", "LINE-3-SIMULATED-BENCH"},
        {"  műhely / 2  ", "MUHELY-2"},
        {"Цех №4", "ЦЕХ-4"},
        {"---", "STATION"},
    };
    for (const auto& [station, code] : cases)
        EXPECT_EQ(StationCode(QString::fromUtf8(station)), QString::fromUtf8(code)) << station;
    // None given: the computer's name, as a code.
    EXPECT_FALSE(StationCode(QString()).isEmpty());
    EXPECT_FALSE(StationCode(QString()).contains(QLatin1Char(' ')));
}

TEST(CertificateNumber, FollowsTheDaysHighestAndSaysWhatBecameOfIt) {
    QTemporaryDir dir;
    const QString folder = RegisterFolderFor(dir.filePath(QStringLiteral("c.pdf")));
    EXPECT_EQ(folder, dir.filePath(QStringLiteral("certificate-numbers")));
    EXPECT_EQ(CannotClaim(folder), QString()) << "made at the first claim";
    QString error;
    const auto first = ClaimNumber(folder, QStringLiteral("Line 3"), kDay, QStringLiteral("for c.pdf\n"), &error);
    ASSERT_TRUE(first) << error.toStdString();
    EXPECT_EQ(first->Number, "LINE-3-20261208-0001");
    // A number of the day taken by hand (or restored from a backup): the
    // next claim goes past it, never into a gap below.
    QFile taken(QDir(folder).filePath(QStringLiteral("LINE-3-20261208-0041")));
    ASSERT_TRUE(taken.open(QIODevice::WriteOnly));
    taken.close();
    EXPECT_EQ(ClaimNumber(folder, QStringLiteral("Line 3"), kDay, {}, &error)->Number, "LINE-3-20261208-0042");
    EXPECT_EQ(ClaimNumber(folder, QStringLiteral("Line 3"), kDay.addDays(1), {}, &error)->Number, "LINE-3-20261209-0001");
    EXPECT_EQ(ClaimNumber(folder, QStringLiteral("Line 4"), kDay, {}, &error)->Number, "LINE-4-20261208-0001");
    ASSERT_TRUE(RecordClaim(*first, QStringLiteral("for c.pdf\nissued: PASSED\n"), &error));
    QFile claim(first->File);
    ASSERT_TRUE(claim.open(QIODevice::ReadOnly));
    EXPECT_EQ(claim.readAll(), "for c.pdf\nissued: PASSED\n");

    // A register that cannot be: named before anything is claimed.
    const QString nowhere = RegisterFolderFor(dir.filePath(QStringLiteral("no/such/c.pdf")));
    EXPECT_TRUE(CannotClaim(nowhere).contains(QLatin1String("No such file or directory"))) << CannotClaim(nowhere).toStdString();
    EXPECT_FALSE(ClaimNumber(nowhere, QStringLiteral("Line 3"), kDay, {}, &error));
    EXPECT_TRUE(error.contains(nowhere)) << error.toStdString();
    QFile file(dir.filePath(QStringLiteral("plain")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    EXPECT_TRUE(CannotClaim(file.fileName()).contains(QLatin1String("not a folder")));
}

// Eight threads, and four processes, claiming at once in one register:
// every number once, the day's sequence without a gap.
TEST(CertificateNumber, ParallelClaimsNeverShareANumber) {
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("certificate-numbers"));
    constexpr int kThreads = 8, kEach = 25, kProcesses = 4;
    QStringList numbers;
    std::mutex m;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < kEach; ++i) {
                QString error;
                const auto c = ClaimNumber(folder, QStringLiteral("LINE3"), kDay, QStringLiteral("thread"), &error);
                std::lock_guard<std::mutex> lock(m);
                numbers << (c ? c->Number : QStringLiteral("error: ") + error);
            }
        });
    for (std::thread& t : threads)
        t.join();
    // Processes: each writes its numbers to a pipe of its own.
    std::vector<std::pair<pid_t, int>> children;
    for (int p = 0; p < kProcesses; ++p) {
        int fds[2];
        ASSERT_EQ(::pipe(fds), 0);
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            ::close(fds[0]);
            for (int i = 0; i < kEach; ++i) {
                QString error;
                const auto c = ClaimNumber(folder, QStringLiteral("LINE3"), kDay, QStringLiteral("process"), &error);
                const QByteArray line = (c ? c->Number : QStringLiteral("error: ") + error).toUtf8() + '\n';
                if (::write(fds[1], line.constData(), size_t(line.size())) != line.size())
                    ::_exit(2);
            }
            ::_exit(0);
        }
        ::close(fds[1]);
        children.push_back({pid, fds[0]});
    }
    for (const auto& [pid, fd] : children) {
        QByteArray out;
        char buffer[4096];
        for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;)
            out.append(buffer, n);
        ::close(fd);
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        for (const QByteArray& line : out.split('\n'))
            if (!line.isEmpty())
                numbers << QString::fromUtf8(line);
    }
    const int total = (kThreads + kProcesses) * kEach;
    ASSERT_EQ(numbers.size(), total);
    const QSet<QString> unique(numbers.begin(), numbers.end());
    EXPECT_EQ(unique.size(), total) << "a number claimed twice";
    for (int n = 1; n <= total; ++n)
        EXPECT_TRUE(unique.contains(QStringLiteral("LINE3-20261208-%1").arg(n, 4, 10, QLatin1Char('0')))) << n;
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden).size(), total) << "no temporary file stays behind";
}

} // namespace
