// The day and billing-cycle decisions on a moved clock: every new day, every cycle once, short
// months and year ends, and records that are missing or cannot be right.

#include "accounting/rollover.h"
#include "core/clock.h"
#include "core/regional.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <vector>

namespace quorvane {
namespace {

DateTime Day(int year, int month, int day) {
    return EncodeDate(year, month, day);
}

class RolloverTest : public testing::Test {
protected:
    void SetUp() override { Regional() = RegionalSettings{}; }
    void TearDown() override { Regional() = saved_; }

    // Today's date as the checks take it from the clock.
    DateTime Today() const { return DateOf(Now()); }

    ManualClock clock_{Day(2026, 3, 9) + EncodeTime(10, 0, 0)};
    RegionalSettings saved_ = Regional();
};

TEST_F(RolloverTest, EveryOtherDateIsANewDay) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        const char* name;
        std::optional<DateTime> lastDate;
        DateTime now;
        bool newDay, store;
    };
    const Case cases[] = {
        {"first run", std::nullopt, Day(2026, 3, 9) + EncodeTime(10, 0, 0), false, true},
        {"same day, later", Day(2026, 3, 9), Day(2026, 3, 9) + EncodeTime(23, 59, 59), false,
         false},
        {"next day", Day(2026, 3, 9), Day(2026, 3, 10), true, true},
        {"next day, a second after midnight", Day(2026, 3, 9),
         Day(2026, 3, 10) + EncodeTime(0, 0, 1), true, true},
        {"clock set back a day", Day(2026, 3, 9), Day(2026, 3, 8) + EncodeTime(12, 0, 0), true,
         true},
        {"new year", Day(2026, 12, 31), Day(2027, 1, 1), true, true},
        {"a month away", Day(2026, 1, 31), Day(2026, 3, 1), true, true},
        {"stored with a time of day", Day(2026, 3, 9) + 0.5, Day(2026, 3, 9), false, false},
        {"stored value not a date", nan, Day(2026, 3, 9), true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        clock_.Set(c.now);
        const NewDayDecision d = DecideNewDay(c.lastDate, Today());
        EXPECT_EQ(d.newDay, c.newDay);
        EXPECT_EQ(d.store, c.store);
    }
}

TEST_F(RolloverTest, NewDayAtEveryStartOnAnotherDay) {
    // The old flag stopped at the first new day; a week of starts reports each day once.
    std::optional<DateTime> lastDate;
    std::vector<bool> reported;
    for (int day = 25; day <= 35; ++day) {
        for (const int hour : {8, 20}) {
            clock_.Set(Day(2026, 12, 1) + (day - 1) + EncodeTime(hour, 0, 0));
            const NewDayDecision d = DecideNewDay(lastDate, Today());
            if (d.store)
                lastDate = Today();
            reported.push_back(d.newDay);
        }
    }
    std::vector<bool> expected(22, false);
    for (std::size_t i = 2; i < expected.size(); i += 2)
        expected[i] = true;
    EXPECT_EQ(reported, expected);
    EXPECT_EQ(lastDate, Day(2027, 1, 4));
}

TEST_F(RolloverTest, CycleStartsOnTheCycleDayOrTheMonthsLastDay) {
    struct Case {
        int cycleDay;
        DateTime today;
        std::optional<DateTime> start;
    };
    const Case cases[] = {
        {15, Day(2026, 3, 15), Day(2026, 3, 15)},   {15, Day(2026, 3, 20), Day(2026, 3, 15)},
        {15, Day(2026, 3, 14), Day(2026, 2, 15)},   {15, Day(2026, 1, 5), Day(2025, 12, 15)},
        {1, Day(2026, 1, 1), Day(2026, 1, 1)},      {31, Day(2026, 4, 30), Day(2026, 4, 30)},
        {31, Day(2026, 4, 29), Day(2026, 3, 31)},   {31, Day(2026, 5, 1), Day(2026, 4, 30)},
        {31, Day(2024, 2, 29), Day(2024, 2, 29)},   {31, Day(2024, 3, 1), Day(2024, 2, 29)},
        {30, Day(2026, 2, 28), Day(2026, 2, 28)},   {29, Day(2026, 3, 1), Day(2026, 2, 28)},
        {29, Day(2028, 2, 29), Day(2028, 2, 29)},   {29, Day(2100, 2, 28), Day(2100, 2, 28)},
        {31, Day(2026, 12, 31), Day(2026, 12, 31)}, {31, Day(2027, 1, 30), Day(2026, 12, 31)},
        {0, Day(2026, 3, 1), std::nullopt},         {32, Day(2026, 3, 1), std::nullopt},
        {-1, Day(2026, 3, 1), std::nullopt},
    };
    for (const Case& c : cases) {
        clock_.Set(c.today + EncodeTime(18, 30, 0));
        EXPECT_EQ(CycleStart(c.cycleDay, Now()), c.start)
            << "cycle day " << c.cycleDay << " on " << FormatShortDate(c.today);
    }
}

TEST_F(RolloverTest, CycleClearsOnceForWhatBeganSinceTheLastClear) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        const char* name;
        int cycleDay;
        std::optional<DateTime> lastClear;
        DateTime today;
        bool clear;
        std::optional<DateTime> record;
        const char* message;
    };
    const Case cases[] = {
        {"on the cycle day", 15, Day(2026, 2, 15), Day(2026, 3, 15), true, Day(2026, 3, 15),
         "Since today is day 15, all Timers have been cleared."},
        {"again on the same day", 15, Day(2026, 3, 15), Day(2026, 3, 15), false, std::nullopt, ""},
        {"later in the same cycle", 15, Day(2026, 3, 15), Day(2026, 4, 14), false, std::nullopt,
         ""},
        {"the program did not run on the cycle day", 15, Day(2026, 2, 15), Day(2026, 3, 18), true,
         Day(2026, 3, 15),
         "Since a new billing cycle began on 03/15/2026, all Timers have been "
         "cleared."},
        {"three cycles missed, cleared once", 15, Day(2025, 12, 15), Day(2026, 3, 20), true,
         Day(2026, 3, 15),
         "Since a new billing cycle began on 03/15/2026, all Timers have been "
         "cleared."},
        {"over the year's end", 20, Day(2026, 11, 20), Day(2027, 1, 2), true, Day(2026, 12, 20),
         "Since a new billing cycle began on 12/20/2026, all Timers have been cleared."},
        {"cycle day 31 in April", 31, Day(2026, 3, 31), Day(2026, 4, 30), true, Day(2026, 4, 30),
         "Since today is day 30, all Timers have been cleared."},
        {"cycle day 31 in a leap February, seen in March", 31, Day(2024, 1, 31), Day(2024, 3, 2),
         true, Day(2024, 2, 29),
         "Since a new billing cycle began on 02/29/2024, all Timers have been cleared."},
        {"cycle day 0", 0, Day(2026, 1, 1), Day(2026, 3, 15), false, std::nullopt, ""},
        {"no record, on the cycle day", 15, std::nullopt, Day(2026, 3, 15), true, Day(2026, 3, 15),
         "Since today is day 15, all Timers have been cleared."},
        {"no record, another day", 15, std::nullopt, Day(2026, 3, 18), false, Day(2026, 3, 15), ""},
        {"no record, cycle day 31 on 28 February", 31, std::nullopt, Day(2026, 2, 28), true,
         Day(2026, 2, 28), "Since today is day 28, all Timers have been cleared."},
        {"record after today: the clock was wrong", 15, Day(2030, 1, 15), Day(2026, 3, 18), false,
         Day(2026, 3, 15), ""},
        {"record not a date", 15, nan, Day(2026, 3, 15), true, Day(2026, 3, 15),
         "Since today is day 15, all Timers have been cleared."},
        {"cycle day moved later", 20, Day(2026, 3, 15), Day(2026, 3, 17), false, std::nullopt, ""},
        {"cycle day moved earlier", 10, Day(2026, 3, 15), Day(2026, 4, 10), true, Day(2026, 4, 10),
         "Since today is day 10, all Timers have been cleared."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        clock_.Set(c.today + EncodeTime(9, 0, 0));
        const CycleDecision d = DecideCycleClear(c.cycleDay, c.lastClear, Now());
        EXPECT_EQ(d.clear, c.clear);
        EXPECT_EQ(d.record, c.record);
        EXPECT_EQ(d.message, c.message);
    }
}

