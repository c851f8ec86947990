#pragma once
// The usage history: one row for every session, or for each day of a session that ran across
// midnight, as the running totals counted it. The rows live in the machine hive's database
// (machine.db) beside the registry's keys, in a table of their own with its own schema version,
// and each is written in the same commit as the save of the totals that ends it, so the history
// never holds a second the totals do not, nor misses one they do.
//
// Nothing is summed in advance: days, billing cycles and months are added up from the rows by
// SQL when they are asked for, so a change of the cycle day re-draws every past cycle. The rows
// of a provider stay when it is renamed or deleted. A store that never had a history (made by
// an earlier version, or brought from Windows) has no rows; none are made up for it.
//
// Days are the program's local calendar days (DateTime date parts). A row belongs to the day
// of its start in the local time of that moment; a row's start and end are kept as UTC with the
// offset of local time at each, so a row written in summer time stays on its day in winter.

#include "core/datetime.h"
#include "settings/store.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvane {

struct StoreProblem;

// How a row's stretch of session ended.
enum class SessionEnd {
    Stopped,   // the session stopped (disconnect, the buttons, a provider change)
    Closed,    // the window was closed while it ran
    Midnight,  // the day ended: the session goes on in the next day's row
    Recovered, // cut short by a kill, a crash or a power cut, and recovered at the next start
};
// "stopped", "closed", "midnight", "recovered": how the history and its exports name them.
const char* SessionEndName(SessionEnd how);
std::optional<SessionEnd> ParseSessionEnd(std::string_view name);

// A moment: seconds since 1970-01-01 UTC, and the local time's offset east of UTC then.
struct HistoryMoment {
    std::int64_t utc = 0;
    std::int32_t offset = 0;

    std::int64_t local() const { return utc + offset; }
    bool operator==(const HistoryMoment&) const = default;
};

// A local date-time of the program's clock as a moment, the offset being the one the system's
// time zone gives that local time (the earlier one of a repeated hour); and back.
HistoryMoment MomentOf(DateTime local);
DateTime LocalDateTime(const HistoryMoment& moment);
// "2026-03-29T01:59:59+01:00": ISO 8601 in the moment's own local time, with its offset.
std::string Iso8601(const HistoryMoment& moment);
// "2026-03-29".
std::string IsoDate(DateTime day);

struct SessionRow {
    // The provider's name when the row was written (a blank name is the unnamed provider).
    std::string provider;
    HistoryMoment start;
    HistoryMoment end;
    // What the stretch added to TotalTime, and to each side of the peak period.
    std::int64_t seconds = 0;
    std::int64_t insidePeak = 0;
    std::int64_t outsidePeak = 0;
    // Bytes received and sent; nullopt where the detection method counts none.
    std::optional<std::uint64_t> rx;
    std::optional<std::uint64_t> tx;
    // The charges text as the Timer page showed it at the end ("" with billing off).
    std::string charges;
    SessionEnd ended = SessionEnd::Stopped;

    bool operator==(const SessionRow&) const = default;
};

// Adds the row, inside the caller's transaction of the machine hive when one is open (so that
// it commits or rolls back with the save of the totals), in one of its own otherwise; makes
// the history's table the first time. False when nothing was written: no store, a read-only
// one, a history of a newer version than this program knows, or a refusal (why says).
bool AppendSessionRow(const SessionRow& row, std::string* why = nullptr);

// A running session at a save that ends a stretch of it (its stop, the window's close, the
// day's end, its recovery): everything it has counted since it started.
struct SessionSoFar {
    // When the session started (its first tick, or the end of the COM Port dialling delay), and
    // this moment, both on the program's local clock.
    DateTime start = 0.0;
    DateTime end = 0.0;
    // Its provider, what it has added to the totals since it started and the bytes it has
    // counted (none where the detection method counts none), the charges, and how the stretch
    // ends; the moments are the two above.
    SessionRow counted;
};

// Appends the row of the stretch that ends now: the session's counts less what its rows of
// earlier days hold (the provider's "midnight" rows that start at or after the session's
// start), from the end of the last of those (or the session's start) to `end`. The earlier
// rows are read in the same transaction, so the session's rows add up to what it counted
// however the stretches were cut. False when nothing was written, as AppendSessionRow.
bool AppendSessionStretch(const SessionSoFar& session, std::string* why = nullptr);

// Sums over a set of rows. Bytes are summed over the rows that know them: nullopt when none in
// the set does, and `bytesPartial` when only some do.
struct UsageSums {
    std::int64_t sessions = 0; // rows
    std::int64_t seconds = 0;
    std::int64_t insidePeak = 0;
    std::int64_t outsidePeak = 0;
    std::optional<std::uint64_t> rx;
    std::optional<std::uint64_t> tx;
    bool bytesPartial = false;

