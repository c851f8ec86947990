// quorvane-reg: the store's command-line editor, used the way the Windows reg command is.
// Exit codes: 0 done, 1 the operation failed or was declined, 2 the command line is wrong.

#include "core/bytes.h"
#include "core/fd.h"
#include "core/file_replace.h"
#include "core/text.h"
#include "core/text_codec.h"
#include "settings/regfile.h"
#include "settings/store.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <iostream>
#include <iterator>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace quorvane;

namespace {

constexpr int kOk = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;

constexpr const char* kUsageText =
    R"(quorvane-reg: view and change Quorvane's store the way reg does the Windows registry.

  quorvane-reg query  KEY [/v NAME | /ve] [/s]
  quorvane-reg add    KEY [/v NAME | /ve] [/t TYPE] [/s SEPARATOR] [/d DATA] [/f]
  quorvane-reg delete KEY [/v NAME | /ve | /va] [/f]
  quorvane-reg export KEY FILE [/y]
  quorvane-reg import FILE

  KEY   HKEY_LOCAL_MACHINE (HKLM) or HKEY_CURRENT_USER (HKCU), then \subkey\...
  /v    a value by name; /ve the key's unnamed default value; /va every value of the key
  /s    query: the key and everything below it; add: the character that separates the
        strings of REG_MULTI_SZ data (\0 when not given)
  /t    REG_SZ (default), REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD, REG_QWORD, REG_BINARY or
        REG_NONE
  /d    the data: text (REG_NONE too), a number (decimal or 0x hex) for REG_DWORD and
        REG_QWORD, hex digits for REG_BINARY. Without /v and /ve, add sets the unnamed value, to
        an empty text unless /d says otherwise.
  /f    add, delete: do not ask before overwriting or deleting
  /y    export: overwrite FILE without asking

export writes regedit's format ("Windows Registry Editor Version 5.00", UTF-16LE). import reads
that and REGEDIT4 files; a file with an error imports nothing.
Switches may also start with "-" and are not case-sensitive; each may be given once.
)";

struct Args {
    std::string op;
    std::vector<std::string> positional;
    std::optional<std::string> valueName; // /v NAME, or "" for /ve
    bool allValues = false;               // /va
    bool recurse = false;                 // /s of query
    std::optional<std::string> separator; // /s of add
    bool force = false;                   // /f
    bool overwrite = false;               // /y
    std::optional<std::string> type;
    std::optional<std::string> data;
};

class UsageError {
public:
    explicit UsageError(std::string message) : message_(std::move(message)) {}
    const std::string& message() const { return message_; }

private:
    std::string message_;
};

// A switch only when it is one we know: absolute file names also start with "/".
std::optional<std::string> SwitchName(const std::string& arg) {
    if (arg.size() < 2 || (arg[0] != '/' && arg[0] != '-'))
        return std::nullopt;
    const std::string name = AsciiLower(arg.substr(1));
    for (const char* known : {"v", "ve", "va", "s", "t", "d", "f", "y", "?", "h", "-help"})
        if (name == known)
            return name;
    return std::nullopt;
}

Args ParseArgs(int argc, char** argv) {
    Args args;
    if (argc < 2)
        throw UsageError("an operation is missing");
    args.op = AsciiLower(argv[1]);
    bool switches = true;
    std::vector<std::string> seen;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto next = [&](const char* what) {
            if (i + 1 >= argc)
                throw UsageError(std::string(what) + " needs a value");
            return std::string(argv[++i]);
        };
        const std::optional<std::string> name = switches ? SwitchName(arg) : std::nullopt;
        if (name) {
            const auto given = [&](const std::string& which) {
                return std::find(seen.begin(), seen.end(), which) != seen.end();
            };
            if (given(*name))
                throw UsageError("/" + *name + " is given twice");
            seen.push_back(*name);
            // Each names the value in its own way: only one of them.
            if (given("v") + given("ve") + given("va") > 1)
                throw UsageError("/v, /ve and /va exclude each other");
        }
        if (switches && arg == "--") {
            switches = false;
        } else if (!name) {
            args.positional.push_back(arg);
        } else if (*name == "v") {
            args.valueName = next("/v");
        } else if (*name == "ve") {
            args.valueName = "";
        } else if (*name == "va") {
            args.allValues = true;
        } else if (*name == "s" && args.op == "add") {
            args.separator = next("/s");
        } else if (*name == "s") {
            args.recurse = true;
        } else if (*name == "t") {
            args.type = next("/t");
        } else if (*name == "d") {
            args.data = next("/d");
        } else if (*name == "f") {
            args.force = true;
        } else if (*name == "y") {
            args.overwrite = true;
        } else {
            args.op = "help";
        }
    }
    return args;
}

