#include "accounting/charges.h"

#include "core/regional.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace quorvane {

namespace {

bool IsDigit(char c) {
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

// Removes the thousands separators of a grouped whole part ("1,234,567.50"), or nullopt when
// the text is not grouped in threes.
std::optional<std::string> Ungroup(std::string_view text, std::string_view sep) {
    if (sep.empty())
        return std::nullopt;
    std::string_view s = TrimBlanks(text);
    std::string out;
    if (!s.empty() && (s.front() == '-' || s.front() == '+')) {
        out += s.front();
        s.remove_prefix(1);
    }
    // The whole part ends at the decimal point; where the separator is itself the point, the
    // last point is the decimal one.
    const std::size_t point = sep == "." ? s.rfind('.') : s.find('.');
    std::string_view whole = s.substr(0, point);
    const std::string_view rest = point == std::string_view::npos ? "" : s.substr(point);
    std::size_t group = 0;
    bool first = true;
    while (true) {
        const std::size_t at = whole.find(sep);
        const std::string_view digits = whole.substr(0, at);
        if (digits.empty() || digits.size() > 3 || (!first && digits.size() != 3))
            return std::nullopt;
        for (char c : digits) {
            if (!IsDigit(c))
                return std::nullopt;
        }
        out += digits;
        ++group;
        first = false;
        if (at == std::string_view::npos)
            break;
        whole.remove_prefix(at + sep.size());
    }
    if (group < 2)
        return std::nullopt;
    out += rest;
    return out;
}

} // namespace

std::optional<std::int64_t> ParseInteger(std::string_view text) {
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    if (text.empty())
        return std::nullopt;
    int base = 10;
    bool negative = false;
    if (text.front() == '$') {
        base = 16;
        text.remove_prefix(1);
    } else if (text.front() == '-' || text.front() == '+') {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty())
        return std::nullopt;
    std::int64_t value = 0;
    constexpr std::int64_t kLimit = std::numeric_limits<std::int32_t>::max();
    for (char c : text) {
        const int digit = HexDigitValue(c);
        if (digit < 0 || digit >= base)
            return std::nullopt;
        value = value * base + digit;
        if (value > kLimit + 1)
            return std::nullopt; // beyond a 32-bit integer: not a whole number the field can hold
    }
    if (negative)
        value = -value;
    if (value > kLimit || value < -kLimit - 1)
        return std::nullopt;
    return value;
}

std::optional<double> ParsePrice(std::string_view text) {
    if (auto plain = ParseDecimal(text))
        return plain;
    if (auto ungrouped = Ungroup(text, Regional().thousandSeparator))
        return ParseDecimal(*ungrouped);
    return std::nullopt;
}

PriceFieldCheck CheckPriceField(std::string_view text) {
    // Beyond this the cents of an amount are no longer exact, and no plan charges so much.
    constexpr double kTooLarge = 1e12;
    double amount = ParsePrice(text).value_or(0.0);
    if (!(std::fabs(amount) < kTooLarge))
        amount = 0.0;
    PriceFieldCheck check{FormatAmount(amount), false};
    check.required = ParsePrice(check.text).value_or(0.0) == 0.0;
    return check;
}

bool IsPeakTimeText(std::string_view text) {
    if (text.find(':') == std::string_view::npos)
        return false;
    const std::string lower = AsciiLower(text);
    bool marked = lower.find("am") != std::string::npos || lower.find("pm") != std::string::npos;
    for (const std::string& regional : {Regional().timeAMString, Regional().timePMString}) {
        if (!regional.empty() && lower.find(AsciiLower(regional)) != std::string::npos)
            marked = true;
    }
    return marked && ParseTime(text).has_value();
}

std::string FormatCharges(const BillingInputs& billing, TimerSet& timers,
                          const std::function<void()>& playAlarm,
                          const std::function<void(const std::string& charges)>& usedUp) {
    const std::string& currency = Regional().currencyString;
    if (!billing.billingEnabled)
        return currency + "0.00";
    const std::int64_t hours = std::get<std::int32_t>(DurationPart(timers.TotalTime, 0));
    const auto freeHours = ParseInteger(StripSpaces(billing.freeHours));
    if (freeHours && *freeHours != 0) {
        if (hours <= *freeHours)
            return currency + "0.00";
        // A price that is blank, or (only from a hand-edited store) no number at all, has no
        // amount to multiply.
        const auto price =
            StripSpaces(billing.price).empty() ? std::nullopt : ParsePrice(billing.price);
        const std::string charges =
            currency + (price ? FormatAmount(static_cast<double>(hours - *freeHours) * *price)
                              : std::string(kNoPriceSet));
        if (billing.sessionRunning && usedUp)
            usedUp(charges);
        if (!StripSpaces(billing.wavAlarm).empty() && !timers.AlarmPlayed &&
            billing.sessionRunning) {
            timers.AlarmPlayed = true;
            if (playAlarm)
                playAlarm();
        }
        return charges;
    }
    const double price = ParsePrice(StripSpaces(billing.price)).value_or(0.0);
    if (price == 0.0)
        return currency + "0.00";
    const std::int64_t minutes = timers.TotalTime / 60;
    return currency + FormatAmount(price * static_cast<double>(minutes));
}

int SecondOfDay(DateTime value) {
    const double fraction = value - std::floor(value);
    const auto ms = static_cast<long long>(std::llround(fraction * 86400000.0));
    return static_cast<int>((ms / 1000) % 86400);
}

bool InsidePeakPeriod(int secondOfDay, int startSecond, int stopSecond) {
    return startSecond <= secondOfDay && secondOfDay <= stopSecond;
}

std::optional<bool> InsidePeakPeriod(DateTime now, std::string_view start, std::string_view stop) {
    const auto from = ParseTime(start);
    const auto to = ParseTime(stop);
    if (!from || !to)
        return std::nullopt;
    return InsidePeakPeriod(SecondOfDay(now), SecondOfDay(*from), SecondOfDay(*to));
}

} // namespace quorvane
