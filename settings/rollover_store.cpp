#include "settings/rollover_store.h"

#include <string>

namespace quorvane {

namespace {

constexpr RootKey kHive = RootKey::LocalMachine;
constexpr const char* kLastSaveDate = "LastSaveDate";

std::optional<DateTime> ReadDate(const std::string& path) {
    Variant value;
    ReadValueByPath(kHive, path, vkDate, value);
    if (value.isEmpty())
        return std::nullopt;
    return value.toDate();
}

std::optional<DateTime> ReadProviderDate(std::string_view provider, const char* name) {
    if (!IsStorableProviderName(provider))
        return std::nullopt;
    return ReadDate(ProviderKeyPath(provider) + name);
}

} // namespace

std::optional<DateTime> ReadLastDate() {
    return ReadDate(std::string(ProductKey) + "LastDate");
}

bool WriteLastDate(DateTime day, bool changed) {
    const std::string key = ProductKey;
    // The writes of one check go in one commit: another reader, or a crash, never sees half.
    return WriteTogether(kHive, [&] {
        return WriteValueByPath(kHive, key + "LastDate", Variant::FromDate(DateOf(day)), vkDate) &&
               WriteValueByPath(kHive, key + "LastDateChanged", Variant(changed), vkBool);
    });
}

std::optional<DateTime> ReadLastCycleClear(std::string_view provider) {
    return ReadProviderDate(provider, "LastCycleClear");
}

bool WriteLastCycleClear(std::string_view provider, DateTime cycleStart, bool cleared) {
    if (!IsStorableProviderName(provider))
        return false;
    const std::string key = ProviderKeyPath(provider);
    return WriteTogether(kHive, [&] {
        return WriteValueByPath(kHive, key + "LastCycleClear",
                                Variant::FromDate(DateOf(cycleStart)), vkDate) &&
               (!cleared ||
                WriteValueByPath(kHive, key + "CycleDayChanged", Variant(true), vkBool));
    });
}

std::optional<DateTime> ReadLastSaveDate(std::string_view provider) {
    return ReadProviderDate(provider, kLastSaveDate);
}

ProfileSetting LastSaveDateSetting(DateTime day) {
    return {kLastSaveDate, Variant::FromDate(DateOf(day)), vkDate};
}

} // namespace quorvane