    // Some of the rows (or all of them) counted no bytes.
    bool someCountedNoBytes() const { return bytesPartial || (sessions > 0 && !(rx && tx)); }
    bool operator==(const UsageSums&) const = default;
};

struct DayUsage {
    DateTime day = 0.0;
    UsageSums sums;
};

// A billing cycle: the days from `start` up to, not including, `end` (the next one's start).
struct CycleBounds {
    DateTime start = 0.0;
    DateTime end = 0.0;
    bool operator==(const CycleBounds&) const = default;
};

struct CycleUsage {
    CycleBounds bounds;
    UsageSums sums;
};

// The billing cycle that `day` falls in for a cycle day of 1 to 31 (moved to the month's last
// day in shorter months, as the totals' clear moves it); 0 or any other number, which clears
// nothing, counts calendar months.
CycleBounds CycleAround(int cycleDay, DateTime day);

// The history is not as this program writes it (a hand edit, a damaged file): its version cannot
// be read, or a row holds what its column does not take (a text where a count of seconds goes).
// what() says what is wrong and in which row; such a history is refused, never read as empty or
// summed as if the text were 0.
class HistoryDamaged : public StoreError {
public:
    explicit HistoryDamaged(const std::string& what) : StoreError(what, kCorrupt) {}

private:
    static constexpr int kCorrupt = 11; // SQLITE_CORRUPT
};

// The history as it stands, read from one snapshot per call. Open() reads the current store
// folder's machine.db read-only: it never creates, changes or locks anything for writing, so it
// neither waits for the running program nor holds it up, and it refuses what the store refuses
// (a link, a file that is not a regular file, another program's database). A store without the
// history's tables reads as an empty history; a damaged history (HistoryDamaged) is refused.
class UsageHistory {
public:
    // nullptr with `why` set when the store cannot be read or its history is damaged, and
    // `problem` when given and the store's file is what is wrong (settings/store.h).
    static std::unique_ptr<UsageHistory> Open(std::string* why, StoreProblem* problem = nullptr);
    ~UsageHistory();
    UsageHistory(const UsageHistory&) = delete;
    UsageHistory& operator=(const UsageHistory&) = delete;

    // Queries throw StoreError (settings/store.h) when the database fails underneath, and
    // HistoryDamaged when a row they read, or sum, is damaged.

    // The provider the program loads at its start ("DefaultProvider"); nullopt when none is
    // set.
    std::optional<std::string> DefaultProvider() const;
    // The billing cycle day a stored provider's profile holds ("seCycleDay", 0 for none);
    // nullopt for a provider that is not stored (never saved, or deleted since).
    std::optional<int> StoredCycleDay(std::string_view provider) const;

    // Every provider name that has rows, as last written, in case-insensitive order; providers
    // deleted since are among them.
    std::vector<std::string> Providers() const;
    // The provider's name (letter case ignored, as the store ignores it) as its newest row
    // spells it; nullopt when it has no row.
    std::optional<std::string> ProviderName(std::string_view provider) const;

    // The day of the provider's oldest row; nullopt when it has none.
    std::optional<DateTime> FirstDay(std::string_view provider) const;
    // The provider's rows of the days from `from` up to, not including, `to`, oldest first.
    std::vector<SessionRow> Sessions(std::string_view provider, DateTime from, DateTime to) const;
    // The provider's last `count` rows, oldest first.
    std::vector<SessionRow> LastSessions(std::string_view provider, std::size_t count) const;
    // One entry for every day from `from` up to, not including, `to`, days without a row too.
    std::vector<DayUsage> Days(std::string_view provider, DateTime from, DateTime to) const;
    // The sums of the given cycles, in their order (cycles without a row have zero sums).
    std::vector<CycleUsage> Cycles(std::string_view provider,
                                   const std::vector<CycleBounds>& cycles) const;
    // The `count` cycles up to and including the one `today` falls in, oldest first.
    std::vector<CycleUsage> LastCycles(std::string_view provider, int cycleDay, DateTime today,
                                       std::size_t count) const;

private:
    struct Connection;
    explicit UsageHistory(std::unique_ptr<Connection> connection);
    std::unique_ptr<Connection> connection_;
};

// The `count` cycles up to and including the one `today` falls in, oldest first.
std::vector<CycleBounds> LastCycleBounds(int cycleDay, DateTime today, std::size_t count);

} // namespace quorvane
