#include "watch/netlink_interfaces.h"

#include "core/lazy_library.h"

#include <netlink/addr.h>
#include <netlink/cache.h>
#include <netlink/msg.h>
#include <netlink/netlink.h>
#include <netlink/route/addr.h>
#include <netlink/route/link.h>
#include <netlink/socket.h>

#include <fstream>
#include <linux/if_addr.h>
#include <linux/rtnetlink.h>
#include <poll.h>
#include <sys/socket.h>
#include <utility>

namespace quorvane {

namespace {

// Room for a burst of changes (a dock with several interfaces plugged in); the kernel caps it at
// net.core.rmem_max. An overrun costs a full read, nothing more.
constexpr int kDefaultReceiveBuffer = 256 * 1024;

// libnl is loaded when an interface is first watched: the Network Interface method is one of
// four, and the library would be mapped and relocated at every start for it. The route
// library's name brings the core one with it, and the calls of both are looked up through it.
struct NetlinkCalls {
    decltype(&::nl_addr2str) nl_addr2str;
    decltype(&::nl_cache_free) nl_cache_free;
    decltype(&::nl_cache_get_first) nl_cache_get_first;
    decltype(&::nl_cache_get_next) nl_cache_get_next;
    decltype(&::nl_connect) nl_connect;
    decltype(&::nl_geterror) nl_geterror;
    decltype(&::nl_msg_parse) nl_msg_parse;
    decltype(&::nl_recvmsgs_default) nl_recvmsgs_default;
    decltype(&::nl_socket_add_memberships) nl_socket_add_memberships;
    decltype(&::nl_socket_alloc) nl_socket_alloc;
    decltype(&::nl_socket_disable_seq_check) nl_socket_disable_seq_check;
    decltype(&::nl_socket_enable_msg_peek) nl_socket_enable_msg_peek;
    decltype(&::nl_socket_free) nl_socket_free;
    decltype(&::nl_socket_get_fd) nl_socket_get_fd;
    decltype(&::nl_socket_modify_cb) nl_socket_modify_cb;
    decltype(&::nl_socket_set_buffer_size) nl_socket_set_buffer_size;
    decltype(&::nl_socket_set_nonblocking) nl_socket_set_nonblocking;
    decltype(&::nlmsg_hdr) nlmsg_hdr;
    decltype(&::rtnl_addr_alloc_cache) rtnl_addr_alloc_cache;
    decltype(&::rtnl_addr_get_family) rtnl_addr_get_family;
    decltype(&::rtnl_addr_get_flags) rtnl_addr_get_flags;
    decltype(&::rtnl_addr_get_ifindex) rtnl_addr_get_ifindex;
    decltype(&::rtnl_addr_get_local) rtnl_addr_get_local;
    decltype(&::rtnl_addr_get_scope) rtnl_addr_get_scope;
    decltype(&::rtnl_link_alloc_cache) rtnl_link_alloc_cache;
    decltype(&::rtnl_link_get_family) rtnl_link_get_family;
    decltype(&::rtnl_link_get_flags) rtnl_link_get_flags;
    decltype(&::rtnl_link_get_ifindex) rtnl_link_get_ifindex;
    decltype(&::rtnl_link_get_kernel) rtnl_link_get_kernel;
    decltype(&::rtnl_link_get_name) rtnl_link_get_name;
    decltype(&::rtnl_link_get_stat) rtnl_link_get_stat;
    decltype(&::rtnl_link_put) rtnl_link_put;
};

bool BindNetlink(void* h, NetlinkCalls& c) {
    return LookUp(h, "nl_addr2str", c.nl_addr2str) &&
           LookUp(h, "nl_cache_free", c.nl_cache_free) &&
           LookUp(h, "nl_cache_get_first", c.nl_cache_get_first) &&
           LookUp(h, "nl_cache_get_next", c.nl_cache_get_next) &&
           LookUp(h, "nl_connect", c.nl_connect) &&
           LookUp(h, "nl_geterror", c.nl_geterror) &&
           LookUp(h, "nl_msg_parse", c.nl_msg_parse) &&
           LookUp(h, "nl_recvmsgs_default", c.nl_recvmsgs_default) &&
           LookUp(h, "nl_socket_add_memberships", c.nl_socket_add_memberships) &&
           LookUp(h, "nl_socket_alloc", c.nl_socket_alloc) &&
           LookUp(h, "nl_socket_disable_seq_check", c.nl_socket_disable_seq_check) &&
           LookUp(h, "nl_socket_enable_msg_peek", c.nl_socket_enable_msg_peek) &&
           LookUp(h, "nl_socket_free", c.nl_socket_free) &&
           LookUp(h, "nl_socket_get_fd", c.nl_socket_get_fd) &&
           LookUp(h, "nl_socket_modify_cb", c.nl_socket_modify_cb) &&
           LookUp(h, "nl_socket_set_buffer_size", c.nl_socket_set_buffer_size) &&
           LookUp(h, "nl_socket_set_nonblocking", c.nl_socket_set_nonblocking) &&
           LookUp(h, "nlmsg_hdr", c.nlmsg_hdr) &&
           LookUp(h, "rtnl_addr_alloc_cache", c.rtnl_addr_alloc_cache) &&
           LookUp(h, "rtnl_addr_get_family", c.rtnl_addr_get_family) &&
           LookUp(h, "rtnl_addr_get_flags", c.rtnl_addr_get_flags) &&
           LookUp(h, "rtnl_addr_get_ifindex", c.rtnl_addr_get_ifindex) &&
           LookUp(h, "rtnl_addr_get_local", c.rtnl_addr_get_local) &&
           LookUp(h, "rtnl_addr_get_scope", c.rtnl_addr_get_scope) &&
           LookUp(h, "rtnl_link_alloc_cache", c.rtnl_link_alloc_cache) &&
           LookUp(h, "rtnl_link_get_family", c.rtnl_link_get_family) &&
           LookUp(h, "rtnl_link_get_flags", c.rtnl_link_get_flags) &&
           LookUp(h, "rtnl_link_get_ifindex", c.rtnl_link_get_ifindex) &&
           LookUp(h, "rtnl_link_get_kernel", c.rtnl_link_get_kernel) &&
           LookUp(h, "rtnl_link_get_name", c.rtnl_link_get_name) &&
           LookUp(h, "rtnl_link_get_stat", c.rtnl_link_get_stat) &&
           LookUp(h, "rtnl_link_put", c.rtnl_link_put);
}

const NetlinkCalls& Nl() {
    static LazyLibrary<NetlinkCalls> library("libnl-route-3.so.200", BindNetlink);
    return library.Get();
}

struct CacheFree {
    void operator()(nl_cache* cache) const { Nl().nl_cache_free(cache); }
};
using Cache = std::unique_ptr<nl_cache, CacheFree>;

struct LinkPut {
    void operator()(rtnl_link* link) const { Nl().rtnl_link_put(link); }
};

InterfaceCounters CountersOf(rtnl_link* link) {
    return {Nl().rtnl_link_get_stat(link, RTNL_LINK_RX_BYTES),
            Nl().rtnl_link_get_stat(link, RTNL_LINK_TX_BYTES)};
}

// Only the interfaces themselves: a bridge reports its ports' state as links of its own family,
// and a port leaving the bridge is no interface going away.
bool IsInterfaceMessage(rtnl_link* link) {
    return Nl().rtnl_link_get_family(link) == AF_UNSPEC;
}

std::string NameOf(rtnl_link* link) {
    const char* name = Nl().rtnl_link_get_name(link);
    return name ? name : "";
}

// An address counts while it has global scope and is usable: an IPv6 address still being
// checked for duplicates (tentative), or found a duplicate, carries no traffic yet.
bool UsableGlobal(rtnl_addr* address) {
    return Nl().rtnl_addr_get_scope(address) == RT_SCOPE_UNIVERSE &&
           (Nl().rtnl_addr_get_flags(address) & (IFA_F_TENTATIVE | IFA_F_DADFAILED)) == 0;
}

std::string AddressKey(rtnl_addr* address) {
    char text[128] = "";
    if (nl_addr* local = Nl().rtnl_addr_get_local(address))
        Nl().nl_addr2str(local, text, sizeof text);
    return std::to_string(Nl().rtnl_addr_get_family(address)) + " " + text;
}

std::string ReadBootId() {
    std::ifstream in("/proc/sys/kernel/random/boot_id");
    std::string id;
    std::getline(in, id);
    return id;
}

} // namespace

void NetlinkInterfaces::SocketFree::operator()(nl_sock* socket) const {
    Nl().nl_socket_free(socket);
}

NetlinkInterfaces::NetlinkInterfaces(int receiveBuffer) : bootId_(ReadBootId()) {
    try {
        Nl();
    } catch (const ELibraryNotLoaded& e) {
        problem_ = std::string("rtnetlink: cannot load ") + e.what();
        return;
    }
    events_.reset(Nl().nl_socket_alloc());
    requests_.reset(Nl().nl_socket_alloc());
    if (!events_ || !requests_) {
        problem_ = "rtnetlink: out of memory";
        events_.reset();
        requests_.reset();
        return;
    }
    // Multicast messages carry no sequence numbers of ours.
    Nl().nl_socket_disable_seq_check(events_.get());
    Nl().nl_socket_modify_cb(events_.get(), NL_CB_VALID, NL_CB_CUSTOM, &NetlinkInterfaces::OnMessage,
                        this);
    int error = Nl().nl_connect(events_.get(), NETLINK_ROUTE);
    if (error >= 0)
        error = Nl().nl_socket_add_memberships(events_.get(), RTNLGRP_LINK, RTNLGRP_IPV4_IFADDR,
                                          RTNLGRP_IPV6_IFADDR, 0);
    if (error >= 0)
        error = Nl().nl_socket_set_nonblocking(events_.get());
    if (error >= 0)
        error = Nl().nl_socket_set_buffer_size(
            events_.get(), receiveBuffer > 0 ? receiveBuffer : kDefaultReceiveBuffer, 0);
    if (error >= 0)
        error = Nl().nl_connect(requests_.get(), NETLINK_ROUTE);
    if (error < 0) {
        problem_ = std::string("rtnetlink: ") + Nl().nl_geterror(error);
        events_.reset();
        requests_.reset();
        return;
    }
    // A message larger than a page is read whole, not cut.
    Nl().nl_socket_enable_msg_peek(events_.get());
    // Subscribed first, then read: a change made meanwhile comes as an event after the read.
    ReadAll();
}

NetlinkInterfaces::~NetlinkInterfaces() = default;

int NetlinkInterfaces::ChangeDescriptor() {
    return events_ ? Nl().nl_socket_get_fd(events_.get()) : -1;
}

int NetlinkInterfaces::OnMessage(nl_msg* message, void* self) {
    struct Parsed {
        NetlinkInterfaces* self;
        int type;
    } parsed{static_cast<NetlinkInterfaces*>(self), Nl().nlmsg_hdr(message)->nlmsg_type};
    Nl().nl_msg_parse(
        message,
        [](nl_object* object, void* arg) {
            const auto* p = static_cast<const Parsed*>(arg);
            switch (p->type) {
            case RTM_NEWLINK:
            case RTM_DELLINK:
                p->self->LinkSeen(reinterpret_cast<rtnl_link*>(object), p->type == RTM_DELLINK);
                break;
            case RTM_NEWADDR:
            case RTM_DELADDR:
                p->self->AddressSeen(reinterpret_cast<rtnl_addr*>(object),
                                     p->type == RTM_DELADDR);
                break;
            default:
                break;
            }
        },
        &parsed);
    return NL_OK;
}

void NetlinkInterfaces::LinkSeen(rtnl_link* link, bool removed) {
    if (!IsInterfaceMessage(link))
        return;
    const int index = Nl().rtnl_link_get_ifindex(link);
    if (removed) {
        removed_.push_back({index, NameOf(link), CountersOf(link)});
        links_.erase(index);
        addresses_.erase(index);
        return;
    }
    NetInterface& interface = links_[index];
    interface.index = index;
    interface.name = NameOf(link);
    interface.flags = Nl().rtnl_link_get_flags(link);
    interface.globalAddresses = static_cast<int>(addresses_[index].size());
}

void NetlinkInterfaces::AddressSeen(rtnl_addr* address, bool removed) {
    const int index = Nl().rtnl_addr_get_ifindex(address);
    std::set<std::string>& global = addresses_[index];
    if (removed || !UsableGlobal(address))
        global.erase(AddressKey(address));
    else
        global.insert(AddressKey(address));
    if (const auto link = links_.find(index); link != links_.end())
        link->second.globalAddresses = static_cast<int>(global.size());
}

bool NetlinkInterfaces::ReadAll() {
    nl_cache* linkCache = nullptr;
    nl_cache* addressCache = nullptr;
    int error = Nl().rtnl_link_alloc_cache(requests_.get(), AF_UNSPEC, &linkCache);
    const Cache links(linkCache);
    if (error >= 0)
        error = Nl().rtnl_addr_alloc_cache(requests_.get(), &addressCache);
    const Cache addresses(addressCache);
    if (error < 0) {
        problem_ = std::string("rtnetlink: ") + Nl().nl_geterror(error);
        return false;
    }
    links_.clear();
    addresses_.clear();
    for (nl_object* o = Nl().nl_cache_get_first(addressCache); o; o = Nl().nl_cache_get_next(o))
        AddressSeen(reinterpret_cast<rtnl_addr*>(o), false);
    for (nl_object* o = Nl().nl_cache_get_first(linkCache); o; o = Nl().nl_cache_get_next(o))
        LinkSeen(reinterpret_cast<rtnl_link*>(o), false);
    ++fullReads_;
    problem_.clear();
    return true;
}

std::vector<InterfaceRemoval> NetlinkInterfaces::TakeChanges() {
    if (!events_)
        return {};
    bool lost = false;
    for (;;) {
        pollfd waiting{Nl().nl_socket_get_fd(events_.get()), POLLIN, 0};
        if (::poll(&waiting, 1, 0) != 1 || (waiting.revents & (POLLIN | POLLERR)) == 0)
            break;
        const int error = Nl().nl_recvmsgs_default(events_.get());
        // ENOBUFS: the kernel dropped messages that did not fit. The rest is read on, then
        // everything is read afresh.
        if (error == -NLE_NOMEM)
            lost = true;
        else if (error < 0)
            break;
    }
    if (lost)
        ReadAll();
    return std::exchange(removed_, {});
}

std::vector<NetInterface> NetlinkInterfaces::Interfaces() {
    std::vector<NetInterface> list;
    list.reserve(links_.size());
    for (const auto& [index, interface] : links_)
        list.push_back(interface);
    return list;
}

std::optional<InterfaceCounters> NetlinkInterfaces::ReadCounters(int index) {
    if (!requests_)
        return std::nullopt;
    rtnl_link* link = nullptr;
    if (Nl().rtnl_link_get_kernel(requests_.get(), index, nullptr, &link) < 0 || !link)
        return std::nullopt;
    const std::unique_ptr<rtnl_link, LinkPut> held(link);
    return CountersOf(link);
}

std::string NetlinkInterfaces::BootId() {
    return bootId_;
}

} // namespace quorvane
