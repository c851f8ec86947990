#include "accounting/session_recovery.h"

#include "accounting/charges.h"
#include "accounting/rollover.h"
#include "core/regional.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

namespace quorvane {

namespace {

Duration Added(Duration stored, std::int64_t added) {
    return static_cast<Duration>(
        std::clamp<std::int64_t>(stored + added, 0, std::numeric_limits<Duration>::max()));
}

} // namespace

bool SessionStateDue(DateTime last, DateTime now) {
    const std::int64_t ms = std::llround((now - last) * 86400000.0);
    return ms < 0 || ms >= std::int64_t{kSessionStateSeconds} * 1000;
}

RecoveredTotals RecoverCutSession(const CutSession& cut, const TimerSet& stored,
                                  std::optional<DateTime> storedSavedFor,
                                  const DataTotals& storedData) {
    const std::int64_t unsaved = std::int64_t{cut.counted.seconds} - cut.saved.seconds;
    RecoveredTotals result{stored, DateOf(cut.lastWrite)};
    TimerSet& t = result.timers;
    t.TotalTime = Added(stored.TotalTime, unsaved);
    t.InsidePeak =
        Added(stored.InsidePeak, std::int64_t{cut.counted.insidePeak} - cut.saved.insidePeak);
    t.OutsidePeak =
        Added(stored.OutsidePeak, std::int64_t{cut.counted.outsidePeak} - cut.saved.outsidePeak);
    // Every day change of a session saves the totals, so the unsaved seconds are the last
    // write's day's; only when that save failed could some be older, and that day has no more
    // seconds than have passed since its midnight.
    const std::int64_t today = std::min<std::int64_t>(unsaved, SecondOfDay(cut.lastWrite));
    const bool sameDay = StoredTodayHolds(storedSavedFor, result.savedFor);
    t.Today = Added(sameDay ? stored.Today : 0, today);
    // Bytes are not split by the clock: every day change saves the data totals with the time
    // totals, so what they lack came on the last write's day.
    const auto unsavedBytes = [](std::uint64_t counted, std::uint64_t saved) {
        return counted > saved ? counted - saved : 0;
    };
    const DataBytes bytes{unsavedBytes(cut.countedBytes.rx, cut.savedBytes.rx),
                          unsavedBytes(cut.countedBytes.tx, cut.savedBytes.tx)};
    result.data = storedData;
    if (!sameDay)
        result.data.today = {};
    result.data.Add(bytes);
    return result;
}

std::string RecoveredSessionMessage(std::string_view provider, const CutSession& cut) {
    std::string text = "A session of " + FormatShortDate(cut.firstTick);
    if (!StripSpaces(provider).empty())
        text += " with " + std::string(provider);
    text += " was cut short: Quorvane or the computer stopped while it ran.\r\n\r\nIts time, " +
            DurationText(cut.counted.seconds) + " up to " + FormatLongTime(cut.lastWrite) +
            ", has been recovered and added to the timers.";
    return text;
}

} // namespace quorvane
