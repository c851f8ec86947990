#include "watch/net_interfaces.h"

#include <algorithm>
#include <utility>
#include <fnmatch.h>
#include <net/if.h>
#include <stdexcept>
#include <sys/eventfd.h>
#include <unistd.h>

namespace quorvane {

namespace {

constexpr std::string_view kLoopback = "lo";

bool Contains(const std::vector<std::string>& names, std::string_view name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

} // namespace

bool InterfaceOnline(const NetInterface& interface) {
    return (interface.flags & IFF_UP) != 0 && (interface.flags & IFF_RUNNING) != 0 &&
           interface.globalAddresses > 0;
}

bool InterfaceNamed(std::string_view text, std::string_view name,
                    const std::vector<NmConnection>& connections) {
    if (name.empty() || name == kLoopback)
        return false;
    for (const NmConnection& connection : connections) {
        const bool named = text.empty() ? connection.metered : connection.id == text;
        if (named && Contains(connection.interfaces, name))
            return true;
    }
    return !text.empty() &&
           ::fnmatch(std::string(text).c_str(), std::string(name).c_str(), 0) == 0;
}

bool NamedInterfaceOnline(std::string_view text, const std::vector<NetInterface>& interfaces,
                          const std::vector<NmConnection>& connections) {
    return std::any_of(interfaces.begin(), interfaces.end(), [&](const NetInterface& interface) {
        return InterfaceOnline(interface) && InterfaceNamed(text, interface.name, connections);
    });
}

std::vector<std::string> InterfaceChoices(const std::vector<NetInterface>& interfaces,
                                          const std::vector<std::string>& connectionNames) {
    std::vector<std::string> choices;
    for (const NetInterface& interface : interfaces)
        if (interface.name != kLoopback && !Contains(choices, interface.name))
            choices.push_back(interface.name);
    for (const std::string& name : connectionNames)
        if (!name.empty() && !Contains(choices, name))
            choices.push_back(name);
    return choices;
}

FakeNetInterfaces::FakeNetInterfaces() : eventFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (eventFd_ < 0)
        throw std::runtime_error("eventfd failed");
}

FakeNetInterfaces::~FakeNetInterfaces() {
    ::close(eventFd_);
}

void FakeNetInterfaces::Changed() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(eventFd_, &one, sizeof one);
}

int FakeNetInterfaces::Add(const std::string& name, int index) {
    return MoveIn(name, {}, index);
}

int FakeNetInterfaces::AddOnline(const std::string& name, InterfaceCounters counters, int index) {
    index = Add(name, index);
    SetCounters(index, counters);
    SetGlobalAddresses(index, 1);
    SetUp(index, true);
    return index;
}

int FakeNetInterfaces::MoveIn(const std::string& name, InterfaceCounters carried, int index) {
    if (index == 0)
        index = nextIndex_;
    if (interfaces_.count(index) != 0)
        throw std::invalid_argument("the index is taken");
    nextIndex_ = std::max(nextIndex_, index + 1);
    interfaces_[index] = {index, name, 0, 0, nextInstance_++, carried};
    counters_[index] = carried;
    Changed();
    return index;
}

void FakeNetInterfaces::SetUp(int index, bool up) {
    unsigned& flags = interfaces_.at(index).flags;
    flags = up ? flags | IFF_UP | IFF_RUNNING : flags & ~(IFF_UP | IFF_RUNNING);
    Changed();
}

void FakeNetInterfaces::SetGlobalAddresses(int index, int count) {
    interfaces_.at(index).globalAddresses = count;
    Changed();
}

void FakeNetInterfaces::SetCounters(int index, InterfaceCounters counters) {
    counters_.at(index) = counters;
}

void FakeNetInterfaces::Remove(int index) {
    const NetInterface& interface = interfaces_.at(index);
    removed_.push_back(
        {index, interface.name, counters_.at(index), interface.instance, interface.arrived});
    interfaces_.erase(index);
    counters_.erase(index);
    Changed();
}

std::vector<InterfaceRemoval> FakeNetInterfaces::TakeChanges() {
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t read = ::read(eventFd_, &count, sizeof count);
    return std::exchange(removed_, {});
}

std::vector<NetInterface> FakeNetInterfaces::Interfaces() {
    std::vector<NetInterface> list;
    for (const auto& [index, interface] : interfaces_)
        list.push_back(interface);
    return list;
}

std::optional<InterfaceCounters> FakeNetInterfaces::ReadCounters(int index,
                                                                 std::uint64_t instance) {
    const auto it = interfaces_.find(index);
    if (it == interfaces_.end() || it->second.instance != instance)
        return std::nullopt;
    return counters_.at(index);
}

} // namespace quorvane
