#include "settings/history_export.h"

#include "core/file_replace.h"
#include "core/text_codec.h"
#include "settings/store.h"

#include <cstdio>
#include <sys/stat.h>

namespace quorvane {

namespace {

std::string Count(const std::optional<std::uint64_t>& value, const char* unknown) {
    return value ? std::to_string(*value) : unknown;
}

// A cycle's last day: the day before the next one's start.
DateTime LastDay(const CycleBounds& bounds) {
    return bounds.end - 1;
}

// RFC 4180: quoted when it holds a separator, a quote or a line break.
std::string CsvField(std::string_view text, bool quote = false) {
    if (!quote && text.find_first_of(",\"\r\n") == std::string_view::npos)
        return std::string(text);
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"')
            out += '"';
        out += c;
    }
    return out + '"';
}

// A text field as a spreadsheet reads it back as the same text: valid UTF-8, and never a formula.
std::string CsvText(std::string_view text) {
    const std::string valid = ReplacingInvalidUtf8(text);
    if (!valid.empty() &&
        std::string_view("=+-@\t\r").find(valid.front()) != std::string_view::npos)
        return CsvField("'" + valid, true);
    return CsvField(valid);
}

// The fields are written already (CsvText for texts, numbers as they are).
std::string CsvLine(const std::vector<std::string>& fields) {
    std::string line;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i > 0)
            line += ',';
        line += fields[i];
    }
    return line + "\r\n";
}

// A JSON string; bytes that are not UTF-8 (a name typed on another system) become U+FFFD, so
// the document stays valid.
std::string JsonString(std::string_view text) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        char32_t cp = 0;
        const std::size_t len = DecodeUtf8(text, i, cp);
        if (len == 0) {
            out += "\xEF\xBF\xBD";
            ++i;
            continue;
        }
        if (cp == '"' || cp == '\\') {
            out += '\\';
            out += static_cast<char>(cp);
        } else if (cp < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(cp));
            out += escaped;
        } else {
            out.append(text.substr(i, len));
        }
        i += len;
    }
    return out + '"';
}

// The fields of sums after the period's own, as name and value (JSON) pairs.
std::vector<std::pair<const char*, std::string>> SumFields(const UsageSums& sums,
                                                           const char* unknown) {
    return {{"sessions", std::to_string(sums.sessions)},
            {"seconds", std::to_string(sums.seconds)},
            {"inside_peak", std::to_string(sums.insidePeak)},
            {"outside_peak", std::to_string(sums.outsidePeak)},
            {"rx", Count(sums.rx, unknown)},
            {"tx", Count(sums.tx, unknown)},
            {"bytes_partial", sums.bytesPartial ? "true" : "false"}};
}

std::vector<std::pair<const char*, std::string>> SessionFields(const SessionRow& row,
                                                               bool json) {
    const auto text = [json](std::string_view value) {
        return json ? JsonString(value) : CsvText(value);
    };
    const char* unknown = json ? "null" : "";
    return {{"provider", text(row.provider)},
            {"start", text(Iso8601(row.start))},
            {"end", text(Iso8601(row.end))},
            {"seconds", std::to_string(row.seconds)},
            {"inside_peak", std::to_string(row.insidePeak)},
            {"outside_peak", std::to_string(row.outsidePeak)},
            {"rx", Count(row.rx, unknown)},
            {"tx", Count(row.tx, unknown)},
            {"charges", text(row.charges)},
            {"ended", text(SessionEndName(row.ended))}};
}

template <typename Item, typename Fields>
std::string Csv(const std::vector<Item>& items, const Fields& fieldsOf) {
    std::string out;
    bool header = true;
    for (const Item& item : items) {
        const auto fields = fieldsOf(item);
        if (header) {
            std::vector<std::string> names;
            for (const auto& field : fields)
                names.emplace_back(field.first);
            out += CsvLine(names);
            header = false;
        }
        std::vector<std::string> values;
        for (const auto& field : fields)
            values.push_back(field.second);
        out += CsvLine(values);
    }
    return out;
}

void AppendJsonObject(std::string& out,
                      const std::vector<std::pair<const char*, std::string>>& fields) {
    out += '{';
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i > 0)
            out += ", ";
        out += JsonString(fields[i].first);
        out += ": ";
        out += fields[i].second;
    }
    out += '}';
}

// Appended in place: a report of a year's sessions is most of a megabyte.
template <typename Item, typename Fields>
void AppendJsonArray(std::string& out, const std::vector<Item>& items, const Fields& fieldsOf) {
    out += '[';
    for (std::size_t i = 0; i < items.size(); ++i) {
        out += i > 0 ? ",\n    " : "\n    ";
        AppendJsonObject(out, fieldsOf(items[i]));
    }
    out += items.empty() ? "]" : "\n  ]";
}

