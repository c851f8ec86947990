// A store of the layout in which each key's row kept its whole path, as every version before
// this one wrote it, taken over at its first open: in one transaction, so that a process
// killed at any moment of it leaves the old store as it was, and the next open takes it over.
//
// tests/data/store-whole-paths.db was made by quorvane-reg of that layout (imports, adds and
// deletes, so that it holds a deleted tree, a key deleted last and names whose folded form is
// of another length), and store-whole-paths.reg is that quorvane-reg's export of it.

#include "tests/settings/process.h"
#include "tests/settings/store_fixture.h"
#include "tests/support/files.h"

#include <sqlite3.h>

#include <csignal>
#include <cstdlib>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace quorvane::test {
namespace {

namespace fs = std::filesystem;

fs::path DataFile(const char* name) {
    return fs::path(std::getenv("QUORVANE_TEST_DATA")) / name;
}

class MigrationTest : public StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        fs::copy_file(DataFile("store-whole-paths.db"), db_);
        ASSERT_EQ(::chmod(db_.c_str(), 0600), 0);
    }

    // What a statement gives, each row's columns joined by "|", the rows by ";". Opened as any
    // writer opens it, so that what a killed process left in the log is rolled back first.
    std::string Rows(const std::string& sql) const {
        sqlite3* raw = nullptr;
        const int rc = sqlite3_open_v2(db_.c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr);
        std::unique_ptr<sqlite3, decltype(&sqlite3_close)> db(raw, &sqlite3_close);
        if (rc != SQLITE_OK)
            return "cannot open";
        std::string rows;
        const auto row = [](void* out, int columns, char** values, char**) {
            std::string& text = *static_cast<std::string*>(out);
            for (int i = 0; i < columns; ++i)
                text += std::string(values[i] ? values[i] : "NULL") + (i + 1 < columns ? "|" : ";");
            return 0;
        };
        if (sqlite3_exec(raw, sql.c_str(), row, &rows, nullptr) != SQLITE_OK)
            rows += std::string("failed: ") + sqlite3_errmsg(raw);
        return rows;
    }

    // Everything the old layout holds, row by row.
    std::string OldStore() const {
        return Rows("PRAGMA user_version; PRAGMA integrity_check; "
                    "SELECT id, parent, name, path, fold FROM keys ORDER BY id; "
                    "SELECT id, key, name, fold, type, hex(data) FROM vals ORDER BY id; "
                    "SELECT * FROM sqlite_sequence");
    }

    // The whole machine hive as quorvane-reg exports it, "" when the export fails.
    std::string Exported() const {
        const fs::path file = StoreFolder() / "exported.reg";
        const ProcessResult r = Reg({"export", "HKLM", file.string(), "/y"});
        EXPECT_EQ(r.status, 0) << r.err;
        return r.status == 0 ? ReadBytes(file) : "";
    }

    const fs::path db_ = HiveFile(HKEY_LOCAL_MACHINE);
};

TEST_F(MigrationTest, TakenOverAtTheFirstOpen) {
    EXPECT_EQ(Exported(), ReadBytes(DataFile("store-whole-paths.reg")));
    EXPECT_EQ(Rows("SELECT name FROM pragma_table_info('keys')"), "id;parent;name;fold;");
    // Numbers of deleted keys stay unused, so that no handle of a deleted key ever reaches a
    // key made later.
    EXPECT_EQ(Rows("SELECT seq FROM sqlite_sequence WHERE name = 'keys'"), "21;");
    // Names are found in other letters as before, also those whose folded form has another
    // length ("Kıss" is "KISS", "ſtep" is "STEP").
    EXPECT_EQ(ReadStringByPath(HKEY_LOCAL_MACHINE, "SOFTWARE\\KISS\\STEP"), "long s");
    EXPECT_EQ(Tree(HKEY_LOCAL_MACHINE, "software\\deep\\A\\b\\new"),
              (std::vector<KeyContent>{
                  {"Software\\Deep\\a\\B\\New", {{"", REG_SZ, BytesOf(std::string("x") + '\0')}}}}));
}

// A second process opens the old store and is stopped before each statement in turn and killed
// there. Up to its commit the old store is as it was, row for row; the next open takes it over.
TEST_F(MigrationTest, KilledAtAnyMomentLeavesTheOldStore) {
    const std::string old = OldStore();
    ASSERT_THAT(old, ::testing::StartsWith("1;ok;1|NULL|||;2|1|Software|Software|SOFTWARE;"));
    const std::string exported = ReadBytes(DataFile("store-whole-paths.reg"));
    int killedInside = 0;
    for (int moment = 0;; ++moment) {
        SCOPED_TRACE("killed before statement " + std::to_string(moment));
        for (const char* side : {"-wal", "-shm"})
            fs::remove(db_.string() + side);
        fs::copy_file(DataFile("store-whole-paths.db"), db_, fs::copy_options::overwrite_existing);
        int toPeer[2], fromPeer[2];
        ASSERT_EQ(::pipe(toPeer), 0);
        ASSERT_EQ(::pipe(fromPeer), 0);
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::dup2(toPeer[0], STDIN_FILENO);
            ::dup2(fromPeer[1], STDOUT_FILENO);
            for (const int fd : {toPeer[0], toPeer[1], fromPeer[0], fromPeer[1]})
                ::close(fd);
            ::execl(QUORVANE_STORE_PEER, QUORVANE_STORE_PEER, "open", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(toPeer[0]);
        ::close(fromPeer[1]);
        // Statements as the peer reports them, each one before it runs.
        std::string said, statement;
        // Inside the taking over: from its BEGIN IMMEDIATE up to its COMMIT, that included.
        enum { kBefore, kInside, kAfter } stage = kBefore;
        bool opened = false;
        for (int seen = 0;; ++seen) {
            std::size_t end;
            char buf[4096];
            ssize_t n = 1;
            while ((end = said.find('\n')) == std::string::npos &&
                   (n = ::read(fromPeer[0], buf, sizeof buf)) > 0)
                said.append(buf, static_cast<std::size_t>(n));
            if (end == std::string::npos)
                break; // the peer ended
            statement = said.substr(0, end);
            said.erase(0, end + 1);
            opened = statement == "opened";
            if (stage == kBefore && statement == "BEGIN IMMEDIATE")
                stage = kInside;
            if (opened || seen == moment)
                break;
            if (stage == kInside && statement == "COMMIT")
                stage = kAfter;
            ASSERT_EQ(::write(toPeer[1], "\n", 1), 1);
        }
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        ::close(toPeer[1]);
        ::close(fromPeer[0]);
        ASSERT_FALSE(statement.empty()) << "the peer ended before its first statement";
        if (stage == kInside) {
            ++killedInside;
            EXPECT_EQ(OldStore(), old) << "killed before " << statement;
        }
        EXPECT_EQ(Exported(), exported) << "killed before " << statement;
        if (opened)
            break;
    }
    // The statements of the taking over itself, between its BEGIN and its COMMIT, each had a
    // kill before it.
    EXPECT_GE(killedInside, 4);
}

} // namespace
} // namespace quorvane::test
