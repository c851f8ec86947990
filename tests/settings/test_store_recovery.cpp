// The store after a stumble: permissions taken and given back, keys nested deeper than the
// registry allows, rows that a damaged or hand-edited store may hold, and what a killed export
// leaves behind.

#include "settings/regfile.h"
#include "core/text_codec.h"
#include "tests/settings/process.h"
#include "tests/settings/store_fixture.h"
#include "tests/support/files.h"

#include <sqlite3.h>

#include <fstream>
#include <grp.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace quorvane::test {
namespace {

using ::testing::HasSubstr;

class RecoveryTest : public StoreTest {};

mode_t ModeOf(const std::filesystem::path& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

// Runs `steps` in a child process, as an ordinary user when the test runs as root (file modes
// do not bind root), with the store folder handed to that user. Answers what went wrong.
std::string AsPlainUser(const std::function<std::string()>& steps) {
    constexpr uid_t kNobody = 65534;
    const bool root = ::geteuid() == 0;
    if (root) {
        for (const auto& entry : std::filesystem::recursive_directory_iterator(StoreFolder()))
            if (::chown(entry.path().c_str(), kNobody, kNobody) != 0)
                return "cannot hand over " + entry.path().string();
        if (::chown(StoreFolder().c_str(), kNobody, kNobody) != 0)
            return "cannot hand over the store folder";
    }
    return InChildProcess([&]() -> std::string {
        if (root &&
            (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0))
            return "cannot become an ordinary user";
        return steps();
    });
}

// A user makes the store read-only, reads it, and gives the permission back: the -wal and
// -shm files that the read left behind read-only must not keep every later write out, neither
// for a new process nor for one that has had the store open all along.
TEST_F(RecoveryTest, ReadOnlyStoreIsWritableAgainOncePermissionIsBack) {
    const std::filesystem::path db = HiveFile(HKEY_CURRENT_USER);
    const std::string failure = AsPlainUser([&]() -> std::string {
        const auto reg = [](std::vector<std::string> args) {
            const ProcessResult r = Reg(std::move(args));
            return r.status == 0 ? std::string() : r.err + " ";
        };
        // Made by a process that has ended, so that no connection keeps -wal and -shm.
        std::string failed = reg({"add", "HKCU\\K", "/v", "a", "/d", "1", "/f"});
        ::chmod(db.c_str(), 0400);
        failed += reg({"query", "HKCU\\K"});
        if (ModeOf(db.string() + "-shm") != 0400)
            return "the read-only read left no read-only -shm behind: nothing is tested";
        ::chmod(db.c_str(), 0600);
        failed += reg({"add", "HKCU\\K", "/v", "b", "/d", "2", "/f"});
        failed += reg({"query", "HKCU\\K", "/v", "b"});

        // This process finds the store read-only and keeps its connection.
        ::chmod(db.c_str(), 0400);
        if (ReadStringByPath(HKEY_CURRENT_USER, "K\\b") != "2")
            failed += "the read-only store cannot be read ";
        if (WriteValueByPath(HKEY_CURRENT_USER, "K\\c", Variant(3), vkInteger))
            failed += "a read-only store took a write ";
        ::chmod(db.c_str(), 0600);
        if (!WriteValueByPath(HKEY_CURRENT_USER, "K\\c", Variant(3), vkInteger))
            failed += "the write after the permission came back was refused ";
        return failed;
    });
    EXPECT_EQ(failure, "");
    EXPECT_TRUE(ValueExistsByPath(HKEY_CURRENT_USER, "K\\c"));
}

TEST_F(RecoveryTest, LooseModesAreMadePrivateAgain) {
    ASSERT_TRUE(WriteValueByPath(HKEY_LOCAL_MACHINE, "K\\a", Variant(1), vkInteger));
    const std::filesystem::path db = HiveFile(HKEY_LOCAL_MACHINE);
    // This process keeps the store open, so -wal and -shm are there too.
    const std::vector<std::filesystem::path> files = {db, db.string() + "-wal",
                                                      db.string() + "-shm"};
    ASSERT_EQ(::chmod(StoreFolder().c_str(), 0755), 0);
    for (const auto& file : files)
        ASSERT_EQ(::chmod(file.c_str(), 0644), 0) << file;
    ASSERT_EQ(Reg({"query", "HKLM\\K"}).status, 0);
    EXPECT_EQ(ModeOf(StoreFolder()), 0700u);
    for (const auto& file : files)
        EXPECT_EQ(ModeOf(file), 0600u) << file;
}

// quorvane-reg run on the store folder `home` instead of the test's own.
ProcessResult RegIn(const std::filesystem::path& home, std::vector<std::string> args) {
    args.insert(args.begin(), QUORVANE_REG_TOOL);
    return RunProgram(args, {}, [&] { ::setenv("QUORVANE_HOME", home.c_str(), 1); });
}

// What stands where the store's folder or files belong but is not the store's own keeps its
// mode, nothing is written through a link, and a store file that is not a regular file is
// refused by its name. The file that links lead to is one of the test's own, in the part that
// /etc/passwd plays for root.
TEST_F(RecoveryTest, NothingButTheStoresOwnFilesIsChanged) {
    namespace fs = std::filesystem;
    const fs::path target = StoreFolder() / "passwd";
    const std::string targetText = "root:x:0:0:root:/root:/bin/sh\n";
    const fs::path nothing = StoreFolder() / "nothing";
    const fs::path home = StoreFolder() / "case";
    const fs::path db = home / "machine.db";
    const auto makeStore = [&] { ASSERT_EQ(RegIn(home, {"add", "HKLM\\K", "/f"}).status, 0); };
    struct Case {
        const char* what;
        std::function<void()> make; // after `home` is made as an empty folder of mode 0700
        int status;
        fs::path named; // what the error names; empty when the command succeeds
        std::vector<std::pair<fs::path, mode_t>> modes; // as `make` left them
    } cases[] = {
        {"the database a link to a file", [&] { fs::create_symlink(target, db); }, 1, db, {}},
        {"the database a link to nothing", [&] { fs::create_symlink(nothing, db); }, 1, db, {}},
        {"the database a folder", [&] { fs::create_directory(db); ::chmod(db.c_str(), 0755); },
         1, db, {{db, 0755}}},
        {"the database a pipe", [&] { ::mkfifo(db.c_str(), 0644); }, 1, db, {{db, 0644}}},
        {"the database another name of a file", [&] { fs::create_hard_link(target, db); }, 1,
         db, {}},
        {"the write-ahead log a link to a file",
         [&] {
             makeStore();
             fs::create_symlink(target, db.string() + "-wal");
         },
         1, db.string() + "-wal", {}},
        {"the shared-memory file a link to a file",
         [&] {
             makeStore();
             fs::create_symlink(target, db.string() + "-shm");
         },
         1, db.string() + "-shm", {}},
        {"the store folder a shared one", [&] { ::chmod(home.c_str(), 01777); }, 0, {},
         {{home, 01777}}},
        {"the store folder a link to a folder",
         [&] {
             fs::remove(home);
             fs::create_directory(StoreFolder() / "real");
             ::chmod((StoreFolder() / "real").c_str(), 0755);
             fs::create_directory_symlink(StoreFolder() / "real", home);
         },
         0, {}, {{StoreFolder() / "real", 0755}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (const fs::path& made : {home, StoreFolder() / "real", nothing, target})
            fs::remove_all(made);
        std::ofstream(target) << targetText;
        ASSERT_EQ(::chmod(target.c_str(), 0644), 0);
        fs::create_directory(home);
        ASSERT_EQ(::chmod(home.c_str(), 0700), 0);
        c.make();
        const ProcessResult r = RegIn(home, {"add", "HKLM\\K", "/v", "v", "/d", "x", "/f"});
        EXPECT_EQ(r.status, c.status) << r.err;
        if (!c.named.empty())
            EXPECT_THAT(r.err, HasSubstr(c.named.string())) << "names what it refuses";
        else
            EXPECT_EQ(ModeOf(db), 0600u);
        for (const auto& [path, mode] : c.modes)
            EXPECT_EQ(ModeOf(path), mode) << path;
        EXPECT_EQ(ModeOf(target), 0644u);
        EXPECT_EQ(ReadBytes(target), targetText);
        EXPECT_FALSE(fs::exists(nothing)) << "created through a link";
    }
}

// A hive's file that cannot be used is told by a code, the same by a look at the files alone, by
// the open of the program's connection and by the read-only connection, and is left exactly as it
// was, its mode too. A missing or empty file is a new store; an empty one reads as one and stays
// empty.
TEST_F(RecoveryTest, WhatKeepsAHiveFromBeingUsedIsToldByItsCode) {
    namespace fs = std::filesystem;
    const fs::path base = StoreFolder();
    const auto sql = [](const fs::path& file, const std::string& statements) {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
        EXPECT_EQ(sqlite3_exec(db, statements.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);
    };
    const auto replace = [](const fs::path& file, const std::string& text) {
        fs::remove(file);
        std::ofstream(file) << text;
    };
    struct Case {
        const char* what;
        std::function<void(const fs::path& db)> make; // on a store with a key in it
        StoreFault fault;
        const char* file; // what the problem names, beside the database
    } cases[] = {
        {"a store", [](const fs::path&) {}, StoreFault::None, ""},
        {"no file", [](const fs::path& db) { fs::remove(db); }, StoreFault::None, ""},
        {"an empty file", [&](const fs::path& db) { replace(db, ""); }, StoreFault::None, ""},
        {"cut short", [](const fs::path& db) { fs::resize_file(db, fs::file_size(db) / 2); },
         StoreFault::CutShort, ""},
        {"cut short in its header", [](const fs::path& db) { fs::resize_file(db, 40); },
         StoreFault::CutShort, ""},
        {"text", [&](const fs::path& db) { replace(db, "not a database\n"); },
         StoreFault::NotADatabase, ""},
        {"another program's database",
         [&](const fs::path& db) {
             fs::remove(db);
             sql(db, "CREATE TABLE notes(text)");
         },
         StoreFault::OtherProgram, ""},
        {"another program's marked database",
         [&](const fs::path& db) {
             fs::remove(db);
             sql(db, "PRAGMA application_id = 1234; CREATE TABLE notes(text)");
         },
         StoreFault::OtherProgram, ""},
        {"a newer version's store",
         [&](const fs::path& db) { sql(db, "PRAGMA user_version = 99"); },
         StoreFault::NewerVersion, ""},
        {"a link", [](const fs::path& db) {
             fs::rename(db, db.string() + ".real");
             fs::create_symlink(db.string() + ".real", db);
         },
         StoreFault::Link, ""},
        {"a folder", [](const fs::path& db) {
             fs::remove(db);
             fs::create_directory(db);
         },
         StoreFault::Folder, ""},
        {"a pipe", [](const fs::path& db) {
             fs::remove(db);
             ::mkfifo(db.c_str(), 0600);
         },
         StoreFault::NotRegular, ""},
        {"its log a link", [](const fs::path& db) {
             fs::create_symlink(db.string() + ".real", db.string() + "-wal");
         },
         StoreFault::Link, "-wal"},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const fs::path home = base / ("case" + std::to_string(++n));
        const fs::path db = home / "machine.db";
        ASSERT_EQ(RegIn(home, {"add", "HKLM\\K", "/v", "v", "/d", "x", "/f"}).status, 0);
        ASSERT_EQ(::chmod(db.c_str(), 0640), 0);
        c.make(db);
        ::setenv("QUORVANE_HOME", home.c_str(), 1);
        struct stat before {};
        ::lstat(db.c_str(), &before);
        const std::string bytes = S_ISREG(before.st_mode) ? ReadBytes(db) : "";
        const StoreProblem expected =
            c.fault == StoreFault::None ? StoreProblem{}
                                        : StoreProblem{c.fault, db.string() + c.file, 0};

        EXPECT_EQ(InspectHiveFiles(HKEY_LOCAL_MACHINE), expected)
            << DescribeStoreProblem(InspectHiveFiles(HKEY_LOCAL_MACHINE));
        std::string why;
        StoreProblem read;
        const std::shared_ptr<sqlite3> reader = OpenHiveForReading(HKEY_LOCAL_MACHINE, &why, &read);
        EXPECT_EQ(read, expected) << why;
        if (c.fault == StoreFault::None && fs::exists(db)) {
            ASSERT_TRUE(reader) << why;
            EXPECT_EQ(QueryValueReadOnly(reader.get(), "K", "v").has_value(),
                      std::string(c.what) == "a store");
        }
        if (c.fault != StoreFault::None) {
            EXPECT_EQ(HiveProblem(HKEY_LOCAL_MACHINE), expected);
            struct stat after {};
            ::lstat(db.c_str(), &after);
            EXPECT_EQ(after.st_mode, before.st_mode);
            EXPECT_EQ(after.st_ino, before.st_ino);
            if (S_ISREG(before.st_mode)) {
                EXPECT_EQ(ReadBytes(db), bytes) << "the file was changed";
            }
            EXPECT_FALSE(WriteValueByPath(HKEY_LOCAL_MACHINE, "K\\w", Variant(1), vkInteger));
            EXPECT_FALSE(DescribeStoreProblem(expected).empty());
        } else if (std::string(c.what) == "an empty file") {
            EXPECT_EQ(fs::file_size(db), 0u) << "a read makes nothing";
        }
        ::setenv("QUORVANE_HOME", base.c_str(), 1);
    }
}

// A full disk is told as such, also where SQLite can say no more than "disk I/O error": the
// store exists, but not even its shared-memory file can be had. The disk is a small file system
// of the test's own, mounted in a mount namespace of a second process and filled to the brim.
TEST_F(RecoveryTest, AFullDiskIsToldAsSuch) {
    const std::filesystem::path disk = StoreFolder() / "disk";
    std::filesystem::create_directory(disk);
    const std::string said = InChildProcess([&]() -> std::string {
        if (::unshare(CLONE_NEWNS) != 0 ||
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=256k") != 0)
            return "no mount namespace";
        if (const ProcessResult made = RegIn(disk, {"add", "HKLM\\K", "/v", "v", "/d", "x", "/f"});
            made.status != 0)
            return "the store cannot be made: " + made.err;
        if (std::filesystem::exists(disk / "machine.db-shm"))
            return "the shared-memory file outlived the store's last process: nothing is tested";
        {
            std::ofstream fill(disk / "fill", std::ios::binary);
            const std::string block(4096, 'x');
            while (fill.write(block.data(), block.size()) && fill.flush()) {
            }
        }
        std::string answers;
        for (const std::vector<std::string>& args :
             {std::vector<std::string>{"query", "HKLM\\K", "/v", "v"},
              std::vector<std::string>{"add", "HKLM\\K", "/v", "v", "/d", "y", "/f"}}) {
            const ProcessResult r = RegIn(disk, args);
            answers += args[0] + ": " + std::to_string(r.status) + " " + r.err;
        }
        return answers;
    });
    if (said == "no mount namespace")
        GTEST_SKIP() << "no mount namespace of its own for the second process";
    const std::string full = "cannot open the store " + (disk / "machine.db").string() +
                             ": the disk is full\n";
    EXPECT_EQ(said, "query: 1 ERROR: " + full + "add: 1 ERROR: " + full);
}

std::string DeepPath(std::size_t depth) {
    std::string path = "Deep";
    for (std::size_t level = 1; level < depth; ++level)
        path += "\\k";
    return path;
}

TEST_F(RecoveryTest, KeysDeeperThanTheRegistryAllowsAreRefused) {
    ProcessResult r = Reg({"add", "HKLM\\" + DeepPath(kMaxKeyDepth), "/v", "v", "/f"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, DeepPath(kMaxKeyDepth)));

    r = Reg({"add", "HKLM\\" + DeepPath(kMaxKeyDepth + 1), "/v", "v", "/f"});
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("at most 512 levels"));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, DeepPath(kMaxKeyDepth + 1)));
    EXPECT_FALSE(
        WriteValueByPath(HKEY_LOCAL_MACHINE, DeepPath(kMaxKeyDepth + 1) + "\\v", Variant(1),
                         vkInteger));

    const std::string file = (StoreFolder() / "deep.reg").string();
    std::ofstream(file) << "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Other]\n\"v\"=dword:1\n\n"
                        << "[HKEY_LOCAL_MACHINE\\" << DeepPath(kMaxKeyDepth + 1) << "]\n";
    r = Reg({"import", file});
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("line 6"));
    EXPECT_THAT(r.err, HasSubstr("at most 512 levels"));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, "Other"));
}

