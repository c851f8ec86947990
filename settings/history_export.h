#pragma once
// The usage history as files other programs read: JSON and CSV, written the same way by
// quorvane-usage and by the History window's export.
//
// CSV is RFC 4180: a header line with the field names, CRLF line ends, a field quoted when it
// holds a comma, a quote or a line break (quotes doubled). Moments are ISO 8601 with the local
// offset of each ("2026-03-15T23:59:58+01:00"), dates ISO 8601 ("2026-03-15"), numbers with a
// decimal point whatever the locale, bytes as integers, an unknown count empty (null in JSON).
//
// A session row's fields: provider, start, end, seconds, inside_peak, outside_peak, rx, tx,
// charges, ended. A day's: date, sessions, seconds, inside_peak, outside_peak, rx, tx,
// bytes_partial (some of its sessions counted no bytes). A billing cycle's: start, end (its first
// and last day), then as a day's from sessions on.

#include "settings/history.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvane {

std::string SessionsCsv(const std::vector<SessionRow>& rows);
std::string DaysCsv(const std::vector<DayUsage>& days);
std::string CyclesCsv(const std::vector<CycleUsage>& cycles);

// What a JSON export holds: one object with the provider, its cycle day, a `sessions` array and,
// when given, `days` and `cycles` arrays.
struct UsageReport {
    std::string provider;
    int cycleDay = 0;
    std::vector<SessionRow> sessions;
    std::optional<std::vector<DayUsage>> days;
    std::optional<std::vector<CycleUsage>> cycles;
};
std::string UsageJson(const UsageReport& report);

// Replaces `path` whole with `text` through the crash-safe file writer: a crash or a full disk
// leaves the old file or the new one. Refused, with `why`, for the store's own files and for a
// path that is a link, a folder or anything else but a regular file.
bool WriteExportFile(const std::string& path, std::string_view text, std::string* why);

} // namespace quorvane
