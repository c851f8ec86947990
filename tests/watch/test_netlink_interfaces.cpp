// The kernel's interfaces through rtnetlink, in a network namespace of the test's own: a veth
// pair with its peer end in a second namespace, addressed, brought up and down, deleted and made
// again, with traffic between the two namespaces. Every wait is for the watcher's descriptor.
#include "support/net_namespace.h"
#include "watch/interface_watch.h"
#include "watch/netlink_interfaces.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <net/if.h>
#include <poll.h>

using namespace quorvane;

namespace quorvane {
void PrintTo(const InterfaceRemoval& removal, std::ostream* out) {
    *out << removal.index << " " << removal.name << " rx " << removal.counters.rx << " tx "
         << removal.counters.tx;
}
void PrintTo(const DataBytes& bytes, std::ostream* out) {
    *out << "rx " << bytes.rx << " tx " << bytes.tx;
}
} // namespace quorvane

namespace {

// A safety net for a broken set-up, never a measure of speed: every wait ends at its event.
constexpr int kNoEventAfterMs = 120000;

class NetlinkWatch : public testing::Test {
protected:
    void SetUp() override {
        if (!here_.Made())
            GTEST_SKIP() << here_.Why();
        ASSERT_TRUE(peer_.Made()) << peer_.Why();
    }

    static void Run(const test::NetNamespace& ns, const std::string& command) {
        std::string output;
        ASSERT_EQ(ns.Run(command, &output), 0) << command << ": " << output;
    }
    void Here(const std::string& command) { Run(here_, command); }
    void Peer(const std::string& command) { Run(peer_, command); }

    // "v0" here and "p0" in the peer namespace, both down, with fixed hardware addresses. With
    // `quiet`, nothing moves on the pair but the test's own traffic: no IPv6 (no neighbour
    // discovery, no multicast reports) and each end knows the other's hardware address (no ARP).
    void MakePair(bool quiet) {
        if (quiet) {
            for (const test::NetNamespace* ns : {&here_, &peer_})
                Run(*ns, "echo 1 >/proc/sys/net/ipv6/conf/all/disable_ipv6 && "
                         "echo 1 >/proc/sys/net/ipv6/conf/default/disable_ipv6");
        }
        Here("ip link add v0 address 02:00:00:00:00:01 type veth peer name p0 address "
             "02:00:00:00:00:02 netns " +
             std::to_string(peer_.Pid()));
    }
    std::unique_ptr<NetlinkInterfaces> Watch(int receiveBuffer = 0) {
        const test::Inside inside(here_);
        auto watch = std::make_unique<NetlinkInterfaces>(receiveBuffer);
        EXPECT_EQ(watch->Problem(), "");
        return watch;
    }

    // Takes in the watcher's changes, and waits for more, until `done` says so; the removals
    // taken in go to `removals`.
    static bool WaitUntil(NetlinkInterfaces& watch, const std::function<bool()>& done,
                          std::vector<InterfaceRemoval>* removals = nullptr) {
        return WaitForEvents(watch.ChangeDescriptor(), [&] {
            for (InterfaceRemoval& removal : watch.TakeChanges())
                if (removals)
                    removals->push_back(std::move(removal));
            return done();
        });
    }
    // Asks `done`, which takes the changes in itself, after each event until it says so.
    static bool WaitForEvents(int descriptor, const std::function<bool()>& done) {
        for (;;) {
            if (done())
                return true;
            pollfd waiting{descriptor, POLLIN, 0};
            if (::poll(&waiting, 1, kNoEventAfterMs) != 1)
                return false;
        }
    }

    // "wwan0": a macvlan on the veth end, addressed and up, its peer end likewise; each knows the
    // other's hardware address.
    void MakeModem() {
        Here("ip link add wwan0 link v0 address 02:00:00:00:00:03 type macvlan mode bridge && "
             "ip addr add 10.0.0.1/24 dev wwan0 && ip link set v0 up && ip link set wwan0 up && "
             "ip neigh replace 10.0.0.2 lladdr 02:00:00:00:00:02 dev wwan0 nud permanent");
    }
    void PeerUp() {
        Peer("ip addr add 10.0.0.2/24 dev p0 && ip link set p0 up && "
             "ip neigh replace 10.0.0.1 lladdr 02:00:00:00:00:03 dev p0 nud permanent");
    }

