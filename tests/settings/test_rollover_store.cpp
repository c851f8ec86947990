// What the day and cycle checks keep in the store: the names, types and bytes of the Windows
// version's values, the new dates beside them, and the failures a stored value can cause.

#include "settings/rollover_store.h"
#include "tests/settings/store_fixture.h"

#include <bit>
#include <cstdlib>
#include <fstream>
#include <functional>

namespace quorvane::test {
namespace {

const std::string kProduct = "Software\\Morvath Software\\Quorvane v4.8\\";
const std::string kDialNet = kProduct + "Providers\\Dial Net\\";

Bytes DateBytes(double value) {
    Bytes b;
    const auto bits = std::bit_cast<std::uint64_t>(value);
    for (int i = 0; i < 8; ++i)
        b.push_back(static_cast<std::uint8_t>(bits >> (8 * i)));
    return b;
}

const Bytes kTrue{1, 0, 0, 0};
const Bytes kFalse{0, 0, 0, 0};

class RolloverStoreTest : public StoreTest {};

TEST_F(RolloverStoreTest, LastDateAsTheWindowsVersionKeptIt) {
    EXPECT_EQ(ReadLastDate(), std::nullopt);
    const DateTime day = EncodeDate(2026, 3, 9);
    ASSERT_TRUE(WriteLastDate(day + EncodeTime(17, 30, 0), false));
    EXPECT_EQ(Stored(HKEY_LOCAL_MACHINE, kProduct, "LastDate"),
              (RegValue{"LastDate", REG_BINARY, DateBytes(day)}));
    EXPECT_EQ(Stored(HKEY_LOCAL_MACHINE, kProduct, "LastDateChanged"),
              (RegValue{"LastDateChanged", REG_DWORD, kFalse}));
    EXPECT_EQ(ReadLastDate(), day);

    ASSERT_TRUE(WriteLastDate(day + 1, true));
    EXPECT_EQ(ReadLastDate(), day + 1);
    EXPECT_EQ(Stored(HKEY_LOCAL_MACHINE, kProduct, "LastDateChanged"),
              (RegValue{"LastDateChanged", REG_DWORD, kTrue}));
}

TEST_F(RolloverStoreTest, CycleClearBesideCycleDayChanged) {
    EXPECT_EQ(ReadLastCycleClear("Dial Net"), std::nullopt);
    const DateTime start = EncodeDate(2026, 2, 28);

    // Taking the current cycle as cleared, without a clear, leaves the old flag alone.
    ASSERT_TRUE(WriteLastCycleClear("Dial Net", start, false));
    EXPECT_EQ(Stored(HKEY_LOCAL_MACHINE, kDialNet, "LastCycleClear"),
              (RegValue{"LastCycleClear", REG_BINARY, DateBytes(start)}));
    EXPECT_EQ(Stored(HKEY_LOCAL_MACHINE, kDialNet, "CycleDayChanged"), std::nullopt);

    // A clear writes the flag true, as the old program reads it, every time.
    ASSERT_TRUE(WriteLastCycleClear("Dial Net", start + 31, true));
    EXPECT_EQ(ReadLastCycleClear("dial net"), start + 31);
    EXPECT_EQ(Stored(HKEY_LOCAL_MACHINE, kDialNet, "CycleDayChanged"),
              (RegValue{"CycleDayChanged", REG_DWORD, kTrue}));
    ASSERT_TRUE(WriteLastCycleClear("Dial Net", start + 62, true));
    EXPECT_EQ(Stored(HKEY_LOCAL_MACHINE, kDialNet, "CycleDayChanged"),
              (RegValue{"CycleDayChanged", REG_DWORD, kTrue}));

    EXPECT_EQ(ReadLastCycleClear("Budget Line"), std::nullopt) << "each provider has its own";
}

TEST_F(RolloverStoreTest, SaveDateGoesWithTheProfileAndIsNoSetting) {
    const DateTime day = EncodeDate(2026, 12, 31);
    ASSERT_TRUE(SaveProfile(
        "Dial Net",
        {{"seCycleDay", Variant(15), vkInteger}, LastSaveDateSetting(day + EncodeTime(23, 59, 59))},
        {10, 20, 30, 40}, false));
    EXPECT_EQ(ReadLastSaveDate("Dial Net"), day);
    EXPECT_EQ(Stored(HKEY_LOCAL_MACHINE, kDialNet, "LastSaveDate"),
              (RegValue{"LastSaveDate", REG_BINARY, DateBytes(day)}));

    // Loading by the controls' kinds passes it over.
    std::vector<std::string> applied;
    LoadProfileSettings(
        "Dial Net", [](const std::string& name) { return SettingKind(name); },
        [&](const std::string& name, const Variant&) { applied.push_back(name); });
    EXPECT_THAT(applied, ::testing::ElementsAre("seCycleDay"));
}

TEST_F(RolloverStoreTest, ProvidersWithoutAKeyOfTheirOwnName) {
    // A blank name keeps its dates in the key for a profile nobody has named yet.
    ASSERT_TRUE(WriteLastCycleClear("  ", EncodeDate(2026, 1, 1), true));
    EXPECT_EQ(ReadLastCycleClear(""), EncodeDate(2026, 1, 1));
    EXPECT_TRUE(Stored(HKEY_LOCAL_MACHINE, kProduct + "Unnamed Provider", "LastCycleClear"));

    // A backslash would reach into another provider's key: nothing is read or written.
    EXPECT_FALSE(WriteLastCycleClear("Dial Net\\Sub", EncodeDate(2026, 1, 1), true));
    EXPECT_EQ(ReadLastCycleClear("Dial Net\\Sub"), std::nullopt);
    EXPECT_EQ(ReadLastSaveDate("Dial Net\\Sub"), std::nullopt);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kDialNet));
}