TEST_F(RolloverTest, MissedCycleIsNamedInTheShortDateFormat) {
    Regional().shortDateFormat = "%d.%m.%Y";
    clock_.Set(Day(2026, 5, 3));
    EXPECT_EQ(DecideCycleClear(31, Day(2026, 3, 31), Now()).message,
              "Since a new billing cycle began on 30.04.2026, all Timers have been cleared.");
}

// Starts on chosen days over more than a year, each feeding the recorded clear to the next: every
// cycle clears exactly once, on its first start, whether or not that was the cycle day.
TEST_F(RolloverTest, EveryCycleClearsOnceOverAYearOfStarts) {
    struct Start {
        DateTime day;
        bool clear;
    };
    const Start starts[] = {
        {Day(2026, 1, 10), false}, // first check: the cycle of 31 December is taken as cleared
        {Day(2026, 1, 31), true},  {Day(2026, 1, 31), false}, {Day(2026, 2, 27), false},
        {Day(2026, 2, 28), true},  {Day(2026, 3, 30), false}, {Day(2026, 4, 2), true},
        {Day(2026, 4, 30), true},  {Day(2026, 7, 4), true},   {Day(2026, 7, 30), false},
        {Day(2026, 7, 31), true},  {Day(2027, 1, 1), true},   {Day(2027, 2, 28), true},
        {Day(2028, 2, 28), true},  {Day(2028, 2, 29), true},  {Day(2028, 3, 1), false},
    };
    std::optional<DateTime> lastClear;
    for (const Start& s : starts) {
        clock_.Set(s.day + EncodeTime(7, 45, 0));
        const CycleDecision d = DecideCycleClear(31, lastClear, Now());
        EXPECT_EQ(d.clear, s.clear) << FormatShortDate(s.day);
        if (d.record)
            lastClear = d.record;
    }
    EXPECT_EQ(lastClear, Day(2028, 2, 29));
}

