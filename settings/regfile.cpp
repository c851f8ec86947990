#include "settings/regfile.h"

#include "core/bytes.h"
#include "core/text.h"
#include "core/text_codec.h"

#include <algorithm>
#include <cstdio>
#include <map>

namespace quorvane {

namespace {

constexpr std::string_view kHeader5 = "Windows Registry Editor Version 5.00";
constexpr std::string_view kHeader4 = "REGEDIT4";

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           EqualsIgnoringAsciiCase(text.substr(0, prefix.size()), prefix);
}

std::optional<std::uint32_t> ParseHex32(std::string_view text) {
    if (text.empty() || text.size() > 8)
        return std::nullopt;
    std::uint32_t value = 0;
    for (const char c : text) {
        const int d = HexDigitValue(c);
        if (d < 0)
            return std::nullopt;
        value = value << 4 | static_cast<std::uint32_t>(d);
    }
    return value;
}

// The whole file as UTF-8 text.
struct Decoded {
    std::string text;
    bool ok = true;
    // In a UTF-16 file, the line (from 1) of the first surrogate without its partner, 0 when
    // there is none, and that surrogate. Such a unit is no character at all: kept, it would
    // become a raw byte, and raw bytes can spell another name.
    std::size_t unpairedLine = 0;
    char16_t unpaired = 0;
};

Decoded DecodeUtf16Le(std::span<const std::uint8_t> body) {
    Decoded decoded{Utf16LeToUtf8(body.data(), body.size()), body.size() % 2 == 0};
    const std::size_t bad = FirstUnpairedSurrogate(body.data(), body.size());
    if (bad == std::string::npos)
        return decoded;
    const auto unit = [&](std::size_t k) { return body[2 * k] | (body[2 * k + 1] << 8); };
    // Lines end as SplitLines ends them: CR, LF, or the two together.
    decoded.unpairedLine = 1;
    for (std::size_t k = 0; k < bad; ++k) {
        if (unit(k) == '\n' || (unit(k) == '\r' && unit(k + 1) != '\n'))
            ++decoded.unpairedLine;
    }
    decoded.unpaired = static_cast<char16_t>(unit(bad));
    return decoded;
}

// A UTF-16 file is known by its byte-order mark alone, as Windows knows it; without one the
// file is 8-bit text.
Decoded DecodeFile(std::span<const std::uint8_t> bytes) {
    const auto starts = [&](std::initializer_list<std::uint8_t> bom) {
        return bytes.size() >= bom.size() && std::equal(bom.begin(), bom.end(), bytes.begin());
    };
    if (starts({0xFF, 0xFE}))
        return DecodeUtf16Le(bytes.subspan(2));
    if (starts({0xFE, 0xFF})) {
        Bytes swapped(bytes.begin() + 2, bytes.end());
        for (std::size_t i = 0; i + 1 < swapped.size(); i += 2)
            std::swap(swapped[i], swapped[i + 1]);
        return DecodeUtf16Le(swapped);
    }
    std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (text.starts_with("\xEF\xBB\xBF"))
        text.remove_prefix(3);
    // Files without a byte-order mark are either UTF-8 or the "ANSI" code page regedit used.
    return {IsValidUtf8(text) ? std::string(text) : Cp1252ToUtf8(text), true};
}

std::vector<std::string_view> SplitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' || text[i] == '\n') {
            lines.push_back(text.substr(start, i - start));
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
            start = i + 1;
        }
    }
    if (start < text.size())
        lines.push_back(text.substr(start));
    return lines;
}

class ParseError {
public:
    explicit ParseError(std::string message) : message_(std::move(message)) {}
    const std::string& message() const { return message_; }

private:
    std::string message_;
};

// A quoted text at the start of `rest` with regedit's two escapes, \\ and \". Moves `rest` past
// the closing quote.
std::string ParseQuoted(std::string_view& rest, const char* what) {
    std::string out;
    std::size_t i = 1;
    for (; i < rest.size() && rest[i] != '"'; ++i) {
        if (rest[i] == '\\') {
            if (i + 1 >= rest.size() || (rest[i + 1] != '\\' && rest[i + 1] != '"'))
                throw ParseError(std::string("a backslash in ") + what +
                                 " must be doubled (\\\\) or escape a quote (\\\")");
            ++i;
        }
        out += rest[i];
    }
    if (i >= rest.size())
        throw ParseError(std::string(what) + " has no closing quote");
    rest.remove_prefix(i + 1);
    return out;
}

