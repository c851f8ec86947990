// quorvane-usage as a real second process over a fixed store: its reports, its JSON read back
// by Python's json module and its CSV by Python's csv module, its exit codes, and that it reads
// a store whose write lock the program holds.
#include "settings/history.h"
#include "settings/profiles.h"
#include "settings/process.h"
#include "settings/store.h"
#include "settings/store_fixture.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace quorvane::test {
namespace {

// 2026-03-16 18:00 in Central European time; the cycle day is the 15th.
constexpr const char* kNow = "QUORVANE_NOW=2026-03-16T18:00:00";

HistoryMoment CET(int month, int day, int hour, int minute, int second) {
    const std::int64_t local = static_cast<std::int64_t>(
        std::llround((EncodeDate(2026, month, day) - 25569.0) * 86400)) +
        hour * 3600 + minute * 60 + second;
    return {local - 3600, 3600};
}

SessionRow Row(std::string provider, HistoryMoment start, HistoryMoment end, std::int64_t inside,
               std::int64_t outside, std::optional<std::uint64_t> rx,
               std::optional<std::uint64_t> tx, std::string charges, SessionEnd ended) {
    SessionRow row;
    row.provider = std::move(provider);
    row.start = start;
    row.end = end;
    row.seconds = inside + outside;
    row.insidePeak = inside;
    row.outsidePeak = outside;
    row.rx = rx;
    row.tx = tx;
    row.charges = std::move(charges);
    row.ended = ended;
    return row;
}

class UsageTool : public StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        ASSERT_TRUE(SaveProfile("Dial Net", {{"seCycleDay", Variant(15), vkInteger}},
                                {600, 0, 0, 4000}, true));
        const SessionRow rows[] = {
            Row("Dial Net", CET(2, 20, 9, 0, 0), CET(2, 20, 10, 0, 0), 3600, 0, std::nullopt,
                std::nullopt, "$1.20", SessionEnd::Stopped),
            Row("Dial Net", CET(3, 14, 23, 30, 0), CET(3, 15, 0, 0, 4), 0, 1804, 1500000, 250000,
                "$2.40", SessionEnd::Midnight),
            Row("Dial Net", CET(3, 15, 0, 0, 4), CET(3, 15, 0, 30, 0), 0, 1796, 500000, 50000,
                "$3.00", SessionEnd::Stopped),
            Row("Dial Net", CET(3, 16, 8, 0, 0), CET(3, 16, 9, 15, 30), 4530, 0, std::nullopt,
                std::nullopt, "$4,000.50", SessionEnd::Closed),
            Row("Old ISP", CET(3, 16, 12, 0, 0), CET(3, 16, 12, 5, 0), 0, 300, 7, 8,
                "say \"hi\"", SessionEnd::Recovered),
            Row("Caf\xe9", CET(3, 16, 12, 0, 0), CET(3, 16, 12, 5, 0), 0, 300, 7, 8,
                "say \"hi\"", SessionEnd::Recovered),
        };
        for (SessionRow row : rows) {
            // The old provider had no peak period: its seconds are on neither side.
            if (row.provider != "Dial Net")
                row.outsidePeak = 0;
            ASSERT_TRUE(AppendSessionRow(row));
        }
    }

    static ProcessResult Usage(std::vector<std::string> args) {
        args.insert(args.begin(), QUORVANE_USAGE_TOOL);
        return RunProgram(args, {}, [] { putenv(const_cast<char*>(kNow)); });
    }

    // Python reads what the command prints for each case's arguments with the script, which
    // prints what it makes of it.
    struct ReadCase {
        std::vector<std::string> args;
        std::string read;
    };
    static void ExpectRead(const std::string& script, const std::vector<ReadCase>& cases) {
        for (const ReadCase& c : cases) {
            SCOPED_TRACE(testing::PrintToString(c.args));
            const ProcessResult r = Usage(c.args);
            EXPECT_EQ(r.status, 0) << r.err;
            const ProcessResult python =
                RunProgram({QUORVANE_SYSTEM_PYTHON3, "-c", script}, r.out);
            EXPECT_EQ(python.status, 0) << python.err;
            EXPECT_EQ(python.out, c.read) << r.out;
            if (std::find(c.args.begin(), c.args.end(), "--csv") != c.args.end()) {
                // Every line ends in CRLF, as RFC 4180 has it.
                EXPECT_EQ(r.out.find("\n"), r.out.find("\r\n") + 1);
            }
        }
    }
};

