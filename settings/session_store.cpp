#include "settings/session_store.h"

#include "settings/rollover_store.h"

#include <cmath>
#include <cstdint>
#include <limits>

namespace quorvane {

namespace {

constexpr RootKey kHive = RootKey::LocalMachine;

const std::string& StateKey() {
    static const std::string key = std::string(ProductKey) + "Session\\";
    return key;
}

bool RemoveState() {
    const std::string key = StateKey();
    return !KeyExists(kHive, key) || DeleteKeyTree(kHive, key);
}

} // namespace

std::optional<std::string> ImplausibleSessionState(const StoredSessionState& state, DateTime now) {
    if (!std::isfinite(state.firstTick) || !std::isfinite(state.lastWrite))
        return "holds a moment that is no date";
    const DateTime latest = now + kStateAheadSeconds * kOneSecond;
    if (state.firstTick > latest)
        return "has its first tick after the present moment";
    if (state.lastWrite > latest)
        return "was last written after the present moment";
    // The session's seconds are whole ones, counted as this counts them (milliseconds rounded,
    // then floored); one more covers the moments' arithmetic.
    const double span =
        std::floor(std::round(std::abs(state.lastWrite - state.firstTick) * 86400000.0) / 1000.0) +
        1.0;
    for (std::size_t i = 0; i < state.counts.size(); ++i) {
        if (state.counts[i] < 0)
            return std::string("holds ") + kSessionCountNames[i] + " below zero";
        if (state.counts[i] > span)
            return std::string("holds more ") + kSessionCountNames[i] +
                   " than the time from its first tick to its last write";
    }
    for (std::size_t i = 0; i < state.bytes.size(); ++i) {
        if (state.bytes[i] > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
            return std::string("holds ") + kSessionByteNames[i] + " below zero";
    }
    return std::nullopt;
}

std::optional<StoredSessionState> ReadSessionState() {
    const std::string& key = StateKey();
    // Looked for first: reading a value of a key that is not there would create the key.
    if (!KeyExists(kHive, key))
        return std::nullopt;
    Variant provider;
    ReadValueByPath(kHive, key + "Provider", vkString, provider);
    if (provider.isEmpty())
        return std::nullopt;
    StoredSessionState state;
    state.provider = provider.toString();
    for (auto [name, moment] :
         {std::pair{"FirstTick", &state.firstTick}, std::pair{"LastWrite", &state.lastWrite}}) {
        Variant value;
        ReadValueByPath(kHive, key + name, vkDate, value);
        *moment = value.toDate();
    }
    for (std::size_t i = 0; i < state.counts.size(); ++i) {
        Variant value;
        ReadValueByPath(kHive, key + kSessionCountNames[i], vkInteger, value);
        state.counts[i] = value.toInt();
    }
    for (std::size_t i = 0; i < state.bytes.size(); ++i)
        state.bytes[i] = ReadQwordByPath(kHive, key + kSessionByteNames[i]).value_or(0);
    return state;
}

bool WriteSessionState(const StoredSessionState& state) {
    const std::string& key = StateKey();
    return WriteTogether(kHive, [&] {
        bool ok =
            WriteValueByPath(kHive, key + "Provider", Variant(state.provider), vkString) &&
            WriteValueByPath(kHive, key + "FirstTick", Variant::FromDate(state.firstTick),
                             vkDate) &&
            WriteValueByPath(kHive, key + "LastWrite", Variant::FromDate(state.lastWrite), vkDate);
        for (std::size_t i = 0; ok && i < state.counts.size(); ++i)
            ok = WriteValueByPath(kHive, key + kSessionCountNames[i], Variant(state.counts[i]),
                                  vkInteger);
        for (std::size_t i = 0; ok && i < state.bytes.size(); ++i)
            ok = WriteQwordByPath(kHive, key + kSessionByteNames[i], state.bytes[i]);
        return ok;
    });
}

bool RemoveSessionState() {
    return WriteTogether(kHive, RemoveState);
}

bool ApplySessionStateChange(const SessionStateChange& change) {
    switch (change.kind) {
    case SessionStateChange::Kind::Write:
        return WriteSessionState(change.state);
    case SessionStateChange::Kind::Remove:
        return RemoveSessionState();
    default:
        return true;
    }
}

namespace {

bool SaveSessionTotals(std::string_view provider, const ProfileTotals& totals, DateTime savedFor,
                       const ProfileDataTotals* data, bool makeKey) {
    if (!IsStorableProviderName(provider))
        return false;
    const std::string key = ProviderKeyPath(provider);
    return WriteTogether(kHive, [&] {
        if (!makeKey && !KeyExists(kHive, key))
            return false;
        bool ok = true;
        for (std::size_t i = 0; ok && i < totals.size(); ++i)
            ok = WriteValueByPath(kHive, key + kTotalNames[i], Variant(totals[i]), vkInteger);
        for (std::size_t i = 0; ok && data && i < data->size(); ++i)
            ok = WriteQwordByPath(kHive, key + kDataTotalNames[i], (*data)[i]);
        const ProfileSetting day = LastSaveDateSetting(savedFor);
        return ok && WriteValueByPath(kHive, key + day.name, day.value, day.kind) && RemoveState();
    });
}

} // namespace

bool SaveRecoveredSession(std::string_view provider, const ProfileTotals& totals,
                          DateTime savedFor, const ProfileDataTotals* data) {
    return SaveSessionTotals(provider, totals, savedFor, data, false);
}

bool SaveStoppedSession(std::string_view provider, const ProfileTotals& totals, DateTime savedFor,
                        const ProfileDataTotals* data) {
    return SaveSessionTotals(provider, totals, savedFor, data, true);
}

} // namespace quorvane
