#pragma once
// The link's timer seam. The engine arms timers only through TMBTimer, which a
// TMBTimerFactory makes: in the program a timerfd in the event loop (to the
// nanosecond and never early: a Qt timer waits in whole milliseconds, and a
// coarse one may fire up to 5 % early, which a 50 ms lamp can bear but an
// answer time-out should not), in tests TMBManualClock, whose timers fire in
// due order when the test moves the clock on.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class TMBTimer {
public:
    virtual ~TMBTimer() = default;
    // (Re)starts with the given interval in milliseconds.
    virtual void start(int ms) = 0;
    // (Re)starts with the current interval.
    virtual void start() = 0;
    virtual void stop() = 0;
    virtual bool isActive() const = 0;
    virtual int interval() const = 0;
    virtual void setInterval(int ms) = 0;
    virtual bool isSingleShot() const = 0;
    virtual void setSingleShot(bool singleShot) = 0;
    // Milliseconds until it fires, -1 when inactive.
    virtual int remainingTime() const = 0;

    // Called at every expiry (a single-shot timer is inactive by then).
    std::function<void()> onTimeout;
};

class TMBTimerFactory {
public:
    virtual ~TMBTimerFactory() = default;
    virtual std::unique_ptr<TMBTimer> createTimer() = 0;
    // Convenience: a stopped timer with its shape and callback set.
    std::unique_ptr<TMBTimer> createTimer(int intervalMs, bool singleShot, std::function<void()> onTimeout);
};

// Production timers: a timerfd in the creating thread's event loop, to the
// nanosecond (QTimer with Qt::PreciseTimer where no timerfd can be had).
class TMBQtTimerFactory : public TMBTimerFactory {
public:
    using TMBTimerFactory::createTimer;
    std::unique_ptr<TMBTimer> createTimer() override;
};

// A clock that only moves when told. Timers made by it fire in order of their
// due time (ties in the order they were started) while advance() passes over
// them; a callback may start, stop or destroy timers, including itself. The
// clock and its timers may be destroyed in either order.
class TMBManualClock : public TMBTimerFactory {
public:
    TMBManualClock();
    ~TMBManualClock() override;
    using TMBTimerFactory::createTimer;
    std::unique_ptr<TMBTimer> createTimer() override;

    // Milliseconds since the clock was made.
    std::int64_t now() const;
    // Moves the clock ms on, firing every timer that falls due on the way
    // (also those due exactly at the end, and those started at 0 ms).
    void advance(std::int64_t ms);
    void advanceTo(std::int64_t t);
    // Due time of the next timer to fire, if any is active.
    std::optional<std::int64_t> nextDue() const;
    // Jumps to the next due timer (not beyond now() + limitMs) and fires it and
    // everything else due at that moment. False when nothing fell due.
    bool fireNext(std::int64_t limitMs = INT64_MAX / 4);
    // Fires timers in due order until no single-shot timer is active (periodic
    // timers keep running but do not count) or limitMs have passed. True when
    // it became idle.
    bool runUntilIdle(std::int64_t limitMs = 3600 * 1000);
    // Fires timers in due order until pred() holds, checked before the first
    // and after every firing; at most limitMs on. True when pred() held.
    bool advanceUntil(const std::function<bool()>& pred, std::int64_t limitMs = 3600 * 1000);
    // Timers currently active.
    int activeTimerCount() const;

    struct Impl;

private:
    std::shared_ptr<Impl> d;
};