Bytes ParseHexBytes(std::string_view list) {
    Bytes out;
    list = TrimBlanks(list);
    if (list.empty())
        return out;
    std::size_t start = 0;
    while (start <= list.size()) {
        std::size_t comma = list.find(',', start);
        if (comma == std::string_view::npos)
            comma = list.size();
        const std::string_view item = TrimBlanks(list.substr(start, comma - start));
        const bool last = comma == list.size();
        if (item.empty() && last && start > 0)
            break; // a trailing comma
        const auto value = ParseHex32(item);
        if (!value || item.size() > 2)
            throw ParseError("\"" + std::string(item) +
                             "\" is not a byte: hex data is two hex digits a byte, separated by "
                             "commas");
        out.push_back(static_cast<std::uint8_t>(*value));
        start = comma + 1;
    }
    return out;
}

// Strings of the two text types are kept as UTF-8; in a file they are UTF-16LE (version 5)
// or the ANSI code page (REGEDIT4).
Bytes StoreText(const Bytes& fileBytes, bool unicodeFile) {
    std::string text;
    if (unicodeFile) {
        if (fileBytes.size() % 2 != 0)
            throw ParseError("text data of a Unicode file needs an even number of bytes");
        text = Utf16LeToUtf8(fileBytes.data(), fileBytes.size());
    } else {
        const std::string_view raw(reinterpret_cast<const char*>(fileBytes.data()),
                                   fileBytes.size());
        text = IsValidUtf8(raw) ? std::string(raw) : Cp1252ToUtf8(raw);
    }
    return Bytes(text.begin(), text.end());
}

// REG_MULTI_SZ is kept as the registry keeps it, UTF-16LE; a REGEDIT4 file holds it as 8-bit
// text.
Bytes StoreMultiText(const Bytes& fileBytes, bool unicodeFile) {
    if (unicodeFile)
        return fileBytes;
    const Bytes text = StoreText(fileBytes, false);
    return Utf8ToUtf16Le(std::string_view(reinterpret_cast<const char*>(text.data()), text.size()));
}

// The line up to a ";" comment that is not inside quotes.
std::string_view StripComment(std::string_view line) {
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (quoted && line[i] == '\\')
            ++i;
        else if (line[i] == '"')
            quoted = !quoted;
        else if (!quoted && line[i] == ';')
            return line.substr(0, i);
    }
    return line;
}

bool IsCommentOrBlank(std::string_view line) {
    line = TrimLeadingBlanks(line);
    return line.empty() || line.front() == ';' || line.front() == '#';
}

