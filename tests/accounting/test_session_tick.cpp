#include "accounting/charges.h"
#include "accounting/session_tick.h"
#include "core/clock.h"
#include "core/regional.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <vector>

namespace quorvane {
namespace {

DateTime Moment(int day, int hour, int minute, int second, int millisecond = 0) {
    return EncodeDate(2026, 3, day) + EncodeTime(hour, minute, second, millisecond);
}

const SessionTickInputs kWorkingDayPeak{true, EncodeTime(8, 0, 0), EncodeTime(18, 0, 0)};

// A session on a moved clock: the first tick at `first_`, later ticks at whole seconds after it,
// as the window's timer would call the tick.
class SessionTickTest : public testing::Test {
protected:
    TickResult TickAt(int offset, bool firstTick = false) {
        clock_.Set(first_ + offset * kOneSecond);
        return tick_.Tick(Now(), firstTick, inputs_, [this] { saves_.push_back(timers_); });
    }

    TickResult Start(DateTime first) {
        first_ = first;
        last_ = 0;
        before_ = timers_;
        return TickAt(0, true);
    }

    // Ticks from the last one to `end` (seconds after the first tick), each `steps[i]` seconds
    // after the one before, round the list; the last tick falls exactly on `end`.
    TickResult RunTo(int end, const std::vector<int>& steps = {1}) {
        TickResult result;
        for (std::size_t i = 0; last_ < end; ++i) {
            last_ = std::min(end, last_ + steps[i % steps.size()]);
            result = TickAt(last_);
        }
        return result;
    }

    // The growth of the totals since the session's first tick.
    TimerSet Growth(const TimerSet& now) const {
        return {now.AlarmPlayed, now.InsidePeak - before_.InsidePeak,
                now.OutsidePeak - before_.OutsidePeak, now.Today - before_.Today,
                now.TotalTime - before_.TotalTime};
    }

