#include "settings/history.h"

#include "core/text.h"
#include "core/bytes.h"
#include "core/text_codec.h"
#include "settings/profiles.h"
#include "settings/store.h"

#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <limits>

namespace quorvane {

namespace {

// What this program writes. A later release that changes the table raises the number and
// brings older histories up to it; this one leaves a newer history alone rather than write
// rows it does not know the shape of.
constexpr int kHistoryVersion = 1;

// The rows lie in the order they are asked for: by provider, then by the local time of their
// start (which is also what their day is reckoned from), so a provider's days and cycles are one
// range of the table, and a new row goes at the end of its provider's, touching one page. A
// moment is kept as the local clock's reading with its offset east of UTC. `seq` tells apart rows
// of one provider that start in the same second (a clock set back).
constexpr const char* kHistorySchema = R"sql(
CREATE TABLE usage_history_version(version INTEGER NOT NULL);
INSERT INTO usage_history_version(version) VALUES(1);
CREATE TABLE usage_history(
    provider_fold TEXT NOT NULL,
    start_local INTEGER NOT NULL,
    seq INTEGER NOT NULL,
    provider TEXT NOT NULL,
    start_offset INTEGER NOT NULL,
    end_local INTEGER NOT NULL,
    end_offset INTEGER NOT NULL,
    seconds INTEGER NOT NULL,
    inside_peak INTEGER NOT NULL,
    outside_peak INTEGER NOT NULL,
    rx INTEGER,
    tx INTEGER,
    charges TEXT NOT NULL,
    ended TEXT NOT NULL CHECK(ended IN ('stopped', 'closed', 'midnight', 'recovered')),
    PRIMARY KEY(provider_fold, start_local, seq)
) WITHOUT ROWID;
)sql";

constexpr std::int64_t kSecondsPerDay = 86400;
// 1970-01-01 as a DateTime.
constexpr double kUnixEpoch = 25569.0;

constexpr std::array<const char*, 4> kEndNames = {"stopped", "closed", "midnight", "recovered"};

// The key a provider's rows are found by: the store's comparison of names, every blank name
// being the one unnamed provider.
std::string ProviderFold(std::string_view provider) {
    return StripSpaces(provider).empty() ? std::string() : FoldCase(provider);
}

std::int64_t LocalSecondOfDay(DateTime day) {
    return std::llround((DateOf(day) - kUnixEpoch) * kSecondsPerDay);
}

DateTime DayOfLocalSecond(std::int64_t local) {
    const std::int64_t days = local >= 0 ? local / kSecondsPerDay
                                         : -((-local + kSecondsPerDay - 1) / kSecondsPerDay);
    return static_cast<DateTime>(days) + kUnixEpoch;
}

struct StmtFinalizer {
    void operator()(sqlite3_stmt* stmt) const { sqlite3_finalize(stmt); }
};

// One statement, run to its end or reset when it goes.
class Statement {
public:
    Statement(sqlite3* db, const char* sql) : db_(db) {
        sqlite3_stmt* raw = nullptr;
        if (sqlite3_prepare_v2(db, sql, -1, &raw, nullptr) != SQLITE_OK)
            Fail();
        stmt_.reset(raw);
    }

    Statement& Bind(int index, std::int64_t value) {
        Check(sqlite3_bind_int64(stmt_.get(), index, value));
        return *this;
    }
    Statement& Bind(int index, std::string_view text) {
        Check(sqlite3_bind_text(stmt_.get(), index, text.data() ? text.data() : "",
                                static_cast<int>(text.size()), SQLITE_TRANSIENT));
        return *this;
    }
    Statement& Bind(int index, const std::optional<std::uint64_t>& value) {
        Check(value ? sqlite3_bind_int64(stmt_.get(), index, static_cast<std::int64_t>(*value))
                    : sqlite3_bind_null(stmt_.get(), index));
        return *this;
    }

    bool Step() {
        const int rc = sqlite3_step(stmt_.get());
        if (rc == SQLITE_ROW)
            return true;
        if (rc == SQLITE_DONE)
            return false;
        Fail();
    }
    void Reset() {
        sqlite3_reset(stmt_.get());
        sqlite3_clear_bindings(stmt_.get());
    }

