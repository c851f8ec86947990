#include "core/regional.h"

#include "core/text.h"

#include <array>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <langinfo.h>
#include <locale.h>

namespace quorvane {

namespace {

// Expands the composite directives so %p is always visible to FormatPattern.
std::string ExpandComposites(std::string pattern, const std::string& ampmTime) {
    std::string out;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == '%' && i + 1 < pattern.size()) {
            const char d = pattern[i + 1];
            const char* with = nullptr;
            if (d == 'r')
                with = ampmTime.c_str();
            else if (d == 'T')
                with = "%H:%M:%S";
            else if (d == 'R')
                with = "%H:%M";
            else if (d == 'D')
                with = "%m/%d/%y";
            if (with) {
                out += with;
            } else {
                out += pattern.substr(i, 2);
            }
            ++i;
        } else {
            out += pattern[i];
        }
    }
    return out;
}

tm ToTm(DateTime value) {
    // Rounded to the millisecond first, so a moment a hair before midnight is midnight of the
    // next day and not the last second of the old one.
    const long long totalMs = std::llround(value * 86400000.0);
    long long days = totalMs / 86400000;
    if (totalMs % 86400000 < 0)
        --days;
    const long long ms = totalMs - days * 86400000;
    const CivilDate date = DecodeDate(static_cast<DateTime>(days));
    const long long secs = ms / 1000;
    tm t{};
    t.tm_year = date.year - 1900;
    t.tm_mon = date.month - 1;
    t.tm_mday = date.day;
    t.tm_hour = static_cast<int>(secs / 3600);
    t.tm_min = static_cast<int>(secs / 60 % 60);
    t.tm_sec = static_cast<int>(secs % 60);
    // Weekday: day 0 of DateTime (30 December 1899) was a Saturday.
    t.tm_wday = static_cast<int>(((days + 6) % 7 + 7) % 7);
    return t;
}

std::string FormatPattern(const std::string& pattern, DateTime value) {
    const RegionalSettings& r = Regional();
    const tm t = ToTm(value);
    // %p is ours (the regional texts); every other directive is strftime's.
    std::string expanded = ExpandComposites(pattern, "%I:%M:%S %p");
    std::string withAmPm;
    for (std::size_t i = 0; i < expanded.size(); ++i) {
        if (expanded[i] == '%' && i + 1 < expanded.size()) {
            if (expanded[i + 1] == 'p' || expanded[i + 1] == 'P') {
                for (char c : t.tm_hour < 12 ? r.timeAMString : r.timePMString) {
                    withAmPm += c;
                    if (c == '%')
                        withAmPm += '%';
                }
            } else {
                withAmPm += expanded.substr(i, 2);
            }
            ++i;
        } else {
            withAmPm += expanded[i];
        }
    }
    if (withAmPm.empty())
        return {};
    char buffer[256];
    const std::size_t n = std::strftime(buffer, sizeof buffer, withAmPm.c_str(), &t);
    return std::string(buffer, n);
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    if (prefix.empty() || text.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(text[i])) !=
            std::toupper(static_cast<unsigned char>(prefix[i])))
            return false;
    }
    return true;
}

bool EndsWithNoCase(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() &&
           StartsWithNoCase(text.substr(text.size() - suffix.size()), suffix);
}

} // namespace

std::optional<RegionalSettings> RegionalSettings::FromLocale(const std::string& name) {
    locale_t loc = newlocale(LC_ALL_MASK, name.c_str(), static_cast<locale_t>(nullptr));
    if (loc == static_cast<locale_t>(nullptr))
        return std::nullopt;
    RegionalSettings r;
    const std::string ampmTime = nl_langinfo_l(T_FMT_AMPM, loc);
    r.shortDateFormat = nl_langinfo_l(D_FMT, loc);
    r.longTimeFormat =
        ExpandComposites(nl_langinfo_l(T_FMT, loc), ampmTime.empty() ? "%H:%M:%S" : ampmTime);
    r.timeAMString = nl_langinfo_l(AM_STR, loc);
    r.timePMString = nl_langinfo_l(PM_STR, loc);
    // CRNCYSTR leads with a mark for where the symbol goes ('-' before, '+' after, '.' in place
    // of the radix); only the symbol itself is wanted.
    std::string currency = nl_langinfo_l(CRNCYSTR, loc);
    if (!currency.empty() && (currency[0] == '-' || currency[0] == '+' || currency[0] == '.'))
        currency.erase(0, 1);
    r.currencyString = currency;
    r.thousandSeparator = nl_langinfo_l(THOUSEP, loc);
    r.decimalSeparator = nl_langinfo_l(RADIXCHAR, loc);
    freelocale(loc);
    return r;
}

RegionalSettings& Regional() {
    static RegionalSettings settings;
    return settings;
}

