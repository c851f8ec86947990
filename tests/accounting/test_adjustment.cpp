// Timer adjustment: the page's arithmetic and read-outs, no negative time ever stored, and an
// adjustment or Clear All carried into a running session on a moved clock.

#include "accounting/adjustment.h"
#include "accounting/session_tick.h"
#include "core/clock.h"

#include <gtest/gtest.h>

#include <climits>
#include <vector>

namespace quorvane {
namespace {

TEST(TimerAdjustment, ReadOutsOfThePage) {
    struct Case {
        const char* name;
        Duration current;
        int hours, minutes;
        const char* adjusted;
        bool enabled;
    };
    const Case cases[] = {
        {"hours up", 3600, 2, 0, "003:00:00", true},
        {"minutes that would go below zero are dropped", 1200, 0, -30, "000:20:00", true},
        {"minutes down to zero", 1200, 0, -20, "000:00:00", true},
        {"hours dropped, minutes kept", 18000, -999, 15, "005:15:00", true},
        {"both at 0", 5400, 0, 0, "001:30:00", false},
        {"two parts that fit alone but not together", 3600, -1, -1, "000:00:00", true},
        {"the same, further below", 5400, -1, -45, "000:00:00", true},
        {"both parts down to exactly zero", 5400, -1, -30, "000:00:00", true},
        {"the largest spin values", 0, 999, 999, "1015:39:00", true},
        {"never past the largest value", INT_MAX, 999, 0, "596523:14:07", true},
        {"a negative stored value raised", -100, 1, 0, "000:58:20", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const AdjustmentReadout r = ReadAdjustment(c.current, c.hours, c.minutes);
        EXPECT_EQ(r.currentText, DurationText(c.current));
        EXPECT_EQ(r.adjustedText, c.adjusted);
        EXPECT_EQ(DurationText(r.adjusted), c.adjusted);
        EXPECT_GE(r.adjusted, 0);
        EXPECT_EQ(r.adjustEnabled, c.enabled);
    }
}

TEST(TimerAdjustment, AdjustChangesTheSelectedTotalOnly) {
    const TimerSet before{true, 100, 200, 300, 4000};
    struct Case {
        AdjustableTimer which;
        TimerSet after;
    };
    const Case cases[] = {
        {AdjustableTimer::Today, {true, 100, 200, 3960, 4000}},
        {AdjustableTimer::TotalTime, {true, 100, 200, 300, 7660}},
        {AdjustableTimer::InsidePeak, {true, 3760, 200, 300, 4000}},
        {AdjustableTimer::OutsidePeak, {true, 100, 3860, 300, 4000}},
    };
    for (const Case& c : cases) {
        TimerSet timers = before;
        ApplyAdjustment(timers, c.which, 1, 1);
        EXPECT_EQ(timers, c.after) << static_cast<int>(c.which);
        ApplyAdjustment(timers, c.which, 0, 0);
        EXPECT_EQ(timers, c.after) << "both parts 0 change nothing";
        ApplyAdjustment(timers, c.which, -2, -2);
        EXPECT_GE(TimerOf(timers, c.which), 0);
    }
}

// A session on a moved clock, one tick a second from its first, as tOnLine calls the tick.
class AdjustDuringSessionTest : public testing::Test {
protected:
    void Start(DateTime first) {
        first_ = first;
        clock_.Set(first);
        tick_.Tick(Now(), true, inputs_, [this] { saves_.push_back(timers_); });
    }
    void RunTo(int second) {
        for (int at = last_ + 1; at <= second; ++at) {
            clock_.Set(first_ + at * kOneSecond);
            tick_.Tick(Now(), false, inputs_, [this] { saves_.push_back(timers_); });
        }
        last_ = second;
    }
    // The clock set back to `second`, and the tick there.
    void TickBackAt(int second) {
        clock_.Set(first_ + second * kOneSecond);
        tick_.Tick(Now(), false, inputs_, {});
    }

    ManualClock clock_{EncodeDate(2026, 3, 9)};
    TimerSet timers_{false, 100, 200, 300, 4000};
    SessionTick tick_{timers_};
    SessionTickInputs inputs_{true, EncodeTime(8, 0, 0), EncodeTime(18, 0, 0)};
    std::vector<TimerSet> saves_;
    DateTime first_ = 0.0;
    int last_ = 0;
};

TEST_F(AdjustDuringSessionTest, AdjustmentGoesOnCountingFromTheAdjustedValue) {
    struct Case {
        AdjustableTimer which;
        TimerSet atAdjust; // 70 s into the session, 10:01:10, inside the peak period
        TimerSet atStop;   // 30 s later, settled for the save
    };
    const Case cases[] = {
        {AdjustableTimer::Today, {false, 170, 200, 3970, 4070}, {false, 200, 200, 4000, 4100}},
        {AdjustableTimer::TotalTime, {false, 170, 200, 370, 7670}, {false, 200, 200, 400, 7700}},
        {AdjustableTimer::InsidePeak, {false, 3770, 200, 370, 4070}, {false, 3800, 200, 400, 4100}},
        {AdjustableTimer::OutsidePeak,
         {false, 170, 3800, 370, 4070},
         {false, 200, 3800, 400, 4100}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.which));
        timers_ = {false, 100, 200, 300, 4000};
        last_ = 0;
        Start(EncodeDate(2026, 3, 9) + EncodeTime(10, 0, 0));
        RunTo(10); // the page is entered here and +1 hour chosen; the session goes on
        RunTo(70);
        // Adjust reckons from what the total holds now, not from what the page took at +10.
        ApplyAdjustment(timers_, c.which, 1, 0);
        tick_.TotalsChanged();
        EXPECT_EQ(timers_, c.atAdjust);
        RunTo(100);
        tick_.SettleForSave();
        EXPECT_EQ(timers_, c.atStop);
        EXPECT_EQ(tick_.Values().Elapsed, 100);
    }
}

TEST_F(AdjustDuringSessionTest, ClearAllDuringASessionCountsFromZero) {
    // The session runs over the end of the peak period at 18:00:00.
    Start(EncodeDate(2026, 3, 9) + EncodeTime(17, 59, 0));
    RunTo(30);
    ClearTimers(timers_);
    tick_.TotalsChanged();
    RunTo(90);
    tick_.SettleForSave();
    EXPECT_EQ(timers_, (TimerSet{false, 30, 30, 60, 60}));
    EXPECT_EQ(tick_.Values().Elapsed, 90);
    EXPECT_EQ(tick_.Values().StartTime, first_);
}

TEST_F(AdjustDuringSessionTest, ClockSetBackAfterAClearGivesNoNegativeTime) {
    Start(EncodeDate(2026, 3, 9) + EncodeTime(10, 0, 0));
    RunTo(100);
    ClearTimers(timers_);
    tick_.TotalsChanged();
    TickBackAt(50);
    tick_.SettleForSave();
    EXPECT_EQ(timers_, (TimerSet{false, 0, 0, 0, 0}));
}

TEST_F(AdjustDuringSessionTest, ClearAllWhileDiallingStandsOnceTheDelayIsReached) {
    struct Case {
        const char* name;
        DateTime first;
        int clearAt, delayReached, end;
        TimerSet atEnd;
        std::size_t saves;
    };
    const Case cases[] = {
        // 30 s of dialling from 10:00:00; the clear at +10 stands at +30, then 15 s are billed.
        {"within a day",
         EncodeDate(2026, 3, 9) + EncodeTime(10, 0, 0),
         10,
         30,
         45,
         {false, 15, 0, 15, 15},
         0},
        // Dialling from 23:59:50 over midnight; the clear at +5 stands at +30 on the new day.
        {"over midnight",
         EncodeDate(2026, 3, 9) + EncodeTime(23, 59, 50),
         5,
         30,
         40,
         {false, 0, 10, 10, 10},
         1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        timers_ = {false, 100, 200, 300, 4000};
        saves_.clear();
        last_ = 0;
        inputs_.comPortMode = true;
        inputs_.delaySeconds = 30;
        Start(c.first);
        RunTo(c.clearAt);
        ClearTimers(timers_);
        tick_.TotalsChanged();
        RunTo(c.delayReached);
        tick_.SettleForSave();
        EXPECT_EQ(timers_, (TimerSet{false, 0, 0, 0, 0})) << "when the delay is reached";
        RunTo(c.end);
        tick_.SettleForSave();
        EXPECT_EQ(timers_, c.atEnd);
        EXPECT_EQ(saves_.size(), c.saves);
    }
}

TEST(TotalsChanged, BeforeAnySessionChangesNothing) {
    TimerSet timers{false, 1, 2, 3, 4};
    SessionTick tick(timers);
    tick.TotalsChanged();
    EXPECT_EQ(timers, (TimerSet{false, 1, 2, 3, 4}));
    EXPECT_EQ(tick.Values().TotalTimeAtStart, 0);
}

} // namespace
} // namespace quorvane
