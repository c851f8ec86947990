#include "serial/posix_notify.h"

#include <cerrno>
#include <cstdint>
#include <sys/eventfd.h>
#include <system_error>
#include <unistd.h>

namespace quorvane {

TMessageQueue::TMessageQueue(int eventFd, void (*discard)(const TMessage&))
    : fd_(eventFd), discard_(discard) {}

TMessageQueue::~TMessageQueue() {
    Close();
}

bool TMessageQueue::Post(const TMessage& message) {
    std::lock_guard lock(mutex_);
    if (closed_)
        return false;
    messages_.push_back(message);
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(fd_, &one, sizeof one);
    return true;
}

bool TMessageQueue::Take(TMessage& message) {
    std::lock_guard lock(mutex_);
    if (messages_.empty())
        return false;
    message = messages_.front();
    messages_.pop_front();
    return true;
}

void TMessageQueue::ClearSignal() {
    std::lock_guard lock(mutex_);
    if (closed_)
        return;
    std::uint64_t count;
    [[maybe_unused]] ssize_t n = ::read(fd_, &count, sizeof count);
}

void TMessageQueue::Close() {
    std::deque<TMessage> left;
    {
        std::lock_guard lock(mutex_);
        if (closed_)
            return;
        closed_ = true;
        left.swap(messages_);
        ::close(fd_);
    }
    if (discard_)
        for (const TMessage& message : left)
            discard_(message);
}

namespace {
int NewEventFd() {
    const int fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd < 0)
        throw std::system_error(errno, std::generic_category(), "eventfd");
    return fd;
}
} // namespace

TNotifyWindow::TNotifyWindow(TWndProc wndProc, void (*discard)(const TMessage&))
    : queue_(NewEventFd(), discard), wndProc_(std::move(wndProc)) {}

bool TNotifyWindow::PostMessage(DWORD msg, std::uintptr_t wParam, std::intptr_t lParam) {
    return queue_.Post(TMessage{msg, wParam, lParam, 0});
}

int TNotifyWindow::ProcessMessages() {
    queue_.ClearSignal();
    int count = 0;
    TMessage message;
    while (queue_.Take(message)) {
        wndProc_(message);
        ++count;
    }
    return count;
}

void TNotifyWindow::Destroy() {
    queue_.Close();
}

} // namespace quorvane
