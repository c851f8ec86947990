// The Network Interface method's side of a session on the stand-in interfaces: which readings
// are taken, and that the bytes of an interface that goes or comes back are counted once.
#include "watch/interface_watch.h"

#include <gtest/gtest.h>

namespace quorvane {
namespace {

class InterfaceWatchTest : public testing::Test {
protected:
    FakeNetInterfaces fake_;
    InterfaceWatch watch_{fake_};
};

TEST_F(InterfaceWatchTest, TheNamedInterfacesBytesAreCountedOnceThroughRemovalAndReturn) {
    watch_.SetText("usb*");
    const int eth = fake_.AddOnline("eth0", {9000, 9000});
    const int usb = fake_.AddOnline("usb0", {1000, 500});
    watch_.TakeChanges();
    ASSERT_TRUE(watch_.Online());
    watch_.StartCounting();

    fake_.SetCounters(usb, {1600, 700});
    fake_.SetCounters(eth, {99000, 99000}); // not named: never counted
    EXPECT_EQ(watch_.Count(), (DataBytes{600, 200}));
    EXPECT_EQ(watch_.Count(), (DataBytes{0, 0}));

    // Gone between two ticks: its last bytes come with the removal, once.
    fake_.SetCounters(usb, {1900, 750});
    fake_.Remove(usb);
    EXPECT_EQ(watch_.TakeChanges(), (DataBytes{300, 50}));
    EXPECT_FALSE(watch_.Online());
    EXPECT_EQ(watch_.Count(), (DataBytes{0, 0}));

    // Back under a new index: all of its counter is new.
    const int again = fake_.AddOnline("usb0", {40, 10});
    EXPECT_NE(again, usb);
    EXPECT_EQ(watch_.Count(), (DataBytes{40, 10}));
    // Made and gone between two ticks: counted from zero through its removal.
    const int brief = fake_.AddOnline("usb1", {70, 30});
    fake_.Remove(brief);
    EXPECT_EQ(watch_.TakeChanges(), (DataBytes{70, 30}));

    fake_.SetCounters(again, {100, 20});
    EXPECT_EQ(watch_.StopCounting(), (DataBytes{60, 10}));
    EXPECT_EQ(watch_.Counted(), (DataBytes{1070, 300}));
    EXPECT_FALSE(watch_.Counting());
    fake_.SetCounters(again, {900, 900});
    EXPECT_EQ(watch_.Count(), DataBytes{});
    fake_.Remove(again);
    EXPECT_EQ(watch_.TakeChanges(), DataBytes{});
}

// An index is not an interface: one made again under the index it had counts from zero, one
// moved in from another namespace from the counters it came with, and the old one's removal,
// taken in after the new one was read, is still the old one's.
TEST_F(InterfaceWatchTest, AnIndexUsedAgainIsAnotherInterface) {
    watch_.SetText("wwan*");
    fake_.AddOnline("wwan1", {0, 0}); // keeps the session
    const int wwan = fake_.AddOnline("wwan0", {1000, 1000});
    watch_.TakeChanges();
    watch_.StartCounting();
    fake_.SetCounters(wwan, {1500, 1200});
    EXPECT_EQ(watch_.Count(), (DataBytes{500, 200}));

    // Made again under its index between two ticks, read before the changes are taken in.
    fake_.SetCounters(wwan, {1600, 1300});
    fake_.Remove(wwan);
    EXPECT_EQ(fake_.AddOnline("wwan0", {2000, 2000}, wwan), wwan);
    EXPECT_EQ(watch_.Count(), (DataBytes{2000, 2000}));
    EXPECT_EQ(watch_.TakeChanges(), (DataBytes{100, 100}));
    fake_.SetCounters(wwan, {2500, 2100});
    EXPECT_EQ(watch_.Count(), (DataBytes{500, 100}));

    // Moved to another namespace, and back under another index with what it carried there.
    fake_.SetCounters(wwan, {2600, 2200});
    fake_.Remove(wwan);
    EXPECT_EQ(watch_.TakeChanges(), (DataBytes{100, 100}));
    const int back = fake_.MoveIn("wwan0", {3000, 2900});
    fake_.SetGlobalAddresses(back, 1);
    fake_.SetUp(back, true);
    EXPECT_EQ(watch_.Count(), DataBytes{});
    fake_.SetCounters(back, {3300, 3000});
    EXPECT_EQ(watch_.StopCounting(), (DataBytes{300, 100}));
    EXPECT_EQ(watch_.Counted(), (DataBytes{3500, 2600}));
}

TEST_F(InterfaceWatchTest, AConnectionsInterfaceIsReadToTheStopAfterItIsNoLongerActive) {
    const int wwan = fake_.AddOnline("wwan0", {500, 500});
    watch_.SetText("");
    EXPECT_FALSE(watch_.Online()); // nothing NetworkManager marks metered
    watch_.SetConnections({{"Mobile", {"wwan0"}, true}});
    ASSERT_TRUE(watch_.Online());
    watch_.StartCounting();
    fake_.SetCounters(wwan, {800, 600});
    EXPECT_EQ(watch_.Count(), (DataBytes{300, 100}));
    fake_.SetCounters(wwan, {850, 600});
    watch_.SetConnections({});
    EXPECT_FALSE(watch_.Online());
    EXPECT_EQ(watch_.StopCounting(), (DataBytes{50, 0}));
}

} // namespace
} // namespace quorvane