    sqlite3_stmt* get() const { return stmt_.get(); }
    std::int64_t Int(int column) const { return sqlite3_column_int64(stmt_.get(), column); }
    bool Null(int column) const { return sqlite3_column_type(stmt_.get(), column) == SQLITE_NULL; }
    std::optional<std::uint64_t> Bytes(int column) const {
        if (Null(column))
            return std::nullopt;
        return static_cast<std::uint64_t>(sqlite3_column_int64(stmt_.get(), column));
    }
    std::string Text(int column) const {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt_.get(), column));
        return text ? std::string(text, sqlite3_column_bytes(stmt_.get(), column)) : std::string();
    }

private:
    void Check(int rc) const {
        if (rc != SQLITE_OK)
            Fail();
    }
    [[noreturn]] void Fail() const {
        throw StoreError(sqlite3_errmsg(db_), sqlite3_extended_errcode(db_));
    }

    sqlite3* db_;
    std::unique_ptr<sqlite3_stmt, StmtFinalizer> stmt_;
};

[[noreturn]] void Damaged(const std::string& what) {
    throw HistoryDamaged("the usage history is damaged: " + what);
}

// The history's version in this database; 0 when it has no history yet. A history whose tables
// or version row are not as this program writes them is damaged (HistoryDamaged), not empty:
// its rows must not read as none.
int HistoryVersion(sqlite3* db) {
    Statement tables(db, "SELECT name FROM sqlite_schema WHERE type = 'table' AND "
                         "name IN ('usage_history', 'usage_history_version')");
    bool versionTable = false, rowTable = false;
    while (tables.Step())
        (tables.Text(0) == "usage_history" ? rowTable : versionTable) = true;
    if (!versionTable && !rowTable)
        return 0;
    // Says how much the damage keeps from being read.
    const auto damaged = [&](std::string what) {
        if (rowTable) {
            Statement count(db, "SELECT count(*) FROM usage_history");
            if (count.Step())
                what += " (it holds " + std::to_string(count.Int(0)) + " rows)";
        }
        Damaged(what);
    };
    if (!versionTable)
        damaged("its version table is missing");
    Statement version(db, "SELECT version, typeof(version) FROM usage_history_version");
    std::optional<std::int64_t> highest;
    while (version.Step()) {
        if (version.Text(1) != "integer")
            damaged("its version is \"" + EscapedForTerminal(version.Text(0)) +
                    "\", not a whole number");
        highest = std::max(highest.value_or(version.Int(0)), version.Int(0));
    }
    if (!highest)
        damaged("its version row is missing");
    if (*highest < 1)
        damaged("its version is " + std::to_string(*highest));
    if (!rowTable)
        Damaged("its table of rows is missing");
    return static_cast<int>(std::min<std::int64_t>(*highest, std::numeric_limits<int>::max()));
}

constexpr const char* kRowColumns =
    "seq, provider, start_local, start_offset, end_local, end_offset, seconds, inside_peak, "
    "outside_peak, rx, tx, charges, ended";

// A row that this program did not write as it stands: a column of whole numbers holding
// anything else (SQLite keeps a text in an INTEGER column, and sums it as 0), a negative count of
// bytes, an end that is none of the four. RowOf() says what is wrong with such a row.
constexpr const char* kDamagedRow =
    "(typeof(start_local) != 'integer' OR typeof(start_offset) != 'integer' OR "
    "typeof(end_local) != 'integer' OR typeof(end_offset) != 'integer' OR "
    "typeof(seconds) != 'integer' OR typeof(inside_peak) != 'integer' OR "
    "typeof(outside_peak) != 'integer' OR typeof(rx) NOT IN ('integer', 'null') OR "
    "typeof(tx) NOT IN ('integer', 'null') OR ifnull(rx, 0) < 0 OR ifnull(tx, 0) < 0 OR "
    "ended NOT IN ('stopped', 'closed', 'midnight', 'recovered'))";

// Whether the rows of a sum (kSumColumns) hold a damaged value in a column that is summed: SQLite
// sums a text as 0, but then gives a floating point sum, which a sum of whole numbers never is.
// Checked on the sums rather than on every row, which would cost the window's reads of a cycle
// half as much again. RefuseDamagedRow() then finds the row.
constexpr const char* kDamagedSums =
    "(typeof(sum(seconds)) = 'real' OR typeof(sum(inside_peak)) = 'real' OR "
    "typeof(sum(outside_peak)) = 'real' OR typeof(sum(rx)) = 'real' OR "
    "typeof(sum(tx)) = 'real' OR min(rx) < 0 OR min(tx) < 0)";

