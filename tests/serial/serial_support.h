#pragma once
// What the serial tests share: a pseudo-terminal pair, a temporary folder, second processes that
// hold a port, the fake platform calls with a steady clock that moves only when told, a
// notification window that records what the threads post, and the log file's lines.
//
// Waits end on the event they wait for; their bound, kHangGuardMs, only keeps a broken build
// from hanging and is never reached by a slow machine.

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

// Checks `done` until it holds (a state that no descriptor signals); answers done().
bool WaitUntil(const std::function<bool()>& done);

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

    // The process's PID, also once it has ended (a number then free for another process).
    pid_t Pid() const { return pid_; }
    // Ends the process and reaps it: its PID is then gone.
    void End();
    // Ends the process without reaping it: a zombie until End or the object's end.
    void EndAsZombie();
    // Returns once the process has released and ended.
    void Release();

private:
    pid_t pid_ = -1;
    bool reaped_ = false;
    int command_ = -1; // our end of the pipe the other process waits on
};

// A second process, started with fork, that answers requests: each request (a byte) is answered
// with what `answer` gives for it, in the other process. When the object ends (or this process
// dies), the other runs `end` and ends.
class AnsweringProcess {
public:
    explicit AnsweringProcess(const std::function<std::string(char request)>& answer,
                              const std::function<void()>& end = {});
    ~AnsweringProcess();
    AnsweringProcess(const AnsweringProcess&) = delete;
    AnsweringProcess& operator=(const AnsweringProcess&) = delete;

    pid_t Pid() const { return pid_; }
    // Sends a request; Answer waits for its answer ("" when the process has ended). Two
    // processes told one after the other go to work together.
    void Tell(char request);
    std::string Answer();
    std::string Ask(char request) {
        Tell(request);
        return Answer();
    }

private:
    pid_t pid_ = -1;
    int request_ = -1; // our ends of the two pipes
    int answer_ = -1;
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
    // Called with each debug line (on the thread that wrote it), after it is kept.
    std::function<void(const std::string& line)> debugged;

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
