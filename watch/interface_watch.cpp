#include "watch/interface_watch.h"

namespace quorvane {

DataBytes InterfaceWatch::TakeChanges() {
    DataBytes added;
    for (const InterfaceRemoval& removal : source_.TakeChanges()) {
        if (!Counting())
            continue;
        if (counted_.erase(removal.index) == 0 &&
            !InterfaceNamed(text_, removal.name, connections_))
            continue;
        added += count_.Take({source_.BootId(), removal.index, {removal.counters.rx,
                                                                removal.counters.tx}});
    }
    return added;
}

bool InterfaceWatch::Online() {
    return NamedInterfaceOnline(text_, source_.Interfaces(), connections_);
}

std::vector<CounterReading> InterfaceWatch::Read(const std::vector<int>& indexes) {
    std::vector<CounterReading> readings;
    const std::string boot = source_.BootId();
    for (const int index : indexes) {
        // One that has just gone has its final counters in its removal, still to be taken in.
        if (const auto counters = source_.ReadCounters(index))
            readings.push_back({boot, index, {counters->rx, counters->tx}});
    }
    return readings;
}

void InterfaceWatch::StartCounting() {
    std::vector<int> all;
    for (const NetInterface& interface : source_.Interfaces())
        all.push_back(interface.index);
    counted_.clear();
    count_.Begin(Read(all));
}

DataBytes InterfaceWatch::Count() {
    if (!Counting())
        return {};
    for (const NetInterface& interface : source_.Interfaces())
        if (InterfaceNamed(text_, interface.name, connections_))
            counted_.insert(interface.index);
    return count_.Take(Read({counted_.begin(), counted_.end()}));
}

DataBytes InterfaceWatch::StopCounting() {
    const DataBytes added = Count();
    count_.End();
    counted_.clear();
    return added;
}

} // namespace quorvane