    ManualClock clock_{Moment(9, 10, 0, 0)};
    TimerSet timers_{false, 100, 200, 300, 4000};
    SessionTick tick_{timers_};
    SessionTickInputs inputs_;
    std::vector<TimerSet> saves_;
    DateTime first_ = 0.0;
    int last_ = 0;
    TimerSet before_;
};

TEST_F(SessionTickTest, FirstTickTakesTheStartAndCopiesTheTotals) {
    const DateTime first = Moment(9, 10, 0, 0, 250);
    const TickResult result = Start(first);
    EXPECT_TRUE(result.firstTick);
    EXPECT_TRUE(result.startMoved);
    EXPECT_EQ(timers_, before_);
    const SessionValues& v = tick_.Values();
    EXPECT_EQ(v.StartTime, first);
    EXPECT_EQ(v.SessionStart, first);
    EXPECT_EQ(v.Elapsed, 0);
    EXPECT_EQ(v.TodayAtStart, 300);
    EXPECT_EQ(v.TotalTimeAtStart, 4000);
    EXPECT_EQ(v.InsidePeakAtStart, 100);
    EXPECT_EQ(v.OutsidePeakAtStart, 200);

    EXPECT_FALSE(TickAt(1).firstTick);
    EXPECT_EQ(tick_.Values().Elapsed, 1);

    // The next session starts over from the totals as they stand, the last Elapsed kept until then.
    tick_.SettleForSave();
    timers_.TotalTime = 9000;
    EXPECT_EQ(tick_.Values().Elapsed, 1);
    Start(Moment(9, 12, 0, 0));
    EXPECT_EQ(tick_.Values().Elapsed, 0);
    EXPECT_EQ(tick_.Values().TotalTimeAtStart, 9000);
    EXPECT_EQ(timers_.TotalTime, 9000);
}

TEST_F(SessionTickTest, WithoutTheFlagBeforeAnySessionTheFirstTickIsTaken) {
    first_ = Moment(9, 10, 0, 0);
    EXPECT_TRUE(TickAt(0, false).firstTick);
    EXPECT_EQ(tick_.Values().SessionStart, first_);
}

TEST_F(SessionTickTest, EveryTickReckonsFromTheClock) {
    struct Step {
        int at;
        Duration elapsed;
    };
    // A stall of five seconds, merged messages (two ticks at one moment), a millisecond short
    // of the next second.
    const Step steps[] = {{1, 1}, {2, 2}, {7, 7}, {7, 7}, {8, 8}};
    Start(Moment(9, 10, 0, 0));
    for (const Step& s : steps) {
        TickAt(s.at);
        EXPECT_EQ(tick_.Values().Elapsed, s.elapsed) << s.at;
        EXPECT_EQ(Growth(timers_).Today, s.elapsed) << s.at;
        EXPECT_EQ(Growth(timers_).TotalTime, s.elapsed) << s.at;
    }
    clock_.Set(first_ + 9 * kOneSecond - kOneSecond / 1000);
    tick_.Tick(Now(), false, inputs_, {});
    EXPECT_EQ(tick_.Values().Elapsed, 8);
    EXPECT_TRUE(saves_.empty());
}

TEST_F(SessionTickTest, DayChangeSavesTheOldDayThenTodayStartsOver) {
    struct Case {
        const char* name;
        std::vector<int> steps;
        Duration savedGrowth; // the old day, counted up to the first tick of the new one
        Duration today;       // at 00:00:10
    };
    const Case cases[] = {
        {"every second", {1}, 10, 10},
        {"late ticks", {5, 8, 7}, 13, 7},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        saves_.clear();
        timers_ = {false, 100, 200, 300, 4000};
        const DateTime first = Moment(9, 23, 59, 50);
        Start(first);
        Duration lastTotal = timers_.TotalTime;
        TickResult atMidnight;
        for (std::size_t i = 0; last_ < 20; ++i) {
            last_ = std::min(20, last_ + c.steps[i % c.steps.size()]);
            const TickResult r = TickAt(last_);
            EXPECT_GE(timers_.TotalTime, lastTotal) << "at +" << last_;
            lastTotal = timers_.TotalTime;
            if (r.dayChanged) {
                atMidnight = r;
                EXPECT_EQ(tick_.Values().Elapsed, 0);
                EXPECT_EQ(timers_.Today, 0);
                EXPECT_EQ(Growth(timers_).TotalTime, c.savedGrowth);
            }
        }
        EXPECT_TRUE(atMidnight.dayChanged);
        ASSERT_EQ(saves_.size(), 1u);
        EXPECT_EQ(Growth(saves_[0]).Today, c.savedGrowth);
        EXPECT_EQ(Growth(saves_[0]).TotalTime, c.savedGrowth);
        EXPECT_EQ(timers_.Today, c.today);
        EXPECT_EQ(tick_.Values().Elapsed, c.today);
        EXPECT_EQ(Growth(timers_).TotalTime, 20);
        EXPECT_EQ(tick_.Values().StartTime, first);
        EXPECT_EQ(DateOf(tick_.Values().SessionStart), EncodeDate(2026, 3, 10));
    }
}

TEST_F(SessionTickTest, ATickWritesTheSideOfItsOwnMoment) {
    const SessionTickInputs overnight{true, EncodeTime(22, 0, 0), EncodeTime(6, 0, 0)};
    struct Case {
        SessionTickInputs period;
        DateTime lastTick; // the session starts two seconds before, one tick a second
        bool inside;
        Duration insidePeak, outsidePeak;
    };
    const Case cases[] = {
        {kWorkingDayPeak, Moment(9, 8, 0, 0), true, 101, 201}, // 07:59:59 wrote outside
        {kWorkingDayPeak, Moment(9, 18, 0, 0), true, 102, 200},
        {kWorkingDayPeak, Moment(9, 18, 0, 1), false, 101, 201},
        {overnight, Moment(9, 23, 0, 0), false, 100, 202},
        {overnight, Moment(9, 3, 0, 0), false, 100, 202},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(FormatLongTime(c.lastTick));
        timers_ = {false, 100, 200, 300, 4000};
        inputs_ = c.period;
        Start(c.lastTick - 2 * kOneSecond);
        const TickResult r = RunTo(2);
        EXPECT_EQ(r.wroteInsidePeak, c.inside);
        EXPECT_EQ(r.wroteOutsidePeak, !c.inside);
        EXPECT_EQ(timers_.InsidePeak, c.insidePeak);
        EXPECT_EQ(timers_.OutsidePeak, c.outsidePeak);
    }
}

// At every save, the two peak totals together have grown by the session's counted seconds,
// each second on the side of the moment that ends it.
TEST_F(SessionTickTest, PeakSplitAddsUpAtEverySave) {
    struct Case {
        const char* name;
        SessionTickInputs period;
        DateTime first;
        int seconds;
        std::vector<int> steps;
    };
    const SessionTickInputs overnight{true, EncodeTime(22, 0, 0), EncodeTime(6, 0, 0)};
    const SessionTickInputs allDay{true, EncodeTime(0, 0, 0), EncodeTime(23, 59, 59)};
    const Case cases[] = {
        {"one whole day", kWorkingDayPeak, Moment(9, 0, 0, 0), 86400, {1}},
        {"one whole day, late ticks", kWorkingDayPeak, Moment(9, 0, 0, 0), 86400, {3, 7, 1, 5, 2}},
        {"over the start and the stop", kWorkingDayPeak, Moment(9, 7, 59, 50), 36020, {4, 9, 1}},
        {"over midnight", kWorkingDayPeak, Moment(9, 17, 0, 0), 57600, {13, 2, 31}},
        {"off the whole second", kWorkingDayPeak, Moment(9, 7, 59, 58, 600), 40, {1, 3}},
        {"start later than stop", overnight, Moment(9, 21, 0, 0), 36000, {1, 6}},
        {"the whole day inside", allDay, Moment(9, 23, 0, 0), 7200, {11}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        saves_.clear();
        timers_ = {false, 100, 200, 300, 4000};
        inputs_ = c.period;
        Start(c.first);
        RunTo(c.seconds, c.steps);
        tick_.SettleForSave();
        saves_.push_back(timers_);
        const int first = SecondOfDay(c.period.peakStart);
        const int last = SecondOfDay(c.period.peakStop);
        for (const TimerSet& saved : saves_) {
            const TimerSet growth = Growth(saved);
            EXPECT_EQ(growth.InsidePeak + growth.OutsidePeak, growth.TotalTime);
            Duration inside = 0;
            for (int k = 1; k <= growth.TotalTime; ++k)
                inside += InsidePeakPeriod(SecondOfDay(c.first + k * kOneSecond), first, last);
            EXPECT_EQ(growth.InsidePeak, inside) << "after " << growth.TotalTime << " s";
        }
        EXPECT_EQ(Growth(timers_).TotalTime, c.seconds);
        const TimerSet growth = Growth(timers_);
        EXPECT_EQ(tick_.Counted(),
                  (SessionCounts{growth.TotalTime, growth.InsidePeak, growth.OutsidePeak}));
    }
}

TEST_F(SessionTickTest, OneWholeDayAddsItsPeakAndOffPeakSeconds) {
    inputs_ = kWorkingDayPeak;
    Start(Moment(9, 0, 0, 0));
    const TickResult atMidnight = RunTo(86400, {3, 7, 1, 5, 2});
    EXPECT_TRUE(atMidnight.dayChanged);
    EXPECT_TRUE(atMidnight.wroteInsidePeak);
    EXPECT_TRUE(atMidnight.wroteOutsidePeak);
    ASSERT_EQ(saves_.size(), 1u);
    EXPECT_EQ(Growth(saves_[0]).InsidePeak, 36001);
    EXPECT_EQ(Growth(saves_[0]).OutsidePeak, 50399);
    EXPECT_EQ(Growth(timers_).InsidePeak, 36001);
    EXPECT_EQ(Growth(timers_).OutsidePeak, 50399);
}

TEST_F(SessionTickTest, WithThePeakPeriodOffNeitherPeakTotalMoves) {
    inputs_ = kWorkingDayPeak;
    inputs_.peakEnabled = false;
    Start(Moment(9, 7, 0, 0));
    for (int end : {3600, 11 * 3600, 17 * 3600 + 5, 17 * 3600 + 600}) {
        const TickResult r = RunTo(end, {1, 4});
        EXPECT_FALSE(r.wroteInsidePeak || r.wroteOutsidePeak);
        tick_.SettleForSave();
        EXPECT_EQ(timers_.InsidePeak, 100);
        EXPECT_EQ(timers_.OutsidePeak, 200);
    }
    ASSERT_EQ(saves_.size(), 1u);
    EXPECT_EQ(saves_[0].InsidePeak, 100);
    EXPECT_EQ(saves_[0].OutsidePeak, 200);
    EXPECT_EQ(Growth(timers_).TotalTime, 17 * 3600 + 600);
}

TEST_F(SessionTickTest, ComPortDelayIsNotBilled) {
    struct Case {
        const char* name;
        bool comPort;
        int minutes, seconds;
        std::vector<int> ticks; // seconds after the first tick
        Duration counted;       // Elapsed, and the growth of Today, TotalTime and InsidePeak
        int startMovedBy;
    };
    const Case cases[] = {
        {"reached", true, 0, 30, {1, 29, 30, 31, 45}, 15, 30},
        {"ended before it", true, 0, 30, {1, 28, 29}, 29, 0},
        {"a late tick jumps past it", true, 0, 30, {20, 37}, 7, 30},
        {"minutes and seconds", true, 1, 5, {30, 64, 65, 70}, 5, 65},
        {"once in a session", true, 0, 30, {30, 3630}, 3600, 30},
        {"delay 0:00", true, 0, 0, {1, 10}, 10, 0},
        {"not the COM Port method", false, 0, 30, {30, 45}, 45, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        timers_ = {false, 100, 200, 300, 4000};
        inputs_ = kWorkingDayPeak;
        inputs_.comPortMode = c.comPort;
        inputs_.delayMinutes = c.minutes;
        inputs_.delaySeconds = c.seconds;
        Start(Moment(9, 10, 0, 0));
        bool moved = false;
        for (int at : c.ticks)
            moved |= TickAt(at).startMoved;
        tick_.SettleForSave();
        EXPECT_EQ(moved, c.startMovedBy != 0);
        EXPECT_EQ(tick_.Values().Elapsed, c.counted);
        EXPECT_EQ(Growth(timers_), (TimerSet{false, c.counted, 0, c.counted, c.counted}));
        EXPECT_EQ(tick_.Counted(), (SessionCounts{c.counted, c.counted, 0}));
        EXPECT_EQ(tick_.Values().StartTime, first_ + c.startMovedBy * kOneSecond);
    }
}

TEST_F(SessionTickTest, EverySessionOfTheRunHasItsDelay) {
    inputs_ = {false, 0, 0, true, 0, 30};
    for (int session = 0; session < 2; ++session) {
        Start(Moment(9, 10 + session, 0, 0));
        RunTo(45);
        EXPECT_EQ(Growth(timers_).TotalTime, 15) << "session " << session;
    }
}

TEST_F(SessionTickTest, ReachingTheDelayTakesTheDiallingOffBothPeakSides) {
    inputs_ = kWorkingDayPeak;
    inputs_.comPortMode = true;
    inputs_.delaySeconds = 20;
    Start(Moment(9, 7, 59, 50));
    RunTo(19);
    EXPECT_EQ(Growth(timers_).OutsidePeak, 9); // up to 07:59:59
    EXPECT_EQ(Growth(timers_).InsidePeak, 10); // from 08:00:00
    const TickResult reached = RunTo(20);
    EXPECT_TRUE(reached.wroteInsidePeak && reached.wroteOutsidePeak);
    EXPECT_EQ(Growth(timers_), TimerSet{});
    RunTo(40);
    EXPECT_EQ(Growth(timers_), (TimerSet{false, 20, 0, 20, 20}));
}

TEST_F(SessionTickTest, DelayStillRunningAtMidnight) {
    inputs_ = kWorkingDayPeak;
    inputs_.comPortMode = true;
    inputs_.delaySeconds = 30;
    Start(Moment(9, 23, 59, 50));
    RunTo(20, {5});
    // The old day is saved with what the session has run so far.
    ASSERT_EQ(saves_.size(), 1u);
    EXPECT_EQ(Growth(saves_[0]), (TimerSet{false, 0, 10, 10, 10}));
    RunTo(30);
    EXPECT_EQ(tick_.Values().Elapsed, 0);
    EXPECT_EQ(timers_.Today, 0);
    EXPECT_EQ(Growth(timers_).TotalTime, 0);
    EXPECT_EQ(Growth(timers_).OutsidePeak, 0);
    RunTo(70, {7});
    tick_.SettleForSave();
    EXPECT_EQ(timers_.Today, 40);
    EXPECT_EQ(tick_.Values().Elapsed, 40);
    EXPECT_EQ(Growth(timers_).TotalTime, 40);
    EXPECT_EQ(Growth(timers_).OutsidePeak, 40);
    EXPECT_EQ(tick_.Counted(), (SessionCounts{40, 0, 40}));
}

// What the session has added, kept against a kill: totals set from outside while it runs are not
// the session's, and the next session counts from nothing.
TEST_F(SessionTickTest, CountedIsWhatTheSessionAdded) {
    inputs_ = kWorkingDayPeak;
    Start(Moment(9, 17, 59, 0));
    RunTo(30);
    timers_.TotalTime += 3600; // an adjustment
    timers_.InsidePeak += 60;
    tick_.TotalsChanged();
    RunTo(90, {7});
    tick_.SettleForSave();
    EXPECT_EQ(tick_.Counted(), (SessionCounts{90, 60, 30}));
    ClearTimers(timers_); // Clear All
    tick_.TotalsChanged();
    RunTo(100);
    EXPECT_EQ(tick_.Counted(), (SessionCounts{100, 60, 40}));
    EXPECT_EQ(timers_.TotalTime, 10);

    Start(Moment(9, 20, 0, 0));
    EXPECT_EQ(tick_.Counted(), SessionCounts{});
    RunTo(5);
    EXPECT_EQ(tick_.Counted(), (SessionCounts{5, 0, 5}));
}

TEST_F(SessionTickTest, TickDuringTheDaySaveWaitsForIt) {
    inputs_ = kWorkingDayPeak;
    Start(Moment(9, 23, 59, 58));
    RunTo(1);
    std::vector<TickResult> nested;
    int calls = 0;
    const auto save = [&] {
        ++calls;
        const TimerSet before = timers_;
        nested.push_back(tick_.Tick(Now() + kOneSecond, false, inputs_, {}));
        EXPECT_EQ(timers_, before);
        if (calls == 1)
            throw std::runtime_error("store unavailable");
        saves_.push_back(timers_);
    };
    clock_.Set(first_ + 2 * kOneSecond);
    EXPECT_THROW(tick_.Tick(Now(), false, inputs_, save), std::runtime_error);
    // Nothing was reset; the next tick makes the day change again, counted up to its moment.
    clock_.Set(first_ + 3 * kOneSecond);
    EXPECT_TRUE(tick_.Tick(Now(), false, inputs_, save).dayChanged);
    ASSERT_EQ(nested.size(), 2u);
    EXPECT_TRUE(nested[0].skipped && nested[1].skipped);
    ASSERT_EQ(saves_.size(), 1u);
    EXPECT_EQ(Growth(saves_[0]), (TimerSet{false, 0, 3, 3, 3}));
    EXPECT_EQ(timers_.Today, 0);
    EXPECT_EQ(Growth(timers_).TotalTime, 3);
}

} // namespace
} // namespace quorvane
