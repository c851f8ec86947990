#pragma once
// What the History window shows of a billing cycle: a bar a day (or a cycle), split inside and
// outside the peak period, a line at the free hours or the data allowance spread over the
// cycle's days, an axis with round steps, and how the cycle ends at the rate used so far.

#include "core/datetime.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quorvane {

// Time in seconds, or data in bytes.
enum class UsageMeasure { Time, Data };

struct UsageBar {
    std::string label;  // under the bar: the day of the month, or the cycle's month
    double inside = 0;  // the peak period's part; all of it when there is no peak split
    double outside = 0; // the part outside the peak period
    double Sum() const { return inside + outside; }
};

// The axis of a chart whose largest bar (or line) is `largest`: a top value and the step of its
// grid lines, 1, 2 or 5 times a power of ten of the measure's unit (hours for time, decimal
// bytes for data), no more than ten of them. Less than an hour or a megabyte gets the axis of
// one.
struct UsageAxis {
    double top = 1;
    double step = 1;
};
UsageAxis AxisFor(double largest, UsageMeasure measure);

// A grid line's label: "12 h", "30 min" for time; "1.5 GB" for data, in the locale's decimals.
std::string AxisLabel(double value, UsageMeasure measure);

// The limit's share of one day of a cycle from `start` to `end` (the next cycle's first day).
double DailyShare(double limit, DateTime start, DateTime end);

// How the cycle from `start` to `end` ends when `used` of `limit` is used by `now` and the rest
// of it goes on at the same rate.
struct UsageProjection {
    enum Kind { None, Lasts, RunsOut, UsedUp } kind = None;
    DateTime runsOut = 0; // the day the limit is reached (RunsOut)
};
UsageProjection ProjectUsage(double used, double limit, DateTime start, DateTime end,
                             DateTime now);

// "At this rate the free hours run out on 12/24/2026.", "At this rate the data allowance lasts
// to the cycle day.", ...; empty for None.
std::string ProjectionText(const UsageProjection& projection, UsageMeasure measure);

} // namespace quorvane
