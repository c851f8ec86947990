#include "serial/posix_ops.h"

#include "core/clock.h"
#include "core/host.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <linux/serial.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace quorvane {

static_assert(ERROR_IO_PENDING_CODE == EAGAIN);

ssize_t PosixOps::Read(int fd, void* buffer, std::size_t count) {
    return ::read(fd, buffer, count);
}

ssize_t PosixOps::Write(int fd, const void* buffer, std::size_t count) {
    return ::write(fd, buffer, count);
}

int PosixOps::Poll(pollfd* fds, nfds_t count, int timeoutMs) {
    return ::poll(fds, count, timeoutMs);
}

int PosixOps::GetLineCounters(int fd, TLineCounters* counters) {
    serial_icounter_struct icount{};
    if (::ioctl(fd, TIOCGICOUNT, &icount) != 0)
        return -1;
    counters->frame = icount.frame;
    counters->overrun = icount.overrun;
    counters->parity = icount.parity;
    counters->brk = icount.brk;
    counters->buf_overrun = icount.buf_overrun;
    return 0;
}

int PosixOps::CreateEventFd() {
    return ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

bool PosixOps::CreateRecordEvent() {
    return true;
}

int PosixOps::CreateThread(pthread_t* thread, void* (*body)(void*), void* argument) {
    return ::pthread_create(thread, nullptr, body, argument);
}

void* PosixOps::LocalAlloc(std::size_t size) {
    return std::calloc(1, size == 0 ? 1 : size);
}

void PosixOps::LocalFree(void* block) {
    std::free(block);
}

std::int64_t PosixOps::SteadyMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(SteadyNow().time_since_epoch())
        .count();
}

int PosixOps::Link(const char* from, const char* to) {
    return ::link(from, to);
}

void PosixOps::DebugOutput(const char* text) {
    quorvane::DebugOutput(text);
}

namespace {
PosixOps systemOps;
std::atomic<PosixOps*> installed{&systemOps};
thread_local DWORD lastError = 0;
} // namespace

PosixOps& Ops() {
    return *installed.load(std::memory_order_acquire);
}

void SetPosixOps(PosixOps* ops) {
    installed.store(ops ? ops : &systemOps, std::memory_order_release);
}

void* LocalAlloc(std::size_t size) {
    errno = 0;
    void* block = Ops().LocalAlloc(size);
    if (block == nullptr)
        SetLastError(errno != 0 ? errno : ENOMEM);
    return block;
}

void LocalFree(void* block) {
    Ops().LocalFree(block);
}

void OutputDebugString(const char* text) {
    Ops().DebugOutput(text);
}

void OutputDebugString(const std::string& text) {
    Ops().DebugOutput(text.c_str());
}

std::string StrError(int code) {
    return std::strerror(code);
}

DWORD GetLastError() {
    return lastError;
}

void SetLastError(DWORD code) {
    lastError = code;
}

bool IsInvalidHandleError(DWORD code) {
    return code == EBADF || code == EIO || code == ENODEV || code == ENXIO;
}

bool IsPendingError(DWORD code) {
    return code == EAGAIN;
}

} // namespace quorvane
