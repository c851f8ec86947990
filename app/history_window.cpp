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
#include <QScrollBar>
#include <QTableWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include <cstring>
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

// A bar of `sums` named `label` (its first line) and `below` (a second line, if any). In data,
// a bar of which some sessions counted no bytes is marked with a "*", as quorvane-usage marks
// such sums.
UsageBar Bar(const QString& label, const QString& below, const UsageSums& sums,
             UsageMeasure measure, bool stacked, bool receivedOnly) {
    UsageBar bar;
    if (measure == UsageMeasure::Data) {
        bar.inside = static_cast<double>(Bytes(sums, receivedOnly).value_or(0));
        bar.marked = sums.someCountedNoBytes();
    } else if (stacked) {
        bar.inside = static_cast<double>(sums.insidePeak);
        bar.outside = static_cast<double>(sums.outsidePeak);
    } else {
        bar.inside = static_cast<double>(sums.seconds);
    }
    QString text = label;
    if (bar.marked)
        text += QLatin1Char('*');
    if (!below.isEmpty())
        text += QLatin1Char('\n') + below;
    bar.label = text.toStdString();
    return bar;
}

// A cycle's months as its bar names them: "Mar", or "Mar–Apr" for one that runs into the
// next month.
QString MonthsText(const CycleName& name, const QLocale& locale) {
    const QString first = locale.monthName(name.firstMonth, QLocale::ShortFormat);
    if (name.lastMonth == name.firstMonth)
        return first;
    return THistoryWindow::tr("%1–%2", "the first and last month of a billing cycle")
        .arg(first, locale.monthName(name.lastMonth, QLocale::ShortFormat));
}

// Its years, when they are shown: "2026", or "2025–26" for one across the new year.
QString YearsText(const CycleName& name) {
    if (name.firstYear == 0)
        return {};
    if (name.lastYear == name.firstYear)
        return QString::number(name.firstYear);
    return THistoryWindow::tr("%1–%2", "the years of a billing cycle across the new year")
        .arg(QString::number(name.firstYear),
             QStringLiteral("%1").arg(name.lastYear % 100, 2, 10, QLatin1Char('0')));
}

// The sessions table, whose preferred height holds ten of them.
class SessionTable : public QTableWidget {
public:
    using QTableWidget::QTableWidget;
    QSize sizeHint() const override {
        QSize size = QTableWidget::sizeHint();
        size.setHeight(horizontalHeader()->sizeHint().height() +
                       10 * verticalHeader()->defaultSectionSize() +
                       horizontalScrollBar()->sizeHint().height() + 2 * frameWidth());
        return size;
    }
};

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
    tvSessions = new SessionTable(0, 5, this);
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
    // The chart and the table share the height as their preferred heights do, so the default
    // size gives each its own and a larger window grows both.
    body->addWidget(chHistory, chHistory->sizeHint().height());
    body->addWidget(lProjection);
    body->addWidget(tvSessions, tvSessions->sizeHint().height());
    body->addLayout(bottom);

    // Wide enough for each of the twelve cycles' bars to carry its months and each of a
    // cycle's 31 days its number (both marked), and tall enough for ten sessions in the table.
    const QLocale locale;
    QStringList months;
    for (int month = 1; month <= 12; ++month)
        months << MonthsText({month, month % 12 + 1, 0, 0}, locale) + QLatin1Char('*');
    const int chart = std::max(chHistory->WidthForLabels(12, months),
                               chHistory->WidthForLabels(31, {QStringLiteral("28*")}));
    const QMargins margins = body->contentsMargins();
    resize(std::max(sizeHint().width(), chart + margins.left() + margins.right()),
           sizeHint().height());

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

    CycleBounds cycle = CycleAround(view_.cycleDay, today);
    bool earlier = false;
    std::vector<UsageBar> bars;
    std::vector<SessionRow> rows;
    std::optional<double> line;
    QString lineLabel;
    QString note;
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
            chHistory->SetNote({});
            btnEarlier->setEnabled(false);
            btnLater->setEnabled(false);
            ShowSessions({});
            return;
        }
        // The cycle shown: the current one, or as many before it as the arrows have gone back,
        // but none before the first that holds a session.
        const std::optional<DateTime> first = history->FirstDay(provider);
        int back = 0;
        for (; back < cyclesBack_ && first && *first < cycle.start; ++back)
            cycle = CycleAround(view_.cycleDay, cycle.start - 1);
        cyclesBack_ = back;
        earlier = days && first && *first < cycle.start;
        if (days) {
            lCycle->setText(
                Text(FormatShortDate(cycle.start) + " - " + FormatShortDate(cycle.end - 1)));
            for (const DayUsage& day : history->Days(provider, cycle.start, cycle.end))
                bars.push_back(Bar(QString::number(DayOfDate(day.day)), {}, day.sums, measure,
                                   stacked, view_.receivedOnly));
            rows = history->Sessions(provider, cycle.start, cycle.end);
            if (rows.empty())
                note = tr("No sessions in this cycle.");
            if (limit > 0)
                line = DailyShare(limit, cycle.start, cycle.end);
            lineLabel =
                measure == UsageMeasure::Time ? tr("Free hours a day") : tr("Data allowance a day");
        } else {
            const auto cycles = history->LastCycles(provider, view_.cycleDay, today, 12);
            if (!cycles.empty())
                lCycle->setText(Text(FormatShortDate(cycles.front().bounds.start) + " - " +
                                     FormatShortDate(cycles.back().bounds.end - 1)));
            std::vector<CyclePeriod> periods;
            for (const CycleUsage& c : cycles)
                periods.push_back({c.bounds.start, c.bounds.end});
            const std::vector<CycleName> names = NamesOfCycles(periods);
            const QLocale locale;
            for (std::size_t i = 0; i < cycles.size(); ++i)
                bars.push_back(Bar(MonthsText(names[i], locale), YearsText(names[i]),
                                   cycles[i].sums, measure, stacked, view_.receivedOnly));
            if (!cycles.empty())
                rows = history->Sessions(provider, cycles.front().bounds.start,
                                         cycles.back().bounds.end);
            if (rows.empty())
                note = tr("No sessions in these twelve cycles.");
            if (limit > 0)
                line = limit;
            lineLabel = measure == UsageMeasure::Time ? tr("Free hours") : tr("Data allowance");
        }
    } catch (const StoreError& e) {
        lProjection->setText(tr("The usage history cannot be read: ") +
                             QString::fromUtf8(e.what()));
        return;
    }
    btnEarlier->setEnabled(earlier);
    btnLater->setEnabled(days && cyclesBack_ > 0);
    chHistory->SetChart(std::move(bars), measure, stacked, line, lineLabel);
    chHistory->SetNote(note);

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

