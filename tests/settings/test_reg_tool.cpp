// quorvane-reg as a user runs it: what it prints, what it changes, and how it refuses bad input.

#include "core/text_codec.h"
#include "tests/settings/process.h"
#include "tests/settings/store_fixture.h"

#include <csignal>
#include <fstream>
#include <iterator>
#include <sys/stat.h>
#include <sys/wait.h>

namespace quorvane::test {
namespace {

using ::testing::HasSubstr;

const std::string kKey = "HKLM\\Software\\Morvath Software\\Quorvane v4.8\\Providers\\Dial Net";
const std::string kPath = "Software\\Morvath Software\\Quorvane v4.8\\Providers\\Dial Net";

class RegToolTest : public StoreTest {};

Bytes Utf16(std::string_view text) {
    return Utf8ToUtf16Le(text);
}

TEST_F(RegToolTest, AddsEachTypeWithTheRightBytes) {
    struct Case {
        std::vector<std::string> args;
        RegValue stored;
    } cases[] = {
        // Without /v or /ve the key's unnamed value is set, as reg add does.
        {{}, {"", REG_SZ, {0}}},
        {{"/v", "eProv", "/d", "Dial Net"},
         {"eProv", REG_SZ, BytesOf(std::string_view("Dial Net\0", 9))}},
        {{"/v", "Path", "/t", "reg_expand_sz", "/d", "%HOME%"},
         {"Path", REG_EXPAND_SZ, BytesOf(std::string_view("%HOME%\0", 7))}},
        {{"/v", "Today", "/t", "REG_DWORD", "/d", "3725"},
         {"Today", REG_DWORD, {0x8D, 0x0E, 0, 0}}},
        {{"/v", "cbProvider", "/t", "REG_DWORD", "/d", "0xffffffff"},
         {"cbProvider", REG_DWORD, {0xFF, 0xFF, 0xFF, 0xFF}}},
        {{"/v", "seAdjHour", "/t", "REG_DWORD", "/d", "-5"},
         {"seAdjHour", REG_DWORD, {0xFB, 0xFF, 0xFF, 0xFF}}},
        {{"/v", "LastDate", "/t", "REG_BINARY", "/d", "0000000080A2E640"},
         {"LastDate", REG_BINARY, {0, 0, 0, 0, 0x80, 0xA2, 0xE6, 0x40}}},
        {{"/ve", "/d", "default"}, {"", REG_SZ, BytesOf(std::string_view("default\0", 8))}},
        {{"/v", "MRU", "/t", "REG_MULTI_SZ", "/d", "fax\\0mail\\0"},
         {"MRU", REG_MULTI_SZ, Utf16(std::string_view("fax\0mail\0\0", 10))}},
        {{"/v", "Hash", "/t", "REG_MULTI_SZ", "/s", "#", "/d", "a#\xC3\x9Cnet"},
         {"Hash", REG_MULTI_SZ, Utf16(std::string_view("a\0\xC3\x9Cnet\0\0", 9))}},
        {{"/v", "NoStrings", "/t", "REG_MULTI_SZ"}, {"NoStrings", REG_MULTI_SZ, {0, 0, 0, 0}}},
        {{"/v", "Q", "/t", "REG_QWORD", "/d", "0x0102030405060708"},
         {"Q", REG_QWORD, {8, 7, 6, 5, 4, 3, 2, 1}}},
        {{"/v", "QMax", "/t", "reg_qword", "/d", "18446744073709551615"},
         {"QMax", REG_QWORD, Bytes(8, 0xFF)}},
        {{"/v", "QNeg", "/t", "REG_QWORD", "/d", "-2"},
         {"QNeg", REG_QWORD, {0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}}},
        // REG_NONE data is text, kept as Windows keeps it: UTF-16 with its NUL.
        {{"/v", "Marker", "/t", "REG_NONE"}, {"Marker", REG_NONE, {0, 0}}},
        {{"/v", "Raw", "/t", "REG_NONE", "/d", "deadbeef"},
         {"Raw", REG_NONE, Utf16(std::string_view("deadbeef\0", 9))}},
        {{"/v", "Text", "/t", "REG_NONE", "/d", "T\xC3\xA9st"},
         {"Text", REG_NONE, Utf16(std::string_view("T\xC3\xA9st\0", 6))}},
    };
    for (Case& c : cases) {
        std::vector<std::string> args = {"add", kKey};
        args.insert(args.end(), c.args.begin(), c.args.end());
        args.push_back("/f");
        const ProcessResult r = Reg(args);
        EXPECT_EQ(r.status, 0) << c.stored.name << r.err;
        EXPECT_EQ(Stored(HKEY_LOCAL_MACHINE, kPath, c.stored.name), c.stored);
    }
}

TEST_F(RegToolTest, AsksBeforeOverwritingOrDeleting) {
    ASSERT_TRUE(WriteValueByPath(HKEY_LOCAL_MACHINE, kPath + "\\Today", Variant(1), vkInteger));
    ProcessResult r = Reg({"add", kKey, "/v", "today", "/t", "REG_DWORD", "/d", "2"}, "n\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.out, HasSubstr("overwrite"));
    r = Reg({"add", kKey, "/v", "today", "/t", "REG_DWORD", "/d", "2"}); // no answer at all
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(Stored(HKEY_LOCAL_MACHINE, kPath, "Today")->data, (Bytes{1, 0, 0, 0}));
    r = Reg({"add", kKey, "/v", "today", "/t", "REG_DWORD", "/d", "2"}, "yes\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(Stored(HKEY_LOCAL_MACHINE, kPath, "Today")->data, (Bytes{2, 0, 0, 0}));

    r = Reg({"delete", kKey}, "no\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kPath));
    r = Reg({"delete", kKey, "/v", "TODAY"}, "y\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_FALSE(Stored(HKEY_LOCAL_MACHINE, kPath, "Today"));
    r = Reg({"delete", kKey, "/f"});
    EXPECT_EQ(r.status, 0);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kPath));
    EXPECT_TRUE(
        KeyExists(HKEY_LOCAL_MACHINE, "Software\\Morvath Software\\Quorvane v4.8\\Providers"));
}

TEST_F(RegToolTest, QueryShowsValuesAndSubkeysLikeReg) {
    ASSERT_TRUE(
        WriteValueByPath(HKEY_LOCAL_MACHINE, kPath + "\\eProv", Variant("Dial Net"), vkString));
    ASSERT_TRUE(WriteValueByPath(HKEY_LOCAL_MACHINE, kPath + "\\Today", Variant(30), vkInteger));
    ASSERT_TRUE(
        WriteValueByPath(HKEY_LOCAL_MACHINE, kPath + "\\LastDate", Variant::FromDate(1.0), vkDate));
    ASSERT_TRUE(WriteValueByPath(HKEY_LOCAL_MACHINE, kPath + "\\Sub\\x", Variant(1), vkInteger));
    ProcessResult r = Reg({"query", kKey});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string full = "HKEY_LOCAL_MACHINE\\" + kPath;
    EXPECT_EQ(r.out, "\n" + full + "\n" +
                         "    eProv    REG_SZ    Dial Net\n"
                         "    Today    REG_DWORD    0x1e\n"
                         "    LastDate    REG_BINARY    000000000000F03F\n"
                         "\n" +
                         full + "\\Sub\n");
    r = Reg({"query", "hkey_local_machine\\software", "/s"});
    EXPECT_EQ(r.status, 0);
    EXPECT_THAT(r.out, HasSubstr(full + "\\Sub\n    x    REG_DWORD    0x1\n\n"));
    // A blank line ends each key's values, also of a key without subkeys or of one value.
    r = Reg({"query", kKey + "\\Sub"});
    EXPECT_EQ(r.out, "\n" + full + "\\Sub\n    x    REG_DWORD    0x1\n\n");
    r = Reg({"query", kKey, "/v", "today"});
    EXPECT_EQ(r.out, "\n" + full + "\n    Today    REG_DWORD    0x1e\n\n");
    ASSERT_EQ(Reg({"add", kKey, "/v", "m", "/t", "REG_MULTI_SZ", "/d", "a\\0b", "/f"}).status, 0);
    ASSERT_EQ(Reg({"add", kKey, "/v", "q", "/t", "REG_QWORD", "/d", "0x100000000", "/f"}).status,
              0);
    r = Reg({"query", kKey, "/v", "m"});
    EXPECT_THAT(r.out, HasSubstr("    m    REG_MULTI_SZ    a\\0b\n\n"));
    r = Reg({"query", kKey, "/v", "q"});
    EXPECT_THAT(r.out, HasSubstr("    q    REG_QWORD    0x100000000\n\n"));

    r = Reg({"query", kKey, "/v", "Missing"});
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("unable to find"));
    r = Reg({"query", "HKCU\\Nothing\\Here"});
    EXPECT_EQ(r.status, 1);
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, "Nothing")) << "a query never creates";
}

TEST_F(RegToolTest, RefusesBadCommandLines) {
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"frobnicate", kKey},
        {"query"},
        {"query", "HKCR\\Software"},
        {"query", "Software\\Morvath"},
        {"query", kKey, kKey},
        {"add", kKey, "/v", "n", "/t", "REG_DWORD", "/d", "abc"},
        {"add", kKey, "/v", "n", "/t", "REG_DWORD", "/d", "4294967296"},
        {"add", kKey, "/v", "n", "/t", "REG_BINARY", "/d", "123"},
        {"add", kKey, "/v", "n", "/t", "REG_QWORD", "/d", "18446744073709551616"},
        {"add", kKey, "/v", "n", "/t", "REG_QWORD", "/d", "0x"},
        {"add", kKey, "/v", "n", "/t", "REG_DWORD", "/d", " 5"},
        {"add", kKey, "/v", "n", "/t", "REG_LINK", "/d", "x"},
        {"add", kKey, "/v", "n", "/t", "REG_MULTI_SZ", "/d", "a\\0\\0b"},
        {"add", kKey, "/v", "n", "/t", "REG_MULTI_SZ", "/s", "ab", "/d", "a"},
        {"add", kKey, "/v", "n", "/s", "#", "/d", "a"},
        {"add", kKey, "/v"},
        {"query", kKey, "/y"},
        {"export", kKey},
        {"import"},
        // What reg refuses: a switch twice, switches that exclude each other, a hive with a
        // trailing backslash.
        {"query", kKey, "/s", "/S"},
        {"add", kKey, "/v", "a", "/v", "b"},
        {"add", kKey, "/f", "-f"},
        {"add", kKey, "/v", "a", "/ve"},
        {"delete", kKey, "/ve", "/va"},
        {"delete", kKey, "/v", "a", "/va"},
        {"query", "HKLM\\"},
        {"add", "HKEY_CURRENT_USER\\"},
    };
    for (const auto& args : cases) {
        const ProcessResult r = Reg(args);
        std::string line;
        for (const auto& a : args)
            line += a + " ";
        EXPECT_EQ(r.status, 2) << line << "\n" << r.err;
        EXPECT_THAT(r.err, HasSubstr("Invalid syntax")) << line;
    }
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, "Software"))
        << "a refused command changed the store";
    EXPECT_FALSE(Stored(HKEY_CURRENT_USER, "", "")) << "a refused command changed the store";
    EXPECT_EQ(Reg({"/?"}).status, 0);
}

