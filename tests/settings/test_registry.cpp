// The path operations over a real store: the path split, the bytes of each value kind, the
// read rules, names without regard to letter case, enumeration order, and a store that cannot
// be opened.

#include "tests/settings/store_fixture.h"

#include <sqlite3.h>

#include <bit>
#include <cstdlib>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace quorvane::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr const char* kProvider =
    "Software\\Morvath Software\\Quorvane v4.8\\Providers\\Dial Net\\";

std::string P(const std::string& name) {
    return kProvider + name;
}

Bytes Le64(std::uint64_t v) {
    Bytes b;
    for (int i = 0; i < 8; ++i)
        b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    return b;
}

TEST(RegistryPathTest, SplitsAtTheLastBackslash) {
    struct Case {
        std::string path, key, name;
    } cases[] = {
        {"Software\\Morvath Software\\Quorvane v4.8\\LastDate",
         "Software\\Morvath Software\\Quorvane v4.8\\", "LastDate"},
        {"Software\\Morvath Software\\Quorvane v4.8\\Providers\\",
         "Software\\Morvath Software\\Quorvane v4.8\\Providers\\", ""},
        {"NoBackslash", "", "NoBackslash"},
        {"", "", ""},
        {"Providers\\\\eProv", "Providers\\\\", "eProv"},
        {" Lead \\ trail ", " Lead \\", " trail "},
    };
    for (const Case& c : cases) {
        const RegistryPath split = SplitRegistryPath(c.path);
        EXPECT_EQ(split.key, c.key) << c.path;
        EXPECT_EQ(split.valueName, c.name) << c.path;
    }
}

class RegistryTest : public StoreTest {};

// Each kind writes exactly the registry type and bytes of its row, and reads back as it went in.
TEST_F(RegistryTest, EachKindStoresItsTypeAndBytes) {
    struct Case {
        int kind;
        Variant value;
        RegType type;
        Bytes bytes;
    } cases[] = {
        {vkInteger, Variant(30), REG_DWORD, {30, 0, 0, 0}},
        {vkInteger, Variant(-1), REG_DWORD, {0xFF, 0xFF, 0xFF, 0xFF}},
        {vkBool, Variant(true), REG_DWORD, {1, 0, 0, 0}},
        {vkBool, Variant(false), REG_DWORD, {0, 0, 0, 0}},
        {vkString, Variant("Dial Net"), REG_SZ, BytesOf(std::string_view("Dial Net\0", 9))},
        {vkString, Variant(""), REG_SZ, {0}},
        {vkString, Variant("\xC3\x9Cnet"), REG_SZ, {0xC3, 0x9C, 'n', 'e', 't', 0}},
        {vkDate, Variant::FromDate(36526.0), REG_BINARY,
         Le64(std::bit_cast<std::uint64_t>(36526.0))},
        {vkFloat, Variant(2.5), REG_BINARY, Le64(std::bit_cast<std::uint64_t>(2.5))},
        {vkCurrency, Variant::FromCurrency(-25000), REG_BINARY, Le64(std::uint64_t(-25000))},
        {vkTime, Variant::FromDate(0.75), REG_BINARY, Le64(std::bit_cast<std::uint64_t>(0.75))},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("kind " + std::to_string(c.kind) + " " + c.value.toString());
        ASSERT_TRUE(WriteValueByPath(HKEY_LOCAL_MACHINE, P("value"), c.value, c.kind));
        const auto stored = Stored(HKEY_LOCAL_MACHINE, kProvider, "value");
        ASSERT_TRUE(stored);
        EXPECT_EQ(stored->type, c.type);
        EXPECT_EQ(stored->data, c.bytes);
        Variant back;
        ReadValueByPath(HKEY_LOCAL_MACHINE, P("value"), c.kind, back);
        EXPECT_EQ(back, c.value);
    }
}

