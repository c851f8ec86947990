// The History window's chart of a cycle: round axes, the daily share of the limit and the
// projection to the cycle's end.
#include "accounting/usage_chart.h"

#include "core/regional.h"

#include <gtest/gtest.h>

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
        // An empty or nearly empty chart still spans an hour or a megabyte.
        {0, UsageMeasure::Time, 3600, 360, "1 h"},
        {3 * 3600 + 1, UsageMeasure::Time, 3.5 * 3600, 1800, "3 h 30 min"},
        {5 * 3600, UsageMeasure::Time, 5 * 3600, 1800, "5 h"},
        {23 * 3600, UsageMeasure::Time, 25 * 3600, 5 * 3600, "25 h"},
        {0, UsageMeasure::Data, 1'000'000, 100'000, "1 MB"},
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