    static std::optional<NetInterface> Find(NetlinkInterfaces& watch, const std::string& name) {
        for (const NetInterface& interface : watch.Interfaces())
            if (interface.name == name)
                return interface;
        return std::nullopt;
    }

    // The kernel's own counters of an interface here, as `ip -s` shows them.
    InterfaceCounters IpCounters(const std::string& name) {
        const auto counters = test::IpCounters(here_, name);
        EXPECT_TRUE(counters) << name;
        return counters ? InterfaceCounters{counters->first, counters->second}
                        : InterfaceCounters{};
    }

    test::NetNamespace here_;
    test::NetNamespace peer_;
};

TEST_F(NetlinkWatch, OnlineFollowsTheLinkAndItsGlobalAddressesAsTheyChange) {
    MakePair(false);
    auto watch = Watch();
    struct Step {
        const char* here;
        const char* peer;
        bool up, running;
        int global;
        bool online;
    };
    const Step steps[] = {
        {"ip addr add 10.0.0.1/24 dev v0", nullptr, false, false, 1, false},
        {"ip link set v0 up", nullptr, true, false, 1, false}, // no carrier: the peer is down
        {nullptr, "ip link set p0 up", true, true, 1, true},
        {"ip addr del 10.0.0.1/24 dev v0", nullptr, true, true, 0, false},
        {"ip addr add 10.0.2.1/24 dev v0 scope link", nullptr, true, true, 0, false},
        {"ip -6 addr add 2001:db8::1/64 dev v0 nodad", nullptr, true, true, 1, true},
        {"ip -6 addr add 2001:db8::2/64 dev v0 nodad", nullptr, true, true, 2, true},
        {"ip -6 addr del 2001:db8::1/64 dev v0", nullptr, true, true, 1, true},
        {"ip -6 addr del 2001:db8::2/64 dev v0", nullptr, true, true, 0, false},
        {"ip addr add 10.0.1.1/24 dev v0", nullptr, true, true, 1, true},
        {nullptr, "ip link set p0 down", true, false, 1, false},
        {nullptr, "ip link set p0 up", true, true, 1, true},
        {"ip link set v0 down", nullptr, false, false, 1, false},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.here ? step.here : step.peer);
        if (step.here)
            Here(step.here);
        if (step.peer)
            Peer(step.peer);
        ASSERT_TRUE(WaitUntil(*watch, [&] {
            const auto v0 = Find(*watch, "v0");
            return v0 && ((v0->flags & IFF_UP) != 0) == step.up &&
                   ((v0->flags & IFF_RUNNING) != 0) == step.running &&
                   v0->globalAddresses == step.global;
        }));
        EXPECT_EQ(NamedInterfaceOnline("v0", watch->Interfaces(), {}), step.online);
        EXPECT_EQ(NamedInterfaceOnline("v*", watch->Interfaces(), {}), step.online);
    }
    // Only this namespace's interfaces: the peer end is not among them.
    std::vector<std::string> names;
    for (const NetInterface& interface : watch->Interfaces())
        names.push_back(interface.name);
    EXPECT_EQ(names, (std::vector<std::string>{"lo", "v0"}));
}

