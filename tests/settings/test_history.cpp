// The usage history in a real store: rows written in the store's transactions, read back
// through the read-only connection, and summed by day and by billing cycle.
#include "settings/history.h"
#include "settings/history_export.h"
#include "settings/profiles.h"
#include "settings/store.h"
#include "settings/store_fixture.h"

#include <sqlite3.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iterator>

namespace quorvane::test {
namespace {

// Central European time, with summer time from the last Sunday of March to the last of
// October: a zone given by its rule, so no time zone database of the machine is read.
class TimeZone {
public:
    explicit TimeZone(const char* rule) {
        if (const char* old = std::getenv("TZ"))
            saved_ = old;
        setenv("TZ", rule, 1);
        tzset();
    }
    ~TimeZone() {
        saved_ ? setenv("TZ", saved_->c_str(), 1) : unsetenv("TZ");
        tzset();
    }

private:
    std::optional<std::string> saved_;
};
constexpr const char* kCentralEurope = "CET-1CEST,M3.5.0,M10.5.0/3";

DateTime At(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
    return EncodeDate(year, month, day) + EncodeTime(hour, minute, second);
}

SessionRow Row(std::string provider, DateTime start, std::int64_t seconds,
               SessionEnd ended = SessionEnd::Stopped,
               std::optional<std::uint64_t> rx = std::nullopt,
               std::optional<std::uint64_t> tx = std::nullopt) {
    SessionRow row;
    row.provider = std::move(provider);
    row.start = MomentOf(start);
    row.end = MomentOf(start + static_cast<double>(seconds) * kOneSecond);
    row.seconds = seconds;
    row.outsidePeak = seconds;
    row.rx = rx;
    row.tx = tx;
    row.charges = "$1.00";
    row.ended = ended;
    return row;
}

std::unique_ptr<UsageHistory> OpenHistory() {
    std::string why;
    std::unique_ptr<UsageHistory> history = UsageHistory::Open(&why);
    EXPECT_TRUE(history) << why;
    return history;
}

class HistoryTest : public StoreTest {
protected:
    void Append(const SessionRow& row) {
        std::string why;
        ASSERT_TRUE(AppendSessionRow(row, &why)) << why;
    }
    TimeZone zone_{kCentralEurope};
};

TEST_F(HistoryTest, RowsComeBackAsWritten) {
    SessionRow stopped = Row("Dial Net", At(2026, 3, 29, 1, 30), 3600, SessionEnd::Stopped,
                             1'234'567'890'123, 42);
    // The local clock went from 02:00 to 03:00 meanwhile.
    stopped.end = MomentOf(At(2026, 3, 29, 3, 30));
    const SessionRow recovered = Row("dial net", At(2026, 3, 29, 5), 60, SessionEnd::Recovered);
    Append(stopped);
    Append(recovered);
    const auto history = OpenHistory();
    const std::vector<SessionRow> rows =
        history->Sessions("DIAL NET", EncodeDate(2026, 3, 29), EncodeDate(2026, 3, 30));
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0], stopped);
    EXPECT_EQ(rows[1].ended, SessionEnd::Recovered);
    EXPECT_EQ(rows[1].rx, std::nullopt);
    // The session crossed the change to summer time: its start and end keep their own offsets.
    EXPECT_EQ(Iso8601(rows[0].start), "2026-03-29T01:30:00+01:00");
    EXPECT_EQ(Iso8601(rows[0].end), "2026-03-29T03:30:00+02:00");
    EXPECT_EQ(rows[0].end.utc - rows[0].start.utc, 3600);
    EXPECT_EQ(history->Providers(), std::vector<std::string>{"dial net"});
}

// A clock set back can start two sessions in the same second: both are kept.
TEST_F(HistoryTest, RowsStartingInTheSameSecondAreBothKept) {
    Append(Row("Dial Net", At(2026, 1, 14, 9, 0), 100));
    Append(Row("Dial Net", At(2026, 1, 14, 9, 0), 200));
    const std::vector<SessionRow> rows = OpenHistory()->LastSessions("Dial Net", 5);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].seconds, 100);
    EXPECT_EQ(rows[1].seconds, 200);
}

TEST_F(HistoryTest, AStoreWithoutHistoryHasNoRows) {
    ASSERT_TRUE(WriteValueByPath(HKEY_LOCAL_MACHINE, ProvidersKey + "\\Dial Net\\Today",
                                 Variant(std::int32_t{600}), vkInteger));
    const auto history = OpenHistory();
    EXPECT_TRUE(history->Providers().empty());
    EXPECT_TRUE(history->LastSessions("Dial Net", 10).empty());
    EXPECT_EQ(history->FirstDay("Dial Net"), std::nullopt);
    const std::vector<DayUsage> days =
        history->Days("Dial Net", EncodeDate(2026, 1, 1), EncodeDate(2026, 1, 3));
    ASSERT_EQ(days.size(), 2u);
    EXPECT_EQ(days[1].sums, UsageSums{});
}

