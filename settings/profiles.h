#pragma once
// How a provider's profile lies in the store: one key per provider below ProvidersKey, holding
// every setting under the name of the window control that shows it, with its kind taken from
// the name's prefix, plus the four running totals, the data totals and the data allowance's
// alerts; and "DefaultProvider" beside the providers.

#include "settings/registry.h"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvane {

struct SessionStateChange;

// "Software\Morvath Software\Quorvane v4.8\Providers" (no trailing backslash).
extern const std::string ProvidersKey;

// The key path of a provider, ending in a backslash. A blank name (nothing but blanks) has a key
// of its own beside the provider list, so that the totals of a profile nobody has named yet are
// kept without ever touching a named provider's key.
std::string ProviderKeyPath(std::string_view name);

// A name that can be a key of its own: not one holding a backslash, which would reach into
// another provider's key.
bool IsStorableProviderName(std::string_view name);

// The kind a setting is stored as, by its name's prefix: "ck" a flag, "cb" and "se" an integer,
// "e" a text; -1 for any other name.
int SettingKind(std::string_view name);

// The running totals as stored, in this order: "Today", "InsidePeak", "OutsidePeak",
// "TotalTime".
inline constexpr std::array<const char*, 4> kTotalNames = {"Today", "InsidePeak", "OutsidePeak",
                                                           "TotalTime"};
using ProfileTotals = std::array<std::int32_t, 4>;

// The data volume totals in bytes as stored, REG_QWORD, in this order: "TodayRx", "TodayTx"
// (received and sent today), "TotalRx", "TotalTx" (since the billing cycle day).
inline constexpr std::array<const char*, 4> kDataTotalNames = {"TodayRx", "TodayTx", "TotalRx",
                                                               "TotalTx"};
using ProfileDataTotals = std::array<std::uint64_t, 4>;

// The data totals with the alerts of the data allowance that have fired in the billing cycle
// ("DataAlerts", vkInteger, one bit each: 1 at 80 %, 2 at 100 %).
inline constexpr const char* kDataAlertsName = "DataAlerts";
struct ProfileData {
    ProfileDataTotals totals{};
    std::int32_t alerts = 0;

    bool operator==(const ProfileData&) const = default;
};

struct ProfileSetting {
    std::string name;
    Variant value;
    int kind = vkString;
};

// Writes the settings, the totals, the data totals and alerts when given, with `makeDefault`
// "DefaultProvider", and the change of a running session's state (settings/session_store.h) in
// one commit: another reader, or a kill, never sees half a profile or totals that disagree with
// the state, and a failure leaves the old ones whole. False when nothing was written (no store,
// another process holding it, a name that cannot be stored).
bool SaveProfile(std::string_view provider, const std::vector<ProfileSetting>& settings,
                 const ProfileTotals& totals, bool makeDefault,
                 const SessionStateChange* session = nullptr, const ProfileData* data = nullptr);

// Writes the totals and the settings given (the day they count for) of a provider that is stored
// already, with the data totals and alerts when given and the change of a running session's
// state, in one commit. False when nothing was
// written, also when no such provider is stored: an automatic clear never makes a provider of
// a name that was only typed. With `makeKey` a provider not stored yet is made with these
// values alone: a running session's day is kept, whatever name it runs under.
bool SaveStoredTotals(std::string_view provider, const std::vector<ProfileSetting>& settings,
                      const ProfileTotals& totals, const SessionStateChange* session = nullptr,
                      const ProfileData* data = nullptr, bool makeKey = false);

// Whether the two names lead to the same key of the store (letter case ignored as it ignores
// it; every blank name to the one key of the unnamed provider).
bool SameProvider(std::string_view a, std::string_view b);

// Reads the stored settings of a provider in their stored order. `kindOf` gives the kind to read
// a name as (-1 skips it); `apply` gets each value read, at once, so that a value of the wrong
// kind (ERegistryError) ends the load with the values before it applied.
void LoadProfileSettings(std::string_view provider,
                         const std::function<int(const std::string& name)>& kindOf,
                         const std::function<void(const std::string& name, const Variant&)>& apply);

// Overwrites the totals that the provider has stored; the others stay as they are.
void LoadProfileTotals(std::string_view provider, ProfileTotals& totals);
// The same for the data totals and the alerts. A value of another type raises ERegistryError.
void LoadProfileData(std::string_view provider, ProfileData& data);
// The alerts alone, at once when one fires, to a provider that is stored already (one that is
// not keeps them with its first save); false when nothing was written.
bool WriteDataAlerts(std::string_view provider, std::int32_t alerts);

// A REG_QWORD value by its path, as WriteValueByPath and ReadValueByPath reach the others: the
// write answers false when the key cannot be opened or created; the read gives nullopt for a
// missing value and raises "Invalid data type for '<name>'" for one of another type.
bool WriteQwordByPath(RootKey root, std::string_view path, std::uint64_t value);
std::optional<std::uint64_t> ReadQwordByPath(RootKey root, std::string_view path);

// The stored provider names, in the store's order.
std::vector<std::string> StoredProviderNames();

// "DefaultProvider" as stored; nullopt when there is none.
std::optional<std::string> StoredDefaultProvider();
bool SetDefaultProvider(std::string_view provider);

bool ProviderExists(std::string_view provider);

// Deletes the provider's key, and clears "DefaultProvider" when it names that provider.
void DeleteProviderProfile(std::string_view provider);

} // namespace quorvane