// What a column holds, as a message shows it.
std::string Shown(sqlite3_stmt* stmt, int column) {
    switch (sqlite3_column_type(stmt, column)) {
    case SQLITE_NULL:
        return "nothing";
    case SQLITE_BLOB:
        return "a blob";
    default: {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, column));
        return "\"" +
               EscapedForTerminal(
                   std::string_view(text ? text : "",
                                    static_cast<std::size_t>(sqlite3_column_bytes(stmt, column)))) +
               "\"";
    }
    }
}

// The row of kRowColumns; HistoryDamaged when it is damaged (see kDamagedRow).
SessionRow RowOf(const Statement& q) {
    sqlite3_stmt* stmt = q.get();
    const auto whole = [&](int column) {
        return sqlite3_column_type(stmt, column) == SQLITE_INTEGER;
    };
    const auto where = [&] {
        const std::string provider = "\"" + EscapedForTerminal(q.Text(1)) + "\"";
        if (!whole(2) || !whole(3))
            return "a row of " + provider;
        return "the row of " + provider + " that starts " +
               Iso8601({q.Int(2) - q.Int(3), static_cast<std::int32_t>(q.Int(3))});
    };
    const auto refuse = [&](int column, const char* takes) {
        Damaged(where() + " holds " + Shown(stmt, column) + " in " +
                sqlite3_column_name(stmt, column) + ", which takes " + takes);
    };
    for (int column = 2; column <= 8; ++column)
        if (!whole(column))
            refuse(column, "a whole number");
    for (const int column : {9, 10}) {
        const int type = sqlite3_column_type(stmt, column);
        if (type != SQLITE_NULL && type != SQLITE_INTEGER)
            refuse(column, "a whole number");
        if (type == SQLITE_INTEGER && q.Int(column) < 0)
            refuse(column, "a count of bytes (0 or more)");
    }
    const std::optional<SessionEnd> ended = ParseSessionEnd(q.Text(12));
    if (!ended)
        refuse(12, "stopped, closed, midnight or recovered");

    SessionRow row;
    row.provider = q.Text(1);
    row.start = {q.Int(2) - q.Int(3), static_cast<std::int32_t>(q.Int(3))};
    row.end = {q.Int(4) - q.Int(5), static_cast<std::int32_t>(q.Int(5))};
    row.seconds = q.Int(6);
    row.insidePeak = q.Int(7);
    row.outsidePeak = q.Int(8);
    row.rx = q.Bytes(9);
    row.tx = q.Bytes(10);
    row.charges = q.Text(11);
    row.ended = *ended;
    return row;
}

// Reads the first damaged row of the provider's rows from `from` up to, not including, `to`
// (local seconds), and so throws what is wrong with it.
[[noreturn]] void RefuseDamagedRow(sqlite3* db, const std::string& fold, std::int64_t from,
                                   std::int64_t to) {
    Statement q(db, (std::string("SELECT ") + kRowColumns +
                     " FROM usage_history WHERE provider_fold = ?1 AND start_local >= ?2 AND "
                     "start_local < ?3 AND " +
                     kDamagedRow + " ORDER BY start_local, seq LIMIT 1")
                        .c_str());
    q.Bind(1, fold).Bind(2, from).Bind(3, to);
    if (q.Step())
        RowOf(q);
    Damaged("a row is not as Quorvane writes it");
}

std::vector<SessionRow> RowsOf(Statement& q) {
    std::vector<SessionRow> rows;
    while (q.Step())
        rows.push_back(RowOf(q));
    return rows;
}

// The sums of the columns count(*), sum(seconds), sum(inside_peak), sum(outside_peak), sum(rx),
// sum(tx), count(rx), count(tx) from `first` on.
constexpr const char* kSumColumns =
    "count(*), coalesce(sum(seconds), 0), coalesce(sum(inside_peak), 0), "
    "coalesce(sum(outside_peak), 0), sum(rx), sum(tx), count(rx), count(tx)";

UsageSums SumsOf(const Statement& q, int first) {
    UsageSums sums;
    sums.sessions = q.Int(first);
    sums.seconds = q.Int(first + 1);
    sums.insidePeak = q.Int(first + 2);
    sums.outsidePeak = q.Int(first + 3);
    sums.rx = q.Bytes(first + 4);
    sums.tx = q.Bytes(first + 5);
    const std::int64_t known = std::min(q.Int(first + 6), q.Int(first + 7));
    sums.bytesPartial = known > 0 && known < sums.sessions;
    return sums;
}

