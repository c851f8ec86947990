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