std::string FormatShortDate(DateTime value) {
    return FormatPattern(Regional().shortDateFormat, value);
}

std::string FormatLongTime(DateTime value) {
    return FormatPattern(Regional().longTimeFormat, value);
}

std::optional<DateTime> ParseTime(std::string_view text) {
    const RegionalSettings& r = Regional();
    std::string_view rest = TrimBlanks(text);
    int marker = 0; // 0 none, 1 AM, 2 PM
    for (auto [word, kind] : {std::pair<std::string_view, int>{r.timeAMString, 1},
                              {r.timePMString, 2},
                              {"AM", 1},
                              {"PM", 2}}) {
        if (word.empty())
            continue;
        if (EndsWithNoCase(rest, word)) {
            rest = TrimBlanks(rest.substr(0, rest.size() - word.size()));
        } else if (StartsWithNoCase(rest, word)) {
            rest = TrimBlanks(rest.substr(word.size()));
        } else {
            continue;
        }
        marker = kind;
        break;
    }
    int fields[3] = {0, 0, 0};
    int count = 0;
    std::size_t i = 0;
    while (true) {
        if (count == 3)
            return std::nullopt;
        int digits = 0, value = 0;
        while (i < rest.size() && std::isdigit(static_cast<unsigned char>(rest[i])) && digits < 3) {
            value = value * 10 + (rest[i] - '0');
            ++i;
            ++digits;
        }
        if (digits == 0 || digits > 2)
            return std::nullopt;
        fields[count++] = value;
        if (i == rest.size())
            break;
        if (rest[i] != ':')
            return std::nullopt;
        ++i;
    }
    int hour = fields[0];
    const int minute = fields[1], second = fields[2];
    if (minute > 59 || second > 59)
        return std::nullopt;
    if (marker != 0) {
        if (hour > 12)
            return std::nullopt;
        if (hour == 12)
            hour = 0;
        if (marker == 2)
            hour += 12;
    } else if (hour > 23) {
        return std::nullopt;
    }
    return EncodeTime(hour, minute, second);
}

std::string FormatAmount(double amount) {
    const bool negative = amount < 0;
    // Rounded on the decimal digits a user sees, so 2.675 gives 2.68 and not 2.67.
    char digits[64];
    std::snprintf(digits, sizeof digits, "%.10f", std::fabs(amount));
    long double value = std::strtold(digits, nullptr);
    const long double cents = std::floor(value * 100.0L + 0.5L + 1e-9L);
    const auto whole = static_cast<unsigned long long>(cents / 100.0L);
    const auto fraction = static_cast<unsigned>(cents - static_cast<long double>(whole) * 100.0L);
    std::string integer = std::to_string(whole);
    std::string grouped;
    const std::string& sep = Regional().thousandSeparator;
    for (std::size_t i = 0; i < integer.size(); ++i) {
        if (i > 0 && (integer.size() - i) % 3 == 0)
            grouped += sep;
        grouped += integer[i];
    }
    char tail[8];
    std::snprintf(tail, sizeof tail, ".%02u", fraction);
    const bool zero = whole == 0 && fraction == 0;
    return (negative && !zero ? "-" : "") + grouped + tail;
}

std::string FormatDataVolume(std::uint64_t bytes) {
    static constexpr std::array<const char*, 7> kUnits = {"B", "kB", "MB", "GB", "TB", "PB", "EB"};
    if (bytes < 1000)
        return std::to_string(bytes) + " B";
    // Integer arithmetic on 128 bits: exact rounding for every 64-bit count.
    using Wide = unsigned __int128;
    std::size_t unit = 1;
    Wide scale = 1000;
    while (unit + 1 < kUnits.size() && bytes / scale >= 1000) {
        scale *= 1000;
        ++unit;
    }
    for (;;) {
        const Wide whole = bytes / scale;
        const int decimals = whole < 10 ? 2 : whole < 100 ? 1 : 0;
        Wide factor = 1;
        for (int i = 0; i < decimals; ++i)
            factor *= 10;
        const Wide rounded = (Wide{bytes} * factor + scale / 2) / scale;
        // 999.6 kB rounds to 1000 kB, which is written as 1 MB.
        if (rounded >= 1000 * factor && unit + 1 < kUnits.size()) {
            scale *= 1000;
            ++unit;
            continue;
        }
        std::string text = std::to_string(static_cast<std::uint64_t>(rounded / factor));
        std::string fraction;
        for (Wide rest = rounded % factor, digit = factor / 10; digit > 0; digit /= 10) {
            fraction += static_cast<char>('0' + static_cast<int>(rest / digit));
            rest %= digit;
        }
        while (!fraction.empty() && fraction.back() == '0')
            fraction.pop_back();
        if (!fraction.empty())
            text += Regional().decimalSeparator + fraction;
        return text + " " + kUnits[unit];
    }
}

} // namespace quorvane