// The reports people read, as vnStat prints them: aligned columns, a rule, a totals line, data
// in decimal units; a column shows only where some row has something for it.
TEST_F(UsageTool, TheReportsAreAlignedTablesWithTotals) {
    struct Case {
        std::vector<std::string> args;
        std::string out;
    };
    const Case cases[] = {
        {{},
         "Dial Net, billing cycle from day 15 of the month\n\n"
         "                                      time  in peak  off peak  received    sent    total  sessions\n"
         "  ------------------------------------------------------------------------------------------------\n"
         "  today  2026-03-16                1:15:30  1:15:30   0:00:00         -       -        -         1\n"
         "  cycle  2026-03-15 to 2026-04-14  1:45:26  1:15:30   0:29:56   500 kB*  50 kB*  550 kB*         2\n"
         "  * some of its sessions counted no bytes\n"},
        {{"--days", "3"},
         "Dial Net, billing cycle from day 15 of the month\n\n"
         "  day            time  in peak  off peak  received     sent    total  sessions\n"
         "  ----------------------------------------------------------------------------\n"
         "  2026-03-14  0:30:04  0:00:00   0:30:04    1.5 MB   250 kB  1.75 MB         1\n"
         "  2026-03-15  0:29:56  0:00:00   0:29:56    500 kB    50 kB   550 kB         1\n"
         "  2026-03-16  1:15:30  1:15:30   0:00:00         -        -        -         1\n"
         "  ----------------------------------------------------------------------------\n"
         "  total       2:15:30  1:15:30   1:00:00     2 MB*  300 kB*  2.3 MB*         3\n"
         "  * some of its sessions counted no bytes\n"},
        {{"--cycles=2"},
         "Dial Net, billing cycle from day 15 of the month\n\n"
         "  cycle                        time  in peak  off peak  received     sent     total  sessions\n"
         "  -------------------------------------------------------------------------------------------\n"
         "  2026-02-15 to 2026-03-14  1:30:04  1:00:00   0:30:04   1.5 MB*  250 kB*  1.75 MB*         2\n"
         "  2026-03-15 to 2026-04-14  1:45:26  1:15:30   0:29:56   500 kB*   50 kB*   550 kB*         2\n"
         "  -------------------------------------------------------------------------------------------\n"
         "  total                     3:15:30  2:15:30   1:00:00     2 MB*  300 kB*   2.3 MB*         4\n"
         "  * some of its sessions counted no bytes\n"},
        {{"--sessions", "3"},
         "Dial Net, billing cycle from day 15 of the month\n\n"
         "  start                end                     time  in peak  off peak  received     sent    charges  ended\n"
         "  ------------------------------------------------------------------------------------------------------------\n"
         "  2026-03-14 23:30:00  2026-03-15 00:00:04  0:30:04  0:00:00   0:30:04    1.5 MB   250 kB      $2.40  midnight\n"
         "  2026-03-15 00:00:04  00:30:00             0:29:56  0:00:00   0:29:56    500 kB    50 kB      $3.00  stopped\n"
         "  2026-03-16 08:00:00  09:15:30             1:15:30  1:15:30   0:00:00         -        -  $4,000.50  closed\n"
         "  ------------------------------------------------------------------------------------------------------------\n"
         "  total                3 sessions           2:15:30  1:15:30   1:00:00     2 MB*  300 kB*\n"
         "  * some of its sessions counted no bytes\n"},
        // A deleted provider, named in any letter case: calendar months, no peak period.
        {{"--provider", "old isp"},
         "Old ISP, billing cycle by calendar month\n\n"
         "                                      time  received  sent  total  sessions\n"
         "  -------------------------------------------------------------------------\n"
         "  today  2026-03-16                0:05:00       7 B   8 B   15 B         1\n"
         "  cycle  2026-03-01 to 2026-03-31  0:05:00       7 B   8 B   15 B         1\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        const ProcessResult r = Usage(c.args);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, c.out);
    }
}

TEST_F(UsageTool, JsonIsOneObjectThatAParserReads) {
    const std::string script = R"py(
import json, sys
d = json.load(sys.stdin)
print(d["provider"], d["cycle_day"], sorted(d))
for s in d["sessions"]:
    print(s["provider"], s["start"], s["end"], s["seconds"], s["inside_peak"], s["outside_peak"],
          s["rx"], s["tx"], s["charges"], s["ended"])
for x in d.get("days", []):
    print(x["date"], x["sessions"], x["seconds"], x["rx"], x["tx"], x["bytes_partial"])
for x in d.get("cycles", []):
    print(x["start"], x["end"], x["sessions"], x["seconds"], x["rx"], x["bytes_partial"])
)py";
    ExpectRead(script, {
        {{"--json"},
         "Dial Net 15 ['cycle_day', 'cycles', 'days', 'provider', 'sessions']\n"
         "Dial Net 2026-03-15T00:00:04+01:00 2026-03-15T00:30:00+01:00 1796 0 1796 500000 50000 "
         "$3.00 stopped\n"
         "Dial Net 2026-03-16T08:00:00+01:00 2026-03-16T09:15:30+01:00 4530 4530 0 None None "
         "$4,000.50 closed\n"
         "2026-03-16 1 4530 None None False\n"
         "2026-03-15 2026-04-14 2 6326 500000 True\n"},
        {{"--json", "--sessions", "1", "--cycles", "1", "--days", "1"},
         "Dial Net 15 ['cycle_day', 'cycles', 'days', 'provider', 'sessions']\n"
         "Dial Net 2026-03-16T08:00:00+01:00 2026-03-16T09:15:30+01:00 4530 4530 0 None None "
         "$4,000.50 closed\n"
         "2026-03-16 1 4530 None None False\n"
         "2026-03-15 2026-04-14 2 6326 500000 True\n"},
        // Quotes in a text, and a name whose bytes are not UTF-8, still make valid JSON.
        {{"--json", "--sessions", "--provider", "Old ISP"},
         "Old ISP 0 ['cycle_day', 'provider', 'sessions']\n"
         "Old ISP 2026-03-16T12:00:00+01:00 2026-03-16T12:05:00+01:00 300 0 0 7 8 say \"hi\" "
         "recovered\n"},
        {{"--json", "--sessions", "--provider", "Caf\xe9"},
         "Caf\xef\xbf\xbd 0 ['cycle_day', 'provider', 'sessions']\n"
         "Caf\xef\xbf\xbd 2026-03-16T12:00:00+01:00 2026-03-16T12:05:00+01:00 300 0 0 7 8 "
         "say \"hi\" recovered\n"},
    });
}

