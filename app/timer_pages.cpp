// The main window's settings pages: Previous and Next, the page change, a provider picked from
// the list and the refresh of the pages that follows it, the detection method's effects, the
// checks of the fields a user leaves, the file buttons and the two panels.
#include "app/timer.h"

#include "accounting/charges.h"
#include "app/messages.h"
#include "app/save_dialog.h"
#include "settings/profiles.h"
#include "watch/windows_list.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFocusEvent>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTimer>
#include <QToolButton>

#include <algorithm>

namespace quorvane {

namespace {

const QString kTimeFormatMessage =
    QStringLiteral("Time must be in the format HH:MM:SS AM/PM\r\n\r\nPlease re-check what you "
                   "entered.");

// A field counts as left when the user moves to another control of the window. The focus also
// goes when a box or another window comes up, when the window is minimised or closed, when the
// page changes and when a failed check gives it back to its field; none of those is the user
// leaving the field, and checking then would trap the user or start a loop between two fields.
bool LeftByTheUser(Qt::FocusReason reason) {
    return reason == Qt::MouseFocusReason || reason == Qt::TabFocusReason ||
           reason == Qt::BacktabFocusReason || reason == Qt::ShortcutFocusReason;
}

} // namespace

void TfrmTimer::ConnectPageHandlers() {
    connect(sbPrevious, &QToolButton::clicked, this, &TfrmTimer::sbPreviousClick);
    connect(sbNext, &QToolButton::clicked, this, &TfrmTimer::sbNextClick);
    connect(nbMain, &QStackedWidget::currentChanged, this, &TfrmTimer::nbMainPageChanged);
    // A pick from the list (or Enter on a listed name); typing a name loads nothing.
    connect(cbProvider, &QComboBox::activated, this, &TfrmTimer::cbProviderClick);
    // currentIndexChanged rather than activated: a method set by the program acts as a pick;
    // loading a profile sets the index with the box's signals blocked.
    connect(cbDetection, &QComboBox::currentIndexChanged, this, &TfrmTimer::cbDetectionClick);
    // The taskbar text follows the choice at once, not only at the next tick.
    connect(cbMinimizedTime, &QComboBox::activated, this, &TfrmTimer::UpdateMinimizedCaption);
    for (QToolButton* browse : {sbWavBrowse, sbLogBrowse})
        connect(browse, &QToolButton::clicked, this, [this, browse] { sbWavBrowseClick(browse); });
    for (QToolButton* clear : {sbClearWav, sbClearLog})
        connect(clear, &QToolButton::clicked, this, [this, clear] { sbClearWavClick(clear); });
    for (QObject* watched : {static_cast<QObject*>(ePrice), static_cast<QObject*>(eStart),
                             static_cast<QObject*>(eStop), static_cast<QObject*>(eFreeHours)})
        watched->installEventFilter(this);
    for (QFrame* panel : {pBilling, pLogging}) {
        // Moves over the panel itself, not only drags, reach its handler.
        panel->setMouseTracking(true);
        panel->installEventFilter(this);
    }
}

bool TfrmTimer::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::FocusIn:
    case QEvent::FocusOut:
        if (watched == eFreeHours) {
            eFreeHoursChange();
        } else if (event->type() == QEvent::FocusOut &&
                   LeftByTheUser(static_cast<QFocusEvent*>(event)->reason())) {
            QueueExitCheck(static_cast<QLineEdit*>(watched));
        }
        break;
    case QEvent::MouseMove:
        if (watched == pBilling || watched == pLogging)
            pBillingMouseMove(watched);
        break;
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

void TfrmTimer::QueueExitCheck(QLineEdit* field) {
    // After the focus change has completed: a check inside it would move the focus while Qt is
    // still moving it. Each field's check once, in the order the user left them.
    if (std::find(queuedChecks_.begin(), queuedChecks_.end(), field) != queuedChecks_.end())
        return;
    queuedChecks_.push_back(field);
    QMetaObject::invokeMethod(
        this,
        [this, field] {
            std::erase(queuedChecks_, field);
            // Meanwhile the page may have changed, a panel closed or the window gone down.
            if (!field->isVisible() || isMinimized())
                return;
            if (field == ePrice)
                ePriceExit();
            else if (field == eDataAllowance)
                eDataAllowanceExit();
            else
                eStartExit(field);
        },
        Qt::QueuedConnection);
}

void TfrmTimer::Complain(QLineEdit* field, const QString& text) {
    if (field->isVisible())
        field->setFocus(Qt::OtherFocusReason);
    ShowInformationModeless(text, this);
}

void TfrmTimer::sbPreviousClick() {
    if (nbMain->currentIndex() > 0)
        nbMain->setCurrentIndex(nbMain->currentIndex() - 1);
}

void TfrmTimer::sbNextClick() {
    if (nbMain->currentIndex() + 1 < nbMain->count())
        nbMain->setCurrentIndex(nbMain->currentIndex() + 1);
}

void TfrmTimer::nbMainPageChanged() {
    seAdjHour->setValue(0);
    seAdjMin->setValue(0);
    if (nbMain->currentWidget() == pgAdjustTimers) {
        rbToday->setChecked(true);
        rbTodayClick();
    } else if (nbMain->currentWidget() == pgTimer) {
        ShowAllTimers();
    }
}

void TfrmTimer::cbProviderClick() {
    // The box reports a pick also when it merely loses the focus holding the name of one of its
    // entries (a restore focuses it, a button leaves it). The name the window holds already is
    // no pick: reloading it would drop the pages' edits and end a running session.
    const QString picked = cbProvider->currentText();
    if (picked == profileName_)
        return;
    Guarded([&] {
        // A running session is its provider's; it ends with that one before the picked one
        // comes, which may start a session of its own as watching finds.
        if (tOnLine->isActive() &&
            !SameProvider(picked.toStdString(), sessionProvider_.toStdString()))
            EndSessionForProviderChange();
        LoadProvider();
    });
}

// Its callers have just loaded the provider; loading it again here would report a damaged value
// twice and, after a save that failed, bring back the totals the day or cycle check has just
// cleared.
void TfrmTimer::RefreshSettingsPages() {
    cbDetectionClick();
    ckEnableBillingClick();
    ckEnablePeakClick();
    ckEnableLoggingClick();
    // The read-outs show the loaded totals, so the taskbar text does too from the start rather
    // than the zeros of an empty page.
    ShowAllTimers();
    UpdateMinimizedCaption();
}

void TfrmTimer::cbDetectionClick() {
    const int method = DetectionMethod();
    if (method == kManual)
        LeaveWatchingForManual();
    pCOMPort->setVisible(method == kComPort);
    cbProv->setVisible(method == kTcpIp);
    lProvider->setVisible(method == kTcpIp);
    lCaptionNote->setVisible(method == kTcpIp && !windowTitles_->CaptionsReadable());
    sbWatching->setEnabled(method != kManual);
    sbOverRide->setEnabled(tOnLine->isActive());
    sbManual->setEnabled(method == kManual);
    ckStartWhenRun->setEnabled(method == kManual);
    ckCloseOnDisconnect->setEnabled(method == kManual);
    ckWatchOnRun->setEnabled(method != kManual);
    ckColoredIconWatching->setEnabled(method != kManual);
    // A toggle that does not apply to the method is not left on.
    for (QObject* component : components) {
        auto* box = qobject_cast<QCheckBox*>(component);
        if (box && Tag(box) == 99 && !box->isEnabled())
            box->setChecked(false);
    }
    ShowNetworkControls();
}

void TfrmTimer::ePriceExit() {
    const PriceFieldCheck check = CheckPriceField(ePrice->text().toStdString());
    ePrice->setText(QString::fromStdString(check.text));
    if (check.required)
        Complain(ePrice,
                 QLatin1Char('"') + lPricePer->text() + QStringLiteral("\" is a required field."));
}

void TfrmTimer::eStartExit(QObject* sender) {
    QLineEdit* field = sender == eStop ? eStop : eStart;
    if (!IsPeakTimeText(field->text().toStdString()))
        Complain(field, kTimeFormatMessage);
}

void TfrmTimer::sbWavBrowseClick(QObject* sender) {
    const bool wav = sender == sbWavBrowse;
    sdBrowse->Title = wav ? QStringLiteral("Wav Alarm") : QStringLiteral("Log File");
    sdBrowse->Filter =
        wav ? QStringLiteral("Wav Files (*.WAV)|*.WAV") : QStringLiteral("Log Files (*.TXT)|*.TXT");
    sdBrowse->DefaultExt = wav ? QStringLiteral("WAV") : QStringLiteral("TXT");
    // The dialog offers the name it returned last, from either button.
    if (sdBrowse->Execute(this))
        (wav ? eWavAlarm : eLogFile)->setText(sdBrowse->FileName);
}

void TfrmTimer::sbClearWavClick(QObject* sender) {
    (sender == sbClearWav ? eWavAlarm : eLogFile)->clear();
}

void TfrmTimer::pBillingMouseMove(QObject* sender) {
    const auto holdsName = [](const QLineEdit* field) {
        return !StripSpaces(field->text().toStdString()).empty();
    };
    if (sender == pBilling) {
        const bool named = holdsName(eWavAlarm);
        sbWavPlay->setEnabled(named);
        sbClearWav->setEnabled(named);
    } else {
        sbClearLog->setEnabled(holdsName(eLogFile));
    }
}

} // namespace quorvane