// The interface that goes away is a macvlan on the veth end ("wwan0"): a veth keeps the count of
// what it receives in its peer, which is unlinked before the removal message is made, so a veth's
// own removal reports 0 received. Devices that count for themselves (a macvlan, a modem's
// interface, ppp) report both directions whole.
TEST_F(NetlinkWatch, ARemovalCarriesTheFinalCountersAndTheInterfaceComesBackUnderANewIndex) {
    MakePair(true);
    MakeModem();
    PeerUp();
    auto watch = Watch();
    ASSERT_TRUE(
        WaitUntil(*watch, [&] { return NamedInterfaceOnline("wwan0", watch->Interfaces(), {}); }));
    const int index = Find(*watch, "wwan0")->index;
    const std::uint64_t instance = Find(*watch, "wwan0")->instance;
    const UniqueFd here = test::UdpSocket(here_, "10.0.0.1", 9000);
    const UniqueFd peer = test::UdpSocket(peer_, "10.0.0.2", 9000);

    const InterfaceCounters before = *watch->ReadCounters(index, instance);
    EXPECT_EQ(before, IpCounters("wwan0"));
    ASSERT_TRUE(test::SendAndReceive(here.get(), peer.get(), "10.0.0.2", 9000, 1200));
    ASSERT_TRUE(test::SendAndReceive(peer.get(), here.get(), "10.0.0.1", 9000, 1400));
    const InterfaceCounters after = *watch->ReadCounters(index, instance);
    EXPECT_EQ(after, IpCounters("wwan0"));
    // Payload and the UDP, IP and Ethernet headers, each way (one frame each: below the MTU).
    EXPECT_EQ(after.tx - before.tx, 1200u + 8 + 20 + 14);
    EXPECT_EQ(after.rx - before.rx, 1400u + 8 + 20 + 14);

    // Traffic after the last reading, then the interface goes: the removal has all of it.
    ASSERT_TRUE(test::SendAndReceive(here.get(), peer.get(), "10.0.0.2", 9000, 500));
    ASSERT_TRUE(test::SendAndReceive(peer.get(), here.get(), "10.0.0.1", 9000, 700));
    const InterfaceCounters last = IpCounters("wwan0");
    EXPECT_GT(last.rx, after.rx);
    std::vector<InterfaceRemoval> removals;
    Here("ip link del wwan0");
    ASSERT_TRUE(WaitUntil(*watch, [&] { return !removals.empty(); }, &removals));
    EXPECT_EQ(removals, (std::vector<InterfaceRemoval>{{index, "wwan0", last, instance, {}}}));
    EXPECT_FALSE(watch->ReadCounters(index, instance));
    EXPECT_FALSE(Find(*watch, "wwan0"));

    MakeModem();
    ASSERT_TRUE(WaitUntil(*watch, [&] { return Find(*watch, "wwan0").has_value(); }));
    const NetInterface again = *Find(*watch, "wwan0");
    EXPECT_NE(again.index, index);
    EXPECT_NE(again.instance, instance);
    EXPECT_EQ(again.arrived, (InterfaceCounters{0, 0}));
    EXPECT_EQ(*watch->ReadCounters(again.index, again.instance), (InterfaceCounters{0, 0}));
    EXPECT_FALSE(watch->BootId().empty());
}

// A session's bytes, through the interface's removal and its return, against the kernel's own
// counters read between the steps.
TEST_F(NetlinkWatch, ASessionCountsWhatTheKernelCountedThroughARemovalAndAReturn) {
    MakePair(true);
    MakeModem();
    PeerUp();
    auto source = Watch();
    InterfaceWatch watch(*source);
    watch.SetText("wwan*");
    DataBytes counted;
    const auto waitOnline = [&](bool online) {
        return WaitForEvents(source->ChangeDescriptor(), [&] {
            counted += watch.TakeChanges();
            return watch.Online() == online;
        });
    };
    ASSERT_TRUE(waitOnline(true));
    watch.StartCounting();
    const InterfaceCounters start = IpCounters("wwan0");
    {
        const UniqueFd here = test::UdpSocket(here_, "10.0.0.1", 9000);
        const UniqueFd peer = test::UdpSocket(peer_, "10.0.0.2", 9000);
        ASSERT_TRUE(test::SendAndReceive(here.get(), peer.get(), "10.0.0.2", 9000, 1000));
        counted += watch.Count();
        ASSERT_TRUE(test::SendAndReceive(peer.get(), here.get(), "10.0.0.1", 9000, 1300));
    }
    const InterfaceCounters gone = IpCounters("wwan0");
    Here("ip link del wwan0");
    ASSERT_TRUE(waitOnline(false));
    MakeModem();
    ASSERT_TRUE(waitOnline(true));
    {
        const UniqueFd here = test::UdpSocket(here_, "10.0.0.1", 9000);
        const UniqueFd peer = test::UdpSocket(peer_, "10.0.0.2", 9000);
        ASSERT_TRUE(test::SendAndReceive(peer.get(), here.get(), "10.0.0.1", 9000, 200));
        ASSERT_TRUE(test::SendAndReceive(here.get(), peer.get(), "10.0.0.2", 9000, 300));
    }
    const InterfaceCounters back = IpCounters("wwan0");
    counted += watch.StopCounting();
    EXPECT_EQ(counted, (DataBytes{gone.rx - start.rx + back.rx, gone.tx - start.tx + back.tx}));
    EXPECT_EQ(watch.Counted(), counted);
}