// A read transaction, so that the statements of one call see one snapshot.
class Snapshot {
public:
    explicit Snapshot(sqlite3* db) : db_(db) {
        if (sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK)
            throw StoreError(sqlite3_errmsg(db), sqlite3_extended_errcode(db));
    }
    ~Snapshot() { sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr); }
    Snapshot(const Snapshot&) = delete;
    Snapshot& operator=(const Snapshot&) = delete;

private:
    sqlite3* db_;
};

// A write of the history in the machine hive's transaction (the caller's when one is open, so
// that it commits or rolls back with the save of the totals), inside a savepoint of its own: a
// row that fails takes nothing else of the transaction with it, and the save it goes with is
// kept.
class HistoryWrite {
public:
    explicit HistoryWrite(std::string* why)
        : why_(why), db_(HiveConnectionForWriting(RootKey::LocalMachine, why)),
          transaction_(RootKey::LocalMachine) {
        if (!db_)
            return;
        if (!transaction_.ok()) {
            Fail(transaction_.error());
            return;
        }
        if (sqlite3_exec(db_.get(), "SAVEPOINT usage_history_row", nullptr, nullptr, nullptr) !=
            SQLITE_OK) {
            Fail(sqlite3_errmsg(db_.get()));
            return;
        }
        open_ = true;
        try {
            version_ = HistoryVersion(db_.get());
        } catch (const StoreError& e) {
            Fail(e.what());
            return;
        }
        if (version_ > kHistoryVersion) {
            Fail("the usage history was written by a newer version of Quorvane");
            return;
        }
        ok_ = true;
    }
    ~HistoryWrite() {
        if (open_)
            sqlite3_exec(db_.get(), "ROLLBACK TO usage_history_row; RELEASE usage_history_row",
                         nullptr, nullptr, nullptr);
    }
    HistoryWrite(const HistoryWrite&) = delete;
    HistoryWrite& operator=(const HistoryWrite&) = delete;

    bool ok() const { return ok_; }
    sqlite3* db() const { return db_.get(); }
    // The history's version before this write; 0 when it had none yet.
    int version() const { return version_; }

    bool Fail(const std::string& reason) {
        if (why_)
            *why_ = reason;
        ok_ = false;
        return false;
    }

    // Makes the history's tables the first time.
    bool Insert(const SessionRow& row) {
        try {
            if (version_ == 0) {
                if (sqlite3_exec(db(), kHistorySchema, nullptr, nullptr, nullptr) != SQLITE_OK)
                    return Fail(sqlite3_errmsg(db()));
                version_ = kHistoryVersion;
            }
            const std::string fold = ProviderFold(row.provider);
            Statement insert(db(),
                             "INSERT INTO usage_history(provider_fold, start_local, seq, provider, "
                             "start_offset, end_local, end_offset, seconds, inside_peak, "
                             "outside_peak, rx, tx, charges, ended) "
                             "VALUES(?1, ?2, (SELECT count(*) FROM usage_history WHERE "
                             "provider_fold = ?1 AND start_local = ?2), ?3, ?4, ?5, ?6, ?7, ?8, "
                             "?9, ?10, ?11, ?12, ?13)");
            insert.Bind(1, fold).Bind(2, row.start.local()).Bind(3, row.provider);
            insert.Bind(4, std::int64_t{row.start.offset});
            insert.Bind(5, row.end.local()).Bind(6, std::int64_t{row.end.offset});
            insert.Bind(7, row.seconds).Bind(8, row.insidePeak).Bind(9, row.outsidePeak);
            insert.Bind(10, row.rx).Bind(11, row.tx).Bind(12, row.charges);
            insert.Bind(13, std::string_view(SessionEndName(row.ended)));
            insert.Step();
        } catch (const StoreError& e) {
            return Fail(e.what());
        }
        return true;
    }

    // Keeps what was written; commits it unless the caller's transaction is to.
    bool Finish() {
        if (sqlite3_exec(db(), "RELEASE usage_history_row", nullptr, nullptr, nullptr) !=
            SQLITE_OK)
            return Fail(sqlite3_errmsg(db()));
        open_ = false;
        try {
            transaction_.Commit();
        } catch (const StoreError& e) {
            return Fail(e.what());
        }
        return true;
    }

private:
    std::string* why_;
    std::shared_ptr<sqlite3> db_;
    StoreTransaction transaction_;
    bool open_ = false;
    bool ok_ = false;
    int version_ = 0;
};

} // namespace

