#pragma once
// The History window's bar chart, drawn with QPainter: a bar a day (or a cycle) on a round axis,
// stacked inside and outside the peak period when the peak period is on, and a dashed line at
// the free hours or the data allowance spread over the cycle's days.

#include "accounting/usage_chart.h"

#include <QColor>
#include <QString>
#include <QWidget>

#include <optional>
#include <vector>

namespace quorvane {

class THistoryChart : public QWidget {
    Q_OBJECT
public:
    explicit THistoryChart(QWidget* parent = nullptr);

    // `dailyLine`: where the limit's line goes, in the bars' measure, named in the legend by
    // `lineLabel`; none: no line.
    void SetChart(std::vector<UsageBar> bars, UsageMeasure measure, bool stacked,
                  std::optional<double> dailyLine, const QString& lineLabel = QString());

    // The colours of the bars' parts (inside the peak period, or the whole bar when not
    // stacked; outside it) and of the line.
    static QColor InsideColor();
    static QColor OutsideColor();
    static QColor LineColor();

    const std::vector<UsageBar>& Bars() const { return bars_; }
    std::optional<double> DailyLine() const { return dailyLine_; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::vector<UsageBar> bars_;
    UsageMeasure measure_ = UsageMeasure::Time;
    bool stacked_ = false;
    std::optional<double> dailyLine_;
    QString lineLabel_;
};

} // namespace quorvane
