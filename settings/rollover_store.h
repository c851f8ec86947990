#pragma once
// What the day and billing-cycle checks keep in the store. The names, kinds and meanings of the
// Windows version's values stay as they were, so a store brought over from it, or shared with
// it, reads the same:
//   product key:  "LastDate" (vkDate): the day the last new-day check started from;
//                 "LastDateChanged" (vkBool): false when LastDate was first written, true once a
//                 new day has been reported.
//   provider key: "CycleDayChanged" (vkBool): true once a cycle clear has been made;
//                 "LastCycleClear" (vkDate): the start of the cycle its totals were last
//                 cleared for;
//                 "LastSaveDate" (vkDate): the day its stored "Today" counts for.
// Only reading and writing; when to clear is decided by accounting/rollover.h. A value of
// another type raises ERegistryError ("Invalid data type for '<name>'"); a store that cannot be
// opened reads as nothing stored and writes nothing.

#include "settings/profiles.h"

#include <optional>
#include <string_view>

namespace quorvane {

std::optional<DateTime> ReadLastDate();
// "LastDate" and "LastDateChanged" together; false when nothing was written.
bool WriteLastDate(DateTime day, bool changed);

// nullopt also for a name that cannot be a key of its own.
std::optional<DateTime> ReadLastCycleClear(std::string_view provider);
// "LastCycleClear" and, when `cleared`, "CycleDayChanged" true, together; false when nothing
// was written.
bool WriteLastCycleClear(std::string_view provider, DateTime cycleStart, bool cleared);

std::optional<DateTime> ReadLastSaveDate(std::string_view provider);
// "LastSaveDate" for `day`, to go with the other settings into SaveProfile, so the totals and
// their day are written in one commit. `day` is the day the saved Today counts for: today, but
// the day that has just ended when the session tick saves the old day at midnight.
ProfileSetting LastSaveDateSetting(DateTime day);

} // namespace quorvane