std::vector<std::pair<const char*, std::string>> DayFields(const DayUsage& day, bool json) {
    auto fields = SumFields(day.sums, json ? "null" : "");
    const std::string date = IsoDate(day.day);
    fields.insert(fields.begin(), {"date", json ? JsonString(date) : CsvText(date)});
    return fields;
}

std::vector<std::pair<const char*, std::string>> CycleFields(const CycleUsage& cycle, bool json) {
    auto fields = SumFields(cycle.sums, json ? "null" : "");
    const std::string first = IsoDate(cycle.bounds.start);
    const std::string last = IsoDate(LastDay(cycle.bounds));
    fields.insert(fields.begin(), {{"start", json ? JsonString(first) : CsvText(first)},
                                   {"end", json ? JsonString(last) : CsvText(last)}});
    return fields;
}

// The header alone for an empty table, so that a reader still finds the columns.
template <typename Fields> std::string HeaderOnly(const Fields& fields) {
    std::vector<std::string> names;
    for (const auto& field : fields)
        names.emplace_back(field.first);
    return CsvLine(names);
}

} // namespace

std::string SessionsCsv(const std::vector<SessionRow>& rows) {
    if (rows.empty())
        return HeaderOnly(SessionFields({}, false));
    return Csv(rows, [](const SessionRow& row) { return SessionFields(row, false); });
}

std::string DaysCsv(const std::vector<DayUsage>& days) {
    if (days.empty())
        return HeaderOnly(DayFields({}, false));
    return Csv(days, [](const DayUsage& day) { return DayFields(day, false); });
}

std::string CyclesCsv(const std::vector<CycleUsage>& cycles) {
    if (cycles.empty())
        return HeaderOnly(CycleFields({}, false));
    return Csv(cycles, [](const CycleUsage& cycle) { return CycleFields(cycle, false); });
}

std::string UsageJson(const UsageReport& report) {
    std::string out;
    out.reserve(256 + report.sessions.size() * 256);
    out += "{\n  \"provider\": " + JsonString(report.provider) +
           ",\n  \"cycle_day\": " + std::to_string(report.cycleDay) + ",\n  \"sessions\": ";
    AppendJsonArray(out, report.sessions,
                    [](const SessionRow& row) { return SessionFields(row, true); });
    if (report.days) {
        out += ",\n  \"days\": ";
        AppendJsonArray(out, *report.days, [](const DayUsage& day) { return DayFields(day, true); });
    }
    if (report.cycles) {
        out += ",\n  \"cycles\": ";
        AppendJsonArray(out, *report.cycles,
                        [](const CycleUsage& cycle) { return CycleFields(cycle, true); });
    }
    out += "\n}\n";
    return out;
}

ExportTarget CheckExportFile(const std::string& path) {
    ExportTarget target;
    const auto refuse = [&](ExportRefusal refusal, int error = 0) {
        target.refusal = refusal;
        target.error = error;
        return target;
    };
    struct stat st {};
    target.exists = ::lstat(path.c_str(), &st) == 0;
    if (IsStoreFile(path))
        return refuse(ExportRefusal::StoreFile);
    if (target.exists) {
        if (S_ISLNK(st.st_mode))
            return refuse(ExportRefusal::Link);
        if (S_ISDIR(st.st_mode))
            return refuse(ExportRefusal::Folder);
        if (!S_ISREG(st.st_mode))
            return refuse(ExportRefusal::NotRegularFile);
    }
    switch (const ReplaceCheck right = CheckReplaceRight(path); right.right) {
    case ReplaceRight::Granted:
        break;
    case ReplaceRight::FileReadOnly:
        return refuse(ExportRefusal::ReadOnlyFile, right.error);
    case ReplaceRight::FolderReadOnly:
        return refuse(ExportRefusal::ReadOnlyFolder, right.error);
    case ReplaceRight::NoFolder:
        return refuse(ExportRefusal::NoFolder, right.error);
    }
    return target;
}

ExportTarget WriteExportFile(const std::string& path, std::string_view text) {
    ExportTarget target = CheckExportFile(path);
    if (!target.ok())
        return target;
    struct stat old {};
    const bool replacing = ::lstat(path.c_str(), &old) == 0 && S_ISREG(old.st_mode);
    FileReplacement out(path, 0644);
    if (!out.ok() || (replacing && !out.KeepOwnerAndModeOf(old)) ||
        !out.Write(text.data(), text.size()) || !out.Commit()) {
        target.refusal = ExportRefusal::WriteFailed;
        target.error = out.error();
    }
    return target;
}

} // namespace quorvane
