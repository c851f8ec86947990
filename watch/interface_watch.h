#pragma once
// The Network Interface method's side of a session: whether the interfaces that the provider's
// text names are online, and the bytes they carry while a session runs, read from the kernel's
// counters at the session's start, at each tick, at each removal (the removal's own final
// counters) and at the stop. The rules of counting are accounting/data_volume.h's.
//
// Use from the window:
//   text or NetworkManager changed:  SetText, SetConnections; then act on Online()
//   the source's descriptor readable, and each watching tick:
//                                    totals.Add(TakeChanges()); then act on Online()
//   the session starts:              StartCounting()
//   each session tick:               totals.Add(Count())
//   the session stops:               totals.Add(StopCounting())

#include "accounting/data_volume.h"
#include "watch/net_interfaces.h"

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace quorvane {

class InterfaceWatch {
public:
    explicit InterfaceWatch(NetInterfaceSource& source) : source_(source) {}

    void SetText(std::string text) { text_ = std::move(text); }
    const std::string& Text() const { return text_; }
    void SetConnections(std::vector<NmConnection> connections) {
        connections_ = std::move(connections);
    }
    const std::vector<NmConnection>& Connections() const { return connections_; }
    NetInterfaceSource& Source() { return source_; }

    // Takes in the source's changes. While counting, an interface that went away and was
    // counted, or is one the text names, gives its final counters: the bytes new in them.
    DataBytes TakeChanges();
    // Whether an interface that the text names is online, as the changes taken in leave it.
    bool Online();

    // The session starts: every interface's counters are its baseline.
    void StartCounting();
    // The bytes that the interfaces the text names (and those it named earlier in the session)
    // have carried since the last reading.
    DataBytes Count();
    // The last reading; nothing is counted after it.
    DataBytes StopCounting();
    bool Counting() const { return count_.Running(); }
    // What the session has counted since its start.
    const DataBytes& Counted() const { return count_.Counted(); }

private:
    // The interfaces read during this session, by index: which one under it, and what it
    // arrived with.
    struct Seen {
        std::uint64_t instance = 0;
        InterfaceCounters arrived;
    };
    CounterReading Reading(int index, const Seen& seen, const InterfaceCounters& counters);
    std::vector<CounterReading> Read(const std::map<int, Seen>& interfaces);

    NetInterfaceSource& source_;
    std::string text_;
    std::vector<NmConnection> connections_;
    SessionDataCount count_;
    std::map<int, Seen> counted_;
    // Interfaces there at the start that went before they could be read: the bytes of their
    // removal are from before the session.
    std::set<std::uint64_t> goneAtStart_;
};

} // namespace quorvane
