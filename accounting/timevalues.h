#pragma once
// Time values of the accounting: the Duration (whole seconds) with its fixed text form, and the
// running totals.

#include "core/datetime.h"
#include "core/text.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

namespace quorvane {

// A timer value: whole seconds. Shown as "HHH:MM:SS" with at least three hour digits.
using Duration = std::int32_t;

// The program's running totals. AlarmPlayed is never stored; the four durations belong to the
// loaded provider.
struct TimerSet {
    bool AlarmPlayed = false;
    Duration InsidePeak = 0;
    Duration OutsidePeak = 0;
    Duration Today = 0;
    Duration TotalTime = 0;

    bool operator==(const TimerSet&) const = default;
};

// Selector 0: whole hours, 1: minutes within the hour, 2: seconds within the minute,
// 3: the display text. A negative value (only ever from a hand-edited store) gives its parts
// negated and a text with a leading minus sign, e.g. "-001:00:05".
std::variant<std::int32_t, std::string> DurationPart(Duration seconds, int selector);

// The display text of a duration; the same as DurationPart(seconds, 3).
std::string DurationText(Duration seconds);

// "HHH:MM:SS": hours padded with zeros to three digits, minutes and seconds to two; never cut.
std::string FormatDuration(std::int64_t hours, std::int64_t minutes, std::int64_t seconds);

// Whole seconds between `moment` and now, taken within one day (0 to 86399): a moment a day or
// more away wraps round and one in the future counts like one in the past.
Duration SecondsSince(DateTime moment);

// Sets the four durations to 0 and leaves AlarmPlayed as it is.
void ClearTimers(TimerSet& timers);

} // namespace quorvane
