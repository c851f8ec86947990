#include "accounting/rollover.h"

#include "core/regional.h"

#include <algorithm>
#include <cmath>

namespace quorvane {

NewDayDecision DecideNewDay(std::optional<DateTime> lastDate, DateTime today) {
    if (!lastDate)
        return {false, true};
    // A stored value that is not a date at all (NaN) differs too, and today replaces it.
    const bool changed = !(DateOf(*lastDate) == DateOf(today));
    return {changed, changed};
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
