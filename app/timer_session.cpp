// The main window's sessions: the watching tick with its three detection methods, the buttons
// that steer it, the once-a-second session tick and its read-outs, and the close of the window.
#include "app/timer.h"

#include "accounting/charges.h"
#include "accounting/session_tick.h"
#include "app/caption_font.h"
#include "app/messages.h"
#include "app/profile_form.h"
#include "app/session_keeper.h"
#include "core/clock.h"
#include "core/regional.h"
#include "serial/comm32.h"
#include "watch/com_port_probe.h"
#include "watch/dialup_profiles.h"
#include "watch/interface_watch.h"
#include "watch/windows_list.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QTimer>
#include <QToolButton>

namespace quorvane {

namespace {

void ShowDuration(QLabel* label, Duration value) {
    label->setText(QString::fromStdString(DurationText(value)));
}

// The old day's save failed at a day change, and the user has been told.
struct OldDayNotSaved {};

void SetFontColour(QLabel* label, const QColor& colour) {
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
}

} // namespace

void TfrmTimer::ConnectSessionHandlers() {
    connect(tOnLine, &QTimer::timeout, this, &TfrmTimer::tOnLineTimer);
    connect(tWatching, &QTimer::timeout, this, &TfrmTimer::tWatchingTimer);
    connect(sbWatching, &QToolButton::clicked, this, &TfrmTimer::sbWatchingClick);
    connect(sbManual, &QToolButton::clicked, this, &TfrmTimer::sbManualClick);
    connect(sbOverRide, &QToolButton::clicked, this, &TfrmTimer::sbOverRideClick);
}

int TfrmTimer::DetectionMethod() const {
    const int index = cbDetection->currentIndex();
    return index < 0 ? kManual : index;
}

void TfrmTimer::StartSession() {
    sbWatching->setEnabled(false);
    sbOverRide->setEnabled(true);
    LockWhileWatching();
    sbManual->setEnabled(DetectionMethod() == kManual);
    SetTag(tOnLine, 1);
    if (!ckColoredIconWatching->isChecked())
        SetStateIcon(0);
    sessionProvider_ = cbProvider->currentText();
    tOnLine->start();
    SetFontColour(lElapsed, QColor(0, 255, 0));
    BeginSessionData();
}

void TfrmTimer::StopSession() {
    EndSession(true);
}

void TfrmTimer::EndSession(bool mayEndProgram, SessionEnd how) {
    const bool wasRunning = tOnLine->isActive();
    // A session that has taken its first tick has counted, and its last stretch is a row.
    const bool ticked = wasRunning && Tag(tOnLine) == 0;
    const bool bytesCounted = interfaceWatch_ && interfaceWatch_->Counting();
    sbWatching->setEnabled(DetectionMethod() != kManual);
    sbOverRide->setEnabled(false);
    sbManual->setEnabled(DetectionMethod() == kManual);
    LockWhileWatching();
    SetTag(tOnLine, 0);
    if (!ckColoredIconWatching->isChecked())
        SetStateIcon(1);
    tOnLine->stop();
    SetFontColour(lElapsed, QColor(255, 0, 0));
    // Both peak sides up to the session's last tick before the totals are stored.
    if (wasRunning)
        session_->SettleForSave();
    FinishSessionData();
    // The save removes the session's state: it is not to be recovered.
    keeper_->Stopped();
    ProfileForm form = wasRunning ? Form(sessionProvider_) : Form();
    std::optional<SessionSoFar> stretch;
    if (ticked)
        stretch = SessionStretch(how, Now(), bytesCounted);
    form.history = stretch ? &*stretch : nullptr;
    if (!TransferProfile(form, false, Timers) && stretch)
        KeepUnsavedStop(*stretch);
    if (ckEnableLogging->isChecked())
        WriteSessionLog(Timers, FormatCharges());
    if (mayEndProgram && ckCloseOnDisconnect->isChecked())
        QCoreApplication::exit(0);
}

void TfrmTimer::EndSessionForProviderChange() {
    // Not a disconnect: the user goes on with the other provider, so the program stays.
    sbManual->setChecked(false);
    EndSession(false);
}

void TfrmTimer::LeaveWatchingForManual() {
    if (!sbWatching->isChecked() && !tWatching->isActive())
        return;
    // The session was watching's; the user has not disconnected, so the program stays.
    if (tOnLine->isActive())
        Guarded([this] { EndSession(false); });
    sbWatching->setChecked(false);
    sbWatchingClick();
    sbManual->setChecked(false);
}

void TfrmTimer::StartSessionOnTimerPage() {
    StartSession();
    SetActivePage(QStringLiteral("Timer"));
}

void TfrmTimer::tWatchingTimer() {
    switch (DetectionMethod()) {
    case kTcpIp: {
        TWindowsList list(*windowTitles_);
        list.AcceptEmptyNames = false;
        list.FillWindowList();
        const bool online = FindSeekText(list, cbProv->currentText().toStdString()) >= 0;
        Guarded([&] {
            if (online && !tOnLine->isActive())
                StartSessionOnTimerPage();
            else if (!online && tOnLine->isActive())
                StopSession();
        });
        break;
    }
    case kComPort:
        ProbeComPort();
        break;
    case kNetworkInterface:
        WatchInterfaces();
        break;
    default:
        // Manual detection has no watching; the method's own rule ends it.
        cbDetectionClick();
        break;
    }
}

void TfrmTimer::ProbeComPort() {
    const bool online = ComPortInUse(*Comm32, seCOMPort->value());
    // Outside the probe's guard: a failed save or log write at the session's end is the user's
    // to know, and taking it for "online" would restart the session on a free port every second.
    Guarded([&] {
        if (online && !tOnLine->isActive())
            StartSessionOnTimerPage();
        else if (!online && tOnLine->isActive())
            StopSession();
    });
}

void TfrmTimer::sbWatchingClick() {
    const bool down = sbWatching->isChecked();
    if (down)
        tWatching->start();
    else
        tWatching->stop();
    LockWhileWatching();
    if (ckColoredIconWatching->isChecked())
        SetStateIcon(down ? 0 : 1);
}

void TfrmTimer::sbManualClick() {
    Guarded([this] {
        if (sbManual->isChecked())
            StartSessionOnTimerPage();
        else
            StopSession();
    });
}

void TfrmTimer::sbOverRideClick() {
    if (DetectionMethod() == kManual) {
        ckCloseOnDisconnect->setChecked(false);
        sbManualClick();
    } else {
        tWatching->stop();
    }
    Guarded([this] { StopSession(); });
}

void TfrmTimer::tOnLineTimer() {
    SessionTickInputs inputs;
    if (ckEnablePeak->isChecked()) {
        const auto start = ParseTime(eStart->text().toStdString());
        const auto stop = ParseTime(eStop->text().toStdString());
        // The page's checks keep both texts clock times; should one not be, the peak totals wait.
        if (start && stop) {
            inputs.peakEnabled = true;
            inputs.peakStart = *start;
            inputs.peakStop = *stop;
        }
    }
    if (DetectionMethod() == kComPort) {
        inputs.comPortMode = true;
        inputs.delayMinutes = seDelayMin->value();
        inputs.delaySeconds = seDelaySec->value();
    }
    const DateTime now = Now();
    TickResult result;
    try {
        // The old day's totals are saved as that day's, so a later load starts Today afresh. A
        // save that fails is told while the tick is still in it: the ticks that come while the
        // box is up are skipped, and the first one after it makes the day change again.
        result = session_->Tick(now, Tag(tOnLine) == 1, inputs, [this, now] {
            if (!Guarded([this, now] {
                    // The old day's stretch of the session is that day's row.
                    const SessionSoFar stretch = SessionStretch(
                        SessionEnd::Midnight, now, interfaceWatch_ && interfaceWatch_->Counting());
                    ProfileForm form = Form(sessionProvider_);
                    form.history = &stretch;
                    // The session's totals alone: the pages' unsaved edits and "Set as
                    // Default" wait for the user's own Save.
                    if (SaveStoredTotals(form, Timers, DateOf(session_->Values().SessionStart),
                                         true))
                        HistoryChanged();
                }))
                throw OldDayNotSaved{};
        });
    } catch (const OldDayNotSaved&) {
        return;
    }
    if (result.skipped)
        return;
    Guarded([&] {
        SetTag(tOnLine, 0);
        SessionDataTick(result.dayChanged);
        if (result.startMoved)
            ShowText(lStart, QString::fromStdString(FormatLongTime(session_->Values().StartTime)));
        ShowText(lCharges, FormatCharges());
        if (result.wroteInsidePeak)
            ShowDuration(lInsidePeak, Timers.InsidePeak);
        if (result.wroteOutsidePeak)
            ShowDuration(lOutsidePeak, Timers.OutsidePeak);
        ShowText(lCurrent, QString::fromStdString(FormatLongTime(now)));
        ShowDuration(lElapsed, session_->Values().Elapsed);
        ShowDuration(lToday, Timers.Today);
        ShowDuration(lTotalTime, Timers.TotalTime);
        UpdateMinimizedCaption();
        // The session's state in the store, against a kill.
        if (result.firstTick)
            keeper_->Started(now);
        keeper_->Ticked(now, sessionProvider_.toStdString());
    });
}

SessionSoFar TfrmTimer::SessionStretch(SessionEnd how, DateTime end, bool bytesCounted) const {
    const SessionCounts& counted = session_->Counted();
    SessionSoFar stretch{session_->Values().StartTime, end, {}};
    SessionRow& row = stretch.counted;
    row.provider = sessionProvider_.toStdString();
    row.seconds = counted.seconds;
    row.insidePeak = counted.insidePeak;
    row.outsidePeak = counted.outsidePeak;
    if (bytesCounted) {
        const DataBytes& bytes = interfaceWatch_->Counted();
        row.rx = bytes.rx;
        row.tx = bytes.tx;
    }
    row.charges = ChargesText().toStdString();
    row.ended = how;
    return stretch;
}

void TfrmTimer::ShowAllTimers() {
    ShowDuration(lToday, Timers.Today);
    ShowDuration(lTotalTime, Timers.TotalTime);
    ShowDuration(lInsidePeak, Timers.InsidePeak);
    ShowDuration(lOutsidePeak, Timers.OutsidePeak);
    ShowText(lCharges, FormatCharges());
    ShowDataTotals();
}

void TfrmTimer::FillDialUpProfiles() {
    const QString seekText = cbProv->currentText();
    const QSignalBlocker quiet(cbProv);
    cbProv->clear();
    for (const std::string& name : DialUpProfileNames())
        cbProv->addItem(QString::fromStdString(name));
    cbProv->setCurrentIndex(-1);
    cbProv->setEditText(seekText);
}

void TfrmTimer::UpdateMinimizedCaption() {
    if (cbMinimizedTime->currentIndex() < 0)
        cbMinimizedTime->setCurrentIndex(2);
    switch (cbMinimizedTime->currentIndex()) {
    case 0:
        SetApplicationTitle(QStringLiteral("T: ") + lToday->text());
        break;
    case 1:
        SetApplicationTitle(QStringLiteral("Tot: ") + lTotalTime->text());
        break;
    default:
        SetApplicationTitle(QStringLiteral("E: ") + lElapsed->text());
        break;
    }
}

void TfrmTimer::StartWatchingOrSession() {
    if (ckWatchOnRun->isChecked() && DetectionMethod() != kManual) {
        sbWatching->setChecked(true);
        sbWatchingClick();
    }
    if (ckStartWhenRun->isChecked() && DetectionMethod() == kManual) {
        sbManual->setChecked(true);
        sbManualClick();
    }
}

void TfrmTimer::closeEvent(QCloseEvent* event) {
    Guarded([this] {
        if (tOnLine->isActive()) {
            const QString provider = sessionProvider_;
            EndSession(true, SessionEnd::Closed);
            TransferProfile(Form(provider), false, Timers);
        }
    });
    // A stopped session's save still to be made has its last try; should it fail, the next
    // start recovers the session.
    keeper_->SavePendingStops();
    OnRestore();
    event->accept();
    // Closing the main window ends the program, also while the tray icon would keep it alive.
    QCoreApplication::quit();
}

} // namespace quorvane