TEST_F(UsageTool, CsvIsReadBackByACsvReader) {
    const std::string script = R"py(
import csv, io, sys
for row in csv.reader(io.TextIOWrapper(sys.stdin.buffer, encoding="utf-8", newline="")):
    print("|".join(row))
)py";
    ExpectRead(script, {
        {{"--csv"},
         "provider|start|end|seconds|inside_peak|outside_peak|rx|tx|charges|ended\n"
         "Dial Net|2026-03-15T00:00:04+01:00|2026-03-15T00:30:00+01:00|1796|0|1796|500000|50000|"
         "$3.00|stopped\n"
         "Dial Net|2026-03-16T08:00:00+01:00|2026-03-16T09:15:30+01:00|4530|4530|0|||$4,000.50|"
         "closed\n"},
        {{"--csv", "--sessions", "--provider", "Old ISP"},
         "provider|start|end|seconds|inside_peak|outside_peak|rx|tx|charges|ended\n"
         "Old ISP|2026-03-16T12:00:00+01:00|2026-03-16T12:05:00+01:00|300|0|0|7|8|say \"hi\"|"
         "recovered\n"},
        {{"--csv", "--days", "2"},
         "date|sessions|seconds|inside_peak|outside_peak|rx|tx|bytes_partial\n"
         "2026-03-15|1|1796|0|1796|500000|50000|false\n"
         "2026-03-16|1|4530|4530|0|||false\n"},
        {{"--csv", "--cycles", "2"},
         "start|end|sessions|seconds|inside_peak|outside_peak|rx|tx|bytes_partial\n"
         "2026-02-15|2026-03-14|2|5404|3600|1804|1500000|250000|true\n"
         "2026-03-15|2026-04-14|2|6326|4530|1796|500000|50000|true\n"},
    });
}

