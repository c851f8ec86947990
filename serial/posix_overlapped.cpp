#include "serial/posix_overlapped.h"

#include <cerrno>
#include <cstdint>
#include <mutex>
#include <set>
#include <termios.h>
#include <unistd.h>

namespace quorvane {

namespace {

constexpr short kPortWake = POLLIN | POLLOUT | POLLERR | POLLHUP;

bool NoCounters(int code) {
    return code == ENOTTY || code == EINVAL;
}

// A line event since `base`: EV_ERR when an error counter rose, 0 when the counters changed
// otherwise (the driver started them again), -1 when nothing changed.
long long LineEvent(const TLineCounters& base, const TLineCounters& now) {
    if (now.frame > base.frame || now.overrun > base.overrun || now.parity > base.parity)
        return EV_ERR;
    if (now.frame != base.frame || now.overrun != base.overrun || now.parity != base.parity)
        return 0;
    return -1;
}

// The ports let go, and the lock that every read, write and purge of a port holds.
std::mutex portsMutex;
std::set<int>& LetGoPorts() {
    static std::set<int> ports;
    return ports;
}

// Runs `io` on the port `fd` (answering what it answers, with its errno) unless the port has
// been let go; then answers `letGo` with errno EAGAIN.
template <class Io> auto PortIo(int fd, Io io, decltype(io()) letGo) {
    std::unique_lock lock(portsMutex);
    if (LetGoPorts().count(fd) != 0) {
        lock.unlock();
        errno = EAGAIN;
        return letGo;
    }
    const auto result = io();
    const int code = errno;
    lock.unlock();
    errno = code;
    return result;
}

ssize_t PortRead(int fd, void* buffer, std::size_t count) {
    const auto read = [&] { return Ops().Read(fd, buffer, count); };
    return PortIo(fd, read, ssize_t(-1));
}

ssize_t PortWrite(int fd, const void* data, std::size_t count) {
    const auto write = [&] { return Ops().Write(fd, data, count); };
    return PortIo(fd, write, ssize_t(-1));
}

enum class PollResult { Ready, Interrupted, Failed };

// A poll of the stop event and the port, as a wait sees it: Failed (with the last error set) for
// an error or a descriptor that is no longer open, Interrupted when it should simply be retried.
PollResult CheckPoll(int result, const pollfd (&fds)[2]) {
    if (result < 0) {
        if (errno == EINTR)
            return PollResult::Interrupted;
        SetLastError(static_cast<DWORD>(errno));
        return PollResult::Failed;
    }
    if ((fds[0].revents | fds[1].revents) & POLLNVAL) {
        SetLastError(EBADF);
        return PollResult::Failed;
    }
    return PollResult::Ready;
}

} // namespace

std::int64_t SteadyMs() {
    return Ops().SteadyMs();
}

bool CreateRecordEvent() {
    errno = 0;
    if (Ops().CreateRecordEvent())
        return true;
    SetLastError(errno != 0 ? errno : ENOMEM);
    return false;
}

// ---- read ----

short TReadOverlapped::PollEvents() const {
    return Event ? 0 : POLLIN;
}

std::int64_t TReadOverlapped::Deadline() const {
    return !Event && got_ > 0 ? deadline_ : -1;
}

void TReadOverlapped::Advance(int fd, short revents, std::int64_t nowMs) {
    if (revents & (POLLIN | POLLERR | POLLHUP)) {
        const ssize_t n = PortRead(fd, buffer_ + got_, capacity_ - got_);
        if (n > 0) {
            got_ += static_cast<DWORD>(n);
            deadline_ = nowMs + kReadIntervalTimeoutMs;
            if (got_ == capacity_)
                return Complete(0);
        } else if (n == 0) {
            return Complete(0); // end of file: what came so far, or an empty completion
        } else if (errno != EAGAIN && errno != EINTR) {
            // Bytes already read are delivered first; the next read meets the error again.
            return Complete(got_ > 0 ? 0 : errno);
        }
    }
    if (got_ > 0 && nowMs >= deadline_)
        Complete(0);
}

bool ReadFile(int fd, void* buffer, DWORD count, DWORD* bytesRead, TReadOverlapped& record) {
    record.Event = false;
    record.Error = 0;
    record.buffer_ = static_cast<unsigned char*>(buffer);
    record.capacity_ = count;
    record.got_ = 0;
    record.deadline_ = -1;
    const ssize_t n = PortRead(fd, buffer, count);
    if (n < 0) {
        const int code = errno;
        if (code == EAGAIN || code == EINTR) {
            SetLastError(ERROR_IO_PENDING_CODE);
            return false;
        }
        record.Complete(static_cast<DWORD>(code));
        SetLastError(static_cast<DWORD>(code));
        return false;
    }
    record.got_ = static_cast<DWORD>(n);
    if (record.got_ == count || n == 0) {
        record.Complete(0);
        *bytesRead = record.got_;
        return true;
    }
    record.deadline_ = SteadyMs() + kReadIntervalTimeoutMs;
    SetLastError(ERROR_IO_PENDING_CODE);
    return false;
}

bool GetOverlappedResult(TOverlapped& record) {
    if (!record.Event) {
        SetLastError(EINPROGRESS);
        return false;
    }
    if (record.Error != 0) {
        SetLastError(record.Error);
        return false;
    }
    return true;
}

bool GetOverlappedResult(TReadOverlapped& record, DWORD* bytesRead) {
    if (!GetOverlappedResult(static_cast<TOverlapped&>(record)))
        return false;
    *bytesRead = record.got_;
    return true;
}

// ---- write ----

short TWriteOverlapped::PollEvents() const {
    return Event ? 0 : POLLOUT;
}

void TWriteOverlapped::Advance(int fd, short revents, std::int64_t) {
    if (!(revents & (POLLOUT | POLLERR | POLLHUP)))
        return;
    const ssize_t n = PortWrite(fd, data_, count_);
    if (n >= 0) {
        written_ = static_cast<DWORD>(n);
        Complete(0);
    } else if (errno != EAGAIN && errno != EINTR) {
        Complete(static_cast<DWORD>(errno));
    }
}

bool WriteFile(int fd, const void* data, DWORD count, DWORD* written, TWriteOverlapped& record) {
    record.Event = false;
    record.Error = 0;
    record.data_ = static_cast<const unsigned char*>(data);
    record.count_ = count;
    record.written_ = 0;
    const ssize_t n = PortWrite(fd, data, count);
    if (n >= 0) {
        record.written_ = static_cast<DWORD>(n);
        record.Complete(0);
        *written = record.written_;
        return true;
    }
    const int code = errno;
    if (code == EAGAIN || code == EINTR) {
        SetLastError(ERROR_IO_PENDING_CODE);
        return false;
    }
    record.Complete(static_cast<DWORD>(code));
    SetLastError(static_cast<DWORD>(code));
    return false;
}

bool GetOverlappedResult(TWriteOverlapped& record, DWORD* written) {
    if (!GetOverlappedResult(static_cast<TOverlapped&>(record)))
        return false;
    *written = record.written_;
    return true;
}

// ---- line events ----

bool SetCommMask(int fd, DWORD mask, TCommLine& line) {
    TLineCounters counters;
    if (Ops().GetLineCounters(fd, &counters) != 0) {
        if (!NoCounters(errno)) {
            SetLastError(static_cast<DWORD>(errno));
            return false;
        }
        line = TCommLine{};
        line.Mask = mask;
        return true;
    }
    line.Mask = mask;
    line.HasCounters = true;
    line.EventBase = counters;
    line.ClearBase = counters;
    return true;
}

// Looks at the counters; true when the wait has completed (with an event or an error).
bool TCommEventOverlapped::Sample(int fd) {
    TLineCounters counters;
    if (Ops().GetLineCounters(fd, &counters) != 0) {
        const int code = errno;
        if (NoCounters(code)) {
            line_->HasCounters = false;
            return false;
        }
        Complete(static_cast<DWORD>(code));
        return true;
    }
    const long long event = LineEvent(line_->EventBase, counters);
    if (event < 0 || (event != 0 && !(line_->Mask & EV_ERR)))
        return false;
    line_->EventBase = counters;
    *mask_ = static_cast<DWORD>(event);
    Complete(0);
    return true;
}

std::int64_t TCommEventOverlapped::Deadline() const {
    return !Event && line_ && line_->HasCounters ? nextSample_ : -1;
}

void TCommEventOverlapped::Advance(int fd, short, std::int64_t nowMs) {
    if (!line_->HasCounters)
        return;
    nextSample_ = nowMs + kLineErrorSampleMs;
    Sample(fd);
}

bool WaitCommEvent(int fd, DWORD* mask, TCommEventOverlapped& record, TCommLine& line) {
    record.Event = false;
    record.Error = 0;
    record.mask_ = mask;
    record.line_ = &line;
    record.nextSample_ = SteadyMs() + kLineErrorSampleMs;
    if (line.HasCounters && record.Sample(fd)) {
        if (record.Error != 0) {
            SetLastError(record.Error);
            return false;
        }
        return true;
    }
    SetLastError(ERROR_IO_PENDING_CODE);
    return false;
}

bool GetOverlappedResult(TCommEventOverlapped& record) {
    return GetOverlappedResult(static_cast<TOverlapped&>(record));
}

bool ClearCommError(int fd, DWORD* errors, TCommLine& line) {
    TLineCounters counters;
    if (Ops().GetLineCounters(fd, &counters) != 0) {
        if (!NoCounters(errno)) {
            SetLastError(static_cast<DWORD>(errno));
            return false;
        }
        *errors = 0;
        return true;
    }
    const TLineCounters& base = line.ClearBase;
    DWORD flags = 0;
    if (counters.buf_overrun > base.buf_overrun)
        flags |= CE_RXOVER;
    if (counters.overrun > base.overrun)
        flags |= CE_OVERRUN;
    if (counters.parity > base.parity)
        flags |= CE_RXPARITY;
    if (counters.frame > base.frame)
        flags |= CE_FRAME;
    if (counters.brk > base.brk)
        flags |= CE_BREAK;
    line.ClearBase = counters;
    *errors = flags;
    return true;
}

bool PurgeComm(int fd, DWORD flags) {
    const bool in = flags & PURGE_RXCLEAR;
    const bool out = flags & PURGE_TXCLEAR;
    if (!in && !out)
        return true;
    const int queue = in && out ? TCIOFLUSH : in ? TCIFLUSH : TCOFLUSH;
    const auto flush = [&] { return ::tcflush(fd, queue) == 0; };
    return PortIo(fd, flush, true);
}

void LetGoOfPort(int fd) {
    std::lock_guard lock(portsMutex);
    ::tcflush(fd, TCIOFLUSH);
    LetGoPorts().insert(fd);
}

void ForgetPort(int fd) {
    std::lock_guard lock(portsMutex);
    LetGoPorts().erase(fd);
}

// ---- events and waits ----

bool SetEvent(int event) {
    const std::uint64_t one = 1;
    return ::write(event, &one, sizeof one) == sizeof one;
}

DWORD PollEvent(int event) {
    pollfd fd{event, POLLIN, 0};
    const int r = Ops().Poll(&fd, 1, 0);
    if (r < 0 || (fd.revents & POLLNVAL)) {
        SetLastError(r < 0 ? static_cast<DWORD>(errno) : EBADF);
        return WAIT_FAILED;
    }
    return (fd.revents & POLLIN) ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
}

DWORD WaitForPort(int stopEvent, int port, std::initializer_list<TOverlapped*> records) {
    for (;;) {
        bool signalled = false;
        short wanted = 0;
        std::int64_t deadline = -1;
        for (TOverlapped* record : records) {
            if (record->Event) {
                signalled = true;
                continue;
            }
            wanted |= record->PollEvents();
            const std::int64_t d = record->Deadline();
            if (d >= 0 && (deadline < 0 || d < deadline))
                deadline = d;
        }
        int timeout = -1;
        if (signalled) {
            timeout = 0;
        } else if (deadline >= 0) {
            const std::int64_t left = deadline - SteadyMs();
            timeout = left > 0 ? static_cast<int>(left) : 0;
        }
        pollfd fds[2] = {{stopEvent, POLLIN, 0}, {port, wanted, 0}};
        const int r = Ops().Poll(fds, wanted ? 2 : 1, timeout);
        if (const PollResult result = CheckPoll(r, fds); result != PollResult::Ready) {
            if (result == PollResult::Interrupted)
                continue;
            return WAIT_FAILED;
        }
        if (fds[0].revents & POLLIN)
            return WAIT_OBJECT_0;
        const std::int64_t now = SteadyMs();
        DWORD index = 1;
        for (TOverlapped* record : records) {
            if (!record->Event)
                record->Advance(port, fds[1].revents & kPortWake, now);
            if (record->Event)
                return WAIT_OBJECT_0 + index;
            ++index;
        }
        if (r == 0 && timeout < 0)
            return WAIT_TIMEOUT;
    }
}

DWORD WaitForEvents(int first, int second) {
    for (;;) {
        pollfd fds[2] = {{first, POLLIN, 0}, {second, POLLIN, 0}};
        if (const PollResult result = CheckPoll(Ops().Poll(fds, 2, -1), fds);
            result != PollResult::Ready) {
            if (result == PollResult::Interrupted)
                continue;
            return WAIT_FAILED;
        }
        if (fds[0].revents & POLLIN)
            return WAIT_OBJECT_0;
        if (fds[1].revents & POLLIN)
            return WAIT_OBJECT_0 + 1;
        return WAIT_TIMEOUT;
    }
}

} // namespace quorvane
