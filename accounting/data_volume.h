#pragma once
// The bytes a session sends and receives, counted from the kernel's 64-bit counters of the
// interfaces it watches, and the running data totals of a provider.
//
// Every reading of a counter is keyed by the boot and the interface: its index and which of the
// interfaces that held that index it is (an interface made again under its old index, or moved
// in from another namespace, is another interface under the same index; the watcher tells them
// apart). Under one key the counter only grows, so what it gained since the last reading of that
// key is new traffic, and a counter that falls is one that was reset: all of its new value is
// new traffic (64-bit counters never wrap). A key met for the first time after the session's
// start belongs to an interface that came since: made (its counters started from zero with the
// session running, so all of them are new) or moved in from another namespace with the counters
// it carried there (that namespace's traffic, not this session's). Either way it counts from
// the counters it arrived with. Each reading moves the key's last value on, so nothing is
// counted twice, however many readings of one moment arrive, and nothing of one interface is
// set against another's.
//
// Use from the window:
//   the session's start:  data.Begin(readings of every interface there is)
//   each session tick, each removal of an interface (its final counters), and the stop:
//                         bytes = data.Take(readings of the interfaces watched); totals += bytes
//   the stop:             data.End()

#include "core/regional.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace quorvane {

// Bytes received and sent.
struct DataBytes {
    std::uint64_t rx = 0;
    std::uint64_t tx = 0;

    DataBytes& operator+=(const DataBytes& other) {
        rx += other.rx;
        tx += other.tx;
        return *this;
    }
    bool operator==(const DataBytes&) const = default;
};

// A provider's running data totals: Today's and those since the billing cycle day.
struct DataTotals {
    DataBytes today;
    DataBytes total;

    void Add(const DataBytes& bytes) {
        today += bytes;
        total += bytes;
    }
    bool operator==(const DataTotals&) const = default;
};

// One interface's counters at one moment.
struct CounterReading {
    std::string bootId;
    int index = 0;
    DataBytes counters;
    // Which interface under the index (NetInterface::instance), and the counters it came into
    // sight with: zero for one made here.
    std::uint64_t instance = 0;
    DataBytes arrived{};
};

class SessionDataCount {
public:
    // The session starts: these are the baselines, nothing is counted for them.
    void Begin(const std::vector<CounterReading>& readings);
    // What the readings hold that no earlier reading did; added to Counted() as well.
    DataBytes Take(const std::vector<CounterReading>& readings);
    DataBytes Take(const CounterReading& reading) { return Take(std::vector{reading}); }
    // The session has stopped; Counted() keeps its last value until the next Begin.
    void End();

    bool Running() const { return running_; }
    // What the session has counted since Begin.
    const DataBytes& Counted() const { return counted_; }

private:
    struct Key {
        std::string bootId;
        int index = 0;
        std::uint64_t instance = 0;
        auto operator<=>(const Key&) const = default;
    };
    std::map<Key, DataBytes> last_;
    DataBytes counted_;
    bool running_ = false;
};

// FormatDataVolume, a number of bytes as the read-outs show it, is in core/regional.h.

} // namespace quorvane
