#pragma once
// Small file helpers shared by the tests.

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace quorvane::test {

// The whole file as bytes ("" when it cannot be read).
inline std::string ReadBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

} // namespace quorvane::test
