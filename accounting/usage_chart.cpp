#include "accounting/usage_chart.h"

#include "accounting/data_volume.h"
#include "core/regional.h"

#include <algorithm>
#include <cmath>

namespace quorvane {

namespace {

constexpr double kSecondsPerHour = 3600;

} // namespace

UsageAxis AxisFor(double largest, UsageMeasure measure) {
    const double unit = measure == UsageMeasure::Time ? kSecondsPerHour : 1;
    // Less than an hour or a megabyte is drawn on the axis of one.
    const double floor = measure == UsageMeasure::Time ? 1 : 1e6;
    const double scaled = std::max(largest / unit, floor);
    // The smallest round step that needs no more than ten of them.
    double step = 0;
    for (double power = std::pow(10.0, std::floor(std::log10(scaled / 10))); step == 0;
         power *= 10) {
        for (const double factor : {1.0, 2.0, 5.0}) {
            if (step == 0 && scaled / (factor * power) <= 10 + 1e-9)
                step = factor * power;
        }
    }
    const double steps = std::max(1.0, std::ceil(scaled / step - 1e-9));
    return {steps * step * unit, step * unit};
}

std::string AxisLabel(double value, UsageMeasure measure) {
    if (measure == UsageMeasure::Data)
        return FormatDataVolume(static_cast<std::uint64_t>(std::llround(value)));
    const long minutes = std::lround(value / 60);
    if (minutes == 0)
        return "0";
    if (minutes < 60)
        return std::to_string(minutes) + " min";
    if (minutes % 60 == 0)
        return std::to_string(minutes / 60) + " h";
    return std::to_string(minutes / 60) + " h " + std::to_string(minutes % 60) + " min";
}

double DailyShare(double limit, DateTime start, DateTime end) {
    const double days = std::round(end - start);
    return days >= 1 ? limit / days : limit;
}

UsageProjection ProjectUsage(double used, double limit, DateTime start, DateTime end,
                             DateTime now) {
    if (limit <= 0 || now < start || now >= end)
        return {};
    if (used >= limit)
        return {UsageProjection::UsedUp, 0};
    const double elapsed = now - start;
    if (used <= 0 || elapsed <= 0)
        return {UsageProjection::Lasts, 0};
    const DateTime reached = now + (limit - used) * elapsed / used;
    if (reached >= end)
        return {UsageProjection::Lasts, 0};
    return {UsageProjection::RunsOut, DateOf(reached)};
}

std::string ProjectionText(const UsageProjection& projection, UsageMeasure measure) {
    const bool time = measure == UsageMeasure::Time;
    switch (projection.kind) {
    case UsageProjection::None:
        break;
    case UsageProjection::UsedUp:
        return time ? "The free hours are used up." : "The data allowance is used up.";
    case UsageProjection::Lasts:
        return time ? "At this rate the free hours last to the cycle day."
                    : "At this rate the data allowance lasts to the cycle day.";
    case UsageProjection::RunsOut:
        return std::string(time ? "At this rate the free hours run out on "
                                : "At this rate the data allowance runs out on ") +
               FormatShortDate(projection.runsOut) + ".";
    }
    return {};
}

} // namespace quorvane
