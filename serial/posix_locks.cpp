#include "serial/posix_locks.h"

#include "serial/posix_dir.h"
#include "serial/posix_ops.h"
#include "serial/posix_port.h"
#include "core/store_folder.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <set>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quorvane {

namespace {

namespace fs = std::filesystem;

// Tries at taking one lock name while others keep leaving stale locks there.
constexpr int kLockTries = 3;

// The lock files that opens of this process hold now: a lock naming this process is live only
// when it is one of these.
std::mutex ownMutex;
std::set<std::string>& OwnLocks() {
    static std::set<std::string> paths;
    return paths;
}

bool IsOwnLock(const std::string& path) {
    std::lock_guard lock(ownMutex);
    return OwnLocks().count(path) != 0;
}

// False when another open of this process holds it already.
bool AddOwnLock(const std::string& path) {
    std::lock_guard lock(ownMutex);
    return OwnLocks().insert(path).second;
}

void RemoveOwnLock(const std::string& path) {
    std::lock_guard lock(ownMutex);
    OwnLocks().erase(path);
}

// Four bytes that are all text are text: a binary PID (below 2^22) always has a zero byte.
bool IsTextByte(char c) {
    return std::isprint(static_cast<unsigned char>(c)) || c == '\t' || c == '\n' || c == '\r';
}

// The PID a lock file's first bytes give, in whichever format they are written; 0 when none.
pid_t LockPid(const char* text, std::size_t n) {
    if (n == sizeof(std::int32_t) && !std::all_of(text, text + n, IsTextByte)) {
        std::int32_t binary;
        std::memcpy(&binary, text, sizeof binary);
        return binary > 0 ? binary : 0;
    }
    std::size_t at = 0;
    while (at < n && (text[at] == ' ' || text[at] == '\t'))
        ++at;
    long pid = 0;
    const std::size_t first = at;
    for (; at < n && std::isdigit(static_cast<unsigned char>(text[at])); ++at) {
        pid = pid * 10 + (text[at] - '0');
        if (pid > INT_MAX)
            return 0;
    }
    return at > first ? static_cast<pid_t>(pid) : 0;
}

// Whether the process has ended: no such process, or a zombie that nobody has reaped yet.
bool ProcessGone(pid_t pid) {
    if (::kill(pid, 0) != 0 && errno == ESRCH)
        return true;
    char path[32];
    std::snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
    const UniqueFd fd(::open(path, O_RDONLY | O_CLOEXEC));
    char line[512];
    const ssize_t n = fd ? ::read(fd.get(), line, sizeof line - 1) : -1;
    if (n <= 0)
        return false; // hidden from us: it exists
    line[n] = 0;
    // "pid (command) S ...": the command may hold blanks and parentheses.
    const char* close = std::strrchr(line, ')');
    return close != nullptr && close[1] == ' ' && (close[2] == 'Z' || close[2] == 'X');
}

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// What one lock file says of its device.
enum class TLockState {
    None,  // no lock file (a stale one was removed)
    Held,  // a live owner, or no owner that can be read
    Stale, // its owner is gone, but the file is not ours to remove (a root dialer's in /run/lock)
};

// Looks at one lock file; `why` says why it holds the device.
TLockState LockHeld(const std::string& path, std::string& why) {
    for (int look = 0; look < kLockTries; ++look) {
        const UniqueFd fd(
            ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
        if (!fd) {
            if (errno == ENOENT)
                return TLockState::None;
            why = "lock file " + path + " cannot be read (" + StrError(errno) + ")";
            return TLockState::Held;
        }
        char text[64];
        const ssize_t n = ::read(fd.get(), text, sizeof text);
        if (n < 0) {
            why = "lock file " + path + " cannot be read (" + StrError(errno) + ")";
            return TLockState::Held;
        }
        const pid_t pid = LockPid(text, static_cast<std::size_t>(n));
        if (pid == 0) {
            why = "lock file " + path + " holds no process number";
            return TLockState::Held;
        }
        const bool self = pid == ::getpid();
        if (self ? IsOwnLock(path) : !ProcessGone(pid)) {
            why = "lock file " + path + " of process " + std::to_string(pid) +
                  (self ? " (this one)" : "");
            return TLockState::Held;
        }
        // Stale. Removed only while it is still the file that was read: another program may
        // have replaced it meanwhile.
        struct stat wasRead, standing;
        if (::fstat(fd.get(), &wasRead) != 0 || ::lstat(path.c_str(), &standing) != 0) {
            if (errno == ENOENT)
                return TLockState::None;
            continue;
        }
        if (!SameFile(wasRead, standing))
            continue;
        if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
            // Its process is gone whether or not the file can go; minicom passes it by too.
            OutputDebugString("Stale lock file " + path + " of process " + std::to_string(pid) +
                              " cannot be removed (" + StrError(errno) + "); it holds nothing");
            return TLockState::Stale;
        }
        OutputDebugString("Removed stale lock file " + path + " of process " + std::to_string(pid));
        return TLockState::None;
    }
    why = "lock file " + path + " keeps changing";
    return TLockState::Held;
}

bool IsDevice(const fs::path& path, dev_t rdev) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode) && st.st_rdev == rdev;
}

bool IsFolder(const fs::path& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void AddName(std::vector<std::string>& names, std::string name) {
    if (!name.empty() && std::find(names.begin(), names.end(), name) == names.end())
        names.push_back(std::move(name));
}

// The names a path below one of the device folders gets: its last part and the path below the
// folder with '/' made '_'.
void AddPathNames(std::vector<std::string>& names, const std::string& path) {
    for (const std::string& root : {std::string("/dev"), DeviceDirectory().string()}) {
        if (path.size() <= root.size() + 1 || path.compare(0, root.size(), root) != 0 ||
            path[root.size()] != '/')
            continue;
        std::string below = path.substr(root.size() + 1);
        AddName(names, below.substr(below.rfind('/') + 1));
        std::replace(below.begin(), below.end(), '/', '_');
        AddName(names, below);
        return;
    }
}

} // namespace