void Allow(const Args& args, std::size_t positionals, const std::string& switches) {
    if (args.positional.size() != positionals)
        throw UsageError(positionals == 1 ? "exactly one KEY or FILE is expected"
                                          : "KEY and FILE are expected");
    const auto check = [&](bool given, const char* name) {
        if (given && switches.find(name) == std::string::npos)
            throw UsageError(std::string("/") + name + " is not an option of this operation");
    };
    check(args.valueName.has_value(), "v");
    check(args.allValues, "a");
    check(args.recurse || args.separator.has_value(), "s");
    check(args.type.has_value(), "t");
    check(args.data.has_value(), "d");
    check(args.force, "f");
    check(args.overwrite, "y");
}

RegKeyName KeyArg(const std::string& text) {
    auto key = ParseKeyName(text);
    if (!key)
        throw UsageError("\"" + text +
                         "\" is not a key name: it must start with HKEY_LOCAL_MACHINE (HKLM) or "
                         "HKEY_CURRENT_USER (HKCU)");
    if (key->path.empty() && text.back() == '\\')
        throw UsageError("\"" + text + "\" is not a key name: a hive is named without a backslash");
    if (!IsValidUtf8(text))
        throw UsageError("the key name is not valid UTF-8 text");
    return *key;
}

std::string FullName(const RegistryKey& key) {
    std::string name = HiveName(key.root());
    return key.path().empty() ? name : name + '\\' + key.path();
}

int NotFound() {
    std::cerr << "ERROR: The system was unable to find the specified registry key or value.\n";
    return kFailed;
}

int Failed(const std::string& message) {
    std::cerr << "ERROR: " << message << "\n";
    return kFailed;
}

// Opens a key for the tool; prints why when it cannot.
RegistryKey OpenKey(const RegKeyName& name, bool create, int& exitCode) {
    OpenStatus status;
    std::string why;
    RegistryKey key = RegistryKey::Open(name.root, name.path, create, &status, &why);
    if (!key)
        exitCode = status == OpenStatus::NotFound ? NotFound() : Failed(why);
    return key;
}

bool Ask(const std::string& question) {
    std::cout << question << " (Yes/No)? " << std::flush;
    std::string answer;
    if (!std::getline(std::cin, answer))
        answer.clear();
    answer = AsciiLower(answer);
    if (answer == "y" || answer == "yes")
        return true;
    std::cout << "The operation was cancelled.\n";
    return false;
}

const char* TypeName(RegType type) {
    static const char* names[] = {"REG_NONE",
                                  "REG_SZ",
                                  "REG_EXPAND_SZ",
                                  "REG_BINARY",
                                  "REG_DWORD",
                                  "REG_DWORD_BIG_ENDIAN",
                                  "REG_LINK",
                                  "REG_MULTI_SZ",
                                  "REG_RESOURCE_LIST",
                                  "REG_FULL_RESOURCE_DESCRIPTOR",
                                  "REG_RESOURCE_REQUIREMENTS_LIST",
                                  "REG_QWORD"};
    return type < std::size(names) ? names[type] : nullptr;
}

