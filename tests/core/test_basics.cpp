#include "core/datetime.h"
#include "core/lazy_library.h"
#include "core/text.h"
#include "core/text_codec.h"

#include <cstring>

#include <gtest/gtest.h>

#include <clocale>
#include <string>

namespace quorvane {
namespace {

TEST(Dates, EncodeDecodeAndDayOfDate) {
    EXPECT_EQ(EncodeDate(2000, 1, 1), 36526.0);
    EXPECT_EQ(EncodeDate(1899, 12, 30), 0.0);
    const CivilDate d = DecodeDate(EncodeDate(2024, 2, 29) + 0.75);
    EXPECT_EQ(d.year, 2024);
    EXPECT_EQ(d.month, 2);
    EXPECT_EQ(d.day, 29);
    EXPECT_EQ(DayOfDate(EncodeDate(2026, 12, 31) + EncodeTime(23, 59, 59)), 31);
    EXPECT_EQ(DateOf(36526.99), 36526.0);
}

TEST(StringHelpers, Cases) {
    EXPECT_EQ(StripSpaces(" 1 2 "), "12");
    EXPECT_EQ(StripSpaces("   "), "");
    EXPECT_EQ(StripChar("a\\b\\", '\\'), "ab");
    EXPECT_EQ(PadLeft("7", '0', 3), "007");
    EXPECT_EQ(PadLeft("1234", '0', 3), "1234");
    EXPECT_EQ(LastChar("Key\\"), '\\');
    EXPECT_EQ(DropLastChar("Key\\"), "Key");
    EXPECT_EQ(DropLastChar(""), "");
}

TEST(ParseDecimal, APointWhateverTheLocaleSays) {
    // The window's toolkit switches the C library to the user's locale, whose decimal mark may
    // be a comma; prices are still written with a point.
    const std::string before = std::setlocale(LC_NUMERIC, nullptr);
    ASSERT_NE(std::setlocale(LC_NUMERIC, "de_DE.UTF-8"), nullptr);
    EXPECT_EQ(ParseDecimal("2.50"), 2.5);
    EXPECT_EQ(ParseDecimal(" +1e3\t"), 1000.0);
    EXPECT_EQ(ParseDecimal("2,50"), std::nullopt);
    EXPECT_EQ(ParseDecimal("1e999"), std::nullopt);
    EXPECT_EQ(ParseDecimal("."), std::nullopt);
    std::setlocale(LC_NUMERIC, before.c_str());
}

TEST(TextHelpers, TrimsFoldsAndHexDigits) {
    EXPECT_EQ(TrimBlanks(" \ta b\t "), "a b");
    EXPECT_EQ(AsciiLower("REG_Sz-\xC3\x84"), "reg_sz-\xC3\x84");
    EXPECT_TRUE(EqualsIgnoringAsciiCase("HKLM", "hklm"));
    EXPECT_FALSE(EqualsIgnoringAsciiCase("HKLM", "HKLM "));
    EXPECT_EQ(HexDigitValue('f'), 15);
    EXPECT_EQ(HexDigitValue('G'), -1);
}

// What a terminal is given of a stored text, and what a CSV file is.
TEST(TextHelpers, EscapedForTheTerminalAndMadeValidUtf8) {
    struct Case {
        std::string text;
        std::string terminal;
        std::string valid;
    };
    const Case cases[] = {
        {"Dial Net \xC3\xA9\xE4\xB8\xAD", "Dial Net \xC3\xA9\xE4\xB8\xAD",
         "Dial Net \xC3\xA9\xE4\xB8\xAD"},
        {"a\tb\nc\rd", "a\\tb\\nc\\rd", "a\tb\nc\rd"},
        {"\x1B[2J\x07\x7F", "\\x1b[2J\\x07\\x7f", "\x1B[2J\x07\x7F"},
        {std::string("a\0b", 3), "a\\x00b", "a\uFFFDb"},
        {"C:\\x", "C:\\\\x", "C:\\x"},
        {"Caf\xE9 \xC0\xAF", "Caf\\xe9 \\xc0\\xaf", "Caf\xEF\xBF\xBD \xEF\xBF\xBD\xEF\xBF\xBD"},
        // C1 CSI, the line separator, a right-to-left override and an isolate.
        {"\u009B1m \u2028 \u202Eabc \u2066", "\\u009b1m \\u2028 \\u202eabc \\u2066",
         "\u009B1m \u2028 \u202Eabc \u2066"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(EscapedForTerminal(c.text), c.terminal);
        EXPECT_EQ(ReplacingInvalidUtf8(c.text), c.valid);
    }
}

#define TEST_CALLS(X) X(strlen)
struct TestCalls {
    TEST_CALLS(QUORVANE_CALL_MEMBER)
};
bool BindTestCalls(void* handle, TestCalls& calls) {
    return true TEST_CALLS(QUORVANE_CALL_LOOK_UP);
}
bool BindMissingCall(void* handle, TestCalls& calls) {
    return LookUp(handle, "quorvane_no_such_call", calls.strlen);
}

// A library loaded on first use gives its calls, or names itself and the loader's reason.
TEST(LazyLibrary, GivesTheCallsOrSaysWhyNot) {
    LazyLibrary<TestCalls> c("libc.so.6", BindTestCalls);
    EXPECT_EQ(c.Get().strlen("dial"), 4u);
    EXPECT_EQ(&c.Get(), &c.Get());

    const struct {
        const char* name;
        LazyLibrary<TestCalls>::Bind bind;
        const char* reason;
    } failures[] = {
        {"libquorvane-none.so.9", BindTestCalls, "No such file"},
        {"libc.so.6", BindMissingCall, "quorvane_no_such_call"},
    };
    for (const auto& f : failures) {
        SCOPED_TRACE(f.name);
        LazyLibrary<TestCalls> library(f.name, f.bind);
        for (int attempt = 0; attempt < 2; ++attempt) { // a later call tries again
            try {
                library.Get();
                ADD_FAILURE() << "loaded";
            } catch (const ELibraryNotLoaded& e) {
                const std::string what = e.what();
                EXPECT_EQ(what.rfind(std::string(f.name) + ": ", 0), 0u) << what;
                EXPECT_NE(what.find(f.reason), std::string::npos) << what;
            }
        }
    }
}

} // namespace
} // namespace quorvane
