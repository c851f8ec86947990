// quorvane-usage: the usage history on the command line, in the manner of vnStat's reports. It
// only reads the store, through a connection that takes no lock a writer waits for, so it runs
// beside the program at any moment.
// Exit codes: 0 done, 1 no such provider (or the report could not be written out), 2 the command
// line is wrong, 3 the store cannot be read or its history is damaged.
//
// Texts from the store (names, charges) reach the terminal escaped (EscapedForTerminal): a newline
// in one would split a table, an ESC sequence steer the terminal.

#include "core/clock.h"
#include "core/regional.h"
#include "core/text.h"
#include "core/text_codec.h"
#include "settings/history.h"
#include "settings/history_export.h"
#include "settings/store.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

using namespace quorvane;

namespace {

constexpr int kOk = 0;
constexpr int kNoProvider = 1;
constexpr int kUsage = 2;
constexpr int kUnreadable = 3;

constexpr const char* kUsageLine =
    "usage: quorvane-usage [--provider NAME] [--days [N]] [--cycles [N]] [--sessions [N]] "
    "[--json | --csv]\n";

constexpr const char* kHelp = R"(quorvane-usage: the time and data Quorvane has counted, from its usage history.

  quorvane-usage                 today and the current billing cycle
  quorvane-usage --days [N]      the last N days, today included (30)
  quorvane-usage --cycles [N]    the last N billing cycles, the current one included (12)
  quorvane-usage --sessions [N]  the last N sessions (20); a session across midnight is one row
                                 per day
  --provider NAME  another provider than the default one (deleted providers keep their history)
  --json           one JSON object: the provider, its cycle day, a "sessions" array, and "days"
                   and "cycles" arrays for those views
  --csv            the view's rows as CSV (RFC 4180), one view at a time

The store is only read, also while Quorvane runs. Texts are shown with control characters and
bytes that are not UTF-8 escaped (\n, \x1b). Exit status: 0 done, 1 no such provider, 2 the
command line is wrong, 3 the store cannot be read or its usage history is damaged.
)";

// Beyond these a view says nothing a person could read.
constexpr std::size_t kMaxDays = 36600;
constexpr std::size_t kMaxCycles = 1200;
constexpr std::size_t kMaxSessions = 1000000;

struct UsageError {
    std::string message;
};

struct Args {
    std::optional<std::string> provider;
    std::optional<std::size_t> days;
    std::optional<std::size_t> cycles;
    std::optional<std::size_t> sessions;
    bool json = false;
    bool csv = false;
    bool help = false;
};

std::optional<std::size_t> Number(std::string_view text) {
    std::size_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || text.empty())
        return std::nullopt;
    return value;
}

Args ParseArgs(int argc, char** argv) {
    Args args;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        std::optional<std::string> attached;
        if (const std::size_t eq = arg.find('='); arg.starts_with("--") && eq != std::string::npos) {
            attached = arg.substr(eq + 1);
            arg.resize(eq);
        }
        const auto once = [&](bool given) {
            if (given)
                throw UsageError{arg + " is given twice"};
        };
        // A count that may follow the view's switch, as the next argument or after "=".
        const auto count = [&](std::optional<std::size_t>& view, std::size_t fallback,
                               std::size_t most) {
            once(view.has_value());
            std::optional<std::string> text = attached;
            if (!text && i + 1 < argc && Number(argv[i + 1]))
                text = argv[++i];
            if (!text) {
                view = fallback;
                return;
            }
            const std::optional<std::size_t> n = Number(*text);
            if (!n || *n == 0 || *n > most)
                throw UsageError{arg + " takes a number from 1 to " + std::to_string(most) +
                                 ", not \"" + *text + "\""};
            view = n;
        };
        if (arg == "--provider") {
            once(args.provider.has_value());
            if (!attached && i + 1 >= argc)
                throw UsageError{"--provider needs a name"};
            args.provider = attached ? *attached : std::string(argv[++i]);
        } else if (arg == "--days") {
            count(args.days, 30, kMaxDays);
        } else if (arg == "--cycles") {
            count(args.cycles, 12, kMaxCycles);
        } else if (arg == "--sessions") {
            count(args.sessions, 20, kMaxSessions);
        } else if ((arg == "--json" || arg == "--csv") && !attached) {
            bool& flag = arg == "--json" ? args.json : args.csv;
            once(flag);
            flag = true;
        } else if ((arg == "--help" || arg == "-h") && !attached) {
            args.help = true;
        } else {
            throw UsageError{"unknown argument \"" + std::string(argv[i]) + "\""};
        }
    }
    if (args.json && args.csv)
        throw UsageError{"--json and --csv exclude each other"};
    if (args.csv && (args.days.has_value() + args.cycles.has_value() +
                     args.sessions.has_value()) > 1)
        throw UsageError{"--csv writes one view: give one of --days, --cycles and --sessions"};
    return args;
}

