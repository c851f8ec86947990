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
    const bool time = measure == UsageMeasure::Time;
    // Nothing to follow: the axis of an hour or a megabyte.
    if (!(largest > 0))
        largest = time ? kSecondsPerHour : 1e6;
    // No finer than a minute or a kilobyte.
    const double scaled = std::max(largest, time ? 60.0 : 1e3);
    // The smallest round step that needs no more than ten of them.
    const auto fits = [scaled](double step) { return scaled / step <= 10 + 1e-9; };
    double step = 0;
    if (time) {
        for (const double minutes : {1.0, 2.0, 5.0, 10.0, 30.0})
            if (step == 0 && fits(minutes * 60))
                step = minutes * 60;
    }
    const double unit = time ? kSecondsPerHour : 1;
    for (double power = time ? 1 : std::pow(10.0, std::floor(std::log10(scaled / 10))); step == 0;
         power *= 10) {
        for (const double factor : {1.0, 2.0, 5.0})
            if (step == 0 && fits(factor * power * unit))
                step = factor * power * unit;
    }
    const double steps = std::max(1.0, std::ceil(scaled / step - 1e-9));
    return {steps * step, step};
}

ChartScale ScaleFor(double largest, std::optional<double> line, UsageMeasure measure) {
    // Nothing to flatten: the line's own axis.
    if (line && !(largest > 0))
        return {AxisFor(*line, measure), false};
    const UsageAxis bars = AxisFor(largest, measure);
    if (!line || *line <= bars.top)
        return {bars, false};
    const UsageAxis both = AxisFor(*line, measure);
    if (both.top <= 2 * largest)
        return {both, false};
    return {bars, true};
}

std::vector<CycleName> NamesOfCycles(const std::vector<CyclePeriod>& cycles) {
    std::vector<CycleName> names;
    if (cycles.empty())
        return names;
    const bool years =
        DecodeDate(cycles.front().start).year != DecodeDate(cycles.back().end - 1).year;
    for (const CyclePeriod& cycle : cycles) {
        const CivilDate first = DecodeDate(cycle.start), last = DecodeDate(cycle.end - 1);
        names.push_back({first.month, last.month, years ? first.year : 0, years ? last.year : 0});
    }
    return names;
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