TEST_F(UsageTool, ExitCodesSayWhatWentWrong) {
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string err;
    };
    const Case cases[] = {
        {{"--provider", "Nobody"}, 1, "no such provider: \"Nobody\" (the history has"},
        {{"--days", "x"}, 2, "unknown argument \"x\"\nusage: quorvane-usage"},
        {{"--days", "0"}, 2, "--days takes a number from 1 to 36600"},
        {{"--cycles", "--cycles"}, 2, "--cycles is given twice"},
        {{"--json", "--csv"}, 2, "exclude each other"},
        {{"--csv", "--days", "--cycles"}, 2, "one of --days, --cycles and --sessions"},
        {{"--provider"}, 2, "--provider needs a name"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        const ProcessResult r = Usage(c.args);
        EXPECT_EQ(r.status, c.status);
        EXPECT_THAT(r.err, testing::HasSubstr(c.err));
        EXPECT_EQ(r.out, "");
    }
    // No default provider.
    ASSERT_TRUE(SetDefaultProvider(""));
    ProcessResult r = Usage({});
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, testing::HasSubstr("no default provider"));
    // A store that cannot be read: a link in the place of the database, then none at all.
    const std::filesystem::path db = HiveFile(HKEY_LOCAL_MACHINE);
    const std::filesystem::path moved = db.string() + ".elsewhere";
    std::filesystem::rename(db, moved);
    std::filesystem::create_symlink(moved, db);
    r = Usage({});
    EXPECT_EQ(r.status, 3);
    EXPECT_THAT(r.err, testing::HasSubstr("machine.db: it is a symbolic link"));
    std::filesystem::remove_all(StoreFolder());
    r = Usage({});
    EXPECT_EQ(r.status, 3);
    EXPECT_THAT(r.err, testing::HasSubstr("there is no such file"));
    EXPECT_FALSE(std::filesystem::exists(StoreFolder())) << "a read makes nothing";
}

