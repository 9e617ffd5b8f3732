#include "MBTimer.h"

#include <QSocketNotifier>
#include <QTimer>

#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>

std::unique_ptr<TMBTimer> TMBTimerFactory::createTimer(int intervalMs, bool singleShot,
                                                       std::function<void()> onTimeout) {
    auto t = createTimer();
    t->setInterval(intervalMs);
    t->setSingleShot(singleShot);
    t->onTimeout = std::move(onTimeout);
    return t;
}

// ---- production timers ----------------------------------------------------------

namespace {

// A timerfd watched by the event loop. Qt's own timers wait in whole
// milliseconds in the default (GLib) event loop and so fire up to a
// millisecond late; the start delay is on the poll cycle's critical path
// every 20 ms, so these wake at their nanosecond instead. Never early: a
// single shot is armed at an absolute monotonic time no sooner than its
// start plus its interval.
//
// A single shot restarted to a moment a little later than the kernel's
// timer is set for (the R lamp relit for every batch of an answer) only
// moves its due time here; when the kernel's timer goes off before that, it
// is set again for the rest. A restart that moves the due time by a quarter
// of the interval or more sets the kernel's timer at once: a timer restarted
// once a cycle (the T lamp at each request) would otherwise wake the program
// every cycle only to be set again. A single shot that is stopped leaves the
// kernel's timer set: the answer time-out is stopped by every answer and
// started again by the next request, which then costs no system call; if it
// goes off meanwhile, it finds the timer stopped and does nothing. Each
// saves system calls or wake-ups on the poll cycle's path.
class TFdTimer final : public TMBTimer {
public:
    explicit TFdTimer(int fd) : FFd(fd), FNotifier(fd, QSocketNotifier::Read) {
        QObject::connect(&FNotifier, &QSocketNotifier::activated, [this] { Expired(); });
    }
    ~TFdTimer() override { ::close(FFd); }
    void start(int ms) override {
        FInterval = std::max(0, ms);
        start();
    }
    void start() override {
        // A zero interval would disarm the timerfd: one nanosecond instead.
        const std::int64_t ns = std::max<std::int64_t>(1, 1000000LL * FInterval);
        FActive = true;
        FDue = Now() + ns;
        if (!FSingleShot) {
            itimerspec due{};
            due.it_value = ToTimespec(ns);
            due.it_interval = due.it_value;
            ::timerfd_settime(FFd, 0, &due, nullptr); // also forgets expirations not yet read
            FArmedAt = kPeriodic;
            return;
        }
        if (FArmedAt >= 0 && FArmedAt <= FDue && FDue - FArmedAt < ns / 4)
            return; // goes off first and is set again for the rest
        Arm(FDue);
    }
    void stop() override {
        FActive = false;
        if (FArmedAt == kPeriodic)
            Disarm();
    }
    bool isActive() const override { return FActive; }
    int interval() const override { return FInterval; }
    void setInterval(int ms) override {
        FInterval = std::max(0, ms);
        if (FActive) // as QTimer: a running timer restarts with the new interval
            start();
    }
    bool isSingleShot() const override { return FSingleShot; }
    void setSingleShot(bool s) override { FSingleShot = s; }
    int remainingTime() const override {
        if (!FActive)
            return -1;
        if (FArmedAt == kPeriodic) { // the kernel knows the next expiry
            itimerspec now{};
            if (::timerfd_gettime(FFd, &now) != 0)
                return 0;
            return static_cast<int>(now.it_value.tv_sec * 1000 + now.it_value.tv_nsec / 1000000);
        }
        return static_cast<int>(std::max<std::int64_t>(0, FDue - Now()) / 1000000);
    }

private:
    // steady_clock is CLOCK_MONOTONIC, the clock the timerfd counts in.
    static std::int64_t Now() {
        return std::chrono::duration_cast<std::chrono::nanoseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
    static timespec ToTimespec(std::int64_t ns) {
        return {static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
    }
    void Arm(std::int64_t at) {
        itimerspec due{};
        due.it_value = ToTimespec(std::max<std::int64_t>(1, at));
        ::timerfd_settime(FFd, TFD_TIMER_ABSTIME, &due, nullptr); // also forgets expirations not yet read
        FArmedAt = at;
    }
    void Disarm() {
        const itimerspec off{};
        ::timerfd_settime(FFd, 0, &off, nullptr);
        FArmedAt = kNotSet;
    }
    void Expired() {
        std::uint64_t expirations = 0;
        // Nothing to read: the timer was stopped or restarted after the loop
        // saw it ready.
        if (::read(FFd, &expirations, sizeof expirations) != sizeof expirations)
            return;
        if (!FActive) { // stopped since it was set
            if (FArmedAt != kPeriodic)
                FArmedAt = kNotSet;
            return;
        }
        if (FSingleShot) {
            if (FArmedAt == kPeriodic) // made a single shot while it ran periodic
                Disarm();
            FArmedAt = kNotSet;
            if (Now() < FDue) { // restarted since it was set: not yet
                Arm(FDue);
                return;
            }
            FActive = false;
        }
        // A copy: the callback may replace or destroy what it belongs to.
        if (auto cb = onTimeout)
            cb();
    }

    int FFd;
    QSocketNotifier FNotifier;
    int FInterval = 0;
    bool FSingleShot = false;
    bool FActive = false;
    // When the kernel's timer goes off (monotonic ns) if it is a single shot
    // set by Arm; else one of these.
    static constexpr std::int64_t kPeriodic = -1, kNotSet = -2;
    std::int64_t FArmedAt = kNotSet;
    std::int64_t FDue = 0; // when this timer is due (monotonic ns)
};

// Where no timerfd can be had: QTimer, Qt::PreciseTimer.
class TQtTimer final : public TMBTimer {
public:
    TQtTimer() {
        FTimer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&FTimer, &QTimer::timeout, [this] {
            // A copy: the callback may replace or destroy what it belongs to.
            if (auto cb = onTimeout)
                cb();
        });
    }
    void start(int ms) override { FTimer.start(std::max(0, ms)); }
    void start() override { FTimer.start(); }
    void stop() override { FTimer.stop(); }
    bool isActive() const override { return FTimer.isActive(); }
    int interval() const override { return FTimer.interval(); }
    void setInterval(int ms) override { FTimer.setInterval(std::max(0, ms)); }
    bool isSingleShot() const override { return FTimer.isSingleShot(); }
    void setSingleShot(bool s) override { FTimer.setSingleShot(s); }
    int remainingTime() const override { return FTimer.remainingTime(); }

private:
    QTimer FTimer;
};

} // namespace

std::unique_ptr<TMBTimer> TMBQtTimerFactory::createTimer() {
    const int fd = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (fd >= 0)
        return std::make_unique<TFdTimer>(fd);
    return std::make_unique<TQtTimer>();
}

// ---- manual clock -------------------------------------------------------------------

namespace {
class TManualTimer;
}

struct TMBManualClock::Impl {
    std::int64_t now = 0;
    std::uint64_t seq = 0;
    std::vector<TManualTimer*> timers;

