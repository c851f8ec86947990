#pragma once
// What the serial tests share: a pseudo-terminal pair, a temporary folder, second processes that
// hold a port, the fake platform calls, a notification window that records what the threads
// post, and the log file's lines.

#include "serial/comm32.h"
#include "serial/posix_ops.h"
#include "support/files.h"
#include "support/process_stats.h"
#include "support/pty.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace quorvane::test {

// A second process, started with fork, that does `hold` and then waits for word from this one.
// End() kills it (whatever it held is left as a killed process leaves it); Release() has it run
// `release` and end. Should this process die first, the other one releases and ends by itself.
class OtherProcess {
public:
    explicit OtherProcess(const std::function<void()>& hold,
                          const std::function<void()>& release = {});
    ~OtherProcess();
    OtherProcess(const OtherProcess&) = delete;
    OtherProcess& operator=(const OtherProcess&) = delete;

    pid_t Pid() const { return pid_; }
    void End();
    // Returns once the process has released and ended.
    void Release();

private:
    pid_t pid_ = -1;
    int command_ = -1; // our end of the pipe the other process waits on
};

// A second process that holds a serial device as a dialer does: its lock file in
// LockDirectory() (its PID as ten characters and a newline, put in place by a link so that it
// is never seen empty), then the device open with an flock on it. Should the lock file be
// another's just then (a probe opening the port), it waits for that file to go. Release()
// removes the lock file, closes the device and ends the process.
class PortHolder {
public:
    explicit PortHolder(const std::string& device);

    pid_t Pid() const { return process_.Pid(); }
    void Release() { process_.Release(); }
    // The lock file of `device` ("LCK.." and the name of the device it leads to).
    static std::filesystem::path LockFile(const std::string& device);

private:
    OtherProcess process_;
};

class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::filesystem::path& Path() const { return path_; }

private:
    std::filesystem::path path_;
};

// Sets an environment variable for the life of the object.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value);
    ~ScopedEnv();

private:
    std::string name_;
    std::optional<std::string> old_;
};

// The platform calls with hooks. A hook that answers nothing lets the system do the call. Hooks
// run on the component's threads: what they share with the test is atomic.
class FakeOps : public PosixOps {
public:
    FakeOps();
    ~FakeOps() override;

    std::function<std::optional<ssize_t>(int fd, void* buffer, std::size_t count)> read;
    std::function<std::optional<ssize_t>(int fd, const void* buffer, std::size_t count)> write;
    std::function<std::optional<int>(pollfd* fds, nfds_t count, int timeoutMs)> poll;
    std::function<std::optional<int>(int fd, TLineCounters* counters)> counters;
    std::function<bool()> eventFdFails;     // errno EMFILE
    std::function<bool()> recordEventFails; // errno ENOMEM
    std::function<int()> threadFails;       // the error number, 0 = create
    std::function<bool(std::size_t)> allocFails;

    std::atomic<int> reads{0}, writes{0}, waits{0};
    std::atomic<bool> blocked{false}; // a thread is inside a wait that may block
    std::vector<std::string> DebugLines();

    ssize_t Read(int fd, void* buffer, std::size_t count) override;
    ssize_t Write(int fd, const void* buffer, std::size_t count) override;
    int Poll(pollfd* fds, nfds_t count, int timeoutMs) override;
    int GetLineCounters(int fd, TLineCounters* counters) override;
    int CreateEventFd() override;
    bool CreateRecordEvent() override;
    int CreateThread(pthread_t* thread, void* (*body)(void*), void* argument) override;
    void* LocalAlloc(std::size_t size) override;
    void DebugOutput(const char* text) override;

private:
    std::mutex mutex_;
    std::vector<std::string> debug_;
};

// A hook's answer for a failed call.
template <class T> std::optional<T> Fail(int code) {
    errno = code;
    return T(-1);
}

// The component's log in a file of its own: set up in the constructor, lines read at the end.
class LogFile {
public:
    explicit LogFile(const std::filesystem::path& path);
    ~LogFile();
    // Closes the log (when open) and returns its lines (split at CR LF).
    std::vector<std::string> Lines();
    const std::filesystem::path& Path() const { return path_; }

private:
    std::filesystem::path path_;
    bool closed_ = false;
};

std::vector<std::string> SplitCrLf(const std::string& text);

// "GetLastError returned: \"<the English text of code>\"".
std::string ErrorText(int code);

// What a notification window received.
struct Received {
    std::vector<std::string> data;
    int hangups = 0;
    std::vector<DWORD> order; // the messages in the order they came
};

// Waits on `handle` and calls `process` until `done` says so or `ms` pass; answers done().
bool PumpUntil(int handle, const std::function<int()>& process, const std::function<bool()>& done,
               int ms);

} // namespace quorvane::test
