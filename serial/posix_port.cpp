#include "serial/posix_port.h"

#include "core/store_folder.h"
#include "serial/posix_ops.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <signal.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <termios.h>
#include <unistd.h>

namespace quorvane {

namespace {

struct linux_dirent64 {
    ino64_t d_ino;
    off64_t d_off;
    unsigned short d_reclen;
    unsigned char d_type;
    char d_name[];
};

// "COMn" with n from 1 (any letter case): n, else 0.
long ComNumber(const std::string& name) {
    if (name.size() < 4 || std::toupper(static_cast<unsigned char>(name[0])) != 'C' ||
        std::toupper(static_cast<unsigned char>(name[1])) != 'O' ||
        std::toupper(static_cast<unsigned char>(name[2])) != 'M' || name[3] == '0')
        return 0;
    long n = 0;
    for (std::size_t i = 3; i < name.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(name[i])) || n > 100000)
            return 0;
        n = n * 10 + (name[i] - '0');
    }
    return n;
}

void Debug(const std::string& text) {
    OutputDebugString(text.c_str());
}

// The PID in an HDB lock file (ten characters and a newline; an old binary int is taken too):
// 0 when there is none to be read.
pid_t LockFilePid(const std::string& path, bool& exists) {
    exists = false;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return 0;
    exists = true;
    char text[32] = {};
    const ssize_t n = ::read(fd, text, sizeof text - 1);
    ::close(fd);
    if (n == static_cast<ssize_t>(sizeof(int))) {
        int binary;
        std::memcpy(&binary, text, sizeof binary);
        if (binary > 0)
            return binary;
    }
    if (n <= 0)
        return 0;
    char* end = nullptr;
    const long pid = std::strtol(text, &end, 10);
    return pid > 0 && pid <= INT_MAX ? static_cast<pid_t>(pid) : 0;
}

bool Alive(pid_t pid) {
    return ::kill(pid, 0) == 0 || errno == EPERM;
}

// True when the lock file names a live process other than this one. A stale one is removed.
bool LockedByOther(const std::string& path) {
    bool exists;
    const pid_t pid = LockFilePid(path, exists);
    if (!exists)
        return false;
    if (pid != 0 && pid != ::getpid() && Alive(pid))
        return true;
    if (pid != ::getpid() && ::unlink(path.c_str()) == 0)
        Debug("Removed stale lock file " + path);
    return false;
}

// Creates our lock file without ever showing a half-written one: written under a temporary
// name, then linked. Answers false when another live process got there first; `created` tells
// whether we now hold one (false also when the folder does not let us).
bool CreateLockFile(const std::string& path, bool& created) {
    created = false;
    const std::string temp = path + ".tmp" + std::to_string(::getpid());
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        Debug("No lock file of our own (" + std::string(std::strerror(errno)) + "): " + path);
        return true;
    }
    char text[16];
    const int length = std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(::getpid()));
    const bool written = ::write(fd, text, static_cast<std::size_t>(length)) == length;
    ::close(fd);
    bool free = true;
    if (written) {
        for (int attempt = 0; attempt < 2; ++attempt) {
            if (::link(temp.c_str(), path.c_str()) == 0) {
                created = true;
                break;
            }
            if (errno != EEXIST || LockedByOther(path)) {
                free = errno != EEXIST;
                break;
            }
        }
    }
    ::unlink(temp.c_str());
    return free;
}

// Reads directory entries with getdents64 and calls `each` with every name but "." and "..";
// stops early when `each` answers true. Answers whether it did.
template <class F> bool ForEachEntry(int dir, F&& each) {
    alignas(8) char buffer[16384];
    for (;;) {
        const long n = ::syscall(SYS_getdents64, dir, buffer, sizeof buffer);
        if (n <= 0)
            return false;
        for (long at = 0; at < n;) {
            const auto* entry = reinterpret_cast<const linux_dirent64*>(buffer + at);
            at += entry->d_reclen;
            const char* name = entry->d_name;
            if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))
                continue;
            if (each(name))
                return true;
        }
    }
}

// Whether a process other than this one has a descriptor open on `device` (the path the kernel
// gives for our own descriptor of it), as far as /proc shows: other users' processes are not
// readable without privileges. One directory read per process and one readlink per descriptor.
bool ScanForOpeners(const std::string& device) {
    const int proc = ::open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (proc < 0)
        return false;
    char self[16];
    std::snprintf(self, sizeof self, "%d", static_cast<int>(::getpid()));
    const bool found = ForEachEntry(proc, [&](const char* pid) {
        if (!std::isdigit(static_cast<unsigned char>(pid[0])) || std::strcmp(pid, self) == 0)
            return false;
        char path[300];
        std::snprintf(path, sizeof path, "%s/fd", pid);
        const int fds = ::openat(proc, path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fds < 0)
            return false;
        const bool open = ForEachEntry(fds, [&](const char* fd) {
            char target[PATH_MAX];
            const ssize_t n = ::readlinkat(fds, fd, target, sizeof target);
            return n == static_cast<ssize_t>(device.size()) &&
                   std::memcmp(target, device.data(), device.size()) == 0;
        });
        ::close(fds);
        return open;
    });
    ::close(proc);
    return found;
}

} // namespace

