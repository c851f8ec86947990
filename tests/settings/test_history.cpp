// The usage history in a real store: rows written in the store's transactions, read back
// through the read-only connection, and summed by day and by billing cycle.
#include "settings/history.h"
#include "settings/history_export.h"
#include "settings/process.h"
#include "settings/profiles.h"
#include "settings/store.h"
#include "settings/store_fixture.h"

#include <sqlite3.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <functional>
#include <grp.h>
#include <iterator>
#include <sys/stat.h>
#include <unistd.h>

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
        ExportRefusal refusal;
        bool exists;
    };
    const Case cases[] = {
        {folder / "new.csv", ExportRefusal::None, false},
        {folder / "old.csv", ExportRefusal::None, true},
        {folder / "link.csv", ExportRefusal::Link, true},
        {folder / "a folder", ExportRefusal::Folder, true},
        {"/dev/null", ExportRefusal::NotRegularFile, true},
        {folder / "no such folder" / "new.csv", ExportRefusal::NoFolder, false},
        {HiveFile(HKEY_LOCAL_MACHINE), ExportRefusal::StoreFile, false}, // nothing stored yet
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path.string());
        const ExportTarget before = CheckExportFile(c.path.string());
        EXPECT_EQ(before.refusal, c.refusal);
        EXPECT_EQ(before.exists, c.exists);
        const ExportTarget written = WriteExportFile(c.path.string(), "a,b\r\n");
        EXPECT_EQ(written.refusal, c.refusal);
        if (c.refusal == ExportRefusal::None) {
            std::ifstream in(c.path, std::ios::binary);
            EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "a,b\r\n");
        }
    }
    std::ifstream in(kept);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "old");
    EXPECT_TRUE(fs::is_symlink(folder / "link.csv"));
}

mode_t ModeOf(const std::filesystem::path& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

std::string Contents(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// A file whose mode grants nobody write is read-only for everyone, root too: an export does not
// put a new file in its place because the folder would let it. A file the user may write is
// replaced with its mode kept, so an export over a private file stays private.
TEST_F(HistoryTest, AReadOnlyFileIsNeverReplacedAndAWritableOneKeepsItsMode) {
    namespace fs = std::filesystem;
    const fs::path folder = StoreFolder().parent_path() / "exports";
    fs::remove_all(folder);
    fs::create_directories(folder);
    const fs::path readOnly = folder / "read-only.csv";
    std::ofstream(readOnly) << "keep";
    ASSERT_EQ(::chmod(readOnly.c_str(), 0444), 0);
    const fs::path personal = folder / "personal.csv";
    std::ofstream(personal) << "old";
    ASSERT_EQ(::chmod(personal.c_str(), 0600), 0);

    EXPECT_EQ(CheckExportFile(readOnly.string()).refusal, ExportRefusal::ReadOnlyFile);
    EXPECT_EQ(WriteExportFile(readOnly.string(), "new").refusal, ExportRefusal::ReadOnlyFile);
    EXPECT_EQ(Contents(readOnly), "keep");
    EXPECT_EQ(ModeOf(readOnly), 0444u);

    EXPECT_TRUE(WriteExportFile(personal.string(), "new").ok());
    EXPECT_EQ(Contents(personal), "new");
    EXPECT_EQ(ModeOf(personal), 0600u);
    // Nothing is left beside them.
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 2);
}

// An ordinary user (the test drops to "nobody" when it runs as root) may not replace another
// user's file, neither in a folder of its own, where the rename would go through, nor in one it
// may not write; nor make a file where it may not. Its own file is replaced.
TEST_F(HistoryTest, AnOrdinaryUserReplacesOnlyWhatItMayWrite) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to make files of two users";
    namespace fs = std::filesystem;
    constexpr uid_t kNobody = 65534;
    const fs::path base = StoreFolder().parent_path() / "users";
    fs::remove_all(base);
    fs::create_directories(base / "nobody's");
    fs::create_directories(base / "root's");
    ASSERT_EQ(::chmod(base.c_str(), 0755), 0);
    ASSERT_EQ(::chown((base / "nobody's").c_str(), kNobody, kNobody), 0);
    ASSERT_EQ(::chmod((base / "nobody's").c_str(), 0755), 0);
    ASSERT_EQ(::chmod((base / "root's").c_str(), 0755), 0);
    const auto make = [](const fs::path& file, uid_t owner, mode_t mode) {
        std::ofstream(file) << "before";
        EXPECT_EQ(::chown(file.c_str(), owner, owner), 0);
        EXPECT_EQ(::chmod(file.c_str(), mode), 0);
    };
    make(base / "nobody's" / "root's.csv", 0, 0644);
    make(base / "nobody's" / "own.csv", kNobody, 0600);
    make(base / "root's" / "root's.csv", 0, 0644);
    make(base / "root's" / "everyone's.csv", 0, 0666);
    struct Case {
        fs::path path;
        ExportRefusal refusal;
    };
    const Case cases[] = {
        {base / "nobody's" / "root's.csv", ExportRefusal::ReadOnlyFile},
        {base / "root's" / "root's.csv", ExportRefusal::ReadOnlyFile},
        {base / "root's" / "everyone's.csv", ExportRefusal::ReadOnlyFolder},
        {base / "root's" / "new.csv", ExportRefusal::ReadOnlyFolder},
        {base / "nobody's" / "own.csv", ExportRefusal::None},
        {base / "nobody's" / "new.csv", ExportRefusal::None},
    };
    const std::string failures = InChildProcess([&]() -> std::string {
        if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)
            return "cannot become an ordinary user";
        std::string failed;
        for (const Case& c : cases) {
            const ExportTarget checked = CheckExportFile(c.path.string());
            const ExportTarget written = WriteExportFile(c.path.string(), "after");
            if (checked.refusal != c.refusal || written.refusal != c.refusal)
                failed += c.path.string() + ": refusal " +
                          std::to_string(static_cast<int>(written.refusal)) + "; ";
        }
        return failed;
    });
    EXPECT_EQ(failures, "");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path.string());
        EXPECT_EQ(Contents(c.path), c.refusal == ExportRefusal::None ? "after"
                                    : fs::exists(c.path)             ? "before"
                                                                     : "");
    }
    struct stat st {};
    ASSERT_EQ(::stat((base / "nobody's" / "root's.csv").c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 0u) << "the other user's file is still the one it was";
}