// A value line (its continued lines joined). `cutShort`: the end of the file came where the line
// went on; then only hex data is kept (what was read of it), and false says the value is dropped.
bool ParseValue(std::string_view line, RegOp& op, bool unicodeFile, bool cutShort) {
    std::string_view rest = line;
    if (rest.front() == '@') {
        rest.remove_prefix(1);
    } else {
        op.name = ParseQuoted(rest, "the value name");
    }
    rest = TrimBlanks(rest);
    if (rest.empty() || rest.front() != '=')
        throw ParseError("\"=\" expected after the value name");
    rest = TrimBlanks(rest.substr(1));
    const bool hex = StartsWithNoCase(rest, "hex:") || StartsWithNoCase(rest, "hex(");
    if (cutShort && !hex)
        return false;
    if (rest == "-") {
        op.kind = RegOpKind::DeleteValue;
        return true;
    }
    op.kind = RegOpKind::SetValue;
    if (!rest.empty() && rest.front() == '"') {
        const std::string text = ParseQuoted(rest, "the text");
        if (!TrimBlanks(rest).empty())
            throw ParseError("unexpected characters after the closing quote");
        op.type = REG_SZ;
        op.data.assign(text.begin(), text.end());
        op.data.push_back(0);
        return true;
    }
    if (StartsWithNoCase(rest, "dword:")) {
        const auto value = ParseHex32(TrimBlanks(rest.substr(6)));
        if (!value)
            throw ParseError("a dword needs 1 to 8 hex digits");
        op.type = REG_DWORD;
        op.data = LittleEndianBytes(*value, 4);
        return true;
    }
    if (StartsWithNoCase(rest, "hex:")) {
        op.type = REG_BINARY;
        op.data = ParseHexBytes(rest.substr(4));
        return true;
    }
    if (StartsWithNoCase(rest, "hex(")) {
        const std::size_t close = rest.find("):");
        const auto type =
            close == std::string_view::npos ? std::nullopt : ParseHex32(rest.substr(4, close - 4));
        if (!type)
            throw ParseError("hex(N): needs the data type N in hex digits");
        op.type = *type;
        op.data = ParseHexBytes(rest.substr(close + 2));
        if (op.type == REG_SZ || op.type == REG_EXPAND_SZ)
            op.data = StoreText(op.data, unicodeFile);
        else if (op.type == REG_MULTI_SZ)
            op.data = StoreMultiText(op.data, unicodeFile);
        // Windows stores these two with their terminating NUL even when the file leaves it out.
        if (op.type == REG_EXPAND_SZ && (op.data.empty() || op.data.back() != 0))
            op.data.push_back(0);
        if (op.type == REG_MULTI_SZ && op.data.size() % 2 == 0 &&
            (op.data.empty() || op.data.end()[-1] != 0 || op.data.end()[-2] != 0))
            op.data.insert(op.data.end(), {0, 0});
        return true;
    }
    throw ParseError("unknown data: expected \"text\", dword:, hex:, hex(N): or -");
}

std::string Quote(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        if (c == '\\' || c == '"')
            out += '\\';
        out += c;
    }
    return out + '"';
}

// Text that a quoted string gives back as it is. Bytes that are not UTF-8 would become unpaired
// surrogates in the file's text, which import refuses; hex(1) data keeps them.
bool PlainText(const Bytes& data) {
    if (data.empty() || data.back() != 0)
        return false;
    const std::string_view text(reinterpret_cast<const char*>(data.data()), data.size() - 1);
    return IsValidUtf8(text) && text.find_first_of(std::string_view("\0\r\n", 3)) ==
                                    std::string_view::npos;
}

// regedit's layout of hex data: lines of at most 80 columns joined by "\" and two blanks.
void AppendHex(std::string& out, std::string prefix, const Bytes& data) {
    static const char* digits = "0123456789abcdef";
    std::string line = std::move(prefix);
    for (std::size_t i = 0; i < data.size(); ++i) {
        line += digits[data[i] >> 4];
        line += digits[data[i] & 0xF];
        if (i + 1 < data.size()) {
            line += ',';
            if (line.size() > 76) {
                out += line + "\\\r\n";
                line = "  ";
            }
        }
    }
    out += line + "\r\n";
}

void ExportValue(std::string& out, const RegValue& value) {
    const std::string name = value.name.empty() ? "@" : Quote(value.name);
    if (value.type == REG_SZ && PlainText(value.data)) {
        const std::string_view text(reinterpret_cast<const char*>(value.data.data()),
                                    value.data.size() - 1);
        out += name + '=' + Quote(text) + "\r\n";
        return;
    }
    if (value.type == REG_DWORD && value.data.size() == 4) {
        char buf[16];
        const auto v = static_cast<std::uint32_t>(ReadLittleEndian(value.data.data(), 4));
        std::snprintf(buf, sizeof buf, "%08x", v);
        out += name + "=dword:" + buf + "\r\n";
        return;
    }
    if (value.type == REG_BINARY) {
        AppendHex(out, name + "=hex:", value.data);
        return;
    }
    char type[16];
    std::snprintf(type, sizeof type, "%x", value.type);
    const bool text = value.type == REG_SZ || value.type == REG_EXPAND_SZ;
    const std::string_view raw(reinterpret_cast<const char*>(value.data.data()), value.data.size());
    AppendHex(out, name + "=hex(" + type + "):", text ? Utf8ToUtf16Le(raw) : value.data);
}

void ExportKey(std::string& out, const RegistryKey& key) {
    out += '[';
    out += HiveName(key.root());
    if (!key.path().empty())
        out += '\\' + key.path();
    out += "]\r\n";
    for (const RegValue& value : key.Values())
        ExportValue(out, value);
    out += "\r\n";
}

} // namespace

