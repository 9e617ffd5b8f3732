#include "LocalDate.h"

#include <gtest/gtest.h>

namespace {

// The system is asked at the first poll, again once a second has passed, and
// at once when the clock went back; polls in between get the date asked last.
TEST(LocalDate, AskedAtMostOncePerSecond) {
    int asked = 0;
    double clock = 100.0;
    QDate today(2026, 12, 31);
    auto date = kv::DateAskedOncePerSecond([&] { return ++asked, today; }, [&] { return clock; });
    const struct {
        double at;
        QDate systemDate;
        int askedAfter;
        QDate expected;
    } steps[] = {
        {100.0, {2026, 12, 31}, 1, {2026, 12, 31}}, {100.5, {2027, 1, 1}, 1, {2026, 12, 31}},
        {100.999, {2027, 1, 1}, 1, {2026, 12, 31}}, {101.0, {2027, 1, 1}, 2, {2027, 1, 1}},
        {50.0, {2027, 1, 2}, 3, {2027, 1, 2}},
    };
    for (const auto& s : steps) {
        clock = s.at;
        today = s.systemDate;
        EXPECT_EQ(date(), s.expected) << "at " << s.at;
        EXPECT_EQ(asked, s.askedAfter) << "at " << s.at;
    }
}

} // namespace
