#pragma once
// Posted messages on POSIX: a thread-safe queue with an eventfd that is readable while messages
// may be waiting. TNotifyWindow is the component's hidden window: the reader and writer post to
// it, and whoever owns the main loop watches Handle() and calls ProcessMessages, which hands
// every message, in posting order, to the window procedure on the calling thread.

#include "serial/posix_ops.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

namespace quorvane {

inline constexpr DWORD WM_USER = 0x0400;

struct TMessage {
    DWORD Msg = 0;
    std::uintptr_t WParam = 0;
    std::intptr_t LParam = 0;
    std::intptr_t Result = 0;
};

class TMessageQueue {
public:
    // Takes `eventFd` (non-blocking eventfd). `discard` is given every message still waiting when
    // the queue is closed, to release what it owns.
    TMessageQueue(int eventFd, void (*discard)(const TMessage&));
    ~TMessageQueue();
    TMessageQueue(const TMessageQueue&) = delete;
    TMessageQueue& operator=(const TMessageQueue&) = delete;

    // Appends a message; never blocks. False once the queue is closed.
    bool Post(const TMessage& message);
    // Takes the oldest message; false when there is none.
    bool Take(TMessage& message);
    // Clears the eventfd's readiness (call before taking what is waiting).
    void ClearSignal();
    int Handle() const { return fd_; }
    // Discards every waiting message; later posts fail.
    void Close();

private:
    std::mutex mutex_;
    std::deque<TMessage> messages_;
    int fd_;
    bool closed_ = false;
    void (*discard_)(const TMessage&);
};

class TNotifyWindow {
public:
    using TWndProc = std::function<void(TMessage&)>;
    // `discard` releases what a message still waiting at Destroy owns. Throws std::system_error
    // when the window's eventfd cannot be created.
    TNotifyWindow(TWndProc wndProc, void (*discard)(const TMessage&));

    // Queues a message and wakes the owner's loop through the eventfd; false once the window
    // is destroyed.
    bool PostMessage(DWORD msg, std::uintptr_t wParam, std::intptr_t lParam);
    // Readable while messages may be waiting.
    int Handle() const { return queue_.Handle(); }
    // Delivers every waiting message in posting order on the calling thread; answers how many.
    int ProcessMessages();
    // DestroyWindow: waiting messages are dropped (their blocks released), later posts fail.
    void Destroy();

private:
    TMessageQueue queue_;
    TWndProc wndProc_;
};

} // namespace quorvane
