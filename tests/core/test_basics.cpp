#include "core/datetime.h"
#include "core/text.h"

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

} // namespace
} // namespace quorvane