// A text cell that a spreadsheet would run as a formula (OWASP's list: =, +, -, @, tab, CR at its
// start) is written quoted with a leading apostrophe; numbers stay numbers, negative ones too.
// Bytes that are not UTF-8, and NUL, become U+FFFD as in JSON, so the file is valid UTF-8.
TEST_F(UsageTool, CsvCellsAreNeverFormulasAndAlwaysUtf8) {
    const std::string charges[] = {
        "=1+2",    "@SUM(A1)", "+1",   "-x", "\tTab", "\rCR", std::string("A\0B", 3),
        "Caf\xe9", "a \"=b\"", "$0.00"};
    for (int i = 0; i < 10; ++i)
        ASSERT_TRUE(AppendSessionRow(Row("Hostile", CET(3, 16, 13, i, 0), CET(3, 16, 13, i, 30), 0,
                                         i == 9 ? -30 : 30, std::nullopt, std::nullopt, charges[i],
                                         SessionEnd::Stopped)));
    ProcessResult r = Usage({"--csv", "--sessions", "--provider", "Hostile"});
    EXPECT_EQ(r.status, 0) << r.err;
    std::string expected =
        "provider,start,end,seconds,inside_peak,outside_peak,rx,tx,charges,ended\r\n";
    const char* cells[] = {"\"'=1+2\"",        "\"'@SUM(A1)\"", "\"'+1\"",  "\"'-x\"",
                           "\"'\tTab\"",       "\"'\rCR\"",     "A\uFFFDB", "Caf\uFFFD",
                           "\"a \"\"=b\"\"\"", "$0.00"};
    for (int i = 0; i < 10; ++i)
        expected += "Hostile,2026-03-16T13:0" + std::to_string(i) + ":00+01:00,2026-03-16T13:0" +
                    std::to_string(i) + ":30+01:00," + (i == 9 ? "-30,0,-30" : "30,0,30") + ",,," +
                    cells[i] + ",stopped\r\n";
    EXPECT_EQ(r.out, expected);
    // Python reads it as strict UTF-8, and a spreadsheet shows the texts as they were.
    const ProcessResult python = RunProgram({QUORVANE_SYSTEM_PYTHON3, "-c", R"py(
import csv, io, sys
for row in csv.reader(io.TextIOWrapper(sys.stdin.buffer, encoding="utf-8", errors="strict", newline="")):
    print(row[8].encode("unicode_escape").decode())
)py"},
                                            r.out);
    EXPECT_EQ(python.status, 0) << python.err;
    EXPECT_EQ(python.out, "charges\n'=1+2\n'@SUM(A1)\n'+1\n'-x\n'\\tTab\n'\\rCR\nA\\ufffdB\n"
                          "Caf\\ufffd\na \"=b\"\n$0.00\n");

    // The provider's cell, as each of those names.
    for (const std::string name : {"=cmd|' /C calc'!A0", "@home", "+1", "-x", "\tTab", "\rCR"}) {
        SCOPED_TRACE(testing::PrintToString(name));
        ASSERT_TRUE(
            AppendSessionRow(Row(name, CET(3, 16, 14, 0, 0), CET(3, 16, 14, 1, 0), 0, 60,
                                 std::nullopt, std::nullopt, "$0.00", SessionEnd::Stopped)));
        r = Usage({"--csv", "--sessions", "--provider", name});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_THAT(r.out, testing::HasSubstr("\r\n\"'" + name + "\",2026-03-16T14:00:00+01:00,"));
    }
}

// Control characters in a text never reach the terminal: a newline would split the table, an
// ESC sequence would steer the terminal. They are shown escaped, as are bytes that are not UTF-8.
TEST_F(UsageTool, TheTextReportShowsControlCharactersEscaped) {
    // $, NUL, 3: an octal escape ends after three digits.
    const std::string charges[] = {"$1\n00", "\x1b[2J$9", std::string("$\0003", 3), "\u009B31m",
                                   "C:\\x"};
    for (int i = 0; i < 5; ++i) {
        SessionRow row = Row("Tricky", CET(3, 16, 13, i, 0), CET(3, 16, 13, i, 30), 0, 30,
                             std::nullopt, std::nullopt, charges[i], SessionEnd::Stopped);
        row.outsidePeak = 0; // no peak period
        ASSERT_TRUE(AppendSessionRow(row));
    }
    const ProcessResult r = Usage({"--sessions", "--provider", "Tricky"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Tricky, billing cycle by calendar month\n\n"
                     "  start                end            time    charges  ended\n"
                     "  ------------------------------------------------------------\n"
                     "  2026-03-16 13:00:00  13:00:30    0:00:30     $1\\n00  stopped\n"
                     "  2026-03-16 13:01:00  13:01:30    0:00:30  \\x1b[2J$9  stopped\n"
                     "  2026-03-16 13:02:00  13:02:30    0:00:30     $\\x003  stopped\n"
                     "  2026-03-16 13:03:00  13:03:30    0:00:30  \\u009b31m  stopped\n"
                     "  2026-03-16 13:04:00  13:04:30    0:00:30      C:\\\\x  stopped\n"
                     "  ------------------------------------------------------------\n"
                     "  total                5 sessions  0:02:30\n");
}

// A row whose provider name was edited into bytes that are not UTF-8 (its key left as it was):
// the report still finds every row of the provider by the key the rows are stored under, and
// shows the name escaped.
TEST_F(UsageTool, ANameThatIsNotUtf8IsShownEscapedAndHidesNoRow) {
    ASSERT_EQ(EditByHand("machine.db", "UPDATE usage_history SET provider = 'Dial' || x'ff' || "
                                       "' Net' WHERE charges = '$4,000.50'"),
              "");
    ProcessResult r = Usage({});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Dial\\xff Net, billing cycle from day 15 of the month\n\n"
                     "                                      time  in peak  off peak  received    "
                     "sent    total  sessions\n"
                     "  "
                     "-----------------------------------------------------------------------------"
                     "-------------------\n"
                     "  today  2026-03-16                1:15:30  1:15:30   0:00:00         -      "
                     " -        -         1\n"
                     "  cycle  2026-03-15 to 2026-04-14  1:45:26  1:15:30   0:29:56   500 kB*  50 "
                     "kB*  550 kB*         2\n"
                     "  * some of its sessions counted no bytes\n");
    r = Usage({"--provider", "Nobody"});
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, testing::HasSubstr("\"Caf\\xe9\", \"Dial\\xff Net\", \"Old ISP\""));
}

