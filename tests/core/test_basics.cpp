#include "core/datetime.h"
#include "core/text.h"

#include <gtest/gtest.h>

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

} // namespace
} // namespace quorvane
