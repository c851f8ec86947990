// quorvane-reg: the store's command-line editor, used the way the Windows reg command is.
// Exit codes: 0 done, 1 the operation failed or was declined, 2 the command line is wrong.

#include "core/text_codec.h"
#include "settings/regfile.h"
#include "settings/store.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
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
  quorvane-reg add    KEY [/v NAME | /ve] [/t TYPE] [/d DATA] [/f]
  quorvane-reg delete KEY [/v NAME | /ve | /va] [/f]
  quorvane-reg export KEY FILE [/y]
  quorvane-reg import FILE

  KEY   HKEY_LOCAL_MACHINE (HKLM) or HKEY_CURRENT_USER (HKCU), then \subkey\...
  /v    a value by name; /ve the key's unnamed default value; /va every value of the key
  /s    query: the key and everything below it
  /t    REG_SZ (default), REG_EXPAND_SZ, REG_DWORD or REG_BINARY
  /d    the data: text, a number (decimal or 0x hex) for REG_DWORD, hex digits for REG_BINARY
  /f    add, delete: do not ask before overwriting or deleting
  /y    export: overwrite FILE without asking

export writes regedit's format ("Windows Registry Editor Version 5.00", UTF-16LE). import reads
that and REGEDIT4 files; a file with an error imports nothing.
Switches may also start with "-" and are not case-sensitive.
)";