TEST_F(RegistryTest, ReadsAcceptWhatTheirKindAllowsAndRejectTheRest) {
    const std::string key = kProvider;
    PutRaw(HKEY_LOCAL_MACHINE, key, "five", REG_DWORD, {5, 0, 0, 0});
    PutRaw(HKEY_LOCAL_MACHINE, key, "expand", REG_EXPAND_SZ,
           BytesOf(std::string_view("%TEMP%\0", 7)));
    PutRaw(HKEY_LOCAL_MACHINE, key, "twoTexts", REG_SZ, BytesOf(std::string_view("ab\0cd\0", 6)));
    PutRaw(HKEY_LOCAL_MACHINE, key, "unterminated", REG_SZ, BytesOf("abc"));
    PutRaw(HKEY_LOCAL_MACHINE, key, "text", REG_SZ, BytesOf(std::string_view("12\0", 3)));
    PutRaw(HKEY_LOCAL_MACHINE, key, "shortDword", REG_DWORD, {1, 0});
    PutRaw(HKEY_LOCAL_MACHINE, key, "bin4", REG_BINARY, {0, 0, 0, 0});
    PutRaw(HKEY_LOCAL_MACHINE, key, "bin8", REG_BINARY, Le64(std::bit_cast<std::uint64_t>(1.5)));

    struct Good {
        const char* name;
        int kind;
        Variant expected;
    } good[] = {
        {"five", vkBool, Variant(true)},
        {"five", vkInteger, Variant(5)},
        {"expand", vkString, Variant("%TEMP%")},
        {"twoTexts", vkString, Variant("ab")},
        {"unterminated", vkString, Variant("abc")},
        {"bin8", vkDate, Variant::FromDate(1.5)},
        {"bin8", vkTime, Variant::FromDate(1.5)},
        {"bin8", vkFloat, Variant(1.5)},
    };
    for (const Good& g : good) {
        Variant v;
        ReadValueByPath(HKEY_LOCAL_MACHINE, P(g.name), g.kind, v);
        EXPECT_EQ(v, g.expected) << g.name << " as kind " << g.kind;
    }

    struct Bad {
        const char* name;
        int kind;
    } bad[] = {{"text", vkInteger}, {"text", vkBool},    {"shortDword", vkInteger},
               {"five", vkString},  {"bin4", vkDate},    {"bin8", vkInteger},
               {"five", vkFloat},   {"text", vkCurrency}};
    for (const Bad& b : bad) {
        Variant v(7);
        try {
            ReadValueByPath(HKEY_LOCAL_MACHINE, P(b.name), b.kind, v);
            ADD_FAILURE() << b.name << " read as kind " << b.kind;
        } catch (const ERegistryError& e) {
            EXPECT_EQ(std::string(e.what()), std::string("Invalid data type for '") + b.name + "'");
        }
        EXPECT_EQ(v, Variant(7)) << "a failed read must not change the variant";
    }
    EXPECT_EQ(ReadStringByPath(HKEY_LOCAL_MACHINE, P("expand")), "%TEMP%");
    EXPECT_THROW(ReadStringByPath(HKEY_LOCAL_MACHINE, P("five")), ERegistryError);
}

TEST_F(RegistryTest, MessagesTakeTheNameAsPlainText) {
    const std::string name = "100%s %d %n done";
    PutRaw(HKEY_LOCAL_MACHINE, kProvider, name, REG_SZ, {'x', 0});
    Variant v;
    try {
        ReadValueByPath(HKEY_LOCAL_MACHINE, P(name), vkInteger, v);
        FAIL();
    } catch (const ERegistryError& e) {
        EXPECT_EQ(std::string(e.what()), "Invalid data type for '" + name + "'");
    }
}