// Why an export was not written, for the user.
QString THistoryWindow::ExportRefusalText(const ExportTarget& target) {
    const QString system = QString::fromLocal8Bit(std::strerror(target.error));
    switch (target.refusal) {
    case ExportRefusal::None:
        break;
    case ExportRefusal::StoreFile:
        return tr("It is one of the store's own files. Export to another file.");
    case ExportRefusal::Link:
        return tr("It is a symbolic link. An export replaces only a regular file.");
    case ExportRefusal::Folder:
        return tr("It is a folder, not a file.");
    case ExportRefusal::NotRegularFile:
        return tr("It is not a regular file.");
    case ExportRefusal::ReadOnlyFile:
        return tr("The file is read-only for you (%1), so it is not replaced.").arg(system);
    case ExportRefusal::ReadOnlyFolder:
        return tr("You may not make files in its folder (%1).").arg(system);
    case ExportRefusal::NoFolder:
        return tr("Its folder does not exist (%1).").arg(system);
    case ExportRefusal::WriteFailed:
        return tr("It could not be written: %1.").arg(system);
    }
    return {};
}

void THistoryWindow::btnExportClick() {
    // The dialog's own overwrite question is off (the log file's "Browse" keeps logging into a
    // file named again), so an existing file is asked about here. "No" chooses another name.
    QString name;
    for (;;) {
        if (!sdExport->Execute(this))
            return;
        name = sdExport->FileName;
        const ExportTarget target = CheckExportFile(name.toStdString());
        if (!target.ok()) {
            ShowError(tr("The usage history could not be exported to %1:\r\n\r\n%2")
                          .arg(name, ExportRefusalText(target)));
            return;
        }
        if (!target.exists)
            break;
        const int answer =
            AskConfirm(tr("%1 already exists.\r\n\r\nDo you want to replace it?").arg(name));
        if (answer == mrYes)
            break;
        if (answer != mrNo)
            return;
    }
    const bool json =
        QFileInfo(name).suffix().compare(QLatin1String("json"), Qt::CaseInsensitive) == 0;
    const std::string text =
        json ? UsageJson({view_.provider.toStdString(), view_.cycleDay, shown_, {}, {}})
             : SessionsCsv(shown_);
    const ExportTarget written = WriteExportFile(name.toStdString(), text);
    if (!written.ok())
        ShowError(tr("The usage history could not be exported to %1:\r\n\r\n%2")
                      .arg(name, ExportRefusalText(written)));
}

} // namespace quorvane
