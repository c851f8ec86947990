#pragma once
// Serial I/O that can be left pending on a non-blocking file descriptor: a read, a write and a
// line-error wait, each with a record whose event stays set while no operation of it is
// pending, and waits that end on the first set event of a list whose first entry is the stop
// eventfd. A wait drives the pending
// operations: it polls the port and the stop event together, so a stop is seen at once.
//
// A pending read ends when its buffer is full or when the line has been quiet for the read
// interval after its first byte; it waits for that first byte without limit. Line errors are
// the rises of the driver's frame, overrun and parity counters (TIOCGICOUNT); a driver without
// counters (a pseudo-terminal) never reports one.

#include "serial/posix_ops.h"

#include <cstdint>
#include <initializer_list>

namespace quorvane {

inline constexpr DWORD WAIT_OBJECT_0 = 0;
inline constexpr DWORD WAIT_TIMEOUT = 258;
inline constexpr DWORD WAIT_FAILED = 0xFFFFFFFF;

inline constexpr DWORD EV_ERR = 0x0080;
inline constexpr DWORD CE_RXOVER = 0x0001;
inline constexpr DWORD CE_OVERRUN = 0x0002;
inline constexpr DWORD CE_RXPARITY = 0x0004;
inline constexpr DWORD CE_FRAME = 0x0008;
inline constexpr DWORD CE_BREAK = 0x0010;

inline constexpr DWORD PURGE_TXABORT = 0x0001;
inline constexpr DWORD PURGE_RXABORT = 0x0002;
inline constexpr DWORD PURGE_TXCLEAR = 0x0004;
inline constexpr DWORD PURGE_RXCLEAR = 0x0008;

// Quiet time after the last byte that completes a pending read.
inline constexpr int kReadIntervalTimeoutMs = 250;
// How often the line-error counters are looked at while a line-error wait is pending on a
// driver that keeps them (they are also looked at whenever the port wakes the wait).
inline constexpr int kLineErrorSampleMs = 100;

// The line-event state of a port (its event mask and the counters it compares with).
struct TCommLine {
    DWORD Mask = 0;
    bool HasCounters = false;
    TLineCounters EventBase; // counters when the last line event was reported
    TLineCounters ClearBase; // counters when the error flags were last cleared
};

class TOverlapped {
public:
    virtual ~TOverlapped() = default;
    // The record's event: signalled while no operation of the record is pending.
    bool Event = true;
    DWORD Error = 0; // the completed operation's error (0: success)

    // What a wait asks poll for on the port while this record is pending (0: nothing).
    virtual short PollEvents() const { return 0; }
    // When the pending operation needs a look without the port waking (steady ms; -1 never).
    virtual std::int64_t Deadline() const { return -1; }
    // Drives the pending operation after a wake; `revents` are the port's.
    virtual void Advance(int fd, short revents, std::int64_t nowMs) = 0;

protected:
    void Complete(DWORD error) {
        Error = error;
        Event = true;
    }
};

class TReadOverlapped : public TOverlapped {
public:
    short PollEvents() const override;
    std::int64_t Deadline() const override;
    void Advance(int fd, short revents, std::int64_t nowMs) override;

private:
    friend bool ReadFile(int, void*, DWORD, DWORD*, TReadOverlapped&);
    friend bool GetOverlappedResult(TReadOverlapped&, DWORD*);
    unsigned char* buffer_ = nullptr;
    DWORD capacity_ = 0;
    DWORD got_ = 0;
    std::int64_t deadline_ = -1;
};

class TWriteOverlapped : public TOverlapped {
public:
    short PollEvents() const override;
    void Advance(int fd, short revents, std::int64_t nowMs) override;

private:
    friend bool WriteFile(int, const void*, DWORD, DWORD*, TWriteOverlapped&);
    friend bool GetOverlappedResult(TWriteOverlapped&, DWORD*);
    const unsigned char* data_ = nullptr;
    DWORD count_ = 0;
    DWORD written_ = 0;
};

class TCommEventOverlapped : public TOverlapped {
public:
    std::int64_t Deadline() const override;
    void Advance(int fd, short revents, std::int64_t nowMs) override;

private:
    friend bool WaitCommEvent(int, DWORD*, TCommEventOverlapped&, TCommLine&);
    bool Sample(int fd);
    DWORD* mask_ = nullptr;
    TCommLine* line_ = nullptr;
    std::int64_t nextSample_ = -1;
};

// The steady clock of the installed operations, in milliseconds.
std::int64_t SteadyMs();

// The event of a record: false with the last error set when it cannot be created.
bool CreateRecordEvent();

// Each answers true when the operation completed at once; false with the last error
// ERROR_IO_PENDING_CODE (EAGAIN) when it is pending, or another code when it failed.
bool ReadFile(int fd, void* buffer, DWORD count, DWORD* bytesRead, TReadOverlapped& record);
bool WriteFile(int fd, const void* data, DWORD count, DWORD* written, TWriteOverlapped& record);
bool WaitCommEvent(int fd, DWORD* mask, TCommEventOverlapped& record, TCommLine& line);

// The result of a completed operation (false with the last error set when it failed).
// Whether the record's operation has completed without an error (the last error says why not).
bool GetOverlappedResult(TOverlapped& record);
bool GetOverlappedResult(TReadOverlapped& record, DWORD* bytesRead);
bool GetOverlappedResult(TWriteOverlapped& record, DWORD* written);
bool GetOverlappedResult(TCommEventOverlapped& record);

// Sets the line events to watch (EV_ERR) and takes the counters as they are now.
bool SetCommMask(int fd, DWORD mask, TCommLine& line);
// The error flags (CE_*) raised since they were last cleared, and clears them.
bool ClearCommError(int fd, DWORD* errors, TCommLine& line);
// Discards what is buffered in the directions named by the PURGE_* flags.
bool PurgeComm(int fd, DWORD flags);

// A port let go while its threads are still ending (so that a dialer that starts meanwhile is
// not refused): what is buffered in both directions is discarded, and from then on reads and
// writes of it answer EAGAIN (a wait then sees the stop that came first) and purges do nothing,
// so nothing of what the next owner sends or receives goes to them. Waits for a read, write or
// purge under way. ForgetPort comes before the descriptor is closed.
void LetGoOfPort(int fd);
void ForgetPort(int fd);

// Sets a stop eventfd; it stays set until its owner closes it.
bool SetEvent(int event);
// Whether an eventfd is set, without waiting (poll with time-out 0): WAIT_OBJECT_0 when it is,
// WAIT_TIMEOUT when not, WAIT_FAILED when poll fails.
DWORD PollEvent(int event);

// Waits without limit, with poll on the port and the stop eventfd, until the stop is set or one
// of the records' pending operations completes: the index of the lowest set entry of
// [stopEvent, records...], WAIT_FAILED with the last error set, or WAIT_TIMEOUT when poll
// returns without cause.
DWORD WaitForPort(int stopEvent, int port, std::initializer_list<TOverlapped*> records);
// The same for two eventfds alone (the writer's stop event and queue): 0, 1, WAIT_FAILED or
// WAIT_TIMEOUT.
DWORD WaitForEvents(int first, int second);

} // namespace quorvane