    TManualTimer* Next() const;
    bool FireOne(std::int64_t until);
};

namespace {

class TManualTimer final : public TMBTimer {
public:
    explicit TManualTimer(std::shared_ptr<TMBManualClock::Impl> clock) : FClock(std::move(clock)) {
        FClock->timers.push_back(this);
    }
    ~TManualTimer() override {
        auto& v = FClock->timers;
        v.erase(std::remove(v.begin(), v.end(), this), v.end());
    }
    void start(int ms) override {
        FInterval = std::max(0, ms);
        start();
    }
    void start() override {
        FActive = true;
        FDue = FClock->now + FInterval;
        FSeq = ++FClock->seq;
    }
    void stop() override { FActive = false; }
    bool isActive() const override { return FActive; }
    int interval() const override { return FInterval; }
    void setInterval(int ms) override {
        FInterval = std::max(0, ms);
        if (FActive) // as QTimer: a running timer restarts with the new interval
            start();
    }
    bool isSingleShot() const override { return FSingleShot; }
    void setSingleShot(bool s) override { FSingleShot = s; }
    int remainingTime() const override {
        return FActive ? static_cast<int>(std::max<std::int64_t>(0, FDue - FClock->now)) : -1;
    }

    std::shared_ptr<TMBManualClock::Impl> FClock;
    bool FActive = false;
    bool FSingleShot = false;
    int FInterval = 0;
    std::int64_t FDue = 0;
    std::uint64_t FSeq = 0;
};

} // namespace

TManualTimer* TMBManualClock::Impl::Next() const {
    TManualTimer* best = nullptr;
    for (TManualTimer* t : timers)
        if (t->FActive && (!best || t->FDue < best->FDue || (t->FDue == best->FDue && t->FSeq < best->FSeq)))
            best = t;
    return best;
}

bool TMBManualClock::Impl::FireOne(std::int64_t until) {
    TManualTimer* t = Next();
    if (!t || t->FDue > until)
        return false;
    now = std::max(now, t->FDue);
    if (t->FSingleShot) {
        t->FActive = false;
    } else {
        t->FDue += std::max(1, t->FInterval);
        t->FSeq = ++seq;
    }
    if (auto cb = t->onTimeout)
        cb();
    return true;
}

TMBManualClock::TMBManualClock() : d(std::make_shared<Impl>()) {}
TMBManualClock::~TMBManualClock() = default;

std::unique_ptr<TMBTimer> TMBManualClock::createTimer() { return std::make_unique<TManualTimer>(d); }

std::int64_t TMBManualClock::now() const { return d->now; }

void TMBManualClock::advanceTo(std::int64_t t) {
    while (d->FireOne(t)) {
    }
    d->now = std::max(d->now, t);
}

void TMBManualClock::advance(std::int64_t ms) { advanceTo(d->now + std::max<std::int64_t>(0, ms)); }

std::optional<std::int64_t> TMBManualClock::nextDue() const {
    if (const TManualTimer* t = d->Next())
        return t->FDue;
    return std::nullopt;
}

bool TMBManualClock::fireNext(std::int64_t limitMs) {
    const auto due = nextDue();
    if (!due || *due > d->now + limitMs)
        return false;
    advanceTo(*due);
    return true;
}

bool TMBManualClock::runUntilIdle(std::int64_t limitMs) {
    const std::int64_t end = d->now + limitMs;
    for (;;) {
        const bool oneShotPending = std::any_of(d->timers.begin(), d->timers.end(),
                                                [](const TManualTimer* t) { return t->FActive && t->FSingleShot; });
        if (!oneShotPending)
            return true;
        if (!d->FireOne(end)) {
            d->now = std::max(d->now, end);
            return false;
        }
    }
}

bool TMBManualClock::advanceUntil(const std::function<bool()>& pred, std::int64_t limitMs) {
    const std::int64_t end = d->now + limitMs;
    while (!pred()) {
        if (!d->FireOne(end)) {
            d->now = std::max(d->now, end);
            return pred();
        }
    }
    return true;
}

int TMBManualClock::activeTimerCount() const {
    return static_cast<int>(
        std::count_if(d->timers.begin(), d->timers.end(), [](const TManualTimer* t) { return t->FActive; }));
}