const char* SessionEndName(SessionEnd how) {
    return kEndNames[static_cast<std::size_t>(how)];
}

std::optional<SessionEnd> ParseSessionEnd(std::string_view name) {
    for (std::size_t i = 0; i < kEndNames.size(); ++i)
        if (name == kEndNames[i])
            return static_cast<SessionEnd>(i);
    return std::nullopt;
}

HistoryMoment MomentOf(DateTime local) {
    const std::int64_t seconds = std::llround((local - kUnixEpoch) * kSecondsPerDay);
    // The local time's fields, read as if they were UTC, then asked of the time zone.
    const std::time_t asUtc = static_cast<std::time_t>(seconds);
    std::tm fields{};
    gmtime_r(&asUtc, &fields);
    fields.tm_isdst = -1;
    const std::time_t utc = std::mktime(&fields);
    if (utc == static_cast<std::time_t>(-1))
        return {seconds, 0};
    return {static_cast<std::int64_t>(utc), static_cast<std::int32_t>(seconds - utc)};
}

DateTime LocalDateTime(const HistoryMoment& moment) {
    return static_cast<double>(moment.local()) / kSecondsPerDay + kUnixEpoch;
}

std::string IsoDate(DateTime day) {
    const CivilDate date = DecodeDate(day);
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", date.year, date.month, date.day);
    return text;
}

std::string Iso8601(const HistoryMoment& moment) {
    const std::int64_t local = moment.local();
    const DateTime day = DayOfLocalSecond(local);
    const std::int64_t second = local - LocalSecondOfDay(day);
    const std::int32_t offset = std::abs(moment.offset);
    char text[48];
    std::snprintf(text, sizeof text, "T%02d:%02d:%02d%c%02d:%02d",
                  static_cast<int>(second / 3600), static_cast<int>(second / 60 % 60),
                  static_cast<int>(second % 60), moment.offset < 0 ? '-' : '+', offset / 3600,
                  offset / 60 % 60);
    return IsoDate(day) + text;
}

bool AppendSessionRow(const SessionRow& row, std::string* why) {
    HistoryWrite write(why);
    return write.ok() && write.Insert(row) && write.Finish();
}

bool AppendSessionStretch(const SessionSoFar& session, std::string* why) {
    HistoryWrite write(why);
    if (!write.ok())
        return false;
    SessionRow row = session.counted;
    row.start = MomentOf(session.start);
    row.end = MomentOf(session.end);
    // The session's rows of earlier days, read under the write lock the row is written with.
    if (write.version() > 0) {
        try {
            Statement earlier(
                write.db(),
                (std::string("SELECT max(end_local), ") + kSumColumns +
                 " FROM usage_history WHERE provider_fold = ?1 AND start_local >= ?2 "
                 "AND ended = 'midnight'")
                    .c_str());
            earlier.Bind(1, ProviderFold(row.provider)).Bind(2, row.start.local());
            if (earlier.Step()) {
                const UsageSums before = SumsOf(earlier, 1);
                if (before.sessions > 0) {
                    row.start = MomentOf(static_cast<double>(earlier.Int(0)) / kSecondsPerDay +
                                         kUnixEpoch);
                    row.seconds -= before.seconds;
                    row.insidePeak -= before.insidePeak;
                    row.outsidePeak -= before.outsidePeak;
                    if (row.rx && before.rx)
                        row.rx = *row.rx - std::min(*row.rx, *before.rx);
                    if (row.tx && before.tx)
                        row.tx = *row.tx - std::min(*row.tx, *before.tx);
                }
            }
        } catch (const StoreError& e) {
            return write.Fail(e.what());
        }
    }
    // A stretch that counted nothing (a session stopped at its first tick) is no session to
    // list. A day's end keeps its row all the same: the next day's stretch starts where it ends.
    const bool counted = row.seconds != 0 || row.insidePeak != 0 || row.outsidePeak != 0 ||
                         row.rx.value_or(0) != 0 || row.tx.value_or(0) != 0;
    if (!counted && row.ended != SessionEnd::Midnight)
        return write.Finish();
    return write.Insert(row) && write.Finish();
}

