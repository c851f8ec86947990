#pragma once
// The registry editor's text files: reading "REGEDIT4" and "Windows Registry Editor Version
// 5.00" files (UTF-16LE with a byte-order mark as regedit writes them, UTF-16BE, UTF-8, or
// Windows-1252) into a list of changes, applying such a list to the store all at once, and
// writing a key with everything below it in regedit's own form.

#include "settings/store.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quorvane {

struct RegKeyName {
    RootKey root = RootKey::LocalMachine;
    std::string path; // below the hive, without leading or trailing backslash
};

// "HKEY_LOCAL_MACHINE\..." / "HKLM\..." / "HKEY_CURRENT_USER\..." / "HKCU\...", the root in
// any letter case. Nothing for any other root.
std::optional<RegKeyName> ParseKeyName(std::string_view text);

enum class RegOpKind {
    OpenKey,     // [KEY]: create it if missing; the values that follow belong to it
    DeleteKey,   // [-KEY]: remove it with everything below it
    SetValue,    // "name"=data
    DeleteValue, // "name"=-
};

struct RegOp {
    RegOpKind kind = RegOpKind::OpenKey;
    // A value's own key is the one opened last before it; of it a value carries only the hive,
    // so that the many values of a deep key do not each hold a copy of its path.
    RegKeyName key;
    std::string name;
    RegType type = REG_NONE;
    Bytes data;
    int line = 0; // where the entry starts in the file, from 1
};

struct RegFileParse {
    std::vector<RegOp> ops;
    int errorLine = 0; // 0 when the whole file was read
    std::string error;

    bool ok() const { return errorLine == 0; }
};

// Reads the whole file. Strings of REG_SZ and REG_EXPAND_SZ come out as the store keeps them
// (UTF-8 with one zero byte); the data of every other type is kept byte for byte. At the first
// error the list is dropped and the error names its line.
RegFileParse ParseRegFile(std::span<const std::uint8_t> content);

// Applies the changes in order, in one transaction per hive: everything or nothing. On failure
// `error` says what failed and where.
bool ApplyRegOps(const std::vector<RegOp>& ops, std::string* error);

// The key and its subkeys, depth first in enumeration order, as regedit exports them:
// "Windows Registry Editor Version 5.00", UTF-16LE with a byte-order mark, CRLF line ends.
// Reading the result back gives the same keys, names, types and bytes. Handed to `write` a key
// at a time, so that a large tree is never held whole (regedit's form names every key by its
// whole path). Throws StoreError.
void ExportRegFile(const RegistryKey& key,
                   const std::function<void(std::span<const std::uint8_t>)>& write);

} // namespace quorvane