// Key names are at most 255 characters, counted as Windows counts them (UTF-16 units), by
// every way a key is made: quorvane-reg add, the path operations and import.
TEST_F(RecoveryTest, KeyNamesLongerThanTheRegistryAllowsAreRefused) {
    const struct {
        const char* what;
        std::string name;
        bool taken;
    } cases[] = {
        {"255 letters", Repeat("n", 255), true},
        {"255 letters of two bytes", Repeat("\xC3\xA9", 255), true},
        {"256 letters", Repeat("n", 256), false},
        {"128 letters beyond the 16-bit range", Repeat("\xF0\x9F\x93\x9E", 128), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = "Long\\" + c.name + "\\Child";
        const ProcessResult r = Reg({"add", "HKLM\\" + path, "/v", "v", "/f"});
        EXPECT_EQ(r.status, c.taken ? 0 : 1) << r.err;
        EXPECT_EQ(WriteValueByPath(HKEY_LOCAL_MACHINE, path + "\\w", Variant(1), vkInteger),
                  c.taken);
        EXPECT_EQ(KeyExists(HKEY_LOCAL_MACHINE, "Long\\" + c.name), c.taken);
        if (!c.taken) {
            EXPECT_THAT(r.err, HasSubstr("key names are at most 255 characters"));
        }

        const std::string file = (StoreFolder() / "long.reg").string();
        std::ofstream(file) << "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Other]\n\n"
                            << "[HKEY_LOCAL_MACHINE\\" << path << "]\n";
        const ProcessResult imported = Reg({"import", file});
        EXPECT_EQ(imported.status, c.taken ? 0 : 1);
        EXPECT_EQ(KeyExists(HKEY_LOCAL_MACHINE, "Other"), c.taken);
        if (!c.taken) {
            EXPECT_THAT(imported.err, HasSubstr("line 5: the key name \"" + c.name.substr(0, 20)));
        }
        DeleteKeyTree(HKEY_LOCAL_MACHINE, "Long");
        DeleteKeyTree(HKEY_LOCAL_MACHINE, "Other");
    }
}

// A key is kept by its parent and its own name, so a store grows with what it holds: the
// deepest key of the longest names, one line of an import, makes a store of a few times its
// size (a store that kept each key's whole path grew with its square, a thousandfold here).
TEST_F(RecoveryTest, AStoreGrowsWithTheFileImported) {
    std::string path = "Deep";
    for (std::size_t level = 1; level < kMaxKeyDepth; ++level)
        path += "\\" + std::string(kMaxKeyNameLength - 4, 'k') + std::to_string(1000 + level);
    const std::filesystem::path file = StoreFolder() / "deep.reg";
    std::ofstream(file) << "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\" << path << "]\n\"v\"=dword:1\n";
    const ProcessResult r = Reg({"import", file.string()});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(ValueExistsByPath(HKEY_LOCAL_MACHINE, path + "\\v"));
    const auto imported = std::filesystem::file_size(file);
    const auto stored = std::filesystem::file_size(HiveFile(HKEY_LOCAL_MACHINE));
    EXPECT_LT(stored, 8 * imported) << imported << " bytes imported";
}

