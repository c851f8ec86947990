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

// The width of a label's widest line.
int WidthOf(const QFontMetrics& fm, const QString& label) {
    int widest = 0;
    for (const QString& line : label.split(QLatin1Char('\n')))
        widest = std::max(widest, fm.horizontalAdvance(line));
    return widest;
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

void THistoryChart::SetNote(const QString& note) {
    note_ = note;
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

ChartScale THistoryChart::Scale() const {
    double largest = 0;
    for (const UsageBar& bar : bars_)
        largest = std::max(largest, bar.Sum());
    return ScaleFor(largest, dailyLine_, measure_);
}

bool THistoryChart::HasLegend() const {
    return stacked_ || dailyLine_ ||
           std::any_of(bars_.begin(), bars_.end(), [](const UsageBar& bar) { return bar.marked; });
}

THistoryChart::Geometry THistoryChart::Measure() const {
    const QFontMetrics fm(font());
    const int pad = fm.height() / 2;
    Geometry g;
    g.scale = Scale();
    const UsageAxis& axis = g.scale.axis;
    g.steps = static_cast<int>(std::lround(axis.top / axis.step));
    // Room for the longest grid label on the left, the legend above and the bars' labels below.
    for (int i = 0; i <= g.steps; ++i)
        g.labelWidth =
            std::max(g.labelWidth, fm.horizontalAdvance(Text(AxisLabel(i * axis.step, measure_))));
    int widest = 0;
    for (const UsageBar& bar : bars_) {
        const QString label = Text(bar.label);
        widest = std::max(widest, WidthOf(fm, label));
        g.labelLines = std::max(g.labelLines, static_cast<int>(label.count(QLatin1Char('\n'))) + 1);
    }
    const bool legend = HasLegend();
    g.plot = rect().adjusted(g.labelWidth + 2 * pad, pad + (legend ? fm.height() + pad : 0), -pad,
                             -(g.labelLines * fm.height() + pad));
    if (!bars_.empty() && g.plot.width() > 0) {
        const double slot = static_cast<double>(g.plot.width()) / bars_.size();
        g.every = std::max(1, static_cast<int>(std::ceil((widest + pad) / slot)));
    }
    return g;
}

int THistoryChart::LabelStep() const {
    return Measure().every;
}

int THistoryChart::WidthForLabels(int count, const QStringList& labels) const {
    const QFontMetrics fm(font());
    const int pad = fm.height() / 2;
    int widest = 0;
    for (const QString& label : labels)
        widest = std::max(widest, WidthOf(fm, label));
    // Room on the left for an axis of hours and minutes, as Measure() leaves it.
    const int axis = fm.horizontalAdvance(Text(AxisLabel(10.5 * 3600, UsageMeasure::Time)));
    return axis + 3 * pad + count * (widest + pad) + 1;
}

void THistoryChart::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QFontMetrics fm(font());
    const int pad = fm.height() / 2;
    const Geometry g = Measure();
    const UsageAxis& axis = g.scale.axis;
    const QRect& plot = g.plot;
    if (plot.width() <= 0 || plot.height() <= 0)
        return;
    const auto yOf = [&](double value) {
        return plot.bottom() - static_cast<int>(std::lround(value / axis.top * plot.height()));
    };

    // The grid and its labels.
    const QColor text = palette().color(QPalette::Text);
    QColor grid = text;
    grid.setAlpha(40);
    for (int i = 0; i <= g.steps; ++i) {
        const int y = yOf(i * axis.step);
        p.setPen(grid);
        p.drawLine(plot.left(), y, plot.right(), y);
        p.setPen(text);
        p.drawText(QRect(pad, y - fm.height() / 2, g.labelWidth, fm.height()),
                   Qt::AlignRight | Qt::AlignVCenter, Text(AxisLabel(i * axis.step, measure_)));
    }

    // The bars, with their labels as often as they fit.
    const int n = static_cast<int>(bars_.size());
    if (n > 0) {
        const double slot = static_cast<double>(plot.width()) / n;
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
            if (i % g.every == 0) {
                p.setPen(text);
                p.drawText(QRect(static_cast<int>(plot.left() + i * slot) - pad,
                                 plot.bottom() + pad / 2, static_cast<int>(slot) + 2 * pad,
                                 g.labelLines * fm.height()),
                           Qt::AlignHCenter | Qt::AlignTop, Text(bar.label));
            }
        }
    }

    // A line above the axis' top is not drawn: the legend gives its value.
    const bool lineDrawn = dailyLine_ && !g.scale.lineAbove;
    if (lineDrawn) {
        QPen pen(LineColor(), std::max(1, fm.height() / 8), Qt::DashLine);
        p.setPen(pen);
        p.drawLine(plot.left(), yOf(*dailyLine_), plot.right(), yOf(*dailyLine_));
    }

    if (!note_.isEmpty()) {
        p.setPen(text);
        p.drawText(plot, Qt::AlignCenter | Qt::TextWordWrap, note_);
    }

    // The legend: what each colour, the line and the mark stand for.
    if (HasLegend()) {
        int x = plot.left();
        const int y = pad;
        const auto entry = [&](const QColor& colour, const QString& label, bool line) {
            const int box = fm.height() * 2 / 3;
            if (line) {
                p.setPen(QPen(LineColor(), std::max(1, fm.height() / 8), Qt::DashLine));
                p.drawLine(x, y + fm.height() / 2, x + 2 * box, y + fm.height() / 2);
                x += 2 * box + pad / 2;
            } else if (colour.isValid()) {
                p.fillRect(QRect(x, y + (fm.height() - box) / 2, box, box), colour);
                x += box + pad / 2;
            }
            p.setPen(text);
            p.drawText(QRect(x, y, fm.horizontalAdvance(label) + 1, fm.height()),
                       Qt::AlignLeft | Qt::AlignVCenter, label);
            x += fm.horizontalAdvance(label) + 2 * pad;
        };
        if (stacked_) {
            entry(InsideColor(), tr("Inside peak"), false);
            entry(OutsideColor(), tr("Outside peak"), false);
        }
        if (dailyLine_)
            entry(LineColor(),
                  lineDrawn ? lineLabel_
                            : tr("%1 (%2, above the chart)")
                                  .arg(lineLabel_, Text(AxisLabel(*dailyLine_, measure_))),
                  true);
        if (std::any_of(bars_.begin(), bars_.end(), [](const UsageBar& bar) { return bar.marked; }))
            entry(QColor(), tr("* some sessions counted no data"), false);
    }
}

} // namespace quorvane
