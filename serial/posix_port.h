#pragma once
// Opening a serial port exclusively on Linux.
//
// Names: "COMn" (n from 1) is the symbolic link <store folder>/ports/COMn when it exists, else
// /dev/ttyS(n-1); any other name is a path. The device is opened with
// O_RDWR|O_NOCTTY|O_NONBLOCK|O_CLOEXEC, so opening never waits for a modem's carrier.
//
// A port counts as held by another process when any of these says so:
// - a UUCP lock file LCK..<device name> (HDB: the PID as ten characters and a newline) in the
//   lock folder whose PID is alive and not ours (pppd and the dialers hold ports this way);
// - flock(LOCK_EX|LOCK_NB) is refused, or TIOCEXCL refuses the open (EBUSY);
// - a line discipline other than the terminal's own is set on it (pppd's N_PPP);
// - another process has the device open, as far as /proc lets us see its descriptors. The scan
//   of /proc costs a readlink per descriptor of every process, so a "free" answer is kept and
//   the scan repeated only when inotify reports an open of the device that was not ours.
// A lock file whose PID is dead is removed. While open, the port holds its own lock file, the
// flock and TIOCEXCL; closing releases all three.
//
// The lock folder is $QUORVANE_LOCK_DIR when set, else /var/lock. When it is missing or not
// writable, other programs' lock files are still honoured as far as they can be read, and the
// port is held without a lock file of its own (flock and TIOCEXCL still keep it exclusive).

#include <filesystem>
#include <memory>
#include <string>

namespace quorvane {

std::string ResolvePortName(const std::string& name);
std::filesystem::path LockDirectory();

// Whether another process has a device open: a /proc scan, whose "no" is kept for one device
// until inotify reports an open of it that was not ours (a "yes" is checked again every time).
// inotify merges an open by someone else in the very moment of our own open with ours; such an
// opener is seen at the next open or close by anybody else. Without inotify every look scans.
class TOpenerWatch {
public:
    TOpenerWatch();
    ~TOpenerWatch();
    TOpenerWatch(const TOpenerWatch&) = delete;
    TOpenerWatch& operator=(const TOpenerWatch&) = delete;

    // Around each open of ours, so that it is not taken for someone else's.
    void BeforeOwnOpen(const std::string& device);
    void AfterOwnOpen();
    // `device` is the device's path as the kernel shows it in /proc/<pid>/fd.
    bool OpenElsewhere(const std::string& device);

private:
    bool Drain();
    int fd_;
    int watch_ = -1;
    std::string device_;
    bool known_ = false;
    bool held_ = false;
};

enum class TOpenResult { Opened, CannotOpen, NotACommHandle };

// The system resources of one open port session: the port, its lock file and the stop event.
// Destroying it closes the stop event, then the port (with its locks).
class TPortHandles {
public:
    // Opens `portName` exclusively. Opened: `out` holds the port. NotACommHandle: a file that is
    // not a terminal device (nothing is kept open).
    static TOpenResult Open(const std::string& portName, TOpenerWatch& watch,
                            std::unique_ptr<TPortHandles>& out);
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
    int port_ = -1;
    bool exclusive_ = false; // TIOCEXCL is ours to take back
    std::string lockFile_;   // empty: none of ours
};

// Sets the speed of a terminal device in both directions (any rate the driver accepts).
bool SetTerminalSpeed(int fd, int rate);

} // namespace quorvane
