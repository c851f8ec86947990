// The History window's chart of a cycle: round axes, the daily share of the limit and the
// projection to the cycle's end.
#include "accounting/usage_chart.h"

#include "core/regional.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

namespace quorvane {
namespace {

TEST(UsageChart, TheAxisGoesInRoundStepsOfHoursOrBytes) {
    Regional() = RegionalSettings{};
    struct Case {
        double largest;
        UsageMeasure measure;
        double top, step;
        const char* topLabel;
    } const cases[] = {
        // An empty chart spans an hour or a megabyte (in steps of whole minutes).
        {0, UsageMeasure::Time, 3600, 600, "1 h"},
        // The axis follows the largest day down to a minute, so a few seconds still show.
        {16, UsageMeasure::Time, 60, 60, "1 min"},
        {100, UsageMeasure::Time, 120, 60, "2 min"},
        {45 * 60, UsageMeasure::Time, 45 * 60, 300, "45 min"},
        {55 * 60, UsageMeasure::Time, 3600, 600, "1 h"},
        {3600 + 1, UsageMeasure::Time, 70 * 60, 600, "1 h 10 min"},
        {3 * 3600 + 1, UsageMeasure::Time, 3.5 * 3600, 1800, "3 h 30 min"},
        {5 * 3600, UsageMeasure::Time, 5 * 3600, 1800, "5 h"},
        {23 * 3600, UsageMeasure::Time, 25 * 3600, 5 * 3600, "25 h"},
        {0, UsageMeasure::Data, 1'000'000, 100'000, "1 MB"},
        // ... and down to a kilobyte.
        {500, UsageMeasure::Data, 1'000, 100, "1 kB"},
        {16'000, UsageMeasure::Data, 16'000, 2'000, "16 kB"},
        {1'240'000'000, UsageMeasure::Data, 1'400'000'000, 200'000'000, "1.4 GB"},
        {9'000'000, UsageMeasure::Data, 9'000'000, 1'000'000, "9 MB"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.largest);
        const UsageAxis axis = AxisFor(c.largest, c.measure);
        EXPECT_DOUBLE_EQ(axis.top, c.top);
        EXPECT_DOUBLE_EQ(axis.step, c.step);
        EXPECT_GE(axis.top, c.largest);
        EXPECT_LE(axis.top / axis.step, 10.0 + 1e-9);
        EXPECT_EQ(AxisLabel(axis.top, c.measure), c.topLabel);
    }
}

TEST(UsageChart, TheLimitsLineNeverFlattensTheBars) {
    const double freeHoursADay = 10 * 3600 / 31.0; // 19 min 21 s
    struct Case {
        double largest;
        std::optional<double> line;
        UsageMeasure measure;
        double top;
        bool lineAbove;
    } const cases[] = {
        // Sixteen seconds under a line of 19 minutes: the axis stays at a minute.
        {16, freeHoursADay, UsageMeasure::Time, 60, true},
        // The line comes into the axis while the tallest bar still reaches half of it.
        {15 * 60, freeHoursADay, UsageMeasure::Time, 20 * 60, false},
        {9 * 60, freeHoursADay, UsageMeasure::Time, 9 * 60, true},
        {3 * 3600, freeHoursADay, UsageMeasure::Time, 3 * 3600, false},
        // Nothing to flatten: the line's own axis; without one, an hour's.
        {0, freeHoursADay, UsageMeasure::Time, 20 * 60, false},
        {0, std::nullopt, UsageMeasure::Time, 3600, false},
        {16, std::nullopt, UsageMeasure::Time, 60, false},
        {400e6, 100e6, UsageMeasure::Data, 400e6, false},
        {2e6, 100e6, UsageMeasure::Data, 2e6, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.largest);
        const ChartScale scale = ScaleFor(c.largest, c.line, c.measure);
        EXPECT_DOUBLE_EQ(scale.axis.top, c.top);
        EXPECT_EQ(scale.lineAbove, c.lineAbove);
        EXPECT_GE(scale.axis.top, c.largest);
        if (c.line && !c.lineAbove) {
            EXPECT_GE(scale.axis.top, *c.line);
        }
    }
}

TEST(UsageChart, ACycleIsNamedByItsMonthsAndYearsWhenTheCyclesSpanMore) {
    const auto months = [](int cycleDay, int year, int month, int count) {
        // `count` cycles starting on `cycleDay` from `month` of `year` on.
        std::vector<CyclePeriod> cycles;
        for (int i = 0; i <= count; ++i) {
            const int m = (month - 1 + i) % 12 + 1, y = year + (month - 1 + i) / 12;
            const DateTime start = EncodeDate(y, m, cycleDay);
            if (!cycles.empty())
                cycles.back().end = start;
            if (i < count)
                cycles.push_back({start, 0});
        }
        return cycles;
    };
    struct Case {
        const char* what;
        std::vector<CyclePeriod> cycles;
        CycleName first, last;
    } const cases[] = {
        {"calendar months of one year: the month alone", months(1, 2026, 1, 12), {1, 1, 0, 0},
         {12, 12, 0, 0}},
        {"calendar months over two years: with the year", months(1, 2025, 4, 12),
         {4, 4, 2025, 2025}, {3, 3, 2026, 2026}},
        // The current cycle of 15 Feb - 14 Mar is named by both months, never by February
        // alone; the one across the new year by both years.
        {"cycles across two months", months(15, 2025, 3, 12), {3, 4, 2025, 2025},
         {2, 3, 2026, 2026}},
        {"a cycle across the new year", months(15, 2025, 12, 2), {12, 1, 2025, 2026},
         {1, 2, 2026, 2026}},
        {"two months of one year", months(15, 2026, 3, 2), {3, 4, 0, 0}, {4, 5, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::vector<CycleName> names = NamesOfCycles(c.cycles);
        ASSERT_EQ(names.size(), c.cycles.size());
        EXPECT_EQ(names.front(), c.first);
        EXPECT_EQ(names.back(), c.last);
    }
    EXPECT_TRUE(NamesOfCycles({}).empty());
}

TEST(UsageChart, TheCycleEndsAsItsRateSoFarSays) {
    Regional() = RegionalSettings{};
    const DateTime start = EncodeDate(2026, 12, 1), end = EncodeDate(2027, 1, 1);
    EXPECT_DOUBLE_EQ(DailyShare(31 * 3600, start, end), 3600);
    const double limit = 31 * 3600; // an hour a day
    struct Case {
        double used;
        DateTime now;
        UsageProjection::Kind kind;
        const char* text;
    } const cases[] = {
        // Ten days, twenty hours: two a day, so the limit's 31 hours are reached on the 16th.
        {20 * 3600, start + 10, UsageProjection::RunsOut,
         "At this rate the free hours run out on 12/16/2026."},
        {5 * 3600, start + 10, UsageProjection::Lasts,
         "At this rate the free hours last to the cycle day."},
        {0, start + 10, UsageProjection::Lasts,
         "At this rate the free hours last to the cycle day."},
        {limit, start + 10, UsageProjection::UsedUp, "The free hours are used up."},
        // Only the running cycle has a future.
        {20 * 3600, end + 1, UsageProjection::None, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const UsageProjection projection = ProjectUsage(c.used, limit, start, end, c.now);
        EXPECT_EQ(projection.kind, c.kind);
        EXPECT_EQ(ProjectionText(projection, UsageMeasure::Time), c.text);
    }
    EXPECT_EQ(ProjectUsage(1, 0, start, end, start + 1).kind, UsageProjection::None);
    EXPECT_EQ(ProjectionText(ProjectUsage(2e9, 1e9, start, end, start + 3), UsageMeasure::Data),
              "The data allowance is used up.");
}

} // namespace
} // namespace quorvane
