#include "serial/posix_turn.h"

#include "serial/posix_ops.h"

#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <mutex>
#include <poll.h>
#include <set>
#include <sys/socket.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <time.h>
#include <utility>

namespace quorvane {

namespace {

// The devices whose turn this process holds.
std::mutex ownMutex;
std::set<dev_t>& OwnTurns() {
    static std::set<dev_t> devices;
    return devices;
}

struct TurnName {
    sockaddr_un address{};
    socklen_t length = 0;
};

TurnName NameOf(dev_t rdev) {
    TurnName name;
    name.address.sun_family = AF_UNIX;
    // Abstract: the first byte of the path is zero, and the name is as long as `length` says.
    const int n = std::snprintf(name.address.sun_path + 1, sizeof name.address.sun_path - 1,
                                "quorvane/serial-port/%u:%u", major(rdev), minor(rdev));
    name.length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + n);
    return name;
}

const sockaddr* Address(const TurnName& name) {
    return reinterpret_cast<const sockaddr*>(&name.address);
}

} // namespace

TDeviceTurn::~TDeviceTurn() {
    Release();
}

TDeviceTurn::TDeviceTurn(TDeviceTurn&& other) noexcept
    : socket_(std::move(other.socket_)), rdev_(other.rdev_) {}

TDeviceTurn& TDeviceTurn::operator=(TDeviceTurn&& other) noexcept {
    if (this != &other) {
        Release();
        socket_ = std::move(other.socket_);
        rdev_ = other.rdev_;
    }
    return *this;
}

void TDeviceTurn::Release() {
    if (!socket_)
        return;
    {
        std::lock_guard lock(ownMutex);
        OwnTurns().erase(rdev_);
    }
    socket_.reset(); // wakes whoever waits for the turn
}

TDeviceTurn TDeviceTurn::Take(dev_t rdev, int waitMs) {
    TDeviceTurn turn;
    {
        std::lock_guard lock(ownMutex);
        if (OwnTurns().count(rdev) != 0)
            return turn;
    }
    const TurnName name = NameOf(rdev);
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(waitMs);
    for (;;) {
        UniqueFd own(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
        if (!own)
            return turn;
        if (::bind(own.get(), Address(name), name.length) == 0) {
            if (::listen(own.get(), SOMAXCONN) != 0)
                return turn;
            std::lock_guard lock(ownMutex);
            OwnTurns().insert(rdev);
            turn.socket_ = std::move(own);
            turn.rdev_ = rdev;
            return turn;
        }
        if (errno != EADDRINUSE)
            return turn;
        // Another open of the device is under way: wait for its end, which resets a connection
        // to its turn.
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            OutputDebugString("Another open of device " + std::to_string(major(rdev)) + ":" +
                              std::to_string(minor(rdev)) + " has not ended in " +
                              std::to_string(waitMs) + " ms; looking at the port all the same");
            return turn;
        }
        const UniqueFd waiting(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
        if (!waiting)
            return turn;
        if (::connect(waiting.get(), Address(name), name.length) == 0) {
            pollfd ended{waiting.get(), POLLIN | POLLRDHUP, 0};
            ::poll(&ended, 1, static_cast<int>(left));
        } else {
            // Refused: the other has bound its turn and is about to listen, or has just let it
            // go; full: many wait. A moment, then again.
            const timespec pause{0, 100000};
            ::nanosleep(&pause, nullptr);
        }
    }
}

} // namespace quorvane
