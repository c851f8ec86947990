// The main window's Adjust Timers page: one total raised or lowered by hours and minutes, or all
// four cleared. While a session runs the change carries into it: the next tick goes on from the
// adjusted totals, and the session's save and log line hold them.
#include "app/timer.h"

#include "accounting/adjustment.h"
#include "accounting/session_tick.h"
#include "app/messages.h"

#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTimer>

namespace quorvane {

void TfrmTimer::ConnectAdjustHandlers() {
    connect(rbToday, &QRadioButton::clicked, this, &TfrmTimer::rbTodayClick);
    connect(rbTotalTime, &QRadioButton::clicked, this, &TfrmTimer::rbTotalTimeClick);
    connect(rbInsidePeak, &QRadioButton::clicked, this, &TfrmTimer::rbInsidePeakClick);
    connect(rbOutsidePeak, &QRadioButton::clicked, this, &TfrmTimer::rbOutsidePeakClick);
    connect(seAdjHour, &QSpinBox::valueChanged, this, &TfrmTimer::seAdjHourChange);
    connect(seAdjMin, &QSpinBox::valueChanged, this, &TfrmTimer::seAdjHourChange);
    connect(btnAdjust, &QPushButton::clicked, this, &TfrmTimer::btnAdjustClick);
    connect(btnReset, &QPushButton::clicked, this, &TfrmTimer::btnResetClick);
    connect(btnClearAll, &QPushButton::clicked, this, &TfrmTimer::btnClearAllClick);
}

AdjustableTimer TfrmTimer::SelectedAdjustTimer() const {
    if (rbTotalTime->isChecked())
        return AdjustableTimer::TotalTime;
    if (rbInsidePeak->isChecked())
        return AdjustableTimer::InsidePeak;
    if (rbOutsidePeak->isChecked())
        return AdjustableTimer::OutsidePeak;
    return AdjustableTimer::Today;
}

void TfrmTimer::ShowAdjustTimer(AdjustableTimer which) {
    // The page's current value, kept in lAdjValue's tag, is the total as it stands now.
    SetTag(lAdjValue, TimerOf(Timers, which));
    seAdjHourChange();
}

void TfrmTimer::rbTodayClick() {
    ShowAdjustTimer(AdjustableTimer::Today);
}

void TfrmTimer::rbTotalTimeClick() {
    ShowAdjustTimer(AdjustableTimer::TotalTime);
}

void TfrmTimer::rbInsidePeakClick() {
    ShowAdjustTimer(AdjustableTimer::InsidePeak);
}

void TfrmTimer::rbOutsidePeakClick() {
    ShowAdjustTimer(AdjustableTimer::OutsidePeak);
}

void TfrmTimer::seAdjHourChange() {
    const AdjustmentReadout readout =
        ReadAdjustment(Tag(lAdjValue), seAdjHour->value(), seAdjMin->value());
    btnAdjust->setEnabled(readout.adjustEnabled);
    lCurrValue->setText(QString::fromStdString(readout.currentText));
    lAdjValue->setText(QString::fromStdString(readout.adjustedText));
    // The adjusted value, kept in btnAdjust's tag.
    SetTag(btnAdjust, readout.adjusted);
}

void TfrmTimer::btnAdjustClick() {
    const AdjustableTimer which = SelectedAdjustTimer();
    ApplyAdjustment(Timers, which, seAdjHour->value(), seAdjMin->value());
    if (tOnLine->isActive())
        session_->TotalsChanged();
    ShowAdjustTimer(which);
    Guarded([this] { SaveTotals(); });
    seAdjHour->setValue(0);
    seAdjMin->setValue(0);
    SetTag(btnAdjust, 0);
    btnAdjust->setEnabled(false);
    ShowAllTimers();
    UpdateMinimizedCaption();
}

void TfrmTimer::btnResetClick() {
    seAdjHour->setValue(0);
    seAdjMin->setValue(0);
}

void TfrmTimer::btnClearAllClick() {
    if (AskConfirm(QStringLiteral("This is to confirm that you want to CLEAR ALL TIMERS!")) !=
        mrYes)
        return;
    ClearTimers(Timers);
    ClearData(true);
    if (tOnLine->isActive())
        session_->TotalsChanged();
    ShowAllTimers();
    const QString zero = QString::fromStdString(DurationText(0));
    lCurrent->setText(zero);
    lElapsed->setText(zero);
    ShowAdjustTimer(SelectedAdjustTimer());
    UpdateMinimizedCaption();
}

} // namespace quorvane
