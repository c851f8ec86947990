#include "app/history_window.h"

#include "accounting/data_volume.h"
#include "accounting/timevalues.h"
#include "app/history_chart.h"
#include "app/messages.h"
#include "app/save_dialog.h"
#include "app/store_messages.h"
#include "core/clock.h"
#include "core/regional.h"
#include "settings/history.h"
#include "settings/history_export.h"
#include "settings/store.h"

#include <QComboBox>
#include <QFileInfo>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QTableWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include <string>

namespace quorvane {

namespace {

QString Text(const std::string& text) {
    return QString::fromStdString(text);
}

// A cell that sorts by a number of its own rather than by its text.
class SortedItem : public QTableWidgetItem {
public:
    SortedItem(const QString& text, double key) : QTableWidgetItem(text), key_(key) {}
    bool operator<(const QTableWidgetItem& other) const override {
        if (const auto* sorted = dynamic_cast<const SortedItem*>(&other))
            return key_ < sorted->key_;
        return QTableWidgetItem::operator<(other);
    }

private:
    double key_;
};

QString MomentText(const HistoryMoment& moment) {
    const DateTime local = LocalDateTime(moment);
    return Text(FormatShortDate(local) + " " + FormatLongTime(local));
}

std::optional<std::uint64_t> Bytes(const UsageSums& sums, bool receivedOnly) {
    if (!sums.rx && !sums.tx)
        return std::nullopt;
    return sums.rx.value_or(0) + (receivedOnly ? 0 : sums.tx.value_or(0));
}

UsageBar Bar(std::string label, const UsageSums& sums, UsageMeasure measure, bool stacked,
             bool receivedOnly) {
    if (measure == UsageMeasure::Data)
        return {std::move(label), static_cast<double>(Bytes(sums, receivedOnly).value_or(0)), 0};
    if (stacked)
        return {std::move(label), static_cast<double>(sums.insidePeak),
                static_cast<double>(sums.outsidePeak)};
    return {std::move(label), static_cast<double>(sums.seconds), 0};
}

enum Column { colStart, colEnd, colLength, colData, colCharges };

} // namespace

THistoryWindow::THistoryWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("frmHistory"));
    setWindowTitle(QStringLiteral("Usage History"));

    btnEarlier = new QToolButton(this);
    btnEarlier->setObjectName(QStringLiteral("btnEarlier"));
    btnEarlier->setArrowType(Qt::LeftArrow);
    btnEarlier->setToolTip(QStringLiteral("Earlier cycle"));
    btnLater = new QToolButton(this);
    btnLater->setObjectName(QStringLiteral("btnLater"));
    btnLater->setArrowType(Qt::RightArrow);
    btnLater->setToolTip(QStringLiteral("Later cycle"));
    lCycle = new QLabel(this);
    lCycle->setObjectName(QStringLiteral("lCycle"));
    lCycle->setAlignment(Qt::AlignCenter);
    cbHistoryView = new QComboBox(this);
    cbHistoryView->setObjectName(QStringLiteral("cbHistoryView"));
    cbHistoryView->addItems({QStringLiteral("Days"), QStringLiteral("Cycles")});
    cbHistoryView->setToolTip(QStringLiteral("The days of a cycle, or the last twelve cycles"));
    cbMeasure = new QComboBox(this);
    cbMeasure->setObjectName(QStringLiteral("cbMeasure"));
    cbMeasure->addItems({QStringLiteral("Time"), QStringLiteral("Data")});
    chHistory = new THistoryChart(this);
    lProjection = new QLabel(this);
    lProjection->setObjectName(QStringLiteral("lProjection"));
    lProjection->setWordWrap(true);
    tvSessions = new QTableWidget(0, 5, this);
    tvSessions->setObjectName(QStringLiteral("tvSessions"));
    tvSessions->setHorizontalHeaderLabels({QStringLiteral("Start"), QStringLiteral("End"),
                                           QStringLiteral("Length"), QStringLiteral("Data"),
                                           QStringLiteral("Charges")});
    tvSessions->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tvSessions->setSelectionBehavior(QAbstractItemView::SelectRows);
    tvSessions->verticalHeader()->hide();
    tvSessions->horizontalHeader()->setStretchLastSection(true);
    tvSessions->setSortingEnabled(true);
    tvSessions->sortByColumn(colStart, Qt::AscendingOrder);
    // Widths from the longest texts a column takes rather than from every row, which a
    // year of sessions would make slow.
    const QFontMetrics fm = tvSessions->fontMetrics();
    const int margin = fm.height();
    const QString moment = Text(FormatShortDate(EncodeDate(2026, 12, 28)) + " " +
                                FormatLongTime(EncodeTime(23, 58, 58)));
    tvSessions->setColumnWidth(colStart, fm.horizontalAdvance(moment) + margin);
    tvSessions->setColumnWidth(colEnd, fm.horizontalAdvance(moment) + margin);
    tvSessions->setColumnWidth(colLength,
                               fm.horizontalAdvance(QStringLiteral("000:00:00")) + margin);
    tvSessions->setColumnWidth(colData, fm.horizontalAdvance(QStringLiteral("888 MB")) + margin);
    btnExport = new QPushButton(QStringLiteral("&Export..."), this);
    btnExport->setObjectName(QStringLiteral("btnExport"));
    btnExport->setToolTip(QStringLiteral("Save the sessions shown as CSV or JSON"));
    sdExport = new TSaveDialog(this);
    sdExport->setObjectName(QStringLiteral("sdExport"));
    sdExport->Title = QStringLiteral("Export Usage History");
    sdExport->Filter = QStringLiteral("CSV Files (*.csv)|*.csv|JSON Files (*.json)|*.json");
    sdExport->DefaultExt = QStringLiteral("csv");

    auto* top = new QHBoxLayout;
    top->addWidget(btnEarlier);
    top->addWidget(lCycle, 1);
    top->addWidget(btnLater);
    top->addSpacing(fontMetrics().height());
    top->addWidget(cbHistoryView);
    top->addWidget(cbMeasure);
    auto* bottom = new QHBoxLayout;
    bottom->addStretch();
    bottom->addWidget(btnExport);
    auto* body = new QVBoxLayout(this);
    body->addLayout(top);
    body->addWidget(chHistory, 3);
    body->addWidget(lProjection);
    body->addWidget(tvSessions, 2);
    body->addLayout(bottom);

    connect(btnEarlier, &QToolButton::clicked, this, [this] {
        ++cyclesBack_;
        Refresh();
    });
    connect(btnLater, &QToolButton::clicked, this, [this] {
        cyclesBack_ = std::max(0, cyclesBack_ - 1);
        Refresh();
    });
    connect(cbHistoryView, &QComboBox::currentIndexChanged, this, &THistoryWindow::Refresh);
    connect(cbMeasure, &QComboBox::currentIndexChanged, this, &THistoryWindow::Refresh);
    connect(btnExport, &QPushButton::clicked, this, &THistoryWindow::btnExportClick);
}

