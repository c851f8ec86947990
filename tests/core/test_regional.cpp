#include "core/regional.h"

#include <gtest/gtest.h>

namespace quorvane {
namespace {

// Restores the program-wide settings after each test changes them.
class RegionalTest : public testing::Test {
protected:
    void TearDown() override { Regional() = saved_; }
    RegionalSettings saved_ = Regional();
};

TEST_F(RegionalTest, ReadsTheUsersLocale) {
    const auto us = RegionalSettings::FromLocale("en_US.UTF-8");
    const auto de = RegionalSettings::FromLocale("de_DE.UTF-8");
    if (!us || !de)
        GTEST_SKIP() << "en_US/de_DE locales not compiled (scripts/test builds them)";
    const DateTime evening = EncodeDate(2026, 3, 7) + EncodeTime(22, 0, 0);

    Regional() = *us;
    EXPECT_EQ(FormatLongTime(evening), "10:00:00 PM");
    EXPECT_EQ(FormatShortDate(evening), "03/07/2026");
    EXPECT_EQ(Regional().currencyString, "$");
    EXPECT_EQ(FormatAmount(1234.5), "1,234.50");
    EXPECT_EQ(Regional().decimalSeparator, ".");

    Regional() = *de;
    EXPECT_EQ(FormatLongTime(evening), "22:00:00");
    EXPECT_EQ(FormatShortDate(evening), "07.03.2026");
    EXPECT_EQ(Regional().currencyString, "€");
    EXPECT_EQ(Regional().thousandSeparator, ".");
    EXPECT_EQ(Regional().decimalSeparator, ",");

    EXPECT_FALSE(RegionalSettings::FromLocale("xx_NOWHERE.UTF-8"));
}

TEST_F(RegionalTest, AmPmTextsComeFromTheSettings) {
    Regional().timeAMString = "vorm.";
    Regional().timePMString = "nachm.";
    EXPECT_EQ(FormatLongTime(EncodeTime(9, 5, 7)), "09:05:07 vorm.");
    EXPECT_EQ(FormatLongTime(EncodeTime(12, 0, 0)), "12:00:00 nachm.");
    EXPECT_EQ(ParseTime("9:05 nachm."), EncodeTime(21, 5, 0));
}

TEST_F(RegionalTest, AHairBeforeMidnightIsMidnight) {
    const DateTime almost = EncodeDate(2026, 12, 31) + 1.0 - 1e-10;
    EXPECT_EQ(FormatLongTime(almost), "12:00:00 AM");
    EXPECT_EQ(FormatShortDate(almost), "01/01/2027");
}

TEST_F(RegionalTest, ParseTimeCases) {
    const std::pair<const char*, std::optional<DateTime>> cases[] = {
        {"10:00:00 AM", EncodeTime(10, 0, 0)},
        {"10:00 pm", EncodeTime(22, 0, 0)},
        {"12:00:00 AM", EncodeTime(0, 0, 0)},
        {"12:30:00 PM", EncodeTime(12, 30, 0)},
        {"06:00:01 PM", EncodeTime(18, 0, 1)},
        {"  8:00:00   AM ", EncodeTime(8, 0, 0)},
        {"PM 1:02:03", EncodeTime(13, 2, 3)},
        {"22:00:00", EncodeTime(22, 0, 0)},
        {"25:00:00 PM", std::nullopt},
        {"13:00:00 PM", std::nullopt},
        {"10:60:00 AM", std::nullopt},
        {"10:00:00:00 AM", std::nullopt},
        {"10::00 AM", std::nullopt},
        {"ten AM", std::nullopt},
        {"", std::nullopt},
        {"24:00:00", std::nullopt},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(ParseTime(text), expected) << text;
}

TEST_F(RegionalTest, AmountFormat) {
    Regional().thousandSeparator = ",";
    const std::pair<double, const char*> cases[] = {
        {0, "0.00"},
        {2, "2.00"},
        {6.5, "6.50"},
        {2.675, "2.68"},
        {999.995, "1,000.00"},
        {1234.5, "1,234.50"},
        {1234567.891, "1,234,567.89"},
        {-3, "-3.00"},
        {-1234.5, "-1,234.50"},
        {-0.001, "0.00"},
    };
    for (const auto& [amount, text] : cases)
        EXPECT_EQ(FormatAmount(amount), text) << amount;
    Regional().thousandSeparator = "";
    EXPECT_EQ(FormatAmount(1234.5), "1234.50");
}

} // namespace
} // namespace quorvane
