// The key handles and transactions that the path operations and quorvane-reg share.

#include "tests/settings/store_fixture.h"

namespace quorvane::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class KeyTest : public StoreTest {};

TEST_F(KeyTest, OpeningWithoutCreatingLeavesTheStoreAlone) {
    OpenStatus status;
    EXPECT_FALSE(RegistryKey::Open(HKEY_LOCAL_MACHINE, "A\\B", false, &status));
    EXPECT_EQ(status, OpenStatus::NotFound);
    EXPECT_FALSE(RegistryKey::Open(HKEY_LOCAL_MACHINE, "A", false));

    const RegistryKey created = RegistryKey::Open(HKEY_LOCAL_MACHINE, "\\A\\\\b\\", true, &status);
    ASSERT_TRUE(created);
    EXPECT_EQ(status, OpenStatus::Opened);
    EXPECT_EQ(created.path(), "A\\b");
    // Found again in other letters, reported with the stored ones.
    EXPECT_EQ(RegistryKey::Open(HKEY_LOCAL_MACHINE, "a\\B", false).path(), "A\\b");
    EXPECT_EQ(RegistryKey::Open(HKEY_LOCAL_MACHINE, "", false).path(), "");
}

TEST_F(KeyTest, AnyTypeAndAnyBytesComeBackAsStored) {
    const RegistryKey key = RegistryKey::Open(HKEY_CURRENT_USER, "Raw", true);
    const RegValue values[] = {
        {"multi", REG_MULTI_SZ, {'a', 0, 0, 0, 'b', 0, 0, 0, 0, 0}},
        {"qword", REG_QWORD, {1, 2, 3, 4, 5, 6, 7, 8}},
        {"none", REG_NONE, {}},
        {"odd type", 0x12345, {0xFF}},
        {"embedded zero", REG_SZ, {'a', 0, 'b', 0}},
        {"", REG_SZ, {0}},
    };
    for (const RegValue& v : values)
        key.SetValue(v.name, v.type, v.data);
    for (const RegValue& v : values)
        EXPECT_EQ(key.QueryValue(v.name), v) << v.name;
    EXPECT_EQ(key.Values().size(), std::size(values));
}

TEST_F(KeyTest, DeletedValueComesBackAtTheEnd) {
    const RegistryKey key = RegistryKey::Open(HKEY_LOCAL_MACHINE, "K", true);
    for (const char* name : {"one", "two", "three"})
        key.SetValue(name, REG_DWORD, Bytes{1, 0, 0, 0});
    EXPECT_TRUE(key.DeleteValue("TWO"));
    EXPECT_FALSE(key.DeleteValue("two"));
    key.SetValue("Two", REG_DWORD, Bytes{2, 0, 0, 0});
    EXPECT_THAT(key.ValueNames(), ElementsAre("one", "three", "Two"));
}

// A handle to a key that someone deleted must never write into a key created later under the
// same name.
TEST_F(KeyTest, HandleOfADeletedKeyRefusesWrites) {
    const RegistryKey stale = RegistryKey::Open(HKEY_LOCAL_MACHINE, "Providers\\Old", true);
    stale.SetValue("v", REG_DWORD, Bytes{1, 0, 0, 0});
    ASSERT_TRUE(DeleteKeyTreeInStore(HKEY_LOCAL_MACHINE, "Providers\\Old"));
    EXPECT_FALSE(stale.QueryValue("v"));
    EXPECT_THAT(stale.ValueNames(), IsEmpty());
    EXPECT_THROW(stale.SetValue("v", REG_DWORD, Bytes{2, 0, 0, 0}), StoreError);

    const RegistryKey fresh = RegistryKey::Open(HKEY_LOCAL_MACHINE, "Providers\\Old", true);
    EXPECT_THROW(stale.SetValue("w", REG_DWORD, Bytes{2, 0, 0, 0}), StoreError);
    EXPECT_THAT(fresh.ValueNames(), IsEmpty());
}

TEST_F(KeyTest, TransactionIsAllOrNothing) {
    {
        StoreTransaction transaction(HKEY_LOCAL_MACHINE);
        ASSERT_TRUE(transaction.ok());
        RegistryKey::Open(HKEY_LOCAL_MACHINE, "Dropped\\Key", true).SetValue("v", REG_SZ, Bytes{0});
        ASSERT_TRUE(WriteValueByPath(HKEY_LOCAL_MACHINE, "Dropped\\w", Variant(1), vkInteger));
        EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, "Dropped\\Key")) << "seen inside";
    }
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, "Dropped"));
    {
        StoreTransaction transaction(HKEY_LOCAL_MACHINE);
        RegistryKey::Open(HKEY_LOCAL_MACHINE, "Kept\\Key", true).SetValue("v", REG_SZ, Bytes{0});
        ASSERT_TRUE(WriteValueByPath(HKEY_LOCAL_MACHINE, "Kept\\w", Variant(1), vkInteger));
        transaction.Commit();
    }
    EXPECT_TRUE(Stored(HKEY_LOCAL_MACHINE, "Kept\\Key", "v"));
    EXPECT_TRUE(Stored(HKEY_LOCAL_MACHINE, "Kept", "w"));
}

// Tests start from an empty folder; a store replaced under a live process is picked up.
TEST_F(KeyTest, StoreReplacedUnderTheProcessIsReopened) {
    ASSERT_TRUE(WriteValueByPath(HKEY_LOCAL_MACHINE, "K\\v", Variant(1), vkInteger));
    std::filesystem::remove_all(StoreFolder());
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, "K"));
    ASSERT_TRUE(WriteValueByPath(HKEY_LOCAL_MACHINE, "K\\v", Variant(2), vkInteger));
    EXPECT_TRUE(std::filesystem::exists(StoreFolder() / "machine.db"));
    EXPECT_EQ(Stored(HKEY_LOCAL_MACHINE, "K", "v")->data, (Bytes{2, 0, 0, 0}));
}

} // namespace
} // namespace quorvane::test
