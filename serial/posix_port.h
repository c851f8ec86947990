#pragma once
// Opening a serial port exclusively on Linux.
//
// Names: "COMn" (n from 1) is the symbolic link <store folder>/ports/COMn when it exists, else
// /dev/ttyS(n-1); any other name is a path. The device is opened with
// O_RDWR|O_NOCTTY|O_NONBLOCK|O_CLOEXEC, so opening never waits for a modem's carrier.
//
// A port counts as held by another process when any of these says so:
// - a live UUCP lock file in the lock folder under any name that Linux programs give this device
//   (posix_locks.h has the names, the formats and what counts as stale);
// - flock(LOCK_EX|LOCK_NB) is refused, or TIOCEXCL refuses the open (EBUSY);
// - a line discipline other than the terminal's own is set on it (pppd's N_PPP);
// - another process has the device open (the same st_rdev behind one of its /proc/PID/fd
//   entries), as far as /proc lets us see its descriptors. The scan costs a stat per descriptor
//   of every process, so a "free" answer is kept and the scan repeated only when inotify
//   reports an open of the device's node that was not ours.
// All of these are looked at before anything of the port is taken; its lock files (one under
// each of the device's names), the flock and TIOCEXCL are taken only once its user is ready to
// use it (Claim), and given up as soon as its user is done with it (LetGo), so that a dialer
// starting meanwhile meets them as seldom as can be. Opens of one device take turns across
// processes (posix_turn.h), so that two checks of one port never take each other for a dialer.
//
// The lock folder is $QUORVANE_LOCK_DIR when set, else /var/lock. When it is missing or not
// writable, other programs' lock files are still honoured as far as they can be read, and the
// port is held without a lock file of its own (flock and TIOCEXCL still keep it exclusive).
//
// A port that is missing or cannot be used (no such node, no device behind it, no permission,
// not a terminal) is told apart from one that is held. With QUORVANE_DEBUG set, every refusal
// names the check that fired and the process or lock file behind it.

#include "serial/posix_locks.h"
#include "serial/posix_turn.h"

#include <filesystem>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

namespace quorvane {

std::string ResolvePortName(const std::string& name);
std::filesystem::path LockDirectory();
// Where the device nodes and their links are looked for: /dev. Tests, which cannot make links
// in /dev, point $QUORVANE_DEV_DIR at a folder of their own.
std::filesystem::path DeviceDirectory();

// Whether another process has a device open: a /proc scan, whose "no" is kept for one device
// until inotify reports an open of its node that was not ours (a "yes" is checked again every
// time). inotify merges an open by someone else in the very moment of our own open with ours;
// such an opener is seen at the next open by anybody else. An open through another node of the
// same device (not a link to this one, as in a container's own /dev) is seen only by a scan:
// after the next open of this node. Without inotify every look scans.
class TOpenerWatch {
public:
    TOpenerWatch();
    ~TOpenerWatch();
    TOpenerWatch(const TOpenerWatch&) = delete;
    TOpenerWatch& operator=(const TOpenerWatch&) = delete;

    // Around each open of ours, so that it is not taken for someone else's.
    void BeforeOwnOpen(const std::string& device);
    void AfterOwnOpen();
    // The PID of another process with the device `rdev` open; 0 when there is none.
    pid_t OpenElsewhere(dev_t rdev);

private:
    bool Drain();
    int fd_;
    int watch_ = -1;
    std::string device_;
    bool known_ = false;
    pid_t holder_ = 0;
};

// CannotOpen: held by another process, or refused for a reason of this process's own (out of
// descriptors). NotPresent: no such device, or not usable (no permission, nothing behind it).
enum class TOpenResult { Opened, CannotOpen, NotPresent, NotACommHandle };

// The system resources of one open port session: the port, its lock file and the stop event.
// Destroying it closes the stop event, then the port (with its locks).
class TPortHandles {
public:
    // Opens `portName` after the checks that need nothing of the port held: the lock files,
    // TIOCEXCL, a look at the flock, the line discipline, other processes. Opened: `out` holds
    // the port, not taken yet (Claim). NotACommHandle: a file that is not a terminal device
    // (nothing is kept open).
    static TOpenResult Open(const std::string& portName, TOpenerWatch& watch,
                            std::unique_ptr<TPortHandles>& out);
    // Takes the opened port as late as its user can: its flock, its lock files and TIOCEXCL,
    // after a last look for a process that opened it since Open. False when another process
    // has it after all (the debug output says which).
    bool Claim(TOpenerWatch& watch);
    // Lets the port go before the threads that use it have ended, once they are told to stop
    // (LetGoOfPort): TIOCEXCL, the flock and the lock files are given up. The descriptor stays
    // open until the object goes.
    void LetGo();
    ~TPortHandles();
    TPortHandles(const TPortHandles&) = delete;
    TPortHandles& operator=(const TPortHandles&) = delete;

    int Port() const { return port_; }
    // The line speed, read-modify-write: only the speed changes. Rates of 0 or below, and rates
    // the port refuses, leave the settings as they were; nothing is reported.
    void SetBaudRate(int rate);

    int CloseEvent = -1; // owned: closed before the port

private:
    TPortHandles() = default;
    TDeviceTurn turn_; // given up last, once everything else is
    std::string name_; // "COM3 (/dev/ttyUSB0)", for the debug output
    int port_ = -1;
    dev_t rdev_ = 0;
    std::vector<std::string> lockNames_;
    bool exclusive_ = false; // TIOCEXCL is ours to take back
    bool letGo_ = false;
    TLockFiles locks_;
};

// Sets the speed of a terminal device in both directions (any rate the driver accepts).
bool SetTerminalSpeed(int fd, int rate);

} // namespace quorvane
