#include "accounting/charges.h"
#include "core/regional.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quorvane {
namespace {

constexpr Duration H(int h, int m = 0, int s = 0) {
    return h * 3600 + m * 60 + s;
}

class ChargesTest : public testing::Test {
protected:
    void SetUp() override {
        Regional().currencyString = "$";
        Regional().thousandSeparator = ",";
    }
    void TearDown() override { Regional() = saved_; }

    std::string Charges(BillingInputs billing, Duration total) {
        TimerSet timers;
        timers.TotalTime = total;
        return FormatCharges(billing, timers, [this] { ++alarms_; });
    }

    RegionalSettings saved_ = Regional();
    int alarms_ = 0;
};

TEST_F(ChargesTest, RulesAndAmounts) {
    struct Case {
        bool enabled;
        const char* freeHours;
        const char* price;
        Duration total;
        const char* expected;
    };
    const Case cases[] = {
        {false, "5", "2.00", H(100), "$0.00"},
        {true, "5", "2.00", H(5, 59, 59), "$0.00"},
        {true, "5", "2.00", H(6), "$2.00"},
        {true, "5", "2.00", H(7, 30), "$4.00"},
        {true, "10", "1.50", H(12, 30), "$3.00"},
        {true, " 5 ", "2.00", H(7), "$4.00"},       // blanks around the free hours
        {true, "$A", "1.00", H(12), "$2.00"},       // hexadecimal free hours: 10
        {true, "0", "0.05", H(2, 10, 30), "$6.50"}, // 130 whole minutes
        {true, "0", "0.05", H(0, 0, 59), "$0.00"},  // not yet a whole minute
        {true, "0", "0", H(50), "$0.00"},
        {true, "0", "0.00", H(50), "$0.00"},
        {true, "0", " 0. 05", H(0, 10), "$0.50"},      // per-minute price read without blanks
        {true, "0", "1,234.50", H(0, 1), "$1,234.50"}, // the field's own grouping reads back
        {true, "5", "1,000.00", H(6), "$1,000.00"},
        {true, "0", "-3.00", H(0, 2), "$-6.00"}, // a negative price passes
        {true, "5", "-3.00", H(7), "$-6.00"},
        {true, "5", "", H(7), "$no price set"},    // used up, but nothing to charge with
        {true, "5", "abc", H(7), "$no price set"}, // hand-edited store
        {true, "0", "abc", H(7), "$0.00"},
        {true, "x", "0.05", H(0, 10), "$0.50"}, // not a whole number: per-minute rule
    };
    for (const Case& c : cases)
        EXPECT_EQ(Charges({c.enabled, c.freeHours, c.price, "", true}, c.total), c.expected)
            << c.freeHours << " / " << c.price << " / " << c.total;
}

TEST_F(ChargesTest, ThousandsFollowTheRegion) {
    EXPECT_EQ(Charges({true, "0", "1234.5", "", false}, H(0, 1)), "$1,234.50");
    Regional().thousandSeparator = ".";
    Regional().currencyString = "€";
    EXPECT_EQ(Charges({true, "0", "1234.5", "", false}, H(0, 1)), "€1.234.50");
    EXPECT_EQ(Charges({true, "0", "1.234.50", "", false}, H(0, 2)), "€2.469.00");
    EXPECT_EQ(Charges({true, "0", "1.5", "", false}, H(0, 2)), "€3.00");
}

TEST_F(ChargesTest, AlarmPlaysOncePerRunOnlyInASessionWithAFile) {
    TimerSet timers;
    BillingInputs billing{true, "5", "2.00", "/sounds/alarm.wav", true};
    timers.TotalTime = H(5, 59, 59);
    FormatCharges(billing, timers, [this] { ++alarms_; });
    EXPECT_EQ(alarms_, 0);
    timers.TotalTime = H(6);
    FormatCharges(billing, timers, [&] {
        EXPECT_TRUE(timers.AlarmPlayed) << "set before playing, so a box cannot re-enter";
        ++alarms_;
    });
    EXPECT_EQ(alarms_, 1);
    timers.TotalTime = H(7);
    FormatCharges(billing, timers, [this] { ++alarms_; });
    ClearTimers(timers);
    timers.TotalTime = H(8);
    FormatCharges(billing, timers, [this] { ++alarms_; });
    EXPECT_EQ(alarms_, 1);

    // No session, no file, or the per-minute rule: never.
    for (BillingInputs quiet : {BillingInputs{true, "5", "2.00", "/a.wav", false},
                                BillingInputs{true, "5", "2.00", "  ", true},
                                BillingInputs{true, "0", "2.00", "/a.wav", true},
                                BillingInputs{false, "5", "2.00", "/a.wav", true}}) {
        TimerSet fresh;
        fresh.TotalTime = H(9);
        FormatCharges(quiet, fresh, [this] { ++alarms_; });
        EXPECT_FALSE(fresh.AlarmPlayed);
    }
    EXPECT_EQ(alarms_, 1);
}

TEST_F(ChargesTest, FreeHoursUsedUpAreToldInASessionWithOrWithoutAnAlarmFile) {
    struct Case {
        BillingInputs billing;
        Duration total;
        const char* told; // the charges passed on, or nullptr for no call
    };
    const Case cases[] = {
        {{true, "5", "2.00", "", true}, H(6), "$2.00"},
        {{true, "5", "2.00", "/a.wav", true}, H(7), "$4.00"},
        {{true, "5", "", "", true}, H(6), "$no price set"},
        {{true, "5", "2.00", "", true}, H(5, 59, 59), nullptr},
        {{true, "5", "2.00", "", false}, H(9), nullptr}, // no session
        {{true, "0", "2.00", "", true}, H(9), nullptr},  // per-minute rule
        {{false, "5", "2.00", "", true}, H(9), nullptr},
    };
    for (const Case& c : cases) {
        TimerSet timers;
        timers.TotalTime = c.total;
        std::vector<std::string> events;
        const std::string text = FormatCharges(
            c.billing, timers, [&] { events.push_back("alarm"); },
            [&](const std::string& charges) { events.push_back(charges); });
        std::vector<std::string> expected;
        if (c.told)
            expected.push_back(c.told);
        if (c.told && !c.billing.wavAlarm.empty())
            expected.push_back(
                "alarm"); // the notice comes first, so it shows while the sound plays
        EXPECT_EQ(events, expected) << c.billing.freeHours << " / " << c.total;
        if (c.told) {
            EXPECT_EQ(text, c.told);
        }
    }
}

TEST(Numbers, WholeAndDecimalTexts) {
    EXPECT_EQ(ParseInteger("  -12"), -12);
    EXPECT_EQ(ParseInteger("$ff"), 255);
    EXPECT_EQ(ParseInteger("+7"), 7);
    for (const char* bad : {"", "  ", "5 ", "1.0", "-", "$", "$g", "99999999999", "0x10"})
        EXPECT_FALSE(ParseInteger(bad)) << bad;
    EXPECT_EQ(ParseDecimal(" 2.5 "), 2.5);
    EXPECT_EQ(ParseDecimal("-3"), -3.0);
    EXPECT_EQ(ParseDecimal("1e3"), 1000.0);
    EXPECT_EQ(ParseDecimal(".5"), 0.5);
    for (const char* bad : {"", "abc", "1,000.00", "1.2.3", "1e", "2,5", "1e999"})
        EXPECT_FALSE(ParseDecimal(bad)) << bad;
    for (const char* bad : {"1,00.00", ",100.00", "1,0000.00", "12,34"})
        EXPECT_FALSE(ParsePrice(bad)) << bad;
}

// What the price field writes back when it is left reads back as the same amount, so leaving
// it again changes nothing, whatever the thousands separator.
TEST_F(ChargesTest, ThePriceFieldWritesWhatItReadsBack) {
    struct Case {
        const char* separator;
        const char* typed;
        const char* written;
        bool required;
    };
    const Case cases[] = {
        {",", "2.5", "2.50", false},
        {",", "abc", "0.00", true},
        {",", "", "0.00", true},
        {",", "0", "0.00", true},
        {",", "0.004", "0.00", true},
        {",", "-3", "-3.00", false}, // a negative price passes
        {",", " 1e3 ", "1,000.00", false},
        {",", "1000", "1,000.00", false},
        {",", "1,000.00", "1,000.00", false},
        {",", "1234567.891", "1,234,567.89", false},
        {",", "999999999999.99", "999,999,999,999.99", false},
        {",", "1e12", "0.00", true}, // beyond any plan: no price
        {",", "1e300", "0.00", true},
        {".", "1000", "1.000.00", false},
        {".", "1.000.00", "1.000.00", false},
        {".", "2.5", "2.50", false}, // the point is always the decimal mark
        {" ", "1234.5", "1 234.50", false},
    };
    for (const Case& c : cases) {
        Regional().thousandSeparator = c.separator;
        const PriceFieldCheck check = CheckPriceField(c.typed);
        EXPECT_EQ(check.text, c.written) << c.separator << " " << c.typed;
        EXPECT_EQ(check.required, c.required) << c.separator << " " << c.typed;
        EXPECT_EQ(CheckPriceField(check.text).text, check.text) << c.separator << " " << c.typed;
    }
}

TEST_F(ChargesTest, PeakFieldsTakeAClockTimeWithAmOrPmInEveryLocale) {
    struct Case {
        const char* text;
        bool accepted;
    };
    const Case marked[] = {
        {"10:00:00 AM", true},  {"10:00 pm", true},      {"12:30:15 Pm", true},
        {"am 9:15", true},      {"10:00:00", false},     {"10 AM", false},
        {"25:00:00 PM", false}, {"13:00:00 PM", false},  {"", false},
        {"10:61:00 AM", false}, {"10:00:00 AM!", false},
    };
    // A 24-hour locale with no AM/PM texts of its own, and one with texts of its own.
    for (const auto& [am, pm] :
         {std::pair<const char*, const char*>{"AM", "PM"}, {"", ""}, {"vorm.", "nachm."}}) {
        Regional().timeAMString = am;
        Regional().timePMString = pm;
        for (const Case& c : marked)
            EXPECT_EQ(IsPeakTimeText(c.text), c.accepted) << c.text << " with " << am;
    }
    EXPECT_TRUE(IsPeakTimeText("10:00:00 nachm."));
    EXPECT_FALSE(IsPeakTimeText("22:00:00"));
}

TEST(PeakPeriod, BothEndsInsideAndNoWrapAcrossMidnight) {
    const DateTime day = EncodeDate(2026, 12, 10);
    const auto at = [&](int h, int m, int s, int ms = 0) { return day + EncodeTime(h, m, s, ms); };
    EXPECT_EQ(InsidePeakPeriod(at(8, 0, 0), "08:00:00 AM", "06:00:00 PM"), true);
    EXPECT_EQ(InsidePeakPeriod(at(18, 0, 0, 400), "08:00:00 AM", "06:00:00 PM"), true);
    EXPECT_EQ(InsidePeakPeriod(at(18, 0, 1), "08:00:00 AM", "06:00:00 PM"), false);
    EXPECT_EQ(InsidePeakPeriod(at(7, 59, 59), "08:00:00 AM", "06:00:00 PM"), false);
    for (int h : {0, 3, 12, 22, 23})
        EXPECT_EQ(InsidePeakPeriod(at(h, 0, 0), "10:00:00 PM", "06:00:00 AM"), false) << h;
    EXPECT_EQ(InsidePeakPeriod(at(9, 0, 0), "", "06:00:00 PM"), std::nullopt);
}

} // namespace
} // namespace quorvane
