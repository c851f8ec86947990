#pragma once
// The user's regional formats, read once at start-up and held in one program-wide value that
// tests set directly. Prices and amounts always take "." as the decimal point whatever the
// locale says; only data volumes ("1,24 GB") are written with the locale's own.

#include "core/datetime.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quorvane {

struct RegionalSettings {
    // strftime-style patterns; %p is written with the AM/PM texts below.
    std::string shortDateFormat = "%m/%d/%Y";
    std::string longTimeFormat = "%I:%M:%S %p";
    std::string timeAMString = "AM";
    std::string timePMString = "PM";
    std::string currencyString = "$";
    std::string thousandSeparator = ",";
    // The locale's decimal separator, for data volumes only.
    std::string decimalSeparator = ".";

    // The formats of a locale by name ("" = the one the environment names: LC_ALL, LC_*, LANG).
    // An unknown locale gives nullopt.
    static std::optional<RegionalSettings> FromLocale(const std::string& name);
};

// The program-wide settings. Start-up assigns FromLocale(""); tests assign what they need.
RegionalSettings& Regional();

std::string FormatShortDate(DateTime value);
std::string FormatLongTime(DateTime value);

// A clock-time text back to a time of day (0 <= result < 1): "H:MM[:SS]" with an optional
// AM/PM marker (the regional texts or AM/PM in any letter case) before or after it; 12-hour
// hours with a marker, 24-hour without. Nothing else may stand in the text but blanks.
std::optional<DateTime> ParseTime(std::string_view text);

// An amount as "#,##0.00": two decimals rounded half away from zero, the thousands separator
// between groups of three, "." as the decimal point, a leading "-" when negative.
std::string FormatAmount(double amount);

// A number of bytes in decimal units, three digits at most, with the locale's decimal separator
// and no trailing zeros: "532 B", "532 kB", "1.24 GB", "5 GB".
std::string FormatDataVolume(std::uint64_t bytes);

} // namespace quorvane
