#pragma once
// The kernel's network interfaces, followed through rtnetlink with libnl: one socket subscribed
// to the link, IPv4-address and IPv6-address groups, whose descriptor turns readable when the
// kernel reports a change (nothing is polled), and one for the requests (a full read, an
// interface's counters). A lost event, when the first socket's buffer overran, brings a full
// read of links and addresses. An interface's removal message carries its final counters
// (IFLA_STATS64), which are handed on with the removal; so does the message of one moved to
// another namespace, which is a removal here.
//
// An interface is a new instance (NetInterface::instance) when its index comes into sight: in
// a message after the index's removal, or at the first read. What it arrived with are the
// counters of that first message: zero for one made here (the kernel reports a new interface
// before it can carry anything), what it carried for one moved in. An interface that only a
// full read after an overrun finds is taken as made here; one found under an index it held
// before the overrun as the same one.
//
// A reading of counters is checked against the changes: the kernel queues its change messages
// before it answers a later request, so the event socket is read after each request, and a
// reading of an index that changed hands meanwhile is not one of the interface asked about. The
// changes read there wait for TakeChanges, and the descriptor (an epoll set of the event socket
// and an eventfd) stays readable until they are taken.
//
// Everything belongs to the network namespace of the thread that makes the object; tests make
// it inside a namespace of their own.

#include "core/fd.h"
#include "watch/net_interfaces.h"

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>

struct nl_msg;
struct nl_sock;
struct rtnl_addr;
struct rtnl_link;

namespace quorvane {

class NetlinkInterfaces final : public NetInterfaceSource {
public:
    // `receiveBuffer` in bytes for the event socket; 0 keeps the system's. Reads every link and
    // address once; Problem() says why when the sockets cannot be had.
    explicit NetlinkInterfaces(int receiveBuffer = 0);
    ~NetlinkInterfaces() override;
    NetlinkInterfaces(const NetlinkInterfaces&) = delete;
    NetlinkInterfaces& operator=(const NetlinkInterfaces&) = delete;

    int ChangeDescriptor() override;
    std::vector<InterfaceRemoval> TakeChanges() override;
    std::vector<NetInterface> Interfaces() override;
    std::optional<InterfaceCounters> ReadCounters(int index, std::uint64_t instance) override;
    std::string BootId() override;
    std::string Problem() override { return problem_; }

    // How many full reads there have been: 1 after the start, one more for each overrun.
    int FullReads() const { return fullReads_; }

private:
    struct SocketFree {
        void operator()(nl_sock* socket) const;
    };
    using Socket = std::unique_ptr<nl_sock, SocketFree>;

    bool ReadAll();
    // Reads every message waiting on the event socket (a full read after an overrun); false
    // when there was none.
    bool ReadEvents();
    // libnl's callback for each message of the event socket.
    static int OnMessage(nl_msg* message, void* self);
    // What a message from the kernel changes. `before`: the interfaces before a full read.
    void LinkSeen(rtnl_link* link, bool removed,
                  const std::map<int, NetInterface>* before = nullptr);
    void AddressSeen(rtnl_addr* address, bool removed);

    Socket events_;
    Socket requests_;
    // Readable while changes wait: the event socket's, or those read during a reading.
    UniqueFd changes_;
    UniqueFd waiting_;
    std::uint64_t nextInstance_ = 1;
    int messages_ = 0;
    std::string problem_;
    std::string bootId_;
    int fullReads_ = 0;
    std::map<int, NetInterface> links_;
    // Each interface's usable global addresses, by family and address text.
    std::map<int, std::set<std::string>> addresses_;
    std::vector<InterfaceRemoval> removed_;
};

} // namespace quorvane
