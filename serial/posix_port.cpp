#include "serial/posix_port.h"

#include "serial/posix_dir.h"
#include "serial/posix_ops.h"
#include "serial/posix_overlapped.h"
#include "core/store_folder.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace quorvane {

namespace {

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

// An open that fails with one of these finds no port to use, rather than a port in use.
bool NotPresentError(int code) {
    switch (code) {
    case ENOENT:
    case ENOTDIR:
    case ELOOP:
    case ENAMETOOLONG:
    case ENXIO:
    case ENODEV:
    case EIO: // a serial node without a UART behind it, a pseudo-terminal not yet unlocked
    case EACCES:
    case EPERM:
        return true;
    default:
        return false;
    }
}

// Whether a process other than this one has a descriptor open on the device `rdev`, as far as
// /proc shows (other users' processes are not readable without privileges): its PID, else 0.
// One folder read per process and one stat per descriptor; the stat never waits for a network
// file system to answer.
pid_t ScanForOpeners(dev_t rdev) {
    const UniqueFd proc(::open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!proc)
        return 0;
    const pid_t self = ::getpid();
    pid_t found = 0;
    ForEachEntry(proc.get(), [&](const char* name) {
        if (!std::isdigit(static_cast<unsigned char>(name[0])))
            return false;
        const pid_t pid = static_cast<pid_t>(std::atoi(name));
        if (pid == self)
            return false;
        char path[300];
        std::snprintf(path, sizeof path, "%s/fd", name);
        const UniqueFd fds(::openat(proc.get(), path, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!fds)
            return false;
        const bool open = ForEachEntry(fds.get(), [&](const char* fd) {
            struct statx st;
            return ::statx(fds.get(), fd, AT_STATX_DONT_SYNC, STATX_TYPE, &st) == 0 &&
                   S_ISCHR(st.stx_mode) && makedev(st.stx_rdev_major, st.stx_rdev_minor) == rdev;
        });
        if (open)
            found = pid;
        return open;
    });
    return found;
}

// The process holding the flock on the open file `fd`, from /proc/locks; 0 when not found.
pid_t FlockHolder(int fd) {
    struct stat st;
    if (::fstat(fd, &st) != 0)
        return 0;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> locks(std::fopen("/proc/locks", "re"),
                                                          &std::fclose);
    if (!locks)
        return 0;
    char line[256];
    while (std::fgets(line, sizeof line, locks.get())) {
        int pid;
        unsigned major, minor;
        unsigned long inode;
        if (std::sscanf(line, "%*d: FLOCK %*s %*s %d %x:%x:%lu", &pid, &major, &minor, &inode) ==
                4 &&
            makedev(major, minor) == st.st_dev && inode == st.st_ino)
            return pid;
    }
    return 0;
}

// How long an open waits for another open of the same device to end. A check holds a port for
// well under a millisecond; only a program that keeps it open for good is waited for this long.
constexpr int kTurnWaitMs = 500;

std::string ByProcess(pid_t pid) {
    return pid > 0 ? " by process " + std::to_string(pid) : "";
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

pid_t TOpenerWatch::OpenElsewhere(dev_t rdev) {
    if (fd_ >= 0 && Drain())
        known_ = false; // someone opened it since our own open
    if (!known_ || holder_ != 0 || watch_ < 0) {
        holder_ = ScanForOpeners(rdev);
        known_ = watch_ >= 0;
    }
    return holder_;
}

std::string ResolvePortName(const std::string& name) {
    const long n = ComNumber(name);
    if (n == 0)
        return name;
    const std::filesystem::path link = StoreFolder() / "ports" / ("COM" + std::to_string(n));
    struct stat st;
    if (::lstat(link.c_str(), &st) == 0 && S_ISLNK(st.st_mode))
        return link.string();
    return (DeviceDirectory() / ("ttyS" + std::to_string(n - 1))).string();
}

std::filesystem::path LockDirectory() {
    if (const char* dir = std::getenv("QUORVANE_LOCK_DIR"); dir && *dir)
        return dir;
    return "/var/lock";
}

std::filesystem::path DeviceDirectory() {
    if (const char* dir = std::getenv("QUORVANE_DEV_DIR"); dir && *dir)
        return dir;
    return "/dev";
}

TOpenResult TPortHandles::Open(const std::string& portName, TOpenerWatch& watch,
                               std::unique_ptr<TPortHandles>& out) {
    const std::string path = ResolvePortName(portName);
    std::unique_ptr<TPortHandles> handles(new TPortHandles);
    handles->name_ = portName + " (" + path + ")";
    const auto refuse = [&handles](TOpenResult result, const std::string& why) {
        OutputDebugString(handles->name_ + why);
        return result;
    };
    char device[PATH_MAX];
    if (::realpath(path.c_str(), device) == nullptr) {
        const int error = errno;
        return refuse(NotPresentError(error) ? TOpenResult::NotPresent : TOpenResult::CannotOpen,
                      " is not present: " + StrError(error));
    }
    handles->name_ = portName + " (" + device + ")";
    struct stat st;
    if (::stat(device, &st) != 0)
        return refuse(TOpenResult::NotPresent, " is not present: " + StrError(errno));
    if (S_ISCHR(st.st_mode)) {
        handles->turn_ = TDeviceTurn::Take(st.st_rdev, kTurnWaitMs);
        handles->lockNames_ = DeviceLockNames(path, device, st.st_rdev);
        // Before the device is touched: a port that a dialer has locked is not even opened.
        if (const std::string why = FindLiveLock(handles->lockNames_, st.st_rdev); !why.empty())
            return refuse(TOpenResult::CannotOpen, " is held: " + why);
    }

    watch.BeforeOwnOpen(device);
    const int fd = ::open(device, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    const int openError = errno;
    watch.AfterOwnOpen();
    if (fd < 0) {
        if (openError == EBUSY)
            return refuse(TOpenResult::CannotOpen, " is held: TIOCEXCL refused the open" +
                                                       ByProcess(ScanForOpeners(st.st_rdev)));
        if (NotPresentError(openError))
            return refuse(TOpenResult::NotPresent,
                          " is not present: it cannot be opened (" + StrError(openError) + ")");
        return refuse(TOpenResult::CannotOpen, " cannot be opened (" + StrError(openError) + ")");
    }
    handles->port_ = fd;

    termios settings;
    if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode) || ::tcgetattr(fd, &settings) != 0)
        return refuse(TOpenResult::NotACommHandle, " is not a terminal device");
    handles->rdev_ = st.st_rdev;

    // Looked at, not kept: the flock is taken with the rest in Claim.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK)
        return refuse(TOpenResult::CannotOpen,
                      " is held: flock is taken" + ByProcess(FlockHolder(fd)));
    ::flock(fd, LOCK_UN);
    int discipline = N_TTY;
    if (::ioctl(fd, TIOCGETD, &discipline) == 0 && discipline != N_TTY)
        return refuse(TOpenResult::CannotOpen, " is held: line discipline " +
                                                   std::to_string(discipline) + " is set" +
                                                   ByProcess(ScanForOpeners(st.st_rdev)));
    if (const pid_t other = watch.OpenElsewhere(st.st_rdev))
        return refuse(TOpenResult::CannotOpen,
                      " is held: process " + std::to_string(other) + " has it open");
    out = std::move(handles);
    return TOpenResult::Opened;
}

bool TPortHandles::Claim(TOpenerWatch& watch) {
    const auto refuse = [this](const std::string& why) {
        OutputDebugString(name_ + " is held: " + why);
        return false;
    };
    // Whoever opened the device since the look in Open (inotify says whether anybody did).
    if (const pid_t other = watch.OpenElsewhere(rdev_))
        return refuse("process " + std::to_string(other) + " has it open");
    if (::flock(port_, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK)
        return refuse("flock is taken" + ByProcess(FlockHolder(port_)));
    if (std::string why; !locks_.Take(lockNames_, why))
        return refuse(why);
    exclusive_ = ::ioctl(port_, TIOCEXCL) == 0;
    return true;
}

void TPortHandles::LetGo() {
    if (letGo_)
        return;
    letGo_ = true;
    LetGoOfPort(port_);
    if (exclusive_)
        ::ioctl(port_, TIOCNXCL);
    exclusive_ = false;
    ::flock(port_, LOCK_UN);
    locks_.Release();
}

TPortHandles::~TPortHandles() {
    if (CloseEvent >= 0)
        ::close(CloseEvent);
    if (port_ >= 0) {
        if (exclusive_)
            ::ioctl(port_, TIOCNXCL);
        ForgetPort(port_);
        ::close(port_);
    }
    // Only after the port is let go: until then a dialer must still see it as held.
    locks_.Release();
}

void TPortHandles::SetBaudRate(int rate) {
    if (rate > 0)
        SetTerminalSpeed(port_, rate);
}

} // namespace quorvane
