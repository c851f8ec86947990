#pragma once
// The date-time of the whole program: days since 30 December 1899, the fraction being the time
// of day (1.0 = 24 hours), as the stored values of the Windows version hold it.

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

} // namespace quorvane
