#pragma once
// The date-time of the whole program: days since 30 December 1899, the fraction being the time
// of day (1.0 = 24 hours), as the stored values of the Windows version hold it.

#include <optional>

namespace quorvane {

using DateTime = double;

constexpr DateTime kOneSecond = 1.0 / 86400.0;

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

// The day the current billing cycle began: the cycle day of this month, or of the month before
// when that is still to come, moved to the month's last day in a shorter month (cycle day 31:
// 30 April, 28 or 29 February). nullopt for cycle day 0 (no cycle) or one outside 1 to 31.
// The totals' clear and the usage history's cycles both reckon by it.
std::optional<DateTime> CycleStart(int cycleDay, DateTime today);

} // namespace quorvane