std::string ShowData(const RegValue& value) {
    const auto le = [&] {
        return static_cast<unsigned long long>(
            ReadLittleEndian(value.data.data(), value.data.size()));
    };
    char buf[32];
    if ((value.type == REG_SZ || value.type == REG_EXPAND_SZ)) {
        std::string text(value.data.begin(), value.data.end());
        return text.substr(0, text.find('\0'));
    }
    if (value.type == REG_MULTI_SZ && value.data.size() % 2 == 0) {
        // The strings joined by \0, as reg shows them.
        std::string text = Utf16LeToUtf8(value.data.data(), value.data.size());
        while (!text.empty() && text.back() == '\0')
            text.pop_back();
        std::string shown;
        for (const char c : text)
            shown += c == '\0' ? std::string("\\0") : std::string(1, c);
        return shown;
    }
    if ((value.type == REG_DWORD && value.data.size() == 4) ||
        (value.type == REG_QWORD && value.data.size() == 8)) {
        std::snprintf(buf, sizeof buf, "0x%llx", le());
        return buf;
    }
    std::string hex;
    for (const std::uint8_t b : value.data) {
        std::snprintf(buf, sizeof buf, "%02X", b);
        hex += buf;
    }
    return hex;
}

void PrintValue(const RegValue& value) {
    const char* type = TypeName(value.type);
    std::string typeText = type ? type : "REG_0x" + std::to_string(value.type);
    std::cout << "    " << (value.name.empty() ? "(Default)" : value.name) << "    " << typeText
              << "    " << ShowData(value) << "\n";
}

// The key's values, and the blank line that ends them.
void PrintKey(const RegistryKey& key, const std::vector<RegValue>& values) {
    std::cout << FullName(key) << "\n";
    for (const RegValue& value : values)
        PrintValue(value);
    std::cout << "\n";
}

int Query(const Args& args) {
    Allow(args, 1, "vs");
    int code = kOk;
    const RegistryKey key = OpenKey(KeyArg(args.positional[0]), false, code);
    if (!key)
        return code;
    std::cout << "\n";
    if (args.recurse) {
        int matches = 0;
        WalkKeyTree(key, [&](const RegistryKey& each) {
            if (!args.valueName) {
                PrintKey(each, each.Values());
            } else if (auto value = each.QueryValue(*args.valueName)) {
                PrintKey(each, {*value});
                ++matches;
            }
        });
        if (args.valueName) {
            std::cout << "End of search: " << matches << " match(es) found.\n";
            return matches ? kOk : kFailed;
        }
        return kOk;
    }
    if (args.valueName) {
        const auto value = key.QueryValue(*args.valueName);
        if (!value)
            return NotFound();
        PrintKey(key, {*value});
        return kOk;
    }
    PrintKey(key, key.Values());
    for (const std::string& name : key.SubkeyNames())
        std::cout << FullName(key) << '\\' << name << "\n";
    return kOk;
}

// A whole number for REG_DWORD (bytes 4) or REG_QWORD (bytes 8): decimal, negative down to the
// signed type's least, or 0x and hex digits.
Bytes NumberArg(const std::string& text, int bytes, const char* typeName) {
    const int bits = 8 * bytes;
    const bool hex = AsciiLower(text.substr(0, 2)) == "0x";
    const bool negative = !hex && !text.empty() && text[0] == '-';
    // Only digits after the sign or the 0x: strtoull would also take blanks and a minus.
    const std::string digits = text.substr(hex ? 2 : negative ? 1 : 0);
    bool ok = !digits.empty() && std::all_of(digits.begin(), digits.end(), [&](char c) {
        return hex ? std::isxdigit(static_cast<unsigned char>(c)) != 0
                   : std::isdigit(static_cast<unsigned char>(c)) != 0;
    });
    errno = 0;
    unsigned long long v = 0;
    if (ok && negative) {
        const long long s = std::strtoll(text.c_str(), nullptr, 10);
        ok = errno != ERANGE && (bits == 64 || s >= -(1LL << (bits - 1)));
        v = static_cast<unsigned long long>(s);
    } else if (ok) {
        v = std::strtoull(text.c_str(), nullptr, hex ? 16 : 10);
        ok = errno != ERANGE && (bits == 64 || v >> bits == 0);
    }
    if (!ok) {
        const std::string low = bits == 64 ? "-9223372036854775808" : "-2147483648";
        const std::string high = bits == 64 ? "18446744073709551615" : "4294967295";
        throw UsageError("\"" + text + "\" is not a " + typeName + ": give a number from " + low +
                         " to " + high + ", or 0x and up to " + std::to_string(bytes * 2) +
                         " hex digits");
    }
    return LittleEndianBytes(static_cast<std::uint64_t>(v), static_cast<std::size_t>(bytes));
}