TEST_F(RolloverTest, StoredTodayHoldsOnlyOnItsOwnDay) {
    struct Case {
        std::optional<DateTime> savedOn;
        DateTime now;
        bool holds;
    };
    const Case cases[] = {
        {Day(2026, 3, 9), Day(2026, 3, 9) + EncodeTime(23, 0, 0), true},
        {Day(2026, 3, 8), Day(2026, 3, 9) + EncodeTime(0, 0, 1), false},
        {Day(2025, 3, 9), Day(2026, 3, 9), false},
        {Day(2026, 3, 10), Day(2026, 3, 9), false},
        {std::nullopt, Day(2026, 3, 9), true},
    };
    for (const Case& c : cases) {
        clock_.Set(c.now);
        EXPECT_EQ(StoredTodayHolds(c.savedOn, Now()), c.holds) << FormatShortDate(c.now);
    }
}

TEST_F(RolloverTest, ChecksRunAgainWhenTheDateMoves) {
    struct Case {
        const char* name;
        DateTime previous, now;
        bool due;
    };
    const DateTime evening = Day(2026, 3, 9) + EncodeTime(23, 59, 59);
    const Case cases[] = {
        {"a second later", evening - kOneSecond, evening, false},
        {"midnight", evening, evening + kOneSecond, true},
        {"a late timer, past midnight", evening - 30 * kOneSecond,
         Day(2026, 3, 10) + EncodeTime(0, 0, 40), true},
        {"resumed two days later", Day(2026, 3, 9) + EncodeTime(22, 0, 0),
         Day(2026, 3, 11) + EncodeTime(8, 0, 0), true},
        {"clock set back over midnight", Day(2026, 3, 9) + EncodeTime(0, 10, 0),
         Day(2026, 3, 8) + EncodeTime(23, 50, 0), true},
        {"clock set within the day", Day(2026, 3, 9) + EncodeTime(9, 0, 0),
         Day(2026, 3, 9) + EncodeTime(17, 0, 0), false},
        {"new year", Day(2026, 12, 31) + EncodeTime(23, 59, 59), Day(2027, 1, 1), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        clock_.Set(c.previous);
        const DateTime previous = Now();
        clock_.Set(c.now);
        EXPECT_EQ(RolloverDue(previous, Now()), c.due);
    }
}

} // namespace
} // namespace quorvane