std::optional<RegKeyName> ParseKeyName(std::string_view text) {
    const std::size_t cut = text.find('\\');
    const std::string_view root = text.substr(0, cut);
    RegKeyName name;
    if (EqualsIgnoringAsciiCase(root, "HKEY_LOCAL_MACHINE") ||
        EqualsIgnoringAsciiCase(root, "HKLM"))
        name.root = RootKey::LocalMachine;
    else if (EqualsIgnoringAsciiCase(root, "HKEY_CURRENT_USER") ||
             EqualsIgnoringAsciiCase(root, "HKCU"))
        name.root = RootKey::CurrentUser;
    else
        return std::nullopt;
    if (cut != std::string_view::npos) {
        std::string_view path = text.substr(cut + 1);
        while (!path.empty() && path.front() == '\\')
            path.remove_prefix(1);
        while (!path.empty() && path.back() == '\\')
            path.remove_suffix(1);
        name.path = path;
    }
    return name;
}

RegFileParse ParseRegFile(std::span<const std::uint8_t> content) {
    RegFileParse result;
    const Decoded decoded = DecodeFile(content);
    const std::vector<std::string_view> lines = SplitLines(decoded.text);
    int lineNo = 0;
    const auto fail = [&](int line, std::string message) {
        result.ops.clear();
        result.errorLine = line < 1 ? 1 : line;
        result.error = std::move(message);
        return result;
    };
    if (!decoded.ok)
        return fail(static_cast<int>(std::max<std::size_t>(lines.size(), 1)),
                    "the file ends in the middle of a UTF-16 character");
    if (lines.empty())
        return fail(1, "the file is empty");
    // Every line is reached through this, comments and continued lines too.
    const auto reach = [&](std::size_t i) {
        if (i + 1 != decoded.unpairedLine)
            return;
        char unit[8];
        std::snprintf(unit, sizeof unit, "%04X", static_cast<unsigned>(decoded.unpaired));
        lineNo = static_cast<int>(i + 1);
        throw ParseError(std::string("U+") + unit +
                         " is half of a UTF-16 surrogate pair without its other half: the line "
                         "is not valid text");
    };
    try {
        reach(0);
    } catch (const ParseError& e) {
        return fail(1, e.message());
    }
    // Blanks and tabs before the header are taken, as Windows takes them; nothing else.
    const std::string_view header = TrimLeadingBlanks(lines[0]);
    bool unicodeFile;
    if (header == kHeader5)
        unicodeFile = true;
    else if (header == kHeader4)
        unicodeFile = false;
    else if (content.size() >= 2 && content[0] != 0 && content[1] == 0)
        return fail(1, "a UTF-16 file must start with its byte-order mark (FF FE)");
    else
        return fail(1, "not a registry file: the first line must be exactly \"" +
                           std::string(kHeader5) + "\" or \"" + std::string(kHeader4) + "\"");

    // The key that values go to; none after a deletion, and a skipped one after a key line
    // that Windows ignores, whose values are dropped with it.
    enum class Current { None, Key, Skipped } state = Current::None;
    RootKey currentRoot = RootKey::LocalMachine;
    try {
        for (std::size_t i = 1; i < lines.size(); ++i) {
            lineNo = static_cast<int>(i + 1);
            reach(i);
            if (IsCommentOrBlank(lines[i]))
                continue;
            const std::string_view text = TrimLeadingBlanks(lines[i]);
            if (text.front() == '[') {
                // Blanks after "]" are dropped; blanks before it are part of the key's name.
                const std::string_view line = TrimTrailingBlanks(text);
                if (line.back() != ']')
                    throw ParseError("a key line must end with \"]\"");
                std::string_view inner = line.substr(1, line.size() - 2);
                RegOp op;
                op.line = lineNo;
                op.kind = RegOpKind::OpenKey;
                if (!inner.empty() && inner.front() == '-') {
                    op.kind = RegOpKind::DeleteKey;
                    inner.remove_prefix(1);
                }
                if (!inner.empty() && (inner.front() == ' ' || inner.front() == '\t')) {
                    state = Current::Skipped;
                    continue;
                }
                auto key = ParseKeyName(inner);
                if (!key)
                    throw ParseError("\"" + std::string(inner) +
                                     "\" is not a key of HKEY_LOCAL_MACHINE or HKEY_CURRENT_USER");
                if (op.kind == RegOpKind::DeleteKey && key->path.empty())
                    throw ParseError("a whole hive cannot be deleted");
                if (std::string beyond = KeyPathBeyondLimits(key->path); !beyond.empty())
                    throw ParseError(std::move(beyond));
                state = op.kind == RegOpKind::OpenKey ? Current::Key : Current::None;
                currentRoot = key->root;
                op.key = std::move(*key);
                result.ops.push_back(std::move(op));
                continue;
            }
            if (text.front() != '"' && text.front() != '@')
                throw ParseError("neither a [key], a \"value\"=, @= nor a ; comment");
            // regedit continues long lines with a backslash at the end; comment and blank lines
            // may come between.
            std::string line(TrimTrailingBlanks(StripComment(text)));
            bool cutShort = false;
            while (!line.empty() && line.back() == '\\') {
                line.pop_back();
                while (i + 1 < lines.size() && IsCommentOrBlank(lines[i + 1]))
                    reach(++i);
                if (i + 1 == lines.size()) {
                    cutShort = true;
                    break;
                }
                reach(++i);
                line += TrimBlanks(StripComment(lines[i]));
            }
            if (state == Current::None)
                throw ParseError("a value must follow the [key] it belongs to");
            // The file ends before the value does. regedit keeps the bytes of a hex list read so
            // far when the cut comes after a byte's comma ("20,\"), and drops the value when it
            // comes right after a byte ("20\", where the next line would have gone on with that
            // byte) or inside any other data. The rest of the file is imported either way.
            if (cutShort && !TrimTrailingBlanks(line).ends_with(','))
                continue;
            RegOp op;
            op.line = lineNo;
            op.key.root = currentRoot;
            if (ParseValue(line, op, unicodeFile, cutShort) && state == Current::Key)
                result.ops.push_back(std::move(op));
        }
    } catch (const ParseError& e) {
        return fail(lineNo, e.message());
    }
    return result;
}

