#pragma once
// The local date as the poll carries it. Asking the system for the date
// re-reads the time zone file every time, the largest cost of composing a
// poll, and it lies between the end of one poll and the arming of the next;
// so the date is asked at most once a second and reused in between (just
// after midnight a poll may carry the old date for up to a second).
#include <QDate>

#include <functional>
#include <memory>

namespace kv {

// `ask` gives the date, `seconds` a monotonic clock in seconds.
inline std::function<QDate()> DateAskedOncePerSecond(std::function<QDate()> ask, std::function<double()> seconds) {
    struct TState {
        QDate date;
        double askedAt = 0;
    };
    auto state = std::make_shared<TState>();
    return [state, ask = std::move(ask), seconds = std::move(seconds)] {
        const double now = seconds();
        if (!state->date.isValid() || now - state->askedAt >= 1.0 || now < state->askedAt) {
            state->date = ask();
            state->askedAt = now;
        }
        return state->date;
    };
}

} // namespace kv