std::vector<std::string> DeviceLockNames(const std::string& given, const std::string& device,
                                         dev_t rdev) {
    std::vector<std::string> names;
    AddName(names, device.substr(device.rfind('/') + 1));
    AddPathNames(names, device);
    AddPathNames(names, given);
    const fs::path root = DeviceDirectory();
    if (IsDevice(root / "modem", rdev))
        AddPathNames(names, (root / "modem").string());
    for (const char* folder : {"serial/by-id", "serial/by-path"}) {
        const fs::path dir = root / folder;
        const UniqueFd fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!fd)
            continue;
        ForEachEntry(fd.get(), [&](const char* link) {
            if (IsDevice(dir / link, rdev))
                AddPathNames(names, (dir / link).string());
            return false;
        });
    }
    return names;
}

bool LockNameIsDevice(const std::string& name, dev_t rdev) {
    if (name.empty() || name == "." || name == "..")
        return false;
    const fs::path root = DeviceDirectory();
    // A name that is a node below /dev means that node; '_' stands for '/' only in a name that
    // is none (LCK..gsm_modem of /dev/gsm_modem is not /dev/gsm/modem).
    if (struct stat st; ::lstat((root / name).c_str(), &st) == 0)
        return IsDevice(root / name, rdev);
    fs::path folder = root;
    std::string part;
    bool split = false;
    for (const char c : name) {
        if (c == '_' && !part.empty() && part != "." && part != ".." && IsFolder(folder / part)) {
            folder /= part;
            part.clear();
            split = true;
        } else {
            part += c;
        }
    }
    if (split && !part.empty() && part != ".." && IsDevice(folder / part, rdev))
        return true;
    return IsDevice(StoreFolder() / "ports" / name, rdev);
}

std::string FindLiveLock(const std::vector<std::string>& names, dev_t rdev) {
    const fs::path dir = LockDirectory();
    std::string why;
    for (const std::string& name : names)
        if (LockHeld((dir / ("LCK.." + name)).string(), why) == TLockState::Held)
            return why;
    const UniqueFd fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd) {
        ForEachEntry(fd.get(), [&](const char* entry) {
            if (std::strncmp(entry, "LCK..", 5) != 0)
                return false;
            const std::string name = entry + 5;
            if (std::find(names.begin(), names.end(), name) != names.end() ||
                !LockNameIsDevice(name, rdev))
                return false;
            return LockHeld((dir / entry).string(), why) == TLockState::Held;
        });
    }
    return why;
}

bool TLockFiles::Take(const std::vector<std::string>& names, std::string& why) {
    Release();
    const fs::path dir = LockDirectory();
    static std::atomic<unsigned> serial{0};
    const std::string temp =
        (dir / ("LTMP." + std::to_string(::getpid()) + "." + std::to_string(serial.fetch_add(1))))
            .string();
    {
        const UniqueFd fd(
            ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644));
        if (!fd) {
            OutputDebugString("No lock file of our own in " + dir.string() + " (" +
                              StrError(errno) + ")");
            return true;
        }
        char text[16];
        const int length = std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(::getpid()));
        struct stat st;
        // Readable by everyone whatever the umask, so another user's dialer sees it is live.
        if (::fchmod(fd.get(), 0644) != 0 ||
            ::write(fd.get(), text, static_cast<std::size_t>(length)) != length ||
            ::fstat(fd.get(), &st) != 0) {
            OutputDebugString("No lock file of our own in " + dir.string() + " (" +
                              StrError(errno) + ")");
            ::unlink(temp.c_str());
            return true;
        }
        dev_ = st.st_dev;
        ino_ = st.st_ino;
    }
    why.clear();
    for (const std::string& name : names) {
        const std::string path = (dir / ("LCK.." + name)).string();
        // Taken, or left without a lock of ours: the folder will not link, or a stale lock that
        // is not ours to remove stands under the name.
        bool settled = false;
        bool held = false;
        for (int attempt = 0; attempt < kLockTries && !settled && !held; ++attempt) {
            if (!AddOwnLock(path)) {
                why = "lock file " + path + " of process " + std::to_string(::getpid()) +
                      " (this one)";
                held = true;
            } else if (Ops().Link(temp.c_str(), path.c_str()) == 0) {
                paths_.push_back(path);
                settled = true;
            } else {
                const int error = errno;
                RemoveOwnLock(path);
                if (error != EEXIST) {
                    OutputDebugString("No lock file " + path + " of our own (" + StrError(error) +
                                      ")");
                    settled = true;
                } else {
                    const TLockState state = LockHeld(path, why);
                    held = state == TLockState::Held;
                    settled = state == TLockState::Stale;
                }
            }
        }
        if (!settled) {
            if (!held)
                why = "lock file " + path + " could not be taken in " + std::to_string(kLockTries) +
                      " tries";
            ::unlink(temp.c_str());
            Release();
            return false;
        }
    }
    ::unlink(temp.c_str());
    return true;
}

void TLockFiles::Release() {
    for (const std::string& path : paths_) {
        // Only while it is still ours: a lock file is never taken from its owner.
        struct stat st;
        if (::lstat(path.c_str(), &st) == 0 && st.st_dev == dev_ && st.st_ino == ino_)
            ::unlink(path.c_str());
        RemoveOwnLock(path);
    }
    paths_.clear();
}

} // namespace quorvane