void THistoryWindow::SetView(const HistoryView& view) {
    if (view.provider != view_.provider || view.cycleDay != view_.cycleDay)
        cyclesBack_ = 0;
    // Data is what a data allowance is counted in; time otherwise.
    if (view.provider != view_.provider) {
        const QSignalBlocker quiet(cbMeasure);
        cbMeasure->setCurrentIndex(view.allowanceBytes > 0 ? 1 : 0);
    }
    view_ = view;
    setWindowTitle(view.provider.trimmed().isEmpty()
                       ? QStringLiteral("Usage History")
                       : QStringLiteral("Usage History - ") + view.provider.trimmed());
    Refresh();
}

void THistoryWindow::Refresh() {
    const std::string provider = view_.provider.toStdString();
    const bool days = cbHistoryView->currentIndex() == 0;
    const UsageMeasure measure =
        cbMeasure->currentIndex() == 1 ? UsageMeasure::Data : UsageMeasure::Time;
    const bool stacked = measure == UsageMeasure::Time && view_.peakPeriod;
    const DateTime today = DateOf(Now());

    // The cycle shown: the current one, or as many before it as the arrows have gone back.
    CycleBounds cycle = CycleAround(view_.cycleDay, today);
    for (int i = 0; i < cyclesBack_; ++i)
        cycle = CycleAround(view_.cycleDay, cycle.start - 1);
    btnEarlier->setEnabled(days);
    btnLater->setEnabled(days && cyclesBack_ > 0);

    std::vector<UsageBar> bars;
    std::vector<SessionRow> rows;
    std::optional<double> line;
    QString lineLabel;
    const double limit = measure == UsageMeasure::Time ? view_.freeSeconds
                                                       : static_cast<double>(view_.allowanceBytes);
    std::string why;
    try {
        StoreProblem problem;
        const auto history = UsageHistory::Open(&why, &problem);
        if (!history) {
            lProjection->setText(tr("The usage history cannot be read: %1")
                                     .arg(problem ? TStoreMessages::Cause(problem) : Text(why)));
            chHistory->SetChart({}, measure, stacked, std::nullopt);
            ShowSessions({});
            return;
        }
        if (days) {
            lCycle->setText(
                Text(FormatShortDate(cycle.start) + " - " + FormatShortDate(cycle.end - 1)));
            for (const DayUsage& day : history->Days(provider, cycle.start, cycle.end))
                bars.push_back(Bar(std::to_string(DayOfDate(day.day)), day.sums, measure, stacked,
                                   view_.receivedOnly));
            rows = history->Sessions(provider, cycle.start, cycle.end);
            if (limit > 0)
                line = DailyShare(limit, cycle.start, cycle.end);
            lineLabel = measure == UsageMeasure::Time ? QStringLiteral("Free hours a day")
                                                      : QStringLiteral("Data allowance a day");
        } else {
            const auto cycles = history->LastCycles(provider, view_.cycleDay, today, 12);
            if (!cycles.empty())
                lCycle->setText(Text(FormatShortDate(cycles.front().bounds.start) + " - " +
                                     FormatShortDate(cycles.back().bounds.end - 1)));
            const QLocale locale;
            for (const CycleUsage& c : cycles) {
                const CivilDate date = DecodeDate(c.bounds.start);
                bars.push_back(Bar(locale.monthName(date.month, QLocale::ShortFormat).toStdString(),
                                   c.sums, measure, stacked, view_.receivedOnly));
            }
            if (!cycles.empty())
                rows = history->Sessions(provider, cycles.front().bounds.start,
                                         cycles.back().bounds.end);
            if (limit > 0)
                line = limit;
            lineLabel = measure == UsageMeasure::Time ? QStringLiteral("Free hours")
                                                      : QStringLiteral("Data allowance");
        }
    } catch (const StoreError& e) {
        lProjection->setText(QStringLiteral("The usage history cannot be read: ") +
                             QString::fromUtf8(e.what()));
        return;
    }
    chHistory->SetChart(std::move(bars), measure, stacked, line, lineLabel);

    // Where the running cycle is heading, at the rate the charges have counted so far.
    QString projection;
    if (days && cyclesBack_ == 0) {
        const double used = measure == UsageMeasure::Time ? view_.usedSeconds
                                                          : static_cast<double>(view_.usedBytes);
        projection =
            Text(ProjectionText(ProjectUsage(used, limit, cycle.start, cycle.end, Now()), measure));
    }
    lProjection->setText(projection);
    ShowSessions(rows);
}

