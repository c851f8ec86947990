#include "app/history_chart.h"

#include <QFontMetrics>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace quorvane {

namespace {

QString Text(const std::string& text) {
    return QString::fromStdString(text);
}

} // namespace

THistoryChart::THistoryChart(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("chHistory"));
    setBackgroundRole(QPalette::Base);
    setAutoFillBackground(true);
}

QColor THistoryChart::InsideColor() {
    return QColor(0x1f, 0x5f, 0xb4);
}

QColor THistoryChart::OutsideColor() {
    return QColor(0x7f, 0xb8, 0xe8);
}

QColor THistoryChart::LineColor() {
    return QColor(0xd0, 0x30, 0x20);
}

void THistoryChart::SetChart(std::vector<UsageBar> bars, UsageMeasure measure, bool stacked,
                             std::optional<double> dailyLine, const QString& lineLabel) {
    bars_ = std::move(bars);
    measure_ = measure;
    stacked_ = stacked;
    dailyLine_ = dailyLine;
    lineLabel_ = lineLabel;
    update();
}

QSize THistoryChart::sizeHint() const {
    const QFontMetrics fm(font());
    return {fm.horizontalAdvance(QLatin1Char('0')) * 80, fm.height() * 16};
}

QSize THistoryChart::minimumSizeHint() const {
    const QFontMetrics fm(font());
    return {fm.horizontalAdvance(QLatin1Char('0')) * 40, fm.height() * 9};
}

void THistoryChart::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QFontMetrics fm(font());
    const int pad = fm.height() / 2;

    double largest = dailyLine_.value_or(0);
    for (const UsageBar& bar : bars_)
        largest = std::max(largest, bar.Sum());
    const UsageAxis axis = AxisFor(largest, measure_);
    const int steps = static_cast<int>(std::lround(axis.top / axis.step));

    // Room for the longest grid label on the left, the legend above and the bars' labels below.
    int labelWidth = 0;
    for (int i = 0; i <= steps; ++i)
        labelWidth =
            std::max(labelWidth, fm.horizontalAdvance(Text(AxisLabel(i * axis.step, measure_))));
    const bool legend = stacked_ || dailyLine_;
    const QRect plot = rect().adjusted(labelWidth + 2 * pad, pad + (legend ? fm.height() + pad : 0),
                                       -pad, -(fm.height() + pad));
    if (plot.width() <= 0 || plot.height() <= 0)
        return;
    const auto yOf = [&](double value) {
        return plot.bottom() - static_cast<int>(std::lround(value / axis.top * plot.height()));
    };

    // The grid and its labels.
    const QColor text = palette().color(QPalette::Text);
    QColor grid = text;
    grid.setAlpha(40);
    for (int i = 0; i <= steps; ++i) {
        const int y = yOf(i * axis.step);
        p.setPen(grid);
        p.drawLine(plot.left(), y, plot.right(), y);
        p.setPen(text);
        p.drawText(QRect(pad, y - fm.height() / 2, labelWidth, fm.height()),
                   Qt::AlignRight | Qt::AlignVCenter, Text(AxisLabel(i * axis.step, measure_)));
    }

    // The bars, with their labels as often as they fit.
    const int n = static_cast<int>(bars_.size());
    if (n > 0) {
        const double slot = static_cast<double>(plot.width()) / n;
        int widest = 0;
        for (const UsageBar& bar : bars_)
            widest = std::max(widest, fm.horizontalAdvance(Text(bar.label)));
        const int every = std::max(1, static_cast<int>(std::ceil((widest + pad) / slot)));
        for (int i = 0; i < n; ++i) {
            const UsageBar& bar = bars_[i];
            const int left = plot.left() + static_cast<int>(std::lround(i * slot + slot * 0.15));
            const int right =
                plot.left() + static_cast<int>(std::lround((i + 1) * slot - slot * 0.15));
            const int width = std::max(1, right - left);
            const int base = yOf(0);
            const int split = yOf(stacked_ ? bar.inside : bar.Sum());
            const int top = yOf(bar.Sum());
            p.fillRect(QRect(left, split, width, base - split), InsideColor());
            if (stacked_)
                p.fillRect(QRect(left, top, width, split - top), OutsideColor());
            if (i % every == 0) {
                p.setPen(text);
                p.drawText(QRect(static_cast<int>(plot.left() + i * slot) - pad, plot.bottom() + pad / 2,
                                 static_cast<int>(slot) + 2 * pad, fm.height()),
                           Qt::AlignHCenter | Qt::AlignTop, Text(bar.label));
            }
        }
    }

    if (dailyLine_) {
        QPen pen(LineColor(), std::max(1, fm.height() / 8), Qt::DashLine);
        p.setPen(pen);
        p.drawLine(plot.left(), yOf(*dailyLine_), plot.right(), yOf(*dailyLine_));
    }

    // The legend: what each colour and the line stand for.
    if (legend) {
        int x = plot.left();
        const int y = pad;
        const auto entry = [&](const QColor& colour, const QString& label, bool line) {
            const int box = fm.height() * 2 / 3;
            if (line) {
                p.setPen(QPen(LineColor(), std::max(1, fm.height() / 8), Qt::DashLine));
                p.drawLine(x, y + fm.height() / 2, x + 2 * box, y + fm.height() / 2);
                x += 2 * box + pad / 2;
            } else {
                p.fillRect(QRect(x, y + (fm.height() - box) / 2, box, box), colour);
                x += box + pad / 2;
            }
            p.setPen(text);
            p.drawText(QRect(x, y, fm.horizontalAdvance(label) + 1, fm.height()),
                       Qt::AlignLeft | Qt::AlignVCenter, label);
            x += fm.horizontalAdvance(label) + 2 * pad;
        };
        if (stacked_) {
            entry(InsideColor(), QStringLiteral("Inside peak"), false);
            entry(OutsideColor(), QStringLiteral("Outside peak"), false);
        }
        if (dailyLine_)
            entry(LineColor(), lineLabel_, true);
    }
}

} // namespace quorvane
