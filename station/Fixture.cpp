#include "Fixture.h"

#include <QElapsedTimer>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace kv::station {

namespace {

// /proc/PID/stat: "pid (comm) S ppid pgrp ...", the command name may hold
// blanks and parentheses: the fields count from the last ')'.
bool StatOf(const char* pid, char& state, long& group) {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%s/stat", pid);
    FILE* f = std::fopen(path, "re");
    if (!f)
        return false;
    char buf[1024];
    const std::size_t n = std::fread(buf, 1, sizeof buf - 1, f);
    std::fclose(f);
    buf[n] = 0;
    const char* close = nullptr;
    for (const char* p = buf; *p; ++p)
        if (*p == ')')
            close = p;
    long parent = 0;
    return close && std::sscanf(close + 1, " %c %ld %ld", &state, &parent, &group) == 3;
}

} // namespace

bool TFixture::GroupAlive(pid_t group) {
    if (group <= 0 || (::kill(-group, 0) != 0 && errno == ESRCH))
        return false;
    // kill() finds zombies too (the shell before it is reaped, children
    // nobody reaps): only a process that still runs counts.
    DIR* proc = ::opendir("/proc");
    if (!proc)
        return true;
    bool alive = false;
    while (const dirent* e = ::readdir(proc)) {
        if (e->d_name[0] < '0' || e->d_name[0] > '9')
            continue;
        char state = 0;
        long g = 0;
        if (StatOf(e->d_name, state, g) && g == group && state != 'Z' && state != 'X') {
            alive = true;
            break;
        }
    }
    ::closedir(proc);
    return alive;
}

TFixture::TFixture(const QString& command, TMBTimerFactory& timers, int timeoutMs) : timeoutMs_(timeoutMs) {
    // The shell reads the command line as the line's own script would be
    // typed; the words follow as its arguments, never parsed by it.
    if (!command.trimmed().isEmpty()) {
        program_ = QStringLiteral("/bin/sh");
        args_ = {QStringLiteral("-c"), command + QStringLiteral(" \"$@\""), QStringLiteral("kvctl-fixture")};
    }
    timeout_ = timers.createTimer(timeoutMs_, true, [this] {
        EndGroup(false);
        const QString why = QStringLiteral("\"%1\" did not end within %2 s: its processes were ended")
                                .arg(words_.join(QLatin1Char(' ')))
                                .arg(timeoutMs_ / 1000.0);
        if (OnOutput)
            OnOutput(why);
        End(why);
    });
    grace_ = timers.createTimer(kGraceMs, true, [this] {
        if (GroupAlive(group_))
            ::kill(-group_, SIGKILL);
        group_ = 0;
    });
}

TFixture::~TFixture() {
    done_ = nullptr;
    OnOutput = nullptr;
    timeout_->stop();
    if (process_)
        QObject::disconnect(process_.get(), nullptr, nullptr, nullptr);
    EndGroup(true);
    if (process_ && process_->state() != QProcess::NotRunning)
        process_->waitForFinished(1000); // reaps the shell, ended with its group
}

void TFixture::Run(const QStringList& words, std::function<void(const QString& error)> done) {
    Cancel();
    if (group_ > 0)
        EndGroup(true); // the last one's group, still ending: not beside the new one
    if (process_) {
        // Not deleted inside its own signal (a step's end may start the next).
        QProcess* old = process_.release();
        QObject::disconnect(old, nullptr, nullptr, nullptr);
        if (old->state() != QProcess::NotRunning)
            old->waitForFinished(1000);
        old->deleteLater();
    }
    done_ = std::move(done);
    words_ = words;
    lines_ = 0;
    process_ = std::make_unique<QProcess>();
    QProcess* p = process_.get();
    p->setProcessChannelMode(QProcess::MergedChannels);
    p->setInputChannelMode(QProcess::ManagedInputChannel); // it reads nothing of kvctl's
    // Its own process group, ended as a whole; and ended with kvctl, should
    // kvctl itself be killed.
    p->setChildProcessModifier([] {
        ::setpgid(0, 0);
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    });
    QObject::connect(p, &QProcess::readyReadStandardOutput, [this] { Output(false); });
    QObject::connect(p, &QProcess::errorOccurred, [this, p](QProcess::ProcessError e) {
        if (e == QProcess::FailedToStart)
            End(QStringLiteral("the shell could not be started: %1").arg(p->errorString()));
    });
    QObject::connect(p, &QProcess::finished, [this](int code, QProcess::ExitStatus status) {
        Output(true);
        // What it left running in the background is ended with it.
        EndGroup(false);
        if (!done_)
            return; // ended by a time-out or a cancel, said then
        const QString what = QStringLiteral("\"%1\"").arg(words_.join(QLatin1Char(' ')));
        const QString end = status != QProcess::NormalExit ? QStringLiteral("%1 was killed by a signal").arg(what)
                                                           : QStringLiteral("%1 exited with %2").arg(what).arg(code);
        if (OnOutput)
            OnOutput(end);
        End(status == QProcess::NormalExit && code == 0 ? QString() : end);
    });
    timeout_->start(timeoutMs_);
    p->start(program_, args_ + words);
    if (const qint64 pid = p->processId(); pid > 0) {
        group_ = static_cast<pid_t>(pid);
        ::setpgid(group_, group_); // as the child does: whichever runs first
    }
    p->closeWriteChannel();
}

void TFixture::Output(bool all) {
    QProcess* p = process_.get();
    if (!p)
        return;
    for (;;) {
        QByteArray bytes;
        if (p->canReadLine())
            bytes = p->readLine(kMaxLine);
        else if (p->bytesAvailable() >= kMaxLine || (all && p->bytesAvailable() > 0))
            bytes = p->read(kMaxLine); // a line without its end, or too long: in pieces
        else
            return;
        const QString line = QString::fromLocal8Bit(bytes).trimmed();
        if (line.isEmpty() || !OnOutput)
            continue;
        if (++lines_ <= kMaxLines)
            OnOutput(line);
        else if (lines_ == kMaxLines + 1)
            OnOutput(QStringLiteral("(its further output is not kept)"));
    }
}

void TFixture::Cancel() {
    timeout_->stop();
    if (!done_)
        return;
    done_ = nullptr;
    if (OnOutput)
        OnOutput(QStringLiteral("\"%1\" was ended: the run stopped").arg(words_.join(QLatin1Char(' '))));
    EndGroup(false);
}

void TFixture::EndGroup(bool wait) {
    if (group_ <= 0)
        return;
    if (!GroupAlive(group_)) {
        group_ = 0;
        grace_->stop();
        return;
    }
    ::kill(-group_, SIGTERM);
    if (!wait) {
        if (!grace_->isActive())
            grace_->start(kGraceMs);
        return;
    }
    // Here and now: the object is going, or a new run must not start beside it.
    grace_->stop();
    QElapsedTimer t;
    t.start();
    bool killed = false;
    while (GroupAlive(group_)) {
        if (!killed && t.elapsed() >= kGraceMs) {
            ::kill(-group_, SIGKILL);
            killed = true;
        }
        if (t.elapsed() >= kGraceMs + 2000)
            break; // a process in uninterruptible sleep: nothing more to do
        if (process_ && process_->state() != QProcess::NotRunning)
            process_->waitForFinished(10); // reaps the shell meanwhile
        else
            ::usleep(10000);
    }
    group_ = 0;
}

void TFixture::End(const QString& error) {
    timeout_->stop();
    auto done = std::move(done_);
    done_ = nullptr;
    if (done)
        done(error);
}

} // namespace kv::station