void THistoryWindow::ShowSessions(const std::vector<SessionRow>& rows) {
    shown_ = rows;
    tvSessions->setSortingEnabled(false);
    tvSessions->setRowCount(static_cast<int>(rows.size()));
    for (int i = 0; i < static_cast<int>(rows.size()); ++i) {
        const SessionRow& row = rows[i];
        // A session of a method that counts no data has no figure, not 0 B.
        const bool counted = row.rx || row.tx;
        const std::uint64_t bytes = row.rx.value_or(0) + row.tx.value_or(0);
        tvSessions->setItem(
            i, colStart, new SortedItem(MomentText(row.start), static_cast<double>(row.start.utc)));
        tvSessions->setItem(i, colEnd,
                            new SortedItem(MomentText(row.end), static_cast<double>(row.end.utc)));
        tvSessions->setItem(i, colLength,
                            new SortedItem(Text(DurationText(static_cast<Duration>(row.seconds))),
                                           static_cast<double>(row.seconds)));
        tvSessions->setItem(i, colData,
                            new SortedItem(counted ? Text(FormatDataVolume(bytes)) : QString(),
                                           counted ? static_cast<double>(bytes) : -1.0));
        tvSessions->setItem(i, colCharges, new QTableWidgetItem(Text(row.charges)));
    }
    tvSessions->setSortingEnabled(true);
    btnExport->setEnabled(!rows.empty());
}

void THistoryWindow::btnExportClick() {
    if (!sdExport->Execute(this))
        return;
    const QString name = sdExport->FileName;
    const bool json =
        QFileInfo(name).suffix().compare(QLatin1String("json"), Qt::CaseInsensitive) == 0;
    std::string why;
    const std::string text =
        json ? UsageJson({view_.provider.toStdString(), view_.cycleDay, shown_, {}, {}})
             : SessionsCsv(shown_);
    if (!WriteExportFile(name.toStdString(), text, &why))
        ShowError(QStringLiteral("The usage history could not be exported to ") + name +
                  QStringLiteral(":\r\n\r\n") + Text(why));
}

} // namespace quorvane
