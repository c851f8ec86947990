// Where a running session keeps its state: the values and their types, and the commits it shares
// with the provider's totals, both or neither.

#include "settings/rollover_store.h"
#include "settings/session_store.h"
#include "tests/settings/store_fixture.h"

namespace quorvane::test {
namespace {

const std::string kProduct = "Software\\Morvath Software\\Quorvane v4.8\\";
const std::string kState = kProduct + "Session";

const StoredSessionState kState1{"Dial Net",
                                 EncodeDate(2026, 3, 9) + EncodeTime(10, 0, 0),
                                 EncodeDate(2026, 3, 9) + EncodeTime(10, 1, 30),
                                 {90, 60, 30, 60, 60, 0},
                                 {5000000000, 120000, 4000000000, 100000}};

ProfileTotals StoredTotals(const std::string& provider) {
    ProfileTotals totals{-1, -1, -1, -1};
    LoadProfileTotals(provider, totals);
    return totals;
}

class SessionStoreTest : public StoreTest {};

TEST_F(SessionStoreTest, TheStateBesideTheProviders) {
    EXPECT_EQ(ReadSessionState(), std::nullopt);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kState)) << "looking for it made it";

    ASSERT_TRUE(WriteSessionState(kState1));
    EXPECT_EQ(ReadSessionState(), kState1);
    EXPECT_EQ(Stored(HKEY_LOCAL_MACHINE, kState, "Provider"),
              (RegValue{"Provider", REG_SZ, BytesOf(std::string("Dial Net") + '\0')}));
    EXPECT_EQ(Stored(HKEY_LOCAL_MACHINE, kState, "FirstTick")->type, REG_BINARY);
    EXPECT_EQ(Stored(HKEY_LOCAL_MACHINE, kState, "SavedSeconds"),
              (RegValue{"SavedSeconds", REG_DWORD, {60, 0, 0, 0}}));
    EXPECT_EQ(Stored(HKEY_LOCAL_MACHINE, kState, "Rx"),
              (RegValue{"Rx", REG_QWORD, {0x00, 0xf2, 0x05, 0x2a, 0x01, 0, 0, 0}}));

    // A state written without the byte counts (before the data volume was counted) has none.
    for (const char* name : kSessionByteNames)
        RegistryKey::Open(HKEY_LOCAL_MACHINE, kState, false).DeleteValue(name);
    StoredSessionState withoutBytes = kState1;
    withoutBytes.bytes = {};
    EXPECT_EQ(ReadSessionState(), withoutBytes);

    ASSERT_TRUE(RemoveSessionState());
    EXPECT_EQ(ReadSessionState(), std::nullopt);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kState));
    EXPECT_TRUE(RemoveSessionState()) << "nothing to remove is no failure";
}

TEST_F(SessionStoreTest, TheStateGoesWithTheTotalsOrNotAtAll) {
    const std::vector<ProfileSetting> settings = {{"ckEnableLogging", Variant(true), vkBool}};
    StoredSessionState later = kState1;
    later.lastWrite += 30 * kOneSecond;
    later.counts = {120, 60, 60, 120, 60, 60};
    const SessionStateChange write{SessionStateChange::Kind::Write, later};
    const SessionStateChange remove{SessionStateChange::Kind::Remove, {}};

    ASSERT_TRUE(WriteSessionState(kState1));
    ASSERT_TRUE(SaveProfile("Dial Net", settings, {10, 20, 30, 40}, false, &write));
    EXPECT_EQ(ReadSessionState(), later);
    EXPECT_EQ(StoredTotals("Dial Net"), (ProfileTotals{10, 20, 30, 40}));

    // A setting the store refuses (a kind it does not know): neither the totals nor the state.
    std::vector<ProfileSetting> refused = settings;
    refused.push_back({"eOdd", Variant("x"), 99});
    EXPECT_FALSE(SaveProfile("Dial Net", refused, {11, 21, 31, 41}, false, &remove));
    EXPECT_EQ(ReadSessionState(), later);
    EXPECT_EQ(StoredTotals("Dial Net"), (ProfileTotals{10, 20, 30, 40}));

    ASSERT_TRUE(SaveProfile("Dial Net", settings, {11, 21, 31, 41}, false, &remove));
    EXPECT_EQ(ReadSessionState(), std::nullopt);
    EXPECT_EQ(StoredTotals("Dial Net"), (ProfileTotals{11, 21, 31, 41}));
}