// Root may write any file and folder whose mode grants someone write, as the kernel lets it; a
// file it replaces keeps its owner and mode. A folder whose mode grants nobody write is
// read-only for root too, as a file is.
TEST_F(HistoryTest, RootReplacesAnotherUsersFileAsItsOwnersAndLeavesAReadOnlyFolderAlone) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "root's own rules";
    namespace fs = std::filesystem;
    constexpr uid_t kNobody = 65534;
    const fs::path base = StoreFolder().parent_path() / "root";
    fs::remove_all(base);
    fs::create_directories(base / "sealed");
    const fs::path theirs = base / "theirs.csv";
    std::ofstream(theirs) << "before";
    ASSERT_EQ(::chown(theirs.c_str(), kNobody, kNobody), 0);
    ASSERT_EQ(::chmod(theirs.c_str(), 0600), 0);
    ASSERT_EQ(::chmod((base / "sealed").c_str(), 0555), 0);

    EXPECT_TRUE(WriteExportFile(theirs.string(), "after").ok());
    EXPECT_EQ(Contents(theirs), "after");
    struct stat st {};
    ASSERT_EQ(::stat(theirs.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, kNobody);
    EXPECT_EQ(st.st_gid, kNobody);
    EXPECT_EQ(st.st_mode & 07777, 0600u);

    EXPECT_EQ(WriteExportFile((base / "sealed" / "new.csv").string(), "x").refusal,
              ExportRefusal::ReadOnlyFolder);
    EXPECT_FALSE(fs::exists(base / "sealed" / "new.csv"));
}

// A history whose version cannot be read is damaged, not empty: opening it says so, with the
// rows it holds, and no row is written into it.
TEST_F(HistoryTest, ADamagedVersionIsSaidNotReadAsAnEmptyHistory) {
    struct Case {
        const char* sql;
        const char* why;
    };
    const Case cases[] = {
        {"DELETE FROM usage_history_version", "its version row is missing (it holds 3 rows)"},
        {"UPDATE usage_history_version SET version = -1", "its version is -1 (it holds 3 rows)"},
        {"UPDATE usage_history_version SET version = 0", "its version is 0 (it holds 3 rows)"},
        {"UPDATE usage_history_version SET version = 'one'",
         "its version is \"one\", not a whole number (it holds 3 rows)"},
        {"UPDATE usage_history_version SET version = 1.5",
         "its version is \"1.5\", not a whole number (it holds 3 rows)"},
        {"INSERT INTO usage_history_version VALUES('x')",
         "its version is \"x\", not a whole number (it holds 3 rows)"},
        {"DROP TABLE usage_history_version", "its version table is missing (it holds 3 rows)"},
        {"DROP TABLE usage_history", "its table of rows is missing"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sql);
        std::filesystem::remove_all(StoreFolder());
        ASSERT_TRUE(EnsureStoreFolder());
        for (int day = 14; day <= 16; ++day)
            Append(Row("Dial Net", At(2026, 1, day, 9), 100));
        ASSERT_EQ(EditByHand("machine.db", c.sql), "");
        std::string why;
        EXPECT_FALSE(UsageHistory::Open(&why));
        EXPECT_THAT(why, testing::HasSubstr(std::string("the usage history is damaged: ") + c.why));
        why.clear();
        EXPECT_FALSE(AppendSessionRow(Row("Dial Net", At(2026, 1, 17, 9), 100), &why));
        EXPECT_THAT(why, testing::HasSubstr(c.why));
    }
}

