#pragma once
// What the History window shows of a billing cycle: a bar a day (or a cycle), split inside and
// outside the peak period, a line at the free hours or the data allowance spread over the
// cycle's days, an axis with round steps, and how the cycle ends at the rate used so far.

#include "core/datetime.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quorvane {

// Time in seconds, or data in bytes.
enum class UsageMeasure { Time, Data };

struct UsageBar {
    std::string label;   // under the bar: the day of the month, or the cycle's months; may hold
                         // more than one line
    double inside = 0;   // the peak period's part; all of it when there is no peak split
    double outside = 0;  // the part outside the peak period
    bool marked = false; // some of its sessions counted no bytes (its label carries a "*")
    double Sum() const { return inside + outside; }
};

// The axis of a chart whose tallest bar is `largest`: a top value and the step of its grid
// lines, no more than ten of them. It follows the bars down to a minute or a kilobyte, so a day
// of a few seconds still stands out: time steps of 1, 2, 5, 10 or 30 minutes, then 1, 2 or 5
// times a power of ten of hours; data steps of 1, 2 or 5 times a power of ten of bytes. An empty
// chart gets the axis of an hour or a megabyte.
struct UsageAxis {
    double top = 1;
    double step = 1;
};
UsageAxis AxisFor(double largest, UsageMeasure measure);

// The axis of bars up to `largest` under the limit's line at `line`: the line is taken into the
// axis while the tallest bar still reaches half of it; above that it lies over the chart, so a
// day's share of the free hours never flattens a cycle of a few minutes.
struct ChartScale {
    UsageAxis axis;
    bool lineAbove = false; // the line is higher than the axis' top
};
ChartScale ScaleFor(double largest, std::optional<double> line, UsageMeasure measure);

// A grid line's label: "12 h", "30 min" for time; "1.5 GB" for data, in the locale's decimals.
std::string AxisLabel(double value, UsageMeasure measure);

// A billing cycle of the Cycles view: its first day, and the next cycle's first day.
struct CyclePeriod {
    DateTime start = 0;
    DateTime end = 0;
};

// What a cycle's bar is named by: the month of a cycle that lies in one calendar month, else the
// month it starts in and the one its last day falls in (a cycle from the 15th is neither month
// alone); with the years when the cycles shown span more than one calendar year. Months 1-12;
// the years are 0 when they are not shown.
struct CycleName {
    int firstMonth = 1;
    int lastMonth = 1;
    int firstYear = 0;
    int lastYear = 0;
    bool operator==(const CycleName&) const = default;
};
std::vector<CycleName> NamesOfCycles(const std::vector<CyclePeriod>& cycles);

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
