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
        last_[{reading.bootId, reading.index}] = reading.counters;
    counted_ = {};
    running_ = true;
}

DataBytes SessionDataCount::Take(const std::vector<CounterReading>& readings) {
    DataBytes added;
    if (!running_)
        return added;
    for (const CounterReading& reading : readings) {
        // A key without a baseline belongs to an interface made during the session.
        const auto [it, fresh] = last_.try_emplace({reading.bootId, reading.index});
        DataBytes& last = it->second;
        added.rx += Gained(fresh ? 0 : last.rx, reading.counters.rx);
        added.tx += Gained(fresh ? 0 : last.tx, reading.counters.tx);
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
