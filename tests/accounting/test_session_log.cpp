#include "accounting/session_log.h"

#include "core/clock.h"
#include "core/regional.h"

#include "support/files.h"

#include <gtest/gtest.h>

#include <clocale>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <sys/resource.h>
#include <sys/stat.h>
#include <utility>

namespace quorvane {
namespace {

namespace fs = std::filesystem;

using test::ReadBytes;

void WriteBytes(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

mode_t ModeOf(const fs::path& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

// Lines ending at CR, LF or CR LF, each put back with CR LF: the plain way, to hold the
// chunked copy of the log against.
std::string CrLfLines(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            out += "\r\n";
            if (i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
        } else if (text[i] == '\n') {
            out += "\r\n";
        } else {
            out += text[i];
        }
    }
    if (!text.empty() && text.back() != '\r' && text.back() != '\n')
        out += "\r\n";
    return out;
}

class SessionLogTest : public testing::Test {
protected:
    void SetUp() override {
        Regional() = RegionalSettings{}; // "%m/%d/%Y", "%I:%M:%S %p", "$"
        std::string pattern = (fs::path(testing::TempDir()) / "session-log-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        timers_.InsidePeak = 60;
        timers_.OutsidePeak = 0;
        timers_.Today = 999;
        timers_.TotalTime = 12 * 3600 + 5;
    }
    void TearDown() override {
        fs::remove_all(dir_);
        Regional() = savedRegional_;
    }

    // The folder holds exactly these names: no temporary file was left behind.
    void ExpectFolderHolds(std::initializer_list<std::string> names) {
        std::set<std::string> found;
        for (const auto& entry : fs::directory_iterator(dir_))
            found.insert(entry.path().filename().string());
        EXPECT_EQ(found, std::set<std::string>(names));
    }

    const std::string kLine =
        "03/07/2026  10:00:00 PM  In Peak: 000:01:00  Out Peak: 000:00:00  Total: 012:00:05  "
        "Charges: $1.50";

    RegionalSettings savedRegional_ = Regional();
    ManualClock clock_{EncodeDate(2026, 3, 7) + EncodeTime(22, 0, 0)};
    fs::path dir_;
    TimerSet timers_;
};

TEST_F(SessionLogTest, LineHasTheTotalsInOrderAndNotToday) {
    EXPECT_EQ(SessionLogLine(clock_.Get(), timers_, "$1.50"), kLine);

    Regional().shortDateFormat = "%d.%m.%Y";
    Regional().longTimeFormat = "%H:%M:%S";
    timers_ = TimerSet{false, 3599, 3600000, 0, 360000};
    EXPECT_EQ(SessionLogLine(clock_.Get(), timers_, "€0.00"),
              "07.03.2026  22:00:00  In Peak: 000:59:59  Out Peak: 1000:00:00  Total: "
              "100:00:00  Charges: €0.00");
}

TEST_F(SessionLogTest, FirstSessionCreatesTheFileWithOneLine) {
    const mode_t savedMask = ::umask(027);
    const bool written = WriteSessionLog((dir_ / "usage.log").string(), timers_, "$1.50");
    ::umask(savedMask);

    ASSERT_TRUE(written);
    EXPECT_EQ(ReadBytes(dir_ / "usage.log"), kLine + "\r\n");
    EXPECT_EQ(ModeOf(dir_ / "usage.log"), 0640u); // 0666 less the umask, as for any new file
    ExpectFolderHolds({"usage.log"});
}

TEST_F(SessionLogTest, NewestLineGoesOnTopOfTheEarlierOnes) {
    const std::string log = (dir_ / "usage.log").string();
    ASSERT_TRUE(WriteSessionLog(log, timers_, "$1.50"));
    clock_.AdvanceSeconds(3600);
    timers_.TotalTime += 3600;
    ASSERT_TRUE(WriteSessionLog(log, timers_, "$2.50"));
    clock_.Set(EncodeDate(2026, 3, 8));
    ASSERT_TRUE(WriteSessionLog(log, timers_, "$2.50"));

    EXPECT_EQ(ReadBytes(log),
              "03/08/2026  12:00:00 AM  In Peak: 000:01:00  Out Peak: 000:00:00  Total: "
              "013:00:05  Charges: $2.50\r\n"
              "03/07/2026  11:00:00 PM  In Peak: 000:01:00  Out Peak: 000:00:00  Total: "
              "013:00:05  Charges: $2.50\r\n" +
                  kLine + "\r\n");
}

TEST_F(SessionLogTest, EarlierLinesKeepTheirBytesAndGetCrLf) {
    const struct {
        const char* name;
        std::string before;
        std::string after;
    } cases[] = {
        {"empty file", "", ""},
        {"CR LF lines", "a\r\nb\r\n", "a\r\nb\r\n"},
        {"mixed ends", "a\nb\rc\r\nd", "a\r\nb\r\nc\r\nd\r\n"},
        {"blank lines stay lines", "a\n\nb\r\r\n\r", "a\r\n\r\nb\r\n\r\n\r\n"},
        {"last line without end", "only", "only\r\n"},
        {"LF CR is two ends", "a\n\rb", "a\r\n\r\nb\r\n"},
        {"other bytes untouched", std::string("caf\xE9 \xFF\0x\t \n", 11),
         std::string("caf\xE9 \xFF\0x\t \r\n", 12)},
    };
    const fs::path log = dir_ / "usage.log";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WriteBytes(log, c.before);
        ASSERT_TRUE(WriteSessionLog(log.string(), timers_, "$1.50"));
        EXPECT_EQ(ReadBytes(log), kLine + "\r\n" + c.after);
    }
}

// Long logs are copied in chunks; line ends that straddle a chunk border (a CR LF split in two,
// a lone CR at the very end of a chunk) must come out as they do in one piece.
TEST_F(SessionLogTest, LongLogsCopyLikeShortOnes) {
    const fs::path log = dir_ / "usage.log";
    const char* ends[] = {"\r\n", "\r\n", "\r\n", "\n", "\r", ""};
    for (unsigned seed = 1; seed <= 4; ++seed) {
        SCOPED_TRACE(seed);
        std::mt19937 random(seed);
        std::string old;
        while (old.size() < 600 * 1024) {
            old.append(random() % 130, static_cast<char>('A' + random() % 26));
            // The first log is all CR LF but for the borders below, as most logs are.
            old += ends[seed == 1 ? 0 : random() % std::size(ends)];
        }
        // CR LF and lone CR exactly on the borders of the first chunks.
        old.replace(128 * 1024 - 1, 2, "\r\n");
        old.replace(256 * 1024 - 1, 2, "\rx");
        WriteBytes(log, old);
        ASSERT_TRUE(WriteSessionLog(log.string(), timers_, "$1.50"));
        EXPECT_TRUE(ReadBytes(log) == kLine + "\r\n" + CrLfLines(old));
    }
}

TEST_F(SessionLogTest, KeepsTheFilesPermissions) {
    const fs::path log = dir_ / "usage.log";
    WriteBytes(log, "earlier\r\n");
    ASSERT_EQ(::chmod(log.c_str(), 0604), 0);

    ASSERT_TRUE(WriteSessionLog(log.string(), timers_, "$1.50"));
    EXPECT_EQ(ModeOf(log), 0604u);
    EXPECT_EQ(ReadBytes(log), kLine + "\r\nearlier\r\n");
}

TEST_F(SessionLogTest, ASymlinkStaysALinkAndItsFileIsWritten) {
    fs::create_directory(dir_ / "real");
    WriteBytes(dir_ / "real" / "usage.log", "earlier\r\n");
    fs::create_symlink("real/usage.log", dir_ / "usage.log");
    fs::create_symlink("real/new.log", dir_ / "dangling.log");

    ASSERT_TRUE(WriteSessionLog((dir_ / "usage.log").string(), timers_, "$1.50"));
    ASSERT_TRUE(WriteSessionLog((dir_ / "dangling.log").string(), timers_, "$1.50"));

    EXPECT_TRUE(fs::is_symlink(dir_ / "usage.log"));
    EXPECT_EQ(ReadBytes(dir_ / "real" / "usage.log"), kLine + "\r\nearlier\r\n");
    EXPECT_TRUE(fs::is_symlink(dir_ / "dangling.log"));
    EXPECT_EQ(ReadBytes(dir_ / "real" / "new.log"), kLine + "\r\n");
}

TEST_F(SessionLogTest, UnusableNamesAnswerFalseAndWriteNothing) {
    WriteBytes(dir_ / "plain", "not a folder");
    fs::create_directory(dir_ / "folder");
    fs::create_symlink("loop-b", dir_ / "loop-a");
    fs::create_symlink("loop-a", dir_ / "loop-b");
    // These fail for root as well, whom permission bits would not stop. The reason is the one
    // a notice shows the user; nullptr where only its presence is certain.
    const std::pair<std::string, const char*> names[] = {
        {"", "No log file is named"},
        {(dir_ / "plain" / "usage.log").string(), "Not a directory"}, // the folder is a file
        {(dir_ / "missing" / "usage.log").string(), "No such file or directory"},
        {(dir_ / "folder").string(), "Is a directory"},
        {(dir_ / "loop-a").string(), "Too many levels of symbolic links"},
        {"/proc/self/quorvane-usage.log", nullptr}, // a folder nobody can create files in
    };
    for (const auto& [name, reason] : names) {
        SCOPED_TRACE(name);
        std::string why;
        EXPECT_FALSE(WriteSessionLog(name, timers_, "$1.50", &why));
        if (reason)
            EXPECT_EQ(why, reason);
        else
            EXPECT_FALSE(why.empty());
    }
    ExpectFolderHolds({"plain", "folder", "loop-a", "loop-b"});
    EXPECT_TRUE(fs::is_empty(dir_ / "folder"));
    EXPECT_EQ(ReadBytes(dir_ / "plain"), "not a folder");
}

// Stands in for a full disk: the kernel refuses to let any file of this process grow past
// `bytes` (root included), and the write fails with EFBIG instead of a signal.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        savedHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, savedHandler_);
    }

private:
    rlimit saved_{};
    void (*savedHandler_)(int) = nullptr;
};

TEST_F(SessionLogTest, AFailedWriteLeavesTheOldFileWhole) {
    const fs::path log = dir_ / "usage.log";
    std::string old;
    for (int i = 0; i < 2000; ++i)
        old += "03/06/2026  09:00:00 PM  In Peak: 000:00:00  Out Peak: 001:00:00  Total: "
               "011:00:00  Charges: $1.00\r\n";
    WriteBytes(log, old);

    bool written;
    std::string why;
    {
        const FileSizeLimit diskFull(64 * 1024);
        written = WriteSessionLog(log.string(), timers_, "$1.50", &why);
    }
    EXPECT_FALSE(written);
    EXPECT_EQ(why, "File too large");
    EXPECT_TRUE(ReadBytes(log) == old);
    ExpectFolderHolds({"usage.log"});
}

TEST_F(SessionLogTest, AnUnreadableLogIsNotReplaced) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "root reads every file";
    const fs::path log = dir_ / "usage.log";
    WriteBytes(log, "earlier\r\n");
    ASSERT_EQ(::chmod(log.c_str(), 0200), 0);
    EXPECT_FALSE(WriteSessionLog(log.string(), timers_, "$1.50"));
    ::chmod(log.c_str(), 0600);
    EXPECT_EQ(ReadBytes(log), "earlier\r\n");
    ExpectFolderHolds({"usage.log"});
}

