#include "accounting/timevalues.h"
#include "core/clock.h"

#include <gtest/gtest.h>

#include <climits>

namespace quorvane {
namespace {

TEST(DurationText, FormsOfTheText) {
    const std::pair<Duration, const char*> cases[] = {
        {0, "000:00:00"},        {59, "000:00:59"},          {60, "000:01:00"},
        {1801, "000:30:01"},     {3599, "000:59:59"},        {3600, "001:00:00"},
        {5400, "001:30:00"},     {86399, "023:59:59"},       {360000, "100:00:00"},
        {3600000, "1000:00:00"}, {INT_MAX, "596523:14:07"},  {-3605, "-001:00:05"},
        {-59, "-000:00:59"},     {INT_MIN, "-596523:14:08"},
    };
    for (const auto& [seconds, text] : cases) {
        EXPECT_EQ(DurationText(seconds), text) << seconds;
        EXPECT_EQ(std::get<std::string>(DurationPart(seconds, 3)), text) << seconds;
    }
}

TEST(DurationPart, NumericSelectors) {
    EXPECT_EQ(std::get<std::int32_t>(DurationPart(45296, 0)), 12);
    EXPECT_EQ(std::get<std::int32_t>(DurationPart(45296, 1)), 34);
    EXPECT_EQ(std::get<std::int32_t>(DurationPart(45296, 2)), 56);
    EXPECT_EQ(FormatDuration(7, 5, 3), "007:05:03");
    EXPECT_EQ(FormatDuration(1234, 0, 0), "1234:00:00");
}

TEST(SecondsSince, WrapsWithinOneDayAndIgnoresDirection) {
    const DateTime base = EncodeDate(2026, 12, 10) + EncodeTime(14, 0, 0);
    ManualClock clock(base);
    EXPECT_EQ(SecondsSince(base), 0);
    EXPECT_EQ(SecondsSince(base - 25.0 / 24.0), 3600);
    EXPECT_EQ(SecondsSince(base + 10.0 / 1440.0), 600);
    clock.AdvanceSeconds(5.999);
    EXPECT_EQ(SecondsSince(base), 5); // leftover milliseconds are dropped
}

TEST(ClearTimers, KeepsTheAlarmFlag) {
    TimerSet t{true, 1, 2, 3, 4};
    ClearTimers(t);
    EXPECT_EQ(t, (TimerSet{true, 0, 0, 0, 0}));
}

} // namespace
} // namespace quorvane