TEST_F(RegistryTest, MissingValuesAndKeys) {
    // The existence test creates the key it looks in, as the registry call it stands for does.
    EXPECT_FALSE(ValueExistsByPath(HKEY_LOCAL_MACHINE, "Fresh\\Key\\value"));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, "Fresh\\Key"));
    std::vector<std::string> names{"stale"};
    GetValueNamesByPath(HKEY_LOCAL_MACHINE, "Fresh\\Key", names);
    EXPECT_THAT(names, IsEmpty());

    Variant empty;
    ReadValueByPath(HKEY_LOCAL_MACHINE, P("missing"), vkInteger, empty);
    EXPECT_TRUE(empty.isEmpty());
    Variant filled("keep");
    ReadValueByPath(HKEY_LOCAL_MACHINE, P("missing"), vkString, filled);
    EXPECT_EQ(filled, Variant("keep"));
    EXPECT_EQ(ReadStringByPath(HKEY_LOCAL_MACHINE, P("missing")), "");

    // A kind outside 0..6 does nothing at all.
    EXPECT_FALSE(WriteValueByPath(HKEY_LOCAL_MACHINE, "Odd\\value", Variant(1), 7));
    EXPECT_FALSE(WriteValueByPath(HKEY_LOCAL_MACHINE, "Odd\\value", Variant(1), -1));
    ReadValueByPath(HKEY_LOCAL_MACHINE, "Odd\\value", 7, filled);
    EXPECT_EQ(filled, Variant("keep"));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, "Odd"));
}

TEST_F(RegistryTest, DefaultValueAndHiveValue) {
    ASSERT_TRUE(WriteValueByPath(HKEY_LOCAL_MACHINE, "Providers\\", Variant("default"), vkString));
    ASSERT_TRUE(WriteValueByPath(HKEY_LOCAL_MACHINE, "AtTheTop", Variant(1), vkInteger));
    EXPECT_EQ(Stored(HKEY_LOCAL_MACHINE, "Providers", "")->data,
              BytesOf(std::string_view("default\0", 8)));
    EXPECT_TRUE(Stored(HKEY_LOCAL_MACHINE, "", "AtTheTop"));
    std::vector<std::string> names;
    GetValueNamesByPath(HKEY_LOCAL_MACHINE, "", names);
    EXPECT_THAT(names, ElementsAre("AtTheTop"));
    GetKeyNamesByPath(HKEY_LOCAL_MACHINE, "", names);
    EXPECT_THAT(names, ElementsAre("Providers"));
}

TEST_F(RegistryTest, NamesIgnoreLetterCaseAndKeepTheirOwn) {
    ASSERT_TRUE(WriteValueByPath(HKEY_LOCAL_MACHINE, "Software\\Providers\\\xC3\x9Cnet\\eProv",
                                 Variant("first"), vkString));
    // "ÜNET" and "üNET" are the same key; the value keeps the case it was created with.
    ASSERT_TRUE(WriteValueByPath(HKEY_LOCAL_MACHINE, "SOFTWARE\\providers\\\xC3\xBCNET\\EPROV",
                                 Variant("second"), vkString));
    EXPECT_EQ(ReadStringByPath(HKEY_LOCAL_MACHINE, "software\\PROVIDERS\\\xC3\x9C"
                                                   "NeT\\eprov"),
              "second");
    std::vector<std::string> names;
    GetKeyNamesByPath(HKEY_LOCAL_MACHINE, "software\\providers", names);
    EXPECT_THAT(names, ElementsAre("\xC3\x9Cnet"));
    GetValueNamesByPath(HKEY_LOCAL_MACHINE, "Software\\Providers\\\xC3\xBCnet", names);
    EXPECT_THAT(names, ElementsAre("eProv"));

    // Letters with no one-to-one upper case of their own stay distinct names.
    ASSERT_TRUE(WriteValueByPath(HKEY_LOCAL_MACHINE,
                                 "K\\Stra\xC3\x9F"
                                 "e",
                                 Variant(1), vkInteger));
    ASSERT_TRUE(WriteValueByPath(HKEY_LOCAL_MACHINE, "K\\STRASSE", Variant(2), vkInteger));
    GetValueNamesByPath(HKEY_LOCAL_MACHINE, "K", names);
    EXPECT_THAT(names, ElementsAre("Stra\xC3\x9F"
                                   "e",
                                   "STRASSE"));
}

