#include "settings/profiles.h"

#include "core/bytes.h"
#include "core/text.h"
#include "core/text_codec.h"
#include "settings/session_store.h"

namespace quorvane {

const std::string ProvidersKey = std::string(ProductKey) + "Providers";

namespace {

constexpr RootKey kHive = RootKey::LocalMachine;
const std::string kDefaultProviderPath = ProvidersKey + "\\DefaultProvider";

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

// The writes of a profile, to go inside one commit.
bool WriteProfile(const std::string& key, const std::vector<ProfileSetting>& settings,
                  const ProfileTotals& totals, const SessionStateChange* session,
                  const ProfileData* data) {
    bool ok = true;
    for (const ProfileSetting& setting : settings)
        ok = WriteValueByPath(kHive, key + setting.name, setting.value, setting.kind) && ok;
    for (std::size_t i = 0; i < totals.size(); ++i)
        ok = WriteValueByPath(kHive, key + kTotalNames[i], Variant(totals[i]), vkInteger) && ok;
    if (data) {
        for (std::size_t i = 0; i < data->totals.size(); ++i)
            ok = WriteQwordByPath(kHive, key + kDataTotalNames[i], data->totals[i]) && ok;
        ok = WriteValueByPath(kHive, key + kDataAlertsName, Variant(data->alerts), vkInteger) && ok;
    }
    if (session)
        ok = ApplySessionStateChange(*session) && ok;
    return ok;
}

} // namespace

std::string ProviderKeyPath(std::string_view name) {
    if (StripSpaces(name).empty())
        return std::string(ProductKey) + "Unnamed Provider\\";
    return ProvidersKey + "\\" + std::string(name) + "\\";
}

bool IsStorableProviderName(std::string_view name) {
    return name.find('\\') == std::string_view::npos;
}

int SettingKind(std::string_view name) {
    if (StartsWith(name, "ck"))
        return vkBool;
    if (StartsWith(name, "cb") || StartsWith(name, "se"))
        return vkInteger;
    if (StartsWith(name, "e"))
        return vkString;
    return -1;
}

bool SaveProfile(std::string_view provider, const std::vector<ProfileSetting>& settings,
                 const ProfileTotals& totals, bool makeDefault, const SessionStateChange* session,
                 const ProfileData* data) {
    if (!IsStorableProviderName(provider))
        return false;
    const std::string key = ProviderKeyPath(provider);
    // One commit for the whole profile, which also flushes the disk once instead of once a value;
    // nothing of it is written when the store is missing, held by another process or refuses a
    // value.
    return WriteTogether(kHive, [&] {
        bool ok = WriteProfile(key, settings, totals, session, data);
        if (makeDefault)
            ok = SetDefaultProvider(provider) && ok;
        return ok;
    });
}

bool SaveStoredTotals(std::string_view provider, const std::vector<ProfileSetting>& settings,
                      const ProfileTotals& totals, const SessionStateChange* session,
                      const ProfileData* data, bool makeKey) {
    if (!IsStorableProviderName(provider))
        return false;
    const std::string key = ProviderKeyPath(provider);
    return WriteTogether(kHive, [&] {
        return (makeKey || KeyExists(kHive, key)) &&
               WriteProfile(key, settings, totals, session, data);
    });
}

bool SameProvider(std::string_view a, std::string_view b) {
    return FoldCase(ProviderKeyPath(a)) == FoldCase(ProviderKeyPath(b));
}

void LoadProfileSettings(
    std::string_view provider, const std::function<int(const std::string& name)>& kindOf,
    const std::function<void(const std::string& name, const Variant&)>& apply) {
    if (!IsStorableProviderName(provider))
        return; // nothing of such a name was ever stored
    const std::string key = ProviderKeyPath(provider);
    std::vector<std::string> names;
    GetValueNamesByPath(kHive, key, names);
    for (const std::string& name : names) {
        const int kind = kindOf(name);
        if (kind < 0)
            continue;
        // The read leaves the variant empty when the value has gone since it was listed.
        Variant value;
        ReadValueByPath(kHive, key + name, kind, value);
        if (!value.isEmpty())
            apply(name, value);
    }
}

void LoadProfileTotals(std::string_view provider, ProfileTotals& totals) {
    if (!IsStorableProviderName(provider))
        return;
    const std::string key = ProviderKeyPath(provider);
    for (std::size_t i = 0; i < totals.size(); ++i) {
        Variant value;
        ReadValueByPath(kHive, key + kTotalNames[i], vkInteger, value);
        if (!value.isEmpty())
            totals[i] = value.toInt();
    }
}

void LoadProfileData(std::string_view provider, ProfileData& data) {
    if (!IsStorableProviderName(provider))
        return;
    const std::string key = ProviderKeyPath(provider);
    for (std::size_t i = 0; i < data.totals.size(); ++i)
        if (const auto value = ReadQwordByPath(kHive, key + kDataTotalNames[i]))
            data.totals[i] = *value;
    Variant alerts;
    ReadValueByPath(kHive, key + kDataAlertsName, vkInteger, alerts);
    if (!alerts.isEmpty())
        data.alerts = alerts.toInt();
}

bool WriteDataAlerts(std::string_view provider, std::int32_t alerts) {
    if (!IsStorableProviderName(provider))
        return false;
    const std::string key = ProviderKeyPath(provider);
    return WriteTogether(kHive, [&] {
        return KeyExists(kHive, key) &&
               WriteValueByPath(kHive, key + kDataAlertsName, Variant(alerts), vkInteger);
    });
}

bool WriteQwordByPath(RootKey root, std::string_view path, std::uint64_t value) {
    return WriteBytesByPath(root, path, REG_QWORD, LittleEndianBytes(value, 8));
}

std::optional<std::uint64_t> ReadQwordByPath(RootKey root, std::string_view path) {
    const RegistryPath split = SplitRegistryPath(path);
    const ValueLookup found = LookUpValue(root, split.key, split.valueName);
    if (!found.value)
        return std::nullopt;
    if (found.value->type != REG_QWORD || found.value->data.size() != 8)
        throw ERegistryError("Invalid data type for '" + split.valueName + "'");
    return ReadLittleEndian(found.value->data.data(), 8);
}

std::vector<std::string> StoredProviderNames() {
    std::vector<std::string> names;
    GetKeyNamesByPath(kHive, ProvidersKey, names);
    return names;
}

std::optional<std::string> StoredDefaultProvider() {
    Variant value;
    ReadValueByPath(kHive, kDefaultProviderPath, vkString, value);
    if (value.isEmpty())
        return std::nullopt;
    return value.toString();
}

bool SetDefaultProvider(std::string_view provider) {
    return WriteValueByPath(kHive, kDefaultProviderPath, Variant(provider), vkString);
}

bool ProviderExists(std::string_view provider) {
    return KeyExists(kHive, ProvidersKey + "\\" + std::string(provider));
}

void DeleteProviderProfile(std::string_view provider) {
    DeleteKeyTree(kHive, ProvidersKey + "\\" + std::string(provider));
    if (KeyExists(kHive, ProvidersKey) && StoredDefaultProvider() == provider)
        SetDefaultProvider("");
}

} // namespace quorvane