CycleBounds CycleAround(int cycleDay, DateTime day) {
    if (cycleDay < 1 || cycleDay > 31)
        cycleDay = 1;
    const DateTime start = *CycleStart(cycleDay, day);
    // The next cycle begins within 31 days of this one's start, and the one after it later.
    return {start, *CycleStart(cycleDay, start + 31)};
}

std::vector<CycleBounds> LastCycleBounds(int cycleDay, DateTime today, std::size_t count) {
    std::vector<CycleBounds> cycles;
    CycleBounds cycle = CycleAround(cycleDay, today);
    for (std::size_t i = 0; i < count; ++i) {
        cycles.push_back(cycle);
        cycle = CycleAround(cycleDay, cycle.start - 1);
    }
    std::reverse(cycles.begin(), cycles.end());
    return cycles;
}

struct UsageHistory::Connection {
    std::shared_ptr<sqlite3> db;
    // A store without the history's table reads as an empty history.
    bool present = false;
};

UsageHistory::UsageHistory(std::unique_ptr<Connection> connection)
    : connection_(std::move(connection)) {}

UsageHistory::~UsageHistory() = default;

std::unique_ptr<UsageHistory> UsageHistory::Open(std::string* why, StoreProblem* problem) {
    auto connection = std::make_unique<Connection>();
    connection->db = OpenHiveForReading(RootKey::LocalMachine, why, problem);
    if (!connection->db)
        return nullptr;
    try {
        const int version = HistoryVersion(connection->db.get());
        if (version > kHistoryVersion) {
            *why = "the usage history was written by a newer version of Quorvane";
            return nullptr;
        }
        connection->present = version > 0;
    } catch (const HistoryDamaged& e) {
        *why = e.what();
        return nullptr;
    } catch (const StoreError& e) {
        *why = std::string("cannot read the store: ") + e.what();
        return nullptr;
    }
    return std::unique_ptr<UsageHistory>(new UsageHistory(std::move(connection)));
}

std::optional<std::string> UsageHistory::DefaultProvider() const {
    const std::optional<RegValue> value =
        QueryValueReadOnly(connection_->db.get(), ProvidersKey, "DefaultProvider");
    if (!value || (value->type != REG_SZ && value->type != REG_EXPAND_SZ))
        return std::nullopt;
    std::string name(value->data.begin(), value->data.end());
    name.resize(std::min(name.size(), name.find('\0')));
    if (name.empty())
        return std::nullopt;
    return name;
}

std::optional<int> UsageHistory::StoredCycleDay(std::string_view provider) const {
    if (!IsStorableProviderName(provider))
        return std::nullopt;
    const std::string key = ProviderKeyPath(provider);
    const std::optional<RegValue> day =
        QueryValueReadOnly(connection_->db.get(), key, "seCycleDay");
    if (day && day->type == REG_DWORD && day->data.size() == 4)
        return static_cast<std::int32_t>(ReadLittleEndian(day->data.data(), 4));
    // A profile saved without the field has no cycle.
    if (QueryValueReadOnly(connection_->db.get(), key, kTotalNames[3]))
        return 0;
    return std::nullopt;
}

std::vector<std::string> UsageHistory::Providers() const {
    std::vector<std::string> names;
    if (!connection_->present)
        return names;
    // The name of each provider's newest row (SQLite takes a bare column from the max() row).
    Statement q(connection_->db.get(), "SELECT max(start_local), provider FROM usage_history "
                                       "GROUP BY provider_fold ORDER BY provider_fold");
    while (q.Step())
        names.push_back(q.Text(1));
    return names;
}

std::optional<std::string> UsageHistory::ProviderName(std::string_view provider) const {
    if (!connection_->present)
        return std::nullopt;
    Statement q(connection_->db.get(),
                "SELECT provider FROM usage_history WHERE provider_fold = ?1 "
                "ORDER BY start_local DESC, seq DESC LIMIT 1");
    q.Bind(1, ProviderFold(provider));
    if (!q.Step())
        return std::nullopt;
    return q.Text(0);
}

std::optional<DateTime> UsageHistory::FirstDay(std::string_view provider) const {
    if (!connection_->present)
        return std::nullopt;
    // The table's key finds it without a scan.
    Statement q(connection_->db.get(),
                "SELECT min(start_local) FROM usage_history WHERE provider_fold = ?1");
    q.Bind(1, ProviderFold(provider));
    if (!q.Step() || q.Null(0))
        return std::nullopt;
    return DayOfLocalSecond(q.Int(0));
}

