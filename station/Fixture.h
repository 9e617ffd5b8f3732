#pragma once
// The production line's fixture: the command that connects what a
// calibration step needs to the transmitter's input (the line's relay box
// script; kvsim's console in tests). kvctl runs it with the step's words as
// its last arguments, `CMD open`, `CMD resistor 500.012`, and goes on when
// it exits 0. It runs beside the poll (the device stays polled), its output
// goes to kvctl's standard error, prefixed, so that stdout keeps kvctl's own
// data. A fixture that exits otherwise, cannot be started or does not end
// within kTimeoutMs fails the step.
#include "MBTimer.h"

#include <QProcess>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

namespace kv::station {

class TFixture {
public:
    static constexpr int kTimeoutMs = 60000;

    // `command` is a command line for /bin/sh; the words are passed to it
    // as arguments ("$@"), so they are never parsed as shell text.
    TFixture(const QString& command, TMBTimerFactory& timers);
    ~TFixture();
    TFixture(const TFixture&) = delete;
    TFixture& operator=(const TFixture&) = delete;

    // False when the command line is empty.
    bool Valid() const { return !program_.isEmpty(); }
    // Runs CMD WORDS...; `done` gets "" or why it failed. One at a time.
    void Run(const QStringList& words, std::function<void(const QString& error)> done);
    // Ends a fixture still running (the run was stopped).
    void Cancel();

    std::function<void(const QString& line)> OnOutput; // each line it printed

private:
    void End(const QString& error);

    QString program_;
    QStringList args_;
    std::unique_ptr<QProcess> process_;
    std::unique_ptr<TMBTimer> timeout_;
    std::function<void(const QString&)> done_;
};

} // namespace kv::station
