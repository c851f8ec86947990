#pragma once
// Provider profiles: one key per provider below ProvidersKey, holding the value of every setting
// control of the main window under the control's own name, plus the four running totals.

#include "accounting/timevalues.h"

#include <QString>

#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QObject;

namespace quorvane {

// "Software\Morvath Software\Quorvane v4.8\Providers" (no trailing backslash).
extern const std::string ProvidersKey;

// What a profile is made of on the window: its components in creation order, the provider box
// (whose text names the profile) and the "Set as Default" box.
struct ProfileForm {
    const std::vector<QObject*>* components = nullptr;
    QComboBox* cbProvider = nullptr;
    QCheckBox* ckSetAsDefault = nullptr;
    // The seek-text combo box, stored as text under "eProv".
    QComboBox* cbProv = nullptr;
};

// The key path of a provider, ending in a backslash. A blank name (nothing but blanks) has a key
// of its own beside the provider list, so that the totals of a profile nobody has named yet are
// kept without ever touching a named provider's key.
std::string ProviderKeyPath(const QString& name);

// A name that can be a key of its own: not one holding a backslash, which would reach into
// another provider's key.
bool IsStorableProviderName(const QString& name);

// Window to store (load false) or store to window (load true) for the provider named in the
// provider box. Loading sets controls as a user would, so their reactions run. A value of the
// wrong type raises ERegistryError and ends the load there. Answers false when a save could not
// open or create the provider's key.
bool TransferProviderSettings(const ProfileForm& form, bool load, TimerSet& timers);

// Fills the provider box with the stored providers; with selectDefault, shows the default.
bool FillProviderList(QComboBox* cbProvider, bool selectDefault);

// The provider Delete action for the name in the provider box, with its messages.
void DeleteProvider(const ProfileForm& form, TimerSet& timers);

// The provider Save action (after the window has shown the Provider page), with its messages.
void SaveProvider(const ProfileForm& form, TimerSet& timers);

} // namespace quorvane