Bytes BinaryArg(const std::string& text) {
    if (text.size() % 2 != 0)
        throw UsageError("REG_BINARY data needs two hex digits a byte");
    Bytes data;
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const int hi = HexDigitValue(text[i]), lo = HexDigitValue(text[i + 1]);
        if (hi < 0 || lo < 0)
            throw UsageError("\"" + text + "\" is not hex data");
        data.push_back(static_cast<std::uint8_t>(hi << 4 | lo));
    }
    return data;
}

// The strings of REG_MULTI_SZ data as the registry keeps them: UTF-16LE, each ended by a NUL,
// and one more NUL after the last. A separator at the very end ends the last string.
Bytes MultiTextArg(const std::string& text, const std::optional<std::string>& separator) {
    const std::string sep = separator.value_or("\\0");
    if (separator && (sep.empty() || !IsValidUtf8(sep) ||
                      std::count_if(sep.begin(), sep.end(), [](char c) {
                          return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
                      }) != 1))
        throw UsageError("/s takes one character, the separator of the strings");
    std::vector<std::string> items;
    for (std::size_t start = 0; start < text.size();) {
        std::size_t cut = text.find(sep, start);
        if (cut == std::string::npos)
            cut = text.size();
        items.push_back(text.substr(start, cut - start));
        start = cut + sep.size();
    }
    Bytes data;
    for (const std::string& item : items) {
        // An empty string would end the list there and hide every string after it.
        if (item.empty())
            throw UsageError("REG_MULTI_SZ data cannot hold an empty string (two separators in "
                             "a row or one at the start)");
        const Bytes utf16 = Utf8ToUtf16Le(item);
        data.insert(data.end(), utf16.begin(), utf16.end());
        data.insert(data.end(), {0, 0});
    }
    data.insert(data.end(), {0, 0});
    if (items.empty())
        data.insert(data.end(), {0, 0});
    return data;
}

Bytes DataArg(const Args& args, RegType& type) {
    const std::string typeName = args.type.value_or("REG_SZ");
    const std::string t = AsciiLower(typeName);
    const std::string text = args.data.value_or("");
    if (args.separator && t != "reg_multi_sz")
        throw UsageError("/s separates the strings of REG_MULTI_SZ data only");
    Bytes data;
    if (t == "reg_sz" || t == "reg_expand_sz") {
        type = t == "reg_sz" ? REG_SZ : REG_EXPAND_SZ;
        data.assign(text.begin(), text.end());
        data.push_back(0);
    } else if (t == "reg_multi_sz") {
        type = REG_MULTI_SZ;
        data = MultiTextArg(text, args.separator);
    } else if (t == "reg_dword") {
        type = REG_DWORD;
        data = NumberArg(text, 4, "REG_DWORD");
    } else if (t == "reg_qword") {
        type = REG_QWORD;
        data = NumberArg(text, 8, "REG_QWORD");
    } else if (t == "reg_binary") {
        type = REG_BINARY;
        data = BinaryArg(text);
    } else if (t == "reg_none") {
        // As reg add keeps it: the text in UTF-16 with its NUL, whatever it looks like.
        type = REG_NONE;
        data = Utf8ToUtf16Le(text);
        data.insert(data.end(), {0, 0});
    } else {
        throw UsageError("unknown type \"" + typeName +
                         "\": use REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD, REG_QWORD, "
                         "REG_BINARY or REG_NONE");
    }
    return data;
}