TEST_F(RegistryTest, SubkeysInNameOrderValuesInCreationOrder) {
    for (const char* name : {"b", "\xC3\x84rger", "C", "a", "Budget Line", "Dial Net"})
        ASSERT_TRUE(WriteValueByPath(HKEY_LOCAL_MACHINE, std::string("Providers\\") + name + "\\x",
                                     Variant(1), vkInteger));
    std::vector<std::string> names;
    GetKeyNamesByPath(HKEY_LOCAL_MACHINE, "Providers\\", names);
    EXPECT_THAT(names, ElementsAre("a", "b", "Budget Line", "C", "Dial Net", "\xC3\x84rger"));

    for (const char* name : {"seCycleDay", "ckEnablePeak", "Today", "cbProvider"})
        ASSERT_TRUE(WriteValueByPath(HKEY_LOCAL_MACHINE, P(name), Variant("text"), vkString));
    // Replacing a value, also with another type and in other letters, keeps its place and name.
    ASSERT_TRUE(WriteValueByPath(HKEY_LOCAL_MACHINE, P("CKENABLEPEAK"), Variant(true), vkBool));
    GetValueNamesByPath(HKEY_LOCAL_MACHINE, kProvider, names);
    EXPECT_THAT(names, ElementsAre("seCycleDay", "ckEnablePeak", "Today", "cbProvider"));
    EXPECT_EQ(Stored(HKEY_LOCAL_MACHINE, kProvider, "ckEnablePeak")->type, REG_DWORD);
}

TEST_F(RegistryTest, HivesAreSeparatePrivateFiles) {
    ASSERT_TRUE(WriteValueByPath(HKEY_LOCAL_MACHINE, "Shared\\v", Variant(1), vkInteger));
    EXPECT_FALSE(ValueExistsByPath(HKEY_CURRENT_USER, "Shared\\v"));
    std::vector<std::string> names;
    GetKeyNamesByPath(HKEY_CURRENT_USER, "RemoteAccess\\Profile\\", names);
    EXPECT_THAT(names, IsEmpty());
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, "RemoteAccess\\Profile"));

    for (const char* file : {"machine.db", "user.db"}) {
        struct stat st {};
        ASSERT_EQ(::stat((StoreFolder() / file).c_str(), &st), 0) << file;
        EXPECT_EQ(st.st_mode & 0777, 0600u) << file;
    }
}

TEST_F(RegistryTest, DeleteKeyTreeTakesExactlyTheKeyAndWhatIsBelowIt) {
    for (const char* path : {"Providers\\Dial\\a", "Providers\\Dial\\Sub\\Deeper\\b",
                             "Providers\\Dial Net\\c", "Providers\\Dial0\\d", "Providers\\e"})
        ASSERT_TRUE(WriteValueByPath(HKEY_LOCAL_MACHINE, path, Variant(1), vkInteger));
    EXPECT_TRUE(DeleteKeyTree(HKEY_LOCAL_MACHINE, "PROVIDERS\\dial"));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, "Providers\\Dial"));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, "Providers\\Dial\\Sub\\Deeper"));
    std::vector<std::string> names;
    GetKeyNamesByPath(HKEY_LOCAL_MACHINE, "Providers", names);
    EXPECT_THAT(names, ElementsAre("Dial Net", "Dial0"));
    EXPECT_TRUE(ValueExistsByPath(HKEY_LOCAL_MACHINE, "Providers\\e"));

    EXPECT_FALSE(DeleteKeyTree(HKEY_LOCAL_MACHINE, "Providers\\Dial"));
    EXPECT_FALSE(DeleteKeyTree(HKEY_LOCAL_MACHINE, ""));
    EXPECT_FALSE(DeleteKeyTree(HKEY_LOCAL_MACHINE, "\\"));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, "Providers"));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, "Providers\\Nothing"));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, "Providers\\Nothing")) << "never created";
}