std::vector<SessionRow> UsageHistory::Sessions(std::string_view provider, DateTime from,
                                               DateTime to) const {
    std::vector<SessionRow> rows;
    if (!connection_->present)
        return rows;
    Statement q(connection_->db.get(),
                (std::string("SELECT ") + kRowColumns +
                 " FROM usage_history WHERE provider_fold = ?1 AND start_local >= ?2 "
                 "AND start_local < ?3 ORDER BY start_local, seq")
                    .c_str());
    q.Bind(1, ProviderFold(provider)).Bind(2, LocalSecondOfDay(from)).Bind(3, LocalSecondOfDay(to));
    return RowsOf(q);
}

std::vector<SessionRow> UsageHistory::LastSessions(std::string_view provider,
                                                   std::size_t count) const {
    std::vector<SessionRow> rows;
    if (!connection_->present || count == 0)
        return rows;
    Statement q(connection_->db.get(),
                (std::string("SELECT ") + kRowColumns +
                 " FROM usage_history WHERE provider_fold = ?1 "
                 "ORDER BY start_local DESC, seq DESC LIMIT ?2")
                    .c_str());
    q.Bind(1, ProviderFold(provider)).Bind(2, static_cast<std::int64_t>(count));
    rows = RowsOf(q);
    std::reverse(rows.begin(), rows.end());
    return rows;
}

std::vector<DayUsage> UsageHistory::Days(std::string_view provider, DateTime from,
                                         DateTime to) const {
    std::vector<DayUsage> days;
    from = DateOf(from);
    to = DateOf(to);
    for (DateTime day = from; day < to; day += 1)
        days.push_back({day, {}});
    if (!connection_->present || days.empty())
        return days;
    Statement q(connection_->db.get(),
                (std::string("SELECT (start_local - ?2) / 86400 AS day, ") + kSumColumns + ", " +
                 kDamagedSums +
                 " FROM usage_history WHERE provider_fold = ?1 AND start_local >= ?2 "
                 "AND start_local < ?3 GROUP BY day ORDER BY day")
                    .c_str());
    const std::string fold = ProviderFold(provider);
    q.Bind(1, fold).Bind(2, LocalSecondOfDay(from)).Bind(3, LocalSecondOfDay(to));
    while (q.Step()) {
        if (q.Int(9) > 0)
            RefuseDamagedRow(connection_->db.get(), fold, LocalSecondOfDay(from),
                             LocalSecondOfDay(to));
        const std::int64_t index = q.Int(0);
        if (index >= 0 && static_cast<std::size_t>(index) < days.size())
            days[static_cast<std::size_t>(index)].sums = SumsOf(q, 1);
    }
    return days;
}

std::vector<CycleUsage> UsageHistory::Cycles(std::string_view provider,
                                             const std::vector<CycleBounds>& cycles) const {
    std::vector<CycleUsage> usage;
    for (const CycleBounds& bounds : cycles)
        usage.push_back({bounds, {}});
    if (!connection_->present || cycles.empty())
        return usage;
    const Snapshot snapshot(connection_->db.get());
    Statement q(connection_->db.get(),
                (std::string("SELECT ") + kSumColumns + ", " + kDamagedSums +
                 " FROM usage_history WHERE provider_fold = ?1 AND start_local >= ?2 "
                 "AND start_local < ?3")
                    .c_str());
    const std::string fold = ProviderFold(provider);
    for (CycleUsage& cycle : usage) {
        const std::int64_t from = LocalSecondOfDay(cycle.bounds.start);
        const std::int64_t to = LocalSecondOfDay(cycle.bounds.end);
        q.Bind(1, fold).Bind(2, from).Bind(3, to);
        if (q.Step()) {
            if (q.Int(8) > 0)
                RefuseDamagedRow(connection_->db.get(), fold, from, to);
            cycle.sums = SumsOf(q, 0);
        }
        q.Reset();
    }
    return usage;
}

std::vector<CycleUsage> UsageHistory::LastCycles(std::string_view provider, int cycleDay,
                                                 DateTime today, std::size_t count) const {
    return Cycles(provider, LastCycleBounds(cycleDay, today, count));
}

} // namespace quorvane
