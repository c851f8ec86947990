#pragma once
// Little-endian integers, as the registry and the files written on Windows hold them.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quorvane {

// The low `size` bytes of `value`, least significant first.
inline std::vector<std::uint8_t> LittleEndianBytes(std::uint64_t value, std::size_t size) {
    std::vector<std::uint8_t> out(size);
    for (std::size_t i = 0; i < size; ++i)
        out[i] = static_cast<std::uint8_t>(value >> (8 * i));
    return out;
}

// The number that `size` bytes hold, least significant first (at most eight are read).
inline std::uint64_t ReadLittleEndian(const std::uint8_t* data, std::size_t size) {
    std::uint64_t value = 0;
    for (std::size_t i = size < 8 ? size : 8; i-- > 0;)
        value = (value << 8) | data[i];
    return value;
}

} // namespace quorvane
