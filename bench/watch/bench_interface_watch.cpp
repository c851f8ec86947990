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
//     Two steps keep the session running through an interface's going and coming back, all of it
//     done before the watcher takes the changes in, and half of the time a session tick reads
//     first: the interface deleted and made again under the index it had, and the interface
//     moved to a third namespace and back (under its index, or under another when its index was
//     taken meanwhile), carrying traffic there half of the time, which is that namespace's and
//     not counted.
#include "bench/support/netlink_kernel.h"
#include "support/net_namespace.h"
#include "watch/interface_watch.h"
#include "watch/netlink_interfaces.h"


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

void Latency(int rounds) {
    bench::QuietModem ns;
    const test::Inside inside(ns.here);
    NetlinkInterfaces source;
    InterfaceWatch watch(source);
    watch.SetText("wwan0");
    bench::Kernel kernel;
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
                    bench::Percentile(*values, 0.5), bench::Percentile(*values, 0.99), rounds);
}

void Accuracy(int steps, unsigned seed) {
    bench::QuietModem ns;
    test::NetNamespace away;
    bench::Must(away, "echo 1 >/proc/sys/net/ipv6/conf/all/disable_ipv6 && "
                      "echo 1 >/proc/sys/net/ipv6/conf/default/disable_ipv6");
    std::unique_ptr<test::Inside> inside = std::make_unique<test::Inside>(ns.here);
    NetlinkInterfaces source;
    InterfaceWatch watch(source);
    watch.SetText("wwan*");
    bench::Kernel kernel;
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
                bench::Must(ns.here, "ip neigh replace 10.0.0.2 lladdr 02:00:00:00:00:02 dev wwan0 "
                              "nud permanent");
            break;
        case kCarrier:
            carrier = !carrier;
            bench::Must(ns.peer, carrier ? "ip link set p0 up && ip neigh replace 10.0.0.1 lladdr "
                                    "02:00:00:00:00:03 dev p0 nud permanent"
                                  : "ip link set p0 down");
            break;
        case kAddress:
            addressed = !addressed;
            kernel.Address(kernel.Index("wwan0"), "10.0.0.1/24", addressed);
            break;
        default:
            bench::Must(ns.here, exists ? "ip link del wwan0" : bench::kModem);
            exists = !exists;
            up = addressed = exists;
            break;
        }
    };
    const std::string neighbour =
        "ip neigh replace 10.0.0.2 lladdr 02:00:00:00:00:02 dev wwan0 nud permanent";
    const std::string address =
        "ip addr add 10.0.0.1/24 dev wwan0 && ip link set wwan0 up && " + neighbour;
    DataBytes carriedAway;
    int again = 0, moved = 0, movedNewIndex = 0;
    // Goes and comes back in one step: made again under its index, or moved away and back.
    const auto comeBack = [&](bool move) {
        const int index = [&] {
            const test::Inside in(ns.here);
            return kernel.Index("wwan0");
        }();
        if (!move) {
            std::string modem = bench::kModem;
            modem.replace(0, std::strlen("ip link add wwan0 "),
                          "ip link add wwan0 index " + std::to_string(index) + " ");
            bench::Must(ns.here, "ip link del wwan0 && " + modem);
            ++again;
        } else {
            bench::Must(ns.here, "ip link set wwan0 netns " + std::to_string(away.Pid()));
            if (carrier && random() % 2 == 0) {
                bench::Must(away, "ip addr add 10.0.0.1/24 dev wwan0 && ip link set wwan0 up && " +
                                      neighbour);
                const UniqueFd there = test::UdpSocket(away, "10.0.0.1", 9000);
                const std::size_t out = 1 + random() % 1400, in = 1 + random() % 1400;
                if (!test::SendAndReceive(there.get(), peerSocket.get(), "10.0.0.2", 9000, out) ||
                    !test::SendAndReceive(peerSocket.get(), there.get(), "10.0.0.1", 9000, in))
                    throw std::runtime_error("an exchange in the other namespace was lost");
                carriedAway += DataBytes{in, out};
            }
            const bool hold = random() % 2 == 0;
            if (hold)
                bench::Must(ns.here, "ip link add hold index " + std::to_string(index) +
                                         " link v0 type macvlan mode bridge");
            bench::Must(away, "ip link set wwan0 netns " + std::to_string(ns.here.Pid()));
            bench::Must(ns.here, address + (hold ? " && ip link del hold" : ""));
            ++moved;
            movedNewIndex += hold;
        }
        up = addressed = true;
        // A tick served before the socket's events.
        if (random() % 2 == 0 && watch.Counting())
            counted += watch.Count();
    };
    int changes = 0, ticks = 0;
    for (int step = 0; step < steps; ++step) {
        const unsigned kind = random() % 22;
        if (kind >= 20) {
            if (exists)
                comeBack(kind == 21);
        } else if (kind < 9) {
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
    std::printf("  made again under its index %d times, moved to another namespace and back %d "
                "times (%d under a new index), carrying %llu bytes there (not counted)\n",
                again, moved, movedNewIndex,
                static_cast<unsigned long long>(carriedAway.rx + carriedAway.tx));
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
