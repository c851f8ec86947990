#pragma once
// A fresh, empty store folder for every test, and helpers that look at what the store holds
// through the store's own key API.

#include "core/store_folder.h"
#include "settings/registry.h"
#include "settings/store.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
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

inline Bytes BytesOf(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

// Every key below `key` (itself included) with its values, depth first: the whole content of a
// tree, to compare two stores.
struct KeyContent {
    std::string path;
    std::vector<RegValue> values;
    bool operator==(const KeyContent&) const = default;
};

inline void Collect(const RegistryKey& key, std::vector<KeyContent>& out) {
    out.push_back({key.path(), key.Values()});
    for (const std::string& name : key.SubkeyNames())
        Collect(RegistryKey::Open(key.root(), key.path() + '\\' + name, false), out);
}

inline std::vector<KeyContent> Tree(RootKey root, const std::string& path) {
    std::vector<KeyContent> out;
    if (const RegistryKey key = RegistryKey::Open(root, path, false))
        Collect(key, out);
    return out;
}

} // namespace quorvane::test