// "Now" for the views: the local clock, or, for tests, QUORVANE_NOW ("2026-03-16T12:00:00").
std::optional<DateTime> Today() {
    const char* fixed = std::getenv("QUORVANE_NOW");
    if (!fixed || !*fixed)
        return DateOf(Now());
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    if (std::sscanf(fixed, "%4d-%2d-%2dT%2d:%2d:%2d", &y, &mo, &d, &h, &mi, &s) != 6)
        return std::nullopt;
    return EncodeDate(y, mo, d);
}

// Hours without a limit: "0:04:05", "125:00:00".
std::string Hours(std::int64_t seconds) {
    const bool negative = seconds < 0;
    seconds = negative ? -seconds : seconds;
    char text[40];
    std::snprintf(text, sizeof text, "%s%lld:%02d:%02d", negative ? "-" : "",
                  static_cast<long long>(seconds / 3600), static_cast<int>(seconds / 60 % 60),
                  static_cast<int>(seconds % 60));
    return text;
}

// A column of a table: its heading, and whether its text is aligned right (numbers).
struct Column {
    std::string heading;
    bool right = true;
};

// Prints the rows in aligned columns, a rule under the headings, and, when given, a rule and a
// totals line after the rows.
void PrintTable(const std::vector<Column>& columns, const std::vector<std::vector<std::string>>& rows,
                const std::optional<std::vector<std::string>>& totals) {
    std::vector<std::size_t> widths;
    for (const Column& column : columns)
        widths.push_back(column.heading.size());
    // Widths in characters as a terminal shows them: UTF-8 continuation bytes take no room.
    const auto width = [](const std::string& text) {
        return static_cast<std::size_t>(std::count_if(
            text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
    };
    const auto measure = [&](const std::vector<std::string>& row) {
        for (std::size_t i = 0; i < row.size(); ++i)
            widths[i] = std::max(widths[i], width(row[i]));
    };
    for (const auto& row : rows)
        measure(row);
    if (totals)
        measure(*totals);
    std::size_t total = 0;
    for (const std::size_t w : widths)
        total += w + 2;
    const auto line = [&](const std::vector<std::string>& cells) {
        std::string out;
        for (std::size_t i = 0; i < cells.size(); ++i) {
            const std::string pad(widths[i] - width(cells[i]), ' ');
            out += "  ";
            out += columns[i].right ? pad + cells[i] : cells[i] + pad;
        }
        while (!out.empty() && out.back() == ' ')
            out.pop_back();
        std::cout << out << '\n';
    };
    std::vector<std::string> headings;
    for (const Column& column : columns)
        headings.push_back(column.heading);
    line(headings);
    const std::string rule = "  " + std::string(total - 2, '-') + '\n';
    std::cout << rule;
    for (const auto& row : rows)
        line(row);
    if (totals) {
        std::cout << rule;
        line(*totals);
    }
}

// Which optional columns a view shows: the peak sides where any row has one, the bytes where
// any row knows them.
struct Shown {
    bool peak = false;
    bool bytes = false;
    bool partial = false;

    void Take(std::int64_t inside, std::int64_t outside, const std::optional<std::uint64_t>& rx,
              bool bytesPartial) {
        peak = peak || inside != 0 || outside != 0;
        bytes = bytes || rx.has_value();
        partial = partial || bytesPartial;
    }
};

std::string Volume(const std::optional<std::uint64_t>& bytes, bool partial) {
    return bytes ? FormatDataVolume(*bytes) + (partial ? "*" : "") : "-";
}

std::vector<Column> SumColumns(const std::string& first, const Shown& shown) {
    std::vector<Column> columns{{first, false}, {"time"}};
    if (shown.peak)
        columns.insert(columns.end(), {{"in peak"}, {"off peak"}});
    if (shown.bytes)
        columns.insert(columns.end(), {{"received"}, {"sent"}, {"total"}});
    columns.push_back({"sessions"});
    return columns;
}

std::vector<std::string> SumCells(const std::string& label, const UsageSums& sums,
                                  const Shown& shown) {
    std::vector<std::string> cells{label, Hours(sums.seconds)};
    if (shown.peak)
        cells.insert(cells.end(), {Hours(sums.insidePeak), Hours(sums.outsidePeak)});
    if (shown.bytes) {
        const std::optional<std::uint64_t> both =
            sums.rx ? std::optional(*sums.rx + sums.tx.value_or(0)) : std::nullopt;
        cells.insert(cells.end(), {Volume(sums.rx, sums.bytesPartial),
                                   Volume(sums.tx, sums.bytesPartial),
                                   Volume(both, sums.bytesPartial)});
    }
    cells.push_back(std::to_string(sums.sessions));
    return cells;
}

UsageSums Add(UsageSums a, const UsageSums& b) {
    const bool aKnows = a.rx.has_value(), bKnows = b.rx.has_value();
    a.bytesPartial = a.bytesPartial || b.bytesPartial ||
                     (aKnows != bKnows && a.sessions > 0 && b.sessions > 0);
    a.sessions += b.sessions;
    a.seconds += b.seconds;
    a.insidePeak += b.insidePeak;
    a.outsidePeak += b.outsidePeak;
    if (bKnows) {
        a.rx = a.rx.value_or(0) + *b.rx;
        a.tx = a.tx.value_or(0) + b.tx.value_or(0);
    }
    return a;
}

std::string CycleLabel(const CycleBounds& bounds) {
    return IsoDate(bounds.start) + " to " + IsoDate(bounds.end - 1);
}

void Footnote(const Shown& shown) {
    if (shown.partial)
        std::cout << "  * some of its sessions counted no bytes\n";
}

void PrintSummary(const DayUsage& today, const CycleUsage& cycle) {
    Shown shown;
    shown.Take(cycle.sums.insidePeak, cycle.sums.outsidePeak, cycle.sums.rx,
               cycle.sums.bytesPartial);
    PrintTable(SumColumns("", shown),
               {SumCells("today  " + IsoDate(today.day), today.sums, shown),
                SumCells("cycle  " + CycleLabel(cycle.bounds), cycle.sums, shown)},
               std::nullopt);
    Footnote(shown);
}

template <typename Item, typename Label>
void PrintSums(const std::string& heading, const std::vector<Item>& items, const Label& label) {
    Shown shown;
    UsageSums total;
    for (const Item& item : items) {
        shown.Take(item.sums.insidePeak, item.sums.outsidePeak, item.sums.rx,
                   item.sums.bytesPartial);
        total = Add(total, item.sums);
    }
    std::vector<std::vector<std::string>> rows;
    for (const Item& item : items)
        rows.push_back(SumCells(label(item), item.sums, shown));
    PrintTable(SumColumns(heading, shown), rows, SumCells("total", total, shown));
    shown.partial = shown.partial || total.bytesPartial;
    Footnote(shown);
}

void PrintSessions(const std::vector<SessionRow>& sessions) {
    Shown shown;
    UsageSums total;
    for (const SessionRow& row : sessions) {
        shown.Take(row.insidePeak, row.outsidePeak, row.rx, false);
        total = Add(total, {1, row.seconds, row.insidePeak, row.outsidePeak, row.rx, row.tx,
                            false});
    }
    std::vector<Column> columns{{"start", false}, {"end", false}, {"time"}};
    if (shown.peak)
        columns.insert(columns.end(), {{"in peak"}, {"off peak"}});
    if (shown.bytes)
        columns.insert(columns.end(), {{"received"}, {"sent"}});
    columns.insert(columns.end(), {{"charges"}, {"ended", false}});
    // Local times as the program showed them; the end's date only when it is another day.
    const auto local = [](const HistoryMoment& moment) {
        std::string text = Iso8601(moment);
        text[10] = ' ';
        return text.substr(0, 19);
    };
    std::vector<std::vector<std::string>> rows;
    for (const SessionRow& row : sessions) {
        const std::string start = local(row.start);
        std::string end = local(row.end);
        if (end.substr(0, 10) == start.substr(0, 10))
            end = end.substr(11);
        std::vector<std::string> cells{start, end, Hours(row.seconds)};
        if (shown.peak)
            cells.insert(cells.end(), {Hours(row.insidePeak), Hours(row.outsidePeak)});
        if (shown.bytes)
            cells.insert(cells.end(), {Volume(row.rx, false), Volume(row.tx, false)});
        cells.insert(cells.end(), {EscapedForTerminal(row.charges), SessionEndName(row.ended)});
        rows.push_back(std::move(cells));
    }
    std::vector<std::string> totals{"total", std::to_string(total.sessions) + " sessions",
                                    Hours(total.seconds)};
    if (shown.peak)
        totals.insert(totals.end(), {Hours(total.insidePeak), Hours(total.outsidePeak)});
    if (shown.bytes)
        totals.insert(totals.end(), {Volume(total.rx, total.bytesPartial),
                                     Volume(total.tx, total.bytesPartial)});
    totals.insert(totals.end(), {"", ""});
    PrintTable(columns, rows, totals);
    shown.partial = total.bytesPartial;
    Footnote(shown);
}

int Run(const Args& args) {
    const std::optional<DateTime> today = Today();
    if (!today) {
        std::cerr << "quorvane-usage: QUORVANE_NOW is not a date and time such as "
                     "2026-03-16T12:00:00\n";
        return kUsage;
    }
    std::string why;
    const std::unique_ptr<UsageHistory> history = UsageHistory::Open(&why);
    if (!history) {
        std::cerr << "quorvane-usage: " << why << '\n';
        return kUnreadable;
    }
    std::string provider;
    if (args.provider) {
        provider = *args.provider;
    } else if (const std::optional<std::string> fallback = history->DefaultProvider()) {
        provider = *fallback;
    } else {
        std::cerr << "quorvane-usage: no default provider is set; name one with --provider\n";
        return kNoProvider;
    }
    // Shown as the history last wrote it (a deleted provider has no other spelling left). The
    // rows are still found by the name given: they are stored under its folded bytes, which a
    // spelling edited by hand need not fold to.
    const std::optional<std::string> spelled = history->ProviderName(provider);
    const std::optional<int> storedCycleDay = history->StoredCycleDay(provider);
    if (!storedCycleDay && !spelled) {
        std::cerr << "quorvane-usage: no such provider: \"" << EscapedForTerminal(provider) << "\"";
        const std::vector<std::string> known = history->Providers();
        for (std::size_t i = 0; i < known.size(); ++i)
            std::cerr << (i == 0 ? " (the history has " : ", ") << '"'
                      << EscapedForTerminal(known[i]) << '"';
        std::cerr << (known.empty() ? "\n" : ")\n");
        return kNoProvider;
    }
    const std::string shownName = spelled.value_or(provider);
    const int cycleDay = storedCycleDay.value_or(0);
    const bool summary = !args.days && !args.cycles && !args.sessions;

    UsageReport report;
    report.provider = shownName;
    report.cycleDay = cycleDay;
    // The sessions a JSON report or the summary's CSV holds: those of the days and cycles shown.
    DateTime from = *today;
    if (summary) {
        const CycleBounds current = CycleAround(cycleDay, *today);
        report.days = history->Days(provider, *today, *today + 1);
        report.cycles = history->Cycles(provider, {current});
        from = current.start;
    }
    if (args.days) {
        report.days = history->Days(provider, *today + 1 - static_cast<double>(*args.days),
                                    *today + 1);
        from = std::min(from, report.days->front().day);
    }
    if (args.cycles) {
        report.cycles = history->LastCycles(provider, cycleDay, *today, *args.cycles);
        from = std::min(from, report.cycles->front().bounds.start);
    }
    if (args.sessions)
        report.sessions = history->LastSessions(provider, *args.sessions);
    else if (args.json || args.csv)
        report.sessions = history->Sessions(provider, from, *today + 1);

    if (args.json) {
        std::cout << UsageJson(report);
    } else if (args.csv) {
        std::cout << (args.days     ? DaysCsv(*report.days)
                      : args.cycles ? CyclesCsv(*report.cycles)
                                    : SessionsCsv(report.sessions));
    } else {
        std::cout << EscapedForTerminal(shownName) << ", billing cycle "
                  << (cycleDay >= 1 && cycleDay <= 31
                          ? "from day " + std::to_string(cycleDay) + " of the month"
                          : std::string("by calendar month"))
                  << "\n\n";
        if (summary)
            PrintSummary(report.days->front(), report.cycles->front());
        if (args.days)
            PrintSums("day", *report.days, [](const DayUsage& day) { return IsoDate(day.day); });
        if (args.cycles) {
            if (args.days)
                std::cout << '\n';
            PrintSums("cycle", *report.cycles,
                      [](const CycleUsage& cycle) { return CycleLabel(cycle.bounds); });
        }
        if (args.sessions) {
            if (args.days || args.cycles)
                std::cout << '\n';
            PrintSessions(report.sessions);
        }
    }
    std::cout.flush();
    if (!std::cout) {
        std::cerr << "quorvane-usage: the report could not be written out\n";
        return kNoProvider;
    }
    return kOk;
}

} // namespace

int main(int argc, char** argv) {
    Args args;
    try {
        args = ParseArgs(argc, argv);
    } catch (const UsageError& e) {
        std::cerr << "quorvane-usage: " << e.message << '\n' << kUsageLine;
        return kUsage;
    }
    if (args.help) {
        std::cout << kHelp;
        return kOk;
    }
    // Data volumes are written with the user's decimal separator, as the program shows them.
    if (const auto regional = RegionalSettings::FromLocale(""))
        Regional() = *regional;
    try {
        return Run(args);
    } catch (const HistoryDamaged& e) {
        std::cerr << "quorvane-usage: " << e.what() << '\n';
        return kUnreadable;
    } catch (const StoreError& e) {
        std::cerr << "quorvane-usage: cannot read the store: " << e.what() << '\n';
        return kUnreadable;
    }
}
