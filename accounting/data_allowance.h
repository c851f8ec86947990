#pragma once
// A provider's data allowance per billing cycle: what its field accepts, how much of it the
// cycle's data has used, which alert is due, and what the user is told. The alerts come at 80 %
// and at 100 %, each once per billing cycle; the window keeps which have fired in the store, so
// a restart does not bring them back, and clears them with the cycle's totals.

#include "accounting/data_volume.h"
#include "core/datetime.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quorvane {

// The allowance is given in decimal megabytes.
inline constexpr std::uint64_t kBytesPerMb = 1000000;

// The field's text as megabytes: 0 (no allowance) for an empty text or 0; nullopt for anything
// but decimal digits with blanks around them, or an amount of bytes too large to count.
std::optional<std::uint64_t> ParseDataAllowance(std::string_view text);

// What counts against the allowance: received and sent, or received only.
std::uint64_t AllowanceUsed(const DataBytes& cycle, bool receivedOnly);

// Whole percent of the allowance used, rounded down; 0 without an allowance.
int PercentUsed(std::uint64_t used, std::uint64_t allowanceBytes);

// "1.24 GB of 5 GB, 24 %".
std::string AllowanceShareText(std::uint64_t used, std::uint64_t allowanceBytes);

// The alerts, one bit each, as kept in the store.
enum DataAlert : int { kDataAlert80 = 1, kDataAlert100 = 2 };

// The alert due for `used` bytes of the allowance, those in `fired` having fired already: 0 for
// none. An allowance passed at once gives the 100 % alert alone, which stands for both.
int DataAlertDue(std::uint64_t used, std::uint64_t allowanceBytes, int fired);
// The alerts that count as fired once `alert` has.
int DataAlertsAfter(int fired, int alert);

// Days from `today` to the start of the next billing cycle, 1 on the cycle's last day; nullopt
// without a cycle day (0).
std::optional<int> DaysLeftInCycle(int cycleDay, DateTime today);

struct DataAlertNotice {
    std::string summary;
    std::string body;
};
// The notification of an alert: the data used, of what allowance, with whom, and the days left
// in the cycle when there is a cycle day.
DataAlertNotice DataAlertText(int alert, std::uint64_t used, std::uint64_t allowanceBytes,
                              std::string_view provider, std::optional<int> daysLeft);

} // namespace quorvane
