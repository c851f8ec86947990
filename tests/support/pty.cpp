#include "support/pty.h"

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <termios.h>
#include <unistd.h>

namespace quorvane::test {

Pty::Pty() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0)
        throw std::runtime_error("no pseudo-terminal");
    char name[128];
    if (::ptsname_r(master_, name, sizeof name) != 0)
        throw std::runtime_error("ptsname");
    slave_ = name;
    const int slave = OpenSlave();
    termios tio;
    ::tcgetattr(slave, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(slave, TCSANOW, &tio);
    ::close(slave);
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
}

Pty::~Pty() {
    CloseMaster();
}

int Pty::OpenSlave() const {
    return ::open(slave_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
}

void Pty::Send(const std::string& bytes) const {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else {
            pollfd fd{master_, POLLOUT, 0};
            ::poll(&fd, 1, 100);
        }
    }
}

std::string Pty::Receive(std::size_t count) const {
    std::string got;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kHangGuardMs);
    while (got.size() < count && std::chrono::steady_clock::now() < end) {
        pollfd fd{master_, POLLIN, 0};
        ::poll(&fd, 1, 100);
        got += ReceiveWaiting();
    }
    return got;
}

std::string Pty::ReceiveWaiting() const {
    std::string got;
    char buffer[4096];
    for (ssize_t n; (n = ::read(master_, buffer, sizeof buffer)) > 0;)
        got.append(buffer, static_cast<std::size_t>(n));
    return got;
}

void Pty::CloseMaster() {
    if (master_ >= 0)
        ::close(master_);
    master_ = -1;
}

} // namespace quorvane::test
