// The rules for a session cut short: when its state is due, what the next start adds to the
// provider's stored totals, and what the user is told.
#include "accounting/session_recovery.h"
#include "core/regional.h"

#include <gtest/gtest.h>

namespace quorvane {
namespace {

DateTime Moment(int day, int hour, int minute, int second, int millisecond = 0) {
    return EncodeDate(2026, 3, day) + EncodeTime(hour, minute, second, millisecond);
}

TEST(SessionRecovery, TheStateIsDueEveryThirtySecondsOfTheTicksMoments) {
    const DateTime last = Moment(9, 10, 0, 0);
    struct Case {
        DateTime now;
        bool due;
    };
    const Case cases[] = {
        {last, false},
        {last + 29 * kOneSecond, false},
        {Moment(9, 10, 0, 29, 999), false},
        {last + 30 * kOneSecond, true},
        {last + 3600 * kOneSecond, true},
        {last - kOneSecond, true}, // the clock set back
    };
    for (const Case& c : cases)
        EXPECT_EQ(SessionStateDue(last, c.now), c.due) << FormatLongTime(c.now);
}

TEST(SessionRecovery, WhatTheStoredTotalsLackIsAddedAsAStopAtTheLastWriteWouldHave) {
    const TimerSet stored{false, 100, 200, 300, 4000};
    struct Case {
        const char* name;
        CutSession cut;
        std::optional<DateTime> storedFor;
        TimerSet totals;
        DateTime savedFor;
    };
    const Case cases[] = {
        {"nothing saved yet, the same day",
         {Moment(9, 10, 0, 0), Moment(9, 10, 1, 30), {90, 60, 30}, {}},
         Moment(9, 8, 0, 0),
         {false, 160, 230, 390, 4090},
         EncodeDate(2026, 3, 9)},
        {"a Save during the session holds part of it",
         {Moment(9, 10, 0, 0), Moment(9, 10, 1, 30), {90, 60, 30}, {60, 60, 0}},
         Moment(9, 10, 1, 0),
         {false, 100, 230, 330, 4030},
         EncodeDate(2026, 3, 9)},
        {"past midnight, the old day saved with its Today",
         {Moment(9, 23, 50, 0), Moment(10, 0, 10, 0), {1200, 0, 1200}, {600, 0, 600}},
         Moment(9, 0, 0, 0),
         {false, 100, 800, 600, 4600},
         EncodeDate(2026, 3, 10)},
        {"the last write on an earlier day keeps Today to that day",
         {Moment(8, 21, 0, 0), Moment(8, 22, 0, 0), {3600, 0, 3600}, {}},
         Moment(8, 9, 0, 0),
         {false, 100, 3800, 3900, 7600},
         EncodeDate(2026, 3, 8)},
        {"a failed midnight save: no more Today than since midnight",
         {Moment(9, 23, 50, 0), Moment(10, 0, 5, 0), {900, 0, 900}, {}},
         Moment(9, 0, 0, 0),
         {false, 100, 1100, 300, 4900},
         EncodeDate(2026, 3, 10)},
        {"saved without a day, the stored Today holds",
         {Moment(9, 10, 0, 0), Moment(9, 10, 0, 30), {30, 0, 30}, {}},
         std::nullopt,
         {false, 100, 230, 330, 4030},
         EncodeDate(2026, 3, 9)},
        {"dialling saved, then taken off when the delay was reached: never below 0",
         {Moment(9, 10, 0, 0), Moment(9, 10, 0, 40), {5, 5, 0}, {400, 400, 0}},
         Moment(9, 10, 0, 0),
         {false, 0, 200, 0, 3605},
         EncodeDate(2026, 3, 9)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const RecoveredTotals r = RecoverCutSession(c.cut, stored, c.storedFor);
        EXPECT_EQ(r.timers, c.totals);
        EXPECT_EQ(r.savedFor, c.savedFor);
    }
}

TEST(SessionRecovery, TheBytesTheStoredDataTotalsLackGoToTheLastWritesDay) {
    const TimerSet stored{false, 100, 200, 300, 4000};
    const DataTotals storedData{{1000, 100}, {50000, 5000}};
    struct Case {
        const char* name;
        DataBytes counted, saved;
        std::optional<DateTime> storedFor;
        DataTotals data;
    };
    const Case cases[] = {
        {"nothing saved yet", {700, 70}, {}, Moment(9, 8, 0, 0), {{1700, 170}, {50700, 5070}}},
        {"a save held part of it", {700, 70}, {500, 70}, Moment(9, 8, 0, 0),
         {{1200, 100}, {50200, 5000}}},
        {"the stored Today is another day's", {700, 70}, {500, 0}, Moment(8, 8, 0, 0),
         {{200, 70}, {50200, 5070}}},
        {"saved counts above the counted ones add nothing", {10, 10}, {20, 20}, Moment(9, 8, 0, 0),
         storedData},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CutSession cut{Moment(9, 10, 0, 0), Moment(9, 10, 1, 30), {90, 0, 0}, {}};
        cut.countedBytes = c.counted;
        cut.savedBytes = c.saved;
        EXPECT_EQ(RecoverCutSession(cut, stored, c.storedFor, storedData).data, c.data);
    }
}

TEST(SessionRecovery, TheUserIsToldTheSessionsDateAndLength) {
    Regional() = RegionalSettings{};
    const CutSession cut{Moment(9, 23, 50, 0), Moment(10, 0, 10, 30), {1230, 0, 0}, {600, 0, 0}};
    EXPECT_EQ(RecoveredSessionMessage("Dial Net", cut),
              "A session of 03/09/2026 with Dial Net was cut short: Quorvane or the computer "
              "stopped while it ran.\r\n\r\nIts time, 000:20:30 up to 12:10:30 AM, has been "
              "recovered and added to the timers.");
    EXPECT_EQ(RecoveredSessionMessage("  ", cut).substr(0, 40),
              "A session of 03/09/2026 was cut short: Q");
}

} // namespace
} // namespace quorvane
