#pragma once
// One value of the store reached through one path string and a value kind. Every operation
// opens the key it needs, does exactly one thing and is committed when it returns; nothing is
// cached, batched or deferred, so a read always sees what the store holds, also after a write
// by another process.
//
// A store that cannot be opened, created or written behaves as a key that cannot be opened or
// created: reads answer false, leave the variant alone, give "" or an empty list; writes answer
// false. Nothing is shown and nothing is thrown then.

#include "core/datetime.h"
#include "core/version.h"
#include "settings/store.h"

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quorvane {

// The key below HKEY_LOCAL_MACHINE that holds everything the program keeps.
inline constexpr const char* ProductKey = kProductKey;

// Codes 0 to 6; a code outside them makes a read or a write do nothing.
enum RegValueKind : int { vkInteger = 0, vkBool, vkString, vkDate, vkFloat, vkCurrency, vkTime };

// "Invalid data type for '<name>'" (a stored value of another type or size than the kind
// demands) and "Failed to set data for '<name>'" (the store refused a write to a key it had
// opened: disk full, I/O error, a lock held by another process for seconds).
class ERegistryError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A variant that cannot be converted to what is asked of it, e.g. the text "abc" as an integer.
class EVariantError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A tagged value: empty, a 32-bit integer, a flag, a UTF-8 text, a date-time, a double, or a
// money amount (a signed 64-bit integer holding the amount times 10000).
class Variant {
public:
    enum class Type { Empty, Integer, Bool, String, Date, Double, Currency };

    Variant() = default;
    Variant(std::int32_t value) : type_(Type::Integer), int_(value) {}
    Variant(bool value) : type_(Type::Bool), int_(value ? 1 : 0) {}
    Variant(double value) : type_(Type::Double), double_(value) {}
    Variant(std::string value) : type_(Type::String), text_(std::move(value)) {}
    Variant(std::string_view value) : type_(Type::String), text_(value) {}
    Variant(const char* value) : type_(Type::String), text_(value ? value : "") {}
    static Variant FromDate(DateTime value);
    // The amount times 10000, e.g. 25000 for 2.50.
    static Variant FromCurrency(std::int64_t scaled);

    Type type() const { return type_; }
    bool isEmpty() const { return type_ == Type::Empty; }

    // The usual conversions: empty gives 0, false or ""; a flag is 1 or 0 as a number and
    // "True"/"False" as text; a number's text uses "." as the decimal point; a date-time's
    // text uses the regional formats. Non-whole numbers round half to even. Throws
    // EVariantError when the value has no such form (a text that is not a number, a number
    // out of range).
    std::int32_t toInt() const;
    bool toBool() const;
    std::string toString() const;
    double toDouble() const;
    DateTime toDate() const { return toDouble(); }
    std::int64_t toCurrency() const;

    // Same type and same value.
    bool operator==(const Variant& other) const;

private:
    Type type_ = Type::Empty;
    std::int64_t int_ = 0; // Integer, Bool, Currency
    double double_ = 0;    // Date, Double
    std::string text_;
};

// A registry path split at its last backslash: the key part keeps that backslash, the value
// name is what follows ("" for the key's unnamed default value). No backslash at all: empty
// key part (the hive itself).
struct RegistryPath {
    std::string key;
    std::string valueName;
};
RegistryPath SplitRegistryPath(std::string_view path);

// Each opens the key part, creating what is missing, as the registry calls they stand for do.
bool ValueExistsByPath(RootKey root, std::string_view path);
// Leaves `value` exactly as it came in when the key cannot be opened or the value is missing.
void ReadValueByPath(RootKey root, std::string_view path, int kind, Variant& value);
// True when written; false when the key cannot be opened or created (or the kind is not one of
// the seven): nothing is written then.
bool WriteValueByPath(RootKey root, std::string_view path, const Variant& value, int kind);
// The same for a value given as its registry type and bytes (a REG_QWORD, say).
bool WriteBytesByPath(RootKey root, std::string_view path, RegType type,
                      std::span<const std::uint8_t> data);
// The value as text ("" when missing); a value that is not REG_SZ/REG_EXPAND_SZ raises
// "Invalid data type for '<name>'".
std::string ReadStringByPath(RootKey root, std::string_view path);
// The whole key path names the key (not split). The list is cleared first.
void GetValueNamesByPath(RootKey root, std::string_view keyPath, std::vector<std::string>& names);
void GetKeyNamesByPath(RootKey root, std::string_view keyPath, std::vector<std::string>& names);

// Whether the key exists; never creates anything.
bool KeyExists(RootKey root, std::string_view keyPath);

// Runs `writes` (operations of this file on `root`) in one transaction, committed when they
// answer true: another reader, or a kill, sees all of them or none. False when nothing was
// written. Inside an open transaction of the hive it joins that one.
bool WriteTogether(RootKey root, const std::function<bool()>& writes);
// Deletes the key with all its values and subkeys. False when there was no such key or it
// could not be deleted; the hive itself is never deleted.
bool DeleteKeyTree(RootKey root, std::string_view keyPath);

} // namespace quorvane
