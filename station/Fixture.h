#pragma once
// The production line's fixture: the command that connects what a
// calibration step needs to the transmitter's input (the line's relay box
// script; kvsim's console in tests). kvctl runs it with the step's words as
// its last arguments, `CMD open`, `CMD resistor 500.012`, and goes on when
// it exits 0. It runs beside the poll (the device stays polled). Its output
// and its exit status are handed on line by line (OnOutput): kvctl's
// standard error shows them and the run's log keeps them, so that the
// certificate says what the fixture did. A fixture that exits otherwise,
// cannot be started or does not end within its time-out fails the step.
//
// The fixture runs in a process group of its own: a time-out or an
// interruption ends the whole group (SIGTERM, then SIGKILL after kGraceMs),
// whatever the script started, so that nothing of it is left running, and
// so does its end (what it left in the background goes with it); and a
// Ctrl-C at the terminal reaches kvctl, which ends the fixture itself,
// rather than the fixture in the middle of switching. The group still ending
// when the object goes is ended before it goes.
#include "MBTimer.h"

#include <QProcess>
#include <QString>
#include <QStringList>

#include <sys/types.h>

#include <functional>
#include <memory>

namespace kv::station {

class TFixture {
public:
    static constexpr int kTimeoutMs = 60000;
    static constexpr int kGraceMs = 2000;
    // Output lines handed on per run; more are counted, not kept.
    static constexpr int kMaxLines = 40;
    static constexpr qint64 kMaxLine = 1024;

    // `command` is a command line for /bin/sh; the words are passed to it
    // as arguments ("$@"), so they are never parsed as shell text.
    TFixture(const QString& command, TMBTimerFactory& timers, int timeoutMs = kTimeoutMs);
    ~TFixture();
    TFixture(const TFixture&) = delete;
    TFixture& operator=(const TFixture&) = delete;

    // False when the command line is empty.
    bool Valid() const { return !program_.isEmpty(); }
    // Runs CMD WORDS...; `done` gets "" or why it failed. One at a time.
    void Run(const QStringList& words, std::function<void(const QString& error)> done);
    // Ends a fixture still running (the run was stopped): its whole process
    // group. `done` is not called.
    void Cancel();

    // Each line it printed, and at its end what became of it
    // ("\"resistor 500\" exited with 0").
    std::function<void(const QString& line)> OnOutput;

    // Whether any process of the group is still alive (not a zombie).
    static bool GroupAlive(pid_t group);

private:
    void End(const QString& error);
    void Output(bool all);
    // SIGTERM to the group; SIGKILL when the grace is over. `wait`: here
    // and now, until the group is gone (bounded).
    void EndGroup(bool wait);

    QString program_;
    QStringList args_, words_;
    int timeoutMs_;
    int lines_ = 0;
    std::unique_ptr<QProcess> process_;
    pid_t group_ = 0; // the group running or being ended
    std::unique_ptr<TMBTimer> timeout_, grace_;
    std::function<void(const QString&)> done_;
};

} // namespace kv::station
