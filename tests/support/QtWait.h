#pragma once
// Waiting on the GUI event loop in real-time tests: the loop runs (so port
// hand-overs and Qt timers are served) until a condition holds or a deadline
// passes. Never a sleep: the condition is looked at after every event.
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

#include <functional>

namespace kvtest {

// Runs the event loop until `done` holds or `ms` passed; true when it held.
inline bool WaitUntil(const std::function<bool()>& done, int ms = 5000) {
    QDeadlineTimer deadline(ms);
    QTimer tick; // wakes the loop so that the deadline is looked at
    tick.start(10);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

} // namespace kvtest
