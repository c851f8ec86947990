#include "settings/registry.h"

#include "core/bytes.h"
#include "core/regional.h"
#include "core/text.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

namespace quorvane {

namespace {

const char* TypeName(Variant::Type type) {
    switch (type) {
    case Variant::Type::Empty:
        return "Empty";
    case Variant::Type::Integer:
        return "Integer";
    case Variant::Type::Bool:
        return "Boolean";
    case Variant::Type::String:
        return "String";
    case Variant::Type::Date:
        return "Date";
    case Variant::Type::Double:
        return "Double";
    case Variant::Type::Currency:
        return "Currency";
    }
    return "Unknown";
}

[[noreturn]] void CannotConvert(Variant::Type from, const char* to) {
    throw EVariantError(std::string("Could not convert variant of type (") + TypeName(from) +
                        ") into type (" + to + ")");
}

// Blanks around the number, and a plus sign before it, are allowed as the variant allows them.
std::string_view Trim(std::string_view text) {
    text = TrimBlanks(text);
    if (text.size() > 1 && text.front() == '+' && text[1] != '-')
        text.remove_prefix(1);
    return text;
}

template <typename T> std::optional<T> ParseWhole(std::string_view text) {
    T value{};
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || text.empty())
        return std::nullopt;
    return value;
}

// Numbers in texts always use "." whatever the locale says, as everywhere in the program.
std::optional<double> ParseNumber(std::string_view text) {
    return ParseDecimal(Trim(text));
}

// Round half to even, the rounding of the registry's original variant conversions.
std::optional<std::int64_t> RoundToInt64(double value, double low, double high) {
    if (!std::isfinite(value))
        return std::nullopt;
    const double rounded = std::nearbyint(value);
    if (rounded < low || rounded > high)
        return std::nullopt;
    return static_cast<std::int64_t>(rounded);
}

constexpr double kInt32Min = std::numeric_limits<std::int32_t>::min();
constexpr double kInt32Max = std::numeric_limits<std::int32_t>::max();
// The largest money amounts times 10000 that a double still tells apart from their neighbours.
constexpr double kCurrencyLimit = 9.2233720368547e18;

std::string FormatDouble(double value) {
    char buf[64];
    const auto [end, ec] =
        std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, 15);
    return ec == std::errc() ? std::string(buf, end) : std::string("0");
}

std::string FormatCurrency(std::int64_t scaled) {
    const bool negative = scaled < 0;
    const std::uint64_t magnitude =
        negative ? std::uint64_t{0} - static_cast<std::uint64_t>(scaled) : scaled;
    std::string text = std::to_string(magnitude / 10000);
    std::string fraction = std::to_string(magnitude % 10000);
    fraction.insert(0, 4 - fraction.size(), '0');
    while (!fraction.empty() && fraction.back() == '0')
        fraction.pop_back();
    if (!fraction.empty())
        text += '.' + fraction;
    return negative ? '-' + text : text;
}

std::string FormatDateTime(DateTime value) {
    const double day = std::trunc(value);
    const bool hasTime = value != day;
    if (day == 0 && hasTime)
        return FormatLongTime(value);
    if (!hasTime)
        return FormatShortDate(value);
    return FormatShortDate(value) + ' ' + FormatLongTime(value);
}

struct Encoded {
    RegType type;
    Bytes data;
};

// Converts before anything is opened, so a variant that cannot be converted writes nothing.
Encoded Encode(const Variant& value, int kind) {
    Encoded out{REG_BINARY, {}};
    switch (kind) {
    case vkInteger:
        out.type = REG_DWORD;
        out.data = LittleEndianBytes(static_cast<std::uint32_t>(value.toInt()), 4);
        break;
    case vkBool:
        out.type = REG_DWORD;
        out.data = LittleEndianBytes(value.toBool() ? 1 : 0, 4);
        break;
    case vkString: {
        out.type = REG_SZ;
        const std::string text = value.toString();
        out.data.assign(text.begin(), text.end());
        out.data.push_back(0);
        break;
    }
    case vkCurrency:
        out.data = LittleEndianBytes(static_cast<std::uint64_t>(value.toCurrency()), 8);
        break;
    default: // vkDate, vkFloat, vkTime
        out.data = LittleEndianBytes(std::bit_cast<std::uint64_t>(value.toDouble()), 8);
        break;
    }
    return out;
}

[[noreturn]] void InvalidType(const std::string& name) {
    throw ERegistryError("Invalid data type for '" + name + "'");
}

