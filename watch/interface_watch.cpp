#include "watch/interface_watch.h"

#include <algorithm>

namespace quorvane {

DataBytes InterfaceWatch::TakeChanges() {
    DataBytes added;
    for (const InterfaceRemoval& removal : source_.TakeChanges()) {
        if (!Counting() || goneAtStart_.erase(removal.instance) != 0)
            continue;
        // Counted when it was read during the session, or is one the text names; another
        // interface under the same index is not it.
        const auto read = counted_.find(removal.index);
        if (read != counted_.end() && read->second.instance == removal.instance)
            counted_.erase(read);
        else if (!InterfaceNamed(text_, removal.name, connections_))
            continue;
        added += count_.Take(
            Reading(removal.index, {removal.instance, removal.arrived}, removal.counters));
    }
    return added;
}

bool InterfaceWatch::Online() {
    return NamedInterfaceOnline(text_, source_.Interfaces(), connections_);
}

CounterReading InterfaceWatch::Reading(int index, const Seen& seen,
                                       const InterfaceCounters& counters) {
    return {source_.BootId(), index, {counters.rx, counters.tx}, seen.instance,
            {seen.arrived.rx, seen.arrived.tx}};
}

std::vector<CounterReading> InterfaceWatch::Read(const std::map<int, Seen>& interfaces) {
    std::vector<CounterReading> readings;
    for (const auto& [index, seen] : interfaces) {
        // One that has just gone has its final counters in its removal, still to be taken in;
        // one that has taken its index since is read as itself once it is seen.
        if (const auto counters = source_.ReadCounters(index, seen.instance))
            readings.push_back(Reading(index, seen, *counters));
    }
    return readings;
}

void InterfaceWatch::StartCounting() {
    std::map<int, Seen> all;
    for (const NetInterface& interface : source_.Interfaces())
        all[interface.index] = {interface.instance, interface.arrived};
    const std::vector<CounterReading> baselines = Read(all);
    goneAtStart_.clear();
    for (const auto& [index, seen] : all)
        if (std::none_of(baselines.begin(), baselines.end(), [&](const CounterReading& reading) {
                return reading.instance == seen.instance;
            }))
            goneAtStart_.insert(seen.instance);
    counted_.clear();
    count_.Begin(baselines);
}

DataBytes InterfaceWatch::Count() {
    if (!Counting())
        return {};
    for (const NetInterface& interface : source_.Interfaces())
        if (InterfaceNamed(text_, interface.name, connections_))
            counted_[interface.index] = {interface.instance, interface.arrived};
    return count_.Take(Read(counted_));
}

DataBytes InterfaceWatch::StopCounting() {
    const DataBytes added = Count();
    count_.End();
    counted_.clear();
    goneAtStart_.clear();
    return added;
}

} // namespace quorvane
