#pragma once
// The window's side of the provider profiles: its setting controls walked in creation order to
// save a profile or load one (the store's layout is settings/profiles.h), and the provider
// actions with their messages.

#include "accounting/data_volume.h"
#include "accounting/timevalues.h"
#include "settings/history.h"
#include "settings/profiles.h"
#include "settings/session_store.h"

#include <QString>

#include <optional>
#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QObject;

namespace quorvane {

// What a save of the totals does to a running session's state in the store, in the same
// commit: asked with the provider saved, it answers the change; told that the commit was made,
// it takes the change as stored.
class ProfileSaveSession {
public:
    virtual SessionStateChange ForSave(const std::string& provider) = 0;
    virtual void Saved(const SessionStateChange& change) = 0;

    // Stopped sessions whose save could not be made yet go into the commit of the next save of
    // the totals, before anything else of it: the totals saved already hold their time, and
    // their rows come before those of later sessions. WritePendingStops runs inside the commit
    // (false: it is not to be made), PendingStopsWritten after it, told whether it was made.
    virtual bool StopsPending() const { return false; }
    virtual bool WritePendingStops() { return true; }
    virtual void PendingStopsWritten(bool /*committed*/) {}
    // A provider's totals just loaded: what its pending stops add to them, as that commit will,
    // so that the loaded totals hold the stopped sessions as the window's did.
    virtual void Loaded(const std::string& /*provider*/, TimerSet& /*timers*/,
                        DataTotals* /*data*/) {}

protected:
    ~ProfileSaveSession() = default;
};

// What a profile is made of on the window: its components in creation order, the provider box
// (whose text names the profile) and the "Set as Default" box. A combo box is stored by its
// selected index, except one whose name begins with "e" (an interface's name, say), stored by
// its text as an edit box is, and the seek-text box.
struct ProfileForm {
    const std::vector<QObject*>* components = nullptr;
    QComboBox* cbProvider = nullptr;
    QCheckBox* ckSetAsDefault = nullptr;
    // The seek-text combo box, stored as text under "eProv".
    QComboBox* cbProv = nullptr;
    // The running session's state, saved with the totals; none: the totals alone.
    ProfileSaveSession* session = nullptr;
    // The data totals and the data allowance's alerts, saved and loaded with the totals; none:
    // the time totals alone.
    DataTotals* data = nullptr;
    int* dataAlerts = nullptr;
    // The provider the profile is saved as; none: the one the provider box names.
    std::optional<QString> provider;
    // A save that ends a stretch of the running session (its stop, the day's end) adds the
    // stretch's row to the usage history in the same commit; none: no row.
    const SessionSoFar* history = nullptr;
};

// The provider a form's profile is saved as or loaded from.
QString ProviderOf(const ProfileForm& form);

// The four totals of a timer set in the order the store keeps them, and back; the same for the
// data totals.
ProfileTotals TotalsOf(const TimerSet& timers);
void SetTotals(TimerSet& timers, const ProfileTotals& totals);
ProfileDataTotals DataTotalsOf(const DataTotals& data);
void SetDataTotals(DataTotals& data, const ProfileDataTotals& totals);

// The component of that name, letter case ignored as the store ignores it; nullptr when none.
QObject* FindComponent(const std::vector<QObject*>& components, const QString& name);

// Window to store (load false) or store to window (load true) for the provider named in the
// provider box. Loading sets controls as a user would, so their reactions run. A value of the
// wrong type raises ERegistryError and ends the load there. Answers false when a save could not
// open or create the provider's key. A save records the day its Today counts for (`savedFor`,
// or today); a load of totals saved for another day starts Today from 0, so yesterday's time is
// never shown as today's.
bool TransferProviderSettings(const ProfileForm& form, bool load, TimerSet& timers,
                              std::optional<DateTime> savedFor = std::nullopt);

// The totals of the form's provider alone, with the day they count for (`savedFor`, or today),
// its data totals and alerts, the running session's state and the form's history row, when
// that provider is stored (or, with `makeKey`, made with those alone); false when nothing was
// written. None of the pages' fields is written and "Set as Default" is left as it is, so edits
// the user has not saved stay unsaved.
bool SaveStoredTotals(const ProfileForm& form, const TimerSet& timers,
                      std::optional<DateTime> savedFor = std::nullopt, bool makeKey = false);

// Fills the provider box with the stored providers; with selectDefault, shows the default.
bool FillProviderList(QComboBox* cbProvider, bool selectDefault);

// The provider Delete action for the name in the provider box, with its messages; true when the
// provider was deleted (the caller then fills the list and loads the provider to show).
bool DeleteProvider(const ProfileForm& form);

// The provider Save action (after the window has shown the Provider page), with its messages;
// true when the profile was saved.
bool SaveProvider(const ProfileForm& form, TimerSet& timers);

} // namespace quorvane
