// The manual clock that every timed test of the link relies on.
#include "MBTimer.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(ManualClock, FiresInDueOrderWithTiesInStartOrder) {
    TMBManualClock clock;
    std::string log;
    auto a = clock.createTimer(30, true, [&] { log += "a" + std::to_string(clock.now()) + " "; });
    auto b = clock.createTimer(10, true, [&] { log += "b" + std::to_string(clock.now()) + " "; });
    auto c = clock.createTimer(30, true, [&] { log += "c" + std::to_string(clock.now()) + " "; });
    auto p = clock.createTimer(25, false, [&] { log += "p" + std::to_string(clock.now()) + " "; });
    a->start();
    b->start();
    c->start();
    p->start();
    clock.advance(29);
    EXPECT_EQ(log, "b10 p25 ");
    clock.advance(21);
    EXPECT_EQ(log, "b10 p25 a30 c30 p50 ");
    EXPECT_EQ(clock.now(), 50);
    EXPECT_FALSE(a->isActive());
    EXPECT_TRUE(p->isActive());
    EXPECT_EQ(p->remainingTime(), 25);
    EXPECT_EQ(a->remainingTime(), -1);
}

TEST(ManualClock, CallbacksMayRestartStopAndDestroy) {
    TMBManualClock clock;
    int fired = 0;
    std::unique_ptr<TMBTimer> self;
    auto victim = clock.createTimer(5, true, [&] { ADD_FAILURE() << "stopped timer fired"; });
    self = clock.createTimer(5, true, [&] {
        if (++fired < 3) {
            self->start(); // a chain of one-shots
        } else {
            victim->stop();
            self.reset(); // destroys the timer whose callback runs
        }
    });
    self->start();
    victim->start(20);
    clock.advance(100);
    EXPECT_EQ(fired, 3);
    EXPECT_EQ(clock.activeTimerCount(), 0);
}

TEST(ManualClock, ZeroIntervalFiresAtTheNextAdvance) {
    TMBManualClock clock;
    int fired = 0;
    auto t = clock.createTimer(0, true, [&] { ++fired; });
    t->start();
    EXPECT_EQ(fired, 0);
    clock.advance(0);
    EXPECT_EQ(fired, 1);
}

TEST(ManualClock, Helpers) {
    TMBManualClock clock;
    int ticks = 0, shots = 0;
    auto periodic = clock.createTimer(1000, false, [&] { ++ticks; });
    auto shot = clock.createTimer(1500, true, [&] { ++shots; });
    periodic->start();
    shot->start();
    EXPECT_EQ(clock.nextDue(), 1000);
    EXPECT_TRUE(clock.fireNext());
    EXPECT_EQ(clock.now(), 1000);
    EXPECT_TRUE(clock.runUntilIdle());
    EXPECT_EQ(clock.now(), 1500);
    EXPECT_EQ(shots, 1);
    EXPECT_TRUE(clock.advanceUntil([&] { return ticks == 5; }));
    EXPECT_EQ(clock.now(), 5000);
    EXPECT_FALSE(clock.advanceUntil([] { return false; }, 10));
    EXPECT_EQ(clock.now(), 5010);
    shot->start(10000);
    EXPECT_FALSE(clock.runUntilIdle(100));
    EXPECT_EQ(clock.now(), 5110);
}

TEST(ManualClock, ClockMayDieBeforeItsTimers) {
    std::unique_ptr<TMBTimer> t;
    {
        TMBManualClock clock;
        t = clock.createTimer(5, true, [] {});
        t->start();
    }
    EXPECT_TRUE(t->isActive());
    t->stop();
    t.reset();
}

} // namespace