// A store made deeper than the limit by hand (as older versions let an import do) is walked
// by query /s, export and delete with a stack far too small for a walk that recurses per level.
TEST_F(RecoveryTest, WalksOverADeepTreeDoNotRecurse) {
    constexpr int kDepth = 2000;
    ASSERT_TRUE(WriteValueByPath(HKEY_LOCAL_MACHINE, "Other\\v", Variant(1), vkInteger));
    ASSERT_EQ(EditByHand("machine.db",
                         "WITH RECURSIVE chain(n) AS (SELECT 1 UNION ALL "
                         "SELECT n + 1 FROM chain WHERE n < " +
                             std::to_string(kDepth) +
                             ") INSERT INTO keys(id, parent, name, fold) "
                             "SELECT 1000000 + n, CASE n WHEN 1 THEN 1 ELSE 999999 + n END, "
                             "CASE n WHEN 1 THEN 'Deep' ELSE 'k' END, "
                             "CASE n WHEN 1 THEN 'DEEP' ELSE 'K' END FROM chain"),
              "");
    const auto smallStack = [] {
        const rlimit limit{256 * 1024, 256 * 1024};
        ::setrlimit(RLIMIT_STACK, &limit);
    };
    const std::string deepest = "HKEY_LOCAL_MACHINE\\" + DeepPath(kDepth) + "\n";

    ProcessResult r = RunProgram({QUORVANE_REG_TOOL, "query", "HKLM\\Deep", "/s"}, {}, smallStack);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(r.out, HasSubstr(deepest));

    const std::string file = (StoreFolder() / "deep.reg").string();
    r = RunProgram({QUORVANE_REG_TOOL, "export", "HKLM\\Deep", file}, {}, smallStack);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string exported = ReadBytes(file);
    const Bytes bytes(exported.begin(), exported.end());
    const std::string text = Utf16LeToUtf8(bytes.data() + 2, bytes.size() - 2);
    EXPECT_THAT(text, HasSubstr("[" + deepest.substr(0, deepest.size() - 1) + "]\r\n"));
    // Deeper than an import takes: it is refused at the first key past the limit.
    const RegFileParse parsed = ParseRegFile(bytes);
    EXPECT_EQ(parsed.errorLine, 3 + 2 * static_cast<int>(kMaxKeyDepth)) << parsed.error;

    r = RunProgram({QUORVANE_REG_TOOL, "delete", "HKLM\\Deep", "/f"}, {}, smallStack);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, "Deep"));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, "Other"));
}

