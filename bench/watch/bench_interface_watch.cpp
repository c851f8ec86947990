// The Network Interface method on real interfaces, in network namespaces of its own (root; it
// says so and stops without): a macvlan "wwan0" on a veth end whose peer is in a second
// namespace, quiet but for the benchmark's own traffic (no IPv6, fixed neighbours).
//   - Latency: from the request that brings the link up, or adds its address, to the moment the
//     watcher finds the interface online (its descriptor served as the window serves it), median
//     and p99 over --rounds=N (200) of each.
//   - Accuracy: --steps=N (1000) random steps (link up and down, the peer's carrier off and on,
//     an address taken away and given back, the interface deleted and made again, traffic both
//     ways, session ticks), a session started and stopped whenever the interface goes online and
//     offline, and the bytes counted set against the kernel's own deltas over every exchange.
#include "support/net_namespace.h"
#include "watch/interface_watch.h"
#include "watch/netlink_interfaces.h"

#include <netlink/addr.h>
#include <netlink/netlink.h>
#include <netlink/route/addr.h>
#include <netlink/route/link.h>
#include <netlink/socket.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <net/if.h>
#include <poll.h>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

using namespace quorvane;
using Clock = std::chrono::steady_clock;

namespace {

// Requests to the kernel of the namespace it was made in: the benchmark's own hands, apart from
// the watcher's.
class Kernel {
public:
    Kernel() : socket_(nl_socket_alloc()) {
        if (!socket_ || nl_connect(socket_.get(), NETLINK_ROUTE) < 0)
            throw std::runtime_error("no rtnetlink socket");
    }

    int Index(const char* name) {
        rtnl_link* link = nullptr;
        if (rtnl_link_get_kernel(socket_.get(), 0, name, &link) < 0)
            return 0;
        const int index = rtnl_link_get_ifindex(link);
        rtnl_link_put(link);
        return index;
    }
    InterfaceCounters Counters(int index) {
        rtnl_link* link = nullptr;
        if (rtnl_link_get_kernel(socket_.get(), index, nullptr, &link) < 0)
            throw std::runtime_error("no such interface");
        const InterfaceCounters counters{rtnl_link_get_stat(link, RTNL_LINK_RX_BYTES),
                                         rtnl_link_get_stat(link, RTNL_LINK_TX_BYTES)};
        rtnl_link_put(link);
        return counters;
    }
    void SetUp(int index, bool up) {
        rtnl_link* link = nullptr;
        rtnl_link_get_kernel(socket_.get(), index, nullptr, &link);
        rtnl_link* change = rtnl_link_alloc();
        up ? rtnl_link_set_flags(change, IFF_UP) : rtnl_link_unset_flags(change, IFF_UP);
        const int error = rtnl_link_change(socket_.get(), link, change, 0);
        rtnl_link_put(change);
        rtnl_link_put(link);
        if (error < 0)
            throw std::runtime_error(std::string("link change: ") + nl_geterror(error));
    }
    void Address(int index, const char* address, bool add) {
        nl_addr* local = nullptr;
        nl_addr_parse(address, AF_INET, &local);
        rtnl_addr* a = rtnl_addr_alloc();
        rtnl_addr_set_ifindex(a, index);
        rtnl_addr_set_local(a, local);
        const int error = add ? rtnl_addr_add(socket_.get(), a, 0)
                              : rtnl_addr_delete(socket_.get(), a, 0);
        rtnl_addr_put(a);
        nl_addr_put(local);
        if (error < 0)
            throw std::runtime_error(std::string("address: ") + nl_geterror(error));
    }

private:
    struct Free {
        void operator()(nl_sock* s) const { nl_socket_free(s); }
    };
    std::unique_ptr<nl_sock, Free> socket_;
};

void Must(const test::NetNamespace& ns, const std::string& command) {
    std::string output;
    if (ns.Run(command, &output) != 0)
        throw std::runtime_error(command + ": " + output);
}

const char* const kModem =
    "ip link add wwan0 link v0 address 02:00:00:00:00:03 type macvlan mode bridge && "
    "ip addr add 10.0.0.1/24 dev wwan0 && ip link set wwan0 up && "
    "ip neigh replace 10.0.0.2 lladdr 02:00:00:00:00:02 dev wwan0 nud permanent";

struct Namespaces {
    test::NetNamespace here, peer;