TEST_F(RolloverStoreTest, ValueOfAnotherTypeIsReported) {
    struct Case {
        std::string key, name;
        RegType type;
        Bytes data;
        std::function<void()> read;
    };
    const Case cases[] = {
        {kProduct, "LastDate", REG_DWORD, kTrue, [] { ReadLastDate(); }},
        {kDialNet,
         "LastCycleClear",
         REG_BINARY,
         {1, 2, 3, 4},
         [] { ReadLastCycleClear("Dial Net"); }},
        {kDialNet, "LastSaveDate", REG_SZ, BytesOf(std::string("2026-03-09") + '\0'),
         [] { ReadLastSaveDate("Dial Net"); }},
    };
    for (const Case& c : cases) {
        PutRaw(HKEY_LOCAL_MACHINE, c.key, c.name, c.type, c.data);
        try {
            c.read();
            ADD_FAILURE() << c.name << " read without an error";
        } catch (const ERegistryError& e) {
            EXPECT_STREQ(e.what(), ("Invalid data type for '" + c.name + "'").c_str());
        }
        EXPECT_EQ(Stored(HKEY_LOCAL_MACHINE, c.key, c.name), (RegValue{c.name, c.type, c.data}));
    }
}

TEST_F(RolloverStoreTest, StoreOutOfReachReadsNothingAndWritesNothing) {
    std::ofstream(StoreFolder() / "plain-file") << "x";
    const std::string saved = std::getenv("QUORVANE_HOME");
    ::setenv("QUORVANE_HOME", (StoreFolder() / "plain-file" / "store").c_str(), 1);
    EXPECT_FALSE(WriteLastDate(EncodeDate(2026, 3, 9), false));
    EXPECT_FALSE(WriteLastCycleClear("Dial Net", EncodeDate(2026, 3, 9), true));
    EXPECT_EQ(ReadLastDate(), std::nullopt);
    EXPECT_EQ(ReadLastCycleClear("Dial Net"), std::nullopt);
    EXPECT_EQ(ReadLastSaveDate("Dial Net"), std::nullopt);
    ::setenv("QUORVANE_HOME", saved.c_str(), 1);
    EXPECT_EQ(ReadLastDate(), std::nullopt);
}

} // namespace
} // namespace quorvane::test