TEST_F(HistoryTest, NoStoreIsAReason) {
    std::filesystem::remove_all(StoreFolder());
    std::string why;
    EXPECT_FALSE(UsageHistory::Open(&why));
    EXPECT_THAT(why, testing::HasSubstr("machine.db"));
    // Reading made nothing.
    EXPECT_FALSE(std::filesystem::exists(StoreFolder()));
}

TEST_F(HistoryTest, DaysAndCyclesAreSummedFromTheRows) {
    Append(Row("Dial Net", At(2026, 1, 14, 23, 0), 100, SessionEnd::Stopped, 10, 1));
    Append(Row("Dial Net", At(2026, 1, 15, 8, 0), 200, SessionEnd::Stopped));
    Append(Row("Dial Net", At(2026, 1, 15, 9, 0), 300, SessionEnd::Stopped, 30, 3));
    Append(Row("Other", At(2026, 1, 15, 9, 0), 5000));
    Append(Row("Dial Net", At(2026, 2, 20, 12, 0), 400, SessionEnd::Closed, 40, 4));
    const auto history = OpenHistory();

    const std::vector<DayUsage> days =
        history->Days("Dial Net", EncodeDate(2026, 1, 14), EncodeDate(2026, 1, 17));
    ASSERT_EQ(days.size(), 3u);
    EXPECT_EQ(days[0].sums, (UsageSums{1, 100, 0, 100, 10, 1, false}));
    EXPECT_EQ(days[1].sums, (UsageSums{2, 500, 0, 500, 30, 3, true}));
    EXPECT_EQ(days[2].sums, UsageSums{});
    // A day is marked where some of its sessions (or all) counted no bytes.
    EXPECT_FALSE(days[0].sums.someCountedNoBytes());
    EXPECT_TRUE(days[1].sums.someCountedNoBytes());
    EXPECT_FALSE(days[2].sums.someCountedNoBytes());
    EXPECT_TRUE(history->Days("Other", EncodeDate(2026, 1, 15), EncodeDate(2026, 1, 16))[0]
                    .sums.someCountedNoBytes());

    // Cycle day 15: 15 Dec - 15 Jan, 15 Jan - 15 Feb, 15 Feb - 15 Mar.
    std::vector<CycleUsage> cycles = history->LastCycles("Dial Net", 15, At(2026, 3, 1), 3);
    ASSERT_EQ(cycles.size(), 3u);
    EXPECT_EQ(cycles[0].bounds, (CycleBounds{EncodeDate(2025, 12, 15), EncodeDate(2026, 1, 15)}));
    EXPECT_EQ(cycles[0].sums.seconds, 100);
    EXPECT_EQ(cycles[1].sums.seconds, 500);
    EXPECT_EQ(cycles[2].sums.seconds, 400);
    // Another cycle day re-draws the same rows: 14 Jan - 14 Feb holds the first three.
    cycles = history->LastCycles("Dial Net", 14, At(2026, 3, 1), 2);
    EXPECT_EQ(cycles[0].sums.seconds, 600);
    EXPECT_EQ(cycles[1].sums.seconds, 400);
}

TEST_F(HistoryTest, TheFirstDayIsThatOfTheProvidersOldestRow) {
    Append(Row("Dial Net", At(2026, 2, 20, 12, 0), 400));
    // Half past midnight local time, which is the evening before in UTC.
    Append(Row("dial net", At(2026, 1, 15, 0, 30), 100));
    Append(Row("Other", At(2025, 6, 1, 9, 0), 100));
    const auto history = OpenHistory();
    EXPECT_EQ(history->FirstDay("DIAL NET"), EncodeDate(2026, 1, 15));
    EXPECT_EQ(history->FirstDay("Other"), EncodeDate(2025, 6, 1));
    EXPECT_EQ(history->FirstDay("Nobody"), std::nullopt);
}

