// Registry-editor files: the Windows export a user brings, the forms regedit writes, errors
// that must stop an import before it changes anything, and export then import giving back the
// same store.

#include "core/text_codec.h"
#include "settings/regfile.h"
#include "tests/settings/process.h"
#include "tests/settings/store_fixture.h"

#include <cstdlib>
#include <fstream>

namespace quorvane::test {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

const std::string kProduct = "Software\\Morvath Software\\Quorvane v4.8\\";

std::string DataFile(const char* name) {
    return std::string(std::getenv("QUORVANE_TEST_DATA")) + "/" + name;
}

Bytes Utf16File(const std::string& text) {
    Bytes out = {0xFF, 0xFE};
    const Bytes body = Utf8ToUtf16Le(text);
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

std::string WriteFile(const std::string& name, const Bytes& content) {
    const std::string path = (StoreFolder() / name).string();
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(content.data()), content.size());
    return path;
}

class RegFileTest : public StoreTest {};

TEST_F(RegFileTest, ImportsTheWindowsExportOfAProvider) {
    const ProcessResult r = Reg({"import", DataFile("provider-export.reg")});
    ASSERT_EQ(r.status, 0) << r.err;

    Variant v;
    ReadValueByPath(HKEY_LOCAL_MACHINE, kProduct + "LastDate", vkDate, v);
    EXPECT_EQ(v, Variant::FromDate(46356.0));
    ReadValueByPath(HKEY_LOCAL_MACHINE, kProduct + "LastDateChanged", vkBool, v);
    EXPECT_EQ(v, Variant(true));
    EXPECT_EQ(ReadStringByPath(HKEY_LOCAL_MACHINE, kProduct + "Providers\\DefaultProvider"),
              "Dial Net");

    const std::string dial = kProduct + "Providers\\Dial Net\\";
    ReadValueByPath(HKEY_LOCAL_MACHINE, dial + "cbProvider", vkInteger, v);
    EXPECT_EQ(v, Variant(-1));
    ReadValueByPath(HKEY_LOCAL_MACHINE, dial + "seDelaySec", vkInteger, v);
    EXPECT_EQ(v, Variant(30));
    EXPECT_EQ(ReadStringByPath(HKEY_LOCAL_MACHINE, dial + "eLogFile"), "C:\\QUORVANE\\DIALNET.TXT");
    EXPECT_EQ(ReadStringByPath(HKEY_LOCAL_MACHINE, dial + "eStart"), "08:00:00 AM");
    EXPECT_EQ(Stored(HKEY_LOCAL_MACHINE, dial, "Today"),
              (RegValue{"Today", REG_DWORD, {0x8D, 0x0E, 0, 0}}));
    EXPECT_EQ(Stored(HKEY_LOCAL_MACHINE, dial, "eWavAlarm"), (RegValue{"eWavAlarm", REG_SZ, {0}}));

    std::vector<std::string> names;
    GetValueNamesByPath(HKEY_LOCAL_MACHINE, dial, names);
    ASSERT_EQ(names.size(), 28u);
    EXPECT_EQ(names.front(), "cbProvider");
    EXPECT_EQ(names[6], "eProv");
    EXPECT_EQ(names.back(), "TotalTime");
    GetKeyNamesByPath(HKEY_LOCAL_MACHINE, kProduct + "Providers", names);
    EXPECT_THAT(names, ElementsAre("Budget Line", "Dial Net"));
    ReadValueByPath(HKEY_LOCAL_MACHINE, kProduct + "Providers\\Budget Line\\CycleDayChanged",
                    vkBool, v);
    EXPECT_EQ(v, Variant(true));
}

TEST_F(RegFileTest, ReadsEveryFormRegeditWrites) {
    const std::string file =
        "Windows Registry Editor Version 5.00\r\n"
        "\r\n"
        "; a comment\r\n"
        "[HKEY_CURRENT_USER\\RemoteAccess\\Profile\\Dial Net]\r\n"
        "[HKEY_LOCAL_MACHINE\\Gone\\Child]\r\n"
        "\"x\"=dword:1\r\n"
        "[HKEY_LOCAL_MACHINE\\Keep]\r\n"
        "@=\"the default\"\r\n"
        "\"quote \\\"and\\\\ slash\"=\"C:\\\\Program Files\\\\\"\r\n"
        "\"Path\"=hex(2):25,00,54,00,45,00,4d,00,50,00,25,00,5c,00,c4,00,00,00\r\n"
        "\"Long\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,\\\r\n"
        "  16,17,18,19,\\\r\n"
        "  1a,1B\r\n"
        "\"Multi\"=hex(7):61,00,00,00,00,00\r\n"
        "\"Q\"=hex(b):01,00,00,00,00,00,00,00\r\n"
        "\"Empty\"=hex:\r\n"
        "\"Drop\"=dword:00000001\r\n"
        "\"Drop\"=-\r\n"
        "  \"Spaced\" = dword:0000ffff  \r\n"
        "[-HKEY_LOCAL_MACHINE\\Gone]\r\n";
    const RegFileParse parsed = ParseRegFile(Utf16File(file));
    ASSERT_TRUE(parsed.ok()) << parsed.errorLine << ": " << parsed.error;
    std::string why;
    ASSERT_TRUE(ApplyRegOps(parsed.ops, &why)) << why;

    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, "RemoteAccess\\Profile\\Dial Net"));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, "Gone"));
    const RegistryKey keep = RegistryKey::Open(HKEY_LOCAL_MACHINE, "Keep", false);
    ASSERT_TRUE(keep);
    EXPECT_THAT(keep.ValueNames(), ElementsAre("", "quote \"and\\ slash", "Path", "Long", "Multi",
                                               "Q", "Empty", "Spaced"));
    EXPECT_EQ(keep.QueryValue("")->data, BytesOf(std::string_view("the default\0", 12)));
    EXPECT_EQ(keep.QueryValue("QUOTE \"AND\\ SLASH")->data,
              BytesOf(std::string_view("C:\\Program Files\\\0", 18)));
    EXPECT_EQ(keep.QueryValue("Path")->type, REG_EXPAND_SZ);
    EXPECT_EQ(keep.QueryValue("Path")->data, BytesOf(std::string_view("%TEMP%\\\xC3\x84\0", 10)));
    Bytes counting;
    for (int i = 0; i < 28; ++i)
        counting.push_back(static_cast<std::uint8_t>(i));
    EXPECT_EQ(keep.QueryValue("Long")->data, counting);
    EXPECT_EQ(keep.QueryValue("Multi"), (RegValue{"Multi", REG_MULTI_SZ, {0x61, 0, 0, 0, 0, 0}}));
    EXPECT_EQ(keep.QueryValue("Q"), (RegValue{"Q", REG_QWORD, {1, 0, 0, 0, 0, 0, 0, 0}}));
    EXPECT_EQ(keep.QueryValue("Empty"), (RegValue{"Empty", REG_BINARY, {}}));
    EXPECT_EQ(keep.QueryValue("Spaced")->data, (Bytes{0xFF, 0xFF, 0, 0}));
}

