#include "accounting/timevalues.h"

#include "accounting/clock.h"

#include <cmath>
#include <cstdlib>

namespace quorvane {

namespace {

struct Parts {
    std::int64_t hours, minutes, seconds;
};

Parts Split(std::int64_t s) {
    const std::int64_t r = s % 3600;
    return {s / 3600, r / 60, r % 60};
}

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

// 1899-12-30, day 0 of DateTime, counted from 1970-01-01.
constexpr std::int64_t kEpochOffset = -25569;

} // namespace

std::string FormatDuration(std::int64_t hours, std::int64_t minutes, std::int64_t seconds) {
    return PadLeft(std::to_string(hours), '0', 3) + ":" + PadLeft(std::to_string(minutes), '0', 2) +
           ":" + PadLeft(std::to_string(seconds), '0', 2);
}

std::string DurationText(Duration seconds) {
    if (seconds < 0) {
        const Parts p = Split(-static_cast<std::int64_t>(seconds));
        std::string text = FormatDuration(p.hours, p.minutes, p.seconds);
        text.insert(text.begin(), '-');
        return text;
    }
    const Parts p = Split(seconds);
    return FormatDuration(p.hours, p.minutes, p.seconds);
}

std::variant<std::int32_t, std::string> DurationPart(Duration seconds, int selector) {
    const Parts p = Split(seconds);
    switch (selector) {
    case 0:
        return static_cast<std::int32_t>(p.hours);
    case 1:
        return static_cast<std::int32_t>(p.minutes);
    case 2:
        return static_cast<std::int32_t>(p.seconds);
    default:
        return DurationText(seconds);
    }
}

Duration SecondsSince(DateTime moment) {
    const double diff = std::fabs(Now() - moment);
    const auto ms = static_cast<std::int64_t>(std::llround(diff * 86400000.0)) % 86400000;
    return static_cast<Duration>(ms / 1000);
}

void ClearTimers(TimerSet& timers) {
    timers.Today = 0;
    timers.TotalTime = 0;
    timers.InsidePeak = 0;
    timers.OutsidePeak = 0;
}

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

std::string StripChar(std::string_view text, char ch) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c != ch)
            out.push_back(c);
    }
    return out;
}

std::string StripSpaces(std::string_view text) {
    return StripChar(text, ' ');
}

std::string_view TrimBlanks(std::string_view s) {
    while (!s.empty() && s.front() == ' ')
        s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ')
        s.remove_suffix(1);
    return s;
}

std::string PadLeft(std::string_view text, char fill, std::size_t width) {
    std::string out(text);
    if (out.size() < width)
        out.insert(0, width - out.size(), fill);
    return out;
}

char LastChar(std::string_view text) {
    return text.empty() ? '\0' : text.back();
}

std::string DropLastChar(std::string_view text) {
    return std::string(text.empty() ? text : text.substr(0, text.size() - 1));
}

} // namespace quorvane
