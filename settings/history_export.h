#pragma once
// The usage history as files other programs read: JSON and CSV, written the same way by
// quorvane-usage and by the History window's export.
//
// CSV is RFC 4180: a header line with the field names, CRLF line ends, a field quoted when it
// holds a comma, a quote or a line break (quotes doubled). It is valid UTF-8: bytes of a text
// that are not UTF-8, and NUL, are written as U+FFFD, as JSON writes them. A text field that a
// spreadsheet would run as a formula (one starting with "=", "+", "-", "@", a tab or a carriage
// return) is written quoted with a leading apostrophe, so that it is read as text (OWASP's advice
// against CSV injection); numbers are written as they are, negative ones too. Moments are ISO 8601
// with the local offset of each ("2026-03-15T23:59:58+01:00"), dates ISO 8601 ("2026-03-15"),
// numbers with a decimal point whatever the locale, bytes as integers, an unknown count empty (null
// in JSON).
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

// Why an export file is not written.
enum class ExportRefusal {
    None,
    StoreFile,      // one of the store's own files: replacing it would lose a hive
    Link,           // a symbolic link: never written through, nor replaced
    Folder,         // a folder
    NotRegularFile, // a device, a pipe, a socket
    ReadOnlyFile,   // a file the user may not write (see CheckReplaceRight in core/)
    ReadOnlyFolder, // a folder the user may not make the file in
    NoFolder,       // its folder does not exist
    WriteFailed,    // the writing itself failed (a full disk)
};

struct ExportTarget {
    ExportRefusal refusal = ExportRefusal::None;
    bool exists = false; // something of that name is there (a file the export would replace)
    int error = 0;       // the errno behind ReadOnlyFile, ReadOnlyFolder, NoFolder, WriteFailed

    bool ok() const { return refusal == ExportRefusal::None; }
};

// Whether an export may be written to `path`, and whether it would replace a file: for asking
// the user before anything is written.
ExportTarget CheckExportFile(const std::string& path);

// Replaces `path` whole with `text`, or makes it, through the crash-safe file writer: a crash or a
// full disk leaves the old file or the new one. A replaced file keeps its mode (and, written by
// root, its owner). Refused as CheckExportFile refuses, checked again here.
ExportTarget WriteExportFile(const std::string& path, std::string_view text);

} // namespace quorvane
