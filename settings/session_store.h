#pragma once
// Where a running session keeps its state, so that one cut short (a kill, a crash, a power cut)
// can be recovered at the next start; when and what to recover is accounting/
// session_recovery.h. One key beside the providers, product key + "Session":
//   "Provider" (vkString): the provider whose totals the session adds to;
//   "FirstTick", "LastWrite" (vkDate): the session's first tick, and the moment of this write;
//   "Seconds", "InsidePeak", "OutsidePeak" (vkInteger): what the session has added to TotalTime
//   and to each peak side so far;
//   "SavedSeconds", "SavedInsidePeak", "SavedOutsidePeak" (vkInteger): how much of that the
//   provider's stored totals already hold;
//   "Rx", "Tx" (REG_QWORD): the bytes the session has received and sent so far, and
//   "SavedRx", "SavedTx" (REG_QWORD) how much of them the provider's data totals hold (a state
//   without them counts none).
// No such key: no session runs, or the last one stopped as it should. Every write of it is one
// commit, joined to the save of the totals when it goes with one. A value of another type raises
// ERegistryError; a store that cannot be opened reads as no state and writes nothing.

#include "settings/profiles.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quorvane {

inline constexpr std::array<const char*, 6> kSessionCountNames = {
    "Seconds", "InsidePeak", "OutsidePeak", "SavedSeconds", "SavedInsidePeak", "SavedOutsidePeak"};
using SessionStateCounts = std::array<std::int32_t, 6>;
inline constexpr std::array<const char*, 4> kSessionByteNames = {"Rx", "Tx", "SavedRx",
                                                                 "SavedTx"};
using SessionStateBytes = std::array<std::uint64_t, 4>;

struct StoredSessionState {
    std::string provider;
    DateTime firstTick = 0.0;
    DateTime lastWrite = 0.0;
    SessionStateCounts counts{}; // in the order of kSessionCountNames
    SessionStateBytes bytes{};   // in the order of kSessionByteNames

    bool operator==(const StoredSessionState&) const = default;
};

// What a save of the totals does to the state, in the same commit (SaveProfile).
struct SessionStateChange {
    enum class Kind { Keep, Write, Remove };
    Kind kind = Kind::Keep;
    StoredSessionState state; // for Write
};

// How far after the present a state's moments may lie and still be trusted. Time sync steps
// the clock by seconds at a boot or a resume; a minute also leaves room for a clock that ran a
// little ahead while the machine was off. A state further ahead was written by a wrong clock or
// by hand, and recovered it would give the totals a Today for a day that has not come and the
// history a row that ends later than now.
inline constexpr int kStateAheadSeconds = 60;

// Why `state` cannot be one that a session of this program wrote by `now` (worded to follow
// "it "); nullopt when it can. No count is below zero (nor a byte count that is one read as
// unsigned), no moment lies more than kStateAheadSeconds after now, and no count of seconds is
// longer than the time between the first tick and the last write (give or take a second; the
// distance either way, as the session counts it on a clock set back below its first tick). The
// two peak sides are each held to that, not their sum to Seconds: the side a tick does not
// write lags behind, and after a clock set back it may stay ahead of the seconds until the next
// save.
std::optional<std::string> ImplausibleSessionState(const StoredSessionState& state, DateTime now);

// nullopt when no state is stored (a key without "Provider" is none).
std::optional<StoredSessionState> ReadSessionState();
// Each false when nothing was written. Removing a state that is not there succeeds.
bool WriteSessionState(const StoredSessionState& state);
bool RemoveSessionState();
bool ApplySessionStateChange(const SessionStateChange& change);

// A cut session's provider given its recovered totals (and data totals, when given) and the day
// their Today counts for ("LastSaveDate"), and the state removed, in one commit: recovered
// once, whatever happens next. False when nothing was written (also for a provider that is no
// longer stored, or a name that cannot be stored).
bool SaveRecoveredSession(std::string_view provider, const ProfileTotals& totals,
                          DateTime savedFor, const ProfileDataTotals* data = nullptr);
// The same for a stopped session whose save could not be made when it stopped: its provider's
// key is made when it is not there, as the stop's save would have made it.
bool SaveStoppedSession(std::string_view provider, const ProfileTotals& totals, DateTime savedFor,
                        const ProfileDataTotals* data = nullptr);

} // namespace quorvane
