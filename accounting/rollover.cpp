#include "accounting/rollover.h"

#include "core/regional.h"

#include <algorithm>
#include <cmath>

namespace quorvane {

namespace {

int DaysInMonth(int year, int month) {
    const DateTime first = EncodeDate(year, month, 1);
    const DateTime next = month == 12 ? EncodeDate(year + 1, 1, 1) : EncodeDate(year, month + 1, 1);
    return static_cast<int>(next - first);
}

DateTime CycleDayIn(int year, int month, int cycleDay) {
    return EncodeDate(year, month, std::min(cycleDay, DaysInMonth(year, month)));
}

} // namespace

NewDayDecision DecideNewDay(std::optional<DateTime> lastDate, DateTime today) {
    if (!lastDate)
        return {false, true};
    // A stored value that is not a date at all (NaN) differs too, and today replaces it.
    const bool changed = !(DateOf(*lastDate) == DateOf(today));
    return {changed, changed};
}

std::optional<DateTime> CycleStart(int cycleDay, DateTime today) {
    if (cycleDay < 1 || cycleDay > 31)
        return std::nullopt;
    const CivilDate date = DecodeDate(today);
    const DateTime thisMonth = CycleDayIn(date.year, date.month, cycleDay);
    if (thisMonth <= DateOf(today))
        return thisMonth;
    return date.month == 1 ? CycleDayIn(date.year - 1, 12, cycleDay)
                           : CycleDayIn(date.year, date.month - 1, cycleDay);
}

CycleDecision DecideCycleClear(int cycleDay, std::optional<DateTime> lastClear, DateTime today) {
    const std::optional<DateTime> start = CycleStart(cycleDay, today);
    if (!start)
        return {};
    today = DateOf(today);
    const bool usable = lastClear && std::isfinite(*lastClear) && DateOf(*lastClear) <= today;
    CycleDecision decision;
    if (usable) {
        if (DateOf(*lastClear) >= *start)
            return {};
        decision.clear = true;
    } else {
        decision.clear = *start == today;
    }
    decision.record = *start;
    if (!decision.clear)
        return decision;
    decision.message = *start == today
                           ? "Since today is day " + std::to_string(DayOfDate(today)) +
                                 ", all Timers have been cleared."
                           : "Since a new billing cycle began on " + FormatShortDate(*start) +
                                 ", all Timers have been cleared.";
    return decision;
}

bool StoredTodayHolds(std::optional<DateTime> savedOn, DateTime today) {
    return !savedOn || DateOf(*savedOn) == DateOf(today);
}

bool RolloverDue(DateTime previousCheck, DateTime now) {
    return !(DateOf(previousCheck) == DateOf(now));
}

} // namespace quorvane