TEST_F(RegToolTest, ReportsAStoreItCannotOpen) {
    std::ofstream(StoreFolder() / "machine.db") << "this is not a database, it is a note to self";
    const ProcessResult r = Reg({"add", kKey, "/v", "x", "/d", "y", "/f"});
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("machine.db"));
    EXPECT_EQ(Reg({"import", (StoreFolder() / "missing.reg").string()}).status, 1);
}

// Export never replaces the store's own files, by whatever name it is given them: the hive
// would be lost with everything in it.
TEST_F(RegToolTest, ExportRefusesTheStoresOwnFiles) {
    namespace fs = std::filesystem;
    ASSERT_TRUE(WriteValueByPath(HKEY_CURRENT_USER, "K\\v", Variant(1), vkInteger));
    ASSERT_TRUE(WriteValueByPath(HKEY_LOCAL_MACHINE, "K\\v", Variant(2), vkInteger));
    fs::create_directory(StoreFolder() / "sub");
    fs::create_directory_symlink(StoreFolder(), StoreFolder() / "alias");
    const fs::path folder = StoreFolder();
    for (const fs::path& target :
         {folder / "user.db", folder / "machine.db", folder / "user.db-wal",
          folder / "machine.db-shm", folder / "user.db-journal", folder / "sub/../user.db",
          folder / "alias/user.db"}) {
        SCOPED_TRACE(target);
        const bool existed = fs::exists(target);
        const ProcessResult r = Reg({"export", "HKCU", target.string(), "/y"});
        EXPECT_EQ(r.status, 1);
        EXPECT_THAT(r.err, HasSubstr(target.string() + " is one of the store's own files"));
        EXPECT_EQ(fs::exists(target), existed);
    }
    for (const auto& [hive, value] : {std::pair{"HKCU\\K", "0x1"}, std::pair{"HKLM\\K", "0x2"}})
        EXPECT_THAT(Reg({"query", hive, "/v", "v"}).out, HasSubstr("REG_DWORD    " + std::string(value)));
}

