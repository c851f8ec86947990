#include "watch/netlink_interfaces.h"

#include "core/host.h"
#include "core/lazy_library.h"

#include <netlink/addr.h>
#include <netlink/cache.h>
#include <netlink/msg.h>
#include <netlink/netlink.h>
#include <netlink/route/addr.h>
#include <netlink/route/link.h>
#include <netlink/socket.h>

#include <cerrno>
#include <cstring>
#include <linux/if_addr.h>
#include <linux/rtnetlink.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

namespace quorvane {

namespace {

// Room for a burst of changes (a dock with several interfaces plugged in); the kernel caps it at
// net.core.rmem_max. An overrun costs a full read, nothing more.
constexpr int kDefaultReceiveBuffer = 256 * 1024;

// libnl is loaded when an interface is first watched: the Network Interface method is one of
// four, and the library would be mapped and relocated at every start for it. The route
// library's name brings the core one with it, and the calls of both are looked up through it.
#define QUORVANE_NETLINK_CALLS(X)                                                                  \
    X(nl_addr2str) X(nl_cache_free) X(nl_cache_get_first) X(nl_cache_get_next) X(nl_connect)       \
    X(nl_geterror) X(nl_msg_parse) X(nl_recvmsgs_default) X(nl_socket_add_memberships)             \
    X(nl_socket_alloc) X(nl_socket_disable_seq_check) X(nl_socket_enable_msg_peek)                 \
    X(nl_socket_free) X(nl_socket_get_fd) X(nl_socket_modify_cb) X(nl_socket_set_buffer_size)      \
    X(nl_socket_set_nonblocking) X(nlmsg_hdr) X(rtnl_addr_alloc_cache) X(rtnl_addr_get_family)     \
    X(rtnl_addr_get_flags) X(rtnl_addr_get_ifindex) X(rtnl_addr_get_local)                         \
    X(rtnl_addr_get_scope) X(rtnl_link_alloc_cache) X(rtnl_link_get_family)                        \
    X(rtnl_link_get_flags) X(rtnl_link_get_ifindex) X(rtnl_link_get_kernel)                        \
    X(rtnl_link_get_name) X(rtnl_link_get_stat) X(rtnl_link_put)

struct NetlinkCalls {
    QUORVANE_NETLINK_CALLS(QUORVANE_CALL_MEMBER)
};

bool BindNetlink(void* handle, NetlinkCalls& calls) {
    return true QUORVANE_NETLINK_CALLS(QUORVANE_CALL_LOOK_UP);
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

} // namespace

void NetlinkInterfaces::SocketFree::operator()(nl_sock* socket) const {
    Nl().nl_socket_free(socket);
}

NetlinkInterfaces::NetlinkInterfaces(int receiveBuffer) : bootId_(quorvane::BootId()) {
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
    changes_.reset(::epoll_create1(EPOLL_CLOEXEC));
    waiting_.reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    epoll_event readable{};
    readable.events = EPOLLIN;
    if (!changes_ || !waiting_ ||
        ::epoll_ctl(changes_.get(), EPOLL_CTL_ADD, Nl().nl_socket_get_fd(events_.get()),
                    &readable) != 0 ||
        ::epoll_ctl(changes_.get(), EPOLL_CTL_ADD, waiting_.get(), &readable) != 0) {
        problem_ = std::string("rtnetlink: ") + std::strerror(errno);
        events_.reset();
        requests_.reset();
        return;
    }
    // Subscribed first, then read: a change made meanwhile comes as an event after the read.
    ReadAll();
}

NetlinkInterfaces::~NetlinkInterfaces() = default;

int NetlinkInterfaces::ChangeDescriptor() {
    return events_ ? changes_.get() : -1;
}

int NetlinkInterfaces::OnMessage(nl_msg* message, void* self) {
    struct Parsed {
        NetlinkInterfaces* self;
        int type;
    } parsed{static_cast<NetlinkInterfaces*>(self), Nl().nlmsg_hdr(message)->nlmsg_type};
    ++parsed.self->messages_;
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

void NetlinkInterfaces::LinkSeen(rtnl_link* link, bool removed,
                                 const std::map<int, NetInterface>* before) {
    if (!IsInterfaceMessage(link))
        return;
    const int index = Nl().rtnl_link_get_ifindex(link);
    if (removed) {
        // One whose coming was lost in an overrun is taken as made here.
        const auto gone = links_.find(index);
        removed_.push_back({index, NameOf(link), CountersOf(link),
                            gone != links_.end() ? gone->second.instance : nextInstance_++,
                            gone != links_.end() ? gone->second.arrived : InterfaceCounters{}});
        links_.erase(index);
        addresses_.erase(index);
        return;
    }
    const auto [it, fresh] = links_.try_emplace(index);
    NetInterface& interface = it->second;
    if (fresh) {
        const NetInterface* known = nullptr;
        if (before)
            if (const auto held = before->find(index); held != before->end())
                known = &held->second;
        if (known) {
            interface.instance = known->instance;
            interface.arrived = known->arrived;
        } else {
            interface.instance = nextInstance_++;
            // A full read cannot tell a moved interface from one made and used meanwhile.
            interface.arrived = before ? InterfaceCounters{} : CountersOf(link);
        }
    }
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
    const std::map<int, NetInterface> before = std::exchange(links_, {});
    addresses_.clear();
    for (nl_object* o = Nl().nl_cache_get_first(addressCache); o; o = Nl().nl_cache_get_next(o))
        AddressSeen(reinterpret_cast<rtnl_addr*>(o), false);
    for (nl_object* o = Nl().nl_cache_get_first(linkCache); o; o = Nl().nl_cache_get_next(o))
        LinkSeen(reinterpret_cast<rtnl_link*>(o), false, &before);
    ++fullReads_;
    problem_.clear();
    return true;
}

bool NetlinkInterfaces::ReadEvents() {
    if (!events_)
        return false;
    const int before = messages_;
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
    return lost || messages_ != before;
}

std::vector<InterfaceRemoval> NetlinkInterfaces::TakeChanges() {
    if (!events_)
        return {};
    ReadEvents();
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t read = ::read(waiting_.get(), &count, sizeof count);
    return std::exchange(removed_, {});
}

std::vector<NetInterface> NetlinkInterfaces::Interfaces() {
    std::vector<NetInterface> list;
    list.reserve(links_.size());
    for (const auto& [index, interface] : links_)
        list.push_back(interface);
    return list;
}

std::optional<InterfaceCounters> NetlinkInterfaces::ReadCounters(int index,
                                                                 std::uint64_t instance) {
    const auto holds = [&] {
        const auto it = links_.find(index);
        return it != links_.end() && it->second.instance == instance;
    };
    if (!requests_ || !holds())
        return std::nullopt;
    rtnl_link* link = nullptr;
    const int error = Nl().rtnl_link_get_kernel(requests_.get(), index, nullptr, &link);
    const std::unique_ptr<rtnl_link, LinkPut> held(link);
    // Every change made before the kernel answered is queued by now: the index may have changed
    // hands since the interfaces were last read.
    if (ReadEvents()) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(waiting_.get(), &one, sizeof one);
    }
    if (error < 0 || !link || !holds())
        return std::nullopt;
    return CountersOf(link);
}

std::string NetlinkInterfaces::BootId() {
    return bootId_;
}

} // namespace quorvane