bool ApplyRegOps(const std::vector<RegOp>& ops, std::string* error) {
    const auto fail = [&](const std::string& message) {
        if (error)
            *error = message;
        return false;
    };
    // Locks in a fixed order (machine first), so two imports never wait on each other.
    std::map<RootKey, std::unique_ptr<StoreTransaction>> transactions;
    for (const RegOp& op : ops)
        transactions.try_emplace(op.key.root);
    for (auto& [root, transaction] : transactions) {
        transaction = std::make_unique<StoreTransaction>(root);
        if (!transaction->ok())
            return fail(std::string(HiveName(root)) + ": " + transaction->error());
    }
    try {
        RegistryKey current;
        for (const RegOp& op : ops) {
            const auto where = [&] { return "line " + std::to_string(op.line) + ": "; };
            switch (op.kind) {
            case RegOpKind::OpenKey: {
                std::string why;
                current = RegistryKey::Open(op.key.root, op.key.path, true, nullptr, &why);
                if (!current)
                    return fail(where() + "the key cannot be created: " + why);
                break;
            }
            case RegOpKind::DeleteKey:
                DeleteKeyTreeInStore(op.key.root, op.key.path);
                current = RegistryKey();
                break;
            case RegOpKind::SetValue:
                current.SetValue(op.name, op.type, op.data);
                break;
            case RegOpKind::DeleteValue:
                current.DeleteValue(op.name);
                break;
            }
        }
        for (auto& [root, transaction] : transactions)
            transaction->Commit();
    } catch (const StoreError& e) {
        return fail(e.what());
    }
    return true;
}

void ExportRegFile(const RegistryKey& key,
                   const std::function<void(std::span<const std::uint8_t>)>& write) {
    std::string text = std::string(kHeader5) + "\r\n\r\n";
    Bytes out = {0xFF, 0xFE};
    WalkKeyTree(key, [&](const RegistryKey& each) {
        ExportKey(text, each);
        const Bytes body = Utf8ToUtf16Le(text);
        out.insert(out.end(), body.begin(), body.end());
        write(out);
        text.clear();
        out.clear();
    });
}

} // namespace quorvane