// export replaces a file only where its user may write it: a read-only file (0444, for root too)
// is refused before anything is asked, even with /y, and stays as it was; a file it replaces
// keeps its mode.
TEST_F(RegToolTest, ExportNeverReplacesAReadOnlyFile) {
    namespace fs = std::filesystem;
    ASSERT_TRUE(WriteValueByPath(HKEY_CURRENT_USER, "K\\v", Variant(1), vkInteger));
    const fs::path folder = StoreFolder().parent_path() / "reg-exports";
    fs::remove_all(folder);
    fs::create_directories(folder);
    const fs::path readOnly = folder / "read-only.reg";
    std::ofstream(readOnly) << "keep";
    fs::permissions(readOnly, fs::perms(0444));
    ProcessResult r = Reg({"export", "HKCU\\K", readOnly.string(), "/y"});
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("cannot write " + readOnly.string() + ": it is read-only"));
    std::ifstream in(readOnly);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "keep");
    EXPECT_EQ(fs::status(readOnly).permissions(), fs::perms(0444));

    const fs::path shared = folder / "shared.reg";
    std::ofstream(shared) << "old";
    fs::permissions(shared, fs::perms(0664));
    r = Reg({"export", "HKCU\\K", shared.string(), "/y"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(fs::status(shared).permissions(), fs::perms(0664));
    EXPECT_GT(fs::file_size(shared), 3u);
}

// What is not a registry file that import can read is refused, exit status 1, with a message
// naming it, and nothing of it is read beyond the size limit (a pipe or a device may never end).
TEST_F(RegToolTest, ImportRefusesWhatIsNotARegistryFileItCanRead) {
    namespace fs = std::filesystem;
    const fs::path file = StoreFolder() / "in.reg";
    const std::string registryFile = "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\Imported]\r\n";
    pid_t writer = -1;
    struct Case {
        const char* what;
        std::function<void()> make;
        std::string message;
    };
    std::vector<Case> cases = {
        {"a folder", [&] { fs::create_directory(file); }, file.string() + " is a folder"},
        {"a pipe that carries a registry file",
         [&] {
             ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
             writer = ::fork();
             if (writer == 0) {
                 std::ofstream(file, std::ios::binary) << registryFile;
                 ::_exit(0);
             }
         },
         file.string() + " is not a regular file"},
        {"a file larger than import reads",
         [&] {
             std::ofstream(file, std::ios::binary) << registryFile;
             fs::resize_file(file, (64u << 20) + 1);
         },
         "import reads registry files of at most 64 MB (67108864 bytes)"},
        {"no file", [] {}, "cannot open " + file.string() + ": No such file or directory"},
    };
    if (::geteuid() != 0)
        cases.push_back({"a file its reader may not read",
                         [&] {
                             std::ofstream(file, std::ios::binary) << registryFile;
                             fs::permissions(file, fs::perms::none);
                         },
                         "cannot open " + file.string() + ": Permission denied"});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(file);
        DeleteKeyTree(HKEY_LOCAL_MACHINE, "Imported");
        c.make();
        const ProcessResult r = Reg({"import", file.string()});
        if (writer > 0) {
            ::kill(writer, SIGKILL);
            ::waitpid(writer, nullptr, 0);
            writer = -1;
        }
        EXPECT_EQ(r.status, 1) << r.err;
        EXPECT_THAT(r.err, HasSubstr(c.message));
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, "Imported"));
    }
}

} // namespace
} // namespace quorvane::test