TEST_F(RegFileTest, ReadsRegedit4InTheAnsiCodePage) {
    // "Ünet" and "Preis €" in Windows-1252, as an old regedit wrote them.
    const std::string file = "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Providers\\\xDCnet]\n"
                             "\"eProv\"=\"Preis \x80\"\n\"Path\"=hex(2):25,54,25,00\n";
    const RegFileParse parsed = ParseRegFile(BytesOf(file));
    ASSERT_TRUE(parsed.ok()) << parsed.error;
    ASSERT_TRUE(ApplyRegOps(parsed.ops, nullptr));
    EXPECT_EQ(ReadStringByPath(HKEY_LOCAL_MACHINE, "Providers\\\xC3\x9Cnet\\eProv"),
              "Preis \xE2\x82\xAC");
    EXPECT_EQ(ReadStringByPath(HKEY_LOCAL_MACHINE, "Providers\\\xC3\x9Cnet\\Path"), "%T%");
}

// Small files as Windows' registry editor takes them, each imported by quorvane-reg into a
// store that holds T\Keep: what the store holds afterwards below T.
TEST_F(RegFileTest, ImportsWhatWindowsImports) {
    const RegValue keep{"v", REG_DWORD, {1, 0, 0, 0}};
    const std::vector<KeyContent> before = {{"T", {}}, {"T\\Keep", {keep}}};
    const auto with = [&](std::vector<KeyContent> added) {
        std::vector<KeyContent> tree = before;
        tree.insert(tree.end(), added.begin(), added.end());
        return tree;
    };
    const std::string v5 = "Windows Registry Editor Version 5.00\r\n";
    struct Case {
        const char* what;
        Bytes file;
        std::vector<KeyContent> after;
    } cases[] = {
        {"blanks at the end of a key name are part of it",
         BytesOf("REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\T\\Name \t]  \r\n\"v\"=dword:2\r\n"),
         with({{"T\\Name \t", {{"v", REG_DWORD, {2, 0, 0, 0}}}}})},
        {"a blank after [ makes a line that creates nothing, nor do its values go anywhere",
         BytesOf("REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\T\\Keep]\r\n[ HKEY_LOCAL_MACHINE\\T\\New]\r\n"
                 "\"v\"=dword:2\r\n[\tHKEY_LOCAL_MACHINE\\T\\Keep]\r\n\"w\"=dword:3\r\n"),
         before},
        {"a blank after [- makes a line that deletes nothing",
         BytesOf("REGEDIT4\r\n[- HKEY_LOCAL_MACHINE\\T\\Keep]\r\n[-\tHKEY_LOCAL_MACHINE\\T]\r\n"),
         before},
        {"REGEDIT4's hex(7) is 8-bit text, stored as UTF-16; hex(2) and hex(7) get their NUL",
         BytesOf("REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\T\\M]\r\n\"m\"=hex(7):61,00,e4,00,00\r\n"
                 "\"short\"=hex(7):61,00,62\r\n\"e\"=hex(2):25,41,25\r\n"),
         with({{"T\\M",
                {{"m", REG_MULTI_SZ, {0x61, 0, 0, 0, 0xE4, 0, 0, 0, 0, 0}},
                 {"short", REG_MULTI_SZ, {0x61, 0, 0, 0, 0x62, 0, 0, 0}},
                 {"e", REG_EXPAND_SZ, BytesOf(std::string_view("%A%\0", 4))}}}})},
        {"hex(2) and hex(7) of a version 5 file get their NUL, other types are kept",
         Utf16File(v5 + "[HKEY_LOCAL_MACHINE\\T\\N]\r\n\"e\"=hex(2):41,00\r\n"
                        "\"m\"=hex(7):61,00\r\n\"s\"=hex(1):41,00\r\n\"b\"=hex(3):41,00\r\n"),
         with({{"T\\N",
                {{"e", REG_EXPAND_SZ, {'A', 0}},
                 {"m", REG_MULTI_SZ, {0x61, 0, 0, 0}},
                 {"s", REG_SZ, {'A'}},
                 {"b", REG_BINARY, {0x41, 0}}}}})},
        {"comments",
         BytesOf("REGEDIT4\r\n# a comment\r\n; another\r\n[HKEY_LOCAL_MACHINE\\T\\Rem]\r\n"
                 "\"d\"=dword:5 ; five\r\n\"s;\\\"\"=\"a;b\" ;\"comment\"\r\n"
                 "\"h\"=hex:01,\\ ; goes on\r\n; between\r\n\r\n  02,\\\r\n# and\r\n  03\r\n"),
         with({{"T\\Rem",
                {{"d", REG_DWORD, {5, 0, 0, 0}},
                 {"s;\"", REG_SZ, {'a', ';', 'b', 0}},
                 {"h", REG_BINARY, {1, 2, 3}}}}})},
        // A hex value that the end of the file cuts short after a byte's comma keeps the bytes
        // read so far, as regedit keeps them; one cut at a backslash right after a byte, before
        // its comma, is dropped. The rest of the file is imported either way.
        {"a file that ends inside a continued line, without a final newline",
         BytesOf("REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\T\\Tail]\r\n\"a\"=dword:1\r\n"
                 "\"h\"=hex:01,02,\\"),
         with({{"T\\Tail", {{"a", REG_DWORD, {1, 0, 0, 0}}, {"h", REG_BINARY, {1, 2}}}}})},
        {"a file that ends after a continued line and a blank one",
         BytesOf("REGEDIT4\n[HKEY_LOCAL_MACHINE\\T\\Tail]\n\"h\"=hex:01,\\\n\n"),
         with({{"T\\Tail", {{"h", REG_BINARY, {1}}}}})},
        {"a file that ends after a continued line and a comment",
         Utf16File(v5 + "[HKEY_LOCAL_MACHINE\\T\\Tail]\r\n\"h\"=hex(2):41,00,\\\r\n; 42,00\r\n"),
         with({{"T\\Tail", {{"h", REG_EXPAND_SZ, {'A', 0}}}}})},
        {"a file that ends after two continued lines, a blank between",
         BytesOf("REGEDIT4\n[HKEY_LOCAL_MACHINE\\T\\Tail]\n\"h\"=hex:01,\\\n\n  02 , \\ \n"),
         with({{"T\\Tail", {{"h", REG_BINARY, {1, 2}}}}})},
        {"a file that ends at a backslash right after a byte",
         BytesOf("REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\T\\Tail]\r\n\"a\"=dword:1\r\n"
                 "\"h\"=hex:01,02,\\\r\n  03,20\\\r\n"),
         with({{"T\\Tail", {{"a", REG_DWORD, {1, 0, 0, 0}}}}})},
        {"a file that ends at a backslash after a comma in a text",
         BytesOf("REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\T\\Tail]\r\n\"s\"=\"a,b,\\\r\n"),
         with({{"T\\Tail", {}}})},
        {"a file that ends at a backslash after a dword's comma",
         BytesOf("REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\T\\Tail]\r\n\"d\"=dword:1,\\"),
         with({{"T\\Tail", {}}})},
        // Blanks and tabs before the header line, as Windows takes them.
        {"blanks before REGEDIT4",
         BytesOf("  REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\T\\Lead]\r\n\"v\"=dword:2\r\n"),
         with({{"T\\Lead", {{"v", REG_DWORD, {2, 0, 0, 0}}}}})},
        {"a tab and a blank before the version 5 header",
         Utf16File("\t " + v5 + "[HKEY_LOCAL_MACHINE\\T\\Lead]\r\n\"v\"=dword:2\r\n"),
         with({{"T\\Lead", {{"v", REG_DWORD, {2, 0, 0, 0}}}}})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DeleteKeyTree(HKEY_LOCAL_MACHINE, "T");
        PutRaw(HKEY_LOCAL_MACHINE, "T\\Keep", keep.name, keep.type, keep.data);
        const ProcessResult r = Reg({"import", WriteFile("case.reg", c.file)});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(Tree(HKEY_LOCAL_MACHINE, "T"), c.after);
    }
}

// A UTF-16LE file with its byte-order mark, written unit by unit: lone surrogates stay lone.
Bytes Utf16Units(std::u16string_view units) {
    Bytes out = {0xFF, 0xFE};
    for (const char16_t unit : units) {
        out.push_back(static_cast<std::uint8_t>(unit & 0xFF));
        out.push_back(static_cast<std::uint8_t>(unit >> 8));
    }
    return out;
}

Bytes Utf16WithoutMark(const std::string& text) {
    return Utf8ToUtf16Le(text);
}

TEST(RegFileParseTest, AnErrorNamesItsLineAndKeepsNothing) {
    struct Case {
        const char* what;
        Bytes file;
        int line;
    } cases[] = {
        {"header below a blank line", BytesOf("\nREGEDIT4\n[HKLM\\A]\n"), 1},
        {"header in other letters", BytesOf("regedit4\n[HKLM\\A]\n"), 1},
        {"blanks after the header", BytesOf("REGEDIT4 \n[HKLM\\A]\n"), 1},
        {"blanks and text before the header", BytesOf(" x REGEDIT4\n[HKLM\\A]\n"), 1},
        {"header of another version",
         BytesOf("Windows Registry Editor Version 5.0\n[HKLM\\A]\n"), 1},
        {"UTF-16 without its byte-order mark",
         Utf16WithoutMark("Windows Registry Editor Version 5.00\r\n[HKLM\\A]\r\n"), 1},
        {"key deeper than the registry allows",
         BytesOf("REGEDIT4\n\n[HKLM" + Repeat("\\k", kMaxKeyDepth + 1) + "]\n"), 3},
        {"unpaired surrogates in a key name",
         Utf16File("Windows Registry Editor Version 5.00\r\n\r\n[HKLM\\\xC3\xFF]\r\n"), 3},
        {"unpaired surrogate in a value name",
         Utf16File("Windows Registry Editor Version 5.00\r\n[HKLM\\A]\r\n\"\xC3\"=dword:1\r\n"), 3},
        // Every unpaired surrogate, also those of U+DC80 to U+DCFF whose low bytes happen to
        // spell UTF-8 (here "\xC3\x9C", an Ü), and wherever it stands.
        {"low surrogates spelling UTF-8 in a key name",
         Utf16Units(u"Windows Registry Editor Version 5.00\r\n\r\n[HKLM\\\xDCC3\xDC9C]\r\n"), 3},
        {"low surrogates spelling UTF-8 in a value name",
         Utf16Units(u"Windows Registry Editor Version 5.00\r\n[HKLM\\A]\r\n\"\xDCC3\xDC9C\"=dword:1"),
         3},
        {"a high surrogate alone in a text",
         Utf16Units(u"Windows Registry Editor Version 5.00\n[HKLM\\A]\n\"a\"=\"\xD83D\"\n"), 3},
        {"a low surrogate after a pair, in a comment",
         Utf16Units(u"Windows Registry Editor Version 5.00\r\r[HKLM\\A]\r; \xD83D\xDCDE\xDCDE\r"), 4},
        {"a surrogate on the header line",
         Utf16Units(u"Windows Registry Editor Version 5.00\xDC80\r\n[HKLM\\A]\r\n"), 1},
        {"a high surrogate at the end of a continued line",
         Utf16Units(u"Windows Registry Editor Version 5.00\r\n[HKLM\\A]\r\n\"h\"=hex:01,\\\r\n"
                    u"  02 ;\xD800\r\n"),
         4},
        {"no header", BytesOf("[HKEY_LOCAL_MACHINE\\A]\n"), 1},
        {"empty file", BytesOf(""), 1},
        {"unknown hive", BytesOf("REGEDIT4\n[HKEY_CLASSES_ROOT\\A]\n"), 2},
        {"value before any key", BytesOf("REGEDIT4\n\n\"a\"=\"b\"\n"), 3},
        {"value after a deletion", BytesOf("REGEDIT4\n[-HKLM\\A]\n\"a\"=\"b\"\n"), 3},
        {"bad dword", BytesOf("REGEDIT4\n[HKLM\\A]\n\"a\"=dword:123456789\n"), 3},
        {"dword of letters", BytesOf("REGEDIT4\n[HKLM\\A]\n\"a\"=dword:xyz\n"), 3},
        {"bad hex byte", BytesOf("REGEDIT4\n[HKLM\\A]\n\"ok\"=hex:01\n\"a\"=hex:01,zz\n"), 4},
        {"three-digit byte", BytesOf("REGEDIT4\n[HKLM\\A]\n\"a\"=hex:100\n"), 3},
        {"unclosed name", BytesOf("REGEDIT4\n[HKLM\\A]\n\"a=\"b\"\n"), 3},
        {"unclosed text", BytesOf("REGEDIT4\n[HKLM\\A]\n\"a\"=\"b\n"), 3},
        {"single backslash", BytesOf("REGEDIT4\n[HKLM\\A]\n\"a\"=\"C:\\temp\"\n"), 3},
        {"no equals sign", BytesOf("REGEDIT4\n[HKLM\\A]\n\"a\" dword:1\n"), 3},
        {"unknown data", BytesOf("REGEDIT4\n[HKLM\\A]\n\"a\"=qword:1\n"), 3},
        {"unclosed key", BytesOf("REGEDIT4\n[HKLM\\A\n"), 2},
        {"stray text", BytesOf("REGEDIT4\n[HKLM\\A]\nhello\n"), 3},
        {"bad byte after continuation", BytesOf("REGEDIT4\n[HKLM\\A]\n\"a\"=hex:01,\\\n  0g\n"), 3},
        {"whole hive deleted", BytesOf("REGEDIT4\n[-HKEY_LOCAL_MACHINE]\n"), 2},
        {"odd UTF-16 text", BytesOf("Windows Registry Editor Version 5.00\n[HKLM\\A]\n\"a\"=hex(2):41\n"),
         3},
    };
    for (const Case& c : cases) {
        const RegFileParse parsed = ParseRegFile(c.file);
        EXPECT_EQ(parsed.errorLine, c.line) << c.what << ": " << parsed.error;
        EXPECT_FALSE(parsed.error.empty()) << c.what;
        EXPECT_TRUE(parsed.ops.empty()) << c.what;
    }
}

TEST_F(RegFileTest, FileWithAnErrorImportsNothing) {
    ASSERT_TRUE(WriteValueByPath(HKEY_LOCAL_MACHINE, "Before\\v", Variant(1), vkInteger));
    const std::string file =
        WriteFile("broken.reg", Utf16File("Windows Registry Editor Version 5.00\r\n"
                                          "\r\n"
                                          "[-HKEY_LOCAL_MACHINE\\Before]\r\n"
                                          "[HKEY_LOCAL_MACHINE\\New]\r\n"
                                          "\"a\"=dword:00000001\r\n"
                                          "[HKEY_CURRENT_USER\\New]\r\n"
                                          "\"b\"=dword:0000000g\r\n"));
    const ProcessResult r = Reg({"import", file});
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("line 7"));
    EXPECT_THAT(r.err, HasSubstr("Nothing was imported"));
    EXPECT_TRUE(ValueExistsByPath(HKEY_LOCAL_MACHINE, "Before\\v"));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, "New"));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, "New"));
}