    Namespaces() {
        if (!here.Made())
            throw std::runtime_error(here.Why());
        for (const test::NetNamespace* ns : {&here, &peer})
            Must(*ns, "echo 1 >/proc/sys/net/ipv6/conf/all/disable_ipv6 && "
                      "echo 1 >/proc/sys/net/ipv6/conf/default/disable_ipv6");
        Must(here, "ip link add v0 address 02:00:00:00:00:01 type veth peer name p0 address "
                   "02:00:00:00:00:02 netns " +
                       std::to_string(peer.Pid()) + " && ip link set v0 up");
        Must(here, kModem);
        Must(peer, "ip addr add 10.0.0.2/24 dev p0 && ip link set p0 up && "
                   "ip neigh replace 10.0.0.1 lladdr 02:00:00:00:00:03 dev p0 nud permanent");
    }
};

// Serves the watcher's descriptor until the interface's online state is `online`.
void WaitOnline(InterfaceWatch& watch, bool online, DataBytes* counted = nullptr) {
    for (;;) {
        const DataBytes added = watch.TakeChanges();
        if (counted)
            *counted += added;
        if (watch.Online() == online)
            return;
        pollfd waiting{watch.Source().ChangeDescriptor(), POLLIN, 0};
        if (::poll(&waiting, 1, 120000) != 1)
            throw std::runtime_error("no event came");
    }
}

double Percentile(std::vector<double> values, double p) {
    std::sort(values.begin(), values.end());
    const auto at = static_cast<std::size_t>(p * static_cast<double>(values.size() - 1) + 0.5);
    return values[std::min(at, values.size() - 1)];
}

void Latency(int rounds) {
    Namespaces ns;
    const test::Inside inside(ns.here);
    NetlinkInterfaces source;
    InterfaceWatch watch(source);
    watch.SetText("wwan0");
    Kernel kernel;
    const int index = kernel.Index("wwan0");
    WaitOnline(watch, true);
    std::vector<double> linkUp, addressAdded;
    for (int i = 0; i < rounds; ++i) {
        kernel.SetUp(index, false);
        WaitOnline(watch, false);
        auto start = Clock::now();
        kernel.SetUp(index, true);
        WaitOnline(watch, true);
        linkUp.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());

        kernel.Address(index, "10.0.0.1/24", false);
        WaitOnline(watch, false);
        start = Clock::now();
        kernel.Address(index, "10.0.0.1/24", true);
        WaitOnline(watch, true);
        addressAdded.push_back(
            std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    const std::pair<const char*, const std::vector<double>*> figures[] = {
        {"link up", &linkUp}, {"address added", &addressAdded}};
    for (const auto& [what, values] : figures)
        std::printf("%-14s to online: median %7.3f ms  p99 %7.3f ms  (%d rounds)\n", what,
                    Percentile(*values, 0.5), Percentile(*values, 0.99), rounds);
}

void Accuracy(int steps, unsigned seed) {
    Namespaces ns;
    std::unique_ptr<test::Inside> inside = std::make_unique<test::Inside>(ns.here);
    NetlinkInterfaces source;
    InterfaceWatch watch(source);
    watch.SetText("wwan*");
    Kernel kernel;
    inside.reset();
    const UniqueFd peerSocket = test::UdpSocket(ns.peer, "10.0.0.2", 9000);
    std::mt19937 random(seed);

    bool exists = true, up = true, carrier = true, addressed = true;
    int sessions = 0, exchanges = 0;
    DataBytes counted, kernelDelta;
    const auto settle = [&] {
        const bool online = exists && up && carrier && addressed;
        WaitOnline(watch, online, &counted);
        if (online && !watch.Counting()) {
            watch.StartCounting();
            ++sessions;
        } else if (!online && watch.Counting()) {
            counted += watch.StopCounting();
        }
    };
    settle();
    // Each change breaks one of the four conditions of online, or mends a broken one; online
    // about half of the time, so the exchanges are many and every change meets a session.
    enum Condition { kLink, kCarrier, kAddress, kExists };
    const auto holds = [&](int c) {
        return c == kLink ? up : c == kCarrier ? carrier : c == kAddress ? addressed : exists;
    };
    const auto flip = [&](int c) {
        const test::Inside in(ns.here);
        switch (c) {
        case kLink:
            up = !up;
            kernel.SetUp(kernel.Index("wwan0"), up);
            // Taking a link down forgets its neighbours, the fixed ones too.
            if (up)
                Must(ns.here, "ip neigh replace 10.0.0.2 lladdr 02:00:00:00:00:02 dev wwan0 "
                              "nud permanent");
            break;
        case kCarrier:
            carrier = !carrier;
            Must(ns.peer, carrier ? "ip link set p0 up && ip neigh replace 10.0.0.1 lladdr "
                                    "02:00:00:00:00:03 dev p0 nud permanent"
                                  : "ip link set p0 down");
            break;
        case kAddress:
            addressed = !addressed;
            kernel.Address(kernel.Index("wwan0"), "10.0.0.1/24", addressed);
            break;
        default:
            Must(ns.here, exists ? "ip link del wwan0" : kModem);
            exists = !exists;
            up = addressed = exists;
            break;
        }
    };
    int changes = 0, ticks = 0;
    for (int step = 0; step < steps; ++step) {
        const unsigned kind = random() % 20;
        if (kind < 9) {
            ++changes;
            const bool online = exists && up && carrier && addressed;
            const bool breaking = online || random() % 4 == 0;
            std::vector<int> candidates;
            for (int c = kLink; c <= kExists; ++c) {
                // A link that is not there can be neither brought up nor addressed.
                const bool reachable = exists || c == kExists || c == kCarrier;
                if (reachable && holds(c) == breaking)
                    candidates.push_back(c);
            }
            if (!candidates.empty())
                flip(candidates[random() % candidates.size()]);
        } else if (kind < 12) {
            ++ticks;
            counted += watch.Count(); // a session tick
        } else if (exists && up && carrier && addressed) {
            // Made for each exchange: a socket does not outlive the address it is bound to.
            const UniqueFd here = test::UdpSocket(ns.here, "10.0.0.1", 9000);
            const test::Inside in(ns.here);
            const int index = kernel.Index("wwan0");
            const InterfaceCounters before = kernel.Counters(index);
            if (!test::SendAndReceive(here.get(), peerSocket.get(), "10.0.0.2", 9000,
                                      1 + random() % 1400) ||
                !test::SendAndReceive(peerSocket.get(), here.get(), "10.0.0.1", 9000,
                                      1 + random() % 1400))
                throw std::runtime_error("an exchange was lost");
            const InterfaceCounters after = kernel.Counters(index);
            kernelDelta += DataBytes{after.rx - before.rx, after.tx - before.tx};
            ++exchanges;
        }
        settle();
    }
    if (watch.Counting())
        counted += watch.StopCounting();
    const auto off = [](std::uint64_t a, std::uint64_t b) {
        return static_cast<long long>(a) - static_cast<long long>(b);
    };
    std::printf("%d random steps (seed %u): %d changes, %d ticks, %d exchanges, %d sessions\n",
                steps, seed, changes, ticks, exchanges, sessions);
    std::printf("  received: counted %llu, kernel %llu, off %lld bytes\n",
                static_cast<unsigned long long>(counted.rx),
                static_cast<unsigned long long>(kernelDelta.rx), off(counted.rx, kernelDelta.rx));
    std::printf("  sent:     counted %llu, kernel %llu, off %lld bytes\n",
                static_cast<unsigned long long>(counted.tx),
                static_cast<unsigned long long>(kernelDelta.tx), off(counted.tx, kernelDelta.tx));
}

} // namespace

int main(int argc, char** argv) {
    int rounds = 200, steps = 1000;
    unsigned seed = 20260307;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--rounds=", 9) == 0)
            rounds = std::max(1, std::atoi(argv[i] + 9));
        else if (std::strncmp(argv[i], "--steps=", 8) == 0)
            steps = std::max(1, std::atoi(argv[i] + 8));
        else if (std::strncmp(argv[i], "--seed=", 7) == 0)
            seed = static_cast<unsigned>(std::strtoul(argv[i] + 7, nullptr, 10));
    }
    try {
        Latency(rounds);
        Accuracy(steps, seed);
    } catch (const std::exception& e) {
        std::printf("network interface watching: %s\n", e.what());
    }
    return 0;
}