TEST_F(SessionStoreTest, RecoveredTotalsTakeTheStateAway) {
    ASSERT_TRUE(SaveProfile("Dial Net", {}, {10, 20, 30, 40}, false));
    ASSERT_TRUE(WriteSessionState(kState1));
    const DateTime day = EncodeDate(2026, 3, 9);

    // Nothing for a provider that is no longer stored, or one that no key can be.
    EXPECT_FALSE(SaveRecoveredSession("Budget Line", {1, 2, 3, 4}, day));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, ProviderKeyPath("Budget Line")));
    EXPECT_FALSE(SaveRecoveredSession("Dial Net\\Sub", {1, 2, 3, 4}, day));
    EXPECT_EQ(ReadSessionState(), kState1);

    const ProfileDataTotals data{700, 300, 9000000000, 4000};
    ASSERT_TRUE(SaveRecoveredSession("dial net", {40, 80, 60, 4130}, day + 0.5, &data));
    EXPECT_EQ(StoredTotals("Dial Net"), (ProfileTotals{40, 80, 60, 4130}));
    ProfileData stored;
    LoadProfileData("Dial Net", stored);
    EXPECT_EQ(stored.totals, data);
    EXPECT_EQ(ReadLastSaveDate("Dial Net"), day);
    EXPECT_EQ(ReadSessionState(), std::nullopt);
}

TEST_F(SessionStoreTest, AValueOfAnotherTypeIsReported) {
    const std::pair<const char*, RegType> cases[] = {{"Seconds", REG_SZ}, {"Rx", REG_DWORD}};
    for (const auto& [name, type] : cases) {
        ASSERT_TRUE(WriteSessionState(kState1));
        PutRaw(HKEY_LOCAL_MACHINE, kState, name, type, {9, 0, 0, 0});
        try {
            ReadSessionState();
            ADD_FAILURE() << name << " read without an error";
        } catch (const ERegistryError& e) {
            EXPECT_EQ(e.what(), "Invalid data type for '" + std::string(name) + "'");
        }
    }
}

TEST_F(SessionStoreTest, TheDataTotalsGoWithTheProfileAsQuadWords) {
    const ProfileData data{{1234, 567, 5000000000, 7000000000}, 1};
    ASSERT_TRUE(SaveProfile("Dial Net", {}, {10, 20, 30, 40}, false, nullptr, &data));
    const std::string key = ProviderKeyPath("Dial Net");
    EXPECT_EQ(Stored(HKEY_LOCAL_MACHINE, key, "TotalRx"),
              (RegValue{"TotalRx", REG_QWORD, {0x00, 0xf2, 0x05, 0x2a, 0x01, 0, 0, 0}}));
    EXPECT_EQ(Stored(HKEY_LOCAL_MACHINE, key, "DataAlerts")->type, REG_DWORD);
    ProfileData loaded{{9, 9, 9, 9}, 9};
    LoadProfileData("Dial Net", loaded);
    EXPECT_EQ(loaded, data);

    // Missing values leave what is in memory; the alerts alone go at once.
    ASSERT_TRUE(SaveProfile("Budget Line", {}, {1, 2, 3, 4}, false));
    ProfileData kept{{9, 9, 9, 9}, 2};
    LoadProfileData("Budget Line", kept);
    EXPECT_EQ(kept, (ProfileData{{9, 9, 9, 9}, 2}));
    ASSERT_TRUE(WriteDataAlerts("Dial Net", 3));
    LoadProfileData("Dial Net", loaded);
    EXPECT_EQ(loaded.alerts, 3);
    // A provider only typed, never saved, is not made by an alert.
    EXPECT_FALSE(WriteDataAlerts("Typed Only", 1));
    EXPECT_FALSE(ProviderExists("Typed Only"));

    PutRaw(HKEY_LOCAL_MACHINE, key, "TodayTx", REG_BINARY, {1, 2, 3, 4, 5, 6, 7, 8});
    try {
        LoadProfileData("Dial Net", loaded);
        ADD_FAILURE() << "read without an error";
    } catch (const ERegistryError& e) {
        EXPECT_STREQ(e.what(), "Invalid data type for 'TodayTx'");
    }
}

} // namespace
} // namespace quorvane::test