// Without /v or /ve the value set is the key's unnamed one, as reg add does.
int Add(const Args& args) {
    Allow(args, 1, "vtsdf");
    const RegKeyName name = KeyArg(args.positional[0]);
    const std::string valueName = args.valueName.value_or("");
    if (!IsValidUtf8(valueName))
        throw UsageError("the value name is not valid UTF-8 text");
    RegType type = REG_SZ;
    const Bytes data = DataArg(args, type);
    int code = kOk;
    const RegistryKey key = OpenKey(name, true, code);
    if (!key)
        return code;
    if (!args.force && key.HasValue(valueName) &&
        !Ask("Value " + (valueName.empty() ? std::string("(Default)") : valueName) +
             " exists, overwrite"))
        return kFailed;
    key.SetValue(valueName, type, data);
    std::cout << "The operation completed successfully.\n";
    return kOk;
}

int Delete(const Args& args) {
    Allow(args, 1, "vaf");
    const RegKeyName name = KeyArg(args.positional[0]);
    int code = kOk;
    const RegistryKey key = OpenKey(name, false, code);
    if (!key)
        return code;
    if (args.valueName) {
        if (!key.HasValue(*args.valueName))
            return NotFound();
        const std::string shown = args.valueName->empty() ? "(Default)" : *args.valueName;
        if (!args.force && !Ask("Delete the registry value " + shown))
            return kFailed;
        key.DeleteValue(*args.valueName);
    } else if (args.allValues) {
        if (!args.force && !Ask("Delete all values under the registry key " + FullName(key)))
            return kFailed;
        StoreTransaction transaction(name.root);
        for (const std::string& value : key.ValueNames())
            key.DeleteValue(value);
        transaction.Commit();
    } else {
        if (key.path().empty())
            return Failed("a whole hive cannot be deleted");
        if (!args.force && !Ask("Permanently delete the registry key " + FullName(key)))
            return kFailed;
        DeleteKeyTreeInStore(name.root, key.path());
    }
    std::cout << "The operation completed successfully.\n";
    return kOk;
}

int Export(const Args& args) {
    Allow(args, 2, "y");
    const RegKeyName name = KeyArg(args.positional[0]);
    const std::string& file = args.positional[1];
    // Replacing one would lose that hive, with everything in it.
    if (IsStoreFile(file))
        return Failed(file + " is one of the store's own files; export to another file");
    int code = kOk;
    const RegistryKey key = OpenKey(name, false, code);
    if (!key)
        return code;
    // The rename that replaces the file needs only its folder writable: a file its user may not
    // write is refused here, before anything is asked.
    const ReplaceCheck right = CheckReplaceRight(file);
    const std::string reason = std::strerror(right.error);
    switch (right.right) {
    case ReplaceRight::Granted:
        break;
    case ReplaceRight::FileReadOnly:
        return Failed("cannot write " + file + ": it is read-only (" + reason + ")");
    case ReplaceRight::FolderReadOnly:
        return Failed("cannot write " + file + ": no file may be made in its folder (" + reason +
                      ")");
    case ReplaceRight::NoFolder:
        return Failed("cannot write " + file + ": its folder does not exist (" + reason + ")");
    }
    struct stat st {};
    const bool exists = ::stat(file.c_str(), &st) == 0;
    if (!args.overwrite && exists && !Ask("File " + file + " already exists. Overwrite"))
        return kFailed;
    FileReplacement out(file, 0600);
    bool written = out.ok() && (!exists || !S_ISREG(st.st_mode) || out.KeepOwnerAndModeOf(st));
    ExportRegFile(key, [&](std::span<const std::uint8_t> part) {
        written = written && out.Write(part.data(), part.size());
    });
    if (!written || !out.Commit())
        return Failed("cannot write " + file + ": " + std::strerror(out.error()));
    std::cout << "The operation completed successfully.\n";
    return kOk;
}