// An interface that goes and comes back while a second one that the text names keeps the
// session running: made again under the index it had (its counters start from zero), or moved
// to another namespace and back (the kernel keeps its counters, and what it carries there is
// that namespace's). The session counts what the kernel counted in this namespace: nothing of
// the old interface is taken off the new one, and nothing is counted twice.
TEST_F(NetlinkWatch, ASessionCountsWhatTheKernelCountedThroughTheSameIndexAndANamespaceMove) {
    enum How { kMadeAgain, kMovedBack, kMovedBackUnderANewIndex };
    struct Case {
        const char* name;
        How how;
        // A session tick reads the interface after it came back, before its changes are taken
        // in (a tick served before the socket's event).
        bool readFirst;
    };
    const Case cases[] = {
        {"made again under its index", kMadeAgain, false},
        {"made again under its index, read before the changes are taken in", kMadeAgain, true},
        {"moved to another namespace and back", kMovedBack, false},
        {"moved away and back under a new index", kMovedBackUnderANewIndex, false},
        {"moved away and back under a new index, read first", kMovedBackUnderANewIndex, true},
    };
    MakePair(true);
    PeerUp();
    // Keeps the session while wwan0 is away: addressed and up, and silent.
    Here("ip link add wwan1 link v0 address 02:00:00:00:00:04 type macvlan mode bridge && "
         "ip addr add 10.0.9.1/24 dev wwan1 && ip link set wwan1 up");
    const std::string neighbour =
        "ip neigh replace 10.0.0.2 lladdr 02:00:00:00:00:02 dev wwan0 nud permanent";
    const std::string address =
        "ip addr add 10.0.0.1/24 dev wwan0 && ip link set wwan0 up && " + neighbour;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MakeModem();
        test::NetNamespace away;
        ASSERT_TRUE(away.Made()) << away.Why();
        auto source = Watch();
        InterfaceWatch watch(*source);
        watch.SetText("wwan*");
        DataBytes counted;
        const auto waitUntil = [&](const std::function<bool()>& done) {
            return WaitForEvents(source->ChangeDescriptor(), [&] {
                counted += watch.TakeChanges();
                return done();
            });
        };
        const auto wwan0Online = [&] {
            const auto wwan0 = Find(*source, "wwan0");
            return wwan0 && InterfaceOnline(*wwan0);
        };
        const auto exchange = [&](const test::NetNamespace& ns, std::size_t out, std::size_t in) {
            const UniqueFd here = test::UdpSocket(ns, "10.0.0.1", 9000);
            const UniqueFd peer = test::UdpSocket(peer_, "10.0.0.2", 9000);
            return test::SendAndReceive(here.get(), peer.get(), "10.0.0.2", 9000, out) &&
                   test::SendAndReceive(peer.get(), here.get(), "10.0.0.1", 9000, in);
        };
        ASSERT_TRUE(waitUntil(wwan0Online));
        ASSERT_TRUE(watch.Online());
        watch.StartCounting();
        const InterfaceCounters start = IpCounters("wwan0");
        const InterfaceCounters keeperStart = IpCounters("wwan1");
        ASSERT_TRUE(exchange(here_, 1000, 1300));
        counted += watch.Count();
        ASSERT_TRUE(exchange(here_, 500, 700));
        const InterfaceCounters gone = IpCounters("wwan0");
        const int index = Find(*source, "wwan0")->index;

        InterfaceCounters arrived{0, 0};
        if (c.how == kMadeAgain) {
            if (!c.readFirst) {
                Here("ip link del wwan0");
                ASSERT_TRUE(waitUntil([&] { return !Find(*source, "wwan0"); }));
            }
            Here((c.readFirst ? "ip link del wwan0 && " : "") +
                 std::string("ip link add wwan0 index ") + std::to_string(index) +
                 " link v0 address 02:00:00:00:00:03 type macvlan mode bridge && " + address);
        } else {
            Here("ip link set wwan0 netns " + std::to_string(away.Pid()));
            // Traffic while it is away: the other namespace's, not this session's.
            Run(away, "ip addr add 10.0.0.1/24 dev wwan0 && ip link set wwan0 up && "
                      "ip neigh replace 10.0.0.2 lladdr 02:00:00:00:00:02 dev wwan0 nud permanent");
            ASSERT_TRUE(exchange(away, 900, 1100));
            // Its index taken meanwhile: it comes back under another.
            if (c.how == kMovedBackUnderANewIndex)
                Here("ip link add hold index " + std::to_string(index) +
                     " link v0 type macvlan mode bridge");
            Run(away, "ip link set wwan0 netns " + std::to_string(here_.Pid()));
            arrived = IpCounters("wwan0");
            Here(address);
        }
        if (c.readFirst)
            counted += watch.Count();
        ASSERT_TRUE(waitUntil(wwan0Online));
        const int back = Find(*source, "wwan0")->index;
        EXPECT_EQ(back == index, c.how != kMovedBackUnderANewIndex) << index << " " << back;
        if (c.how == kMovedBackUnderANewIndex)
            Here("ip link del hold");
        // More than the old interface carried: a count that took its last value off the new
        // one's would lose it.
        for (int i = 0; i < 3; ++i)
            ASSERT_TRUE(exchange(here_, 1400, 1400));
        const InterfaceCounters end = IpCounters("wwan0");
        const InterfaceCounters keeperEnd = IpCounters("wwan1");
        ASSERT_GT(end.tx - arrived.tx, gone.tx);
        counted += watch.StopCounting();
        const DataBytes kernel{
            gone.rx - start.rx + end.rx - arrived.rx + keeperEnd.rx - keeperStart.rx,
            gone.tx - start.tx + end.tx - arrived.tx + keeperEnd.tx - keeperStart.tx};
        EXPECT_EQ(counted, kernel);
        EXPECT_EQ(watch.Counted(), counted);
        Here("ip link del wwan0");
    }
}

