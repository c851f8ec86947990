#include "accounting/data_volume.h"

namespace quorvane {

namespace {

// What a counter gained since its last reading under the same key; a counter that fell was
// reset, and all it holds now is new.
std::uint64_t Gained(std::uint64_t last, std::uint64_t now) {
    return now >= last ? now - last : now;
}

} // namespace

void SessionDataCount::Begin(const std::vector<CounterReading>& readings) {
    last_.clear();
    for (const CounterReading& reading : readings)
        last_[{reading.bootId, reading.index, reading.instance}] = reading.counters;
    counted_ = {};
    running_ = true;
}

DataBytes SessionDataCount::Take(const std::vector<CounterReading>& readings) {
    DataBytes added;
    if (!running_)
        return added;
    for (const CounterReading& reading : readings) {
        // A key without a baseline belongs to an interface that came during the session: it
        // counts from what it arrived with.
        DataBytes& last =
            last_.try_emplace({reading.bootId, reading.index, reading.instance}, reading.arrived)
                .first->second;
        added.rx += Gained(last.rx, reading.counters.rx);
        added.tx += Gained(last.tx, reading.counters.tx);
        last = reading.counters;
    }
    counted_ += added;
    return added;
}

void SessionDataCount::End() {
    running_ = false;
    last_.clear();
}

} // namespace quorvane
