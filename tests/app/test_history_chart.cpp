// The History window's chart as it is drawn: bar heights, the stacked parts and the limit's line
// measured in the picture's pixels, at 100 %, 125 % and 200 % scaling.
#include "app/history_chart.h"

#include "core/regional.h"

#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace quorvane {
namespace {

struct ColourRun {
    int left, right; // columns, inclusive
};

// The runs of a colour along one row.
std::vector<ColourRun> RunsOf(const QImage& image, int y, QColor colour) {
    std::vector<ColourRun> runs;
    for (int x = 0; x < image.width(); ++x) {
        if (image.pixelColor(x, y) != colour)
            continue;
        if (!runs.empty() && runs.back().right == x - 1)
            runs.back().right = x;
        else
            runs.push_back({x, x});
    }
    return runs;
}

// Rows of a colour in one column, from the lowest upwards; the limit's line may cross it.
int HeightOf(const QImage& image, int x, int fromY, QColor colour) {
    int top = fromY + 1;
    for (int y = fromY; y >= 0; --y) {
        const QColor pixel = image.pixelColor(x, y);
        if (pixel == colour)
            top = y;
        else if (pixel != THistoryChart::LineColor())
            break;
    }
    return fromY - top + 1;
}

// The lowest row of the picture in which the colour shows.
int LowestRowOf(const QImage& image, QColor colour) {
    for (int y = image.height() - 1; y >= 0; --y)
        if (!RunsOf(image, y, colour).empty())
            return y;
    return -1;
}

QImage Draw(THistoryChart& chart, double scale) {
    const QSize size(640, 320);
    chart.resize(size);
    QImage image(size * scale, QImage::Format_RGB32);
    image.setDevicePixelRatio(scale);
    image.fill(Qt::white);
    QPainter painter(&image);
    chart.render(&painter);
    painter.end();
    return image;
}

class HistoryChart : public ::testing::TestWithParam<double> {
protected:
    void SetUp() override { Regional() = RegionalSettings{}; }
};

TEST_P(HistoryChart, BarsStandAsHighAsTheirTimeAndTheLineAtTheDailyShare) {
    THistoryChart chart;
    // One, two and four hours; nothing on the fourth day; the line at two hours.
    chart.SetChart({{"1", 3600, 0}, {"2", 7200, 0}, {"3", 14400, 0}, {"4", 0, 0}},
                   UsageMeasure::Time, false, 7200);
    const QImage image = Draw(chart, GetParam());
    const QColor bar = THistoryChart::InsideColor();
    const int base = LowestRowOf(image, bar);
    ASSERT_GT(base, 0);
    const std::vector<ColourRun> bars = RunsOf(image, base, bar);
    ASSERT_EQ(bars.size(), 3u) << "an empty day has no bar";
    std::vector<int> heights;
    for (const ColourRun& run : bars)
        heights.push_back(HeightOf(image, (run.left + run.right) / 2, base, bar));
    EXPECT_NEAR(heights[1], 2 * heights[0], 2);
    EXPECT_NEAR(heights[2], 4 * heights[0], 3);
    // The bars are as wide as each other and spaced evenly, to a device pixel's rounding.
    const double pixel = std::ceil(GetParam()) + 1;
    EXPECT_NEAR(bars[0].right - bars[0].left, bars[2].right - bars[2].left, pixel);
    EXPECT_NEAR(bars[1].left - bars[0].left, bars[2].left - bars[1].left, pixel);

    // The dashed line crosses the third bar at the second bar's top.
    const int secondTop = base - heights[1] + 1;
    bool found = false;
    for (int y = secondTop - 3; y <= secondTop + 3; ++y)
        found = found || !RunsOf(image, y, THistoryChart::LineColor()).empty();
    EXPECT_TRUE(found) << "no line near row " << secondTop;
    EXPECT_TRUE(RunsOf(image, secondTop - 10, THistoryChart::LineColor()).empty());
}

TEST_P(HistoryChart, StackedBarsSplitInsideAndOutsideThePeakPeriod) {
    THistoryChart chart;
    // Data: 300 MB inside and 100 MB outside, then 100 MB and 300 MB.
    chart.SetChart({{"1", 3e8, 1e8}, {"2", 1e8, 3e8}}, UsageMeasure::Data, true, std::nullopt);
    const QImage image = Draw(chart, GetParam());
    const QColor inside = THistoryChart::InsideColor(), outside = THistoryChart::OutsideColor();
    const int base = LowestRowOf(image, inside);
    ASSERT_GT(base, 0);
    const std::vector<ColourRun> bars = RunsOf(image, base, inside);
    ASSERT_EQ(bars.size(), 2u);
    int ins[2], outs[2];
    for (int i = 0; i < 2; ++i) {
        const int x = (bars[i].left + bars[i].right) / 2;
        ins[i] = HeightOf(image, x, base, inside);
        outs[i] = HeightOf(image, x, base - ins[i], outside);
    }
    EXPECT_NEAR(ins[0], 3 * outs[0], 3);
    EXPECT_NEAR(outs[1], 3 * ins[1], 3);
    EXPECT_NEAR(ins[0] + outs[0], ins[1] + outs[1], 1);
    EXPECT_NEAR(ins[0], outs[1], 1);
}

TEST_P(HistoryChart, AFewSecondsStandOutUnderAFarHigherLine) {
    THistoryChart chart;
    // Sixteen and four seconds, under a line at ten free hours spread over 31 days (19 min).
    chart.SetChart({{"1", 16, 0}, {"2", 4, 0}, {"3", 0, 0}}, UsageMeasure::Time, false,
                   10 * 3600 / 31.0, QStringLiteral("Free hours a day"));
    const QImage image = Draw(chart, GetParam());
    const QColor bar = THistoryChart::InsideColor();
    const int base = LowestRowOf(image, bar);
    ASSERT_GT(base, 0);
    const std::vector<ColourRun> bars = RunsOf(image, base, bar);
    ASSERT_EQ(bars.size(), 2u);
    const int tall = HeightOf(image, (bars[0].left + bars[0].right) / 2, base, bar);
    const int small = HeightOf(image, (bars[1].left + bars[1].right) / 2, base, bar);
    // On an axis of a minute the sixteen seconds take a good part of the chart's height.
    EXPECT_GT(tall, image.height() / 6);
    EXPECT_NEAR(tall, 4 * small, 4);
    // The line lies above the chart: it crosses no bar.
    for (int y = base - tall; y <= base; ++y)
        EXPECT_TRUE(RunsOf(image, y, THistoryChart::LineColor()).empty()) << "row " << y;
}

INSTANTIATE_TEST_SUITE_P(Scaling, HistoryChart, ::testing::Values(1.0, 1.25, 2.0));

} // namespace
} // namespace quorvane
