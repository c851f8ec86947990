#pragma once
// What the provider's plan makes of the online time: the charges text and the free-hours alarm,
// and which clock times belong to the daily peak period; and what the Billing page's price and
// peak-period fields accept when they are left.

#include "accounting/timevalues.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace quorvane {

// A whole number as the free-hours field takes it: optional leading blanks, then an optional
// sign and decimal digits, or "$" and hexadecimal digits, and nothing after. Empty is none.
std::optional<std::int64_t> ParseInteger(std::string_view text);

// A price as the price field shows it: a decimal number, or one whose whole part is grouped in
// threes with the regional thousands separator ("1,000.00", or "1.000.00" where the separator
// is the point), since that is how the field itself writes prices of 1000 and more.
std::optional<double> ParsePrice(std::string_view text);

// What the price field makes of its text when it is left: the amount written "#,##0.00" (a text
// that is no price, or one of 12 whole digits or more, becomes "0.00"), and whether the field
// still asks for a price because that amount is 0. The text written reads back through
// ParsePrice as the same amount, also with the thousands separator of 1000 and more.
struct PriceFieldCheck {
    std::string text;
    bool required = false;
};
PriceFieldCheck CheckPriceField(std::string_view text);

// Whether a peak period's start or stop field holds a clock time as the field asks for it: a
// ":", an AM or PM marker ("AM"/"PM" in any letter case, in every locale, or the regional
// texts), and a time that ParseTime reads ("10:00 pm", "08:00:00 AM"; not "25:00:00 PM").
bool IsPeakTimeText(std::string_view text);

// The billing settings of the loaded provider, as their controls hold them.
struct BillingInputs {
    bool billingEnabled = false;
    std::string freeHours = "0";
    std::string price = "0.00";
    std::string wavAlarm;
    bool sessionRunning = false;
};

// Shown instead of an amount when the free hours are used up and no price is set.
inline constexpr std::string_view kNoPriceSet = "no price set";

// The charges text: the regional currency string followed by the amount ("#,##0.00") under the
// extra-hour rule (free hours not 0) or the per-minute rule (free hours 0). Under the extra-hour
// rule, once the whole hours of TotalTime exceed the free hours during a session with an alarm
// file set, `playAlarm` runs once per program run. AlarmPlayed is set before it runs, so a
// message box that the alarm raises cannot bring the alarm back while it waits for its answer.
// `usedUp`, when given, runs with the charges text at every computation during a session that
// finds the free hours used up, whether or not an alarm file is set, before the alarm (so a
// notice is on screen while the sound plays); telling the user once is the caller's part.
std::string FormatCharges(const BillingInputs& billing, TimerSet& timers,
                          const std::function<void()>& playAlarm,
                          const std::function<void(const std::string& charges)>& usedUp = {});

// Seconds since midnight of a DateTime's time of day (milliseconds dropped).
int SecondOfDay(DateTime value);

// The peak-period rule: both ends belong to the period; a start after the stop leaves nothing
// inside. Whole seconds, so a tick at 06:00:00.4 PM is still inside a period ending 06:00:00 PM.
bool InsidePeakPeriod(int secondOfDay, int startSecond, int stopSecond);

// The rule on the texts of the peak fields; nullopt when either is not a clock time.
std::optional<bool> InsidePeakPeriod(DateTime now, std::string_view start, std::string_view stop);

} // namespace quorvane