TOpenerWatch::TOpenerWatch() : fd_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {}

TOpenerWatch::~TOpenerWatch() {
    if (fd_ >= 0)
        ::close(fd_);
}

// Reads what inotify has queued; true when it holds an open of the device (or events were lost).
bool TOpenerWatch::Drain() {
    bool opened = false;
    alignas(inotify_event) char buffer[4096];
    for (ssize_t n; (n = ::read(fd_, buffer, sizeof buffer)) > 0;) {
        for (ssize_t at = 0; at < n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            if (event->mask & (IN_Q_OVERFLOW | IN_IGNORED)) {
                watch_ = -1; // the watch is gone: set it again and scan
                device_.clear();
            }
            opened = opened || (event->mask & (IN_OPEN | IN_Q_OVERFLOW | IN_IGNORED));
        }
    }
    return opened;
}

void TOpenerWatch::BeforeOwnOpen(const std::string& device) {
    if (fd_ < 0)
        return;
    if (Drain() || device != device_)
        known_ = false;
    if (device != device_) {
        if (watch_ >= 0)
            ::inotify_rm_watch(fd_, watch_);
        watch_ = ::inotify_add_watch(fd_, device.c_str(), IN_OPEN);
        device_ = watch_ >= 0 ? device : std::string();
        Drain();
    }
}

void TOpenerWatch::AfterOwnOpen() {
    if (fd_ >= 0)
        Drain(); // our own open (an open by someone else just then merges with it)
}

bool TOpenerWatch::OpenElsewhere(const std::string& device) {
    if (!known_ || held_ || watch_ < 0) {
        held_ = ScanForOpeners(device);
        known_ = watch_ >= 0;
    }
    return held_;
}

std::string ResolvePortName(const std::string& name) {
    const long n = ComNumber(name);
    if (n == 0)
        return name;
    const std::filesystem::path link = StoreFolder() / "ports" / ("COM" + std::to_string(n));
    struct stat st;
    if (::lstat(link.c_str(), &st) == 0 && S_ISLNK(st.st_mode))
        return link.string();
    return "/dev/ttyS" + std::to_string(n - 1);
}

std::filesystem::path LockDirectory() {
    if (const char* dir = std::getenv("QUORVANE_LOCK_DIR"); dir && *dir)
        return dir;
    return "/var/lock";
}

TOpenResult TPortHandles::Open(const std::string& portName, TOpenerWatch& watch,
                               std::unique_ptr<TPortHandles>& out) {
    const std::string path = ResolvePortName(portName);
    char device[PATH_MAX];
    if (::realpath(path.c_str(), device) == nullptr)
        return TOpenResult::CannotOpen;
    const char* slash = std::strrchr(device, '/');
    const std::string lockFile =
        (LockDirectory() / ("LCK.." + std::string(slash ? slash + 1 : device))).string();

    // Before the device is touched: a port that a dialer has locked is not even opened.
    if (LockedByOther(lockFile))
        return TOpenResult::CannotOpen;

    watch.BeforeOwnOpen(device);
    const int fd = ::open(device, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    watch.AfterOwnOpen();
    if (fd < 0)
        return TOpenResult::CannotOpen; // missing, no permission, or TIOCEXCL (EBUSY)
    std::unique_ptr<TPortHandles> handles(new TPortHandles);
    handles->port_ = fd;

    struct stat st;
    termios settings;
    if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode) || ::tcgetattr(fd, &settings) != 0)
        return TOpenResult::NotACommHandle;

    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK)
        return TOpenResult::CannotOpen;
    int discipline = N_TTY;
    if (::ioctl(fd, TIOCGETD, &discipline) == 0 && discipline != N_TTY)
        return TOpenResult::CannotOpen;
    if (watch.OpenElsewhere(device))
        return TOpenResult::CannotOpen;
    bool created = false;
    if (!CreateLockFile(lockFile, created))
        return TOpenResult::CannotOpen;
    if (created)
        handles->lockFile_ = lockFile;
    handles->exclusive_ = ::ioctl(fd, TIOCEXCL) == 0;
    out = std::move(handles);
    return TOpenResult::Opened;
}

TPortHandles::~TPortHandles() {
    if (CloseEvent >= 0)
        ::close(CloseEvent);
    if (port_ >= 0) {
        if (exclusive_)
            ::ioctl(port_, TIOCNXCL);
        if (!lockFile_.empty())
            ::unlink(lockFile_.c_str());
        ::close(port_);
    }
}

void TPortHandles::SetBaudRate(int rate) {
    if (rate > 0)
        SetTerminalSpeed(port_, rate);
}

} // namespace quorvane