// Rows that no registry key could be, as a damaged or hand-edited store may hold them: every
// walk stops with an error that names the key, and nothing crashes or runs on forever.
TEST_F(RecoveryTest, DamagedRowsGiveAnErrorNamingTheKey) {
    struct Case {
        const char* what;
        const char* row; // name and folded name of a subkey of HKLM\A\B
        const char* message;
    } cases[] = {
        {"empty name", "'', ''", "a subkey with an empty name"},
        {"backslash in the name", "'x\\y', 'X\\Y'", "holds a backslash"},
        {"folded name of another name", "'C', 'Z'", "a subkey \"C\" filed under another name, \"Z\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DeleteKeyTree(HKEY_LOCAL_MACHINE, "A");
        ASSERT_TRUE(WriteValueByPath(HKEY_LOCAL_MACHINE, "A\\B\\v", Variant(1), vkInteger));
        ASSERT_EQ(EditByHand("machine.db",
                             std::string("INSERT INTO keys(parent, name, fold) SELECT b.id, ") +
                                 c.row + " FROM keys a JOIN keys b ON b.parent = a.id "
                                         "WHERE a.parent = 1 AND a.fold = 'A' AND b.fold = 'B'"),
                  "");
        for (const std::vector<std::string>& args :
             {std::vector<std::string>{"query", "HKLM\\A", "/s"},
              std::vector<std::string>{"export", "HKLM\\A", (StoreFolder() / "a.reg").string(),
                                       "/y"}}) {
            const ProcessResult r = Reg(args);
            EXPECT_EQ(r.status, 1) << args[0] << ": " << r.err;
            EXPECT_THAT(r.err, HasSubstr("the store is damaged: the key HKEY_LOCAL_MACHINE\\A\\B "
                                         "has "))
                << args[0];
            EXPECT_THAT(r.err, HasSubstr(c.message)) << args[0];
        }
        try {
            WalkKeyTree(RegistryKey::Open(HKEY_LOCAL_MACHINE, "A", false), [](auto&) {});
            ADD_FAILURE() << "walked over the damaged row";
        } catch (const StoreError& e) {
            EXPECT_THAT(e.what(), HasSubstr(c.message));
        }
        // The rest of the store is still at hand, and the damaged tree can be deleted.
        EXPECT_EQ(Reg({"query", "HKLM\\A\\B", "/v", "v"}).status, 0);
        EXPECT_TRUE(DeleteKeyTree(HKEY_LOCAL_MACHINE, "A"));
    }
}

// An export killed before it renamed its temporary file leaves that file behind; the next
// export to the same file removes it, and only what is stale and ours.
TEST_F(RecoveryTest, ExportRemovesTheTemporaryFilesOfKilledExports) {
    ASSERT_TRUE(WriteValueByPath(HKEY_LOCAL_MACHINE, "K\\a", Variant(1), vkInteger));
    const std::filesystem::path folder = StoreFolder() / "backups";
    std::filesystem::create_directory(folder);
    // A process that is gone: one that has ended and been waited for.
    const pid_t gone = ::fork();
    if (gone == 0)
        ::_exit(0);
    ASSERT_GT(gone, 0);
    ::waitpid(gone, nullptr, 0);
    const auto temp = [&](const std::string& target, long pid) {
        return folder / ("." + target + ".quorvane-" + std::to_string(pid) + ".tmp");
    };
    const std::filesystem::path stale = temp("backup.reg", gone);
    const std::filesystem::path live = temp("backup.reg", ::getpid());
    const std::filesystem::path otherTarget = temp("other.reg", gone);
    const std::filesystem::path users = folder / ".backup.reg.quorvane-notes.tmp";
    for (const auto& file : {stale, live, otherTarget, users})
        std::ofstream(file) << "half an export";

    const ProcessResult r = Reg({"export", "HKLM\\K", (folder / "backup.reg").string(), "/y"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(std::filesystem::exists(stale));
    EXPECT_TRUE(std::filesystem::exists(live)) << "its process still runs";
    EXPECT_TRUE(std::filesystem::exists(otherTarget)) << "an export to another file";
    EXPECT_TRUE(std::filesystem::exists(users)) << "not a name of ours";
    EXPECT_TRUE(std::filesystem::exists(folder / "backup.reg"));
    std::size_t files = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder))
        ++files;
    EXPECT_EQ(files, 4u) << "the export left a temporary file of its own";
}

} // namespace
} // namespace quorvane::test
