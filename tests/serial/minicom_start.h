#pragma once
// A dialer's start as minicom makes it, for the tests and the serial benchmark: its lock file
// LCK..<the path below /dev with '/' made '_'> is read first (a live PID in it, or nothing
// readable: "Device is locked"), then created with O_EXCL ("Cannot create lockfile") holding
// "%10ld minicom <user>\n", and only then is the device opened (refused while another process
// holds TIOCEXCL on it, unless this one is root). Meant for a process of its own: the PID in the
// lock file is the caller's.

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <ostream>
#include <string>
#include <unistd.h>

namespace quorvane::test {

enum class DialerStart { Opened, DeviceLocked, LockNotCreated, OpenRefused };

inline const char* DialerStartText(DialerStart start) {
    switch (start) {
    case DialerStart::Opened:
        return "opened";
    case DialerStart::DeviceLocked:
        return "Device is locked";
    case DialerStart::LockNotCreated:
        return "Cannot create lockfile";
    case DialerStart::OpenRefused:
        return "cannot open the device";
    }
    return "?";
}

// For the tests' failure messages.
inline void PrintTo(DialerStart start, std::ostream* out) {
    *out << DialerStartText(start);
}

// minicom's name for the lock of `device` (a path below /dev).
inline std::filesystem::path MinicomLockFile(const std::filesystem::path& lockDir,
                                             const std::string& device) {
    std::string name = device.starts_with("/dev/") ? device.substr(5) : device;
    for (char& c : name)
        if (c == '/')
            c = '_';
    return lockDir / ("LCK.." + name);
}

// Starts as minicom does. Opened: the lock file is this process's and `port` the open device,
// both to be given up with EndLikeMinicom.
inline DialerStart StartLikeMinicom(const std::filesystem::path& lock, const std::string& device,
                                    int& port) {
    port = -1;
    if (const int fd = ::open(lock.c_str(), O_RDONLY); fd >= 0) {
        char text[128];
        const ssize_t n = ::read(fd, text, sizeof text - 1);
        ::close(fd);
        bool stale = false;
        if (n > 0) {
            int pid = -1;
            if (n == 4) {
                std::memcpy(&pid, text, sizeof pid);
            } else {
                text[n] = 0;
                std::sscanf(text, "%d", &pid);
            }
            stale = pid > 0 && ::kill(pid, 0) < 0 && errno == ESRCH;
        }
        if (!stale)
            return DialerStart::DeviceLocked;
        // "Lockfile is stale. Overriding it.." (minicom sleeps a second first)
        ::unlink(lock.c_str());
    }
    const int fd = ::open(lock.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    if (fd < 0)
        return DialerStart::LockNotCreated;
    char text[64];
    const int length =
        std::snprintf(text, sizeof text, "%10ld minicom root\n", static_cast<long>(::getpid()));
    [[maybe_unused]] const ssize_t written = ::write(fd, text, static_cast<std::size_t>(length));
    ::close(fd);
    port = ::open(device.c_str(), O_RDWR | O_NDELAY | O_NOCTTY);
    if (port < 0) {
        ::unlink(lock.c_str());
        return DialerStart::OpenRefused;
    }
    return DialerStart::Opened;
}

inline void EndLikeMinicom(const std::filesystem::path& lock, int port) {
    ::close(port);
    ::unlink(lock.c_str());
}

} // namespace quorvane::test
