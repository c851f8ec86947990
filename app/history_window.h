#pragma once
// The Usage History window: one per program, not modal, opened from the tray menu and the Timer
// page. A bar chart of a billing cycle by day (or of the last twelve cycles), the free hours or
// the data allowance spread over the cycle with the projection to its end, the cycle's sessions
// in a sortable table, and their export as CSV or JSON. It reads the store's history afresh
// whenever the main window has saved a session's end.

#include "accounting/usage_chart.h"
#include "settings/history.h"
#include "settings/history_export.h"

#include <QString>
#include <QWidget>

#include <cstdint>
#include <optional>
#include <vector>

class QComboBox;
class QLabel;
class QPushButton;
class QTableWidget;
class QToolButton;

namespace quorvane {

class THistoryChart;
class TSaveDialog;

// What the window shows the history of: the provider whose totals are counted, with its cycle
// day and limits as the pages hold them, and the cycle's totals as the charges count them
// (adjustments and the running session included), for the projection.
struct HistoryView {
    QString provider;
    int cycleDay = 0;
    bool peakPeriod = false;
    double freeSeconds = 0;          // 0: no free hours
    std::uint64_t allowanceBytes = 0; // 0: no data allowance
    bool receivedOnly = false;
    double usedSeconds = 0;
    std::uint64_t usedBytes = 0; // what counts against the allowance
};

class THistoryWindow : public QWidget {
    Q_OBJECT
public:
    explicit THistoryWindow(QWidget* parent = nullptr);

    // Shows the history of `view`; another provider or cycle day starts again at the current
    // cycle.
    void SetView(const HistoryView& view);
    // Reads the store again and redraws what is shown.
    void Refresh();

    QToolButton* btnEarlier;
    QToolButton* btnLater;
    QLabel* lCycle;
    QComboBox* cbHistoryView; // "Days", "Cycles"
    QComboBox* cbMeasure;     // "Time", "Data"
    THistoryChart* chHistory;
    QLabel* lProjection;
    QTableWidget* tvSessions;
    QPushButton* btnExport;
    TSaveDialog* sdExport;

private:
    void btnExportClick();
    static QString ExportRefusalText(const ExportTarget& target);
    void ShowSessions(const std::vector<SessionRow>& rows);

    HistoryView view_;
    int cyclesBack_ = 0;
    std::vector<SessionRow> shown_;
};

} // namespace quorvane
