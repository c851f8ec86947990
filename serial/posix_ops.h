#pragma once
// The platform calls of the serial component, behind one small seam. Everything the port, its
// two threads and its log need from the system that a test cannot provoke on a pseudo-terminal
// goes through here: read, write, poll, the line-error counters, the creation of events and
// threads, and the zero-filled blocks that cross threads. Tests install their own PosixOps to
// drive error codes, zero-byte reads, partial writes and line errors; everything they do not
// override still reaches the system.
//
// Error codes: the "last error" of a thread is an errno value. The two codes the component
// tells apart are matched by meaning: an invalid handle (a vanished or hung-up device: EBADF,
// EIO, ENODEV, ENXIO) and a pending operation (EAGAIN).

#include <poll.h>
#include <pthread.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/types.h>

namespace quorvane {

using DWORD = std::uint32_t;

// The frame, overrun and parity error counters of a serial driver (TIOCGICOUNT), with the
// receive-buffer overflow and break counters that come with them.
struct TLineCounters {
    int frame = 0;
    int overrun = 0;
    int parity = 0;
    int brk = 0;
    int buf_overrun = 0;
    bool operator==(const TLineCounters&) const = default;
};

class PosixOps {
public:
    virtual ~PosixOps() = default;
    // Each returns what the system call returns and leaves errno set on failure.
    virtual ssize_t Read(int fd, void* buffer, std::size_t count);
    virtual ssize_t Write(int fd, const void* buffer, std::size_t count);
    virtual int Poll(pollfd* fds, nfds_t count, int timeoutMs);
    // ioctl(TIOCGICOUNT). ENOTTY or EINVAL: the driver keeps no counters (a pseudo-terminal).
    virtual int GetLineCounters(int fd, TLineCounters* counters);
    // A non-blocking, close-on-exec eventfd (CloseEvent, the writer's queue); -1 on failure.
    virtual int CreateEventFd();
    // The event of a pending-operation record; false (errno set) when it cannot be created.
    virtual bool CreateRecordEvent();
    // pthread_create; answers 0 or the error number.
    virtual int CreateThread(pthread_t* thread, void* (*body)(void*), void* argument);
    // A zero-filled block that may cross threads, released with LocalFree; nullptr (errno set)
    // when there is no memory.
    virtual void* LocalAlloc(std::size_t size);
    virtual void LocalFree(void* block);
    // The steady clock in milliseconds (CLOCK_MONOTONIC): the read interval and the line-error
    // sampling count on it, and a wait's time-out is measured on it.
    virtual std::int64_t SteadyMs();
    // link(2), with which a lock file is taken under its name.
    virtual int Link(const char* from, const char* to);
    // The debug output channel: standard error, only when QUORVANE_DEBUG is set.
    virtual void DebugOutput(const char* text);
};

// The installed operations (the system's unless a test installed others).
PosixOps& Ops();
// Installs `ops` (nullptr: the system's again). Only while no port is open and no thread runs.
void SetPosixOps(PosixOps* ops);

// A zero-filled block from Ops(); on failure nullptr with the last error set (ENOMEM).
void* LocalAlloc(std::size_t size);
void LocalFree(void* block);
void OutputDebugString(const char* text);
void OutputDebugString(const std::string& text);
// The system's English text for an errno value.
std::string StrError(int code);

// The calling thread's last error (an errno value; 0 on a new thread).
DWORD GetLastError();
void SetLastError(DWORD code);

// Error 6 (ERROR_INVALID_HANDLE) on this system: the device has gone or hung up.
bool IsInvalidHandleError(DWORD code);
// Error 997 (ERROR_IO_PENDING) on this system.
inline constexpr DWORD ERROR_IO_PENDING_CODE = 11; // EAGAIN
bool IsPendingError(DWORD code);

} // namespace quorvane
