// The main window's side of the usage history: the Timer page's button and the tray menu's entry
// that open the History window, and what the window is told of the provider whose totals are
// counted and of each save, which may have ended a session.
#include "app/timer.h"

#include "accounting/data_allowance.h"
#include "app/history_window.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace quorvane {

void TfrmTimer::CreateHistoryParts() {
    btnHistory = Make<QPushButton>(pgTimer, "btnHistory");
    btnHistory->setText(QStringLiteral("Usage &History..."));
    btnHistory->setToolTip(QStringLiteral("Sessions by day and by billing cycle"));
    auto* row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(btnHistory);
    static_cast<QVBoxLayout*>(pgTimer->layout())->addLayout(row);
    connect(btnHistory, &QPushButton::clicked, this, &TfrmTimer::btnHistoryClick);
}

void TfrmTimer::btnHistoryClick() {
    if (!history_)
        history_ = new THistoryWindow(this);
    history_->SetView(CurrentHistoryView());
    history_->show();
    history_->raise();
    history_->activateWindow();
}

HistoryView TfrmTimer::CurrentHistoryView() const {
    HistoryView view;
    view.provider = TotalsProvider();
    view.cycleDay = seCycleDay->value();
    view.peakPeriod = ckEnablePeak->isChecked();
    if (ckEnableBilling->isChecked())
        view.freeSeconds = static_cast<double>(FreeHours()) * 3600;
    view.allowanceBytes = AllowanceBytes();
    view.receivedOnly = ckDataRxOnly->isChecked();
    view.usedSeconds = Timers.TotalTime;
    view.usedBytes = AllowanceUsed(Data.total, view.receivedOnly);
    return view;
}

void TfrmTimer::HistoryChanged() {
    if (history_ && history_->isVisible())
        history_->SetView(CurrentHistoryView());
}

} // namespace quorvane
