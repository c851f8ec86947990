#include "accounting/data_allowance.h"

#include "accounting/rollover.h"
#include "core/text.h"

#include <limits>

namespace quorvane {

std::optional<std::uint64_t> ParseDataAllowance(std::string_view text) {
    const std::string_view digits = TrimBlanks(text);
    std::uint64_t mb = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9')
            return std::nullopt;
        const std::uint64_t digit = static_cast<std::uint64_t>(c - '0');
        if (mb > (std::numeric_limits<std::uint64_t>::max() / kBytesPerMb - digit) / 10)
            return std::nullopt;
        mb = mb * 10 + digit;
    }
    return mb;
}

std::uint64_t AllowanceUsed(const DataBytes& cycle, bool receivedOnly) {
    return receivedOnly ? cycle.rx : cycle.rx + cycle.tx;
}

int PercentUsed(std::uint64_t used, std::uint64_t allowanceBytes) {
    if (allowanceBytes == 0)
        return 0;
    const auto percent = static_cast<unsigned __int128>(used) * 100 / allowanceBytes;
    return percent > std::numeric_limits<int>::max() ? std::numeric_limits<int>::max()
                                                      : static_cast<int>(percent);
}

std::string AllowanceShareText(std::uint64_t used, std::uint64_t allowanceBytes) {
    return FormatDataVolume(used) + " of " + FormatDataVolume(allowanceBytes) + ", " +
           std::to_string(PercentUsed(used, allowanceBytes)) + " %";
}

int DataAlertDue(std::uint64_t used, std::uint64_t allowanceBytes, int fired) {
    if (allowanceBytes == 0 || (fired & kDataAlert100) != 0)
        return 0;
    if (used >= allowanceBytes)
        return kDataAlert100;
    // 80 % reached: used / allowance >= 4 / 5, without rounding.
    if ((fired & kDataAlert80) == 0 &&
        static_cast<unsigned __int128>(used) * 5 >= static_cast<unsigned __int128>(allowanceBytes) * 4)
        return kDataAlert80;
    return 0;
}

int DataAlertsAfter(int fired, int alert) {
    return fired | alert | (alert == kDataAlert100 ? kDataAlert80 : 0);
}

std::optional<int> DaysLeftInCycle(int cycleDay, DateTime today) {
    today = DateOf(today);
    const std::optional<DateTime> current = CycleStart(cycleDay, today);
    if (!current)
        return std::nullopt;
    // The next cycle begins on the first day whose cycle start is itself; never more than a
    // month and a day away.
    for (int days = 1; days <= 32; ++days) {
        const DateTime day = today + days;
        if (CycleStart(cycleDay, day) == day)
            return days;
    }
    return std::nullopt;
}

DataAlertNotice DataAlertText(int alert, std::uint64_t used, std::uint64_t allowanceBytes,
                              std::string_view provider, std::optional<int> daysLeft) {
    DataAlertNotice notice;
    notice.summary = alert == kDataAlert100 ? "Data allowance used up" : "Data allowance 80 % used";
    notice.body = AllowanceShareText(used, allowanceBytes) + " used";
    if (!StripSpaces(provider).empty())
        notice.body += " with " + std::string(provider);
    notice.body += ".";
    if (daysLeft) {
        notice.body += ' ';
        notice.body += std::to_string(*daysLeft);
        notice.body += *daysLeft == 1 ? " day is" : " days are";
        notice.body += " left in the billing cycle.";
    }
    return notice;
}

} // namespace quorvane
