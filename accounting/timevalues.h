#pragma once
// Time values shared by the whole program: the Duration (whole seconds) and its fixed text form,
// the date-time (days since 30 December 1899), the running totals, and a few string helpers.

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

namespace quorvane {

// A timer value: whole seconds. Shown as "HHH:MM:SS" with at least three hour digits.
using Duration = std::int32_t;

// Clock times and dates: days since 30 December 1899, the fraction being the time of day.
using DateTime = double;

constexpr DateTime kOneSecond = 1.0 / 86400.0;

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

// Calendar conversions of the date part of a DateTime (proleptic Gregorian calendar).
struct CivilDate {
    int year = 1899;
    int month = 12;
    int day = 30;
};
CivilDate DecodeDate(DateTime value);
DateTime EncodeDate(int year, int month, int day);
DateTime EncodeTime(int hour, int minute, int second, int millisecond = 0);
// The date part alone (time of day dropped).
DateTime DateOf(DateTime value);
// Day of the month, 1 to 31.
int DayOfDate(DateTime value);

// String helpers over UTF-8 text.
std::string StripChar(std::string_view text, char ch);
std::string StripSpaces(std::string_view text);
// The text without its leading and trailing blanks.
std::string_view TrimBlanks(std::string_view text);
std::string PadLeft(std::string_view text, char fill, std::size_t width);
// The last byte of a non-empty text ('\0' for an empty one).
char LastChar(std::string_view text);
std::string DropLastChar(std::string_view text);

} // namespace quorvane
