#pragma once
// A fresh, empty store folder for every test, and helpers that look at what the store holds
// through the store's own key API.

#include "core/store_folder.h"
#include "settings/registry.h"
#include "settings/store.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quorvane::test {

class StoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::remove_all(StoreFolder());
        ASSERT_TRUE(EnsureStoreFolder());
    }
    void TearDown() override {
        std::error_code ec;
        std::filesystem::permissions(StoreFolder(), std::filesystem::perms::owner_all, ec);
    }

    // The stored value, read without creating anything.
    static std::optional<RegValue> Stored(RootKey root, const std::string& key,
                                          const std::string& name) {
        const RegistryKey k = RegistryKey::Open(root, key, false);
        return k ? k.QueryValue(name) : std::nullopt;
    }

    static void PutRaw(RootKey root, const std::string& key, const std::string& name, RegType type,
                       Bytes data) {
        const RegistryKey k = RegistryKey::Open(root, key, true);
        ASSERT_TRUE(k);
        k.SetValue(name, type, data);
    }
};

// For a test that holds the write lock itself: the refusal it waits for comes after a short
// wait instead of the store's 5 s. The wait's length decides nothing, the held lock does.
class ShortBusyTimeout {
public:
    ShortBusyTimeout() : saved_(SetStoreBusyTimeout(std::chrono::milliseconds(20))) {}
    ~ShortBusyTimeout() { SetStoreBusyTimeout(saved_); }
    ShortBusyTimeout(const ShortBusyTimeout&) = delete;
    ShortBusyTimeout& operator=(const ShortBusyTimeout&) = delete;

private:
    std::chrono::milliseconds saved_;
};

inline Bytes BytesOf(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

inline std::string Repeat(std::string_view text, std::size_t times) {
    std::string out;
    for (std::size_t i = 0; i < times; ++i)
        out += text;
    return out;
}

// Every key below `key` (itself included) with its values, depth first: the whole content of a
// tree, to compare two stores.
struct KeyContent {
    std::string path;
    std::vector<RegValue> values;
    bool operator==(const KeyContent&) const = default;
};

inline void PrintTo(const KeyContent& key, std::ostream* out) {
    *out << "[" << key.path << "]";
    for (const RegValue& value : key.values) {
        *out << " \"" << value.name << "\"=" << value.type << ":";
        for (const std::uint8_t b : value.data)
            *out << ' ' << static_cast<int>(b);
    }
}

inline std::vector<KeyContent> Tree(RootKey root, const std::string& path) {
    std::vector<KeyContent> out;
    WalkKeyTree(RegistryKey::Open(root, path, false),
                [&](const RegistryKey& key) { out.push_back({key.path(), key.Values()}); });
    return out;
}

// Runs SQL on a hive's database as a hand edit would; answers SQLite's complaint, "" when none.
inline std::string EditByHand(const char* file, const std::string& sql) {
    sqlite3* raw = nullptr;
    const int rc =
        sqlite3_open_v2((StoreFolder() / file).c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr);
    std::unique_ptr<sqlite3, decltype(&sqlite3_close)> db(raw, &sqlite3_close);
    if (rc != SQLITE_OK)
        return "cannot open";
    return sqlite3_exec(raw, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK
               ? ""
               : sqlite3_errmsg(raw);
}

} // namespace quorvane::test
