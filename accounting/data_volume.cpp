#include "accounting/data_volume.h"

#include "core/regional.h"

#include <array>

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

std::string FormatDataVolume(std::uint64_t bytes) {
    static constexpr std::array<const char*, 7> kUnits = {"B", "kB", "MB", "GB", "TB", "PB", "EB"};
    if (bytes < 1000)
        return std::to_string(bytes) + " B";
    // Integer arithmetic on 128 bits: exact rounding for every 64-bit count.
    using Wide = unsigned __int128;
    std::size_t unit = 1;
    Wide scale = 1000;
    while (unit + 1 < kUnits.size() && bytes / scale >= 1000) {
        scale *= 1000;
        ++unit;
    }
    for (;;) {
        const Wide whole = bytes / scale;
        const int decimals = whole < 10 ? 2 : whole < 100 ? 1 : 0;
        Wide factor = 1;
        for (int i = 0; i < decimals; ++i)
            factor *= 10;
        const Wide rounded = (Wide{bytes} * factor + scale / 2) / scale;
        // 999.6 kB rounds to 1000 kB, which is written as 1 MB.
        if (rounded >= 1000 * factor && unit + 1 < kUnits.size()) {
            scale *= 1000;
            ++unit;
            continue;
        }
        std::string text = std::to_string(static_cast<std::uint64_t>(rounded / factor));
        std::string fraction;
        for (Wide rest = rounded % factor, digit = factor / 10; digit > 0; digit /= 10) {
            fraction += static_cast<char>('0' + static_cast<int>(rest / digit));
            rest %= digit;
        }
        while (!fraction.empty() && fraction.back() == '0')
            fraction.pop_back();
        if (!fraction.empty())
            text += Regional().decimalSeparator + fraction;
        return text + " " + kUnits[unit];
    }
}

} // namespace quorvane
