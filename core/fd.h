#pragma once
// File descriptors: one owner that closes them, and writes that go through whole.

#include <cstddef>
#include <utility>

namespace quorvane {

class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    int release() { return std::exchange(fd_, -1); }
    void reset(int fd = -1);
    // Closes now and tells whether the close went well: on some file systems a failed write
    // only shows at the close.
    bool Close();

private:
    int fd_ = -1;
};

// Writes all of `data`, going on after interruptions and short writes. False (errno set) on a
// failure.
bool WriteAll(int fd, const void* data, std::size_t size);

} // namespace quorvane