TEST(HistoryCycles, TheCycleDayMovesToTheEndOfShorterMonths) {
    struct Case {
        int cycleDay;
        DateTime day;
        CycleBounds bounds;
    };
    const Case cases[] = {
        {31, EncodeDate(2026, 2, 10), {EncodeDate(2026, 1, 31), EncodeDate(2026, 2, 28)}},
        {31, EncodeDate(2026, 2, 28), {EncodeDate(2026, 2, 28), EncodeDate(2026, 3, 31)}},
        {30, EncodeDate(2024, 3, 1), {EncodeDate(2024, 2, 29), EncodeDate(2024, 3, 30)}},
        {1, EncodeDate(2026, 12, 31), {EncodeDate(2026, 12, 1), EncodeDate(2027, 1, 1)}},
        {15, EncodeDate(2026, 1, 14), {EncodeDate(2025, 12, 15), EncodeDate(2026, 1, 15)}},
        // No cycle day: calendar months.
        {0, EncodeDate(2026, 5, 17), {EncodeDate(2026, 5, 1), EncodeDate(2026, 6, 1)}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CycleAround(c.cycleDay, c.day), c.bounds) << c.cycleDay << " " << IsoDate(c.day);
}

TEST_F(HistoryTest, ARowJoinsTheTransactionItIsWrittenIn) {
    const SessionRow row = Row("Dial Net", At(2026, 1, 14, 23, 0), 100);
    // The save fails after the row: neither is kept.
    EXPECT_FALSE(WriteTogether(HKEY_LOCAL_MACHINE, [&] { return AppendSessionRow(row) && false; }));
    EXPECT_TRUE(OpenHistory()->LastSessions("Dial Net", 5).empty());
    EXPECT_TRUE(WriteTogether(HKEY_LOCAL_MACHINE, [&] {
        return AppendSessionRow(row) &&
               WriteValueByPath(HKEY_LOCAL_MACHINE, ProvidersKey + "\\Dial Net\\TotalTime",
                                Variant(std::int32_t{100}), vkInteger);
    }));
    EXPECT_EQ(OpenHistory()->LastSessions("Dial Net", 5).size(), 1u);
}

TEST_F(HistoryTest, AHistoryOfANewerVersionIsLeftAlone) {
    Append(Row("Dial Net", At(2026, 1, 14, 23, 0), 100));
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(HiveFile(HKEY_LOCAL_MACHINE).c_str(), &db), SQLITE_OK);
        EXPECT_EQ(sqlite3_exec(db, "UPDATE usage_history_version SET version = 2", nullptr,
                               nullptr, nullptr),
                  SQLITE_OK);
        sqlite3_close(db);
    }
    std::string why;
    EXPECT_FALSE(AppendSessionRow(Row("Dial Net", At(2026, 1, 15), 5), &why));
    EXPECT_THAT(why, testing::HasSubstr("newer version"));
    EXPECT_FALSE(UsageHistory::Open(&why));
    EXPECT_THAT(why, testing::HasSubstr("newer version"));
    // The save the refused row went with is kept whole.
    EXPECT_TRUE(WriteTogether(HKEY_LOCAL_MACHINE, [&] {
        AppendSessionRow(Row("Dial Net", At(2026, 1, 15), 5));
        return WriteValueByPath(HKEY_LOCAL_MACHINE, ProvidersKey + "\\Dial Net\\TotalTime",
                                Variant(std::int32_t{105}), vkInteger);
    }));
    Variant total;
    ReadValueByPath(HKEY_LOCAL_MACHINE, ProvidersKey + "\\Dial Net\\TotalTime", vkInteger, total);
    EXPECT_EQ(total.toInt(), 105);
}

// An export replaces a regular file whole, or makes a new one; it never writes through a link,
// into a folder, or over the store's own files.
TEST_F(HistoryTest, AnExportReplacesOnlyARegularFile) {
    namespace fs = std::filesystem;
    const fs::path folder = StoreFolder().parent_path() / "exports";
    fs::remove_all(folder);
    fs::create_directories(folder / "a folder");
    const fs::path kept = folder / "kept.csv";
    {
        std::ofstream(kept) << "old";
    }
    fs::create_symlink(kept, folder / "link.csv");
    {
        std::ofstream(folder / "old.csv") << "old contents, longer than the new";
    }
    struct Case {
        fs::path path;
        std::string refusal; // "" when written
    };
    const Case cases[] = {
        {folder / "new.csv", ""},
        {folder / "old.csv", ""},
        {folder / "link.csv", "is a symbolic link"},
        {folder / "a folder", "is a folder"},
        {HiveFile(HKEY_LOCAL_MACHINE), "one of the store's own files"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path.string());
        std::string why;
        EXPECT_EQ(WriteExportFile(c.path.string(), "a,b\r\n", &why), c.refusal.empty());
        if (c.refusal.empty()) {
            std::ifstream in(c.path, std::ios::binary);
            EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "a,b\r\n");
        } else {
            EXPECT_THAT(why, testing::HasSubstr(c.refusal));
        }
    }
    std::ifstream in(kept);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "old");
    EXPECT_TRUE(fs::is_symlink(folder / "link.csv"));
}

} // namespace
} // namespace quorvane::test
