#include "accounting/session_tick.h"

#include "accounting/charges.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

namespace quorvane {

namespace {

constexpr std::int64_t kSecondsPerDay = 86400;

// Whole seconds from `from` to `to`, negative when `to` is earlier; milliseconds are rounded
// first, as SecondsSince does, so both agree on the same two moments.
std::int64_t SecondsBetween(DateTime from, DateTime to) {
    return std::llround((to - from) * 86400000.0) / 1000;
}

Duration ToDuration(std::int64_t seconds) {
    return static_cast<Duration>(
        std::min<std::int64_t>(seconds, std::numeric_limits<Duration>::max()));
}

// A total from its copy at the session's start and what the session added. A copy falls below
// zero only after TotalsChanged; a clock set back or a peak period changed after that must still
// not take the total below zero.
Duration Total(Duration atStart, std::int64_t added) {
    return ToDuration(std::max<std::int64_t>(atStart + added, 0));
}

// How many of the moments 0, 1, ..., n - 1 (seconds counted from some midnight) fall on a
// second of the day from `first` to `last`, both included.
std::int64_t MomentsWithin(std::int64_t n, int first, int last) {
    const std::int64_t width = last - first + 1;
    return n / kSecondsPerDay * width +
           std::clamp<std::int64_t>(n % kSecondsPerDay - first, 0, width);
}

} // namespace

SessionTick::Sides SessionTick::Split(Duration elapsed) const {
    const int first = SecondOfDay(inputs_.peakStart);
    const int last = SecondOfDay(inputs_.peakStop);
    if (first > last)
        return {0, elapsed};
    // Second k of the session ends at second of day (base + k) mod 86400, k = 1 .. elapsed.
    const std::int64_t base = SecondOfDay(values_.SessionStart);
    const auto inside = static_cast<Duration>(MomentsWithin(base + elapsed + 1, first, last) -
                                              MomentsWithin(base + 1, first, last));
    return {inside, elapsed - inside};
}

void SessionTick::Count(Duration& total, Duration value, Duration& counted) {
    counted = ToDuration(std::int64_t{counted} + value - total);
    total = value;
}

void SessionTick::WritePeak(const Sides& sides, bool inside, bool outside) {
    if (inside)
        Count(timers_.InsidePeak, Total(values_.InsidePeakAtStart, sides.inside),
              counted_.insidePeak);
    if (outside)
        Count(timers_.OutsidePeak, Total(values_.OutsidePeakAtStart, sides.outside),
              counted_.outsidePeak);
}

Duration SessionTick::Advance(DateTime now) {
    const Duration elapsed = ToDuration(std::abs(SecondsBetween(values_.SessionStart, now)));
    values_.Elapsed = elapsed;
    timers_.Today = Total(values_.TodayAtStart, elapsed);
    Count(timers_.TotalTime, Total(values_.TotalTimeAtStart, elapsed), counted_.seconds);
    return elapsed;
}

TickResult SessionTick::Tick(DateTime now, bool firstTick, const SessionTickInputs& inputs,
                             const std::function<void()>& saveOldDay) {
    TickResult result;
    // A message box raised by the save runs its own event loop, and tOnLine goes on firing in
    // it; the day change is left whole to the tick that is waiting for the save.
    if (inSave_) {
        result.skipped = true;
        return result;
    }
    inputs_ = inputs;
    if (firstTick || !started_) {
        started_ = true;
        values_ = {
            now, now, timers_.Today, timers_.TotalTime, timers_.InsidePeak, timers_.OutsidePeak, 0};
        delayPending_ = true;
        dialledTotal_ = 0;
        unbilled_ = {};
        counted_ = {};
        result.firstTick = result.startMoved = true;
    }

    // The dialling time is not billed: once it has passed, the session starts over at the
    // moment it ended. A late tick may already be past it, hence no test for equality.
    const int delay = inputs.comPortMode ? inputs.delayMinutes * 60 + inputs.delaySeconds : 0;
    bool restarted = false;
    if (delayPending_ && delay > 0) {
        const std::int64_t left = std::max<std::int64_t>(delay - dialledTotal_, 0);
        if (SecondsBetween(values_.SessionStart, now) >= left) {
            values_.SessionStart += static_cast<double>(left) * kOneSecond;
            values_.StartTime = values_.SessionStart;
            values_.TodayAtStart -= unbilled_.today;
            values_.TotalTimeAtStart -= unbilled_.total;
            values_.InsidePeakAtStart -= unbilled_.sides.inside;
            values_.OutsidePeakAtStart -= unbilled_.sides.outside;
            delayPending_ = false;
            restarted = result.startMoved = true;
        }
    }

    if (DayOfDate(now) != DayOfDate(values_.SessionStart)) {
        // The old day is counted up to this moment, on both sides, before it is saved, so the
        // seconds since its last tick are not lost at midnight.
        const Duration elapsed = Advance(now);
        const Sides sides = inputs.peakEnabled ? Split(elapsed) : Sides{};
        if (inputs.peakEnabled)
            WritePeak(sides, true, true);
        {
            inSave_ = true;
            struct Done {
                bool& flag;
                ~Done() { flag = false; }
            } done{inSave_};
            if (saveOldDay)
                saveOldDay();
        }
        if (delayPending_ && delay > 0) {
            dialledTotal_ += elapsed;
            unbilled_.total += elapsed;
            unbilled_.sides.inside += sides.inside;
            unbilled_.sides.outside += sides.outside;
        }
        // The old day's dialling went with the old day's Today.
        unbilled_.today = 0;
        values_.TodayAtStart = 0;
        values_.TotalTimeAtStart = timers_.TotalTime;
        values_.InsidePeakAtStart = timers_.InsidePeak;
        values_.OutsidePeakAtStart = timers_.OutsidePeak;
        values_.SessionStart = now;
        result.dayChanged = true;
    }

    const Duration elapsed = Advance(now);
    if (inputs.peakEnabled) {
        const bool inside = InsidePeakPeriod(SecondOfDay(now), SecondOfDay(inputs.peakStart),
                                             SecondOfDay(inputs.peakStop));
        // After a restart or a new day the other side's last written value is stale too.
        const bool both = restarted || result.dayChanged;
        result.wroteInsidePeak = both || inside;
        result.wroteOutsidePeak = both || !inside;
        WritePeak(Split(elapsed), result.wroteInsidePeak, result.wroteOutsidePeak);
    }
    return result;
}

void SessionTick::SettleForSave() {
    if (started_ && inputs_.peakEnabled)
        WritePeak(Split(values_.Elapsed), true, true);
}

void SessionTick::TotalsChanged() {
    if (!started_)
        return;
    // Split by the last tick's period, as the next tick will reckon: the copies are what the
    // new totals would have been at the session's start.
    const Duration elapsed = values_.Elapsed;
    const Sides sides = Split(elapsed);
    values_.TodayAtStart = timers_.Today - elapsed;
    values_.TotalTimeAtStart = timers_.TotalTime - elapsed;
    values_.InsidePeakAtStart = timers_.InsidePeak - sides.inside;
    values_.OutsidePeakAtStart = timers_.OutsidePeak - sides.outside;
    // Reaching the delay drops the seconds since SessionStart; those up to now are in the values
    // just set, so they are given back then instead of taken off.
    if (delayPending_)
        unbilled_ = {-elapsed, -elapsed, {-sides.inside, -sides.outside}};
}

} // namespace quorvane