Variant Decode(const RegValue& stored, int kind, const std::string& name) {
    switch (kind) {
    case vkInteger:
    case vkBool:
        if (stored.type != REG_DWORD || stored.data.size() != 4)
            InvalidType(name);
        if (kind == vkBool)
            return Variant(ReadLittleEndian(stored.data.data(), stored.data.size()) != 0);
        return Variant(static_cast<std::int32_t>(
            static_cast<std::uint32_t>(ReadLittleEndian(stored.data.data(), stored.data.size()))));
    case vkString: {
        if (stored.type != REG_SZ && stored.type != REG_EXPAND_SZ)
            InvalidType(name);
        const auto* begin = reinterpret_cast<const char*>(stored.data.data());
        const std::size_t size = stored.data.size();
        const void* zero = size ? std::memchr(begin, 0, size) : nullptr;
        return Variant(std::string(begin, zero ? static_cast<const char*>(zero) : begin + size));
    }
    default:
        if (stored.type != REG_BINARY || stored.data.size() != 8)
            InvalidType(name);
        if (kind == vkCurrency)
            return Variant::FromCurrency(static_cast<std::int64_t>(
                ReadLittleEndian(stored.data.data(), stored.data.size())));
        if (kind == vkFloat)
            return Variant(
                std::bit_cast<double>(ReadLittleEndian(stored.data.data(), stored.data.size())));
        return Variant::FromDate(
            std::bit_cast<double>(ReadLittleEndian(stored.data.data(), stored.data.size())));
    }
}

bool ValidKind(int kind) {
    return kind >= vkInteger && kind <= vkTime;
}

// Reads open the key as the registry calls they stand for do: creating what is missing. The
// common case, an existing key, costs one lookup; only a missing key takes the creating path.
// A store that fails underneath counts as a key that cannot be opened.
std::optional<RegValue> QueryByPath(RootKey root, const RegistryPath& split) {
    ValueLookup found = LookUpValue(root, split.key, split.valueName);
    if (found.status == OpenStatus::NotFound)
        RegistryKey::Open(root, split.key, true);
    return std::move(found.value);
}

} // namespace

Variant Variant::FromDate(DateTime value) {
    Variant v;
    v.type_ = Type::Date;
    v.double_ = value;
    return v;
}

Variant Variant::FromCurrency(std::int64_t scaled) {
    Variant v;
    v.type_ = Type::Currency;
    v.int_ = scaled;
    return v;
}

std::int32_t Variant::toInt() const {
    switch (type_) {
    case Type::Empty:
        return 0;
    case Type::Integer:
    case Type::Bool:
        return static_cast<std::int32_t>(int_);
    case Type::Date:
    case Type::Double:
        if (auto v = RoundToInt64(double_, kInt32Min, kInt32Max))
            return static_cast<std::int32_t>(*v);
        break;
    case Type::Currency:
        if (auto v = RoundToInt64(static_cast<double>(int_) / 10000.0, kInt32Min, kInt32Max))
            return static_cast<std::int32_t>(*v);
        break;
    case Type::String: {
        const std::string_view text = Trim(text_);
        if (auto v = ParseWhole<std::int32_t>(text))
            return *v;
        if (auto d = ParseNumber(text))
            if (auto v = RoundToInt64(*d, kInt32Min, kInt32Max))
                return static_cast<std::int32_t>(*v);
        break;
    }
    }
    CannotConvert(type_, "Integer");
}

bool Variant::toBool() const {
    switch (type_) {
    case Type::Empty:
        return false;
    case Type::Integer:
    case Type::Bool:
    case Type::Currency:
        return int_ != 0;
    case Type::Date:
    case Type::Double:
        return double_ != 0;
    case Type::String: {
        const std::string_view text = Trim(text_);
        const std::string lower = AsciiLower(text);
        if (lower == "true")
            return true;
        if (lower == "false")
            return false;
        if (auto d = ParseNumber(text))
            return *d != 0;
        break;
    }
    }
    CannotConvert(type_, "Boolean");
}

std::string Variant::toString() const {
    switch (type_) {
    case Type::Empty:
        return {};
    case Type::Integer:
        return std::to_string(int_);
    case Type::Bool:
        return int_ ? "True" : "False";
    case Type::String:
        return text_;
    case Type::Date:
        return FormatDateTime(double_);
    case Type::Double:
        return FormatDouble(double_);
    case Type::Currency:
        return FormatCurrency(int_);
    }
    return {};
}

double Variant::toDouble() const {
    switch (type_) {
    case Type::Empty:
        return 0;
    case Type::Integer:
    case Type::Bool:
        return static_cast<double>(int_);
    case Type::Currency:
        return static_cast<double>(int_) / 10000.0;
    case Type::Date:
    case Type::Double:
        return double_;
    case Type::String:
        if (auto d = ParseNumber(text_))
            return *d;
        break;
    }
    CannotConvert(type_, "Double");
}