struct Args {
    std::string op;
    std::vector<std::string> positional;
    std::optional<std::string> valueName; // /v NAME, or "" for /ve
    bool allValues = false;               // /va
    bool recurse = false;                 // /s
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

std::string Lower(std::string text) {
    for (char& c : text)
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    return text;
}

// A switch only when it is one we know: absolute file names also start with "/".
std::optional<std::string> SwitchName(const std::string& arg) {
    if (arg.size() < 2 || (arg[0] != '/' && arg[0] != '-'))
        return std::nullopt;
    const std::string name = Lower(arg.substr(1));
    for (const char* known : {"v", "ve", "va", "s", "t", "d", "f", "y", "?", "h", "-help"})
        if (name == known)
            return name;
    return std::nullopt;
}

Args ParseArgs(int argc, char** argv) {
    Args args;
    if (argc < 2)
        throw UsageError("an operation is missing");
    args.op = Lower(argv[1]);
    bool switches = true;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto next = [&](const char* what) {
            if (i + 1 >= argc)
                throw UsageError(std::string(what) + " needs a value");
            return std::string(argv[++i]);
        };
        const std::optional<std::string> name = switches ? SwitchName(arg) : std::nullopt;
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
    check(args.recurse, "s");
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
    answer = Lower(answer);
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
        unsigned long long v = 0;
        for (std::size_t i = value.data.size(); i-- > 0;)
            v = v << 8 | value.data[i];
        return v;
    };
    char buf[32];
    if ((value.type == REG_SZ || value.type == REG_EXPAND_SZ)) {
        std::string text(value.data.begin(), value.data.end());
        return text.substr(0, text.find('\0'));
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

int QueryTree(const RegistryKey& key, const Args& args, int& matches) {
    if (args.valueName) {
        if (auto value = key.QueryValue(*args.valueName)) {
            std::cout << FullName(key) << "\n";
            PrintValue(*value);
            std::cout << "\n";
            ++matches;
        }
    } else {
        std::cout << FullName(key) << "\n";
        for (const RegValue& value : key.Values())
            PrintValue(value);
        std::cout << "\n";
    }
    for (const std::string& name : key.SubkeyNames()) {
        const std::string path = key.path().empty() ? name : key.path() + '\\' + name;
        if (const RegistryKey sub = RegistryKey::Open(key.root(), path, false))
            QueryTree(sub, args, matches);
    }
    return kOk;
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
        QueryTree(key, args, matches);
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
        std::cout << FullName(key) << "\n";
        PrintValue(*value);
        return kOk;
    }
    std::cout << FullName(key) << "\n";
    for (const RegValue& value : key.Values())
        PrintValue(value);
    const std::vector<std::string> subkeys = key.SubkeyNames();
    if (!subkeys.empty())
        std::cout << "\n";
    for (const std::string& name : subkeys)
        std::cout << FullName(key) << '\\' << name << "\n";
    return kOk;
}

Bytes DataArg(const std::string& typeName, const std::string& text, RegType& type) {
    const std::string t = Lower(typeName);
    Bytes data;
    if (t == "reg_sz" || t == "reg_expand_sz") {
        type = t == "reg_sz" ? REG_SZ : REG_EXPAND_SZ;
        data.assign(text.begin(), text.end());
        data.push_back(0);
    } else if (t == "reg_dword") {
        type = REG_DWORD;
        errno = 0;
        char* end = nullptr;
        const bool hex = Lower(text.substr(0, 2)) == "0x";
        const long long v = std::strtoll(text.c_str(), &end, hex ? 16 : 10);
        if (text.empty() || *end != '\0' || errno == ERANGE || v < -2147483648LL ||
            v > 4294967295LL || (hex && text.size() == 2))
            throw UsageError("\"" + text +
                             "\" is not a REG_DWORD: give a number from -2147483648 to "
                             "4294967295, or 0x and up to 8 hex digits");
        for (int i = 0; i < 4; ++i)
            data.push_back(
                static_cast<std::uint8_t>(static_cast<unsigned long long>(v) >> (8 * i)));
    } else if (t == "reg_binary") {
        type = REG_BINARY;
        const auto digit = [](char c) -> int {
            if (c >= '0' && c <= '9')
                return c - '0';
            c = static_cast<char>(c | 0x20);
            return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
        };
        if (text.size() % 2 != 0)
            throw UsageError("REG_BINARY data needs two hex digits a byte");
        for (std::size_t i = 0; i < text.size(); i += 2) {
            const int hi = digit(text[i]), lo = digit(text[i + 1]);
            if (hi < 0 || lo < 0)
                throw UsageError("\"" + text + "\" is not hex data");
            data.push_back(static_cast<std::uint8_t>(hi << 4 | lo));
        }
    } else {
        throw UsageError("unknown type \"" + typeName +
                         "\": use REG_SZ, REG_EXPAND_SZ, REG_DWORD or REG_BINARY");
    }
    return data;
}

int Add(const Args& args) {
    Allow(args, 1, "vtdf");
    const RegKeyName name = KeyArg(args.positional[0]);
    const bool setsValue = args.valueName || args.type || args.data;
    RegType type = REG_SZ;
    Bytes data;
    if (setsValue)
        data = DataArg(args.type.value_or("REG_SZ"), args.data.value_or(""), type);
    int code = kOk;
    const RegistryKey key = OpenKey(name, true, code);
    if (!key)
        return code;
    if (setsValue) {
        const std::string valueName = args.valueName.value_or("");
        if (!args.force && key.HasValue(valueName) &&
            !Ask("Value " + (valueName.empty() ? std::string("(Default)") : valueName) +
                 " exists, overwrite"))
            return kFailed;
        key.SetValue(valueName, type, data);
    }
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

// Written beside the target and renamed over it, so an existing file is never left half
// written.
bool WriteFileAtomically(const std::string& file, const Bytes& content, std::string& why) {
    std::string temp = file + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        why = std::strerror(errno);
        return false;
    }
    std::size_t done = 0;
    bool ok = true;
    while (ok && done < content.size()) {
        const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        ok = n > 0;
        if (ok)
            done += static_cast<std::size_t>(n);
    }
    ok = ok && ::fsync(fd) == 0;
    if (!ok)
        why = std::strerror(errno);
    ok = ::close(fd) == 0 && ok;
    if (ok && ::rename(temp.c_str(), file.c_str()) != 0) {
        why = std::strerror(errno);
        ok = false;
    }
    if (!ok)
        ::unlink(temp.c_str());
    return ok;
}

int Export(const Args& args) {
    Allow(args, 2, "y");
    const RegKeyName name = KeyArg(args.positional[0]);
    const std::string& file = args.positional[1];
    int code = kOk;
    const RegistryKey key = OpenKey(name, false, code);
    if (!key)
        return code;
    const Bytes content = ExportRegFile(key);
    struct stat st {};
    if (!args.overwrite && ::stat(file.c_str(), &st) == 0 &&
        !Ask("File " + file + " already exists. Overwrite"))
        return kFailed;
    std::string why;
    if (!WriteFileAtomically(file, content, why))
        return Failed("cannot write " + file + ": " + why);
    std::cout << "The operation completed successfully.\n";
    return kOk;
}

int Import(const Args& args) {
    Allow(args, 1, "");
    const std::string& file = args.positional[0];
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return Failed("cannot open " + file + ": " + std::strerror(errno));
    const Bytes content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad())
        return Failed("cannot read " + file + ": " + std::strerror(errno));
    const RegFileParse parsed = ParseRegFile(content);
    if (!parsed.ok())
        return Failed(file + ", line " + std::to_string(parsed.errorLine) + ": " + parsed.error +
                      ". Nothing was imported.");
    std::string why;
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
    } catch (const StoreError& e) {
        return Failed(e.what());
    }
}
