// The store between processes: what one process writes the next read of another sees, writers
// of several processes do not lose each other's writes, and a writer killed at any moment leaves
// a sound store with every write it had reported done.

#include "tests/settings/process.h"
#include "tests/settings/store_fixture.h"

#include <sqlite3.h>

#include <algorithm>
#include <csignal>
#include <poll.h>
#include <random>
#include <set>
#include <thread>

namespace quorvane::test {
namespace {

class ProcessesTest : public StoreTest {};

std::string IntegrityCheck() {
    sqlite3* raw = nullptr;
    // Opened as the next writer opens it: a writer killed while it set the store up may leave
    // a journal that only a connection allowed to write rolls back.
    if (sqlite3_open_v2((StoreFolder() / "machine.db").c_str(), &raw, SQLITE_OPEN_READWRITE,
                        nullptr) != SQLITE_OK) {
        sqlite3_close(raw);
        return "cannot open";
    }
    std::unique_ptr<sqlite3, decltype(&sqlite3_close)> db(raw, &sqlite3_close);
    std::string result;
    if (sqlite3_exec(
            db.get(), "PRAGMA integrity_check; PRAGMA foreign_key_check;",
            [](void* out, int, char** values, char**) {
                *static_cast<std::string*>(out) +=
                    std::string(values[0] ? values[0] : "NULL") + ";";
                return 0;
            },
            &result, nullptr) != SQLITE_OK)
        result += std::string("failed: ") + sqlite3_errmsg(db.get());
    return result;
}

std::string PeerPath(const std::string& prefix, long i) {
    return "Peer\\" + prefix + "\\K" + std::to_string(i % 5) + (i % 3 ? "\\Deep" : "") + "\\v" +
           std::to_string(i);
}

// Reads of this process keep no old snapshot: each one sees the other process's last write.
TEST_F(ProcessesTest, EachSideSeesTheOthersWriteAtOnce) {
    const std::string key = "HKLM\\Software\\Morvath Software\\Quorvane v4.8\\Providers\\Dial Net";
    const std::string path = "Software\\Morvath Software\\Quorvane v4.8\\Providers\\Dial Net\\";
    for (int round = 0; round < 5; ++round) {
        ASSERT_TRUE(
            WriteValueByPath(HKEY_LOCAL_MACHINE, path + "Today", Variant(round * 2), vkInteger));
        const ProcessResult seen = Reg({"query", key, "/v", "Today"});
        ASSERT_EQ(seen.status, 0) << seen.err;
        EXPECT_NE(seen.out.find("Today    REG_DWORD    0x" + std::to_string(round * 2)),
                  std::string::npos)
            << seen.out;

        const ProcessResult added = Reg({"add", key, "/v", "Today", "/t", "REG_DWORD", "/d",
                                         std::to_string(round * 2 + 1), "/f"});
        ASSERT_EQ(added.status, 0) << added.err;
        Variant today;
        ReadValueByPath(HKEY_LOCAL_MACHINE, path + "Today", vkInteger, today);
        EXPECT_EQ(today, Variant(round * 2 + 1));
        std::vector<std::string> names;
        GetValueNamesByPath(HKEY_LOCAL_MACHINE, path, names);
        EXPECT_EQ(names.size(), 1u);
    }
    // A key deleted by the other process is gone for this one too.
    ASSERT_EQ(Reg({"delete", key, "/f"}).status, 0);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, path));
}

// Several processes that find no store yet all set it up at the same moment; each must get a
// working store, none a refusal.
TEST_F(ProcessesTest, ProcessesStartingOnAFreshStoreTogether) {
    for (int round = 0; round < 8; ++round) {
        std::filesystem::remove_all(StoreFolder());
        std::vector<std::thread> runs;
        std::vector<ProcessResult> results(4);
        for (int p = 0; p < 4; ++p)
            runs.emplace_back([&, p] {
                results[p] = Reg({"add", "HKLM\\Fresh", "/v", "v" + std::to_string(p), "/t",
                                  "REG_DWORD", "/d", std::to_string(p), "/f"});
            });
        for (std::thread& t : runs)
            t.join();
        for (int p = 0; p < 4; ++p) {
            ASSERT_EQ(results[p].status, 0) << "round " << round << ": " << results[p].err;
            EXPECT_TRUE(ValueExistsByPath(HKEY_LOCAL_MACHINE, "Fresh\\v" + std::to_string(p)));
        }
    }
}