// A damaged history is said, with exit status 3, never reported as empty or summed as if a
// text were 0.
TEST_F(UsageTool, ADamagedHistoryIsSaidWithExitStatus3) {
    struct Case {
        std::string sql;
        std::vector<std::string> args;
        std::string err;
    };
    const std::string damaged = "quorvane-usage: the usage history is damaged: ";
    const std::string row = "the row of \"Dial Net\" that starts 2026-03-16T08:00:00+01:00 ";
    const Case cases[] = {
        {"DELETE FROM usage_history_version", {}, damaged + "its version row is missing"},
        {"UPDATE usage_history_version SET version = -1",
         {"--json"},
         damaged + "its version is -1"},
        {"UPDATE usage_history_version SET version = 'abc'",
         {"--csv"},
         damaged + "its version is \"abc\", not a whole number"},
        {"UPDATE usage_history SET seconds = 'abc' WHERE charges = '$4,000.50'",
         {},
         "the usage history is damaged: " + row + "holds \"abc\" in seconds"},
        {"UPDATE usage_history SET seconds = 'abc' WHERE charges = '$4,000.50'",
         {"--sessions", "2"},
         "the usage history is damaged: " + row + "holds \"abc\" in seconds"},
        {"UPDATE usage_history SET rx = '1.5 MB' WHERE charges = '$4,000.50'",
         {"--cycles", "2"},
         "the usage history is damaged: " + row + "holds \"1.5 MB\" in rx"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sql + " " + testing::PrintToString(c.args));
        SetUp();
        ASSERT_EQ(EditByHand("machine.db", c.sql), "");
        const ProcessResult r = Usage(c.args);
        EXPECT_EQ(r.status, 3);
        EXPECT_THAT(r.err, testing::HasSubstr(c.err));
        EXPECT_EQ(r.out, "");
    }
}

// The program holds the store's write lock in the middle of a save: the report neither waits
// for it nor sees the save's row until it is committed, and leaves the files as they were.
TEST_F(UsageTool, ItReadsWhileTheProgramWritesAndChangesNothing) {
    const auto contents = [] {
        std::string all;
        for (const char* suffix : {"", "-wal"}) {
            std::ifstream in(HiveFile(HKEY_LOCAL_MACHINE).string() + suffix, std::ios::binary);
            all += std::string(std::istreambuf_iterator<char>(in), {});
        }
        return all;
    };
    SessionRow late = Row("Dial Net", CET(3, 16, 17, 0, 0), CET(3, 16, 17, 10, 0), 600, 0,
                          std::nullopt, std::nullopt, "$9.00", SessionEnd::Stopped);
    {
        StoreTransaction save(HKEY_LOCAL_MACHINE);
        ASSERT_TRUE(save.ok());
        ASSERT_TRUE(AppendSessionRow(late));
        const std::string before = contents();
        const ProcessResult r = Usage({"--sessions", "1"});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_THAT(r.out, testing::HasSubstr("2026-03-16 08:00:00"));
        EXPECT_EQ(contents(), before);
        save.Commit();
    }
    const ProcessResult r = Usage({"--sessions", "1"});
    EXPECT_THAT(r.out, testing::HasSubstr("2026-03-16 17:00:00"));
}

} // namespace
} // namespace quorvane::test