// Registry files are text, and a store of provider profiles exports to a few kilobytes; the
// limit keeps what is no such file (or a device that never ends) from filling the memory.
constexpr std::size_t kImportLimit = std::size_t{64} << 20;

// The whole file, or why it is not read: only a regular file up to the limit is.
std::optional<Bytes> ReadImportFile(const std::string& file, std::string& why) {
    // Not blocking: opening a pipe that nobody writes to must not hang before it is refused.
    const UniqueFd fd(::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat st {};
    if (!fd || ::fstat(fd.get(), &st) != 0) {
        why = "cannot open " + file + ": " + std::strerror(errno);
        return std::nullopt;
    }
    const std::string limit = "; import reads registry files of at most 64 MB (" +
                              std::to_string(kImportLimit) + " bytes)";
    if (S_ISDIR(st.st_mode))
        why = file + " is a folder, not a registry file";
    else if (!S_ISREG(st.st_mode))
        why = file + " is not a regular file (it is a device, a pipe or a socket); import reads "
                     "registry files";
    else if (static_cast<std::uintmax_t>(st.st_size) > kImportLimit)
        why = file + " is " + std::to_string(st.st_size) + " bytes" + limit;
    if (!why.empty())
        return std::nullopt;
    Bytes content(static_cast<std::size_t>(st.st_size) + 1);
    std::size_t size = 0;
    // Up to one byte past the limit, for a file that grows while it is read.
    while (size <= kImportLimit) {
        if (size == content.size())
            content.resize(std::min(content.size() * 2, kImportLimit + 1));
        const ssize_t n = ::read(fd.get(), content.data() + size, content.size() - size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            why = "cannot read " + file + ": " + std::strerror(errno);
            return std::nullopt;
        }
        if (n == 0)
            break;
        size += static_cast<std::size_t>(n);
    }
    if (size > kImportLimit) {
        why = file + " grew larger while it was read" + limit;
        return std::nullopt;
    }
    content.resize(size);
    return content;
}

int Import(const Args& args) {
    Allow(args, 1, "");
    const std::string& file = args.positional[0];
    std::string why;
    const std::optional<Bytes> content = ReadImportFile(file, why);
    if (!content)
        return Failed(why + ". Nothing was imported.");
    const RegFileParse parsed = ParseRegFile(*content);
    if (!parsed.ok())
        return Failed(file + ", line " + std::to_string(parsed.errorLine) + ": " + parsed.error +
                      ". Nothing was imported.");
    if (!ApplyRegOps(parsed.ops, &why))
        return Failed(file + ": " + why + ". Nothing was imported.");
    std::cout << "The operation completed successfully.\n";
    return kOk;
}

} // namespace

int main(int argc, char** argv) {
    try {
        const Args args = ParseArgs(argc, argv);
        if (args.op == "query")
            return Query(args);
        if (args.op == "add")
            return Add(args);
        if (args.op == "delete")
            return Delete(args);
        if (args.op == "export")
            return Export(args);
        if (args.op == "import")
            return Import(args);
        if (args.op == "help" || args.op == "/?" || args.op == "-?" || args.op == "-h" ||
            args.op == "--help") {
            std::cout << kUsageText;
            return kOk;
        }
        throw UsageError("unknown operation \"" + std::string(argv[1]) + "\"");
    } catch (const UsageError& e) {
        std::cerr << "ERROR: Invalid syntax: " << e.message()
                  << ".\nType \"quorvane-reg /?\" for usage.\n";
        return kUsage;
    } catch (const std::exception& e) {
        // StoreError, and whatever else stops a command: a message and status 1, never an
        // abort.
        return Failed(e.what());
    }
}
