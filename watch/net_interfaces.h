#pragma once
// The Network Interface method: which interfaces the provider's text names, when the computer
// counts as online through them, and where their state comes from (the kernel through
// rtnetlink, netlink_interfaces.h, or a stand-in that tests set).
//
// The text is an interface name ("wwan0"), a shell-style pattern ("ppp*", "enx*": any matching
// interface counts) or the name of a NetworkManager connection (that connection's interfaces
// while it is active). An empty text names every interface of an active connection that
// NetworkManager marks metered. Online: a named interface exists, is up and running (IFF_UP and
// IFF_RUNNING) and has at least one address of global scope.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvane {

struct InterfaceCounters {
    std::uint64_t rx = 0; // bytes received
    std::uint64_t tx = 0; // bytes sent

    bool operator==(const InterfaceCounters&) const = default;
};

// One interface as last seen.
//
// An index is not an interface: one made again with the index it had ("ip link add ... index
// 77"), or one moved in from another network namespace, takes an index that another interface
// held before. `instance` tells them apart: it is new each time an interface comes into sight
// under an index (unique for the source's life), and stays while it stays. `arrived` are the
// counters it came with: zero for an interface made here, what it had carried elsewhere for one
// moved in from another namespace (the kernel keeps a moved interface's counters).
struct NetInterface {
    int index = 0;
    std::string name;
    unsigned flags = 0; // IFF_*
    // How many of its addresses (IPv4 and IPv6) have global scope and are usable (not tentative).
    int globalAddresses = 0;
    std::uint64_t instance = 0;
    InterfaceCounters arrived{};

    bool operator==(const NetInterface&) const = default;
};

// An interface that went away (deleted, or moved to another namespace), with the counters the
// kernel's removal message carried.
struct InterfaceRemoval {
    int index = 0;
    std::string name;
    InterfaceCounters counters;
    std::uint64_t instance = 0;
    InterfaceCounters arrived{};

    bool operator==(const InterfaceRemoval&) const = default;
};

// What NetworkManager says of one active connection.
struct NmConnection {
    std::string id;                      // the connection's name
    std::vector<std::string> interfaces; // of its devices: the IP interface (ppp0) where there is one
    bool metered = false;                // Metered is yes or guess-yes
};

bool InterfaceOnline(const NetInterface& interface);

// Whether the interface `name` is one the text names (above). The loopback interface never is.
bool InterfaceNamed(std::string_view text, std::string_view name,
                    const std::vector<NmConnection>& connections);

// Whether any interface that the text names is online.
bool NamedInterfaceOnline(std::string_view text, const std::vector<NetInterface>& interfaces,
                          const std::vector<NmConnection>& connections);

// What the Detection page offers for the text: the interfaces' names (not the loopback's) in
// index order, then the connection names not already listed.
std::vector<std::string> InterfaceChoices(const std::vector<NetInterface>& interfaces,
                                          const std::vector<std::string>& connectionNames);

// Where the interfaces' state comes from.
class NetInterfaceSource {
public:
    virtual ~NetInterfaceSource() = default;
    // A descriptor that turns readable when changes wait to be taken in; -1 when there is none.
    virtual int ChangeDescriptor() = 0;
    // Takes in every change since the last call: the interfaces removed meanwhile, in order.
    virtual std::vector<InterfaceRemoval> TakeChanges() = 0;
    // Every interface as the changes taken in leave it, in index order.
    virtual std::vector<NetInterface> Interfaces() = 0;
    // The counters of the interface `instance` under `index` as the kernel has them now; nullopt
    // when it is gone, also when another interface has taken its index meanwhile. Changes that
    // the read brings to light wait for TakeChanges, and the descriptor says so.
    virtual std::optional<InterfaceCounters> ReadCounters(int index, std::uint64_t instance) = 0;
    // The boot the counters belong to; they start again from zero with the next.
    virtual std::string BootId() = 0;
    // What went wrong when the state cannot be read at all ("" when it can).
    virtual std::string Problem() = 0;
};

// A stand-in that gives what it is told, for the window's tests: its interfaces are as last
// told, and each change makes the descriptor readable, as the kernel's socket would be.
class FakeNetInterfaces final : public NetInterfaceSource {
public:
    FakeNetInterfaces();
    ~FakeNetInterfaces() override;
    FakeNetInterfaces(const FakeNetInterfaces&) = delete;
    FakeNetInterfaces& operator=(const FakeNetInterfaces&) = delete;

    // A new interface, down, with no address and zero counters; answers its index. `index` 0
    // takes one never used; another is the index of an interface gone.
    int Add(const std::string& name, int index = 0);
    // A new interface, up and running with a global address and these counters (the traffic
    // it carried before it was looked at).
    int AddOnline(const std::string& name, InterfaceCounters counters, int index = 0);
    // An interface moved in from another namespace, down, with no address and the counters it
    // carried there.
    int MoveIn(const std::string& name, InterfaceCounters carried, int index = 0);
    // Up and running, or not.
    void SetUp(int index, bool up);
    void SetGlobalAddresses(int index, int count);
    void SetCounters(int index, InterfaceCounters counters);
    // Gone (deleted, or moved to another namespace), with its counters as they stand.
    void Remove(int index);
    // The interface under the index now.
    std::uint64_t Instance(int index) const { return interfaces_.at(index).instance; }

    int ChangeDescriptor() override { return eventFd_; }
    std::vector<InterfaceRemoval> TakeChanges() override;
    std::vector<NetInterface> Interfaces() override;
    std::optional<InterfaceCounters> ReadCounters(int index, std::uint64_t instance) override;
    std::string BootId() override { return "fake-boot"; }
    std::string Problem() override { return {}; }

private:
    void Changed();

    int eventFd_ = -1;
    int nextIndex_ = 2; // 1 is the loopback's
    std::uint64_t nextInstance_ = 1;
    std::map<int, NetInterface> interfaces_;
    std::map<int, InterfaceCounters> counters_;
    std::vector<InterfaceRemoval> removed_;
};

} // namespace quorvane