TEST_F(SessionLogTest, WrittenInTheLocalesCharacterSet) {
    // The program takes its locale from the environment at start-up, here C.UTF-8: the
    // program's own UTF-8 goes out as it is.
    ASSERT_NE(std::setlocale(LC_CTYPE, ""), nullptr);
    const std::string charset = SystemCharset();
    const fs::path log = dir_ / "usage.log";
    const bool written = WriteSessionLog(log.string(), timers_, "€1.50");
    std::setlocale(LC_CTYPE, "C");

    EXPECT_EQ(charset, "UTF-8");
    ASSERT_TRUE(written);
    EXPECT_EQ(ReadBytes(log), kLine.substr(0, kLine.size() - 5) + "€1.50\r\n");
}

TEST(FromUtf8, ConvertsToEightBitSets) {
    const struct {
        const char* charset;
        std::string text;
        std::string expected;
    } cases[] = {
        {"UTF-8", "Charges: €1.50 é", "Charges: €1.50 é"},
        {"ISO-8859-1", "Charges: £1.50 café",
         "Charges: \xA3"
         "1.50 caf\xE9"},
        {"ISO-8859-15", "€1.50",
         "\xA4"
         "1.50"},
        {"CP1252", "€1.50",
         "\x80"
         "1.50"},
        {"ISO-8859-1", "¥ 円 x", "\xA5 ? x"}, // no such character: "?"
        {"ISO-8859-1", "a\xFF\xC3z", "a??z"}, // broken UTF-8: "?" a byte
        {"ANSI_X3.4-1968", "€1.50", "€1.50"}, // the C locale: nothing thrown away
        {"NO-SUCH-CHARSET", "€1.50", "€1.50"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.charset);
        EXPECT_EQ(FromUtf8(c.text, c.charset), c.expected);
    }
    // Where the set lacks a character the system may know a stand-in; any stand-in is plain
    // ASCII and the rest of the text is kept.
    const std::string euro = FromUtf8("€1.50", "ISO-8859-1");
    ASSERT_GE(euro.size(), 5u);
    EXPECT_EQ(euro.substr(euro.size() - 4), "1.50");
    for (char ch : euro)
        EXPECT_LT(static_cast<unsigned char>(ch), 0x80);
}

} // namespace
} // namespace quorvane
