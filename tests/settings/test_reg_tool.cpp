// quorvane-reg as a user runs it: what it prints, what it changes, and how it refuses bad input.

#include "tests/settings/process.h"
#include "tests/settings/store_fixture.h"

#include <fstream>

namespace quorvane::test {
namespace {

using ::testing::HasSubstr;

const std::string kKey = "HKLM\\Software\\Morvath Software\\Quorvane v4.8\\Providers\\Dial Net";
const std::string kPath = "Software\\Morvath Software\\Quorvane v4.8\\Providers\\Dial Net";

class RegToolTest : public StoreTest {};

TEST_F(RegToolTest, AddsEachTypeWithTheRightBytes) {
    struct Case {
        std::vector<std::string> args;
        RegValue stored;
    } cases[] = {
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
    EXPECT_THAT(r.out, HasSubstr(full + "\\Sub\n    x    REG_DWORD    0x1\n"));

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
        {"add", kKey, "/v", "n", "/t", "REG_QWORD", "/d", "1"},
        {"add", kKey, "/v"},
        {"query", kKey, "/y"},
        {"export", kKey},
        {"import"},
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
    EXPECT_EQ(Reg({"/?"}).status, 0);
}

TEST_F(RegToolTest, ReportsAStoreItCannotOpen) {
    std::ofstream(StoreFolder() / "machine.db") << "this is not a database, it is a note to self";
    const ProcessResult r = Reg({"add", kKey, "/v", "x", "/d", "y", "/f"});
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("machine.db"));
    EXPECT_EQ(Reg({"import", (StoreFolder() / "missing.reg").string()}).status, 1);
}

} // namespace
} // namespace quorvane::test
