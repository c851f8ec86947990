// The variant's conversions, and that a write of a variant that cannot be converted leaves the
// store untouched.

#include "tests/settings/store_fixture.h"

namespace quorvane::test {
namespace {

TEST(VariantTest, ConvertsTheUsualWays) {
    EXPECT_EQ(Variant().toInt(), 0);
    EXPECT_EQ(Variant().toString(), "");
    EXPECT_FALSE(Variant().toBool());
    EXPECT_EQ(Variant(true).toInt(), 1);
    EXPECT_EQ(Variant(false).toString(), "False");
    EXPECT_EQ(Variant(true).toString(), "True");
    EXPECT_EQ(Variant(-42).toString(), "-42");
    EXPECT_EQ(Variant(" 42 ").toInt(), 42);
    EXPECT_EQ(Variant("-7").toInt(), -7);
    EXPECT_TRUE(Variant("TRUE").toBool());
    EXPECT_FALSE(Variant("0").toBool());
    EXPECT_TRUE(Variant(5).toBool());
    EXPECT_DOUBLE_EQ(Variant("2.25").toDouble(), 2.25);
    EXPECT_EQ(Variant(2.5).toString(), "2.5");
    EXPECT_EQ(Variant(0.1).toString(), "0.1");
    EXPECT_EQ(Variant::FromCurrency(25000).toString(), "2.5");
    EXPECT_EQ(Variant::FromCurrency(-5).toString(), "-0.0005");
    EXPECT_EQ(Variant::FromCurrency(30000).toString(), "3");
    EXPECT_EQ(Variant::FromCurrency(25000).toDouble(), 2.5);
    EXPECT_EQ(Variant(3).toCurrency(), 30000);
    EXPECT_EQ(Variant("1.23456").toCurrency(), 12346);
    EXPECT_EQ(Variant(36526.0).toDate(), 36526.0);
}

TEST(VariantTest, RoundsHalfToEven) {
    EXPECT_EQ(Variant(2.5).toInt(), 2);
    EXPECT_EQ(Variant(3.5).toInt(), 4);
    EXPECT_EQ(Variant(-2.5).toInt(), -2);
    EXPECT_EQ(Variant("2.5").toInt(), 2);
    EXPECT_EQ(Variant::FromCurrency(25000).toInt(), 2);
    EXPECT_EQ(Variant::FromCurrency(35000).toInt(), 4);
}

TEST(VariantTest, RefusesWhatHasNoSuchForm) {
    EXPECT_THROW(Variant("abc").toInt(), EVariantError);
    EXPECT_THROW(Variant("12abc").toDouble(), EVariantError);
    EXPECT_THROW(Variant("yes").toBool(), EVariantError);
    EXPECT_THROW(Variant(3e9).toInt(), EVariantError);
    EXPECT_THROW(Variant(1e300).toCurrency(), EVariantError);
}

TEST(VariantTest, EqualityNeedsTheSameType) {
    EXPECT_EQ(Variant(1), Variant(1));
    EXPECT_NE(Variant(1), Variant(true));
    EXPECT_NE(Variant(1.0), Variant::FromDate(1.0));
    EXPECT_EQ(Variant(), Variant());
    EXPECT_NE(Variant(""), Variant());
}

class VariantStoreTest : public StoreTest {};

TEST_F(VariantStoreTest, ConvertsToTheKindOnWrite) {
    ASSERT_TRUE(WriteValueByPath(HKEY_LOCAL_MACHINE, "K\\n", Variant("30"), vkInteger));
    ASSERT_TRUE(WriteValueByPath(HKEY_LOCAL_MACHINE, "K\\s", Variant(30), vkString));
    ASSERT_TRUE(WriteValueByPath(HKEY_LOCAL_MACHINE, "K\\b", Variant(7), vkBool));
    EXPECT_EQ(Stored(HKEY_LOCAL_MACHINE, "K", "n")->data, (Bytes{30, 0, 0, 0}));
    EXPECT_EQ(Stored(HKEY_LOCAL_MACHINE, "K", "s")->data, (Bytes{'3', '0', 0}));
    EXPECT_EQ(Stored(HKEY_LOCAL_MACHINE, "K", "b")->data, (Bytes{1, 0, 0, 0}));
}

TEST_F(VariantStoreTest, UnconvertibleWriteTouchesNothing) {
    ASSERT_TRUE(WriteValueByPath(HKEY_LOCAL_MACHINE, "K\\n", Variant(1), vkInteger));
    EXPECT_THROW(WriteValueByPath(HKEY_LOCAL_MACHINE, "K\\n", Variant("abc"), vkInteger),
                 EVariantError);
    EXPECT_THROW(WriteValueByPath(HKEY_LOCAL_MACHINE, "New\\n", Variant("abc"), vkInteger),
                 EVariantError);
    EXPECT_EQ(Stored(HKEY_LOCAL_MACHINE, "K", "n")->data, (Bytes{1, 0, 0, 0}));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, "New"));
}

} // namespace
} // namespace quorvane::test
