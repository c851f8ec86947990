#pragma once
// The session log: a plain text file, newest line first, one line per online session with the
// totals and the charges at its end.

#include "accounting/timevalues.h"

#include <optional>
#include <string>
#include <string_view>

namespace quorvane {

// The log line for the moment `now` (UTF-8, no line end): short date, long time, the inside
// peak, outside peak and total times, and the charges text, two blanks between them:
// "03/07/2026  10:00:00 PM  In Peak: 000:01:00  Out Peak: 000:00:00  Total: 012:00:05  Charges:
// $1.00"
std::string SessionLogLine(DateTime now, const TimerSet& timers, const std::string& charges);

// Puts the line for `at` (Now() unless given) at the top of the log file, creating the file when
// there is none.
// Every line ends in CR LF; the earlier lines are kept byte for byte. The new contents go to a
// temporary file in the same folder that then replaces the old one, so a crash or a full disk
// on the way leaves the old file whole; the file keeps its permissions, and a symbolic link
// keeps pointing at the file it named, which is the one rewritten. Answers false, and leaves
// the old file untouched, on any failure (no name, no such folder, a file that cannot be read
// or replaced); nothing is shown. `why`, when given, then receives the reason in English, the
// system's text where it has one ("No such file or directory").
bool WriteSessionLog(const std::string& fileName, const TimerSet& timers,
                     const std::string& charges, std::string* why = nullptr,
                     std::optional<DateTime> at = std::nullopt);

// The character set of the program's locale, e.g. "UTF-8", "ISO-8859-1": the user's (LC_ALL,
// LC_CTYPE, LANG) once start-up has called setlocale(LC_ALL, ""), as QApplication does; until
// then the C locale's "ANSI_X3.4-1968".
std::string SystemCharset();

// UTF-8 text in the character set `charset`, as the log file is written. Unchanged for UTF-8,
// for plain ASCII (the C locale, where nothing is lost by keeping UTF-8) and for a character set
// the system cannot convert to. Characters the set lacks are transliterated where the system
// knows how ("€" may become "EUR") and become "?" otherwise; so does malformed input.
std::string FromUtf8(std::string_view text, const std::string& charset);

} // namespace quorvane
