#include "accounting/adjustment.h"

#include <algorithm>
#include <cstdint>
#include <limits>

namespace quorvane {

Duration& TimerOf(TimerSet& timers, AdjustableTimer which) {
    switch (which) {
    case AdjustableTimer::TotalTime:
        return timers.TotalTime;
    case AdjustableTimer::InsidePeak:
        return timers.InsidePeak;
    case AdjustableTimer::OutsidePeak:
        return timers.OutsidePeak;
    case AdjustableTimer::Today:
        break;
    }
    return timers.Today;
}

Duration AdjustedValue(Duration current, int hours, int minutes) {
    // 64 bits: the spin edits' limits are the window's, and a total near the largest Duration
    // plus 999 hours must not wrap round.
    const std::int64_t base = current;
    std::int64_t h = std::int64_t{hours} * 3600;
    std::int64_t m = std::int64_t{minutes} * 60;
    if (base + h < 0)
        h = 0;
    if (base + m < 0)
        m = 0;
    return static_cast<Duration>(
        std::clamp<std::int64_t>(base + h + m, 0, std::numeric_limits<Duration>::max()));
}

AdjustmentReadout ReadAdjustment(Duration current, int hours, int minutes) {
    const Duration adjusted = AdjustedValue(current, hours, minutes);
    return {adjusted, hours != 0 || minutes != 0, DurationText(current), DurationText(adjusted)};
}

void ApplyAdjustment(TimerSet& timers, AdjustableTimer which, int hours, int minutes) {
    if (hours == 0 && minutes == 0)
        return;
    Duration& timer = TimerOf(timers, which);
    timer = AdjustedValue(timer, hours, minutes);
}

} // namespace quorvane
