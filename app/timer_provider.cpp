// The main window's provider profile, charges, session log and alarm handlers.
#include "app/timer.h"

#include "accounting/charges.h"
#include "accounting/session_log.h"
#include "accounting/session_tick.h"
#include "accounting/wav_player.h"
#include "app/alarm_player.h"
#include "app/messages.h"
#include "app/notifier.h"
#include "app/profile_form.h"
#include "app/session_keeper.h"
#include "core/clock.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QTimer>
#include <QToolButton>

#include <utility>

namespace quorvane {

void TfrmTimer::ConnectProviderHandlers() {
    connect(btnSave, &QPushButton::clicked, this, &TfrmTimer::btnSaveClick);
    connect(sbSave, &QToolButton::clicked, this, &TfrmTimer::sbSaveClick);
    connect(btnDelete, &QPushButton::clicked, this, &TfrmTimer::btnDeleteClick);
    // Only the user's typing and picking count as changes of the name; the program filling the
    // list or showing the default does not.
    connect(cbProvider->lineEdit(), &QLineEdit::textEdited, this, &TfrmTimer::cbProviderChange);
    connect(cbProvider, &QComboBox::activated, this, &TfrmTimer::cbProviderChange);
    connect(sbWavPlay, &QToolButton::clicked, this, &TfrmTimer::sbWavPlayClick);
    // toggled and textChanged, not clicked and textEdited: loading a profile runs the same
    // reactions as the user's own change.
    connect(ckEnableBilling, &QCheckBox::toggled, this, &TfrmTimer::ckEnableBillingClick);
    connect(ckEnablePeak, &QCheckBox::toggled, this, &TfrmTimer::ckEnablePeakClick);
    connect(ckEnableLogging, &QCheckBox::toggled, this, &TfrmTimer::ckEnableLoggingClick);
    connect(eFreeHours, &QLineEdit::textChanged, this, &TfrmTimer::eFreeHoursChange);
}

ProfileForm TfrmTimer::Form(std::optional<QString> provider) {
    ProfileForm form{&components, cbProvider,  ckSetAsDefault, cbProv, keeper_.get(),
                     &Data,       &DataAlerts, std::move(provider)};
    // A save of another provider while a session runs is not the session's: its state stays.
    if (tOnLine->isActive() &&
        !SameProvider(ProviderOf(form).toStdString(), sessionProvider_.toStdString()))
        form.session = nullptr;
    return form;
}

QStringList TfrmTimer::StartUpSequence() {
    QStringList notes;
    // Each step on its own: a stored value of the wrong type ends the step it is read in.
    // A session cut short goes into its provider's totals before anything reads them, and
    // before the day and cycle checks, which may clear them.
    Guarded([&] { RecoverCutSession(notes); });
    // The default provider's settings into the controls and its totals into the timer set.
    Guarded([this] {
        FillProviderList(true);
        TransferProviderSettings(true, Timers);
    });
    lastRolloverCheck_ = Now();
    RollOverTotals(notes);
    Guarded([this] { RefreshSettingsPages(); });
    StartWatchingOrSession();
    ArmRolloverTimer();
    return notes;
}

bool TfrmTimer::TransferProviderSettings(bool load, TimerSet& timers,
                                         std::optional<DateTime> savedFor) {
    return TransferProfile(Form(), load, timers, savedFor);
}

bool TfrmTimer::TransferProfile(const ProfileForm& form, bool load, TimerSet& timers,
                                std::optional<DateTime> savedFor) {
    // From the load's first value on the window holds that provider, also when a damaged value
    // ends the load.
    if (load)
        profileName_ = ProviderOf(form);
    const bool done = quorvane::TransferProviderSettings(form, load, timers, savedFor);
    if (done && !load) {
        profileName_ = ProviderOf(form);
        // A save may have ended a session: the history has a row more.
        HistoryChanged();
    }
    return done;
}

void TfrmTimer::SaveTotals() {
    if (tOnLine->isActive())
        session_->SettleForSave();
    TransferProviderSettings(false, Timers);
}

QString TfrmTimer::TotalsProvider() const {
    return tOnLine->isActive() ? sessionProvider_ : profileName_;
}

void TfrmTimer::SaveClearedTotals() {
    if (tOnLine->isActive())
        session_->SettleForSave();
    quorvane::SaveStoredTotals(Form(TotalsProvider()), Timers);
}

void TfrmTimer::LoadProvider() {
    TransferProviderSettings(true, Timers);
    RefreshSettingsPages();
}

bool TfrmTimer::FillProviderList(bool selectDefault) {
    return quorvane::FillProviderList(cbProvider, selectDefault);
}

void TfrmTimer::btnSaveClick() {
    Guarded([this] {
        // A field that a later load could not take back as it was saved is not saved.
        if (!DataAllowanceSavable())
            return;
        SetActivePage(QStringLiteral("Provider"));
        // Both peak sides up to a running session's last tick, as every save takes them.
        if (tOnLine->isActive())
            session_->SettleForSave();
        if (SaveProvider(Form(), Timers))
            profileName_ = cbProvider->currentText();
    });
}

void TfrmTimer::sbSaveClick() {
    btnSaveClick();
}

void TfrmTimer::cbProviderChange() {
    const bool named = !StripSpaces(cbProvider->currentText().toStdString()).empty();
    btnDelete->setEnabled(named);
    btnSave->setEnabled(named);
    ckSetAsDefault->setEnabled(named);
    // While watching, Save and Delete stay locked whatever the name.
    if (named)
        LockWhileWatching();
}

void TfrmTimer::btnDeleteClick() {
    Guarded([this] {
        const QString name = cbProvider->currentText();
        const bool running = tOnLine->isActive();
        if (running && SameProvider(name.toStdString(), sessionProvider_.toStdString())) {
            ShowInformation(QStringLiteral("A session with \"%1\" is running. Stop the session "
                                           "before you delete \"%1\".")
                                .arg(name));
            return;
        }
        if (!DeleteProvider(Form()))
            return;
        if (running) {
            // The window goes on holding the session's provider, which it shows again.
            FillProviderList(false);
            const QSignalBlocker quiet(cbProvider);
            cbProvider->setEditText(sessionProvider_);
            return;
        }
        FillProviderList(true);
        LoadProvider();
    });
}

BillingInputs TfrmTimer::Billing() const {
    return {ckEnableBilling->isChecked(), eFreeHours->text().toStdString(),
            ePrice->text().toStdString(), eWavAlarm->text().toStdString(), tOnLine->isActive()};
}

QString TfrmTimer::ChargesText() const {
    TimerSet timers = Timers;
    return QString::fromStdString(quorvane::FormatCharges(Billing(), timers, {}));
}

std::int64_t TfrmTimer::FreeHours() const {
    return ParseInteger(StripSpaces(eFreeHours->text().toStdString())).value_or(0);
}

QString TfrmTimer::FormatCharges() {
    const BillingInputs billing = Billing();
    const auto usedUp = [this](const std::string& charges) {
        if (std::exchange(freeHoursTold_, true))
            return;
        const std::int64_t hours = FreeHours();
        const QString provider = cbProvider->currentText().trimmed();
        QString body = hours == 1 ? QStringLiteral("Your free hour")
                                  : QStringLiteral("Your %1 free hours").arg(hours);
        if (!provider.isEmpty())
            body += QStringLiteral(" with %1").arg(provider);
        body += hours == 1 ? QStringLiteral(" is used up.") : QStringLiteral(" are used up.");
        body += QStringLiteral(" Charges so far: %1").arg(QString::fromStdString(charges));
        notifier_->Notify(QStringLiteral("Free hours used up"), body);
    };
    return QString::fromStdString(quorvane::FormatCharges(
        billing, Timers, [this] { PlayWavAlarm(); }, usedUp));
}

bool TfrmTimer::WriteSessionLog(const TimerSet& timers, const QString& charges) {
    return WriteSessionLogTo(eLogFile->text(), timers, charges);
}

bool TfrmTimer::WriteSessionLogTo(const QString& file, const TimerSet& timers,
                                  const QString& charges, std::optional<DateTime> at) {
    std::string why;
    const bool written =
        quorvane::WriteSessionLog(file.toStdString(), timers, charges.toStdString(), &why, at);
    // No name is how the user turns the log off ("Clear Log File (Disable)"): nothing is lost.
    // A named file's lost line is told once a run, and never in a box: the session's end goes
    // on unattended.
    if (!written && !file.isEmpty() && !std::exchange(logFailureTold_, true)) {
        notifier_->Notify(
            QStringLiteral("Session log not written"),
            QStringLiteral("The session's line could not be written to %1: %2. Later failures "
                           "are not shown until Quorvane starts again.")
                .arg(file, QString::fromStdString(why)));
    }
    return written;
}

void TfrmTimer::PlayWavAlarm() {
    const std::string file = eWavAlarm->text().toStdString();
    if (AlarmMissing(file)) {
        ShowInformation(QString::fromStdString(MissingAlarmMessage(file)));
        return;
    }
    // The sound plays beside the window, which goes on ticking; a failure comes back as an
    // error box when the player has tried.
    mpWav->Play(eWavAlarm->text());
}

void TfrmTimer::sbWavPlayClick() {
    PlayWavAlarm();
}

void TfrmTimer::ckEnableBillingClick() {
    pBilling->setVisible(ckEnableBilling->isChecked());
}

void TfrmTimer::ckEnablePeakClick() {
    pPeak->setVisible(ckEnablePeak->isChecked());
}

void TfrmTimer::ckEnableLoggingClick() {
    pLogging->setVisible(ckEnableLogging->isChecked());
}

void TfrmTimer::eFreeHoursChange() {
    const auto hours = ParseInteger(eFreeHours->text().toStdString());
    if (!hours) {
        // Changing the text runs this once more, now with a valid number.
        eFreeHours->setText(QStringLiteral("0"));
        return;
    }
    lPricePer->setText(*hours != 0 ? QStringLiteral("Price per Extra Hour")
                                   : QStringLiteral("Price per Minute"));
}

} // namespace quorvane