// A value of the wrong type in a row is never summed as 0 nor shown as something else: a read
// that reaches the row is refused, naming the row, the column and what it holds; a sum is refused
// for a damaged column it sums. Reads of other days still work.
TEST_F(HistoryTest, AValueOfTheWrongTypeRefusesTheReadWithItsRow) {
    struct Case {
        std::string set;
        std::string says;
        bool summed; // a column the days and cycles sum
    };
    const Case cases[] = {
        {"seconds = 'abc'", "holds \"abc\" in seconds, which takes a whole number", true},
        {"inside_peak = 1.5", "holds \"1.5\" in inside_peak, which takes a whole number", true},
        {"outside_peak = x'00'", "holds a blob in outside_peak, which takes a whole number", true},
        {"rx = '12 kB'", "holds \"12 kB\" in rx, which takes a whole number", true},
        {"tx = -3", "holds \"-3\" in tx, which takes a count of bytes", true},
        {"end_offset = 'x'", "holds \"x\" in end_offset, which takes a whole number", false},
        {"ended = 'gone'",
         "holds \"gone\" in ended, which takes stopped, closed, midnight or recovered", false},
    };
    SessionRow victim = Row("Dial Net", At(2026, 1, 15, 8), 100);
    victim.charges = "victim";
    struct Read {
        const char* name;
        bool sums;
        std::function<void(const UsageHistory&)> read;
    };
    const Read reads[] = {
        {"Sessions", false,
         [](const UsageHistory& h) {
             h.Sessions("dial net", EncodeDate(2026, 1, 15), EncodeDate(2026, 1, 16));
         }},
        {"LastSessions", false, [](const UsageHistory& h) { h.LastSessions("Dial Net", 10); }},
        {"Days", true,
         [](const UsageHistory& h) {
             h.Days("Dial Net", EncodeDate(2026, 1, 1), EncodeDate(2026, 2, 1));
         }},
        {"LastCycles", true,
         [](const UsageHistory& h) { h.LastCycles("Dial Net", 1, EncodeDate(2026, 2, 20), 2); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.set);
        std::filesystem::remove_all(StoreFolder());
        ASSERT_TRUE(EnsureStoreFolder());
        Append(Row("Dial Net", At(2026, 1, 14, 8), 100));
        Append(victim);
        Append(Row("Dial Net", At(2026, 2, 20, 8), 400));
        ASSERT_EQ(EditByHand("machine.db", "PRAGMA ignore_check_constraints = ON; "
                                           "UPDATE usage_history SET " +
                                               c.set + " WHERE charges = 'victim'"),
                  "");
        const auto history = OpenHistory();
        ASSERT_TRUE(history);
        for (const Read& read : reads) {
            SCOPED_TRACE(read.name);
            if (read.sums && !c.summed) {
                EXPECT_NO_THROW(read.read(*history));
                continue;
            }
            try {
                read.read(*history);
                ADD_FAILURE() << "read without a complaint";
            } catch (const StoreError& e) {
                EXPECT_THAT(e.what(), testing::HasSubstr("the usage history is damaged: the row of "
                                                         "\"Dial Net\" that starts "
                                                         "2026-01-15T08:00:00+01:00 " +
                                                         c.says));
            }
        }
        // The other days are read as they are.
        const std::vector<DayUsage> february =
            history->Days("Dial Net", EncodeDate(2026, 2, 20), EncodeDate(2026, 2, 21));
        EXPECT_EQ(february[0].sums.seconds, 400);
    }
}

} // namespace
} // namespace quorvane::test
