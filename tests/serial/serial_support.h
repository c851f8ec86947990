#pragma once
// What the serial tests share: a pseudo-terminal pair, a temporary folder, a second process, the
// fake platform calls with a steady clock that moves only when told, a notification window that
// records what the threads post, and the log file's lines.
//
// Waits end on the event they wait for; their bound, kHangGuardMs, only keeps a broken build
// from hanging and is never reached by a slow machine.

#include "serial/comm32.h"
#include "serial/posix_ops.h"
#include "support/files.h"
#include "support/process_stats.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace quorvane::test {

inline constexpr int kHangGuardMs = 120000;

// Checks `done` until it holds (a state that no descriptor signals); answers done().
bool WaitUntil(const std::function<bool()>& done);

// A pseudo-terminal pair. The slave is set raw (as a modem line is) and left closed.
class Pty {
public:
    Pty();
    ~Pty();
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    int Master() const { return master_; }
    const std::string& SlavePath() const { return slave_; }
    // Opens the slave as the component does (non-blocking); the caller closes it.
    int OpenSlave() const;
    // Writes all of `bytes` to the master.
    void Send(const std::string& bytes) const;
    // Reads from the master until `count` bytes have come.
    std::string Receive(std::size_t count) const;
    // Reads what the master holds now, without waiting.
    std::string ReceiveWaiting() const;
    // Closes the master (the slave hangs up).
    void CloseMaster();

private:
    int master_ = -1;
    std::string slave_;
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

// A second process, started with fork, that does `hold` and then waits to be killed.
class OtherProcess {
public:
    explicit OtherProcess(const std::function<void()>& hold);
    ~OtherProcess();
    OtherProcess(const OtherProcess&) = delete;
    OtherProcess& operator=(const OtherProcess&) = delete;
    pid_t Pid() const { return pid_; }
    // Ends the process and reaps it: its PID is then gone.
    void End();
    // Ends the process without reaping it: a zombie until the object goes.
    void EndAsZombie();

private:
    pid_t pid_ = -1;
    bool reaped_ = false;
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
    std::function<std::optional<int>(const char* from, const char* to)> link;

    std::atomic<int> reads{0}, writes{0}, waits{0};
    std::atomic<bool> blocked{false}; // a thread is inside a wait that may block
    // A thread waits for the port to become readable (the reader, between its bytes).
    std::atomic<bool> readerWaiting{false};
    std::atomic<long> bytesRead{0};  // what reads of the port gave
    std::atomic<long> liveBlocks{0}; // blocks from LocalAlloc not released yet
    std::vector<std::string> DebugLines();

    // From now on the steady clock stands still until AdvanceClock moves it, and a wait with a
    // time-out ends once the clock has passed it.
    void UseFakeClock();
    void AdvanceClock(std::int64_t ms);
    // Looks at the fake clock by a waiting thread that found its time-out not reached yet.
    std::atomic<long> clockLooks{0};

    ssize_t Read(int fd, void* buffer, std::size_t count) override;
    ssize_t Write(int fd, const void* buffer, std::size_t count) override;
    int Poll(pollfd* fds, nfds_t count, int timeoutMs) override;
    int GetLineCounters(int fd, TLineCounters* counters) override;
    int CreateEventFd() override;
    bool CreateRecordEvent() override;
    int CreateThread(pthread_t* thread, void* (*body)(void*), void* argument) override;
    void* LocalAlloc(std::size_t size) override;
    void LocalFree(void* block) override;
    std::int64_t SteadyMs() override;
    int Link(const char* from, const char* to) override;
    void DebugOutput(const char* text) override;

private:
    std::mutex mutex_;
    std::vector<std::string> debug_;
    std::atomic<bool> fakeClock_{false};
    std::atomic<std::int64_t> now_{1000000};
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

// Writes `bytes` as the whole file.
void WriteFile(const std::filesystem::path& path, const std::string& bytes);

// A lock file's text as pppd, minicom and this component write it (HDB): ten characters and a
// newline.
std::string HdbLock(pid_t pid);

// "GetLastError returned: \"<the English text of code>\"".
std::string ErrorText(int code);

// What a notification window received.
struct Received {
    std::vector<std::string> data;
    int hangups = 0;
    std::vector<DWORD> order; // the messages in the order they came
};

// Waits on `handle` and calls `process` until `done` says so; answers done().
bool PumpUntil(int handle, const std::function<int()>& process, const std::function<bool()>& done);

} // namespace quorvane::test