std::int64_t Variant::toCurrency() const {
    switch (type_) {
    case Type::Empty:
        return 0;
    case Type::Integer:
    case Type::Bool:
        return int_ * 10000;
    case Type::Currency:
        return int_;
    case Type::Date:
    case Type::Double:
        if (auto v = RoundToInt64(double_ * 10000.0, -kCurrencyLimit, kCurrencyLimit))
            return *v;
        break;
    case Type::String:
        if (auto d = ParseNumber(text_))
            if (auto v = RoundToInt64(*d * 10000.0, -kCurrencyLimit, kCurrencyLimit))
                return *v;
        break;
    }
    CannotConvert(type_, "Currency");
}

bool Variant::operator==(const Variant& other) const {
    if (type_ != other.type_)
        return false;
    switch (type_) {
    case Type::Empty:
        return true;
    case Type::Integer:
    case Type::Bool:
    case Type::Currency:
        return int_ == other.int_;
    case Type::Date:
    case Type::Double:
        return double_ == other.double_;
    case Type::String:
        return text_ == other.text_;
    }
    return false;
}

RegistryPath SplitRegistryPath(std::string_view path) {
    const std::size_t cut = path.rfind('\\');
    if (cut == std::string_view::npos)
        return {std::string(), std::string(path)};
    return {std::string(path.substr(0, cut + 1)), std::string(path.substr(cut + 1))};
}

bool ValueExistsByPath(RootKey root, std::string_view path) {
    return QueryByPath(root, SplitRegistryPath(path)).has_value();
}

void ReadValueByPath(RootKey root, std::string_view path, int kind, Variant& value) {
    if (!ValidKind(kind))
        return;
    const RegistryPath split = SplitRegistryPath(path);
    if (const auto stored = QueryByPath(root, split))
        value = Decode(*stored, kind, split.valueName);
}

bool WriteValueByPath(RootKey root, std::string_view path, const Variant& value, int kind) {
    if (!ValidKind(kind))
        return false;
    const Encoded encoded = Encode(value, kind);
    return WriteBytesByPath(root, path, encoded.type, encoded.data);
}

bool WriteBytesByPath(RootKey root, std::string_view path, RegType type,
                      std::span<const std::uint8_t> data) {
    const RegistryPath split = SplitRegistryPath(path);
    const auto failed = [&] {
        return ERegistryError("Failed to set data for '" + split.valueName + "'");
    };
    // One transaction for the key's creation and the value, so that a write costs one commit.
    StoreTransaction transaction(root);
    if (transaction.status() != OpenStatus::Opened)
        return false;
    if (!transaction.ok())
        throw failed();
    const RegistryKey key = RegistryKey::Open(root, split.key, true);
    if (!key)
        return false;
    try {
        key.SetValue(split.valueName, type, data);
        transaction.Commit();
    } catch (const StoreError&) {
        throw failed();
    }
    return true;
}

std::string ReadStringByPath(RootKey root, std::string_view path) {
    const RegistryPath split = SplitRegistryPath(path);
    if (const auto stored = QueryByPath(root, split))
        return Decode(*stored, vkString, split.valueName).toString();
    return {};
}

void GetValueNamesByPath(RootKey root, std::string_view keyPath, std::vector<std::string>& names) {
    names.clear();
    const RegistryKey key = RegistryKey::Open(root, keyPath, true);
    try {
        names = key.ValueNames();
    } catch (const StoreError&) {
        names.clear();
    }
}

void GetKeyNamesByPath(RootKey root, std::string_view keyPath, std::vector<std::string>& names) {
    names.clear();
    const RegistryKey key = RegistryKey::Open(root, keyPath, true);
    try {
        names = key.SubkeyNames();
    } catch (const StoreError&) {
        names.clear();
    }
}

bool KeyExists(RootKey root, std::string_view keyPath) {
    try {
        return KeyExistsInStore(root, keyPath);
    } catch (const StoreError&) {
        return false;
    }
}

bool WriteTogether(RootKey root, const std::function<bool()>& writes) {
    StoreTransaction batch(root);
    if (!batch.ok() || !writes())
        return false; // the batch ends uncommitted: nothing is written
    try {
        batch.Commit();
    } catch (const StoreError&) {
        return false;
    }
    return true;
}

bool DeleteKeyTree(RootKey root, std::string_view keyPath) {
    try {
        return DeleteKeyTreeInStore(root, keyPath);
    } catch (const StoreError&) {
        return false;
    }
}

} // namespace quorvane
