// The Network Interface method's rules: which interfaces a text names (a name, a pattern, a
// NetworkManager connection, or every metered connection), when one counts as online, and what
// the Detection page offers.
#include "watch/net_interfaces.h"

#include <gtest/gtest.h>

#include <net/if.h>

namespace quorvane {
namespace {

const std::vector<NmConnection> kConnections = {
    {"Mobile Broadband", {"wwan0"}, true},
    {"Phone Tethering", {"enx0a1b2c3d4e5f"}, false},
    {"Dial-Up", {"ppp0"}, true},
};

TEST(InterfaceRules, TheTextNamesInterfacesByNamePatternOrConnection) {
    struct Case {
        const char* text;
        const char* name;
        bool named;
    };
    const Case cases[] = {
        {"wwan0", "wwan0", true},
        {"wwan0", "wwan1", false},
        {"WWAN0", "wwan0", false}, // interface names are exact
        {"ppp*", "ppp0", true},
        {"ppp*", "ppp12", true},
        {"ppp*", "eth0", false},
        {"enx*", "enx0a1b2c3d4e5f", true},
        {"usb[0-1]", "usb1", true},
        {"usb[0-1]", "usb2", false},
        {"Phone Tethering", "enx0a1b2c3d4e5f", true},
        {"Phone Tethering", "wwan0", false},
        {"phone tethering", "enx0a1b2c3d4e5f", false},
        {"", "wwan0", true},            // metered
        {"", "ppp0", true},             // metered
        {"", "enx0a1b2c3d4e5f", false}, // not metered
        {"", "eth0", false},            // no connection of NetworkManager's
        {"*", "lo", false},             // never the loopback
        {"*", "eth0", true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(InterfaceNamed(c.text, c.name, kConnections), c.named)
            << '"' << c.text << "\" " << c.name;
    EXPECT_FALSE(InterfaceNamed("", "wwan0", {})); // no NetworkManager: an empty text names none
}

TEST(InterfaceRules, OnlineIsUpRunningAndAGlobalAddress) {
    struct Case {
        unsigned flags;
        int global;
        bool online;
    };
    const Case cases[] = {
        {IFF_UP | IFF_RUNNING, 1, true},  {IFF_UP | IFF_RUNNING, 3, true},
        {IFF_UP | IFF_RUNNING, 0, false}, {IFF_UP, 1, false},
        {IFF_RUNNING, 1, false},          {0, 1, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(InterfaceOnline({5, "wwan0", c.flags, c.global}), c.online)
            << c.flags << " " << c.global;

    const std::vector<NetInterface> interfaces = {
        {1, "lo", IFF_UP | IFF_RUNNING | IFF_LOOPBACK, 1},
        {2, "eth0", IFF_UP | IFF_RUNNING, 1},
        {3, "wwan0", IFF_UP, 1},
        {4, "ppp0", IFF_UP | IFF_RUNNING, 1},
    };
    EXPECT_TRUE(NamedInterfaceOnline("ppp*", interfaces, {}));
    EXPECT_FALSE(NamedInterfaceOnline("wwan0", interfaces, {})); // not running
    EXPECT_FALSE(NamedInterfaceOnline("lo", interfaces, {}));
    EXPECT_TRUE(NamedInterfaceOnline("Dial-Up", interfaces, kConnections));
    EXPECT_FALSE(NamedInterfaceOnline("Mobile Broadband", interfaces, kConnections));
}

TEST(InterfaceRules, TheChoicesAreTheInterfacesThenTheConnections) {
    const std::vector<NetInterface> interfaces = {
        {1, "lo", IFF_UP | IFF_LOOPBACK, 0}, {2, "eth0", 0, 0}, {7, "wwan0", 0, 0}};
    EXPECT_EQ(InterfaceChoices(interfaces, {"Mobile Broadband", "", "wwan0", "Dial-Up"}),
              (std::vector<std::string>{"eth0", "wwan0", "Mobile Broadband", "Dial-Up"}));
}

TEST(InterfaceRules, TheStandInTellsEachChangeThroughItsDescriptor) {
    FakeNetInterfaces fake;
    const int index = fake.AddOnline("usb0", {500, 300});
    const std::uint64_t instance = fake.Instance(index);
    EXPECT_TRUE(NamedInterfaceOnline("usb0", fake.Interfaces(), {}));
    EXPECT_EQ(fake.ReadCounters(index, instance), (InterfaceCounters{500, 300}));
    fake.Remove(index);
    EXPECT_EQ(fake.TakeChanges(),
              (std::vector<InterfaceRemoval>{{index, "usb0", {500, 300}, instance, {0, 0}}}));
    EXPECT_TRUE(fake.TakeChanges().empty());
    EXPECT_FALSE(fake.ReadCounters(index, instance));
    EXPECT_NE(fake.Add("usb0"), index);
    // Another interface under the same index is not the one asked about.
    EXPECT_EQ(fake.MoveIn("usb1", {70, 80}, index), index);
    EXPECT_FALSE(fake.ReadCounters(index, instance));
    EXPECT_EQ(fake.ReadCounters(index, fake.Instance(index)), (InterfaceCounters{70, 80}));
    for (const NetInterface& interface : fake.Interfaces())
        EXPECT_EQ(interface.arrived,
                  (interface.index == index ? InterfaceCounters{70, 80} : InterfaceCounters{}))
            << interface.name;
}

} // namespace
} // namespace quorvane
