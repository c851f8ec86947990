// The main window's side of a session cut short by a kill, a crash or a power cut: at start-up
// the state it left in the store goes into its provider's totals and log, and the user is told.
#include "app/timer.h"

#include "accounting/charges.h"
#include "accounting/session_recovery.h"
#include "app/messages.h"
#include "app/profile_form.h"
#include "app/session_keeper.h"
#include "settings/rollover_store.h"
#include "settings/session_file.h"
#include "settings/session_store.h"

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

} // namespace

void TfrmTimer::RecoverCutSession() {
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
    TimerSet stored;
    ProfileTotals totals = TotalsOf(stored);
    LoadProfileTotals(provider, totals);
    SetTotals(stored, totals);
    ProfileData storedData;
    LoadProfileData(provider, storedData);
    DataTotals data;
    SetDataTotals(data, storedData.totals);
    RecoveredTotals recovered =
        quorvane::RecoverCutSession(cut, stored, ReadLastSaveDate(provider), data);
    // A store that refuses keeps the state for the next start.
    const ProfileDataTotals recoveredData = DataTotalsOf(recovered.data);
    if (!SaveRecoveredSession(provider, TotalsOf(recovered.timers), recovered.savedFor,
                              &recoveredData))
        return;
    const StoredLogging logging = ReadLogging(provider);
    if (logging.enabled) {
        const std::string charges = quorvane::FormatCharges(logging.billing, recovered.timers, {});
        WriteSessionLogTo(QString::fromStdString(logging.file), recovered.timers,
                          QString::fromStdString(charges), cut.lastWrite);
    }
    ShowInformation(QString::fromStdString(RecoveredSessionMessage(provider, cut)));
}

} // namespace quorvane
