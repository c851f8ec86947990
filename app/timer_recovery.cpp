// The main window's side of a session cut short by a kill, a crash or a power cut: at start-up
// the state it left in the store goes into its provider's totals and log, and the user is told.
// And of a session whose save at its stop could not be made: kept, told, and tried again.
#include "app/timer.h"

#include "accounting/charges.h"
#include "accounting/session_recovery.h"
#include "app/messages.h"
#include "app/profile_form.h"
#include "app/session_keeper.h"
#include "settings/history.h"
#include "settings/rollover_store.h"
#include "settings/session_file.h"
#include "settings/session_store.h"

#include <QTimer>

#include <chrono>
#include <functional>
#include <map>

namespace quorvane {

namespace {

// What the session's log line needs of its provider, read from the store: the provider loaded
// into the window may be another.
struct StoredLogging {
    bool enabled = false;
    std::string file;
    BillingInputs billing;
};

StoredLogging ReadLogging(const std::string& provider) {
    StoredLogging logging;
    const std::map<std::string, std::function<void(const Variant&)>> wanted = {
        {"ckenablelogging", [&](const Variant& v) { logging.enabled = v.toBool(); }},
        {"elogfile", [&](const Variant& v) { logging.file = v.toString(); }},
        {"ckenablebilling", [&](const Variant& v) { logging.billing.billingEnabled = v.toBool(); }},
        {"efreehours", [&](const Variant& v) { logging.billing.freeHours = v.toString(); }},
        {"eprice", [&](const Variant& v) { logging.billing.price = v.toString(); }},
    };
    LoadProfileSettings(
        provider,
        [&](const std::string& name) {
            return wanted.contains(AsciiLower(name)) ? SettingKind(name) : -1;
        },
        [&](const std::string& name, const Variant& value) { wanted.at(AsciiLower(name))(value); });
    return logging;
}

// What the cut session had counted at its last write. Its bytes are known when it counted
// any: the state keeps none for the methods that count none.
SessionSoFar RecoveredStretch(const std::string& provider, const CutSession& cut,
                              const std::string& charges) {
    SessionSoFar stretch{cut.firstTick, cut.lastWrite, {}};
    SessionRow& row = stretch.counted;
    row.provider = provider;
    row.seconds = cut.counted.seconds;
    row.insidePeak = cut.counted.insidePeak;
    row.outsidePeak = cut.counted.outsidePeak;
    if (cut.countedBytes.rx != 0 || cut.countedBytes.tx != 0) {
        row.rx = cut.countedBytes.rx;
        row.tx = cut.countedBytes.tx;
    }
    row.charges = charges;
    row.ended = SessionEnd::Recovered;
    return stretch;
}

} // namespace

void TfrmTimer::RecoverCutSession(QStringList& notes) {
    const std::optional<StoredSessionState> state = TakeCutSessionState();
    if (!state)
        return;
    const std::string& provider = state->provider;
    // A provider deleted since the last write has no totals left to take the time.
    if (!IsStorableProviderName(provider) ||
        !KeyExists(HKEY_LOCAL_MACHINE, ProviderKeyPath(provider))) {
        RemoveSessionState();
        return;
    }
    const CutSession cut = CutSessionOf(*state);
    RecoveredTotals recovered = StoredTotalsWith(*state);
    const StoredLogging logging = ReadLogging(provider);
    const std::string charges = quorvane::FormatCharges(logging.billing, recovered.timers, {});
    // A store that refuses keeps the state for the next start. The session's last stretch goes
    // into the usage history with the totals.
    const ProfileDataTotals recoveredData = DataTotalsOf(recovered.data);
    const SessionSoFar stretch = RecoveredStretch(provider, cut, charges);
    if (!WriteTogether(HKEY_LOCAL_MACHINE, [&] {
            AppendSessionStretch(stretch);
            return SaveRecoveredSession(provider, TotalsOf(recovered.timers), recovered.savedFor,
                                        &recoveredData);
        }))
        return;
    if (logging.enabled) {
        WriteSessionLogTo(QString::fromStdString(logging.file), recovered.timers,
                          QString::fromStdString(charges), cut.lastWrite);
    }
    notes << QString::fromStdString(RecoveredSessionMessage(provider, cut));
}

void TfrmTimer::KeepUnsavedStop(const SessionSoFar& stretch) {
    const bool first = keeper_->StopNotSaved(stretch);
    if (!keeper_->StopsPending())
        return; // a name that cannot be stored: no save will ever make it
    tSaveRetry->start();
    if (!first)
        return;
    ShowError(tr("The session's time could not be saved: the store could not be written (another "
                 "program may be holding it).\r\n\r\nQuorvane keeps the session and saves it "
                 "as soon as the store can be written again. Should Quorvane end before that, the "
                 "session is recovered when it next starts."));
}

void TfrmTimer::tSaveRetryTimer() {
    if (keeper_->SavePendingStops(std::chrono::milliseconds(kSaveRetryWaitMs))) {
        // The history has the stopped sessions' rows now.
        HistoryChanged();
        return;
    }
    tSaveRetry->start();
}

} // namespace quorvane
