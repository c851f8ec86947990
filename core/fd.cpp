#include "core/fd.h"

#include <cerrno>
#include <unistd.h>

namespace quorvane {

void UniqueFd::reset(int fd) {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = fd;
}

bool UniqueFd::Close() {
    return ::close(release()) == 0;
}

bool WriteAll(int fd, const void* data, std::size_t size) {
    const auto* at = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, at, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        at += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace quorvane
