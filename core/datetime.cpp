#include "core/datetime.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace quorvane {

namespace {

// Days from 1970-01-01 to a civil date and back (Howard Hinnant's algorithms).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

CivilDate CivilFromDays(std::int64_t z) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t y = static_cast<std::int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    return {static_cast<int>(y + (m <= 2)), static_cast<int>(m), static_cast<int>(d)};
}

int DaysInMonth(int year, int month) {
    const DateTime first = EncodeDate(year, month, 1);
    const DateTime next = month == 12 ? EncodeDate(year + 1, 1, 1) : EncodeDate(year, month + 1, 1);
    return static_cast<int>(next - first);
}

DateTime CycleDayIn(int year, int month, int cycleDay) {
    return EncodeDate(year, month, std::min(cycleDay, DaysInMonth(year, month)));
}

// 1899-12-30, day 0 of DateTime, counted from 1970-01-01.
constexpr std::int64_t kEpochOffset = -25569;

} // namespace

CivilDate DecodeDate(DateTime value) {
    return CivilFromDays(static_cast<std::int64_t>(std::floor(value)) + kEpochOffset);
}

DateTime EncodeDate(int year, int month, int day) {
    return static_cast<DateTime>(
        DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) -
        kEpochOffset);
}

DateTime EncodeTime(int hour, int minute, int second, int millisecond) {
    return ((hour * 3600.0 + minute * 60.0 + second) * 1000.0 + millisecond) / 86400000.0;
}

DateTime DateOf(DateTime value) {
    return std::floor(value);
}

int DayOfDate(DateTime value) {
    return DecodeDate(value).day;
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

} // namespace quorvane