TEST_F(RegFileTest, ExportThenImportGivesBackTheSameStore) {
    const RegistryKey root = RegistryKey::Open(HKEY_LOCAL_MACHINE, "Software\\Trip", true);
    Bytes big;
    for (int i = 0; i < 300; ++i)
        big.push_back(static_cast<std::uint8_t>(i * 7));
    const RegValue values[] = {
        {"", REG_SZ, {'d', 0}},
        {"plain", REG_SZ, BytesOf(std::string_view("Dial Net\0", 9))},
        {"quote \" and \\", REG_SZ, BytesOf(std::string_view("C:\\\"x\"\0", 7))},
        {"\xC3\x9Cnet \xE2\x82\xAC \xF0\x9F\x93\x9E", REG_SZ,
         BytesOf(std::string_view("\xC3\xBC\xF0\x9F\x93\x9E\0", 7))},
        {"lines", REG_SZ, BytesOf(std::string_view("a\r\nb\0", 5))},
        {"unterminated", REG_SZ, BytesOf("abc")},
        {"two zeros", REG_SZ, BytesOf(std::string_view("a\0b\0", 4))},
        {"not utf8", REG_SZ, {0xFF, 0xC3, 'x', 0xED, 0xA0, 0x80, 0}},
        {"empty sz", REG_SZ, {}},
        {"expand", REG_EXPAND_SZ, BytesOf(std::string_view("%TEMP%\\q\0", 9))},
        {"dword", REG_DWORD, {0xFF, 0xFF, 0xFF, 0xFF}},
        {"short dword", REG_DWORD, {1, 2, 3}},
        {"big", REG_BINARY, big},
        {"empty bin", REG_BINARY, {}},
        {"multi", REG_MULTI_SZ, {'a', 0, 0, 0, 0, 0}},
        {"qword", REG_QWORD, {1, 2, 3, 4, 5, 6, 7, 8}},
        {"none", REG_NONE, {}},
        {"type 0x1234", 0x1234, {9}},
    };
    for (const RegValue& v : values)
        root.SetValue(v.name, v.type, v.data);
    RegistryKey::Open(HKEY_LOCAL_MACHINE, "Software\\Trip\\Sub\\Empty", true);
    RegistryKey::Open(HKEY_LOCAL_MACHINE, "Software\\Trip\\b", true)
        .SetValue("x", REG_DWORD, Bytes{1, 0, 0, 0});
    RegistryKey::Open(HKEY_LOCAL_MACHINE, "Software\\Trip\\A [x]", true);
    const std::vector<KeyContent> before = Tree(HKEY_LOCAL_MACHINE, "Software");

    const std::string file = (StoreFolder() / "trip.reg").string();
    const ProcessResult exported = Reg({"export", "HKLM\\software", file});
    ASSERT_EQ(exported.status, 0) << exported.err;
    std::ifstream in(file, std::ios::binary);
    const Bytes content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_GT(content.size(), 2u);
    const std::string text = Utf16LeToUtf8(content.data() + 2, content.size() - 2);
    EXPECT_EQ(content[0], 0xFF);
    EXPECT_EQ(content[1], 0xFE);
    EXPECT_TRUE(text.starts_with(
        "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\Software]\r\n"));
    EXPECT_THAT(text, HasSubstr("\"plain\"=\"Dial Net\"\r\n"));
    EXPECT_THAT(text, HasSubstr("\"dword\"=dword:ffffffff\r\n"));
    EXPECT_THAT(text, HasSubstr("\"expand\"=hex(2):25,00,54,00"));

    ASSERT_TRUE(DeleteKeyTree(HKEY_LOCAL_MACHINE, "Software"));
    const ProcessResult imported = Reg({"import", file});
    ASSERT_EQ(imported.status, 0) << imported.err;
    EXPECT_EQ(Tree(HKEY_LOCAL_MACHINE, "Software"), before);
}

} // namespace
} // namespace quorvane::test