// A session that starts while an interface's removal waits to be taken in: what it carried was
// before the session. The removal that the start's reading brought to light still makes the
// descriptor readable, so the window hears of it.
TEST_F(NetlinkWatch, AnInterfaceGoneAsTheSessionStartsAddsNothing) {
    MakePair(true);
    MakeModem();
    PeerUp();
    auto source = Watch();
    InterfaceWatch watch(*source);
    watch.SetText("wwan*");
    ASSERT_TRUE(WaitForEvents(source->ChangeDescriptor(), [&] {
        watch.TakeChanges();
        return watch.Online();
    }));
    {
        const UniqueFd here = test::UdpSocket(here_, "10.0.0.1", 9000);
        const UniqueFd peer = test::UdpSocket(peer_, "10.0.0.2", 9000);
        ASSERT_TRUE(test::SendAndReceive(here.get(), peer.get(), "10.0.0.2", 9000, 1000));
    }
    Here("ip link del wwan0");
    ASSERT_TRUE(watch.Online()); // the removal is not taken in yet
    watch.StartCounting();
    pollfd waiting{source->ChangeDescriptor(), POLLIN, 0};
    EXPECT_EQ(::poll(&waiting, 1, 0), 1);
    EXPECT_EQ(watch.TakeChanges(), DataBytes{});
    EXPECT_FALSE(watch.Online());
    EXPECT_EQ(::poll(&waiting, 1, 0), 0);
    EXPECT_EQ(watch.StopCounting(), DataBytes{});
}

TEST_F(NetlinkWatch, EventsLostToAFullBufferBringAFullRead) {
    MakePair(true);
    // The smallest buffer the kernel allows: far too small for the burst below.
    auto watch = Watch(1);
    ASSERT_EQ(watch->FullReads(), 1);
    std::string burst = "ip link set v0 up";
    for (int i = 1; i <= 60; ++i)
        burst += " && ip addr add 10.0.3." + std::to_string(i) + "/24 dev v0";
    Here(burst);
    Peer("ip link set p0 up");
    ASSERT_TRUE(WaitUntil(*watch, [&] {
        const auto v0 = Find(*watch, "v0");
        return v0 && v0->globalAddresses == 60 && (v0->flags & IFF_RUNNING) != 0;
    }));
    EXPECT_GE(watch->FullReads(), 2);
    EXPECT_TRUE(NamedInterfaceOnline("v0", watch->Interfaces(), {}));
}

} // namespace
