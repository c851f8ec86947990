#pragma once
// The History window's bar chart, drawn with QPainter: a bar a day (or a cycle) on a round axis
// that follows the tallest bar, stacked inside and outside the peak period when the peak period
// is on, and a dashed line at the free hours or the data allowance spread over the cycle's days
// (named in the legend, with its value when it lies above the chart).

#include "accounting/usage_chart.h"

#include <QColor>
#include <QString>
#include <QStringList>
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

    // A text shown across the chart, such as that the cycle has no sessions; empty for none.
    void SetNote(const QString& note);
    QString Note() const { return note_; }

    const std::vector<UsageBar>& Bars() const { return bars_; }
    std::optional<double> DailyLine() const { return dailyLine_; }
    // The axis the bars are drawn on, and whether the line lies above it.
    ChartScale Scale() const;
    // Every how many bars a label is drawn at the chart's present width (1: under each bar).
    int LabelStep() const;
    // The width at which `count` bars each carry their label, the widest being among `labels`.
    int WidthForLabels(int count, const QStringList& labels) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    // Where the parts go at the present size.
    struct Geometry {
        ChartScale scale;
        int steps = 0;      // grid lines above the base
        int labelWidth = 0; // of the axis' labels
        int labelLines = 1; // of the bars' labels
        QRect plot;
        int every = 1; // a bar's label every so many bars
    };
    Geometry Measure() const;
    bool HasLegend() const;

    std::vector<UsageBar> bars_;
    UsageMeasure measure_ = UsageMeasure::Time;
    bool stacked_ = false;
    std::optional<double> dailyLine_;
    QString lineLabel_;
    QString note_;
};

} // namespace quorvane
