#pragma once
// Opens of one device by this component take turns, across processes and users: two Quorvanes
// that check the same modem each second drift into step, and each would take the other's
// check, with its lock files, flock and open descriptor, for a dialer holding the port. So an
// open waits until no other open of the device is under way, and keeps the device's turn until
// the port is closed.
//
// The turn is a listening socket in the abstract namespace named after the device number: it
// needs no file and no permission, and goes when its process ends, however it ends. One who
// waits connects to it and is woken by the reset of that connection when the holder lets go.
// A second open of the device by the same process does not wait for its own turn; where the
// system has no such sockets (a sandbox), opens do not take turns.

#include "core/fd.h"

#include <sys/types.h>

namespace quorvane {

class TDeviceTurn {
public:
    TDeviceTurn() = default;
    ~TDeviceTurn();
    TDeviceTurn(TDeviceTurn&& other) noexcept;
    TDeviceTurn& operator=(TDeviceTurn&& other) noexcept;

    // Waits, at most `waitMs`, until no other open of the device `rdev` is under way, and takes
    // its turn. Without the turn (the wait was too long, this process has the device open
    // already, or turns cannot be taken here) the open goes on all the same.
    static TDeviceTurn Take(dev_t rdev, int waitMs);
    bool Held() const { return static_cast<bool>(socket_); }

private:
    void Release();
    UniqueFd socket_;
    dev_t rdev_ = 0;
};

} // namespace quorvane
