#include "serial_support.h"

#include "core/fd.h"
#include "serial/comms_log.h"
#include "serial/posix_port.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <sys/inotify.h>
#include <sys/file.h>
#include <climits>
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

OtherProcess::OtherProcess(const std::function<void()>& hold,
                           const std::function<void()>& release) {
    int ready[2], command[2];
    if (::pipe2(ready, O_CLOEXEC) != 0 || ::pipe2(command, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe");
    pid_ = ::fork();
    if (pid_ < 0)
        throw std::runtime_error("fork");
    if (pid_ == 0) {
        ::close(command[1]);
        hold();
        char c = 1;
        [[maybe_unused]] ssize_t n = ::write(ready[1], &c, 1);
        // A byte, or the end of the pipe when the test process has gone.
        n = ::read(command[0], &c, 1);
        if (release)
            release();
        ::_exit(0);
    }
    ::close(command[0]);
    command_ = command[1];
    char c;
    const ssize_t n = ::read(ready[0], &c, 1);
    ::close(ready[0]);
    ::close(ready[1]);
    EXPECT_EQ(n, 1) << "the other process ended before it held anything";
}

OtherProcess::~OtherProcess() {
    End();
}

void OtherProcess::End() {
    if (!reaped_) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        reaped_ = true;
    }
    if (command_ >= 0)
        ::close(command_);
    command_ = -1;
}

void OtherProcess::EndAsZombie() {
    ::kill(pid_, SIGKILL);
    siginfo_t info;
    ::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOWAIT); // until it has ended
}

void OtherProcess::Release() {
    if (reaped_)
        return;
    const char c = 1;
    EXPECT_EQ(::write(command_, &c, 1), 1);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    reaped_ = true;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    ::close(command_);
    command_ = -1;
}

namespace {

bool ReadAll(int fd, void* data, std::size_t size) {
    auto* at = static_cast<char*>(data);
    while (size > 0) {
        const ssize_t n = ::read(fd, at, size);
        if (n <= 0 && !(n < 0 && errno == EINTR))
            return false;
        if (n > 0) {
            at += n;
            size -= static_cast<std::size_t>(n);
        }
    }
    return true;
}

} // namespace

AnsweringProcess::AnsweringProcess(const std::function<std::string(char)>& answer,
                                   const std::function<void()>& end) {
    int request[2], reply[2];
    if (::pipe2(request, O_CLOEXEC) != 0 || ::pipe2(reply, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe");
    pid_ = ::fork();
    if (pid_ < 0)
        throw std::runtime_error("fork");
    if (pid_ == 0) {
        ::close(request[1]);
        ::close(reply[0]);
        // A request, or the end of the pipe when the object or the test process has gone.
        for (char c; ::read(request[0], &c, 1) == 1;) {
            const std::string said = answer(c);
            const auto length = static_cast<std::uint32_t>(said.size());
            if (!WriteAll(reply[1], &length, sizeof length) ||
                !WriteAll(reply[1], said.data(), said.size()))
                break;
        }
        if (end)
            end();
        ::_exit(0);
    }
    ::close(request[0]);
    ::close(reply[1]);
    request_ = request[1];
    answer_ = reply[0];
}

AnsweringProcess::~AnsweringProcess() {
    ::close(request_);
    ::close(answer_);
    ::waitpid(pid_, nullptr, 0);
}

void AnsweringProcess::Tell(char request) {
    EXPECT_EQ(::write(request_, &request, 1), 1) << "the other process has ended";
}

std::string AnsweringProcess::Answer() {
    std::uint32_t length = 0;
    if (!ReadAll(answer_, &length, sizeof length))
        return {};
    std::string said(length, '\0');
    return ReadAll(answer_, said.data(), length) ? said : std::string();
}

std::filesystem::path PortHolder::LockFile(const std::string& device) {
    char real[PATH_MAX];
    const std::string resolved = ::realpath(device.c_str(), real) ? real : device;
    return LockDirectory() / ("LCK.." + std::filesystem::path(resolved).filename().string());
}

PortHolder::PortHolder(const std::string& device)
    : process_(
          [device] {
              const std::string lock = LockFile(device).string();
              const std::string mine = lock + "." + std::to_string(::getpid());
              char pid[16];
              std::snprintf(pid, sizeof pid, "%10d\n", static_cast<int>(::getpid()));
              const int file = ::open(mine.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
              if (file < 0 || ::write(file, pid, 11) != 11)
                  ::_exit(1);
              ::close(file);
              // Watched before each try, so the removal that frees the name cannot slip by.
              const int removals = ::inotify_init1(IN_CLOEXEC);
              ::inotify_add_watch(removals, LockDirectory().c_str(), IN_DELETE | IN_MOVED_FROM);
              while (::link(mine.c_str(), lock.c_str()) != 0) {
                  if (errno != EEXIST)
                      ::_exit(1);
                  alignas(inotify_event) char events[4096];
                  if (::read(removals, events, sizeof events) <= 0)
                      ::_exit(1);
              }
              ::unlink(mine.c_str());
              ::close(removals);
              const int port = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
              // Blocking: a probe that opened the port just before the lock file came lets go.
              if (port < 0 || ::flock(port, LOCK_EX) != 0)
                  ::_exit(1);
          },
          [device] {
              // The device stays open (with its flock) until the process ends.
              ::unlink(LockFile(device).c_str());
          }) {}

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
    {
        std::lock_guard lock(mutex_);
        debug_.emplace_back(text);
    }
    if (debugged)
        debugged(text);
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
