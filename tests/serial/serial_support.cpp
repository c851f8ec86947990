#include "serial_support.h"

#include "serial/comms_log.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/eventfd.h>
#include <sys/wait.h>
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

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "quorvane-serial-XXXXXX");
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("mkdtemp");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

ScopedEnv::ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name))
        old_ = old;
    ::setenv(name, value.c_str(), 1);
}

ScopedEnv::~ScopedEnv() {
    if (old_)
        ::setenv(name_.c_str(), old_->c_str(), 1);
    else
        ::unsetenv(name_.c_str());
}

OtherProcess::OtherProcess(const std::function<void()>& hold) {
    int ready[2];
    if (::pipe(ready) != 0)
        throw std::runtime_error("pipe");
    pid_ = ::fork();
    if (pid_ == 0) {
        hold();
        char c = 1;
        [[maybe_unused]] ssize_t n = ::write(ready[1], &c, 1);
        for (;;)
            ::pause();
    }
    ::close(ready[1]);
    char c;
    const ssize_t n = ::read(ready[0], &c, 1); // until `hold` is done
    ::close(ready[0]);
    if (pid_ < 0 || n != 1)
        throw std::runtime_error("the second process did not start");
}

OtherProcess::~OtherProcess() {
    if (!reaped_)
        End();
}

void OtherProcess::End() {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    reaped_ = true;
}

void OtherProcess::EndAsZombie() {
    ::kill(pid_, SIGKILL);
    siginfo_t info;
    ::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOWAIT); // until it has ended
}

bool WaitUntil(const std::function<bool()>& done) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kHangGuardMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return done();
        ::usleep(1000);
    }
    return true;
}

FakeOps::FakeOps() {
    SetPosixOps(this);
}

FakeOps::~FakeOps() {
    SetPosixOps(nullptr);
}

std::vector<std::string> FakeOps::DebugLines() {
    std::lock_guard lock(mutex_);
    return debug_;
}

ssize_t FakeOps::Read(int fd, void* buffer, std::size_t count) {
    ++reads;
    if (read)
        if (auto r = read(fd, buffer, count))
            return *r;
    const ssize_t n = PosixOps::Read(fd, buffer, count);
    if (n > 0)
        bytesRead += n;
    return n;
}

ssize_t FakeOps::Write(int fd, const void* buffer, std::size_t count) {
    ++writes;
    if (write)
        if (auto r = write(fd, buffer, count))
            return *r;
    return PosixOps::Write(fd, buffer, count);
}

int FakeOps::Poll(pollfd* fds, nfds_t count, int timeoutMs) {
    if (timeoutMs != 0)
        ++waits;
    if (poll)
        if (auto r = poll(fds, count, timeoutMs))
            return *r;
    if (timeoutMs == 0)
        return PosixOps::Poll(fds, count, timeoutMs);
    const bool reader = std::any_of(
        fds, fds + count, [](const pollfd& p) { return (p.events & POLLIN) && ::isatty(p.fd); });
    blocked = true;
    if (reader)
        readerWaiting = true;
    int r;
    if (fakeClock_ && timeoutMs > 0) {
        // The time-out in fake time: short real waits, each followed by a look at the clock.
        const std::int64_t end = now_ + timeoutMs;
        while ((r = PosixOps::Poll(fds, count, 2)) == 0) {
            if (now_ >= end)
                break;
            ++clockLooks;
        }
    } else {
        r = PosixOps::Poll(fds, count, timeoutMs);
    }
    const int code = errno;
    if (reader)
        readerWaiting = false;
    blocked = false;
    errno = code;
    return r;
}

void FakeOps::UseFakeClock() {
    fakeClock_ = true;
}

void FakeOps::AdvanceClock(std::int64_t ms) {
    now_ += ms;
}

std::int64_t FakeOps::SteadyMs() {
    return fakeClock_ ? now_.load() : PosixOps::SteadyMs();
}

int FakeOps::Link(const char* from, const char* to) {
    if (link)
        if (auto r = link(from, to))
            return *r;
    return PosixOps::Link(from, to);
}

int FakeOps::GetLineCounters(int fd, TLineCounters* out) {
    if (counters)
        if (auto r = counters(fd, out))
            return *r;
    return PosixOps::GetLineCounters(fd, out);
}

int FakeOps::CreateEventFd() {
    if (eventFdFails && eventFdFails()) {
        errno = EMFILE;
        return -1;
    }
    return PosixOps::CreateEventFd();
}

bool FakeOps::CreateRecordEvent() {
    if (recordEventFails && recordEventFails()) {
        errno = ENOMEM;
        return false;
    }
    return true;
}

int FakeOps::CreateThread(pthread_t* thread, void* (*body)(void*), void* argument) {
    if (threadFails)
        if (const int error = threadFails())
            return error;
    return PosixOps::CreateThread(thread, body, argument);
}

void* FakeOps::LocalAlloc(std::size_t size) {
    if (allocFails && allocFails(size)) {
        errno = ENOMEM;
        return nullptr;
    }
    void* block = PosixOps::LocalAlloc(size);
    if (block != nullptr)
        ++liveBlocks;
    return block;
}

void FakeOps::LocalFree(void* block) {
    if (block != nullptr)
        --liveBlocks;
    PosixOps::LocalFree(block);
}

void FakeOps::DebugOutput(const char* text) {
    std::lock_guard lock(mutex_);
    debug_.emplace_back(text);
}

LogFile::LogFile(const std::filesystem::path& path) : path_(path) {
    SetCommsLogName(path_.string());
    OpenCommsLog(path_.string());
}

LogFile::~LogFile() {
    if (!closed_) {
        try {
            CloseCommsLog();
        } catch (const EInOutError&) {
        }
    }
    SetCommsLogName("");
}

std::vector<std::string> LogFile::Lines() {
    if (!closed_) {
        closed_ = true;
        try {
            CloseCommsLog();
        } catch (const EInOutError&) {
        }
    }
    return SplitCrLf(ReadBytes(path_));
}

std::vector<std::string> SplitCrLf(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t at; (at = text.find("\r\n", start)) != std::string::npos; start = at + 2)
        lines.push_back(text.substr(start, at - start));
    if (start < text.size())
        lines.push_back(text.substr(start) + "<no line break>");
    return lines;
}

void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    if (!out.flush())
        throw std::runtime_error("cannot write " + path.string());
}

std::string HdbLock(pid_t pid) {
    char text[16];
    std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(pid));
    return text;
}

std::string ErrorText(int code) {
    return std::string("GetLastError returned: \"") + ::strerror(code) + "\"";
}

bool PumpUntil(int handle, const std::function<int()>& process, const std::function<bool()>& done) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kHangGuardMs);
    while (!done()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return done();
        pollfd fd{handle, POLLIN, 0};
        ::poll(&fd, 1, static_cast<int>(left.count() < 20 ? left.count() : 20));
        process();
    }
    return true;
}

} // namespace quorvane::test
