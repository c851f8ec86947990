#include "accounting/timevalues.h"

#include "core/clock.h"

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

} // namespace quorvane