TEST_F(ProcessesTest, ConcurrentWritersLoseNothing) {
    constexpr int kCount = 40;
    std::vector<std::thread> runs;
    std::vector<ProcessResult> results(3);
    for (int p = 0; p < 3; ++p)
        runs.emplace_back([&, p] {
            results[p] = RunProgram(
                {QUORVANE_STORE_PEER, "write", "P" + std::to_string(p), std::to_string(kCount)});
        });
    for (std::thread& t : runs)
        t.join();
    for (int p = 0; p < 3; ++p) {
        ASSERT_EQ(results[p].status, 0) << results[p].err;
        for (long i = 0; i < kCount; ++i) {
            Variant v;
            ReadValueByPath(HKEY_LOCAL_MACHINE, PeerPath("P" + std::to_string(p), i), vkInteger, v);
            EXPECT_EQ(v, Variant(static_cast<int>(i))) << p << " " << i;
        }
    }
    EXPECT_EQ(IntegrityCheck(), "ok;");
}

// A writer killed at random moments: every write it reported is there, and the store passes
// SQLite's integrity check and opens for the next writer.
TEST_F(ProcessesTest, KilledWriterLosesNoAcknowledgedWrite) {
    std::mt19937 random(20240601);
    std::set<long> acknowledged[12];
    for (int round = 0; round < 12; ++round) {
        int fds[2];
        ASSERT_EQ(::pipe(fds), 0);
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::dup2(fds[1], STDOUT_FILENO);
            ::close(fds[0]);
            ::close(fds[1]);
            const std::string prefix = "R" + std::to_string(round);
            ::execl(QUORVANE_STORE_PEER, QUORVANE_STORE_PEER, "write", prefix.c_str(), "0",
                    static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(fds[1]);
        std::string text;
        char buf[4096];
        ssize_t n;
        // The first rounds kill it at once, mostly before its first write (it may be setting
        // up the store); the others once it has reported a random number of writes, so the
        // kill meets it somewhere inside the next one. Events, not time, pick the moment.
        if (round >= 2) {
            const auto wanted = static_cast<std::ptrdiff_t>(1 + random() % 40);
            while (std::count(text.begin(), text.end(), '\n') < wanted &&
                   (n = ::read(fds[0], buf, sizeof buf)) > 0)
                text.append(buf, static_cast<std::size_t>(n));
            ASSERT_GE(std::count(text.begin(), text.end(), '\n'), wanted)
                << "the writer ended before its writes were reported";
        }
        ::kill(pid, SIGKILL);
        int status = 0;
        ::waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the writer stopped on its own: " << status;
        while ((n = ::read(fds[0], buf, sizeof buf)) > 0)
            text.append(buf, static_cast<std::size_t>(n));
        ::close(fds[0]);
        // Only whole lines were reported; a line cut by the kill does not count.
        std::size_t start = 0, end;
        while ((end = text.find('\n', start)) != std::string::npos) {
            acknowledged[round].insert(std::stol(text.substr(start, end - start)));
            start = end + 1;
        }

        if (!std::filesystem::exists(StoreFolder() / "machine.db")) {
            // Killed before it got as far as creating the store.
            ASSERT_TRUE(acknowledged[round].empty());
            continue;
        }
        ASSERT_EQ(IntegrityCheck(), "ok;") << "round " << round;
        for (int r = 0; r <= round; ++r) {
            const std::string prefix = "R" + std::to_string(r);
            for (const long i : acknowledged[r]) {
                Variant v;
                ReadValueByPath(HKEY_LOCAL_MACHINE, PeerPath(prefix, i), vkInteger, v);
                ASSERT_EQ(v, Variant(static_cast<int>(i))) << prefix << " value " << i;
            }
            if (!acknowledged[r].empty()) {
                Variant last;
                ReadValueByPath(HKEY_LOCAL_MACHINE, "Peer\\" + prefix + "\\Last", vkInteger, last);
                EXPECT_GE(last.toInt(), *acknowledged[r].rbegin());
            }
        }
    }
    std::size_t total = 0;
    for (const auto& a : acknowledged)
        total += a.size();
    RecordProperty("acknowledged", static_cast<int>(total));
}

} // namespace
} // namespace quorvane::test