// A write that the store refuses (here: another process holds the write lock for longer than
// the store waits) raises the error with the name, and nothing is written.
TEST_F(RegistryTest, RefusedWriteRaisesFailedToSetData) {
    const ShortBusyTimeout shortWait;
    ASSERT_TRUE(WriteValueByPath(HKEY_LOCAL_MACHINE, P("Today"), Variant(1), vkInteger));
    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open((StoreFolder() / "machine.db").c_str(), &raw), SQLITE_OK);
    std::unique_ptr<sqlite3, decltype(&sqlite3_close)> other(raw, &sqlite3_close);
    ASSERT_EQ(sqlite3_exec(other.get(), "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    try {
        WriteValueByPath(HKEY_LOCAL_MACHINE, P("100%s"), Variant(2), vkInteger);
        FAIL() << "the write went through";
    } catch (const ERegistryError& e) {
        EXPECT_STREQ(e.what(), "Failed to set data for '100%s'");
    }
    // Reads still work while another writer holds the lock.
    Variant today;
    ReadValueByPath(HKEY_LOCAL_MACHINE, P("Today"), vkInteger, today);
    EXPECT_EQ(today, Variant(1));
    ASSERT_EQ(sqlite3_exec(other.get(), "ROLLBACK", nullptr, nullptr, nullptr), SQLITE_OK);
    EXPECT_FALSE(ValueExistsByPath(HKEY_LOCAL_MACHINE, P("100%s")));
    EXPECT_TRUE(WriteValueByPath(HKEY_LOCAL_MACHINE, P("100%s"), Variant(2), vkInteger));
}

// Every way the store can be out of reach behaves as a key that cannot be opened or created:
// quiet false and empty results, no exception, and nothing of the user's is overwritten.
class UnavailableStoreTest : public StoreTest {
protected:
    void ExpectUnavailable() {
        EXPECT_FALSE(WriteValueByPath(HKEY_LOCAL_MACHINE, P("Today"), Variant(5), vkInteger));
        EXPECT_FALSE(ValueExistsByPath(HKEY_LOCAL_MACHINE, P("Today")));
        Variant v(9);
        ReadValueByPath(HKEY_LOCAL_MACHINE, P("Today"), vkInteger, v);
        EXPECT_EQ(v, Variant(9));
        EXPECT_EQ(ReadStringByPath(HKEY_LOCAL_MACHINE, P("eProv")), "");
        std::vector<std::string> names{"x"};
        GetValueNamesByPath(HKEY_LOCAL_MACHINE, kProvider, names);
        EXPECT_THAT(names, IsEmpty());
        names = {"x"};
        GetKeyNamesByPath(HKEY_LOCAL_MACHINE, "Software", names);
        EXPECT_THAT(names, IsEmpty());
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, "Software"));
        EXPECT_FALSE(DeleteKeyTree(HKEY_LOCAL_MACHINE, "Software"));
    }
};

TEST_F(UnavailableStoreTest, FileThatIsNotADatabase) {
    const std::string junk(3000, 'Q');
    std::ofstream(StoreFolder() / "machine.db", std::ios::binary) << junk;
    ExpectUnavailable();
    std::ifstream in(StoreFolder() / "machine.db", std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), junk) << "file was changed";
    // The other hive is not affected.
    EXPECT_TRUE(WriteValueByPath(HKEY_CURRENT_USER, "Fine\\v", Variant(1), vkInteger));
}

TEST_F(UnavailableStoreTest, AnotherProgramsDatabase) {
    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open((StoreFolder() / "machine.db").c_str(), &raw), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(raw, "CREATE TABLE songs(title TEXT)", nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(raw);
    ExpectUnavailable();
}

TEST_F(UnavailableStoreTest, FolderThatCannotBeCreated) {
    std::ofstream(StoreFolder() / "plain-file") << "x";
    const std::string saved = std::getenv("QUORVANE_HOME");
    ::setenv("QUORVANE_HOME", (StoreFolder() / "plain-file" / "store").c_str(), 1);
    ExpectUnavailable();
    ::setenv("QUORVANE_HOME", saved.c_str(), 1);
    EXPECT_TRUE(WriteValueByPath(HKEY_LOCAL_MACHINE, P("Today"), Variant(5), vkInteger));
}

TEST_F(UnavailableStoreTest, FolderWithoutWritePermission) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "permissions do not bind root";
    std::filesystem::permissions(StoreFolder(), std::filesystem::perms::owner_read |
                                                    std::filesystem::perms::owner_exec);
    ExpectUnavailable();
}

} // namespace
} // namespace quorvane::test
