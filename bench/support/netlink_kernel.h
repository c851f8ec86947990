#pragma once
// The benchmarks' own hands on the kernel's interfaces, apart from the watcher's: requests
// through a netlink socket of the namespace it was made in, which take effect before they
// return, so a benchmark knows the moment of each change.

#include "support/net_namespace.h"
#include "watch/net_interfaces.h"

#include <netlink/addr.h>
#include <netlink/netlink.h>
#include <netlink/route/addr.h>
#include <netlink/route/link.h>
#include <netlink/socket.h>

#include <algorithm>
#include <memory>
#include <net/if.h>
#include <stdexcept>
#include <string>
#include <vector>

namespace quorvane::bench {

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

inline void Must(const test::NetNamespace& ns, const std::string& command) {
    std::string output;
    if (ns.Run(command, &output) != 0)
        throw std::runtime_error(command + ": " + output);
}

inline constexpr const char* kModem =
    "ip link add wwan0 link v0 address 02:00:00:00:00:03 type macvlan mode bridge && "
    "ip addr add 10.0.0.1/24 dev wwan0 && ip link set wwan0 up && "
    "ip neigh replace 10.0.0.2 lladdr 02:00:00:00:00:02 dev wwan0 nud permanent";

// "wwan0": a macvlan on a veth end whose peer ("p0", 10.0.0.2) is in a second namespace, both
// addressed and up, quiet but for the benchmark's own traffic: no IPv6 (no neighbour discovery,
// no multicast reports) and fixed neighbours (no ARP).
struct QuietModem {
    test::NetNamespace here, peer;

    QuietModem() {
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

inline double Percentile(std::vector<double> values, double p) {
    std::sort(values.begin(), values.end());
    const auto at = static_cast<std::size_t>(p * static_cast<double>(values.size() - 1) + 0.5);
    return values[std::min(at, values.size() - 1)];
}

} // namespace quorvane::bench
